// Little-endian fixed-width integers: the one place binary files get their
// byte order from. Byte-wise code keeps it independent of the host's order
// and alignment; compilers turn it into single loads and stores.
#pragma once

#include <cstdint>
#include <string>

namespace zr::base {

inline void encode_fixed16(char* dst, uint16_t value) {
  for (int i = 0; i < 2; ++i) dst[i] = static_cast<char>(value >> (8 * i));
}

inline void encode_fixed32(char* dst, uint32_t value) {
  for (int i = 0; i < 4; ++i) dst[i] = static_cast<char>(value >> (8 * i));
}

inline void encode_fixed64(char* dst, uint64_t value) {
  for (int i = 0; i < 8; ++i) dst[i] = static_cast<char>(value >> (8 * i));
}

inline uint16_t decode_fixed16(const char* src) {
  const auto* p = reinterpret_cast<const unsigned char*>(src);
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t decode_fixed32(const char* src) {
  const auto* p = reinterpret_cast<const unsigned char*>(src);
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

inline uint64_t decode_fixed64(const char* src) {
  const auto* p = reinterpret_cast<const unsigned char*>(src);
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

// Appending forms, for building a buffer front to back.
inline void put_fixed16(std::string& dst, uint16_t value) {
  char buf[2];
  encode_fixed16(buf, value);
  dst.append(buf, sizeof buf);
}

inline void put_fixed32(std::string& dst, uint32_t value) {
  char buf[4];
  encode_fixed32(buf, value);
  dst.append(buf, sizeof buf);
}

inline void put_fixed64(std::string& dst, uint64_t value) {
  char buf[8];
  encode_fixed64(buf, value);
  dst.append(buf, sizeof buf);
}

}  // namespace zr::base
