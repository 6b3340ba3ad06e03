// A mapping of a round-trip document read as the dict a load makes of it:
// merge keys applied, and keys that are equal in Python (1, 1.0 and true; a
// key written twice) kept once, in the place of the first, with the value of
// the last. Iteration, keys(), items(), values() and lookups by keys other
// than str read through this, so they agree with to_dict().
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/py_ref.hpp"
#include "roundtrip/reading.hpp"

namespace torvex::ffi {

class MappingEntries {
public:
    // Reads `mapping` with `converter` (made for its root); false with the error set.
    bool read(NodeConverter& converter, const rt::YamlNode& mapping);

    std::size_t size() const noexcept { return keys_.size(); }
    PyObject* key(std::size_t i) const noexcept { return keys_[i].get(); }  // borrowed
    const rt::ReadEntry& entry(std::size_t i) const noexcept { return entries_[chosen_[i]]; }

    // The position of the key equal to `key`; nothing when none is (with the
    // error set when hashing or comparing `key` failed).
    std::optional<std::size_t> find(PyObject* key) const;

    // A list of the keys, in order.
    PyRef key_list() const;

private:
    std::vector<rt::ReadEntry> entries_;
    std::vector<PyRef> keys_;            // the first spelling of each key
    std::vector<std::size_t> chosen_;    // per key: the last entry with an equal key
    PyRef positions_;                    // dict: key -> position in keys_
};

}  // namespace torvex::ffi
