// The service's text-recognition pass end to end: a crawl makes names and
// documents findable first, the pictures' words follow, mdutil -s shows the
// backlog until it is gone, and nothing is recognised twice. The test-only
// import helper holds every recognition at a gate the test opens, so the
// order is observed, not raced.
#include <algorithm>
#include <sstream>

#include "live_harness.h"

using namespace live;

namespace {

const std::string kData = FINDLARK_TEST_DATA_DIR "/recognition/";
const std::string kSamples = FINDLARK_SOURCE_DIR "/resources/samples/";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

class RecognitionLive : public LiveHome {
 protected:
  void SetUp() override {
    LiveHome::SetUp();
    gate = root + "/gate";
    recognitions = root + "/recognitions";
    useFaultyImportHelper("ocr-gate");
    setenv("FINDLARK_RECOGNITION_GATE", gate.c_str(), 1);
    setenv("FINDLARK_RECOGNITION_LOG", recognitions.c_str(), 1);
  }
  void TearDown() override {
    LiveHome::TearDown();
    unsetenv("FINDLARK_RECOGNITION_GATE");
    unsetenv("FINDLARK_RECOGNITION_LOG");
  }

  std::string found(const std::string& words) const { return tool("mdfind", {"-onlyin", home, words}).out; }
  std::vector<std::string> recognitionLines() const {
    std::vector<std::string> out;
    for (const auto& l : lines(tool("mdutil", {"-s"}).out))
      if (l.find("Text recognition") != std::string::npos) out.push_back(l);
    return out;
  }
  std::vector<std::string> recognised() const {
    std::ifstream in(recognitions);
    return lines(std::string(std::istreambuf_iterator<char>(in), {}));
  }

  std::string gate, recognitions;
};

}  // namespace

TEST_F(RecognitionLive, PicturesFollowTheCrawlAndAreNeverRecognisedTwice) {
  fs::create_directories(home + "/pics");
  writeFile(home + "/notes.txt", "quarterly harvest figures");
  fs::copy_file(kSamples + "FindlarkI.png", home + "/pics/FindlarkI.png");
  fs::copy_file(kData + "sign_photo.jpg", home + "/pics/sign.jpg");
  fs::copy_file(kData + "scan.pdf", home + "/pics/scan.pdf");
  fs::copy_file(kData + "sign_photo.jpg", home + "/pics/sign-crash.jpg");
  fs::copy_file(kData + "no_text.jpg", home + "/pics/texture.jpg");
  startService();

  // The crawl is done and recognition waits at the gate: the document and
  // every picture's name are findable, the words in pixels not yet.
  ASSERT_TRUE(waitFor([&] {
    return idle() && found("harvest") == home + "/notes.txt\n" && indexed(home + "/pics/texture.jpg") &&
           indexed(home + "/pics/scan.pdf");
  })) << log();
  EXPECT_EQ(recognitionLines(), std::vector<std::string>{"\tText recognition: 5 items waiting."});
  EXPECT_EQ(found("cattle"), "");
  EXPECT_EQ(found("texture"), home + "/pics/texture.jpg\n");
  EXPECT_EQ(item(home + "/pics/sign.jpg")->attributes.count(mdindex::attr::TextContentSource), 0u);

  writeFile(gate, "open");
  ASSERT_TRUE(waitFor([&] { return recognitionLines().empty(); }, 120s)) << log();
  EXPECT_EQ(found("cattle"), home + "/pics/FindlarkI.png\n");
  EXPECT_EQ(found("farm gate"), home + "/pics/sign.jpg\n");
  EXPECT_EQ(found("invoice"), home + "/pics/scan.pdf\n");
  // A recognition that crashes keeps what the crawl stored, and is not retried.
  const auto crashed = item(home + "/pics/sign-crash.jpg", true);
  ASSERT_TRUE(crashed);
  EXPECT_EQ(crashed->status, mdindex::ImportStatus::Imported);
  EXPECT_FALSE(crashed->recognitionPending);
  EXPECT_EQ(crashed->text, "");
  const auto sign = item(home + "/pics/sign.jpg");
  EXPECT_EQ(std::get<std::string>(sign->attributes.at(mdindex::attr::TextContentSource)), "recognized");
  // The marker is searched by name only: it is no word of the picture.
  EXPECT_EQ(found("recognized"), "");
  EXPECT_EQ(found("kMDItemTextContentSource == \"recognized\""),
            home + "/pics/FindlarkI.png\n" + home + "/pics/scan.pdf\n" + home + "/pics/sign.jpg\n");
  EXPECT_EQ(recognised().size(), 5u);
  EXPECT_TRUE(serviceAlive());
  EXPECT_EQ(integrity(), "");

  // After a restart nothing unchanged is read again; a new picture is. The
  // pass goes through the backlog in order, so once the new picture is
  // recognised the whole backlog has been looked at.
  EXPECT_EQ(WEXITSTATUS(stopService()), 0);
  fs::remove(recognitions);
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  fs::copy_file(kSamples + "FindlarkI.png", home + "/pics/again.png");
  ASSERT_TRUE(waitFor([&] {
    const auto again = item(home + "/pics/again.png");
    return again && again->attributes.count(mdindex::attr::TextContentSource) == 1;
  }, 60s)) << log();
  EXPECT_EQ(recognised(), std::vector<std::string>{home + "/pics/again.png"});
}

// The settings are read again on SIGHUP: switched off, the pass takes no
// further file and drops the one at hand; switched on, it takes them all.
TEST_F(RecognitionLive, SwitchingOffAndOnAtRunTime) {
  fs::copy_file(kSamples + "FindlarkI.png", home + "/a.png");
  fs::copy_file(kSamples + "FindlarkI.png", home + "/b.png");
  startService();
  // The pass goes by the backlog's order, which is the crawl's.
  ASSERT_TRUE(waitFor([&] { return recognised().size() == 1; })) << log();
  const std::string first = recognised().front();
  const std::string second = first == home + "/a.png" ? home + "/b.png" : home + "/a.png";

  fs::create_directories(home + "/.config/findlark");
  writeFile(home + "/.config/findlark/mdindex.conf", "textRecognition = off\n");
  kill(pid, SIGHUP);
  ASSERT_TRUE(waitFor([&] { return log().find("text recognition off") != std::string::npos; })) << log();
  writeFile(gate, "open");

  writeFile(home + "/.config/findlark/mdindex.conf", "textRecognition = on\n");
  kill(pid, SIGHUP);
  ASSERT_TRUE(waitFor([&] { return lines(found("cattle")).size() == 2 && recognitionLines().empty(); }, 60s))
      << log();
  // The first pass read one picture and dropped it; the new pass read both.
  EXPECT_EQ(recognised(), (std::vector<std::string>{first, first, second}));
}

// `mdimport FILE` recognises at once; with recognition switched off in the
// settings file nothing is recognised and the backlog is not shown.
TEST_F(RecognitionLive, MdimportRecognisesAtOnceUnlessSwitchedOff) {
  writeFile(gate, "open");
  fs::copy_file(kSamples + "FindlarkI.png", home + "/now.png");
  const auto run = tool("mdimport", {home + "/now.png"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(found("cattle"), home + "/now.png\n");
  EXPECT_FALSE(item(home + "/now.png")->recognitionPending);

  fs::create_directories(home + "/.config/findlark");
  writeFile(home + "/.config/findlark/mdindex.conf", "textRecognition = off\n");
  fs::copy_file(kSamples + "FindlarkI.png", home + "/later.png");
  EXPECT_EQ(tool("mdimport", {home + "/later.png"}).status, 0);
  EXPECT_EQ(found("cattle"), home + "/now.png\n");
  EXPECT_TRUE(item(home + "/later.png")->recognitionPending);
  EXPECT_TRUE(recognitionLines().empty());

  // A language without data: one clear line, the import still succeeds.
  writeFile(home + "/.config/findlark/mdindex.conf", "textRecognitionLanguages = eng+qqx\n");
  fs::copy_file(kSamples + "FindlarkI.png", home + "/third.png");
  const auto third = tool("mdimport", {home + "/third.png"});
  EXPECT_EQ(third.status, 0);
  EXPECT_EQ(third.err, "mdimport: text recognition: no language data for 'qqx' (Debian package tesseract-ocr-qqx)\n");
  EXPECT_EQ(lines(found("cattle")).size(), 2u);
  const auto status = recognitionLines();
  EXPECT_EQ(status, (std::vector<std::string>{
                        "\tText recognition: 1 item waiting.",
                        "\tText recognition: no language data for 'qqx' (Debian package tesseract-ocr-qqx)."}));
}
