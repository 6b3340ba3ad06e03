#include "ffi/convert/decode.hpp"

#include <cstdint>
#include <cstring>
#include <string>

#include "core/stack_guard.hpp"
#include "core/utf8_units.hpp"
#include "ffi/errors.hpp"
#include "ffi/types/tag.hpp"

namespace torvex::ffi {

namespace {

PyRef decode_checked(std::string_view text) {
    return PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
}

// ASCII text is copied into a new str as it is, which skips the decoder's
// checks and its error-handler set-up.
PyRef ascii_str(std::string_view text) {
    const auto size = static_cast<Py_ssize_t>(text.size());
    PyObject* str = PyUnicode_New(size, 127);
    if (str != nullptr && size != 0) std::memcpy(PyUnicode_1BYTE_DATA(str), text.data(), text.size());
    return PyRef::steal(str);
}

// Whether a short text (below 16 bytes) is ASCII: two overlapping words.
bool short_is_ascii(std::string_view text) noexcept {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::uint64_t high = 0;
    if (n >= 8) {
        std::uint64_t first;
        std::uint64_t last;
        std::memcpy(&first, p, 8);
        std::memcpy(&last, p + n - 8, 8);
        high = first | last;
    } else if (n >= 4) {
        std::uint32_t first;
        std::uint32_t last;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + n - 4, 4);
        high = first | last;
    } else {
        for (std::size_t i = 0; i < n; ++i) high |= static_cast<unsigned char>(p[i]);
    }
    return (high & 0x8080808080808080ULL) == 0;
}

// Fills a new str of `chars` characters of the width the text needs.
template <class Unit>
PyRef decode_as(std::string_view text, std::size_t chars, Py_UCS4 maxchar) {
    PyRef str = PyRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(chars), maxchar));
    if (!str) return str;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    if (!utf8::decode_units(bytes, text.size(), static_cast<Unit*>(PyUnicode_DATA(str.get())), chars))
        return decode_checked(text);  // malformed: CPython's decoder raises the error
    return str;
}

// An ASCII text (most are) is copied as it is. Another is decoded into a str
// of the width its measure (characters, widest character) asks for, ASCII
// runs moved whole; CPython's decoder would widen its buffer and shrink it
// again for every text with a character above U+00FF. One measuring pass
// tells both: finding the end of the ASCII first walked that part twice.
[[gnu::noinline]] PyRef make_long_str(std::string_view text) {
    const utf8::Measure m = utf8::measure(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    if (m.ascii()) return ascii_str(text);
    const std::size_t chars = m.chars;
    switch (m.width()) {
        case 1: return decode_as<Py_UCS1>(text, chars, 0xFF);
        case 2: return decode_as<Py_UCS2>(text, chars, 0xFFFF);
        default: return decode_as<Py_UCS4>(text, chars, 0x10FFFF);
    }
}

}  // namespace

// Short texts gain nothing from the measuring pass.
PyRef make_str(std::string_view text) {
    if (text.size() >= 16) return make_long_str(text);
    return short_is_ascii(text) ? ascii_str(text) : decode_checked(text);
}

PyRef make_big_int(std::string_view text) {
    std::string digits;
    digits.reserve(text.size());
    for (char c : text) {
        if (c != '_') digits.push_back(c);
    }
    PyObject* number = PyLong_FromString(digits.c_str(), nullptr, 10);
    if (number != nullptr) return PyRef::steal(number);
    PyErr_Clear();
    return make_str(digits);
}

bool mapping_key_unhashable() {
    PyErr_Clear();
    raise_error(Error::plain(ErrorKind::Unhashable, "mapping key is not hashable in Python"));
    return false;
}

bool tag_is_handled(std::string_view tag, const DecodeContext& context) {
    if (context.tag_handler != nullptr || context.passthrough) return true;
    if (context.tags == nullptr) return false;
    PyRef key = make_str(tag);
    if (!key) {
        PyErr_Clear();
        return true;  // let the ordinary path report it
    }
    const int found = PyDict_Contains(context.tags, key.get());
    if (found < 0) PyErr_Clear();
    return found != 0;
}

PyRef apply_tag(std::string_view tag_text, PyRef inner, DecodeContext& context) {
    PyRef tag = make_str(tag_text);
    if (!tag) return tag;
    if (context.tags != nullptr) {
        PyObject* callable = nullptr;
        if (PyDict_GetItemRef(context.tags, tag.get(), &callable) < 0) return PyRef();
        if (callable != nullptr) {
            PyRef held = PyRef::steal(callable);
            return PyRef::steal(PyObject_CallOneArg(held.get(), inner.get()));
        }
    }
    if (context.tag_handler != nullptr) {
        PyObject* args[] = {tag.get(), inner.get()};
        return PyRef::steal(PyObject_Vectorcall(context.tag_handler, args, 2, nullptr));
    }
    if (context.passthrough) return PyRef::steal(new_tag(tag.get(), inner.get()));
    return inner;
}

namespace {

// The decoder's tape, read in one pass over the nodes: `i` moves past each
// subtree as it is converted.

class TapeConverter {
public:
    TapeConverter(const Tape& tape, DecodeContext& context) : nodes_(tape.nodes), context_(context) {}

    // The node at `i`, `depth` collections below the root; the stack is
    // measured every few levels (with_stack_at), not at every collection.
    PyRef convert(std::size_t& i, std::size_t depth) {
        const TapeNode& node = nodes_[i++];
        switch (node.kind()) {
            case TapeNode::Kind::Null: return PyRef::borrow(Py_None);
            case TapeNode::Kind::Bool: return PyRef::borrow(node.integer != 0 ? Py_True : Py_False);
            case TapeNode::Kind::Int: return PyRef::steal(PyLong_FromLongLong(node.integer));
            case TapeNode::Kind::BigInt: return make_big_int(node.text_view());
            case TapeNode::Kind::Float: return PyRef::steal(PyFloat_FromDouble(node.floating));
            case TapeNode::Kind::String: return make_str(node.text_view());
            case TapeNode::Kind::Sequence: return with_stack_at(depth, [&] { return sequence(node, i, depth + 1); });
            case TapeNode::Kind::Mapping: return with_stack_at(depth, [&] { return mapping(node, i, depth + 1); });
            case TapeNode::Kind::Tagged: return with_stack([&] { return tagged(node, i, depth + 1); });
        }
        set_internal_error("unknown value kind");
        return PyRef();
    }

private:
    PyRef sequence(const TapeNode& node, std::size_t& i, std::size_t depth) {
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(node.size())));
        if (!list) return list;
        for (std::uint64_t n = 0; n < node.size(); ++n) {
            PyRef item = convert(i, depth);
            if (!item) return item;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(n), item.release());
        }
        return list;
    }

    PyRef mapping(const TapeNode& node, std::size_t& i, std::size_t depth) {
        // Sized for its entries up front: a dict grown one insertion at a
        // time rebuilds its table at every power of two on the way.
        PyRef dict = PyRef::steal(_PyDict_NewPresized(static_cast<Py_ssize_t>(node.size())));
        if (!dict) return dict;
        for (std::uint64_t n = 0; n < node.size(); ++n) {
            // Most keys are strings: from the key cache without a call.
            const TapeNode& k = nodes_[i];
            PyRef key = k.kind() == TapeNode::Kind::String ? (++i, PyRef::steal(context_.keys.get(k.text_view())))
                                                           : convert_key(i, depth);
            if (!key) return key;
            PyRef value = convert(i, depth);
            if (!value) return value;
            if (!set_mapping_item(dict.get(), key.get(), value.get())) return PyRef();
        }
        return dict;
    }

    // Keys: strings from the key cache, collections as (nested) tuples.
    [[gnu::noinline]] PyRef convert_key(std::size_t& i, std::size_t depth) {
        const TapeNode& node = nodes_[i];
        switch (node.kind()) {
            case TapeNode::Kind::String:
                ++i;
                return PyRef::steal(context_.keys.get(node.text_view()));
            case TapeNode::Kind::Sequence:
                ++i;
                return with_stack([&]() -> PyRef {
                    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(node.size())));
                    if (!tuple) return tuple;
                    for (std::uint64_t n = 0; n < node.size(); ++n) {
                        PyRef item = convert_key(i, depth + 1);
                        if (!item) return item;
                        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(n), item.release());
                    }
                    return tuple;
                });
            case TapeNode::Kind::Mapping:
                ++i;
                return with_stack([&]() -> PyRef {
                    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(node.size())));
                    if (!tuple) return tuple;
                    for (std::uint64_t n = 0; n < node.size(); ++n) {
                        PyRef k = convert_key(i, depth + 1);
                        if (!k) return k;
                        PyRef v = convert_key(i, depth + 1);
                        if (!v) return v;
                        PyObject* pair = PyTuple_Pack(2, k.get(), v.get());
                        if (pair == nullptr) return PyRef();
                        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(n), pair);
                    }
                    return tuple;
                });
            case TapeNode::Kind::Tagged:
                // A tag nobody handles is dropped; the key is then read like
                // its untagged form, so a collection still becomes a tuple.
                if (!tag_is_handled(node.text_view(), context_)) {
                    ++i;
                    return with_stack([&] { return convert_key(i, depth + 1); });
                }
                return convert(i, depth);
            default: return convert(i, depth);
        }
    }

    PyRef tagged(const TapeNode& node, std::size_t& i, std::size_t depth) {
        PyRef inner = convert(i, depth);
        if (!inner) return inner;
        return apply_tag(node.text_view(), std::move(inner), context_);
    }

    const std::vector<TapeNode>& nodes_;
    DecodeContext& context_;
};

}  // namespace

PyRef to_python(const Tape& tape, std::size_t root, DecodeContext& context) {
    TapeConverter converter(tape, context);
    return converter.convert(root, 0);
}

}  // namespace torvex::ffi
