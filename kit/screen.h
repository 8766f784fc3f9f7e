// The device's screen: 240 x 320 logical pixels unless the device settings
// say otherwise. Every window is laid out in these pixels. On the host the
// device's screen is one rectangle of the display, drawn at one whole scale:
// the main window fills it, and dialogs, menus and popups are placed inside
// it, so the phone looks the same under any window manager.
#ifndef TELVANE_KIT_SCREEN_H_
#define TELVANE_KIT_SCREEN_H_

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>
#include <string_view>

namespace kit {

// The logical screen size from the device settings "screen_width" and
// "screen_height" (240 x 320 when unset or unreadable).
QSize DeviceScreenSize();

// The largest whole scale (at least 1) at which `screen` fits in `display`.
int FittingScale(QSize display, QSize screen);

// The device setting "screen_origin": "centre" (nullopt) or "X,Y", the
// display pixel of the device screen's top-left corner. Anything else reads
// as "centre".
std::optional<QPoint> ParseScreenOrigin(std::string_view value);

// The device screen, `screen` logical pixels, in the program's coordinates
// on a display `display` whose usable area is `available` (both already in
// the program's coordinates, that is divided by `scale`): at `origin`
// (display pixels from the display's top-left corner) when given, else
// centred in `available`, never starting above or left of it.
QRect PlaceDeviceScreen(QRect display, QRect available, QSize screen,
                        double scale, std::optional<QPoint> origin);

// Chooses the scale before the application object exists. The scale is
// Qt's one global scale factor (QT_SCALE_FACTOR), so every window, dialog,
// menu and popup of the program shares it; the display's own scaling is
// switched off. The scale is QT_SCALE_FACTOR when the user set it, else
// TELVANE_SCALE, else the device setting "screen_scale" when it is a
// number, else ("auto") the largest whole scale at which the device screen
// fits the usable area of the display's primary screen, measured through a
// short-lived connection to the display.
void PrepareDisplayScale();

// The device screen on the display, in the program's coordinates (see
// PlaceDeviceScreen; the origin comes from "screen_origin"). Needs the
// application object.
QRect DeviceScreenRect();

// `rect` (global coordinates) moved, not resized, so that it lies inside
// the device screen as far as its size allows.
QRect KeepInDeviceScreen(const QRect& rect);

}  // namespace kit

#endif  // TELVANE_KIT_SCREEN_H_
