// The round-trip classes' shared layer: TorvexDocument owns a tree;
// TorvexDocumentView and TorvexNode are handles that hold the document, a
// root index and a path, and find their node again on every use.
//
// A document guards its tree with a borrow counter: readers take a shared
// borrow, editors an exclusive one, and a conflicting attempt fails at once
// with RuntimeError instead of waiting, so threads of a free-threaded
// interpreter can share a document without ever seeing it half-edited.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "ffi/py_ref.hpp"
#include "ffi/python.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/path.hpp"

namespace torvex::ffi {

struct DocumentObject {
    PyObject_HEAD
    rt::DocumentContainer* doc;  // owned
    std::atomic<int> borrow;     // > 0: shared borrows; -1: exclusive
};

struct HandleObject {
    PyObject_HEAD
    PyObject* document;  // strong reference to the TorvexDocument
    std::size_t root;    // index of the root the path starts from
    rt::NodePath* path;  // owned
};

class SharedBorrow {
public:
    explicit SharedBorrow(DocumentObject* doc) noexcept;
    ~SharedBorrow();
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    // False (RuntimeError set) when an exclusive borrow is held.
    bool ok() const noexcept { return doc_ != nullptr; }

private:
    DocumentObject* doc_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(DocumentObject* doc) noexcept;
    ~ExclusiveBorrow();
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    // False (RuntimeError set) when any borrow is held.
    bool ok() const noexcept { return doc_ != nullptr; }

private:
    DocumentObject* doc_;
};

// The class objects (borrowed, created once for the process), or null with the error set.
PyObject* document_type();
PyObject* view_type();
PyObject* node_type();

bool is_document(PyObject* obj);  // TorvexDocument or subclass
bool is_view(PyObject* obj);      // TorvexDocumentView or subclass

// A new TorvexDocument owning `container`.
PyRef new_document(std::unique_ptr<rt::DocumentContainer> container);
// A new view or node on `document` (a TorvexDocument).
PyRef new_view(PyObject* document, std::size_t root, rt::NodePath path);
PyRef new_node(PyObject* document, std::size_t root, rt::NodePath path);

inline DocumentObject* as_document(PyObject* obj) { return reinterpret_cast<DocumentObject*>(obj); }
inline HandleObject* as_handle(PyObject* obj) { return reinterpret_cast<HandleObject*>(obj); }

// ---- operations shared by documents, views and nodes (caller holds the borrow) ----

// Item access on `node` (the container at `path` below `root`): a view for a
// collection (aliases followed), the Python value otherwise, with the
// lookup's errors (item_lookup.hpp says which key finds what).
PyRef item_of(PyObject* document, std::size_t root, const rt::NodePath& path, const rt::YamlNode& node,
              PyObject* key);

// The node's value as plain Python objects; aliases resolve within `root`.
PyRef value_of(const rt::YamlNode& root, const rt::YamlNode& node);

// keys(): the keys of a mapping as a loaded dict has them; TypeError otherwise.
PyRef keys_of(const rt::YamlNode& root, const rt::YamlNode& node);

// items() and values(): a list of (key, value) pairs or of values, each
// value as item access gives it; TypeError for anything but a mapping.
enum class EntryForm { Pairs, Values };
PyRef entries_of(PyObject* document, std::size_t root, const rt::NodePath& path, const rt::YamlNode& node,
                 EntryForm form);

// What iterating over a node yields, taken at once so that no borrow is held
// while the caller's loop runs: a mapping's keys, a sequence's items as item
// access gives them; TypeError for anything else.
PyRef iteration_of(PyObject* document, std::size_t root, const rt::NodePath& path, const rt::YamlNode& node);

// "mapping", "sequence" or "scalar": what the node reads as, aliases followed.
const char* data_kind(const rt::YamlNode& root, const rt::YamlNode& node);

// walk(): (path tuple, value) for every leaf below `node`.
PyRef walk_of(const rt::YamlNode& root, const rt::YamlNode& node);

// range(): (line, column, end_line, end_column), 1-based.
PyRef range_of(const rt::YamlNode& node);

// `node[key] = value` / `del node[key]` with the tree already exclusively
// borrowed; `content` is the converted value, `root` the node's document root.
bool assign_item(rt::YamlNode& root, rt::YamlNode& node, PyObject* key, rt::YamlNode&& content,
                 bool prefer_double_quotes);
bool delete_item(rt::YamlNode& root, rt::YamlNode& node, PyObject* key);

// "scalar", "sequence", "mapping", "alias" or "null".
const char* kind_name(const rt::YamlNode& node) noexcept;

// The bytes object of an emitted text.
PyRef bytes_of(const std::string& text);

}  // namespace torvex::ffi
