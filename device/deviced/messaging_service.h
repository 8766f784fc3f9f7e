// The phone's messaging service: takes an incoming SMS into the Inbox and
// hands it to the registered rule clients.
//
// Rule clients are the values of HKLM\Software\Microsoft\Inbox\Svc\SMS\Rules
// whose DWORD data is 1; the value name is the client's CLSID. The key is
// read again for every message, so a new registration takes effect at once.
// Each client is activated (CreateComInstance) and initialised once, on the
// first message after its registration, and kept for the life of the
// service; a client whose activation or Initialize fails is tried again on
// the next message. Clients run in CLSID order, one message at a time; a
// client reporting MRC_HANDLED_DONTCONTINUE, or one that deleted the
// message, ends the round. A client that fails a call is logged to the
// device's debug.log and skipped.
//
// The store is reached through the device's cemapi.dll (loaded by name),
// as the phone's own service does. Not thread-safe: one caller at a time.
#ifndef TELVANE_DEVICE_DEVICED_MESSAGING_SERVICE_H_
#define TELVANE_DEVICE_DEVICED_MESSAGING_SERVICE_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/mapi.h"
#include "platform/modules.h"
#include "platform/status.h"
#include "platform/time.h"

namespace device::deviced {

inline constexpr char16_t kRuleClientsKey[] =
    u"\\Software\\Microsoft\\Inbox\\Svc\\SMS\\Rules";

struct DeliveryOutcome {
  std::string entry_id;       // the message's entry identifier (bytes)
  bool deleted = false;       // gone from the Inbox after the rule clients
  std::u16string deleted_by;  // the CLSID of the client that deleted it
};

class MessagingService {
 public:
  // Loads cemapi.dll, logs on and opens the "SMS" store. kUnavailable when
  // the library or the store cannot be reached.
  static std::unique_ptr<MessagingService> Open(
      platform::Status* status = nullptr);
  // Releases the clients and the store and logs off.
  ~MessagingService();
  MessagingService(const MessagingService&) = delete;
  MessagingService& operator=(const MessagingService&) = delete;

  // Stores the SMS in the Inbox (unread) and runs the rule clients on it.
  // Fails only when the message cannot be stored.
  std::optional<DeliveryOutcome> Receive(std::u16string_view sender,
                                         std::u16string_view text,
                                         platform::FileTime delivered,
                                         platform::Status* status = nullptr);

 private:
  MessagingService() = default;
  platform::IMailRuleClient* ClientFor(const std::u16string& clsid_text);

  std::unique_ptr<platform::Library> library_;
  platform::MapiUninitializeFunction uninitialize_ = nullptr;
  bool initialized_ = false;
  platform::IMAPISession* session_ = nullptr;
  platform::IMsgStore* store_ = nullptr;
  std::string inbox_id_;
  // Activated and initialised clients by CLSID (as GuidToString writes it).
  std::map<std::u16string, platform::IMailRuleClient*> clients_;
};

}  // namespace device::deviced

#endif  // TELVANE_DEVICE_DEVICED_MESSAGING_SERVICE_H_
