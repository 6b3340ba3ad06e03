// The document as the validator reads it: a flat table of typed nodes built
// from a composed round-trip root. Scalars are resolved once (tags through
// the document's %TAG lines, the load's resolution mode), aliases are
// expanded into copies, and merge keys are applied the way the plain decoder
// applies them, so the validator checks the same shape loads returns.
//
// Alias expansion is bounded: an alias nested more than kMaxAliasDepth copies
// deep, one met after kMaxCopiedNodes nodes were copied, or one whose anchor
// does not exist reads as null at the alias's position. The top node of a
// copy takes the alias's position; the nodes below keep their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/span.hpp"
#include "decode/tape.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/ast.hpp"
#include "schema/schema.hpp"

namespace torvex::schema {

inline constexpr std::uint32_t kMaxAliasDepth = 100;
inline constexpr std::uint64_t kMaxCopiedNodes = 1'000'000;

struct Instance {
    InstanceType type = InstanceType::Null;
    bool boolean = false;
    bool big = false;         // Integer given as `text` (beyond 64 bits)
    bool scalar = false;      // not an array or object (keys: whether the member counts)
    std::int64_t integer = 0;
    double number = 0.0;
    std::string_view text;    // scalars: the decoded text (strings, big integers, keys)
    const Span* span = nullptr;
    std::uint32_t first = 0;  // Array: items at [first, first + count); Object: key, value pairs from first
    std::uint32_t count = 0;  // items, or members
};

struct InstanceTree {
    std::vector<Instance> nodes;  // the root at 0
    std::uint64_t copied = 0;     // nodes made by alias copies
};

// Builds the tree of one document root. Texts point into the root's tree,
// which must outlive the result.
InstanceTree build_instance_tree(const rt::YamlNode& root, ResolveMode mode);

// The same tree from the decoder's tape of one document (aliases already
// copied, merge keys applied, scalars resolved), for a quick verdict before
// any tree with positions is composed: every span is a placeholder at the
// start of the text. Nothing when a mapping has a key other than a string,
// whose source text the tape does not keep.
std::optional<InstanceTree> build_instance_tree(const Tape& tape, std::size_t root);

}  // namespace torvex::schema
