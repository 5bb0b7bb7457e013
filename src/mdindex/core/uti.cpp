#include "mdindex/core/digest.h"
#include "mdindex/core/text_sniff.h"
#include "mdindex/core/uti.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <utility>
#include <fcntl.h>
#include <unistd.h>

namespace mdindex {

namespace {

struct Row {
  const char* uti;
  const char* extensions;  // space-separated, lower case
  const char* parents;     // space-separated, nearest first
  const char* kind;
};

// The one type table. Parents follow the platform's conformance tree.
constexpr Row kTypes[] = {
    {"public.plain-text", "txt text", "public.text public.data public.item public.content", "Plain Text Document"},
    {"public.rtf", "rtf", "public.text public.data public.item public.content", "Rich Text Document"},
    {"public.html", "html htm xhtml", "public.text public.data public.item public.content", "HTML text"},
    {"com.adobe.pdf", "pdf", "public.data public.item public.composite-content public.content", "PDF document"},
    {"org.openxmlformats.wordprocessingml.document", "docx",
     "org.openxmlformats.openxml public.data public.item public.composite-content public.content", "Microsoft Word document"},
    {"org.openxmlformats.spreadsheetml.sheet", "xlsx",
     "org.openxmlformats.openxml public.data public.item public.composite-content public.content",
     "Microsoft Excel workbook"},
    {"org.openxmlformats.presentationml.presentation", "pptx",
     "org.openxmlformats.openxml public.data public.item public.composite-content public.content",
     "Microsoft PowerPoint presentation"},
    {"org.oasis-open.opendocument.text", "odt",
     "public.zip-archive public.data public.item public.composite-content public.content", "OpenDocument Text"},
    {"org.oasis-open.opendocument.spreadsheet", "ods",
     "public.zip-archive public.data public.item public.composite-content public.content", "OpenDocument Spreadsheet"},
    {"org.oasis-open.opendocument.presentation", "odp",
     "public.zip-archive public.data public.item public.composite-content public.content",
     "OpenDocument Presentation"},
    {"org.oasis-open.opendocument.text-flat-xml", "fodt",
     "public.xml public.text public.data public.item public.composite-content public.content",
     "OpenDocument Flat XML Text"},
    {"org.oasis-open.opendocument.spreadsheet-flat-xml", "fods",
     "public.xml public.text public.data public.item public.composite-content public.content",
     "OpenDocument Flat XML Spreadsheet"},
    {"org.oasis-open.opendocument.presentation-flat-xml", "fodp",
     "public.xml public.text public.data public.item public.composite-content public.content",
     "OpenDocument Flat XML Presentation"},
    {"org.idpf.epub-container", "epub",
     "public.zip-archive public.data public.item public.composite-content public.content", "EPUB document"},
    {"com.apple.iwork.numbers.sffnumbers", "numbers", "public.zip-archive public.data public.item public.content", "Numbers Spreadsheet"},
    {"com.apple.iwork.pages.sffpages", "pages", "public.zip-archive public.data public.item public.content", "Pages Document"},
    {"com.apple.iwork.keynote.sffkey", "key", "public.zip-archive public.data public.item public.content", "Keynote Presentation"},
    {"public.png", "png", "public.image public.data public.item public.content", "PNG image"},
    {"public.jpeg", "jpg jpeg jpe", "public.image public.data public.item public.content", "JPEG image"},
    {"public.tiff", "tif tiff", "public.image public.data public.item public.content", "TIFF image"},
    {"com.compuserve.gif", "gif", "public.image public.data public.item public.content", "GIF image"},
    {"com.microsoft.bmp", "bmp", "public.image public.data public.item public.content", "Windows bitmap image"},
    {"org.webmproject.webp", "webp", "public.image public.data public.item public.content", "WebP image"},
    {"public.svg-image", "svg", "public.image public.data public.item public.content", "SVG image"},
    {"com.apple.property-list", "plist", "public.data public.item", "Property List"},
    // Everyday text formats: they conform to public.plain-text or public.text,
    // so the plain-text importer reads them (the registry follows the tree).
    {"net.daringfireball.markdown", "md markdown mdown mkd", "public.plain-text public.text public.data public.item public.content",
     "Markdown Document"},
    {"com.apple.log", "log", "public.plain-text public.text public.data public.item public.content", "Log File"},
    {"public.comma-separated-values-text", "csv",
     "public.delimited-values-text public.text public.data public.item public.content", "CSV Document"},
    {"public.tab-separated-values-text", "tsv",
     "public.delimited-values-text public.text public.data public.item public.content", "Tab-Separated Values"},
    {"public.json", "json", "public.text public.data public.item public.content", "JSON Document"},
    {"public.xml", "xml xsd xsl xslt", "public.text public.data public.item public.content", "XML Document"},
    {"public.yaml", "yaml yml", "public.text public.data public.item public.content", "YAML Document"},
    {"public.css", "css", "public.text public.data public.item public.content", "CSS Style Sheet"},
    {"org.tug.tex", "tex ltx sty cls", "public.plain-text public.text public.data public.item public.content",
     "LaTeX Document"},
    {"org.tug.bibtex", "bib", "public.plain-text public.text public.data public.item public.content",
     "BibTeX Bibliography"},
    {"public.c-source", "c",
     "public.source-code public.plain-text public.text public.data public.item public.content", "C Source File"},
    {"public.c-header", "h",
     "public.source-code public.plain-text public.text public.data public.item public.content", "C Header File"},
    {"public.c-plus-plus-source", "cpp cc cxx c++",
     "public.source-code public.plain-text public.text public.data public.item public.content", "C++ Source File"},
    {"public.c-plus-plus-header", "hpp hh hxx h++",
     "public.source-code public.plain-text public.text public.data public.item public.content", "C++ Header File"},
    {"public.objective-c-source", "m",
     "public.source-code public.plain-text public.text public.data public.item public.content", "Objective-C Source File"},
    {"public.objective-c-plus-plus-source", "mm",
     "public.source-code public.plain-text public.text public.data public.item public.content", "Objective-C++ Source File"},
    {"public.swift-source", "swift",
     "public.source-code public.plain-text public.text public.data public.item public.content", "Swift Source File"},
    {"com.sun.java-source", "java",
     "public.source-code public.plain-text public.text public.data public.item public.content", "Java Source File"},
    {"public.assembly-source", "s asm",
     "public.source-code public.plain-text public.text public.data public.item public.content", "Assembly Source File"},
    {"public.fortran-source", "f f77 f90 f95",
     "public.source-code public.plain-text public.text public.data public.item public.content", "Fortran Source File"},
    // Languages the platform gives no type of their own ("ts" is left out:
    // it is also an MPEG transport stream).
    {"public.source-code", "go rs kt kts cs tsx jsx scala hs lua sql r dart zig vala clj el ml",
     "public.plain-text public.text public.data public.item public.content", "Source Code"},
    {"public.python-script", "py pyw",
     "public.script public.source-code public.plain-text public.text public.data public.item public.content", "Python Script"},
    {"public.shell-script", "sh bash zsh ksh csh fish",
     "public.script public.source-code public.plain-text public.text public.data public.item public.content", "Shell Script"},
    {"public.perl-script", "pl pm",
     "public.script public.source-code public.plain-text public.text public.data public.item public.content", "Perl Script"},
    {"public.ruby-script", "rb",
     "public.script public.source-code public.plain-text public.text public.data public.item public.content", "Ruby Script"},
    {"public.php-script", "php",
     "public.script public.source-code public.plain-text public.text public.data public.item public.content", "PHP Script"},
    {"com.netscape.javascript-source", "js mjs cjs",
     "public.script public.source-code public.plain-text public.text public.data public.item public.content", "JavaScript Script"},
    // Mail, Word 97-2003, music and films: types of their own, each read by
    // its importer (mail_importer.h, doc_importer.h, audio_importer.h).
    {"com.apple.mail.email", "eml", "public.email-message public.data public.item public.content", "Email Message"},
    {"com.apple.mail.mbox", "mbox mbx", "public.data public.item public.content", "Mailbox"},
    {"com.microsoft.word.doc", "doc dot",
     "public.data public.item public.composite-content public.content", "Microsoft Word 97-2003 document"},
    {"public.mp3", "mp3", "public.audio public.audiovisual-content public.data public.item public.content", "MP3 audio"},
    {"org.xiph.flac", "flac", "public.audio public.audiovisual-content public.data public.item public.content",
     "FLAC audio"},
    {"org.xiph.ogg-audio", "ogg oga", "public.audio public.audiovisual-content public.data public.item public.content",
     "Ogg audio"},
    {"org.xiph.opus", "opus", "public.audio public.audiovisual-content public.data public.item public.content",
     "Opus audio"},
    {"com.apple.m4a-audio", "m4a",
     "public.mpeg-4-audio public.audio public.audiovisual-content public.data public.item public.content",
     "MPEG-4 audio"},
    {"public.mpeg-4", "mp4 m4v", "public.movie public.audiovisual-content public.data public.item public.content",
     "MPEG-4 movie"},
    {"com.microsoft.waveform-audio", "wav wave",
     "public.audio public.audiovisual-content public.data public.item public.content", "Waveform audio"},
    {"public.aiff-audio", "aif aiff", "public.audio public.audiovisual-content public.data public.item public.content",
     "AIFF audio"},
    {"public.zip-archive", "zip", "public.data public.item public.content", "ZIP archive"},
    {"public.folder", "", "public.directory public.item", "Folder"},
    {"public.data", "", "public.item", "Document"},
};

std::vector<std::string> split(const char* s) {
  std::vector<std::string> out;
  std::string cur;
  for (const char* p = s; *p; ++p) {
    if (*p == ' ') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += *p;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

TypeInfo fromRow(const Row& r) {
  TypeInfo t{r.uti, {r.uti}, r.kind};
  for (auto& p : split(r.parents)) t.tree.push_back(p);
  return t;
}

const Row* rowForUti(std::string_view uti) {
  for (const auto& r : kTypes)
    if (uti == r.uti) return &r;
  return nullptr;
}

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Document types whose files are zip archives: a sniffed zip never
// contradicts their extension.
constexpr const char* kZipDocuments[] = {
    "org.openxmlformats.wordprocessingml.document", "org.openxmlformats.spreadsheetml.sheet",
    "org.openxmlformats.presentationml.presentation", "org.oasis-open.opendocument.text",
    "org.oasis-open.opendocument.spreadsheet",      "org.oasis-open.opendocument.presentation",
    "org.idpf.epub-container",
    "com.apple.iwork.numbers.sffnumbers",           "com.apple.iwork.pages.sffpages",
    "com.apple.iwork.keynote.sffkey",
};

// An OpenDocument file or an EPUB book starts with an uncompressed
// "mimetype" member naming its kind; the UTI for each kind.
constexpr std::pair<const char*, const char*> kMimetypeMembers[] = {
    {"application/vnd.oasis.opendocument.text", "org.oasis-open.opendocument.text"},
    {"application/vnd.oasis.opendocument.spreadsheet", "org.oasis-open.opendocument.spreadsheet"},
    {"application/vnd.oasis.opendocument.presentation", "org.oasis-open.opendocument.presentation"},
    {"application/epub+zip", "org.idpf.epub-container"},
};

// Whether `head` could be the start of a file of type `uti`: used to catch
// files whose extension lies (a PDF named .txt).
bool contentContradicts(const std::string& uti, std::string_view head) {
  const std::string sniffed = sniffUti(head);
  if (sniffed.empty()) return false;
  if (sniffed == uti) return false;
  // A zip is the container of several document types.
  if (sniffed == "public.zip-archive") {
    for (const char* z : kZipDocuments)
      if (uti == z) return false;
  }
  // Text formats that sniffing can mistake for each other.
  if (uti == "public.plain-text" || uti == "public.html" || uti == "com.apple.property-list") {
    return sniffed == "com.adobe.pdf" || sniffed == "public.png" || sniffed == "public.jpeg" ||
           sniffed == "public.zip-archive" || sniffed == "public.tiff";
  }
  return true;
}

// UTF-8 (or ASCII) text without NUL bytes and with few control characters.
// A multi-byte sequence cut off by the end of the sample does not count against it.
// UTF-8 throughout, allowing a sequence cut by the sample's end.
bool isUtf8Sample(std::string_view head) {
  size_t i = 0;
  while (i < head.size()) {
    const auto c = static_cast<unsigned char>(head[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    if (len == 0 || c > 0xF4) return false;
    if (i + len > head.size()) break;  // cut by the sample's end
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(head[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

// A message or a mailbox saved without an extension, as mail programs keep
// them (a Maildir file, a Thunderbird folder): the first line is a header
// field (in a mailbox, the one after its "From " separator), and the header
// holds a sender and a date, subject or message id. Null otherwise.
const char* sniffMail(std::string_view head) {
  const bool mailbox = startsWith(head, "From ");
  const size_t headerStart = mailbox ? head.find('\n') + 1 : 0;
  if (mailbox && headerStart == 0) return nullptr;
  const std::string_view header = head.substr(headerStart, head.find("\n\n", headerStart) - headerStart);
  const std::string h = "\n" + lower(header);
  size_t name = 1;
  while (name < h.size() && (std::isalnum(static_cast<unsigned char>(h[name])) || h[name] == '-')) ++name;
  const bool field = name > 1 && name < h.size() && h[name] == ':';
  const auto has = [&](const char* f) { return h.find(std::string("\n") + f) != std::string::npos; };
  if (!field || !has("from:") || !(has("date:") || has("subject:") || has("message-id:"))) return nullptr;
  return mailbox ? "com.apple.mail.mbox" : "com.apple.mail.email";
}

}  // namespace

std::string typeTableDigest() {
  Digest d;
  for (const auto& r : kTypes)
    for (const char* field : {r.uti, r.extensions, r.parents, r.kind}) d.add(field);
  return d.hex();
}

TypeInfo typeForUti(std::string_view uti) {
  if (const Row* r = rowForUti(uti)) return fromRow(*r);
  return TypeInfo{std::string(uti), {std::string(uti), "public.data", "public.item"}, "Document"};
}

TypeInfo typeForExtension(std::string_view ext) {
  const std::string e = lower(ext);
  if (!e.empty()) {
    for (const auto& r : kTypes)
      for (auto& x : split(r.extensions))
        if (x == e) return fromRow(r);
  }
  return typeForUti("public.data");
}

std::string sniffUti(std::string_view head) {
  if (startsWith(head, "%PDF-")) return "com.adobe.pdf";
  if (startsWith(head, "\x89PNG\r\n\x1a\n")) return "public.png";
  if (startsWith(head, "\xFF\xD8\xFF")) return "public.jpeg";
  if (startsWith(head, "II*\0") || startsWith(head, std::string_view("MM\0*", 4))) return "public.tiff";
  if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a")) return "com.compuserve.gif";
  if (startsWith(head, "RIFF") && head.substr(8, 4) == "WEBP") return "org.webmproject.webp";
  if (startsWith(head, "{\\rtf")) return "public.rtf";
  if (startsWith(head, "bplist0")) return "com.apple.property-list";
  if (startsWith(head, "PK\x03\x04")) {
    for (const auto& [mime, uti] : kMimetypeMembers) {
      // The type itself, not a longer one ("...text-template").
      const std::string_view m(mime);
      const size_t at = head.find(m);
      if (at != std::string_view::npos && (at + m.size() == head.size() || head[at + m.size()] != '-')) return uti;
    }
    if (head.find("word/") != std::string_view::npos) return "org.openxmlformats.wordprocessingml.document";
    // Shorter folder names could be any zip's: only in an Office package.
    if (head.find("[Content_Types].xml") != std::string_view::npos) {
      if (head.find("xl/") != std::string_view::npos) return "org.openxmlformats.spreadsheetml.sheet";
      if (head.find("ppt/") != std::string_view::npos) return "org.openxmlformats.presentationml.presentation";
    }
    return "public.zip-archive";
  }
  // Text-like: skip a BOM and leading white space.
  std::string_view t = head;
  if (startsWith(t, "\xEF\xBB\xBF")) t.remove_prefix(3);
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.remove_prefix(1);
  const std::string l = lower(t.substr(0, 64));
  if (startsWith(l, "<?xml") && t.find("<!DOCTYPE plist") != std::string_view::npos) return "com.apple.property-list";
  if (startsWith(l, "<!doctype html") || startsWith(l, "<html")) return "public.html";
  return "";
}

TypeInfo typeOfFile(const std::string& path) {
  struct stat st {};
  return typeOfFile(path, lstat(path.c_str(), &st) == 0 ? st.st_mode : 0);
}

TypeInfo typeOfFile(const std::string& path, mode_t mode, int fd) {
  if (S_ISDIR(mode)) return typeForUti("public.folder");
  const auto slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto dot = name.find_last_of('.');
  const std::string ext = (dot == std::string::npos || dot == 0) ? "" : name.substr(dot + 1);
  TypeInfo byExt = typeForExtension(ext);

  // Only regular files are read; FIFOs and devices must never block the caller.
  std::string head;
  if (S_ISREG(mode)) {
    const int file = fd >= 0 ? fd : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (file >= 0) {
      head.resize(4096);
      const ssize_t n = ::pread(file, head.data(), head.size(), 0);
      head.resize(n > 0 ? static_cast<size_t>(n) : 0);
      if (file != fd) ::close(file);
    }
  }
  if (byExt.uti != "public.data") {
    if (!contentContradicts(byExt.uti, head)) return byExt;
  }
  const std::string sniffed = sniffUti(head);
  if (!sniffed.empty()) return typeForUti(sniffed);
  if (byExt.uti == "public.data" && looksLikeText(head) && isUtf8Sample(head))
    if (const char* mail = sniffMail(head)) return typeForUti(mail);
  // A file with no known extension whose first bytes are readable text (a
  // README, a .conf file) is plain text, so its words can be found.
  if (byExt.uti == "public.data" && looksLikeText(head) && isUtf8Sample(head)) return typeForUti("public.plain-text");
  return byExt;
}

}  // namespace mdindex
