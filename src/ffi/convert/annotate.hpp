// Composed trees to Python: annotated objects (TorvexAnnotatedDict/List and
// the package's annotated scalars) or, with annotations off, plain objects.
// One converter serves both, so the two never differ in the data they give.
#pragma once

#include <string>
#include <vector>

#include "ffi/convert/annotated_scalars.hpp"
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
    // False when no mapping key of the tree can be a merge key (its texts
    // held no plain `<<` and no tag): mappings are then read without looking.
    bool merge_keys = true;
    // True when nothing reads a node again once it is converted (no alias, no
    // merge key): the converter frees each collection's children once the
    // collection is made, while they are still in cache, rather than leaving
    // the whole tree to be walked cold after the conversion. The tree must
    // then be the caller's own, and nothing may read it afterwards but its
    // destructor.
    bool free_converted = false;
    // Shared by the conversions of one load's documents; null: this
    // conversion's own.
    ConversionShared* shared = nullptr;
};

// One document root as a new reference, or a null PyRef with the error set.
// The data equals what the plain pipeline gives for the same text in the
// same mode: scalars resolved by the mode, aliases expanded, merge keys applied.
// With `free_converted` the tree is emptied as it is converted.
PyRef convert_composed(rt::YamlNode& root, const ComposedConversion& options);

}  // namespace torvex::ffi
