// The chunk allocator that stands in for private operating-system heaps.
//
// Every pool chunk comes from one malloc-backed allocator. A heap is only a
// record of which chunks belong to it, so that destroying the heap frees
// them all at once. A chunk may also stand free of any heap (the kernel's
// spare list keeps such chunks) and be attached to another heap later.
// All procedures may be called from any thread.
#pragma once

#include <cstddef>

namespace vo::platform {

struct ChunkHeap;

// A new empty heap, or null when memory runs out.
ChunkHeap *ChunkHeapCreate();
// Frees every chunk still attached to the heap, then the heap. False (and
// nothing done) when the heap is not a live heap of this allocator.
bool ChunkHeapDestroy(ChunkHeap *heap);
// True when the address names a live heap of this allocator.
bool ChunkHeapKnown(const void *heap);
// Number of chunks attached to a live heap (0 for anything else).
size_t ChunkHeapChunks(const ChunkHeap *heap);

// A chunk of the given size attached to the heap, or free-standing when the
// heap is null or not a live heap. Null when memory runs out. Chunks are
// 16-byte aligned.
void *ChunkAllocate(ChunkHeap *heap, size_t bytes);
// Frees a chunk of this allocator, detaching it from its heap first.
void ChunkFree(void *chunk);
// Detaches a chunk from its heap: it stands free until attached or freed.
void ChunkDetach(void *chunk);
// Attaches a free-standing chunk to a live heap; false when the heap is not
// live (the chunk stays free-standing).
bool ChunkAttach(ChunkHeap *heap, void *chunk);

// Chunks of this allocator alive in the process (attached or not).
size_t ChunksLive();
// Their sizes as asked, summed.
size_t ChunkBytesLive();

}  // namespace vo::platform
