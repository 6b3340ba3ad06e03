#include "ffi/convert/roundtrip_values.hpp"

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/stack_guard.hpp"
#include "encode/float_text.hpp"
#include "ffi/convert/decode.hpp"
#include "roundtrip/value.hpp"

namespace torvex::ffi {

namespace {

PyRef scalar_value(const rt::YamlNode& node, const Resolved& r) {
    switch (r.kind) {
        case ResolvedKind::Null: return PyRef::borrow(Py_None);
        case ResolvedKind::Bool: return PyRef::borrow(r.boolean ? Py_True : Py_False);
        case ResolvedKind::Int: return PyRef::steal(PyLong_FromLongLong(r.integer));
        case ResolvedKind::BigInt: return make_big_int(node.text.str());
        case ResolvedKind::Float: return PyRef::steal(PyFloat_FromDouble(r.floating));
        case ResolvedKind::Str:
        case ResolvedKind::Merge: break;
    }
    return make_str(node.text.str());
}

// ---- Python values to nodes ----

bool is_numpy_bool(PyObject* value) {
    const char* name = Py_TYPE(value)->tp_name;
    return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

class NodeBuilder {
public:
    explicit NodeBuilder(bool prefer_double_quotes) : prefer_double_(prefer_double_quotes) {}

    std::optional<rt::YamlNode> convert(PyObject* value, unsigned depth) {
        if (value == Py_None) return rt::new_null_node();
        if (PyBool_Check(value)) return rt::new_plain_node(value == Py_True ? "true" : "false");
        if (is_numpy_bool(value)) {
            const int truth = PyObject_IsTrue(value);
            if (truth < 0) return std::nullopt;
            return rt::new_plain_node(truth ? "true" : "false");
        }
        if (PyLong_Check(value)) return integer(value);
        if (PyFloat_Check(value)) {
            char text[kFloatTextMax];
            const std::size_t n = yaml_float_text(PyFloat_AS_DOUBLE(value), text);
            return rt::new_plain_node(std::string_view(text, n));
        }
        if (PyUnicode_Check(value)) {
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
            if (utf8 == nullptr) return std::nullopt;
            return rt::new_string_node(std::string_view(utf8, static_cast<std::size_t>(size)), prefer_double_);
        }
        if (PyDict_Check(value) || PyList_Check(value)) {
            if (depth + 1 >= kMaxAssignDepth) {
                PyErr_SetString(PyExc_ValueError, "value is too deeply nested to assign (possible self-reference)");
                return std::nullopt;
            }
            return with_stack_at(depth, [&] { return PyDict_Check(value) ? dict(value, depth) : list(value, depth); });
        }
        PyErr_Format(PyExc_TypeError, "cannot convert %s to a YAML node", Py_TYPE(value)->tp_name);
        return std::nullopt;
    }

private:
    std::optional<rt::YamlNode> integer(PyObject* value) {
        int overflow = 0;
        const long long small = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (overflow == 0) {
            if (small == -1 && PyErr_Occurred()) return std::nullopt;
            return rt::new_plain_node(std::to_string(small));
        }
        // Beyond 64 bits: the exact int's own decimal text, whatever a subclass's __str__ says.
        PyRef text = PyRef::steal(PyLong_Type.tp_str(value));
        if (!text) return std::nullopt;
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
        if (utf8 == nullptr) return std::nullopt;
        return rt::new_plain_node(std::string_view(utf8, static_cast<std::size_t>(size)));
    }

    // The items are taken in one step (a consistent snapshot even while
    // another thread changes the container), then converted.
    std::optional<rt::YamlNode> list(PyObject* value, unsigned depth) {
        PyRef items = PyRef::steal(PyList_GetSlice(value, 0, PY_SSIZE_T_MAX));
        if (!items) return std::nullopt;
        rt::YamlNode node = rt::new_collection(rt::NodeKind::Sequence);
        const Py_ssize_t size = PyList_GET_SIZE(items.get());
        node.children.reserve(static_cast<std::size_t>(size));
        for (Py_ssize_t i = 0; i < size; ++i) {
            auto item = convert(PyList_GET_ITEM(items.get(), i), depth + 1);
            if (!item) return std::nullopt;
            node.children.push_back(std::move(*item));
        }
        return node;
    }

    std::optional<rt::YamlNode> dict(PyObject* value, unsigned depth) {
        PyRef pairs = PyRef::steal(PyDict_Items(value));
        if (!pairs) return std::nullopt;
        rt::YamlNode node = rt::new_collection(rt::NodeKind::Mapping);
        const Py_ssize_t size = PyList_GET_SIZE(pairs.get());
        node.children.reserve(2 * static_cast<std::size_t>(size));
        for (Py_ssize_t i = 0; i < size; ++i) {
            PyObject* pair = PyList_GET_ITEM(pairs.get(), i);
            auto k = convert(PyTuple_GET_ITEM(pair, 0), depth + 1);
            if (!k) return std::nullopt;
            auto v = convert(PyTuple_GET_ITEM(pair, 1), depth + 1);
            if (!v) return std::nullopt;
            node.children.push_back(std::move(*k));
            node.children.push_back(std::move(*v));
        }
        return node;
    }

    bool prefer_double_;
};

}  // namespace

NodeConverter::NodeConverter(const rt::YamlNode& root) : reader_(root, ResolveMode::Yaml12) {}

PyRef NodeConverter::value(const rt::YamlNode& node, std::size_t depth) {
    switch (node.kind) {
        case rt::NodeKind::Scalar:
        case rt::NodeKind::Null: return scalar_value(node, reader_.resolve(node));
        case rt::NodeKind::Alias: return alias(node, depth, false);
        case rt::NodeKind::Sequence:
        case rt::NodeKind::Mapping: break;
    }
    if (!node.anchor.empty()) {
        if (const auto found = shared_.find(&node); found != shared_.end()) return PyRef::borrow(found->second.get());
    }
    PyRef made = with_stack_at(depth, [&] {
        return node.kind == rt::NodeKind::Sequence ? sequence(node, depth) : mapping(node, depth);
    });
    if (made && !node.anchor.empty()) shared_.emplace(&node, PyRef::borrow(made.get()));
    return made;
}

PyRef NodeConverter::key(const rt::YamlNode& node, std::size_t depth) {
    switch (node.kind) {
        case rt::NodeKind::Scalar:
        case rt::NodeKind::Null: return scalar_value(node, reader_.resolve(node));
        case rt::NodeKind::Alias: return alias(node, depth, true);
        case rt::NodeKind::Sequence:
        case rt::NodeKind::Mapping: break;
    }
    return with_stack_at(depth, [&]() -> PyRef {
        const bool pairs = node.kind == rt::NodeKind::Mapping;
        const std::size_t size = node.size();
        PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(size)));
        if (!tuple) return tuple;
        for (std::size_t i = 0; i < size; ++i) {
            PyRef item;
            if (pairs) {
                PyRef k = key(node.key(i), depth + 1);
                if (!k) return k;
                PyRef v = key(node.value(i), depth + 1);
                if (!v) return v;
                item = PyRef::steal(PyTuple_Pack(2, k.get(), v.get()));
            } else {
                item = key(node.children[i], depth + 1);
            }
            if (!item) return item;
            PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item.release());
        }
        return tuple;
    });
}

PyRef NodeConverter::alias(const rt::YamlNode& node, std::size_t depth, bool as_key) {
    const rt::YamlNode* target = reader_.follow(node);
    if (target == nullptr) return PyRef::borrow(Py_None);
    return with_stack_at(depth, [&] { return as_key ? key(*target, depth + 1) : value(*target, depth + 1); });
}

PyRef NodeConverter::sequence(const rt::YamlNode& node, std::size_t depth) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(node.children.size())));
    if (!list) return list;
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        PyRef item = value(node.children[i], depth + 1);
        if (!item) return item;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
}

PyRef NodeConverter::mapping(const rt::YamlNode& node, std::size_t depth) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return dict;
    const auto set = [&](const rt::YamlNode& k_node, PyRef v) {
        if (!v) return false;
        PyRef k = key(k_node, depth + 1);
        return k && PyDict_SetItem(dict.get(), k.get(), v.get()) == 0;
    };
    if (!reader_.has_merge_keys(node)) {
        for (std::size_t i = 0; i < node.size(); ++i) {
            if (!set(node.key(i), value(node.value(i), depth + 1))) return PyRef();
        }
        return dict;
    }
    // Merge keys read as the plain loader reads them.
    for (const rt::ReadEntry& entry : reader_.entries(node, depth)) {
        PyRef v;
        if (entry.items) {
            v = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(entry.items->size())));
            for (std::size_t i = 0; v && i < entry.items->size(); ++i) {
                PyRef item = value(*(*entry.items)[i], depth + 1);
                if (!item) return item;
                PyList_SET_ITEM(v.get(), static_cast<Py_ssize_t>(i), item.release());
            }
        } else {
            v = value(*entry.value, depth + 1);
        }
        if (!set(*entry.key, std::move(v))) return PyRef();
    }
    return dict;
}

const rt::YamlNode* NodeConverter::alias_target(const rt::YamlNode& node) { return reader_.follow(node); }

std::optional<rt::YamlNode> to_node(PyObject* value, bool prefer_double_quotes) {
    NodeBuilder builder(prefer_double_quotes);
    return builder.convert(value, 0);
}

}  // namespace torvex::ffi
