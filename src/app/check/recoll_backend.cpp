#include "app/check/recoll_backend.h"

#include <fnmatch.h>
#include <sys/xattr.h>

#include <QDateTime>
#include <QMimeDatabase>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "app/check/query_term.h"
#include "app/engine/app_paths.h"
#include "app/engine/tool_runner.h"

namespace findlark::check {

namespace {

// A search or a listing that runs longer than this has failed this round.
constexpr int kToolTimeoutMs = 10'000;
// A trial indexing of one file (its filter may be slow: a PDF, a picture).
constexpr int kTrialTimeoutMs = 30'000;

// The module route: a Recoll query run through python3-recoll, printing the
// paths under the folder one a line. Errors are printed on stdout after
// "error: " (the runner drops stderr); exit 3 when the module is missing.
constexpr const char* kModuleScript = R"PY(
import sys
try:
    from recoll import recoll
except ImportError:
    print("error: python3-recoll is not installed")
    sys.exit(3)
try:
    confdir, folder, term = sys.argv[1:4]
    query = recoll.connect(confdir=confdir).query()
    query.execute(term)
    prefix = folder.rstrip("/") + "/"
    seen = set()
    while True:
        docs = query.fetchmany(200)
        if not docs:
            break
        for doc in docs:
            url = doc.url
            if isinstance(url, bytes):
                url = url.decode("utf-8", "surrogateescape")
            if url.startswith("file://") and url[7:].startswith(prefix) and url[7:] not in seen:
                seen.add(url[7:])
                print(url[7:])
except Exception as e:
    print("error: %s" % str(e).replace("\n", " "))
    sys.exit(1)
)PY";

QString dirClause(const QString& folder) {
  QString f = folder;
  f.remove(QLatin1Char('"'));
  return QStringLiteral(" dir:\"") + f + QLatin1Char('"');
}

// The first line after "error: ", or a fallback.
QString errorLine(const QString& output, const QString& fallback) {
  for (const QString& line : output.split(QLatin1Char('\n')))
    if (line.startsWith(QLatin1String("error: "))) return line.mid(7);
  return fallback;
}

QByteArrayList nulSeparated(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QByteArrayList out = f.readAll().split('\0');
  if (!out.isEmpty() && out.last().isEmpty()) out.removeLast();
  return out;
}

// The configuration folder a running recollindex works for: its -c
// argument, else its RECOLL_CONFDIR, else its ~/.recoll.
QString confdirOf(const QString& proc, const QByteArrayList& argv) {
  for (int i = 1; i + 1 < argv.size(); ++i)
    if (argv[i] == "-c") return QDir::cleanPath(QFile::decodeName(argv[i + 1]));
  QString home;
  for (const QByteArray& e : nulSeparated(proc + QStringLiteral("/environ"))) {
    if (e.startsWith("RECOLL_CONFDIR=")) return QDir::cleanPath(QFile::decodeName(e.mid(15)));
    if (e.startsWith("HOME=")) home = QFile::decodeName(e.mid(5));
  }
  return home.isEmpty() ? QString() : QDir::cleanPath(home + QStringLiteral("/.recoll"));
}

// Whether a recollindex (its monitor or a batch run) works for `confdir`.
// Its pid file is not enough: the monitor restarts itself after its first
// pass and the new process does not rewrite it.
bool recollindexRunning(const QString& confdir) {
  const QString wanted = QDir::cleanPath(confdir);
  const QDir proc(QStringLiteral("/proc"));
  for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool numeric = false;
    entry.toLongLong(&numeric);
    if (!numeric) continue;
    const QString dir = proc.filePath(entry);
    const QByteArrayList argv = nulSeparated(dir + QStringLiteral("/cmdline"));
    if (argv.isEmpty() || QFileInfo(QFile::decodeName(argv[0])).fileName() != QLatin1String("recollindex")) continue;
    if (confdirOf(dir, argv) == wanted) return true;
  }
  return false;
}

// The "name = value" lines recollq -m prints for the document at `path`.
QStringList fieldsOf(const QString& output, const QString& path) {
  QStringList out;
  bool inDoc = false;
  const QString url = QStringLiteral("[file://") + path + QLatin1Char(']');
  for (const QString& line : output.split(QLatin1Char('\n'))) {
    if (line.contains(QLatin1Char('\t'))) {  // a result's heading: mtype\t[url]\t[title]...
      inDoc = line.section(QLatin1Char('\t'), 1, 1) == url;
      continue;
    }
    if (inDoc && line.contains(QStringLiteral(" = "))) out.append(line);
  }
  out.sort();
  return out;
}

// A file's extended attributes: name -> value.
QList<std::pair<QByteArray, QByteArray>> extendedAttributes(const QString& path) {
  QList<std::pair<QByteArray, QByteArray>> out;
  const QByteArray p = QFile::encodeName(path);
  const ssize_t size = ::listxattr(p.constData(), nullptr, 0);
  if (size <= 0) return out;
  QByteArray names(size, '\0');
  const ssize_t got = ::listxattr(p.constData(), names.data(), size_t(names.size()));
  if (got <= 0) return out;
  for (const QByteArray& name : names.left(got).split('\0')) {
    if (name.isEmpty()) continue;
    const ssize_t len = ::getxattr(p.constData(), name.constData(), nullptr, 0);
    if (len < 0 || len > 65536) continue;
    QByteArray value(len, '\0');
    if (::getxattr(p.constData(), name.constData(), value.data(), size_t(value.size())) == len) out.append({name, value});
  }
  return out;
}

}  // namespace

QStringList missingHelpers(const QString& missingFile) {
  QFile f(missingFile);
  QStringList out;
  if (!f.open(QIODevice::ReadOnly)) return out;
  // Lines "pdftotext (application/pdf)": the program, then the types it serves.
  for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QString program = line.section(QLatin1Char(' '), 0, 0).trimmed();
    if (!program.isEmpty() && !out.contains(program)) out.append(program);
  }
  return out;
}

QString recollPython() {
  // Debian installs python3-recoll for its own interpreter only; a python3
  // earlier on PATH (a virtual environment, pyenv) does not see it.
  const QString system = QStringLiteral("/usr/bin/python3");
  if (QFileInfo(system).isExecutable()) return system;
  return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

QStringList pathsUnder(const QString& output, const QString& folder) {
  const QString prefix = (folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
  QStringList out;
  QSet<QString> seen;
  for (QString line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    if (line.startsWith(QLatin1String("file://"))) line = line.mid(7);
    if (!line.startsWith(prefix) || seen.contains(line)) continue;
    seen.insert(line);
    out.append(line);
  }
  return out;
}

RecollBackend::RecollBackend()
    : config_(readRecollConfig(recollConfdir(homeFolder()), homeFolder())),
      recollq_(QStandardPaths::findExecutable(QStringLiteral("recollq"))),
      recollindex_(QStandardPaths::findExecutable(QStringLiteral("recollindex"))) {}

QString RecollBackend::name() const { return QStringLiteral("recoll"); }

QList<Route> RecollBackend::routes() const {
  return {{QStringLiteral("module"), QStringLiteral("module"), Expects::Query, QStringLiteral("the Python module")},
          {QStringLiteral("recollq"), QStringLiteral("recollq"), Expects::Command, QStringLiteral("recollq")}};
}

bool RecollBackend::installed() const { return !recollq_.isEmpty() && !recollindex_.isEmpty(); }

Availability RecollBackend::availability() {
  if (recollq_.isEmpty() || recollindex_.isEmpty())
    return {false, Reason::NotInstalled, QStringLiteral("recollq and recollindex are not installed (Debian: recollcmd)"),
            noRemedy(QStringLiteral("install the Debian packages recollcmd and python3-recoll"))};
  if (!QFileInfo(config_.confdir).isDir())
    return {false, Reason::IndexMissing,
            QStringLiteral("no Recoll configuration at ") + config_.confdir +
                QStringLiteral(" (recollindex makes it with its index)"),
            commandRemedy({QStringLiteral("recollindex"), QStringLiteral("-c"), config_.confdir}, true)};
  const bool running = recollindexRunning(config_.confdir);
  if (!QFileInfo(config_.dbdir).isDir())
    return {false, Reason::IndexMissing,
            QStringLiteral("no index at ") + config_.dbdir +
                (running ? QStringLiteral(" yet (recollindex is making it)") : QStringLiteral(" (recollindex makes it)")),
            running ? Remedy{} : commandRemedy({QStringLiteral("recollindex"), QStringLiteral("-c"), config_.confdir}, true)};
  // Without an indexer Recoll still answers from the index it has; files
  // that came after its last pass are "stale" (see stored()).
  return {true, Reason::None, {}, {}};
}

Coverage RecollBackend::coverage(const QString& folder) {
  Coverage c;
  c.roots = config_.topdirs;
  bool notCovered = false;
  c.detail = recollSkips(config_, folder, &notCovered);
  c.covered = c.detail.isEmpty();
  if (!c.covered) c.reason = notCovered ? Reason::FolderNotCovered : Reason::FolderExcluded;
  if (notCovered) {
    QStringList dirs;
    for (const QString& d : config_.topdirs) dirs.append(d.contains(QLatin1Char(' ')) ? QLatin1Char('"') + d + QLatin1Char('"') : d);
    const QString folderWord = folder.contains(QLatin1Char(' ')) ? QLatin1Char('"') + folder + QLatin1Char('"') : folder;
    c.remedy = configRemedy(QStringLiteral("topdirs = ") + (dirs + QStringList{folderWord}).join(QLatin1Char(' ')),
                            config_.confdir + QStringLiteral("/recoll.conf"), true);
  }
  return c;
}

SearchResult RecollBackend::search(int route, const QString& term, const QString& folder) {
  SearchResult out;
  std::optional<ToolResult> r;
  if (route == 0) {
    const QString python = recollPython();
    if (python.isEmpty()) {
      out.error = QStringLiteral("python3 is not installed");
      return out;
    }
    r = runToolStatus(python, {QStringLiteral("-c"), QLatin1String(kModuleScript), config_.confdir, folder, peerQueryTerm(term)},
                      kToolTimeoutMs);
    if (r && r->exitStatus != 0) {
      out.error = errorLine(r->output, QStringLiteral("the Python module route failed"));
      return out;
    }
  } else {
    r = runToolStatus(recollq_, {QStringLiteral("-c"), config_.confdir, QStringLiteral("-b"), peerQueryTerm(term) + dirClause(folder)},
                      kToolTimeoutMs);
    if (r && r->exitStatus != 0) {
      out.error = QStringLiteral("recollq failed (exit status %1)").arg(r->exitStatus);
      return out;
    }
  }
  if (!r) {
    out.error = route == 0 ? QStringLiteral("the Python module route did not run to the end")
                           : QStringLiteral("recollq did not run to the end or printed invalid text");
    return out;
  }
  out.ok = true;
  for (const QString& p : pathsUnder(r->output, folder)) out.hits.append({p, QString()});
  return out;
}

Stored RecollBackend::stored(const QString& path, const QString& term) {
  Stored st;
  const QFileInfo info(path);
  const QString folderClause = dirClause(info.path());
  QString name = info.fileName();
  name.remove(QLatin1Char('"'));
  const QString byName = folderClause + QStringLiteral(" filename:\"") + name + QLatin1Char('"');
  const auto listed = runToolStatus(recollq_, {QStringLiteral("-c"), config_.confdir, QStringLiteral("-m"), byName},
                                    kToolTimeoutMs);
  if (listed && listed->exitStatus == 0) st.attributes = fieldsOf(listed->output, path);
  if (st.attributes.isEmpty()) {
    // Not in the index: is it where Recoll looks, and would it take it?
    bool notCovered = false;
    const QString skip = recollSkips(config_, info.path(), &notCovered);
    if (!skip.isEmpty()) {
      st.reason = notCovered ? Reason::FolderNotCovered : Reason::FolderExcluded;
      st.detail = skip;
      return st;
    }
    // Recoll keeps even a file it cannot read, by name; one that is not
    // there yet is waiting for recollindex, or for nothing when none runs.
    if (!recollindexRunning(config_.confdir)) {
      st.reason = Reason::Stale;
      st.settled = true;
      const QDateTime last = QFileInfo(config_.dbdir).lastModified();
      st.detail = QStringLiteral("no recollindex runs for ") + config_.confdir + QStringLiteral("; the index was last written ") +
                  last.toString(Qt::ISODate) + QStringLiteral(", the file ") + info.lastModified().toString(Qt::ISODate);
      st.remedy = commandRemedy({QStringLiteral("recollindex"), QStringLiteral("-c"), config_.confdir}, true);
    } else {
      st.reason = Reason::StillQueued;
      st.detail = QStringLiteral("recollindex has not indexed it yet (its monitor works through its queue every "
                                 "monixinterval seconds, 30 by default)");
    }
    return st;
  }

  st.inIndex = true;
  const auto withTerm = runToolStatus(
      recollq_, {QStringLiteral("-c"), config_.confdir, QStringLiteral("-b"), peerQueryTerm(term) + byName}, kToolTimeoutMs);
  if (withTerm && withTerm->exitStatus == 0 && pathsUnder(withTerm->output, info.path()).contains(path)) {
    st.termAttribute = QStringLiteral("text");
    return st;
  }
  // Stored without the term: Recoll is done with this file.
  st.settled = true;
  // The word in an extended attribute that Recoll maps to no field.
  for (const auto& [name, value] : extendedAttributes(path)) {
    if (!value.contains(term.toUtf8()) && !QString::fromUtf8(value).contains(term, Qt::CaseInsensitive)) continue;
    if (!name.startsWith("user.")) continue;
    const QString attr = QString::fromUtf8(name.mid(5));
    if (attr == QLatin1String("xdg.tags") || attr == QLatin1String("tags")) continue;
    st.detail = QStringLiteral("the word is in the extended attribute ") + QString::fromUtf8(name) +
                QStringLiteral(", which no [xattrtofields] line in ") + config_.confdir +
                QStringLiteral("/fields maps to a field");
    st.remedy = configRemedy(QStringLiteral("[xattrtofields]\n") + attr + QStringLiteral(" = keywords"),
                             config_.confdir + QStringLiteral("/fields"), true);
    st.remedy.then = reindex(path);
    return st;
  }
  const QString trial = trialDiagnosis(path);
  // Fields that say something about the content, not where the file is
  // or how Recoll keeps it.
  static const QStringList kBookkeeping{
      QStringLiteral("rcludi"), QStringLiteral("sig"),    QStringLiteral("relevancyrating"), QStringLiteral("url"),
      QStringLiteral("fbytes"), QStringLiteral("dbytes"), QStringLiteral("pcbytes"),         QStringLiteral("fmtime"),
      QStringLiteral("mtime"),  QStringLiteral("dmtime"), QStringLiteral("origcharset"),     QStringLiteral("filename"),
      QStringLiteral("mtype"),  QStringLiteral("abstract")};
  QStringList names;
  bool text = false;
  for (const QString& line : st.attributes) {
    const QString name = line.section(QStringLiteral(" = "), 0, 0);
    if (name == QLatin1String("abstract")) text = !line.section(QStringLiteral(" = "), 1).trimmed().isEmpty();
    if (!kBookkeeping.contains(name) && !line.section(QStringLiteral(" = "), 1).trimmed().isEmpty()) names.append(name);
  }
  st.detail = !trial.isEmpty() ? trial
                               : (text ? QStringLiteral("its text and ") : QStringLiteral("no text; ")) +
                                     (names.isEmpty() ? QStringLiteral("no fields") : names.join(QStringLiteral(", "))) +
                                     QStringLiteral(" do not hold the term");
  return st;
}

QString RecollBackend::trialDiagnosis(const QString& path) {
  const QFileInfo info(path);
  const QString key = path + QLatin1Char('\n') + QString::number(info.size()) + QLatin1Char('\n') +
                      QString::number(info.lastModified().toMSecsSinceEpoch());
  if (const auto it = trials_.constFind(key); it != trials_.constEnd()) return *it;

  // A throwaway configuration: the one in use, with an index of its own.
  QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/findlark-recoll-XXXXXX"));
  QString diagnosis;
  if (scratch.isValid() && !recollindex_.isEmpty()) {
    const QDir from(config_.confdir);
    for (const QString& entry : from.entryList(QDir::Files))
      if (entry != QLatin1String("index.pid") && QFileInfo(from.filePath(entry)).size() < 1'000'000)
        QFile::copy(from.filePath(entry), scratch.filePath(entry));
    QFile conf(scratch.filePath(QStringLiteral("recoll.conf")));
    // The file itself is the one top folder: a full pass over it (unlike
    // -i) makes Recoll write the helpers it missed into the "missing" file.
    QString quoted = path;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    if (conf.open(QIODevice::Append)) {
      conf.write("\ndbdir = " + QFile::encodeName(scratch.filePath(QStringLiteral("db"))) + "\nnoaspell = 1\n" +
                 "topdirs = \"" + QFile::encodeName(quoted) + "\"\n");
      conf.close();
      const QString diags = scratch.filePath(QStringLiteral("diags"));
      // recollindex writes its pid file into $XDG_RUNTIME_DIR and leaves it
      // there: give the trial a runtime folder of its own, removed with it.
      const QString runtime = scratch.filePath(QStringLiteral("run"));
      QDir().mkpath(runtime);
      QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      const auto ran = runToolStatus(recollindex_, {QStringLiteral("-c"), scratch.path(), QStringLiteral("--diagsfile"),
                                                    diags},
                                     kTrialTimeoutMs, {QStringLiteral("XDG_RUNTIME_DIR=") + runtime});
      QFile d(diags);
      if (ran && d.open(QIODevice::ReadOnly)) {
        // Lines "<Reason> <path> | <ipath>": Recoll's own words for a skip.
        for (const QString& line : QString::fromUtf8(d.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
          const QString why = line.section(QLatin1Char(' '), 0, 0);
          if (!line.mid(why.size() + 1).startsWith(path)) continue;
          diagnosis = why == QLatin1String("NoHandler")
                          ? QStringLiteral("Recoll has no filter for this type (NoHandler)")
                          : QStringLiteral("recollindex skips it: ") + why;
          if (why == QLatin1String("MissingHelper")) {
            const QStringList helpers = missingHelpers(scratch.filePath(QStringLiteral("missing")));
            if (!helpers.isEmpty()) diagnosis += QStringLiteral(" (") + helpers.join(QStringLiteral(", ")) + QLatin1Char(')');
          }
          if (why != QLatin1String("Error")) break;  // a skip's own reason outranks the error it causes
        }
      }
    }
  }
  trials_.insert(key, diagnosis);
  return diagnosis;
}


namespace {

// The Debian package of each program Recoll's filters run.
QString packageOf(const QString& helper) {
  static const QHash<QString, QString> kPackages{
      {QStringLiteral("pdftotext"), QStringLiteral("poppler-utils")},
      {QStringLiteral("pdfinfo"), QStringLiteral("poppler-utils")},
      {QStringLiteral("unrtf"), QStringLiteral("unrtf")},
      {QStringLiteral("exiftool"), QStringLiteral("libimage-exiftool-perl")},
      {QStringLiteral("antiword"), QStringLiteral("antiword")},
      {QStringLiteral("xsltproc"), QStringLiteral("xsltproc")},
      {QStringLiteral("catdoc"), QStringLiteral("catdoc")},
      {QStringLiteral("wvWare"), QStringLiteral("wv")},
      {QStringLiteral("djvutxt"), QStringLiteral("djvulibre-bin")},
      {QStringLiteral("untex"), QStringLiteral("untex")},
  };
  if (helper.startsWith(QLatin1String("python3:"))) return QStringLiteral("python3-") + helper.mid(8);
  return kPackages.value(helper, helper);
}

}  // namespace

QStringList RecollBackend::reindex(const QString& path) const {
  // -Z: take the file as changed, so it is read again under the new
  // configuration (plain -i skips a file whose stamp has not moved).
  return {QStringLiteral("recollindex"), QStringLiteral("-c"), config_.confdir, QStringLiteral("-Z"), QStringLiteral("-i"),
          path};
}

Finding RecollBackend::fileFacts(const QString& path, const QString& term) {
  (void)term;
  const QFileInfo info(path);
  for (const QString& pattern : config_.skippedNames)
    if (QDir::match(pattern, info.fileName()) || ::fnmatch(QFile::encodeName(pattern).constData(),
                                                           QFile::encodeName(info.fileName()).constData(), 0) == 0)
      return {Reason::NameFilter, QStringLiteral("Recoll's skippedNames holds ") + pattern,
              configRemedy(QStringLiteral("skippedNames- = ") + pattern, config_.confdir + QStringLiteral("/recoll.conf"),
                           true)};
  const QString trial = trialDiagnosis(path);
  if (trial.isEmpty()) return {};
  const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
  if (trial.contains(QLatin1String("NoHandler"))) {
    // Recoll reads property lists as XML once their suffix is mapped so.
    if (info.suffix().compare(QLatin1String("plist"), Qt::CaseInsensitive) == 0)
    {
      Remedy r = configRemedy(QStringLiteral(".plist = application/xml"), config_.confdir + QStringLiteral("/mimemap"), true);
      r.then = reindex(path);
      return {Reason::NoExtractor, trial, r};
    }
    return {Reason::NoExtractor, trial,
            noRemedy(QStringLiteral("Recoll has no filter for ") + mime + QStringLiteral("; no setting changes that"))};
  }
  if (trial.contains(QLatin1String("MissingHelper"))) {
    const QStringList helpers = trial.section(QLatin1Char('('), 1).chopped(trial.endsWith(QLatin1Char(')')) ? 1 : 0)
                                    .split(QStringLiteral(", "), Qt::SkipEmptyParts);
    QStringList packages;
    for (const QString& h : helpers)
      if (!packages.contains(packageOf(h))) packages.append(packageOf(h));
    if (packages.isEmpty()) return {Reason::MissingHelper, trial, {}};
    // A package install is never applied; then recollindex -k retries the
    // files that failed for want of it (they are not retried otherwise).
    Remedy r = commandRemedy(QStringList{QStringLiteral("apt"), QStringLiteral("install")} + packages, false);
    r.text += QStringLiteral("; then: ") +
              shellQuoted({QStringLiteral("recollindex"), QStringLiteral("-c"), config_.confdir, QStringLiteral("-k")});
    return {Reason::MissingHelper, trial, r};
  }
  if (trial.contains(QLatin1String("NoContentSuffix"))) {
    Remedy r = configRemedy(QStringLiteral("noContentSuffixes- = .") + info.suffix(),
                            config_.confdir + QStringLiteral("/recoll.conf"), true);
    r.then = reindex(path);
    return {Reason::NameOnly, trial, r};
  }
  if (trial.contains(QLatin1String("ExcludedMime")) || trial.contains(QLatin1String("NotIncludedMime")))
    return {Reason::TypeExcluded, trial,
            noRemedy(QStringLiteral("remove ") + mime + QStringLiteral(" from excludedmimetypes (or add it to indexedmimetypes) in ") +
                     config_.confdir + QStringLiteral("/recoll.conf"))};
  if (trial.contains(QLatin1String("Error")))
    return {Reason::ImportFailed, trial, noRemedy(QStringLiteral("Recoll's filter failed on this file"))};
  return {};
}

namespace {

// Trial runs of recollindex per MIME type in one audit: each takes a second
// or more, and files of one type mostly fare alike.
constexpr int kTrialsPerType = 2;

}  // namespace

Listing RecollBackend::listFolder(const QString& folder) {
  Listing out;
  audit_ = {};
  if (recollq_.isEmpty()) {
    out.error = QStringLiteral("recollq is not installed");
    return out;
  }
  out.ok = listInto(QDir::cleanPath(folder), out.paths, &out.error);
  return out;
}

bool RecollBackend::listInto(const QString& folder, QStringList& paths, QString* error) {
  // recollq fetches its results in small batches and Xapian matches the
  // query again for each one, so one listing costs the square of its length
  // (measured: 53 s for 100,000 documents, 12 ms for 334). A folder with
  // more than kSlice documents is listed subfolder by subfolder instead, and
  // its own files by a query that leaves the subfolders out.
  constexpr int kSlice = 2000;
  const auto query = [&](const QString& q, const QString& limit) -> std::optional<QString> {
    const auto r = runToolStatus(recollq_, {QStringLiteral("-c"), config_.confdir, QStringLiteral("-b"), QStringLiteral("-n"),
                                            limit, q},
                                 kListTimeoutMs);
    if (!r) {
      *error = QStringLiteral("recollq did not run to the end or printed invalid text");
      return std::nullopt;
    }
    if (r->exitStatus != 0) {
      *error = QStringLiteral("recollq failed (exit status %1)").arg(r->exitStatus);
      return std::nullopt;
    }
    return r->output;
  };
  const QString self = dirClause(folder).trimmed();
  const auto first = query(self, QString::number(kSlice + 1));
  if (!first) return false;
  if (first->count(QStringLiteral("file://")) <= kSlice) {
    paths += pathsUnder(*first, folder);
    return true;
  }
  QString own = self;
  const QDir dir(folder);
  for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks)) {
    const QString path = dir.filePath(sub);
    if (!listInto(path, paths, error)) return false;
    own += QStringLiteral(" -") + dirClause(path).trimmed();
  }
  // -n 0: no limit (2,000 by default).
  const auto rest = query(own, QStringLiteral("0"));
  if (!rest) return false;
  paths += pathsUnder(*rest, folder);
  return true;
}

Finding RecollBackend::absenceFacts(const QString& path, const QString& auditFolder) {
  (void)auditFolder;
  if (!audit_.read) {
    audit_.read = true;
    audit_.indexerRunning = recollindexRunning(config_.confdir);
    // Xapian rewrites files inside the index folder without touching the
    // folder itself: the newest of them dates the last write.
    const QDir db(config_.dbdir);
    audit_.lastWrite = QFileInfo(config_.dbdir).lastModified();
    for (const QFileInfo& f : db.entryInfoList(QDir::Files))
      if (f.lastModified() > audit_.lastWrite) audit_.lastWrite = f.lastModified();
  }
  const QFileInfo info(path);
  for (const QString& pattern : config_.skippedNames)
    if (::fnmatch(QFile::encodeName(pattern).constData(), QFile::encodeName(info.fileName()).constData(), 0) == 0)
      return {Reason::NameFilter, QStringLiteral("Recoll's skippedNames holds ") + pattern,
              configRemedy(QStringLiteral("skippedNames- = ") + pattern, config_.confdir + QStringLiteral("/recoll.conf"),
                           true)};
  // Changed after the index was last written: waiting for the indexer, or
  // for a pass that nothing runs.
  const QDateTime changed = std::max(info.lastModified(), info.metadataChangeTime());
  if (audit_.lastWrite.isValid() && changed > audit_.lastWrite) {
    if (audit_.indexerRunning)
      return {Reason::StillQueued,
              QStringLiteral("changed after the index was last written; recollindex works through its queue every "
                             "monixinterval seconds (30 by default)"),
              noRemedy(QStringLiteral("wait for Recoll's indexer"))};
    return {Reason::Stale,
            QStringLiteral("no recollindex runs for ") + config_.confdir + QStringLiteral("; the index was last written ") +
                audit_.lastWrite.toString(Qt::ISODate) + QStringLiteral(", before these files changed"),
            commandRemedy({QStringLiteral("recollindex"), QStringLiteral("-c"), config_.confdir}, true)};
  }
  // What recollindex itself says of the file, for a few files per type.
  const QString mime = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
  int& tried = audit_.trials[mime];
  if (tried < kTrialsPerType) {
    ++tried;
    const Finding f = fileFacts(path, QString());
    // A remedy that re-reads one file does not fit a group: the whole pass does.
    if (f.broken()) return {f.reason, f.detail, f.remedy.then.isEmpty() ? f.remedy : Remedy{}};
  }
  return {};
}

Remedy RecollBackend::absentRemedy(const QString& auditFolder) {
  (void)auditFolder;
  if (audit_.indexerRunning)
    return noRemedy(QStringLiteral("restart Recoll's indexer (recollindex -m): its first pass adds the files its index lacks"));
  // An incremental pass adds every file the index lacks.
  return commandRemedy({QStringLiteral("recollindex"), QStringLiteral("-c"), config_.confdir}, true);
}

}  // namespace findlark::check
