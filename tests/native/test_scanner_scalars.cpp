// Scalar scanning: the text, style and exact source end of the scalar that
// starts at a given offset.
#include <optional>

#include "test_scanner_util.hpp"

namespace torvex {
namespace {

using namespace std::string_literals;

struct ScalarCase {
    std::string input;
    ScalarStyle style;
    std::string text;
    std::uint64_t start;
    std::uint64_t end;
};

void PrintTo(const ScalarCase& c, std::ostream* os) { *os << "input \"" << testing_scanner::show_text(c.input) << "\""; }

class ScannerScalars : public ::testing::TestWithParam<ScalarCase> {};

TEST_P(ScannerScalars, TextStyleAndSourceRange) {
    const auto& c = GetParam();
    auto r = tokenize(c.input, 0);
    ASSERT_TRUE(r.ok()) << r.error().message;
    const TokenList& tokens = r.value();
    std::optional<Token> found;
    for (const Token& t : tokens)
        if (t.kind == TokenKind::Scalar && t.offset == c.start) found = t;
    ASSERT_TRUE(found.has_value()) << "no scalar starts at " << c.start;
    EXPECT_EQ(TokenList::style(*found), c.style);
    EXPECT_EQ(tokens.text(*found), c.text);
    EXPECT_EQ(tokens.end_offset(*found), c.end);
}

constexpr auto P = ScalarStyle::Plain;
constexpr auto S = ScalarStyle::SingleQuoted;
constexpr auto D = ScalarStyle::DoubleQuoted;
constexpr auto L = ScalarStyle::Literal;
constexpr auto F = ScalarStyle::Folded;

INSTANTIATE_TEST_SUITE_P(
    Plain, ScannerScalars,
    ::testing::Values(
        ScalarCase{"a: b#c", P, "b#c", 3, 6},
        ScalarCase{"a: b #c", P, "b", 3, 4},
        ScalarCase{"a: b c  ", P, "b c", 3, 6},
        ScalarCase{"a: b\t\n", P, "b", 3, 4},
        ScalarCase{"a:b", P, "a:b", 0, 3},
        ScalarCase{"a: x:y:", P, "x:y", 3, 6},
        ScalarCase{"k: a\n  - b\n", P, "a - b", 3, 10},
        ScalarCase{"k: a\n\n  b\n", P, "a\nb", 3, 9},
        ScalarCase{"k: a\n\n\n  b\n", P, "a\n\nb", 3, 10},
        ScalarCase{"k: a\n  b  \n  c", P, "a b c", 3, 14},
        ScalarCase{"a\nb\n", P, "a b", 0, 3},
        ScalarCase{"- a\n  !b &c *d 'e\" %f @g `h |i >j", P, "a !b &c *d 'e\" %f @g `h |i >j", 2, 33},
        ScalarCase{"k: a\n  # c\n", P, "a", 3, 4},
        ScalarCase{"k: a\n  #c\n  b", P, "b", 12, 13},
        ScalarCase{"[a, b:c]", P, "b:c", 4, 7},
        ScalarCase{"[a\n b]", P, "a b", 1, 5},
        ScalarCase{"{a: b\n}", P, "b", 4, 5},
        ScalarCase{"-x", P, "-x", 0, 2},
        ScalarCase{"?x: 1", P, "1", 4, 5},
        ScalarCase{"k: \xC3\xA9t\xC3\xA9 ok", P, "\xC3\xA9t\xC3\xA9 ok", 3, 11},
        ScalarCase{"k: a\xC2\x85" "b", P, "a\xC2\x85" "b", 3, 7},
        ScalarCase{"k: a\r\n  b\r\n", P, "a b", 3, 9},
        ScalarCase{"k: a\r\r  b", P, "a\nb", 3, 9}));

INSTANTIATE_TEST_SUITE_P(
    SingleQuoted, ScannerScalars,
    ::testing::Values(
        ScalarCase{"'it''s'", S, "it's", 0, 7},
        ScalarCase{"''", S, "", 0, 2},
        ScalarCase{"''''", S, "'", 0, 4},
        ScalarCase{"'a \\n b'", S, "a \\n b", 0, 8},
        ScalarCase{"'a  \n  b'", S, "a b", 0, 9},
        ScalarCase{"'a\n\n  b'", S, "a\nb", 0, 8},
        ScalarCase{"'a\n \t \n b'", S, "a\nb", 0, 10},
        ScalarCase{"'a\n\t b'", S, "a b", 0, 7},
        ScalarCase{"'a\n '", S, "a ", 0, 5},
        ScalarCase{"k: 'x\n  y'", S, "x y", 3, 10},
        ScalarCase{"['a\nb']", S, "a b", 1, 6}));

INSTANTIATE_TEST_SUITE_P(
    DoubleQuoted, ScannerScalars,
    ::testing::Values(
        ScalarCase{"\"abc\"", D, "abc", 0, 5},
        ScalarCase{"\"\\x41\\u00e9\\U0001F600\"", D, "A\xC3\xA9\xF0\x9F\x98\x80", 0, 22},
        // a \u pair of surrogates, as JSON writes U+1F600 and U+10000
        ScalarCase{"\"\\ud83d\\uDE00\\uD800\\udc00\"", D, "\xF0\x9F\x98\x80\xF0\x90\x80\x80", 0, 26},
        ScalarCase{"\"\\0\\a\\b\\t\\\t\\n\\v\\f\\r\\e\\ \\\"\\/\\\\\"", D, "\0\a\b\t\t\n\v\f\r\x1B \"/\\"s, 0, 30},
        ScalarCase{"\"\\N\\_\\L\\P\"", D, "\xC2\x85\xC2\xA0\xE2\x80\xA8\xE2\x80\xA9", 0, 10},
        ScalarCase{"\"a\\\n  b\"", D, "ab", 0, 8},
        ScalarCase{"\"a \\\n  b\"", D, "a b", 0, 9},
        ScalarCase{"\"a\\\n\n  b\"", D, "a\nb", 0, 9},
        ScalarCase{"\"a  \n  b\"", D, "a b", 0, 9},
        ScalarCase{"\"a\\t\n  b\"", D, "a\t b", 0, 9},
        ScalarCase{"\"a\\ \n b\"", D, "a  b", 0, 8},
        ScalarCase{"\"a\n\n\n b\"", D, "a\n\nb", 0, 8},
        ScalarCase{"\"\\u0041\"", D, "A", 0, 8},
        ScalarCase{"\"\\x7e\\x7E\"", D, "~~", 0, 10},
        ScalarCase{"k: \"a\" # c", D, "a", 3, 6},
        ScalarCase{"\"\xC3\xA9\"", D, "\xC3\xA9", 0, 4}));

INSTANTIATE_TEST_SUITE_P(
    Block, ScannerScalars,
    ::testing::Values(
        ScalarCase{"- |+\n  a\n\n", L, "a\n\n", 2, 10},
        ScalarCase{"- |-\n  a\n\n", L, "a", 2, 10},
        ScalarCase{"- |\n  a\n\n", L, "a\n", 2, 9},
        ScalarCase{">\n a\n b\n\n  c\n d\n", F, "a b\n\n c\nd\n", 0, 16},
        ScalarCase{"|\n a\n b\n\n  c\n d\n", L, "a\nb\n\n c\nd\n", 0, 16},
        ScalarCase{">\n a\n\n\n b\n", F, "a\n\nb\n", 0, 10},
        ScalarCase{">\n\n a\n", F, "\na\n", 0, 6},
        ScalarCase{"k: |\n  a\n   b\n  c\nj: 1", L, "a\n b\nc\n", 3, 18},
        ScalarCase{"k: >\n  a\n  b\nj: 1", F, "a b\n", 3, 13},
        ScalarCase{"k: | # c\n  a\n", L, "a\n", 3, 13},
        ScalarCase{"k: |2\n   a\n", L, " a\n", 3, 11},
        ScalarCase{"- |1\n  a\n", L, " a\n", 2, 9},
        ScalarCase{"a:\n  b: |2\n      x\n", L, "  x\n", 8, 19},
        ScalarCase{"k: |+2\n  a\n", L, "a\n", 3, 11},
        ScalarCase{"k: |-2\n  a\n", L, "a", 3, 11},
        ScalarCase{"k: |2-\n  a\n", L, "a", 3, 11},
        ScalarCase{"k: |\n  a", L, "a\n", 3, 8},
        ScalarCase{"k: |", L, "", 3, 4},
        ScalarCase{"k: |\n", L, "", 3, 5},
        ScalarCase{"k: |\nj: 1", L, "", 3, 5},
        ScalarCase{"k: |+\n\n\nj: 1", L, "\n\n", 3, 8},
        // A last line of blanks without a line break still counts for keep chomping.
        ScalarCase{"- |+\n  ", L, "\n", 2, 7},
        ScalarCase{"- |+\n  \n", L, "\n", 2, 8},
        ScalarCase{"k: |\n  \n  a\n", L, "\na\n", 3, 12},
        ScalarCase{"|\n a\n\t\n", L, "a\n", 0, 5},
        ScalarCase{"|\n  \ta\n", L, "\ta\n", 0, 7},
        ScalarCase{"--- |\na\n...\n", L, "a\n", 4, 8},
        ScalarCase{"--- |\na\n---\n", L, "a\n", 4, 8},
        ScalarCase{"k: >\n  a\n\n  b\n", F, "a\nb\n", 3, 14},
        ScalarCase{"k: >\n  a\n  \n  b\n", F, "a\nb\n", 3, 16},
        ScalarCase{"k: |\r\n  a\r\n  b\r\n", L, "a\nb\n", 3, 16},
        ScalarCase{"k: |\n  \xC3\xA9\n", L, "\xC3\xA9\n", 3, 10}));

}  // namespace
}  // namespace torvex
