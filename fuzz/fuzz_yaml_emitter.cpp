// Builds a bounded Value tree and options from the input bytes, emits YAML
// and checks what must hold for every tree: valid UTF-8, the document
// markers, a final line feed, and a deterministic result.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/utf8.hpp"
#include "encode/yaml_emitter.hpp"
#include "value_source.hpp"

using torvex_fuzz::ValueSource;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ValueSource src(data, size);
    torvex::DumpOptions o;
    const std::uint8_t a = src.byte();
    const std::uint8_t b = src.byte();
    o.indent = (a & 1) ? 4 : 2;
    o.null_style = static_cast<torvex::NullStyle>((a >> 1) % 3);
    o.sort_keys = a & 8;
    o.flow_style = a & 16;
    o.indentless_sequences = a & 32;
    o.double_quotes = !(a & 64);
    o.explicit_start = a & 128;
    o.explicit_end = b & 1;
    o.width = (b & 2) ? 0 : (b >> 2);
    const torvex::Value root = src.value(0);

    const std::string out = torvex::emit_yaml(root, o);
    if (torvex::utf8::validate(out)) std::abort();
    if (out.empty() || out.back() != '\n') std::abort();
    if (o.explicit_start && std::string_view(out).substr(0, 4) != "---\n") std::abort();
    if (o.explicit_end && (out.size() < 4 || std::string_view(out).substr(out.size() - 4) != "...\n")) std::abort();
    if (torvex::emit_yaml(root, o) != out) std::abort();
    return 0;
}
