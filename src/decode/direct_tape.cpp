// The direct tape builder without places: the plain load's reader (see
// direct_tape_reader.hpp for what it reads and where it gives way).
#include <optional>

#include "decode/direct_tape_reader.hpp"
#include "decode/tape.hpp"

namespace torvex {

bool decode_tape_direct_into(std::string_view text, std::uint32_t file_id, const DecodeOptions& options,
                             DecodedTape& out, std::vector<TapePlace>* places) {
    if (places != nullptr) return direct::read_placed(text, file_id, options, out, *places);
    out.tape.nodes.reserve(text.size() / 6 + 16);
    direct::DirectTape<false> reader(text, file_id, options, out, nullptr);
    if (!reader.run()) return false;
    reader.finish();
    return true;
}

std::optional<DecodedTape> decode_tape_direct(std::string_view text, std::uint32_t file_id,
                                              const DecodeOptions& options) {
    std::optional<DecodedTape> out(std::in_place);
    if (!decode_tape_direct_into(text, file_id, options, *out)) return std::nullopt;
    return out;
}

}  // namespace torvex
