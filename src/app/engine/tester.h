// The test engine of one main window: the test folder and its sample files,
// the state of the last search, a processing queue for background work, and
// the result text the window shows.
//
// Thread: a Tester lives on the main thread. Every property is read and
// written there; work on the processing queue posts its result back to the
// main thread. Each property's NOTIFY signal is emitted only when an
// assignment changes the value.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <optional>

#include "app/engine/defaults.h"
#include "app/engine/metadata_query.h"

namespace findlark {

class Tester : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString testVolume READ testVolume WRITE setTestVolume NOTIFY testVolumeChanged)
  Q_PROPERTY(QDateTime spotStart READ spotStart NOTIFY spotStartChanged)
  Q_PROPERTY(QDateTime spotEnd READ spotEnd NOTIFY spotEndChanged)
  Q_PROPERTY(QString spotSearchTerm READ spotSearchTerm WRITE setSpotSearchTerm NOTIFY spotSearchTermChanged)
  Q_PROPERTY(QString testResultString READ testResultString WRITE setTestResultString NOTIFY testResultStringChanged)
  Q_PROPERTY(bool isSearching READ isSearching WRITE setIsSearching NOTIFY isSearchingChanged)
  Q_PROPERTY(findlark::MetadataQuery* query READ query NOTIFY queryChanged)

 public:
  explicit Tester(QObject* parent = nullptr);
  ~Tester() override;  // waits for queued work; never touches the test folder

  // Constants.
  static QString findlarkFolder();   // "/" + kTestFolderName
  static QStringList theFiles();     // the 13 sample names, in copy order
  QThreadPool* processingQueue() { return &processingQueue_; }  // at most 4 threads

  // Home folder + findlarkFolder(), joined as text with no separator added.
  static QString testFolderPath();

  // Observable state.
  QString testVolume() const { return testVolume_; }
  void setTestVolume(const QString& v);
  // Wall-clock stamps (invalid when absent). The times in reports are
  // measured between the same two moments on a monotonic clock, so a clock
  // change never gives a negative or huge time.
  QDateTime spotStart() const { return spotStart_; }
  QDateTime spotEnd() const { return spotEnd_; }
  QString spotSearchTerm() const { return spotSearchTerm_; }
  void setSpotSearchTerm(const QString& v);
  QString testResultString() const { return testResultString_; }
  void setTestResultString(const QString& v);
  bool isSearching() const { return isSearching_; }
  void setIsSearching(bool v);
  MetadataQuery* query() const { return query_; }
  // Stops the stored query (if any) first, whether or not `q` is the same one.
  // The Tester takes ownership of `q`; a replaced query is deleted later,
  // from the event loop.
  void setQuery(MetadataQuery* q);

  // Writes one extended attribute (`name`, `value`) on the file at `path`,
  // following a final symbolic link; false on failure.
  using XattrWriter = std::function<bool(const QString& path, const char* name, const QByteArray& value)>;
  // Replaces the writer createTestFiles uses for the keywords attribute
  // (tests make it fail). An empty function restores setxattr(2).
  void setXattrWriter(XattrWriter writer);

  // The predicate text of a metadata-query search: the text-content clause,
  // then the keywords and maker clauses when asked for. An empty term stands
  // for "cattle"; a '"' or '\' in the term is escaped with a backslash so
  // the term searches for itself.
  static QString queryPredicate(const QString& term, bool keywords, bool exif);

  // Operations (main thread).
  void createTestFiles();
  void removeTestFiles();
  void runQuerySearch(const QString& scope, const QString& term, bool keywords, bool exif);
  // Handles the end of gathering of the query this Tester started; a finish
  // of any other query changes nothing. Connected by runQuerySearch.
  void queryDidFinish(findlark::MetadataQuery* q);
  void runMdfindSearch(const QString& scope, const QString& term);
  // Runs mdfind for `term` within `scope` and returns the sorted,
  // tab-indented listing, or the no-files text. Blocks until mdfind exits.
  QString runMdfind(const QString& term, const QString& scope) const;
  // Runs on any thread; reads only the file system; returns the report.
  QString checkImporters() const;
  // What the "Check importers" toolbar item does: one operation on the
  // processing queue; its result "\n" + report replaces testResultString on
  // the main thread.
  void startImporterCheck();

 signals:
  void testVolumeChanged();
  void spotStartChanged();
  void spotEndChanged();
  void spotSearchTermChanged();
  void testResultStringChanged();
  void isSearchingChanged();
  void queryChanged();

 private:
  void setSpotStart(const QDateTime& v);
  void setSpotEnd(const QDateTime& v);
  void appendResult(const QString& text);
  // Seconds from the last spotStart to the last spotEnd, on a monotonic clock.
  double elapsedSeconds() const;

  QString testVolume_ = QStringLiteral("/");
  QDateTime spotStart_;
  QDateTime spotEnd_;
  QString spotSearchTerm_ = kDefaultSearchTerm;
  QString testResultString_;
  bool isSearching_ = false;
  QPointer<MetadataQuery> query_;
  QElapsedTimer clock_;     // monotonic reference for elapsed times
  qint64 startNs_ = 0;      // clock_ reading when spotStart was set
  qint64 endNs_ = 0;        // clock_ reading when spotEnd was set
  XattrWriter xattrWriter_;
  QThreadPool processingQueue_;  // last member: waited for before the rest goes
};

}  // namespace findlark
