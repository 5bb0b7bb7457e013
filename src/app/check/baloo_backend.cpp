#include "app/check/baloo_backend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStandardPaths>

#include "app/check/query_term.h"
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

QStringList balooctl(const BalooPrograms& programs, const QStringList& args) {
  return QStringList{programs.ctlCommand} + args;
}

BalooConfig readConfigWithHelper(const QString& helper, const QString& folder) {
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

// The same facts from KF6's command-line tools: the values as Baloo reads
// them (defaults included) from `balooctl6 config list`, whether it would
// index the path from `balooctl6 status`, and the on/off switch from
// baloofilerc, which neither tool prints.
BalooConfig readConfigWithTools(const BalooPrograms& programs, const QString& path) {
  BalooConfig c;
  bool ok = true;
  const auto list = [&](const char* key) {
    const auto r = runToolStatus(programs.balooctl, {QStringLiteral("config"), QStringLiteral("list"), QLatin1String(key)},
                                 kToolTimeoutMs);
    ok = ok && r && r->exitStatus == 0;
    return r ? balooConfigList(r->output) : QStringList();
  };
  for (const QString& d : list("includeFolders")) c.include.append(withoutTrailingSlash(d));
  for (const QString& d : list("excludeFolders")) c.exclude.append(withoutTrailingSlash(d));
  c.filters = list("excludeFilters");
  c.mimetypes = list("excludeMimetypes");
  c.hidden = list("hidden").value(0) == QLatin1String("yes");
  c.basic = list("contentIndexing").value(0) == QLatin1String("no");
  if (!ok) return {};
  c.read = true;
  const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME", homeFolder() + QStringLiteral("/.config"));
  QFile rc(configHome + QStringLiteral("/baloofilerc"));
  c.enabled = balooIndexingEnabled(rc.open(QIODevice::ReadOnly) ? QString::fromUtf8(rc.readAll()) : QString());
  // "disabled" is Baloo's word for a path it would not index.
  const QString target = withoutTrailingSlash(path);
  const bool file = QFileInfo(target).isFile();
  const QString dir = file ? QFileInfo(target).path() : target;
  QStringList args{QStringLiteral("status"), QStringLiteral("-f"), QStringLiteral("json"), dir};
  if (file) args.append(target);
  const auto r = runToolStatus(programs.balooctl, args, kToolTimeoutMs);
  const QString out = r && r->exitStatus == 0 ? r->output : QString();
  const QString dirStatus = balooFileStatus(out, dir);
  c.indexed = !dirStatus.isEmpty() && dirStatus != QLatin1String("disabled");
  if (file) c.fileIndexed = balooFileStatus(out, target) != QLatin1String("disabled");
  return c;
}

BalooConfig readConfig(const BalooPrograms& programs, const QString& helper, const QString& path) {
  return programs.line == BalooPrograms::Line::KF6 ? readConfigWithTools(programs, path)
                                                   : readConfigWithHelper(helper, path);
}

bool isUnder(const QString& path, const QString& root) {
  return path == root || root == QLatin1String("/") || path.startsWith(root + QLatin1Char('/'));
}

}  // namespace

QStringList balooTerms(const QString& output) {
  QStringList out;
  for (const QString& line : output.split(QLatin1Char('\n')))
    for (const QLatin1String label : {QLatin1String("Terms: "), QLatin1String("Plain Text Terms: "),
                                      QLatin1String("Property Terms: ")})
      if (line.startsWith(label)) out += line.mid(label.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
  return out;
}

BalooBackend::BalooBackend()
    : programs_(detectBalooPrograms()),
      helper_(toolPath(QStringLiteral("findlark-baloo-query"))),
      gdbus_(QStandardPaths::findExecutable(QStringLiteral("gdbus"))) {}

QString BalooBackend::name() const { return QStringLiteral("baloo"); }

QList<Route> BalooBackend::routes() const {
  return {{QStringLiteral("query"), QStringLiteral("query"), Expects::Query, QStringLiteral("Baloo::Query")},
          {QStringLiteral("baloosearch"), programs_.searchCommand, Expects::Command, programs_.searchCommand}};
}

bool BalooBackend::installed() const {
  if (programs_.line == BalooPrograms::Line::KF6) return true;  // found by its programs; needs no helper
  return programs_.line == BalooPrograms::Line::KF5 && QFileInfo(helper_).isExecutable();
}

Availability BalooBackend::availability() {
  if (programs_.line == BalooPrograms::Line::None)
    return {false, Reason::NotInstalled,
            QStringLiteral("neither baloosearch and balooctl (KF5) nor baloosearch6 and balooctl6 (KF6) are installed"),
            noRemedy(QStringLiteral("install Baloo: on Debian 12 the packages baloo-kf5 and libkf5filemetadata-bin; "
                                    "on a Plasma 6 system its Baloo (KF6) package"))};
  if (programs_.line == BalooPrograms::Line::KF5 && !QFileInfo(helper_).isExecutable())
    return {false, Reason::NotInstalled,
            QStringLiteral("this build has no Baloo helper (built where baloo-kf5-dev and qtbase5-dev are installed)"), {}};
  const BalooConfig c = readConfig(programs_, helper_, homeFolder());
  if (c.read && !c.enabled)
    return {false, Reason::IndexingOff, QStringLiteral("file indexing is disabled (Indexing-Enabled=false in baloofilerc)"),
            commandRemedy(balooctl(programs_, {QStringLiteral("enable")}), true)};
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
              // KF6 installs baloo_file outside PATH; its balooctl6 enable starts it.
              programs_.line == BalooPrograms::Line::KF6
                  ? commandRemedy(balooctl(programs_, {QStringLiteral("enable")}), true)
                  : commandRemedy({QStringLiteral("baloo_file")}, false)};
  }
  const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME", homeFolder() + QStringLiteral("/.local/share"));
  const QString index = dataHome + QStringLiteral("/baloo/index");
  if (!QFileInfo(index).isFile())
    return {false, Reason::IndexMissing, QStringLiteral("no index at ") + index,
            commandRemedy(balooctl(programs_, {QStringLiteral("check")}), true)};
  return {true, Reason::None, {}, {}};
}

Coverage BalooBackend::coverage(const QString& folder) {
  Coverage c;
  const BalooConfig config = readConfig(programs_, helper_, folder);
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
      c.remedy = commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeFolders"), e}), true);
      return c;
    }
  bool under = false;
  for (const QString& i : config.include) under = under || isUnder(path, i);
  if (!under) {
    c.reason = Reason::FolderNotCovered;
    c.detail = QStringLiteral("outside Baloo's folders ") + config.include.join(QStringLiteral(", "));
    c.remedy = commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("add"), QStringLiteral("includeFolders"), path}), true);
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
      c.remedy = commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("hidden"), QStringLiteral("yes")}), true);
      return c;
    }
    for (const QString& f : config.filters)
      if (QDir::match(f, name)) {
        c.reason = Reason::FolderExcluded;
        c.detail = QStringLiteral("Baloo's exclude filter ") + f + QStringLiteral(" matches the folder ") + p;
        c.remedy = commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeFilters"), f}), true);
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
  const bool viaHelper = route == 0 && programs_.line != BalooPrograms::Line::KF6;
  // KF6's route 0: the helper's query string, which baloosearch6 hands to
  // Baloo::Query as it is.
  const QString word = peerQueryTerm(term);
  const QString query = route == 0 ? word + QStringLiteral(" OR manufacturer:") + word + QStringLiteral(" OR tag:") + word
                                   : term;
  const auto r = viaHelper ? runToolStatus(helper_, {QStringLiteral("search"), dir, term}, kToolTimeoutMs)
                           : runToolStatus(programs_.baloosearch, {QStringLiteral("-d"), dir, query}, kToolTimeoutMs);
  if (!r || r->exitStatus != 0) {
    out.error = (viaHelper ? QStringLiteral("findlark-baloo-query") : programs_.searchCommand) + QStringLiteral(" failed");
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
  const auto status = runToolStatus(programs_.balooctl, {QStringLiteral("status"), QStringLiteral("-f"), QStringLiteral("json"), path},
                                    kToolTimeoutMs);
  const QString state = status ? balooFileStatus(status->output, path) : QString();
  // Its properties: Baloo::File through the KF5 helper, or what KF6's
  // balooshow6 lists (display names; the property words give the names
  // Baloo's query language takes).
  QString wordAttribute;
  if (programs_.line == BalooPrograms::Line::KF6) {
    const auto shown = runToolStatus(programs_.balooshow, {QStringLiteral("-x"), path}, kToolTimeoutMs);
    const BalooShown s = shown && shown->exitStatus == 0 ? parseBalooShow(shown->output) : BalooShown();
    st.attributes = s.properties;
    for (const auto& [property, words] : s.propertyWords)
      if (wordAttribute.isEmpty() && words.contains(term.toLower())) wordAttribute = property;
  } else {
    const auto props = runToolStatus(helper_, {QStringLiteral("stored"), path}, kToolTimeoutMs);
    if (props && props->exitStatus == 0) st.attributes = props->output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
  const bool inIndex = !st.attributes.isEmpty() || state == QLatin1String("done") ||
                       state == QLatin1String("scheduled") || state == QLatin1String("failed");
  if (!inIndex) {
    const Coverage c = coverage(QFileInfo(path).path());
    if (const QString paused = c.covered ? suspendedLine() : QString(); !paused.isEmpty()) {
      st.reason = Reason::Paused;
      st.detail = QStringLiteral("balooctl status: ") + paused;
      st.remedy = commandRemedy(balooctl(programs_, {QStringLiteral("resume")}), true);
      return st;
    }
    st.reason = c.covered ? Reason::NotIndexed : c.reason;
    st.remedy = c.covered ? Remedy{} : c.remedy;
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
  if (!wordAttribute.isEmpty()) {
    st.termAttribute = wordAttribute;
    return st;
  }
  for (const QString& line : st.attributes)
    if (line.section(QStringLiteral(" = "), 1).contains(term, Qt::CaseInsensitive)) {
      st.termAttribute = line.section(QStringLiteral(" = "), 0, 0);
      return st;
    }
  // Text terms are the lower-case ones; Baloo prefixes property and type
  // terms with capitals ("Mapplication", "X15-body").
  bool text = false;
  if (!programs_.balooshow.isEmpty()) {
    const auto shown = runToolStatus(programs_.balooshow, {QStringLiteral("-x"), path}, kToolTimeoutMs);
    const QStringList terms = shown ? balooTerms(shown->output) : QStringList();
    if (terms.contains(term.toLower())) {
      st.termAttribute = QStringLiteral("text");
      return st;
    }
    for (const QString& t : terms) text = text || !t.at(0).isUpper();
  }
  if (!st.settled) {
    // Known by name, its content still waiting for Baloo's content pass,
    // which does not run while the indexer is suspended.
    st.inIndex = false;
    if (const QString paused = suspendedLine(); !paused.isEmpty()) {
      st.reason = Reason::Paused;
      st.detail = QStringLiteral("balooctl status: ") + paused;
      st.remedy = commandRemedy(balooctl(programs_, {QStringLiteral("resume")}), true);
      return st;
    }
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

QString BalooBackend::suspendedLine() {
  const auto r = runToolStatus(programs_.balooctl, {QStringLiteral("status")}, kToolTimeoutMs);
  if (!r) return {};
  // "Indexer state: Suspended" (balooctl suspend). "Idle (Powersave)" is
  // not a pause: Baloo goes on at a slower pace there.
  for (const QString& line : r->output.split(QLatin1Char('\n')))
    if (line.contains(QLatin1String("Indexer state")) && line.contains(QLatin1String("Suspended")))
      return line.trimmed();
  return {};
}

Finding BalooBackend::fileFacts(const QString& path, const QString& term) {
  (void)term;
  const BalooConfig config = readConfig(programs_, helper_, path);
  if (!config.read) return {};
  const QFileInfo info(path);
  const QString name = info.fileName();
  if (name.startsWith(QLatin1Char('.')) && !config.hidden)
    return {Reason::Hidden, QStringLiteral("Baloo skips hidden files (hidden = no)"),
            commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("hidden"), QStringLiteral("yes")}), true)};
  for (const QString& f : config.filters)
    if (QDir::match(f, name))
      return {Reason::NameFilter, QStringLiteral("Baloo's exclude filter ") + f + QStringLiteral(" matches ") + name,
              commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeFilters"), f}), true)};
  const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
  for (const QString& m : config.mimetypes)
    if (m == mime)
      return {Reason::TypeExcluded, QStringLiteral("Baloo's excluded MIME types hold ") + mime,
              commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeMimetypes"), m}), true)};
  if (config.basic)
    return {Reason::BasicIndexing, QStringLiteral("only basic indexing = true in baloofilerc: names and properties only"),
            commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("contentIndexing"), QStringLiteral("yes")}), true)};
  // Baloo's content indexer passes over plain text files larger than 10 MiB.
  if (mime.startsWith(QLatin1String("text/")) && info.size() > 10 * 1024 * 1024)
    return {Reason::SizeLimit, QStringLiteral("%1 bytes of text; Baloo reads no text file over 10 MiB").arg(info.size()),
            noRemedy(QStringLiteral("Baloo reads no plain text file over 10 MiB; no setting changes that"))};
  return {};
}

Remedy BalooBackend::routeRemedy(int route, const QString& term, const QString& attribute, const QString& path) {
  // baloosearch searches text and names; a property needs its name.
  if (route != 1 || attribute.isEmpty() || attribute == QLatin1String("text")) return {};
  return queryRemedy({programs_.searchCommand, QStringLiteral("-d"), QFileInfo(path).path(),
                      attribute + QLatin1Char(':') + term});
}

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
    const BalooConfig c = readConfig(programs_, helper_, auditFolder);
    audit_.hidden = c.hidden;
    audit_.filters = c.filters;
    audit_.mimetypes = c.mimetypes;
    const auto status = runToolStatus(programs_.balooctl, {QStringLiteral("status")}, kToolTimeoutMs);
    if (status)
      for (const QString& line : status->output.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Indexer state: "))) audit_.state = line.mid(15).trimmed();
  }
  const QString name = QFileInfo(path).fileName();
  if (name.startsWith(QLatin1Char('.')) && !audit_.hidden)
    return {Reason::Hidden, QStringLiteral("Baloo skips hidden files (hidden = no)"),
            commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("hidden"), QStringLiteral("yes")}), true)};
  for (const QString& f : audit_.filters)
    if (QDir::match(f, name))
      return {Reason::NameFilter, QStringLiteral("Baloo's exclude filter ") + f + QStringLiteral(" matches them"),
              commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeFilters"), f}), true)};
  if (!audit_.mimetypes.isEmpty()) {
    const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
    if (audit_.mimetypes.contains(mime))
      return {Reason::TypeExcluded, QStringLiteral("Baloo's excluded MIME types hold ") + mime,
              commandRemedy(balooctl(programs_, {QStringLiteral("config"), QStringLiteral("rm"), QStringLiteral("excludeMimetypes"), mime}), true)};
  }
  if (audit_.state.startsWith(QLatin1String("Suspended")))
    return {Reason::Paused, QStringLiteral("Baloo's indexer is suspended"), commandRemedy(balooctl(programs_, {QStringLiteral("resume")}), true)};
  if (!audit_.state.isEmpty() && !audit_.state.startsWith(QLatin1String("Idle")))
    return {Reason::StillQueued, QStringLiteral("Baloo's indexer state: ") + audit_.state,
            noRemedy(QStringLiteral("wait for Baloo to finish (balooctl status shows its progress)"))};
  return {};
}

Remedy BalooBackend::absentRemedy(const QString& auditFolder) {
  (void)auditFolder;
  // Baloo looks for files it has not indexed and indexes them.
  return commandRemedy(balooctl(programs_, {QStringLiteral("check")}), true);
}

}  // namespace findlark::check
