// Runs one command-line tool and collects its standard output as text, and
// finds our own tools.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace findlark {

// How long runTool waits for a tool by default before killing it.
inline constexpr int kDefaultToolTimeoutMs = 120'000;

// Starts the executable at `program` (an absolute path) with `arguments`,
// each passed as one argument (no shell, no quoting or expansion). The child
// inherits the environment, working folder, standard input and standard
// error; only standard output is collected, to end of file, then the child is
// waited for. Returns the output decoded as strict UTF-8 (empty output gives
// an empty string), or nothing when the bytes are not valid UTF-8, when the
// tool cannot be started, or when it is still running after `timeoutMs`
// (it is then killed). Blocks the calling thread; safe on any thread.
std::optional<QString> runTool(const QString& program, const QStringList& arguments,
                               int timeoutMs = kDefaultToolTimeoutMs);

// What runToolStatus gives for a tool that ran to its end.
struct ToolResult {
  int exitStatus = -1;  // the tool's exit status, -1 when a signal ended it
  QString output;       // its standard output, strict UTF-8
};

// Like runTool, but also gives the exit status, and the tool's standard
// error goes to /dev/null (other indexes' tools write log chatter there).
// `environment` holds "NAME=VALUE" entries that replace or add to the
// inherited environment for this tool alone. Nothing under the same
// conditions as runTool.
std::optional<ToolResult> runToolStatus(const QString& program, const QStringList& arguments,
                                        int timeoutMs = kDefaultToolTimeoutMs,
                                        const QStringList& environment = {});

// Absolute path of one of our tools ("mdfind", "mdimport", "mdls", "mdutil",
// "mdindexd"): in $FINDLARK_TOOL_DIR when set, else in the folder of the
// running executable.
QString toolPath(const QString& name);

}  // namespace findlark
