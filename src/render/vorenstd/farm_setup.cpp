// The sweep and the set-up of a render on the work farm: the calling
// thread activates every line in line order and hands each plain primitive
// inside the view to the workers, which set it up (cull, project, scan
// polygons: records of that primitive alone, so each has one writer) in
// chunks of consecutive entries, filing every polygon per line; the
// calling thread joins the chunks' lines into the render's buckets.
//
// Invariants a reader must know:
// - the buckets end up as the serial loop files them: the entries in sweep
//   order, a chunk filed newest first on its worker, the chunks joined
//   later in front;
// - the scan polygons of the sweep and the set-up come from stores of
//   large blocks, taken without a lock and given back whole when the
//   render ends; none is given back one by one. The blocks are kept for
//   the next render (which writes them again instead of memory the system
//   must fault in) until an application's memory tidy.

#include <algorithm>
#include <cstring>

#include "render/vorenstd/farm.h"
#include "kernel/vosystem/face.h"
#include "scene/voview/face.h"

namespace vo::renstd {

namespace {

// A block of kStoreBlockBytes: a spare one, else new.
uint8_t *StoreBlockTake(Farmed &t) {
  {
    std::lock_guard<std::mutex> hold(t.spare_lock);
    if (void *block = t.spares) {
      t.spares = *static_cast<void **>(block);
      return static_cast<uint8_t *>(block);
    }
  }
  return static_cast<uint8_t *>(VoAllocate(kStoreBlockBytes));
}

ScanPolygon *StoreTake(LineSweep *sweep) {
  Store &store = *reinterpret_cast<Store *>(sweep);
  const uint32_t size = store.polygon_bytes;
  if (store.block == nullptr || store.used + size > kStoreBlockBytes) {
    uint8_t *block = StoreBlockTake(*store.farmed);
    if (block == nullptr) return nullptr;
    *reinterpret_cast<void **>(block) = store.blocks;
    store.blocks = block;
    store.block = block;
    store.used = kStoreFirst;
  }
  auto *q = reinterpret_cast<ScanPolygon *>(store.block + store.used);
  store.used += size;
  return q;
}

uint32_t PolygonBytes(const VtRenderClass *cls) {
  return (std::max<uint32_t>(cls->polygon_size, sizeof(ScanPolygon)) + 15) & ~15u;
}

// The store's blocks onto the spares.
void StoreGiveBack(Store &store, void *&spares) {
  while (void *block = store.blocks) {
    store.blocks = *static_cast<void **>(block);
    *static_cast<void **>(block) = spares;
    spares = block;
  }
  store.block = nullptr;
}

// ---- The sweep and the set-up --------------------------------------------------

// A plain primitive whose set-up writes only its own records: its contents
// hold what activation writes, and it lies inside the view (activation
// clips nothing, making no vertex).
bool Deferrable(VtPrimitive *p) {
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  if (type < VO_PRIMITIVE_POLYGON || type > VO_PRIMITIVE_MESH_SHARED) return false;
  for (uint32_t code : {VO_VERT_SCREEN, VO_POLY_VREFSCLIP, VO_POLY_PLANE})
    if (PropertyOffset(p->contents, code) < 0) return false;
  VtBounds b{};
  uint32_t rect[4];
  return VoPrimitiveGetBounds(p, &b) == 0 && VoViewProjectBounds(&b, rect) == VO_CLIP_INSIDE;
}

bool EntriesRoom(Farmed &t, uint32_t more) {
  if (t.entry_count + more <= t.entry_capacity) return true;
  const uint64_t capacity = std::max<uint64_t>(256, 2 * uint64_t{t.entry_capacity});
  if (capacity * sizeof(SetUpEntry) > UINT32_MAX) return false;
  auto *grown = static_cast<SetUpEntry *>(VoAllocate(static_cast<uint32_t>(capacity * sizeof(SetUpEntry))));
  if (grown == nullptr) return false;
  if (t.entry_count != 0) std::memcpy(grown, t.entries, t.entry_count * sizeof(SetUpEntry));
  VoDeallocate(t.entries);
  t.entries = grown;
  t.entry_capacity = static_cast<uint32_t>(capacity);
  return true;
}

// The calling thread's polygons since the last entry become one (room for
// it was made with the entry before).
void CallingEntryClose(Farmed &t, LineSweep *sweep) {
  if (sweep->made_first == nullptr) return;
  t.entries[t.entry_count++] = SetUpEntry{nullptr, sweep->made_first, sweep->line, sweep->polls, 0};
  sweep->made_first = sweep->made_last = nullptr;
}

bool Defer(LineSweep *sweep, VtPrimitive *p) {
  Farmed &t = *static_cast<Farmed *>(sweep->owner);
  if (!Deferrable(p)) return false;
  // Without room for its entry the activation fails for memory.
  if (!EntriesRoom(t, 3)) {
    VtStandardRendererContext *s = State();
    if (s->sticky != nullptr) *s->sticky |= kStickyNoMemory;
    return false;
  }
  CallingEntryClose(t, sweep);
  t.entries[t.entry_count++] = SetUpEntry{p, nullptr, sweep->line, sweep->polls, VO_STATUS_NO_MEMORY};
  ++t.tasks;
  return true;
}

// The set-up frame of a chunk: the render's values, scratch and point
// blocks of its own.
void SetUpFrameMake(RenderFrame *c, const RenderFrame *f) {
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  c->cls = f->cls;
  c->execute_code = f->execute_code;
  c->xres = f->xres, c->yres = f->yres, c->xmin = f->xmin, c->ymin = f->ymin;
  c->width = f->width, c->height = f->height;
  c->first_y = f->first_y, c->line_step = f->line_step;
  c->perspective = f->perspective;
  c->centres_only = f->centres_only;
  std::memcpy(c->clip, f->clip, sizeof c->clip);
  c->contents = f->contents;
}

// Files an entry's polygons into the chunk's lines, each in front of those
// filed before it, as a bucket takes them.
void ChunkFile(SetUpChunk &c, int32_t height, ScanPolygon *q) {
  const size_t lines = static_cast<size_t>(height) + 1;
  ScanPolygon **heads = c.lines, **tails = heads + lines, **tall_heads = tails + lines,
              **tall_tails = tall_heads + lines;
  while (q != nullptr) {
    ScanPolygon *next = q->next;
    const int32_t i = q->sweep_line;
    q->next = heads[i];
    heads[i] = q;
    if (tails[i] == nullptr) tails[i] = q;
    q->tall_next = nullptr;
    if (int64_t{q->last_line} - i > kTallLines) {
      q->tall_next = tall_heads[i];
      tall_heads[i] = q;
      if (tall_tails[i] == nullptr) tall_tails[i] = q;
    }
    q = next;
  }
}

// Sets up the chunk's primitives and files every polygon of its entries.
void ChunkRun(Farmed &t, SetUpChunk &chunk) {
  VtStandardRendererContext *s = State();
  const RenderFrame *f = t.frame;
  const size_t bytes = 4 * (static_cast<size_t>(f->height) + 1) * sizeof(ScanPolygon *);
  chunk.lines =
      bytes <= UINT32_MAX ? static_cast<ScanPolygon **>(VoAllocate(static_cast<uint32_t>(bytes))) : nullptr;
  if (chunk.lines == nullptr) return;  // its first entry fails for memory
  std::memset(static_cast<void *>(chunk.lines), 0, bytes);
  RenderFrame frame;
  SetUpFrameMake(&frame, f);
  RenderFrame *const outer = s->frame;
  s->frame = &frame;
  chunk.store.polygon_bytes = PolygonBytes(f->cls);
  chunk.store.farmed = &t;
  LineSweep &sweep = chunk.store.sweep;
  for (uint32_t k = chunk.first; k < chunk.end; ++k) {
    SetUpEntry &e = t.entries[k];
    if (e.primitive != nullptr) {
      sweep = LineSweep{};
      sweep.line = e.line;
      sweep.on_worker = true;
      sweep.allocate = &StoreTake;
      frame.sweep = &sweep;
      e.status = PlainPrimitiveActivate(e.primitive) | sweep.status;
      e.made_first = sweep.made_first;
    }
    ChunkFile(chunk, f->height, e.made_first);
  }
  s->frame = outer;
  chunk.blocks = frame.point_blocks;
  VoDeallocate(frame.scratch);
}

VtStatus SetUpWork(int32_t, const VtMultiThreadItem *item, void *) {
  Farmed &t = *FarmedOf(State());
  // The view of this context, which culling and projection read.
  if (const VtStatus st = VoViewEvaluate(nullptr)) return st;
  for (uint32_t c = item->y0; c <= item->y1 && c < t.chunk_count; ++c) ChunkRun(t, t.chunks[c]);
  return 0;
}

VtStatus SetUpWorker(void *) {
  VtStatus st = VoMultiThreadWorkerBegin();
  if (st == 0) st = VoMultiThreadWorkerLoop(&SetUpWork, nullptr);
  return VoMultiThreadWorkerEnd(st) | st;
}

// The entries cut into chunks of about as many primitives each (one chunk
// of the calling thread's polygons alone when there is none).
void ChunksMake(Farmed &t) {
  const uint32_t count = std::max(1u, std::min(kMostChunks, t.tasks));
  const uint32_t each = std::max(1u, (t.tasks + count - 1) / count);
  uint32_t k = 0;
  t.chunk_count = 0;
  while (k < t.entry_count && t.chunk_count < kMostChunks) {
    SetUpChunk &c = t.chunks[t.chunk_count++];
    c = SetUpChunk{};
    c.first = k;
    for (uint32_t in = 0; k < t.entry_count && (in < each || t.entries[k].primitive == nullptr); ++k)
      if (t.entries[k].primitive != nullptr) ++in;
    c.end = k;
  }
  if (t.chunk_count != 0) t.chunks[t.chunk_count - 1].end = t.entry_count;
}

// The chunks' lines joined into the render's buckets and tall lists, the
// later chunk's polygons in front; the first entry whose set-up failed
// (or whose chunk had no room to file) ends the lines there, as its
// activation would have.
void SetUpMerge(RenderFrame *f, Farmed &t) {
  const size_t lines = static_cast<size_t>(f->height) + 1;
  for (size_t i = 0; i < lines; ++i) {
    ScanPolygon *head = nullptr, *tall = nullptr;
    for (uint32_t c = 0; c < t.chunk_count; ++c) {
      ScanPolygon **at = t.chunks[c].lines;
      if (at == nullptr) continue;
      if (at[i] != nullptr) at[lines + i]->next = head, head = at[i];
      if (at[2 * lines + i] != nullptr) at[3 * lines + i]->tall_next = tall, tall = at[2 * lines + i];
    }
    f->polygon_buckets[i] = head;
    t.tall[i] = tall;
  }
  for (uint32_t c = 0; c < t.chunk_count; ++c) {
    SetUpChunk &chunk = t.chunks[c];
    PointBlocksAdopt(f, chunk.blocks);
    chunk.blocks = nullptr;
    if (chunk.lines == nullptr && chunk.first < chunk.end && t.entries[chunk.first].status == 0)
      t.entries[chunk.first].status = VO_STATUS_NO_MEMORY;
  }
  for (uint32_t k = 0; k < t.entry_count; ++k) {
    const SetUpEntry &e = t.entries[k];
    if (e.status == 0) continue;
    t.lines = std::min(t.lines, e.line);
    t.failure = e.status;
    t.polls[e.line] = e.poll;
    break;
  }
}

}  // namespace

// Every line's activation, in line order, without its polls (t.polls gets
// each line's count), plain primitives inside the view left to the
// workers' set-up. The lines before one that failed go to t.lines.
void Sweep(VtStandardRendererContext *s, RenderFrame *f, Farmed &t) {
  t.store.polygon_bytes = PolygonBytes(f->cls);
  t.store.farmed = &t;
  LineSweep &sweep = t.store.sweep;
  sweep = LineSweep{};
  sweep.defer = &Defer;
  sweep.allocate = &StoreTake;
  sweep.owner = &t;
  f->sweep = &sweep;
  *s->g_yi = f->first_y;
  VtStatus st = 0;
  int32_t i = 0;
  for (; i < f->height; ++i) {
    sweep.line = i;
    sweep.polls = 0;
    *s->g_yp = static_cast<float>(i + f->ymin);
    st = ActivateLine(s, f, i);
    t.polls[i] = sweep.polls;
    if (st != 0) break;
    *s->g_yi += f->line_step;
  }
  f->sweep = nullptr;
  t.lines = i;
  t.failure = st;
  // Polygons set up after the last entry, kept however the sweep ended.
  if (sweep.made_first != nullptr && !EntriesRoom(t, 1)) {
    t.lines = std::min(t.lines, sweep.made_first->sweep_line);
    t.failure = VO_STATUS_NO_MEMORY;
    sweep.made_first = nullptr;
  }
  CallingEntryClose(t, &sweep);
  *s->g_yi = f->first_y;
}

// Gives back what the set-up made: the buckets emptied of its polygons
// (the stores hold them all), the stores (their blocks, and the spares no
// store took, to the master's spares), the chunks' lines.
void SetUpRelease(VtStandardRendererContext *s, RenderFrame *f, Farmed &t) {
  for (int32_t i = 0; i <= f->height; ++i) f->polygon_buckets[i] = nullptr;
  StoreGiveBack(t.store, t.spares);
  for (uint32_t c = 0; c < t.chunk_count; ++c) {
    StoreGiveBack(t.chunks[c].store, t.spares);
    VoDeallocate(t.chunks[c].lines);
  }
  s->store_spares = t.spares;
  t.spares = nullptr;
}

void StoreSparesFree(VtStandardRendererContext *s) {
  while (void *block = s->store_spares) {
    s->store_spares = *static_cast<void **>(block);
    VoDeallocate(block);
  }
}

// The set-up of the primitives the sweep left, on the farm over chunks of
// them (or here, with none), filing the polygons of every entry; then
// joined as the sweep's order has them.
VtStatus SetUpOnFarm(VtStandardRendererContext *s, RenderFrame *f, Farmed &t) {
  const size_t lines = static_cast<size_t>(f->height) + 1;
  t.tall = static_cast<ScanPolygon **>(VoAllocate(static_cast<uint32_t>(lines * sizeof(ScanPolygon *))));
  if (t.tall == nullptr) return VO_STATUS_NO_MEMORY;
  ChunksMake(t);
  if (t.tasks == 0) {
    for (uint32_t c = 0; c < t.chunk_count; ++c) ChunkRun(t, t.chunks[c]);
  } else {
    const uint32_t chunks[4] = {0, 0, 0, t.chunk_count - 1};
    VtMultiThreadJob *job = VoMultiThreadJobCreateEven(chunks);
    // Without its job or its pass, the primitives not set up fail below
    // for memory, as their activation would have.
    if (job != nullptr) {
      (void)FarmRun(s, job, &SetUpWorker, nullptr);
      (void)VoMultiThreadJobDestroy(job);
    }
  }
  SetUpMerge(f, t);
  return 0;
}

}  // namespace vo::renstd
