// A minimal in-process server for activation tests: one class whose
// objects answer IUnknown and a test interface that adds two numbers.
#include <atomic>

#include "platform/testing/com_test_server.h"

namespace {

using platform::CLSID;
using platform::GUID;
using platform::HRESULT;
using platform::IID;
using platform::ULONG;

using platform::testing::IAdder;
using platform::testing::kAdderClsid;
using platform::testing::kIidAdder;

std::atomic<int> g_live_objects{0};

class Adder final : public IAdder {
 public:
  Adder() { ++g_live_objects; }
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (object == nullptr) return platform::E_INVALIDARG;
    if (iid == platform::IID_IUnknown || iid == kIidAdder) {
      *object = static_cast<IAdder*>(this);
      AddRef();
      return platform::S_OK;
    }
    *object = nullptr;
    return platform::E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      --g_live_objects;
      delete this;
    }
    return left;
  }
  int Add(int a, int b) override { return a + b; }

 private:
  std::atomic<ULONG> refs_{1};
};

class Factory final : public platform::IClassFactory {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (object == nullptr) return platform::E_INVALIDARG;
    if (iid == platform::IID_IUnknown || iid == platform::IID_IClassFactory) {
      *object = this;
      AddRef();
      return platform::S_OK;
    }
    *object = nullptr;
    return platform::E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT CreateInstance(platform::IUnknown* outer, const IID& iid,
                         void** object) override {
    if (outer != nullptr) return platform::CLASS_E_NOAGGREGATION;
    Adder* adder = new Adder();
    HRESULT hr = adder->QueryInterface(iid, object);
    adder->Release();
    return hr;
  }
  HRESULT LockServer(int) override { return platform::S_OK; }

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(
    const CLSID& clsid, const IID& iid, void** object) {
  if (!(clsid == kAdderClsid)) return platform::CLASS_E_CLASSNOTAVAILABLE;
  Factory* factory = new Factory();
  HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

extern "C" __attribute__((visibility("default"))) int TestServerLiveObjects() {
  return g_live_objects.load();
}
