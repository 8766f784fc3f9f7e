#include "alerts/ui/alert_popup_window.h"

#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <mutex>
#include <utility>

#include "kit/qt_text.h"
#include "kit/screen.h"
#include "platform/debug.h"
#include "platform/unicode.h"
#include "settings/settings_store.h"

namespace alerts::ui {
namespace {

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}

AlertPopupWindow::PictureThreadHook& Hook() {
  static AlertPopupWindow::PictureThreadHook hook;
  return hook;
}

std::u16string Cut(const std::u16string& text, size_t limit) {
  return text.size() > limit ? text.substr(0, limit) : text;
}

// The text as drawn: CR LF line breaks become plain line breaks.
QString DrawnText(const std::u16string& text) {
  QString drawn = kit::Q(text);
  drawn.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  drawn.replace(QChar(u'\r'), QChar(u'\n'));
  return drawn;
}

int RestartOffset(const SkinLook& look) {
  return -(ToQRect(look.skin.des_text_rect).height() * 2 / 3);
}

}  // namespace

AlertPopupWindow::AlertPopupWindow(const settings::SettingsStore* settings,
                                   QWidget* owner)
    : QWidget(owner,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      settings_(settings),
      lifetime_timer_(new QTimer(this)),
      scroll_timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("dialog.") + QString::number(kPopupTemplate));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::ClickFocus);
  lifetime_timer_->setSingleShot(true);
  connect(lifetime_timer_, &QTimer::timeout, this, [this] { Close(); });
  scroll_timer_->setInterval(kScrollIntervalMs);
  connect(scroll_timer_, &QTimer::timeout, this, [this] { ScrollTick(); });
  // The look the window has until a skin is set.
  InstallBuiltInLook(&look_);
}

AlertPopupWindow::~AlertPopupWindow() { JoinFinishedThreads(true); }

void AlertPopupWindow::SetSkin(const std::u16string& skin_path) {
  if (applied_ && skin_path == skin_path_) return;
  skin_path_ = skin_path;
  applied_ = true;
  ++skin_loads_;
  // An empty path, or one that does not load, installs the built-in look.
  if (platform::Status loaded = LoadSkinLook(skin_path, &look_);
      !loaded.ok() && !skin_path.empty()) {
    platform::DebugPrintf("pelicorde: skin %s: %s\r\n",
                          platform::ToUtf8(skin_path).c_str(),
                          loaded.ToString().c_str());
  }
  ApplyLook();
}

void AlertPopupWindow::ApplyLook() {
  clearMask();
  // The skin's place is on the device screen.
  setGeometry(
      DialogGeometry(look_.skin).translated(kit::DeviceScreenRect().topLeft()));
  if (look_.skin.shaped()) setMask(look_.shape);
}

void AlertPopupWindow::Show(const std::u16string& main_text,
                            const std::u16string& second_text,
                            uint32_t lifetime_ms,
                            const std::u16string& picture_path,
                            bool named_sender) {
  if (!applied_) SetSkin(std::u16string());
  // 1. The content; the previous picture goes.
  main_text_ = Cut(main_text, kMaxMainTextChars);
  second_text_ = Cut(second_text, kMaxOtherTextChars);
  picture_path_ = Cut(picture_path, kMaxOtherTextChars);
  content_.main_text = DrawnText(main_text_);
  content_.second_text = DrawnText(second_text_);
  showing_ = true;
  named_sender_ = named_sender;
  content_.picture = QImage();
  picture_source_.clear();
  ++generation_;
  JoinFinishedThreads(false);
  // 2. The picture, found and loaded on its own thread.
  if (look_.skin.show_photo != 0) {
    PictureQuery query;
    query.named_sender = named_sender;
    query.second_text = second_text_;
    query.given_path = picture_path_;
    if (settings_ != nullptr) {
      query.photo_folder = settings_->photo_folder();
      query.default_photo = settings_->default_photo();
    }
    StartPictureThread(std::move(query));
  }
  // 3. Visible on top, without taking the focus.
  if (isVisible()) {
    update();
  } else {
    show();
    raise();
  }
  // 4.-6. The timers.
  lifetime_timer_->stop();
  scroll_timer_->stop();
  int height = MeasureMainText(look_, content_.main_text);
  if (height < ToQRect(look_.skin.des_text_rect).height()) {
    content_.scroll_offset = 0;
  } else {
    scroll_timer_->start();
    content_.scroll_offset = RestartOffset(look_);
  }
  content_.text_height = height + 15;
  if (lifetime_ms != 0) {
    lifetime_timer_->start(static_cast<int>(
        std::min<uint32_t>(lifetime_ms, std::numeric_limits<int>::max())));
  }
}

void AlertPopupWindow::Close() {
  showing_ = false;
  lifetime_timer_->stop();
  scroll_timer_->stop();
  hide();
}

void AlertPopupWindow::ScrollTick() {
  content_.scroll_offset += kScrollStep;
  if (content_.scroll_offset > content_.text_height - 12) {
    content_.scroll_offset = RestartOffset(look_);
  }
  update();
}

bool AlertPopupWindow::scrolling() const { return scroll_timer_->isActive(); }

bool AlertPopupWindow::lifetime_running() const {
  return lifetime_timer_->isActive();
}

int AlertPopupWindow::lifetime_ms() const {
  return lifetime_timer_->interval();
}

AlertPopupWindow::PictureThreadHook AlertPopupWindow::SetPictureThreadHook(
    PictureThreadHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  return std::exchange(Hook(), std::move(hook));
}

void AlertPopupWindow::StartPictureThread(PictureQuery query) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  uint64_t generation = generation_;
  std::thread thread([this, done, generation, query = std::move(query)] {
    std::u16string source = FindPicturePath(query);
    QImage picture = LoadPicture(source);
    PictureThreadHook hook;
    {
      std::lock_guard<std::mutex> lock(HookMutex());
      hook = Hook();
    }
    if (hook) hook(generation);
    if (!picture.isNull()) {
      // The window outlives this thread (its destructor joins it), and a
      // call queued to a destroyed object is dropped.
      QMetaObject::invokeMethod(
          this,
          [this, generation, source, picture] {
            InstallPicture(generation, source, picture);
          },
          Qt::QueuedConnection);
    }
    done->store(true);
  });
  picture_threads_.push_back({std::move(thread), std::move(done)});
}

void AlertPopupWindow::InstallPicture(uint64_t generation,
                                      const std::u16string& source,
                                      const QImage& picture) {
  if (generation != generation_) {  // from an older Show
    ++stale_pictures_dropped_;
    return;
  }
  content_.picture = picture;
  picture_source_ = source;
  update(ToQRect(look_.skin.photo_rect));
}

void AlertPopupWindow::JoinFinishedThreads(bool all) {
  auto it = picture_threads_.begin();
  while (it != picture_threads_.end()) {
    if (all || it->done->load()) {
      it->thread.join();
      it = picture_threads_.erase(it);
    } else {
      ++it;
    }
  }
}

void AlertPopupWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPopup(painter, look_, content_);
}

void AlertPopupWindow::Dismiss() {
  Close();
  emit Dismissed();
}

void AlertPopupWindow::mousePressEvent(QMouseEvent* event) {
  event->accept();
  Dismiss();
}

void AlertPopupWindow::keyPressEvent(QKeyEvent* event) {
  event->accept();
  Dismiss();
}

}  // namespace alerts::ui
