#include "ffi/types/annotated_scalar.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>

#include "ffi/once.hpp"

namespace torvex::ffi {

namespace {

constexpr const char* kClassNames[] = {"TorvexAnnotatedStr", "TorvexAnnotatedInt", "TorvexAnnotatedFloat"};

// Slot names in the constructor's argument order.
constexpr const char* kFieldNames[kScalarFields] = {
    "__line__",  "__column__",        "__file__",          "__end_line__", "__end_column__",
    "__style__", "__source_tag__",    "__source_target__", "__offset__",   "__end_offset__",
};

// The builtin base whose tp_new the class's __new__ calls, where the maker
// can stand in for it; int subclasses hold no slots, so int has none.
PyTypeObject* native_base(ScalarClass which) {
    switch (which) {
        case ScalarClass::Str: return &PyUnicode_Type;
        case ScalarClass::Float: return &PyFloat_Type;
        case ScalarClass::Int: break;
    }
    return nullptr;
}

// The offset of the writable object slot `name` of `type`, or -1.
Py_ssize_t slot_offset(PyTypeObject* type, const char* name) {
    PyRef descr = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), name));
    if (!descr) {
        PyErr_Clear();
        return -1;
    }
    if (!Py_IS_TYPE(descr.get(), &PyMemberDescr_Type)) return -1;
    auto* member_descr = reinterpret_cast<PyMemberDescrObject*>(descr.get());
    const PyMemberDef* member = member_descr->d_member;
    if (!PyType_IsSubtype(type, PyDescr_TYPE(descr.get())) || member->type != Py_T_OBJECT_EX ||
        (member->flags & (Py_READONLY | Py_RELATIVE_OFFSET)) != 0 ||
        member->offset < static_cast<Py_ssize_t>(sizeof(PyObject))) {
        return -1;
    }
    return member->offset;
}

// The slot offsets last found for a class made natively, with the class's
// version tag then. CPython gives a class a new tag whenever it or a base
// changes, so while the tag stands the class and its offsets do, and a load
// (most are small) need not look up its __new__ and the ten slot
// descriptors again. Per thread: plain numbers and an
// address only compared, no references.
struct LayoutMemo {
    const PyTypeObject* type = nullptr;
    unsigned int version = 0;  // 0: nothing remembered
    std::array<Py_ssize_t, kScalarFields> offsets{};
};

LayoutMemo& layout_memo(ScalarClass which) noexcept {
    thread_local std::array<LayoutMemo, 3> memos;
    return memos[static_cast<std::size_t>(which)];
}

// The class's current version tag, or 0 when it has none to give.
unsigned int version_tag(PyTypeObject* type) noexcept {
    if (PyUnstable_Type_AssignVersionTag(type) == 0) return 0;
    return std::atomic_ref<unsigned int>(type->tp_version_tag).load(std::memory_order_relaxed);
}

bool is_ascii(std::string_view text) noexcept {
    const char* p = text.data();
    std::size_t n = text.size();
    std::uint64_t high = 0;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        high |= word;
    }
    for (; n > 0; ++p, --n) high |= static_cast<unsigned char>(*p);
    return (high & 0x8080808080808080ULL) == 0;
}

// A zeroed instance of `type`, as its tp_alloc (PyType_GenericAlloc) makes
// it but left out of the cycle collector's lists: a natively made scalar is
// untracked for good (see keep_untracked in annotate.cpp), so tracking it
// first would only be undone at once.
PyObject* new_untracked_instance(PyTypeObject* type) {
    PyObject* obj = PyObject_GC_New(PyObject, type);
    if (obj == nullptr) return nullptr;
    std::memset(reinterpret_cast<char*>(obj) + sizeof(PyObject), 0,
                static_cast<std::size_t>(type->tp_basicsize) - sizeof(PyObject));
    return obj;
}

// An instance of the str subclass `type` holding the ASCII `text`, laid out
// as str.__new__ lays out every str subclass instance: the object (with the
// subclass's slots after it, empty) and the characters in a block of their
// own, NUL-terminated and shared as the UTF-8 form. This is what
// str.__new__(type, plain) gives, without the plain str and the argument
// tuple in between.
PyRef new_ascii_subtype_str(PyTypeObject* type, std::string_view text) {
    const auto length = static_cast<Py_ssize_t>(text.size());
    auto* data = static_cast<char*>(PyObject_Malloc(text.size() + 1));
    if (data == nullptr) {
        PyErr_NoMemory();
        return PyRef();
    }
    std::memcpy(data, text.data(), text.size());
    data[text.size()] = '\0';
    PyObject* obj = new_untracked_instance(type);
    if (obj == nullptr) {
        PyObject_Free(data);
        return PyRef();
    }
    auto* str = reinterpret_cast<PyUnicodeObject*>(obj);
    PyASCIIObject& head = str->_base._base;
    head.length = length;
    head.hash = -1;
    head.state.interned = 0;
    head.state.kind = PyUnicode_1BYTE_KIND;
    head.state.compact = 0;
    head.state.ascii = 1;
    head.state.statically_allocated = 0;
    str->_base.utf8_length = length;
    str->_base.utf8 = data;
    str->data.any = data;
    return PyRef::steal(obj);
}

// The same for any text, from the plain str holding it: what str.__new__
// gives for a str subclass (the characters copied in the plain one's kind;
// the UTF-8 form shared only by ASCII, made on demand otherwise).
PyRef new_subtype_str(PyTypeObject* type, PyObject* plain) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(plain);
    const int kind = PyUnicode_KIND(plain);
    if (length > PY_SSIZE_T_MAX / kind - 1) {
        PyErr_NoMemory();
        return PyRef();
    }
    const auto bytes = static_cast<std::size_t>((length + 1) * kind);  // with the terminating NUL
    void* data = PyObject_Malloc(bytes);
    if (data == nullptr) {
        PyErr_NoMemory();
        return PyRef();
    }
    std::memcpy(data, PyUnicode_DATA(plain), bytes);
    PyObject* obj = new_untracked_instance(type);
    if (obj == nullptr) {
        PyObject_Free(data);
        return PyRef();
    }
    const bool ascii = PyUnicode_IS_ASCII(plain);
    auto* str = reinterpret_cast<PyUnicodeObject*>(obj);
    PyASCIIObject& head = str->_base._base;
    head.length = length;
    head.hash = -1;
    head.state.interned = 0;
    head.state.kind = static_cast<unsigned>(kind);
    head.state.compact = 0;
    head.state.ascii = ascii ? 1 : 0;
    head.state.statically_allocated = 0;
    str->_base.utf8_length = ascii ? length : 0;
    str->_base.utf8 = ascii ? static_cast<char*>(data) : nullptr;
    str->data.any = data;
    return PyRef::steal(obj);
}

}  // namespace

PyObject* annotated_scalar_class(ScalarClass which) {
    static std::atomic<PyObject*> slots[3];
    const auto index = static_cast<std::size_t>(which);
    return cached_once(slots[index], [&] {
        PyRef package = PyRef::steal(PyImport_ImportModule("torvex"));
        if (!package) return package;
        return PyRef::steal(PyObject_GetAttrString(package.get(), kClassNames[index]));
    });
}

bool AnnotatedScalarMaker::prepare(ScalarClass which) {
    PyObject* cls = annotated_scalar_class(which);
    if (cls == nullptr) return false;
    cls_ = PyRef::borrow(cls);
    callable_ = PyRef::borrow(cls);
    path_ = Path::Call;
    // Calling the class runs more than its __new__ where the class has a
    // metaclass or an __init__ of its own: then it is called as a whole.
    if (!PyType_Check(cls) || !Py_IS_TYPE(cls, &PyType_Type)) return true;
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    // The layout is remembered only for a class found native in full (this
    // function's checks and native_layout's), and any change to the class
    // (a new __new__ or __init__ among them) gives it a new version tag:
    // while the tag stands, the class is native still.
    if (const LayoutMemo& memo = layout_memo(which); memo.type == type && memo.version != 0 &&
                                                       memo.version == version_tag(type)) {
        path_ = Path::Native;
        base_ = native_base(which);
        offsets_ = memo.offsets;
        return true;
    }
    if (type->tp_init != PyBaseObject_Type.tp_init) return true;
    PyRef new_fn = PyRef::steal(PyObject_GetAttrString(cls, "__new__"));
    if (!new_fn) return false;
    if (!PyFunction_Check(new_fn.get())) return true;
    PyObject* marker = nullptr;
    if (PyObject_GetOptionalAttrString(new_fn.get(), "_stores_fields_only", &marker) < 0) return false;
    const bool stores_only = marker == Py_True;
    Py_XDECREF(marker);
    callable_ = std::move(new_fn);
    path_ = Path::New;
    PyTypeObject* base = native_base(which);
    if (stores_only && base != nullptr && native_layout(type, base, which)) path_ = Path::Native;
    return true;
}

bool AnnotatedScalarMaker::native_layout(PyTypeObject* type, PyTypeObject* base, ScalarClass which) {
    if (!PyType_IsSubtype(type, base) || type->tp_setattro != PyObject_GenericSetAttr) return false;
    // Instances are allocated as tp_alloc would (new_untracked_instance):
    // a fixed-size collector object with nothing in front of it.
    if (type->tp_alloc != PyType_GenericAlloc || !PyType_IS_GC(type) || type->tp_itemsize != 0 ||
        (type->tp_flags & (Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_MANAGED_WEAKREF)) != 0) {
        return false;
    }
    // A class remembered at its current version never gets here (see prepare).
    for (std::size_t i = 0; i < kScalarFields; ++i) {
        offsets_[i] = slot_offset(type, kFieldNames[i]);
        if (offsets_[i] < 0) return false;
    }
    layout_memo(which) = LayoutMemo{type, version_tag(type), offsets_};
    base_ = base;
    return true;
}

PyRef AnnotatedScalarMaker::make(PyObject* plain, ScalarFieldRefs& refs) const {
    if (path_ == Path::Native) return make_native(plain, refs);
    const ScalarFields& fields = refs.objects();
    // Slot 0 is free for the callee (PY_VECTORCALL_ARGUMENTS_OFFSET); slot 1
    // takes the class when __new__ is called directly.
    PyObject* args[2 + 1 + kScalarFields] = {nullptr, cls_.get(), plain};
    for (std::size_t i = 0; i < kScalarFields; ++i) args[3 + i] = fields[i];
    const bool pass_class = path_ == Path::New;
    PyObject* const* first = pass_class ? args + 1 : args + 2;
    const std::size_t count = (pass_class ? 2 : 1) + kScalarFields;
    return PyRef::steal(
        PyObject_Vectorcall(callable_.get(), first, count | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// What the class's __new__ does: base.__new__(cls, plain), then each field
// stored into its slot (a fresh instance's slots are empty).
PyRef AnnotatedScalarMaker::make_native(PyObject* plain, ScalarFieldRefs& fields) const {
    PyRef args = PyRef::steal(PyTuple_Pack(1, plain));
    if (!args) return args;
    PyRef made = PyRef::steal(base_->tp_new(reinterpret_cast<PyTypeObject*>(cls_.get()), args.get(), nullptr));
    if (made) fill_slots(made.get(), fields);
    return made;
}

// The slots of a fresh instance are empty.
void AnnotatedScalarMaker::fill_slots(PyObject* made, ScalarFieldRefs& fields) const {
    char* base_address = reinterpret_cast<char*>(made);
    for (std::size_t i = 0; i < kScalarFields; ++i) {
        *reinterpret_cast<PyObject**>(base_address + offsets_[i]) = fields.take(i);
    }
}

PyRef AnnotatedScalarMaker::make_str(std::string_view text, ScalarFieldRefs& fields) const {
    const bool native = path_ == Path::Native && base_ == &PyUnicode_Type;
    auto* type = reinterpret_cast<PyTypeObject*>(cls_.get());
    PyRef made;
    if (native && is_ascii(text)) {
        made = new_ascii_subtype_str(type, text);
    } else {
        PyRef plain = PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
        if (!plain) return plain;
        if (!native) return make(plain.get(), fields);
        made = new_subtype_str(type, plain.get());
    }
    if (made) fill_slots(made.get(), fields);
    return made;
}

}  // namespace torvex::ffi
