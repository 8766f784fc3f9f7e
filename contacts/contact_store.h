// ContactStore: the program's own copy of the phone's contacts (and of its
// SIM card's phonebook when the phone has a cellular line), the category
// names they carry, and the send groups.
//
// Load reads everything again through the platform: the contacts object
// model's application object (COM class CLSID_PimApplication, see
// platform/pim.h), its default contacts folder and every item by index
// 1..count; then, when "cellcore.dll" reports a line named "Cellular Line"
// whose general information carries a serial number, the category "SIM"
// and every readable entry of the SIM phonebook's index range, each as a
// contact with the entry's text as name, its address as mobile number and
// "SIM" as its only category. Categories are split at ","; the pieces after
// the first lose one leading space; empty pieces are dropped; each name is
// kept once, in order of first appearance (exact comparison).
//
// A failing part (no contacts class registered, no cellcore.dll) leaves
// that part out; Load never fails as a whole.
//
// Threads: Load clears the store and reads it again, publishing what it
// has read so far every kPublishEvery contacts (a copy swapped in under a
// lock), so contacts() may be called from any thread at any time and gives
// a consistent snapshot: what is there, growing while a load runs, whole
// when it has finished. StartLoad runs Load on a background thread; Stop
// asks a running load to end after the contact in hand and waits for it
// (what was read stays); the destructor stops. The send groups are not
// locked: they belong to the user-interface thread.
#ifndef TELVANE_CONTACTS_CONTACT_STORE_H_
#define TELVANE_CONTACTS_CONTACT_STORE_H_

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "contacts/send_groups.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace contacts {

// Indices of ContactRecord::numbers.
inline constexpr int kMobileNumber = 0;
inline constexpr int kHomeNumber = 1;
inline constexpr int kWorkNumber = 2;
inline constexpr int kNumberCount = 3;
// The labels the picker shows beside each number.
inline constexpr std::array<std::u16string_view, kNumberCount> kNumberLabels = {
    u"M", u"H", u"W"};
inline constexpr std::u16string_view kSimCategory = u"SIM";

struct ContactRecord {
  std::vector<size_t> categories;  // indices into ContactData::categories
  std::u16string name;             // listed, sorted, found and photo name
  // Mobile, home, work; none when the phone's field was empty.
  std::array<std::optional<std::u16string>, kNumberCount> numbers;

  bool HasNumber() const;
  // The first number present (mobile, home, work); -1 when none.
  int FirstNumber() const;
  // The next number present after `current`, wrapping; `current` itself
  // when it is the only one (or -1 when there is none).
  int NextNumber(int current) const;
};

struct ContactData {
  std::vector<ContactRecord> records;      // in reading order
  std::vector<std::u16string> categories;  // each once, first appearance

  // The index of a category name (exact comparison), adding it when new.
  size_t InternCategory(std::u16string_view name);
  // Splits a categories text at "," (one space skipped at the start of
  // each piece after the first) and interns every non-empty piece; the
  // indices in order, each once.
  std::vector<size_t> InternCategories(std::u16string_view text);
};

// What a load found, for diagnostics and tools.
struct LoadReport {
  bool contacts_read = false;  // the contacts object model answered
  bool cellular_line = false;  // a serial number was reported
  int contacts = 0;
  int sim_entries = 0;
};

// What a load has read so far goes out this often (contacts read).
inline constexpr int kPublishEvery = 256;

// Reads the phone's contacts and SIM phonebook as described above.
// `progress` (optional) is called with the data read so far every
// kPublishEvery records; `stop` (optional) is polled between records and
// ends the reading early when it turns true.
ContactData ReadPhoneContacts(
    LoadReport* report = nullptr,
    const std::function<void(const ContactData&)>& progress = nullptr,
    const std::atomic<bool>* stop = nullptr);

class ContactStore {
 public:
  ContactStore();
  ~ContactStore();  // stops a background load
  ContactStore(const ContactStore&) = delete;
  ContactStore& operator=(const ContactStore&) = delete;

  // Clears the store and reads it again on the calling thread (after
  // stopping a background load).
  void Load() EXCLUDES(mutex_);
  // Runs Load on a background thread (after waiting for a previous one).
  void StartLoad();
  // Waits until a background load has finished.
  void WaitForLoad();
  // Asks a background load to end soon and waits for it; what it read so
  // far stays. The store can be loaded again afterwards.
  void Stop();
  // Whether a load is running (on any thread).
  bool loading() const { return loading_.load(); }

  // The current snapshot; never null.
  std::shared_ptr<const ContactData> contacts() const EXCLUDES(mutex_);
  LoadReport last_report() const EXCLUDES(mutex_);

  // The send groups (loaded from the group file by their own Load).
  SendGroups& groups() { return groups_; }
  const SendGroups& groups() const { return groups_; }

 private:
  void ReadAll() EXCLUDES(mutex_);

  mutable platform::Mutex mutex_;
  std::shared_ptr<const ContactData> data_ GUARDED_BY(mutex_);
  LoadReport report_ GUARDED_BY(mutex_);
  std::thread loader_;  // started and joined on the owner's thread
  std::atomic<bool> stop_{false};
  std::atomic<bool> loading_{false};
  SendGroups groups_;
};

}  // namespace contacts

#endif  // TELVANE_CONTACTS_CONTACT_STORE_H_
