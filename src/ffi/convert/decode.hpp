// Values to Python objects: the plain conversion of a decoded document.
#pragma once

#include <string_view>

#include "decode/tape.hpp"
#include "ffi/convert/key_cache.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi {

// One per converted document.
struct DecodeContext {
    PyObject* tags = nullptr;         // borrowed dict of tag text -> callable, or null
    PyObject* tag_handler = nullptr;  // borrowed callable(tag, value), or null
    bool passthrough = false;         // keep unknown tags as TorvexTag
    KeyCache keys;
};

// A str of UTF-8 text (the engine's texts are valid UTF-8).
PyRef make_str(std::string_view text);

// Big integers arrive as source text; YAML 1.1 may leave "_" separators in
// it. An int, or the cleaned text as a str when CPython refuses it.
PyRef make_big_int(std::string_view text);

// After a failed insertion into a loaded mapping: TorvexDecodeError "mapping
// key is not hashable in Python" replaces the error; false.
[[gnu::cold]] bool mapping_key_unhashable();

// dict[key] = value for a loaded mapping; false with the error set when the
// key cannot go in. Inline: every entry of every load comes through here.
inline bool set_mapping_item(PyObject* dict, PyObject* key, PyObject* value) {
    return PyDict_SetItem(dict, key, value) == 0 || mapping_key_unhashable();
}

// Whether a tag reaches user code or a TorvexTag rather than being dropped.
bool tag_is_handled(std::string_view tag, const DecodeContext& context);

// A tagged node's converted inner value, given to: a `tags` entry, else the
// tag handler, else a TorvexTag with passthrough; else kept alone.
PyRef apply_tag(std::string_view tag_text, PyRef inner, DecodeContext& context);

// The subtree of `tape` at `root`, which must hold no merge markers, as a new
// reference, or a null PyRef with the Python error set.
PyRef to_python(const Tape& tape, std::size_t root, DecodeContext& context);

}  // namespace torvex::ffi
