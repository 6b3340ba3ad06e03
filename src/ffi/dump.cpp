// dumps and to_json: argument conversion and the option checks in their
// fixed order, then the conversion to a value tree (attached: it may call
// user code) and the emission (detached: it touches only the tree and the
// output buffer). The tree is released before the bytes object is made.
// to_json without sorted keys needs no tree: it writes the objects as it
// reads them (json_writer), attached.
#include <climits>
#include <cstdio>
#include <string>
#include <utility>

#include "encode/dump_options.hpp"
#include "encode/json_emitter.hpp"
#include "core/spare_buffer.hpp"
#include "encode/out_buffer.hpp"
#include "encode/yaml_emitter.hpp"
#include "ffi/args.hpp"
#include "ffi/boundary.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/convert/json_writer.hpp"
#include "ffi/errors.hpp"
#include "ffi/functions.hpp"
#include "ffi/json_output.hpp"
#include "ffi/options.hpp"
#include "ffi/py_ref.hpp"
#include "ffi/types/roundtrip_objects.hpp"

namespace torvex::ffi {

namespace {

const Signature kDumpsSignature{"dumps", "obj", {"default", "option", "null_style", "tags", "width"}};
const Signature kToJsonSignature{"to_json", "obj", {"default", "option"}};


// A text as a double-quoted literal with backslash escapes for quotes,
// backslashes and control characters, for error messages.
std::string quoted_for_message(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", c);
                    out += buf;
                } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
                    // C1 control characters (U+0080..U+009F)
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned char>(text[i + 1]));
                    out += buf;
                    ++i;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

// The null style from `null_style` or, without it, from the null bits.
std::optional<NullStyle> settle_null_style(PyObject* null_style, std::uint64_t option) {
    if (null_style != nullptr) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(null_style, &size);
        if (utf8 == nullptr) return std::nullopt;
        const std::string_view text(utf8, static_cast<std::size_t>(size));
        if (text == "null") return NullStyle::Keyword;
        if (text == "empty") return NullStyle::Empty;
        if (text == "~" || text == "tilde") return NullStyle::Tilde;
        const std::string message = "null_style must be 'null', 'empty', or '~', not " + quoted_for_message(text);
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return std::nullopt;
    }
    return null_style_from_bits(option);
}

constexpr std::size_t kInitialOutput = 1024;
// The output buffer, kept per thread between calls (up to kMaxSpareBytes,
// as SpareBuffer keeps the engine's): a large output then neither grows by
// copies nor faults fresh pages in on every call. A call made from user code
// inside another finds no spare and uses a buffer of its own.
class SpareOutput {
public:
    SpareOutput() : buffer_(std::exchange(kept(), OutBuffer(0))) {
        buffer_.truncate(0);
        if (buffer_.capacity() == 0) buffer_ = OutBuffer(kInitialOutput);
    }
    ~SpareOutput() {
        OutBuffer& slot = kept();
        if (buffer_.capacity() <= kMaxSpareBytes && buffer_.capacity() > slot.capacity()) slot = std::move(buffer_);
    }
    SpareOutput(const SpareOutput&) = delete;
    SpareOutput& operator=(const SpareOutput&) = delete;

    OutBuffer& buffer() noexcept { return buffer_; }

private:
    static OutBuffer& kept() noexcept {
        thread_local OutBuffer buffer(0);
        return buffer;
    }

    OutBuffer buffer_;
};

DumpOptions yaml_options(std::uint64_t option, NullStyle nulls, std::uint64_t width) {
    DumpOptions o;
    o.indent = (option & OPT_INDENT_4) ? 4 : 2;
    o.width = width > UINT_MAX ? UINT_MAX : static_cast<unsigned>(width);  // wider than any line
    o.null_style = nulls;
    o.sort_keys = option & OPT_SORT_KEYS;
    o.flow_style = option & OPT_FLOW_STYLE;
    o.indentless_sequences = option & OPT_INDENTLESS_SEQUENCES;
    o.double_quotes = !(option & OPT_SINGLE_QUOTES);
    o.explicit_start = option & OPT_EXPLICIT_START;
    o.explicit_end = option & OPT_EXPLICIT_END;
    return o;
}

PyObject* dumps_impl(PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    ParsedArgs args;
    if (!parse_args(kDumpsSignature, argv, nargs, kwnames, args)) return nullptr;
    const auto option = convert_u64(args.keywords[1], "option");
    if (!option) return nullptr;
    PyObject* null_style = args.keyword(2);
    if (null_style != nullptr && !require_str(null_style, "dumps", "null_style")) return nullptr;
    PyObject* tags = args.keyword(3);
    if (tags != nullptr && !require_dict(tags, "dumps", "tags")) return nullptr;
    const auto width = convert_u64(args.keywords[4], "width");
    if (!width) return nullptr;
    // A round-trip document is its own YAML; a view dumps its plain value.
    PyObject* obj = args.positional;
    if (is_document(obj)) return PyObject_CallMethod(obj, "to_yaml", nullptr);
    PyRef snapshot;
    if (is_view(obj)) {
        snapshot = PyRef::steal(PyObject_CallMethod(obj, "to_dict", nullptr));
        if (!snapshot) return nullptr;
        obj = snapshot.get();
    }
    const auto nulls = settle_null_style(null_style, *option);
    if (!nulls) return nullptr;

    EncodeOptions conversion = EncodeOptions::from_option(*option);
    conversion.default_fn = args.keyword(0);
    conversion.tags = tags;
    std::optional<EncodedTape> encoded(std::in_place);
    if (!to_tape(obj, conversion, *encoded)) return nullptr;

    const DumpOptions options = yaml_options(*option, *nulls, *width);
    SpareOutput spare;
    OutBuffer& out = spare.buffer();
    {
        Detached detached;
        emit_yaml_into(out, encoded->tape, 0, options);
        encoded.reset();
    }
    return PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size()));
}

PyObject* to_json_impl(PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    ParsedArgs args;
    if (!parse_args(kToJsonSignature, argv, nargs, kwnames, args)) return nullptr;
    const auto option = convert_u64(args.keywords[1], "option");
    if (!option) return nullptr;
    PyObject* obj = args.positional;
    PyRef snapshot;
    if (is_document(obj) || is_view(obj)) {
        if (is_document(obj)) {
            SharedBorrow borrow(as_document(obj));
            if (!borrow.ok()) return nullptr;
            if (as_document(obj)->doc->documents.empty()) return PyBytes_FromString("null");
        }
        snapshot = PyRef::steal(PyObject_CallMethod(obj, "to_dict", nullptr));
        if (!snapshot) return nullptr;
        obj = snapshot.get();
    }

    EncodeOptions conversion = EncodeOptions::from_option(*option);
    conversion.default_fn = args.keyword(0);
    const unsigned indent = (*option & OPT_INDENT_4) ? 4 : (*option & OPT_INDENT_2) ? 2 : 0;
    // Unsorted output follows the objects' own order: written as they are
    // read, a large output straight into the bytes object returned.
    if (!(*option & OPT_SORT_KEYS)) {
        JsonOutput output;
        if (!write_json(obj, conversion, indent, output.buffer())) return nullptr;
        return output.finish();
    }

    SpareOutput spare;
    OutBuffer& out = spare.buffer();
    std::optional<EncodedTape> encoded(std::in_place);
    if (!to_tape(obj, conversion, *encoded)) return nullptr;
    Result<void> written = Ok{};
    {
        Detached detached;
        written = emit_json_into(out, encoded->tape, 0, indent, (*option & OPT_SORT_KEYS) != 0);
        encoded.reset();
    }
    if (!written) return raise_error(written.error());
    return PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size()));
}

}  // namespace

PyObject* py_dumps(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return dumps_impl(args, nargs, kwnames); });
}

PyObject* py_to_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return to_json_impl(args, nargs, kwnames); });
}

}  // namespace torvex::ffi
