// What a user does about a miss: a command to run, a line for a
// configuration file, a query that does find the file on that route, or,
// where nothing helps, a plain sentence saying so (and which index finds
// it). Shared by the table, JSON, the Index Check window and the Why Not
// Found window.
//
// Only a remedy that changes nothing but that index's own per-user
// configuration, or runs that index's own command, is appliable: never a
// package install, never a file outside the user's configuration, never
// sudo. The command line prints remedies and never applies them; the
// window applies one after asking, without a shell.
#pragma once

#include <QString>
#include <QStringList>

namespace findlark::check {

struct Remedy {
  enum class Kind {
    None,     // "none": nothing the user can set changes it; `text` says so
    Command,  // "command": a command line to run
    Config,   // "config": a line (or lines) to add to `file`
    Query,    // "query": a search that does find it on that route
  };
  Kind kind = Kind::None;
  QString text;       // what the user reads or types: the command line (shell-quoted), the line, the query
  QString file;       // Config: the file the line goes in, absolute; "" otherwise
  QStringList argv;   // Command, Query: the program's name and its arguments, exactly as run
  bool appliable = false;  // the window may apply it (see above)
  // A command that must follow a configuration change before the index
  // sees it (e.g. re-indexing the file); applied with it. Empty if none.
  QStringList then;

  bool isEmpty() const { return kind == Kind::None && text.isEmpty(); }
};

// "none", "command", "config", "query".
QString remedyKindName(Remedy::Kind kind);

// A command line as a POSIX shell reads it: each argument that needs it in
// single quotes.
QString shellQuoted(const QStringList& argv);

Remedy commandRemedy(const QStringList& argv, bool appliable);
Remedy queryRemedy(const QStringList& argv);
Remedy configRemedy(const QString& line, const QString& file, bool appliable);
Remedy noRemedy(const QString& sentence);

// One line for people: "run: tracker3 index --add …", "add to FILE: LINE"
// (with "; then run: …" when it has a follow-up), "search with: QUERY", or
// the sentence itself.
QString remedyLine(const Remedy& remedy);

struct ApplyOutcome {
  bool ok = false;
  QString message;  // the command's output, or why it could not be applied
};

// Applies an appliable remedy: a Command runs `argv` (its program found on
// PATH, no shell, 60 s at most); a Config line is added to the end of
// `file` (made, with its folder, when missing) unless the file already
// holds that exact line. Anything else is refused. Blocks; any thread.
ApplyOutcome applyRemedy(const Remedy& remedy);

}  // namespace findlark::check
