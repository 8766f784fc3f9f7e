// The UI kit with real widgets on the offscreen platform.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <vector>

#include "kit/device_window.h"
#include "kit/fonts.h"
#include "kit/images.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/screen.h"
#include "kit/testing/qt_app.h"
#include "platform/device.h"
#include "platform/testing/temp_device.h"

namespace kit {
namespace {

class KitTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::EnsureApplication(); }
  platform::testing::TempDevice device_;
};

TEST_F(KitTest, MessageBoxesGoThroughTheScript) {
  std::vector<MessageRequest> seen;
  MessageScript previous = SetMessageScript([&](const MessageRequest& request) {
    seen.push_back(request);
    return request.buttons == Buttons::kYesNo ? kAnswerNo : kAnswerOk;
  });
  EXPECT_EQ(ShowMessage(nullptr, QStringLiteral("Delete?"), Str(40061),
                        Buttons::kYesNo),
            kAnswerNo);
  EXPECT_EQ(ShowMessageId(nullptr, 40066, 40062), kAnswerOk);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].caption, QStringLiteral("Alert"));
  EXPECT_EQ(seen[1].text, QStringLiteral("Password Error!"));
  EXPECT_EQ(seen[1].caption, QStringLiteral("Error"));
  SetMessageScript(previous);
}

TEST_F(KitTest, MenusCarryTheirCommands) {
  MenuEntry root;
  MenuEntry open{40074, 40074, {}, false};
  MenuEntry sub{0, 40067, {MenuEntry{40069, 40069, {}, false}}, false};
  root.children = {open, MenuEntry{0, 0, {}, true}, sub};
  QWidget owner;
  QMenu* menu = BuildMenu(root, &owner);
  QAction* save = FindCommand(menu, 40069);
  ASSERT_NE(save, nullptr) << "entries of submenus are found too";
  EXPECT_EQ(CommandOf(save), 40069u);
  EXPECT_EQ(save->objectName(), QStringLiteral("40069"));
  EXPECT_EQ(FindCommand(menu, 12345), nullptr);
  EnableCommand(menu, 40074, false);
  CheckCommand(menu, 40069, true);
  EXPECT_FALSE(FindCommand(menu, 40074)->isEnabled());
  EXPECT_TRUE(save->isChecked());
  EXPECT_EQ(CommandOf(menu->actions()[1]), 0u) << "a separator is no command";
}

class RecordingDialog : public DeviceDialog {
 public:
  RecordingDialog() : DeviceDialog(nullptr, 186) {}
  std::vector<uint32_t> commands;
  int menu_popups = 0;

 protected:
  void OnCommand(uint32_t command) override {
    commands.push_back(command);
    DeviceDialog::OnCommand(command);
  }
  void OnMenuPopup(QMenu*) override { ++menu_popups; }
};

TEST_F(KitTest, DialogsTakeTheScreenAndReportCommands) {
  ASSERT_TRUE(platform::SetDeviceSetting("screen_width", "320").ok());
  ASSERT_TRUE(platform::SetDeviceSetting("screen_height", "240").ok());
  RecordingDialog dialog;
  EXPECT_EQ(dialog.size(), QSize(320, 240));
  EXPECT_EQ(dialog.objectName(), QStringLiteral("dialog.186"));

  MenuEntry root;
  root.children = {MenuEntry{40069, 40069, {}, false}};
  QMenu* menu = BuildMenu(root, &dialog);
  dialog.soft_keys()->SetMenu(menu, QStringLiteral("Menu"));
  dialog.soft_keys()->SetLeftKey(QStringLiteral("Done"), 40356);
  dialog.soft_keys()->left_key()->click();
  dialog.soft_keys()->OpenMenu();
  EXPECT_EQ(dialog.menu_popups, 1);
  FindCommand(menu, 40069)->trigger();
  menu->close();
  EXPECT_EQ(dialog.commands, (std::vector<uint32_t>{40356, 40069}));

  // A bar from the menu table: the left key a popup with a submenu, the
  // right key a command. A command deep in a submenu arrives once.
  MenuEntry bar;
  bar.children = {
      MenuEntry{
          0,
          40067,
          {MenuEntry{0, 40069, {MenuEntry{40074, 40074, {}, false}}, false}},
          false},
      MenuEntry{40016, 40016, {}, false}};
  dialog.soft_keys()->SetMenuBar(bar);
  ASSERT_NE(dialog.soft_keys()->left_menu(), nullptr);
  EXPECT_EQ(dialog.soft_keys()->menu(), nullptr);
  FindCommand(dialog.soft_keys()->left_menu(), 40074)->trigger();
  dialog.soft_keys()->right_key()->click();
  EXPECT_EQ(dialog.commands,
            (std::vector<uint32_t>{40356, 40069, 40074, 40016}));

  dialog.show();
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&dialog, &back);
  EXPECT_EQ(dialog.result(), kCommandCancel);
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(KitTest, FontsFollowTheirDescriptions) {
  settings::FontDescription description = settings::DefaultFontDescription();
  description.height = -15;
  description.weight = 700;
  description.italic = 1;
  QFont font = FontFromDescription(description);
  EXPECT_EQ(font.pixelSize(), 15);
  EXPECT_TRUE(font.bold());
  EXPECT_TRUE(font.italic());
  EXPECT_FALSE(font.underline());

  settings::FontDescription back = DescriptionFromFont(font);
  EXPECT_EQ(back.height, -15);
  EXPECT_EQ(back.weight, 700);
  EXPECT_EQ(back.italic, 1);

  description.height = 0;
  description.weight = -5;  // hostile values still give a usable font
  font = FontFromDescription(description);
  EXPECT_EQ(font.pixelSize(), 12);
  EXPECT_EQ(font.weight(), QFont::Normal);
}

TEST_F(KitTest, EveryImageLoads) {
  for (int id : {kBitmapTreeIcons, kBitmapFileIcons, kBitmapTitleStrip,
                 kBitmapToolbar, kBitmapPasswordBackground, kBitmapPopup}) {
    EXPECT_FALSE(Bitmap(id).isNull()) << id;
  }
  EXPECT_FALSE(Icon(kIconTray).isNull());
  EXPECT_FALSE(Icon(kIconNotify).isNull());
  EXPECT_TRUE(Bitmap(999).isNull());

  std::vector<QPixmap> tree = ImageStrip(kBitmapTreeIcons);
  ASSERT_EQ(tree.size(), 9u)
      << "document, folder, read, unread, two bins, up, two marks";
  EXPECT_EQ(ImageStrip(kBitmapToolbar).size(), 7u);
  EXPECT_EQ(ImageStrip(kBitmapFileIcons).size(), 2u);
  EXPECT_TRUE(ImageStrip(kBitmapPopup).empty());
  // Magenta is gone from the frames; drawn pixels stay opaque.
  QImage folder = tree[1].toImage();
  EXPECT_EQ(qAlpha(folder.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(folder.pixel(8, 8)), 255);
  // The popup's key colour is its top-left pixel: white.
  EXPECT_EQ(Bitmap(kBitmapPopup).toImage().pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(Bitmap(kBitmapPopup).size(), QSize(150, 95));
}

TEST(DeviceScreenTest, TheLargestWholeScaleThatFits) {
  const QSize phone(240, 320);
  EXPECT_EQ(FittingScale(QSize(800, 600), phone), 1);  // not 2: 640 > 600
  EXPECT_EQ(FittingScale(QSize(1920, 1080), phone), 3);
  EXPECT_EQ(FittingScale(QSize(1920, 1050), phone), 3);
  EXPECT_EQ(FittingScale(QSize(3840, 2160), phone), 6);
  EXPECT_EQ(FittingScale(QSize(960, 1280), phone), 4);  // exactly
  // Too small a display, or none at all: still drawn, at 1.
  EXPECT_EQ(FittingScale(QSize(200, 200), phone), 1);
  EXPECT_EQ(FittingScale(QSize(), phone), 1);
}

TEST(DeviceScreenTest, OriginSetting) {
  EXPECT_EQ(ParseScreenOrigin("40,25"), QPoint(40, 25));
  EXPECT_EQ(ParseScreenOrigin("0,0"), QPoint(0, 0));
  for (const char* centred :
       {"centre", "", "40", "40,", ",25", "-1,5", "4,x", "4,5,6", " 4,5"}) {
    EXPECT_FALSE(ParseScreenOrigin(centred).has_value()) << centred;
  }
}

TEST(DeviceScreenTest, PlacedOnTheDisplay) {
  const QSize phone(240, 320);
  const QRect display(0, 0, 800, 600);
  // Centred in the usable area (a panel at the top takes 30 pixels).
  EXPECT_EQ(PlaceDeviceScreen(display, QRect(0, 30, 800, 570), phone, 1,
                              std::nullopt),
            QRect(280, 155, 240, 320));
  // A display smaller than the screen: from the usable area's corner.
  EXPECT_EQ(PlaceDeviceScreen(QRect(0, 0, 200, 300), QRect(0, 0, 200, 300),
                              phone, 1, std::nullopt),
            QRect(0, 0, 240, 320));
  // A second display to the right; at scale 2 its 1600 x 1200 pixels are
  // 800 x 600 in the program's coordinates, and the origin is in display
  // pixels from that display's corner.
  const QRect right(800, 0, 800, 600);
  EXPECT_EQ(PlaceDeviceScreen(right, right, phone, 2, std::nullopt),
            QRect(1080, 140, 240, 320));
  EXPECT_EQ(PlaceDeviceScreen(right, right, phone, 2, QPoint(100, 40)),
            QRect(850, 20, 240, 320));
}

TEST_F(KitTest, EveryWindowKeepsToTheDeviceScreen) {
  ASSERT_TRUE(platform::SetDeviceSetting("screen_origin", "30,50").ok());
  const QRect screen = DeviceScreenRect();
  EXPECT_EQ(screen, QRect(30, 50, 240, 320));  // offscreen: scale 1
  // A window of its own takes the device screen.
  DeviceDialog main(nullptr, 105);
  EXPECT_EQ(main.geometry(), screen);
  // Moved in, not resized, as far as its size allows.
  EXPECT_EQ(KeepInDeviceScreen(QRect(0, 0, 100, 40)), QRect(30, 50, 100, 40));
  EXPECT_EQ(KeepInDeviceScreen(QRect(250, 400, 100, 40)),
            QRect(170, 330, 100, 40));
  EXPECT_EQ(KeepInDeviceScreen(QRect(100, 100, 100, 40)),
            QRect(100, 100, 100, 40));
  EXPECT_EQ(KeepInDeviceScreen(QRect(0, 0, 300, 400)).topLeft(),
            QPoint(30, 50));

  // A soft-key menu opens above its key, at the key's outer edge.
  MenuEntry root;
  root.children = {MenuEntry{40069, 40069, {}, false},
                   MenuEntry{40074, 40074, {}, false}};
  main.soft_keys()->SetMenu(BuildMenu(root, &main), QStringLiteral("Menu"));
  main.show();
  main.soft_keys()->OpenMenu();
  QMenu* menu = main.soft_keys()->menu();
  ASSERT_TRUE(menu->isVisible());
  QPushButton* key = main.soft_keys()->right_key();
  const QPoint key_top_right = key->mapToGlobal(QPoint(key->width(), 0));
  EXPECT_EQ(menu->geometry().bottom() + 1, key_top_right.y());
  EXPECT_EQ(menu->geometry().right() + 1, key_top_right.x());
  EXPECT_TRUE(screen.contains(menu->geometry()));
  menu->close();
  ASSERT_TRUE(platform::SetDeviceSetting("screen_origin", "centre").ok());
}

}  // namespace
}  // namespace kit
