// Vertex reference lists of the application's whose members went before the
// list: each row runs forked (a read of a freed chunk ends the process under
// ASan) with a memory tidy that gives a chunk back to the heap as soon as
// one chunk's worth of blocks is free, so that a member read at its address
// would be a read of freed memory. What each list destroy gave back is
// counted from the vertex pool's blocks in use, never by reading a member.

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/forked.h"
#include "support/geometry_fixture.h"
#include "scene/vogeom/geom_state.h"
#include "kernel/vomemman/pool.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using NamedElements = GeometryTest;

// What happens between making the scene and the list's destroy.
enum class Before { kNothing, kLooseDestroyed, kPrimitiveDestroyed, kAddressTaken };
// The primitive the list destroy is given.
enum class Given { kOwner, kNull, kTwin };
// What the list names.
enum class Members { kLooseSpread, kOneTwice, kRingUnnamed, kRingNamed, kTwinVertex, kTaken };

// A square polygon over four vertices of a six-vertex ring (the last two
// named by no polygon), loose vertices over several chunks of their pool,
// and a twin primitive of the same layout, made first, whose one vertex
// shares the pool's first chunk.
struct Scene {
  VtPrimitive *twin = nullptr, *p = nullptr;
  VtVertex *twin_vertex = nullptr;
  std::vector<VtVertex *> ring, loose;
  VtPool *pool = nullptr;

  std::string Make() {
    VtTypedValue one{}, on{};
    one.type = VtNat32;
    one.value.u = 1;
    on.type = VtBoolean;
    on.value.i = 1;
    if (VoControlSet(VO_CONTROL_COMPACT_THRESHOLD, &one) != 0 ||
        VoControlSet(VO_CONTROL_FREE_CHUNKS, &on) != 0)
      return "the controls were refused";
    VtContents *contents = GeometryTest::MeshContents({});
    twin = VoPrimitiveCreate(contents, 3);
    twin_vertex = twin != nullptr ? VoVertexCreate(twin) : nullptr;
    const std::vector<std::vector<float>> six = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0},
                                                 {0, 1, 0}, {2, 0, 0}, {2, 2, 0}};
    MeshBuild m(contents, 3, six, {{0, 1, 2, 3}});
    p = m.primitive;
    if (twin_vertex == nullptr || p == nullptr || m.vertices.size() != 6) return "the scene was not made";
    ring = m.vertices;
    pool = KindTable(p->contents, VO_ELEMENT_VERTEX)->pool;
    const uint32_t count = 3 * pool->blocks_per_chunk + 5;
    for (uint32_t i = 0; i < count; ++i) loose.push_back(VoVertexCreate(p));
    return loose.back() != nullptr && pool->chunks >= 4 ? "" : "the loose vertices were not made";
  }
};

struct Row {
  const char *title;
  Before before;
  Given given;
  uint32_t destroy_vertices;
  Members members;
  VtStatus status;
  uint32_t given_back;  // vertex blocks the list destroy gives back
  uint32_t message;     // a diagnostic the destroy posts (0: none looked for)
};

constexpr VtStatus kBad = VO_STATUS_BAD_ARGUMENT;

const Row kRows[] = {
    {"loose vertices destroyed, flag 1", Before::kLooseDestroyed, Given::kOwner, 1, Members::kLooseSpread, 0,
     0, 0},
    {"loose vertices destroyed, flag 0", Before::kLooseDestroyed, Given::kOwner, 0, Members::kLooseSpread, 0,
     0, 0},
    {"loose vertices destroyed, one named twice", Before::kLooseDestroyed, Given::kOwner, 1,
     Members::kOneTwice, 0, 0, 0},
    {"primitive destroyed, null primitive", Before::kPrimitiveDestroyed, Given::kNull, 1,
     Members::kLooseSpread, 0, 0, 0},
    {"primitive destroyed, live twin given", Before::kPrimitiveDestroyed, Given::kTwin, 1,
     Members::kLooseSpread, 0, 0, 0},
    {"primitive destroyed, twin given, flag 0", Before::kPrimitiveDestroyed, Given::kTwin, 0,
     Members::kLooseSpread, 0, 0, 0},
    {"primitive destroyed and given", Before::kPrimitiveDestroyed, Given::kOwner, 1, Members::kLooseSpread,
     kBad, 0, messages::kPrimitiveNotLive},
    {"live vertices, one named twice", Before::kNothing, Given::kOwner, 1, Members::kOneTwice, 0, 2, 0},
    {"ring vertices no polygon names", Before::kNothing, Given::kOwner, 1, Members::kRingUnnamed, 0, 2, 0},
    {"a ring vertex a polygon names", Before::kNothing, Given::kOwner, 1, Members::kRingNamed, kBad, 0,
     messages::kElementStillNamed},
    {"a vertex of the twin", Before::kNothing, Given::kOwner, 1, Members::kTwinVertex, kBad, 0,
     messages::kElementForeign},
    {"an address a new ring vertex took", Before::kAddressTaken, Given::kOwner, 1, Members::kTaken, 0, 1, 0},
};

// The members of a row's list.
std::vector<void *> MembersOf(const Scene &s, Members m) {
  const std::vector<VtVertex *> &l = s.loose;
  switch (m) {
    case Members::kLooseSpread: return {l[l.size() / 2], l.back(), l[l.size() - 2], l[l.size() / 3]};
    case Members::kOneTwice: return {l.back(), l[l.size() / 2], l.back()};
    case Members::kRingUnnamed: return {s.ring[4], s.ring[5]};
    case Members::kRingNamed: return {s.ring[5], s.ring[2]};
    case Members::kTwinVertex: return {s.twin_vertex};
    case Members::kTaken: return {l.back()};
  }
  return {};
}

VtReference *VertexListOf(const std::vector<void *> &members) {
  VtReference *list = nullptr;
  for (void *v : members) list = VoPrimitiveReferenceAppend(list, VoReferenceNodeCreate(v));
  return list;
}

std::string RunRow(const Row &row) {
  Scene s;
  if (std::string fault = s.Make(); !fault.empty()) return fault;
  std::vector<void *> members = MembersOf(s, row.members);
  VtReference *list = VertexListOf(members);
  std::vector<void *> ring_after(s.ring.begin(), s.ring.end());
  switch (row.before) {
    case Before::kNothing: break;
    case Before::kLooseDestroyed:
      for (VtVertex *v : s.loose)
        if (VoVertexDestroy(s.p, v) != 0) return "a loose vertex was not destroyed";
      break;
    case Before::kPrimitiveDestroyed: {
      // The loose vertices join the ring, so that the primitive's destroy takes them.
      std::vector<void *> all(s.ring.begin(), s.ring.end());
      all.insert(all.end(), s.loose.begin(), s.loose.end());
      for (size_t i = 0; i < all.size(); ++i)
        *PropertyAt<void *>(s.p, all[i], VO_VERT_NEXT) = all[(i + 1) % all.size()];
      if (VoPrimitiveDestroy(s.p) != 0) return "the primitive was not destroyed";
      break;
    }
    case Before::kAddressTaken: {
      // The pool hands out the block given back last: the list's member
      // comes back as a vertex the application puts on the ring.
      VtVertex *old = s.loose.back();
      if (VoVertexDestroy(s.p, old) != 0) return "the member was not destroyed";
      VtVertex *made = VoVertexCreate(s.p);
      if (made != old) return "the address was not taken again";
      void **head = PropertyAt<void *>(s.p, nullptr, VO_PRIM_VERTS);
      *PropertyAt<void *>(s.p, made, VO_VERT_NEXT) = *PropertyAt<void *>(s.p, *head, VO_VERT_NEXT);
      *PropertyAt<void *>(s.p, *head, VO_VERT_NEXT) = made;
      break;
    }
  }
  if (VoMemoryTidy() != 0) return "the tidy failed";
  if (row.before != Before::kNothing && row.before != Before::kAddressTaken &&
      s.pool->chunks >= 4)  // the twin's vertex (and the ring's) keep the first chunk
    return "the tidy gave no chunk back";
  const uint32_t in_use = s.pool->blocks_in_use;
  VtPrimitive *given = row.given == Given::kOwner ? s.p : row.given == Given::kTwin ? s.twin : nullptr;
  g_posted.clear();
  const VtStatus status = VoVertexReferenceListDestroy(given, list, row.destroy_vertices);
  if (status != row.status) return "answered " + std::to_string(status);
  if (row.message != 0 && CountPosted(row.message) == 0)
    return "no diagnostic " + std::to_string(row.message);
  if (in_use - s.pool->blocks_in_use != row.given_back)
    return "gave back " + std::to_string(in_use - s.pool->blocks_in_use) + " blocks";
  if (row.before == Before::kPrimitiveDestroyed) return "";
  // The ring lost what was given back and nothing else, and walks whole.
  if (row.status == 0 && row.destroy_vertices && row.members == Members::kRingUnnamed) ring_after.resize(4);
  // A refusal of a named member leaves the list whole, as every refusal does.
  if (row.message == messages::kElementStillNamed && VoVertexReferenceListDestroy(nullptr, list, 0) != 0)
    return "the refused list was not left whole";
  std::vector<void *> ring = MeshBuild::Ring(s.p, VO_PRIM_VERTS, VO_VERT_NEXT);
  std::sort(ring.begin(), ring.end());
  std::sort(ring_after.begin(), ring_after.end());
  return ring == ring_after ? "" : "the vertex ring holds " + std::to_string(ring.size()) + " vertices";
}

TEST_F(NamedElements, ListMembersGoneBeforeTheListAreJudgedUnread) {
  for (const Row &row : kRows) EXPECT_EQ(vo_test::ForkedFault([&] { return RunRow(row); }), "") << row.title;
}

// Seeded lists mixing live loose vertices, destroyed ones (their chunks
// given back by the tidy), unnamed ring vertices and repeats: the destroy
// gives back each live member once, leaves the rest of the ring whole and
// reads no freed member.
TEST_F(NamedElements, SeededMixedListsGiveBackEachLiveMemberOnce) {
  for (uint32_t seed = 1; seed <= 16; ++seed)
    EXPECT_EQ(vo_test::ForkedFault([&]() -> std::string {
                std::mt19937 random(seed);
                Scene s;
                if (std::string fault = s.Make(); !fault.empty()) return fault;
                // The loose vertices of the last chunks go, so that those chunks go back.
                const size_t kept = s.pool->blocks_per_chunk;
                for (size_t i = kept; i < s.loose.size(); ++i)
                  if (VoVertexDestroy(s.p, s.loose[i]) != 0) return "a vertex was not destroyed";
                std::vector<void *> members, live;
                for (int i = 0, n = 1 + static_cast<int>(random() % 24); i < n; ++i) {
                  void *v = nullptr;
                  switch (random() % 3) {
                    case 0: v = s.loose[random() % kept]; break;
                    case 1: v = s.loose[kept + random() % (s.loose.size() - kept)]; break;
                    default: v = s.ring[4 + random() % 2]; break;
                  }
                  members.push_back(v);
                  if (random() % 4 == 0) members.push_back(v);
                }
                for (void *v : members)
                  if (std::find(s.loose.begin() + static_cast<long>(kept), s.loose.end(), v) == s.loose.end())
                    live.push_back(v);
                std::sort(live.begin(), live.end());
                live.erase(std::unique(live.begin(), live.end()), live.end());
                VtReference *list = VertexListOf(members);
                if (VoMemoryTidy() != 0 || s.pool->chunks > 2) return "the tidy gave no chunk back";
                const uint32_t in_use = s.pool->blocks_in_use;
                if (const VtStatus st = VoVertexReferenceListDestroy(s.p, list, 1); st != 0)
                  return "answered " + std::to_string(st);
                if (in_use - s.pool->blocks_in_use != live.size()) return "gave back the wrong count";
                std::vector<void *> ring = MeshBuild::Ring(s.p, VO_PRIM_VERTS, VO_VERT_NEXT), expected;
                for (VtVertex *v : s.ring)
                  if (!std::binary_search(live.begin(), live.end(), static_cast<void *>(v)))
                    expected.push_back(v);
                return ring == expected ? "" : "the ring is not what was left";
              }),
              "")
        << "seed " << seed;
}

}  // namespace
}  // namespace vo::test
