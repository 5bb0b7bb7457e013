#include "app/engine/metadata_query.h"

#include <sys/stat.h>

#include <string>
#include <variant>
#include <vector>

#include <QCoreApplication>
#include <QFile>
#include <QThreadPool>

#include "mdindex/core/paths.h"
#include "mdindex/query/parse.h"
#include "mdindex/store/store.h"

namespace findlark {

// What a worker and its query share. `owner` is read and cleared only on the
// main thread, so a worker never touches the query object itself.
struct MetadataQuery::Shared {
  MetadataQuery* owner = nullptr;
};

namespace {

struct Gathered {
  QStringList paths;
  QString error;
};

Gathered gather(const std::string& predicate, const std::vector<std::string>& scopes,
                const std::string& indexDir) {
  Gathered out;
  auto parsed = mdindex::query::parsePredicate(predicate);
  if (const auto* failure = std::get_if<mdindex::query::ParseError>(&parsed)) {
    out.error = QStringLiteral("predicate: %1 at %2")
                    .arg(QString::fromStdString(failure->message))
                    .arg(failure->position);
    return out;
  }
  std::string error;
  auto store = mdindex::Store::open(indexDir, mdindex::Store::Mode::ReadOnly, &error);
  if (!store) {
    out.error = QStringLiteral("index: ") + QString::fromStdString(error);
    return out;
  }
  auto found = store->search(std::get<mdindex::query::Node>(parsed), scopes, &error);
  if (!found) {
    out.error = QStringLiteral("index: ") + QString::fromStdString(error);
    return out;
  }
  // The store may lag a deletion by a moment: report only what is on disk.
  for (const std::string& path : *found) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) out.paths.append(QFile::decodeName(QByteArray::fromStdString(path)));
  }
  return out;
}

}  // namespace

std::optional<QStringList> MetadataQuery::gatherNow(const QString& predicate, const QStringList& scopes,
                                                   QString* error) {
  std::vector<std::string> native;
  for (const QString& s : scopes) native.push_back(QFile::encodeName(s).toStdString());
  Gathered result = gather(predicate.toStdString(), native, mdindex::indexDir());
  if (!result.error.isEmpty()) {
    if (error) *error = result.error;
    return std::nullopt;
  }
  return result.paths;
}

MetadataQuery::MetadataQuery(QObject* parent) : QObject(parent) {}

MetadataQuery::~MetadataQuery() {
  if (shared_) shared_->owner = nullptr;
}

void MetadataQuery::setPredicate(const QString& text) { predicate_ = text; }

void MetadataQuery::setSearchScopes(const QStringList& folders) { scopes_ = folders; }

bool MetadataQuery::startQuery() {
  if (state_ != State::Idle) return false;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  state_ = State::Gathering;
  shared_ = std::make_shared<Shared>();
  shared_->owner = this;

  std::vector<std::string> scopes;
  for (const QString& s : scopes_) scopes.push_back(QFile::encodeName(s).toStdString());
  // The global pool is waited for when the application ends, so the
  // application object outlives every worker that posts to it.
  QThreadPool::globalInstance()->start(
      [shared = shared_, predicate = predicate_.toStdString(), scopes = std::move(scopes),
       indexDir = mdindex::indexDir(), app] {
        Gathered result = gather(predicate, scopes, indexDir);
        QMetaObject::invokeMethod(
            app,
            [shared, result = std::move(result)] {
              if (shared->owner) shared->owner->deliver(result.paths, result.error);
            },
            Qt::QueuedConnection);
      });
  return true;
}

void MetadataQuery::stopQuery() {
  if (shared_) shared_->owner = nullptr;
  state_ = State::Stopped;
}

void MetadataQuery::deliver(const QStringList& paths, const QString& error) {
  if (state_ != State::Gathering) return;
  results_ = paths;
  error_ = error;
  state_ = State::Finished;
  emit finishedGathering(this);
}

}  // namespace findlark
