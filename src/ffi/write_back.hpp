// Writing planned files from Python entry points: save() and dump_includes()
// share the writer and differ in the exception class of a failed write.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ffi/py_ref.hpp"
#include "ffi/python.hpp"
#include "roundtrip/save_plan.hpp"

namespace torvex::ffi {

// Writes every file (core/file_write: nothing changes unless all are
// prepared). Returns the indexes of the files written, in order; on failure
// sets `failure_class`("cannot write " + path + ": " + reason), with `errno`
// set on an OSError, or TorvexIncludeError for one file reached through two
// paths with different contents, and returns nothing.
std::optional<std::vector<std::size_t>> write_files(const std::vector<rt::FileText>& files, PyObject* failure_class);

// A stored path as str: undecodable bytes as surrogate escapes (os.fsdecode).
PyRef path_object(const std::string& path);

}  // namespace torvex::ffi
