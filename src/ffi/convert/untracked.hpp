// Objects a conversion builds, kept out of the cycle collector until it ends.
//
// An annotated load allocates one collector-tracked object per collection
// (and per scalar its class makes in Python; natively made scalars leave the
// collector for good); every couple of thousand allocations the collector runs and
// walks the tracked objects, so a large document would be walked many times
// while it is still being built, although nothing but the converter can
// reach it yet. The converter untracks what it builds and tracks it all again
// once the conversion is over (on every path), so the collector sees the
// finished result once. Untracking is the documented way to take an object
// off the collector's lists while its owner knows it is in no cycle.
#pragma once

#include <vector>

#include "ffi/py_ref.hpp"

namespace torvex::ffi {

class UntrackedWhileBuilding {
public:
    UntrackedWhileBuilding() = default;
    UntrackedWhileBuilding(const UntrackedWhileBuilding&) = delete;
    UntrackedWhileBuilding& operator=(const UntrackedWhileBuilding&) = delete;
    ~UntrackedWhileBuilding() { track_all(); }

    // Takes `obj` (tracked or not) off the collector's lists until track_all;
    // keeps a reference to it until then. A dict is held once filled, as a
    // dict tracks itself again when an item that may be tracked goes in.
    void hold(PyObject* obj) {
        if (!PyObject_IS_GC(obj)) return;
        objects_.push_back(obj);
        Py_INCREF(obj);
        PyObject_GC_UnTrack(obj);
    }

    // Every held object tracked again (unless Python code run meanwhile did
    // so) and released.
    void track_all() noexcept {
        for (PyObject* obj : objects_) {
            if (!PyObject_GC_IsTracked(obj)) PyObject_GC_Track(obj);
            Py_DECREF(obj);
        }
        objects_.clear();
    }

private:
    std::vector<PyObject*> objects_;
};

}  // namespace torvex::ffi
