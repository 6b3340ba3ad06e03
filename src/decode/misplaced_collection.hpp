// Names the slip behind a block collection that stands where the next entry
// of a block mapping (a key) or of a block sequence (a `-`) should: a `: `
// inside a plain value, a key or sequence entry that lines up with none of
// the enclosing collections, a tab among the indentation. The parser asks
// only once it has met such a token, so none of this is on the way of a
// text that loads.
#pragma once

#include <cstddef>
#include <optional>

#include "core/error.hpp"
#include "scanner/token.hpp"

namespace torvex {

// `entry`: index of the token where the next entry should start (the
// previous entry's value ends just before it); `start`: the block
// MappingStart or SequenceStart found there (for anything else: nothing).
// Nothing, too, when the collection lines up with the one before it (a
// sequence and a mapping mixed at one indentation): the caller's own
// message fits that.
std::optional<Error> explain_misplaced_collection(const TokenList& tokens, std::size_t entry, std::size_t start);

}  // namespace torvex
