#include "ffi/placed_load.hpp"

#include <cstddef>
#include <vector>

#include "core/spare_buffer.hpp"
#include "decode/tape.hpp"
#include "ffi/convert/annotate_tape.hpp"
#include "ffi/directive_load.hpp"
#include "ffi/options.hpp"

namespace torvex::ffi {

bool placed_load_applies(const LoadOptions& options) {
    constexpr std::uint64_t kComposedOnly = OPT_DUPLICATE_KEYS_ERROR | OPT_DUPLICATE_KEYS_WARN |
                                            OPT_REJECT_COMPLEX_KEYS | OPT_ROUND_TRIP;
    if (!options.has(OPT_ANNOTATED) || options.has(kComposedOnly) || uses_directives(options)) return false;
    if (options.resolved_schema) return false;
    return !(options.has(OPT_YAML_1_1_WARN) && options.yaml11);
}

namespace {

// A small text is read, and its stream freed, in less time than handing the
// interpreter to another thread and taking it back costs.
constexpr std::size_t kDetached = 4096;  // bytes of text

// The places buffer is the thread's spare, as the tape's is: a fresh one for
// every load would be allocated, faulted in and given back each time.
struct PlacedStream {
    PlacedStream() = default;
    PlacedStream(const PlacedStream&) = delete;
    PlacedStream& operator=(const PlacedStream&) = delete;
    ~PlacedStream() { SpareBuffer<TapePlace>::give(places); }

    DecodedTape decoded;
    std::vector<TapePlace> places = SpareBuffer<TapePlace>::take();
};

PyRef convert_documents(const PlacedStream& stream, const LoadOptions& options, bool all) {
    const std::vector<std::size_t>& documents = stream.decoded.documents;
    DecodeContext context;
    context.tags = options.tags;
    context.tag_handler = options.tag_handler;
    context.passthrough = options.has(OPT_PASSTHROUGH_TAG);
    ConversionShared shared;  // its untracked objects are tracked again once the result is complete
    PlacedConversion conversion;
    conversion.annotate_numbers = options.has(OPT_ANNOTATE_NUMBERS);
    conversion.context = &context;
    conversion.shared = &shared;
    const Tape& tape = stream.decoded.tape;
    if (!all) {
        if (documents.empty()) return PyRef::borrow(Py_None);
        return convert_placed(tape, stream.places, documents.front(), conversion);
    }
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(documents.size())));
    if (!list) return list;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        PyRef document = convert_placed(tape, stream.places, documents[i], conversion);
        if (!document) return document;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), document.release());
    }
    return list;
}

}  // namespace

std::optional<PyRef> load_placed(std::string_view text, const LoadOptions& options, bool all) {
    std::optional<PlacedStream> stream(std::in_place);
    const bool large = text.size() >= kDetached;
    bool read = false;
    {
        std::optional<Detached> detached;
        if (large) detached.emplace();
        DecodeOptions decode;
        decode.mode = options.mode;
        // Merge keys are left to the composed pipeline (the reader gives way at them).
        read = decode_tape_direct_into(text, 0, decode, stream->decoded, &stream->places) &&
               !stream->decoded.has_merge_keys;
        if (!read) stream.reset();
    }
    if (!read) return std::nullopt;
    PyRef result = convert_documents(*stream, options, all);
    if (large) {
        Detached detached;
        stream.reset();
    }
    return result;
}

}  // namespace torvex::ffi
