// MPEG audio frame headers (MPEG-1, MPEG-2 and MPEG-2.5, layers I to III),
// the recogniser that tells MPEG audio from other data by its first bytes,
// and the ID3 genre names.
//
// All functions are pure and safe on any input: they never read outside the
// span they are given.
#ifndef TELVANE_AUDIO_MPEG_FORMAT_H_
#define TELVANE_AUDIO_MPEG_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace audio {

enum class MpegVersion { kMpeg1, kMpeg2, kMpeg25 };

struct FrameHeader {
  MpegVersion version = MpegVersion::kMpeg1;
  int layer = 0;             // 1, 2 or 3
  uint32_t bitrate = 0;      // bits per second
  uint32_t sample_rate = 0;  // Hz
  bool padding = false;
  int channels = 0;           // 1 (mono) or 2
  uint32_t frame_length = 0;  // bytes, header included
  uint32_t samples_per_frame = 0;
};

// Decodes the 4 bytes at `bytes` as a frame header. nullopt unless the sync
// bits are set and version, layer, bitrate (free format is not defined) and
// sample rate are all defined.
std::optional<FrameHeader> ParseFrameHeader(std::span<const uint8_t> bytes);

// How much of the recognition block to look at.
inline constexpr size_t kRecognitionBytes = 4096;

// True when `head` (the first bytes of a source, at most kRecognitionBytes
// are looked at) is MPEG audio: "ID3" at the start; a RIFF "RMP3" form; a
// RIFF "WAVE" whose "fmt " chunk has the format tag 0x55 or 0x50; or,
// anywhere in the block, a valid frame header followed exactly one frame
// length later by another valid header of the same version, layer and
// sample rate.
bool LooksLikeMpeg(std::span<const uint8_t> head);

// The offset of the first frame header in `data` that is confirmed by the
// next one (both inside `data`), as LooksLikeMpeg's last rule finds them.
std::optional<size_t> FindConfirmedFrame(std::span<const uint8_t> data);

// The size of an ID3v2 tag at the start of `head` (10-byte header, the
// syncsafe size, and the footer when flagged), or 0 when there is none.
uint64_t Id3v2TagSize(std::span<const uint8_t> head);

// The frame count of a Xing/Info (LAME) frame, when `frame` is one that
// states it.
std::optional<uint32_t> XingFrameCount(std::span<const uint8_t> frame,
                                       const FrameHeader& header);

// The genre of an ID3 genre number: 0..147 name the ID3v1 list with its
// later additions (147 is "Synthpop"); anything else is "Unknown".
std::string_view GenreName(int genre);

}  // namespace audio

#endif  // TELVANE_AUDIO_MPEG_FORMAT_H_
