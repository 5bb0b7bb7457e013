#include "mdindex/importers/html_importer.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "mdindex/core/fold.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/text_codec.h"

namespace mdindex {

namespace {

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

constexpr const char* kBlockElements[] = {
    "p",  "div", "br", "li", "ul", "ol", "h1", "h2", "h3", "h4", "h5", "h6", "tr", "table", "section", "article",
    "header", "footer", "blockquote", "pre", "dt", "dd", "hr", "address", "nav", "aside", "figure", "figcaption",
};
constexpr const char* kHiddenElements[] = {"script", "style", "template", "title"};

bool nameIn(const xmlNode* n, const char* const* list, size_t count) {
  const char* name = reinterpret_cast<const char*>(n->name);
  for (size_t i = 0; i < count; ++i)
    if (std::strcmp(name, list[i]) == 0) return true;
  return false;
}
template <size_t N>
bool nameIn(const xmlNode* n, const char* const (&list)[N]) {
  return nameIn(n, list, N);
}

std::string attribute(const xmlNode* n, const char* name) {
  xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
  if (!v) return {};
  std::string out(reinterpret_cast<const char*>(v));
  xmlFree(v);
  return out;
}

std::string nodeText(xmlNode* n) {
  xmlChar* v = xmlNodeGetContent(n);
  if (!v) return {};
  std::string out(reinterpret_cast<const char*>(v));
  xmlFree(v);
  return out;
}

// Collapses white space the way a browser shows it, with a line break at
// block boundaries.
class TextBuilder {
 public:
  void text(std::string_view s) {
    for (char c : s) {
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
        pendingSpace_ = true;
      } else {
        if (pendingSpace_ && !out_.empty() && out_.back() != '\n') out_ += ' ';
        pendingSpace_ = false;
        out_ += c;
      }
    }
  }
  void lineBreak() {
    pendingSpace_ = false;
    if (!out_.empty() && out_.back() != '\n') out_ += '\n';
  }
  std::string take() {
    while (!out_.empty() && out_.back() == '\n') out_.pop_back();
    return std::move(out_);
  }

 private:
  std::string out_;
  bool pendingSpace_ = false;
};

void meta(xmlNode* n, HtmlContent& out) {
  std::string name = attribute(n, "name");
  for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string content = sanitizeUtf8(trimAscii(attribute(n, "content")));
  if (content.empty()) return;
  if (name == "keywords") {
    for (std::string& k : keywordsFromField(content)) out.keywords.push_back(std::move(k));
  } else if (name == "author") {
    out.author = content;
  } else if (name == "description") {
    out.description = content;
  }
}

// Iterative walk: libxml2 bounds the tree depth, but the reader does not
// rely on it.
void walk(xmlNode* root, HtmlContent& out) {
  TextBuilder text;
  xmlNode* n = root;
  while (n) {
    bool descend = true;
    if (n->type == XML_ELEMENT_NODE) {
      const char* name = reinterpret_cast<const char*>(n->name);
      if (std::strcmp(name, "title") == 0 && out.title.empty()) {
        TextBuilder t;
        t.text(nodeText(n));
        out.title = std::string(trimAscii(t.take()));
      } else if (std::strcmp(name, "meta") == 0) {
        meta(n, out);
      }
      if (nameIn(n, kHiddenElements)) descend = false;
      if (nameIn(n, kBlockElements)) text.lineBreak();
    } else if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
      if (n->content) text.text(reinterpret_cast<const char*>(n->content));
    }
    // Next node in document order.
    if (descend && n->children) {
      n = n->children;
      continue;
    }
    while (n && !n->next) {
      n = n->parent;
      if (n && n->type == XML_ELEMENT_NODE && nameIn(n, kBlockElements)) text.lineBreak();
      if (n == root) n = nullptr;
    }
    if (n) {
      if (n->type == XML_ELEMENT_NODE && nameIn(n, kBlockElements)) text.lineBreak();
      n = n == root ? nullptr : n->next;
    }
  }
  out.title = sanitizeUtf8(out.title);
  out.text = sanitizeUtf8(text.take());
}

class HtmlImporter final : public Importer {
 public:
  std::string name() const override { return "HTML.mdimporter"; }
  std::vector<std::string> utis() const override { return {"public.html"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    std::string data;
    if (!readFileBytes(path, data)) return ImportStatus::Unreadable;
    if (data.size() > static_cast<size_t>(INT32_MAX)) return ImportStatus::TooLarge;
    HtmlContent content;
    if (!readHtml(data, content)) return data.empty() ? ImportStatus::Imported : ImportStatus::Unreadable;
    if (!content.keywords.empty()) sink.addKeywords(content.keywords);
    if (!content.author.empty()) sink.setAttribute(attr::Authors, std::vector<std::string>{content.author});
    if (!content.title.empty()) sink.setAttribute(attr::Title, content.title);
    if (!content.description.empty()) sink.setAttribute(attr::Description, content.description);
    if (!content.text.empty()) sink.addText(content.text);
    return ImportStatus::Imported;
  }
};

}  // namespace

const Importer& htmlImporter() {
  static const HtmlImporter instance;
  return instance;
}

bool readHtml(std::string_view data, HtmlContent& out) {
  // libxml2 must set up its globals once before threads use it.
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
  out = {};
  if (data.size() > static_cast<size_t>(INT32_MAX)) return false;
  const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
  DocPtr doc(htmlReadMemory(data.data(), static_cast<int>(data.size()), nullptr, nullptr, options));
  // An unknown declared charset makes libxml2 give up early: read the bytes
  // as UTF-8 when they are, else as Windows-1252.
  if (!doc || !xmlDocGetRootElement(doc.get())) {
    const char* fallback = isValidUtf8(data) ? "UTF-8" : "windows-1252";
    doc.reset(htmlReadMemory(data.data(), static_cast<int>(data.size()), nullptr, fallback, options));
  }
  if (!doc) return false;
  walk(xmlDocGetRootElement(doc.get()), out);
  return true;
}

}  // namespace mdindex
