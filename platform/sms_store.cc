#include "platform/sms_store.h"

#include <cstdio>
#include <string_view>

namespace platform {
namespace {

std::string HrText(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<uint32_t>(hr));
  return buffer;
}

}  // namespace

std::unique_ptr<SmsStoreSession> SmsStoreSession::Open(Status* status) {
  auto fail = [&](std::string message) -> std::unique_ptr<SmsStoreSession> {
    if (status != nullptr) {
      *status = Status(ErrorCode::kUnavailable, std::move(message));
    }
    return nullptr;
  };
  Status load_status;
  std::unique_ptr<SmsStoreSession> session(new SmsStoreSession());
  session->library_ = Library::Load(kMapiLibraryName, &load_status);
  if (session->library_ == nullptr) {
    return fail("cannot load cemapi.dll: " + load_status.ToString());
  }
  Library& library = *session->library_;
  auto initialize = reinterpret_cast<MapiInitializeFunction>(
      library.Symbol(kMapiInitializeName));
  auto logon =
      reinterpret_cast<MapiLogonExFunction>(library.Symbol(kMapiLogonExName));
  session->free_buffer_ = reinterpret_cast<MapiFreeBufferFunction>(
      library.Symbol(kMapiFreeBufferName));
  session->free_rows_ =
      reinterpret_cast<FreeProwsFunction>(library.Symbol(kFreeProwsName));
  session->uninitialize_ = reinterpret_cast<MapiUninitializeFunction>(
      library.Symbol(kMapiUninitializeName));
  if (!initialize || !logon || !session->free_buffer_ || !session->free_rows_ ||
      !session->uninitialize_) {
    return fail("cemapi.dll lacks an entry point");
  }
  HRESULT hr = initialize(nullptr);
  if (Failed(hr)) return fail("MAPIInitialize failed " + HrText(hr));
  session->initialized_ = true;
  hr = logon(0, nullptr, nullptr, MAPI_UNICODE, &session->session_);
  if (Failed(hr)) return fail("MAPILogonEx failed " + HrText(hr));

  // The stores table read row by row, each store's display name compared.
  ComRef<IMAPITable> stores;
  hr = session->session_->GetMsgStoresTable(MAPI_UNICODE, stores.out());
  if (Failed(hr)) return fail("GetMsgStoresTable failed " + HrText(hr));
  while (session->store_ == nullptr) {
    SRowSet* rows = nullptr;
    if (Failed(stores->QueryRows(1, 0, &rows)) || rows == nullptr ||
        rows->cRows == 0) {
      session->free_rows_(rows);
      break;
    }
    const SPropValue& id = rows->aRow[0].lpProps[0];
    IMsgStore* store = nullptr;
    if (id.ulPropTag == PR_ENTRYID &&
        Succeeded(session->session_->OpenMsgStore(
            0, id.Value.bin.cb, reinterpret_cast<ENTRYID*>(id.Value.bin.lpb),
            nullptr, MDB_NO_DIALOG | MAPI_BEST_ACCESS | MDB_WRITE, &store))) {
      SizedSPropTagArray<2> tags{2, {PR_DISPLAY_NAME, PR_CE_IPM_INBOX_ENTRYID}};
      ULONG count = 0;
      SPropValue* props = nullptr;
      if (store->GetProps(tags.get(), MAPI_UNICODE, &count, &props) == S_OK &&
          count == 2 && props[0].Value.lpszW != nullptr &&
          std::u16string_view(props[0].Value.lpszW) == u"SMS") {
        session->store_ = store;
        session->inbox_id_.assign(
            reinterpret_cast<const char*>(props[1].Value.bin.lpb),
            props[1].Value.bin.cb);
      } else {
        store->Release();
      }
      session->free_buffer_(props);
    }
    session->free_rows_(rows);
  }
  if (session->store_ == nullptr) return fail("no \"SMS\" message store");
  if (status != nullptr) *status = Status::Ok();
  return session;
}

SmsStoreSession::~SmsStoreSession() {
  if (store_ != nullptr) store_->Release();
  if (session_ != nullptr) {
    session_->Logoff(0, 0, 0);
    session_->Release();
  }
  if (initialized_) uninitialize_();
}

}  // namespace platform
