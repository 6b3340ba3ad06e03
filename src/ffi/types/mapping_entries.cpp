#include "ffi/types/mapping_entries.hpp"

#include <utility>

namespace torvex::ffi {

bool MappingEntries::read(NodeConverter& converter, const rt::YamlNode& mapping) {
    entries_ = converter.reader().entries(mapping);
    positions_ = PyRef::steal(PyDict_New());
    if (!positions_) return false;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        PyRef key = converter.key(*entries_[i].key);
        if (!key) return false;
        PyObject* seen = nullptr;
        const int found = PyDict_GetItemRef(positions_.get(), key.get(), &seen);
        if (found < 0) return false;
        if (found > 0) {
            // An equal key: it keeps its first place and takes this value, as in a dict.
            const Py_ssize_t at = PyLong_AsSsize_t(seen);
            Py_DECREF(seen);
            chosen_[static_cast<std::size_t>(at)] = i;
            continue;
        }
        PyRef position = PyRef::steal(PyLong_FromSize_t(keys_.size()));
        if (!position || PyDict_SetItem(positions_.get(), key.get(), position.get()) < 0) return false;
        keys_.push_back(std::move(key));
        chosen_.push_back(i);
    }
    return true;
}

std::optional<std::size_t> MappingEntries::find(PyObject* key) const {
    PyObject* seen = nullptr;
    if (PyDict_GetItemRef(positions_.get(), key, &seen) <= 0) return std::nullopt;
    const Py_ssize_t at = PyLong_AsSsize_t(seen);
    Py_DECREF(seen);
    return static_cast<std::size_t>(at);
}

PyRef MappingEntries::key_list() const {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(keys_.size())));
    if (!list) return list;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(keys_[i].get()));
    }
    return list;
}

}  // namespace torvex::ffi
