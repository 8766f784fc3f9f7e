#include "audio/audio_player.h"

#include <chrono>
#include <cstring>

#include "audio/mpeg_format.h"
#include "platform/modules.h"
#include "platform/threads.h"
#include "platform/unicode.h"

namespace audio {
namespace {

constexpr size_t kMaxPathLength = 259;

}  // namespace

uint32_t BufferFramesFor(uint32_t sample_rate) {
  if (sample_rate <= 11025) return 512;
  if (sample_rate <= 22050) return 1024;
  return 2048;
}

AudioPlayer::AudioPlayer(platform::PlaybackClock* clock)
    : clock_(clock != nullptr ? clock : platform::HostPlaybackClock()) {}

AudioPlayer::~AudioPlayer() {
  std::lock_guard lock(lock_);
  CloseLocked();
  std::lock_guard output_lock(output_mutex_);
  output_.reset();
}

bool AudioPlayer::Open(std::u16string_view path, platform::Status* status) {
  std::lock_guard lock(lock_);
  CloseLocked();
  platform::Status local;
  platform::Status& result = status != nullptr ? *status : local;
  std::unique_ptr<Source> source;
  HttpSource* http = nullptr;
  if (path.substr(0, 7) == u"http://") {
    std::unique_ptr<HttpSource> stream =
        HttpSource::Open(platform::ToUtf8(path), &result);
    if (stream == nullptr) return false;
    http = stream.get();
    source = std::move(stream);
  } else {
    source = OpenDeviceFile(path, &result);
    if (source == nullptr) return false;
  }
  if (!OpenSource(std::move(source), path, &result)) return false;
  http_ = http;
  return true;
}

bool AudioPlayer::OpenSource(std::unique_ptr<Source> source,
                             std::u16string_view name,
                             platform::Status* status) {
  std::lock_guard lock(lock_);
  CloseLocked();
  platform::Status local;
  platform::Status& result = status != nullptr ? *status : local;
  if (source == nullptr) {
    result = platform::Status(platform::ErrorCode::kInvalidArgument,
                              "no source for " + platform::ToUtf8(name));
    return false;
  }
  source_ = std::move(source);
  if (TryMpeg() || TryWav()) {
    path_ = std::u16string(name.substr(0, kMaxPathLength));
    result = platform::Status::Ok();
    return true;
  }
  // A read that failed is the cause, not what the bytes before it were.
  result = source_->failure();
  if (result.ok()) {
    result = platform::Status(
        kNotSound, platform::ToUtf8(name) + " is neither MPEG audio nor WAV");
  }
  source_.reset();
  return false;
}

bool AudioPlayer::TryMpeg() {
  if (!source_->Seek(0)) return false;
  std::vector<uint8_t> head(kRecognitionBytes);
  head.resize(source_->ReadFully(head.data(), head.size()));
  if (!LooksLikeMpeg(head)) return false;
  std::optional<MpegInfo> info = ProbeMpeg(*source_);
  if (!info) return false;
  decoder_ = MakeMpegDecoder(source_.get(), *info);
  kind_ = SourceKind::kMpeg;
  format_ = decoder_->format();
  length_frames_ = info->length_frames;
  return true;
}

bool AudioPlayer::TryWav() {
  std::optional<WavInfo> info = ReadWavHeader(*source_);
  if (!info) return false;
  decoder_ = MakeWavDecoder(source_.get(), *info);
  if (decoder_ == nullptr) return false;
  kind_ = SourceKind::kWav;
  format_ = info->pcm;
  length_frames_ = info->length_frames;
  return true;
}

bool AudioPlayer::Play() {
  std::lock_guard lock(lock_);
  if (kind_ == SourceKind::kNone) return false;
  if (state_ == kPaused) return Pause();
  if (state_ != kStopped) return false;
  if (thread_.joinable()) thread_.join();  // ended on its own
  stop_ = false;
  ended_ = false;
  SetState(kPreparing);
  thread_ = std::thread(&AudioPlayer::Run, this);
  return true;
}

bool AudioPlayer::Pause() {
  std::lock_guard lock(lock_);
  std::lock_guard output_lock(output_mutex_);
  if (state_ == kPlaying && output_ != nullptr) {
    output_->Pause().IgnoreError();
    paused_ = true;
    SetState(kPaused);
    return true;
  }
  if (state_ == kPaused && output_ != nullptr) {
    output_->Restart().IgnoreError();
    paused_ = false;
    SetState(kPlaying);
    return true;
  }
  return false;
}

void AudioPlayer::Stop() {
  std::lock_guard lock(lock_);
  StopLocked();
}

void AudioPlayer::StopLocked() {
  if (thread_.joinable()) {
    stop_ = true;
    {
      std::lock_guard output_lock(output_mutex_);
      if (output_ != nullptr) {
        // A paused output would hold the feeder's write forever.
        output_->Restart().IgnoreError();
        output_->Reset().IgnoreError();
      }
    }
    {
      std::lock_guard buffer_lock(buffer_mutex_);
      buffer_changed_.notify_all();
    }
    thread_.join();
  }
  stop_ = false;
  paused_ = false;
  ended_ = false;
}

int AudioPlayer::GetState() {
  std::lock_guard lock(lock_);
  return state_;
}

void AudioPlayer::SetNotify(Notify notify) {
  std::lock_guard lock(lock_);
  std::lock_guard notify_lock(notify_mutex_);
  notify_ = std::move(notify);
}

SourceKind AudioPlayer::kind() {
  std::lock_guard lock(lock_);
  return kind_;
}

platform::PcmFormat AudioPlayer::format() {
  std::lock_guard lock(lock_);
  return format_;
}

uint64_t AudioPlayer::length_ms() {
  std::lock_guard lock(lock_);
  if (format_.sample_rate == 0) return 0;
  return length_frames_ * 1000 / format_.sample_rate;
}

uint64_t AudioPlayer::position_ms() {
  std::lock_guard lock(lock_);
  std::lock_guard output_lock(output_mutex_);
  if (output_ == nullptr || format_.sample_rate == 0) return 0;
  return output_->Position() * 1000 / format_.sample_rate;
}

std::u16string AudioPlayer::path() {
  std::lock_guard lock(lock_);
  return path_;
}

StreamInfo AudioPlayer::stream_info() {
  std::lock_guard lock(lock_);
  return http_ != nullptr ? http_->info() : StreamInfo{};
}

uint64_t AudioPlayer::underruns() {
  std::lock_guard lock(lock_);
  std::lock_guard output_lock(output_mutex_);
  return output_ != nullptr ? output_->Underruns() : 0;
}

void AudioPlayer::CloseLocked() {
  StopLocked();
  decoder_.reset();
  source_.reset();
  http_ = nullptr;
  kind_ = SourceKind::kNone;
  format_ = {};
  length_frames_ = 0;
  path_.clear();
}

void AudioPlayer::SetState(int state) {
  state_ = state;
  Post(kStateMessage, static_cast<uint32_t>(state));
}

void AudioPlayer::Post(uint32_t message, uint32_t param) {
  Notify notify;
  {
    std::lock_guard notify_lock(notify_mutex_);
    notify = notify_;
  }
  if (notify) notify(message, param);
}

// ---- The playback thread.

void AudioPlayer::Run() {
  bool error = false;
  if (!PrepareOutput()) {
    SetState(kStopped);
    ended_ = true;
    return;
  }
  platform::SetThreadPriority(platform::CurrentThreadId(), kPlaybackPriority);
  SetState(kPlaying);

  std::vector<uint8_t> pcm;
  while (!stop_) {
    pcm.clear();
    Decoder::Result result = decoder_->Next(&pcm);
    if (result == Decoder::Result::kError) {
      error = true;
      break;
    }
    if (result == Decoder::Result::kEnd) break;
    size_t at = 0;
    while (at < pcm.size() && !stop_) {
      uint8_t* buffer = buffer_memory_.data() + fill_index_ * buffer_bytes_;
      size_t& fill = buffer_fill_[fill_index_];
      size_t n = std::min(buffer_bytes_ - fill, pcm.size() - at);
      std::memcpy(buffer + fill, pcm.data() + at, n);
      fill += n;
      at += n;
      if (fill == buffer_bytes_ && !Submit()) break;
    }
    if (feeder_failed_) {
      error = true;
      break;
    }
  }
  if (!stop_ && !error) {
    // The last, partly filled buffer; then wait until everything played,
    // looking every millisecond, when a buffer was written, or when the
    // queued samples should have played, whichever comes first.
    if (buffer_fill_[fill_index_] > 0) Submit();
    uint64_t last_position = UINT64_MAX;
    std::unique_lock buffer_lock(buffer_mutex_);
    while (!stop_ && !feeder_failed_) {
      bool buffers_empty = true;
      for (bool full : buffer_full_) buffers_empty &= !full;
      uint64_t position, queued;
      {
        std::lock_guard output_lock(output_mutex_);
        position = output_->Position();
        queued = output_->Queued();
      }
      if (buffers_empty && queued == 0) break;
      uint64_t position_ms = position * 1000 / format_.sample_rate;
      if (position_ms != last_position) {
        // Posted without the lock, which the feeder needs; then a new look.
        last_position = position_ms;
        buffer_lock.unlock();
        Post(kPositionMessage, static_cast<uint32_t>(position_ms));
        buffer_lock.lock();
        continue;
      }
      auto wait = std::chrono::microseconds(1000);
      if (queued > 0) {
        wait = std::min(wait, std::chrono::microseconds(
                                  (queued * 1000000 + format_.sample_rate - 1) /
                                  format_.sample_rate));
      }
      clock_->WaitUntil(buffer_lock, buffer_changed_, clock_->Now() + wait);
    }
    buffer_lock.unlock();
    if (feeder_failed_) error = true;
  }
  StopFeeder();
  {
    std::lock_guard output_lock(output_mutex_);
    if (output_ != nullptr) {
      output_->Reset().IgnoreError();
      if (error) output_.reset();
    }
  }
  decoder_->Rewind();
  Post(kPositionMessage, 0);
  paused_ = false;
  SetState(kStopped);
  ended_ = true;
}

bool AudioPlayer::PrepareOutput() {
  std::unique_ptr<platform::Library> coredll =
      platform::Library::Load(u"Coredll.dll");
  if (coredll != nullptr) {
    auto raise = reinterpret_cast<platform::CeSetThreadPriorityFunction>(
        coredll->Symbol("CeSetThreadPriority"));
    if (raise != nullptr) {
      raise(platform::CurrentThreadId(), kPreparingPriority);
    }
  }
  {
    std::lock_guard output_lock(output_mutex_);
    if (output_ != nullptr && !(output_->format() == format_)) output_.reset();
  }
  for (int attempt = 0; attempt < kOpenAttempts && !stop_; ++attempt) {
    std::unique_lock output_lock(output_mutex_);
    if (output_ != nullptr) break;
    platform::Status status;
    output_ = platform::WaveOut::Open(format_, &status, clock_);
    if (output_ != nullptr || status.code() != platform::kWaveOutBusy) break;
    output_lock.unlock();
    if (!SleepUnlessStopped(std::chrono::milliseconds(kOpenRetryMs))) break;
  }
  {
    std::lock_guard output_lock(output_mutex_);
    if (output_ == nullptr || stop_) return false;
  }
  buffer_bytes_ = static_cast<size_t>(BufferFramesFor(format_.sample_rate)) *
                  format_.channels * (format_.bits_per_sample > 8 ? 2 : 1);
  buffer_memory_.assign(buffer_bytes_ * kOutputBuffers, 0);
  for (int i = 0; i < kOutputBuffers; ++i) {
    buffer_fill_[i] = 0;
    buffer_full_[i] = false;
  }
  fill_index_ = 0;
  write_index_ = 0;
  feeder_quit_ = false;
  feeder_failed_ = false;

  // The feeder starts held, gets the highest priority, then runs.
  {
    std::lock_guard start_lock(feeder_start_mutex_);
    feeder_id_ = 0;
    feeder_go_ = false;
  }
  feeder_ = std::thread([this] {
    {
      std::unique_lock start_lock(feeder_start_mutex_);
      feeder_id_ = platform::CurrentThreadId();
      feeder_started_.notify_all();
      feeder_started_.wait(start_lock, [this] { return feeder_go_; });
    }
    Feeder();
  });
  std::unique_lock start_lock(feeder_start_mutex_);
  feeder_started_.wait(start_lock, [this] { return feeder_id_ != 0; });
  platform::SetThreadPriority(feeder_id_, kFeederPriority);
  feeder_go_ = true;
  feeder_started_.notify_all();
  return true;
}

bool AudioPlayer::SleepUnlessStopped(std::chrono::milliseconds delay) {
  std::unique_lock buffer_lock(buffer_mutex_);
  const platform::PlaybackClock::TimePoint end = clock_->Now() + delay;
  while (!stop_ && clock_->Now() < end) {
    clock_->WaitUntil(buffer_lock, buffer_changed_, end);
  }
  return !stop_;
}

void AudioPlayer::Feeder() {
  for (;;) {
    int index;
    {
      std::unique_lock buffer_lock(buffer_mutex_);
      buffer_changed_.wait(buffer_lock, [this] {
        return feeder_quit_ || buffer_full_[write_index_];
      });
      if (feeder_quit_) return;
      index = write_index_;
    }
    if (!stop_) {
      platform::WaveOut* output;
      {
        std::lock_guard output_lock(output_mutex_);
        output = output_.get();
      }
      // The output lives until the playback thread ends, after this one.
      if (!output
               ->Write(buffer_memory_.data() + index * buffer_bytes_,
                       buffer_fill_[index])
               .ok()) {
        std::lock_guard buffer_lock(buffer_mutex_);
        feeder_failed_ = true;
        buffer_changed_.notify_all();
      }
    }
    std::lock_guard buffer_lock(buffer_mutex_);
    buffer_fill_[index] = 0;
    buffer_full_[index] = false;
    write_index_ = (index + 1) % kOutputBuffers;
    buffer_changed_.notify_all();
  }
}

bool AudioPlayer::Submit() {
  std::unique_lock buffer_lock(buffer_mutex_);
  buffer_full_[fill_index_] = true;
  fill_index_ = (fill_index_ + 1) % kOutputBuffers;
  buffer_changed_.notify_all();
  buffer_changed_.wait(buffer_lock, [this] {
    return stop_ || feeder_failed_ || !buffer_full_[fill_index_];
  });
  return !stop_ && !feeder_failed_;
}

void AudioPlayer::StopFeeder() {
  {
    std::lock_guard buffer_lock(buffer_mutex_);
    feeder_quit_ = true;
    buffer_changed_.notify_all();
  }
  if (feeder_.joinable()) feeder_.join();
  for (int i = 0; i < kOutputBuffers; ++i) {
    buffer_fill_[i] = 0;
    buffer_full_[i] = false;
  }
  fill_index_ = 0;
  write_index_ = 0;
}

}  // namespace audio
