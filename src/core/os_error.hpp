// The operating system's text for an errno value, for error messages.
#pragma once

#include <string>

namespace torvex {

std::string os_error_text(int code);

}  // namespace torvex
