#include "app/engine/tool_runner.h"

#include <signal.h>
#include <unistd.h>

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

}  // namespace

std::optional<QString> runTool(const QString& program, const QStringList& arguments, int timeoutMs) {
  // QProcess would look a bare name up in PATH: only absolute paths run.
  if (!QFileInfo(program).isAbsolute()) return std::nullopt;
  QProcess p;
  p.setProgram(program);
  p.setArguments(arguments);
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
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
  return text;
}

QString toolPath(const QString& name) {
  const QByteArray env = qgetenv("FINDLARK_TOOL_DIR");
  const QString folder = env.isEmpty() ? executableFolder() : QFile::decodeName(env);
  return folder + QLatin1Char('/') + name;
}

}  // namespace findlark
