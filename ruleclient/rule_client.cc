#include "ruleclient/rule_client.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "platform/debug.h"
#include "platform/kernel_objects.h"
#include "platform/mapi.h"
#include "platform/modules.h"
#include "ruleclient/sms_buffer_layout.h"

namespace sms_buffer = ruleclient::sms_buffer;

namespace {

using platform::HRESULT;
using platform::IID;
using platform::ULONG;

// How long ProcessMessage waits for a verdict.
constexpr uint32_t kVerdictWaitMs = 1500;
// How long it waits for the queue's mutex. The main program holds it only
// while it drains the queue; longer means it is stuck, and the messaging
// service must not be stuck with it.
constexpr uint32_t kDataMutexWaitMs = 1500;

// ---------------------------------------------------------------- module state

// The named objects: opened by each rule client's construction, closed by
// its destruction.
platform::SharedMemory buffer;
platform::NamedEvent available_event;
platform::NamedEvent delete_event;
platform::NamedMutex data_mutex;

// The overflow area for the next long body (0 or 1). Guarded by the data
// mutex together with the slots it describes.
uint32_t overflow_selector = 0;

// Serialises ProcessMessage calls of this process (see the header).
std::mutex process_mutex;

// MAPIFreeBuffer of the store's library, looked up on first use. The
// library stays loaded for the life of the process.
platform::MapiFreeBufferFunction FreeBufferFunction() {
  // Kept for the life of the process (never freed, never unloaded).
  static platform::Library* library =
      platform::Library::Load(platform::kMapiLibraryName).release();
  static platform::MapiFreeBufferFunction function =
      library == nullptr ? nullptr
                         : reinterpret_cast<platform::MapiFreeBufferFunction>(
                               library->Symbol(platform::kMapiFreeBufferName));
  return function;
}

uint8_t* BufferBase() {
  if (!buffer.is_open() || buffer.size() < sms_buffer::kBufferSize) {
    return nullptr;
  }
  return static_cast<uint8_t*>(buffer.data());
}

// ---------------------------------------------------------------- helpers

// Frees a property buffer on every path out of a scope.
class PropBuffer {
 public:
  PropBuffer() = default;
  ~PropBuffer() {
    if (props_ != nullptr) {
      if (platform::MapiFreeBufferFunction free = FreeBufferFunction()) {
        free(props_);
      }
    }
  }
  PropBuffer(const PropBuffer&) = delete;
  PropBuffer& operator=(const PropBuffer&) = delete;

  platform::SPropValue** out() { return &props_; }
  ULONG* count() { return &count_; }
  // The single value when it has the type `type`, else nullptr.
  const platform::SPropValue* Value(ULONG type) const {
    if (props_ == nullptr || count_ < 1) return nullptr;
    if (platform::PROP_TYPE(props_[0].ulPropTag) != type) return nullptr;
    return &props_[0];
  }

 private:
  platform::SPropValue* props_ = nullptr;
  ULONG count_ = 0;
};

// Reads one property of `object` into `out`. The result of GetProps, or
// MAPI_E_NOT_FOUND when the value came back missing (PT_ERROR) or of
// another type and `required` is set.
HRESULT ReadProp(platform::IMAPIProp* object, ULONG tag, bool required,
                 PropBuffer* out) {
  platform::SizedSPropTagArray<1> tags{1, {tag}};
  HRESULT hr = object->GetProps(tags.get(), platform::MAPI_UNICODE,
                                out->count(), out->out());
  if (platform::Failed(hr)) return hr;
  if (required && out->Value(platform::PROP_TYPE(tag)) == nullptr) {
    return platform::MAPI_E_NOT_FOUND;
  }
  return hr;
}

// Copies up to `max_units` code units of the NUL-terminated `text` from
// `*text` to `offset`, advancing *text past them; the bytes after the copy
// up to `field_units` are zeroed (so the copy is NUL-terminated when it is
// shorter than the field). Returns the number of units copied.
size_t CopyUnits(uint8_t* base, size_t offset, size_t field_units,
                 size_t max_units, const char16_t** text) {
  size_t n = 0;
  while (n < max_units && (*text)[n] != u'\0') ++n;
  std::memcpy(base + offset, *text, n * sizeof(char16_t));
  std::memset(base + offset + n * sizeof(char16_t), 0,
              (field_units - n) * sizeof(char16_t));
  *text += n;
  return n;
}

// Fills slot `slot` with one message. REQUIRES: the data mutex is held.
void FillSlot(uint8_t* base, int slot, const char16_t* body,
              const char16_t* sender, uint64_t delivery_time) {
  const size_t at = sms_buffer::SlotOffset(slot);
  size_t head =
      CopyUnits(base, at + sms_buffer::kBodyHeadOffset,
                sms_buffer::kBodyHeadUnits, sms_buffer::kBodyHeadUnits, &body);
  if (head == sms_buffer::kBodyHeadUnits) {
    // The rest, possibly empty, goes to the selected overflow area.
    const int area = static_cast<int>(overflow_selector);
    CopyUnits(base, sms_buffer::OverflowAreaOffset(area),
              sms_buffer::kOverflowAreaUnits, sms_buffer::kOverflowMaxUnits,
              &body);
    sms_buffer::StoreU16(base, at + sms_buffer::kOverflowIndexOffset,
                         static_cast<uint16_t>(area + 1));
    overflow_selector =
        (overflow_selector + 1) % sms_buffer::kOverflowAreaCount;
  } else {
    sms_buffer::StoreU16(base, at + sms_buffer::kOverflowIndexOffset,
                         sms_buffer::kNoOverflow);
  }
  CopyUnits(base, at + sms_buffer::kSenderOffset, sms_buffer::kSenderFieldUnits,
            sms_buffer::kSenderMaxUnits, &sender);
  sms_buffer::StoreU64(base, at + sms_buffer::kDeliveryTimeOffset,
                       delivery_time);
}

// What queuing one message did.
enum class Queued {
  kNotQueued,  // no buffer, mutex not had in time, queue full or damaged:
               // nothing was copied
  kAlone,      // queued into an empty queue: a verdict can only be ours
  kBehind,     // queued behind older unread entries
};

Queued QueueMessage(const char16_t* body, const char16_t* sender,
                    uint64_t delivery_time) {
  uint8_t* base = BufferBase();
  if (base == nullptr || !available_event.is_open() || !data_mutex.is_open() ||
      !delete_event.is_open()) {
    return Queued::kNotQueued;
  }
  // Not had in time: nothing is queued and nobody is woken; the caller
  // waits for no verdict and leaves the message in the Inbox.
  platform::WaitResult locked = data_mutex.Wait(kDataMutexWaitMs);
  if (locked != platform::WaitResult::kSignaled &&
      locked != platform::WaitResult::kAbandoned) {
    return Queued::kNotQueued;
  }
  Queued queued = Queued::kNotQueued;
  const int32_t count = sms_buffer::LoadI32(base, sms_buffer::kCountOffset);
  const int32_t slot = sms_buffer::LoadI32(base, sms_buffer::kWriteIndexOffset);
  // A count or write index out of range (a damaged buffer) queues nothing.
  if (count >= 0 && count < sms_buffer::kSlotCount &&
      sms_buffer::IsValidSlot(slot)) {
    // Cleared before the entry becomes visible: the intake can only give
    // a verdict for it after taking the mutex, which we hold.
    delete_event.Reset().IgnoreError();
    sms_buffer::StoreI32(base, sms_buffer::kCountOffset, count + 1);
    sms_buffer::StoreI32(base, sms_buffer::kWriteIndexOffset,
                         (slot + 1) % sms_buffer::kSlotCount);
    FillSlot(base, slot, body, sender, delivery_time);
    queued = count == 0 ? Queued::kAlone : Queued::kBehind;
  }
  data_mutex.Release().IgnoreError();
  available_event.Set().IgnoreError();
  return queued;
}

// ---------------------------------------------------------------- objects

class CMailRuleClient final
    : public platform::ComObject<platform::ComInterface<
          platform::IMailRuleClient, platform::IID_IMailRuleClient>> {
 public:
  CMailRuleClient() {
    bool existed = true;
    std::optional<platform::SharedMemory> opened =
        platform::SharedMemory::CreateOrOpen(sms_buffer::kBufferName,
                                             sms_buffer::kBufferSize, &existed);
    if (opened.has_value()) buffer = std::move(*opened);
    if (uint8_t* base = BufferBase()) {
      if (!existed) sms_buffer::SetReaderAttached(base, false);
      // Discards what an earlier instance queued (plain stores, as at any
      // construction).
      sms_buffer::StoreI32(base, sms_buffer::kWriteIndexOffset, 0);
      sms_buffer::StoreI32(base, sms_buffer::kReadIndexOffset, 0);
      sms_buffer::StoreI32(base, sms_buffer::kCountOffset, 0);
      sms_buffer::StoreI32(base, sms_buffer::kCapacityOffset,
                           sms_buffer::kSlotCount);
    }
    bool unused = false;
    if (auto event = platform::NamedEvent::CreateOrOpen(
            sms_buffer::kAvailableEventName, false, false, &unused)) {
      available_event = std::move(*event);
    }
    if (auto event = platform::NamedEvent::CreateOrOpen(
            sms_buffer::kDeleteEventName, false, false, &unused)) {
      delete_event = std::move(*event);
    }
    if (auto mutex = platform::NamedMutex::CreateOrOpen(
            sms_buffer::kDataMutexName, false, &unused)) {
      data_mutex = std::move(*mutex);
    }
  }

  // Every change of the count goes to the debug log.
  ULONG AddRef() override {
    const ULONG count = ComObject::AddRef();
    platform::DebugPrintf("CMailRuleClient reference is now %d\r\n",
                          static_cast<int32_t>(count));
    return count;
  }

  ULONG Release() override {
    const ULONG count = ComObject::Release();  // deleted at 0
    platform::DebugPrintf("CMailRuleClient reference is now %d\r\n",
                          static_cast<int32_t>(count));
    if (count == 0) platform::DebugPrintf("CMailRuleClient Deleted!\r\n");
    return count;
  }

  HRESULT Initialize(platform::IMsgStore* /*store*/,
                     platform::MRCACCESS* desired_access) override {
    if (desired_access == nullptr) return platform::E_POINTER;
    *desired_access = platform::MRC_ACCESS_WRITE;
    return platform::S_OK;
  }

  HRESULT ProcessMessage(platform::IMsgStore* store, ULONG message_size,
                         platform::LPENTRYID message, ULONG folder_size,
                         platform::LPENTRYID folder, ULONG* event_type,
                         platform::MRCHANDLED* handled) override;

 private:
  ~CMailRuleClient() override {
    buffer.Close();
    available_event.Close();
    data_mutex.Close();
    delete_event.Close();
  }
};

HRESULT CMailRuleClient::ProcessMessage(
    platform::IMsgStore* store, ULONG message_size, platform::LPENTRYID message,
    ULONG folder_size, platform::LPENTRYID folder, ULONG* event_type,
    platform::MRCHANDLED* handled) {
  if (store == nullptr || event_type == nullptr || handled == nullptr) {
    return platform::E_INVALIDARG;
  }
  std::lock_guard<std::mutex> serial(process_mutex);

  // 1. The message.
  platform::ComRef<platform::IMessage> opened;
  ULONG type = 0;
  HRESULT hr = store->OpenEntry(message_size, message, nullptr, 0, &type,
                                opened.unknown_out());
  if (platform::Succeeded(hr) &&
      (opened.get() == nullptr || type != platform::MAPI_MESSAGE)) {
    hr = platform::MAPI_E_INVALID_ENTRYID;
  }
  if (platform::Failed(hr)) {
    platform::DebugPrintf("Unable to get the message!\r\n");
    return hr;
  }

  // 2-4. Its text, sender and delivery time.
  PropBuffer body;
  hr = ReadProp(opened.get(), platform::PR_SUBJECT, true, &body);
  if (platform::Failed(hr)) {
    platform::DebugPrintf("Unable to get the message body!\r\n");
    return hr;
  }
  PropBuffer sender;
  hr = ReadProp(opened.get(), platform::PR_SENDER_EMAIL_ADDRESS, true, &sender);
  if (platform::Failed(hr)) {
    platform::DebugPrintf("Couldn't get the sender's address!\r\n");
    return hr;
  }
  PropBuffer time;
  const HRESULT time_status =
      ReadProp(opened.get(), platform::PR_MESSAGE_DELIVERY_TIME, false, &time);
  // A delivery time that cannot be read is stored as 0.
  uint64_t delivery_time = 0;
  if (const platform::SPropValue* value = time.Value(platform::PT_SYSTIME)) {
    delivery_time = value->Value.ft.value();
  }

  // 5. Queue it.
  const char16_t* text = body.Value(platform::PT_UNICODE)->Value.lpszW;
  const char16_t* from = sender.Value(platform::PT_UNICODE)->Value.lpszW;
  const Queued queued =
      QueueMessage(text != nullptr ? text : u"", from != nullptr ? from : u"",
                   delivery_time);

  // 6-7. Wait for a verdict only when it can be ours.
  uint8_t* base = BufferBase();
  if (queued != Queued::kAlone || base == nullptr ||
      !sms_buffer::ReaderAttached(base) ||
      delete_event.Wait(kVerdictWaitMs) != platform::WaitResult::kSignaled) {
    *handled = platform::MRC_NOT_HANDLED;
    return time_status;
  }

  // 8. Delete it.
  platform::ComRef<platform::IMAPIFolder> inbox;
  type = 0;
  hr = store->OpenEntry(folder_size, folder, nullptr, platform::MAPI_MODIFY,
                        &type, inbox.unknown_out());
  if (platform::Succeeded(hr) &&
      (inbox.get() == nullptr || type != platform::MAPI_FOLDER)) {
    hr = platform::MAPI_E_INVALID_ENTRYID;
  }
  if (platform::Failed(hr)) {
    platform::DebugPrintf("Couldn't get the folder!\r\n");
    return hr;
  }
  platform::SBinary entry{message_size, reinterpret_cast<uint8_t*>(message)};
  platform::ENTRYLIST list{1, &entry};
  hr = inbox.get()->DeleteMessages(&list, 0, nullptr, 0);
  if (platform::Failed(hr)) {
    platform::DebugPrintf("Couldn't delete messages!\r\n");
    return hr;
  }
  *event_type = platform::fnevObjectDeleted;
  *handled = platform::MRC_HANDLED_DONTCONTINUE;
  return hr;
}

// The class factory; its count goes to the debug log as the client's does.
class CFactory final : public platform::ComClassFactory<CMailRuleClient> {
 public:
  ULONG AddRef() override {
    const ULONG count = ComClassFactory::AddRef();
    platform::DebugPrintf("Factory Reference is now %d\r\n",
                          static_cast<int32_t>(count));
    return count;
  }

  ULONG Release() override {
    const ULONG count = ComClassFactory::Release();  // deleted at 0
    platform::DebugPrintf("Factory Reference is now %d\r\n",
                          static_cast<int32_t>(count));
    if (count == 0) platform::DebugPrintf("CFactory Deleted!\r\n");
    return count;
  }
};

}  // namespace

extern "C" platform::HRESULT DllGetClassObject(const platform::CLSID& clsid,
                                               const platform::IID& iid,
                                               void** object) {
  return platform::GetClassObject<CFactory>(platform::CLSID_RuleClient, clsid,
                                            iid, object);
}

extern "C" platform::HRESULT DllCanUnloadNow() {
  return CFactory::Locked() ? platform::S_FALSE : platform::S_OK;
}
