#include "mdls_cli.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <ostream>

#include "mdindex/core/paths.h"
#include "mdindex/core/plist.h"
#include "mdindex/importers/import.h"
#include "mdindex/importers/report.h"
#include "mdindex/store/store.h"
#include "tools/common/operand_path.h"
#include "tools/common/options.h"

namespace mdindex::tools {

namespace {

constexpr const char* kUsage =
    "usage: mdls [-name attr]... [-raw [-nullMarker markerString]] [-plist file] [-heading] path ...\n"
    "list the values of one or all the attributes of the specified files\n"
    "  -name:        list only this attribute (may be given several times)\n"
    "  -raw:         don't print attribute names before values\n"
    "  -nullMarker:  substitute this string for null attributes in raw mode\n"
    "  -plist:       output attributes in XML format to file. Use - to write to stdout\n"
    "                (one path: a dictionary; several: an array of dictionaries, in order)\n"
    "                option -plist is incompatible with options -raw, -nullMarker, and -name\n"
    "  -heading:     print \"<path>:\" before the listing of each path (for several paths)\n"
    "A file that is not in the index gets its file-system attributes and a note\n"
    "on standard error. Exit status: 0 when every path was listed, 1 when any\n"
    "could not be read (or the -plist file could not be written), 64 on bad usage.\n";

struct Options {
  std::vector<std::string> names;
  bool raw = false;
  bool nullMarkerGiven = false;
  std::string nullMarker = "(null)";
  std::optional<std::string> plist;
  bool heading = false;
  bool help = false;
  std::vector<std::string> paths;
};

// The option table: one row per flag.
constexpr OptionRow<Options> kOptions[] = {
    {"-name", true, [](Options& o, const std::string& v) { o.names.push_back(v); }},
    {"-raw", false, [](Options& o, const std::string&) { o.raw = true; }},
    {"-nullMarker", true, [](Options& o, const std::string& v) { o.nullMarker = v, o.nullMarkerGiven = true; }},
    {"-plist", true, [](Options& o, const std::string& v) { o.plist = v; }},
    {"-heading", false, [](Options& o, const std::string&) { o.heading = true; }},
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

// One listing as a property-list dictionary: strings, arrays of strings,
// integers (whole numbers) or reals, dates; kMDItemTextContent left out.
plist_t plistOf(const Attributes& attributes) {
  plist_t dict = plist_new_dict();
  for (const auto& [name, value] : attributes) {
    if (name == attr::TextContent) continue;
    plist_t node = nullptr;
    if (const auto* str = std::get_if<std::string>(&value)) {
      node = plist_new_string(str->c_str());
    } else if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
      node = plist_new_array();
      for (const auto& e : *list) plist_array_append_item(node, plist_new_string(e.c_str()));
    } else if (const auto* d = std::get_if<double>(&value)) {
      const bool whole = std::nearbyint(*d) == *d && *d >= 0 && *d < 9.2e18;
      node = whole ? plist_new_uint(static_cast<uint64_t>(*d)) : plist_new_real(*d);
    } else {
      // libplist 2.2 counts dates from 2001-01-01 UTC.
      // It holds 32-bit seconds: a date beyond 1933-2069 is pinned to the nearest end.
      const double since2001 = std::clamp(std::get<Date>(value).seconds - 978307200.0, -2147483648.0, 2147483647.0);
      const double whole = std::floor(since2001);
      node = plist_new_date(static_cast<int32_t>(whole), static_cast<int32_t>((since2001 - whole) * 1e6));
    }
    plist_dict_set_item(dict, name.c_str(), node);
  }
  return dict;
}

// Writes `xml` to `target` ("-": standard output).
bool writeTo(const std::string& target, const std::string& xml, std::ostream& out, std::ostream& err) {
  if (target == "-") {
    out << xml;
    return true;
  }
  std::ofstream file(target, std::ios::binary | std::ios::trunc);
  if (file) file << xml;
  if (!file || !file.flush()) {
    err << "mdls: cannot write " << mdindex::quoted(target, '\'') << ": " << std::strerror(errno) << "\n";
    return false;
  }
  return true;
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
  if (o.plist && (o.raw || o.nullMarkerGiven || !o.names.empty())) {
    err << "mdls: option -plist is incompatible with options -raw, -nullMarker, and -name\n" << kUsage;
    return 64;
  }
  PlistPtr listings(o.plist && o.paths.size() > 1 ? plist_new_array() : nullptr);
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
    if (o.plist) {
      plist_t dict = plistOf(attributes);
      if (listings) plist_array_append_item(listings.get(), dict);
      else listings.reset(dict);
      continue;
    }
    if (o.heading) out << (&given == &o.paths.front() ? "" : "\n") << path << ":\n";
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
  if (o.plist && listings) {
    std::string xml;
    if (!plistToXml(listings.get(), xml) || !writeTo(*o.plist, xml, out, err)) failed = true;
  }
  out.flush();
  return failed ? 1 : 0;
}

}  // namespace mdindex::tools
