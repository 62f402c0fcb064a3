// The vectorised pass of StringSetLines, built once per instruction set.
#include "base/byte_block.h"
#include "store/string_set_lines.h"

namespace zr::store {
ZR_ISA_BEGIN

size_t find_line_structure(std::string_view text, uint32_t* out) {
  const char* s = text.data();
  const size_t n = text.size();
  size_t count = 0;
  size_t i = 0;
#if ZR_HAS_BYTE_BLOCK
  const base::ByteBlock quote = base::ByteBlock::splat('"');
  const base::ByteBlock backslash = base::ByteBlock::splat('\\');
  const base::ByteBlock line_feed = base::ByteBlock::splat('\n');
  for (; i + base::ByteBlock::kSize <= n; i += base::ByteBlock::kSize) {
    const base::ByteBlock v = base::ByteBlock::load(s + i);
    for (uint32_t mask = ((v == quote) | (v == backslash) | (v == line_feed)).mask(); mask != 0; mask &= mask - 1) {
      out[count++] = static_cast<uint32_t>(i + static_cast<size_t>(__builtin_ctz(mask)));
    }
  }
#endif
  for (; i < n; ++i) {
    if (s[i] == '"' || s[i] == '\\' || s[i] == '\n') out[count++] = static_cast<uint32_t>(i);
  }
  return count;
}

ZR_ISA_END
}  // namespace zr::store
