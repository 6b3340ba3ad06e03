// Broken invariants. Input errors are values (see result.hpp); a fault is a
// bug in the engine. It is thrown as InternalFault and turned into the
// internal error at the Python boundary, so it never terminates the interpreter.
#pragma once

#include <stdexcept>
#include <string>

namespace torvex {

class InternalFault : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

[[noreturn]] void raise_fault(const char* what, const char* file, int line);

}  // namespace torvex

#define TORVEX_CHECK(cond, what)                                   \
    do {                                                           \
        if (!(cond)) [[unlikely]]                                  \
            ::torvex::raise_fault((what), __FILE__, __LINE__);     \
    } while (0)
