// The directive loader: composes a root text and every file its directives
// reach into one round-trip tree. `!include` and the four `!include_dir_*`
// forms read further files; `!secret` looks names up in secrets.yaml files
// from the directive's directory up to the include directory; `!env_var`
// reads the process environment. Every file read gets the next file id, which
// the spans below it carry, and the file table keeps its path and text.
//
// Includes never leave the include directory (canonical paths compared
// component-wise), a chain is at most kMaxIncludeDepth files long, a file
// already on the chain is a circular include however it was reached, one
// load reads at most kMaxFilesPerLoad files, and only regular files are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/result.hpp"
#include "decode/decoder.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::directives {

inline constexpr std::size_t kMaxIncludeDepth = 50;
inline constexpr std::size_t kMaxFilesPerLoad = 100000;

struct DirectiveOptions {
    std::string include_dir = ".";
    std::optional<std::string> root_path;  // the path the root text counts as read from
    bool includes = false;
    bool secrets = false;
    bool env_vars = false;
    bool recursive = false;  // directory includes descend into subdirectories
    bool tolerate_missing_secret = false;
    bool tolerate_missing_env_var = false;
    std::size_t max_files = kMaxFilesPerLoad;
    // Record comments, blank lines and spacing in every file's tree: only a
    // round-trip document writes them back.
    bool with_comments = true;
    // Set for loads that read the result only through the plain conversion:
    // included files and secrets files without a tag are read through the
    // plain decoder with these options and left on its tape where they can
    // be (directives/plain_files.hpp).
    std::optional<DecodeOptions> plain_decode;
    // Looks a variable up; the process environment when empty. A value that
    // is not valid UTF-8 counts as unset.
    std::function<std::optional<std::string>(const std::string&)> environment;
};

// Every file one load read, by file id: its path and the text the tree's
// views point into (stores[id]->text is the file's text as read).
struct FileTable {
    std::vector<std::string> paths;
    std::vector<std::unique_ptr<rt::TextStore>> stores;  // a file left on a plain tape keeps only its text
    // Whether the value decoder is known to accept the file: it read the
    // file, or the composer vouched for it. The composer accepts some texts
    // the decoder rejects; a load that reads them must not.
    std::vector<bool> decoder_vouched;

    std::size_t size() const noexcept { return paths.size(); }

    // A new entry for `path`, with no text yet; returns its id.
    std::uint32_t add(std::string path) {
        paths.push_back(std::move(path));
        stores.emplace_back();
        decoder_vouched.push_back(false);
        return static_cast<std::uint32_t>(paths.size() - 1);
    }
};

// A tolerated missing secret or variable, for the callbacks and log lines.
struct MissingValue {
    std::string name;
    std::string file;        // the file holding the directive
    std::uint32_t line = 0;  // 0-based line of the directive
};

struct DirectiveLoad {
    FileTable files;
    std::vector<rt::YamlNode> roots;  // every document of the root text, directives resolved
    std::vector<std::string> warnings;
    std::vector<MissingValue> missing_secrets;
    std::vector<MissingValue> missing_env_vars;
    // Whether a mapping key of the roots may be a merge key: some file read
    // held a plain `<<` or a tag, or a directory gave a file named `<<`.
    bool merge_keys = false;
    // Texts of plain files composed after all (PlainContentComposer), which
    // parts of the roots point into.
    std::vector<std::unique_ptr<rt::TextStore>> extra_stores;
};

// Loads `text` (valid UTF-8) as file 0. The first error ends the load:
// a directive error (kinds IncludeNotFound ... DirectiveOther) carrying its
// message, the directive's position, the file holding it and the include
// stack; a syntax error in any file read is a DirectiveOther error.
Result<DirectiveLoad> load_with_directives(std::string text, const DirectiveOptions& options);

}  // namespace torvex::directives
