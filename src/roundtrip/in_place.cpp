#include "roundtrip/in_place.hpp"

#include <algorithm>
#include <vector>

#include "core/stack_guard.hpp"
#include "encode/out_buffer.hpp"
#include "roundtrip/emitter_writer.hpp"
#include "roundtrip/line_breaks.hpp"
#include "roundtrip/pair_edits.hpp"

namespace torvex::rt {

namespace {

using detail::Position;

// Longest implicit key readers accept.
constexpr std::size_t kMaxImplicitKey = 1024;

bool blank(char c) noexcept { return c == ' ' || c == '\t'; }

// One stretch of the file replaced by new text.
struct Piece {
    std::uint64_t from;
    std::uint64_t to;
    std::string text;
};

// Whether the properties written before a node's content in the file
// (`&a !t`, in either order, any spacing) are the ones it has now.
bool same_properties(std::string_view written, const YamlNode& node) {
    bool tag_seen = node.tag.empty();
    bool anchor_seen = node.anchor.empty();
    std::size_t at = 0;
    while (at < written.size()) {
        if (blank(written[at]) || written[at] == '\n' || written[at] == '\r') {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < written.size() && !blank(written[end]) && written[end] != '\n' && written[end] != '\r') ++end;
        const std::string_view word = written.substr(at, end - at);
        if (!tag_seen && word == node.tag.str()) {
            tag_seen = true;
        } else if (!anchor_seen && word.size() == node.anchor.size() + 1 && word[0] == '&' &&
                   word.substr(1) == node.anchor.str()) {
            anchor_seen = true;
        } else {
            return false;  // a property the node no longer has (a comment cannot stand here)
        }
        at = end;
    }
    return tag_seen && anchor_seen;
}

// Whether a node's comments are the ones it had where `extent` was noted.
bool same_comments(const YamlNode& node, const ReplacedExtent& extent) noexcept {
    const std::optional<Text>& comment = node.comments.inline_comment();
    if ((comment ? comment->str().data() : nullptr) != extent.inline_at) return false;
    const std::vector<Text>& head = node.comments.head();
    return head.size() == extent.head_count && (head.empty() || head.front().str().data() == extent.head_at);
}

class Placer {
public:
    Placer(const FileInPlace& file, NullStyle null_style, bool prefer_double)
        : file_(file),
          null_style_(null_style),
          prefer_double_(prefer_double),
          scratch_(64),
          writer_(scratch_, null_style, prefer_double, {}, false) {}

    bool place_all() {
        for (const YamlNode* root : file_.roots) {
            if (!visit(*root, Position::Root, file_.boundary, 0)) return false;
        }
        return true;
    }

    std::optional<std::string> assemble() {
        std::sort(pieces_.begin(), pieces_.end(), [](const Piece& a, const Piece& b) {
            // New lines at a place come before a stretch removed from there.
            return a.from < b.from || (a.from == b.from && a.to < b.to);
        });
        std::string out;
        std::size_t grown = 0;
        for (const Piece& p : pieces_) grown += p.text.size();
        out.reserve(file_.text.size() + grown);
        std::uint64_t at = 0;
        for (const Piece& p : pieces_) {
            if (p.from < at) return std::nullopt;  // overlapping places: not one edit per stretch
            out.append(file_.text.substr(at, p.from - at));
            out.append(p.text);
            at = p.to;
        }
        out.append(file_.text.substr(at));
        return out;
    }

private:
    bool visit(const YamlNode& node, Position pos, bool boundary, std::size_t depth) {
        // Pairs removed or appended: placed around the pairs that stayed, when they can be.
        const bool pairs_placed = pairs_edited(node) && place_pairs(node);
        if (node.comments.modified && !pairs_placed) {
            if (boundary) return false;
            // Entries removed: written afresh where it stands (remember_extent).
            if (!(node.comments.has_texts() && node.comments.texts_view().replaced) && pos != Position::Flow &&
                node.is_collection() && node.style == CollectionStyle::Block && !node.children.empty() &&
                (node.end_offset > 0 || node.span.offset > 0) && node.span.file_id == file_.file_id)
                return rewrite(node);
            return replace(node, pos);
        }
        // A directive's content is another file's.
        if (node.source && !boundary) return true;
        if (!node.is_collection() || node.children.empty()) return true;
        if (!boundary && node.span.file_id != file_.file_id) return false;
        const bool flow = pos == Position::Flow || node.style == CollectionStyle::Flow;
        const std::size_t mark = pieces_.size();
        const bool placed = with_stack_at(depth, [&] {
            if (node.kind == NodeKind::Sequence) {
                for (const YamlNode& item : node.children) {
                    if (!visit(item, flow ? Position::Flow : Position::SeqItem, false, depth + 1)) return false;
                }
                return true;
            }
            for (std::size_t i = 0; i < node.size(); ++i) {
                if (pairs_placed && !read_from_file(node.key(i))) continue;  // written whole by place_pairs
                if (!visit(node.key(i), flow ? Position::Flow : Position::Key, false, depth + 1)) return false;
                const std::size_t before_value = pieces_.size();
                if (visit(node.value(i), flow ? Position::Flow : Position::MapValue, false, depth + 1)) continue;
                pieces_.erase(pieces_.begin() + static_cast<std::ptrdiff_t>(before_value), pieces_.end());
                if (flow || boundary || !rewrite_value(node, i)) return false;
            }
            return true;
        });
        if (placed) return true;
        pieces_.erase(pieces_.begin() + static_cast<std::ptrdiff_t>(mark), pieces_.end());
        return !boundary && !flow && rewrite(node);
    }

    // A mapping value holding an edit that could not be placed, written by
    // the tree writer from its key's `:` to the end of its last line, with
    // its properties and comments; its key's line up to the `:` and every
    // line after it stay as read.
    bool rewrite_value(const YamlNode& map, std::size_t pair) {
        const YamlNode& key = map.key(pair);
        const YamlNode& value = map.value(pair);
        const std::string_view text = file_.text;
        if (key.comments.modified || key.kind != NodeKind::Scalar || key.end_offset == 0 || key.source) return false;
        const std::uint64_t colon = key.end_offset + key.comments.colon_pad;
        if (colon >= text.size() || text[colon] != ':') return false;  // an explicit key's `:` stands elsewhere
        std::uint64_t end = value.end_offset;
        if (value.comments.has_texts() && value.comments.texts_view().replaced) {
            const ReplacedExtent& was = *value.comments.texts_view().replaced;
            if (was.file_id != file_.file_id) return false;
            end = was.to;
        } else if (value.end_offset == 0 && value.span.offset == 0) {
            return false;  // new, with no place of its own
        }
        if (end > text.size()) return false;
        const std::size_t last_break = text.find('\n', std::max(end, colon + 1) - 1);
        const std::uint64_t to = last_break == std::string_view::npos ? text.size() : last_break + 1;
        scratch_.truncate(0);
        detail::Writer writer(scratch_, null_style_, prefer_double_, file_.sources, true);
        writer.mapping_value_here(value, map.span.column);
        pieces_.push_back(Piece{colon + 1, to, in_text_style(last_break == std::string_view::npos)});
        return true;
    }

    // What the scratch buffer holds, in the line ends of the text, without
    // its final line break where the stretch it replaces ended the text without one.
    std::string in_text_style(bool at_unbroken_end) const {
        std::string out(scratch_.data(), scratch_.size());
        if (at_unbroken_end && !out.empty() && out.back() == '\n') out.pop_back();
        return uses_crlf(file_.text) ? with_crlf(std::move(out)) : out;
    }

    // A block collection holding an edit that could not be placed, written
    // by the tree writer from its first entry to the end of its last line.
    // Its own comments and properties and its first entry's stand outside
    // that stretch: when they were edited, the collection around it is
    // written instead.
    bool rewrite(const YamlNode& node) {
        const YamlNode& first = node.children.front();
        if ((node.comments.has_texts() && node.comments.texts_view().replaced) || first.comments.modified) return false;
        const std::string_view text = file_.text;
        std::uint64_t from = node.span.offset;
        if (const std::optional<Span> props = first.comments.properties(); props && props->offset < from)
            from = props->offset;
        if (node.end_offset <= from || node.end_offset > text.size()) return false;
        const std::size_t last_break = text.find('\n', node.end_offset - 1);
        const std::uint64_t to = last_break == std::string_view::npos ? text.size() : last_break + 1;
        scratch_.truncate(0);
        detail::Writer writer(scratch_, null_style_, prefer_double_, file_.sources, true);
        writer.block_collection_here(node);
        pieces_.push_back(Piece{from, to, in_text_style(last_break == std::string_view::npos)});
        return true;
    }

    static bool read_from_file(const YamlNode& n) noexcept { return n.end_offset > 0 || n.span.offset > 0; }

    static bool pairs_edited(const YamlNode& node) noexcept {
        return node.comments.has_texts() && node.comments.texts_view().pair_edits && !node.comments.texts_view().replaced;
    }

    // A block mapping that lost pairs or gained some at its end (pair_edits.hpp).
    bool place_pairs(const YamlNode& map) {
        if (map.span.file_id != file_.file_id || map.comments.texts_view().pair_edits->file_id != file_.file_id)
            return false;
        std::optional<std::vector<Splice>> splices = pair_splices(file_.text, map, writer_, scratch_);
        if (!splices) return false;
        for (Splice& s : *splices) pieces_.push_back(Piece{s.from, s.to, std::move(s.text)});
        return true;
    }

    // An edited node whose new content takes the place its old content had.
    bool replace(const YamlNode& node, Position pos) {
        if (!node.comments.has_texts() || !node.comments.texts_view().replaced) return false;
        const ReplacedExtent& was = *node.comments.texts_view().replaced;
        const std::string_view text = file_.text;
        if (was.file_id != file_.file_id || was.to > text.size() || was.from > was.content || was.content > was.to)
            return false;
        if (was.block || !same_comments(node, was)) return false;
        const bool block_scalar = node.kind == NodeKind::Scalar && (node.scalar_style == ScalarStyle::Literal ||
                                                                     node.scalar_style == ScalarStyle::Folded);
        if (block_scalar) return was.block_scalar && replace_block_scalar(node, was);
        std::uint64_t to = was.to;
        std::optional<Piece> old_lines;
        if (was.block_scalar) {
            // A block scalar given a one-line value: the value takes the
            // place of its indicators, its comment stays after them, and its
            // content lines go.
            const std::optional<std::uint64_t> end = last_line_end(was);
            if (!end) return false;
            const std::string_view raw = text.substr(was.content, *end - was.content);
            const std::size_t header_end = raw.find('\n');
            std::size_t indicators = 1;
            while (indicators < header_end && !blank(raw[indicators]) && raw[indicators] != '#' &&
                   raw[indicators] != '\r')
                ++indicators;
            to = was.content + indicators;
            if (header_end + 1 < raw.size()) old_lines = Piece{was.content + header_end + 1, *end, std::string()};
        }
        const bool inline_content =
            node.kind == NodeKind::Alias || node.kind == NodeKind::Null ||
            (node.kind == NodeKind::Scalar && node.scalar_style != ScalarStyle::Literal &&
             node.scalar_style != ScalarStyle::Folded) ||
            (node.is_collection() && (node.style == CollectionStyle::Flow || node.children.empty()));
        if (!inline_content || node.source) return false;

        const bool keep_properties = same_properties(text.substr(was.from, was.content - was.from), node);
        // Properties that changed on lines above the content: the comment
        // lines between them stay only when the tree writer writes the node.
        if (!keep_properties && text.substr(was.from, was.content - was.from).find('\n') != std::string_view::npos)
            return false;
        scratch_.truncate(0);
        writer_.inline_node(node, pos, !keep_properties);
        const std::string_view fresh(scratch_.data(), scratch_.size());
        if (fresh.find_first_of("\r\n") != std::string_view::npos) return false;
        if (pos == Position::Key && fresh.size() > kMaxImplicitKey) return false;

        Piece piece{keep_properties ? was.content : was.from, to, std::string(fresh)};
        if (piece.from == piece.to) {
            // An empty node stands right after its indicator (`key:`, `-`).
            if (fresh.empty()) return true;
            if (piece.from > 0 && !blank(text[piece.from - 1])) piece.text.insert(0, 1, ' ');
        } else if (fresh.empty() && (pos == Position::MapValue || pos == Position::SeqItem)) {
            // Nothing left after the indicator: no blanks after it either.
            while (piece.from > 0 && blank(text[piece.from - 1])) --piece.from;
        }
        pieces_.push_back(std::move(piece));
        if (old_lines) pieces_.push_back(std::move(*old_lines));
        return true;
    }

    // Just past the last content line of a block scalar as read, its line
    // break included: the blank lines after it are kept where they are.
    // Nothing when a line of blanks after it is deeper than its content
    // (such blanks are content, and stay with it); without content lines,
    // lines of blanks are all empty lines.
    std::optional<std::uint64_t> last_line_end(const ReplacedExtent& was) const {
        const std::string_view raw = file_.text.substr(was.content, was.to - was.content);
        std::size_t pos = raw.find('\n');
        if (pos == std::string_view::npos) return std::nullopt;
        std::size_t end = pos + 1;
        bool deep_blanks = false;
        for (pos = pos + 1; pos < raw.size();) {
            std::size_t eol = raw.find('\n', pos);
            const std::size_t next = eol == std::string_view::npos ? raw.size() : eol + 1;
            if (eol == std::string_view::npos) eol = raw.size();
            std::size_t i = pos;
            while (i < eol && raw[i] == ' ') ++i;
            if (i < eol && raw[i] != '\r') {
                end = next;
                deep_blanks = false;
            } else if (was.block_column >= 0 && i - pos > static_cast<std::size_t>(was.block_column)) {
                deep_blanks = true;
            }
            pos = next;
        }
        if (deep_blanks) return std::nullopt;
        return was.content + end;
    }

    // A block scalar edited to another multi-line text: its header as read
    // (the chomping indicator brought up to date) and its new lines at the
    // column the old ones had, so unchanged lines stay as they were.
    bool replace_block_scalar(const YamlNode& node, const ReplacedExtent& was) {
        const std::string_view text = file_.text;
        // Without content lines it showed no column to write new ones at.
        if (was.block_column < 0 || !same_properties(text.substr(was.from, was.content - was.from), node)) return false;
        const std::optional<std::uint64_t> end = last_line_end(was);
        if (!end) return false;
        const std::string_view raw = text.substr(was.content, *end - was.content);
        const std::size_t header_end = raw.find('\n');
        std::string_view header = raw.substr(0, header_end);
        const bool crlf = header.ends_with('\r');
        if (crlf) header.remove_suffix(1);
        const bool folded = node.scalar_style == ScalarStyle::Folded;
        if (header.empty() || header[0] != (folded ? '>' : '|')) return false;
        std::size_t indicators = 1;
        bool digit = false;
        char old_chomp = '\0';
        for (; indicators < header.size() && !blank(header[indicators]) && header[indicators] != '#'; ++indicators) {
            const char c = header[indicators];
            if (c >= '1' && c <= '9') {
                digit = true;
            } else if (c == '+' || c == '-') {
                old_chomp = c;
            } else {
                return false;
            }
        }
        const std::string_view value = node.text.str();
        std::size_t trailing = 0;
        while (trailing < value.size() && value[value.size() - 1 - trailing] == '\n') ++trailing;
        const std::string_view body = value.substr(0, value.size() - trailing);
        std::size_t first = 0;
        while (first < body.size() && body[first] == '\n') ++first;
        // No content line, or one that needs an indentation indicator the header lacks.
        if (first == body.size() || (body[first] == ' ' && !digit)) return false;
        const char chomp = trailing == 0 ? '-' : trailing == 1 ? '\0' : '+';
        // Kept line breaks are the blank lines after the content: left to the tree writer.
        if (chomp == '+' || old_chomp == '+') return false;

        std::string out;
        out.reserve(raw.size() + value.size() + 16);
        for (char c : header.substr(0, indicators)) {
            if (c != '+' && c != '-') out.push_back(c);
        }
        if (chomp) out.push_back(chomp);
        out.append(header.substr(indicators));
        out.push_back('\n');
        scratch_.truncate(0);
        writer_.block_lines(body, folded, static_cast<std::size_t>(was.block_column));
        out.append(scratch_.data(), scratch_.size());
        // The old content ended the file without a line break: so does the new.
        if (raw.back() != '\n') out.pop_back();
        pieces_.push_back(Piece{was.content, *end, crlf ? with_crlf(std::move(out)) : std::move(out)});
        return true;
    }

    const FileInPlace& file_;
    NullStyle null_style_;
    bool prefer_double_;
    OutBuffer scratch_;
    detail::Writer writer_;
    std::vector<Piece> pieces_;
};

}  // namespace

std::optional<std::string> write_in_place(const FileInPlace& file, NullStyle null_style, bool prefer_double) {
    Placer placer(file, null_style, prefer_double);
    if (!placer.place_all()) return std::nullopt;
    return placer.assemble();
}

}  // namespace torvex::rt
