#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <vector>

#include "decode/value.hpp"

namespace torvex {
namespace {

Value nested_sequences(std::size_t depth) {
    Value v = Value::integer(1);
    for (std::size_t i = 0; i < depth; ++i) {
        Sequence items;
        items.push_back(std::move(v));
        v = Value::sequence(std::move(items));
    }
    return v;
}

// One value of every kind, with heap-owning payloads where the kind has them.
std::vector<Value> one_of_each_kind() {
    std::vector<Value> values;
    values.push_back(Value::null());
    values.push_back(Value::boolean(true));
    values.push_back(Value::integer(-7));
    values.push_back(Value::big_int("123456789012345678901234567890"));
    values.push_back(Value::floating(2.5));
    values.push_back(Value::string("a string long enough to live on the heap"));
    values.push_back(Value::sequence({Value::string("item that is also on the heap"), Value::integer(1)}));
    Mapping m;
    m.push_back({Value::string("key that is also on the heap"), Value::sequence({Value::null()})});
    values.push_back(Value::mapping(std::move(m)));
    values.push_back(Value::tagged("!t", Value::string("tagged text, long enough for the heap")));
    return values;
}

// Every kind replaced by every other through the setters, moves and copies:
// the old contents are released exactly once (the sanitizer run checks) and
// the new ones are intact.
TEST(ValueTree, EveryKindReplacesEveryKind) {
    const std::vector<Value> kinds = one_of_each_kind();
    for (const Value& from : kinds) {
        for (const Value& to : kinds) {
            SCOPED_TRACE(static_cast<int>(from.kind()) * 10 + static_cast<int>(to.kind()));
            Value copied = from;
            copied = to;
            EXPECT_EQ(copied, to);
            Value moved = from;
            Value source = to;
            moved = std::move(source);
            EXPECT_EQ(moved, to);
            EXPECT_TRUE(source.is_null()) << "a moved-from assignment source is left null";
            Value built(to);
            Value taken(std::move(built));
            EXPECT_EQ(taken, to);
        }
        Value v = from;
        v.set_string("set in place, long enough to need the heap");
        EXPECT_EQ(v, Value::string("set in place, long enough to need the heap"));
        v = from;
        v.set_int(3);
        EXPECT_EQ(v, Value::integer(3));
        v = from;
        v = Value::sequence({Value::string("pushed item, long enough for the heap")});
        EXPECT_EQ(v, Value::sequence({Value::string("pushed item, long enough for the heap")}));
        v = from;
        v = Value::mapping(Mapping{{Value::integer(1), Value::boolean(false)}});
        EXPECT_EQ(v.as_mapping().size(), 1u);
        v = from;
        v.set_null();
        EXPECT_TRUE(v.is_null());
    }
}

// Assigning a value its own descendant keeps the descendant alive until it is taken.
TEST(ValueTree, AssignFromOwnDescendant) {
    Value v = Value::sequence({Value::sequence({Value::string("inner text, long enough for the heap")})});
    v = std::move(v.as_sequence()[0]);
    EXPECT_EQ(v, Value::sequence({Value::string("inner text, long enough for the heap")}));
    v = v.as_sequence()[0];
    EXPECT_EQ(v, Value::string("inner text, long enough for the heap"));
}

TEST(ValueTree, KeepsPayloadsExactly) {
    EXPECT_EQ(Value::big_int("123456789012345678901234567890").big_int_text(), "123456789012345678901234567890");
    EXPECT_TRUE(std::isnan(Value::floating(NAN).as_float()));
    EXPECT_TRUE(std::signbit(Value::floating(-0.0).as_float()));
    Mapping m;
    m.push_back({Value::string("a"), Value::integer(1)});
    m.push_back({Value::string("a"), Value::integer(2)});
    EXPECT_EQ(Value::mapping(m).as_mapping().size(), 2u) << "duplicate keys stay in the tree";
}

TEST(ValueTree, CopyIsDeepAndIndependent) {
    Value original = Value::tagged("!t", Value::sequence({Value::string("x")}));
    Value copy = original;
    copy.as_tagged().inner->as_sequence()[0].as_string() = "changed";
    EXPECT_EQ(original.as_tagged().inner->as_sequence()[0].as_string(), "x");
    EXPECT_FALSE(copy == original);
    EXPECT_EQ(original.node_count(), 3u);
}

TEST(ValueTree, EqualityDistinguishesVariants) {
    EXPECT_FALSE(Value::integer(1) == Value::floating(1.0));
    EXPECT_FALSE(Value::string("1") == Value::integer(1));
    EXPECT_TRUE(Value::null() == Value());
    EXPECT_FALSE(Value::floating(NAN) == Value::floating(NAN));
}

void* deep_tree_on_small_stack(void* arg) {
    auto* ok = static_cast<bool*>(arg);
    Value deep = nested_sequences(200000);
    Value copy = deep;
    *ok = (copy == deep) && copy.node_count() == 200001;
    return nullptr;  // both trees are destroyed here, on a 256 KiB stack
}

TEST(ValueTree, DeepTreesCopyCompareAndDropOnSmallStack) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    bool ok = false;
    ASSERT_EQ(pthread_create(&thread, &attr, deep_tree_on_small_stack, &ok), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_TRUE(ok);
}

}  // namespace
}  // namespace torvex
