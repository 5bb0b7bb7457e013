// Importing one file end to end: type detection, file-system attributes, the
// format importer, the keywords extended attribute. `importFileGuarded` runs
// the format importer in a child process with time and memory limits so that
// a hostile file costs one failed item and never the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mdindex/core/import_status.h"
#include "mdindex/core/value.h"

namespace mdindex {

struct ImportLimits {
  double cpuSeconds = 20;                    // child CPU time limit
  double wallSeconds = 30;                   // child wall-clock limit (then SIGKILL)
  uint64_t memoryBytes = 1024ull << 20;      // child address-space limit
  // Text kept per file. A document that holds more keeps its first
  // maxTextBytes (cut at a character boundary) and is marked with
  // kMDItemTextContentTruncated, so the cut is never silent.
  uint64_t maxTextBytes = 32ull << 20;
  uint64_t maxFileBytes = 512ull << 20;      // larger files: FS attributes only, TooLarge
  // Text recognition (text_recognition.h): off, a file with pictures is
  // imported without it and comes back with recognitionPending set.
  bool recognizeText = false;
  std::string recognitionLanguages = "eng";  // tesseract codes joined by '+'
};

// The limits for an import that recognises text in `languages`: more time,
// since recognition may spend its own budget (recognition_limits.h) on top
// of the import's.
ImportLimits recognitionLimits(const std::string& languages, ImportLimits base = {});

struct ImportResult {
  ImportStatus status = ImportStatus::Unsupported;
  std::string uti;         // kMDItemContentType
  std::string importer;    // importer name, empty when none ran
  Attributes attributes;   // file-system attributes + importer attributes + keywords
  std::string text;        // kMDItemTextContent (unfolded UTF-8, capped)
  // The file holds pictures worth recognising and recognition did not run
  // (off, or no language data).
  bool recognitionPending = false;
  // Change-detection stamp of the file as it was imported.
  int64_t size = 0;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;     // status change time: moves on extended-attribute edits
  uint64_t inode = 0;
  bool isDirectory = false;
  bool isRegularFile = false;  // only regular files are ever opened
};

// File-system attributes of `path` (lstat; never follows a final link):
// kMDItemPath, FSName, DisplayName, FSSize, FSCreationDate,
// FSContentChangeDate, ContentCreationDate, ContentModificationDate,
// FSOwnerUserID, FSOwnerGroupID, ContentType, ContentTypeTree, Kind.
// Returns false when the path cannot be stat'ed.
bool fileSystemAttributes(const std::string& path, ImportResult& out);

// In-process import. For tests and `mdimport -t`; trusts the importer.
ImportResult importFile(const std::string& path, const ImportLimits& limits = {});

// The same, with the format importer in a child process under `limits`.
// The child is the import helper `mdimport --import-child` found in
// $FINDLARK_TOOL_DIR, else beside the running executable; it is started with
// posix_spawn (no fork of the caller), sets its own CPU, address-space and
// core-size limits, and returns its result over a socket. The caller kills
// it after `limits.wallSeconds`.
// The helper runs sandboxed (sandbox.h): it is handed the file as an open
// descriptor and can open nothing of the user's. A crash, a hang or an
// exhausted limit gives status Crashed or TimedOut, an answer that breaks
// the rules of its form (answerIsSound() in import_wire.h) BrokenAnswer,
// with the file-system attributes (and the keywords attribute) still filled
// in; a missing helper gives Crashed too, a file that cannot be opened
// Unreadable. Folders, FIFOs, sockets, devices,
// files without an importer and files over maxFileBytes never start a child.
// Thread-safe: any number of threads may call it at once (each call owns its
// child and socket; descriptors are close-on-exec). Starts one helper per
// call: for many files, a GuardedImportSession is much cheaper.
ImportResult importFileGuarded(const std::string& path, const ImportLimits& limits = {});

// A helper process kept across imports, so that a run over many files pays
// for one process start rather than one per file. Each file still gets its
// own CPU-time allowance and wall-clock deadline; a helper that crashes,
// hangs or runs out of memory is killed and replaced before the next file,
// and only the file it was working on fails (Crashed or TimedOut).
//
// Files may be queued ahead with submit() and their results taken, in the
// order submitted, with next(): up to kInFlight requests wait in the
// helper's socket, so the helper reads the next file while the caller stores
// the last one, and a stream of small files costs no round trip each. The
// limits stay per file: a file's wall-clock deadline runs from the moment
// the caller waits for it (every earlier answer has arrived by then, so the
// helper is on that file), and when it fails, the files queued behind it go
// to the replacement helper as if nothing had happened.
// Threads: one session per thread; sessions are independent of each other.
class GuardedImportSession {
 public:
  explicit GuardedImportSession(const ImportLimits& limits = {});
  ~GuardedImportSession();  // ends the helper (and reaps it)
  GuardedImportSession(const GuardedImportSession&) = delete;
  GuardedImportSession& operator=(const GuardedImportSession&) = delete;

  // One file, start to end. Results still queued by submit() come first:
  // call it only when nothing is pending.
  ImportResult import(const std::string& path);

  // Queues `path` (its file-system stage runs now; the format importer's
  // request goes to the helper when there is room in flight).
  void submit(std::string path);
  struct Done {
    std::string path;
    ImportResult result;
  };
  // The oldest queued file's result, waiting for it as long as its limits
  // allow. Only when pending() > 0.
  Done next();
  size_t pending() const;

  // The sandbox the helper runs in, as it reported it when it started
  // (describeSandbox() in sandbox.h); empty until a helper has answered.
  const std::string& sandboxState() const;

  // Requests handed to the helper before their answers are read.
  static constexpr size_t kInFlight = 16;

 private:
  struct Helper;
  struct Queue;
  void sendWhatFits();
  ImportLimits limits_;
  std::string sandbox_;
  std::unique_ptr<Helper> helper_;
  std::unique_ptr<Queue> queue_;
};

// Path of the import helper that the guarded import starts.
std::string importHelperPath();

// The import helper's entry point: `mdimport --import-child CPU MEM TEXT
// FILEMAX OCR LANGUAGES` (OCR "1" or "0") sets its limits, enters its
// sandbox (sandbox.h) and says which on file descriptor 3, then reads
// requests (a 64-bit little-endian length, then the importer's name, a NUL
// and the path, with the file attached as a descriptor) from it and answers
// each on the same descriptor (a length, then the encoded result) until end
// of input, then exits 0; a malformed request (one naming no importer it
// has, or without its file) ends it with 2. `args` are the
// words after "--import-child". `beforeEach`, when set, runs before each
// file, under the child's limits: only tests set it, to make a helper that
// fails on purpose (tests/mdindex/importers/fault_child.cpp); the mdimport
// tool never does.
inline constexpr const char* kImportChildFlag = "--import-child";
using ImportChildHook = std::function<void(const std::string& path, const ImportLimits& limits)>;
int runImportChild(const std::vector<std::string>& args, const ImportChildHook& beforeEach = {});

}  // namespace mdindex
