// AlertPopupWindow: the small borderless window that announces a received
// message or a send result, drawn from a skin (popup_look.h), with an
// optional picture of the sender.
//
// It is a top-level window that stays above the others and is shown without
// taking the focus. Show() copies the texts (the main text cut to 771
// characters, the others to 259), starts the picture search on a short
// thread of its own when the skin shows photos, shows or repaints the
// window, scrolls a main text that does not fit DesTextRect (15 pixels
// every 1.5 seconds, entering from two thirds down and starting again after
// its end) and closes it after the lifetime (0: until dismissed). A tap or
// a key press closes it and emits Dismissed(), so the main window can clear
// its unread notification.
//
// Threads: the window lives on the UI thread and every method must be
// called there. Each picture thread copies what it needs, loads the file
// and hands the image back with a queued call; an image from a thread that
// started before the latest Show() is dropped. The destructor waits for
// picture threads still running (they only read one file).
#ifndef TELVANE_ALERTS_UI_ALERT_POPUP_WINDOW_H_
#define TELVANE_ALERTS_UI_ALERT_POPUP_WINDOW_H_

#include <QImage>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "alerts/alert_popup.h"
#include "alerts/ui/popup_look.h"

class QTimer;

namespace settings {
class SettingsStore;
}

namespace alerts::ui {

// The popup's template, also its object name "dialog.155".
inline constexpr int kPopupTemplate = 155;
// Longest texts kept, in UTF-16 units.
inline constexpr size_t kMaxMainTextChars = 771;
inline constexpr size_t kMaxOtherTextChars = 259;
// The scrolling of a long main text.
inline constexpr int kScrollIntervalMs = 1500;
inline constexpr int kScrollStep = 15;

class AlertPopupWindow : public QWidget, public alerts::AlertPopup {
  Q_OBJECT

 public:
  // `settings` gives "PhotoFolder" and "defaultPhoto" at each Show (may be
  // null: no photo folder, no default photo); not owned, must outlive the
  // window. `owner` is the main window (may be null).
  explicit AlertPopupWindow(const settings::SettingsStore* settings,
                            QWidget* owner = nullptr);
  ~AlertPopupWindow() override;

  // alerts::AlertPopup. SetSkin loads the skin unless the same path was
  // already set (an empty or unloadable path gives the built-in look; the
  // path still counts as set). Show loads the built-in look first when no
  // skin was ever set.
  void SetSkin(const std::u16string& skin_path) override;
  void Show(const std::u16string& main_text, const std::u16string& second_text,
            uint32_t lifetime_ms, const std::u16string& picture_path,
            bool named_sender) override;
  void Close() override;

  // One step of the scrolling (what the scroll timer runs): the offset grows
  // by 15; past the text's end it starts again at minus two thirds of the
  // height of DesTextRect.
  void ScrollTick();

  // Read-only state, for the main window and tests.
  const SkinLook& look() const { return look_; }
  const std::u16string& skin_path() const { return skin_path_; }
  int skin_loads() const { return skin_loads_; }  // skins loaded so far
  bool showing() const { return showing_; }
  bool named_sender() const { return named_sender_; }
  const std::u16string& main_text() const { return main_text_; }
  const std::u16string& second_text() const { return second_text_; }
  int scroll_offset() const { return content_.scroll_offset; }
  int text_height() const { return content_.text_height; }
  bool scrolling() const;
  bool lifetime_running() const;
  int lifetime_ms() const;
  // The picture shown and the file it came from (null / empty: none).
  const QImage& picture() const { return content_.picture; }
  const std::u16string& picture_source() const { return picture_source_; }
  // Pictures that arrived from an older Show and were dropped.
  int stale_pictures_dropped() const { return stale_pictures_dropped_; }

  // For tests: called on each picture thread with its Show's number (1 for
  // the first Show) after the picture was loaded and before it is handed
  // back, so a test can hold a thread until a newer Show has run. Returns
  // the hook installed before; an empty function removes it.
  using PictureThreadHook = std::function<void(uint64_t generation)>;
  static PictureThreadHook SetPictureThreadHook(PictureThreadHook hook);

 signals:
  // The user tapped the popup or pressed a key; it has closed.
  void Dismissed();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct PictureThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void ApplyLook();
  void StartPictureThread(PictureQuery query);
  void InstallPicture(uint64_t generation, const std::u16string& source,
                      const QImage& picture);
  void JoinFinishedThreads(bool all);
  void Dismiss();

  const settings::SettingsStore* settings_;  // not owned
  SkinLook look_;
  std::u16string skin_path_;  // as last set
  bool applied_ = false;      // a skin was loaded and applied to the window
  int skin_loads_ = 0;

  std::u16string main_text_;
  std::u16string second_text_;
  std::u16string picture_path_;
  bool named_sender_ = false;
  bool showing_ = false;
  PopupContent content_;
  std::u16string picture_source_;
  uint64_t generation_ = 0;  // counts Show calls
  int stale_pictures_dropped_ = 0;

  QTimer* lifetime_timer_;  // "timer 1"
  QTimer* scroll_timer_;    // "timer 10"
  std::vector<PictureThread> picture_threads_;
};

}  // namespace alerts::ui

#endif  // TELVANE_ALERTS_UI_ALERT_POPUP_WINDOW_H_
