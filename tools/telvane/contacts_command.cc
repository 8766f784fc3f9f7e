// telvane contacts|groups|sentences: what the contact picker would list, and
// the group and sentence files, on the current device.
#include <iostream>
#include <optional>
#include <string>

#include "contacts/contact_store.h"
#include "contacts/picker_list.h"
#include "contacts/send_groups.h"
#include "contacts/sentence_store.h"
#include "contacts/wide_text_file.h"
#include "platform/device.h"
#include "settings/settings_store.h"
#include "tools/telvane/cli.h"
#include "tools/telvane/commands.h"

namespace tools::telvane {
namespace {

bool RequireDevice() {
  if (platform::DeviceExists()) return true;
  Fail("no device at " + platform::DeviceRoot().string() +
       " (make one with `devicectl init`)");
  return false;
}

// The file named by --file (a device path), else `name` in the program's
// folder.
std::u16string FilePath(const Arguments& args, std::u16string_view name) {
  if (const std::string* file = args.Option("--file")) return U16(*file);
  return settings::AppFolder() + std::u16string(name);
}

std::string Describe(const contacts::PickerList& list,
                     const contacts::PickerItem& item) {
  std::string line = U8(list.Name(item));
  if (const contacts::SendGroup* group = list.Group(item)) {
    line = "[group] " + line + " (" + std::to_string(group->members.size()) +
           " member(s))";
    return line;
  }
  const contacts::ContactRecord* record = list.Record(item);
  line += "\t" + U8(contacts::kNumberLabels[item.number]) + " " +
          U8(list.Number(item));
  std::string categories;
  for (size_t index : record->categories) {
    if (!categories.empty()) categories += ", ";
    categories += U8(list.contacts().categories[index]);
  }
  if (!categories.empty()) line += "\t{" + categories + "}";
  return line;
}

std::string Key(char key) { return std::string("\"") + key + "\""; }

}  // namespace

const char* const kContactsUsage =
    "\n"
    "telvane contacts [--mode 0|2] [--category NAME] [--find KEYS] "
    "[--touch-screen]\n"
    "  the current device's contacts (and SIM entries) as the contact picker\n"
    "  lists them, in its order, each with its chosen number and categories;\n"
    "  mode 2 (the default) lists the send groups first. KEYS are pressed in\n"
    "  turn: letters and \"#\" find by letter, digits 2-9 cycle through their\n"
    "  letters like keypad keys. --touch-screen orders as a touch-screen\n"
    "  device does and makes the digits 1-9 the nine tabs (\"#ab\" ... "
    "\"xyz\");\n"
    "  without it the device setting touch_screen decides.\n"
    "telvane groups [--file DEVICE_PATH]\n"
    "  the send groups of smsgroup.ini in the program's folder, in the order\n"
    "  the program holds them (the reverse of the file's).\n"
    "telvane sentences [--file DEVICE_PATH]\n"
    "  the stock sentences and mark names of pelicorde.sen, as held.\n";

int ContactsCommand(const CommandArgs& raw) {
  Arguments args =
      Parse(raw, {"--mode", "--category", "--find"}, {"--touch-screen"});
  if (!args.error.empty()) return UsageError(args.error);
  if (!args.positional.empty())
    return UsageError("contacts takes no positional arguments");
  int mode = contacts::kPickerMultiple;
  if (const std::string* value = args.Option("--mode")) {
    if (*value != "0" && *value != "2")
      return UsageError("--mode takes 0 or 2");
    mode = std::stoi(*value);
  }
  if (!RequireDevice()) return kFailure;
  bool touch_screen = args.Has("--touch-screen") ||
                      platform::GetDeviceSettingInt("touch_screen", 0) != 0;

  contacts::ContactStore store;
  std::string group_bytes;  // read only: a missing file is not made here
  if (contacts::ReadWideFile(contacts::GroupFilePath(settings::AppFolder()),
                             &group_bytes)
          .ok())
    store.groups().mutable_groups() = contacts::ParseGroupFile(group_bytes);
  store.Load();
  contacts::LoadReport report = store.last_report();
  if (!report.contacts_read)
    std::cerr << "telvane: the contacts application object is not available "
                 "(is pimstore.dll installed?)\n";
  std::optional<std::u16string> category;
  if (const std::string* name = args.Option("--category"))
    category = U16(*name);

  contacts::PickerList list(store.contacts(), &store.groups().groups(), mode,
                            touch_screen);
  list.Fill(category);
  std::cout << list.items().size() << " item(s)";
  if (category) std::cout << " in category \"" << U8(*category) << "\"";
  std::cout << " (" << report.contacts << " contact(s), " << report.sim_entries
            << " SIM entr" << (report.sim_entries == 1 ? "y" : "ies")
            << (touch_screen ? ", touch-screen order" : ", keypad order")
            << ")\n";
  for (size_t i = 0; i < list.items().size(); ++i) {
    std::cout << (list.selected() == i ? "> " : "  ") << i + 1 << ". "
              << Describe(list, list.items()[i]) << "\n";
  }
  const std::vector<std::u16string>& categories = list.contacts().categories;
  std::cout << "categories:";
  for (const std::u16string& name : categories)
    std::cout << " \"" << U8(name) << "\"";
  std::cout << "\n";

  if (const std::string* keys = args.Option("--find")) {
    for (char key : *keys) {
      bool found = false;
      if (touch_screen && key >= '1' && key <= '9')
        found = list.TapTab(key - '1');
      else if (key >= '2' && key <= '9')
        found = list.PressDigit(static_cast<char16_t>(key));
      else if (key == '#' || (key >= 'a' && key <= 'z') ||
               (key >= 'A' && key <= 'Z'))
        found = list.FindLetter(static_cast<char16_t>(key));
      else
        return UsageError("--find takes letters, \"#\" and digits");
      std::cout << "key " << Key(key) << ": ";
      if (found)
        std::cout << *list.selected() + 1 << ". "
                  << U8(list.Name(list.items()[*list.selected()])) << "\n";
      else
        std::cout << "no match\n";
    }
  }
  return 0;
}

int GroupsCommand(const CommandArgs& raw) {
  Arguments args = Parse(raw, {"--file"}, {});
  if (!args.error.empty()) return UsageError(args.error);
  if (!args.positional.empty())
    return UsageError("groups takes no positional arguments");
  if (!RequireDevice()) return kFailure;
  std::u16string path = FilePath(args, u"smsgroup.ini");
  std::string bytes;
  platform::Status status = contacts::ReadWideFile(path, &bytes);
  if (!status.ok()) return Fail(U8(path) + ": " + status.ToString());
  std::vector<contacts::SendGroup> groups = contacts::ParseGroupFile(bytes);
  std::cout << U8(path) << ": " << groups.size() << " group(s)\n";
  for (const contacts::SendGroup& group : groups) {
    std::cout << "[" << U8(group.name) << "] " << group.members.size()
              << " member(s)\n";
    for (const contacts::GroupMember& member : group.members)
      std::cout << "  " << U8(member.name) << "\t" << U8(member.number) << "\n";
  }
  return 0;
}

int SentencesCommand(const CommandArgs& raw) {
  Arguments args = Parse(raw, {"--file"}, {});
  if (!args.error.empty()) return UsageError(args.error);
  if (!args.positional.empty())
    return UsageError("sentences takes no positional arguments");
  if (!RequireDevice()) return kFailure;
  std::u16string path = FilePath(args, u"pelicorde.sen");
  std::string bytes;
  platform::Status status = contacts::ReadWideFile(path, &bytes);
  if (!status.ok()) return Fail(U8(path) + ": " + status.ToString());
  contacts::SentenceStore store;
  store.LoadBytes(bytes);
  std::cout << U8(path) << ": " << store.sentences().size() << " sentence(s), "
            << store.marks().size() << " mark name(s)\n"
            << "sentences:\n";
  for (const std::u16string& sentence : store.sentences())
    std::cout << "  " << U8(sentence) << "\n";
  std::cout << "marks:\n";
  for (const std::u16string& mark : store.marks())
    std::cout << "  " << U8(mark) << "\n";
  return 0;
}

}  // namespace tools::telvane
