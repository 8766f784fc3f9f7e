// A fresh device in a temporary folder for one test (or one test binary).
//
// The constructor points TELVANE_DEVICE at a new folder and initialises a
// device there; the destructor shuts the device down (no named object
// outlives it) and removes the folder. Child processes started by the test
// inherit TELVANE_DEVICE and so share the device.
#ifndef TELVANE_PLATFORM_TESTING_TEMP_DEVICE_H_
#define TELVANE_PLATFORM_TESTING_TEMP_DEVICE_H_

#include <filesystem>
#include <string>
#include <vector>

namespace platform::testing {

class TempDevice {
 public:
  TempDevice();
  ~TempDevice();
  TempDevice(const TempDevice&) = delete;
  TempDevice& operator=(const TempDevice&) = delete;

  const std::filesystem::path& root() const { return root_; }
  // Host path of a device path such as "\Windows\x" (no case folding).
  std::filesystem::path HostPath(const std::string& device_path) const;

 private:
  std::filesystem::path scratch_;
  std::filesystem::path root_;
  std::string previous_;
  bool had_previous_ = false;
};

// What a shell command printed (stdout and stderr, when the command
// redirects them together) and its exit code (-1 when it did not exit).
struct CommandResult {
  int exit_code = -1;
  std::string out;
};
CommandResult RunCommand(const std::string& command);

// The folder of the test binaries (bin/ of the build), for tests that start
// the project's own programs.
std::filesystem::path BinDir();

// The bytes of a host file; empty when it cannot be read.
std::string ReadHostFile(const std::filesystem::path& path);
// Replaces (or creates, with the folders above it) a host file with
// `bytes`, as another program or a damaged card would leave it.
void WriteHostFile(const std::filesystem::path& path, const std::string& bytes);
// The names in a host folder, sorted (what a failed save may have left).
std::vector<std::string> HostFileNames(const std::filesystem::path& folder);

// Runs the build's devicectl with `args` (shell words) on the current
// device, its standard error joined to its output.
CommandResult Devicectl(const std::string& args);

}  // namespace platform::testing

#endif  // TELVANE_PLATFORM_TESTING_TEMP_DEVICE_H_
