// Passes over composed roots that loads runs by option: the YAML 1.1 warnings,
// the 1.1-to-1.2 upgrade of plain scalars, and the duplicate-key checks.
#pragma once

#include <string>
#include <vector>

#include "core/result.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt {

// One warning per plain scalar (keys included) that reads differently under
// `mode` and under YAML 1.2, in document order, with the decoder's wording.
std::vector<std::string> version_warnings(const std::vector<YamlNode>& roots, ResolveMode mode);

// Rewrites plain scalars whose meaning differs between `mode` and YAML 1.2 to
// the 1.2 spelling of their `mode` meaning, and marks them modified.
void upgrade_to_1_2(std::vector<YamlNode>& roots, ResolveMode mode);

// The first duplicate key of any mapping, as the decoder reports it.
Result<void> check_duplicate_keys(const std::vector<YamlNode>& roots, ResolveMode mode);
// One warning per duplicate key, in document order, as the decoder words them.
std::vector<std::string> duplicate_key_warnings(const std::vector<YamlNode>& roots, ResolveMode mode);

}  // namespace torvex::rt
