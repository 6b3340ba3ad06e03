// Passes over composed roots that loads runs by option: the YAML 1.1 warnings,
// the 1.1-to-1.2 upgrade of plain scalars, and the duplicate-key checks.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/result.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt {

// The warnings below use the decoder's wording; a node read from an included
// file (file id above 0, named by `file_paths`) adds " in " and that file's
// path after its position, since the line belongs to that file.

// One warning per plain scalar (keys included) that reads differently under
// `mode` and under YAML 1.2, in document order.
std::vector<std::string> version_warnings(const std::vector<YamlNode>& roots, ResolveMode mode,
                                          std::span<const std::string> file_paths = {});

// Rewrites plain scalars whose meaning differs between `mode` and YAML 1.2 to
// the 1.2 spelling of their `mode` meaning, and marks them modified.
void upgrade_to_1_2(std::vector<YamlNode>& roots, ResolveMode mode);

// The first duplicate key of any mapping, as the decoder reports it; the
// error's file is set from `file_paths` when the key comes from an included file.
Result<void> check_duplicate_keys(const std::vector<YamlNode>& roots, ResolveMode mode,
                                  std::span<const std::string> file_paths = {});
// One warning per duplicate key, in document order.
std::vector<std::string> duplicate_key_warnings(const std::vector<YamlNode>& roots, ResolveMode mode,
                                                std::span<const std::string> file_paths = {});

}  // namespace torvex::rt
