#include "ffi/input.hpp"

#include <cstring>
#include <new>

#include "core/text_decode.hpp"
#include "core/utf8_units.hpp"
#include "ffi/errors.hpp"
#include "ffi/str_utf8.hpp"

namespace torvex::ffi {

namespace {

constexpr const char* kUnsupported = "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)";

std::optional<InputText> raise_or_take(Result<std::string> text) {
    if (!text.ok()) {
        raise_error(text.error());
        return std::nullopt;
    }
    return InputText::owned(std::move(text).value());
}

// Single-byte item formats: unsigned or signed char, optionally with a
// byte-order prefix (which means nothing for one-byte items).
bool is_byte_format(const char* format) {
    if (format == nullptr) return true;  // null means "B"
    if (*format == '@' || *format == '=' || *format == '<' || *format == '>' || *format == '!') ++format;
    return std::strcmp(format, "B") == 0 || std::strcmp(format, "b") == 0 || std::strcmp(format, "c") == 0;
}

class BufferView {
public:
    BufferView() = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() {
        if (held_) PyBuffer_Release(&view_);
    }
    bool acquire(PyObject* obj) {
        held_ = PyObject_GetBuffer(obj, &view_, PyBUF_FULL_RO) == 0;
        return held_;
    }
    Py_buffer& view() { return view_; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

std::optional<InputText> from_buffer(PyObject* data) {
    BufferView buffer;
    if (!buffer.acquire(data)) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, kUnsupported);
        return std::nullopt;
    }
    Py_buffer& view = buffer.view();
    if (view.shape == nullptr || view.strides == nullptr || view.itemsize != 1 || !is_byte_format(view.format)) {
        PyErr_SetString(PyExc_TypeError, kUnsupported);
        return std::nullopt;
    }
    if (PyBuffer_IsContiguous(&view, 'C')) {
        return raise_or_take(decode_bytes(std::string_view(static_cast<const char*>(view.buf),
                                                           static_cast<std::size_t>(view.len))));
    }
    std::string bytes(static_cast<std::size_t>(view.len / view.itemsize), '\0');
    if (PyBuffer_ToContiguous(bytes.data(), &view, view.len, 'C') < 0) return std::nullopt;
    return raise_or_take(decode_owned_bytes(std::move(bytes)));
}

// The UTF-8 form the interpreter makes and keeps; a lone surrogate raises
// its own error.
std::optional<InputText> interpreters_form(PyObject* str) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size);
    if (utf8 == nullptr) return std::nullopt;
    return InputText::borrowed(std::string_view(utf8, static_cast<std::size_t>(size)));
}

// A compact ASCII str is its own UTF-8 form, and so is a form the
// interpreter holds already. For another str the interpreter makes its form
// and keeps it inside the str as long as the str lives: a small text read
// again (a program that loads the same str twice) then costs nothing to
// convert. A large one is encoded here, into a text of the call's own, at a
// few times the speed, and without a second copy of a text of megabytes
// left in memory after the call.
std::optional<InputText> from_str(PyObject* str) {
    constexpr Py_ssize_t kOwnEncoding = Py_ssize_t{64} << 10;  // characters
    if (PyUnicode_IS_COMPACT_ASCII(str)) return InputText::borrowed(ascii_text(str));
    std::string_view cached;
    if (cached_utf8(str, cached)) return InputText::borrowed(cached);
    if (PyUnicode_GET_LENGTH(str) < kOwnEncoding) return interpreters_form(str);
    std::string text;
    if (utf8::encode_units(PyUnicode_DATA(str), static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)),
                           static_cast<unsigned>(PyUnicode_KIND(str)), text)) {
        return InputText::owned(std::move(text));
    }
    // A lone surrogate: the interpreter's own error, which asking for the
    // form raises (caching nothing).
    return interpreters_form(str);
}

}  // namespace

std::optional<InputText> acquire_text(PyObject* data) {
    if (PyUnicode_Check(data)) return from_str(data);
    if (PyBytes_Check(data)) {
        const std::string_view bytes(PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
        if (auto converted = convert_if_wide(bytes)) return raise_or_take(std::move(*converted));
        return InputText::borrowed(bytes);
    }
    if (PyByteArray_Check(data)) {
        // Decoding touches no Python object, so it runs inside the critical
        // section that keeps another thread from resizing the bytearray.
        // No exception may leave the section with its lock held.
        std::optional<Result<std::string>> text;
        bool out_of_memory = false;
        Py_BEGIN_CRITICAL_SECTION(data);
        try {
            text.emplace(decode_bytes(
                std::string_view(PyByteArray_AS_STRING(data), static_cast<std::size_t>(PyByteArray_GET_SIZE(data)))));
        } catch (const std::bad_alloc&) {
            out_of_memory = true;
        }
        Py_END_CRITICAL_SECTION();
        if (out_of_memory) throw std::bad_alloc();
        return raise_or_take(std::move(*text));
    }
    return from_buffer(data);
}

}  // namespace torvex::ffi
