// The phone's contacts object model, the subset programs read: the
// application object, logon, the default contacts folder, its item
// collection and, per contact, the categories, the name it is filed under
// and the mobile, home and business telephone numbers.
//
// The device's "pimstore.dll" implements it over the contacts table of
// device.db (docs/formats/contacts.md). A program creates the application
// object through COM activation (CreateComInstance with
// CLSID_PimApplication and IID_IPimApplication; `devicectl install`
// registers the class when pimstore.dll is installed), logs on, takes the
// default contacts folder and walks its items by index 1..count.
//
// Interfaces follow platform/com.h: the first three slots are
// QueryInterface, AddRef, Release; no virtual destructors; every object
// returned is released with Release.
//
// Strings come back as PimString: a UTF-16, NUL-terminated text allocated by
// PimAllocString (the C heap, with its length in the 4 bytes in front, as
// the platform's own counted strings), owned by the caller and freed with
// PimFreeString. A missing text comes back as an empty string, never null.
// Both functions are inline and use the process's one C heap, so a string
// from the library may be freed by the program.
//
// The collection is read when the folder's Items are asked for: a snapshot,
// which later changes to the device's contacts do not alter. Objects may be
// used from any thread, one call at a time per object; reference counts
// are atomic. A call before Logon fails with E_FAIL.
#ifndef TELVANE_PLATFORM_PIM_H_
#define TELVANE_PLATFORM_PIM_H_

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/com.h"

namespace platform {

using PimString = char16_t*;

// A counted copy of `text`; nullptr only when the heap is exhausted.
inline PimString PimAllocString(std::u16string_view text) {
  if (text.size() > 0x3FFFFFFF) return nullptr;
  auto* block = static_cast<unsigned char*>(
      std::malloc(4 + (text.size() + 1) * sizeof(char16_t)));
  if (block == nullptr) return nullptr;
  uint32_t bytes = static_cast<uint32_t>(text.size() * sizeof(char16_t));
  std::memcpy(block, &bytes, 4);
  auto* chars = reinterpret_cast<char16_t*>(block + 4);
  if (!text.empty()) std::memcpy(chars, text.data(), bytes);
  chars[text.size()] = u'\0';
  return chars;
}

// Frees a string from PimAllocString; null is fine.
inline void PimFreeString(PimString text) {
  if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - 4);
}

inline std::u16string_view PimStringView(PimString text) {
  if (text == nullptr) return {};
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(text) - 4, 4);
  return std::u16string_view(text, bytes / sizeof(char16_t));
}

// Frees the string when it goes out of scope.
class PimStringHolder {
 public:
  PimStringHolder() = default;
  ~PimStringHolder() { PimFreeString(text_); }
  PimStringHolder(const PimStringHolder&) = delete;
  PimStringHolder& operator=(const PimStringHolder&) = delete;
  PimString* out() {
    PimFreeString(text_);
    text_ = nullptr;
    return &text_;
  }
  std::u16string_view view() const { return PimStringView(text_); }

 private:
  PimString text_ = nullptr;
};

// The application object's class and interfaces.
inline constexpr CLSID CLSID_PimApplication = {
    0x05058F23,
    0x20BE,
    0x11D2,
    {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
inline constexpr IID IID_IPimApplication = {
    0x05058F22,
    0x20BE,
    0x11D2,
    {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
inline constexpr IID IID_IPimFolder = {
    0x05058F24,
    0x20BE,
    0x11D2,
    {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
inline constexpr IID IID_IPimItemCollection = {
    0x05058F25,
    0x20BE,
    0x11D2,
    {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
inline constexpr IID IID_IPimContact = {
    0x05058F26,
    0x20BE,
    0x11D2,
    {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};

// The library's name as programs load it and as the class registers it.
inline constexpr char16_t kPimLibraryName[] = u"pimstore.dll";

// GetDefaultFolder's folder kinds; only contacts exist on this device.
inline constexpr int kPimFolderContacts = 10;

class IPimContact : public IUnknown {
 public:
  // "Business, Personal": the category names joined with ", ".
  virtual HRESULT get_Categories(PimString* value) = 0;
  // The name the contact is shown and filed under.
  virtual HRESULT get_FileAs(PimString* value) = 0;
  virtual HRESULT get_MobileTelephoneNumber(PimString* value) = 0;
  virtual HRESULT get_HomeTelephoneNumber(PimString* value) = 0;
  virtual HRESULT get_BusinessTelephoneNumber(PimString* value) = 0;
};

class IPimItemCollection : public IUnknown {
 public:
  virtual HRESULT get_Count(int* count) = 0;
  // Item `index` (1 to the count) as an object to be asked for
  // IID_IPimContact; E_INVALIDARG outside that range.
  virtual HRESULT Item(int index, IUnknown** item) = 0;
};

class IPimFolder : public IUnknown {
 public:
  virtual HRESULT get_Items(IPimItemCollection** items) = 0;
};

class IPimApplication : public IUnknown {
 public:
  // `window` is a parent window for questions (0: none are asked).
  virtual HRESULT Logon(intptr_t window) = 0;
  virtual HRESULT Logoff() = 0;
  // kPimFolderContacts only; E_INVALIDARG otherwise.
  virtual HRESULT GetDefaultFolder(int kind, IPimFolder** folder) = 0;
};

}  // namespace platform

#endif  // TELVANE_PLATFORM_PIM_H_
