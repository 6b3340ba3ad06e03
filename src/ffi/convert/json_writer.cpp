// The reading of dicts and lists follows the converter's (encode.cpp): runs
// of leaves are written inside the container's critical section, any other
// item is held by a strong reference and written after the section is left,
// and dicts are checked for changes the way the interpreter checks them.
#include "ffi/convert/json_writer.hpp"

#include <cstring>
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

// Compact output and indented output are separate instances, so that the
// compact one, the common and the fast one, carries no test of the indent.
template <bool kIndented>
class JsonWriter {
public:
    JsonWriter(const EncodeOptions& options, OutBuffer& out, unsigned indent) noexcept
        : options_(options), out_(out), indent_(kIndented ? indent : 0) {}

    // `depth` counts the collections around `obj`, which is also its level of
    // indentation. Inlined where collections hold other collections, which
    // then call each other directly.
    [[gnu::always_inline]] bool value(PyObject* obj, unsigned depth) {
        if (depth >= kMaxEncodeDepth) return fail(ErrorKind::Encode, encode::kTooDeep);
        if (const Leaf kind = classify(obj); kind != Leaf::No) return leaf(obj, kind, NoPrefix{});
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
        if (const Leaf kind = classify(obj); kind != Leaf::No) return leaf(obj, kind, NoPrefix{});
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

    // Bytes put_separator() may write before an item at `level`.
    std::size_t separator_room(unsigned level) const noexcept {
        if constexpr (kIndented) return 2 + static_cast<std::size_t>(indent_) * level;
        return 1;
    }

    // The comma (unless first) and, when indenting, the line break and the
    // indentation of `level`, into room reserved by the caller.
    char* put_separator(char* d, bool comma, unsigned level) const noexcept {
        if (comma) *d++ = ',';
        if constexpr (kIndented) {
            *d++ = '\n';
            const std::size_t spaces = static_cast<std::size_t>(indent_) * level;
            std::memset(d, ' ', spaces);
            d += spaces;
        }
        return d;
    }

    void newline(unsigned level) {
        if constexpr (kIndented) {
            char* const start = out_.reserve(separator_room(level));
            out_.advance(static_cast<std::size_t>(put_separator(start, false, level) - start));
        }
    }

    // Before the entry `n` of a collection at `depth`.
    void separate(std::uint64_t n, unsigned depth) {
        char* const start = out_.reserve(separator_room(depth + 1));
        out_.advance(static_cast<std::size_t>(put_separator(start, n != 0, depth + 1) - start));
    }

    // After `count` entries; the closing bracket of an empty collection
    // follows the opening one directly.
    void close(std::uint64_t count, unsigned depth, char bracket) {
        if (count) newline(depth);
        out_.put(bracket);
    }

    // What goes before a leaf, written in the leaf's own reservation, so that
    // the output's length and capacity are looked at once per item rather
    // than once per piece. `room` bounds what put() writes at `d`; put()
    // returns where the leaf goes, or null when it committed the output
    // itself and the leaf is to be written on its own (a key that needs
    // escapes).
    struct NoPrefix {
        static constexpr bool kMayCommit = false;
        std::size_t room(const JsonWriter&) const noexcept { return 0; }
        char* put(JsonWriter&, char*, char* d) const noexcept { return d; }
    };

    // The separator before the item `n` at `level`.
    struct Separator {
        static constexpr bool kMayCommit = false;
        std::uint64_t n;
        unsigned level;
        std::size_t room(const JsonWriter& w) const noexcept { return w.separator_room(level); }
        char* put(JsonWriter& w, char*, char* d) const noexcept { return w.put_separator(d, n != 0, level); }
    };

    // The separator, a key of plain ASCII (the common key) and the colon.
    struct AsciiKey {
        static constexpr bool kMayCommit = true;
        std::uint64_t n;
        unsigned level;
        const unsigned char* text;
        std::size_t size;
        std::size_t room(const JsonWriter& w) const noexcept {
            return w.separator_room(level) + size + 4 + json_string_detail::kShortSlack;
        }
        [[gnu::always_inline]] char* put(JsonWriter& w, char* start, char* d) const {
            d = w.put_separator(d, n != 0, level);
            *d++ = '"';
            std::size_t plain = json_string_detail::short_plain(text, size, d);
            if (plain > size) plain = json_string_detail::copy_plain(text, size, d);
            if (plain == size) [[likely]] {
                d += size;
                *d++ = '"';
                *d++ = ':';
                if constexpr (kIndented) *d++ = ' ';
                return d;
            }
            w.out_.advance(static_cast<std::size_t>(d - start) + plain);
            json_string_detail::append_escaped_rest(w.out_, text, size, plain);
            w.colon();
            return nullptr;
        }
    };

    // A leaf and what goes before it: one reservation, one commit.
    template <class Prefix>
    [[gnu::always_inline]] bool leaf(PyObject* obj, Leaf kind, const Prefix& prefix) {
        switch (kind) {
            case Leaf::Str: return string(obj, prefix);
            case Leaf::Int: return integer(obj, prefix);
            case Leaf::Float: return floating(obj, prefix);
            case Leaf::Bool:
            case Leaf::None: return keyword(obj, prefix);
            case Leaf::No: break;
        }
        return true;
    }

    template <class Prefix>
    [[gnu::always_inline]] bool string(PyObject* str, const Prefix& prefix) {
        std::string_view text;
        if (PyUnicode_IS_COMPACT_ASCII(str)) [[likely]] {
            text = ascii_text(str);
        } else if (!cached_utf8(str, text)) {
            return wide_string(str, prefix);
        }
        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t n = text.size();
        char* const start = out_.reserve(prefix.room(*this) + n + 2 + json_string_detail::kShortSlack);
        char* d = prefix.put(*this, start, start);
        if constexpr (Prefix::kMayCommit) {
            if (d == nullptr) [[unlikely]] return string(str, NoPrefix{});
        }
        *d++ = '"';
        std::size_t plain = json_string_detail::short_plain(p, n, d);
        if (plain > n) plain = json_string_detail::copy_plain(p, n, d);
        if (plain == n) [[likely]] {
            d[n] = '"';
            out_.advance(static_cast<std::size_t>(d - start) + n + 1);
            return true;
        }
        out_.advance(static_cast<std::size_t>(d - start) + plain);
        json_string_detail::append_escaped_rest(out_, p, n, plain);
        return true;
    }

    // A non-ASCII str with no UTF-8 form cached: encoded from its code units.
    // A surrogate fails it with the interpreter's own error, which asking
    // for the UTF-8 form raises (and, failing, caches nothing).
    template <class Prefix>
    [[gnu::noinline]] bool wide_string(PyObject* str, const Prefix& prefix) {
        char* const start = out_.reserve(prefix.room(*this));
        char* const d = prefix.put(*this, start, start);
        if constexpr (Prefix::kMayCommit) {
            if (d == nullptr) [[unlikely]] return wide_string(str, NoPrefix{});
        }
        out_.advance(static_cast<std::size_t>(d - start));
        if (append_json_string_units(out_, PyUnicode_DATA(str), static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)),
                                     static_cast<unsigned>(PyUnicode_KIND(str)))) {
            return true;
        }
        std::string_view ignored;
        (void)encode::utf8_of(str, ignored);  // no error set would be a broken invariant: the internal error
        return false;
    }

    // An exact int; beyond 64 bits, the digits of int's own repr.
    template <class Prefix>
    [[gnu::always_inline]] bool integer(PyObject* obj, const Prefix& prefix) {
        auto* number = reinterpret_cast<PyLongObject*>(obj);
        char* const start = out_.reserve(prefix.room(*this) + 20);
        char* d = prefix.put(*this, start, start);
        if constexpr (Prefix::kMayCommit) {
            if (d == nullptr) [[unlikely]] return integer(obj, NoPrefix{});
        }
        if (PyUnstable_Long_IsCompact(number)) [[likely]] {
            d = number_text_detail::write_int(PyUnstable_Long_CompactValue(number), d);
            out_.advance(static_cast<std::size_t>(d - start));
            return true;
        }
        out_.advance(static_cast<std::size_t>(d - start));
        return large_integer(obj);
    }

    [[gnu::noinline]] bool large_integer(PyObject* obj) {
        ++foreign_calls_;  // makes objects; none the collector tracks, but counted all the same
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

    template <class Prefix>
    [[gnu::always_inline]] bool floating(PyObject* obj, const Prefix& prefix) {
        char* const start = out_.reserve(prefix.room(*this) + kFloatTextMax);
        char* d = prefix.put(*this, start, start);
        if constexpr (Prefix::kMayCommit) {
            if (d == nullptr) [[unlikely]] return floating(obj, NoPrefix{});
        }
        d += json_float_text(PyFloat_AS_DOUBLE(obj), d);
        out_.advance(static_cast<std::size_t>(d - start));
        return true;
    }

    // true, false and null.
    template <class Prefix>
    [[gnu::always_inline]] bool keyword(PyObject* obj, const Prefix& prefix) {
        char* const start = out_.reserve(prefix.room(*this) + 5);
        char* d = prefix.put(*this, start, start);
        if constexpr (Prefix::kMayCommit) {
            if (d == nullptr) [[unlikely]] return keyword(obj, NoPrefix{});
        }
        if (obj == Py_None) {
            std::memcpy(d, "null", 4);
            d += 4;
        } else if (obj == Py_True) {
            std::memcpy(d, "true", 4);
            d += 4;
        } else {
            std::memcpy(d, "false", 5);
            d += 5;
        }
        out_.advance(static_cast<std::size_t>(d - start));
        return true;
    }

    // A dict entry of two leaves, the `n`th of a dict at `level - 1`.
    [[gnu::always_inline]] bool leaf_entry(PyObject* k, PyObject* v, Leaf key_kind, Leaf value_kind, std::uint64_t n,
                                           unsigned level) {
        if (key_kind == Leaf::Str && PyUnicode_IS_COMPACT_ASCII(k)) [[likely]] {
            const std::string_view key = ascii_text(k);
            const AsciiKey prefix{n, level, reinterpret_cast<const unsigned char*>(key.data()), key.size()};
            return leaf(v, value_kind, prefix);
        }
        separate(n, level - 1);
        if (!leaf_key(k, key_kind)) return false;
        colon();
        return leaf(v, value_kind, NoPrefix{});
    }

    bool leaf_key(PyObject* key, Leaf kind) {
        if (kind == Leaf::Str) return string(key, NoPrefix{});
        out_.put('"');
        if (!leaf(key, kind, NoPrefix{})) return false;
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
        ++foreign_calls_;
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
            [&](PyObject* current, Leaf kind) { return leaf(current, kind, Separator{count++, child}); },
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
                return leaf_entry(k, v, key_kind, value_kind, count++, child);
            },
            [&](PyObject* k, PyObject* v) {
                if (Py_TYPE(k) == &PyUnicode_Type && PyUnicode_IS_COMPACT_ASCII(k) && child < kMaxEncodeDepth) {
                    const std::string_view key = ascii_text(k);
                    const AsciiKey prefix{count++, child, reinterpret_cast<const unsigned char*>(key.data()),
                                          key.size()};
                    char* const start = out_.reserve(prefix.room(*this));
                    if (char* const d = prefix.put(*this, start, start)) {
                        out_.advance(static_cast<std::size_t>(d - start));
                    }
                } else {
                    separate(count++, depth);
                    if (!key(k, child)) return false;
                    colon();
                }
                return item(v, child);
            },
            &foreign_calls_);
        if (!ok) return false;
        close(count, depth, '}');
        return true;
    }

    void colon() {
        out_.put(':');
        if constexpr (kIndented) out_.put(' ');
    }

    const EncodeOptions& options_;
    OutBuffer& out_;
    const unsigned indent_;
    std::optional<EncodedTape> scratch_;
    std::optional<Error> error_;
    bool collection_key_ = false;
    // Calls that may run code of the user's: see for_each_dict_entry.
    std::uint64_t foreign_calls_ = 0;
};

}  // namespace

template <bool kIndented>
bool write_with(PyObject* obj, const EncodeOptions& options, unsigned indent, OutBuffer& out) {
    JsonWriter<kIndented> writer(options, out, indent);
    return writer.value(obj, 0) ? writer.written() : writer.failed();
}

bool write_json(PyObject* obj, const EncodeOptions& options, unsigned indent, OutBuffer& out) {
    return indent ? write_with<true>(obj, options, indent, out) : write_with<false>(obj, options, indent, out);
}

}  // namespace torvex::ffi
