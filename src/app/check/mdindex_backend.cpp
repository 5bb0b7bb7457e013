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
    return {false, Reason::NotInstalled, QStringLiteral("mdfind is not at ") + toolPath(QStringLiteral("mdfind"))};
  using mdindex::service::StoreState;
  const mdindex::service::IndexHealth h = mdindex::service::readIndexHealth(mdindex::homeDir(), false);
  if (!h.servicePid) return {false, Reason::ServiceNotRunning, QStringLiteral("mdindexd is not running")};
  if (h.store == StoreState::Damaged) return {false, Reason::IndexDamaged, QString::fromStdString(h.storeError)};
  if (h.store == StoreState::Missing)
    return {false, Reason::IndexMissing, QStringLiteral("no index at ") + fromNative(mdindex::indexDir())};
  if (!h.indexingOn)
    return {false, Reason::IndexingOff, QStringLiteral("indexing was turned off; mdutil -i on turns it back on")};
  return {true, Reason::None, {}};
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
  const std::optional<QString> output =
      runTool(toolPath(QStringLiteral("mdfind")), {query, QStringLiteral("-onlyin"), folder}, kSearchTimeoutMs);
  if (!output) {
    out.error = QStringLiteral("mdfind did not run to the end or printed invalid text");
    return out;
  }
  out.ok = true;
  for (const QString& line : outputLines(output)) out.hits.append({line, QString()});
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
    st.reason = Reason::FolderExcluded;
    st.detail = QStringLiteral("the index leaves this file's folder out");
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
  } else if (!h.servicePid) {
    st.reason = Reason::NotIndexed;
    st.detail = QStringLiteral("mdindexd stopped during the check");
  } else if (h.serviceState == "crawling") {
    st.reason = Reason::StillQueued;
    st.detail = QStringLiteral("mdindexd was still indexing when the deadline passed");
  } else {
    st.reason = Reason::NotIndexed;
    st.detail = QStringLiteral("mdindexd is idle and has not indexed it");
  }
  return st;
}

}  // namespace findlark::check
