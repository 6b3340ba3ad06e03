#include "roundtrip/new_content.hpp"

#include <algorithm>
#include <optional>

#include "core/stack_guard.hpp"
#include "encode/yaml_quoting.hpp"
#include "roundtrip/value.hpp"

namespace torvex::rt {

namespace {

// Enough siblings to see a habit; bounded, so that a loop assigning every
// leaf of a large mapping stays linear.
constexpr std::size_t kSiblingsLooked = 64;
// Nodes of the document searched for an indentation habit when no sibling shows one.
constexpr std::size_t kDocumentNodesLooked = 4096;

bool placed(const YamlNode& n) noexcept { return n.end_offset > 0 || n.span.offset > 0; }

bool block_collection(const YamlNode& n) noexcept {
    return n.is_collection() && n.style == CollectionStyle::Block && !n.children.empty() && !n.source;
}

// A scalar that reads as a string: quoted, or plain text that the core rules read as one.
bool string_scalar(const YamlNode& n) noexcept {
    if (n.kind != NodeKind::Scalar || !n.tag.empty() || n.source) return false;
    if (n.scalar_style == ScalarStyle::SingleQuoted || n.scalar_style == ScalarStyle::DoubleQuoted) return true;
    return n.scalar_style == ScalarStyle::Plain && resolve_scalar(n).kind == ResolvedKind::Str;
}

// The siblings a new item or value stands among: a mapping's values (or its
// keys), a sequence's items; at most kSiblingsLooked of them, `skip` left out.
template <class F>
void each_sibling(const YamlNode& container, bool keys, const YamlNode* skip, F&& f) {
    const bool mapping = container.kind == NodeKind::Mapping;
    const std::size_t count = std::min(container.size(), kSiblingsLooked);
    for (std::size_t i = 0; i < count; ++i) {
        const YamlNode& n = mapping ? (keys ? container.key(i) : container.value(i)) : container.children[i];
        if (&n != skip && placed(n)) f(n);
    }
}

struct QuoteHabit {
    std::size_t plain = 0, single = 0, dbl = 0;
    std::size_t quoted() const noexcept { return single + dbl; }
};

QuoteHabit quote_habit(const YamlNode& container, bool keys, const YamlNode* skip) {
    QuoteHabit habit;
    each_sibling(container, keys, skip, [&](const YamlNode& n) {
        if (!string_scalar(n)) return;
        if (n.scalar_style == ScalarStyle::SingleQuoted) {
            ++habit.single;
        } else if (n.scalar_style == ScalarStyle::DoubleQuoted) {
            ++habit.dbl;
        } else {
            ++habit.plain;
        }
    });
    return habit;
}

// Single quotes hold a one-line text without an apostrophe as it reads
// (doubled apostrophes are legal, but not what a person writes).
bool single_quotes_fit(std::string_view text) noexcept {
    return text.find('\'') == std::string_view::npos && yaml::plain_fit(text).single_ok;
}

// The quotes for a one-line text: single where the habit (or the document's
// choice, when no habit shows) says so and the text allows them.
ScalarStyle quotes_for(std::string_view text, const QuoteHabit& habit, bool prefer_double) {
    const bool single = habit.single != habit.dbl ? habit.single > habit.dbl : !prefer_double;
    return single && single_quotes_fit(text) ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
}

void fit_string(YamlNode& content, const YamlNode* replaced, const QuoteHabit& habit, bool prefer_double) {
    if (!string_scalar(content)) return;  // numbers, booleans, nulls and tagged texts keep their form
    const std::string_view text = content.text.str();
    if (text.find_first_of("\r\n") != std::string_view::npos) return;  // multi-line texts keep theirs
    const bool needs_quotes = content.scalar_style != ScalarStyle::Plain;
    if (replaced && string_scalar(*replaced) && replaced->scalar_style != ScalarStyle::Plain) {
        // The quotes of the text it replaces, where they can hold it.
        const bool single = replaced->scalar_style == ScalarStyle::SingleQuoted && single_quotes_fit(text);
        content.scalar_style = single ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
        return;
    }
    // Texts that could stand plain are quoted where most siblings are (two at least).
    const bool quote_anyway = !replaced && habit.quoted() >= 2 && habit.quoted() > habit.plain;
    if (needs_quotes || quote_anyway) content.scalar_style = quotes_for(text, habit, prefer_double);
}

// Strings inside new content take the habit of the place it goes to.
void fit_strings_within(YamlNode& content, const QuoteHabit& habit, bool prefer_double, std::size_t depth) {
    with_stack_at(depth, [&] {
        const bool mapping = content.kind == NodeKind::Mapping;
        for (std::size_t i = 0; i < content.children.size(); ++i) {
            YamlNode& child = content.children[i];
            if (child.is_collection()) {
                fit_strings_within(child, habit, prefer_double, depth + 1);
            } else if (!mapping || i % 2 == 1) {
                fit_string(child, nullptr, habit, prefer_double);
            }
        }
    });
}

// Whether the collections among a container's children are flow ones: those
// of the same kind as `content` decide; without any, all collections do.
bool siblings_flow(const YamlNode& container, const YamlNode& content) {
    std::size_t same_flow = 0, same_block = 0, flow = 0, block = 0;
    each_sibling(container, false, nullptr, [&](const YamlNode& n) {
        if (!n.is_collection() || n.children.empty() || n.source) return;
        const bool is_flow = n.style == CollectionStyle::Flow;
        (is_flow ? flow : block) += 1;
        if (n.kind == content.kind) (is_flow ? same_flow : same_block) += 1;
    });
    return same_flow + same_block > 0 ? same_flow > same_block : flow > block;
}

// Columns a block collection under a key stands past the key: a mapping's
// first key, a sequence's `-` (0: an indentless sequence).
struct IndentHabit {
    std::optional<std::size_t> mapping;
    std::optional<std::size_t> sequence;
    bool complete() const noexcept { return mapping && sequence; }
};

void learn_indent(const YamlNode& map, IndentHabit& habit) {
    if (map.kind != NodeKind::Mapping || map.style != CollectionStyle::Block || !placed(map)) return;
    const std::size_t count = std::min(map.size(), kSiblingsLooked);
    for (std::size_t i = 0; i < count && !habit.complete(); ++i) {
        const YamlNode& v = map.value(i);
        if (!block_collection(v) || !placed(v) || v.comments.properties()) continue;
        const std::size_t column = v.span.column;
        const std::size_t base = map.span.column;
        if (v.kind == NodeKind::Mapping && !habit.mapping && column > base) habit.mapping = column - base;
        if (v.kind == NodeKind::Sequence && !habit.sequence && column >= base) habit.sequence = column - base;
    }
}

// The document's habit, from the first examples in document order.
void learn_indent_from(const YamlNode& root, IndentHabit& habit) {
    std::vector<const YamlNode*> work{&root};
    for (std::size_t seen = 0; !work.empty() && seen < kDocumentNodesLooked && !habit.complete(); ++seen) {
        const YamlNode* n = work.back();
        work.pop_back();
        learn_indent(*n, habit);
        for (std::size_t i = n->children.size(); i-- > 0;) {
            if (n->children[i].is_collection()) work.push_back(&n->children[i]);
        }
    }
}

void hint(YamlNode& n, std::size_t step) {
    n.comments.indent_hinted = true;
    n.comments.indent_step = static_cast<std::uint8_t>(std::min<std::size_t>(step, 64));
}

// Marks every block collection under a key in new content with the habit's step.
void hint_indents(YamlNode& content, const IndentHabit& habit, std::size_t depth) {
    if (!content.is_collection() || content.style != CollectionStyle::Block) return;
    with_stack_at(depth, [&] {
        const bool mapping = content.kind == NodeKind::Mapping;
        for (std::size_t i = 0; i < content.children.size(); ++i) {
            YamlNode& child = content.children[i];
            if (mapping && i % 2 == 1 && block_collection(child)) {
                hint(child, child.kind == NodeKind::Mapping ? habit.mapping.value_or(2) : habit.sequence.value_or(0));
            }
            hint_indents(child, habit, depth + 1);
        }
    });
}

}  // namespace

void fit_new_content(const YamlNode& root, const YamlNode& container, const YamlNode* replaced, YamlNode& content,
                     YamlNode* new_key, bool prefer_double_quotes) {
    if (content.kind == NodeKind::Scalar) {
        fit_string(content, replaced, quote_habit(container, false, replaced), prefer_double_quotes);
    }
    if (new_key) fit_string(*new_key, nullptr, quote_habit(container, true, nullptr), prefer_double_quotes);
    if (!content.is_collection() || content.children.empty()) return;
    // The texts a replaced collection held show its habit best; else its siblings'.
    const bool by_replaced = replaced && replaced->is_collection() && !replaced->children.empty();
    QuoteHabit habit = quote_habit(by_replaced ? *replaced : container, false, by_replaced ? nullptr : replaced);
    fit_strings_within(content, habit, prefer_double_quotes, 0);
    if (container.style == CollectionStyle::Flow) return;

    if (replaced && replaced->is_collection() && !replaced->children.empty()) {
        content.style = replaced->style;
    } else if (siblings_flow(container, content)) {
        content.style = CollectionStyle::Flow;
    }
    if (content.style == CollectionStyle::Flow) return;

    IndentHabit indents;
    // The node it replaces knows best where its entries stood.
    if (replaced && block_collection(*replaced) && placed(*replaced) && placed(container) &&
        container.kind == NodeKind::Mapping && replaced->kind == content.kind &&
        replaced->span.column >= container.span.column && !replaced->comments.properties()) {
        const std::size_t step = replaced->span.column - container.span.column;
        if (content.kind == NodeKind::Sequence || step > 0) {
            (content.kind == NodeKind::Mapping ? indents.mapping : indents.sequence) = step;
        }
    }
    learn_indent(container, indents);
    if (!indents.complete()) learn_indent_from(root, indents);
    if (container.kind == NodeKind::Mapping) {
        hint(content, content.kind == NodeKind::Mapping ? indents.mapping.value_or(2) : indents.sequence.value_or(0));
    }
    hint_indents(content, indents, 0);
}

}  // namespace torvex::rt
