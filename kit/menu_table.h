// The program's menus as data: every menu bar and popup, with the command
// each entry sends and the string-table id of its text (string_table.h).
//
// A menu is a tree of MenuEntry. The root of a menu bar has no text; its
// children are the two soft keys, the left one usually a command, the right
// one a popup ("Menu"). A popup has command 0 and its entries as children;
// a separator has command 0, text 0 and no children.
//
// Menus and the windows they belong to:
//   MainMenuBar()          101  main window ("System" and "Menu")
//   ContextMenus()         145  tap-and-hold menus: "TreeNode" (main
//                               window tree), "Filter" (Filter List rows),
//                               "Black List" (Black List rows)
//   OkCancelMenuBar()      109  password prompt, timer dialog, group
//                               sending, Filter Edit, Rule Editor, Font
//                               Setting and Font dialogs
//   DoneCancelMenuBar()    134  file browser, Preference, SMS Setting,
//                               Alert Option and Security dialogs
//   ComposeMenuBar()       116  compose window
//   ImportMenuBar()        118  import dialog
//   MessageViewMenuBar()   122  message view
//   PickerMultiMenuBar()   133  contact picker, several choices with groups
//   PickerSingleMenuBar()  202  contact picker, single choice
//   HotkeyMenuBar()        201  hotkey dialog
//   HotkeyRowMenu()        114  hotkey dialog, tap-and-hold on a row
//   MyTextMenuBar()        203  stock sentences and marks
//   GroupMenuBar()         204  group dialog and member editor
//   FilterListMenuBar()         Filter List (no resource number)
//   BlackListMenuBar()          Black List (no resource number)
//
// Entries whose place is not laid down are in the order of the main
// window's command table (see menu_table.cc for which ones).
//
// Menus built at run time: the "Mark" popup gets one entry per mark
// (command cmds::kMarkBase + i, text = the mark's name) followed by a
// separator, inserted at kMarkInsertIndex, when at least one mark exists;
// the pickers' "Category" popup gets one entry per category (command
// cmds::kCategoryBase + i) after "All".
//
// All menus are constant and built once on first use; any thread may read
// them, and the references stay valid for the life of the program.
#ifndef TELVANE_KIT_MENU_TABLE_H_
#define TELVANE_KIT_MENU_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kit {

struct MenuEntry {
  uint32_t command = 0;  // 0 for a popup or a separator
  uint32_t text_id = 0;  // string table id; 0 for a separator or a bar root
  std::vector<MenuEntry> children;
  bool separator = false;
};

// Command identifiers that menus, the toolbar and hotkeys send.
namespace cmds {

// Main window (menu 101, toolbar, hotkeys).
inline constexpr uint32_t kOkButton = 1;  // the title bar's OK button
inline constexpr uint32_t kMinimize = 40343;
inline constexpr uint32_t kView = 40001;
inline constexpr uint32_t kExit = 40007;
inline constexpr uint32_t kAbout = 40013;
inline constexpr uint32_t kImportSms = 40020;
inline constexpr uint32_t kCopy = 40041;
inline constexpr uint32_t kCut = 40042;
inline constexpr uint32_t kPaste = 40058;
inline constexpr uint32_t kNewFolder = 40063;
inline constexpr uint32_t kNewDraft = 40065;
inline constexpr uint32_t kNewRootFolder = 40296;
inline constexpr uint32_t kNodeProperty = 40067;
inline constexpr uint32_t kNodePassword = 40068;
inline constexpr uint32_t kSave = 40069;
inline constexpr uint32_t kFileProperty = 40070;
inline constexpr uint32_t kDelete = 40072;
inline constexpr uint32_t kOpen = 40074;
inline constexpr uint32_t kClose = 40076;
inline constexpr uint32_t kReply = 40080;
inline constexpr uint32_t kForward = 40282;
inline constexpr uint32_t kResend = 40452;
inline constexpr uint32_t kQuote = 40490;
inline constexpr uint32_t kNewSms = 40083;
inline constexpr uint32_t kNewFile = 40084;
inline constexpr uint32_t kPreference = 40257;
inline constexpr uint32_t kFilterList = 40297;
inline constexpr uint32_t kBlackList = 40325;
inline constexpr uint32_t kContactDefault = 40330;
inline constexpr uint32_t kStrangerDefault = 40332;
inline constexpr uint32_t kFilePassword = 40324;
inline constexpr uint32_t kHotkey = 40327;
inline constexpr uint32_t kExportText = 40341;
inline constexpr uint32_t kSecurity = 40346;
inline constexpr uint32_t kSmsSetting = 40349;
inline constexpr uint32_t kPreviewMode = 40374;
inline constexpr uint32_t kCompress = 40385;
inline constexpr uint32_t kAlertOption = 40399;
inline constexpr uint32_t kMarkAsRead = 40428;
inline constexpr uint32_t kMarkAsUnread = 40429;
inline constexpr uint32_t kManageMark = 40430;
inline constexpr uint32_t kMarkBase = 30000;  // mark i is kMarkBase + i
inline constexpr uint32_t kSelectAll = 40444;
inline constexpr uint32_t kUnselectAll = 40446;
inline constexpr uint32_t kSelectUnselect = 40448;
inline constexpr uint32_t kEmptyFolder = 40454;
inline constexpr uint32_t kEmptyRecycleBin = 40284;
inline constexpr uint32_t kToggleRecycleBin = 40456;  // add or delete it
inline constexpr uint32_t kFontSetting = 40493;
// The XML backup entries beside "Export Txt file..."; their identifiers
// are those of their texts.
inline constexpr uint32_t kImportXmlBackup = 46190;
inline constexpr uint32_t kExportXmlBackup = 46191;

// Compose window (menu 116).
inline constexpr uint32_t kSend = 40018;
inline constexpr uint32_t kTimer = 1113;
inline constexpr uint32_t kStatusReport = 1032;
inline constexpr uint32_t kInsertMyText = 40395;
inline constexpr uint32_t kInsertContact = 40384;
inline constexpr uint32_t kInsertTime = 40382;
inline constexpr uint32_t kInsertDate = 40383;
inline constexpr uint32_t kCancel = 40016;  // every dialog's "Cancel"

// Message view (menu 122); it also sends kReply, kResend, kQuote, kDelete
// and kNodeProperty.
inline constexpr uint32_t kViewForward = 40079;
inline constexpr uint32_t kDial = 40450;
inline constexpr uint32_t kEdit = 40362;
inline constexpr uint32_t kViewPassword = 1019;
inline constexpr uint32_t kSetAsBlacklist = 40386;
inline constexpr uint32_t kPrevious = 40356;
inline constexpr uint32_t kNext = 40357;

// Import dialog (menu 118); its left key "Import" sends kImportSms.
inline constexpr uint32_t kDeleteAfterImport = 40027;
inline constexpr uint32_t kFromSentItems = 40368;
inline constexpr uint32_t kFromInbox = 40370;
inline constexpr uint32_t kCheckAll = 40025;    // also the pickers
inline constexpr uint32_t kUncheckAll = 40026;  // also the pickers

// Contact picker (menus 133 and 202).
inline constexpr uint32_t kPickerConfirm = 40090;  // "Add" or "OK"
inline constexpr uint32_t kAllCategories = 40460;
inline constexpr uint32_t kCategoryBase = 40461;  // category i

// Stock sentences (menu 203), hotkey dialog (menu 201), group dialog (204).
inline constexpr uint32_t kOk = 40182;  // the soft key "OK"
inline constexpr uint32_t kAdd = 40085;
inline constexpr uint32_t kModify = 40394;
inline constexpr uint32_t kReset = 40184;
inline constexpr uint32_t kGroupAdd = 1105;  // has no effect (see GroupMenuBar)

// Commands that no other source numbers take their identifiers from the
// reserved range 47000 and up.
inline constexpr uint32_t kDone = 47000;
inline constexpr uint32_t kNewFilter = 47001;
inline constexpr uint32_t kFastCreate = 47002;
inline constexpr uint32_t kEditFilter = 47003;
inline constexpr uint32_t kMoveUp = 47004;
inline constexpr uint32_t kMoveDown = 47005;
inline constexpr uint32_t kSelectFromContact = 47006;
inline constexpr uint32_t kRefresh = 47007;
inline constexpr uint32_t kSetPhoto = 47008;
inline constexpr uint32_t kDeletePhoto = 47009;
inline constexpr uint32_t kShowPhoto = 47010;
inline constexpr uint32_t kAddToGroup = 47011;
inline constexpr uint32_t kEditGroup = 47012;
inline constexpr uint32_t kDeleteGroup = 47013;
inline constexpr uint32_t kUnmap = 47014;

}  // namespace cmds

// Where the run-time mark entries go in the "Mark" popup.
inline constexpr size_t kMarkInsertIndex = 3;

const MenuEntry& MainMenuBar();
const MenuEntry& ContextMenus();
const MenuEntry& OkCancelMenuBar();
const MenuEntry& DoneCancelMenuBar();
const MenuEntry& ComposeMenuBar();
const MenuEntry& ImportMenuBar();
const MenuEntry& MessageViewMenuBar();
const MenuEntry& PickerMultiMenuBar();
const MenuEntry& PickerSingleMenuBar();
const MenuEntry& HotkeyMenuBar();
const MenuEntry& HotkeyRowMenu();
const MenuEntry& MyTextMenuBar();
const MenuEntry& GroupMenuBar();
const MenuEntry& FilterListMenuBar();
const MenuEntry& BlackListMenuBar();

// The menu with resource number `resource` (101, 109, 114, 116, 118, 122,
// 133, 134, 145, 201, 202, 203, 204); nullptr for any other number.
const MenuEntry* MenuResource(uint32_t resource);

// The first entry below `menu` (depth first, in order) that sends
// `command`; nullptr when there is none or `command` is 0.
const MenuEntry* FindCommand(const MenuEntry& menu, uint32_t command);

// The first popup directly below `menu` whose text is `text_id`.
const MenuEntry* FindPopup(const MenuEntry& menu, uint32_t text_id);

// A button of a window's toolbar.
struct ToolbarButton {
  int image;  // index in the toolbar bitmap; -1 for a gap
  uint32_t command;
  uint32_t text_id;  // the tooltip or button text; 0 for a gap
};

// The main window's seven buttons (bitmap 131) with their tooltips.
std::span<const ToolbarButton> MainToolbar();

// The message view's image buttons on menu bar 122: "Edit", "Delete", a
// gap, "Previous", "Next" (images in that order, the gap has none).
std::span<const ToolbarButton> MessageViewButtons();

}  // namespace kit

#endif  // TELVANE_KIT_MENU_TABLE_H_
