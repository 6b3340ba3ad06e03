// TorvexNode: a handle onto any single node of a document, scalars
// included, so that its source position, style, anchor, tag, comments and
// provenance stay reachable. Indexing a node gives the node below it.
#include <atomic>
#include <string>

#include "ffi/boundary.hpp"
#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/once.hpp"
#include "ffi/types/handle.hpp"
#include "ffi/types/roundtrip_objects.hpp"

namespace torvex::ffi {

namespace {

std::atomic<PyObject*> g_node_type{nullptr};

constexpr const char* kStale = "stale node";

PyObject* text_or_none(std::string_view text, bool present) {
    if (!present) Py_RETURN_NONE;
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
}

// Runs `read(node, handle)` on the resolved node under a shared borrow.
template <class F>
PyObject* with_node(PyObject* self, F&& read) {
    return guarded([&]() -> PyObject* {
        HandleRead handle(self, kStale);
        if (!handle.ok()) return nullptr;
        return read(*handle.node, handle);
    });
}

PyObject* node_value(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& node, HandleRead& h) { return value_of(h.root(), node).release(); });
}

int node_set_value(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) {
        PyErr_SetString(PyExc_AttributeError, "cannot delete a node's value");
        return -1;
    }
    PyObject* ok = guarded([&]() -> PyObject* {
        const bool prefer_double = as_document(handle_document(self))->doc->prefer_double_quotes;
        auto content = to_node(value, prefer_double);
        if (!content) return nullptr;
        HandleWrite write(self, kStale);
        if (!write.ok()) return nullptr;
        rt::write_value(*write.node, std::move(*content));
        return Py_None;
    });
    return ok ? 0 : -1;
}

PyObject* node_line(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) {
        return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(n.span.line) + 1);
    });
}

PyObject* node_column(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) {
        return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(n.span.column) + 1);
    });
}

PyObject* node_offset(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) { return PyLong_FromUnsignedLongLong(n.span.offset); });
}

PyObject* node_end_offset(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) { return PyLong_FromUnsignedLongLong(n.end_offset); });
}

PyObject* node_file(PyObject* self, void*) {
    return with_node(self, [self](const rt::YamlNode& n, HandleRead&) {
        const auto& paths = as_document(handle_document(self))->doc->file_paths;
        if (n.span.file_id >= paths.size()) Py_RETURN_NONE;
        return text_or_none(paths[n.span.file_id], true);
    });
}

PyObject* node_comment(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) {
        const auto& comment = n.comments.inline_comment();
        return text_or_none(comment ? comment->str() : std::string_view(), comment.has_value());
    });
}

PyObject* node_comment_before(PyObject* self, void*) {
    return with_node(self, [self](const rt::YamlNode& n, HandleRead& h) {
        // A mapping value's comment lines stand above its key.
        const rt::YamlNode* holder = &n;
        const rt::NodePath& path = *as_handle(self)->path;
        if (!path.empty() && !path.back().is_index) {
            rt::NodePath parent_path(path.begin(), path.end() - 1);
            const rt::YamlNode* parent = rt::resolve_path(h.root(), parent_path);
            const std::ptrdiff_t pair = parent != nullptr ? parent->find_pair(path.back().key) : -1;
            if (pair >= 0) holder = &parent->key(static_cast<std::size_t>(pair));
        }
        const auto& head = holder->comments.head();
        if (head.empty()) Py_RETURN_NONE;
        std::string joined;
        for (std::size_t i = 0; i < head.size(); ++i) {
            if (i) joined += '\n';
            joined += head[i].str();
        }
        return text_or_none(joined, true);
    });
}

const char* style_name(const rt::YamlNode& n) {
    switch (n.kind) {
        case rt::NodeKind::Scalar:
            switch (n.scalar_style) {
                case ScalarStyle::Plain: return "plain";
                case ScalarStyle::SingleQuoted: return "single";
                case ScalarStyle::DoubleQuoted: return "double";
                case ScalarStyle::Literal: return "literal";
                case ScalarStyle::Folded: return "folded";
            }
            return "plain";
        case rt::NodeKind::Sequence:
        case rt::NodeKind::Mapping: return n.style == rt::CollectionStyle::Flow ? "flow" : "block";
        case rt::NodeKind::Alias: return "alias";
        case rt::NodeKind::Null: break;
    }
    return "null";
}

PyObject* node_style(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) { return PyUnicode_FromString(style_name(n)); });
}

PyObject* node_anchor(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) { return text_or_none(n.anchor.str(), !n.anchor.empty()); });
}

PyObject* node_tag(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) { return text_or_none(n.tag.str(), !n.tag.empty()); });
}

bool is_custom_tag(std::string_view tag) { return !tag.empty() && !tag.starts_with("!!") && !tag.starts_with("tag:yaml.org,2002:"); }

PyObject* node_source_tag(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) {
        if (n.source) return text_or_none(n.source->tag, true);
        return text_or_none(n.tag.str(), is_custom_tag(n.tag.str()));
    });
}

PyObject* node_source_target(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) {
        return n.source ? text_or_none(n.source->target, true) : Py_NewRef(Py_None);
    });
}

template <bool (*Test)(const rt::YamlNode&)>
PyObject* node_flag(PyObject* self, void*) {
    return with_node(self, [](const rt::YamlNode& n, HandleRead&) { return PyBool_FromLong(Test(n)); });
}

bool source_is_secret(const rt::YamlNode& n) { return n.source && n.source->tag == "!secret"; }
bool source_is_env_var(const rt::YamlNode& n) { return n.source && n.source->tag == "!env_var"; }
bool source_is_include(const rt::YamlNode& n) {
    if (!n.source) return false;
    const std::string& t = n.source->tag;
    return t == "!include" || t == "!include_dir_list" || t == "!include_dir_named" ||
           t == "!include_dir_merge_list" || t == "!include_dir_merge_named";
}
bool node_is_alias(const rt::YamlNode& n) { return n.kind == rt::NodeKind::Alias; }

// node[key]: the node below, through an alias to the node its anchor defines.
PyObject* node_subscript(PyObject* self, PyObject* key) {
    return guarded([&]() -> PyObject* {
        rt::PathSegment segment;
        if (!segment_from_key(key, segment)) return nullptr;
        rt::NodePath path;
        {
            HandleRead read(self, kStale);
            if (!read.ok()) return nullptr;
            const rt::YamlNode* node = read.node;
            path = *as_handle(self)->path;
            if (node->kind == rt::NodeKind::Alias) {
                const rt::YamlNode* target = read.target();
                auto anchored = target != node ? rt::path_to(read.root(), target) : std::nullopt;
                if (anchored) {
                    node = target;
                    path = std::move(*anchored);
                }
            }
            const bool found = segment.is_index
                                   ? node->kind == rt::NodeKind::Sequence && segment.index < node->children.size()
                                   : node->find_pair(segment.key) >= 0;
            if (!found) {
                if (node->kind == rt::NodeKind::Sequence) {
                    PyErr_SetString(PyExc_IndexError, "index out of range");
                } else {
                    PyRef text = PyRef::steal(PyObject_Str(key));
                    if (text) PyErr_SetObject(PyExc_KeyError, text.get());
                }
                return nullptr;
            }
        }
        path.push_back(std::move(segment));
        return new_node(handle_document(self), as_handle(self)->root, std::move(path)).release();
    });
}

int node_contains(PyObject* self, PyObject* key) {
    HandleRead read(self, kStale);
    if (!read.ok()) return -1;
    return contains_key(*read.target(), key) ? 1 : 0;
}

PyObject* node_repr(PyObject* self) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, nullptr);
        if (!read.ok()) return read.stale() ? PyUnicode_FromString("TorvexNode(<stale>)") : nullptr;
        return PyUnicode_FromFormat("TorvexNode(%s)", kind_name(*read.node));
    });
}

PyGetSetDef g_node_getset[] = {
    {"value", node_value, node_set_value, "The node as plain Python objects; assigning replaces its content.", nullptr},
    {"line", node_line, nullptr, "1-based line where the node starts.", nullptr},
    {"column", node_column, nullptr, "1-based column (in characters) where the node starts.", nullptr},
    {"offset", node_offset, nullptr, "0-based byte offset where the node starts.", nullptr},
    {"end_offset", node_end_offset, nullptr, "0-based byte offset just past the node's source text.", nullptr},
    {"file", node_file, nullptr, "Path of the file the node was read from, or None.", nullptr},
    {"comment", node_comment, nullptr, "The comment trailing the node on its line, or None.", nullptr},
    {"comment_before", node_comment_before, nullptr,
     "The comment lines above the node (above its key for a mapping value), or None.", nullptr},
    {"style", node_style, nullptr,
     "'plain', 'single', 'double', 'literal', 'folded', 'block', 'flow', 'alias' or 'null'.", nullptr},
    {"anchor", node_anchor, nullptr, "The anchor name the node defines, or None.", nullptr},
    {"tag", node_tag, nullptr, "The node's tag as written, or None.", nullptr},
    {"source_tag", node_source_tag, nullptr, "The directive or custom tag that produced the node, or None.", nullptr},
    {"source_target", node_source_target, nullptr, "The directive's argument, or None.", nullptr},
    {"is_secret", node_flag<source_is_secret>, nullptr, "Produced by !secret.", nullptr},
    {"is_env_var", node_flag<source_is_env_var>, nullptr, "Produced by !env_var.", nullptr},
    {"is_include", node_flag<source_is_include>, nullptr, "Produced by an include directive.", nullptr},
    {"is_alias", node_flag<node_is_alias>, nullptr, "The node is an alias.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_node_slots[] = {
    {Py_tp_doc, const_cast<char*>("A handle onto one node of a TorvexDocument: its value, source position, style,\n"
                                  "anchor, tag, comments and provenance. Index it to reach the nodes below.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(node_repr)},
    {Py_tp_getset, g_node_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(node_subscript)},
    {Py_sq_contains, reinterpret_cast<void*>(node_contains)},
    {0, nullptr},
};

PyType_Spec g_node_spec = {
    "torvex.TorvexNode",
    sizeof(HandleObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    g_node_slots,
};

}  // namespace

PyObject* node_type() {
    return cached_once(g_node_type, [] { return PyRef::steal(PyType_FromSpec(&g_node_spec)); });
}

PyRef new_node(PyObject* document, std::size_t root, rt::NodePath path) {
    return new_handle(node_type(), document, root, std::move(path));
}

}  // namespace torvex::ffi
