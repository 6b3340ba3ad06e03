#include "decode/misplaced_collection.hpp"

#include <cstdint>
#include <string_view>

#include "core/utf8_units.hpp"
#include "scanner/indent_messages.hpp"
#include "scanner/reader.hpp"

namespace torvex {

namespace {

constexpr const char* kColonInPlainValue = "a plain value cannot contain ': ' on its key's line; quote the value";
constexpr const char* kMappingOnKeyLine = "a block mapping cannot start on the same line as its mapping key";
constexpr const char* kKeyIndentedMore = "a mapping key is indented more than its siblings";
constexpr const char* kKeyIndentedLess = "a mapping key is indented less than its siblings";
constexpr const char* kEntryIndentedLess = "a sequence entry is indented less than its siblings";

bool is_block_start(const Token& t) {
    return (t.kind == TokenKind::MappingStart || t.kind == TokenKind::SequenceStart) && !TokenList::flow(t);
}

// A node that is complete in itself on the line where it ends: a one-line
// value after which nothing but a line break may follow on that line.
bool is_inline_node(const Token& t) {
    if (t.kind == TokenKind::Alias || t.kind == TokenKind::MappingEnd || t.kind == TokenKind::SequenceEnd) return true;
    if (t.kind != TokenKind::Scalar) return false;
    const ScalarStyle style = TokenList::style(t);
    return style == ScalarStyle::Plain || style == ScalarStyle::SingleQuoted || style == ScalarStyle::DoubleQuoted;
}

// The block collection that the BlockEnd at `last` closed: the outermost of
// a run of BlockEnd tokens, since each closes the level opened after its
// follower's.
std::optional<std::size_t> opened_by(const TokenList& tokens, std::size_t last) {
    std::size_t depth = 0;
    for (std::size_t i = last + 1; i-- > 0;) {
        const Token& t = tokens[i];
        if (t.kind == TokenKind::BlockEnd) {
            ++depth;
        } else if (is_block_start(t)) {
            if (depth == 0) return std::nullopt;  // not a list the scanner made
            if (--depth == 0) return i;
        }
    }
    return std::nullopt;
}

Error at(const TokenList& tokens, const char* message, const Token& t) {
    return Error::at(ErrorKind::Syntax, message, tokens.span(t));
}

// The `:` at `colon` ends the last line of a multi-line plain value: that line
// was meant as the next key, and the plain value swallowed it because it is
// indented past the mapping's keys (or by a tab, which does not count as
// indentation). Reported at the first character of that line's content.
Error continuation_key(const TokenList& tokens, const Token& colon) {
    const std::string_view text = tokens.input();
    std::size_t line_start = colon.offset;
    while (line_start > 0 && !scan::is_break(static_cast<unsigned char>(text[line_start - 1]))) --line_start;
    std::size_t content = line_start;
    bool tab = false;
    while (content < colon.offset && scan::is_blank(static_cast<unsigned char>(text[content]))) {
        tab = tab || text[content] == '\t';
        ++content;
    }
    const auto before_colon = utf8::measure(reinterpret_cast<const unsigned char*>(text.data()) + content,
                                            colon.offset - content);
    const auto chars = static_cast<std::uint32_t>(before_colon.chars);
    const Span span{tokens.file_id(), colon.line, colon.column >= chars ? colon.column - chars : 0, content};
    return Error::at(ErrorKind::Syntax, tab ? messages::kTabIndent : kKeyIndentedMore, span);
}

}  // namespace

std::optional<Error> explain_misplaced_collection(const TokenList& tokens, std::size_t entry, std::size_t start) {
    const Token& t = tokens[start];
    if (!is_block_start(t) || entry == 0) return std::nullopt;
    const bool mapping = t.kind == TokenKind::MappingStart;
    const Token& before = tokens[entry - 1];

    // What the previous entry's value was, and where the collection stands against it.
    if (before.kind == TokenKind::BlockEnd) {
        const auto opened = opened_by(tokens, entry - 1);
        if (!opened) return std::nullopt;
        const std::uint32_t sibling_column = tokens[*opened].column;
        if (t.column < sibling_column) return at(tokens, mapping ? kKeyIndentedLess : kEntryIndentedLess, t);
        if (t.column > sibling_column && mapping) return at(tokens, kKeyIndentedMore, t);
        return std::nullopt;  // at the column of the collection before it: a mapping and a sequence mixed
    }
    if (!mapping) return std::nullopt;

    // A mapping opened by a `:` that the scanner met after a value: the value
    // did not end where the writer meant it to.
    if (!is_inline_node(before) && before.kind != TokenKind::Scalar) return std::nullopt;
    if (is_inline_node(before)) {
        const std::uint64_t end = tokens.end_offset(before);
        const std::string_view between = tokens.input().substr(end, t.offset - end);
        const bool same_line = between.find_first_of("\r\n") == std::string_view::npos;
        if (same_line) {
            const bool plain = before.kind == TokenKind::Scalar && TokenList::style(before) == ScalarStyle::Plain;
            if (before.line == t.line) return at(tokens, plain ? kColonInPlainValue : kMappingOnKeyLine, t);
            if (plain) return continuation_key(tokens, t);
            return std::nullopt;
        }
    }
    // A key on a later line than a complete value (a block scalar's
    // included), indented past its siblings.
    return at(tokens, kKeyIndentedMore, t);
}

}  // namespace torvex
