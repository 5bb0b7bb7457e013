#include <algorithm>
#include <string>
#include <unordered_set>

#include "mdindex/importers/office_importers.h"

namespace mdindex {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::vector<std::string> splitKeywords(std::string_view field) {
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  size_t start = 0;
  while (start <= field.size()) {
    size_t end = field.find_first_of(",;", start);
    if (end == std::string_view::npos) end = field.size();
    std::string_view word = trim(field.substr(start, end - start));
    if (!word.empty() && seen.emplace(word).second) out.emplace_back(word);
    start = end + 1;
  }
  return out;
}

namespace office {

void ParagraphText::endParagraph() {
  // Indents and trailing blanks are layout, not words: trim spaces and tabs.
  std::string_view p(current_);
  while (!p.empty() && (p.front() == ' ' || p.front() == '\t')) p.remove_prefix(1);
  while (!p.empty() && (p.back() == ' ' || p.back() == '\t')) p.remove_suffix(1);
  if (!trim(p).empty()) {
    if (!text_.empty()) text_ += '\n';
    text_ += p;
  }
  current_.clear();
}

std::string ParagraphText::take() {
  endParagraph();
  return std::move(text_);
}

bool parseXml(std::string_view bytes, pugi::xml_document& doc, bool keepWhitespace) {
  unsigned options = pugi::parse_default;
  if (keepWhitespace) options |= pugi::parse_ws_pcdata;
  pugi::xml_parse_result r = doc.load_buffer(bytes.data(), bytes.size(), options);
  return static_cast<bool>(r) && doc.document_element();
}

std::string_view localName(const char* qualified) {
  std::string_view q(qualified ? qualified : "");
  size_t colon = q.rfind(':');
  return colon == std::string_view::npos ? q : q.substr(colon + 1);
}

std::string nodeText(const pugi::xml_node& node) {
  std::string out;
  // Iterative walk: the depth of hostile XML must not exhaust the stack.
  pugi::xml_node cur = node.first_child();
  while (cur && cur != node) {
    if (cur.type() == pugi::node_pcdata || cur.type() == pugi::node_cdata) out += cur.value();
    if (cur.first_child()) {
      cur = cur.first_child();
      continue;
    }
    while (cur && cur != node && !cur.next_sibling()) cur = cur.parent();
    if (cur && cur != node) cur = cur.next_sibling();
  }
  return std::string(trim(out));
}

}  // namespace office
}  // namespace mdindex
