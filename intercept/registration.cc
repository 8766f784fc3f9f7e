#include "intercept/registration.h"

#include <optional>

#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/unicode.h"

namespace intercept {
namespace {

using platform::ErrorCode;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::Status;

// `cause` with what was being done put before its message.
Status Because(const std::string& what, const Status& cause) {
  return Status(cause.code(), what + ": " + cause.message());
}

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

Status RegisterRuleClient(std::u16string_view app_folder) {
  // The messaging service loads the library by its bare name from
  // \Windows\: without that copy the registration would name an older
  // library, or none.
  std::u16string source =
      std::u16string(app_folder) + std::u16string(kRuleClientLibrary);
  if (Status copy = platform::files::Copy(source, kInstalledRuleClient,
                                          /*fail_if_exists=*/false);
      !copy.ok()) {
    return Because("cannot copy " + platform::ToUtf8(source) + " to " +
                       platform::ToUtf8(kInstalledRuleClient),
                   copy);
  }
  // All the values or none.
  platform::RegistryBatch batch;
  batch.CreateKey(RegistryRoot::kClassesRoot, ClassKey())
      .CreateKey(RegistryRoot::kClassesRoot, RuleClientServerKey())
      .SetString(RegistryRoot::kClassesRoot, RuleClientServerKey(), u"",
                 kRuleClientLibrary)
      .CreateKey(RegistryRoot::kLocalMachine, kRulesKey)
      .SetDword(RegistryRoot::kLocalMachine, kRulesKey, kRuleClientClsid, 1);
  if (Status commit = batch.Commit(); !commit.ok()) {
    return Because("cannot write the rule client's registry values", commit);
  }
  return Status::Ok();
}

Status UnregisterRuleClient() {
  // The Rules value is what the messaging service goes by: it is removed
  // even when the class key could not be; the first failure is reported.
  Status result;
  if (Status removed =
          platform::DeleteRegistryKey(RegistryRoot::kClassesRoot, ClassKey());
      !removed.ok() && removed.code() != ErrorCode::kNotFound) {
    result = Because("cannot delete the rule client's class key", removed);
  }
  Status status;
  std::optional<RegistryKey> rules = RegistryKey::Create(
      RegistryRoot::kLocalMachine, kRulesKey, nullptr, &status);
  if (!rules) {
    return result.ok() ? Because("cannot open the messaging rules key", status)
                       : result;
  }
  if (Status removed = rules->DeleteValue(kRuleClientClsid);
      !removed.ok() && removed.code() != ErrorCode::kNotFound && result.ok()) {
    result = Because("cannot delete the rule client's rules value", removed);
  }
  return result;
}

bool IsTodayItemRegistered() {
  return RegistryKey::Open(RegistryRoot::kLocalMachine, TodayItemKey())
      .has_value();
}

Status SetTodayItem(bool on, std::u16string_view app_folder) {
  if (!on) {
    Status removed = platform::DeleteRegistryKey(RegistryRoot::kLocalMachine,
                                                 TodayItemKey());
    if (!removed.ok() && removed.code() != ErrorCode::kNotFound) {
      return Because("cannot delete the Today item's key", removed);
    }
    return Status::Ok();
  }
  const std::u16string key = TodayItemKey();
  platform::RegistryBatch batch;
  batch.CreateKey(RegistryRoot::kLocalMachine, key)
      .SetDword(RegistryRoot::kLocalMachine, key, u"Type", 4)
      .SetDword(RegistryRoot::kLocalMachine, key, u"Enabled", 1)
      .SetDword(RegistryRoot::kLocalMachine, key, u"Options", 1)
      .SetString(RegistryRoot::kLocalMachine, key, u"DLL",
                 std::u16string(app_folder) + std::u16string(kTodayLibrary));
  if (Status commit = batch.Commit(); !commit.ok()) {
    return Because("cannot write the Today item's registry values", commit);
  }
  return Status::Ok();
}

std::u16string AutostartShortcutPath() {
  return platform::StartupFolder() + u"\\" + std::u16string(kShortcutName);
}

std::u16string AutostartCommandLine(std::u16string_view program_path) {
  return std::u16string(kInstalledLoader) + u" \"" +
         std::u16string(program_path) + u"\"";
}

Status ApplyAutostart(bool on, std::u16string_view app_folder,
                      std::u16string_view program_path) {
  if (on) {
    std::u16string source =
        std::u16string(app_folder) + std::u16string(kLoaderName);
    if (Status copy = platform::files::Copy(source, kInstalledLoader,
                                            /*fail_if_exists=*/false);
        !copy.ok()) {
      return Because("cannot copy " + platform::ToUtf8(source) + " to " +
                         platform::ToUtf8(kInstalledLoader),
                     copy);
    }
    if (Status written = platform::CreateShortcut(
            AutostartShortcutPath(), AutostartCommandLine(program_path));
        !written.ok()) {
      return Because("cannot write the start-up shortcut " +
                         platform::ToUtf8(AutostartShortcutPath()),
                     written);
    }
    return Status::Ok();
  }
  // Both go, each whether or not the other could; the first failure is
  // reported.
  const std::u16string shortcut = AutostartShortcutPath();
  Status result;
  for (std::u16string_view path :
       {std::u16string_view(shortcut), kInstalledLoader}) {
    Status removed = platform::files::Delete(path);
    if (!removed.ok() && removed.code() != ErrorCode::kNotFound &&
        result.ok()) {
      result = Because("cannot delete " + platform::ToUtf8(path), removed);
    }
  }
  return result;
}

}  // namespace intercept
