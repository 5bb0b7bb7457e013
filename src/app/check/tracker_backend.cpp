#include "app/check/tracker_backend.h"

#include <fnmatch.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QStandardPaths>

#include "app/engine/app_paths.h"
#include "app/engine/tool_runner.h"

namespace findlark::check {

namespace {

// A search or a question that runs longer than this has failed this round.
constexpr int kToolTimeoutMs = 10'000;

QString withoutTrailingSlash(QString path) {
  while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
  return path;
}

bool isUnder(const QString& path, const QString& root) {
  return path == root || root == QLatin1String("/") || path.startsWith(root + QLatin1Char('/'));
}

QString readText(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// A value no sample hides its term in: where the file is, what it is.
bool isIdentity(const QString& name, const QString& value) {
  static const QStringList kNames{QStringLiteral("nie:url"), QStringLiteral("nfo:fileName"),
                                  QStringLiteral("nie:isStoredAs"), QStringLiteral("tracker:extractorHash")};
  return kNames.contains(name) || value.startsWith(QLatin1String("file://")) ||
         value.startsWith(QLatin1String("urn:fileid:"));
}

// A property that says something about the content, not where the file is
// or how Tracker keeps it.
bool isDescriptive(const QString& name) {
  static const QStringList kBookkeeping{
      QStringLiteral("nfo:belongsToContainer"), QStringLiteral("nie:isPartOf"),     QStringLiteral("nie:created"),
      QStringLiteral("nie:interpretedAs"),      QStringLiteral("nie:dataSource"),   QStringLiteral("nie:byteSize"),
      QStringLiteral("nie:url"),                QStringLiteral("nie:isStoredAs"),   QStringLiteral("nie:mimeType"),
      QStringLiteral("nie:informationElementDate"), QStringLiteral("nie:contentCreated"),
      QStringLiteral("nie:contentLastModified")};
  return !kBookkeeping.contains(name) && !name.startsWith(QLatin1String("nfo:file")) &&
         !name.startsWith(QLatin1String("nrl:")) && !name.startsWith(QLatin1String("tracker:")) &&
         !name.startsWith(QLatin1String("rdf:")) && !name.startsWith(QLatin1String("http://"));
}

// A GVariant string array as gsettings takes it.
QString gvariantArray(const QStringList& items) {
  QStringList quoted;
  for (QString i : items) {
    i.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    i.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    quoted.append(QLatin1Char('\'') + i + QLatin1Char('\''));
  }
  return QLatin1Char('[') + quoted.join(QStringLiteral(", ")) + QLatin1Char(']');
}

Remedy gsettingsSet(const QString& schema, const char* key, const QStringList& value) {
  return commandRemedy({QStringLiteral("gsettings"), QStringLiteral("set"), schema, QLatin1String(key),
                        gvariantArray(value)},
                       true);
}

// The miner's setting `key` (in `schema`, currently `current`) without `entry`.
Remedy settingWithout(const QString& schema, const char* key, QStringList current, const QString& entry) {
  current.removeAll(entry);
  return gsettingsSet(schema, key, current);
}

}  // namespace

QStringList trackerExtractorMimeTypes(const QString& rulesFolder) {
  QStringList out;
  const QDir dir(rulesFolder);
  for (const QString& name : dir.entryList({QStringLiteral("*.rule")}, QDir::Files, QDir::Name))
    for (const QString& line : readText(dir.filePath(name)).split(QLatin1Char('\n')))
      if (line.startsWith(QLatin1String("MimeTypes=")))
        for (const QString& m : line.mid(10).split(QLatin1Char(';'), Qt::SkipEmptyParts))
          if (!out.contains(m.trimmed())) out.append(m.trimmed());
  return out;
}

bool trackerHasExtractor(const QStringList& ruleMimeTypes, const QString& mime) {
  for (const QString& pattern : ruleMimeTypes)
    if (::fnmatch(QFile::encodeName(pattern).constData(), QFile::encodeName(mime).constData(), 0) == 0) return true;
  return false;
}

QStringList parseStringArray(const QString& text) {
  QStringList out;
  const QString t = text.trimmed();
  for (qsizetype i = 0; i < t.size(); ++i) {
    const QChar quote = t[i];
    if (quote != QLatin1Char('\'') && quote != QLatin1Char('"')) continue;
    QString s;
    for (++i; i < t.size() && t[i] != quote; ++i) {
      if (t[i] == QLatin1Char('\\') && i + 1 < t.size()) ++i;
      s.append(t[i]);
    }
    out.append(s);
  }
  return out;
}

QString expandTrackerRoot(const QString& root, const QString& home, const QString& userDirs) {
  if (root.startsWith(QLatin1Char('&'))) {
    // &DOCUMENTS -> XDG_DOCUMENTS_DIR; &DOWNLOAD -> XDG_DOWNLOAD_DIR.
    const QString key = QStringLiteral("XDG_") + root.mid(1) + QStringLiteral("_DIR");
    for (const QString& line : userDirs.split(QLatin1Char('\n'))) {
      const QString l = line.trimmed();
      if (!l.startsWith(key + QLatin1Char('='))) continue;
      QString value = l.mid(key.size() + 1);
      if (value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')) && value.size() >= 2)
        value = value.mid(1, value.size() - 2);
      if (value.startsWith(QLatin1String("$HOME"))) value = home + value.mid(5);
      if (!value.startsWith(QLatin1Char('/'))) return {};
      value = withoutTrailingSlash(QDir::cleanPath(value));
      // GLib reads a special folder set to the home folder itself as unset.
      return value == home && root != QLatin1String("&DESKTOP") ? QString() : value;
    }
    return root == QLatin1String("&DESKTOP") ? home + QStringLiteral("/Desktop") : QString();
  }
  QString p = root;
  if (p.startsWith(QLatin1String("$HOME"))) p = home + p.mid(5);
  else if (p == QLatin1String("~") || p.startsWith(QLatin1String("~/"))) p = home + p.mid(1);
  if (!p.startsWith(QLatin1Char('/'))) return {};
  return withoutTrailingSlash(QDir::cleanPath(p));
}

QStringList parseTrackerInfo(const QString& output) {
  static const QRegularExpression kStart(QStringLiteral("^\\s*'([^']+)' = '(.*)$"));
  QStringList out;
  QString name, value;
  bool open = false;
  for (const QString& line : output.split(QLatin1Char('\n'))) {
    if (!open) {
      const auto m = kStart.match(line);
      if (!m.hasMatch()) continue;
      name = m.captured(1);
      value = m.captured(2);
    } else {
      value += QLatin1Char(' ') + line;
    }
    // A value ends with a quote at the end of a line; text may span lines.
    open = !value.endsWith(QLatin1Char('\''));
    if (!open) out.append(name + QStringLiteral(" = ") + value.chopped(1).simplified());
  }
  return out.isEmpty() ? parseTrackerInfoBlocks(output) : out;
}

TrackerBackend::TrackerBackend()
    : gdbus_(QStandardPaths::findExecutable(QStringLiteral("gdbus"))),
      gsettings_(QStandardPaths::findExecutable(QStringLiteral("gsettings"))) {
  // The bus is asked only where both lines are installed.
  programs_ = detectTrackerPrograms({}, [this](const QString& busName) {
    if (gdbus_.isEmpty()) return false;
    const auto r = runToolStatus(gdbus_, {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                                          QStringLiteral("org.freedesktop.DBus"), QStringLiteral("--object-path"),
                                          QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("--method"),
                                          QStringLiteral("org.freedesktop.DBus.NameHasOwner"), busName},
                                 2'000);
    return r && r->exitStatus == 0 && r->output.contains(QLatin1String("true"));
  });
}

QString TrackerBackend::name() const { return QStringLiteral("tracker"); }

QList<Route> TrackerBackend::routes() const {
  return {{QStringLiteral("sparql"), QStringLiteral("sparql"), Expects::Query, QStringLiteral("SPARQL")},
          {QStringLiteral("search"), programs_.command + QStringLiteral(" search"), Expects::Command,
           programs_.command + QStringLiteral(" search")}};
}

bool TrackerBackend::installed() const {
  return !programs_.cli.isEmpty() && !gdbus_.isEmpty() && !gsettings_.isEmpty();
}

Availability TrackerBackend::availability() {
  if (programs_.cli.isEmpty())
    return {false, Reason::NotInstalled,
            QStringLiteral("neither tracker3 (Tracker 3.4–3.7) nor localsearch (LocalSearch 3.8+) is installed"),
            noRemedy(QStringLiteral("install ") + programs_.packages)};
  if (gdbus_.isEmpty() || gsettings_.isEmpty())
    return {false, Reason::NotInstalled, QStringLiteral("gdbus and gsettings are not installed (Debian: libglib2.0-bin)"), {}};
  const auto owned = runToolStatus(gdbus_, {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                                            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("--object-path"),
                                            QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("--method"),
                                            QStringLiteral("org.freedesktop.DBus.NameHasOwner"), programs_.minerBus},
                                   kToolTimeoutMs);
  if (!owned || owned->exitStatus != 0)
    return {false, Reason::ServiceNotRunning,
            QStringLiteral("no D-Bus session bus to reach ") + programs_.product + QStringLiteral("'s miner on"),
            noRemedy(QStringLiteral("run this inside a desktop session: ") + programs_.product +
                     QStringLiteral("'s miner is reached on the D-Bus session bus (DBUS_SESSION_BUS_ADDRESS)"))};
  if (!owned->output.contains(QLatin1String("true")))
    return {false, Reason::ServiceNotRunning,
            programs_.product + QStringLiteral("'s file miner (") + programs_.minerBus + QStringLiteral(") is not running"),
            commandRemedy({QStringLiteral("systemctl"), QStringLiteral("--user"), QStringLiteral("start"), programs_.minerUnit},
                          false)};
  return {true, Reason::None, {}, {}};
}

QString TrackerBackend::minerStatus() {
  const auto r = runToolStatus(gdbus_, {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                                        programs_.minerBus, QStringLiteral("--object-path"),
                                        programs_.minerPath, QStringLiteral("--method"),
                                        QStringLiteral("org.freedesktop.Tracker3.Miner.GetStatus")},
                               kToolTimeoutMs);
  if (!r || r->exitStatus != 0) return {};
  const QStringList s = parseStringArray(r->output);
  return s.value(0);
}

bool TrackerBackend::extractorIdle() {
  // Without a name of its own the extractor is the miner's child, and the
  // miner's status already covers it.
  if (programs_.extractorBus.isEmpty()) return true;
  // Asked only while the extractor runs: a call to its name would start it.
  const auto owned = runToolStatus(gdbus_, {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                                            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("--object-path"),
                                            QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("--method"),
                                            QStringLiteral("org.freedesktop.DBus.NameHasOwner"), programs_.extractorBus},
                                   kToolTimeoutMs);
  if (!owned || owned->exitStatus != 0) return false;
  if (!owned->output.contains(QLatin1String("true"))) return true;
  const auto r = runToolStatus(gdbus_, {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                                        programs_.extractorBus, QStringLiteral("--object-path"),
                                        programs_.extractorPath, QStringLiteral("--method"),
                                        QStringLiteral("org.freedesktop.Tracker3.Miner.GetStatus")},
                               kToolTimeoutMs);
  return r && r->exitStatus == 0 && parseStringArray(r->output).value(0) == QLatin1String("Idle");
}

Coverage TrackerBackend::coverage(const QString& folder) {
  Coverage c;
  const QString home = homeFolder();
  const auto setting = [&](const char* key) {
    const auto r = runToolStatus(gsettings_, {QStringLiteral("get"), programs_.minerSchema, QLatin1String(key)},
                                 kToolTimeoutMs);
    return r && r->exitStatus == 0 ? parseStringArray(r->output) : QStringList();
  };
  const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
  const QString userDirs = readText(configHome + QStringLiteral("/user-dirs.dirs"));
  // The miner drops every root inside the temporary folder.
  const QString tmp = withoutTrailingSlash(QDir::cleanPath(qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp"))));
  QStringList recursive, single, dropped;
  const auto collect = [&](const char* key, QStringList& into) {
    for (const QString& entry : setting(key)) {
      const QString root = expandTrackerRoot(entry, home, userDirs);
      if (root.isEmpty()) continue;
      if (isUnder(root, tmp)) dropped.append(root);
      else if (!into.contains(root)) into.append(root);
    }
  };
  collect("index-recursive-directories", recursive);
  collect("index-single-directories", single);
  c.roots = recursive;
  for (const QString& s : single) c.roots.append(s + QStringLiteral(" (top level only)"));

  const QString path = withoutTrailingSlash(QDir::cleanPath(folder));
  QString root;
  for (const QString& r : recursive)
    if (isUnder(path, r) && r.size() > root.size()) root = r;
  if (root.isEmpty() && single.contains(path)) root = path;
  if (root.isEmpty()) {
    c.reason = Reason::FolderNotCovered;
    c.remedy = commandRemedy(programs_.indexFolderArgv(path), true);
    for (const QString& d : dropped)
      if (isUnder(path, d)) {
        c.detail = QStringLiteral("Tracker ignores its configured folder ") + d + QStringLiteral(" because it is under ") +
                   tmp + QStringLiteral(" ($TMPDIR)");
        return c;
      }
    c.detail = QStringLiteral("outside Tracker's folders ") + c.roots.join(QStringLiteral(", "));
    return c;
  }
  // Folders below the root that the miner leaves out, by name or content.
  const QStringList names = setting("ignored-directories");
  const QStringList markers = setting("ignored-directories-with-content");
  QStringList chain;
  for (QString p = path; p.size() > root.size(); p = QFileInfo(p).path()) chain.prepend(p);
  for (const QString& p : chain) {
    const QString name = QFileInfo(p).fileName();
    if (name.startsWith(QLatin1Char('.'))) {
      c.reason = Reason::Hidden;
      c.detail = QStringLiteral("Tracker skips the hidden folder ") + p;
      c.remedy = noRemedy(QStringLiteral("Tracker never indexes hidden files or folders; move the file out of ") + p);
      return c;
    }
    for (const QString& pattern : names)
      if (::fnmatch(QFile::encodeName(pattern).constData(), QFile::encodeName(name).constData(), 0) == 0) {
        c.reason = Reason::FolderExcluded;
        c.detail = QStringLiteral("skipped by Tracker's ignored-directories entry ") + pattern;
        c.remedy = settingWithout(programs_.minerSchema, "ignored-directories", names, pattern);
        return c;
      }
  }
  // The root and every folder below it down to the check folder.
  QStringList marked = chain;
  marked.prepend(root);
  for (const QString& p : marked)
    for (const QString& marker : markers)
      if (QFileInfo::exists(p + QLatin1Char('/') + marker)) {
        c.reason = Reason::ContentFilter;
        c.detail = p + QStringLiteral(" holds ") + marker + QStringLiteral(" (Tracker's ignored-directories-with-content)");
        c.remedy = settingWithout(programs_.minerSchema, "ignored-directories-with-content", markers, marker);
        return c;
      }
  c.covered = true;
  return c;
}

SearchResult TrackerBackend::search(int route, const QString& term, const QString& folder) {
  SearchResult out;
  const QString prefix = withoutTrailingSlash(folder) + QLatin1Char('/');
  if (route == 0) {
    const QString helper = toolPath(QStringLiteral("findlark-tracker-query"));
    if (!QFileInfo(helper).isExecutable()) {
      out.error = QStringLiteral("this build has no SPARQL helper (built where libtracker-sparql-3.0-dev, or "
                                 "TinySPARQL's development files, are installed)");
      return out;
    }
    const auto r = runToolStatus(helper, {QStringLiteral("--bus"), programs_.minerBus, withoutTrailingSlash(folder), term},
                                 kToolTimeoutMs);
    if (!r) {
      out.error = QStringLiteral("findlark-tracker-query did not run to the end");
      return out;
    }
    if (r->exitStatus != 0) {
      out.error = r->output.trimmed().remove(QRegularExpression(QStringLiteral("^error: ")));
      if (out.error.isEmpty()) out.error = QStringLiteral("findlark-tracker-query failed");
      return out;
    }
    out.ok = true;
    for (const QString& line : r->output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      const QString path = line.section(QLatin1Char('\t'), 0, 0);
      if (path.startsWith(prefix)) out.hits.append({path, line.section(QLatin1Char('\t'), 1)});
    }
    return out;
  }
  const auto r = runToolStatus(programs_.cli, programs_.searchArgs(term), kToolTimeoutMs);
  if (!r || r->exitStatus != 0) {
    out.error = programs_.command + QStringLiteral(" search failed");
    return out;
  }
  out.ok = true;
  for (const QString& path : trackerSearchPaths(r->output))
    if (path.startsWith(prefix)) out.hits.append({path, QString()});
  return out;
}

Stored TrackerBackend::stored(const QString& path, const QString& term) {
  Stored st;
  const auto r = runToolStatus(programs_.cli, {QStringLiteral("info"), QStringLiteral("-c"), path}, kToolTimeoutMs);
  if (r && r->exitStatus == 0) st.attributes = parseTrackerInfo(r->output);
  if (st.attributes.isEmpty()) {
    const Coverage c = coverage(QFileInfo(path).path());
    if (!c.covered) {
      st.reason = c.reason;
      st.detail = c.detail;
      st.remedy = c.remedy;
      return st;
    }
    const QString status = minerStatus();
    if (status == QLatin1String("Idle")) {
      st.reason = Reason::NotIndexed;
      st.detail = QStringLiteral("Tracker's miner is idle and has not indexed it");
    } else {
      st.reason = Reason::StillQueued;
      st.detail = status.isEmpty() ? QStringLiteral("Tracker's miner did not answer")
                                   : QStringLiteral("Tracker's miner is ") + status.toLower();
    }
    return st;
  }
  st.inIndex = true;
  bool extracted = false;
  QString mime;
  QStringList names;
  for (const QString& line : st.attributes) {
    const QString name = line.section(QStringLiteral(" = "), 0, 0);
    const QString value = line.section(QStringLiteral(" = "), 1);
    if (name == QLatin1String("tracker:extractorHash")) extracted = true;
    if (name == QLatin1String("nie:mimeType") && mime.isEmpty()) mime = value;
    if (!names.contains(name) && isDescriptive(name)) names.append(name);
    if (st.termAttribute.isEmpty() && !isIdentity(name, value) && value.contains(term, Qt::CaseInsensitive))
      st.termAttribute = name;
  }
  // Final once the extractor has been over the file, or once both miners
  // are idle and it never will be.
  if (!st.termAttribute.isEmpty()) {
    st.settled = extracted;
    return st;
  }
  if (extracted) {
    st.settled = true;
    const bool text = names.removeAll(QStringLiteral("nie:plainTextContent")) > 0;
    st.detail = (text ? QStringLiteral("its text (nie:plainTextContent) and ") : QStringLiteral("no text; ")) +
                (names.isEmpty() ? QStringLiteral("no properties") : names.join(QStringLiteral(", "))) +
                QStringLiteral(" do not hold the term");
  } else {
    st.settled = minerStatus() == QLatin1String("Idle") && extractorIdle();
    if (mime.isEmpty()) mime = QMimeDatabase().mimeTypeForFile(path).name();
    st.detail = QStringLiteral("no Tracker extractor stored anything from this type (") + mime + QLatin1Char(')');
  }
  return st;
}

QString TrackerBackend::settingText(const QString& schema, const char* key) {
  const auto r = runToolStatus(gsettings_, {QStringLiteral("get"), schema, QLatin1String(key)},
                               kToolTimeoutMs);
  return r && r->exitStatus == 0 ? r->output.trimmed() : QString();
}

Finding TrackerBackend::fileFacts(const QString& path, const QString& term) {
  const QFileInfo info(path);
  const QString name = info.fileName();
  if (name.startsWith(QLatin1Char('.')))
    return {Reason::Hidden, QStringLiteral("Tracker skips hidden files (") + name + QLatin1Char(')'),
            noRemedy(QStringLiteral("Tracker never indexes hidden files; rename it without the leading dot"))};
  const QStringList ignoredFiles = parseStringArray(settingText(programs_.minerSchema, "ignored-files"));
  for (const QString& pattern : ignoredFiles)
    if (::fnmatch(QFile::encodeName(pattern).constData(), QFile::encodeName(name).constData(), 0) == 0)
      return {Reason::NameFilter, QStringLiteral("Tracker's ignored-files entry ") + pattern + QStringLiteral(" matches it"),
              settingWithout(programs_.minerSchema, "ignored-files", ignoredFiles, pattern)};

  // Its type: Tracker hands a file to the extractor whose rule names its
  // MIME type; without one only the file's name and size are stored.
  const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
  const QStringList rules = trackerExtractorMimeTypes(programs_.rulesFolder);
  if (!rules.isEmpty() && !trackerHasExtractor(rules, mime))
    return {Reason::NoExtractor,
            QStringLiteral("no rule in ") + programs_.rulesFolder + QStringLiteral(" names ") + mime,
            noRemedy(QStringLiteral("Tracker has no extractor for ") + mime +
                     QStringLiteral("; no setting changes that")) };
  // Plain text is read only from the names on the text allow-list.
  if (mime == QLatin1String("text/plain") || mime == QLatin1String("text/markdown")) {
    const QStringList allow = parseStringArray(settingText(programs_.extractSchema, "text-allowlist"));
    bool allowed = allow.isEmpty();
    for (const QString& pattern : allow)
      allowed = allowed || ::fnmatch(QFile::encodeName(pattern).constData(), QFile::encodeName(name).constData(), 0) == 0;
    if (!allowed) {
      const QString suffix = info.suffix().isEmpty() ? name : QStringLiteral("*.") + info.suffix();
      return {Reason::TypeExcluded,
              QStringLiteral("text-allowlist is ") + gvariantArray(allow) + QStringLiteral(", which ") + name +
                  QStringLiteral(" does not match"),
              gsettingsSet(programs_.extractSchema, "text-allowlist", allow + QStringList{suffix})};
    }
  }
  // Only the first max-bytes of text are read: where does the word lie?
  if (!term.isEmpty() && (mime.startsWith(QLatin1String("text/")))) {
    bool ok = false;
    const qint64 limit = settingText(programs_.extractSchema, "max-bytes").section(QLatin1Char(' '), -1).toLongLong(&ok);
    QFile f(path);
    if (ok && limit > 0 && info.size() > limit && f.open(QIODevice::ReadOnly)) {
      const QByteArray head = f.read(limit);
      if (!head.toLower().contains(term.toLower().toUtf8())) {
        f.seek(0);
        qint64 at = -1, offset = 0;
        const QByteArray needle = term.toLower().toUtf8();
        while (at < 0 && !f.atEnd()) {
          const QByteArray chunk = f.read(1 << 20).toLower();
          const qsizetype i = chunk.indexOf(needle);
          if (i >= 0) at = offset + i;
          offset += chunk.size() - needle.size();
          if (!f.atEnd()) f.seek(offset);
        }
        if (at >= 0)
          return {Reason::TextLimit,
                  QStringLiteral("the word is at byte %1; Tracker reads the first %2 bytes (max-bytes)").arg(at).arg(limit),
                  commandRemedy({QStringLiteral("gsettings"), QStringLiteral("set"), programs_.extractSchema,
                                 QStringLiteral("max-bytes"), QString::number(std::min<qint64>(at + 4096, 10485760))},
                                true)};
      }
    }
  }
  return {};
}

Remedy TrackerBackend::routeRemedy(int route, const QString& term, const QString& attribute, const QString& path) {
  (void)path;
  if (route != 1) return {};
  // The command-line search looks in the full text only; keywords are tags and the
  // camera maker is a linked resource.
  QString t = term;
  t.remove(QLatin1Char('\'')).remove(QLatin1Char('\\'));
  if (attribute.contains(QLatin1String("nao:")) || attribute.contains(QLatin1String("Tag")))
    return queryRemedy(programs_.tagFilesArgv(t));
  return queryRemedy({programs_.sparqlProgram, programs_.sparqlVerb, QStringLiteral("-b"),
                      programs_.minerBus, QStringLiteral("-q"),
                      QStringLiteral("SELECT ?url WHERE { ?f nie:isStoredAs ?url ; nfo:equipment ?e . "
                                     "?e nfo:manufacturer ?m . FILTER(CONTAINS(LCASE(?m), '") +
                          t.toLower() + QStringLiteral("')) }")});
}

Listing TrackerBackend::listFolder(const QString& folder) {
  Listing out;
  audit_ = {};
  const QString helper = toolPath(QStringLiteral("findlark-tracker-query"));
  if (!QFileInfo(helper).isExecutable()) {
    out.error = QStringLiteral("this build has no SPARQL helper (built where libtracker-sparql-3.0-dev is installed)");
    return out;
  }
  const auto r = runToolStatus(
      helper, {QStringLiteral("--bus"), programs_.minerBus, QStringLiteral("list"), withoutTrailingSlash(folder)},
      kListTimeoutMs);
  if (!r) {
    out.error = QStringLiteral("findlark-tracker-query list did not run to the end");
    return out;
  }
  if (r->exitStatus != 0) {
    out.error = r->output.trimmed().remove(QRegularExpression(QStringLiteral("^error: ")));
    if (out.error.isEmpty()) out.error = QStringLiteral("findlark-tracker-query list failed");
    return out;
  }
  out.ok = true;
  out.paths = r->output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  return out;
}

Finding TrackerBackend::absenceFacts(const QString& path, const QString& auditFolder) {
  (void)auditFolder;
  if (!audit_.read) {
    audit_.read = true;
    audit_.minerStatus = minerStatus();
    audit_.ignoredFiles = parseStringArray(settingText(programs_.minerSchema, "ignored-files"));
  }
  const QString name = QFileInfo(path).fileName();
  if (name.startsWith(QLatin1Char('.')))
    return {Reason::Hidden, QStringLiteral("Tracker skips hidden files"),
            noRemedy(QStringLiteral("Tracker never indexes hidden files; rename them without the leading dot"))};
  for (const QString& pattern : audit_.ignoredFiles)
    if (::fnmatch(QFile::encodeName(pattern).constData(), QFile::encodeName(name).constData(), 0) == 0)
      return {Reason::NameFilter, programs_.product + QStringLiteral("'s ignored-files entry ") + pattern + QStringLiteral(" matches them"),
              settingWithout(programs_.minerSchema, "ignored-files", audit_.ignoredFiles, pattern)};
  if (audit_.minerStatus != QLatin1String("Idle"))
    return {Reason::StillQueued,
            audit_.minerStatus.isEmpty() ? QStringLiteral("Tracker's miner did not answer")
                                         : QStringLiteral("Tracker's miner is ") + audit_.minerStatus.toLower(),
            noRemedy(QStringLiteral("wait for the miner to finish (") + programs_.command +
                     QStringLiteral(" status shows its progress)"))};
  return {};
}

Remedy TrackerBackend::absentRemedy(const QString& auditFolder) {
  (void)auditFolder;
  // Tracker 3.4's command line cannot ask the miner to look at a file
  // again, a folder whose time has not moved is not read again on a
  // restart, and a file whose times alone change is not taken again
  // (measured: `touch` does not bring one back; a file moved in does).
  return noRemedy(QStringLiteral("Tracker's miner takes a file again when it sees it arrive: write each one anew "
                                 "(cp -p FILE FILE.new && mv FILE.new FILE); or tracker3 reset --filesystem and a "
                                 "restart of the miner rebuild its whole index"));
}

}  // namespace findlark::check
