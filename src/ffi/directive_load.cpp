#include "ffi/directive_load.hpp"

#include <utility>

#include "ffi/errors.hpp"
#include "ffi/options.hpp"
#include "ffi/py_ref.hpp"
#include "ffi/warnings.hpp"

namespace torvex::ffi {

namespace {

// The decoder's reading of an included file, with the load's checks: a file
// it finds anything to report in is composed, and reported from the tree.
DecodeOptions plain_file_decoding(const LoadOptions& options) {
    DecodeOptions decode;
    decode.mode = options.mode;
    decode.duplicate_keys_error = options.has(OPT_DUPLICATE_KEYS_ERROR);
    decode.duplicate_keys_warn = options.has(OPT_DUPLICATE_KEYS_WARN) && !decode.duplicate_keys_error;
    decode.reject_complex_keys = options.has(OPT_REJECT_COMPLEX_KEYS);
    decode.yaml11_warnings = options.has(OPT_YAML_1_1_WARN) && options.yaml11;
    return decode;
}

directives::DirectiveOptions directive_options(const LoadOptions& options, bool with_comments, bool plain_files) {
    directives::DirectiveOptions out;
    out.with_comments = with_comments;
    if (plain_files) out.plain_decode = plain_file_decoding(options);
    out.include_dir = options.include_dir.value_or(".");
    out.root_path = options.root_path;
    out.includes = options.has(OPT_INCLUDES);
    out.secrets = options.has(OPT_SECRETS);
    out.env_vars = options.has(OPT_ENV_VAR);
    out.recursive = options.has(OPT_INCLUDE_DIR_RECURSIVE);
    out.tolerate_missing_secret = options.on_missing_secret != nullptr || options.has(OPT_SECRET_NOT_FOUND_WARN);
    out.tolerate_missing_env_var = options.on_missing_env_var != nullptr || options.has(OPT_ENV_VAR_NOT_FOUND_WARN);
    return out;
}

// Calls `callback(name, file, line)` (when given) and writes the log line
// (when `warn`) for each tolerated missing value, in the order recorded.
bool report_missing(const std::vector<directives::MissingValue>& missing, PyObject* callback, bool warn,
                    const char* prefix, const char* suffix) {
    for (const directives::MissingValue& entry : missing) {
        const unsigned long line = entry.line + 1UL;
        if (callback != nullptr) {
            PyRef result = PyRef::steal(PyObject_CallFunction(callback, "s#s#k", entry.name.data(),
                                                              static_cast<Py_ssize_t>(entry.name.size()),
                                                              entry.file.data(),
                                                              static_cast<Py_ssize_t>(entry.file.size()), line));
            if (!result) return false;
        }
        if (warn) log_warning(prefix + entry.name + suffix + entry.file + ":" + std::to_string(line));
    }
    return true;
}

}  // namespace

bool uses_directives(const LoadOptions& options) { return options.has(OPT_INCLUDES | OPT_SECRETS | OPT_ENV_VAR); }

std::optional<directives::DirectiveLoad> load_directives(std::string text, const LoadOptions& options,
                                                        bool with_comments, bool plain_files) {
    auto loaded =
        directives::load_with_directives(std::move(text), directive_options(options, with_comments, plain_files));
    if (!loaded.ok()) {
        raise_error(loaded.error());
        return std::nullopt;
    }
    directives::DirectiveLoad load = std::move(loaded).value();
    for (const std::string& warning : load.warnings) log_warning(warning);
    if (!report_missing(load.missing_secrets, options.on_missing_secret, options.has(OPT_SECRET_NOT_FOUND_WARN),
                        "secret '", "' is not defined in any secrets.yaml at ") ||
        !report_missing(load.missing_env_vars, options.on_missing_env_var, options.has(OPT_ENV_VAR_NOT_FOUND_WARN),
                        "environment variable '", "' is not defined at ")) {
        return std::nullopt;
    }
    return load;
}

}  // namespace torvex::ffi
