#include "purge/line_set.h"

#include <cstring>

namespace zr::purge {

namespace {

// Digests are uniformly distributed, so their first bytes are a good hash.
uint64_t slot_hash(const store::HashKey& key) {
  uint64_t h;
  std::memcpy(&h, key.data(), sizeof h);
  return h;
}

int lower_hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool decode_lower_hex_hash(std::string_view text, store::HashKey& out) {
  if (text.size() != 64) return false;
  for (size_t i = 0; i < 32; ++i) {
    int hi = lower_hex_digit(text[2 * i]);
    int lo = lower_hex_digit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

size_t LineSet::Probe(const store::HashKey& key) const {
  const size_t mask = slots_.size() - 1;
  for (size_t i = slot_hash(key) & mask;; i = (i + 1) & mask) {
    uint32_t slot = slots_[i];
    if (slot == 0 || keys_[slot - 1] == key) return i;
  }
}

void LineSet::Grow() {
  size_t capacity = slots_.empty() ? 64 : slots_.size() * 2;
  slots_.assign(capacity, 0);
  for (size_t k = 0; k < keys_.size(); ++k) slots_[Probe(keys_[k])] = static_cast<uint32_t>(k + 1);
}

bool LineSet::Add(std::string_view line_hash) {
  store::HashKey key;
  if (!decode_lower_hex_hash(line_hash, key)) return others_.emplace(line_hash).second;
  // Keep the table at most half full so that probes stay short.
  if (2 * (keys_.size() + 1) > slots_.size()) Grow();
  size_t i = Probe(key);
  if (slots_[i] != 0) return false;
  keys_.push_back(key);
  slots_[i] = static_cast<uint32_t>(keys_.size());
  return true;
}

bool LineSet::ContainsDigest(const store::HashKey& digest) const {
  if (keys_.empty()) return false;
  return slots_[Probe(digest)] != 0;
}

}  // namespace zr::purge
