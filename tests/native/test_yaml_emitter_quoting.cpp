// Which strings the YAML emitter writes plain, single- or double-quoted, and
// how it escapes them. Every quoted case here would read back as something
// else (or fail to load) if written plain.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encode/yaml_emitter.hpp"
#include "encode/yaml_quoting.hpp"

namespace torvex {
namespace {

std::string root(std::string_view s, bool double_quotes = true) {
    DumpOptions o;
    o.double_quotes = double_quotes;
    std::string out = emit_yaml(Value::string(std::string(s)), o);
    EXPECT_EQ(out.back(), '\n');
    out.pop_back();
    return out;
}

std::string dq(std::string_view s) {
    std::string out(1, '"');
    out.append(s);
    out.push_back('"');
    return out;
}

TEST(YamlEmitterQuoting, PlainWhenSafe) {
    for (const char* s : {"y2", "hello", "hello world", "a#b", "a:b", "2001-12-14", "2001-12-14 21:59:43.10", "x-y",
                          "a - b", "é", "日本語", "a,b", "a[b]", "x[]", "0x", "0o", "1.2.3", "1e", "...x", "a'b",
                          "a\"b", "a\\b", "~x", "<<x", "nul", "Nul", "nUll", "TRue", "yES", "=x", "a=b", "0xG", "x:y:z",
                          "http://x.org/a#b", "a?b", "a!b",
                          // times of day and codes that no rule set reads in base 60
                          "07:30", "00:05:00", "0:30", "1:007", "1:3_0", "1:.5"}) {
        EXPECT_EQ(root(s), s) << s;
    }
    // No number starts with an underscore under either rule set ("_1" used to be quoted).
    for (const char* s : {"_", "_1", "__1", "+_1", "_.5", "._5", "+._5", "_0x1F", "_1:30", "_1e3"}) {
        EXPECT_EQ(root(s), s) << s;
    }
    // Single-character and short forms that mean nothing special either way.
    for (const char* s : {"a", "x", "Z", "0a", "12a", "1.x"}) EXPECT_EQ(root(s), s) << s;
}

TEST(YamlEmitterQuoting, ReservedWordsAreQuoted) {
    for (const char* s :
         {"~", "no", "No", "NO", "on", "On", "ON", "<<", "yes", "Yes", "YES", "off", "Off", "OFF", "...", "null", "Null",
          "NULL", "true", "True", "TRUE", ".inf", ".Inf", ".INF", ".nan", ".NaN", ".NAN", "false", "False", "FALSE",
          "-.inf", "-.Inf", "-.INF", "+.inf", "+.Inf", "+.INF",
          // booleans of YAML 1.1 and its value key
          "y", "Y", "n", "N", "="}) {
        EXPECT_EQ(root(s), dq(s)) << s;
    }
}

TEST(YamlEmitterQuoting, NumbersUnderEitherRuleSetAreQuoted) {
    for (const char* s : {"0", "1", "-1", "+1", "1.5", ".5", "1.", "1e3", "1E3", "-2.5E-3", "0x1F", "0X1f", "0o17",
                          "9223372036854775808", "123456789012345678901234567890",
                          // YAML 1.1 only
                          "012", "0b101", "1_000", "1_", "1__0", "0_7", "1_0.5", "1:30", "12:30:00", "190:20:30.15",
                          "+1:30", "07:30:00.5", "0:30.",
                          // YAML 1.2 core reads any run of digits as an integer
                          "08", "00", "0123456789", "+09", "08540"}) {
        const std::string out = root(s);
        EXPECT_EQ(out.front(), '"') << s;
        EXPECT_EQ(out, dq(s)) << s;
    }
}

TEST(YamlEmitterQuoting, IndicatorsAndSpacingAreQuoted) {
    for (const char* s : {"-x", "- x", "-", "?x", "? x", ":x", ": x", "!x", "&a", "*a", "|x", ">x", "%x", "@x", "`x",
                          "#x", ",x", "[x", "]x", "{x", "}x", "'x", " lead", "trail ", "a: b", "a #b", "x:", "a:",
                          "--- x", "---", "... x", "...", "a  #b"}) {
        const std::string out = root(s);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.front(), '"') << s;
    }
    EXPECT_EQ(root("\"q\""), "\"\\\"q\\\"\"");
    EXPECT_EQ(root("'x"), "\"'x\"");
}

TEST(YamlEmitterQuoting, QuoteChoice) {
    EXPECT_EQ(root("", true), "\"\"");
    EXPECT_EQ(root("", false), "''");
    EXPECT_EQ(root("yes", false), "'yes'");
    EXPECT_EQ(root("a: b\\c", false), "'a: b\\c'");  // no escapes inside single quotes
    EXPECT_EQ(root("it's: x", false), "\"it's: x\"");
    EXPECT_EQ(root("'", false), "\"'\"");
    EXPECT_EQ(root("a\tb", false), "\"a\\tb\"");
    EXPECT_EQ(root("a\u2028b", false), "\"a\\Lb\"");
}

TEST(YamlEmitterQuoting, Escapes) {
    struct Case {
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"a\tb", "\"a\\tb\""},
        {std::string("\x00", 1), "\"\\0\""},
        {"\x01", "\"\\x01\""},
        {"\x1b[0m", "\"\\x1b[0m\""},
        {"\x7f", "\"\\x7f\""},
        {"a\rb", "\"a\\rb\""},
        {"\"\\", "\"\\\"\\\\\""},
        {"\\ \"", "\\ \""},  // plain: neither starts an indicator
        {" \n ", "\" \\n \""},
        {"trail\n", "\"trail\\n\""},  // a key or flow would need it; at the root it is literal-eligible
        // characters that are line breaks under YAML 1.1 or not printable: escaped
        {"a\u0085b", "\"a\\Nb\""},
        {"a\u2028b", "\"a\\Lb\""},
        {"a\u2029b", "\"a\\Pb\""},
        {"\u0080\u009f", "\"\\x80\\x9f\""},
        {"\ufeffx", "\"\\ufeffx\""},
        {"x\ufeff", "\"x\\ufeff\""},
        {"\uffff\ufffe", "\"\\uffff\\ufffe\""},
        // other non-ASCII characters are written as they are
        {"é\u00a0€\u2027\u202a\ufffd😀", "é\u00a0€\u2027\u202a\ufffd😀"},
        {"a\u00a0: b", "\"a\u00a0: b\""},
    };
    for (const Case& c : cases) {
        if (c.in == "trail\n") {
            EXPECT_EQ(root(c.in), "|\n  trail");
            continue;
        }
        EXPECT_EQ(root(c.in), c.out) << c.in;
    }
}

TEST(YamlEmitterQuoting, ScanFlags) {
    using yaml::scan_scalar;
    EXPECT_TRUE(scan_scalar("a,b").flow_unsafe);
    EXPECT_FALSE(scan_scalar("a,b").needs_quotes);
    EXPECT_TRUE(scan_scalar("a\nb").literal_ok);
    EXPECT_TRUE(scan_scalar("\n\n").literal_ok);
    EXPECT_FALSE(scan_scalar("ab").literal_ok);
    EXPECT_FALSE(scan_scalar("a\nb\u2028").literal_ok);
    EXPECT_FALSE(scan_scalar("a\nb\x7f").literal_ok);
    EXPECT_TRUE(scan_scalar("a\n\tb").literal_ok);
    EXPECT_FALSE(scan_scalar("it's").single_ok);
    EXPECT_TRUE(scan_scalar("yes").single_ok);
    EXPECT_TRUE(yaml::has_foldable_space("a b"));
    EXPECT_FALSE(yaml::has_foldable_space(" ab"));
    EXPECT_FALSE(yaml::has_foldable_space("ab "));
    EXPECT_FALSE(yaml::has_foldable_space("a  b"));
}

// The scans read 8 or 16 bytes a step: a character that decides the style must count wherever it falls, on
// either side of every step boundary, and padding around it must change nothing.
TEST(YamlEmitterQuoting, ScanFlagsDoNotDependOnWhereTheCharacterFalls) {
    const auto flags = [](std::string_view s) {
        const yaml::ScalarScan scan = yaml::scan_scalar(s);
        const yaml::PlainFit fit = yaml::plain_fit(s);
        return std::vector<bool>{scan.needs_quotes, scan.flow_unsafe, scan.literal_ok, scan.single_ok,
                                 fit.block_ok,      fit.flow_ok,      fit.single_ok,   fit.block_scalar_ok};
    };
    for (std::string_view middle :
         {": ", " #", "\t", "\n", "\x01", "\x7f", "'", ",", "[", "]", "{", "}", "\xc2\x85", "\xc2\xa3", "\xe2\x80\xa8",
          "\xe2\x80\xa2", "\xef\xbb\xbf", "\xef\xbf\xbe", "\xcf\x80", "_", "^", "a:b", "a#b"}) {
        const std::string base = "a" + std::string(middle) + "b";
        const std::vector<bool> expected = flags(base);
        for (std::size_t before = 1; before <= 34; ++before)
            for (std::size_t after = 1; after <= 34; after += 3) {
                const std::string s = std::string(before, 'a') + std::string(middle) + std::string(after, 'b');
                EXPECT_EQ(flags(s), expected) << testing::PrintToString(s);
            }
    }
}

TEST(YamlEmitterQuoting, FlowContextQuotesFlowIndicators) {
    DumpOptions flow;
    flow.flow_style = true;
    EXPECT_EQ(emit_yaml(Value::sequence({Value::string("a,b"), Value::string("x]"), Value::string("a:b"),
                                         Value::string("a?b"), Value::string("a#b")}),
                        flow),
              "[\"a,b\", \"x]\", a:b, a?b, a#b]\n");
    EXPECT_EQ(emit_yaml(Value::mapping({{Value::string("{k}"), Value::string("v}")}}), flow), "{\"{k}\": \"v}\"}\n");
}

}  // namespace
}  // namespace torvex
