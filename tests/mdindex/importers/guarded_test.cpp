#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "mdindex/importers/import.h"
#include "mdindex/importers/import_wire.h"
#include "../../support/sample_import.h"
#include "../../support/scratch.h"

using namespace mdindex;

namespace {

const std::string kData = FINDLARK_TEST_DATA_DIR "/importers/";

// The helper comes from the built tools (ctest sets this already; a direct
// run of the test binary gets the same).
const bool kToolDirSet = setenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR, 0) == 0;

// Sets an environment variable for one test; the child inherits it.
class EnvGuard {
 public:
  EnvGuard(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~EnvGuard() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The test-only helper (fault_child.cpp) honours FINDLARK_IMPORT_CHILD_FAULT
// to misbehave on purpose.
ImportResult importWithFault(const std::string& fault, const std::string& path, const ImportLimits& limits = {}) {
  EnvGuard tools("FINDLARK_TOOL_DIR", FINDLARK_FAULT_TOOL_DIR);
  EnvGuard env("FINDLARK_IMPORT_CHILD_FAULT", fault);
  return importFileGuarded(path, limits);
}

}  // namespace

// The sandboxed helper, handed each file as a descriptor, finds what an
// import in this process finds: every committed input of every importer,
// the hostile ones included, and words in pictures with recognition on.
TEST(GuardedImport, GivesTheSameResultAsAnInProcessImport) {
  ASSERT_TRUE(kToolDirSet);
  const auto same = [](const std::vector<std::string>& files, const ImportLimits& limits) {
    GuardedImportSession session(limits);
    for (const auto& f : files) session.submit(f);
    std::vector<ImportResult> results;
    for (const auto& f : files) {
      SCOPED_TRACE(f);
      const ImportResult& guarded = results.emplace_back(session.next().result);
      const ImportResult inProcess = importFile(f, limits);
      EXPECT_EQ(guarded.status, inProcess.status) << importStatusName(guarded.status);
      EXPECT_EQ(guarded.importer, inProcess.importer);
      EXPECT_EQ(guarded.text, inProcess.text);
      EXPECT_EQ(guarded.attributes, inProcess.attributes);
    }
    return results;
  };
  std::vector<std::string> inputs;
  for (const char* folder : {"/importers", "/office", "/mail", "/audio", "/word97", "/archives"})
    for (const auto& e : std::filesystem::directory_iterator(FINDLARK_TEST_DATA_DIR + std::string(folder)))
      if (e.is_regular_file() && e.path().extension() != ".py" && e.path().extension() != ".sh") inputs.push_back(e.path().string());
  std::sort(inputs.begin(), inputs.end());
  ASSERT_GT(inputs.size(), 40u);
  same(inputs, {});
  const std::string pictures = FINDLARK_TEST_DATA_DIR "/recognition/";
  const auto read = same({pictures + "sign_photo.jpg", pictures + "scan.pdf", pictures + "truncated.png"},
                         recognitionLimits("eng"));
  // The language data loaded inside the sandbox: the words are there.
  EXPECT_NE(read[0].text.find("farm gate"), std::string::npos) << read[0].text;
}

// Each way a child can fail ends in a failed status, with the file still
// described by its file-system attributes so it stays findable by name.
TEST(GuardedImport, AChildThatFailsCostsOneItemOnly) {
  struct FaultCase {
    const char* fault;
    ImportStatus expected;
  };
  ImportLimits limits;
  limits.wallSeconds = 2;
  limits.cpuSeconds = 1;
  limits.memoryBytes = 512ull << 20;
  for (const FaultCase& c : {FaultCase{"crash", ImportStatus::Crashed}, FaultCase{"hang", ImportStatus::TimedOut},
                             FaultCase{"spin", ImportStatus::TimedOut}, FaultCase{"memory", ImportStatus::Crashed},
                             FaultCase{"garbage", ImportStatus::BrokenAnswer},
                             FaultCase{"broken", ImportStatus::BrokenAnswer}}) {
    SCOPED_TRACE(c.fault);
    const ImportResult r = importWithFault(c.fault, kData + "doc.pdf", limits);
    EXPECT_EQ(r.status, c.expected) << importStatusName(r.status);
    EXPECT_EQ(r.attributes.at(attr::FSName), Value(std::string("doc.pdf")));
    EXPECT_EQ(r.attributes.at(attr::ContentType), Value(std::string("com.adobe.pdf")));
    EXPECT_EQ(r.importer, "PDF.mdimporter");
    EXPECT_TRUE(r.text.empty());
  }
}

// A helper whose answer breaks the rules is not trusted with the next
// file: that one goes to a fresh helper and imports as usual.
TEST(GuardedImport, ABrokenAnswerReplacesTheHelper) {
  Scratch s;
  for (const char* name : {"a.txt", "bad.txt", "b.txt"}) s.write(name, std::string("text of ") + name);
  EnvGuard tools("FINDLARK_TOOL_DIR", FINDLARK_FAULT_TOOL_DIR);
  EnvGuard env("FINDLARK_IMPORT_CHILD_FAULT", "broken:bad.txt");
  GuardedImportSession session;
  for (const char* name : {"a.txt", "bad.txt", "b.txt"}) session.submit(s.path(name));
  EXPECT_EQ(session.next().result.status, ImportStatus::Imported);
  const ImportResult bad = session.next().result;
  EXPECT_EQ(bad.status, ImportStatus::BrokenAnswer);
  EXPECT_EQ(bad.attributes.count(attr::Title), 0u);
  EXPECT_EQ(bad.attributes.at(attr::FSName), Value(std::string("bad.txt")));
  const ImportResult b = session.next().result;
  EXPECT_EQ(b.status, ImportStatus::Imported);
  EXPECT_EQ(b.text, "text of b.txt");
}

// Every rule of an answer, one broken at a time, on an answer that is
// otherwise sound.
TEST(GuardedImport, AnswersAreCheckedFieldByField) {
  constexpr uint64_t kCap = 1000;
  const auto sound = [] {
    FormatResult r;
    r.status = ImportStatus::Imported;
    r.text = "words";
    r.attributes[attr::Title] = std::string("A title");
    r.attributes["kMDItemSomethingNew_2"] = 3.0;
    return r;
  };
  EXPECT_TRUE(answerIsSound(sound(), kCap));
  struct Case {
    const char* what;
    std::function<void(FormatResult&)> spoil;
  };
  const Case cases[] = {
      {"a status only the parent gives", [](FormatResult& r) { r.status = ImportStatus::Crashed; }},
      {"text that is not UTF-8", [](FormatResult& r) { r.text = "\xc3("; }},
      {"text over the cap", [](FormatResult& r) { r.text.assign(kCap + 1, 'x'); }},
      {"a name outside the table and the pattern", [](FormatResult& r) { r.attributes["title; DROP"] = 1.0; }},
      {"a known name with another type", [](FormatResult& r) { r.attributes[attr::Title] = 1.0; }},
      {"a value that is not UTF-8", [](FormatResult& r) { r.attributes[attr::Title] = std::string("\xff"); }},
      {"a list item that is not UTF-8",
       [](FormatResult& r) { r.attributes[attr::Keywords] = std::vector<std::string>{"ok", "\xff"}; }},
      {"a number that is not finite", [](FormatResult& r) { r.attributes["kMDItemOdd"] = std::nan(""); }},
      {"a date far outside time", [](FormatResult& r) { r.attributes[attr::ContentCreationDate] = Date{1e300}; }},
      {"the path the caller worked out", [](FormatResult& r) { r.attributes[attr::Path] = std::string("/etc/x"); }},
      {"the file's name", [](FormatResult& r) { r.attributes[attr::FSName] = std::string("other.txt"); }},
      {"the file's size", [](FormatResult& r) { r.attributes[attr::FSSize] = 1.0; }},
      {"the content type", [](FormatResult& r) { r.attributes[attr::ContentType] = std::string("public.jpeg"); }},
      {"the kind", [](FormatResult& r) { r.attributes[attr::Kind] = std::string("Folder"); }},
      {"the user's tags", [](FormatResult& r) { r.attributes[attr::UserTags] = std::vector<std::string>{"Red"}; }},
      {"too many attributes",
       [](FormatResult& r) {
         for (size_t i = 0; i <= kMaxAnswerAttributes; ++i) r.attributes["kMDItemX" + std::to_string(i)] = 1.0;
       }},
  };
  for (const Case& c : cases) {
    FormatResult r = sound();
    c.spoil(r);
    EXPECT_FALSE(answerIsSound(r, kCap)) << c.what;
  }
}

// The counts of an answer are judged before it is built: a frame of a few
// megabytes of empty strings does not become millions of them.
TEST(GuardedImport, AnAnswerTooLargeToBuildIsRefusedFromItsCounts) {
  const auto decodes = [](size_t lists, size_t items) {
    FormatResult r;
    r.status = ImportStatus::Imported;
    for (size_t i = 0; i < lists; ++i)
      r.attributes["kMDItemList" + std::to_string(i)] = std::vector<std::string>(items);
    FormatResult out;
    return decodeFormatResult(encodeFormatResult(r), out);
  };
  EXPECT_TRUE(decodes(2, kMaxAnswerListItems));
  EXPECT_FALSE(decodes(1, kMaxAnswerListItems + 1));
  EXPECT_FALSE(decodes(kMaxAnswerStrings / kMaxAnswerListItems + 1, kMaxAnswerListItems));
  FormatResult many;
  for (size_t i = 0; i <= kMaxAnswerAttributes; ++i) many.attributes["kMDItemX" + std::to_string(i)] = 1.0;
  FormatResult out;
  EXPECT_FALSE(decodeFormatResult(encodeFormatResult(many), out));
}

TEST(GuardedImport, AMissingHelperIsAFailureNotASuccess) {
  Scratch empty;
  EnvGuard env("FINDLARK_TOOL_DIR", empty.dir());
  const ImportResult r = importFileGuarded(kData + "text_utf8.txt");
  EXPECT_EQ(r.status, ImportStatus::Crashed);
  EXPECT_EQ(r.attributes.at(attr::FSName), Value(std::string("text_utf8.txt")));
}

TEST(GuardedImport, ManyThreadsImportAtOnce) {
  const std::vector<std::string> files = {"doc.pdf", "camera.jpg", "page.html", "text_utf16le.txt", "rich.rtf"};
  std::vector<ImportResult> expected;
  for (const auto& f : files) expected.push_back(importFile(kData + f));
  std::vector<std::future<bool>> runs;
  for (int t = 0; t < 6; ++t) {
    runs.push_back(std::async(std::launch::async, [&, t] {
      bool ok = true;
      for (int i = 0; i < 10; ++i) {
        const size_t k = (t + i) % files.size();
        const ImportResult r = importFileGuarded(kData + files[k]);
        ok = ok && r.status == expected[k].status && r.text == expected[k].text &&
             r.attributes == expected[k].attributes;
      }
      return ok;
    }));
  }
  for (auto& r : runs) EXPECT_TRUE(r.get());
}

// One helper serves many files; when it fails on one, only that file fails
// and the next file gets a fresh helper.
TEST(GuardedImport, ASessionSurvivesAFailingFile) {
  Scratch s;
  for (const char* name : {"a.txt", "boom.txt", "b.txt", "slow.txt", "c.txt", "spin.txt", "d.txt"})
    s.write(name, std::string("text of ") + name);
  ImportLimits limits;
  limits.wallSeconds = 2;
  limits.cpuSeconds = 1;
  struct Step {
    const char* fault;  // set when the helper starts
    const char* file;
    ImportStatus expected;
  };
  const Step steps[] = {
      {"crash:boom.txt", "a.txt", ImportStatus::Imported}, {"crash:boom.txt", "boom.txt", ImportStatus::Crashed},
      {"hang:slow.txt", "b.txt", ImportStatus::Imported},  {"hang:slow.txt", "slow.txt", ImportStatus::TimedOut},
      {"spin:spin.txt", "c.txt", ImportStatus::Imported},  {"spin:spin.txt", "spin.txt", ImportStatus::TimedOut},
      {"spin:spin.txt", "d.txt", ImportStatus::Imported},
  };
  EnvGuard tools("FINDLARK_TOOL_DIR", FINDLARK_FAULT_TOOL_DIR);
  GuardedImportSession session(limits);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.file);
    EnvGuard env("FINDLARK_IMPORT_CHILD_FAULT", step.fault);
    const ImportResult r = session.import(s.path(step.file));
    EXPECT_EQ(r.status, step.expected) << importStatusName(r.status);
    if (step.expected == ImportStatus::Imported) {
      EXPECT_EQ(r.text, std::string("text of ") + step.file);
    }
    EXPECT_EQ(r.attributes.at(attr::FSName), Value(std::string(step.file)));
  }
}

// Many files queued at once: each failing file costs only itself, the files
// queued behind it reach the replacement helper, and results keep the order
// the files were submitted in.
TEST(GuardedImport, AQueuedStreamSurvivesFailuresMidway) {
  Scratch s;
  std::vector<std::string> names;
  for (int i = 0; i < 3 * static_cast<int>(GuardedImportSession::kInFlight); ++i) {
    names.push_back("f" + std::to_string(i) + ".txt");
    if (i == 5) names.push_back("boom.txt");
    if (i == 20) names.push_back("slow.txt");
    if (i == 21) names.push_back("spin.txt");
  }
  for (const auto& name : names) s.write(name, "text of " + name);
  ImportLimits limits;
  limits.wallSeconds = 2;
  limits.cpuSeconds = 1;
  EnvGuard tools("FINDLARK_TOOL_DIR", FINDLARK_FAULT_TOOL_DIR);
  EnvGuard env("FINDLARK_IMPORT_CHILD_FAULT", "crash:boom.txt,hang:slow.txt,spin:spin.txt");
  GuardedImportSession session(limits);
  for (const auto& name : names) session.submit(s.path(name));
  EXPECT_EQ(session.pending(), names.size());
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    ASSERT_GT(session.pending(), 0u);
    const GuardedImportSession::Done d = session.next();
    EXPECT_EQ(d.path, s.path(name));
    const ImportStatus expected = name == "boom.txt"                        ? ImportStatus::Crashed
                                  : name == "slow.txt" || name == "spin.txt" ? ImportStatus::TimedOut
                                                                             : ImportStatus::Imported;
    EXPECT_EQ(d.result.status, expected) << importStatusName(d.result.status);
    EXPECT_EQ(d.result.attributes.at(attr::FSName), Value(name));
    if (expected == ImportStatus::Imported) {
      EXPECT_EQ(d.result.text, "text of " + name);
    }
  }
  EXPECT_EQ(session.pending(), 0u);
}

// A session given up on while its helper is stuck on a queued file ends at
// once instead of waiting for the helper.
TEST(GuardedImport, ASessionEndsWhileItsHelperIsStuck) {
  Scratch s;
  for (const char* name : {"a.txt", "slow.txt", "b.txt"}) s.write(name, "words");
  ImportLimits limits;
  limits.wallSeconds = 600;
  EnvGuard tools("FINDLARK_TOOL_DIR", FINDLARK_FAULT_TOOL_DIR);
  EnvGuard env("FINDLARK_IMPORT_CHILD_FAULT", "hang:slow.txt");
  auto ended = std::async(std::launch::async, [&] {
    GuardedImportSession session(limits);
    for (const char* name : {"a.txt", "slow.txt", "b.txt"}) session.submit(s.path(name));
    return session.next().result.status;  // a.txt; slow.txt is now with the helper
  });
  ASSERT_EQ(ended.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_EQ(ended.get(), ImportStatus::Imported);
}

// Hostile files of every container kind, as the service imports them: each
// ends in a clean status with a bounded result, and the session goes on.
TEST(GuardedImport, HostileMailMusicWordAndZipFilesCostOnlyThemselves) {
  const std::string data = FINDLARK_TEST_DATA_DIR "/";
  GuardedImportSession session;
  struct Hostile {
    const char* file;
    ImportStatus status;
    size_t maxText;
  } hostile[] = {
      {"audio/truncated.mp3", ImportStatus::Unreadable, 0},
      {"word97/truncated.doc", ImportStatus::Unreadable, 0},      // the OLE container cut short
      {"word97/bad_piece_table.doc", ImportStatus::Unreadable, 0},
      {"archives/bomb.zip", ImportStatus::Imported, 100},         // 64 MiB of zeros listed, not inflated
      {"archives/truncated.zip", ImportStatus::Unreadable, 0},
  };
  for (const Hostile& h : hostile) {
    SCOPED_TRACE(h.file);
    const ImportResult r = session.import(data + h.file);
    EXPECT_EQ(r.status, h.status) << importStatusName(r.status);
    EXPECT_LE(r.text.size(), h.maxText);
  }
  Scratch s;
  // 10,000 parts: the first thousand read.
  const ImportResult many = session.import(s.write("many.eml", testing_support::messageOfParts(10000)));
  EXPECT_EQ(many.status, ImportStatus::Imported) << importStatusName(many.status);
  EXPECT_EQ(many.text.rfind("Many parts\npart 0\n", 0), 0u);
  EXPECT_LE(many.text.size(), 16u << 10);
  // A 100 MB ID3 comment: refused from the tag's header, never read.
  std::string tag(100u << 20, 'a');
  const std::string frame = std::string("\0eng\0", 5) + tag;
  auto be32 = [](size_t n, int shift) {
    std::string out(4, '\0');
    for (int i = 3; i >= 0; --i, n >>= shift) out[i] = static_cast<char>(n & ((1u << shift) - 1));
    return out;
  };
  const std::string frames = "COMM" + be32(frame.size(), 8) + std::string(2, '\0') + frame;
  tag.clear();
  const ImportResult big = session.import(s.write("big.mp3", std::string("ID3\x03\0\0", 6) + be32(frames.size(), 7) + frames));
  EXPECT_EQ(big.status, ImportStatus::TooLarge) << importStatusName(big.status);
  EXPECT_EQ(big.attributes.count("kMDItemComment"), 0u);
  EXPECT_EQ(std::get<std::string>(big.attributes.at(attr::FSName)), "big.mp3");

  const ImportResult after = session.import(data + "mail/basic.eml");
  EXPECT_EQ(after.status, ImportStatus::Imported);
  EXPECT_EQ(std::get<std::string>(after.attributes.at("kMDItemSubject")), "Café herd report");
}

// A drawing that names more keywords and creators than an answer may carry
// is read, its lists cut at that bound, rather than judged a broken helper.
TEST(GuardedImport, ListsLongerThanAnAnswerHoldsAreCut) {
  constexpr size_t kNames = kMaxAnswerListItems + 4000;
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><metadata><rdf:RDF><rdf:Description>";
  for (const char* field : {"subject", "creator"}) {
    svg += std::string("<dc:") + field + "><rdf:Bag>";
    for (size_t i = 0; i < kNames; ++i) svg += "<rdf:li>" + std::string(field) + std::to_string(i) + "</rdf:li>";
    svg += std::string("</rdf:Bag></dc:") + field + ">";
  }
  svg += "</rdf:Description></rdf:RDF></metadata></svg>";
  Scratch s;
  const ImportResult r = importFileGuarded(s.write("many.svg", svg), {});
  ASSERT_EQ(r.status, ImportStatus::Imported) << importStatusName(r.status);
  for (const char* name : {attr::Keywords, attr::Authors}) {
    SCOPED_TRACE(name);
    const auto& list = std::get<std::vector<std::string>>(r.attributes.at(name));
    EXPECT_EQ(list.size(), kMaxAnswerListItems);
  }
  EXPECT_EQ(std::get<std::vector<std::string>>(r.attributes.at(attr::Keywords)).front(), "subject0");
}

// A title longer than an answer's value may be is cut at that bound (on a
// character's edge), not judged a broken helper.
TEST(GuardedImport, AValueLongerThanAnAnswerHoldsIsCut) {
  std::string title;
  while (title.size() <= kMaxAnswerValueBytes) title += "wörd ";
  Scratch s;
  const ImportResult r =
      importFileGuarded(s.write("long.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><title>" +
                                         title + "x</title><metadata><dc:subject>" + title +
                                         "</dc:subject></metadata></svg>"),
                        {});
  ASSERT_EQ(r.status, ImportStatus::Imported) << importStatusName(r.status);
  const auto& kept = std::get<std::string>(r.attributes.at(attr::Title));
  EXPECT_LE(kept.size(), kMaxAnswerValueBytes);
  EXPECT_GT(kept.size(), kMaxAnswerValueBytes - 8);
  EXPECT_EQ(kept.rfind("wörd wörd", 0), 0u);
  const auto& keywords = std::get<std::vector<std::string>>(r.attributes.at(attr::Keywords));
  ASSERT_EQ(keywords.size(), 1u);
  EXPECT_LE(keywords[0].size(), kMaxAnswerValueBytes);
}
