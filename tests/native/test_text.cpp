// UTF-8 validation, encoding detection and conversion, Unicode white space,
// bytewise ordering.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ordering.hpp"
#include "core/text_decode.hpp"
#include "core/unicode_space.hpp"
#include "core/utf8.hpp"

namespace torvex {
namespace {

using namespace std::string_literals;

struct DecodeCase {
    std::string input;
    std::string expected;  // UTF-8 text, or the error message when `fails`
    bool fails = false;
};

class DecodeBytes : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeBytes, ProducesTextOrExactError) {
    const auto& c = GetParam();
    auto r = decode_bytes(c.input);
    if (c.fails) {
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().kind, ErrorKind::InvalidText);
        EXPECT_EQ(r.error().message, c.expected);
    } else {
        ASSERT_TRUE(r.ok()) << r.error().message;
        EXPECT_EQ(r.value(), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeBytes,
    ::testing::Values(
        DecodeCase{"", ""}, DecodeCase{"a", "a"}, DecodeCase{"a\0"s, "a"}, DecodeCase{"\0a"s, "a"},
        DecodeCase{"a\0\0\0"s, "a"}, DecodeCase{"\0\0\0a"s, "a"},
        DecodeCase{"\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},
        DecodeCase{"\xFF\xFEx\0"s, "\xEF\xBB\xBFx"}, DecodeCase{"\xFE\xFF\0x"s, "\xEF\xBB\xBFx"},
        DecodeCase{"\xFF\xFE\0\0x\0\0\0"s, "\xEF\xBB\xBFx"}, DecodeCase{"\0\0\xFE\xFF\0\0\0x"s, "\xEF\xBB\xBFx"},
        // U+1F600 as a surrogate pair in both orders, and in UTF-32
        DecodeCase{"\xFF\xFE\x3D\xD8\x00\xDE"s, "\xEF\xBB\xBF\xF0\x9F\x98\x80"},
        DecodeCase{"\xFE\xFF\xD8\x3D\xDE\x00"s, "\xEF\xBB\xBF\xF0\x9F\x98\x80"},
        DecodeCase{"\xFF\xFE\x00\x00\x00\xF6\x01\x00"s, "\xEF\xBB\xBF\xF0\x9F\x98\x80"},
        DecodeCase{"\xFF\xFE" "a", "invalid UTF-16: byte count is not a multiple of 2", true},
        DecodeCase{"\xFF\xFE\x3D\xD8"s, "invalid UTF-16: unpaired surrogate", true},
        DecodeCase{"\xFF\xFE\x3D\xD8\x41\x00"s, "invalid UTF-16: unpaired surrogate", true},
        DecodeCase{"\xFF\xFE\x00\xDE\x41\x00"s, "invalid UTF-16: unpaired surrogate", true},
        DecodeCase{"a\0\0\0b"s, "invalid UTF-32: byte count is not a multiple of 4", true},
        DecodeCase{"\xFF\xFE\x00\x00\x00\xD8\x00\x00"s, "invalid UTF-32: not a Unicode scalar value", true},
        DecodeCase{"\x00\x00\xFE\xFF\x00\x11\x00\x00"s, "invalid UTF-32: not a Unicode scalar value", true},
        DecodeCase{"ab\xFF", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 2", true},
        DecodeCase{"ab\xE2\x82", "invalid UTF-8: incomplete utf-8 byte sequence from index 2", true},
        DecodeCase{"\xE2\x82x", "invalid UTF-8: invalid utf-8 sequence of 2 bytes from index 0", true},
        DecodeCase{"x\xF0\x9F\x98y", "invalid UTF-8: invalid utf-8 sequence of 3 bytes from index 1", true},
        DecodeCase{"\xC0\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0", true},
        DecodeCase{"\xED\xA0\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0", true},
        DecodeCase{"\xF4\x90\x80\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0", true},
        DecodeCase{"0123456789abcdef\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 16",
                   true}));

TEST(Utf8, DecodeAndAppendAgree) {
    for (char32_t cp : {U'a', U'\u00E9', U'\u20AC', U'\U0001F600', U'\U0010FFFF'}) {
        std::string s;
        utf8::append(s, cp);
        EXPECT_FALSE(utf8::validate(s).has_value());
        EXPECT_EQ(utf8::decode_at(s, 0), cp);
        EXPECT_EQ(utf8::sequence_length(static_cast<unsigned char>(s[0])), s.size());
    }
    EXPECT_EQ(utf8::decode_at("a", 1), char32_t{0x110000});
}

TEST(UnicodeSpace, ExactMembership) {
    const std::vector<char32_t> members = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680,
                                           0x2000, 0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
    for (char32_t c : members) EXPECT_TRUE(is_unicode_space(c)) << std::hex << static_cast<unsigned>(c);
    for (char32_t c : {0x00, 0x08, 0x0E, 0x1F, 0x21, 0x84, 0x86, 0x200B, 0x2027, 0x180E, 0xFEFF, 0x3001})
        EXPECT_FALSE(is_unicode_space(static_cast<char32_t>(c))) << std::hex << static_cast<unsigned>(c);
}

TEST(UnicodeSpace, TrimsMultiByteSpaceAtBothEnds) {
    EXPECT_EQ(trim("\xE3\x80\x80 \t x y\xC2\xA0\xE2\x80\xA8\r\n"), "x y");
    EXPECT_EQ(trim("\xC2\xA0"), "");
    EXPECT_EQ(trim(""), "");
    // U+00E9 ends in byte A9, U+2029 in A9 too: only the real space is trimmed.
    EXPECT_EQ(trim_end("\xC3\xA9\xE2\x80\xA9"), "\xC3\xA9");
    EXPECT_EQ(trim_start("\xE2\x80\x8Bx"), "\xE2\x80\x8Bx");  // zero-width space is not white space
}

TEST(UnicodeSpace, NextWordSplitsAtAnySpaceCharacter) {
    std::string_view rest = " YAML\xE3\x80\x80" "1.1\t# c\xC2\xA0";
    EXPECT_EQ(next_word(rest), "YAML");
    EXPECT_EQ(next_word(rest), "1.1");
    EXPECT_EQ(next_word(rest), "#");
    EXPECT_EQ(next_word(rest), "c");
    EXPECT_EQ(next_word(rest), "");
    EXPECT_TRUE(rest.empty());
    std::string_view glued = "caf\xC3\xA9\xE2\x80\x83x";  // U+2003 separates, U+00E9 does not
    EXPECT_EQ(next_word(glued), "caf\xC3\xA9");
    EXPECT_EQ(next_word(glued), "x");
}

TEST(Ordering, BytewiseUnsignedWithPrefixFirst) {
    EXPECT_TRUE(bytewise_less("a", "b"));
    EXPECT_TRUE(bytewise_less("a", "ab"));
    EXPECT_FALSE(bytewise_less("ab", "a"));
    EXPECT_FALSE(bytewise_less("a", "a"));
    EXPECT_TRUE(bytewise_less("z", "\xC3\xA9"));  // 0x7A < 0xC3: unsigned bytes
    EXPECT_TRUE(bytewise_less("", "a"));
    std::vector<std::pair<std::string, int>> items = {{"b", 0}, {"a", 1}, {"b", 2}, {"A", 3}, {"a", 4}};
    stable_sort_by_text(items.begin(), items.end(), [](const auto& p) -> std::string_view { return p.first; });
    std::vector<int> order;
    for (auto& p : items) order.push_back(p.second);
    EXPECT_EQ(order, (std::vector<int>{3, 1, 4, 0, 2}));
}

}  // namespace
}  // namespace torvex
