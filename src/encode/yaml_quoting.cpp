#include "encode/yaml_quoting.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>

#include "core/wide_bytes.hpp"
#include "resolver/resolve.hpp"

namespace torvex::yaml {

namespace {

using u8 = unsigned char;

// Byte classes of the quoting scan. 0 is the common case: nothing to note.
enum : std::uint8_t { kNone, kCtrl, kTab, kLf, kColon, kHash, kFlow, kSingle, kHigh };

constexpr std::array<std::uint8_t, 256> make_scan_table() {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = kCtrl;
    t[0x7F] = kCtrl;
    t['\t'] = kTab;
    t['\n'] = kLf;
    t[':'] = kColon;
    t['#'] = kHash;
    for (u8 c : {',', '[', ']', '{', '}'}) t[c] = kFlow;
    t['\''] = kSingle;
    // Lead bytes of the characters that must be escaped: C1 controls (C2 80..9F,
    // NEL among them), LS and PS (E2 80 A8/A9), BOM (EF BB BF), U+FFFE/U+FFFF.
    t[0xC2] = kHigh;
    t[0xE2] = kHigh;
    t[0xEF] = kHigh;
    return t;
}
constexpr auto kScan = make_scan_table();

#if TORVEX_SSE2
// Bit k set where byte k of v has a class other than kNone.
inline unsigned flagged16(__m128i v) noexcept {
    const __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));  // '[' -> '{', ']' -> '}', 0xC2 -> 0xE2
    __m128i hit = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);  // controls, tab, line feed
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(':')));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8('#')));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(',')));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8('\'')));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(folded, _mm_set1_epi8('{')));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(folded, _mm_set1_epi8('}')));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(folded, _mm_set1_epi8(static_cast<char>(0xE2))));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xEF))));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
#endif

// Calls f(i) for every index of `p` whose byte has a class other than kNone,
// in increasing order, some possibly twice: 16 bytes a step, the last step
// overlapping the one before. The scans only set flags, so a repeat is
// harmless.
template <class F>
inline void for_each_flagged(const u8* p, std::size_t n, F&& f) {
#if TORVEX_SSE2
    const auto visit = [&](unsigned bits, std::size_t base, std::size_t high_base) {
        for (; bits != 0; bits &= bits - 1) {
            const auto k = static_cast<std::size_t>(std::countr_zero(bits));
            f(k < 8 ? base + k : high_base + k);
        }
    };
    if (n >= 16) {
        std::size_t i = 0;
        for (; i + 16 <= n; i += 16) visit(flagged16(wide::load16(p + i)), i, i);
        if (i < n) visit(flagged16(wide::load16(p + n - 16)), n - 16, n - 16);
        return;
    }
    if (n >= 8) {
        // The first eight bytes and the last eight, overlapping when n < 16.
        const __m128i v = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + n - 8)));
        visit(flagged16(v), 0, n - 16);
        return;
    }
#endif
    for (std::size_t i = 0; i < n; ++i)
        if (kScan[p[i]] != kNone) f(i);
}

// First bytes that would start an indicator, a comment, a tag, an anchor or
// alias, a block scalar, a directive, or leading white space.
constexpr std::array<bool, 256> make_first_table() {
    std::array<bool, 256> t{};
    for (u8 c : {'\t', ' ', '!', '"', '#', '%', '&', '\'', '*', ',', '-', ':', '>', '?', '@', '[', ']', '`', '{', '|',
                 '}'})
        t[c] = true;
    return t;
}
constexpr auto kFirst = make_first_table();

// Length of the escaped special character starting at s[i], or 0.
inline std::size_t special_length(const u8* p, std::size_t i, std::size_t n) noexcept {
    switch (p[i]) {
        case 0xC2:
            return (i + 1 < n && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F) ? 2 : 0;
        case 0xE2:
            return (i + 2 < n && p[i + 1] == 0x80 && (p[i + 2] == 0xA8 || p[i + 2] == 0xA9)) ? 3 : 0;
        case 0xEF:
            if (i + 2 >= n) return 0;
            if (p[i + 1] == 0xBB && p[i + 2] == 0xBF) return 3;
            if (p[i + 1] == 0xBF && (p[i + 2] == 0xBE || p[i + 2] == 0xBF)) return 3;
            return 0;
        default:
            return 0;
    }
}

bool first_content_line_ok(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size() && s[i] == '\n') ++i;
    return i == s.size() || (s[i] != ' ' && s[i] != '\t');
}

bool equals_any(std::string_view s, std::initializer_list<std::string_view> words) noexcept {
    for (std::string_view w : words)
        if (s == w) return true;
    return false;
}

struct StringSink {
    std::string& s;
    void append(const char* p, std::size_t n) { s.append(p, n); }
    void put(char c) { s.push_back(c); }
};

constexpr std::array<bool, 256> make_escape_table() {
    std::array<bool, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = true;
    t[0x7F] = true;
    t['"'] = true;
    t['\\'] = true;
    t[0xC2] = true;
    t[0xE2] = true;
    t[0xEF] = true;
    return t;
}
constexpr auto kEscape = make_escape_table();

template <class Sink>
void escape_into(Sink& out, std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const u8*>(s.data());
    const std::size_t n = s.size();
    std::size_t run = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u8 c = p[i];
        if (!kEscape[c]) [[likely]]
            continue;
        std::size_t special = 0;
        if (c >= 0x80) {
            special = special_length(p, i, n);
            if (special == 0) continue;
        }
        out.append(s.data() + run, i - run);
        char esc[8];
        std::size_t len = 2;
        esc[0] = '\\';
        switch (c) {
            case 0x00: esc[1] = '0'; break;
            case '\t': esc[1] = 't'; break;
            case '\n': esc[1] = 'n'; break;
            case '\r': esc[1] = 'r'; break;
            case '"': esc[1] = '"'; break;
            case '\\': esc[1] = '\\'; break;
            case 0xC2:
                if (p[i + 1] == 0x85) {
                    esc[1] = 'N';
                } else {
                    esc[1] = 'x';
                    esc[2] = kHex[p[i + 1] >> 4];
                    esc[3] = kHex[p[i + 1] & 0xF];
                    len = 4;
                }
                break;
            case 0xE2:
                esc[1] = p[i + 2] == 0xA8 ? 'L' : 'P';
                break;
            case 0xEF:
                std::memcpy(esc + 1, p[i + 1] == 0xBB ? "ufeff" : (p[i + 2] == 0xBE ? "ufffe" : "uffff"), 5);
                len = 6;
                break;
            default:
                esc[1] = 'x';
                esc[2] = kHex[c >> 4];
                esc[3] = kHex[c & 0xF];
                len = 4;
                break;
        }
        out.append(esc, len);
        if (special) i += special - 1;
        run = i + 1;
    }
    out.append(s.data() + run, n - run);
}

}  // namespace

bool is_reserved_word(std::string_view s) noexcept {
    switch (s.size()) {
        case 1:
            // "y"/"n" read as booleans under YAML 1.1, "=" as the 1.1 value key.
            return s[0] == '~' || s[0] == 'y' || s[0] == 'Y' || s[0] == 'n' || s[0] == 'N' || s[0] == '=';
        case 2:
            return equals_any(s, {"no", "No", "NO", "on", "On", "ON", "<<"});
        case 3:
            return equals_any(s, {"yes", "Yes", "YES", "off", "Off", "OFF", "..."});
        case 4:
            return equals_any(s, {"null", "Null", "NULL", "true", "True", "TRUE", ".inf", ".Inf", ".INF", ".nan",
                                  ".NaN", ".NAN"});
        case 5:
            return equals_any(s, {"false", "False", "FALSE", "-.inf", "-.Inf", "-.INF", "+.inf", "+.Inf", "+.INF"});
        default:
            return false;
    }
}

bool reads_as_number(std::string_view s) noexcept {
    if (s.empty()) return false;
    // Digits with leading zeros ("08", "+0123"): the standard YAML 1.2 core
    // schema reads every run of decimal digits as an integer.
    std::string_view digits = s[0] == '+' ? s.substr(1) : s;
    if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos) return true;
    const u8 c = static_cast<u8>(s[0]);
    const bool digit = c >= '0' && c <= '9';
    // Under either rule set a number starts with a digit, a sign or '.'.
    if (!digit && c != '+' && c != '.' && c != '-') return false;
    return resolve(ResolveMode::Yaml12, s, true, std::nullopt).kind != ResolvedKind::Str ||
           resolve(ResolveMode::Yaml11, s, true, std::nullopt).kind != ResolvedKind::Str;
}

bool has_foldable_space(std::string_view s) noexcept {
    const std::size_t n = s.size();
    if (n < 3) return false;
    const char* p = s.data();
    const char* end = p + n - 1;
    for (const char* q = p + 1; q < end;) {
        const void* hit = std::memchr(q, ' ', static_cast<std::size_t>(end - q));
        if (!hit) return false;
        q = static_cast<const char*>(hit);
        if (q[-1] != ' ' && q[1] != ' ') return true;
        ++q;
    }
    return false;
}

ScalarScan scan_scalar(std::string_view s) noexcept {
    ScalarScan r;
    const auto* p = reinterpret_cast<const u8*>(s.data());
    const std::size_t n = s.size();
    if (n == 0) {
        r.needs_quotes = true;
        r.single_ok = true;
        return r;
    }
    bool ctrl = false, tab = false, lf = false, special = false, colon = false, hash = false, flow = false,
         single = false;
    for_each_flagged(p, n, [&](std::size_t i) {
        switch (kScan[p[i]]) {
            case kCtrl: ctrl = true; break;
            case kTab: tab = true; break;
            case kLf: lf = true; break;
            case kColon:
                if (i + 1 == n || p[i + 1] == ' ') colon = true;
                break;
            case kHash:
                if (i > 0 && p[i - 1] == ' ') hash = true;
                break;
            case kFlow: flow = true; break;
            case kSingle: single = true; break;
            // A special character's later bytes are continuation bytes, never flagged.
            case kHigh:
                if (special_length(p, i, n) != 0) special = true;
                break;
            default: break;
        }
    });
    const u8 last = p[n - 1];
    bool needs = ctrl || tab || lf || special || colon || hash || kFirst[p[0]] || last == ' ' || last == '\t';
    if (!needs) {
        const u8 c = p[0];
        if (n <= 5) needs = is_reserved_word(s);
        // "... x" at the start of a line would end the document.
        if (!needs && c == '.' && n >= 4 && p[1] == '.' && p[2] == '.' && p[3] == ' ') needs = true;
        // No number of either rule set starts otherwise ('-' is an indicator, quoted above).
        if (!needs && ((c >= '0' && c <= '9') || c == '+' || c == '.')) needs = reads_as_number(s);
    }
    r.needs_quotes = needs;
    r.flow_unsafe = flow;
    r.single_ok = !single && !lf && !ctrl && !tab && !special;
    r.literal_ok = lf && !ctrl && !special && first_content_line_ok(s);
    return r;
}

PlainFit plain_fit(std::string_view s) noexcept {
    PlainFit r;
    const auto* p = reinterpret_cast<const u8*>(s.data());
    const std::size_t n = s.size();
    bool ctrl = false, lf = false, special = false, breaks_plain = false, flow = false;
    for_each_flagged(p, n, [&](std::size_t i) {
        switch (kScan[p[i]]) {
            case kCtrl: ctrl = true; break;
            case kLf: lf = true; break;
            case kColon:
                // ": " and ":<tab>" start a value; a final ":" does too.
                if (i + 1 == n || p[i + 1] == ' ' || p[i + 1] == '\t') breaks_plain = true;
                break;
            case kHash:
                if (i > 0 && (p[i - 1] == ' ' || p[i - 1] == '\t')) breaks_plain = true;
                break;
            case kFlow: flow = true; break;
            case kHigh:
                if (special_length(p, i, n) != 0) special = true;
                break;
            default: break;  // tab and apostrophe are fine inside a plain scalar
        }
    });
    r.single_ok = !lf && !ctrl && !special;
    r.block_scalar_ok = !ctrl && !special;
    if (n == 0 || ctrl || lf || special || breaks_plain) return r;
    const u8 first = p[0];
    const u8 last = p[n - 1];
    if (first == ' ' || first == '\t' || last == ' ' || last == '\t') return r;
    if (first == '-' || first == '?' || first == ':') {
        // An indicator only when white space or the end follows.
        if (n == 1 || p[1] == ' ' || p[1] == '\t') return r;
    } else if (kFirst[first]) {
        return r;
    }
    // "--- x" or "... x" at the start of a line is a document marker.
    if (n >= 3 && (first == '-' || first == '.') && p[1] == first && p[2] == first &&
        (n == 3 || p[3] == ' ' || p[3] == '\t'))
        return r;
    r.block_ok = true;
    r.flow_ok = !flow;
    return r;
}

void append_escaped(OutBuffer& out, std::string_view s) { escape_into(out, s); }

void append_escaped(std::string& out, std::string_view s) {
    StringSink sink{out};
    escape_into(sink, s);
}

}  // namespace torvex::yaml
