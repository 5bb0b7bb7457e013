#include "check_cli.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>

#include <QDir>
#include <QString>
#include <QStringList>

#include "app/check/audit.h"
#include "app/check/backend.h"
#include "app/check/check.h"
#include "app/check/diagnose.h"
#include "app/check/report.h"
#include "app/check/suite.h"
#include "tools/common/options.h"

namespace findlark::tools {

namespace {

constexpr int kUsage = 64, kInterrupted = 130;

constexpr const char* kHelp =
    "Usage: findlark-check [--suite samples|probes] [--index NAME]... [--folder DIR] [--timeout SECONDS]\n"
    "                      [--keep] [--format table|json|markdown] [--help]\n"
    "       findlark-check --file PATH [--term WORD] [--index NAME]... [--timeout SECONDS] [--format table|json]\n"
    "       findlark-check --audit DIR [--index NAME]... [--format table|json]\n"
    "Checks that a desktop index finds the files of a suite (the 13 Findlark samples,\n"
    "or the probes: about fifty small files, each hiding one word of its own in one\n"
    "place): makes them fresh in ~/0_FindlarkCheck, searches every route of the index\n"
    "for each file's word until each is found or the deadline passes, and says for\n"
    "each miss why, from what the index stored, with its evidence and a remedy\n"
    "(printed, never applied).\n"
    "With --file, says whether each route of each index finds that file for WORD and,\n"
    "where one does not, why (the first broken link of: installed, answers, folder\n"
    "covered, type handled, limits, in the index, word stored, found by the route),\n"
    "with the evidence and the remedy.\n"
    "With --audit, says which regular files under DIR (walked once, no symbolic link\n"
    "followed) each index does not hold, from one listing of the index per folder:\n"
    "\"tracker: holds 9,745 of 10,000 files under DIR\", then the missing files grouped\n"
    "by reason (folder not covered, excluded, hidden, marker file, name filtered, type\n"
    "excluded, still queued, index stale, ...; \"absent, no reason given by the index\"\n"
    "for the rest), each group with its remedy, a count and at most 10 of its paths.\n"
    "  --suite NAME     the files to make and look for: samples (default) or probes\n"
    "  --index NAME     the index to check (repeatable; default mdindex, or with --file\n"
    "                   and --audit every installed one). Known: %1;\n"
    "                   \"all\" checks every one, listing those not installed\n"
    "  --folder DIR     make the samples in DIR/0_FindlarkCheck instead\n"
    "  --file PATH      diagnose this file instead of the samples\n"
    "  --audit DIR      list the files under DIR that each index misses, and why\n"
    "  --term WORD      the word to look for in --file (default: a distinctive word of\n"
    "                   the file's own text as mdimport reads it, printed)\n"
    "  --timeout SECS   the one deadline for every sample (default 60; with --file, 10)\n"
    "  --keep           leave the check folder in place (removed otherwise, also on Ctrl+C)\n"
    "  --format FORM    table (default), json, or markdown: the coverage table for a\n"
    "                   document, a row per file, a column per index and route, each\n"
    "                   cell a check mark or the short reason of the miss, with totals\n"
    "  --json           the same as --format json\n"
    "A folder 0_FindlarkCheck left by an earlier run is removed first; a symbolic link\n"
    "or a folder holding anything the check did not make is refused.\n"
    "JSON: { \"folder\", \"suite\", \"term\", \"timeout\", \"error\" (\"\" unless the check could not run),\n"
    "  \"warnings\": [text], \"cancelled\", \"exit\", \"indexes\": [ { \"name\", \"answered\",\n"
    "  \"reason\", \"detail\" (why it cannot answer), \"routes\": [ { \"id\", \"label\" } ],\n"
    "  \"samples\": [ { \"file\", \"where\", \"term\", \"routes\": { ROUTE-ID: { \"expected\", \"found\",\n"
    "  \"seconds\" (null when not found), \"attribute\", \"reason\", \"detail\",\n"
    "  \"stored\": [\"name = value\"] } } } ] } ] }\n"
    "  A remedy is null or { \"kind\": \"command\"|\"config\"|\"query\"|\"none\", \"text\",\n"
    "  \"file\" (the file a config line goes in), \"argv\" (a command's words, as run),\n"
    "  \"then\" (a command to run after a config line), \"appliable\" }.\n"
    "JSON with --file: { \"file\", \"term\", \"termPicked\", \"timeout\", \"error\", \"cancelled\",\n"
    "  \"exit\", \"indexes\": [ { \"name\", \"answered\", \"reason\", \"evidence\", \"remedy\",\n"
    "  \"routes\": [ { \"id\", \"label\", \"found\", \"seconds\", \"attribute\", \"reason\",\n"
    "  \"evidence\", \"remedy\", \"stored\" } ] } ] }\n"
    "JSON with --audit: { \"folder\", \"files\", \"unreadableFolders\", \"error\", \"cancelled\",\n"
    "  \"exit\", \"walkSeconds\", \"indexes\": [ { \"name\", \"answered\" (it listed the folder),\n"
    "  \"reason\", \"detail\", \"remedy\" (why not; \"route-failed\" when its listing failed),\n"
    "  \"listed\", \"held\", \"missing\", \"listSeconds\", \"explainSeconds\", \"groups\": [\n"
    "  { \"reason\" (\"not-indexed\": absent, no reason given), \"text\", \"detail\", \"remedy\",\n"
    "  \"count\", \"paths\": [every path] } ] } ] }\n"
    "Reason codes: not-installed service-not-running indexing-off index-missing\n"
    "  index-damaged folder-not-covered folder-excluded hidden content-filter\n"
    "  name-filter no-extractor type-excluded name-only missing-helper basic-indexing\n"
    "  text-limit size-limit import-failed still-queued paused stale not-indexed\n"
    "  term-not-stored stop-word number-not-indexed needs-text-recognition\n"
    "  not-found-by-route unexpected route-failed\n"
    "Exit status: 0 every expected sample found by every route; 1 any missed;\n"
    "2 an index cannot answer or is not installed (under --index all, one not\n"
    "installed does not count), or the folder cannot be made;\n"
    "with --file: 0 found by every route of every index that answers, 1 some\n"
    "missed it, 2 none can answer or the file cannot be read;\n"
    "with --audit: 0 every index that can answer holds every file, 1 some index\n"
    "misses some, 2 none can answer or DIR is not a folder;\n"
    "64 bad usage; 130 interrupted.\n";

struct Options {
  std::vector<std::string> indexes;
  std::string folder;
  std::string timeout;
  std::string file, term, audit;
  std::string suite = "samples";
  std::string format = "table";
  bool fileGiven = false, termGiven = false, auditGiven = false;
  bool timeoutGiven = false;
  bool keep = false;
  bool suiteGiven = false;
  bool help = false;
};

constexpr mdindex::tools::OptionRow<Options> kOptions[] = {
    {"--index", true, [](Options& o, const std::string& v) { o.indexes.push_back(v); }},
    {"--folder", true, [](Options& o, const std::string& v) { o.folder = v; }},
    {"--timeout", true, [](Options& o, const std::string& v) { o.timeout = v, o.timeoutGiven = true; }},
    {"--file", true, [](Options& o, const std::string& v) { o.file = v, o.fileGiven = true; }},
    {"--term", true, [](Options& o, const std::string& v) { o.term = v, o.termGiven = true; }},
    {"--audit", true, [](Options& o, const std::string& v) { o.audit = v, o.auditGiven = true; }},
    {"--keep", false, [](Options& o, const std::string&) { o.keep = true; }},
    {"--json", false, [](Options& o, const std::string&) { o.format = "json"; }},
    {"--format", true, [](Options& o, const std::string& v) { o.format = v; }},
    {"--suite", true, [](Options& o, const std::string& v) { o.suite = v, o.suiteGiven = true; }},
    {"--help", false, [](Options& o, const std::string&) { o.help = true; }},
    {"-h", false, [](Options& o, const std::string&) { o.help = true; }},
};

std::atomic<bool> gCancel{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onSignal(int) { gCancel.store(true); }

void put(FILE* to, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
}

QString helpText() {
  return QString::fromLatin1(kHelp).arg(check::knownBackendNames().join(QStringLiteral(", ")));
}

int usage(const QString& message) {
  put(stderr, QStringLiteral("findlark-check: ") + message + QLatin1Char('\n') +
                  QString::fromLatin1(kHelp).section(QLatin1Char('\n'), 0, 0) + QLatin1Char('\n'));
  return kUsage;
}

// One line on stderr, rewritten in place while the check waits.
void showProgress(const check::CheckProgress& p) {
  QString line = QStringLiteral("waiting %1 of %2 s: %3 of %4 found")
                     .arg(p.elapsed, 0, 'f', 1)
                     .arg(p.deadline, 0, 'f', 0)
                     .arg(p.found)
                     .arg(p.expected);
  if (!p.missing.isEmpty()) line += QStringLiteral("; missing ") + p.missing.join(QStringLiteral(", "));
  if (line.size() > 150) line = line.left(147) + QStringLiteral("...");
  put(stderr, QStringLiteral("\r\033[K") + line);
  std::fflush(stderr);
}

// `path` made absolute against the working folder.
std::optional<QString> absolute(const std::string& path) {
  const QString p = QString::fromStdString(path);
  if (p.startsWith(QLatin1Char('/'))) return p;
  char cwd[4096];
  if (!::getcwd(cwd, sizeof cwd)) return std::nullopt;
  return QString::fromLocal8Bit(cwd) + QLatin1Char('/') + p;
}

// findlark-check --file: one file, one word, every selected index.
int fileMain(const std::vector<check::Backend*>& backends, const QString& file, QString term, int timeout, bool json,
             bool terminal) {
  bool picked = false;
  if (term.isEmpty()) {
    QString error;
    term = check::pickTerm(file, &error);
    if (term.isEmpty()) {
      put(stderr, QStringLiteral("findlark-check: ") + error + QLatin1Char('\n'));
      return 2;
    }
    picked = true;
  }
  bool shown = false;
  check::FileCheckResult result = check::diagnoseFile(
      backends, file, term, timeout,
      [&](const check::FileProgress& p) {
        if (!terminal) return;
        QString line = QStringLiteral("waiting %1 of %2 s for ").arg(p.elapsed, 0, 'f', 1).arg(p.deadline, 0, 'f', 0) +
                       p.waiting.join(QStringLiteral(", "));
        if (line.size() > 99) line = line.left(96) + QStringLiteral("...");
        put(stderr, QStringLiteral("\r\033[K") + line);
        std::fflush(stderr);
        shown = true;
      },
      &gCancel);
  if (shown) put(stderr, QStringLiteral("\r\033[K"));
  result.termPicked = picked;
  if (json) {
    const QByteArray bytes = check::formatFileJson(result);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
  } else {
    put(result.error.isEmpty() ? stdout : stderr, check::formatFileTable(result));
  }
  std::fflush(stdout);
  return result.cancelled ? kInterrupted : result.exitStatus();
}

// findlark-check --audit: the files under one folder against every
// selected index.
int auditMain(const std::vector<check::Backend*>& backends, const QString& folder, bool json, bool terminal) {
  bool shown = false;
  const check::AuditResult result = check::auditFolder(
      backends, folder,
      [&](const check::AuditProgress& p) {
        if (!terminal) return;
        QString line;
        switch (p.stage) {
          case check::AuditProgress::Stage::Walking: line = QStringLiteral("walking: %1 files").arg(p.files); break;
          case check::AuditProgress::Stage::Listing:
            line = QStringLiteral("%1 files; listing %2").arg(p.files).arg(p.index);
            break;
          case check::AuditProgress::Stage::Explaining:
            line = QStringLiteral("%1 files; explaining what %2 lacks: %3 of %4").arg(p.files).arg(p.index).arg(p.done).arg(p.total);
            break;
        }
        put(stderr, QStringLiteral("\r\033[K") + line);
        std::fflush(stderr);
        shown = true;
      },
      &gCancel);
  if (shown) put(stderr, QStringLiteral("\r\033[K"));
  if (json) {
    const QByteArray bytes = check::formatAuditJson(result);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
  } else {
    put(result.error.isEmpty() ? stdout : stderr, check::formatAuditText(result));
  }
  std::fflush(stdout);
  return result.cancelled ? kInterrupted : result.exitStatus();
}

}  // namespace

int findlarkCheckMain(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> operands;
  if (const auto fault = mdindex::tools::readOptions<Options>(args, kOptions, o, operands)) {
    return usage(fault->error == mdindex::tools::ArgumentError::UnknownOption
                     ? QStringLiteral("unknown option ") + QString::fromStdString(fault->option)
                     : QStringLiteral("option ") + QString::fromStdString(fault->option) +
                           QStringLiteral(" needs a value"));
  }
  if (o.help) {
    put(stdout, helpText());
    return 0;
  }
  if (!operands.empty()) return usage(QStringLiteral("unexpected argument ") + QString::fromStdString(operands[0]));

  if (o.auditGiven && (o.fileGiven || o.termGiven || o.keep || o.timeoutGiven || !o.folder.empty() || o.suiteGiven))
    return usage(QStringLiteral("--audit goes with --index and --format table|json only"));
  if (o.termGiven && !o.fileGiven) return usage(QStringLiteral("--term goes with --file"));
  if (o.fileGiven && (o.keep || !o.folder.empty() || o.suiteGiven))
    return usage(QStringLiteral("--keep, --folder and --suite are for the sample check, not --file"));
  const QString format = QString::fromStdString(o.format);
  if (format != QLatin1String("table") && format != QLatin1String("json") &&
      (format != QLatin1String("markdown") || o.fileGiven || o.auditGiven))
    return usage(QStringLiteral("--format takes table, json") +
                 (o.fileGiven || o.auditGiven ? QStringLiteral(" (markdown is for a suite), not ")
                                              : QStringLiteral(" or markdown, not ")) +
                 format);
  const bool json = format == QLatin1String("json");
  check::CheckOptions options;
  options.suite = QString::fromStdString(o.suite);
  if (!check::suiteNames().contains(options.suite))
    return usage(QStringLiteral("unknown suite \"") + options.suite + QStringLiteral("\"; known: ") +
                 check::suiteNames().join(QStringLiteral(", ")));
  options.keep = o.keep;
  if (o.fileGiven) options.timeoutSeconds = 10;
  if (o.timeoutGiven) {
    bool ok = false;
    const int seconds = QString::fromStdString(o.timeout).toInt(&ok);
    if (!ok || seconds < 1 || seconds > 86400)
      return usage(QStringLiteral("--timeout takes whole seconds from 1 to 86400, not ") +
                   QString::fromStdString(o.timeout));
    options.timeoutSeconds = seconds;
  }
  if (!o.folder.empty()) {
    const std::optional<QString> folder = absolute(o.folder);
    if (!folder) return usage(QStringLiteral("cannot resolve ") + QString::fromStdString(o.folder));
    options.parent = *folder;
  }
  QString file;
  if (o.fileGiven) {
    const std::optional<QString> path = absolute(o.file);
    if (!path || o.file.empty()) return usage(QStringLiteral("cannot resolve --file ") + QString::fromStdString(o.file));
    file = QDir::cleanPath(*path);
  }
  QString auditFolder;
  if (o.auditGiven) {
    const std::optional<QString> path = absolute(o.audit);
    if (!path || o.audit.empty()) return usage(QStringLiteral("cannot resolve --audit ") + QString::fromStdString(o.audit));
    auditFolder = QDir::cleanPath(*path);
  }
  if (o.termGiven) {
    const QString term = QString::fromStdString(o.term).trimmed();
    if (term.isEmpty() || term.contains(QLatin1Char(' ')))
      return usage(QStringLiteral("--term takes one word, not \"") + QString::fromStdString(o.term) + QLatin1Char('"'));
    options.term = term;
  }

  // The selected backends, each once, in the order named.
  QStringList names;
  for (const std::string& n : o.indexes) {
    const QString name = QString::fromStdString(n);
    if (name == QLatin1String("all")) {
      options.ignoreNotInstalled = true;
      for (const QString& known : check::knownBackendNames())
        if (!names.contains(known)) names.append(known);
      continue;
    }
    if (!check::knownBackendNames().contains(name))
      return usage(QStringLiteral("unknown index \"") + name + QStringLiteral("\"; known: ") +
                   check::knownBackendNames().join(QStringLiteral(", ")) + QStringLiteral(", all"));
    if (!names.contains(name)) names.append(name);
  }
  if (names.isEmpty() && (o.fileGiven || o.auditGiven)) {
    // Every index this machine has.
    for (const QString& known : check::knownBackendNames())
      if (check::makeBackend(known)->installed()) names.append(known);
  }
  if (names.isEmpty()) names.append(QStringLiteral("mdindex"));
  std::vector<std::unique_ptr<check::Backend>> owned;
  std::vector<check::Backend*> backends;
  for (const QString& name : names) {
    owned.push_back(check::makeBackend(name));
    backends.push_back(owned.back().get());
  }

  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  if (o.auditGiven) return auditMain(backends, auditFolder, json, terminal);
  if (o.fileGiven) return fileMain(backends, file, o.termGiven ? options.term : QString(), options.timeoutSeconds,
                                   json, terminal);
  check::Check c(options);
  bool shown = false;
  const check::CheckResult result = c.run(
      backends,
      [&](const check::CheckProgress& p) {
        if (!terminal) return;
        showProgress(p);
        shown = true;
      },
      &gCancel);
  if (shown) put(stderr, QStringLiteral("\r\033[K"));
  if (json) {
    const QByteArray bytes = check::formatJson(result);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
  } else if (format == QLatin1String("markdown")) {
    put(stdout, check::formatMarkdown(result));
  } else {
    put(stdout, check::formatTable(result));
  }
  std::fflush(stdout);
  return result.cancelled ? kInterrupted : result.exitStatus();
}

}  // namespace findlark::tools
