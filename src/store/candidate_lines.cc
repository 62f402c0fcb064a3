#include "store/candidate_lines.h"

#include <string.h>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "store/json_write.h"

namespace zr::store {

namespace {
constexpr size_t kNone = std::string_view::npos;
constexpr size_t kPrefetchDistance = 2048;
}  // namespace

size_t find_needle_or_escape(std::string_view text, size_t from, std::string_view needle) {
  const char* s = text.data();
  const size_t n = text.size();
  const size_t m = needle.size();
  const char* w = needle.data();
  size_t i = from;
#if defined(__AVX2__)
  // Compare 32 starting positions at once on four bytes of the needle (its
  // first two and last two: the quotes and the ends of the name); only
  // positions where all four agree are compared in full. Backslashes are
  // found in the same pass, so each byte is loaded from memory once.
  if (m >= 2) {
    const __m256i first = _mm256_set1_epi8(w[0]);
    const __m256i second = _mm256_set1_epi8(w[1]);
    const __m256i penultimate = _mm256_set1_epi8(w[m - 2]);
    const __m256i last = _mm256_set1_epi8(w[m - 1]);
    const __m256i backslash = _mm256_set1_epi8('\\');
    for (; i + m + 31 <= n; i += 32) {
      // The hardware prefetcher alone leaves the loop waiting on memory;
      // asking for the bytes 2 KiB ahead keeps it busy instead.
      if (i + kPrefetchDistance < n) _mm_prefetch(s + i + kPrefetchDistance, _MM_HINT_T0);
      const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
      const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 1));
      const __m256i b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + m - 2));
      const __m256i b3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + m - 1));
      const __m256i ends = _mm256_and_si256(_mm256_cmpeq_epi8(b0, first), _mm256_cmpeq_epi8(b3, last));
      const __m256i inner = _mm256_and_si256(_mm256_cmpeq_epi8(b1, second), _mm256_cmpeq_epi8(b2, penultimate));
      uint32_t maybe = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(ends, inner)));
      uint32_t escapes = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b0, backslash)));
      if ((maybe | escapes) == 0) continue;
      const unsigned first_escape = escapes ? static_cast<unsigned>(__builtin_ctz(escapes)) : 32u;
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
  return kNone;
}

CandidateLines::CandidateLines(std::string_view text, std::string_view value) : text_(text) {
  json::append_string(needle_, value);
}

bool CandidateLines::Next(std::string_view& line, size_t& readable_after) {
  while (pos_ < text_.size()) {
    size_t hit = find_needle_or_escape(text_, pos_, needle_);
    if (hit == kNone) {
      pos_ = text_.size();
      return false;
    }
    // The line around the hit: pos_ always starts a line, so the line's
    // start lies within [pos_, hit].
    const char* base = text_.data();
    const void* nl_before = ::memrchr(base + pos_, '\n', hit - pos_);
    size_t start = nl_before ? static_cast<size_t>(static_cast<const char*>(nl_before) - base) + 1 : pos_;
    size_t end = text_.find('\n', hit);
    if (end == kNone) end = text_.size();
    pos_ = end + 1;
    size_t line_end = end;
    if (line_end > start && text_[line_end - 1] == '\r') --line_end;
    if (line_end == start) continue;
    line = text_.substr(start, line_end - start);
    readable_after = text_.size() - line_end;
    return true;
  }
  return false;
}

}  // namespace zr::store
