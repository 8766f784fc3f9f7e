#include "kit/string_table.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QList>
#include <QMenu>
#include <QPushButton>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "kit/device_window.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/source_tree.h"

namespace kit {
namespace {

// The named constants of string_table.h, read from the header itself so
// that a constant without a text (or a text without a name) cannot slip in.
std::map<std::string, uint32_t> NamedIds() {
  std::filesystem::path header =
      platform::testing::SourceFolderOf(__FILE__) / "string_table.h";
  std::ifstream in(header);
  EXPECT_TRUE(in.good()) << "cannot read " << header;
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string source = buffer.str();
  static const std::regex kConstant(
      R"(inline constexpr uint32_t (k\w+)\s*=\s*(\d+);)");
  std::map<std::string, uint32_t> names;
  for (auto it = std::sregex_iterator(source.begin(), source.end(), kConstant);
       it != std::sregex_iterator(); ++it) {
    auto [where, fresh] =
        names.emplace((*it)[1].str(), std::stoul((*it)[2].str()));
    EXPECT_TRUE(fresh) << "name defined twice: " << where->first;
  }
  return names;
}

int Count(std::u16string_view text, std::u16string_view what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::u16string_view::npos;
       at = text.find(what, at + what.size())) {
    ++count;
  }
  return count;
}

TEST(StringTableTest, IdsAreSortedUniqueNamedAndInRange) {
  auto all = AllStrings();
  ASSERT_FALSE(all.empty());
  std::set<uint32_t> table_ids;
  for (size_t i = 0; i < all.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(all[i - 1].id, all[i].id) << "at id " << all[i].id;
    }
    EXPECT_FALSE(all[i].text.empty()) << "id " << all[i].id;
    // Ids of our own stay inside the documented reserved blocks.
    if (all[i].id >= 45000) {
      EXPECT_LT(all[i].id, 46200u);
    }
    table_ids.insert(all[i].id);
  }

  std::map<std::string, uint32_t> names = NamedIds();
  EXPECT_GT(names.size(), 300u);
  std::set<uint32_t> named_ids;
  for (const auto& [name, id] : names) {
    EXPECT_FALSE(LoadString(id).empty()) << name << " = " << id;
    named_ids.insert(id);
  }
  for (uint32_t id : table_ids) {
    EXPECT_TRUE(named_ids.count(id)) << "text without a name: " << id;
  }

  // Unknown ids, including the neighbours of real ones, give no text.
  for (uint32_t id : {0u, 1062u, 40000u, 40002u, 45099u, 46199u,
                      std::numeric_limits<uint32_t>::max()}) {
    EXPECT_TRUE(LoadString(id).empty()) << id;
  }
  EXPECT_EQ(LoadString(all.front().id), all.front().text);
  EXPECT_EQ(LoadString(all.back().id), all.back().text);
}

TEST(StringTableTest, TextsAreExactToTheByte) {
  using namespace ids;
  EXPECT_EQ(LoadString(kCaptionAlert), u"Alert");
  EXPECT_EQ(LoadString(kCaptionError), u"Error");
  EXPECT_EQ(LoadString(kCaptionWarning), u"Warning");
  EXPECT_EQ(kAlert, 40061u);
  EXPECT_EQ(kInputPassword, 40023u);
  EXPECT_EQ(LoadString(40023), u"Input Password:");
  // Spelling is kept as the program has always shown it.
  EXPECT_EQ(LoadString(kKeyVolumnUp), u"Volumn Up");
  EXPECT_EQ(LoadString(40329), u"Volumn Down");
  EXPECT_EQ(LoadString(kAutoReplyEmpty),
            u"The content of Auto Repley can't be empty !");
  EXPECT_EQ(LoadString(kAlertWhenEmptyingRecycleBin),
            u"Alert when emtpying recycle bin");
  // The trailing space and the uneven spacing of the status-report list.
  EXPECT_EQ(LoadString(40445), u"Here:Delete ");
  EXPECT_EQ(LoadString(40439), u"Inbox: Delete");
  EXPECT_EQ(LoadString(40443), u"Inbox:Delete Here:Recycle Bin");
  // A sent message: CR LF, a rule of exactly twenty hyphens, CR LF.
  EXPECT_EQ(LoadString(40337), u"Send To:%s\r\n--------------------\r\n%s");
  EXPECT_EQ(LoadString(kInboxPath), u"\\Inbox");
  EXPECT_EQ(LoadString(kStripDeepFolder), u"\\..\\%s");
  EXPECT_EQ(LoadString(kChosenNumberSign), std::u16string(1, u'\u221A'));
  EXPECT_EQ(LoadString(kDefaultAutoReply), u"Sorry! I'm busy now...");
  EXPECT_EQ(LoadString(kSentenceRightThere), u"I'll be right there.");
  EXPECT_EQ(LoadString(kHotkeyHelp), u"Action = change, Back = unmap");
  // Ids that a command shares with another text belong to that text.
  EXPECT_EQ(LoadString(40428), u"Fail");
  EXPECT_EQ(LoadString(40394), u"Vibrate");
  EXPECT_EQ(LoadString(40346), u"Input Every Time");
  EXPECT_EQ(LoadString(40084), u"New File");
}

TEST(StringTableTest, FormatStringsKeepTheirConversions) {
  // Every text with a "%" and the conversions it takes, in order.
  const std::map<uint32_t, std::pair<int, int>> kFormats = {
      // id: {count of %s, count of %d}
      {40337, {2, 0}},
      {40363, {1, 0}},
      {40373, {1, 0}},
      {ids::kStripFile, {1, 0}},
      {ids::kStripRootFolder, {1, 0}},
      {ids::kStripDeepFolder, {1, 0}},
      {ids::kUnreadCount, {0, 2}},
      {ids::kExportBlock, {3, 0}},
      {ids::kNewFilterName, {0, 1}},
      {ids::kConfirmDeleteFilter, {1, 0}},
      {ids::kCharCounter, {0, 2}},
      {ids::kKeyCodeFormat, {0, 1}},
      {ids::kDocumentInUse, {2, 0}},
      {ids::kDocumentDamaged, {3, 2}},
      {ids::kDocumentDamagedNoCopy, {2, 2}},
      {ids::kSaveFailed, {2, 0}},
      {ids::kFileUnreadable, {1, 0}},
      {ids::kScheduleNotKept, {1, 0}},
      {ids::kXmlImportSummary, {0, 3}},
      {ids::kXmlBackupDamaged, {1, 0}},
      {ids::kXmlBackupUnreadable, {1, 0}},
      {ids::kXmlBackupNotWritten, {1, 0}},
  };
  for (const StringEntry& entry : AllStrings()) {
    int percents = Count(entry.text, u"%");
    auto known = kFormats.find(entry.id);
    if (known == kFormats.end()) {
      EXPECT_EQ(percents, 0) << "unexpected % in id " << entry.id;
      continue;
    }
    int s = Count(entry.text, u"%s");
    int d = Count(entry.text, u"%d");
    EXPECT_EQ(s, known->second.first) << "id " << entry.id;
    EXPECT_EQ(d, known->second.second) << "id " << entry.id;
    EXPECT_EQ(percents, s + d) << "stray % in id " << entry.id;
  }
}

// Checks one menu tree; collects the commands it sends.
void CheckMenu(const MenuEntry& entry, std::multiset<uint32_t>* commands,
               const std::string& where) {
  for (const MenuEntry& child : entry.children) {
    if (child.separator) {
      EXPECT_EQ(child.command, 0u) << where;
      EXPECT_EQ(child.text_id, 0u) << where;
      EXPECT_TRUE(child.children.empty()) << where;
      continue;
    }
    EXPECT_FALSE(LoadString(child.text_id).empty())
        << where << ": text " << child.text_id;
    if (child.command == 0) {
      EXPECT_FALSE(child.children.empty()) << where << ": empty popup";
      CheckMenu(child, commands, where);
    } else {
      EXPECT_TRUE(child.children.empty()) << where;
      commands->insert(child.command);
    }
  }
}

TEST(MenuTableTest, MenusAreWellFormedAndNamed) {
  // Resource numbers; 0 for the bars that have none.
  const std::vector<std::pair<uint32_t, const MenuEntry*>> kMenus = {
      {101, &MainMenuBar()},         {109, &OkCancelMenuBar()},
      {114, &HotkeyRowMenu()},       {116, &ComposeMenuBar()},
      {118, &ImportMenuBar()},       {122, &MessageViewMenuBar()},
      {133, &PickerMultiMenuBar()},  {134, &DoneCancelMenuBar()},
      {145, &ContextMenus()},        {201, &HotkeyMenuBar()},
      {202, &PickerSingleMenuBar()}, {203, &MyTextMenuBar()},
      {204, &GroupMenuBar()},        {0, &FilterListMenuBar()},
      {0, &BlackListMenuBar()},
  };
  for (const auto& [resource, menu] : kMenus) {
    if (resource != 0) {
      EXPECT_EQ(MenuResource(resource), menu) << resource;
    }
    std::multiset<uint32_t> commands;
    CheckMenu(*menu, &commands, "menu " + std::to_string(resource));
    // Within one bar (the three context menus apart) no command is offered
    // twice.
    if (resource == 145) continue;
    for (uint32_t command : commands) {
      EXPECT_EQ(commands.count(command), 1u)
          << "menu " << resource << " sends " << command << " twice";
    }
  }
  EXPECT_EQ(MenuResource(999), nullptr);
}

TEST(MenuTableTest, MainMenusHaveTheirDescribedShape) {
  const MenuEntry& bar = MainMenuBar();
  ASSERT_EQ(bar.children.size(), 2u);
  ASSERT_NE(FindCommand(bar, cmds::kMarkAsRead), nullptr);
  ASSERT_NE(FindCommand(bar, cmds::kOpen), nullptr);
  EXPECT_NE(FindCommand(bar, cmds::kPreviewMode), nullptr);
  EXPECT_EQ(FindCommand(bar, 0), nullptr);

  // "Mark": read, unread, a separator where the marks go, "Manage Mark...".
  const MenuEntry* mark = FindPopup(bar.children[1], ids::kMarkMenu);
  ASSERT_NE(mark, nullptr);
  ASSERT_EQ(mark->children.size(), 4u);
  EXPECT_EQ(mark->children[0].command, cmds::kMarkAsRead);
  EXPECT_EQ(mark->children[1].command, cmds::kMarkAsUnread);
  EXPECT_TRUE(mark->children[kMarkInsertIndex - 1].separator);
  EXPECT_EQ(mark->children[kMarkInsertIndex].command, cmds::kManageMark);

  const MenuEntry& context = ContextMenus();
  ASSERT_EQ(context.children.size(), 3u);
  EXPECT_EQ(LoadString(context.children[0].text_id), u"TreeNode");
  EXPECT_EQ(LoadString(context.children[1].text_id), u"Filter");
  EXPECT_EQ(LoadString(context.children[2].text_id), u"Black List");

  // The message view drops its first seven "Options" entries for a new
  // note; the seventh must be the separator after "Delete".
  const MenuEntry& options = MessageViewMenuBar().children[1];
  ASSERT_GT(options.children.size(), 7u);
  EXPECT_EQ(options.children[5].command, cmds::kDelete);
  EXPECT_TRUE(options.children[6].separator);

  std::u16string tooltips;
  for (const ToolbarButton& button : MainToolbar()) {
    tooltips += LoadString(button.text_id) + u"|";
  }
  EXPECT_EQ(tooltips, u"Save|New Draft|New SMS|Edit|Delete|Reply|Forward|");
}

// What windows show: the kit's widgets take their texts from the table, by
// the ids the menu table and the dialogs name.

// Every entry of `entry` as `menu` shows it, in order: separators, popups
// titled with their text, commands with theirs.
void ExpectShown(const MenuEntry& entry, QMenu* menu,
                 const std::string& where) {
  ASSERT_NE(menu, nullptr) << where;
  const QList<QAction*> actions = menu->actions();
  ASSERT_EQ(static_cast<size_t>(actions.size()), entry.children.size())
      << where;
  for (size_t i = 0; i < entry.children.size(); ++i) {
    const MenuEntry& child = entry.children[i];
    const QAction* action = actions[static_cast<qsizetype>(i)];
    const std::string at = where + " #" + std::to_string(i);
    if (child.separator) {
      EXPECT_TRUE(action->isSeparator()) << at;
      continue;
    }
    EXPECT_EQ(U(action->text()), LoadString(child.text_id)) << at;
    EXPECT_FALSE(action->text().isEmpty()) << at;
    if (child.command == 0) {
      ExpectShown(child, action->menu(), at);
    } else {
      EXPECT_EQ(CommandOf(action), child.command) << at;
    }
  }
}

class StringTableWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureApplication();
    previous_ = SetMessageScript([this](const MessageRequest& request) {
      messages_.push_back(request);
      return kAnswerOk;
    });
  }
  void TearDown() override { SetMessageScript(previous_); }

  std::vector<MessageRequest> messages_;
  MessageScript previous_;
};

TEST_F(StringTableWindowTest, TheMainMenuBarShowsTheTextsOfItsIds) {
  DeviceDialog window(nullptr, 101);
  window.soft_keys()->SetMenuBar(MainMenuBar());
  SoftKeyBar* keys = window.soft_keys();
  EXPECT_EQ(keys->left_key()->text(), QStringLiteral("System"));
  EXPECT_EQ(keys->right_key()->text(), QStringLiteral("Menu"));
  ExpectShown(MainMenuBar().children[0], keys->left_menu(), "System");
  ExpectShown(MainMenuBar().children[1], keys->menu(), "Menu");

  // A command whose id also numbers another text shows its own text.
  const QAction* read = FindCommand(keys->menu(), cmds::kMarkAsRead);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->text(), QStringLiteral("Mark as Read"));
  EXPECT_EQ(LoadString(cmds::kMarkAsRead), u"Fail");
  const QAction* open = FindCommand(keys->left_menu(), cmds::kOpen);
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->text(), QStringLiteral("Open..."));
}

TEST_F(StringTableWindowTest, DialogsAndMessageBoxesShowTheTextsOfTheirIds) {
  std::u16string password = u"secret";
  PasswordDialog prompt(nullptr, PasswordMode::kCheck, &password);
  EXPECT_EQ(prompt.title_bar()->caption(), QStringLiteral("Password"));
  QLabel* label = FindControl<QLabel>(&prompt, kPasswordLabel);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QStringLiteral("Input Password:"));
  EXPECT_EQ(prompt.soft_keys()->left_key()->text(), QStringLiteral("OK"));
  EXPECT_EQ(prompt.soft_keys()->right_key()->text(), QStringLiteral("Cancel"));

  EXPECT_EQ(ShowMessageId(&prompt, ids::kPasswordError, ids::kCaptionError),
            kAnswerOk);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, QStringLiteral("Password Error!"));
  EXPECT_EQ(messages_[0].caption, QStringLiteral("Error"));
}

TEST_F(StringTableWindowTest, AnIdWithoutATextShowsNothing) {
  // 45099 and 46199 name no text (see IdsAreSortedUniqueNamedAndInRange):
  // they read as the empty text, so a command key without a text is not
  // shown, and a popup and its entry show no words.
  MenuEntry exit;
  exit.command = cmds::kExit;
  exit.text_id = 45099;
  MenuEntry about_entry = exit;
  about_entry.command = cmds::kAbout;
  MenuEntry popup;
  popup.text_id = 46199;
  popup.children = {about_entry};
  MenuEntry bar;
  bar.children = {exit, popup};
  DeviceDialog window(nullptr, 101);
  window.soft_keys()->SetMenuBar(bar);
  EXPECT_TRUE(window.soft_keys()->left_key()->text().isEmpty());
  EXPECT_TRUE(window.soft_keys()->left_key()->isHidden());
  EXPECT_TRUE(window.soft_keys()->right_key()->text().isEmpty());
  ASSERT_NE(window.soft_keys()->menu(), nullptr);
  const QAction* about = FindCommand(window.soft_keys()->menu(), cmds::kAbout);
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(about->text().isEmpty());

  ShowMessageId(&window, 45099, ids::kCaptionAlert);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].text.isEmpty());
  EXPECT_EQ(messages_[0].caption, QStringLiteral("Alert"));
}

}  // namespace
}  // namespace kit
