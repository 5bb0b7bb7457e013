#include "app/engine/tool_runner.h"

#include <signal.h>
#include <unistd.h>

#include <utility>

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "app/engine/app_paths.h"
#include "mdindex/core/fold.h"

namespace findlark {

namespace {

// Kills the tool's whole process group: the tool and whatever it started
// that may still hold our pipe.
void killGroup(QProcess& p) {
  if (const qint64 pid = p.processId(); pid > 0) ::kill(-static_cast<pid_t>(pid), SIGKILL);
  p.waitForFinished(-1);
}

// The one spawn-and-collect behind runTool and runToolStatus; `quiet` sends
// the tool's standard error to /dev/null instead of ours.
std::optional<ToolResult> run(const QString& program, const QStringList& arguments, int timeoutMs, bool quiet,
                              const QStringList& environment = {}) {
  // QProcess would look a bare name up in PATH: only absolute paths run.
  if (!QFileInfo(program).isAbsolute()) return std::nullopt;
  QProcess p;
  p.setProgram(program);
  p.setArguments(arguments);
  if (!environment.isEmpty()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : environment) env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(env);
  }
  if (quiet) p.setStandardErrorFile(QProcess::nullDevice());
  else p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.setInputChannelMode(QProcess::ForwardedInputChannel);
  p.setChildProcessModifier([] {
    // Its own process group, so that a time-out ends the tool together with
    // anything it started; default signal handling, as a shell would give.
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
  });
  p.start(QIODevice::ReadOnly);
  if (!p.waitForStarted(timeoutMs)) {
    if (p.state() != QProcess::NotRunning) killGroup(p);
    return std::nullopt;
  }
  if (!p.waitForFinished(timeoutMs)) {
    killGroup(p);
    return std::nullopt;
  }
  const QByteArray output = p.readAllStandardOutput();
  if (!mdindex::isValidUtf8(std::string_view(output.constData(), static_cast<size_t>(output.size()))))
    return std::nullopt;
  QString text = QString::fromUtf8(output);
  // A leading byte-order mark is valid UTF-8 and part of the output.
  if (output.startsWith("\xEF\xBB\xBF") && !text.startsWith(QChar(0xFEFF))) text.prepend(QChar(0xFEFF));
  return ToolResult{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, std::move(text)};
}

}  // namespace

std::optional<QString> runTool(const QString& program, const QStringList& arguments, int timeoutMs) {
  std::optional<ToolResult> r = run(program, arguments, timeoutMs, false);
  if (!r) return std::nullopt;
  return std::move(r->output);
}

std::optional<ToolResult> runToolStatus(const QString& program, const QStringList& arguments, int timeoutMs,
                                        const QStringList& environment) {
  return run(program, arguments, timeoutMs, true, environment);
}

QString toolPath(const QString& name) {
  const QByteArray env = qgetenv("FINDLARK_TOOL_DIR");
  const QString folder = env.isEmpty() ? executableFolder() : QFile::decodeName(env);
  return folder + QLatin1Char('/') + name;
}

}  // namespace findlark
