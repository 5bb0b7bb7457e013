// The walls around the import child. The child parses hostile documents
// with C and C++ libraries that have long histories of memory-safety bugs;
// once past its start-up it can read only the file it is handed (as an open
// descriptor) and the system's own data, write only to the descriptors it
// already holds, start nothing and reach nobody. Not for use outside this
// folder, mdimport and their tests.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mdindex {

struct SandboxState {
  bool networkNamespace = false;  // a network namespace of its own: nothing to connect to
  bool userNamespace = false;     // ... inside a user namespace of its own (no capability outside it)
  int landlockAbi = 0;            // the Landlock ABI whose rules apply; 0: none
  bool seccomp = false;           // no_new_privs and the system-call allow-list
};

// Applies every wall this kernel allows, in this order: a new network
// namespace (in a new user namespace where the kernel allows it, so that a
// child started by root holds no capability over the host), Landlock
// read-only rules for the system data folders, no_new_privs, the seccomp
// allow-list. Call it single-threaded, after the child's own resource
// limits and before it reads its first request. Never fails outright: a
// wall the kernel lacks is left out and the returned state says so.
SandboxState enterImportSandbox();

// One line for people: "seccomp on, Landlock ABI 6 (reads: the imported
// file and system data only), network namespace on"; a missing wall reads
// "... off".
std::string describeSandbox(const SandboxState& s);

// The folders (and single files) the child may read under Landlock: the
// system's libraries, fonts, character-set modules, time zones, poppler's
// and Tesseract's data. Those missing here are left out.
std::vector<std::string> sandboxReadableFolders();

// `mdimport --sandbox-test`: starts the helper at `helper` with
// kSandboxProbeFlag, which applies the sandbox and tries what an exploit
// would try; prints its state line and one line per attempt ("blocked" or
// "ALLOWED"). Returns 0 when everything was blocked, 1 otherwise (or when
// the probe could not run).
int runSandboxTest(const std::string& helper, std::ostream& out, std::ostream& err);

// The probe's own entry point, `mdimport --sandbox-probe HOMEFILE PORT`;
// only runSandboxTest starts it. Writes its lines to standard output.
inline constexpr const char* kSandboxProbeFlag = "--sandbox-probe";
int runSandboxProbe(const std::vector<std::string>& args);

}  // namespace mdindex
