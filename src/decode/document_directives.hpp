// Directives of one document (%YAML, %TAG) and the tag resolution they
// govern. Reset after every document.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvex {

class DocumentDirectives {
public:
    // Processes the text of one directive (after the `%`). Returns an error
    // message, or nothing when the directive is accepted or ignored.
    std::optional<std::string> apply(std::string_view directive);

    // Resolves a tag as written (`!`, `!x`, `!!x`, `!e!x`, `!<uri>`) to its
    // full form. On an undefined named handle, returns nothing and sets `error`.
    std::optional<std::string> resolve_tag(std::string_view written, std::string& error) const;

    void reset() {
        handles_.clear();
        version_seen_ = false;
    }

private:
    const std::string* prefix_for(std::string_view handle) const;

    std::vector<std::pair<std::string, std::string>> handles_;  // few per document: a vector is enough
    bool version_seen_ = false;
};

// A tag is a core tag when written with the `!!` handle or resolved into the
// tag:yaml.org,2002: namespace.
bool is_core_tag(std::string_view written, std::string_view resolved);

inline constexpr std::string_view kCoreTagPrefix = "tag:yaml.org,2002:";

}  // namespace torvex
