#include "ffi/composed_load.hpp"

#include <cstdint>
#include <utility>

#include "decode/tape.hpp"
#include "decode/decoder.hpp"
#include "decode/stream_decoder.hpp"
#include "ffi/convert/annotate.hpp"
#include "ffi/directive_load.hpp"
#include "ffi/errors.hpp"
#include "ffi/options.hpp"
#include "ffi/py_ref.hpp"
#include "ffi/schema_check.hpp"
#include "ffi/warnings.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/passes.hpp"
#include "scanner/scanner.hpp"

namespace torvex::ffi {

// Step 1: the value decoder over the call's text, detached, only so that its
// errors (syntax, unknown aliases, alias bombs, complex keys) come first and
// read as they do in the plain pipeline. The values are dropped.
DecodeOptions error_only_decoding(const LoadOptions& options) {
    DecodeOptions decode;
    decode.mode = options.mode;
    decode.reject_complex_keys = options.has(OPT_REJECT_COMPLEX_KEYS);
    return decode;
}

namespace {

// The decoder's first error over `tokens` (tokenized as it tokenizes), or none.
std::optional<Error> decoder_error(const TokenList& tokens, const LoadOptions& options) {
    const DecodeOptions decode = error_only_decoding(options);  // the decoder keeps a reference
    DecodedTape decoded;                                       // the values are dropped
    decoded.tape.nodes.reserve(tokens.size() + 1);
    StreamDecoder decoder(tokens, decode, decoded.tape);
    if (decoder.run(decoded)) return std::nullopt;
    return std::move(decoder.error());
}

bool surface_decoder_errors(const std::string& text, const LoadOptions& options) {
    std::optional<Error> error;
    {
        Detached detached;
        auto decoded = decode_tape(text, 0, error_only_decoding(options));
        if (!decoded.ok()) error = std::move(decoded).error();
    }  // the tape is freed detached too
    if (!error) return true;
    raise_error(*error);
    return false;
}

// Steps 5 and 6 over every document.
bool check_roots(const std::vector<rt::YamlNode>& roots, const LoadOptions& options,
                 std::span<const std::string> file_paths) {
    if (options.has(OPT_DUPLICATE_KEYS_ERROR)) {
        const Result<void> checked = rt::check_duplicate_keys(roots, options.mode, file_paths);
        if (!checked.ok()) {
            raise_error(checked.error());
            return false;
        }
    } else if (options.has(OPT_DUPLICATE_KEYS_WARN)) {
        for (const std::string& warning : rt::duplicate_key_warnings(roots, options.mode, file_paths))
            log_warning(warning);
    }
    if (options.has(OPT_YAML_1_1_WARN) && options.yaml11) {
        for (const std::string& warning : rt::version_warnings(roots, options.mode, file_paths))
            log_warning(warning);
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
    c.merge_keys = composed.merge_keys;
    // Without aliases or merge keys every node is converted once and read no
    // more: each subtree is freed as soon as it is converted.
    c.free_converted = !composed.has_aliases && !composed.merge_keys;
    return c;
}

// Trees of large documents are freed without holding up other threads.
void release_detached(std::optional<ComposedRoots>& composed) {
    Detached detached;
    composed.reset();
}

// A small document's tree is freed as soon as it is converted, while the
// conversion has just read its nodes, rather than walked again cold with
// every other document's at the end (on a stream of many small documents
// that walk missed the cache on nearly every node). Large trees wait for
// release_detached. Documents share no nodes: aliases stay within one.
constexpr std::uint64_t kFreeAtOnceBytes = 64 * 1024;  // of source text

void release_if_small(rt::YamlNode& root) {
    if (root.end_offset < root.span.offset || root.end_offset - root.span.offset > kFreeAtOnceBytes) return;
    root = rt::YamlNode();
}

}  // namespace

namespace {

// Steps 1 and 2 for a text without directives, detached: the text is
// tokenized once, the composer runs over the tokens, then (with
// `decoder_first`) the decoder over the same tokens unless the composer
// vouches that it accepts them. Errors as the separate passes give them: the
// decoder's tokens are the composer's, and its error wins over the tree.
std::optional<ComposedRoots> check_and_compose(std::string text, const LoadOptions& options, bool decoder_first) {
    std::optional<Error> error;
    std::optional<ComposedRoots> out;
    {
        Detached detached;
        auto store = std::make_unique<rt::TextStore>();
        store->text = std::move(text);
        // Comments are kept by round-trip documents only.
        auto scanned = tokenize(store->text, 0, /*record_comments=*/false);
        if (!scanned.ok()) {
            error = std::move(scanned).error();
        } else {
            store->tokens = std::move(scanned).value();
            rt::ComposedStream stream =
                rt::compose_tokenized(std::move(store), /*with_comments=*/false, /*keep_tokens=*/decoder_first);
            // The composer vouches for the decoder on most texts; it knows
            // nothing of the complex-key policy.
            if (decoder_first && (!stream.decoder_accepts || options.has(OPT_REJECT_COMPLEX_KEYS))) {
                error = decoder_error(stream.store->tokens, options);
            }
            stream.store->tokens.release_tokens();
            if (!error) {
                out.emplace();
                out->merge_keys = stream.merge_keys;
                out->has_aliases = stream.has_aliases;
                out->roots = std::move(stream.roots);
                out->stores.push_back(std::move(stream.store));
            }
        }
    }  // a failed attempt's tokens and tree are freed detached too
    if (error) raise_error(*error);
    return out;
}

}  // namespace

bool surface_unvouched_errors(std::span<const std::unique_ptr<rt::TextStore>> stores,
                              const std::vector<std::string>& paths, const std::vector<bool>& vouched,
                              const DecodeOptions& decode, std::size_t first) {
    for (std::size_t id = first; id < stores.size() && id < paths.size(); ++id) {
        if (!stores[id] || (id < vouched.size() && vouched[id])) continue;
        auto decoded = decode_tape(stores[id]->text, static_cast<std::uint32_t>(id), decode);
        if (decoded.ok()) continue;
        Error error = std::move(decoded).error();
        if (id != 0) error.file = paths[id];
        raise_error(error);
        return false;
    }
    return true;
}

std::optional<ComposedRoots> compose_root_text(std::string text, const LoadOptions& options) {
    if (uses_directives(options)) {
        // Plain objects, with nothing else reading the tree (a schema
        // validator walks it): included files may stay on the plain tape.
        const bool plain_files = !options.has(OPT_ANNOTATED) && !options.resolved_schema;
        auto load = load_directives(std::move(text), options, /*with_comments=*/false, plain_files);
        if (!load) return std::nullopt;
        ComposedRoots out;
        out.roots = std::move(load->roots);
        out.file_paths = std::move(load->files.paths);
        out.stores = std::move(load->files.stores);
        out.decoder_vouched = std::move(load->files.decoder_vouched);
        for (auto& store : load->extra_stores) out.stores.push_back(std::move(store));
        out.merge_keys = load->merge_keys;
        return out;
    }
    return check_and_compose(std::move(text), options, /*decoder_first=*/false);
}

// Steps 1 and 2 of both loads.
std::optional<ComposedRoots> checked_composition(std::string text, const LoadOptions& options, bool decoder_first) {
    if (!uses_directives(options)) return check_and_compose(std::move(text), options, decoder_first);
    if (decoder_first && !surface_decoder_errors(text, options)) return std::nullopt;
    return compose_root_text(std::move(text), options);
}

PyObject* load_composed(std::string text, const LoadOptions& options) {
    // The trees of this call are freed before it returns (declared first, closed last).
    const rt::NodeArenaSession arena;
    const bool decoder_first = options.has(OPT_ANNOTATED | OPT_REJECT_COMPLEX_KEYS);
    // 1. Errors as the decoder reports them, before anything is composed.
    // 2. Compose the root text (and, with directives, the files it includes).
    auto composed = checked_composition(std::move(text), options, decoder_first);
    if (!composed) return nullptr;
    // 3. The decoder over every file the composer did not vouch for, with its
    //    path (the root too, unless step 1 read it). The composer's word
    //    leaves the complex-key policy out: under it, every file is read.
    const std::vector<bool> no_word;
    const std::vector<bool>& vouched = options.has(OPT_REJECT_COMPLEX_KEYS) ? no_word : composed->decoder_vouched;
    if (!surface_unvouched_errors(composed->stores, composed->file_paths, vouched, error_only_decoding(options),
                                  decoder_first ? 1 : 0)) {
        return nullptr;
    }
    // 4. No documents.
    if (composed->roots.empty()) {
        release_detached(composed);
        Py_RETURN_NONE;
    }
    // 5, 6. Duplicate keys and 1.1 warnings on the tree.
    if (!check_roots(composed->roots, options, composed->file_paths)) return nullptr;
    // 7. The first document against the schema, in the load's resolution mode.
    if (!validate_first_document(options, composed->roots, composed->file_paths)) return nullptr;
    // 8. The first document, annotated or plain.
    PyRef result = convert_composed(composed->roots.front(), conversion(options, *composed));
    release_detached(composed);
    return result.release();
}

PyObject* load_composed_all(std::string text, const LoadOptions& options) {
    const rt::NodeArenaSession arena;  // as in load_composed
    auto composed = checked_composition(std::move(text), options, /*decoder_first=*/true);
    if (!composed) return nullptr;
    if (!check_roots(composed->roots, options, composed->file_paths)) return nullptr;
    ConversionShared shared;  // its untracked objects are tracked again once the list is complete
    ComposedConversion c = conversion(options, *composed);
    c.shared = &shared;
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(composed->roots.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < composed->roots.size(); ++i) {
        PyRef document = convert_composed(composed->roots[i], c);
        if (!document) return nullptr;
        release_if_small(composed->roots[i]);
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), document.release());
    }
    release_detached(composed);
    return list.release();
}

}  // namespace torvex::ffi
