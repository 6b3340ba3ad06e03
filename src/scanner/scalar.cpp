// Scalar scanning: plain, single-quoted, double-quoted, literal and folded.
// One-line plain scalars and quoted scalars without escapes or line breaks
// are slices of the input; every other text is built in the token list's arena.
#include <algorithm>
#include <cstdio>
#include <string>

#include "core/utf8_units.hpp"
#include "core/wide_bytes.hpp"
#include "scanner/byte_search.hpp"
#include "scanner/scanner_state.hpp"

namespace torvex {

using scan::is_blank;
using scan::is_break;
using scan::is_flow_indicator;
using scan::is_hex;

namespace {

std::string char_text(const scan::Reader& r, std::size_t offset) {
    const std::size_t len = utf8::sequence_length(r.text[offset]);
    return std::string(reinterpret_cast<const char*>(r.text) + offset, std::min(len, r.length - offset));
}

// The value of a hex digit (`is_hex`).
constexpr std::uint32_t hex_value(unsigned char h) noexcept {
    return h <= '9' ? h - '0' : (h | 0x20U) - 'a' + 10;
}

}  // namespace

// ---------------------------------------------------------------------------
// Plain scalars

namespace {

// Where a plain scalar's content on one line ends (trailing blanks
// included), from `p` within the line that starts at `line_start`. The first
// form also stops at a non-ASCII byte; the second passes them, noting them in `high`.
template <bool kPassHigh>
std::size_t plain_line_end(const unsigned char* text, std::size_t line_start, std::size_t p, std::size_t length,
                           bool flow, unsigned& high) noexcept {
    for (;;) {
        p = scan::detail::plain_stop<kPassHigh>(text, p, length, flow, high);
        if (p >= length) return p;
        const unsigned char c = text[p];
        if (c == ':') {
            if (p + 1 >= length) return p;
            const unsigned char n = text[p + 1];
            if (is_blank(n) || is_break(n) || (flow && is_flow_indicator(n))) return p;
        } else if (c == '#') {
            if (p > line_start && is_blank(text[p - 1])) return p;
        } else {
            return p;  // a break, a flow indicator in flow context, or (first form) a non-ASCII byte
        }
        ++p;
    }
}

}  // namespace

// Scans the content of one line from the cursor and leaves the cursor just past
// the last content character (trailing blanks excluded); the column is left
// as it was. True when the content holds a non-ASCII character (its columns
// are then its characters, not its bytes). Lines of ASCII (the usual case)
// take the first search; the rest of a line with another character is left
// to a second search that passes them.
bool Scanner::scan_plain_line(bool flow) {
    const unsigned char* const text = reader_.text;
    const std::size_t length = reader_.length;
    const std::size_t line_start = reader_.pos;
    unsigned unused = 0;
    std::size_t p = plain_line_end<false>(text, line_start, line_start, length, flow, unused);
    if (p < length && text[p] >= 0x80) [[unlikely]]
        return scan_plain_line_wide(p, flow);
    // Blanks at the end of the content do not belong to it.
    while (p > line_start && is_blank(text[p - 1])) --p;
    reader_.pos = p;
    return false;
}

// From the first non-ASCII byte `p` of a plain scalar's line to its end.
bool Scanner::scan_plain_line_wide(std::size_t p, bool flow) {
    const unsigned char* const text = reader_.text;
    const std::size_t line_start = reader_.pos;
    unsigned high = 1;
    p = plain_line_end<true>(text, line_start, p, reader_.length, flow, high);
    while (p > line_start && is_blank(text[p - 1])) --p;
    reader_.pos = p;
    return true;
}

bool Scanner::scan_plain(Token& token, bool& multi_line) {
    const bool flow = flow_level_ > 0;
    token = make_here(TokenKind::Scalar);
    token.style = static_cast<std::uint8_t>(ScalarStyle::Plain);
    // Where the content ends; the cursor goes back here when no continuation
    // line is taken. Its column is counted there, once: from `from`, the
    // start of that line's content, at column `column`.
    struct Mark {
        std::size_t pos;
        std::uint32_t line, column;
        std::size_t from;
        bool wide;
    } content_end{0, reader_.line, reader_.column, reader_.pos, false};
    content_end.wide = scan_plain_line(flow);
    content_end.pos = reader_.pos;
    std::size_t arena_pos = std::string::npos;

    // (Between lines the reader's column is not that of the cursor until a
    // break sets it to 0; nothing before that reads it.)
    for (;;) {
        reader_.skip_blanks();
        if (!reader_.at_break()) break;
        reader_.consume_break();
        std::size_t empty_lines = 0;
        for (;;) {
            reader_.skip_blanks();
            if (!reader_.at_break()) break;
            reader_.consume_break();
            ++empty_lines;
        }
        if (reader_.at_end()) break;
        const unsigned char c = reader_.byte();
        const auto column = static_cast<std::int64_t>(reader_.column);
        if (!flow && column <= indent_) break;
        if (flow && column <= flow_start_indent_) break;  // left for the flow indentation check
        if (reader_.document_marker()) break;
        if (c == '#') break;
        if ((c == ':' || c == '?') && reader_.blank_break_or_end_at(1)) break;
        if (flow && (c == '[' || c == '{')) break;

        const std::size_t line_start = reader_.pos;
        const std::uint32_t line_column = reader_.column;
        const bool wide = scan_plain_line(flow);
        if (reader_.pos == line_start) break;  // nothing on the line belongs to the scalar
        if (arena_pos == std::string::npos) {
            arena_pos = arena_.size();
            arena_.append(reinterpret_cast<const char*>(reader_.text) + token.offset, content_end.pos - token.offset);
        }
        if (empty_lines == 0)
            arena_.push_back(' ');
        else
            arena_.append(empty_lines, '\n');
        arena_.append(reinterpret_cast<const char*>(reader_.text) + line_start, reader_.pos - line_start);
        content_end = {reader_.pos, reader_.line, line_column, line_start, wide};
    }
    reader_.pos = content_end.pos;
    reader_.line = content_end.line;
    const std::size_t span = content_end.pos - content_end.from;
    reader_.column = content_end.column +
                     static_cast<std::uint32_t>(content_end.wide ? utf8::measure(reader_.text + content_end.from, span).chars
                                                                 : span);
    multi_line = arena_pos != std::string::npos;
    if (multi_line)
        set_owned(token, arena_pos, content_end.pos);
    else
        set_slice(token, token.offset, content_end.pos - token.offset, content_end.pos);
    return true;
}

// ---------------------------------------------------------------------------
// Quoted scalars

// After a line break inside a quoted scalar: consumes the empty lines that
// follow (lines of spaces, or of blanks with a tab among them) and the next
// line's leading spaces, then checks that line. Returns false on an error.
bool Scanner::skip_quoted_empty_lines(std::size_t& empty_lines) {
    empty_lines = 0;
    for (;;) {
        reader_.skip_spaces();
        if (reader_.at_break()) {
            reader_.consume_break();
            ++empty_lines;
            continue;
        }
        if (reader_.byte() == '\t' && !reader_.at_end()) {
            std::size_t p = reader_.pos;
            while (p < reader_.length && is_blank(reader_.text[p])) ++p;
            if (p < reader_.length && is_break(reader_.text[p])) {
                reader_.advance_ascii(p - reader_.pos);
                reader_.consume_break();
                ++empty_lines;
                continue;
            }
        }
        break;
    }
    if (reader_.at_end()) return true;  // the caller reports the missing closing quote
    if (flow_level_ == 0 && static_cast<std::int64_t>(reader_.column) <= indent_)
        return fail("a multi-line quoted scalar must be indented past its block context", reader_.mark());
    if (reader_.document_marker())
        return fail("a document marker cannot appear inside a quoted scalar", reader_.mark());
    return true;
}

// Copies a run of ordinary bytes of a quoted scalar, up to the next quote,
// escape, line break or the end, into the arena.
void Scanner::copy_quoted_run(unsigned char quote, unsigned char escape) {
    const std::size_t run = reader_.pos;
    if (reader_.length - run >= wide::kBreakWindow) {
        // Most runs end within a window: found, copied and counted without
        // branching on their length.
        std::size_t columns = 0;
#if TORVEX_UTF8_AVX2
        const std::size_t off = avx2_ ? scan::quote_run_in_window_avx2(reader_.text + run, quote, escape, columns)
                                      : scan::quote_run_in_window(reader_.text + run, quote, escape, columns);
#else
        const std::size_t off = scan::quote_run_in_window(reader_.text + run, quote, escape, columns);
#endif
        if (off < wide::kBreakWindow - 1) [[likely]] {
            append_window(reader_.text + run, off);
            reader_.pos = run + off;
            reader_.column += static_cast<std::uint32_t>(columns);
            return;
        }
    }
    unsigned high = 0;
    const std::size_t stop = scan::find_quote_stop(reader_.text, run, reader_.length, quote, escape, high);
    arena_.append(reinterpret_cast<const char*>(reader_.text) + run, stop - run);
    reader_.pos = stop;
    reader_.column += run_columns(run, stop, high);
}

// At an unescaped line break: drops the blanks that end this line's text, then
// folds the break (a space) or the empty lines after it (a line feed each).
bool Scanner::fold_quoted_break(std::size_t& trim_floor) {
    while (arena_.size() > trim_floor && is_blank(static_cast<unsigned char>(arena_.back()))) arena_.pop_back();
    reader_.consume_break();
    std::size_t empty_lines = 0;
    if (!skip_quoted_empty_lines(empty_lines)) return false;
    reader_.skip_blanks();
    if (empty_lines == 0)
        arena_.push_back(' ');
    else
        arena_.append(empty_lines, '\n');
    trim_floor = arena_.size();
    return true;
}

bool Scanner::scan_single_quoted(Token& token, bool& multi_line) {
    token = make_here(TokenKind::Scalar);
    token.style = static_cast<std::uint8_t>(ScalarStyle::SingleQuoted);
    const Span start = reader_.mark();
    const unsigned char* const text = reader_.text;
    const std::size_t length = reader_.length;
    reader_.advance_ascii(1);
    const std::size_t content = reader_.pos;

    // Fast path: no doubled quote and no line break before the closing quote.
    unsigned high = 0;
    const std::size_t p = quoted_run_end(content, '\'', '\'', high);
    reader_.pos = p;
    reader_.column += run_columns(content, p, high);
    if (p < length && text[p] == '\'' && !(p + 1 < length && text[p + 1] == '\'')) {
        reader_.advance_ascii(1);
        multi_line = false;
        set_slice(token, content, p - content, p + 1);
        return true;
    }

    // Otherwise the text goes to the arena, starting with the run just scanned.
    const std::size_t arena_pos = arena_.size();
    arena_.append(reinterpret_cast<const char*>(text) + content, p - content);
    std::size_t trim_floor = arena_pos;
    for (;;) {
        if (reader_.at_end()) return fail("unterminated single-quoted scalar", start);
        const unsigned char c = reader_.byte();
        if (c == '\'') {
            if (reader_.byte(1) == '\'' && reader_.has(1)) {
                arena_.push_back('\'');
                reader_.advance_ascii(2);
                continue;
            }
            reader_.advance_ascii(1);
            break;
        }
        if (is_break(c)) {
            if (!fold_quoted_break(trim_floor)) return false;
            continue;
        }
        copy_quoted_run('\'', '\'');
    }
    multi_line = reader_.line != start.line;
    set_owned(token, arena_pos, reader_.pos);
    return true;
}

// After a backslash at a line break: the break and the next line's leading
// spaces vanish; each empty line in between adds a line feed.
bool Scanner::skip_escaped_break(std::size_t& trim_floor) {
    reader_.advance_ascii(1);  // the backslash
    reader_.consume_break();
    std::size_t empty_lines = 0;
    if (!skip_quoted_empty_lines(empty_lines)) return false;
    arena_.append(empty_lines, '\n');
    trim_floor = arena_.size();
    return true;
}

// The value of a `\uXXXX` escape naming a low surrogate (U+DC00 to U+DFFF)
// that starts at `offset`, or 0 when no such escape is there.
std::uint32_t Scanner::low_surrogate_escape_at(std::size_t offset) const noexcept {
    if (offset > reader_.length || reader_.length - offset < 6) return 0;
    const unsigned char* e = reader_.text + offset;
    if (e[0] != '\\' || e[1] != 'u') return 0;
    std::uint32_t code = 0;
    for (int i = 2; i < 6; ++i) {
        if (!is_hex(e[i])) return 0;
        code = code * 16 + hex_value(e[i]);
    }
    return code >= 0xDC00 && code <= 0xDFFF ? code : 0;
}

bool Scanner::scan_escape(std::size_t& trim_floor) {
    const Span at = reader_.mark();
    if (!reader_.has(1)) return fail("unterminated escape sequence", at);
    const unsigned char e = reader_.byte(1);
    char32_t value = 0;
    int digits = 0;
    switch (e) {
        case '0': value = 0x00; break;
        case 'a': value = 0x07; break;
        case 'b': value = 0x08; break;
        case 't':
        case '\t': value = 0x09; break;
        case 'n': value = 0x0A; break;
        case 'v': value = 0x0B; break;
        case 'f': value = 0x0C; break;
        case 'r': value = 0x0D; break;
        case 'e': value = 0x1B; break;
        case ' ': value = 0x20; break;
        case '"': value = '"'; break;
        case '/': value = '/'; break;
        case '\\': value = '\\'; break;
        case 'N': value = 0x85; break;
        case '_': value = 0xA0; break;
        case 'L': value = 0x2028; break;
        case 'P': value = 0x2029; break;
        case 'x': digits = 2; break;
        case 'u': digits = 4; break;
        case 'U': digits = 8; break;
        case '\n':
        case '\r': return skip_escaped_break(trim_floor);
        default:
            return fail("unknown escape character: '\\" + char_text(reader_, reader_.pos + 1) + "'", at);
    }
    if (digits == 0) {
        reader_.advance_ascii(2);
    } else {
        std::uint32_t code = 0;
        for (int i = 0; i < digits; ++i) {
            const std::size_t off = reader_.pos + 2 + static_cast<std::size_t>(i);
            if (off >= reader_.length) return fail("incomplete unicode escape", at);
            const unsigned char h = reader_.text[off];
            if (!is_hex(h)) {
                const Span bad{at.file_id, at.line, at.column + 2 + static_cast<std::uint32_t>(i), off};
                return fail("invalid hex digit in unicode escape: '" + char_text(reader_, off) + "'", bad);
            }
            code = code * 16 + hex_value(h);
        }
        std::size_t length = 2 + static_cast<std::size_t>(digits);
        // JSON writes a character beyond the Basic Multilingual Plane as a
        // pair of `\u` escapes, high surrogate first: the pair is that one
        // character. Any other surrogate stands for nothing.
        if (digits == 4 && code >= 0xD800 && code <= 0xDBFF) {
            const std::uint32_t low = low_surrogate_escape_at(reader_.pos + length);
            if (low != 0) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                length += 6;
            }
        }
        if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(code));
            return fail(std::string("invalid unicode code point: U+") + buf, at);
        }
        value = code;
        reader_.advance_ascii(length);
    }
    utf8::append(arena_, value);
    trim_floor = arena_.size();  // blanks produced by escapes stay
    return true;
}

bool Scanner::scan_double_quoted(Token& token, bool& multi_line) {
    token = make_here(TokenKind::Scalar);
    token.style = static_cast<std::uint8_t>(ScalarStyle::DoubleQuoted);
    const Span start = reader_.mark();
    const unsigned char* const text = reader_.text;
    const std::size_t length = reader_.length;
    reader_.advance_ascii(1);
    const std::size_t content = reader_.pos;

    // Fast path: no escape and no line break before the closing quote.
    unsigned high = 0;
    const std::size_t p = quoted_run_end(content, '"', '\\', high);
    reader_.pos = p;
    reader_.column += run_columns(content, p, high);
    if (p < length && text[p] == '"') {
        reader_.advance_ascii(1);
        multi_line = false;
        set_slice(token, content, p - content, p + 1);
        return true;
    }

    // Otherwise the text goes to the arena, starting with the run just scanned.
    const std::size_t arena_pos = arena_.size();
    arena_.append(reinterpret_cast<const char*>(text) + content, p - content);
    std::size_t trim_floor = arena_pos;
    for (;;) {
        if (reader_.at_end()) return fail("unterminated double-quoted scalar", start);
        const unsigned char c = reader_.byte();
        if (c == '"') {
            reader_.advance_ascii(1);
            break;
        }
        if (c == '\\') {
            if (!scan_escape(trim_floor)) return false;
            continue;
        }
        if (is_break(c)) {
            if (!fold_quoted_break(trim_floor)) return false;
            continue;
        }
        copy_quoted_run('"', '\\');
    }
    multi_line = reader_.line != start.line;
    set_owned(token, arena_pos, reader_.pos);
    return true;
}

// ---------------------------------------------------------------------------
// Block scalars

bool Scanner::scan_block_scalar(Token& token, bool folded) {
    token = make_here(TokenKind::Scalar);
    token.style = static_cast<std::uint8_t>(folded ? ScalarStyle::Folded : ScalarStyle::Literal);
    const Span start = reader_.mark();
    const unsigned char* const text = reader_.text;
    const std::size_t length = reader_.length;
    reader_.advance_ascii(1);

    enum class Chomp { Clip, Strip, Keep } chomp = Chomp::Clip;
    std::uint32_t indicator = 0;
    // At most one chomping and one indentation indicator, in either order,
    // right after the `|` or `>`; then only white space and a comment.
    for (int i = 0; i < 2 && !reader_.at_break_or_end(); ++i) {
        const unsigned char c = reader_.byte();
        if ((c == '+' || c == '-') && chomp == Chomp::Clip) {
            chomp = c == '+' ? Chomp::Keep : Chomp::Strip;
        } else if (c >= '1' && c <= '9' && indicator == 0) {
            indicator = c - '0';
        } else {
            break;
        }
        reader_.advance_ascii(1);
    }
    while (!reader_.at_break_or_end()) {
        const unsigned char c = reader_.byte();
        if (is_blank(c)) {
            reader_.advance_ascii(1);
        } else if (c == '#') {
            if (!is_blank(text[reader_.pos - 1])) return fail("a comment must be preceded by whitespace", reader_.mark());
            skip_comment();
        } else {
            return fail("unexpected content after block scalar indicator", reader_.mark());
        }
    }
    const std::size_t arena_pos = arena_.size();
    if (reader_.at_end()) {  // the header is the last line
        set_owned(token, arena_pos, reader_.pos);
        return true;
    }
    reader_.consume_break();

    const std::int64_t parent = indent_;
    std::uint32_t n = 0;
    if (indicator != 0) {
        n = indicator + static_cast<std::uint32_t>(parent < 1 ? 0 : parent);
    } else {
        // Detect the content indentation from the first line holding more than spaces.
        std::size_t p = reader_.pos;
        std::size_t widest_empty = 0;
        std::size_t detected = 0;
        for (;;) {
            std::size_t spaces = 0;
            while (p + spaces < length && text[p + spaces] == ' ') ++spaces;
            const std::size_t q = p + spaces;
            if (q >= length) {  // only blank lines up to the end
                widest_empty = std::max(widest_empty, spaces);
                detected = 0;
                break;
            }
            if (is_break(text[q])) {
                widest_empty = std::max(widest_empty, spaces);
                p = q + (text[q] == '\r' && q + 1 < length && text[q + 1] == '\n' ? 2 : 1);
                continue;
            }
            detected = spaces;
            break;
        }
        if (static_cast<std::int64_t>(detected) > parent) {
            if (detected < widest_empty)
                return fail("a leading empty line in a block scalar is indented more than the content", start);
            n = static_cast<std::uint32_t>(detected);
        } else {
            // Empty scalar: only the blank lines up to the first line that is not blank belong to it.
            std::size_t breaks = 0;
            for (;;) {
                const scan::Reader line_start = reader_;
                reader_.skip_blanks();
                if (reader_.at_break() || (reader_.at_end() && reader_.pos > line_start.pos)) {
                    for (std::size_t q = line_start.pos; q < reader_.pos; ++q)
                        if (text[q] == '\t') {
                            const Span tab{start.file_id, line_start.line, static_cast<std::uint32_t>(q - line_start.pos), q};
                            return fail("a tab cannot be used for indentation", tab);
                        }
                }
                if (reader_.at_break()) {
                    reader_.consume_break();
                    ++breaks;
                    continue;
                }
                if (!reader_.at_end()) {
                    reader_ = line_start;
                } else if (reader_.pos > line_start.pos) {
                    ++breaks;  // a last line of blanks ends at the end of input, not at a break
                }
                break;
            }
            if (chomp == Chomp::Keep) arena_.append(breaks, '\n');
            set_owned(token, arena_pos, reader_.pos);
            return true;
        }
    }

    // The body, a line at a time from a local cursor (always at a line start
    // here): the indentation is one compare, the content is copied whole and
    // only its end is looked for.
    std::size_t pos = reader_.pos;
    std::uint32_t line = reader_.line;
    std::uint32_t column = 0;  // of the cursor once the body ends
    std::size_t empty_lines = 0;
    bool have_content = false;
    bool previous_more_indented = false;
    bool ended_with_break = false;
    for (;;) {
        const std::size_t s = pos + scan::leading_spaces(text, pos, length, n);
        if (s < length && is_break(text[s])) {  // an empty line (or one of fewer spaces)
            ++empty_lines;
            ++line;
            pos = s + scan::break_length(text, s, length);
            continue;
        }
        // The end of input, a line indented less, or a document marker ends
        // the body at this line's start.
        if (s >= length || s - pos != n) break;
        if (n == 0 && scan::document_marker_at(text, pos, length)) break;
        const bool more_indented = is_blank(text[s]);
        if (have_content) {
            if (!folded || previous_more_indented || more_indented)
                arena_.push_back('\n');
            else if (empty_lines == 0)
                arena_.push_back(' ');
        }
        if (empty_lines != 0) arena_.append(empty_lines, '\n');
        empty_lines = 0;
        std::size_t e;
        if (length - s >= wide::kBreakWindow) {
            // Most lines fit one window: their end is found and they are
            // copied without branching on their length.
#if TORVEX_UTF8_AVX2
            const std::size_t in_window = avx2_ ? wide::break_in_window_avx2(text + s) : wide::break_in_window(text + s);
#else
            const std::size_t in_window = wide::break_in_window(text + s);
#endif
            if (in_window < wide::kBreakWindow - 1) [[likely]] {
                e = s + in_window;
                append_window(text + s, in_window);
            } else {
                e = wide::find_break(text, s + in_window, length);
                arena_.append(reinterpret_cast<const char*>(text) + s, e - s);
            }
        } else {
            e = wide::find_break(text, s, length);
            arena_.append(reinterpret_cast<const char*>(text) + s, e - s);
        }
        have_content = true;
        previous_more_indented = more_indented;
        if (e >= length) {  // the last line, without a break
            ended_with_break = false;
            pos = e;
            column = n + static_cast<std::uint32_t>(utf8::measure(text + s, e - s).chars);
            break;
        }
        ended_with_break = true;
        ++line;
        pos = e + scan::break_length(text, e, length);
    }
    reader_.pos = pos;
    reader_.line = line;
    reader_.column = column;
    const std::size_t trailing = empty_lines + (have_content && ended_with_break ? 1 : 0);
    switch (chomp) {
        case Chomp::Keep: arena_.append(trailing, '\n'); break;
        case Chomp::Clip:
            if (have_content) arena_.push_back('\n');
            break;
        case Chomp::Strip: break;
    }
    set_owned(token, arena_pos, reader_.pos);
    return true;
}

}  // namespace torvex
