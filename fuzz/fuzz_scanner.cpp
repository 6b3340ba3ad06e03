// Fuzzes the scanner. Input that is not valid UTF-8 is skipped (callers
// validate before scanning). Beyond "no crash", checks the invariants the
// parser and the round-trip composer rely on.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "core/utf8.hpp"
#include "scanner/scanner.hpp"
#include "require.hpp"

using torvex_fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (torvex::utf8::validate(text)) return 0;

    // Line and column of every offset, for checking token starts.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> marks(size + 1);
    {
        std::uint32_t line = 0, column = 0;
        const std::size_t start = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
        for (std::size_t i = 0; i <= size; ++i) {
            marks[i] = {line, column};
            if (i < start || i == size) continue;
            const auto c = static_cast<unsigned char>(text[i]);
            if (c == '\n' || (c == '\r' && !(i + 1 < size && text[i + 1] == '\n'))) {
                ++line;
                column = 0;
            } else if (c != '\r' && (c & 0xC0) != 0x80) {
                ++column;
            }
        }
    }

    auto recorded = torvex::tokenize(text, 5, true);
    auto plain = torvex::tokenize(text, 5, false);
    require(recorded.ok() == plain.ok());
    if (!recorded.ok()) {
        const torvex::Error& e = recorded.error();
        require(e.kind == torvex::ErrorKind::Syntax && e.span.has_value());
        require(e.span->offset <= size && e.span->file_id == 5 && !e.message.empty());
        require(e.message == plain.error().message && e.span == plain.error().span);
        require(marks[e.span->offset].first == e.span->line && marks[e.span->offset].second == e.span->column);
        return 0;
    }

    const torvex::TokenList& tokens = recorded.value();
    require(tokens.size() >= 2 && tokens.size() == plain.value().size());
    require(tokens[0].kind == torvex::TokenKind::StreamStart);
    require(tokens[tokens.size() - 1].kind == torvex::TokenKind::StreamEnd);
    std::uint64_t previous = 0;
    int depth = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const torvex::Token& t = tokens[i];
        const torvex::Token& u = plain.value()[i];
        require(t.kind == u.kind && t.offset == u.offset && t.line == u.line && t.column == u.column);
        require(t.offset >= previous && t.offset <= size);
        require(marks[t.offset].first == t.line && marks[t.offset].second == t.column);
        previous = t.offset;
        const std::uint64_t end = tokens.end_offset(t);
        require(end >= t.offset && end <= size);
        const std::string_view payload = tokens.text(t);
        require(payload == plain.value().text(u));
        if (t.kind == torvex::TokenKind::Scalar && t.storage == torvex::TextStorage::Slice)
            require(payload == text.substr(t.offset + t.skip, payload.size()));
        if (t.kind == torvex::TokenKind::MappingStart || t.kind == torvex::TokenKind::SequenceStart) ++depth;
        if (t.kind == torvex::TokenKind::MappingEnd || t.kind == torvex::TokenKind::SequenceEnd ||
            t.kind == torvex::TokenKind::BlockEnd)
            --depth;
        require(depth >= 0);
    }
    require(depth == 0);
    for (const auto& c : tokens.comments()) {
        require(c.span.offset < size && text[c.span.offset] == '#');
        require(marks[c.span.offset].first == c.span.line && marks[c.span.offset].second == c.span.column);
    }
    return 0;
}
