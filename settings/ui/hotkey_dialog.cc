#include "settings/ui/hotkey_dialog.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>

#include "kit/hotkeys.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"

namespace settings::ui {

namespace {

namespace cmds = kit::cmds;

constexpr std::array<uint16_t, 18> kBindable = {
    cmds::kMinimize,
    cmds::kView,
    cmds::kNewFile,
    cmds::kOpen,
    cmds::kSave,
    cmds::kClose,
    cmds::kEmptyRecycleBin,
    cmds::kNewDraft,
    cmds::kNewSms,
    cmds::kForward,
    cmds::kReply,
    cmds::kDelete,
    cmds::kSelectUnselect,
    cmds::kCopy,
    cmds::kCut,
    cmds::kPaste,
    cmds::kNodeProperty,
    cmds::kNodePassword,
};

// Hotkey notifications the dialog never binds.
constexpr int kIgnoredHotkeyId = 1006;

bool IsActionKey(int key) {
  return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Select;
}

}  // namespace

std::span<const uint16_t> BindableCommands() { return kBindable; }

uint8_t KeyVirtOf(uint32_t modifiers) {
  uint8_t virt = kKeyVirtVirtual;
  if ((modifiers & kit::kModAlt) != 0) virt |= kKeyVirtAlt;
  if ((modifiers & kit::kModControl) != 0) virt |= kKeyVirtControl;
  if ((modifiers & kit::kModShift) != 0) virt |= kKeyVirtShift;
  return virt;
}

uint32_t HotkeyModifiersOf(uint8_t key_virt) {
  uint32_t modifiers = 0;
  if ((key_virt & kKeyVirtAlt) != 0) modifiers |= kit::kModAlt;
  if ((key_virt & kKeyVirtControl) != 0) modifiers |= kit::kModControl;
  if ((key_virt & kKeyVirtShift) != 0) modifiers |= kit::kModShift;
  return modifiers;
}

HotkeyDialog::HotkeyDialog(QWidget* parent, settings::SettingsStore* settings)
    : DeviceDialog(parent, kHotkeyTemplate),
      settings_(settings),
      list_(new QTreeWidget(content())),
      status_(new QLabel(content())) {
  title_bar()->SetCaption(kit::Str(kit::ids::kHotkey));
  soft_keys()->SetMenuBar(kit::HotkeyMenuBar());

  kit::SetControlId(list_, kHotkeyList);
  kit::SetControlId(status_, kHotkeyStatus);
  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(list_, 1);
  layout->addWidget(status_);

  list_->setColumnCount(2);
  list_->setHeaderLabels(
      {kit::Str(kit::ids::kFunctionColumn), kit::Str(kit::ids::kHotkey)});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->header()->setStretchLastSection(false);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->installEventFilter(this);

  const kit::MenuEntry& key_menu = kit::HotkeyRowMenu();
  if (!key_menu.children.empty()) {
    row_menu_ = kit::BuildMenu(key_menu.children[0], this);
    connect(row_menu_, &QMenu::triggered, this, [this](QAction* action) {
      if (uint32_t command = kit::CommandOf(action)) OnCommand(command);
    });
  }
  connect(list_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& point) { OpenRowMenu(point); });

  for (uint16_t command : kBindable) {
    rows_.push_back(settings::HotkeyBinding{0, kUnboundKey, command});
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, kit::Str(command));
    item->setText(1, kit::Str(kit::ids::kNoKey));
  }
  kit::SelectListRow(list_, 0);
  list_->setFocus();

  for (const settings::HotkeyBinding& binding : settings_->hotkeys()) {
    for (size_t row = 0; row < rows_.size(); ++row) {
      if (rows_[row].command != binding.command) continue;
      SetRow(static_cast<int>(row), binding);
      break;
    }
  }
  status_->setText(kit::Str(kit::ids::kHotkeyHelp));
  // Back reaches the dialog as a hotkey: it unbinds or ends a capture.
  kit::OverrideBackKey(this, true);
  ResizeColumns();
}

HotkeyDialog::~HotkeyDialog() {
  if (capturing_) EndCapture();
  kit::OverrideBackKey(this, false);
}

void HotkeyDialog::StartCapture() {
  if (capturing_) return;
  capturing_ = true;
  captured_.clear();
  for (const kit::HardwareKey& key : kit::HardwareKeys()) {
    // A key held by another window is not available; the others still are.
    if (kit::RegisterHotkey(this, key.key_code, key.modifiers, key.key_code)) {
      captured_.push_back(key.key_code);
    }
  }
  status_->setText(kit::Str(kit::ids::kPressKey));
}

void HotkeyDialog::EndCapture() {
  if (!capturing_) return;
  capturing_ = false;
  for (int id : captured_) kit::UnregisterHotkey(this, id);
  captured_.clear();
  status_->setText(kit::Str(kit::ids::kHotkeyHelp));
}

bool HotkeyDialog::event(QEvent* event) {
  if (event->type() == kit::HotkeyEvent::Type()) {
    OnHotkey(*static_cast<kit::HotkeyEvent*>(event));
    return true;
  }
  return DeviceDialog::event(event);
}

void HotkeyDialog::OnHotkey(const kit::HotkeyEvent& hotkey) {
  // A release follows every press it may get; the press decided.
  if ((hotkey.modifiers() & kit::kModKeyUp) != 0) return;
  if (hotkey.id() == 0 || hotkey.id() == kIgnoredHotkeyId) return;
  if (hotkey.id() == kit::kBackHotkeyId) {
    BackPressed();
    return;
  }
  BindSelected(hotkey.modifiers(), hotkey.key_code());
  EndCapture();
}

void HotkeyDialog::OnBack() { BackPressed(); }

void HotkeyDialog::BackPressed() {
  if (capturing_) {
    EndCapture();
    return;
  }
  Unbind(kit::SelectedListRow(list_));
}

void HotkeyDialog::BindSelected(uint32_t modifiers, uint16_t key_code) {
  const int selected = kit::SelectedListRow(list_);
  if (selected < 0) return;
  settings::HotkeyBinding binding{KeyVirtOf(modifiers), key_code,
                                  rows_[static_cast<size_t>(selected)].command};
  for (size_t row = 0; row < rows_.size(); ++row) {
    if (static_cast<int>(row) == selected) continue;
    if (rows_[row].key_code == binding.key_code &&
        rows_[row].modifiers == binding.modifiers) {
      Unbind(static_cast<int>(row));
      break;
    }
  }
  SetRow(selected, binding);
}

void HotkeyDialog::SetRow(int row, const settings::HotkeyBinding& binding) {
  rows_[static_cast<size_t>(row)] = binding;
  list_->topLevelItem(row)->setText(1, kit::KeyDisplayText(binding.key_code));
}

void HotkeyDialog::Unbind(int row) {
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
  settings::HotkeyBinding& binding = rows_[static_cast<size_t>(row)];
  binding.key_code = kUnboundKey;
  binding.modifiers = 0;
  list_->topLevelItem(row)->setText(1, kit::Str(kit::ids::kNoKey));
}

void HotkeyDialog::Reset() {
  settings_->mutable_hotkeys().clear();
  for (size_t row = 0; row < rows_.size(); ++row) {
    Unbind(static_cast<int>(row));
  }
}

void HotkeyDialog::Accept() {
  EndCapture();
  std::vector<settings::HotkeyBinding>& list = settings_->mutable_hotkeys();
  list.clear();
  for (const settings::HotkeyBinding& binding : rows_) {
    if (binding.key_code != kUnboundKey) list.push_back(binding);
  }
  done(kit::kCommandOk);
}

void HotkeyDialog::OnCommand(uint32_t command) {
  switch (command) {
    case kit::kCommandOk:
    case cmds::kOk:
      Accept();
      return;
    case cmds::kReset:
      Reset();
      return;
    case cmds::kUnmap:
      Unbind(kit::SelectedListRow(list_));
      return;
    default:
      DeviceDialog::OnCommand(command);
      return;
  }
}

bool HotkeyDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_) {
    if (event->type() == QEvent::Resize) {
      ResizeColumns();
    } else if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (IsActionKey(key)) {
        StartCapture();
        return true;
      }
      // Any other key gives up the capture and does what it does.
      if (key != Qt::Key_Escape && key != Qt::Key_Back) EndCapture();
    }
  }
  return DeviceDialog::eventFilter(watched, event);
}

void HotkeyDialog::ResizeColumns() {
  const int scroll_bar =
      list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list_);
  const int width = list_->width() - scroll_bar - 2 * list_->frameWidth();
  if (width <= 0) return;
  list_->setColumnWidth(0, width * 2 / 3);
  list_->setColumnWidth(1, width / 3);
}

void HotkeyDialog::OpenRowMenu(const QPoint& point) {
  if (row_menu_ == nullptr) return;
  if (QTreeWidgetItem* item = list_->itemAt(point)) {
    list_->setCurrentItem(item);
    item->setSelected(true);
  }
  if (kit::SelectedListRow(list_) < 0) return;
  row_menu_->popup(list_->viewport()->mapToGlobal(point));
}

int RunHotkeyDialog(QWidget* parent, settings::SettingsStore* settings) {
  HotkeyDialog dialog(parent, settings);
  return dialog.Run() == kit::kCommandOk ? kit::kCommandOk
                                         : kit::kCommandCancel;
}

}  // namespace settings::ui
