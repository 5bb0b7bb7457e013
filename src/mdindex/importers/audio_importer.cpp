// TagLib reads the tags; this file maps them to the attribute names and
// keeps their values bounded.
#include "mdindex/importers/audio_importer.h"

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "mdindex/core/fold.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/text_codec.h"

namespace mdindex {
namespace {

// A tag string as UTF-8, trimmed and cut to the field bound.
std::string field(const TagLib::String& s) {
  std::string out = s.to8Bit(true);
  if (out.size() > audio::kMaxFieldBytes) {
    size_t cut = audio::kMaxFieldBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return sanitizeUtf8(trimAscii(out));
}

// Every value of a multi-valued tag field ("ARTIST"), empty ones dropped.
std::vector<std::string> values(const TagLib::PropertyMap& properties, const char* key) {
  std::vector<std::string> out;
  const auto it = properties.find(key);
  if (it == properties.end()) return out;
  for (const TagLib::String& v : it->second) {
    std::string s = field(v);
    if (!s.empty() && out.size() < 64) out.push_back(std::move(s));
  }
  return out;
}

// The leading number of a field ("2024-05-14", "3/12"), or 0.
double leadingNumber(const std::vector<std::string>& v) {
  if (v.empty()) return 0;
  double n = 0;
  for (char c : v.front()) {
    if (c < '0' || c > '9' || n > 1e9) break;
    n = n * 10 + (c - '0');
  }
  return n;
}

// The tag fields, from the property map that merges every tag a file
// carries (a WAV file's RIFF INFO chunk as well as its ID3v2 tag), else
// from the format's main tag.
// Returns how many attributes it set.
int importTags(const TagLib::FileRef& ref, Sink& sink) {
  int set = 0;
  const TagLib::PropertyMap properties = ref.file()->properties();
  const TagLib::Tag* tag = ref.tag();
  const auto get = [&](const char* key, TagLib::String (TagLib::Tag::*fallback)() const) {
    std::vector<std::string> v = values(properties, key);
    if (v.empty() && tag) {
      std::string s = field((tag->*fallback)());
      if (!s.empty()) v.push_back(std::move(s));
    }
    return v;
  };
  const auto setValue = [&](const char* name, Value v) {
    sink.setAttribute(name, std::move(v));
    ++set;
  };
  const auto setFirst = [&](const char* name, const std::vector<std::string>& v) {
    if (!v.empty()) setValue(name, v.front());
  };
  setFirst(attr::Title, get("TITLE", &TagLib::Tag::title));
  setFirst("kMDItemAlbum", get("ALBUM", &TagLib::Tag::album));
  setFirst("kMDItemMusicalGenre", get("GENRE", &TagLib::Tag::genre));
  setFirst("kMDItemComment", get("COMMENT", &TagLib::Tag::comment));
  setFirst("kMDItemComposer", values(properties, "COMPOSER"));
  std::vector<std::string> artists = get("ARTIST", &TagLib::Tag::artist);
  if (!artists.empty()) setValue(attr::Authors, std::move(artists));
  double year = leadingNumber(values(properties, "DATE"));
  if (year <= 0 && tag) year = tag->year();
  if (year > 0) setValue("kMDItemRecordingYear", year);
  double track = leadingNumber(values(properties, "TRACKNUMBER"));
  if (track <= 0 && tag) track = tag->track();
  if (track > 0) setValue("kMDItemAudioTrackNumber", track);
  return set;
}

// TagLib holds tag text as UTF-32 and copies it more than once: a tag of
// a hundred megabytes would need gigabytes. An ID3v2 tag in front of the
// stream declares its size in its header, so such a file is refused
// before TagLib reads it. (Other containers' tags are rarely that large;
// the import child's memory limit stops one that is.)
bool oversizedId3v2(TagLib::FileStream& stream) {
  stream.seek(0);
  const TagLib::ByteVector head = stream.readBlock(10);
  stream.seek(0);
  if (head.size() < 10 || !head.startsWith("ID3")) return false;
  uint64_t size = 0;
  for (int i = 6; i < 10; ++i) size = size << 7 | (static_cast<unsigned char>(head[i]) & 0x7F);
  return size > audio::kMaxTagBytes;
}

void setPositive(Sink& sink, const char* name, double value) {
  if (value > 0) sink.setAttribute(name, value);
}

class AudioImporter final : public Importer {
 public:
  std::string name() const override { return "Audio.mdimporter"; }
  std::vector<std::string> utis() const override {
    return {"public.mp3",          "org.xiph.flac", "org.xiph.ogg-audio",           "org.xiph.opus",
            "com.apple.m4a-audio", "public.mpeg-4", "com.microsoft.waveform-audio", "public.aiff-audio"};
  }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    // Read-only: TagLib's own file opening would try read-write first. The
    // stream owns the descriptor once it opened it.
    const int fd = openImportedFile(path);
    if (fd < 0) return ImportStatus::Unreadable;
    TagLib::FileStream stream(fd, true);
    if (!stream.isOpen()) {
      ::close(fd);
      return ImportStatus::Unreadable;
    }
    if (oversizedId3v2(stream)) return ImportStatus::TooLarge;
    const TagLib::FileRef ref(&stream, true, TagLib::AudioProperties::Average);
    if (ref.isNull() || !ref.file()->isValid()) return ImportStatus::Unreadable;

    const int tags = importTags(ref, sink);
    const TagLib::AudioProperties* p = ref.audioProperties();
    // Neither a tag nor a stream TagLib can measure: damaged, not music.
    if (tags == 0 && (!p || p->sampleRate() <= 0)) return ImportStatus::Unreadable;
    if (p) {
      setPositive(sink, "kMDItemDurationSeconds", p->lengthInMilliseconds() / 1000.0);
      setPositive(sink, "kMDItemAudioBitRate", p->bitrate());
      setPositive(sink, "kMDItemAudioSampleRate", p->sampleRate());
      setPositive(sink, "kMDItemAudioChannelCount", p->channels());
    }
    return ImportStatus::Imported;
  }
};

}  // namespace

const Importer& audioImporter() {
  static const AudioImporter importer;
  return importer;
}

}  // namespace mdindex
