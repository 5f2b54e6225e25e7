// SPDX-License-Identifier: MIT
// Fuzzes the option collectors getoptions and getflags on random argument
// vectors and name lists.
//
// Layout of a fuzz input: byte 0 picks the collector (bit 0), whether the
// map already holds an entry (bit 1) and the name count passed as `argc`
// (the rest, giving -1 to 4); bytes 1 to 4 pick the names, a null name
// among them; the rest holds the words of the vector, separated by line
// ends or null bytes (the first word is the program name).
//
// Checks: the vector stays null-terminated and holds the original
// pointers, strings untouched, in their order; and the result, the vector,
// the map and the message agree with a plain model of the collectors, so
// no word is lost or duplicated.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/functions.h"

namespace {

const char* const kNames[] = {"-n", "-uc", "-ol", "-unseq", "-", "", "-n6", "x", nullptr};

struct Model {
  std::vector<size_t> kept;  // indices of the original words left in the vector
  ARGMAP map;
  std::string message;
  int result = 0;
};

bool beginsWith(const std::string& word, const std::string& name) {
  return word.compare(0, name.size(), name) == 0;
}

void modelOptions(const std::vector<std::string>& words, const std::vector<std::string>& names,
                  Model& m) {
  for (const std::string& name : names) {
    size_t i = 0;
    while (i < m.kept.size()) {
      const std::string& word = words[m.kept[i]];
      if (!beginsWith(word, name)) {
        ++i;
      } else if (word.size() > name.size()) {
        m.map[name] = word.substr(name.size());
        m.kept.erase(m.kept.begin() + i);
      } else if (i + 1 == m.kept.size()) {
        m.message = "Bad argument to " + name + " option\n";
        m.result = -1;
        return;
      } else {
        m.map[name] = words[m.kept[i + 1]];
        m.kept.erase(m.kept.begin() + i, m.kept.begin() + i + 2);
      }
    }
  }
  m.result = static_cast<int>(m.map.size());
}

void modelFlags(const std::vector<std::string>& words, const std::vector<std::string>& names,
                Model& m) {
  for (const std::string& name : names) {
    size_t i = 0;
    while (i < m.kept.size()) {
      if (words[m.kept[i]] == name) {
        m.map[name] = "";
        m.kept.erase(m.kept.begin() + i);
      } else {
        ++i;
      }
    }
  }
  m.result = static_cast<int>(m.map.size());
}

void fail(const char* what) {
  std::fprintf(stderr, "collectors: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const bool flags = (data[0] & 1) != 0;
  const bool prefilled = (data[0] & 2) != 0;
  const int argc = (data[0] >> 2) % 6 - 1;
  const char* names[4];
  for (int k = 0; k < 4; ++k) names[k] = kNames[data[1 + k] % (sizeof kNames / sizeof *kNames)];

  std::vector<std::string> words(1);
  for (size_t i = 5; i < size; ++i) {
    if (data[i] == '\n' || data[i] == '\0') {
      words.emplace_back();
    } else {
      words.back().push_back(static_cast<char>(data[i]));
    }
  }

  // The vector and its strings live in exact-size heap blocks, so any read
  // past the terminating null or past a string's end is caught.
  std::vector<char*> originals;
  for (const std::string& w : words) {
    char* copy = static_cast<char*>(std::malloc(w.size() + 1));
    std::memcpy(copy, w.c_str(), w.size() + 1);
    originals.push_back(copy);
  }
  char** argv = static_cast<char**>(std::malloc((words.size() + 1) * sizeof(char*)));
  std::memcpy(argv, originals.data(), words.size() * sizeof(char*));
  argv[words.size()] = nullptr;

  Model m;
  for (size_t i = 0; i < words.size(); ++i) m.kept.push_back(i);
  std::vector<std::string> used;
  for (int k = 0; k < argc && k < 4 && names[k] != nullptr; ++k) used.push_back(names[k]);
  ARGMAP amap;
  if (prefilled) amap["-earlier"] = m.map["-earlier"] = "1";
  if (flags) {
    modelFlags(words, used, m);
  } else {
    modelOptions(words, used, m);
  }

  char* errBuf = nullptr;
  size_t errLen = 0;
  FILE* err = open_memstream(&errBuf, &errLen);
  FILE* savedStderr = stderr;
  stderr = err;
  int result = flags ? getflags(argv, amap, argc, names[0], names[1], names[2], names[3])
                     : getoptions(argv, amap, argc, names[0], names[1], names[2], names[3]);
  stderr = savedStderr;
  std::fclose(err);
  std::string message(errBuf, errLen);
  std::free(errBuf);

  if (result != m.result) fail("result differs from the model");
  if (message != m.message) fail("message differs from the model");
  if (amap != m.map) fail("map differs from the model");
  for (size_t i = 0; i < m.kept.size(); ++i) {
    if (argv[i] != originals[m.kept[i]]) fail("vector differs from the model");
  }
  if (argv[m.kept.size()] != nullptr) fail("vector not terminated where the model ends");
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] != originals[i]) fail("a word's text was changed");
    std::free(originals[i]);
  }
  std::free(argv);
  return 0;
}
