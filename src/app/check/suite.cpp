#include "app/check/suite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/engine/app_paths.h"
#include "app/engine/sample_folder.h"
#include "mdindex/core/keywords.h"

namespace findlark::check {

namespace {

// The largest file a Grow step may ask for.
constexpr qint64 kMaxGrowBytes = qint64(1) << 30;

const QString kSamples = QStringLiteral("samples");

bool writeAll(int fd, const char* data, qint64 size) {
  for (qint64 done = 0; done < size;) {
    const ssize_t put = ::write(fd, data + done, size_t(size - done));
    if (put > 0) done += put;
    else if (put < 0 && errno != EINTR) return false;
  }
  return true;
}

// Writes the new file `to`: the first line of `from` repeated, then all of
// `from`, at least `size` bytes in all. As copyNewFile: never over an
// existing file, removed again when it breaks off.
bool growNewFile(const QString& from, const QString& to, qint64 size) {
  QFile in(from);
  if (!in.open(QIODevice::ReadOnly)) return false;
  const QByteArray content = in.readAll();
  const qsizetype eol = content.indexOf('\n');
  if (eol < 0) return false;
  const QByteArray line = content.left(eol + 1);
  const QByteArray target = QFile::encodeName(to);
  const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) return false;
  // Whole lines, about a MiB at a time.
  QByteArray block;
  while (block.size() < (1 << 20)) block += line;
  qint64 left = size - content.size();
  bool ok = true;
  while (ok && left > 0) {
    const qint64 lines = std::min<qint64>(block.size(), (left + line.size() - 1) / line.size() * line.size());
    ok = writeAll(out, block.constData(), lines);
    left -= lines;
  }
  ok = ok && writeAll(out, content.constData(), content.size());
  if (::close(out) != 0) ok = false;
  if (!ok) ::unlink(target.constData());
  return ok;
}

bool writeXattr(const QString& path, const QString& name, const QByteArray& value) {
  return ::setxattr(QFile::encodeName(path).constData(), name.toUtf8().constData(), value.constData(),
                    size_t(value.size()), 0) == 0;
}

}  // namespace

std::optional<QList<FileStep>> parseSteps(const QString& text, QString* error) {
  const auto fail = [error](int line, const QString& what) -> std::optional<QList<FileStep>> {
    if (error) *error = QStringLiteral("steps.tsv line %1: %2").arg(line).arg(what);
    return std::nullopt;
  };
  const auto rows = readTable(text, QStringLiteral("steps.tsv"),
                              {QStringLiteral("file"), QStringLiteral("step"), QStringLiteral("name"),
                               QStringLiteral("value")},
                              {}, error);
  if (!rows) return std::nullopt;
  QList<FileStep> out;
  for (const TableRow& row : *rows) {
    FileStep step;
    step.file = row.cell(0);
    const QString kind = row.cell(1);
    step.name = row.cell(2);
    step.value = row.cell(3);
    if (step.file.isEmpty()) return fail(row.line, QStringLiteral("no file name"));
    if (kind == QLatin1String("xattr")) {
      step.kind = FileStep::Kind::Xattr;
    } else if (kind == QLatin1String("xattr-plist")) {
      step.kind = FileStep::Kind::XattrPlist;
    } else if (kind == QLatin1String("grow")) {
      step.kind = FileStep::Kind::Grow;
      bool ok = false;
      const qint64 size = step.value.toLongLong(&ok);
      if (!ok || size < 1 || size > kMaxGrowBytes)
        return fail(row.line, QStringLiteral("\"%1\" is not a size from 1 byte to 1 GiB").arg(step.value));
    } else {
      return fail(row.line, QStringLiteral("unknown step \"%1\"").arg(kind));
    }
    if (step.kind != FileStep::Kind::Grow && step.name.isEmpty())
      return fail(row.line, QStringLiteral("no attribute name"));
    out.append(step);
  }
  return out;
}

QStringList suiteNames() { return {kSamples, QStringLiteral("probes")}; }

std::optional<Suite> loadSuite(const QString& name, QString* error) {
  const auto fail = [error](const QString& what) -> std::optional<Suite> {
    if (error) *error = what;
    return std::nullopt;
  };
  if (!suiteNames().contains(name)) return fail(QStringLiteral("no suite called \"") + name + QLatin1Char('"'));
  const QString share = resourceFolder();
  if (share.isEmpty()) return fail(QStringLiteral("the sample documents are not installed (no resource folder)"));
  Suite suite;
  suite.name = name;
  suite.folder = name == kSamples ? share : share + QLatin1Char('/') + name;
  if (!QFileInfo(suite.folder).isDir())
    return fail(QStringLiteral("the ") + name + QStringLiteral(" are not installed (no folder ") + suite.folder +
                QLatin1Char(')'));
  QString why;
  const auto files = readExpectationsFile(suite.folder + QStringLiteral("/expectations.tsv"), &why);
  if (!files) return fail(why);
  suite.files = *files;
  QFile steps(suite.folder + QStringLiteral("/steps.tsv"));
  if (steps.exists()) {
    if (!steps.open(QIODevice::ReadOnly)) return fail(QStringLiteral("cannot read ") + steps.fileName());
    const auto parsed = parseSteps(QString::fromUtf8(steps.readAll()), &why);
    if (!parsed) return fail(why);
    suite.steps = *parsed;
  }
  for (const FileStep& step : suite.steps) {
    const bool listed = std::any_of(suite.files.begin(), suite.files.end(),
                                    [&](const SampleExpectation& e) { return e.file == step.file; });
    if (!listed) return fail(QStringLiteral("steps.tsv names ") + step.file + QStringLiteral(", which expectations.tsv does not list"));
  }
  return suite;
}

SuiteMade makeSuiteFolder(const QString& folder, const Suite& suite, const std::function<void(const QString&)>& made) {
  SuiteMade out;
  // "Exists" follows a final link, as the app's own test folder does.
  if (!QFileInfo::exists(folder) && ::mkdir(QFile::encodeName(folder).constData(), 0777) != 0) {
    out.error = QStringLiteral("cannot create ") + folder;
    return out;
  }
  for (const SampleExpectation& e : suite.files) {
    const QString to = folder + QLatin1Char('/') + e.file;
    // Subfolders one component at a time, each made here (never an
    // existing link followed out of the folder).
    const QStringList components = e.file.split(QLatin1Char('/'));
    QString sub = folder;
    for (int i = 0; i + 1 < components.size(); ++i) {
      sub += QLatin1Char('/') + components[i];
      struct stat st;
      if (::lstat(QFile::encodeName(sub).constData(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
      if (::mkdir(QFile::encodeName(sub).constData(), 0777) != 0) {
        out.error = QStringLiteral("cannot create ") + sub;
        return out;
      }
    }
    const QString from = suite.folder + QLatin1Char('/') + e.file;
    qint64 grow = 0;
    for (const FileStep& step : suite.steps)
      if (step.file == e.file && step.kind == FileStep::Kind::Grow) grow = step.value.toLongLong();
    if (!(grow > 0 ? growNewFile(from, to, grow) : copyNewFile(from, to))) {
      out.error = QStringLiteral("cannot create ") + to;
      return out;
    }
    for (const FileStep& step : suite.steps) {
      if (step.file != e.file || step.kind == FileStep::Kind::Grow) continue;
      QByteArray value = step.value.toUtf8();
      if (step.kind == FileStep::Kind::XattrPlist) {
        const auto plist = mdindex::encodeKeywordsValue(value.toStdString());
        value = plist ? QByteArray::fromStdString(*plist) : QByteArray();
      }
      if (value.isEmpty() || !writeXattr(to, step.name, value))
        out.warnings.append(QStringLiteral("the ") + step.name + QStringLiteral(" attribute could not be written on ") +
                            e.file);
    }
    if (made) made(e.file);
  }
  out.ok = true;
  return out;
}

QStringList suiteEntries(const Suite& suite) {
  QStringList out;
  for (const SampleExpectation& e : suite.files) {
    const QStringList components = e.file.split(QLatin1Char('/'));
    for (int i = 1; i <= components.size(); ++i) {
      const QString entry = components.mid(0, i).join(QLatin1Char('/'));
      if (!out.contains(entry)) out.append(entry);
    }
  }
  return out;
}

}  // namespace findlark::check
