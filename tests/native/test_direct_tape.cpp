// The direct tape reader against the token-list path: wherever it accepts a
// text, the token-list path must accept it too and give the same documents
// and warnings, under every option set. Checked over every case of the YAML
// test suite and every fuzz corpus file, whole and cut after each line (cuts
// make unterminated collections, scalars and flows), and over texts of the
// subset it is meant to take, which it must not give away.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/utf8.hpp"
#include "decode/tape.hpp"
#include "suite_cases.hpp"

namespace torvex {
namespace {

namespace fs = std::filesystem;

std::vector<DecodeOptions> option_sets() {
    std::vector<DecodeOptions> out;
    for (const ResolveMode mode : {ResolveMode::Yaml12, ResolveMode::Yaml11, ResolveMode::PyYamlCompat}) {
        DecodeOptions o;
        o.mode = mode;
        out.push_back(o);
        o.duplicate_keys_warn = true;
        o.yaml11_warnings = true;
        out.push_back(o);
        o.duplicate_keys_error = true;
        o.reject_complex_keys = true;
        out.push_back(o);
    }
    return out;
}

// True when the direct path accepted `text`; fails the test where it differs from the token-list path.
bool agrees(const std::string& text, const DecodeOptions& options, const std::string& label) {
    auto direct = decode_tape_direct(text, 0, options);
    if (!direct) return false;
    auto tokens = decode_tape_tokens(text, 0, options);
    EXPECT_TRUE(tokens.ok()) << label << ": the direct path accepts what the token-list path rejects ("
                             << (tokens.ok() ? "" : tokens.error().message) << ")\n" << text;
    if (!tokens.ok()) return true;
    EXPECT_TRUE(same_documents(*direct, tokens.value())) << label << ": different documents\n" << text;
    EXPECT_EQ(direct->warnings, tokens.value().warnings) << label << "\n" << text;
    return true;
}

// Checks the text and each of its prefixes that end after a line break; returns the accepted count.
std::size_t check_with_cuts(const std::string& text, const std::string& label) {
    std::size_t accepted = 0;
    std::vector<std::size_t> cuts{text.size()};
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') cuts.push_back(i + 1);
    for (const DecodeOptions& options : option_sets()) {
        for (const std::size_t cut : cuts) accepted += agrees(text.substr(0, cut), options, label) ? 1 : 0;
    }
    return accepted;
}

TEST(DirectTape, AgreesWithTheTokenPathOverTheSuite) {
    const auto& cases = testing_suite::suite_cases();
    if (cases.empty()) GTEST_SKIP() << "the YAML test suite is not beside the project";
    std::size_t accepted = 0;
    for (const auto& c : cases) {
        const std::string text = testing_suite::read_file(c.dir / "in.yaml");
        if (utf8::validate(text)) continue;
        accepted += check_with_cuts(text, c.name);
    }
    // The suite is mostly the unusual; still, many of its texts (and their
    // cuts, under each option set) are in the subset: about 6100 without
    // tags on values, about 6300 with them, about 7100 with nodes that start
    // on the line after their key or entry and plain scalars alone over lines.
    EXPECT_GT(accepted, 7000u);
}

TEST(DirectTape, AgreesWithTheTokenPathOverTheFuzzCorpora) {
    const fs::path root = fs::path(TORVEX_SOURCE_DIR) / "fuzz" / "corpus";
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::string text = testing_suite::read_file(entry.path());
        // The decoder targets take their options from the first byte.
        if (!text.empty() && static_cast<unsigned char>(text[0]) < 0x40) text.erase(0, 1);
        if (utf8::validate(text)) continue;
        check_with_cuts(text, entry.path().string());
        ++files;
    }
    EXPECT_GT(files, 100u);
}

// decode_tape reads into one stream: the direct path first, then, where it
// gives way part-read, the token-list path into the same stream. Nothing the
// direct attempt wrote (nodes, documents, warnings, anchors, texts) may show
// through: the outcome is the token-list path's own, errors included. Texts
// that give way late (after a warning, an anchor or a made text) are where a
// leftover would show.
TEST(DirectTape, ReadingIntoOneStreamGivesTheTokenPathsOutcome) {
    std::vector<std::string> texts = {
        "a: yes\nb: &x \"q\\n\"\nc: *x\nd: 1\nd: 2\n? explicit\n: key\n",
        "a: on\nb: [1, 2]\n<<: {c: 3}\n",
        "x: &a 1\ny: >\n  folded\n  text\nz: !!str &b 2\n",
        "k: 0:30\nk: v\n--- !<tag:x> 1\n",
        "- &a a\n- 'it''s'\n- [unclosed\n",
    };
    for (const auto& c : testing_suite::suite_cases()) {
        std::string text = testing_suite::read_file(c.dir / "in.yaml");
        if (!utf8::validate(text)) texts.push_back(std::move(text));
    }
    std::size_t compared = 0;
    for (const std::string& text : texts) {
        for (const DecodeOptions& options : option_sets()) {
            const auto together = decode_tape(text, 0, options);
            const auto tokens = decode_tape_tokens(text, 0, options);
            ASSERT_EQ(together.ok(), tokens.ok()) << text;
            ++compared;
            if (!tokens.ok()) {
                EXPECT_EQ(together.error().message, tokens.error().message) << text;
                EXPECT_EQ(together.error().span, tokens.error().span) << text;
                continue;
            }
            EXPECT_TRUE(same_documents(together.value(), tokens.value())) << text;
            EXPECT_EQ(together.value().documents.size(), tokens.value().documents.size()) << text;
            EXPECT_EQ(together.value().warnings, tokens.value().warnings) << text;
            EXPECT_EQ(together.value().has_merge_keys, tokens.value().has_merge_keys) << text;
        }
    }
    EXPECT_GT(compared, 3000u);
}

// Texts of the subset the direct path is for: it must read them itself.
TEST(DirectTape, ReadsTheCommonSubsetItself) {
    const std::vector<std::string> texts = {
        "a: 1",
        "---\n# config\napiVersion: apps/v1\nkind: Deployment\nmetadata:\n  name: web-0\n  labels:\n"
        "    app.example.com/tier: front  # why\nspec:\n  replicas: 3\n  ports:\n    - containerPort: 8080\n"
        "      protocol: TCP\n    - {containerPort: 53, protocol: UDP}\n",
        "records:\n  - {id: 0, name: \"a b\", tags: [\"x\", 'y'], score: 61.34, active: false, attrs: {}}\n"
        "  - {id: 1, name: 'it''s', tags: [], score: -1e3, n: ~}\n",
        "defaults: &defaults\n  timeout: 10s\n  retries: 4\nservice:\n  fallback: *defaults\n  name: &n web\n"
        "  again: *n\n",
        "paths:\n  /items/{id}:\n    get:\n      description: >\n        Folded text\n        on two lines.\n"
        "      notes: |-\n        kept\n         as is\n      summary: \"escaped \\t tab\\n\"\n",
        "key:\n- a\n- b: 1\n  c: [1, 2,\n    3]\nother: plain text\n  continued here\n",
        "resource: !REF googlecloudsdk.command_lib.x:y\nlist:\n- !!str 12\n- !!int '7'\n- !!bool yes\n"
        "- !custom [a, !!float 1, !x {b: c}, !!str [d]]\n- !t |\n  block\n- ! plain\nk: !!null ''\n",
        "help:\n  The name of the\n    reservation.\nlist:\n  [a, b]\nseq:\n-\n  \"q\"\n- &x\n  k: v\n- *x\n"
        "key:\n  !t {a: 1}\nblock:\n  |\n   text\n",
        "product queue frontend\nstorage node sigma\n\n  cache gamma\n",
        // Texts the scalar reader makes, aliased alone and inside a collection.
        "a: &e \"tab\\there\"\nb: *e\nlist:\n  - &m >\n    folded\n    twice\n  - *m\n  - *e\n"
        "base: &b\n  x: \"q\\n\"\n  y: |\n    z\n  w: two\n    lines\ncopy: *b\nlast: *m\n",
        // Made texts under tags, custom and core.
        "- !t \"esc\\tx\"\n- !!str \"q\\n\"\n- !x >\n  fold\n  ed\n- !!str |\n  lit\n",
        "--- first\n",  // content on the `---` line: not the subset
        "- - a\n  - b\n- \n-\n  x: y\n---\n[1, 2]\n--- \n...\n",
        "\"quoted key\": 'v'\n? explicit\n: key\n",
    };
    // The last three hold what the direct path leaves to the token-list path.
    const std::size_t expected_direct = texts.size() - 3;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        for (const DecodeOptions& options : option_sets()) {
            const bool direct = agrees(texts[i], options, "text " + std::to_string(i));
            EXPECT_EQ(direct, i < expected_direct) << texts[i];
        }
    }
}

}  // namespace
}  // namespace torvex
