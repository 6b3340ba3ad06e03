#include "ffi/types/item_lookup.hpp"

#include <climits>
#include <utility>

#include "ffi/types/mapping_entries.hpp"
#include "ffi/types/roundtrip_objects.hpp"

namespace torvex::ffi {

namespace {

// Whether some key of the mapping can read as a str other than its text
// (an alias, a collection, a null) or merge keys bring in keys of others:
// only then can a str that matches no key text still find a key.
bool str_may_hide(const rt::YamlNode& mapping, const NodeConverter& converter) {
    for (std::size_t i = 0; i < mapping.size(); ++i) {
        const rt::YamlNode& key = mapping.key(i);
        if (key.kind != rt::NodeKind::Scalar || converter.reader().is_merge_key(key)) return true;
    }
    return false;
}

std::optional<FoundItem> in_sequence(const rt::NodePath& path, const rt::YamlNode& node, PyObject* key) {
    if (!PyLong_Check(key)) {
        if (PyUnicode_Check(key)) {
            PyErr_SetString(PyExc_IndexError, "index out of range");
        } else {
            PyErr_SetString(PyExc_TypeError, "mapping keys must be str or int");
        }
        return std::nullopt;
    }
    const std::size_t index = sequence_index(key);
    if (index >= node.children.size()) {
        PyErr_SetString(PyExc_IndexError, "index out of range");
        return std::nullopt;
    }
    FoundItem found{&node.children[index], path, std::nullopt};
    found.path->push_back(rt::PathSegment::at(index));
    return found;
}

}  // namespace

void raise_key_error(PyObject* key) {
    PyRef text = PyRef::steal(PyObject_Str(key));
    if (text) PyErr_SetObject(PyExc_KeyError, text.get());
}

std::size_t sequence_index(PyObject* key) {
    const Py_ssize_t index = PyLong_AsSsize_t(key);
    if (index == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return SIZE_MAX;
    }
    return index < 0 ? SIZE_MAX : static_cast<std::size_t>(index);
}

std::optional<std::string_view> text_of(PyObject* str) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size);
    if (utf8 == nullptr) return std::nullopt;
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

FoundItem entry_item(const rt::YamlNode& root, const rt::NodePath& path, const rt::YamlNode& mapping,
                     const MappingEntries& entries, std::size_t i) {
    const rt::ReadEntry& entry = entries.entry(i);
    FoundItem found{entry.value, std::nullopt, entry.items};
    const rt::YamlNode* first = mapping.children.data();
    if (entry.value >= first && entry.value < first + mapping.children.size()) {
        // One of the mapping's own pairs.
        const auto pair = static_cast<std::size_t>(entry.value - first) / 2;
        if (auto segment = rt::pair_segment(mapping, pair)) {
            found.path = path;
            found.path->push_back(std::move(*segment));
        }
    } else {
        found.path = rt::path_to(root, entry.value);  // merged: where it is written
    }
    return found;
}

std::optional<FoundItem> find_item(const rt::YamlNode& root, const rt::NodePath& path, const rt::YamlNode& node,
                                   PyObject* key, NodeConverter& converter) {
    if (node.kind == rt::NodeKind::Sequence) return in_sequence(path, node, key);
    if (node.kind != rt::NodeKind::Mapping) {
        raise_key_error(key);
        return std::nullopt;
    }
    if (PyUnicode_Check(key)) {
        const auto text = text_of(key);
        if (!text) return std::nullopt;
        const std::ptrdiff_t pair = node.find_pair(*text);
        if (pair >= 0) {
            FoundItem found{&node.value(static_cast<std::size_t>(pair)), path, std::nullopt};
            found.path->push_back(rt::PathSegment::named(*text));
            return found;
        }
        if (const rt::YamlNode* merged = rt::find_merged(node, *text, rt::AliasTargets(root))) {
            return FoundItem{merged, rt::path_to(root, merged), std::nullopt};
        }
        if (!str_may_hide(node, converter)) {
            raise_key_error(key);
            return std::nullopt;
        }
    }
    MappingEntries entries;
    if (!entries.read(converter, node)) return std::nullopt;
    const auto at = entries.find(key);
    if (!at) {
        if (!PyErr_Occurred()) raise_key_error(key);
        return std::nullopt;
    }
    return entry_item(root, path, node, entries, *at);
}

PyRef item_result(PyObject* document, std::size_t root_index, const FoundItem& found, NodeConverter& converter) {
    if (found.items) {
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(found.items->size())));
        for (std::size_t i = 0; list && i < found.items->size(); ++i) {
            PyRef item = converter.value(*(*found.items)[i]);
            if (!item) return item;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
        }
        return list;
    }
    const rt::YamlNode* target = converter.alias_target(*found.node);
    if (target == nullptr) return PyRef::borrow(Py_None);
    if (!target->is_collection()) return converter.value(*target);
    std::optional<rt::NodePath> where;
    if (target != found.node) {
        // An alias: the view addresses the node that defines the anchor, so
        // reads and edits through it see that node.
        const rt::YamlNode& root = as_document(document)->doc->documents[root_index];
        where = rt::path_to(root, target);
    }
    if (!where) where = found.path;
    // A collection no path reaches (under a key written twice) reads as a snapshot.
    if (!where) return converter.value(*target);
    return new_view(document, root_index, std::move(*where));
}

int contains_item(const rt::YamlNode& root, const rt::YamlNode& node, PyObject* key) {
    NodeConverter converter(root);
    if (node.kind == rt::NodeKind::Sequence) {
        for (const rt::YamlNode& item : node.children) {
            PyRef value = converter.value(item);
            if (!value) return -1;
            const int equal = PyObject_RichCompareBool(value.get(), key, Py_EQ);
            if (equal != 0) return equal;
        }
        return 0;
    }
    if (node.kind != rt::NodeKind::Mapping) return 0;
    const rt::NodePath none;
    if (find_item(root, none, node, key, converter)) return 1;
    // A key that is not there, or that cannot be a key at all (unhashable), is not in it.
    if (PyErr_ExceptionMatches(PyExc_KeyError) || PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        return 0;
    }
    return -1;
}

}  // namespace torvex::ffi
