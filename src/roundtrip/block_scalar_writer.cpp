// Literal and folded block scalars of the round-trip emitter: the source
// text of an unedited one where it still reads the same at its new place,
// otherwise the scalar written afresh from its text.
#include <string_view>

#include "roundtrip/emitter_writer.hpp"

namespace torvex::rt::detail {

namespace {

// Indentation of the first line of `body` holding anything but spaces (line
// ends may be CRLF); -1 when there is none.
long first_content_indent(std::string_view body) noexcept {
    std::size_t pos = 0;
    while (pos < body.size()) {
        std::size_t end = body.find('\n', pos);
        if (end == std::string_view::npos) end = body.size();
        std::size_t i = pos;
        while (i < end && body[i] == ' ') ++i;
        if (i < end && !(body[i] == '\r' && i + 1 == end)) return static_cast<long>(i - pos);
        pos = end + 1;
    }
    return -1;
}

}  // namespace

bool Writer::raw_block_scalar(const YamlNode& node, BlockPlace place) {
    if (!copy_) return false;
    const std::string_view raw = node.comments.raw()->str();
    const std::size_t header_end = raw.find('\n');
    if (header_end == std::string_view::npos) return false;  // a header without content: written afresh
    const std::string_view header = raw.substr(0, header_end);
    // The header's indicators run up to the comment. An explicit
    // indentation counts from the parent's indentation: the text reads the
    // same only while the parent stands where it was read.
    bool keep = false, strip = false;
    for (char c : header.substr(1)) {
        if (c == '#') break;  // a digit anywhere before the comment counts, separated or not
        if (c >= '1' && c <= '9' && !place.parent_as_read) return false;
        if (c == '+') keep = true;
        if (c == '-') strip = true;
    }
    // Source that ended without a line break: the break written after it
    // would join the text unless it is stripped.
    if (raw.back() != '\n' && !strip) return false;
    // The content must stay deeper than the node it belongs to, or the
    // lines would leave the scalar.
    const long indent = first_content_indent(raw.substr(header_end + 1));
    // A scalar without content lines is written afresh: whatever line came
    // after it in the source, the line written after it now (a comment, say)
    // could become its first content line.
    if (indent < 0 || indent <= place.parent) return false;

    std::size_t header_text_end = header_end;
    if (header_text_end > 0 && raw[header_text_end - 1] == '\r') --header_text_end;
    out_.append(raw.substr(0, header_text_end));
    if (header.find('#') == std::string_view::npos) {
        comment_tail(&node);
    } else {
        comment_tail(nullptr);  // the source line already holds the node's comment
    }
    out_.append(raw.substr(header_text_end));
    if (out_.back() != '\n') out_.put('\n');
    keep_tail_ = keep;
    tail_as_read_ = true;
    fresh_block_ = false;
    copied_ = true;
    return true;
}

void Writer::block_lines(std::string_view body, bool folded, std::size_t column) {
    // Folded: a single line break between two lines that start with neither
    // space nor tab is read as a space, so each such break gets an extra
    // empty line. Breaks next to indented lines are kept as they are.
    bool previous_plain_line = false;  // last non-empty line could fold into the next
    std::size_t pos = 0;
    for (;;) {
        std::size_t end = body.find('\n', pos);
        const bool last = end == std::string_view::npos;
        if (last) end = body.size();
        const std::string_view line = body.substr(pos, end - pos);
        if (line.empty()) {
            out_.put('\n');
        } else {
            const bool plain_line = line[0] != ' ' && line[0] != '\t';
            if (folded && plain_line && previous_plain_line) out_.put('\n');
            previous_plain_line = plain_line;
            out_.spaces(column);
            out_.append(line);
            out_.put('\n');
        }
        if (last) break;
        pos = end + 1;
    }
}

void Writer::block_scalar(const YamlNode& node, BlockPlace place) {
    std::string_view text = node.text.str();
    std::size_t trailing = 0;
    while (trailing < text.size() && text[text.size() - 1 - trailing] == '\n') ++trailing;
    const std::string_view body = text.substr(0, text.size() - trailing);
    const bool folded = node.scalar_style == ScalarStyle::Folded;

    out_.put(folded ? '>' : '|');
    // Content whose first line starts with a space cannot show its own
    // indentation: the indicator tells it, counted from the parent node.
    std::size_t first = 0;
    while (first < body.size() && body[first] == '\n') ++first;
    // So does content with no line at all: a comment line after a root's
    // scalar would otherwise be taken for its first line.
    if (first == body.size() || body[first] == ' ') {
        const long digit = static_cast<long>(place.content) - place.parent;
        out_.put(static_cast<char>('0' + digit));
    }
    char chomp = '\0';
    if (body.empty()) {
        chomp = trailing == 0 ? '-' : '+';
    } else if (trailing == 0) {
        chomp = '-';
    } else if (trailing > 1) {
        chomp = '+';
    }
    if (chomp) out_.put(chomp);
    comment_tail(&node);
    out_.put('\n');

    if (body.empty()) {
        for (std::size_t i = 0; i < trailing; ++i) out_.put('\n');
        keep_tail_ = chomp == '+';
        tail_as_read_ = false;
        fresh_block_ = true;
        return;
    }
    block_lines(body, folded, place.content);
    for (std::size_t i = 1; i < trailing; ++i) out_.put('\n');
    keep_tail_ = chomp == '+';
    tail_as_read_ = false;
    fresh_block_ = true;
}

}  // namespace torvex::rt::detail
