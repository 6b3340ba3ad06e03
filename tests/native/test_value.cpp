#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>

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
