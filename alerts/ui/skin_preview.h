// The skin preview behind the "Test..." buttons, and the list of skins the
// option dialogs offer.
//
// SkinPreview shows a skin with sample texts in a modal window shaped and
// placed like the popup, for two seconds or until the first tap or key
// press. Unlike the popup it never scrolls, never searches for a picture by
// name and loads the picture on the UI thread.
//
// UI thread only.
#ifndef TELVANE_ALERTS_UI_SKIN_PREVIEW_H_
#define TELVANE_ALERTS_UI_SKIN_PREVIEW_H_

#include <QDialog>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/ui/popup_look.h"

class QTimer;

namespace alerts::ui {

// How long a preview stays up.
inline constexpr int kPreviewLifetimeMs = 2000;

class SkinPreviewWindow : public QDialog {
  Q_OBJECT

 public:
  // Loads the skin (empty or unloadable: the built-in look) and applies it
  // to the window; loads `picture_path` when that file exists.
  SkinPreviewWindow(QWidget* parent, const std::u16string& skin_path,
                    const std::u16string& main_text,
                    const std::u16string& second_text,
                    const std::u16string& picture_path,
                    int lifetime_ms = kPreviewLifetimeMs);

  // Runs the preview modally until it closes. With a preview script
  // installed, the script runs once the window is up; a preview the script
  // leaves open is then closed, so a test never waits.
  void Exec();

  const SkinLook& look() const { return look_; }
  const QImage& picture() const { return content_.picture; }
  const QString& main_text() const { return content_.main_text; }
  const QString& second_text() const { return content_.second_text; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  SkinLook look_;
  PopupContent content_;
  QTimer* lifetime_timer_;
};

// Shows the preview of `skin_path` (empty: the built-in look) with the
// texts and the picture, and returns when it has closed.
void SkinPreview(QWidget* parent, const std::u16string& skin_path,
                 const std::u16string& main_text,
                 const std::u16string& second_text,
                 const std::u16string& picture_path);

// Tests drive previews through a script that receives each preview once it
// is up. Installs `script` (empty: plain runs); returns the one before.
using PreviewScript = std::function<void(SkinPreviewWindow*)>;
PreviewScript SetPreviewScript(PreviewScript script);

// The skin names for the option dialogs' skin lists: every file matching
// "skins\*.cfg" in `app_folder` (a folder path with its trailing "\"), in
// the order the device's file system lists them, each without its folder and
// without the part from its last "." on. Folders are not listed. Empty when
// the folder is missing. The caller puts "Default" (the built-in look) first.
std::vector<std::u16string> FillSkinList(std::u16string_view app_folder);
// The same for the running program's folder (settings::AppFolder()).
std::vector<std::u16string> FillSkinList();

// The ".cfg" path of a listed skin: app folder, "skins\", name, ".cfg".
std::u16string SkinPathForName(std::u16string_view app_folder,
                               std::u16string_view name);

}  // namespace alerts::ui

#endif  // TELVANE_ALERTS_UI_SKIN_PREVIEW_H_
