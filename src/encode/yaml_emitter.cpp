#include "encode/yaml_emitter.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/ordering.hpp"
#include "core/stack_guard.hpp"
#include "encode/float_text.hpp"
#include "encode/number_text.hpp"
#include "encode/yaml_quoting.hpp"

namespace torvex {

namespace {

using Kind = TapeNode::Kind;

// Longest implicit key (in bytes; YAML counts characters, so this is safe).
constexpr std::size_t kMaxImplicitKey = 1024;

// A mapping entry: the tape indices of its key and its value.
struct Entry {
    std::size_t key;
    std::size_t value;
};

// Writes from a tape: each node is its index there. A collection's items
// follow it (a mapping's as key, value, ...); a tagged node's inner node
// follows it.
class YamlEmitter {
public:
    YamlEmitter(OutBuffer& out, const Tape& tape, const DumpOptions& options)
        : out_(out), nodes_(tape.nodes.data()), tape_(tape), o_(options),
          indent_(options.indent >= 1 ? options.indent : 2) {}

    void document(std::size_t root) {
        if (o_.explicit_start) out_.append("---\n");
        const TapeNode& node = nodes_[root];
        switch (node.kind()) {
            case Kind::String:
                if (literal_ok(node.text_view())) {
                    literal(node.text_view(), indent_);
                    break;
                }
                flow_line(root);
                break;
            case Kind::Sequence:
                if (block(node)) {
                    block_sequence(root, 0);
                    break;
                }
                flow_line(root);
                break;
            case Kind::Mapping:
                if (block(node)) {
                    block_mapping(root, 0, false);
                    break;
                }
                flow_line(root);
                break;
            case Kind::Tagged:
                tag(node.text_view());
                after_indicator(root + 1, 0, true);
                break;
            default:
                flow_line(root);
                break;
        }
        if (o_.explicit_end) out_.append("...\n");
    }

private:
    // A non-empty collection written in block form.
    bool block(const TapeNode& node) const noexcept {
        return !o_.flow_style && node.is_collection() && node.size() != 0;
    }

    static bool literal_ok(std::string_view s) noexcept {
        return s.find('\n') != std::string_view::npos && yaml::scan_scalar(s).literal_ok;
    }

    std::string_view sort_text(const Entry& e) const noexcept {
        const TapeNode& key = nodes_[e.key];
        return key.kind() == Kind::String ? key.text_view() : std::string_view();
    }

    void flow_line(std::size_t v) {
        flow(v, false);
        out_.put('\n');
    }

    // Calls f(item) for each item of the sequence at `s`.
    template <class F>
    void for_each_item(std::size_t s, F&& f) {
        std::size_t item = s + 1;
        for (std::uint64_t n = nodes_[s].size(); n > 0; --n) {
            f(item);
            item = tape_.end_of(item);
        }
    }

    // Calls f(entry) for each entry of the mapping at `m` in output order.
    template <class F>
    void for_each_entry(std::size_t m, F&& f) {
        const std::uint64_t count = nodes_[m].size();
        std::size_t key = m + 1;
        if (!o_.sort_keys || count < 2) {
            for (std::uint64_t n = count; n > 0; --n) {
                const std::size_t value = tape_.end_of(key);
                f(Entry{key, value});
                key = tape_.end_of(value);
            }
            return;
        }
        const std::size_t base = order_.size();
        for (std::uint64_t n = count; n > 0; --n) {
            const std::size_t value = tape_.end_of(key);
            order_.push_back(Entry{key, value});
            key = tape_.end_of(value);
        }
        auto first = order_.begin() + static_cast<std::ptrdiff_t>(base);
        auto last = order_.end();
        const auto less = [this](const Entry& a, const Entry& b) {
            return bytewise_less(sort_text(a), sort_text(b));
        };
        if (count <= 20) {
            for (auto i = first + 1; i < last; ++i) {
                const Entry e = *i;
                auto j = i;
                while (j > first && less(e, *(j - 1))) {
                    *j = *(j - 1);
                    --j;
                }
                *j = e;
            }
        } else {
            std::stable_sort(first, last, less);
        }
        // Index, not iterator: a nested mapping's entries may grow order_.
        for (std::size_t i = 0; i < count; ++i) f(order_[base + i]);
        order_.resize(base);
    }

    void block_mapping(std::size_t m, std::size_t c, bool first_inline) {
        with_stack([&] {
            bool first = true;
            for_each_entry(m, [&](const Entry e) {
                if (!(first && first_inline)) out_.spaces(c);
                first = false;
                const std::size_t key_start = out_.size();
                const bool saved = in_key_;
                in_key_ = true;
                flow(e.key, false);
                in_key_ = saved;
                if (out_.size() - key_start > kMaxImplicitKey) {
                    // Too long for an implicit key: "? key" and ":" on the next line.
                    out_.insert(key_start, "? ");
                    out_.put('\n');
                    out_.spaces(c);
                    out_.put(':');
                    after_indicator(e.value, c, false);
                } else {
                    out_.put(':');
                    after_indicator(e.value, c, true);
                }
            });
        });
    }

    void block_sequence(std::size_t s, std::size_t c) {
        with_stack([&] {
            for_each_item(s, [&](std::size_t item) {
                out_.spaces(c);
                out_.put('-');
                const TapeNode& node = nodes_[item];
                switch (node.kind()) {
                    case Kind::Null:
                        if (o_.null_style == NullStyle::Empty) {
                            out_.put('\n');
                            return;
                        }
                        break;
                    case Kind::String:
                        if (literal_ok(node.text_view())) {
                            out_.put(' ');
                            literal(node.text_view(), c + 2);
                            return;
                        }
                        break;
                    case Kind::Sequence:
                        if (block(node)) {
                            out_.put('\n');
                            block_sequence(item, c + 2);
                            return;
                        }
                        break;
                    case Kind::Mapping:
                        if (block(node)) {
                            out_.put(' ');
                            block_mapping(item, c + 2, true);
                            return;
                        }
                        break;
                    case Kind::Tagged:
                        // The tag's own sequence is always indented: an indentless
                        // one would read as further items of this sequence.
                        after_indicator(item, c, false);
                        return;
                    default:
                        break;
                }
                out_.put(' ');
                flow_line(item);
            });
        });
    }

    // What follows "key:", "- !tag" or a root tag; c is the column of the key
    // or of the item's dash.
    void after_indicator(std::size_t v, std::size_t c, bool allow_indentless) {
        with_stack([&] {
            const TapeNode& node = nodes_[v];
            switch (node.kind()) {
                case Kind::Null:
                    if (o_.null_style == NullStyle::Empty) {
                        out_.put('\n');
                        return;
                    }
                    break;
                case Kind::String:
                    if (literal_ok(node.text_view())) {
                        out_.put(' ');
                        literal(node.text_view(), c + indent_);
                        return;
                    }
                    break;
                case Kind::Sequence:
                    if (block(node)) {
                        out_.put('\n');
                        const bool indentless = o_.indentless_sequences && allow_indentless;
                        block_sequence(v, indentless ? c : c + indent_);
                        return;
                    }
                    break;
                case Kind::Mapping:
                    if (block(node)) {
                        out_.put('\n');
                        block_mapping(v, c + indent_, false);
                        return;
                    }
                    break;
                case Kind::Tagged: {
                    out_.put(' ');
                    tag(node.text_view());
                    const std::size_t inner = v + 1;
                    if (nodes_[inner].kind() == Kind::Sequence && block(nodes_[inner])) {
                        out_.put('\n');
                        block_sequence(inner, c + indent_);
                    } else {
                        after_indicator(inner, c, allow_indentless);
                    }
                    return;
                }
                default:
                    break;
            }
            out_.put(' ');
            flow_line(v);
        });
    }

    void tag(std::string_view t) {
        // `!x` and `!!x` are written as is; `!e!x` would name a handle no %TAG
        // defines, and a flow indicator would end the shorthand early.
        const std::size_t second = t.size() > 2 ? t.find('!', 2) : std::string_view::npos;
        if (!t.empty() && t[0] == '!' && second == std::string_view::npos &&
            t.find_first_of(",[]{}") == std::string_view::npos) {
            out_.append(t);
            return;
        }
        // A full URI (or a text with a second `!`) needs the verbatim form to be read back unchanged.
        out_.append("!<");
        out_.append(t);
        out_.put('>');
    }

    void flow(std::size_t v, bool in_flow) {
        const TapeNode& node = nodes_[v];
        switch (node.kind()) {
            case Kind::Null:
                out_.append(o_.null_style == NullStyle::Tilde ? std::string_view("~") : std::string_view("null"));
                return;
            case Kind::Bool:
                out_.append(node.integer != 0 ? std::string_view("true") : std::string_view("false"));
                return;
            case Kind::Int:
                append_int(out_, node.integer);
                return;
            case Kind::BigInt:
                append_big_int(out_, node.text_view());
                return;
            case Kind::Float: {
                char* p = out_.reserve(kFloatTextMax);
                out_.advance(yaml_float_text(node.floating, p));
                return;
            }
            case Kind::String:
                string_scalar(node.text_view(), in_flow);
                return;
            case Kind::Sequence:
                with_stack([&] { flow_sequence(v); });
                return;
            case Kind::Mapping:
                with_stack([&] { flow_mapping(v); });
                return;
            case Kind::Tagged:
                tag(node.text_view());
                out_.put(' ');
                with_stack([&] { flow(v + 1, in_flow); });
                return;
        }
    }

    // Leading spaces of the current line plus one step: where items go when
    // a flow collection opened on this line wraps.
    std::size_t wrap_indent() const noexcept {
        if (o_.width == 0 || in_key_) return 0;
        const std::size_t start = out_.line_start();
        const char* p = out_.data();
        std::size_t n = 0;
        while (start + n < out_.size() && p[start + n] == ' ') ++n;
        return n + indent_;
    }

    void separator(std::size_t wrap) {
        out_.put(',');
        if (o_.width > 0 && !in_key_ && out_.column() >= o_.width) {
            out_.put('\n');
            out_.spaces(wrap);
        } else {
            out_.put(' ');
        }
    }

    void flow_sequence(std::size_t s) {
        if (nodes_[s].size() == 0) {
            out_.append("[]");
            return;
        }
        const std::size_t wrap = wrap_indent();
        out_.put('[');
        bool first = true;
        for_each_item(s, [&](std::size_t item) {
            if (!first) separator(wrap);
            first = false;
            flow(item, true);
        });
        out_.put(']');
    }

    void flow_mapping(std::size_t m) {
        if (nodes_[m].size() == 0) {
            out_.append("{}");
            return;
        }
        const std::size_t wrap = wrap_indent();
        out_.put('{');
        bool first = true;
        for_each_entry(m, [&](const Entry e) {
            if (!first) separator(wrap);
            first = false;
            // Keys stay on one line: a reader may not take a key that spans lines.
            const bool saved = in_key_;
            in_key_ = true;
            const std::size_t key_start = out_.size();
            flow(e.key, true);
            in_key_ = saved;
            if (out_.size() - key_start > kMaxImplicitKey) out_.insert(key_start, "? ");
            out_.append(": ");
            flow(e.value, true);
        });
        out_.put('}');
    }

    void string_scalar(std::string_view s, bool in_flow) {
        if (s.empty()) {
            out_.append(o_.double_quotes ? std::string_view("\"\"") : std::string_view("''"));
            return;
        }
        const yaml::ScalarScan scan = yaml::scan_scalar(s);
        bool quote = scan.needs_quotes || (in_flow && scan.flow_unsafe);
        if (!quote && o_.width > 0 && !in_key_ && out_.column() + s.size() > o_.width)
            quote = yaml::has_foldable_space(s);
        if (!quote) {
            out_.append(s);
            return;
        }
        quoted(s, !o_.double_quotes && scan.single_ok);
    }

    void quoted(std::string_view s, bool single) {
        const char q = single ? '\'' : '"';
        const bool fold = o_.width > 0 && !in_key_;
        const std::size_t col = fold ? out_.column() : 0;
        out_.put(q);
        const std::size_t body = out_.size();
        if (single)
            out_.append(s);
        else
            yaml::append_escaped(out_, s);
        if (!fold || col + 1 + (out_.size() - body) <= o_.width) {
            out_.put(q);
            return;
        }
        // Too long for the line: take the body back and write it folded.
        scratch_.assign(out_.data() + body, out_.size() - body);
        out_.truncate(body);
        folded_body(scratch_, col);
        out_.put(q);
    }

    // Writes `text` after an opening quote at column q, breaking lines at
    // single spaces between non-space bytes so that each line stays within
    // the width where it can. A reader folds each break back to one space.
    void folded_body(std::string_view text, std::size_t q) {
        // At column 0 a continuation line could start with "---" or "...".
        const std::size_t cont = q == 0 ? indent_ : q;
        const std::size_t n = text.size();
        auto next_fold = [&](std::size_t from) -> std::size_t {
            for (std::size_t i = from; i + 1 < n; ++i) {
                const void* hit = std::memchr(text.data() + i, ' ', n - 1 - i);
                if (!hit) return n;
                i = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
                if (i > 0 && text[i - 1] != ' ' && text[i + 1] != ' ') return i;
            }
            return n;
        };
        std::size_t pos = 0;
        std::size_t fp = next_fold(1);
        out_.append(text.substr(0, fp));
        std::size_t col = q + 1 + fp;
        while (fp < n) {
            const std::size_t next = next_fold(fp + 1);
            const std::size_t piece = next - fp;  // the space and the text up to the next fold point
            pos = fp + 1;
            if (col + piece <= o_.width) {
                out_.put(' ');
                col += 1;
            } else {
                out_.put('\n');
                out_.spaces(cont);
                col = cont;
            }
            out_.append(text.substr(pos, next - pos));
            col += next - pos;
            fp = next;
        }
    }

    // Literal block scalar with content lines indented by n.
    void literal(std::string_view s, std::size_t n) {
        std::size_t end = s.size();
        while (end > 0 && s[end - 1] == '\n') --end;
        const std::size_t trailing = s.size() - end;
        out_.put('|');
        if (trailing == 0)
            out_.put('-');
        else if (trailing >= 2 || end == 0)
            out_.put('+');
        out_.put('\n');
        if (end == 0) {
            out_.put('\n');
        } else {
            const char* p = s.data();
            std::size_t i = 0;
            while (i < end) {
                const void* hit = std::memchr(p + i, '\n', end - i);
                const std::size_t stop = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - p) : end;
                if (stop > i) {
                    out_.spaces(n);
                    out_.append(p + i, stop - i);
                }
                out_.put('\n');
                i = stop + 1;
            }
        }
        if (trailing >= 2 || (end == 0 && trailing >= 1))
            for (std::size_t k = 1; k < trailing; ++k) out_.put('\n');
    }

    OutBuffer& out_;
    const TapeNode* nodes_;
    const Tape& tape_;
    const DumpOptions& o_;
    const std::size_t indent_;
    bool in_key_ = false;
    std::vector<Entry> order_;
    std::string scratch_;
};

}  // namespace

void emit_yaml_into(OutBuffer& out, const Tape& tape, std::size_t root, const DumpOptions& options) {
    YamlEmitter(out, tape, options).document(root);
}

void emit_yaml_into(OutBuffer& out, const Value& root, const DumpOptions& options) {
    Tape tape;
    append_value(tape, root);
    emit_yaml_into(out, tape, 0, options);
}

std::string emit_yaml(const Value& root, const DumpOptions& options) {
    OutBuffer out(1024);
    emit_yaml_into(out, root, options);
    return std::move(out).take();
}

}  // namespace torvex
