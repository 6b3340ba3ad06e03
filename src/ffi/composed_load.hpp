// The composed pipeline of loads and the annotated loads_all: the text is
// composed into the position-carrying round-trip tree, checked there
// (duplicate keys, 1.1 warnings, later the schema) and converted to annotated
// or plain Python objects.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "ffi/load_options.hpp"
#include "ffi/python.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::ffi {

// Every root of the stream, the file table their spans refer to, and the
// texts their views point into (kept as long as the roots are used).
struct ComposedRoots {
    std::vector<rt::YamlNode> roots;
    std::vector<std::string> file_paths;  // file id -> path; empty for a single text
    std::vector<std::unique_ptr<rt::TextStore>> stores;  // by file id; then texts of plain files composed again
    std::vector<bool> decoder_vouched;  // by file id: the decoder is known to accept the file (directive loads)
    bool merge_keys = true;  // false: no mapping key of the roots is a merge key
    bool has_aliases = true;  // false: no node of the roots is an alias
};

// Step 2, composing the root text. With a directive option: the directive
// loader, which composes every file the directives reach and fills the file
// table (its errors, syntax errors included, are directive errors). Without:
// the round-trip composer over `text` as file 0 (a syntax error is a
// TorvexParseError). Nothing, with the error set, on failure.
std::optional<ComposedRoots> compose_root_text(std::string text, const LoadOptions& options);

// The value decoder over every file of a directive load from `first` on
// (file ids below `paths.size()`) that `vouched` does not mark as accepted: the composer
// accepts some texts the decoder rejects (two anchors on one node, content
// after a document, a key without its colon), and a load must not give data
// for them. The first error is raised, with the file's path for an included
// file; false then.
bool surface_unvouched_errors(std::span<const std::unique_ptr<rt::TextStore>> stores,
                              const std::vector<std::string>& paths, const std::vector<bool>& vouched,
                              const DecodeOptions& decode, std::size_t first = 0);

// The decoder's options for a run that only reports errors: the load's
// resolution mode and complex-key switch, nothing else.
DecodeOptions error_only_decoding(const LoadOptions& options);

// loads through the composed pipeline (OPT_ANNOTATED or a directive option,
// without OPT_ROUND_TRIP): the first document, None for none.
PyObject* load_composed(std::string text, const LoadOptions& options);

// loads_all with OPT_ANNOTATED: every document, annotated, in stream order.
PyObject* load_composed_all(std::string text, const LoadOptions& options);

}  // namespace torvex::ffi
