#include "app/inspect/file_detail.h"

#include <QJsonValue>
#include <QStringList>

#include <utility>

namespace findlark::inspect {

FileDetail::FileDetail(QString name, QString path, QString mdimportStr, QString mdlsStr)
    : id(QUuid::createUuid()),
      name(std::move(name)),
      path(std::move(path)),
      mdimportStr(std::move(mdimportStr)),
      mdlsStr(std::move(mdlsStr)) {}

QString FileDetail::exportText() const {
  return name + QStringLiteral("\n\n") + path + QStringLiteral("\n\nmdimport:\n") + mdimportStr +
         QStringLiteral("\n\nmdls:\n") + mdlsStr;
}

const CodingKey CodingKey::id{0};
const CodingKey CodingKey::name{1};
const CodingKey CodingKey::path{2};
const CodingKey CodingKey::mdimportStr{3};
const CodingKey CodingKey::mdlsStr{4};

namespace {
// Texts by position; the one table both directions read.
constexpr std::array<const char*, 5> kKeyTexts = {"id", "name", "path", "mdimportStr", "mdlsStr"};
}  // namespace

const std::array<CodingKey, 5>& CodingKey::all() {
  static const std::array<CodingKey, 5> keys = {id, name, path, mdimportStr, mdlsStr};
  return keys;
}

std::optional<CodingKey> CodingKey::fromText(QStringView text) {
  for (const CodingKey& key : all()) {
    if (text == QLatin1String(kKeyTexts[key.position_])) return key;
  }
  return std::nullopt;
}

QString CodingKey::text() const { return QString::fromLatin1(kKeyTexts[position_]); }

QJsonObject encode(const FileDetail& detail) {
  QJsonObject object;
  object.insert(CodingKey::id.text(), detail.id.toString(QUuid::WithoutBraces));
  object.insert(CodingKey::name.text(), detail.name);
  object.insert(CodingKey::path.text(), detail.path);
  object.insert(CodingKey::mdimportStr.text(), detail.mdimportStr);
  object.insert(CodingKey::mdlsStr.text(), detail.mdlsStr);
  return object;
}

std::variant<FileDetail, DecodeFailure> decode(const QJsonObject& object) {
  QStringList values;
  for (const CodingKey& key : CodingKey::all()) {
    // QJsonObject lookups are exact, so a key differing only in case is absent.
    const auto it = object.constFind(key.text());
    if (it == object.constEnd()) return DecodeFailure{DecodeError::MissingKey, key};
    if (!it->isString()) return DecodeFailure{DecodeError::WrongType, key};
    values.append(it->toString());
  }
  const QUuid id = QUuid::fromString(values[0]);
  if (id.isNull() && values[0] != QUuid().toString(QUuid::WithoutBraces)) {
    return DecodeFailure{DecodeError::CorruptValue, CodingKey::id};
  }
  FileDetail detail(values[1], values[2], values[3], values[4]);
  detail.id = id;
  return detail;
}

QString copyText(const QList<FileDetail>& list, const QSet<QUuid>& selected) {
  QStringList texts;
  for (const FileDetail& detail : list) {
    if (selected.contains(detail.id)) texts.append(detail.exportText());
  }
  return texts.join(QLatin1Char('\n'));
}

}  // namespace findlark::inspect
