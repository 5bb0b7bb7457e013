// The committed sample documents: each opens with the library that reads its
// type and holds "cattle" where expectations.tsv says, and nowhere it should
// not; the generator reproduces them byte for byte; the build copies them.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <exiv2/exiv2.hpp>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <plist/plist.h>
#include <poppler-document.h>
#include <poppler-page.h>
#include <snappy.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

const QString kSampleDir = QStringLiteral(FINDLARK_SOURCE_DIR "/resources/samples");

// The app's copy order.
const QStringList kNames = {
    "FindlarkA.txt", "FindlarkB.rtf",   "FindlarkC.pdf",   "FindlarkD.html", "FindlarkE.docx",
    "FindlarkF.numbers", "FindlarkG.pages", "FindlarkH.png", "FindlarkI.png", "FindlarkK.jpg",
    "FindlarkL.plist", "FindlarkM.txt", "FindlarkN.pdf"};

QByteArray readSample(const QString& name) {
  QFile f(kSampleDir + "/" + name);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

bool hasCattle(const std::string& text) {
  return QString::fromStdString(text).contains(QLatin1String("cattle"), Qt::CaseInsensitive);
}

// --- poppler -----------------------------------------------------------------

std::string utf8(const poppler::ustring& s) {
  const auto bytes = s.to_utf8();
  return std::string(bytes.begin(), bytes.end());
}

std::unique_ptr<poppler::document> loadPdf(const QByteArray& bytes) {
  return std::unique_ptr<poppler::document>(
      poppler::document::load_from_raw_data(bytes.constData(), static_cast<int>(bytes.size())));
}

std::string pdfText(poppler::document& doc) {
  std::string text;
  for (int i = 0; i < doc.pages(); ++i) {
    std::unique_ptr<poppler::page> page(doc.create_page(i));
    if (page) text += utf8(page->text()) + "\n";
  }
  return text;
}

// --- zip ---------------------------------------------------------------------

struct Zip {
  explicit Zip(const QByteArray& bytes) : data(bytes) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* src = zip_source_buffer_create(data.constData(), data.size(), 0, &error);
    if (src) {
      archive = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &error);
      if (!archive) zip_source_free(src);
    }
    zip_error_fini(&error);
  }
  ~Zip() {
    if (archive) zip_discard(archive);
  }
  QStringList names() const {
    QStringList out;
    for (zip_int64_t i = 0; archive && i < zip_get_num_entries(archive, 0); ++i)
      out << QString::fromUtf8(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0));
    return out;
  }
  std::optional<std::string> read(const char* name) const {
    zip_stat_t st;
    if (!archive || zip_stat(archive, name, 0, &st) != 0) return std::nullopt;
    zip_file_t* f = zip_fopen(archive, name, 0);
    if (!f) return std::nullopt;
    std::string out(st.size, '\0');
    const zip_int64_t n = zip_fread(f, out.data(), st.size);
    zip_fclose(f);
    if (n != static_cast<zip_int64_t>(st.size)) return std::nullopt;
    return out;
  }
  QByteArray data;
  zip_t* archive = nullptr;
};

// --- IWA: an independent reader, to check what the generator writes ---------

bool readVarint(const std::string& s, size_t& at, uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64 && at < s.size(); shift += 7) {
    const auto byte = static_cast<uint8_t>(s[at++]);
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) return true;
  }
  return false;
}

// The fields of one protobuf message as (number, varint value or length,
// bytes); nothing when it is not well formed. Only varint and
// length-delimited fields occur in the samples.
using Fields = std::vector<std::tuple<uint64_t, uint64_t, std::string>>;
std::optional<Fields> fields(const std::string& message) {
  Fields out;
  for (size_t at = 0; at < message.size();) {
    uint64_t key = 0, value = 0;
    if (!readVarint(message, at, key) || (key & 7) > 2 || (key & 7) == 1 ||
        !readVarint(message, at, value))
      return std::nullopt;
    std::string bytes;
    if ((key & 7) == 2) {
      if (value > message.size() - at) return std::nullopt;
      bytes = message.substr(at, value);
      at += value;
    }
    out.emplace_back(key >> 3, value, std::move(bytes));
  }
  return out;
}

// The texts an iWork reader keeps from one .iwa file: storage text (type
// 2001, field 3) and table strings (type 6005, entries field 3 -> field 3).
// Nothing when a chunk header, the snappy data or an archive length is wrong.
std::optional<std::vector<std::string>> iwaStrings(const std::string& file) {
  std::string stream;
  for (size_t at = 0; at < file.size();) {
    if (file.size() - at < 4 || file[at] != '\0') return std::nullopt;
    const size_t length = static_cast<uint8_t>(file[at + 1]) | static_cast<uint8_t>(file[at + 2]) << 8 |
                          static_cast<uint8_t>(file[at + 3]) << 16;
    at += 4;
    std::string chunk;
    if (length > file.size() - at || !snappy::Uncompress(file.data() + at, length, &chunk))
      return std::nullopt;
    stream += chunk;
    at += length;
  }
  std::vector<std::string> out;
  for (size_t at = 0; at < stream.size();) {
    uint64_t infoLength = 0;
    if (!readVarint(stream, at, infoLength) || infoLength > stream.size() - at) return std::nullopt;
    const auto info = fields(stream.substr(at, infoLength));
    at += infoLength;
    if (!info) return std::nullopt;
    for (const auto& [number, unused, messageInfo] : *info) {
      if (number != 2) continue;  // a MessageInfo: type (1) and length (3)
      const auto meta = fields(messageInfo);
      if (!meta) return std::nullopt;
      uint64_t type = 0, length = 0;
      for (const auto& [n, v, b] : *meta) {
        if (n == 1) type = v;
        if (n == 3) length = v;
      }
      if (length > stream.size() - at) return std::nullopt;
      const auto payload = fields(stream.substr(at, length));
      at += length;
      if (!payload) return std::nullopt;
      for (const auto& [n, v, bytes] : *payload) {
        if (type == 2001 && n == 3) out.push_back(bytes);
        if (type == 6005 && n == 3)
          if (const auto entry = fields(bytes))
            for (const auto& [en, ev, string] : *entry)
              if (en == 3) out.push_back(string);
      }
    }
  }
  return out;
}

// --- PNG -----------------------------------------------------------------------

struct PngChunk {
  QByteArray type;
  QByteArray data;
};

// The chunks of a PNG; nothing when the signature, a length or a CRC is wrong.
std::optional<std::vector<PngChunk>> pngChunks(const QByteArray& png) {
  if (!png.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8))) return std::nullopt;
  std::vector<PngChunk> out;
  qsizetype at = 8;
  const auto be32 = [&](qsizetype i) {
    return static_cast<quint32>(static_cast<uint8_t>(png[i]) << 24 | static_cast<uint8_t>(png[i + 1]) << 16 |
                                static_cast<uint8_t>(png[i + 2]) << 8 | static_cast<uint8_t>(png[i + 3]));
  };
  while (at < png.size()) {
    if (png.size() - at < 12) return std::nullopt;
    const quint32 length = be32(at);
    if (length > png.size() - at - 12) return std::nullopt;
    const QByteArray typeAndData = png.mid(at + 4, 4 + length);
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(typeAndData.constData()),
                           static_cast<uInt>(typeAndData.size()));
    if (crc != be32(at + 8 + length)) return std::nullopt;
    out.push_back({typeAndData.left(4), typeAndData.mid(4)});
    at += 12 + length;
  }
  if (out.empty() || out.front().type != "IHDR" || out.back().type != "IEND") return std::nullopt;
  return out;
}

std::map<std::string, std::string> exifOf(const QByteArray& bytes) {
  std::map<std::string, std::string> out;
  try {
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                           static_cast<long>(bytes.size()));
    image->readMetadata();
    for (const auto& datum : image->exifData()) out[datum.key()] = datum.toString();
  } catch (const Exiv2::AnyError&) {
  }
  return out;
}

// --- XML -----------------------------------------------------------------------

struct XmlDocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using XmlDoc = std::unique_ptr<xmlDoc, XmlDocFree>;

std::string nodeText(xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string out = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return out;
}

// Elements called `name` (local name), depth first.
void collect(xmlNode* node, const char* name, std::vector<xmlNode*>& out) {
  for (xmlNode* n = node; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE && xmlStrEqual(n->name, BAD_CAST name)) out.push_back(n);
    collect(n->children, name, out);
  }
}

}  // namespace

class SamplesTest : public QObject {
  Q_OBJECT

 private slots:
  void expectationsListTheSamplesConsistently();
  void textSamples();
  void rtfSample();
  void pdfSamples();
  void htmlSample();
  void docxSample();
  void iworkSamples_data();
  void iworkSamples();
  void cameraSamples_data();
  void cameraSamples();
  void pixelOnlySample();
  void plistSample();
  void generatorReproducesCommittedSamples();
  void buildCopiesSamples();
};

void SamplesTest::expectationsListTheSamplesConsistently() {
  QFile file(kSampleDir + "/expectations.tsv");
  QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
  QStringList header;
  QStringList files;
  while (!file.atEnd()) {
    const QString line = QString::fromUtf8(file.readLine()).chopped(1);
    if (line.startsWith('#') || line.isEmpty()) continue;
    const QStringList cells = line.split('\t');
    if (header.isEmpty()) {
      header = cells;
      QCOMPARE(header, QStringList({"file", "location", "content", "keywords", "exif", "ocr", "mdfind"}));
      continue;
    }
    QCOMPARE(cells.size(), header.size());
    files << cells[0];
    QVERIFY2(!cells[1].isEmpty(), qPrintable(cells[0]));
    int places = 0;
    for (int c = 2; c < cells.size(); ++c) {
      QVERIFY2(cells[c] == "yes" || cells[c] == "no", qPrintable(line));
      if (c < 6 && cells[c] == "yes") ++places;
    }
    // Each sample hides the term in exactly one kind of place, and the
    // any-attribute search finds everything but pixels.
    QVERIFY2(places == 1, qPrintable(line));
    QCOMPARE(cells[6] == "yes", cells[5] == "no");
  }
  QCOMPARE(files, kNames);
}

void SamplesTest::textSamples() {
  for (const char* name : {"FindlarkA.txt", "FindlarkM.txt"}) {
    const QByteArray bytes = readSample(name);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    QVERIFY2(!bytes.isEmpty() && !decoder.hasError(), name);
    // Non-ASCII text, so a reader that assumes Latin-1 shows it garbled.
    QVERIFY2(std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0x7f; }), name);
  }
  QVERIFY(readSample("FindlarkA.txt").contains(" cattle "));
  QVERIFY(!readSample("FindlarkM.txt").toLower().contains("cattle"));
}

void SamplesTest::rtfSample() {
  const QByteArray rtf = readSample("FindlarkB.rtf");
  QVERIFY(rtf.startsWith("{\\rtf1"));
  int depth = 0;  // groups balance, and the outer one closes the file
  for (qsizetype i = 0; i < rtf.size(); ++i) {
    if (rtf[i] == '\\') ++i;
    else if (rtf[i] == '{') ++depth;
    else if (rtf[i] == '}' && --depth == 0) QCOMPARE(rtf.mid(i + 1).trimmed(), QByteArray());
  }
  QCOMPARE(depth, 0);
  QVERIFY(rtf.contains("caf\\'e9") && rtf.contains("{\\b ") && rtf.contains("{\\i "));
  // RTF readers drop source line breaks: the term needs real spaces around it.
  QVERIFY(rtf.contains(" cattle "));
}

void SamplesTest::pdfSamples() {
  const QByteArray cBytes = readSample("FindlarkC.pdf");
  const QByteArray nBytes = readSample("FindlarkN.pdf");
  const auto c = loadPdf(cBytes);
  const auto n = loadPdf(nBytes);
  QVERIFY(c && n);
  for (poppler::document* doc : {c.get(), n.get()}) {
    QVERIFY(!doc->is_locked());
    QCOMPARE(doc->pages(), 1);
    const auto fonts = doc->fonts();
    QVERIFY(!fonts.empty());
    for (const auto& font : fonts) QVERIFY2(font.is_embedded(), font.name().c_str());
    QCOMPARE(doc->get_creation_date_t(), time_t(1715679000));
  }
  QVERIFY(hasCattle(pdfText(*c)));
  QVERIFY(!hasCattle(utf8(c->get_keywords())));
  QVERIFY(!hasCattle(utf8(c->get_title())));

  QVERIFY(!hasCattle(pdfText(*n)));
  QVERIFY(pdfText(*n).find("Keywords") != std::string::npos);  // the text layer is there
  QCOMPARE(utf8(n->get_keywords()), std::string("Findlark, cattle, keywords"));
  QVERIFY(!hasCattle(utf8(n->get_title())));
  QCOMPARE(n->get_modification_date_t(), time_t(1715679000));
  // document::save() appends an incremental update to the writer's output.
  QCOMPARE(nBytes.count("%%EOF"), 2);
}

void SamplesTest::htmlSample() {
  const QByteArray html = readSample("FindlarkD.html");
  XmlDoc doc(htmlReadMemory(html.constData(), static_cast<int>(html.size()), "FindlarkD.html", nullptr,
                            HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET));
  QVERIFY(doc);
  std::vector<xmlNode*> bodies, titles;
  collect(xmlDocGetRootElement(doc.get()), "body", bodies);
  collect(xmlDocGetRootElement(doc.get()), "title", titles);
  QCOMPARE(bodies.size(), size_t(1));
  QCOMPARE(titles.size(), size_t(1));
  QVERIFY(hasCattle(nodeText(bodies[0])));
  QVERIFY(!hasCattle(nodeText(titles[0])));
  QVERIFY(nodeText(bodies[0]).find("\xe2\x80\x93") != std::string::npos);  // &ndash; decoded
}

void SamplesTest::docxSample() {
  const Zip zip(readSample("FindlarkE.docx"));
  QVERIFY(zip.archive);
  QCOMPARE(zip.names().first(), QStringLiteral("[Content_Types].xml"));
  for (const char* part : {"_rels/.rels", "docProps/core.xml", "docProps/app.xml"}) {
    const auto xml = zip.read(part);
    QVERIFY2(xml, part);
    XmlDoc doc(xmlReadMemory(xml->data(), static_cast<int>(xml->size()), part, nullptr, XML_PARSE_NONET));
    QVERIFY2(doc, part);
  }
  const auto xml = zip.read("word/document.xml");
  QVERIFY(xml);
  XmlDoc doc(xmlReadMemory(xml->data(), static_cast<int>(xml->size()), "document.xml", nullptr,
                           XML_PARSE_NONET));
  QVERIFY(doc);
  std::vector<xmlNode*> paragraphs;
  collect(xmlDocGetRootElement(doc.get()), "p", paragraphs);
  QVERIFY(paragraphs.size() >= 3);
  int joined = 0;
  for (xmlNode* p : paragraphs) {
    std::vector<xmlNode*> runs;
    collect(p->children, "t", runs);
    std::string text;
    for (xmlNode* t : runs) {
      QVERIFY2(!hasCattle(nodeText(t)), "one run holds the whole word");
      text += nodeText(t);
    }
    if (hasCattle(text)) ++joined;
  }
  QCOMPARE(joined, 1);  // the runs of one paragraph, joined, make the word
}

void SamplesTest::iworkSamples_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("iwaWithText");
  QTest::newRow("numbers") << "FindlarkF.numbers" << "Index/Tables/DataList-5.iwa";
  QTest::newRow("pages") << "FindlarkG.pages" << "Index/Document.iwa";
}

void SamplesTest::iworkSamples() {
  QFETCH(QString, name);
  QFETCH(QString, iwaWithText);
  const Zip zip(readSample(name));
  QVERIFY(zip.archive);
  const QStringList names = zip.names();
  for (const QString& member : {QStringLiteral("Index/Document.iwa"), iwaWithText,
                                QStringLiteral("Metadata/Properties.plist"),
                                QStringLiteral("Metadata/DocumentIdentifier"),
                                QStringLiteral("Metadata/BuildVersionHistory.plist")})
    QVERIFY2(names.contains(member), qPrintable(member));

  const auto properties = zip.read("Metadata/Properties.plist");
  QVERIFY(properties && properties->rfind("bplist00", 0) == 0);
  plist_t root = nullptr;
  plist_from_bin(properties->data(), static_cast<uint32_t>(properties->size()), &root);
  QVERIFY(root && plist_get_node_type(root) == PLIST_DICT);
  QVERIFY(plist_dict_get_item(root, "documentUUID"));
  plist_free(root);

  int withTerm = 0;
  for (const QString& member : names) {
    if (!member.endsWith(".iwa")) continue;
    const auto file = zip.read(member.toUtf8().constData());
    const auto strings = file ? iwaStrings(*file) : std::nullopt;
    QVERIFY2(strings, qPrintable(member + " is not a valid chunk and archive stream"));
    for (const std::string& text : *strings) withTerm += hasCattle(text);
  }
  QCOMPARE(withTerm, 1);
}

void SamplesTest::cameraSamples_data() {
  QTest::addColumn<QString>("name");
  QTest::newRow("png") << "FindlarkH.png";
  QTest::newRow("jpeg") << "FindlarkK.jpg";
}

void SamplesTest::cameraSamples() {
  QFETCH(QString, name);
  const QByteArray bytes = readSample(name);
  QVERIFY(!QImage::fromData(bytes).isNull());
  const auto exif = exifOf(bytes);
  QCOMPARE(exif.count("Exif.Image.Make"), size_t(1));
  QCOMPARE(exif.at("Exif.Image.Make"), std::string("Cattle Camera Co"));
  for (const auto& [key, value] : exif)
    if (key != "Exif.Image.Make") QVERIFY2(!hasCattle(value), key.c_str());
  if (name.endsWith(".png")) {
    const auto chunks = pngChunks(bytes);
    QVERIFY(chunks);
    QStringList types;
    for (const PngChunk& c : *chunks) types << QString::fromLatin1(c.type);
    // eXIf before the image data; no text chunk that could hold the term.
    QVERIFY(types.indexOf("eXIf") > 0 && types.indexOf("eXIf") < types.indexOf("IDAT"));
    for (const char* text : {"tEXt", "zTXt", "iTXt"}) QVERIFY(!types.contains(text));
  }
}

void SamplesTest::pixelOnlySample() {
  const QByteArray bytes = readSample("FindlarkI.png");
  const auto chunks = pngChunks(bytes);
  QVERIFY(chunks);
  for (const PngChunk& c : *chunks)
    QVERIFY2(c.type == "IHDR" || c.type == "IDAT" || c.type == "IEND" || c.type == "pHYs", c.type.constData());
  QVERIFY(exifOf(bytes).empty());
  const QImage image = QImage::fromData(bytes);
  QVERIFY(!image.isNull());
  // Dark pixels of the drawn word: the picture is not blank.
  int dark = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 64;
  QVERIFY(dark > 1000);
}

void SamplesTest::plistSample() {
  const QByteArray xml = readSample("FindlarkL.plist");
  QVERIFY(xml.startsWith("<?xml"));
  plist_t root = nullptr;
  plist_from_xml(xml.constData(), static_cast<uint32_t>(xml.size()), &root);
  QVERIFY(root && plist_get_node_type(root) == PLIST_DICT);
  plist_t herd = plist_dict_get_item(root, "Herd");
  char* value = nullptr;
  if (herd && plist_get_node_type(herd) == PLIST_STRING) plist_get_string_val(herd, &value);
  const bool found = value && hasCattle(value);
  free(value);
  plist_free(root);
  QVERIFY(found);
  QCOMPARE(xml.count("cattle"), 1);  // in that value only
}

void SamplesTest::generatorReproducesCommittedSamples() {
  // Two runs into fresh folders: identical to each other and to the committed
  // files, so `make samples` never changes the tree unless the generator did.
  QTemporaryDir first, second;
  QVERIFY(first.isValid() && second.isValid());
  for (const QTemporaryDir* dir : {&first, &second}) {
    QProcess gen;
    gen.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    gen.start(QStringLiteral(FINDLARK_SAMPLEGEN), {dir->path()});
    QVERIFY(gen.waitForFinished(120000));
    QCOMPARE(gen.exitStatus(), QProcess::NormalExit);
    QCOMPARE(gen.exitCode(), 0);
  }
  QCOMPARE(QDir(first.path()).entryList(QDir::Files, QDir::Name),
           QDir(kSampleDir).entryList(QStringList{"Findlark*"}, QDir::Files, QDir::Name));
  for (const QString& name : kNames) {
    QFile a(first.filePath(name)), b(second.filePath(name));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray bytes = a.readAll();
    QVERIFY2(bytes == b.readAll(), qPrintable(name + " differs between two runs"));
    QVERIFY2(bytes == readSample(name), qPrintable(name + " differs from the committed file"));
  }
}

void SamplesTest::buildCopiesSamples() {
  for (const QString& name : kNames) {
    QFile copy(QStringLiteral(FINDLARK_SHARE_DIR "/") + name);
    QVERIFY2(copy.open(QIODevice::ReadOnly), qPrintable(name));
    QVERIFY2(copy.readAll() == readSample(name), qPrintable(name));
  }
}

QTEST_MAIN(SamplesTest)
#include "samples_test.moc"
