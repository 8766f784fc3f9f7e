#include "import/source.h"

#include <cstdio>
#include <set>
#include <utility>

#include "platform/com.h"
#include "platform/sms_store.h"
#include "store/document.h"
#include "text/text.h"

namespace import {
namespace {

using namespace platform;  // the messaging interface's names

std::string HrText(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<uint32_t>(hr));
  return buffer;
}

Status Unavailable(std::string why) {
  return Status(ErrorCode::kUnavailable, "phone's message store: " + why);
}

ULONG FolderIdTag(PhoneFolder folder) {
  return folder == PhoneFolder::kSentItems ? PR_IPM_SENTMAIL_ENTRYID
                                           : PR_CE_IPM_INBOX_ENTRYID;
}

const char* FolderName(PhoneFolder folder) {
  return folder == PhoneFolder::kSentItems ? "Sent Items" : "Inbox";
}

const ENTRYID* AsEntryId(std::string_view bytes) {
  return reinterpret_cast<const ENTRYID*>(bytes.data());
}

// The "SMS" store and one of its folders, opened for modification.
struct OpenedFolder {
  std::unique_ptr<SmsStoreSession> sms;
  ComRef<IMAPIFolder> folder;
};

std::unique_ptr<OpenedFolder> OpenFolder(PhoneFolder which, Status* status) {
  auto holder = std::make_unique<OpenedFolder>();
  OpenedFolder& opened = *holder;
  Status open_status;
  opened.sms = SmsStoreSession::Open(&open_status);
  if (opened.sms == nullptr) {
    *status = Unavailable(open_status.ToString());
    return nullptr;
  }
  SizedSPropTagArray<1> tags{1, {FolderIdTag(which)}};
  ULONG count = 0;
  SPropValue* props = nullptr;
  HRESULT hr =
      opened.sms->store()->GetProps(tags.get(), MAPI_UNICODE, &count, &props);
  std::string folder_id;
  if (hr == S_OK && count == 1 && props[0].ulPropTag == FolderIdTag(which) &&
      props[0].Value.bin.lpb != nullptr) {
    folder_id.assign(reinterpret_cast<const char*>(props[0].Value.bin.lpb),
                     props[0].Value.bin.cb);
  }
  opened.sms->free_buffer()(props);
  if (folder_id.empty()) {
    *status = Unavailable(std::string("the store names no ") +
                          FolderName(which) + " (" + HrText(hr) + ")");
    return nullptr;
  }
  ULONG type = 0;
  hr = opened.sms->store()->OpenEntry(
      static_cast<ULONG>(folder_id.size()), AsEntryId(folder_id), nullptr,
      MAPI_MODIFY, &type, opened.folder.unknown_out());
  if (Failed(hr) || !opened.folder || type != MAPI_FOLDER) {
    *status = Unavailable(std::string("the ") + FolderName(which) +
                          " cannot be opened (" + HrText(hr) + ")");
    return nullptr;
  }
  return holder;
}

bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

// The entry identifiers of the messages `opened` holds.
std::optional<std::set<std::string>> FolderEntryIds(const OpenedFolder& opened,
                                                    PhoneFolder which,
                                                    Status* status) {
  ComRef<IMAPITable> contents;
  SizedSPropTagArray<1> columns{1, {PR_ENTRYID}};
  HRESULT hr = opened.folder->GetContentsTable(MAPI_UNICODE, contents.out());
  if (Succeeded(hr) && contents) hr = contents->SetColumns(columns.get(), 0);
  if (Failed(hr) || !contents) {
    *status = Unavailable(std::string("the ") + FolderName(which) +
                          " cannot be listed (" + HrText(hr) + ")");
    return std::nullopt;
  }
  std::set<std::string> ids;
  for (;;) {
    SRowSet* set = nullptr;
    if (Failed(contents->QueryRows(256, 0, &set)) || set == nullptr ||
        set->cRows == 0) {
      opened.sms->free_rows()(set);
      break;
    }
    for (ULONG i = 0; i < set->cRows; ++i) {
      const SRow& row = set->aRow[i];
      if (row.cValues >= 1 && row.lpProps[0].ulPropTag == PR_ENTRYID &&
          row.lpProps[0].Value.bin.lpb != nullptr) {
        ids.emplace(reinterpret_cast<const char*>(row.lpProps[0].Value.bin.lpb),
                    row.lpProps[0].Value.bin.cb);
      }
    }
    opened.sms->free_rows()(set);
  }
  return ids;
}

}  // namespace

PhoneFolder FolderFromSetting(int value) {
  return value == 1 ? PhoneFolder::kSentItems : PhoneFolder::kInbox;
}

std::u16string BodyStart(std::u16string_view body) {
  std::u16string kept;
  size_t units = 0;
  size_t i = 0;
  for (; i < body.size(); ++i) {
    const size_t width = body[i] > 128 ? 2 : 1;
    if (units + width > kBodyStartUnits) break;
    units += width;
    kept.push_back(IsLineBreak(body[i]) ? u' ' : body[i]);
  }
  if (i < body.size() && kept.size() > 2) {
    kept.replace(kept.size() - 2, 2, u"..");
  }
  return kept;
}

std::u16string ItemText(const ImportItem& item,
                        const platform::SystemTime& today) {
  const platform::SystemTime& at = item.delivery_local;
  const bool same_day =
      at.year == today.year && at.month == today.month && at.day == today.day;
  std::u16string out = item.sender;
  out += u' ';
  out += same_day
             ? text::FormatTime(at, text::TimeKind::kTime, 64)
             : text::FormatTime(at, text::TimeKind::kDate, kRowDateChars + 1);
  out += u'\n';
  out += BodyStart(item.body);
  return out;
}

std::optional<ImportItem> ItemFromProps(std::string_view entry_id,
                                        std::span<const SPropValue> props,
                                        PhoneFolder folder) {
  const SPropValue* sender = nullptr;
  const SPropValue* time = nullptr;
  const SPropValue* subject = nullptr;
  for (const SPropValue& p : props) {
    if (p.ulPropTag == PR_SENDER_EMAIL_ADDRESS) sender = &p;
    if (p.ulPropTag == PR_MESSAGE_DELIVERY_TIME) time = &p;
    if (p.ulPropTag == PR_SUBJECT) subject = &p;
  }
  if (sender == nullptr || sender->Value.lpszW == nullptr || time == nullptr ||
      subject == nullptr || subject->Value.lpszW == nullptr) {
    return std::nullopt;
  }
  std::optional<SystemTime> utc = FileTimeToSystemTime(time->Value.ft);
  if (!utc) return std::nullopt;
  std::optional<SystemTime> local = SystemTimeToLocal(*utc);
  if (!local) return std::nullopt;
  ImportItem item;
  item.sender = sender->Value.lpszW;
  item.body = subject->Value.lpszW;
  item.delivery_utc = time->Value.ft;
  item.delivery_local = *local;
  item.entry_id.assign(entry_id);
  item.folder = folder;
  return item;
}

// ---------------------------------------------------------------- listing

struct FolderListing::Session {
  std::unique_ptr<OpenedFolder> opened;
  ComRef<IMAPITable> contents;
};

std::unique_ptr<FolderListing> FolderListing::Open(PhoneFolder folder,
                                                   Status* status) {
  Status local_status;
  if (status == nullptr) status = &local_status;
  std::unique_ptr<OpenedFolder> opened = OpenFolder(folder, status);
  if (!opened) return nullptr;
  auto session = std::make_unique<Session>();
  session->opened = std::move(opened);
  HRESULT hr = session->opened->folder->GetContentsTable(
      MAPI_UNICODE, session->contents.out());
  SizedSPropTagArray<3> columns{
      3, {PR_ENTRYID, PR_MESSAGE_FLAGS, PR_MESSAGE_DELIVERY_TIME}};
  if (Succeeded(hr)) hr = session->contents->SetColumns(columns.get(), 0);
  if (Failed(hr) || !session->contents) {
    *status = Unavailable(std::string("the ") + FolderName(folder) +
                          " cannot be listed (" + HrText(hr) + ")");
    return nullptr;
  }
  std::unique_ptr<FolderListing> listing(new FolderListing());
  listing->session_ = std::move(session);
  listing->folder_ = folder;
  *status = Status::Ok();
  return listing;
}

FolderListing::~FolderListing() = default;

std::vector<ImportItem> FolderListing::Next(size_t rows) {
  std::vector<ImportItem> items;
  if (done_) return items;
  SmsStoreSession& sms = *session_->opened->sms;
  static constexpr SizedSPropTagArray<3> kMessageTags{
      3, {PR_SENDER_EMAIL_ADDRESS, PR_MESSAGE_DELIVERY_TIME, PR_SUBJECT}};
  for (size_t n = 0; n < rows; ++n) {
    SRowSet* set = nullptr;
    if (Failed(session_->contents->QueryRows(1, 0, &set)) || set == nullptr ||
        set->cRows == 0) {
      sms.free_rows()(set);
      done_ = true;
      break;
    }
    const SRow& row = set->aRow[0];
    if (row.cValues < 1 || row.lpProps == nullptr ||
        row.lpProps[0].ulPropTag != PR_ENTRYID ||
        row.lpProps[0].Value.bin.lpb == nullptr) {
      sms.free_rows()(set);
      continue;
    }
    const std::string entry_id(
        reinterpret_cast<const char*>(row.lpProps[0].Value.bin.lpb),
        row.lpProps[0].Value.bin.cb);
    sms.free_rows()(set);

    ComRef<IMessage> message;
    ULONG type = 0;
    if (Failed(sms.store()->OpenEntry(
            static_cast<ULONG>(entry_id.size()), AsEntryId(entry_id), nullptr,
            MAPI_BEST_ACCESS, &type, message.unknown_out())) ||
        !message || type != MAPI_MESSAGE) {
      continue;
    }
    ULONG count = 0;
    SPropValue* props = nullptr;
    // A warning (some property missing) still hands back the values: each
    // one's type says whether it is there.
    if (Succeeded(message->GetProps(kMessageTags.get(), MAPI_UNICODE, &count,
                                    &props)) &&
        props != nullptr) {
      if (std::optional<ImportItem> item = ItemFromProps(
              entry_id, std::span<const SPropValue>(props, count), folder_)) {
        items.push_back(std::move(*item));
      }
    }
    sms.free_buffer()(props);
  }
  if (done_) session_.reset();  // logs off and lets the library go
  return items;
}

std::optional<std::vector<ImportItem>> ListFolder(PhoneFolder folder,
                                                  Status* status) {
  std::unique_ptr<FolderListing> listing = FolderListing::Open(folder, status);
  if (listing == nullptr) return std::nullopt;
  std::vector<ImportItem> all;
  while (!listing->done()) {
    std::vector<ImportItem> some = listing->Next(256);
    for (ImportItem& item : some) all.push_back(std::move(item));
  }
  return all;
}

// ---------------------------------------------------------------- deleting

std::optional<int> DeleteFromPhone(PhoneFolder folder,
                                   std::span<const std::string> entry_ids,
                                   Status* status) {
  Status local_status;
  if (status == nullptr) status = &local_status;
  *status = Status::Ok();
  if (entry_ids.empty()) return 0;
  std::unique_ptr<OpenedFolder> opened = OpenFolder(folder, status);
  if (!opened) return std::nullopt;
  std::optional<std::set<std::string>> before =
      FolderEntryIds(*opened, folder, status);
  if (!before) return std::nullopt;
  std::vector<std::string> bytes(entry_ids.begin(), entry_ids.end());
  std::vector<SBinary> entries;
  entries.reserve(bytes.size());
  for (std::string& id : bytes) {
    entries.push_back(SBinary{static_cast<ULONG>(id.size()),
                              reinterpret_cast<BYTE*>(id.data())});
  }
  ENTRYLIST list{static_cast<ULONG>(entries.size()), entries.data()};
  const HRESULT hr = opened->folder->DeleteMessages(&list, 0, nullptr, 0);
  std::optional<std::set<std::string>> after;
  if (hr != S_OK) {
    // Not all of them went: look at what the folder still holds.
    after = FolderEntryIds(*opened, folder, status);
    if (!after) return std::nullopt;
  }
  int gone = 0;
  for (const std::string& id :
       std::set<std::string>(entry_ids.begin(), entry_ids.end())) {
    if (before->count(id) != 0 && (!after || after->count(id) == 0)) ++gone;
  }
  return gone;
}

// ---------------------------------------------------------------- importing

ImportResult ImportIntoDocument(store::Document& document, store::Node* target,
                                std::span<const ImportItem* const> items,
                                bool delete_after) {
  store::DocumentLock::Holder hold(document.lock());
  ImportResult result;
  std::vector<std::string> filed[2];  // by PhoneFolder
  // Each message is written with its note, which brings it back should the
  // program die before a save; the commit is left to the end, one for all.
  document.file().set_commit_appends(false);
  for (size_t i = items.size(); i-- > 0;) {
    const ImportItem& item = *items[i];
    std::optional<SystemTime> utc = FileTimeToSystemTime(item.delivery_utc);
    Status status;
    std::optional<store::PendingFiling> pending;
    if (utc) {
      pending = document.PersistMessage(target, item.sender, item.body, *utc,
                                        store::MessageKind::kImported, &status);
    } else {
      status = Status(ErrorCode::kInvalidArgument, "no delivery time");
    }
    if (!pending || document.InsertPending(*pending) == nullptr) {
      ++result.not_filed;
      if (result.filing_status.ok()) result.filing_status = status;
      continue;
    }
    ++result.imported;
    filed[item.folder == PhoneFolder::kSentItems ? 1 : 0].push_back(
        item.entry_id);
  }
  document.file().set_commit_appends(true);
  document.MarkModified();
  if (!delete_after || result.imported == 0) return result;

  // The phone's copies go only once the document holds the messages for
  // good: the save commits them with the index.
  result.save_status = document.Save();
  if (!result.save_status.ok()) {
    result.kept_on_phone = result.imported;
    return result;
  }
  for (PhoneFolder folder : {PhoneFolder::kInbox, PhoneFolder::kSentItems}) {
    std::vector<std::string>& ids = filed[static_cast<int>(folder)];
    if (ids.empty()) continue;
    Status status;
    std::optional<int> deleted = DeleteFromPhone(folder, ids, &status);
    if (deleted) {
      result.deleted += *deleted;
    } else if (result.delete_status.ok()) {
      result.delete_status = status;
    }
  }
  return result;
}

}  // namespace import
