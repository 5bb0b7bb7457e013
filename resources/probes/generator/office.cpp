// Zip-packaged probes: OpenDocument, Office Open XML, EPUB and plain zip
// archives, each the smallest package its readers accept.
#include "probe_set.h"

#include "reproducible.h"

#include <string>
#include <vector>

namespace probegen::office {

namespace {

using samplegen::writeZip;
using samplegen::ZipMember;

QByteArray x(const QString& word) { return word.toHtmlEscaped().toUtf8(); }

const QByteArray kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

// --- OpenDocument ------------------------------------------------------------

bool openDocument(const QString& path, const char* mimetype, const QByteArray& body) {
  const QByteArray content = kXmlHead +
      "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
      "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" office:version=\"1.2\">"
      "<office:body>" + body + "</office:body></office:document-content>";
  const QByteArray meta = kXmlHead +
      "<office:document-meta xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:meta=\"urn:oasis:names:tc:opendocument:xmlns:meta:1.0\" office:version=\"1.2\">"
      "<office:meta><meta:generator>Findlark probe generator</meta:generator>"
      "<meta:creation-date>2024-05-14T09:30:00</meta:creation-date></office:meta></office:document-meta>";
  const QByteArray manifest = kXmlHead +
      "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" manifest:version=\"1.2\">"
      "<manifest:file-entry manifest:full-path=\"/\" manifest:media-type=\"" + QByteArray(mimetype) + "\"/>"
      "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
      "<manifest:file-entry manifest:full-path=\"meta.xml\" manifest:media-type=\"text/xml\"/>"
      "</manifest:manifest>";
  return writeZip(path, {{"mimetype", QByteArray(mimetype), false},
                         {"content.xml", content},
                         {"meta.xml", meta},
                         {"META-INF/manifest.xml", manifest}});
}

// --- Office Open XML ---------------------------------------------------------

const QByteArray kRelsNs = "http://schemas.openxmlformats.org/package/2006/relationships";
const QByteArray kOfficeRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

QByteArray relationships(const std::vector<std::pair<QByteArray, QByteArray>>& typeAndTarget) {
  QByteArray out = kXmlHead + "<Relationships xmlns=\"" + kRelsNs + "\">";
  int id = 1;
  for (const auto& [type, target] : typeAndTarget)
    out += "<Relationship Id=\"rId" + QByteArray::number(id++) + "\" Type=\"" + type + "\" Target=\"" + target + "\"/>";
  return out + "</Relationships>";
}

QByteArray contentTypes(const std::vector<std::pair<QByteArray, QByteArray>>& nameAndType) {
  QByteArray out = kXmlHead +
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
  for (const auto& [name, type] : nameAndType)
    out += "<Override PartName=\"" + name + "\" ContentType=\"" + type + "\"/>";
  return out + "</Types>";
}

const QByteArray kCoreType = "application/vnd.openxmlformats-package.core-properties+xml";
const QByteArray kCore = kXmlHead +
    "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
    "<dc:creator>Findlark</dc:creator>"
    "<dcterms:created xsi:type=\"dcterms:W3CDTF\">2024-05-14T09:30:00Z</dcterms:created>"
    "<dcterms:modified xsi:type=\"dcterms:W3CDTF\">2024-05-14T09:30:00Z</dcterms:modified>"
    "</cp:coreProperties>";

const QByteArray kW = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
                      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

QByteArray para(const QByteArray& text) {
  return "<w:p><w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r></w:p>";
}

// A Word document whose body is `body` (w:body children before sectPr),
// with extra members (name, content type, relationship type, bytes).
struct Member {
  QByteArray name, type, relType, data;
};

bool word(const QString& path, const QByteArray& body, const std::vector<Member>& extra, const QByteArray& sectExtra = {}) {
  std::vector<std::pair<QByteArray, QByteArray>> types{
      {"/word/document.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"},
      {"/docProps/core.xml", kCoreType}};
  std::vector<std::pair<QByteArray, QByteArray>> docRels;
  for (const Member& p : extra) {
    types.push_back({"/word/" + p.name, p.type});
    docRels.push_back({p.relType, p.name});
  }
  const QByteArray document = kXmlHead + "<w:document " + kW + "><w:body>" + body +
                              "<w:sectPr>" + sectExtra +
                              "<w:pgSz w:w=\"11906\" w:h=\"16838\"/></w:sectPr></w:body></w:document>";
  std::vector<ZipMember> members{
      {"[Content_Types].xml", contentTypes(types)},
      {"_rels/.rels", relationships({{kOfficeRel + "/officeDocument", "word/document.xml"},
                                     {"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
                                      "docProps/core.xml"}})},
      {"word/document.xml", document},
      {"docProps/core.xml", kCore}};
  if (!docRels.empty()) members.push_back({"word/_rels/document.xml.rels", relationships(docRels)});
  for (const Member& p : extra) members.push_back({"word/" + p.name.toStdString(), p.data});
  return writeZip(path, members);
}

// A workbook of one sheet called `sheetName` whose cells A1..A3 are shared
// strings `strings`.
bool workbook(const QString& path, const QByteArray& sheetName, const std::vector<QByteArray>& strings) {
  const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
  QByteArray shared = kXmlHead + "<sst " + ns + " count=\"" + QByteArray::number(qsizetype(strings.size())) +
                      "\" uniqueCount=\"" + QByteArray::number(qsizetype(strings.size())) + "\">";
  QByteArray rows;
  for (size_t i = 0; i < strings.size(); ++i) {
    shared += "<si><t>" + strings[i] + "</t></si>";
    rows += "<row r=\"" + QByteArray::number(qsizetype(i + 1)) + "\"><c r=\"A" + QByteArray::number(qsizetype(i + 1)) +
            "\" t=\"s\"><v>" + QByteArray::number(qsizetype(i)) + "</v></c></row>";
  }
  shared += "</sst>";
  const QByteArray sheet = kXmlHead + "<worksheet " + ns + "><sheetData>" + rows + "</sheetData></worksheet>";
  const QByteArray book = kXmlHead + "<workbook " + ns +
                          " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                          "<sheets><sheet name=\"" + sheetName + "\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
  return writeZip(path, {
      {"[Content_Types].xml",
       contentTypes({{"/xl/workbook.xml", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"},
                     {"/xl/worksheets/sheet1.xml", "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"},
                     {"/xl/sharedStrings.xml", "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"},
                     {"/docProps/core.xml", kCoreType}})},
      {"_rels/.rels", relationships({{kOfficeRel + "/officeDocument", "xl/workbook.xml"},
                                     {"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
                                      "docProps/core.xml"}})},
      {"xl/workbook.xml", book},
      {"xl/_rels/workbook.xml.rels", relationships({{kOfficeRel + "/worksheet", "worksheets/sheet1.xml"},
                                                    {kOfficeRel + "/sharedStrings", "sharedStrings.xml"}})},
      {"xl/worksheets/sheet1.xml", sheet},
      {"xl/sharedStrings.xml", shared},
      {"docProps/core.xml", kCore}});
}

const QByteArray kP = "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
                      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
                      "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"";

QByteArray textShape(int id, const QByteArray& text) {
  return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + QByteArray::number(id) + "\" name=\"Text " + QByteArray::number(id) +
         "\"/><p:cNvSpPr txBox=\"1\"/><p:nvPr/></p:nvSpPr><p:spPr/><p:txBody><a:bodyPr/><a:p><a:r><a:t>" + text +
         "</a:t></a:r></a:p></p:txBody></p:sp>";
}

QByteArray shapeTree(const QByteArray& shapes) {
  return "<p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>"
         "<p:grpSpPr/>" + shapes + "</p:spTree></p:cSld>";
}

// A presentation of one slide showing `slideText`, with speaker notes
// `notesText`.
bool presentation(const QString& path, const QByteArray& slideText, const QByteArray& notesText) {
  const QByteArray pres = kXmlHead + "<p:presentation " + kP +
                          "><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId1\"/></p:sldIdLst>"
                          "<p:sldSz cx=\"9144000\" cy=\"6858000\"/><p:notesSz cx=\"6858000\" cy=\"9144000\"/>"
                          "</p:presentation>";
  const QByteArray slide = kXmlHead + "<p:sld " + kP + ">" + shapeTree(textShape(2, slideText)) + "</p:sld>";
  const QByteArray notes = kXmlHead + "<p:notes " + kP + ">" + shapeTree(textShape(2, notesText)) + "</p:notes>";
  return writeZip(path, {
      {"[Content_Types].xml",
       contentTypes({{"/ppt/presentation.xml", "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml"},
                     {"/ppt/slides/slide1.xml", "application/vnd.openxmlformats-officedocument.presentationml.slide+xml"},
                     {"/ppt/notesSlides/notesSlide1.xml", "application/vnd.openxmlformats-officedocument.presentationml.notesSlide+xml"},
                     {"/docProps/core.xml", kCoreType}})},
      {"_rels/.rels", relationships({{kOfficeRel + "/officeDocument", "ppt/presentation.xml"},
                                     {"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
                                      "docProps/core.xml"}})},
      {"ppt/presentation.xml", pres},
      {"ppt/_rels/presentation.xml.rels", relationships({{kOfficeRel + "/slide", "slides/slide1.xml"}})},
      {"ppt/slides/slide1.xml", slide},
      {"ppt/slides/_rels/slide1.xml.rels", relationships({{kOfficeRel + "/notesSlide", "../notesSlides/notesSlide1.xml"}})},
      {"ppt/notesSlides/notesSlide1.xml", notes},
      {"ppt/notesSlides/_rels/notesSlide1.xml.rels", relationships({{kOfficeRel + "/slide", "../slides/slide1.xml"}})},
      {"docProps/core.xml", kCore}});
}

}  // namespace

bool odt(const QString& path, const QString& w) {
  return openDocument(path, "application/vnd.oasis.opendocument.text",
                      "<office:text><text:h text:outline-level=\"1\">Findlark probe</text:h><text:p>" + filler() +
                          "</text:p><text:p>The hidden word of this text document is " + x(w) + ".</text:p></office:text>");
}

bool ods(const QString& path, const QString& w) {
  return openDocument(path, "application/vnd.oasis.opendocument.spreadsheet",
                      "<office:spreadsheet><table:table table:name=\"Sheet1\">"
                      "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>" + filler() +
                          "</text:p></table:table-cell></table:table-row>"
                          "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>" + x(w) +
                          "</text:p></table:table-cell><table:table-cell office:value-type=\"float\" office:value=\"12\">"
                          "<text:p>12</text:p></table:table-cell></table:table-row></table:table></office:spreadsheet>");
}

bool odp(const QString& path, const QString& w) {
  return openDocument(path, "application/vnd.oasis.opendocument.presentation",
                      "<office:presentation><draw:page draw:name=\"Slide1\">"
                      "<draw:frame svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"20cm\" svg:height=\"3cm\"><draw:text-box>"
                      "<text:p>" + filler() + "</text:p><text:p>On this slide: " + x(w) +
                          "</text:p></draw:text-box></draw:frame></draw:page></office:presentation>");
}

bool docxBody(const QString& path, const QString& w) {
  return word(path, para(filler()) + para("The hidden word of this document is " + x(w) + "."), {});
}

bool docxTable(const QString& path, const QString& w) {
  const auto cell = [](const QByteArray& t) { return "<w:tc><w:tcPr><w:tcW w:w=\"3000\" w:type=\"dxa\"/></w:tcPr>" + para(t) + "</w:tc>"; };
  return word(path,
              para(filler()) + "<w:tbl><w:tblPr><w:tblW w:w=\"0\" w:type=\"auto\"/></w:tblPr>"
                               "<w:tblGrid><w:gridCol w:w=\"3000\"/><w:gridCol w:w=\"3000\"/></w:tblGrid>"
                               "<w:tr>" + cell("Item") + cell("Count") + "</w:tr>"
                               "<w:tr>" + cell(x(w)) + cell("7") + "</w:tr></w:tbl>" + para("End of the table."),
              {});
}

bool docxHeader(const QString& path, const QString& w) {
  const QByteArray header = kXmlHead + "<w:hdr " + kW + ">" + para(x(w)) + "</w:hdr>";
  return word(path, para(filler()) + para("The hidden word is in the page header."),
              {{"header1.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml",
                kOfficeRel + "/header", header}},
              "<w:headerReference w:type=\"default\" r:id=\"rId1\"/>");
}

bool docxFootnote(const QString& path, const QString& w) {
  const QByteArray notes = kXmlHead + "<w:footnotes " + kW + ">"
      "<w:footnote w:type=\"separator\" w:id=\"-1\"><w:p><w:r><w:separator/></w:r></w:p></w:footnote>"
      "<w:footnote w:type=\"continuationSeparator\" w:id=\"0\"><w:p><w:r><w:continuationSeparator/></w:r></w:p></w:footnote>"
      "<w:footnote w:id=\"1\"><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t xml:space=\"preserve\"> " + x(w) +
      "</w:t></w:r></w:p></w:footnote></w:footnotes>";
  return word(path,
              para(filler()) + "<w:p><w:r><w:t>The hidden word is in the footnote.</w:t></w:r>"
                               "<w:r><w:footnoteReference w:id=\"1\"/></w:r></w:p>",
              {{"footnotes.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.footnotes+xml",
                kOfficeRel + "/footnotes", notes}});
}

bool docxComment(const QString& path, const QString& w) {
  const QByteArray comments = kXmlHead + "<w:comments " + kW + ">"
      "<w:comment w:id=\"0\" w:author=\"Findlark\" w:date=\"2024-05-14T09:30:00Z\" w:initials=\"F\">" + para(x(w)) +
      "</w:comment></w:comments>";
  return word(path,
              para(filler()) + "<w:p><w:commentRangeStart w:id=\"0\"/><w:r><w:t>A reviewer remarked on this sentence.</w:t></w:r>"
                               "<w:commentRangeEnd w:id=\"0\"/><w:r><w:commentReference w:id=\"0\"/></w:r></w:p>",
              {{"comments.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.comments+xml",
                kOfficeRel + "/comments", comments}});
}

bool xlsxCell(const QString& path, const QString& w) { return workbook(path, "Sheet1", {filler(), "Animal", x(w)}); }

bool xlsxSheetName(const QString& path, const QString& w) {
  return workbook(path, x(w), {filler(), "Animal", "Count"});
}

bool pptxSlide(const QString& path, const QString& w) {
  return presentation(path, "Slide text: " + x(w), filler());
}

bool pptxNotes(const QString& path, const QString& w) {
  return presentation(path, filler(), "Speaker notes: " + x(w));
}

bool epub(const QString& path, const QString& w) {
  const QByteArray container = kXmlHead +
      "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
      "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>";
  const QByteArray opf = kXmlHead +
      "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"id\">"
      "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
      "<dc:identifier id=\"id\">urn:uuid:5b0e2f4c-9d1a-4c1e-8f00-46a1d0c0ffee</dc:identifier>"
      "<dc:title>Findlark probe book</dc:title><dc:language>en</dc:language>"
      "<meta property=\"dcterms:modified\">2024-05-14T09:30:00Z</meta></metadata>"
      "<manifest><item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>"
      "<item id=\"c1\" href=\"chapter1.xhtml\" media-type=\"application/xhtml+xml\"/>"
      "<item id=\"c2\" href=\"chapter2.xhtml\" media-type=\"application/xhtml+xml\"/></manifest>"
      "<spine><itemref idref=\"c1\"/><itemref idref=\"c2\"/></spine></package>";
  const auto page = [](const QByteArray& title, const QByteArray& body) {
    return kXmlHead + "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\">"
                      "<head><title>" + title + "</title></head><body>" + body + "</body></html>";
  };
  const QByteArray nav = page("Contents", "<nav epub:type=\"toc\"><ol><li><a href=\"chapter1.xhtml\">One</a></li>"
                                          "<li><a href=\"chapter2.xhtml\">Two</a></li></ol></nav>");
  return writeZip(path, {{"mimetype", "application/epub+zip", false},
                         {"META-INF/container.xml", container},
                         {"OEBPS/content.opf", opf},
                         {"OEBPS/nav.xhtml", nav},
                         {"OEBPS/chapter1.xhtml", page("One", "<h1>One</h1><p>" + filler() + "</p>")},
                         {"OEBPS/chapter2.xhtml", page("Two", "<h1>Two</h1><p>In the second chapter: " + x(w) + ".</p>")}});
}

bool zipMemberName(const QString& path, const QString& w) {
  return writeZip(path, {{"readme.txt", filler() + "\n"}, {(w + QStringLiteral(".txt")).toStdString(), "A list of nothing much.\n"}});
}

bool zipMemberText(const QString& path, const QString& w) {
  return writeZip(path, {{"readme.txt", filler() + "\n"}, {"notes.txt", "The hidden word of this archive member is " + w.toUtf8() + ".\n"}});
}

}  // namespace probegen::office
