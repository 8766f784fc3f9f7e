// The program's string table: every text the user sees, by number.
//
// Windows, dialogs, menus and message boxes take their texts from here and
// use them exactly as written, spelling included ("Volumn Up", "emtpying",
// "Repley"), and format strings keep their "%s" and "%d" as they are. The
// message-box captions are kCaptionAlert, kCaptionError and kCaptionWarning.
//
// Numbers:
// - Texts that the program has always known by a number keep it (the
//   captions 40061 and 40062, "Input Password:" 40023, the send reports
//   40363 and 40373, the hardware key names from 1100, ...).
// - A menu entry's text shares its command's number when that number names
//   no other text. Where the number already belongs to another text (a
//   hotkey row label such as "New File" for command 40084, or "Fail" 40428
//   next to the command "Mark as Read" 40428), the menu text has a number of
//   its own; menu_table.h pairs each command with its text.
// - Every other text has a number from the reserved range 45000 to 46199,
//   one block of 100 per window:
//     45000 shared texts          45600 message view
//     45100 main window, menus    45700 group sending
//     45200 file browser          45800 contact picker, groups, sentences
//     45300 password, property    45900 import dialog
//     45400 filter editors        46000 hotkey dialog
//     45500 compose, timer        46100 option dialogs
//   New texts take the next free number of their window's block.
//
// The table is constant data built into the program: any thread may read
// it at any time, and the views handed out by AllStrings() live as long as
// the program.
#ifndef TELVANE_KIT_STRING_TABLE_H_
#define TELVANE_KIT_STRING_TABLE_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kit {

struct StringEntry {
  uint32_t id;
  std::u16string_view text;
};

// The text with number `id`; the empty text when the table has none.
std::u16string LoadString(uint32_t id);

// The same text as a view into the table (empty for an unknown id).
std::u16string_view StringView(uint32_t id);

// Every entry, sorted by id, each id once.
std::span<const StringEntry> AllStrings();

namespace ids {

// Message-box captions, product name and texts shared by many windows.
// "Alert"
inline constexpr uint32_t kCaptionAlert = 40061;
// "Error"
inline constexpr uint32_t kCaptionError = 40062;
// "Warning"
inline constexpr uint32_t kCaptionWarning = 45000;
// "Telvane" (window title, Today item key, About)
inline constexpr uint32_t kProductName = 40286;
// "Menu" (right soft key of every menu bar)
inline constexpr uint32_t kMenu = 45001;
// "Done"
inline constexpr uint32_t kDone = 45002;
// "OK"
inline constexpr uint32_t kOk = 40182;
// "Cancel"
inline constexpr uint32_t kCancel = 40016;
// "Add"
inline constexpr uint32_t kAdd = 40085;
// "Delete"
inline constexpr uint32_t kDelete = 40072;
// "Browse..."
inline constexpr uint32_t kBrowseEllipsis = 45003;
// "Password..." (menus and buttons)
inline constexpr uint32_t kPasswordEllipsis = 45004;
// "Test..." (skin preview buttons)
inline constexpr uint32_t kTestEllipsis = 45005;

// Main window: menus, toolbar, title strip, list rows.
// Where a command's text is also a hotkey row label, the label owns the
// command's id and the menu text has an id of its own.
// "System" (also the default font face)
inline constexpr uint32_t kSystemMenu = 45100;
// "Options" (also the message view's popup)
inline constexpr uint32_t kOptionsMenu = 45101;
// "Firewall"
inline constexpr uint32_t kFirewallMenu = 45102;
// "Mark"
inline constexpr uint32_t kMarkMenu = 45103;
// "TreeNode" (context menus (menu 145))
inline constexpr uint32_t kTreeNodeMenu = 45104;
// "Filter"
inline constexpr uint32_t kFilterMenu = 45105;
// "Black List"
inline constexpr uint32_t kBlackListMenu = 45106;
// "Minimize"
inline constexpr uint32_t kMinimize = 40343;
// "View"
inline constexpr uint32_t kView = 40001;
// "Exit"
inline constexpr uint32_t kExit = 40007;
// "About..."
inline constexpr uint32_t kAboutEllipsis = 40013;
// "Import SMS..."
inline constexpr uint32_t kImportSmsEllipsis = 40020;
// "Copy"
inline constexpr uint32_t kCopy = 40041;
// "Cut"
inline constexpr uint32_t kCut = 40042;
// "Paste"
inline constexpr uint32_t kPaste = 40058;
// "Folder..."
inline constexpr uint32_t kFolderEllipsis = 40063;
// "Draft..." (command 40065)
inline constexpr uint32_t kDraftEllipsis = 45107;
// "Root Folder..."
inline constexpr uint32_t kRootFolderEllipsis = 40296;
// "Property..." (command 40067)
inline constexpr uint32_t kPropertyEllipsis = 45108;
// "Save" (menu, toolbar tooltip, hotkey label)
inline constexpr uint32_t kSave = 40069;
// "File Property..."
inline constexpr uint32_t kFilePropertyEllipsis = 40070;
// "Open..." (command 40074)
inline constexpr uint32_t kOpenEllipsis = 45109;
// "Close"
inline constexpr uint32_t kClose = 40076;
// "Reply..." (command 40080)
inline constexpr uint32_t kReplyEllipsis = 45110;
// "Resend..."
inline constexpr uint32_t kResendEllipsis = 40452;
// "Quote..."
inline constexpr uint32_t kQuoteEllipsis = 40490;
// "SMS..." (commands 40083 and 40349)
inline constexpr uint32_t kSmsEllipsis = 40349;
// "New..." (command 40084; also the Filter List)
inline constexpr uint32_t kNewEllipsis = 45111;
// "Preference..."
inline constexpr uint32_t kPreferenceEllipsis = 40257;
// "Filter..."
inline constexpr uint32_t kFilterEllipsis = 40297;
// "Black List..."
inline constexpr uint32_t kBlackListEllipsis = 40325;
// "Contact Default..."
inline constexpr uint32_t kContactDefaultEllipsis = 40330;
// "Stranger Default..."
inline constexpr uint32_t kStrangerDefaultEllipsis = 40332;
// "File Password..."
inline constexpr uint32_t kFilePasswordEllipsis = 40324;
// "Hotkey..."
inline constexpr uint32_t kHotkeyEllipsis = 40327;
// "Export Txt file..."
inline constexpr uint32_t kExportTxtFileEllipsis = 40341;
// "Security..." (command 40346)
inline constexpr uint32_t kSecurityEllipsis = 45112;
// "Preview Mode"
inline constexpr uint32_t kPreviewMode = 40374;
// "Compress"
inline constexpr uint32_t kCompress = 40385;
// "Alert..."
inline constexpr uint32_t kAlertEllipsis = 40399;
// "Mark as Read" (command 40428)
inline constexpr uint32_t kMarkAsRead = 45113;
// "Mark as Unread" (command 40429)
inline constexpr uint32_t kMarkAsUnread = 45114;
// "Manage Mark..." (command 40430)
inline constexpr uint32_t kManageMarkEllipsis = 45115;
// "Select All"
inline constexpr uint32_t kSelectAll = 40444;
// "Unselect All"
inline constexpr uint32_t kUnselectAll = 40446;
// "Select/Unselect"
inline constexpr uint32_t kSelectUnselect = 40448;
// "Empty Folder"
inline constexpr uint32_t kEmptyFolder = 40454;
// "Empty Recycle Bin"
inline constexpr uint32_t kEmptyRecycleBin = 40284;
// "Add Recycle Bin"
inline constexpr uint32_t kAddRecycleBin = 40456;
// "Delete Recycle Bin" (command 40456)
inline constexpr uint32_t kDeleteRecycleBin = 45116;
// "Font..."
inline constexpr uint32_t kFontEllipsis = 40493;
// "New Draft" (toolbar tooltip, hotkey label)
inline constexpr uint32_t kNewDraft = 40065;
// "New SMS" (toolbar tooltip, hotkey label)
inline constexpr uint32_t kNewSms = 40083;
// "Edit" (toolbar tooltip of View; message view)
inline constexpr uint32_t kEdit = 40362;
// "Reply" (tooltip, hotkey label, view soft key)
inline constexpr uint32_t kReply = 40080;
// "Forward" (toolbar tooltip, hotkey label)
inline constexpr uint32_t kForward = 40282;
// "New File" (hotkey label; new-file dialog title)
inline constexpr uint32_t kNewFile = 40084;
// "Open" (hotkey label; file browser title)
inline constexpr uint32_t kOpen = 40074;
// "Node Property" (hotkey label)
inline constexpr uint32_t kNodeProperty = 40067;
// "Node Password" (hotkey label)
inline constexpr uint32_t kNodePassword = 40068;
// "Recycle Bin"
inline constexpr uint32_t kRecycleBin = 45117;
// "\\Sent Box" (well-known folder 0)
inline constexpr uint32_t kSentBoxPath = 45118;
// "\\Outbox" (well-known folder 1)
inline constexpr uint32_t kOutboxPath = 45119;
// "\\Inbox" (well-known folder 2; filter default)
inline constexpr uint32_t kInboxPath = 45120;
// "\\Drafts" (well-known folder 3)
inline constexpr uint32_t kDraftsPath = 45121;
// "Do you want to delete the node?"
inline constexpr uint32_t kConfirmDeleteNode = 45122;
// "Do you want to empty the Recycle Bin?"
inline constexpr uint32_t kConfirmEmptyRecycleBin = 45123;
// "File exists!"
inline constexpr uint32_t kFileExists = 45124;
// "Compressing file error!"
inline constexpr uint32_t kCompressError = 45125;
// "Backup file error! Do you want to continue?"
inline constexpr uint32_t kBackupError = 45126;
// "File: %s" (title strip: the document path)
inline constexpr uint32_t kStripFile = 45127;
// "\\%s" (title strip: a root folder)
inline constexpr uint32_t kStripRootFolder = 45128;
// "\\..\\%s" (title strip: a deeper folder)
inline constexpr uint32_t kStripDeepFolder = 45129;
// "Saving..."
inline constexpr uint32_t kSaving = 45130;
// "Unread:%d Count:%d" (folder rows: unread, children)
inline constexpr uint32_t kUnreadCount = 45131;
// "<Need Password>"
inline constexpr uint32_t kNeedPassword = 45132;
// "Date:%s\r\nSender:%s\r\nContent:\r\n%s\r\n" (one exported message: date,
// sender, body)
inline constexpr uint32_t kExportBlock = 45133;
// "Telvane cannot start: ..." (the shared unread count cannot be created)
inline constexpr uint32_t kNoUnreadCounter = 45134;
// "%s is open for writing by %s. ..." (the document's path, its holder)
inline constexpr uint32_t kDocumentInUse = 45135;
// "%s is damaged: %s ..." (path, what was found, the index used, messages
// not reached, the copy kept)
inline constexpr uint32_t kDocumentDamaged = 45136;
// The same when no copy could be kept (path, what was found, the index
// used, messages not reached)
inline constexpr uint32_t kDocumentDamagedNoCopy = 45137;
// "%s could not be saved: %s. ..." (the file, why)
inline constexpr uint32_t kSaveFailed = 45138;
// "%s could not be read, ..." (the file)
inline constexpr uint32_t kFileUnreadable = 45139;

// File browser.
// "Filename:" (also the new-file dialog)
inline constexpr uint32_t kFilenameColon = 45200;
// "Type:"
inline constexpr uint32_t kTypeColon = 45201;
// "Filename"
inline constexpr uint32_t kFilenameColumn = 45202;
// "Size"
inline constexpr uint32_t kSizeColumn = 45203;
// ".."
inline constexpr uint32_t kParentFolder = 45204;
// "Dir"
inline constexpr uint32_t kDirSize = 45205;
// "B"
inline constexpr uint32_t kBytes = 45206;
// "KB"
inline constexpr uint32_t kKilobytes = 45207;
// "MB"
inline constexpr uint32_t kMegabytes = 45208;
// ".zud" (type filter for documents)
inline constexpr uint32_t kDocumentExtension = 45209;
// ".txt" (type filter for exports)
inline constexpr uint32_t kTextExtension = 45210;
// ".wav;.mp3;.mp2"
inline constexpr uint32_t kSoundExtensions = 40291;
// ".bmp;.jpg;.gif"
inline constexpr uint32_t kPictureExtensions = 40294;

// Password prompt, node property, new file and file property dialogs.
// "Password" (prompt title; file property button)
inline constexpr uint32_t kPassword = 45300;
// "Input Password:"
inline constexpr uint32_t kInputPassword = 40023;
// "Old Password"
inline constexpr uint32_t kOldPassword = 45301;
// "New Password"
inline constexpr uint32_t kNewPassword = 45302;
// "Password Confirm"
inline constexpr uint32_t kPasswordConfirm = 45303;
// "Password is not the same!"
inline constexpr uint32_t kPasswordNotSame = 40064;
// "Password Error!"
inline constexpr uint32_t kPasswordError = 40066;
// "Property"
inline constexpr uint32_t kPropertyTitle = 45304;
// "Create Date:"
inline constexpr uint32_t kCreateDate = 45305;
// "Author:"
inline constexpr uint32_t kAuthorColon = 45306;
// "Create Recycle Bin"
inline constexpr uint32_t kCreateRecycleBin = 45307;
// "File Property"
inline constexpr uint32_t kFilePropertyTitle = 45308;
// "Build Date:"
inline constexpr uint32_t kBuildDate = 45309;
// "Modify Date:"
inline constexpr uint32_t kModifyDate = 45310;

// Filter List, Filter Edit, Rule Editor and Black List.
// "Filter List"
inline constexpr uint32_t kFilterListTitle = 45400;
// "Filters"
inline constexpr uint32_t kFiltersTitle = 45401;
// "Operate"
inline constexpr uint32_t kOperateMenu = 45402;
// "Fast Create..."
inline constexpr uint32_t kFastCreateEllipsis = 45403;
// "Edit..."
inline constexpr uint32_t kEditEllipsis = 45404;
// "Filter %d" (the number of filters)
inline constexpr uint32_t kNewFilterName = 45405;
// "Are you sure to delete Filter: %s"
inline constexpr uint32_t kConfirmDeleteFilter = 45406;
// "Filter Edit"
inline constexpr uint32_t kFilterEditTitle = 45407;
// "Name:"
inline constexpr uint32_t kNameColon = 45408;
// "Apply to All"
inline constexpr uint32_t kApplyToAll = 45409;
// "Rule Setting..."
inline constexpr uint32_t kRuleSettingEllipsis = 45410;
// "Play Sound"
inline constexpr uint32_t kPlaySound = 45411;
// "Play/Stop"
inline constexpr uint32_t kPlayStop = 45412;
// "Random Ring"
inline constexpr uint32_t kRandomRing = 45413;
// "Unread Alert" (also the Alert Option list label)
inline constexpr uint32_t kUnreadAlert = 45414;
// "Show Popup Window"
inline constexpr uint32_t kShowPopupWindow = 45415;
// "Specific Photo"
inline constexpr uint32_t kSpecificPhoto = 45416;
// "User-defined Sentence"
inline constexpr uint32_t kUserDefinedSentence = 45417;
// "Save to Folder"
inline constexpr uint32_t kSaveToFolder = 45418;
// "Don't Show in Inbox"
inline constexpr uint32_t kDontShowInInbox = 45419;
// "Auto Forward"
inline constexpr uint32_t kAutoForward = 45420;
// "Contact..."
inline constexpr uint32_t kContactEllipsis = 45421;
// "Auto Reply"
inline constexpr uint32_t kAutoReply = 45422;
// "My Text..."
inline constexpr uint32_t kMyTextEllipsis = 45423;
// "Sorry! I'm busy now..."
inline constexpr uint32_t kDefaultAutoReply = 45424;
// "Contact Default"
inline constexpr uint32_t kContactDefault = 45425;
// "Stranger Default"
inline constexpr uint32_t kStrangerDefault = 45426;
// "Match: Contact who are in the blacklist/user-defined filter"
inline constexpr uint32_t kMatchContactNote = 45427;
// "Match: Stranger who are not in the blacklist/user-defined filter"
inline constexpr uint32_t kMatchStrangerNote = 45428;
// "Filter name can not be empty!"
inline constexpr uint32_t kFilterNameEmpty = 45429;
// "Please set the rule!"
inline constexpr uint32_t kSetTheRule = 45430;
// "Please specify the forward number!"
inline constexpr uint32_t kForwardNumberMissing = 45431;
// "Please specify a sound file"
inline constexpr uint32_t kSoundFileMissing = 45432;
// "Please specify a folder"
inline constexpr uint32_t kFolderMissing = 45433;
// "Please input user-defined sentence!"
inline constexpr uint32_t kSentenceMissing = 45434;
// "Please specify the photo!"
inline constexpr uint32_t kPhotoMissing = 45435;
// "The content of Auto Repley can't be empty !"
inline constexpr uint32_t kAutoReplyEmpty = 45436;
// "This is only for test" (skin previews)
inline constexpr uint32_t kTestText = 45437;
// "1234567890" (skin previews)
inline constexpr uint32_t kTestNumber = 45438;
// "Rule Editor"
inline constexpr uint32_t kRuleEditorTitle = 45439;
// "Rule 1:"
inline constexpr uint32_t kRule1 = 45440;
// "Object:"
inline constexpr uint32_t kObjectColon = 45441;
// "Judge:"
inline constexpr uint32_t kJudgeColon = 45442;
// "Content:"
inline constexpr uint32_t kContentColon = 45443;
// "From Contact..."
inline constexpr uint32_t kFromContactEllipsis = 45444;
// "And Rule 2"
inline constexpr uint32_t kAndRule2 = 45445;
// "Phone Number" (rule object 0)
inline constexpr uint32_t kPhoneNumber = 45446;
// "Body" (rule object 1)
inline constexpr uint32_t kBody = 45447;
// "Include" (judge 0)
inline constexpr uint32_t kInclude = 45448;
// "Exclude" (judge 1)
inline constexpr uint32_t kExclude = 45449;
// "Equal" (judge 2)
inline constexpr uint32_t kEqual = 45450;
// "Not Equal" (judge 3)
inline constexpr uint32_t kNotEqual = 45451;
// "Blacklist"
inline constexpr uint32_t kBlacklistTitle = 45452;
// "Phone" (also the member editor)
inline constexpr uint32_t kPhone = 45453;
// "Select From Contact..."
inline constexpr uint32_t kSelectFromContactEllipsis = 45454;

// Compose window and timer dialog.
// "Send SMS"
inline constexpr uint32_t kSendSmsTitle = 45500;
// "To:"
inline constexpr uint32_t kToColon = 45501;
// "Flash"
inline constexpr uint32_t kFlash = 45502;
// "Group"
inline constexpr uint32_t kGroup = 45503;
// "Num:"
inline constexpr uint32_t kNumColon = 45504;
// "%d/%d" (characters typed, limit)
inline constexpr uint32_t kCharCounter = 45505;
// "Send"
inline constexpr uint32_t kSend = 40018;
// "Timer..." (command 1113)
inline constexpr uint32_t kTimerEllipsis = 45506;
// "Status Report" (command 1032; SMS Setting label)
inline constexpr uint32_t kStatusReport = 45507;
// "Insert My Text"
inline constexpr uint32_t kInsertMyText = 40395;
// "Insert Contact"
inline constexpr uint32_t kInsertContact = 40384;
// "Insert Time"
inline constexpr uint32_t kInsertTime = 40382;
// "Insert Date"
inline constexpr uint32_t kInsertDate = 40383;
// "Phone Number can't be empty!"
inline constexpr uint32_t kPhoneNumberEmpty = 40451;
// "Content can't be empty!"
inline constexpr uint32_t kContentEmpty = 40453;
// "Send To:%s\r\n--------------------\r\n%s" (stored sent message: recipients,
// text)
inline constexpr uint32_t kSentMessageContent = 40337;
// "Set Timer"
inline constexpr uint32_t kSetTimer = 45508;
// "yyyy-MM-dd HH:mm" (date-and-time picker format)
inline constexpr uint32_t kTimerFormat = 45509;

// Message view.
// "Content"
inline constexpr uint32_t kContentTitle = 45600;
// "From"
inline constexpr uint32_t kFrom = 45601;
// "Subj"
inline constexpr uint32_t kSubj = 45602;
// "Time"
inline constexpr uint32_t kTime = 45603;
// "Save" (left key while editing)
inline constexpr uint32_t kSaveSoftKey = 40315;
// "Forward..." (commands 40079 and 40282)
inline constexpr uint32_t kForwardEllipsis = 40079;
// "Dial"
inline constexpr uint32_t kDial = 40450;
// "Other"
inline constexpr uint32_t kOtherMenu = 45604;
// "Set as Blacklist"
inline constexpr uint32_t kSetAsBlacklist = 40386;
// "Previous"
inline constexpr uint32_t kPrevious = 40356;
// "Next"
inline constexpr uint32_t kNext = 40357;
// "Title can't be empty!"
inline constexpr uint32_t kTitleEmpty = 40044;

// Alert popup and send reports.
// "From:"
inline constexpr uint32_t kFromColon = 40360;
// "Info:"
inline constexpr uint32_t kInfoColon = 40361;
// "Send to %s Successfully!"
inline constexpr uint32_t kSendToSuccessfully = 40363;
// "Send to %s Fail!"
inline constexpr uint32_t kSendToFail = 40373;
// "Default" (the built-in look in skin lists)
inline constexpr uint32_t kDefaultSkin = 40359;

// Group sending.
// "Group Sending"
inline constexpr uint32_t kGroupSendingTitle = 45700;
// "It can't be stopped when sending SMS. Press OK to start."
inline constexpr uint32_t kGroupSendingReady = 45701;
// "The SMS radio could not be opened, so nothing was sent. Press OK to exit"
inline constexpr uint32_t kGroupSendingNoRadio = 45702;
// "Send To"
inline constexpr uint32_t kSendToColumn = 40425;
// "Status"
inline constexpr uint32_t kStatusColumn = 40426;
// "Success"
inline constexpr uint32_t kSuccess = 40427;
// "Fail"
inline constexpr uint32_t kFail = 40428;
// "Sending"
inline constexpr uint32_t kSending = 40429;
// "Send complete! Press OK to exit"
inline constexpr uint32_t kSendComplete = 40430;

// Contact picker, send groups, stock sentences and marks.
// "Contacts"
inline constexpr uint32_t kContactsTitle = 45800;
// "Refresh"
inline constexpr uint32_t kRefresh = 45801;
// "Category"
inline constexpr uint32_t kCategoryMenu = 45802;
// "All"
inline constexpr uint32_t kAllCategories = 40460;
// "Check All" (also the import dialog)
inline constexpr uint32_t kCheckAll = 40025;
// "Uncheck All" (also the import dialog)
inline constexpr uint32_t kUncheckAll = 40026;
// "Photo"
inline constexpr uint32_t kPhotoMenu = 45803;
// "Set Photo..."
inline constexpr uint32_t kSetPhotoEllipsis = 45804;
// "Delete Photo"
inline constexpr uint32_t kDeletePhoto = 45805;
// "Show Photo"
inline constexpr uint32_t kShowPhoto = 45806;
// "Send Group" (submenu; group dialog title)
inline constexpr uint32_t kSendGroup = 45807;
// "Add to Group..."
inline constexpr uint32_t kAddToGroupEllipsis = 45808;
// "Edit Group..."
inline constexpr uint32_t kEditGroupEllipsis = 45809;
// "Delete Group"
inline constexpr uint32_t kDeleteGroup = 45810;
// "M"
inline constexpr uint32_t kMobileLabel = 40388;
// "H"
inline constexpr uint32_t kHomeLabel = 40389;
// "W"
inline constexpr uint32_t kWorkLabel = 40390;
// "<Group>"
inline constexpr uint32_t kGroupMarker = 40419;
// "..."
inline constexpr uint32_t kMoreMembers = 45811;
// "\u221A" (marks the chosen number)
inline constexpr uint32_t kChosenNumberSign = 45812;
// "SIM"
inline constexpr uint32_t kSimCategory = 45813;
// "#ab" (letter tabs of touch-screen devices)
inline constexpr uint32_t kTabHashAb = 45814;
// "cde"
inline constexpr uint32_t kTabCde = 45815;
// "fgh"
inline constexpr uint32_t kTabFgh = 45816;
// "ijk"
inline constexpr uint32_t kTabIjk = 45817;
// "lmn"
inline constexpr uint32_t kTabLmn = 45818;
// "opq"
inline constexpr uint32_t kTabOpq = 45819;
// "rst"
inline constexpr uint32_t kTabRst = 45820;
// "uvw"
inline constexpr uint32_t kTabUvw = 45821;
// "xyz"
inline constexpr uint32_t kTabXyz = 45822;
// "Member Setting"
inline constexpr uint32_t kMemberSettingTitle = 40420;
// "Name" (also the Black List)
inline constexpr uint32_t kNameColumn = 40232;
// "Number" (also the Black List)
inline constexpr uint32_t kNumberColumn = 40233;
// "My Text"
inline constexpr uint32_t kMyTextTitle = 45823;
// "Manage Mark"
inline constexpr uint32_t kManageMarkTitle = 40447;
// "Modify" (command 40394)
inline constexpr uint32_t kModify = 45824;
// "Yes."
inline constexpr uint32_t kSentenceYes = 40403;
// "No."
inline constexpr uint32_t kSentenceNo = 40405;
// "Thanks!"
inline constexpr uint32_t kSentenceThanks = 40407;
// "Please call my mobile."
inline constexpr uint32_t kSentenceCallMobile = 40409;
// "I'll be right there."
inline constexpr uint32_t kSentenceRightThere = 40411;
// "I'm running late."
inline constexpr uint32_t kSentenceRunningLate = 40413;
// "I'll get back to you."
inline constexpr uint32_t kSentenceGetBack = 40415;
// "Sorry, I am busy now."
inline constexpr uint32_t kSentenceBusy = 40417;
// "Must Reply"
inline constexpr uint32_t kMarkMustReply = 40431;
// "Urgency"
inline constexpr uint32_t kMarkUrgency = 40432;
// "Home"
inline constexpr uint32_t kMarkHome = 40433;
// "Business"
inline constexpr uint32_t kMarkBusiness = 40434;
// "Technical"
inline constexpr uint32_t kMarkTechnical = 40435;

// Import dialog.
// "Import SMS"
inline constexpr uint32_t kImportSmsTitle = 45900;
// "Import" (command 40020)
inline constexpr uint32_t kImport = 45901;
// "Delete After Import"
inline constexpr uint32_t kDeleteAfterImport = 40027;
// "From Sent Items"
inline constexpr uint32_t kFromSentItems = 40368;
// "From Inbox"
inline constexpr uint32_t kFromInbox = 40370;

// Hotkey dialog and hardware key names.
// "Hotkey" (dialog title and column)
inline constexpr uint32_t kHotkey = 40086;
// "Function"
inline constexpr uint32_t kFunctionColumn = 40088;
// "(none)"
inline constexpr uint32_t kNoKey = 40089;
// "Action = change, Back = unmap"
inline constexpr uint32_t kHotkeyHelp = 1063;
// "Press Key or Press Back to cancel"
inline constexpr uint32_t kPressKey = 40091;
// "Reset"
inline constexpr uint32_t kReset = 40184;
// "Key"
inline constexpr uint32_t kKeyMenu = 46000;
// "Unmap"
inline constexpr uint32_t kUnmap = 46001;
// "0x%dX" (an unknown key code, in decimal)
inline constexpr uint32_t kKeyCodeFormat = 46002;
// "Action" (also the message view's submenu)
inline constexpr uint32_t kKeyAction = 1100;
// "Left"
inline constexpr uint32_t kKeyLeft = 1101;
// "Up" (also the Filter List)
inline constexpr uint32_t kKeyUp = 1102;
// "Right"
inline constexpr uint32_t kKeyRight = 1103;
// "Down" (also the Filter List)
inline constexpr uint32_t kKeyDown = 1104;
// "Button1"
inline constexpr uint32_t kKeyButton1 = 1117;
// "Button2"
inline constexpr uint32_t kKeyButton2 = 1118;
// "Button3"
inline constexpr uint32_t kKeyButton3 = 1119;
// "Button4"
inline constexpr uint32_t kKeyButton4 = 1120;
// "Button5"
inline constexpr uint32_t kKeyButton5 = 1121;
// "Button6"
inline constexpr uint32_t kKeyButton6 = 1122;
// "Remote1"
inline constexpr uint32_t kKeyRemote1 = 1123;
// "Remote2"
inline constexpr uint32_t kKeyRemote2 = 1124;
// "Remote3"
inline constexpr uint32_t kKeyRemote3 = 1125;
// "Remote4"
inline constexpr uint32_t kKeyRemote4 = 1126;
// "Remote5"
inline constexpr uint32_t kKeyRemote5 = 1127;
// "Remote6"
inline constexpr uint32_t kKeyRemote6 = 1128;
// "Remote7"
inline constexpr uint32_t kKeyRemote7 = 1129;
// "Volumn Up"
inline constexpr uint32_t kKeyVolumnUp = 40328;
// "Volumn Down"
inline constexpr uint32_t kKeyVolumnDown = 40329;
// "Record"
inline constexpr uint32_t kKeyRecord = 40331;

// Option dialogs.
// The dialog titles Preference, SMS Setting, Alert Option and Security are
// the dialogs' names; their templates' captions are not given elsewhere.
// "Preference"
inline constexpr uint32_t kPreferenceTitle = 46100;
// "Auto Run"
inline constexpr uint32_t kAutoRun = 46101;
// "Auto Hide when startup"
inline constexpr uint32_t kAutoHideWhenStartup = 46102;
// "Load previous file"
inline constexpr uint32_t kLoadPreviousFile = 46103;
// "Auto Receive SMS"
inline constexpr uint32_t kAutoReceiveSms = 46104;
// "Alert when deleting node"
inline constexpr uint32_t kAlertWhenDeletingNode = 46105;
// "Alert when emtpying recycle bin"
inline constexpr uint32_t kAlertWhenEmptyingRecycleBin = 46106;
// "Show Preview Window"
inline constexpr uint32_t kShowPreviewWindow = 46107;
// "Show Tray Icon"
inline constexpr uint32_t kShowTrayIcon = 46108;
// "Add Today plug-in Support"
inline constexpr uint32_t kAddTodayPluginSupport = 46109;
// "Auto Save"
inline constexpr uint32_t kAutoSave = 46110;
// "Mins"
inline constexpr uint32_t kMins = 46111;
// "Save when SMS arrives"
inline constexpr uint32_t kSaveWhenSmsArrives = 46112;
// "Auto Compress"
inline constexpr uint32_t kAutoCompress = 46113;
// "O'Clock begin"
inline constexpr uint32_t kOClockBegin = 46114;
// "SMS Setting"
inline constexpr uint32_t kSmsSettingTitle = 46115;
// "Receive Title:"
inline constexpr uint32_t kReceiveTitleColon = 46116;
// "Sent Title:"
inline constexpr uint32_t kSentTitleColon = 46117;
// "Import Title"
inline constexpr uint32_t kImportTitleLabel = 46118;
// "Summary" (title mode 0)
inline constexpr uint32_t kTitleSummary = 40348;
// "Contact Summary" (title mode 1)
inline constexpr uint32_t kTitleContactSummary = 40350;
// "Contact Time" (title mode 2)
inline constexpr uint32_t kTitleContactTime = 40351;
// "None" (status reports, value 0)
inline constexpr uint32_t kReceiptNone = 40437;
// "Here:Delete " (value 1, with a trailing space)
inline constexpr uint32_t kReceiptDeleteHere = 40445;
// "Inbox: Delete" (value 2)
inline constexpr uint32_t kReceiptDeleteInbox = 40439;
// "Both: Delete" (value 3)
inline constexpr uint32_t kReceiptDeleteBoth = 40441;
// "Inbox:Delete Here:Recycle Bin" (value 4)
inline constexpr uint32_t kReceiptDeleteInboxRecycleHere = 40443;
// "Blacklist SMS to Recycle Bin"
inline constexpr uint32_t kBlacklistToRecycleBin = 46119;
// "Save Sent SMS to Sent Box"
inline constexpr uint32_t kSaveSentToSentBox = 46120;
// "Summary Length:"
inline constexpr uint32_t kSummaryLengthColon = 46121;
// "Sign"
inline constexpr uint32_t kSign = 46122;
// "Alert Option"
inline constexpr uint32_t kAlertOptionTitle = 46123;
// "Show icon when SMS arrives"
inline constexpr uint32_t kShowIconWhenSmsArrives = 46124;
// "None" (unread reminder 0)
inline constexpr uint32_t kUnreadAlertNone = 40393;
// "Vibrate" (unread reminder 1; filter action)
inline constexpr uint32_t kVibrate = 40394;
// "Sound" (unread reminder 2)
inline constexpr uint32_t kSound = 40396;
// "Vibrate and Sound" (unread reminder 3)
inline constexpr uint32_t kVibrateAndSound = 40397;
// "Seconds"
inline constexpr uint32_t kSeconds = 46125;
// "Sent Popup Window"
inline constexpr uint32_t kSentPopupWindow = 46126;
// "Appear time(Send)"
inline constexpr uint32_t kAppearTimeSend = 46127;
// "Appear Time(Recv)"
inline constexpr uint32_t kAppearTimeRecv = 46128;
// "Photo Folder"
inline constexpr uint32_t kPhotoFolder = 46129;
// "Default Photo"
inline constexpr uint32_t kDefaultPhoto = 46130;
// "Random Sound Folder"
inline constexpr uint32_t kRandomSoundFolder = 46131;
// "Security"
inline constexpr uint32_t kSecurityTitle = 46132;
// "Password:"
inline constexpr uint32_t kPasswordColon = 46133;
// "Only Once" (protect level 0)
inline constexpr uint32_t kOnlyOnce = 40342;
// "Reinput after Minimize" (level 1)
inline constexpr uint32_t kReinputAfterMinimize = 40344;
// "Input Every Time" (level 2)
inline constexpr uint32_t kInputEveryTime = 40346;
// "ScreenSaver after Minimized"
inline constexpr uint32_t kScreenSaverAfterMinimized = 46134;
// "Rule Password"
inline constexpr uint32_t kRulePassword = 46135;
// "Font Setting"
inline constexpr uint32_t kFontSettingTitle = 46136;
// "TreeView Font"
inline constexpr uint32_t kTreeViewFont = 46137;
// "Listview Font"
inline constexpr uint32_t kListviewFont = 46138;
// "Content Font"
inline constexpr uint32_t kContentFont = 46139;
// "Font"
inline constexpr uint32_t kFontTitle = 46140;
// "Bold"
inline constexpr uint32_t kBold = 46141;
// "Italic"
inline constexpr uint32_t kItalic = 46142;
// "Underline"
inline constexpr uint32_t kUnderline = 46143;
// "Cleartype"
inline constexpr uint32_t kCleartype = 46144;
// "AaBbCcXxYyZz"
inline constexpr uint32_t kFontPreview = 46145;
// What the Preference dialog could not apply; ": " and the cause follow.
// "Auto Receive SMS could not be turned on"
inline constexpr uint32_t kAutoReceiveOnFailed = 46146;
// "Auto Receive SMS could not be turned off"
inline constexpr uint32_t kAutoReceiveOffFailed = 46147;
// "The Today plug-in could not be registered"
inline constexpr uint32_t kTodayPluginOnFailed = 46148;
// "The Today plug-in could not be removed"
inline constexpr uint32_t kTodayPluginOffFailed = 46149;
// "Auto Run could not be turned on"
inline constexpr uint32_t kAutoRunOnFailed = 46150;
// "Auto Run could not be turned off"
inline constexpr uint32_t kAutoRunOffFailed = 46151;
// "The timed message could not be kept in \Scheduled (%s). It goes out
// only if Telvane is still running when it is due."
inline constexpr uint32_t kScheduleNotKept = 46160;
// "The reminder sound cannot be played"; ": " and the cause follow.
inline constexpr uint32_t kReminderSoundUnplayable = 46170;
// What an import could not keep.
// "Some messages could not be saved in the document and were left on the
// phone."
inline constexpr uint32_t kImportNotSaved = 46180;
// "Import XML backup..." (Menu, TreeNode)
inline constexpr uint32_t kImportXmlBackupEllipsis = 46190;
// "Export XML backup..." (Menu, TreeNode)
inline constexpr uint32_t kExportXmlBackupEllipsis = 46191;
// ".xml" (type filter for backups)
inline constexpr uint32_t kXmlExtension = 46192;
// "XML Backup" (caption of the import's summary)
inline constexpr uint32_t kCaptionXmlBackup = 46193;
// "%d imported, %d skipped, %d refused"
inline constexpr uint32_t kXmlImportSummary = 46194;
// "The backup is damaged (%s); what came before the damage was imported."
inline constexpr uint32_t kXmlBackupDamaged = 46195;
// "The backup could not be read: %s"
inline constexpr uint32_t kXmlBackupUnreadable = 46196;
// "The backup could not be written: %s"
inline constexpr uint32_t kXmlBackupNotWritten = 46197;

// Short name of the "Alert" caption.
inline constexpr uint32_t kAlert = kCaptionAlert;

}  // namespace ids
}  // namespace kit

#endif  // TELVANE_KIT_STRING_TABLE_H_
