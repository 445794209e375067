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

namespace vo {

namespace {
VtStatus MemoryStart() { return 0; }
VtStatus MemoryTerminate() { return 0; }
VtStatus MemoryControlNothing(uint32_t, const VtTypedValue *) { return 0; }
VtStatus MemoryControlGetNothing(uint32_t, VtTypedValue *) { return 0; }
VtStatus MemoryCallback(uint32_t direction, uint32_t code, VtProc *slot) {
  if (direction == 0 && code == 0x110001 && slot != nullptr) {
    *slot = reinterpret_cast<VtProc>(&VoCallBackNull);
    return 0;
  }
  return VO_STATUS_BAD_ARGUMENT;
}
}  // namespace

VtStatus VoEntryMemory(uint32_t query, VtTypedValue *a) {
  if (a == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *a = VtTypedValue{};
  switch (query) {
    case VO_QUERY_CONTROL_SET: *a = TypedFunc(&MemoryControlNothing); break;
    case VO_QUERY_CONTROL_GET: *a = TypedFunc(&MemoryControlGetNothing); break;
    case VO_QUERY_INTERFACE_LEVEL: *a = TypedInt32(VO_INTERFACE_LEVEL); break;
    case VO_QUERY_MODULE_NUMBER: *a = TypedNat32(VO_MODULE_MEMORY); break;
    case VO_QUERY_START: *a = TypedFunc(&MemoryStart); break;
    case VO_QUERY_REGISTRY_NAME: *a = TypedString("vomemman"); break;
    case VO_QUERY_TERMINATE: *a = TypedFunc(&MemoryTerminate); break;
    case VO_QUERY_BANNER: *a = TypedString("mrvx20 memory manager"); break;
    case VO_QUERY_CALLBACK: *a = TypedFunc(&MemoryCallback); break;
    case VO_QUERY_VERSION: *a = TypedNat32(VO_MODULE_VERSION); break;
    case VO_QUERY_BUILD_KIND: *a = TypedString(VO_BUILD_KIND); break;
    case VO_QUERY_BUILD_TIME: *a = TypedNat32(904643035); break;
    case VO_QUERY_OBSOLETE_FLAG: *a = TypedBoolean(false); break;
    default: break;
  }
  return 0;
}

}  // namespace vo
