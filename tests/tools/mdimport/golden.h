// Golden-file comparison for tool output. Paths under the data folder are
// shown relative to it; dates and owner ids are masked, so the files hold
// only what is stable across machines. FINDLARK_UPDATE_GOLDEN=1 rewrites the
// golden files instead of comparing (review the diff before committing).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

inline std::string maskOutput(std::string text, const std::string& dataDir) {
  for (size_t at; (at = text.find(dataDir)) != std::string::npos;) text.erase(at, dataDir.size());
  static const std::regex date(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000)");
  static const std::regex owner(R"((kMDItemFSOwner(User|Group)ID *= )\d+)");
  text = std::regex_replace(text, date, "<date>");
  return std::regex_replace(text, owner, "$1<id>");
}

inline void expectGolden(const std::string& actual, const std::string& goldenPath) {
  if (const char* u = std::getenv("FINDLARK_UPDATE_GOLDEN"); u && std::string(u) == "1") {
    std::ofstream(goldenPath, std::ios::binary) << actual;
    return;
  }
  std::ifstream in(goldenPath, std::ios::binary);
  ASSERT_TRUE(in) << "missing golden file " << goldenPath << " (run with FINDLARK_UPDATE_GOLDEN=1)";
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(actual, ss.str()) << "differs from " << goldenPath;
}
