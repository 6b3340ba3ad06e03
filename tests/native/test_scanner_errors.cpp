// Every scanner error: exact message and 1-based line:column of its position.
#include "test_scanner_util.hpp"

namespace torvex {
namespace {

using testing_scanner::Case;
using testing_scanner::scan;

class ScannerErrors : public ::testing::TestWithParam<Case> {};

TEST_P(ScannerErrors, ExactMessageAndPosition) { EXPECT_EQ(scan(GetParam().input), "error: " + GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Scalars, ScannerErrors,
    ::testing::Values(
        Case{"'abc", "unterminated single-quoted scalar @1:1"},
        Case{"k: 'a\n  b", "unterminated single-quoted scalar @1:4"},
        Case{"'a''", "unterminated single-quoted scalar @1:1"},
        Case{"\"abc", "unterminated double-quoted scalar @1:1"},
        Case{"\"a\\\"", "unterminated double-quoted scalar @1:1"},
        Case{"\"a\\", "unterminated escape sequence @1:3"},
        Case{"\"\\q\"", "unknown escape character: '\\q' @1:2"},
        Case{"\"ab\\\xC3\xA9\"", "unknown escape character: '\\\xC3\xA9' @1:4"},
        Case{"\"\\x4g\"", "invalid hex digit in unicode escape: 'g' @1:5"},
        Case{"\"\\u00\xC3\xA9\"", "invalid hex digit in unicode escape: '\xC3\xA9' @1:6"},
        Case{"\"\\U0000004\"", "invalid hex digit in unicode escape: '\"' @1:11"},
        Case{"\"\\u12", "incomplete unicode escape @1:2"},
        Case{"\"\\x", "incomplete unicode escape @1:2"},
        Case{"\"\\uD800\"", "invalid unicode code point: U+D800 @1:2"},
        Case{"\"\\udfff\"", "invalid unicode code point: U+DFFF @1:2"},
        Case{"\"\\udc00\\ud800\"", "invalid unicode code point: U+DC00 @1:2"},
        Case{"\"ab\\ud800\\u0041\"", "invalid unicode code point: U+D800 @1:4"},
        Case{"\"\\ud800\\ud800\\udc00\"", "invalid unicode code point: U+D800 @1:2"},
        Case{"\"\\ud800\\U0000DC00\"", "invalid unicode code point: U+D800 @1:2"},
        Case{"\"\\ud800\\udc0", "invalid unicode code point: U+D800 @1:2"},
        Case{"\"\\U00110000\"", "invalid unicode code point: U+110000 @1:2"},
        Case{"\"a\n---\n\"", "a document marker cannot appear inside a quoted scalar @2:1"},
        Case{"'a\n...\n'", "a document marker cannot appear inside a quoted scalar @2:1"},
        Case{"\"a\\\n--- x\"", "a document marker cannot appear inside a quoted scalar @2:1"},
        Case{"k: \"a\nb\"", "a multi-line quoted scalar must be indented past its block context @2:1"},
        Case{"k: 'a\n\n\"", "a multi-line quoted scalar must be indented past its block context @3:1"},
        Case{"k:\n  - \"a\n  b\"", "a multi-line quoted scalar must be indented past its block context @3:3"},
        Case{"\"a\" b", "unexpected content after quoted scalar @1:4"},
        Case{"- 'a' 'b'", "unexpected content after quoted scalar @1:6"},
        Case{"|0", "unexpected content after block scalar indicator @1:2"},
        Case{"k: >x", "unexpected content after block scalar indicator @1:5"},
        Case{"|+-a", "unexpected content after block scalar indicator @1:3"},
        Case{"|-+\n x", "unexpected content after block scalar indicator @1:3"},
        Case{"| 2\n  x", "unexpected content after block scalar indicator @1:3"},
        Case{"|#c", "a comment must be preceded by whitespace @1:2"},
        Case{"|2#c", "a comment must be preceded by whitespace @1:3"},
        Case{"|\n  \n x\n", "a leading empty line in a block scalar is indented more than the content @1:1"},
        Case{"k: >\n    \n  x", "a leading empty line in a block scalar is indented more than the content @1:4"},
        Case{"k: |\n\t\nj: 1", "a tab cannot be used for indentation @2:1"},
        Case{"k:\n  j: |\n  \t\n", "a tab cannot be used for indentation @3:3"}));

INSTANTIATE_TEST_SUITE_P(
    Structure, ScannerErrors,
    ::testing::Values(
        Case{"\t- a", "a tab cannot be used for indentation @1:2"},
        Case{"-\t- a", "a tab cannot be used for indentation @1:3"},
        Case{"\t? a", "a tab cannot be used for indentation @1:2"},
        Case{"?\ta", "a tab cannot be used for indentation @1:2"},
        Case{"a:\n\tb: c", "a tab cannot be used for indentation @2:2"},
        Case{"\t&a : x", "a tab cannot be used for indentation @1:5"},
        Case{"[a,\n\tb]", "a tab cannot be used for indentation @2:1"},
        Case{"\"a\"#c", "a comment must be preceded by whitespace @1:4"},
        Case{"[a]#c", "a comment must be preceded by whitespace @1:4"},
        Case{"[a,#c]", "a comment must be preceded by whitespace @1:4"},
        Case{"@a", "'@' is a reserved indicator and cannot start a plain scalar @1:1"},
        Case{"k: `a", "'`' is a reserved indicator and cannot start a plain scalar @1:4"},
        Case{"[@a]", "'@' is a reserved indicator and cannot start a plain scalar @1:2"},
        Case{", a", "a plain scalar cannot start with ',' @1:1"},
        Case{"[-]", "a plain scalar cannot be a bare '-' here @1:2"},
        Case{"[- a]", "a plain scalar cannot be a bare '-' here @1:2"},
        Case{"[a, , b]", "empty flow entry (stray ',') @1:5"},
        Case{"[,]", "empty flow entry (stray ',') @1:2"},
        Case{"{a: 1,, b: 2}", "empty flow entry (stray ',') @1:7"},
        Case{"['a' b]", "missing ',' between flow collection entries @1:6"},
        Case{"[[a] b]", "missing ',' between flow collection entries @1:6"},
        Case{"[*a b]", "missing ',' between flow collection entries @1:5"},
        Case{"['a' -b]", "missing ',' between flow collection entries @1:6"},
        Case{"{a: b\n c: d}", "missing ',' between flow collection entries @1:5"},
        Case{"[a\nb: c]", "the implicit key of a flow sequence pair must be on one line @1:2"},
        Case{"[\"a\"\n: b]", "the implicit key of a flow sequence pair must be on one line @2:1"},
        Case{"[a,\n---\n]", "a document marker is not allowed inside a flow collection @2:1"},
        Case{"[a,\n...\n]", "a document marker is not allowed inside a flow collection @2:1"},
        Case{"k: [a,\nb]", "flow content must be indented more than its block context @2:1"},
        // A plain scalar in a flow collection does not swallow an unindented line or a document marker.
        Case{"k: [a\nb]", "flow content must be indented more than its block context @2:1"},
        Case{"[a\n--- b]", "a document marker is not allowed inside a flow collection @2:1"},
        Case{"- [a,\nb]", "flow content must be indented more than its block context @2:1"},
        Case{"[a, b", "unclosed flow collection at end of input @1:6"},
        Case{"{a: [1\n", "unclosed flow collection at end of input @2:1"},
        // At the end of the text the open bracket is reported, not the indentation of nothing.
        Case{"k:\n  - [b\n", "unclosed flow collection at end of input @3:1"},
        Case{"]", "unexpected ']' with no open flow collection @1:1"},
        Case{"a: }", "unexpected '}' with no open flow collection @1:4"},
        Case{"{a: 1]", "mismatched flow collection: ']' cannot close a '{' @1:6"},
        Case{"[a}", "mismatched flow collection: '}' cannot close a '[' @1:3"},
        Case{"[1] x", "unexpected content after flow collection @1:4"},
        Case{"{a: 1} {b: 2}", "unexpected content after flow collection @1:7"},
        Case{"[a,\n b]: c", "a multiline flow collection cannot be an implicit mapping key @1:1"},
        Case{"--- a: b", "a block collection cannot start on the same line as --- @1:6"},
        Case{"--- - a", "a block collection cannot start on the same line as --- @1:5"},
        Case{"--- ? a", "a block collection cannot start on the same line as --- @1:5"},
        Case{"k: - a", "a block sequence cannot start on the same line as its mapping key @1:4"},
        Case{"- k: - a", "a block sequence cannot start on the same line as its mapping key @1:6"},
        Case{"&a - x", "a block sequence entry cannot follow an anchor or tag on the same line @1:4"},
        Case{"!!seq - x", "a block sequence entry cannot follow an anchor or tag on the same line @1:7"},
        Case{"- - a\n - b", "a sequence entry is indented past its sequence @2:2"},
        Case{"- a\n-b", "a sequence entry needs a space after '-' @2:1"},
        Case{"k:\n  - a\n  --b", "a sequence entry needs a space after '-' @3:3"},
        Case{"k:\n&a v", "a node property must be indented past its mapping key @2:1"},
        Case{"k:\n&a v # c\nj: 1", "a node property must be indented past its mapping key @2:1"},
        Case{"k:\n!!str\n  v", "a node property must be indented past its mapping key @2:1"},
        Case{"a:\n  k:\n  !!str v", "a node property must be indented past its mapping key @3:3"},
        Case{"a\n b: c", "an implicit mapping key cannot span multiple lines @1:1"},
        Case{"\"a\n b\": c", "an implicit mapping key cannot span multiple lines @1:1"},
        Case{"& a", "expected anchor name @1:1"},
        Case{"[&]", "expected anchor name @1:2"},
        Case{"k: *", "expected alias name @1:4"},
        Case{"... x", "unexpected content after document-end marker (...) @1:5"},
        Case{"a: 1\n%YAML 1.2\n---", "a directive must start the stream or follow a document-end marker (...) @2:1"},
        Case{"---\n%YAML 1.2", "a directive must start the stream or follow a document-end marker (...) @2:1"}));

TEST(ScannerErrors, FlowNestingLimit) {
    const std::string ok = std::string(kMaxFlowDepth, '[') + std::string(kMaxFlowDepth, ']');
    auto r = tokenize(ok, 0);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r.value().size(), 2 * kMaxFlowDepth + 2);

    const std::string deep = std::string(kMaxFlowDepth + 1, '[') + std::string(kMaxFlowDepth + 1, ']');
    EXPECT_EQ(scan(deep), "error: maximum nesting depth (1000) exceeded @1:1001");
    EXPECT_EQ(scan("k:\n  - " + std::string(kMaxFlowDepth + 1, '{')),
              "error: maximum nesting depth (1000) exceeded @2:1005");
}

TEST(ScannerErrors, CarryFileIdAndOffset) {
    auto r = tokenize("a: 1\n]", 7);
    ASSERT_FALSE(r.ok());
    const Error& e = r.error();
    EXPECT_EQ(e.kind, ErrorKind::Syntax);
    ASSERT_TRUE(e.span.has_value());
    EXPECT_EQ(e.span->file_id, 7u);
    EXPECT_EQ(e.span->offset, 5u);
}

}  // namespace
}  // namespace torvex
