#include "ffi/convert/schema_value.hpp"

#include <memory>

#include "decode/tape.hpp"
#include "ffi/convert/encode.hpp"

namespace torvex::ffi {

std::unique_ptr<PythonSchema> compile_python_schema(PyObject* schema) {
    auto out = std::make_unique<PythonSchema>();
    if (!to_tape(schema, EncodeOptions{}, out->encoded)) return nullptr;
    out->compiled = schema::compile_schema(out->encoded.tape, 0);
    return out;
}

}  // namespace torvex::ffi
