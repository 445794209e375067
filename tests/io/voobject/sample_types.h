// An application's own types for the object-file tests and the fuzz
// target: a node {int32 value; string name} (201) and a pair of nodes held
// by reference (200); and the freeing of whatever a reader handed out.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <vector>

#include "kernel/vosystem/kernel.h"

namespace vo::test {

struct Node {
  int32_t value;
  char *name;
};
struct Pair {
  Node *a;
  Node *b;
};
constexpr uint32_t kPair = 200, kNode = 201;

inline VtStatus RegisterNodes() {
  const uint32_t node_types[2] = {VO_OBJECT_INT32, VO_OBJECT_STRING}, node_counts[2] = {1, 1};
  const uint32_t node_offsets[2] = {offsetof(Node, value), offsetof(Node, name)}, versions[2] = {1, 1};
  const uint32_t pair_types[1] = {kNode | VO_OBJECT_REFERENCE}, pair_counts[1] = {2}, pair_offsets[1] = {0};
  return vo::VoDataObjectCreate(kNode, 1, 2, node_types, node_counts, node_offsets, versions, sizeof(Node)) |
         vo::VoDataObjectCreate(kPair, 1, 1, pair_types, pair_counts, pair_offsets, versions, sizeof(Pair));
}

// Frees a value of the type that lies in a block of its own; nodes are
// gathered, as several values may hold one.
inline void BlockFree(uint32_t type, void *block, std::set<Node *> *nodes) {
  if (block == nullptr) return;
  switch (type) {
    case VO_OBJECT_STRING:
    case VO_OBJECT_WIDE_STRING: vo::VoDeallocate(*static_cast<void **>(block)); break;
    case VO_OBJECT_TYPED_VALUE: {
      auto *t = static_cast<VtTypedValue *>(block);
      if (t->type == VtString) vo::VoDeallocate(const_cast<char *>(t->value.s));
      break;
    }
    case kPair: nodes->insert({static_cast<Pair *>(block)->a, static_cast<Pair *>(block)->b}); break;
    case kNode: nodes->insert(static_cast<Node *>(block)); return;
    default: break;
  }
  vo::VoDeallocate(block);
}

// Frees what reading handed out: strings, blocks, and objects held by
// reference (once each, however often they were handed out). The types the
// writer stores by value only are freed as the record's documentation
// gives them, whatever the by-reference flag says: a string is the value
// word itself, a number or vector is in the area and holds nothing, so a
// read that handed out anything else shows as a leak.
inline void ReadFree(const std::vector<VtObjectValue> &read) {
  std::set<Node *> nodes;
  std::map<void *, uint32_t> objects;
  for (const VtObjectValue &v : read) {
    const bool by_value_only = v.type >= VO_OBJECT_INT32 && v.type <= VO_OBJECT_FLOAT4_B && v.type != 8;
    if (v.type == VO_OBJECT_STRING || v.type == VO_OBJECT_WIDE_STRING) {
      vo::VoDeallocate(v.value.p);
    } else if (by_value_only) {
      continue;
    } else if (v.by_reference != 0) {
      objects[v.value.p] = v.type;
    } else if (v.type == VO_OBJECT_TYPED_VALUE || v.type == kPair || v.type == kNode) {
      BlockFree(v.type, v.value.p, &nodes);
    }
  }
  for (const auto &[object, type] : objects) BlockFree(type, object, &nodes);
  for (Node *n : nodes) {
    if (n == nullptr) continue;
    vo::VoDeallocate(n->name);
    vo::VoDeallocate(n);
  }
}

}  // namespace vo::test
