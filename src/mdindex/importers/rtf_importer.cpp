#include "mdindex/importers/rtf_importer.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/text_codec.h"

namespace mdindex {

namespace {

enum class Dest : unsigned char {
  Body,      // document text
  Skip,      // ignored destination
  Info,      // inside \info, outside a field we keep
  Title,     // \info\title
  Author,    // \info\author
  Keywords,  // \info\keywords
};

struct GroupState {
  int uc = 1;  // characters to skip after \uN
  Dest dest = Dest::Body;
};

enum class WordAction {
  Text,       // emits `text`
  Skip,       // starts an ignored destination
  Info,       // starts the \info group
  Title,
  Author,
  Keywords,
  Unicode,    // \uN
  UcCount,    // \ucN
  CodePage,   // \ansicpgN
  MacRoman,   // \mac
  Pc,         // \pc
  Pca,        // \pca
  Binary,     // \binN
};

struct Word {
  std::string_view name;
  WordAction action;
  char32_t text = 0;
};

// The control words that matter; every other word is formatting and ignored.
constexpr Word kWords[] = {
    {"par", WordAction::Text, U'\n'},       {"line", WordAction::Text, U'\n'},
    {"sect", WordAction::Text, U'\n'},      {"page", WordAction::Text, U'\n'},
    {"row", WordAction::Text, U'\n'},       {"cell", WordAction::Text, U'\t'},
    {"tab", WordAction::Text, U'\t'},       {"emdash", WordAction::Text, 0x2014},
    {"endash", WordAction::Text, 0x2013},   {"bullet", WordAction::Text, 0x2022},
    {"lquote", WordAction::Text, 0x2018},   {"rquote", WordAction::Text, 0x2019},
    {"ldblquote", WordAction::Text, 0x201C}, {"rdblquote", WordAction::Text, 0x201D},
    {"emspace", WordAction::Text, 0x2003},  {"enspace", WordAction::Text, 0x2002},
    {"qmspace", WordAction::Text, 0x2005},
    {"u", WordAction::Unicode},             {"uc", WordAction::UcCount},
    {"ansicpg", WordAction::CodePage},      {"mac", WordAction::MacRoman},
    {"pc", WordAction::Pc},                 {"pca", WordAction::Pca},
    {"bin", WordAction::Binary},
    {"info", WordAction::Info},             {"title", WordAction::Title},
    {"author", WordAction::Author},         {"keywords", WordAction::Keywords},
    {"fonttbl", WordAction::Skip},          {"colortbl", WordAction::Skip},
    {"stylesheet", WordAction::Skip},       {"pict", WordAction::Skip},
    {"object", WordAction::Skip},           {"objdata", WordAction::Skip},
    {"listtable", WordAction::Skip},        {"listoverridetable", WordAction::Skip},
    {"rsidtbl", WordAction::Skip},          {"generator", WordAction::Skip},
    {"themedata", WordAction::Skip},        {"colorschememapping", WordAction::Skip},
    {"latentstyles", WordAction::Skip},     {"datastore", WordAction::Skip},
    {"xmlnstbl", WordAction::Skip},         {"filetbl", WordAction::Skip},
    {"revtbl", WordAction::Skip},           {"pgdsctbl", WordAction::Skip},
    {"fldinst", WordAction::Skip},          {"shpinst", WordAction::Skip},
    {"nonshppict", WordAction::Skip},       {"bkmkstart", WordAction::Skip},
    {"bkmkend", WordAction::Skip},          {"xe", WordAction::Skip},
    {"tc", WordAction::Skip},               {"userprops", WordAction::Skip},
    {"docvar", WordAction::Skip},           {"template", WordAction::Skip},
    {"ftnsep", WordAction::Skip},           {"ftnsepc", WordAction::Skip},
    {"aftnsep", WordAction::Skip},          {"aftnsepc", WordAction::Skip},
    {"operator", WordAction::Skip},         {"company", WordAction::Skip},
    {"manager", WordAction::Skip},          {"category", WordAction::Skip},
    {"doccomm", WordAction::Skip},          {"subject", WordAction::Skip},
    {"hlinkbase", WordAction::Skip},        {"creatim", WordAction::Skip},
    {"revtim", WordAction::Skip},           {"printim", WordAction::Skip},
    {"buptim", WordAction::Skip},
};

const Word* findWord(std::string_view name) {
  for (const auto& w : kWords)
    if (w.name == name) return &w;
  return nullptr;
}

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
int hexValue(char c) { return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10); }

class Parser {
 public:
  Parser(std::string_view data, Sink& sink) : data_(data), sink_(sink) {}

  ImportStatus run() {
    if (data_.substr(0, 5) != "{\\rtf") return ImportStatus::Unreadable;
    while (pos_ < data_.size() && !sink_.full()) step();
    flushBytes();
    flushBody();
    finishInfo();
    return ImportStatus::Imported;
  }

 private:
  GroupState& state() { return stack_.back(); }

  void step() {
    const char c = data_[pos_++];
    switch (c) {
      case '{':
        flushBytes();
        skipChars_ = 0;
        stack_.push_back(state());
        return;
      case '}':
        flushBytes();
        skipChars_ = 0;
        if (stack_.size() > 1) stack_.pop_back();
        return;
      case '\\':
        controlSequence();
        return;
      case '\r':
      case '\n':
      case '\0':
        return;
      default:
        if (consumeSkip()) return;
        byte(static_cast<unsigned char>(c));
    }
  }

  // After \uN the next `uc` characters are the fallback for readers that do
  // not know Unicode: drop them.
  bool consumeSkip() {
    if (skipChars_ == 0) return false;
    --skipChars_;
    return true;
  }

  void controlSequence() {
    if (pos_ >= data_.size()) return;
    const char c = data_[pos_];
    if (std::isalpha(static_cast<unsigned char>(c))) {
      controlWord();
      return;
    }
    ++pos_;
    if (c == '\'') {
      if (pos_ + 1 < data_.size() && isHex(data_[pos_]) && isHex(data_[pos_ + 1])) {
        const auto b = static_cast<unsigned char>(hexValue(data_[pos_]) * 16 + hexValue(data_[pos_ + 1]));
        pos_ += 2;
        if (!consumeSkip()) byte(b);
      }
      return;
    }
    if (consumeSkip()) return;
    switch (c) {
      case '\\':
      case '{':
      case '}':
        byte(static_cast<unsigned char>(c));
        break;
      case '~':
        codePoint(0x00A0);
        break;
      case '_':
        codePoint(0x2011);
        break;
      case '*':
        setDest(Dest::Skip);
        break;
      case '\n':
      case '\r':
        codePoint(U'\n');
        break;
      default:
        break;  // \- optional hyphen, \| \: and unknown symbols
    }
  }

  void controlWord() {
    const size_t start = pos_;
    while (pos_ < data_.size() && pos_ - start < 32 && std::isalpha(static_cast<unsigned char>(data_[pos_]))) ++pos_;
    const std::string_view name = data_.substr(start, pos_ - start);
    bool hasParam = false;
    bool negative = false;
    long long param = 0;
    if (pos_ < data_.size() && data_[pos_] == '-') {
      negative = true;
      ++pos_;
    }
    size_t digits = 0;
    while (pos_ < data_.size() && std::isdigit(static_cast<unsigned char>(data_[pos_]))) {
      if (digits++ < 10) param = param * 10 + (data_[pos_] - '0');
      ++pos_;
      hasParam = true;
    }
    if (negative) param = -param;
    if (pos_ < data_.size() && data_[pos_] == ' ') ++pos_;

    const Word* w = findWord(name);
    if (w && w->action == WordAction::Binary) {
      // Raw bytes follow; they are never text.
      const auto n = static_cast<size_t>(std::max<long long>(0, param));
      pos_ = std::min(data_.size(), pos_ + n);
      return;
    }
    if (consumeSkip()) return;
    if (!w) return;
    switch (w->action) {
      case WordAction::Text:
        codePoint(w->text);
        break;
      case WordAction::Unicode: {
        long long v = param;
        if (v < 0) v += 65536;
        if (hasParam) unicodeUnit(static_cast<char32_t>(v));
        skipChars_ = std::max(0, state().uc);
        break;
      }
      case WordAction::UcCount:
        state().uc = hasParam ? static_cast<int>(std::clamp<long long>(param, 0, 16)) : 1;
        break;
      case WordAction::CodePage:
        flushBytes();
        if (hasParam) codePage_ = static_cast<int>(param);
        break;
      case WordAction::MacRoman:
        flushBytes();
        codePage_ = 10000;
        break;
      case WordAction::Pc:
        flushBytes();
        codePage_ = 437;
        break;
      case WordAction::Pca:
        flushBytes();
        codePage_ = 850;
        break;
      case WordAction::Skip:
        setDest(Dest::Skip);
        break;
      case WordAction::Info:
        setDest(Dest::Info);
        break;
      case WordAction::Title:
        setDest(state().dest == Dest::Info ? Dest::Title : Dest::Skip);
        break;
      case WordAction::Author:
        setDest(state().dest == Dest::Info ? Dest::Author : Dest::Skip);
        break;
      case WordAction::Keywords:
        setDest(state().dest == Dest::Info ? Dest::Keywords : Dest::Skip);
        break;
      case WordAction::Binary:
        break;
    }
  }

  void setDest(Dest d) {
    flushBytes();
    // A skipped group stays skipped whatever its members say.
    if (state().dest == Dest::Skip) return;
    state().dest = d;
  }

  std::string* target() {
    switch (state().dest) {
      case Dest::Body: return &body_;
      case Dest::Title: return &title_;
      case Dest::Author: return &author_;
      case Dest::Keywords: return &keywords_;
      case Dest::Skip:
      case Dest::Info: return nullptr;
    }
    return nullptr;
  }

  void byte(unsigned char b) {
    if (target()) pending_ += static_cast<char>(b);
  }

  void codePoint(char32_t cp) {
    flushBytes();
    if (std::string* t = target()) appendUtf8(*t, cp);
    if (body_.size() > 64 * 1024) flushBody();
  }

  // \u values are UTF-16 code units: pair surrogates.
  void unicodeUnit(char32_t u) {
    if (u >= 0xD800 && u <= 0xDBFF) {
      highSurrogate_ = u;
      return;
    }
    if (u >= 0xDC00 && u <= 0xDFFF && highSurrogate_) {
      codePoint(0x10000 + ((highSurrogate_ - 0xD800) << 10) + (u - 0xDC00));
      highSurrogate_ = 0;
      return;
    }
    highSurrogate_ = 0;
    codePoint(u);
  }

  void flushBytes() {
    if (pending_.empty()) return;
    if (std::string* t = target()) *t += codePageToUtf8(pending_, codePage_);
    pending_.clear();
  }

  void flushBody() {
    if (!body_.empty()) sink_.addText(body_);
    body_.clear();
  }

  void finishInfo() {
    const auto title = trimAscii(title_);
    if (!title.empty()) sink_.setAttribute(attr::Title, std::string(title));
    const auto author = trimAscii(author_);
    if (!author.empty()) sink_.setAttribute(attr::Authors, std::vector<std::string>{std::string(author)});
    const auto kw = keywordsFromField(keywords_);
    if (!kw.empty()) sink_.addKeywords(kw);
  }

  std::string_view data_;
  Sink& sink_;
  size_t pos_ = 0;
  std::vector<GroupState> stack_{GroupState{}};
  int codePage_ = 1252;
  int skipChars_ = 0;
  char32_t highSurrogate_ = 0;
  std::string pending_;  // \'xx and literal bytes awaiting code-page conversion
  std::string body_, title_, author_, keywords_;
};

class RtfImporter final : public Importer {
 public:
  std::string name() const override { return "RichText.mdimporter"; }
  std::vector<std::string> utis() const override { return {"public.rtf"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    std::string data;
    if (!readFileBytes(path, data)) return ImportStatus::Unreadable;
    return Parser(data, sink).run();
  }
};

}  // namespace

const Importer& rtfImporter() {
  static const RtfImporter instance;
  return instance;
}

}  // namespace mdindex
