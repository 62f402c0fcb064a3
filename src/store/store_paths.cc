#include "store/store_paths.h"

#include "base/file.h"

namespace zr::store {

std::string store_dir(std::string_view zr_dir) { return base::path_join(zr_dir, kStoreDirName); }

std::string store_path(std::string_view zr_dir, std::string_view entry) {
  return base::path_join(store_dir(zr_dir), entry);
}

namespace {

bool is_utf8_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The first two bytes are two whole characters, not cut out of a longer one.
bool has_two_whole_characters(std::string_view hash) {
  return hash.size() >= 2 && !(hash.size() > 2 && is_utf8_continuation(hash[2]));
}

// The name cannot step outside the layer: no "/", NUL, "." or "..".
bool is_safe_shard_name(std::string_view name) {
  if (name == "." || name == "..") return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace

bool names_safe_shard(std::string_view hash) {
  return has_two_whole_characters(hash) && is_safe_shard_name(hash.substr(0, 2));
}

base::Result<std::string> shard_name(std::string_view hash) {
  if (!has_two_whole_characters(hash)) {
    return base::Status::Error("hash too short to name a shard: \"" + std::string(hash) + "\"");
  }
  std::string_view name = hash.substr(0, 2);
  if (!is_safe_shard_name(name)) {
    return base::Status::Error("hash names an unsafe shard: \"" + std::string(hash) + "\"");
  }
  return std::string(name);
}

std::string shard_file_name(uint8_t shard) {
  static constexpr char kHex[] = "0123456789abcdef";
  return std::string{kHex[shard >> 4], kHex[shard & 0xF]};
}

base::Result<std::string> shard_path(std::string_view zr_dir, std::string_view layer, std::string_view hash) {
  ZR_ASSIGN_OR_RETURN(std::string name, shard_name(hash));
  return base::path_join(store_path(zr_dir, layer), name);
}

}  // namespace zr::store
