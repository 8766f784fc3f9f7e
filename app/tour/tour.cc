// telvane-tour OUTDIR: makes a scratch device with a sample document, opens
// the program's windows offscreen and writes a PNG of each window and menu
// into OUTDIR (see README.md for the list). Exits 0 when every picture was
// written, 1 when one was not, 2 for a usage error.
#include <stdlib.h>

#include <QApplication>
#include <QBitmap>
#include <QColor>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "alerts/ui/alert_popup_window.h"
#include "alerts/ui/skin_preview.h"
#include "app/main_window.h"
#include "app/preview_popup.h"
#include "app/shell_dialogs.h"
#include "contacts/contact_store.h"
#include "contacts/picker_list.h"
#include "contacts/sentence_store.h"
#include "contacts/ui/contact_picker.h"
#include "contacts/ui/group_dialog.h"
#include "contacts/ui/my_text_dialog.h"
#include "device/todayshell/today_screen.h"
#include "firewall/ui/black_list.h"
#include "firewall/ui/filter_edit.h"
#include "firewall/ui/filter_list.h"
#include "import/ui/import_dialog.h"
#include "intercept/registration.h"
#include "kit/device_window.h"
#include "kit/file_browser.h"
#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/device.h"
#include "platform/files.h"
#include "platform/kernel_objects.h"
#include "platform/modules.h"
#include "platform/time.h"
#include "platform/unicode.h"
#include "send/filing.h"
#include "send/send_service.h"
#include "send/ui/compose_window.h"
#include "send/ui/group_send_window.h"
#include "send/ui/timer_dialog.h"
#include "settings/settings_store.h"
#include "settings/ui/alert_option_dialog.h"
#include "settings/ui/font_dialog.h"
#include "settings/ui/hotkey_dialog.h"
#include "settings/ui/option_scroll.h"
#include "settings/ui/preference_dialog.h"
#include "settings/ui/security_dialog.h"
#include "settings/ui/sms_setting_dialog.h"
#include "store/document.h"

namespace {

namespace fs = std::filesystem;
using store::Node;

constexpr char16_t kSamplePath[] = u"\\sample.zud";

class Tour {
 public:
  explicit Tour(fs::path out) : out_(std::move(out)) {}

  // Writes `widget` as NAME.png.
  void Shoot(QWidget* widget, const char* name) {
    QApplication::processEvents();
    QPixmap picture = widget->grab();
    // A shaped window (the skinned popups) is drawn with its shape.
    if (!widget->mask().isEmpty() && picture.size() == widget->size()) {
      QBitmap shape(picture.size());
      shape.fill(Qt::color0);
      QPainter painter(&shape);
      painter.setClipRegion(widget->mask());
      painter.fillRect(shape.rect(), Qt::color1);
      painter.end();
      picture.setMask(shape);
    }
    fs::path file = out_ / (std::string(name) + ".png");
    if (picture.isNull() || !picture.save(QString::fromStdString(file))) {
      std::fprintf(stderr, "telvane-tour: could not write %s\n", file.c_str());
      ok_ = false;
      return;
    }
    std::printf("%s\n", file.c_str());
    // Whole lines, never split by Qt's warnings on stderr.
    std::fflush(stdout);
  }

  // Shows `dialog` (not modally), writes it and closes it.
  void ShootDialog(QWidget* dialog, const char* name) {
    dialog->show();
    Shoot(dialog, name);
    dialog->close();
  }

  // A popup menu as it opens, then each of its submenus.
  void ShootMenu(QMenu* menu, const std::string& name,
                 const std::function<void(QMenu*)>& prepare) {
    if (menu == nullptr) {
      std::fprintf(stderr, "telvane-tour: no menu for %s\n", name.c_str());
      ok_ = false;
      return;
    }
    prepare(menu);
    menu->ensurePolished();
    menu->adjustSize();
    Shoot(menu, name.c_str());
    for (QAction* action : menu->actions()) {
      if (action->menu() == nullptr || !action->isVisible()) continue;
      std::string sub = action->text().toStdString();
      for (char& c : sub) {
        c = std::isalnum(static_cast<unsigned char>(c))
                ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                : '-';
      }
      while (!sub.empty() && sub.back() == '-') sub.pop_back();
      ShootMenu(action->menu(), name + "-" + sub, prepare);
    }
  }

  bool ok() const { return ok_; }

 private:
  fs::path out_;
  bool ok_ = true;
};

// The sample document: the standard folders, two folders of the user's
// own, a Recycle Bin, and messages of which some are read.
bool MakeSampleDocument() {
  store::Document document;
  store::NewFileOptions options;
  options.author = u"Tour";
  if (!document.New(kSamplePath, options).ok()) return false;
  platform::SystemTime time = platform::CurrentSystemTime();
  Node* inbox = document.WellKnownFolder(store::kFolderInbox);
  Node* friends = document.FindOrCreateFolderPath(u"\\Inbox\\Friends");
  Node* work = document.FindOrCreateFolderPath(u"\\Work");
  if (inbox == nullptr || friends == nullptr || work == nullptr) return false;
  struct Sample {
    Node* folder;
    const char16_t* sender;
    const char16_t* body;
  };
  const Sample samples[] = {
      {inbox, u"+15550100", u"Are we still on for lunch tomorrow?"},
      {inbox, u"+15550101", u"Your parcel has been delivered."},
      {inbox, u"+15550102", u"Call me when you land."},
      {friends, u"+15550103", u"Happy birthday! See you on Saturday."},
      {friends, u"+15550104", u"The tickets are booked."},
      {work, u"+15550105", u"The meeting moved to 3 pm."},
  };
  for (const Sample& sample : samples) {
    if (document.StoreMessage(sample.folder, sample.sender, sample.body,
                              time) == nullptr) {
      return false;
    }
  }
  if (!document.Close().ok()) return false;
  settings::SettingsStore settings;
  settings.Load();
  return settings.SaveLastOpenFile(kSamplePath).ok();
}

Node* Child(Node* parent, std::u16string_view title) {
  for (size_t i = 0; parent != nullptr && i < parent->child_count(); ++i) {
    if (parent->child(i)->title() == title) return parent->child(i);
  }
  return nullptr;
}

// The shipped skins (BUILD/share/skins beside the tour's bin folder) copied
// into the scratch device's "\Program Files\Telvane\skins\".
bool InstallSkins() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  fs::path from = self.parent_path().parent_path() / "share" / "skins";
  std::optional<fs::path> to =
      platform::files::Resolve(settings::AppFolder() + u"skins\\");
  if (!fs::is_directory(from) || !to) return false;
  fs::create_directories(*to, error);
  fs::copy(from, *to,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing,
           error);
  return !error;
}

// A small portrait for the popups' photo box.
std::u16string MakeSamplePhoto() {
  const std::u16string path = settings::AppFolder() + u"photo\\Ann.jpg";
  std::optional<fs::path> host = platform::files::Resolve(path);
  if (!host) return u"";
  std::error_code error;
  fs::create_directories(host->parent_path(), error);
  QImage image(48, 48, QImage::Format_RGB32);
  image.fill(QColor(70, 130, 180));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(250, 220, 190));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(QRect(14, 6, 20, 22));
  painter.drawEllipse(QRect(6, 30, 36, 30));
  painter.end();
  return image.save(QString::fromStdString(host->string()), "JPG") ? path : u"";
}

// The phone's contacts: the build's libraries installed on the scratch
// device (by the build's devicectl), a few contacts of two categories with
// one, two or three numbers, two SIM entries, two send groups, and a photo
// for two of the contacts.
bool MakeSampleContacts() {
  std::error_code error;
  fs::path bin = fs::read_symlink("/proc/self/exe", error).parent_path();
  fs::path cards = fs::path(getenv("TELVANE_DEVICE")) / "tour.vcf";
  {
    std::FILE* file = std::fopen(cards.c_str(), "wb");
    if (file == nullptr) return false;
    std::fputs(
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann Lee\r\n"
        "TEL;TYPE=CELL:+15550100\r\nTEL;TYPE=HOME:+15550200\r\n"
        "CATEGORIES:Friends\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob Stone\r\n"
        "TEL;TYPE=WORK:+15550101\r\nCATEGORIES:Work\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Carla Diaz\r\n"
        "TEL;TYPE=CELL:+15550102\r\nTEL;TYPE=HOME:+15550202\r\n"
        "TEL;TYPE=WORK:+15550302\r\nCATEGORIES:Work,Friends\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:\u5f20\u4f1f\r\n"
        "TEL;TYPE=CELL:13800138000\r\nCATEGORIES:Friends\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Dan Moss\r\n"
        "TEL;TYPE=CELL:+15550103\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Eve Park\r\n"
        "TEL;TYPE=CELL:+15550104\r\nCATEGORIES:Work\r\nEND:VCARD\r\n",
        file);
    std::fclose(file);
  }
  std::string devicectl = (bin / "devicectl").string();
  for (const std::string& args : {"install " + bin.parent_path().string(),
                                  "contacts import " + cards.string(),
                                  std::string("sim add Home 5550111"),
                                  std::string("sim add Office 5550122")}) {
    std::string command = devicectl + " " + args + " >/dev/null";
    if (std::system(command.c_str()) != 0) return false;
  }
  contacts::SendGroups groups;
  groups.Load(contacts::GroupFilePath(settings::AppFolder())).IgnoreError();
  groups.AddGroup(u"Team");
  groups.AddMember(0, u"Bob Stone", u"+15550101");
  groups.AddMember(0, u"Eve Park", u"+15550104");
  groups.AddMember(0, u"Carla Diaz", u"+15550302");
  groups.AddGroup(u"Family");
  groups.AddMember(0, u"Ann Lee", u"+15550100");
  if (!groups.Save().ok()) return false;
  // The same photo for Ann and Carla.
  settings::SettingsStore settings;
  settings.Load();
  std::optional<fs::path> folder =
      platform::files::Resolve(settings.photo_folder());
  if (!folder) return false;
  fs::create_directories(*folder, error);
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(QColor(200, 120, 60));
  QPainter painter(&image);
  painter.setBrush(QColor(250, 230, 200));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(QRect(20, 4, 24, 26));
  painter.end();
  return image.save(QString::fromStdString((*folder / "Carla Diaz.jpg")),
                    "JPG") &&
         fs::copy_file(*folder / "Carla Diaz.jpg", *folder / "Ann Lee.jpg",
                       fs::copy_options::overwrite_existing, error);
}

// The popup finds its picture on a thread of its own.
void WaitForPicture(const alerts::ui::AlertPopupWindow& popup) {
  for (int i = 0; i < 200 && popup.picture().isNull(); ++i) {
    QApplication::processEvents();
    QThread::msleep(5);
  }
}

Node* FirstMessage(Node* folder) {
  for (size_t i = 0; folder != nullptr && i < folder->child_count(); ++i) {
    if (folder->child(i)->is_message()) return folder->child(i);
  }
  return nullptr;
}

bool RunTour(const fs::path& out) {
  Tour tour(out);
  if (!MakeSampleDocument()) {
    std::fprintf(stderr, "telvane-tour: could not make the sample document\n");
    return false;
  }

  if (!MakeSampleContacts()) {
    std::fprintf(stderr, "telvane-tour: could not make the sample contacts\n");
    return false;
  }

  app::MainWindow window(app::MainWindow::Options{.publish_endpoint = false});
  if (!window.Initialize()) {
    std::fprintf(stderr, "telvane-tour: the main window did not start\n");
    return false;
  }
  if (!window.document().IsOpen()) {
    std::fprintf(stderr, "telvane-tour: the sample document did not open\n");
    return false;
  }
  window.show();
  Node* root = window.document().tree().root();
  Node* inbox = Child(root, u"Inbox");
  if (inbox != nullptr) {
    window.tree_view()->expandAll();
    // Read the first message, so that the pictures show both weights.
    if (inbox->child_count() > 0) {
      window.ChooseNode(inbox->child(inbox->child_count() - 1));
      window.Dispatch(kit::cmds::kMarkAsRead);
    }
    window.ChooseNode(inbox);
  }

  // Display mode 1: the tree, its menus and its context menu.
  if (window.display_mode() != 1) window.Dispatch(kit::cmds::kPreviewMode);
  tour.Shoot(&window, "main-mode1");
  auto prepare = [&window](QMenu* menu) { window.UpdateMenu(menu); };
  tour.ShootMenu(window.system_menu(), "menu-system", prepare);
  tour.ShootMenu(window.node_menu(), "menu-main", prepare);
  tour.ShootMenu(window.tree_context_menu(), "menu-tree-context", prepare);

  // Display mode 2: the list of the Inbox.
  window.Dispatch(kit::cmds::kPreviewMode);
  if (inbox != nullptr) window.ShowFolder(inbox);
  tour.Shoot(&window, "main-mode2");
  tour.ShootMenu(window.node_menu(), "menu-main-mode2", prepare);
  window.Dispatch(kit::cmds::kPreviewMode);

  // The message view: reading, its menu, editing; then the new-note editor.
  if (Node* message = FirstMessage(inbox)) {
    window.ChooseNode(message);
    kit::SetDialogScript([&tour](kit::DeviceDialog* dialog) {
      tour.Shoot(dialog, "message-view");
      kit::SoftKeyBar* keys = dialog->soft_keys();
      tour.ShootMenu(keys->menu(), "menu-message-view",
                     [keys](QMenu* menu) { emit keys->MenuAboutToShow(menu); });
      dialog->Dispatch(kit::cmds::kEdit);
      tour.Shoot(dialog, "message-view-edit");
    });
    window.Dispatch(kit::cmds::kView);
  }
  kit::SetDialogScript(
      [&tour](kit::DeviceDialog* dialog) { tour.Shoot(dialog, "new-folder"); });
  window.Dispatch(kit::cmds::kNewFolder);
  kit::SetDialogScript(nullptr);

  // The alert popup: the built-in look, then each shipped skin, with a
  // photo for the named sender; the sent popup in the sent skin.
  if (!InstallSkins()) {
    std::fprintf(stderr, "telvane-tour: no skins in the build\n");
  }
  if (alerts::ui::AlertPopupWindow* popup = window.alert_popup()) {
    const std::u16string photo = MakeSamplePhoto();
    popup->SetSkin(u"");
    popup->Show(u"Are we still on for lunch tomorrow?", u"Ann", 0, photo,
                false);
    WaitForPicture(*popup);
    tour.Shoot(popup, "popup");
    for (const std::u16string& skin : alerts::ui::FillSkinList()) {
      popup->SetSkin(settings::AppFolder() + u"skins\\" + skin + u".cfg");
      popup->Show(
          u"The meeting moved to 3 pm. Bring the slides and the "
          u"figures for the second quarter, please.",
          u"+15550105", 0, photo, false);
      WaitForPicture(*popup);
      std::string name = "popup-" + platform::ToUtf8(skin);
      for (char& c : name) c = static_cast<char>(std::tolower(c));
      tour.Shoot(popup, name.c_str());
    }
    popup->Close();
    send::SendRequest sent;
    sent.recipients = u"\"Ann\"<+15550100>";
    sent.text = u"See you at noon.";
    window.settings().set_sent_alert(1);
    send::ShowSentPopup(*popup, window.settings(), sent,
                        static_cast<uint32_t>(send::SendResultKind::kSent));
    tour.Shoot(popup, "popup-sent");
    popup->Close();
  }

  // The preview popup over the list.
  app::PreviewPopup preview;
  preview.ShowPreview(QStringLiteral("+15550100  12:30"),
                      QStringLiteral("Are we still on for lunch tomorrow?"), 0);
  tour.Shoot(&preview, "preview-popup");
  preview.hide();

  // The main window's dialogs.
  std::u16string last_dir = u"\\";
  {
    app::NewFileDialog dialog(&window, window.document().path(), &last_dir);
    tour.ShootDialog(&dialog, "new-file");
  }
  {
    app::FilePropertyDialog dialog(&window, window.document().file().header());
    tour.ShootDialog(&dialog, "file-property");
  }
  {
    Node* message = FirstMessage(inbox);
    std::optional<store::NodeRecord> record;
    if (message != nullptr) {
      record =
          window.document().file().ReadRecord(message->tag().record_offset);
    }
    app::NodePropertyDialog dialog(&window,
                                   record.value_or(store::NodeRecord{}));
    tour.ShootDialog(&dialog, "node-property");
  }
  {
    app::AboutDialog dialog(&window);
    tour.ShootDialog(&dialog, "about");
  }
  {
    settings::ui::PreferenceDialog dialog(&window, &window.settings(),
                                          settings::AppFolder(),
                                          platform::ProgramFileName());
    tour.ShootDialog(&dialog, "preference");
  }

  // The password prompt in both modes.
  {
    std::u16string password = u"secret";
    kit::PasswordDialog dialog(&window, kit::PasswordMode::kCheck, &password);
    tour.ShootDialog(&dialog, "password-check");
  }
  {
    std::u16string password = u"secret";
    kit::PasswordDialog dialog(&window, kit::PasswordMode::kChange, &password);
    tour.ShootDialog(&dialog, "password-change");
  }

  // The file browser in its three modes.
  {
    kit::FileBrowserDialog dialog(&window, kit::BrowseMode::kOpen, u".zud",
                                  u"\\");
    tour.ShootDialog(&dialog, "browse-open");
  }
  {
    kit::FileBrowserDialog dialog(&window, kit::BrowseMode::kSave, u".txt",
                                  u"\\");
    tour.ShootDialog(&dialog, "browse-save");
  }
  {
    kit::FileBrowserDialog dialog(&window, kit::BrowseMode::kFolder, u"",
                                  u"\\");
    tour.ShootDialog(&dialog, "browse-folder");
  }

  // The stock sentences and the marks.
  contacts::SentenceStore sentences(contacts::SentenceFilePath(u"\\"));
  // The tour shows the lists either way: those of the file, or the defaults.
  sentences.Load().IgnoreError();
  {
    contacts::ui::MyTextDialog dialog(&window, &sentences,
                                      contacts::SentenceList::kSentences);
    tour.ShootDialog(&dialog, "my-text");
    dialog.show();
    tour.ShootMenu(dialog.soft_keys()->menu(), "menu-my-text", [](QMenu*) {});
    dialog.close();
  }
  {
    contacts::ui::MyTextDialog dialog(&window, &sentences,
                                      contacts::SentenceList::kMarks);
    tour.ShootDialog(&dialog, "manage-mark");
  }

  // The contact picker: single choice, several choices with the groups,
  // with photos, a category chosen; the information window; the group
  // dialog and the member editor.
  QApplication::processEvents();  // the load starts on the first turn
  window.contacts().WaitForLoad();
  contacts::ui::PickerEnvironment contacts_environment{
      &window.contacts(), &window.settings(), /*touch_screen=*/false};
  window.settings().set_show_photo(0);
  {
    contacts::ui::ContactPicker picker(&window, contacts_environment,
                                       contacts::kPickerSingle);
    tour.ShootDialog(&picker, "picker-single");
    picker.show();
    kit::SoftKeyBar* keys = picker.soft_keys();
    tour.ShootMenu(keys->menu(), "menu-picker-single",
                   [keys](QMenu* menu) { emit keys->MenuAboutToShow(menu); });
    picker.close();
  }
  {
    contacts::ui::ContactPicker picker(&window, contacts_environment,
                                       contacts::kPickerMultiple);
    picker.show();
    // A group and two contacts ticked with the action key.
    for (size_t item : {size_t{0}, size_t{3}, size_t{5}}) {
      if (!picker.SelectItem(item)) continue;
      QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
      QApplication::sendEvent(picker.list_view(), &enter);
    }
    picker.SelectItem(3);
    tour.ShootDialog(&picker, "picker-multiple");
    picker.show();
    kit::SoftKeyBar* keys = picker.soft_keys();
    tour.ShootMenu(keys->menu(), "menu-picker-multiple",
                   [keys](QMenu* menu) { emit keys->MenuAboutToShow(menu); });
    picker.SelectItem(3);
    picker.ShowInfoNow();
    tour.Shoot(picker.info_window(), "picker-info");
    picker.SelectItem(0);
    picker.ShowInfoNow();
    tour.Shoot(picker.info_window(), "picker-info-group");
    picker.close();
  }
  window.settings().set_show_photo(1);
  {
    contacts::ui::ContactPicker picker(&window, contacts_environment,
                                       contacts::kPickerMultiple);
    picker.show();
    picker.WaitForPhotos(std::chrono::seconds(5));
    tour.ShootDialog(&picker, "picker-photos");
  }
  {
    contacts::ui::ContactPicker picker(&window, contacts_environment,
                                       contacts::kPickerMultiple);
    picker.Dispatch(kit::cmds::kCategoryBase + 1);
    picker.WaitForPhotos(std::chrono::seconds(5));
    tour.ShootDialog(&picker, "picker-category");
  }
  {
    // A touch-screen phone finds by the tab row above the list.
    contacts::ui::PickerEnvironment touch = contacts_environment;
    touch.touch_screen = true;
    contacts::ui::ContactPicker picker(&window, touch,
                                       contacts::kPickerMultiple);
    picker.WaitForPhotos(std::chrono::seconds(5));
    tour.ShootDialog(&picker, "picker-touch");
  }
  window.settings().set_show_photo(0);
  kit::SetDialogScript([&tour](kit::DeviceDialog* dialog) {
    const bool group = dialog->template_id() == contacts::ui::kGroupTemplate;
    // A name being typed for a new group.
    if (auto* edit =
            kit::FindControl<QLineEdit>(dialog, contacts::ui::kGroupNameEdit);
        edit != nullptr && group) {
      edit->setText(QStringLiteral("Neighbours"));
    }
    tour.Shoot(dialog, group ? "group-dialog" : "member-editor");
  });
  {
    size_t chosen = 0;
    bool changed = false;
    contacts::ui::ChooseGroup(&window, &window.contacts().groups(), &chosen,
                              &changed);
    contacts::ui::EditMembers(&window, &window.contacts().groups(), 0);
  }
  kit::SetDialogScript(nullptr);

  // The compose window: new, as a reply, as a resend of a stored sent
  // message, with a signature, with a Chinese text (the 70 limit); the
  // timer dialog set and clear; the group sending window.
  {
    send::ui::ComposeContext compose = window.ComposeContext();
    auto shoot_compose = [&](const char* name, auto fill) {
      send::ui::ComposeWindow dialog(&window, compose);
      fill(dialog);
      tour.ShootDialog(&dialog, name);
    };
    shoot_compose("compose", [](send::ui::ComposeWindow& dialog) {
      dialog.FillWithTexts(std::nullopt, std::nullopt,
                           send::ui::ComposeMode::kForward);
    });
    {
      send::ui::ComposeWindow dialog(&window, compose);
      dialog.FillWithTexts(std::nullopt, std::nullopt,
                           send::ui::ComposeMode::kForward);
      dialog.show();
      kit::SoftKeyBar* keys = dialog.soft_keys();
      tour.ShootMenu(keys->menu(), "menu-compose",
                     [keys](QMenu* menu) { emit keys->MenuAboutToShow(menu); });
      dialog.close();
    }
    if (Node* message = FirstMessage(inbox)) {
      shoot_compose(
          "compose-reply", [message](send::ui::ComposeWindow& dialog) {
            dialog.FillWithNode(message, send::ui::ComposeMode::kReply);
          });
    }
    shoot_compose("compose-resend", [](send::ui::ComposeWindow& dialog) {
      dialog.FillWithTexts(
          send::SentContent(u"\"Ann Lee\"<+15550100>;\"Bob Stone\"<+15550101>",
                            u"The slides are on the shared drive."),
          std::nullopt, send::ui::ComposeMode::kResend);
    });
    window.settings().set_sign(u"-- sent from Telvane");
    shoot_compose("compose-signature", [](send::ui::ComposeWindow& dialog) {
      dialog.FillWithTexts(std::nullopt, u"\"Ann Lee\"<+15550100>",
                           send::ui::ComposeMode::kForward);
    });
    window.settings().set_sign(u"");
    shoot_compose("compose-70", [](send::ui::ComposeWindow& dialog) {
      dialog.FillWithTexts(u"\u660e\u5929\u89c1\uff01See you tomorrow!",
                           u"13800138000", send::ui::ComposeMode::kForward);
    });
  }
  {
    platform::SystemTime due = platform::CurrentLocalTime();
    send::ui::TimerDialog set(&window, true, due, due);
    tour.ShootDialog(&set, "timer-set");
    send::ui::TimerDialog clear(&window, false, due, due);
    tour.ShootDialog(&clear, "timer-clear");
  }
  {
    const std::u16string recipients =
        u"\"Ann Lee\"<+15550100>;\"Bob Stone\"<+15550101>;5550102";
    send::ui::GroupSendWindow ready(&window, recipients, u"Meeting at 3.",
                                    false);
    tour.ShootDialog(&ready, "group-send-ready");
    send::ui::GroupSendWindow sending(&window, recipients, u"Meeting at 3.",
                                      false);
    sending.show();
    sending.Dispatch(kit::cmds::kOk);
    tour.Shoot(&sending, "group-send-sending");
    for (int i = 0;
         i < 500 && sending.state() != send::GroupSender::State::kComplete;
         ++i) {
      QApplication::processEvents();
      QThread::msleep(5);
    }
    tour.Shoot(&sending, "group-send-complete");
    sending.Dispatch(kit::cmds::kOk);
  }

  // The firewall's editors over a sample filter set: the Filter List with
  // its menu, Filter Edit on a filter and on both defaults, the Rule
  // Editor, the Black List.
  {
    firewall::FilterSet& filters = window.filters();
    filters.filters.clear();
    firewall::FilterRecord work;
    work.SetName(u"Work");
    work.rules[0] = firewall::Rule{firewall::kObjectBody,
                                   firewall::kJudgeInclude, u"meeting"};
    work.Set(firewall::kSaveToFolder, u"\\Work");
    work.Set(firewall::kDontShowInInbox, std::nullopt);
    work.Set(firewall::kVibrate, std::nullopt);
    filters.filters.push_back(work);
    firewall::FilterRecord family;
    family.SetName(u"Family and the very best friends");
    family.rules[0] = firewall::Rule{firewall::kObjectPhoneNumber,
                                     firewall::kJudgeEqual, u"+15550100"};
    family.Set(firewall::kPlaySound,
               std::u16string(firewall::kRandomRingMarker));
    family.Set(firewall::kShowPopupWindow, std::nullopt);
    family.Set(firewall::kSpecificPhoto, u"\\photo\\Ann Lee.jpg");
    family.Set(firewall::kUnreadAlert, std::nullopt);
    filters.filters.push_back(family);
    firewall::FilterRecord away;
    away.SetName(u"Away");
    away.enabled = 0;
    away.apply_to_all = 1;
    away.Set(firewall::kAutoReply, u"I am away until Monday.");
    away.Set(firewall::kAutoForward, u"5550122");
    filters.filters.push_back(away);
    filters.black_list = {{u"Spam", u"13800000001"}, {u"Ads", u"10086*"}};

    const firewall::ui::FilterEditEnvironment environment{
        &window.settings(), nullptr, contacts_environment,
        settings::AppFolder()};
    {
      firewall::ui::FilterListDialog dialog(&window, &filters, environment);
      tour.ShootDialog(&dialog, "filter-list");
      dialog.show();
      kit::SoftKeyBar* keys = dialog.soft_keys();
      tour.ShootMenu(keys->menu(), "menu-filter-list",
                     [keys](QMenu* menu) { emit keys->MenuAboutToShow(menu); });
      dialog.close();
    }
    const char* edit_name = "";
    kit::SetDialogScript([&tour, &edit_name](kit::DeviceDialog* dialog) {
      tour.Shoot(dialog, edit_name);
      dialog->Dispatch(kit::kCommandCancel);
    });
    edit_name = "filter-edit";
    firewall::ui::RunFilterEdit(&window, &filters.filters[1],
                                firewall::ui::FilterEditMode::kUser,
                                environment);
    edit_name = "filter-edit-contact-default";
    firewall::ui::RunFilterEdit(&window, &filters.contact_default,
                                firewall::ui::FilterEditMode::kContactDefault,
                                environment);
    edit_name = "filter-edit-stranger-default";
    firewall::ui::RunFilterEdit(&window, &filters.stranger_default,
                                firewall::ui::FilterEditMode::kStrangerDefault,
                                environment);
    // Filter Edit scrolled to its last fields, and an OK check's "Error".
    kit::SetDialogScript([&tour](kit::DeviceDialog* dialog) {
      if (auto* area = dialog->findChild<settings::ui::OptionScrollArea*>()) {
        area->Scroll(settings::ui::ScrollRequest::kPageDown);
        tour.Shoot(dialog, "filter-edit-middle");
        area->Scroll(settings::ui::ScrollRequest::kPageDown);
        area->Scroll(settings::ui::ScrollRequest::kPageDown);
        tour.Shoot(dialog, "filter-edit-bottom");
        area->Scroll(settings::ui::ScrollRequest::kTop);
      }
      if (auto* name =
              kit::FindControl<QLineEdit>(dialog, firewall::ui::kNameEdit)) {
        name->clear();
      }
      kit::MessageScript before =
          kit::SetMessageScript([&tour, dialog](const kit::MessageRequest& r) {
            QMessageBox box(dialog);
            box.setWindowTitle(r.caption);
            box.setText(r.text);
            box.setIcon(QMessageBox::Critical);
            box.setStandardButtons(QMessageBox::Ok);
            tour.ShootDialog(&box, "filter-edit-error");
            return kit::kAnswerOk;
          });
      dialog->Dispatch(kit::cmds::kOk);
      kit::SetMessageScript(before);
      dialog->Dispatch(kit::kCommandCancel);
    });
    firewall::ui::RunFilterEdit(&window, &filters.filters[2],
                                firewall::ui::FilterEditMode::kUser,
                                environment);
    // Fast Create: a contact picked for rule 1, the Rule Editor accepted,
    // then Filter Edit.
    kit::SetDialogScript([&tour](kit::DeviceDialog* dialog) {
      if (auto* picker = dynamic_cast<contacts::ui::ContactPicker*>(dialog)) {
        picker->SelectItem(0);
        picker->Dispatch(kit::cmds::kPickerConfirm);
      } else if (dialog->template_id() == firewall::ui::kFilterEditTemplate) {
        tour.Shoot(dialog, "filter-edit-fast-create");
        dialog->Dispatch(kit::kCommandCancel);
      } else {
        dialog->Dispatch(kit::cmds::kOk);
      }
    });
    firewall::FilterRecord fast = firewall::NewFilter();
    firewall::ui::RunFilterEdit(
        &window, &fast, firewall::ui::FilterEditMode::kFastCreate, environment);
    // The rule password asked before the Filter List.
    kit::SetDialogScript([&tour](kit::DeviceDialog* dialog) {
      tour.Shoot(dialog, "rule-password");
      dialog->Dispatch(kit::kCommandCancel);
    });
    filters.password = u"1234";
    window.Dispatch(kit::cmds::kFilterList);
    filters.password.clear();
    kit::SetDialogScript([&tour, &edit_name](kit::DeviceDialog* dialog) {
      tour.Shoot(dialog, edit_name);
      dialog->Dispatch(kit::kCommandCancel);
    });
    edit_name = "rule-editor";
    firewall::ui::RunRuleEditor(&window, &filters.filters[0], false,
                                environment);
    kit::SetDialogScript(nullptr);
    {
      firewall::ui::BlackListDialog dialog(&window, &filters,
                                           contacts_environment);
      tour.ShootDialog(&dialog, "black-list");
    }
  }

  // SMS Setting and Alert Option, each from its top and scrolled to its
  // end, and the skin preview behind "Test...".
  {
    settings::ui::SmsSettingDialog dialog(&window, &window.settings());
    tour.ShootDialog(&dialog, "sms-setting");
    dialog.show();
    dialog.scroll_area()->Scroll(settings::ui::ScrollRequest::kPageDown);
    dialog.scroll_area()->Scroll(settings::ui::ScrollRequest::kPageDown);
    tour.Shoot(&dialog, "sms-setting-bottom");
    dialog.close();
  }
  {
    settings::ui::AlertOptionDialog dialog(&window, &window.settings(),
                                           settings::AppFolder());
    tour.ShootDialog(&dialog, "alert-option");
    dialog.show();
    dialog.scroll_area()->Scroll(settings::ui::ScrollRequest::kPageDown);
    dialog.scroll_area()->Scroll(settings::ui::ScrollRequest::kPageDown);
    tour.Shoot(&dialog, "alert-option-bottom");
    dialog.close();
    const std::vector<std::u16string> skins = alerts::ui::FillSkinList();
    alerts::ui::SkinPreviewWindow preview(
        &dialog,
        skins.empty()
            ? std::u16string()
            : alerts::ui::SkinPathForName(settings::AppFolder(), skins.front()),
        kit::LoadString(kit::ids::kTestText),
        kit::LoadString(kit::ids::kTestNumber), MakeSamplePhoto());
    preview.show();
    tour.Shoot(&preview, "alert-option-test");
    preview.close();
  }
  {
    settings::ui::SecurityEnvironment environment;
    environment.document = &window.document();
    environment.filters = &window.filters();
    settings::ui::SecurityDialog dialog(&window, &window.settings(),
                                        environment);
    tour.ShootDialog(&dialog, "security");
  }
  {
    settings::ui::FontSettingDialog dialog(&window, &window.settings());
    tour.ShootDialog(&dialog, "font-setting");
  }
  {
    settings::ui::FontDialog dialog(&window, window.settings().list_view_font(),
                                    settings::ui::ScreenDpiY(&window));
    tour.ShootDialog(&dialog, "font");
  }
  // The Hotkey dialog with two keys bound and capturing a key, its soft
  // keys (menu bar 201) and the rows' tap-and-hold menu.
  {
    const std::vector<settings::HotkeyBinding> kept =
        window.settings().hotkeys();
    window.settings().mutable_hotkeys() = {{1, 193, kit::cmds::kNewSms},
                                           {1, 142, kit::cmds::kReply}};
    settings::ui::HotkeyDialog dialog(&window, &window.settings());
    tour.ShootDialog(&dialog, "hotkey");
    dialog.show();
    kit::SelectListRow(dialog.list(), 8);
    dialog.StartCapture();
    tour.Shoot(&dialog, "hotkey-capture");
    dialog.EndCapture();
    tour.Shoot(dialog.soft_keys(), "menu-hotkey");
    tour.ShootMenu(dialog.row_menu(), "menu-hotkey-row", [](QMenu*) {});
    dialog.close();
    window.settings().mutable_hotkeys() = kept;
  }
  {
    // The phone's folders: two messages of today and two older ones in
    // the Inbox, one in Sent Items.
    std::error_code error;
    fs::path bin = fs::read_symlink("/proc/self/exe", error).parent_path();
    const std::string devicectl = (bin / "devicectl").string();
    for (const char* args :
         {"store add-inbox --from 10086 --at '2026-01-05 09:12:00' "
          "'Your balance is 23.50. Top up now to keep your number active.'",
          "store add-inbox --from 13800138000 --at '2026-02-14 20:30:00' "
          "'\u665a\u4e0a\u4e03\u70b9\u5728\u8001\u5730\u65b9\u89c1"
          "\u9762\uff0c\u4e0d\u8981\u8fdf\u5230\u4e86\uff01'",
          "store add-inbox --from +15550101 'Meeting moved to 3 pm, room 4.'",
          "store add-inbox --from +15550104 'On my way'",
          "store add-sent --to +15550100 'See you at the station at 6.'"}) {
      std::string command = devicectl + " " + args + " >/dev/null";
      if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "telvane-tour: devicectl %s failed\n", args);
      }
    }
    settings::SettingsStore& options = window.settings();
    import::ui::ImportContext context;
    context.document = &window.document();
    context.target = window.document().WellKnownFolder(store::kFolderInbox);
    context.settings = &options;
    const int32_t source = options.import_source();
    const int32_t delete_after = options.sms_delete();
    options.set_import_source(0);
    {
      import::ui::ImportDialog dialog(&window, context);
      dialog.show();
      // Two messages ticked with the action key.
      for (int row : {0, 2}) {
        kit::SelectListRow(dialog.list(), row);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(
            kit::FindControl<QWidget>(&dialog, import::ui::kImportList),
            &enter);
      }
      kit::SelectListRow(dialog.list(), 0);
      tour.ShootDialog(&dialog, "import-inbox");
      dialog.show();
      options.set_sms_delete(1);
      kit::SoftKeyBar* keys = dialog.soft_keys();
      tour.ShootMenu(keys->menu(), "menu-import",
                     [keys](QMenu* menu) { emit keys->MenuAboutToShow(menu); });
      dialog.close();
    }
    options.set_import_source(1);
    {
      import::ui::ImportDialog dialog(&window, context);
      tour.ShootDialog(&dialog, "import-sent");
    }
    options.set_import_source(source);
    options.set_sms_delete(delete_after);
  }
  {
    // A backup of three messages, one already in the Inbox and an mms,
    // imported into the Inbox from the file browser.
    const std::string backup =
        "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n"
        "<smses count=\"4\">\n"
        "<sms address=\"+15550101\" date=\"1767607920000\" type=\"1\" "
        "body=\"Lunch at noon? &#55357;&#56842;\" read=\"0\" />\n"
        "<sms address=\"+15550101\" date=\"1767607920000\" type=\"1\" "
        "body=\"Lunch at noon? &#55357;&#56842;\" read=\"0\" />\n"
        "<sms address=\"+15550102\" date=\"1767608040000\" type=\"2\" "
        "body=\"Yes, see you there\" read=\"1\" />\n"
        "<mms date=\"1767608100000\" msg_box=\"1\" />\n"
        "</smses>\n";
    if (!platform::files::WriteFileAtomically(u"\\backup.xml", backup).ok()) {
      std::fprintf(stderr, "telvane-tour: cannot write backup.xml\n");
    }
    settings::SettingsStore& options = window.settings();
    const std::u16string last_dir = options.last_dir();
    options.set_last_dir(u"\\");
    window.ChooseNode(window.document().WellKnownFolder(store::kFolderInbox));
    kit::SetDialogScript([](kit::DeviceDialog* dialog) {
      auto* list = kit::FindControl<QTreeView>(dialog, kit::kFileList);
      if (list == nullptr) return;
      const QModelIndexList found = list->model()->match(
          list->model()->index(0, 0), Qt::DisplayRole,
          QStringLiteral("backup.xml"), 1, Qt::MatchExactly);
      if (!found.isEmpty()) list->setCurrentIndex(found.first());
      dialog->Dispatch(kit::kCommandOk);
    });
    kit::MessageScript before =
        kit::SetMessageScript([&tour, &window](const kit::MessageRequest& r) {
          QMessageBox box(&window);
          box.setWindowTitle(r.caption);
          box.setText(r.text);
          box.setIcon(QMessageBox::Information);
          box.setStandardButtons(QMessageBox::Ok);
          tour.ShootDialog(&box, "xml-import-result");
          return kit::kAnswerOk;
        });
    window.Dispatch(kit::cmds::kImportXmlBackup);
    kit::SetMessageScript(before);
    kit::SetDialogScript(nullptr);
    options.set_last_dir(last_dir);
  }
  // The device's Today screen with the program's item: no unread message,
  // then three, and the item's options dialog. The item reads the count
  // the program keeps; the tour sets it and puts it back.
  {
    if (!intercept::SetTodayItem(true, settings::AppFolder()).ok()) {
      std::fprintf(stderr, "telvane-tour: the Today item was not registered\n");
    }
    bool existed = false;
    std::optional<platform::SharedMemory> count =
        platform::SharedMemory::CreateOrOpen("ZUD_SmsCount", 4, &existed);
    auto* unread =
        count ? static_cast<volatile int32_t*>(count->data()) : nullptr;
    const int32_t kept = unread != nullptr ? *unread : 0;
    auto settle = [] {
      for (int round = 0; round < 10; ++round) {
        QCoreApplication::sendPostedEvents();
        QApplication::processEvents();
      }
    };
    if (unread != nullptr) *unread = 0;
    device::todayshell::TodayScreen screen;
    screen.resize(240, 320);
    screen.show();
    if (screen.LoadItems() != 1) {
      std::fprintf(stderr, "telvane-tour: the Today item did not load\n");
    }
    settle();
    tour.Shoot(&screen, "today-none");
    if (unread != nullptr) *unread = 3;
    screen.RefreshItems();
    settle();
    tour.Shoot(&screen, "today-3");
    if (std::unique_ptr<QDialog> options = screen.MakeOptionsDialog(0)) {
      options->resize(240, 320);
      tour.ShootDialog(options.get(), "today-options");
    }
    if (unread != nullptr) *unread = kept;
  }

  window.Shutdown();
  window.TearDown();
  return tour.ok();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: telvane-tour OUTDIR\n");
    return 2;
  }
  fs::path out = argv[1];
  std::error_code error;
  fs::create_directories(out, error);
  if (!fs::is_directory(out)) {
    std::fprintf(stderr, "telvane-tour: cannot make %s\n", argv[1]);
    return 1;
  }

  // A scratch device, so the tour never touches the user's own.
  std::string scratch = (fs::temp_directory_path() / "telvane-tour-XXXXXX");
  if (mkdtemp(scratch.data()) == nullptr) {
    std::perror("telvane-tour: mkdtemp");
    return 1;
  }
  setenv("TELVANE_DEVICE", scratch.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  bool ok = platform::InitialiseDevice().ok();
  if (!ok) std::fprintf(stderr, "telvane-tour: cannot make the device\n");

  if (ok) {
    QApplication application(argc, argv);
    // Message boxes are answered at once instead of waiting for a user.
    kit::SetMessageScript([](const kit::MessageRequest& request) {
      std::fprintf(stderr, "telvane-tour: %s: %s\n",
                   request.caption.toStdString().c_str(),
                   request.text.toStdString().c_str());
      return kit::kAnswerOk;
    });
    ok = RunTour(out);
  }
  // The scratch device is removed next, whatever is left of it.
  platform::ShutdownDevice().IgnoreError();
  fs::remove_all(scratch, error);
  return ok ? 0 : 1;
}
