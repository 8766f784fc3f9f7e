#include "alerts/ui/skin_preview.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <utility>

#include "alerts/ui/alert_popup_window.h"
#include "kit/device_window.h"
#include "kit/qt_text.h"
#include "kit/screen.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/unicode.h"
#include "settings/settings_store.h"
#include "text/text.h"

namespace alerts::ui {
namespace {

PreviewScript& Script() {
  static PreviewScript script;
  return script;
}

QString PreviewText(const std::u16string& text, size_t limit) {
  QString drawn = kit::Q(text.size() > limit ? text.substr(0, limit) : text);
  drawn.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return drawn;
}

}  // namespace

SkinPreviewWindow::SkinPreviewWindow(QWidget* parent,
                                     const std::u16string& skin_path,
                                     const std::u16string& main_text,
                                     const std::u16string& second_text,
                                     const std::u16string& picture_path,
                                     int lifetime_ms)
    : QDialog(parent,
              Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      lifetime_timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("dialog.") + QString::number(kPopupTemplate));
  // Modal to the windows below it only (see kit::DeviceDialog).
  setWindowModality(Qt::WindowModal);
  // An empty path, or one that does not load, gives the built-in look.
  if (platform::Status loaded = LoadSkinLook(skin_path, &look_);
      !loaded.ok() && !skin_path.empty()) {
    platform::DebugPrintf("pelicorde: skin %s: %s\r\n",
                          platform::ToUtf8(skin_path).c_str(),
                          loaded.ToString().c_str());
  }
  setGeometry(
      DialogGeometry(look_.skin).translated(kit::DeviceScreenRect().topLeft()));
  if (look_.skin.shaped()) setMask(look_.shape);
  content_.main_text = PreviewText(main_text, kMaxMainTextChars);
  content_.second_text = PreviewText(second_text, kMaxOtherTextChars);
  content_.text_height = MeasureMainText(look_, content_.main_text) + 15;
  if (!picture_path.empty() && text::FileExists(picture_path)) {
    content_.picture = LoadPicture(picture_path);
  }
  lifetime_timer_->setSingleShot(true);
  lifetime_timer_->setInterval(lifetime_ms);
  connect(lifetime_timer_, &QTimer::timeout, this, &QDialog::accept);
}

void SkinPreviewWindow::Exec() {
  PreviewScript script = Script();
  if (script) {
    QTimer::singleShot(0, this, [this, script] {
      script(this);
      if (isVisible()) accept();
    });
  }
  lifetime_timer_->start();
  {
    kit::ModalRun counted;
    exec();
  }
  lifetime_timer_->stop();
}

void SkinPreviewWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPopup(painter, look_, content_);
}

void SkinPreviewWindow::mousePressEvent(QMouseEvent* event) {
  event->accept();
  accept();
}

void SkinPreviewWindow::keyPressEvent(QKeyEvent* event) {
  event->accept();
  accept();
}

void SkinPreview(QWidget* parent, const std::u16string& skin_path,
                 const std::u16string& main_text,
                 const std::u16string& second_text,
                 const std::u16string& picture_path) {
  SkinPreviewWindow preview(parent, skin_path, main_text, second_text,
                            picture_path);
  preview.Exec();
}

PreviewScript SetPreviewScript(PreviewScript script) {
  return std::exchange(Script(), std::move(script));
}

std::vector<std::u16string> FillSkinList(std::u16string_view app_folder) {
  std::vector<std::u16string> names;
  std::u16string pattern(app_folder);
  pattern += u"skins\\*.cfg";
  for (const platform::files::FindData& entry :
       platform::files::Find(pattern)) {
    if ((entry.attributes & platform::files::kAttributeDirectory) != 0) {
      continue;
    }
    std::u16string name = entry.name;
    names.push_back(text::BaseName(name));
  }
  return names;
}

std::vector<std::u16string> FillSkinList() {
  return FillSkinList(settings::AppFolder());
}

std::u16string SkinPathForName(std::u16string_view app_folder,
                               std::u16string_view name) {
  std::u16string path(app_folder);
  path += u"skins\\";
  path += name;
  path += u".cfg";
  return path;
}

}  // namespace alerts::ui
