// Music and films: the tags and playing time of MP3, FLAC, Ogg (Vorbis,
// Opus, FLAC), MPEG-4 (.m4a, .mp4, .m4v), WAV and AIFF files, read with
// TagLib from whichever tag the file carries (ID3v1/v2, Vorbis comments,
// APE, MPEG-4 atoms, RIFF INFO).
//
// What it gives the sink (attributes only, no text):
// - kMDItemTitle, kMDItemAuthors (every artist), kMDItemAlbum,
//   kMDItemComposer, kMDItemMusicalGenre, kMDItemComment,
//   kMDItemRecordingYear, kMDItemAudioTrackNumber: from the tags, where set;
//   each string cut to kMaxFieldBytes (a whole character kept), so that a
//   tag of a hundred megabytes costs no more than a short one.
// - kMDItemDurationSeconds (to the millisecond), kMDItemAudioBitRate
//   (kbit/s), kMDItemAudioSampleRate (Hz), kMDItemAudioChannelCount: from
//   the stream, where TagLib can tell them.
//
// Status: Imported; TooLarge for a file whose leading ID3v2 tag declares
// more than kMaxTagBytes (TagLib would need several times that in memory);
// Unreadable when TagLib does not take the file as one of these formats
// (damaged, empty, or another format under the name). The file is opened
// read-only. Safe to call from several threads.
#pragma once

#include <cstddef>

#include "mdindex/importers/importer.h"

namespace mdindex {

const Importer& audioImporter();

namespace audio {
inline constexpr size_t kMaxFieldBytes = 64 * 1024;
inline constexpr size_t kMaxTagBytes = 32u << 20;
}

}  // namespace mdindex
