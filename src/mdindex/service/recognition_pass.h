// The service's second pass: text recognition for the pictures that the
// crawl and live changes imported without it (their items wait in the
// store's recognition backlog). It works one file at a time on its own
// thread, at idle processor priority (the import helper it starts
// inherits that), and only while the event loop allows it: the loop
// allows it when no crawl, import or live change is waiting, so names,
// metadata and text documents are always indexed first.
//
// Each file is imported again, in full, with recognition; the writer drops
// the result when the file changed meanwhile. A file whose recognition
// crashes or runs out of time keeps what the store holds and leaves the
// backlog. Nothing is recognised twice: an item leaves the backlog once
// recognised, and only a changed file comes back into it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "mdindex/importers/import.h"
#include "mdindex/service/pipeline.h"

namespace mdindex::service {

class RecognitionPass {
 public:
  // Reads the backlog from the store in `indexFolder` (its own read-only
  // connection) and writes through `writer`, which must outlive the pass.
  // `limits` must ask for recognition (recognitionLimits()).
  RecognitionPass(std::string indexFolder, StoreWriter& writer, ImportLimits limits);
  ~RecognitionPass();  // stop(), then abandon() if a file is still being read

  // Thread: the event loop. While false the pass finishes the file at hand
  // and then waits. Each change to true looks at the backlog again from its
  // start (new items may have joined it).
  void allow(bool allowed);
  // Stops taking files and waits for the one at hand, at most `graceMs`.
  // False while a recognition still runs (may be called again).
  bool stop(int graceMs = 500);
  // Detaches the thread of a recognition that did not finish (the writer
  // must then outlive it: the process is about to _exit()).
  void abandon();

  // True when recognition could not load its language data: the pass has
  // stopped, and the backlog stays for a later run.
  bool unavailable() const;
  // Files recognised so far (for the log and tests).
  uint64_t recognised() const;

 private:
  void run();

  std::string indexFolder_;
  StoreWriter& writer_;
  ImportLimits limits_;
  mutable std::mutex mu_;
  std::condition_variable cv_, doneCv_;
  bool allowed_ = false;
  bool restart_ = true;   // look at the backlog from its start
  bool stopping_ = false;
  bool busy_ = false;
  bool unavailable_ = false;
  uint64_t recognised_ = 0;
  std::thread thread_;
};

}  // namespace mdindex::service
