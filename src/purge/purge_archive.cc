#include "purge/purge_archive.h"

#include <cstdio>

#include "base/file.h"
#include "store/store_paths.h"

namespace zr::purge {

namespace {

struct CivilDate {
  int64_t year;
  unsigned month;  // 1..12
  unsigned day;    // 1..31
};

// The proleptic Gregorian date of a day count since 1970-01-01: eras of
// 400 years (146097 days) repeat exactly, and within an era the years are
// counted from March so that the leap day falls at the end.
CivilDate civil_from_days(int64_t days) {
  days += 719468;  // days from 0000-03-01 to 1970-01-01
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_from_march = (5 * day_of_year + 2) / 153;
  const unsigned day = static_cast<unsigned>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  const unsigned month = static_cast<unsigned>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

}  // namespace

std::string purge_archive_stamp(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  CivilDate date = civil_from_days(seconds / 86400);
  int64_t r = seconds % 86400;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld%02u%02uT%02d%02d%02d", static_cast<long long>(date.year), date.month,
                date.day, static_cast<int>(r / 3600), static_cast<int>(r % 3600 / 60), static_cast<int>(r % 60));
  return buf;
}

std::string archive_dir(std::string_view zr_dir) { return store::store_path(zr_dir, kArchiveDirName); }

std::string purge_archive_path(std::string_view zr_dir, std::string_view stamp) {
  std::string name(kPurgeArchivePrefix);
  name.append(stamp);
  return base::path_join(archive_dir(zr_dir), name);
}

void append_archive_record_of_value(std::string& out, std::string_view stamp, std::string_view compact_value) {
  // The record is an object of two members written with sorted keys; the
  // stamp is digits and "T", which need no escaping.
  out.append("{\"archived_at\":\"");
  out.append(stamp);
  out.append("\",\"line\":");
  out.append(compact_value);
  out.append("}\n");
}

std::string purge_archive_detail(uint64_t count, std::string_view path) {
  return "archived " + std::to_string(count) + " lines to " + std::string(path);
}

}  // namespace zr::purge
