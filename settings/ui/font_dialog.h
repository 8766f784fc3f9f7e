// The font dialogs: "Font Setting" (template 189), three buttons for the
// fonts of the folder tree, the message list and the message content, and
// "Font" (template 188), which edits one of them.
//
// FontSettingDialog: each button is painted white with its own text drawn
// in the font it stands for ("TreeviewFont", "ListViewFont",
// "ContentFont"), centred on one line, with a focus rectangle while it has
// the focus. A button opens the Font dialog on that font; after OK the
// edited description goes back into the settings, SettingsStore::ApplyFonts
// runs and the button is drawn in the new font. "OK", "Cancel" and the Back
// key all end the dialog: with 1 when a font was changed, else 2. The
// settings are not saved here.
//
// FontDialog works on a copy of one description:
// - the face list holds "System" and then every font family the display
//   offers, in the order it gives them; it shows the description's face, or
//   the first entry when that is not among them;
// - the size list holds the point sizes 8 to 24; it shows the size of the
//   description's height at the screen's vertical logical dots per inch
//   (rounded to the nearest point), or the first entry when that is not
//   among them; choosing a size sets the height to minus the size in
//   pixels at that resolution (rounded);
// - "Bold" is ticked for weight 700 and sets 700 or 400; "Italic" and
//   "Underline" set those flags; "Cleartype" is ticked for quality 5 and
//   sets 5 or 0;
// - the preview shows "AaBbCcXxYyZz" in the edited font, white, centred on
//   one line, drawn again after every change.
// "OK" ends it with 1 (description() is then the edited copy); "Cancel" and
// the Back key with 2.
//
// UI thread only.
#ifndef TELVANE_SETTINGS_UI_FONT_DIALOG_H_
#define TELVANE_SETTINGS_UI_FONT_DIALOG_H_

#include <QFont>
#include <QPushButton>
#include <QWidget>
#include <cstdint>

#include "kit/device_window.h"
#include "settings/font_description.h"

class QCheckBox;
class QComboBox;

namespace settings {
class SettingsStore;
}

namespace settings::ui {

inline constexpr int kFontTemplate = 188;
inline constexpr int kFontSettingTemplate = 189;

// Control identifiers of the Font dialog.
inline constexpr int kFaceList = 1138;
inline constexpr int kSizeList = 1139;
inline constexpr int kBoldBox = 1003;
inline constexpr int kItalicBox = 1004;
inline constexpr int kUnderlineBox = 1005;
inline constexpr int kFontPreviewArea = 1007;
inline constexpr int kCleartypeBox = 1008;

// Control identifiers of the Font Setting dialog.
inline constexpr int kTreeViewFontButton = 1134;  // "TreeviewFont"
inline constexpr int kListViewFontButton = 1135;  // "ListViewFont"
inline constexpr int kContentFontButton = 1136;   // "ContentFont"

// The values the Font dialog writes.
inline constexpr int32_t kBoldWeight = 700;
inline constexpr uint8_t kCleartypeQuality = 5;

// The vertical logical dots per inch of the screen `widget` is on (the
// primary screen's for null), rounded.
int ScreenDpiY(const QWidget* widget);

// Points of a description's height at `dpi_y`: height times -72 divided by
// the dots per inch, rounded to the nearest integer. `dpi_y` must be > 0.
int64_t HeightToPoints(int32_t height, int dpi_y);
// The height of `points` at `dpi_y`: minus the points times the dots per
// inch divided by 72, rounded.
int32_t PointsToHeight(int points, int dpi_y);

// A white area that shows a text in one font, centred on one line; the
// Font dialog's preview and the Font Setting dialog's buttons.
class FontPreview : public QWidget {
  Q_OBJECT

 public:
  FontPreview(QWidget* parent, const QString& text);

  // Shows the text in the font of `description` (and draws it again).
  void SetDescription(const settings::FontDescription& description);
  const settings::FontDescription& description() const { return font_; }
  const QString& text() const { return text_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  settings::FontDescription font_;
};

class FontDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  // Edits a copy of `font`; sizes are counted at `dpi_y` (> 0).
  FontDialog(QWidget* parent, const settings::FontDescription& font, int dpi_y);

  // The edited copy.
  const settings::FontDescription& description() const { return font_; }

 protected:
  void OnCommand(uint32_t command) override;
  void OnBack() override;

 private:
  void FaceChosen(int index);
  void SizeChosen(int index);
  // Takes the four boxes into the copy.
  void StyleChanged();

  settings::FontDescription font_;
  int dpi_y_;
  QComboBox* faces_;
  QComboBox* sizes_;
  QCheckBox* bold_;
  QCheckBox* italic_;
  QCheckBox* underline_;
  QCheckBox* cleartype_;
  FontPreview* preview_;
};

// One of the Font Setting dialog's buttons: white, its text in the font it
// stands for, a focus rectangle while it has the focus.
class FontButton : public QPushButton {
  Q_OBJECT

 public:
  FontButton(QWidget* parent, const QString& text);

  void SetDescription(const settings::FontDescription& description);
  const settings::FontDescription& description() const { return font_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  settings::FontDescription font_;
};

class FontSettingDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  // `settings` must outlive the dialog. `dpi_y` is the resolution the Font
  // dialog counts sizes at; 0 takes the screen's.
  FontSettingDialog(QWidget* parent, settings::SettingsStore* settings,
                    int dpi_y = 0);

  // True once a font was changed.
  bool changed() const { return changed_; }

 protected:
  void OnCommand(uint32_t command) override;
  void OnBack() override;

 private:
  enum class Which { kTreeView, kListView, kContent };
  FontButton* AddButton(int id, uint32_t text_id, Which which);
  // Runs the Font dialog on one font.
  void Edit(Which which, FontButton* button);
  settings::FontDescription Current(Which which) const;
  int Result() const { return changed_ ? 1 : 2; }

  settings::SettingsStore* settings_;
  int dpi_y_;
  bool changed_ = false;
};

// "Font..." (command 40493): runs the Font Setting dialog modally over
// `owner`. Returns 1 when a font was changed (the settings hold it and
// their fonts were applied: hand them to the views), else 2. `dpi_y` as for
// FontSettingDialog.
int RunFontSettingDialog(QWidget* owner, settings::SettingsStore* settings,
                         int dpi_y = 0);

}  // namespace settings::ui

#endif  // TELVANE_SETTINGS_UI_FONT_DIALOG_H_
