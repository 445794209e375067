// The standard answers of a module's query function, from one description.
#pragma once

#include <cstdint>

#include <vo/vo_types.h>

namespace vo {

// The kernel's 24-bit key of the compatibility query (17); a module answers
// (its number << 24) | this key.
constexpr uint32_t kCompatibilityKey = 0x0A5E21;

struct ModuleDescription {
  uint32_t number;
  const char *name;     // registry name (query 6)
  const char *banner;   // build banner (query 11)
  uint32_t build_time;  // seconds since 1970 (query 15)
  VtControlSetProc control_set = nullptr;
  VtControlGetProc control_get = nullptr;
  VtModuleProc start = nullptr;
  VtModuleProc memory_release = nullptr;
  VtExecuteProc execute = nullptr;
  VtModuleProc terminate = nullptr;
  VtModuleProc callbacks_changed = nullptr;
  VtCallBackProc callback = nullptr;
  bool compatible = false;           // answers query 17 with the kernel's key
  const char *build_kind = nullptr;  // query 14; null: the library's own kind
};

// Fills *answer for the query from the description (type 0 when the module
// does not answer it). Always returns 0.
VtStatus ModuleQueryAnswer(const ModuleDescription &d, uint32_t query, VtTypedValue *answer);

}  // namespace vo
