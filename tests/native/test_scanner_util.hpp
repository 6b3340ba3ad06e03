// Helpers for the scanner tests: a compact, readable rendering of a token list.
//
//   ---  ...            DocumentStart, DocumentEnd
//   MAP  SEQ  END       block MappingStart, SequenceStart, BlockEnd
//   {  }  [  ]          flow MappingStart, MappingEnd, SequenceStart, SequenceEnd
//   ?  :  -  ,          Key, Value, SequenceEntry, FlowEntry
//   =a 'a "a |a >a      Scalar by style (plain, single, double, literal, folded); a line feed shows as \n
//   &a *a !tag %text    Anchor, Alias, Tag, Directive
// StreamStart and StreamEnd are left out; every list starts and ends with them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "scanner/scanner.hpp"

namespace torvex::testing_scanner {

inline std::string show_text(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out.push_back(c);
    }
    return out;
}

inline std::string render(const TokenList& tokens) {
    std::string out;
    for (const Token& t : tokens) {
        std::string item;
        switch (t.kind) {
            case TokenKind::StreamStart:
            case TokenKind::StreamEnd: continue;
            case TokenKind::DocumentStart: item = "---"; break;
            case TokenKind::DocumentEnd: item = "..."; break;
            case TokenKind::MappingStart: item = TokenList::flow(t) ? "{" : "MAP"; break;
            case TokenKind::SequenceStart: item = TokenList::flow(t) ? "[" : "SEQ"; break;
            case TokenKind::MappingEnd: item = "}"; break;
            case TokenKind::SequenceEnd: item = "]"; break;
            case TokenKind::BlockEnd: item = "END"; break;
            case TokenKind::Key: item = "?"; break;
            case TokenKind::Value: item = ":"; break;
            case TokenKind::SequenceEntry: item = "-"; break;
            case TokenKind::FlowEntry: item = ","; break;
            case TokenKind::Scalar: {
                static const char prefix[] = {'=', '\'', '"', '|', '>'};
                item = prefix[t.style] + show_text(tokens.text(t));
                break;
            }
            case TokenKind::Anchor: item = "&" + std::string(tokens.text(t)); break;
            case TokenKind::Alias: item = "*" + std::string(tokens.text(t)); break;
            case TokenKind::Tag: item = std::string(tokens.text(t)); break;
            case TokenKind::Directive: item = "%" + std::string(tokens.text(t)); break;
        }
        if (!out.empty()) out.push_back(' ');
        out += item;
    }
    return out;
}

// The rendering of a successful scan, or "error: message @line:column" (1-based).
inline std::string scan(std::string_view text) {
    auto r = tokenize(text, 0);
    if (!r.ok()) {
        const auto& e = r.error();
        return "error: " + e.message + " @" + std::to_string(e.span->line + 1) + ":" +
               std::to_string(e.span->column + 1);
    }
    const TokenList& tokens = r.value();
    EXPECT_GE(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].kind, TokenKind::StreamStart);
    EXPECT_EQ(tokens[tokens.size() - 1].kind, TokenKind::StreamEnd);
    return render(tokens);
}

// Line and column recomputed from a byte offset (LF, CR LF and CR are breaks;
// a leading byte-order mark takes no column). Every token's start must agree.
inline std::pair<std::uint32_t, std::uint32_t> line_column_at(std::string_view text, std::uint64_t offset) {
    std::uint32_t line = 0, column = 0;
    std::size_t i = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    for (; i < offset; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n' || (c == '\r' && !(i + 1 < text.size() && text[i + 1] == '\n'))) {
            ++line;
            column = 0;
        } else if (c != '\r' && (c & 0xC0) != 0x80) {
            ++column;
        }
    }
    return {line, column};
}

// The first token whose line/column disagrees with its offset, or -1.
inline long first_misplaced_token(std::string_view text, const TokenList& tokens) {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const auto [line, column] = line_column_at(text, tokens[i].offset);
        if (tokens[i].line != line || tokens[i].column != column) return static_cast<long>(i);
    }
    return -1;
}

// For parametrized tables: a readable test name from the case index.
struct Case {
    std::string input;
    std::string expected;
};

inline void PrintTo(const Case& c, std::ostream* os) { *os << "input \"" << show_text(c.input) << "\""; }

}  // namespace torvex::testing_scanner
