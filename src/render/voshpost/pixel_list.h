// Pixel lists: 48-byte records attached to image pixels, grouped by rows
// into horizontal runs and by neighbourhood into regions, walked region by
// region. The first 40 bytes of an entry are the user's; the last word is
// the list's link to the next entry of the same pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_kernel.h>
#include <vo/vo_types.h>

namespace vo::post {

struct PixelRegion;
struct PixelRun;

struct PixelListEntry {
  unsigned char user[40];
  PixelListEntry *next;  // the next entry of the same pixel (owned by the list)
};
static_assert(sizeof(PixelListEntry) == 48 && offsetof(PixelListEntry, next) == 40);

// A light source of the lens flares: the entry's user bytes.
struct VtFlareSource {
  float colour[3];
  float mean;
  double depth, x, y;
};
static_assert(sizeof(VtFlareSource) == 40 && offsetof(VtFlareSource, depth) == 16);

// The check word of a live pixel list.
constexpr uint32_t kPixelListLive = 0x91c5e15f;

}  // namespace vo::post

// The list and its iterator (handles of the interface).
struct VtPixelList {
  vo::post::PixelRegion *first;  // the newest region
  vo::post::PixelRegion *current;
  vo::post::PixelRun *run;     // the current run
  vo::post::PixelRun *newest;  // every run, newest first (the join's search)
  int64_t lastRow;             // the row of the newest run
  uint32_t unordered;          // a run was made on a row above an earlier run's
  VtPool *regions, *runs, *entries;
  // The module's register of live lists (the terminate gives back what is
  // left on it); a list made while the module is not started is on none.
  VtPixelList *older_live, *newer_live;
  uint32_t enlisted;
  uint32_t check;  // vo::post::kPixelListLive from creation to destroy (in what was padding)
};

struct VtPixelListIterator {
  vo::post::PixelRegion *first;
  vo::post::PixelRegion *region;
  vo::post::PixelRun *run;
  uint32_t slot;
  vo::post::PixelListEntry *entry;  // the next entry of the current pixel
  VtPixelList *list;
};
