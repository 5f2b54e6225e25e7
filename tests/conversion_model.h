// SPDX-License-Identifier: MIT
// A deliberately simple, line-at-a-time statement of the conversion, used
// as the reference that the block-based engine is held against.
#ifndef QUENBREL_CONVERSION_MODEL_H
#define QUENBREL_CONVERSION_MODEL_H

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/convert.h"

namespace model {

struct Outcome {
  int status = 0;
  std::string out;
};

// Text from any system, brought to LF text: a byte-order mark at the very
// start is dropped; when the first line break is a lone CR, every CR, LF and
// CRLF becomes one LF. Other text is left exactly as it is.
inline std::string lfText(std::string in) {
  if (in.compare(0, 3, "\xEF\xBB\xBF") == 0) in.erase(0, 3);
  size_t at = in.find_first_of("\r\n");
  if (at == std::string::npos || in[at] == '\n' || (at + 1 < in.size() && in[at + 1] == '\n'))
    return in;
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\r') {
      out += in[i];
      continue;
    }
    out += '\n';
    if (i + 1 < in.size() && in[i + 1] == '\n') ++i;
  }
  return out;
}

inline std::vector<std::string> physicalLines(const std::string& in) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < in.size()) {
    size_t nl = in.find('\n', start);
    size_t end = (nl == std::string::npos) ? in.size() : nl + 1;
    lines.push_back(in.substr(start, end - start));
    start = end;
  }
  return lines;
}

// The annotation of a comment line, or "" when it has none.
inline std::string modelFragment(const std::string& line) {
  size_t at = line.find("FRAGMENT");
  if (at == std::string::npos || line.find("->") == std::string::npos) return "";
  std::string text = line.substr(at);
  std::vector<char> word(text.size() + 1);
  int a = 0, b = 0;
  if (std::sscanf(text.c_str(), "%s %d -> %d", word.data(), &a, &b) != 3) return "";
  return text;
}

inline std::string modelName(const std::string& line) {
  std::vector<char> name(line.size() + 1);
  if (std::sscanf(line.c_str(), "%s", name.data()) != 1) return "";
  return name.data();
}

inline Outcome convert(const std::string& in, const ConvertOptions& s) {
  std::vector<std::string> lines = physicalLines(lfText(in));
  size_t i = 0;
  while (i < lines.size() && lines[i].size() <= 1) ++i;
  if (i == lines.size()) return {4, ""};
  if (lines[i][0] != ';' && lines[i][0] != '>') return {3, ""};

  std::string out, frag;
  long iCnt = 0;
  while (i < lines.size()) {
    const std::string& line = lines[i];
    if (line[0] == ';') {
      for (;;) {
        std::string f = modelFragment(lines[i]);
        if (!f.empty()) frag = f;
        ++i;
        if (i == lines.size()) return {0, out + "\n"};
        if (lines[i][0] != ';') break;
      }
      if (iCnt > 0) out += '\n';
      out += ">" + modelName(lines[i]);
      out += frag.empty() ? "\n" : " " + frag;
      frag.clear();
      iCnt = 0;
    } else if (line[0] == '>') {
      if (iCnt > 0) out += '\n';
      out += line;
      iCnt = 0;
    } else {
      for (unsigned char c : line) {
        bool keep = (c < 128 && std::isalpha(c)) || c == '-';
        if (s.dropN && (c == 'n' || c == 'N')) keep = false;
        if (!keep) continue;
        if (iCnt >= s.lineLen) {
          if (!s.oneLine) out += '\n';
          iCnt = 0;
        }
        out += static_cast<char>(s.upperCase ? std::toupper(c) : c);
        ++iCnt;
      }
    }
    ++i;
  }
  return {0, out + "\n"};
}

}  // namespace model

#endif  // QUENBREL_CONVERSION_MODEL_H
