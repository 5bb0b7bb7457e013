#include "mdindex/core/recognition_config.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "mdindex/core/paths.h"

namespace mdindex {

namespace {

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Tesseract codes are letters, digits and '_' ("chi_sim"); anything else
// could name a file outside the data folder.
bool validLanguage(const std::string& code) {
  if (code.empty() || code.size() > 32) return false;
  for (unsigned char c : code)
    if (!std::isalnum(c) && c != '_') return false;
  return true;
}

bool isFile(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<std::string> recognitionDataFolders() {
  std::vector<std::string> out;
  if (const char* env = std::getenv("TESSDATA_PREFIX"); env && *env) {
    const std::string base = trimTrailingSlashes(env);
    out.push_back(base);
    out.push_back(base + "/tessdata");
  }
  for (const char* d : {"/usr/share/tesseract-ocr/5/tessdata", "/usr/share/tesseract-ocr/4.00/tessdata",
                        "/usr/share/tessdata", "/usr/local/share/tessdata"})
    out.emplace_back(d);
  return out;
}

std::string RecognitionConfig::languageSpec() const {
  std::string out;
  for (const auto& l : languages) out += (out.empty() ? "" : "+") + l;
  return out;
}

std::string recognitionConfigPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string base = (xdg && *xdg == '/') ? trimTrailingSlashes(xdg) : homeDir() + "/.config";
  return base + "/findlark/mdindex.conf";
}

RecognitionConfig parseRecognitionConfig(const std::string& text, const std::string& origin) {
  RecognitionConfig c;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string t = trim(line);
    if (t.empty() || t[0] == '#') continue;
    const std::string where = origin + ":" + std::to_string(number) + ": ";
    const auto eq = t.find('=');
    if (eq == std::string::npos) {
      c.problems.push_back(where + "expected 'name = value'");
      continue;
    }
    const std::string key = trim(t.substr(0, eq));
    const std::string value = trim(t.substr(eq + 1));
    if (key == "textRecognition") {
      const std::string v = lower(value);
      if (v == "on" || v == "yes" || v == "true" || v == "1")
        c.enabled = true;
      else if (v == "off" || v == "no" || v == "false" || v == "0")
        c.enabled = false;
      else
        c.problems.push_back(where + "textRecognition must be on or off, not '" + value + "'");
    } else if (key == "textRecognitionLanguages") {
      std::vector<std::string> langs;
      std::string word;
      bool bad = false;
      for (size_t i = 0; i <= value.size(); ++i) {
        const char ch = i < value.size() ? value[i] : '+';
        if (ch == '+' || ch == ',' || std::isspace(static_cast<unsigned char>(ch))) {
          if (word.empty()) continue;
          if (!validLanguage(word)) bad = true;
          else if (std::find(langs.begin(), langs.end(), word) == langs.end()) langs.push_back(word);
          word.clear();
        } else {
          word += ch;
        }
      }
      if (bad || langs.empty())
        c.problems.push_back(where + "textRecognitionLanguages must be language codes such as eng or eng+deu, not '" +
                             value + "'");
      else
        c.languages = std::move(langs);
    } else {
      c.problems.push_back(where + "unknown setting '" + key + "'");
    }
  }
  return c;
}

RecognitionConfig readRecognitionConfig() {
  const std::string path = recognitionConfigPath();
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return parseRecognitionConfig(text.str(), path);
}

std::vector<std::string> missingRecognitionLanguages(const std::vector<std::string>& wanted) {
  const auto folders = recognitionDataFolders();
  std::vector<std::string> missing;
  for (const auto& lang : wanted) {
    bool found = false;
    for (const auto& f : folders) found = found || isFile(f + "/" + lang + ".traineddata");
    if (!found) missing.push_back(lang);
  }
  return missing;
}

std::string missingLanguagesLine(const std::vector<std::string>& missing) {
  std::string codes, packages;
  for (const auto& m : missing) {
    codes += (codes.empty() ? "'" : ", '") + m + "'";
    std::string pkg = "tesseract-ocr-" + lower(m);
    for (auto& ch : pkg)
      if (ch == '_') ch = '-';
    packages += (packages.empty() ? "" : " ") + pkg;
  }
  return "no language data for " + codes + " (Debian package" +
         (missing.size() > 1 ? "s " : " ") + packages + ")";
}

}  // namespace mdindex
