// The window searches of byte_search.hpp and wide_bytes.hpp 32 bytes per
// step, for the CPUs that have AVX2 (checked at run time, once per scan):
// a window takes four steps where SSE2 takes eight, and the characters of a
// quoted run are counted by the popcount instruction rather than a library
// call. Same results as the SSE2 forms, which the tests check.
#include "scanner/byte_search.hpp"

#if TORVEX_UTF8_AVX2
#include <immintrin.h>

namespace torvex {

namespace {

// Bits of the 64 bytes at p: `stops` for the bytes a, b, LF and CR,
// `continuation` (when wanted) for the bytes 0x80..0xBF.
template <bool kContinuation>
[[gnu::target("avx2")]] inline void bits64(const unsigned char* p, __m256i a, __m256i b, std::uint64_t& stops,
                                           std::uint64_t& continuation) noexcept {
    const __m256i lf = _mm256_set1_epi8('\n'), cr = _mm256_set1_epi8('\r'), below = _mm256_set1_epi8(-64);
    stops = 0;
    continuation = 0;
    for (int k = 0; k < 2; ++k) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * k));
        const __m256i m = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, a), _mm256_cmpeq_epi8(v, b)),
                                          _mm256_or_si256(_mm256_cmpeq_epi8(v, lf), _mm256_cmpeq_epi8(v, cr)));
        stops |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(m))) << (32 * k);
        if constexpr (kContinuation)
            continuation |= static_cast<std::uint64_t>(
                                static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(below, v))))
                            << (32 * k);
    }
}

}  // namespace

namespace wide {

[[gnu::target("avx2")]] std::size_t break_in_window_avx2(const unsigned char* p) noexcept {
    const __m256i lf = _mm256_set1_epi8('\n');
    std::uint64_t lo, hi, unused;
    bits64<false>(p, lf, lf, lo, unused);
    bits64<false>(p + 64, lf, lf, hi, unused);
    const std::uint64_t in_hi = 0 - static_cast<std::uint64_t>(lo == 0);  // all ones when none is in the first 64
    const std::uint64_t bits = lo | (in_hi & (hi | 1ULL << 63));           // never zero
    return static_cast<std::size_t>(in_hi & 64) + static_cast<std::size_t>(__builtin_ctzll(bits));
}

}  // namespace wide

namespace scan {

[[gnu::target("avx2")]] std::size_t find_quote_stop_avx2(const unsigned char* text, std::size_t p, std::size_t length,
                                                        unsigned char a, unsigned char b, unsigned& high) noexcept {
    const __m256i va = _mm256_set1_epi8(static_cast<char>(a)), vb = _mm256_set1_epi8(static_cast<char>(b));
    const __m256i lf = _mm256_set1_epi8('\n'), cr = _mm256_set1_epi8('\r');
    for (; p + 32 <= length; p += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + p));
        const __m256i m = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, va), _mm256_cmpeq_epi8(v, vb)),
                                          _mm256_or_si256(_mm256_cmpeq_epi8(v, lf), _mm256_cmpeq_epi8(v, cr)));
        const auto top = static_cast<unsigned>(_mm256_movemask_epi8(v));
        const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(m));
        if (mask != 0) {
            high |= top & (mask - 1);  // the bytes before the stop (stops are ASCII)
            return p + static_cast<std::size_t>(__builtin_ctz(mask));
        }
        high |= top;
    }
    return detail::quote_stop<true>(text, p, length, a, b, high);
}

[[gnu::target("avx2,popcnt")]] std::size_t quote_run_in_window_avx2(const unsigned char* p, unsigned char a,
                                                                   unsigned char b, std::size_t& columns) noexcept {
    const __m256i va = _mm256_set1_epi8(static_cast<char>(a)), vb = _mm256_set1_epi8(static_cast<char>(b));
    std::uint64_t stops_lo, stops_hi, cont_lo, cont_hi;
    bits64<true>(p, va, vb, stops_lo, cont_lo);
    bits64<true>(p + 64, va, vb, stops_hi, cont_hi);
    const std::uint64_t in_hi = 0 - static_cast<std::uint64_t>(stops_lo == 0);
    const std::uint64_t bits = stops_lo | (in_hi & (stops_hi | 1ULL << 63));  // never zero
    const std::size_t off = static_cast<std::size_t>(in_hi & 64) + static_cast<std::size_t>(__builtin_ctzll(bits));
    // The continuation bytes below `off`, in the low word whole when the run reaches the high one.
    const std::uint64_t below_lo = (in_hi & ~0ULL) | (~in_hi & ((1ULL << (off & 63)) - 1));
    const std::uint64_t below_hi = in_hi & ((1ULL << (off & 63)) - 1);
    columns = off - static_cast<std::size_t>(__builtin_popcountll(cont_lo & below_lo) +
                                             __builtin_popcountll(cont_hi & below_hi));
    return off;
}

}  // namespace scan

}  // namespace torvex

#endif
