// Enum members, dataclass instances, UUIDs and path-like objects.
#include <atomic>
#include <string>

#include "ffi/convert/encode_detail.hpp"

namespace torvex::ffi::encode {

namespace {

std::atomic<PyObject*> g_value{nullptr};
std::atomic<PyObject*> g_dataclass_fields{nullptr};
std::atomic<PyObject*> g_fspath{nullptr};

// The attribute, a null PyRef with `status` 0 when absent, or -1 on error.
PyRef optional_attr(PyObject* obj, std::atomic<PyObject*>& slot, const char* text, int& status) {
    PyObject* name = interned(slot, text);
    if (name == nullptr) {
        status = -1;
        return PyRef();
    }
    PyObject* found = nullptr;
    status = PyObject_GetOptionalAttr(obj, name, &found);
    return PyRef::steal(found);
}

bool type_name_is(PyTypeObject* type, const char* expected, int& status) {
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (!name) {
        status = -1;
        return false;
    }
    status = 0;
    return PyUnicode_EqualToUTF8(name.get(), expected) == 1;
}

}  // namespace

// A member of a class whose metaclass is enum's (by name, so enum need not
// be imported). IntEnum and StrEnum members were taken as int and str before.
// The value is converted one level deeper, so an enum whose value leads back
// to itself ends at the depth limit.
Outcome encode_enum(Encoder& encoder, PyObject* obj, unsigned depth) {
    PyTypeObject* meta = Py_TYPE(reinterpret_cast<PyObject*>(Py_TYPE(obj)));
    if (meta == &PyType_Type) return Outcome::NoMatch;
    int status = 0;
    const bool enum_type =
        type_name_is(meta, "EnumType", status) || (status == 0 && type_name_is(meta, "EnumMeta", status));
    if (status < 0) return Outcome::Failed;
    if (!enum_type) return Outcome::NoMatch;
    PyObject* name = interned(g_value, "value");
    if (name == nullptr) return Outcome::Failed;
    PyRef value = PyRef::steal(PyObject_GetAttr(obj, name));
    if (!value) return Outcome::Failed;
    return encoder.convert(value.get(), depth + 1) ? Outcome::Done : Outcome::Failed;
}

// Every name in __dataclass_fields__, in its iteration order, with the
// attribute's value. The fields mapping and each value are held while they
// are converted, so a property that changes the instance cannot free them.
Outcome encode_dataclass(Encoder& encoder, PyObject* obj, unsigned depth) {
    if (encoder.options().passthrough_dataclass || PyType_Check(obj)) return Outcome::NoMatch;
    int status = 0;
    PyRef fields = optional_attr(obj, g_dataclass_fields, "__dataclass_fields__", status);
    if (status < 0) return Outcome::Failed;
    if (status == 0) return Outcome::NoMatch;
    PyRef names = PyRef::steal(PyObject_GetIter(fields.get()));
    if (!names) return Outcome::Failed;
    const std::size_t header = encoder.open(TapeNode::Kind::Mapping);
    std::uint64_t count = 0;
    for (;;) {
        PyObject* next = nullptr;
        const int step = PyIter_NextItem(names.get(), &next);
        if (step < 0) return Outcome::Failed;
        if (step == 0) break;
        PyRef name = PyRef::steal(next);
        PyRef value = PyRef::steal(PyObject_GetAttr(obj, name.get()));  // TypeError unless name is a str
        if (!value) return Outcome::Failed;
        std::string_view text;
        if (utf8_of(name.get(), text) == nullptr) return Outcome::Failed;
        encoder.put_text(TapeNode::Kind::String, text);
        if (!encoder.convert(value.get(), depth + 1)) return Outcome::Failed;
        ++count;
    }
    encoder.close(header, count);
    return Outcome::Done;
}

// uuid.UUID and subclasses named UUID in a module named uuid: their str().
Outcome encode_uuid(Encoder& encoder, PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    int status = 0;
    if (!type_name_is(type, "UUID", status)) return status < 0 ? Outcome::Failed : Outcome::NoMatch;
    PyRef module = PyRef::steal(PyType_GetModuleName(type));
    if (!module) return Outcome::Failed;
    if (!PyUnicode_Check(module.get()) || PyUnicode_EqualToUTF8(module.get(), "uuid") != 1) return Outcome::NoMatch;
    PyRef text = PyRef::steal(PyObject_Str(obj));
    if (!text) return Outcome::Failed;
    std::string_view utf8;
    if (utf8_of(text.get(), utf8) == nullptr) return Outcome::Failed;
    encoder.put_text(TapeNode::Kind::String, utf8);
    return Outcome::Done;
}

// os.PathLike objects whose __fspath__ gives a str; a bytes path falls through.
Outcome encode_path(Encoder& encoder, PyObject* obj) {
    int status = 0;
    PyRef method = optional_attr(obj, g_fspath, "__fspath__", status);
    if (status < 0) return Outcome::Failed;
    if (status == 0) return Outcome::NoMatch;
    PyRef result = PyRef::steal(PyObject_CallNoArgs(method.get()));
    if (!result) return Outcome::Failed;
    if (!PyUnicode_Check(result.get())) return Outcome::NoMatch;
    std::string_view text;
    if (utf8_of(result.get(), text) == nullptr) return Outcome::Failed;
    encoder.put_text(TapeNode::Kind::String, text);
    return Outcome::Done;
}

}  // namespace torvex::ffi::encode
