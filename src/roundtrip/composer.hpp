// The round-trip composer: one source text -> its document roots, straight
// from the scanner's token list (comments recorded), then the comments and
// blank lines attached to the nodes they belong to.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/result.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt {

struct ComposedStream {
    std::vector<YamlNode> roots;
    // The text and the scanner's arena that the roots' texts point into;
    // whoever keeps the roots keeps this too.
    std::unique_ptr<TextStore> store;
    // True when the composer met nothing the value decoder could refuse (no
    // directive, tag, stray token, unknown alias, expansion or depth near
    // the decoder's limits, entry the two read differently): the decoder
    // would accept the same tokens, so a caller that runs it only to report
    // its errors can skip it. False says nothing either way.
    bool decoder_accepts = false;
    // Whether any node has a tag: without one, no node is a directive.
    bool has_tags = true;
    // Whether any node is an alias: without one, a reader meets each node
    // once and no node is looked up again, so a subtree can go once read.
    bool has_aliases = true;
    // Whether a mapping key may be a merge key: the text holds a plain `<<`,
    // a tag that names merge, or a directive (a %TAG line may spell one).
    bool merge_keys = true;
};

// Composes `text` (valid UTF-8), stamping `file_id` on every span. A syntax
// error comes back as the scanner reported it. Without `with_comments` no
// comment, blank line or spacing is recorded (for readers of the data and
// positions only).
Result<ComposedStream> compose_stream(std::string text, std::uint32_t file_id, bool with_comments = true);

// The same over a text already tokenized into `store` (its token list made
// from its own text, with comments recorded when `with_comments`), for a
// caller that runs the value decoder over the same tokens. The token records
// are freed unless `keep_tokens` (the caller frees them once done).
ComposedStream compose_tokenized(std::unique_ptr<TextStore> store, bool with_comments, bool keep_tokens = false);

}  // namespace torvex::rt
