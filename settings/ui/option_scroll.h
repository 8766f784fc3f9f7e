// Vertical scrolling of the tall option dialogs (Preference, SMS Setting,
// Alert Option).
//
// Such a dialog scrolls by a pixel offset that starts at 0 each time one of
// them opens. The scroll bar's range is the dialog's client height (the
// height of the area that shows the controls), whatever the height of the
// controls themselves. The requests move the offset as follows, with a step
// of a third of the client height but at least 30 pixels:
//   line up, page up      up by the smaller of the offset and the step;
//   line down, page down  down by the smaller of the step and the rest
//                         (client height minus offset; nothing when the
//                         offset is already past the client height);
//   top                   back to 0;
//   bottom                down by 50 pixels, with no bound.
// The scroll bar follows the offset (clamped to its range) and the controls
// move up by the offset. Dragging the thumb is not a request: the thumb
// springs back to the offset.
//
// The offset is shared by the three dialogs and kept with the settings
// (OptionScrollOffset). Everything here lives on the UI thread.
#ifndef TELVANE_SETTINGS_UI_OPTION_SCROLL_H_
#define TELVANE_SETTINGS_UI_OPTION_SCROLL_H_

#include <QWidget>

class QScrollBar;

namespace settings {
class SettingsStore;
}

namespace settings::ui {

enum class ScrollRequest {
  kLineUp,
  kLineDown,
  kPageUp,
  kPageDown,
  kTop,
  kBottom,
};

// A third of `client_height`, at least 30.
int ScrollStep(int client_height);

// How far "bottom" moves down.
inline constexpr int kBottomStep = 50;

// The offset after `request` from `offset` in a dialog whose client area is
// `client_height` pixels high. Never negative; never overflows.
int ScrolledOffset(int offset, int client_height, ScrollRequest request);

// The scroll offset shared by the tall option dialogs. It belongs with the
// program's one SettingsStore and is never saved; `store` names that store.
int OptionScrollOffset(const settings::SettingsStore& store);
void SetOptionScrollOffset(settings::SettingsStore* store, int offset);

// The scrolling body of a tall option dialog: fills the dialog's content
// with a page (the dialog lays its controls out on page()) and a vertical
// scroll bar at the right. The page is as wide as the area left of the bar
// and at least as high as that area; it is moved up by the offset.
class OptionScrollArea : public QWidget {
  Q_OBJECT

 public:
  // Resets the shared offset of `store` to 0. `store` must outlive this.
  OptionScrollArea(QWidget* parent, settings::SettingsStore* store);

  QWidget* page() const { return page_; }
  QScrollBar* scroll_bar() const { return bar_; }

  // The height of the area that shows the page (the client height).
  int client_height() const;
  int offset() const;

  // Carries out a scroll request (the scroll bar's arrows, its trough, the
  // Home and End actions and the mouse wheel come here).
  void Scroll(ScrollRequest request);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnBarAction(int action);
  // Lays the viewport, page and bar out for the current size and offset.
  void Place();

  settings::SettingsStore* store_;
  QWidget* viewport_;
  QWidget* page_;
  QScrollBar* bar_;
};

}  // namespace settings::ui

#endif  // TELVANE_SETTINGS_UI_OPTION_SCROLL_H_
