// Crossing lists of one polygon pair: their codes, the merge of codes met
// at one vertex, the in/out pass and the overlap of two lists.
//
// A list is in ascending parameter; records of one parameter keep the order
// they were met in. Every record that names a vertex ends the merge with a
// single code and no edge; the in/out pass then reads only the first code
// of each record. Records come from pool 0x160006, segment ends from pool
// 0x160007; whoever holds a list frees it with CrossingsFree / OverlapsFree.

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "scene/vogeops/intersection.h"

namespace vo::geops {

namespace {

constexpr VtStatus kLoopError = VO_CLASS_ERROR | VO_STATUS_UNAVAILABLE;  // 0x40000002

void PostNoMemory() { Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS); }

VtPool *CrossingPool() { return Context() != nullptr ? Context()->crossing_pool : nullptr; }
VtPool *OverlapPool() { return Context() != nullptr ? Context()->overlap_pool : nullptr; }

template <class T>
T *PoolRecord(VtPool *pool) {
  void *block = pool != nullptr ? VoPoolAllocate(pool) : nullptr;
  if (block == nullptr) return nullptr;
  std::memset(block, 0, sizeof(T));
  return static_cast<T *>(block);
}

// Adds a code met again at a record's vertex.
void CodeAdd(Crossing *r, uint8_t code, const void *edge) {
  if (code == 0 || code == 3) return;
  if (r->codes[0] == 0 || r->codes[0] == 3) {
    r->codes[0] = code;
    r->edge = edge;
    return;
  }
  if (r->count < kCodesHeld) r->codes[r->count] = code;
  ++r->count;
  if (r->edge == nullptr)
    r->edge = edge;
  else if (r->edge != edge)
    r->edge = nullptr;
}

// The one code a record of two to four codes stands for.
uint8_t CodesMerged(const Crossing &r, bool second) {
  const uint8_t *c = r.codes;
  bool nine = false;
  uint32_t big = 0;
  for (uint32_t i = 0; i < r.count; ++i) {
    nine = nine || c[i] == 9;
    big += c[i] >= 5 ? 1 : 0;
  }
  if (r.count == 4) return 9;
  if (r.count == 3) return (nine || big == 3) ? 9 : 10;
  if (big <= 1) return big == 1 ? 10 : (second ? 2 : 1);
  if (nine || r.edge == nullptr) return 9;
  const uint32_t pair = (1u << c[0]) | (1u << c[1]);
  if (pair == ((1u << 5) | (1u << 8)) || pair == ((1u << 6) | (1u << 7))) return second ? 8 : 7;
  return 10;
}

constexpr uint32_t Codes(std::initializer_list<int> list) {
  uint32_t m = 0;
  for (int c : list) m |= 1u << c;
  return m;
}

// The rows of the in/out pass: for each polygon and state, the codes that
// lead inside, along and outside.
struct StateRow {
  uint32_t inside, along, outside;
};
constexpr StateRow kRows[2][3] = {
    // first polygon: from outside, inside, along
    {{Codes({1}), Codes({5, 7, 8, 10}), Codes({0, 3})},
     {Codes({0, 1, 3, 4}), Codes({6, 7, 10}), Codes({2})},
     {Codes({5, 8, 10}), Codes({0, 3, 9}), Codes({6, 7})}},
    // second polygon
    {{Codes({2}), Codes({6, 7, 8, 10}), Codes({0, 3})},
     {Codes({0, 2, 3, 4}), Codes({5, 8, 10}), Codes({1})},
     {Codes({6, 7, 10}), Codes({0, 3, 9}), Codes({5, 8})}},
};
// The codes after a 9 that make the 9 a stray one, by polygon and state
// (outside, inside).
constexpr uint32_t kNineDropped[2][2] = {{Codes({5, 7, 8}), Codes({6, 7, 10})},
                                         {Codes({6, 7, 8}), Codes({5, 8, 10})}};

uint32_t StateIndex(uint32_t state) { return state == kOutside ? 0 : state == kInside ? 1 : 2; }

// The state after code from state, or 0 when the code is not in its row.
uint32_t StateNext(bool second, uint32_t state, uint8_t code) {
  const StateRow &row = kRows[second ? 1 : 0][StateIndex(state)];
  const uint32_t bit = code < 32 ? 1u << code : 0;
  if (row.inside & bit) return kInside;
  if (row.along & bit) return kAlong;
  if (row.outside & bit) return kOutside;
  return 0;
}

void Repaired() { Post(VO_CLASS_WARNING, kMessageSequenceRepaired, VO_MODULE_GEOMETRY_OPERATORS); }

VtStatus Broken() {
  Post(kLoopError, kMessageSequenceBroken, VO_MODULE_GEOMETRY_OPERATORS);
  return kLoopError;
}

// One end of a segment taken from a crossing of list `side`, or the mid
// point of two crossings, one from each list.
void EndFrom(Overlap *o, const Crossing *c, int side) {
  std::memcpy(o->point, c->point, sizeof o->point);
  o->t = c->t;
  o->vertex[side] = c->vertex;
  o->edge[side] = c->edge;
}
void EndMid(Overlap *o, const Crossing *a, const Crossing *b) {
  for (int i = 0; i < 3; ++i) o->point[i] = 0.5 * (a->point[i] + b->point[i]);
  o->t = 0.5 * (a->t + b->t);
  o->vertex[0] = a->vertex;
  o->edge[0] = a->edge;
  o->vertex[1] = b->vertex;
  o->edge[1] = b->edge;
}

// The segments being gathered, with the last one's two records.
struct SegmentList {
  Overlap *head = nullptr, *tail = nullptr;
  Overlap *last_start = nullptr;
};

void EndCopy(Overlap *to, const Overlap &from) {
  Overlap *const next = to->next;
  const uint32_t kind = to->kind;
  *to = from;
  to->next = next;
  to->kind = kind;
}

bool Push(SegmentList *l, const Overlap &end, uint32_t kind) {
  auto *o = PoolRecord<Overlap>(OverlapPool());
  if (o == nullptr) return false;
  *o = end;
  o->kind = kind;
  o->next = nullptr;
  (l->tail ? l->tail->next : l->head) = o;
  l->tail = o;
  if (kind == kSegmentStart) l->last_start = o;
  return true;
}

// Appends a segment, joining it to the previous one when they meet: a
// sliver beside a long segment is dropped, a long segment after a sliver
// takes its place, two of like length chain.
bool SegmentAppend(SegmentList *l, const Overlap &start, const Overlap &end, double f) {
  Overlap *prev_end = l->tail;
  if (prev_end == nullptr || prev_end->t != start.t)
    return Push(l, start, kSegmentStart) && Push(l, end, kSegmentEnd);
  const double prev_length = prev_end->t - l->last_start->t;
  const double new_length = end.t - start.t;
  if (prev_length < f * new_length) {
    const double shared = prev_end->t;
    EndCopy(l->last_start, *prev_end);
    l->last_start->t = shared;
    EndCopy(prev_end, end);
    return true;
  }
  if (new_length < f * prev_length) return true;
  prev_end->kind = kSegmentStart;
  l->last_start = prev_end;
  return Push(l, end, kSegmentEnd);
}

}  // namespace

int CrossingCode(Side p, Side v, Side n, bool same_pn, char *names) {
  *names = 0;
  if (v != kOn) {
    if (p == kOn || p == v) return -1;
    *names = 'i';
    return p == kAbove ? 2 : 1;
  }
  if (p == kAbove || p == kBelow) {
    const bool above = p == kAbove;
    if (n == kOn) {
      *names = 'n';
      return above ? 7 : 5;
    }
    if (n == p) return above ? 3 : 0;
    return above ? 2 : 1;
  }
  if (n == kAbove || n == kBelow) {
    *names = 'p';
    return n == kAbove ? 8 : 6;
  }
  return same_pn ? 10 : 9;
}

VtStatus CrossingInsert(Crossing **list, uint8_t code, const void *vertex, const void *edge,
                        const double point[3], double t) {
  for (Crossing *r = *list; r != nullptr && r->t <= t; r = r->next) {
    if (r->t != t) continue;
    if (vertex != nullptr && r->vertex == vertex) {
      CodeAdd(r, code, edge);
      return 0;
    }
    if (vertex == nullptr && edge != nullptr && r->edge == edge) {
      r->codes[0] = 4;
      r->count = 1;
      return 0;
    }
  }
  auto *c = PoolRecord<Crossing>(CrossingPool());
  if (c == nullptr) {
    PostNoMemory();
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  c->codes[0] = code;
  c->count = 1;
  c->vertex = vertex;
  c->edge = edge;
  std::memcpy(c->point, point, sizeof c->point);
  c->t = t;
  Crossing **at = list;
  while (*at != nullptr && (*at)->t <= t) at = &(*at)->next;
  c->next = *at;
  *at = c;
  return 0;
}

VtStatus CodesMerge(Crossing *list, bool second) {
  bool touching = true;
  for (Crossing *r = list; r != nullptr; r = r->next) {
    if (r->vertex == nullptr) {
      touching = false;
      continue;
    }
    if (r->count > kCodesHeld) {
      Post(kLoopError, kMessageTooManyCodes, VO_MODULE_GEOMETRY_OPERATORS);
      return kLoopError;
    }
    if (r->count > 1) r->codes[0] = CodesMerged(*r, second);
    r->count = 1;
    r->edge = nullptr;
    touching = touching && (r->codes[0] == 0 || r->codes[0] == 3);
  }
  return touching ? VO_STATUS_UNAVAILABLE : 0;
}

VtStatus StatesAssign(Crossing **list, bool second) {
  const int poly = second ? 1 : 0;
restart:
  uint32_t state = kOutside;
  Crossing *prev = nullptr;
  for (Crossing *r = *list; r != nullptr; prev = r, r = r->next) {
    const uint8_t code = r->codes[0];
    uint32_t next = StateNext(second, state, code);
    if (next == 0 && state != kAlong) {
      if (state == kOutside && code == 4) {
        Repaired();
        next = kOutside;
      } else if (code == 9 && r->next != nullptr && r->next->codes[0] < 32 &&
                 (kNineDropped[poly][state == kInside ? 1 : 0] & (1u << r->next->codes[0]))) {
        Repaired();
        (prev ? prev->next : *list) = r->next;
        VoPoolFree(CrossingPool(), r);
        goto restart;
      } else if (!second && state == kInside && prev != nullptr && prev->codes[0] == 10) {
        Repaired();
        prev->codes[0] = 9;
        prev->state = kAlong;
        next = StateNext(second, kAlong, code);
      }
    }
    if (next == 0) return Broken();
    r->state = state = next;
  }
  return 0;
}

VtStatus OverlapLists(const Crossing *first, const Crossing *second, const PairSettings &s,
                      Overlap **segments) {
  const double t = s.tolerance;
  SegmentList out;
  bool made = true;
  for (const Crossing *a = first; a != nullptr && made; a = a->next) {
    const Crossing *a1 = a->next;
    if (a->state != kInside || a1 == nullptr) continue;
    for (const Crossing *b = second; b != nullptr && made; b = b->next) {
      if (b->state != kInside) continue;
      const Crossing *b1 = b->next;
      if (b1 == nullptr || a1->t - t < b->t) break;
      if (a->t + t > b1->t) continue;
      Overlap start{}, end{};
      if (std::fabs(b->t - a->t) <= t)
        EndMid(&start, a, b);
      else if (b->t - t > a->t)
        EndFrom(&start, b, 1);
      else
        EndFrom(&start, a, 0);
      if (std::fabs(b1->t - a1->t) <= t)
        EndMid(&end, a1, b1);
      else if (b1->t + t < a1->t)
        EndFrom(&end, b1, 1);
      else
        EndFrom(&end, a1, 0);
      made = SegmentAppend(&out, start, end, s.fraction);
    }
  }
  if (!made) {
    OverlapsFree(out.head);
    PostNoMemory();
    *segments = nullptr;
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  *segments = out.head;
  return 0;
}

void CrossingsFree(Crossing *list) {
  while (list != nullptr) {
    Crossing *next = list->next;
    VoPoolFree(CrossingPool(), list);
    list = next;
  }
}

void OverlapsFree(Overlap *list) {
  while (list != nullptr) {
    Overlap *next = list->next;
    VoPoolFree(OverlapPool(), list);
    list = next;
  }
}

}  // namespace vo::geops
