// The fuzz targets' check: a property that does not hold ends the run, so
// libFuzzer saves the input that broke it.
#pragma once

#include <cstdlib>

namespace torvex_fuzz {

inline void require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace torvex_fuzz
