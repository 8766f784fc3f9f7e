// The test rule client (libspamruleclient.so): deletes a message whose text
// starts with "spam" (MRC_HANDLED_DONTCONTINUE, fnevObjectDeleted), fails
// ProcessMessage with E_FAIL for the text "fail", leaves anything else.
// For the text "hang" it is stuck, far longer than the service's budget:
// ProcessMessage returns (S_OK, not handled) only once the auto-reset event
// kHangReleaseEventName is set, or after kHangMs.
// The interface it implements is platform::IMailRuleClient (platform/mapi.h).
#ifndef TELVANE_DEVICE_DEVICED_TESTING_SPAM_RULE_CLIENT_H_
#define TELVANE_DEVICE_DEVICED_TESTING_SPAM_RULE_CLIENT_H_

#include <cstdint>

#include "platform/com.h"

namespace device::deviced::testing {

inline constexpr platform::CLSID kSpamRuleClientClsid = {
    0x5A3B1C2D,
    0x0E4F,
    0x4A6B,
    {0x8C, 0x9D, 0x1E, 0x2F, 0x3A, 0x4B, 0x5C, 0x6D}};

inline constexpr char kHangReleaseEventName[] = "SpamRuleClientRelease";
inline constexpr uint32_t kHangMs = 120000;

}  // namespace device::deviced::testing

#endif  // TELVANE_DEVICE_DEVICED_TESTING_SPAM_RULE_CLIENT_H_
