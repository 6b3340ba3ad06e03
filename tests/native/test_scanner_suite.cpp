// The scanner over every case of the YAML test suite: no case may crash,
// valid cases must tokenize (the scanner rejects nothing the parser should
// accept), and the scalar texts of valid cases must match the suite's events.
// The share of error cases already caught by the scanner is reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/utf8.hpp"
#include "scanner/scanner.hpp"
#include "suite_cases.hpp"
#include "test_scanner_util.hpp"

namespace torvex {
namespace {

namespace fs = std::filesystem;

using testing_suite::read_file;
using testing_suite::suite_cases;
using testing_suite::SuiteCase;

// The texts of the scalar events, in order. Empty plain scalars are skipped:
// they stand for nodes the scanner emits no Scalar token for.
std::vector<std::string> event_scalars(const std::string& events) {
    std::vector<std::string> out;
    std::istringstream in(events);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("=VAL ", 0) != 0) continue;
        std::size_t p = 5;
        while (p < line.size() && (line[p] == '&' || line[p] == '<')) {
            const std::size_t end = line[p] == '<' ? line.find("> ", p) + 1 : line.find(' ', p);
            p = end + 1;
        }
        const char style = line[p];
        std::string value;
        for (std::size_t i = p + 1; i < line.size(); ++i) {
            if (line[i] != '\\' || i + 1 >= line.size()) {
                value.push_back(line[i]);
                continue;
            }
            switch (line[++i]) {
                case 'n': value.push_back('\n'); break;
                case 't': value.push_back('\t'); break;
                case 'r': value.push_back('\r'); break;
                case 'b': value.push_back('\b'); break;
                case '\\': value.push_back('\\'); break;
                default: value.push_back('\\'); value.push_back(line[i]); break;
            }
        }
        if (style == ':' && value.empty()) continue;
        out.push_back(value);
    }
    return out;
}

TEST(ScannerSuite, ValidCasesTokenizeAndErrorCasesAreCounted) {
    const auto cases = suite_cases();
    if (cases.empty()) GTEST_SKIP() << "yaml-test-suite not found";

    std::size_t valid = 0, errors = 0, caught = 0;
    std::vector<std::string> rejected, mismatched;
    for (const auto& c : cases) {
        const std::string text = read_file(c.dir / "in.yaml");
        if (utf8::validate(text)) continue;  // the caller validates; such input never reaches the scanner
        auto result = tokenize(text, 0, true);
        if (c.error) {
            ++errors;
            if (!result.ok()) ++caught;
            continue;
        }
        ++valid;
        if (!result.ok()) {
            const auto& e = result.error();
            rejected.push_back(c.name + ": " + e.message + " at " + std::to_string(e.span->line + 1) + ":" +
                               std::to_string(e.span->column + 1));
            continue;
        }
        const TokenList& tokens = result.value();
        const long misplaced = testing_scanner::first_misplaced_token(text, tokens);
        if (misplaced >= 0) ADD_FAILURE() << c.name << ": token " << misplaced << " has a line/column off its offset";
        std::vector<std::string> texts;
        for (const Token& t : tokens)
            if (t.kind == TokenKind::Scalar) texts.emplace_back(tokens.text(t));
        const auto expected = event_scalars(read_file(c.dir / "test.event"));
        if (texts != expected) {
            std::string detail = c.name + ":";
            for (std::size_t i = 0; i < std::max(texts.size(), expected.size()); ++i) {
                const std::string got = i < texts.size() ? texts[i] : "<none>";
                const std::string want = i < expected.size() ? expected[i] : "<none>";
                if (got != want) {
                    detail += " scalar " + std::to_string(i) + " got [" + got + "] want [" + want + "]";
                    break;
                }
            }
            mismatched.push_back(detail);
        }
    }
    std::cout << "[ suite    ] valid cases: " << valid << ", wrongly rejected: " << rejected.size()
              << ", scalar text mismatches: " << mismatched.size() << "; error cases: " << errors
              << ", caught by the scanner: " << caught << "\n";
    for (const auto& r : rejected) ADD_FAILURE() << "valid case rejected: " << r;
    for (const auto& m : mismatched) ADD_FAILURE() << "scalar text differs: " << m;
    EXPECT_GT(caught, errors / 3) << "the scanner should catch a good share of the suite's error cases";
}

}  // namespace
}  // namespace torvex
