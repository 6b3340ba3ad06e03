// Warnings go to logging.getLogger("torvex").warning(message), looked up
// afresh each time so a reconfigured logger takes effect at once. A failure
// while logging is ignored: a warning never fails a call.
#pragma once

#include <string_view>

namespace torvex::ffi {

void log_warning(std::string_view message);

}  // namespace torvex::ffi
