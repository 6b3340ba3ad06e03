// The schema validator: schemas written as flow YAML and documents composed
// by the round-trip composer; the first violation's message, path and
// position, keyword by keyword; equality for enum and const; alias
// expansion and its bounds; merge keys; deep nesting; number texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "roundtrip/composer.hpp"
#include "schema/numbers.hpp"
#include "schema/validator.hpp"

namespace torvex::schema {
namespace {

CompiledSchema compile_text(const std::string& schema_text) {
    auto decoded = decode_stream(schema_text, 0, DecodeOptions{});
    EXPECT_TRUE(decoded.ok()) << schema_text.substr(0, 200);
    return compile_schema(std::move(decoded.value().documents.at(0)));
}

std::vector<Violation> run(const std::string& schema_text, const std::string& doc,
                           ResolveMode mode = ResolveMode::Yaml12) {
    const CompiledSchema schema = compile_text(schema_text);
    auto composed = rt::compose_stream(doc, 0);
    EXPECT_TRUE(composed.ok()) << doc.substr(0, 200);
    auto out = validate_document(schema, composed.value().roots.at(0), mode);
    // The probe mode agrees with the full run.
    const InstanceTree tree = build_instance_tree(composed.value().roots.at(0), mode);
    EXPECT_EQ(conforms(schema, tree), out.empty()) << schema_text.substr(0, 200) << " / " << doc.substr(0, 200);
    return out;
}

struct Case {
    const char* schema;
    const char* doc;
    const char* message;  // empty: valid
    const char* path;
    std::uint32_t line, column;  // 1-based
};

const char* const kHugeMessage = [] {
    static const std::string text =
        "value 2" + std::string(300, '0') + " is not less than 1" + std::string(300, '0');
    return text.c_str();
}();

class FirstViolation : public ::testing::TestWithParam<Case> {};

TEST_P(FirstViolation, MessagePathAndPosition) {
    const Case& c = GetParam();
    const auto violations = run(c.schema, c.doc);
    if (std::string(c.message).empty()) {
        EXPECT_TRUE(violations.empty()) << violations.front().message;
        return;
    }
    ASSERT_FALSE(violations.empty());
    EXPECT_EQ(violations.front().message, c.message);
    EXPECT_EQ(violations.front().path, c.path);
    EXPECT_EQ(violations.front().span.line + 1, c.line);
    EXPECT_EQ(violations.front().span.column + 1, c.column);
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, FirstViolation,
    ::testing::Values(
        Case{"{type: integer}", "x: 1", "expected type integer, found object", "$", 1, 1},
        Case{"{type: [string, \"null\"]}", "3", "expected type string | null, found integer", "$", 1, 1},
        Case{"{type: [string, 5, \"null\"]}", "3", "expected type string | null, found integer", "$", 1, 1},
        Case{"{type: integer}", "1.0", "expected type integer, found number", "$", 1, 1},
        Case{"{type: number}", "1.0", "", "", 0, 0},
        Case{"{type: number}", "7", "", "", 0, 0},
        Case{"{type: string}", "'123'", "", "", 0, 0},
        Case{"{type: boolean}", "1", "expected type boolean, found integer", "$", 1, 1},
        Case{"{type: whatever}", "1", "", "", 0, 0},
        Case{"{type: []}", "1", "expected type , found integer", "$", 1, 1},
        Case{"{properties: {port: {maximum: 65535}}}", "port: 70000",
             "value 70000 is greater than maximum 65535", "$.port", 1, 7},
        Case{"{minimum: 0.5}", "0.25", "value 0.25 is less than minimum 0.5", "$", 1, 1},
        Case{"{exclusiveMinimum: 5.0}", "5", "value 5 is not greater than 5", "$", 1, 1},
        Case{"{exclusiveMaximum: 1e300}", "2e300", kHugeMessage, "$", 1, 1},
        Case{"{maximum: 10}", "123456789012345678901234567890",
             "value 123456789012345680000000000000 is greater than maximum 10", "$", 1, 1},
        Case{"{minimum: 1}", "abc", "", "", 0, 0},
        Case{"{required: [a, b]}", "a: 1", "missing required property 'b'", "$", 1, 1},
        Case{"{required: [a, 7]}", "b: 1", "missing required property 'a'", "$", 1, 1},
        Case{"{additionalProperties: false, properties: {a: {}}}", "a: 1\nb: 2",
             "additional property 'b' is not allowed", "$.b", 2, 4},
        Case{"{additionalProperties: {type: string}}", "a: x\nb: 2", "expected type string, found integer",
             "$.b", 2, 4},
        Case{"{items: {type: string}}", "[a, 1]", "expected type string, found integer", "$[1]", 1, 5},
        Case{"{properties: {h: {items: {minLength: 2}}}}", "h:\n  - ab\n  - c\n",
             "string is shorter than minLength 2", "$.h[1]", 3, 5},
        Case{"{oneOf: [{type: integer}, {type: number}]}", "3",
             "value matches 2 of the oneOf schemas (exactly one required)", "$", 1, 1},
        Case{"{oneOf: []}", "3", "value matches 0 of the oneOf schemas (exactly one required)", "$", 1, 1},
        Case{"{anyOf: []}", "3", "value does not match any of the anyOf schemas", "$", 1, 1},
        Case{"{anyOf: [{type: string}, {minimum: 5}]}", "3", "value does not match any of the anyOf schemas", "$",
             1, 1},
        Case{"{anyOf: [{type: string}, {minimum: 2}]}", "3", "", "", 0, 0},
        Case{"{allOf: [{minimum: 1}, {maximum: 2}]}", "3", "value 3 is greater than maximum 2", "$", 1, 1},
        Case{"{allOf: 5, anyOf: {}, oneOf: x}", "3", "", "", 0, 0},
        Case{"{not: {type: integer}}", "3", "value must not match the 'not' schema", "$", 1, 1},
        Case{"{not: 5}", "3", "value must not match the 'not' schema", "$", 1, 1},
        Case{"{minLength: 2}", "é", "string is shorter than minLength 2", "$", 1, 1},
        Case{"{maxLength: 1}", "é", "", "", 0, 0},
        Case{"{maxLength: 1.5}", "abc", "", "", 0, 0},
        Case{"{maxLength: 2.0}", "abc", "string is longer than maxLength 2", "$", 1, 1},
        Case{"{minLength: 1e30}", "abc", "string is shorter than minLength 9223372036854775807", "$", 1, 1},
        Case{"{minItems: 2}", "[1]", "array has fewer than minItems 2", "$", 1, 1},
        Case{"{maxItems: 0}", "[1]", "array has more than maxItems 0", "$", 1, 1},
        Case{"false", "1", "value is not allowed (schema is false)", "$", 1, 1},
        Case{"true", "1", "", "", 0, 0},
        Case{"7", "1", "", "", 0, 0},
        Case{"{properties: {a: false}}", "a: 1", "value is not allowed (schema is false)", "$.a", 1, 4},
        Case{"{enum: [1, a]}", "1.0", "", "", 0, 0},
        Case{"{enum: [1, a]}", "a", "", "", 0, 0},
        Case{"{enum: [1, a]}", "true", "value is not one of the allowed enum values", "$", 1, 1},
        Case{"{const: [1, 2]}", "[1, 2.0]", "", "", 0, 0},
        Case{"{const: [1, 2]}", "[3]", "value does not equal the required const", "$", 1, 1},
        Case{"{const: [1, 2]}", "[2, 1]", "value does not equal the required const", "$", 1, 1},
        Case{"{const: {a: [1], b: x}}", "{b: x, a: [1]}", "", "", 0, 0},
        Case{"{const: {a: 1}}", "{a: 1, b: 2}", "value does not equal the required const", "$", 1, 1},
        Case{"{const: {a: 1, b: 2}}", "{a: 1}", "value does not equal the required const", "$", 1, 1},
        Case{"{const: {}}", "[]", "value does not equal the required const", "$", 1, 1},
        Case{"{const: 0}", "false", "value does not equal the required const", "$", 1, 1},
        Case{"{const: 100000000000000000000}", "100_000_000_000_000_000_000", "value does not equal the required const",
             "$", 1, 1},
        Case{"{const: 100000000000000000000}", "100000000000000000000", "", "", 0, 0},
        Case{"{const: 1e20}", "100000000000000000000", "", "", 0, 0},
        Case{"{const: 9007199254740993}", "9007199254740992.0", "value does not equal the required const", "$", 1,
             1},
        Case{"{unknownKeyword: 1, type: string}", "x", "", "", 0, 0}));

// Every violation is listed, in keyword order and depth-first.
TEST(SchemaValidator, CollectsEveryViolationInOrder) {
    const auto v = run("{type: string, required: [x], properties: {a: {type: string}, b: {maximum: 1}}}",
                       "a: 1\nb: 2\n");
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].message, "expected type string, found object");
    EXPECT_EQ(v[1].message, "missing required property 'x'");
    EXPECT_EQ(v[2].path, "$.a");
    EXPECT_EQ(v[3].path, "$.b");
}

TEST(SchemaValidator, Yaml11ResolutionFollowsTheMode) {
    EXPECT_FALSE(run("{type: boolean}", "yes", ResolveMode::Yaml12).empty());
    EXPECT_TRUE(run("{type: boolean}", "yes", ResolveMode::Yaml11).empty());
    EXPECT_FALSE(run("{type: boolean}", "y", ResolveMode::PyYamlCompat).empty());
    EXPECT_TRUE(run("{type: integer}", "0o17", ResolveMode::Yaml12).empty());
    EXPECT_TRUE(run("{type: string}", "!!str 5", ResolveMode::Yaml12).empty());
    EXPECT_TRUE(run("{type: string}", "!custom 5", ResolveMode::Yaml12).empty());
    EXPECT_TRUE(run("{type: integer}", "!!int '5'", ResolveMode::Yaml12).empty());
    EXPECT_TRUE(run("{type: \"null\"}", "a: ", ResolveMode::Yaml12).size() == 1);
}

TEST(SchemaValidator, AliasCopiesReportTheAliasPosition) {
    const auto v = run("{properties: {b: {properties: {x: {type: string}}}, c: {type: string}}}",
                       "a: &A {x: 1}\nb: *A\nc: *A\n");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].path, "$.b.x");  // below the copy: the anchored node's own position
    EXPECT_EQ(v[0].span.line, 0u);
    EXPECT_EQ(v[1].path, "$.c");    // the copy itself: the alias's position
    EXPECT_EQ(v[1].span.line, 2u);
    EXPECT_EQ(v[1].span.column, 3u);
}

TEST(SchemaValidator, AliasesResolveToTheAnchorDefinedBeforeThem) {
    EXPECT_TRUE(run("{properties: {d: {items: {type: integer}}}}", "a: &y 1\nx: &x [*y]\nc: &y s\nd: *x\n").empty());
    EXPECT_TRUE(run("{properties: {d: {type: string}}}", "a: &y 1\nc: &y s\nd: *y\nx: &y 2\n").empty());
}

TEST(SchemaValidator, AliasExpansionIsBounded) {
    // 101 levels of aliases: the innermost copy is beyond depth 100 and reads as null.
    std::string doc = "l0: &a0 [1]\n";
    for (int i = 1; i <= 101; ++i) {
        const std::string n = std::to_string(i);
        doc.append("l").append(n).append(": &a").append(n).append(" [*a").append(std::to_string(i - 1)).append("]\n");
    }
    doc += "top: *a101\n";
    const auto v = run("{properties: {top: {type: array}}}", doc);
    EXPECT_TRUE(v.empty());
    auto composed = rt::compose_stream(doc, 0);
    ASSERT_TRUE(composed.ok());
    const InstanceTree tree = build_instance_tree(composed.value().roots[0], ResolveMode::Yaml12);
    // Walk down `top` to the first non-array: it is a null, not the 1 at the bottom.
    const Instance* n = &tree.nodes[tree.nodes[0].first + 2 * 102 + 1];
    int levels = 0;
    while (n->type == InstanceType::Array && n->count == 1) {
        n = &tree.nodes[n->first];
        ++levels;
    }
    EXPECT_EQ(n->type, InstanceType::Null);
    EXPECT_EQ(levels, 100);

    // A billion laughs stops after the copy budget and stays small.
    std::string bomb = "a0: &a0 [x, x, x, x, x, x, x, x, x, x]\n";
    for (int i = 1; i <= 9; ++i) {
        const std::string n = std::to_string(i);
        bomb.append("a").append(n).append(": &a").append(n).append(" [");
        for (int k = 0; k < 10; ++k) bomb.append(k ? ", *a" : "*a").append(std::to_string(i - 1));
        bomb += "]\n";
    }
    auto bombed = rt::compose_stream(bomb, 0);
    ASSERT_TRUE(bombed.ok());
    const InstanceTree big = build_instance_tree(bombed.value().roots[0], ResolveMode::Yaml12);
    EXPECT_GE(big.copied, kMaxCopiedNodes);
    EXPECT_LT(big.copied, kMaxCopiedNodes + 100);
}

TEST(SchemaValidator, MergeKeysAreApplied) {
    const char* doc = "base: &b {image: x, port: 1}\nsvc:\n  <<: *b\n  port: 2\n";
    EXPECT_TRUE(run("{properties: {svc: {required: [image, port], additionalProperties: false, "
                    "properties: {image: {}, port: {const: 2}}}}}",
                    doc)
                    .empty());
    EXPECT_TRUE(run("{properties: {svc: {required: [a, b]}}}", "svc:\n  <<: [{a: 1}, {b: 2}]\n").empty());
    const auto v = run("{properties: {svc: {properties: {a: {const: 1}}}}}", "svc:\n  <<: [{a: 1}, {a: 2}]\n");
    EXPECT_TRUE(v.empty());
    // A merge value that is no mapping stays under `<<`.
    EXPECT_EQ(run("{properties: {svc: {additionalProperties: false}}}", "svc:\n  <<: 5\n").at(0).path, "$.svc.<<");
}

TEST(SchemaValidator, DeepNestingUsesTheStackGuard) {
    // Block sequences opened on their parent's line: nesting without the flow limit.
    std::string doc;
    for (int i = 0; i < 20000; ++i) doc += "- ";
    doc += "x\n";
    std::string schema = "{type: array}";
    for (int i = 0; i < 900; ++i) schema = "{items: " + schema + "}";
    EXPECT_TRUE(run(schema, doc).empty());
    EXPECT_EQ(run("{not: {items: {type: array}}}", doc).size(), 1u);
}

TEST(SchemaNumbers, TextsAndComparisons) {
    EXPECT_EQ(number_text(5.0), "5");
    EXPECT_EQ(number_text(-0.5), "-0.5");
    EXPECT_EQ(number_text(1e-7), "0.0000001");
    EXPECT_EQ(number_text(1e21), "1000000000000000000000");
    EXPECT_EQ(number_text(0.1), "0.1");
    EXPECT_EQ(number_text(1e300), std::string("1").append(300, '0'));
    EXPECT_EQ(number_text(-123.456), "-123.456");
    EXPECT_EQ(number_text(0.0), "0");
    EXPECT_EQ(number_text(5e-324), std::string("0.").append(323, '0').append("5"));
    EXPECT_TRUE(int_equals_double(1, 1.0));
    EXPECT_FALSE(int_equals_double(9007199254740993, 9007199254740992.0));
    EXPECT_FALSE(int_equals_double(INT64_MAX, 9223372036854775808.0));
    EXPECT_EQ(canonical_integer("+00_12"), "12");
    EXPECT_EQ(canonical_integer("-0"), "0");
    EXPECT_FALSE(canonical_integer("0x10"));
    EXPECT_EQ(integral_double_digits(1e20), "100000000000000000000");
    EXPECT_FALSE(integral_double_digits(0.5));
}

}  // namespace
}  // namespace torvex::schema
