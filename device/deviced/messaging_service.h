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
// A client is code of somebody else's that waits on other processes (the
// rule client waits for the main program through named objects), so the
// service never waits for it without a bound: each ProcessMessage runs on
// a thread of its own and gets kProcessMessageBudget. A call that does not
// return within it is logged with the client's CLSID and counts as "not
// handled" (the message stays in the Inbox); the call is left to finish on
// its own, and until it has, the client is skipped for later messages (also
// logged). Once it has returned the client is used again.
//
// The store is reached through the device's cemapi.dll (loaded by name),
// as the phone's own service does. Not thread-safe: one caller at a time.
#ifndef TELVANE_DEVICE_DEVICED_MESSAGING_SERVICE_H_
#define TELVANE_DEVICE_DEVICED_MESSAGING_SERVICE_H_

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/mapi.h"
#include "platform/modules.h"
#include "platform/sms_store.h"
#include "platform/status.h"
#include "platform/time.h"

namespace device::deviced {

inline constexpr char16_t kRuleClientsKey[] =
    u"\\Software\\Microsoft\\Inbox\\Svc\\SMS\\Rules";

// How long one ProcessMessage call may take. The rule client waits up to
// 1500 ms for the queue's mutex and up to 1500 ms for the verdict; the rest
// is room for the store.
inline constexpr std::chrono::milliseconds kProcessMessageBudget(5000);

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
  // Releases the clients and the store and logs off. While a call is still
  // outstanding (OutstandingCalls() > 0) the client it runs in, the store
  // and the library stay as they are, never released: the call may still
  // use them. The process should then end with _exit, without running
  // static destructors under the call's feet.
  ~MessagingService();
  MessagingService(const MessagingService&) = delete;
  MessagingService& operator=(const MessagingService&) = delete;

  // Stores the SMS in the Inbox (unread) and runs the rule clients on it.
  // Fails only when the message cannot be stored.
  std::optional<DeliveryOutcome> Receive(std::u16string_view sender,
                                         std::u16string_view text,
                                         platform::FileTime delivered,
                                         platform::Status* status = nullptr);

  // ProcessMessage calls that ran out of their budget and have not
  // returned yet.
  int OutstandingCalls() const;

 private:
  struct Call;  // one ProcessMessage call on its own thread
  struct Client {
    platform::IMailRuleClient* object = nullptr;
    // The call that ran out of its budget, until it has returned.
    std::shared_ptr<Call> outstanding;
  };

  MessagingService() = default;
  // The activated client named `clsid_text`, with `key` set to its CLSID
  // as GuidToString writes it; nullptr when it cannot be had.
  Client* ClientFor(const std::u16string& clsid_text, std::u16string* key);
  // Calls the client's ProcessMessage for the message within the budget;
  // nullptr when the call did not return in time.
  std::shared_ptr<Call> CallWithinBudget(Client& client,
                                         const std::u16string& key,
                                         const std::string& message_id);

  // The "SMS" store, its session and library (released last).
  std::unique_ptr<platform::SmsStoreSession> sms_;
  platform::IMsgStore* store_ = nullptr;  // sms_'s
  std::string inbox_id_;
  // Activated and initialised clients by CLSID (as GuidToString writes it).
  std::map<std::u16string, Client> clients_;
};

}  // namespace device::deviced

#endif  // TELVANE_DEVICE_DEVICED_MESSAGING_SERVICE_H_
