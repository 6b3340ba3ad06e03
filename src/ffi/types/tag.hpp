// TorvexTag: a custom-tagged value, returned by loads with
// OPT_PASSTHROUGH_TAG and accepted by dumps to write "!tag value" back out.
#pragma once

#include "ffi/python.hpp"

namespace torvex::ffi {

// The class object (borrowed, created once for the process), or null with the error set.
PyObject* tag_type();

// TorvexTag(tag, value) as a new reference; `tag` must be a str.
PyObject* new_tag(PyObject* tag, PyObject* value);

// For a TorvexTag instance, borrowed views of its fields.
bool is_tag(PyObject* obj);
PyObject* tag_text(PyObject* tag_object);
PyObject* tag_value(PyObject* tag_object);

}  // namespace torvex::ffi
