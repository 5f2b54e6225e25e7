// SPDX-License-Identifier: MIT
// The module's exceptions and warning: one class per status of the command
// line, each instance carrying the command line's message and status.
#ifndef QUENBREL_PYTHON_ERRORS_H
#define QUENBREL_PYTHON_ERRORS_H

// Sizes of "#" formats are Py_ssize_t.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

namespace host {

// Adds Error, FormatError, NoContentError, ReadError, WriteError,
// UsageError and NameWarning to `module`; false with the error set.
bool addErrorClasses(PyObject* module);

// Sets the error of a run that ended with `status` (not 0) and the command
// line's `message`. Returns null, for the caller to return.
PyObject* setRunError(int status, const std::string& message);

// Sets the UsageError of the argument `argument` the command line refused
// with `message` (and status 10). Returns null.
PyObject* setUsageError(const char* argument, const std::string& message);

// Issues `line` (a line of the command line's warnings) as a NameWarning
// when it is about a sequence name, else (the letters 2bit output has no
// room for) as a UserWarning; false when the warning filters made it an
// error, which is then set.
bool warnRun(const std::string& line);

}  // namespace host

#endif  // QUENBREL_PYTHON_ERRORS_H
