// A rule client for deviced's tests; see spam_rule_client.h.
#include "device/deviced/testing/spam_rule_client.h"

#include <memory>
#include <string_view>

#include "platform/kernel_objects.h"
#include "platform/mapi.h"
#include "platform/modules.h"

namespace {

using namespace platform;  // the messaging interface's names
using device::deviced::testing::kHangMs;
using device::deviced::testing::kHangReleaseEventName;
using device::deviced::testing::kSpamRuleClientClsid;

class SpamRuleClient final
    : public ComObject<ComInterface<IMailRuleClient, IID_IMailRuleClient>> {
 public:
  HRESULT Initialize(IMsgStore* store, MRCACCESS* desired_access) override {
    if (store == nullptr || desired_access == nullptr) return E_INVALIDARG;
    mapi_ = Library::Load(kMapiLibraryName);
    if (mapi_ == nullptr) return E_FAIL;
    free_buffer_ = reinterpret_cast<MapiFreeBufferFunction>(
        mapi_->Symbol(kMapiFreeBufferName));
    if (free_buffer_ == nullptr) return E_FAIL;
    *desired_access = MRC_ACCESS_WRITE;
    return S_OK;
  }

  HRESULT ProcessMessage(IMsgStore* store, ULONG message_size,
                         LPENTRYID message, ULONG folder_size, LPENTRYID folder,
                         ULONG* event_type, MRCHANDLED* handled) override {
    if (free_buffer_ == nullptr) return E_FAIL;  // never initialised
    *event_type = 0;
    *handled = MRC_NOT_HANDLED;
    IMessage* item = nullptr;
    HRESULT hr = store->OpenEntry(message_size, message, nullptr, 0, nullptr,
                                  reinterpret_cast<IUnknown**>(&item));
    if (Failed(hr)) return hr;
    SizedSPropTagArray<1> tags{1, {PR_SUBJECT}};
    ULONG count = 0;
    SPropValue* props = nullptr;
    hr = item->GetProps(tags.get(), MAPI_UNICODE, &count, &props);
    item->Release();
    if (hr != S_OK) {
      free_buffer_(props);
      return Failed(hr) ? hr : E_FAIL;
    }
    std::u16string text = props[0].Value.lpszW;
    free_buffer_(props);
    if (text == u"fail") return E_FAIL;
    if (text == u"hang") {
      bool existed = false;
      if (auto release = NamedEvent::CreateOrOpen(kHangReleaseEventName, false,
                                                  false, &existed)) {
        release->Wait(kHangMs);
      }
      return S_OK;
    }
    if (!text.starts_with(u"spam")) return S_OK;

    IMAPIFolder* inbox = nullptr;
    hr = store->OpenEntry(folder_size, folder, nullptr, MAPI_MODIFY, nullptr,
                          reinterpret_cast<IUnknown**>(&inbox));
    if (Failed(hr)) return hr;
    SBinary entry{message_size, reinterpret_cast<BYTE*>(message)};
    ENTRYLIST list{1, &entry};
    hr = inbox->DeleteMessages(&list, 0, nullptr, 0);
    inbox->Release();
    if (hr != S_OK) return Failed(hr) ? hr : E_FAIL;
    *event_type = fnevObjectDeleted;
    *handled = MRC_HANDLED_DONTCONTINUE;
    return S_OK;
  }

 private:
  std::unique_ptr<Library> mapi_;
  MapiFreeBufferFunction free_buffer_ = nullptr;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(
    const CLSID& clsid, const IID& iid, void** object) {
  return GetClassObject<ComClassFactory<SpamRuleClient>>(kSpamRuleClientClsid,
                                                         clsid, iid, object);
}
