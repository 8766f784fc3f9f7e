// inrelay.dll as the messaging service uses it: installed into a scratch
// device with cemapi.dll, activated through the registry, fed messages that
// really lie in the Inbox, and checked in the real shared buffer.
#include "ruleclient/rule_client.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/cemapi/message_store.h"
#include "intercept/intake.h"
#include "platform/kernel_objects.h"
#include "platform/mapi.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "platform/testing/temp_device.h"
#include "ruleclient/sms_buffer_layout.h"

namespace sms_buffer = ruleclient::sms_buffer;

namespace {

using namespace platform;  // the interface's names, as the service uses them

// The scratch device with both libraries installed, the class registered
// and a session on the "SMS" store. One for the whole binary.
class Phone {
 public:
  Phone() {
    std::filesystem::path lib =
        platform::testing::BinDir().parent_path() / "lib";
    Install(lib / "libcemapi.so", "\\Windows\\cemapi.dll");
    Install(lib / "libinrelay.so", "\\Windows\\inrelay.dll");
    std::optional<RegistryKey> key = RegistryKey::Create(
        RegistryRoot::kClassesRoot,
        u"CLSID\\" + GuidToString(CLSID_RuleClient) + u"\\InprocServer32");
    EXPECT_TRUE(key.has_value());
    if (key) {
      EXPECT_TRUE(key->SetString(u"", u"inrelay.dll").ok());
    }

    mapi_ = Library::Load(kMapiLibraryName);
    relay_ = Library::Load(u"inrelay.dll");
    if (mapi_ == nullptr || relay_ == nullptr) return;
    auto initialize = reinterpret_cast<MapiInitializeFunction>(
        mapi_->Symbol(kMapiInitializeName));
    auto logon =
        reinterpret_cast<MapiLogonExFunction>(mapi_->Symbol(kMapiLogonExName));
    uninitialize_ = reinterpret_cast<MapiUninitializeFunction>(
        mapi_->Symbol(kMapiUninitializeName));
    free_buffer_ = reinterpret_cast<MapiFreeBufferFunction>(
        mapi_->Symbol(kMapiFreeBufferName));
    auto free_rows =
        reinterpret_cast<FreeProwsFunction>(mapi_->Symbol(kFreeProwsName));
    can_unload = reinterpret_cast<DllCanUnloadNowFunction>(
        relay_->Symbol("DllCanUnloadNow"));
    get_class_object = reinterpret_cast<DllGetClassObjectFunction>(
        relay_->Symbol("DllGetClassObject"));
    if (!initialize || !logon || !uninitialize_ || !free_buffer_ ||
        !free_rows || initialize(nullptr) != S_OK) {
      return;
    }
    if (logon(0, nullptr, nullptr, 0, &session_) != S_OK) return;
    // The "SMS" store: the first of the stores table (the device has one).
    IMAPITable* stores = nullptr;
    if (Failed(session_->GetMsgStoresTable(0, &stores))) return;
    SRowSet* rows = nullptr;
    if (Succeeded(stores->QueryRows(1, 0, &rows)) && rows->cRows == 1) {
      const SPropValue& id = rows->aRow[0].lpProps[0];
      session_->OpenMsgStore(0, id.Value.bin.cb,
                             reinterpret_cast<ENTRYID*>(id.Value.bin.lpb),
                             nullptr, MDB_WRITE, &store);
    }
    free_rows(rows);
    stores->Release();
    std::optional<device::cemapi::FolderInfo> inbox =
        device::cemapi::FindSmsFolder(device::cemapi::FolderRole::kInbox);
    if (inbox) {
      inbox_id = device::cemapi::EncodeEntryId(
          {device::cemapi::EntryKind::kFolder, inbox->id});
    }
  }
  ~Phone() {
    if (store != nullptr) store->Release();
    if (session_ != nullptr) {
      session_->Logoff(0, 0, 0);
      session_->Release();
    }
    if (uninitialize_ != nullptr) uninitialize_();
  }
  bool ok() const {
    return store != nullptr && can_unload != nullptr &&
           get_class_object != nullptr && !inbox_id.empty();
  }

  std::string DebugLog() const {
    std::ifstream in(device_.root() / "debug.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  platform::testing::TempDevice device_;
  IMsgStore* store = nullptr;
  std::string inbox_id;
  DllCanUnloadNowFunction can_unload = nullptr;
  DllGetClassObjectFunction get_class_object = nullptr;

 private:
  void Install(const std::filesystem::path& built, const std::string& to) {
    std::filesystem::path target = device_.HostPath(to);
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(built, target);
  }

  std::unique_ptr<Library> mapi_;
  std::unique_ptr<Library> relay_;
  IMAPISession* session_ = nullptr;
  MapiUninitializeFunction uninitialize_ = nullptr;
  MapiFreeBufferFunction free_buffer_ = nullptr;
};

class RuleClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { phone_ = new Phone(); }
  static void TearDownTestSuite() {
    delete phone_;
    phone_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(phone_->ok()); }

  // A new rule client through the registry, as the service activates it.
  IMailRuleClient* NewClient() {
    IMailRuleClient* client = nullptr;
    EXPECT_EQ(CreateComInstance(CLSID_RuleClient, nullptr, IID_IMailRuleClient,
                                reinterpret_cast<void**>(&client)),
              S_OK);
    if (client != nullptr) {
      MRCACCESS access = MRC_ACCESS_NONE;
      EXPECT_EQ(client->Initialize(phone_->store, &access), S_OK);
      EXPECT_EQ(access, MRC_ACCESS_WRITE);
    }
    return client;
  }

  // The shared buffer as the program's side sees it (mapped for the test).
  uint8_t* Buffer() {
    if (!mapped_.is_open()) {
      auto opened = SharedMemory::CreateOrOpen(
          sms_buffer::kBufferName, sms_buffer::kBufferSize, nullptr);
      if (!opened) return nullptr;
      mapped_ = std::move(*opened);
    }
    return static_cast<uint8_t*>(mapped_.data());
  }

  struct Outcome {
    HRESULT result = E_FAIL;
    ULONG event_type = 0;
    MRCHANDLED handled = MRC_HANDLED_CONTINUE;  // not a value the client sets
  };
  Outcome Process(IMailRuleClient* client, std::string message_id) {
    Outcome out;
    std::string folder = phone_->inbox_id;
    out.result = client->ProcessMessage(
        phone_->store, static_cast<ULONG>(message_id.size()),
        reinterpret_cast<ENTRYID*>(message_id.data()),
        static_cast<ULONG>(folder.size()),
        reinterpret_cast<ENTRYID*>(folder.data()), &out.event_type,
        &out.handled);
    return out;
  }
  static std::string Deliver(std::u16string_view sender,
                             std::u16string_view text, uint64_t time) {
    std::optional<std::string> id = device::cemapi::DeliverIncomingSms(
        sender, text, FileTime::FromValue(time));
    EXPECT_TRUE(id.has_value());
    return id.value_or("");
  }
  static bool InInbox(const std::string& id) {
    return device::cemapi::FindMessage(id).has_value();
  }
  static std::u16string Units(const uint8_t* base, size_t offset,
                              size_t units) {
    std::u16string text(units, u'\0');
    std::memcpy(text.data(), base + offset, units * 2);
    return text;
  }

  static Phone* phone_;
  SharedMemory mapped_;
};

Phone* RuleClientTest::phone_ = nullptr;

TEST_F(RuleClientTest, FactoryExportsAndReferenceCounts) {
  void* object = nullptr;
  EXPECT_EQ(phone_->get_class_object(IID_IUnknown, IID_IClassFactory, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(phone_->get_class_object(CLSID_RuleClient, IID_IClassFactory,
                                     reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
  object = &object;
  EXPECT_EQ(factory->QueryInterface(IID_IMailRuleClient, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory->CreateInstance(factory, IID_IMailRuleClient, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object),
            E_NOINTERFACE);

  // Live objects do not keep the library; locks do.
  IMailRuleClient* client = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IMailRuleClient,
                                    reinterpret_cast<void**>(&client)),
            S_OK);
  EXPECT_EQ(phone_->can_unload(), S_OK);
  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(phone_->can_unload(), S_FALSE);
  factory->LockServer(0);
  EXPECT_EQ(phone_->can_unload(), S_FALSE);
  factory->LockServer(0);
  EXPECT_EQ(phone_->can_unload(), S_OK);

  IUnknown* unknown = nullptr;
  EXPECT_EQ(client->QueryInterface(IID_IClassFactory,
                                   reinterpret_cast<void**>(&unknown)),
            E_NOINTERFACE);
  EXPECT_EQ(unknown, nullptr);
  ASSERT_EQ(
      client->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)),
      S_OK);
  EXPECT_EQ(client->AddRef(), 3u);
  EXPECT_EQ(client->Release(), 2u);
  EXPECT_EQ(unknown->Release(), 1u);
  EXPECT_EQ(client->Release(), 0u);
  EXPECT_EQ(factory->Release(), 0u);

  std::string log = phone_->DebugLog();
  for (const char* line :
       {"Factory Reference is now 1", "Factory Reference is now 0",
        "CFactory Deleted!", "CMailRuleClient reference is now 3",
        "CMailRuleClient reference is now 0", "CMailRuleClient Deleted!"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
}

TEST_F(RuleClientTest, QueuesMessagesInTheSharedBuffer) {
  IMailRuleClient* client = NewClient();
  ASSERT_NE(client, nullptr);
  uint8_t* base = Buffer();
  ASSERT_NE(base, nullptr);
  sms_buffer::SetReaderAttached(base, false);

  const std::u16string b351(351, u'a');
  const std::u16string b352(352, u'b');
  std::u16string b1400(352, u'c');
  b1400 += std::u16string(1023, u'd') + std::u16string(25, u'x');
  std::u16string b360(352, u'e');
  b360 += u"tail";
  const std::u16string long_sender(70, u'7');
  const std::vector<std::string> ids = {
      Deliver(u"+4911", b351, 0x0123456789ABCDEFull),
      Deliver(u"+4922", b352, 2),
      Deliver(u"+4933", b1400, 3),
      Deliver(long_sender, b360, 4),
      Deliver(u"", u"", 5),
  };
  for (const std::string& id : ids) {
    Outcome out = Process(client, id);
    EXPECT_TRUE(Succeeded(out.result));
    EXPECT_EQ(out.handled, MRC_NOT_HANDLED);  // nobody attached: no wait
    EXPECT_TRUE(InInbox(id));
  }
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kCountOffset), 5);
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kCapacityOffset), 5);
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kWriteIndexOffset), 0);
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kReadIndexOffset), 0);

  // 351 units: terminated in the head, no continuation.
  size_t s0 = sms_buffer::SlotOffset(0);
  EXPECT_EQ(Units(base, s0, 352), b351 + u'\0');
  EXPECT_EQ(sms_buffer::LoadU16(base, s0 + sms_buffer::kOverflowIndexOffset),
            sms_buffer::kNoOverflow);
  EXPECT_EQ(Units(base, s0 + sms_buffer::kSenderOffset, 6),
            std::u16string(u"+4911\0", 6));
  EXPECT_EQ(sms_buffer::LoadU64(base, s0 + sms_buffer::kDeliveryTimeOffset),
            0x0123456789ABCDEFull);
  EXPECT_EQ(base[s0 + sms_buffer::kDeliveryTimeOffset],
            0xEF);  // low first
  // 352 units: a full head and an empty continuation in area 0.
  size_t s1 = sms_buffer::SlotOffset(1);
  EXPECT_EQ(Units(base, s1, 352), b352);
  EXPECT_EQ(sms_buffer::LoadU16(base, s1 + sms_buffer::kOverflowIndexOffset),
            sms_buffer::kOverflowArea0);
  // 1400 units: head, then 1023 units in area 1, then a NUL; the rest cut.
  size_t s2 = sms_buffer::SlotOffset(2);
  EXPECT_EQ(Units(base, s2, 352), std::u16string(352, u'c'));
  EXPECT_EQ(sms_buffer::LoadU16(base, s2 + sms_buffer::kOverflowIndexOffset),
            sms_buffer::kOverflowArea1);
  EXPECT_EQ(Units(base, sms_buffer::OverflowAreaOffset(1), 1024),
            std::u16string(1023, u'd') + u'\0');
  // The areas alternate: the fourth body's rest overwrote area 0.
  size_t s3 = sms_buffer::SlotOffset(3);
  EXPECT_EQ(sms_buffer::LoadU16(base, s3 + sms_buffer::kOverflowIndexOffset),
            sms_buffer::kOverflowArea0);
  EXPECT_EQ(Units(base, sms_buffer::OverflowAreaOffset(0), 5),
            std::u16string(u"tail\0", 5));
  // The sender is cut at 62 units.
  EXPECT_EQ(Units(base, s3 + sms_buffer::kSenderOffset, 63),
            std::u16string(62, u'7') + u'\0');
  // Empty text and sender.
  size_t s4 = sms_buffer::SlotOffset(4);
  EXPECT_EQ(sms_buffer::LoadU16(base, s4), 0);
  EXPECT_EQ(sms_buffer::LoadU16(base, s4 + sms_buffer::kSenderOffset), 0);
  EXPECT_EQ(sms_buffer::LoadU64(base, s4 + sms_buffer::kDeliveryTimeOffset),
            5u);

  // The sixth message finds the queue full: not copied, and even with a
  // reader attached and a verdict pending, no wait and no delete.
  std::optional<NamedEvent> verdict = NamedEvent::CreateOrOpen(
      sms_buffer::kDeleteEventName, false, false, nullptr);
  ASSERT_TRUE(verdict.has_value());
  sms_buffer::SetReaderAttached(base, true);
  ASSERT_TRUE(verdict->Set().ok());
  std::string sixth = Deliver(u"+4966", u"sixth", 6);
  Outcome out = Process(client, sixth);
  EXPECT_TRUE(Succeeded(out.result));
  EXPECT_EQ(out.handled, MRC_NOT_HANDLED);
  EXPECT_TRUE(InInbox(sixth));
  EXPECT_EQ(verdict->Wait(0), WaitResult::kSignaled);  // left unconsumed
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kCountOffset), 5);
  EXPECT_EQ(Units(base, s0, 352), b351 + u'\0');

  // A new instance empties the queue.
  sms_buffer::SetReaderAttached(base, false);
  EXPECT_EQ(client->Release(), 0u);
  IMailRuleClient* fresh = NewClient();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kCountOffset), 0);
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kWriteIndexOffset), 0);
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kReadIndexOffset), 0);

  // An entry queued behind an unread one gets no wait: a verdict given
  // now would be for the older entry.
  sms_buffer::SetReaderAttached(base, true);
  std::string first = Deliver(u"+1", u"first", 7);
  std::string second = Deliver(u"+2", u"second", 8);
  sms_buffer::StoreI32(base, sms_buffer::kCountOffset,
                       1);  // one unread
  EXPECT_EQ(Process(fresh, second).handled, MRC_NOT_HANDLED);
  EXPECT_TRUE(InInbox(second));
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kCountOffset), 2);
  sms_buffer::SetReaderAttached(base, false);
  EXPECT_EQ(fresh->Release(), 0u);
  (void)first;
}

TEST_F(RuleClientTest, DeletesOnAVerdictAndKeepsWithoutOne) {
  std::optional<NamedEvent> verdict = intercept::CreateDeleteEvent();
  ASSERT_TRUE(verdict.has_value());
  IMailRuleClient* client = NewClient();
  ASSERT_NE(client, nullptr);

  std::vector<std::u16string> seen;
  std::vector<uint64_t> times;
  intercept::Intake intake;
  ASSERT_TRUE(intake.StartIntake([&](const intercept::IncomingSms& sms) {
    seen.emplace_back(sms.body);
    times.push_back(sms.delivery_time.value());
    if (sms.body.find(u"spam") != std::u16string_view::npos) {
      verdict->Set().IgnoreError();
    }
    return 1u;
  }));
  ASSERT_TRUE(sms_buffer::ReaderAttached(Buffer()));

  std::u16string long_spam = u"spam " + std::u16string(1400, u'z');
  std::string spam = Deliver(u"+8613800000000", long_spam, 77);
  Outcome out = Process(client, spam);
  EXPECT_EQ(out.result, S_OK);
  EXPECT_EQ(out.handled, MRC_HANDLED_DONTCONTINUE);
  EXPECT_EQ(out.event_type, fnevObjectDeleted);
  EXPECT_FALSE(InInbox(spam));

  // No verdict within the wait: the message stays.
  std::string ham = Deliver(u"+8613800000001", u"hello", 78);
  out = Process(client, ham);
  EXPECT_TRUE(Succeeded(out.result));
  EXPECT_EQ(out.handled, MRC_NOT_HANDLED);
  EXPECT_TRUE(InInbox(ham));

  intake.StopIntake();
  ASSERT_TRUE(intake.WaitStopped(kInfinite));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], long_spam.substr(0, sms_buffer::kMaxBodyUnits));
  EXPECT_EQ(seen[1], u"hello");
  EXPECT_EQ(times, (std::vector<uint64_t>{77, 78}));

  // A verdict left over from before the message was queued is stale: it
  // is cleared, the wait runs out and the message stays.
  sms_buffer::SetReaderAttached(Buffer(), true);
  ASSERT_TRUE(verdict->Set().ok());
  std::string stale = Deliver(u"+1", u"spam stale", 79);
  out = Process(client, stale);
  EXPECT_EQ(out.handled, MRC_NOT_HANDLED);
  EXPECT_TRUE(InInbox(stale));
  EXPECT_EQ(verdict->Wait(0), WaitResult::kTimeout);
  sms_buffer::SetReaderAttached(Buffer(), false);

  // Reader gone: no wait, not handled, even with a verdict pending.
  ASSERT_TRUE(verdict->Set().ok());
  std::string late = Deliver(u"+1", u"spam late", 79);
  out = Process(client, late);
  EXPECT_EQ(out.handled, MRC_NOT_HANDLED);
  EXPECT_TRUE(InInbox(late));

  // A message that cannot be opened: a debug line and the failure;
  // the result is left alone.
  out = Process(client, spam);  // deleted above
  EXPECT_TRUE(Failed(out.result));
  EXPECT_EQ(out.handled, MRC_HANDLED_CONTINUE);
  out = Process(client, "not an id");
  EXPECT_TRUE(Failed(out.result));
  EXPECT_EQ(out.handled, MRC_HANDLED_CONTINUE);
  EXPECT_NE(phone_->DebugLog().find("Unable to get the message!"),
            std::string::npos);
  EXPECT_EQ(client->Release(), 0u);
}

// Another process holds the queue's mutex and does not let go (a stuck
// main program): the client gives up on it after a while, queues nothing,
// waits for no verdict and leaves the message. Once the holder has died
// holding it, the next message takes the mutex over and is queued.
TEST_F(RuleClientTest, GivesUpOnAMutexHeldElsewhere) {
  IMailRuleClient* client = NewClient();
  ASSERT_NE(client, nullptr);
  uint8_t* base = Buffer();
  ASSERT_NE(base, nullptr);
  std::optional<NamedEvent> verdict = NamedEvent::CreateOrOpen(
      sms_buffer::kDeleteEventName, false, false, nullptr);
  ASSERT_TRUE(verdict.has_value());

  int to_holder[2], from_holder[2];
  ASSERT_EQ(pipe(to_holder), 0);
  ASSERT_EQ(pipe(from_holder), 0);
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    close(to_holder[1]);
    close(from_holder[0]);
    auto mutex =
        NamedMutex::CreateOrOpen(sms_buffer::kDataMutexName, false, nullptr);
    WaitResult taken = mutex ? mutex->Wait(5000) : WaitResult::kFailed;
    char c = taken == WaitResult::kSignaled || taken == WaitResult::kAbandoned
                 ? 'y'
                 : 'n';
    if (write(from_holder[1], &c, 1) != 1) _exit(1);
    // Until the test lets it go (or is gone, or a minute has passed, so a
    // client that waits for ever fails the test instead of hanging it);
    // then it ends still holding the mutex.
    pollfd let_go{to_holder[0], POLLIN, 0};
    if (poll(&let_go, 1, 60000) != 1) _exit(2);
    _exit(0);
  }
  close(to_holder[0]);
  close(from_holder[1]);
  char held = 0;
  ASSERT_EQ(read(from_holder[0], &held, 1), 1);
  close(from_holder[0]);
  ASSERT_EQ(held, 'y');

  // Attached, and a verdict pending: were the message queued and waited
  // for, the verdict would be cleared first.
  sms_buffer::SetReaderAttached(base, true);
  ASSERT_TRUE(verdict->Set().ok());
  std::string id = Deliver(u"+8613900000009", u"spam while held", 90);
  Outcome out = Process(client, id);
  EXPECT_TRUE(Succeeded(out.result));
  EXPECT_EQ(out.handled, MRC_NOT_HANDLED);
  EXPECT_TRUE(InInbox(id));
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kCountOffset), 0);
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kWriteIndexOffset), 0);
  EXPECT_EQ(verdict->Wait(0), WaitResult::kSignaled);  // left alone

  close(to_holder[1]);
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  sms_buffer::SetReaderAttached(base, false);
  std::string next = Deliver(u"+8613900000009", u"after the holder", 91);
  out = Process(client, next);
  EXPECT_EQ(out.handled, MRC_NOT_HANDLED);  // nobody attached
  EXPECT_EQ(sms_buffer::LoadI32(base, sms_buffer::kCountOffset), 1);
  EXPECT_EQ(Units(base, sms_buffer::SlotOffset(0), 17),
            std::u16string(u"after the holder\0", 17));
  EXPECT_EQ(client->Release(), 0u);
}

TEST_F(RuleClientTest, LeavesEverythingAloneWithoutABuffer) {
  // A block of that name too small to map: the client cannot use it.
  ASSERT_TRUE(ClearNamedObjects().ok());
  std::optional<SharedMemory> small =
      SharedMemory::CreateOrOpen(sms_buffer::kBufferName, 64, nullptr);
  ASSERT_TRUE(small.has_value());
  auto* bytes = static_cast<uint8_t*>(small->data());
  bytes[0] = 1;  // "reader attached"

  IMailRuleClient* client = NewClient();
  ASSERT_NE(client, nullptr);
  std::string id = Deliver(u"+1", u"spam", 1);
  Outcome out = Process(client, id);
  EXPECT_EQ(out.handled, MRC_NOT_HANDLED);
  EXPECT_TRUE(InInbox(id));
  EXPECT_EQ(bytes[0], 1);
  for (size_t i = 1; i < 64; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(client->Release(), 0u);
  small->Close();
  ASSERT_TRUE(ClearNamedObjects().ok());
}

}  // namespace
