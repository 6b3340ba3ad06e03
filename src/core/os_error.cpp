#include "core/os_error.hpp"

#include <cstring>
#include <type_traits>

namespace torvex {

std::string os_error_text(int code) {
    char buffer[256];
    // The GNU strerror_r returns its text (maybe a static one); the XSI one fills the buffer.
    auto result = strerror_r(code, buffer, sizeof buffer);
    if constexpr (std::is_same_v<decltype(result), int>) {
        return result == 0 ? std::string(buffer) : "error " + std::to_string(code);
    } else {
        return result != nullptr ? std::string(result) : "error " + std::to_string(code);
    }
}

}  // namespace torvex
