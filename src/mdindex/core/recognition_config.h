// The text-recognition settings of mdindex, kept in one small file that the
// service, mdimport and the app's index check all read:
//
//   $XDG_CONFIG_HOME/findlark/mdindex.conf   (else ~/.config/findlark/mdindex.conf)
//
//   # lines starting with '#' are comments
//   textRecognition = on                     # on (the default) or off
//   textRecognitionLanguages = eng           # tesseract codes, joined by '+' or ','
//
// A missing file means the defaults. Unknown keys and bad values are
// reported in `problems` and otherwise ignored: a typing error never turns
// indexing off. Never throws.
#pragma once

#include <string>
#include <vector>

namespace mdindex {

struct RecognitionConfig {
  bool enabled = true;
  std::vector<std::string> languages{"eng"};
  std::vector<std::string> problems;  // one readable line per bad setting
  // The languages joined as tesseract takes them ("eng+deu").
  std::string languageSpec() const;
};

// The configuration file's path (not created here).
std::string recognitionConfigPath();

// Reads recognitionConfigPath().
RecognitionConfig readRecognitionConfig();
// Parses the text of a configuration file; `origin` names it in problems.
RecognitionConfig parseRecognitionConfig(const std::string& text, const std::string& origin);

// The folders tesseract reads language data from, in its order:
// $TESSDATA_PREFIX (and its tessdata folder), then the distribution's.
std::vector<std::string> recognitionDataFolders();

// The languages of `wanted` whose data file (<code>.traineddata) is in none
// of the folders tesseract reads: $TESSDATA_PREFIX, then the distribution's
// tessdata folders. Empty when all are there.
std::vector<std::string> missingRecognitionLanguages(const std::vector<std::string>& wanted);

// What tells a user a language pack is missing, e.g. "no language data
// for 'deu' (Debian package tesseract-ocr-deu)"; callers say where it is from.
std::string missingLanguagesLine(const std::vector<std::string>& missing);

}  // namespace mdindex
