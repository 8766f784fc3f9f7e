#include "device/deviced/messaging_service.h"

#include <cstdio>
#include <vector>

#include "device/cemapi/message_store.h"
#include "platform/com.h"
#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/unicode.h"

namespace device::deviced {

using namespace platform;  // the messaging interface's names

namespace {

std::string HrText(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<uint32_t>(hr));
  return buffer;
}

}  // namespace

std::unique_ptr<MessagingService> MessagingService::Open(Status* status) {
  auto fail = [&](std::string message) -> std::unique_ptr<MessagingService> {
    if (status != nullptr) {
      *status = Status(ErrorCode::kUnavailable, std::move(message));
    }
    return nullptr;
  };
  Status load_status;
  std::unique_ptr<MessagingService> service(new MessagingService());
  service->library_ = Library::Load(kMapiLibraryName, &load_status);
  if (service->library_ == nullptr) {
    return fail("cannot load cemapi.dll: " + load_status.ToString());
  }
  Library& library = *service->library_;
  auto initialize = reinterpret_cast<MapiInitializeFunction>(
      library.Symbol(kMapiInitializeName));
  auto logon =
      reinterpret_cast<MapiLogonExFunction>(library.Symbol(kMapiLogonExName));
  auto free_buffer = reinterpret_cast<MapiFreeBufferFunction>(
      library.Symbol(kMapiFreeBufferName));
  auto free_rows =
      reinterpret_cast<FreeProwsFunction>(library.Symbol(kFreeProwsName));
  service->uninitialize_ = reinterpret_cast<MapiUninitializeFunction>(
      library.Symbol(kMapiUninitializeName));
  if (!initialize || !logon || !free_buffer || !free_rows ||
      !service->uninitialize_) {
    return fail("cemapi.dll lacks an entry point");
  }
  if (Status s = EnsureMessageStore(); !s.ok()) {
    return fail("message store: " + s.ToString());
  }
  HRESULT hr = initialize(nullptr);
  if (Failed(hr)) return fail("MAPIInitialize failed " + HrText(hr));
  service->initialized_ = true;
  hr = logon(0, nullptr, nullptr, MAPI_UNICODE, &service->session_);
  if (Failed(hr)) return fail("MAPILogonEx failed " + HrText(hr));

  // The "SMS" store: the stores table read row by row, each store's display
  // name compared.
  IMAPITable* stores = nullptr;
  hr = service->session_->GetMsgStoresTable(MAPI_UNICODE, &stores);
  if (Failed(hr)) return fail("GetMsgStoresTable failed " + HrText(hr));
  while (service->store_ == nullptr) {
    SRowSet* rows = nullptr;
    if (Failed(stores->QueryRows(1, 0, &rows)) || rows == nullptr ||
        rows->cRows == 0) {
      free_rows(rows);
      break;
    }
    const SPropValue& id = rows->aRow[0].lpProps[0];
    IMsgStore* store = nullptr;
    if (id.ulPropTag == PR_ENTRYID &&
        Succeeded(service->session_->OpenMsgStore(
            0, id.Value.bin.cb, reinterpret_cast<ENTRYID*>(id.Value.bin.lpb),
            nullptr, MDB_NO_DIALOG | MAPI_BEST_ACCESS | MDB_WRITE, &store))) {
      SizedSPropTagArray<2> tags{2, {PR_DISPLAY_NAME, PR_CE_IPM_INBOX_ENTRYID}};
      ULONG count = 0;
      SPropValue* props = nullptr;
      if (store->GetProps(tags.get(), MAPI_UNICODE, &count, &props) == S_OK &&
          count == 2 && std::u16string_view(props[0].Value.lpszW) == u"SMS") {
        service->store_ = store;
        service->inbox_id_.assign(
            reinterpret_cast<const char*>(props[1].Value.bin.lpb),
            props[1].Value.bin.cb);
      } else {
        store->Release();
      }
      free_buffer(props);
    }
    free_rows(rows);
  }
  stores->Release();
  if (service->store_ == nullptr) return fail("no \"SMS\" message store");
  return service;
}

MessagingService::~MessagingService() {
  for (auto& [clsid, client] : clients_) client->Release();
  if (store_ != nullptr) store_->Release();
  if (session_ != nullptr) {
    session_->Logoff(0, 0, 0);
    session_->Release();
  }
  if (initialized_) uninitialize_();
}

IMailRuleClient* MessagingService::ClientFor(const std::u16string& name) {
  std::optional<GUID> clsid = ParseGuid(name);
  if (!clsid) {
    DebugPrintf("deviced: rule client \"%s\" is not a CLSID, skipped\n",
                ToUtf8(name).c_str());
    return nullptr;
  }
  std::u16string key = GuidToString(*clsid);
  if (auto it = clients_.find(key); it != clients_.end()) return it->second;
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
  clients_.emplace(key, client);
  return client;
}

std::optional<DeliveryOutcome> MessagingService::Receive(
    std::u16string_view sender, std::u16string_view text, FileTime delivered,
    Status* status) {
  std::optional<std::string> id =
      DeliverIncomingSms(sender, text, delivered, status);
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
  std::string message_id = *id;
  std::string folder_id = inbox_id_;
  for (const std::u16string& name : names) {
    IMailRuleClient* client = ClientFor(name);
    if (client == nullptr) continue;
    ULONG event_type = 0;
    MRCHANDLED handled = MRC_NOT_HANDLED;
    HRESULT hr = client->ProcessMessage(
        store_, static_cast<ULONG>(message_id.size()),
        reinterpret_cast<LPENTRYID>(message_id.data()),
        static_cast<ULONG>(folder_id.size()),
        reinterpret_cast<LPENTRYID>(folder_id.data()), &event_type, &handled);
    if (Failed(hr)) {
      DebugPrintf("deviced: rule client %s failed ProcessMessage: %s\n",
                  ToUtf8(name).c_str(), HrText(hr).c_str());
    }
    Status find_status;
    bool gone = !FindMessage(std::string_view(*id), &find_status) &&
                find_status.code() == ErrorCode::kNotFound;
    if (gone) {
      outcome.deleted = true;
      outcome.deleted_by = GuidToString(*ParseGuid(name));
      break;
    }
    if (Succeeded(hr) && handled == MRC_HANDLED_DONTCONTINUE) break;
  }
  return outcome;
}

}  // namespace device::deviced
