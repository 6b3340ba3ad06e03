// The direct tape builder with places: the annotated load's reader.
#include "decode/direct_tape_reader.hpp"

namespace torvex::direct {

bool read_placed(std::string_view text, std::uint32_t file_id, const DecodeOptions& options, DecodedTape& out,
                 std::vector<TapePlace>& places) {
    out.tape.nodes.reserve(text.size() / 6 + 16);
    places.reserve(text.size() / 6 + 16);
    DirectTape<true> reader(text, file_id, options, out, &places);
    if (!reader.run()) return false;
    reader.finish();
    return true;
}

}  // namespace torvex::direct
