#include "tools/mdfind/cli/mdfind.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "mdindex/core/paths.h"
#include "mdindex/core/service_lock.h"
#include "mdindex/query/parse.h"
#include "mdindex/store/store.h"
#include "mdindex/store/text_match.h"
#include "tools/common/options.h"

namespace mdindex::tools {

namespace {

struct Settings {
  bool nulSeparated = false;
  bool count = false;
  bool help = false;
  std::vector<std::string> onlyIn;
  std::string attribute;
  std::optional<std::string> name;
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

}  // namespace

const std::string& mdfindUsage() {
  static const std::string usage =
      "Usage: mdfind [-0] [-count] [-onlyin directory]... [-attr attribute] [-name fileName | query]\n"
      "list the files matching the query\n"
      "query can be an expression or a sequence of words\n"
      "\n"
      "\t-0                Use NUL (``\\0'') as a path separator, for use with xargs -0.\n"
      "\t-attr <attr>      Fetches the value of the specified attribute\n"
      "\t-count            Query only reports matching items count\n"
      "\t-onlyin <dir>     Search only within given directory (may be given more than once)\n"
      "\t-name <name>      Search on file name only\n"
      "\t-h, --help        Show this help\n"
      "\t--                End of options (for a query that begins with '-')\n"
      "\n"
      "Exit status: 0 when the query ran (also when nothing matched, and when there is no\n"
      "readable index yet: a warning on stderr says so); 1 for a malformed query, an unknown\n"
      "option, a missing option value or an index that fails while answering.\n";
  return usage;
}

bool indexServiceRunning() { return runningServicePid().has_value(); }

int runMdfind(const std::vector<std::string>& args, std::string& out, std::string& err) {
  Settings s;
  if (!readArguments(args, s, err)) return 1;
  if (s.help) {
    out += mdfindUsage();
    return 0;
  }
  std::string queryText;
  for (size_t i = 0; i < s.queryWords.size(); ++i) queryText += (i ? " " : "") + s.queryWords[i];
  if (s.name && !s.queryWords.empty()) {
    err += "mdfind: -name and a query cannot be combined.\n\n" + mdfindUsage();
    return 1;
  }
  if (!s.name && s.queryWords.empty()) {
    err += "mdfind: no query specified.\n" + mdfindUsage();
    return 1;
  }

  query::Node node;
  if (s.name) {
    node.kind = query::Node::Kind::Compare;
    node.comparison.attribute = attr::FSName;
    // A name holding * or ? is a pattern, still matched anywhere in the
    // name; taken literally it would match nothing.
    const bool pattern = textmatch::hasWildcard(*s.name);
    node.comparison.op = pattern ? query::Op::Like : query::Op::Contains;
    node.comparison.value = pattern ? "*" + *s.name + "*" : *s.name;
    node.comparison.options = {true, true, false};
  } else {
    auto parsed = query::parseMdfindQuery(queryText);
    if (std::holds_alternative<query::ParseError>(parsed)) {
      err += "Failed to create query for '" + queryText + "'.\n";
      return 1;
    }
    node = std::move(std::get<query::Node>(parsed));
  }

  std::string openError;
  auto store = Store::open(indexDir(), Store::Mode::ReadOnly, &openError);
  if (auto warning = warningFor(store.get(), openError)) err += *warning + "\n";

  std::vector<std::string> paths;
  if (store) {
    std::vector<std::string> scopes;
    for (const auto& d : s.onlyIn) scopes.push_back(absoluteFolder(d));
    std::string searchError;
    auto found = store->search(node, scopes, &searchError);
    if (!found) {
      err += "mdfind: the index could not answer: " + searchError + "\n";
      return 1;
    }
    paths = std::move(*found);
    std::sort(paths.begin(), paths.end());
    // The index may lag a deletion by a moment; never list what is gone.
    keepExisting(paths);
  }

  if (s.count) {
    out += std::to_string(paths.size()) + "\n";
    return 0;
  }
  const char end = s.nulSeparated ? '\0' : '\n';
  for (const auto& p : paths) {
    out += p;
    if (!s.attribute.empty()) {
      std::string value = "(null)";
      if (auto item = store->get(p); item) {
        const auto it = item->attributes.find(s.attribute);
        if (it != item->attributes.end()) value = formatValue(it->second);
      }
      out += "   " + s.attribute + " = " + value;
    }
    out += end;
  }
  return 0;
}

}  // namespace mdindex::tools
