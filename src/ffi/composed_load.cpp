#include "ffi/composed_load.hpp"

#include <utility>

#include "decode/tape.hpp"
#include "decode/decoder.hpp"
#include "ffi/convert/annotate.hpp"
#include "ffi/errors.hpp"
#include "ffi/options.hpp"
#include "ffi/py_ref.hpp"
#include "ffi/warnings.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/passes.hpp"

namespace torvex::ffi {

namespace {

// Steps 1 and 3: the value decoder over a text, detached, only so that its
// errors (syntax, unknown aliases, alias bombs, complex keys) come first and
// read as they do in the plain pipeline. The values are dropped.
bool surface_decoder_errors(const std::string& text, const LoadOptions& options) {
    DecodeOptions decode;
    decode.mode = options.mode;
    decode.reject_complex_keys = options.has(OPT_REJECT_COMPLEX_KEYS);
    std::optional<Error> error;
    {
        Detached detached;
        auto decoded = decode_tape(text, 0, decode);
        if (!decoded.ok()) error = std::move(decoded).error();
    }  // the tape is freed detached too
    if (!error) return true;
    raise_error(*error);
    return false;
}

// Steps 5 and 6 over every document.
bool check_roots(const std::vector<rt::YamlNode>& roots, const LoadOptions& options) {
    if (options.has(OPT_DUPLICATE_KEYS_ERROR)) {
        const Result<void> checked = rt::check_duplicate_keys(roots, options.mode);
        if (!checked.ok()) {
            raise_error(checked.error());
            return false;
        }
    } else if (options.has(OPT_DUPLICATE_KEYS_WARN)) {
        for (const std::string& warning : rt::duplicate_key_warnings(roots, options.mode)) log_warning(warning);
    }
    if (options.has(OPT_YAML_1_1_WARN) && options.yaml11) {
        for (const std::string& warning : rt::version_warnings(roots, options.mode)) log_warning(warning);
    }
    return true;
}

ComposedConversion conversion(const LoadOptions& options, const ComposedRoots& composed) {
    ComposedConversion c;
    c.mode = options.mode;
    c.annotate = options.has(OPT_ANNOTATED);
    c.annotate_numbers = options.has(OPT_ANNOTATE_NUMBERS);
    c.tags = options.tags;
    c.tag_handler = options.tag_handler;
    c.passthrough = options.has(OPT_PASSTHROUGH_TAG);
    c.file_paths = &composed.file_paths;
    return c;
}

// Trees of large documents are freed without holding up other threads.
void release_detached(std::optional<ComposedRoots>& composed) {
    Detached detached;
    composed.reset();
}

}  // namespace

std::optional<ComposedRoots> compose_root_text(std::string text, const LoadOptions&) {
    // Comments are kept by round-trip documents only.
    auto composed = rt::compose_stream(std::move(text), 0, /*with_comments=*/false);
    if (!composed.ok()) {
        raise_error(composed.error());
        return std::nullopt;
    }
    rt::ComposedStream stream = std::move(composed).value();
    ComposedRoots out;
    out.roots = std::move(stream.roots);
    out.stores.push_back(std::move(stream.store));
    return out;
}

PyObject* load_composed(std::string text, const LoadOptions& options) {
    const bool decoder_first = options.has(OPT_ANNOTATED | OPT_REJECT_COMPLEX_KEYS);
    // 1. Errors as the decoder reports them, before anything is composed.
    if (decoder_first && !surface_decoder_errors(text, options)) return nullptr;
    // 2. Compose the root text (and, with directives, the files it includes).
    auto composed = compose_root_text(std::move(text), options);
    if (!composed) return nullptr;
    // 3. (With directives) the decoder over every included file, with its path.
    // 4. No documents.
    if (composed->roots.empty()) {
        release_detached(composed);
        Py_RETURN_NONE;
    }
    // 5, 6. Duplicate keys and 1.1 warnings on the tree.
    if (!check_roots(composed->roots, options)) return nullptr;
    // 7. Validating the first document against the schema goes here.
    // 8. The first document, annotated or plain.
    PyRef result = convert_composed(composed->roots.front(), conversion(options, *composed));
    release_detached(composed);
    return result.release();
}

PyObject* load_composed_all(std::string text, const LoadOptions& options) {
    if (!surface_decoder_errors(text, options)) return nullptr;
    auto composed = compose_root_text(std::move(text), options);
    if (!composed) return nullptr;
    if (!check_roots(composed->roots, options)) return nullptr;
    const ComposedConversion c = conversion(options, *composed);
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(composed->roots.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < composed->roots.size(); ++i) {
        PyRef document = convert_composed(composed->roots[i], c);
        if (!document) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), document.release());
    }
    release_detached(composed);
    return list.release();
}

}  // namespace torvex::ffi
