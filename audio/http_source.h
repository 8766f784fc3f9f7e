// HTTP streams ("http://host[:port]/path"), as internet radio serves them.
//
// The request is
//   "GET %s HTTP/1.0\r\nHost: %s\r\nAccept: */*\r\nIcy-MetaData:1\r\n"
//   "User-Agent: %s\r\n\r\n"
// The status is read with " %*s %d" (so "ICY 200 OK" is fine); the headers
// end at "\r\n\r\n" and may hold at most kMaxHeaderBytes; a "Location: "
// header redirects (at most kMaxRedirects times); "icy-name:",
// "ice-name:", "icy-genre:", "ice-genre:", "icy-url:", "ice-url:" are kept
// (up to 256 characters each); "icy-metaint:" gives the interval of the
// in-band metadata, which the source takes out of the audio, keeping the
// text after "StreamTitle='" (up to "';") as the current title.
//
// The first bytes of the body are kept (up to kReplayBytes) so that the
// player's recogniser and readers can go back over them; going back
// further reconnects when going to 0, and fails otherwise. Every socket
// wait is limited (kTimeoutMs), so a silent server ends the stream instead
// of hanging the player.
//
// Thread safety: Read/Seek from one thread; info() from any thread.
#ifndef TELVANE_AUDIO_HTTP_SOURCE_H_
#define TELVANE_AUDIO_HTTP_SOURCE_H_

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "audio/source.h"
#include "platform/status.h"

namespace audio {

inline constexpr size_t kMaxHeaderBytes = 16384;
inline constexpr int kMaxRedirects = 5;
inline constexpr size_t kReplayBytes = 512 * 1024;
inline constexpr int kTimeoutMs = 10000;
inline constexpr size_t kMaxStreamField = 256;
inline constexpr char kUserAgent[] = "Telvane/0.1";

struct StreamInfo {
  std::string name;      // icy-name / ice-name
  std::string genre;     // icy-genre / ice-genre
  std::string url;       // icy-url / ice-url
  std::string title;     // the last StreamTitle
  int status = 0;        // HTTP status of the final answer
  int metaint = 0;       // icy-metaint, 0 when none
  std::string location;  // the address that answered (after redirects)
};

class HttpSource final : public Source {
 public:
  // Connects and reads the headers; nullptr with `status` set on failure
  // (bad address, no connection, a status other than 200, too many
  // redirects, endless headers).
  static std::unique_ptr<HttpSource> Open(std::string_view url,
                                          platform::Status* status = nullptr);
  ~HttpSource() override;

  size_t Read(void* buffer, size_t size) override;
  bool Seek(uint64_t offset) override;
  std::optional<uint64_t> Size() override { return std::nullopt; }
  uint64_t Tell() const override { return offset_; }

  StreamInfo info() const;

 private:
  HttpSource() = default;
  platform::Status Connect(std::string_view url);
  void Disconnect();
  // Body bytes with the metadata taken out.
  size_t ReadAudio(uint8_t* buffer, size_t size);
  size_t ReadSocket(uint8_t* buffer, size_t size);
  bool ReadMetadata();

  std::string url_;  // as opened
  int fd_ = -1;
  std::vector<uint8_t> pending_;  // body bytes read with the headers
  size_t pending_at_ = 0;
  int metaint_ = 0;
  int until_meta_ = 0;           // audio bytes before the next metadata block
  std::vector<uint8_t> replay_;  // the first body bytes
  bool replay_complete_ = true;  // replay_ holds everything from 0
  uint64_t offset_ = 0;          // of the next byte Read gives
  uint64_t received_ = 0;        // audio bytes taken from the socket

  mutable std::mutex info_mutex_;
  StreamInfo info_;
};

// The host and port of an address by the patterns "http://%[^:/]:%d" and
// "%[^:/]:%d" (port 80 when none), and its path ("/" when none).
// kInvalidArgument for an address without a host or with a port outside
// 1..65535.
platform::Status ParseHttpAddress(std::string_view url, std::string* host,
                                  int* port, std::string* path);

// The title in a metadata block: the text after "StreamTitle='" up to
// "';" (or the end); empty when there is none.
std::string StreamTitleOf(std::string_view metadata);

}  // namespace audio

#endif  // TELVANE_AUDIO_HTTP_SOURCE_H_
