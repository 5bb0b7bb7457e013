// The importer interface. An importer reads one file format and hands what it
// finds to a Sink; it never touches the store. The registry (registry.cpp) is
// the one table that maps UTIs to importers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mdindex/core/import_status.h"
#include "mdindex/core/value.h"

namespace mdindex {

class TextRecognizer;

// What became of text recognition (text_recognition.h) for one file.
enum class Recognition {
  None = 0,     // nothing to recognise: no picture worth it, or every page has text
  Pending = 1,  // there are pictures to recognise and recognition did not run
  Done = 2,     // recognised (possibly no words at all)
};

// Receives what an importer extracts. Text is UTF-8; the sink caps the total
// it keeps (see ImportLimits) and ignores what comes after the cap.
class Sink {
 public:
  virtual ~Sink() = default;
  // Appends body text (kMDItemTextContent). Callers separate paragraphs
  // themselves; the sink adds nothing between calls.
  virtual void addText(std::string_view utf8) = 0;
  // Sets (replaces) one attribute.
  virtual void setAttribute(const std::string& name, Value value) = 0;
  // Adds keywords to kMDItemKeywords, skipping ones already present.
  virtual void addKeywords(const std::vector<std::string>& keywords) = 0;
  // True once the text cap is reached: importers may stop reading early.
  virtual bool full() const = 0;
  // True when some text has been added (sinks that do not keep it say true,
  // so that callers always separate what they add).
  virtual bool hasText() const { return true; }
  // Text recognition for this import: the recognizer to read pictures
  // with, or null when recognition is not to run now. Importers of
  // pictures and PDFs then only report whether it is pending.
  virtual TextRecognizer* recognizer() { return nullptr; }
  // What became of recognition; None unless an importer says otherwise.
  virtual void setRecognition(Recognition r) { (void)r; }
};

class Importer {
 public:
  virtual ~Importer() = default;
  // Short name, shown by `mdimport -t` as the plug-in ("PDF.mdimporter").
  virtual std::string name() const = 0;
  // The UTIs this importer takes.
  virtual std::vector<std::string> utis() const = 0;
  // Imports `path`. Must not throw; must not crash on hostile input (it runs
  // in a guarded child process all the same).
  virtual ImportStatus import(const std::string& path, Sink& sink) const = 0;
};

// The importer for `uti`: the one that takes the nearest type in its
// conformance tree (Markdown is read as plain text), or nullptr (file-system
// attributes only).
const Importer* importerForUti(std::string_view uti);

// Every registered importer, in registry order (for `mdimport -L`).
std::vector<const Importer*> allImporters();

// A digest of what decides how a file is read: the type table, each
// importer with the types it takes, and kImportersRevision. An index written
// under another digest holds files typed or read the old way; the service
// then reads every file again once.
std::string importersDigest();

}  // namespace mdindex
