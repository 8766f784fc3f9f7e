// The device's Today screen: the home screen that shows the date, the time,
// the owner's name and a column of Today items, each a library registered
// under HKLM \SOFTWARE\Microsoft\Today\Items (platform/today.h has the
// protocol).
//
// Each enabled item's library is loaded and its ordinal 240 called with
// the item's record and this screen as parent; an item whose library cannot
// be loaded, lacks the entry point or refuses to start is left out and the
// reason goes to the device's debug log. Every 2 seconds each item is asked
// whether it must be repainted (the refresh query), and repainted when it
// says so; the clock is redrawn once a minute. Nothing else runs while the
// screen is idle.
//
// The screen answers its items' colour query with its text colour, tells
// them to drop cached drawing when its look (palette or style) changes, and
// opens an item's options dialog on a long press (the context menu event)
// when the item has one.
#ifndef TELVANE_DEVICE_TODAYSHELL_TODAY_SCREEN_H_
#define TELVANE_DEVICE_TODAYSHELL_TODAY_SCREEN_H_

#include <QColor>
#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/modules.h"
#include "platform/today.h"

namespace device::todayshell {

// The header above the items: owner, time and date.
inline constexpr int kHeaderHeight = 76;
inline constexpr int kRefreshIntervalMs = 2000;

// One loaded item.
struct TodayItem {
  std::unique_ptr<platform::Library> library;
  // At a fixed address for the item's life: the item keeps a pointer.
  std::unique_ptr<platform::today::ItemRecord> record;
  QWidget* window = nullptr;  // the item's window, a child of the screen
  platform::today::WindowProcedure options = nullptr;  // ordinal 241
};

class TodayScreen : public QWidget {
 public:
  explicit TodayScreen(QWidget* parent = nullptr);
  ~TodayScreen() override;
  TodayScreen(const TodayScreen&) = delete;
  TodayScreen& operator=(const TodayScreen&) = delete;

  // Reads the registered items and the owner's name, loads every enabled
  // item and starts the refresh and clock timers. Returns how many items
  // run. Items already loaded are unloaded first.
  int LoadItems();

  // One refresh round: the refresh query to each item, and a repaint of
  // those that answer 1. Returns how many were repainted.
  int RefreshItems();

  // Sends a message to an item's window (its window procedure); 0 when it
  // has none.
  intptr_t SendToItem(size_t index, uint32_t message, uintptr_t first = 0,
                      intptr_t second = 0);

  // An item's options dialog, filled by the item's dialog procedure and
  // not yet shown; null when the item has none.
  std::unique_ptr<QDialog> MakeOptionsDialog(size_t index);
  // Shows an item's options dialog (modal) and returns its result; -1 when
  // the item has none.
  int ShowOptions(size_t index);

  // Scrolls the item column up by `offset` pixels (0: the top).
  void SetScrollOffset(int offset);

  const std::vector<TodayItem>& items() const { return items_; }
  QColor text_colour() const { return text_colour_; }
  const QString& owner() const { return owner_; }

  // The screen's window procedure: answers kGetColor.
  static intptr_t WindowProcedure(void* window, uint32_t message,
                                  uintptr_t first, intptr_t second);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void UnloadItems();
  void LayOut();
  void ScheduleClock();
  uint32_t ColourFor(uint32_t index) const;

  std::vector<TodayItem> items_;
  QTimer refresh_timer_;  // every kRefreshIntervalMs
  QTimer clock_timer_;    // at the next minute
  QString owner_;         // HKCU \ControlPanel\Owner "Name"
  QColor text_colour_;
  int scroll_offset_ = 0;
};

}  // namespace device::todayshell

#endif  // TELVANE_DEVICE_TODAYSHELL_TODAY_SCREEN_H_
