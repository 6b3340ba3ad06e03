// A JSON-Schema subset, compiled once per load from its Value form: every
// (sub)schema becomes one record in a flat table with its keywords looked up
// and their arguments checked, so validation never searches a mapping for a
// keyword or re-reads an argument's kind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decode/tape.hpp"
#include "decode/value.hpp"

namespace torvex::schema {

// Instance kinds as the validator sees them; also the bits of a type mask.
enum class InstanceType : std::uint8_t { Null, Boolean, Integer, Number, String, Array, Object };

inline constexpr std::uint8_t type_bit(InstanceType t) noexcept { return std::uint8_t(1u << unsigned(t)); }
inline constexpr std::uint8_t kAllTypes = 0x7F;

// "null", "boolean", "integer", "number" (a float), "string", "array", "object".
const char* type_name(InstanceType t) noexcept;

using SchemaIndex = std::uint32_t;
inline constexpr SchemaIndex kNoSchema = UINT32_MAX;

// A numeric limit (minimum, maximum, exclusiveMinimum, exclusiveMaximum).
struct NumberLimit {
    double value = 0.0;
};

struct SchemaNode {
    enum class Form : std::uint8_t {
        AcceptAll,  // `true`, or a value that is neither a mapping nor a boolean
        RejectAll,  // `false`
        Keywords,   // a mapping
    };
    enum class Additional : std::uint8_t { Allow, Reject, Schema };

    Form form = Form::AcceptAll;

    // type: the mask of matching instance types and the names as written, joined by " | "
    bool has_type = false;
    std::uint8_t type_mask = 0;
    std::string type_names;

    // enum (a Sequence) and const, as indices into CompiledSchema::values
    std::uint32_t enum_values = UINT32_MAX;
    std::uint32_t const_value = UINT32_MAX;

    std::optional<NumberLimit> minimum, maximum, exclusive_minimum, exclusive_maximum;
    std::optional<std::int64_t> min_length, max_length, min_items, max_items;

    std::vector<std::string_view> required;  // texts inside the schema's tape

    // properties: name -> subschema, sorted by name, the first entry of a name counting
    std::vector<std::pair<std::string_view, SchemaIndex>> properties;
    Additional additional = Additional::Allow;
    SchemaIndex additional_schema = kNoSchema;

    SchemaIndex items = kNoSchema;
    bool has_all_of = false, has_any_of = false, has_one_of = false;
    std::vector<SchemaIndex> all_of, any_of, one_of;
    SchemaIndex not_schema = kNoSchema;

    // The subschema for a member name, or kNoSchema.
    SchemaIndex property(std::string_view name) const noexcept;
};

// A compiled schema. Its texts point into the tape it was compiled from,
// which must outlive it (compiled from a Value, it keeps that tape itself).
// Index 0 is the root.
struct CompiledSchema {
    std::vector<SchemaNode> nodes;
    std::vector<Value> values;  // enum arrays and const values
    Value source;               // when compiled from a Value: the Value
    Tape source_tape;           // ... and its tape, which the texts point into

    CompiledSchema() = default;
    CompiledSchema(const CompiledSchema&) = delete;
    CompiledSchema& operator=(const CompiledSchema&) = delete;
    CompiledSchema(CompiledSchema&&) noexcept = default;
    CompiledSchema& operator=(CompiledSchema&&) noexcept = default;
};

// Compiles the subtree at `root` of a tape (a non-mapping, non-boolean value
// accepts everything). Deep schemas recurse under the stack guard. Never fails.
CompiledSchema compile_schema(const Tape& tape, std::size_t root);

// Compiles a Value (for tests and fuzzing).
CompiledSchema compile_schema(Value source);

}  // namespace torvex::schema
