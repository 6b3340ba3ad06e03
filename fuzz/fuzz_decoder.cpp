// Fuzzes the value decoder over arbitrary text. The first byte picks the
// options; the rest is the YAML text (skipped unless valid UTF-8, as callers
// validate first). Beyond "no crash": an error carries a syntax, duplicate-key
// or complex-key kind and a position inside the text, and the same input
// always decodes the same way.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/utf8.hpp"
#include "decode_options_from.hpp"
#include "decode/decoder.hpp"
#include "require.hpp"

using torvex_fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const torvex::DecodeOptions options = torvex_fuzz::decode_options_from(data[0]);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (torvex::utf8::validate(text)) return 0;

    auto first = torvex::decode_stream(text, 0, options);
    auto second = torvex::decode_stream(text, 0, options);
    require(first.ok() == second.ok());
    if (!first.ok()) {
        const torvex::Error& e = first.error();
        require(e.kind == torvex::ErrorKind::Syntax || e.kind == torvex::ErrorKind::DuplicateKey ||
                e.kind == torvex::ErrorKind::ComplexKey);
        require(e.span.has_value() && e.span->offset <= text.size() && !e.message.empty());
        require(e.message == second.error().message);
        return 0;
    }
    const auto& a = first.value();
    const auto& b = second.value();
    require(a.documents.size() == b.documents.size() && a.warnings == b.warnings);
    for (std::size_t i = 0; i < a.documents.size(); ++i) {
        // NaN makes equality fail legitimately; node counts must still agree.
        require(a.documents[i].node_count() == b.documents[i].node_count());
    }
    if (!options.duplicate_keys_warn && !options.yaml11_warnings) require(a.warnings.empty());
    return 0;
}
