// CPU time of the whole process (every thread, user and system), for the
// benchmarks that report CPU seconds.
#pragma once

#include <time.h>

inline double cpu_seconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
