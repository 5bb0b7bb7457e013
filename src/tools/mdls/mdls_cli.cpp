#include "mdls_cli.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ostream>

#include "mdindex/core/paths.h"
#include "mdindex/importers/import.h"
#include "mdindex/importers/report.h"
#include "mdindex/store/store.h"
#include "tools/common/operand_path.h"
#include "tools/common/options.h"

namespace mdindex::tools {

namespace {

constexpr const char* kUsage =
    "usage: mdls [-name attr]... [-raw [-nullMarker markerString]] path ...\n"
    "list the values of one or all the attributes of the specified files\n"
    "  -name:        list only this attribute (may be given several times)\n"
    "  -raw:         don't print attribute names before values\n"
    "  -nullMarker:  substitute this string for null attributes in raw mode\n"
    "A file that is not in the index gets its file-system attributes and a note\n"
    "on standard error. Exit status: 0 when every path was listed, 1 when any\n"
    "could not be read, 64 on bad usage.\n";

struct Options {
  std::vector<std::string> names;
  bool raw = false;
  std::string nullMarker = "(null)";
  bool help = false;
  std::vector<std::string> paths;
};

// The option table: one row per flag.
constexpr OptionRow<Options> kOptions[] = {
    {"-name", true, [](Options& o, const std::string& v) { o.names.push_back(v); }},
    {"-raw", false, [](Options& o, const std::string&) { o.raw = true; }},
    {"-nullMarker", true, [](Options& o, const std::string& v) { o.nullMarker = v; }},
    {"-h", false, [](Options& o, const std::string&) { o.help = true; }},
    {"--help", false, [](Options& o, const std::string&) { o.help = true; }},
};

bool parse(const std::vector<std::string>& args, Options& o, std::ostream& err) {
  const auto fault = readOptions<Options>(args, kOptions, o, o.paths);
  if (!fault) return true;
  if (fault->error == ArgumentError::UnknownOption)
    err << "mdls: unknown option " << mdindex::quoted(fault->option, '\'') << "\n" << kUsage;
  else
    err << "mdls: option " << fault->option << " needs a value\n" << kUsage;
  return false;
}

std::string arrayText(const std::vector<std::string>& list) {
  std::string out = "(\n";
  for (size_t i = 0; i < list.size(); ++i) out += "    " + mdindex::quoted(list[i]) + (i + 1 < list.size() ? ",\n" : "\n");
  out += ")";
  return out;
}

// The value as a listing shows it; `raw` leaves strings unquoted.
std::string valueText(const Value& v, bool raw) {
  if (const auto* s = std::get_if<std::string>(&v)) return raw ? *s : mdindex::quoted(*s);
  if (const auto* list = std::get_if<std::vector<std::string>>(&v)) return arrayText(*list);
  if (const auto* d = std::get_if<double>(&v)) return formatNumber(*d);
  return formatDate(std::get<Date>(v));
}

}  // namespace

std::string formatListing(const Attributes& attributes, const std::vector<std::string>& names) {
  std::vector<std::string> shown = names;
  if (shown.empty())
    for (const auto& [name, value] : attributes)
      if (name != attr::TextContent) shown.push_back(name);
  size_t width = 0;
  if (shown.size() > 1)
    for (const auto& n : shown) width = std::max(width, n.size());
  std::string out;
  for (const auto& n : shown) {
    out += n;
    if (n.size() < width) out.append(width - n.size(), ' ');
    out += " = ";
    const auto it = attributes.find(n);
    out += (it == attributes.end() || n == attr::TextContent) ? "(null)" : valueText(it->second, false);
    out += "\n";
  }
  return out;
}

int runMdls(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  if (!parse(args, o, err)) return 64;
  if (o.help) {
    out << kUsage;
    return 0;
  }
  if (o.paths.empty()) {
    err << "mdls: no path given\n" << kUsage;
    return 64;
  }
  // No store yet simply means nothing is indexed.
  const auto store = Store::open(indexDir(), Store::Mode::ReadOnly);
  bool failed = false;
  bool firstRaw = true;
  for (const auto& given : o.paths) {
    const std::string path = absolutePath(given);
    struct stat st {};
    // An empty argument names no file (it must not become the current folder).
    if (given.empty() || lstat(path.c_str(), &st) != 0) {
      err << "mdls: cannot read " << mdindex::quoted(given, '\'') << ": " << std::strerror(given.empty() ? ENOENT : errno)
          << "\n";
      failed = true;
      continue;
    }
    Attributes attributes;
    std::optional<ItemRecord> rec;
    if (store) rec = store->get(path);
    if (rec) {
      attributes = std::move(rec->attributes);
    } else {
      ImportResult fsOnly;
      if (!fileSystemAttributes(path, fsOnly)) {
        err << "mdls: cannot read " << mdindex::quoted(given, '\'') << ": " << std::strerror(errno) << "\n";
        failed = true;
        continue;
      }
      attributes = std::move(fsOnly.attributes);
      err << "mdls: " << mdindex::quoted(given, '\'') << " is not in the index; only its file-system attributes are listed.\n";
    }
    if (!o.raw) {
      out << formatListing(attributes, o.names);
      continue;
    }
    std::vector<std::string> names = o.names;
    if (names.empty())
      for (const auto& [name, value] : attributes)
        if (name != attr::TextContent) names.push_back(name);
    for (const auto& n : names) {
      if (!firstRaw) out << '\0';
      firstRaw = false;
      const auto it = attributes.find(n);
      out << ((it == attributes.end() || n == attr::TextContent) ? o.nullMarker : valueText(it->second, true));
    }
  }
  out.flush();
  return failed ? 1 : 0;
}

}  // namespace mdindex::tools
