#include "token_index/source_patterns.h"

#include <cstring>

namespace zr::token_index {

size_t SourcePatterns::PairAt(const char* p) {
  return static_cast<size_t>(static_cast<unsigned char>(p[0])) |
         (static_cast<size_t>(static_cast<unsigned char>(p[1])) << 8);
}

uint32_t SourcePatterns::key_of(const char* p) {
  uint32_t key;
  std::memcpy(&key, p, sizeof key);
  return key;
}

SourcePatterns::SourcePatterns(const std::vector<std::string>& targets) {
  for (const std::string& target : targets) {
    targets_.insert(target);
    std::string pattern;
    pattern.reserve(target.size() + 2);
    pattern.push_back('"');
    pattern.append(target);
    pattern.push_back('"');
    if (pattern.size() < 4) continue;
    second_and_third_.set(PairAt(pattern.data() + 1));
    std::vector<std::string>& group = groups_[key_of(pattern.data())];
    bool known = false;
    for (const std::string& p : group) known = known || p == pattern;
    if (!known) group.push_back(std::move(pattern));
  }
}

bool SourcePatterns::HasCandidate(std::string_view line) const {
  if (groups_.empty()) return false;
  const char* begin = line.data();
  const char* end = begin + line.size();
  const char* p = begin;
  while (end - p >= 4) {
    p = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
    if (p == nullptr || end - p < 4) return false;
    if (second_and_third_.test(PairAt(p + 1))) {
      auto it = groups_.find(key_of(p));
      if (it != groups_.end()) {
        size_t left = static_cast<size_t>(end - p);
        for (const std::string& pattern : it->second) {
          if (pattern.size() <= left && std::memcmp(p, pattern.data(), pattern.size()) == 0) return true;
        }
      }
    }
    ++p;
  }
  return false;
}

bool names_any(const TokenIndexEntry& entry, const std::unordered_set<std::string>& targets) {
  for (const std::string& source : entry.sources) {
    if (targets.count(source) != 0) return true;
  }
  return false;
}

}  // namespace zr::token_index
