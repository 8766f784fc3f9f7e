// The component model's in-process activation.
//
// Interfaces are plain abstract classes whose first three slots are
// QueryInterface, AddRef and Release, in that order, with no virtual
// destructor, so their table layout is the one a library built elsewhere
// expects. Libraries export `extern "C"` entry points; nothing throws across
// them. An object implements IUnknown by deriving from ComObject, and a
// server's class factory is a ComClassFactory (see below). Activation:
// CreateComInstance reads the default value of
// HKCR\CLSID\{clsid}\InprocServer32 (a library name), loads that library
// (see Library::Load for the search), calls its DllGetClassObject for
// IClassFactory and asks the factory for the instance. Libraries loaded this
// way stay loaded for the life of the process.
#ifndef TELVANE_PLATFORM_COM_H_
#define TELVANE_PLATFORM_COM_H_

#include <atomic>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

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

// One interface of a ComObject: `Interface` is a base class of the object,
// and QueryInterface answers each of `iids` with the object seen as
// `Interface`. List the IID of the interface and those of the interfaces it
// derives from (IUnknown aside, which every object answers):
//   ComInterface<IMAPIFolder, IID_IMAPIFolder, IID_IMAPIContainer,
//                IID_IMAPIProp>
template <typename InterfaceType, const IID&... iids>
struct ComInterface {
  using Interface = InterfaceType;
  static bool Answers(const IID& iid) { return ((iid == iids) || ...); }
};

// IUnknown for an object implementing one or more interfaces, each named by
// a ComInterface:
//
//   class Adder final : public ComObject<ComInterface<IAdder, kIidAdder>> {
//    public:
//     int Add(int a, int b) override { return a + b; }
//   };
//
// A new object holds one reference, its creator's; Release deletes it when
// the count reaches 0. The count is atomic: references may be taken and
// dropped on any thread. QueryInterface:
//  - a null `object`: E_POINTER;
//  - IID_IUnknown (as the first interface listed) or a listed IID: S_OK,
//    *object the interface, with one more reference;
//  - any other IID: E_NOINTERFACE, *object null.
// A class may override AddRef or Release to watch the count; it calls
// these to change it.
template <typename... Entries>
class ComObject : public Entries::Interface... {
  static_assert(sizeof...(Entries) > 0, "a ComObject has an interface");

 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown) {
      *object = static_cast<IUnknown*>(static_cast<Primary*>(this));
    } else if (!(Find<Entries>(iid, object) || ...)) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  ULONG Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

 private:
  using Primary =
      typename std::tuple_element_t<0, std::tuple<Entries...>>::Interface;

  // Sets *object when `Entry` answers `iid`.
  template <typename Entry>
  bool Find(const IID& iid, void** object) {
    if (!Entry::Answers(iid)) return false;
    *object = static_cast<typename Entry::Interface*>(this);
    return true;
  }

  std::atomic<ULONG> refs_{1};
};

// The class factory of an in-process server's class, whose objects are
// `Object`s (a ComObject made by `new Object()`). CreateInstance refuses
// aggregation (CLASS_E_NOAGGREGATION) and answers `iid` from a new object;
// LockServer counts the server's locks, which DllCanUnloadNow reads through
// Locked().
template <typename Object>
class ComClassFactory
    : public ComObject<ComInterface<IClassFactory, IID_IClassFactory>> {
 public:
  HRESULT CreateInstance(IUnknown* outer, const IID& iid,
                         void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Object* made = new (std::nothrow) Object();
    if (made == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = made->QueryInterface(iid, object);
    made->Release();
    return hr;
  }
  HRESULT LockServer(int lock) override {
    locks_ += lock ? 1 : -1;
    return S_OK;
  }

  // Whether a LockServer(true) is still without its LockServer(false).
  static bool Locked() { return locks_.load() != 0; }

 private:
  static inline std::atomic<int32_t> locks_{0};
};

// The body of DllGetClassObject for a server of one class, `served`, whose
// factory is `Factory` (a ComClassFactory): a new factory answering `iid`.
// E_POINTER for a null `object`; CLASS_E_CLASSNOTAVAILABLE for another
// class.
template <typename Factory>
HRESULT GetClassObject(const CLSID& served, const CLSID& clsid, const IID& iid,
                       void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != served) return CLASS_E_CLASSNOTAVAILABLE;
  Factory* factory = new (std::nothrow) Factory();
  if (factory == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

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
