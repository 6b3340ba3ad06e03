// Positions (byte-order mark, CR and CRLF, multi-byte characters, tabs),
// comment records, payload storage and the token list's size.
#include <string>
#include <vector>

#include "test_scanner_util.hpp"

namespace torvex {
namespace {

using testing_scanner::render;

struct Where {
    TokenKind kind;
    std::uint32_t line;
    std::uint32_t column;
    std::uint64_t offset;
};

struct PositionCase {
    std::string input;
    std::vector<Where> tokens;  // every token after StreamStart, in order, up to the given count
};

void PrintTo(const PositionCase& c, std::ostream* os) { *os << "input \"" << testing_scanner::show_text(c.input) << "\""; }

class ScannerPositions : public ::testing::TestWithParam<PositionCase> {};

TEST_P(ScannerPositions, TokenStartsAreExact) {
    const auto& c = GetParam();
    auto r = tokenize(c.input, 3);
    ASSERT_TRUE(r.ok()) << r.error().message;
    const TokenList& tokens = r.value();
    ASSERT_GE(tokens.size(), c.tokens.size() + 1);
    for (std::size_t i = 0; i < c.tokens.size(); ++i) {
        const Token& t = tokens[i + 1];
        const Where& w = c.tokens[i];
        SCOPED_TRACE("token " + std::to_string(i + 1) + " " + token_kind_name(t.kind));
        EXPECT_EQ(t.kind, w.kind);
        const Span s = tokens.span(t);
        EXPECT_EQ(s.file_id, 3u);
        EXPECT_EQ(s.line, w.line);
        EXPECT_EQ(s.column, w.column);
        EXPECT_EQ(s.offset, w.offset);
        if (t.kind != TokenKind::Scalar) {
            EXPECT_EQ(tokens.end_offset(t), t.offset);
        }
    }
}

using K = TokenKind;

INSTANTIATE_TEST_SUITE_P(
    Table, ScannerPositions,
    ::testing::Values(
        // The byte-order mark is invisible to lines and columns but counts in offsets.
        PositionCase{"\xEF\xBB\xBF" "a: 1", {{K::MappingStart, 0, 0, 3}, {K::Key, 0, 0, 3}, {K::Scalar, 0, 0, 3}, {K::Value, 0, 1, 4}, {K::Scalar, 0, 3, 6}}},
        // Columns count characters.
        PositionCase{"\xC3\xA9: 1", {{K::MappingStart, 0, 0, 0}, {K::Key, 0, 0, 0}, {K::Scalar, 0, 0, 0}, {K::Value, 0, 1, 2}, {K::Scalar, 0, 3, 4}}},
        PositionCase{"[\xE2\x82\xAC, \xF0\x9F\x98\x80]", {{K::SequenceStart, 0, 0, 0}, {K::Scalar, 0, 1, 1}, {K::FlowEntry, 0, 2, 4}, {K::Scalar, 0, 4, 6}, {K::SequenceEnd, 0, 5, 10}}},
        PositionCase{"- \t a", {{K::SequenceStart, 0, 0, 0}, {K::SequenceEntry, 0, 0, 0}, {K::Scalar, 0, 4, 4}}},
        // LF, CRLF and a lone CR are one break each.
        PositionCase{"a: 1\nb: 2", {{K::MappingStart, 0, 0, 0}, {K::Key, 0, 0, 0}, {K::Scalar, 0, 0, 0}, {K::Value, 0, 1, 1}, {K::Scalar, 0, 3, 3}, {K::Key, 1, 0, 5}, {K::Scalar, 1, 0, 5}, {K::Value, 1, 1, 6}}},
        PositionCase{"a: 1\r\nb: 2", {{K::MappingStart, 0, 0, 0}, {K::Key, 0, 0, 0}, {K::Scalar, 0, 0, 0}, {K::Value, 0, 1, 1}, {K::Scalar, 0, 3, 3}, {K::Key, 1, 0, 6}, {K::Scalar, 1, 0, 6}, {K::Value, 1, 1, 7}}},
        PositionCase{"a: 1\rb: 2", {{K::MappingStart, 0, 0, 0}, {K::Key, 0, 0, 0}, {K::Scalar, 0, 0, 0}, {K::Value, 0, 1, 1}, {K::Scalar, 0, 3, 3}, {K::Key, 1, 0, 5}, {K::Scalar, 1, 0, 5}, {K::Value, 1, 1, 6}}},
        PositionCase{"- a\r\n- b", {{K::SequenceStart, 0, 0, 0}, {K::SequenceEntry, 0, 0, 0}, {K::Scalar, 0, 2, 2}, {K::SequenceEntry, 1, 0, 5}, {K::Scalar, 1, 2, 7}, {K::BlockEnd, 1, 3, 8}, {K::StreamEnd, 1, 3, 8}}},
        // Inserted MappingStart/Key take the candidate's position.
        PositionCase{"x:\n  &a k: v", {{K::MappingStart, 0, 0, 0}, {K::Key, 0, 0, 0}, {K::Scalar, 0, 0, 0}, {K::Value, 0, 1, 1}, {K::MappingStart, 1, 2, 5}, {K::Key, 1, 2, 5}, {K::Anchor, 1, 2, 5}, {K::Scalar, 1, 5, 8}, {K::Value, 1, 6, 9}}},
        // BlockEnd tokens stand where the dedent is seen.
        PositionCase{"a:\n  b: c\nd: e", {{K::MappingStart, 0, 0, 0}, {K::Key, 0, 0, 0}, {K::Scalar, 0, 0, 0}, {K::Value, 0, 1, 1}, {K::MappingStart, 1, 2, 5}, {K::Key, 1, 2, 5}, {K::Scalar, 1, 2, 5}, {K::Value, 1, 3, 6}, {K::Scalar, 1, 5, 8}, {K::BlockEnd, 2, 0, 10}}},
        PositionCase{"--- |\n a\n...\n", {{K::DocumentStart, 0, 0, 0}, {K::Scalar, 0, 4, 4}, {K::DocumentEnd, 2, 0, 9}, {K::StreamEnd, 3, 0, 13}}}));

TEST(ScannerPositions, LongRunsWithMultiByteCharactersKeepColumns) {
    // Runs longer than 16 bytes take the wide search paths; columns must still count characters.
    const std::string wide = "\xC3\xA9t\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x9A\x80 caf\xC3\xA9 na\xC3\xAFve ";
    std::string text;
    for (int i = 0; i < 6; ++i) {
        text += "k" + std::to_string(i) + ": " + wide + wide + "end\n";
        text += "q" + std::to_string(i) + ": '" + wide + wide + "' # c\n";
        text += "d" + std::to_string(i) + ": \"" + wide + "\\t" + wide + "\" \n";
        text += "f" + std::to_string(i) + ": [" + wide + wide + ", {" + wide + ": " + wide + "}, \"" + wide + wide + "\"]\n";
        text += "m" + std::to_string(i) + ": " + wide + "\r\n  " + wide + wide + "\r" + wide + ": " + wide + "\n";
    }
    auto r = tokenize(text, 0);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(testing_scanner::first_misplaced_token(text, r.value()), -1);
    std::size_t scalars = 0;
    for (const Token& t : r.value()) scalars += t.kind == TokenKind::Scalar;
    EXPECT_EQ(scalars, 6u * 15);
}

TEST(ScannerComments, RecordedWithTextOffsetAndSpan) {
    const std::string text = "# first\na: b # second  \n# \n#\tx\n[c, # \xC3\xA9\xE2\x80\x83\n d]\nk: |  # header\n  v\n";
    auto r = tokenize(text, 2, true);
    ASSERT_TRUE(r.ok()) << r.error().message;
    const auto& comments = r.value().comments();
    struct Expected {
        std::string text;
        std::uint32_t line, column;
        std::uint64_t offset;
    };
    const std::vector<Expected> expected = {
        {"first", 0, 0, 0},          {"second", 1, 5, 13},           {"", 2, 0, 24},
        {"\tx", 3, 0, 27},           {"\xC3\xA9", 4, 4, 35},         {"header", 6, 6, 53},
    };
    ASSERT_EQ(comments.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("comment " + std::to_string(i));
        EXPECT_EQ(comments[i].text, expected[i].text);
        EXPECT_EQ(comments[i].span.file_id, 2u);
        EXPECT_EQ(comments[i].span.line, expected[i].line);
        EXPECT_EQ(comments[i].span.column, expected[i].column);
        EXPECT_EQ(comments[i].span.offset, expected[i].offset);
        EXPECT_EQ(text[comments[i].span.offset], '#');
    }
    // Without recording, the same text gives the same tokens and no comments.
    auto plain = tokenize(text, 2);
    ASSERT_TRUE(plain.ok());
    EXPECT_TRUE(plain.value().comments().empty());
    EXPECT_EQ(render(plain.value()), render(r.value()));
}

TEST(ScannerComments, HashRules) {
    // A `#` starts a comment at the start of the text, after a byte-order mark and after white space only.
    for (const std::string text : {"#c", "\xEF\xBB\xBF#c", "a #c", "a\t#c", "a\n#c"}) {
        auto r = tokenize(text, 0, true);
        ASSERT_TRUE(r.ok()) << text;
        ASSERT_EQ(r.value().comments().size(), 1u) << text;
        EXPECT_EQ(r.value().comments()[0].text, "c");
    }
    auto glued = tokenize("a#c", 0, true);
    ASSERT_TRUE(glued.ok());
    EXPECT_TRUE(glued.value().comments().empty());
}

TEST(ScannerPayloads, OneLineScalarsAreSlicesOfTheInput) {
    const std::string text = "plain: one line\nquoted: 'q'\nmulti: a\n  b\nesc: \"x\\ty\"\n&anc k: *ali\n";
    auto r = tokenize(text, 0);
    ASSERT_TRUE(r.ok()) << r.error().message;
    const TokenList& tokens = r.value();
    const char* lo = text.data();
    const char* hi = text.data() + text.size();
    int slices = 0, owned = 0;
    for (const Token& t : tokens) {
        if (t.storage == TextStorage::None) continue;
        const std::string_view s = tokens.text(t);
        const bool in_input = s.data() >= lo && s.data() + s.size() <= hi;
        EXPECT_EQ(in_input, t.storage == TextStorage::Slice) << s;
        (in_input ? slices : owned)++;
    }
    EXPECT_EQ(owned, 2);    // "a b" and "x\ty"
    EXPECT_EQ(slices, 9);  // 5 keys, 2 values, anchor and alias
}

TEST(ScannerPayloads, LargeInputsAreCompact) {
    std::string text;
    for (int i = 0; i < 40000; ++i)
        text += "key" + std::to_string(i) + ":\n  name: value " + std::to_string(i) + "\n  list: [a, b, 'c']\n";
    auto r = tokenize(text, 0);
    ASSERT_TRUE(r.ok()) << r.error().message;
    const TokenList& tokens = r.value();
    EXPECT_EQ(tokens.size(), 4 + 40000u * 19);
    EXPECT_LT(tokens.memory_bytes(), 16 * text.size());
}

TEST(ScannerPayloads, LongOneLineKeyIsQueuedBehindItsCandidate) {
    // A top-level flow key keeps every token queued until its `:`; MappingStart and Key go in front of all of them.
    std::string text = "[";
    for (int i = 0; i < 5000; ++i) text += (i ? ", " : "") + std::to_string(i);
    text += "]: v";
    auto r = tokenize(text, 0);
    ASSERT_TRUE(r.ok()) << r.error().message;
    const TokenList& tokens = r.value();
    ASSERT_EQ(tokens.size(), 1 + 2 + 2 + 5000 + 4999 + 3 + 1u);
    EXPECT_EQ(tokens[1].kind, TokenKind::MappingStart);
    EXPECT_EQ(tokens[2].kind, TokenKind::Key);
    EXPECT_EQ(tokens[3].kind, TokenKind::SequenceStart);
    EXPECT_EQ(tokens.text(tokens[4]), "0");
    EXPECT_EQ(tokens.text(tokens[tokens.size() - 6]), "4999");
    EXPECT_EQ(tokens[tokens.size() - 3].kind, TokenKind::Scalar);

    // The same key as the second entry of a mapping: only Key is inserted, at the bracket.
    auto second = tokenize("a: 1\n" + text, 0);
    ASSERT_TRUE(second.ok()) << second.error().message;
    const TokenList& more = second.value();
    ASSERT_EQ(more.size(), tokens.size() + 4);  // Key a, Value, 1
    EXPECT_EQ(more[6].kind, TokenKind::Key);
    EXPECT_EQ(more[6].offset, 5u);
    EXPECT_EQ(more[7].kind, TokenKind::SequenceStart);
    EXPECT_EQ(testing_scanner::first_misplaced_token("a: 1\n" + text, more), -1);
}

}  // namespace
}  // namespace torvex
