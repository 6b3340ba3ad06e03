// Fuzzes the wide text helpers: block-wise UTF-8 validation (against the
// one-sequence-at-a-time check), measuring and decoding UTF-8 into code
// units (against validation and a one-character-at-a-time decode) and the
// byte searches (against byte loops), and code units back to UTF-8, plain
// (against a one-character-at-a-time encode) and as a JSON string (against
// the byte escaper on the same text). The buffers are exactly sized, so the
// sanitizer reports any read or write past them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/utf8.hpp"
#include "core/utf8_units.hpp"
#include "core/wide_bytes.hpp"
#include "encode/json_string.hpp"
#include "require.hpp"

using torvex_fuzz::require;

namespace {

template <class Unit>
void check_decode(const std::uint8_t* data, std::size_t size, const torvex::utf8::Measure& m,
                  const std::vector<char32_t>& expected, bool fits) {
    std::vector<Unit> out(m.chars);
    const bool ok = torvex::utf8::decode_units(data, size, out.data(), m.chars);
    require(ok == fits);
    if (!ok) return;
    for (std::size_t k = 0; k < expected.size(); ++k) require(out[k] == expected[k]);
}

// The block-wise check and the scalar one agree on the verdict and the fault.
void check_validate(std::string_view text) {
    const auto got = torvex::utf8::validate(text);
    const auto expected = torvex::utf8::validate_scalar(text);
    require(got.has_value() == expected.has_value());
    if (got) require(got->index == expected->index && got->length == expected->length);
}

// The JSON string writer over code units writes what the byte escaper
// writes for the same text in UTF-8, or refuses exactly when a unit is a
// surrogate; the units sit in an exactly sized vector.
template <class Unit>
void check_json_units(const std::uint8_t* data, std::size_t size, std::size_t initial) {
    std::vector<Unit> units(size / sizeof(Unit));
    if (!units.empty()) std::memcpy(units.data(), data, units.size() * sizeof(Unit));
    std::string utf8;
    bool surrogate = false;
    for (Unit& u : units) {
        std::uint32_t c = u;
        if constexpr (sizeof(Unit) == 4) c = u = c % 0x110000;  // a str holds no larger code point
        surrogate = surrogate || (c >= 0xD800 && c < 0xE000);
        torvex::utf8::append(utf8, c);
    }
    // The plain encoder gives the same UTF-8, over whatever it held before.
    std::string encoded(initial, 'z');
    const bool encoded_ok = torvex::utf8::encode_units(units.data(), units.size(), sizeof(Unit), encoded);
    require(encoded_ok == !surrogate);
    if (encoded_ok) require(encoded == utf8);

    torvex::OutBuffer out(initial);
    out.append("x", 1);  // the literal lands after earlier output
    const bool ok = torvex::append_json_string_units(out, units.data(), units.size(), sizeof(Unit));
    require(ok == !surrogate);
    if (!ok) return;
    torvex::OutBuffer expected;
    expected.append("x", 1);
    torvex::append_json_string(expected, utf8);
    require(out.view() == expected.view());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A private copy: the fuzzer's buffer is exactly sized too, but this keeps
    // the searches below honest about their end.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::uint8_t* p = bytes.data();
    const std::string_view text(reinterpret_cast<const char*>(p), size);

    for (const std::size_t from : {std::size_t{0}, size / 3, size}) {
        std::size_t e = from;
        while (e < size && p[e] < 0x80) ++e;
        require(torvex::wide::ascii_end(p, from, size) == e);
        e = from;
        while (e < size && p[e] != '\n' && p[e] != '\r') ++e;
        require(torvex::wide::find_break(p, from, size) == e);
        e = from;
        while (e < size && p[e] == ' ') ++e;
        require(torvex::wide::skip_spaces(p, from, size) == e);
    }

    // From two starts, so each sequence meets the 32-byte blocks at two offsets.
    check_validate(text);
    check_validate(text.substr(size / 3));

    const bool valid = !torvex::utf8::validate(text).has_value();
    const torvex::utf8::Measure m = torvex::utf8::measure(p, size);
    std::vector<char32_t> expected;
    char32_t top = 0;
    if (valid) {
        for (std::size_t i = 0; i < size; i += torvex::utf8::sequence_length(p[i])) {
            expected.push_back(torvex::utf8::decode_at(text, i));
            top = expected.back() > top ? expected.back() : top;
        }
        require(m.chars == expected.size());
        require(m.ascii() == (top < 0x80));
        require(m.width() == (top < 0x100 ? 1u : top < 0x10000 ? 2u : 4u));
    }
    check_decode<std::uint32_t>(p, size, m, expected, valid);
    check_decode<std::uint16_t>(p, size, m, expected, valid && top < 0x10000);
    check_decode<std::uint8_t>(p, size, m, expected, valid && top < 0x100);

    // The first byte picks the unit width and how small the output starts.
    if (size > 0) {
        const std::size_t initial = 1 + (p[0] >> 2);
        switch (p[0] & 3) {
            case 0:
            case 1: check_json_units<std::uint8_t>(p + 1, size - 1, initial); break;
            case 2: check_json_units<std::uint16_t>(p + 1, size - 1, initial); break;
            default: check_json_units<std::uint32_t>(p + 1, size - 1, initial); break;
        }
    }
    return 0;
}
