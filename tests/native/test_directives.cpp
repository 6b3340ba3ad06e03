// The directive loader over real directory trees in a temporary directory:
// single-file and directory includes, file ids and the file table, depth,
// cycles (direct and through directories), confinement against `..`,
// absolute paths and links, non-regular files, the bound on files per load,
// secrets at two levels, environment variables; then random trees of
// includes, links and cycles, where every load must end, with data or a
// directive error, and never read outside the include directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "directives/file_system.hpp"
#include "directives/loader.hpp"
#include "directives/plain_files.hpp"
#include "roundtrip/path.hpp"
#include "roundtrip/save_plan.hpp"

namespace torvex::directives {
namespace {

namespace fs = std::filesystem;

// The same for a subtree left on a plain file's tape.
std::size_t render_tape(const Tape& tape, std::size_t i, std::string& out) {
    const TapeNode& node = tape.nodes[i];
    switch (node.kind()) {
        case TapeNode::Kind::String:
        case TapeNode::Kind::BigInt: out += node.text_view(); return i + 1;
        case TapeNode::Kind::Int: out += std::to_string(node.integer); return i + 1;
        case TapeNode::Kind::Bool: out += node.boolean ? "true" : "false"; return i + 1;
        case TapeNode::Kind::Null: out += '~'; return i + 1;
        case TapeNode::Kind::Sequence:
        case TapeNode::Kind::Mapping: {
            const bool mapping = node.kind() == TapeNode::Kind::Mapping;
            out += mapping ? '{' : '[';
            std::size_t at = i + 1;
            for (std::size_t n = 0; n < node.size(); ++n) {
                if (n) out += ", ";
                at = render_tape(tape, at, out);
                if (mapping) {
                    out += ": ";
                    at = render_tape(tape, at, out);
                }
            }
            out += mapping ? '}' : ']';
            return at;
        }
        default: out += '?'; return tape.end_of(i);
    }
}

// A compact rendering of a resolved tree: scalars as text, null as ~.
void render_into(const rt::YamlNode& node, std::string& out) {
    if (node.source && node.source->plain) {
        render_tape(node.source->plain->file->stream.tape, node.source->plain->index, out);
        return;
    }
    switch (node.kind) {
        case rt::NodeKind::Scalar: out += node.text.str(); return;
        case rt::NodeKind::Null: out += '~'; return;
        case rt::NodeKind::Alias: out += '*'; out += node.text.str(); return;
        case rt::NodeKind::Sequence:
            out += '[';
            for (std::size_t i = 0; i < node.children.size(); ++i) {
                if (i) out += ", ";
                render_into(node.children[i], out);
            }
            out += ']';
            return;
        case rt::NodeKind::Mapping:
            out += '{';
            for (std::size_t i = 0; i < node.size(); ++i) {
                if (i) out += ", ";
                render_into(node.key(i), out);
                out += ": ";
                render_into(node.value(i), out);
            }
            out += '}';
            return;
    }
}

std::string render(const rt::YamlNode& node) {
    std::string out;
    render_into(node, out);
    return out;
}

// "prefix<n>suffix", built by appending (GCC 12 warns falsely about
// `"literal" + std::string&&`).
std::string numbered(std::string_view prefix, unsigned n, std::string_view suffix = "") {
    std::string out(prefix);
    out += std::to_string(n);
    out += suffix;
    return out;
}

class DirectivesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "torvex-directives-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        top_ = fs::canonical(pattern);
        root_ = top_ / "conf";
        fs::create_directories(root_);
        options_.include_dir = root_.string();
        options_.includes = options_.secrets = options_.env_vars = true;
        options_.environment = [this](const std::string& name) -> std::optional<std::string> {
            const auto it = env_.find(name);
            if (it == env_.end()) return std::nullopt;
            return it->second;
        };
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(top_, ignored);
    }

    void write(const fs::path& relative, const std::string& text) {
        const fs::path path = root_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    Result<DirectiveLoad> load(const std::string& text) { return load_with_directives(text, options_); }
    std::string loaded(const std::string& text) {
        auto result = load(text);
        if (!result.ok()) return "error: " + result.error().message;
        return render(result.value().roots.at(0));
    }
    Error failure(const std::string& text) {
        auto result = load(text);
        EXPECT_FALSE(result.ok()) << render(result.value().roots.at(0));
        return result.ok() ? Error() : result.error();
    }

    // Shared by the composed and the plain readings.
    void escapes_are_refused();
    void only_regular_files_are_read();

    fs::path top_, root_;
    DirectiveOptions options_;
    std::map<std::string, std::string> env_;
};

TEST_F(DirectivesTest, IncludeRecordsFileIdsBoundariesAndTheFileTable) {
    write("a.yaml", "x: !include sub/b.yaml\ny: 2\n");
    write("sub/b.yaml", "- 1\n- !include c.yaml\n");
    write("sub/c.yaml", "deep\n");
    auto result = load("top: !include a.yaml\nagain: !include a.yaml\n");
    ASSERT_TRUE(result.ok()) << result.error().message;
    const DirectiveLoad& out = result.value();
    EXPECT_EQ(render(out.roots[0]), "{top: {x: [1, deep], y: 2}, again: {x: [1, deep], y: 2}}");
    // Every read gets the next id, a file included twice included: root, a, b, c, a, b, c.
    ASSERT_EQ(out.files.size(), 7u);
    EXPECT_EQ(out.files.paths[0], root_.string() + "/<root>");
    EXPECT_EQ(out.files.paths[1], (root_ / "a.yaml").string());
    EXPECT_EQ(out.files.paths[3], (root_ / "sub/c.yaml").string());
    EXPECT_EQ(out.files.stores[2]->text, "- 1\n- !include c.yaml\n");
    const rt::YamlNode& top = out.roots[0].value(0);
    ASSERT_TRUE(top.source);
    EXPECT_EQ(top.source->tag, "!include");
    EXPECT_EQ(top.source->target, "a.yaml");
    EXPECT_EQ(top.source->target_file_id, 1u);
    EXPECT_EQ(top.span.file_id, 1u);
    EXPECT_EQ(top.value(0).source->target_file_id, 2u);
    EXPECT_EQ(top.value(0).children[1].span.file_id, 3u);
    EXPECT_EQ(out.roots[0].value(1).source->target_file_id, 4u);
    EXPECT_TRUE(out.missing_secrets.empty());
}

TEST_F(DirectivesTest, IncludeEdgeCases) {
    write("empty.yaml", "");
    write("multi.yaml", "first\n---\nsecond\n");
    write("bad.yaml", "a: [1, 2\n");
    EXPECT_EQ(loaded("a: !include empty.yaml"), "{a: {}}");
    EXPECT_EQ(loaded("a: !include multi.yaml"), "{a: first}");
    EXPECT_EQ(loaded("!include multi.yaml : 1"), "{multi.yaml: 1}");  // keys are never resolved
    for (const char* text : {"a: !include", "a: !include '  '", "a: !include [x]", "a: !include {x: 1}"}) {
        const Error e = failure(text);
        EXPECT_EQ(e.kind, ErrorKind::DirectiveOther) << text;
        EXPECT_EQ(e.message, "!include needs an argument") << text;
    }
    const Error syntax = failure("a: !include bad.yaml");
    EXPECT_EQ(syntax.kind, ErrorKind::DirectiveOther);
    EXPECT_EQ(syntax.file, (root_ / "bad.yaml").string());
    EXPECT_EQ(failure("a: [").kind, ErrorKind::DirectiveOther);
    const Error missing = failure("a: 1\nb: !include nothere.yaml");
    EXPECT_EQ(missing.kind, ErrorKind::IncludeNotFound);
    EXPECT_EQ(missing.message, "cannot read included file 'nothere.yaml': No such file or directory");
    EXPECT_EQ(missing.span->line, 1u);
    EXPECT_EQ(missing.span->column, 12u);  // where the directive's argument starts
    options_.includes = false;
    EXPECT_EQ(loaded("a: !include empty.yaml"), "{a: empty.yaml}");
}

TEST_F(DirectivesTest, DepthLimitAndIncludeStack) {
    for (int i = 0; i < 51; ++i) write(numbered("c", static_cast<unsigned>(i), ".yaml"), numbered("!include c", static_cast<unsigned>(i + 1), ".yaml\n"));
    write("c50.yaml", "end\n");
    EXPECT_EQ(loaded("!include c1.yaml"), "end");  // 50 files on the chain
    write("c50.yaml", "!include c51.yaml\n");
    write("c51.yaml", "end\n");
    const Error e = failure("!include c1.yaml");
    EXPECT_EQ(e.kind, ErrorKind::IncludeDepth);
    EXPECT_EQ(e.message, "include chain exceeds the maximum depth of 50");
    ASSERT_EQ(e.include_stack.size(), 50u);
    EXPECT_EQ(e.include_stack.front().path, (root_ / "c1.yaml").string());
    EXPECT_EQ(e.include_stack.back().path, (root_ / "c50.yaml").string());
    EXPECT_EQ(e.file, (root_ / "c50.yaml").string());
}

TEST_F(DirectivesTest, CyclesAreCaughtHoweverTheyAreReached) {
    write("a.yaml", "b: !include b.yaml\n");
    write("b.yaml", "a: !include a.yaml\n");
    Error e = failure("!include a.yaml");
    EXPECT_EQ(e.kind, ErrorKind::CircularInclude);
    EXPECT_EQ(e.message, "circular include detected: 'a.yaml'");
    EXPECT_EQ(e.include_stack.size(), 2u);
    // Files that include their own directory: caught at once, not at depth 50
    // after 2^50 reads.
    write("d/x.yaml", "!include_dir_list .\n");
    write("d/y.yaml", "!include_dir_list .\n");
    options_.max_files = 1000;
    e = failure("!include_dir_list d");
    EXPECT_EQ(e.kind, ErrorKind::CircularInclude);
    EXPECT_EQ(e.message, "circular include detected: './x.yaml'");
    // A directory include that meets a file reached by a single include.
    write("e/top.yaml", "!include_dir_named sub\n");
    write("e/sub/back.yaml", "!include ../top.yaml\n");
    EXPECT_EQ(failure("!include e/top.yaml").kind, ErrorKind::CircularInclude);
}

TEST_F(DirectivesTest, ConfinementHoldsAgainstEveryEscape) { escapes_are_refused(); }

TEST_F(DirectivesTest, OnlyRegularFilesAreRead) { only_regular_files_are_read(); }

// Files left on the plain decoder's tape are read by the same reads, behind the same checks.
TEST_F(DirectivesTest, PlainReadingKeepsTheSameBoundary) {
    options_.plain_decode = DecodeOptions{};
    options_.with_comments = false;
    escapes_are_refused();
    only_regular_files_are_read();
    write("p/a.yaml", "[1, 2]\n");
    write("p/b.yaml", "k: v\n");
    EXPECT_EQ(loaded("{one: !include p/b.yaml, list: !include_dir_merge_list p, named: !include_dir_named p}"),
              "{one: {k: v}, list: [1, 2, {k: v}], named: {a: [1, 2], b: {k: v}}}");
    auto result = load("!include p/a.yaml");
    ASSERT_TRUE(result.ok());
    const rt::YamlNode& root = result.value().roots.at(0);
    ASSERT_TRUE(root.source && root.source->plain);  // the file did stay on its tape
    EXPECT_EQ(result.value().files.paths.at(root.source->plain->file->id), (root_ / "p/a.yaml").string());
}

void DirectivesTest::escapes_are_refused() {
    std::ofstream(top_ / "outside.yaml") << "secret data\n";
    fs::create_directories(top_ / "outdir");
    std::ofstream(top_ / "outdir/x.yaml") << "1\n";
    write("sub/in.yaml", "inside\n");
    fs::create_symlink(top_ / "outside.yaml", root_ / "file_link.yaml");
    fs::create_symlink(top_ / "outdir", root_ / "dir_link");
    fs::create_symlink(root_ / "gone.yaml", root_ / "dangling.yaml");
    fs::create_symlink(top_ / "outdir", root_ / "sub/up");
    const std::string absolute = (top_ / "outside.yaml").string();
    const std::vector<std::string> escapes = {
        "../outside.yaml", "../nothere.yaml", absolute, "sub/../../outside.yaml", "file_link.yaml",
        "dir_link/x.yaml", "dir_link/../outside.yaml", "sub/up/../outside.yaml"};
    for (const std::string& target : escapes) {
        const Error e = failure("a: !include " + target);
        EXPECT_EQ(e.kind, ErrorKind::IncludeConfinement) << target << ": " << e.message;
        EXPECT_EQ(e.message, "'" + target + "' resolves outside the configured include directory");
    }
    for (const char* form : {"!include_dir_list", "!include_dir_named", "!include_dir_merge_list"}) {
        EXPECT_EQ(failure(std::string("a: ") + form + " dir_link").kind, ErrorKind::IncludeConfinement) << form;
        EXPECT_EQ(failure(std::string("a: ") + form + " ..").kind, ErrorKind::IncludeConfinement) << form;
    }
    const Error dangling = failure("a: !include dangling.yaml");
    EXPECT_EQ(dangling.kind, ErrorKind::IncludeNotFound);
    EXPECT_EQ(dangling.message, "cannot read included file 'dangling.yaml': not found");
    EXPECT_EQ(loaded("a: !include sub/in.yaml"), "{a: inside}");
    // Read by its name inside: nothing there, and nothing outside is looked at.
    EXPECT_EQ(failure("a: !include sub/up/../nothere.yaml").kind, ErrorKind::IncludeNotFound);
    // A link inside a walked directory that points out is refused too, file or directory.
    write("walk/a.yaml", "1\n");
    fs::create_symlink(top_ / "outside.yaml", root_ / "walk/b.yaml");
    EXPECT_EQ(failure("!include_dir_list walk").kind, ErrorKind::IncludeConfinement);
    fs::remove(root_ / "walk/b.yaml");
    fs::create_symlink(top_ / "outdir", root_ / "walk/out");
    EXPECT_EQ(loaded("!include_dir_list walk"), "[1]");  // not recursive: the directory is ignored
    options_.recursive = true;
    EXPECT_EQ(failure("!include_dir_list walk").kind, ErrorKind::IncludeConfinement);
    options_.recursive = false;
}

void DirectivesTest::only_regular_files_are_read() {
    ASSERT_EQ(mkfifo((root_ / "pipe.yaml").c_str(), 0600), 0);
    fs::create_directories(root_ / "adir.yaml");
    for (const char* target : {"pipe.yaml", "adir.yaml"}) {
        const Error e = failure(std::string("a: !include ") + target);
        EXPECT_EQ(e.kind, ErrorKind::IncludeNotFound) << target;
        EXPECT_EQ(e.message, std::string("cannot read included file '") + target + "': not a regular file");
    }
    fs::create_symlink("/dev/zero", root_ / "zero.yaml");  // a device, and outside
    EXPECT_EQ(failure("a: !include zero.yaml").kind, ErrorKind::IncludeConfinement);
    // A FIFO met by a directory walk is not waited on either.
    write("w/ok.yaml", "1\n");
    ASSERT_EQ(mkfifo((root_ / "w/p.yaml").c_str(), 0600), 0);
    EXPECT_EQ(failure("!include_dir_list w").kind, ErrorKind::IncludeNotFound);
}

TEST_F(DirectivesTest, DirectoryFormsOrderFilterAndMerge) {
    write("d/b.yaml", "B\n");
    write("d/a.yml", "A\n");
    write("d/A.yaml", "upper\n");
    write("d/.hidden.yaml", "hidden\n");
    write("d/notes.txt", "text\n");
    write("d/.yaml", "no stem\n");
    write("d/x.YAML", "wrong case\n");
    write("d/secrets.yaml", "k: v\n");
    write("d/sub/c.yaml", "C\n");
    write("d/sub/deeper/e.yaml", "E\n");
    write("d/zz/f.yaml", "F\n");
    EXPECT_EQ(loaded("!include_dir_named d"), "{A: upper, a: A, b: B}");
    EXPECT_EQ(loaded("!include_dir_list d"), "[upper, A, B]");
    options_.recursive = true;
    EXPECT_EQ(loaded("!include_dir_named d"), "{A: upper, a: A, b: B, c: C, e: E, f: F}");
    options_.secrets = false;
    EXPECT_EQ(loaded("!include_dir_named d"), "{A: upper, a: A, b: B, secrets: {k: v}, c: C, e: E, f: F}");
    options_.recursive = false;

    write("m/1.yaml", "[1, 2]\n");
    write("m/2.yaml", "3\n");
    write("m/3.yaml", "[4]\n");
    write("m/4.yaml", "");
    write("m/5.yaml", "- x\n---\n- y\n");
    EXPECT_EQ(loaded("!include_dir_merge_list m"), "[1, 2, 3, 4, x, y]");
    EXPECT_EQ(loaded("!include_dir_list m"), "[[1, 2], 3, [4], [x], [y]]");
    EXPECT_EQ(loaded("!include_dir_named m"), "{1: [1, 2], 2: 3, 3: [4], 4: {}, 5: [x]}");
    write("n/1.yaml", "{a: 1, b: 2}\n");
    write("n/2.yaml", "[5]\n");
    write("n/3.yaml", "{a: 3}\n");
    EXPECT_EQ(loaded("!include_dir_merge_named n"), "{a: 1, b: 2, a: 3}");  // appended, never overwritten
    EXPECT_EQ(loaded("!include_dir_list nothere"), "[]");
    EXPECT_EQ(loaded("!include_dir_named nothere"), "{}");
    EXPECT_EQ(loaded("!include_dir_merge_named m/1.yaml"), "{}");  // not a directory

    auto result = load("k: !include_dir_named d");
    ASSERT_TRUE(result.ok());
    const rt::YamlNode& named = result.value().roots[0].value(0);
    ASSERT_TRUE(named.source);
    EXPECT_EQ(named.source->tag, "!include_dir_named");
    EXPECT_FALSE(named.source->target_file_id.has_value());
    EXPECT_EQ(named.span.line, 0u);
    EXPECT_EQ(named.span.column, 22u);
}

// Write-back planning over directory results: every file read listed as
// read, an edited entry going to the file (or forwarded include) it came
// from with the rest of the file kept, entries added or removed refused.
TEST_F(DirectivesTest, DirectoryEntriesAreWrittenBackToTheirFiles) {
    write("d/a.yaml", "# a\nx: 1  # one\n---\nlater: kept\n");
    write("l/a.yaml", "- 1\n---\n# two\n- k: v\n");
    write("l/b.yaml", "!include ../more.yaml\n");
    write("more.yaml", "# more\n- m\n");
    write("n/a.yaml", "[not merged]\n");
    write("n/b.yaml", "# b\np: 1\n");
    auto result =
        load("named: !include_dir_named d\nmerged: !include_dir_merge_list l\nkeys: !include_dir_merge_named n\n");
    ASSERT_TRUE(result.ok()) << result.error().message;
    DirectiveLoad& out = result.value();
    rt::DocumentContainer doc;
    doc.documents = std::move(out.roots);
    doc.file_paths = out.files.paths;
    for (const auto& store : out.files.stores) doc.file_sources.emplace_back(store->text);
    rt::YamlNode& root = doc.documents[0];

    auto records = rt::include_records(doc);
    ASSERT_TRUE(records.ok()) << records.error().message;
    ASSERT_EQ(records.value().size(), 6u);  // every file read but the root, each as read
    for (const rt::WriteRecord& record : records.value()) EXPECT_EQ(record.text, doc.file_sources[record.file_id]);

    const auto edit = [&](const rt::NodePath& path) {
        rt::YamlNode* node = rt::resolve_path(root, path);
        ASSERT_NE(node, nullptr);
        rt::write_value(root, *node, rt::YamlNode::scalar(rt::Text::owned("z"), ScalarStyle::Plain));
    };
    using rt::PathSegment;
    edit({PathSegment::named("named"), PathSegment::named("a"), PathSegment::named("x")});
    edit({PathSegment::named("merged"), PathSegment::at(1), PathSegment::named("k")});
    edit({PathSegment::named("merged"), PathSegment::at(2)});
    edit({PathSegment::named("keys"), PathSegment::named("p")});
    auto plan = rt::plan_save(doc, std::nullopt);
    ASSERT_TRUE(plan.ok()) << plan.error().message;
    EXPECT_FALSE(plan.value().root_needs_path);
    std::vector<std::pair<std::string, std::string>> written;
    for (const rt::FileText& file : plan.value().files) {
        written.emplace_back(fs::path(file.path).lexically_relative(root_).string(), file.text);
    }
    EXPECT_EQ(written, (std::vector<std::pair<std::string, std::string>>{
                           {"d/a.yaml", "# a\nx: z  # one\n---\nlater: kept\n"},
                           {"l/a.yaml", "- 1\n---\n# two\n- k: z\n"},
                           {"more.yaml", "# more\n- z\n"},
                           {"n/b.yaml", "# b\np: z\n"},
                       }));

    rt::YamlNode& merged = root.value(1);
    merged.children.pop_back();  // as a deletion leaves it
    merged.comments.modified = true;
    auto refused = rt::plan_save(doc, std::nullopt);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message.rfind("cannot write back '!include_dir_merge_list l' (" + root_.string() +
                                                "/<root>, line 2): entries were added to or removed from the list",
                                            0),
              0u)
        << refused.error().message;
    ASSERT_TRUE(refused.error().span.has_value());
    EXPECT_EQ(refused.error().span->line, 1u);
    EXPECT_FALSE(rt::include_records(doc).ok());
}

TEST_F(DirectivesTest, RecursiveWalkVisitsADirectoryOnce) {
    write("d/a.yaml", "1\n");
    write("d/s/b.yaml", "2\n");
    fs::create_symlink(root_ / "d", root_ / "d/s/loop");  // back to an ancestor
    fs::create_symlink(root_ / "d/s", root_ / "d/t");     // a second way into s
    options_.recursive = true;
    EXPECT_EQ(loaded("!include_dir_list d"), "[1, 2]");
}

TEST_F(DirectivesTest, FilesPerLoadAreBounded) {
    // Each level includes the next twice: 2^12 reads without the bound.
    for (int i = 0; i < 12; ++i) {
        write(numbered("f", static_cast<unsigned>(i), ".yaml"),
              numbered(numbered("[!include f", static_cast<unsigned>(i + 1), ".yaml, !include f"), static_cast<unsigned>(i + 1), ".yaml]\n"));
    }
    write("f12.yaml", "leaf\n");
    options_.max_files = 100;
    const Error e = failure("!include f0.yaml");
    EXPECT_EQ(e.kind, ErrorKind::DirectiveOther);
    EXPECT_EQ(e.message, "too many files read in one load: the limit is 100");
    options_.max_files = 10000;
    auto result = load("!include f0.yaml");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().files.size(), 8192u);  // the root and 2 + 4 + ... + 4096 reads
}

TEST_F(DirectivesTest, SecretsAreSearchedUpwardInsideTheIncludeDirectory) {
    std::ofstream(top_ / "secrets.yaml") << "above: never\n";
    write("secrets.yaml", "logger: DEBUG\napi: outer\ndb: outer-db\n");
    write("pkg/secrets.yaml", "logger: info\ndb: inner-db\nnested: {user: u, pass: p}\n");
    write("pkg/x.yaml", "db: !secret db\napi: !secret api\nn: !secret nested\n");
    auto result = load("root_db: !secret db\npkg: !include pkg/x.yaml\n");
    ASSERT_TRUE(result.ok()) << result.error().message;
    const DirectiveLoad& out = result.value();
    EXPECT_EQ(render(out.roots[0]), "{root_db: outer-db, pkg: {db: inner-db, api: outer, n: {user: u, pass: p}}}");
    ASSERT_EQ(out.warnings.size(), 1u);
    EXPECT_EQ(out.warnings[0], "secrets.yaml: 'logger: debug' expected, but 'logger: info' found");
    // Each secrets file read once: root, secrets, x, pkg/secrets.
    EXPECT_EQ(out.files.size(), 4u);
    const rt::YamlNode& db = out.roots[0].value(1).value(0);
    ASSERT_TRUE(db.source);
    EXPECT_EQ(db.source->tag, "!secret");
    EXPECT_EQ(db.source->target, "db");
    EXPECT_EQ(db.span.line, 0u);  // at the directive
    EXPECT_EQ(db.span.file_id, 2u);

    for (const char* name : {"above", "logger", "missing"}) {
        const Error e = failure(std::string("a: !secret ") + name);
        EXPECT_EQ(e.kind, ErrorKind::SecretNotFound) << name;
        EXPECT_EQ(e.message, std::string("secret '") + name + "' is not defined in any secrets.yaml");
    }
    options_.tolerate_missing_secret = true;
    result = load("a: 1\nb: !secret missing\n");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(render(result.value().roots[0]), "{a: 1, b: ~}");
    ASSERT_EQ(result.value().missing_secrets.size(), 1u);
    EXPECT_EQ(result.value().missing_secrets[0].name, "missing");
    EXPECT_EQ(result.value().missing_secrets[0].line, 1u);
    // The null keeps its directive, so writing the document back keeps it too.
    ASSERT_TRUE(result.value().roots[0].value(1).source);
    EXPECT_EQ(result.value().roots[0].value(1).source->target, "missing");
}

TEST_F(DirectivesTest, SecretsFileContents) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "~"},
        {"~\n", "~"},
        {"null\n", "~"},
        {"'~'\n", "error: secrets.yaml does not contain a dictionary"},
        {"- a\n", "error: secrets.yaml does not contain a dictionary"},
        {"k: !secret other\n", "error: secrets not supported in a secrets.yaml file"},
        {"k: [1, {x: !secret other}]\n", "error: secrets not supported in a secrets.yaml file"},
        {"k: [1\n", "error: invalid secrets.yaml: "},
        {"k: a\nk: b\n[x]: skipped\n", "b"},
        {"k: !include x.yaml\n", "x.yaml"},  // directives inside a secret are not resolved
    };
    for (const auto& [secrets, expected] : cases) {
        write("secrets.yaml", secrets);
        options_.tolerate_missing_secret = true;
        const std::string got = loaded("!secret k");
        EXPECT_EQ(got.substr(0, expected.size()), expected) << secrets << " gave " << got;
    }
}

TEST_F(DirectivesTest, EnvironmentVariables) {
    env_ = {{"PORT", "8123"}, {"EMPTY", ""}, {"BAD", "\xff"}};
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"!env_var PORT", "8123"},
        {"!env_var PORT 1", "8123"},
        {"!env_var NOPE 8123", "8123"},
        {"!env_var GREETING   hello \t big\u3000world  ", "hello big world"},
        {"!env_var EMPTY", ""},
        {"!env_var BAD fallback", "fallback"},
        {"!env_var ''", ""},
        {"!env_var", ""},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(loaded(text), expected) << text;
    auto result = load("p: !env_var PORT 1\n");
    const rt::YamlNode& port = result.value().roots[0].value(0);
    EXPECT_EQ(port.scalar_style, ScalarStyle::SingleQuoted);  // always a string
    EXPECT_EQ(port.source->target, "PORT 1");
    for (const char* name : {"MISSING", "BAD"}) {
        const Error e = failure(std::string("x: !env_var ") + name);
        EXPECT_EQ(e.kind, ErrorKind::EnvVarNotFound);
        EXPECT_EQ(e.message, std::string("environment variable ") + name + " is not defined");
    }
    options_.tolerate_missing_env_var = true;
    result = load("x: !env_var MISSING\n");
    EXPECT_EQ(render(result.value().roots[0]), "{x: ~}");
    EXPECT_EQ(result.value().missing_env_vars.at(0).name, "MISSING");
    options_.env_vars = false;
    EXPECT_EQ(loaded("!env_var PORT"), "PORT");
}

// Every byte of a file is read, whatever its size against the read buffer.
TEST_F(DirectivesTest, RegularFilesAreReadWhole) {
    std::mt19937 rng(11);
    for (const std::size_t size : {0u, 1u, 4095u, 4096u, 4097u, 8193u, 70001u}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        const fs::path path = root_ / numbered("f", static_cast<unsigned>(size));
        std::ofstream(path, std::ios::binary) << bytes;
        const FileRead read = read_regular_file(path.string());
        ASSERT_TRUE(read.bytes) << size << ": " << read.reason;
        EXPECT_EQ(*read.bytes, bytes) << size;
    }
    // The same files read as entries of their open directory.
    const DirectoryList listing = list_directory(root_.string(), /*follow=*/false, /*keep_open=*/true);
    ASSERT_TRUE(listing.open) << listing.failure.value_or("");
    rng.seed(11);
    for (const std::size_t size : {0u, 1u, 4095u, 4096u, 4097u, 8193u, 70001u}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        const FileRead read = read_regular_file_at(*listing.open, numbered("f", static_cast<unsigned>(size)));
        ASSERT_TRUE(read.bytes) << size << ": " << read.reason;
        EXPECT_EQ(*read.bytes, bytes) << size;
    }
}

// A directory listed as canonical is never entered through a link, and an
// entry read relative to its open directory is never a link followed: what
// replaced a listed regular file (a link out, a FIFO, a directory) is refused.
TEST_F(DirectivesTest, ReadsRelativeToADirectoryFollowNoLink) {
    std::ofstream(top_ / "outside.yaml") << "stolen: true\n";
    fs::create_directories(top_ / "outdir");
    write("d/a.yaml", "a: 1\n");
    write("d/b.yaml", "b: 2\n");
    write("d/c.yaml", "c: 3\n");
    fs::create_symlink(top_ / "outdir", root_ / "out_link");
    const DirectoryList through_link = list_directory((root_ / "out_link").string(), /*follow=*/false, true);
    EXPECT_TRUE(through_link.link);
    EXPECT_TRUE(through_link.entries.empty());
    EXPECT_FALSE(through_link.open);

    const DirectoryList listing = list_directory((root_ / "d").string(), /*follow=*/false, /*keep_open=*/true);
    ASSERT_TRUE(listing.open);
    ASSERT_EQ(listing.entries.size(), 3u);
    fs::remove(root_ / "d/a.yaml");
    fs::create_symlink(top_ / "outside.yaml", root_ / "d/a.yaml");
    fs::remove(root_ / "d/b.yaml");
    ASSERT_EQ(mkfifo((root_ / "d/b.yaml").c_str(), 0600), 0);
    fs::remove(root_ / "d/c.yaml");
    fs::create_directories(root_ / "d/c.yaml");
    for (const char* name : {"a.yaml", "b.yaml", "c.yaml"}) {
        const FileRead read = read_regular_file_at(*listing.open, name);
        EXPECT_FALSE(read.bytes) << name;
        EXPECT_FALSE(read.reason.empty()) << name;
    }
    // The loader meets the same replacements as errors, never the outside text.
    for (const char* name : {"a.yaml", "b.yaml", "c.yaml"}) EXPECT_NE(loaded(std::string("!include d/") + name), "{stolen: true}");
}

// A walk over more directories than it keeps open reads every file all the
// same, the later ones by path.
TEST_F(DirectivesTest, WalksBeyondTheOpenDirectoriesReadEveryFile) {
    std::string expected = "[";
    for (unsigned i = 0; i < 80; ++i) {
        const std::string dir = numbered("many/d", i / 10, "") + numbered("/e", i % 10, "");
        write(dir + "/x.yaml", "- " + std::to_string(i) + "\n");
        expected += (i ? ", " : "") + std::to_string(i);
    }
    options_.recursive = true;
    auto open_descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
    const auto before = open_descriptors();
    EXPECT_EQ(loaded("!include_dir_merge_list many"), expected + "]");
    // A later walk of the same load finds the budget spent and reads by path;
    // every directory kept open is closed again.
    EXPECT_EQ(loaded("a: !include_dir_merge_list many\nb: !include_dir_merge_list many\n"),
              "{a: " + expected + "], b: " + expected + "]}");
    EXPECT_EQ(open_descriptors(), before);
}

// Checks that two trees hold the same nodes at the same places.
void expect_same_layout(const rt::YamlNode& a, const rt::YamlNode& b, const std::string& where) {
    ASSERT_EQ(a.kind, b.kind) << where;
    EXPECT_EQ(a.text.str(), b.text.str()) << where;
    EXPECT_EQ(a.tag.str(), b.tag.str()) << where;
    EXPECT_EQ(a.span.file_id, b.span.file_id) << where;
    EXPECT_EQ(a.span.offset, b.span.offset) << where;
    EXPECT_EQ(a.span.line, b.span.line) << where;
    EXPECT_EQ(a.span.column, b.span.column) << where;
    EXPECT_EQ(a.end_offset, b.end_offset) << where;
    EXPECT_EQ(a.comments.properties(), b.comments.properties()) << where;
    EXPECT_EQ(static_cast<bool>(a.source), static_cast<bool>(b.source)) << where;
    ASSERT_EQ(a.children.size(), b.children.size()) << where;
    for (std::size_t i = 0; i < a.children.size(); ++i) {
        expect_same_layout(a.children[i], b.children[i], where + "/" + std::to_string(i));
    }
}

// Without comments the trees differ in their comments only.
TEST_F(DirectivesTest, CommentsAreLeftOutOnRequestOnly) {
    write("a.yaml", "# head\nx: !include sub/b.yaml  # trailing\ny: &y 2\n");
    write("sub/b.yaml", "- 1  # one\n- !secret k\n");
    write("secrets.yaml", "k: v  # the secret\n");
    write("dir/p.yaml", "# p\np: !env_var V d\n");
    const std::string root = "# top\ntop: !include a.yaml\nall: !include_dir_named dir\nz: *y\n";
    auto with = load(root);
    options_.with_comments = false;
    auto without = load(root);
    ASSERT_TRUE(with.ok() && without.ok());
    EXPECT_TRUE(with.value().roots[0].comments.has_texts());
    ASSERT_EQ(with.value().roots.size(), without.value().roots.size());
    expect_same_layout(with.value().roots[0], without.value().roots[0], "");
    const rt::YamlNode& included = without.value().roots[0].value(0);
    EXPECT_TRUE(included.comments.head().empty() && !included.value(0).comments.inline_comment());
    EXPECT_TRUE(with.value().roots[0].value(0).value(0).comments.inline_comment());
}

TEST(DirectivePaths, TextOperations) {
    EXPECT_EQ(join_path("a/b", "c"), "a/b/c");
    EXPECT_EQ(join_path("a/", "/c"), "/c");
    EXPECT_EQ(join_path("", "c"), "c");
    EXPECT_EQ(parent_path("/a/b/c.yaml"), "/a/b");
    EXPECT_EQ(parent_path("/c.yaml"), "/");
    EXPECT_EQ(parent_path("c.yaml"), "");
    EXPECT_EQ(lexically_absolute("/a/./b/../c//d/.."), "/a/c");
    EXPECT_EQ(lexically_absolute("/../.."), "/");
    EXPECT_TRUE(is_within("/a/b", "/a"));
    EXPECT_TRUE(is_within("/a", "/a"));
    EXPECT_FALSE(is_within("/ab", "/a"));
    EXPECT_TRUE(is_within("/x", "/"));
}

// ---------------------------------------------------------------------------
// Random trees: files that include each other by every form, links to files,
// to directories, to ancestors, to the outside and to nowhere.

class RandomTree {
public:
    RandomTree(const fs::path& top, unsigned seed) : top_(top), rng_(seed) {}

    std::string pick_target() {
        switch (rng_() % 8) {
            case 0: return "../out.yaml";
            case 1: return numbered("f", static_cast<unsigned>(rng_() % 6), ".yaml");
            case 2: return numbered("d", static_cast<unsigned>(rng_() % 3));
            case 3: return numbered(numbered("../d", static_cast<unsigned>(rng_() % 3), "/f"), static_cast<unsigned>(rng_() % 6), ".yaml");
            case 4: return numbered("link", static_cast<unsigned>(rng_() % 4)) + (rng_() % 2 ? "" : "/f1.yaml");
            case 5: return ".";
            case 6: return numbered("d", static_cast<unsigned>(rng_() % 3), "/../../out.yaml");
            default: return "nothere.yaml";
        }
    }

    std::string file_text() {
        static const char* kForms[] = {"!include", "!include_dir_list", "!include_dir_named",
                                       "!include_dir_merge_list", "!include_dir_merge_named"};
        std::string text;
        const unsigned entries = rng_() % 4;
        for (unsigned i = 0; i < entries; ++i) {
            text += numbered("k", static_cast<unsigned>(i), ": ");
            text += rng_() % 4 == 0 ? std::to_string(i) : std::string(kForms[rng_() % 5]) + " " + pick_target();
            text += "\n";
        }
        return text;
    }

    void build(const fs::path& root) {
        std::ofstream(top_ / "out.yaml") << "outside: data\n";
        for (int d = -1; d < 3; ++d) {
            const fs::path dir = d < 0 ? root : root / (numbered("d", static_cast<unsigned>(d)));
            fs::create_directories(dir);
            for (int f = 0; f < 6; ++f) {
                if (rng_() % 3 == 0) continue;
                std::ofstream(dir / (numbered("f", static_cast<unsigned>(f), ".yaml"))) << file_text();
            }
        }
        const std::vector<fs::path> link_targets = {top_ / "out.yaml", top_, root, root / "d0", root / "gone",
                                                    root / "f1.yaml", root / "d1/f2.yaml"};
        for (int l = 0; l < 4; ++l) {
            const fs::path where = (rng_() % 2 ? root : root / (numbered("d", static_cast<unsigned>(rng_() % 3)))) / (numbered("link", static_cast<unsigned>(l)));
            std::error_code ignored;
            fs::create_symlink(link_targets[rng_() % link_targets.size()], where, ignored);
        }
    }

private:
    fs::path top_;
    std::mt19937 rng_;
};

TEST_F(DirectivesTest, RandomTreesEndAndStayInside) {
    const unsigned seeds = 150;
    std::map<ErrorKind, int> outcomes;
    int successes = 0;
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        const fs::path tree = top_ / (numbered("t", static_cast<unsigned>(seed)));
        const fs::path root = tree / "root";
        RandomTree random(tree, seed);
        fs::create_directories(root);
        random.build(root);
        DirectiveOptions options;
        options.include_dir = root.string();
        options.includes = true;
        options.recursive = seed % 2 == 0;
        options.max_files = 2000;
        auto result = load_with_directives(random.file_text() + "top: !include f0.yaml\n", options);
        if (result.ok()) {
            ++successes;
            const FileTable& files = result.value().files;
            for (std::size_t id = 1; id < files.size(); ++id) {
                EXPECT_TRUE(is_within(files.paths[id], root.string())) << seed << ": " << files.paths[id];
                EXPECT_EQ(files.paths[id], fs::weakly_canonical(files.paths[id]).string());
            }
        } else {
            const ErrorKind kind = result.error().kind;
            EXPECT_GE(static_cast<int>(kind), static_cast<int>(ErrorKind::IncludeNotFound)) << seed;
            EXPECT_LE(static_cast<int>(kind), static_cast<int>(ErrorKind::DirectiveOther)) << seed;
            ++outcomes[kind];
            for (const IncludeFrame& frame : result.error().include_stack)
                EXPECT_TRUE(is_within(frame.path, root.string())) << seed << ": " << frame.path;
        }
        std::error_code ignored;
        fs::remove_all(tree, ignored);
    }
    // The generator reaches data and every kind of failure it can produce.
    EXPECT_GT(successes, 5);
    EXPECT_GT(outcomes[ErrorKind::IncludeConfinement], 5);
    EXPECT_GT(outcomes[ErrorKind::IncludeNotFound], 0);
    EXPECT_GT(outcomes[ErrorKind::CircularInclude], 0);
}

}  // namespace
}  // namespace torvex::directives
