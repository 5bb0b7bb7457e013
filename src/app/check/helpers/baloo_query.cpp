// findlark-baloo-query: the index check's programming route into Baloo, a
// separate Qt 5 program because KDE Frameworks 5 Baloo is built on Qt 5 and
// cannot be loaded into the Qt 6 app.
//
//   findlark-baloo-query search FOLDER TERM
//       Baloo::Query "TERM OR manufacturer:TERM OR tag:TERM" restricted to
//       FOLDER; one absolute path per line.
//   findlark-baloo-query stored FILE
//       Baloo::File properties of FILE, "name = value" one a line; exit 3
//       when FILE is not in Baloo's index.
//   findlark-baloo-query config PATH
//       Baloo's configuration: "enabled\ttrue|false", "include\tDIR" and
//       "exclude\tDIR" lines, "filter\tPATTERN" and "mimetype\tTYPE" lines
//       (its exclude filters and excluded types), "hidden\ttrue|false"
//       (hidden files indexed), "basic\ttrue|false" (only basic indexing),
//       "indexed\ttrue|false" (would files in PATH, a folder, be indexed)
//       and, when PATH is a file, "fileIndexed\ttrue|false" (would it be).
//   findlark-baloo-query list FOLDER
//       Every item Baloo's index holds at or under FOLDER (its document
//       tree, no search term), one absolute path per line; nothing when
//       Baloo does not know FOLDER itself. The folder audit's listing.
//
// Exit 0 on success; 1 with a line "error: <message>" on stdout when it
// cannot run; 64 on bad usage. Nothing is written to Baloo.
#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <limits>

#include <Baloo/File>
#include <Baloo/IndexerConfig>
#include <Baloo/Query>
#include <KFileMetaData/PropertyInfo>

#include "../query_term.h"

namespace {

QTextStream& out() {
  static QTextStream s(stdout);
  return s;
}

int search(const QString& folder, const QString& term) {
  const QString word = findlark::check::peerQueryTerm(term);
  Baloo::Query query;
  query.setSearchString(word + QStringLiteral(" OR manufacturer:") + word + QStringLiteral(" OR tag:") + word);
  query.setIncludeFolder(folder);
  Baloo::ResultIterator it = query.exec();
  while (it.next()) {
    const QString path = it.filePath();
    if (!path.contains(QLatin1Char('\n'))) out() << path << '\n';
  }
  return 0;
}

int list(const QString& folder) {
  // No search string: the folder's document tree alone. No limit (Baloo's
  // default stops at 100,000) and no sorting (which reads every item's
  // times first).
  Baloo::Query query;
  query.setIncludeFolder(folder);
  query.setLimit(std::numeric_limits<uint>::max());
  query.setSortingOption(Baloo::Query::SortNone);
  Baloo::ResultIterator it = query.exec();
  while (it.next()) {
    const QString path = it.filePath();
    if (!path.contains(QLatin1Char('\n'))) out() << path << '\n';
  }
  return 0;
}

int stored(const QString& path) {
  Baloo::File file(path);
  if (!file.load()) return 3;
  const KFileMetaData::PropertyMultiMap props = file.properties();
  for (auto it = props.constBegin(); it != props.constEnd(); ++it) {
    QString value = it.value().toStringList().join(QStringLiteral(", "));
    if (value.isEmpty()) value = it.value().toString();
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    out() << KFileMetaData::PropertyInfo(it.key()).name() << " = " << value << '\n';
  }
  return 0;
}

int config(const QString& folder) {
  Baloo::IndexerConfig c;
  out() << "enabled\t" << (c.fileIndexingEnabled() ? "true" : "false") << '\n';
  for (const QString& d : c.includeFolders()) out() << "include\t" << d << '\n';
  for (const QString& d : c.excludeFolders()) out() << "exclude\t" << d << '\n';
  for (const QString& f : c.excludeFilters()) out() << "filter\t" << f << '\n';
  for (const QString& m : c.excludeMimetypes()) out() << "mimetype\t" << m << '\n';
  out() << "hidden\t" << (c.indexHidden() ? "true" : "false") << '\n';
  out() << "basic\t" << (c.onlyBasicIndexing() ? "true" : "false") << '\n';
  const bool file = QFileInfo(folder).isFile();
  const QString dir = file ? QFileInfo(folder).path() : folder;
  out() << "indexed\t" << (c.shouldBeIndexed(dir + QStringLiteral("/x.txt")) ? "true" : "false") << '\n';
  if (file) out() << "fileIndexed\t" << (c.shouldBeIndexed(folder) ? "true" : "false") << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  int status = 64;
  if (args.size() == 3 && args[0] == QLatin1String("search") && QFileInfo(args[1]).isAbsolute())
    status = search(args[1], args[2]);
  else if (args.size() == 2 && args[0] == QLatin1String("stored") && QFileInfo(args[1]).isAbsolute())
    status = stored(args[1]);
  else if (args.size() == 2 && args[0] == QLatin1String("config") && QFileInfo(args[1]).isAbsolute())
    status = config(args[1]);
  else if (args.size() == 2 && args[0] == QLatin1String("list") && QFileInfo(args[1]).isAbsolute())
    status = list(args[1]);
  else
    QTextStream(stderr) << "usage: findlark-baloo-query search FOLDER TERM | stored FILE | config FOLDER | list FOLDER\n";
  out().flush();
  return status;
}
