// A block of bytes tested all at once, for the byte scans: 32 bytes with
// AVX2, otherwise 16 with SSE2, which every x86-64 CPU has. Only for sources
// compiled once per instruction set (base/isa.h): the block's width is that
// of the copy being compiled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/isa.h"

#if defined(__SSE2__)
#include <immintrin.h>
#define ZR_HAS_BYTE_BLOCK 1
#else
#define ZR_HAS_BYTE_BLOCK 0
#endif

#if ZR_HAS_BYTE_BLOCK
namespace zr::base {
ZR_ISA_BEGIN

#if defined(__AVX2__)
struct ByteBlock {
  static constexpr size_t kSize = 32;
  __m256i v;

  static ByteBlock load(const char* p) { return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))}; }
  static ByteBlock splat(char c) { return {_mm256_set1_epi8(c)}; }
  void store(char* p) const { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  // All ones in each byte equal to the other block's, zeros elsewhere.
  ByteBlock operator==(ByteBlock o) const { return {_mm256_cmpeq_epi8(v, o.v)}; }
  // All ones in each byte not above the other block's (unsigned).
  ByteBlock at_most(ByteBlock o) const { return {_mm256_cmpeq_epi8(_mm256_max_epu8(v, o.v), o.v)}; }
  ByteBlock operator&(ByteBlock o) const { return {_mm256_and_si256(v, o.v)}; }
  ByteBlock operator|(ByteBlock o) const { return {_mm256_or_si256(v, o.v)}; }
  // Bit i set when byte i has its high bit set.
  uint32_t mask() const { return static_cast<uint32_t>(_mm256_movemask_epi8(v)); }
};
#else
struct ByteBlock {
  static constexpr size_t kSize = 16;
  __m128i v;

  static ByteBlock load(const char* p) { return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))}; }
  static ByteBlock splat(char c) { return {_mm_set1_epi8(c)}; }
  void store(char* p) const { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  ByteBlock operator==(ByteBlock o) const { return {_mm_cmpeq_epi8(v, o.v)}; }
  ByteBlock at_most(ByteBlock o) const { return {_mm_cmpeq_epi8(_mm_max_epu8(v, o.v), o.v)}; }
  ByteBlock operator&(ByteBlock o) const { return {_mm_and_si128(v, o.v)}; }
  ByteBlock operator|(ByteBlock o) const { return {_mm_or_si128(v, o.v)}; }
  uint32_t mask() const { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }
};
#endif

ZR_ISA_END
}  // namespace zr::base
#endif
