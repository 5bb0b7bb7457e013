// Pieces of the import pipeline shared by the in-process import, the guarded
// import and its child helper. Not for use outside this folder and its tests.
#pragma once

#include <cstdint>
#include <string>

#include "mdindex/importers/import.h"
#include "mdindex/importers/importer.h"

namespace mdindex {

// The sink every import uses: keeps attributes, keywords (deduplicated, in
// order) and text up to `maxTextBytes`, cut at a UTF-8 character boundary.
class CollectingSink final : public Sink {
 public:
  explicit CollectingSink(uint64_t maxTextBytes);
  void addText(std::string_view utf8) override;
  void setAttribute(const std::string& name, Value value) override;
  void addKeywords(const std::vector<std::string>& keywords) override;
  bool full() const override;
  bool hasText() const override { return !text_.empty(); }
  // The recognizer for the languages given to recognizeIn(), loaded on the
  // first call (files without pictures never load the language data); null
  // when recognition is off or its data does not load.
  TextRecognizer* recognizer() override;
  void setRecognition(Recognition r) override { recognition_ = r; }

  // True when text was dropped at the cap (or the cap was reached, so an
  // importer that stops when full() may have left some unread).
  bool truncated() const { return full(); }
  size_t textSize() const { return text_.size(); }

  void recognizeIn(std::string languages) { languages_ = std::move(languages); }
  Recognition recognition() const { return recognition_; }

  Attributes takeAttributes() { return std::move(attributes_); }
  std::string takeText() { return std::move(text_); }

 private:
  uint64_t maxText_;
  bool capped_ = false;
  Attributes attributes_;
  std::string text_;
  std::string languages_;  // empty: recognition off
  bool resolved_ = false;
  TextRecognizer* recognizer_ = nullptr;
  Recognition recognition_ = Recognition::None;
};

// The bytes of the file at `path`, at most `cap` of them, into `out`: one
// open, reads until the end, no seeking. False when it cannot be opened
// (a link or a FIFO put in its place is not) or a read fails.
bool readFileBytes(const std::string& path, std::string& out, size_t cap = SIZE_MAX);

// Appends `keywords` to attributes[kMDItemKeywords], skipping duplicates and
// empty strings.
void mergeKeywords(Attributes& attributes, const std::vector<std::string>& keywords);

// What the format importer hands back.
struct FormatResult {
  ImportStatus status = ImportStatus::Unreadable;
  Attributes attributes;
  std::string text;
  Recognition recognition = Recognition::None;
};

// The file-system stage: attributes, type, whether a format importer runs.
struct PreparedImport {
  ImportResult result;
  const Importer* importer = nullptr;
  bool runImporter = false;
};

PreparedImport prepareImport(const std::string& path, const ImportLimits& limits);

// Runs `importer` in this process, with text recognition when
// `limits.recognizeText` and the language data loads (else the importer
// only tells whether recognition is pending). Library exceptions become Unreadable;
// std::bad_alloc is rethrown so that a memory limit is told from bad input.
FormatResult runFormatImporter(const Importer& importer, const std::string& path, const ImportLimits& limits);

// Merges a format result into `result` (keywords appended, not replaced).
void applyFormatResult(FormatResult&& format, ImportResult& result);

// The last stage for every file: the keywords extended attribute.
void finishImport(const std::string& path, ImportResult& result);

}  // namespace mdindex
