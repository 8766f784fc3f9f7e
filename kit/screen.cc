#include "kit/screen.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/device.h"

namespace kit {
namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

bool ParseCoordinate(std::string_view text, int* out) {
  if (text.empty()) return false;
  auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size() && *out >= 0;
}

// The usable area of the display's primary screen in display pixels, from
// an application object that lives only for the question; empty when there
// is no display to ask.
QSize MeasureDisplay() {
  if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM")) {
    return QSize();
  }
  setenv("QT_SCALE_FACTOR", "1", 1);
  static int argc = 1;
  static char name[] = "pelicorde";
  static char* argv[] = {name, nullptr};
  QGuiApplication probe(argc, argv);
  QScreen* screen = probe.primaryScreen();
  if (screen == nullptr) return QSize();
  return screen->availableGeometry().size();
}

}  // namespace

QSize DeviceScreenSize() {
  int64_t width = platform::GetDeviceSettingInt("screen_width", 240);
  int64_t height = platform::GetDeviceSettingInt("screen_height", 320);
  if (width < 120 || width > 4096) width = 240;
  if (height < 120 || height > 4096) height = 320;
  return QSize(static_cast<int>(width), static_cast<int>(height));
}

int FittingScale(QSize display, QSize screen) {
  if (screen.width() <= 0 || screen.height() <= 0) return 1;
  int scale = std::min(display.width() / screen.width(),
                       display.height() / screen.height());
  return std::max(scale, 1);
}

std::optional<QPoint> ParseScreenOrigin(std::string_view value) {
  size_t comma = value.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  int x = 0;
  int y = 0;
  if (!ParseCoordinate(value.substr(0, comma), &x) ||
      !ParseCoordinate(value.substr(comma + 1), &y)) {
    return std::nullopt;
  }
  return QPoint(x, y);
}

QRect PlaceDeviceScreen(QRect display, QRect available, QSize screen,
                        double scale, std::optional<QPoint> origin) {
  if (origin) {
    if (scale <= 0) scale = 1;
    return QRect(display.topLeft() +
                     QPoint(static_cast<int>(std::lround(origin->x() / scale)),
                            static_cast<int>(std::lround(origin->y() / scale))),
                 screen);
  }
  int x = available.x() + std::max(0, (available.width() - screen.width()) / 2);
  int y =
      available.y() + std::max(0, (available.height() - screen.height()) / 2);
  return QRect(QPoint(x, y), screen);
}

void PrepareDisplayScale() {
  if (std::getenv("QT_SCALE_FACTOR") != nullptr) return;
  // Qt's scale factor is the only one: the display's own (from its dots per
  // inch) would scale some windows and not others' positions alike.
  setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
  std::string scale;
  if (Set("TELVANE_SCALE")) {
    scale = std::getenv("TELVANE_SCALE");
  } else {
    scale = platform::GetDeviceSetting("screen_scale").value_or("auto");
    int whole = 0;
    if (!ParseCoordinate(scale, &whole) || whole < 1) {
      scale =
          std::to_string(FittingScale(MeasureDisplay(), DeviceScreenSize()));
    }
  }
  setenv("QT_SCALE_FACTOR", scale.c_str(), 1);
}

QRect DeviceScreenRect() {
  const QSize size = DeviceScreenSize();
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return QRect(QPoint(0, 0), size);
  std::optional<QPoint> origin = ParseScreenOrigin(
      platform::GetDeviceSetting("screen_origin").value_or("centre"));
  return PlaceDeviceScreen(screen->geometry(), screen->availableGeometry(),
                           size, screen->devicePixelRatio(), origin);
}

QRect KeepInDeviceScreen(const QRect& rect) {
  const QRect screen = DeviceScreenRect();
  int x =
      std::clamp(rect.x(), screen.left(),
                 std::max(screen.left(), screen.right() + 1 - rect.width()));
  int y =
      std::clamp(rect.y(), screen.top(),
                 std::max(screen.top(), screen.bottom() + 1 - rect.height()));
  return QRect(QPoint(x, y), rect.size());
}

}  // namespace kit
