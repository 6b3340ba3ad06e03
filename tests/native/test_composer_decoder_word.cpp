// What the composer tells its callers about a text besides the tree.
//
// Its word for the value decoder (ComposedStream::decoder_accepts), on which
// annotated loads skip the decoder: over every text of the YAML test suite
// (error cases included), the fuzz corpora and texts made to hit each of the
// decoder's refusals, a list the composer vouches for is one the decoder
// accepts. And the word is given where it pays: for plain data with anchors,
// aliases and several documents.
//
// Whether any node has a tag (ComposedStream::has_tags), on which the
// directive loader skips walking included files: exactly when a node of the
// tree has one. Whether any node is an alias (ComposedStream::has_aliases):
// likewise. Whether a key may be a merge key (ComposedStream::merge_keys),
// on which conversions skip looking for them: never false where a mapping of
// the tree has one, in any resolution mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/utf8.hpp"
#include "decode/decoder.hpp"
#include "decode/stream_decoder.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/reading.hpp"
#include "scanner/scanner.hpp"
#include "suite_cases.hpp"

namespace torvex::rt {
namespace {

namespace fs = std::filesystem;

struct Verdict {
    bool scanned = false;
    bool vouched = false;
    bool decoder_accepts = false;
};

Verdict judge(std::string text) {
    Verdict out;
    auto store = std::make_unique<TextStore>();
    store->text = std::move(text);
    auto scanned = tokenize(store->text, 0, /*record_comments=*/false);
    if (!scanned.ok()) return out;
    out.scanned = true;
    store->tokens = std::move(scanned).value();
    ComposedStream stream = compose_tokenized(std::move(store), /*with_comments=*/false, /*keep_tokens=*/true);
    out.vouched = stream.decoder_accepts;
    DecodedTape decoded;
    const DecodeOptions options;
    StreamDecoder decoder(stream.store->tokens, options, decoded.tape);
    out.decoder_accepts = decoder.run(decoded);
    return out;
}

std::vector<std::pair<std::string, std::string>> corpus_texts() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const testing_suite::SuiteCase& c : testing_suite::suite_cases()) {
        out.emplace_back(c.name, testing_suite::read_file(c.dir / "in.yaml"));
    }
    const fs::path corpus = fs::path(TORVEX_SOURCE_DIR) / "fuzz" / "corpus";
    if (fs::is_directory(corpus)) {
        for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
            if (entry.is_regular_file()) out.emplace_back(entry.path().string(), testing_suite::read_file(entry.path()));
        }
    }
    return out;
}

std::string repeated(std::string_view unit, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += unit;
    return out;
}

// Texts that the decoder refuses after the scanner took them, one per refusal.
std::vector<std::string> refused_texts() {
    std::string bomb = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
    for (char name = 'b'; name <= 'h'; ++name) {
        const char prev = static_cast<char>(name - 1);
        bomb += std::string(1, name) + ": &" + name + " [";
        for (int i = 0; i < 10; ++i) bomb += std::string(i ? ", *" : "*") + prev;
        bomb += "]\n";
    }
    return {
        "a: *nowhere\n",
        "a: &x [*x]\n",                           // an anchor is defined once its node is complete
        "--- &x a\n--- *x\n",                     // anchors do not reach past their document
        "&a &b x\n",
        "a: &a *b\n",
        "!!str *a\n",
        "a: !e!x b\n",
        "- !local [a]\n- !e!x {b: c}\n",  // a named handle among tags that resolve
        "- !<tag:x,2000:y> a\n- !!str b\n- !e! c\n",
        "%TAG !e! tag:x,2000:\n--- !f!y a\n",
        "%YAML 1.2\n%YAML 1.2\n--- a\n",
        "a\nb: c\n",
        "key:\nvalue\n",
        "a: b\nc\n",
        "- a\nb: c\n",
        "[a, b]]\n",
        "{a: 1]\n",
        bomb,
        repeated("[", kMaxNestingDepth + 1) + repeated("]", kMaxNestingDepth + 1),
        repeated("- ", kMaxNestingDepth + 1) + "x\n",
    };
}

TEST(ComposerDecoderWord, VouchedListsAreAcceptedOverTheSuiteAndCorpora) {
    std::size_t vouched = 0, checked = 0;
    for (const auto& [name, text] : corpus_texts()) {
        if (utf8::validate(text)) continue;
        const Verdict v = judge(text);
        if (!v.scanned) continue;
        ++checked;
        if (!v.vouched) continue;
        ++vouched;
        EXPECT_TRUE(v.decoder_accepts) << name;
    }
    std::cout << "[ vouched  ] " << vouched << " of " << checked << " scanned texts\n";
    if (checked == 0) GTEST_SKIP() << "neither the suite nor the corpora found";
    // Not a word withheld everywhere: most texts are plain data.
    EXPECT_GT(vouched, checked / 3) << vouched << " of " << checked;
}

bool any_tag(const YamlNode& node) {
    if (!node.tag.empty()) return true;
    for (const YamlNode& child : node.children) {
        if (any_tag(child)) return true;
    }
    return false;
}

bool any_alias(const YamlNode& node) {
    if (node.kind == NodeKind::Alias) return true;
    for (const YamlNode& child : node.children) {
        if (any_alias(child)) return true;
    }
    return false;
}

// The alias word: on it annotated loads free each subtree once converted.
TEST(ComposerTagWord, SaysWhetherAnyNodeHasATagOrIsAnAlias) {
    std::size_t tagged = 0, with_aliases = 0, checked = 0;
    for (const auto& [name, text] : corpus_texts()) {
        if (utf8::validate(text)) continue;
        auto composed = compose_stream(text, 0, /*with_comments=*/false);
        if (!composed.ok()) continue;
        bool tag = false, alias = false;
        for (const YamlNode& root : composed.value().roots) {
            tag = tag || any_tag(root);
            alias = alias || any_alias(root);
        }
        EXPECT_EQ(composed.value().has_tags, tag) << name;
        EXPECT_EQ(composed.value().has_aliases, alias) << name;
        ++checked;
        tagged += tag;
        with_aliases += alias;
    }
    if (checked == 0) GTEST_SKIP() << "neither the suite nor the corpora found";
    EXPECT_GT(tagged, 0u);
    EXPECT_LT(tagged, checked);
    EXPECT_GT(with_aliases, 0u);
    EXPECT_LT(with_aliases, checked);
}

bool any_merge_key(const DocumentReader& reader, const YamlNode& node) {
    if (node.kind == NodeKind::Mapping && reader.has_merge_keys(node)) return true;
    for (const YamlNode& child : node.children) {
        if (any_merge_key(reader, child)) return true;
    }
    return false;
}

TEST(ComposerMergeWord, FalseOnlyWhereNoKeyMerges) {
    std::size_t with_merges = 0, without_word = 0;
    std::vector<std::pair<std::string, std::string>> texts = corpus_texts();
    texts.emplace_back("plain", "a: &a {x: 1}\nb: {<<: *a, y: 2}\n");
    texts.emplace_back("tagged", "a: {!!merge <<: {x: 1}}\n");
    texts.emplace_back("handle", "%TAG !m! tag:yaml.org,2002:\n--- {!m!merge <<: {x: 1}}\n");
    for (const auto& [name, text] : texts) {
        if (utf8::validate(text)) continue;
        auto composed = compose_stream(text, 0, /*with_comments=*/false);
        if (!composed.ok()) continue;
        const ComposedStream& stream = composed.value();
        without_word += !stream.merge_keys;
        for (int mode = 0; mode < 3; ++mode) {
            for (const YamlNode& root : stream.roots) {
                const DocumentReader reader(root, static_cast<ResolveMode>(mode));
                if (!any_merge_key(reader, root)) continue;
                ++with_merges;
                EXPECT_TRUE(stream.merge_keys) << name;
            }
        }
    }
    EXPECT_GT(with_merges, 3u);
    EXPECT_GT(without_word, 100u);  // the word is given for most texts
}

TEST(ComposerDecoderWord, NoWordForTextsTheDecoderRefuses) {
    const std::vector<std::string> texts = refused_texts();
    std::size_t scanned = 0;
    for (const std::string& text : texts) {
        const Verdict v = judge(text);
        if (!v.scanned) continue;  // the scanner's refusal comes first
        ++scanned;
        EXPECT_FALSE(v.decoder_accepts) << "not a refusal after all: " << text.substr(0, 80);
        EXPECT_FALSE(v.vouched) << text.substr(0, 80);
    }
    std::cout << "[ refused  ] " << scanned << " of " << texts.size() << " scanned\n";
    EXPECT_GT(scanned, texts.size() / 2);
}

TEST(ComposerDecoderWord, GivenForPlainData) {
    const std::string texts[] = {
        "a: 1\nb: [x, {y: z}]\nc:\n  - d\n  - e: f\n    g: |\n      text\n",
        "base: &base {host: h, port: 1}\nuse: *base\nlist:\n- *base\n- &s scalar\n- *s\n",
        "--- [&a x, *a]\n--- [&a y, *a]\n...\n",  // each document its own anchors
        "key:\n- a\n- b\nother: ''\n",
        "? complex\n: value\n[a, b]: c\n",
        repeated("- ", 100) + "x\n",
        // Tags through the primary and secondary handles and verbatim tags always resolve.
        "pw: !secret db_password\nn: !!int 3\ns: !!str 4\nv: !<tag:x> y\nl: !include_dir_list d\n",
        // The same on scalars and collections, with local tags and the non-specific `!`.
        "resource: !REF googlecloudsdk.resources:topic\npassword: !secret db\nlist: !include_dir_list dir\n",
        "- !!str 1\n- !!int 2\n- ! x\n- !<tag:x,2000:y> z\n- !local {a: !!seq [b]}\n- !!map {c: d}\n",
        "!doc\n? !key k\n: !value v\n",
    };
    for (const std::string& text : texts) {
        const Verdict v = judge(text);
        ASSERT_TRUE(v.scanned) << text;
        EXPECT_TRUE(v.decoder_accepts) << text;
        EXPECT_TRUE(v.vouched) << text;
    }
}

}  // namespace
}  // namespace torvex::rt
