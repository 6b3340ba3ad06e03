#include "schema/references.hpp"

#include "core/unicode_space.hpp"
#include "core/utf8.hpp"

namespace torvex {

namespace {

// Iterates over lines: each ends at LF, and one CR before the LF is dropped.
// A text ending in LF yields a final empty line, which both scanners skip.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool next(std::string_view& line) {
        if (done_) return false;
        const std::size_t lf = text_.find('\n', pos_);
        if (lf == std::string_view::npos) {
            line = text_.substr(pos_);
            done_ = true;
            return true;
        }
        line = text_.substr(pos_, lf - pos_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = lf + 1;
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    bool done_ = false;
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// A run of decimal digits with one optional leading "+", fitting 32 bits.
std::optional<std::uint32_t> parse_version_number(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<YamlVersion> parse_version_word(std::string_view word) {
    const std::size_t dot = word.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    auto major = parse_version_number(word.substr(0, dot));
    auto minor = parse_version_number(word.substr(dot + 1));
    if (!major || !minor) return std::nullopt;
    return YamlVersion{*major, *minor};
}


}  // namespace

std::optional<std::string> find_schema_reference(std::string_view text) {
    // A byte-order mark is invisible to the author; it must not hide a
    // modeline on the first line.
    if (starts_with(text, kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        line = trim_start(line);
        if (line.empty()) continue;
        if (line.front() != '#') return std::nullopt;
        std::string_view rest = trim_start(line.substr(1));
        constexpr std::string_view kServer = "yaml-language-server:";
        if (!starts_with(rest, kServer)) continue;
        rest = trim_start(rest.substr(kServer.size()));
        constexpr std::string_view kSchema = "$schema=";
        if (!starts_with(rest, kSchema)) continue;
        const std::string_view reference = trim(rest.substr(kSchema.size()));
        if (!reference.empty()) return std::string(reference);
    }
    return std::nullopt;
}

std::optional<YamlVersion> find_yaml_version(std::string_view text) {
    // Most texts start with content (a visible ASCII character that is no
    // comment or directive): the first line decides at once.
    if (!text.empty() && text[0] > ' ' && text[0] < 0x7F && text[0] != '#' && text[0] != '%') return std::nullopt;
    if (starts_with(text, kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        line = trim_start(line);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() != '%') return std::nullopt;
        std::string_view rest = line.substr(1);
        if (next_word(rest) != "YAML") continue;
        const std::string_view version = next_word(rest);
        if (version.empty() || version.front() == '#') return std::nullopt;
        return parse_version_word(version);
    }
    return std::nullopt;
}

}  // namespace torvex
