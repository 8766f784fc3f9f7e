// For tests of windows: the one QApplication of a test process, on the
// offscreen platform, made on first use.
#ifndef TELVANE_KIT_TESTING_QT_APP_H_
#define TELVANE_KIT_TESTING_QT_APP_H_

class QApplication;

namespace kit::testing {

// Creates the application (offscreen, scale 1) unless it exists.
QApplication* EnsureApplication();

}  // namespace kit::testing

#endif  // TELVANE_KIT_TESTING_QT_APP_H_
