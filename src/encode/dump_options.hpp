// Settings of one YAML emission. The Python side fills them from the option
// word and the keyword arguments; the emitter reads nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvex {

// How null is written where YAML lets a value be left out: `Keyword` writes
// "null", `Empty` writes nothing after "key:" and "-" (and "null" wherever a
// flow form is needed), `Tilde` writes "~".
enum class NullStyle : std::uint8_t { Keyword, Empty, Tilde };

struct DumpOptions {
    unsigned indent = 2;               // nesting step of block mappings (values below 1 count as 2)
    std::size_t width = 0;             // folding width in bytes; 0: never fold
    NullStyle null_style = NullStyle::Empty;
    bool sort_keys = false;            // order mapping entries by the bytes of string keys
    bool flow_style = false;           // every collection in flow form
    bool indentless_sequences = false; // a sequence under a mapping key stands at the key's column
    bool double_quotes = true;         // preferred quote character
    bool explicit_start = false;       // "---" line first
    bool explicit_end = false;         // "..." line last
};

}  // namespace torvex
