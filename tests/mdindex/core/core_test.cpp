#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "mdindex/core/fold.h"
#include "mdindex/core/keywords.h"
#include "mdindex/core/paths.h"
#include "mdindex/core/recognition_config.h"
#include "mdindex/core/text_sniff.h"
#include "mdindex/core/uti.h"

using namespace mdindex;

namespace {

std::string hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

}  // namespace

TEST(Keywords, BinaryValueIsTheDocumented62Bytes) {
  const auto bytes = encodeKeywordsValue("one, cattle, three");
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 62u);
  EXPECT_EQ(hex(*bytes),
            "62706c69737430305f10126f6e652c20636174746c652c20746872656508000000000000010100000000000000010000000000"
            "000000000000000000001d");
  const auto fromXml = binaryPlistFromXmlString(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<string>one, cattle, "
      "three</string>\n</plist>\n");
  ASSERT_TRUE(fromXml);
  EXPECT_EQ(*fromXml, *bytes);
}

TEST(Keywords, DecodesStringsArraysAndNonAscii) {
  EXPECT_EQ(decodeKeywordsValue(*encodeKeywordsValue("one, cattle, three")),
            std::vector<std::string>{"one, cattle, three"});
  const auto utf16 = encodeKeywordsValue("Rinder\xC3\xA9");  // stored as UTF-16BE
  ASSERT_TRUE(utf16);
  EXPECT_EQ(static_cast<unsigned char>((*utf16)[8]) >> 4, 0x6);  // UTF-16 string marker
  EXPECT_EQ(decodeKeywordsValue(*utf16), std::vector<std::string>{"Rinder\xC3\xA9"});
  const std::string xmlArray =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>a</string><integer>3</integer>"
      "<string>b c</string></array></plist>";
  EXPECT_EQ(decodeKeywordsValue(xmlArray), (std::vector<std::string>{"a", "b c"}));
  EXPECT_FALSE(decodeKeywordsValue("not a plist"));
  EXPECT_FALSE(decodeKeywordsValue(""));
}

TEST(Fold, CaseDiacriticsAndCompatibilityForms) {
  EXPECT_EQ(foldText("Caf\xC3\xA9 CATTLE"), "cafe cattle");
  EXPECT_EQ(foldText("Cafe\xCC\x81"), "cafe");  // decomposed accent
  EXPECT_EQ(foldText("\xEF\xAC\x81le"), "file");  // fi ligature
  EXPECT_EQ(foldText("Stra\xC3\x9F" "e"), "strasse");
  EXPECT_EQ(foldText("Caf\xC3\xA9", FoldCase), "caf\xC3\xA9");
  EXPECT_EQ(foldText("ab\xFF" "c"), "ab\xEF\xBF\xBD" "c");

  // Pure ASCII takes a short cut; it must agree with the full folding,
  // which a text with one letter beyond ASCII takes.
  const std::string kAccent = "\xC3\xA9";
  for (unsigned options : {unsigned(FoldAll), unsigned(FoldCase), unsigned(FoldDiacritics), 0u}) {
    std::string ascii;
    for (int c = 0; c < 0x80; ++c) ascii += static_cast<char>(c);
    EXPECT_EQ(foldText(ascii, options) + foldText(kAccent, options), foldText(ascii + kAccent, options)) << options;
  }
}

TEST(Fold, Utf8Validation) {
  EXPECT_TRUE(isValidUtf8("plain \xC3\xA9 \xF0\x9F\x90\x84"));
  EXPECT_FALSE(isValidUtf8("\xFF"));
  EXPECT_FALSE(isValidUtf8("\x80"));              // lone continuation byte
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong '/'
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("ok\xE2\x82"));        // truncated at the end
  EXPECT_TRUE(isValidUtf8(std::string("a\0b", 3)));
}

TEST(Paths, ScopeContainment) {
  EXPECT_TRUE(isInScope("/a/b", "/a/b"));
  EXPECT_TRUE(isInScope("/a/b/c", "/a/b"));
  EXPECT_TRUE(isInScope("/a/b/c", "/a/b/"));
  EXPECT_FALSE(isInScope("/a/bc", "/a/b"));
  EXPECT_FALSE(isInScope("/a", "/a/b"));
  EXPECT_TRUE(isInScope("/x", "/"));
  EXPECT_EQ(baseName("/a/b.txt"), "b.txt");
  EXPECT_EQ(parentPath("/a/b.txt"), "/a");
  EXPECT_EQ(parentPath("/a"), "/");
}

// Missing parents are made private (0700); an existing folder is success; a
// file in the way is a failure, not a folder taken for granted.
TEST(Paths, MakeFoldersCreatesPrivateParentsAndRefusesFiles) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "core-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  const std::string root = tmpl;
  struct stat st {};
  EXPECT_TRUE(makeFolders(root + "/a/b/c/"));
  for (const char* sub : {"/a", "/a/b", "/a/b/c"}) {
    ASSERT_EQ(stat((root + sub).c_str(), &st), 0) << sub;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << sub;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << sub;
  }
  EXPECT_TRUE(makeFolders(root + "/a/b"));
  std::ofstream(root + "/file") << "x";
  EXPECT_FALSE(makeFolders(root + "/file"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_FALSE(makeFolders(root + "/file/sub"));
  std::filesystem::remove_all(root);
}

TEST(Uti, ExtensionsTreesAndSniffing) {
  EXPECT_EQ(typeForExtension("TXT").uti, "public.plain-text");
  EXPECT_EQ(typeForExtension("pdf").tree,
            (std::vector<std::string>{"com.adobe.pdf", "public.data", "public.item", "public.composite-content",
                                      "public.content"}));
  EXPECT_EQ(typeForExtension("docx").tree.at(1), "org.openxmlformats.openxml");
  EXPECT_EQ(typeForExtension("weird").uti, "public.data");
  EXPECT_EQ(sniffUti("%PDF-1.4"), "com.adobe.pdf");
  EXPECT_EQ(sniffUti("\x89PNG\r\n\x1a\nxxxx"), "public.png");
  EXPECT_EQ(sniffUti("hello"), "");
}

// A zip's first member names tell which document it is, whatever its name.
TEST(Uti, ZipDocumentsAreKnownByTheirFirstMembers) {
  const auto zipWith = [](const std::string& firstMember) { return "PK\x03\x04" + std::string(26, '\0') + firstMember; };
  const std::pair<std::string, std::string> cases[] = {
      {"mimetypeapplication/vnd.oasis.opendocument.text", "org.oasis-open.opendocument.text"},
      {"mimetypeapplication/vnd.oasis.opendocument.spreadsheet", "org.oasis-open.opendocument.spreadsheet"},
      {"mimetypeapplication/vnd.oasis.opendocument.presentationPK", "org.oasis-open.opendocument.presentation"},
      // A template is not the document kind it starts like.
      {"mimetypeapplication/vnd.oasis.opendocument.text-templatePK", "public.zip-archive"},
      {"[Content_Types].xml....xl/workbook.xml", "org.openxmlformats.spreadsheetml.sheet"},
      {"[Content_Types].xml....ppt/presentation.xml", "org.openxmlformats.presentationml.presentation"},
      // A folder named like an Office one in a zip that is no Office package.
      {"xl/notes.txt", "public.zip-archive"},
      {"mimetypeapplication/epub+zipPK", "org.idpf.epub-container"},
      {"notes.txt", "public.zip-archive"},
  };
  for (const auto& [member, uti] : cases) EXPECT_EQ(sniffUti(zipWith(member)), uti) << member;
  for (const char* ext : {"odt", "ods", "odp", "epub"})
    EXPECT_EQ(typeForExtension(ext).tree.at(1), "public.zip-archive") << ext;
  for (const char* ext : {"docx", "xlsx", "pptx"})
    EXPECT_EQ(typeForExtension(ext).tree.at(1), "org.openxmlformats.openxml") << ext;
}

TEST(Uti, EverydayTextFormatsAndExtensionlessText) {
  EXPECT_EQ(typeForExtension("md").tree.at(1), "public.plain-text");
  EXPECT_EQ(typeForExtension("CSV").uti, "public.comma-separated-values-text");
  EXPECT_EQ(typeForExtension("json").tree.at(1), "public.text");

  char tmpl[] = "/tmp/core-uti-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  auto write = [&](const std::string& name, const std::string& bytes) {
    FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return dir + "/" + name;
  };
  // A README or a .conf file is text; a multi-byte character cut by the
  // sample's end does not make it binary.
  EXPECT_EQ(typeOfFile(write("README", "Herd notes: cattle \xC3\xA9t\xC3\xA9\n")).uti, "public.plain-text");
  EXPECT_EQ(typeOfFile(write("app.conf", std::string(4095, 'a') + "\xC3")).uti, "public.plain-text");
  EXPECT_EQ(typeOfFile(write("blob.bin", std::string("ab\0cd", 5))).uti, "public.data");
  EXPECT_EQ(typeOfFile(write("latin.dat", "caf\xE9 \xFF\xFE")).uti, "public.data");
  EXPECT_EQ(typeOfFile(write("empty", "")).uti, "public.data");
  // Mail kept without an extension (a Maildir message, a mailbox folder)
  // is mail: a header field first, then a sender and a date, subject or id.
  const std::string header = "Return-Path: <a@x.org>\nFrom: Ann <a@x.org>\nSubject: Herd\n\nbody\n";
  EXPECT_EQ(typeOfFile(write("1715679000.M1P2.host:2,S", header)).uti, "com.apple.mail.email");
  EXPECT_EQ(typeOfFile(write("Inbox", "From a@x.org Tue May 14 09:30:00 2024\n" + header)).uti,
            "com.apple.mail.mbox");
  EXPECT_EQ(typeOfFile(write("memo", "From: Ann\nabout the herd\n")).uti, "public.plain-text");
  EXPECT_EQ(typeOfFile(write("letter", "Dear Ann,\nFrom: Bob\nDate: today\n")).uti, "public.plain-text");
  // A known extension keeps its type.
  EXPECT_EQ(typeOfFile(write("notes.md", "# cattle\n")).uti, "net.daringfireball.markdown");
  EXPECT_EQ(typeOfFile(write("headers.md", header)).uti, "net.daringfireball.markdown");
  std::system(("rm -rf '" + dir + "'").c_str());
}

// File typing and the plain-text importer share this test, so its edges are
// what decides both whether a file is typed as text and whether it is read.
TEST(TextSniff, TellsTextFromBinary) {
  EXPECT_TRUE(looksLikeText("plain words\twith tabs\r\n"));
  EXPECT_TRUE(looksLikeText("\x1B[31mred\x1B[0m log line\n"));  // terminal colours
  EXPECT_TRUE(looksLikeText(std::string(9, 'a') + "\x01"));     // one control in ten
  EXPECT_FALSE(looksLikeText(std::string(8, 'a') + "\x01\x02"));
  EXPECT_FALSE(looksLikeText(std::string("text\0more", 9)));
  EXPECT_FALSE(looksLikeText(""));
}

// The recognition settings: a typing error is reported and changes nothing
// else; language codes that could name another file are refused.
TEST(RecognitionConfig, ReadsTheSwitchAndLanguagesAndReportsBadLines) {
  const auto defaults = parseRecognitionConfig("", "f");
  EXPECT_TRUE(defaults.enabled);
  EXPECT_EQ(defaults.languageSpec(), "eng");
  EXPECT_TRUE(defaults.problems.empty());

  const auto c = parseRecognitionConfig(
      "# comment\n\n  textRecognition = Off  \ntextRecognitionLanguages = eng+deu, chi_sim deu\n", "f");
  EXPECT_FALSE(c.enabled);
  EXPECT_EQ(c.languageSpec(), "eng+deu+chi_sim");
  EXPECT_TRUE(c.problems.empty());

  const auto bad = parseRecognitionConfig(
      "textRecognition = maybe\ntextRecognitionLanguages = ../../etc/passwd\ncolour = blue\njunk\n", "f");
  EXPECT_TRUE(bad.enabled);
  EXPECT_EQ(bad.languageSpec(), "eng");
  ASSERT_EQ(bad.problems.size(), 4u);
  EXPECT_EQ(bad.problems[0], "f:1: textRecognition must be on or off, not 'maybe'");
  EXPECT_EQ(bad.problems[2], "f:3: unknown setting 'colour'");
  EXPECT_EQ(bad.problems[3], "f:4: expected 'name = value'");
}

TEST(RecognitionConfig, FileLocationAndMissingLanguageData) {
  const std::string home = std::filesystem::temp_directory_path() / "findlark-core-conf";
  std::filesystem::create_directories(home + "/cfg/findlark");
  setenv("XDG_CONFIG_HOME", (home + "/cfg").c_str(), 1);
  EXPECT_EQ(recognitionConfigPath(), home + "/cfg/findlark/mdindex.conf");
  EXPECT_TRUE(readRecognitionConfig().enabled);  // no file: the defaults
  std::ofstream(home + "/cfg/findlark/mdindex.conf") << "textRecognition = off\n";
  EXPECT_FALSE(readRecognitionConfig().enabled);

  // Language data found through TESSDATA_PREFIX, as tesseract finds it.
  std::filesystem::create_directories(home + "/tessdata");
  std::ofstream(home + "/tessdata/xqa.traineddata") << "x";
  setenv("TESSDATA_PREFIX", (home + "/tessdata").c_str(), 1);
  EXPECT_EQ(missingRecognitionLanguages({"xqa", "xqb", "chi_xq"}), (std::vector<std::string>{"xqb", "chi_xq"}));
  EXPECT_EQ(missingLanguagesLine({"xqb", "chi_xq"}),
            "no language data for 'xqb', 'chi_xq' (Debian packages tesseract-ocr-xqb tesseract-ocr-chi-xq)");
  unsetenv("TESSDATA_PREFIX");
  unsetenv("XDG_CONFIG_HOME");
  std::filesystem::remove_all(home);
}
