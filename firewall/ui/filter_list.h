// The Filter List ("Filters", menu bar FilterListMenuBar()): the user's
// filters in matching order, one owner-drawn row each (list 1001): a check
// image for the enabled flag, the name (cut with ".." when it does not fit)
// and one small icon per present action.
//
// A tap on the check image (less than kCheckZone pixels from the row's left
// edge), or Left or Right on the selected row, enables or disables the
// filter. "New..." and "Fast Create..." run Filter Edit on a new filter
// named "Filter %d" (the number of filters) and put it at the top on OK;
// "Edit..." (also a double tap or Enter) edits the selected filter in
// place; "Delete" asks first; "Up" and "Down" swap the selected filter with
// its neighbour. The same commands are on the rows' tap-and-hold menu.
// "Done" ends the dialog with kFilterListDone and the caller saves the
// filter file; Back and Cancel end it with kFilterListCancelled (the edits
// made so far stay in the set: the dialog works on it in place).
//
// UI thread only. The set and the environment are not owned and must
// outlive the dialog.
#ifndef TELVANE_FIREWALL_UI_FILTER_LIST_H_
#define TELVANE_FIREWALL_UI_FILTER_LIST_H_

#include <QImage>
#include <QString>
#include <cstdint>
#include <vector>

#include "firewall/filter_set.h"
#include "firewall/ui/filter_edit.h"
#include "kit/device_window.h"

class QFontMetrics;
class QListView;
class QMenu;

namespace firewall::ui {

// The dialog has no template of its own on the device; this number names it
// ("dialog.47100") for tests and the screenshot tour.
inline constexpr int kFilterListTemplate = 47100;
inline constexpr int kFilterListId = 1001;

// The dialog's results.
inline constexpr int kFilterListDone = 1;
inline constexpr int kFilterListCancelled = 2;

// The row's layout, in pixels.
inline constexpr int kCheckZone = 21;  // a tap left of this toggles
inline constexpr int kActionIconSize = 16;
inline constexpr int kActionIconStep = 17;

// The action slots that get an icon in `filter`'s row, in drawing order:
// sound, vibrate, don't show in Inbox, photo, auto reply, popup, auto
// forward, unread alert. Slots 0 and 7 have none.
std::vector<int> ActionIcons(const FilterRecord& filter);

// The icon of action slot `slot` (kActionIconSize square), drawn in code;
// a null image for a slot without one.
QImage ActionIcon(int slot);

// `name` as it fits into `width` pixels: whole, or cut and ended with "..".
QString CutName(const QString& name, const QFontMetrics& metrics, int width);

class FilterListModel;

class FilterListDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  FilterListDialog(QWidget* parent, FilterSet* set,
                   const FilterEditEnvironment& environment);
  ~FilterListDialog() override;

  const FilterSet& set() const { return *set_; }
  QListView* list() const { return view_; }
  // The rows' tap-and-hold menu.
  QMenu* context_menu() const { return context_menu_; }
  // The selected row, or -1.
  int SelectedRow() const;
  void SelectRow(int row);

 protected:
  void OnCommand(uint32_t command) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Create(FilterEditMode mode);
  void Edit();
  void Delete();
  void Move(int step);
  void Toggle(int row);
  // Rebuilds the rows after the set changed and selects `row` (clamped).
  void Refill(int row);
  void ShowContextMenu(const QPoint& at);

  FilterSet* set_;
  FilterEditEnvironment environment_;
  FilterListModel* model_;
  QListView* view_;
  QMenu* context_menu_ = nullptr;
};

// Runs the Filter List on `set`: kFilterListDone for "Done", else
// kFilterListCancelled.
int RunFilterList(QWidget* parent, FilterSet* set,
                  const FilterEditEnvironment& environment);

}  // namespace firewall::ui

#endif  // TELVANE_FIREWALL_UI_FILTER_LIST_H_
