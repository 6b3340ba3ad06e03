// A decoded tape and the places of its nodes to annotated Python objects:
// the annotated load of a text without directives that the direct reader
// reads whole. It gives exactly what the composed pipeline gives for the
// same text (annotate.cpp), without a token list or a tree.
#pragma once

#include <cstddef>
#include <vector>

#include "decode/tape.hpp"
#include "ffi/convert/annotated_scalars.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi {

struct PlacedConversion {
    bool annotate_numbers = false;  // OPT_ANNOTATE_NUMBERS
    DecodeContext* context = nullptr;  // tags, the tag handler and passthrough
    ConversionShared* shared = nullptr;
};

// The subtree at `root` (no merge markers), `places` holding a place for
// every node of `tape`: a new reference, or a null PyRef with the error set.
PyRef convert_placed(const Tape& tape, const std::vector<TapePlace>& places, std::size_t root,
                     const PlacedConversion& options);

}  // namespace torvex::ffi
