#include "roundtrip/value.hpp"

#include "encode/yaml_quoting.hpp"

namespace torvex::rt {

Resolved resolve_scalar(const YamlNode& node) noexcept {
    std::optional<std::string_view> tag;
    if (!node.tag.empty()) tag = node.tag.str();
    if (node.kind == NodeKind::Null) {
        if (!tag) return Resolved{ResolvedKind::Null};
        return resolve(ResolveMode::Yaml12, {}, true, tag);
    }
    return resolve(ResolveMode::Yaml12, node.text.str(), node.scalar_style == ScalarStyle::Plain, tag);
}

ScalarStyle string_style(std::string_view text, bool prefer_double_quotes) noexcept {
    if (text.empty()) return prefer_double_quotes ? ScalarStyle::DoubleQuoted : ScalarStyle::SingleQuoted;
    const yaml::ScalarScan scan = yaml::scan_scalar(text);
    if (!scan.needs_quotes) return ScalarStyle::Plain;
    if (prefer_double_quotes || !scan.single_ok) return ScalarStyle::DoubleQuoted;
    return ScalarStyle::SingleQuoted;
}

YamlNode new_string_node(std::string_view text, bool prefer_double_quotes) {
    return YamlNode::scalar(Text::owned(text), string_style(text, prefer_double_quotes));
}

YamlNode new_plain_node(std::string_view text) { return YamlNode::scalar(Text::owned(text), ScalarStyle::Plain); }

YamlNode new_null_node() {
    YamlNode node;
    node.synthetic = true;
    return node;
}

YamlNode new_collection(NodeKind kind) {
    YamlNode node;
    node.kind = kind;
    return node;
}

}  // namespace torvex::rt
