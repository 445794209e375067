// Minimal memory services until the pool system lands: the public allocator
// over the runtime heap and the memory controls' storage.

#include <cstdlib>

#include "vosystem/kernel.h"

namespace vo {

void *VoAllocate(uint32_t size) { return std::malloc(size == 0 ? 1 : size); }
void VoDeallocate(void *block) { std::free(block); }
void *VoMemoryReallocate(void *block, uint32_t size) { return std::realloc(block, size == 0 ? 1 : size); }

void MemoryCallbacksDefault(VtKernelContext *k) {
  k->memory.chunk_bytes = 1016;
  k->memory.big_chunk_bytes = 65528;
  k->memory.compaction = 1;
  k->memory.compact_threshold = 64;
}

VtStatus KernelPoolsMake() {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->memory.pools_made) return 0;
  k->memory.pools_made = 1;
  k->memory.free_chunks = 1;
  return 0;
}

VtStatus KernelMemoryTidy() { return 0; }
VtStatus KernelMemoryShutdown() { return 0; }

VtStatus MemoryControlSet(uint32_t code, const VtTypedValue *v) {
  VtKernelContext *k = Kernel();
  switch (code) {
    case VO_CONTROL_FREE_CHUNKS: k->memory.free_chunks = v->value.u != 0; return 0;
    case VO_CONTROL_CHUNK_SIZE: k->memory.chunk_bytes = v->value.u; return 0;
    case VO_CONTROL_COMPACT_SUBPOOLS: k->memory.compaction = v->value.u != 0; return 0;
    case VO_CONTROL_BIG_CHUNK_SIZE: k->memory.big_chunk_bytes = v->value.u; return 0;
    case VO_CONTROL_COMPACT_THRESHOLD: k->memory.compact_threshold = v->value.u; return 0;
    default: return VO_STATUS_BAD_ARGUMENT;
  }
}

VtStatus MemoryControlGet(uint32_t code, VtTypedValue *v) {
  VtKernelContext *k = Kernel();
  switch (code) {
    case VO_CONTROL_FREE_CHUNKS: *v = TypedBoolean(k->memory.free_chunks != 0); return 0;
    case VO_CONTROL_CHUNK_SIZE: *v = TypedNat32(k->memory.chunk_bytes); return 0;
    case VO_CONTROL_COMPACT_SUBPOOLS: *v = TypedBoolean(k->memory.compaction != 0); return 0;
    case VO_CONTROL_BIG_CHUNK_SIZE: *v = TypedNat32(k->memory.big_chunk_bytes); return 0;
    case VO_CONTROL_COMPACT_THRESHOLD: *v = TypedNat32(k->memory.compact_threshold); return 0;
    default: return VO_STATUS_BAD_ARGUMENT;
  }
}

}  // namespace vo
