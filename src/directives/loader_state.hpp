// The directive loader's per-load state, shared by the include walk
// (loader.cpp), the directory forms (directory_includes.cpp) and the secret
// and environment directives (secrets.cpp). Internal to src/directives.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/error.hpp"
#include "core/result.hpp"
#include "directives/file_system.hpp"
#include "directives/loader.hpp"
#include "directives/plain_files.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/directory_files.hpp"

namespace torvex::directives::detail {

// The documents of one file read for a directive.
struct ComposedFile {
    std::uint32_t id = 0;
    std::vector<rt::YamlNode> roots;
    bool has_tags = true;  // false: no node of the file is a directive, nothing to resolve
    // Set instead of `roots` for a file left on the plain decoder's tape.
    std::shared_ptr<const rt::PlainFile> plain;
};

// A secret's value: a node of the composed file, or the value of entry
// `pair` of a plain file, at `index` on its tape.
struct SecretValue {
    const rt::YamlNode* node = nullptr;
    std::size_t index = 0;
    std::size_t pair = 0;
};

// One secrets.yaml: its documents (kept while the load runs) and its secrets.
struct SecretsFile {
    std::vector<rt::YamlNode> roots;
    std::shared_ptr<const rt::PlainFile> plain;  // instead of roots, for a file read plain
    std::map<std::string, SecretValue, std::less<>> secrets;
};

// Where a file is read: by its path, or as an entry of an open directory.
struct ReadAt {
    const OpenDirectory* directory = nullptr;
    const std::string* name = nullptr;
};

class Loader {
public:
    Loader(const DirectiveOptions& options, DirectiveLoad& out);

    Result<void> load_root(std::string text);

    // ---- shared by the directive forms ----
    // Resolves every directive in `node` and below; `depth` only paces the stack probe.
    Result<void> resolve(rt::YamlNode& node, std::size_t depth);
    // A directive error positioned at `directive`, with the file holding it and the include stack.
    Error error_at(ErrorKind kind, std::string message, const rt::YamlNode& directive) const;
    const std::string& file_path(std::uint32_t file_id) const;
    // The include argument of a directive node: a scalar not blank after trimming.
    Result<std::string_view> argument(const rt::YamlNode& directive) const;
    // The directory a directive's relative paths start from.
    std::string directive_directory(const rt::YamlNode& directive) const;
    // The path to read for `joined`, or a confinement / not-found error.
    Result<std::string> confine(const std::string& joined, std::string_view shown, const rt::YamlNode& directive) const;
    Result<void> check_depth(const rt::YamlNode& directive) const;
    Result<void> check_circular(const std::string& path, std::string_view shown, const rt::YamlNode& directive) const;
    // Reads, registers and composes a file that a directive reached; with
    // `may_stay_plain`, a file without tags may be left on the plain tape instead.
    Result<ComposedFile> read_and_compose(const std::string& path, std::string_view shown, const rt::YamlNode& directive,
                                          ReadAt at = {}, bool may_stay_plain = true);
    // Composes a file read plain after all (its directive needs the tree).
    Result<ComposedFile> compose_plain(ComposedFile file, const rt::YamlNode& directive);
    // Composes the content a null left for a plain file stands for, in place.
    Result<void> compose_plain_node(rt::YamlNode& node) { return plain_composer_.compose(node); }
    // Resolves `root`, a root of `file` read from `path`, with the include stack extended by that file.
    Result<void> resolve_included(rt::YamlNode& root, const ComposedFile& file, const std::string& path,
                                  const rt::YamlNode& directive);

    // ---- the directive forms (each replaces `node`) ----
    Result<void> include_file(rt::YamlNode& node);
    Result<void> include_directory(rt::YamlNode& node, std::string_view tag);
    // A named form's entry: the file's stem as key, then `value`.
    void add_named_entry(rt::YamlNode& result, rt::DirectoryFile& read, const std::string& stem, rt::YamlNode value,
                         const rt::YamlNode& directive);
    Result<void> secret(rt::YamlNode& node);
    Result<void> env_var(rt::YamlNode& node);

    const DirectiveOptions& options() const noexcept { return options_; }
    // A key that reads as a merge key was made outside any composed text.
    void note_merge_key() noexcept { out_.merge_keys = true; }
    const std::string& confinement_root() const noexcept { return root_; }
    // Whether a directory walk may keep one more directory open to read its
    // files relative to it: a load keeps at most kMaxOpenDirectories open in
    // all (nested walks included), the files of any further one are opened by path.
    bool may_keep_directory_open() noexcept {
        if (kept_directories_ == kMaxOpenDirectories) return false;
        ++kept_directories_;
        return true;
    }

private:
    Result<void> dispatch(rt::YamlNode& node, bool& handled);
    Result<void> count_file(const rt::YamlNode& directive) const;
    // The directory a secret's search starts from: that of the canonical path of the file holding it.
    std::string secrets_start(std::uint32_t file_id);
    Result<const SecretsFile*> secrets_file(const std::string& candidate, const rt::YamlNode& directive);
    // Fills a secrets file's table from its plain tape; false where the file must be composed.
    bool plain_secrets(SecretsFile& file);
    // Composes file `id` registered with `text`; errors as a directive's syntax errors.
    Result<ComposedFile> compose_registered(std::uint32_t id, std::string text, const rt::YamlNode& directive);

    const DirectiveOptions& options_;
    DirectiveLoad& out_;
    PlainContentComposer plain_composer_{out_};
    std::string base_;  // the include directory as given
    std::string root_;  // the confinement root: canonical include directory
    std::vector<IncludeFrame> stack_;
    std::map<std::string, std::unique_ptr<SecretsFile>, std::less<>> secrets_cache_;
    std::optional<std::string> root_secrets_start_;
    static constexpr std::size_t kMaxOpenDirectories = 64;
    std::size_t kept_directories_ = 0;  // counted once kept, never given back
};

// The replacement for a directive: takes the directive's layout (comments,
// blank lines, anchor) so the including file writes back as it was; the
// content's own trailing comments stay with it.
void adopt_directive_layout(rt::YamlNode& replacement, rt::YamlNode& directive);

// A node positioned where `directive` stands.
void place_at(rt::YamlNode& node, const rt::YamlNode& directive);

}  // namespace torvex::directives::detail
