// Edits written in place over composed texts: the new text of each replaced
// node spliced into the text as read, and a refusal (the tree writer's turn)
// wherever a noted place does not fit the text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "roundtrip/composer.hpp"
#include "roundtrip/in_place.hpp"
#include "roundtrip/path.hpp"

namespace torvex::rt {
namespace {

struct Placed {
    ComposedStream stream;
    std::string_view text() const { return stream.store->text; }
    std::optional<std::string> write() const {
        std::vector<const YamlNode*> roots;
        for (const YamlNode& root : stream.roots) roots.push_back(&root);
        return write_in_place(FileInPlace{text(), 0, roots, {}, false}, NullStyle::Empty, true);
    }
};

Placed compose(std::string text) {
    auto composed = compose_stream(std::move(text), 0);
    EXPECT_TRUE(composed.ok());
    return Placed{std::move(composed).value()};
}

void assign(Placed& doc, YamlNode& node, std::string_view text) {
    write_value(doc.stream.roots[0], node, YamlNode::scalar(Text::owned(text), ScalarStyle::Plain));
}

TEST(RoundtripInPlace, ReplacesOnlyTheEditedLeaves) {
    Placed doc = compose("a: 1  \t\r\nb: [x,\r\n  y]   # c\r\n\r\nc:\r\n");
    YamlNode& root = doc.stream.roots[0];
    assign(doc, root.value(1).children[1], "z");
    assign(doc, root.value(2), "w");
    assign(doc, root.value(0), "two words");
    EXPECT_EQ(doc.write(), "a: two words  \t\r\nb: [x,\r\n  z]   # c\r\n\r\nc: w\r\n");
}

TEST(RoundtripInPlace, PlacesThatDoNotFitTheTextAreNotUsed) {
    Placed doc = compose("a: 1   \nb: 2   \n");
    YamlNode& root = doc.stream.roots[0];
    assign(doc, root.value(0), "x");
    assign(doc, root.value(1), "y");
    ASSERT_EQ(doc.write(), "a: x   \nb: y   \n");
    // A place the text cannot hold: the mapping is written by the tree writer.
    const std::string rewritten = "a: x\nb: y\n";
    ReplacedExtent& second = *root.value(1).comments.texts().replaced;
    const ReplacedExtent kept = second;
    second.to = doc.text().size() + 1;  // past the end
    EXPECT_EQ(doc.write(), rewritten);
    second = kept;
    second.file_id = 1;  // another file's place
    EXPECT_EQ(doc.write(), rewritten);
    second = kept;
    second.content = second.to + 1;  // content after its end: only the value is written afresh
    EXPECT_EQ(doc.write(), "a: x   \nb: y\n");
    // A place reaching back over a line break (here into the place before it)
    // is refused: only that value is written afresh.
    second = kept;
    second.from = root.value(0).comments.texts_view().replaced->from;
    EXPECT_EQ(doc.write(), "a: x   \nb: y\n");
}

TEST(RoundtripInPlace, EditedCommentsAreWrittenByTheTreeWriter) {
    Placed doc = compose("- 0\n- 1  # one\n- 2   \n");
    YamlNode& item = doc.stream.roots[0].children[1];
    assign(doc, item, "3");
    ASSERT_EQ(doc.write(), "- 0\n- 3  # one\n- 2   \n");
    item.comments.texts().inline_comment = Text::owned("three");
    // The comment stands outside the node's place: the sequence is written afresh from its first entry.
    EXPECT_EQ(doc.write(), "- 0\n- 3  # three\n- 2\n");
    // Its first entry's comments stand above that stretch: then nothing here can write it.
    assign(doc, doc.stream.roots[0].children[0], "4");
    doc.stream.roots[0].children[0].comments.texts().head.push_back(Text::owned("new"));
    EXPECT_EQ(doc.write(), std::nullopt);
}

}  // namespace
}  // namespace torvex::rt
