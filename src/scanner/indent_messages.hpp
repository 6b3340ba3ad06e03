// Messages about indentation that both the scanner and the parser give: a
// slip that the scanner cannot see alone (a plain scalar swallows the line
// that holds it) is named by the parser in the scanner's words.
#pragma once

namespace torvex::messages {

inline constexpr const char* kTabIndent = "a tab cannot be used for indentation";

}  // namespace torvex::messages
