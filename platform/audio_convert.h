// Audio format conversion: the device's converter from WAV data formats to
// 16-bit PCM that wave-out plays.
//
// Accepted source formats (format tag of a WAV "fmt " chunk):
//   0x0001 PCM, 8 (unsigned), 16, 24 or 32 bits per sample;
//   0x0003 IEEE float, 32 or 64 bits (clipped to -1..1);
//   0x0006 A-law and 0x0007 mu-law, 8 bits;
//   0x0011 IMA ADPCM, 4 bits, with its block layout (a 4-byte header per
//          channel, then 4-byte groups of eight samples per channel);
//   0xFFFE extensible, when its sub-format is PCM or IEEE float.
// One or two channels, 1000..192000 Hz. 8-bit PCM converts to 8-bit PCM
// (wave-out plays it); everything else converts to 16-bit PCM. Other formats
// are refused: SuggestPcmFormat gives nullopt and OpenConversion fails.
//
// Thread-compatible: a ConversionStream is used by one thread at a time.
#ifndef TELVANE_PLATFORM_AUDIO_CONVERT_H_
#define TELVANE_PLATFORM_AUDIO_CONVERT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/status.h"
#include "platform/wave_out.h"

namespace platform {

inline constexpr uint16_t kWaveFormatPcm = 0x0001;
inline constexpr uint16_t kWaveFormatIeeeFloat = 0x0003;
inline constexpr uint16_t kWaveFormatALaw = 0x0006;
inline constexpr uint16_t kWaveFormatMuLaw = 0x0007;
inline constexpr uint16_t kWaveFormatImaAdpcm = 0x0011;
inline constexpr uint16_t kWaveFormatMpeg = 0x0050;
inline constexpr uint16_t kWaveFormatMpegLayer3 = 0x0055;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// The "fmt " chunk of a WAV file as it is stored.
struct WaveFormat {
  uint16_t format_tag = 0;
  uint16_t channels = 0;
  uint32_t samples_per_second = 0;
  uint32_t average_bytes_per_second = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  std::vector<uint8_t> extra;  // the bytes after the 16-byte core, if any

  // Parses a chunk body; nullopt when shorter than 16 bytes. `extra` is
  // the declared extra block cut to what the body holds.
  static std::optional<WaveFormat> Parse(std::span<const uint8_t> body);
  // The effective tag: the sub-format of an extensible format.
  uint16_t EffectiveTag() const;
};

// The PCM format the converter would produce for `source`; nullopt for a
// source it cannot convert.
std::optional<PcmFormat> SuggestPcmFormat(const WaveFormat& source);

// A conversion from one source format to its suggested PCM format.
class ConversionStream {
 public:
  // Fails with kInvalidArgument for a source the converter refuses or a
  // target other than the suggestion.
  static std::unique_ptr<ConversionStream> Open(const WaveFormat& source,
                                                const PcmFormat& target,
                                                Status* status = nullptr);

  // The size of the source's unit of conversion (a frame, or an ADPCM
  // block): Convert consumes whole units only.
  size_t source_unit() const { return unit_; }

  // Converts as many whole units of `input` as there are, appending the
  // PCM to `output`; returns the number of input bytes consumed. With
  // `last` set, a trailing partial ADPCM block is decoded as far as it goes
  // (a partial frame is dropped) and consumed.
  size_t Convert(std::span<const uint8_t> input, std::vector<uint8_t>* output,
                 bool last = false);

 private:
  ConversionStream(uint16_t tag, const WaveFormat& source, PcmFormat target,
                   size_t unit)
      : tag_(tag), source_(source), target_(target), unit_(unit) {}
  void ConvertUnit(const uint8_t* unit, size_t size,
                   std::vector<uint8_t>* output);
  void DecodeImaBlock(const uint8_t* block, size_t size,
                      std::vector<uint8_t>* output);

  uint16_t tag_;
  WaveFormat source_;
  PcmFormat target_;
  size_t unit_;
};

}  // namespace platform

#endif  // TELVANE_PLATFORM_AUDIO_CONVERT_H_
