// SPDX-License-Identifier: MIT
// The extension module quenbrel._quenbrel, under the package's Python
// wrapper (python/quenbrel), which reads the caller's arguments into the
// forms taken here: paths as bytes, numbers as the command line's words.
#include <pybind11/pybind11.h>

#include <string>

#include "python/convert_call.h"
#include "python/errors.h"
#include "python/records.h"

namespace py = pybind11;

namespace {

// Text the wrapper hands over, or null for None.
const char* wordOrNull(const py::object& o, std::string& keep) {
  if (o.is_none()) return nullptr;
  keep = o.cast<std::string>();
  return keep.c_str();
}

}  // namespace

PYBIND11_MODULE(_quenbrel, m) {
  m.doc() = "The conversion engine of quenbrel; use the package quenbrel.";
  if (!host::addErrorClasses(m.ptr())) throw py::error_already_set();
  PyObject* iterator = host::addRecordIteratorType(m.ptr());
  if (iterator == nullptr) throw py::error_already_set();
  py::object iteratorType = py::reinterpret_borrow<py::object>(iterator);

  m.def(
      "convert",
      [](const py::object& src, const py::object& dst, const std::string& lineLength, bool oneLine,
         bool upper, bool dropN, const py::object& compress, const py::object& level,
         const py::object& threads, bool index, bool dict) {
        std::string compressWord, levelWord, threadsWord;
        host::ConvertArguments a;
        a.src = src.ptr();
        a.dst = dst.ptr();
        a.lineLength = lineLength.c_str();
        a.oneLine = oneLine;
        a.upper = upper;
        a.dropN = dropN;
        a.compress = wordOrNull(compress, compressWord);
        a.level = wordOrNull(level, levelWord);
        a.threads = wordOrNull(threads, threadsWord);
        a.index = index;
        a.dict = dict;
        PyObject* result = host::convertCall(a);
        if (result == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(result);
      },
      py::arg("src"), py::arg("dst"), py::arg("line_length"), py::arg("one_line"), py::arg("upper"),
      py::arg("drop_n"), py::arg("compress"), py::arg("level"), py::arg("threads"),
      py::arg("index"), py::arg("dict"));

  m.def(
      "records",
      [iteratorType](const py::object& src, bool upper, bool dropN, bool binary) {
        PyObject* it = host::newRecordIterator(iteratorType.ptr(), src.ptr(), upper, dropN, binary);
        if (it == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(it);
      },
      py::arg("src"), py::arg("upper"), py::arg("drop_n"), py::arg("binary"));
}
