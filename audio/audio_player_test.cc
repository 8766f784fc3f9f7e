// The player on a scratch device whose audio output is the WAV-file sink:
// what it writes, its states and notifications, stop, pause, reopening, a
// busy or missing output, and HTTP streams from a server on loopback.
// Real-time sound and the retries play by a clock the test moves.
#include "audio/audio_player.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "platform/device.h"
#include "platform/testing/file_faults.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/source_tree.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"
#include "platform/unicode.h"

namespace audio {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

fs::path TestData(const std::string& name) {
  return platform::testing::SourceFolderOf(__FILE__) / "testdata" / name;
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The samples of a 16-bit sink file (after its 44-byte header).
std::vector<int16_t> SinkSamples(const fs::path& file) {
  std::vector<uint8_t> bytes = ReadBytes(file);
  std::vector<int16_t> samples;
  for (size_t i = 44; i + 1 < bytes.size(); i += 2) {
    samples.push_back(int16_t(bytes[i] | (bytes[i + 1] << 8)));
  }
  return samples;
}

std::vector<int16_t> DecodeFile(const fs::path& file) {
  std::unique_ptr<Source> source = OpenHostFile(file);
  std::optional<MpegInfo> info = ProbeMpeg(*source);
  if (!info) return {};
  std::unique_ptr<Decoder> decoder = MakeMpegDecoder(source.get(), *info);
  std::vector<uint8_t> pcm;
  while (decoder->Next(&pcm) == Decoder::Result::kData) {
  }
  std::vector<int16_t> samples;
  for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
    samples.push_back(int16_t(pcm[i] | (pcm[i + 1] << 8)));
  }
  return samples;
}

// Messages the player posts, kept for the test.
class Recorder {
 public:
  AudioPlayer::Notify Callback() {
    return [this](uint32_t message, uint32_t param) {
      std::lock_guard lock(mutex_);
      messages_.emplace_back(message, param);
    };
  }
  std::vector<uint32_t> States() {
    std::lock_guard lock(mutex_);
    std::vector<uint32_t> states;
    for (auto [message, param] : messages_) {
      if (message == kStateMessage) states.push_back(param);
    }
    return states;
  }
  size_t Count() {
    std::lock_guard lock(mutex_);
    return messages_.size();
  }
  std::pair<uint32_t, uint32_t> At(size_t index) {
    std::lock_guard lock(mutex_);
    return index < messages_.size() ? messages_[index]
                                    : std::pair<uint32_t, uint32_t>{};
  }
  std::pair<uint32_t, uint32_t> Last() {
    std::lock_guard lock(mutex_);
    return messages_.empty() ? std::pair<uint32_t, uint32_t>{}
                             : messages_.back();
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<uint32_t, uint32_t>> messages_;
};

bool WaitForState(AudioPlayer& player, int state) {
  return platform::testing::WaitUntil(
      [&] { return player.GetState() == state; });
}

// Lets the clock run, a few milliseconds at a time, until the player stops.
bool PlayToTheEnd(AudioPlayer& player, platform::testing::ManualClock& clock) {
  return platform::testing::WaitUntil([&] {
    if (player.GetState() == AudioPlayer::kStopped) return true;
    clock.Advance(milliseconds(5));
    return false;
  });
}

class AudioPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::SetDeviceSetting("audio_output", "wavfile").ok());
    SetPace("fast");
    for (const char* name : {"tone.mp3", "tone-22k-mono.mp3", "pcm16.wav",
                             "ima-adpcm.wav", "gsm.wav"}) {
      fs::copy_file(TestData(name),
                    device_.HostPath("\\My Documents\\") / name);
    }
  }
  void SetPace(const char* pace) {
    ASSERT_TRUE(platform::SetDeviceSetting("wavfile_pace", pace).ok());
  }
  std::vector<fs::path> SinkFiles() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e :
         fs::directory_iterator(device_.root() / "wave-out", ec)) {
      files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  platform::testing::TempDevice device_;
  platform::testing::ManualClock clock_;
};

TEST_F(AudioPlayerTest, PlaysMpegAndWavToTheOutput) {
  AudioPlayer player(&clock_);
  Recorder recorder;
  player.SetNotify(recorder.Callback());
  EXPECT_EQ(player.GetState(), AudioPlayer::kStopped);
  EXPECT_FALSE(player.Play());  // nothing open

  ASSERT_TRUE(player.Open(u"\\My Documents\\tone.mp3"));
  EXPECT_EQ(player.kind(), SourceKind::kMpeg);
  EXPECT_EQ(player.format(), (platform::PcmFormat{2, 44100, 16}));
  EXPECT_NEAR(double(player.length_ms()), 2000, 100);
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kStopped));
  EXPECT_EQ(recorder.States(), (std::vector<uint32_t>{3, 1, 0}));

  // Every buffer reached the output once, in order.
  std::vector<fs::path> files = SinkFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(SinkSamples(files[0]), DecodeFile(TestData("tone.mp3")));

  // Played again from the start, on the same open output (same format).
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kStopped));
  files = SinkFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(SinkSamples(files[0]).size(),
            2 * DecodeFile(TestData("tone.mp3")).size());

  // Another format reopens the output: a second sink file.
  ASSERT_TRUE(player.Open(u"\\My Documents\\ima-adpcm.wav"));
  EXPECT_EQ(player.kind(), SourceKind::kWav);
  EXPECT_EQ(player.format(), (platform::PcmFormat{1, 8000, 16}));
  EXPECT_EQ(player.length_ms(), 500u);
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kStopped));
  files = SinkFiles();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_GE(SinkSamples(files[1]).size(), 4000u);

  // A host file through a source of the caller's.
  ASSERT_TRUE(player.OpenSource(OpenHostFile(TestData("tone.mp2")), u"x"));
  EXPECT_EQ(player.kind(), SourceKind::kMpeg);
  EXPECT_EQ(player.path(), u"x");
}

TEST_F(AudioPlayerTest, FilesThatAreNotSoundDoNotOpen) {
  AudioPlayer player(&clock_);
  platform::Status status;
  // A file that cannot be opened says so, with its path.
  EXPECT_FALSE(player.Open(u"\\My Documents\\missing.mp3", &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kNotFound);
  EXPECT_EQ(status.message(),
            "cannot open \\My Documents\\missing.mp3: not found");
  EXPECT_FALSE(player.Open(u"\\No Folder\\x.mp3", &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kNotFound);
  EXPECT_FALSE(player.Open(u"\\My Documents", &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kAccessDenied);
  EXPECT_EQ(status.message().rfind("cannot open \\My Documents: ", 0), 0u)
      << status.message();
  EXPECT_EQ(OpenHostFile(device_.root() / "missing.wav", &status), nullptr);
  EXPECT_EQ(status.code(), platform::ErrorCode::kNotFound);
  EXPECT_EQ(status.message(), "cannot open " +
                                  (device_.root() / "missing.wav").string() +
                                  ": not found");

  // Files that open and read but are no sound the player knows.
  EXPECT_FALSE(player.Open(u"\\My Documents\\gsm.wav", &status));
  EXPECT_EQ(status.code(), kNotSound);
  EXPECT_EQ(status.message(),
            "\\My Documents\\gsm.wav is neither MPEG audio nor WAV");
  std::ofstream(device_.HostPath("\\My Documents\\text.mp3")) << "hello";
  EXPECT_FALSE(player.Open(u"\\My Documents\\text.mp3", &status));
  EXPECT_EQ(status.code(), kNotSound);
  EXPECT_FALSE(player.OpenSource(MemorySource({}), u"empty", &status));
  EXPECT_EQ(status.message(), "empty is neither MPEG audio nor WAV");
  EXPECT_FALSE(player.OpenSource(nullptr, u"none", &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kInvalidArgument);

  // A sound file whose reads fail is not called "neither": the failure is
  // the cause.
  {
    platform::testing::FileFaults faults;
    faults.FailCall(platform::files::FileCall::kRead, 1);
    EXPECT_FALSE(player.Open(u"\\My Documents\\tone.mp3", &status));
    EXPECT_TRUE(faults.fired());
    EXPECT_EQ(status.code(), platform::ErrorCode::kIoError)
        << status.ToString();
  }
  EXPECT_EQ(player.kind(), SourceKind::kNone);
  EXPECT_FALSE(player.Play());
  EXPECT_TRUE(player.Open(u"\\My Documents\\tone.mp3", &status));
  EXPECT_TRUE(status.ok()) << status.ToString();
}

TEST_F(AudioPlayerTest, StopWaitsForThePlaybackThread) {
  SetPace("realtime");
  AudioPlayer player(&clock_);
  Recorder recorder;
  player.SetNotify(recorder.Callback());
  ASSERT_TRUE(player.Open(u"\\My Documents\\tone.mp3"));
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kPlaying));
  // The output holds all it takes ahead (about a quarter second); the clock
  // has not moved, so nothing has played.
  ASSERT_TRUE(clock_.WaitForSleepers(1));
  EXPECT_EQ(player.position_ms(), 0u);
  clock_.Advance(milliseconds(200));
  EXPECT_EQ(player.position_ms(), 200u);
  player.Stop();
  // The thread has ended: state 0 is already posted, and the next thing
  // posted is the next start.
  EXPECT_EQ(player.GetState(), AudioPlayer::kStopped);
  EXPECT_EQ(recorder.Last(), (std::pair<uint32_t, uint32_t>{kStateMessage, 0}));
  const size_t stopped_at = recorder.Count();
  // Only part of the sound was written.
  EXPECT_LT(SinkSamples(SinkFiles().at(0)).size(),
            DecodeFile(TestData("tone.mp3")).size());

  // Pause holds the position; Play resumes from it.
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kPlaying));
  EXPECT_EQ(recorder.At(stopped_at),
            (std::pair<uint32_t, uint32_t>{kStateMessage, 3}));
  ASSERT_TRUE(clock_.WaitForSleepers(1));
  clock_.Advance(milliseconds(100));
  EXPECT_TRUE(player.Pause());
  EXPECT_EQ(player.GetState(), AudioPlayer::kPaused);
  EXPECT_EQ(player.position_ms(), 100u);
  clock_.Advance(milliseconds(150));
  EXPECT_EQ(player.position_ms(), 100u);
  EXPECT_TRUE(player.Play());
  EXPECT_EQ(player.GetState(), AudioPlayer::kPlaying);
  clock_.Advance(milliseconds(50));
  EXPECT_EQ(player.position_ms(), 150u);
  EXPECT_TRUE(player.Pause());
  player.Stop();  // stopping a paused player ends it too
  EXPECT_EQ(player.GetState(), AudioPlayer::kStopped);
  std::vector<uint32_t> states = recorder.States();
  EXPECT_EQ(std::vector<uint32_t>(states.end() - 6, states.end()),
            (std::vector<uint32_t>{3, 1, 2, 1, 2, 0}));
  EXPECT_EQ(player.underruns(), 0u);
}

TEST_F(AudioPlayerTest, OpeningAnotherFileStopsTheOldOne) {
  SetPace("realtime");
  AudioPlayer player(&clock_);
  Recorder recorder;
  player.SetNotify(recorder.Callback());
  ASSERT_TRUE(player.Open(u"\\My Documents\\tone.mp3"));
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kPlaying));
  ASSERT_TRUE(player.Open(u"\\My Documents\\pcm16.wav"));
  EXPECT_EQ(player.GetState(), AudioPlayer::kStopped);
  EXPECT_EQ(recorder.States(), (std::vector<uint32_t>{3, 1, 0}));
  // Paused and resumed on the way, it still plays to its end.
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kPlaying));
  ASSERT_TRUE(player.Pause());
  uint64_t held = player.position_ms();
  clock_.Advance(milliseconds(100));
  EXPECT_EQ(player.position_ms(), held);
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(PlayToTheEnd(player, clock_));
  std::vector<fs::path> files = SinkFiles();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(SinkSamples(files[1]).size(), 4000u);
  EXPECT_EQ(recorder.Last(), (std::pair<uint32_t, uint32_t>{kStateMessage, 0}));
}

TEST_F(AudioPlayerTest, MissingOrBusyOutput) {
  AudioPlayer player(&clock_);
  Recorder recorder;
  player.SetNotify(recorder.Callback());
  ASSERT_TRUE(player.Open(u"\\My Documents\\pcm16.wav"));

  // No output at all: the start fails and the state returns to 0.
  ASSERT_TRUE(platform::SetDeviceSetting("audio_output", "none").ok());
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kStopped));
  EXPECT_EQ(recorder.States(), (std::vector<uint32_t>{3, 0}));

  // One stream at a time, held by someone else for good: ten tries, 100 ms
  // apart, then state 0.
  ASSERT_TRUE(platform::SetDeviceSetting("audio_output", "wavfile").ok());
  ASSERT_TRUE(platform::SetDeviceSetting("wave_out_streams", "1").ok());
  std::unique_ptr<platform::WaveOut> other =
      platform::WaveOut::Open({1, 8000, 16});
  ASSERT_NE(other, nullptr);
  recorder.Clear();
  ASSERT_TRUE(player.Play());
  for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    ASSERT_TRUE(clock_.WaitForSleepers(1)) << "attempt " << attempt;
    EXPECT_EQ(player.GetState(), AudioPlayer::kPreparing);
    clock_.Advance(milliseconds(kOpenRetryMs - 1));
    EXPECT_EQ(clock_.sleepers(), 1u) << "attempt " << attempt;
    clock_.Advance(milliseconds(1));
  }
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kStopped));
  EXPECT_EQ(recorder.States(), (std::vector<uint32_t>{3, 0}));

  // Released while the player waits to try again: it plays.
  recorder.Clear();
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(clock_.WaitForSleepers(1));
  other.reset();
  clock_.Advance(milliseconds(kOpenRetryMs));
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kStopped));
  EXPECT_EQ(recorder.States(), (std::vector<uint32_t>{3, 1, 0}));
  EXPECT_EQ(SinkSamples(SinkFiles().at(1)).size(), 4000u);

  // The player keeps its output open; a second player finds it busy, and
  // a stop ends its wait between tries at once.
  AudioPlayer second(&clock_);
  Recorder second_recorder;
  second.SetNotify(second_recorder.Callback());
  ASSERT_TRUE(second.Open(u"\\My Documents\\tone-22k-mono.mp3"));
  ASSERT_TRUE(second.Play());
  ASSERT_TRUE(clock_.WaitForSleepers(1));
  second.Stop();
  EXPECT_EQ(second_recorder.States(), (std::vector<uint32_t>{3, 0}));
}

// A one-connection-at-a-time HTTP server on loopback that answers by path.
class TestServer {
 public:
  using Handler = std::function<std::string(const std::string& path)>;
  explicit TestServer(Handler handler) : handler_(std::move(handler)) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(fd_, 8);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TestServer() {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  int port() const { return port_; }
  std::vector<std::string> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    for (;;) {
      int client = accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      std::string request;
      char buffer[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, size_t(n));
      }
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      std::string path = request.substr(4, request.find(' ', 4) - 4);
      std::string answer = handler_(path);
      size_t done = 0;
      while (done < answer.size()) {
        ssize_t n = send(client, answer.data() + done, answer.size() - done,
                         MSG_NOSIGNAL);
        if (n <= 0) break;
        done += size_t(n);
      }
      close(client);
    }
  }

  Handler handler_;
  int fd_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

// `audio` with a metadata block after every `interval` bytes: the first
// names a title, the others are empty.
std::string WithMetadata(const std::vector<uint8_t>& audio, size_t interval) {
  std::string out;
  bool first = true;
  for (size_t at = 0; at < audio.size(); at += interval) {
    out.append(reinterpret_cast<const char*>(audio.data()) + at,
               std::min(interval, audio.size() - at));
    if (at + interval > audio.size()) break;
    if (first) {
      std::string meta = "StreamTitle='Song A';StreamUrl='';";
      meta.resize((meta.size() + 15) / 16 * 16, '\0');
      out.push_back(char(meta.size() / 16));
      out += meta;
      first = false;
    } else {
      out.push_back('\0');
    }
  }
  return out;
}

TEST_F(AudioPlayerTest, PlaysAnHttpStreamWithRedirectAndMetadata) {
  std::vector<uint8_t> mp3 = ReadBytes(TestData("tone.mp3"));
  TestServer server([&](const std::string& path) -> std::string {
    if (path == "/start")
      return "HTTP/1.0 302 Found\r\nLocation: /radio\r\n\r\n";
    if (path == "/radio") {
      return "ICY 200 OK\r\nicy-name: Test Radio\r\nicy-genre: Synthpop\r\n"
             "icy-url: http://example.org/\r\nicy-metaint: 4096\r\n\r\n" +
             WithMetadata(mp3, 4096);
    }
    if (path == "/loop") return "HTTP/1.0 302 Found\r\nLocation: /loop\r\n\r\n";
    if (path == "/endless") {
      std::string answer = "HTTP/1.0 200 OK\r\n";
      for (int i = 0; i < 5000; ++i) answer += "X-Filler: yes\r\n";
      return answer;
    }
    return "HTTP/1.0 404 Not Found\r\n\r\n";
  });
  std::u16string base =
      u"http://127.0.0.1:" + platform::FromUtf8(std::to_string(server.port()));
  AudioPlayer player(&clock_);
  ASSERT_TRUE(player.Open(base + u"/start"));
  EXPECT_EQ(player.kind(), SourceKind::kMpeg);
  StreamInfo info = player.stream_info();
  EXPECT_EQ(info.status, 200);
  EXPECT_EQ(info.name, "Test Radio");
  EXPECT_EQ(info.genre, "Synthpop");
  EXPECT_EQ(info.url, "http://example.org/");
  EXPECT_EQ(info.metaint, 4096);
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(WaitForState(player, AudioPlayer::kStopped));
  EXPECT_EQ(player.stream_info().title, "Song A");
  // The metadata never reached the decoder.
  EXPECT_EQ(SinkSamples(SinkFiles().at(0)), DecodeFile(TestData("tone.mp3")));

  std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1],
            "GET /radio HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
            "Icy-MetaData:1\r\nUser-Agent: Telvane/0.1\r\n\r\n");

  EXPECT_FALSE(player.Open(base + u"/loop"));
  EXPECT_EQ(server.requests().size(), 2u + 1 + kMaxRedirects);
  EXPECT_FALSE(player.Open(base + u"/endless"));
  // A stream that does not open says why, in the connection's words.
  platform::Status status;
  EXPECT_FALSE(player.Open(base + u"/missing", &status));
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.code(), kNotSound);
  EXPECT_FALSE(player.Open(u"http://", &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kInvalidArgument)
      << status.ToString();
}

}  // namespace
}  // namespace audio
