#pragma once

#include <pybind11/pybind11.h>

// Guards for pybind11 classes against Python-level paths that would otherwise reach native
// code with an unconstructed value or abort the interpreter.

// For a class bound with py::class_: `cls.__new__(cls, ...)` runs the class's own __init__ with
// the same arguments, so no instance exists without its native value (for a Python subclass the
// base is default-constructed); `__reduce__` / `__reduce_ex__` raise TypeError
// "cannot pickle '<type>' object" for every protocol (pybind11's base type aborts the process on
// the protocol 0/1 path).
void GuardClass(pybind11::handle cls);

// For a py::enum_ type: `__reduce__` and `__reduce_ex__` below protocol 2 rebuild the member from
// its value; protocol 2 and above keep the __getstate__ / __setstate__ path.
void GuardEnum(pybind11::handle cls);
