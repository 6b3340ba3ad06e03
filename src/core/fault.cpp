#include "core/fault.hpp"

namespace torvex {

void raise_fault(const char* what, const char* file, int line) {
    std::string text = "internal invariant broken: ";
    text += what;
    text += " (";
    text += file;
    text += ":";
    text += std::to_string(line);
    text += ")";
    throw InternalFault(text);
}

}  // namespace torvex
