// Trees composed into the thread's arena (read-only loads) behave as heap
// trees do: same content, children that move, grow, clone and die on any
// thread, and a nested session (a load inside a tag handler) leaves the
// outer session's trees intact. Under the sanitizers, a vector released to
// the wrong place fails here.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "roundtrip/composer.hpp"
#include "roundtrip/node_memory.hpp"

namespace torvex::rt {
namespace {

const std::string kText =
    "base: &b {host: h, port: 1, tags: [a, b, c]}\n"
    "list:\n- *b\n- [1, [2, [3, [4]]]]\n- {x: {y: {z: w}}}\n"
    "---\n- one\n- two: [three]\n";

// The kinds and texts of a tree, preorder.
void describe(const YamlNode& node, std::string& out) {
    out += std::to_string(static_cast<int>(node.kind));
    out += node.text.str();
    out += '(';
    for (const YamlNode& child : node.children) describe(child, out);
    out += ')';
}

std::string describe_all(const ComposedStream& stream) {
    std::string out;
    for (const YamlNode& root : stream.roots) describe(root, out);
    return out;
}

ComposedStream compose(bool with_comments) {
    auto composed = compose_stream(kText, 0, with_comments);
    EXPECT_TRUE(composed.ok());
    return std::move(composed).value();
}

const std::string& expected() {
    static const std::string text = describe_all(compose(true));
    return text;
}

TEST(NodeMemory, ArenaTreesReadAsHeapTreesAndSurviveEdits) {
    const NodeArenaSession session;
    ComposedStream stream = compose(false);
    ASSERT_EQ(describe_all(stream), expected());
    // Grow an arena vector (its memory moves to the heap), move one between
    // trees, clone one: all of it released as the tree dies.
    YamlNode& list = stream.roots[0].value(1);
    for (int i = 0; i < 100; ++i) list.children.push_back(YamlNode::scalar(Text::owned("more"), ScalarStyle::Plain));
    NodeList moved = std::move(stream.roots[1].children);
    stream.roots[1].children = std::move(moved);
    const YamlNode copy = stream.roots[0].clone();
    std::string a, b;
    describe(copy, a);
    describe(stream.roots[0], b);
    EXPECT_EQ(a, b);
}

TEST(NodeMemory, NestedSessionsLeaveOuterTreesIntact) {
    const NodeArenaSession outer;
    ComposedStream first = compose(false);
    for (int round = 0; round < 3; ++round) {
        const NodeArenaSession inner;
        ComposedStream nested = compose(false);
        EXPECT_EQ(describe_all(nested), expected());
    }
    // Were the arena reset by an inner session, the nested trees would have
    // been written over this one.
    EXPECT_EQ(describe_all(first), expected());
}

TEST(NodeMemory, ArenaTreesMayDieOnAnotherThread) {
    const NodeArenaSession session;
    ComposedStream stream = compose(false);
    std::thread([moved = std::move(stream)]() mutable { moved.roots.clear(); }).join();
    EXPECT_EQ(describe_all(compose(false)), expected());
}

TEST(NodeMemory, TreesWithCommentsOrOutsideSessionsOutliveSessions) {
    ComposedStream with_comments;
    ComposedStream outside = compose(false);
    {
        const NodeArenaSession session;
        with_comments = compose(true);
    }
    {
        // A later session reuses the arena: the trees above must not be in it.
        const NodeArenaSession session;
        ComposedStream overwrite = compose(false);
        EXPECT_EQ(describe_all(overwrite), expected());
    }
    EXPECT_EQ(describe_all(with_comments), expected());
    EXPECT_EQ(describe_all(outside), expected());
}

}  // namespace
}  // namespace torvex::rt
