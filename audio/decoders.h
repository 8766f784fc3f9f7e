// The player's two readers: WAV (header rules, then conversion to PCM by the
// platform's converter) and MPEG audio (libmad). Both read through a
// Source, produce interleaved little-endian PCM, and survive damaged input:
// a header that does not parse is a failed open, damaged data ends the
// sound early.
//
// Thread-compatible.
#ifndef TELVANE_AUDIO_DECODERS_H_
#define TELVANE_AUDIO_DECODERS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "audio/source.h"
#include "platform/audio_convert.h"
#include "platform/wave_out.h"

namespace audio {

// Limits of the WAV header rules.
inline constexpr uint16_t kMaxBlockAlign = 4096;
inline constexpr uint32_t kMaxFormatChunk = 65536;
// How far the reader scans for the "data" chunk after "fmt " (and "fact").
inline constexpr uint64_t kMaxDataScan = 16u << 20;

struct WavInfo {
  platform::WaveFormat source_format;
  platform::PcmFormat pcm;  // what the converter produces
  uint64_t data_start = 0;  // offset of the data chunk's body
  uint64_t data_size = 0;   // cut to what the source holds
  std::optional<uint32_t> fact_samples;
  uint64_t length_frames = 0;  // samples per channel
};

// Reads a WAV header from the start of `source`: "RIFF", "WAVE", chunks
// skipped up to "fmt " (read in full, block alignment at most 4096), a
// converter suggestion for it, an optional "fact" chunk of size 4 right
// after it, then a byte-by-byte scan for "data". nullopt when any rule
// fails.
std::optional<WavInfo> ReadWavHeader(Source& source);

struct MpegInfo {
  uint64_t data_start = 0;  // first frame (after an ID3v2 tag, a RIFF head)
  std::optional<uint64_t> data_end;  // end of a RIFF data chunk
  int channels = 0;
  uint32_t sample_rate = 0;
  int layer = 0;
  uint32_t bitrate = 0;        // of the first frame
  uint64_t length_frames = 0;  // estimated; 0 when unknown (streams)
};

// Finds the first confirmed frame of an MPEG source (after an ID3v2 tag or
// inside a RIFF wrapper) and the stream's format; nullopt when none is
// found within the first 256 KiB after where the audio should start.
std::optional<MpegInfo> ProbeMpeg(Source& source);

class Decoder {
 public:
  enum class Result { kData, kEnd, kError };
  virtual ~Decoder() = default;
  // Appends the next piece of PCM to `pcm` (kData), or tells the end.
  virtual Result Next(std::vector<uint8_t>* pcm) = 0;
  // Back to the first sample; false when the source cannot go back.
  virtual bool Rewind() = 0;
  virtual platform::PcmFormat format() const = 0;
};

// The decoders borrow the source, which must outlive them.
std::unique_ptr<Decoder> MakeWavDecoder(Source* source, const WavInfo& info);
std::unique_ptr<Decoder> MakeMpegDecoder(Source* source, const MpegInfo& info);

}  // namespace audio

#endif  // TELVANE_AUDIO_DECODERS_H_
