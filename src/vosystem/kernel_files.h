// Kernel files, journal state and timers.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vo {

struct KernelFiles {
  std::FILE *journal_file;  // control 0x10005
  uint32_t journal_flags;   // control 0x10006
  char *journal_name;       // control 0x1000a
  uint32_t report_open_failures;
};

}  // namespace vo
