#include "scanner/scalar_reader.hpp"

#include "scanner/scanner_state.hpp"

namespace torvex {

ScalarReader::ScalarReader(std::string_view text, std::uint32_t file_id) noexcept : text_(text), file_id_(file_id) {}

ScalarReader::~ScalarReader() = default;

bool ScalarReader::read(Style style, Place& at, std::int64_t indent, bool flow, std::int64_t flow_indent,
                        std::string_view& text, bool& multi_line, std::size_t& made, std::size_t run_end,
                        bool run_high) {
    if (!scanner_) scanner_ = std::make_unique<Scanner>(text_, file_id_, false, false);
    Scanner& s = *scanner_;
    // Each read starts afresh, but for the texts made before: they stay in
    // the arena, which the caller takes over at the end.
    s.forget_owned();
    s.error_.reset();
    s.reader_.pos = at.pos;
    s.reader_.line = at.line;
    s.reader_.column = at.column;
    s.indent_ = indent;
    s.flow_level_ = flow ? 1 : 0;
    s.flow_start_indent_ = flow_indent;
    const bool quoted = style == Style::SingleQuoted || style == Style::DoubleQuoted;
    s.known_run_end_ = quoted ? run_end : 0;
    s.known_run_high_ = run_high;
    Token token{};
    bool ok = false;
    multi_line = true;
    switch (style) {
        case Style::Plain: ok = s.scan_plain(token, multi_line); break;
        case Style::SingleQuoted: ok = s.scan_single_quoted(token, multi_line); break;
        case Style::DoubleQuoted: ok = s.scan_double_quoted(token, multi_line); break;
        case Style::Literal: ok = s.scan_block_scalar(token, false); break;
        case Style::Folded: ok = s.scan_block_scalar(token, true); break;
    }
    if (!ok) return false;
    text = s.out_.text(token);
    const std::string_view arena = s.arena_;
    const bool in_arena = !text.empty() && text.data() >= arena.data() && text.data() < arena.data() + arena.size();
    made = in_arena ? static_cast<std::size_t>(text.data() - arena.data()) : kNotMade;
    at = {s.reader_.pos, s.reader_.line, s.reader_.column};
    source_end_ = s.out_.end_offset(token);
    return true;
}

std::unique_ptr<TokenList> ScalarReader::take_texts() {
    if (!scanner_) return nullptr;
    auto texts = std::make_unique<TokenList>(std::move(scanner_->out_));
    texts->release_tokens();  // the texts are all that is wanted
    scanner_.reset();
    return texts;
}

}  // namespace torvex
