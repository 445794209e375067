// Contents records: interned kind tables with their layouts, the set
// algebra over them, and the worker lists' merge.

#include <cstring>

#include "scene/vogeom/geom_messages.h"
#include "scene/vogeom/geom_state.h"

namespace vo {

namespace {

constexpr uint32_t kIndexFirstBuckets = 64;

uint32_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ull;
  x ^= x >> 33;
  return static_cast<uint32_t>(x);
}

uint32_t HashMembers(const VtSlotSet &m) {
  const uint64_t lo = (uint64_t{m.words[1]} << 32) | m.words[0];
  const uint64_t hi = (uint64_t{m.words[3]} << 32) | m.words[2];
  return Mix(lo ^ Mix(hi));
}

uint32_t HashTables(VtContentsKindTable *const t[4]) {
  uint64_t h = 0;
  for (uint32_t k = 0; k < 4; ++k) h = Mix(h ^ reinterpret_cast<uintptr_t>(t[k])) + k;
  return static_cast<uint32_t>(h);
}

// ---- The interning index ----------------------------------------------------------

template <class T>
bool IndexGrow(InternIndex<T> &x) {
  const uint32_t buckets = x.mask ? (x.mask + 1) * 2 : kIndexFirstBuckets;
  auto **made = static_cast<T **>(VoAllocate(buckets * sizeof(T *)));
  if (made == nullptr) return false;
  std::memset(static_cast<void *>(made), 0, buckets * sizeof(T *));
  if (x.buckets != nullptr) {
    for (uint32_t b = 0; b <= x.mask; ++b) {
      for (T *r = x.buckets[b]; r != nullptr;) {
        T *next = r->hash_next;
        T **at = &made[r->hash & (buckets - 1)];
        r->hash_next = *at;
        *at = r;
        r = next;
      }
    }
    VoDeallocate(x.buckets);
  }
  x.buckets = made;
  x.mask = buckets - 1;
  return true;
}

template <class T>
bool IndexInsert(InternIndex<T> &x, T *r) {
  if ((x.buckets == nullptr || x.count > x.mask) && !IndexGrow(x) && x.buckets == nullptr) return false;
  T **at = &x.buckets[r->hash & x.mask];
  r->hash_next = *at;
  *at = r;
  ++x.count;
  return true;
}

template <class T>
void IndexFree(InternIndex<T> &x) {
  VoDeallocate(x.buckets);
  x = InternIndex<T>{};
}

template <class T, class Equal>
T *IndexFind(const InternIndex<T> &x, uint32_t hash, Equal &&equal) {
  if (x.buckets == nullptr) return nullptr;
  for (T *r = x.buckets[hash & x.mask]; r != nullptr; r = r->hash_next)
    if (r->hash == hash && equal(r)) return r;
  return nullptr;
}

// Looks in the lists, then (worker lists) in the main lists.
VtContentsKindTable *TableFind(const ContentsLists *l, uint32_t kind, const VtSlotSet &m, uint32_t hash) {
  for (; l != nullptr; l = l->main) {
    auto equal = [&](const VtContentsKindTable *t) { return SlotSetEqual(t->membership, m); };
    if (VtContentsKindTable *t = IndexFind(l->table_index[kind - 1], hash, equal)) return t;
  }
  return nullptr;
}

VtContents *ContentsFind(const ContentsLists *l, VtContentsKindTable *const t[4], uint32_t hash) {
  for (; l != nullptr; l = l->main) {
    auto equal = [&](const VtContents *c) { return std::memcmp(c->tables, t, sizeof c->tables) == 0; };
    if (VtContents *c = IndexFind(l->contents_index, hash, equal)) return c;
  }
  return nullptr;
}

// ---- Layout ---------------------------------------------------------------------

// The alignment class of a value's element size: 8, 4 or 2 bytes.
uint32_t AlignmentClass(uint32_t element_size) {
  if (element_size % 8 == 0) return 8;
  if (element_size % 4 == 0) return 4;
  return 2;
}

// Lays a kind table out: 8-byte values first, then 4-byte, then 2-byte, in
// slot order within each class; the block is rounded up to the largest
// class. Creates the kind's element pool.
VtStatus Layout(VtContentsKindTable *t) {
  GeomState *g = Geom();
  const VtPropertyTable &registered = g->registry->tables[t->kind - 1];
  uint32_t totals[9] = {};
  uint32_t largest = 0;
  SlotSetForEach(t->membership, [&](uint32_t slot) {
    const VtPropertyDescriptor &d = registered.descriptors[slot];
    if (!d.registered || d.byte_size == 0) return;
    const uint32_t a = AlignmentClass(d.element_size);
    t->slots[slot].size = d.byte_size;
    ++t->present;
    totals[a] += d.byte_size;
    if (a > largest) largest = a;
  });
  const uint32_t total = totals[8] + totals[4] + totals[2];
  const uint32_t block = largest ? (total + largest - 1) / largest * largest : 0;
  if (block > VO_ELEMENT_BLOCK_MAX) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kLayoutTooLarge, VO_MODULE_GEOMETRY, t->kind, block);
    return VO_STATUS_BAD_ARGUMENT;
  }
  uint32_t start[9] = {};
  start[8] = 0;
  start[4] = totals[8];
  start[2] = totals[8] + totals[4];
  SlotSetForEach(t->membership, [&](uint32_t slot) {
    const VtPropertyDescriptor &d = registered.descriptors[slot];
    if (t->slots[slot].size == 0) return;
    const uint32_t a = AlignmentClass(d.element_size);
    t->slots[slot].offset = static_cast<int16_t>(start[a]);
    start[a] += d.byte_size;
  });
  t->block_size = block;
  if (block == 0) return 0;
  const uint32_t element = block + static_cast<uint32_t>(sizeof(VtElementHeader));
  t->pool = VoPoolCreate(0x20004u + g->pool_counter++, element);
  if (t->pool == nullptr) {
    // Pools carve blocks from chunks: a block larger than a chunk holds is
    // refused like one over the limit (control 0x10009 sets the chunk size).
    if (const VtKernelContext *k = Kernel(); k != nullptr && ((element + 7) & ~7u) > k->memory.usable_bytes) {
      Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kLayoutTooLarge, VO_MODULE_GEOMETRY, t->kind, block);
      return VO_STATUS_BAD_ARGUMENT;
    }
    return VO_STATUS_NO_MEMORY;
  }
  VoPoolSetSingleThreaded(t->pool, 1);
  return 0;
}

void TableFree(VtContentsKindTable *t) {
  GeomState *g = Geom();
  if (t->interpolation != nullptr) InterpolationFree(t->interpolation);
  VoPoolDispose(t->pool);
  VoPoolFree(g->table_pool, t);
}

VtContentsKindTable *TableIntern(ContentsLists *l, uint32_t kind, const VtSlotSet &m) {
  const uint32_t hash = HashMembers(m);
  if (VtContentsKindTable *t = TableFind(l, kind, m, hash)) return t;
  GeomState *g = Geom();
  auto *t = static_cast<VtContentsKindTable *>(VoPoolAllocate(g->table_pool));
  if (t == nullptr) return nullptr;
  std::memset(static_cast<void *>(t), 0, sizeof *t);
  t->kind = kind;
  t->hash = hash;
  t->membership = m;
  for (VtSlotEntry &e : t->slots) e = VtSlotEntry{-1, 0};
  VtStatus s = Layout(t);
  if (s == 0 && kind == VO_ELEMENT_VERTEX) s = InterpolationBuild(t);
  if (s != 0 || !IndexInsert(l->table_index[kind - 1], t)) {
    TableFree(t);
    return nullptr;
  }
  t->next = l->tables[kind - 1];
  l->tables[kind - 1] = t;
  return t;
}

void MembersOf(const VtContents *c, VtSlotSet m[4]) {
  for (uint32_t k = 0; k < 4; ++k) m[k] = c->tables[k]->membership;
}

// The memberships of a contents, the default one for null; answers the
// record they came from (null when there is none).
VtContents *BaseMembers(VtContents *contents, VtSlotSet m[4]) {
  VtContents *base = contents ? contents : DefaultContents();
  if (base != nullptr) MembersOf(base, m);
  return base;
}

VtSlotSet *Mandatory(VtSlotSet m[4]) {
  VtPropertyRegistry *r = PropertyRegistry();
  for (uint32_t k = 0; k < 4; ++k) m[k] = r->tables[k].mandatory;
  return m;
}

// Adds the codes to the memberships; answers whether any was new. Codes
// that name no registered property are reported and left out.
bool MembersAdd(VtSlotSet m[4], uint32_t n, const uint32_t *codes) {
  bool added = false;
  for (uint32_t i = 0; codes != nullptr && i < n; ++i) {
    const uint32_t code = codes[i];
    if (PropertyDescriptor(code) == nullptr) {
      Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPropertyNotRegistered, VO_MODULE_GEOMETRY, code);
      continue;
    }
    VtSlotSet &set = m[CodeKind(code) - 1];
    if (SlotSetHas(set, CodeSlot(code))) continue;
    SlotSetAdd(set, CodeSlot(code));
    added = true;
  }
  return added;
}

}  // namespace

// ---------------------------------------------------------------------------
// Building and the default contents
// ---------------------------------------------------------------------------

VtContents *ContentsBuild(const VtSlotSet members[4]) {
  GeomState *g = Geom();
  GeomContext *cx = GeomCurrent();
  if (g == nullptr || cx == nullptr) return nullptr;
  ContentsLists *l = cx->lists;
  // Workers of a threaded pass share the main lists: interning holds the
  // kernel's lock while thread records exist.
  RegisterGuard hold;
  VtContentsKindTable *t[4];
  for (uint32_t k = 0; k < 4; ++k) {
    t[k] = TableIntern(l, k + 1, members[k]);
    if (t[k] == nullptr) return nullptr;
  }
  if (VtContents *d = g->default_contents; d && std::memcmp(d->tables, t, sizeof t) == 0) return d;
  const uint32_t hash = HashTables(t);
  if (VtContents *c = ContentsFind(l, t, hash)) return c;
  auto *c = static_cast<VtContents *>(VoPoolAllocate(g->contents_pool));
  if (c == nullptr) return nullptr;
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  std::memcpy(c->tables, t, sizeof t);
  c->interpolation = t[3]->interpolation;
  c->hash = hash;
  c->check = kContentsLive;
  if (!IndexInsert(l->contents_index, c)) {
    VoPoolFree(g->contents_pool, c);
    return nullptr;
  }
  if (l->contents_tail != nullptr)
    l->contents_tail->next = c;
  else
    l->contents = c;
  l->contents_tail = c;
  return c;
}

VtContents *DefaultContents() {
  GeomState *g = Geom();
  return g ? g->default_contents : nullptr;
}

void DefaultContentsWiden(uint32_t kind, uint32_t slot) {
  GeomState *g = Geom();
  if (g == nullptr || g->default_contents == nullptr) return;
  VtSlotSet m[4];
  MembersOf(g->default_contents, m);
  SlotSetAdd(m[kind - 1], slot);
  if (VtContents *c = ContentsBuild(m)) g->default_contents = c;
}

VtContents *ContentsUnionVertices(VtContents *a, VtContents *b) {
  if (a == nullptr) return b;
  if (b == nullptr || a->tables[3] == b->tables[3]) return a;
  VtSlotSet m[4];
  MembersOf(a, m);
  m[3] = SlotSetUnion(m[3], b->tables[3]->membership);
  return ContentsBuild(m);
}

VtStatus ContentsStart(GeomState *g) {
  VtSlotSet m[4];
  g->default_contents = ContentsBuild(Mandatory(m));
  return g->default_contents ? 0 : VO_STATUS_NO_MEMORY;
}

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------

void ContentsListsRelease(ContentsLists *l) {
  GeomState *g = Geom();
  for (VtContents *c = l->contents; c != nullptr;) {
    VtContents *next = c->next;
    VoPoolFree(g->contents_pool, c);
    c = next;
  }
  for (uint32_t k = 0; k < 4; ++k) {
    for (VtContentsKindTable *t = l->tables[k]; t != nullptr;) {
      VtContentsKindTable *next = t->next;
      TableFree(t);
      t = next;
    }
    IndexFree(l->table_index[k]);
    l->tables[k] = nullptr;
  }
  IndexFree(l->contents_index);
  l->contents = l->contents_tail = nullptr;
}

// A worker's records join the main lists and stay there for the rest of the
// library's life: primitives made on the worker keep pointing at them. A
// record the main lists gained meanwhile wins the index; the worker's twin
// is kept, unindexed, until shut-down.
void ContentsListsMergeIntoMain(ContentsLists *own) {
  ContentsLists *main = own->main;
  if (main == nullptr) return;
  for (uint32_t k = 0; k < 4; ++k) {
    for (VtContentsKindTable *t = own->tables[k]; t != nullptr;) {
      VtContentsKindTable *next = t->next;
      const ContentsLists *main_only = main;
      if (TableFind(main_only, k + 1, t->membership, t->hash) == nullptr)
        IndexInsert(main->table_index[k], t);
      t->next = main->tables[k];
      main->tables[k] = t;
      t = next;
    }
    own->tables[k] = nullptr;
    IndexFree(own->table_index[k]);
  }
  for (VtContents *c = own->contents; c != nullptr;) {
    VtContents *next = c->next;
    c->next = nullptr;
    if (ContentsFind(main, c->tables, c->hash) == nullptr) IndexInsert(main->contents_index, c);
    if (main->contents_tail != nullptr)
      main->contents_tail->next = c;
    else
      main->contents = c;
    main->contents_tail = c;
    c = next;
  }
  own->contents = own->contents_tail = nullptr;
  IndexFree(own->contents_index);
}

// ---------------------------------------------------------------------------
// The interface
// ---------------------------------------------------------------------------

VtContents *VoContentsCreate(uint32_t n, const uint32_t *codes) {
  if (PropertyRegistry() == nullptr) return nullptr;
  VtSlotSet m[4];
  MembersAdd(Mandatory(m), n, codes);
  return ContentsBuild(m);
}

VtContents *VoContentsUnion(VtContents *contents, uint32_t n, const uint32_t *codes) {
  if (ContentsRefused(contents, "VoContentsUnion")) return nullptr;
  VtSlotSet m[4];
  VtContents *base = BaseMembers(contents, m);
  if (base == nullptr || !MembersAdd(m, n, codes)) return base;
  return ContentsBuild(m);
}

VtContents *VoContentsSubtract(VtContents *contents, uint32_t n, const uint32_t *codes) {
  if (ContentsRefused(contents, "VoContentsSubtract")) return nullptr;
  VtSlotSet m[4];
  VtContents *base = BaseMembers(contents, m);
  if (base == nullptr) return nullptr;
  bool removed = false;
  for (uint32_t i = 0; codes != nullptr && i < n; ++i) {
    if (!CodeValid(codes[i])) continue;
    VtSlotSet &set = m[CodeKind(codes[i]) - 1];
    if (!SlotSetHas(set, CodeSlot(codes[i]))) continue;
    SlotSetRemove(set, CodeSlot(codes[i]));
    removed = true;
  }
  return removed ? ContentsBuild(m) : base;
}

VtContents *VoContentsMerge(VtContents *a, VtContents *b, uint32_t mask) {
  if (ContentsRefused(a, "VoContentsMerge") || ContentsRefused(b, "VoContentsMerge")) return nullptr;
  if ((mask & VO_CONTENTS_ALL) == VO_CONTENTS_ALL) {
    if (a == nullptr) return b;
    if (b == nullptr || a == b) return a;
  }
  if (Geom() == nullptr) return nullptr;
  VtSlotSet m[4] = {};
  for (uint32_t k = 0; k < 4; ++k) {
    if ((mask & (1u << k)) == 0) continue;
    if (a != nullptr) m[k] = SlotSetUnion(m[k], a->tables[k]->membership);
    if (b != nullptr) m[k] = SlotSetUnion(m[k], b->tables[k]->membership);
  }
  return ContentsBuild(m);
}

uint32_t VoContentsGetDataSize(VtContents *contents, uint32_t mask) {
  if (contents == nullptr || ContentsRefused(contents, "VoContentsGetDataSize")) return 0;
  uint32_t size = 0;
  for (uint32_t k = 0; k < 4; ++k)
    if (mask & (1u << k)) size += contents->tables[k]->block_size;
  return size;
}

VtStatus VoContentsListProperties(VtContents *contents, uint32_t *count, VtPropertyCode **codes) {
  if (ContentsRefused(contents, "VoContentsListProperties")) return VO_STATUS_BAD_ARGUMENT;
  VtContents *c = contents ? contents : DefaultContents();
  GeomContext *cx = GeomCurrent();
  if (c == nullptr || cx == nullptr) return VO_STATUS_UNAVAILABLE;
  uint32_t n = 0;
  for (const VtContentsKindTable *t : c->tables)
    for (uint32_t w : t->membership.words) n += static_cast<uint32_t>(__builtin_popcount(w));
  if (n > cx->code_capacity) {
    auto *grown = static_cast<uint32_t *>(VoMemoryReallocate(cx->code_buffer, n * sizeof(uint32_t)));
    if (grown == nullptr) return VO_STATUS_NO_MEMORY;
    cx->code_buffer = grown;
    cx->code_capacity = n;
  }
  uint32_t i = 0;
  for (uint32_t k = 0; k < 4; ++k)
    SlotSetForEach(c->tables[k]->membership,
                   [&](uint32_t slot) { cx->code_buffer[i++] = VO_PROPERTY_CODE(k + 1, slot); });
  if (count) *count = n;
  if (codes) *codes = cx->code_buffer;
  return 0;
}

VtContents *VoPrimitiveGetContents(VtPrimitive *p) {
  return p != nullptr && PrimitiveCheck(p) == 0 ? p->contents : nullptr;
}

VtStatus VoPrimitiveSetContents(VtPrimitive *p, VtContents *contents) {
  if (p == nullptr || contents == nullptr) return VO_CLASS_ERROR;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  if (ContentsRefused(contents, "VoPrimitiveSetContents")) return VO_STATUS_BAD_ARGUMENT;
  return PrimitiveConvert(p, contents, 0, nullptr, nullptr);
}

}  // namespace vo
