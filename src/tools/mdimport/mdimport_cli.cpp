#include "mdimport_cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <thread>

#include "mdindex/core/attributes.h"
#include "mdindex/core/paths.h"
#include "mdindex/core/plist.h"
#include "mdindex/core/recognition_config.h"
#include "mdindex/core/service_lock.h"
#include "mdindex/importers/import.h"
#include "mdindex/importers/importer.h"
#include "mdindex/importers/report.h"
#include "mdindex/importers/sandbox.h"
#include "mdindex/service/control.h"
#include "mdindex/service/exclusions.h"
#include "mdindex/service/pipeline.h"
#include "mdindex/store/store.h"
#include "tools/common/operand_path.h"
#include "tools/common/options.h"

namespace mdindex::tools {

namespace {

namespace fs = std::filesystem;

constexpr const char* kBuiltIn = "built-in: ";

constexpr const char* kUsage =
    "usage: mdimport [-t] [-d1|-d2|-d3|-d4 | -d LEVEL] [-L] [-A] [-X] [-r IMPORTER] path ...\n"
    "       mdimport --sandbox-test\n"
    "import files into the metadata index, or test how they are imported\n"
    "  -t        test the import only: nothing is written to the index\n"
    "  -d1       print one line per item naming its type and importer (the default with -t)\n"
    "  -d2       also print the attributes found, except kMDItemTextContent\n"
    "  -d3       also print kMDItemTextContent\n"
    "  -d4       also print the time the importer took: \"Importer <name> took <s> s.\";\n"
    "            the files go one at a time through the sandboxed import helper (with -t\n"
    "            too), and a last line tells its sandbox: \"Import sandbox: <state>.\"\n"
    "  -d LEVEL  the same, the level (1 to 4) as a separate argument\n"
    "  -L        list the importers (built into mdimport; none is a file on disk)\n"
    "  -A        list every attribute the importers can set: name, type, description\n"
    "  -X        print that schema as an XML property list\n"
    "  -r NAME   import again, through the index service, every indexed file that the\n"
    "            importer NAME handled (a name -L lists, with or without \".mdimporter\")\n"
    "  --sandbox-test  start an import helper, let it enter its sandbox and try from inside\n"
    "            what a hostile document that took it over would try (read a file in the\n"
    "            home folder, write in /tmp, open a socket, connect to 127.0.0.1, run\n"
    "            /bin/true, signal or trace its parent, mount): one line per attempt,\n"
    "            \"blocked\" or \"ALLOWED\"; exit status 1 when anything was allowed\n"
    "Reports go to standard output, problems to standard error. Folders are imported\n"
    "recursively, leaving out what the index service leaves out (hidden names, *.noindex\n"
    "folders, folders holding .metadata_never_index, links, FIFOs, devices); with -t a\n"
    "folder is reported as one item.\n"
    "Words in pictures and in PDF pages without text are recognised unless\n"
    "textRecognition = off is set in $XDG_CONFIG_HOME/findlark/mdindex.conf.\n"
    "Exit status: 0 when every path was imported, 1 when any failed, 64 on bad usage.\n";

struct Options {
  bool test = false;
  int debug = -1;  // -1: not given
  std::string badLevel;  // a -d value that is no level
  bool list = false;
  bool attributes = false;
  bool schema = false;
  std::optional<std::string> reimport;  // -r NAME
  bool help = false;
  bool sandboxTest = false;
  std::vector<std::string> paths;
};

// The option table: one row per flag.
constexpr OptionRow<Options> kOptions[] = {
    {"-t", false, [](Options& o, const std::string&) { o.test = true; }},
    {"-d1", false, [](Options& o, const std::string&) { o.debug = 1; }},
    {"-d2", false, [](Options& o, const std::string&) { o.debug = 2; }},
    {"-d3", false, [](Options& o, const std::string&) { o.debug = 3; }},
    {"-d4", false, [](Options& o, const std::string&) { o.debug = 4; }},
    {"-d", true,
     [](Options& o, const std::string& v) {
       if (v.size() == 1 && v[0] >= '1' && v[0] <= '4') o.debug = v[0] - '0';
       else o.badLevel = v;
     }},
    {"-L", false, [](Options& o, const std::string&) { o.list = true; }},
    {"-A", false, [](Options& o, const std::string&) { o.attributes = true; }},
    {"-X", false, [](Options& o, const std::string&) { o.schema = true; }},
    {"-r", true, [](Options& o, const std::string& v) { o.reimport = v; }},
    {"-h", false, [](Options& o, const std::string&) { o.help = true; }},
    {"--help", false, [](Options& o, const std::string&) { o.help = true; }},
    {"--sandbox-test", false, [](Options& o, const std::string&) { o.sandboxTest = true; }},
};

// The import limits the recognition settings ask for; their problems (bad
// lines, missing language data) are told on `err` and never stop an import.
ImportLimits limitsFromSettings(std::ostream& err) {
  RecognitionConfig c = readRecognitionConfig();
  for (const auto& p : c.problems) err << "mdimport: " << p << "\n";
  if (!c.enabled) return {};
  const auto missing = missingRecognitionLanguages(c.languages);
  if (!missing.empty()) {
    err << "mdimport: text recognition: " << missingLanguagesLine(missing) << "\n";
    std::erase_if(c.languages, [&](const std::string& l) {
      return std::find(missing.begin(), missing.end(), l) != missing.end();
    });
    if (c.languages.empty()) return {};
  }
  return recognitionLimits(c.languageSpec());
}

// Parses `args`; on a bad option writes the complaint to `err` and returns false.
bool parse(const std::vector<std::string>& args, Options& o, std::ostream& err) {
  const auto fault = readOptions<Options>(args, kOptions, o, o.paths);
  if (fault && fault->error == ArgumentError::MissingValue) {
    err << "mdimport: option " << fault->option << " needs a level (1 to 4)\n" << kUsage;
    return false;
  }
  if (fault) {
    err << "mdimport: unknown option " << mdindex::quoted(fault->option, '\'') << "\n" << kUsage;
    return false;
  }
  if (!o.badLevel.empty()) {
    err << "mdimport: -d takes a level from 1 to 4, not " << mdindex::quoted(o.badLevel, '\'') << "\n" << kUsage;
    return false;
  }
  return true;
}

class Run {
 public:
  Run(const Options& o, std::ostream& out, std::ostream& err)
      : o_(o), out_(out), err_(err), limits_(limitsFromSettings(err)), session_(limits_) {
    level_ = o.debug >= 0 ? o.debug : (o.test ? 1 : 0);
  }

  // The importers are compiled into mdimport: each is listed as
  // "built-in: <name>", never as a path that is not on disk.
  int listImporters() {
    out_ << "Paths: id(" << getuid() << ") (\n";
    const auto all = allImporters();
    for (size_t i = 0; i < all.size(); ++i)
      out_ << "    " << mdindex::quoted(std::string(kBuiltIn) + all[i]->name()) << (i + 1 < all.size() ? ",\n" : "\n");
    out_ << ")\n";
    return 0;
  }

  // One line per attribute of core's table: the name padded to the
  // longest, the type padded, the description.
  int listAttributes() {
    size_t nameWidth = 0, typeWidth = 0;
    for (const auto& a : attributeTable()) {
      nameWidth = std::max(nameWidth, std::string_view(a.name).size());
      typeWidth = std::max(typeWidth, std::string_view(kindName(a.kind)).size());
    }
    for (const auto& a : attributeTable()) {
      std::string line = a.name;
      line.resize(nameWidth + 2, ' ');
      line += kindName(a.kind);
      line.resize(nameWidth + 2 + typeWidth + 2, ' ');
      line += a.description;
      if (a.longText) line += " (running text: == and != compare each word)";
      out_ << line << "\n";
    }
    return 0;
  }

  // The same table as a property list: attribute name -> {type, description,
  // longText}.
  int printSchema() {
    PlistPtr root(plist_new_dict());
    for (const auto& a : attributeTable()) {
      plist_t entry = plist_new_dict();
      plist_dict_set_item(entry, "type", plist_new_string(kindName(a.kind)));
      plist_dict_set_item(entry, "description", plist_new_string(a.description));
      plist_dict_set_item(entry, "longText", plist_new_bool(a.longText ? 1 : 0));
      plist_dict_set_item(root.get(), a.name, entry);
    }
    std::string xml;
    if (!plistToXml(root.get(), xml)) {
      err_ << "mdimport: cannot write the schema\n";
      return 1;
    }
    out_ << xml;
    return 0;
  }

  // In this process; at -d4 through the sandboxed helper, as the service
  // imports, so that the times and the sandbox line are the service's.
  int test() {
    for (const auto& p : o_.paths) {
      const std::string path = absolutePath(p);
      if (!exists(p, path)) continue;
      const auto start = std::chrono::steady_clock::now();
      const ImportResult r = level_ >= 4 ? session_.import(path) : importFile(path, limits_);
      report(path, r, std::chrono::steady_clock::now() - start);
    }
    reportSandbox();
    return failed_ ? 1 : 0;
  }

  // Folders are walked and imported on this thread and written to the
  // store on a second one, so that walking, the import helper and SQLite
  // each get a core. Everything printed goes through the writer, in the
  // order the files were walked.
  int import() {
    std::string error;
    auto store = Store::open(indexDir(), Store::Mode::ReadWrite, &error);
    if (!store) {
      err_ << "mdimport: cannot open the index at " << mdindex::quoted(indexDir(), '\'') << ": " << error << "\n";
      return 1;
    }
    // Per-file times (-d4) need one file at a time with the helper.
    window_ = level_ >= 4 ? 1 : GuardedImportSession::kInFlight;
    std::thread writer([this, &store] { writeAll(*store); });
    for (const auto& p : o_.paths) {
      const std::string path = absolutePath(p);
      if (auto problem = unreadable(p, path))
        handMessage(std::move(*problem));
      else
        importTree(path);
    }
    while (session_.pending() > 0) take();
    hand({});  // the end
    writer.join();
    reportSandbox();
    return failed_ ? 1 : 0;
  }

 private:
  bool exists(const std::string& given, const std::string& path) {
    const auto problem = unreadable(given, path);
    if (!problem) return true;
    err_ << *problem << "\n";
    failed_ = true;
    return false;
  }

  // Why an operand cannot be imported, or nothing when it can be.
  static std::optional<std::string> unreadable(const std::string& given, const std::string& path) {
    struct stat st {};
    // An empty argument names no file (it must not become the current folder).
    if (!given.empty() && lstat(path.c_str(), &st) == 0) return std::nullopt;
    return "mdimport: cannot read " + mdindex::quoted(given, '\'') + ": " + std::strerror(given.empty() ? ENOENT : errno);
  }

  void report(const std::string& path, const ImportResult& r, std::chrono::steady_clock::duration took) {
    if (isFailure(r.status)) {
      err_ << "mdimport: could not import " << mdindex::quoted(path, '\'') << ": " << importStatusName(r.status) << "\n";
      failed_ = true;
      return;
    }
    if (level_ >= 1) out_ << importedLine(path, r) << "\n";
    if (level_ >= 2) out_ << attributeListing(r, level_ >= 3);
    if (level_ >= 4) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.4f", std::chrono::duration<double>(took).count());
      out_ << "Importer " << (r.importer.empty() ? std::string("(none)") : r.importer) << " took " << seconds
           << " s.\n";
    }
  }

  // -d4: the helper's sandbox, as it reported it.
  void reportSandbox() {
    if (level_ < 4) return;
    const std::string& state = session_.sandboxState();
    out_ << "Import sandbox: " << (state.empty() ? "no helper ran (no file needed an importer)" : state) << ".\n";
  }

  void importTree(const std::string& root) {
    importOne(root);
    struct stat st {};
    if (lstat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    if (service::Exclusions::hasNeverIndexMarker(root)) return;
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
    if (ec) {
      handMessage("mdimport: cannot read " + mdindex::quoted(root, '\'') + ": " + ec.message());
      return;
    }
    // Entries of a folder that can be listed but not searched cannot be
    // looked at: they are passed over, as entries that vanish are.
    std::string folder;
    bool searchable = true;
    for (; it != end; it.increment(ec)) {
      if (ec) {
        handMessage("mdimport: cannot read " + mdindex::quoted(root, '\'') + ": " + ec.message());
        break;
      }
      // What lies below follows the service's rules, so that a folder import
      // never adds what the service keeps out (and would never remove).
      const std::string path = it->path().string();
      if (std::string parent = it->path().parent_path().string(); parent != folder) {
        folder = std::move(parent);
        searchable = faccessat(AT_FDCWD, folder.c_str(), X_OK, AT_EACCESS) == 0;
      }
      const mode_t mode = searchable ? entryType(*it) : 0;
      const bool skip = rules_.classify(path, mode) == service::EntryKind::Skipped ||
                        (S_ISDIR(mode) && service::Exclusions::hasNeverIndexMarker(path));
      if (skip) {
        it.disable_recursion_pending();
        continue;
      }
      importOne(path);
    }
  }

  // The file type of a listed entry (S_IFREG, S_IFDIR, S_IFLNK, or 0 for
  // any other type or an entry gone), as the listing gave it where it did:
  // no lstat for most entries.
  static mode_t entryType(const fs::directory_entry& e) {
    std::error_code ec;
    if (e.is_symlink(ec)) return S_IFLNK;  // (never followed below)
    if (ec) return 0;
    if (e.is_regular_file(ec)) return S_IFREG;
    if (e.is_directory(ec)) return S_IFDIR;
    return 0;
  }

  // Queues `path` with the helper; hands on the oldest results while the
  // helper holds a full window.
  void importOne(const std::string& path) {
    session_.submit(path);
    while (session_.pending() >= window_) take();
  }

  void take() {
    const auto start = std::chrono::steady_clock::now();
    GuardedImportSession::Done done = session_.next();
    Work w;
    w.took = std::chrono::steady_clock::now() - start;
    w.path = std::move(done.path);
    w.result = std::move(done.result);
    // The report lists attributes and text only from -d2 on: below that
    // they move into the record instead of being copied.
    if (!w.result.attributes.empty()) w.record = service::recordOfImport(w.path, w.result, level_ >= 2);
    hand(std::move(w));
  }

  // What the walk hands the writer: an import result to store and report,
  // or a message for standard error; an empty path ends the run.
  struct Work {
    std::string path;
    ImportResult result;
    std::optional<ItemRecord> record;  // none when the file was gone
    std::chrono::steady_clock::duration took{};
    std::string message;
  };

  // After the results of the files before it, so that output keeps the
  // order of the walk.
  void handMessage(std::string message) {
    while (session_.pending() > 0) take();
    Work w;
    w.message = std::move(message);
    hand(std::move(w));
  }

  // Hands work on in bundles, so that the two threads do not wake each
  // other for every file.
  void hand(Work w) {
    const bool last = w.path.empty() && w.message.empty();
    bundle_.push_back(std::move(w));
    if (bundle_.size() < kBundle && !last) return;
    std::unique_lock lock(mu_);
    roomCv_.wait(lock, [&] { return work_.size() < kQueueCapacity; });
    for (Work& b : bundle_) work_.push_back(std::move(b));
    bundle_.clear();
    workCv_.notify_one();
  }

  // The writer thread: stores and reports each result, committing now and
  // then so a long run shows progress to readers. Large transactions are
  // what makes a bulk import cheap: the text index writes its pending words
  // once per transaction, and merges what it wrote before (2,048 files
  // instead of 256 took a quarter less CPU on small files); the text bound
  // keeps one transaction of large documents within reason.
  // (A run of slow files still commits every two seconds, so that readers
  // see it progress.)
  static constexpr int kFilesPerCommit = 2048;
  static constexpr size_t kTextPerCommit = 64u << 20;
  static constexpr std::chrono::seconds kTimePerCommit{2};

  void writeAll(Store& store) {
    store.begin();
    int sinceCommit = 0;
    size_t textSinceCommit = 0;
    auto lastCommit = std::chrono::steady_clock::now();
    for (;;) {
      std::vector<Work> batch;
      {
        std::unique_lock lock(mu_);
        workCv_.wait(lock, [&] { return !work_.empty(); });
        while (!work_.empty()) {
          batch.push_back(std::move(work_.front()));
          work_.pop_front();
        }
        roomCv_.notify_all();
      }
      for (Work& w : batch) {
        if (w.path.empty() && w.message.empty()) {
          if (!store.commit()) {
            err_ << "mdimport: could not write to the index\n";
            failed_ = true;
          }
          return;
        }
        if (!w.message.empty()) {
          err_ << w.message << "\n";
          failed_ = true;
          continue;
        }
        textSinceCommit += w.record ? w.record->text.size() : 0;
        write(store, w);
        if (++sinceCommit >= kFilesPerCommit || textSinceCommit >= kTextPerCommit ||
            std::chrono::steady_clock::now() - lastCommit >= kTimePerCommit) {
          if (!store.commit()) {
            err_ << "mdimport: could not write to the index\n";
            failed_ = true;
          }
          store.begin();
          sinceCommit = 0;
          textSinceCommit = 0;
          lastCommit = std::chrono::steady_clock::now();
        }
      }
    }
  }

  void write(Store& store, Work& w) {
    if (!w.record) {
      // Gone between listing and import: nothing to record.
      err_ << "mdimport: cannot read " << mdindex::quoted(w.path, '\'') << ": " << std::strerror(ENOENT) << "\n";
      failed_ = true;
      return;
    }
    if (!store.put(*w.record)) {
      err_ << "mdimport: could not write " << mdindex::quoted(w.path, '\'') << " to the index\n";
      failed_ = true;
      return;
    }
    report(w.path, w.result, w.took);
  }

  const Options& o_;
  std::ostream& out_;
  std::ostream& err_;
  int level_ = 0;
  std::atomic<bool> failed_ = false;
  ImportLimits limits_;
  GuardedImportSession session_;
  const service::Exclusions rules_{{}, indexDir()};
  size_t window_ = 1;
  static constexpr size_t kQueueCapacity = 256;
  static constexpr size_t kBundle = 32;
  std::vector<Work> bundle_;  // the walk's, not yet handed on
  std::mutex mu_;
  std::condition_variable workCv_, roomCv_;
  std::deque<Work> work_;
};

// -r NAME: the service imports again what importer NAME handled.
int reimport(const std::string& given, std::ostream& out, std::ostream& err) {
  const Importer* importer = nullptr;
  for (const Importer* i : allImporters())
    if (i->name() == given || i->name() == given + ".mdimporter") importer = i;
  if (!importer) {
    err << "mdimport: no importer is called " << mdindex::quoted(given, '\'') << "; mdimport -L lists them\n";
    return 1;
  }
  std::string error;
  const auto n = service::requestReimport(importer->name(), &error);
  if (!n) {
    err << "mdimport: " << error << "\n";
    return 1;
  }
  const auto pid = runningServicePid();
  out << "Importing again " << *n << " item" << (*n == 1 ? "" : "s") << " handled by " << importer->name();
  if (pid)
    out << " (mdindexd is doing it now).\n";
  else
    out << " when mdindexd next starts (it is not running).\n";
  return 0;
}

}  // namespace

int runMdimport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && args[0] == kImportChildFlag)
    return runImportChild(std::vector<std::string>(args.begin() + 1, args.end()));
  if (!args.empty() && args[0] == kSandboxProbeFlag)
    return runSandboxProbe(std::vector<std::string>(args.begin() + 1, args.end()));
  Options o;
  if (!parse(args, o, err)) return 64;
  if (o.help) {
    out << kUsage;
    return 0;
  }
  if (o.reimport) return reimport(*o.reimport, out, err);
  if (o.sandboxTest) return runSandboxTest(importHelperPath(), out, err);
  Run run(o, out, err);
  if (o.list) return run.listImporters();
  if (o.attributes) return run.listAttributes();
  if (o.schema) return run.printSchema();
  if (o.paths.empty()) {
    err << "mdimport: no path given\n" << kUsage;
    return 64;
  }
  return o.test ? run.test() : run.import();
}

}  // namespace mdindex::tools
