// The mail, music, Word 97-2003 and ZIP importers over the committed inputs
// in tests/data/mail, audio, word97 and archives (each folder's generator
// says how they were made), exactly: text, attributes, status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../support/sample_import.h"
#include "../../support/scratch.h"
#include "mdindex/core/uti.h"
#include "mdindex/importers/audio_importer.h"
#include "mdindex/importers/doc_importer.h"
#include "mdindex/importers/mail_importer.h"
#include "mdindex/importers/zip_importer.h"

namespace mdindex {
namespace {

const std::string kData = std::string(FINDLARK_TEST_DATA_DIR) + "/";

using testing_support::RecordingSink;
using testing_support::slurp;
using Case = testing_support::SampleCase;

using Strings = std::vector<std::string>;

// 2024-05-14 09:30:00 UTC, the date every generated sample carries.
const Date kSampleDate{1715679000};

Attributes mailHeaders(const std::string& subject, Strings from, Strings fromAddresses) {
  return {{"kMDItemSubject", subject},
          {attr::Title, subject},
          {attr::Authors, std::move(from)},
          {"kMDItemAuthorEmailAddresses", std::move(fromAddresses)},
          {"kMDItemRecipients", Strings{"Bob Reader", "carol@example.org", "dan@example.org", "Eve Editor"}},
          {"kMDItemRecipientEmailAddresses",
           Strings{"bob@example.org", "carol@example.org", "dan@example.org", "eve@example.org"}},
          {attr::ContentCreationDate, kSampleDate}};
}

const Strings kAnn = {"Ann Author"};
const Strings kAnnAddress = {"ann@example.org"};

// The tags every audio sample carries, and what its stream measures.
Attributes tags(double seconds, double kbits, double hertz, double channels, bool track = true) {
  Attributes a = {{attr::Title, std::string("Herd Song")},
                  {attr::Authors, Strings{"Ann Artist"}},
                  {"kMDItemAlbum", std::string("Cattle Album")},
                  {"kMDItemMusicalGenre", std::string("Folk")},
                  {"kMDItemComment", std::string("Grazing notes")},
                  {"kMDItemRecordingYear", 2024.0},
                  {"kMDItemDurationSeconds", seconds},
                  {"kMDItemAudioBitRate", kbits},
                  {"kMDItemAudioSampleRate", hertz},
                  {"kMDItemAudioChannelCount", channels}};
  if (track) a["kMDItemAudioTrackNumber"] = 3.0;
  return a;
}

Attributes with(Attributes base, const std::string& name, Value v) {
  base[name] = std::move(v);
  return base;
}

const Case kCases[] = {
    // Subject (an encoded word) first; the plain alternative only, its
    // quoted-printable soft break joined inside "turnstone"; the PDF by
    // name, the text attachment by name and text.
    {"mail/basic.eml", mailImporter, ImportStatus::Imported,
     "Café herd report\n"
     "A big herd of cattle grazing near the meadow gate, where one sees a red turnstone.\nSecond line\n"
     "herd-figures.pdf\nnote.txt\nAttached note about the herd",
     mailHeaders("Café herd report", kAnn, kAnnAddress)},
    {"mail/latin1.eml", mailImporter, ImportStatus::Imported, "Latin-1 body\nCrème brûlée for the café",
     mailHeaders("Latin-1 body", {"plain@example.org"}, {"plain@example.org"})},
    // A message saved after a mailbox's "From " line is still one message.
    {"mail/from_line.eml", mailImporter, ImportStatus::Imported, "Latin-1 body\nCrème brûlée for the café",
     mailHeaders("Latin-1 body", {"plain@example.org"}, {"plain@example.org"})},
    {"mail/html_only.eml", mailImporter, ImportStatus::Imported, "HTML only\nOnly HTML here",
     mailHeaders("HTML only", kAnn, kAnnAddress)},
    // The forwarded message is read in place; its headers do not replace
    // the outer message's.
    {"mail/forwarded.eml", mailImporter, ImportStatus::Imported,
     "Fwd: Inner subject\nSee below\nInner subject\nThe forwarded words",
     mailHeaders("Fwd: Inner subject", kAnn, kAnnAddress)},
    // Every message of the mailbox, none of their headers as attributes.
    {"mail/mailbox.mbox", mailImporter, ImportStatus::Imported,
     "Message 1\nMessage body first\n>From a quoted line\n"
     "Message 2\nMessage body whimbrel\n>From a quoted line\n"
     "Message 3\nMessage body third\n>From a quoted line",
     {}},
    // Cut inside the attachment: what came before it is kept.
    {"mail/truncated.eml", mailImporter, ImportStatus::Imported,
     "Café herd report\nA big herd of cattle grazing near the meadow gate, where one sees a red turnstone.\nSecond line",
     mailHeaders("Café herd report", kAnn, kAnnAddress)},
    {"mail/empty.eml", mailImporter, ImportStatus::Unreadable, "", {}},

    // ID3v2, Vorbis comments (two artists and a composer in the FLAC),
    // Opus tags, MPEG-4 atoms, ID3v2 in AIFF, RIFF INFO in WAV (no track).
    {"audio/tagged.mp3", audioImporter, ImportStatus::Imported, "", tags(0.157, 32, 22050, 1)},
    {"audio/tagged.flac", audioImporter, ImportStatus::Imported, "",
     with(with(tags(0.1, 63, 44100, 1), attr::Authors, Strings{"Ann Artist", "Bob Player"}), "kMDItemComposer",
          std::string("Carl Composer"))},
    {"audio/tagged.ogg", audioImporter, ImportStatus::Imported, "", tags(0.1, 28, 44100, 1)},
    {"audio/tagged.opus", audioImporter, ImportStatus::Imported, "", tags(0.1, 33, 48000, 1)},
    {"audio/tagged.m4a", audioImporter, ImportStatus::Imported, "", tags(0.123, 49, 44100, 2)},
    {"audio/tagged.aiff", audioImporter, ImportStatus::Imported, "", tags(0.1, 706, 44100, 1)},
    {"audio/tagged.wav", audioImporter, ImportStatus::Imported, "", tags(0.1, 706, 44100, 1, false)},
    {"audio/truncated.mp3", audioImporter, ImportStatus::Unreadable, "", {}},

    // LibreOffice's Word 97 form of office/basic.odt: the main text, the
    // footnote, header, comment and text box stories after it; the
    // hyperlink's field code left out. (LibreOffice leaves out Cell B1 and
    // writes the ODT's unanchored deletion as plain text.)
    {"word97/basic.doc", docImporter, ImportStatus::Imported,
     "Deleted words\nHeading words\nA big herd of cattle grazing\nName\tValue\nafter   spaces\nLead-in after box\n"
     "Cell A1\nItem one\nFootnote words\nHeader words\nComment words\nBoxed words",
     {{attr::Title, std::string("Cattle Report")},
      {attr::Authors, Strings{"Ann Author"}},
      {attr::Keywords, Strings{"one", "cattle", "three"}},
      {"kMDItemSubject", std::string("Herds")},
      {"kMDItemDescription", std::string("About herds")}}},
    // A deletion made with revision marking on is not text a reader sees.
    {"word97/tracked.doc", docImporter, ImportStatus::Imported, "Kept text after the change", {}},
    {"word97/encrypted.doc", docImporter, ImportStatus::Encrypted, "", {}},
    {"word97/truncated.doc", docImporter, ImportStatus::Unreadable, "", {}},
    {"word97/bad_piece_table.doc", docImporter, ImportStatus::Unreadable, "", {}},
    {"audio/tagged.mp3", docImporter, ImportStatus::Unreadable, "", {}},

    // Every member's name on its line, a small text member's text right
    // after it: UTF-8, Windows-1252, UTF-16 with a mark, HTML as a web page,
    // a text file without an extension. No folder entry; the picture, the
    // PDF, the member over the read bound and the binary one by name only.
    {"archives/basic.zip", zipImporter, ImportStatus::Imported,
     "notes/readme.txt\nShoveler notes from the café\nnotes/latin1.csv\ncrème;brûlée\n"
     "notes/utf16.md\n# Heading in UTF-16\npage.html\nPage words\nphoto.jpg\nreport.pdf\nbig.txt\n"
     "LICENSE\nPermission is granted\nbinary",
     {}},
    // 64 MiB of zeros, a member lying about its size and a nested zip are
    // listed and not read; the member after them still is.
    {"archives/bomb.zip", zipImporter, ImportStatus::Imported,
     "zeros.txt\nlying.txt\ninner.zip\nafter.txt\nWords after the bomb", {}},
    {"archives/truncated.zip", zipImporter, ImportStatus::Unreadable, "", {}},
    {"mail/basic.eml", zipImporter, ImportStatus::Unreadable, "", {}},
};

// Each extension is typed as its kind (music under public.audio, films
// under public.movie, for kind: searches) and reaches its importer; the
// zip-based documents keep theirs.
TEST(FormatImporters, EachTypeReachesItsImporter) {
  const std::pair<const char*, const char*> cases[] = {
      {"eml", "Mail.mdimporter"},   {"mbox", "Mail.mdimporter"},  {"doc", "Word97.mdimporter"},
      {"mp3", "Audio.mdimporter"},  {"flac", "Audio.mdimporter"}, {"ogg", "Audio.mdimporter"},
      {"opus", "Audio.mdimporter"}, {"m4a", "Audio.mdimporter"},  {"mp4", "Audio.mdimporter"},
      {"wav", "Audio.mdimporter"},  {"aiff", "Audio.mdimporter"}, {"zip", "Archive.mdimporter"},
      {"odt", "OpenDocument.mdimporter"}, {"epub", "EPUB.mdimporter"},
  };
  for (const auto& [ext, importer] : cases) {
    const TypeInfo t = typeForExtension(ext);
    const Importer* imp = importerForUti(t.uti);
    ASSERT_NE(imp, nullptr) << ext;
    EXPECT_EQ(imp->name(), importer) << ext;
    const bool audio = std::find(t.tree.begin(), t.tree.end(), "public.audio") != t.tree.end();
    EXPECT_EQ(audio, imp == &audioImporter() && std::string(ext) != "mp4") << ext;
  }
  const auto mp4 = typeForExtension("mp4").tree;
  EXPECT_NE(std::find(mp4.begin(), mp4.end(), "public.movie"), mp4.end());
}

class FormatSamples : public testing::TestWithParam<Case> {};

TEST_P(FormatSamples, GiveExactTextAttributesAndStatus) {
  expectRecordedImport(kData, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatSamples, testing::ValuesIn(kCases));

// Ten thousand parts: the subject and the first parts, no more.
TEST(MailImporter, AMessageOfTenThousandPartsIsReadOnlyInPart) {
  Scratch scratch("mail-test");
  RecordingSink sink;
  EXPECT_EQ(mailImporter().import(scratch.write("many.eml", testing_support::messageOfParts(10000)), sink),
            ImportStatus::Imported);
  EXPECT_EQ(sink.text.rfind("Many parts\npart 0\npart 1\n", 0), 0u);
  const size_t lines = static_cast<size_t>(std::count(sink.text.begin(), sink.text.end(), '\n'));
  EXPECT_LT(lines, mail::kMaxParts);
  EXPECT_GT(lines, mail::kMaxParts / 2);
}

// Every prefix of a file and every single-byte corruption must end in a
// status, never a crash, a hang or an exception.
TEST(FormatImporters, DamagedCopiesEndInACleanStatus) {
  struct Target {
    const char* file;
    const Importer& (*importer)();
    size_t step;
  } targets[] = {{"word97/basic.doc", docImporter, 7}, {"mail/basic.eml", mailImporter, 5},
                 {"audio/tagged.flac", audioImporter, 97}, {"audio/tagged.m4a", audioImporter, 3},
                 {"archives/basic.zip", zipImporter, 5}};
  Scratch scratch("formats-test");
  for (const Target& t : targets) {
    const std::string good = slurp(kData + t.file);
    ASSERT_FALSE(good.empty());
    const std::string name = std::string("copy.") + (std::strrchr(t.file, '.') + 1);
    for (size_t cut = 0; cut < good.size(); cut += 13 * t.step) {
      RecordingSink sink;
      const ImportStatus st = t.importer().import(scratch.write(name, good.substr(0, cut)), sink);
      EXPECT_TRUE(st == ImportStatus::Imported || st == ImportStatus::Unreadable) << t.file << " cut at " << cut;
    }
    for (size_t at = 0; at < good.size(); at += t.step) {
      std::string bad = good;
      bad[at] = static_cast<char>(bad[at] ^ 0x5a);
      RecordingSink sink;
      const ImportStatus st = t.importer().import(scratch.write(name, bad), sink);
      EXPECT_TRUE(st == ImportStatus::Imported || st == ImportStatus::Unreadable || st == ImportStatus::Encrypted)
          << t.file << " byte " << at;
    }
  }
}

// An ID3v2.3 tag holding one comment frame of `bytes` letters, in front of
// the tagged sample's own bytes.
std::string mp3WithComment(size_t bytes) {
  const auto be32 = [](size_t n, bool synchsafe) {
    const int shift = synchsafe ? 7 : 8;
    std::string out(4, '\0');
    for (int i = 3; i >= 0; --i, n >>= shift) out[i] = static_cast<char>(n & ((1u << shift) - 1));
    return out;
  };
  const std::string frame = std::string("\0eng\0", 5) + std::string(bytes, 'a');
  const std::string frames = "COMM" + be32(frame.size(), false) + std::string(2, '\0') + frame;
  return std::string("ID3\x03\0\0", 6) + be32(frames.size(), true) + frames + slurp(kData + "audio/tagged.mp3");
}

// A megabyte of comment is cut to the field bound; a tag that declares a
// hundred megabytes is refused unread.
TEST(AudioImporter, LongTagsAreCutAndHugeOnesRefused) {
  Scratch scratch("audio-test");
  RecordingSink sink;
  EXPECT_EQ(audioImporter().import(scratch.write("long.mp3", mp3WithComment(1u << 20)), sink), ImportStatus::Imported);
  EXPECT_EQ(sink.attributes.at("kMDItemComment"), Value(std::string(audio::kMaxFieldBytes, 'a')));
  EXPECT_GT(std::get<double>(sink.attributes.at("kMDItemDurationSeconds")), 0.0);
  RecordingSink huge;
  EXPECT_EQ(audioImporter().import(scratch.write("huge.mp3", mp3WithComment(100u << 20)), huge),
            ImportStatus::TooLarge);
  EXPECT_TRUE(huge.attributes.empty());
}

}  // namespace
}  // namespace mdindex
