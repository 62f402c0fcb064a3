// A set of strings that can be probed with a string_view, without building
// a string for each probe.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace zr::base {

struct TransparentStringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

using StringSet = std::unordered_set<std::string, TransparentStringHash, std::equal_to<>>;

}  // namespace zr::base
