// The service's event loop, shared by service.cpp (set-up, events, settings,
// state) and crawl.cpp (crawling and watching folders). Internal to the
// service folder: nothing outside it includes this.
#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mdindex/service/debounce.h"
#include "mdindex/service/exclusions.h"
#include "mdindex/service/pipeline.h"
#include "mdindex/service/recognition_pass.h"
#include "mdindex/service/service.h"
#include "mdindex/service/stamp_index.h"
#include "mdindex/service/status.h"
#include "mdindex/service/watcher.h"
#include "mdindex/store/store.h"

namespace mdindex::service::loop {

using Clock = std::chrono::steady_clock;

inline constexpr auto kMetaCheckPeriod = std::chrono::seconds(1);
inline constexpr size_t kDebounceCapacity = 4096;
inline constexpr size_t kEntriesPerTurn = 2000;  // crawl budget between two polls

inline void logLine(const char* fmt, const std::string& a = {}, const std::string& b = {}) {
  char when[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::gmtime(&now));
  std::fprintf(stderr, "%s mdindexd: ", when);
  std::fprintf(stderr, fmt, a.c_str(), b.c_str());
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

// One pass over a folder tree, comparing the disk with the store's stamps.
struct CrawlTask {
  std::string folder;
  bool full = true;       // descend into folders already watched
  bool started = false;
  std::vector<std::string> stack;           // folders still to read
};

class Loop {
 public:
  Loop(const ServiceOptions& opt, Exclusions excl) : opt_(opt), excl_(std::move(excl)) {}
  ServiceExit run();

 private:
  bool setUp();
  void handleSignals();
  void handleEvents(const std::vector<WatchEvent>& events);
  void handleMove(const WatchEvent& ev);
  void check(const std::string& path);
  void forget(const std::string& path);
  bool skipIfTooLong(const std::string& path);
  void crawlStep();
  // Compares one folder's entries with the store's items in it: queues
  // what changed, watches and stacks subfolders, removes what is gone.
  void readFolder(CrawlTask& task, const std::string& dir, size_t& budget);
  void queueCrawl(const std::string& folder, bool full);
  void queueRootCrawls();
  void checkMeta();
  void rescanFallback();
  void setIndexing(bool on);
  void publishState();
  void applyRecognitionSettings();
  void steerRecognition();
  WatchResult watch(const std::string& folder);
  bool isRoot(const std::string& p) const;
  int pollTimeoutMs(Clock::time_point now) const;

  const ServiceOptions& opt_;
  Exclusions excl_;
  std::unique_ptr<Store> reader_;
  std::unique_ptr<StoreWriter> writer_;
  std::unique_ptr<ImportPool> pool_;
  std::unique_ptr<RecognitionPass> recognition_;
  std::optional<std::string> recognitionSpec_;  // languages of recognition_; "" while there is none
  // Passes replaced by a settings change, finishing the file at hand.
  std::vector<std::unique_ptr<RecognitionPass>> retiring_;
  bool toldRecognitionUnavailable_ = false;
  std::unique_ptr<Watcher> watcher_;
  DebounceQueue debounce_{std::chrono::milliseconds(30), std::chrono::milliseconds(300), kDebounceCapacity};
  std::deque<CrawlTask> crawls_;
  std::set<std::string> fallback_;  // folders we could not watch
  std::set<std::string> tooLong_;   // paths the system cannot open by name
  int sigFd_ = -1, wakeFd_ = -1;
  bool stop_ = false;
  bool indexing_ = true;
  std::optional<meta::State> published_;
  size_t publishedFallback_ = static_cast<size_t>(-1);
  size_t publishedTooLong_ = static_cast<size_t>(-1);
  Clock::time_point nextMetaCheck_{}, nextFallbackScan_{};
};

}  // namespace mdindex::service::loop
