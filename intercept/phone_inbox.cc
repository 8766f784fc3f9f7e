#include "intercept/phone_inbox.h"

#include <memory>
#include <vector>

#include "platform/debug.h"
#include "platform/mapi.h"
#include "platform/sms_store.h"

namespace intercept {
namespace {

using namespace platform;  // the messaging interface's names

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
  Status open_status;
  std::unique_ptr<SmsStoreSession> sms = SmsStoreSession::Open(&open_status);
  if (sms == nullptr) return fail(open_status.ToString());
  const std::string& inbox_id = sms->inbox_id();
  ComRef<IMAPIFolder> inbox;
  ULONG type = 0;
  if (Failed(sms->store()->OpenEntry(
          static_cast<ULONG>(inbox_id.size()),
          reinterpret_cast<const ENTRYID*>(inbox_id.data()), nullptr,
          MAPI_MODIFY, &type, inbox.unknown_out())) ||
      !inbox || type != MAPI_FOLDER) {
    return fail("the Inbox cannot be opened");
  }
  const FreeProwsFunction free_rows = sms->free_rows();

  // One message of the Inbox for each copy.
  std::vector<store::PhoneCopy> wanted(copies.begin(), copies.end());
  std::vector<std::string> doomed;
  ComRef<IMAPITable> contents;
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
