// The vectorised pass of CandidateLines, built once per instruction set.
#include <string.h>

#include "base/byte_block.h"
#include "store/candidate_lines.h"

namespace zr::store {
ZR_ISA_BEGIN

namespace {
constexpr size_t kPrefetchDistance = 2048;
}  // namespace

size_t find_needle_or_escape(std::string_view text, size_t from, std::string_view needle) {
  const char* s = text.data();
  const size_t n = text.size();
  const size_t m = needle.size();
  const char* w = needle.data();
  size_t i = from;
#if ZR_HAS_BYTE_BLOCK
  // Compare a block of starting positions at once on four bytes of the
  // needle (its first two and last two: the quotes and the ends of the
  // name); only positions where all four agree are compared in full.
  // Backslashes are found in the same pass, so each byte is loaded from
  // memory once.
  constexpr size_t kBlock = base::ByteBlock::kSize;
  if (m >= 2) {
    const base::ByteBlock first = base::ByteBlock::splat(w[0]);
    const base::ByteBlock second = base::ByteBlock::splat(w[1]);
    const base::ByteBlock penultimate = base::ByteBlock::splat(w[m - 2]);
    const base::ByteBlock last = base::ByteBlock::splat(w[m - 1]);
    const base::ByteBlock backslash = base::ByteBlock::splat('\\');
    for (; i + m + kBlock - 1 <= n; i += kBlock) {
      // The hardware prefetcher alone leaves the loop waiting on memory;
      // asking for the bytes 2 KiB ahead keeps it busy instead.
      if (i + kPrefetchDistance < n) _mm_prefetch(s + i + kPrefetchDistance, _MM_HINT_T0);
      const base::ByteBlock b0 = base::ByteBlock::load(s + i);
      const base::ByteBlock ends = (b0 == first) & (base::ByteBlock::load(s + i + m - 1) == last);
      const base::ByteBlock inner =
          (base::ByteBlock::load(s + i + 1) == second) & (base::ByteBlock::load(s + i + m - 2) == penultimate);
      uint32_t maybe = (ends & inner).mask();
      const uint32_t escapes = (b0 == backslash).mask();
      if ((maybe | escapes) == 0) continue;
      const unsigned first_escape = escapes ? static_cast<unsigned>(__builtin_ctz(escapes)) : unsigned{kBlock};
      for (; maybe != 0; maybe &= maybe - 1) {
        unsigned k = static_cast<unsigned>(__builtin_ctz(maybe));
        if (k > first_escape) break;
        if (memcmp(s + i + k, w, m) == 0) return i + k;
      }
      if (escapes) return i + first_escape;
    }
  }
#endif
  for (; i < n; ++i) {
    if (s[i] == '\\') return i;
    if (m > 0 && s[i] == w[0] && n - i >= m && memcmp(s + i, w, m) == 0) return i;
  }
  return std::string_view::npos;
}

ZR_ISA_END
}  // namespace zr::store
