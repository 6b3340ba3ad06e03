// dumps and to_json: argument conversion and the option checks, in their
// fixed order, before objects are converted and written.
#include <cstdio>
#include <string>

#include "ffi/args.hpp"
#include "ffi/boundary.hpp"
#include "ffi/functions.hpp"
#include "ffi/options.hpp"

namespace torvex::ffi {

namespace {

const Signature kDumpsSignature{"dumps", "obj", {"default", "option", "null_style", "tags", "width"}};
const Signature kToJsonSignature{"to_json", "obj", {"default", "option"}};

enum class NullChoice { Keyword, Empty, Tilde };

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
std::optional<NullChoice> settle_null_style(PyObject* null_style, std::uint64_t option) {
    if (null_style != nullptr) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(null_style, &size);
        if (utf8 == nullptr) return std::nullopt;
        const std::string_view text(utf8, static_cast<std::size_t>(size));
        if (text == "null") return NullChoice::Keyword;
        if (text == "empty") return NullChoice::Empty;
        if (text == "~" || text == "tilde") return NullChoice::Tilde;
        const std::string message = "null_style must be 'null', 'empty', or '~', not " + quoted_for_message(text);
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return std::nullopt;
    }
    const bool keyword = option & OPT_NULL_AS_KEYWORD;
    const bool tilde = option & OPT_NULL_AS_TILDE;
    if (keyword && tilde) {
        PyErr_SetString(PyExc_ValueError, "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive");
        return std::nullopt;
    }
    if (keyword) return NullChoice::Keyword;
    if (tilde) return NullChoice::Tilde;
    return NullChoice::Empty;
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
    const auto nulls = settle_null_style(null_style, *option);
    if (!nulls) return nullptr;
    PyErr_SetString(PyExc_NotImplementedError, "dumps() is not implemented yet");
    return nullptr;
}

PyObject* to_json_impl(PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    ParsedArgs args;
    if (!parse_args(kToJsonSignature, argv, nargs, kwnames, args)) return nullptr;
    const auto option = convert_u64(args.keywords[1], "option");
    if (!option) return nullptr;
    PyErr_SetString(PyExc_NotImplementedError, "to_json() is not implemented yet");
    return nullptr;
}

}  // namespace

PyObject* py_dumps(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return dumps_impl(args, nargs, kwnames); });
}

PyObject* py_to_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return to_json_impl(args, nargs, kwnames); });
}

}  // namespace torvex::ffi
