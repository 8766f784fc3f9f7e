#include "platform/com.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/debug.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "platform/unicode.h"

namespace platform {
namespace {

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[*pos]; false when any is missing.
bool ReadHex(std::u16string_view text, size_t* pos, int digits,
             uint64_t* value) {
  *value = 0;
  for (int i = 0; i < digits; ++i) {
    if (*pos >= text.size()) return false;
    int v = HexValue(text[*pos]);
    if (v < 0) return false;
    *value = (*value << 4) | static_cast<uint64_t>(v);
    ++*pos;
  }
  return true;
}

bool Expect(std::u16string_view text, size_t* pos, char16_t c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

// Libraries activated in this process; never unloaded.
std::vector<std::unique_ptr<Library>>& LoadedServers() {
  static auto* servers = new std::vector<std::unique_ptr<Library>>();
  return *servers;
}

}  // namespace

std::u16string GuidToString(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text,
                "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1,
                g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2],
                g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return FromUtf8(text);
}

std::optional<GUID> ParseGuid(std::u16string_view text) {
  bool braced = !text.empty() && text.front() == u'{';
  if (braced) {
    if (text.size() != 38 || text.back() != u'}') return std::nullopt;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return std::nullopt;
  GUID guid{};
  size_t pos = 0;
  uint64_t v = 0;
  if (!ReadHex(text, &pos, 8, &v)) return std::nullopt;
  guid.data1 = static_cast<uint32_t>(v);
  if (!Expect(text, &pos, u'-') || !ReadHex(text, &pos, 4, &v)) return std::nullopt;
  guid.data2 = static_cast<uint16_t>(v);
  if (!Expect(text, &pos, u'-') || !ReadHex(text, &pos, 4, &v)) return std::nullopt;
  guid.data3 = static_cast<uint16_t>(v);
  if (!Expect(text, &pos, u'-')) return std::nullopt;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !Expect(text, &pos, u'-')) return std::nullopt;
    if (!ReadHex(text, &pos, 2, &v)) return std::nullopt;
    guid.data4[i] = static_cast<uint8_t>(v);
  }
  return guid;
}

HRESULT CreateComInstance(const CLSID& clsid, IUnknown* outer, const IID& iid,
                          void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  std::u16string key_path =
      u"CLSID\\" + GuidToString(clsid) + u"\\InprocServer32";
  std::optional<RegistryKey> key =
      RegistryKey::Open(RegistryRoot::kClassesRoot, key_path);
  if (!key) return REGDB_E_CLASSNOTREG;
  std::optional<std::u16string> library_name = key->QueryString(u"", 260);
  if (!library_name || library_name->empty()) return REGDB_E_CLASSNOTREG;

  Status status;
  std::unique_ptr<Library> library = Library::Load(*library_name, &status);
  if (library == nullptr) {
    DebugOutput("CreateComInstance: " + status.ToString());
    return CO_E_DLLNOTFOUND;
  }
  auto get_class_object = reinterpret_cast<DllGetClassObjectFunction>(
      library->Symbol("DllGetClassObject"));
  if (get_class_object == nullptr) return CO_E_ERRORINDLL;
  {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    LoadedServers().push_back(std::move(library));
  }

  IClassFactory* factory = nullptr;
  HRESULT hr = get_class_object(clsid, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (Failed(hr)) return hr;
  if (factory == nullptr) return E_FAIL;
  hr = factory->CreateInstance(outer, iid, object);
  factory->Release();
  return hr;
}

}  // namespace platform
