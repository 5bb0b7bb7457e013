#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "mdindex/core/fold.h"
#include "mdindex/core/keywords.h"
#include "mdindex/core/uti.h"
#include "mdindex/importers/import.h"
#include "mdindex/importers/importer.h"
#include "mdindex/importers/png_text.h"
#include "mdindex/importers/text_codec.h"
#include "../../support/scratch.h"

using namespace mdindex;
using Strings = std::vector<std::string>;

namespace {

const std::string kData = FINDLARK_TEST_DATA_DIR "/importers/";
const std::string kSamples = FINDLARK_SOURCE_DIR "/resources/samples/";

// Names every import sets whatever the format; the rest come from importers.
const std::set<std::string> kFileSystemNames = {
    attr::Path,          attr::FSName,         attr::DisplayName,         attr::FSSize,
    attr::FSCreationDate, attr::FSContentChangeDate, attr::ContentCreationDate, attr::ContentModificationDate,
    attr::FSOwnerUserID, attr::FSOwnerGroupID, attr::ContentType,         attr::ContentTypeTree,
    attr::Kind};

Attributes importerAttributes(const ImportResult& r) {
  Attributes out;
  for (const auto& [k, v] : r.attributes)
    if (!kFileSystemNames.count(k)) out[k] = v;
  return out;
}

struct Case {
  const char* file;
  ImportStatus status;
  const char* importer;
  const char* text;
  Attributes attributes;  // exactly what the importer adds
};

// Each committed input with everything its import must give.
const std::vector<Case>& cases() {
  static const std::vector<Case> table = {
      {"text_utf8.txt", ImportStatus::Imported, "PlainText.mdimporter", "Grüße aus Köln\nzweite Zeile: naïve café\n", {}},
      {"text_utf16le.txt", ImportStatus::Imported, "PlainText.mdimporter", "Snowman ☃ and 😀 face\n", {}},
      {"text_utf16be.txt", ImportStatus::Imported, "PlainText.mdimporter", "Big-endian Ärger\n", {}},
      {"text_cp1252.txt", ImportStatus::Imported, "PlainText.mdimporter", "café “quoted” €5\n", {}},
      {"text_binary.txt", ImportStatus::Unreadable, "PlainText.mdimporter", "", {}},
      {"rich.rtf", ImportStatus::Imported, "RichText.mdimporter",
       "Café on the range.\nEuro € sign, snowman ☃!\nField: linked text\nTab\tend\nnext\n",
       {{attr::Title, std::string("Herd Report")},
        {attr::Authors, Strings{"Ann Drover"}},
        {attr::Keywords, Strings{"cattle", "grazing", "fences", "cattle, grazing; fences"}}}},
      {"cyrillic.rtf", ImportStatus::Imported, "RichText.mdimporter", "Привет мир\n", {}},
      {"nested.rtf", ImportStatus::Imported, "RichText.mdimporter", "deep done", {}},
      {"page.html", ImportStatus::Imported, "HTML.mdimporter", "Spring grazing\nGrass is green in März.\none\ntwo",
       {{attr::Title, std::string("Pasture Notes")},
        {attr::Description, std::string("Where the herd grazes")},
        {attr::Authors, Strings{"Bo Herder"}},
        {attr::Keywords, Strings{"cattle", "hay", "cattle, hay"}}}},
      {"latin1.html", ImportStatus::Imported, "HTML.mdimporter", "brûlée", {{attr::Title, std::string("Crème")}}},
      {"wrong_charset.html", ImportStatus::Imported, "HTML.mdimporter", "Façade and naïve",
       {{attr::Title, std::string("Wrong")}}},
      {"unknown_charset.html", ImportStatus::Imported, "HTML.mdimporter", "still readable",
       {{attr::Title, std::string("Odd")}}},
      {"doc.pdf", ImportStatus::Imported, "PDF.mdimporter", "First page about cows\nSecond page about hay",
       {{attr::Title, std::string("Grazing Guide")},
        {attr::Authors, Strings{"Cy Rancher"}},
        {attr::Keywords, Strings{"cattle", "pasture", "hay", "cattle, pasture; hay"}},
        {attr::NumberOfPages, 2.0}}},
      {"encrypted.pdf", ImportStatus::Encrypted, "PDF.mdimporter", "", {}},
      {"truncated.pdf", ImportStatus::Unreadable, "PDF.mdimporter", "", {}},
      {"camera.png", ImportStatus::Imported, "Image.mdimporter", "",
       {{attr::AcquisitionMake, std::string("Pixel Farm")},
        {attr::AcquisitionModel, std::string("PF 2")},
        {attr::PixelWidth, 7.0},
        {attr::PixelHeight, 5.0},
        {attr::Keywords, Strings{"meadow", "dairy cow"}}}},
      {"camera.jpg", ImportStatus::Imported, "Image.mdimporter", "",
       {{attr::AcquisitionMake, std::string("Acme Optics")},
        {attr::AcquisitionModel, std::string("Moo-200")},
        {attr::PixelWidth, 640.0},
        {attr::PixelHeight, 480.0},
        {attr::Keywords, Strings{"meadow", "dairy cow"}}}},
      {"camera.tiff", ImportStatus::Imported, "Image.mdimporter", "",
       {{attr::AcquisitionMake, std::string("Tiff Works")},
        {attr::AcquisitionModel, std::string("T1")},
        {attr::PixelWidth, 33.0},
        {attr::PixelHeight, 22.0}}},
      {"truncated.jpg", ImportStatus::Unreadable, "Image.mdimporter", "", {}},
      {"described.jpg", ImportStatus::Imported, "Image.mdimporter", "",
       {{attr::PixelWidth, 16.0},
        {attr::PixelHeight, 8.0},
        {attr::Title, std::string("Pasture")},
        {attr::Description, std::string("Vaches au pré")},
        {attr::Authors, Strings{"Ann Drover", "Bo Herder"}},
        {attr::Keywords, Strings{"meadow", "hay bales"}}}},
      {"iptc-only.jpg", ImportStatus::Imported, "Image.mdimporter", "",
       {{attr::PixelWidth, 16.0},
        {attr::PixelHeight, 8.0},
        {attr::Title, std::string("Herd portrait")},
        {attr::Description, std::string("Six cows, one bull")},
        {attr::Authors, Strings{"Cy Rancher"}}}},
      {"described.tiff", ImportStatus::Imported, "Image.mdimporter", "",
       {{attr::AcquisitionMake, std::string("Tiff Works")},
        {attr::AcquisitionModel, std::string("T1")},
        {attr::PixelWidth, 2.0},
        {attr::PixelHeight, 2.0},
        {attr::Description, std::string("Cows at dusk")},
        {attr::Authors, Strings{"Di Herder"}}}},
      // exiv2 refuses the whole file for its one broken text chunk; the
      // others are read all the same.
      {"described.png", ImportStatus::Imported, "Image.mdimporter", "Spring turnout\n",
       {{attr::Title, std::string("Brûlée herd")},
        {attr::Description, std::string("Calves in the barn")},
        {attr::Comment, std::string("Kühe im Stall")},
        {attr::Authors, Strings{"Ed Drover"}}}},
      {"drawing.svg", ImportStatus::Imported, "SVG.mdimporter", "Feed bin\nStall Nº 3\nalong the fence\n",
       {{attr::Title, std::string("Barn plan")},
        {attr::Description, std::string("Stalls and the hay loft")},
        {attr::Authors, Strings{"Ann Drover"}},
        {attr::Keywords, Strings{"barn", "cattle"}}}},
      // Entities that would multiply the text are refused, not expanded.
      {"entities.svg", ImportStatus::Unreadable, "SVG.mdimporter", "", {}},
      {"truncated.svg", ImportStatus::Unreadable, "SVG.mdimporter", "", {}},
      {"xml.plist", ImportStatus::Imported, "PropertyList.mdimporter", "cow\ncalf\nbull é\nHerd list", {}},
      {"binary.plist", ImportStatus::Imported, "PropertyList.mdimporter", "cow\ncalf\nbull é\nHerd list", {}},
      {"malformed.plist", ImportStatus::Unreadable, "PropertyList.mdimporter", "", {}},
  };
  return table;
}

bool containsFolded(const std::string& haystack, const std::string& needle) {
  return foldText(haystack).find(foldText(needle)) != std::string::npos;
}

bool anyContainsFolded(const ImportResult& r, const char* name, const std::string& needle) {
  const auto it = r.attributes.find(name);
  if (it == r.attributes.end()) return false;
  if (const auto* s = std::get_if<std::string>(&it->second)) return containsFolded(*s, needle);
  if (const auto* l = std::get_if<Strings>(&it->second))
    for (const auto& s : *l)
      if (containsFolded(s, needle)) return true;
  return false;
}

}  // namespace

TEST(Importers, EachCommittedInputGivesExactlyItsTextAndAttributes) {
  for (const auto& c : cases()) {
    SCOPED_TRACE(c.file);
    const ImportResult r = importFile(kData + c.file);
    EXPECT_EQ(r.status, c.status) << importStatusName(r.status);
    EXPECT_EQ(r.importer, c.importer);
    EXPECT_EQ(r.text, c.text);
    EXPECT_EQ(importerAttributes(r), c.attributes);
    // Whatever the outcome, the item stays findable by name.
    EXPECT_EQ(std::get<std::string>(r.attributes.at(attr::FSName)), c.file);
  }
}

// The sample documents the app writes: each hides "cattle" where the
// expectations table says, and nowhere else.
TEST(Importers, SampleDocumentsHoldTheTermWhereExpected) {
  std::ifstream tsv(kSamples + "expectations.tsv");
  if (!tsv) GTEST_SKIP() << "no sample documents";
  std::string line;
  bool header = true;
  int rows = 0;
  while (std::getline(tsv, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {
      header = false;
      continue;
    }
    std::vector<std::string> col;
    std::stringstream ss(line);
    for (std::string f; std::getline(ss, f, '\t');) col.push_back(f);
    ASSERT_GE(col.size(), 6u) << line;
    SCOPED_TRACE(col[0]);
    const ImportResult r = importFile(kSamples + col[0]);
    EXPECT_EQ(r.status, ImportStatus::Imported);
    EXPECT_FALSE(r.importer.empty());
    EXPECT_EQ(containsFolded(r.text, "cattle"), col[2] == "yes");
    // The keywords of FindlarkM come from the attribute the app writes.
    if (col[0] != "FindlarkM.txt") {
      EXPECT_EQ(anyContainsFolded(r, attr::Keywords, "cattle"), col[3] == "yes");
    }
    EXPECT_EQ(anyContainsFolded(r, attr::AcquisitionMake, "cattle"), col[4] == "yes");
    ++rows;
  }
  EXPECT_EQ(rows, 13);
}

// Every importer in the registry is exercised by some committed input, and
// every sample document has an importer.
TEST(Importers, RegistryAndTestInputsCoverEachOther) {
  std::set<std::string> exercised;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(FINDLARK_TEST_DATA_DIR)) {
    if (!entry.is_regular_file()) continue;
    if (const Importer* imp = importerForUti(typeOfFile(entry.path().string()).uti)) exercised.insert(imp->name());
  }
  if (std::filesystem::exists(kSamples)) {
    for (const auto& entry : std::filesystem::directory_iterator(kSamples)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("Findlark", 0) != 0) continue;
      const Importer* imp = importerForUti(typeOfFile(entry.path().string()).uti);
      EXPECT_TRUE(imp) << name << " has no importer";
      if (imp) exercised.insert(imp->name());
    }
  }
  for (const Importer* imp : allImporters()) {
    EXPECT_TRUE(exercised.count(imp->name())) << imp->name() << " has no test input";
    for (const auto& uti : imp->utis()) EXPECT_EQ(importerForUti(uti), imp) << uti << " claimed twice";
  }
}

// Text formats with no importer of their own (Markdown, CSV, a README with no
// extension) are read by the plain-text importer, so their words are found;
// binary data without a known extension is not.
TEST(Importers, EverydayTextFormatsAreReadAsText) {
  Scratch s;
  for (const auto& [name, uti] : std::vector<std::pair<std::string, std::string>>{
           {"notes.md", "net.daringfireball.markdown"},
           {"herd.csv", "public.comma-separated-values-text"},
           {"paper.tex", "org.tug.tex"},
           {"herd.json", "public.json"},
           {"herd.xml", "public.xml"},
           {"herd.yaml", "public.yaml"},
           {"README", "public.plain-text"}}) {
    const ImportResult r = importFile(s.write(name, "The cattle graze.\n"));
    EXPECT_EQ(r.status, ImportStatus::Imported) << name;
    EXPECT_EQ(r.uti, uti) << name;
    EXPECT_EQ(r.text, "The cattle graze.\n") << name;
  }
  // Source code of every language is source code, scripts a kind of it.
  for (const auto& [name, uti, script] : std::vector<std::tuple<std::string, std::string, bool>>{
           {"herd.c", "public.c-source", false},
           {"herd.hpp", "public.c-plus-plus-header", false},
           {"Herd.java", "com.sun.java-source", false},
           {"herd.go", "public.source-code", false},
           {"herd.py", "public.python-script", true},
           {"herd.js", "com.netscape.javascript-source", true}}) {
    const ImportResult r = importFile(s.write(name, "// cattle\n"));
    EXPECT_EQ(r.uti, uti) << name;
    EXPECT_EQ(r.text, "// cattle\n") << name;
    const auto& tree = std::get<Strings>(r.attributes.at(attr::ContentTypeTree));
    EXPECT_EQ(std::count(tree.begin(), tree.end(), "public.source-code"), 1) << name;
    EXPECT_EQ(std::count(tree.begin(), tree.end(), "public.script"), script ? 1 : 0) << name;
    EXPECT_EQ(tree.back(), "public.content") << name;
  }
  const ImportResult blob = importFile(s.write("blob", std::string("\x01\x02\0cattle", 9)));
  EXPECT_EQ(blob.uti, "public.data");
  EXPECT_EQ(blob.status, ImportStatus::Unsupported);
}

// Files are read whole whatever their size: around the first piece read
// and well past it, and an empty one.
TEST(Importers, FilesOfEverySizeAreReadWhole) {
  Scratch s;
  for (size_t size : {size_t(0), size_t(16383), size_t(16384), size_t(16385), size_t(200001)}) {
    SCOPED_TRACE(size);
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) text += "word" + std::to_string(i) + ' ';
    text.resize(size);
    if (size >= 4) text.replace(size - 4, 4, " end");  // the last bytes, to be found again
    const ImportResult plain = importFile(s.write("sized.txt", text));
    EXPECT_EQ(plain.status, ImportStatus::Imported);
    EXPECT_EQ(plain.text, text);
    const ImportResult html = importFile(s.write("sized.html", "<html><body><p>" + text + "</p></body></html>"));
    EXPECT_EQ(html.status, ImportStatus::Imported);
    if (size >= 4) {
      ASSERT_GE(html.text.size(), 4u);
      EXPECT_EQ(html.text.substr(html.text.size() - 4), " end");
    }
  }
}

TEST(Importers, KeywordsAttributeIsMergedWithTheDocumentsOwn) {
  Scratch s;
  const std::string html = s.copy(kData + "page.html", "page.html");
  const std::string xmlArray =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array><string>hay</string>"
      "<string>barn</string></array></plist>";
  ASSERT_EQ(setxattr(html.c_str(), kKeywordsXattr, xmlArray.data(), xmlArray.size(), 0), 0);
  EXPECT_EQ(importFile(html).attributes.at(attr::Keywords), Value(Strings{"cattle", "hay", "cattle, hay", "barn"}));

  // A file no importer takes still gets the keywords (the app's binary form).
  const std::string data = s.write("blob.bin", "\x01\x02");
  const auto value = *encodeKeywordsValue("one, cattle, three");
  ASSERT_EQ(setxattr(data.c_str(), kKeywordsXattr, value.data(), value.size(), 0), 0);
  const ImportResult r = importFile(data);
  EXPECT_EQ(r.status, ImportStatus::Unsupported);
  EXPECT_EQ(r.attributes.at(attr::Keywords), Value(Strings{"one, cattle, three"}));

  // Garbage in the attribute is ignored, not fatal.
  const std::string txt = s.write("notes.txt", "hello");
  ASSERT_EQ(setxattr(txt.c_str(), kKeywordsXattr, "junk", 4, 0), 0);
  const ImportResult t = importFile(txt);
  EXPECT_EQ(t.status, ImportStatus::Imported);
  EXPECT_FALSE(t.attributes.count(attr::Keywords));
}

// The freedesktop tags and comment of any file: tags kept under their own
// name and searched with the keywords, the comment after the document's own.
TEST(Importers, FileTagsAndCommentAreReadBesideTheKeywords) {
  Scratch s;
  const std::string html = s.copy(kData + "page.html", "page.html");
  const std::string tags = " hay ,barn,, hay,\xFFloft ";
  ASSERT_EQ(setxattr(html.c_str(), kXdgTagsXattr, tags.data(), tags.size(), 0), 0);
  ASSERT_EQ(setxattr(html.c_str(), kXdgCommentXattr, " from the co-op\n", 16, 0), 0);
  const ImportResult r = importFile(html);
  EXPECT_EQ(r.attributes.at(attr::UserTags), Value(Strings{"hay", "barn", "\xEF\xBF\xBDloft"}));
  EXPECT_EQ(r.attributes.at(attr::Keywords), Value(Strings{"cattle", "hay", "cattle, hay", "barn", "\xEF\xBF\xBDloft"}));
  EXPECT_EQ(r.attributes.at(attr::Comment), Value(std::string("from the co-op")));

  // Blank tags and a blank comment are none, on a file no importer takes.
  const std::string data = s.write("blob.bin", "\x01\x02");
  ASSERT_EQ(setxattr(data.c_str(), kXdgTagsXattr, " , ,", 4, 0), 0);
  ASSERT_EQ(setxattr(data.c_str(), kXdgCommentXattr, " \n", 2, 0), 0);
  const ImportResult b = importFile(data);
  EXPECT_EQ(b.status, ImportStatus::Unsupported);
  EXPECT_FALSE(b.attributes.count(attr::UserTags));
  EXPECT_FALSE(b.attributes.count(attr::Keywords));
  EXPECT_FALSE(b.attributes.count(attr::Comment));
}

TEST(Importers, FileSystemAttributesDescribeFilesFoldersAndSpecialFiles) {
  Scratch s;
  const std::string txt = s.write("a b.txt", "12345");
  ImportResult r = importFile(txt);
  EXPECT_EQ(r.attributes.at(attr::Path), Value(txt));
  EXPECT_EQ(r.attributes.at(attr::FSName), Value(std::string("a b.txt")));
  EXPECT_EQ(r.attributes.at(attr::FSSize), Value(5.0));
  EXPECT_EQ(r.attributes.at(attr::FSOwnerUserID), Value(static_cast<double>(getuid())));
  EXPECT_EQ(r.attributes.at(attr::ContentTypeTree),
            Value(Strings{"public.plain-text", "public.text", "public.data", "public.item", "public.content"}));
  EXPECT_EQ(kindOf(r.attributes.at(attr::ContentModificationDate)), ValueKind::Date);
  EXPECT_EQ(r.size, 5);
  EXPECT_GT(r.inode, 0u);

  r = importFile(s.dir());
  EXPECT_EQ(r.status, ImportStatus::Unsupported);
  EXPECT_EQ(r.uti, "public.folder");
  EXPECT_TRUE(r.isDirectory);

  // A FIFO named .txt is described without being opened (opening would block).
  const std::string fifo = s.path("pipe.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const ImportResult& f : {importFile(fifo), importFileGuarded(fifo)}) {
    EXPECT_EQ(f.status, ImportStatus::Unsupported);
    EXPECT_EQ(f.attributes.at(attr::FSName), Value(std::string("pipe.txt")));
    EXPECT_TRUE(f.text.empty());
  }

  const ImportResult gone = importFile(s.path("missing.txt"));
  EXPECT_EQ(gone.status, ImportStatus::Unreadable);
  EXPECT_TRUE(gone.attributes.empty());
}

TEST(Importers, OversizedFilesAreRefusedWithoutBeingRead) {
  Scratch s;
  // 2 GB, sparse: costs no disk, and would cost 2 GB of memory if read.
  const std::string big = s.path("huge.txt");
  {
    std::ofstream(big) << "x";
  }
  ASSERT_EQ(truncate(big.c_str(), 2ll << 30), 0);
  for (const ImportResult& r : {importFile(big), importFileGuarded(big)}) {
    EXPECT_EQ(r.status, ImportStatus::TooLarge);
    EXPECT_EQ(r.attributes.at(attr::FSSize), Value(static_cast<double>(2ll << 30)));
    EXPECT_TRUE(r.text.empty());
  }
}

// Text past the bound is cut at a character boundary, and the cut is
// marked with the bytes kept, in the guarded import as in-process; text
// within the bound carries no mark. The default bound keeps a 30 MiB log
// whole.
TEST(Importers, TextIsCappedAtACharacterBoundaryAndTheCutIsMarked) {
  Scratch s;
  const std::string f = s.write("umlaut.txt", "Grüße");  // ü is two bytes, at offsets 2..3
  ImportLimits limits;
  limits.maxTextBytes = 3;
  const ImportResult cut = importFile(f, limits);
  EXPECT_EQ(cut.text, "Gr");
  EXPECT_EQ(cut.attributes.at(attr::TextContentTruncated), Value(2.0));
  limits.maxTextBytes = 4;
  EXPECT_EQ(importFile(f, limits).text, "Grü");
  EXPECT_EQ(importFileGuarded(f, limits).attributes.at(attr::TextContentTruncated), Value(4.0));
  limits.maxTextBytes = 64;
  EXPECT_FALSE(importFile(f, limits).attributes.count(attr::TextContentTruncated));

  std::string log;
  while (log.size() < (30u << 20)) log += "2026-01-01 12:00:00 worker heartbeat ok\n";
  const ImportResult whole = importFileGuarded(s.write("grown.log", log + "shearwater\n"));
  EXPECT_EQ(whole.status, ImportStatus::Imported);
  EXPECT_EQ(whole.text.size(), log.size() + 11);
  EXPECT_FALSE(whole.attributes.count(attr::TextContentTruncated));
}

// A file that disappears under an importer (deleted mid-import) must give a
// clean failure from every importer, never an exception or a crash.
TEST(Importers, EveryImporterRefusesAVanishedFileCleanly) {
  class NullSink : public Sink {
   public:
    void addText(std::string_view) override {}
    void setAttribute(const std::string&, Value) override {}
    void addKeywords(const std::vector<std::string>&) override {}
    bool full() const override { return false; }
  } sink;
  for (const Importer* imp : allImporters()) {
    SCOPED_TRACE(imp->name());
    EXPECT_TRUE(isFailure(imp->import("/nonexistent/findlark/gone.file", sink)));
  }
}

// The conversions run through iconv; what replaces a byte that does not
// convert is ours and must stay the same for every encoding and length.
// A compressed text chunk inflates only so far, however far it would go;
// a chunk whose length runs past the end ends the list.
TEST(Importers, PngTextChunksAreBoundedAndStopAtTruncation) {
  const auto chunk = [](std::string_view type, const std::string& data) {
    std::string out;
    for (int shift : {24, 16, 8, 0}) out += static_cast<char>((data.size() >> shift) & 0xFF);
    return out + std::string(type) + data + "CRC!";
  };
  const std::string zeros(64u << 20, 'a');
  std::string packed(compressBound(zeros.size()), '\0');
  uLongf packedSize = packed.size();
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                      reinterpret_cast<const Bytef*>(zeros.data()), zeros.size(), 9), Z_OK);
  packed.resize(packedSize);
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + chunk("zTXt", std::string("Bomb\0\0", 6) + packed) +
                          chunk("tEXt", std::string("Title\0Herd", 10));
  Scratch s;
  const auto chunks = pngTextChunks(s.write("bomb.png", png), 256, 1u << 20);
  ASSERT_TRUE(chunks);
  ASSERT_EQ(chunks->size(), 2u);
  EXPECT_EQ((*chunks)[0].text.size(), 1u << 20);
  EXPECT_EQ((*chunks)[1], (PngText{"Title", "Herd"}));
  // Cut inside the second chunk: the first stands.
  EXPECT_EQ(pngTextChunks(s.write("cut.png", png.substr(0, png.size() - 3)))->size(), 1u);
  EXPECT_FALSE(pngTextChunks(s.write("not.png", "GIF89a")));
  EXPECT_FALSE(pngTextChunks(s.path("absent.png")));
}

TEST(TextCodec, BytesThatDoNotConvertAreReplacedOneCodeUnitAtATime) {
  using namespace std::string_literals;
  // 1252: the five undefined bytes are the Latin-1 controls of their value.
  EXPECT_EQ(windows1252ToUtf8("\x80\x81 \x93x\x94 \x8d\x9f"), "\u20ac\u0081 \u201cx\u201d \u008d\u0178");
  // UTF-16: unpaired surrogates and an odd last byte become U+FFFD, and the
  // unit after a lone high surrogate is still read.
  EXPECT_EQ(utf16ToUtf8("\x3d\xd8\x00\xde"s, false), "\U0001F600");
  EXPECT_EQ(utf16ToUtf8("\x3d\xd8\x41\x00\x00\xdc\x42\x00\x43"s, false), "\uFFFDA\uFFFDB\uFFFD");
  EXPECT_EQ(utf16ToUtf8("\xd8\x3d"s, true), "\uFFFD");
  EXPECT_EQ(utf16ToUtf8("\xfe\xff\x00\xc4"s, true), "\ufeff\u00c4");  // a BOM is text here
  // Other code pages: a stray byte costs one U+FFFD, the rest converts.
  EXPECT_EQ(codePageToUtf8("\x93\xfa\x96\x7b\xa0", 932), "\u65e5\u672c\uFFFD");
  EXPECT_EQ(codePageToUtf8("caf\x8e", 10000), "caf\u00e9");
  EXPECT_EQ(codePageToUtf8("caf\xe9", 99999), "caf\u00e9");  // unknown: read as 1252
  EXPECT_EQ(codePageToUtf8("\xe2\x82\xac", 65001), "\u20ac");
  // Long inputs convert in pieces without losing a character at a seam.
  std::string wide, expected;
  for (int i = 0; i < 5000; ++i) {
    wide += "\xe9\x00\x3d\xd8\x00\xde"s;
    expected += "\u00e9\U0001F600";
  }
  EXPECT_EQ(utf16ToUtf8(wide, false), expected);
  EXPECT_EQ(windows1252ToUtf8(std::string(9000, '\x80')).size(), 9000u * 3);
}

TEST(Importers, RtfParserKeepsDestinationsAndEscapesApart) {
  Scratch s;
  struct RtfCase {
    const char* rtf;
    const char* text;
  };
  const RtfCase rtfCases[] = {
      // \uN with the default one fallback character, and with \uc0.
      {R"({\rtf1 a\u233?b\uc0\u233 c})", "aébéc"},
      // Surrogate pairs given as two \u values.
      {R"({\rtf1 \u-10179?\u-8704?})", "😀"},
      // Escaped braces and backslash are text; \* groups are not.
      {R"({\rtf1 \{x\}\\ {\*\unknown hidden}shown})", "{x}\\ shown"},
      // \bin data is skipped even when it holds braces.
      {"{\\rtf1 a\\bin3 }{}b}", "ab"},
      // Unbalanced closing braces do not underflow the group stack.
      {R"({\rtf1 x}}}} y)", "x y"},
      // Not RTF at all.
      {"plain words", nullptr},
  };
  for (const auto& c : rtfCases) {
    SCOPED_TRACE(c.rtf);
    const ImportResult r = importFile(s.write("t.rtf", c.rtf));
    if (!c.text) {
      EXPECT_EQ(r.status, ImportStatus::Unreadable);
      continue;
    }
    EXPECT_EQ(r.status, ImportStatus::Imported);
    EXPECT_EQ(r.text, c.text);
  }
}

// Nesting deep enough to overflow a recursive parser's stack, in each
// container format: the import must end (in-process, so a crash would end
// the test) with a clean status.
TEST(Importers, DeeplyNestedInputsEndCleanly) {
  Scratch s;
  const int n = 100000;
  auto repeat = [](const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += part;
    return out;
  };
  // Text formats need more levels than binary ones to exhaust the stack.
  const int textDepth = 1000000;
  s.write("deep.plist", "<?xml version=\"1.0\"?><plist version=\"1.0\">" + repeat("<array>", textDepth) +
                            "<string>x</string>" + repeat("</array>", textDepth) + "</plist>");
  s.write("deep.html",
          "<html><body>" + repeat("<div>", textDepth) + "deep" + repeat("</div>", textDepth) + "</body></html>");
  s.write("deep.rtf", "{\\rtf1 " + repeat("{", textDepth) + "deep" + repeat("}", textDepth) + "}");
  // Binary plist: object i is a one-element array referring to object i+1.
  std::string bin = "bplist00";
  std::vector<uint32_t> offsets;
  auto be32 = [](std::string& out, uint64_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
  };
  for (int i = 0; i < n; ++i) {
    offsets.push_back(static_cast<uint32_t>(bin.size()));
    bin += '\xA1';
    be32(bin, static_cast<uint32_t>(i + 1));
  }
  offsets.push_back(static_cast<uint32_t>(bin.size()));
  bin += "\x51x";
  const uint64_t tableOffset = bin.size();
  for (uint32_t o : offsets) be32(bin, o);
  bin += std::string(6, '\0') + "\x04\x04";
  for (uint64_t v : {static_cast<uint64_t>(offsets.size()), uint64_t{0}, tableOffset}) {
    be32(bin, v >> 32);
    be32(bin, v & 0xFFFFFFFF);
  }
  s.write("deep-binary.plist", bin);

  for (const char* name : {"deep.plist", "deep.html", "deep.rtf", "deep-binary.plist"}) {
    SCOPED_TRACE(name);
    const ImportResult r = importFile(s.path(name));
    EXPECT_TRUE(r.status == ImportStatus::Imported || r.status == ImportStatus::Unreadable)
        << importStatusName(r.status);
    EXPECT_EQ(r.attributes.at(attr::FSName), Value(std::string(name)));
  }
}
