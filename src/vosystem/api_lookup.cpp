// Look-ups over the table of exported procedures.

#include <cstring>

#include "vosystem/api_guard.h"
#include "vosystem/api_table.h"

namespace vo::api {

std::atomic<const JournalHooks *> g_journal_hooks{nullptr};

const VtApiFunction *FindFunction(const char *name) {
  if (name == nullptr) return nullptr;
  for (size_t i = 0; i < kFunctionCount; ++i)
    if (std::strcmp(kFunctions[i].name, name) == 0) return &kFunctions[i];
  return nullptr;
}

const VtApiFunction *FindFunctionByCode(uint32_t code) {
  for (size_t i = 0; i < kFunctionCount; ++i)
    if (kFunctions[i].code == code) return &kFunctions[i];
  return nullptr;
}

}  // namespace vo::api
