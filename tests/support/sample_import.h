// What the importer tests over committed samples share: a sink that keeps
// everything it is given, one row per sample (text, attributes and status
// expected exactly), and reading a sample's bytes. Tests include this
// header by path.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "mdindex/importers/importer.h"

namespace mdindex::testing_support {

// Keeps what it is given, like the import's sink, without a cap.
class RecordingSink : public Sink {
 public:
  std::string text;
  Attributes attributes;

  void addText(std::string_view utf8) override { text.append(utf8); }
  void setAttribute(const std::string& name, Value value) override { attributes[name] = std::move(value); }
  void addKeywords(const std::vector<std::string>& keywords) override {
    auto& v = attributes[attr::Keywords];
    if (!std::holds_alternative<std::vector<std::string>>(v)) v = std::vector<std::string>{};
    auto& list = std::get<std::vector<std::string>>(v);
    for (const std::string& k : keywords)
      if (std::find(list.begin(), list.end(), k) == list.end()) list.push_back(k);
  }
  bool full() const override { return false; }
};

// One committed sample and what its importer must give for it.
struct SampleCase {
  const char* file;
  const Importer& (*importer)();
  ImportStatus status;
  const char* text;
  Attributes attributes;
};

inline std::ostream& operator<<(std::ostream& os, const SampleCase& c) { return os << c.file; }

// Imports the sample `c` from `folder` (ending in '/') and expects exactly
// its recorded status, text and attributes.
inline void expectRecordedImport(const std::string& folder, const SampleCase& c) {
  RecordingSink sink;
  EXPECT_EQ(c.importer().import(folder + c.file, sink), c.status);
  EXPECT_EQ(sink.text, c.text);
  EXPECT_EQ(sink.attributes, c.attributes);
}

// A multipart/mixed message of `parts` one-line text parts ("part 0",
// "part 1", ...), subject "Many parts".
inline std::string messageOfParts(int parts) {
  std::string m =
      "From: ann@example.org\nSubject: Many parts\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=\"b\"\n\n";
  for (int i = 0; i < parts; ++i) m += "--b\nContent-Type: text/plain\n\npart " + std::to_string(i) + "\n";
  return m + "--b--\n";
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace mdindex::testing_support
