// Pixel lists. An entry added at (x, y) extends the current run when it
// lies just right of (or on) the run's last column; otherwise it opens a run
// that joins the region of the newest run on row y - 1 overlapping columns
// x - 1 .. x + 1 (eight-connected), or a new region. Regions never merge.
// List records come from a keeper of their own and never go back to the
// heap, so the per-pixel procedures read a destroyed list's check word
// safely. An entry is taken only by the list that made it, judged by its
// address among the list's chunks.

#include "render/voshpost/pixel_list.h"

#include <cstring>

#include "kernel/vosystem/face.h"
#include "render/voshpost/postprocess.h"

namespace vo::post {

struct PixelRegion {
  uint32_t number;
  int32_t low, high;  // rows; set by the first run
  PixelRun *runs;     // newest first
  PixelRegion *next;  // the region opened before
};

struct PixelRun {
  int32_t row, first, last;
  uint32_t capacity;
  PixelListEntry **slots;  // one chain per column from the first
  PixelRun *next;          // the next run of the region
  PixelRun *older;         // the run made before (any region)
  PixelRegion *region;
};

namespace {

constexpr uint32_t kRegionTag = 0x440003, kRunTag = 0x440004, kEntryTag = 0x440005;

using ListRecords = RecordKeeper<VtPixelList>;

// A list argument of the per-pixel procedures that is no live list (one
// destroyed, or a record of another kind): its check word is all they read,
// and only once the address is known to be a list record.
bool ListRefused(const VtPixelList *list, const char *procedure) {
  if (ListRecords::Get().Made(list) && list->check == kPixelListLive) [[likely]]
    return false;
  Post(kRefused, messages::kObjectNotLive, VO_MODULE_POSTPROCESS, procedure, static_cast<const void *>(list),
       "pixel list");
  return true;
}

// The end of a pixel's chain: an attached entry never has a null link, so
// an entry added a second time (which would make its chain a loop) is
// refused.
PixelListEntry g_chainEnd{};
PixelListEntry *const kEnd = &g_chainEnd;

// Puts the entry on column x of the run, growing its slots geometrically.
VtStatus Put(PixelRun *run, int32_t x, PixelListEntry *entry) {
  const int64_t index = static_cast<int64_t>(x) - run->first;
  if (index >= static_cast<int64_t>(run->capacity)) {
    int64_t want = run->capacity < 4 ? 4 : 2 * static_cast<int64_t>(run->capacity);
    if (want < index + 1) want = index + 1;
    if (want > (int64_t{1} << 28)) return kNoMemory;
    auto *grown = static_cast<PixelListEntry **>(VoAllocate(static_cast<uint32_t>(want * sizeof(void *))));
    if (grown == nullptr) return kNoMemory;
    if (run->slots != nullptr) std::memcpy(grown, run->slots, run->capacity * sizeof(void *));
    std::memset(grown + run->capacity, 0, (want - run->capacity) * sizeof(void *));
    VoDeallocate(run->slots);
    run->slots = grown;
    run->capacity = static_cast<uint32_t>(want);
  }
  entry->next = run->slots[index] != nullptr ? run->slots[index] : kEnd;
  run->slots[index] = entry;
  if (x > run->last) run->last = x;
  return 0;
}

// The region of the newest run on row y - 1 overlapping columns x - 1 ..
// x + 1, or null. While runs are made in row order the search ends at the
// first run above row y - 1.
PixelRegion *Neighbour(const VtPixelList *list, int32_t x, int32_t y) {
  const int64_t above = static_cast<int64_t>(y) - 1, left = static_cast<int64_t>(x) - 1,
                right = static_cast<int64_t>(x) + 1;
  for (const PixelRun *r = list->newest; r != nullptr; r = r->older) {
    if (r->row == above && r->first <= right && r->last >= left) return r->region;
    if (list->unordered == 0 && r->row < above) break;
  }
  return nullptr;
}

// The master context whose register holds the module's lists, or null.
VtPostprocessContext *Registrar() {
  VtPostprocessContext *c = State();
  return c != nullptr ? c->master : nullptr;
}

void Enlist(VtPixelList *list) {
  VtPostprocessContext *m = Registrar();
  if (m == nullptr) return;
  RegisterGuard hold;
  list->older_live = m->live_lists;
  if (m->live_lists != nullptr) m->live_lists->newer_live = list;
  m->live_lists = list;
  list->enlisted = 1;
}

void Delist(VtPixelList *list) {
  if (list->enlisted == 0) return;
  VtPostprocessContext *m = Registrar();
  if (m == nullptr) return;
  RegisterGuard hold;
  if (list->newer_live != nullptr) list->newer_live->older_live = list->older_live;
  if (list->older_live != nullptr) list->older_live->newer_live = list->newer_live;
  if (m->live_lists == list) m->live_lists = list->older_live;
  list->enlisted = 0;
}

// False for a list the module's register does not hold while it holds
// lists: one destroyed already, or a record of another kind. Only
// addresses are compared, so a destroyed list's freed record is never read.
bool Registered(const VtPixelList *list) {
  VtPostprocessContext *m = Registrar();
  if (m == nullptr) return true;
  RegisterGuard hold;
  for (const VtPixelList *l = m->live_lists; l != nullptr; l = l->older_live)
    if (l == list) return true;
  return false;
}

__attribute__((destructor)) void ListRecordsFree() { ListRecords::Free(); }

// Frees the list and everything it made; the list is off the register.
void ListFree(VtPixelList *list) {
  for (PixelRun *r = list->newest; r != nullptr; r = r->older) VoDeallocate(r->slots);
  if (list->regions != nullptr) (void)VoPoolDispose(list->regions);
  if (list->runs != nullptr) (void)VoPoolDispose(list->runs);
  if (list->entries != nullptr) (void)VoPoolDispose(list->entries);
  ListRecords::Get().Keep(list);
}

}  // namespace

void PixelListsGiveBack(VtPostprocessContext *master) {
  while (master->live_lists != nullptr) (void)VoPixelListDestroy(master->live_lists);
}

}  // namespace vo::post

namespace vo {

using post::PixelListEntry;
using post::PixelRegion;
using post::PixelRun;

VtPixelList *VoPixelListCreate() {
  // Before start there are no pools to make, and the destroy below would
  // not free a record made then.
  if (LibraryStopped()) return nullptr;
  VtPixelList *list = post::ListRecords::Get().Take();
  if (list == nullptr) return nullptr;
  list->check = post::kPixelListLive;
  list->regions = VoPoolCreate(post::kRegionTag, sizeof(PixelRegion));
  list->runs = VoPoolCreate(post::kRunTag, sizeof(PixelRun));
  list->entries = VoPoolCreate(post::kEntryTag, sizeof(PixelListEntry));
  if (list->regions == nullptr || list->runs == nullptr || list->entries == nullptr) {
    // Not on the register yet, so the destroy would refuse it.
    post::ListFree(list);
    return nullptr;
  }
  post::Enlist(list);
  return list;
}

VtStatus VoPixelListDestroy(VtPixelList *list) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  if (list == nullptr) return 0;
  if (!post::Registered(list)) {
    Post(post::kRefused, messages::kObjectNotLive, VO_MODULE_POSTPROCESS, "VoPixelListDestroy",
         static_cast<const void *>(list), "pixel list");
    return post::kRefused;
  }
  post::Delist(list);
  post::ListFree(list);
  return 0;
}

void *VoPixelListEntryNew(VtPixelList *list) {
  if (list == nullptr || post::ListRefused(list, "VoPixelListEntryNew")) return nullptr;
  auto *e = static_cast<PixelListEntry *>(VoPoolAllocate(list->entries));
  if (e != nullptr) e->next = nullptr;
  return e;
}

VtStatus VoPixelListAdd(VtPixelList *list, int32_t x, int32_t y, void *entry) {
  if (list == nullptr || entry == nullptr || post::ListRefused(list, "VoPixelListAdd")) return post::kRefused;
  // Only an entry of this list: one of a list destroyed went back to the
  // heap with it, and one of another list is that list's to free. Its
  // address is matched with the list's chunks (the newest first, where an
  // entry just made lies) before anything at it is read.
  if (!PoolBlockLive(list->entries, entry)) {
    Post(post::kRefused, messages::kObjectNotLive, VO_MODULE_POSTPROCESS, "VoPixelListAdd", entry,
         "entry of the pixel list given");
    return post::kRefused;
  }
  auto *e = static_cast<PixelListEntry *>(entry);
  if (e->next != nullptr) return post::kRefused;  // already attached
  PixelRun *run = list->run;
  if (run != nullptr && run->row == y && (static_cast<int64_t>(run->last) + 1 == x || run->last == x))
    return post::Put(run, x, e);
  PixelRegion *region = post::Neighbour(list, x, y);
  auto *made = static_cast<PixelRun *>(VoPoolAllocate(list->runs));
  if (made == nullptr) return post::kNoMemory;
  *made = PixelRun{y, x, x, 0, nullptr, nullptr, list->newest, nullptr};
  if (const VtStatus st = post::Put(made, x, e)) {
    (void)VoPoolFree(list->runs, made);
    return st;
  }
  if (region == nullptr) {
    region = static_cast<PixelRegion *>(VoPoolAllocate(list->regions));
    if (region == nullptr) {
      VoDeallocate(made->slots);
      (void)VoPoolFree(list->runs, made);
      return post::kNoMemory;
    }
    *region = PixelRegion{list->first != nullptr ? list->first->number + 1 : 0, y, y, nullptr, list->first};
    list->first = region;
  }
  if (region->runs == nullptr) {
    region->low = region->high = y;
  } else {
    if (y < region->low) region->low = y;
    if (y > region->high) region->high = y;
  }
  made->region = region;
  made->next = region->runs;
  region->runs = made;
  if (list->newest != nullptr && y < list->lastRow) list->unordered = 1;
  list->newest = made;
  list->lastRow = y;
  list->current = region;
  list->run = made;
  return 0;
}

VtPixelListIterator *VoPixelListIteratorCreate(VtPixelList *list) {
  if (list != nullptr && !post::Registered(list)) {
    Post(post::kRefused, messages::kObjectNotLive, VO_MODULE_POSTPROCESS, "VoPixelListIteratorCreate",
         static_cast<const void *>(list), "pixel list");
    return nullptr;
  }
  auto *it = static_cast<VtPixelListIterator *>(VoAllocate(sizeof(VtPixelListIterator)));
  if (it == nullptr) return nullptr;
  std::memset(it, 0, sizeof *it);
  it->list = list;
  (void)VoPixelListIteratorReset(it);
  return it;
}

VtStatus VoPixelListIteratorReset(VtPixelListIterator *it) {
  if (it == nullptr) return 2;
  it->first = it->list != nullptr ? it->list->first : nullptr;
  it->region = it->first;
  it->run = it->region != nullptr ? it->region->runs : nullptr;
  it->slot = 0;
  it->entry = it->run != nullptr ? it->run->slots[0] : nullptr;
  return 0;
}

VtStatus VoPixelListNext(VtPixelListIterator *it, int32_t *x, int32_t *y, void **entry, uint32_t *region) {
  if (it == nullptr) return post::kRefused;
  while (it->region != nullptr) {
    while (it->run != nullptr) {
      PixelRun *run = it->run;
      const uint32_t width = static_cast<uint32_t>(static_cast<int64_t>(run->last) - run->first + 1);
      while (it->slot < width) {
        if (PixelListEntry *e = it->entry) {
          it->entry = e->next != post::kEnd ? e->next : nullptr;
          if (x != nullptr) *x = static_cast<int32_t>(run->first + static_cast<int64_t>(it->slot));
          if (y != nullptr) *y = run->row;
          if (entry != nullptr) *entry = e;
          if (region != nullptr) *region = it->region->number;
          return 0;
        }
        if (++it->slot < width) it->entry = run->slots[it->slot];
      }
      it->run = run->next;
      it->slot = 0;
      it->entry = it->run != nullptr ? it->run->slots[0] : nullptr;
    }
    it->region = it->region->next;
    it->run = it->region != nullptr ? it->region->runs : nullptr;
    it->slot = 0;
    it->entry = it->run != nullptr ? it->run->slots[0] : nullptr;
  }
  return 2;
}

}  // namespace vo
