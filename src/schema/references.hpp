// Two light scanners over the head of a YAML text, without parsing it: the
// editor schema modeline ("# yaml-language-server: $schema=...") and the
// version of the first %YAML directive. Neither fails: malformed input simply
// gives nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvex {

struct YamlVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    friend bool operator==(const YamlVersion&, const YamlVersion&) = default;
};

// The reference of the first usable modeline in the leading block of comments
// and blank lines, trimmed of white space at both ends.
std::optional<std::string> find_schema_reference(std::string_view text);

// The version of the first %YAML directive before any content line.
std::optional<YamlVersion> find_yaml_version(std::string_view text);

}  // namespace torvex
