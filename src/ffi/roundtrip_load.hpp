// The round-trip pipeline of loads: compose the text into a tree, run the
// passes the options ask for, and wrap the tree in a TorvexDocument.
#pragma once

#include <string>

#include "ffi/load_options.hpp"
#include "ffi/python.hpp"

namespace torvex::ffi {

// A new TorvexDocument, or null with the error set. Takes the text.
PyObject* load_round_trip(std::string text, const LoadOptions& options);

}  // namespace torvex::ffi
