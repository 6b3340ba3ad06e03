// The reading of dicts and lists follows the converter's (encode.cpp): runs
// of leaves are written inside the container's critical section, any other
// item is held by a strong reference and written after the section is left,
// and dicts are checked for changes the way the interpreter checks them.
#include "ffi/convert/json_writer.hpp"

#include <optional>
#include <string>
#include <utility>

#include "core/stack_guard.hpp"
#include "encode/float_text.hpp"
#include "encode/json_emitter.hpp"
#include "encode/json_string.hpp"
#include "encode/number_text.hpp"
#include "ffi/convert/container_items.hpp"
#include "ffi/convert/encode_detail.hpp"
#include "ffi/errors.hpp"

namespace torvex::ffi {

namespace {

using encode::classify;
using encode::classify_in_section;
using encode::CriticalSection;
using encode::Leaf;

class JsonWriter {
public:
    JsonWriter(const EncodeOptions& options, OutBuffer& out, unsigned indent) noexcept
        : options_(options), out_(out), indent_(indent) {}

    // `depth` counts the collections around `obj`, which is also its level of
    // indentation. Inlined where collections hold other collections, which
    // then call each other directly.
    [[gnu::always_inline]] bool value(PyObject* obj, unsigned depth) {
        if (depth >= kMaxEncodeDepth) return fail(ErrorKind::Encode, encode::kTooDeep);
        if (const Leaf kind = classify(obj); kind != Leaf::No) return leaf(obj, kind);
        PyTypeObject* type = Py_TYPE(obj);
        if (type == &PyDict_Type) return with_stack_at(depth, [&] { return dict(obj, depth); });
        if (type == &PyList_Type) return with_stack_at(depth, [&] { return list(obj, depth); });
        if (type == &PyTuple_Type) return with_stack_at(depth, [&] { return tuple(obj, depth); });
        return with_stack([&] { return converted(obj, depth); });
    }

    // An item its container did not take for a leaf: most often a collection,
    // so those are tried first (the order does not matter otherwise).
    [[gnu::always_inline]] bool item(PyObject* obj, unsigned depth) {
        if (depth >= kMaxEncodeDepth) return fail(ErrorKind::Encode, encode::kTooDeep);
        PyTypeObject* type = Py_TYPE(obj);
        if (type == &PyDict_Type) return with_stack_at(depth, [&] { return dict(obj, depth); });
        if (type == &PyList_Type) return with_stack_at(depth, [&] { return list(obj, depth); });
        if (type == &PyTuple_Type) return with_stack_at(depth, [&] { return tuple(obj, depth); });
        if (const Leaf kind = classify(obj); kind != Leaf::No) return leaf(obj, kind);
        return with_stack([&] { return converted(obj, depth); });
    }

    // After value() failed: an error the writer recorded is raised in place
    // of whatever Python error is set; otherwise that error stands.
    bool failed() {
        if (error_) {
            if (PyErr_Occurred()) PyErr_Clear();
            raise_error(*error_);
        }
        return false;
    }

    // After value() succeeded: a collection used as a key fails the call.
    bool written() {
        if (!collection_key_) return true;
        raise_error(Error::plain(ErrorKind::Encode, kJsonCollectionKeyMessage));
        return false;
    }

private:
    bool fail(ErrorKind kind, const char* message) {
        error_ = Error::plain(kind, message);
        return false;
    }

    void newline(unsigned level) {
        if (indent_ == 0) return;
        out_.put('\n');
        out_.spaces(static_cast<std::size_t>(indent_) * level);
    }

    // Before the entry `n` of a collection at `depth`.
    void separate(std::uint64_t n, unsigned depth) {
        if (n) out_.put(',');
        newline(depth + 1);
    }

    // After `count` entries; the closing bracket of an empty collection
    // follows the opening one directly.
    void close(std::uint64_t count, unsigned depth, char bracket) {
        if (count) newline(depth);
        out_.put(bracket);
    }

    [[gnu::always_inline]] bool string(PyObject* str) {
        std::string_view text;
        if (!encode::str_text(str, text)) return false;
        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t n = text.size();
        char* const d = out_.reserve(n + 2 + json_string_detail::kShortSlack);
        d[0] = '"';
        std::size_t plain = json_string_detail::short_plain(p, n, d + 1);
        if (plain > n) plain = json_string_detail::copy_plain(p, n, d + 1);
        if (plain == n) [[likely]] {
            d[n + 1] = '"';
            out_.advance(n + 2);
            return true;
        }
        out_.advance(plain + 1);
        json_string_detail::append_escaped_rest(out_, p, n, plain);
        return true;
    }

    // An exact int; beyond 64 bits, the digits of int's own repr.
    [[gnu::always_inline]] bool integer(PyObject* obj) {
        auto* number = reinterpret_cast<PyLongObject*>(obj);
        if (PyUnstable_Long_IsCompact(number)) [[likely]] {
            append_int(out_, PyUnstable_Long_CompactValue(number));
            return true;
        }
        return large_integer(obj);
    }

    [[gnu::noinline]] bool large_integer(PyObject* obj) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
        if (overflow == 0) {
            if (v == -1 && PyErr_Occurred()) return false;
            append_int(out_, v);
            return true;
        }
        PyRef text = PyRef::steal(PyLong_Type.tp_repr(obj));
        std::string_view digits;
        if (!text || encode::utf8_of(text.get(), digits) == nullptr) return false;
        append_big_int(out_, digits);
        return true;
    }

    [[gnu::noinline]] void floating(double v) {
        char* p = out_.reserve(kFloatTextMax);
        out_.advance(json_float_text(v, p));
    }

    // Inlined into the loops over containers, which are mostly leaves.
    [[gnu::always_inline]] bool leaf(PyObject* obj, Leaf kind) {
        switch (kind) {
            case Leaf::Str: return string(obj);
            case Leaf::Int: return integer(obj);
            case Leaf::Float: floating(PyFloat_AS_DOUBLE(obj)); return true;
            case Leaf::Bool: out_.append(obj == Py_True ? std::string_view("true") : std::string_view("false")); return true;
            case Leaf::None: out_.append("null"); return true;
            case Leaf::No: break;
        }
        return true;
    }

    // A leaf as an object key: a str escaped, another scalar's text in quotes
    // (plain ASCII, nothing to escape).
    // Compact output: the separator, a key of plain ASCII and the colon in one
    // reservation, for the common entry.
    void compact_ascii_key(PyObject* key, bool comma) {
        const auto* p = static_cast<const unsigned char*>(PyUnicode_DATA(key));
        const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(key));
        char* const start = out_.reserve(n + 4 + json_string_detail::kShortSlack);
        char* d = start;
        if (comma) *d++ = ',';
        *d++ = '"';
        std::size_t plain = json_string_detail::short_plain(p, n, d);
        if (plain > n) plain = json_string_detail::copy_plain(p, n, d);
        if (plain == n) [[likely]] {
            d[n] = '"';
            d[n + 1] = ':';
            out_.advance(static_cast<std::size_t>(d - start) + n + 2);
            return;
        }
        out_.advance(static_cast<std::size_t>(d - start) + plain);
        json_string_detail::append_escaped_rest(out_, p, n, plain);
        out_.put(':');
    }

    bool leaf_key(PyObject* key, Leaf kind) {
        if (kind == Leaf::Str) return string(key);
        out_.put('"');
        if (!leaf(key, kind)) return false;
        out_.put('"');
        return true;
    }

    bool key(PyObject* key, unsigned depth) {
        if (depth < kMaxEncodeDepth) {
            if (const Leaf kind = classify(key); kind != Leaf::No) return leaf_key(key, kind);
        }
        if (!convert(key, depth)) return false;
        if (!emit_json_key_into(out_, scratch_->tape, 0)) collection_key_ = true;
        return true;
    }

    // Any other object through the converter, then the tape's emitter at
    // this level of indentation.
    bool converted(PyObject* obj, unsigned depth) {
        if (!convert(obj, depth)) return false;
        if (!emit_json_into(out_, scratch_->tape, 0, indent_, false, depth)) collection_key_ = true;
        return true;
    }

    // Converts into the scratch tape, which one object at a time uses (the
    // converter never comes back here).
    bool convert(PyObject* obj, unsigned depth) {
        if (scratch_) {
            scratch_->tape.nodes.clear();
            scratch_->tape.texts.clear();
            scratch_->texts.clear();
        } else {
            scratch_.emplace();
        }
        return to_tape(obj, options_, *scratch_, depth);
    }

    bool list(PyObject* list, unsigned depth) {
        const unsigned child = depth + 1;
        out_.put('[');
        std::uint64_t count = 0;
        const bool ok = encode::for_each_list_item(
            list, child < kMaxEncodeDepth,
            [&](PyObject* current, Leaf kind) {
                separate(count++, depth);
                return leaf(current, kind);
            },
            [&](PyObject* current) {
                separate(count++, depth);
                return item(current, child);
            });
        if (!ok) return false;
        close(count, depth, ']');
        return true;
    }

    bool tuple(PyObject* tuple, unsigned depth) {
        const Py_ssize_t size = PyTuple_GET_SIZE(tuple);
        out_.put('[');
        for (Py_ssize_t i = 0; i < size; ++i) {
            separate(static_cast<std::uint64_t>(i), depth);
            if (!value(PyTuple_GET_ITEM(tuple, i), depth + 1)) return false;
        }
        close(static_cast<std::uint64_t>(size), depth, ']');
        return true;
    }

    bool dict(PyObject* dict, unsigned depth) {
        const unsigned child = depth + 1;
        out_.put('{');
        std::uint64_t count = 0;
        const bool ok = encode::for_each_dict_entry(
            dict, child < kMaxEncodeDepth,
            [&](PyObject* k, PyObject* v, Leaf key_kind, Leaf value_kind) {
                if (indent_ == 0 && key_kind == Leaf::Str && PyUnicode_IS_COMPACT_ASCII(k)) {
                    compact_ascii_key(k, count++ != 0);
                } else {
                    separate(count++, depth);
                    if (!leaf_key(k, key_kind)) return false;
                    colon();
                }
                return leaf(v, value_kind);
            },
            [&](PyObject* k, PyObject* v) {
                separate(count++, depth);
                if (!key(k, child)) return false;
                colon();
                return item(v, child);
            });
        if (!ok) return false;
        close(count, depth, '}');
        return true;
    }

    void colon() {
        out_.put(':');
        if (indent_) out_.put(' ');
    }

    const EncodeOptions& options_;
    OutBuffer& out_;
    const unsigned indent_;
    std::optional<EncodedTape> scratch_;
    std::optional<Error> error_;
    bool collection_key_ = false;
};

}  // namespace

bool write_json(PyObject* obj, const EncodeOptions& options, unsigned indent, OutBuffer& out) {
    JsonWriter writer(options, out, indent);
    return writer.value(obj, 0) ? writer.written() : writer.failed();
}

}  // namespace torvex::ffi
