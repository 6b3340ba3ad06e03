#include "roundtrip/pair_edits.hpp"

#include <algorithm>

#include "roundtrip/emitter_writer.hpp"
#include "roundtrip/line_breaks.hpp"

namespace torvex::rt {

namespace {

bool placed(const YamlNode& n) noexcept { return n.end_offset > 0 || n.span.offset > 0; }

bool block_mapping_as_read(const YamlNode& map) noexcept {
    return map.kind == NodeKind::Mapping && map.style == CollectionStyle::Block && placed(map) && !map.source;
}

const char* text_at(const Text& t) noexcept { return t.empty() ? nullptr : t.str().data(); }

PairEdits& edits_of(YamlNode& map) {
    CommentTexts& texts = map.comments.texts();
    if (!texts.pair_edits) {
        PairEdits edits;
        edits.file_id = map.span.file_id;
        if (texts.inline_comment) edits.inline_at = texts.inline_comment->str().data();
        edits.head_count = texts.head.size();
        if (!texts.head.empty()) edits.head_at = texts.head.front().str().data();
        edits.anchor_at = text_at(map.anchor);
        edits.tag_at = text_at(map.tag);
        texts.pair_edits = std::move(edits);
    }
    return *texts.pair_edits;
}

bool blanks(std::string_view s) noexcept { return s.find_first_not_of(" \t") == std::string_view::npos; }

std::uint64_t line_start(std::string_view text, std::uint64_t at) noexcept {
    const std::size_t lf = text.rfind('\n', at == 0 ? 0 : at - 1);
    return at == 0 || lf == std::string_view::npos ? 0 : lf + 1;
}

// Just past the line break ending the line that holds `at` (the text's end when none).
std::uint64_t line_end(std::string_view text, std::uint64_t at) noexcept {
    const std::size_t lf = text.find('\n', at);
    return lf == std::string_view::npos ? text.size() : lf + 1;
}

bool blank_line(std::string_view text, std::uint64_t start) noexcept {
    const std::uint64_t end = line_end(text, start);
    return start < text.size() && text.substr(start, end - start).find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// Just past the line a pair's value ends on (a value ending with its line
// break, as a block scalar does, ends on the line before).
std::uint64_t pair_end(std::string_view text, std::uint64_t key, std::uint64_t end) noexcept {
    const std::uint64_t last = std::max(end, key + 1) - 1;
    return text[last] == '\n' ? last + 1 : line_end(text, last);
}

std::optional<Splice> removal(std::string_view text, const RemovedPair& r) {
    if (r.key >= text.size() || r.end > text.size()) return std::nullopt;
    const std::uint64_t start = line_start(text, r.key);
    const std::uint64_t end = pair_end(text, r.key, r.end);
    const std::string_view before = text.substr(start, r.key - start);
    const std::string_view lead = before.substr(0, before.find_last_not_of(" \t") + 1);
    // An explicit key (`? key` / `: value`) takes its lines as any other.
    const bool explicit_key = lead.ends_with('?') && blanks(lead.substr(0, lead.size() - 1));
    if (!blanks(before) && !explicit_key) {
        // The first key of an entry (`- key: v`): the next key takes its place on the `-` line.
        if (!lead.ends_with('-') || r.next_key < end || r.next_key > text.size()) return std::nullopt;
        if (!blanks(text.substr(end, r.next_key - end))) return std::nullopt;  // comment lines above the next key
        return Splice{r.key, r.next_key, {}};
    }
    std::uint64_t from = start;
    if (r.head_at != nullptr) {
        if (r.head_at < text.data() || r.head_at >= text.data() + text.size()) return std::nullopt;
        from = line_start(text, static_cast<std::uint64_t>(r.head_at - text.data()));
        if (from > start) return std::nullopt;
    }
    // Blank lines above it go too when blank lines follow it, so one separator stays.
    if (blank_line(text, end)) {
        while (from > 0 && blank_line(text, line_start(text, from - 1))) from = line_start(text, from - 1);
    }
    return Splice{from, end, {}};
}

}  // namespace

void note_removed_pair(YamlNode& map, std::size_t pair) {
    if (!block_mapping_as_read(map)) return;
    const YamlNode& key = map.key(pair);
    const YamlNode& value = map.value(pair);
    PairEdits& edits = edits_of(map);
    if (!placed(key) || key.span.file_id != edits.file_id) {
        edits.removed.push_back(RemovedPair{});  // not placeable: the tree writer writes the mapping
        return;
    }
    RemovedPair r;
    r.key = key.span.offset;
    if (const std::optional<Span> props = key.comments.properties(); props && props->offset < r.key)
        r.key = props->offset;
    r.end = std::max({value.end_offset, value.span.offset, key.end_offset});
    if (pair + 1 < map.size() && placed(map.key(pair + 1))) r.next_key = map.key(pair + 1).span.offset;
    if (!key.comments.head().empty()) r.head_at = key.comments.head().front().str().data();
    edits.removed.push_back(r);
}

void note_new_pair(YamlNode& map) {
    if (block_mapping_as_read(map)) edits_of(map);
}

std::optional<std::vector<Splice>> pair_splices(std::string_view text, const YamlNode& map, detail::Writer& writer,
                                                OutBuffer& scratch) {
    if (!map.comments.has_texts() || !map.comments.texts_view().pair_edits || map.children.empty()) return std::nullopt;
    const PairEdits& edits = *map.comments.texts_view().pair_edits;
    const CommentTexts& texts = map.comments.texts_view();
    // The mapping's own comments and properties are those it was read with.
    const char* inline_at = texts.inline_comment ? texts.inline_comment->str().data() : nullptr;
    const char* head_at = texts.head.empty() ? nullptr : texts.head.front().str().data();
    if (inline_at != edits.inline_at || head_at != edits.head_at || texts.head.size() != edits.head_count ||
        text_at(map.anchor) != edits.anchor_at || text_at(map.tag) != edits.tag_at || texts.replaced)
        return std::nullopt;

    std::vector<Splice> out;
    for (const RemovedPair& r : edits.removed) {
        std::optional<Splice> s = r.key == 0 && r.end == 0 ? std::nullopt : removal(text, r);
        if (!s) return std::nullopt;
        out.push_back(std::move(*s));
    }

    // New pairs follow every pair read from the file.
    std::size_t first_new = map.size();
    while (first_new > 0 && !placed(map.key(first_new - 1))) --first_new;
    for (std::size_t i = 0; i < first_new; ++i) {
        if (!placed(map.key(i))) return std::nullopt;
    }
    if (first_new == map.size()) return out;
    if (first_new == 0) return std::nullopt;
    const YamlNode& last_key = map.key(first_new - 1);
    const YamlNode& last_value = map.value(first_new - 1);
    const std::uint64_t at = pair_end(text, last_key.span.offset,
                                      std::max({last_value.end_offset, last_value.span.offset, last_key.end_offset}));
    if (at > text.size()) return std::nullopt;

    YamlNode added;
    added.kind = NodeKind::Mapping;
    for (std::size_t i = first_new; i < map.size(); ++i) {
        added.children.push_back(map.key(i).clone());
        added.children.push_back(map.value(i).clone());
    }
    scratch.truncate(0);
    writer.mapping_lines(added, map.span.column);
    std::string lines(scratch.data(), scratch.size());
    if (at == 0 || text[at - 1] != '\n') {
        // The file ends on the last pair's line: the new lines follow a line break of their own.
        if (!lines.empty() && lines.back() == '\n') lines.pop_back();
        lines.insert(0, 1, '\n');
    }
    if (uses_crlf(text)) lines = with_crlf(std::move(lines));
    out.push_back(Splice{at, at, std::move(lines)});
    return out;
}

}  // namespace torvex::rt
