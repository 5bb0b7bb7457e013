// The mail, music, Word 97-2003 and ZIP importers over the committed inputs
// in tests/data/mail, audio, word97 and archives (each folder's README or
// generator says how they were made), exactly: text, attributes, status.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mdindex/importers/mail_importer.h"

namespace mdindex {
namespace {

const std::string kData = std::string(FINDLARK_TEST_DATA_DIR) + "/";

// Keeps what it is given, like the import's sink, without a cap.
class RecordingSink : public Sink {
 public:
  std::string text;
  Attributes attributes;

  void addText(std::string_view utf8) override { text.append(utf8); }
  void setAttribute(const std::string& name, Value value) override { attributes[name] = std::move(value); }
  void addKeywords(const std::vector<std::string>& keywords) override {
    auto& v = attributes[attr::Keywords];
    if (!std::holds_alternative<std::vector<std::string>>(v)) v = std::vector<std::string>{};
    auto& list = std::get<std::vector<std::string>>(v);
    for (const std::string& k : keywords)
      if (std::find(list.begin(), list.end(), k) == list.end()) list.push_back(k);
  }
  bool full() const override { return false; }
  bool hasText() const override { return !text.empty(); }
};

using Strings = std::vector<std::string>;

struct Case {
  const char* file;
  const Importer& (*importer)();
  ImportStatus status;
  const char* text;
  Attributes attributes;
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.file; }

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

const Case kCases[] = {
    // Subject (an encoded word) first; the plain alternative only, its
    // quoted-printable soft break joined inside "turnstone"; the PDF by name.
    {"mail/basic.eml", mailImporter, ImportStatus::Imported,
     "Café herd report\n"
     "A big herd of cattle grazing near the meadow gate, where one sees a red turnstone.\nSecond line\n"
     "herd-figures.pdf",
     mailHeaders("Café herd report", kAnn, kAnnAddress)},
    {"mail/latin1.eml", mailImporter, ImportStatus::Imported, "Latin-1 body\nCrème brûlée for the café",
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
};

class FormatSamples : public testing::TestWithParam<Case> {};

TEST_P(FormatSamples, GiveExactTextAttributesAndStatus) {
  const Case& c = GetParam();
  RecordingSink sink;
  EXPECT_EQ(c.importer().import(kData + c.file, sink), c.status);
  EXPECT_EQ(sink.text, c.text);
  EXPECT_EQ(sink.attributes, c.attributes);
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatSamples, testing::ValuesIn(kCases));

// Ten thousand parts: the subject and the first parts, no more.
TEST(MailImporter, AMessageOfTenThousandPartsIsReadOnlyInPart) {
  RecordingSink sink;
  EXPECT_EQ(mailImporter().import(kData + "mail/many_parts.eml", sink), ImportStatus::Imported);
  EXPECT_EQ(sink.text.rfind("Many parts\npart 0\npart 1\n", 0), 0u);
  const size_t lines = static_cast<size_t>(std::count(sink.text.begin(), sink.text.end(), '\n'));
  EXPECT_LT(lines, mail::kMaxParts);
  EXPECT_GT(lines, mail::kMaxParts / 2);
}

}  // namespace
}  // namespace mdindex
