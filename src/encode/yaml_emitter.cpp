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

using Kind = Value::Kind;

// Longest implicit key (in bytes; YAML counts characters, so this is safe).
constexpr std::size_t kMaxImplicitKey = 1024;

std::string_view sort_text(const MapEntry& e) noexcept {
    return e.key.kind() == Kind::String ? std::string_view(e.key.as_string()) : std::string_view();
}

class YamlEmitter {
public:
    YamlEmitter(OutBuffer& out, const DumpOptions& options)
        : out_(out), o_(options), indent_(options.indent >= 1 ? options.indent : 2) {}

    void document(const Value& root) {
        if (o_.explicit_start) out_.append("---\n");
        switch (root.kind()) {
            case Kind::String:
                if (literal_ok(root.as_string())) {
                    literal(root.as_string(), indent_);
                    break;
                }
                flow_line(root);
                break;
            case Kind::Sequence:
                if (block(root)) {
                    block_sequence(root.as_sequence(), 0);
                    break;
                }
                flow_line(root);
                break;
            case Kind::Mapping:
                if (block(root)) {
                    block_mapping(root.as_mapping(), 0, false);
                    break;
                }
                flow_line(root);
                break;
            case Kind::Tagged:
                tag(root.as_tagged().tag);
                after_indicator(*root.as_tagged().inner, 0, true);
                break;
            default:
                flow_line(root);
                break;
        }
        if (o_.explicit_end) out_.append("...\n");
    }

private:
    // A non-empty collection written in block form.
    bool block(const Value& v) const noexcept {
        if (o_.flow_style) return false;
        if (v.kind() == Kind::Sequence) return !v.as_sequence().empty();
        if (v.kind() == Kind::Mapping) return !v.as_mapping().empty();
        return false;
    }

    bool literal_ok(const std::string& s) const noexcept {
        return s.find('\n') != std::string::npos && yaml::scan_scalar(s).literal_ok;
    }

    void flow_line(const Value& v) {
        flow(v, false);
        out_.put('\n');
    }

    // Calls f(entry) for each entry in output order.
    template <class F>
    void for_each_entry(const Mapping& m, F&& f) {
        if (!o_.sort_keys || m.size() < 2) {
            for (const MapEntry& e : m) f(e);
            return;
        }
        const std::size_t base = order_.size();
        for (const MapEntry& e : m) order_.push_back(&e);
        auto first = order_.begin() + static_cast<std::ptrdiff_t>(base);
        auto last = order_.end();
        if (m.size() <= 20) {
            for (auto i = first + 1; i < last; ++i) {
                const MapEntry* e = *i;
                auto j = i;
                while (j > first && bytewise_less(sort_text(*e), sort_text(**(j - 1)))) {
                    *j = *(j - 1);
                    --j;
                }
                *j = e;
            }
        } else {
            std::stable_sort(first, last, [](const MapEntry* a, const MapEntry* b) {
                return bytewise_less(sort_text(*a), sort_text(*b));
            });
        }
        for (std::size_t i = 0; i < m.size(); ++i) f(*order_[base + i]);
        order_.resize(base);
    }

    void block_mapping(const Mapping& m, std::size_t c, bool first_inline) {
        with_stack([&] {
            bool first = true;
            for_each_entry(m, [&](const MapEntry& e) {
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

    void block_sequence(const Sequence& s, std::size_t c) {
        with_stack([&] {
            for (const Value& item : s) {
                out_.spaces(c);
                out_.put('-');
                switch (item.kind()) {
                    case Kind::Null:
                        if (o_.null_style == NullStyle::Empty) {
                            out_.put('\n');
                            continue;
                        }
                        break;
                    case Kind::String:
                        if (literal_ok(item.as_string())) {
                            out_.put(' ');
                            literal(item.as_string(), c + 2);
                            continue;
                        }
                        break;
                    case Kind::Sequence:
                        if (block(item)) {
                            out_.put('\n');
                            block_sequence(item.as_sequence(), c + 2);
                            continue;
                        }
                        break;
                    case Kind::Mapping:
                        if (block(item)) {
                            out_.put(' ');
                            block_mapping(item.as_mapping(), c + 2, true);
                            continue;
                        }
                        break;
                    case Kind::Tagged:
                        // The tag's own sequence is always indented: an indentless
                        // one would read as further items of this sequence.
                        after_indicator(item, c, false);
                        continue;
                    default:
                        break;
                }
                out_.put(' ');
                flow_line(item);
            }
        });
    }

    // What follows "key:", "- !tag" or a root tag; c is the column of the key
    // or of the item's dash.
    void after_indicator(const Value& v, std::size_t c, bool allow_indentless) {
        with_stack([&] {
            switch (v.kind()) {
                case Kind::Null:
                    if (o_.null_style == NullStyle::Empty) {
                        out_.put('\n');
                        return;
                    }
                    break;
                case Kind::String:
                    if (literal_ok(v.as_string())) {
                        out_.put(' ');
                        literal(v.as_string(), c + indent_);
                        return;
                    }
                    break;
                case Kind::Sequence:
                    if (block(v)) {
                        out_.put('\n');
                        const bool indentless = o_.indentless_sequences && allow_indentless;
                        block_sequence(v.as_sequence(), indentless ? c : c + indent_);
                        return;
                    }
                    break;
                case Kind::Mapping:
                    if (block(v)) {
                        out_.put('\n');
                        block_mapping(v.as_mapping(), c + indent_, false);
                        return;
                    }
                    break;
                case Kind::Tagged: {
                    out_.put(' ');
                    tag(v.as_tagged().tag);
                    const Value& inner = *v.as_tagged().inner;
                    if (inner.kind() == Kind::Sequence && block(inner)) {
                        out_.put('\n');
                        block_sequence(inner.as_sequence(), c + indent_);
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

    void tag(const std::string& t) {
        // `!x` and `!!x` are written as is; `!e!x` would name a handle no %TAG
        // defines, and a flow indicator would end the shorthand early.
        const std::size_t second = t.size() > 2 ? t.find('!', 2) : std::string::npos;
        if (!t.empty() && t[0] == '!' && second == std::string::npos && t.find_first_of(",[]{}") == std::string::npos) {
            out_.append(t);
            return;
        }
        // A full URI (or a text with a second `!`) needs the verbatim form to be read back unchanged.
        out_.append("!<");
        out_.append(t);
        out_.put('>');
    }

    void flow(const Value& v, bool in_flow) {
        switch (v.kind()) {
            case Kind::Null:
                out_.append(o_.null_style == NullStyle::Tilde ? std::string_view("~") : std::string_view("null"));
                return;
            case Kind::Bool:
                out_.append(v.as_bool() ? std::string_view("true") : std::string_view("false"));
                return;
            case Kind::Int:
                append_int(out_, v.as_int());
                return;
            case Kind::BigInt:
                append_big_int(out_, v.big_int_text());
                return;
            case Kind::Float: {
                char* p = out_.reserve(kFloatTextMax);
                out_.advance(yaml_float_text(v.as_float(), p));
                return;
            }
            case Kind::String:
                string_scalar(v.as_string(), in_flow);
                return;
            case Kind::Sequence:
                with_stack([&] { flow_sequence(v.as_sequence()); });
                return;
            case Kind::Mapping:
                with_stack([&] { flow_mapping(v.as_mapping()); });
                return;
            case Kind::Tagged:
                tag(v.as_tagged().tag);
                out_.put(' ');
                with_stack([&] { flow(*v.as_tagged().inner, in_flow); });
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

    void flow_sequence(const Sequence& s) {
        if (s.empty()) {
            out_.append("[]");
            return;
        }
        const std::size_t wrap = wrap_indent();
        out_.put('[');
        bool first = true;
        for (const Value& item : s) {
            if (!first) separator(wrap);
            first = false;
            flow(item, true);
        }
        out_.put(']');
    }

    void flow_mapping(const Mapping& m) {
        if (m.empty()) {
            out_.append("{}");
            return;
        }
        const std::size_t wrap = wrap_indent();
        out_.put('{');
        bool first = true;
        for_each_entry(m, [&](const MapEntry& e) {
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

    void string_scalar(const std::string& s, bool in_flow) {
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

    void quoted(const std::string& s, bool single) {
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
    void literal(const std::string& s, std::size_t n) {
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
    const DumpOptions& o_;
    const std::size_t indent_;
    bool in_key_ = false;
    std::vector<const MapEntry*> order_;
    std::string scratch_;
};

}  // namespace

void emit_yaml_into(OutBuffer& out, const Value& root, const DumpOptions& options) {
    YamlEmitter(out, options).document(root);
}

std::string emit_yaml(const Value& root, const DumpOptions& options) {
    OutBuffer out(1024);
    emit_yaml_into(out, root, options);
    return std::move(out).take();
}

}  // namespace torvex
