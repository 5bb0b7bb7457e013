#include <gtest/gtest.h>
#include <stdlib.h>

#include <future>
#include <thread>

#include "mdindex/importers/import.h"
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

TEST(GuardedImport, GivesTheSameResultAsAnInProcessImport) {
  ASSERT_TRUE(kToolDirSet);
  for (const char* f : {"doc.pdf", "camera.png", "rich.rtf", "xml.plist", "encrypted.pdf", "text_binary.txt",
                        "described.png", "drawing.svg", "entities.svg", "truncated.svg"}) {
    SCOPED_TRACE(f);
    const ImportResult inProcess = importFile(kData + f);
    const ImportResult guarded = importFileGuarded(kData + f);
    EXPECT_EQ(guarded.status, inProcess.status);
    EXPECT_EQ(guarded.importer, inProcess.importer);
    EXPECT_EQ(guarded.text, inProcess.text);
    EXPECT_EQ(guarded.attributes, inProcess.attributes);
  }
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
                             FaultCase{"garbage", ImportStatus::Crashed}}) {
    SCOPED_TRACE(c.fault);
    const ImportResult r = importWithFault(c.fault, kData + "doc.pdf", limits);
    EXPECT_EQ(r.status, c.expected) << importStatusName(r.status);
    EXPECT_EQ(r.attributes.at(attr::FSName), Value(std::string("doc.pdf")));
    EXPECT_EQ(r.attributes.at(attr::ContentType), Value(std::string("com.adobe.pdf")));
    EXPECT_EQ(r.importer, "PDF.mdimporter");
    EXPECT_TRUE(r.text.empty());
  }
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
