// The one include of the CPython API. Only files under src/ffi include this.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
