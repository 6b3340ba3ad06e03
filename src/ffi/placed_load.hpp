// Annotated loads of a text the direct reader reads whole: its tape and the
// places of its nodes become annotated objects, with no token list and no
// tree. The common case of an annotated load; anything else takes the
// composed pipeline, which gives the same result.
#pragma once

#include <optional>
#include <string_view>

#include "ffi/load_options.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi {

// Whether the options leave nothing to the composed pipeline but reading:
// annotated, without directives, a schema, key policies or version warnings.
bool placed_load_applies(const LoadOptions& options);

// The first document (None for none), or with `all` the list of every
// document; a null PyRef with the error set on failure; nullopt, having
// done nothing visible, where the direct reader gives way.
std::optional<PyRef> load_placed(std::string_view text, const LoadOptions& options, bool all);

}  // namespace torvex::ffi
