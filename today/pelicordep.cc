// pelicordep.dll: the Today item that shows how many messages of the open
// document are unread, and starts the program when it is tapped.
//
// The count comes from the 4-byte shared memory "ZUD_SmsCount" that the
// program keeps (docs/formats/unread-count.md); the item reads it without
// a lock (one aligned 32-bit read) whenever the Today screen asks whether it
// must be repainted. The protocol with the Today screen is in
// platform/today.h and docs/formats/today-plugin.md; the library exports
// only its two ordinals, 240 and 241.
//
// One item per process: the state below is the library's own, kept for its
// whole life in the process; everything runs on the Today screen's thread.
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <QtGlobal>
#include <optional>
#include <string>

#include "platform/debug.h"
#include "platform/files.h"
#include "platform/kernel_objects.h"
#include "platform/modules.h"
#include "platform/processes.h"
#include "platform/today.h"
#include "today/resources.h"

namespace today {
namespace {

namespace td = platform::today;

constexpr char kCountName[] = "ZUD_SmsCount";
constexpr int kItemHeight = 23;
constexpr int kBackgroundWidth = 240;
constexpr int kIconSize = 16;    // the system's small-icon size
constexpr int kTextIndent = 27;  // from the icon's left edge to the text
constexpr int kBorder = 2;       // around the icon
constexpr char kClassName[] = "MyToday";
constexpr char kWindowName[] = "MyTodayScreen";

intptr_t TodayItemWindow(void* window, uint32_t message, uintptr_t first,
                         intptr_t second);

// The library's state.
struct ItemState {
  const platform::Library* module = nullptr;  // from the item record
  QPointer<QWidget> parent;                   // the Today screen
  QPointer<QWidget> window;                   // "MyTodayScreen"
  std::optional<platform::SharedMemory> count_view;
  int32_t last_count = 0;  // the count seen at the last refresh query
  int x = 0;               // the item's last known place in the parent
  int y = 0;
  bool capture = false;  // the background under the item must be copied
  QImage background;     // the parent's pixels under the item
  QPixmap icon;          // icon 103 at the small-icon size
};

// Never destroyed: the library may stay loaded until the process ends,
// after the widget kit is gone.
ItemState& State() {
  static ItemState* state = new ItemState;
  return *state;
}

// Calls a window's procedure, as sending it a message does; 0 when the
// window has none.
intptr_t SendMessageTo(QWidget* window, uint32_t message, uintptr_t first,
                       intptr_t second) {
  if (window == nullptr) return 0;
  QVariant procedure = window->property(td::kProcedureProperty);
  if (!procedure.isValid()) return 0;
  auto function =
      reinterpret_cast<td::WindowProcedure>(procedure.value<quintptr>());
  return function == nullptr ? 0 : function(window, message, first, second);
}

// The item window: a child widget whose painting, erasing and taps go
// through TodayItemWindow, as its class's window procedure.
class ItemWidget : public QWidget {
 public:
  explicit ItemWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kWindowName));
    setProperty(td::kClassProperty, QString::fromLatin1(kClassName));
    setProperty(td::kProcedureProperty,
                QVariant::fromValue(reinterpret_cast<quintptr>(
                    static_cast<td::WindowProcedure>(&TodayItemWindow))));
    // Redrawn whole on every size change; the background is the item's own
    // copy, never erased by the widget kit.
    setAttribute(Qt::WA_StaticContents, false);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAutoFillBackground(false);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (TodayItemWindow(this, td::kEraseBackground, 0, 0) == 0) {
      QPainter(this).eraseRect(rect());
    }
    TodayItemWindow(this, td::kPaint, 0, 0);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) {
      TodayItemWindow(this, td::kLeftButtonUp, 0, 0);
    }
  }
};

bool MapCount(ItemState& state) {
  platform::Status status;
  bool existed = false;
  state.count_view = platform::SharedMemory::CreateOrOpen(
      kCountName, sizeof(int32_t), &existed, &status);
  if (!state.count_view) {
    platform::DebugOutput("pelicordep: " + std::string(kCountName) + ": " +
                          status.ToString());
    return false;
  }
  return true;
}

int32_t ReadCount(const ItemState& state) {
  return *static_cast<const volatile int32_t*>(state.count_view->data());
}

// Starts the first "pelicorde*.exe" in the library's own folder.
void LaunchProgram(const ItemState& state) {
  if (state.module == nullptr) return;
  const std::u16string folder = platform::FolderOf(state.module->device_path());
  platform::files::Finder finder;
  platform::files::FindData found;
  if (!finder.First(folder + u"pelicorde*.exe", &found)) return;
  platform::Status status;
  if (!platform::StartProgram(folder + found.name, {}, {}, &status)) {
    platform::DebugOutput("pelicordep: cannot start the program: " +
                          status.ToString());
  }
}

// 1267: 1 when the item must be repainted.
intptr_t QueryRefresh(ItemState& state, td::ItemRecord* record) {
  bool height_was_zero = false;
  if (record != nullptr && record->height == 0) {
    record->height = kItemHeight;
    height_was_zero = true;
  }
  if (state.count_view) {
    const int32_t count = ReadCount(state);
    if (count == state.last_count) return height_was_zero ? 1 : 0;
    state.last_count = count;
    return 1;
  }
  return MapCount(state) ? 1 : 0;
}

void Paint(ItemState& state, QWidget* window) {
  QWidget* parent = state.parent;
  if (parent == nullptr) return;
  const QPoint place = window->mapTo(parent, QPoint(0, 0));
  if (place.y() != state.y) {
    // The item moved: let the parent paint what is now under it, then
    // come back to copy that.
    state.x = place.x();
    state.y = place.y();
    state.capture = true;
    window->hide();
    parent->update(state.x, state.y, kBackgroundWidth, kItemHeight);
    window->show();
    return;
  }
  if (state.capture) {
    // The parent's own pixels (without its children) under the item.
    QImage copy(kBackgroundWidth, kItemHeight, QImage::Format_RGB32);
    copy.fill(parent->palette().color(parent->backgroundRole()));
    parent->render(&copy, QPoint(0, 0),
                   QRegion(state.x, state.y, kBackgroundWidth, kItemHeight),
                   QWidget::DrawWindowBackground);
    state.background = std::move(copy);
    state.capture = false;
    parent->update();
    return;
  }
  QPainter painter(window);
  painter.drawImage(QPoint(0, 0), state.background,
                    QRect(0, 0, window->width(), kItemHeight));
  const uint32_t colour = static_cast<uint32_t>(
      SendMessageTo(parent, td::kGetColor, td::kColorText, 0));
  painter.setPen(
      QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
  painter.setBackgroundMode(Qt::TransparentMode);
  QRect area = window->rect();
  area.setLeft(area.left() + kBorder);
  area.setTop(area.top() + kBorder);
  painter.drawPixmap(area.topLeft(), state.icon);
  area.setLeft(area.left() + kTextIndent);
  const int32_t count = state.count_view ? ReadCount(state) : 0;
  const QString text = CountText(count);
  painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   text);
  // What the line says, for assistive tools (and tests).
  window->setAccessibleName(text);
}

intptr_t TodayItemWindow(void* window, uint32_t message, uintptr_t /*first*/,
                         intptr_t second) {
  ItemState& state = State();
  auto* widget = static_cast<QWidget*>(window);
  switch (message) {
    case td::kPaint:
      Paint(state, widget);
      return 0;
    case td::kEraseBackground:
      return 1;
    case td::kLeftButtonUp:
      LaunchProgram(state);
      return 0;
    case td::kQueryRefreshCache:
      return QueryRefresh(state, reinterpret_cast<td::ItemRecord*>(second));
    case td::kClearCache:
      return 0;
    default:
      return 0;  // the default window procedure does nothing more here
  }
}

}  // namespace

}  // namespace today

extern "C" {

// Ordinal 240: creates the item window under `parent`; null when the item
// is disabled or "ZUD_SmsCount" cannot be created or mapped.
__attribute__((visibility("default"))) void* Ordinal240(
    platform::today::ItemRecord* record, void* parent) {
  using today::State;
  if (record == nullptr || !record->enabled || parent == nullptr) {
    return nullptr;
  }
  today::ItemState& state = State();
  state = today::ItemState();  // one item per process: a new one starts afresh
  state.module = record->module;
  auto* window = new today::ItemWidget(static_cast<QWidget*>(parent));
  state.parent = static_cast<QWidget*>(parent);
  state.window = window;
  state.capture = true;
  if (!today::MapCount(state)) {
    state.count_view.reset();
    delete window;
    return nullptr;
  }
  state.icon = today::LoadIcon(today::kIconId)
                   .scaled(today::kIconSize, today::kIconSize);
  window->show();
  return window;
}

// Ordinal 241: the options dialog's procedure. `dialog` is the host's empty
// dialog (a QDialog*); the initialisation message fills it from template
// 500 (the information text and OK, whose click is the command 1).
__attribute__((visibility("default"))) intptr_t Ordinal241(
    void* dialog, uint32_t message, uintptr_t first, intptr_t /*second*/) {
  namespace td = platform::today;
  auto* box = static_cast<QDialog*>(dialog);
  switch (message) {
    case td::kInitDialog: {
      if (box == nullptr) return 1;
      box->setObjectName(QString::number(today::kOptionsDialogId));
      auto* layout = new QVBoxLayout(box);
      auto* text = new QLabel(today::OptionsText(), box);
      text->setObjectName(QString::number(today::kOptionsTextId));
      text->setWordWrap(true);
      layout->addWidget(text);
      layout->addStretch(1);
      auto* ok = new QPushButton(QStringLiteral("OK"), box);
      ok->setObjectName(QString::number(td::kIdOk));
      ok->setDefault(true);
      layout->addWidget(ok, 0, Qt::AlignRight);
      QObject::connect(ok, &QPushButton::clicked, box,
                       [box] { Ordinal241(box, td::kCommand, td::kIdOk, 0); });
      return 1;
    }
    case td::kCommand:
      if ((first & 0xFFFF) == td::kIdOk) {
        if (box != nullptr) box->done(1);
        return 1;
      }
      return 0;
    default:
      return 0;  // the default window procedure
  }
}

}  // extern "C"
