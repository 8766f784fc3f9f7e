#include "device/deviced/messaging_service.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "device/cemapi/message_store.h"
#include "platform/com.h"
#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/sms_store.h"
#include "platform/unicode.h"

namespace device::deviced {

using namespace platform;  // the messaging interface's names

namespace {

std::string HrText(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<uint32_t>(hr));
  return buffer;
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

// Shared by the service and the thread that makes the call, which may
// outlive the service's interest in it (and the service itself).
struct MessagingService::Call {
  std::u16string clsid;
  // The call's own copies of the identifiers it is given.
  std::string message_id;
  std::string folder_id;
  std::chrono::steady_clock::time_point started;

  std::mutex mutex;
  std::condition_variable done;
  bool returned = false;  // guarded by `mutex`; the results below with it
  bool overran = false;   // guarded by `mutex`: the service gave up waiting
  HRESULT result = E_FAIL;
  ULONG event_type = 0;
  MRCHANDLED handled = MRC_NOT_HANDLED;
};

std::unique_ptr<MessagingService> MessagingService::Open(Status* status) {
  if (Status s = cemapi::EnsureMessageStore(); !s.ok()) {
    if (status != nullptr) {
      *status =
          Status(ErrorCode::kUnavailable, "message store: " + s.ToString());
    }
    return nullptr;
  }
  std::unique_ptr<MessagingService> service(new MessagingService());
  service->sms_ = SmsStoreSession::Open(status);
  if (service->sms_ == nullptr) return nullptr;
  service->store_ = service->sms_->store();
  service->inbox_id_ = service->sms_->inbox_id();
  return service;
}

MessagingService::~MessagingService() {
  bool outstanding = false;
  for (auto& [clsid, client] : clients_) {
    if (client.outstanding != nullptr) {
      std::lock_guard<std::mutex> lock(client.outstanding->mutex);
      if (!client.outstanding->returned) {
        outstanding = true;
        continue;  // still inside it: never released
      }
    }
    client.object->Release();
  }
  if (outstanding) {
    // The call still uses the store, the session and the library.
    (void)sms_.release();
  }
}

int MessagingService::OutstandingCalls() const {
  int count = 0;
  for (const auto& [clsid, client] : clients_) {
    if (client.outstanding == nullptr) continue;
    std::lock_guard<std::mutex> lock(client.outstanding->mutex);
    if (!client.outstanding->returned) ++count;
  }
  return count;
}

MessagingService::Client* MessagingService::ClientFor(
    const std::u16string& name, std::u16string* key_out) {
  std::optional<GUID> clsid = ParseGuid(name);
  if (!clsid) {
    DebugPrintf("deviced: rule client \"%s\" is not a CLSID, skipped\n",
                ToUtf8(name).c_str());
    return nullptr;
  }
  std::u16string key = GuidToString(*clsid);
  *key_out = key;
  if (auto it = clients_.find(key); it != clients_.end()) return &it->second;
  IMailRuleClient* client = nullptr;
  HRESULT hr = CreateComInstance(*clsid, nullptr, IID_IMailRuleClient,
                                 reinterpret_cast<void**>(&client));
  if (Failed(hr) || client == nullptr) {
    DebugPrintf("deviced: cannot activate rule client %s: %s\n",
                ToUtf8(key).c_str(), HrText(hr).c_str());
    return nullptr;
  }
  MRCACCESS access = MRC_ACCESS_NONE;
  hr = client->Initialize(store_, &access);
  if (Failed(hr)) {
    DebugPrintf("deviced: rule client %s failed Initialize: %s\n",
                ToUtf8(key).c_str(), HrText(hr).c_str());
    client->Release();
    return nullptr;
  }
  DebugPrintf("deviced: rule client %s loaded (access %d)\n",
              ToUtf8(key).c_str(), static_cast<int>(access));
  return &clients_.emplace(key, Client{client, nullptr}).first->second;
}

std::shared_ptr<MessagingService::Call> MessagingService::CallWithinBudget(
    Client& client, const std::u16string& key, const std::string& message_id) {
  auto call = std::make_shared<Call>();
  call->clsid = key;
  call->message_id = message_id;
  call->folder_id = inbox_id_;
  call->started = std::chrono::steady_clock::now();
  std::thread([call, object = client.object, store = store_] {
    ULONG event_type = 0;
    MRCHANDLED handled = MRC_NOT_HANDLED;
    HRESULT hr = object->ProcessMessage(
        store, static_cast<ULONG>(call->message_id.size()),
        reinterpret_cast<LPENTRYID>(call->message_id.data()),
        static_cast<ULONG>(call->folder_id.size()),
        reinterpret_cast<LPENTRYID>(call->folder_id.data()), &event_type,
        &handled);
    std::lock_guard<std::mutex> lock(call->mutex);
    call->result = hr;
    call->event_type = event_type;
    call->handled = handled;
    call->returned = true;
    if (call->overran) {
      DebugPrintf(
          "deviced: rule client %s returned from ProcessMessage after %lld ms "
          "(%s); it is called again from the next message on\n",
          ToUtf8(call->clsid).c_str(), MillisecondsSince(call->started),
          HrText(hr).c_str());
    }
    call->done.notify_all();
  }).detach();

  std::unique_lock<std::mutex> lock(call->mutex);
  if (call->done.wait_for(lock, kProcessMessageBudget,
                          [&] { return call->returned; })) {
    return call;
  }
  call->overran = true;
  DebugPrintf(
      "deviced: rule client %s did not return from ProcessMessage within "
      "%lld ms: taken as not handled, and the client is skipped until the "
      "call returns\n",
      ToUtf8(key).c_str(),
      static_cast<long long>(kProcessMessageBudget.count()));
  client.outstanding = std::move(call);
  return nullptr;
}

std::optional<DeliveryOutcome> MessagingService::Receive(
    std::u16string_view sender, std::u16string_view text, FileTime delivered,
    Status* status) {
  std::optional<std::string> id =
      cemapi::DeliverIncomingSms(sender, text, delivered, status);
  if (!id) return std::nullopt;
  DeliveryOutcome outcome;
  outcome.entry_id = *id;

  // The registered clients, read afresh for this message.
  std::vector<std::u16string> names;
  if (std::optional<RegistryKey> key =
          RegistryKey::Open(RegistryRoot::kLocalMachine, kRuleClientsKey)) {
    for (const RegistryValue& value : key->Values()) {
      if (value.type == RegistryType::kDword && value.data.size() == 4 &&
          value.data == std::string("\x01\x00\x00\x00", 4)) {
        names.push_back(value.name);
      }
    }
  }
  for (const std::u16string& name : names) {
    std::u16string key;
    Client* client = ClientFor(name, &key);
    if (client == nullptr) continue;
    if (client->outstanding != nullptr) {
      std::lock_guard<std::mutex> lock(client->outstanding->mutex);
      if (!client->outstanding->returned) {
        DebugPrintf(
            "deviced: rule client %s is still in an earlier ProcessMessage "
            "(%lld ms), skipped\n",
            ToUtf8(key).c_str(),
            MillisecondsSince(client->outstanding->started));
        continue;
      }
    }
    client->outstanding.reset();
    std::shared_ptr<Call> call = CallWithinBudget(*client, key, *id);
    if (call == nullptr) continue;  // out of time: not handled
    const HRESULT hr = call->result;
    if (Failed(hr)) {
      DebugPrintf("deviced: rule client %s failed ProcessMessage: %s\n",
                  ToUtf8(name).c_str(), HrText(hr).c_str());
    }
    Status find_status;
    bool gone = !cemapi::FindMessage(std::string_view(*id), &find_status) &&
                find_status.code() == ErrorCode::kNotFound;
    if (gone) {
      outcome.deleted = true;
      outcome.deleted_by = key;
      break;
    }
    if (Succeeded(hr) && call->handled == MRC_HANDLED_DONTCONTINUE) break;
  }
  return outcome;
}

}  // namespace device::deviced
