#include "platform/wave_out.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/device.h"
#include "platform/device_db.h"
#include "platform/modules.h"
#include "platform/time.h"
#include "platform/unique_fd.h"

namespace platform {

// What plays a stream. Implementations are thread-safe.
class WaveOutBackend {
 public:
  virtual ~WaveOutBackend() = default;
  virtual Status Write(const uint8_t* data, size_t frames) = 0;
  virtual Status Pause() = 0;
  virtual Status Restart() = 0;
  virtual Status Reset() = 0;
  virtual uint64_t Position() = 0;
  virtual uint64_t Queued() = 0;
  virtual uint64_t Underruns() = 0;
  virtual const char* name() const = 0;
};

namespace {

namespace fs = std::filesystem;
using TimePoint = PlaybackClock::TimePoint;

class SteadyPlaybackClock final : public PlaybackClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  void WaitUntil(std::unique_lock<std::mutex>& lock,
                 std::condition_variable& changed,
                 TimePoint deadline) override {
    if (deadline == TimePoint::max()) {
      changed.wait(lock);
    } else {
      changed.wait_until(lock, deadline);
    }
  }
};

// Streams open in this process; the device mixes up to "wave_out_streams".
std::mutex g_output_mutex;
int64_t g_open_streams = 0;

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

constexpr const char* kStreamsSchema =
    "CREATE TABLE IF NOT EXISTS wave_out_streams ("
    "  id INTEGER PRIMARY KEY, file TEXT NOT NULL, channels INTEGER NOT NULL,"
    "  rate INTEGER NOT NULL, bits INTEGER NOT NULL,"
    "  frames INTEGER NOT NULL DEFAULT 0, underruns INTEGER NOT NULL DEFAULT 0,"
    "  opened INTEGER NOT NULL, closed INTEGER);";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The WAV-file sink: every sample written goes to the file at once; the
// play position follows the clock (real time) or the writes (fast).
class WavFileSink final : public WaveOutBackend {
 public:
  static std::unique_ptr<WavFileSink> Open(const PcmFormat& format,
                                           bool realtime, PlaybackClock* clock,
                                           Status* status) {
    fs::path folder = DeviceRoot() / "wave-out";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
      *status = Status::FromErrno("create folder", folder.string(), ec.value());
      return nullptr;
    }
    // Next number after the highest present; O_EXCL settles races with
    // other processes.
    int next = 1;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      int n = 0;
      if (std::sscanf(entry.path().filename().c_str(), "stream-%d.wav", &n) ==
              1 &&
          n >= next) {
        next = n + 1;
      }
    }
    for (int attempt = 0; attempt < 1000; ++attempt, ++next) {
      char name[32];
      std::snprintf(name, sizeof name, "stream-%06d.wav", next);
      fs::path path = folder / name;
      UniqueFd fd(
          open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
      if (!fd && errno == EEXIST) continue;
      if (!fd) {
        *status = Status::FromErrno("create", path.string(), errno);
        return nullptr;
      }
      auto sink = std::unique_ptr<WavFileSink>(
          new WavFileSink(format, realtime, clock, std::move(fd), path));
      *status = sink->WriteHeader();
      if (!status->ok()) return nullptr;
      sink->Record();
      return sink;
    }
    *status = Status(ErrorCode::kIoError, "no free sink file name");
    return nullptr;
  }

  ~WavFileSink() override {
    WriteSizes().IgnoreError();
    fd_.Reset();
    std::shared_ptr<DeviceDb> db = DeviceDb::Get();
    if (db != nullptr && row_id_ > 0) {
      Statement update(*db,
                       "UPDATE wave_out_streams SET frames = ?, underruns = ?,"
                       " closed = ? WHERE id = ?");
      update.Bind(1, static_cast<int64_t>(data_bytes_ / bytes_per_frame_))
          .Bind(2, static_cast<int64_t>(underruns_))
          .Bind(3, NowMs())
          .Bind(4, row_id_);
      update.Run().IgnoreError();
    }
  }

  Status Write(const uint8_t* data, size_t frames) override {
    std::unique_lock lock(mutex_);
    uint64_t generation = generation_;
    // Wait while paused or while the queue is full.
    while (generation == generation_) {
      if (!paused_ && (!realtime_ || QueuedLocked() < capacity_)) break;
      if (paused_) {
        clock_->WaitUntil(lock, changed_, TimePoint::max());
      } else {
        uint64_t excess = QueuedLocked() - capacity_ + 1;
        auto wait = std::chrono::microseconds(excess * 1000000 / rate_ + 200);
        clock_->WaitUntil(lock, changed_, clock_->Now() + wait);
      }
    }
    if (generation != generation_) return Status::Ok();  // reset meanwhile
    if (realtime_) {
      if (!running_) {
        running_ = true;
        base_ = played_;
        start_ = clock_->Now();
      } else if (PlayedLocked() >= written_) {
        // Ran dry: everything was played before this write came.
        ++underruns_;
        base_ = written_;
        start_ = clock_->Now();
      }
    }
    size_t bytes = frames * bytes_per_frame_;
    size_t done = 0;
    while (done < bytes) {
      ssize_t n = ::write(fd_.get(), data + done, bytes - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Status::FromErrno("write", path_.string(), errno);
      done += static_cast<size_t>(n);
    }
    written_ += frames;
    data_bytes_ += bytes;
    // The header follows every quarter second of sound (and every reset
    // and the close).
    if (data_bytes_ - sized_bytes_ >= size_interval_bytes_) return WriteSizes();
    return Status::Ok();
  }

  Status Pause() override {
    std::lock_guard lock(mutex_);
    if (paused_) return Status::Ok();
    played_ = PlayedLocked();
    running_ = false;
    paused_ = true;
    return Status::Ok();
  }

  Status Restart() override {
    std::lock_guard lock(mutex_);
    if (!paused_) return Status::Ok();
    paused_ = false;
    if (realtime_ && played_ < written_) {
      // What was queued at the pause plays on from where it stopped.
      running_ = true;
      base_ = played_;
      start_ = clock_->Now();
    }
    changed_.notify_all();
    return Status::Ok();
  }

  Status Reset() override {
    std::lock_guard lock(mutex_);
    WriteSizes().IgnoreError();
    ++generation_;
    written_ = 0;
    played_ = 0;
    base_ = 0;
    running_ = false;
    changed_.notify_all();
    return Status::Ok();
  }

  uint64_t Position() override {
    std::lock_guard lock(mutex_);
    return PlayedLocked();
  }
  uint64_t Queued() override {
    std::lock_guard lock(mutex_);
    return QueuedLocked();
  }
  uint64_t Underruns() override {
    std::lock_guard lock(mutex_);
    return underruns_;
  }
  const char* name() const override { return "wavfile"; }

 private:
  WavFileSink(const PcmFormat& format, bool realtime, PlaybackClock* clock,
              UniqueFd fd, fs::path path)
      : format_(format),
        realtime_(realtime),
        clock_(clock),
        fd_(std::move(fd)),
        path_(std::move(path)),
        bytes_per_frame_(format.BytesPerFrame()),
        rate_(format.sample_rate),
        capacity_(std::max<uint64_t>(format.sample_rate / 4, 1024)),
        size_interval_bytes_(uint64_t{format.sample_rate} *
                             format.BytesPerFrame() / 4) {}

  Status WriteHeader() {
    uint8_t header[44] = {};
    std::memcpy(header, "RIFF", 4);
    PutLe32(header + 4, 36);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLe32(header + 16, 16);
    PutLe16(header + 20, 1);
    PutLe16(header + 22, format_.channels);
    PutLe32(header + 24, format_.sample_rate);
    PutLe32(header + 28, format_.sample_rate * bytes_per_frame_);
    PutLe16(header + 32, static_cast<uint16_t>(bytes_per_frame_));
    PutLe16(header + 34, format_.bits_per_sample);
    std::memcpy(header + 36, "data", 4);
    if (pwrite(fd_.get(), header, sizeof header, 0) != sizeof header ||
        lseek(fd_.get(), 44, SEEK_SET) != 44) {
      return Status::FromErrno("write", path_.string(), errno);
    }
    return Status::Ok();
  }

  // Brings the header's sizes up to what was written, so the file is a
  // valid WAV file even when the program dies.
  Status WriteSizes() {
    sized_bytes_ = data_bytes_;
    uint64_t data = std::min<uint64_t>(data_bytes_, 0xFFFFFFFFu - 36);
    uint8_t riff[4], size[4];
    PutLe32(riff, static_cast<uint32_t>(data + 36));
    PutLe32(size, static_cast<uint32_t>(data));
    if (pwrite(fd_.get(), riff, 4, 4) != 4 ||
        pwrite(fd_.get(), size, 4, 40) != 4) {
      return Status::FromErrno("write", path_.string(), errno);
    }
    return Status::Ok();
  }

  void Record() {
    std::shared_ptr<DeviceDb> db = DeviceDb::Get();
    if (db == nullptr || !db->EnsureSchema("wave_out", kStreamsSchema).ok()) {
      return;
    }
    std::lock_guard db_lock(db->mutex());
    Statement insert(*db,
                     "INSERT INTO wave_out_streams(file, channels, rate, bits,"
                     " opened) VALUES(?, ?, ?, ?, ?)");
    insert.Bind(1, path_.filename().string())
        .Bind(2, format_.channels)
        .Bind(3, format_.sample_rate)
        .Bind(4, format_.bits_per_sample)
        .Bind(5, NowMs());
    if (insert.Run().ok()) row_id_ = sqlite3_last_insert_rowid(db->handle());
  }

  uint64_t PlayedLocked() const {
    if (!realtime_) return written_;
    if (!running_ || paused_) return std::min(played_, written_);
    auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
                       clock_->Now() - start_)
                       .count();
    uint64_t played = base_ + static_cast<uint64_t>(elapsed) * rate_ / 1000000;
    return std::min(played, written_);
  }
  uint64_t QueuedLocked() const { return written_ - PlayedLocked(); }

  const PcmFormat format_;
  const bool realtime_;
  PlaybackClock* const clock_;  // paces a real-time sink
  UniqueFd fd_;
  const fs::path path_;
  const uint32_t bytes_per_frame_;
  const uint32_t rate_;
  const uint64_t capacity_;  // frames the sink holds ahead of the position
  const uint64_t size_interval_bytes_;  // a quarter second of sound
  int64_t row_id_ = 0;                  // row in wave_out_streams

  std::mutex mutex_;
  std::condition_variable changed_;  // pause, restart, reset
  uint64_t generation_ = 0;          // advanced by every reset
  uint64_t data_bytes_ = 0;          // bytes in the file's data chunk
  uint64_t sized_bytes_ = 0;         // data size the header states
  uint64_t written_ = 0;             // frames since the last reset
  uint64_t played_ = 0;              // position when the clock stopped
  uint64_t base_ = 0;                // position when the clock started
  TimePoint start_;
  bool running_ = false;  // the clock runs
  bool paused_ = false;
  uint64_t underruns_ = 0;
};

// The host's sound card through waveapi.dll.
class DeviceLibraryOutput final : public WaveOutBackend {
 public:
  struct Api {
    std::unique_ptr<Library> library;
    WaveApiPresentFunction present = nullptr;
    WaveApiOpenFunction open = nullptr;
    WaveApiWriteFunction write = nullptr;
    WaveApiPauseFunction pause = nullptr;
    WaveApiDropFunction drop = nullptr;
    WaveApiDelayFunction delay = nullptr;
    WaveApiCloseFunction close = nullptr;
  };

  static std::optional<Api> LoadApi() {
    Api api;
    api.library = Library::Load(kWaveApiLibraryName);
    if (api.library == nullptr) return std::nullopt;
    api.present = reinterpret_cast<WaveApiPresentFunction>(
        api.library->Symbol(kWaveApiPresentName));
    api.open = reinterpret_cast<WaveApiOpenFunction>(
        api.library->Symbol(kWaveApiOpenName));
    api.write = reinterpret_cast<WaveApiWriteFunction>(
        api.library->Symbol(kWaveApiWriteName));
    api.pause = reinterpret_cast<WaveApiPauseFunction>(
        api.library->Symbol(kWaveApiPauseName));
    api.drop = reinterpret_cast<WaveApiDropFunction>(
        api.library->Symbol(kWaveApiDropName));
    api.delay = reinterpret_cast<WaveApiDelayFunction>(
        api.library->Symbol(kWaveApiDelayName));
    api.close = reinterpret_cast<WaveApiCloseFunction>(
        api.library->Symbol(kWaveApiCloseName));
    if (!api.present || !api.open || !api.write || !api.pause || !api.drop ||
        !api.delay || !api.close) {
      return std::nullopt;
    }
    return api;
  }

  static std::unique_ptr<DeviceLibraryOutput> Open(Api api,
                                                   const PcmFormat& format,
                                                   Status* status) {
    int result = kWaveApiError;
    void* stream =
        api.open(format.channels, static_cast<int>(format.sample_rate),
                 format.bits_per_sample, &result);
    if (stream == nullptr || result != kWaveApiOk) {
      switch (result) {
        case kWaveApiNoDevice:
          *status = Status(ErrorCode::kUnavailable, "no sound card");
          break;
        case kWaveApiBusy:
          *status = Status(kWaveOutBusy, "the sound card is busy");
          break;
        case kWaveApiBadFormat:
          *status = Status(ErrorCode::kInvalidArgument,
                           "the sound card refuses the format");
          break;
        default:
          *status = Status(ErrorCode::kIoError, "the sound card failed");
      }
      if (stream != nullptr) api.close(stream);
      return nullptr;
    }
    return std::unique_ptr<DeviceLibraryOutput>(new DeviceLibraryOutput(
        std::move(api), stream, format.BytesPerFrame()));
  }

  ~DeviceLibraryOutput() override { api_.close(stream_); }

  Status Write(const uint8_t* data, size_t frames) override {
    int result = api_.write(stream_, data, frames);
    if (result < 0) {
      return Status(ErrorCode::kIoError,
                    "sound card write failed (" + std::to_string(result) + ")");
    }
    std::lock_guard lock(mutex_);
    written_ += frames;
    return Status::Ok();
  }
  Status Pause() override { return Result(api_.pause(stream_, 1), "pause"); }
  Status Restart() override {
    return Result(api_.pause(stream_, 0), "restart");
  }
  Status Reset() override {
    Status status = Result(api_.drop(stream_), "reset");
    std::lock_guard lock(mutex_);
    written_ = 0;
    return status;
  }
  uint64_t Position() override {
    std::lock_guard lock(mutex_);
    uint64_t queued = Delay();
    return written_ > queued ? written_ - queued : 0;
  }
  uint64_t Queued() override {
    std::lock_guard lock(mutex_);
    return std::min<uint64_t>(Delay(), written_);
  }
  uint64_t Underruns() override { return 0; }
  const char* name() const override { return "alsa"; }

 private:
  DeviceLibraryOutput(Api api, void* stream, uint32_t bytes_per_frame)
      : api_(std::move(api)), stream_(stream) {
    (void)bytes_per_frame;
  }
  uint64_t Delay() {
    long delay = api_.delay(stream_);
    return delay > 0 ? static_cast<uint64_t>(delay) : 0;
  }
  static Status Result(int result, const char* what) {
    if (result >= 0) return Status::Ok();
    return Status(ErrorCode::kIoError, std::string("sound card ") + what +
                                           " failed (" +
                                           std::to_string(result) + ")");
  }

  Api api_;
  void* stream_;
  std::mutex mutex_;
  uint64_t written_ = 0;
};

bool ValidFormat(const PcmFormat& format) {
  return (format.channels == 1 || format.channels == 2) &&
         format.sample_rate >= 1000 && format.sample_rate <= 192000 &&
         (format.bits_per_sample == 8 || format.bits_per_sample == 16);
}

}  // namespace

PlaybackClock* HostPlaybackClock() {
  static PlaybackClock* clock = new SteadyPlaybackClock;
  return clock;
}

std::unique_ptr<WaveOut> WaveOut::Open(const PcmFormat& format, Status* status,
                                       PlaybackClock* clock) {
  Status local;
  Status& result = status != nullptr ? *status : local;
  result = Status::Ok();
  std::string output = GetDeviceSetting("audio_output").value_or("auto");
  if (output == "none") {
    result = Status(ErrorCode::kUnavailable, "the device has no audio output");
    return nullptr;
  }
  if (!ValidFormat(format)) {
    result = Status(ErrorCode::kInvalidArgument, "unsupported PCM format");
    return nullptr;
  }
  int64_t limit = GetDeviceSettingInt("wave_out_streams", 4);
  {
    std::lock_guard lock(g_output_mutex);
    if (g_open_streams >= limit) {
      result = Status(kWaveOutBusy, "the audio output is in use");
      return nullptr;
    }
    ++g_open_streams;
  }
  std::unique_ptr<WaveOutBackend> backend;
  if (output == "wavfile") {
    bool realtime =
        GetDeviceSetting("wavfile_pace").value_or("realtime") != "fast";
    backend = WavFileSink::Open(format, realtime,
                                clock != nullptr ? clock : HostPlaybackClock(),
                                &result);
  } else {
    std::optional<DeviceLibraryOutput::Api> api =
        DeviceLibraryOutput::LoadApi();
    if (!api) {
      result = Status(ErrorCode::kUnavailable,
                      "the audio output library waveapi.dll is missing");
    } else if (output == "auto" && api->present() == 0) {
      result = Status(ErrorCode::kUnavailable, "no sound card");
    } else {
      backend = DeviceLibraryOutput::Open(std::move(*api), format, &result);
    }
  }
  if (backend == nullptr) {
    std::lock_guard lock(g_output_mutex);
    --g_open_streams;
    return nullptr;
  }
  return std::unique_ptr<WaveOut>(new WaveOut(format, std::move(backend)));
}

WaveOut::WaveOut(PcmFormat format, std::unique_ptr<WaveOutBackend> backend)
    : format_(format), backend_(std::move(backend)) {}

WaveOut::~WaveOut() {
  backend_->Reset().IgnoreError();
  backend_.reset();
  std::lock_guard lock(g_output_mutex);
  --g_open_streams;
}

Status WaveOut::Write(const void* data, size_t bytes) {
  size_t frames = bytes / format_.BytesPerFrame();
  if (frames == 0) return Status::Ok();
  return backend_->Write(static_cast<const uint8_t*>(data), frames);
}

Status WaveOut::Pause() { return backend_->Pause(); }
Status WaveOut::Restart() { return backend_->Restart(); }
Status WaveOut::Reset() { return backend_->Reset(); }
uint64_t WaveOut::Position() { return backend_->Position(); }
uint64_t WaveOut::Queued() { return backend_->Queued(); }
uint64_t WaveOut::Underruns() { return backend_->Underruns(); }
const char* WaveOut::backend_name() const { return backend_->name(); }

}  // namespace platform
