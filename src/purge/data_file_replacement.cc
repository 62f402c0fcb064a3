#include "purge/data_file_replacement.h"

#include <utility>

#include "base/file.h"
#include "base/file_system.h"

namespace zr::purge {

namespace {

constexpr size_t kMaxNameLength = 255;
constexpr std::string_view kTempInfix = ".purge-";

// A hidden name that tells where a leftover came from: "." + the data file's
// name + ".purge-", shortened (at a character boundary) so that the unique
// suffix still fits a file name.
std::string temp_prefix(std::string_view data_file) {
  size_t slash = data_file.rfind('/');
  std::string_view base = slash == std::string_view::npos ? data_file : data_file.substr(slash + 1);
  size_t room = kMaxNameLength - 1 - kTempInfix.size() - base::kTempNameUniqueLength;
  if (base.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
    base = base.substr(0, cut);
  }
  std::string prefix = ".";
  prefix.append(base);
  prefix.append(kTempInfix);
  return prefix;
}

}  // namespace

base::Result<DataFileReplacement> DataFileReplacement::Create(const std::string& data_file) {
  ZR_ASSIGN_OR_RETURN(const base::FileStatus data_status, base::file_status(data_file));
  ZR_ASSIGN_OR_RETURN(base::FileReplacement file,
                      base::FileReplacement::Create(data_file, base::parent_directory(data_file), temp_prefix(data_file)));
  DataFileReplacement replacement(std::move(file), data_status.permissions);
  replacement.buffer_.reserve(kBufferSize);
  return replacement;
}

base::Status DataFileReplacement::Write(std::string_view bytes) { return writeback_.WriteAll(file_.fd(), bytes); }

base::Status DataFileReplacement::Drain() {
  base::Status status = Write(buffer_);
  buffer_.clear();
  return status;
}

base::Status DataFileReplacement::WriteLine(std::string_view line) {
  if (buffer_.size() + line.size() + 1 > kBufferSize) {
    ZR_RETURN_IF_ERROR(Drain());
    // A line longer than the buffer goes out directly.
    if (line.size() + 1 > kBufferSize) {
      ZR_RETURN_IF_ERROR(Write(line));
      return Write("\n");
    }
  }
  buffer_.append(line);
  buffer_.push_back('\n');
  return base::Status();
}

base::Status DataFileReplacement::Finish() {
  if (!buffer_.empty()) ZR_RETURN_IF_ERROR(Drain());
  // The replacement keeps the data file's permissions (the new file starts
  // private), and reaches the disk before it can take the data file's place.
  return file_.Finish(mode_);
}

base::Status DataFileReplacement::Commit() { return file_.Commit(); }

}  // namespace zr::purge
