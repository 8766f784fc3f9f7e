// telvane setup: what a user does once on a new device so that messages are
// intercepted and filed out of the box.
//
//   telvane setup
//
// On the current device, each step only when it is not done yet: makes the
// default document (the program's folder's "sms.zud") as "New..." would,
// with a Recycle Bin, "\Drafts", "\Sent Box" and "\Inbox", and has the
// program open it at start ("OpenLastFile", "LastOpenFile"); registers the
// Today item as ticking "Add Today plug-in Support" would, and the rule
// client as ticking "Auto Receive SMS" would. Run it while the program
// is not running (the program keeps its own copy of the settings).
#include <iostream>
#include <string>

#include "intercept/registration.h"
#include "platform/files.h"
#include "settings/settings_store.h"
#include "store/document.h"
#include "tools/telvane/commands.h"

namespace tools::telvane {
namespace {

using cli::Fail;
using cli::U8;

int Setup() {
  const std::u16string folder = settings::AppFolder();
  const std::u16string path = folder + u"sms.zud";

  // The settings first: a document leaves its index position under the
  // settings' key, and a key that exists without the options reads as
  // options turned off rather than as a first start.
  const bool first_run = !platform::files::Exists(path);
  settings::SettingsStore settings;
  settings.Load();
  if (first_run || settings.open_last_file() == 0 ||
      settings.last_open_file() != path) {
    settings.set_open_last_file(1);
    platform::Status saved = settings.Save();
    if (saved.ok()) saved = settings.SaveLastOpenFile(path);
    if (!saved.ok()) return Fail("settings: " + saved.ToString());
    std::cout << "opened at start: " << U8(path) << "\n";
  }
  if (platform::files::Exists(path)) {
    std::cout << "document: " << U8(path) << " (kept)\n";
  } else {
    store::Document document;
    platform::Status made = document.New(path, store::NewFileOptions{});
    if (made.ok()) made = document.Close();
    if (!made.ok()) return Fail(U8(path) + ": " + made.ToString());
    std::cout << "document: " << U8(path) << " (made)\n";
  }
  // The Today item, so that the device's Today screen shows the unread
  // count (as ticking "Add Today plug-in Support" would).
  if (intercept::IsTodayItemRegistered()) {
    std::cout << "Today item: registered (kept)\n";
  } else if (platform::Status registered =
                 intercept::SetTodayItem(true, folder);
             !registered.ok()) {
    return Fail("the Today item could not be registered: " +
                registered.ToString());
  } else {
    std::cout << "Today item: registered (" << U8(folder)
              << "pelicordep.dll)\n";
  }
  if (intercept::IsRuleClientRegistered()) {
    std::cout << "rule client: registered (kept)\n";
  } else if (platform::Status registered =
                 intercept::RegisterRuleClient(folder);
             !registered.ok()) {
    return Fail("the rule client could not be registered: " +
                registered.ToString());
  } else if (intercept::IsRuleClientRegistered()) {
    std::cout << "rule client: registered\n";
  } else {
    return Fail("the rule client could not be registered");
  }
  return 0;
}

}  // namespace

void AddSetupCommand(cli::Tool& tool) {
  tool.AddCommand(tool.root(), "setup",
                  "once per device: the default document (sms.zud with "
                  "Recycle Bin, Drafts, Sent Box, Inbox) opened at start, the "
                  "Today item and the rule client registered, so that "
                  "messages are intercepted and filed and the Today screen "
                  "shows the unread count; steps already done are kept",
                  Setup);
}

}  // namespace tools::telvane
