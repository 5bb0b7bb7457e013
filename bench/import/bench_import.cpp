// Import benchmark: one corpus, every figure side by side in one run.
//   - `mdimport DIR` into a fresh store: files per second, CPU per file (the
//     tool and its import helper together), peak memory;
//   - the service's first crawl of the same corpus (mdindexd in a scratch
//     HOME): files per second, CPU per file, peak memory of the service;
//   - SQLite's floor: its shell writing one FTS5 row and eight attribute
//     rows per file in one transaction (sqliteFloor());
//   - recollindex over the same corpus (when installed), the same figures;
//   - the store's size beside the corpus and Recoll's index, table by table;
//   - system calls per file of `mdimport DIR` (when strace is installed);
//   - the median time of one `mdimport -t -d1 FILE` process.
//
// Usage: bench_import [--files N] [--mixed | --containers | --kinds | --tiny] [--compare BINDIR]
//                     [--no-peer] [--no-strace]
//   --files N         corpus size (default 10000; 300000 for the large crawl)
//   --mixed           ten kinds of file (text, HTML, RTF, plist, PDF, PNG, JPEG)
//                     instead of small text and HTML files only
//   --containers      ten kinds of file that hold their words inside a
//                     container format: mail (.eml, generated, and an mbox),
//                     music (MP3, FLAC, Ogg, Opus, M4A, WAV), Word 97 .doc, ZIP
//   --kinds           ten newer kinds: SVG, PNG with text chunks, JPEG with
//                     XMP and IPTC, TIFF with a description, flat
//                     OpenDocument, Word with comments, LaTeX, YAML, Python,
//                     and Chinese text carrying user.xdg.tags
//   --tiny            one-line text files only
//   --compare BINDIR  also run the mdimport and crawl rows with the tools in
//                     BINDIR (another build), for before/after figures
// Everything happens in a scratch folder under /var/tmp, removed at the end.
// Nothing is asserted.
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "../../tests/support/process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

const char* kWords[] = {"cattle", "meadow", "barn", "tractor", "harvest", "fence", "river", "orchard",
                        "grain", "silo", "pasture", "herd", "dairy", "market", "weather", "field"};

std::string sentence(unsigned seed, int words) {
  std::string s;
  for (int i = 0; i < words; ++i) {
    seed = seed * 1103515245u + 12345u;
    if (i) s += ' ';
    s += kWords[(seed >> 16) % 16];
  }
  return s;
}

enum class Corpus { Small, Mixed, Containers, Kinds, Tiny };

// The container kinds: a generated message (kind 0), else copies of the
// committed samples (tests/data/<folder>/<file>).
const char* const kContainerSamples[] = {nullptr,           "mail/mailbox.mbox", "audio/tagged.mp3",
                                         "audio/tagged.flac", "audio/tagged.ogg", "audio/tagged.opus",
                                         "audio/tagged.m4a",  "audio/tagged.wav", "word97/basic.doc",
                                         "archives/basic.zip"};

// File `i` of the newer kinds' corpus at `base` (without its extension):
// copies of committed inputs and generated text formats, ten kinds in turn.
void makeNewerKind(const std::string& base, int i, const std::string& text) {
  const std::string data = FINDLARK_TEST_DATA_DIR;
  const char* chinese[] = {"我们", "在", "图书馆", "里", "找到", "了", "蝴蝶", "标本"};
  switch (i % 10) {
    case 0: fs::copy_file(data + "/importers/drawing.svg", base + ".svg"); break;
    case 1: fs::copy_file(data + "/importers/described.png", base + ".png"); break;
    case 2: fs::copy_file(data + "/importers/described.jpg", base + ".jpg"); break;
    case 3: fs::copy_file(data + "/importers/described.tiff", base + ".tiff"); break;
    case 4: fs::copy_file(data + "/office/basic.fodt", base + ".fodt"); break;
    case 5: fs::copy_file(data + "/office/basic.docx", base + ".docx"); break;
    case 6: std::ofstream(base + ".tex") << "\\section{Notes}\n\\emph{" << text << "}\n"; break;
    case 7: std::ofstream(base + ".yaml") << "note: " << text << "\n"; break;
    case 8: std::ofstream(base + ".py") << "# " << text << "\nprint('done')\n"; break;
    case 9: {
      std::string zh;
      for (int w = 0; w < 40; ++w) zh += chinese[(i + w * 7) % 8];
      std::ofstream(base + ".txt") << zh << "。\n";
      const std::string tags = "farm, " + std::string(kWords[i % 16]);
      setxattr((base + ".txt").c_str(), "user.xdg.tags", tags.data(), tags.size(), 0);
      break;
    }
  }
}

// Small text and HTML files in turn (40 words each); or ten kinds of file in
// turn: generated text formats and copies of the committed PDF and
// pictures; or one-line text files. 500 files to a folder.
void makeCorpus(const fs::path& dir, int count, Corpus corpus) {
  const std::string data = FINDLARK_TEST_DATA_DIR "/importers/";
  for (int i = 0; i < count; ++i) {
    const fs::path sub = dir / ("d" + std::to_string(i / 500));
    if (i % 500 == 0) fs::create_directories(sub);
    const std::string base = (sub / ("f" + std::to_string(i))).string();
    if (corpus == Corpus::Tiny) {
      std::ofstream(base + ".txt") << "tiny note " << i << " " << kWords[i % 16] << "\n";
      continue;
    }
    const std::string text = sentence(static_cast<unsigned>(i), 40);
    if (corpus == Corpus::Containers) {
      if (const char* sample = kContainerSamples[i % 10]) {
        const std::string name = sample;
        fs::copy_file(FINDLARK_TEST_DATA_DIR "/" + name, base + name.substr(name.rfind('.')));
      } else {
        std::ofstream(base + ".eml") << "From: Ann <ann@example.org>\nTo: bob@example.org\nSubject: Note " << i
                                     << "\nDate: Tue, 14 May 2024 09:30:00 +0000\nMIME-Version: 1.0\n"
                                     << "Content-Type: text/plain; charset=utf-8\n\n"
                                     << text << "\n";
      }
      continue;
    }
    if (corpus == Corpus::Kinds) {
      makeNewerKind(base, i, text);
      continue;
    }
    const int kind = corpus == Corpus::Mixed ? i % 10 : (i % 2 == 0 ? 0 : 3);
    switch (kind) {
      case 0:
      case 1:
      case 2:
        std::ofstream(base + ".txt") << text << "\n";
        break;
      case 3:
      case 4:
        std::ofstream(base + ".html") << "<html><head><title>Doc " << i << "</title></head><body><p>" << text
                                      << "</p></body></html>\n";
        break;
      case 5:
        std::ofstream(base + ".rtf") << "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 " << text << "\\par}";
        break;
      case 6:
        std::ofstream(base + ".plist") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                                       << "<dict><key>Note</key><string>" << text << "</string></dict></plist>\n";
        break;
      case 7:
        fs::copy_file(data + "doc.pdf", base + ".pdf");
        break;
      case 8:
        fs::copy_file(data + "camera.png", base + ".png");
        break;
      case 9:
        fs::copy_file(data + "camera.jpg", base + ".jpg");
        break;
    }
  }
}

std::string megabytes(uint64_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MB", bytes / 1e6);
  return buf;
}

uint64_t bytesUnder(const fs::path& dir) {
  uint64_t total = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (it->is_regular_file(ec)) total += it->file_size(ec);
  return total;
}

// What one run of a program cost: wall time, and from wait4() the CPU time
// and peak resident memory of the program and the children it reaped (the
// import helpers, Recoll's filters).
struct Cost {
  double wall = 0, cpu = 0;
  long peakKb = 0;
  int exit = -1;
};

Cost reap(pid_t pid, Clock::time_point start) {
  Cost c;
  int status = 0;
  struct rusage ru {};
  if (pid > 0 && wait4(pid, &status, 0, &ru) == pid) {
    c.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    c.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    c.peakKb = ru.ru_maxrss;
  }
  c.wall = seconds(start, Clock::now());
  return c;
}

Cost runMeasured(const std::vector<std::string>& argv) {
  const auto start = Clock::now();
  return reap(support::startProcess(argv, "/dev/null", "/dev/null"), start);
}

void printRow(const std::string& who, int files, const Cost& c, const std::string& extra = "") {
  std::printf("  %-30s %9.0f files/s  %6.1f µs CPU/file  %7.2f s  peak %6.1f MB%s%s\n", who.c_str(),
              files / c.wall, c.cpu / files * 1e6, c.wall, c.peakKb / 1024.0, extra.empty() ? "" : "  ",
              extra.c_str());
}

// One value from a store of any format, read without the store's own code
// (which would refuse, or migrate, a store of another format).
std::optional<std::string> sqlValue(const fs::path& db, const std::string& sql) {
  sqlite3* h = nullptr;
  std::optional<std::string> out;
  if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(h, 1000);
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(h, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW &&
        sqlite3_column_text(s, 0))
      out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
  }
  sqlite3_close(h);
  return out;
}

// The service's first crawl of HOME, until it says it is idle with every
// file stored; then its peak memory, and its CPU once it has stopped.
std::optional<Cost> crawl(const std::string& bin, const fs::path& index, int files) {
  std::error_code ec;
  fs::remove_all(index, ec);
  const auto start = Clock::now();
  const pid_t pid = support::startProcess({bin + "/mdindexd", "--foreground"}, "/dev/null", "/dev/null");
  if (pid < 0) return std::nullopt;
  const fs::path db = index / "index.sqlite";
  const bool done = support::waitUntil(
      [&] {
        return sqlValue(db, "SELECT value FROM settings WHERE key = 'service.state'") == "idle" &&
               std::atol(sqlValue(db, "SELECT count(*) FROM items").value_or("0").c_str()) >= files;
      },
      std::chrono::hours(2), 50ms);
  const auto end = Clock::now();
  const long peak = support::procStatusKb(pid, "VmHWM:");
  kill(pid, SIGTERM);
  Cost c = reap(pid, start);
  c.wall = seconds(start, end);
  c.peakKb = peak;
  if (!done) return std::nullopt;
  return c;
}

// SQLite's floor for the same work: its own shell, on one thread, reads
// every file with fsdir() and writes, in one transaction, one FTS5 row
// (name and text) and eight attribute rows (into a table shaped and indexed
// as the store's) per file. The data is read once, into a temporary table.
Cost sqliteFloor(const fs::path& corpus, const fs::path& root) {
  const fs::path db = root / "floor.sqlite", script = root / "floor.sql";
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db.string() + suffix, ec);
  std::string quoted;
  for (char ch : corpus.string()) quoted += ch == '\'' ? std::string("''") : std::string(1, ch);
  std::ofstream(script) << R"sql(
PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;
CREATE TABLE attrs(item INTEGER NOT NULL, name INTEGER NOT NULL, idx INTEGER NOT NULL, kind INTEGER NOT NULL,
  str TEXT, num REAL, PRIMARY KEY(item, name, idx)) WITHOUT ROWID;
CREATE INDEX attrs_by_string ON attrs(name, str) WHERE str IS NOT NULL;
CREATE INDEX attrs_by_number ON attrs(name, num) WHERE num IS NOT NULL;
CREATE VIRTUAL TABLE fts USING fts5(name, body, detail = column, prefix = '2 3');
BEGIN;
CREATE TEMP TABLE f AS SELECT row_number() OVER () AS id, name, mtime, CAST(data AS TEXT) AS body
  FROM fsdir(')sql" << quoted << R"sql(') WHERE mode & 61440 = 32768;
INSERT INTO fts(rowid, name, body) SELECT id, name, body FROM f;
INSERT INTO attrs SELECT f.id, n.value, 0, n.value % 2, CASE WHEN n.value < 5 THEN f.name END,
  CASE WHEN n.value >= 5 THEN f.mtime + n.value END FROM f, generate_series(1, 8) n;
COMMIT;
)sql";
  return runMeasured({"sqlite3", db.string(), ".read " + script.string()});
}

// The store's pages by what they hold (SQLite's dbstat table), in all and
// per item, and the attribute rows per item.
void printStoreBreakdown(const fs::path& db) {
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return;
  const double items = std::max(1.0, std::atof(sqlValue(db, "SELECT count(*) FROM items").value_or("1").c_str()));
  std::printf("    %.2f attribute rows per item, %.0f content types\n",
              std::atof(sqlValue(db, "SELECT count(*) FROM attrs").value_or("0").c_str()) / items,
              std::atof(sqlValue(db, "SELECT count(DISTINCT uti) FROM type_rows").value_or("0").c_str()));
  std::map<std::string, double> parts;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(h, "SELECT name, sum(pgsize) FROM dbstat GROUP BY name", -1, &s, nullptr) == SQLITE_OK) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
      const double mb = sqlite3_column_double(s, 1) / 1e6;
      std::string part = "other (settings, schema)";
      if (name == "attrs") part = "attribute rows";
      else if (name.rfind("attrs_by_", 0) == 0) part = "attribute indexes (by string, by number)";
      else if (name == "names") part = "attribute names";
      else if (name == "texts") part = "the text (exact matching)";
      else if (name == "type_rows") part = "type attributes, once per type";
      else if (name == "fts_content") part = "FTS5 copy of the indexed columns";
      else if (name == "fts_data" || name == "fts_idx") part = "FTS5 index";
      else if (name == "fts_docsize") part = "FTS5 column sizes";
      else if (name.rfind("items", 0) == 0 || name == "sqlite_autoindex_items_1") part = "items and their path index";
      parts[part] += mb;
    }
  } else {
    std::printf("  (no breakdown: this SQLite has no dbstat table)\n");
  }
  sqlite3_finalize(s);
  sqlite3_close(h);
  std::vector<std::pair<double, std::string>> sorted;
  for (const auto& [part, mb] : parts) sorted.emplace_back(mb, part);
  std::sort(sorted.rbegin(), sorted.rend());
  for (const auto& [mb, part] : sorted)
    std::printf("    %-44s %7.2f MB  %7.1f bytes/item\n", part.c_str(), mb, mb * 1e6 / items);
}

// `strace -c -f` of one `mdimport DIR`: calls per file, largest first.
void printSyscalls(const std::string& bin, const fs::path& corpus, const fs::path& index, const fs::path& out,
                   int files) {
  std::error_code ec;
  fs::remove_all(index, ec);
  support::waitExit(support::startProcess(
      {"strace", "-c", "-f", "-o", out.string(), bin + "/mdimport", corpus.string()}, "/dev/null", "/dev/null"));
  std::ifstream in(out);
  std::vector<std::pair<long, std::string>> calls;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    // "% time  seconds  usecs/call  calls  [errors]  syscall"
    if (f.size() < 5 || !std::isdigit(static_cast<unsigned char>(f[0][0])) || f.back() == "total") continue;
    calls.emplace_back(std::atol(f[3].c_str()), f.back());
  }
  std::sort(calls.rbegin(), calls.rend());
  long total = 0;
  for (const auto& c : calls) total += c.first;
  std::printf("  %.1f system calls per file in all; the most frequent:\n", double(total) / files);
  for (size_t i = 0; i < calls.size() && i < 14; ++i)
    std::printf("    %-14s %6.2f per file\n", calls[i].second.c_str(), double(calls[i].first) / files);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures show as they come
  int count = 10000;
  Corpus kind = Corpus::Small;
  bool peer = true, traced = true;
  std::vector<std::string> compare;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--files" && i + 1 < argc) count = std::max(10, std::atoi(argv[++i]));
    else if (a == "--mixed") kind = Corpus::Mixed;
    else if (a == "--containers") kind = Corpus::Containers;
    else if (a == "--kinds") kind = Corpus::Kinds;
    else if (a == "--tiny") kind = Corpus::Tiny;
    else if (a == "--compare" && i + 1 < argc) compare.push_back(fs::absolute(argv[++i]).string());
    else if (a == "--no-peer") peer = false;
    else if (a == "--no-strace") traced = false;
    else {
      std::fprintf(stderr,
                   "usage: bench_import [--files N] [--mixed | --containers | --kinds | --tiny] [--compare BINDIR] "
                   "[--no-peer] [--no-strace]\n");
      return 64;
    }
  }
  const std::string bin = FINDLARK_BIN_DIR;
  std::string tmpl = "/var/tmp/findlark-bench-import-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path root = tmpl, home = root / "home", corpus = home / "corpus", index = root / "index";
  for (const auto& d : {home, root / "volumes", root / "run"}) fs::create_directories(d);
  setenv("HOME", home.c_str(), 1);
  setenv("FINDLARK_INDEX_DIR", index.c_str(), 1);
  setenv("FINDLARK_VOLUMES_ROOT", (root / "volumes").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);

  makeCorpus(corpus, count, kind);
  const uint64_t corpusBytes = bytesUnder(corpus);
  const char* what = kind == Corpus::Mixed        ? "mixed (txt, html, rtf, plist, pdf, png, jpg)"
                     : kind == Corpus::Containers ? "container (eml, mbox, mp3, flac, ogg, opus, m4a, wav, doc, zip)"
                     : kind == Corpus::Kinds      ? "newer kinds (svg, png, jpg, tiff, fodt, docx, tex, yaml, py, tagged txt)"
                     : kind == Corpus::Tiny       ? "one-line text"
                                                  : "small text and HTML";
  std::printf("corpus: %d %s files, %.1f MB, in %s\n\n", count, what, corpusBytes / 1e6, corpus.c_str());

  std::vector<std::string> bins = {bin};
  bins.insert(bins.end(), compare.begin(), compare.end());
  const auto label = [&](const char* what, const std::string& b) {
    return b == bin ? std::string(what) : std::string(what) + " (" + b + ")";
  };
  double oursImport = 0, oursCrawl = 0, oursCpu = 0;
  uint64_t storeBytes = 0;
  std::printf("import of the whole corpus:\n");
  for (const auto& b : bins) {
    setenv("FINDLARK_TOOL_DIR", b.c_str(), 1);
    std::error_code ec;
    fs::remove_all(index, ec);
    const Cost c = runMeasured({b + "/mdimport", corpus.string()});
    const uint64_t bytes = bytesUnder(index);
    printRow(label("mdimport DIR", b), count, c, "exit " + std::to_string(c.exit) + ", store " + megabytes(bytes));
    if (b == bin) {
      oursImport = count / c.wall;
      oursCpu = c.cpu / count;
      storeBytes = bytes;
    }
  }
  const fs::path storeCopy = root / "mdimport-store.sqlite";
  {
    // The store as mdimport left it, for the breakdown below.
    std::error_code ec;
    setenv("FINDLARK_TOOL_DIR", bin.c_str(), 1);
    fs::remove_all(index, ec);
    runMeasured({bin + "/mdimport", corpus.string()});
    fs::copy_file(index / "index.sqlite", storeCopy, ec);
  }
  for (const auto& b : bins) {
    setenv("FINDLARK_TOOL_DIR", b.c_str(), 1);
    if (const auto c = crawl(b, index, count)) {
      printRow(label("mdindexd first crawl", b), count, *c, "store " + megabytes(bytesUnder(index)));
      if (b == bin) oursCrawl = count / c->wall;
    } else {
      std::printf("  %-30s did not finish\n", label("mdindexd first crawl", b).c_str());
    }
  }
  setenv("FINDLARK_TOOL_DIR", bin.c_str(), 1);

  if (support::waitExit(support::startProcess({"sh", "-c", "command -v sqlite3"}, "/dev/null", "")) == 0) {
    const Cost c = sqliteFloor(corpus, root);
    printRow("floor: sqlite3 shell, fsdir()", count, c, "exit " + std::to_string(c.exit));
    std::printf("  mdimport DIR / floor: %.2f× the files/s, %.2f× the CPU per file\n", oursImport / (count / c.wall),
                oursCpu / (c.cpu / count));
  } else {
    std::printf("  floor: the sqlite3 shell is not installed (apt-get install sqlite3)\n");
  }

  uint64_t recollBytes = 0;
  if (peer && support::waitExit(support::startProcess({"sh", "-c", "command -v recollindex"}, "/dev/null", "")) == 0) {
    const fs::path conf = root / "recoll";
    fs::create_directories(conf);
    std::ofstream(conf / "recoll.conf") << "topdirs = " << corpus.string() << "\n"
                                        << "dbdir = " << (conf / "xapiandb").string() << "\n";
    const Cost c = runMeasured({"recollindex", "-c", conf.string(), "-z"});
    recollBytes = bytesUnder(conf / "xapiandb");
    printRow("recollindex", count, c, "exit " + std::to_string(c.exit));
    std::printf("  mdimport DIR / recollindex: %.2f×   first crawl / recollindex: %.2f×\n", oursImport / (count / c.wall),
                oursCrawl / (count / c.wall));
  } else if (peer) {
    std::printf("  recollindex: not installed (apt-get install recollcmd)\n");
  }

  std::printf("\nsizes: corpus %.1f MB, store after mdimport DIR %.1f MB", corpusBytes / 1e6, storeBytes / 1e6);
  if (recollBytes) std::printf(", Recoll's index %.1f MB (store / Recoll %.2f)", recollBytes / 1e6, double(storeBytes) / recollBytes);
  std::printf("\n");
  printStoreBreakdown(storeCopy);

  if (traced && support::waitExit(support::startProcess({"sh", "-c", "command -v strace"}, "/dev/null", "")) == 0) {
    std::printf("\nsystem calls of mdimport DIR and its import helper (strace -c -f):\n");
    printSyscalls(bin, corpus, index, root / "strace.txt", count);
  }

  std::printf("\none mdimport -t -d1 FILE process (median of 41):\n");
  using Singles = std::vector<std::pair<std::string, int>>;
  const Singles singles = kind == Corpus::Mixed        ? Singles{{"txt", 0}, {"pdf", 7}, {"jpg", 9}}
                          : kind == Corpus::Containers ? Singles{{"eml", 0}, {"mp3", 2}, {"doc", 8}, {"zip", 9}}
                          : kind == Corpus::Kinds      ? Singles{{"svg", 0}, {"png", 1}, {"txt", 9}}
                          : kind == Corpus::Tiny       ? Singles{{"txt", 0}}
                                                       : Singles{{"txt", 0}, {"html", 1}};
  for (const auto& [ext, index] : singles) {
    const std::string file = (corpus / "d0" / ("f" + std::to_string(index) + "." + ext)).string();
    std::vector<double> times;
    for (int i = 0; i < 41; ++i) times.push_back(runMeasured({bin + "/mdimport", "-t", "-d1", file}).wall * 1000);
    std::nth_element(times.begin(), times.begin() + 20, times.end());
    std::printf("  .%-5s %6.2f ms\n", ext.c_str(), times[20]);
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
