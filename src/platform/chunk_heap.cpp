// The malloc-backed chunk allocator and its heaps.

#include "platform/chunk_heap.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>

namespace vo::platform {

namespace {

// Each chunk is preceded by its header; 32 bytes keep the chunk 16-aligned.
struct ChunkHeader {
  ChunkHeap *heap;
  ChunkHeader *previous;
  ChunkHeader *next;
  size_t bytes;
};
static_assert(sizeof(ChunkHeader) % 16 == 0);

ChunkHeader *HeaderOf(void *chunk) { return static_cast<ChunkHeader *>(chunk) - 1; }
void *ChunkOf(ChunkHeader *h) { return h + 1; }

}  // namespace

struct ChunkHeap {
  ChunkHeader *first;
  size_t chunks;
};

namespace {

struct Allocator {
  std::mutex mutex;
  std::unordered_set<const void *> heaps;
  size_t live = 0;
  size_t live_bytes = 0;  // the chunks' own bytes, headers left out
};

Allocator &State() {
  // Never destroyed: pools may be disposed of by static destructors. It
  // lives in the library's own storage, not on the heap, and gives back its
  // table when the last heap goes (ChunkHeapDestroy), so that a library
  // unloaded after VoTerminate leaves no memory behind.
  alignas(Allocator) static unsigned char storage[sizeof(Allocator)];
  static Allocator *a = new (storage) Allocator;
  return *a;
}

// True when the address names a live heap (the allocator's mutex is held).
bool Live(const Allocator &a, const void *heap) { return heap != nullptr && a.heaps.count(heap) != 0; }

void Link(ChunkHeap *heap, ChunkHeader *h) {
  h->heap = heap;
  h->previous = nullptr;
  h->next = heap->first;
  if (heap->first) heap->first->previous = h;
  heap->first = h;
  ++heap->chunks;
}

void Unlink(ChunkHeader *h) {
  ChunkHeap *heap = h->heap;
  if (heap == nullptr) return;
  if (h->previous)
    h->previous->next = h->next;
  else
    heap->first = h->next;
  if (h->next) h->next->previous = h->previous;
  --heap->chunks;
  h->heap = nullptr;
  h->previous = h->next = nullptr;
}

}  // namespace

ChunkHeap *ChunkHeapCreate() {
  auto *heap = static_cast<ChunkHeap *>(std::malloc(sizeof(ChunkHeap)));
  if (heap == nullptr) return nullptr;
  heap->first = nullptr;
  heap->chunks = 0;
  Allocator &a = State();
  std::lock_guard<std::mutex> guard(a.mutex);
  try {
    a.heaps.insert(heap);
  } catch (const std::bad_alloc &) {
    std::free(heap);
    return nullptr;
  }
  return heap;
}

bool ChunkHeapDestroy(ChunkHeap *heap) {
  Allocator &a = State();
  std::lock_guard<std::mutex> guard(a.mutex);
  if (heap == nullptr || a.heaps.erase(heap) == 0) return false;
  if (a.heaps.empty()) std::unordered_set<const void *>().swap(a.heaps);  // an empty set holds no memory
  for (ChunkHeader *h = heap->first; h != nullptr;) {
    ChunkHeader *next = h->next;
    a.live_bytes -= h->bytes;
    std::free(h);
    --a.live;
    h = next;
  }
  std::free(heap);
  return true;
}

bool ChunkHeapKnown(const void *heap) {
  Allocator &a = State();
  std::lock_guard<std::mutex> guard(a.mutex);
  return Live(a, heap);
}

size_t ChunkHeapChunks(const ChunkHeap *heap) {
  Allocator &a = State();
  std::lock_guard<std::mutex> guard(a.mutex);
  return Live(a, heap) ? heap->chunks : 0;
}

void *ChunkAllocate(ChunkHeap *heap, size_t bytes) {
  if (bytes > SIZE_MAX - sizeof(ChunkHeader)) return nullptr;
  auto *h = static_cast<ChunkHeader *>(std::malloc(sizeof(ChunkHeader) + bytes));
  if (h == nullptr) return nullptr;
  h->heap = nullptr;
  h->previous = h->next = nullptr;
  h->bytes = bytes;
  Allocator &a = State();
  std::lock_guard<std::mutex> guard(a.mutex);
  ++a.live;
  a.live_bytes += bytes;
  if (Live(a, heap)) Link(heap, h);
  return ChunkOf(h);
}

void ChunkFree(void *chunk) {
  if (chunk == nullptr) return;
  ChunkHeader *h = HeaderOf(chunk);
  Allocator &a = State();
  {
    std::lock_guard<std::mutex> guard(a.mutex);
    Unlink(h);
    --a.live;
    a.live_bytes -= h->bytes;
  }
  std::free(h);
}

void ChunkDetach(void *chunk) {
  if (chunk == nullptr) return;
  Allocator &a = State();
  std::lock_guard<std::mutex> guard(a.mutex);
  Unlink(HeaderOf(chunk));
}

bool ChunkAttach(ChunkHeap *heap, void *chunk) {
  if (chunk == nullptr) return false;
  Allocator &a = State();
  std::lock_guard<std::mutex> guard(a.mutex);
  if (!Live(a, heap)) return false;
  ChunkHeader *h = HeaderOf(chunk);
  Unlink(h);
  Link(heap, h);
  return true;
}

size_t ChunksLive() {
  Allocator &a = State();
  std::lock_guard<std::mutex> guard(a.mutex);
  return a.live;
}

size_t ChunkBytesLive() {
  Allocator &a = State();
  std::lock_guard<std::mutex> guard(a.mutex);
  return a.live_bytes;
}

}  // namespace vo::platform
