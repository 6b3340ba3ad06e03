// Decoder options from one input byte, so a fuzz target covers every
// resolution mode and key policy: bits 0-1 the mode, then the duplicate-key
// error and warning, complex-key rejection and 1.1 warnings.
#pragma once

#include <cstdint>

#include "decode/decoder.hpp"

namespace torvex_fuzz {

inline torvex::DecodeOptions decode_options_from(std::uint8_t bits) {
    torvex::DecodeOptions o;
    o.mode = static_cast<torvex::ResolveMode>(bits % 3);
    o.duplicate_keys_error = bits & 0x04;
    o.duplicate_keys_warn = bits & 0x08;
    o.reject_complex_keys = bits & 0x10;
    o.yaml11_warnings = bits & 0x20;
    return o;
}

}  // namespace torvex_fuzz
