#include "roundtrip/ast.hpp"

#include <algorithm>
#include <utility>

#include "core/stack_guard.hpp"

namespace torvex::rt {

// Big documents hold millions of nodes: layout data that most lack goes into CommentTexts.
static_assert(sizeof(YamlNode) <= 152, "round-trip nodes are kept small");

namespace {

const std::vector<Text> kNoTexts;
const std::optional<Text> kNoText;

}  // namespace

// Frees a subtree without recursing once per level: each collection's
// children are moved onto a work list before the collection is destroyed,
// so every node dies with an empty child vector.
void release_iteratively(NodeList&& children) noexcept {
    std::vector<NodeList> pending;
    try {
        pending.push_back(std::move(children));
    } catch (...) {
        return;  // out of memory: let the vector go recursively
    }
    while (!pending.empty()) {
        NodeList batch = std::move(pending.back());
        pending.pop_back();
        for (YamlNode& node : batch) {
            if (node.children.empty()) continue;
            try {
                pending.push_back(std::move(node.children));
            } catch (...) {
                // out of memory: this subtree is freed recursively
            }
        }
    }
}

namespace {

YamlNode clone_at(const YamlNode& node, std::size_t depth) {
    return with_stack_at(depth, [&] {
        YamlNode copy = node.clone_without_children();
        copy.children.reserve(node.children.size());
        for (const YamlNode& child : node.children) copy.children.push_back(clone_at(child, depth + 1));
        return copy;
    });
}

bool modified_at(const YamlNode& node, std::size_t depth) {
    if (node.comments.modified) return true;
    if (node.children.empty()) return false;
    return with_stack_at(depth, [&] {
        for (const YamlNode& child : node.children) {
            if (modified_at(child, depth + 1)) return true;
        }
        return false;
    });
}

// The indentation of a block scalar's first content line (`raw` from its
// header on); -1 when it has none.
std::int32_t first_content_column(std::string_view raw) noexcept {
    std::size_t pos = raw.find('\n');
    while (pos != std::string_view::npos && pos < raw.size()) {
        ++pos;
        std::size_t i = pos;
        while (i < raw.size() && raw[i] == ' ') ++i;
        if (i < raw.size() && raw[i] != '\n' && raw[i] != '\r') return static_cast<std::int32_t>(i - pos);
        pos = raw.find('\n', pos);
    }
    return -1;
}

}  // namespace

Comments::Comments(const Comments& other)
    : blank_before(other.blank_before), inline_spaces(other.inline_spaces), value_pad(other.value_pad),
      compact(other.compact), modified(other.modified), own_line(other.own_line),
      key_line_comment(other.key_line_comment), indent_hinted(other.indent_hinted), colon_pad(other.colon_pad),
      indent_step(other.indent_step),
      texts_(other.texts_ ? std::make_unique<CommentTexts>(*other.texts_) : nullptr) {}

Comments& Comments::operator=(const Comments& other) {
    if (this != &other) *this = Comments(other);
    return *this;
}

const std::vector<Text>& Comments::head() const noexcept { return texts_ ? texts_->head : kNoTexts; }
const std::optional<Text>& Comments::inline_comment() const noexcept {
    return texts_ ? texts_->inline_comment : kNoText;
}
const std::vector<Text>& Comments::foot() const noexcept { return texts_ ? texts_->foot : kNoTexts; }
const std::optional<Text>& Comments::raw() const noexcept { return texts_ ? texts_->raw : kNoText; }
const std::vector<Text>& Comments::directives() const noexcept { return texts_ ? texts_->directives : kNoTexts; }

std::optional<Span> Comments::properties() const noexcept {
    if (!texts_) return std::nullopt;
    return texts_->properties;
}

CommentTexts& Comments::texts() {
    if (!texts_) texts_ = std::make_unique<CommentTexts>();
    return *texts_;
}

YamlNode& YamlNode::operator=(YamlNode&& other) noexcept {
    if (this == &other) return *this;
    if (!children.empty()) release_iteratively(std::move(children));
    comments = std::move(other.comments);
    anchor = std::move(other.anchor);
    tag = std::move(other.tag);
    source = std::move(other.source);
    kind = other.kind;
    scalar_style = other.scalar_style;
    style = other.style;
    explicit_start = other.explicit_start;
    leading_bom = other.leading_bom;
    synthetic = other.synthetic;
    text = std::move(other.text);
    children = std::move(other.children);
    span = other.span;
    end_offset = other.end_offset;
    end_line = other.end_line;
    end_column = other.end_column;
    return *this;
}

YamlNode YamlNode::clone() const { return clone_at(*this, 0); }

YamlNode YamlNode::clone_without_children() const {
    YamlNode copy;
    copy.comments = comments;
    copy.anchor = anchor;
    copy.tag = tag;
    if (source) copy.source = std::make_unique<IncludeSource>(*source);
    copy.kind = kind;
    copy.scalar_style = scalar_style;
    copy.style = style;
    copy.explicit_start = explicit_start;
    copy.leading_bom = leading_bom;
    copy.synthetic = synthetic;
    copy.text = text;
    copy.span = span;
    copy.end_offset = end_offset;
    copy.end_line = end_line;
    copy.end_column = end_column;
    return copy;
}

std::ptrdiff_t YamlNode::find_pair(std::string_view key_text) const noexcept {
    if (kind != NodeKind::Mapping) return -1;
    for (std::size_t i = size(); i-- > 0;) {
        const YamlNode& k = key(i);
        if (k.kind == NodeKind::Scalar && k.text.str() == key_text) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

YamlNode YamlNode::scalar(Text text, ScalarStyle style) {
    YamlNode node;
    node.kind = NodeKind::Scalar;
    node.scalar_style = style;
    node.text = std::move(text);
    return node;
}

YamlNode YamlNode::null_node() { return YamlNode(); }

bool is_modified(const YamlNode& node) { return modified_at(node, 0); }

void remember_extent(YamlNode& node) {
    if (node.comments.has_texts() && node.comments.texts_view().replaced) return;
    if (node.end_offset == 0 && node.span.offset == 0) return;  // never read from a file
    ReplacedExtent extent;
    extent.file_id = node.span.file_id;
    extent.content = node.span.offset;
    extent.from = node.span.offset;
    if (const std::optional<Span> props = node.comments.properties(); props && props->offset < extent.from)
        extent.from = props->offset;
    extent.to = std::max<std::uint64_t>(node.end_offset, node.span.offset);
    extent.block_scalar = node.comments.raw().has_value();
    if (extent.block_scalar) {
        // The first content line's indentation, less the spaces the text
        // itself begins that line with (`|2` over "  indented").
        const std::int32_t indent = first_content_column(node.comments.raw()->str());
        const std::string_view text = node.text.str();
        std::size_t at = text.find_first_not_of('\n');
        std::size_t own = 0;
        while (at != std::string_view::npos && at + own < text.size() && text[at + own] == ' ') ++own;
        if (indent >= static_cast<std::int32_t>(own)) extent.block_column = indent - static_cast<std::int32_t>(own);
    }
    extent.block = node.is_collection() && node.style == CollectionStyle::Block && !node.children.empty();
    if (const std::optional<Text>& comment = node.comments.inline_comment()) extent.inline_at = comment->str().data();
    const std::vector<Text>& head = node.comments.head();
    extent.head_count = head.size();
    if (!head.empty()) extent.head_at = head.front().str().data();
    node.comments.texts().replaced = extent;
}

const IncludeSource* content_source(const YamlNode& node) noexcept {
    const IncludeSource* record = node.source.get();
    while (record && record->forwarded) record = record->forwarded.get();
    return record;
}

}  // namespace torvex::rt
