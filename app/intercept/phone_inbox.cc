#include "app/intercept/phone_inbox.h"

#include <memory>
#include <vector>

#include "platform/debug.h"
#include "platform/mapi.h"
#include "platform/modules.h"

namespace intercept {
namespace {

using namespace platform;  // the messaging interface's names

// Releases a store object when it goes out of scope.
template <class T>
class Ref {
 public:
  Ref() = default;
  ~Ref() {
    if (object_ != nullptr) object_->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* get() const { return object_; }
  T** out() { return &object_; }
  IUnknown** unknown() { return reinterpret_cast<IUnknown**>(&object_); }

 private:
  T* object_ = nullptr;
};

// The text of a PT_UNICODE value, or empty.
std::u16string_view Text(const SPropValue& value) {
  if (PROP_TYPE(value.ulPropTag) != PT_UNICODE || value.Value.lpszW == nullptr)
    return {};
  return value.Value.lpszW;
}

}  // namespace

uint32_t PassedFingerprint(std::u16string_view sender,
                           std::u16string_view body) {
  sender = sender.substr(0, std::min(sender.find(u'\0'), kPassedSenderUnits));
  body = body.substr(0, std::min(body.find(u'\0'), kPassedBodyUnits));
  return store::MessageFingerprint(sender, body);
}

std::optional<int> RemoveFromPhoneInbox(
    std::span<const store::PhoneCopy> copies, Status* status) {
  auto fail = [&](std::string why) -> std::optional<int> {
    if (status != nullptr) {
      *status = Status(ErrorCode::kUnavailable, "phone's Inbox: " + why);
    }
    return std::nullopt;
  };
  if (copies.empty()) return 0;
  Status load_status;
  std::unique_ptr<Library> library =
      Library::Load(kMapiLibraryName, &load_status);
  if (library == nullptr) return fail(load_status.ToString());
  auto initialize = reinterpret_cast<MapiInitializeFunction>(
      library->Symbol(kMapiInitializeName));
  auto logon =
      reinterpret_cast<MapiLogonExFunction>(library->Symbol(kMapiLogonExName));
  auto uninitialize = reinterpret_cast<MapiUninitializeFunction>(
      library->Symbol(kMapiUninitializeName));
  auto free_buffer = reinterpret_cast<MapiFreeBufferFunction>(
      library->Symbol(kMapiFreeBufferName));
  auto free_rows =
      reinterpret_cast<FreeProwsFunction>(library->Symbol(kFreeProwsName));
  if (!initialize || !logon || !uninitialize || !free_buffer || !free_rows) {
    return fail("cemapi.dll lacks an entry point");
  }
  if (Failed(initialize(nullptr))) return fail("MAPIInitialize failed");
  struct Uninitialize {
    MapiUninitializeFunction call;
    ~Uninitialize() { call(); }
  } uninitialize_at_end{uninitialize};

  Ref<IMAPISession> session;
  if (Failed(logon(0, nullptr, nullptr, MAPI_UNICODE, session.out()))) {
    return fail("MAPILogonEx failed");
  }
  // The "SMS" store and its Inbox.
  Ref<IMsgStore> sms;
  std::string inbox_id;
  {
    Ref<IMAPITable> stores;
    if (Failed(session.get()->GetMsgStoresTable(MAPI_UNICODE, stores.out()))) {
      return fail("no table of stores");
    }
    while (sms.get() == nullptr) {
      SRowSet* rows = nullptr;
      if (Failed(stores.get()->QueryRows(1, 0, &rows)) || rows == nullptr ||
          rows->cRows == 0) {
        free_rows(rows);
        break;
      }
      const SPropValue& id = rows->aRow[0].lpProps[0];
      IMsgStore* store = nullptr;
      if (id.ulPropTag == PR_ENTRYID &&
          Succeeded(session.get()->OpenMsgStore(
              0, id.Value.bin.cb, reinterpret_cast<ENTRYID*>(id.Value.bin.lpb),
              nullptr, MDB_NO_DIALOG | MAPI_BEST_ACCESS | MDB_WRITE, &store))) {
        SizedSPropTagArray<2> tags{2,
                                   {PR_DISPLAY_NAME, PR_CE_IPM_INBOX_ENTRYID}};
        ULONG count = 0;
        SPropValue* props = nullptr;
        if (store->GetProps(tags.get(), MAPI_UNICODE, &count, &props) == S_OK &&
            count == 2 && Text(props[0]) == u"SMS") {
          *sms.out() = store;
          inbox_id.assign(reinterpret_cast<const char*>(props[1].Value.bin.lpb),
                          props[1].Value.bin.cb);
        } else {
          store->Release();
        }
        free_buffer(props);
      }
      free_rows(rows);
    }
  }
  if (sms.get() == nullptr) return fail("no \"SMS\" store");
  Ref<IMAPIFolder> inbox;
  ULONG type = 0;
  if (Failed(sms.get()->OpenEntry(
          static_cast<ULONG>(inbox_id.size()),
          reinterpret_cast<const ENTRYID*>(inbox_id.data()), nullptr,
          MAPI_MODIFY, &type, inbox.unknown())) ||
      inbox.get() == nullptr || type != MAPI_FOLDER) {
    return fail("the Inbox cannot be opened");
  }

  // One message of the Inbox for each copy.
  std::vector<store::PhoneCopy> wanted(copies.begin(), copies.end());
  std::vector<std::string> doomed;
  Ref<IMAPITable> contents;
  if (Failed(inbox.get()->GetContentsTable(0, contents.out()))) {
    return fail("the Inbox cannot be listed");
  }
  SizedSPropTagArray<4> columns{
      4,
      {PR_ENTRYID, PR_SUBJECT, PR_SENDER_EMAIL_ADDRESS,
       PR_MESSAGE_DELIVERY_TIME}};
  if (Failed(contents.get()->SetColumns(columns.get(), 0))) {
    return fail("the Inbox cannot be listed");
  }
  while (!wanted.empty()) {
    SRowSet* rows = nullptr;
    if (Failed(contents.get()->QueryRows(64, 0, &rows)) || rows == nullptr ||
        rows->cRows == 0) {
      free_rows(rows);
      break;
    }
    for (ULONG i = 0; i < rows->cRows && !wanted.empty(); ++i) {
      const SPropValue* props = rows->aRow[i].lpProps;
      if (rows->aRow[i].cValues < 4 || props[0].ulPropTag != PR_ENTRYID ||
          PROP_TYPE(props[3].ulPropTag) != PT_SYSTIME) {
        continue;
      }
      const uint64_t time = props[3].Value.ft.value();
      const uint32_t fingerprint =
          PassedFingerprint(Text(props[2]), Text(props[1]));
      for (size_t w = 0; w < wanted.size(); ++w) {
        if (wanted[w].delivery_time != time ||
            wanted[w].fingerprint != fingerprint) {
          continue;
        }
        doomed.emplace_back(
            reinterpret_cast<const char*>(props[0].Value.bin.lpb),
            props[0].Value.bin.cb);
        wanted.erase(wanted.begin() + static_cast<std::ptrdiff_t>(w));
        break;
      }
    }
    free_rows(rows);
  }
  if (doomed.empty()) return 0;
  std::vector<SBinary> entries;
  for (std::string& id : doomed) {
    entries.push_back(SBinary{static_cast<ULONG>(id.size()),
                              reinterpret_cast<BYTE*>(id.data())});
  }
  ENTRYLIST list{static_cast<ULONG>(entries.size()), entries.data()};
  HRESULT hr = inbox.get()->DeleteMessages(&list, 0, nullptr, 0);
  if (Failed(hr)) return fail("the messages cannot be deleted");
  if (status != nullptr) *status = Status::Ok();
  return static_cast<int>(doomed.size());
}

}  // namespace intercept
