#include "index/binary_index_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/coding.h"

namespace zr::index {

namespace {

// Tokenizer names are stored as raw bytes; a damaged or foreign name must
// still come back as valid UTF-8. Each maximal ill-formed subsequence becomes
// one U+FFFD, the usual substitution practice.
std::string utf8_lossy(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    int need = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      if (c == 0xE0) lo = 0xA0;  // no overlong forms
      if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    }
    size_t j = i + 1;
    bool whole = need > 0;
    for (int k = 0; k < need; ++k, ++j) {
      if (j >= n || p[j] < (k == 0 ? lo : 0x80) || p[j] > (k == 0 ? hi : 0xBF)) {
        whole = false;
        break;
      }
    }
    if (whole) {
      out.append(bytes.substr(i, j - i));
    } else {
      out.append(kReplacement);
    }
    i = j;
  }
  return out;
}

// Decodes a record's payload. A ref with an unknown tag or running past the
// payload ends the list: the refs before it are still good.
std::vector<Ref> decode_payload(const char* payload, size_t m) {
  std::vector<Ref> refs;
  size_t pos = 0;
  while (pos < m) {
    const auto tag = static_cast<uint8_t>(payload[pos]);
    if (tag == kTokenRefTag) {
      if (pos + 1 >= m) break;
      const size_t name_size = static_cast<uint8_t>(payload[pos + 1]);
      if (m - pos < kTokenRefFixedSize + name_size) break;
      const char* name = payload + pos + 2;
      const char* fields = name + name_size;
      refs.emplace_back(TokenRef{utf8_lossy(std::string_view(name, name_size)), base::decode_fixed16(fields),
                                 base::decode_fixed32(fields + 2), base::decode_fixed32(fields + 6)});
      pos += kTokenRefFixedSize + name_size;
    } else if (tag == kShardRefTag) {
      if (pos + 1 >= m) break;
      refs.emplace_back(ShardRef{static_cast<uint8_t>(payload[pos + 1])});
      pos += kShardRefSize;
    } else {
      break;
    }
  }
  return refs;
}

}  // namespace

base::Result<BinaryIndexView> BinaryIndexView::Parse(std::string_view bytes) {
  if (bytes.size() < kMinFileSize) {
    return base::Status::Error("binary index file too small: " + std::to_string(bytes.size()) + " bytes");
  }
  const std::string_view magic = bytes.substr(0, kBinaryIndexMagic.size());
  if (magic == kBinaryIndexOldMagic) {
    return base::Status::Error("binary index format ZRIDXF01 is no longer supported; run `zr index build` to rebuild");
  }
  if (magic != kBinaryIndexMagic) return base::Status::Error("binary index magic mismatch");

  BinaryIndexView view(bytes);
  const uint64_t size = bytes.size();
  const uint64_t t = base::decode_fixed64(bytes.data() + kFanoutOffsetField);
  view.fanout_offset_ = t;
  // A T pointing outside the file opens fine but finds nothing.
  view.fanout_inside_ = t <= size && size - t >= kFanoutSize;
  // The table is present when T + 2052 lies before the end of the file.
  if (t < size - (kFanoutSize + 4)) {
    view.line_table_count_ = base::decode_fixed32(bytes.data() + t + kFanoutSize);
    view.line_table_position_ = t + kFanoutSize + 4;
  }
  return view;
}

uint32_t BinaryIndexView::stored_entry_count() const { return base::decode_fixed32(bytes_.data() + kEntryCountOffset); }

uint64_t BinaryIndexView::slot(size_t b) const { return base::decode_fixed64(bytes_.data() + fanout_offset_ + 8 * b); }

std::vector<Ref> BinaryIndexView::Lookup(std::string_view key_hex) const {
  const std::optional<store::HashKey> key = store::decode_hash_key(key_hex);
  if (!key) return {};
  return Lookup(*key);
}

std::vector<Ref> BinaryIndexView::Lookup(const store::HashKey& key) const {
  if (!fanout_inside_) return {};
  const size_t b = key[0];
  uint64_t h = slot(b);
  if (h == 0) return {};
  // The bucket ends where the next non-empty bucket starts, or at T.
  uint64_t f = fanout_offset_;
  for (size_t next = b + 1; next < kFanoutSlots; ++next) {
    if (const uint64_t s = slot(next); s != 0) {
      f = s;
      break;
    }
  }
  // Records are variable-length and sorted: scan the bucket and stop at the
  // first greater key. Damaged offsets may point anywhere, so the scan is
  // also bounded by the end of the bytes.
  const uint64_t end = std::min<uint64_t>(f, bytes_.size());
  const char* data = bytes_.data();
  while (h < end && end - h >= kRecordHeaderSize) {
    const int order = std::memcmp(data + h, key.data(), key.size());
    const uint16_t m = base::decode_fixed16(data + h + key.size());
    if (order > 0) return {};
    if (order == 0) {
      if (bytes_.size() - (h + kRecordHeaderSize) < m) return {};
      return decode_payload(data + h + kRecordHeaderSize, m);
    }
    h += kRecordHeaderSize + m;
  }
  return {};
}

base::Result<std::optional<BinaryIndex>> BinaryIndex::Open(std::string_view zr_dir) {
  return OpenPath(binary_index_file_path(zr_dir));
}

base::Result<std::optional<BinaryIndex>> BinaryIndex::OpenPath(const std::string& path) {
  base::Result<base::FileToMap> file = base::FileToMap::Open(path);
  if (!file.ok()) {
    // Absence is for the caller to judge (a scan instead, or its own error).
    if (file.status().is_missing()) return std::optional<BinaryIndex>();
    return file.status().WithContext("opening " + path);
  }
  // A directory opens for reading on this platform but is no index.
  if (file->kind() == base::PathKind::kDirectory) return base::Status::FromErrno(EISDIR).WithContext("opening " + path);
  if (file->size() < kMinFileSize) {
    return base::Status::Error("binary index file too small: " + std::to_string(file->size()) + " bytes");
  }
  ZR_ASSIGN_OR_RETURN(base::MappedFile mapped, file->Map());
  ZR_ASSIGN_OR_RETURN(BinaryIndexView view, BinaryIndexView::Parse(mapped.view()));
  return std::optional<BinaryIndex>(BinaryIndex(std::move(mapped), view));
}

}  // namespace zr::index
