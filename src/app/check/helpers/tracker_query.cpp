/* findlark-tracker-query [--bus NAME] FOLDER TERM: the index check's
 * programming route into Tracker 3 and LocalSearch. Connects over D-Bus to
 * the file miner's endpoint NAME (default org.freedesktop.Tracker3.Miner.Files,
 * Tracker 3's; LocalSearch 3.8+ serves org.freedesktop.LocalSearch3) and runs
 * one SPARQL query with bound parameters: the items stored under FOLDER
 * whose full text matches TERM (fts:match), or that carry a tag or a camera
 * maker containing it.
 *
 * Output on stdout, one line per item: "<absolute path>\t<where>", where
 * <where> is "nie:plainTextContent" (full text), "nao:hasTag" or
 * "nfo:equipment". Exit 0 when the query ran (no lines: nothing found);
 * exit 1 with one line "error: <message>" on stdout when it could not run.
 * It is a separate program so that the app never links libtracker-sparql.
 *
 * findlark-tracker-query list FOLDER: every item the miner holds at or under
 * FOLDER (its nie:isStoredAs file's nie:url), one absolute path per line, in
 * one query; the folder audit's listing. Exit and errors as above.
 */
#include <cstdio>
#include <cstring>

#include <gio/gio.h>
#include <libtracker-sparql/tracker-sparql.h>

static const char kQuery[] =
    "SELECT ?url ?where WHERE {\n"
    "  {\n"
    "    ?item fts:match ~match .\n"
    "    BIND (\"nie:plainTextContent\" AS ?where)\n"
    "  } UNION {\n"
    "    ?item nao:hasTag ?tag .\n"
    "    ?tag nao:prefLabel ?label .\n"
    "    FILTER (CONTAINS(LCASE(?label), LCASE(~term)))\n"
    "    BIND (\"nao:hasTag\" AS ?where)\n"
    "  } UNION {\n"
    "    ?item nfo:equipment ?equipment .\n"
    "    ?equipment nfo:manufacturer ?maker .\n"
    "    FILTER (CONTAINS(LCASE(?maker), LCASE(~term)))\n"
    "    BIND (\"nfo:equipment\" AS ?where)\n"
    "  }\n"
    "  ?item nie:isStoredAs ?file .\n"
    "  ?file nie:url ?url .\n"
    "  FILTER (STRSTARTS(?url, ~prefix))\n"
    "}";

static int fail(const char* what, GError* error) {
  char* line = g_strdup_printf("%s: %s", what, error ? error->message : "unknown error");
  for (char* c = line; *c; ++c)
    if (*c == '\n') *c = ' ';
  printf("error: %s\n", line);
  g_free(line);
  if (error) g_error_free(error);
  return 1;
}

/* The term as one full-text phrase: fts:match takes the full-text engine's
 * own syntax, where quotes, '*', '-' and words like OR mean something. */
static char* phrase(const char* term) {
  GString* out = g_string_new("\"");
  for (const char* c = term; *c; ++c) {
    if (*c == '"') g_string_append_c(out, '"');
    g_string_append_c(out, *c);
  }
  g_string_append_c(out, '"');
  return g_string_free(out, FALSE);
}

static const char kListQuery[] =
    "SELECT ?url WHERE {\n"
    "  ?item nie:isStoredAs ?file .\n"
    "  ?file nie:url ?url .\n"
    "  FILTER (?url = ~self || STRSTARTS(?url, ~prefix))\n"
    "}";

/* The list mode: one query, the paths streamed out as the cursor gives them. */
static int list(const char* bus, const char* folderArg) {
  GError* error = nullptr;
  char* folder = g_strdup(folderArg);
  while (strlen(folder) > 1 && folder[strlen(folder) - 1] == '/') folder[strlen(folder) - 1] = '\0';
  char* folderUri = g_filename_to_uri(folder, nullptr, &error);
  if (!folderUri) return fail("bad folder", error);
  char* prefix = g_str_has_suffix(folderUri, "/") ? g_strdup(folderUri) : g_strconcat(folderUri, "/", nullptr);
  TrackerSparqlConnection* connection =
      tracker_sparql_connection_bus_new(bus, nullptr, nullptr, &error);
  if (!connection) return fail("cannot connect to the file miner's endpoint", error);
  TrackerSparqlStatement* statement = tracker_sparql_connection_query_statement(connection, kListQuery, nullptr, &error);
  if (!statement) return fail("the query was refused", error);
  tracker_sparql_statement_bind_string(statement, "self", folderUri);
  tracker_sparql_statement_bind_string(statement, "prefix", prefix);
  TrackerSparqlCursor* cursor = tracker_sparql_statement_execute(statement, nullptr, &error);
  if (!cursor) return fail("the query failed", error);
  GString* out = g_string_new(nullptr);
  while (tracker_sparql_cursor_next(cursor, nullptr, &error)) {
    const char* url = tracker_sparql_cursor_get_string(cursor, 0, nullptr);
    char* path = url ? g_filename_from_uri(url, nullptr, nullptr) : nullptr;
    if (path && !strchr(path, '\n')) {
      g_string_append(out, path);
      g_string_append_c(out, '\n');
    }
    g_free(path);
  }
  /* Nothing is printed unless the whole listing was read: a partial list
   * would read as missing files. */
  if (error) return fail("reading the results failed", error);
  fwrite(out->str, 1, out->len, stdout);
  g_string_free(out, TRUE);
  g_object_unref(cursor);
  g_object_unref(statement);
  tracker_sparql_connection_close(connection);
  g_object_unref(connection);
  g_free(prefix);
  g_free(folderUri);
  g_free(folder);
  return 0;
}

int main(int argc, char** argv) {
  const char* bus = "org.freedesktop.Tracker3.Miner.Files";
  if (argc >= 3 && strcmp(argv[1], "--bus") == 0) {
    bus = argv[2];
    argv += 2;
    argc -= 2;
  }
  if (argc == 3 && strcmp(argv[1], "list") == 0 && argv[2][0] == '/') return list(bus, argv[2]);
  if (argc != 3 || argv[1][0] != '/') {
    fprintf(stderr, "usage: findlark-tracker-query [--bus NAME] FOLDER TERM | [--bus NAME] list FOLDER\n");
    return 64;
  }
  GError* error = nullptr;
  char* folder = g_strdup(argv[1]);
  while (strlen(folder) > 1 && folder[strlen(folder) - 1] == '/') folder[strlen(folder) - 1] = '\0';
  char* folderUri = g_filename_to_uri(folder, nullptr, &error);
  if (!folderUri) return fail("bad folder", error);
  char* prefix = g_strconcat(folderUri, "/", nullptr);

  TrackerSparqlConnection* connection = tracker_sparql_connection_bus_new(bus, nullptr, nullptr, &error);
  if (!connection) {
    g_autofree char* what = g_strconcat("cannot connect to ", bus, nullptr);
    return fail(what, error);
  }
  TrackerSparqlStatement* statement = tracker_sparql_connection_query_statement(connection, kQuery, nullptr, &error);
  if (!statement) return fail("the query was refused", error);
  char* match = phrase(argv[2]);
  tracker_sparql_statement_bind_string(statement, "prefix", prefix);
  tracker_sparql_statement_bind_string(statement, "match", match);
  tracker_sparql_statement_bind_string(statement, "term", argv[2]);
  TrackerSparqlCursor* cursor = tracker_sparql_statement_execute(statement, nullptr, &error);
  if (!cursor) return fail("the query failed", error);

  GString* out = g_string_new(nullptr);
  while (tracker_sparql_cursor_next(cursor, nullptr, &error)) {
    const char* url = tracker_sparql_cursor_get_string(cursor, 0, nullptr);
    const char* where = tracker_sparql_cursor_get_string(cursor, 1, nullptr);
    char* path = url ? g_filename_from_uri(url, nullptr, nullptr) : nullptr;
    if (path && !strchr(path, '\n')) g_string_append_printf(out, "%s\t%s\n", path, where ? where : "");
    g_free(path);
  }
  if (error) return fail("reading the results failed", error);
  fputs(out->str, stdout);

  g_string_free(out, TRUE);
  g_object_unref(cursor);
  g_object_unref(statement);
  tracker_sparql_connection_close(connection);
  g_object_unref(connection);
  g_free(match);
  g_free(prefix);
  g_free(folderUri);
  g_free(folder);
  return 0;
}
