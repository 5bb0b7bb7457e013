// The Office (DOCX, XLSX, PPTX), OpenDocument, EPUB and iWork importers over
// the committed inputs in tests/data/office (regenerate them with
// make_office_samples.py there), plus the byte-level readers they rest on,
// fed damaged input.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "../../support/sample_import.h"
#include "../../support/scratch.h"
#include "mdindex/importers/epub_importer.h"
#include "mdindex/importers/iwork_proto.h"
#include "mdindex/importers/office_importers.h"
#include "mdindex/importers/office_ooxml.h"
#include "mdindex/importers/zip_archive.h"

namespace mdindex {
namespace {

namespace fs = std::filesystem;

const std::string kData = std::string(FINDLARK_TEST_DATA_DIR) + "/office/";

using testing_support::RecordingSink;
using testing_support::slurp;
using Case = testing_support::SampleCase;

using Strings = std::vector<std::string>;

const Attributes kDocProperties = {
    {attr::Title, std::string("Cattle Report")},
    {attr::Keywords, Strings{"one", "cattle", "three"}},
    {attr::Subject, std::string("Herds")},
    {attr::Description, std::string("About herds")},
};

// What basic.odt and basic.ods give, and their flat XML forms alike.
constexpr const char* kOdtText =
    "Heading words\n"
    "A big herd of cattle grazing\n"
    "Name\tValue\nafter   spaces\n"
    "Boxed words\nFootnote words\nComment words\nLead-in after box\n"
    "Cell A1\nCell B1\n"
    "Item one\n"
    "Header words";
constexpr const char* kOdsText =
    "Herd Sheet\nAnimal\nCount\nCattle grazing\nComment words\n12\nSecond Sheet\nLine one\nline two";

Attributes with(Attributes base, const std::string& name, Value v) {
  base[name] = std::move(v);
  return base;
}

const Case kCases[] = {
    {"basic.docx", docxImporter, ImportStatus::Imported,
     "A big herd of cattle grazing\n"
     "Name\tValue\nafter break\n"
     "Kept inserted\n"
     "link text\n"
     "Cell A1\nCell B1\n"
     "Boxed words\n"
     "Lead-in Ünïcödé ゾルゲ\n"
     "Header words\nFooter words\nFootnote words\nComment words",
     with(kDocProperties, attr::Authors, Strings{"Ann Author", "Bob Writer"})},
    {"renamed_main.docx", docxImporter, ImportStatus::Imported, "Found through the content types", {}},
    {"deep.docx", docxImporter, ImportStatus::Imported, "Shallow", {}},
    {"malformed.docx", docxImporter, ImportStatus::Unreadable, "", {}},
    {"not_a_zip.docx", docxImporter, ImportStatus::Unreadable, "", {}},
    {"bomb.docx", docxImporter, ImportStatus::TooLarge, "", {}},
    {"lying_size.docx", docxImporter, ImportStatus::Unreadable, "", {}},
    {"encrypted_zip.docx", docxImporter, ImportStatus::Encrypted, "", {}},
    {"ole_encrypted.docx", docxImporter, ImportStatus::Encrypted, "", {}},

    // Sheets in workbook order, each name before its text cells (shared,
    // rich, inline, formula results); no numbers, booleans, phonetic guides
    // or shared-string indexes that name nothing.
    {"basic.xlsx", docxImporter, ImportStatus::Imported,
     "Herd Sheet\nAnimal\nCattle grazing\nInline words\nFormula words\nSecond Sheet\n東京",
     with(kDocProperties, attr::Authors, Strings{"Ann Author", "Bob Writer"})},
    // Slides in presentation order, each followed by its notes body; no
    // slide numbers, dates, layouts or masters.
    {"basic.pptx", docxImporter, ImportStatus::Imported,
     "Slide title words\nBullet words\nnext line\nSecond bullet\nSpeaker notes words\nClosing slide words",
     with(kDocProperties, attr::Authors, Strings{"Ann Author", "Bob Writer"})},

    {"basic.odt", odtImporter, ImportStatus::Imported,
     kOdtText,
     with(kDocProperties, attr::Authors, Strings{"Ann Author"})},
    {"encrypted.odt", odtImporter, ImportStatus::Encrypted, "", {}},
    // The flat XML forms give what their packages give.
    {"basic.fodt", flatOdfImporter, ImportStatus::Imported,
     kOdtText,
     with(kDocProperties, attr::Authors, Strings{"Ann Author"})},
    {"truncated.fodt", flatOdfImporter, ImportStatus::Unreadable, "", {}},
    {"basic.fods", flatOdfImporter, ImportStatus::Imported,
     kOdsText,
     with(kDocProperties, attr::Authors, Strings{"Ann Author"})},
    // Sheet names before their cells, a cell's comment after it (without
    // its author); no master-page placeholders.
    {"basic.ods", odtImporter, ImportStatus::Imported,
     kOdsText,
     with(kDocProperties, attr::Authors, Strings{"Ann Author"})},
    // Slide text and speaker notes; slide and table names are generated, not written.
    {"basic.odp", odtImporter, ImportStatus::Imported,
     "Slide title words\nBullet words\nSpeaker notes words\nShape words\nSlide cell",
     with(kDocProperties, attr::Authors, Strings{"Ann Author"})},

    // Spine chapters in reading order, each once, as HTML text (no titles,
    // styles or scripts); no navigation document, image, chapter outside
    // the book or missing one.
    {"basic.epub", epubImporter, ImportStatus::Imported,
     "Chapter one\nA big herd of cattle grazing\nSecond chapter, café words",
     {{attr::Title, std::string("Cattle Book")},
      {attr::Authors, Strings{"Ann Author", "Bob Writer"}},
      {attr::Keywords, Strings{"Farming", "cattle", "herds"}},
      {"kMDItemDescription", std::string("About herds")}}},
    {"encrypted.epub", epubImporter, ImportStatus::Encrypted, "", {}},

    {"iwa.pages", iworkImporter, ImportStatus::Imported,
     "Big herd of cattle\nSecond paragraph with attachment\nThird line\n"
     "Words worth finding in a long paragraph, long enough that its snappy literal needs a two-byte length, "
     "and split across two chunks of the file. Words worth finding in a long paragraph, long enough that its "
     "snappy literal needs a two-byte length, and split across two chunks of the file. Words worth finding in "
     "a long paragraph, long enough that its snappy literal needs a two-byte length, and split across two "
     "chunks of the file.\n"
     "Text box words\nLion\nLeopard\nTabby",
     {}},
    {"package.pages", iworkImporter, ImportStatus::Imported, "Package folder words", {}},
    {"zipped_index.key", iworkImporter, ImportStatus::Imported, "Zipped index words", {}},
    {"fallback.key", iworkImporter, ImportStatus::Imported, "Slide title words", {}},
    {"xml09.pages", iworkImporter, ImportStatus::Imported, "Grazing cattle field\nnext line\nTab\tbed",
     {{attr::Title, std::string("Old Pages Title")},
      {attr::Authors, Strings{"Ann Author"}},
      {attr::Keywords, Strings{"herd", "cattle"}}}},
    {"xml09.numbers", iworkImporter, ImportStatus::Imported, "Lion cell\nTabby cell", {}},
    {"truncated.numbers", iworkImporter, ImportStatus::Unreadable, "", {}},
    {"snappy_bomb.numbers", iworkImporter, ImportStatus::TooLarge, "", {}},
    {"password.pages", iworkImporter, ImportStatus::Encrypted, "", {}},
    {"password09.pages", iworkImporter, ImportStatus::Encrypted, "", {}},
};

class OfficeSamples : public testing::TestWithParam<Case> {};

TEST_P(OfficeSamples, GiveExactTextAttributesAndStatus) {
  expectRecordedImport(kData, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Office, OfficeSamples, testing::ValuesIn(kCases));

TEST(OfficeImporters, MissingPathsAndWrongFormatsAreUnreadable) {
  for (const Importer* imp : {&docxImporter(), &odtImporter(), &iworkImporter(), &epubImporter()}) {
    RecordingSink sink;
    EXPECT_EQ(imp->import(kData + "no_such_file.zip", sink), ImportStatus::Unreadable) << imp->name();
    // A valid zip of another format: the main part is missing.
    EXPECT_EQ(imp->import(kData + (imp == &odtImporter() ? "basic.docx" : "basic.odt"), sink),
              ImportStatus::Unreadable)
        << imp->name();
    EXPECT_TRUE(sink.text.empty());
  }
}

// Both sheets point at one 896 KiB shared string 200 times: the text stops
// at the cap instead of growing to 350 MiB.
TEST(OfficeImporters, RepeatedSharedStringsStayBounded) {
  RecordingSink sink;
  EXPECT_EQ(docxImporter().import(kData + "shared_bomb.xlsx", sink), ImportStatus::Imported);
  EXPECT_GT(sink.text.size(), size_t{1} << 20);
  EXPECT_LE(sink.text.size(), office::ParagraphText::kMaxBytes + (size_t{1} << 20));
  EXPECT_EQ(sink.text.rfind("Herd Sheet\ncattle cattle ", 0), 0u);
}

// Relationship targets resolve against their part's folder and never
// leave the package.
TEST(OfficeImporters, RelationshipTargetsStayInsideThePackage) {
  using ooxml::resolveTarget;
  EXPECT_EQ(resolveTarget("ppt/slides/slide1.xml", "../notesSlides/n1.xml"), "ppt/notesSlides/n1.xml");
  EXPECT_EQ(resolveTarget("xl/workbook.xml", "worksheets/./sheet1.xml"), "xl/worksheets/sheet1.xml");
  EXPECT_EQ(resolveTarget("xl/workbook.xml", "/xl/sharedStrings.xml"), "xl/sharedStrings.xml");
  EXPECT_EQ(resolveTarget("workbook.xml", "sheet.xml"), "sheet.xml");
  EXPECT_EQ(resolveTarget("ppt/slides/slide1.xml", "../../../etc/passwd"), "");
  EXPECT_EQ(resolveTarget("xl/workbook.xml", "/../x.xml"), "");
}

class ScratchDir : public testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& bytes) { return scratch_.write(name, bytes); }
  Scratch scratch_{"office-test"};
  const std::string dir_ = scratch_.dir();
};

// Every prefix of a document and every single-byte corruption must end in a
// status, never a crash, a hang or an exception.
TEST_F(ScratchDir, DamagedCopiesEndInACleanStatus) {
  struct Target {
    const char* file;
    const Importer& (*importer)();
  } targets[] = {{"basic.docx", docxImporter},
                 {"basic.xlsx", docxImporter},
                 {"basic.pptx", docxImporter},
                 {"basic.odt", odtImporter},
                 {"basic.ods", odtImporter},
                 {"basic.epub", epubImporter},
                 {"iwa.pages", iworkImporter}};
  for (const Target& t : targets) {
    const std::string good = slurp(kData + t.file);
    ASSERT_FALSE(good.empty());
    for (size_t cut = 0; cut < good.size(); cut += 37) {
      RecordingSink sink;
      ImportStatus st = t.importer().import(write(t.file, good.substr(0, cut)), sink);
      EXPECT_NE(st, ImportStatus::Imported) << t.file << " cut at " << cut;
    }
    for (size_t at = 0; at < good.size(); at += 11) {
      std::string bad = good;
      bad[at] = static_cast<char>(bad[at] ^ 0x5a);
      RecordingSink sink;
      ImportStatus st = t.importer().import(write(t.file, bad), sink);
      // A flipped flag or size in the directory may well read as encrypted
      // or oversized; what must never happen is "unsupported" or worse.
      EXPECT_TRUE(st == ImportStatus::Imported || st == ImportStatus::Unreadable || st == ImportStatus::Encrypted ||
                  st == ImportStatus::TooLarge)
          << t.file << " byte " << at;
    }
  }
}

TEST_F(ScratchDir, PackageFolderNeverLeavesItsRoot) {
  fs::create_directories(dir_ + "/doc.pages/Index");
  std::string secret = write("secret.iwa", slurp(kData + "package.pages/Index/Document.iwa"));
  fs::create_symlink(secret, dir_ + "/doc.pages/Index/Document.iwa");
  ArchiveStatus st;
  auto pkg = openArchive(dir_ + "/doc.pages", st);
  ASSERT_TRUE(pkg);
  EXPECT_TRUE(pkg->names().empty());
  std::string out;
  EXPECT_EQ(pkg->read("../secret.iwa", out), ArchiveStatus::Missing);
  RecordingSink sink;
  EXPECT_EQ(iworkImporter().import(dir_ + "/doc.pages", sink), ImportStatus::Unreadable);
  EXPECT_TRUE(sink.text.empty());
}

TEST(IwaReader, RejectsOutOfBoundsLengths) {
  using namespace iwork;
  auto wellFormed = [](std::string bytes) { return isWellFormedMessage(bytes); };
  EXPECT_TRUE(wellFormed(std::string("\x08\x96\x01\x12\x02hi", 7)));
  EXPECT_FALSE(wellFormed(std::string("\x08\x96", 2)));         // varint cut short
  EXPECT_FALSE(wellFormed(std::string("\x12\x05hi", 4)));       // length past the end
  EXPECT_FALSE(wellFormed(std::string("\x12\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", 11)));  // 2^64-1
  EXPECT_FALSE(wellFormed(std::string("\x0b\x0c", 2)));         // group wire types
  EXPECT_FALSE(wellFormed(std::string("\x0d\x01\x02", 3)));     // fixed32 cut short
  EXPECT_FALSE(wellFormed(std::string(11, '\x80')));            // varint over 10 bytes
  EXPECT_FALSE(wellFormed(std::string("\x00\x01", 2)));         // field number 0

  std::string out;
  EXPECT_EQ(decompressIwa(std::string("\x01\x02\x00\x00\x00\x00", 6), out, 1 << 20), IwaStatus::Malformed);
  EXPECT_EQ(decompressIwa(std::string("\x00\x09\x00\x00\x02\x04x", 7), out, 1 << 20), IwaStatus::Malformed);
  EXPECT_EQ(decompressIwa(std::string("\x00\x03\x00", 3), out, 1 << 20), IwaStatus::Malformed);
  // "hello" as one literal, then a limit one byte too small.
  const std::string chunk("\x00\x07\x00\x00\x05\x10hello", 11);
  EXPECT_EQ(decompressIwa(chunk, out, 5), IwaStatus::Ok);
  EXPECT_EQ(out, "hello");
  out.clear();
  EXPECT_EQ(decompressIwa(chunk + chunk, out, 9), IwaStatus::TooLarge);

  // ArchiveInfo promising a 50-byte payload that is not there.
  std::vector<uint32_t> seen;
  const std::string archive("\x06\x08\x01\x12\x02\x18\x32" "abc", 10);
  EXPECT_FALSE(forEachMessage(archive, [&](uint32_t t, std::string_view) { seen.push_back(t); }));
  EXPECT_TRUE(seen.empty());
}

TEST(IwaReader, PrintableTextTest) {
  using iwork::isPrintableUtf8;
  EXPECT_TRUE(isPrintableUtf8("Lion"));
  EXPECT_TRUE(isPrintableUtf8("ゾルゲ 2"));
  EXPECT_TRUE(isPrintableUtf8("line\nnext\ttab"));
  EXPECT_FALSE(isPrintableUtf8(""));
  EXPECT_FALSE(isPrintableUtf8(" - "));                       // no letter or digit
  EXPECT_FALSE(isPrintableUtf8(std::string("ab\x01", 3)));    // control character
  EXPECT_FALSE(isPrintableUtf8("ab\xc3"));                    // cut UTF-8 sequence
  EXPECT_FALSE(isPrintableUtf8("\xed\xa0\x80x"));             // surrogate
}

}  // namespace
}  // namespace mdindex
