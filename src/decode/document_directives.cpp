#include "decode/document_directives.hpp"

#include "core/unicode_space.hpp"
#include "core/utf8.hpp"

namespace torvex {

namespace {


bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

bool is_version_word(std::string_view word) {
    const std::size_t dot = word.find('.');
    return dot != std::string_view::npos && all_digits(word.substr(0, dot)) && all_digits(word.substr(dot + 1));
}

}  // namespace

std::optional<std::string> DocumentDirectives::apply(std::string_view directive) {
    std::string_view rest = directive;
    const std::string_view name = next_word(rest);
    if (name == "YAML") {
        if (version_seen_) return std::string("duplicate %YAML directive");
        if (!is_version_word(next_word(rest))) return std::string("invalid %YAML directive");
        // Anything after the version must be a comment.
        const std::string_view extra = next_word(rest);
        if (!extra.empty() && extra.front() != '#') return std::string("invalid %YAML directive");
        version_seen_ = true;
        return std::nullopt;
    }
    if (name == "TAG") {
        const std::string_view handle = next_word(rest);
        const std::string_view prefix = next_word(rest);
        if (handle.empty() || handle.front() != '!' || handle.back() != '!') return std::nullopt;  // ignored
        if (prefix_for(handle) != nullptr) {
            return "duplicate %TAG directive for handle '" + std::string(handle) + "'";
        }
        handles_.emplace_back(std::string(handle), std::string(prefix));
        return std::nullopt;
    }
    return std::nullopt;  // reserved directives are ignored
}

const std::string* DocumentDirectives::prefix_for(std::string_view handle) const {
    for (const auto& [h, prefix] : handles_) {
        if (h == handle) return &prefix;
    }
    return nullptr;
}

std::optional<std::string> DocumentDirectives::resolve_tag(std::string_view written, std::string& error) const {
    if (written.size() >= 3 && written.substr(0, 2) == "!<" && written.back() == '>') {
        return std::string(written.substr(2, written.size() - 3));
    }
    if (written.substr(0, 2) == "!!") {
        const std::string* prefix = prefix_for("!!");
        return (prefix ? *prefix : std::string(kCoreTagPrefix)) + std::string(written.substr(2));
    }
    const std::size_t second = written.size() > 1 ? written.find('!', 1) : std::string_view::npos;
    if (second != std::string_view::npos) {
        const std::string_view handle = written.substr(0, second + 1);
        const std::string* prefix = prefix_for(handle);
        if (prefix == nullptr) {
            error = "undefined tag handle: " + std::string(handle);
            return std::nullopt;
        }
        return *prefix + std::string(written.substr(second + 1));
    }
    if (const std::string* prefix = prefix_for("!")) return *prefix + std::string(written.substr(1));
    return std::string(written);
}

bool is_core_tag(std::string_view written, std::string_view resolved) {
    return written.substr(0, 2) == "!!" || resolved.substr(0, kCoreTagPrefix.size()) == kCoreTagPrefix;
}

}  // namespace torvex
