// The device a benchmark runs on: the scratch device scripts/run-benchmarks
// makes ($TELVANE_DEVICE); when a benchmark is run by hand without one, a
// device is made in a temporary folder.
#ifndef TELVANE_BENCH_BENCH_DEVICE_H_
#define TELVANE_BENCH_BENCH_DEVICE_H_

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <random>
#include <string>

#include "platform/device.h"

namespace bench {

// The folder of the running benchmark (the build's bin/).
inline std::filesystem::path BinDir() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return ".";
  self[n] = '\0';
  return std::filesystem::path(self).parent_path();
}

// Runs the build's devicectl with `args`, quietly; true when it succeeded.
inline bool Devicectl(const std::string& args) {
  std::string command =
      (BinDir() / "devicectl").string() + " " + args + " >/dev/null";
  return std::system(command.c_str()) == 0;
}

// A device with the whole build installed, for benchmarks through the real
// processes: $TELVANE_DEVICE, else a new one in a temporary folder.
inline bool MakeInstalledDevice() {
  if (getenv("TELVANE_DEVICE") == nullptr) {
    char pattern[] = "/tmp/telvane-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    setenv("TELVANE_DEVICE", (std::string(pattern) + "/device").c_str(), 1);
  }
  return Devicectl("init") &&
         Devicectl("install " + BinDir().parent_path().string());
}

inline void EnsureDevice() {
  static bool ready = [] {
    if (getenv("TELVANE_DEVICE") == nullptr) {
      char pattern[] = "/tmp/telvane-bench-XXXXXX";
      if (mkdtemp(pattern) != nullptr) {
        setenv("TELVANE_DEVICE", (std::string(pattern) + "/device").c_str(), 1);
      }
    }
    return platform::InitialiseDevice().ok();
  }();
  (void)ready;
}

// A message text of 20 to 300 code units, of Chinese and English words,
// as the benchmarks store and show them.
inline std::u16string RandomBody(std::mt19937& random) {
  static const std::u16string kWords[] = {
      u"\u4f60\u597d", u"meeting",      u"\u660e\u5929",
      u"at 10:30",     u"\u8c22\u8c22", u"OK",
      u"\u6536\u5230", u"see you",      u"\u5403\u996d"};
  std::uniform_int_distribution<int> length(20, 300);
  std::uniform_int_distribution<size_t> word(0, std::size(kWords) - 1);
  size_t target = static_cast<size_t>(length(random));
  std::u16string body;
  while (body.size() < target) body += kWords[word(random)] + u" ";
  body.resize(target);
  return body;
}

}  // namespace bench

#endif  // TELVANE_BENCH_BENCH_DEVICE_H_
