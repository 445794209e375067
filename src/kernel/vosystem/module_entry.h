// The standard answers of a module's query function, from one description.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

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
  // Every code execute answers; execute refuses the others by this list
  // where it can, so that the list and the procedure cannot part.
  std::span<const uint32_t> execute_codes = {};
  VtModuleProc terminate = nullptr;
  VtModuleProc callbacks_changed = nullptr;
  VtCallBackProc callback = nullptr;
  bool compatible = false;           // answers query 17 with the kernel's key
  const char *build_kind = nullptr;  // query 14; null: the library's own kind
};

// A query outside the public numbers: the module's query function answers
// it with a pointer to its description. Only the library and its tests ask
// it (InstalledExecuteCodes); no public procedure passes it on.
constexpr uint32_t kDescriptionQuery = 0x7E000001u;

inline bool ExecuteCodeListed(std::span<const uint32_t> codes, uint32_t code) {
  for (const uint32_t c : codes)
    if (c == code) return true;
  return false;
}

// Fills *answer for the query from the description (type 0 when the module
// does not answer it). Always returns 0.
VtStatus ModuleQueryAnswer(const ModuleDescription &d, uint32_t query, VtTypedValue *answer);

// One installed module's execute codes, from its description.
struct ModuleExecuteCodes {
  uint32_t number;
  const char *name;
  std::span<const uint32_t> codes;
};

// Every installed module that answers execute codes, in module-number
// order; empty before the kernel is initialised. What enumerates the codes
// the library answers (the allocation-failure sweep over them).
std::vector<ModuleExecuteCodes> InstalledExecuteCodes();

}  // namespace vo
