#include "intercept/intake.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "platform/kernel_objects.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"
#include "ruleclient/sms_buffer_layout.h"

namespace intercept {
namespace {

using ruleclient::sms_buffer::kAvailableEventName;
using ruleclient::sms_buffer::kBodyHeadOffset;
using ruleclient::sms_buffer::kBodyHeadUnits;
using ruleclient::sms_buffer::kBufferName;
using ruleclient::sms_buffer::kBufferSize;
using ruleclient::sms_buffer::kCountOffset;
using ruleclient::sms_buffer::kDataMutexName;
using ruleclient::sms_buffer::kDeleteEventName;
using ruleclient::sms_buffer::kDeliveryTimeOffset;
using ruleclient::sms_buffer::kMaxBodyUnits;
using ruleclient::sms_buffer::kNoOverflow;
using ruleclient::sms_buffer::kOverflowArea0;
using ruleclient::sms_buffer::kOverflowArea1;
using ruleclient::sms_buffer::kOverflowAreaUnits;
using ruleclient::sms_buffer::kOverflowIndexOffset;
using ruleclient::sms_buffer::kOverflowMaxUnits;
using ruleclient::sms_buffer::kReadIndexOffset;
using ruleclient::sms_buffer::kSenderFieldUnits;
using ruleclient::sms_buffer::kSenderMaxUnits;
using ruleclient::sms_buffer::kSenderOffset;
using ruleclient::sms_buffer::kSlotCount;
using ruleclient::sms_buffer::kWriteIndexOffset;
using ruleclient::sms_buffer::LoadI32;
using ruleclient::sms_buffer::LoadU16;
using ruleclient::sms_buffer::LoadU32;
using ruleclient::sms_buffer::OverflowAreaOffset;
using ruleclient::sms_buffer::ReaderAttached;
using ruleclient::sms_buffer::SlotOffset;
using ruleclient::sms_buffer::StoreI32;
using ruleclient::sms_buffer::StoreU16;
using ruleclient::sms_buffer::StoreU64;

// The writer's side of the queue, done as the rule client does it: fills
// the slot at the write index, long bodies continuing in the overflow area
// the selector names. REQUIRES: the mutex is held (or the buffer is ours).
void WriteEntry(uint8_t* base, int* selector, std::u16string_view text,
                std::u16string_view sender, uint64_t time) {
  int32_t count = LoadI32(base, kCountOffset);
  if (count >= kSlotCount) return;
  int32_t slot = LoadI32(base, kWriteIndexOffset);
  StoreI32(base, kCountOffset, count + 1);
  StoreI32(base, kWriteIndexOffset, (slot + 1) % kSlotCount);
  uint8_t* start = base + SlotOffset(slot);
  size_t head = std::min(text.size(), kBodyHeadUnits);
  std::memcpy(start + kBodyHeadOffset, text.data(), head * 2);
  if (head == kBodyHeadUnits) {
    std::u16string_view rest = text.substr(head);
    size_t more = std::min(rest.size(), kOverflowMaxUnits);
    uint8_t* area = base + OverflowAreaOffset(*selector);
    std::memcpy(area, rest.data(), more * 2);
    StoreU16(area, more * 2, 0);
    StoreU16(start, kOverflowIndexOffset, static_cast<uint16_t>(*selector + 1));
    *selector = (*selector + 1) % 2;
  } else {
    StoreU16(start, kBodyHeadOffset + head * 2, 0);
    StoreU16(start, kOverflowIndexOffset, kNoOverflow);
  }
  size_t sender_units = std::min(sender.size(), kSenderMaxUnits);
  std::memcpy(start + kSenderOffset, sender.data(), sender_units * 2);
  StoreU16(start, kSenderOffset + sender_units * 2, 0);
  StoreU64(start, kDeliveryTimeOffset, time);
}

// The rule client's named objects, opened from the test's side.
struct Writer {
  Writer() {
    bool existed = false;
    buffer = std::move(*platform::SharedMemory::CreateOrOpen(
        kBufferName, kBufferSize, &existed));
    mutex = std::move(
        *platform::NamedMutex::CreateOrOpen(kDataMutexName, false, &existed));
    available = std::move(*platform::NamedEvent::CreateOrOpen(
        kAvailableEventName, false, false, &existed));
  }
  uint8_t* base() { return static_cast<uint8_t*>(buffer.data()); }
  void Queue(std::u16string_view text, std::u16string_view sender,
             uint64_t time) {
    ASSERT_EQ(mutex.Wait(), platform::WaitResult::kSignaled);
    WriteEntry(base(), &selector, text, sender, time);
    ASSERT_TRUE(mutex.Release().ok());
    ASSERT_TRUE(available.Set().ok());
  }
  // Several entries under one hold of the mutex, then one signal.
  void QueueAll(
      const std::vector<std::tuple<std::u16string, std::u16string, uint64_t>>&
          entries) {
    ASSERT_EQ(mutex.Wait(), platform::WaitResult::kSignaled);
    for (const auto& [text, sender, time] : entries)
      WriteEntry(base(), &selector, text, sender, time);
    ASSERT_TRUE(mutex.Release().ok());
    ASSERT_TRUE(available.Set().ok());
  }
  // Reads a header field under the mutex.
  int32_t Header(size_t offset) {
    EXPECT_EQ(mutex.Wait(), platform::WaitResult::kSignaled);
    int32_t value = LoadI32(base(), offset);
    mutex.Release().IgnoreError();
    return value;
  }

  platform::SharedMemory buffer;
  platform::NamedMutex mutex;
  platform::NamedEvent available;
  int selector = 0;
};

struct Delivered {
  std::u16string body;
  std::u16string sender;
  uint64_t time = 0;
  bool terminated = false;
};

// Collects what the intake delivers; the answer to give is settable.
class Collector {
 public:
  IntakeHandler Handler() {
    return [this](const IncomingSms& sms) -> uint32_t {
      std::lock_guard<std::mutex> lock(mutex_);
      ++calls_;
      changed_.notify_all();
      if (answer_ == 0) return 0;
      items_.push_back({std::u16string(sms.body), std::u16string(sms.sender),
                        sms.delivery_time.value(),
                        sms.body.data()[sms.body.size()] == 0 &&
                            sms.sender.data()[sms.sender.size()] == 0});
      changed_.notify_all();
      return answer_;
    };
  }
  // Waits (bounded, so a fault fails instead of hanging) for n deliveries.
  bool WaitFor(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return items_.size() >= n; });
  }
  bool WaitForCalls(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return calls_ >= n; });
  }
  std::vector<Delivered> items() {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
  }
  void set_answer(uint32_t answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = answer;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Delivered> items_;
  int calls_ = 0;
  uint32_t answer_ = 1;
};

TEST(Intake, DeliversQueuedEntriesInOrderInOneDrain) {
  platform::testing::TempDevice device;
  Writer writer;
  Collector collector;
  Intake intake;
  ASSERT_TRUE(intake.StartIntake(collector.Handler()));
  EXPECT_TRUE(intake.running());
  EXPECT_TRUE(ReaderAttached(writer.base()));
  writer.QueueAll({{u"first", u"+8613800000001", 0x01D0000000000001},
                   {u"second", u"10086", 0x01D0000000000002}});
  ASSERT_TRUE(collector.WaitFor(2));
  std::vector<Delivered> items = collector.items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].body, u"first");
  EXPECT_EQ(items[0].sender, u"+8613800000001");
  EXPECT_EQ(items[0].time, 0x01D0000000000001u);
  EXPECT_EQ(items[1].body, u"second");
  EXPECT_EQ(items[1].sender, u"10086");
  EXPECT_TRUE(items[0].terminated && items[1].terminated);
  EXPECT_EQ(writer.Header(kReadIndexOffset), 2);
  EXPECT_EQ(writer.Header(kCountOffset), 0);
  EXPECT_FALSE(intake.StartIntake(collector.Handler()));  // starts once
}

TEST(Intake, RebuildsLongBodiesFromTheirOverflowArea) {
  platform::testing::TempDevice device;
  Writer writer;
  std::u16string exact(kBodyHeadUnits, u'a');
  std::u16string longest(kBodyHeadUnits, u'b');
  longest += std::u16string(kOverflowMaxUnits, u'c');
  std::u16string too_long =
      std::u16string(kBodyHeadUnits, u'd') + std::u16string(2000, u'e');
  Collector collector;
  Intake intake;
  ASSERT_TRUE(intake.StartIntake(collector.Handler()));
  writer.QueueAll({{exact, u"1", 1},       // area 0, empty continuation
                   {longest, u"2", 2},     // area 1
                   {u"short", u"3", 3}});  // none
  EXPECT_EQ(LoadU16(writer.base() + SlotOffset(1), kOverflowIndexOffset),
            kOverflowArea1);
  ASSERT_TRUE(collector.WaitFor(3));
  writer.Queue(too_long, u"4", 4);  // area 0 again, cut to 1023 units
  ASSERT_TRUE(collector.WaitFor(4));
  std::vector<Delivered> items = collector.items();
  EXPECT_EQ(items[0].body, exact);
  EXPECT_EQ(items[1].body.size(), 1375u);
  EXPECT_EQ(items[1].body, longest);
  EXPECT_EQ(items[2].body, u"short");
  EXPECT_EQ(items[3].body, too_long.substr(0, kMaxBodyUnits));
  for (const Delivered& item : items) EXPECT_TRUE(item.terminated);
}

// What was queued while no intake answered stays in the phone's Inbox:
// handling it now would keep it in both places.
TEST(Intake, EntriesQueuedBeforeTheStartAreDroppedNotHandled) {
  platform::testing::TempDevice device;
  Writer writer;
  writer.Queue(u"while away 1", u"1", 1);
  writer.Queue(u"while away 2", u"2", 2);
  Collector collector;
  Intake intake;
  ASSERT_TRUE(intake.StartIntake(collector.Handler()));
  EXPECT_EQ(intake.dropped_at_start(), 2);
  EXPECT_EQ(writer.Header(kCountOffset), 0);
  EXPECT_EQ(writer.Header(kReadIndexOffset), writer.Header(kWriteIndexOffset));
  writer.Queue(u"now", u"3", 3);
  ASSERT_TRUE(collector.WaitFor(1));
  ASSERT_EQ(collector.items().size(), 1u);
  EXPECT_EQ(collector.items()[0].body, u"now");
}

TEST(Intake, ZeroAnswerLeavesTheEntryQueuedUntilTheNextSignal) {
  platform::testing::TempDevice device;
  Writer writer;
  Collector collector;
  collector.set_answer(0);
  Intake intake;
  ASSERT_TRUE(intake.StartIntake(collector.Handler()));
  writer.Queue(u"held", u"5", 5);
  ASSERT_TRUE(collector.WaitForCalls(1));
  // The handler has answered 0; once the intake lets go of the mutex the
  // entry is still at the head of the queue.
  EXPECT_EQ(writer.Header(kCountOffset), 1);
  EXPECT_EQ(writer.Header(kReadIndexOffset), 0);
  EXPECT_TRUE(collector.items().empty());

  collector.set_answer(1);
  ASSERT_TRUE(writer.available.Set().ok());
  ASSERT_TRUE(collector.WaitFor(1));
  EXPECT_EQ(collector.items()[0].body, u"held");
  EXPECT_EQ(writer.Header(kCountOffset), 0);
  EXPECT_EQ(writer.Header(kReadIndexOffset), 1);
}

TEST(Intake, StopEndsTheThreadAndDetachesTheReader) {
  platform::testing::TempDevice device;
  Writer writer;
  Collector collector;
  {
    Intake intake;
    ASSERT_TRUE(intake.StartIntake(collector.Handler()));
    EXPECT_TRUE(ReaderAttached(writer.base()));
    intake.StopIntake();
    EXPECT_FALSE(ReaderAttached(writer.base()));
    EXPECT_TRUE(intake.WaitStopped(20000));
    EXPECT_FALSE(intake.running());
    intake.StopIntake();  // twice is harmless
    // Entries queued after the stop stay in the buffer.
    writer.Queue(u"late", u"6", 6);
    EXPECT_EQ(writer.Header(kCountOffset), 1);
  }
  EXPECT_TRUE(collector.items().empty());

  // A never-started intake stops and goes away quietly.
  Intake idle;
  idle.StopIntake();
  EXPECT_TRUE(idle.WaitStopped(0));
  EXPECT_FALSE(idle.running());
}

TEST(Intake, StartFailsWhenTheBufferIsTooSmall) {
  platform::testing::TempDevice device;
  bool existed = false;
  auto small = platform::SharedMemory::CreateOrOpen(kBufferName, 16, &existed);
  ASSERT_TRUE(small.has_value());
  Collector collector;
  Intake intake;
  EXPECT_FALSE(intake.StartIntake(collector.Handler()));
  EXPECT_FALSE(intake.running());
  EXPECT_EQ(LoadU32(static_cast<uint8_t*>(small->data()), 0), 0u);
}

// A buffer owned by the test alone, for the drain function itself.
std::vector<uint8_t> EmptyBuffer() { return std::vector<uint8_t>(kBufferSize); }

TEST(DrainQueue, ResetsAnOutOfRangeHeaderAndBoundsEveryField) {
  std::vector<Delivered> seen;
  IntakeHandler handler = [&](const IncomingSms& sms) -> uint32_t {
    seen.push_back({std::u16string(sms.body), std::u16string(sms.sender),
                    sms.delivery_time.value(),
                    sms.body.data()[sms.body.size()] == 0 &&
                        sms.sender.data()[sms.sender.size()] == 0});
    return 1;
  };

  // Count or read index out of range: the queue is reset, nothing delivered.
  struct Header {
    int32_t count, read, write, expect_read;
  };
  for (Header h :
       {Header{99, 0, 3, 3}, Header{-1, 0, 2, 2}, Header{1, -3, 4, 4},
        Header{1, 7, 9, 0}, Header{6, 1, 1, 1}}) {
    std::vector<uint8_t> buffer = EmptyBuffer();
    StoreI32(buffer.data(), kCountOffset, h.count);
    StoreI32(buffer.data(), kReadIndexOffset, h.read);
    StoreI32(buffer.data(), kWriteIndexOffset, h.write);
    DrainResult result = DrainQueue(buffer, handler);
    EXPECT_TRUE(result.header_reset) << h.count << " " << h.read;
    EXPECT_EQ(result.delivered, 0);
    EXPECT_EQ(LoadI32(buffer.data(), kCountOffset), 0);
    EXPECT_EQ(LoadI32(buffer.data(), kReadIndexOffset), h.expect_read);
    EXPECT_EQ(LoadI32(buffer.data(), kWriteIndexOffset), h.write);
  }
  EXPECT_TRUE(seen.empty());

  // Damaged entries: every text ends inside its field.
  std::vector<uint8_t> buffer = EmptyBuffer();
  uint8_t* base = buffer.data();
  StoreI32(base, kCountOffset, 4);
  auto fill = [&](size_t offset, size_t units, char16_t c) {
    for (size_t i = 0; i < units; ++i) StoreU16(base, offset + i * 2, c);
  };
  // Slot 0: a full head with overflow index 5, an unterminated sender.
  fill(SlotOffset(0), kBodyHeadUnits, u'h');
  fill(SlotOffset(0) + kSenderOffset, kSenderFieldUnits, u's');
  StoreU16(base, SlotOffset(0) + kOverflowIndexOffset, 5);
  // Slot 1: a full head promising no continuation.
  fill(SlotOffset(1), kBodyHeadUnits, u'n');
  StoreU16(base, SlotOffset(1) + kOverflowIndexOffset, kNoOverflow);
  // Slot 2: a full head continuing in an area without a terminator.
  fill(SlotOffset(2), kBodyHeadUnits, u'x');
  StoreU16(base, SlotOffset(2) + kOverflowIndexOffset, kOverflowArea1);
  fill(OverflowAreaOffset(1), kOverflowAreaUnits, u'y');
  // Slot 3: a NUL inside the head ends the body there, continuation or not.
  fill(SlotOffset(3), 10, u'z');
  StoreU16(base, SlotOffset(3) + kOverflowIndexOffset, kOverflowArea0);
  fill(OverflowAreaOffset(0), 5, u'q');

  DrainResult result = DrainQueue(buffer, handler);
  EXPECT_FALSE(result.header_reset);
  EXPECT_EQ(result.delivered, 4);
  EXPECT_EQ(result.unknown_overflow, 1);
  EXPECT_EQ(result.unterminated, 3);  // sender 0, head 1, area of slot 2
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].body, std::u16string(kBodyHeadUnits, u'h'));
  EXPECT_EQ(seen[0].sender, std::u16string(kSenderFieldUnits, u's'));
  EXPECT_EQ(seen[1].body, std::u16string(kBodyHeadUnits, u'n'));
  EXPECT_EQ(seen[2].body, std::u16string(kBodyHeadUnits, u'x') +
                              std::u16string(kOverflowAreaUnits, u'y'));
  EXPECT_EQ(seen[3].body, std::u16string(10, u'z'));
  for (const Delivered& item : seen) EXPECT_TRUE(item.terminated);
  EXPECT_EQ(LoadI32(base, kReadIndexOffset), 4);
  EXPECT_EQ(LoadI32(base, kCountOffset), 0);

  // A short buffer is left alone.
  std::vector<uint8_t> short_buffer(kBufferSize - 1);
  StoreI32(short_buffer.data(), kCountOffset, 1);
  EXPECT_EQ(DrainQueue(short_buffer, handler).delivered, 0);
  EXPECT_EQ(LoadI32(short_buffer.data(), kCountOffset), 1);
}

TEST(Intake, KeepsRunningAfterAHostileBuffer) {
  platform::testing::TempDevice device;
  Writer writer;
  Collector collector;
  Intake intake;
  ASSERT_TRUE(intake.StartIntake(collector.Handler()));
  ASSERT_EQ(writer.mutex.Wait(), platform::WaitResult::kSignaled);
  StoreI32(writer.base(), kCountOffset, 99);
  StoreI32(writer.base(), kReadIndexOffset, 7);
  ASSERT_TRUE(writer.mutex.Release().ok());
  ASSERT_TRUE(writer.available.Set().ok());
  // The intake resets the damaged queue.
  ASSERT_TRUE(platform::testing::WaitUntil(
      [&] { return writer.Header(kCountOffset) == 0; }));
  EXPECT_EQ(writer.Header(kReadIndexOffset), 0);  // the writer's index
  // The next sound entry still arrives.
  writer.Queue(u"after the damage", u"7", 7);
  ASSERT_TRUE(collector.WaitFor(1));
  EXPECT_EQ(collector.items()[0].body, u"after the damage");
  EXPECT_TRUE(intake.running());
}

TEST(Intake, DeliversWhatAnotherProcessQueues) {
  platform::testing::TempDevice device;
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  // Forked before the intake thread exists, so the child is single-threaded.
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    close(go[1]);
    char byte;
    if (read(go[0], &byte, 1) != 1) _exit(2);
    bool existed = false;
    auto buffer = platform::SharedMemory::CreateOrOpen(kBufferName, kBufferSize,
                                                       &existed);
    auto mutex =
        platform::NamedMutex::CreateOrOpen(kDataMutexName, false, &existed);
    auto available = platform::NamedEvent::CreateOrOpen(kAvailableEventName,
                                                        false, false, &existed);
    if (!buffer || !mutex || !available) _exit(3);
    auto* base = static_cast<uint8_t*>(buffer->data());
    if (!ReaderAttached(base)) _exit(4);
    int selector = 0;
    const char16_t* texts[] = {u"one", u"two", u"three"};
    for (int i = 0; i < 3; ++i) {
      if (mutex->Wait() != platform::WaitResult::kSignaled) _exit(5);
      WriteEntry(base, &selector, texts[i], u"+8613900000000", 100 + i);
      if (!mutex->Release().ok() || !available->Set().ok()) _exit(6);
    }
    _exit(0);
  }
  close(go[0]);
  Collector collector;
  Intake intake;
  ASSERT_TRUE(intake.StartIntake(collector.Handler()));
  ASSERT_EQ(write(go[1], "g", 1), 1);
  close(go[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_TRUE(collector.WaitFor(3));
  std::vector<Delivered> items = collector.items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].body, u"one");
  EXPECT_EQ(items[1].body, u"two");
  EXPECT_EQ(items[2].body, u"three");
  EXPECT_EQ(items[2].sender, u"+8613900000000");
  EXPECT_EQ(items[2].time, 102u);
}

TEST(DeleteEvent, IsAutoResetAndStartsClear) {
  platform::testing::TempDevice device;
  std::optional<platform::NamedEvent> event = CreateDeleteEvent();
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->Wait(0), platform::WaitResult::kTimeout);
  // The library opens the same event by name and sees the verdict once.
  bool existed = false;
  auto library_side = platform::NamedEvent::CreateOrOpen(
      kDeleteEventName, false, false, &existed);
  ASSERT_TRUE(library_side.has_value());
  EXPECT_TRUE(existed);
  ASSERT_TRUE(event->Set().ok());
  EXPECT_EQ(library_side->Wait(0), platform::WaitResult::kSignaled);
  EXPECT_EQ(library_side->Wait(0), platform::WaitResult::kTimeout);
}

}  // namespace
}  // namespace intercept
