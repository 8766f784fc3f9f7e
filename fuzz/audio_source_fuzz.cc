// Fuzz target for the player's readers of outside sound files: the MPEG
// recogniser, the MPEG probe and libmad decoding (bounded), and the WAV
// header rules with the conversion to PCM. Every input is one file's bytes
// in memory. Invariants: a WAV header's data lies inside the file, its
// block alignment is at most 4096, and decoding produces whole frames.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio/decoders.h"
#include "audio/mpeg_format.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "audio_source_fuzz: %s\n", what);
  abort();
}

// Decodes at most `pieces` pieces and checks their shape.
void Drain(audio::Decoder& decoder, int pieces) {
  platform::PcmFormat format = decoder.format();
  size_t frame = format.BytesPerFrame();
  Check(frame > 0, "decoder without a format");
  for (int i = 0; i < pieces; ++i) {
    std::vector<uint8_t> pcm;
    if (decoder.Next(&pcm) != audio::Decoder::Result::kData) break;
    Check(pcm.size() % frame == 0, "a piece of PCM with a partial frame");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  audio::LooksLikeMpeg(bytes);

  std::unique_ptr<audio::Source> source = audio::MemorySource(bytes);
  if (std::optional<audio::MpegInfo> info = audio::ProbeMpeg(*source)) {
    Check(info->data_start < size, "MPEG data starts past the end");
    Check(info->channels == 1 || info->channels == 2, "bad channel count");
    std::unique_ptr<audio::Decoder> decoder =
        audio::MakeMpegDecoder(source.get(), *info);
    Drain(*decoder, 64);
  }

  source = audio::MemorySource(bytes);
  if (std::optional<audio::WavInfo> info = audio::ReadWavHeader(*source)) {
    Check(info->data_start + info->data_size <= size,
          "WAV data runs past the end of the file");
    Check(info->data_size > 0, "empty WAV data accepted");
    Check(info->source_format.block_align <= audio::kMaxBlockAlign,
          "block alignment over the limit");
    if (std::unique_ptr<audio::Decoder> decoder =
            audio::MakeWavDecoder(source.get(), *info)) {
      Drain(*decoder, 1 << 16);
    }
  }
  return 0;
}
