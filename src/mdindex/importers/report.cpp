#include "mdindex/importers/report.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "mdindex/core/fold.h"

namespace mdindex {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t utf8SequenceLength(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n <= 1 || i + n > s.size()) return n == 1 ? 1 : 0;
  return isValidUtf8(s.substr(i, n)) ? n : 0;
}

void octal(std::string& out, unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\%03o", c);
  out += buf;
}

bool bare(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

std::string plistString(std::string_view s) { return bare(s) ? std::string(s) : quoted(s, '"'); }

void plistValue(std::string& out, const Value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    out += plistString(*s);
  } else if (const auto* list = std::get_if<std::vector<std::string>>(&v)) {
    out += "    (\n";
    for (size_t i = 0; i < list->size(); ++i) {
      out += "        " + plistString((*list)[i]);
      out += i + 1 < list->size() ? ",\n" : "\n";
    }
    out += "    )";
  } else if (const auto* d = std::get_if<double>(&v)) {
    out += formatNumber(*d);
  } else {
    out += quoted(formatDate(std::get<Date>(v)));
  }
}

}  // namespace

std::string importerPath(std::string_view importerName) {
  return std::string(kImporterPathPrefix) + std::string(importerName);
}

std::string quoted(std::string_view text, char quote) {
  std::string out;
  out.reserve(text.size() + 2);
  out += quote;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\\' || c == static_cast<unsigned char>(quote)) {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c == '\n') {
      out += "\\n";
      ++i;
    } else if (c == '\r') {
      out += "\\r";
      ++i;
    } else if (c == '\t') {
      out += "\\t";
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      octal(out, c);
      ++i;
    } else {
      const size_t n = utf8SequenceLength(text, i);
      if (n == 0) {
        octal(out, c);
        ++i;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
    }
  }
  out += quote;
  return out;
}

std::string formatDate(const Date& d) {
  const auto secs = static_cast<time_t>(std::floor(d.seconds));
  struct tm tm {};
  gmtime_r(&secs, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buf;
}

std::string formatNumber(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string importedLine(std::string_view path, const ImportResult& r) {
  std::string line = "Imported " + quoted(path, '\'') + " of type " + quoted(r.uti, '\'');
  line += r.importer.empty() ? " with no plugIn." : " with plugIn " + importerPath(r.importer) + ".";
  return line;
}

std::string attributeListing(const ImportResult& r, bool withText) {
  Attributes all = r.attributes;
  all.erase(attr::TextContent);
  if (withText && !r.text.empty()) all[attr::TextContent] = r.text;
  std::string out = "Attributes: {\n";
  for (const auto& [name, value] : all) {
    out += "    " + plistString(name) + " = ";
    if (name == attr::DisplayName && std::holds_alternative<std::string>(value)) {
      out += "    {\n        \"\" = " + plistString(std::get<std::string>(value)) + ";\n    }";
    } else {
      plistValue(out, value);
    }
    out += ";\n";
  }
  out += "}\n";
  return out;
}

}  // namespace mdindex
