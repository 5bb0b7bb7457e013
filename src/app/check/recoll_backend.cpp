#include "app/check/recoll_backend.h"

#include <QDateTime>
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

}  // namespace

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
    return {false, Reason::NotInstalled, QStringLiteral("recollq and recollindex are not installed (Debian: recollcmd)")};
  if (!QFileInfo(config_.confdir).isDir())
    return {false, Reason::IndexMissing,
            QStringLiteral("no Recoll configuration at ") + config_.confdir +
                QStringLiteral(" (recollindex makes it with its index)")};
  const bool running = recollindexRunning(config_.confdir);
  if (!QFileInfo(config_.dbdir).isDir())
    return {false, Reason::IndexMissing,
            QStringLiteral("no index at ") + config_.dbdir +
                (running ? QStringLiteral(" yet (recollindex is making it)") : QStringLiteral(" (recollindex makes it)"))};
  if (!running)
    return {false, Reason::ServiceNotRunning,
            QStringLiteral("no recollindex runs for ") + config_.confdir +
                QStringLiteral(", so new files are not indexed (its monitor: recollindex -m)")};
  return {true, Reason::None, {}};
}

Coverage RecollBackend::coverage(const QString& folder) {
  Coverage c;
  c.roots = config_.topdirs;
  bool notCovered = false;
  c.detail = recollSkips(config_, folder, &notCovered);
  c.covered = c.detail.isEmpty();
  if (!c.covered) c.reason = notCovered ? Reason::FolderNotCovered : Reason::FolderExcluded;
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
    // there yet is waiting for recollindex.
    if (recollindexRunning(config_.confdir)) {
      st.reason = Reason::StillQueued;
      st.detail = QStringLiteral("recollindex has not indexed it yet (its monitor works through its queue every "
                                 "monixinterval seconds, 30 by default)");
    } else {
      st.reason = Reason::NotIndexed;
      st.detail = QStringLiteral("recollindex stopped during the check");
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
    if (conf.open(QIODevice::Append)) {
      conf.write("\ndbdir = " + QFile::encodeName(scratch.filePath(QStringLiteral("db"))) + "\nnoaspell = 1\n");
      conf.close();
      const QString diags = scratch.filePath(QStringLiteral("diags"));
      const auto ran = runToolStatus(recollindex_, {QStringLiteral("-c"), scratch.path(), QStringLiteral("--diagsfile"),
                                                    diags, QStringLiteral("-i"), path},
                                     kTrialTimeoutMs);
      QFile d(diags);
      if (ran && d.open(QIODevice::ReadOnly)) {
        // Lines "<Reason> <path> | <ipath>": Recoll's own words for a skip.
        for (const QString& line : QString::fromUtf8(d.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
          const QString why = line.section(QLatin1Char(' '), 0, 0);
          if (!line.mid(why.size() + 1).startsWith(path)) continue;
          diagnosis = why == QLatin1String("NoHandler")
                          ? QStringLiteral("Recoll has no filter for this type (NoHandler)")
                          : QStringLiteral("recollindex skips it: ") + why;
          break;
        }
      }
    }
  }
  trials_.insert(key, diagnosis);
  return diagnosis;
}

}  // namespace findlark::check
