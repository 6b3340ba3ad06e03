// Paths to nodes of composed trees: every node a path can reach is found
// again by that path, also below keys whose text cannot select their pair
// (collections, aliases, nulls, a text another style repeats), and only
// pairs shadowed by a later pair written the same way have no path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/stack_guard.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/path.hpp"
#include "suite_cases.hpp"

namespace torvex::rt {
namespace {

// The roots point into the stream's text store, so the whole stream is kept.
ComposedStream compose(const std::string& text) {
    auto composed = compose_stream(text, 0, false);
    EXPECT_TRUE(composed.ok()) << text;
    return composed.ok() ? std::move(composed.value()) : ComposedStream{};
}

// Whether a later pair of `mapping` has the key of pair `pair` written the same way.
bool shadowed(const YamlNode& mapping, std::size_t pair) {
    const std::string form = written_form(mapping.key(pair));
    for (std::size_t later = pair + 1; later < mapping.size(); ++later) {
        if (written_form(mapping.key(later)) == form) return true;
    }
    return false;
}

// Every value below `node` that no shadowed pair hides is found again by its path.
void expect_addressable(const YamlNode& root, const YamlNode& node, bool hidden, const std::string& name,
                        std::size_t depth = 0) {
    const auto path = path_to(root, &node);
    if (!hidden) {
        ASSERT_TRUE(path.has_value()) << name;
        EXPECT_EQ(resolve_path(root, *path), &node) << name;
    }
    with_stack_at(depth, [&] {
        if (node.kind == NodeKind::Sequence) {
            for (const YamlNode& item : node.children) expect_addressable(root, item, hidden, name, depth + 1);
        } else if (node.kind == NodeKind::Mapping) {
            for (std::size_t i = 0; i < node.size(); ++i) {
                expect_addressable(root, node.value(i), hidden || shadowed(node, i), name, depth + 1);
            }
        }
    });
}

TEST(RoundtripPaths, KeysOfEveryKindAddressTheirPair) {
    const ComposedStream stream = compose("1: a\n\"1\": b\n[x]: c\n? {k: v}\n: d\n&n name: e\n*n : f\n[x]: g\n: h\n");
    ASSERT_EQ(stream.roots.size(), 1U);
    const YamlNode& mapping = stream.roots[0];
    ASSERT_EQ(mapping.size(), 8U);
    std::vector<bool> named;
    for (std::size_t i = 0; i < mapping.size(); ++i) {
        const auto segment = pair_segment(mapping, i);
        if (i == 2) {  // `[x]` is written again later, which takes its place
            EXPECT_FALSE(segment.has_value());
            continue;
        }
        ASSERT_TRUE(segment.has_value()) << i;
        EXPECT_EQ(find_segment_pair(mapping, *segment), static_cast<std::ptrdiff_t>(i)) << i;
        named.push_back(!segment->written);
    }
    // By text: `"1"` (the last pair with that text) and `name`; by written form: `1`, collections, alias, null.
    EXPECT_EQ(named, (std::vector<bool>{false, true, false, true, false, false, false}));
}

TEST(RoundtripPaths, DeletingPairsByPositionDetachesTheirAliases) {
    ComposedStream stream = compose("a: &x [1]\nb: 2\nc: *x\n");
    YamlNode& mapping = stream.roots[0];
    ASSERT_EQ(delete_pairs(mapping, mapping, {0, 1}), EditOutcome::Done);
    ASSERT_EQ(mapping.size(), 1U);
    EXPECT_EQ(mapping.value(0).kind, NodeKind::Sequence);  // the alias became a copy of what it stood for
    EXPECT_EQ(delete_pairs(mapping, mapping, {}), EditOutcome::KeyMissing);
}

TEST(RoundtripPaths, EverySuiteNodeIsFoundAgainByItsPath) {
    for (const auto& suite_case : testing_suite::suite_cases()) {
        if (suite_case.error) continue;
        const ComposedStream stream = compose(testing_suite::read_file(suite_case.dir / "in.yaml"));
        for (const YamlNode& root : stream.roots) expect_addressable(root, root, false, suite_case.name);
    }
}

}  // namespace
}  // namespace torvex::rt
