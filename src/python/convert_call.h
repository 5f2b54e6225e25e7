// SPDX-License-Identifier: MIT
// The module's convert(): one run of the command line's conversion.
#ifndef QUENBREL_PYTHON_CONVERT_CALL_H
#define QUENBREL_PYTHON_CONVERT_CALL_H

// Sizes of "#" formats are Py_ssize_t.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace host {

// The arguments as the package's wrapper hands them over: paths as bytes,
// numbers as the command line's words; null where nothing was given.
struct ConvertArguments {
  PyObject* src = nullptr;  // a path (bytes) or a binary file object
  PyObject* dst = nullptr;  // a path (bytes), a binary file object or None
  const char* lineLength = "70";
  bool oneLine = false;
  bool upper = false;
  bool dropN = false;
  const char* compress = nullptr;
  const char* level = nullptr;
  const char* threads = nullptr;
  bool index = false;
  bool dict = false;
};

// Runs the conversion, the GIL released while it runs (the calling thread
// holds it). Returns the output as bytes when `dst` is None, else None;
// null with the error set: a UsageError for an argument the command line
// refuses, the Error of the run's status, KeyboardInterrupt (or what
// another signal handler raised) when the run was stopped.
PyObject* convertCall(const ConvertArguments& a);

}  // namespace host

#endif  // QUENBREL_PYTHON_CONVERT_CALL_H
