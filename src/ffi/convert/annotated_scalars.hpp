// The annotated scalars of a load: the ten fields of each (lines, columns
// and offsets as ints, the style's name, the file) and the maker of each
// class, decided once per load. Shared by the converters of annotated
// loads, which differ only in what they read positions from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "core/scalar_style.hpp"
#include "ffi/convert/untracked.hpp"
#include "ffi/py_ref.hpp"
#include "ffi/types/annotated.hpp"
#include "ffi/types/annotated_scalar.hpp"

namespace torvex::ffi {

// What the conversions of one load's documents share: how annotated scalars
// are made (decided once per load) and the objects kept untracked until the
// load hands them over.
struct ConversionShared {
    std::array<AnnotatedScalarMaker, 3> makers;  // by ScalarClass
    std::uint32_t since_pulse = 0;               // nodes converted since the interpreter last had a turn
    UntrackedWhileBuilding untracked;            // declared last: tracks again first

    // A long conversion lets the interpreter do what it has been asked to
    // between objects, as native code running for long should: handle a
    // signal (Ctrl-C ends the load with KeyboardInterrupt) and run a cycle
    // collection that allocations scheduled. The objects built so far are
    // untracked (see UntrackedWhileBuilding), so such a collection does not
    // walk them. False with the error set when a signal handler raised.
    bool pulse() {
        if (++since_pulse < kPulseEvery) return true;
        since_pulse = 0;
        return PyErr_CheckSignals() == 0;
    }
    static constexpr std::uint32_t kPulseEvery = 1024;  // nodes; the collector's default threshold is 2000 objects
};

// The ints of positions below kCount (lines, columns and offsets in the
// first 16 KiB of a text: every position of most configuration files),
// kept by each thread state from one load to the next. Each annotated
// scalar holds six ints; made afresh, its two offsets alone cost two
// allocations, two releases and 64 bytes, which a program holding many
// annotated files pays again for every one of them.
class PositionInts {
public:
    static constexpr std::uint32_t kCount = 1U << 14;

    PositionInts() = default;
    PositionInts(const PositionInts&) = delete;
    PositionInts& operator=(const PositionInts&) = delete;
    ~PositionInts() {
        for (PyObject* number : ints_) Py_XDECREF(number);
    }

    // The calling thread state's table (see of_this_thread), or null.
    static PositionInts* of_this_thread(PyRef& holder);

    // A new reference to `n` (below kCount), or null with the error set.
    PyObject* get(std::uint32_t n) {
        PyObject*& slot = ints_[n];
        if (slot == nullptr) slot = PyLong_FromUnsignedLong(n);
        return Py_XNewRef(slot);
    }

private:
    std::array<PyObject*, kCount> ints_{};  // owned, made on first use
};

class AnnotatedScalars {
public:
    explicit AnnotatedScalars(ConversionShared& shared) : shared_(shared) {}

    // cls(plain, *fields): a number, or the str a big int's text became.
    PyRef value(ScalarClass which, PyRef plain, const AnnotationValues& at, ScalarStyle style);
    // cls(text, *fields) for the str class, made straight from UTF-8 text.
    PyRef str(std::string_view text, const AnnotationValues& at, ScalarStyle style);

private:
    bool fields(const AnnotationValues& at, ScalarStyle style, ScalarFieldRefs& out);
    AnnotatedScalarMaker* maker(ScalarClass which);
    // A position as an int: CPython's own up to 256, the thread's table's below
    // PositionInts::kCount, else new (lines from the last few made).
    PyObject* position(std::uint64_t n, bool line);

    ConversionShared& shared_;
    PositionInts* ints_ = nullptr;  // looked up at the first position that may be in it
    bool ints_looked_up_ = false;
    PyRef ints_holder_;
    std::array<std::pair<std::uint64_t, PyRef>, 4> recent_lines_;
    std::size_t next_line_ = 0;
};

}  // namespace torvex::ffi
