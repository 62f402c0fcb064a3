// Reading and appending many JSON Lines records without holding whole layers
// in memory or opening a file once per record.
//
// Housekeeping and store merges walk every record of a layer and append
// copies to shards and archive files. Records are read one file at a time,
// and the lines bound for each file are gathered and appended in few
// write-all calls; every call writes whole lines only, so the files look as
// if each line had been appended on its own.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/file.h"
#include "base/status.h"
#include "json/value.h"

namespace zr::store {

// Calls fn(record) for every parseable line of the file at `path`, in file
// order, by the reading rule of jsonl_read (a missing file has no records;
// a directory, FIFO or device is an error).
// An error of fn ends the walk and is returned.
base::Status for_each_record(const std::string& path, const std::function<base::Status(const json::Value&)>& fn);

// for_each_record for readers that want only records whose line holds
// `needle` as bytes: other lines are passed over unparsed. An empty needle
// is in every line.
base::Status for_each_record_holding(const std::string& path, std::string_view needle,
                                    const std::function<base::Status(const json::Value&)>& fn);

// Maps the file at `path` by the reading rule of for_each_record: a missing
// file maps as empty; a directory, FIFO or device is an error.
base::Result<base::MappedFile> map_record_file(const std::string& path);

// Calls fn(path) for every regular file of the directory <zr_dir>/.zr/<layer>,
// whatever the files' names, in listing order. A missing directory has no
// files; a listing error, or an error of fn, is returned.
base::Status for_each_layer_file(std::string_view zr_dir, std::string_view layer,
                                 const std::function<base::Status(const std::string& path)>& fn);

// Lines queued per target file and appended in bulk (the file is created if
// missing, its directory never). Queued lines are written in the order they
// were added; files are written in the order they were first used.
class BatchedAppender {
 public:
  // Everything queued is written out once this many bytes are pending.
  explicit BatchedAppender(size_t budget_bytes = size_t{8} << 20) : budget_(budget_bytes) {}

  // Queues the compact text of `record` plus "\n" for `path`.
  base::Status AddRecord(const std::string& path, const json::Value& record);
  // Writes every queued line. The first failing file ends the flush with the
  // system's message; files written before it stay written.
  base::Status Flush();

 private:
  struct Pending {
    std::string path;
    std::string bytes;
  };
  std::string& BufferFor(const std::string& path);
  base::Status FlushIfFull();

  size_t budget_;
  size_t pending_bytes_ = 0;
  std::vector<Pending> pending_;
  std::unordered_map<std::string, size_t> slot_of_path_;
};

}  // namespace zr::store
