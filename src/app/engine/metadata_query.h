// The in-process metadata query: the app's stand-in for the platform's
// metadata query object. It takes a predicate text and one scope folder,
// gathers the matching paths from the index store on a worker thread, and
// announces the end of gathering on the thread that started it.
//
// Thread: created, used and destroyed on the main thread (the thread of the
// QCoreApplication). Only the gathering itself runs elsewhere, on a worker of
// QThreadPool::globalInstance() with its own read-only store connection.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace findlark {

class MetadataQuery : public QObject {
  Q_OBJECT

 public:
  // Where a query stands. Each query runs at most once.
  enum class State {
    Idle,       // created, not started
    Gathering,  // started; the worker has not delivered yet
    Finished,   // gathering ended and finishedGathering was emitted
    Stopped,    // stopQuery() was called; nothing more will be emitted
  };
  Q_ENUM(State)

  explicit MetadataQuery(QObject* parent = nullptr);
  // Safe while gathering: the worker's result is then dropped unseen.
  ~MetadataQuery() override;

  // The predicate format text (parsed when the query starts).
  void setPredicate(const QString& text);
  QString predicate() const { return predicate_; }
  // The folders the search is limited to; the app gives exactly one.
  void setSearchScopes(const QStringList& folders);
  QStringList searchScopes() const { return scopes_; }

  // Gathers on the calling thread, blocking until the store answers: the
  // same search a started query makes, for callers already off the main
  // thread (the index check). Paths of matching items that exist on disk,
  // or nothing with `*error` set as errorString() would be.
  static std::optional<QStringList> gatherNow(const QString& predicate, const QStringList& scopes,
                                              QString* error = nullptr);

  // Starts gathering and returns at once. False (and nothing happens) unless
  // the query is Idle. Every started query ends in exactly one of: one
  // finishedGathering emission, or stopQuery().
  bool startQuery();
  // Ends gathering or live updating; no finishedGathering is emitted after
  // it returns, even for a result already on its way. Safe in any state and
  // more than once. The results gathered so far stay readable.
  void stopQuery();
  // Freezes the result list (the query has no live updates, so this only
  // records the request).
  void disableUpdates() { updatesEnabled_ = false; }
  bool updatesEnabled() const { return updatesEnabled_; }

  State state() const { return state_; }
  // Absolute paths of the matching items that still exist on disk, in the
  // order the store gave them (no particular order). Empty until finished.
  const QStringList& results() const { return results_; }
  qsizetype resultCount() const { return results_.size(); }
  // Why the query found nothing it could trust: a predicate that does not
  // parse ("predicate: <what was expected> at <offset>"), or a store that
  // cannot be opened or answer. Empty when gathering succeeded.
  QString errorString() const { return error_; }

 signals:
  // Emitted once, on the main thread, when gathering has ended (also when it
  // ended with an error). Carries the query itself, as the platform's
  // notification carries its sender.
  void finishedGathering(findlark::MetadataQuery* query);

 private:
  struct Shared;
  void deliver(const QStringList& paths, const QString& error);

  QString predicate_;
  QStringList scopes_;
  State state_ = State::Idle;
  bool updatesEnabled_ = true;
  QStringList results_;
  QString error_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace findlark
