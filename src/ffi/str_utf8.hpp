// A str's UTF-8 text where it can be read without asking the interpreter to
// make it: a compact ASCII str's own bytes, or the form it already holds.
#pragma once

#include <cstddef>
#include <string_view>

#include "ffi/python.hpp"

namespace torvex::ffi {

// The text of a str known to be compact ASCII, which is its own UTF-8: its
// bytes follow the object header, where PyUnicode_DATA would find them after
// testing again what the caller has just tested.
inline std::string_view ascii_text(PyObject* str) noexcept {
    return {reinterpret_cast<const char*>(reinterpret_cast<const PyASCIIObject*>(str) + 1),
            static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))};
}

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
