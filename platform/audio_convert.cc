#include "platform/audio_convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {
namespace {

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void Put16(std::vector<uint8_t>* out, int32_t sample) {
  sample = std::clamp(sample, -32768, 32767);
  out->push_back(static_cast<uint8_t>(sample & 0xFF));
  out->push_back(static_cast<uint8_t>((sample >> 8) & 0xFF));
}

int32_t MuLawToLinear(uint8_t value) {
  value = static_cast<uint8_t>(~value);
  int32_t t = ((value & 0x0F) << 3) + 0x84;
  t <<= (value & 0x70) >> 4;
  return (value & 0x80) ? (0x84 - t) : (t - 0x84);
}

int32_t ALawToLinear(uint8_t value) {
  value ^= 0x55;
  int32_t t = (value & 0x0F) << 4;
  int segment = (value & 0x70) >> 4;
  if (segment == 0) {
    t += 8;
  } else {
    t += 0x108;
    t <<= segment - 1;
  }
  return (value & 0x80) ? t : -t;
}

int32_t FloatToLinear(double value) {
  if (!(value == value)) return 0;  // NaN
  value = std::clamp(value, -1.0, 1.0);
  return static_cast<int32_t>(std::lround(value * 32768.0));
}

constexpr int16_t kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,
    19,    21,    23,    25,    28,    31,    34,    37,    41,    45,
    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,
    337,   371,   408,   449,   494,   544,   598,   658,   724,   796,
    876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,
    5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487, 12635, 13899,
    15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int8_t kImaIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ImaChannel {
  int32_t predictor = 0;
  int index = 0;

  int32_t Decode(uint8_t nibble) {
    int32_t step = kImaSteps[index];
    int32_t diff = step >> 3;
    if (nibble & 1) diff += step >> 2;
    if (nibble & 2) diff += step >> 1;
    if (nibble & 4) diff += step;
    predictor += (nibble & 8) ? -diff : diff;
    predictor = std::clamp(predictor, -32768, 32767);
    index = std::clamp(index + kImaIndexAdjust[nibble & 7], 0, 88);
    return predictor;
  }
};

bool ValidRateAndChannels(const WaveFormat& f) {
  return (f.channels == 1 || f.channels == 2) && f.samples_per_second >= 1000 &&
         f.samples_per_second <= 192000;
}

// The unit Convert consumes for `tag`, or 0 when the source is refused.
size_t UnitFor(uint16_t tag, const WaveFormat& f) {
  if (!ValidRateAndChannels(f)) return 0;
  size_t frame = 0;
  switch (tag) {
    case kWaveFormatPcm:
      if (f.bits_per_sample != 8 && f.bits_per_sample != 16 &&
          f.bits_per_sample != 24 && f.bits_per_sample != 32) {
        return 0;
      }
      frame = f.channels * (f.bits_per_sample / 8u);
      break;
    case kWaveFormatIeeeFloat:
      if (f.bits_per_sample != 32 && f.bits_per_sample != 64) return 0;
      frame = f.channels * (f.bits_per_sample / 8u);
      break;
    case kWaveFormatALaw:
    case kWaveFormatMuLaw:
      if (f.bits_per_sample != 8) return 0;
      frame = f.channels;
      break;
    case kWaveFormatImaAdpcm: {
      size_t header = 4u * f.channels;
      if (f.bits_per_sample != 4 || f.block_align < header ||
          (f.block_align - header) % header != 0) {
        return 0;
      }
      return f.block_align;
    }
    default:
      return 0;
  }
  return f.block_align == frame ? frame : 0;
}

}  // namespace

std::optional<WaveFormat> WaveFormat::Parse(std::span<const uint8_t> body) {
  if (body.size() < 16) return std::nullopt;
  WaveFormat f;
  const uint8_t* p = body.data();
  f.format_tag = Le16(p);
  f.channels = Le16(p + 2);
  f.samples_per_second = Le32(p + 4);
  f.average_bytes_per_second = Le32(p + 8);
  f.block_align = Le16(p + 12);
  f.bits_per_sample = Le16(p + 14);
  if (body.size() >= 18) {
    size_t declared = Le16(p + 16);
    size_t available = std::min(declared, body.size() - 18);
    f.extra.assign(p + 18, p + 18 + available);
  }
  return f;
}

uint16_t WaveFormat::EffectiveTag() const {
  if (format_tag != kWaveFormatExtensible) return format_tag;
  // Valid bits (2), channel mask (4), then the sub-format GUID whose first
  // two bytes are the tag.
  if (extra.size() < 22) return 0;
  return Le16(extra.data() + 6);
}

std::optional<PcmFormat> SuggestPcmFormat(const WaveFormat& source) {
  uint16_t tag = source.EffectiveTag();
  if (UnitFor(tag, source) == 0) return std::nullopt;
  PcmFormat pcm;
  pcm.channels = source.channels;
  pcm.sample_rate = source.samples_per_second;
  pcm.bits_per_sample =
      (tag == kWaveFormatPcm && source.bits_per_sample == 8) ? 8 : 16;
  return pcm;
}

std::unique_ptr<ConversionStream> ConversionStream::Open(
    const WaveFormat& source, const PcmFormat& target, Status* status) {
  std::optional<PcmFormat> suggested = SuggestPcmFormat(source);
  if (!suggested || !(*suggested == target)) {
    if (status != nullptr) {
      *status = Status(ErrorCode::kInvalidArgument,
                       "no conversion from format tag " +
                           std::to_string(source.format_tag) + " to PCM");
    }
    return nullptr;
  }
  if (status != nullptr) *status = Status::Ok();
  uint16_t tag = source.EffectiveTag();
  return std::unique_ptr<ConversionStream>(
      new ConversionStream(tag, source, target, UnitFor(tag, source)));
}

size_t ConversionStream::Convert(std::span<const uint8_t> input,
                                 std::vector<uint8_t>* output, bool last) {
  size_t units = input.size() / unit_;
  if (tag_ == kWaveFormatImaAdpcm) {
    for (size_t i = 0; i < units; ++i) {
      DecodeImaBlock(input.data() + i * unit_, unit_, output);
    }
    size_t rest = input.size() - units * unit_;
    if (last && rest > 0) {
      DecodeImaBlock(input.data() + units * unit_, rest, output);
      return input.size();
    }
    return units * unit_;
  }
  size_t bytes = units * unit_;
  output->reserve(output->size() + units * target_.BytesPerFrame());
  ConvertUnit(input.data(), bytes, output);
  return last ? input.size() : bytes;
}

void ConversionStream::ConvertUnit(const uint8_t* data, size_t size,
                                   std::vector<uint8_t>* output) {
  switch (tag_) {
    case kWaveFormatPcm:
      switch (source_.bits_per_sample) {
        case 8:
          output->insert(output->end(), data, data + size);
          return;
        case 16:
          for (size_t i = 0; i + 2 <= size; i += 2) {
            Put16(output, static_cast<int16_t>(Le16(data + i)));
          }
          return;
        case 24:
          for (size_t i = 0; i + 3 <= size; i += 3) {
            Put16(output, static_cast<int16_t>(Le16(data + i + 1)));
          }
          return;
        case 32:
          for (size_t i = 0; i + 4 <= size; i += 4) {
            Put16(output, static_cast<int16_t>(Le16(data + i + 2)));
          }
          return;
      }
      return;
    case kWaveFormatIeeeFloat:
      if (source_.bits_per_sample == 32) {
        for (size_t i = 0; i + 4 <= size; i += 4) {
          uint32_t bits = Le32(data + i);
          float value;
          std::memcpy(&value, &bits, 4);
          Put16(output, FloatToLinear(value));
        }
      } else {
        for (size_t i = 0; i + 8 <= size; i += 8) {
          uint64_t bits = Le32(data + i) |
                          (static_cast<uint64_t>(Le32(data + i + 4)) << 32);
          double value;
          std::memcpy(&value, &bits, 8);
          Put16(output, FloatToLinear(value));
        }
      }
      return;
    case kWaveFormatALaw:
      for (size_t i = 0; i < size; ++i) Put16(output, ALawToLinear(data[i]));
      return;
    case kWaveFormatMuLaw:
      for (size_t i = 0; i < size; ++i) Put16(output, MuLawToLinear(data[i]));
      return;
  }
}

void ConversionStream::DecodeImaBlock(const uint8_t* block, size_t size,
                                      std::vector<uint8_t>* output) {
  const size_t channels = source_.channels;
  const size_t header = 4 * channels;
  if (size < header) return;
  ImaChannel state[2];
  for (size_t c = 0; c < channels; ++c) {
    state[c].predictor = static_cast<int16_t>(Le16(block + 4 * c));
    state[c].index = std::min<int>(block[4 * c + 2], 88);
  }
  for (size_t c = 0; c < channels; ++c) Put16(output, state[c].predictor);
  // Groups of 4 bytes per channel, interleaved; 8 samples each.
  size_t groups = (size - header) / header;
  int32_t samples[2][8];
  for (size_t g = 0; g < groups; ++g) {
    const uint8_t* group = block + header + g * header;
    for (size_t c = 0; c < channels; ++c) {
      const uint8_t* bytes = group + 4 * c;
      for (int i = 0; i < 4; ++i) {
        samples[c][2 * i] = state[c].Decode(bytes[i] & 0x0F);
        samples[c][2 * i + 1] = state[c].Decode(bytes[i] >> 4);
      }
    }
    for (int i = 0; i < 8; ++i) {
      for (size_t c = 0; c < channels; ++c) Put16(output, samples[c][i]);
    }
  }
}

}  // namespace platform
