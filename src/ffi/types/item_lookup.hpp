// Finding what a key selects in a mapping or sequence of a round-trip
// document, and what item access, iteration, items() and values() give for
// it. A str key matches a scalar key by its text (then through merge keys);
// any other key matches the key that reads as an equal Python value, as in
// the dict a load makes; an int indexes a sequence.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/py_ref.hpp"
#include "roundtrip/path.hpp"

namespace torvex::ffi {

class MappingEntries;

// KeyError whose message is str(key).
void raise_key_error(PyObject* key);
// A non-negative int that fits; anything else is no index any sequence has.
std::size_t sequence_index(PyObject* key);
// The UTF-8 text of a str; nothing with the error set.
std::optional<std::string_view> text_of(PyObject* str);

// A value a key selects.
struct FoundItem {
    const rt::YamlNode* node = nullptr;  // as written (an alias stays one)
    std::optional<rt::NodePath> path;    // where a handle can address it, if anywhere
    // For a `<<` entry whose merged sequence held non-mappings: the items kept.
    std::optional<std::vector<const rt::YamlNode*>> items;
};

// What `key` selects in `node` (at `path` below `root`); nothing with
// KeyError, IndexError or TypeError set when it selects nothing.
std::optional<FoundItem> find_item(const rt::YamlNode& root, const rt::NodePath& path, const rt::YamlNode& node,
                                   PyObject* key, NodeConverter& converter);

// The value of entry `i` of a mapping read as a dict.
FoundItem entry_item(const rt::YamlNode& root, const rt::NodePath& path, const rt::YamlNode& mapping,
                     const MappingEntries& entries, std::size_t i);

// What item access gives for a found value: a view (on `document`, from
// `root_index`) for a collection, aliases followed to the node the anchor
// defines, or the value as plain Python objects.
PyRef item_result(PyObject* document, std::size_t root_index, const FoundItem& found, NodeConverter& converter);

// `key in node`: for a mapping, whether item access finds the key; for a
// sequence, whether an item equals `key`; -1 with the error set.
int contains_item(const rt::YamlNode& root, const rt::YamlNode& node, PyObject* key);

}  // namespace torvex::ffi
