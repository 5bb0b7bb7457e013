#include "mdindex/store/item_rows.h"

#include <sqlite3.h>

#include <optional>
#include <variant>

namespace mdindex::storage {

void appendRows(int64_t nameId, const Value& value, std::vector<AttrRow>& rows) {
  if (auto* str = std::get_if<std::string>(&value)) {
    rows.push_back({nameId, 0, RowKind::String, str, nullptr});
  } else if (auto* list = std::get_if<std::vector<std::string>>(&value)) {
    if (list->empty()) rows.push_back({nameId, 0, RowKind::EmptyArray, nullptr, nullptr});
    for (size_t i = 0; i < list->size(); ++i)
      rows.push_back({nameId, int64_t(i), RowKind::ArrayElement, &(*list)[i], nullptr});
  } else if (auto* num = std::get_if<double>(&value)) {
    rows.push_back({nameId, 0, RowKind::Number, nullptr, num});
  } else if (auto* date = std::get_if<Date>(&value)) {
    rows.push_back({nameId, 0, RowKind::Date, nullptr, &date->seconds});
  }
}

void addRow(Attributes& attributes, const std::string& name, RowKind kind, sqlite3_stmt* q, int strCol, int numCol) {
  switch (kind) {
    case RowKind::String:
    case RowKind::TypeString:
      attributes[name] = columnText(q, strCol);
      break;
    case RowKind::ArrayElement: {
      Value& v = attributes[name];
      if (!std::holds_alternative<std::vector<std::string>>(v)) v = std::vector<std::string>{};
      std::get<std::vector<std::string>>(v).push_back(columnText(q, strCol));
      break;
    }
    case RowKind::Number:
      attributes[name] = sqlite3_column_double(q, numCol);
      break;
    case RowKind::Date:
      attributes[name] = Date{sqlite3_column_double(q, numCol)};
      break;
    case RowKind::EmptyArray:
      attributes[name] = std::vector<std::string>{};
      break;
  }
}

namespace {

// The type attributes `type_rows` keeps for `uti`, loaded once per
// connection; an empty set when the type has none there yet. Null on a
// read failure.
const Attributes* typeAttributes(Connection& c, const std::string& uti) {
  if (auto it = c.typeAttrs.find(uti); it != c.typeAttrs.end()) return &it->second;
  sqlite3_stmt* q = c.stmt("SELECT n.name, t.kind, t.str FROM type_rows t JOIN names n ON n.id = t.name "
                           "WHERE t.uti = ? ORDER BY t.name, t.idx");
  if (!q) return nullptr;
  sqlite3_bind_text(q, 1, uti.data(), int(uti.size()), SQLITE_STATIC);
  Attributes kept;
  int rc;
  while ((rc = sqlite3_step(q)) == SQLITE_ROW)
    addRow(kept, columnText(q, 0), static_cast<RowKind>(sqlite3_column_int(q, 1)), q, 2, 2);
  sqlite3_reset(q);
  if (rc != SQLITE_DONE) {
    c.noteFailure();
    return nullptr;
  }
  return &c.typeAttrs.emplace(uti, std::move(kept)).first->second;
}

}  // namespace

std::optional<bool> keptByType(Connection& c, const Attributes& attributes) {
  const auto type = attributes.find(attr::ContentType);
  if (type == attributes.end() || !std::holds_alternative<std::string>(type->second)) return false;
  const std::string& uti = std::get<std::string>(type->second);
  for (const char* name : kTypeAttributes)
    if (!attributes.count(name)) return false;
  const Attributes* kept = typeAttributes(c, uti);
  if (!kept) return std::nullopt;
  if (!kept->empty()) {
    for (const char* name : kTypeAttributes) {
      const auto it = kept->find(name);
      if (it == kept->end() || !(it->second == attributes.at(name))) return false;
    }
    return true;
  }
  Attributes own;
  for (const char* name : kTypeAttributes) own.emplace(name, attributes.at(name));

  std::vector<AttrRow> rows;
  for (const auto& [name, value] : own) {
    const int64_t nameId = c.nameId(name);
    if (!nameId) return std::nullopt;
    appendRows(nameId, value, rows);
  }
  for (const AttrRow& row : rows) {
    sqlite3_stmt* q = c.stmt("INSERT INTO type_rows(uti, name, idx, kind, str) VALUES(?, ?, ?, ?, ?)");
    if (!q) return std::nullopt;
    sqlite3_bind_text(q, 1, uti.data(), int(uti.size()), SQLITE_STATIC);
    sqlite3_bind_int64(q, 2, row.name);
    sqlite3_bind_int64(q, 3, row.idx);
    sqlite3_bind_int(q, 4, int(row.kind));
    if (row.str) sqlite3_bind_text(q, 5, row.str->data(), int(row.str->size()), SQLITE_STATIC);
    const bool ok = sqlite3_step(q) == SQLITE_DONE;
    if (!ok) c.noteFailure();
    sqlite3_reset(q);
    if (!ok) return std::nullopt;
  }
  c.typeAttrs[uti] = std::move(own);
  return true;
}

int derivedBits(const Attributes& attributes, const std::string& path) {
  int bits = 0;
  for (const Derivation& d : kDerivations) {
    const auto it = attributes.find(d.name);
    if (it == attributes.end()) continue;
    if (!d.source) {
      const auto* s = std::get_if<std::string>(&it->second);
      if (s && *s == path) bits |= d.bit;
      continue;
    }
    const auto source = attributes.find(d.source);
    if (source != attributes.end() && source->second == it->second) bits |= d.bit;
  }
  return bits;
}

bool readAttributes(Connection& c, int64_t id, Attributes& out) {
  sqlite3_stmt* item = c.stmt("SELECT derived, path FROM items WHERE id = ?");
  if (!item) return false;
  sqlite3_bind_int64(item, 1, id);
  const int found = sqlite3_step(item);
  const int derived = found == SQLITE_ROW ? sqlite3_column_int(item, 0) : 0;
  const std::string path = found == SQLITE_ROW ? columnText(item, 1) : std::string();
  sqlite3_reset(item);
  if (found != SQLITE_ROW && found != SQLITE_DONE) {
    c.noteFailure();
    return false;
  }
  sqlite3_stmt* a = c.stmt("SELECT n.name, a.kind, a.str, a.num FROM attrs a JOIN names n ON n.id = a.name "
                           "WHERE a.item = ? ORDER BY a.name, a.idx");
  if (!a) return false;
  sqlite3_bind_int64(a, 1, id);
  std::optional<std::string> uti;
  int rc;
  while ((rc = sqlite3_step(a)) == SQLITE_ROW) {
    const auto kind = static_cast<RowKind>(sqlite3_column_int(a, 1));
    const std::string name = columnText(a, 0);
    addRow(out, name, kind, a, 2, 3);
    if (kind == RowKind::TypeString) uti = columnText(a, 2);
  }
  sqlite3_reset(a);
  if (rc != SQLITE_DONE) {
    c.noteFailure();
    return false;
  }
  for (const Derivation& d : kDerivations) {
    if (!(derived & d.bit)) continue;
    if (!d.source) {
      out[d.name] = path;
    } else if (const auto source = out.find(d.source); source != out.end()) {
      out[d.name] = source->second;
    }
  }
  if (!uti) return true;
  const Attributes* kept = typeAttributes(c, *uti);
  if (!kept) return false;
  for (const auto& [name, value] : *kept) out[name] = value;
  return true;
}

std::string readText(Connection& c, int64_t id) {
  std::string text;
  sqlite3_stmt* t = c.stmt("SELECT body FROM texts WHERE id = ?");
  if (!t) return text;
  sqlite3_bind_int64(t, 1, id);
  if (sqlite3_step(t) == SQLITE_ROW) text = columnText(t, 0);
  sqlite3_reset(t);
  return text;
}

bool adoptTypeRows(Connection& c) {
  const int64_t typeName = c.nameId(attr::ContentType);
  if (!typeName) return false;
  std::vector<int64_t> names;
  for (const char* n : kTypeAttributes) {
    names.push_back(c.nameId(n));
    if (!names.back()) return false;
  }
  // The items with a content type row; each is read whole, as put() saw it.
  std::vector<int64_t> ids;
  sqlite3_stmt* q = c.stmt("SELECT item FROM attrs WHERE name = ? AND kind = ?");
  if (!q) return false;
  sqlite3_bind_int64(q, 1, typeName);
  sqlite3_bind_int(q, 2, int(RowKind::String));
  while (sqlite3_step(q) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(q, 0));
  sqlite3_reset(q);
  for (const int64_t id : ids) {
    Attributes a;
    if (!readAttributes(c, id, a)) return false;
    const auto kept = keptByType(c, a);
    if (!kept) return false;
    if (!*kept) continue;
    if (!c.run("UPDATE attrs SET kind = ? WHERE item = ? AND name = ?", {int64_t(RowKind::TypeString), id, typeName}))
      return false;
    for (const int64_t name : names)
      if (!c.run("DELETE FROM attrs WHERE item = ? AND name = ?", {id, name})) return false;
  }
  return true;
}

}  // namespace mdindex::storage
