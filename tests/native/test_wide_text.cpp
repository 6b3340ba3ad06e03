// The wide (16- and 8-byte) text helpers against byte-at-a-time references:
// searches from every start offset, UTF-8 measuring and decoding into code
// units, and the scanner's long scalars. Every text ends at an inaccessible
// page, so a read past its end faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/utf8.hpp"
#include "core/utf8_units.hpp"
#include "core/wide_bytes.hpp"
#include "guarded_bytes.hpp"
#include "roundtrip/composer.hpp"
#include "scanner/byte_search.hpp"
#include "scanner/scanner.hpp"

namespace torvex {
namespace {

using testing_guard::Guarded;
using testing_guard::GuardedText;

std::string random_text(std::mt19937& rng, std::string_view alphabet, std::size_t size) {
    std::string s;
    for (std::size_t i = 0; i < size; ++i) s.push_back(alphabet[rng() % alphabet.size()]);
    return s;
}

// Random characters (each piece is one) for texts that must stay valid UTF-8.
std::string random_chars(std::mt19937& rng, const std::vector<std::string_view>& pieces, std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i) s += pieces[rng() % pieces.size()];
    return s;
}

// Alphabets weighted towards the bytes each search stops at; "\xC3\xA9" is é.
const std::string_view kAlphabets[] = {
    "aaaaaaaaaaaaaaa \n",
    "ab \t\r\n#:,[]{}\"'\\",
    "a\xC3\xA9\xE6\x9D\xB1\xF0\x9F\x9A\x80  ",
    "          x\n",
    "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa:#\xC3\xA9",
};

TEST(WideSearch, AgreesWithByteLoopsFromEveryStart) {
    std::mt19937 rng(7);
    for (const std::string_view alphabet : kAlphabets) {
        for (std::size_t size = 0; size <= 80; ++size) {
            GuardedText text(random_text(rng, alphabet, size));
            ASSERT_TRUE(text.ok());
            const unsigned char* t = text.data();
            for (std::size_t i = 0; i <= size; ++i) {
                std::size_t e = i;
                while (e < size && t[e] < 0x80) ++e;
                EXPECT_EQ(wide::ascii_end(t, i, size), e);
                e = i;
                while (e < size && t[e] != '\n' && t[e] != '\r') ++e;
                EXPECT_EQ(wide::find_break(t, i, size), e);
                e = i;
                while (e < size && t[e] == ' ') ++e;
                EXPECT_EQ(wide::skip_spaces(t, i, size), e);

                for (const bool flow : {false, true}) {
                    const std::string_view stops = flow ? "\n\r#:,[]{}" : "\n\r#:";
                    e = i;
                    while (e < size && stops.find(static_cast<char>(t[e])) == std::string_view::npos) ++e;
                    unsigned high = 0;
                    bool expect_high = false;
                    for (std::size_t k = i; k < e; ++k) expect_high |= t[k] >= 0x80;
                    EXPECT_EQ(scan::find_plain_stop(t, i, size, flow, high), e) << "flow " << flow << " at " << i;
                    EXPECT_EQ(high != 0, expect_high);
                }
                for (const auto& [a, b] : {std::pair<char, char>{'"', '\\'}, {'\'', '\''}}) {
                    e = i;
                    while (e < size && t[e] != a && t[e] != b && t[e] != '\n' && t[e] != '\r') ++e;
                    unsigned high = 0;
                    bool expect_high = false;
                    for (std::size_t k = i; k < e; ++k) expect_high |= t[k] >= 0x80;
                    EXPECT_EQ(scan::find_quote_stop(t, i, size, a, b, high), e);
                    EXPECT_EQ(high != 0, expect_high);
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// UTF-8 to code units

std::string encode(const std::vector<char32_t>& cps) {
    std::string s;
    for (const char32_t cp : cps) utf8::append(s, cp);
    return s;
}

// Code points in runs that cross the 8- and 16-byte steps: long ASCII runs,
// and runs of one width class (Latin-1, BMP, astral).
std::vector<char32_t> random_code_points(std::mt19937& rng, std::size_t count, int widest) {
    std::vector<char32_t> cps;
    while (cps.size() < count) {
        const int cls = static_cast<int>(rng() % static_cast<unsigned>(widest + 1));
        const std::size_t run = 1 + rng() % (cls == 0 ? 40 : 6);
        for (std::size_t k = 0; k < run && cps.size() < count; ++k) {
            char32_t cp = 0;
            switch (cls) {
                case 0: cp = 0x20 + rng() % 0x5F; break;
                case 1: cp = 0x80 + rng() % 0x80; break;
                case 2: cp = 0x100 + rng() % (0xD800 - 0x100); break;
                default: cp = 0x10000 + rng() % 0x100000; break;
            }
            cps.push_back(cp);
        }
    }
    return cps;
}

template <class Unit>
void expect_decodes(std::string_view bytes, const std::vector<char32_t>& cps, bool fits) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    Guarded<Unit> out(cps.size());
    ASSERT_TRUE(out.ok());
    const bool decoded = utf8::decode_units(p, bytes.size(), out.data(), cps.size());
    ASSERT_EQ(decoded, fits) << "unit width " << sizeof(Unit) << ", " << bytes.size() << " bytes";
    if (!fits) return;
    for (std::size_t k = 0; k < cps.size(); ++k) ASSERT_EQ(out.data()[k], static_cast<std::uint32_t>(cps[k])) << "at " << k;
}

// The branch-free window search: the first break among the first 127 bytes,
// from every start that leaves a whole window before the guard page.
TEST(WideSearch, BreakWindowAgreesWithAByteLoop) {
    std::mt19937 rng(23);
    for (const std::string_view alphabet : {std::string_view("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n"),
                                            std::string_view("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
                                                             "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r"),
                                            std::string_view("\xC3\xA9 a\n")}) {
        for (int round = 0; round < 40; ++round) {
            const std::size_t size = wide::kBreakWindow + rng() % 200;
            GuardedText text(random_text(rng, alphabet, size));
            ASSERT_TRUE(text.ok());
            const unsigned char* t = text.data();
            for (std::size_t i = 0; i + wide::kBreakWindow <= size; ++i) {
                std::size_t e = 0;
                while (e < wide::kBreakWindow - 1 && t[i + e] != '\n' && t[i + e] != '\r') ++e;
                ASSERT_EQ(wide::break_in_window(t + i), e) << "at " << i;
#if TORVEX_UTF8_AVX2
                if (utf8::has_avx2()) {
                    ASSERT_EQ(wide::break_in_window_avx2(t + i), e) << "32-byte steps, at " << i;
                }
#endif
            }
        }
    }
}

// The quoted-run window: the first quote, escape or break among the first 127
// bytes, and the characters before it, from every start with a whole window.
TEST(WideSearch, QuoteRunWindowAgreesWithAByteLoop) {
    std::mt19937 rng(31);
    const std::vector<std::string_view> pieces = {"a", "a", "a", "a", "a", "a", "a", "a", "a", "a", "a", "a", " ",
                                                  "\xC3\xA9", "\xE6\x9D\xB1", "\xF0\x9F\x9A\x80", "\"", "\\",
                                                  "'", "\n", "\r"};
    for (int round = 0; round < 60; ++round) {
        std::string s = random_chars(rng, pieces, 130 + rng() % 200);
        if (round % 3 == 0) std::erase_if(s, [](char c) { return c == '"' || c == '\\' || c == '\'' || c == '\n' || c == '\r'; });
        GuardedText text(s);
        ASSERT_TRUE(text.ok());
        const unsigned char* t = text.data();
        for (std::size_t i = 0; i + wide::kBreakWindow <= text.size(); ++i) {
            for (const auto& [a, b] : {std::pair<unsigned char, unsigned char>{'"', '\\'}, {'\'', '\''}}) {
                std::size_t e = 0, chars = 0;
                for (; e < wide::kBreakWindow - 1; ++e) {
                    const unsigned char c = t[i + e];
                    if (c == a || c == b || c == '\n' || c == '\r') break;
                    chars += (c & 0xC0) != 0x80;
                }
                std::size_t columns = 0;
                ASSERT_EQ(scan::quote_run_in_window(t + i, a, b, columns), e) << "at " << i;
                ASSERT_EQ(columns, chars) << "at " << i;
#if TORVEX_UTF8_AVX2
                if (utf8::has_avx2()) {
                    ASSERT_EQ(scan::quote_run_in_window_avx2(t + i, a, b, columns), e) << "32-byte steps, at " << i;
                    ASSERT_EQ(columns, chars) << "32-byte steps, at " << i;
                }
#endif
            }
        }
    }
}

TEST(Utf8Units, MeasureAndDecodeAgreeWithTheCodePoints) {
    std::mt19937 rng(11);
    for (int widest = 0; widest <= 3; ++widest) {
        for (std::size_t count = 0; count <= 120; ++count) {
            const std::vector<char32_t> cps = random_code_points(rng, count, widest);
            GuardedText text(encode(cps));
            const utf8::Measure m = utf8::measure(text.data(), text.size());
            char32_t top = 0;
            for (const char32_t cp : cps) top = std::max(top, cp);
            ASSERT_EQ(m.chars, cps.size());
            EXPECT_EQ(m.ascii(), top < 0x80);
            EXPECT_EQ(m.width(), top < 0x100 ? 1u : top < 0x10000 ? 2u : 4u) << "top U+" << std::hex << static_cast<std::uint32_t>(top);
            expect_decodes<std::uint8_t>(text.view(), cps, top < 0x100);
            expect_decodes<std::uint16_t>(text.view(), cps, top < 0x10000);
            expect_decodes<std::uint32_t>(text.view(), cps, true);
        }
    }
}

// Long texts: the per-lane counts of continuation bytes are summed every
// 4032 bytes (16-byte steps) or 8128 (32-byte steps); lengths around those
// sums, in texts made almost wholly of continuation bytes (the worst case
// for the lane counts).
TEST(Utf8Units, MeasureCountsAcrossLaneSums) {
    for (const std::size_t size : {4031, 4032, 4033, 4047, 4048, 4063, 4064, 4065, 8064, 8100, 8127, 8128, 8129, 8159,
                                   8160, 8161, 8191, 8192, 8193, 12096, 16257, 20001}) {
        // U+1F680 is four bytes, three of them continuation bytes; ASCII fills up to `size`.
        std::string bytes;
        for (std::size_t k = 0; k < size / 4; ++k) bytes += "\xF0\x9F\x9A\x80";
        bytes.append(size % 4, 'a');
        GuardedText text(bytes);
        const utf8::Measure m = utf8::measure(text.data(), text.size());
        EXPECT_EQ(m.chars, size / 4 + size % 4) << size;
        EXPECT_EQ(m.width(), 4u);
    }
}

// Texts that end in ASCII after wider characters, the ASCII tail of every
// length around the 32-byte steps: the last units may be stored by one
// overlapping move, which must rewrite only units of the same ASCII bytes.
TEST(Utf8Units, TextsEndingInAsciiDecodeWhole) {
    std::mt19937 rng(29);
    for (int widest = 1; widest <= 3; ++widest) {
        for (std::size_t tail = 0; tail <= 70; ++tail) {
            for (int round = 0; round < 6; ++round) {
                std::vector<char32_t> cps = random_code_points(rng, 20 + rng() % 60, widest);
                for (std::size_t k = 0; k < tail; ++k) cps.push_back(static_cast<char32_t>('a' + k % 26));
                GuardedText text(encode(cps));
                char32_t top = 0;
                for (const char32_t cp : cps) top = std::max(top, cp);
                expect_decodes<std::uint8_t>(text.view(), cps, top < 0x100);
                expect_decodes<std::uint16_t>(text.view(), cps, top < 0x10000);
                expect_decodes<std::uint32_t>(text.view(), cps, true);
            }
        }
    }
}

// Whatever the bytes, decoding succeeds exactly when validation accepts
// them, and writes nothing past the units measured (the output ends at a guard page).
TEST(Utf8Units, MalformedTextIsRejectedWithoutOverrun) {
    std::mt19937 rng(13);
    const std::string_view specials[] = {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xED\xA0\x80",
                                         "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",
                                         "\x80", "\xBF\xBF", "\xC3", "\xE6\x9D", "\xF0\x9F\x9A"};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = encode(random_code_points(rng, rng() % 60, 3));
        const std::size_t at = bytes.empty() ? 0 : rng() % (bytes.size() + 1);
        switch (rng() % 3) {
            case 0: bytes.insert(at, specials[rng() % std::size(specials)]); break;
            case 1:
                if (!bytes.empty()) bytes[at % bytes.size()] = static_cast<char>(rng() % 256);
                break;
            default: bytes.resize(at); break;
        }
        GuardedText text(bytes);
        const bool valid = !utf8::validate(text.view()).has_value();
        const utf8::Measure m = utf8::measure(text.data(), text.size());
        Guarded<std::uint32_t> out(m.chars);
        ASSERT_EQ(utf8::decode_units(text.data(), text.size(), out.data(), m.chars), valid) << round;
    }
}

// Code units back to UTF-8: random texts of every width (whose input ends at
// a guard page), dense runs of the widest characters that outgrow the room
// first made for mostly-ASCII text, and a surrogate at every place of a block.
template <class Unit>
void expect_encodes(const std::vector<char32_t>& cps) {
    Guarded<Unit> units(cps.size());
    for (std::size_t k = 0; k < cps.size(); ++k) units.data()[k] = static_cast<Unit>(cps[k]);
    std::string out = "left over";
    ASSERT_TRUE(utf8::encode_units(units.data(), cps.size(), sizeof(Unit), out));
    EXPECT_EQ(out, encode(cps)) << cps.size() << " units of " << sizeof(Unit);
}

TEST(Utf8Units, EncodeGivesTheCodePointsUtf8) {
    std::mt19937 rng(41);
    for (int widest = 0; widest <= 3; ++widest) {
        for (std::size_t count = 0; count <= 300; count += 1 + count / 8) {
            const std::vector<char32_t> cps = random_code_points(rng, count, widest);
            char32_t top = 0;
            for (const char32_t cp : cps) top = std::max(top, cp);
            if (top < 0x100) expect_encodes<std::uint8_t>(cps);
            if (top < 0x10000) expect_encodes<std::uint16_t>(cps);
            expect_encodes<std::uint32_t>(cps);
        }
    }
    for (const std::size_t count : {17, 1000, 5000}) {
        expect_encodes<std::uint8_t>(std::vector<char32_t>(count, 0xFF));
        expect_encodes<std::uint16_t>(std::vector<char32_t>(count, 0x20AC));
        expect_encodes<std::uint32_t>(std::vector<char32_t>(count, 0x1F680));
    }
    for (std::size_t at = 0; at < 40; ++at) {
        std::vector<std::uint16_t> narrow(40, 'a');
        std::vector<std::uint32_t> wide(40, 'a');
        narrow[at] = static_cast<std::uint16_t>(0xD800 + at);
        wide[at] = static_cast<std::uint32_t>(0xDFFF - at);
        std::string out;
        EXPECT_FALSE(utf8::encode_units(narrow.data(), narrow.size(), 2, out)) << at;
        EXPECT_FALSE(utf8::encode_units(wide.data(), wide.size(), 4, out)) << at;
    }
}

// ---------------------------------------------------------------------------
// Long scalars, scanned from a text that ends at a guard page

std::string scalar_of(std::string_view yaml) {
    GuardedText text(yaml);
    auto tokens = tokenize(text.view(), 0);
    EXPECT_TRUE(tokens.ok()) << (tokens.ok() ? "" : tokens.error().message);
    if (!tokens.ok()) return "<error>";
    std::string found;
    for (const Token& t : tokens.value())
        if (t.kind == TokenKind::Scalar) found = tokens.value().text(t);  // the last scalar
    return found;
}

std::vector<std::string> scalars_of(std::string_view yaml) {
    GuardedText text(yaml);
    auto tokens = tokenize(text.view(), 0);
    EXPECT_TRUE(tokens.ok()) << (tokens.ok() ? "" : tokens.error().message);
    std::vector<std::string> found;
    if (!tokens.ok()) return found;
    for (const Token& t : tokens.value())
        if (t.kind == TokenKind::Scalar) found.emplace_back(tokens.value().text(t));
    return found;
}

TEST(LongScalars, BlockScalarsAtEveryLineLength) {
    std::mt19937 rng(17);
    const std::vector<std::string_view> words = {"a", "b", "c", "d", "e", "f", " ", "\t", "\xC3\xA9", "#", ":",
                                                 "\xF0\x9F\x9A\x80"};
    for (int round = 0; round < 400; ++round) {
        const bool folded = round % 2 == 1;
        const std::string_view brk = round % 3 == 0 ? "\r\n" : "\n";
        const int chomp = static_cast<int>(rng() % 3);  // clip, strip, keep
        const std::size_t indent = 1 + rng() % 9;
        std::vector<std::string> lines;
        for (std::size_t n = 1 + rng() % 5; lines.size() < n;) {
            std::string line(1, 'x');
            line += random_chars(rng, words, rng() % 70);
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t') && round % 5 != 0) line.pop_back();
            lines.push_back(line);
        }
        const std::size_t trailing_empty = rng() % 3;
        const bool break_at_end = rng() % 2 == 0;

        std::string yaml = "k: ";
        yaml += folded ? '>' : '|';
        yaml += chomp == 1 ? "-" : chomp == 2 ? "+" : "";
        yaml += brk;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            yaml += std::string(indent, ' ') + lines[i];
            if (i + 1 < lines.size() || trailing_empty > 0 || break_at_end) yaml += brk;
        }
        for (std::size_t i = 0; i < trailing_empty; ++i) {
            yaml += std::string(rng() % (indent + 1), ' ');
            if (i + 1 < trailing_empty || break_at_end) yaml += brk;
        }

        std::string expected;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i > 0) expected += folded ? " " : "\n";
            expected += lines[i];
        }
        const bool ends_with_break = trailing_empty > 0 || break_at_end;
        if (chomp == 0) expected += "\n";  // clip: the end of the input counts as the last line's break
        if (chomp == 2) {
            // Keep: the last content line's break and every trailing empty line's,
            // except a last empty line that ends at the end without a break.
            if (ends_with_break) expected += "\n";
            expected += std::string(trailing_empty - (trailing_empty > 0 && !break_at_end ? 1 : 0), '\n');
        }
        ASSERT_EQ(scalar_of(yaml), expected) << "round " << round << ": " << yaml;
    }
}

// Lines whose ends fall around the 64- and 128-byte steps of the window
// search, and texts that end inside a window.
TEST(LongScalars, BlockScalarLinesAroundTheBreakWindow) {
    std::mt19937 rng(29);
    const std::size_t lengths[] = {1, 62, 63, 64, 65, 120, 125, 126, 127, 128, 129, 200, 255, 256, 300};
    for (int round = 0; round < 300; ++round) {
        const bool folded = round % 2 == 1;
        const std::string_view brk = round % 3 == 0 ? "\r\n" : "\n";
        const std::size_t indent = 1 + rng() % 20;
        std::string yaml = std::string("k: ") + (folded ? ">" : "|") + std::string(brk);
        std::string expected;
        const std::size_t count = 1 + rng() % 6;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t n = lengths[rng() % std::size(lengths)];
            std::string line(1, 'x');
            line += random_text(rng, "abcdefgh", n - 1);
            yaml += std::string(indent, ' ') + line + std::string(brk);
            if (i > 0) expected += folded ? " " : "\n";
            expected += line;
        }
        expected += "\n";
        // Followed by a key (the body ends at a line indented less), and
        // alone without the last break (the text ends inside the last line's window).
        const std::vector<std::string> followed = scalars_of(yaml + "after: 1" + std::string(brk));
        ASSERT_EQ(followed, (std::vector<std::string>{"k", expected, "after", "1"})) << "round " << round;
        ASSERT_EQ(scalar_of(yaml), expected) << "round " << round << ": " << yaml;
        yaml.resize(yaml.size() - brk.size());
        ASSERT_EQ(scalar_of(yaml), expected) << "round " << round << ": " << yaml;
    }
}

TEST(LongScalars, FlowScalarsAcrossLines) {
    std::mt19937 rng(19);
    const std::vector<std::string_view> words = {"a", "b", "c", "d", " ", "\xC3\xA9", "\xE6\x9D\xB1"};
    for (int round = 0; round < 300; ++round) {
        const std::string_view brk = round % 3 == 0 ? "\r\n" : "\n";
        std::vector<std::string> lines;
        for (std::size_t n = 1 + rng() % 4; lines.size() < n;) {
            std::string line(1, 'w');
            line += random_chars(rng, words, rng() % 60);
            lines.push_back(line + 'w');
        }
        std::string plain = "k:", single = "k: '", dbl = "k: \"", expected;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string lead = i == 0 ? " " : std::string(1 + rng() % 6, ' ');
            const bool last = i + 1 == lines.size();
            const std::string tail = last ? "" : std::string(rng() % 3, ' ');  // trimmed before a break
            plain += lead + lines[i] + tail + (last ? "" : std::string(brk));
            single += (i == 0 ? "" : lead) + lines[i] + tail + (last ? "'" : std::string(brk));
            dbl += (i == 0 ? "" : lead) + lines[i] + tail + (last ? "\"" : std::string(brk));
            expected += (i == 0 ? "" : " ") + lines[i];
        }
        ASSERT_EQ(scalar_of(plain), expected) << plain;
        ASSERT_EQ(scalar_of(single), expected) << single;
        ASSERT_EQ(scalar_of(dbl), expected) << dbl;
    }
}

// Columns after long runs with non-ASCII characters: the `:` after a key
// sits at the key's width in characters, not bytes.
TEST(LongScalars, ColumnsCountCharacters) {
    std::mt19937 rng(23);
    for (int round = 0; round < 300; ++round) {
        const std::vector<char32_t> cps = random_code_points(rng, 1 + rng() % 50, 3);
        std::string key;
        for (const char32_t cp : cps) key += cp == '\'' || cp == '"' || cp == '\\' || cp == ':' || cp == '#' ? "x" : encode({cp});
        for (const char quote : {'\0', '\'', '"'}) {
            std::string yaml = (quote ? std::string(1, quote) : "x") + key + (quote ? std::string(1, quote) : "x") + ": v";
            GuardedText text(yaml);
            auto tokens = tokenize(text.view(), 0);
            ASSERT_TRUE(tokens.ok()) << yaml;
            bool seen = false;
            for (const Token& t : tokens.value()) {
                if (t.kind != TokenKind::Value) continue;
                EXPECT_EQ(t.column, cps.size() + 2) << yaml;
                seen = true;
            }
            EXPECT_TRUE(seen) << yaml;
        }
    }
}

// The scanner's arena is the thread's spare, sized by an earlier, larger
// text; a round-trip document cuts it to size and must do so before its
// nodes take views of it (AddressSanitizer reports a view into the old one).
TEST(LongScalars, RoundTripTextsOutliveTheArenaCut) {
    auto block = [](std::size_t lines) {
        std::string yaml = "k: |\n";
        for (std::size_t i = 0; i < lines; ++i) yaml += "  line " + std::to_string(i) + " of a long literal block scalar\n";
        return yaml;
    };
    ASSERT_TRUE(tokenize(block(4000), 0).ok());  // leaves a spare arena of about 160 KB
    const std::string text = block(400);
    auto composed = rt::compose_stream(text, 0);
    ASSERT_TRUE(composed.ok());
    ASSERT_TRUE(tokenize(block(4000), 0).ok());  // reuses whatever memory was freed
    const rt::YamlNode& root = composed.value().roots.at(0);
    ASSERT_EQ(root.children.size(), 2u);
    const std::string_view value = root.children[1].text.str();
    EXPECT_EQ(value.substr(0, 37), "line 0 of a long literal block scalar");
    EXPECT_EQ(value.size(), text.size() - 5 - 2 * 400);
}

}  // namespace
}  // namespace torvex
