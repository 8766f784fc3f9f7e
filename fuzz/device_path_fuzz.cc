// Fuzzes device path resolution: whatever the path, Resolve either refuses
// it or names a place inside the device's fs/ folder, reached without
// passing a symbolic link, and the answer survives a round trip through
// ToDevicePath. Also runs the wildcard matcher and Find on the same bytes.
//
// The input is read as UTF-16 code units (native byte order).
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/device.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;
namespace files = platform::files;

fs::path scratch;

void RemoveScratch() {
  std::error_code ec;
  fs::remove_all(scratch, ec);
}

[[noreturn]] void Fail(const char* what, const fs::path& path) {
  std::fprintf(stderr, "device_path_fuzz: %s: %s\n", what, path.c_str());
  std::abort();
}

// The host path lies inside fs/ and no existing part of it below fs/ is a
// symbolic link.
void CheckInside(const fs::path& host) {
  fs::path root = platform::DeviceFsRoot();
  fs::path normal = host.lexically_normal();
  auto h = normal.begin();
  for (const fs::path& part : root) {
    if (h == normal.end() || *h != part) Fail("outside fs/", host);
    ++h;
  }
  fs::path walked = root;
  for (; h != normal.end(); ++h) {
    if (*h == "..") Fail("\"..\" in a resolved path", host);
    walked /= *h;
    struct stat st;
    if (lstat(walked.c_str(), &st) != 0) break;
    if (S_ISLNK(st.st_mode)) Fail("resolved through a link", host);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
      "/telvane-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  scratch = pattern;
  std::atexit(RemoveScratch);
  fs::path root = scratch / "device";
  setenv("TELVANE_DEVICE", root.c_str(), 1);
  if (!platform::InitialiseDevice().ok()) std::abort();

  // Something to find: names that differ only in case, a file where a
  // folder might be expected, and links out of fs/ that must never be used.
  fs::path fs_root = root / "fs";
  std::ofstream(fs_root / "Windows" / "readme.txt") << "x";
  std::ofstream(fs_root / "Dup") << "1";
  std::ofstream(fs_root / "dUP") << "2";
  fs::create_directories(fs_root / "A" / "b" / "C");
  if (symlink(root.c_str(), (fs_root / "Out").c_str()) != 0 ||
      symlink("../../device.db", (fs_root / "A" / "db").c_str()) != 0) {
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);

  platform::Status status;
  std::optional<fs::path> host = files::Resolve(text, &status);
  if (host) {
    if (!status.ok()) Fail("a path with a failed status", *host);
    CheckInside(*host);
    std::optional<std::u16string> device = files::ToDevicePath(*host);
    if (!device) Fail("no device path for", *host);
    std::optional<fs::path> again = files::Resolve(*device);
    if (!again || *again != *host) Fail("round trip changed", *host);
  } else if (status.ok()) {
    Fail("refused with an ok status", fs::path());
  }

  // The wildcard matcher: the first unit picks where the pattern ends.
  if (!text.empty()) {
    size_t split = text[0] % text.size();
    std::u16string_view pattern = std::u16string_view(text).substr(1, split);
    std::u16string_view name = std::u16string_view(text).substr(1 + split);
    files::MatchesPattern(pattern, name);
    if (!files::MatchesPattern(u"*", name) ||
        !files::MatchesPattern(u"*.*", name)) {
      Fail("\"*\" failed to match", fs::path());
    }
    if (name.find_first_of(u"*?") == std::u16string_view::npos &&
        !files::MatchesPattern(name, name)) {
      Fail("a name does not match itself", fs::path());
    }
  }

  for (const files::FindData& found : files::Find(text)) {
    if (found.name == u"Out" || found.name == u"db") {
      Fail("Find listed a link", fs::path());
    }
  }
  return 0;
}
