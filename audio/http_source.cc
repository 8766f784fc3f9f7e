#include "audio/http_source.h"

#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/unique_fd.h"

namespace audio {
namespace {

bool StartsWithNoCase(std::string_view line, std::string_view prefix) {
  return line.size() >= prefix.size() &&
         strncasecmp(line.data(), prefix.data(), prefix.size()) == 0;
}

std::string FieldValue(std::string_view line, size_t prefix) {
  std::string_view value = line.substr(prefix);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
    value.remove_prefix(1);
  }
  return std::string(value.substr(0, kMaxStreamField));
}

int ConnectTo(const std::string& host, int port, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
    *error = "cannot resolve " + host;
    return -1;
  }
  platform::UniqueFd fd;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    fd.Reset(
        socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!fd) continue;
    timeval timeout{kTimeoutMs / 1000, (kTimeoutMs % 1000) * 1000};
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (connect(fd.get(), a->ai_addr, a->ai_addrlen) == 0) break;
    fd.Reset();
  }
  freeaddrinfo(found);
  if (!fd) *error = "cannot connect to " + host + ":" + service;
  return fd.Release();
}

bool SendAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

platform::Status ParseHttpAddress(std::string_view url, std::string* host,
                                  int* port, std::string* path) {
  std::string text(url.substr(0, 2048));
  char host_buffer[256] = {};
  int port_number = 80;
  int matched = std::sscanf(text.c_str(), "http://%255[^:/]:%d", host_buffer,
                            &port_number);
  bool has_scheme = text.compare(0, 7, "http://") == 0;
  if (matched < 1 && !has_scheme) {
    port_number = 80;
    matched =
        std::sscanf(text.c_str(), "%255[^:/]:%d", host_buffer, &port_number);
  }
  if (matched < 1 || host_buffer[0] == '\0') {
    return platform::Status(platform::ErrorCode::kInvalidArgument,
                            "no host in the address \"" + text + "\"");
  }
  if (matched < 2) port_number = 80;
  if (port_number <= 0 || port_number > 65535) {
    return platform::Status(platform::ErrorCode::kInvalidArgument,
                            "bad port in the address \"" + text + "\"");
  }
  *host = host_buffer;
  *port = port_number;
  size_t start = has_scheme ? 7 : 0;
  size_t slash = text.find('/', start);
  *path = slash == std::string::npos ? "/" : text.substr(slash);
  return platform::Status::Ok();
}

std::string StreamTitleOf(std::string_view metadata) {
  constexpr std::string_view kKey = "StreamTitle='";
  size_t at = metadata.find(kKey);
  if (at == std::string_view::npos) return {};
  std::string_view rest = metadata.substr(at + kKey.size());
  size_t end = rest.find("';");
  if (end == std::string_view::npos) {
    end = rest.find('\0');
    if (end == std::string_view::npos) end = rest.size();
  }
  return std::string(rest.substr(0, std::min(end, kMaxStreamField)));
}

std::unique_ptr<HttpSource> HttpSource::Open(std::string_view url,
                                             platform::Status* status) {
  std::unique_ptr<HttpSource> source(new HttpSource);
  source->url_ = std::string(url);
  platform::Status connected = source->Connect(url);
  if (status != nullptr) *status = connected;
  if (!connected.ok()) return nullptr;
  return source;
}

HttpSource::~HttpSource() { Disconnect(); }

void HttpSource::Disconnect() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

platform::Status HttpSource::Connect(std::string_view url) {
  Disconnect();
  pending_.clear();
  pending_at_ = 0;
  replay_.clear();
  offset_ = 0;
  received_ = 0;
  std::string current(url);
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    std::string host, path;
    int port = 80;
    if (platform::Status parsed =
            ParseHttpAddress(current, &host, &port, &path);
        !parsed.ok()) {
      return parsed;
    }
    std::string error;
    fd_ = ConnectTo(host, port, &error);
    if (fd_ < 0) {
      return platform::Status(platform::ErrorCode::kUnavailable, error);
    }
    char request[4096];
    int length = std::snprintf(
        request, sizeof request,
        "GET %s HTTP/1.0\r\nHost: %s\r\nAccept: */*\r\nIcy-MetaData:1\r\n"
        "User-Agent: %s\r\n\r\n",
        path.c_str(), host.c_str(), kUserAgent);
    if (length <= 0 || length >= static_cast<int>(sizeof request) ||
        !SendAll(fd_, std::string(request, static_cast<size_t>(length)))) {
      Disconnect();
      return platform::Status(platform::ErrorCode::kIoError,
                              "cannot send the request");
    }
    // The header block, up to "\r\n\r\n".
    std::string head;
    size_t end = std::string::npos;
    while (end == std::string::npos) {
      if (head.size() >= kMaxHeaderBytes) {
        Disconnect();
        return platform::Status(platform::ErrorCode::kIoError,
                                "the server's headers do not end");
      }
      uint8_t buffer[2048];
      size_t n = ReadSocket(
          buffer,
          std::min<size_t>(sizeof buffer, kMaxHeaderBytes + 4 - head.size()));
      if (n == 0) {
        Disconnect();
        return platform::Status(platform::ErrorCode::kIoError,
                                "the server closed before the headers ended");
      }
      size_t from = head.size() >= 3 ? head.size() - 3 : 0;
      head.append(reinterpret_cast<char*>(buffer), n);
      end = head.find("\r\n\r\n", from);
      if (end != std::string::npos && end > kMaxHeaderBytes) {
        end = std::string::npos;
        head.resize(kMaxHeaderBytes);
      }
    }
    pending_.assign(head.begin() + static_cast<long>(end) + 4, head.end());
    pending_at_ = 0;
    head.resize(end);
    StreamInfo info;
    info.status = 0;
    if (std::sscanf(head.c_str(), " %*s %d", &info.status) != 1) {
      info.status = 0;
    }
    std::string location;
    size_t line_start = head.find("\r\n");
    while (line_start != std::string::npos) {
      line_start += 2;
      size_t line_end = head.find("\r\n", line_start);
      std::string_view line = std::string_view(head).substr(
          line_start, line_end == std::string::npos ? std::string::npos
                                                    : line_end - line_start);
      if (StartsWithNoCase(line, "Location: ")) {
        location = std::string(line.substr(10));
      } else if (StartsWithNoCase(line, "icy-name:") ||
                 StartsWithNoCase(line, "ice-name:")) {
        info.name = FieldValue(line, 9);
      } else if (StartsWithNoCase(line, "icy-genre:") ||
                 StartsWithNoCase(line, "ice-genre:")) {
        info.genre = FieldValue(line, 10);
      } else if (StartsWithNoCase(line, "icy-url:") ||
                 StartsWithNoCase(line, "ice-url:")) {
        info.url = FieldValue(line, 8);
      } else if (StartsWithNoCase(line, "icy-metaint:")) {
        int metaint = 0;
        std::string value = FieldValue(line, 12);
        if (std::sscanf(value.c_str(), "%d", &metaint) == 1 && metaint > 0) {
          info.metaint = metaint;
        }
      }
      line_start = line_end;
    }
    if (!location.empty()) {
      Disconnect();
      if (location[0] == '/') {
        location = "http://" + host + ":" + std::to_string(port) + location;
      }
      current = location;
      continue;
    }
    if (info.status != 200) {
      Disconnect();
      return platform::Status(
          platform::ErrorCode::kUnavailable,
          "the server answered " + std::to_string(info.status));
    }
    info.location = current;
    metaint_ = info.metaint;
    until_meta_ = metaint_;
    std::lock_guard lock(info_mutex_);
    info_ = std::move(info);
    return platform::Status::Ok();
  }
  return platform::Status(platform::ErrorCode::kUnavailable,
                          "too many redirects");
}

size_t HttpSource::ReadSocket(uint8_t* buffer, size_t size) {
  if (pending_at_ < pending_.size()) {
    size_t n = std::min(size, pending_.size() - pending_at_);
    std::memcpy(buffer, pending_.data() + pending_at_, n);
    pending_at_ += n;
    return n;
  }
  if (fd_ < 0) return 0;
  for (;;) {
    ssize_t n = recv(fd_, buffer, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Disconnect();  // closed, failed or timed out: the stream ends
      return 0;
    }
    return static_cast<size_t>(n);
  }
}

bool HttpSource::ReadMetadata() {
  uint8_t length = 0;
  if (ReadSocket(&length, 1) != 1) return false;
  std::string metadata(length * 16u, '\0');
  size_t done = 0;
  while (done < metadata.size()) {
    size_t n = ReadSocket(reinterpret_cast<uint8_t*>(metadata.data()) + done,
                          metadata.size() - done);
    if (n == 0) return false;
    done += n;
  }
  std::string title = StreamTitleOf(metadata);
  if (!title.empty()) {
    std::lock_guard lock(info_mutex_);
    info_.title = std::move(title);
  }
  return true;
}

size_t HttpSource::ReadAudio(uint8_t* buffer, size_t size) {
  if (metaint_ > 0 && until_meta_ == 0) {
    if (!ReadMetadata()) return 0;
    until_meta_ = metaint_;
  }
  if (metaint_ > 0) size = std::min<size_t>(size, until_meta_);
  size_t n = ReadSocket(buffer, size);
  if (metaint_ > 0) until_meta_ -= static_cast<int>(n);
  return n;
}

size_t HttpSource::Read(void* buffer, size_t size) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  if (offset_ < received_) {
    // Going over the kept first bytes again.
    if (offset_ >= replay_.size()) return 0;
    size_t n =
        static_cast<size_t>(std::min<uint64_t>(size, replay_.size() - offset_));
    std::memcpy(out, replay_.data() + offset_, n);
    offset_ += n;
    return n;
  }
  size_t n = ReadAudio(out, size);
  if (replay_complete_ && replay_.size() == received_) {
    size_t keep =
        std::min(n, kReplayBytes - std::min(kReplayBytes, replay_.size()));
    replay_.insert(replay_.end(), out, out + keep);
    if (keep < n) replay_complete_ = false;
  }
  received_ += n;
  offset_ += n;
  return n;
}

bool HttpSource::Seek(uint64_t offset) {
  if (offset == offset_) return true;
  if (offset <= received_ && replay_complete_ && replay_.size() == received_) {
    offset_ = offset;
    return true;
  }
  if (offset > received_ && offset_ == received_) {
    return Skip(offset - offset_);
  }
  if (offset == 0) {
    replay_complete_ = true;
    // A stream that cannot be opened again ends here: Seek has no other
    // way to say it.
    return Connect(url_).ok();
  }
  return false;
}

StreamInfo HttpSource::info() const {
  std::lock_guard lock(info_mutex_);
  return info_;
}

}  // namespace audio
