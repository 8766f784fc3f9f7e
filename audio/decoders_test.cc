// The WAV reader and converter over every variant the test-sound script
// makes, damaged WAV headers, and the MPEG decoder against Debian's mpg123.
#include "audio/decoders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/testing/source_tree.h"

namespace audio {
namespace {

std::filesystem::path TestData(const std::string& name) {
  return platform::testing::SourceFolderOf(__FILE__) / "testdata" / name;
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<int16_t> ToSamples(const std::vector<uint8_t>& pcm, int bits) {
  std::vector<int16_t> samples;
  if (bits == 8) {
    for (uint8_t b : pcm) samples.push_back(int16_t((b - 128) << 8));
  } else {
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
      samples.push_back(int16_t(pcm[i] | (pcm[i + 1] << 8)));
    }
  }
  return samples;
}

// Everything a decoder gives, as 16-bit samples.
std::vector<int16_t> DecodeAll(Decoder& decoder) {
  std::vector<uint8_t> pcm;
  while (decoder.Next(&pcm) == Decoder::Result::kData) {
  }
  return ToSamples(pcm, decoder.format().bits_per_sample);
}

struct Decoded {
  std::optional<WavInfo> info;
  std::vector<int16_t> samples;
};

Decoded DecodeWav(std::vector<uint8_t> bytes) {
  Decoded result;
  std::unique_ptr<Source> source = MemorySource(std::move(bytes));
  result.info = ReadWavHeader(*source);
  if (!result.info) return result;
  std::unique_ptr<Decoder> decoder = MakeWavDecoder(source.get(), *result.info);
  if (decoder == nullptr) {
    result.info.reset();
    return result;
  }
  result.samples = DecodeAll(*decoder);
  return result;
}

int MaxDifference(const std::vector<int16_t>& a,
                  const std::vector<int16_t>& b) {
  int worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    worst = std::max(worst, std::abs(a[i] - b[i]));
  }
  return worst;
}

// The root mean square of the difference, relative to that of `b`.
double RelativeError(const std::vector<int16_t>& a,
                     const std::vector<int16_t>& b) {
  double error = 0, signal = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    error += double(a[i] - b[i]) * (a[i] - b[i]);
    signal += double(b[i]) * b[i];
  }
  return signal > 0 ? std::sqrt(error / signal) : 1.0;
}

TEST(WavReaderTest, EveryVariantOpensWithItsFormatLengthAndSound) {
  Decoded reference = DecodeWav(ReadBytes(TestData("pcm16.wav")));
  ASSERT_TRUE(reference.info);
  EXPECT_EQ(reference.info->length_frames, 4000u);
  ASSERT_EQ(reference.samples.size(), 4000u);

  struct Variant {
    const char* file;
    uint16_t tag;   // effective tag
    int bits_out;   // converted width
    int tolerance;  // largest allowed difference from the 16-bit original
  } variants[] = {
      {"pcm16.wav", 0x0001, 16, 0},   {"pcm8.wav", 0x0001, 8, 512},
      {"pcm24.wav", 0x0001, 16, 1},   {"pcm32.wav", 0x0001, 16, 1},
      {"float32.wav", 0x0003, 16, 1}, {"mulaw.wav", 0x0007, 16, 600},
      {"alaw.wav", 0x0006, 16, 600},  {"ima-adpcm.wav", 0x0011, 16, 4000},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.file);
    Decoded d = DecodeWav(ReadBytes(TestData(v.file)));
    ASSERT_TRUE(d.info);
    EXPECT_EQ(d.info->source_format.EffectiveTag(), v.tag);
    EXPECT_EQ(d.info->pcm.channels, 1);
    EXPECT_EQ(d.info->pcm.sample_rate, 8000u);
    EXPECT_EQ(d.info->pcm.bits_per_sample, v.bits_out);
    // ADPCM blocks round the length up to whole blocks; the fact chunk
    // tells the true count.
    EXPECT_EQ(d.info->length_frames, 4000u);
    ASSERT_GE(d.samples.size(), 4000u);
    EXPECT_LE(MaxDifference(d.samples, reference.samples), v.tolerance);
    EXPECT_LT(RelativeError(d.samples, reference.samples), 0.05);
  }

  // Stereo ADPCM interleaves per 8 samples; the channels stay apart.
  Decoded stereo = DecodeWav(ReadBytes(TestData("ima-adpcm-stereo.wav")));
  Decoded stereo_pcm = DecodeWav(ReadBytes(TestData("pcm16-stereo.wav")));
  ASSERT_TRUE(stereo.info && stereo_pcm.info);
  EXPECT_EQ(stereo.info->pcm.channels, 2);
  EXPECT_EQ(stereo.info->pcm.sample_rate, 22050u);
  ASSERT_GE(stereo.samples.size(), stereo_pcm.samples.size());
  // (The encoder itself leaves a few large steps; the decoding matches
  // sox's sample for sample.)
  EXPECT_LT(RelativeError(stereo.samples, stereo_pcm.samples), 0.05);

  // GSM is a WAV the converter refuses.
  EXPECT_FALSE(DecodeWav(ReadBytes(TestData("gsm.wav"))).info);
}

// A PCM WAV file made in the test, for damaging.
std::vector<uint8_t> MakeWav(uint32_t data_bytes, uint16_t block_align = 2) {
  std::vector<uint8_t> w;
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) w.push_back(uint8_t(v >> (8 * i)));
  };
  auto put16 = [&](uint16_t v) {
    w.push_back(uint8_t(v));
    w.push_back(uint8_t(v >> 8));
  };
  auto tag = [&](const char* t) {
    for (int i = 0; i < 4; ++i) w.push_back(uint8_t(t[i]));
  };
  tag("RIFF");
  put32(36 + data_bytes);
  tag("WAVE");
  tag("LIST");  // a chunk before "fmt " is skipped
  put32(4);
  tag("INFO");
  tag("fmt ");
  put32(16);
  put16(1);
  put16(1);
  put32(8000);
  put32(16000);
  put16(block_align);
  put16(16);
  tag("data");
  put32(data_bytes);
  for (uint32_t i = 0; i < data_bytes; ++i) w.push_back(uint8_t(i * 7));
  return w;
}

TEST(WavReaderTest, DamagedHeadersFailOrPlayWhatIsThere) {
  Decoded whole = DecodeWav(MakeWav(1000));
  ASSERT_TRUE(whole.info);
  EXPECT_EQ(whole.info->data_size, 1000u);
  EXPECT_EQ(whole.samples.size(), 500u);

  // The data chunk claims more than the file holds: cut to the file.
  std::vector<uint8_t> truncated = MakeWav(1000);
  truncated.resize(truncated.size() - 301);
  Decoded cut = DecodeWav(truncated);
  ASSERT_TRUE(cut.info);
  EXPECT_EQ(cut.info->data_size, 699u);
  EXPECT_EQ(cut.info->length_frames, 349u);
  EXPECT_EQ(cut.samples.size(), 349u);

  // Zero-length data, a block alignment over 4096, no "data", a "fmt "
  // chunk cut short, a chunk size running past the end, not RIFF at all.
  EXPECT_FALSE(DecodeWav(MakeWav(0)).info);
  EXPECT_FALSE(DecodeWav(MakeWav(100, 4098)).info);
  std::vector<uint8_t> no_data = MakeWav(8);
  std::memcpy(no_data.data() + no_data.size() - 16, "dat!", 4);
  EXPECT_FALSE(DecodeWav(no_data).info);
  std::vector<uint8_t> short_fmt = MakeWav(8);
  short_fmt.resize(40);
  EXPECT_FALSE(DecodeWav(short_fmt).info);
  std::vector<uint8_t> huge_chunk = MakeWav(8);
  huge_chunk[16] = huge_chunk[17] = huge_chunk[18] = 0xFF;  // LIST size
  EXPECT_FALSE(DecodeWav(huge_chunk).info);
  std::vector<uint8_t> not_riff = MakeWav(8);
  not_riff[0] = 'X';
  EXPECT_FALSE(DecodeWav(not_riff).info);
  EXPECT_FALSE(DecodeWav({}).info);
}

// mpg123's decoding of `file` as interleaved samples; empty when mpg123 is
// not installed.
std::vector<int16_t> Mpg123Decode(const std::filesystem::path& file) {
  std::string command =
      "mpg123 -q --no-gapless -s '" + file.string() + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  std::vector<uint8_t> bytes;
  if (pipe == nullptr) return {};
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  pclose(pipe);
  return ToSamples(bytes, 16);
}

}  // namespace

// The largest difference between `ours` and `reference` at the alignment
// (whole frames of `frame_samples` samples, either way) where they agree
// best; the frames `ours` is shifted by goes to `shift`.
int CompareAligned(const std::vector<int16_t>& ours,
                   const std::vector<int16_t>& reference, int frame_samples,
                   int* shift) {
  int best = INT32_MAX;
  for (int s = -1; s <= 1; ++s) {
    size_t a = s > 0 ? size_t(s * frame_samples) : 0;
    size_t b = s < 0 ? size_t(-s * frame_samples) : 0;
    if (a >= ours.size() || b >= reference.size()) continue;
    int worst = 0;
    for (size_t i = 0; a + i < ours.size() && b + i < reference.size(); ++i) {
      worst = std::max(worst, std::abs(ours[a + i] - reference[b + i]));
    }
    if (worst < best) {
      best = worst;
      *shift = s;
    }
  }
  return best;
}

namespace {

TEST(MpegDecoderTest, MatchesMpg123) {
  if (std::system("command -v mpg123 >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "mpg123 is not installed (scripts/install-deps)";
  }
  struct Case {
    const char* file;
    int channels;
    uint32_t rate;
    int frame;  // samples per channel in one frame
  } cases[] = {{"tone.mp3", 2, 44100, 1152},
               {"tone-id3.mp3", 2, 44100, 1152},
               {"tone-22k-mono.mp3", 1, 22050, 576},
               {"tone.mp2", 2, 44100, 1152}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::unique_ptr<Source> source = OpenHostFile(TestData(c.file));
    ASSERT_NE(source, nullptr);
    std::optional<MpegInfo> info = ProbeMpeg(*source);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->channels, c.channels);
    EXPECT_EQ(info->sample_rate, c.rate);
    // Two seconds, estimated from the information frame or the bitrate.
    EXPECT_NEAR(double(info->length_frames) / c.rate, 2.0, 0.1);
    std::unique_ptr<Decoder> decoder = MakeMpegDecoder(source.get(), *info);
    std::vector<int16_t> ours = DecodeAll(*decoder);
    std::vector<int16_t> reference = Mpg123Decode(TestData(c.file));
    ASSERT_FALSE(reference.empty());
    // Same length within a frame (the encoder's information frame decodes
    // to silence here and is skipped by mpg123).
    EXPECT_LE(std::abs(long(ours.size()) - long(reference.size())),
              long(c.frame * c.channels));
    int shift = 0;
    EXPECT_LE(CompareAligned(ours, reference, c.frame * c.channels, &shift), 4);

    // Rewinding plays the same again.
    ASSERT_TRUE(decoder->Rewind());
    EXPECT_EQ(DecodeAll(*decoder), ours);
  }
}

TEST(MpegDecoderTest, WrappedMpegAndDamagedStreams) {
  std::vector<int16_t> plain;
  {
    std::unique_ptr<Source> source =
        OpenHostFile(TestData("tone-22k-mono.mp3"));
    std::optional<MpegInfo> info = ProbeMpeg(*source);
    ASSERT_TRUE(info);
    plain = DecodeAll(*MakeMpegDecoder(source.get(), *info));
  }
  // The RIFF wrappers decode to the same samples.
  for (const char* file : {"tone-riff.wav", "tone.rmp"}) {
    SCOPED_TRACE(file);
    std::unique_ptr<Source> source = OpenHostFile(TestData(file));
    std::optional<MpegInfo> info = ProbeMpeg(*source);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->sample_rate, 22050u);
    EXPECT_EQ(DecodeAll(*MakeMpegDecoder(source.get(), *info)), plain);
  }

  std::vector<uint8_t> mp3 = ReadBytes(TestData("tone.mp3"));
  // Cut in the middle of a frame: what is whole plays.
  std::vector<uint8_t> cut(mp3.begin(), mp3.begin() + long(mp3.size() / 2));
  std::unique_ptr<Source> source = MemorySource(cut);
  std::optional<MpegInfo> info = ProbeMpeg(*source);
  ASSERT_TRUE(info);
  size_t half = DecodeAll(*MakeMpegDecoder(source.get(), *info)).size();
  EXPECT_GT(half, 40000u);
  EXPECT_LT(half, 100000u);

  // Garbage in the middle: decoding resynchronises and goes on.
  std::vector<uint8_t> holed = mp3;
  for (size_t i = 10000; i < 12000; ++i) holed[i] = uint8_t(i * 31);
  source = MemorySource(holed);
  info = ProbeMpeg(*source);
  ASSERT_TRUE(info);
  EXPECT_GT(DecodeAll(*MakeMpegDecoder(source.get(), *info)).size(), 150000u);

  // An ID3 tag followed by garbage only, or claiming more than the file.
  std::vector<uint8_t> tag_then_noise = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10};
  for (int i = 0; i < 20000; ++i) tag_then_noise.push_back(uint8_t(i * 13));
  source = MemorySource(tag_then_noise);
  EXPECT_FALSE(ProbeMpeg(*source));
  std::vector<uint8_t> big_tag = {'I', 'D',  '3',  3,    0,
                                  0,   0x7F, 0x7F, 0x7F, 0x7F};
  big_tag.insert(big_tag.end(), mp3.begin(), mp3.begin() + 5000);
  source = MemorySource(big_tag);
  EXPECT_FALSE(ProbeMpeg(*source));
}

}  // namespace
}  // namespace audio
