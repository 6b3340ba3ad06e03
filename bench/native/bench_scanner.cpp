// Scanner throughput: torvex's tokenize against libyaml's token scanner
// (yaml_parser_scan) over the same bytes, in the same process and run.
//
//   torvex_native_bench DATA_DIR [--memory]
//
// Prints "scanner: torvex A MB/s, libyaml B MB/s, ratio R" (MB = 10^6 bytes,
// R = torvex speed / libyaml speed). Each side scans every file of DATA_DIR;
// rounds alternate between the two and the fastest round of each counts, which
// keeps the figure steady on a shared machine. --memory also prints the token
// list's heap bytes per input byte.
#include <yaml.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/utf8.hpp"
#include "scanner/scanner.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::string> load_inputs(const fs::path& dir) {
    std::vector<fs::path> paths;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() == ".yaml") paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> inputs;
    for (const auto& p : paths) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        inputs.push_back(ss.str());
    }
    return inputs;
}

// Returns the number of tokens, or -1 on a scan error.
long torvex_scan(const std::string& text) {
    auto r = torvex::tokenize(text, 0);
    if (!r.ok()) {
        std::fprintf(stderr, "torvex: %s\n", r.error().message.c_str());
        return -1;
    }
    return static_cast<long>(r.value().size());
}

long libyaml_scan(const std::string& text) {
    yaml_parser_t parser;
    if (!yaml_parser_initialize(&parser)) return -1;
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    long count = 0;
    for (;;) {
        yaml_token_t token;
        if (!yaml_parser_scan(&parser, &token)) {
            std::fprintf(stderr, "libyaml: %s\n", parser.problem ? parser.problem : "scan error");
            count = -1;
            break;
        }
        const bool end = token.type == YAML_STREAM_END_TOKEN;
        yaml_token_delete(&token);
        ++count;
        if (end) break;
    }
    yaml_parser_delete(&parser);
    return count;
}

template <class F>
double round_seconds(const std::vector<std::string>& inputs, F scan, bool& ok) {
    const auto start = Clock::now();
    for (const auto& text : inputs)
        if (scan(text) < 0) ok = false;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DATA_DIR [--memory]\n", argv[0]);
        return 2;
    }
    const bool memory = argc > 2 && std::strcmp(argv[2], "--memory") == 0;
    const auto inputs = load_inputs(argv[1]);
    std::size_t bytes = 0;
    for (const auto& text : inputs) {
        if (torvex::utf8::validate(text)) {
            std::fprintf(stderr, "input is not valid UTF-8\n");
            return 1;
        }
        bytes += text.size();
    }
    if (bytes == 0) {
        std::fprintf(stderr, "no .yaml files in %s\n", argv[1]);
        return 1;
    }

    bool ok = true;
    double best_torvex = 1e30, best_libyaml = 1e30;
    const auto deadline = Clock::now() + std::chrono::seconds(6);
    int rounds = 0;
    while (ok && (rounds < 3 || (Clock::now() < deadline && rounds < 40))) {
        best_torvex = std::min(best_torvex, round_seconds(inputs, torvex_scan, ok));
        best_libyaml = std::min(best_libyaml, round_seconds(inputs, libyaml_scan, ok));
        ++rounds;
    }
    if (!ok) return 1;

    const double mb = static_cast<double>(bytes) / 1e6;
    const double a = mb / best_torvex, b = mb / best_libyaml;
    std::printf("scanner: torvex %.1f MB/s, libyaml %.1f MB/s, ratio %.2f\n", a, b, a / b);

    if (memory) {
        std::size_t list_bytes = 0, tokens = 0;
        for (const auto& text : inputs) {
            auto r = torvex::tokenize(text, 0);
            list_bytes += r.value().memory_bytes();
            tokens += r.value().size();
        }
        std::printf("scanner memory: %.2f token-list bytes per input byte (%.3f tokens per byte, %zu-byte tokens)\n",
                    static_cast<double>(list_bytes) / static_cast<double>(bytes),
                    static_cast<double>(tokens) / static_cast<double>(bytes), sizeof(torvex::Token));
    }
    return 0;
}
