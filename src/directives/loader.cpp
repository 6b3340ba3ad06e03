// The directive walk and the single-file include: root loading, dispatch on
// directive tags, confinement, depth and circularity checks, reading and
// composing files into the file table.
#include "directives/loader.hpp"

#include <utility>

#include "core/stack_guard.hpp"
#include "core/text_decode.hpp"
#include "core/unicode_space.hpp"
#include "directives/file_system.hpp"
#include "directives/loader_state.hpp"
#include "roundtrip/composer.hpp"

namespace torvex::directives {

namespace detail {

namespace {

constexpr std::string_view kInclude = "!include";
constexpr std::string_view kDirectoryForms[] = {"!include_dir_list", "!include_dir_named", "!include_dir_merge_list",
                                                "!include_dir_merge_named"};

std::string quoted(std::string_view shown) {
    std::string out;
    out.reserve(shown.size() + 2);
    out += '\'';
    out += shown;
    out += '\'';
    return out;
}

}  // namespace

void adopt_directive_layout(rt::YamlNode& replacement, rt::YamlNode& directive) {
    std::vector<rt::Text> foot;
    if (replacement.comments.has_texts()) foot = std::move(replacement.comments.texts().foot);
    replacement.comments = std::move(directive.comments);
    if (!foot.empty()) replacement.comments.texts().foot = std::move(foot);
    replacement.anchor = std::move(directive.anchor);
}

void place_at(rt::YamlNode& node, const rt::YamlNode& directive) {
    node.span = directive.span;
    node.end_offset = directive.end_offset;
    node.end_line = directive.end_line;
    node.end_column = directive.end_column;
}

Loader::Loader(const DirectiveOptions& options, DirectiveLoad& out)
    : options_(options), out_(out), base_(options.include_dir.empty() ? std::string(".") : options.include_dir) {
    const auto canonical = canonical_path(base_);
    root_ = canonical ? *canonical : lexically_absolute(base_);
}

Result<void> Loader::load_root(std::string text) {
    const std::string path = options_.root_path ? *options_.root_path : join_path(base_, "<root>");
    out_.files.add(path);
    auto composed = rt::compose_stream(std::move(text), 0, options_.with_comments);
    if (!composed.ok()) {
        Error error = std::move(composed).error();
        error.kind = ErrorKind::DirectiveOther;
        error.file = path;
        return error;
    }
    rt::ComposedStream stream = std::move(composed).value();
    out_.merge_keys = out_.merge_keys || stream.merge_keys;
    out_.files.stores[0] = std::move(stream.store);
    out_.files.decoder_vouched[0] = stream.decoder_accepts;
    out_.roots = std::move(stream.roots);
    for (rt::YamlNode& root : out_.roots) {
        Result<void> resolved = resolve(root, 0);
        if (!resolved.ok()) return resolved;
    }
    if (options_.plain_decode) {
        for (rt::YamlNode& root : out_.roots) {
            if (Result<void> composed = plain_composer_.compose_where_read(root, false, 0); !composed.ok())
                return composed;
        }
    }
    return Ok{};
}

const std::string& Loader::file_path(std::uint32_t file_id) const {
    return file_id < out_.files.paths.size() ? out_.files.paths[file_id] : base_;
}

Error Loader::error_at(ErrorKind kind, std::string message, const rt::YamlNode& directive) const {
    Error error = Error::at(kind, std::move(message), directive.span);
    error.file = file_path(directive.span.file_id);
    error.include_stack = stack_;
    return error;
}

Result<void> Loader::dispatch(rt::YamlNode& node, bool& handled) {
    handled = false;
    if (node.tag.empty()) return Ok{};
    const std::string_view tag = node.tag.str();
    if (options_.includes) {
        if (tag == kInclude) {
            handled = true;
            return include_file(node);
        }
        for (const std::string_view form : kDirectoryForms) {
            if (tag == form) {
                handled = true;
                return include_directory(node, form);
            }
        }
    }
    if (options_.secrets && tag == "!secret") {
        handled = true;
        return secret(node);
    }
    if (options_.env_vars && tag == "!env_var") {
        handled = true;
        return env_var(node);
    }
    return Ok{};
}

Result<void> Loader::resolve(rt::YamlNode& node, std::size_t depth) {
    bool handled = false;
    Result<void> dispatched = dispatch(node, handled);
    if (handled || !dispatched.ok()) return dispatched;
    if (!node.is_collection()) return Ok{};
    return with_stack_at(depth, [&]() -> Result<void> {
        const bool mapping = node.kind == rt::NodeKind::Mapping;
        // Mapping keys are never resolved: only every second child, the values.
        for (std::size_t i = mapping ? 1 : 0; i < node.children.size(); i += mapping ? 2 : 1) {
            Result<void> resolved = resolve(node.children[i], depth + 1);
            if (!resolved.ok()) return resolved;
        }
        return Ok{};
    });
}

Result<std::string_view> Loader::argument(const rt::YamlNode& directive) const {
    if (directive.kind == rt::NodeKind::Scalar && !trim(directive.text.str()).empty()) return directive.text.str();
    return error_at(ErrorKind::DirectiveOther, directive.tag.string() + " needs an argument", directive);
}

std::string Loader::directive_directory(const rt::YamlNode& directive) const {
    if (directive.span.file_id >= out_.files.paths.size()) return base_;
    std::string parent = parent_path(out_.files.paths[directive.span.file_id]);
    return parent.empty() ? base_ : parent;
}

Result<std::string> Loader::confine(const std::string& joined, std::string_view shown,
                                    const rt::YamlNode& directive) const {
    auto outside = [&] {
        return error_at(ErrorKind::IncludeConfinement,
                        quoted(shown) + " resolves outside the configured include directory", directive);
    };
    if (const auto canonical = canonical_path(joined)) {
        if (!is_within(*canonical, root_)) return outside();
        return *canonical;
    }
    std::string normal = lexically_absolute(joined);
    if (!is_within(normal, root_)) return outside();
    // The text form may still pass through links (`link/../x` reads `x`
    // beside the link's target, not beside the link): what it names on disk
    // must lie inside too.
    if (const auto canonical = canonical_path(normal)) {
        if (!is_within(*canonical, root_)) return outside();
        return *canonical;
    }
    if (is_symbolic_link(joined) || is_symbolic_link(normal)) {
        return error_at(ErrorKind::IncludeNotFound, "cannot read included file " + quoted(shown) + ": not found",
                        directive);
    }
    return normal;
}

Result<void> Loader::check_depth(const rt::YamlNode& directive) const {
    if (stack_.size() < kMaxIncludeDepth) return Ok{};
    return error_at(ErrorKind::IncludeDepth,
                    "include chain exceeds the maximum depth of " + std::to_string(kMaxIncludeDepth), directive);
}

Result<void> Loader::check_circular(const std::string& path, std::string_view shown,
                                    const rt::YamlNode& directive) const {
    for (const IncludeFrame& frame : stack_) {
        if (frame.path == path)
            return error_at(ErrorKind::CircularInclude, "circular include detected: " + quoted(shown), directive);
    }
    return Ok{};
}

Result<void> Loader::count_file(const rt::YamlNode& directive) const {
    if (out_.files.size() < options_.max_files + 1) return Ok{};  // the root is not counted
    return error_at(ErrorKind::DirectiveOther,
                    "too many files read in one load: the limit is " + std::to_string(options_.max_files),
                    directive);
}

Result<ComposedFile> Loader::read_and_compose(const std::string& path, std::string_view shown,
                                              const rt::YamlNode& directive, ReadAt at, bool may_stay_plain) {
    if (Result<void> counted = count_file(directive); !counted.ok()) return std::move(counted).error();
    // The position is the directive's, so the file is the one that holds it:
    // the file that could not be read has no line to point at.
    auto not_found = [&](std::string_view reason) {
        return error_at(ErrorKind::IncludeNotFound,
                        "cannot read included file " + quoted(shown) + ": " + std::string(reason), directive);
    };
    FileRead read = at.directory != nullptr ? read_regular_file_at(*at.directory, *at.name) : read_regular_file(path);
    if (!read.bytes) return not_found(read.reason);
    auto text = decode_owned_bytes(std::move(*read.bytes));
    if (!text.ok()) return not_found(text.error().message);

    const std::uint32_t id = out_.files.add(path);
    std::string file_text = std::move(text).value();
    if (options_.plain_decode && may_stay_plain) {
        auto store = std::make_unique<rt::TextStore>();
        store->text = std::move(file_text);  // the tape points into it: read where it stays
        if (auto plain = read_plain(store->text, id, *options_.plain_decode)) {
            out_.files.stores[id] = std::move(store);
            out_.files.decoder_vouched[id] = true;
            ComposedFile file;
            file.id = id;
            file.has_tags = false;
            file.plain = std::move(plain);
            return file;
        }
        file_text = std::move(store->text);
    }
    return compose_registered(id, std::move(file_text), directive);
}

Result<ComposedFile> Loader::compose_plain(ComposedFile file, const rt::YamlNode& directive) {
    file.plain.reset();  // its tape points into the text
    std::string text = std::move(out_.files.stores[file.id]->text);
    out_.files.stores[file.id].reset();
    return compose_registered(file.id, std::move(text), directive);
}

Result<ComposedFile> Loader::compose_registered(std::uint32_t id, std::string text, const rt::YamlNode& directive) {
    auto composed = rt::compose_stream(std::move(text), id, options_.with_comments);
    if (!composed.ok()) {
        const std::string& path = out_.files.paths[id];
        Error error = std::move(composed).error();
        error.kind = ErrorKind::DirectiveOther;
        error.file = path;
        if (error.span) error.span->file_id = id;
        // The position lies inside the included file, which was entered by
        // this directive: the stack names it as it names any file it reads.
        error.include_stack = stack_;
        error.include_stack.push_back(IncludeFrame{path, directive.span.line});
        return error;
    }
    rt::ComposedStream stream = std::move(composed).value();
    out_.merge_keys = out_.merge_keys || stream.merge_keys;
    out_.files.stores[id] = std::move(stream.store);
    out_.files.decoder_vouched[id] = out_.files.decoder_vouched[id] || stream.decoder_accepts;
    return ComposedFile{id, std::move(stream.roots), stream.has_tags, nullptr};
}

Result<void> Loader::resolve_included(rt::YamlNode& root, const ComposedFile& file, const std::string& path,
                                      const rt::YamlNode& directive) {
    if (!file.has_tags) return Ok{};  // most configuration files: a walk that would find nothing
    stack_.push_back(IncludeFrame{path, directive.span.line});
    Result<void> resolved = resolve(root, 0);
    stack_.pop_back();
    return resolved;
}

Result<void> Loader::include_file(rt::YamlNode& node) {
    auto arg = argument(node);
    if (!arg.ok()) return std::move(arg).error();
    const std::string shown(arg.value());
    if (Result<void> depth = check_depth(node); !depth.ok()) return depth;
    auto path = confine(join_path(directive_directory(node), shown), shown, node);
    if (!path.ok()) return std::move(path).error();
    if (Result<void> circular = check_circular(path.value(), shown, node); !circular.ok()) return circular;
    auto file = read_and_compose(path.value(), shown, node);
    if (!file.ok()) return std::move(file).error();

    ComposedFile& composed = file.value();
    rt::YamlNode result;
    const bool plain = composed.plain != nullptr;
    if (plain ? composed.plain->stream.documents.empty() : composed.roots.empty()) {
        result.kind = rt::NodeKind::Mapping;
        place_at(result, node);
    } else if (plain) {
        result = rt::YamlNode::null_node();  // stands for the first document, which stays on the tape
        result.span.file_id = composed.id;
    } else {
        // Later documents of the file are not part of the include.
        result = std::move(composed.roots.front());
        if (Result<void> resolved = resolve_included(result, composed, path.value(), node); !resolved.ok())
            return resolved;
    }
    rt::Comments file_comments = result.comments;
    rt::Text file_anchor = result.anchor;
    // A file that is nothing but another directive forwards to it: that
    // directive's file (or secret, or variable) holds the content.
    std::shared_ptr<const rt::IncludeSource> forwarded(std::move(result.source));
    adopt_directive_layout(result, node);
    result.source = std::make_unique<rt::IncludeSource>(
        rt::IncludeSource{std::string(kInclude), shown, composed.id, std::move(file_comments), std::move(file_anchor)});
    if (plain && result.kind == rt::NodeKind::Null) {
        result.source->plain = plain_content(composed.plain, composed.plain->stream.documents.front(), 0);
    } else if (forwarded && forwarded->plain) {
        result.source->plain = forwarded->plain;  // the forwarded directive's file stayed plain
    }
    result.source->forwarded = std::move(forwarded);
    node = std::move(result);
    return Ok{};
}

}  // namespace detail

Result<DirectiveLoad> load_with_directives(std::string text, const DirectiveOptions& options) {
    DirectiveLoad out;
    detail::Loader loader(options, out);
    Result<void> loaded = loader.load_root(std::move(text));
    if (!loaded.ok()) return std::move(loaded).error();
    return out;
}

}  // namespace torvex::directives
