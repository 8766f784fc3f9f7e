// The Font and Font Setting dialogs, offscreen, driven through dialog
// scripts: lists chosen, boxes ticked, buttons tapped.
#include "settings/ui/font_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QPushButton>
#include <functional>
#include <string>

#include "kit/fonts.h"
#include "kit/menu_table.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/temp_device.h"
#include "settings/font_description.h"
#include "settings/settings_store.h"

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace settings::ui {
namespace {

using kit::DeviceDialog;
using kit::FindControl;

constexpr int kDpi = 96;

FontDescription Font(int32_t height) {
  FontDescription font = DefaultFontDescription();
  font.height = height;
  return font;
}

QComboBox* List(QWidget* dialog, int id) {
  auto* list = FindControl<QComboBox>(dialog, id);
  EXPECT_NE(list, nullptr) << id;
  return list;
}

QCheckBox* Box(QWidget* dialog, int id) {
  auto* box = FindControl<QCheckBox>(dialog, id);
  EXPECT_NE(box, nullptr) << id;
  return box;
}

const FontDescription& Preview(QWidget* dialog) {
  auto* preview = FindControl<FontPreview>(dialog, kFontPreviewArea);
  EXPECT_NE(preview, nullptr);
  return preview->description();
}

class FontDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { kit::testing::EnsureApplication(); }
  void TearDown() override { kit::SetDialogScript({}); }
};

TEST_F(FontDialogTest, PointsFollowTheResolution) {
  EXPECT_EQ(HeightToPoints(-12, 96), 9);
  EXPECT_EQ(HeightToPoints(-13, 96), 10);  // 9.75
  EXPECT_EQ(HeightToPoints(-11, 96), 8);   // 8.25
  EXPECT_EQ(HeightToPoints(-12, 192), 5);  // 4.5 rounds up
  EXPECT_EQ(HeightToPoints(12, 96), -9);
  EXPECT_EQ(PointsToHeight(12, 96), -16);
  EXPECT_EQ(PointsToHeight(9, 96), -12);
  EXPECT_EQ(PointsToHeight(11, 120), -18);  // 18.33
  EXPECT_EQ(PointsToHeight(9, 120), -15);
  EXPECT_EQ(PointsToHeight(10, 131), -18);  // 18.19
}

TEST_F(FontDialogTest, ShowsTheSizeAndStoresTheChosenOne) {
  FontDialog dialog(nullptr, Font(-12), kDpi);
  EXPECT_EQ(dialog.title_bar()->caption(), "Font");
  EXPECT_EQ(dialog.soft_keys()->left_key()->text(), "OK");
  QComboBox* sizes = List(&dialog, kSizeList);
  ASSERT_EQ(sizes->count(), 9);
  EXPECT_EQ(sizes->itemText(0), "8");
  EXPECT_EQ(sizes->itemText(8), "24");
  EXPECT_EQ(sizes->currentText(), "9");
  EXPECT_EQ(Preview(&dialog).height, -12);

  sizes->setCurrentIndex(sizes->findText("12"));
  EXPECT_EQ(dialog.description().height, -16);
  EXPECT_EQ(Preview(&dialog).height, -16);
  // Nothing else of the description changes.
  FontDescription expected = Font(-16);
  EXPECT_EQ(dialog.description(), expected);
}

TEST_F(FontDialogTest, SizesOutsideTheListShowTheFirst) {
  for (int32_t height : {-100, 12, 0, -2}) {
    FontDialog dialog(nullptr, Font(height), kDpi);
    EXPECT_EQ(List(&dialog, kSizeList)->currentIndex(), 0) << height;
    EXPECT_EQ(dialog.description().height, height);  // until chosen
  }
  FontDialog large(nullptr, Font(-32), kDpi);
  EXPECT_EQ(List(&large, kSizeList)->currentText(), "24");
}

TEST_F(FontDialogTest, FaceListStartsWithSystemAndShowsTheFace) {
  FontDescription font = DefaultFontDescription();
  SetFaceName(&font, u"No Such Face Installed");
  FontDialog missing(nullptr, font, kDpi);
  QComboBox* faces = List(&missing, kFaceList);
  EXPECT_EQ(faces->itemText(0), "System");
  EXPECT_EQ(faces->currentIndex(), 0);
  const QStringList families = QFontDatabase::families();
  ASSERT_EQ(faces->count(), families.size() + 1);
  for (int i = 0; i < families.size(); ++i) {
    EXPECT_EQ(faces->itemText(i + 1), families[i]);
  }
  // Until a face is chosen the description keeps its own.
  EXPECT_EQ(FaceName(missing.description()), u"No Such Face Installed");

  if (families.isEmpty()) return;
  const QString last = families.back();
  SetFaceName(&font, kit::U(last));
  FontDialog installed(nullptr, font, kDpi);
  EXPECT_EQ(List(&installed, kFaceList)->currentText(), last);
  List(&installed, kFaceList)->setCurrentIndex(0);
  EXPECT_EQ(FaceName(installed.description()), u"System");
  EXPECT_EQ(FaceName(Preview(&installed)), u"System");
  List(&installed, kFaceList)->setCurrentIndex(faces->count() - 1);
  EXPECT_EQ(FaceName(installed.description()), kit::U(last));
}

TEST_F(FontDialogTest, StyleBoxes) {
  FontDescription font = Font(-12);
  font.weight = 700;
  font.italic = 1;
  font.quality = 5;
  FontDialog dialog(nullptr, font, kDpi);
  EXPECT_TRUE(Box(&dialog, kBoldBox)->isChecked());
  EXPECT_EQ(Box(&dialog, kBoldBox)->text(), "Bold");
  EXPECT_TRUE(Box(&dialog, kItalicBox)->isChecked());
  EXPECT_FALSE(Box(&dialog, kUnderlineBox)->isChecked());
  EXPECT_TRUE(Box(&dialog, kCleartypeBox)->isChecked());
  EXPECT_EQ(Box(&dialog, kCleartypeBox)->text(), "Cleartype");

  Box(&dialog, kBoldBox)->setChecked(false);
  EXPECT_EQ(dialog.description().weight, 400);
  EXPECT_EQ(Preview(&dialog).weight, 400);
  Box(&dialog, kCleartypeBox)->setChecked(false);
  EXPECT_EQ(dialog.description().quality, 0);
  Box(&dialog, kUnderlineBox)->setChecked(true);
  EXPECT_EQ(dialog.description().underline, 1);
  EXPECT_EQ(Preview(&dialog).underline, 1);
  Box(&dialog, kItalicBox)->setChecked(false);
  EXPECT_EQ(dialog.description().italic, 0);
  Box(&dialog, kBoldBox)->setChecked(true);
  Box(&dialog, kCleartypeBox)->setChecked(true);
  EXPECT_EQ(dialog.description().weight, 700);
  EXPECT_EQ(dialog.description().quality, 5);
  EXPECT_EQ(Preview(&dialog), dialog.description());

  // Only exactly 700 and 5 tick the boxes.
  font.weight = 600;
  font.quality = 4;
  FontDialog other(nullptr, font, kDpi);
  EXPECT_FALSE(Box(&other, kBoldBox)->isChecked());
  EXPECT_FALSE(Box(&other, kCleartypeBox)->isChecked());
  // Ticking another box writes the unticked ones too.
  Box(&other, kItalicBox)->setChecked(false);
  EXPECT_EQ(other.description().weight, 400);
  EXPECT_EQ(other.description().quality, 0);
}

class FontSettingDialogTest : public FontDialogTest {
 protected:
  // Runs the dialog; `setting` acts on it and `font` on each Font dialog.
  int Run(std::function<void(DeviceDialog*)> setting,
          std::function<void(DeviceDialog*)> font = {}) {
    kit::SetDialogScript([setting, font](DeviceDialog* dialog) {
      if (dialog->template_id() == kFontTemplate) {
        if (font) font(dialog);
        return;
      }
      ASSERT_EQ(dialog->template_id(), kFontSettingTemplate);
      setting(dialog);
    });
    return RunFontSettingDialog(nullptr, &settings_, kDpi);
  }

  platform::testing::TempDevice device_;
  SettingsStore settings_;
};

void Tap(DeviceDialog* dialog, int id) {
  auto* button = FindControl<QPushButton>(dialog, id);
  ASSERT_NE(button, nullptr) << id;
  button->click();
}

TEST_F(FontSettingDialogTest, ButtonsShowTheirFonts) {
  FontDescription tree = Font(-20);
  tree.weight = 700;
  settings_.set_tree_view_font(tree);
  settings_.set_content_font(Font(-9));
  EXPECT_EQ(Run([&](DeviceDialog* dialog) {
              EXPECT_EQ(dialog->title_bar()->caption(), "Font Setting");
              EXPECT_EQ(dialog->soft_keys()->left_key()->text(), "OK");
              struct Row {
                int id;
                const char* text;
                FontDescription font;
              };
              for (const Row& row :
                   {Row{kTreeViewFontButton, "TreeView Font", tree},
                    Row{kListViewFontButton, "Listview Font",
                        DefaultFontDescription()},
                    Row{kContentFontButton, "Content Font", Font(-9)}}) {
                auto* button = FindControl<FontButton>(dialog, row.id);
                ASSERT_NE(button, nullptr) << row.id;
                EXPECT_EQ(button->text(), row.text);
                EXPECT_EQ(button->description(), row.font) << row.id;
                EXPECT_EQ(button->font().pixelSize(),
                          kit::FontFromDescription(row.font).pixelSize());
              }
              dialog->Dispatch(kit::cmds::kOk);
            }),
            2);
}

TEST_F(FontSettingDialogTest, WithoutAChangeReturns2AndAppliesNothing) {
  settings_.ApplyFonts();
  const uint64_t generation = settings_.font_generation();
  // Two Font dialogs cancelled after a choice, then OK.
  EXPECT_EQ(Run(
                [](DeviceDialog* dialog) {
                  Tap(dialog, kTreeViewFontButton);
                  Tap(dialog, kContentFontButton);
                  dialog->Dispatch(kit::cmds::kOk);
                },
                [](DeviceDialog* font) {
                  List(font, kSizeList)->setCurrentIndex(8);
                  font->Dispatch(kit::cmds::kCancel);
                }),
            2);
  EXPECT_EQ(settings_.font_generation(), generation);
  EXPECT_EQ(settings_.tree_view_font(), DefaultFontDescription());
  EXPECT_EQ(settings_.content_font(), DefaultFontDescription());
}

TEST_F(FontSettingDialogTest, AChangeIsStoredAppliedAndReturns1) {
  const uint64_t generation = settings_.font_generation();
  EXPECT_EQ(Run(
                [](DeviceDialog* dialog) {
                  Tap(dialog, kListViewFontButton);
                  auto* button =
                      FindControl<FontButton>(dialog, kListViewFontButton);
                  EXPECT_EQ(button->description().height, -16);
                  EXPECT_EQ(button->description().weight, 700);
                  // Cancel still tells the change.
                  dialog->Dispatch(kit::cmds::kCancel);
                },
                [](DeviceDialog* font) {
                  List(font, kSizeList)->setCurrentIndex(4);  // "12"
                  Box(font, kBoldBox)->setChecked(true);
                  font->Dispatch(kit::cmds::kOk);
                }),
            1);
  FontDescription expected = Font(-16);
  expected.weight = 700;
  EXPECT_EQ(settings_.list_view_font(), expected);
  EXPECT_EQ(settings_.tree_view_font(), DefaultFontDescription());
  EXPECT_GT(settings_.font_generation(), generation);
  ASSERT_TRUE(settings_.applied_fonts().has_value());
  EXPECT_EQ(settings_.applied_fonts()->list_view, expected);

  // A Font dialog left open (it is then cancelled) changes nothing.
  EXPECT_EQ(
      Run([](DeviceDialog* dialog) { Tap(dialog, kContentFontButton); },
          [](DeviceDialog* font) { Box(font, kItalicBox)->setChecked(true); }),
      2);
  EXPECT_EQ(settings_.content_font(), DefaultFontDescription());
}

}  // namespace
}  // namespace settings::ui
