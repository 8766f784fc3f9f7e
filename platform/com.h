// The component model's in-process activation.
//
// Interfaces are plain abstract classes whose first three slots are
// QueryInterface, AddRef and Release, in that order, with no virtual
// destructor, so their table layout is the one a library built elsewhere
// expects. Libraries export `extern "C"` entry points; nothing throws across
// them. Activation: CreateComInstance reads the default value of
// HKCR\CLSID\{clsid}\InprocServer32 (a library name), loads that library
// (see Library::Load for the search), calls its DllGetClassObject for
// IClassFactory and asks the factory for the instance. Libraries loaded this
// way stay loaded for the life of the process.
#ifndef TELVANE_PLATFORM_COM_H_
#define TELVANE_PLATFORM_COM_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform {

using HRESULT = int32_t;
using ULONG = uint32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION =
    static_cast<HRESULT>(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE =
    static_cast<HRESULT>(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
inline constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x8004F003);
inline constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9);

inline bool Succeeded(HRESULT hr) { return hr >= 0; }
inline bool Failed(HRESULT hr) { return hr < 0; }

// 16 bytes, as the platform lays it out.
struct GUID {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
  friend bool operator==(const GUID& a, const GUID& b) = default;
};
static_assert(sizeof(GUID) == 16);
using IID = GUID;
using CLSID = GUID;

// "{20F58816-51E4-418D-92DD-8390021DCDCA}" (upper case, with braces).
std::u16string GuidToString(const GUID& guid);
// Accepts the form above, braces optional, any case.
std::optional<GUID> ParseGuid(std::u16string_view text);

inline constexpr GUID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IUnknown {
 public:
  virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

// Holds one reference to an interface and releases it when it goes out of
// scope, on every path. Not copyable.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // For the calls that hand out a reference: out() as the interface,
  // unknown_out() as IUnknown** (OpenEntry), void_out() as void**
  // (QueryInterface). Whatever was held is released first.
  T** out() {
    reset();
    return &object_;
  }
  IUnknown** unknown_out() { return reinterpret_cast<IUnknown**>(out()); }
  void** void_out() { return reinterpret_cast<void**>(out()); }
  // Releases the reference held (if any) and takes `object`'s.
  void reset(T* object = nullptr) {
    if (object_ != nullptr) object_->Release();
    object_ = object;
  }

 private:
  T* object_ = nullptr;
};

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid,
                                 void** object) = 0;
  virtual HRESULT LockServer(int lock) = 0;
};

// The entry points an in-process server exports.
using DllGetClassObjectFunction = HRESULT (*)(const CLSID&, const IID&, void**);
using DllCanUnloadNowFunction = HRESULT (*)();

// Creates an instance of the class and returns the interface `iid` in
// *object. REGDB_E_CLASSNOTREG when the class is not registered,
// CO_E_DLLNOTFOUND when its library cannot be loaded, CO_E_ERRORINDLL when
// the library has no DllGetClassObject; otherwise whatever the library
// returns.
HRESULT CreateComInstance(const CLSID& clsid, IUnknown* outer, const IID& iid,
                          void** object);

}  // namespace platform

#endif  // TELVANE_PLATFORM_COM_H_
