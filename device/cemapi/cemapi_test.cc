// cemapi.dll as a program uses it: installed into a scratch device, loaded
// by name, entry points found by name, the store reached through sessions,
// tables and messages.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "device/cemapi/message_store.h"
#include "platform/mapi.h"
#include "platform/modules.h"
#include "platform/testing/temp_device.h"

namespace {

using namespace platform;  // the interface's names, as a program uses them

FileTime At(uint64_t seconds) {
  return FileTime::FromValue(seconds * 10000000ull);
}

std::string RunDevicectl(const std::string& args) {
  std::string command =
      (platform::testing::BinDir() / "devicectl").string() + " " + args;
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// The scratch device with cemapi.dll installed and loaded.
class Mapi {
 public:
  Mapi() {
    std::filesystem::path built =
        platform::testing::BinDir().parent_path() / "lib" / "libcemapi.so";
    std::filesystem::path target = scratch_.HostPath("\\Windows\\cemapi.dll");
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(built, target);
    Status status;
    library_ = Library::Load(kMapiLibraryName, &status);
    EXPECT_NE(library_, nullptr) << status.ToString();
    if (library_ == nullptr) return;
    EXPECT_EQ(library_->device_path(), u"\\Windows\\cemapi.dll");
    initialize = Find<MapiInitializeFunction>(kMapiInitializeName);
    logon = Find<MapiLogonExFunction>(kMapiLogonExName);
    uninitialize = Find<MapiUninitializeFunction>(kMapiUninitializeName);
    free_buffer = Find<MapiFreeBufferFunction>(kMapiFreeBufferName);
    free_rows = Find<FreeProwsFunction>(kFreeProwsName);
  }
  bool ok() const {
    return initialize && logon && uninitialize && free_buffer && free_rows;
  }

  // Opens the "SMS" store the way the import does: the stores table read
  // one row at a time, each store opened and its display name compared.
  IMsgStore* OpenSmsStore(IMAPISession* session) {
    IMAPITable* stores = nullptr;
    if (Failed(session->GetMsgStoresTable(MAPI_UNICODE, &stores)))
      return nullptr;
    IMsgStore* found = nullptr;
    while (found == nullptr) {
      SRowSet* rows = nullptr;
      if (Failed(stores->QueryRows(1, 0, &rows)) || rows->cRows == 0) {
        free_rows(rows);
        break;
      }
      const SPropValue& id = rows->aRow[0].lpProps[0];
      EXPECT_EQ(id.ulPropTag, PR_ENTRYID);
      IMsgStore* store = nullptr;
      if (Succeeded(session->OpenMsgStore(
              0, id.Value.bin.cb, reinterpret_cast<ENTRYID*>(id.Value.bin.lpb),
              nullptr, MDB_NO_DIALOG | MAPI_BEST_ACCESS, &store))) {
        SizedSPropTagArray<1> name_tag{1, {PR_DISPLAY_NAME}};
        ULONG count = 0;
        SPropValue* name = nullptr;
        if (store->GetProps(name_tag.get(), MAPI_UNICODE, &count, &name) ==
                S_OK &&
            std::u16string(name->Value.lpszW) == u"SMS") {
          found = store;
        } else {
          store->Release();
        }
        free_buffer(name);
      }
      free_rows(rows);
    }
    stores->Release();
    return found;
  }

  // Opens a folder named by the store property `tag`.
  IMAPIFolder* OpenFolder(IMsgStore* store, ULONG tag) {
    SizedSPropTagArray<1> tags{1, {tag}};
    ULONG count = 0;
    SPropValue* id = nullptr;
    IMAPIFolder* folder = nullptr;
    if (store->GetProps(tags.get(), 0, &count, &id) == S_OK) {
      ULONG type = 0;
      EXPECT_EQ(store->OpenEntry(id->Value.bin.cb,
                                 reinterpret_cast<ENTRYID*>(id->Value.bin.lpb),
                                 nullptr, MAPI_MODIFY, &type,
                                 reinterpret_cast<IUnknown**>(&folder)),
                S_OK);
      EXPECT_EQ(type, MAPI_FOLDER);
    }
    free_buffer(id);
    return folder;
  }

  platform::testing::TempDevice scratch_;
  std::unique_ptr<Library> library_;
  MapiInitializeFunction initialize = nullptr;
  MapiLogonExFunction logon = nullptr;
  MapiUninitializeFunction uninitialize = nullptr;
  MapiFreeBufferFunction free_buffer = nullptr;
  FreeProwsFunction free_rows = nullptr;

 private:
  template <typename F>
  F Find(const char* name) {
    F f = reinterpret_cast<F>(library_->Symbol(name));
    EXPECT_NE(f, nullptr) << name;
    return f;
  }
};

ENTRYID* AsEntryId(std::string& bytes) {
  return reinterpret_cast<ENTRYID*>(bytes.data());
}

TEST(Cemapi, ListsTheInboxAndReadsAMessageByItsEntryId) {
  Mapi mapi;
  ASSERT_TRUE(mapi.ok());
  std::optional<std::string> old_one =
      device::cemapi::DeliverIncomingSms(u"+8613900000000", u"older", At(100));
  std::optional<std::string> new_one = device::cemapi::DeliverIncomingSms(
      u"10086", u"\u4f60\u597d, world", At(13000000000ull));
  ASSERT_TRUE(device::cemapi::AddSentSms(u"555", u"sent text", At(200)));
  ASSERT_TRUE(old_one && new_one);

  IMAPISession* session = nullptr;
  EXPECT_EQ(mapi.logon(0, nullptr, nullptr, 0, &session),
            MAPI_E_NOT_INITIALIZED);
  ASSERT_EQ(mapi.initialize(nullptr), S_OK);
  ASSERT_EQ(mapi.logon(0, nullptr, nullptr, 0, &session), S_OK);
  IMsgStore* store = mapi.OpenSmsStore(session);
  ASSERT_NE(store, nullptr);
  IMAPIFolder* inbox = mapi.OpenFolder(store, PR_CE_IPM_INBOX_ENTRYID);
  ASSERT_NE(inbox, nullptr);

  // The contents table with the import's columns, one row at a time.
  IMAPITable* table = nullptr;
  ASSERT_EQ(inbox->GetContentsTable(0, &table), S_OK);
  SizedSPropTagArray<3> columns{
      3, {PR_ENTRYID, PR_MESSAGE_FLAGS, PR_MESSAGE_DELIVERY_TIME}};
  ASSERT_EQ(table->SetColumns(columns.get(), 0), S_OK);
  ULONG row_count = 0;
  EXPECT_EQ(table->GetRowCount(0, &row_count), S_OK);
  EXPECT_EQ(row_count, 2u);
  std::vector<std::string> ids;
  for (;;) {
    SRowSet* rows = nullptr;
    ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
    if (rows->cRows == 0) {
      mapi.free_rows(rows);
      break;
    }
    ASSERT_EQ(rows->aRow[0].cValues, 3u);
    const SPropValue* p = rows->aRow[0].lpProps;
    EXPECT_EQ(p[0].ulPropTag, PR_ENTRYID);
    EXPECT_EQ(p[1].ulPropTag, PR_MESSAGE_FLAGS);
    EXPECT_EQ(p[1].Value.l, 0);
    EXPECT_EQ(p[2].ulPropTag, PR_MESSAGE_DELIVERY_TIME);
    ids.emplace_back(reinterpret_cast<char*>(p[0].Value.bin.lpb),
                     p[0].Value.bin.cb);
    mapi.free_rows(rows);
  }
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0], *new_one);  // newest first
  EXPECT_EQ(ids[1], *old_one);
  EXPECT_LE(ids[0].size(), 24u);  // fits the import's fixed space
  // Back to the start; a read that does not move the cursor.
  LONG moved = 0;
  EXPECT_EQ(table->SeekRow(BOOKMARK_END, -1, &moved), S_OK);
  EXPECT_EQ(moved, -1);
  SRowSet* last = nullptr;
  ASSERT_EQ(table->QueryRows(5, TBL_NOADVANCE, &last), S_OK);
  ASSERT_EQ(last->cRows, 1u);
  EXPECT_EQ(last->aRow[0].lpProps[0].Value.bin.cb, ids[1].size());
  mapi.free_rows(last);
  EXPECT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
  ASSERT_EQ(table->QueryRows(10, 0, &last), S_OK);
  EXPECT_EQ(last->cRows, 2u);
  mapi.free_rows(last);
  table->Release();

  // The message by its identifier: text, sender and delivery time.
  IMessage* message = nullptr;
  ULONG type = 0;
  ASSERT_EQ(store->OpenEntry(static_cast<ULONG>(ids[0].size()),
                             AsEntryId(ids[0]), nullptr, MAPI_BEST_ACCESS,
                             &type, reinterpret_cast<IUnknown**>(&message)),
            S_OK);
  EXPECT_EQ(type, MAPI_MESSAGE);
  SizedSPropTagArray<3> wanted{
      3, {PR_SUBJECT, PR_SENDER_EMAIL_ADDRESS, PR_MESSAGE_DELIVERY_TIME}};
  ULONG count = 0;
  SPropValue* props = nullptr;
  ASSERT_EQ(message->GetProps(wanted.get(), MAPI_UNICODE, &count, &props),
            S_OK);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(std::u16string(props[0].Value.lpszW), u"\u4f60\u597d, world");
  EXPECT_EQ(std::u16string(props[1].Value.lpszW), u"10086");
  EXPECT_EQ(props[2].Value.ft.value(), At(13000000000ull).value());
  mapi.free_buffer(props);

  // Missing or mistyped properties come back as errors beside the others.
  SizedSPropTagArray<3> odd{
      3,
      {PR_DISPLAY_NAME, PROP_TAG(PT_LONG, PROP_ID(PR_SUBJECT)),
       PROP_TAG(PT_UNSPECIFIED, PROP_ID(PR_MESSAGE_FLAGS))}};
  ASSERT_EQ(message->GetProps(odd.get(), 0, &count, &props),
            MAPI_W_ERRORS_RETURNED);
  EXPECT_EQ(props[0].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_DISPLAY_NAME)));
  EXPECT_EQ(props[0].Value.err, MAPI_E_NOT_FOUND);
  EXPECT_EQ(props[1].Value.err, MAPI_E_INVALID_TYPE);
  EXPECT_EQ(props[2].ulPropTag, PR_MESSAGE_FLAGS);
  mapi.free_buffer(props);
  // Every property, and the interfaces a message answers.
  ASSERT_EQ(message->GetProps(nullptr, 0, &count, &props), S_OK);
  EXPECT_GE(count, 5u);
  mapi.free_buffer(props);
  IUnknown* unknown = nullptr;
  EXPECT_EQ(message->QueryInterface(IID_IMAPIProp,
                                    reinterpret_cast<void**>(&unknown)),
            S_OK);
  unknown->Release();
  EXPECT_EQ(message->QueryInterface(IID_IMAPIFolder,
                                    reinterpret_cast<void**>(&unknown)),
            E_NOINTERFACE);
  EXPECT_EQ(unknown, nullptr);
  message->Release();

  // Sent Items through its own store property.
  IMAPIFolder* sent = mapi.OpenFolder(store, PR_IPM_SENTMAIL_ENTRYID);
  ASSERT_NE(sent, nullptr);
  SizedSPropTagArray<2> folder_tags{2, {PR_DISPLAY_NAME, PR_CONTENT_COUNT}};
  ASSERT_EQ(sent->GetProps(folder_tags.get(), 0, &count, &props), S_OK);
  EXPECT_EQ(std::u16string(props[0].Value.lpszW), u"Sent Items");
  EXPECT_EQ(props[1].Value.l, 1);
  mapi.free_buffer(props);
  sent->Release();

  inbox->Release();
  store->Release();
  EXPECT_EQ(session->Logoff(0, 0, 0), S_OK);
  IMAPITable* after = nullptr;
  EXPECT_EQ(session->GetMsgStoresTable(0, &after), MAPI_E_END_OF_SESSION);
  session->Release();
  mapi.uninitialize();
}

TEST(Cemapi, DeleteMessagesRemovesTheMessageEverywhere) {
  Mapi mapi;
  ASSERT_TRUE(mapi.ok());
  std::optional<std::string> doomed =
      device::cemapi::DeliverIncomingSms(u"10010", u"spam", At(500));
  std::optional<std::string> kept =
      device::cemapi::DeliverIncomingSms(u"10011", u"friend", At(400));
  ASSERT_TRUE(doomed && kept);
  ASSERT_EQ(mapi.initialize(nullptr), S_OK);
  IMAPISession* session = nullptr;
  ASSERT_EQ(mapi.logon(0, nullptr, nullptr, 0, &session), S_OK);
  IMsgStore* store = mapi.OpenSmsStore(session);
  ASSERT_NE(store, nullptr);

  // The rule client's way: the folder by the identifier it was given.
  std::string folder_id = device::cemapi::EncodeEntryId(
      {device::cemapi::EntryKind::kFolder,
       device::cemapi::FindSmsFolder(device::cemapi::FolderRole::kInbox)->id});
  IMAPIFolder* inbox = nullptr;
  ASSERT_EQ(store->OpenEntry(static_cast<ULONG>(folder_id.size()),
                             AsEntryId(folder_id), nullptr, 0, nullptr,
                             reinterpret_cast<IUnknown**>(&inbox)),
            S_OK);
  IMAPIFolder* sent = mapi.OpenFolder(store, PR_IPM_SENTMAIL_ENTRYID);
  ASSERT_NE(sent, nullptr);

  SBinary entry{static_cast<ULONG>(doomed->size()),
                reinterpret_cast<BYTE*>(doomed->data())};
  ENTRYLIST list{1, &entry};
  // Not through a folder that does not hold it.
  EXPECT_EQ(sent->DeleteMessages(&list, 0, nullptr, 0), MAPI_E_NOT_FOUND);
  EXPECT_TRUE(device::cemapi::FindMessage(*doomed));
  EXPECT_EQ(inbox->DeleteMessages(&list, 0, nullptr, 0), S_OK);
  EXPECT_FALSE(device::cemapi::FindMessage(*doomed));
  EXPECT_EQ(inbox->DeleteMessages(&list, 0, nullptr, 0), MAPI_E_NOT_FOUND);
  IUnknown* gone = nullptr;
  EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(doomed->size()),
                             AsEntryId(*doomed), nullptr, 0, nullptr, &gone),
            MAPI_E_NOT_FOUND);
  // Another process sees it gone and the other message still there.
  std::string listing = RunDevicectl("inbox");
  EXPECT_EQ(listing.find("spam"), std::string::npos) << listing;
  EXPECT_NE(listing.find("friend"), std::string::npos) << listing;

  // A list with one good and one foreign entry.
  std::string junk = "not an entry id";
  SBinary two[2] = {
      {static_cast<ULONG>(kept->size()), reinterpret_cast<BYTE*>(kept->data())},
      {static_cast<ULONG>(junk.size()), reinterpret_cast<BYTE*>(junk.data())}};
  ENTRYLIST pair{2, two};
  EXPECT_EQ(inbox->DeleteMessages(&pair, 0, nullptr, 0),
            MAPI_W_PARTIAL_COMPLETION);
  EXPECT_EQ(device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kInbox),
            0);
  EXPECT_EQ(inbox->DeleteMessages(nullptr, 0, nullptr, 0),
            MAPI_E_INVALID_PARAMETER);

  // Bytes that are no identifier of this store.
  EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(junk.size()), AsEntryId(junk),
                             nullptr, 0, nullptr, &gone),
            MAPI_E_INVALID_ENTRYID);
  EXPECT_EQ(gone, nullptr);
  // A null identifier opens the root folder.
  IMAPIFolder* root = nullptr;
  EXPECT_EQ(store->OpenEntry(0, nullptr, &IID_IMAPIFolder, 0, nullptr,
                             reinterpret_cast<IUnknown**>(&root)),
            S_OK);
  ASSERT_NE(root, nullptr);
  root->Release();

  sent->Release();
  inbox->Release();
  store->Release();
  session->Logoff(0, 0, 0);
  session->Release();
  mapi.uninitialize();
}

TEST(Cemapi, TablesAndOpenMessagesKeepWhatTheySawAndHostileIdsAreRefused) {
  Mapi mapi;
  ASSERT_TRUE(mapi.ok());
  std::optional<std::string> first =
      device::cemapi::DeliverIncomingSms(u"1", u"first", At(10));
  ASSERT_TRUE(first);
  ASSERT_EQ(mapi.initialize(nullptr), S_OK);
  ASSERT_EQ(mapi.initialize(nullptr), S_OK);  // counted
  mapi.uninitialize();
  IMAPISession* session = nullptr;
  ASSERT_EQ(mapi.logon(0, nullptr, nullptr, 0, &session), S_OK);
  IMsgStore* store = mapi.OpenSmsStore(session);
  ASSERT_NE(store, nullptr);
  IMAPIFolder* inbox = mapi.OpenFolder(store, PR_CE_IPM_INBOX_ENTRYID);
  ASSERT_NE(inbox, nullptr);
  IMAPITable* table = nullptr;
  ASSERT_EQ(inbox->GetContentsTable(MAPI_UNICODE, &table), S_OK);
  IMessage* message = nullptr;
  ASSERT_EQ(session->OpenEntry(static_cast<ULONG>(first->size()),
                               AsEntryId(*first), nullptr, 0, nullptr,
                               reinterpret_cast<IUnknown**>(&message)),
            S_OK);

  ASSERT_TRUE(device::cemapi::DeliverIncomingSms(u"2", u"second", At(20)));
  ASSERT_TRUE(device::cemapi::DeleteMessage(*first).ok());
  ULONG rows = 0;
  EXPECT_EQ(table->GetRowCount(0, &rows), S_OK);
  EXPECT_EQ(rows, 1u);  // the snapshot: "first" only
  SizedSPropTagArray<1> subject{1, {PR_SUBJECT}};
  ULONG count = 0;
  SPropValue* props = nullptr;
  ASSERT_EQ(message->GetProps(subject.get(), 0, &count, &props), S_OK);
  EXPECT_EQ(std::u16string(props[0].Value.lpszW), u"first");
  mapi.free_buffer(props);
  SRowSet* set = nullptr;
  EXPECT_EQ(table->QueryRows(0, 0, &set), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(table->SetColumns(nullptr, 0), MAPI_E_INVALID_PARAMETER);
  message->Release();
  table->Release();

  // Hostile lists and identifiers: null bytes, a message id given as a
  // folder, a store id opened as an entry of the store.
  SBinary bad[2] = {{14, nullptr}, {0, nullptr}};
  ENTRYLIST list{2, bad};
  EXPECT_EQ(inbox->DeleteMessages(&list, 0, nullptr, 0), MAPI_E_NOT_FOUND);
  ENTRYLIST no_array{3, nullptr};
  EXPECT_EQ(inbox->DeleteMessages(&no_array, 0, nullptr, 0),
            MAPI_E_INVALID_PARAMETER);
  std::string store_id =
      device::cemapi::EncodeEntryId({device::cemapi::EntryKind::kStore, 1});
  IUnknown* object = nullptr;
  EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(store_id.size()),
                             AsEntryId(store_id), nullptr, 0, nullptr, &object),
            MAPI_E_INVALID_ENTRYID);
  std::string missing =
      device::cemapi::EncodeEntryId({device::cemapi::EntryKind::kFolder, 999});
  IMsgStore* not_a_store = nullptr;
  EXPECT_EQ(session->OpenMsgStore(0, static_cast<ULONG>(missing.size()),
                                  AsEntryId(missing), nullptr, 0, &not_a_store),
            MAPI_E_INVALID_ENTRYID);
  EXPECT_EQ(
      session->OpenEntry(static_cast<ULONG>(missing.size()), AsEntryId(missing),
                         nullptr, 0, nullptr, &object),
      MAPI_E_NOT_FOUND);
  EXPECT_EQ(session->OpenEntry(static_cast<ULONG>(store_id.size()),
                               AsEntryId(store_id), &IID_IMAPITable, 0, nullptr,
                               &object),
            MAPI_E_INTERFACE_NOT_SUPPORTED);
  EXPECT_EQ(object, nullptr);

  inbox->Release();
  store->Release();
  session->Logoff(0, 0, 0);
  session->Release();
  mapi.uninitialize();
  EXPECT_EQ(mapi.logon(0, nullptr, nullptr, 0, &session),
            MAPI_E_NOT_INITIALIZED);
}

TEST(Cemapi, AMessageDeletedInAnotherProcessIsGoneHere) {
  Mapi mapi;
  ASSERT_TRUE(mapi.ok());
  std::optional<std::string> id =
      device::cemapi::DeliverIncomingSms(u"1", u"short lived", At(1));
  ASSERT_TRUE(id);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child goes through the library too.
    HRESULT hr = mapi.initialize(nullptr);
    IMAPISession* session = nullptr;
    if (Succeeded(hr)) hr = mapi.logon(0, nullptr, nullptr, 0, &session);
    IMsgStore* store = Succeeded(hr) ? mapi.OpenSmsStore(session) : nullptr;
    IMAPIFolder* inbox =
        store ? mapi.OpenFolder(store, PR_CE_IPM_INBOX_ENTRYID) : nullptr;
    SBinary entry{static_cast<ULONG>(id->size()),
                  reinterpret_cast<BYTE*>(id->data())};
    ENTRYLIST list{1, &entry};
    hr = inbox ? inbox->DeleteMessages(&list, 0, nullptr, 0) : E_FAIL;
    _exit(hr == S_OK ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(device::cemapi::FindMessage(*id));
  EXPECT_EQ(device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kInbox),
            0);
}

}  // namespace
