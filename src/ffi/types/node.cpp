// TorvexNode: a handle onto any single node of a document, scalars
// included, so that its source position, style, anchor, tag, comments and
// provenance stay reachable. Indexing a node gives the node below it.
#include <atomic>
#include <string>

#include "ffi/boundary.hpp"
#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/once.hpp"
#include "ffi/types/handle.hpp"
#include "ffi/types/item_lookup.hpp"
#include "ffi/types/roundtrip_objects.hpp"
#include "roundtrip/new_content.hpp"
#include "roundtrip/node_edits.hpp"

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
        if (write.parent) {
            rt::fit_new_content(write.root(), *write.parent, write.node, *content, nullptr, prefer_double);
        }
        rt::write_value(write.root(), *write.node, std::move(*content));
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

// The UTF-8 text of a str argument, None as nothing; TypeError naming the
// argument otherwise.
bool text_argument(PyObject* value, const char* what, std::optional<std::string_view>& out) {
    if (value == nullptr || value == Py_None) {
        out.reset();
        return true;
    }
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be str or None, not %T", what, value);
        return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
    if (utf8 == nullptr) return false;
    out = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

// Runs `edit(node, write)` on the resolved node under the exclusive borrow.
template <class F>
int edit_node(PyObject* self, F&& edit) {
    PyObject* ok = guarded([&]() -> PyObject* {
        HandleWrite write(self, kStale);
        if (!write.ok()) return nullptr;
        return edit(*write.node, write) ? Py_None : nullptr;
    });
    return ok ? 0 : -1;
}

int node_set_comment(PyObject* self, PyObject* value, void*) {
    std::optional<std::string_view> text;
    if (!text_argument(value, "argument 'text'", text)) return -1;
    if (text) {
        if (auto problem = rt::inline_comment_problem(*text)) {
            PyErr_SetString(PyExc_ValueError, problem->c_str());
            return -1;
        }
    }
    return edit_node(self, [&](rt::YamlNode& node, HandleWrite&) {
        rt::remember_extent(node);  // what stood there is no longer what it has
        if (text) {
            node.comments.texts().inline_comment = rt::Text::owned(*text);
            // A comment the node did not have before stands two spaces off, as linters expect.
            if (node.comments.inline_spaces == 0) node.comments.inline_spaces = 2;
        } else if (node.comments.has_texts()) {
            node.comments.texts().inline_comment.reset();
        }
        node.comments.modified = true;
        return true;
    });
}

int node_set_comment_before(PyObject* self, PyObject* value, void*) {
    std::optional<std::string_view> text;
    if (!text_argument(value, "argument 'text'", text)) return -1;
    std::vector<rt::Text> lines;
    if (text) {
        std::string problem;
        auto split = rt::head_comment_lines(*text, problem);
        if (!split) {
            PyErr_SetString(PyExc_ValueError, problem.c_str());
            return -1;
        }
        lines = std::move(*split);
    }
    return edit_node(self, [&](rt::YamlNode& node, HandleWrite& write) {
        // A mapping value's comment lines stand above its key.
        rt::YamlNode* holder = &node;
        const rt::NodePath& path = *as_handle(self)->path;
        if (!path.empty() && !path.back().is_index) {
            rt::NodePath parent_path(path.begin(), path.end() - 1);
            rt::YamlNode* parent = rt::resolve_path(*write.doc, as_handle(self)->root, parent_path);
            const std::ptrdiff_t pair = parent != nullptr ? parent->find_pair(path.back().key) : -1;
            if (pair >= 0) holder = &parent->key(static_cast<std::size_t>(pair));
        }
        rt::remember_extent(*holder);  // what stood there is no longer what it has
        if (!lines.empty() || holder->comments.has_texts()) holder->comments.texts().head = std::move(lines);
        holder->comments.modified = true;
        return true;
    });
}

int node_set_anchor(PyObject* self, PyObject* value, void*) {
    std::optional<std::string_view> name;
    if (!text_argument(value, "anchor", name)) return -1;
    if (name) {
        if (auto problem = rt::anchor_name_problem(*name)) {
            PyErr_SetString(PyExc_ValueError, problem->c_str());
            return -1;
        }
    }
    return edit_node(self, [&](rt::YamlNode& node, HandleWrite& write) {
        rt::remember_extent(node);  // what stood there is no longer what it has
        if (!name) {
            // Aliases of the anchor keep their value as copies of this node.
            rt::detach_aliases_of(write.root(), {rt::Doomed{&node, false}});
            node.anchor = rt::Text();
        } else if (node.kind == rt::NodeKind::Alias) {
            PyErr_SetString(PyExc_ValueError, "an alias node cannot have an anchor");
            return false;
        } else if (node.anchor.str() != *name) {
            if (rt::anchor_used_elsewhere(*write.doc, *name, &node)) {
                const std::string message = "anchor name '" + std::string(*name) + "' is already used by another node";
                PyErr_SetString(PyExc_ValueError, message.c_str());
                return false;
            }
            if (!node.anchor.empty()) rt::rename_aliases(write.root(), node, *name);
            node.anchor = rt::Text::owned(*name);
        }
        node.comments.modified = true;
        return true;
    });
}

PyObject* node_target(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        rt::NodePath path;
        {
            HandleRead read(self, kStale);
            if (!read.ok()) return nullptr;
            const rt::YamlNode* target = read.node->kind == rt::NodeKind::Alias ? read.target() : nullptr;
            if (target == nullptr || target == read.node) Py_RETURN_NONE;
            auto found = rt::path_to(read.root(), target);
            if (!found) Py_RETURN_NONE;
            path = std::move(*found);
        }
        return new_node(handle_document(self), as_handle(self)->root, std::move(path)).release();
    });
}

PyObject* node_aliases(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        std::vector<rt::NodePath> paths;
        {
            HandleRead read(self, kStale);
            if (!read.ok()) return nullptr;
            if (!read.node->anchor.empty()) paths = rt::alias_paths(read.root(), read.node->anchor.str());
        }
        PyRef list = PyRef::steal(PyList_New(0));
        if (!list) return nullptr;
        for (rt::NodePath& path : paths) {
            PyRef node = new_node(handle_document(self), as_handle(self)->root, std::move(path));
            if (!node || PyList_Append(list.get(), node.get()) < 0) return nullptr;
        }
        return list.release();
    });
}

PyObject* node_make_alias(PyObject* self, PyObject* name_object) {
    return guarded([&]() -> PyObject* {
        std::optional<std::string_view> name;
        if (name_object == Py_None || !text_argument(name_object, "argument 'name'", name)) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_TypeError, "argument 'name' must be str, not None");
            return nullptr;
        }
        HandleWrite write(self, kStale);
        if (!write.ok()) return nullptr;
        const std::string shown(*name);
        // Anchors are the document's own: look in the root this handle starts from.
        const rt::YamlNode& root = write.doc->documents[as_handle(self)->root];
        rt::NodePath anchor_path;
        if (rt::find_anchor(root, *name, anchor_path) == nullptr) {
            PyErr_SetString(PyExc_ValueError, ("no anchor '&" + shown + "' is defined in this document").c_str());
            return nullptr;
        }
        bool nested = false;
        const int order = rt::compare_paths(root, anchor_path, *as_handle(self)->path, nested);
        if (nested && order <= 0) {
            PyErr_SetString(PyExc_ValueError,
                            ("anchor '&" + shown + "' contains the alias that would reference it, which is a cycle").c_str());
            return nullptr;
        }
        if (order > 0) {
            PyErr_SetString(PyExc_ValueError,
                            ("anchor '&" + shown + "' must be defined before the alias that references it").c_str());
            return nullptr;
        }
        rt::YamlNode& node = *write.node;
        // What this node held is gone; aliases of anchors in it keep their values as copies.
        rt::detach_aliases_of(write.root(), {rt::Doomed{&node, true}});
        rt::remember_extent(node);
        node.kind = rt::NodeKind::Alias;
        node.text = rt::Text::owned(*name);
        node.children.clear();
        node.source.reset();
        node.anchor = rt::Text();
        node.tag = rt::Text();  // an alias cannot carry a tag
        if (node.comments.has_texts()) node.comments.texts().raw.reset();
        node.comments.modified = true;
        Py_RETURN_NONE;
    });
}

PyObject* node_detach(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        {
            HandleWrite write(self, kStale);
            if (!write.ok()) return nullptr;
            rt::YamlNode& node = *write.node;
            if (node.kind != rt::NodeKind::Alias) {
                PyErr_SetString(PyExc_TypeError, "detach() is only valid on an alias node");
                return nullptr;
            }
            const rt::YamlNode& root = write.doc->documents[as_handle(self)->root];
            const rt::AliasTargets targets(root);
            const rt::YamlNode* target = rt::follow_aliases(&node, targets);
            if (target == nullptr) {
                const std::string message = "alias *" + node.text.string() + " has no anchor to detach";
                PyRef text = PyRef::steal(PyUnicode_FromString(message.c_str()));
                if (text) PyErr_SetObject(PyExc_KeyError, text.get());
                return nullptr;
            }
            rt::YamlNode copy = rt::detached_copy(*target, targets);
            // The copy stands where the alias stood, not where its target does.
            rt::remember_extent(node);
            if (node.comments.has_texts() || copy.comments.has_texts())
                copy.comments.texts().replaced = node.comments.has_texts() ? node.comments.texts_view().replaced
                                                                           : std::nullopt;
            node = std::move(copy);
        }
        return new_node(handle_document(self), as_handle(self)->root, *as_handle(self)->path).release();
    });
}

// node[key]: the node below, through an alias to the node its anchor defines.
PyObject* node_subscript(PyObject* self, PyObject* key) {
    return guarded([&]() -> PyObject* {
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
            NodeConverter converter(read.root());
            auto found = find_item(read.root(), path, *node, key, converter);
            if (!found) return nullptr;
            if (!found->path) {
                // Under a key written twice, where no path leads.
                PyRef text = PyRef::steal(PyObject_Str(key));
                if (text) PyErr_SetObject(PyExc_KeyError, text.get());
                return nullptr;
            }
            path = std::move(*found->path);
        }
        return new_node(handle_document(self), as_handle(self)->root, std::move(path)).release();
    });
}

int node_contains(PyObject* self, PyObject* key) { return handle_contains(self, key, kStale); }

PyObject* node_kind(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, kStale);
        if (!read.ok()) return nullptr;
        return PyUnicode_FromString(data_kind(read.root(), *read.node));
    });
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
    {"comment", node_comment, node_set_comment,
     "The comment trailing the node on its line, or None; assign a one-line text, or None to remove it.", nullptr},
    {"comment_before", node_comment_before, node_set_comment_before,
     "The comment lines above the node (above its key for a mapping value), or None; assign text with one\n"
     "line per comment line, or None to remove them.",
     nullptr},
    {"kind", node_kind, nullptr, "'mapping', 'sequence' or 'scalar': what the node reads as (aliases followed).",
     nullptr},
    {"style", node_style, nullptr,
     "'plain', 'single', 'double', 'literal', 'folded', 'block', 'flow', 'alias' or 'null'.", nullptr},
    {"anchor", node_anchor, node_set_anchor,
     "The anchor name the node defines, or None; assign a name unused elsewhere in the document, or None.", nullptr},
    {"tag", node_tag, nullptr, "The node's tag as written, or None.", nullptr},
    {"source_tag", node_source_tag, nullptr, "The directive or custom tag that produced the node, or None.", nullptr},
    {"source_target", node_source_target, nullptr, "The directive's argument, or None.", nullptr},
    {"is_secret", node_flag<source_is_secret>, nullptr, "Produced by !secret.", nullptr},
    {"is_env_var", node_flag<source_is_env_var>, nullptr, "Produced by !env_var.", nullptr},
    {"is_include", node_flag<source_is_include>, nullptr, "Produced by an include directive.", nullptr},
    {"is_alias", node_flag<node_is_alias>, nullptr, "The node is an alias.", nullptr},
    {"target", node_target, nullptr, "For an alias, a TorvexNode for the node its anchor defines; otherwise None.",
     nullptr},
    {"aliases", node_aliases, nullptr, "TorvexNodes for every alias of this node's anchor, in document order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef g_node_methods[] = {
    {"make_alias", node_make_alias, METH_O,
     "make_alias(name, /)\n--\n\nTurn this node into an alias of the anchor `name`, defined earlier in the document."},
    {"detach", node_detach, METH_NOARGS,
     "detach()\n--\n\nReplace this alias by an independent copy of what it refers to; returns its new node."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_node_slots[] = {
    {Py_tp_doc, const_cast<char*>("A handle onto one node of a TorvexDocument: its value, source position, style,\n"
                                  "anchor, tag, comments and provenance. Index it to reach the nodes below.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(node_repr)},
    {Py_tp_getset, g_node_getset},
    {Py_tp_methods, g_node_methods},
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
