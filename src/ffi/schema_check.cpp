#include "ffi/schema_check.hpp"

#include "ffi/convert/schema_value.hpp"
#include "ffi/errors.hpp"
#include "roundtrip/composer.hpp"
#include "schema/validator.hpp"

namespace torvex::ffi {

bool validate_first_document(const LoadOptions& options, const std::vector<rt::YamlNode>& roots,
                             const std::vector<std::string>& file_paths) {
    if (!options.resolved_schema || roots.empty()) return true;
    auto compiled = compile_python_schema(options.resolved_schema.get());
    if (!compiled) return false;
    const auto violations = schema::validate_document(*compiled, roots.front(), options.mode);
    if (violations.empty()) return true;
    Error error = schema::violation_error(violations.front());
    const std::uint32_t file_id = violations.front().span.file_id;
    if (file_id < file_paths.size()) error.file = file_paths[file_id];
    raise_error(error);
    return false;
}

bool validate_text(const LoadOptions& options, const std::string& text) {
    if (!options.resolved_schema) return true;
    auto composed = rt::compose_stream(text, 0);
    if (!composed.ok()) {
        raise_error(composed.error());
        return false;
    }
    return validate_first_document(options, composed.value().roots, {});
}

}  // namespace torvex::ffi
