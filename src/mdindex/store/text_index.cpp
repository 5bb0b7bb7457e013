#include "mdindex/store/text_index.h"

#include <sqlite3.h>
#include <unicode/uversion.h>
#include <utf8proc.h>

#include <cstdio>
#include <variant>
#include <vector>

#include "mdindex/core/digest.h"
#include "mdindex/core/fold.h"
#include "mdindex/store/item_rows.h"
#include "mdindex/store/schema.h"
#include "mdindex/store/text_match.h"

namespace mdindex::storage {

ItemRecord::TextIndex textIndexOf(const Attributes& attributes, const std::string& text) {
  ItemRecord::TextIndex t;
  const auto add = [&t](const std::string& s) {
    const std::string parts = textmatch::camelParts(s);
    t.meta += textmatch::indexedText(s);
    t.meta += '\n';
    if (!parts.empty()) {
      t.metaX += parts;
      t.metaX += '\n';
    }
  };
  for (const auto& [name, value] : attributes) {
    if (!searchedByWildcard(name)) continue;
    if (auto* s = std::get_if<std::string>(&value)) add(*s);
    if (auto* list = std::get_if<std::vector<std::string>>(&value))
      for (const auto& s : *list) add(s);
  }
  t.body = textmatch::indexedText(text);
  t.bodyX = textmatch::camelParts(text);
  return t;
}

std::string foldingFingerprint() {
  // A sample of what folding and word breaking decide: case, diacritics,
  // compatibility forms, scripts without spaces, joiners, digits and
  // punctuation, camel case. Any change to either shows in its columns.
  // The versions of the libraries that decide them (utf8proc's tables,
  // ICU's dictionaries) are part of it too: an upgrade may change words
  // outside the sample, and a contentless index must be given back exactly
  // the words it was given.
  static const std::string fingerprint = [] {
    Attributes a;
    a[attr::FSName] = std::string("MixedCaseName_v2.final-DRAFT.txt");
    a[attr::Title] = std::string("Crème Brûlée – ﬁnal ＦＵＬＬ draft, İstanbul ǅ ß");
    a[attr::Keywords] = std::vector<std::string>{"東京都の天気", "ภาษาไทย", "e-mail", "HTTPServer"};
    const ItemRecord::TextIndex t = textIndexOf(
        a, "Ünïcödé STRASSE straße résumé naïve café 3.14 1,000 foo_bar don't 한국어 مرحبا Ελληνικά "
           "👍🏽 x\u200Dy a\u00ADb iPhone XMLHttpRequest");
    Digest d;
    for (const std::string* part : {&t.meta, &t.body, &t.metaX, &t.bodyX}) d.add(*part);
    UVersionInfo icu;
    u_getVersion(icu);
    char icuVersion[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(icu, icuVersion);
    d.add(icuVersion);
    d.add(utf8proc_version());
    d.add(utf8proc_unicode_version());
    return d.hex() + " " + textmatch::ftsTokenizer();
  }();
  return fingerprint;
}

namespace {

bool writeTextRow(Connection& c, bool remove, int64_t id, const ItemRecord::TextIndex& t) {
  sqlite3_stmt* s = c.stmt(remove ? "INSERT INTO fts(fts, rowid, meta, body, meta_x, body_x) VALUES('delete', ?, ?, ?, ?, ?)"
                                   : "INSERT INTO fts(rowid, meta, body, meta_x, body_x) VALUES(?, ?, ?, ?, ?)");
  if (!s) return false;
  sqlite3_bind_int64(s, 1, id);
  int at = 2;
  for (const std::string* col : {&t.meta, &t.body, &t.metaX, &t.bodyX})
    sqlite3_bind_text(s, at++, col->data(), int(col->size()), SQLITE_STATIC);
  const bool ok = sqlite3_step(s) == SQLITE_DONE;
  if (!ok) c.noteFailure();
  sqlite3_reset(s);
  return ok;
}

}  // namespace

bool insertTextRow(Connection& c, int64_t id, const ItemRecord::TextIndex& columns) {
  return writeTextRow(c, false, id, columns);
}

bool removeTextRow(Connection& c, int64_t id) {
  Attributes a;
  if (!readAttributes(c, id, a)) return false;
  return writeTextRow(c, true, id, textIndexOf(a, readText(c, id)));
}

bool rebuildTextIndex(Connection& c) {
  if (!c.run("INSERT INTO fts(fts) VALUES('delete-all')", {})) return false;
  std::vector<int64_t> ids;
  sqlite3_stmt* q = c.stmt("SELECT id FROM items");
  if (!q) return false;
  while (sqlite3_step(q) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(q, 0));
  sqlite3_reset(q);
  for (const int64_t id : ids) {
    Attributes a;
    if (!readAttributes(c, id, a) || !insertTextRow(c, id, textIndexOf(a, readText(c, id)))) return false;
  }
  return c.run("INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)",
               {std::string(kFoldingKey), foldingFingerprint()});
}

}  // namespace mdindex::storage
