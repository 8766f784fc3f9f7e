// The Hotkey dialog on a scratch device, shown offscreen and driven with the
// device's own key presses (kit::PressHardwareKey goes through the hotkey
// registry as `devicectl press` does); the bindings are checked in the
// settings store and, after a save, in the registry.
#include "settings/ui/hotkey_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QStyle>
#include <QThread>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <vector>

#include "kit/hotkeys.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/registry.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace settings::ui {
namespace {

namespace cmds = kit::cmds;
using platform::RegistryKey;
using platform::RegistryRoot;

constexpr uint16_t kButton1 = 193;
constexpr int kRowMinimize = 0;
constexpr int kRowNewSms = 8;
constexpr int kRowReply = 10;

// Turns the event loop until `done` holds (or a generous deadline passes).
bool WaitFor(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 10000) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(1);
  }
  return true;
}

class HotkeyDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { kit::testing::EnsureApplication(); }

  // The dialog over the store, shown and in front, as Run shows it.
  std::unique_ptr<HotkeyDialog> Open() {
    auto dialog = std::make_unique<HotkeyDialog>(nullptr, &store_);
    dialog->show();
    dialog->activateWindow();
    EXPECT_TRUE(WaitFor([&] { return dialog->isActiveWindow(); }));
    return dialog;
  }

  static QString KeyText(HotkeyDialog& dialog, int row) {
    return dialog.list()->topLevelItem(row)->text(1);
  }

  // Selects `row`, presses Action on the list, then the hardware key.
  static void Capture(HotkeyDialog& dialog, int row, uint16_t key_code) {
    kit::SelectListRow(dialog.list(), row);
    QKeyEvent action(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(dialog.list(), &action);
    ASSERT_TRUE(dialog.capturing());
    kit::PressHardwareKey(key_code);
    ASSERT_TRUE(WaitFor([&] { return !dialog.capturing(); }));
  }

  platform::testing::TempDevice device_;
  SettingsStore store_;
};

TEST_F(HotkeyDialogTest, RowsShowTheCommandsAndTheStoredKeys) {
  store_.mutable_hotkeys() = {
      {1, 202, cmds::kView},
      {1, 142, cmds::kOpen},
      {1, 65, cmds::kSave},
      // A later binding of the same command takes the row.
      {1, 194, cmds::kMinimize},
      {1, 195, cmds::kMinimize},
      // Same key code, other modifiers (only the registry can hold this):
      // both load.
      {1, kButton1, cmds::kNewSms},
      {5, kButton1, cmds::kReply},
      // A command no row has.
      {1, 196, cmds::kExit},
  };
  auto dialog = Open();
  EXPECT_EQ(dialog->title_bar()->caption(), QStringLiteral("Hotkey"));
  QTreeWidget* list = dialog->list();
  EXPECT_EQ(kit::FindControl<QTreeWidget>(dialog.get(), kHotkeyList), list);
  EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("Function"));
  EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("Hotkey"));
  ASSERT_EQ(list->topLevelItemCount(), 18);
  EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("Minimize"));
  EXPECT_EQ(list->topLevelItem(6)->text(0),
            QStringLiteral("Empty Recycle Bin"));
  EXPECT_EQ(list->topLevelItem(12)->text(0), QStringLiteral("Select/Unselect"));
  EXPECT_EQ(list->topLevelItem(17)->text(0), QStringLiteral("Node Password"));
  EXPECT_EQ(kit::SelectedListRow(list), 0);
  EXPECT_EQ(dialog->status_line()->text(),
            QStringLiteral("Action = change, Back = unmap"));
  EXPECT_EQ(kit::FindControl<QLabel>(dialog.get(), kHotkeyStatus),
            dialog->status_line());

  EXPECT_EQ(KeyText(*dialog, 1), QStringLiteral("Remote1"));  // 202
  EXPECT_EQ(KeyText(*dialog, 3), QStringLiteral("Remote1"));  // 142
  EXPECT_EQ(KeyText(*dialog, 4), QStringLiteral("0x65X"));
  EXPECT_EQ(KeyText(*dialog, kRowMinimize), QStringLiteral("Button3"));
  EXPECT_EQ(KeyText(*dialog, kRowNewSms), QStringLiteral("Button1"));
  EXPECT_EQ(KeyText(*dialog, kRowReply), QStringLiteral("Button1"));
  EXPECT_EQ(dialog->row_binding(kRowReply),
            (HotkeyBinding{5, kButton1, cmds::kReply}));
  EXPECT_EQ(KeyText(*dialog, 2), QStringLiteral("(none)"));
  EXPECT_EQ(dialog->row_binding(2).key_code, kUnboundKey);

  // OK keeps the bound rows, in row order; the unknown command is gone.
  dialog->Dispatch(cmds::kOk);
  EXPECT_EQ(dialog->result(), kit::kCommandOk);
  EXPECT_EQ(store_.hotkeys(), (std::vector<HotkeyBinding>{
                                  {1, 195, cmds::kMinimize},
                                  {1, 202, cmds::kView},
                                  {1, 142, cmds::kOpen},
                                  {1, 65, cmds::kSave},
                                  {1, kButton1, cmds::kNewSms},
                                  {5, kButton1, cmds::kReply},
                              }));
}

TEST_F(HotkeyDialogTest, ColumnsTakeTwoThirdsAndOneThirdOfTheWidth) {
  auto dialog = Open();
  QTreeWidget* list = dialog->list();
  for (int width : {240, 300}) {
    list->resize(width, list->height());
    QApplication::processEvents();
    const int left =
        list->width() -
        list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list) -
        2 * list->frameWidth();
    EXPECT_EQ(list->columnWidth(0), left * 2 / 3) << width;
    EXPECT_EQ(list->columnWidth(1), left / 3) << width;
  }
}

TEST_F(HotkeyDialogTest, ACapturedKeyBindsTheRowAndMovesFromAnother) {
  auto dialog = Open();
  kit::SelectListRow(dialog->list(), kRowNewSms);
  QKeyEvent action(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(dialog->list(), &action);
  ASSERT_TRUE(dialog->capturing());
  EXPECT_EQ(dialog->status_line()->text(),
            QStringLiteral("Press Key or Press Back to cancel"));
  // Every hardware key now belongs to the dialog.
  QWidget other;
  EXPECT_FALSE(kit::RegisterHotkey(&other, 1, 0, 205));
  EXPECT_FALSE(kit::RegisterHotkey(&other, 2, 0, 121));

  kit::PressHardwareKey(kButton1);
  ASSERT_TRUE(WaitFor([&] { return !dialog->capturing(); }));
  EXPECT_EQ(dialog->row_binding(kRowNewSms),
            (HotkeyBinding{1, kButton1, cmds::kNewSms}));
  EXPECT_EQ(KeyText(*dialog, kRowNewSms), QStringLiteral("Button1"));
  EXPECT_EQ(dialog->status_line()->text(),
            QStringLiteral("Action = change, Back = unmap"));
  // ...and none of them any more.
  EXPECT_TRUE(kit::RegisterHotkey(&other, 1, 0, 205));
  EXPECT_TRUE(kit::UnregisterHotkey(&other, 1));

  // The same key for "Reply" leaves "New SMS" without it.
  ASSERT_NO_FATAL_FAILURE(Capture(*dialog, kRowReply, kButton1));
  EXPECT_EQ(dialog->row_binding(kRowReply).key_code, kButton1);
  EXPECT_EQ(dialog->row_binding(kRowNewSms).key_code, kUnboundKey);
  EXPECT_EQ(KeyText(*dialog, kRowNewSms), QStringLiteral("(none)"));

  // A key with a modifier of its own is another combination.
  kit::SelectListRow(dialog->list(), kRowNewSms);
  dialog->StartCapture();
  QApplication::postEvent(
      dialog.get(), new kit::HotkeyEvent(
                        kButton1, kit::kModShift | kit::kModControl, kButton1));
  ASSERT_TRUE(WaitFor([&] { return !dialog->capturing(); }));
  EXPECT_EQ(dialog->row_binding(kRowNewSms),
            (HotkeyBinding{1 | 4 | 8, kButton1, cmds::kNewSms}));
  EXPECT_EQ(dialog->row_binding(kRowReply).key_code, kButton1);

  dialog->Dispatch(kit::kCommandOk);
  EXPECT_EQ(store_.hotkeys(),
            (std::vector<HotkeyBinding>{{13, kButton1, cmds::kNewSms},
                                        {1, kButton1, cmds::kReply}}));
}

TEST_F(HotkeyDialogTest, BackEndsACaptureOrUnbindsAndOtherKeysEndCapture) {
  store_.mutable_hotkeys() = {{1, 117, cmds::kMinimize}};
  auto dialog = Open();
  ASSERT_EQ(kit::SelectedListRow(dialog->list()), kRowMinimize);

  // Back while capturing: the capture ends, the binding stays.
  dialog->StartCapture();
  kit::PressHardwareKey(kit::kKeyBack);
  kit::PressHardwareKey(kit::kKeyBack, /*up=*/true);
  ASSERT_TRUE(WaitFor([&] { return !dialog->capturing(); }));
  QApplication::processEvents();
  EXPECT_EQ(dialog->row_binding(kRowMinimize).key_code, 117);
  EXPECT_TRUE(dialog->isVisible());

  // Identifiers 0 and 1006 are not keys to bind.
  dialog->StartCapture();
  kit::HotkeyEvent zero(0, 0, 118);
  kit::HotkeyEvent reserved(1006, 0, 118);
  QApplication::sendEvent(dialog.get(), &zero);
  QApplication::sendEvent(dialog.get(), &reserved);
  EXPECT_TRUE(dialog->capturing());
  EXPECT_EQ(dialog->row_binding(kRowMinimize).key_code, 117);

  // A key that is no hardware key ends the capture and binds nothing.
  QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier,
                   QStringLiteral("a"));
  QApplication::sendEvent(dialog->list(), &letter);
  EXPECT_FALSE(dialog->capturing());
  EXPECT_EQ(dialog->row_binding(kRowMinimize).key_code, 117);

  // Back (the host's Escape) without a capture unbinds the selected row and
  // leaves the dialog open.
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(dialog->list(), &escape);
  ASSERT_TRUE(WaitFor([&] {
    return dialog->row_binding(kRowMinimize).key_code == kUnboundKey;
  }));
  EXPECT_EQ(KeyText(*dialog, kRowMinimize), QStringLiteral("(none)"));
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(HotkeyDialogTest, AKeyHeldElsewhereIsSkippedByTheCapture) {
  QWidget holder;
  ASSERT_TRUE(kit::RegisterHotkey(&holder, 7, kit::kModWin, kButton1));
  auto dialog = Open();
  kit::SelectListRow(dialog->list(), kRowReply);
  dialog->StartCapture();
  EXPECT_TRUE(dialog->capturing());
  // The holder keeps Button1; the dialog takes the next free key.
  EXPECT_FALSE(kit::RegisterHotkey(&holder, 8, 0, 194));
  kit::PressHardwareKey(194);
  ASSERT_TRUE(WaitFor([&] { return !dialog->capturing(); }));
  EXPECT_EQ(dialog->row_binding(kRowReply).key_code, 194);
  EXPECT_TRUE(kit::UnregisterHotkey(&holder, 7));
}

TEST_F(HotkeyDialogTest, UnmapResetAndOkReachTheStoreAndTheRegistry) {
  store_.mutable_hotkeys() = {{1, 117, cmds::kMinimize},
                              {1, 118, cmds::kReply}};
  ASSERT_TRUE(store_.Save().ok());
  auto dialog = Open();

  // Tap and hold on a row: "Key" with "Unmap".
  QTreeWidget* list = dialog->list();
  QRect rect = list->visualItemRect(list->topLevelItem(kRowReply));
  ASSERT_NE(dialog->row_menu(), nullptr);
  emit list->customContextMenuRequested(rect.center());
  EXPECT_EQ(kit::SelectedListRow(list), kRowReply);
  EXPECT_TRUE(dialog->row_menu()->isVisible());
  QAction* unmap = kit::FindCommand(dialog->row_menu(), cmds::kUnmap);
  ASSERT_NE(unmap, nullptr);
  EXPECT_EQ(unmap->text(), QStringLiteral("Unmap"));
  dialog->row_menu()->close();
  unmap->trigger();
  EXPECT_EQ(dialog->row_binding(kRowReply).key_code, kUnboundKey);
  EXPECT_EQ(KeyText(*dialog, kRowReply), QStringLiteral("(none)"));
  EXPECT_EQ(store_.hotkeys().size(), 2u);  // not before OK

  // "Reset" empties the store's list at once.
  dialog->Dispatch(cmds::kReset);
  EXPECT_TRUE(store_.hotkeys().empty());
  for (int row = 0; row < list->topLevelItemCount(); ++row) {
    EXPECT_EQ(KeyText(*dialog, row), QStringLiteral("(none)")) << row;
  }
  dialog->Dispatch(cmds::kOk);
  EXPECT_TRUE(store_.hotkeys().empty());
  ASSERT_TRUE(store_.Save().ok());
  std::optional<RegistryKey> key =
      RegistryKey::Open(RegistryRoot::kCurrentUser, kHotkeyKey);
  ASSERT_TRUE(key.has_value());
  EXPECT_TRUE(key->Values().empty());
}

}  // namespace
}  // namespace settings::ui
