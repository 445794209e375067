// The hash table record: keys and values are pointer-sized words.
#pragma once

#include <cstdint>

#include "kernel/vosystem/kernel.h"

struct VtHashEntry {
  uintptr_t key;
  uintptr_t value;
  VtHashEntry *next;
};

struct VtHashTable {
  uint32_t bucket_count;
  uint32_t check;  // kHashTableLive from creation to destroy (in what was padding)
  VtHashEntry **buckets;
  uint32_t walk_bucket;    // the bucket of walk_next
  VtHashEntry *walk_next;  // the entry the next step of a walk answers
};
