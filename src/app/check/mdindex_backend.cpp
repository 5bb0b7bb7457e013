#include "app/check/mdindex_backend.h"

#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <string>

#include "app/engine/metadata_query.h"
#include "app/engine/tester.h"
#include "app/engine/tool_runner.h"
#include "mdindex/core/fold.h"
#include "mdindex/core/recognition_config.h"
#include "mdindex/core/import_status.h"
#include "mdindex/core/paths.h"
#include "mdindex/core/value.h"
#include "mdindex/service/exclusions.h"
#include "mdindex/service/health.h"
#include "mdindex/store/store.h"

namespace findlark::check {

namespace {

// A search tool that runs longer than this has failed this round.
constexpr int kSearchTimeoutMs = 10'000;

std::string native(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString fromNative(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

mdindex::service::Exclusions exclusions() {
  return mdindex::service::Exclusions({mdindex::homeDir(), mdindex::volumesRoot()}, mdindex::indexDir());
}

// The attributes the query route looks in, in the order they are named.
const char* const kQueryAttributes[] = {mdindex::attr::TextContent, mdindex::attr::Keywords,
                                        mdindex::attr::AcquisitionMake};

QString clause(const char* attribute, const QString& term) {
  QString escaped = term;
  escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
  return QStringLiteral("(") + QLatin1String(attribute) + QStringLiteral(" CONTAINS[cdw] \"") + escaped +
         QStringLiteral("\")");
}

// True when a stored value holds the term as the searches match it (folded,
// anywhere in the text).
bool holds(const std::string& text, const std::string& foldedTerm) {
  return mdindex::foldText(text).find(foldedTerm) != std::string::npos;
}

bool valueHolds(const mdindex::Value& v, const std::string& foldedTerm) {
  if (const auto* s = std::get_if<std::string>(&v)) return holds(*s, foldedTerm);
  if (const auto* list = std::get_if<std::vector<std::string>>(&v))
    for (const std::string& s : *list)
      if (holds(s, foldedTerm)) return true;
  return false;
}

// Identity and type attributes are not where a sample hides the term.
bool isIdentity(const std::string& name) {
  using namespace mdindex::attr;
  return name == Path || name == FSName || name == DisplayName || name == ContentType || name == ContentTypeTree ||
         name == Kind;
}

QStringList outputLines(const std::optional<QString>& output) {
  return output ? output->split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList();
}

}  // namespace

bool MdindexBackend::recognisesText() const {
  // The settings the service and mdimport read.
  const mdindex::RecognitionConfig c = mdindex::readRecognitionConfig();
  return c.enabled && mdindex::missingRecognitionLanguages(c.languages).size() < c.languages.size();
}

QString MdindexBackend::name() const { return QStringLiteral("mdindex"); }

QList<Route> MdindexBackend::routes() const {
  return {{QStringLiteral("query"), QStringLiteral("query"), Expects::Query, QStringLiteral("the query")},
          {QStringLiteral("mdfind"), QStringLiteral("mdfind"), Expects::Command, QStringLiteral("mdfind")}};
}

bool MdindexBackend::installed() const { return QFileInfo(toolPath(QStringLiteral("mdfind"))).isExecutable(); }

Availability MdindexBackend::availability() {
  if (!QFileInfo(toolPath(QStringLiteral("mdfind"))).isExecutable())
    return {false, Reason::NotInstalled, QStringLiteral("mdfind is not at ") + toolPath(QStringLiteral("mdfind")),
            noRemedy(QStringLiteral("build Findlark (make) or install it (make install)"))};
  using mdindex::service::StoreState;
  const mdindex::service::IndexHealth h = mdindex::service::readIndexHealth(mdindex::homeDir(), false);
  if (!h.servicePid)
    return {false, Reason::ServiceNotRunning, QStringLiteral("mdindexd is not running"),
            commandRemedy({toolPath(QStringLiteral("mdindexd"))}, true)};
  if (h.store == StoreState::Damaged)
    return {false, Reason::IndexDamaged, QString::fromStdString(h.storeError),
            commandRemedy({toolPath(QStringLiteral("mdutil")), QStringLiteral("-E")}, true)};
  if (h.store == StoreState::Missing)
    return {false, Reason::IndexMissing, QStringLiteral("no index at ") + fromNative(mdindex::indexDir()),
            commandRemedy({toolPath(QStringLiteral("mdutil")), QStringLiteral("-E")}, true)};
  if (!h.indexingOn)
    return {false, Reason::IndexingOff, QStringLiteral("indexing was turned off (mdutil -i off)"),
            commandRemedy({toolPath(QStringLiteral("mdutil")), QStringLiteral("-i"), QStringLiteral("on")}, true)};
  return {true, Reason::None, {}, {}};
}

Coverage MdindexBackend::coverage(const QString& folder) {
  const auto excl = exclusions();
  const std::string path = native(folder);
  Coverage c;
  for (const std::string& root : excl.roots()) c.roots.append(fromNative(root));
  if (excl.isIndexable(path)) {
    c.covered = true;
    return c;
  }
  const std::string root = excl.rootOf(path);
  if (root.empty()) {
    c.reason = Reason::FolderNotCovered;
    c.detail = QStringLiteral("outside the indexed folders ") + c.roots.join(QStringLiteral(" and "));
    c.remedy = noRemedy(QStringLiteral("mdindex indexes the home folder and the volumes root only; move the file there"));
    return c;
  }
  // The outermost component below the root that the service leaves out.
  c.reason = Reason::FolderExcluded;
  std::string excluded;
  for (std::string p = path; p.size() > root.size(); p = mdindex::parentPath(p)) {
    const std::string name = mdindex::baseName(p);
    struct stat st {};
    const bool folderHere = ::lstat(p.c_str(), &st) == 0;
    if (mdindex::service::Exclusions::isHiddenName(name) || (name.size() > 8 && name.ends_with(".noindex")) ||
        p == mdindex::indexDir() || (folderHere && mdindex::service::Exclusions::hasNeverIndexMarker(p)))
      excluded = p;
  }
  c.detail = excluded.empty() ? QStringLiteral("the index leaves this folder out")
                              : QStringLiteral("inside the excluded folder ") + fromNative(excluded);
  const std::string name = mdindex::baseName(excluded);
  if (!excluded.empty() && mdindex::service::Exclusions::isHiddenName(name)) {
    c.reason = Reason::Hidden;
    c.detail = QStringLiteral("inside the hidden folder ") + fromNative(excluded);
    c.remedy = noRemedy(QStringLiteral("mdindex skips hidden folders; move the file out of ") + fromNative(excluded));
  } else if (!excluded.empty() && mdindex::service::Exclusions::hasNeverIndexMarker(excluded)) {
    c.reason = Reason::ContentFilter;
    c.detail = fromNative(excluded) + QStringLiteral(" holds .metadata_never_index");
    c.remedy = noRemedy(QStringLiteral("remove ") + fromNative(excluded) +
                        QStringLiteral("/.metadata_never_index if the folder should be searchable"));
  } else if (name.ends_with(".noindex")) {
    c.remedy = noRemedy(QStringLiteral("mdindex skips folders named *.noindex; rename ") + fromNative(excluded) +
                        QStringLiteral(" or move the file out of it"));
  }
  return c;
}

SearchResult MdindexBackend::search(int route, const QString& term, const QString& folder) {
  SearchResult out;
  if (route == 0) {
    QString error;
    const auto paths = MetadataQuery::gatherNow(Tester::queryPredicate(term, true, true), {folder}, &error);
    if (!paths) {
      out.error = error;
      return out;
    }
    out.ok = true;
    // Which of the three attributes held it: one clause at a time, asked
    // only for what the whole predicate found.
    QHash<QString, QString> attributeOf;
    if (!paths->isEmpty())
      for (const char* attribute : kQueryAttributes)
        if (const auto one = MetadataQuery::gatherNow(clause(attribute, term), {folder}))
          for (const QString& p : *one)
            if (!attributeOf.contains(p)) attributeOf.insert(p, QLatin1String(attribute));
    for (const QString& p : *paths) out.hits.append({p, attributeOf.value(p)});
    return out;
  }
  const QString query = QStringLiteral("(** == '") + term + QStringLiteral("*'cdw)");
  // mdfind refuses an -onlyin folder that does not exist, yet the index may
  // still list items under a folder that was just removed: ask the nearest
  // folder that exists and keep what lies under `folder`.
  QString scope = folder;
  while (!QFileInfo(scope).isDir() && scope.size() > 1) scope = QFileInfo(scope).path();
  const std::optional<ToolResult> ran =
      runToolStatus(toolPath(QStringLiteral("mdfind")), {query, QStringLiteral("-onlyin"), scope}, kSearchTimeoutMs);
  if (!ran || ran->exitStatus != 0) {
    out.error = ran ? QStringLiteral("mdfind failed (exit status %1)").arg(ran->exitStatus)
                    : QStringLiteral("mdfind did not run to the end or printed invalid text");
    return out;
  }
  out.ok = true;
  const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
  for (const QString& line : outputLines(ran->output))
    if (line.startsWith(prefix)) out.hits.append({line, QString()});
  return out;
}

Stored MdindexBackend::stored(const QString& path, const QString& term) {
  Stored st;
  const std::string file = native(path);
  const std::string foldedTerm = mdindex::foldText(term.toStdString());
  std::string error;
  auto store = mdindex::Store::open(mdindex::indexDir(), mdindex::Store::Mode::ReadOnly, &error);
  const auto record = store ? store->get(file, true) : std::nullopt;
  if (record) {
    st.inIndex = true;
    st.attributes = outputLines(runTool(toolPath(QStringLiteral("mdls")), {path}, kSearchTimeoutMs));
    if (mdindex::isFailure(record->status)) {
      st.reason = Reason::ImportFailed;
      st.detail = QStringLiteral("the importer's status: ") +
                  QString::fromUtf8(mdindex::importStatusName(record->status));
      st.remedy = noRemedy(QStringLiteral("the file cannot be read as its type; mdimport -t -d1 ") + path +
                           QStringLiteral(" shows the importer's error"));
      return st;
    }
    if (holds(record->text, foldedTerm)) {
      st.termAttribute = QLatin1String(mdindex::attr::TextContent);
    } else {
      for (const auto& [name, value] : record->attributes) {
        if (isIdentity(name) || !valueHolds(value, foldedTerm)) continue;
        st.termAttribute = QString::fromStdString(name);
        break;
      }
    }
    if (st.termAttribute.isEmpty() && record->recognitionPending) {
      st.reason = Reason::StillQueued;
      st.detail = QStringLiteral("its pictures still wait for text recognition, which runs only while the machine "
                                 "is otherwise idle (") +
                  QString::number(store->recognitionBacklog()) + QStringLiteral(" items waiting)");
      return st;
    }
    const auto cut = record->attributes.find(mdindex::attr::TextContentTruncated);
    if (st.termAttribute.isEmpty() && cut != record->attributes.end()) {
      const auto* kept = std::get_if<double>(&cut->second);
      st.reason = Reason::TextLimit;
      st.detail = QStringLiteral("the file holds more text than mdindex keeps: the first %1 bytes are searchable (%2)")
                      .arg(kept ? static_cast<qint64>(*kept) : 0)
                      .arg(QLatin1String(mdindex::attr::TextContentTruncated));
      st.remedy = noRemedy(QStringLiteral("mdindex keeps the first 32 MiB of a document's text; split the file to "
                                          "make the rest searchable"));
      st.settled = true;
      return st;
    }
    if (st.termAttribute.isEmpty()) {
      QStringList names;
      for (const auto& [name, value] : record->attributes) names.append(QString::fromStdString(name));
      if (!record->text.empty()) names.append(QLatin1String(mdindex::attr::TextContent));
      st.detail = QStringLiteral("stored: ") + names.join(QStringLiteral(", "));
    }
    return st;
  }

  // Not in the index: tell why where the index can.
  if (!exclusions().isIndexable(file)) {
    const Coverage c = coverage(QFileInfo(path).path());
    st.reason = c.covered ? Reason::Hidden : c.reason;
    st.detail = c.covered ? QStringLiteral("mdindex skips hidden files") : c.detail;
    st.remedy = c.covered ? noRemedy(QStringLiteral("rename the file without its leading dot")) : c.remedy;
    return st;
  }
  const std::optional<QString> trial =
      runTool(toolPath(QStringLiteral("mdimport")), {QStringLiteral("-t"), QStringLiteral("-d2"), path},
              kSearchTimeoutMs);
  st.attributes = outputLines(trial);
  if (!trial || !trial->startsWith(QStringLiteral("Imported '"))) {
    st.reason = Reason::ImportFailed;
    st.detail = QStringLiteral("mdimport -t cannot import it");
    return st;
  }
  const mdindex::service::IndexHealth h = mdindex::service::readIndexHealth(mdindex::homeDir(), false);
  if (!h.indexingOn) {
    st.reason = Reason::IndexingOff;
    st.detail = QStringLiteral("indexing was turned off");
    st.remedy = commandRemedy({toolPath(QStringLiteral("mdutil")), QStringLiteral("-i"), QStringLiteral("on")}, true);
  } else if (!h.servicePid) {
    st.reason = Reason::NotIndexed;
    st.detail = QStringLiteral("mdindexd stopped during the check");
  } else if (h.serviceState == "crawling") {
    st.reason = Reason::StillQueued;
    st.detail = QStringLiteral("mdindexd was still indexing when the deadline passed");
  } else {
    st.reason = Reason::NotIndexed;
    st.detail = QStringLiteral("mdindexd is idle and has not indexed it");
    st.remedy = commandRemedy({toolPath(QStringLiteral("mdimport")), path}, true);
  }
  return st;
}

Finding MdindexBackend::fileFacts(const QString& path, const QString& term) {
  (void)term;
  if (mdindex::service::Exclusions::isHiddenName(native(QFileInfo(path).fileName())))
    return {Reason::Hidden, QStringLiteral("mdindex skips hidden files"),
            noRemedy(QStringLiteral("rename the file without its leading dot"))};
  // What mdindex does with the type: "with no plugIn" keeps it by name only.
  const auto r = runToolStatus(toolPath(QStringLiteral("mdimport")), {QStringLiteral("-t"), QStringLiteral("-d1"), path},
                               kSearchTimeoutMs);
  if (r && r->exitStatus == 0 && r->output.contains(QLatin1String(" with no plugIn.")))
    return {Reason::NoExtractor, r->output.trimmed(),
            noRemedy(QStringLiteral("mdindex has no importer for this type; it is findable by its name only"))};
  return {};
}

Remedy MdindexBackend::routeRemedy(int route, const QString& term, const QString& attribute, const QString& path) {
  // The query route searches text, keywords and camera maker; mdfind any
  // attribute: name the one that holds it.
  if (route != 0 || attribute.isEmpty()) return {};
  QString t = term;
  t.remove(QLatin1Char('\'')).remove(QLatin1Char('\\'));
  return queryRemedy({QStringLiteral("mdfind"), QStringLiteral("-onlyin"), QFileInfo(path).path(),
                      attribute + QStringLiteral(" == '*") + t + QStringLiteral("*'cd")});
}

Listing MdindexBackend::listFolder(const QString& folder) {
  Listing out;
  std::string error;
  auto store = mdindex::Store::open(mdindex::indexDir(), mdindex::Store::Mode::ReadOnly, &error);
  if (!store) {
    out.error = QStringLiteral("cannot read the index: ") + QString::fromStdString(error);
    return out;
  }
  // The service's state as the listing is read: a crawl under way explains
  // what the listing lacks.
  auditServiceState_ = mdindex::service::readIndexHealth(mdindex::homeDir(), false).serviceState;
  const std::vector<mdindex::ItemStamp> items = store->stampsUnder(native(folder));
  out.paths.reserve(qsizetype(items.size()));
  for (const mdindex::ItemStamp& item : items)
    if (!item.isDirectory) out.paths.append(fromNative(item.path));
  out.ok = true;
  return out;
}

Finding MdindexBackend::absenceFacts(const QString& path, const QString& auditFolder) {
  (void)auditFolder;
  if (mdindex::service::Exclusions::isHiddenName(native(QFileInfo(path).fileName())))
    return {Reason::Hidden, QStringLiteral("mdindex skips hidden files"),
            noRemedy(QStringLiteral("mdindex skips names that begin with a dot; rename the files without it"))};
  if (auditServiceState_ == "crawling")
    return {Reason::StillQueued, QStringLiteral("mdindexd was still indexing (crawling) during the audit"),
            noRemedy(QStringLiteral("wait for mdindexd to finish its crawl (mdutil -s shows its state)"))};
  return {};
}

Remedy MdindexBackend::absentRemedy(const QString& auditFolder) {
  // mdimport imports a folder recursively and leaves out what the service
  // leaves out, so it adds exactly the files the service missed.
  return commandRemedy({toolPath(QStringLiteral("mdimport")), auditFolder}, true);
}

}  // namespace findlark::check
