// A suite of files the index check makes and looks for. A suite is data: a
// folder of files its generator made, installed under the resource folder,
// and two tables beside them:
//
//   expectations.tsv  one row per file: where it hides its word, the word,
//                     and which routes should find it (expectations.h)
//   steps.tsv         optional: what the check does to a file after
//                     copying it, one row per step (parseSteps below)
//
// "samples" is the thirteen sample documents (the resource folder itself);
// any other suite lives in a subfolder of that name ("probes"). The check
// knows no file of a suite by name: everything it makes or looks for comes
// from these tables.
//
// Thread: any; these touch only the file system.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "app/check/expectations.h"

namespace findlark::check {

// One thing done to a copied file.
struct FileStep {
  enum class Kind {
    Xattr,       // writes extended attribute `name` with the UTF-8 bytes of `value`
    XattrPlist,  // writes `name` with `value` as a binary property-list string
                 // (the form of the keywords attribute)
    Grow,        // writes the file's first line again and again before its
                 // content until the file holds at least `value` bytes
                 // (a big file made at check time, never installed)
  };
  QString file;  // as in expectations.tsv
  Kind kind = Kind::Xattr;
  QString name;   // the attribute name; "" for Grow
  QString value;  // the attribute's text, or Grow's size in bytes
};

// Parses steps.tsv: comment lines start with '#'; the first other line
// names the columns file, step, name, value; step is "xattr",
// "xattr-plist" or "grow" (whose value is a whole number of bytes up to
// 1 GiB). Nothing, with `*error` naming the line, for an unknown step or a
// missing column.
std::optional<QList<FileStep>> parseSteps(const QString& text, QString* error = nullptr);

struct Suite {
  QString name;    // "samples", "probes"
  QString folder;  // where its installed files are
  QList<SampleExpectation> files;  // in the order they are made
  QList<FileStep> steps;
};

// The suites this build installs, the default first.
QStringList suiteNames();

// Reads the installed suite called `name`. Nothing, with `*error` for
// people, for an unknown name, a missing folder or a table that does not
// parse, or a step naming a file the expectations do not list.
std::optional<Suite> loadSuite(const QString& name, QString* error = nullptr);

// What makeSuiteFolder did.
struct SuiteMade {
  bool ok = false;       // every file is in place (its steps may still have failed)
  QString error;         // why not, for people, when !ok
  QStringList warnings;  // "the user.xdg.tags attribute could not be written on x.txt"
};

// Makes `folder` (unless it exists), the subfolders the suite's files name,
// and each file, copied from the suite's folder as the app copies samples
// (never over an existing file), then applies its steps. `made(file)` is
// called right after each file is complete. Stops at the first file that
// cannot be made.
SuiteMade makeSuiteFolder(const QString& folder, const Suite& suite,
                          const std::function<void(const QString& file)>& made = {});

// Every entry the suite makes below its folder, relative to it: its files
// and the subfolders that hold them ("sub", "sub/x.txt").
QStringList suiteEntries(const Suite& suite);

}  // namespace findlark::check
