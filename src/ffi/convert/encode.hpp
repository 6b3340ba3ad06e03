// Python objects to values: the conversion behind dumps and to_json. It runs
// attached to the interpreter because it may call user code (default, tags
// callbacks, isoformat, __fspath__, dataclass properties, __str__ of str
// subclasses); the emitters then write the result detached. The result is a
// tape (one node per value, in order) whose texts are copied into one buffer:
// no allocation per node, nothing to walk when it is freed, and nothing that
// depends on the Python objects staying alive.
#pragma once

#include <cstdint>

#include <vector>

#include "core/spare_buffer.hpp"
#include "decode/tape.hpp"
#include "ffi/python.hpp"

namespace torvex::ffi {

// Fixed for one call. The callables and the dict are borrowed from the call's arguments.
struct EncodeOptions {
    PyObject* default_fn = nullptr;  // callable(obj) for otherwise unsupported objects, or null
    PyObject* tags = nullptr;        // dict of exact type -> callable(obj), or null
    bool serialize_numpy = false;
    bool omit_microseconds = false;
    bool naive_utc = false;
    bool utc_z = false;
    bool passthrough_datetime = false;
    bool passthrough_dataclass = false;

    // The conversion bits of an option word; default and tags stay unset.
    static EncodeOptions from_option(std::uint64_t option) noexcept;
};

// Objects nested this deep (the argument being depth 0) are refused.
inline constexpr unsigned kMaxEncodeDepth = 1000;

// A converted object: its nodes, from index 0, and the texts they point into.
struct EncodedTape {
    Tape tape;
    std::vector<char> texts = SpareBuffer<char>::take();

    EncodedTape() = default;
    EncodedTape(const EncodedTape&) = delete;
    EncodedTape& operator=(const EncodedTape&) = delete;
    ~EncodedTape() { SpareBuffer<char>::give(texts); }
};

// Converts `obj` into `out`; false with the Python exception set
// (TorvexUnserializableError, TorvexEncodeError, or whatever user code raised).
// `depth` is how deep `obj` sits in a larger object being converted, for the
// nesting limit.
bool to_tape(PyObject* obj, const EncodeOptions& options, EncodedTape& out, unsigned depth = 0);

}  // namespace torvex::ffi
