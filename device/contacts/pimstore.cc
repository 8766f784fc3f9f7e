// pimstore.dll: the contacts object model over the device's contacts table.
// Exports DllGetClassObject (and DllCanUnloadNow) for the application class
// CLSID_PimApplication; see platform/pim.h.
#include <atomic>
#include <memory>
#include <vector>

#include "device/contacts/phone_book.h"
#include "platform/debug.h"
#include "platform/pim.h"

namespace {

using namespace platform;  // the interface's names, as the library uses them

std::atomic<int> g_objects{0};

// An object of the library, counted for DllCanUnloadNow.
template <typename Interface, const IID& iid>
class Object : public ComObject<ComInterface<Interface, iid>> {
 protected:
  Object() { ++g_objects; }
  ~Object() override { --g_objects; }
};

HRESULT ReturnString(std::u16string_view text, PimString* value) {
  if (value == nullptr) return E_POINTER;
  *value = PimAllocString(text);
  return *value == nullptr ? E_OUTOFMEMORY : S_OK;
}

class ContactItem final : public Object<IPimContact, IID_IPimContact> {
 public:
  explicit ContactItem(device::contacts::Contact contact)
      : contact_(std::move(contact)) {}
  HRESULT get_Categories(PimString* value) override {
    return ReturnString(contact_.categories, value);
  }
  HRESULT get_FileAs(PimString* value) override {
    return ReturnString(contact_.name, value);
  }
  HRESULT get_MobileTelephoneNumber(PimString* value) override {
    return ReturnString(contact_.mobile, value);
  }
  HRESULT get_HomeTelephoneNumber(PimString* value) override {
    return ReturnString(contact_.home, value);
  }
  HRESULT get_BusinessTelephoneNumber(PimString* value) override {
    return ReturnString(contact_.business, value);
  }

 private:
  const device::contacts::Contact contact_;
};

class ItemCollection final
    : public Object<IPimItemCollection, IID_IPimItemCollection> {
 public:
  explicit ItemCollection(std::vector<device::contacts::Contact> contacts)
      : contacts_(std::move(contacts)) {}
  HRESULT get_Count(int* count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<int>(contacts_.size());
    return S_OK;
  }
  HRESULT Item(int index, IUnknown** item) override {
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    if (index < 1 || static_cast<size_t>(index) > contacts_.size())
      return E_INVALIDARG;
    auto* contact = new (std::nothrow) ContactItem(contacts_[index - 1]);
    if (contact == nullptr) return E_OUTOFMEMORY;
    *item = contact;
    return S_OK;
  }

 private:
  const std::vector<device::contacts::Contact> contacts_;
};

class ContactsFolder final : public Object<IPimFolder, IID_IPimFolder> {
 public:
  HRESULT get_Items(IPimItemCollection** items) override {
    if (items == nullptr) return E_POINTER;
    *items = nullptr;
    Status status;
    std::vector<device::contacts::Contact> contacts =
        device::contacts::ListContacts(&status);
    if (!status.ok()) {
      DebugOutput("pimstore: " + status.ToString());
      return E_FAIL;
    }
    auto* collection = new (std::nothrow) ItemCollection(std::move(contacts));
    if (collection == nullptr) return E_OUTOFMEMORY;
    *items = collection;
    return S_OK;
  }
};

class Application final : public Object<IPimApplication, IID_IPimApplication> {
 public:
  HRESULT Logon(intptr_t) override {
    logged_on_ = true;
    return S_OK;
  }
  HRESULT Logoff() override {
    if (!logged_on_.exchange(false)) return E_FAIL;
    return S_OK;
  }
  HRESULT GetDefaultFolder(int kind, IPimFolder** folder) override {
    if (folder == nullptr) return E_POINTER;
    *folder = nullptr;
    if (!logged_on_) return E_FAIL;
    if (kind != kPimFolderContacts) return E_INVALIDARG;
    auto* contacts = new (std::nothrow) ContactsFolder();
    if (contacts == nullptr) return E_OUTOFMEMORY;
    *folder = contacts;
    return S_OK;
  }

 private:
  std::atomic<bool> logged_on_{false};
};

}  // namespace

#define PIMSTORE_EXPORT extern "C" __attribute__((visibility("default")))

PIMSTORE_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid,
                                          void** object) {
  return GetClassObject<ComClassFactory<Application>>(CLSID_PimApplication,
                                                      clsid, iid, object);
}

PIMSTORE_EXPORT HRESULT DllCanUnloadNow() {
  return g_objects == 0 ? S_OK : S_FALSE;
}
