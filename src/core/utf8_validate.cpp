// UTF-8 validation: the choice of kernel, and the one that checks 16 bytes
// at a time with SSE2 (part of every x86-64; the build does not assume
// SSSE3, so byte classes come from compares rather than table shuffles). Each byte is checked against the three bytes before
// it: a continuation byte must stand exactly where a lead byte announced
// one, lead bytes C0, C1 and F5..FF never appear, and the byte after E0, ED,
// F0 and F4 stays in the narrower range that excludes overlongs, surrogates
// and values above U+10FFFF. Those rules accept exactly what
// validate_scalar accepts. ASCII runs are skipped with the plain search
// whenever no sequence is open, so a block starts at each non-ASCII byte
// after such a run. A block with a fault, and the last bytes of the text, go
// to validate_scalar from the last sequence start before them, so the fault
// reported (index, length, message) is the scalar one.
#include <cstddef>

#include "core/utf8.hpp"
#include "core/wide_bytes.hpp"

namespace torvex::utf8 {

namespace {

#if TORVEX_SSE2

__m128i splat(unsigned char b) noexcept { return _mm_set1_epi8(static_cast<char>(b)); }

// Lane k holds the byte K places before lane k of v, taken from prev for the
// first K lanes.
template <int K>
__m128i before(__m128i v, __m128i prev) noexcept {
    return _mm_or_si128(_mm_slli_si128(v, K), _mm_srli_si128(prev, 16 - K));
}

// All-ones lanes where v breaks a rule, given the 16 bytes before it.
// Signed compares order the bytes 80..FF correctly among themselves; where
// they would also let an ASCII byte through, the continuation rule already
// flags that lane.
__m128i faults(__m128i v, __m128i prev) noexcept {
    const __m128i p1 = before<1>(v, prev), p2 = before<2>(v, prev), p3 = before<3>(v, prev);
    // Nonzero where a continuation is due: one after any lead (C0+), two
    // after a three- or four-byte lead (E0+), three after a four-byte one.
    const __m128i due = _mm_or_si128(_mm_or_si128(_mm_subs_epu8(p1, splat(0xBF)), _mm_subs_epu8(p2, splat(0xDF))),
                                     _mm_subs_epu8(p3, splat(0xEF)));
    const __m128i continuation = _mm_cmplt_epi8(v, splat(0xC0));  // 80..BF, the only bytes below C0 signed
    __m128i bad = _mm_xor_si128(continuation, _mm_cmpgt_epi8(due, _mm_setzero_si128()));
    bad = _mm_or_si128(bad, _mm_cmpeq_epi8(_mm_and_si128(v, splat(0xFE)), splat(0xC0)));  // C0, C1
    bad = _mm_or_si128(bad, _mm_cmpeq_epi8(_mm_max_epu8(v, splat(0xF5)), v));           // F5..FF
    const __m128i low_e0 = _mm_and_si128(_mm_cmpeq_epi8(p1, splat(0xE0)), _mm_cmplt_epi8(v, splat(0xA0)));
    const __m128i high_ed = _mm_and_si128(_mm_cmpeq_epi8(p1, splat(0xED)), _mm_cmpgt_epi8(v, splat(0x9F)));
    const __m128i low_f0 = _mm_and_si128(_mm_cmpeq_epi8(p1, splat(0xF0)), _mm_cmplt_epi8(v, splat(0x90)));
    const __m128i high_f4 = _mm_and_si128(_mm_cmpeq_epi8(p1, splat(0xF4)), _mm_cmpgt_epi8(v, splat(0x8F)));
    return _mm_or_si128(bad, _mm_or_si128(_mm_or_si128(low_e0, high_ed), _mm_or_si128(low_f0, high_f4)));
}

// Whether the last bytes of v start a sequence that continues past them.
bool open_at_end(__m128i v) noexcept {
    const __m128i limits = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xEF),
                                         static_cast<char>(0xDF), static_cast<char>(0xBF));
    const __m128i over = _mm_subs_epu8(v, limits);
    return _mm_movemask_epi8(_mm_cmpeq_epi8(over, _mm_setzero_si128())) != 0xFFFF;
}

#endif

}  // namespace

std::optional<Utf8Fault> validate_tail(std::string_view bytes, std::size_t i) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t q = i >= 3 ? i - 3 : 0;
    while (q > 0 && (p[q] & 0xC0) == 0x80) --q;
    auto fault = validate_scalar(bytes.substr(q));
    if (fault) fault->index += q;
    return fault;
}

std::optional<Utf8Fault> validate(std::string_view bytes) noexcept {
#if TORVEX_UTF8_AVX2
    if (bytes.size() >= 64 && has_avx2()) return validate_avx2(bytes);
#endif
    return validate_sse2(bytes);
}

std::optional<Utf8Fault> validate_sse2(std::string_view bytes) noexcept {
#if TORVEX_SSE2
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    __m128i prev = _mm_setzero_si128();
    bool open = false;  // the bytes before i end inside a sequence
    for (;;) {
        if (!open) {  // ASCII runs, the bulk of most texts, at the speed of the plain search
            const std::size_t ascii = wide::ascii_end(p, i, n);
            if (ascii != i) {
                prev = _mm_setzero_si128();
                i = ascii;
            }
        }
        if (i + 16 > n) break;
        const __m128i v = wide::load16(p + i);
        if (_mm_movemask_epi8(faults(v, prev)) != 0) break;
        prev = v;
        open = open_at_end(v);
        i += 16;
    }
    return validate_tail(bytes, i);
#else
    return validate_scalar(bytes);
#endif
}

}  // namespace torvex::utf8
