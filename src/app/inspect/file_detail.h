// The record of one inspected (dropped) file and its two text forms: the export
// text that Copy puts on the clipboard, and a keyed encoding as a JSON object.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <array>
#include <optional>
#include <variant>

namespace findlark::inspect {

// A value type: copies are independent and never change once made. Records are
// identified by `id` alone; there is no equality of records.
struct FileDetail {
  // Makes a record with a fresh random id.
  FileDetail(QString name, QString path, QString mdimportStr, QString mdlsStr);

  QUuid id;             // random (version 4) unless the record was decoded
  QString name;         // last path component
  QString path;         // full file-system path
  QString mdimportStr;  // `mdimport -t -d2` report, or its fallback text
  QString mdlsStr;      // path + "\n\n" + `mdls` report (or its fallback text)

  // name "\n\n" path "\n\nmdimport:\n" mdimportStr "\n\nmdls:\n" mdlsStr,
  // byte for byte, with no trailing line feed of its own.
  QString exportText() const;
};

// One of the five keys of the keyed encoding. A key exists only for the five
// exact field names; it has no integer form (it can be made neither from nor
// into an integer), only its text and its position in the encoding order.
class CodingKey {
 public:
  static const CodingKey id, name, path, mdimportStr, mdlsStr;
  // The five keys in encoding order.
  static const std::array<CodingKey, 5>& all();
  // The key whose text is exactly `text` (case-sensitive), else none.
  static std::optional<CodingKey> fromText(QStringView text);

  QString text() const;
  int position() const { return position_; }  // 0 for "id" … 4 for "mdlsStr"
  friend bool operator==(const CodingKey&, const CodingKey&) = default;

 private:
  explicit constexpr CodingKey(int position) : position_(position) {}
  int position_;
};

// Why decoding failed.
enum class DecodeError {
  MissingKey,   // a required key is absent (keys are matched case-sensitively)
  WrongType,    // the value is not a JSON string
  CorruptValue  // the "id" string is not a UUID in its textual form
};

struct DecodeFailure {
  DecodeError error;
  CodingKey key;  // the first key, in encoding order, that failed
};

// The five fields under their key names: "id" as the UUID's text without
// braces, the other four as strings.
QJsonObject encode(const FileDetail& detail);

// Reads the five keys in encoding order; the first failure stops decoding and
// no record is made. A decoded record keeps the stored id. Extra keys are
// ignored.
std::variant<FileDetail, DecodeFailure> decode(const QJsonObject& object);

// What Copy puts on the clipboard: the export texts of the records of `list`
// whose id is in `selected`, in list order (not selection order), joined by
// one line feed between records. Empty when nothing selected matches.
QString copyText(const QList<FileDetail>& list, const QSet<QUuid>& selected);

}  // namespace findlark::inspect
