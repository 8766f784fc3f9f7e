#include "intercept/intake.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/debug.h"
#include "ruleclient/sms_buffer_layout.h"

namespace intercept {
namespace {

using ruleclient::sms_buffer::IsOverflowArea;
using ruleclient::sms_buffer::IsValidSlot;
using ruleclient::sms_buffer::kAvailableEventName;
using ruleclient::sms_buffer::kBodyHeadOffset;
using ruleclient::sms_buffer::kBodyHeadUnits;
using ruleclient::sms_buffer::kBufferName;
using ruleclient::sms_buffer::kBufferSize;
using ruleclient::sms_buffer::kCountOffset;
using ruleclient::sms_buffer::kDataMutexName;
using ruleclient::sms_buffer::kDeleteEventName;
using ruleclient::sms_buffer::kDeliveryTimeOffset;
using ruleclient::sms_buffer::kNoOverflow;
using ruleclient::sms_buffer::kOverflowAreaUnits;
using ruleclient::sms_buffer::kOverflowIndexOffset;
using ruleclient::sms_buffer::kReadIndexOffset;
using ruleclient::sms_buffer::kSenderFieldUnits;
using ruleclient::sms_buffer::kSenderOffset;
using ruleclient::sms_buffer::kSlotCount;
using ruleclient::sms_buffer::kWriteIndexOffset;
using ruleclient::sms_buffer::LoadI32;
using ruleclient::sms_buffer::LoadU16;
using ruleclient::sms_buffer::LoadU64;
using ruleclient::sms_buffer::OverflowAreaOffset;
using ruleclient::sms_buffer::SetReaderAttached;
using ruleclient::sms_buffer::SlotOffset;
using ruleclient::sms_buffer::StoreI32;

// Copies up to `max_units` UTF-16 units from `source` into `target` and
// returns how many precede the first NUL (max_units when there is none).
size_t CopyUnits(const uint8_t* source, size_t max_units, char16_t* target) {
  std::memcpy(target, source, max_units * 2);
  const char16_t* end = std::find(target, target + max_units, u'\0');
  return static_cast<size_t>(end - target);
}

// One entry copied out of the buffer, so that nothing the writer does
// afterwards changes what the handler sees.
struct EntryCopy {
  char16_t body[kBodyHeadUnits + kOverflowAreaUnits + 1];
  char16_t sender[kSenderFieldUnits + 1];
  IncomingSms record;
};

void ReadEntry(const uint8_t* base, int slot, EntryCopy* entry,
               DrainResult* result) {
  const uint8_t* start = base + SlotOffset(slot);
  size_t body_units =
      CopyUnits(start + kBodyHeadOffset, kBodyHeadUnits, entry->body);
  uint16_t overflow = LoadU16(start, kOverflowIndexOffset);
  if (body_units == kBodyHeadUnits) {
    // A full head continues in an overflow area (the continuation ends at
    // its NUL, or at the end of the area).
    if (IsOverflowArea(overflow)) {
      const uint8_t* area = base + OverflowAreaOffset(overflow - 1);
      size_t more =
          CopyUnits(area, kOverflowAreaUnits, entry->body + kBodyHeadUnits);
      if (more == kOverflowAreaUnits) ++result->unterminated;
      body_units += more;
    } else if (overflow != kNoOverflow) {
      ++result->unknown_overflow;
    } else {
      ++result->unterminated;  // a full head promised a terminator
    }
  } else if (!IsOverflowArea(overflow) && overflow != kNoOverflow) {
    ++result->unknown_overflow;
  }
  entry->body[body_units] = u'\0';

  size_t sender_units =
      CopyUnits(start + kSenderOffset, kSenderFieldUnits, entry->sender);
  if (sender_units == kSenderFieldUnits) ++result->unterminated;
  entry->sender[sender_units] = u'\0';

  entry->record.body = std::u16string_view(entry->body, body_units);
  entry->record.sender = std::u16string_view(entry->sender, sender_units);
  entry->record.delivery_time =
      platform::FileTime::FromValue(LoadU64(start, kDeliveryTimeOffset));
}

// How long the start waits for the rule client to finish copying an entry.
constexpr uint32_t kStartMutexWaitMs = 1500;

void ResetQueue(uint8_t* base) {
  int32_t write = LoadI32(base, kWriteIndexOffset);
  StoreI32(base, kReadIndexOffset, IsValidSlot(write) ? write : 0);
  StoreI32(base, kCountOffset, 0);
}

}  // namespace

DrainResult DrainQueue(std::span<uint8_t> buffer,
                       const IntakeHandler& handler) {
  DrainResult result;
  if (buffer.size() < kBufferSize || !handler) return result;
  uint8_t* base = buffer.data();
  EntryCopy entry;
  for (int round = 0; round < kSlotCount; ++round) {
    int32_t count = LoadI32(base, kCountOffset);
    int32_t read = LoadI32(base, kReadIndexOffset);
    if (count < 0 || count > kSlotCount || !IsValidSlot(read)) {
      ResetQueue(base);
      result.header_reset = true;
      break;
    }
    if (count == 0) break;
    ReadEntry(base, read, &entry, &result);
    entry.record.taken_tick = platform::TickCount();
    if (handler(entry.record) == 0) {
      result.held = true;
      break;
    }
    StoreI32(base, kReadIndexOffset, (read + 1) % kSlotCount);
    StoreI32(base, kCountOffset, count - 1);
    ++result.delivered;
  }
  return result;
}

Intake::~Intake() {
  StopIntake();
  WaitStopped(platform::kInfinite);
}

bool Intake::StartIntake(IntakeHandler handler) {
  if (started_) return false;
  platform::Status status;
  bool existed = false;
  std::optional<platform::NamedEvent> available =
      platform::NamedEvent::CreateOrOpen(kAvailableEventName,
                                         /*manual_reset=*/false,
                                         /*initially_set=*/false, &existed,
                                         &status);
  std::optional<platform::NamedMutex> mutex;
  if (available) {
    mutex = platform::NamedMutex::CreateOrOpen(
        kDataMutexName, /*initially_owned=*/false, &existed, &status);
  }
  std::optional<platform::SharedMemory> buffer;
  if (mutex) {
    buffer = platform::SharedMemory::CreateOrOpen(kBufferName, kBufferSize,
                                                  &existed, &status);
  }
  if (!buffer) {
    platform::DebugOutput("intake: not started: " + status.ToString());
    return false;
  }
  available_ = std::move(*available);
  mutex_ = std::move(*mutex);
  buffer_ = std::move(*buffer);
  handler_ = std::move(handler);

  uint8_t* base = static_cast<uint8_t*>(buffer_.data());
  SetReaderAttached(base, true);
  // The rule client holds the mutex only while it copies one entry.
  platform::WaitResult locked = mutex_.Wait(kStartMutexWaitMs);
  if (locked == platform::WaitResult::kSignaled ||
      locked == platform::WaitResult::kAbandoned) {
    const int32_t count = LoadI32(base, kCountOffset);
    dropped_at_start_ = count > 0 && count <= kSlotCount ? count : 0;
    ResetQueue(base);
    mutex_.Release().IgnoreError();
    if (dropped_at_start_ > 0) {
      platform::DebugPrintf(
          "intake: %d message(s) queued while no intake answered were left "
          "in the phone's Inbox",
          dropped_at_start_);
    }
  } else {
    platform::DebugOutput(
        "intake: the data mutex is held elsewhere; what is queued stays");
  }
  stop_.store(false);
  {
    platform::MutexLock lock(&state_mutex_);
    finished_ = false;
  }
  started_ = true;
  thread_ = std::thread(&Intake::Run, this);
  return true;
}

void Intake::StopIntake() {
  if (!started_) return;
  SetReaderAttached(static_cast<uint8_t*>(buffer_.data()), false);
  stop_.store(true);
  available_.Set().IgnoreError();
}

bool Intake::WaitStopped(uint32_t timeout_ms) {
  if (!thread_.joinable()) return true;
  if (std::this_thread::get_id() == thread_.get_id()) return false;
  {
    platform::MutexLock lock(&state_mutex_);
    if (timeout_ms == platform::kInfinite) {
      while (!finished_) finished_changed_.Wait(&state_mutex_);
    } else {
      const platform::CondVar::Clock::time_point deadline =
          platform::CondVar::Clock::now() +
          std::chrono::milliseconds(timeout_ms);
      while (!finished_) {
        if (!finished_changed_.WaitUntil(&state_mutex_, deadline)) break;
      }
      if (!finished_) return false;
    }
  }
  thread_.join();
  return true;
}

bool Intake::running() const {
  platform::MutexLock lock(&state_mutex_);
  return started_ && !finished_;
}

void Intake::Run() {
  std::span<uint8_t> view(static_cast<uint8_t*>(buffer_.data()),
                          buffer_.size());
  for (;;) {
    if (available_.Wait() == platform::WaitResult::kFailed) {
      platform::DebugOutput("intake: waiting for the available event failed");
      break;
    }
    platform::WaitResult locked = mutex_.Wait();
    if (locked == platform::WaitResult::kFailed) {
      platform::DebugOutput("intake: taking the data mutex failed");
      break;
    }
    if (locked == platform::WaitResult::kAbandoned) {
      platform::DebugOutput("intake: the data mutex was abandoned");
    }
    if (stop_.load()) {
      mutex_.Release().IgnoreError();
      break;
    }
    DrainResult result = DrainQueue(view, handler_);
    mutex_.Release().IgnoreError();
    if (result.header_reset) {
      platform::DebugOutput(
          "intake: queue header out of range; queue reset, entries dropped");
    }
    if (result.unknown_overflow > 0 || result.unterminated > 0) {
      platform::DebugPrintf(
          "intake: %d entries with an unknown overflow index, %d texts cut "
          "at the end of their field",
          result.unknown_overflow, result.unterminated);
    }
  }
  platform::MutexLock lock(&state_mutex_);
  finished_ = true;
  finished_changed_.NotifyAll();
}

std::optional<platform::NamedEvent> CreateDeleteEvent(
    platform::Status* status) {
  bool existed = false;
  return platform::NamedEvent::CreateOrOpen(kDeleteEventName,
                                            /*manual_reset=*/false,
                                            /*initially_set=*/false, &existed,
                                            status);
}

}  // namespace intercept
