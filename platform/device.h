// The device: where the simulated phone lives on the host, and its settings.
//
// A device is a folder on the host (the device root):
//   $TELVANE_DEVICE, else $XDG_DATA_HOME/telvane/device,
//   else ~/.local/share/telvane/device.
// Inside it: fs/ (the device's file system, device path "\"), device.db
// (registry, phone stores, device settings), run/ (sockets of running
// programs) and debug.log. The root is looked up on every call, so a test
// that points TELVANE_DEVICE elsewhere gets a different device at once.
//
// Device settings are the phone's own fixed properties (ANSI code page,
// locale formats, screen size, whether it has a phone...). They are text
// values in device.db; KnownDeviceSettings() lists every key with its
// default, and a key that was never set reads as its default.
#ifndef TELVANE_PLATFORM_DEVICE_H_
#define TELVANE_PLATFORM_DEVICE_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform {

std::filesystem::path DeviceRoot();
std::filesystem::path DeviceFsRoot();       // <root>/fs
std::filesystem::path DeviceRunDir();       // <root>/run
std::filesystem::path DeviceDatabasePath(); // <root>/device.db
std::filesystem::path DeviceDebugLogPath(); // <root>/debug.log

// A short, stable identifier of the device (16 hex digits derived from the
// canonical root path). Named kernel objects are scoped with it.
std::string DeviceId();

// True when the device root holds an initialised device (device.db exists).
bool DeviceExists();

// Makes the device at DeviceRoot(): the folder layout, device.db with every
// table the platform needs, an empty debug.log. Keeps whatever exists
// already, so it is safe to run on an initialised device.
Status InitialiseDevice();

// Shuts the device down as a power-off would: every named kernel object of
// the device is removed and the window endpoints of run/ are cleared.
// Programs still running keep the handles they hold.
Status ShutdownDevice();

struct DeviceSettingInfo {
  const char* key;
  const char* default_value;
  const char* description;
  // Accepted values: "int", "bool" (0 or 1), or a "|"-separated list.
  const char* accepts;
};

std::span<const DeviceSettingInfo> KnownDeviceSettings();
const DeviceSettingInfo* FindDeviceSetting(std::string_view key);

// The value of a device setting; its default when never set or when the
// device database cannot be read. Unknown keys give std::nullopt.
std::optional<std::string> GetDeviceSetting(std::string_view key);
// An integer setting; `fallback` when unknown or not a number.
int64_t GetDeviceSettingInt(std::string_view key, int64_t fallback);

// Stores a setting. Unknown keys and values the key does not accept are
// refused with kInvalidArgument.
Status SetDeviceSetting(std::string_view key, std::string_view value);

}  // namespace platform

#endif  // TELVANE_PLATFORM_DEVICE_H_
