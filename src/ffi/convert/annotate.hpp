// Composed trees to Python: annotated objects (TorvexAnnotatedDict/List and
// the package's annotated scalars) or, with annotations off, plain objects.
// One converter serves both, so the two never differ in the data they give.
#pragma once

#include <string>
#include <vector>

#include "ffi/convert/untracked.hpp"
#include "ffi/py_ref.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::ffi {

struct ComposedConversion {
    ResolveMode mode = ResolveMode::Yaml12;
    bool annotate = false;          // OPT_ANNOTATED
    bool annotate_numbers = false;  // OPT_ANNOTATE_NUMBERS (with annotate)
    PyObject* tags = nullptr;         // borrowed dict of tag text -> callable, or null
    PyObject* tag_handler = nullptr;  // borrowed callable(tag, value), or null
    bool passthrough = false;         // OPT_PASSTHROUGH_TAG
    // file id -> path; empty when the load read a single text (`__file__` is then None).
    const std::vector<std::string>* file_paths = nullptr;
    // Where the objects built stay untracked until the caller is done with
    // every document; null: until this conversion ends.
    UntrackedWhileBuilding* untracked = nullptr;
};

// One document root as a new reference, or a null PyRef with the error set.
// The data equals what the plain pipeline gives for the same text in the
// same mode: scalars resolved by the mode, aliases expanded, merge keys applied.
PyRef convert_composed(const rt::YamlNode& root, const ComposedConversion& options);

}  // namespace torvex::ffi
