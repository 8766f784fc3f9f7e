#include "contacts/contact_store.h"

#include <algorithm>
#include <memory>

#include "platform/com.h"
#include "platform/debug.h"
#include "platform/modules.h"
#include "platform/pim.h"
#include "platform/telephony.h"

namespace contacts {
namespace {

using platform::HRESULT;

template <typename T>
using ComPtr = platform::ComRef<T>;

std::optional<std::u16string> NonEmpty(std::u16string_view text) {
  if (text.empty()) return std::nullopt;
  return std::u16string(text);
}

// Publishes what was read every kPublishEvery records and tells when to
// stop.
struct Reading {
  const std::function<void(const ContactData&)>* progress;
  const std::atomic<bool>* stop;
  int since_published = 0;

  bool Stopped() const { return stop != nullptr && stop->load(); }
  void Added(const ContactData& data) {
    if (++since_published < kPublishEvery) return;
    since_published = 0;
    if (*progress) (*progress)(data);
  }
};

// Steps 1-3 and 5: every item of the default contacts folder.
bool ReadContacts(ContactData* data, LoadReport* report, Reading* reading) {
  ComPtr<platform::IPimApplication> app;
  HRESULT hr = platform::CreateComInstance(
      platform::CLSID_PimApplication, nullptr, platform::IID_IPimApplication,
      app.void_out());
  if (platform::Failed(hr) || app.get() == nullptr) {
    platform::DebugOutput("contacts: no contacts application object");
    return false;
  }
  if (platform::Failed(app->Logon(0))) return false;
  {
    ComPtr<platform::IPimFolder> folder;
    ComPtr<platform::IPimItemCollection> items;
    int count = 0;
    if (platform::Succeeded(app->GetDefaultFolder(platform::kPimFolderContacts,
                                                  folder.out())) &&
        folder.get() != nullptr &&
        platform::Succeeded(folder->get_Items(items.out())) &&
        items.get() != nullptr &&
        platform::Succeeded(items->get_Count(&count))) {
      for (int i = 1; i <= count && !reading->Stopped(); ++i) {
        ComPtr<platform::IUnknown> item;
        ComPtr<platform::IPimContact> contact;
        if (platform::Failed(items->Item(i, item.out())) ||
            item.get() == nullptr ||
            platform::Failed(item->QueryInterface(platform::IID_IPimContact,
                                                  contact.void_out())) ||
            contact.get() == nullptr)
          continue;
        ContactRecord record;
        platform::PimStringHolder text;
        if (platform::Succeeded(contact->get_Categories(text.out())))
          record.categories = data->InternCategories(text.view());
        if (platform::Succeeded(contact->get_FileAs(text.out())))
          record.name = text.view();
        if (platform::Succeeded(contact->get_MobileTelephoneNumber(text.out())))
          record.numbers[kMobileNumber] = NonEmpty(text.view());
        if (platform::Succeeded(contact->get_HomeTelephoneNumber(text.out())))
          record.numbers[kHomeNumber] = NonEmpty(text.view());
        if (platform::Succeeded(
                contact->get_BusinessTelephoneNumber(text.out())))
          record.numbers[kWorkNumber] = NonEmpty(text.view());
        data->records.push_back(std::move(record));
        ++report->contacts;
        reading->Added(*data);
      }
    }
  }
  app->Logoff();
  return true;
}

template <typename F>
F Entry(const platform::Library& library, const char* name) {
  return reinterpret_cast<F>(library.Symbol(name));
}

// Whether the telephony service has "Cellular Line" with a serial number.
bool HasCellularLine(const platform::Library& cellcore) {
  auto initialize = Entry<platform::LineInitializeFunction>(
      cellcore, platform::kLineInitializeName);
  auto get_name = Entry<platform::LineGetNameFunction>(
      cellcore, platform::kLineGetNameName);
  auto open =
      Entry<platform::LineOpenFunction>(cellcore, platform::kLineOpenName);
  auto general_info = Entry<platform::LineGetGeneralInfoFunction>(
      cellcore, platform::kLineGetGeneralInfoName);
  auto close =
      Entry<platform::LineCloseFunction>(cellcore, platform::kLineCloseName);
  auto shutdown = Entry<platform::LineShutdownFunction>(
      cellcore, platform::kLineShutdownName);
  if (!initialize || !get_name || !open || !general_info || !close || !shutdown)
    return false;
  platform::LineApp app = 0;
  uint32_t devices = 0;
  if (initialize(&app, &devices) != platform::kTelOk) return false;
  bool found = false;
  for (uint32_t device = 0; device < devices && !found; ++device) {
    char16_t name[128] = {};
    if (get_name(app, device, name, 128) != platform::kTelOk ||
        std::u16string_view(name) != platform::kCellularLineName)
      continue;
    platform::Line line = 0;
    if (open(app, device, &line) != platform::kTelOk) continue;
    platform::LineGeneralInfo info{};
    if (general_info(line, &info) == platform::kTelOk) {
      info.serial_number[platform::kLineInfoTextChars - 1] = u'\0';
      found = info.serial_number[0] != u'\0';
    }
    close(line);
  }
  shutdown(app);
  return found;
}

// Step 4: the SIM phonebook, when there is a cellular line.
void ReadSim(ContactData* data, LoadReport* report, Reading* reading) {
  std::unique_ptr<platform::Library> cellcore =
      platform::Library::Load(platform::kCellcoreLibraryName);
  if (cellcore == nullptr) return;
  if (!HasCellularLine(*cellcore)) return;
  report->cellular_line = true;
  size_t sim = data->InternCategory(kSimCategory);
  auto initialize = Entry<platform::SimInitializeFunction>(
      *cellcore, platform::kSimInitializeName);
  auto caps = Entry<platform::SimGetDevCapsFunction>(
      *cellcore, platform::kSimGetDevCapsName);
  auto read = Entry<platform::SimReadPhonebookEntryFunction>(
      *cellcore, platform::kSimReadPhonebookEntryName);
  auto deinitialize = Entry<platform::SimDeinitializeFunction>(
      *cellcore, platform::kSimDeinitializeName);
  if (!initialize || !caps || !read || !deinitialize) return;
  platform::SimHandle handle = 0;
  if (initialize(0, &handle) != platform::kTelOk) return;
  platform::SimCaps range{};
  if (caps(handle, platform::kSimCapsPhonebookIndexRange, &range) ==
      platform::kTelOk) {
    auto entry = std::make_unique<platform::SimPhonebookEntry>();
    for (uint64_t index = range.min_phonebook_index;
         index <= range.max_phonebook_index && !reading->Stopped(); ++index) {
      *entry = platform::SimPhonebookEntry{};
      if (read(handle, platform::kSimPhonebookStorageSim,
               static_cast<uint32_t>(index), entry.get()) != platform::kTelOk)
        continue;
      entry->text[platform::kSimMaxTextChars - 1] = u'\0';
      entry->address[platform::kSimMaxAddressChars - 1] = u'\0';
      ContactRecord record;
      record.name = entry->text;
      record.numbers[kMobileNumber] = NonEmpty(entry->address);
      record.categories.push_back(sim);
      data->records.push_back(std::move(record));
      ++report->sim_entries;
      reading->Added(*data);
    }
  }
  deinitialize(handle);
}

}  // namespace

bool ContactRecord::HasNumber() const { return FirstNumber() >= 0; }

int ContactRecord::FirstNumber() const {
  for (int i = 0; i < kNumberCount; ++i) {
    if (numbers[i]) return i;
  }
  return -1;
}

int ContactRecord::NextNumber(int current) const {
  if (current < 0 || current >= kNumberCount) return FirstNumber();
  for (int step = 1; step <= kNumberCount; ++step) {
    int next = (current + step) % kNumberCount;
    if (numbers[next]) return next;
  }
  return -1;
}

size_t ContactData::InternCategory(std::u16string_view name) {
  for (size_t i = 0; i < categories.size(); ++i) {
    if (categories[i] == name) return i;
  }
  categories.emplace_back(name);
  return categories.size() - 1;
}

std::vector<size_t> ContactData::InternCategories(std::u16string_view text) {
  std::vector<size_t> indices;
  bool first = true;
  while (true) {
    size_t comma = text.find(u',');
    std::u16string_view piece = text.substr(0, comma);
    if (!first && !piece.empty() && piece[0] == u' ') piece.remove_prefix(1);
    first = false;
    if (!piece.empty()) {
      size_t index = InternCategory(piece);
      if (std::find(indices.begin(), indices.end(), index) == indices.end())
        indices.push_back(index);
    }
    if (comma == std::u16string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return indices;
}

ContactData ReadPhoneContacts(
    LoadReport* report, const std::function<void(const ContactData&)>& progress,
    const std::atomic<bool>* stop) {
  LoadReport local;
  ContactData data;
  Reading reading{&progress, stop};
  local.contacts_read = ReadContacts(&data, &local, &reading);
  if (!reading.Stopped()) ReadSim(&data, &local, &reading);
  if (report != nullptr) *report = local;
  return data;
}

ContactStore::ContactStore() : data_(std::make_shared<ContactData>()) {}

ContactStore::~ContactStore() { Stop(); }

void ContactStore::Load() {
  Stop();
  ReadAll();
}

void ContactStore::ReadAll() {
  loading_ = true;
  {
    // The store is cleared first: a picker opened now shows what the load
    // has reached.
    platform::MutexLock lock(&mutex_);
    data_ = std::make_shared<const ContactData>();
  }
  LoadReport report;
  auto publish = [this](const ContactData& so_far) {
    auto copy = std::make_shared<const ContactData>(so_far);
    platform::MutexLock lock(&mutex_);
    data_ = std::move(copy);
  };
  auto data = std::make_shared<const ContactData>(
      ReadPhoneContacts(&report, publish, &stop_));
  platform::DebugPrintf("contacts: %s %d contacts and %d SIM entries\r\n",
                        stop_.load() ? "stopped after" : "loaded",
                        report.contacts, report.sim_entries);
  {
    platform::MutexLock lock(&mutex_);
    data_ = std::move(data);
    report_ = report;
  }
  loading_ = false;
}

void ContactStore::StartLoad() {
  WaitForLoad();
  stop_ = false;
  loading_ = true;  // at once, so a caller asking right away sees it
  loader_ = std::thread([this] { ReadAll(); });
}

void ContactStore::WaitForLoad() {
  if (loader_.joinable()) loader_.join();
}

void ContactStore::Stop() {
  stop_ = true;
  WaitForLoad();
  stop_ = false;
}

std::shared_ptr<const ContactData> ContactStore::contacts() const {
  platform::MutexLock lock(&mutex_);
  return data_;
}

LoadReport ContactStore::last_report() const {
  platform::MutexLock lock(&mutex_);
  return report_;
}

}  // namespace contacts
