// `!secret NAME`: the value of NAME in the nearest secrets.yaml, searched from
// the directive's directory up to the include directory (never above it);
// each secrets file is read at most once per load. `!env_var NAME [DEFAULT]`:
// a variable of the process environment, always a string.
#include <cstdlib>
#include <utility>

#include "core/stack_guard.hpp"
#include "core/text_decode.hpp"
#include "core/unicode_space.hpp"
#include "core/utf8.hpp"
#include "directives/file_system.hpp"
#include "directives/loader_state.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/value.hpp"

namespace torvex::directives::detail {

namespace {

bool equals_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The first node at or below `node` tagged "!secret", or null.
const rt::YamlNode* find_secret_tag(const rt::YamlNode& node, std::size_t depth) {
    if (node.tag == "!secret") return &node;
    if (!node.is_collection()) return nullptr;
    return with_stack_at(depth, [&]() -> const rt::YamlNode* {
        for (const rt::YamlNode& child : node.children) {
            if (const rt::YamlNode* found = find_secret_tag(child, depth + 1)) return found;
        }
        return nullptr;
    });
}

std::optional<std::string> process_environment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

// A null standing for a tolerated missing value, positioned at the directive.
// It keeps the directive as its provenance, so that a document written back
// after an edit still says `!secret name`, not an empty value that would
// lose the directive for good.
void replace_by_null(rt::YamlNode& node, std::string_view tag, std::string target) {
    rt::YamlNode null = rt::YamlNode::null_node();
    place_at(null, node);
    adopt_directive_layout(null, node);
    null.source = std::make_unique<rt::IncludeSource>(rt::IncludeSource{std::string(tag), std::move(target), std::nullopt});
    node = std::move(null);
}

}  // namespace

Result<const SecretsFile*> Loader::secrets_file(const std::string& candidate, const rt::YamlNode& directive) {
    if (const auto cached = secrets_cache_.find(candidate); cached != secrets_cache_.end()) return cached->second.get();
    auto& slot = secrets_cache_[candidate];
    slot = std::make_unique<SecretsFile>();
    SecretsFile& file = *slot;

    // A candidate that does not exist, lies outside or cannot be read holds no secrets.
    const auto path = canonical_path(candidate);
    if (!path || !is_within(*path, root_)) return &file;
    FileRead read = read_regular_file(*path);
    if (!read.bytes) return &file;
    auto text = decode_owned_bytes(std::move(*read.bytes));
    if (!text.ok()) return &file;
    if (Result<void> counted = count_file(directive); !counted.ok()) return std::move(counted).error();

    auto located = [&](ErrorKind kind, std::string message, std::optional<Span> span) {
        Error error = error_at(kind, std::move(message), directive);
        error.file = *path;
        if (span) error.span = span;
        return error;
    };
    const std::uint32_t id = out_.files.add(*path);
    std::string file_text = std::move(text).value();
    if (options_.plain_decode) {
        auto store = std::make_unique<rt::TextStore>();
        store->text = std::move(file_text);  // the tape points into it: read where it stays
        file.plain = read_plain(store->text, id, *options_.plain_decode);
        if (file.plain && plain_secrets(file)) {
            out_.files.stores[id] = std::move(store);
            out_.files.decoder_vouched[id] = true;
            return &file;
        }
        file.plain.reset();
        file_text = std::move(store->text);
    }
    auto composed = rt::compose_stream(std::move(file_text), id, options_.with_comments);
    if (!composed.ok()) {
        const Error& failure = composed.error();
        return located(ErrorKind::DirectiveOther, "invalid secrets.yaml: " + failure.message, failure.span);
    }
    rt::ComposedStream stream = std::move(composed).value();
    out_.merge_keys = out_.merge_keys || stream.merge_keys;  // a secret's value may be a mapping
    out_.files.stores[id] = std::move(stream.store);
    out_.files.decoder_vouched[id] = stream.decoder_accepts;
    file.roots = std::move(stream.roots);
    if (file.roots.empty()) return &file;
    const rt::YamlNode& root = file.roots.front();
    const bool null_root = root.kind == rt::NodeKind::Null ||
                           (root.kind == rt::NodeKind::Scalar && rt::resolve_scalar(root).kind == ResolvedKind::Null);
    if (null_root) return &file;
    if (root.kind != rt::NodeKind::Mapping)
        return located(ErrorKind::DirectiveOther, "secrets.yaml does not contain a dictionary", root.span);
    for (std::size_t pair = 0; pair < root.size(); ++pair) {
        const rt::YamlNode& key = root.key(pair);
        const rt::YamlNode& value = root.value(pair);
        if (key.kind != rt::NodeKind::Scalar) continue;
        if (const rt::YamlNode* nested = find_secret_tag(value, 0))
            return located(ErrorKind::DirectiveOther, "secrets not supported in a secrets.yaml file", nested->span);
        if (key.text == "logger") {
            const std::string_view level = value.kind == rt::NodeKind::Scalar ? value.text.str() : std::string_view();
            if (value.kind != rt::NodeKind::Scalar || !equals_ascii_case(level, "debug")) {
                out_.warnings.push_back("secrets.yaml: 'logger: debug' expected, but 'logger: " + std::string(level) +
                                        "' found");
            }
            continue;
        }
        file.secrets.insert_or_assign(key.text.string(), SecretValue{&value});
    }
    return &file;
}

bool Loader::plain_secrets(SecretsFile& file) {
    const Tape& tape = file.plain->stream.tape;
    const std::vector<std::size_t>& documents = file.plain->stream.documents;
    if (documents.empty()) return true;
    // A null root holds no secrets and any other root is an error: the composed file says which.
    if (tape.nodes[documents[0]].kind() != TapeNode::Kind::Mapping) return false;
    std::vector<std::string> warnings;
    bool strings = true;  // keys, and the logger's level: what the composed file reads as text
    for_each_entry(tape, documents[0], [&](std::size_t pair, std::size_t key, std::size_t value) {
        if (!strings) return;
        if (tape.nodes[key].kind() != TapeNode::Kind::String) {
            strings = false;
            return;
        }
        const std::string_view name = tape.nodes[key].text_view();
        if (name == "logger") {
            if (tape.nodes[value].kind() != TapeNode::Kind::String) {
                strings = false;
                return;
            }
            const std::string_view level = tape.nodes[value].text_view();
            if (!equals_ascii_case(level, "debug")) {
                warnings.push_back("secrets.yaml: 'logger: debug' expected, but 'logger: " + std::string(level) +
                                   "' found");
            }
            return;
        }
        file.secrets.insert_or_assign(std::string(name), SecretValue{nullptr, value, pair});
    });
    if (!strings) {
        file.secrets.clear();
        return false;
    }
    for (std::string& warning : warnings) out_.warnings.push_back(std::move(warning));
    return true;
}

std::string Loader::secrets_start(std::uint32_t file_id) {
    // Files reached by a directive are registered by their canonical path;
    // only the root's path is as the caller gave it.
    if (file_id != 0 && file_id < out_.files.size()) return parent_path(out_.files.paths[file_id]);
    if (!root_secrets_start_) {
        const auto holder = canonical_path(file_path(file_id));
        root_secrets_start_ = holder ? parent_path(*holder) : root_;
    }
    return *root_secrets_start_;
}

Result<void> Loader::secret(rt::YamlNode& node) {
    const std::string name = node.kind == rt::NodeKind::Scalar ? node.text.string() : std::string();
    std::string dir = secrets_start(node.span.file_id);

    const SecretValue* found = nullptr;
    const SecretsFile* holder = nullptr;
    while (!dir.empty() && is_within(dir, root_)) {
        auto secrets = secrets_file(join_path(dir, "secrets.yaml"), node);
        if (!secrets.ok()) return std::move(secrets).error();
        const auto& table = secrets.value()->secrets;
        if (const auto it = table.find(name); it != table.end()) {
            found = &it->second;
            holder = secrets.value();
            break;
        }
        if (dir == root_) break;
        dir = parent_path(dir);
    }

    if (found == nullptr) {
        if (options_.tolerate_missing_secret) {
            out_.missing_secrets.push_back({name, file_path(node.span.file_id), node.span.line});
            replace_by_null(node, "!secret", name);
            return Ok{};
        }
        return error_at(ErrorKind::SecretNotFound, "secret '" + name + "' is not defined in any secrets.yaml", node);
    }
    // A value of a plain file stays on its tape: a null stands for it.
    rt::YamlNode value = found->node != nullptr ? found->node->clone() : rt::YamlNode::null_node();
    place_at(value, node);
    adopt_directive_layout(value, node);
    value.source = std::make_unique<rt::IncludeSource>(rt::IncludeSource{"!secret", name, std::nullopt});
    if (found->node == nullptr) {
        value.source->plain = plain_content(holder->plain, found->index, 0, rt::PlainContent::Step::Value, found->pair,
                                            /*placed=*/true);
    }
    node = std::move(value);
    return Ok{};
}

Result<void> Loader::env_var(rt::YamlNode& node) {
    const std::string argument = node.kind == rt::NodeKind::Scalar ? node.text.string() : std::string();
    std::string_view rest = argument;
    const std::string name(next_word(rest));
    std::string fallback;
    bool has_fallback = false;
    for (std::string_view word = next_word(rest); !word.empty(); word = next_word(rest)) {
        if (has_fallback) fallback += ' ';
        fallback += word;
        has_fallback = true;
    }

    std::optional<std::string> value;
    if (!name.empty()) {
        value = options_.environment ? options_.environment(name) : process_environment(name);
        if (value && utf8::validate(*value)) value.reset();  // not valid UTF-8: counts as unset
        if (!value && has_fallback) value = std::move(fallback);
        if (!value) {
            if (options_.tolerate_missing_env_var) {
                out_.missing_env_vars.push_back({name, file_path(node.span.file_id), node.span.line});
                replace_by_null(node, "!env_var", argument);
                return Ok{};
            }
            return error_at(ErrorKind::EnvVarNotFound, "environment variable " + name + " is not defined", node);
        }
    }
    rt::YamlNode result = rt::YamlNode::scalar(rt::Text::owned(value.value_or(std::string())), ScalarStyle::SingleQuoted);
    place_at(result, node);
    adopt_directive_layout(result, node);
    result.source = std::make_unique<rt::IncludeSource>(rt::IncludeSource{"!env_var", argument, std::nullopt});
    node = std::move(result);
    return Ok{};
}

}  // namespace torvex::directives::detail
