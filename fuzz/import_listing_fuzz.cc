// Fuzz target for the Import dialog's listing of the phone's SMS folders.
// Each input fills the phone's message store of a scratch device (made once,
// with the build's cemapi.dll installed) through the device's message-store
// API: records of [folder byte][sender length: 2 bytes][sender units]
// [body length: 2 bytes][body units][delivery time: 8 bytes], up to 16, so
// senders and bodies may be very long and times anything. Both folders are
// then listed through cemapi.dll as the dialog lists them, and what is left
// of the input becomes one message's properties, some of them missing or of
// another type, with the rest as a huge entry identifier. Every listed item
// must hold what the store holds, whole, and its row text must stay within
// its bounds. Any broken invariant aborts with a message.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "device/cemapi/message_store.h"
#include "import/source.h"
#include "platform/device.h"

namespace {

namespace fs = std::filesystem;
using device::cemapi::FolderRole;

void Check(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "import_listing_fuzz: %s\n", what);
  abort();
}

// A scratch device with the build's cemapi.dll, made once per process.
bool MakeDevice() {
  char pattern[] = "/tmp/telvane-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  const fs::path root = fs::path(pattern) / "device";
  setenv("TELVANE_DEVICE", root.c_str(), 1);
  if (!platform::InitialiseDevice().ok()) return false;
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return false;
  self[n] = '\0';
  const fs::path library =
      fs::path(self).parent_path().parent_path() / "lib" / "libcemapi.so";
  std::error_code error;
  fs::create_directories(root / "fs" / "Windows", error);
  fs::copy_file(library, root / "fs" / "Windows" / "cemapi.dll",
                fs::copy_options::overwrite_existing, error);
  return !error && device::cemapi::EnsureMessageStore().ok();
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t left() const { return size_ - at_; }
  uint64_t Number(size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes && at_ < size_; ++i) {
      value |= uint64_t{data_[at_++]} << (8 * i);
    }
    return value;
  }
  std::u16string Units(size_t count) {
    std::u16string units;
    while (count-- > 0 && left() >= 2) {
      units.push_back(static_cast<char16_t>(Number(2)));
    }
    return units;
  }
  std::string Rest() {
    std::string rest(reinterpret_cast<const char*>(data_ + at_), left());
    at_ = size_;
    return rest;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void ClearFolder(FolderRole role) {
  std::optional<device::cemapi::FolderInfo> folder =
      device::cemapi::FindSmsFolder(role);
  std::optional<std::vector<device::cemapi::PhoneMessage>> messages =
      device::cemapi::ListSmsFolder(role);
  if (!folder || !messages) return;
  std::vector<int64_t> ids;
  for (const device::cemapi::PhoneMessage& m : *messages) ids.push_back(m.id);
  (void)device::cemapi::DeleteMessagesIn(folder->id, ids);
}

void CheckItem(const import::ImportItem& item) {
  Check(!item.entry_id.empty(), "an item without its entry identifier");
  const std::u16string start = import::BodyStart(item.body);
  size_t units = 0;
  for (char16_t c : start) {
    units += c > 128 ? 2 : 1;
    Check(c != u'\r' && c != u'\n', "a line break in the body's start");
  }
  Check(units <= import::kBodyStartUnits, "the body's start is too wide");
  const std::u16string text = import::ItemText(item, {2026, 3, 0, 4});
  Check(text.size() >= item.sender.size() + 2, "the row text lost its sender");
  Check(text.compare(0, item.sender.size(), item.sender) == 0,
        "the row text does not start with the sender");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = MakeDevice();
  Check(ready, "no scratch device");
  ClearFolder(FolderRole::kInbox);
  ClearFolder(FolderRole::kSentItems);

  Reader in(data, size);
  std::vector<std::u16string> bodies[2];
  for (int n = 0; n < 16 && in.left() >= 5; ++n) {
    const bool sent = (in.Number(1) & 1) != 0;
    std::u16string sender = in.Units(static_cast<size_t>(in.Number(2)));
    std::u16string body = in.Units(static_cast<size_t>(in.Number(2)));
    const platform::FileTime time = platform::FileTime::FromValue(in.Number(8));
    std::optional<std::string> id =
        sent ? device::cemapi::AddSentSms(sender, body, time)
             : device::cemapi::DeliverIncomingSms(sender, body, time);
    if (!id) continue;
    // The messaging interface hands texts out NUL-terminated.
    bodies[sent ? 1 : 0].push_back(body.substr(0, body.find(u'\0')));
  }

  for (import::PhoneFolder folder :
       {import::PhoneFolder::kInbox, import::PhoneFolder::kSentItems}) {
    platform::Status status;
    std::optional<std::vector<import::ImportItem>> items =
        import::ListFolder(folder, &status);
    Check(items.has_value(), "a folder of the store could not be listed");
    const std::vector<std::u16string>& stored =
        bodies[folder == import::PhoneFolder::kSentItems ? 1 : 0];
    Check(items->size() <= stored.size(), "more items than messages");
    for (const import::ImportItem& item : *items) {
      Check(item.folder == folder, "an item of the other folder");
      bool found = false;
      for (const std::u16string& body : stored) found |= body == item.body;
      Check(found, "a body that was not stored whole");
      CheckItem(item);
    }
  }

  // One message's properties from what is left: the first byte says which
  // are missing or mistyped, the rest is its entry identifier.
  const uint64_t shape = in.Number(1);
  std::u16string sender = u"10086";
  std::u16string body = u"text";
  platform::SPropValue props[3] = {};
  props[0].ulPropTag = platform::PR_SENDER_EMAIL_ADDRESS;
  props[0].Value.lpszW = sender.data();
  props[1].ulPropTag = platform::PR_MESSAGE_DELIVERY_TIME;
  props[1].Value.ft = platform::FileTime::FromValue(in.Number(8));
  props[2].ulPropTag = platform::PR_SUBJECT;
  props[2].Value.lpszW = body.data();
  for (int i = 0; i < 3; ++i) {
    if ((shape >> i) & 1) {
      props[i].ulPropTag = platform::PROP_TAG(
          platform::PT_ERROR, platform::PROP_ID(props[i].ulPropTag));
    }
    if ((shape >> (i + 3)) & 1) props[i].Value.lpszW = nullptr;
  }
  const std::string id = in.Rest();
  std::optional<import::ImportItem> item =
      import::ItemFromProps(id, props, import::PhoneFolder::kInbox);
  if (item) {
    Check(item->entry_id == id, "the entry identifier was not held whole");
    if (!id.empty()) CheckItem(*item);
  }
  return 0;
}
