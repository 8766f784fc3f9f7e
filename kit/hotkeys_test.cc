// Hotkeys and hardware keys with real widgets on the offscreen platform and
// the device's real registry and key endpoint.
#include "kit/hotkeys.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWidget>
#include <memory>
#include <vector>

#include "kit/device_window.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/hotkeys.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"

namespace kit {
namespace {

struct Seen {
  int id;
  uint32_t modifiers;
  uint16_t key_code;
  bool operator==(const Seen&) const = default;
};

struct SeenKey {
  QEvent::Type type;
  int key;
  uint32_t native_key;
  bool operator==(const SeenKey&) const = default;
};

// A window that records the hotkey notifications and key events it gets.
class Recorder : public QWidget {
 public:
  explicit Recorder(QWidget* parent = nullptr) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
  }
  std::vector<Seen> hotkeys;
  std::vector<SeenKey> keys;

 protected:
  bool event(QEvent* event) override {
    if (event->type() == HotkeyEvent::Type()) {
      auto* hotkey = static_cast<HotkeyEvent*>(event);
      hotkeys.push_back(
          {hotkey->id(), hotkey->modifiers(), hotkey->key_code()});
      return true;
    }
    if (event->type() == QEvent::KeyPress ||
        event->type() == QEvent::KeyRelease) {
      auto* key = static_cast<QKeyEvent*>(event);
      keys.push_back({event->type(), key->key(), key->nativeVirtualKey()});
      return true;
    }
    return QWidget::event(event);
  }
};

class HotkeysTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::EnsureApplication(); }

  // Shows `window` as the active window with `focus` focused.
  static void Activate(QWidget* window, QWidget* focus) {
    window->show();
    QApplication::setActiveWindow(window);
    focus->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    ASSERT_EQ(QApplication::focusWidget(), focus);
  }

  platform::testing::TempDevice device_;
};

TEST_F(HotkeysTest, ARegisteredKeyReachesItsOwnerOnly) {
  Recorder owner, other;
  ASSERT_TRUE(RegisterHotkey(&owner, 7, kModWin, 193));
  EXPECT_FALSE(RegisterHotkey(&owner, 7, 0, 194)) << "the id is taken";
  EXPECT_FALSE(RegisterHotkey(&other, 1, 0, 193))
      << "the Win modifier is not compared";
  EXPECT_TRUE(RegisterHotkey(&other, 1, kModShift, 193))
      << "another modifier is another key";

  PressHardwareKey(193);
  PressHardwareKey(193, /*up=*/true);  // not asked for: lost
  QCoreApplication::processEvents();
  EXPECT_EQ(owner.hotkeys, (std::vector<Seen>{{7, kModWin, 193}}));
  EXPECT_TRUE(other.hotkeys.empty());

  EXPECT_TRUE(UnregisterHotkey(&owner, 7));
  EXPECT_FALSE(UnregisterHotkey(&owner, 7));
  ASSERT_TRUE(RegisterHotkey(&other, 2, kModKeyUp, 193));
  PressHardwareKey(193);
  PressHardwareKey(193, /*up=*/true);
  QCoreApplication::processEvents();
  EXPECT_EQ(other.hotkeys, (std::vector<Seen>{{2, kModWin, 193},
                                              {2, kModWin | kModKeyUp, 193}}));
}

TEST_F(HotkeysTest, ADestroyedWindowLetsItsKeysGo) {
  Recorder other;
  {
    Recorder owner;
    ASSERT_TRUE(RegisterHotkey(&owner, 1, 0, 121));
    EXPECT_FALSE(RegisterHotkey(&other, 1, 0, 121));
  }
  EXPECT_TRUE(RegisterHotkey(&other, 1, 0, 121));
  EXPECT_EQ(platform::ListHotkeys().size(), 1u);
}

TEST_F(HotkeysTest, AKeyWithoutOwnerGoesToTheFocusedWidget) {
  QWidget window;
  auto* focus = new Recorder(&window);
  Recorder owner;
  ASSERT_TRUE(RegisterHotkey(&owner, 1, 0, 38));
  Activate(&window, focus);

  PressHardwareKey(kKeyAction);
  PressHardwareKey(kKeyAction, /*up=*/true);
  PressHardwareKey(38);  // held: not a key event
  PressHardwareKey(196);
  EXPECT_EQ(focus->keys,
            (std::vector<SeenKey>{{QEvent::KeyPress, Qt::Key_Return, 13},
                                  {QEvent::KeyRelease, Qt::Key_Return, 13},
                                  {QEvent::KeyPress, Qt::Key_F4, 196}}));
  QCoreApplication::processEvents();
  EXPECT_EQ(owner.hotkeys, (std::vector<Seen>{{1, 0, 38}}));
}

TEST_F(HotkeysTest, HostKeysStandForHardwareKeys) {
  QWidget window;
  auto* focus = new Recorder(&window);
  Recorder buttons;
  ASSERT_TRUE(RegisterHotkey(&buttons, 193, kModWin, 193));  // Button1
  ASSERT_TRUE(RegisterHotkey(&buttons, 139, 0, 139));        // Remote3
  ASSERT_TRUE(RegisterHotkey(&buttons, 40, 0, 40));          // Down
  Activate(&window, focus);

  QTest::keyClick(focus, Qt::Key_F1);
  QTest::keyClick(focus, Qt::Key_F3, Qt::ShiftModifier);
  QTest::keyClick(focus, Qt::Key_Down);
  QTest::keyClick(focus, Qt::Key_F2);  // Button2: nobody holds it
  QTest::keyClick(focus, Qt::Key_A);
  QCoreApplication::processEvents();
  EXPECT_EQ(
      buttons.hotkeys,
      (std::vector<Seen>{{193, kModWin, 193}, {139, 0, 139}, {40, 0, 40}}));
  std::vector<int> typed;
  for (const SeenKey& key : focus->keys) {
    if (key.type == QEvent::KeyPress && key.key != Qt::Key_Shift)
      typed.push_back(key.key);
  }
  EXPECT_EQ(typed, (std::vector<int>{Qt::Key_F2, Qt::Key_A}));
}

// A dialog whose Back key is counted.
class BackDialog : public DeviceDialog {
 public:
  BackDialog() : DeviceDialog(nullptr, 999) {}
  int backs = 0;
  std::vector<Seen> hotkeys;

 protected:
  void OnBack() override { ++backs; }
  bool event(QEvent* event) override {
    if (event->type() == HotkeyEvent::Type()) {
      auto* hotkey = static_cast<HotkeyEvent*>(event);
      hotkeys.push_back(
          {hotkey->id(), hotkey->modifiers(), hotkey->key_code()});
      return true;
    }
    return DeviceDialog::event(event);
  }
};

TEST_F(HotkeysTest, AnOverriddenBackKeyArrivesAsHotkey) {
  BackDialog dialog;
  auto* focus = new Recorder(dialog.content());
  Recorder holder;  // even a window holding Back does not take it
  ASSERT_TRUE(RegisterHotkey(&holder, 27, 0, kKeyBack));
  OverrideBackKey(&dialog, true);
  Activate(&dialog, focus);

  QTest::keyClick(focus, Qt::Key_Escape);
  PressHardwareKey(kKeyBack);
  PressHardwareKey(kKeyBack, /*up=*/true);
  QCoreApplication::processEvents();
  std::vector<Seen> back_twice = {{kBackHotkeyId, 0, kKeyBack},
                                  {kBackHotkeyId, kModKeyUp, kKeyBack},
                                  {kBackHotkeyId, 0, kKeyBack},
                                  {kBackHotkeyId, kModKeyUp, kKeyBack}};
  EXPECT_EQ(dialog.hotkeys, back_twice);
  EXPECT_EQ(dialog.backs, 0);
  EXPECT_TRUE(focus->keys.empty());
  EXPECT_TRUE(holder.hotkeys.empty());

  // So does Back pressed from outside the program, the holder
  // notwithstanding.
  std::optional<platform::ForegroundProcess> front =
      platform::GetForegroundProcess();
  ASSERT_TRUE(front.has_value());
  EXPECT_TRUE(front->back_overridden);
  dialog.hotkeys.clear();
  EXPECT_EQ(platform::PressKey(kKeyBack, 0, false), getpid());
  ASSERT_TRUE(platform::testing::WaitUntil([&] {
    QCoreApplication::processEvents();
    return !dialog.hotkeys.empty();
  }));
  EXPECT_EQ(dialog.hotkeys, (std::vector<Seen>{{kBackHotkeyId, 0, kKeyBack}}));

  // Held down, the key repeats its press; the releases in between are
  // taken but not told.
  dialog.hotkeys.clear();
  struct Step {
    QEvent::Type type;
    bool repeat;
  };
  for (Step step :
       {Step{QEvent::KeyPress, false}, Step{QEvent::KeyRelease, true},
        Step{QEvent::KeyPress, true}, Step{QEvent::KeyRelease, false}}) {
    QKeyEvent key(step.type, Qt::Key_Escape, Qt::NoModifier, QString(),
                  step.repeat);
    QApplication::sendEvent(focus, &key);
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(dialog.hotkeys,
            (std::vector<Seen>{{kBackHotkeyId, 0, kKeyBack},
                               {kBackHotkeyId, 0, kKeyBack},
                               {kBackHotkeyId, kModKeyUp, kKeyBack}}));
  EXPECT_TRUE(focus->keys.empty());

  OverrideBackKey(&dialog, false);
  QTest::keyClick(dialog.content(), Qt::Key_Escape);
  QCoreApplication::processEvents();
  EXPECT_EQ(dialog.backs, 0) << "Back is held by another window again";
  EXPECT_EQ(holder.hotkeys, (std::vector<Seen>{{27, 0, kKeyBack}}));
  ASSERT_TRUE(UnregisterHotkey(&holder, 27));
  QTest::keyClick(focus, Qt::Key_Escape);
  EXPECT_EQ(focus->keys.size(), 2u) << "an ordinary key again";
}

TEST_F(HotkeysTest, PressesFromOutsideComeThroughTheEndpoint) {
  QWidget window;
  auto* focus = new Recorder(&window);
  Activate(&window, focus);
  // The program is in front of the device from its first window on.
  std::optional<platform::ForegroundProcess> foreground =
      platform::GetForegroundProcess();
  ASSERT_TRUE(foreground.has_value());
  EXPECT_EQ(foreground->pid, getpid());
  Recorder owner;
  ASSERT_TRUE(RegisterHotkey(&owner, 5, 0, 117));

  EXPECT_EQ(platform::PressKey(117, 0, false), getpid());
  EXPECT_EQ(platform::PressKey(39, 0, false), getpid());
  ASSERT_TRUE(platform::testing::WaitUntil([&] {
    QCoreApplication::processEvents();
    return !owner.hotkeys.empty() && !focus->keys.empty();
  }));
  EXPECT_EQ(owner.hotkeys, (std::vector<Seen>{{5, 0, 117}}));
  EXPECT_EQ(focus->keys,
            (std::vector<SeenKey>{{QEvent::KeyPress, Qt::Key_Right, 39}}));
}

TEST_F(HotkeysTest, QueuedRepeatsCanBeDropped) {
  Recorder owner;
  ASSERT_TRUE(RegisterHotkey(&owner, 1, 0, 118));
  PressHardwareKey(118);
  EXPECT_EQ(platform::PressKey(118, 0, false), getpid());
  EXPECT_EQ(platform::PressKey(118, 0, false), getpid());
  DropQueuedHotkeys(&owner);
  // A press after the drop arrives, and so shows the ones before are gone.
  ASSERT_TRUE(UnregisterHotkey(&owner, 1));
  ASSERT_TRUE(RegisterHotkey(&owner, 2, kModAlt, 118));
  EXPECT_EQ(platform::PressKey(118, kModAlt, false), getpid());
  ASSERT_TRUE(platform::testing::WaitUntil([&] {
    QCoreApplication::processEvents();
    return !owner.hotkeys.empty();
  }));
  EXPECT_EQ(owner.hotkeys, (std::vector<Seen>{{2, kModAlt, 118}}));
}

TEST_F(HotkeysTest, KeysDisplayByTheirFirstName) {
  ASSERT_EQ(HardwareKeys().size(), 25u);
  EXPECT_EQ(KeyDisplayText(13), QStringLiteral("Action"));
  EXPECT_EQ(KeyDisplayText(202), QStringLiteral("Remote1"));
  EXPECT_EQ(KeyDisplayText(142), QStringLiteral("Remote1"));
  EXPECT_EQ(KeyDisplayText(117), QStringLiteral("Volumn Up"));
  EXPECT_EQ(KeyDisplayText(65), QStringLiteral("0x65X"));
  // The device knows the keys by the same names (devicectl press).
  std::span<const platform::HardwareKeyName> device_keys =
      platform::HardwareKeyNames();
  ASSERT_EQ(device_keys.size(), HardwareKeys().size());
  for (size_t i = 0; i < device_keys.size(); ++i) {
    const HardwareKey& key = HardwareKeys()[i];
    EXPECT_EQ(Str(key.name_id), QString::fromUtf8(device_keys[i].name)) << i;
    EXPECT_EQ(key.modifiers, device_keys[i].modifiers) << i;
    EXPECT_EQ(key.key_code, device_keys[i].key_code) << i;
  }
}

}  // namespace
}  // namespace kit
