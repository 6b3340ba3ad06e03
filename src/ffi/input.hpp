// Input acquisition: every function that reads YAML turns its `data`
// argument into one UTF-8 text by this routine, so the engine can run
// detached from the interpreter afterwards.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ffi/python.hpp"

namespace torvex::ffi {

// The text of a call's `data`. A str's UTF-8 form and UTF-8 bytes are
// immutable and live as long as the argument, which the caller holds for the
// whole call, so they are read in place; everything else (bytearray and
// other buffers that may change, UTF-16/32 input, a large str encoded here
// rather than by the interpreter) is an owned copy.
class InputText {
public:
    static InputText borrowed(std::string_view text) noexcept { return InputText(text); }
    static InputText owned(std::string text) noexcept { return InputText(std::move(text)); }

    std::string_view view() const noexcept { return borrowed_ ? *borrowed_ : std::string_view(owned_); }
    // An owned copy, for the pipelines that keep the text past the call.
    std::string take() && { return borrowed_ ? std::string(*borrowed_) : std::move(owned_); }

private:
    explicit InputText(std::string_view text) noexcept : borrowed_(text) {}
    explicit InputText(std::string text) noexcept : owned_(std::move(text)) {}

    std::optional<std::string_view> borrowed_;
    std::string owned_;
};

// str (its UTF-8 form, no encoding detection), bytes, bytearray or any
// buffer of single bytes (UTF-8, UTF-16 or UTF-32 by detection). Returns
// nothing with the Python error set on failure.
std::optional<InputText> acquire_text(PyObject* data);

}  // namespace torvex::ffi
