#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <thread>

#include "mdindex/core/fold.h"
#include "mdindex/core/paths.h"
#include "mdindex/importers/import.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/import_wire.h"
#include "mdindex/importers/importer.h"
#include "mdindex/importers/sandbox.h"

extern char** environ;

namespace mdindex {

namespace {

// ---- helper side ---------------------------------------------------------------

void setLimit(int resource, rlim_t soft, rlim_t hard) {
  struct rlimit rl {soft, hard};
  setrlimit(resource, &rl);
}

double cpuSecondsUsed() {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// ---- caller side ------------------------------------------------------------------

std::string selfDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return parentPath(std::string_view(buf, static_cast<size_t>(n)));
}

const Importer* importerNamed(std::string_view name) {
  static const std::vector<const Importer*> all = allImporters();
  for (const Importer* i : all)
    if (i->name() == name) return i;
  return nullptr;
}

std::string number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

using Clock = std::chrono::steady_clock;

enum class ChildOutcome {
  Finished,  // a well-formed result arrived
  Crashed,   // died on a signal, ran out of memory, or never started
  TimedOut,  // CPU limit or wall-clock limit
  Broken,    // sent something that breaks the rules of an answer
};

// The file to hand the helper, opened here: the sandboxed helper cannot
// open it. Never through a final link; a FIFO put in the regular file's
// place since it was looked at opens without waiting and reads as nothing
// (the helper's readers check what they map). -1 when it cannot be opened.
int openForHelper(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

// The helper's first frame is its sandbox state: one short line of
// printable UTF-8.
bool soundSandboxLine(std::string_view s) {
  if (s.empty() || s.size() > kMaxSandboxLineBytes || !isValidUtf8(s)) return false;
  return std::none_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

}  // namespace

struct GuardedImportSession::Helper {
  pid_t pid = -1;
  int fd = -1;              // our end of the socket pair
  std::string pending;      // bytes received and not yet taken as an answer
  std::string sandbox;      // its sandbox state, once its first frame has come

  ~Helper() { stop(false); }

  bool start(const ImportLimits& limits) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
    // dup2 of a descriptor onto itself would leave close-on-exec set: keep
    // the helper's end off descriptor 3.
    if (sv[1] == 3) {
      const int moved = fcntl(sv[1], F_DUPFD_CLOEXEC, 4);
      ::close(sv[1]);
      if (moved < 0) {
        ::close(sv[0]);
        return false;
      }
      sv[1] = moved;
    }
    const std::string helper = importHelperPath();
    std::vector<std::string> args = {helper,
                                     kImportChildFlag,
                                     number(limits.cpuSeconds),
                                     std::to_string(limits.memoryBytes),
                                     std::to_string(limits.maxTextBytes),
                                     std::to_string(limits.maxFileBytes),
                                     limits.recognizeText ? "1" : "0",
                                     limits.recognitionLanguages};
    const int rc = spawnHelper(args, -1, sv[1], pid);
    ::close(sv[1]);
    if (rc != 0) {
      ::close(sv[0]);
      pid = -1;
      return false;
    }
    fd = sv[0];
    return true;
  }

  // Ends the helper: politely (end of input) or with SIGKILL. Returns its
  // wait status.
  int stop(bool kill) {
    if (pid < 0) return 0;
    if (kill) ::kill(pid, SIGKILL);
    if (fd >= 0) ::close(fd);
    fd = -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    return status;
  }

  // Each request names the importer the caller chose and the file, and
  // carries the file open (in `files`, in the same order): the helper never
  // looks at the file system. Several go in one message.
  bool send(const std::vector<std::pair<const Importer*, const std::string*>>& requests, const std::vector<int>& files) {
    std::string frames;
    for (const auto& [importer, path] : requests) {
      std::string request = importer->name();
      request += '\0';
      request += *path;
      appendFrame(frames, request);
    }
    return writeWithFds(fd, frames, files);
  }

  // Waits for the helper's next answer until `deadline` (first its sandbox
  // state, when it has not come yet).
  ChildOutcome receive(Clock::time_point deadline, const ImportLimits& limits, FormatResult& out) {
    std::string payload;
    if (sandbox.empty()) {
      const ChildOutcome o = receiveFrame(deadline, kMaxSandboxLineBytes, payload);
      if (o != ChildOutcome::Finished) return o;
      if (!soundSandboxLine(payload)) return broken();
      sandbox = std::move(payload);
    }
    const ChildOutcome o = receiveFrame(deadline, limits.maxTextBytes + (64ull << 20), payload);
    if (o != ChildOutcome::Finished) return o;
    if (!decodeFormatResult(payload, out) || !answerIsSound(out, limits.maxTextBytes)) return broken();
    return ChildOutcome::Finished;
  }

  // The helper broke the rules of its answers: whatever it is now, it is
  // not trusted with another file.
  ChildOutcome broken() {
    stop(true);
    return ChildOutcome::Broken;
  }

  // Waits for the helper's next frame until `deadline`. Reads in large
  // pieces: what arrives of later frames waits in `pending` for the next call.
  ChildOutcome receiveFrame(Clock::time_point deadline, uint64_t maxBytes, std::string& payload) {
    uint64_t want = 8;  // first the length, then the payload
    bool haveLength = false;
    for (;;) {
      if (!haveLength && pending.size() >= 8) {
        const uint64_t len = frameLength(pending);
        if (len > maxBytes) return broken();
        haveLength = true;
        want = 8 + len;
      }
      if (haveLength && pending.size() >= want) break;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        stop(true);
        return ChildOutcome::TimedOut;
      }
      struct pollfd pfd {fd, POLLIN, 0};
      const int pr = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
      if (pr < 0 && errno == EINTR) continue;
      if (pr == 0) continue;  // re-check the deadline
      const size_t room = std::max<uint64_t>(64 << 10, haveLength ? want - pending.size() : 0);
      const size_t had = pending.size();
      pending.resize(had + room);
      const ssize_t n = ::recv(fd, pending.data() + had, room, MSG_DONTWAIT);
      pending.resize(had + static_cast<size_t>(std::max<ssize_t>(n, 0)));
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return died();
    }
    payload.assign(pending, 8, want - 8);
    pending.erase(0, want);
    return ChildOutcome::Finished;
  }

  // The helper closed its end: find out why.
  ChildOutcome died() {
    const int status = stop(true);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU) return ChildOutcome::TimedOut;
    return ChildOutcome::Crashed;
  }
};

// One queued file. Those that need the format importer are sent to the
// helper in queue order; `sent` ones form the helper's backlog.
struct GuardedImportSession::Queue {
  struct Entry {
    std::string path;
    PreparedImport prepared;
    bool sent = false;        // its request is with the current helper
    bool sendFailed = false;  // the helper was gone before the request reached it
    bool retried = false;     // already sent again once for that reason
    bool unopenable = false;  // could not be opened to hand over: unreadable
  };
  std::deque<Entry> entries;
  size_t inFlight = 0;        // entries sent and not answered
  size_t inFlightBytes = 0;
};

GuardedImportSession::GuardedImportSession(const ImportLimits& limits)
    : limits_(limits), queue_(std::make_unique<Queue>()) {}

GuardedImportSession::~GuardedImportSession() {
  // Files still with the helper may keep it busy for long: end it now.
  if (helper_ && queue_->inFlight > 0) helper_->stop(true);
}

size_t GuardedImportSession::pending() const { return queue_->entries.size(); }

const std::string& GuardedImportSession::sandboxState() const { return sandbox_; }

void GuardedImportSession::submit(std::string path) {
  Queue::Entry e;
  e.prepared = prepareImport(path, limits_);
  e.path = std::move(path);
  queue_->entries.push_back(std::move(e));
  sendWhatFits();
}

// Hands the helper the next unsent requests while the backlog has room. The
// bytes in flight stay far below a socket buffer, so a send never waits on
// a helper that is itself waiting for its answer to be read.
void GuardedImportSession::sendWhatFits() {
  static_assert(kInFlight <= kMaxPassedFds, "one message carries the whole backlog's files");
  constexpr size_t kMaxInFlightBytes = 64 << 10;
  Queue& q = *queue_;
  // The backlog is topped up once it is half gone, so that one message
  // (one system call on each side) carries several requests and their files.
  if (q.inFlight > kInFlight / 2) return;
  std::vector<Queue::Entry*> batch;
  std::vector<std::pair<const Importer*, const std::string*>> requests;
  std::vector<int> files;
  size_t count = q.inFlight, bytes = q.inFlightBytes;
  for (auto& e : q.entries) {
    if (!e.prepared.runImporter || e.sent || e.unopenable) continue;
    if (count >= kInFlight || (count > 0 && bytes + e.path.size() > kMaxInFlightBytes)) break;
    // The file as opened to read its type; opened again only for a request
    // sent a second time.
    const int file = e.prepared.file.get() >= 0 ? e.prepared.file.release() : openForHelper(e.path);
    if (file < 0) {
      e.unopenable = true;
      continue;
    }
    batch.push_back(&e);
    requests.emplace_back(e.prepared.importer, &e.path);
    files.push_back(file);
    ++count;
    bytes += e.path.size();
  }
  const auto closeFiles = [&] {
    for (const int f : files) ::close(f);  // the helper has its own copies
  };
  if (batch.empty()) return;
  if (!helper_) {
    helper_ = std::make_unique<Helper>();
    if (!helper_->start(limits_)) {
      helper_.reset();
      closeFiles();
      return;  // next() finds the files unsent and fails them
    }
  }
  const bool sent = helper_->send(requests, files);
  closeFiles();
  for (Queue::Entry* e : batch) {
    e->sent = true;
    e->sendFailed = !sent;  // the helper is gone; next() finds out why
  }
  q.inFlight = count;
  q.inFlightBytes = bytes;
}

GuardedImportSession::Done GuardedImportSession::next() {
  Queue& q = *queue_;
  Queue::Entry& e = q.entries.front();
  if (e.prepared.runImporter) {
    ChildOutcome outcome = ChildOutcome::Crashed;
    FormatResult format;
    for (;;) {
      if (!e.sent) sendWhatFits();
      if (!e.sent) break;  // no helper could be started, or the file not opened
      const auto deadline =
          Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limits_.wallSeconds));
      outcome = helper_->receive(deadline, limits_, format);
      if (!helper_->sandbox.empty()) sandbox_ = helper_->sandbox;
      --q.inFlight;
      q.inFlightBytes -= e.path.size();
      if (outcome == ChildOutcome::Finished) break;
      // A helper that died while idle (killed from outside) is not this
      // file's fault: ask a fresh one, once.
      const bool askAgain = e.sendFailed && !e.retried;
      // The helper is dead: what it still held goes to the next one.
      helper_.reset();
      for (auto& other : q.entries) other.sent = other.sendFailed = false;
      q.inFlight = q.inFlightBytes = 0;
      if (!askAgain) break;
      e.retried = true;
    }
    switch (outcome) {
      case ChildOutcome::Finished:
        applyFormatResult(std::move(format), e.prepared.result);
        break;
      case ChildOutcome::Crashed:
        e.prepared.result.status = ImportStatus::Crashed;
        break;
      case ChildOutcome::TimedOut:
        e.prepared.result.status = ImportStatus::TimedOut;
        break;
      case ChildOutcome::Broken:
        e.prepared.result.status = ImportStatus::BrokenAnswer;
        break;
    }
    if (e.unopenable) e.prepared.result.status = ImportStatus::Unreadable;
  }
  Done done{std::move(e.path), std::move(e.prepared.result)};
  q.entries.pop_front();
  sendWhatFits();
  if (!done.result.attributes.empty()) finishImport(done.path, done.result);
  return done;
}

ImportResult GuardedImportSession::import(const std::string& path) {
  submit(path);
  return next().result;
}

int spawnHelper(const std::vector<std::string>& args, int out, int channel, pid_t& pid) {
  std::vector<std::string> words = args;
  std::vector<char*> argv;
  for (auto& a : words) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out >= 0)
    posix_spawn_file_actions_adddup2(&actions, out, 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (channel >= 0) posix_spawn_file_actions_adddup2(&actions, channel, 3);
  // The helper starts with default signal handling, whatever the caller set.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

std::string importHelperPath() {
  const char* dir = std::getenv("FINDLARK_TOOL_DIR");
  const std::string base = (dir && *dir) ? std::string(dir) : selfDir();
  return trimTrailingSlashes(base) + "/mdimport";
}

ImportResult importFileGuarded(const std::string& path, const ImportLimits& limits) {
  GuardedImportSession session(limits);
  return session.import(path);
}

int runImportChild(const std::vector<std::string>& args, const ImportChildHook& beforeEach) {
  if (args.size() != 6) return 2;
  ImportLimits limits;
  try {
    limits.cpuSeconds = std::stod(args[0]);
    limits.memoryBytes = std::stoull(args[1]);
    limits.maxTextBytes = std::stoull(args[2]);
    limits.maxFileBytes = std::stoull(args[3]);
  } catch (...) {
    return 2;
  }
  if (args[4] != "0" && args[4] != "1") return 2;
  limits.recognizeText = args[4] == "1";
  limits.recognitionLanguages = args[5];
  setLimit(RLIMIT_CORE, 0, 0);
  setLimit(RLIMIT_AS, limits.memoryBytes, limits.memoryBytes);
  const int fd = 3;
  rlim_t cpuLimit = RLIM_INFINITY;  // the soft CPU limit as last set
  struct rlimit initial {};
  getrlimit(RLIMIT_CPU, &initial);
  // The walls go up before the first request, once for the helper's life;
  // the parent hears what they are first.
  if (!writeFrame(fd, describeSandbox(enterImportSandbox()))) return 1;
  // Requests arrive several at a time: they are read in large pieces, and
  // what belongs to later requests waits in `inbox`. Each carries its file
  // as a descriptor; they arrive in the order of the requests.
  std::string inbox;
  std::deque<int> files;
  const auto readUntil = [&](size_t size) {
    while (inbox.size() < size)
      if (readWithFds(fd, inbox, files) <= 0) return false;
    return true;
  };
  for (;;) {
    if (!readUntil(8)) return 0;  // end of input: done
    const uint64_t len = frameLength(std::string_view(inbox).substr(0, 8));
    if (len > 1u << 20) return 2;
    if (!readUntil(8 + len)) return 2;
    const std::string request = inbox.substr(8, len);
    inbox.erase(0, 8 + len);
    const auto nul = request.find('\0');
    if (nul == std::string::npos) return 2;
    // A name it does not know is a broken request, not a file it could not read.
    const Importer* importer = importerNamed(std::string_view(request).substr(0, nul));
    if (!importer) return 2;
    const std::string path = request.substr(nul + 1);
    if (files.empty()) return 2;  // a request without its file
    const ImportedFileScope file(path, files.front());
    files.pop_front();

    // Each file gets its own CPU allowance on top of what the helper has
    // used so far (the limit counts the whole process).
    auto cpu = static_cast<rlim_t>(std::ceil(cpuSecondsUsed() + std::max(1.0, limits.cpuSeconds)));
    if (initial.rlim_max != RLIM_INFINITY) cpu = std::min(cpu, initial.rlim_max);
    if (cpu != cpuLimit) {
      setLimit(RLIMIT_CPU, cpu, initial.rlim_max);
      cpuLimit = cpu;
    }

    if (beforeEach) beforeEach(path, limits);
    try {
      FormatResult r = runFormatImporter(*importer, path, limits);
      if (!writeFrame(fd, encodeFormatResult(r))) return 1;
    } catch (const std::bad_alloc&) {
      return 3;  // the memory limit was reached
    }
  }
}

}  // namespace mdindex
