// An edge's split list (its cuts, sorted, from 0.0 to 1.0) and the log of
// cuts stage 3 gathers before it puts them on the lists, so that an edge
// crossed k times costs O(k log k) rather than a walk of its list per cut.
//
// Invariants a reader must know:
// - a cut within tol(s, t) = (|s| + |t| + 1) x kSplitTolerance of a cut s
//   already listed is dropped, so which cuts a list keeps depends on the
//   order they came in: the log keeps that order and its resolution keeps
//   exactly the cuts that inserting them one by one would keep;
// - only a listed cut's nearest neighbours decide: a cut s below t is
//   nearer t than any listed below s, within a tolerance at least as
//   large, so t near some cut below means t near the greatest one below;
//   insertion one by one checks every cut below t and the first above;
// - a list holds its 0.0 and 1.0 from start to end, so a cut near either
//   is dropped as it is logged, whatever came before it;
// - a cut that is not a number goes to the head of its list at once, in
//   front of the 0.0 entry (where inserting it one by one puts it), and
//   decides nothing about other cuts;
// - a list that is not the 0.0 -> 1.0 of a new candidate when its cuts are
//   resolved takes them one by one (in their order), as it would have.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>

#include "render/vorenhid/hidden_line.h"

namespace vo::hid {

namespace {

double Tol(double u, double v) { return (std::fabs(u) + std::fabs(v) + 1) * kSplitTolerance; }

// The listed cut e keeps t off the list (e and t floats as stored, their
// difference rounded as a float).
bool Near(float e, float t) { return std::fabs(e - t) <= Tol(e, t); }

// A set of positions 0..n-1 in words of 64 bits, each level a summary of
// the words below it, so that the nearest member on either side of a
// position is found in a few words whatever n is.
class RankSet {
 public:
  static constexpr int kLevels = 6;  // 64^6 positions: more than a list can hold

  // Words for a set of n positions, all levels.
  static size_t WordsFor(uint32_t n) {
    size_t words = 0;
    for (size_t at = n; at > 1;) {
      at = (at + 63) / 64;
      words += at;
    }
    return std::max<size_t>(words, 1);
  }

  // Clears the set over the block of WordsFor(n) words.
  RankSet(uint64_t *block, uint32_t n) {
    size_t at = n;
    uint64_t *level = block;
    do {
      at = (at + 63) / 64;
      words_[levels_] = level;
      ++levels_;
      level += at;
    } while (at > 1 && levels_ < kLevels);
    std::memset(block, 0, static_cast<size_t>(level - block) * sizeof(uint64_t));
  }

  bool Has(uint32_t p) const { return (words_[0][p / 64] >> (p % 64) & 1) != 0; }

  void Insert(uint32_t p) {
    uint64_t at = p;
    for (int l = 0; l < levels_; ++l, at /= 64) words_[l][at / 64] |= uint64_t{1} << (at % 64);
  }

  // The greatest member below p, or -1.
  int64_t Below(uint32_t p) const {
    uint64_t at = p;
    for (int l = 0; l < levels_; ++l, at /= 64) {
      const uint64_t lower = words_[l][at / 64] & ((uint64_t{1} << (at % 64)) - 1);
      if (lower != 0)
        return Down(l, at / 64 * 64 + 63 - static_cast<uint64_t>(std::countl_zero(lower)), true);
    }
    return -1;
  }

  // The least member above p, or -1.
  int64_t Above(uint32_t p) const {
    uint64_t at = p;
    for (int l = 0; l < levels_; ++l, at /= 64) {
      const uint32_t bit = at % 64;
      const uint64_t upper = bit == 63 ? 0 : words_[l][at / 64] & (~uint64_t{0} << (bit + 1));
      if (upper != 0) return Down(l, at / 64 * 64 + static_cast<uint64_t>(std::countr_zero(upper)), false);
    }
    return -1;
  }

 private:
  // From a member at position at of level l down to level 0, taking the
  // highest (or lowest) member of each word below.
  int64_t Down(int l, uint64_t at, bool highest) const {
    for (; l > 0; --l) {
      const uint64_t w = words_[l - 1][at];
      at = at * 64 + (highest ? 63 - static_cast<uint64_t>(std::countl_zero(w))
                              : static_cast<uint64_t>(std::countr_zero(w)));
    }
    return static_cast<int64_t>(at);
  }

  uint64_t *words_[kLevels] = {};
  int levels_ = 0;
};

// A block from VoAllocate of at least `bytes`, kept for the next group.
struct Scratch {
  void *block = nullptr;
  size_t capacity = 0;
  void *Get(size_t bytes) {
    if (bytes <= capacity) return block;
    if (bytes > UINT32_MAX) return nullptr;
    if (block != nullptr) VoDeallocate(block);
    block = VoAllocate(static_cast<uint32_t>(bytes));
    capacity = block != nullptr ? bytes : 0;
    return block;
  }
  ~Scratch() {
    if (block != nullptr) VoDeallocate(block);
  }
};

bool FreshList(const VtHiddenLineSplit *zero) {
  return zero != nullptr && zero->t == 0.0f && zero->next != nullptr && zero->next->t == 1.0f &&
         zero->next->next == nullptr;
}

// The k cuts of one edge, in the order they came, put on its list.
VtStatus GroupResolve(VtHiddenLineContext *s, const CutLog::Entry *cuts, uint32_t k, Scratch *scratch) {
  VtHiddenLineSplit **list = &cuts[0].rec->splits, *zero = *list;
  while (zero != nullptr && std::isnan(zero->t)) zero = zero->next;
  if (!FreshList(zero)) {
    VtStatus st = 0;
    for (uint32_t i = 0; i < k && st == 0; ++i) st = SplitInsert(s, list, cuts[i].t);
    return st;
  }
  const size_t words = RankSet::WordsFor(k);
  auto *block =
      static_cast<uint32_t *>(scratch->Get(words * sizeof(uint64_t) + size_t{k} * 2 * sizeof(uint32_t)));
  if (block == nullptr) return VO_STATUS_NO_MEMORY;
  RankSet kept(reinterpret_cast<uint64_t *>(block), k);
  uint32_t *by_t = block + 2 * words, *rank = by_t + k;
  for (uint32_t i = 0; i < k; ++i) by_t[i] = i;
  std::sort(by_t, by_t + k,
            [&](uint32_t u, uint32_t v) { return cuts[u].t != cuts[v].t ? cuts[u].t < cuts[v].t : u < v; });
  for (uint32_t r = 0; r < k; ++r) rank[by_t[r]] = r;
  // The list holds 0.0 and 1.0: every cut lies between them.
  for (uint32_t i = 0; i < k; ++i) {
    const float t = cuts[i].t;
    const int64_t below = kept.Below(rank[i]), above = kept.Above(rank[i]);
    const float lower = below < 0 ? 0.0f : cuts[by_t[below]].t,
                upper = above < 0 ? 1.0f : cuts[by_t[above]].t;
    if (!Near(lower, t) && !Near(upper, t)) kept.Insert(rank[i]);
  }
  VtHiddenLineSplit **at = &zero->next;
  for (uint32_t r = 0; r < k; ++r) {
    if (!kept.Has(r)) continue;
    auto *n = static_cast<VtHiddenLineSplit *>(VoPoolAllocate(s->pools[0]));
    if (n == nullptr) return VO_STATUS_NO_MEMORY;
    *n = VtHiddenLineSplit{cuts[by_t[r]].t, *at};
    *at = n;
    at = &n->next;
  }
  return 0;
}

}  // namespace

VtStatus SplitsStart(VtHiddenLineContext *s, VtHiddenLineSplit **list) {
  auto *first = static_cast<VtHiddenLineSplit *>(VoPoolAllocate(s->pools[0]));
  auto *last = first != nullptr ? static_cast<VtHiddenLineSplit *>(VoPoolAllocate(s->pools[0])) : nullptr;
  if (last == nullptr) {
    if (first != nullptr) (void)VoPoolFree(s->pools[0], first);
    return VO_STATUS_NO_MEMORY;
  }
  *last = VtHiddenLineSplit{1.0f, nullptr};
  *first = VtHiddenLineSplit{0.0f, last};
  *list = first;
  return 0;
}

VtStatus SplitInsert(VtHiddenLineContext *s, VtHiddenLineSplit **list, float t) {
  if (std::fabs(t) < Tol(t, 0)) return 0;
  VtHiddenLineSplit **at = list;
  for (VtHiddenLineSplit *e = *list; e != nullptr; e = e->next) {
    if (Near(e->t, t)) return 0;
    if (e->t < t) at = &e->next;
    // Cuts are sorted and within 0..1: one above t and not near it has no
    // later entry nearer, nor one below t.
    if (e->t > t) break;
  }
  auto *n = static_cast<VtHiddenLineSplit *>(VoPoolAllocate(s->pools[0]));
  if (n == nullptr) return VO_STATUS_NO_MEMORY;
  *n = VtHiddenLineSplit{t, *at};
  *at = n;
  return 0;
}

void SplitsFree(VtHiddenLineContext *s, VtHiddenLineSplit *list) { ListFree(s->pools[0], list); }

VtStatus CutLogAdd(VtHiddenLineContext *s, CutLog *log, VtHiddenLineEdgeData *rec, float t) {
  // The list's 0.0 and 1.0 stay: a cut near either is dropped whenever it comes.
  if (std::fabs(t) < Tol(t, 0) || Near(0.0f, t) || Near(1.0f, t)) return 0;
  if (std::isnan(t)) return SplitInsert(s, &rec->splits, t);
  if (log->size == log->capacity) {
    const size_t more = log->capacity == 0 ? 256 : size_t{log->capacity} * 2;
    if (more * sizeof(CutLog::Entry) > UINT32_MAX) return VO_STATUS_NO_MEMORY;
    auto *grown =
        static_cast<CutLog::Entry *>(VoAllocate(static_cast<uint32_t>(more * sizeof(CutLog::Entry))));
    if (grown == nullptr) return VO_STATUS_NO_MEMORY;
    if (log->size != 0) std::memcpy(grown, log->entries, log->size * sizeof(CutLog::Entry));
    if (log->entries != nullptr) VoDeallocate(log->entries);
    log->entries = grown;
    log->capacity = static_cast<uint32_t>(more);
  }
  log->entries[log->size] = CutLog::Entry{rec, t, log->size};
  ++log->size;
  return 0;
}

VtStatus CutLogApply(VtHiddenLineContext *s, CutLog *log) {
  CutLog::Entry *e = log->entries;
  std::sort(e, e + log->size, [](const CutLog::Entry &a, const CutLog::Entry &b) {
    return a.rec != b.rec ? std::less<const void *>()(a.rec, b.rec) : a.order < b.order;
  });
  Scratch scratch;
  VtStatus st = 0;
  for (uint32_t first = 0, last = 0; first < log->size && st == 0; first = last) {
    while (last < log->size && e[last].rec == e[first].rec) ++last;
    st = GroupResolve(s, e + first, last - first, &scratch);
  }
  CutLogRelease(log);
  return st;
}

void CutLogRelease(CutLog *log) {
  if (log->entries != nullptr) VoDeallocate(log->entries);
  *log = CutLog{};
}

}  // namespace vo::hid
