// Fuzzes the composer's word for the value decoder over arbitrary text
// (skipped unless valid UTF-8, as callers validate first): whenever the
// composer says the decoder accepts a token list, the decoder run over that
// list must accept it. Annotated loads skip the decoder on that word, so a
// wrong word would let a text through that plain loads refuse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "core/utf8.hpp"
#include "decode/decoder.hpp"
#include "decode/stream_decoder.hpp"
#include "roundtrip/composer.hpp"
#include "scanner/scanner.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (torvex::utf8::validate(text)) return 0;
    auto store = std::make_unique<torvex::rt::TextStore>();
    store->text = std::string(text);
    auto scanned = torvex::tokenize(store->text, 0, /*record_comments=*/false);
    if (!scanned.ok()) return 0;
    store->tokens = std::move(scanned).value();
    torvex::rt::ComposedStream stream =
        torvex::rt::compose_tokenized(std::move(store), /*with_comments=*/false, /*keep_tokens=*/true);
    if (!stream.decoder_accepts) return 0;
    const torvex::DecodeOptions options;
    torvex::DecodedTape decoded;
    torvex::StreamDecoder decoder(stream.store->tokens, options, decoded.tape);
    if (!decoder.run(decoded)) std::abort();
    return 0;
}
