// The schema validator: checks one document against a compiled schema and
// lists every violation, in the order found (keywords in their fixed order,
// depth-first through members and items). Validation itself never fails.
#pragma once

#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/span.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/ast.hpp"
#include "schema/instance.hpp"
#include "schema/schema.hpp"

namespace torvex::schema {

struct Violation {
    std::string message;
    std::string path;  // "$", "$.server.port", "$.hosts[2]"
    Span span;         // of the node the violation is reported on
};

// Every violation of `tree` against `schema`.
std::vector<Violation> validate(const CompiledSchema& schema, const InstanceTree& tree);

// Whether `tree` satisfies `schema` (stops at the first violation).
bool conforms(const CompiledSchema& schema, const InstanceTree& tree);

// Every violation of a composed document root, read under `mode`.
std::vector<Violation> validate_document(const CompiledSchema& schema, const rt::YamlNode& root, ResolveMode mode);

// The engine error record for a violation (kind Schema, its path and position).
Error violation_error(const Violation& violation);

}  // namespace torvex::schema
