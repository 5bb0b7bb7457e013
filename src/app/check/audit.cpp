#include "app/check/audit.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <string>
#include <unordered_map>

namespace findlark::check {

namespace {

// How often (in files) the walk and the explanation report progress and
// look at the cancel flag.
constexpr qint64 kProgressEvery = 2000;

bool cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

double secondsOf(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }

QString parentOf(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// The regular files under `root`, never following a symbolic link: an
// explicit stack of folders read with readdir, whose entry types spare a
// stat per file on every common file system.
QStringList walk(const QString& root, qint64* unreadable, const std::function<void(qint64)>& tick,
                 const std::atomic<bool>* cancel) {
  QStringList files;
  std::vector<std::string> folders{QFile::encodeName(root).toStdString()};
  while (!folders.empty()) {
    if (cancelled(cancel)) break;
    const std::string dir = std::move(folders.back());
    folders.pop_back();
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
      ++*unreadable;
      continue;
    }
    const std::string prefix = dir == "/" ? dir : dir + '/';
    while (const dirent* e = ::readdir(d)) {
      const char* name = e->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      std::string path = prefix + name;
      unsigned char type = e->d_type;
      if (type == DT_UNKNOWN) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
      }
      if (type == DT_DIR) {
        folders.push_back(std::move(path));
      } else if (type == DT_REG) {
        files.append(QFile::decodeName(QByteArray::fromStdString(path)));
        if (files.size() % kProgressEvery == 0 && tick) tick(files.size());
      }
    }
    ::closedir(d);
  }
  return files;
}

// A folder inside one the index leaves out for these reasons is left out
// with it; asking again would only repeat the answer.
bool inherited(Reason r) { return r == Reason::FolderExcluded || r == Reason::Hidden || r == Reason::ContentFilter; }

// Coverage per folder, asked once each, from the audited folder down.
class CoverageCache {
 public:
  CoverageCache(Backend& backend, const QString& root) : backend_(backend), root_(root) {}

  // The reference stays valid: the map's nodes never move.
  const Coverage& of(const QString& folder) {
    if (const auto it = cache_.find(folder); it != cache_.end()) return it->second;
    const Coverage* parent = nullptr;
    if (folder != root_ && folder.startsWith(root_ == QLatin1String("/") ? root_ : root_ + QLatin1Char('/')))
      parent = &of(parentOf(folder));
    Coverage c;
    if (parent && !parent->covered && inherited(parent->reason)) {
      c = *parent;
    } else {
      c = backend_.coverage(folder);
      // Outside the index's folders like its parent: one group, whose
      // remedy (add the outer folder) reaches this one too.
      if (parent && !c.covered && c.reason == Reason::FolderNotCovered && !parent->covered &&
          parent->reason == Reason::FolderNotCovered)
        c = *parent;
    }
    return cache_.emplace(folder, std::move(c)).first->second;
  }

 private:
  Backend& backend_;
  QString root_;
  std::unordered_map<QString, Coverage> cache_;
};

// Explains the files `index` lacks and groups them.
QList<AuditGroup> explain(Backend& backend, const QString& root, const QStringList& missing,
                          const std::function<void(qint64)>& tick, const std::atomic<bool>* cancel) {
  CoverageCache coverage(backend, root);
  std::optional<Remedy> absent;
  QHash<QString, int> groupOf;  // reason code + remedy line -> index in `groups`
  QList<AuditGroup> groups;
  qint64 done = 0;
  for (const QString& path : missing) {
    if (cancelled(cancel)) break;
    const Coverage& c = coverage.of(parentOf(path));
    Finding f;
    if (!c.covered) {
      f = {c.reason, c.detail, c.remedy};
    } else {
      f = backend.absenceFacts(path, root);
      if (!f.broken()) {
        if (!absent) absent = backend.absentRemedy(root);
        f = {Reason::NotIndexed, QString(), *absent};
      }
    }
    const QString key = reasonCode(f.reason) + QLatin1Char('\n') + remedyLine(f.remedy);
    auto it = groupOf.find(key);
    if (it == groupOf.end()) {
      it = groupOf.insert(key, int(groups.size()));
      groups.append({f.reason, f.detail, f.remedy, {}});
    }
    groups[*it].paths.append(path);
    if (++done % 200 == 0 && tick) tick(done);
  }
  for (AuditGroup& g : groups) g.paths.sort();
  std::stable_sort(groups.begin(), groups.end(), [](const AuditGroup& a, const AuditGroup& b) {
    if (a.reason != b.reason) return int(a.reason) < int(b.reason);
    return a.paths.size() > b.paths.size();
  });
  return groups;
}

}  // namespace

int AuditResult::exitStatus() const {
  if (!error.isEmpty()) return 2;
  bool anyAnswered = false, anyMissing = false;
  for (const AuditIndexResult& i : indexes) {
    if (!i.answered()) continue;
    anyAnswered = true;
    anyMissing = anyMissing || i.missing > 0;
  }
  if (!anyAnswered) return cancelled ? 1 : 2;
  return anyMissing || cancelled ? 1 : 0;
}

AuditResult auditFolder(const std::vector<Backend*>& backends, const QString& folder,
                        const std::function<void(const AuditProgress&)>& progress,
                        const std::atomic<bool>* cancel) {
  AuditResult out;
  out.folder = folder;
  const QFileInfo info(folder);
  if (!info.exists()) {
    out.error = folder + QStringLiteral(" does not exist");
    return out;
  }
  if (!info.isDir() || info.isSymLink()) {
    out.error = folder + QStringLiteral(" is not a folder (the audit follows no symbolic link)");
    return out;
  }
  const auto report = [&](AuditProgress::Stage stage, const QString& index, qint64 done, qint64 total) {
    if (progress) progress({stage, out.files, index, done, total});
  };

  QElapsedTimer clock;
  clock.start();
  QStringList files = walk(folder, &out.unreadableFolders, [&](qint64 n) {
    out.files = n;
    report(AuditProgress::Stage::Walking, {}, 0, 0);
  }, cancel);
  out.files = files.size();
  out.walkSeconds = secondsOf(clock);
  report(AuditProgress::Stage::Walking, {}, 0, 0);
  if (cancelled(cancel)) {
    out.cancelled = true;
    return out;
  }

  for (Backend* b : backends) {
    if (cancelled(cancel)) {
      out.cancelled = true;
      break;
    }
    AuditIndexResult r;
    r.name = b->name();
    r.availability = b->availability();
    if (!r.availability.answers) {
      out.indexes.append(r);
      continue;
    }
    report(AuditProgress::Stage::Listing, r.name, 0, 0);
    clock.restart();
    const Listing listing = b->listFolder(folder);
    r.listSeconds = secondsOf(clock);
    if (!listing.ok) {
      r.listError = listing.error.isEmpty() ? QStringLiteral("the listing failed") : listing.error;
      out.indexes.append(r);
      continue;
    }
    r.listed = listing.paths.size();
    const QSet<QString> held(listing.paths.cbegin(), listing.paths.cend());
    QStringList missing;
    for (const QString& f : files)
      if (!held.contains(f)) missing.append(f);
    r.held = out.files - missing.size();
    r.missing = missing.size();
    clock.restart();
    r.groups = explain(*b, folder, missing, [&](qint64 done) {
      report(AuditProgress::Stage::Explaining, r.name, done, missing.size());
    }, cancel);
    r.explainSeconds = secondsOf(clock);
    if (cancelled(cancel)) out.cancelled = true;
    out.indexes.append(r);
  }
  return out;
}

}  // namespace findlark::check
