// Fuzzes the direct tape reader against the token-list path. The first byte
// picks the options; the rest is the YAML text (skipped unless valid UTF-8,
// as callers validate first). Wherever the direct path accepts a text, the
// token-list path must accept it too, with the same documents and warnings.
// And decode_tape, which tries the direct path and then reads with the
// token-list path into the same stream, must end as the token-list path alone
// does, wherever the direct attempt gave way. The reader that records places
// (annotated loads) must read exactly what the plain one reads, with a place
// for every node inside the text.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/utf8.hpp"
#include "decode_options_from.hpp"
#include "decode/tape.hpp"
#include "require.hpp"

using torvex_fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const torvex::DecodeOptions options = torvex_fuzz::decode_options_from(data[0]);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (torvex::utf8::validate(text)) return 0;

    auto tokens = torvex::decode_tape_tokens(text, 0, options);
    auto together = torvex::decode_tape(text, 0, options);
    require(together.ok() == tokens.ok());
    if (tokens.ok()) {
        require(torvex::same_documents(together.value(), tokens.value()));
        require(together.value().warnings == tokens.value().warnings);
        require(together.value().has_merge_keys == tokens.value().has_merge_keys);
    } else {
        require(together.error().message == tokens.error().message);
    }

    auto direct = torvex::decode_tape_direct(text, 0, options);
    if (!direct) return 0;
    require(tokens.ok());
    require(torvex::same_documents(*direct, tokens.value()));
    require(direct->warnings == tokens.value().warnings);

    torvex::DecodedTape placed;
    std::vector<torvex::TapePlace> places;
    require(torvex::decode_tape_direct_into(text, 0, options, placed, &places));
    require(torvex::same_documents(placed, *direct));
    require(placed.warnings == direct->warnings);
    require(places.size() == placed.tape.nodes.size());
    for (const torvex::TapePlace& place : places) {
        require(place.offset <= place.end_offset && place.end_offset <= text.size());
        require(place.line <= place.end_line);
        require(place.line < place.end_line || place.column <= place.end_column);
    }
    return 0;
}
