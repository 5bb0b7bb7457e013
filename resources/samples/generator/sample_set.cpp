#include "sample_set.h"

#include "images.h"
#include "iwa.h"
#include "reproducible.h"

#include <QDir>
#include <QPageSize>
#include <QUuid>

#include <plist/plist.h>

#include <functional>

namespace samplegen {

namespace {

const QString kCreator = QStringLiteral("Findlark sample generator");

QByteArray utf8(const char* text) { return QByteArray(text); }

// Stable identifiers for the iWork metadata, derived from a name rather than
// made at random.
QString stableUuid(const char* name) {
  static const QUuid ns(QStringLiteral("{6c1f43d4-0a8e-4a47-9b0e-1f1e2a7c5d11}"));
  return QUuid::createUuidV5(ns, QString::fromLatin1(name)).toString(QUuid::WithoutBraces).toUpper();
}

// --- Text formats ----------------------------------------------------------

bool writeA(const QString& path) {
  return writeFile(path, utf8(
      "Findlark sample A \xe2\x80\x94 plain text (UTF-8)\n"
      "\n"
      "This file tests the plain-text importer. Its body is UTF-8 and holds a few\n"
      "accented words (Z\xc3\xbcrich, cr\xc3\xa8me br\xc3\xbbl\xc3\xa9" "e, S\xc3\xa3o Paulo), so a reader that guesses the\n"
      "wrong encoding shows garbled text instead of failing quietly.\n"
      "\n"
      "The search term is in this sentence: the farmer drove the cattle down to\n"
      "the river at dusk.\n"
      "\n"
      "If a content search does not list FindlarkA.txt, the index does not read\n"
      "the text of plain-text files.\n"));
}

bool writeB(const QString& path) {
  // Formatting groups, a colour table and an escaped non-ASCII word (caf\'e9
  // in Windows-1252), as word processors write them. RTF readers ignore line
  // breaks in the source, so every break inside a paragraph follows a space.
  return writeFile(path, utf8(
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n"
      "{\\fonttbl{\\f0\\fswiss\\fcharset0 Helvetica;}{\\f1\\fmodern\\fcharset0 Courier;}}\n"
      "{\\colortbl;\\red0\\green0\\blue0;\\red160\\green60\\blue20;}\n"
      "{\\info{\\title Findlark sample B: rich text}{\\author Findlark}}\n"
      "\\paperw11900\\paperh16840\\margl1440\\margr1440\\margt1440\\margb1440\n"
      "\\pard\\sa200\\f0\\fs32\\b Findlark sample B\\b0\\fs24\\par\n"
      "\\pard\\sa200 This document tests the RTF importer. Its body has {\\b bold}, {\\i italic}, \n"
      "{\\cf2 coloured} and {\\f1 monospaced} runs, and an accented word written as an \n"
      "escape: caf\\'e9.\\par\n"
      "\\pard\\sa200 The search term is in the body text: after the storm the cattle \n"
      "sheltered behind the barn.\\par\n"
      "\\pard\\sa200 If a content search does not list FindlarkB.rtf, the index does not \n"
      "read the text of RTF documents.\\par\n"
      "}\n"));
}

bool writeD(const QString& path) {
  return writeFile(path, utf8(
      "<!DOCTYPE html>\n"
      "<html lang=\"en\">\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<title>Findlark sample D: HTML body text</title>\n"
      "<meta name=\"description\" content=\"Tests the HTML importer of a desktop index.\">\n"
      "<style>body { font-family: sans-serif; max-width: 40em; }</style>\n"
      "</head>\n"
      "<body>\n"
      "<h1>Findlark sample D</h1>\n"
      "<p>This page tests the HTML importer. The search term is in the body text,\n"
      "not in the title, so an importer that keeps only the title misses it.</p>\n"
      "<p>At the county show the <em>cattle</em> were judged before noon &ndash;\n"
      "the sheep had to wait until the afternoon.</p>\n"
      "<p>If a content search does not list FindlarkD.html, the index does not read\n"
      "the body text of HTML files.</p>\n"
      "</body>\n"
      "</html>\n"));
}

bool writeM(const QString& path) {
  return writeFile(path, utf8(
      "Findlark sample M \xe2\x80\x94 keywords attribute\n"
      "\n"
      "This file's text does not contain the search term. Findlark gives the file\n"
      "a keywords extended attribute when it creates the test folder\n"
      "(user.com.apple.metadata:kMDItemKeywords, a binary property list), and the\n"
      "term is only there.\n"
      "\n"
      "A content search should not list FindlarkM.txt; a search that includes\n"
      "keywords should. If it is missing then, the index does not read the\n"
      "attribute, or the file system dropped it (copies made with plain cp lose it).\n"));
}

bool writeL(const QString& path) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "Title", plist_new_string("Findlark sample L"));
  plist_dict_set_item(root, "Purpose",
                      plist_new_string("Tests the property-list importer: the search term is "
                                       "a string value of this XML property list."));
  plist_dict_set_item(root, "Herd", plist_new_string("Twelve head of Highland cattle"));
  plist_dict_set_item(root, "Paddock", plist_new_uint(4));
  plist_dict_set_item(root, "Checked", plist_new_bool(1));
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root, &xml, &length);
  plist_free(root);
  if (!xml) return false;
  const QByteArray bytes(xml, static_cast<qsizetype>(length));
  plist_to_xml_free(xml);
  return writeFile(path, bytes);
}

// --- PDF -------------------------------------------------------------------

bool writeC(const QString& path) {
  const auto pdf = renderHtmlPdf(QStringLiteral(
      "<h1>Findlark sample C</h1>"
      "<p><b>PDF page text</b></p>"
      "<p>This document tests the PDF importer. Its page carries a real text layer "
      "set in DejaVu Sans, embedded in the file, so a reader extracts the words "
      "instead of recognising them from pixels.</p>"
      "<p>The search term is in the body: in spring the cattle are moved to the "
      "high pastures.</p>"
      "<p>If a content search does not list FindlarkC.pdf, the index does not read "
      "the text of PDF documents.</p>"),
      {QStringLiteral("Findlark sample C: PDF page text"), kCreator, QPageSize::A5, 10.5});
  return pdf && writeFile(path, *pdf);
}

bool writeN(const QString& path) {
  const auto pdf = renderHtmlPdf(QStringLiteral(
      "<h1>Findlark sample N</h1>"
      "<p><b>PDF keywords</b></p>"
      "<p>This document tests whether the index reads a PDF's document information. "
      "The search term is not on this page: it is only in the document's Keywords "
      "entry.</p>"
      "<p>A content search should not list FindlarkN.pdf; a search that includes "
      "keywords should. If a content search does list it, the index matches "
      "metadata where it should match text.</p>"),
      {QStringLiteral("Findlark sample N: PDF keywords"), kCreator, QPageSize::A5, 10.5});
  return pdf && writePdfWithKeywords(*pdf, "Findlark, cattle, keywords", path);
}

// --- Zip packages ------------------------------------------------------------

bool writeE(const QString& path) {
  const QByteArray contentTypes = utf8(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/word/document.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
      "<Override PartName=\"/docProps/core.xml\" ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
      "<Override PartName=\"/docProps/app.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>"
      "</Types>");
  const QByteArray rels = utf8(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/>"
      "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties\" Target=\"docProps/core.xml\"/>"
      "<Relationship Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties\" Target=\"docProps/app.xml\"/>"
      "</Relationships>");
  // The term is split across two runs inside one word: "cat" in bold, "tle"
  // plain. An importer that joins runs with a space, or drops formatted runs,
  // misses it.
  const QByteArray document = utf8(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
      "<w:body>"
      "<w:p><w:pPr><w:spacing w:after=\"200\"/></w:pPr><w:r><w:rPr><w:b/><w:sz w:val=\"32\"/></w:rPr>"
      "<w:t>Findlark sample E</w:t></w:r></w:p>"
      "<w:p><w:r><w:t xml:space=\"preserve\">This document tests the Word (DOCX) importer. The "
      "search term below is split across two runs inside one word: its first letters are "
      "bold and the rest are not, so an importer must join the runs without a space.</w:t>"
      "</w:r></w:p>"
      "<w:p><w:r><w:t xml:space=\"preserve\">Grazing </w:t></w:r>"
      "<w:r><w:rPr><w:b/></w:rPr><w:t>cat</w:t></w:r>"
      "<w:r><w:t xml:space=\"preserve\">tle need fresh water every day.</w:t></w:r></w:p>"
      "<w:p><w:r><w:t xml:space=\"preserve\">If a content search does not list "
      "FindlarkE.docx, the index does not read Word documents, or it breaks words at "
      "run boundaries.</w:t></w:r></w:p>"
      "<w:sectPr><w:pgSz w:w=\"11906\" w:h=\"16838\"/>"
      "<w:pgMar w:top=\"1440\" w:right=\"1440\" w:bottom=\"1440\" w:left=\"1440\" "
      "w:header=\"708\" w:footer=\"708\" w:gutter=\"0\"/></w:sectPr>"
      "</w:body></w:document>");
  const QByteArray core = utf8(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
      "<dc:title>Findlark sample E: Word body text</dc:title>"
      "<dc:creator>Findlark</dc:creator>"
      "<dcterms:created xsi:type=\"dcterms:W3CDTF\">2024-05-14T09:30:00Z</dcterms:created>"
      "<dcterms:modified xsi:type=\"dcterms:W3CDTF\">2024-05-14T09:30:00Z</dcterms:modified>"
      "</cp:coreProperties>");
  const QByteArray app = utf8(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">"
      "<Application>Findlark sample generator</Application><Pages>1</Pages></Properties>");
  return writeZip(path, {{"[Content_Types].xml", contentTypes},
                         {"_rels/.rels", rels},
                         {"word/document.xml", document},
                         {"docProps/core.xml", core},
                         {"docProps/app.xml", app}});
}

// The Metadata/ members every current iWork single-file document carries.
std::vector<ZipMember> iworkMetadata(const char* kind) {
  const std::string name(kind);
  plist_t properties = plist_new_dict();
  const auto uuid = [&](const char* what) {
    return plist_new_string(stableUuid((name + what).c_str()).toUtf8().constData());
  };
  plist_dict_set_item(properties, "documentUUID", uuid("document"));
  plist_dict_set_item(properties, "fileFormatVersion", plist_new_string("12.2.1"));
  plist_dict_set_item(properties, "isMultiPage", plist_new_bool(0));
  plist_dict_set_item(properties, "shareUUID", uuid("share"));
  plist_dict_set_item(properties, "stableDocumentUUID", uuid("stable"));
  plist_dict_set_item(properties, "versionUUID", uuid("version"));
  char* bin = nullptr;
  uint32_t length = 0;
  plist_to_bin(properties, &bin, &length);
  plist_free(properties);
  QByteArray propertiesBytes;
  if (bin) propertiesBytes = QByteArray(bin, static_cast<qsizetype>(length));
  plist_to_bin_free(bin);

  plist_t history = plist_new_array();
  plist_array_append_item(history, plist_new_string("Findlark sample generator 1"));
  char* xml = nullptr;
  plist_to_xml(history, &xml, &length);
  plist_free(history);
  QByteArray historyBytes;
  if (xml) historyBytes = QByteArray(xml, static_cast<qsizetype>(length));
  plist_to_xml_free(xml);

  return {{"Metadata/Properties.plist", propertiesBytes, false},
          {"Metadata/DocumentIdentifier", stableUuid((name + "identifier").c_str()).toUtf8(), false},
          {"Metadata/BuildVersionHistory.plist", historyBytes, false}};
}

QByteArray iwa(const std::vector<IwaObject>& objects) {
  const std::string bytes = encodeIwa(objects);
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// iWork message types used below.
enum : uint32_t {
  kNumbersDocument = 1,      // TN.DocumentArchive
  kNumbersSheet = 2,         // TN.SheetArchive
  kTableInfo = 6000,         // TST.TableInfoArchive
  kTableModel = 6001,        // TST.TableModelArchive
  kTableDataList = 6005,     // TST.TableDataList
  kStorage = 2001,           // TSWP.StorageArchive
  kPagesDocument = 10000,    // TP.DocumentArchive
};

bool writeF(const QString& path) {
  // The cell strings of the one table, in the order of the table's string
  // list (keys 1..n). Only one cell holds the term.
  const char* cells[] = {
      "Findlark sample F",
      "This spreadsheet tests the Numbers importer: the search term is in one table cell.",
      "Animal", "Head count", "Highland cattle", "Sheep", "Goats",
      "If a content search does not list FindlarkF.numbers, the index does not read Numbers tables."};
  Proto dataList;
  dataList.varint(1, 1);  // list type: strings
  dataList.varint(2, std::size(cells) + 1);
  uint32_t key = 1;
  for (const char* cell : cells)
    dataList.message(3, Proto().varint(1, key++).varint(2, 1).bytes(3, cell));

  const std::vector<IwaObject> document = {
      {1, {{kNumbersDocument, Proto().reference(1, 2)}}, {2}},
      {2, {{kNumbersSheet, Proto().bytes(1, "Sheet 1").reference(2, 3)}}, {3}},
      {3, {{kTableInfo, Proto().reference(2, 4)}}, {4}},
      {4, {{kTableModel, Proto().bytes(1, stableUuid("numbers-table").toStdString())
                             .varint(6, 4).varint(7, 2).bytes(8, "Herd register")
                             .reference(4, 5)}}, {5}},
  };
  std::vector<ZipMember> members = {
      {"Index/Document.iwa", iwa(document), false},
      {"Index/Tables/DataList-5.iwa", iwa({{5, {{kTableDataList, dataList}}, {}}}), false},
  };
  for (ZipMember& m : iworkMetadata("numbers")) members.push_back(std::move(m));
  return writeZip(path, members);
}

bool writeG(const QString& path) {
  const std::string body =
      "Findlark sample G\n"
      "This document tests the Pages importer. Its body text is stored in the current "
      "iWork format: protobuf archives in snappy-compressed chunks inside a zip file.\n"
      "The search term is in the body: in the valley the cattle rest under the oaks.\n"
      "If a content search does not list FindlarkG.pages, the index does not read Pages "
      "documents.";
  const std::vector<IwaObject> document = {
      {1, {{kPagesDocument, Proto().reference(3, 2)}}, {2}},
      {2, {{kStorage, Proto().varint(1, 0).bytes(3, body)}}, {}},  // kind 0: body text
  };
  std::vector<ZipMember> members = {{"Index/Document.iwa", iwa(document), false}};
  for (ZipMember& m : iworkMetadata("pages")) members.push_back(std::move(m));
  return writeZip(path, members);
}

// --- Images ----------------------------------------------------------------

bool writeH(const QString& path) {
  const auto png = pngWithExif(
      landscape(200, 120, QStringLiteral("Findlark H: EXIF maker")),
      {QStringLiteral("Cattle Camera Co"), QStringLiteral("FL-1"),
       QStringLiteral("Findlark sample H: the search term is the EXIF camera maker of this PNG.")});
  return png && writeFile(path, *png);
}

bool writeI(const QString& path) {
  const auto png = plainPng(wordPicture(
      QStringLiteral("cattle"), QStringLiteral("Findlark sample I: this word exists only as pixels")));
  return png && writeFile(path, *png);
}

bool writeK(const QString& path) {
  const auto jpeg = jpegWithExif(
      landscape(240, 160, QStringLiteral("Findlark K: EXIF maker")),
      {QStringLiteral("Cattle Camera Co"), QStringLiteral("FL-1"),
       QStringLiteral("Findlark sample K: the search term is the EXIF camera maker of this JPEG.")});
  return jpeg && writeFile(path, *jpeg);
}

struct Sample {
  const char* name;
  bool (*write)(const QString& path);
};

// Copy order of the app.
constexpr Sample kSamples[] = {
    {"FindlarkA.txt", writeA},     {"FindlarkB.rtf", writeB},   {"FindlarkC.pdf", writeC},
    {"FindlarkD.html", writeD},    {"FindlarkE.docx", writeE},  {"FindlarkF.numbers", writeF},
    {"FindlarkG.pages", writeG},   {"FindlarkH.png", writeH},   {"FindlarkI.png", writeI},
    {"FindlarkK.jpg", writeK},     {"FindlarkL.plist", writeL}, {"FindlarkM.txt", writeM},
    {"FindlarkN.pdf", writeN},
};

}  // namespace

QStringList sampleNames() {
  QStringList names;
  for (const Sample& s : kSamples) names << QString::fromLatin1(s.name);
  return names;
}

bool writeSample(const QString& name, const QString& folder) {
  for (const Sample& s : kSamples)
    if (name == QLatin1String(s.name)) return s.write(QDir(folder).filePath(name));
  return false;
}

}  // namespace samplegen
