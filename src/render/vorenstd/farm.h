// What the standard renderer's render on the work farm shares between its
// two files: the sweep and the set-up of scan polygons (farm_setup.cpp),
// and the bands and the calling thread's replay of the serial loop
// (bands.cpp). Private to the module.
//
// Invariants a reader must know:
// - a Farmed record lives on the stack of the render's lines on the farm;
//   the record's `farmed` word names it while workers may read it, and
//   every worker's copy of the record names the same;
// - what the workers write in it (a set-up entry's polygons and status, a
//   chunk's lines, store and blocks) is each worker's own, read by the
//   calling thread only once the pass has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include <vo/vo_multit.h>

#include "render/vorenstd/renderer.h"

namespace vo::renstd {

// A band brings every polygon activated on the kFarmTallLines + 2 lines
// above it to its first line, and of those activated higher only the tall
// ones (renderer.h).
constexpr int32_t kTallLines = kFarmTallLines;

// Scan polygons of the sweep and the set-up come from stores of large
// blocks, taken without a lock and given back whole when the render ends.
constexpr uint32_t kStoreBlockBytes = 1u << 20;
constexpr uint32_t kStoreFirst = 16;  // the block's link, then its polygons

struct Farmed;

struct Store {
  LineSweep sweep;         // first: the sweep's allocate finds the store from it
  Farmed *farmed;          // whose spare blocks it takes first
  uint32_t polygon_bytes;  // the class's scan polygon, rounded up to 16
  uint8_t *block;
  uint32_t used;
  void *blocks;  // every block, linked through its first word
};

// One step of the sweep's order: the polygons the calling thread set up
// since the step before, or a plain primitive the workers set up.
struct SetUpEntry {
  VtPrimitive *primitive;  // null: the calling thread's polygons
  ScanPolygon *made_first;
  int32_t line;
  uint32_t poll;    // the polls its line had made before its activation
  VtStatus status;  // of the primitive's set-up; memory until it has run
};

// Consecutive entries one worker sets up and files: per line, the chunk's
// polygons newest first as a bucket has them (heads, tails), and the tall
// ones among them (linked through tall_next); its store and point blocks.
struct SetUpChunk {
  uint32_t first, end;
  ScanPolygon **lines;  // heads, tails, tall heads, tall tails: height + 1 each
  Store store;
  PointBlock *blocks;
};

// Entries of the set-up are cut into at most this many chunks.
constexpr uint32_t kMostChunks = 64;

// The sticky word's bit that fails an activation for memory.
constexpr uint32_t kStickyNoMemory = 0x4;

// A render on the work farm: what the bands read, and the calling
// thread's line-by-line replay of the serial loop.
struct Farmed {
  RenderFrame *frame;  // the render's, on the calling thread
  uint32_t class_index;
  int32_t lines;     // lines scanned: those above the line whose activation failed
  VtStatus failure;  // of that line's activation
  uint32_t *polls;   // per line: the polls its activation would have made
  // Per line, the tall polygons (on more than kTallLines lines after the
  // one they are activated on) in bucket order, linked through tall_next.
  ScanPolygon **tall;
  // The sweep's order and store, and the chunks of its set-up.
  SetUpEntry *entries;
  uint32_t entry_count, entry_capacity, tasks;
  Store store;
  SetUpChunk chunks[kMostChunks];
  uint32_t chunk_count;
  // Store blocks earlier renders gave back (the master's, taken for the
  // render and handed back with the render's own at its end); workers take
  // them under the lock.
  std::mutex spare_lock;
  void *spares;
  // Shader globals the background's evaluation left, which shading reads.
  float xi, eye[3], direction[3];
  std::atomic<uint64_t> shaded, hits;
  // The calling thread's replay.
  uint32_t countdown;
  double percentage, step;
  int32_t next;     // the line the next row must be
  VtStatus status;  // the status that ended the replay, or 0
  // Set once the replay has ended (an interrupt, a row refused): the bands
  // stop at their next line, as no row of theirs goes out any more.
  std::atomic<bool> ended;
};

inline Farmed *FarmedOf(const VtStandardRendererContext *s) { return static_cast<Farmed *>(s->farmed); }

// ---- farm_setup.cpp ------------------------------------------------------------

// Every line's activation, in line order, without its polls (t.polls gets
// each line's count), plain primitives inside the view left to the
// workers' set-up. The lines before one that failed go to t.lines.
void Sweep(VtStandardRendererContext *s, RenderFrame *f, Farmed &t);
// The set-up of the primitives the sweep left, on the farm, and the
// buckets filled in the serial order.
VtStatus SetUpOnFarm(VtStandardRendererContext *s, RenderFrame *f, Farmed &t);
// Gives back what the set-up made (the buckets emptied of its polygons);
// the stores' blocks join the master's spares.
void SetUpRelease(VtStandardRendererContext *s, RenderFrame *f, Farmed &t);
// Gives back the spare store blocks (a tidy's, the module's end).
void StoreSparesFree(VtStandardRendererContext *s);

// ---- bands.cpp ---------------------------------------------------------------------

// One pass of the farm over the job with the worker given; the rows of the
// image (pixel size, width, height) go to the replay, or there are none.
VtStatus FarmRun(VtStandardRendererContext *s, VtMultiThreadJob *job, VtMultiThreadWorkerProc worker,
                 const uint32_t *image);

}  // namespace vo::renstd
