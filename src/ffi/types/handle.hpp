// What views and nodes share: creating and freeing a handle, and finding its
// node under the document's borrow.
#pragma once

#include <optional>

#include "ffi/types/roundtrip_objects.hpp"

namespace torvex::ffi {

// A new handle object of `type` (view or node type, borrowed; null with the
// error already set is passed through).
PyRef new_handle(PyObject* type, PyObject* document, std::size_t root, rt::NodePath path);
void handle_dealloc(PyObject* self);
inline PyObject* handle_document(PyObject* self) { return as_handle(self)->document; }

// The handle's node under a shared borrow. Not ok() when the borrow
// conflicts (RuntimeError set) or the path is stale (KeyError with
// `stale_message` set, or nothing set when that is null).
class HandleRead {
public:
    HandleRead(PyObject* self, const char* stale_message);
    bool ok() const noexcept { return node != nullptr; }
    bool stale() const noexcept { return stale_; }
    const rt::YamlNode& root() const noexcept { return *root_; }
    // The node, or for an alias the node its anchor defines (itself when undefined).
    const rt::YamlNode* target() const;

    const rt::YamlNode* node = nullptr;

private:
    SharedBorrow borrow_;
    const rt::YamlNode* root_ = nullptr;
    bool stale_ = false;
};

// `key in handle` for views and nodes (aliases followed): 1, 0, or -1 with the error set.
int handle_contains(PyObject* self, PyObject* key, const char* stale_message);

// The handle's node under the exclusive borrow, for edits.
class HandleWrite {
public:
    HandleWrite(PyObject* self, const char* stale_message);
    bool ok() const noexcept { return node != nullptr; }
    rt::YamlNode& root() const noexcept { return doc->documents[root_index_]; }

    rt::YamlNode* node = nullptr;
    rt::YamlNode* parent = nullptr;  // the collection holding the node; null for a root
    rt::DocumentContainer* doc = nullptr;

private:
    ExclusiveBorrow borrow_;
    std::size_t root_index_ = 0;
};

}  // namespace torvex::ffi
