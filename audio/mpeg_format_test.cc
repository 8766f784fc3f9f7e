// Frame headers, the MPEG recogniser, ID3 tags, genres and the HTTP
// address and title rules, on bytes made in the test.
#include "audio/mpeg_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audio/http_source.h"

namespace audio {
namespace {

// A frame of `length` bytes starting with `header` (the rest zero).
void AddFrame(std::vector<uint8_t>* out, uint32_t header) {
  uint8_t bytes[4] = {uint8_t(header >> 24), uint8_t(header >> 16),
                      uint8_t(header >> 8), uint8_t(header)};
  std::optional<FrameHeader> parsed = ParseFrameHeader(bytes);
  ASSERT_TRUE(parsed);
  size_t at = out->size();
  out->resize(at + parsed->frame_length, 0);
  std::memcpy(out->data() + at, bytes, 4);
}

constexpr uint32_t kMpeg1Layer3_128k = 0xFFFB9064;  // 44100 Hz, stereo
constexpr uint32_t kMpeg2Layer3_32k = 0xFFF34064;   // 22050 Hz
constexpr uint32_t kMpeg1Layer2_128k = 0xFFFD9004;

TEST(MpegFormatTest, FrameHeadersAndLengths) {
  uint8_t l3[4] = {0xFF, 0xFB, 0x90, 0x64};
  std::optional<FrameHeader> h = ParseFrameHeader(l3);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->version, MpegVersion::kMpeg1);
  EXPECT_EQ(h->layer, 3);
  EXPECT_EQ(h->bitrate, 128000u);
  EXPECT_EQ(h->sample_rate, 44100u);
  EXPECT_EQ(h->frame_length, 417u);  // 144 * 128000 / 44100
  EXPECT_EQ(h->channels, 2);
  l3[2] |= 0x02;  // padding
  EXPECT_EQ(ParseFrameHeader(l3)->frame_length, 418u);

  // MPEG-2 layer III uses 72 per frame; layer I counts 4-byte slots.
  uint8_t m2[4] = {0xFF, 0xF3, 0x40, 0xC4};
  h = ParseFrameHeader(m2);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->version, MpegVersion::kMpeg2);
  EXPECT_EQ(h->sample_rate, 22050u);
  EXPECT_EQ(h->frame_length, 72u * 32000 / 22050);
  EXPECT_EQ(h->channels, 1);
  uint8_t l1[4] = {0xFF, 0xFF, 0x10, 0x00};  // MPEG-1 L1 32 kbit/s 44100
  EXPECT_EQ(ParseFrameHeader(l1)->frame_length, (12u * 32000 / 44100) * 4);
  uint8_t m25[4] = {0xFF, 0xE3, 0x10, 0x00};  // MPEG-2.5 L3 8 kbit/s
  h = ParseFrameHeader(m25);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->version, MpegVersion::kMpeg25);
  EXPECT_EQ(h->sample_rate, 11025u);

  // Undefined fields: reserved version, reserved layer, free format and
  // bad bitrates, reserved rate, broken sync, short input.
  for (auto bad : std::vector<std::vector<uint8_t>>{{0xFF, 0xEB, 0x90, 0x64},
                                                    {0xFF, 0xF9, 0x90, 0x64},
                                                    {0xFF, 0xFB, 0x00, 0x64},
                                                    {0xFF, 0xFB, 0xF0, 0x64},
                                                    {0xFF, 0xFB, 0x9C, 0x64},
                                                    {0xFE, 0xFB, 0x90, 0x64},
                                                    {0xFF, 0xFB, 0x90}}) {
    EXPECT_FALSE(ParseFrameHeader(bad)) << int(bad[1]) << " " << int(bad[2]);
  }
}

TEST(MpegFormatTest, RecognisesMpegByItsFirstBytes) {
  auto bytes = [](std::string_view text) {
    return std::vector<uint8_t>(text.begin(), text.end());
  };
  EXPECT_TRUE(LooksLikeMpeg(bytes("ID3\x03")));
  EXPECT_TRUE(LooksLikeMpeg(bytes(std::string("RIFF\0\0\0\0RMP3", 12))));
  std::string wave("RIFF\0\0\0\0WAVEfmt \x12\0\0\0\x55\0", 22);
  EXPECT_TRUE(LooksLikeMpeg(bytes(wave)));
  wave[20] = 0x50;
  EXPECT_TRUE(LooksLikeMpeg(bytes(wave)));
  wave[20] = 0x01;  // PCM is WAV, not MPEG
  EXPECT_FALSE(LooksLikeMpeg(bytes(wave)));
  // A "fmt " after another chunk is found too.
  std::string later("RIFF\0\0\0\0WAVELIST\x03\0\0\0abc\0fmt \x12\0\0\0\x55\0",
                    34);
  EXPECT_TRUE(LooksLikeMpeg(bytes(later)));

  // Two headers exactly one frame apart, after some junk.
  std::vector<uint8_t> frames = {'j', 'u', 'n', 'k'};
  AddFrame(&frames, kMpeg1Layer3_128k);
  AddFrame(&frames, kMpeg1Layer3_128k);
  frames.resize(frames.size() + 4);
  EXPECT_TRUE(LooksLikeMpeg(frames));
  EXPECT_EQ(FindConfirmedFrame(frames), 4u);

  // A single header, or a second of another layer or rate, is not enough.
  std::vector<uint8_t> one;
  AddFrame(&one, kMpeg1Layer3_128k);
  one.resize(one.size() + 600, 0x11);
  EXPECT_FALSE(LooksLikeMpeg(one));
  std::vector<uint8_t> mixed;
  AddFrame(&mixed, kMpeg1Layer3_128k);
  AddFrame(&mixed, kMpeg1Layer2_128k);
  EXPECT_FALSE(LooksLikeMpeg(mixed));
  std::vector<uint8_t> rates;
  AddFrame(&rates, kMpeg1Layer3_128k);
  AddFrame(&rates, kMpeg2Layer3_32k);
  EXPECT_FALSE(LooksLikeMpeg(rates));

  // Only the first 4096 bytes count.
  std::vector<uint8_t> late(4096, 0);
  AddFrame(&late, kMpeg1Layer3_128k);
  AddFrame(&late, kMpeg1Layer3_128k);
  EXPECT_FALSE(LooksLikeMpeg(late));
  EXPECT_FALSE(LooksLikeMpeg({}));
}

TEST(MpegFormatTest, Id3TagsAndGenres) {
  uint8_t tag[10] = {'I', 'D', '3', 4, 0, 0, 0, 0, 0x02, 0x01};
  EXPECT_EQ(Id3v2TagSize(tag), 10u + 257);
  tag[5] = 0x10;  // with a footer
  EXPECT_EQ(Id3v2TagSize(tag), 20u + 257);
  EXPECT_EQ(Id3v2TagSize(std::span<const uint8_t>(tag, 9)), 0u);

  EXPECT_EQ(GenreName(0), "Blues");
  EXPECT_EQ(GenreName(79), "Hard Rock");
  EXPECT_EQ(GenreName(80), "Folk");
  EXPECT_EQ(GenreName(147), "Synthpop");
  EXPECT_EQ(GenreName(148), "Unknown");
  EXPECT_EQ(GenreName(-1), "Unknown");
  EXPECT_EQ(GenreName(255), "Unknown");
}

TEST(HttpAddressTest, HostPortPathAndTitles) {
  std::string host, path;
  int port = 0;
  ASSERT_TRUE(ParseHttpAddress("http://radio.example:8000/live.mp3", &host,
                               &port, &path)
                  .ok());
  EXPECT_EQ(host, "radio.example");
  EXPECT_EQ(port, 8000);
  EXPECT_EQ(path, "/live.mp3");
  ASSERT_TRUE(
      ParseHttpAddress("http://radio.example/a/b", &host, &port, &path).ok());
  EXPECT_EQ(port, 80);
  EXPECT_EQ(path, "/a/b");
  ASSERT_TRUE(ParseHttpAddress("127.0.0.1:9", &host, &port, &path).ok());
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 9);
  EXPECT_EQ(path, "/");
  EXPECT_EQ(ParseHttpAddress("http://", &host, &port, &path).code(),
            platform::ErrorCode::kInvalidArgument);
  EXPECT_EQ(ParseHttpAddress("http://h:70000/", &host, &port, &path).code(),
            platform::ErrorCode::kInvalidArgument);

  EXPECT_EQ(StreamTitleOf("StreamTitle='Artist - Song';StreamUrl='';"),
            "Artist - Song");
  EXPECT_EQ(StreamTitleOf(std::string_view("StreamTitle='Cut\0\0", 18)), "Cut");
  EXPECT_EQ(StreamTitleOf("StreamUrl='x';"), "");
}

}  // namespace
}  // namespace audio
