#include "platform/testing/temp_device.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/device.h"

namespace platform::testing {

TempDevice::TempDevice() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
      "/telvane-test-XXXXXX";
  char* made = mkdtemp(pattern.data());
  EXPECT_NE(made, nullptr) << "cannot make a scratch folder";
  scratch_ = pattern;
  root_ = scratch_ / "device";
  if (const char* prev = getenv("TELVANE_DEVICE")) {
    previous_ = prev;
    had_previous_ = true;
  }
  setenv("TELVANE_DEVICE", root_.c_str(), 1);
  Status status = InitialiseDevice();
  EXPECT_TRUE(status.ok()) << status.ToString();
}

TempDevice::~TempDevice() {
  // A daemon a test left running on this device goes with it.
  if (FILE* pid_file = fopen((root_ / "run" / "deviced.pid").c_str(), "r")) {
    int pid = 0;
    if (fscanf(pid_file, "%d", &pid) == 1 && pid > 0) kill(pid, SIGTERM);
    fclose(pid_file);
  }
  ShutdownDevice().IgnoreError();
  if (had_previous_) {
    setenv("TELVANE_DEVICE", previous_.c_str(), 1);
  } else {
    unsetenv("TELVANE_DEVICE");
  }
  std::error_code ec;
  std::filesystem::remove_all(scratch_, ec);
}

std::filesystem::path TempDevice::HostPath(
    const std::string& device_path) const {
  std::string relative = device_path;
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
  return root_ / "fs" / relative;
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    result.out.append(buffer, n);
  int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::filesystem::path BinDir() {
  if (const char* dir = getenv("TELVANE_TEST_BIN_DIR")) return dir;
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return ".";
  self[n] = '\0';
  return std::filesystem::path(self).parent_path();
}

std::string ReadHostFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteHostFile(const std::filesystem::path& path,
                   const std::string& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> HostFileNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

CommandResult Devicectl(const std::string& args) {
  return RunCommand((BinDir() / "devicectl").string() + " " + args + " 2>&1");
}

}  // namespace platform::testing
