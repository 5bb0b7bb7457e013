#include "app/check/baloo_backend.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
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

struct BalooConfig {
  bool read = false;
  bool enabled = false;
  bool indexed = false;      // files of the folder asked about would be indexed
  bool fileIndexed = true;   // the file asked about would be indexed
  bool hidden = false;       // hidden files and folders are indexed
  bool basic = false;        // only basic indexing: names and properties, no content
  QStringList include, exclude, filters, mimetypes;
};

QStringList balooctl(const QStringList& args) { return QStringList{QStringLiteral("balooctl")} + args; }

BalooConfig readConfig(const QString& helper, const QString& folder) {
  BalooConfig c;
  const auto r = runToolStatus(helper, {QStringLiteral("config"), withoutTrailingSlash(folder)}, kToolTimeoutMs);
  if (!r || r->exitStatus != 0) return c;
  c.read = true;
  for (const QString& line : r->output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QString key = line.section(QLatin1Char('\t'), 0, 0), value = line.section(QLatin1Char('\t'), 1);
    if (key == QLatin1String("enabled")) c.enabled = value == QLatin1String("true");
    if (key == QLatin1String("indexed")) c.indexed = value == QLatin1String("true");
    if (key == QLatin1String("include")) c.include.append(withoutTrailingSlash(value));
    if (key == QLatin1String("exclude")) c.exclude.append(withoutTrailingSlash(value));
    if (key == QLatin1String("filter")) c.filters.append(value);
    if (key == QLatin1String("mimetype")) c.mimetypes.append(value);
    if (key == QLatin1String("hidden")) c.hidden = value == QLatin1String("true");
    if (key == QLatin1String("basic")) c.basic = value == QLatin1String("true");
    if (key == QLatin1String("fileIndexed")) c.fileIndexed = value == QLatin1String("true");
  }
  return c;
}

bool isUnder(const QString& path, const QString& root) {
  return path == root || root == QLatin1String("/") || path.startsWith(root + QLatin1Char('/'));
}

}  // namespace

QStringList balooTerms(const QString& output) {
  for (const QString& line : output.split(QLatin1Char('\n')))
    if (line.startsWith(QLatin1String("Terms: "))) return line.mid(7).split(QLatin1Char(' '), Qt::SkipEmptyParts);
  return {};
}

BalooBackend::BalooBackend()
    : helper_(toolPath(QStringLiteral("findlark-baloo-query"))),
      baloosearch_(QStandardPaths::findExecutable(QStringLiteral("baloosearch"))),
      balooshow_(QStandardPaths::findExecutable(QStringLiteral("balooshow"))),
      balooctl_(QStandardPaths::findExecutable(QStringLiteral("balooctl"))),
      gdbus_(QStandardPaths::findExecutable(QStringLiteral("gdbus"))) {}

QString BalooBackend::name() const { return QStringLiteral("baloo"); }

QList<Route> BalooBackend::routes() const {
  return {{QStringLiteral("query"), QStringLiteral("query"), Expects::Query, QStringLiteral("Baloo::Query")},
          {QStringLiteral("baloosearch"), QStringLiteral("baloosearch"), Expects::Command,
           QStringLiteral("baloosearch")}};
}

bool BalooBackend::installed() const {
  return !baloosearch_.isEmpty() && !balooctl_.isEmpty() && QFileInfo(helper_).isExecutable();
}

Availability BalooBackend::availability() {
  if (baloosearch_.isEmpty() || balooctl_.isEmpty())
    return {false, Reason::NotInstalled, QStringLiteral("baloosearch and balooctl are not installed (Debian: baloo-kf5)"),
            noRemedy(QStringLiteral("install the Debian packages baloo-kf5 and libkf5filemetadata-bin"))};
  if (!QFileInfo(helper_).isExecutable())
    return {false, Reason::NotInstalled,
            QStringLiteral("this build has no Baloo helper (built where baloo-kf5-dev and qtbase5-dev are installed)"), {}};
  const BalooConfig c = readConfig(helper_, homeFolder());
  if (c.read && !c.enabled)
    return {false, Reason::IndexingOff, QStringLiteral("file indexing is disabled (Indexing-Enabled=false in baloofilerc)"),
            commandRemedy(balooctl({QStringLiteral("enable")}), true)};
  if (!gdbus_.isEmpty()) {
    const auto owned = runToolStatus(gdbus_, {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                                              QStringLiteral("org.freedesktop.DBus"), QStringLiteral("--object-path"),
                                              QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("--method"),
                                              QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                                              QStringLiteral("org.kde.baloo")},
                                     kToolTimeoutMs);
    if (!owned || owned->exitStatus != 0 || !owned->output.contains(QLatin1String("true")))
      return {false, Reason::ServiceNotRunning,
              QStringLiteral("baloo_file is not running (org.kde.baloo is not on the session bus)"),
              commandRemedy({QStringLiteral("baloo_file")}, false)};
  }
  const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME", homeFolder() + QStringLiteral("/.local/share"));
  const QString index = dataHome + QStringLiteral("/baloo/index");
  if (!QFileInfo(index).isFile())
    return {false, Reason::IndexMissing, QStringLiteral("no index at ") + index,
            commandRemedy(balooctl({QStringLiteral("check")}), true)};
  return {true, Reason::None, {}, {}};
}

Coverage BalooBackend::coverage(const QString& folder) {
  Coverage c;
  const BalooConfig config = readConfig(helper_, folder);
  c.roots = config.include;
  if (!config.read) {
    c.reason = Reason::FolderNotCovered;
    c.detail = QStringLiteral("Baloo's configuration could not be read");
    return c;
  }
  if (config.indexed) {
    c.covered = true;
    return c;
  }
  const QString path = withoutTrailingSlash(QDir::cleanPath(folder));
  for (const QString& e : config.exclude)
    if (isUnder(path, e)) {
      c.reason = Reason::FolderExcluded;
      c.detail = QStringLiteral("inside Baloo's excluded folder ") + e;
      c.remedy = commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeFolders"), e}), true);
      return c;
    }
  bool under = false;
  for (const QString& i : config.include) under = under || isUnder(path, i);
  if (!under) {
    c.reason = Reason::FolderNotCovered;
    c.detail = QStringLiteral("outside Baloo's folders ") + config.include.join(QStringLiteral(", "));
    c.remedy = commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("add"), QStringLiteral("includeFolders"), path}), true);
    return c;
  }
  // Under an included folder, yet left out: a hidden folder on the way, or
  // an exclude filter matching one of the folders' names.
  QString root;
  for (const QString& i : config.include)
    if (isUnder(path, i) && i.size() > root.size()) root = i;
  for (QString p = path; p.size() > root.size(); p = QFileInfo(p).path()) {
    const QString name = QFileInfo(p).fileName();
    if (name.startsWith(QLatin1Char('.')) && !config.hidden) {
      c.reason = Reason::Hidden;
      c.detail = QStringLiteral("Baloo skips the hidden folder ") + p + QStringLiteral(" (hidden = no)");
      c.remedy = commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("hidden"), QStringLiteral("yes")}), true);
      return c;
    }
    for (const QString& f : config.filters)
      if (QDir::match(f, name)) {
        c.reason = Reason::FolderExcluded;
        c.detail = QStringLiteral("Baloo's exclude filter ") + f + QStringLiteral(" matches the folder ") + p;
        c.remedy = commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeFilters"), f}), true);
        return c;
      }
  }
  c.reason = Reason::FolderExcluded;
  c.detail = QStringLiteral("Baloo leaves this folder out");
  return c;
}

SearchResult BalooBackend::search(int route, const QString& term, const QString& folder) {
  SearchResult out;
  const QString dir = withoutTrailingSlash(folder);
  const auto r = route == 0 ? runToolStatus(helper_, {QStringLiteral("search"), dir, term}, kToolTimeoutMs)
                            : runToolStatus(baloosearch_, {QStringLiteral("-d"), dir, term}, kToolTimeoutMs);
  if (!r || r->exitStatus != 0) {
    out.error = route == 0 ? QStringLiteral("findlark-baloo-query failed") : QStringLiteral("baloosearch failed");
    return out;
  }
  out.ok = true;
  const QString prefix = dir + QLatin1Char('/');
  for (const QString& line : r->output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
    if (line.startsWith(prefix)) out.hits.append({line, QString()});  // "Elapsed: ..." is not a path
  return out;
}

Stored BalooBackend::stored(const QString& path, const QString& term) {
  Stored st;
  // Whether Baloo has the file and is done with it.
  const auto status = runToolStatus(balooctl_, {QStringLiteral("status"), QStringLiteral("-f"), QStringLiteral("json"), path},
                                    kToolTimeoutMs);
  QString state;
  if (status) {
    const QJsonArray a = QJsonDocument::fromJson(status->output.toUtf8()).array();
    for (const QJsonValue& v : a)
      if (v[QStringLiteral("file")].toString() == path) state = v[QStringLiteral("status")].toString();
  }
  const auto props = runToolStatus(helper_, {QStringLiteral("stored"), path}, kToolTimeoutMs);
  if (props && props->exitStatus == 0) st.attributes = props->output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  const bool inIndex = !st.attributes.isEmpty() || state == QLatin1String("done") ||
                       state == QLatin1String("scheduled") || state == QLatin1String("failed");
  if (!inIndex) {
    const Coverage c = coverage(QFileInfo(path).path());
    st.reason = c.covered ? Reason::NotIndexed : c.reason;
    st.detail = c.covered ? QStringLiteral("Baloo has not indexed it") + (state.isEmpty() ? QString() : QStringLiteral(" (") + state + QLatin1Char(')'))
                          : c.detail;
    return st;
  }
  st.inIndex = true;
  if (state == QLatin1String("failed")) {
    st.reason = Reason::ImportFailed;
    st.detail = QStringLiteral("Baloo's extractor failed on it");
    return st;
  }
  st.settled = state == QLatin1String("done");
  for (const QString& line : st.attributes)
    if (line.section(QStringLiteral(" = "), 1).contains(term, Qt::CaseInsensitive)) {
      st.termAttribute = line.section(QStringLiteral(" = "), 0, 0);
      return st;
    }
  // Text terms are the lower-case ones; Baloo prefixes property and type
  // terms with capitals ("Mapplication", "X15-body").
  bool text = false;
  if (!balooshow_.isEmpty()) {
    const auto shown = runToolStatus(balooshow_, {QStringLiteral("-x"), path}, kToolTimeoutMs);
    const QStringList terms = shown ? balooTerms(shown->output) : QStringList();
    if (terms.contains(term.toLower())) {
      st.termAttribute = QStringLiteral("text");
      return st;
    }
    for (const QString& t : terms) text = text || !t.at(0).isUpper();
  }
  if (!st.settled) {
    // Known by name, its content still waiting for Baloo's content pass.
    st.inIndex = false;
    st.reason = Reason::StillQueued;
    st.detail = QStringLiteral("Baloo has not indexed its content yet (balooctl status: ") +
                (state.isEmpty() ? QStringLiteral("unknown") : state) + QLatin1Char(')');
    return st;
  }
  QStringList names;
  for (const QString& line : st.attributes) names.append(line.section(QStringLiteral(" = "), 0, 0));
  if (!text && names.isEmpty()) {
    st.reason = Reason::NoExtractor;
    st.detail = QStringLiteral("Baloo stored no text and no properties for ") + QMimeDatabase().mimeTypeForFile(path).name();
    st.remedy = noRemedy(QStringLiteral("Baloo has no extractor for ") + QMimeDatabase().mimeTypeForFile(path).name() +
                         QStringLiteral("; no setting changes that"));
    return st;
  }
  st.detail = (text ? QStringLiteral("its text and ") : QStringLiteral("no text; ")) +
              (names.isEmpty() ? QStringLiteral("no properties") : names.join(QStringLiteral(", "))) +
              QStringLiteral(" do not hold the term");
  return st;
}

}  // namespace findlark::check

namespace findlark::check {

Finding BalooBackend::fileFacts(const QString& path, const QString& term) {
  (void)term;
  const BalooConfig config = readConfig(helper_, path);
  if (!config.read) return {};
  const QFileInfo info(path);
  const QString name = info.fileName();
  if (name.startsWith(QLatin1Char('.')) && !config.hidden)
    return {Reason::Hidden, QStringLiteral("Baloo skips hidden files (hidden = no)"),
            commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("hidden"), QStringLiteral("yes")}), true)};
  for (const QString& f : config.filters)
    if (QDir::match(f, name))
      return {Reason::NameFilter, QStringLiteral("Baloo's exclude filter ") + f + QStringLiteral(" matches ") + name,
              commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeFilters"), f}), true)};
  const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
  for (const QString& m : config.mimetypes)
    if (m == mime)
      return {Reason::TypeExcluded, QStringLiteral("Baloo's excluded MIME types hold ") + mime,
              commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeMimetypes"), m}), true)};
  if (config.basic)
    return {Reason::BasicIndexing, QStringLiteral("only basic indexing = true in baloofilerc: names and properties only"),
            commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("contentIndexing"), QStringLiteral("yes")}), true)};
  // Baloo's content indexer passes over plain text files larger than 10 MiB.
  if (mime.startsWith(QLatin1String("text/")) && info.size() > 10 * 1024 * 1024)
    return {Reason::SizeLimit, QStringLiteral("%1 bytes of text; Baloo reads no text file over 10 MiB").arg(info.size()),
            noRemedy(QStringLiteral("Baloo reads no plain text file over 10 MiB; no setting changes that"))};
  return {};
}

Remedy BalooBackend::routeRemedy(int route, const QString& term, const QString& attribute, const QString& path) {
  // baloosearch searches text and names; a property needs its name.
  if (route != 1 || attribute.isEmpty() || attribute == QLatin1String("text")) return {};
  return queryRemedy({QStringLiteral("baloosearch"), QStringLiteral("-d"), QFileInfo(path).path(),
                      attribute + QLatin1Char(':') + term});
}

}  // namespace findlark::check

namespace findlark::check {

namespace {

// Listing a hundred thousand items takes seconds; this only keeps a stuck
// index from hanging the audit.
constexpr int kListTimeoutMs = 300'000;

}  // namespace

Listing BalooBackend::listFolder(const QString& folder) {
  Listing out;
  audit_ = {};
  const auto r = runToolStatus(helper_, {QStringLiteral("list"), withoutTrailingSlash(folder)}, kListTimeoutMs);
  if (!r || r->exitStatus != 0) {
    out.error = QStringLiteral("findlark-baloo-query list failed");
    return out;
  }
  out.ok = true;
  out.paths = r->output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  return out;
}

Finding BalooBackend::absenceFacts(const QString& path, const QString& auditFolder) {
  if (!audit_.read) {
    audit_.read = true;
    const BalooConfig c = readConfig(helper_, auditFolder);
    audit_.hidden = c.hidden;
    audit_.filters = c.filters;
    audit_.mimetypes = c.mimetypes;
    const auto status = runToolStatus(balooctl_, {QStringLiteral("status")}, kToolTimeoutMs);
    if (status)
      for (const QString& line : status->output.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Indexer state: "))) audit_.state = line.mid(15).trimmed();
  }
  const QString name = QFileInfo(path).fileName();
  if (name.startsWith(QLatin1Char('.')) && !audit_.hidden)
    return {Reason::Hidden, QStringLiteral("Baloo skips hidden files (hidden = no)"),
            commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("hidden"), QStringLiteral("yes")}), true)};
  for (const QString& f : audit_.filters)
    if (QDir::match(f, name))
      return {Reason::NameFilter, QStringLiteral("Baloo's exclude filter ") + f + QStringLiteral(" matches them"),
              commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeFilters"), f}), true)};
  if (!audit_.mimetypes.isEmpty()) {
    const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
    if (audit_.mimetypes.contains(mime))
      return {Reason::TypeExcluded, QStringLiteral("Baloo's excluded MIME types hold ") + mime,
              commandRemedy(balooctl({QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeMimetypes"), mime}), true)};
  }
  if (audit_.state.startsWith(QLatin1String("Suspended")))
    return {Reason::Paused, QStringLiteral("Baloo's indexer is suspended"), commandRemedy(balooctl({QStringLiteral("resume")}), true)};
  if (!audit_.state.isEmpty() && !audit_.state.startsWith(QLatin1String("Idle")))
    return {Reason::StillQueued, QStringLiteral("Baloo's indexer state: ") + audit_.state,
            noRemedy(QStringLiteral("wait for Baloo to finish (balooctl status shows its progress)"))};
  return {};
}

Remedy BalooBackend::absentRemedy(const QString& auditFolder) {
  (void)auditFolder;
  // Baloo looks for files it has not indexed and indexes them.
  return commandRemedy(balooctl({QStringLiteral("check")}), true);
}

}  // namespace findlark::check
