// The four directory forms: `!include_dir_list`, `!include_dir_named`,
// `!include_dir_merge_list` and `!include_dir_merge_named`. The directory is
// walked depth first, entries in bytewise name order, each directory's own
// files before its subdirectories; a directory reached twice in one walk
// (through a link back to an ancestor, say) is walked once.
#include <algorithm>
#include <iterator>
#include <memory>
#include <unordered_set>
#include <utility>

#include "directives/file_system.hpp"
#include "directives/loader_state.hpp"
#include "roundtrip/directory_files.hpp"

namespace torvex::directives::detail {

namespace {

struct FoundFile {
    std::string stem;   // the name without its extension
    std::string path;   // confined, ready to read
    std::string shown;  // the directive's argument joined with the path below the directory
    // A regular file listed in a canonical directory: the directory, still
    // open, and the entry's name in it (read relative to it); null otherwise.
    std::shared_ptr<const OpenDirectory> directory;
    std::string name;
};


// A YAML file name: extension exactly "yaml" or "yml" after a non-empty stem.
std::optional<std::string_view> yaml_stem(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    const std::string_view extension = name.substr(dot + 1);
    if (extension != "yaml" && extension != "yml") return std::nullopt;
    return name.substr(0, dot);
}

rt::YamlNode collection_at(rt::NodeKind kind, const rt::YamlNode& directive) {
    rt::YamlNode node;
    node.kind = kind;
    place_at(node, directive);
    return node;
}

// Walks the directory at `start` (confined, so canonical); the files found, in order.
class DirectoryWalk {
public:
    DirectoryWalk(Loader& loader, const rt::YamlNode& directive, std::string_view argument)
        : loader_(loader), directive_(directive), argument_(argument) {}

    Result<std::vector<FoundFile>> run(const std::string& start) {
        std::vector<FoundFile> files;
        struct Pending {
            std::string path;
            std::string shown;
            // The path is canonical already: the start (confined) or a
            // directory entry that is no link below a canonical directory.
            bool canonical = false;
        };
        std::vector<Pending> work{{start, argument_, true}};
        while (!work.empty()) {
            Pending dir = std::move(work.back());
            work.pop_back();
            // A directory known canonical is listed without following a
            // link; one that became a link since its parent was listed is
            // resolved like any other path.
            DirectoryList listing;
            std::optional<std::string> canonical;
            if (dir.canonical) {
                listing = list_directory(dir.path, /*follow=*/false, loader_.may_keep_directory_open());
                if (!listing.link) canonical = dir.path;
            }
            if (!canonical) canonical = canonical_path(dir.path);
            if (!walked_.insert(canonical ? *canonical : dir.path).second) continue;
            if (!dir.canonical || listing.link) listing = list_directory(dir.path);
            if (listing.failure) {
                Error error = loader_.error_at(ErrorKind::IncludeNotFound, "cannot read directory: " + *listing.failure,
                                               directive_);
                error.file = dir.path;
                return error;
            }
            // Bytewise: char_traits<char> compares as unsigned char.
            std::stable_sort(listing.entries.begin(), listing.entries.end(),
                             [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
            // The directory's own path is canonical when it exists; an entry that
            // is no link then needs no canonical form of its own.
            const bool plain_parent = canonical && *canonical == dir.path;
            auto confine_entry = [&](const std::string& entry, const std::string& shown,
                                     EntryType type) -> Result<std::string> {
                if (plain_parent && type != EntryType::Other) return entry;
                return loader_.confine(entry, shown, directive_);
            };
            std::vector<Pending> subdirectories;
            for (const DirectoryEntry& item : listing.entries) {
                const std::string& name = item.name;
                if (name.starts_with('.')) continue;
                const std::string entry = join_path(dir.path, name);
                const std::string shown = join_path(dir.shown, name);
                const bool directory = item.type == EntryType::Directory ||
                                       (item.type == EntryType::Other && is_directory(entry));
                if (directory) {
                    if (!loader_.options().recursive) continue;
                    auto confined = confine_entry(entry, shown, item.type);
                    if (!confined.ok()) return std::move(confined).error();
                    // confine() canonicalises what it checks; the entry is kept as is only when it is no link.
                    subdirectories.push_back({std::move(confined).value(), shown, true});
                    continue;
                }
                const auto stem = yaml_stem(name);
                if (!stem) continue;
                if (name == "secrets.yaml" && loader_.options().secrets) continue;
                auto confined = confine_entry(entry, shown, item.type);
                if (!confined.ok()) return std::move(confined).error();
                const bool relative = plain_parent && item.type == EntryType::File && listing.open;
                files.push_back({std::string(*stem), std::move(confined).value(), shown,
                                 relative ? listing.open : nullptr, relative ? name : std::string()});
            }
            for (auto it = subdirectories.rbegin(); it != subdirectories.rend(); ++it) work.push_back(std::move(*it));
        }
        return files;
    }

private:
    Loader& loader_;
    const rt::YamlNode& directive_;
    std::string argument_;
    std::unordered_set<std::string> walked_;
};

// Adds the documents of one file to a list form's result, or a merged named
// form's, and records how each stands there. A merged root of the collection
// kind gives its entries (its shell kept); any other root of a list form is
// one item; a merged named form leaves it out.
void add_documents(rt::YamlNode& result, rt::DirectoryFile& read, std::vector<rt::YamlNode>& roots, bool named,
                   bool merge) {
    for (rt::YamlNode& root : roots) {
        const bool spread = merge && root.kind == (named ? rt::NodeKind::Mapping : rt::NodeKind::Sequence);
        if (!spread && named) {
            read.documents.push_back(rt::DirectoryDocument{rt::DocumentPlace::Left, 0, std::move(root)});
        } else if (!spread) {
            result.children.push_back(std::move(root));
            read.documents.push_back(rt::DirectoryDocument{rt::DocumentPlace::Entry, 1, {}});
        } else {
            rt::NodeList entries = std::move(root.children);
            root.children.clear();
            // A root that was a directive gave another file's entries.
            const auto place = root.source ? rt::DocumentPlace::Forwarded : rt::DocumentPlace::Spread;
            read.documents.push_back(rt::DirectoryDocument{place, entries.size(), std::move(root)});
            for (rt::YamlNode& entry : entries) result.children.push_back(std::move(entry));
        }
    }
}

// The same for a file left on the plain tape: each piece the form takes
// becomes a null standing for it. False, adding nothing, where a merged named
// form meets a key that is no string: such keys are read from the composed file.
bool add_plain_documents(rt::YamlNode& result, rt::DirectoryFile& read, const std::shared_ptr<const rt::PlainFile>& file,
                         const rt::YamlNode& directive, bool named, bool merge) {
    using Step = rt::PlainContent::Step;
    const Tape& tape = file->stream.tape;
    const std::vector<std::size_t>& documents = file->stream.documents;
    if (named) {
        // Only the first document: the file keeps the later ones.
        const bool spread = !documents.empty() && tape.nodes[documents[0]].kind() == TapeNode::Kind::Mapping;
        if (!spread) {
            for (std::size_t d = 0; d < documents.size(); ++d) read.documents.push_back({rt::DocumentPlace::Left, 0, {}});
            return true;
        }
        bool string_keys = true;
        for_each_entry(tape, documents[0], [&](std::size_t, std::size_t key, std::size_t) {
            string_keys = string_keys && tape.nodes[key].kind() == TapeNode::Kind::String;
        });
        if (!string_keys) return false;
        for_each_entry(tape, documents[0], [&](std::size_t pair, std::size_t key, std::size_t value) {
            // Quoted, so it reads as the string it was.
            rt::YamlNode key_node = rt::YamlNode::scalar(rt::Text::owned(tape.nodes[key].text_view()),
                                                         ScalarStyle::DoubleQuoted);
            place_at(key_node, directive);
            result.children.push_back(std::move(key_node));
            result.children.push_back(plain_node(file, value, 0, Step::Value, pair));
        });
        read.documents.push_back({rt::DocumentPlace::Spread, tape.nodes[documents[0]].size(), {}});
        for (std::size_t d = 1; d < documents.size(); ++d) read.documents.push_back({rt::DocumentPlace::Left, 0, {}});
        return true;
    }
    for (std::size_t d = 0; d < documents.size(); ++d) {
        const std::size_t root = documents[d];
        if (!merge || tape.nodes[root].kind() != TapeNode::Kind::Sequence) {
            result.children.push_back(plain_node(file, root, d));
            read.documents.push_back({rt::DocumentPlace::Entry, 1, {}});
            continue;
        }
        for_each_item(tape, root, [&](std::size_t i, std::size_t item) {
            result.children.push_back(plain_node(file, item, d, Step::Item, i));
        });
        read.documents.push_back({rt::DocumentPlace::Spread, tape.nodes[root].size(), {}});
    }
    return true;
}

}  // namespace

void Loader::add_named_entry(rt::YamlNode& result, rt::DirectoryFile& read, const std::string& stem, rt::YamlNode value,
                             const rt::YamlNode& directive) {
    rt::YamlNode key = rt::YamlNode::scalar(rt::Text::owned(stem), ScalarStyle::Plain);
    if (stem == "<<") note_merge_key();  // `<<.yaml` names a merge key
    place_at(key, directive);
    result.children.push_back(std::move(key));
    result.children.push_back(std::move(value));
    read.documents.push_back(rt::DirectoryDocument{rt::DocumentPlace::Entry, 2, {}});
}

Result<void> Loader::include_directory(rt::YamlNode& node, std::string_view tag) {
    auto arg = argument(node);
    if (!arg.ok()) return std::move(arg).error();
    const std::string shown(arg.value());
    if (Result<void> depth = check_depth(node); !depth.ok()) return depth;
    auto dir = confine(join_path(directive_directory(node), shown), shown, node);
    if (!dir.ok()) return std::move(dir).error();

    const bool named = tag == "!include_dir_named" || tag == "!include_dir_merge_named";
    const bool merge = tag == "!include_dir_merge_list" || tag == "!include_dir_merge_named";
    // The keys a merged named form takes from its files are checked for
    // duplicates on the tree, with their positions: those files are composed.
    const bool may_stay_plain = !(named && merge && options().plain_decode &&
                                  (options().plain_decode->duplicate_keys_error ||
                                   options().plain_decode->duplicate_keys_warn));
    rt::YamlNode result = collection_at(named ? rt::NodeKind::Mapping : rt::NodeKind::Sequence, node);
    auto record = std::make_shared<rt::DirectoryFiles>();

    if (is_directory(dir.value())) {
        auto found = DirectoryWalk(*this, node, shown).run(dir.value());
        if (!found.ok()) return std::move(found).error();
        for (FoundFile& file : found.value()) {
            if (Result<void> circular = check_circular(file.path, file.shown, node); !circular.ok()) return circular;
            const ReadAt at = file.directory ? ReadAt{file.directory.get(), &file.name} : ReadAt{};
            auto composed = read_and_compose(file.path, file.shown, node, at, may_stay_plain);
            file.directory.reset();  // the directory closes with its last file read
            if (!composed.ok()) return std::move(composed).error();
            rt::DirectoryFile& read = record->files.emplace_back();
            read.file_id = composed.value().id;
            if (const auto plain = composed.value().plain) {
                if (named && !merge) {
                    const auto& documents = plain->stream.documents;
                    rt::YamlNode value = documents.empty() ? collection_at(rt::NodeKind::Mapping, node)
                                                           : plain_node(plain, documents.front(), 0);
                    add_named_entry(result, read, file.stem, std::move(value), node);
                    continue;
                }
                if (add_plain_documents(result, read, plain, node, named, merge)) continue;
                composed = compose_plain(std::move(composed).value(), node);
                if (!composed.ok()) return std::move(composed).error();
            }
            std::vector<rt::YamlNode>& roots = composed.value().roots;
            // Later documents are not part of a named include; the file keeps them.
            std::vector<rt::YamlNode> later;
            if (named && roots.size() > 1) {
                later.assign(std::make_move_iterator(roots.begin() + 1), std::make_move_iterator(roots.end()));
                roots.resize(1);
            }
            for (rt::YamlNode& root : roots) {
                if (Result<void> resolved = resolve_included(root, composed.value(), file.path, node); !resolved.ok())
                    return resolved;
                // A root that forwards to a plain file: a merge spreads what that file holds.
                if (merge && root.source && root.source->plain) {
                    if (Result<void> done = compose_plain_node(root); !done.ok()) return done;
                }
            }
            if (named && !merge) {
                rt::YamlNode value = roots.empty() ? collection_at(rt::NodeKind::Mapping, node) : std::move(roots.front());
                add_named_entry(result, read, file.stem, std::move(value), node);
            } else {
                add_documents(result, read, roots, named, merge);
            }
            for (rt::YamlNode& root : later) {
                read.documents.push_back(rt::DirectoryDocument{rt::DocumentPlace::Left, 0, std::move(root)});
            }
        }
    }
    adopt_directive_layout(result, node);
    result.source = std::make_unique<rt::IncludeSource>(
        rt::IncludeSource{std::string(tag), shown, std::nullopt, std::nullopt, rt::Text(), std::move(record)});
    node = std::move(result);
    return Ok{};
}

}  // namespace torvex::directives::detail
