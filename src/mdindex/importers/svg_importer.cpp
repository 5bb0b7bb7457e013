#include "mdindex/importers/svg_importer.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "mdindex/core/fold.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/text_codec.h"

namespace mdindex {

namespace {

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

bool named(const xmlNode* n, const char* name) {
  return n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

bool inNamespace(const xmlNode* n, const char* uri) {
  return n->ns && n->ns->href && std::strcmp(reinterpret_cast<const char*>(n->ns->href), uri) == 0;
}

constexpr const char* kDublinCore = "http://purl.org/dc/elements/1.1/";

// The text under `n`, white space collapsed to single spaces.
std::string textOf(xmlNode* n) {
  xmlChar* v = xmlNodeGetContent(n);
  if (!v) return {};
  std::string out;
  bool space = false;
  for (const xmlChar* p = v; *p; ++p) {
    if (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') {
      space = !out.empty();
    } else {
      if (space) out += ' ';
      space = false;
      out += static_cast<char>(*p);
    }
  }
  xmlFree(v);
  return sanitizeUtf8(out);
}

struct Drawing {
  std::string title, description, text;
  std::string dcTitle, dcDescription;
  std::vector<std::string> authors, keywords;
};

// The words of a Dublin Core field: the items of its rdf:Bag, rdf:Seq or
// rdf:Alt (an agent's cc:Agent/dc:title included), else its own text.
std::vector<std::string> dcItems(xmlNode* field) {
  std::vector<std::string> out;
  for (xmlNode* n = field->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    for (xmlNode* li = n->children; li; li = li->next)
      if (named(li, "li"))
        if (std::string v = textOf(li); !v.empty()) out.push_back(std::move(v));
    if (out.empty())
      if (std::string v = textOf(n); !v.empty()) out.push_back(std::move(v));
  }
  if (out.empty())
    if (std::string v = textOf(field); !v.empty()) out.push_back(std::move(v));
  return out;
}

void dublinCore(xmlNode* n, Drawing& d) {
  const char* name = reinterpret_cast<const char*>(n->name);
  const std::vector<std::string> items = dcItems(n);
  if (items.empty()) return;
  if (std::strcmp(name, "title") == 0 && d.dcTitle.empty()) d.dcTitle = items.front();
  else if (std::strcmp(name, "description") == 0 && d.dcDescription.empty()) d.dcDescription = items.front();
  else if (std::strcmp(name, "creator") == 0) d.authors.insert(d.authors.end(), items.begin(), items.end());
  else if (std::strcmp(name, "subject") == 0) d.keywords.insert(d.keywords.end(), items.begin(), items.end());
}

// Iterative walk in document order: a drawing may nest groups deeply.
void walk(xmlNode* root, Drawing& d) {
  for (xmlNode* n = root->children; n; n = n->next) {
    if (named(n, "title") && d.title.empty()) d.title = textOf(n);
    else if (named(n, "desc") && d.description.empty()) d.description = textOf(n);
  }
  xmlNode* n = root->children;
  while (n) {
    bool descend = n->type == XML_ELEMENT_NODE;
    if (n->type == XML_ELEMENT_NODE) {
      if (inNamespace(n, kDublinCore)) {
        dublinCore(n, d);
        descend = false;
      } else if (named(n, "text") || named(n, "flowRoot") || ((named(n, "title") || named(n, "desc")) && n->parent != root)) {
        if (std::string t = textOf(n); !t.empty()) d.text += t + "\n";
        descend = false;
      } else if (named(n, "style") || named(n, "script")) {
        descend = false;
      }
    }
    if (descend && n->children) {
      n = n->children;
      continue;
    }
    while (n && n != root && !n->next) n = n->parent;
    n = (n && n != root) ? n->next : nullptr;
  }
}

class SvgImporter final : public Importer {
 public:
  std::string name() const override { return "SVG.mdimporter"; }
  std::vector<std::string> utis() const override { return {"public.svg-image"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
    std::string data;
    if (!readFileBytes(path, data)) return ImportStatus::Unreadable;
    if (data.size() > static_cast<size_t>(INT32_MAX)) return ImportStatus::TooLarge;
    // No NOENT: entities stay references, so a declared entity cannot
    // multiply the text; NONET: no DTD or entity is ever fetched.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(data.data(), static_cast<int>(data.size()), nullptr, nullptr, options));
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (!root || !named(root, "svg")) return ImportStatus::Unreadable;
    Drawing d;
    walk(root, d);
    const std::string& title = d.title.empty() ? d.dcTitle : d.title;
    const std::string& description = d.description.empty() ? d.dcDescription : d.description;
    if (!title.empty()) sink.setAttribute(attr::Title, title);
    if (!description.empty()) sink.setAttribute(attr::Description, description);
    if (!d.authors.empty()) sink.setAttribute(attr::Authors, d.authors);
    if (!d.keywords.empty()) sink.addKeywords(d.keywords);
    if (!d.text.empty()) sink.addText(d.text);
    return ImportStatus::Imported;
  }
};

}  // namespace

const Importer& svgImporter() {
  static const SvgImporter instance;
  return instance;
}

}  // namespace mdindex
