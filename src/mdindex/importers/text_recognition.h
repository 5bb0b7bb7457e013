// Text recognition: the words drawn as pixels in pictures and scanned
// pages, read with libtesseract. The image and PDF importers use it inside
// the import child (recognition_limits.h holds every bound it keeps).
//
// Threads: a TextRecognizer belongs to one thread; recognizerFor() keeps
// one per thread and language set.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mdindex/importers/importer.h"

struct Pix;

namespace mdindex {

// What a picture's header says about recognising it.
enum class PictureVerdict {
  Recognise,   // a readable picture of a size worth recognising
  TooSmall,    // under recognition::kMinSide on a side
  TooLarge,    // over recognition::kMaxPixels: refused before decoding
  Unreadable,  // no header leptonica can read
};

class MappedFile;

// Judges the picture in `file` from its header alone (no pixel is decoded).
PictureVerdict judgePicture(const MappedFile& file);

class TextRecognizer {
 public:
  // `languages` as tesseract takes them ("eng", "eng+deu"). The language
  // data loads on first use.
  explicit TextRecognizer(std::string languages);
  ~TextRecognizer();
  TextRecognizer(const TextRecognizer&) = delete;
  TextRecognizer& operator=(const TextRecognizer&) = delete;

  // False when the language data cannot be loaded.
  bool ready();

  // Starts one file's processor-time budget (recognition::kCpuSecondsPerFile).
  void beginFile();
  // True once this file's budget is spent.
  bool budgetSpent() const;

  // The words of `pix` (any depth; not taken over) at or above the
  // confidence floor, words joined by " " and lines by "\n". `ppi` is the
  // picture's resolution when known (0: unknown). Scales to the working
  // size first. Empty when nothing passes, when the budget is spent, or
  // when not ready().
  std::string recognize(Pix* pix, int ppi);

  // Decodes the picture in `file` (first frame or page only) and
  // recognises it. Callers judge it with judgePicture() first.
  std::string recognizeFile(const MappedFile& file);

 private:
  struct Engine;
  std::string languages_;
  std::unique_ptr<Engine> engine_;
  bool failed_ = false;
  double deadline_ = 0;  // process CPU seconds at which the budget ends
};

// This thread's recognizer for `languages`, made on first use.
TextRecognizer& recognizerFor(const std::string& languages);

// Adds recognised `words` to the sink (after a line break when the sink
// already holds text) and marks the item with kMDItemTextContentSource.
// Does nothing for empty `words`.
void addRecognizedText(Sink& sink, const std::string& words);

}  // namespace mdindex
