#include "tools/mdfind/cli/mdfind.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "mdindex/core/paths.h"
#include "mdindex/core/service_lock.h"
#include "mdindex/query/interpret.h"
#include "mdindex/query/parse.h"
#include "mdindex/store/store.h"
#include "mdindex/store/text_match.h"
#include "tools/common/options.h"
#include "tools/mdfind/cli/live.h"
#include "tools/mdfind/cli/saved_search.h"

namespace mdindex::tools {

namespace {

struct Settings {
  bool nulSeparated = false;
  bool count = false;
  bool help = false;
  bool live = false;
  bool reprint = false;
  bool literal = false;
  bool interpret = false;
  std::vector<std::string> onlyIn;
  std::string attribute;
  std::optional<std::string> name;
  std::optional<std::string> savedSearch;
  std::vector<std::string> queryWords;
};

// The options, one row each: the name, whether it takes a value, and what
// it sets.
constexpr OptionRow<Settings> kOptions[] = {
    {"-0", false, [](Settings& s, const std::string&) { s.nulSeparated = true; }},
    {"-count", false, [](Settings& s, const std::string&) { s.count = true; }},
    {"-onlyin", true, [](Settings& s, const std::string& v) { s.onlyIn.push_back(v); }},
    {"-attr", true, [](Settings& s, const std::string& v) { s.attribute = v; }},
    {"-name", true, [](Settings& s, const std::string& v) { s.name = v; }},
    {"-s", true, [](Settings& s, const std::string& v) { s.savedSearch = v; }},
    {"-live", false, [](Settings& s, const std::string&) { s.live = true; }},
    {"-reprint", false, [](Settings& s, const std::string&) { s.reprint = true; }},
    {"-literal", false, [](Settings& s, const std::string&) { s.literal = true; }},
    {"-interpret", false, [](Settings& s, const std::string&) { s.interpret = true; }},
    {"-h", false, [](Settings& s, const std::string&) { s.help = true; }},
    {"--help", false, [](Settings& s, const std::string&) { s.help = true; }},
};

// `dir` made absolute against the working folder, with "." and ".."
// resolved by name (the folder need not exist).
std::string absoluteFolder(const std::string& dir) {
  std::string full = dir;
  if (full.empty() || full[0] != '/') {
    char buf[4096];
    const std::string cwd = getcwd(buf, sizeof buf) ? buf : "/";
    full = cwd + "/" + dir;
  }
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= full.size()) {
    const size_t j = std::min(full.find('/', i), full.size());
    const std::string part = full.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

// Drops the paths whose file is gone. `paths` is sorted, so the files of
// one folder come together: each folder is opened once and its entries
// looked up by name, instead of walking every full path (the walk dominates
// the time of large answers). Listing the folder instead is slower on ext4.
void keepExisting(std::vector<std::string>& paths) {
  std::string openDir;
  int dirFd = -1;
  auto gone = [&](const std::string& p) {
    const size_t slash = p.rfind('/');
    struct stat st {};
    if (slash == std::string::npos || slash + 1 == p.size()) return lstat(p.c_str(), &st) != 0;
    const std::string dir = slash == 0 ? "/" : p.substr(0, slash);
    if (dir != openDir) {
      if (dirFd >= 0) ::close(dirFd);
      dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      openDir = dir;
    }
    if (dirFd < 0) return lstat(p.c_str(), &st) != 0;  // a folder we may not open: ask by full path
    return fstatat(dirFd, p.c_str() + slash + 1, &st, AT_SYMLINK_NOFOLLOW) != 0;
  };
  paths.erase(std::remove_if(paths.begin(), paths.end(), gone), paths.end());
  if (dirFd >= 0) ::close(dirFd);
}

// A string value on one line: quote and backslash escaped, \n \r \t and
// other control bytes as escapes (as mdls writes them), so a value never
// breaks the one-line-per-item output.
std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string formatValue(const Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return quoted(*s);
  if (auto* list = std::get_if<std::vector<std::string>>(&v)) {
    std::string out = "(";
    for (size_t i = 0; i < list->size(); ++i) out += (i ? ", " : "") + quoted((*list)[i]);
    return out + ")";
  }
  if (auto* d = std::get_if<double>(&v)) {
    char buf[64];
    if (std::nearbyint(*d) == *d && std::fabs(*d) < 1e15)
      std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(*d));
    else
      std::snprintf(buf, sizeof buf, "%.15g", *d);
    return buf;
  }
  const time_t t = static_cast<time_t>(std::floor(std::get<Date>(v).seconds));
  struct tm tm {};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buf;
}

// Reads the arguments into `s`; on a usage error returns false with the
// message in `err`.
bool readArguments(const std::vector<std::string>& args, Settings& s, std::string& err) {
  const auto fault = readOptions<Settings>(args, kOptions, s, s.queryWords);
  if (!fault) return true;
  if (fault->error == ArgumentError::UnknownOption)
    err += "Unknown option " + fault->option + "\n\n" + mdfindUsage();
  else
    err += "mdfind: option " + fault->option + " requires an argument.\n\n" + mdfindUsage();
  return false;
}

// A plain word with nothing the index could find: no letter or digit.
bool hasWord(std::string_view word) { return !textmatch::splitWords(word).empty(); }

// The two lines of a query that does not parse: "Failed to create query
// for '<query>'." with the query cut to kEchoBytes (at a character
// boundary, "..." marking the cut; a bad byte shown as U+FFFD), then the
// parser's reason and the byte position it names.
constexpr size_t kEchoBytes = 200;

std::string failedQuery(const std::string& text, const query::ParseError& e) {
  size_t cut = text.size();
  if (cut > kEchoBytes) {
    cut = kEchoBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  }
  std::string shown;
  std::string_view rest(text.data(), cut);
  while (!rest.empty()) {
    const auto bad = query::invalidUtf8(rest);
    const size_t good = bad ? bad->position : rest.size();
    shown.append(rest.substr(0, good));
    if (!bad) break;
    shown += "\xEF\xBF\xBD";
    rest.remove_prefix(good + 1);
  }
  std::string out = "Failed to create query for '" + shown + (cut < text.size() ? "..." : "") + "'.\n";
  out += "mdfind: " + e.message + " at " + std::to_string(e.position);
  if (cut < text.size())
    out += " (the query is " + std::to_string(text.size()) + " bytes; the line above shows the first " +
           std::to_string(cut) + ")";
  return out + ".\n";
}

std::optional<std::string> warningFor(Store* store, const std::string& openError) {
  if (!store) {
    if (openError.rfind("there is no index", 0) == 0)
      return "mdfind: warning: there is no index yet (the index service mdindexd has not built one); "
             "nothing can be found.";
    return "mdfind: warning: " + openError + "; nothing can be found.";
  }
  if (store->meta("indexing") == std::optional<std::string>("off"))
    return "mdfind: warning: indexing is disabled; results may be out of date.";
  if (!indexServiceRunning())
    return "mdfind: warning: the index service (mdindexd) is not running; results may be out of date.";
  if (const std::string trouble = mdindex::serviceNote(); !trouble.empty())
    return "mdfind: warning: " + trouble + "; recent changes are not in the index yet.";
  return std::nullopt;
}

double nowSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

// The sorted paths of the matches whose file still exists: the index may
// lag a deletion by a moment; never list what is gone.
std::optional<std::vector<std::string>> existingMatches(Store& store, const query::Node& node,
                                                        const std::vector<std::string>& scopes, std::string* error) {
  auto found = store.search(node, scopes, error);
  if (!found) return std::nullopt;
  std::sort(found->begin(), found->end());
  keepExisting(*found);
  return found;
}

std::string attributeValue(Store* store, const std::string& path, const std::string& attribute) {
  if (auto item = store ? store->get(path) : std::nullopt; item) {
    const auto it = item->attributes.find(attribute);
    if (it != item->attributes.end()) return formatValue(it->second);
  }
  return "(null)";
}

}  // namespace

const std::string& mdfindUsage() {
  static const std::string usage =
      "Usage: mdfind [-live [-reprint]] [-count] [-0] [-onlyin directory]... [-attr attribute]\n"
      "              [-literal | -interpret] [-name fileName | -s smartFolderName | query]\n"
      "list the files matching the query\n"
      "query can be an expression or a sequence of words\n"
      "\n"
      "\t-0                Use NUL (``\\0'') as a path separator, for use with xargs -0.\n"
      "\t-attr <attr>      Fetches the value of the specified attribute\n"
      "\t-count            Query only reports matching items count\n"
      "\t-onlyin <dir>     Search only within given directory (may be given more than once;\n"
      "\t                  a directory that does not exist is an error)\n"
      "\t-live             Query should stay active: after the results, print each change\n"
      "\t                  (\"- path\" for a file that went, \"+ path\" for one that came; the\n"
      "\t                  new count with -count) until interrupted (Ctrl-C: exit status 0)\n"
      "\t-reprint          Reprint results on live update: \"Query update: N matches\", then\n"
      "\t                  all N paths\n"
      "\t-name <name>      Search on file name only (* and ? are wildcards)\n"
      "\t-s <name>         Show contents of smart folder <name>: the RawQuery (and search\n"
      "\t                  scopes) of <name>.savedSearch in $XDG_DATA_HOME/findlark/Saved Searches\n"
      "\t                  (~/.local/share/...) or ~/Library/Saved Searches, or of a path\n"
      "\t-literal          Take the query as one literal value: no operators, quotes or\n"
      "\t                  wildcards; matched case- and diacritic-insensitively at word starts\n"
      "\t-interpret        Read the query as a search field does: words, \"phrases\", OR,\n"
      "\t                  NOT or -word, ( ), name:, kind: (pdf, image, text, folder, audio,\n"
      "\t                  movie, presentation, spreadsheet, archive, document), author:,\n"
      "\t                  title:, keyword:, date:/created:/modified: (today, yesterday,\n"
      "\t                  this_week, this_month, this_year, YYYY[-MM[-DD]], with < or >)\n"
      "\t-h, --help        Show this help\n"
      "\t--                End of options (for a query that begins with '-')\n"
      "\n"
      "Plain words match case- and diacritic-insensitively at word starts, in any attribute\n"
      "or the text; every word must have a letter or digit (\".*\" is an error: use an\n"
      "expression such as kMDItemFSName == \"*.*\" for other characters). In an expression,\n"
      "== and != on running text (kMDItemTextContent, kMDItemDescription, kMDItemComment,\n"
      "kMDItemSubject) compare each word: kMDItemTextContent == \"catt*\"cd holds when a word\n"
      "begins with \"catt\". A query that does not parse, or is not UTF-8, prints \"Failed to\n"
      "create query for '<query>'.\" (a query longer than 200 bytes is cut, ending in \"...\")\n"
      "and a line with the reason and the byte position (from 0) where it was found.\n"
      "\n"
      "Exit status: 0 when the query ran (also when nothing matched, and when there is no\n"
      "readable index yet: a warning on stderr says so; -live: when interrupted); 1 for a\n"
      "malformed query, an unknown option, a missing option value, an -onlyin directory that\n"
      "does not exist, a saved search that cannot be read, or an index that fails while\n"
      "answering.\n";
  return usage;
}

bool indexServiceRunning() { return runningServicePid().has_value(); }

namespace {

// The query the settings ask for, or an exit status with the complaint in
// `err`. Fills `scopes` from a saved search when no -onlyin was given.
std::variant<query::Node, int> buildQuery(const Settings& s, std::vector<std::string>& scopes, std::string& err) {
  std::string queryText;
  for (size_t i = 0; i < s.queryWords.size(); ++i) queryText += (i ? " " : "") + s.queryWords[i];
  const int sources = (s.name ? 1 : 0) + (s.savedSearch ? 1 : 0) + (s.queryWords.empty() ? 0 : 1);
  if (sources > 1) {
    err += "mdfind: -name, -s and a query cannot be combined.\n\n" + mdfindUsage();
    return 1;
  }
  if (s.literal && s.interpret) {
    err += "mdfind: -literal and -interpret cannot be combined.\n\n" + mdfindUsage();
    return 1;
  }
  if (s.reprint && !s.live) {
    err += "mdfind: -reprint needs -live.\n\n" + mdfindUsage();
    return 1;
  }
  if (sources == 0 || (!s.name && !s.savedSearch && queryText.empty())) {
    err += "mdfind: no query specified.\n" + mdfindUsage();
    return 1;
  }

  query::Node node;
  if (s.name) {
    if (auto bad = query::invalidUtf8(*s.name)) {
      err += "mdfind: the name is not valid UTF-8 (at byte " + std::to_string(bad->position) + ").\n";
      return 1;
    }
    node.kind = query::Node::Kind::Compare;
    node.comparison.attribute = attr::FSName;
    // A name holding * or ? is a pattern, still matched anywhere in the
    // name; taken literally it would match nothing.
    const bool pattern = textmatch::hasWildcard(*s.name);
    node.comparison.op = pattern ? query::Op::Like : query::Op::Contains;
    node.comparison.value = pattern ? "*" + *s.name + "*" : *s.name;
    node.comparison.options = {true, true, false};
    return node;
  }
  if (s.savedSearch) {
    std::string error;
    const auto saved = readSavedSearch(*s.savedSearch, &error);
    if (!saved) {
      err += "mdfind: " + error + ".\n";
      return 1;
    }
    if (scopes.empty()) scopes = saved->scopes;
    queryText = saved->query;
  }
  if (s.literal) {
    if (auto bad = query::invalidUtf8(queryText)) {
      err += failedQuery(queryText, *bad);
      return 1;
    }
    // One value, whatever it holds: no operators, quotes or wildcards.
    node.kind = query::Node::Kind::Compare;
    node.comparison = {query::kAnyAttribute, query::Op::Contains, queryText, std::nullopt, {true, true, true}};
    return node;
  }
  auto parsed = s.interpret ? query::interpretSearchField(queryText, nowSeconds(), hasWord)
                            : query::parseMdfindQuery(queryText, hasWord);
  if (auto* e = std::get_if<query::ParseError>(&parsed)) {
    err += failedQuery(queryText, *e);
    return 1;
  }
  return std::move(std::get<query::Node>(parsed));
}

// Checks that each folder exists; the first that does not is the complaint.
bool foldersExist(const Settings& s, std::string& err) {
  for (const auto& d : s.onlyIn) {
    struct stat st {};
    const std::string full = absoluteFolder(d);
    if (stat(full.c_str(), &st) != 0) {
      err += "mdfind: -onlyin " + d + ": " + std::strerror(errno) + "\n";
      return false;
    }
    if (!S_ISDIR(st.st_mode)) {
      err += "mdfind: -onlyin " + d + ": " + std::strerror(ENOTDIR) + "\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int runMdfind(const std::vector<std::string>& args, std::string& out, std::string& err, const LiveFlush& flush) {
  Settings s;
  if (!readArguments(args, s, err)) return 1;
  if (s.help) {
    out += mdfindUsage();
    return 0;
  }
  if (s.live && flush) blockStopSignals();  // a Ctrl-C from here on ends the watch cleanly
  std::vector<std::string> scopes;
  for (const auto& d : s.onlyIn) scopes.push_back(absoluteFolder(d));
  auto built = buildQuery(s, scopes, err);
  if (auto* status = std::get_if<int>(&built)) return *status;
  const query::Node node = std::move(std::get<query::Node>(built));
  if (!foldersExist(s, err)) return 1;

  std::string openError;
  auto store = Store::open(indexDir(), Store::Mode::ReadOnly, &openError);
  if (auto warning = warningFor(store.get(), openError)) err += *warning + "\n";

  std::vector<std::string> paths;
  if (store) {
    std::string searchError;
    auto found = existingMatches(*store, node, scopes, &searchError);
    if (!found) {
      err += "mdfind: the index could not answer: " + searchError + "\n";
      return 1;
    }
    paths = std::move(*found);
  }

  if (s.count) {
    out += std::to_string(paths.size()) + "\n";
  } else {
    const char end = s.nulSeparated ? '\0' : '\n';
    for (const auto& p : paths) {
      out += p;
      if (!s.attribute.empty()) out += "   " + s.attribute + " = " + attributeValue(store.get(), p, s.attribute);
      out += end;
    }
  }
  if (!s.live || !flush) return 0;

  store.reset();
  const LiveSearch again = [&](std::string* error) -> std::optional<std::vector<std::string>> {
    auto st = Store::open(indexDir(), Store::Mode::ReadOnly, error);
    if (!st) return std::vector<std::string>{};  // no index (yet, or being rebuilt): nothing found
    return existingMatches(*st, node, scopes, error);
  };
  return runLive(again, std::move(paths), {s.reprint, s.count, s.nulSeparated}, out, err, flush);
}

}  // namespace mdindex::tools
