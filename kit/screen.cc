#include "kit/screen.h"

#include <cstdlib>
#include <string>

#include "platform/device.h"

namespace kit {

QSize DeviceScreenSize() {
  int64_t width = platform::GetDeviceSettingInt("screen_width", 240);
  int64_t height = platform::GetDeviceSettingInt("screen_height", 320);
  if (width < 120 || width > 4096) width = 240;
  if (height < 120 || height > 4096) height = 320;
  return QSize(static_cast<int>(width), static_cast<int>(height));
}

void PrepareDisplayScale() {
  if (std::getenv("QT_SCALE_FACTOR") != nullptr) return;
  const char* chosen = std::getenv("TELVANE_SCALE");
  std::string scale;
  if (chosen != nullptr && *chosen != '\0') {
    scale = chosen;
  } else {
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    bool offscreen = qpa != nullptr && std::string(qpa) == "offscreen";
    scale = offscreen ? "1" : "2";
  }
  setenv("QT_SCALE_FACTOR", scale.c_str(), 1);
}

}  // namespace kit
