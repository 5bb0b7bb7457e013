#include "mdindex/importers/sandbox.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <ostream>

#include "mdindex/core/paths.h"
#include "mdindex/core/recognition_config.h"
#include "mdindex/importers/import_internal.h"

extern char** environ;

namespace mdindex {

namespace {

// ---- the system-call allow-list ---------------------------------------------------
//
// Everything not named here fails with EPERM. EPERM rather than killing the
// child: the libraries probe for calls they can live without (a terminal
// check, a faster variant of a call) and carry on when refused, so a kill
// would turn harmless probes into failed imports; a refused call gives an
// exploit nothing either way, and the probe of `mdimport --sandbox-test`
// can report each refusal and go on. A call from another architecture's
// table (i386, x32) kills the child (libseccomp's default for a foreign
// architecture): nothing here has a use for it.
//
// Measured with `strace -f` over mdimport on the test corpora (importers,
// office, recognition, hostile files included). To let a new importer in,
// add its calls to the group they belong to, or a new group with its reason.
struct CallGroup {
  const char* why;
  std::initializer_list<const char*> calls;
};

const CallGroup kAllowed[] = {
    {"memory: the allocator, thread stacks, mapped files and libraries loaded on demand (iconv modules)",
     {"brk", "mmap", "munmap", "mremap", "mprotect", "madvise"}},
    {"threads and their synchronisation (Tesseract's thread pool, the C++ runtime)",
     {"futex", "set_robust_list", "rseq", "sched_yield", "sched_getaffinity", "gettid", "getpid", "exit",
      "exit_group", "rt_sigprocmask", "rt_sigaction", "rt_sigreturn", "sigaltstack", "restart_syscall", "nanosleep",
      "clock_nanosleep"}},
    {"reading the file it is handed and system data (opening is checked below, Landlock picks the paths)",
     {"read", "pread64", "readv", "preadv", "lseek", "close", "fstat", "newfstatat", "statx", "getdents64",
      "readlink", "readlinkat", "access", "faccessat", "faccessat2", "fadvise64", "dup", "dup2", "dup3"}},
    {"the requests and answers on its socket, and library warnings to its standard error (/dev/null)",
     {"write", "writev", "recvfrom", "recvmsg"}},
    {"clocks and CPU time: each file's CPU allowance, recognition's deadline",
     {"clock_gettime", "clock_getres", "gettimeofday", "time", "getrusage"}},
    {"what libraries ask of the system: machine name, ids, memory size, random seeds",
     {"uname", "getuid", "geteuid", "getgid", "getegid", "getcwd", "getrandom", "sysinfo"}},
};

// Calls allowed only with some arguments (each with its reason below).
bool addConditionalRules(scmp_filter_ctx ctx) {
  const pid_t self = getpid();
  const auto rule = [&](const char* name, std::initializer_list<scmp_arg_cmp> args, uint32_t action = SCMP_ACT_ALLOW) {
    const int nr = seccomp_syscall_resolve_name(name);
    if (nr == __NR_SCMP_ERROR) return true;  // not a call of this architecture
    return seccomp_rule_add_array(ctx, action, nr, static_cast<unsigned>(args.size()), std::data(args)) == 0;
  };
  // Files open read-only: no write access, no creating, truncating or
  // appending, no unnamed temporary files.
  const scmp_datum_t writing = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND | __O_TMPFILE;
  bool ok = rule("openat", {SCMP_A2(SCMP_CMP_MASKED_EQ, writing, 0)}) &&
            rule("open", {SCMP_A1(SCMP_CMP_MASKED_EQ, writing, 0)});
  // Threads, never processes: a clone must share the address space as a
  // thread does. clone3 passes its flags in memory that a filter cannot
  // read, so it says "not here" and the C library falls back to clone.
  ok = ok && rule("clone", {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD | CLONE_VM, CLONE_THREAD | CLONE_VM)}) &&
       rule("clone3", {}, SCMP_ACT_ERRNO(ENOSYS));
  // Signals only to itself (abort(), a thread's wake-up), never to another
  // process such as its parent.
  ok = ok && rule("tgkill", {SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(self))}) &&
       rule("kill", {SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(self))});
  // Resource limits: its own only; reading any, setting only the CPU limit
  // it moves on for each file.
  ok = ok && rule("prlimit64", {SCMP_A0(SCMP_CMP_EQ, 0), SCMP_A2(SCMP_CMP_EQ, 0)}) &&
       rule("prlimit64", {SCMP_A0(SCMP_CMP_EQ, 0), SCMP_A1(SCMP_CMP_EQ, RLIMIT_CPU)});
  // Answers go out on the connected socket it holds: no address of its own
  // choosing.
  ok = ok && rule("sendto", {SCMP_A4(SCMP_CMP_EQ, 0)});
  // A descriptor's flags, copies and locks; not its owner or signal (the
  // kernel would signal any process named as the owner whenever the
  // descriptor is ready), leases or directory notices, which reach other
  // processes too.
  for (const int cmd : {F_DUPFD, F_DUPFD_CLOEXEC, F_GETFD, F_SETFD, F_GETFL, F_SETFL, F_GETLK, F_SETLK, F_SETLKW,
                        F_OFD_GETLK, F_OFD_SETLK, F_OFD_SETLKW, F_GET_SEALS, F_GETPIPE_SZ})
    ok = ok && rule("fcntl", {SCMP_A1(SCMP_CMP_EQ, static_cast<scmp_datum_t>(cmd))});
  // isatty() on its standard streams, nothing else of ioctl.
  ok = ok && rule("ioctl", {SCMP_A1(SCMP_CMP_EQ, TCGETS)});
  return ok;
}

bool installSeccomp() {
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ERRNO(EPERM));
  if (!ctx) return false;
  // Every system call of the helper passes the filter: a binary tree of the
  // call numbers rather than a chain keeps that cheap (a hint: a libseccomp
  // without it builds the chain).
  seccomp_attr_set(ctx, SCMP_FLTATR_CTL_OPTIMIZE, 2);
  bool ok = true;
  for (const CallGroup& g : kAllowed)
    for (const char* name : g.calls) {
      const int nr = seccomp_syscall_resolve_name(name);
      if (nr != __NR_SCMP_ERROR && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, nr, 0) != 0) ok = false;
    }
  ok = ok && addConditionalRules(ctx) && seccomp_load(ctx) == 0;
  seccomp_release(ctx);
  return ok;
}

// ---- Landlock -----------------------------------------------------------------------
//
// Through its three system calls (no library). The ruleset handles every
// access right the kernel's ABI knows, so everything not granted below is
// refused: writing anywhere, making or removing anything, running programs,
// reading outside the system data folders; from ABI 4 TCP bind and connect,
// from ABI 6 signals to processes outside the sandbox and abstract Unix
// sockets. The header of the build system may be older than the kernel:
// the newer rights are spelled out here.

constexpr uint64_t kFsAbi1 = (1ull << 13) - 1;  // execute ... make_sym
constexpr uint64_t kFsRefer = 1ull << 13;       // ABI 2
constexpr uint64_t kFsTruncate = 1ull << 14;    // ABI 3
constexpr uint64_t kFsIoctlDev = 1ull << 15;    // ABI 5
constexpr uint64_t kNetBindConnectTcp = 3;      // ABI 4
constexpr uint64_t kScopeSocketsSignals = 3;    // ABI 6
constexpr int kNewestAbiKnown = 6;

struct RulesetAttr {
  uint64_t handledFs;
  uint64_t handledNet;
  uint64_t scoped;
};

struct __attribute__((packed)) PathBeneath {
  uint64_t allowed;
  int32_t parentFd;
};

int landlockAbi() {
  const long v = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return v > 0 ? static_cast<int>(v) : 0;
}

// Returns the ABI whose rules now apply, 0 when none do.
int installLandlock() {
  const int abi = std::min(landlockAbi(), kNewestAbiKnown);
  if (abi < 1) return 0;
  RulesetAttr attr{kFsAbi1, 0, 0};
  if (abi >= 2) attr.handledFs |= kFsRefer;
  if (abi >= 3) attr.handledFs |= kFsTruncate;
  if (abi >= 5) attr.handledFs |= kFsIoctlDev;
  if (abi >= 4) attr.handledNet = kNetBindConnectTcp;
  if (abi >= 6) attr.scoped = kScopeSocketsSignals;
  const size_t size = abi >= 6 ? sizeof attr : abi >= 4 ? 2 * sizeof(uint64_t) : sizeof(uint64_t);
  const int ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, size, 0));
  if (ruleset < 0) return 0;
  for (const std::string& path : sandboxReadableFolders()) {
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    const bool dir = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    PathBeneath rule{LANDLOCK_ACCESS_FS_READ_FILE | (dir ? LANDLOCK_ACCESS_FS_READ_DIR : 0), fd};
    syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    ::close(fd);
  }
  const bool ok = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
  ::close(ruleset);
  return ok ? abi : 0;
}

// ---- namespaces ---------------------------------------------------------------------

// A network namespace of its own holds only a loopback device that is
// down: there is nothing to connect to. Inside a new user namespace where
// the kernel allows it (then a child of root holds no capability over the
// host either); else alone, which needs root.
void enterNamespaces(SandboxState& s) {
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0) {
    s.userNamespace = s.networkNamespace = true;
    return;
  }
  s.networkNamespace = unshare(CLONE_NEWNET) == 0;
}

// ---- the probe --------------------------------------------------------------------

struct Probe {
  int allowed = 0;
  void report(const std::string& attempt, bool succeeded) {
    std::printf("%s: %s\n", attempt.c_str(), succeeded ? "ALLOWED" : "blocked");
    if (succeeded) ++allowed;
  }
};

std::string readLine(int fd) {
  std::string out;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') out += c;
  return out;
}

// A regular file directly in the home folder that this process can read:
// the first by name, else one made for the test (`made` says so).
std::string homeFileToRead(bool& made) {
  made = false;
  const std::string home = homeDir();
  if (DIR* d = opendir(home.c_str())) {
    std::string best;
    while (const dirent* e = readdir(d)) {
      const std::string p = home + "/" + e->d_name;
      struct stat st {};
      if (lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), R_OK) == 0 &&
          (best.empty() || p < best))
        best = p;
    }
    closedir(d);
    if (!best.empty()) return best;
  }
  std::string templ = home + "/.mdimport-sandbox-test-XXXXXX";
  const int fd = mkstemp(templ.data());
  if (fd < 0) return {};
  const bool wrote = ::write(fd, "secret\n", 7) == 7;
  ::close(fd);
  if (!wrote) {
    ::unlink(templ.c_str());
    return {};
  }
  made = true;
  return templ;
}

}  // namespace

std::vector<std::string> sandboxReadableFolders() {
  std::vector<std::string> out = {
      // shared libraries, and what the C library loads on demand (iconv's
      // character-set modules, locales)
      "/usr/lib", "/usr/lib64", "/lib", "/lib64", "/usr/local/lib", "/etc/ld.so.cache",
      // poppler's character maps and the fonts that poppler and fontconfig read
      "/usr/share/poppler", "/usr/share/fonts", "/usr/local/share/fonts", "/usr/share/fontconfig", "/etc/fonts",
      "/var/cache/fontconfig",
      // time zones, for dates in documents
      "/etc/localtime", "/usr/share/zoneinfo",
      // the processor count that thread pools size themselves by
      "/sys/devices/system/cpu"};
  // Tesseract's language data, wherever recognition looks for it.
  for (const auto& d : recognitionDataFolders()) out.push_back(d);
  std::vector<std::string> present;
  for (auto& p : out) {
    struct stat st {};
    if (stat(p.c_str(), &st) == 0) present.push_back(std::move(p));
  }
  return present;
}

SandboxState enterImportSandbox() {
  SandboxState s;
  enterNamespaces(s);
  s.landlockAbi = installLandlock();
  s.seccomp = installSeccomp();
  return s;
}

std::string describeSandbox(const SandboxState& s) {
  std::string out = s.seccomp ? "seccomp on" : "seccomp off";
  if (s.landlockAbi > 0)
    out += ", Landlock ABI " + std::to_string(s.landlockAbi) + " (reads: the imported file and system data only)";
  else
    out += ", Landlock off (not in this kernel)";
  out += s.networkNamespace ? ", network namespace on" : ", network namespace off";
  return out;
}

int runSandboxProbe(const std::vector<std::string>& args) {
  if (args.size() != 2) return 2;
  const std::string& homeFile = args[0];
  const int port = std::atoi(args[1].c_str());
  const pid_t parent = getppid();  // asked outside: inside, getppid() is refused too
  const SandboxState s = enterImportSandbox();
  std::printf("Import sandbox: %s\n", describeSandbox(s).c_str());
  Probe p;

  const int home = ::open(homeFile.c_str(), O_RDONLY | O_CLOEXEC);
  char byte;
  p.report("read " + homeFile + " by path", home >= 0 && ::read(home, &byte, 1) >= 0);
  if (home >= 0) ::close(home);

  const std::string tmp = "/tmp/mdimport-sandbox-test-" + std::to_string(getpid());
  const int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  p.report("write " + tmp, out >= 0);
  if (out >= 0) {
    ::close(out);
    ::unlink(tmp.c_str());
  }

  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bool connected = false;
  if (sock >= 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected = ::connect(sock, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(sock);
  }
  p.report("create a socket", sock >= 0);
  p.report("connect to 127.0.0.1:" + args[1], connected);

  pid_t child = -1;
  char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
  bool ran = posix_spawn(&child, "/bin/true", nullptr, nullptr, argv, environ) == 0;
  if (ran) {
    int status = 0;
    ran = waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  p.report("run /bin/true", ran);

  p.report("signal the parent (pid " + std::to_string(parent) + ")", ::kill(parent, SIGCONT) == 0);
  // A descriptor's owner is sent a signal of the owner's choosing whenever
  // the descriptor is ready: the parent reading the probe's output would do.
  const bool owned = ::fcntl(STDOUT_FILENO, F_SETOWN, parent) == 0;
  if (owned) ::fcntl(STDOUT_FILENO, F_SETOWN, 0);
  p.report("signal the parent through an output's owner (F_SETOWN)", owned);
  p.report("attach to the parent with ptrace", ptrace(PTRACE_ATTACH, parent, nullptr, nullptr) == 0);
  p.report("mount a file system", ::mount("none", "/tmp", "tmpfs", 0, nullptr) == 0);
  std::fflush(stdout);
  return p.allowed > 0 ? 1 : 0;
}

int runSandboxTest(const std::string& helper, std::ostream& out, std::ostream& err) {
  bool madeHomeFile = false;
  const std::string homeFile = homeFileToRead(madeHomeFile);
  if (homeFile.empty()) {
    err << "mdimport: cannot find or make a file to read in the home folder " << homeDir() << "\n";
    return 1;
  }
  // Something to connect to, so that a connection that is let through
  // succeeds and shows.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    err << "mdimport: cannot listen on 127.0.0.1: " << std::strerror(errno) << "\n";
    if (listener >= 0) ::close(listener);
    if (madeHomeFile) ::unlink(homeFile.c_str());
    return 1;
  }
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return 1;
  if (pipeFds[1] <= 3) {  // where the helper's own descriptors go
    const int moved = fcntl(pipeFds[1], F_DUPFD_CLOEXEC, 4);
    ::close(pipeFds[1]);
    pipeFds[1] = moved;
  }
  pid_t pid = -1;
  const int rc =
      spawnHelper({helper, kSandboxProbeFlag, homeFile, std::to_string(ntohs(a.sin_port))}, pipeFds[1], -1, pid);
  ::close(pipeFds[1]);
  int lines = 0;
  if (rc == 0) {
    for (std::string line; !(line = readLine(pipeFds[0])).empty(); ++lines) out << line << "\n";
  }
  ::close(pipeFds[0]);
  int status = 0;
  if (rc == 0)
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  ::close(listener);
  if (madeHomeFile) ::unlink(homeFile.c_str());
  if (rc != 0) {
    err << "mdimport: cannot start " << helper << ": " << std::strerror(rc) << "\n";
    return 1;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1 || lines == 0) {
    err << "mdimport: the sandbox probe did not finish\n";
    return 1;
  }
  return WEXITSTATUS(status) == 0 ? 0 : 1;
}

}  // namespace mdindex
