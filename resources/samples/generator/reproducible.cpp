#include "reproducible.h"

#include <QFile>
#include <QHashFunctions>
#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <poppler-document.h>
#include <zip.h>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace samplegen {

namespace {

// "(D:20240514093000Z)": kFixedTime as a PDF date string. QPdfWriter writes
// the current local time in this field; with TZ=UTC its text has this length,
// so overwriting it in place keeps every byte offset of the file valid.
QByteArray fixedPdfDate() {
  std::tm tm{};
  const std::time_t t = kFixedTime;
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "(D:%Y%m%d%H%M%SZ)", &tm);
  return QByteArray(text);
}

bool fixCreationDate(QByteArray& pdf) {
  const QByteArray key = "/CreationDate ";
  const qsizetype at = pdf.indexOf(key);
  if (at < 0) return false;
  const qsizetype open = at + key.size();
  const qsizetype close = pdf.indexOf(')', open);
  const QByteArray fixed = fixedPdfDate();
  if (close < 0 || close + 1 - open != fixed.size() || pdf.at(open) != '(') return false;
  pdf.replace(open, fixed.size(), fixed);
  return pdf.indexOf(key, open) < 0;  // exactly one date to fix
}

// DOS date and time of kFixedTime (UTC), as zip headers store them.
void fixedDosTime(zip_uint16_t& dosTime, zip_uint16_t& dosDate) {
  std::tm tm{};
  const std::time_t t = kFixedTime;
  gmtime_r(&t, &tm);
  dosTime = static_cast<zip_uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  dosDate = static_cast<zip_uint16_t>(((tm.tm_year + 1900 - 1980) << 9) | ((tm.tm_mon + 1) << 5) |
                                      tm.tm_mday);
}

}  // namespace

void prepareReproducibleEnvironment() {
  QHashSeed::setDeterministicGlobalSeed();
  setenv("TZ", "UTC", 1);
  tzset();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

std::optional<QByteArray> renderHtmlPdf(const QString& html, const PdfInfo& info) {
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setTitle(info.title);
    writer.setCreator(info.creator);
    writer.setPageSize(QPageSize(static_cast<QPageSize::PageSizeId>(info.pageSizeId)));
    // No page margins of our own: QTextDocument::print() then keeps the
    // document's 2 cm frame margin and draws page numbers in it.
    writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);

    QTextDocument document;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(info.fontPoints);
    // Any letter spacing other than 100% makes Qt shape without ligatures, so
    // "fi" stays two letters in the text layer and "file" or "mdfind" can be
    // found in it. (A tiny absolute spacing rounds to none and keeps them.)
    font.setLetterSpacing(QFont::PercentageSpacing, 100.01);
    document.setDefaultFont(font);
    document.setDefaultStyleSheet(QStringLiteral(
        "code, pre, tt { font-family: 'DejaVu Sans Mono'; font-size: 9pt; }"
        "th { font-weight: bold; text-align: left; background-color: #e8ecef; }"
        "h1 { font-size: 18pt; } h2 { font-size: 14pt; margin-top: 14px; }"
        "h3 { font-size: 11.5pt; margin-top: 10px; }"));
    document.setHtml(html);
    document.print(&writer);
  }
  if (!fixCreationDate(bytes)) return std::nullopt;
  return bytes;
}

bool writePdfWithKeywords(const QByteArray& pdf, const std::string& keywords,
                          const QString& path) {
  std::unique_ptr<poppler::document> document(
      poppler::document::load_from_raw_data(pdf.constData(), static_cast<int>(pdf.size())));
  if (!document || document->is_locked()) return false;
  if (!document->set_keywords(poppler::ustring::from_utf8(keywords.c_str()))) return false;
  if (!document->set_modification_date_t(kFixedTime)) return false;
  QFile::remove(path);
  return document->save(QFile::encodeName(path).toStdString());
}

bool writeZip(const QString& path, const std::vector<ZipMember>& members) {
  int error = 0;
  const QByteArray nativePath = QFile::encodeName(path);
  zip_t* archive = zip_open(nativePath.constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!archive) return false;
  zip_uint16_t dosTime = 0;
  zip_uint16_t dosDate = 0;
  fixedDosTime(dosTime, dosDate);
  for (const ZipMember& member : members) {
    zip_source_t* source =
        zip_source_buffer(archive, member.data.constData(), member.data.size(), 0);
    if (!source) {
      zip_discard(archive);
      return false;
    }
    const zip_int64_t index = zip_file_add(archive, member.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      zip_discard(archive);
      return false;
    }
    const auto i = static_cast<zip_uint64_t>(index);
    if (zip_set_file_compression(archive, i, member.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                 member.deflate ? 9 : 0) < 0 ||
        zip_file_set_dostime(archive, i, dosTime, dosDate, 0) < 0) {
      zip_discard(archive);
      return false;
    }
  }
  if (zip_close(archive) < 0) {
    zip_discard(archive);
    QFile::remove(path);
    return false;
  }
  return true;
}

bool writeFile(const QString& path, const QByteArray& data) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return file.write(data) == data.size() && file.flush();
}

}  // namespace samplegen
