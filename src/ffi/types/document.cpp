// TorvexDocument: a round-trip document. Owns the tree of every root, the
// texts it was read from and the emission settings; dictionary-like access
// resolves scalars to Python values and collections to live views.
#include <atomic>
#include <new>
#include <string>
#include <utility>

#include "core/stack_guard.hpp"
#include "ffi/boundary.hpp"
#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/once.hpp"
#include "ffi/types/item_lookup.hpp"
#include "ffi/types/roundtrip_objects.hpp"
#include "ffi/write_back.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/save_plan.hpp"

namespace torvex::ffi {

namespace {

std::atomic<PyObject*> g_document_type{nullptr};

DocumentObject* self_of(PyObject* self) { return as_document(self); }
std::vector<rt::YamlNode>& roots_of(PyObject* self) { return self_of(self)->doc->documents; }

void document_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete self_of(self)->doc;
    self_of(self)->doc = nullptr;
    self_of(self)->borrow.~atomic();
    type->tp_free(self);
    Py_DECREF(type);
}

// The index a multi-document key selects, or nothing with the error set.
std::optional<std::size_t> root_index(PyObject* key, std::size_t roots) {
    if (!PyLong_Check(key)) {
        PyErr_SetString(PyExc_KeyError, "multi-document access requires an integer index");
        return std::nullopt;
    }
    const Py_ssize_t index = PyLong_AsSsize_t(key);
    if (index == -1 && PyErr_Occurred()) PyErr_Clear();
    if (index < 0 || static_cast<std::size_t>(index) >= roots) {
        PyErr_SetString(PyExc_IndexError, "index out of range");
        return std::nullopt;
    }
    return static_cast<std::size_t>(index);
}

PyObject* document_subscript(PyObject* self, PyObject* key) {
    return guarded([&]() -> PyObject* {
        SharedBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        const auto& roots = roots_of(self);
        if (roots.size() == 1) return item_of(self, 0, {}, roots[0], key).release();
        if (roots.empty() && !PyLong_Check(key)) {
            PyRef text = PyRef::steal(PyObject_Str(key));
            if (text) PyErr_SetObject(PyExc_KeyError, text.get());
            return nullptr;
        }
        const auto index = root_index(key, roots.size());
        if (!index) return nullptr;
        const rt::YamlNode& root = roots[*index];
        if (root.is_collection()) return new_view(self, *index, {}).release();
        return value_of(root, root).release();
    });
}

int document_ass_subscript(PyObject* self, PyObject* key, PyObject* value) {
    PyObject* ok = guarded([&]() -> PyObject* {
        std::optional<rt::YamlNode> content;
        if (value != nullptr) {
            content = to_node(value, self_of(self)->doc->prefer_double_quotes);
            if (!content) return nullptr;
        }
        ExclusiveBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        rt::DocumentContainer& doc = *self_of(self)->doc;
        if (doc.documents.size() == 1) {
            rt::YamlNode& root = doc.documents[0];
            const bool done = content ? assign_item(root, root, key, std::move(*content), doc.prefer_double_quotes)
                                      : delete_item(root, root, key);
            return done ? Py_None : nullptr;
        }
        PyRef index_object = PyRef::steal(PyNumber_Index(key));
        if (!index_object) return nullptr;
        const auto index = root_index(index_object.get(), doc.documents.size());
        if (!index) return nullptr;
        if (content) {
            content->comments.modified = true;
            doc.documents[*index] = std::move(*content);
        } else {
            doc.documents.erase(doc.documents.begin() + static_cast<std::ptrdiff_t>(*index));
            doc.keep_source = false;  // what is left is written from the tree
        }
        return Py_None;
    });
    return ok ? 0 : -1;
}

Py_ssize_t document_length(PyObject* self) {
    SharedBorrow borrow(self_of(self));
    if (!borrow.ok()) return -1;
    const auto& roots = roots_of(self);
    if (roots.size() == 1) return roots[0].is_collection() ? static_cast<Py_ssize_t>(roots[0].size()) : 1;
    return static_cast<Py_ssize_t>(roots.size());
}

// With one root, `key in` that root; with several, whether a document of
// the stream equals `key`, as iteration gives them.
int document_contains(PyObject* self, PyObject* key) {
    PyObject* answer = guarded([&]() -> PyObject* {
        SharedBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        const auto& roots = roots_of(self);
        if (roots.size() == 1) {
            const int found = contains_item(roots[0], roots[0], key);
            return found < 0 ? nullptr : found ? Py_True : Py_False;
        }
        for (const rt::YamlNode& root : roots) {
            PyRef value = value_of(root, root);
            const int equal = value ? PyObject_RichCompareBool(value.get(), key, Py_EQ) : -1;
            if (equal != 0) return equal < 0 ? nullptr : Py_True;
        }
        return Py_False;
    });
    return answer == nullptr ? -1 : answer == Py_True ? 1 : 0;
}

// The documents of a stream as item access gives them: views for collections.
PyRef stream_items(PyObject* self) {
    const auto& roots = roots_of(self);
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(roots.size())));
    for (std::size_t i = 0; list && i < roots.size(); ++i) {
        PyRef item = roots[i].is_collection() ? new_view(self, i, {}) : value_of(roots[i], roots[i]);
        if (!item) return item;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
}

// Iteration works on a snapshot taken under the borrow, so the loop body may
// edit the document.
PyObject* document_iter(PyObject* self) {
    return guarded([&]() -> PyObject* {
        PyRef items;
        {
            SharedBorrow borrow(self_of(self));
            if (!borrow.ok()) return nullptr;
            const auto& roots = roots_of(self);
            items = roots.size() == 1 ? iteration_of(self, 0, {}, roots[0]) : stream_items(self);
        }
        if (!items) return nullptr;
        return PyObject_GetIter(items.get());
    });
}

// items() / values() of a single mapping document.
PyObject* document_entries(PyObject* self, EntryForm form, const char* message) {
    return guarded([&]() -> PyObject* {
        SharedBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        const auto& roots = roots_of(self);
        if (roots.size() != 1) {
            PyErr_SetString(PyExc_TypeError, message);
            return nullptr;
        }
        return entries_of(self, 0, {}, roots[0], form).release();
    });
}

PyObject* document_items(PyObject* self, PyObject*) {
    return document_entries(self, EntryForm::Pairs, "items() is only available on a single mapping document");
}

PyObject* document_values(PyObject* self, PyObject*) {
    return document_entries(self, EntryForm::Values, "values() is only available on a single mapping document");
}

PyObject* document_kind(PyObject* self, void*) {
    SharedBorrow borrow(self_of(self));
    if (!borrow.ok()) return nullptr;
    const auto& roots = roots_of(self);
    return PyUnicode_FromString(roots.size() == 1 ? data_kind(roots[0], roots[0]) : "stream");
}

PyObject* document_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 1 || nargs > 2) {
        PyErr_Format(PyExc_TypeError, "get expected 1 or 2 arguments, got %zd", nargs);
        return nullptr;
    }
    PyObject* found = document_subscript(self, args[0]);
    if (found != nullptr) return found;
    // Lookup failures give the default; interrupts and internal errors do not.
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return nullptr;
    PyErr_Clear();
    return Py_NewRef(nargs > 1 ? args[1] : Py_None);
}

PyObject* document_keys(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        SharedBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        const auto& roots = roots_of(self);
        if (roots.size() != 1) {
            PyErr_SetString(PyExc_TypeError, "keys() is only available on a single mapping document");
            return nullptr;
        }
        return keys_of(roots[0], roots[0]).release();
    });
}

PyObject* document_to_dict(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        SharedBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        const auto& roots = roots_of(self);
        if (roots.size() == 1) return value_of(roots[0], roots[0]).release();
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(roots.size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < roots.size(); ++i) {
            PyRef value = value_of(roots[i], roots[i]);
            if (!value) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), value.release());
        }
        return list.release();
    });
}

PyObject* document_walk(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        SharedBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        const auto& roots = roots_of(self);
        if (roots.empty()) return PyList_New(0);
        return walk_of(roots[0], roots[0]).release();
    });
}

PyObject* document_range(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        SharedBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        const auto& roots = roots_of(self);
        if (roots.empty()) Py_RETURN_NONE;
        return range_of(roots[0]).release();
    });
}

PyObject* document_to_yaml(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        SharedBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        return bytes_of(rt::document_to_yaml(*self_of(self)->doc)).release();
    });
}

// A str, or an object whose __fspath__ gives a str.
std::optional<std::string> path_text(PyObject* path, const char* function) {
    PyRef converted = PyRef::steal(PyOS_FSPath(path));
    if (!converted || !PyUnicode_Check(converted.get())) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s() argument 'path' must be str or os.PathLike returning str, not %T",
                     function, path);
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(converted.get(), &size);
    if (utf8 == nullptr) return std::nullopt;
    return std::string(utf8, static_cast<std::size_t>(size));
}

PyObject* document_set_origin(PyObject* self, PyObject* path) {
    return guarded([&]() -> PyObject* {
        auto text = path_text(path, "set_origin");
        if (!text) return nullptr;
        ExclusiveBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        self_of(self)->doc->origin = std::move(*text);
        Py_RETURN_NONE;
    });
}

// Writes the changed files: the included files whose own content was
// edited, then the root file (to `path`, or to the origin when root-level
// content changed). Every file is rendered and prepared before the first one
// is replaced, so a failure while preparing changes nothing on disk.
PyObject* document_save(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"path", nullptr};
        PyObject* path = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:save", const_cast<char**>(keywords), &path)) {
            return nullptr;
        }
        std::optional<std::string> target;
        if (path != Py_None) {
            target = path_text(path, "save");
            if (!target) return nullptr;
        }
        SharedBorrow borrow(self_of(self));
        if (!borrow.ok()) return nullptr;
        auto plan = rt::plan_save(*self_of(self)->doc, target);
        if (!plan.ok()) return raise_write_back_error(plan.error());
        if (plan.value().root_needs_path) {
            PyErr_SetString(PyExc_ValueError, "save() needs a path: this document was not loaded from a file");
            return nullptr;
        }
        const std::vector<rt::FileText>& files = plan.value().files;
        const auto written = write_files(files, PyExc_OSError);
        if (!written) return nullptr;
        PyRef result = PyRef::steal(PyList_New(0));
        if (!result) return nullptr;
        for (const std::size_t index : *written) {
            PyRef name = path_object(files[index].path);
            if (!name || PyList_Append(result.get(), name.get()) < 0) return nullptr;
        }
        return result.release();
    });
}

PyObject* document_origin(PyObject* self, void*) {
    SharedBorrow borrow(self_of(self));
    if (!borrow.ok()) return nullptr;
    const auto& origin = self_of(self)->doc->origin;
    if (!origin) Py_RETURN_NONE;
    return PyUnicode_DecodeUTF8(origin->data(), static_cast<Py_ssize_t>(origin->size()), "surrogateescape");
}

PyObject* document_node(PyObject* self, void*) {
    return guarded([&] { return new_node(self, 0, {}).release(); });
}

void collect_anchors(const rt::YamlNode& node, rt::NodePath& path, std::vector<std::pair<std::string, rt::NodePath>>& out,
                     std::size_t depth) {
    if (!node.anchor.empty()) out.emplace_back(node.anchor.string(), path);
    if (!node.is_collection()) return;
    with_stack_at(depth, [&] {
        if (node.kind == rt::NodeKind::Sequence) {
            for (std::size_t i = 0; i < node.children.size(); ++i) {
                path.push_back(rt::PathSegment::at(i));
                collect_anchors(node.children[i], path, out, depth + 1);
                path.pop_back();
            }
            return;
        }
        for (std::size_t i = 0; i < node.size(); ++i) {
            const rt::YamlNode& key = node.key(i);
            if (key.kind != rt::NodeKind::Scalar || node.find_pair(key.text.str()) != static_cast<std::ptrdiff_t>(i)) {
                continue;
            }
            path.push_back(rt::PathSegment::named(key.text.str()));
            collect_anchors(node.value(i), path, out, depth + 1);
            path.pop_back();
        }
    });
}

PyObject* document_anchors(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        std::vector<std::pair<std::string, rt::NodePath>> found;
        {
            SharedBorrow borrow(self_of(self));
            if (!borrow.ok()) return nullptr;
            const auto& roots = roots_of(self);
            rt::NodePath path;
            if (!roots.empty()) collect_anchors(roots[0], path, found, 0);
        }
        PyRef dict = PyRef::steal(PyDict_New());
        if (!dict) return nullptr;
        for (auto& [name, path] : found) {
            PyRef node = new_node(self, 0, std::move(path));
            if (!node || PyDict_SetItemString(dict.get(), name.c_str(), node.get()) < 0) return nullptr;
        }
        return dict.release();
    });
}

PyObject* document_repr(PyObject* self) {
    SharedBorrow borrow(self_of(self));
    if (!borrow.ok()) return nullptr;
    return PyUnicode_FromFormat("TorvexDocument(documents=%zu)", roots_of(self).size());
}

PyMethodDef g_document_methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_get)), METH_FASTCALL,
     "get(key, default=None, /)\n--\n\nItem access that returns `default` instead of raising."},
    {"keys", document_keys, METH_NOARGS,
     "keys()\n--\n\nThe keys of a single mapping document, as Python values (as to_dict() has them)."},
    {"items", document_items, METH_NOARGS,
     "items()\n--\n\nA list of (key, value) pairs of a single mapping document; collections as views."},
    {"values", document_values, METH_NOARGS,
     "values()\n--\n\nA list of the values of a single mapping document; collections as views."},
    {"to_dict", document_to_dict, METH_NOARGS,
     "to_dict()\n--\n\nReturn the document as plain Python objects (a resolved snapshot)."},
    {"walk", document_walk, METH_NOARGS,
     "walk()\n--\n\nA list of (path, value) pairs, one per leaf of the first document, in document order.\n"
     "Bulk edits loop over it and assign through item access."},
    {"range", document_range, METH_NOARGS,
     "range()\n--\n\n(line, column, end_line, end_column) of the first document, 1-based; None when empty."},
    {"to_yaml", document_to_yaml, METH_NOARGS,
     "to_yaml()\n--\n\nThe document as YAML bytes: the loaded text unchanged while nothing was edited,\n"
     "otherwise written from the tree with its comments, styles, anchors and tags."},
    {"set_origin", document_set_origin, METH_O,
     "set_origin(path, /)\n--\n\nRecord the path the document counts as loaded from (used by save())."},
    {"save", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_save)),
     METH_VARARGS | METH_KEYWORDS, "save(path=None)\n--\n\nWrite the changed files back: edited included files, then the root file (to `path`,\n"
     "or to the origin when root-level content changed). Returns the paths written."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_document_getset[] = {
    {"origin", document_origin, nullptr, "The path recorded by set_origin(), or None.", nullptr},
    {"node", document_node, nullptr, "A TorvexNode for the first document's root.", nullptr},
    {"kind", document_kind, nullptr,
     "'mapping', 'sequence' or 'scalar' for a single document; 'stream' for several (or none).", nullptr},
    {"anchors", document_anchors, nullptr, "Each anchor name of the first document and a TorvexNode for its node.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_document_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`.\n\n"
                    "It holds the round-trip AST of every document in the stream (comments, styles, anchors,\n"
                    "tags and exact positions) and a `file_id` source-path map used to write changes back.\n"
                    "Item access gives plain values for scalars and live TorvexDocumentView objects for\n"
                    "mappings and sequences; assignment and deletion edit the tree, and to_yaml() writes\n"
                    "it back keeping the layout.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(document_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(document_repr)},
    {Py_tp_methods, g_document_methods},
    {Py_tp_getset, g_document_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(document_subscript)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(document_ass_subscript)},
    {Py_mp_length, reinterpret_cast<void*>(document_length)},
    {Py_sq_contains, reinterpret_cast<void*>(document_contains)},
    {Py_tp_iter, reinterpret_cast<void*>(document_iter)},
    {0, nullptr},
};

PyType_Spec g_document_spec = {
    "torvex.TorvexDocument",
    sizeof(DocumentObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    g_document_slots,
};

}  // namespace

PyObject* document_type() {
    return cached_once(g_document_type, [] { return PyRef::steal(PyType_FromSpec(&g_document_spec)); });
}

bool is_document(PyObject* obj) {
    PyObject* type = g_document_type.load(std::memory_order_acquire);
    return type != nullptr && PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(type));
}

PyRef new_document(std::unique_ptr<rt::DocumentContainer> container) {
    PyObject* type = document_type();
    if (type == nullptr) return PyRef();
    auto* cls = reinterpret_cast<PyTypeObject*>(type);
    PyRef self = PyRef::steal(cls->tp_alloc(cls, 0));
    if (!self) return self;
    DocumentObject* doc = as_document(self.get());
    new (&doc->borrow) std::atomic<int>(0);
    doc->doc = container.release();
    return self;
}

}  // namespace torvex::ffi
