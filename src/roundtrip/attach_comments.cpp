#include "roundtrip/attach_comments.hpp"

#include <algorithm>
#include <cstring>

#include "core/stack_guard.hpp"

namespace torvex::rt {

namespace {

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
        : comments_(comments), lines_(lines) {}

    void run(std::vector<YamlNode>& roots) {
        for (YamlNode& root : roots) visit(root, true, 0);
        if (next_ < comments_.size() && !roots.empty()) {
            std::vector<Text>& foot = roots.back().comments.texts().foot;
            for (; next_ < comments_.size(); ++next_) foot.push_back(Text::view(comments_[next_].text));
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

    LineColumn visit(YamlNode& node, bool inline_allowed, std::size_t depth) {
        const std::uint32_t line = node.span.line;
        const std::uint32_t column = node.span.column;
        if (seen_any_) {
            const std::uint32_t stop = comment_before(line) ? comments_[next_].span.line : line;
            node.comments.blank_before = lines_.blank_between(last_line_, stop);
        }
        if (comment_before(line)) {
            std::vector<Text>& head = node.comments.texts().head;
            do {
                head.push_back(Text::view(comments_[next_].text));
                see(comments_[next_].span.line);
                ++next_;
            } while (comment_before(line));
        }
        see(line);

        LineColumn end;
        switch (node.kind) {
            case NodeKind::Scalar: end = scalar_end(node); break;
            case NodeKind::Sequence:
            case NodeKind::Mapping:
                end = node.children.empty() ? LineColumn{line, column}
                                            : with_stack_at(depth, [&] { return visit_children(node, depth); });
                break;
            case NodeKind::Alias:
            case NodeKind::Null: end = {node.end_line, node.end_column}; break;
        }

        if (node.comments.has_texts() && node.comments.raw()) {
            see(line + count_breaks(node.comments.raw()->str()));
        } else {
            see(end.line);
        }

        if (inline_allowed && next_ < comments_.size() && comments_[next_].span.line == line &&
            comments_[next_].span.column > column) {
            const CommentRecord& comment = comments_[next_++];
            node.comments.texts().inline_comment = Text::view(comment.text);
            if (end.line == line && end.column < comment.span.column) {
                node.comments.inline_spaces = comment.span.column - end.column;
            }
        }
        return end;
    }

    LineColumn visit_children(YamlNode& node, std::size_t depth) {
        LineColumn best{};
        if (node.kind == NodeKind::Sequence) {
            for (YamlNode& item : node.children) best = std::max(best, visit(item, true, depth + 1));
            return best;
        }
        for (std::size_t i = 0; i + 1 < node.children.size(); i += 2) {
            YamlNode& key = node.children[i];
            YamlNode& value = node.children[i + 1];
            const LineColumn key_end = visit(key, false, depth + 1);
            if (key.kind == NodeKind::Scalar && key.scalar_style == ScalarStyle::Plain &&
                key_end.line == value.span.line && key_end.column < value.span.column && value.anchor.empty() &&
                value.tag.empty()) {
                value.comments.value_pad = value.span.column - key_end.column - 1;
            }
            best = std::max(best, key_end);
            best = std::max(best, visit(value, true, depth + 1));
        }
        return best;
    }

    const std::vector<CommentRecord>& comments_;
    const LineTable& lines_;
    std::size_t next_ = 0;
    std::uint32_t last_line_ = 0;
    bool seen_any_ = false;
};

}  // namespace

LineColumn approximate_end(const YamlNode& node) { return approximate_end_at(node, 0); }

void attach_comments(std::vector<YamlNode>& roots, const std::vector<CommentRecord>& comments,
                     const LineTable& lines) {
    Attacher(comments, lines).run(roots);
}

}  // namespace torvex::rt
