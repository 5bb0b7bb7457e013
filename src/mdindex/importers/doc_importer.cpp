// The layout read here (File Information Block, Clx, piece descriptors) is
// the one Word has written since Word 97; libgsf opens the OLE container
// and the property set.
#include "mdindex/importers/doc_importer.h"

#include <gsf/gsf-doc-meta-data.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-meta-names.h>
#include <gsf/gsf-msole-utils.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mdindex/core/fold.h"
#include "mdindex/importers/office_importers.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/text_codec.h"

namespace mdindex {
namespace {

struct Unref {
  void operator()(gpointer p) const {
    if (p) g_object_unref(p);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, Unref>;

// The table stream's piece table is read whole: larger ones are damaged.
constexpr uint32_t kMaxClxBytes = 16u << 20;

uint16_t le16(const std::string& b, size_t at) {
  return at + 2 <= b.size() ? static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8)
                            : 0;
}
uint32_t le32(const std::string& b, size_t at) {
  return at + 4 <= b.size() ? static_cast<uint32_t>(le16(b, at)) | static_cast<uint32_t>(le16(b, at + 2)) << 16 : 0;
}

// `n` bytes at `offset` of a stream; false when they are not all there.
bool readAt(GsfInput* in, uint64_t offset, uint64_t n, std::string& out) {
  out.clear();
  const auto size = static_cast<uint64_t>(gsf_input_size(in));
  if (offset > size || n > size - offset) return false;
  if (gsf_input_seek(in, static_cast<gsf_off_t>(offset), G_SEEK_SET)) return false;
  out.resize(n);
  size_t got = 0;
  while (got < n) {
    const size_t chunk = std::min<uint64_t>(n - got, 1u << 16);
    if (!gsf_input_read(in, chunk, reinterpret_cast<guint8*>(out.data() + got))) return false;
    got += chunk;
  }
  return true;
}

struct Piece {
  uint32_t cpStart, cpEnd;
  uint32_t fc;      // byte offset in the WordDocument stream
  bool compressed;  // 8-bit (Windows-1252) rather than UTF-16
};

// The piece table from the Clx: skips the Prc entries (formatting), then
// reads the Pcdt. False when it is damaged.
bool readPieces(const std::string& clx, std::vector<Piece>& pieces) {
  size_t at = 0;
  while (at < clx.size() && clx[at] == 0x01) at += 3 + le16(clx, at + 1);
  if (at + 5 > clx.size() || clx[at] != 0x02) return false;
  const uint32_t lcb = le32(clx, at + 1);
  at += 5;
  if (lcb > clx.size() - at || lcb < 4 || (lcb - 4) % 12 != 0) return false;
  const size_t n = (lcb - 4) / 12;
  const size_t pcds = at + 4 * (n + 1);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t fc = le32(clx, pcds + 8 * i + 2);
    Piece p{le32(clx, at + 4 * i), le32(clx, at + 4 * (i + 1)), fc & 0x3FFFFFFFu, (fc & 0x40000000u) != 0};
    if (p.cpEnd < p.cpStart) return false;
    if (p.compressed) p.fc /= 2;
    pieces.push_back(p);
  }
  return true;
}

// Byte ranges [first, second) of the WordDocument stream, sorted.
using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

// The size of a property modifier's operand, from its sprm (0 when the
// grpprl cannot be followed further).
size_t operandSize(uint16_t sprm, const std::string& page, size_t at) {
  switch (sprm >> 13) {
    case 0:
    case 1: return 1;
    case 2:
    case 4:
    case 5: return 2;
    case 3: return 4;
    case 7: return 3;
    default: return at < page.size() ? 1 + static_cast<uint8_t>(page[at]) : 0;  // 6: sized by its first byte
  }
}

// True when the character properties at `at` of an FKP page (a Chpx: a
// count, then property modifiers) mark the text deleted with revision
// marking on (sprmCFRMarkDel set).
bool markedDeleted(const std::string& page, size_t at) {
  if (at >= page.size()) return false;
  const size_t end = std::min(page.size(), at + 1 + static_cast<uint8_t>(page[at]));
  for (size_t i = at + 1; i + 2 <= end;) {
    const uint16_t sprm = le16(page, i);
    i += 2;
    if (sprm == 0x0800) return i < end && page[i] != 0;
    const size_t n = operandSize(sprm, page, i);
    if (n == 0) return false;
    i += n;
  }
  return false;
}

// The text a reviewer deleted with revision marking on: Word keeps it in
// the stream until the change is accepted, and a reader of the document
// does not see it. Read from the character-property pages (PlcBteChpx in
// the table stream, its 512-byte FKP pages in the WordDocument stream).
Ranges deletedRanges(GsfInput* word, GsfInput* table, const std::string& fib) {
  Ranges out;
  const uint32_t fc = le32(fib, 0xFA), lcb = le32(fib, 0xFE);
  std::string plc, page;
  if (lcb < 12 || lcb > kMaxClxBytes || (lcb - 4) % 8 != 0 || !readAt(table, fc, lcb, plc)) return out;
  const size_t pages = (lcb - 4) / 8;
  for (size_t i = 0; i < pages; ++i) {
    const uint32_t pn = le32(plc, 4 * (pages + 1) + 4 * i) & 0x3FFFFF;
    if (!readAt(word, uint64_t{pn} * 512, 512, page)) continue;
    const size_t runs = static_cast<uint8_t>(page[511]);
    if (4 * (runs + 1) + runs > 511) continue;
    for (size_t r = 0; r < runs; ++r) {
      const size_t chpx = 2 * static_cast<size_t>(static_cast<uint8_t>(page[4 * (runs + 1) + r]));
      if (chpx != 0 && markedDeleted(page, chpx)) out.emplace_back(le32(page, 4 * r), le32(page, 4 * (r + 1)));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// `bytes`, read from offset `fc` of the stream, without the deleted ranges.
std::string withoutDeleted(std::string bytes, uint64_t fc, const Ranges& deleted) {
  if (deleted.empty()) return bytes;
  std::string kept;
  uint64_t at = fc;
  const uint64_t end = fc + bytes.size();
  auto r = std::lower_bound(deleted.begin(), deleted.end(), std::pair<uint32_t, uint32_t>(0, 0),
                            [&](const auto& a, const auto&) { return a.second <= fc; });
  for (; r != deleted.end() && r->first < end; ++r) {
    if (r->second <= at) continue;
    if (r->first > at) kept.append(bytes, at - fc, r->first - at);
    at = std::max<uint64_t>(at, r->second);
  }
  if (at < end) kept.append(bytes, at - fc, end - at);
  return kept;
}

// Turns Word's characters into lines: marks end paragraphs, field codes
// (between 0x13 and 0x14) are left out, their results (up to 0x15) kept.
class WordText {
 public:
  void add(std::u32string_view chars) {
    for (char32_t c : chars) {
      switch (c) {
        case 0x13:
          fields_.push_back(true);  // in the code part
          continue;
        case 0x14:
          if (!fields_.empty()) fields_.back() = false;
          continue;
        case 0x15:
          if (!fields_.empty()) fields_.pop_back();
          continue;
        default:
          break;
      }
      if (!fields_.empty() && fields_.back()) continue;
      if (c == 0x0D || c == 0x07 || c == 0x0B || c == 0x0C || c == 0x0E) {
        text_.endParagraph();
      } else if (c == 0x09) {
        text_.append("\t");
      } else if (c == 0x1E) {
        text_.append("-");  // non-breaking hyphen
      } else if (c >= 0x20 && c != 0x1F) {
        std::string utf8;
        appendUtf8(utf8, c);
        text_.append(utf8);
      }
    }
  }
  bool full() const { return text_.full(); }
  std::string take() { return text_.take(); }

 private:
  office::ParagraphText text_;
  std::vector<bool> fields_;
};

std::u32string decodePiece(const std::string& bytes, bool compressed) {
  std::u32string out;
  if (compressed) {
    const std::string utf8 = windows1252ToUtf8(bytes);
    out.reserve(bytes.size());
    for (size_t i = 0; i < utf8.size();) {
      const auto c = static_cast<unsigned char>(utf8[i]);
      const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      char32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
      for (size_t k = 1; k < len && i + k < utf8.size(); ++k) cp = cp << 6 | (utf8[i + k] & 0x3F);
      out.push_back(cp);
      i += len;
    }
    return out;
  }
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t u = le16(bytes, i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
      const char32_t low = le16(bytes, i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    out.push_back(u);
  }
  return out;
}

std::string metaString(GsfDocMetaData* meta, const char* name) {
  GsfDocProp* prop = gsf_doc_meta_data_lookup(meta, name);
  const GValue* v = prop ? gsf_doc_prop_get_val(prop) : nullptr;
  if (!v || !G_VALUE_HOLDS_STRING(v) || !g_value_get_string(v)) return {};
  return sanitizeUtf8(trimAscii(g_value_get_string(v)));
}

void importProperties(GsfInfile* ole, Sink& sink) {
  GPtr<GsfInput> summary(gsf_infile_child_by_name(ole, "\005SummaryInformation"));
  if (!summary) return;
  GPtr<GsfDocMetaData> meta(gsf_doc_meta_data_new());
  if (GError* err = gsf_doc_meta_data_read_from_msole(meta.get(), summary.get())) {
    g_error_free(err);
    return;
  }
  if (std::string s = metaString(meta.get(), GSF_META_NAME_TITLE); !s.empty()) sink.setAttribute(attr::Title, s);
  if (std::string s = metaString(meta.get(), GSF_META_NAME_CREATOR); !s.empty())
    sink.setAttribute(attr::Authors, std::vector<std::string>{s});
  if (std::string s = metaString(meta.get(), GSF_META_NAME_SUBJECT); !s.empty()) sink.setAttribute("kMDItemSubject", s);
  if (std::string s = metaString(meta.get(), GSF_META_NAME_DESCRIPTION); !s.empty())
    sink.setAttribute("kMDItemDescription", s);
  if (std::vector<std::string> k = splitKeywords(metaString(meta.get(), GSF_META_NAME_KEYWORDS)); !k.empty())
    sink.addKeywords(k);
}

class DocImporter final : public Importer {
 public:
  std::string name() const override { return "Word97.mdimporter"; }
  std::vector<std::string> utis() const override { return {"com.microsoft.word.doc"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    static std::once_flag once;
    std::call_once(once, [] {
      gsf_init();
      // A damaged container makes libgsf log failed assertions before it
      // gives up; the status says the same, once.
      for (const char* domain : {"libgsf", "libgsf:msole"})
        g_log_set_handler(domain, GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                          [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
    // Read from a mapping: the import child may not open the file by path.
    const auto mapped = MappedFile::open(path);
    if (!mapped) return ImportStatus::Unreadable;
    GPtr<GsfInput> file(gsf_input_memory_new(mapped->data(), static_cast<gsf_off_t>(mapped->size()), FALSE));
    if (!file) return ImportStatus::Unreadable;
    GError* err = nullptr;
    GPtr<GsfInfile> ole(gsf_infile_msole_new(file.get(), &err));
    if (err) g_error_free(err);
    if (!ole) return ImportStatus::Unreadable;
    GPtr<GsfInput> word(gsf_infile_child_by_name(ole.get(), "WordDocument"));
    std::string fib;
    if (!word || !readAt(word.get(), 0, 0x1AA, fib) || le16(fib, 0) != 0xA5EC) return ImportStatus::Unreadable;
    const uint16_t flags = le16(fib, 0x0A);
    if (flags & 0x0100) return ImportStatus::Encrypted;  // fEncrypted
    GPtr<GsfInput> table(gsf_infile_child_by_name(ole.get(), (flags & 0x0200) ? "1Table" : "0Table"));
    const uint32_t fcClx = le32(fib, 0x1A2), lcbClx = le32(fib, 0x1A6);
    std::string clx;
    std::vector<Piece> pieces;
    if (!table || lcbClx > kMaxClxBytes || !readAt(table.get(), fcClx, lcbClx, clx) || !readPieces(clx, pieces))
      return ImportStatus::Unreadable;

    // The text of every story: main text, footnotes, headers, comments,
    // endnotes, text boxes (ccpText .. ccpHdrTxbx in the FIB).
    uint64_t lastCp = 0;
    for (size_t at = 0x4C; at <= 0x68; at += 4)
      if (at != 0x58) lastCp += le32(fib, at);  // 0x58: ccpMcr, unused
    const Ranges deleted = deletedRanges(word.get(), table.get(), fib);
    WordText text;
    std::string bytes;
    for (const Piece& p : pieces) {
      if (text.full() || p.cpStart >= lastCp) break;
      const uint64_t chars = std::min<uint64_t>(p.cpEnd, lastCp) - p.cpStart;
      if (!readAt(word.get(), p.fc, p.compressed ? chars : 2 * chars, bytes)) continue;
      text.add(decodePiece(withoutDeleted(std::move(bytes), p.fc, deleted), p.compressed));
    }
    sink.addText(text.take());
    importProperties(ole.get(), sink);
    return ImportStatus::Imported;
  }
};

}  // namespace

const Importer& docImporter() {
  static const DocImporter importer;
  return importer;
}

}  // namespace mdindex
