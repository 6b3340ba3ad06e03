// UTF-8 validation 64 bytes at a time with AVX2, for the CPUs that have it
// (checked at run time: the build assumes only SSE2). Each byte is classed
// by three table lookups, on the high and the low half of the byte before
// it and on its own high half; the bits the three share name the fault of
// the pair (an ASCII byte before a continuation, a lead without one, the
// overlong, surrogate and too-large second bytes after C0/C1, E0, ED, F0,
// F4 and above). A continuation byte after a continuation byte is right
// exactly where the byte two before starts a three- or four-byte sequence or
// the byte three before a four-byte one, which a saturating subtraction
// tells. Those rules accept exactly what validate_scalar accepts. A block
// with a fault, and the last bytes of the text, go to validate_scalar from
// the last sequence start before them, so the fault reported (index,
// length, message) is the scalar one.
#include "core/utf8.hpp"

#if TORVEX_UTF8_AVX2
#include <immintrin.h>

namespace torvex::utf8 {

namespace {

// The fault bits; a pair is wrong when all three lookups share one.
constexpr char kTooShort = 1 << 0;   // a lead, then no continuation
constexpr char kTooLong = 1 << 1;    // ASCII, then a continuation
constexpr char kOverlong3 = 1 << 2;  // E0, then 80..9F
constexpr char kTooLarge = 1 << 3;   // F4, then 90..BF; F5..FF, then any continuation
constexpr char kSurrogate = 1 << 4;  // ED, then A0..BF
constexpr char kOverlong2 = 1 << 5;  // C0 or C1, then a continuation
constexpr char kTooLarge1000 = 1 << 6;  // F5..FF, then 80..8F
constexpr char kOverlong4 = 1 << 6;     // F0, then 80..8F
constexpr char kTwoConts = static_cast<char>(1 << 7);  // a continuation, then another
constexpr char kCarry = kTooShort | kTooLong | kTwoConts;  // decided by the high halves alone

[[gnu::target("avx2")]] inline __m256i table(char b0, char b1, char b2, char b3, char b4, char b5, char b6, char b7,
                                              char b8, char b9, char b10, char b11, char b12, char b13, char b14,
                                              char b15) noexcept {
    return _mm256_setr_epi8(b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15, b0, b1, b2, b3, b4,
                            b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15);
}

// Lane k holds the byte K places before lane k of v, taken from prev for the first K lanes.
template <int K>
[[gnu::target("avx2")]] inline __m256i before(__m256i v, __m256i prev) noexcept {
    return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(prev, v, 0x21), 16 - K);
}

// Nonzero lanes where v breaks a rule, given the 32 bytes before it.
[[gnu::target("avx2")]] inline __m256i faults(__m256i v, __m256i prev) noexcept {
    const __m256i low_nibble = _mm256_set1_epi8(0x0F);
    const __m256i p1 = before<1>(v, prev);
    const __m256i first_high = _mm256_shuffle_epi8(
        table(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts, kTwoConts,
              kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort, kTooShort | kOverlong3 | kSurrogate,
              kTooShort | kTooLarge | kTooLarge1000 | kOverlong4),
        _mm256_and_si256(_mm256_srli_epi16(p1, 4), low_nibble));
    constexpr char kLarge = kCarry | kTooLarge | kTooLarge1000;
    const __m256i first_low = _mm256_shuffle_epi8(
        table(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge,
              kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge | kSurrogate, kLarge, kLarge),
        _mm256_and_si256(p1, low_nibble));
    constexpr char kCont8 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4;
    constexpr char kCont9 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge;
    constexpr char kContAB = kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge;
    const __m256i second_high = _mm256_shuffle_epi8(
        table(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kCont8, kCont9,
              kContAB, kContAB, kTooShort, kTooShort, kTooShort, kTooShort),
        _mm256_and_si256(_mm256_srli_epi16(v, 4), low_nibble));
    const __m256i pair = _mm256_and_si256(_mm256_and_si256(first_high, first_low), second_high);
    // 0x80 where the byte two before is E0+ or the one three before F0+: a
    // continuation after a continuation is due there, and only there.
    const __m256i third = _mm256_subs_epu8(before<2>(v, prev), _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m256i fourth = _mm256_subs_epu8(before<3>(v, prev), _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m256i due = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(due, pair);
}

// Nonzero when the last bytes of v start a sequence that continues past them.
[[gnu::target("avx2")]] inline __m256i open_at_end(__m256i v) noexcept {
    const __m256i limits = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                            -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xEF),
                                            static_cast<char>(0xDF), static_cast<char>(0xBF));
    return _mm256_subs_epu8(v, limits);
}

[[gnu::target("avx2")]] inline __m256i load32(const unsigned char* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

}  // namespace

[[gnu::target("avx2")]] std::optional<Utf8Fault> validate_avx2(std::string_view bytes) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    __m256i prev = _mm256_setzero_si256();
    __m256i open = _mm256_setzero_si256();  // nonzero: the bytes before i end inside a sequence
    for (; i + 64 <= n; i += 64) {
        const __m256i a = load32(p + i), b = load32(p + i + 32);
        // All ASCII (the bulk of most texts): right unless a sequence is left open before it.
        const __m256i fault = _mm256_movemask_epi8(_mm256_or_si256(a, b)) == 0
                                  ? open
                                  : _mm256_or_si256(faults(a, prev), faults(b, a));
        if (!_mm256_testz_si256(fault, fault)) break;
        prev = b;
        open = open_at_end(b);
    }
    return validate_tail(bytes, i);
}

}  // namespace torvex::utf8

#endif
