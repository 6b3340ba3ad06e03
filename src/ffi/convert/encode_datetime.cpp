// Dates, times and date-times: anything with an isoformat() method that
// returns a str, adjusted by the date options.
#include <atomic>
#include <string>

#include "ffi/convert/encode_detail.hpp"

namespace torvex::ffi::encode {

namespace {

std::atomic<PyObject*> g_isoformat{nullptr};

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

bool two_digits(std::string_view s, std::size_t at) noexcept {
    return at + 2 <= s.size() && is_digit(s[at]) && is_digit(s[at + 1]);
}

// Length of a trailing UTC offset: "+HH:MM", "+HH:MM:SS" or
// "+HH:MM:SS.ffffff" (either sign), or 0 when the text ends in none. The sign
// is required, so the seconds of a naive time ("03:04:05") are never taken
// for an offset.
std::size_t offset_length(std::string_view s) noexcept {
    const std::size_t sign = s.find_last_of("+-");
    if (sign == std::string_view::npos || sign == 0) return 0;
    const std::string_view tail = s.substr(sign);
    if (!two_digits(tail, 1) || tail.size() < 6 || tail[3] != ':' || !two_digits(tail, 4)) return 0;
    if (tail.size() == 6) return tail.size();
    if (tail[6] != ':' || !two_digits(tail, 7)) return 0;
    if (tail.size() == 9) return tail.size();
    if (tail[9] != '.' || tail.size() == 10) return 0;
    for (std::size_t i = 10; i < tail.size(); ++i) {
        if (!is_digit(tail[i])) return 0;
    }
    return tail.size();
}

}  // namespace

std::string iso_text(std::string_view iso, const EncodeOptions& options) {
    std::string_view body = iso;
    std::string_view offset;
    if (!iso.empty() && iso.back() == 'Z') {
        body = iso.substr(0, iso.size() - 1);
        offset = "Z";
    } else if (const std::size_t n = offset_length(iso)) {
        body = iso.substr(0, iso.size() - n);
        offset = iso.substr(iso.size() - n);
    }
    const bool date_time = body.find('T') != std::string_view::npos;
    if (options.omit_microseconds) body = body.substr(0, body.find('.'));
    if (options.naive_utc && offset.empty() && date_time) offset = "+00:00";
    if (options.utc_z && offset == "+00:00") offset = "Z";
    std::string text;
    text.reserve(body.size() + offset.size());
    text.append(body);
    text.append(offset);
    return text;
}

Outcome encode_datetime(Encoder& encoder, PyObject* obj) {
    if (encoder.options().passthrough_datetime) return Outcome::NoMatch;
    PyObject* name = interned(g_isoformat, "isoformat");
    if (name == nullptr) return Outcome::Failed;
    PyObject* found = nullptr;
    const int status = PyObject_GetOptionalAttr(obj, name, &found);
    if (status < 0) return Outcome::Failed;
    if (status == 0) return Outcome::NoMatch;
    PyRef method = PyRef::steal(found);
    PyRef result = PyRef::steal(PyObject_CallNoArgs(method.get()));
    if (!result) return Outcome::Failed;
    if (!PyUnicode_Check(result.get())) return Outcome::NoMatch;
    std::string_view iso;
    if (utf8_of(result.get(), iso) == nullptr) return Outcome::Failed;
    encoder.put_text(TapeNode::Kind::String, iso_text(iso, encoder.options()));
    return Outcome::Done;
}

}  // namespace torvex::ffi::encode
