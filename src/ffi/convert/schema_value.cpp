#include "ffi/convert/schema_value.hpp"

#include <utility>

#include "decode/tape.hpp"
#include "ffi/convert/encode.hpp"

namespace torvex::ffi {

std::optional<schema::CompiledSchema> compile_python_schema(PyObject* schema) {
    EncodedTape encoded;
    if (!to_tape(schema, EncodeOptions{}, encoded)) return std::nullopt;
    Value value = tape_value(encoded.tape, 0);
    return schema::compile_schema(std::move(value));
}

}  // namespace torvex::ffi
