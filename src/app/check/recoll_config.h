// What the index check needs from a Recoll configuration: which folder is
// in use, where its index is, and which folders it indexes and skips.
// Read only; Recoll's files are never written.
//
// The configuration folder is $RECOLL_CONFDIR, else ~/.recoll. Values come
// from Recoll's shipped defaults (/usr/share/recoll/examples/recoll.conf),
// then the folder's recoll.conf, whose lines override them; "name+ =" and
// "name- =" add to and remove from a list as Recoll does. Only the
// top-level section is read: per-folder sections ("[/some/dir]") change
// how files are handled there, not which folders are walked.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace findlark::check {

struct RecollConfig {
  QString confdir;       // absolute, no trailing '/'
  bool confExists = false;
  QString dbdir;         // absolute path of the Xapian index
  QStringList topdirs;   // absolute, '~' expanded, no trailing '/'
  QStringList skippedPaths;  // absolute fnmatch patterns
  QStringList skippedNames;  // fnmatch patterns on one path component
  QString nowalkfn;      // a file whose presence makes Recoll skip its folder, "" if none
};

// $RECOLL_CONFDIR, else ~/.recoll (`home` without a trailing '/').
QString recollConfdir(const QString& home);

// Reads the configuration in `confdir`. `defaultsFile` is Recoll's shipped
// defaults, read first when it exists.
RecollConfig readRecollConfig(const QString& confdir, const QString& home,
                              const QString& defaultsFile = QStringLiteral("/usr/share/recoll/examples/recoll.conf"));

// Parses the text of one recoll.conf into `values` (name -> raw value),
// applying "+"/"-" list edits to what `values` already holds.
void parseRecollConf(const QString& text, QHash<QString, QString>& values);

// Splits a Recoll string list: words separated by blanks, double quotes
// group words with blanks inside.
QStringList splitRecollList(const QString& value);

// Why Recoll does not walk `folder`: "" when it does; else one line naming
// the skippedPaths pattern, skippedNames pattern or nowalkfn file that
// leaves it out. `notCovered` is set when no topdir holds it.
QString recollSkips(const RecollConfig& config, const QString& folder, bool* notCovered);

}  // namespace findlark::check
