// cemapi.dll: the phone's message store offered through the messaging
// interface of platform/mapi.h, over the store of message_store.h.
//
// Objects hold the rows they were opened on; tables are snapshots. Every
// buffer handed out is one malloc block (MAPIFreeBuffer frees it); a row set
// is a block of its own with one block per row (FreeProws).
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "device/cemapi/message_store.h"
#include "platform/mapi.h"

namespace {

using device::cemapi::EntryKind;
using device::cemapi::EntryRef;
using device::cemapi::FolderInfo;
using device::cemapi::FolderRole;
using device::cemapi::PhoneMessage;
using device::cemapi::StoreInfo;
using platform::BOOKMARK;
using platform::ComInterface;
using platform::ComObject;
using platform::ENTRYID;
using platform::ENTRYLIST;
using platform::FileTime;
using platform::HRESULT;
using platform::IID;
using platform::IMAPIContainer;
using platform::IMAPIFolder;
using platform::IMAPIProp;
using platform::IMAPISession;
using platform::IMAPITable;
using platform::IMessage;
using platform::IMsgStore;
using platform::IUnknown;
using platform::LONG;
using platform::SPropTagArray;
using platform::SPropValue;
using platform::SRow;
using platform::SRowSet;
using platform::ULONG;

namespace mapi = platform;  // the constants read better qualified

std::atomic<int> g_initialised{0};

// ---------------------------------------------------------------- values

// One property value before it is laid out in a caller's buffer.
struct Prop {
  ULONG tag = 0;
  LONG number = 0;      // PT_LONG, PT_ERROR
  std::u16string text;  // PT_UNICODE
  std::string bytes;    // PT_BINARY
  FileTime time;        // PT_SYSTIME
};

Prop Long(ULONG tag, LONG value) {
  Prop p;
  p.tag = tag;
  p.number = value;
  return p;
}
Prop Text(ULONG tag, std::u16string value) {
  Prop p;
  p.tag = tag;
  p.text = std::move(value);
  return p;
}
Prop Binary(ULONG tag, std::string value) {
  Prop p;
  p.tag = tag;
  p.bytes = std::move(value);
  return p;
}
Prop Time(ULONG tag, FileTime value) {
  Prop p;
  p.tag = tag;
  p.time = value;
  return p;
}
Prop Error(ULONG tag, HRESULT error) {
  return Long(mapi::PROP_TAG(mapi::PT_ERROR, mapi::PROP_ID(tag)), error);
}

std::string EntryIdOf(EntryKind kind, int64_t row) {
  return device::cemapi::EncodeEntryId({kind, row});
}

std::vector<Prop> MessageProps(const PhoneMessage& m) {
  return {
      Binary(mapi::PR_ENTRYID, EntryIdOf(EntryKind::kMessage, m.id)),
      Text(mapi::PR_SUBJECT, m.text),
      Text(mapi::PR_SENDER_EMAIL_ADDRESS, m.address),
      Time(mapi::PR_MESSAGE_DELIVERY_TIME, m.delivery_time),
      Long(mapi::PR_MESSAGE_FLAGS, static_cast<LONG>(m.flags)),
      Binary(mapi::PR_PARENT_ENTRYID, EntryIdOf(EntryKind::kFolder, m.folder))};
}

// The values of `tags` (all of `props` when null): a property is matched
// by identifier; a type other than its own or PT_UNSPECIFIED is an error.
std::vector<Prop> Select(const std::vector<Prop>& props,
                         const SPropTagArray* tags, bool* errors) {
  *errors = false;
  if (tags == nullptr) return props;
  std::vector<Prop> out;
  out.reserve(tags->cValues);
  for (ULONG i = 0; i < tags->cValues; ++i) {
    ULONG tag = tags->aulPropTag[i];
    const Prop* found = nullptr;
    for (const Prop& p : props) {
      if (mapi::PROP_ID(p.tag) == mapi::PROP_ID(tag)) found = &p;
    }
    if (found == nullptr) {
      out.push_back(Error(tag, mapi::MAPI_E_NOT_FOUND));
      *errors = true;
    } else if (mapi::PROP_TYPE(tag) != mapi::PT_UNSPECIFIED &&
               mapi::PROP_TYPE(tag) != mapi::PROP_TYPE(found->tag)) {
      out.push_back(Error(tag, mapi::MAPI_E_INVALID_TYPE));
      *errors = true;
    } else {
      out.push_back(*found);
    }
  }
  return out;
}

size_t Align8(size_t n) { return (n + 7) & ~size_t{7}; }

// Lays `props` out in one malloc block: the SPropValue array, then each
// string and binary value. nullptr when out of memory.
SPropValue* LayOut(const std::vector<Prop>& props) {
  size_t size = Align8(sizeof(SPropValue) * (props.empty() ? 1 : props.size()));
  for (const Prop& p : props) {
    switch (mapi::PROP_TYPE(p.tag)) {
      case mapi::PT_UNICODE:
        size += Align8((p.text.size() + 1) * sizeof(char16_t));
        break;
      case mapi::PT_BINARY:
        size += Align8(p.bytes.size() + 1);
        break;
      default:
        break;
    }
  }
  char* block = static_cast<char*>(std::calloc(1, size));
  if (block == nullptr) return nullptr;
  auto* values = reinterpret_cast<SPropValue*>(block);
  char* data =
      block + Align8(sizeof(SPropValue) * (props.empty() ? 1 : props.size()));
  for (size_t i = 0; i < props.size(); ++i) {
    const Prop& p = props[i];
    SPropValue& v = values[i];
    v.ulPropTag = p.tag;
    switch (mapi::PROP_TYPE(p.tag)) {
      case mapi::PT_UNICODE: {
        auto* text = reinterpret_cast<char16_t*>(data);
        std::memcpy(text, p.text.data(), p.text.size() * sizeof(char16_t));
        text[p.text.size()] = 0;
        v.Value.lpszW = text;
        data += Align8((p.text.size() + 1) * sizeof(char16_t));
        break;
      }
      case mapi::PT_BINARY:
        std::memcpy(data, p.bytes.data(), p.bytes.size());
        v.Value.bin.cb = static_cast<ULONG>(p.bytes.size());
        v.Value.bin.lpb = reinterpret_cast<uint8_t*>(data);
        data += Align8(p.bytes.size() + 1);
        break;
      case mapi::PT_SYSTIME:
        v.Value.ft = p.time;
        break;
      case mapi::PT_ERROR:
        v.Value.err = p.number;
        break;
      default:
        v.Value.l = p.number;
        break;
    }
  }
  return values;
}

HRESULT ReturnProps(const std::vector<Prop>& all, const SPropTagArray* tags,
                    ULONG* count, SPropValue** props) {
  if (count == nullptr || props == nullptr)
    return mapi::MAPI_E_INVALID_PARAMETER;
  *count = 0;
  *props = nullptr;
  if (tags != nullptr && tags->cValues == 0) {
    return mapi::MAPI_E_INVALID_PARAMETER;
  }
  bool errors = false;
  std::vector<Prop> chosen = Select(all, tags, &errors);
  SPropValue* block = LayOut(chosen);
  if (block == nullptr) return mapi::MAPI_E_NOT_ENOUGH_MEMORY;
  *count = static_cast<ULONG>(chosen.size());
  *props = block;
  return errors ? mapi::MAPI_W_ERRORS_RETURNED : mapi::S_OK;
}

// The bytes of an identifier the caller passed; nullopt when unusable.
std::optional<EntryRef> Decode(ULONG size, const ENTRYID* id) {
  if (id == nullptr || size == 0 || size > 4096) return std::nullopt;
  return device::cemapi::DecodeEntryId(
      std::string_view(reinterpret_cast<const char*>(id), size));
}

HRESULT StoreError(const platform::Status& status) {
  return status.code() == platform::ErrorCode::kNotFound
             ? mapi::MAPI_E_NOT_FOUND
             : mapi::MAPI_E_CALL_FAILED;
}

// ---------------------------------------------------------------- objects

void FreeRowSet(SRowSet* rows) {
  if (rows == nullptr) return;
  for (ULONG i = 0; i < rows->cRows; ++i) std::free(rows->aRow[i].lpProps);
  std::free(rows);
}

class Table final
    : public ComObject<ComInterface<IMAPITable, mapi::IID_IMAPITable>> {
 public:
  Table(std::vector<std::vector<Prop>> rows, std::vector<ULONG> columns)
      : rows_(std::move(rows)), columns_(std::move(columns)) {}

  HRESULT SetColumns(const SPropTagArray* columns, ULONG) override {
    if (columns == nullptr || columns->cValues == 0) {
      return mapi::MAPI_E_INVALID_PARAMETER;
    }
    columns_.assign(columns->aulPropTag,
                    columns->aulPropTag + columns->cValues);
    return mapi::S_OK;
  }
  HRESULT GetRowCount(ULONG, ULONG* count) override {
    if (count == nullptr) return mapi::MAPI_E_INVALID_PARAMETER;
    *count = static_cast<ULONG>(rows_.size());
    return mapi::S_OK;
  }
  HRESULT SeekRow(BOOKMARK origin, LONG rows, LONG* rows_sought) override {
    int64_t start = 0;
    if (origin == mapi::BOOKMARK_CURRENT) {
      start = static_cast<int64_t>(cursor_);
    } else if (origin == mapi::BOOKMARK_END) {
      start = static_cast<int64_t>(rows_.size());
    } else if (origin != mapi::BOOKMARK_BEGINNING) {
      return mapi::MAPI_E_INVALID_PARAMETER;
    }
    int64_t target = start + rows;
    if (target < 0) target = 0;
    if (target > static_cast<int64_t>(rows_.size())) {
      target = static_cast<int64_t>(rows_.size());
    }
    cursor_ = static_cast<size_t>(target);
    if (rows_sought != nullptr)
      *rows_sought = static_cast<LONG>(target - start);
    return mapi::S_OK;
  }
  HRESULT QueryRows(LONG row_count, ULONG flags, SRowSet** rows) override {
    if (rows == nullptr) return mapi::MAPI_E_INVALID_PARAMETER;
    *rows = nullptr;
    if (row_count <= 0) return mapi::MAPI_E_INVALID_PARAMETER;
    size_t n = std::min(static_cast<size_t>(row_count), rows_.size() - cursor_);
    size_t size = offsetof(SRowSet, aRow) + sizeof(SRow) * (n == 0 ? 1 : n);
    auto* set = static_cast<SRowSet*>(std::calloc(1, size));
    if (set == nullptr) return mapi::MAPI_E_NOT_ENOUGH_MEMORY;
    SizedColumns columns(columns_);
    for (size_t i = 0; i < n; ++i) {
      bool errors = false;
      std::vector<Prop> values =
          Select(rows_[cursor_ + i], columns.get(), &errors);
      SPropValue* props = LayOut(values);
      if (props == nullptr) {
        set->cRows = static_cast<ULONG>(i);
        FreeRowSet(set);
        return mapi::MAPI_E_NOT_ENOUGH_MEMORY;
      }
      set->aRow[i].cValues = static_cast<ULONG>(values.size());
      set->aRow[i].lpProps = props;
    }
    set->cRows = static_cast<ULONG>(n);
    if ((flags & mapi::TBL_NOADVANCE) == 0) cursor_ += n;
    *rows = set;
    return mapi::S_OK;
  }

 private:
  // The columns as an SPropTagArray.
  class SizedColumns {
   public:
    explicit SizedColumns(const std::vector<ULONG>& tags)
        : words_(tags.size() + 1) {
      words_[0] = static_cast<ULONG>(tags.size());
      std::copy(tags.begin(), tags.end(), words_.begin() + 1);
    }
    const SPropTagArray* get() const {
      return reinterpret_cast<const SPropTagArray*>(words_.data());
    }

   private:
    std::vector<ULONG> words_;
  };

  std::vector<std::vector<Prop>> rows_;
  std::vector<ULONG> columns_;
  size_t cursor_ = 0;
};

class Message final
    : public ComObject<
          ComInterface<IMessage, mapi::IID_IMessage, mapi::IID_IMAPIProp>> {
 public:
  explicit Message(PhoneMessage message) : message_(std::move(message)) {}
  HRESULT GetProps(const SPropTagArray* tags, ULONG, ULONG* count,
                   SPropValue** props) override {
    return ReturnProps(MessageProps(message_), tags, count, props);
  }

 private:
  PhoneMessage message_;
};

class Folder final
    : public ComObject<
          ComInterface<IMAPIFolder, mapi::IID_IMAPIFolder,
                       mapi::IID_IMAPIContainer, mapi::IID_IMAPIProp>> {
 public:
  explicit Folder(FolderInfo folder) : folder_(std::move(folder)) {}
  HRESULT GetProps(const SPropTagArray* tags, ULONG, ULONG* count,
                   SPropValue** props) override {
    std::vector<Prop> all = {
        Binary(mapi::PR_ENTRYID, EntryIdOf(EntryKind::kFolder, folder_.id)),
        Text(mapi::PR_DISPLAY_NAME, folder_.name)};
    if (folder_.parent != 0) {
      all.push_back(Binary(mapi::PR_PARENT_ENTRYID,
                           EntryIdOf(EntryKind::kFolder, folder_.parent)));
    }
    if (std::optional<int64_t> n = device::cemapi::CountMessages(folder_.id)) {
      all.push_back(Long(mapi::PR_CONTENT_COUNT, static_cast<LONG>(*n)));
    }
    return ReturnProps(all, tags, count, props);
  }
  HRESULT GetContentsTable(ULONG, IMAPITable** table) override {
    if (table == nullptr) return mapi::MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    platform::Status status;
    std::optional<std::vector<PhoneMessage>> messages =
        device::cemapi::ListMessages(folder_.id, &status);
    if (!messages) return StoreError(status);
    std::vector<std::vector<Prop>> rows;
    rows.reserve(messages->size());
    for (const PhoneMessage& m : *messages) rows.push_back(MessageProps(m));
    *table = new (std::nothrow) Table(
        std::move(rows),
        {mapi::PR_ENTRYID, mapi::PR_SUBJECT, mapi::PR_SENDER_EMAIL_ADDRESS,
         mapi::PR_MESSAGE_DELIVERY_TIME, mapi::PR_MESSAGE_FLAGS});
    return *table == nullptr ? mapi::MAPI_E_NOT_ENOUGH_MEMORY : mapi::S_OK;
  }
  HRESULT DeleteMessages(const ENTRYLIST* messages, ULONG, void* progress,
                         ULONG) override {
    if (messages == nullptr || progress != nullptr ||
        (messages->cValues > 0 && messages->lpbin == nullptr)) {
      return mapi::MAPI_E_INVALID_PARAMETER;
    }
    if (messages->cValues == 0) return mapi::S_OK;
    std::vector<int64_t> ids;
    for (ULONG i = 0; i < messages->cValues; ++i) {
      std::optional<EntryRef> ref =
          Decode(messages->lpbin[i].cb,
                 reinterpret_cast<const ENTRYID*>(messages->lpbin[i].lpb));
      if (ref && ref->kind == EntryKind::kMessage) ids.push_back(ref->row);
    }
    platform::Status status;
    std::optional<int> deleted =
        device::cemapi::DeleteMessagesIn(folder_.id, ids, &status);
    if (!deleted) return mapi::MAPI_E_CALL_FAILED;
    if (*deleted == static_cast<int>(messages->cValues)) return mapi::S_OK;
    return *deleted == 0 ? mapi::MAPI_E_NOT_FOUND
                         : mapi::MAPI_W_PARTIAL_COMPLETION;
  }

 private:
  FolderInfo folder_;
};

// Opens a folder or message by reference, checking that it belongs to
// `store_id` (0: any store).
HRESULT OpenObject(const EntryRef& ref, int64_t store_id, const IID* iid,
                   ULONG* object_type, IUnknown** object);

class Store final
    : public ComObject<
          ComInterface<IMsgStore, mapi::IID_IMsgStore, mapi::IID_IMAPIProp>> {
 public:
  explicit Store(StoreInfo store) : store_(std::move(store)) {}
  HRESULT GetProps(const SPropTagArray* tags, ULONG, ULONG* count,
                   SPropValue** props) override {
    std::vector<Prop> all = {
        Binary(mapi::PR_ENTRYID, EntryIdOf(EntryKind::kStore, store_.id)),
        Text(mapi::PR_DISPLAY_NAME, store_.name)};
    struct {
      FolderRole role;
      ULONG tag;
    } const folders[] = {
        {FolderRole::kRoot, mapi::PR_IPM_SUBTREE_ENTRYID},
        {FolderRole::kSentItems, mapi::PR_IPM_SENTMAIL_ENTRYID},
        {FolderRole::kInbox, mapi::PR_CE_IPM_INBOX_ENTRYID},
    };
    for (const auto& f : folders) {
      std::optional<FolderInfo> folder = device::cemapi::FindSmsFolder(f.role);
      if (folder && folder->store == store_.id) {
        all.push_back(Binary(f.tag, EntryIdOf(EntryKind::kFolder, folder->id)));
      }
    }
    return ReturnProps(all, tags, count, props);
  }
  HRESULT OpenEntry(ULONG size, const ENTRYID* id, const IID* iid, ULONG,
                    ULONG* object_type, IUnknown** object) override {
    if (object == nullptr) return mapi::MAPI_E_INVALID_PARAMETER;
    *object = nullptr;
    EntryRef ref;
    if (id == nullptr || size == 0) {
      std::optional<FolderInfo> root =
          device::cemapi::FindSmsFolder(FolderRole::kRoot);
      if (!root || root->store != store_.id) return mapi::MAPI_E_NOT_FOUND;
      ref = {EntryKind::kFolder, root->id};
    } else {
      std::optional<EntryRef> decoded = Decode(size, id);
      if (!decoded || decoded->kind == EntryKind::kStore) {
        return mapi::MAPI_E_INVALID_ENTRYID;
      }
      ref = *decoded;
    }
    return OpenObject(ref, store_.id, iid, object_type, object);
  }

 private:
  StoreInfo store_;
};

HRESULT OpenObject(const EntryRef& ref, int64_t store_id, const IID* iid,
                   ULONG* object_type, IUnknown** object) {
  *object = nullptr;
  platform::Status status;
  IUnknown* made = nullptr;
  ULONG type = 0;
  IID own{};
  switch (ref.kind) {
    case EntryKind::kStore: {
      std::optional<StoreInfo> store =
          device::cemapi::FindStore(ref.row, &status);
      if (!store) return StoreError(status);
      made = new (std::nothrow) Store(std::move(*store));
      type = mapi::MAPI_STORE;
      own = mapi::IID_IMsgStore;
      break;
    }
    case EntryKind::kFolder: {
      std::optional<FolderInfo> folder =
          device::cemapi::FindFolder(ref.row, &status);
      if (!folder) return StoreError(status);
      if (store_id != 0 && folder->store != store_id) {
        return mapi::MAPI_E_INVALID_ENTRYID;
      }
      made = static_cast<IMAPIFolder*>(new (std::nothrow)
                                           Folder(std::move(*folder)));
      type = mapi::MAPI_FOLDER;
      own = mapi::IID_IMAPIFolder;
      break;
    }
    case EntryKind::kMessage: {
      std::optional<PhoneMessage> message =
          device::cemapi::FindMessage(ref.row, &status);
      if (!message) return StoreError(status);
      if (store_id != 0) {
        std::optional<FolderInfo> folder =
            device::cemapi::FindFolder(message->folder);
        if (!folder || folder->store != store_id) {
          return mapi::MAPI_E_INVALID_ENTRYID;
        }
      }
      made = new (std::nothrow) Message(std::move(*message));
      type = mapi::MAPI_MESSAGE;
      own = mapi::IID_IMessage;
      break;
    }
  }
  if (made == nullptr) return mapi::MAPI_E_NOT_ENOUGH_MEMORY;
  HRESULT hr = made->QueryInterface(iid != nullptr ? *iid : own,
                                    reinterpret_cast<void**>(object));
  made->Release();
  if (mapi::Failed(hr)) return mapi::MAPI_E_INTERFACE_NOT_SUPPORTED;
  if (object_type != nullptr) *object_type = type;
  return mapi::S_OK;
}

class Session final
    : public ComObject<ComInterface<IMAPISession, mapi::IID_IMAPISession>> {
 public:
  HRESULT GetMsgStoresTable(ULONG, IMAPITable** table) override {
    if (table == nullptr) return mapi::MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    if (ended_) return mapi::MAPI_E_END_OF_SESSION;
    platform::Status status;
    std::optional<std::vector<StoreInfo>> stores =
        device::cemapi::ListStores(&status);
    if (!stores) return StoreError(status);
    std::vector<std::vector<Prop>> rows;
    for (const StoreInfo& s : *stores) {
      rows.push_back(
          {Binary(mapi::PR_ENTRYID, EntryIdOf(EntryKind::kStore, s.id)),
           Text(mapi::PR_DISPLAY_NAME, s.name)});
    }
    *table = new (std::nothrow)
        Table(std::move(rows), {mapi::PR_ENTRYID, mapi::PR_DISPLAY_NAME});
    return *table == nullptr ? mapi::MAPI_E_NOT_ENOUGH_MEMORY : mapi::S_OK;
  }
  HRESULT OpenMsgStore(ULONG, ULONG size, const ENTRYID* id, const IID* iid,
                       ULONG, IMsgStore** store) override {
    if (store == nullptr) return mapi::MAPI_E_INVALID_PARAMETER;
    *store = nullptr;
    if (ended_) return mapi::MAPI_E_END_OF_SESSION;
    std::optional<EntryRef> ref = Decode(size, id);
    if (!ref || ref->kind != EntryKind::kStore) {
      return mapi::MAPI_E_INVALID_ENTRYID;
    }
    return OpenObject(*ref, 0, iid != nullptr ? iid : &mapi::IID_IMsgStore,
                      nullptr, reinterpret_cast<IUnknown**>(store));
  }
  HRESULT OpenEntry(ULONG size, const ENTRYID* id, const IID* iid, ULONG,
                    ULONG* object_type, IUnknown** object) override {
    if (object == nullptr) return mapi::MAPI_E_INVALID_PARAMETER;
    *object = nullptr;
    if (ended_) return mapi::MAPI_E_END_OF_SESSION;
    std::optional<EntryRef> ref = Decode(size, id);
    if (!ref) return mapi::MAPI_E_INVALID_ENTRYID;
    return OpenObject(*ref, 0, iid, object_type, object);
  }
  HRESULT Logoff(ULONG, ULONG, ULONG) override {
    ended_ = true;
    return mapi::S_OK;
  }

 private:
  std::atomic<bool> ended_{false};
};

}  // namespace

// ---------------------------------------------------------------- exports

#define CEMAPI_EXPORT extern "C" __attribute__((visibility("default")))

CEMAPI_EXPORT HRESULT MAPIInitialize(void*) {
  platform::Status status = device::cemapi::EnsureMessageStore();
  if (!status.ok()) return mapi::MAPI_E_CALL_FAILED;
  ++g_initialised;
  return mapi::S_OK;
}

CEMAPI_EXPORT void MAPIUninitialize() {
  int now = g_initialised.load();
  while (now > 0 && !g_initialised.compare_exchange_weak(now, now - 1)) {
  }
}

CEMAPI_EXPORT HRESULT MAPILogonEx(ULONG, char16_t*, char16_t*, ULONG,
                                  IMAPISession** session) {
  if (session == nullptr) return mapi::MAPI_E_INVALID_PARAMETER;
  *session = nullptr;
  if (g_initialised.load() <= 0) return mapi::MAPI_E_NOT_INITIALIZED;
  *session = new (std::nothrow) Session();
  return *session == nullptr ? mapi::MAPI_E_NOT_ENOUGH_MEMORY : mapi::S_OK;
}

CEMAPI_EXPORT ULONG MAPIFreeBuffer(void* buffer) {
  std::free(buffer);
  return 0;
}

CEMAPI_EXPORT void FreeProws(SRowSet* rows) { FreeRowSet(rows); }
