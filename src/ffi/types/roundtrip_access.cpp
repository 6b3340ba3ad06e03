// Operations that documents, views and nodes share: borrows, item lookup,
// conversion of what a lookup finds, keys, walk, range and the edits.
#include <climits>
#include <string>
#include <vector>

#include "core/stack_guard.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/convert/roundtrip_values.hpp"
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

PyRef key_text_object(PyObject* key) { return PyRef::steal(PyObject_Str(key)); }

// KeyError whose message is str(key).
void raise_key_error(PyObject* key) {
    PyRef text = key_text_object(key);
    if (text) PyErr_SetObject(PyExc_KeyError, text.get());
}

void raise_index_error() { PyErr_SetString(PyExc_IndexError, "index out of range"); }

std::optional<std::string_view> str_key(PyObject* key) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
    if (utf8 == nullptr) return std::nullopt;
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

// The text of a key that edits a mapping: a str, else TypeError.
std::optional<std::string_view> mapping_key(PyObject* key) {
    if (!PyUnicode_Check(key)) {
        PyErr_SetString(PyExc_TypeError, "mapping keys must be str");
        return std::nullopt;
    }
    return str_key(key);
}

// A non-negative int that fits; anything else is no index any sequence has.
std::size_t index_of(PyObject* key) {
    const Py_ssize_t index = PyLong_AsSsize_t(key);
    if (index == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return SIZE_MAX;
    }
    return index < 0 ? SIZE_MAX : static_cast<std::size_t>(index);
}

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

bool segment_from_key(PyObject* key, rt::PathSegment& out) {
    if (PyUnicode_Check(key)) {
        const auto text = str_key(key);
        if (!text) return false;
        out = rt::PathSegment::named(*text);
        return true;
    }
    if (PyLong_Check(key)) {
        out = rt::PathSegment::at(index_of(key));
        return true;
    }
    PyErr_SetString(PyExc_TypeError, "mapping keys must be str or int");
    return false;
}

PyRef item_of(PyObject* document, std::size_t root, const rt::NodePath& path, const rt::YamlNode& node,
              PyObject* key) {
    rt::PathSegment segment;
    if (!segment_from_key(key, segment)) return PyRef();
    const rt::YamlNode* found = nullptr;
    if (node.kind == rt::NodeKind::Sequence) {
        if (segment.is_index && segment.index < node.children.size()) found = &node.children[segment.index];
        if (found == nullptr) {
            raise_index_error();
            return PyRef();
        }
    } else if (node.kind == rt::NodeKind::Mapping && !segment.is_index) {
        const std::ptrdiff_t pair = node.find_pair(segment.key);
        if (pair >= 0) found = &node.value(static_cast<std::size_t>(pair));
    }
    const rt::YamlNode& root_node = as_document(document)->doc->documents[root];
    if (found == nullptr && node.kind == rt::NodeKind::Mapping && !segment.is_index) {
        found = rt::find_merged(node, segment.key, rt::AliasTargets(root_node));  // `<<: *base` entries
        if (found != nullptr) {
            // Reads and edits through it reach the node where it is written.
            if (found->is_collection()) {
                if (auto written = rt::path_to(root_node, found)) {
                    return new_view(document, root, std::move(*written));
                }
            }
            return NodeConverter(root_node).value(*found);
        }
    }
    if (found == nullptr) {
        raise_key_error(key);
        return PyRef();
    }
    NodeConverter converter(root_node);
    const rt::YamlNode* target = converter.alias_target(*found);
    if (target == nullptr) return PyRef::borrow(Py_None);
    if (!target->is_collection()) return converter.value(*target);
    rt::NodePath child_path;
    if (target != found) {
        // An alias: the view addresses the node that defines the anchor, so
        // reads and edits through it see that node.
        if (auto anchored = rt::path_to(root_node, target)) child_path = std::move(*anchored);
    }
    if (target == found || child_path.empty()) {
        child_path = path;
        child_path.push_back(std::move(segment));
    }
    return new_view(document, root, std::move(child_path));
}

bool contains_key(const rt::YamlNode& node, PyObject* key) {
    if (node.kind != rt::NodeKind::Mapping || !PyUnicode_Check(key)) return false;
    const auto text = str_key(key);
    if (!text) {
        PyErr_Clear();
        return false;
    }
    return node.find_pair(*text) >= 0;
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
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(node.size())));
    if (!list) return list;
    for (std::size_t i = 0; i < node.size(); ++i) {
        PyRef key = converter.key(node.key(i));
        if (!key) return key;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), key.release());
    }
    return list;
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

bool assign_item(rt::YamlNode& root, rt::YamlNode& node, PyObject* key, rt::YamlNode&& content,
                 bool prefer_double_quotes) {
    if (node.kind == rt::NodeKind::Mapping) {
        const auto text = mapping_key(key);
        if (!text) return false;
        (void)rt::assign_key(root, node, *text, rt::new_string_node(*text, prefer_double_quotes), std::move(content),
                              prefer_double_quotes);
        return true;
    }
    if (node.kind == rt::NodeKind::Sequence) {
        const std::size_t index = PyLong_Check(key) ? index_of(key) : SIZE_MAX;
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
        const auto text = mapping_key(key);
        if (!text) return false;
        if (rt::delete_key(root, node, *text) != rt::EditOutcome::Done) {
            raise_key_error(key);
            return false;
        }
        return true;
    }
    if (node.kind == rt::NodeKind::Sequence) {
        const std::size_t index = PyLong_Check(key) ? index_of(key) : SIZE_MAX;
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
