// Included files read through the plain decoder instead of being composed.
//
// A load that gives plain Python objects (no annotations, no schema, no round
// trip) reads the tree only through the converter. A file it includes that
// has no `!` byte holds no directive and no tag, so nothing in it needs the
// composed tree: its documents stay on the decoder's tape, and the tree holds
// a null standing for each piece a directive places (its source's `plain`);
// the converter reads the tape there. The file is composed as before whenever
// the decoder reports anything (an error or a warning, under the load's own
// duplicate-key and 1.1 options) or the file holds anchors or merge keys, so
// every error and warning is the composed load's, with its positions and
// include stack. Where the tree itself is read at such a null (an alias may
// reach it, a merge key takes its entries), PlainContentComposer composes it
// after all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "decode/decoder.hpp"
#include "decode/tape.hpp"
#include "directives/loader.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt {

// One file's decoded documents.
struct PlainFile {
    std::uint32_t id = 0;  // in the load's file table
    DecodedTape stream;    // its texts point into the file's text there
};

// What a null left for a plain file stands for, and where that content
// stands in the file's composed documents.
struct PlainContent {
    enum class Step : std::uint8_t { Root, Item, Value };

    std::shared_ptr<const PlainFile> file;
    std::size_t index = 0;     // the subtree on file->stream.tape
    std::size_t document = 0;  // the document holding it
    Step step = Step::Root;    // that document's root, or one of its items or entry values
    std::size_t position = 0;  // Item: the item's number; Value: the entry's
    bool placed = false;       // positioned at the directive (a secret's value), not where it was read
    bool carrier = false;      // the node's source exists only to hold this
};

}  // namespace torvex::rt

namespace torvex::directives::detail {

// The file `text` (its text in the file table, as file `id`) on the plain
// decoder's tape, or null where it must be composed.
std::shared_ptr<const rt::PlainFile> read_plain(std::string_view text, std::uint32_t id, const DecodeOptions& options);

// What a null stands for: the subtree at `index` of `file`, found in the
// file's composed documents at `document` and `step`.
std::shared_ptr<const rt::PlainContent> plain_content(const std::shared_ptr<const rt::PlainFile>& file,
                                                      std::size_t index, std::size_t document,
                                                      rt::PlainContent::Step step = rt::PlainContent::Step::Root,
                                                      std::size_t position = 0, bool placed = false,
                                                      bool carrier = false);

// A null standing for that content, with a source of its own to hold it (a
// directive's result holds it in the directive's source instead).
rt::YamlNode plain_node(const std::shared_ptr<const rt::PlainFile>& file, std::size_t index, std::size_t document,
                        rt::PlainContent::Step step = rt::PlainContent::Step::Root, std::size_t position = 0);

// Each item of the sequence at `index` (a tape root), in order.
template <class Visit>
void for_each_item(const Tape& tape, std::size_t index, Visit&& visit) {
    const std::size_t count = tape.nodes[index].size();
    std::size_t at = index + 1;
    for (std::size_t i = 0; i < count; ++i) {
        visit(i, at);
        at = tape.end_of(at);
    }
}

// Each entry (pair number, key index, value index) of the mapping at `index`, in order.
template <class Visit>
void for_each_entry(const Tape& tape, std::size_t index, Visit&& visit) {
    const std::size_t count = tape.nodes[index].size();
    std::size_t at = index + 1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t value = tape.end_of(at);
        visit(i, at, value);
        at = tape.end_of(value);
    }
}

}  // namespace torvex::directives::detail

namespace torvex::directives::detail {

// Composes, in place, the content a null left for a plain file stands for,
// as the composed load would have placed it there; each file is composed
// once, its store added to `load.extra_stores`.
class PlainContentComposer {
public:
    explicit PlainContentComposer(DirectiveLoad& load) : load_(load) {}

    Result<void> compose(rt::YamlNode& node);

    // Composes every such null at or below an anchored node or a merge key's
    // value under `node`, so that aliases and merges read it as the composed
    // load does; `needed`: every one under `node`.
    Result<void> compose_where_read(rt::YamlNode& node, bool needed, std::size_t depth);

private:
    Result<const std::vector<rt::YamlNode>*> documents(std::uint32_t id);

    DirectiveLoad& load_;
    std::map<std::uint32_t, std::vector<rt::YamlNode>> composed_;
};

}  // namespace torvex::directives::detail
