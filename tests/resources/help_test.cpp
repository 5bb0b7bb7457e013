// The help document the build prints: a real, several-page PDF that covers
// every sample and every toolbar item, with no text running off a page.
#include <QTest>

#include <poppler-document.h>
#include <poppler-page.h>

#include <memory>
#include <string>

namespace {

std::string utf8(const poppler::ustring& s) {
  const auto bytes = s.to_utf8();
  return std::string(bytes.begin(), bytes.end());
}

// Text of the whole document in drawing order (each table cell whole), with
// page numbers left out and line breaks made spaces, so a phrase wrapped
// across lines or pages still matches.
std::string flatText(poppler::document& doc) {
  std::string text;
  for (int i = 0; i < doc.pages(); ++i) {
    std::unique_ptr<poppler::page> page(doc.create_page(i));
    std::string pageText = utf8(page->text(page->page_rect(), poppler::page::raw_order_layout));
    const std::string number = "\n" + std::to_string(i + 1) + "\n";
    if (const size_t at = pageText.rfind(number); at != std::string::npos) pageText.erase(at, number.size() - 1);
    for (const char c : pageText) text += (c == '\n' || c == '\r') ? ' ' : c;
    text += ' ';
  }
  std::string squeezed;
  for (const char c : text)
    if (!(c == ' ' && !squeezed.empty() && squeezed.back() == ' ')) squeezed += c;
  return squeezed;
}

}  // namespace

class HelpTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void isSeveralPagesWithEmbeddedFonts();
  void coversSamplesToolbarAndSettings();
  void noTextOutsideThePage();

 private:
  std::unique_ptr<poppler::document> doc_;
};

void HelpTest::initTestCase() {
  doc_.reset(poppler::document::load_from_file(FINDLARK_SHARE_DIR "/FindlarkHelp.pdf"));
  QVERIFY2(doc_, "FindlarkHelp.pdf is missing from the resource folder or is not a PDF");
  QVERIFY(!doc_->is_locked());
}

void HelpTest::isSeveralPagesWithEmbeddedFonts() {
  QVERIFY(doc_->pages() >= 4);
  QCOMPARE(utf8(doc_->get_title()), std::string("Findlark Help"));
  for (const auto& font : doc_->fonts()) QVERIFY2(font.is_embedded(), font.name().c_str());
}

void HelpTest::coversSamplesToolbarAndSettings() {
  const std::string text = flatText(*doc_);
  const char* required[] = {
      // the samples
      "FindlarkA.txt", "FindlarkB.rtf", "FindlarkC.pdf", "FindlarkD.html", "FindlarkE.docx",
      "FindlarkF.numbers", "FindlarkG.pages", "FindlarkH.png", "FindlarkI.png", "FindlarkK.jpg",
      "FindlarkL.plist", "FindlarkM.txt", "FindlarkN.pdf",
      // toolbar titles and their tooltips, as the window shows them
      "Create Tests", "Create test folder in Home folder", "Run NSMetadata test",
      "Run NSMetadata tests", "Run mdfind test", "Run mdfind tests", "Check importers",
      "Remove Tests", "Delete test folder from Home folder", "Open Drop Window",
      "Open Drop Test Window",
      // settings, service and tools
      "searchTerm", "searchKeywords", "searchEXIF", "~/.config/Findlark/Findlark.conf",
      "mdutil -s", "mdindexd", "Drop Window"};
  for (const char* phrase : required)
    QVERIFY2(text.find(phrase) != std::string::npos, phrase);
}

void HelpTest::noTextOutsideThePage() {
  for (int i = 0; i < doc_->pages(); ++i) {
    std::unique_ptr<poppler::page> page(doc_->create_page(i));
    const poppler::rectf box = page->page_rect();
    for (const poppler::text_box& word : page->text_list()) {
      const poppler::rectf r = word.bbox();
      QVERIFY2(r.left() >= box.left() && r.right() <= box.right() && r.top() >= box.top() &&
                   r.bottom() <= box.bottom(),
               qPrintable(QStringLiteral("page %1: %2").arg(i + 1).arg(QString::fromStdString(utf8(word.text())))));
    }
  }
}

QTEST_GUILESS_MAIN(HelpTest)
#include "help_test.moc"
