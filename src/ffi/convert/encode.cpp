// Python objects to values: the type dispatch. Exact built-in types are
// tested first by pointer comparison, the common scalars ("leaves") without
// any call that could reach user code, so that lists and dicts can convert
// runs of them inside one critical section. Everything else goes through the
// subclass checks and the type families in their fixed order.
#include "ffi/convert/encode.hpp"

#include <string>
#include <utility>

#include "core/stack_guard.hpp"
#include "core/utf8.hpp"
#include "ffi/convert/container_items.hpp"
#include "ffi/convert/encode_detail.hpp"
#include "ffi/errors.hpp"
#include "ffi/options.hpp"
#include "ffi/types/tag.hpp"

namespace torvex::ffi {

EncodeOptions EncodeOptions::from_option(std::uint64_t option) noexcept {
    EncodeOptions o;
    o.serialize_numpy = option & OPT_SERIALIZE_NUMPY;
    o.omit_microseconds = option & OPT_OMIT_MICROSECONDS;
    o.naive_utc = option & OPT_NAIVE_UTC;
    o.utc_z = option & OPT_UTC_Z;
    o.passthrough_datetime = option & OPT_PASSTHROUGH_DATETIME;
    o.passthrough_dataclass = option & OPT_PASSTHROUGH_DATACLASS;
    return o;
}

namespace encode {

namespace {

constexpr const char* kInvalidBytes =
    "cannot serialize bytes that are not valid UTF-8; decode them yourself (e.g. base64) before dumping";
constexpr const char* kBadTagsResult = "a tags callback must return a TorvexTag or a (tag, value) tuple";
constexpr const char* kUnwritableTag = "a tag must be non-empty and cannot contain white space or control characters";
constexpr const char* kTagOnTag = "a tagged value cannot directly hold another tagged value";

}  // namespace

bool Encoder::fail(ErrorKind kind, std::string message) {
    error_ = Error::plain(kind, std::move(message));
    return false;
}

// Texts go into one growing buffer; the node records the offset until
// finish() makes it a pointer.
void Encoder::put_text(TapeNode::Kind kind, std::string_view text) {
    const std::size_t offset = texts_.size();
    texts_.insert(texts_.end(), text.begin(), text.end());
    tape_.push_offset(kind, offset, text.size());
}

void Encoder::finish() noexcept {
    const char* base = texts_.data();
    for (TapeNode& node : tape_.nodes) {
        const TapeNode::Kind kind = node.kind();
        if (kind == TapeNode::Kind::String || kind == TapeNode::Kind::BigInt || kind == TapeNode::Kind::Tagged) {
            const std::uint64_t offset = node.span;
            node.text = base + offset;
        }
    }
}

bool Encoder::put_str(PyObject* str) {
    std::string_view text;
    if (!str_text(str, text)) return false;
    put_text(TapeNode::Kind::String, text);
    return true;
}

// An int or int subclass by its own value; nothing here calls user code.
// Beyond 64 bits: the digits of int's own repr, so that a subclass's
// __int__, __index__, __str__ or __repr__ cannot change the number.
bool Encoder::put_int(PyObject* obj) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow == 0) {
        if (number == -1 && PyErr_Occurred()) return false;
        tape_.push_int(number);
        return true;
    }
    PyRef text = PyRef::steal(PyLong_Type.tp_repr(obj));
    std::string_view digits;
    if (!text || utf8_of(text.get(), digits) == nullptr) return false;
    put_text(TapeNode::Kind::BigInt, digits);
    return true;
}

// A leaf of the given kind (never Leaf::No). False with a Python error set
// on failure (a lone surrogate, memory).
bool Encoder::put_leaf(PyObject* obj, Leaf kind) {
    switch (kind) {
        case Leaf::Str: return put_str(obj);
        case Leaf::Int: {
            auto* number = reinterpret_cast<PyLongObject*>(obj);
            if (PyUnstable_Long_IsCompact(number)) {
                tape_.push_int(PyUnstable_Long_CompactValue(number));
                return true;
            }
            return put_int(obj);
        }
        case Leaf::Float: tape_.push_float(PyFloat_AS_DOUBLE(obj)); return true;
        case Leaf::Bool: tape_.push_bool(obj == Py_True); return true;
        case Leaf::None: tape_.push_null(); return true;
        case Leaf::No: break;
    }
    return true;
}

bool Encoder::convert(PyObject* obj, unsigned depth) {
    if (depth >= kMaxEncodeDepth) return fail(ErrorKind::Encode, kTooDeep);
    if (const Leaf kind = classify(obj); kind != Leaf::No) return put_leaf(obj, kind);
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyList_Type) return with_stack_at(depth, [&] { return convert_list(obj, depth); });
    if (type == &PyDict_Type) return with_stack_at(depth, [&] { return convert_dict(obj, depth); });
    if (type == &PyTuple_Type) return with_stack_at(depth, [&] { return convert_tuple(obj, depth); });
    // Always probed: the other types may call user code.
    return with_stack([&] { return convert_other(obj, depth); });
}

// Exact lists, read as container_items.hpp says.
bool Encoder::convert_list(PyObject* list, unsigned depth) {
    const unsigned child = depth + 1;
    const std::size_t header = open(TapeNode::Kind::Sequence);
    std::uint64_t count = 0;
    const bool ok = for_each_list_item(
        list, child < kMaxEncodeDepth,
        [&](PyObject* item, Leaf kind) {
            if (!put_leaf(item, kind)) return false;
            ++count;
            return true;
        },
        [&](PyObject* item) {
            if (!convert(item, child)) return false;
            ++count;
            return true;
        });
    if (!ok) return false;
    close(header, count);
    return true;
}

// Exact tuples are immutable and hold their items for as long as we hold the tuple.
bool Encoder::convert_tuple(PyObject* tuple, unsigned depth) {
    const unsigned child = depth + 1;
    const bool leaves = child < kMaxEncodeDepth;
    const Py_ssize_t size = PyTuple_GET_SIZE(tuple);
    const std::size_t header = open(TapeNode::Kind::Sequence);
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* item = PyTuple_GET_ITEM(tuple, i);
        if (const Leaf kind = classify(item); leaves && kind != Leaf::No) {  // no section: the tuple is immutable
            if (!put_leaf(item, kind)) return false;
            continue;
        }
        if (!convert(item, child)) return false;
    }
    close(header, static_cast<std::uint64_t>(size));
    return true;
}

// List and tuple subclasses, sets and frozensets: in iteration order, so an
// overridden __iter__ decides what is written.
bool Encoder::convert_iterable(PyObject* obj, unsigned depth) {
    PyRef iterator = PyRef::steal(PyObject_GetIter(obj));
    if (!iterator) return false;
    const std::size_t header = open(TapeNode::Kind::Sequence);
    std::uint64_t count = 0;
    for (;;) {
        PyObject* next = nullptr;
        const int status = PyIter_NextItem(iterator.get(), &next);
        if (status < 0) return false;
        if (status == 0) break;
        PyRef item = PyRef::steal(next);
        if (!convert(item.get(), depth + 1)) return false;
        ++count;
    }
    close(header, count);
    return true;
}

// Dicts and dict subclasses in insertion order (see container_items.hpp).
bool Encoder::convert_dict(PyObject* dict, unsigned depth) {
    const unsigned child = depth + 1;
    const std::size_t header = open(TapeNode::Kind::Mapping);
    std::uint64_t count = 0;
    const bool ok = for_each_dict_entry(
        dict, child < kMaxEncodeDepth,
        [&](PyObject* k, PyObject* v, Leaf key_kind, Leaf value_kind) {
            if (!put_leaf(k, key_kind) || !put_leaf(v, value_kind)) return false;
            ++count;
            return true;
        },
        [&](PyObject* k, PyObject* v) {
            if (!convert(k, child) || !convert(v, child)) return false;
            ++count;
            return true;
        });
    if (!ok) return false;
    close(header, count);
    return true;
}

namespace {

// White space or a control character would end the tag early and let the
// rest of its text be read as YAML of its own.
bool is_writable_tag(std::string_view tag) {
    if (tag.empty()) return false;
    for (const char c : tag) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F) return false;
    }
    return true;
}

}  // namespace

bool Encoder::convert_tagged(PyObject* tag_text, PyObject* inner, unsigned depth) {
    std::string_view text;
    if (utf8_of(tag_text, text) == nullptr) return false;
    if (!is_writable_tag(text)) return fail(ErrorKind::Encode, kUnwritableTag);
    put_text(TapeNode::Kind::Tagged, text);
    const std::size_t inner_at = tape_.nodes.size();
    if (!convert(inner, depth + 1)) return false;
    // `!a !b x` is not YAML: a node carries one tag.
    if (tape_.nodes[inner_at].kind() == TapeNode::Kind::Tagged) return fail(ErrorKind::Encode, kTagOnTag);
    return true;
}

bool Encoder::convert_tag(PyObject* tag_object, unsigned depth) {
    return convert_tagged(tag_text(tag_object), tag_value(tag_object), depth);
}

// `tags` maps exact classes (never their bases) to callables that return a
// TorvexTag or a (tag, value) pair.
Outcome Encoder::convert_by_tags(PyObject* obj, unsigned depth) {
    PyObject* found = nullptr;
    const int status = PyDict_GetItemRef(options_.tags, reinterpret_cast<PyObject*>(Py_TYPE(obj)), &found);
    if (status < 0) return Outcome::Failed;
    if (status == 0) return Outcome::NoMatch;
    PyRef callable = PyRef::steal(found);
    PyRef result = PyRef::steal(PyObject_CallOneArg(callable.get(), obj));
    if (!result) return Outcome::Failed;
    bool ok = false;
    if (is_tag(result.get())) {
        ok = convert_tag(result.get(), depth);
    } else if (PyTuple_Check(result.get()) && PyTuple_GET_SIZE(result.get()) == 2 &&
               PyUnicode_Check(PyTuple_GET_ITEM(result.get(), 0))) {
        ok = convert_tagged(PyTuple_GET_ITEM(result.get(), 0), PyTuple_GET_ITEM(result.get(), 1), depth);
    } else {
        ok = fail(ErrorKind::Encode, kBadTagsResult);
    }
    return ok ? Outcome::Done : Outcome::Failed;
}

bool Encoder::unserializable(PyObject* obj) {
    PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(obj)));
    if (!name) return false;
    std::string_view text;
    if (utf8_of(name.get(), text) == nullptr) return false;
    std::string message = "type ";
    message.append(text);
    message += " is not YAML serializable";
    return fail(ErrorKind::Unserializable, std::move(message));
}

// Everything but the exact built-in types, in the fixed order of the rules:
// subclasses of the built-in types, bytes, sequences, mappings, sets,
// TorvexTag, `tags`, dates, enums, dataclasses, numpy, UUIDs, paths, and
// finally `default`.
bool Encoder::convert_other(PyObject* obj, unsigned depth) {
    if (PyLong_Check(obj)) return put_int(obj);  // bool subclasses int but cannot be subclassed itself
    if (PyFloat_Check(obj)) {
        tape_.push_float(PyFloat_AS_DOUBLE(obj));
        return true;
    }
    if (PyUnicode_Check(obj)) {
        PyRef text = PyRef::steal(PyObject_Str(obj));
        return text && put_str(text.get());
    }
    if (PyBytes_Check(obj)) {
        const std::string_view bytes(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
        if (utf8::validate(bytes)) return fail(ErrorKind::Encode, kInvalidBytes);
        put_text(TapeNode::Kind::String, bytes);
        return true;
    }
    if (PyList_Check(obj) || PyTuple_Check(obj)) return convert_iterable(obj, depth);
    if (PyDict_Check(obj)) return convert_dict(obj, depth);
    if (PyAnySet_Check(obj)) return convert_iterable(obj, depth);
    if (is_tag(obj)) return convert_tag(obj, depth);

    Outcome outcome = Outcome::NoMatch;
    if (options_.tags != nullptr) outcome = convert_by_tags(obj, depth);
    if (outcome == Outcome::NoMatch) outcome = encode_datetime(*this, obj);
    if (outcome == Outcome::NoMatch) outcome = encode_enum(*this, obj, depth);
    if (outcome == Outcome::NoMatch) outcome = encode_dataclass(*this, obj, depth);
    if (outcome == Outcome::NoMatch) outcome = encode_numpy(*this, obj, depth);
    if (outcome == Outcome::NoMatch) outcome = encode_uuid(*this, obj);
    if (outcome == Outcome::NoMatch) outcome = encode_path(*this, obj);
    if (outcome != Outcome::NoMatch) return outcome == Outcome::Done;

    if (options_.default_fn == nullptr) return unserializable(obj);
    PyRef replacement = PyRef::steal(PyObject_CallOneArg(options_.default_fn, obj));
    if (!replacement) return false;
    return convert(replacement.get(), depth + 1);
}

}  // namespace encode

bool to_tape(PyObject* obj, const EncodeOptions& options, EncodedTape& out, unsigned depth) {
    encode::Encoder encoder(options, out);
    if (encoder.convert(obj, depth)) {
        encoder.finish();
        return true;
    }
    if (encoder.error()) {
        if (PyErr_Occurred()) PyErr_Clear();
        raise_error(*encoder.error());
    }
    return false;
}

}  // namespace torvex::ffi
