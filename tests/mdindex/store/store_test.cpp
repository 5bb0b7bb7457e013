// The store: round trips, exact tree operations, integrity after every kind
// of mutation, recovery from damaged and foreign files, readers beside a
// writer.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "../../support/scratch.h"
#include "../../support/tmpfs.h"
#include "mdindex/query/parse.h"
#include "mdindex/store/store.h"
#include "mdindex/store/text_match.h"

using namespace mdindex;
namespace fs = std::filesystem;

namespace {

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.dir();
    dir_ = root_ + "/index";
  }

  std::unique_ptr<Store> openRw() {
    std::string error;
    auto s = Store::open(dir_, Store::Mode::ReadWrite, &error);
    EXPECT_TRUE(s) << error;
    return s;
  }

  static ItemRecord item(const std::string& path, const std::string& text = "") {
    ItemRecord r;
    r.path = path;
    r.text = text;
    r.status = ImportStatus::Imported;
    r.attributes[attr::FSName] = path.substr(path.rfind('/') + 1);
    r.attributes[attr::Path] = path;
    return r;
  }

  static std::vector<std::string> find(Store& s, const std::string& q, std::vector<std::string> scopes = {}) {
    auto parsed = query::parseMdfindQuery(q);
    EXPECT_TRUE(std::holds_alternative<query::Node>(parsed)) << q;
    std::string error;
    auto found = s.search(std::get<query::Node>(parsed), scopes, &error);
    EXPECT_TRUE(found) << error;
    auto out = found.value_or(std::vector<std::string>{});
    std::sort(out.begin(), out.end());
    return out;
  }

  std::vector<std::string> asideFiles() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string n = e.path().filename();
      if (n.rfind("index.sqlite.", 0) == 0 && n.find("-wal") == std::string::npos) out.push_back(n);
    }
    return out;
  }

  // A store of another format (user_version 99) at dir_.
  void writeOtherFormat() const {
    fs::create_directories(dir_);
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(dir_ + "/index.sqlite" + suffix);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ + "/index.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE items(x); PRAGMA user_version = 99;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }

  // Runs `sql` on the store's database beside the Store.
  void rawExec(const std::string& sql) const {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ + "/index.sqlite").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  // One number from the store's database, read beside the Store.
  int64_t rawCount(const std::string& sql) const {
    sqlite3* db = nullptr;
    sqlite3_stmt* q = nullptr;
    int64_t n = -1;
    if (sqlite3_open((dir_ + "/index.sqlite").c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK && sqlite3_step(q) == SQLITE_ROW)
      n = sqlite3_column_int64(q, 0);
    EXPECT_GE(n, 0) << sql << ": " << sqlite3_errmsg(db);
    sqlite3_finalize(q);
    sqlite3_close(db);
    return n;
  }

  // Text-index rows that belong to no item, items without one, and rows
  // that still hold `word` although no item has it any more (a row removed
  // with other columns than it was added with leaves its old words).
  int64_t strayTextRows(const std::string& word) const {
    return rawCount("SELECT (SELECT count(*) FROM fts_docsize WHERE id NOT IN (SELECT id FROM items)) + "
                    "(SELECT count(*) FROM items WHERE id NOT IN (SELECT id FROM fts_docsize)) + "
                    "(SELECT count(*) FROM fts WHERE fts MATCH '\"" + word + "\"')");
  }

  // An item with the type attributes of `uti`, as the importers give them.
  static ItemRecord typed(const std::string& path, const std::string& uti, const std::string& kind,
                          const std::string& text = "") {
    ItemRecord r = item(path, text);
    r.attributes[attr::ContentType] = uti;
    r.attributes[attr::ContentTypeTree] = std::vector<std::string>{uti, "public.data", "public.item"};
    r.attributes[attr::Kind] = kind;
    return r;
  }

  Scratch scratch_{"store-test", "/var/tmp"};
  std::string root_, dir_;
};

using Paths = std::vector<std::string>;

TEST_F(StoreTest, KeepsEveryValueKindAndCreatesPrivateFiles) {
  auto s = openRw();
  ItemRecord r = item("/h/a.txt", "Grüße aus Köln");
  r.attributes[attr::Keywords] = std::vector<std::string>{"one", "Zwei"};
  r.attributes[attr::Authors] = std::vector<std::string>{};
  r.attributes[attr::PixelWidth] = 640.0;
  r.attributes[attr::ContentCreationDate] = Date{1706695200.5};
  r.attributes[attr::Title] = std::string("Café\nline two");
  r.importer = "text";
  r.size = 42;
  r.mtimeNs = 1234567890123;
  r.ctimeNs = 1234567890456;
  r.inode = 77;
  ASSERT_TRUE(s->put(r));

  auto back = s->get("/h/a.txt", true);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->attributes, r.attributes);
  EXPECT_EQ(back->text, r.text);
  EXPECT_EQ(back->importer, "text");
  EXPECT_EQ(back->status, ImportStatus::Imported);
  EXPECT_EQ(back->size, 42);
  EXPECT_EQ(back->mtimeNs, 1234567890123);
  EXPECT_EQ(back->ctimeNs, 1234567890456);
  const auto stamps = s->stampsUnder("/h");
  ASSERT_EQ(stamps.size(), 1u);
  EXPECT_EQ(stamps[0].mtimeNs, 1234567890123);
  EXPECT_EQ(stamps[0].ctimeNs, 1234567890456);
  EXPECT_EQ(back->inode, 77u);
  EXPECT_TRUE(s->get("/h/a.txt", false)->text.empty());

  // An item whose rows take several INSERTs keeps every row, in order.
  ItemRecord many = item("/h/many.txt", "");
  std::vector<std::string> words;
  for (int i = 0; i < 70; ++i) words.push_back("kw" + std::to_string(i));
  many.attributes[attr::Keywords] = words;
  many.attributes[attr::Title] = std::string("many");
  ASSERT_TRUE(s->put(many));
  EXPECT_EQ(s->get("/h/many.txt", false)->attributes, many.attributes);
  EXPECT_EQ(find(*s, "kMDItemKeywords == \"kw69\""), Paths{"/h/many.txt"});
  ASSERT_TRUE(s->removeTree("/h/many.txt"));

  struct stat st {};
  ASSERT_EQ(stat(dir_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(s->databasePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  EXPECT_EQ(s->status().items, 1);
  EXPECT_TRUE(s->status().lastUpdate);
  EXPECT_FALSE(s->meta("indexing"));
  ASSERT_TRUE(s->setMeta("indexing", "off"));
  EXPECT_EQ(s->meta("indexing"), "off");
  EXPECT_EQ(s->checkIntegrity(), "");
}

TEST_F(StoreTest, MutationsKeepTheIndexesConsistentAndTreesExact) {
  auto s = openRw();
  ASSERT_TRUE(s->begin());
  for (const char* p : {"/a/b", "/a/b/one.txt", "/a/b/sub/two.txt", "/a/bc", "/a/bc/three.txt", "/a/b.txt"})
    ASSERT_TRUE(s->put(item(p, std::string("word ") + p)));
  ASSERT_TRUE(s->commit());
  EXPECT_EQ(s->checkIntegrity(), "");

  // Replace: the old text and attributes are gone, the new ones found.
  ItemRecord replaced = item("/a/b/one.txt", "pelican");
  ASSERT_TRUE(s->put(replaced));
  EXPECT_EQ(s->checkIntegrity(), "");
  EXPECT_EQ(find(*s, "pelican"), Paths{"/a/b/one.txt"});
  EXPECT_EQ(find(*s, "word", {"/a/b"}), (Paths{"/a/b", "/a/b/sub/two.txt"}));
  EXPECT_EQ(s->stampsUnder("/a/b/").size(), 3u);

  // Rename a folder: its items move with it, its neighbour "/a/bc" stays.
  ASSERT_TRUE(s->moveTree("/a/b", "/a/renamed"));
  EXPECT_EQ(s->checkIntegrity(), "");
  EXPECT_FALSE(s->get("/a/b/one.txt"));
  auto moved = s->get("/a/renamed/sub/two.txt");
  ASSERT_TRUE(moved);
  EXPECT_EQ(std::get<std::string>(moved->attributes[attr::Path]), "/a/renamed/sub/two.txt");
  EXPECT_EQ(std::get<std::string>(s->get("/a/renamed")->attributes[attr::FSName]), "renamed");
  EXPECT_EQ(find(*s, "renamed"), Paths{"/a/renamed"});
  EXPECT_TRUE(find(*s, "kMDItemFSName == 'b'").empty());
  EXPECT_TRUE(s->get("/a/bc/three.txt"));
  EXPECT_TRUE(s->get("/a/b.txt"));
  EXPECT_FALSE(s->moveTree("/a/renamed", "/a/renamed/inside"));

  // Byte-exact with non-ASCII names on either side.
  ASSERT_TRUE(s->put(item("/ä/Grüße/née.txt", "accented")));
  ASSERT_TRUE(s->moveTree("/ä/Grüße", "/ä/Füße ünd"));
  EXPECT_EQ(find(*s, "accented"), Paths{"/ä/Füße ünd/née.txt"});
  EXPECT_EQ(std::get<std::string>(s->get("/ä/Füße ünd/née.txt")->attributes[attr::Path]), "/ä/Füße ünd/née.txt");
  ASSERT_TRUE(s->removeTree("/ä"));

  // Delete a tree: exact on the prefix.
  ASSERT_TRUE(s->removeTree("/a/renamed"));
  EXPECT_EQ(s->checkIntegrity(), "");
  EXPECT_EQ(find(*s, "word"), (Paths{"/a/b.txt", "/a/bc", "/a/bc/three.txt"}));
  EXPECT_TRUE(find(*s, "pelican").empty());

  ASSERT_TRUE(s->begin());
  ASSERT_TRUE(s->put(item("/a/rolled.txt", "word")));
  s->rollback();
  EXPECT_FALSE(s->get("/a/rolled.txt"));

  EXPECT_EQ(strayTextRows("pelican"), 0);
  EXPECT_EQ(strayTextRows("renamed"), 0);

  ASSERT_TRUE(s->clear());
  EXPECT_EQ(s->status().items, 0);
  EXPECT_TRUE(s->status().lastUpdate);  // a removal is a write too
  EXPECT_EQ(s->checkIntegrity(), "");
  EXPECT_EQ(strayTextRows("word"), 0);
}

// The type attributes are kept once per content type, yet every item reads
// back and is found exactly as put; an item whose type attributes differ
// from its type's keeps its own, and a rolled-back batch takes back the
// type it introduced.
TEST_F(StoreTest, TypeAttributesAreKeptOncePerTypeAndFoundAsPut) {
  auto s = openRw();
  ItemRecord odd = typed("/t/odd.pdf", "com.adobe.pdf", "Odd document");
  odd.attributes[attr::ContentTypeTree] = std::vector<std::string>{"com.adobe.pdf"};
  ItemRecord untyped = item("/t/untyped");
  untyped.attributes[attr::Kind] = std::string("PDF lookalike");
  ASSERT_TRUE(s->begin());
  ASSERT_TRUE(s->put(typed("/t/gone.pdf", "com.adobe.pdf", "Rolled back")));
  s->rollback();
  const std::vector<ItemRecord> records = {typed("/t/a.pdf", "com.adobe.pdf", "PDF document"),
                                           typed("/t/b.pdf", "com.adobe.pdf", "PDF document", "words"),
                                           odd,
                                           typed("/t/note.txt", "public.plain-text", "Plain Text Document"),
                                           untyped};
  for (const auto& r : records) ASSERT_TRUE(s->put(r));
  for (const auto& r : records) EXPECT_EQ(s->get(r.path)->attributes, r.attributes) << r.path;
  // Only the odd item has rows of its own for its tree.
  EXPECT_EQ(rawCount("SELECT count(DISTINCT item) FROM attrs WHERE name = "
                     "(SELECT id FROM names WHERE name = 'kMDItemContentTypeTree')"),
            1);

  EXPECT_EQ(find(*s, "kMDItemContentTypeTree == 'public.data'"), (Paths{"/t/a.pdf", "/t/b.pdf", "/t/note.txt"}));
  EXPECT_EQ(find(*s, "kMDItemContentTypeTree == 'com.adobe.pdf'"), (Paths{"/t/a.pdf", "/t/b.pdf", "/t/odd.pdf"}));
  EXPECT_EQ(find(*s, "kMDItemKind == 'PDF*'"), (Paths{"/t/a.pdf", "/t/b.pdf", "/t/untyped"}));
  EXPECT_EQ(find(*s, "kMDItemKind == '*document'c"), (Paths{"/t/a.pdf", "/t/b.pdf", "/t/note.txt", "/t/odd.pdf"}));
  EXPECT_EQ(find(*s, "kMDItemKind != 'PDF document'"), (Paths{"/t/note.txt", "/t/odd.pdf", "/t/untyped"}));
  EXPECT_EQ(find(*s, "kMDItemContentType == 'com.adobe.pdf'"), (Paths{"/t/a.pdf", "/t/b.pdf", "/t/odd.pdf"}));
  EXPECT_EQ(find(*s, "kMDItemContentTypeTree == 'public.data' && kMDItemTextContent == 'words'"), Paths{"/t/b.pdf"});
  EXPECT_TRUE(find(*s, "* == 'PDF document'").empty());
  EXPECT_TRUE(find(*s, "** == 'public.data'").empty());

  // Replaced and moved items keep their type's rows.
  ASSERT_TRUE(s->put(typed("/t/a.pdf", "com.adobe.pdf", "PDF document", "later")));
  ASSERT_TRUE(s->moveTree("/t/b.pdf", "/t/c.pdf"));
  EXPECT_EQ(find(*s, "kMDItemKind == 'PDF document'"), (Paths{"/t/a.pdf", "/t/c.pdf"}));
  EXPECT_EQ(s->get("/t/c.pdf")->attributes[attr::ContentTypeTree],
            records[1].attributes.at(attr::ContentTypeTree));
  EXPECT_EQ(s->checkIntegrity(), "");
}

// A store whose text index another folding built (here: emptied, and its
// folding recorded as something else) has it rebuilt when a writer opens
// it, so rows are always removed with the columns they were added with.
TEST_F(StoreTest, ATextIndexBuiltByAnotherFoldingIsRebuilt) {
  {
    auto s = openRw();
    ASSERT_TRUE(s->put(item("/f/one.txt", "pelican feathers")));
    ASSERT_TRUE(s->put(item("/f/two.txt", "pelican beak")));
  }
  rawExec("INSERT INTO fts(fts) VALUES('delete-all');"
          "UPDATE settings SET value = 'another folding' WHERE key = 'text_index_folding'");
  {
    std::string error;
    auto reader = Store::open(dir_, Store::Mode::ReadOnly, &error);
    ASSERT_TRUE(reader) << error;
    EXPECT_TRUE(find(*reader, "pelican").empty());  // readers never rebuild
  }
  auto s = openRw();
  EXPECT_EQ(find(*s, "pelican"), (Paths{"/f/one.txt", "/f/two.txt"}));
  ASSERT_TRUE(s->removeTree("/f/one.txt"));
  EXPECT_EQ(find(*s, "feathers"), Paths{});
  EXPECT_EQ(strayTextRows("feathers"), 0);
  EXPECT_EQ(s->checkIntegrity(), "");
}

// A put refused part way (here by a trigger the test adds, after the item
// row and its attributes are written) leaves no half item: in a batch the
// item is then absent and the rest of the batch commits; alone, the
// previous version stays.
TEST_F(StoreTest, AWriteThatFailsPartWayLeavesNoHalfItem) {
  auto s = openRw();
  ASSERT_TRUE(s->put(item("/p/kept.txt", "original")));
  ASSERT_TRUE(s->put(item("/p/replaced.txt", "original")));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ + "/index.sqlite").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TRIGGER refuse BEFORE INSERT ON texts WHEN new.body = 'poison' "
                         "BEGIN SELECT RAISE(ABORT, 'refused'); END;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);

  EXPECT_FALSE(s->put(item("/p/kept.txt", "poison")));
  EXPECT_EQ(find(*s, "original"), (Paths{"/p/kept.txt", "/p/replaced.txt"}));

  ASSERT_TRUE(s->begin());
  EXPECT_TRUE(s->put(item("/p/before.txt", "fine")));
  EXPECT_FALSE(s->put(item("/p/replaced.txt", "poison")));
  EXPECT_FALSE(s->put(item("/p/new.txt", "poison")));
  EXPECT_TRUE(s->put(item("/p/after.txt", "fine")));
  EXPECT_EQ(s->writeTrouble(), WriteTrouble::Other);
  ASSERT_TRUE(s->commit());

  EXPECT_EQ(find(*s, "fine"), (Paths{"/p/after.txt", "/p/before.txt"}));
  EXPECT_FALSE(s->get("/p/replaced.txt"));
  EXPECT_FALSE(s->get("/p/new.txt"));
  EXPECT_TRUE(find(*s, "kMDItemFSName == 'new.txt'").empty());
  sqlite3_stmt* q = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "SELECT (SELECT count(*) FROM attrs WHERE item NOT IN (SELECT id FROM items)) + "
                               "(SELECT count(*) FROM fts_docsize WHERE id NOT IN (SELECT id FROM items))",
                               -1, &q, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(q, 0), 0) << "rows of half-written items remain";
  sqlite3_finalize(q);
  sqlite3_close(db);
  EXPECT_EQ(s->checkIntegrity(), "");
}

// The path, the display name and the content dates, where they repeat the
// item's path or another attribute, are kept as bits of the item row; they
// read back, are found and move exactly as rows of their own would, and an
// item whose values differ keeps its rows.
TEST_F(StoreTest, DerivedAttributesReadBackAndAreFoundAsPut) {
  auto s = openRw();
  const Date made{1706695200.5}, changed{1706781600.25};
  auto dated = [&](const std::string& path, const std::string& display, Date created) {
    ItemRecord r = item(path, "some words");
    r.attributes[attr::DisplayName] = display;
    r.attributes[attr::FSCreationDate] = made;
    r.attributes[attr::FSContentChangeDate] = changed;
    r.attributes[attr::ContentCreationDate] = created;
    r.attributes[attr::ContentModificationDate] = changed;
    return r;
  };
  ItemRecord elsewhere = dated("/d/elsewhere.txt", "elsewhere.txt", made);
  elsewhere.attributes[attr::Path] = std::string("/d/other/elsewhere.txt");
  ItemRecord listed = dated("/d/listed.txt", "listed.txt", made);
  listed.attributes[attr::DisplayName] = std::vector<std::string>{"listed.txt"};
  listed.attributes[attr::FSName] = std::vector<std::string>{"listed.txt"};
  const std::vector<ItemRecord> records = {dated("/d/same.txt", "same.txt", made),
                                           dated("/d/shown.txt", "Shown Name", made),
                                           dated("/d/older.txt", "older.txt", Date{1600000000.0}),
                                           elsewhere, listed, item("/d/plain.txt")};
  for (const auto& r : records) ASSERT_TRUE(s->put(r));
  for (const auto& r : records) EXPECT_EQ(s->get(r.path)->attributes, r.attributes) << r.path;
  // Only what differs from its source is kept as rows.
  EXPECT_EQ(rawCount("SELECT count(*) FROM attrs a JOIN names n ON n.id = a.name WHERE n.name IN "
                     "('kMDItemPath', 'kMDItemDisplayName', 'kMDItemContentCreationDate', "
                     "'kMDItemContentModificationDate')"),
            3);

  EXPECT_EQ(find(*s, "kMDItemPath == '/d/s*'"), (Paths{"/d/same.txt", "/d/shown.txt"}));
  EXPECT_EQ(find(*s, "kMDItemPath == '*/other/*'"), Paths{"/d/elsewhere.txt"});
  EXPECT_EQ(find(*s, "kMDItemDisplayName == 's*'c"), (Paths{"/d/same.txt", "/d/shown.txt"}));
  EXPECT_EQ(find(*s, "kMDItemDisplayName == 'listed.txt'"), Paths{"/d/listed.txt"});
  EXPECT_EQ(find(*s, "kMDItemDisplayName != 'same.txt'").size(), 4u);  // (the plain item has none)
  EXPECT_EQ(find(*s, "kMDItemContentCreationDate < $time.iso(2021-01-01)"), Paths{"/d/older.txt"});
  EXPECT_EQ(find(*s, "kMDItemContentCreationDate == $time.iso(2024-01-31T10:00:00.5Z)").size(), 4u);
  EXPECT_EQ(find(*s, "kMDItemContentModificationDate > $time.iso(2024-02-01)").size(), 5u);
  EXPECT_EQ(find(*s, "* == 'shown name'c"), Paths{"/d/shown.txt"});

  // A moved item's path and names follow it; its content dates stay.
  ASSERT_TRUE(s->moveTree("/d/same.txt", "/e/moved.txt"));
  const auto moved = s->get("/e/moved.txt");
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->attributes.at(attr::Path), Value(std::string("/e/moved.txt")));
  EXPECT_EQ(moved->attributes.at(attr::DisplayName), Value(std::string("moved.txt")));
  EXPECT_EQ(moved->attributes.at(attr::ContentCreationDate), Value(made));
  EXPECT_EQ(find(*s, "kMDItemDisplayName == 'moved.txt' && kMDItemPath == '/e/*'"), Paths{"/e/moved.txt"});
  EXPECT_EQ(strayTextRows("same"), 0);
  EXPECT_EQ(s->checkIntegrity(), "");
}

// Stores of the four earlier formats (every derived attribute as rows of
// its own; before that, type attributes in every item and a text index
// holding its own copy; before that, attribute names in every row; before
// that, no recognition backlog either) are brought up to date in place:
// nothing set aside, every item and value kept, searches by name, type,
// number and text as before, and pictures waiting for recognition as a
// fresh crawl would leave them.
TEST_F(StoreTest, StoresOfEarlierFormatsAreMigratedInPlace) {
  // Format 6 back to format 5: the derived attributes as rows.
  const std::string toFormat5 = R"sql(
INSERT INTO attrs(item, name, idx, kind, str, num) SELECT * FROM derived_path UNION ALL SELECT * FROM
  derived_display_name UNION ALL SELECT * FROM derived_content_creation UNION ALL SELECT * FROM derived_content_modification;
DROP VIEW derived_path; DROP VIEW derived_display_name; DROP VIEW derived_content_creation;
DROP VIEW derived_content_modification; ALTER TABLE items DROP COLUMN derived;
PRAGMA user_version = 5;
)sql";
  // Format 5 back to format 4: every item's type rows of its own, and a text
  // index with content (here empty: the migration builds it from the items).
  const std::string toFormat4 = toFormat5 + R"sql(
DROP TRIGGER items_deleted; DROP VIEW type_attrs; DROP TABLE counts; DROP INDEX items_failed;
INSERT INTO attrs(item, name, idx, kind, str)
  SELECT c.item, t.name, t.idx, t.kind, t.str FROM type_rows t JOIN attrs c ON c.str = t.uti AND c.kind = 5;
UPDATE attrs SET kind = 0 WHERE kind = 5;
DROP TABLE type_rows;
DROP INDEX attrs_by_string; CREATE INDEX attrs_by_string ON attrs(name, str) WHERE str IS NOT NULL;
DELETE FROM settings WHERE key = 'text_index_folding';
DROP TABLE fts;
CREATE VIRTUAL TABLE fts USING fts5(meta, body, meta_x, body_x, detail = column, prefix = '2 3');
INSERT INTO fts(rowid, meta, body, meta_x, body_x) SELECT id, '', '', '', '' FROM items;
CREATE TRIGGER items_deleted AFTER DELETE ON items BEGIN
  DELETE FROM attrs WHERE item = old.id; DELETE FROM texts WHERE id = old.id; DELETE FROM fts WHERE rowid = old.id;
END;
PRAGMA user_version = 4;
)sql";
  // Format 4 back to format 3: names as text in attrs and its indexes.
  const std::string toFormat3 = toFormat4 + R"sql(
DROP TRIGGER items_deleted;
CREATE TABLE attrs3(item INTEGER NOT NULL, name TEXT NOT NULL, idx INTEGER NOT NULL, kind INTEGER NOT NULL,
  str TEXT, num REAL, PRIMARY KEY(item, name, idx)) WITHOUT ROWID;
INSERT INTO attrs3 SELECT a.item, n.name, a.idx, a.kind, a.str, a.num FROM attrs a JOIN names n ON n.id = a.name;
DROP TABLE attrs; DROP TABLE names;
ALTER TABLE attrs3 RENAME TO attrs;
CREATE INDEX attrs_by_string ON attrs(name, str) WHERE str IS NOT NULL;
CREATE INDEX attrs_by_number ON attrs(name, num) WHERE num IS NOT NULL;
CREATE TRIGGER items_deleted AFTER DELETE ON items BEGIN
  DELETE FROM attrs WHERE item = old.id; DELETE FROM texts WHERE id = old.id; DELETE FROM fts WHERE rowid = old.id;
END;
PRAGMA user_version = 3;
)sql";
  const std::string toFormat2 = toFormat3 +
                                "DROP INDEX items_awaiting_recognition; ALTER TABLE items DROP COLUMN recognition;"
                                "PRAGMA user_version = 2;";
  for (int format : {5, 4, 3, 2}) {
    SCOPED_TRACE(format);
    fs::remove_all(dir_);
    ItemRecord picture = typed("/p/sign.png", "public.png", "PNG image");
    picture.importer = "Image.mdimporter";
    picture.attributes[attr::PixelWidth] = 640.0;
    picture.attributes[attr::Keywords] = std::vector<std::string>{"road", "Sign"};
    picture.attributes[attr::Authors] = std::vector<std::string>{};
    picture.attributes[attr::ContentCreationDate] = Date{1706695200.5};
    picture.attributes[attr::FSCreationDate] = Date{1706695200.5};
    picture.attributes[attr::DisplayName] = std::string("Sign");
    ItemRecord scan = typed("/p/scan.pdf", "com.adobe.pdf", "PDF document");
    scan.importer = "PDF.mdimporter";
    ItemRecord paper = typed("/p/paper.pdf", "com.adobe.pdf", "PDF document", "printed words");
    paper.importer = "PDF.mdimporter";
    const std::vector<ItemRecord> records = {picture, scan, paper, item("/p/note.txt", "plain words")};
    {
      auto s = openRw();
      for (const auto& r : records) ASSERT_TRUE(s->put(r));
    }
    rawExec(format == 5 ? toFormat5 : format == 4 ? toFormat4 : format == 3 ? toFormat3 : toFormat2);
    if (format >= 4) {
      ASSERT_EQ(rawCount("SELECT count(*) FROM attrs WHERE name = (SELECT id FROM names WHERE name = 'kMDItemPath')"),
                4);
    }

    auto s = openRw();
    EXPECT_TRUE(asideFiles().empty());
    EXPECT_EQ(s->status().items, 4);
    for (const auto& r : records) {
      SCOPED_TRACE(r.path);
      const auto back = s->get(r.path, true);
      ASSERT_TRUE(back);
      EXPECT_EQ(back->attributes, r.attributes);
      EXPECT_EQ(back->text, r.text);
    }
    EXPECT_EQ(find(*s, "words"), (Paths{"/p/note.txt", "/p/paper.pdf"}));
    EXPECT_EQ(find(*s, "kMDItemPixelWidth > 600"), (Paths{"/p/sign.png"}));
    EXPECT_EQ(find(*s, "kMDItemKeywords == \"sign\"c"), (Paths{"/p/sign.png"}));
    EXPECT_EQ(find(*s, "kMDItemFSName == \"*.pdf\""), (Paths{"/p/paper.pdf", "/p/scan.pdf"}));
    EXPECT_EQ(find(*s, "kMDItemKind == \"PDF*\""), (Paths{"/p/paper.pdf", "/p/scan.pdf"}));
    EXPECT_EQ(find(*s, "kMDItemContentTypeTree == \"public.data\""),
              (Paths{"/p/paper.pdf", "/p/scan.pdf", "/p/sign.png"}));
    EXPECT_EQ(rawCount("SELECT count(*) FROM attrs WHERE kind = 5"), 3);
    EXPECT_EQ(find(*s, "kMDItemPath == '/p/s*' && kMDItemContentCreationDate > $time.iso(2024-01-01)"),
              Paths{"/p/sign.png"});
    EXPECT_EQ(find(*s, "kMDItemDisplayName == 'Sign'"), Paths{"/p/sign.png"});
    // The path and the content date are derived; the display name differs.
    EXPECT_EQ(rawCount("SELECT count(*) FROM attrs a JOIN names n ON n.id = a.name WHERE n.name IN "
                       "('kMDItemPath', 'kMDItemContentCreationDate', 'kMDItemDisplayName')"),
              1);
    std::vector<std::string> waiting;
    for (const auto& p : s->awaitingRecognition(0, 10)) waiting.push_back(p.path);
    std::sort(waiting.begin(), waiting.end());
    // (Format 3 kept the backlog of its own: these items were never on it.)
    EXPECT_EQ(waiting, (format == 2 ? Paths{"/p/scan.pdf", "/p/sign.png"} : Paths{}));
    // Writes after the migration: a new attribute name, a removal, a move.
    ItemRecord later = item("/p/later.txt", "later words");
    later.attributes[attr::Title] = std::string("Later");
    EXPECT_TRUE(s->put(later));
    EXPECT_TRUE(s->removeTree("/p/scan.pdf"));
    EXPECT_TRUE(s->moveTree("/p/note.txt", "/p/moved.txt"));
    EXPECT_EQ(find(*s, "words"), (Paths{"/p/later.txt", "/p/moved.txt", "/p/paper.pdf"}));
    EXPECT_EQ(find(*s, "kMDItemTitle == \"Later\""), (Paths{"/p/later.txt"}));
    EXPECT_EQ(find(*s, "kMDItemFSName == \"moved.txt\""), (Paths{"/p/moved.txt"}));
    EXPECT_EQ(strayTextRows("note") + strayTextRows("scan"), 0);
    EXPECT_EQ(s->checkIntegrity(), "");
    s.reset();
    EXPECT_TRUE(openRw());  // once migrated, it opens as it is
    EXPECT_TRUE(asideFiles().empty());
  }
}

// A write that is rolled back takes back the attribute names it added; the
// numbers SQLite then hands out again must not be taken for those names.
TEST_F(StoreTest, NamesAddedInARolledBackBatchAreNotReused) {
  auto s = openRw();
  ASSERT_TRUE(s->begin());
  ItemRecord first = item("/r/first.txt");
  first.attributes["kMDItemFirstNewName"] = std::string("one");
  ASSERT_TRUE(s->put(first));
  s->rollback();
  ASSERT_TRUE(s->begin());
  ItemRecord second = item("/r/second.txt");
  second.attributes["kMDItemSecondNewName"] = std::string("two");
  ASSERT_TRUE(s->put(second));
  ASSERT_TRUE(s->put(first));
  ASSERT_TRUE(s->commit());
  for (const auto& r : {first, second}) {
    const auto back = s->get(r.path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->attributes, r.attributes);
  }
  EXPECT_EQ(find(*s, "kMDItemFirstNewName == \"one\""), (Paths{"/r/first.txt"}));
  EXPECT_EQ(find(*s, "kMDItemSecondNewName == \"two\""), (Paths{"/r/second.txt"}));
}

TEST_F(StoreTest, EveryWordOfATextIsFoundThroughTheTextIndex) {
  // What the matcher calls a word start must survive the narrowing by the
  // text index, in every script and between symbols the index's own
  // tables would keep inside a token.
  const std::vector<std::string> texts = {
      "Grüße aus Köln", "e\xCC\x81t\xC3\xA9 de\xCC\x81ja\xCC\x80", "Καλημέρα κόσμε Привет мир שָׁלוֹם",
      "नमस्ते দুনিয়া สวัสดี", "東京都の天気 안녕하세요", "v1.2.3 x² ٣٤٥ ５６", "foo_bar-baz/qux.txt a’b",
      "ＡＢＣ ﬁle straße", "x🏽y 👍🏽done a\xEE\x80\x80" "b", "fooBarBaz"};
  auto s = openRw();
  for (size_t i = 0; i < texts.size(); ++i) {
    ItemRecord r = item("/w/t" + std::to_string(i), texts[i]);
    r.attributes[attr::Title] = texts[i];
    ASSERT_TRUE(s->put(r));
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string want = "/w/t" + std::to_string(i);
    for (const auto& w : textmatch::splitWords(texts[i])) {
      const std::string word = texts[i].substr(w.offset, w.length);
      for (const std::string& q : {"kMDItemTextContent == \"" + word + "*\"cdw", "** == \"" + word + "*\"cdw",
                                  "kMDItemTitle == \"*" + word + "*\"cd", "kMDItemTitle == \"" + word + "*\"cdw"}) {
        const auto found = find(*s, q);
        EXPECT_NE(std::find(found.begin(), found.end(), want), found.end()) << q;
      }
    }
  }
  EXPECT_EQ(s->checkIntegrity(), "");
}

// Where a script puts no spaces, a word inside a sentence is found by
// itself, by every route and whatever the dictionary makes of the query on
// its own; a letter inside a word is not a word start. Decomposed names,
// texts and attributes meet their composed forms.
TEST_F(StoreTest, WordsOfUnspacedScriptsAndDecomposedFormsAreFound) {
  auto s = openRw();
  ASSERT_TRUE(s->put(item("/u/zh.txt", "我们在图书馆里找到了蝴蝶标本然后回家了。")));
  ASSERT_TRUE(s->put(item("/u/ja.txt", "きのうは図書館で万華鏡を買いました。")));
  ASSERT_TRUE(s->put(item("/u/th.txt", "ภาษาไทยง่ายนิดเดียว")));
  ItemRecord nfd = item("/u/he\xCC\x81lico\xC3\xAF" "de.txt", "une he\xCC\x81lice");
  nfd.attributes[attr::Title] = std::string("cre\xCC\x80me bru\xCC\x82le\xCC\x81" "e");
  ASSERT_TRUE(s->put(nfd));
  for (const auto& [word, path] : std::vector<std::pair<std::string, std::string>>{
           {"蝴蝶", "/u/zh.txt"}, {"图书馆", "/u/zh.txt"}, {"标本", "/u/zh.txt"},
           {"万華鏡", "/u/ja.txt"}, {"図書館で", "/u/ja.txt"}, {"ไทย", "/u/th.txt"}, {"ง่าย", "/u/th.txt"}}) {
    for (const std::string& q : {word, "** == \"" + word + "*\"cdw", "kMDItemTextContent == \"" + word + "\"cd"})
      EXPECT_EQ(find(*s, q), Paths{path}) << q;
    // The query route's predicate, as the app and the index check ask it.
    auto predicate = query::parsePredicate("kMDItemTextContent CONTAINS[cdw] \"" + word + "\"");
    ASSERT_TRUE(std::holds_alternative<query::Node>(predicate)) << word;
    const auto found = s->search(std::get<query::Node>(predicate), {}, nullptr);
    EXPECT_EQ(found.value_or(Paths{}), Paths{path}) << word;
  }
  for (const char* inside : {"蝶", "華鏡", "書館"}) EXPECT_EQ(find(*s, inside), Paths{}) << inside;
  const std::string nfdPath = "/u/he\xCC\x81lico\xC3\xAF" "de.txt";
  for (const std::string& q : {std::string("h\xC3\xA9licoi\xCC\x88" "de"), std::string("kMDItemFSName == \"h\xC3\xA9lico\xC3\xAF" "de.txt\""),
                               std::string("kMDItemFSName == \"H\xC3\xA9LICO\xC3\x8F" "DE.TXT\"c"), std::string("h\xC3\xA9lice"),
                               std::string("kMDItemTextContent == \"h\xC3\xA9lice\""), std::string("kMDItemTitle == \"cr\xC3\xA8me*\""),
                               std::string("br\xC3\xBBl\xC3\xA9" "e"), std::string("bru\xCC\x82le\xCC\x81" "e")})
    EXPECT_EQ(find(*s, q), Paths{nfdPath}) << q;
  EXPECT_EQ(s->checkIntegrity(), "");
}

TEST_F(StoreTest, QueriesOfThousandsOfWordsAnswer) {
  auto s = openRw();
  std::string text, any;
  for (int i = 0; i < 1500; ++i) {
    text += "w" + std::to_string(i) + " ";
    any += (i ? " || " : "") + std::string("kMDItemFSName == \"n") + std::to_string(i) + "\"";
  }
  ASSERT_TRUE(s->put(item("/q/many.txt", text)));
  ASSERT_TRUE(s->put(item("/q/n1499", "")));
  EXPECT_EQ(find(*s, text), Paths{"/q/many.txt"});
  EXPECT_EQ(find(*s, text + "absent"), Paths{});
  EXPECT_EQ(find(*s, any), Paths{"/q/n1499"});
}

TEST_F(StoreTest, DamagedFileIsMovedAsideAndRebuilt) {
  fs::create_directories(dir_);
  {
    std::ofstream f(dir_ + "/index.sqlite", std::ios::binary);
    f << std::string(8192, '\x5a');
  }
  std::string error;
  EXPECT_FALSE(Store::open(dir_, Store::Mode::ReadOnly, &error));
  EXPECT_FALSE(error.empty());

  auto s = openRw();
  ASSERT_TRUE(s);
  EXPECT_EQ(asideFiles().size(), 1u);
  ASSERT_TRUE(s->put(item("/x/new.txt", "fresh")));
  EXPECT_EQ(find(*s, "fresh"), Paths{"/x/new.txt"});
  EXPECT_EQ(s->checkIntegrity(), "");
}

TEST_F(StoreTest, OtherVersionIsMovedAsideAndRebuilt) {
  writeOtherFormat();

  std::string error;
  EXPECT_FALSE(Store::open(dir_, Store::Mode::ReadOnly, &error));
  EXPECT_NE(error.find("format 99"), std::string::npos) << error;
  auto s = openRw();
  ASSERT_TRUE(s);
  EXPECT_EQ(asideFiles().size(), 1u);
  EXPECT_EQ(s->status().items, 0);
  // The rebuilt store opens read-only now.
  EXPECT_TRUE(Store::open(dir_, Store::Mode::ReadOnly, &error)) << error;
}

TEST_F(StoreTest, ReadersWorkBesideAnOpenWriteBatch) {
  auto writer = openRw();
  ASSERT_TRUE(writer->put(item("/r/old.txt", "visible")));
  std::string error;
  auto reader = Store::open(dir_, Store::Mode::ReadOnly, &error);
  ASSERT_TRUE(reader) << error;

  ASSERT_TRUE(writer->begin());
  ASSERT_TRUE(writer->put(item("/r/new.txt", "visible")));
  ASSERT_TRUE(writer->removeTree("/r/old.txt"));
  // Mid-batch the reader sees the last committed state, without waiting.
  EXPECT_EQ(find(*reader, "visible"), Paths{"/r/old.txt"});
  ASSERT_TRUE(writer->commit());
  EXPECT_EQ(find(*reader, "visible"), Paths{"/r/new.txt"});

  // A second writer can write once the first one has committed.
  auto writer2 = openRw();
  ASSERT_TRUE(writer2->put(item("/r/third.txt", "visible")));
  EXPECT_EQ(find(*reader, "visible"), (Paths{"/r/new.txt", "/r/third.txt"}));
  EXPECT_EQ(reader->checkIntegrity(), "");
}

TEST_F(StoreTest, ACorruptStoreIsSetAsideAndOnlyTheNewestCopyIsKept) {
  {
    auto s = openRw();
    ASSERT_TRUE(s->put(item("/c/one.txt", "one")));
  }
  // Garbage over the schema page: SQLite reports the file as corrupt.
  const std::string db = dir_ + "/index.sqlite";
  {
    std::fstream f(db, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100);
    f << std::string(3000, '\x7f');
  }
  auto s = openRw();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->status().items, 0);
  auto first = Store::setAsideCopy(dir_);
  ASSERT_TRUE(first);
  EXPECT_NE(first->find("index.sqlite.damaged-"), std::string::npos) << *first;
  s.reset();

  writeOtherFormat();
  ASSERT_TRUE(openRw());
  EXPECT_EQ(asideFiles().size(), 1u) << "older set-aside copies are removed";
  auto second = Store::setAsideCopy(dir_);
  ASSERT_TRUE(second);
  EXPECT_NE(second->find("index.sqlite.old-"), std::string::npos) << *second;
  EXPECT_FALSE(fs::exists(*first));
}

TEST_F(StoreTest, ConcurrentOpenersSetAnOldStoreAsideOnceAndShareTheNewOne) {
  constexpr int kOpeners = 6;
  for (int round = 0; round < 8; ++round) {
    fs::remove_all(dir_);
    writeOtherFormat();
    std::vector<std::unique_ptr<Store>> stores(kOpeners);
    std::vector<std::string> errors(kOpeners);
    std::atomic<int> waiting{kOpeners};
    std::vector<std::thread> threads;
    for (int i = 0; i < kOpeners; ++i)
      threads.emplace_back([&, i] {
        waiting.fetch_sub(1);
        while (waiting.load() > 0) std::this_thread::yield();  // start together
        stores[i] = Store::open(dir_, Store::Mode::ReadWrite, &errors[i]);
        if (stores[i]) stores[i]->put(item("/t/" + std::to_string(i), "shared"));
      });
    for (auto& t : threads) t.join();
    for (int i = 0; i < kOpeners; ++i) ASSERT_TRUE(stores[i]) << "round " << round << ": " << errors[i];
    EXPECT_EQ(asideFiles().size(), 1u) << "round " << round;
    // Every opener wrote into the one store that is now at the path.
    auto reader = Store::open(dir_, Store::Mode::ReadOnly);
    ASSERT_TRUE(reader);
    EXPECT_EQ(find(*reader, "shared").size(), size_t(kOpeners)) << "round " << round;
  }
}

TEST_F(StoreTest, ALockedStoreIsReportedAndKept) {
  {
    auto s = openRw();
    ASSERT_TRUE(s->put(item("/l/kept.txt", "kept")));
  }
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ + "/index.sqlite").c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::string error;
  EXPECT_FALSE(Store::open(dir_, Store::Mode::ReadWrite, &error));
  EXPECT_NE(error.find("locked"), std::string::npos) << error;
  sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_TRUE(asideFiles().empty());
  auto s = openRw();
  ASSERT_TRUE(s);
  EXPECT_EQ(find(*s, "kept"), Paths{"/l/kept.txt"});
}

TEST_F(StoreTest, AFullDiskIsReportedAndTheStoreKept) {
  fs::create_directories(dir_);
  TmpfsMount disk(dir_, "1m");
  if (!disk.available()) GTEST_SKIP() << disk.whyNot();
  {
    auto s = openRw();
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->put(item("/f/kept.txt", "kept")));
  }
  ASSERT_TRUE(TmpfsMount::fill(dir_ + "/fill"));
  std::string error;
  EXPECT_FALSE(Store::open(dir_, Store::Mode::ReadWrite, &error));
  EXPECT_NE(error.find("the index disk is full"), std::string::npos) << error;
  EXPECT_TRUE(asideFiles().empty()) << asideFiles()[0];
  // Once there is room again, the same store opens with its items.
  fs::remove(dir_ + "/fill");
  auto s = openRw();
  ASSERT_TRUE(s);
  EXPECT_EQ(find(*s, "kept"), Paths{"/f/kept.txt"});
  EXPECT_EQ(s->checkIntegrity(), "");
}

TEST_F(StoreTest, AReadOnlyStoreAnswersQueriesAndRefusesWriters) {
  fs::create_directories(dir_);
  TmpfsMount disk(dir_, "4m");
  if (!disk.available()) GTEST_SKIP() << disk.whyNot();
  {
    auto s = openRw();
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->put(item("/ro/kept.txt", "kept")));
  }
  for (const char* leftover : {"/index.sqlite-wal", "/index.sqlite-shm"}) fs::remove(dir_ + leftover);
  ASSERT_TRUE(disk.setReadOnly(true));
  std::string error;
  auto reader = Store::open(dir_, Store::Mode::ReadOnly, &error);
  ASSERT_TRUE(reader) << error;
  EXPECT_EQ(find(*reader, "kept"), Paths{"/ro/kept.txt"});
  EXPECT_EQ(reader->status().items, 1);
  reader.reset();
  EXPECT_FALSE(Store::open(dir_, Store::Mode::ReadWrite, &error));
  EXPECT_EQ(error, "the index is on a read-only file system");
  EXPECT_FALSE(Store::open(dir_ + "/sub", Store::Mode::ReadWrite, &error));
  EXPECT_EQ(error, "the index is on a read-only file system");
  ASSERT_TRUE(disk.setReadOnly(false));
  EXPECT_TRUE(asideFiles().empty());
  EXPECT_EQ(find(*openRw(), "kept"), Paths{"/ro/kept.txt"});
}

TEST_F(StoreTest, ReadOnlyOpenNeverCreates) {
  std::string error;
  EXPECT_FALSE(Store::open(dir_, Store::Mode::ReadOnly, &error));
  EXPECT_FALSE(fs::exists(dir_));
}

}  // namespace

// The recognition backlog: read in id order from a cursor, kept through a
// move, left by a re-put or a clear, gone with its item.
TEST_F(StoreTest, TheRecognitionBacklogFollowsItsItems) {
  auto s = openRw();
  for (const char* p : {"/p/a.png", "/p/b.png", "/p/c.png", "/p/d.txt"}) {
    ItemRecord r = item(p);
    r.recognitionPending = std::string(p).find(".png") != std::string::npos;
    ASSERT_TRUE(s->put(r));
  }
  EXPECT_EQ(s->recognitionBacklog(), 3);
  const auto first = s->awaitingRecognition(0, 2);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].path, "/p/a.png");
  EXPECT_EQ(first[1].path, "/p/b.png");
  const auto rest = s->awaitingRecognition(first[1].id, 2);
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].path, "/p/c.png");

  ASSERT_TRUE(s->moveTree("/p", "/q"));
  EXPECT_TRUE(s->get("/q/a.png")->recognitionPending);
  ItemRecord recognised = item("/q/a.png", "words from pixels");
  ASSERT_TRUE(s->put(recognised));
  ASSERT_TRUE(s->clearRecognitionPending("/q/b.png"));
  EXPECT_TRUE(s->get("/q/b.png").has_value());
  ASSERT_TRUE(s->removeTree("/q/c.png"));
  EXPECT_EQ(s->recognitionBacklog(), 0);
  EXPECT_TRUE(s->awaitingRecognition(0, 10).empty());
  EXPECT_EQ(s->checkIntegrity(), "");
}

TEST_F(StoreTest, FailedImportsAreListedByPathAndCountedInAll) {
  auto s = openRw();
  EXPECT_EQ(s->failedImports(20).total, 0);
  const std::pair<const char*, ImportStatus> items[] = {
      {"/h/z.pdf", ImportStatus::Unreadable},   {"/h/ok.txt", ImportStatus::Imported},
      {"/h/\xC3\xA9t\xC3\xA9.txt", ImportStatus::TimedOut}, {"/h/a.doc", ImportStatus::Encrypted},
      {"/h/raw.dat", ImportStatus::Unsupported}, {"/h/m/big.txt", ImportStatus::TooLarge},
      {"/h/b.bin", ImportStatus::Crashed}};
  for (const auto& [path, status] : items) {
    ItemRecord r = item(path);
    r.status = status;
    ASSERT_TRUE(s->put(r));
  }
  using Listed = std::vector<std::pair<std::string, ImportStatus>>;
  const auto listed = [](const FailedImports& f) {
    Listed out;
    for (const auto& i : f.items) out.emplace_back(i.path, i.status);
    return out;
  };

  // Byte order of the paths, failures only; the count takes in the unlisted.
  const FailedImports first = s->failedImports(3);
  EXPECT_EQ(listed(first), (Listed{{"/h/a.doc", ImportStatus::Encrypted},
                                   {"/h/b.bin", ImportStatus::Crashed},
                                   {"/h/m/big.txt", ImportStatus::TooLarge}}));
  EXPECT_EQ(first.total, 5);
  const FailedImports all = s->failedImports(20);
  ASSERT_EQ(all.items.size(), 5u);
  EXPECT_EQ(all.items[3].path, "/h/z.pdf");
  EXPECT_EQ(all.items[4].path, "/h/\xC3\xA9t\xC3\xA9.txt");
  EXPECT_EQ(all.total, 5);
  const FailedImports none = s->failedImports(0);
  EXPECT_TRUE(none.items.empty());
  EXPECT_EQ(none.total, 5);

  // A failure imported again and a removed folder leave the listing; the
  // status count agrees, also through a reader.
  ItemRecord fixed = item("/h/a.doc");
  ASSERT_TRUE(s->put(fixed));
  ASSERT_TRUE(s->removeTree("/h/m"));
  auto reader = Store::open(dir_, Store::Mode::ReadOnly);
  ASSERT_TRUE(reader);
  EXPECT_EQ(listed(reader->failedImports(2)),
            (Listed{{"/h/b.bin", ImportStatus::Crashed}, {"/h/z.pdf", ImportStatus::Unreadable}}));
  EXPECT_EQ(reader->failedImports(2).total, 3);
  EXPECT_EQ(reader->status().failedImports, 3);
  EXPECT_EQ(s->checkIntegrity(), "");
}

// The status counts the store keeps agree with its items after every kind
// of write: replacing with another status, a batch (committed, rolled back,
// with a put that fails part way), a move onto existing items, removals, a
// migration from the format before (see above) and clearing.
TEST_F(StoreTest, TheKeptCountsFollowEveryKindOfWrite) {
  auto s = openRw();
  const auto agree = [&](const char* when) {
    SCOPED_TRACE(when);
    std::vector<std::pair<ImportStatus, int64_t>> counted;
    int64_t all = 0, failed = 0;
    for (int st = 0; st <= int(ImportStatus::TimedOut); ++st) {
      const int64_t n = rawCount("SELECT count(*) FROM items WHERE status = " + std::to_string(st));
      if (n) counted.emplace_back(ImportStatus(st), n);
      all += n;
      if (isFailure(ImportStatus(st))) failed += n;
    }
    EXPECT_EQ(s->countsByStatus(), counted);
    EXPECT_EQ(s->status().items, all);
    EXPECT_EQ(s->status().failedImports, failed);
  };
  const auto put = [&](const std::string& path, ImportStatus status, const std::string& text = "") {
    ItemRecord r = item(path, text);
    r.status = status;
    return s->put(r);
  };
  ASSERT_TRUE(put("/c/a.txt", ImportStatus::Imported));
  ASSERT_TRUE(put("/c/b.pdf", ImportStatus::Encrypted));
  ASSERT_TRUE(put("/c/b.pdf", ImportStatus::Imported));
  agree("replaced");

  ASSERT_TRUE(s->begin());
  ASSERT_TRUE(put("/c/d/one.txt", ImportStatus::TimedOut));
  ASSERT_TRUE(put("/c/a.txt", ImportStatus::Crashed));
  s->rollback();
  agree("rolled back");

  rawExec("CREATE TRIGGER refuse BEFORE INSERT ON texts WHEN new.body = 'poison' "
          "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  ASSERT_TRUE(s->begin());
  ASSERT_TRUE(put("/c/d/one.txt", ImportStatus::TimedOut));
  ASSERT_TRUE(put("/c/d/two.txt", ImportStatus::Unsupported));
  EXPECT_FALSE(put("/c/a.txt", ImportStatus::Unreadable, "poison"));
  ASSERT_TRUE(s->commit());
  agree("a batch with a failed put");

  ASSERT_TRUE(put("/c/e/one.txt", ImportStatus::Imported));
  ASSERT_TRUE(s->moveTree("/c/d", "/c/e"));
  agree("moved onto existing items");
  // Items under a folder: counted inside a small one, by what lies outside
  // a large one (over a thousand items); never a neighbour ("/c/e" against
  // "/c/e.txt").
  ASSERT_TRUE(put("/c/e.txt", ImportStatus::Imported));
  ASSERT_TRUE(put("/", ImportStatus::Unsupported));
  ASSERT_TRUE(s->begin());
  for (int i = 0; i < 1100; ++i) ASSERT_TRUE(put("/c/e/many/" + std::to_string(i), ImportStatus::Imported));
  ASSERT_TRUE(s->commit());
  for (const char* folder : {"/", "/c", "/c/", "/c/e", "/c/e/many", "/c/e/one.txt", "/nowhere"}) {
    const std::string f = folder;
    const std::string self = f.size() > 1 && f.back() == '/' ? f.substr(0, f.size() - 1) : f;
    const std::string under = self == "/" ? "path <> '/'" : "path > '" + self + "/' AND path < '" + self + "0'";
    EXPECT_EQ(s->countUnder(folder), rawCount("SELECT count(*) FROM items WHERE " + under)) << folder;
  }
  ASSERT_TRUE(s->removeTree("/c/e/two.txt"));
  agree("removed");
  ASSERT_TRUE(s->clear());
  agree("cleared");
  ASSERT_TRUE(put("/c/again.txt", ImportStatus::Imported));
  agree("after clearing");
}

// A batch whose transaction SQLite ended by itself part way (as it may on
// a full disk; here a trigger's RAISE(ROLLBACK)) writes nothing more: the
// writes after it fail instead of committing one by one, commit() reports
// the batch lost, and the kept counts stay those of the items.
TEST_F(StoreTest, ABatchThatSqliteRolledBackWritesNothingMore) {
  auto s = openRw();
  ASSERT_TRUE(s->put(item("/r/kept.txt", "kept")));
  ASSERT_TRUE(s->put(item("/r/d/moved.txt", "moved")));
  rawExec("CREATE TRIGGER lose BEFORE INSERT ON texts WHEN new.body = 'poison' "
          "BEGIN SELECT RAISE(ROLLBACK, 'lost'); END;");
  ASSERT_TRUE(s->begin());
  EXPECT_TRUE(s->put(item("/r/before.txt", "before")));
  EXPECT_FALSE(s->put(item("/r/poison.txt", "poison")));
  EXPECT_FALSE(s->put(item("/r/after.txt", "after")));
  EXPECT_FALSE(s->moveTree("/r/d", "/r/e"));
  EXPECT_FALSE(s->commit());
  for (const char* gone : {"/r/before.txt", "/r/poison.txt", "/r/after.txt", "/r/e/moved.txt"})
    EXPECT_FALSE(s->get(gone)) << gone;
  EXPECT_TRUE(s->get("/r/d/moved.txt"));
  ASSERT_TRUE(s->put(item("/r/later.txt", "later")));
  EXPECT_EQ(s->status().items, rawCount("SELECT count(*) FROM items"));
  EXPECT_EQ(s->checkIntegrity(), "");
}

// A folder's stamps are its own items only, in path order; a subtree whose
// folder has no item is stood for by a folder stamp that matches no file,
// and names that sort among a subfolder's items ("b-x", "b.y") are kept.
TEST_F(StoreTest, ChildStampsAreOneFoldersItems) {
  auto s = openRw();
  for (const char* p : {"/", "/a", "/a/b", "/a/b/c", "/a/b/c/d", "/a/b-x", "/a/b.y", "/a/c/deep/e", "/a/f", "/ab"})
    ASSERT_TRUE(s->put(item(p)));
  const auto paths = [&](const std::string& folder) {
    std::vector<std::pair<std::string, int64_t>> out;
    for (const auto& st : s->childStamps(folder)) out.emplace_back(st.path, st.size);
    return out;
  };
  using Stamps = std::vector<std::pair<std::string, int64_t>>;
  EXPECT_EQ(paths("/a"), (Stamps{{"/a/b", 0}, {"/a/b-x", 0}, {"/a/b.y", 0}, {"/a/c", -1}, {"/a/f", 0}}));
  EXPECT_EQ(paths("/a/"), paths("/a"));
  EXPECT_EQ(paths("/"), (Stamps{{"/a", 0}, {"/ab", 0}}));
  EXPECT_EQ(paths("/a/c"), (Stamps{{"/a/c/deep", -1}}));
  EXPECT_EQ(paths("/a/f"), Stamps{});
}
