// A minimal in-process server for activation tests: one class whose
// objects answer IUnknown and a test interface that adds two numbers.
#include "platform/testing/com_test_server.h"

#include <atomic>

namespace {

using platform::CLSID;
using platform::HRESULT;
using platform::IID;

using platform::testing::IAdder;
using platform::testing::kAdderClsid;
using platform::testing::kIidAdder;

std::atomic<int> g_live_objects{0};

class Adder final
    : public platform::ComObject<platform::ComInterface<IAdder, kIidAdder>> {
 public:
  Adder() { ++g_live_objects; }
  ~Adder() override { --g_live_objects; }
  int Add(int a, int b) override { return a + b; }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(
    const CLSID& clsid, const IID& iid, void** object) {
  return platform::GetClassObject<platform::ComClassFactory<Adder>>(
      kAdderClsid, clsid, iid, object);
}

extern "C" __attribute__((visibility("default"))) int TestServerLiveObjects() {
  return g_live_objects.load();
}
