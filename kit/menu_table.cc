#include "kit/menu_table.h"

#include <initializer_list>
#include <iterator>

#include "kit/string_table.h"

namespace kit {
namespace {

namespace s = ids;

MenuEntry Item(uint32_t command, uint32_t text_id) {
  return MenuEntry{command, text_id, {}, false};
}

MenuEntry Popup(uint32_t text_id, std::initializer_list<MenuEntry> children) {
  return MenuEntry{0, text_id, std::vector<MenuEntry>(children), false};
}

MenuEntry Separator() { return MenuEntry{0, 0, {}, true}; }

MenuEntry Bar(std::initializer_list<MenuEntry> keys) {
  return MenuEntry{0, 0, std::vector<MenuEntry>(keys), false};
}

// "Mark as Read", "Mark as Unread", a separator, then the marks and one
// separator after them (added at run time at kMarkInsertIndex when there is
// at least one mark), "Manage Mark...".
MenuEntry MarkPopup() {
  return Popup(s::kMarkMenu,
               {Item(cmds::kMarkAsRead, s::kMarkAsRead),
                Item(cmds::kMarkAsUnread, s::kMarkAsUnread), Separator(),
                Item(cmds::kManageMark, s::kManageMarkEllipsis)});
}

// The entries that act on the chosen node, shared by the "Menu" popup and
// the tree's "TreeNode" menu, in the order of the main window's command
// table (the menus themselves are not laid out anywhere else).
std::vector<MenuEntry> NodeEntries(bool with_list_entries) {
  std::vector<MenuEntry> entries = {
      Item(cmds::kView, s::kView),
      Item(cmds::kImportSms, s::kImportSmsEllipsis),
      Item(cmds::kCopy, s::kCopy),
      Item(cmds::kCut, s::kCut),
      Item(cmds::kPaste, s::kPaste),
      Item(cmds::kNewFolder, s::kFolderEllipsis),
      Item(cmds::kNewDraft, s::kDraftEllipsis),
      Item(cmds::kNodeProperty, s::kPropertyEllipsis),
      Item(cmds::kNodePassword, s::kPasswordEllipsis),
      Item(cmds::kDelete, s::kDelete),
      Item(cmds::kReply, s::kReplyEllipsis),
      Item(cmds::kForward, s::kForwardEllipsis),
      Item(cmds::kResend, s::kResendEllipsis),
      Item(cmds::kQuote, s::kQuoteEllipsis),
  };
  // "SMS..." starts a new message whatever is chosen; the tree's menu
  // leaves it out.
  if (with_list_entries) {
    entries.push_back(Item(cmds::kNewSms, s::kSmsEllipsis));
  }
  entries.push_back(Item(cmds::kExportText, s::kExportTxtFileEllipsis));
  entries.push_back(Item(cmds::kImportXmlBackup, s::kImportXmlBackupEllipsis));
  entries.push_back(Item(cmds::kExportXmlBackup, s::kExportXmlBackupEllipsis));
  entries.push_back(MarkPopup());
  // The selection marks exist only in the list (display mode 2).
  if (with_list_entries) {
    entries.push_back(Item(cmds::kSelectAll, s::kSelectAll));
    entries.push_back(Item(cmds::kUnselectAll, s::kUnselectAll));
    entries.push_back(Item(cmds::kSelectUnselect, s::kSelectUnselect));
  }
  entries.push_back(Item(cmds::kEmptyFolder, s::kEmptyFolder));
  return entries;
}

MenuEntry BuildMainMenuBar() {
  // "System" holds what concerns the program and the document file; its
  // order is that of the command table, each submenu standing where its
  // first entry stands. The "Options" and "Firewall" entries are in the
  // order of the same table (which is also the Firewall menu's own order).
  MenuEntry system = Popup(
      s::kSystemMenu,
      {
          Item(cmds::kMinimize, s::kMinimize),
          Item(cmds::kExit, s::kExit),
          Item(cmds::kAbout, s::kAboutEllipsis),
          Item(cmds::kNewRootFolder, s::kRootFolderEllipsis),
          Item(cmds::kSave, s::kSave),
          Item(cmds::kFileProperty, s::kFilePropertyEllipsis),
          Item(cmds::kOpen, s::kOpenEllipsis),
          Item(cmds::kClose, s::kClose),
          Item(cmds::kNewFile, s::kNewEllipsis),
          Popup(s::kOptionsMenu,
                {Item(cmds::kPreference, s::kPreferenceEllipsis),
                 Item(cmds::kHotkey, s::kHotkeyEllipsis),
                 Item(cmds::kSecurity, s::kSecurityEllipsis),
                 Item(cmds::kSmsSetting, s::kSmsEllipsis),
                 Item(cmds::kAlertOption, s::kAlertEllipsis),
                 Item(cmds::kFontSetting, s::kFontEllipsis)}),
          Popup(s::kFirewallMenu,
                {Item(cmds::kFilterList, s::kFilterEllipsis),
                 Item(cmds::kBlackList, s::kBlackListEllipsis),
                 Item(cmds::kContactDefault, s::kContactDefaultEllipsis),
                 Item(cmds::kStrangerDefault, s::kStrangerDefaultEllipsis)}),
          Item(cmds::kFilePassword, s::kFilePasswordEllipsis),
          Item(cmds::kPreviewMode, s::kPreviewMode),
          Item(cmds::kCompress, s::kCompress),
          Item(cmds::kEmptyRecycleBin, s::kEmptyRecycleBin),
          // Reads "Delete Recycle Bin" while the document has one.
          Item(cmds::kToggleRecycleBin, s::kAddRecycleBin),
      });
  MenuEntry menu = Popup(s::kMenu, {});
  menu.children = NodeEntries(/*with_list_entries=*/true);
  return Bar({system, menu});
}

MenuEntry BuildContextMenus() {
  MenuEntry tree_node = Popup(s::kTreeNodeMenu, {});
  tree_node.children = NodeEntries(/*with_list_entries=*/false);
  // The Filter List's tap-and-hold menu repeats its "Operate" menu.
  MenuEntry filter =
      Popup(s::kFilterMenu, {
                                Item(cmds::kNewFilter, s::kNewEllipsis),
                                Item(cmds::kFastCreate, s::kFastCreateEllipsis),
                                Item(cmds::kEditFilter, s::kEditEllipsis),
                                Item(cmds::kDelete, s::kDelete),
                                Item(cmds::kMoveUp, s::kKeyUp),
                                Item(cmds::kMoveDown, s::kKeyDown),
                            });
  MenuEntry black_list =
      Popup(s::kBlackListMenu, {Item(cmds::kDelete, s::kDelete)});
  return Bar({tree_node, filter, black_list});
}

MenuEntry PhotoPopup() {
  return Popup(s::kPhotoMenu, {Item(cmds::kSetPhoto, s::kSetPhotoEllipsis),
                               Item(cmds::kDeletePhoto, s::kDeletePhoto)});
}

// "All" and then the categories, added at run time.
MenuEntry CategoryPopup() {
  return Popup(s::kCategoryMenu,
               {Item(cmds::kAllCategories, s::kAllCategories)});
}

}  // namespace

const MenuEntry& MainMenuBar() {
  static const MenuEntry* const menu = new MenuEntry(BuildMainMenuBar());
  return *menu;
}

const MenuEntry& ContextMenus() {
  static const MenuEntry* const menu = new MenuEntry(BuildContextMenus());
  return *menu;
}

const MenuEntry& OkCancelMenuBar() {
  static const MenuEntry* const menu = new MenuEntry(
      Bar({Item(cmds::kOk, s::kOk), Item(cmds::kCancel, s::kCancel)}));
  return *menu;
}

const MenuEntry& DoneCancelMenuBar() {
  static const MenuEntry* const menu = new MenuEntry(
      Bar({Item(cmds::kDone, s::kDone), Item(cmds::kCancel, s::kCancel)}));
  return *menu;
}

const MenuEntry& ComposeMenuBar() {
  static const MenuEntry* const menu = new MenuEntry(
      Bar({Item(cmds::kSend, s::kSend),
           Popup(s::kMenu,
                 {Item(cmds::kSave, s::kSave),
                  Item(cmds::kTimer, s::kTimerEllipsis),
                  Item(cmds::kStatusReport, s::kStatusReport), Separator(),
                  Item(cmds::kInsertMyText, s::kInsertMyText),
                  Item(cmds::kInsertContact, s::kInsertContact),
                  Item(cmds::kInsertTime, s::kInsertTime),
                  Item(cmds::kInsertDate, s::kInsertDate),
                  Item(cmds::kCancel, s::kCancel)})}));
  return *menu;
}

const MenuEntry& ImportMenuBar() {
  static const MenuEntry* const menu = new MenuEntry(
      Bar({Item(cmds::kImportSms, s::kImport),
           Popup(s::kMenu,
                 {Item(cmds::kDeleteAfterImport, s::kDeleteAfterImport),
                  Separator(), Item(cmds::kFromSentItems, s::kFromSentItems),
                  Item(cmds::kFromInbox, s::kFromInbox), Separator(),
                  Item(cmds::kCheckAll, s::kCheckAll),
                  Item(cmds::kUncheckAll, s::kUncheckAll), Separator(),
                  Item(cmds::kCancel, s::kCancel)})}));
  return *menu;
}

const MenuEntry& MessageViewMenuBar() {
  // A new note drops the first seven entries of "Options" ("Forward..." to
  // the separator after "Delete").
  static const MenuEntry* const menu = new MenuEntry(
      Bar({Item(cmds::kReply, s::kReply),
           Popup(s::kOptionsMenu,
                 {Item(cmds::kViewForward, s::kForwardEllipsis),
                  Popup(s::kKeyAction, {Item(cmds::kResend, s::kResendEllipsis),
                                        Item(cmds::kQuote, s::kQuoteEllipsis)}),
                  Item(cmds::kDial, s::kDial), Item(cmds::kEdit, s::kEdit),
                  Separator(), Item(cmds::kDelete, s::kDelete), Separator(),
                  Item(cmds::kNodeProperty, s::kPropertyEllipsis),
                  Item(cmds::kViewPassword, s::kPasswordEllipsis),
                  Popup(s::kOtherMenu,
                        {Item(cmds::kSetAsBlacklist, s::kSetAsBlacklist)}),
                  Item(cmds::kCancel, s::kCancel)})}));
  return *menu;
}

const MenuEntry& PickerMultiMenuBar() {
  static const MenuEntry* const menu = new MenuEntry(Bar(
      {Item(cmds::kPickerConfirm, s::kAdd),
       Popup(s::kMenu, {Item(cmds::kRefresh, s::kRefresh), CategoryPopup(),
                        Item(cmds::kCheckAll, s::kCheckAll),
                        Item(cmds::kUncheckAll, s::kUncheckAll),
                        Popup(s::kSendGroup,
                              {Item(cmds::kAddToGroup, s::kAddToGroupEllipsis),
                               Item(cmds::kEditGroup, s::kEditGroupEllipsis),
                               Item(cmds::kDeleteGroup, s::kDeleteGroup)}),
                        PhotoPopup(), Item(cmds::kShowPhoto, s::kShowPhoto),
                        Item(cmds::kCancel, s::kCancel)})}));
  return *menu;
}

const MenuEntry& PickerSingleMenuBar() {
  static const MenuEntry* const menu = new MenuEntry(
      Bar({Item(cmds::kPickerConfirm, s::kOk),
           Popup(s::kMenu, {Item(cmds::kRefresh, s::kRefresh), CategoryPopup(),
                            PhotoPopup(), Item(cmds::kShowPhoto, s::kShowPhoto),
                            Item(cmds::kCancel, s::kCancel)})}));
  return *menu;
}

const MenuEntry& HotkeyMenuBar() {
  static const MenuEntry* const menu = new MenuEntry(
      Bar({Item(cmds::kOk, s::kOk), Item(cmds::kReset, s::kReset)}));
  return *menu;
}

const MenuEntry& HotkeyRowMenu() {
  static const MenuEntry* const menu =
      new MenuEntry(Bar({Popup(s::kKeyMenu, {Item(cmds::kUnmap, s::kUnmap)})}));
  return *menu;
}

const MenuEntry& MyTextMenuBar() {
  static const MenuEntry* const menu =
      new MenuEntry(Bar({Item(cmds::kOk, s::kOk),
                         Popup(s::kMenu, {Item(cmds::kAdd, s::kAdd),
                                          Item(cmds::kModify, s::kModify),
                                          Item(cmds::kDelete, s::kDelete),
                                          Item(cmds::kCancel, s::kCancel)})}));
  return *menu;
}

const MenuEntry& GroupMenuBar() {
  // In the group dialog the menu's "Add" does nothing; its "Add" button
  // adds. The member editor's "Add" adds.
  static const MenuEntry* const menu =
      new MenuEntry(Bar({Item(cmds::kDone, s::kDone),
                         Popup(s::kMenu, {Item(cmds::kGroupAdd, s::kAdd),
                                          Item(cmds::kDelete, s::kDelete)})}));
  return *menu;
}

const MenuEntry& FilterListMenuBar() {
  static const MenuEntry* const menu = new MenuEntry(Bar(
      {Item(cmds::kDone, s::kDone),
       Popup(s::kOperateMenu,
             {Item(cmds::kNewFilter, s::kNewEllipsis),
              Item(cmds::kFastCreate, s::kFastCreateEllipsis),
              Item(cmds::kEditFilter, s::kEditEllipsis),
              Item(cmds::kDelete, s::kDelete), Item(cmds::kMoveUp, s::kKeyUp),
              Item(cmds::kMoveDown, s::kKeyDown)})}));
  return *menu;
}

const MenuEntry& BlackListMenuBar() {
  static const MenuEntry* const menu = new MenuEntry(Bar(
      {Item(cmds::kDone, s::kDone),
       Popup(
           s::kMenu,
           {Item(cmds::kAdd, s::kAdd), Item(cmds::kDelete, s::kDelete),
            Item(cmds::kSelectFromContact, s::kSelectFromContactEllipsis)})}));
  return *menu;
}

const MenuEntry* MenuResource(uint32_t resource) {
  switch (resource) {
    case 101:
      return &MainMenuBar();
    case 109:
      return &OkCancelMenuBar();
    case 114:
      return &HotkeyRowMenu();
    case 116:
      return &ComposeMenuBar();
    case 118:
      return &ImportMenuBar();
    case 122:
      return &MessageViewMenuBar();
    case 133:
      return &PickerMultiMenuBar();
    case 134:
      return &DoneCancelMenuBar();
    case 145:
      return &ContextMenus();
    case 201:
      return &HotkeyMenuBar();
    case 202:
      return &PickerSingleMenuBar();
    case 203:
      return &MyTextMenuBar();
    case 204:
      return &GroupMenuBar();
  }
  return nullptr;
}

const MenuEntry* FindCommand(const MenuEntry& menu, uint32_t command) {
  if (command == 0) return nullptr;
  for (const MenuEntry& child : menu.children) {
    if (child.command == command) return &child;
    if (const MenuEntry* found = FindCommand(child, command)) return found;
  }
  return nullptr;
}

const MenuEntry* FindPopup(const MenuEntry& menu, uint32_t text_id) {
  for (const MenuEntry& child : menu.children) {
    if (child.command == 0 && !child.separator && child.text_id == text_id) {
      return &child;
    }
  }
  return nullptr;
}

std::span<const ToolbarButton> MainToolbar() {
  static constexpr ToolbarButton kButtons[] = {
      {0, cmds::kSave, s::kSave},       {1, cmds::kNewDraft, s::kNewDraft},
      {2, cmds::kNewSms, s::kNewSms},   {3, cmds::kView, s::kEdit},
      {4, cmds::kDelete, s::kDelete},   {5, cmds::kReply, s::kReply},
      {6, cmds::kForward, s::kForward},
  };
  return kButtons;
}

std::span<const ToolbarButton> MessageViewButtons() {
  static constexpr ToolbarButton kButtons[] = {
      {0, cmds::kEdit, s::kEdit},
      {1, cmds::kDelete, s::kDelete},
      {-1, 0, 0},
      {2, cmds::kPrevious, s::kPrevious},
      {3, cmds::kNext, s::kNext},
  };
  return kButtons;
}

}  // namespace kit
