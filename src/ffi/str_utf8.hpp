// A str's UTF-8 form as the interpreter may already hold it.
#pragma once

#include <cstddef>
#include <string_view>

#include "ffi/python.hpp"

namespace torvex::ffi {

// The UTF-8 form the interpreter keeps inside a non-ASCII str once something
// asked for it, if it has one. Read, never made: making it costs an
// allocation and the memory of a second copy for the str's lifetime. (The
// form is published with a release store once complete.)
inline bool cached_utf8(PyObject* str, std::string_view& text) noexcept {
    if (!PyUnicode_IS_COMPACT(str)) return false;
    auto* compact = reinterpret_cast<PyCompactUnicodeObject*>(str);
    const char* utf8 = __atomic_load_n(&compact->utf8, __ATOMIC_ACQUIRE);
    if (utf8 == nullptr) return false;
    text = std::string_view(utf8, static_cast<std::size_t>(compact->utf8_length));
    return true;
}

}  // namespace torvex::ffi
