// The device a benchmark runs on: the scratch device scripts/run-benchmarks
// makes ($TELVANE_DEVICE); when a benchmark is run by hand without one, a
// device is made in a temporary folder.
#ifndef TELVANE_BENCH_BENCH_DEVICE_H_
#define TELVANE_BENCH_BENCH_DEVICE_H_

#include <stdlib.h>

#include <string>

#include "platform/device.h"

namespace bench {

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

}  // namespace bench

#endif  // TELVANE_BENCH_BENCH_DEVICE_H_
