// Look-ups over the tables of exported procedures, type names and constants:
// open-addressed slot tables laid out by the generator.

#include <cstring>

#include "kernel/vosystem/api_guard.h"
#include "kernel/vosystem/api_table.h"

namespace vo::api {

// Generated beside the tables they index.
extern const uint32_t kFunctionNameSlots[];
extern const size_t kFunctionNameSlotsSize;
extern const uint32_t kFunctionCodeSlots[];
extern const size_t kFunctionCodeSlotsSize;
extern const uint32_t kTypeNameSlots[];
extern const size_t kTypeNameSlotsSize;
extern const uint32_t kConstantNameSlots[];
extern const size_t kConstantNameSlotsSize;

std::atomic<const JournalHooks *> g_journal_hooks{nullptr};

namespace {

// Probes from the hash's slot until the entry matches or a slot is empty.
template <class T, class Match>
const T *Probe(const uint32_t *slots, size_t size, uint32_t hash, const T *table, Match match) {
  for (size_t at = hash & (size - 1), n = 0; n < size; at = (at + 1) & (size - 1), ++n) {
    const uint32_t entry = slots[at];
    if (entry == 0) return nullptr;
    if (match(table[entry - 1])) return &table[entry - 1];
  }
  return nullptr;
}

}  // namespace

const VtApiFunction *FindFunction(const char *name) {
  if (name == nullptr) return nullptr;
  return Probe(kFunctionNameSlots, kFunctionNameSlotsSize, NameHash(name), kFunctions,
               [&](const VtApiFunction &f) { return std::strcmp(f.name, name) == 0; });
}

const VtApiFunction *FindFunctionByCode(uint32_t code) {
  return Probe(kFunctionCodeSlots, kFunctionCodeSlotsSize, CodeHash(code), kFunctions,
               [&](const VtApiFunction &f) { return f.code == code; });
}

const VtApiFunction *FindFunctionByEntry(const void *entry) {
  if (entry == nullptr) return nullptr;
  for (size_t i = 0; i < kFunctionCount; ++i)
    if (reinterpret_cast<const void *>(kFunctions[i].entry) == entry) return &kFunctions[i];
  return nullptr;
}

const VtApiType *FindType(const char *name) {
  if (name == nullptr) return nullptr;
  return Probe(kTypeNameSlots, kTypeNameSlotsSize, NameHash(name), kTypes,
               [&](const VtApiType &t) { return std::strcmp(t.name, name) == 0; });
}

const VtApiConstant *FindConstant(const char *name) {
  if (name == nullptr) return nullptr;
  return Probe(kConstantNameSlots, kConstantNameSlotsSize, NameHash(name), kConstants,
               [&](const VtApiConstant &c) { return std::strcmp(c.name, name) == 0; });
}

// A few dozen cases of one record: a walk is as quick as a table.
const VtApiCase *FindCase(const char *record, uint32_t word) {
  if (record == nullptr) return nullptr;
  for (size_t i = 0; i < kCaseCount; ++i)
    if (kCases[i].word == word && std::strcmp(kCases[i].record, record) == 0) return &kCases[i];
  return nullptr;
}

// Some hundred and fifty rules and a few codes: walks, once per pointer
// argument of a script's call.
const VtApiPointerRule *FindPointerRule(const VtApiFunction *fn, uint32_t param) {
  const auto at = static_cast<uint32_t>(fn - kFunctions);
  for (size_t i = 0; i < kPointerRuleCount; ++i)
    if (kPointerRules[i].function == at && kPointerRules[i].param == param) return &kPointerRules[i];
  return nullptr;
}

const char *BlockKindMade(const VtApiFunction *fn, uint32_t param) {
  const auto at = static_cast<uint32_t>(fn - kFunctions);
  for (size_t i = 0; i < kBlockMakerCount; ++i)
    if (kBlockMakers[i].function == at && kBlockMakers[i].param == param) return kBlockMakers[i].kind;
  return nullptr;
}

uint32_t BlockSizeParam(const VtApiFunction *fn, uint32_t param) {
  const auto at = static_cast<uint32_t>(fn - kFunctions);
  for (size_t i = 0; i < kBlockMakerCount; ++i)
    if (kBlockMakers[i].function == at && kBlockMakers[i].param == param) return kBlockMakers[i].size_param;
  return kNoSize;
}

uint32_t AnswerOwner(const VtApiFunction *fn, uint32_t param) {
  const auto at = static_cast<uint32_t>(fn - kFunctions);
  for (size_t i = 0; i < kOwnedCount; ++i)
    if (kOwned[i].function == at && kOwned[i].param == param) return kOwned[i].owner;
  return kNoOwner;
}

bool StreamCodeParam(const VtApiFunction *fn, uint32_t param, uint32_t *code_param) {
  const auto at = static_cast<uint32_t>(fn - kFunctions);
  for (size_t i = 0; i < kStreamCodeCount; ++i)
    if (kStreamCodes[i].function == at && kStreamCodes[i].value_param == param) {
      *code_param = kStreamCodes[i].code_param;
      return true;
    }
  return false;
}

bool IsStreamCode(const VtApiFunction *fn, uint32_t param, uint32_t code) {
  const auto at = static_cast<uint32_t>(fn - kFunctions);
  for (size_t i = 0; i < kStreamCodeCount; ++i)
    if (kStreamCodes[i].function == at && kStreamCodes[i].value_param == param &&
        kStreamCodes[i].code == code)
      return true;
  return false;
}

}  // namespace vo::api
