// The device's screen: 240 x 320 logical pixels unless the device settings
// say otherwise. Every window is laid out in these pixels; on the host the
// whole program is scaled so that the phone is readable on a desktop.
#ifndef TELVANE_KIT_SCREEN_H_
#define TELVANE_KIT_SCREEN_H_

#include <QSize>

namespace kit {

// The logical screen size from the device settings "screen_width" and
// "screen_height" (240 x 320 when unset or unreadable).
QSize DeviceScreenSize();

// Chooses the scale before the application object exists: QT_SCALE_FACTOR
// when the user set it, else TELVANE_SCALE, else 1 for the offscreen
// platform (tests, screenshots) and 2 on a real display.
void PrepareDisplayScale();

}  // namespace kit

#endif  // TELVANE_KIT_SCREEN_H_
