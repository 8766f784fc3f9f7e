// What the firewall and the send service ask of the alert popup: the small
// borderless window that announces a message or a send result.
//
// The popup window (alerts/ui) implements this on the UI thread; the cores
// call it only from there. Tests implement it to record the calls.
#ifndef TELVANE_ALERTS_ALERT_POPUP_H_
#define TELVANE_ALERTS_ALERT_POPUP_H_

#include <cstdint>
#include <string>

namespace alerts {

class AlertPopup {
 public:
  virtual ~AlertPopup() = default;

  // Chooses the skin: the full path of a ".cfg" file in the skins folder, or
  // empty for the built-in look (also used when the skin does not load).
  // Setting the path already in use does nothing.
  virtual void SetSkin(const std::u16string& skin_path) = 0;

  // Shows the popup, or refreshes it with new content when it is showing.
  // `second_text` is the sender's name or number; `lifetime_ms` 0 keeps the
  // popup until the user dismisses it; an empty `picture_path` means none.
  // `named_sender` says the second text is a name (from a quoted sender),
  // so a photo may be looked up by it.
  virtual void Show(const std::u16string& main_text,
                    const std::u16string& second_text, uint32_t lifetime_ms,
                    const std::u16string& picture_path, bool named_sender) = 0;

  // Hides the popup.
  virtual void Close() = 0;
};

}  // namespace alerts

#endif  // TELVANE_ALERTS_ALERT_POPUP_H_
