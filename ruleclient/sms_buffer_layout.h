// The shared SMS buffer "ZUD_SmsBuffer": constants and accessors.
//
// The rule-client library (inrelay) writes intercepted messages into a
// five-slot ring queue in this block; the program's intake thread reads them
// out. docs/formats/sms-buffer.md describes the layout, who writes which
// field and the protocol around the named objects; this header holds the
// same numbers for the code of both sides.
//
// All integers are little-endian, all text UTF-16LE. The accessors take a
// pointer to the start of the block and an offset that the caller has
// checked (every offset made by the helpers below lies inside the block for
// in-range arguments). They copy bytes (no alignment is assumed) and are
// plain loads and stores: slot contents, the count and the two indices are
// only touched while "ZUD_SMSDataMutex" is held. The reader-attached flag is
// the exception, written without the mutex; use ReaderAttached() and
// SetReaderAttached(), which access it atomically.
//
// Everything here is header-only, has no state and is safe from any thread.
#ifndef TELVANE_RULECLIENT_SMS_BUFFER_LAYOUT_H_
#define TELVANE_RULECLIENT_SMS_BUFFER_LAYOUT_H_

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace ruleclient::sms_buffer {

static_assert(std::endian::native == std::endian::little,
              "the shared buffer is little-endian and accessed in place");

// Named objects of the interception channel (names are case-sensitive).
inline constexpr std::string_view kBufferName = "ZUD_SmsBuffer";
inline constexpr std::string_view kDataMutexName = "ZUD_SMSDataMutex";
inline constexpr std::string_view kAvailableEventName = "ZUD_SMSAvailableEvent";
inline constexpr std::string_view kDeleteEventName = "ZUD_SMSDeleteEvent";

// The whole block.
inline constexpr size_t kBufferSize = 8316;

// Header (20 bytes).
inline constexpr size_t kReaderAttachedOffset = 0;  // uint32, 0 or 1
inline constexpr size_t kCountOffset = 4;           // int32, 0..5
inline constexpr size_t kCapacityOffset = 8;        // int32, written as 5
inline constexpr size_t kWriteIndexOffset = 12;     // int32, 0..4
inline constexpr size_t kReadIndexOffset = 16;      // int32, 0..4
inline constexpr size_t kHeaderSize = 20;

// Slots: a ring of five.
inline constexpr int kSlotCount = 5;
inline constexpr size_t kSlotsOffset = 20;
inline constexpr size_t kSlotSize = 840;

// Fields of a slot, relative to its start.
inline constexpr size_t kBodyHeadOffset = 0;
inline constexpr size_t kBodyHeadUnits = 352;  // no terminator when full
inline constexpr size_t kBodyHeadBytes = kBodyHeadUnits * 2;
inline constexpr size_t kSenderOffset = 704;
inline constexpr size_t kSenderFieldUnits = 63;  // 62 units, then a NUL
inline constexpr size_t kSenderMaxUnits = 62;
inline constexpr size_t kSenderBytes = kSenderFieldUnits * 2;
inline constexpr size_t kOverflowIndexOffset = 830;  // uint16
inline constexpr size_t kDeliveryTimeOffset = 832;   // FILETIME, low first

// Overflow index values. The writer produces no others.
inline constexpr uint16_t kOverflowArea0 = 1;
inline constexpr uint16_t kOverflowArea1 = 2;
inline constexpr uint16_t kNoOverflow = 0xFFFF;

// Overflow areas: the continuation of a body longer than its head.
inline constexpr int kOverflowAreaCount = 2;
inline constexpr size_t kOverflowAreasOffset = 4220;
inline constexpr size_t kOverflowAreaSize = 2048;
inline constexpr size_t kOverflowAreaUnits = 1024;  // 1023 units, then a NUL
inline constexpr size_t kOverflowMaxUnits = 1023;

// The longest body the writer can queue: a full head and a full area.
inline constexpr size_t kMaxBodyUnits = kBodyHeadUnits + kOverflowMaxUnits;

static_assert(kBodyHeadOffset + kBodyHeadBytes == kSenderOffset);
static_assert(kSenderOffset + kSenderBytes == kOverflowIndexOffset);
static_assert(kOverflowIndexOffset + 2 == kDeliveryTimeOffset);
static_assert(kDeliveryTimeOffset + 8 == kSlotSize);
static_assert(kSlotsOffset == kHeaderSize);
static_assert(kSlotsOffset + kSlotCount * kSlotSize == kOverflowAreasOffset);
static_assert(kOverflowAreaUnits * 2 == kOverflowAreaSize);
static_assert(kOverflowAreasOffset + kOverflowAreaCount * kOverflowAreaSize ==
              kBufferSize);
static_assert(kMaxBodyUnits == 1375);

// True for the slot indices 0..4 and the overflow indices 1 and 2.
constexpr bool IsValidSlot(int32_t slot) {
  return slot >= 0 && slot < kSlotCount;
}
constexpr bool IsOverflowArea(uint16_t overflow_index) {
  return overflow_index == kOverflowArea0 || overflow_index == kOverflowArea1;
}

// Offset of slot `slot` (0..4) in the block.
constexpr size_t SlotOffset(int slot) {
  return kSlotsOffset + static_cast<size_t>(slot) * kSlotSize;
}
// Offset of overflow area `area` (0 or 1; the overflow index minus 1).
constexpr size_t OverflowAreaOffset(int area) {
  return kOverflowAreasOffset + static_cast<size_t>(area) * kOverflowAreaSize;
}

// Little-endian loads and stores at `offset` bytes into the block.
inline uint16_t LoadU16(const uint8_t* base, size_t offset) {
  uint16_t value;
  std::memcpy(&value, base + offset, sizeof value);
  return value;
}
inline uint32_t LoadU32(const uint8_t* base, size_t offset) {
  uint32_t value;
  std::memcpy(&value, base + offset, sizeof value);
  return value;
}
inline int32_t LoadI32(const uint8_t* base, size_t offset) {
  int32_t value;
  std::memcpy(&value, base + offset, sizeof value);
  return value;
}
inline uint64_t LoadU64(const uint8_t* base, size_t offset) {
  uint64_t value;
  std::memcpy(&value, base + offset, sizeof value);
  return value;
}
inline void StoreU16(uint8_t* base, size_t offset, uint16_t value) {
  std::memcpy(base + offset, &value, sizeof value);
}
inline void StoreU32(uint8_t* base, size_t offset, uint32_t value) {
  std::memcpy(base + offset, &value, sizeof value);
}
inline void StoreI32(uint8_t* base, size_t offset, int32_t value) {
  std::memcpy(base + offset, &value, sizeof value);
}
inline void StoreU64(uint8_t* base, size_t offset, uint64_t value) {
  std::memcpy(base + offset, &value, sizeof value);
}

// The reader-attached flag, read and written atomically (it is shared
// without the mutex). REQUIRES: `base` is 4-byte aligned, as a mapped view
// always is.
inline bool ReaderAttached(const uint8_t* base) {
  auto* word = reinterpret_cast<uint32_t*>(
      const_cast<uint8_t*>(base + kReaderAttachedOffset));
  return std::atomic_ref<uint32_t>(*word).load(std::memory_order_acquire) != 0;
}
inline void SetReaderAttached(uint8_t* base, bool attached) {
  auto* word = reinterpret_cast<uint32_t*>(base + kReaderAttachedOffset);
  std::atomic_ref<uint32_t>(*word).store(attached ? 1u : 0u,
                                         std::memory_order_release);
}

}  // namespace ruleclient::sms_buffer

#endif  // TELVANE_RULECLIENT_SMS_BUFFER_LAYOUT_H_
