// Directive loading for the pipelines of loads: the directive context built
// from LoadOptions, the loader run over the text, its warnings logged, the
// missing-value callbacks called and their log lines written, and directive
// errors raised with their include stack.
#pragma once

#include <optional>
#include <string>

#include "directives/loader.hpp"
#include "ffi/load_options.hpp"

namespace torvex::ffi {

// Any of OPT_INCLUDES, OPT_SECRETS, OPT_ENV_VAR.
bool uses_directives(const LoadOptions& options);

// Composes `text` and every file its directives reach. Returns the roots and
// the file table (file 0 is the text), or nothing with the Python error set
// (a directive error, or an exception raised by a callback). Comments are
// recorded for round-trip documents only (`with_comments`). With
// `plain_files`, for a load whose result only the plain conversion reads,
// files without tags may stay on the plain decoder's tape
// (directives/plain_files.hpp).
std::optional<directives::DirectiveLoad> load_directives(std::string text, const LoadOptions& options,
                                                        bool with_comments = true, bool plain_files = false);

}  // namespace torvex::ffi
