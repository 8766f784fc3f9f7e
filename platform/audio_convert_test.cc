// The converter's formats, decoded from bytes whose values are known.
#include "platform/audio_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace platform {
namespace {

WaveFormat Format(uint16_t tag, uint16_t channels, uint16_t bits,
                  uint16_t block_align, uint32_t rate = 8000) {
  WaveFormat f;
  f.format_tag = tag;
  f.channels = channels;
  f.samples_per_second = rate;
  f.bits_per_sample = bits;
  f.block_align = block_align;
  return f;
}

std::vector<int16_t> Convert(const WaveFormat& f,
                             const std::vector<uint8_t>& in, bool last = true) {
  std::optional<PcmFormat> pcm = SuggestPcmFormat(f);
  EXPECT_TRUE(pcm);
  if (!pcm) return {};
  std::unique_ptr<ConversionStream> stream = ConversionStream::Open(f, *pcm);
  EXPECT_NE(stream, nullptr);
  if (stream == nullptr) return {};
  std::vector<uint8_t> out;
  EXPECT_EQ(stream->Convert(in, &out, last), in.size());
  std::vector<int16_t> samples(out.size() / 2);
  std::memcpy(samples.data(), out.data(), samples.size() * 2);
  return samples;
}

TEST(AudioConvertTest, SampleFormatsToSixteenBits) {
  // mu-law and A-law reference points of G.711.
  EXPECT_EQ(
      Convert(Format(kWaveFormatMuLaw, 1, 8, 1), {0xFF, 0x7F, 0x00, 0x80}),
      (std::vector<int16_t>{0, 0, -32124, 32124}));
  EXPECT_EQ(Convert(Format(kWaveFormatALaw, 1, 8, 1), {0xD5, 0x55, 0xAA, 0x2A}),
            (std::vector<int16_t>{8, -8, 32256, -32256}));
  // 24 and 32 bits keep their top 16 bits.
  EXPECT_EQ(Convert(Format(kWaveFormatPcm, 1, 24, 3),
                    {0x00, 0x34, 0x12, 0xFF, 0xFF, 0xFF}),
            (std::vector<int16_t>{0x1234, -1}));
  EXPECT_EQ(Convert(Format(kWaveFormatPcm, 2, 32, 8),
                    {0, 0, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F}),
            (std::vector<int16_t>{-32768, 32767}));
  // Floats scale by 32768 and clip; NaN is silence.
  std::vector<float> floats = {0.5f, -1.0f, 2.0f, -3.0f, std::nanf("")};
  std::vector<uint8_t> bytes(floats.size() * 4);
  std::memcpy(bytes.data(), floats.data(), bytes.size());
  EXPECT_EQ(Convert(Format(kWaveFormatIeeeFloat, 1, 32, 4), bytes),
            (std::vector<int16_t>{16384, -32768, 32767, -32768, 0}));

  // 8-bit PCM stays 8-bit (wave-out plays it).
  EXPECT_EQ(SuggestPcmFormat(Format(kWaveFormatPcm, 1, 8, 1))->bits_per_sample,
            8);

  // Whole frames only, unless it is the last piece.
  WaveFormat stereo16 = Format(kWaveFormatPcm, 2, 16, 4);
  std::unique_ptr<ConversionStream> stream =
      ConversionStream::Open(stereo16, *SuggestPcmFormat(stereo16));
  std::vector<uint8_t> out;
  std::vector<uint8_t> seven(7, 1);
  EXPECT_EQ(stream->Convert(seven, &out), 4u);
  EXPECT_EQ(out.size(), 4u);
  EXPECT_EQ(stream->Convert(seven, &out, /*last=*/true), 7u);
  EXPECT_EQ(out.size(), 8u);
}

TEST(AudioConvertTest, ImaAdpcmBlocks) {
  // One mono block: predictor 1000, step index 0, then nibbles.
  std::vector<uint8_t> block = {0xE8, 0x03, 0, 0, 0x77, 0x77, 0x00, 0x88};
  std::vector<int16_t> s = Convert(Format(kWaveFormatImaAdpcm, 1, 4, 8), block);
  ASSERT_EQ(s.size(), 9u);
  EXPECT_EQ(s[0], 1000);
  // Nibble 7 at step 7: 7/8 + 7/4 + 7/2 + 7 = 0 + 1 + 3 + 7 = 11 (by
  // shifts); index goes up by 8 each time.
  EXPECT_EQ(s[1], 1011);
  EXPECT_GT(s[2], s[1]);
  EXPECT_GT(s[4], s[3]);
  EXPECT_LT(s[8], s[7]);  // 8: the sign bit with a zero magnitude
  // A partial last block decodes its whole groups; a header alone is one
  // sample.
  EXPECT_EQ(Convert(Format(kWaveFormatImaAdpcm, 1, 4, 8), {0, 0, 0, 0, 1}, true)
                .size(),
            1u);
  // The index byte of a damaged block is clamped, never out of the table.
  std::vector<uint8_t> wild = {0xFF, 0x7F, 200, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Convert(Format(kWaveFormatImaAdpcm, 1, 4, 8), wild).size(), 9u);
}

TEST(AudioConvertTest, RefusedFormatsAndExtensible) {
  EXPECT_FALSE(SuggestPcmFormat(Format(0x0031, 1, 0, 65)));  // GSM
  EXPECT_FALSE(SuggestPcmFormat(Format(kWaveFormatMpegLayer3, 2, 0, 1)));
  EXPECT_FALSE(SuggestPcmFormat(Format(kWaveFormatPcm, 1, 12, 2)));
  EXPECT_FALSE(SuggestPcmFormat(Format(kWaveFormatPcm, 1, 16, 3)));  // align
  EXPECT_FALSE(SuggestPcmFormat(Format(kWaveFormatPcm, 3, 16, 6)));
  EXPECT_FALSE(SuggestPcmFormat(Format(kWaveFormatPcm, 1, 16, 2, 400000)));
  EXPECT_FALSE(SuggestPcmFormat(Format(kWaveFormatImaAdpcm, 1, 4, 6)));
  EXPECT_FALSE(SuggestPcmFormat(Format(kWaveFormatIeeeFloat, 1, 16, 2)));
  EXPECT_EQ(ConversionStream::Open(Format(0x0031, 1, 0, 65), {1, 8000, 16}),
            nullptr);
  // The suggestion is the only target.
  WaveFormat pcm = Format(kWaveFormatPcm, 1, 16, 2);
  EXPECT_EQ(ConversionStream::Open(pcm, {2, 8000, 16}), nullptr);

  // An extensible chunk body with the float sub-format.
  std::vector<uint8_t> body = {
      0xFE, 0xFF, 1,    0, 0x40, 0x1F, 0, 0,    0, 0x7D, 0,    0,    4, 0,
      32,   0,    22,   0, 32,   0,    4, 0,    0, 0,    0x03, 0x00, 0, 0,
      0,    0,    0x10, 0, 0x80, 0,    0, 0xAA, 0, 0x38, 0x9B, 0x71};
  std::optional<WaveFormat> f = WaveFormat::Parse(body);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->EffectiveTag(), kWaveFormatIeeeFloat);
  EXPECT_EQ(SuggestPcmFormat(*f), (PcmFormat{1, 8000, 16}));
  // A short body, or an extensible one cut before its sub-format.
  EXPECT_FALSE(WaveFormat::Parse(std::span(body).first(15)));
  EXPECT_EQ(WaveFormat::Parse(std::span(body).first(24))->EffectiveTag(), 0);
}

}  // namespace
}  // namespace platform
