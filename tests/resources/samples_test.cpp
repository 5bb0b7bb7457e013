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

// --- protobuf / IWA (an independent reader, to check the generator) ----------

bool readVarint(const std::string& s, size_t& at, uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64 && at < s.size(); shift += 7) {
    const auto byte = static_cast<uint8_t>(s[at++]);
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) return true;
  }
  return false;
}

struct Field {
  uint32_t number = 0;
  uint64_t varint = 0;
  std::string bytes;
  bool isBytes = false;
};

// Splits one message into its fields; nothing when it is not well formed
// (only varint and length-delimited fields are expected here).
std::optional<std::vector<Field>> fields(const std::string& message) {
  std::vector<Field> out;
  size_t at = 0;
  while (at < message.size()) {
    uint64_t key = 0;
    if (!readVarint(message, at, key)) return std::nullopt;
    Field f;
    f.number = static_cast<uint32_t>(key >> 3);
    if ((key & 7) == 0) {
      if (!readVarint(message, at, f.varint)) return std::nullopt;
    } else if ((key & 7) == 2) {
      uint64_t length = 0;
      if (!readVarint(message, at, length) || length > message.size() - at) return std::nullopt;
      f.bytes = message.substr(at, length);
      f.isBytes = true;
      at += length;
    } else {
      return std::nullopt;
    }
    out.push_back(std::move(f));
  }
  return out;
}

// Decompresses the chunks of an .iwa file; nothing on a bad header or bad
// snappy data.
std::optional<std::string> iwaStream(const std::string& file) {
  std::string stream;
  size_t at = 0;
  while (at < file.size()) {
    if (file.size() - at < 4 || file[at] != '\0') return std::nullopt;
    const size_t length = static_cast<uint8_t>(file[at + 1]) | static_cast<uint8_t>(file[at + 2]) << 8 |
                          static_cast<uint8_t>(file[at + 3]) << 16;
    at += 4;
    if (length > file.size() - at) return std::nullopt;
    std::string chunk;
    if (!snappy::Uncompress(file.data() + at, length, &chunk)) return std::nullopt;
    stream += chunk;
    at += length;
  }
  return stream;
}

struct IwaMessage {
  uint64_t object;
  uint32_t type;
  std::string payload;
};

// Every message of an archive stream, checking that the lengths each
// ArchiveInfo announces use up the stream exactly.
std::optional<std::vector<IwaMessage>> iwaMessages(const std::string& stream) {
  std::vector<IwaMessage> out;
  size_t at = 0;
  while (at < stream.size()) {
    uint64_t infoLength = 0;
    if (!readVarint(stream, at, infoLength) || infoLength > stream.size() - at) return std::nullopt;
    const auto info = fields(stream.substr(at, infoLength));
    at += infoLength;
    if (!info) return std::nullopt;
    uint64_t identifier = 0;
    for (const Field& f : *info) {
      if (f.number == 1) identifier = f.varint;
      if (f.number != 2) continue;
      const auto messageInfo = fields(f.bytes);
      if (!messageInfo) return std::nullopt;
      uint32_t type = 0;
      uint64_t length = 0;
      for (const Field& m : *messageInfo) {
        if (m.number == 1) type = static_cast<uint32_t>(m.varint);
        if (m.number == 3) length = m.varint;
      }
      if (length > stream.size() - at) return std::nullopt;
      out.push_back({identifier, type, stream.substr(at, length)});
      at += length;
    }
  }
  return out;
}

// The document text an iWork reader keeps: TSWP storage text (type 2001,
// field 3) and table strings (type 6005, entries field 3 -> string field 3).
std::optional<std::vector<std::string>> iworkStrings(const Zip& zip) {
  std::vector<std::string> out;
  for (const QString& name : zip.names()) {
    if (!name.endsWith(QLatin1String(".iwa"))) continue;
    const auto file = zip.read(name.toUtf8().constData());
    const auto stream = file ? iwaStream(*file) : std::nullopt;
    const auto messages = stream ? iwaMessages(*stream) : std::nullopt;
    if (!messages) return std::nullopt;
    for (const IwaMessage& m : *messages) {
      const auto top = fields(m.payload);
      if (!top) return std::nullopt;
      for (const Field& f : *top) {
        if (m.type == 2001 && f.number == 3) out.push_back(f.bytes);
        if (m.type == 6005 && f.number == 3)
          if (const auto entry = fields(f.bytes))
            for (const Field& e : *entry)
              if (e.number == 3) out.push_back(e.bytes);
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
  int depth = 0;
  for (qsizetype i = 0; i < rtf.size(); ++i) {
    if (rtf[i] == '\\') ++i;  // escaped brace or control word start
    else if (rtf[i] == '{') ++depth;
    else if (rtf[i] == '}' && --depth == 0) QCOMPARE(rtf.mid(i + 1).trimmed(), QByteArray());
    QVERIFY(depth >= 0);
  }
  QCOMPARE(depth, 0);
  QVERIFY(rtf.contains("caf\\'e9"));
  QVERIFY(rtf.contains("\\b ") && rtf.contains("\\i "));
  QVERIFY(rtf.contains(" cattle"));
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

  const auto strings = iworkStrings(zip);
  QVERIFY2(strings, "an .iwa member is not a valid chunk and archive stream");
  int withTerm = 0;
  for (const std::string& s : *strings) withTerm += hasCattle(s);
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
  int withTerm = 0;
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(root, &it);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(root, it, &key, &value);
    if (!key) break;
    QVERIFY(!hasCattle(key));
    if (plist_get_node_type(value) == PLIST_STRING) {
      char* s = nullptr;
      plist_get_string_val(value, &s);
      withTerm += hasCattle(s);
      free(s);
    }
    free(key);
  }
  free(it);
  plist_free(root);
  QCOMPARE(withTerm, 1);
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
