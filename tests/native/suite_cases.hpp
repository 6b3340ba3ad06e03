// The cases of the YAML test suite beside the project (../shared/yaml-test-suite),
// for the native tests that run over all of them.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace torvex::testing_suite {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct SuiteCase {
    std::string name;  // the case's directory below the suite, e.g. "2JQS" or "M2N8/00"
    fs::path dir;      // holds in.yaml, and a file named error for an error case
    bool error;
};

// Every case, sorted by name; empty when the suite is not there.
inline const std::vector<SuiteCase>& suite_cases() {
    static const std::vector<SuiteCase> cases = [] {
        std::vector<SuiteCase> out;
        const fs::path root = fs::path(TORVEX_SOURCE_DIR) / ".." / "shared" / "yaml-test-suite";
        if (!fs::is_directory(root)) return out;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.path().filename() != "in.yaml") continue;
            const fs::path dir = entry.path().parent_path();
            out.push_back({fs::relative(dir, root).string(), dir, fs::exists(dir / "error")});
        }
        std::sort(out.begin(), out.end(), [](const SuiteCase& a, const SuiteCase& b) { return a.name < b.name; });
        return out;
    }();
    return cases;
}

}  // namespace torvex::testing_suite
