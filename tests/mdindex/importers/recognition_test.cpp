// Text recognition in the importers: the words of committed test pictures
// (tests/data/recognition, made by make_pictures.py), the bounds that keep
// hostile pictures harmless, and what an import without recognition says.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "mdindex/core/fold.h"
#include "mdindex/importers/import.h"
#include "mdindex/importers/recognition_limits.h"

using namespace mdindex;

namespace {

const std::string kData = FINDLARK_TEST_DATA_DIR "/recognition/";
const std::string kSamples = FINDLARK_SOURCE_DIR "/resources/samples/";

const ImportLimits kOn = recognitionLimits("eng");

// The folded words of `text`, in order: what a content search can match.
std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::string w;
  for (char c : foldText(text) + " ") {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      w += c;
    } else if (!w.empty()) {
      out.push_back(w);
      w.clear();
    }
  }
  return out;
}

std::vector<std::string> words(std::initializer_list<const char*> list) {
  std::vector<std::string> out;
  for (const char* s : list) out.emplace_back(s);
  return out;
}

bool markedRecognized(const ImportResult& r) {
  const auto it = r.attributes.find(attr::TextContentSource);
  return it != r.attributes.end() && std::get<std::string>(it->second) == attr::kTextRecognized;
}

size_t count(const std::vector<std::string>& list, const std::string& w) {
  return static_cast<size_t>(std::count(list.begin(), list.end(), w));
}

}  // namespace

TEST(TextRecognition, ReadsTheWordsOfEachKindOfPicture) {
  struct Case {
    std::string path;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {kSamples + "FindlarkI.png", words({"cattle", "findlark", "sample", "i", "this", "word", "exists", "only", "as", "pixels"})},
      {kData + "sign_photo.jpg", words({"fresh", "milk", "sold", "at", "the", "farm", "gate"})},
      {kData + "rotated.png", words({"harvest", "meeting", "on", "thursday", "evening"})},
      {kData + "screenshot.png",
       words({"backup", "folder", "documents", "schedule", "weekly", "backups", "automatically", "keep", "snapshots",
              "for", "ninety", "days"})},
      // Only the first frame of an animation is read.
      {kData + "animated.gif", words({"lantern"})},
      {kData + "scan.pdf", words({"invoice", "number", "paid", "in", "full"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const ImportResult r = importFile(c.path, kOn);
    EXPECT_EQ(r.status, ImportStatus::Imported);
    EXPECT_EQ(words(r.text), c.words) << r.text;
    EXPECT_TRUE(markedRecognized(r));
    EXPECT_FALSE(r.recognitionPending);
  }
  // What the image importer stored before stays beside the words.
  const ImportResult camera = importFile(kSamples + "FindlarkK.jpg", kOn);
  EXPECT_EQ(std::get<std::string>(camera.attributes.at(attr::AcquisitionMake)), "Cattle Camera Co");
  EXPECT_EQ(words(camera.text), words({"findlark", "k", "exif", "maker"}));
}

TEST(TextRecognition, PicturesWithoutWordsAndIconsStoreNoText) {
  for (const char* name : {"no_text.jpg", "icon.png"}) {
    SCOPED_TRACE(name);
    const ImportResult r = importFile(kData + name, kOn);
    EXPECT_EQ(r.status, ImportStatus::Imported);
    EXPECT_EQ(r.text, "");
    EXPECT_FALSE(markedRecognized(r));
    EXPECT_FALSE(r.recognitionPending);
  }
  // An icon is not even worth a later pass.
  EXPECT_FALSE(importFile(kData + "icon.png").recognitionPending);
}

// Without recognition the import is as fast as before, and tells which
// files still have pictures to read; documents with a text layer have none.
TEST(TextRecognition, AnImportWithoutItSaysWhatIsPending) {
  for (const std::string& p : {kSamples + "FindlarkI.png", kData + "sign_photo.jpg", kData + "scan.pdf"}) {
    SCOPED_TRACE(p);
    const ImportResult r = importFile(p);
    EXPECT_EQ(r.status, ImportStatus::Imported);
    EXPECT_TRUE(r.recognitionPending);
    EXPECT_EQ(r.text, "");
    EXPECT_FALSE(markedRecognized(r));
  }
  for (const std::string& p : {kSamples + "FindlarkA.txt", kSamples + "FindlarkC.pdf"}) {
    SCOPED_TRACE(p);
    EXPECT_FALSE(importFile(p).recognitionPending);
    EXPECT_FALSE(importFile(p, kOn).recognitionPending);
    EXPECT_FALSE(markedRecognized(importFile(p, kOn)));
  }
  // A language without data is no failed import: the pictures wait.
  const ImportResult r = importFileGuarded(kSamples + "FindlarkI.png", recognitionLimits("zzz"));
  EXPECT_EQ(r.status, ImportStatus::Imported);
  EXPECT_TRUE(r.recognitionPending);
  EXPECT_EQ(r.text, "");
}

// Hostile pictures, through the guarded import as the service runs them:
// each ends cleanly or with a bounded result, and the next file still works.
TEST(TextRecognition, HostilePicturesEndCleanlyOrBounded) {
  GuardedImportSession session(kOn);

  const ImportResult truncated = session.import(kData + "truncated.png");
  EXPECT_EQ(truncated.status, ImportStatus::Unreadable);

  // Ten gigapixels declared: refused from the header, never decoded.
  const ImportResult bomb = session.import(kData + "bomb.png");
  EXPECT_EQ(bomb.status, ImportStatus::Imported);
  EXPECT_EQ(bomb.text, "");
  EXPECT_FALSE(bomb.recognitionPending);
  EXPECT_EQ(std::get<double>(bomb.attributes.at(attr::PixelWidth)), 100000.0);

  const ImportResult corrupt = session.import(kData + "corrupt_scan.jpg");
  EXPECT_EQ(corrupt.status, ImportStatus::Imported);
  for (const auto& w : words(corrupt.text))
    EXPECT_NE(count(words({"fresh", "milk", "sold", "at", "the", "farm", "gate"}), w), 0u) << w;

  // Three hundred scanned pages: only the first ones are read.
  const ImportResult book = session.import(kData + "scans_300_pages.pdf");
  EXPECT_EQ(book.status, ImportStatus::Imported);
  EXPECT_EQ(std::get<double>(book.attributes.at(attr::NumberOfPages)), 300.0);
  const auto bookWords = words(book.text);
  EXPECT_GE(count(bookWords, "invoice"), 1u);
  EXPECT_LE(count(bookWords, "invoice"), static_cast<size_t>(recognition::kMaxPdfPages));

  const ImportResult after = session.import(kSamples + "FindlarkI.png");
  EXPECT_EQ(after.status, ImportStatus::Imported);
  EXPECT_EQ(words(after.text).front(), "cattle");
  EXPECT_TRUE(markedRecognized(after));
}
