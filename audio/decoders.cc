#include "audio/decoders.h"

#include <mad.h>

#include <algorithm>
#include <cstring>

#include "audio/mpeg_format.h"

namespace audio {
namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// How far after the expected start ProbeMpeg looks for the first frame.
constexpr size_t kMpegSearchBytes = 256 * 1024;

class WavDecoder final : public Decoder {
 public:
  WavDecoder(Source* source, const WavInfo& info,
             std::unique_ptr<platform::ConversionStream> stream)
      : source_(source), info_(info), stream_(std::move(stream)) {
    size_t unit = stream_->source_unit();
    chunk_ = std::max<size_t>(unit, 16384 / unit * unit);
  }

  Result Next(std::vector<uint8_t>* pcm) override {
    if (!started_) {
      if (!source_->Seek(info_.data_start)) return Result::kError;
      started_ = true;
    }
    if (consumed_ >= info_.data_size && pending_.empty()) return Result::kEnd;
    size_t want = static_cast<size_t>(
        std::min<uint64_t>(chunk_, info_.data_size - consumed_));
    size_t have = pending_.size();
    pending_.resize(have + want);
    size_t got = source_->ReadFully(pending_.data() + have, want);
    pending_.resize(have + got);
    consumed_ += got;
    bool last = got < want || consumed_ >= info_.data_size;
    if (got < want) consumed_ = info_.data_size;  // the source ended early
    size_t used = stream_->Convert(pending_, pcm, last);
    pending_.erase(pending_.begin(), pending_.begin() + used);
    if (last) pending_.clear();
    return Result::kData;
  }

  bool Rewind() override {
    consumed_ = 0;
    pending_.clear();
    started_ = false;
    return source_->Seek(info_.data_start);
  }

  platform::PcmFormat format() const override { return info_.pcm; }

 private:
  Source* source_;
  WavInfo info_;
  std::unique_ptr<platform::ConversionStream> stream_;
  size_t chunk_;
  uint64_t consumed_ = 0;         // data bytes read
  std::vector<uint8_t> pending_;  // read, not yet converted
  bool started_ = false;
};

class MpegDecoder final : public Decoder {
 public:
  MpegDecoder(Source* source, const MpegInfo& info)
      : source_(source), info_(info), input_(kInputSize + MAD_BUFFER_GUARD) {
    Init();
  }
  ~MpegDecoder() override { Finish(); }

  Result Next(std::vector<uint8_t>* pcm) override {
    if (!started_) {
      if (!source_->Seek(info_.data_start)) return Result::kError;
      started_ = true;
    }
    for (;;) {
      if (stream_.buffer == nullptr || stream_.error == MAD_ERROR_BUFLEN) {
        if (!Refill()) return Result::kEnd;
      }
      if (mad_frame_decode(&frame_, &stream_) != 0) {
        if (MAD_RECOVERABLE(stream_.error) ||
            stream_.error == MAD_ERROR_BUFLEN) {
          continue;
        }
        return Result::kError;
      }
      mad_synth_frame(&synth_, &frame_);
      Append(pcm);
      return Result::kData;
    }
  }

  bool Rewind() override {
    Finish();
    Init();
    started_ = false;
    return source_->Seek(info_.data_start);
  }

  platform::PcmFormat format() const override {
    return platform::PcmFormat{static_cast<uint16_t>(info_.channels),
                               info_.sample_rate, 16};
  }

 private:
  static constexpr size_t kInputSize = 16384;

  void Init() {
    mad_stream_init(&stream_);
    mad_frame_init(&frame_);
    mad_synth_init(&synth_);
    filled_ = 0;
    read_ = 0;
    guard_added_ = false;
  }
  void Finish() {
    mad_synth_finish(&synth_);
    mad_frame_finish(&frame_);
    mad_stream_finish(&stream_);
  }

  // Moves the unread tail to the front and reads more behind it; at the
  // end of the data adds the zero guard libmad needs to finish the last
  // frame. False when there is nothing more at all.
  bool Refill() {
    if (guard_added_) return false;
    size_t keep = 0;
    if (stream_.next_frame != nullptr) {
      keep = static_cast<size_t>(stream_.bufend - stream_.next_frame);
      if (keep >= kInputSize) keep = 0;  // no frame is this long: drop it
      std::memmove(input_.data(), stream_.next_frame, keep);
    }
    size_t want = kInputSize - keep;
    if (info_.data_end) {
      uint64_t left = *info_.data_end > info_.data_start + read_
                          ? *info_.data_end - info_.data_start - read_
                          : 0;
      want = static_cast<size_t>(std::min<uint64_t>(want, left));
    }
    size_t got = want > 0 ? source_->ReadFully(input_.data() + keep, want) : 0;
    read_ += got;
    filled_ = keep + got;
    if (got == 0) {
      std::memset(input_.data() + filled_, 0, MAD_BUFFER_GUARD);
      filled_ += MAD_BUFFER_GUARD;
      guard_added_ = true;
    }
    mad_stream_buffer(&stream_, input_.data(), filled_);
    stream_.error = MAD_ERROR_NONE;
    return true;
  }

  static int16_t Scale(mad_fixed_t sample) {
    sample += 1L << (MAD_F_FRACBITS - 16);
    if (sample >= MAD_F_ONE) {
      sample = MAD_F_ONE - 1;
    } else if (sample < -MAD_F_ONE) {
      sample = -MAD_F_ONE;
    }
    return static_cast<int16_t>(sample >> (MAD_F_FRACBITS + 1 - 16));
  }

  void Append(std::vector<uint8_t>* pcm) {
    const mad_pcm& out = synth_.pcm;
    const int out_channels = info_.channels;
    size_t at = pcm->size();
    pcm->resize(at + static_cast<size_t>(out.length) * out_channels * 2);
    uint8_t* p = pcm->data() + at;
    auto put = [&p](mad_fixed_t sample) {
      int16_t s = Scale(sample);
      p[0] = static_cast<uint8_t>(s & 0xFF);
      p[1] = static_cast<uint8_t>((s >> 8) & 0xFF);
      p += 2;
    };
    const mad_fixed_t* left = out.samples[0];
    // A frame of the other channel count than the stream started with
    // (streams may switch) is mixed down or doubled.
    const mad_fixed_t* right = out.channels > 1 ? out.samples[1] : left;
    if (out_channels == 2) {
      for (unsigned i = 0; i < out.length; ++i) {
        put(left[i]);
        put(right[i]);
      }
    } else {
      for (unsigned i = 0; i < out.length; ++i) put(left[i]);
    }
  }

  Source* source_;
  MpegInfo info_;
  std::vector<uint8_t> input_;
  size_t filled_ = 0;
  uint64_t read_ = 0;  // bytes read from data_start
  bool guard_added_ = false;
  bool started_ = false;
  mad_stream stream_;
  mad_frame frame_;
  mad_synth synth_;
};

}  // namespace

std::optional<WavInfo> ReadWavHeader(Source& source) {
  if (!source.Seek(0)) return std::nullopt;
  uint8_t head[12];
  if (source.ReadFully(head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
      std::memcmp(head + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  WavInfo info;
  // Chunks up to "fmt ".
  for (;;) {
    uint8_t chunk[8];
    if (source.ReadFully(chunk, 8) != 8) return std::nullopt;
    uint32_t size = Le32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || size > kMaxFormatChunk) return std::nullopt;
      std::vector<uint8_t> body(size);
      if (source.ReadFully(body.data(), size) != size) return std::nullopt;
      std::optional<platform::WaveFormat> format =
          platform::WaveFormat::Parse(body);
      if (!format || format->block_align > kMaxBlockAlign) return std::nullopt;
      info.source_format = *format;
      break;
    }
    if (!source.Skip(static_cast<uint64_t>(size) + (size & 1))) {
      return std::nullopt;
    }
  }
  std::optional<platform::PcmFormat> pcm =
      platform::SuggestPcmFormat(info.source_format);
  if (!pcm) return std::nullopt;
  info.pcm = *pcm;
  // An optional "fact" chunk right after.
  uint64_t after_format = source.Tell();
  uint8_t fact[12];
  if (source.ReadFully(fact, 12) == 12 && std::memcmp(fact, "fact", 4) == 0 &&
      Le32(fact + 4) == 4) {
    info.fact_samples = Le32(fact + 8);
  } else if (!source.Seek(after_format)) {
    return std::nullopt;
  }
  // Byte by byte to "data".
  uint32_t window = 0;
  uint64_t scanned = 0;
  const uint32_t kData =
      'd' | ('a' << 8) | ('t' << 16) | (static_cast<uint32_t>('a') << 24);
  for (;;) {
    uint8_t byte;
    if (scanned > kMaxDataScan || source.Read(&byte, 1) != 1) {
      return std::nullopt;
    }
    ++scanned;
    window = (window >> 8) | (static_cast<uint32_t>(byte) << 24);
    if (scanned >= 4 && window == kData) break;
  }
  uint8_t size_bytes[4];
  if (source.ReadFully(size_bytes, 4) != 4) return std::nullopt;
  info.data_start = source.Tell();
  info.data_size = Le32(size_bytes);
  if (std::optional<uint64_t> total = source.Size()) {
    uint64_t available =
        *total > info.data_start ? *total - info.data_start : 0;
    info.data_size = std::min(info.data_size, available);
  }
  const platform::WaveFormat& f = info.source_format;
  if (info.data_size == 0) return std::nullopt;
  if (f.EffectiveTag() == platform::kWaveFormatPcm) {
    info.length_frames = info.data_size / f.block_align;
  } else if (info.fact_samples) {
    info.length_frames = *info.fact_samples;
  } else if (f.average_bytes_per_second > 0) {
    info.length_frames =
        info.data_size * f.samples_per_second / f.average_bytes_per_second;
  }
  return info;
}

std::optional<MpegInfo> ProbeMpeg(Source& source) {
  if (!source.Seek(0)) return std::nullopt;
  std::vector<uint8_t> head(kRecognitionBytes);
  head.resize(source.ReadFully(head.data(), head.size()));
  MpegInfo info;
  if (uint64_t tag = Id3v2TagSize(head); tag > 0) {
    info.data_start = tag;
  } else if (head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0) {
    // The audio of a RIFF wrapper is its "data" chunk.
    uint64_t at = 12;
    while (source.Seek(at)) {
      uint8_t chunk[8];
      if (source.ReadFully(chunk, 8) != 8) break;
      uint32_t size = Le32(chunk + 4);
      if (std::memcmp(chunk, "data", 4) == 0) {
        info.data_start = at + 8;
        info.data_end = info.data_start + size;
        break;
      }
      at += 8 + static_cast<uint64_t>(size) + (size & 1);
    }
  }
  std::optional<uint64_t> total = source.Size();
  if (total && info.data_end && *info.data_end > *total) info.data_end = total;
  if (!source.Seek(info.data_start)) return std::nullopt;
  size_t limit = kMpegSearchBytes;
  if (info.data_end) {
    limit = static_cast<size_t>(
        std::min<uint64_t>(limit, *info.data_end > info.data_start
                                      ? *info.data_end - info.data_start
                                      : 0));
  }
  // Read a little at a time: a stream delivers its bytes in real time.
  std::vector<uint8_t> block;
  std::optional<size_t> first;
  while (block.size() < limit) {
    size_t have = block.size();
    size_t want = std::min<size_t>(kRecognitionBytes, limit - have);
    block.resize(have + want);
    size_t got = source.ReadFully(block.data() + have, want);
    block.resize(have + got);
    // A header near the end of the block may be confirmed by the next read.
    first = FindConfirmedFrame(block);
    if (first || got < want) break;
  }
  if (!first) return std::nullopt;
  std::optional<FrameHeader> header =
      ParseFrameHeader(std::span<const uint8_t>(block).subspan(*first));
  if (!header) return std::nullopt;
  info.data_start += *first;
  info.channels = header->channels;
  info.sample_rate = header->sample_rate;
  info.layer = header->layer;
  info.bitrate = header->bitrate;
  std::span<const uint8_t> frame = std::span<const uint8_t>(block).subspan(
      *first, std::min<size_t>(header->frame_length, block.size() - *first));
  if (std::optional<uint32_t> frames = XingFrameCount(frame, *header)) {
    // The information frame itself decodes to one frame of silence.
    info.length_frames =
        (static_cast<uint64_t>(*frames) + 1) * header->samples_per_frame;
  } else if (std::optional<uint64_t> end =
                 info.data_end ? info.data_end : total) {
    uint64_t bytes = *end > info.data_start ? *end - info.data_start : 0;
    info.length_frames = bytes * 8 * header->sample_rate / header->bitrate;
  }
  if (!source.Seek(info.data_start)) return std::nullopt;
  return info;
}

std::unique_ptr<Decoder> MakeWavDecoder(Source* source, const WavInfo& info) {
  std::unique_ptr<platform::ConversionStream> stream =
      platform::ConversionStream::Open(info.source_format, info.pcm);
  if (stream == nullptr) return nullptr;
  return std::make_unique<WavDecoder>(source, info, std::move(stream));
}

std::unique_ptr<Decoder> MakeMpegDecoder(Source* source, const MpegInfo& info) {
  return std::make_unique<MpegDecoder>(source, info);
}

}  // namespace audio
