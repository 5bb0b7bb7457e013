#include "app/check/remedy.h"

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "app/engine/tool_runner.h"

namespace findlark::check {

namespace {

constexpr int kApplyTimeoutMs = 60'000;

bool plainWord(const QString& s) {
  if (s.isEmpty()) return false;
  for (const QChar c : s)
    if (!(c.isLetterOrNumber() || QStringLiteral("-_./:=+,@%").contains(c))) return false;
  return true;
}

}  // namespace

QString remedyKindName(Remedy::Kind kind) {
  switch (kind) {
    case Remedy::Kind::Command: return QStringLiteral("command");
    case Remedy::Kind::Config: return QStringLiteral("config");
    case Remedy::Kind::Query: return QStringLiteral("query");
    case Remedy::Kind::None: break;
  }
  return QStringLiteral("none");
}

QString shellQuoted(const QStringList& argv) {
  QStringList out;
  for (const QString& a : argv) {
    if (plainWord(a)) {
      out.append(a);
      continue;
    }
    QString q = a;
    q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    out.append(QLatin1Char('\'') + q + QLatin1Char('\''));
  }
  return out.join(QLatin1Char(' '));
}

Remedy commandRemedy(const QStringList& argv, bool appliable) {
  return {Remedy::Kind::Command, shellQuoted(argv), {}, argv, appliable, {}};
}

Remedy queryRemedy(const QStringList& argv) { return {Remedy::Kind::Query, shellQuoted(argv), {}, argv, false, {}}; }

Remedy configRemedy(const QString& line, const QString& file, bool appliable) {
  return {Remedy::Kind::Config, line, file, {}, appliable, {}};
}

Remedy noRemedy(const QString& sentence) { return {Remedy::Kind::None, sentence, {}, {}, false, {}}; }

QString remedyLine(const Remedy& r) {
  switch (r.kind) {
    case Remedy::Kind::Command: return QStringLiteral("run: ") + r.text;
    case Remedy::Kind::Config:
      return QStringLiteral("add to ") + r.file + QStringLiteral(": ") +
             QString(r.text).replace(QLatin1Char('\n'), QStringLiteral(" / ")) +
             (r.then.isEmpty() ? QString() : QStringLiteral("; then run: ") + shellQuoted(r.then));
    case Remedy::Kind::Query: return QStringLiteral("search with: ") + r.text;
    case Remedy::Kind::None: break;
  }
  return r.text;
}

ApplyOutcome applyRemedy(const Remedy& r) {
  if (!r.appliable) return {false, QStringLiteral("this remedy is not one Findlark applies; do it yourself")};
  if (r.kind == Remedy::Kind::Command && !r.argv.isEmpty()) {
    const QString program = r.argv.first().startsWith(QLatin1Char('/'))
                                ? r.argv.first()
                                : QStandardPaths::findExecutable(r.argv.first());
    if (program.isEmpty()) return {false, r.argv.first() + QStringLiteral(" is not installed")};
    const auto ran = runToolStatus(program, r.argv.mid(1), kApplyTimeoutMs);
    if (!ran) return {false, r.argv.first() + QStringLiteral(" did not finish within 60 s")};
    if (ran->exitStatus != 0)
      return {false, QStringLiteral("%1 failed (exit status %2) %3").arg(r.argv.first()).arg(ran->exitStatus).arg(ran->output.trimmed())};
    return {true, ran->output.trimmed()};
  }
  if (r.kind == Remedy::Kind::Config && QFileInfo(r.file).isAbsolute()) {
    QFile f(r.file);
    QString text;
    if (f.exists()) {
      if (!f.open(QIODevice::ReadOnly)) return {false, QStringLiteral("cannot read ") + r.file};
      text = QString::fromUtf8(f.readAll());
      f.close();
      if (text.contains(r.text)) return {true, r.file + QStringLiteral(" already holds it")};
    }
    // A line for the top level goes before the first "[section]"; one
    // that opens its own section goes at the end.
    QStringList lines = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    qsizetype at = lines.size();
    if (!r.text.startsWith(QLatin1Char('[')))
      for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].trimmed().startsWith(QLatin1Char('['))) {
          at = i;
          break;
        }
    lines.insert(at, r.text);
    if (!QDir().mkpath(QFileInfo(r.file).path())) return {false, QStringLiteral("cannot make the folder of ") + r.file};
    QFile out(r.file + QStringLiteral(".findlark-new"));
    const QByteArray bytes = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size() || !out.flush())
      return {false, QStringLiteral("cannot write ") + r.file};
    out.close();
    // Replaced in one step, so a crash never leaves half a file.
    if (::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(r.file).constData()) != 0) {
      out.remove();
      return {false, QStringLiteral("cannot write ") + r.file};
    }
    if (!r.then.isEmpty()) {
      Remedy follow = commandRemedy(r.then, true);
      const ApplyOutcome after = applyRemedy(follow);
      if (!after.ok) return {false, QStringLiteral("added to ") + r.file + QStringLiteral(", but ") + after.message};
    }
    return {true, QStringLiteral("added to ") + r.file};
  }
  return {false, QStringLiteral("nothing to apply")};
}

}  // namespace findlark::check
