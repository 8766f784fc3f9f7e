// Little-endian fields of the message file and its notes, whatever the
// host's byte order.
#ifndef TELVANE_STORE_LITTLE_ENDIAN_H_
#define TELVANE_STORE_LITTLE_ENDIAN_H_

#include <cstdint>
#include <cstring>

namespace store {

inline uint32_t LoadU32(const void* at) {
  const auto* p = static_cast<const uint8_t*>(at);
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
         (uint32_t{p[3]} << 24);
}

inline void StoreU32(void* at, uint32_t value) {
  auto* p = static_cast<uint8_t*>(at);
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

inline uint64_t LoadU64(const void* at) {
  const auto* p = static_cast<const uint8_t*>(at);
  return uint64_t{LoadU32(p)} | (uint64_t{LoadU32(p + 4)} << 32);
}

inline void StoreU64(void* at, uint64_t value) {
  auto* p = static_cast<uint8_t*>(at);
  StoreU32(p, static_cast<uint32_t>(value));
  StoreU32(p + 4, static_cast<uint32_t>(value >> 32));
}

inline double LoadDouble(const void* at) {
  const uint64_t bits = LoadU64(at);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline void StoreDouble(void* at, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  StoreU64(at, bits);
}

}  // namespace store

#endif  // TELVANE_STORE_LITTLE_ENDIAN_H_
