// Numbering by content through a hash table built for this one job: every
// line is hashed at most once, and equality is always settled by the bytes.
#include "tracking/line_numbering.h"

#include <cstring>
#include <string>
#include <string_view>

namespace zr::tracking {
namespace {

// Length first: most differing lines differ in length, so their bytes are
// never touched.
bool same_line(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

uint64_t load64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

uint64_t mix(uint64_t a, uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

// A fast 64-bit hash of a line's bytes (multiply-and-fold, three independent
// lanes for long lines). Only spreads lines over the table: equality is
// always decided by the bytes.
uint64_t hash_line(std::string_view line) {
  constexpr uint64_t k0 = 0xa0761d6478bd642full, k1 = 0xe7037ed1a0b428dbull, k2 = 0x8ebc6af09c88c6e3ull,
                     k3 = 0x589965cc75374cc3ull;
  const char* p = line.data();
  size_t n = line.size();
  uint64_t h = (n * k0) ^ k1;
  uint64_t a = 0, b = 0;
  if (n > 16) {
    uint64_t h2 = h, h3 = h;
    while (n > 48) {
      h = mix(load64(p) ^ k1, load64(p + 8) ^ h);
      h2 = mix(load64(p + 16) ^ k2, load64(p + 24) ^ h2);
      h3 = mix(load64(p + 32) ^ k3, load64(p + 40) ^ h3);
      p += 48;
      n -= 48;
    }
    h ^= h2 ^ h3;
    while (n > 16) {
      h = mix(load64(p) ^ k1, load64(p + 8) ^ h);
      p += 16;
      n -= 16;
    }
    // The last 16 bytes, overlapping what was already mixed if need be.
    a = load64(p + n - 16);
    b = load64(p + n - 8);
  } else if (n >= 8) {
    a = load64(p);
    b = load64(p + n - 8);
  } else if (n >= 4) {
    uint32_t x, y;
    std::memcpy(&x, p, 4);
    std::memcpy(&y, p + n - 4, 4);
    a = x;
    b = y;
  } else if (n > 0) {
    a = static_cast<uint64_t>(static_cast<unsigned char>(p[0])) << 16 |
        static_cast<uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 | static_cast<unsigned char>(p[n - 1]);
  }
  return mix(a ^ k2, b ^ h ^ k3);
}

}  // namespace

// Open addressing over a power-of-two table at most two-thirds full. A slot
// keeps the high half of the line's hash (to skip most byte comparisons) and
// its number plus one (0 marks an empty slot).
template <typename Id, typename LineList>
NumberedLines<Id> number_lines(const LineList& old_lines, const LineList& new_lines) {
  struct Slot {
    uint32_t tag;
    Id number_plus_one;
  };
  const size_t total = old_lines.size() + new_lines.size();
  size_t capacity = 16;
  while (capacity < total + total / 2) capacity <<= 1;
  const size_t mask = capacity - 1;
  std::vector<Slot> slots(capacity, Slot{0, 0});
  auto line_at = [&](size_t number) -> std::string_view {
    return number < old_lines.size() ? old_lines[number] : new_lines[number - old_lines.size()];
  };
  auto number_of = [&](std::string_view line, size_t position) -> Id {
    const uint64_t h = hash_line(line);
    const auto tag = static_cast<uint32_t>(h >> 32);
    for (size_t s = h & mask;; s = (s + 1) & mask) {
      Slot& slot = slots[s];
      if (slot.number_plus_one == 0) {
        slot = Slot{tag, static_cast<Id>(position + 1)};
        return static_cast<Id>(position);
      }
      if (slot.tag == tag && same_line(line_at(slot.number_plus_one - 1), line)) return slot.number_plus_one - 1;
    }
  };

  NumberedLines<Id> out;
  out.old_ids.reserve(old_lines.size());
  out.new_ids.reserve(new_lines.size());
  if (old_lines.empty() || new_lines.empty()) {
    // The diff only ever compares an old line with a new one, so with one
    // side empty the numbers are never read: positions will do.
    for (size_t i = 0; i < old_lines.size(); ++i) out.old_ids.push_back(static_cast<Id>(i));
    for (size_t j = 0; j < new_lines.size(); ++j) out.new_ids.push_back(static_cast<Id>(old_lines.size() + j));
    return out;
  }
  for (size_t i = 0; i < old_lines.size(); ++i) out.old_ids.push_back(number_of(old_lines[i], i));
  // A new line usually repeats the old line after the one that the previous
  // new line repeated: trying that line first spares most new lines the hash
  // and the table. The guess only saves work; a miss falls back to the table.
  size_t guess = 0;
  for (size_t j = 0; j < new_lines.size(); ++j) {
    Id number;
    if (guess < old_lines.size() && same_line(old_lines[guess], new_lines[j])) {
      number = out.old_ids[guess++];
    } else {
      number = number_of(new_lines[j], old_lines.size() + j);
      if (number < old_lines.size()) guess = static_cast<size_t>(number) + 1;
    }
    out.shared = out.shared || number < old_lines.size();
    out.new_ids.push_back(number);
  }
  return out;
}

// The line lists blame_diff takes, with either width of number.
template NumberedLines<uint32_t> number_lines<uint32_t>(const std::vector<std::string_view>&,
                                                        const std::vector<std::string_view>&);
template NumberedLines<uint64_t> number_lines<uint64_t>(const std::vector<std::string_view>&,
                                                        const std::vector<std::string_view>&);
template NumberedLines<uint32_t> number_lines<uint32_t>(const std::vector<std::string>&,
                                                        const std::vector<std::string>&);
template NumberedLines<uint64_t> number_lines<uint64_t>(const std::vector<std::string>&,
                                                        const std::vector<std::string>&);

}  // namespace zr::tracking
