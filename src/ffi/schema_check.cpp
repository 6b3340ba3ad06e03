#include "ffi/schema_check.hpp"

#include "ffi/convert/schema_value.hpp"
#include "ffi/errors.hpp"
#include "roundtrip/composer.hpp"
#include "schema/validator.hpp"

namespace torvex::ffi {

namespace {

bool check_root(const schema::CompiledSchema& compiled, ResolveMode mode, const rt::YamlNode& root,
                const std::vector<std::string>& file_paths) {
    const auto violations = schema::validate_document(compiled, root, mode);
    if (violations.empty()) return true;
    Error error = schema::violation_error(violations.front());
    const std::uint32_t file_id = violations.front().span.file_id;
    if (file_id < file_paths.size()) error.file = file_paths[file_id];
    raise_error(error);
    return false;
}

// Whether expanding aliases in the composed tree stays within its bounds:
// every level of nested copies needs an anchor of its own, and no copy can
// exceed the document's expanded size.
bool expansion_within_bounds(const Tape& tape, std::size_t root, std::size_t anchors) {
    if (tape.end_of(root) - root > schema::kMaxCopiedNodes) return false;
    return anchors < schema::kMaxAliasDepth;
}

}  // namespace

bool validate_first_document(const LoadOptions& options, const std::vector<rt::YamlNode>& roots,
                             const std::vector<std::string>& file_paths) {
    if (!options.resolved_schema || roots.empty()) return true;
    auto compiled = compile_python_schema(options.resolved_schema.get());
    if (!compiled) return false;
    return check_root(compiled->compiled, options.mode, roots.front(), file_paths);
}

bool validate_decoded(const LoadOptions& options, std::string_view text, const Tape& tape, std::size_t root,
                      std::size_t anchors) {
    if (!options.resolved_schema) return true;
    auto compiled = compile_python_schema(options.resolved_schema.get());
    if (!compiled) return false;
    if (expansion_within_bounds(tape, root, anchors)) {
        const auto tree = schema::build_instance_tree(tape, root);
        if (tree && schema::conforms(compiled->compiled, *tree)) return true;
    }
    auto composed = rt::compose_stream(std::string(text), 0);
    if (!composed.ok()) {
        raise_error(composed.error());
        return false;
    }
    if (composed.value().roots.empty()) return true;
    return check_root(compiled->compiled, options.mode, composed.value().roots.front(), {});
}

}  // namespace torvex::ffi
