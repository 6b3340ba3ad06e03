// Fuzzes the schema validator. The input is a schema and a document separated
// by the first NUL byte (skipped unless both are valid UTF-8); the schema is
// decoded as YAML into a Value, the document composed into a round-trip tree.
// Beyond "no crash": every violation lies on a node of the document (its
// offset inside the text), its path starts with "$", the probe mode agrees
// with the full run, and a schema of `true` or `{}` accepts everything.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/utf8.hpp"
#include "decode/decoder.hpp"
#include "roundtrip/composer.hpp"
#include "schema/validator.hpp"
#include "require.hpp"

using torvex_fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    if (split == std::string_view::npos) return 0;
    const std::string_view schema_text = input.substr(0, split);
    const std::string_view doc_text = input.substr(split + 1);
    if (torvex::utf8::validate(schema_text) || torvex::utf8::validate(doc_text)) return 0;

    auto schema_docs = torvex::decode_stream(schema_text, 0, torvex::DecodeOptions{});
    if (!schema_docs.ok() || schema_docs.value().documents.empty()) return 0;
    auto composed = torvex::rt::compose_stream(std::string(doc_text), 0);
    if (!composed.ok() || composed.value().roots.empty()) return 0;
    const auto& root = composed.value().roots.front();

    const auto mode = static_cast<torvex::ResolveMode>(doc_text.size() % 3);
    const torvex::schema::CompiledSchema schema =
        torvex::schema::compile_schema(std::move(schema_docs.value().documents.front()));
    const torvex::schema::InstanceTree tree = torvex::schema::build_instance_tree(root, mode);
    require(tree.copied <= torvex::schema::kMaxCopiedNodes + doc_text.size() + 1);
    const auto violations = torvex::schema::validate(schema, tree);
    require(torvex::schema::conforms(schema, tree) == violations.empty());
    for (const auto& v : violations) {
        require(v.path.starts_with("$"));
        require(v.span.offset <= doc_text.size());
        require(!v.message.empty());
    }

    const torvex::schema::CompiledSchema accept_all = torvex::schema::compile_schema(torvex::Value::mapping());
    require(torvex::schema::validate(accept_all, tree).empty());
    return 0;
}
