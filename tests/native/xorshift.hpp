// A small deterministic generator for tests that sweep many random values:
// the same seed gives the same sequence on every machine.
#pragma once

#include <cstdint>

namespace torvex_test {

struct XorShift {
    std::uint64_t state;

    std::uint64_t next() noexcept {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

}  // namespace torvex_test
