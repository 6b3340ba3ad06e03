// Fuzzes the round-trip composer and emitter over arbitrary text (skipped
// unless valid UTF-8, as callers validate first). Whatever composes must come
// back byte for byte while unedited; every node a path can address (all but
// those under a pair that a later pair written the same way shadows) must be
// found again by its path; re-emitted from the tree (first root
// marked modified), it must compose again and, when the plain decoder reads
// the input, read back to the same values. One scalar leaf given a new value
// must change only the lines it stood on (one_leaf_edit.hpp).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/utf8.hpp"
#include "decode/decoder.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/path.hpp"
#include "one_leaf_edit.hpp"
#include "require.hpp"

using torvex_fuzz::require;

namespace {

bool same(const torvex::Value& a, const torvex::Value& b) {
    using K = torvex::Value::Kind;
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case K::Float:
            return (std::isnan(a.as_float()) && std::isnan(b.as_float())) || a.as_float() == b.as_float();
        case K::Sequence: {
            const auto& x = a.as_sequence();
            const auto& y = b.as_sequence();
            if (x.size() != y.size()) return false;
            for (std::size_t i = 0; i < x.size(); ++i)
                if (!same(x[i], y[i])) return false;
            return true;
        }
        case K::Mapping: {
            const auto& x = a.as_mapping();
            const auto& y = b.as_mapping();
            if (x.size() != y.size()) return false;
            for (std::size_t i = 0; i < x.size(); ++i)
                if (!same(x[i].key, y[i].key) || !same(x[i].value, y[i].value)) return false;
            return true;
        }
        case K::Tagged:
            return a.as_tagged().tag == b.as_tagged().tag && same(*a.as_tagged().inner, *b.as_tagged().inner);
        default: return a == b;
    }
}

// The shape of a tree in preorder: collections with their sizes, every
// other node as one mark. The emitter is judged only where the composer and
// the plain decoder read the input into the same shape (nulls told apart): the composer is
// lenient where the decoder is not (it takes a stray property line for an
// entry), and such an input tells
// nothing about the emitter. Returns false when the tree holds an alias or a
// merge key, whose shape the decoder changes: values are not compared then
// (the suite test covers aliases and merge keys).
bool tree_shape(const torvex::rt::YamlNode& root, std::string& out) {
    std::vector<const torvex::rt::YamlNode*> work{&root};
    while (!work.empty()) {
        const torvex::rt::YamlNode* n = work.back();
        work.pop_back();
        switch (n->kind) {
            case torvex::rt::NodeKind::Alias: return false;
            case torvex::rt::NodeKind::Sequence:
            case torvex::rt::NodeKind::Mapping:
                out += n->kind == torvex::rt::NodeKind::Sequence ? "S" : "M";
                out += std::to_string(n->size());
                for (std::size_t i = n->children.size(); i-- > 0;) {
                    const auto& c = n->children[i];
                    if (n->kind == torvex::rt::NodeKind::Mapping && i % 2 == 0 && c.kind == torvex::rt::NodeKind::Scalar &&
                        c.text.str() == "<<")
                        return false;
                    work.push_back(&c);
                }
                break;
            case torvex::rt::NodeKind::Null: out += n->tag.empty() ? "n" : "x"; break;
            default: {
                const std::string_view t = n->text.str();
                const bool null_word = n->scalar_style == torvex::ScalarStyle::Plain && n->tag.empty() &&
                                       (t == "null" || t == "Null" || t == "NULL" || t == "~");
                out += null_word ? "n" : "x";
                break;
            }
        }
    }
    return true;
}

void value_shape(const torvex::Value& root, std::string& out) {
    using K = torvex::Value::Kind;
    std::vector<const torvex::Value*> work{&root};
    while (!work.empty()) {
        const torvex::Value* v = work.back();
        work.pop_back();
        while (v->kind() == K::Tagged) v = v->as_tagged().inner.get();
        if (v->kind() == K::Sequence) {
            out += "S" + std::to_string(v->as_sequence().size());
            for (std::size_t i = v->as_sequence().size(); i-- > 0;) work.push_back(&v->as_sequence()[i]);
        } else if (v->kind() == K::Mapping) {
            out += "M" + std::to_string(v->as_mapping().size());
            for (std::size_t i = v->as_mapping().size(); i-- > 0;) {
                work.push_back(&v->as_mapping()[i].value);
                work.push_back(&v->as_mapping()[i].key);
            }
        } else {
            out += v->kind() == K::Null ? "n" : "x";
        }
    }
}

// Control characters are not YAML; where the scanner lets them through, the
// composer and the plain decoder may read the text differently, which says
// nothing about the emitter. Values are compared for clean texts only.
bool has_control_characters(std::string_view text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) return true;
    return false;
}

// Each node with a path is found again by it: `path_to` and `resolve_path`
// agree, whatever its keys (collections, aliases, nulls, repeated texts).
void require_paths_resolve(const torvex::rt::YamlNode& root) {
    struct Visit {
        const torvex::rt::YamlNode* node;
        bool addressable;
    };
    std::vector<Visit> work{{&root, true}};
    std::size_t budget = 256;  // path_to walks the tree, so a large tree is sampled
    while (!work.empty() && budget-- > 0) {
        const Visit visit = work.back();
        work.pop_back();
        const auto path = torvex::rt::path_to(root, visit.node);
        if (visit.addressable) require(path.has_value() && torvex::rt::resolve_path(root, *path) == visit.node);
        const torvex::rt::YamlNode& n = *visit.node;
        if (n.kind == torvex::rt::NodeKind::Sequence) {
            for (const auto& item : n.children) work.push_back({&item, visit.addressable});
        } else if (n.kind == torvex::rt::NodeKind::Mapping) {
            for (std::size_t i = 0; i < n.size(); ++i) {
                bool shadowed = false;  // a later key written the same way takes the pair's place
                const std::string form = torvex::rt::written_form(n.key(i));
                for (std::size_t later = i + 1; later < n.size() && !shadowed; ++later)
                    shadowed = torvex::rt::written_form(n.key(later)) == form;
                const bool reachable = visit.addressable && !shadowed;
                work.push_back({&n.value(i), reachable});
            }
        }
    }
}

torvex::rt::DocumentContainer compose(std::string text, bool* ok) {
    torvex::rt::DocumentContainer doc;
    auto composed = torvex::rt::compose_stream(std::move(text), 0);
    *ok = composed.ok();
    if (!*ok) return doc;
    doc.documents = std::move(composed.value().roots);
    doc.stores.push_back(std::move(composed.value().store));
    return doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (torvex::utf8::validate(text)) return 0;

    bool ok = false;
    torvex::rt::DocumentContainer doc = compose(std::string(text), &ok);
    if (!ok) return 0;
    require(torvex::rt::document_to_yaml(doc) == text);
    if (doc.documents.empty()) return 0;
    for (const auto& root : doc.documents) require_paths_resolve(root);

    doc.documents[0].comments.modified = true;
    const std::string out = torvex::rt::document_to_yaml(doc);
    bool again = false;
    compose(out, &again);
    require(again);

    if (has_control_characters(text)) return 0;
    auto before = torvex::decode_stream(text, 0, {});
    if (!before.ok()) return 0;
    require(before.value().documents.size() == doc.documents.size());
    for (std::size_t i = 0; i < doc.documents.size(); ++i) {
        std::string composed, decoded;
        if (!tree_shape(doc.documents[i], composed)) return 0;
        value_shape(before.value().documents[i], decoded);
        if (composed != decoded) return 0;
    }
    auto after = torvex::decode_stream(out, 0, {});
    require(after.ok());
    const auto& a = before.value().documents;
    const auto& b = after.value().documents;
    require(a.size() == b.size());
    for (std::size_t i = 0; i < a.size(); ++i) require(same(a[i], b[i]));

    // The input reads the same both ways: an edit of one leaf keeps every other line.
    bool composed_again = false;
    torvex::rt::DocumentContainer fresh = compose(std::string(text), &composed_again);
    require(composed_again);
    torvex_fuzz::require_one_leaf_edit(fresh, text, size);
    return 0;
}
