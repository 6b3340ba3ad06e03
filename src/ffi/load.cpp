// loads and loads_all: argument conversion, text acquisition, the checks in
// their fixed order, then the pipeline the option bits select.
#include <optional>
#include <string>
#include <utility>

#include "ffi/args.hpp"
#include "ffi/directive_load.hpp"
#include "ffi/boundary.hpp"
#include "ffi/composed_load.hpp"
#include "ffi/functions.hpp"
#include "ffi/input.hpp"
#include "ffi/load_options.hpp"
#include "ffi/options.hpp"
#include "ffi/placed_load.hpp"
#include "ffi/roundtrip_load.hpp"
#include "ffi/schema_check.hpp"
#include "decode/decoder.hpp"
#include "decode/tape.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/errors.hpp"
#include "ffi/warnings.hpp"
#include "schema/references.hpp"

namespace torvex::ffi {

namespace {

const Signature kLoadsSignature{"loads",
                                "data",
                                {"option", "include_dir", "schema", "schema_resolver", "tag_handler", "tags",
                                 "root_path", "on_missing_secret", "on_missing_env_var"}};
const Signature kLoadsAllSignature{"loads_all", "data", {"option", "tag_handler", "tags"}};

bool convert_load_arguments(const ParsedArgs& args, LoadOptions& options) {
    auto option = convert_u64(args.keywords[0], "option");
    if (!option) return false;
    options.option = *option;
    if (PyObject* dir = args.keyword(1)) {
        options.include_dir = convert_path(dir, "include_dir");
        if (!options.include_dir) return false;
    }
    options.schema = args.keyword(2);
    options.schema_resolver = args.keyword(3);
    options.tag_handler = args.keyword(4);
    options.tags = args.keyword(5);
    if (PyObject* root = args.keyword(6)) {
        options.root_path = convert_path(root, "root_path");
        if (!options.root_path) return false;
    }
    options.on_missing_secret = args.keyword(7);
    options.on_missing_env_var = args.keyword(8);
    return true;
}

}  // namespace

DecodeOptions decode_options(const LoadOptions& options) {
    DecodeOptions decode;
    decode.mode = options.mode;
    decode.duplicate_keys_error = options.has(OPT_DUPLICATE_KEYS_ERROR);
    decode.duplicate_keys_warn = options.has(OPT_DUPLICATE_KEYS_WARN) && !decode.duplicate_keys_error;
    decode.reject_complex_keys = options.has(OPT_REJECT_COMPLEX_KEYS);
    decode.yaml11_warnings = options.has(OPT_YAML_1_1_WARN) && options.yaml11;
    return decode;
}

namespace {

// A decoded stream, converted to Python from its tape; where merge keys had
// to be applied, from a second tape laid out from the merged Value trees.
struct PlainStream {
    // The decoder writes into `decoded` where it stands: its tape takes the
    // thread's spare buffer here, once.
    PlainStream() = default;
    PlainStream(const PlainStream&) = delete;
    PlainStream& operator=(const PlainStream&) = delete;

    DecodedTape decoded;
    std::vector<Value> merged;  // every document with merge keys applied, when the stream has any
    // `merged` as a tape. Its texts point into the Values' strings, short ones
    // included, which stay put when the stream moves: a moved vector keeps its
    // elements. Made only for merge keys: a Tape takes the thread's spare buffer.
    std::optional<Tape> merged_tape;
    std::vector<std::size_t> merged_roots;

    std::size_t size() const { return decoded.documents.size(); }
    std::size_t nodes() const { return decoded.tape.nodes.size() + (merged_tape ? merged_tape->nodes.size() : 0); }
    PyRef document(std::size_t i, DecodeContext& context) const {
        return merged_tape ? to_python(*merged_tape, merged_roots[i], context)
                           : to_python(decoded.tape, decoded.documents[i], context);
    }
    // Checks the first document against the call's schema, if any.
    bool validate(const LoadOptions& options, std::string_view text) const {
        if (merged_tape) return validate_decoded(options, text, *merged_tape, merged_roots[0], decoded.anchors);
        return validate_decoded(options, text, decoded.tape, decoded.documents[0], decoded.anchors);
    }
    void apply_merge_keys() {
        merged = tape_documents(decoded);
        merged_tape.emplace();
        for (const Value& document : merged) {
            merged_roots.push_back(merged_tape->nodes.size());
            append_value(*merged_tape, document);
        }
    }
};

// Decodes the whole stream into `stream` (made here) detached from the
// interpreter, then raises its error (false, `stream` emptied) or logs its
// warnings. Every document is decoded, so an error in a later document fails the call.
bool decode_plain(std::string_view text, const LoadOptions& options, std::optional<PlainStream>& stream) {
    const DecodeOptions decode = decode_options(options);
    stream.emplace();
    std::optional<Error> error;
    {
        // A small text decodes in less time than handing the interpreter to
        // another thread and taking it back costs: it keeps it.
        constexpr std::size_t kDetachedDecode = 4096;  // bytes
        std::optional<Detached> detached;
        if (text.size() >= kDetachedDecode) detached.emplace();
        error = decode_tape_into(text, 0, decode, stream->decoded);
        if (!error && stream->decoded.has_merge_keys) stream->apply_merge_keys();
    }
    if (error) {
        stream.reset();
        raise_error(*error);
        return false;
    }
    for (const std::string& warning : stream->decoded.warnings) log_warning(warning);
    return true;
}

void set_up_conversion(DecodeContext& context, const LoadOptions& options) {
    context.tags = options.tags;
    context.tag_handler = options.tag_handler;
    context.passthrough = options.has(OPT_PASSTHROUGH_TAG);
}

// Decoded streams can be large: free them without holding up other threads.
// Freeing a small one costs less than detaching and attaching again.
void release(std::optional<PlainStream>& stream) {
    constexpr std::size_t kDetachedRelease = 4096;  // tape nodes
    if (stream->nodes() < kDetachedRelease) {
        stream.reset();
        return;
    }
    Detached detached;
    stream.reset();
}

PyObject* loads_impl(PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    ParsedArgs args;
    if (!parse_args(kLoadsSignature, argv, nargs, kwnames, args)) return nullptr;
    LoadOptions options;
    if (!convert_load_arguments(args, options)) return nullptr;
    auto input = acquire_text(args.positional);
    if (!input) return nullptr;
    const std::string_view text = input->view();
    if (!settle_schema(options, text)) return nullptr;
    settle_resolution(options, text);
    if (!check_tags(options)) return nullptr;
    if (options.has(OPT_ROUND_TRIP)) return load_round_trip(std::move(*input).take(), options);
    if (placed_load_applies(options)) {
        // Read from the caller's text where it can be, with no copy of it.
        if (auto placed = load_placed(text, options, /*all=*/false)) return placed->release();
    }
    if (options.has(OPT_ANNOTATED) || uses_directives(options)) {
        return load_composed(std::move(*input).take(), options);
    }

    std::optional<PlainStream> stream;
    if (!decode_plain(text, options, stream)) return nullptr;
    if (stream->size() == 0) Py_RETURN_NONE;
    if (!stream->validate(options, text)) return nullptr;
    PyRef result;
    {
        DecodeContext context;
        set_up_conversion(context, options);
        result = stream->document(0, context);
    }
    release(stream);
    return result.release();
}

PyObject* loads_all_impl(PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    ParsedArgs args;
    if (!parse_args(kLoadsAllSignature, argv, nargs, kwnames, args)) return nullptr;
    LoadOptions options;
    auto option = convert_u64(args.keywords[0], "option");
    if (!option) return nullptr;
    options.option = *option;
    options.tag_handler = args.keyword(1);
    options.tags = args.keyword(2);
    auto input = acquire_text(args.positional);
    if (!input) return nullptr;
    const std::string_view text = input->view();
    if (options.has(OPT_INCLUDES | OPT_SECRETS | OPT_ENV_VAR | OPT_ROUND_TRIP)) {
        PyErr_SetString(PyExc_ValueError,
                        "loads_all() does not support OPT_INCLUDES, OPT_SECRETS, OPT_ENV_VAR, or OPT_ROUND_TRIP; "
                        "use loads() for include resolution and round-trip editing");
        return nullptr;
    }
    settle_resolution(options, text);
    if (!check_tags(options)) return nullptr;
    if (placed_load_applies(options)) {
        if (auto placed = load_placed(text, options, /*all=*/true)) return placed->release();
    }
    if (options.has(OPT_ANNOTATED)) return load_composed_all(std::move(*input).take(), options);

    std::optional<PlainStream> stream;
    if (!decode_plain(text, options, stream)) return nullptr;
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(stream->size())));
    if (!list) return nullptr;
    {
        // One context for the stream: its documents share their keys.
        DecodeContext context;
        set_up_conversion(context, options);
        for (std::size_t i = 0; i < stream->size(); ++i) {
            PyRef document = stream->document(i, context);
            if (!document) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), document.release());
        }
    }
    release(stream);
    return list.release();
}

}  // namespace

bool settle_schema(LoadOptions& options, std::string_view text) {
    if (options.schema == nullptr) {
        if (options.schema_resolver != nullptr) {
            PyErr_SetString(PyExc_ValueError, "schema_resolver requires schema=\"auto\"");
            return false;
        }
        return true;
    }
    const bool is_auto = PyUnicode_Check(options.schema) && PyUnicode_EqualToUTF8(options.schema, "auto") == 1;
    if (!is_auto) {
        options.resolved_schema = PyRef::borrow(options.schema);
        return true;
    }
    if (options.schema_resolver == nullptr) {
        PyErr_SetString(PyExc_ValueError,
                        "schema=\"auto\" requires a schema_resolver callable to resolve the in-file reference");
        return false;
    }
    const auto reference = find_schema_reference(text);
    if (!reference) return true;
    PyRef ref = PyRef::steal(
        PyUnicode_DecodeUTF8(reference->data(), static_cast<Py_ssize_t>(reference->size()), "strict"));
    if (!ref) return false;
    PyRef schema = PyRef::steal(PyObject_CallOneArg(options.schema_resolver, ref.get()));
    if (!schema) return false;
    if (schema.get() != Py_None) options.resolved_schema = std::move(schema);
    return true;
}

void settle_resolution(LoadOptions& options, std::string_view text) {
    if (const auto version = find_yaml_version(text)) {
        options.yaml11 = version->major == 1 && version->minor == 1;
    } else {
        options.yaml11 = options.has(OPT_YAML_1_1 | OPT_PYYAML_COMPAT | OPT_UPGRADE_1_1);
    }
    if (options.has(OPT_PYYAML_COMPAT)) {
        options.mode = ResolveMode::PyYamlCompat;
    } else {
        options.mode = options.yaml11 ? ResolveMode::Yaml11 : ResolveMode::Yaml12;
    }
}

bool check_tags(const LoadOptions& options) {
    if (options.tags == nullptr || PyDict_Check(options.tags)) return true;
    PyErr_SetString(PyExc_TypeError, "tags must be a dict (or Tags) mapping each tag name to a callable");
    return false;
}

PyObject* py_loads(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return loads_impl(args, nargs, kwnames); });
}

PyObject* py_loads_all(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return loads_all_impl(args, nargs, kwnames); });
}

}  // namespace torvex::ffi
