#include "audio/mpeg_format.h"

#include <cstring>

namespace audio {
namespace {

// kbit/s by [MPEG-1?][layer-1][index], index 1..14.
constexpr uint16_t kBitrates[2][3][15] = {
    // MPEG-2 and MPEG-2.5
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    // MPEG-1
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
};

constexpr uint32_t kSampleRates[3][3] = {
    {44100, 48000, 32000},  // MPEG-1
    {22050, 24000, 16000},  // MPEG-2
    {11025, 12000, 8000},   // MPEG-2.5
};

constexpr std::string_view kGenres[] = {
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    "Alternative",
    "Ska",
    "Death Metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    "AlternRock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental Pop",
    "Instrumental Rock",
    "Ethnic",
    "Gothic",
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta",
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychadelic",
    "Rave",
    "Showtunes",
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    // The later additions.
    "Folk",
    "Folk-Rock",
    "National Folk",
    "Swing",
    "Fast Fusion",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    "Avantgarde",
    "Gothic Rock",
    "Progressive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber Music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "Power Ballad",
    "Rhythmic Soul",
    "Freestyle",
    "Duet",
    "Punk Rock",
    "Drum Solo",
    "A capella",
    "Euro-House",
    "Dance Hall",
    "Goa",
    "Drum & Bass",
    "Club-House",
    "Hardcore",
    "Terror",
    "Indie",
    "BritPop",
    "Negerpunk",
    "Polsk Punk",
    "Beat",
    "Christian Gangsta Rap",
    "Heavy Metal",
    "Black Metal",
    "Crossover",
    "Contemporary Christian",
    "Christian Rock",
    "Merengue",
    "Salsa",
    "Thrash Metal",
    "Anime",
    "JPop",
    "Synthpop",
};
static_assert(std::size(kGenres) == 148);

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

bool SameStream(const FrameHeader& a, const FrameHeader& b) {
  return a.version == b.version && a.layer == b.layer &&
         a.sample_rate == b.sample_rate;
}

}  // namespace

std::optional<FrameHeader> ParseFrameHeader(std::span<const uint8_t> bytes) {
  if (bytes.size() < 4) return std::nullopt;
  uint32_t h = (static_cast<uint32_t>(bytes[0]) << 24) |
               (static_cast<uint32_t>(bytes[1]) << 16) |
               (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
  if ((h & 0xFFE00000u) != 0xFFE00000u) return std::nullopt;
  uint32_t version_bits = (h >> 19) & 3;
  uint32_t layer_bits = (h >> 17) & 3;
  uint32_t bitrate_index = (h >> 12) & 15;
  uint32_t rate_index = (h >> 10) & 3;
  if (version_bits == 1 || layer_bits == 0 || bitrate_index == 0 ||
      bitrate_index == 15 || rate_index == 3) {
    return std::nullopt;
  }
  FrameHeader f;
  f.version = version_bits == 3   ? MpegVersion::kMpeg1
              : version_bits == 2 ? MpegVersion::kMpeg2
                                  : MpegVersion::kMpeg25;
  f.layer = 4 - static_cast<int>(layer_bits);
  bool mpeg1 = f.version == MpegVersion::kMpeg1;
  f.bitrate = kBitrates[mpeg1 ? 1 : 0][f.layer - 1][bitrate_index] * 1000u;
  f.sample_rate = kSampleRates[static_cast<int>(f.version)][rate_index];
  f.padding = ((h >> 9) & 1) != 0;
  f.channels = ((h >> 6) & 3) == 3 ? 1 : 2;
  uint32_t pad = f.padding ? 1 : 0;
  if (f.layer == 1) {
    f.frame_length = (12 * f.bitrate / f.sample_rate + pad) * 4;
    f.samples_per_frame = 384;
  } else if (f.layer == 2 || mpeg1) {
    f.frame_length = 144 * f.bitrate / f.sample_rate + pad;
    f.samples_per_frame = 1152;
  } else {
    f.frame_length = 72 * f.bitrate / f.sample_rate + pad;
    f.samples_per_frame = 576;
  }
  return f;
}

std::optional<size_t> FindConfirmedFrame(std::span<const uint8_t> data) {
  for (size_t at = 0; at + 4 <= data.size(); ++at) {
    if (data[at] != 0xFF) continue;
    std::optional<FrameHeader> first = ParseFrameHeader(data.subspan(at));
    if (!first) continue;
    size_t next = at + first->frame_length;
    if (next + 4 > data.size()) continue;
    std::optional<FrameHeader> second = ParseFrameHeader(data.subspan(next));
    if (second && SameStream(*first, *second)) return at;
  }
  return std::nullopt;
}

bool LooksLikeMpeg(std::span<const uint8_t> head) {
  if (head.size() > kRecognitionBytes) head = head.first(kRecognitionBytes);
  if (head.size() >= 3 && std::memcmp(head.data(), "ID3", 3) == 0) return true;
  if (head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0) {
    if (std::memcmp(head.data() + 8, "RMP3", 4) == 0) return true;
    if (std::memcmp(head.data() + 8, "WAVE", 4) == 0) {
      size_t at = 12;
      while (at + 8 <= head.size()) {
        uint32_t size = Le32(head.data() + at + 4);
        if (std::memcmp(head.data() + at, "fmt ", 4) == 0) {
          if (at + 10 > head.size() || size < 2) break;
          uint16_t tag =
              static_cast<uint16_t>(head[at + 8] | (head[at + 9] << 8));
          if (tag == 0x55 || tag == 0x50) return true;
          break;
        }
        uint64_t next = static_cast<uint64_t>(at) + 8 + size + (size & 1);
        if (next > head.size()) break;
        at = static_cast<size_t>(next);
      }
    }
  }
  return FindConfirmedFrame(head).has_value();
}

uint64_t Id3v2TagSize(std::span<const uint8_t> head) {
  if (head.size() < 10 || std::memcmp(head.data(), "ID3", 3) != 0) return 0;
  uint64_t size = 0;
  for (int i = 6; i < 10; ++i) size = (size << 7) | (head[i] & 0x7F);
  size += 10;
  if (head[5] & 0x10) size += 10;  // footer
  return size;
}

std::optional<uint32_t> XingFrameCount(std::span<const uint8_t> frame,
                                       const FrameHeader& header) {
  size_t offset;
  if (header.version == MpegVersion::kMpeg1) {
    offset = header.channels == 1 ? 4 + 17 : 4 + 32;
  } else {
    offset = header.channels == 1 ? 4 + 9 : 4 + 17;
  }
  if (header.layer != 3 || frame.size() < offset + 12) return std::nullopt;
  const uint8_t* p = frame.data() + offset;
  if (std::memcmp(p, "Xing", 4) != 0 && std::memcmp(p, "Info", 4) != 0) {
    return std::nullopt;
  }
  auto be32 = [](const uint8_t* q) {
    return (static_cast<uint32_t>(q[0]) << 24) |
           (static_cast<uint32_t>(q[1]) << 16) |
           (static_cast<uint32_t>(q[2]) << 8) | q[3];
  };
  if ((be32(p + 4) & 1) == 0) return std::nullopt;
  return be32(p + 8);
}

std::string_view GenreName(int genre) {
  if (genre < 0 || genre >= static_cast<int>(std::size(kGenres))) {
    return "Unknown";
  }
  return kGenres[genre];
}

}  // namespace audio
