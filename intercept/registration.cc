#include "intercept/registration.h"

#include <optional>

#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"

namespace intercept {
namespace {

using platform::RegistryKey;
using platform::RegistryRoot;

// The platform's path limit: a registered server name longer than this
// does not read back, so it does not count as registered.
constexpr size_t kMaxPathChars = 260;

std::u16string ClassKey() {
  return u"\\CLSID\\" + std::u16string(kRuleClientClsid);
}

}  // namespace

std::u16string RuleClientServerKey() {
  return ClassKey() + u"\\InprocServer32";
}

std::u16string TodayItemKey() {
  return u"\\SOFTWARE\\Microsoft\\Today\\Items\\\"" +
         std::u16string(kProductName) + u"\"";
}

bool IsRuleClientRegistered() {
  std::optional<RegistryKey> server =
      RegistryKey::Open(RegistryRoot::kClassesRoot, RuleClientServerKey());
  if (!server) return false;
  std::optional<std::u16string> library =
      server->QueryString(u"", kMaxPathChars);
  if (!library || *library != kRuleClientLibrary) return false;
  std::optional<RegistryKey> rules =
      RegistryKey::Open(RegistryRoot::kLocalMachine, kRulesKey);
  if (!rules) return false;
  std::optional<uint32_t> enabled = rules->QueryDword(kRuleClientClsid);
  return enabled.has_value() && *enabled == 1;
}

uint32_t RegisterRuleClient(std::u16string_view app_folder) {
  std::optional<RegistryKey> class_key =
      RegistryKey::Create(RegistryRoot::kClassesRoot, ClassKey());
  if (!class_key) return kRegistrationFailed;
  std::optional<RegistryKey> server =
      RegistryKey::Create(RegistryRoot::kClassesRoot, RuleClientServerKey());
  if (!server) return kRegistrationFailed;
  // The messaging service loads the library by its bare name from
  // \Windows\; a failed copy leaves an older copy (or none) in place.
  std::u16string source =
      std::u16string(app_folder) + std::u16string(kRuleClientLibrary);
  platform::files::Copy(source, kInstalledRuleClient, /*fail_if_exists=*/false)
      .IgnoreError();
  if (!server->SetString(u"", kRuleClientLibrary).ok()) {
    return kRegistrationFailed;
  }
  std::optional<RegistryKey> rules =
      RegistryKey::Create(RegistryRoot::kLocalMachine, kRulesKey);
  if (!rules) return kRegistrationFailed;
  return rules->SetDword(kRuleClientClsid, 1).ok() ? kRegistrationOk
                                                   : kRegistrationFailed;
}

uint32_t UnregisterRuleClient() {
  platform::DeleteRegistryKey(RegistryRoot::kClassesRoot, ClassKey())
      .IgnoreError();
  std::optional<RegistryKey> rules =
      RegistryKey::Create(RegistryRoot::kLocalMachine, kRulesKey);
  if (!rules) return kRegistrationFailed;
  rules->DeleteValue(kRuleClientClsid).IgnoreError();
  return kRegistrationOk;
}

bool IsTodayItemRegistered() {
  return RegistryKey::Open(RegistryRoot::kLocalMachine, TodayItemKey())
      .has_value();
}

void SetTodayItem(bool on, std::u16string_view app_folder) {
  if (!on) {
    platform::DeleteRegistryKey(RegistryRoot::kLocalMachine, TodayItemKey())
        .IgnoreError();
    return;
  }
  std::optional<RegistryKey> item =
      RegistryKey::Create(RegistryRoot::kLocalMachine, TodayItemKey());
  if (!item) return;
  item->SetDword(u"Type", 4).IgnoreError();
  item->SetDword(u"Enabled", 1).IgnoreError();
  item->SetDword(u"Options", 1).IgnoreError();
  item->SetString(u"DLL",
                  std::u16string(app_folder) + std::u16string(kTodayLibrary))
      .IgnoreError();
}

std::u16string AutostartShortcutPath() {
  return platform::StartupFolder() + u"\\" + std::u16string(kShortcutName);
}

std::u16string AutostartCommandLine(std::u16string_view program_path) {
  return std::u16string(kInstalledLoader) + u" \"" +
         std::u16string(program_path) + u"\"";
}

void ApplyAutostart(bool on, std::u16string_view app_folder,
                    std::u16string_view program_path) {
  if (on) {
    platform::files::Copy(
        std::u16string(app_folder) + std::u16string(kLoaderName),
        kInstalledLoader, /*fail_if_exists=*/false)
        .IgnoreError();
    platform::CreateShortcut(AutostartShortcutPath(),
                             AutostartCommandLine(program_path))
        .IgnoreError();
  } else {
    platform::files::Delete(AutostartShortcutPath()).IgnoreError();
    platform::files::Delete(kInstalledLoader).IgnoreError();
  }
}

}  // namespace intercept
