#include "kit/hotkeys.h"

#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QHash>
#include <QKeyEvent>
#include <QList>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <optional>

#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/hotkeys.h"

namespace kit {
namespace {

constexpr HardwareKey kHardwareKeys[] = {
    {1100, 0, 13},        {1101, 0, 37},        {1102, 0, 38},
    {1103, 0, 39},        {1104, 0, 40},        {1117, kModWin, 193},
    {1118, kModWin, 194}, {1119, kModWin, 195}, {1120, kModWin, 196},
    {1121, kModWin, 197}, {1122, kModWin, 198}, {1123, kModWin, 202},
    {1124, kModWin, 203}, {1125, kModWin, 204}, {1126, kModWin, 205},
    {1123, 0, 142},       {1124, 0, 141},       {1125, 0, 139},
    {1126, 0, 138},       {1127, 0, 140},       {1128, 0, 137},
    {1129, 0, 136},       {40328, 0, 117},      {40329, 0, 118},
    {40331, 0, 121},
};

// The remote keys Shift+F1 to Shift+F7 stand for, in order.
constexpr uint16_t kRemoteCodes[] = {142, 141, 139, 138, 140, 137, 136};

struct DeviceKey {
  uint16_t code;
  uint32_t modifiers;
};

// The hardware key a host key stands for, or nullopt when it stands for
// none (it then stays an ordinary key).
std::optional<DeviceKey> MapHostKey(const QKeyEvent& event) {
  Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
  int key = event.key();
  if (mods == Qt::ShiftModifier && key >= Qt::Key_F1 && key <= Qt::Key_F7)
    return DeviceKey{kRemoteCodes[key - Qt::Key_F1], 0};
  if (mods != Qt::NoModifier) return std::nullopt;
  if (key >= Qt::Key_F1 && key <= Qt::Key_F6)
    return DeviceKey{static_cast<uint16_t>(193 + (key - Qt::Key_F1)), kModWin};
  switch (key) {
    case Qt::Key_F7:
      return DeviceKey{117, 0};
    case Qt::Key_F8:
      return DeviceKey{118, 0};
    case Qt::Key_F9:
      return DeviceKey{121, 0};
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return DeviceKey{kKeyAction, 0};
    case Qt::Key_Escape:
    case Qt::Key_Back:
      return DeviceKey{kKeyBack, 0};
    case Qt::Key_Left:
      return DeviceKey{37, 0};
    case Qt::Key_Up:
      return DeviceKey{38, 0};
    case Qt::Key_Right:
      return DeviceKey{39, 0};
    case Qt::Key_Down:
      return DeviceKey{40, 0};
    default:
      return std::nullopt;
  }
}

bool IsBackKey(const QKeyEvent& event) {
  return event.key() == Qt::Key_Escape || event.key() == Qt::Key_Back;
}

// The host key a hardware key code arrives as in a window: the inverse of
// MapHostKey, letters and digits as themselves, anything else unknown (the
// code stays in the event's native virtual key).
void HostKeyOf(uint16_t code, int* key, Qt::KeyboardModifiers* mods,
               QString* text) {
  *mods = Qt::NoModifier;
  text->clear();
  switch (code) {
    case kKeyAction:
      *key = Qt::Key_Return;
      *text = QStringLiteral("\r");
      return;
    case kKeyBack:
      *key = Qt::Key_Escape;
      *text = QString(QChar(27));
      return;
    case 37:
      *key = Qt::Key_Left;
      return;
    case 38:
      *key = Qt::Key_Up;
      return;
    case 39:
      *key = Qt::Key_Right;
      return;
    case 40:
      *key = Qt::Key_Down;
      return;
    case 117:
      *key = Qt::Key_F7;
      return;
    case 118:
      *key = Qt::Key_F8;
      return;
    case 121:
      *key = Qt::Key_F9;
      return;
    default:
      break;
  }
  if (code >= 193 && code <= 198) {
    *key = Qt::Key_F1 + (code - 193);
    return;
  }
  if (code >= 202 && code <= 205) {
    *key = Qt::Key_F1 + (code - 202);
    *mods = Qt::ShiftModifier;
    return;
  }
  for (size_t i = 0; i < std::size(kRemoteCodes); ++i) {
    if (kRemoteCodes[i] == code) {
      *key = Qt::Key_F1 + static_cast<int>(i);
      *mods = Qt::ShiftModifier;
      return;
    }
  }
  if ((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z')) {
    *key = code;
    *text = QString(QChar(code));
    return;
  }
  *key = Qt::Key_unknown;
}

// The modifier a hardware key is sent with (the first table entry with the
// code), 0 for a code the table does not know.
uint32_t DeviceModifiers(uint16_t code) {
  for (const HardwareKey& key : kHardwareKeys) {
    if (key.key_code == code) return key.modifiers;
  }
  return 0;
}

// Everything the program's hotkeys need: the windows' tokens, the key
// endpoint read on the UI thread, the Back overrides and the host-key
// filter. One per program, a child of the application.
class HotkeyHub : public QObject {
 public:
  static HotkeyHub* Get() {
    static QPointer<HotkeyHub> hub;
    if (hub.isNull()) hub = new HotkeyHub(QCoreApplication::instance());
    hub->EnsureEndpoint();
    return hub;
  }

  ~HotkeyHub() override {
    delete notifier_;  // before the socket it watches closes
    notifier_ = nullptr;
    if (endpoint_ != nullptr) {
      platform::UnregisterProcessHotkeys(getpid()).IgnoreError();
    }
  }

  bool Register(QWidget* window, int id, uint32_t modifiers, uint16_t code) {
    if (window == nullptr) return false;
    uint32_t token = TokenOf(window);
    return platform::RegisterHotkey(getpid(), token, id, modifiers, code).ok();
  }

  bool Unregister(QWidget* window, int id) {
    auto it = tokens_.find(window);
    if (it == tokens_.end()) return false;
    return platform::UnregisterHotkey(getpid(), it.value(), id).ok();
  }

  void OverrideBack(QWidget* window, bool on) {
    if (window == nullptr) return;
    overrides_.removeAll(nullptr);
    overrides_.removeAll(QPointer<QWidget>(window));
    if (on) overrides_.append(window);
    if (window->window() == QApplication::activeWindow())
      RecordForeground(window->window());
  }

  void DropQueued(QWidget* window) {
    ReadEndpoint();
    QCoreApplication::removePostedEvents(window, HotkeyEvent::Type());
  }

  void Press(uint16_t code, bool up) {
    uint32_t modifiers = DeviceModifiers(code);
    QWidget* target = KeyTarget();
    if (code == kKeyBack && target != nullptr && BackOverriddenIn(target)) {
      PostBack(target->window(), up);
      return;
    }
    if (RouteToOwner(code, modifiers, up)) return;
    SendKey(target, code, modifiers, up);
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    switch (event->type()) {
      case QEvent::WindowActivate:
        if (object->isWidgetType() &&
            static_cast<QWidget*>(object)->isWindow()) {
          RecordForeground(static_cast<QWidget*>(object));
        }
        return false;
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
        if (!object->isWidgetType()) return false;
        return FilterKey(static_cast<QWidget*>(object),
                         static_cast<QKeyEvent*>(event));
      default:
        return false;
    }
  }

 private:
  explicit HotkeyHub(QObject* parent) : QObject(parent) {
    QCoreApplication::instance()->installEventFilter(this);
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            [] { platform::UnregisterProcessHotkeys(getpid()).IgnoreError(); });
  }

  // Publishes the key endpoint on the current device (again when the
  // device changed, as between tests).
  void EnsureEndpoint() {
    std::filesystem::path wanted = platform::KeyEndpointPath(getpid());
    if (endpoint_ != nullptr && endpoint_->path() == wanted) return;
    delete notifier_;
    notifier_ = nullptr;
    endpoint_ = platform::KeyEndpoint::Publish();
    if (endpoint_ == nullptr) return;
    notifier_ =
        new QSocketNotifier(endpoint_->fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this,
            [this] { ReadEndpoint(); });
  }

  uint32_t TokenOf(QWidget* window) {
    auto it = tokens_.find(window);
    if (it != tokens_.end()) return it.value();
    uint32_t token = next_token_++;
    tokens_.insert(window, token);
    windows_.insert(token, window);
    connect(window, &QObject::destroyed, this, [this, window, token] {
      tokens_.remove(window);
      windows_.remove(token);
      platform::UnregisterWindowHotkeys(getpid(), token).IgnoreError();
    });
    return token;
  }

  bool BackOverriddenIn(QWidget* widget) const {
    QWidget* window = widget->window();
    for (const QPointer<QWidget>& overriding : overrides_) {
      if (overriding == window || overriding == widget) return true;
    }
    return false;
  }

  void PostBack(QWidget* window, bool up) {
    QCoreApplication::postEvent(
        window, new HotkeyEvent(kBackHotkeyId, up ? kModKeyUp : 0, kKeyBack));
  }

  void RecordForeground(QWidget* active) {
    EnsureEndpoint();  // presses for the program in front come to it
    bool back = active != nullptr && BackOverriddenIn(active);
    platform::SetForegroundProcess(getpid(), back).IgnoreError();
  }

  // Where a key without an owner goes: the focused widget, else the
  // active window.
  static QWidget* KeyTarget() {
    if (QWidget* focus = QApplication::focusWidget()) return focus;
    return QApplication::activeWindow();
  }

  // Delivers the key to the window holding it, here or in another program.
  // False when nobody holds it.
  // With `notify` false the key is only taken from whoever else would get
  // it (the release a key's auto-repeat sends between two presses).
  bool RouteToOwner(uint16_t code, uint32_t modifiers, bool up,
                    bool notify = true) {
    std::optional<platform::HotkeyEntry> owner =
        platform::FindHotkeyOwner(modifiers, code);
    if (!owner) return false;
    if (!notify || (up && (owner->modifiers & kModKeyUp) == 0)) return true;
    if (owner->pid != getpid()) {
      platform::PostHotkey(*owner, modifiers, code, up).IgnoreError();
      return true;
    }
    QPointer<QWidget> window = windows_.value(owner->window);
    if (!window.isNull()) {
      QCoreApplication::postEvent(
          window, new HotkeyEvent(
                      owner->id,
                      (modifiers & ~kModKeyUp) | (up ? kModKeyUp : 0), code));
    }
    return true;
  }

  void SendKey(QWidget* target, uint16_t code, uint32_t modifiers, bool up) {
    if (target == nullptr) return;
    int key;
    Qt::KeyboardModifiers mods;
    QString text;
    HostKeyOf(code, &key, &mods, &text);
    QKeyEvent event(up ? QEvent::KeyRelease : QEvent::KeyPress, key, mods, 0,
                    code, modifiers, text);
    bool was = sending_;
    sending_ = true;
    QCoreApplication::sendEvent(target, &event);
    sending_ = was;
  }

  void ReadEndpoint() {
    if (endpoint_ == nullptr) return;
    while (std::optional<platform::KeyNotification> key =
               endpoint_->Receive()) {
      if (key->hotkey) {
        QPointer<QWidget> window = windows_.value(key->window);
        if (!window.isNull()) {
          QCoreApplication::postEvent(
              window, new HotkeyEvent(key->id, key->modifiers, key->key_code));
        }
        continue;
      }
      bool up = (key->modifiers & kModKeyUp) != 0;
      QWidget* target = KeyTarget();
      if (key->key_code == kKeyBack && target != nullptr &&
          BackOverriddenIn(target)) {
        PostBack(target->window(), up);
        continue;
      }
      SendKey(target, key->key_code, key->modifiers & ~kModKeyUp, up);
    }
  }

  // True when this step of the event's delivery is its parent's turn (the
  // widget before ignored it): the event was looked at already.
  bool Propagating(QWidget* widget, QKeyEvent* event) {
    bool again = event == last_event_ && event->type() == last_type_ &&
                 event->key() == last_key_ &&
                 event->timestamp() == last_timestamp_ &&
                 !last_receiver_.isNull() && widget != last_receiver_ &&
                 widget->isAncestorOf(last_receiver_);
    last_event_ = event;
    last_type_ = event->type();
    last_key_ = event->key();
    last_timestamp_ = event->timestamp();
    last_receiver_ = widget;
    return again;
  }

  bool FilterKey(QWidget* widget, QKeyEvent* event) {
    if (Propagating(widget, event)) return false;
    bool up = event->type() == QEvent::KeyRelease;
    // A held key repeats its press; the releases between are not releases.
    bool notify = !(up && event->isAutoRepeat());
    if (IsBackKey(*event) && BackOverriddenIn(widget)) {
      if (notify) PostBack(widget->window(), up);
      return true;
    }
    if (sending_) return false;  // came from a press without an owner
    std::optional<DeviceKey> device_key = MapHostKey(*event);
    if (!device_key) return false;
    return RouteToOwner(device_key->code, device_key->modifiers, up, notify);
  }

  std::unique_ptr<platform::KeyEndpoint> endpoint_;
  QSocketNotifier* notifier_ = nullptr;  // reads endpoint_; a child
  QHash<QWidget*, uint32_t> tokens_;     // windows with hotkeys
  QHash<uint32_t, QPointer<QWidget>> windows_;
  uint32_t next_token_ = 1;
  QList<QPointer<QWidget>> overrides_;  // windows that take Back themselves
  bool sending_ = false;  // a key without an owner is being delivered
  // The key event looked at last, to see it again only once.
  const QEvent* last_event_ = nullptr;
  QEvent::Type last_type_ = QEvent::None;
  int last_key_ = 0;
  quint64 last_timestamp_ = 0;
  QPointer<QWidget> last_receiver_;
};

}  // namespace

std::span<const HardwareKey> HardwareKeys() { return kHardwareKeys; }

QString KeyDisplayText(uint16_t key_code) {
  for (const HardwareKey& key : kHardwareKeys) {
    if (key.key_code == key_code) return Str(key.name_id);
  }
  return QStringLiteral("0x%1X").arg(key_code);
}

HotkeyEvent::HotkeyEvent(int id, uint32_t modifiers, uint16_t key_code)
    : QEvent(Type()), id_(id), modifiers_(modifiers), key_code_(key_code) {}

QEvent::Type HotkeyEvent::Type() {
  static const QEvent::Type type =
      static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void InstallHardwareKeys() { HotkeyHub::Get(); }

// Every program built with the kit has the device's keys from its start.
Q_COREAPP_STARTUP_FUNCTION(InstallHardwareKeys)

bool RegisterHotkey(QWidget* window, int id, uint32_t modifiers,
                    uint16_t key_code) {
  return HotkeyHub::Get()->Register(window, id, modifiers, key_code);
}

bool UnregisterHotkey(QWidget* window, int id) {
  return HotkeyHub::Get()->Unregister(window, id);
}

void OverrideBackKey(QWidget* window, bool on) {
  HotkeyHub::Get()->OverrideBack(window, on);
}

void DropQueuedHotkeys(QWidget* window) {
  HotkeyHub::Get()->DropQueued(window);
}

void PressHardwareKey(uint16_t key_code, bool up) {
  HotkeyHub::Get()->Press(key_code, up);
}

}  // namespace kit
