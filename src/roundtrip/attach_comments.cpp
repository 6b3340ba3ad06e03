#include "roundtrip/attach_comments.hpp"
#include "roundtrip/line_breaks.hpp"

#include <algorithm>
#include <cstring>

#include "core/stack_guard.hpp"

namespace torvex::rt {

namespace {

// Whether every line of `text` is layout only: blank, a comment, a document
// marker (with a comment after it) or, above a root, a directive. Text that holds anything else
// (an empty node's indicator, say) is not copied: written elsewhere it
// could read as content.
bool layout_only(std::string_view text, bool root) noexcept {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string_view::npos) {
            line.remove_prefix(first);
            const bool marker = first == 0 && (line.starts_with("---") || line.starts_with("...")) &&
                                (line.size() == 3 || line[3] == ' ' || line[3] == '\t' || line[3] == '\r');
            if (marker) {
                const std::size_t rest = line.find_first_not_of(" \t\r", 3);
                if (rest != std::string_view::npos && line[rest] != '#') return false;
            } else if (line[0] != '#' && !(root && first == 0 && line[0] == '%')) {
                return false;
            }
        }
        at = end + 1;
    }
    return true;
}

std::uint32_t count_breaks(std::string_view s) noexcept {
    std::uint32_t n = 0;
    const char* p = s.data();
    const char* end = p + s.size();
    for (; p != end; ++p) {
        if (*p == '\n') {
            ++n;
        } else if (*p == '\r') {
            ++n;
            if (p + 1 != end && p[1] == '\n') ++p;
        }
    }
    return n;
}

LineColumn scalar_end(const YamlNode& node) noexcept {
    // A one-line plain scalar is its own source text: its end is known.
    if (node.scalar_style == ScalarStyle::Plain && node.end_line == node.span.line && !node.text.is_owned() &&
        node.end_offset - node.span.offset == node.text.size()) {
        return {node.end_line, node.end_column};
    }
    const std::string_view text = node.text.str();
    const void* nl = std::memchr(text.data(), '\n', text.size());
    if (nl == nullptr) return {node.span.line, node.span.column + count_chars(text)};
    std::uint32_t breaks = 0;
    std::size_t last_start = 0;
    for (std::size_t i = static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()); i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++breaks;
            last_start = i + 1;
        }
    }
    return {node.span.line + breaks, count_chars(text.substr(last_start))};
}

LineColumn approximate_end_at(const YamlNode& node, std::size_t depth) {
    switch (node.kind) {
        case NodeKind::Scalar: return scalar_end(node);
        case NodeKind::Sequence:
        case NodeKind::Mapping: {
            if (node.children.empty()) return {node.span.line, node.span.column};
            return with_stack_at(depth, [&] {
                LineColumn best = approximate_end_at(node.children.front(), depth + 1);
                for (std::size_t i = 1; i < node.children.size(); ++i) {
                    best = std::max(best, approximate_end_at(node.children[i], depth + 1));
                }
                return best;
            });
        }
        case NodeKind::Alias:
        case NodeKind::Null: break;
    }
    return {node.end_line, node.end_column};
}

class Attacher {
public:
    Attacher(const std::vector<CommentRecord>& comments, const LineTable& lines)
        : comments_(comments), lines_(lines), text_(lines.text()), copyable_(!has_lone_cr(text_)) {
        if (lines_.line_count() > 0) region_from_ = lines_.line_start(0);
    }

    void run(std::vector<YamlNode>& roots) {
        for (YamlNode& root : roots) visit(root, true, true, 0);
        if (roots.empty()) return;
        CommentTexts* texts = nullptr;
        if (next_ < comments_.size()) {
            texts = &roots.back().comments.texts();
            for (; next_ < comments_.size(); ++next_) texts->foot.push_back(Text::view(comments_[next_].text));
        }
        // What follows the last root's content, as it stands.
        const bool final_break = !text_.empty() && (text_.back() == '\n' || text_.back() == '\r');
        const std::string_view rest = text_.substr(std::min<std::uint64_t>(region_from_, text_.size()));
        if (copyable_ && (region_from_ < text_.size() || !final_break) && layout_only(rest, false)) {
            if (texts == nullptr) texts = &roots.back().comments.texts();
            texts->trail = Text::view(text_.substr(std::min<std::uint64_t>(region_from_, text_.size())));
            texts->ends_without_break = !final_break && region_from_ >= text_.size();
        }
    }

private:
    bool comment_before(std::uint32_t line) const noexcept {
        return next_ < comments_.size() && comments_[next_].span.line < line;
    }
    void see(std::uint32_t line) noexcept {
        if (!seen_any_ || line > last_line_) last_line_ = line;
        seen_any_ = true;
    }
    // Spaces (and tabs) right before the comment on its line.
    std::uint32_t spaces_before(const CommentRecord& comment) const noexcept {
        std::uint64_t at = comment.span.offset;
        std::uint32_t n = 0;
        while (at > 0 && (text_[at - 1] == ' ' || text_[at - 1] == '\t')) {
            --at;
            ++n;
        }
        return n;
    }
    // Whether the source between two offsets holds anything but line breaks.
    bool holds_more_than_breaks(std::uint64_t from, std::uint64_t to) const noexcept {
        for (std::uint64_t i = from; i < to; ++i) {
            if (text_[i] != '\n' && text_[i] != '\r') return true;
        }
        return false;
    }

    bool holds_more_than_blanks(std::uint64_t from, std::uint64_t to) const noexcept {
        for (std::uint64_t i = from; i < to; ++i) {
            if (text_[i] != ' ' && text_[i] != '\t') return true;
        }
        return false;
    }

    // Where the run of blank and comment lines from `from` ends, at most at
    // `to`: a line with content (the `-` of an item read on the next line)
    // belongs to no node's head.
    std::uint64_t comment_lines_end(std::uint64_t from, std::uint64_t to) const noexcept {
        std::uint64_t at = from;
        while (at < to) {
            std::uint64_t p = at;
            while (p < to && (text_[p] == ' ' || text_[p] == '\t')) ++p;
            if (p < to && text_[p] != '#' && text_[p] != '\n' && text_[p] != '\r') return at;
            while (p < to && text_[p] != '\n' && text_[p] != '\r') ++p;
            if (p < to && text_[p] == '\r') ++p;
            if (p < to && text_[p] == '\n') ++p;
            at = p;
        }
        return to;
    }

    // Head comments and blank lines above a node starting at `first`: the
    // lines between the previous content and the node's first line (for a
    // root, its first byte).
    void take_head(YamlNode& node, const Span& first, bool root) {
        if (seen_any_) {
            const std::uint32_t stop = comment_before(first.line) ? comments_[next_].span.line : first.line;
            node.comments.blank_before = lines_.blank_between(last_line_, stop);
        }
        std::uint32_t taken = 0;
        if (comment_before(first.line)) {
            std::vector<Text>& head = node.comments.texts().head;
            do {
                head.push_back(Text::view(comments_[next_].text));
                see(comments_[next_].span.line);
                ++next_;
                ++taken;
            } while (comment_before(first.line));
        }
        // A root read on its `---` line takes the marker along.
        const std::uint64_t line_start = lines_.line_start(first.line);
        const bool after_marker = root && holds_more_than_blanks(line_start, first.offset);
        const std::uint64_t region_end =
            after_marker ? first.offset : root ? line_start : comment_lines_end(region_from_, line_start);
        if (copyable_ && region_from_ < region_end &&
            layout_only(text_.substr(region_from_, region_end - region_from_), root) &&
            (taken > 0 || (root ? true : holds_more_than_breaks(region_from_, region_end)))) {
            CommentTexts& texts = node.comments.texts();
            texts.lead = Text::view(text_.substr(region_from_, region_end - region_from_));
            texts.lead_comments = taken;
        }
        region_from_ = std::max(region_from_, lines_.next_line_start(first.line));
        see(first.line);
    }

    // `limit`: comments from this offset on are not the node's (they follow
    // the flow collection it stands in).
    LineColumn visit(YamlNode& node, bool inline_allowed, bool root, std::size_t depth,
                     std::uint64_t limit = UINT64_MAX) {
        Span first = node.span;
        if (node.comments.has_texts() && node.comments.properties() && node.comments.properties()->offset < first.offset)
            first = *node.comments.properties();
        take_head(node, first, root);

        const std::uint32_t line = node.span.line;
        const bool block_collection = node.is_collection() && node.style == CollectionStyle::Block;
        // `- !!map # c` with the content below: the comment stays after the properties.
        if (inline_allowed && block_collection && first.line < line && next_ < comments_.size() &&
            comments_[next_].span.line == first.line && comments_[next_].span.column > first.column &&
            !node.comments.inline_comment()) {
            const CommentRecord& comment = comments_[next_++];
            node.comments.texts().inline_comment = Text::view(comment.text);
            node.comments.inline_spaces = spaces_before(comment);
        }
        const bool block_scalar = node.kind == NodeKind::Scalar && node.comments.has_texts() && node.comments.raw();
        LineColumn end{node.end_line, node.end_column};
        if (node.is_collection() && !node.children.empty()) {
            const std::uint64_t inner = node.style == CollectionStyle::Flow ? std::min(limit, node.end_offset) : limit;
            end = std::max(end, with_stack_at(depth, [&] { return visit_children(node, depth, inner); }));
        }

        if (block_scalar) {
            see(line + count_breaks(node.comments.raw()->str()));
            region_from_ = std::max<std::uint64_t>(region_from_, node.end_offset);
        } else {
            see(end.line);
        }

        // The comment after the node on its line: a block collection's or a
        // block scalar's first line, the last line of anything else.
        const std::uint32_t tail_line = block_collection || block_scalar ? line : end.line;
        const std::uint32_t tail_column = block_collection || block_scalar ? node.span.column : end.column;
        if (inline_allowed && next_ < comments_.size() && comments_[next_].span.line == tail_line &&
            comments_[next_].span.column >= tail_column && comments_[next_].span.offset < limit &&
            !node.comments.inline_comment()) {
            const CommentRecord& comment = comments_[next_++];
            node.comments.texts().inline_comment = Text::view(comment.text);
            node.comments.inline_spaces = spaces_before(comment);
        }
        if (!block_collection && !block_scalar) {
            region_from_ = std::max(region_from_, lines_.next_line_start(end.line));
        }
        return end;
    }

    LineColumn visit_children(YamlNode& node, std::size_t depth, std::uint64_t limit) {
        LineColumn best{};
        if (node.kind == NodeKind::Sequence) {
            for (YamlNode& item : node.children) best = std::max(best, visit(item, true, false, depth + 1, limit));
            return best;
        }
        for (std::size_t i = 0; i + 1 < node.children.size(); i += 2) {
            YamlNode& key = node.children[i];
            YamlNode& value = node.children[i + 1];
            const LineColumn key_end = visit(key, false, false, depth + 1, limit);
            // A comment after `key:` whose value starts on a later line stays on the key's line.
            if (next_ < comments_.size() && comments_[next_].span.line == key_end.line &&
                comments_[next_].span.column > key_end.column && value.span.line > key_end.line &&
                comments_[next_].span.offset < limit) {
                const CommentRecord& comment = comments_[next_++];
                value.comments.texts().inline_comment = Text::view(comment.text);
                value.comments.inline_spaces = spaces_before(comment);
                value.comments.key_line_comment = true;
            }
            best = std::max(best, key_end);
            best = std::max(best, visit(value, true, false, depth + 1, limit));
        }
        return best;
    }

    const std::vector<CommentRecord>& comments_;
    const LineTable& lines_;
    std::string_view text_;
    // Lines around nodes are kept as read for writing back, except in a text
    // that breaks lines with a lone carriage return: the writers' line logic
    // knows line feeds only, so such a text is always written afresh.
    bool copyable_;
    std::size_t next_ = 0;
    std::uint32_t last_line_ = 0;
    bool seen_any_ = false;
    // Where the lines above the next node begin.
    std::uint64_t region_from_ = 0;
};

}  // namespace

LineColumn approximate_end(const YamlNode& node) { return approximate_end_at(node, 0); }

void attach_comments(std::vector<YamlNode>& roots, const std::vector<CommentRecord>& comments,
                     const LineTable& lines) {
    Attacher(comments, lines).run(roots);
}

}  // namespace torvex::rt
