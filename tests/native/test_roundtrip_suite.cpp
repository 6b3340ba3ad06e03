// Compose and emit every valid case of the YAML test suite: unedited, the
// output is the input byte for byte; re-emitted from the tree (first root
// marked modified), it loads to the same values as the input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "roundtrip/composer.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/emitter_writer.hpp"
#include "roundtrip_trees.hpp"
#include "suite_cases.hpp"

namespace torvex::rt {
namespace {

namespace fs = std::filesystem;

using testing_suite::read_file;
using testing_suite::SuiteCase;

std::vector<SuiteCase> valid_cases() {
    std::vector<SuiteCase> cases;
    for (const SuiteCase& c : testing_suite::suite_cases()) {
        if (!c.error) cases.push_back(c);
    }
    return cases;
}

DocumentContainer load(std::string text, std::string* error) {
    DocumentContainer c;
    auto composed = compose_stream(std::move(text), 0);
    if (!composed.ok()) {
        *error = composed.error().message;
        return c;
    }
    c.documents = std::move(composed.value().roots);
    c.stores.push_back(std::move(composed.value().store));
    return c;
}

void mark_all_modified(std::vector<YamlNode>& roots) {
    std::vector<YamlNode*> work;
    for (YamlNode& r : roots) work.push_back(&r);
    while (!work.empty()) {
        YamlNode* n = work.back();
        work.pop_back();
        n->comments.modified = true;
        for (YamlNode& c : n->children) work.push_back(&c);
    }
}

TEST(RoundtripSuite, UneditedIsTheInputAndReemittedReadsTheSame) {
    const auto cases = valid_cases();
    if (cases.empty()) GTEST_SKIP() << "test suite not found";
    std::size_t all_modified_same = 0;
    std::size_t composed = 0, same_text = 0, reemitted = 0, same_values = 0, not_decodable = 0, no_root = 0;
    std::vector<std::string> failures;
    for (const SuiteCase& c : cases) {
        const std::string text = read_file(c.dir / "in.yaml");
        std::string error;
        DocumentContainer doc = load(text, &error);
        if (!error.empty()) {
            failures.push_back(c.name + ": does not compose: " + error);
            continue;
        }
        ++composed;
        const std::string unedited = document_to_yaml(doc);
        if (unedited == text) {
            ++same_text;
        } else {
            failures.push_back(c.name + ": unedited output differs");
        }
        if (doc.documents.empty()) {
            ++no_root;
            continue;
        }
        auto expected = decode_stream(text, 0, {});
        if (!expected.ok()) {
            ++not_decodable;
            continue;
        }
        ++reemitted;
        doc.documents[0].comments.modified = true;
        const std::string out = document_to_yaml(doc);
        const auto verdict = testing::reads_same(out, text);
        std::string again_error;
        load(out, &again_error);
        if (verdict && again_error.empty()) {
            ++same_values;
        } else {
            failures.push_back(c.name + ": re-emission: " + (again_error.empty() ? "" : "does not compose: " + again_error + ": ") +
                               verdict.message() + "\n--- input\n" + text + "--- output\n" + out);
        }
        // Every block scalar and key written afresh from its text.
        mark_all_modified(doc.documents);
        const std::string fresh = document_to_yaml(doc);
        if (testing::reads_same(fresh, text)) {
            ++all_modified_same;
        } else {
            failures.push_back(c.name + ": full re-emission differs\n--- input\n" + text + "--- output\n" + fresh);
        }
    }
    std::cout << "[ suite    ] " << all_modified_same << " of " << reemitted
              << " read the same with every node marked modified\n";
    std::cout << "[ suite    ] " << cases.size() << " valid cases, " << composed << " composed, " << same_text
              << " unedited byte for byte, " << same_values << " of " << reemitted
              << " re-emitted read the same (" << no_root << " without a root, " << not_decodable
              << " not decodable by the plain decoder)\n";
    for (const std::string& f : failures) ADD_FAILURE() << f;
}

// The writer's own account of copying decides whether a text is written a
// second time with copying off: when it copied nothing, its text must be
// that second text exactly. Checked with the first root edited and with
// every node edited, where copying is rare.
TEST(RoundtripSuite, WriterThatCopiedNothingWroteTheFreshText) {
    const auto cases = valid_cases();
    if (cases.empty()) GTEST_SKIP() << "test suite not found";
    auto write = [](const DocumentContainer& doc, bool copy, bool* copied) {
        const std::vector<std::string_view> sources = source_texts(doc);
        OutBuffer out;
        detail::Writer writer(out, doc.null_style, doc.prefer_double_quotes, sources, copy);
        for (std::size_t i = 0; i < doc.documents.size(); ++i) detail::document(writer, out, doc.documents[i], i);
        if (copied) *copied = writer.copied();
        return std::move(out).take();
    };
    std::size_t uncopied = 0;
    for (const SuiteCase& c : cases) {
        std::string error;
        DocumentContainer doc = load(read_file(c.dir / "in.yaml"), &error);
        if (!error.empty() || doc.documents.empty()) continue;
        for (const bool all : {false, true}) {
            if (all) {
                mark_all_modified(doc.documents);
            } else {
                doc.documents[0].comments.modified = true;
            }
            bool copied = true;
            const std::string kept = write(doc, true, &copied);
            if (copied) continue;
            ++uncopied;
            EXPECT_EQ(kept, write(doc, false, nullptr)) << c.name << (all ? " (every node edited)" : "");
        }
    }
    EXPECT_GT(uncopied, 100u);
}

}  // namespace
}  // namespace torvex::rt

namespace torvex::rt {
namespace {

// One edit (the first root marked modified) on a composed text.
std::string reemit(std::string text, std::size_t modified_root = 0) {
    std::string error;
    DocumentContainer doc = load(std::move(text), &error);
    EXPECT_TRUE(error.empty()) << error;
    if (doc.documents.size() > modified_root) doc.documents[modified_root].comments.modified = true;
    return document_to_yaml(doc);
}

struct ComposedCase {
    const char* name;
    const char* input;
    const char* output;
};

std::ostream& operator<<(std::ostream& os, const ComposedCase& c) { return os << c.name; }

class RoundtripComposed : public ::testing::TestWithParam<ComposedCase> {};

TEST_P(RoundtripComposed, EditedOutput) {
    const ComposedCase& c = GetParam();
    const std::string out = reemit(c.input);
    EXPECT_EQ(out, c.output);
    EXPECT_TRUE(testing::reads_same(out, c.input));
}

INSTANTIATE_TEST_SUITE_P(
    Roundtrip, RoundtripComposed,
    ::testing::Values(
        ComposedCase{"FlowSpacing", "{ a: 1 }\n", "{a: 1}\n"},
        ComposedCase{"AnchoredNullValue", "key: &a\n", "key: &a null\n"},
        ComposedCase{"TaggedNullValueKeepsTag", "key: !!str\nx: 1\n", "key: !!str\nx: 1\n"},
        ComposedCase{"TaggedNullItem", "- !!str\n- a\n", "- !!str\n- a\n"},
        ComposedCase{"CommentsAndBlankLines", "# top\na: 1  # one\n\n\n# two\nb:   x\n",
                     "# top\na: 1  # one\n\n\n# two\nb:   x\n"},
        ComposedCase{"BlockScalarKept", "a: |\n    kept  \n  # not a comment? no, less indented\nb: 2\n",
                     "a: |\n    kept  \n  # not a comment? no, less indented\nb: 2\n"},
        ComposedCase{"SecondDocumentMarker", "a\n---\nb\n", "a\n---\nb\n"},
        ComposedCase{"DirectivesKept", "%YAML 1.1\n--- a\n...\n%TAG !e! tag:e,2000:\n--- !e!x b\n",
                     "%YAML 1.1\n--- a\n...\n%TAG !e! tag:e,2000:\n--- !e!x b\n"},
        ComposedCase{"FlowCommentKept", "k: {a: 1}  # c\n", "k: {a: 1}  # c\n"},
        ComposedCase{"MultiLinePlainKept", "k: a\n\n  b\n", "k: a\n\n  b\n"},
        ComposedCase{"IndentlessSequenceStays", "k:\n- a\n- b\n", "k:\n- a\n- b\n"},
        ComposedCase{"PlainTypesStayPlain", "- true\n- 0x1F\n- -5\n- null\n", "- true\n- 0x1F\n- -5\n- null\n"}));

TEST(RoundtripComposedDocument, UneditedCrlfAndMarkersByteForByte) {
    const std::string text = "%YAML 1.2\r\n---\r\na: 1\t# tab\r\n...\r\n";
    std::string error;
    DocumentContainer doc = load(text, &error);
    ASSERT_TRUE(error.empty());
    EXPECT_EQ(document_to_yaml(doc), text);
    doc.version_header = true;
    EXPECT_EQ(document_to_yaml(doc), "%YAML 1.2\n---\r\na: 1\t# tab\r\n...\r\n");
}

TEST(RoundtripComposedDocument, UpgradeHeaderOnReemission) {
    std::string error;
    DocumentContainer doc = load("%YAML 1.1\n---\na: yes\n", &error);
    ASSERT_TRUE(error.empty());
    doc.version_header = true;
    doc.documents[0].comments.modified = true;
    EXPECT_EQ(document_to_yaml(doc), "%YAML 1.2\n---\na: yes\n");
}

}  // namespace
}  // namespace torvex::rt
