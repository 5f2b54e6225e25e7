// SPDX-License-Identifier: MIT
// The module's exceptions, made once when the module is imported and found
// again through it.
#include "python/errors.h"

#include "engine/convert.h"

namespace host {

namespace {

constexpr char kModule[] = "quenbrel._quenbrel";

struct ErrorClass {
  const char* name;  // as the module has it
  const char* base;  // another class of the module, or null for Exception
  int status;        // the command line's status, or 0 for any
  const char* doc;
};

const ErrorClass kErrorClasses[] = {
    {"Error", nullptr, 0,
     "A conversion failed or was refused: `status` is the command line's exit status, "
     "`message` its message."},
    {"FormatError", "Error", kConvertNotFormat,
     "The input is in neither IG nor FASTA format (status 3)."},
    {"NoContentError", "Error", kConvertNoContent, "The input has no content (status 4)."},
    {"ReadError", "Error", kConvertReadFailed,
     "The input could not be opened or read, or its compressed data is damaged (status 10)."},
    {"WriteError", "Error", kConvertWriteFailed,
     "The output or a file that describes it could not be written, or writing it was refused "
     "(status 20)."},
};

// The class `name` of the module, as a new reference; null with the error
// set.
PyObject* moduleClass(const char* name) {
  PyObject* module = PyImport_ImportModule(kModule);
  if (module == nullptr) return nullptr;
  PyObject* cls = PyObject_GetAttrString(module, name);
  Py_DECREF(module);
  return cls;
}

// Raises an instance of `cls` for `text`, with the command line's status
// and message; returns null.
PyObject* raise(const char* cls, const std::string& text, int status, const std::string& message) {
  PyObject* type = moduleClass(cls);
  if (type == nullptr) return nullptr;
  PyObject* error =
      PyObject_CallFunction(type, "s#", text.data(), static_cast<Py_ssize_t>(text.size()));
  if (error != nullptr) {
    PyObject* s = PyLong_FromLong(status);
    PyObject* m =
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (s != nullptr && m != nullptr && PyObject_SetAttrString(error, "status", s) == 0 &&
        PyObject_SetAttrString(error, "message", m) == 0) {
      PyErr_SetObject(type, error);
    }
    Py_XDECREF(s);
    Py_XDECREF(m);
    Py_DECREF(error);
  }
  Py_DECREF(type);
  return nullptr;
}

// The message as one line of text: without the line end that ends it.
std::string textOf(const std::string& message) {
  std::string text = message;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

bool addErrorClasses(PyObject* module) {
  for (const ErrorClass& c : kErrorClasses) {
    std::string qualified = std::string("quenbrel.") + c.name;
    PyObject* base = c.base == nullptr ? PyExc_Exception : PyObject_GetAttrString(module, c.base);
    if (base == nullptr) return false;
    PyObject* cls = PyErr_NewExceptionWithDoc(qualified.c_str(), c.doc, base, nullptr);
    if (c.base != nullptr) Py_DECREF(base);
    if (cls == nullptr || PyModule_AddObject(module, c.name, cls) != 0) {
      Py_XDECREF(cls);
      return false;
    }
  }
  // An argument the command line would refuse is a ValueError as well.
  PyObject* error = PyObject_GetAttrString(module, "Error");
  if (error == nullptr) return false;
  PyObject* bases = PyTuple_Pack(2, error, PyExc_ValueError);
  Py_DECREF(error);
  if (bases == nullptr) return false;
  PyObject* usage = PyErr_NewExceptionWithDoc(
      "quenbrel.UsageError",
      "An argument the command line would refuse (status 10); also a ValueError.", bases, nullptr);
  Py_DECREF(bases);
  if (usage == nullptr || PyModule_AddObject(module, "UsageError", usage) != 0) {
    Py_XDECREF(usage);
    return false;
  }
  PyObject* warning = PyErr_NewExceptionWithDoc(
      "quenbrel.NameWarning",
      "A record name that tools reading the index or the dictionary trip over: one that several "
      "records have, or an empty one.",
      PyExc_UserWarning, nullptr);
  if (warning == nullptr || PyModule_AddObject(module, "NameWarning", warning) != 0) {
    Py_XDECREF(warning);
    return false;
  }
  return true;
}

PyObject* setRunError(int status, const std::string& message) {
  const ErrorClass* cls = &kErrorClasses[0];
  for (const ErrorClass& c : kErrorClasses) {
    if (c.status == status) cls = &c;
  }
  // The command line says nothing of an input without content.
  std::string text = textOf(message);
  if (text.empty()) text = cls->doc;
  return raise(cls->name, text, status, message);
}

PyObject* setUsageError(const char* argument, const std::string& message) {
  return raise("UsageError", std::string(argument) + ": " + textOf(message), kConvertReadFailed,
               message);
}

bool warnRun(const std::string& line) {
  const bool name = line.find("sequence name") != std::string::npos;
  PyObject* category = name ? moduleClass("NameWarning") : PyExc_UserWarning;
  if (category == nullptr) return false;
  std::string text = textOf(line);
  int failed = PyErr_WarnEx(category, text.c_str(), 2);
  if (name) Py_DECREF(category);
  return failed == 0;
}

}  // namespace host
