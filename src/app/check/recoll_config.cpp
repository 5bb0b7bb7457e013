#include "app/check/recoll_config.h"

#include <fnmatch.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace findlark::check {

namespace {

QString readText(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

QString expandTilde(const QString& path, const QString& home) {
  if (path == QLatin1String("~")) return home;
  if (path.startsWith(QLatin1String("~/"))) return home + path.mid(1);
  return path;
}

QString withoutTrailingSlash(QString path) {
  while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
  return path;
}

// An absolute, cleaned path; relative names are taken from `base`.
QString absoluteIn(const QString& path, const QString& base, const QString& home) {
  const QString p = expandTilde(path, home);
  return withoutTrailingSlash(QDir::cleanPath(QDir::isAbsolutePath(p) ? p : base + QLatin1Char('/') + p));
}

bool isUnder(const QString& path, const QString& root) {
  return path == root || root == QLatin1String("/") || path.startsWith(root + QLatin1Char('/'));
}

bool matches(const QString& pattern, const QString& text, int flags) {
  return ::fnmatch(QFile::encodeName(pattern).constData(), QFile::encodeName(text).constData(), flags) == 0;
}

}  // namespace

QString recollConfdir(const QString& home) {
  const QByteArray env = qgetenv("RECOLL_CONFDIR");
  if (!env.isEmpty()) return absoluteIn(QFile::decodeName(env), QDir::currentPath(), home);
  return home + QStringLiteral("/.recoll");
}

QStringList splitRecollList(const QString& value) {
  QStringList out;
  QString word;
  bool quoted = false, any = false;
  for (const QChar c : value) {
    if (c == QLatin1Char('"')) {
      quoted = !quoted;
      any = true;
    } else if (!quoted && c.isSpace()) {
      if (any) out.append(word);
      word.clear();
      any = false;
    } else {
      word.append(c);
      any = true;
    }
  }
  if (any) out.append(word);
  return out;
}

void parseRecollConf(const QString& text, QHash<QString, QString>& values) {
  QStringList lines = text.split(QLatin1Char('\n'));
  bool topLevel = true;
  for (int i = 0; i < lines.size(); ++i) {
    QString line = lines[i].trimmed();
    // A backslash at the end continues the line.
    while (line.endsWith(QLatin1Char('\\')) && i + 1 < lines.size()) {
      line.chop(1);
      line += QLatin1Char(' ') + lines[++i].trimmed();
    }
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    if (line.startsWith(QLatin1Char('['))) {
      topLevel = false;
      continue;
    }
    if (!topLevel) continue;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0) continue;
    QString name = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    if (name.endsWith(QLatin1Char('+')) || name.endsWith(QLatin1Char('-'))) {
      const bool add = name.endsWith(QLatin1Char('+'));
      name = name.chopped(1).trimmed();
      QStringList list = splitRecollList(values.value(name));
      for (const QString& w : splitRecollList(value)) {
        if (add && !list.contains(w)) list.append(w);
        if (!add) list.removeAll(w);
      }
      for (QString& w : list)
        if (w.contains(QLatin1Char(' '))) w = QLatin1Char('"') + w + QLatin1Char('"');
      values.insert(name, list.join(QLatin1Char(' ')));
    } else {
      values.insert(name, value);
    }
  }
}

RecollConfig readRecollConfig(const QString& confdir, const QString& home, const QString& defaultsFile) {
  RecollConfig c;
  c.confdir = withoutTrailingSlash(confdir);
  const QString userFile = c.confdir + QStringLiteral("/recoll.conf");
  c.confExists = QFileInfo(userFile).isFile();
  QHash<QString, QString> values;
  // Recoll's own defaults when its shipped file is missing.
  values.insert(QStringLiteral("topdirs"), QStringLiteral("~"));
  values.insert(QStringLiteral("dbdir"), QStringLiteral("xapiandb"));
  if (!defaultsFile.isEmpty()) parseRecollConf(readText(defaultsFile), values);
  if (c.confExists) parseRecollConf(readText(userFile), values);

  c.dbdir = absoluteIn(values.value(QStringLiteral("dbdir")), c.confdir, home);
  for (const QString& t : splitRecollList(values.value(QStringLiteral("topdirs"))))
    c.topdirs.append(absoluteIn(t, home, home));
  for (const QString& p : splitRecollList(values.value(QStringLiteral("skippedPaths"))))
    c.skippedPaths.append(withoutTrailingSlash(expandTilde(p, home)));
  // Recoll never walks its own configuration and index folders.
  c.skippedPaths.append(c.confdir);
  c.skippedPaths.append(c.dbdir);
  c.skippedNames = splitRecollList(values.value(QStringLiteral("skippedNames")));
  c.nowalkfn = values.value(QStringLiteral("nowalkfn"));
  return c;
}

QString recollSkips(const RecollConfig& config, const QString& folder, bool* notCovered) {
  *notCovered = false;
  const QString path = withoutTrailingSlash(QDir::cleanPath(folder));
  QString root;
  for (const QString& t : config.topdirs)
    if (isUnder(path, t) && t.size() > root.size()) root = t;
  if (root.isEmpty()) {
    *notCovered = true;
    return QStringLiteral("outside Recoll's topdirs ") + config.topdirs.join(QStringLiteral(", ")) +
           QStringLiteral(" (") + config.confdir + QStringLiteral("/recoll.conf)");
  }
  // Every folder from the root down to `path`, outermost first.
  QStringList chain;
  for (QString p = path; p.size() >= root.size(); p = QFileInfo(p).path()) {
    chain.prepend(p);
    if (p == root || p == QLatin1String("/")) break;
  }
  for (const QString& p : chain) {
    for (const QString& pattern : config.skippedPaths)
      if (matches(pattern, p, FNM_PATHNAME))
        return QStringLiteral("skipped by Recoll's skippedPaths entry ") + pattern;
    if (p != root) {
      const QString name = QFileInfo(p).fileName();
      for (const QString& pattern : config.skippedNames)
        if (matches(pattern, name, 0)) return QStringLiteral("skipped by Recoll's skippedNames entry ") + pattern;
    }
    if (!config.nowalkfn.isEmpty() && QFileInfo::exists(p + QLatin1Char('/') + config.nowalkfn))
      return QStringLiteral("skipped: ") + p + QStringLiteral(" holds ") + config.nowalkfn;
  }
  return {};
}

}  // namespace findlark::check
