#include "device/todayshell/today_screen.h"

#include <QContextMenuEvent>
#include <QDateTime>
#include <QEvent>
#include <QLinearGradient>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QVariant>
#include <string>

#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/unicode.h"

namespace device::todayshell {
namespace {

namespace td = platform::today;

constexpr size_t kMaxPathChars = 260;
// The owner's name, as the device's control panel keeps it.
constexpr std::u16string_view kOwnerKey = u"\\ControlPanel\\Owner";
constexpr std::u16string_view kOwnerValue = u"Name";

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

void LeaveOut(std::u16string_view name, const std::string& why) {
  platform::DebugOutput("todayshell: item \"" + platform::ToUtf8(name) +
                        "\" left out: " + why);
}

}  // namespace

TodayScreen::TodayScreen(QWidget* parent)
    : QWidget(parent), text_colour_(Qt::white) {
  setObjectName(QStringLiteral("TodayScreen"));
  setProperty(td::kClassProperty, QStringLiteral("DesktopExplorerWindow"));
  setProperty(td::kProcedureProperty,
              QVariant::fromValue(reinterpret_cast<quintptr>(
                  static_cast<td::WindowProcedure>(&WindowProcedure))));
  setAttribute(Qt::WA_OpaquePaintEvent);
  refresh_timer_.setInterval(kRefreshIntervalMs);
  connect(&refresh_timer_, &QTimer::timeout, this, [this] { RefreshItems(); });
  clock_timer_.setSingleShot(true);
  clock_timer_.setTimerType(Qt::VeryCoarseTimer);
  connect(&clock_timer_, &QTimer::timeout, this, [this] {
    update(0, 0, width(), kHeaderHeight);
    ScheduleClock();
  });
}

TodayScreen::~TodayScreen() { UnloadItems(); }

void TodayScreen::UnloadItems() {
  // The windows first: their code lives in the libraries.
  for (TodayItem& item : items_) delete item.window;
  items_.clear();
}

int TodayScreen::LoadItems() {
  UnloadItems();
  owner_.clear();
  if (auto key = platform::RegistryKey::Open(
          platform::RegistryRoot::kCurrentUser, kOwnerKey)) {
    if (auto name = key->QueryString(kOwnerValue, kMaxPathChars)) {
      owner_ = ToQString(*name);
    }
  }
  platform::Status status;
  std::optional<platform::RegistryKey> items = platform::RegistryKey::Open(
      platform::RegistryRoot::kLocalMachine, td::kItemsKey, &status);
  std::vector<std::u16string> names;
  if (items) names = items->Subkeys(&status);
  for (const std::u16string& name : names) {
    std::optional<platform::RegistryKey> key = platform::RegistryKey::Open(
        platform::RegistryRoot::kLocalMachine,
        std::u16string(td::kItemsKey) + u"\\" + name);
    if (!key) continue;
    auto record = std::make_unique<td::ItemRecord>();
    record->name = name;
    record->type = key->QueryDword(u"Type").value_or(0);
    record->enabled = key->QueryDword(u"Enabled").value_or(0) != 0;
    record->has_options = key->QueryDword(u"Options").value_or(0) != 0;
    if (!record->enabled) continue;
    platform::Status read;
    std::optional<std::u16string> dll =
        key->QueryString(u"DLL", kMaxPathChars, &read);
    if (!dll) {
      LeaveOut(name, "no library: " + read.ToString());
      continue;
    }
    platform::Status loaded;
    std::unique_ptr<platform::Library> library =
        platform::Library::Load(*dll, &loaded);
    if (library == nullptr) {
      LeaveOut(name, loaded.ToString());
      continue;
    }
    auto initialise = reinterpret_cast<td::InitializeItemFunction>(
        td::EntryPointByOrdinal(*library, td::kOrdinalInitializeItem));
    if (initialise == nullptr) {
      LeaveOut(name, platform::ToUtf8(*dll) + " has no ordinal 240");
      continue;
    }
    record->module = library.get();
    void* window = initialise(record.get(), this);
    if (window == nullptr) {
      LeaveOut(name, platform::ToUtf8(*dll) + " did not start");
      continue;
    }
    TodayItem item;
    item.window = static_cast<QWidget*>(window);
    record->window = window;
    if (record->has_options) {
      item.options = reinterpret_cast<td::WindowProcedure>(
          td::EntryPointByOrdinal(*library, td::kOrdinalOptionsDialog));
    }
    item.library = std::move(library);
    item.record = std::move(record);
    items_.push_back(std::move(item));
  }
  if (!items && status.code() != platform::ErrorCode::kNotFound) {
    platform::DebugOutput("todayshell: cannot read the Today items: " +
                          status.ToString());
  }
  LayOut();
  RefreshItems();
  refresh_timer_.start();
  ScheduleClock();
  update();
  return static_cast<int>(items_.size());
}

int TodayScreen::RefreshItems() {
  int repainted = 0;
  bool relayout = false;
  for (size_t i = 0; i < items_.size(); ++i) {
    const int height = items_[i].record->height;
    if (SendToItem(i, td::kQueryRefreshCache, 0,
                   reinterpret_cast<intptr_t>(items_[i].record.get())) == 0) {
      continue;
    }
    if (items_[i].record->height != height) relayout = true;
    items_[i].window->update();
    ++repainted;
  }
  if (relayout) LayOut();
  return repainted;
}

intptr_t TodayScreen::SendToItem(size_t index, uint32_t message,
                                 uintptr_t first, intptr_t second) {
  if (index >= items_.size() || items_[index].window == nullptr) return 0;
  QWidget* window = items_[index].window;
  QVariant procedure = window->property(td::kProcedureProperty);
  auto function =
      reinterpret_cast<td::WindowProcedure>(procedure.value<quintptr>());
  if (function == nullptr) return 0;
  return function(window, message, first, second);
}

std::unique_ptr<QDialog> TodayScreen::MakeOptionsDialog(size_t index) {
  if (index >= items_.size() || items_[index].options == nullptr) {
    return nullptr;
  }
  auto dialog = std::make_unique<QDialog>(this);
  dialog->setWindowTitle(ToQString(items_[index].record->name));
  dialog->setFixedWidth(width());
  items_[index].options(dialog.get(), td::kInitDialog, 0, 0);
  return dialog;
}

int TodayScreen::ShowOptions(size_t index) {
  std::unique_ptr<QDialog> dialog = MakeOptionsDialog(index);
  if (dialog == nullptr) return -1;
  return dialog->exec();
}

void TodayScreen::SetScrollOffset(int offset) {
  scroll_offset_ = offset;
  LayOut();
  update();
}

intptr_t TodayScreen::WindowProcedure(void* window, uint32_t message,
                                      uintptr_t first, intptr_t /*second*/) {
  auto* screen = static_cast<TodayScreen*>(window);
  if (message == td::kGetColor && screen != nullptr) {
    return static_cast<intptr_t>(
        screen->ColourFor(static_cast<uint32_t>(first)));
  }
  return 0;
}

uint32_t TodayScreen::ColourFor(uint32_t index) const {
  if (index != td::kColorText) return 0;
  return td::Rgb(static_cast<uint8_t>(text_colour_.red()),
                 static_cast<uint8_t>(text_colour_.green()),
                 static_cast<uint8_t>(text_colour_.blue()));
}

void TodayScreen::LayOut() {
  int y = kHeaderHeight - scroll_offset_;
  for (TodayItem& item : items_) {
    item.window->setGeometry(0, y, width(), item.record->height);
    y += item.record->height;
  }
}

void TodayScreen::ScheduleClock() {
  const QTime now = QTime::currentTime();
  clock_timer_.start((60 - now.second()) * 1000 - now.msec());
}

void TodayScreen::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setClipRegion(event->region());
  // The background changes with the height, so what lies under an item
  // depends on where it is.
  QLinearGradient sky(0, 0, 0, height());
  sky.setColorAt(0, QColor(0x12, 0x3a, 0x7a));
  sky.setColorAt(1, QColor(0x5a, 0x9a, 0xd8));
  painter.fillRect(rect(), sky);
  painter.setPen(QColor(255, 255, 255, 60));
  painter.drawLine(0, kHeaderHeight - 1, width(), kHeaderHeight - 1);

  const QDateTime now = QDateTime::currentDateTime();
  QLocale locale = QLocale::c();
  painter.setPen(text_colour_);
  QFont font = painter.font();
  font.setPixelSize(12);
  painter.setFont(font);
  painter.drawText(QRect(6, 4, width() - 12, 16), Qt::AlignLeft,
                   owner_.isEmpty() ? QStringLiteral("Telvane phone") : owner_);
  font.setPixelSize(28);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(6, 20, width() - 12, 32), Qt::AlignLeft,
                   locale.toString(now.time(), QStringLiteral("HH:mm")));
  font.setPixelSize(12);
  font.setBold(false);
  painter.setFont(font);
  painter.drawText(
      QRect(6, 54, width() - 12, 18), Qt::AlignLeft,
      locale.toString(now.date(), QStringLiteral("dddd, d MMMM yyyy")));
}

void TodayScreen::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOut();
}

void TodayScreen::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange ||
      event->type() == QEvent::StyleChange) {
    for (size_t i = 0; i < items_.size(); ++i) {
      SendToItem(i, td::kClearCache);
    }
  }
}

void TodayScreen::contextMenuEvent(QContextMenuEvent* event) {
  QWidget* child = childAt(event->pos());
  for (size_t i = 0; i < items_.size(); ++i) {
    if (child != nullptr &&
        (child == items_[i].window || items_[i].window->isAncestorOf(child))) {
      ShowOptions(i);
      return;
    }
  }
}

}  // namespace device::todayshell
