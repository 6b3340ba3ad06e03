// dump_includes and dump_includes_map: the texts of the files a round-trip
// document included, returned or written back; and the file writing that
// save() shares.
#include <utility>

#include "core/file_write.hpp"
#include "ffi/args.hpp"
#include "ffi/boundary.hpp"
#include "ffi/errors.hpp"
#include "ffi/functions.hpp"
#include "ffi/types/roundtrip_objects.hpp"
#include "ffi/write_back.hpp"

namespace torvex::ffi {

namespace {

const Signature kDumpIncludesSignature{"dump_includes", "doc", {"include_dir"}};
const Signature kDumpIncludesMapSignature{"dump_includes_map", "doc", {}};

// Sets `cls(message)`; an OSError also gets `errno`.
void raise_write_failure(PyObject* cls, const std::string& path, const FileWriteFailure& failure) {
    const std::string message = "cannot write " + path + ": " + failure.reason;
    PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) return;
    PyRef exc = PyRef::steal(PyObject_CallOneArg(cls, text.get()));
    if (!exc) return;
    // errno for callers that test it; no filename, which would change the text.
    if (failure.code != 0 && PyObject_TypeCheck(exc.get(), reinterpret_cast<PyTypeObject*>(PyExc_OSError))) {
        PyRef code = PyRef::steal(PyLong_FromLong(failure.code));
        if (!code || PyObject_SetAttrString(exc.get(), "errno", code.get()) < 0) return;
    }
    PyErr_SetObject(cls, exc.get());
}

// The document's file texts, under its shared borrow; nothing with the error set.
std::optional<std::vector<rt::FileText>> included_files(PyObject* object, const char* function) {
    if (!is_document(object)) {
        PyErr_Format(PyExc_TypeError, "%s() argument 'doc' must be TorvexDocument, not %T", function, object);
        return std::nullopt;
    }
    SharedBorrow borrow(as_document(object));
    if (!borrow.ok()) return std::nullopt;
    const rt::DocumentContainer& doc = *as_document(object)->doc;
    if (doc.file_paths.empty()) {
        PyErr_SetString(PyExc_ValueError, "document was not loaded with OPT_INCLUDES; nothing to write back");
        return std::nullopt;
    }
    auto records = rt::include_records(doc);
    if (!records.ok()) {
        raise_write_back_error(records.error());
        return std::nullopt;
    }
    auto files = rt::files_by_path(doc, std::move(records).value());
    if (!files.ok()) {
        raise_write_back_error(files.error());
        return std::nullopt;
    }
    return std::move(files).value();
}

}  // namespace

PyRef path_object(const std::string& path) {
    return PyRef::steal(PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
}

std::optional<std::vector<std::size_t>> write_files(const std::vector<rt::FileText>& files, PyObject* failure_class) {
    std::vector<FileReplacement> batch;
    batch.reserve(files.size());
    for (const rt::FileText& file : files) batch.push_back(FileReplacement{file.path, file.text});
    FileWriteOutcome outcome = replace_files(batch);
    if (!outcome.failure) return std::move(outcome.written);
    const FileWriteFailure& failure = *outcome.failure;
    if (failure.kind == FileWriteFailure::Kind::SameTarget) {
        raise_torvex(TorvexException::IncludeError, rt::conflicting_edits_message(files[failure.index].path));
    } else {
        raise_write_failure(failure_class, files[failure.index].path, failure);
    }
    return std::nullopt;
}

PyObject* py_dump_includes(PyObject*, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        ParsedArgs args;
        if (!parse_args(kDumpIncludesSignature, argv, nargs, kwnames, args)) return nullptr;
        // Accepted and checked; files go to the paths they were read from.
        if (PyObject* dir = args.keyword(0)) {
            if (!convert_path(dir, "include_dir")) return nullptr;
        }
        auto files = included_files(args.positional, "dump_includes");
        if (!files) return nullptr;
        if (!write_files(*files, PyExc_ValueError)) return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* py_dump_includes_map(PyObject*, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        ParsedArgs args;
        if (!parse_args(kDumpIncludesMapSignature, argv, nargs, kwnames, args)) return nullptr;
        auto files = included_files(args.positional, "dump_includes_map");
        if (!files) return nullptr;
        PyRef map = PyRef::steal(PyDict_New());
        if (!map) return nullptr;
        for (const rt::FileText& file : *files) {
            PyRef key = PyRef::steal(
                PyUnicode_DecodeUTF8(file.path.data(), static_cast<Py_ssize_t>(file.path.size()), "replace"));
            PyRef value = PyRef::steal(
                PyBytes_FromStringAndSize(file.text.data(), static_cast<Py_ssize_t>(file.text.size())));
            if (!key || !value || PyDict_SetItem(map.get(), key.get(), value.get()) < 0) return nullptr;
        }
        return map.release();
    });
}

}  // namespace torvex::ffi
