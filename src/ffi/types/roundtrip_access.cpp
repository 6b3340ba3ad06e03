// Operations that documents, views and nodes share: borrows, item lookup,
// conversion of what a lookup finds, keys, walk, range and the edits.
#include <climits>
#include <string>
#include <vector>

#include "core/stack_guard.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/types/item_lookup.hpp"
#include "ffi/types/mapping_entries.hpp"
#include "ffi/types/roundtrip_objects.hpp"
#include "roundtrip/value.hpp"

namespace torvex::ffi {

SharedBorrow::SharedBorrow(DocumentObject* doc) noexcept : doc_(doc) {
    int seen = doc->borrow.load(std::memory_order_acquire);
    for (;;) {
        if (seen < 0) {
            PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
            doc_ = nullptr;
            return;
        }
        if (doc->borrow.compare_exchange_weak(seen, seen + 1, std::memory_order_acq_rel)) return;
    }
}

SharedBorrow::~SharedBorrow() {
    if (doc_ != nullptr) doc_->borrow.fetch_sub(1, std::memory_order_acq_rel);
}

ExclusiveBorrow::ExclusiveBorrow(DocumentObject* doc) noexcept : doc_(doc) {
    int expected = 0;
    if (!doc->borrow.compare_exchange_strong(expected, -1, std::memory_order_acq_rel)) {
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        doc_ = nullptr;
    }
}

ExclusiveBorrow::~ExclusiveBorrow() {
    if (doc_ != nullptr) doc_->borrow.store(0, std::memory_order_release);
}

namespace {

void raise_index_error() { PyErr_SetString(PyExc_IndexError, "index out of range"); }

void walk_into(NodeConverter& converter, const rt::YamlNode& node, std::vector<PyRef>& path, PyObject* out,
               bool& failed, std::size_t depth) {
    if (failed) return;
    if (!node.is_collection()) {
        PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(path.size())));
        if (!tuple) {
            failed = true;
            return;
        }
        for (std::size_t i = 0; i < path.size(); ++i) {
            PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), Py_NewRef(path[i].get()));
        }
        PyRef value = converter.value(node);
        PyRef entry = value ? PyRef::steal(PyTuple_Pack(2, tuple.get(), value.get())) : PyRef();
        if (!entry || PyList_Append(out, entry.get()) < 0) failed = true;
        return;
    }
    with_stack_at(depth, [&] {
        const bool mapping = node.kind == rt::NodeKind::Mapping;
        for (std::size_t i = 0; i < node.size() && !failed; ++i) {
            PyRef segment;
            if (mapping) {
                const rt::YamlNode& key = node.key(i);
                if (key.kind != rt::NodeKind::Scalar) continue;
                const std::string_view text = key.text.str();
                // A repeated key's earlier values are shadowed, as in a loaded dict.
                if (node.find_pair(text) != static_cast<std::ptrdiff_t>(i)) continue;
                segment = make_str(text);
            } else {
                segment = PyRef::steal(PyLong_FromSize_t(i));
            }
            if (!segment) {
                failed = true;
                return;
            }
            path.push_back(std::move(segment));
            walk_into(converter, mapping ? node.value(i) : node.children[i], path, out, failed, depth + 1);
            path.pop_back();
        }
    });
}

}  // namespace

PyRef item_of(PyObject* document, std::size_t root, const rt::NodePath& path, const rt::YamlNode& node,
              PyObject* key) {
    const rt::YamlNode& root_node = as_document(document)->doc->documents[root];
    NodeConverter converter(root_node);
    const auto found = find_item(root_node, path, node, key, converter);
    if (!found) return PyRef();
    return item_result(document, root, *found, converter);
}

PyRef value_of(const rt::YamlNode& root, const rt::YamlNode& node) {
    NodeConverter converter(root);
    return converter.value(node);
}

PyRef keys_of(const rt::YamlNode& root, const rt::YamlNode& node) {
    if (node.kind != rt::NodeKind::Mapping) {
        PyErr_SetString(PyExc_TypeError, "node is not a mapping");
        return PyRef();
    }
    NodeConverter converter(root);
    MappingEntries entries;
    if (!entries.read(converter, node)) return PyRef();
    return entries.key_list();
}

PyRef entries_of(PyObject* document, std::size_t root, const rt::NodePath& path, const rt::YamlNode& node,
                 EntryForm form) {
    if (node.kind != rt::NodeKind::Mapping) {
        PyErr_SetString(PyExc_TypeError, "node is not a mapping");
        return PyRef();
    }
    const rt::YamlNode& root_node = as_document(document)->doc->documents[root];
    NodeConverter converter(root_node);
    MappingEntries entries;
    if (!entries.read(converter, node)) return PyRef();
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(entries.size())));
    for (std::size_t i = 0; list && i < entries.size(); ++i) {
        PyRef value = item_result(document, root, entry_item(root_node, path, node, entries, i), converter);
        if (value && form == EntryForm::Pairs) value = PyRef::steal(PyTuple_Pack(2, entries.key(i), value.get()));
        if (!value) return value;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), value.release());
    }
    return list;
}

PyRef iteration_of(PyObject* document, std::size_t root, const rt::NodePath& path, const rt::YamlNode& node) {
    const rt::YamlNode& root_node = as_document(document)->doc->documents[root];
    if (node.kind == rt::NodeKind::Mapping) return keys_of(root_node, node);
    if (node.kind != rt::NodeKind::Sequence) {
        PyErr_SetString(PyExc_TypeError, "node is not a mapping or sequence");
        return PyRef();
    }
    NodeConverter converter(root_node);
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(node.children.size())));
    for (std::size_t i = 0; list && i < node.children.size(); ++i) {
        FoundItem found{&node.children[i], path, std::nullopt};
        found.path->push_back(rt::PathSegment::at(i));
        PyRef item = item_result(document, root, found, converter);
        if (!item) return item;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
}

const char* data_kind(const rt::YamlNode& root, const rt::YamlNode& node) {
    const rt::YamlNode* target = &node;
    if (node.kind == rt::NodeKind::Alias) target = rt::follow_aliases(&node, rt::AliasTargets(root));
    if (target != nullptr && target->kind == rt::NodeKind::Mapping) return "mapping";
    if (target != nullptr && target->kind == rt::NodeKind::Sequence) return "sequence";
    return "scalar";
}

PyRef walk_of(const rt::YamlNode& root, const rt::YamlNode& node) {
    PyRef out = PyRef::steal(PyList_New(0));
    if (!out) return out;
    NodeConverter converter(root);
    std::vector<PyRef> path;
    bool failed = false;
    walk_into(converter, node, path, out.get(), failed, 0);
    return failed ? PyRef() : std::move(out);
}

PyRef range_of(const rt::YamlNode& node) {
    return PyRef::steal(Py_BuildValue("(KKKK)", static_cast<unsigned long long>(node.span.line) + 1,
                                      static_cast<unsigned long long>(node.span.column) + 1,
                                      static_cast<unsigned long long>(node.end_line) + 1,
                                      static_cast<unsigned long long>(node.end_column) + 1));
}

namespace {

// The pairs of `mapping` whose key reads as a value equal to `key`, as a
// dict compares keys; nothing with the error set (an unhashable key among them).
std::optional<std::vector<std::size_t>> pairs_equal_to(const rt::YamlNode& root, const rt::YamlNode& mapping,
                                                       PyObject* key) {
    PyRef probe = PyRef::steal(PyDict_New());
    if (!probe || PyDict_SetItem(probe.get(), key, Py_None) < 0) return std::nullopt;
    NodeConverter converter(root);
    std::vector<std::size_t> pairs;
    for (std::size_t i = 0; i < mapping.size(); ++i) {
        PyRef written = converter.key(mapping.key(i));
        if (!written) return std::nullopt;
        const int equal = PyDict_Contains(probe.get(), written.get());
        if (equal < 0) return std::nullopt;
        if (equal > 0) pairs.push_back(i);
    }
    return pairs;
}

// The key node a new pair gets for a key that is not a str: written plain, so
// that it reads back as the key (None as `null`).
std::optional<rt::YamlNode> new_key_node(PyObject* key) {
    if (key == Py_None) return rt::new_plain_node("null");
    return to_node(key, true);
}

bool assign_by_value(rt::YamlNode& root, rt::YamlNode& mapping, PyObject* key, rt::YamlNode&& content) {
    const auto pairs = pairs_equal_to(root, mapping, key);
    if (!pairs) return false;
    if (!pairs->empty()) {
        rt::write_value(root, mapping.value(pairs->back()), std::move(content));
        return true;
    }
    auto key_node = new_key_node(key);
    if (!key_node) return false;
    rt::append_pair(mapping, std::move(*key_node), std::move(content));
    return true;
}

}  // namespace

bool assign_item(rt::YamlNode& root, rt::YamlNode& node, PyObject* key, rt::YamlNode&& content,
                 bool prefer_double_quotes) {
    if (node.kind == rt::NodeKind::Mapping) {
        if (!PyUnicode_Check(key)) return assign_by_value(root, node, key, std::move(content));
        const auto text = text_of(key);
        if (!text) return false;
        (void)rt::assign_key(root, node, *text, rt::new_string_node(*text, prefer_double_quotes), std::move(content),
                              prefer_double_quotes);
        return true;
    }
    if (node.kind == rt::NodeKind::Sequence) {
        const std::size_t index = PyLong_Check(key) ? sequence_index(key) : SIZE_MAX;
        if (rt::assign_index(root, node, index, std::move(content), prefer_double_quotes) != rt::EditOutcome::Done) {
            raise_index_error();
            return false;
        }
        return true;
    }
    PyErr_SetString(PyExc_TypeError, "node is not a mapping or sequence");
    return false;
}

bool delete_item(rt::YamlNode& root, rt::YamlNode& node, PyObject* key) {
    if (node.kind == rt::NodeKind::Mapping) {
        rt::EditOutcome outcome;
        if (PyUnicode_Check(key)) {
            const auto text = text_of(key);
            if (!text) return false;
            outcome = rt::delete_key(root, node, *text);
        } else {
            const auto pairs = pairs_equal_to(root, node, key);
            if (!pairs) return false;
            outcome = rt::delete_pairs(root, node, *pairs);
        }
        if (outcome != rt::EditOutcome::Done) {
            raise_key_error(key);
            return false;
        }
        return true;
    }
    if (node.kind == rt::NodeKind::Sequence) {
        const std::size_t index = PyLong_Check(key) ? sequence_index(key) : SIZE_MAX;
        if (rt::delete_index(root, node, index) != rt::EditOutcome::Done) {
            raise_index_error();
            return false;
        }
        return true;
    }
    PyErr_SetString(PyExc_TypeError, "node is not a mapping or sequence");
    return false;
}

const char* kind_name(const rt::YamlNode& node) noexcept {
    switch (node.kind) {
        case rt::NodeKind::Scalar: return "scalar";
        case rt::NodeKind::Sequence: return "sequence";
        case rt::NodeKind::Mapping: return "mapping";
        case rt::NodeKind::Alias: return "alias";
        case rt::NodeKind::Null: break;
    }
    return "null";
}

PyRef bytes_of(const std::string& text) {
    return PyRef::steal(PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

}  // namespace torvex::ffi
