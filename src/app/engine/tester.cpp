#include "app/engine/tester.h"

#include <QDir>
#include <QFileInfo>

#include "app/engine/metadata_query.h"
#include "app/engine/text.h"
#include "app/engine/app_paths.h"
#include "app/engine/tool_runner.h"
#include "mdindex/core/paths.h"

namespace findlark {

namespace {


// The folder a volume name stands for. Without any volumes root a name must
// not land on a folder of "/", so it is looked up where no volume is.
QString volumeFolder(const QString& name) {
  QString root = QFile::decodeName(QByteArray::fromStdString(mdindex::volumesRoot()));
  if (root.isEmpty()) root = QStringLiteral("/media");
  return root + QLatin1Char('/') + name;
}

}  // namespace

Tester::Tester(QObject* parent) : QObject(parent) {
  processingQueue_.setMaxThreadCount(4);
  clock_.start();
}

Tester::~Tester() {
  // Operations not yet begun are dropped; one that runs still posts to this
  // object, and ~QObject discards that posted call, so waiting here is what
  // keeps a worker from ever reaching freed memory.
  processingQueue_.clear();
  processingQueue_.waitForDone();
}

QString Tester::findlarkFolder() { return QLatin1Char('/') + kTestFolderName; }

QStringList Tester::theFiles() {
  return {QStringLiteral("FindlarkA.txt"),  QStringLiteral("FindlarkB.rtf"),     QStringLiteral("FindlarkC.pdf"),
          QStringLiteral("FindlarkD.html"), QStringLiteral("FindlarkE.docx"),    QStringLiteral("FindlarkF.numbers"),
          QStringLiteral("FindlarkG.pages"), QStringLiteral("FindlarkH.png"),    QStringLiteral("FindlarkI.png"),
          QStringLiteral("FindlarkK.jpg"),  QStringLiteral("FindlarkL.plist"),   QStringLiteral("FindlarkM.txt"),
          QStringLiteral("FindlarkN.pdf")};
}

QString Tester::testFolderPath() { return homeFolder() + findlarkFolder(); }

void Tester::setTestVolume(const QString& v) {
  if (v == testVolume_) return;
  testVolume_ = v;
  emit testVolumeChanged();
}

void Tester::setSpotStart(const QDateTime& v) {
  startNs_ = clock_.nsecsElapsed();
  if (v == spotStart_) return;
  spotStart_ = v;
  emit spotStartChanged();
}

void Tester::setSpotEnd(const QDateTime& v) {
  endNs_ = clock_.nsecsElapsed();
  if (v == spotEnd_) return;
  spotEnd_ = v;
  emit spotEndChanged();
}

double Tester::elapsedSeconds() const { return static_cast<double>(endNs_ - startNs_) / 1e9; }

void Tester::setSpotSearchTerm(const QString& v) {
  if (v == spotSearchTerm_) return;
  spotSearchTerm_ = v;
  emit spotSearchTermChanged();
}

void Tester::setTestResultString(const QString& v) {
  if (v == testResultString_) return;
  testResultString_ = v;
  emit testResultStringChanged();
}

void Tester::appendResult(const QString& text) { setTestResultString(testResultString_ + text); }

void Tester::setIsSearching(bool v) {
  if (v == isSearching_) return;
  isSearching_ = v;
  emit isSearchingChanged();
}

void Tester::setQuery(MetadataQuery* q) {
  MetadataQuery* old = query_;
  if (old) old->stopQuery();
  if (old == q) return;
  if (q) q->setParent(this);
  query_ = q;
  if (old) old->deleteLater();
  emit queryChanged();
}

// --- Metadata-query search ---------------------------------------------------

QString Tester::queryPredicate(const QString& term, bool keywords, bool exif) {
  QString effective = term.isEmpty() ? kDefaultSearchTerm : term;
  effective.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  effective.replace(QLatin1Char('"'), QStringLiteral("\\\""));
  QString text = QStringLiteral("(kMDItemTextContent CONTAINS[cdw] \"") + effective + QStringLiteral("\")");
  if (keywords) text += QStringLiteral(" OR (kMDItemKeywords CONTAINS[cdw] \"") + effective + QStringLiteral("\")");
  if (exif) text += QStringLiteral(" OR (kMDItemAcquisitionMake CONTAINS[cdw] \"") + effective + QStringLiteral("\")");
  return text;
}

void Tester::runQuerySearch(const QString& scope, const QString& term, bool keywords, bool exif) {
  setIsSearching(true);
  auto* q = new MetadataQuery(this);
  setQuery(q);
  setSpotSearchTerm(term.isEmpty() ? kDefaultSearchTerm : term);
  q->setPredicate(queryPredicate(term, keywords, exif));
  // Only this Tester's own query reaches its handler: one window's search
  // never reports another window's results under its own term.
  connect(q, &MetadataQuery::finishedGathering, this, &Tester::queryDidFinish);
  const bool home = scope.contains(kHomeScope);
  q->setSearchScopes({home ? homeFolder() : volumeFolder(scope)});
  setTestVolume(home ? kHomeScope : scope);
  setSpotStart(QDateTime::currentDateTimeUtc());
  q->startQuery();
}

void Tester::queryDidFinish(MetadataQuery* q) {
  if (!isSearching_) return;
  if (q && q != query_) return;  // a replaced query, or another Tester's
  setIsSearching(false);
  if (!q) return;
  q->disableUpdates();
  q->stopQuery();
  setTestResultString(QString());
  setSpotEnd(QDateTime::currentDateTimeUtc());

  QStringList paths = q->results();
  sortPlain(paths);
  QString report = QStringLiteral("Spotlight query \"") + spotSearchTerm_ + QStringLiteral("\" on ") + testVolume_ +
                   QStringLiteral(" by NSMetadataQuery ") + QStringLiteral("returned ") +
                   QString::number(q->resultCount()) + QStringLiteral(" results:\n\t") +
                   paths.join(QStringLiteral("\n\t")) + QStringLiteral("\nSpotlight search time taken = ") +
                   secondsText(elapsedSeconds()) + QStringLiteral(" seconds.\n");
  setTestResultString(report);
}

// --- Command-line search -----------------------------------------------------

QString Tester::runMdfind(const QString& term, const QString& scope) const {
  const QString query = term.isEmpty() ? QStringLiteral("(** == 'cattle*'cdw)")
                                       : QStringLiteral("(** == '") + term + QStringLiteral("*'cdw)");
  QStringList arguments{query};
  if (!scope.isEmpty()) {
    arguments << QStringLiteral("-onlyin") << (scope.contains(kHomeScope) ? homeFolder() : volumeFolder(scope));
  }
  const std::optional<QString> output = runTool(toolPath(QStringLiteral("mdfind")), arguments);
  if (!output || output->isEmpty()) return QStringLiteral("No files found. Try a different search scope or term.\n");
  QStringList lines = output->split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  for (QString& line : lines) line.prepend(QLatin1Char('\t'));
  sortPlain(lines);
  return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void Tester::runMdfindSearch(const QString& scope, const QString& term) {
  setTestResultString(QString());
  const QString heading = QStringLiteral("Spotlight search for \"") + (term.isEmpty() ? kDefaultSearchTerm : term) +
                          QStringLiteral("\" on ") + scope + QStringLiteral(" by mdfind:\n");
  setSpotStart(QDateTime::currentDateTimeUtc());
  const QString listing = runMdfind(term, scope);
  setSpotEnd(QDateTime::currentDateTimeUtc());
  setTestResultString(heading + listing + QStringLiteral("Spotlight search time taken = ") +
                      secondsText(elapsedSeconds()) + QStringLiteral(" seconds.\n"));
}

// --- Importer check ----------------------------------------------------------

QString Tester::checkImporters() const {
  const QString notFound = QStringLiteral("Test files not found.\nTry creating them first using the Create Tests tool.\n");
  const QString folder = testFolderPath();
  if (!QFileInfo::exists(folder)) return notFound;
  const QStringList entries =
      QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
  if (entries.isEmpty()) return notFound;

  const QString mdimport = toolPath(QStringLiteral("mdimport"));
  QStringList kept;
  for (const QString& name : entries) {
    if (name.endsWith(QStringLiteral(".DS_Store"))) continue;
    const std::optional<QString> output =
        runTool(mdimport, {QStringLiteral("-t"), QStringLiteral("-d1"), folder + QLatin1Char('/') + name});
    if (!output || output->isEmpty()) continue;
    for (const QString& line : output->split(QLatin1Char('\n')))
      if (line.contains(QStringLiteral("Imported"))) kept.append(line);
  }
  sortPlain(kept);
  return kept.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void Tester::startImporterCheck() {
  QPointer<Tester> self(this);
  processingQueue_.start([this, self] {
    const QString report = QStringLiteral("\n") + checkImporters();
    // The destructor waits for this worker, so `this` is alive as the
    // context here; the call itself runs later on the main thread, and only
    // if the Tester still exists then.
    QMetaObject::invokeMethod(
        this,
        [self, report] {
          if (self) self->setTestResultString(report);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace findlark
