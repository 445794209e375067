// Cutting one polygon into triangles: a fan around the last corner when no
// corner is reflex, else ear clipping. Each node a (b the next, c the one
// after) describes the triangle (a, b, c): its sign is negative when the
// corner at b is reflex, and its three planes through the triangle's edges
// have unit normals pointing into it. The ear cut is the one whose deepest
// reflex intruder lies least inside it; the triangles keep the corner order
// (c, b, a) of the fan. Never more than n - 2 triangles are made.
//
// Each candidate keeps its deepest intruder and how deep it lies. A cut
// changes the triangles of two nodes only, and the reflex corners by at most
// three (the corner cut away and its two neighbours), so after a cut the two
// changed nodes are measured again, a node whose deepest intruder stopped
// being reflex is measured again, and every other node only meets the
// corners that became reflex: the cuts of an n-corner polygon take quadratic
// time, not cubic, and choose the same ears as measuring every node again.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "backends/vod3d/d3d.h"
#include "kernel/vosystem/face.h"

namespace vo::d3d {

namespace {

struct D3 {
  double x, y, z;
};
// Not vec::Unit: a zero or NaN length gives (0, 0, 0), where vec::Unit gives
// a back with its signed zeros or NaNs.
inline D3 Unit(const D3 &a) {
  const double l = std::sqrt(vec::Dot(a, a));
  return l > 0 ? D3{a.x / l, a.y / l, a.z / l} : D3{0, 0, 0};
}

struct Node {
  uint32_t corner;  // the corner's number in the polygon
  uint32_t next, previous;
  D3 p;
  double sign;
  D3 plane_normal[3];
  double plane_offset[3];
  double intrusion;   // how deep the deepest reflex intruder lies (-DBL_MAX for none)
  uint32_t intruder;  // that intruder, or kNoIntruder
};

constexpr uint32_t kNoIntruder = UINT32_MAX;

struct Ring {
  Node *nodes;
  D3 normal;

  // Sign and planes of the triangle (a, b, c) described by node a.
  void Describe(uint32_t a) {
    Node &na = nodes[a];
    const Node &nb = nodes[na.next];
    const Node &nc = nodes[nb.next];
    const D3 ab = vec::Sub(nb.p, na.p), bc = vec::Sub(nc.p, nb.p), ca = vec::Sub(na.p, nc.p);
    na.sign = vec::Dot(vec::Cross(ab, bc), normal);
    const D3 *from[3] = {&na.p, &nb.p, &nc.p};
    const D3 edge[3] = {ab, bc, ca};
    for (int i = 0; i < 3; ++i) {
      na.plane_normal[i] = Unit(vec::Cross(normal, edge[i]));
      na.plane_offset[i] = vec::Dot(na.plane_normal[i], *from[i]);
    }
  }
  // The smallest signed distance of a point to node a's three planes.
  double Inside(uint32_t a, const D3 &w) const {
    const Node &na = nodes[a];
    double least = DBL_MAX;
    for (int i = 0; i < 3; ++i) {
      const double d = vec::Dot(na.plane_normal[i], w) - na.plane_offset[i];
      if (d < least) least = d;
    }
    return least;
  }
  bool CornerReflex(uint32_t w) const { return nodes[nodes[w].previous].sign < 0; }
  // Node a's deepest intruder among the reflex corners listed; the
  // intruders run from c to the node before a.
  void Measure(uint32_t a, const uint32_t *reflex, uint32_t reflex_count) {
    Node &na = nodes[a];
    na.intrusion = -DBL_MAX;
    na.intruder = kNoIntruder;
    for (uint32_t i = 0; i < reflex_count; ++i) Meet(a, reflex[i]);
  }
  // Node a meets one more reflex corner w.
  void Meet(uint32_t a, uint32_t w) {
    Node &na = nodes[a];
    if (w == a || w == na.next) return;
    const double inside = Inside(a, nodes[w].p);
    if (inside > na.intrusion) {
      na.intrusion = inside;
      na.intruder = w;
    }
  }
  // The reflex corners of the ring, from the node after start.
  uint32_t Reflex(uint32_t start, uint32_t count, uint32_t *reflex) const {
    uint32_t made = 0;
    uint32_t a = nodes[start].next;
    for (uint32_t k = 0; k < count; ++k, a = nodes[a].next)
      if (CornerReflex(a)) reflex[made++] = a;
    return made;
  }
};

// The fan around the node at anchor: (q1, q0, anchor), (q2, q1, anchor), ...
uint32_t Fan(const Ring &r, uint32_t anchor, uint32_t count, uint32_t *out) {
  uint32_t made = 0;
  uint32_t q = r.nodes[anchor].next;
  for (uint32_t i = 0; i + 2 < count; ++i) {
    const uint32_t q_next = r.nodes[q].next;
    out[3 * made] = r.nodes[q_next].corner;
    out[3 * made + 1] = r.nodes[q].corner;
    out[3 * made + 2] = r.nodes[anchor].corner;
    ++made;
    q = q_next;
  }
  return made;
}

}  // namespace

size_t TriangulateScratchBytes(uint32_t n) {
  return static_cast<size_t>(n) * (sizeof(Node) + sizeof(uint32_t));
}

uint32_t Triangulate(const float (*positions)[3], uint32_t n, void *scratch, uint32_t *out) {
  if (n < 3) return 0;
  Ring r{static_cast<Node *>(scratch), {0, 0, 0}};
  // The reflex corners of the ring, gathered after each cut.
  uint32_t *reflex_corners = reinterpret_cast<uint32_t *>(static_cast<Node *>(scratch) + n);
  for (uint32_t i = 0; i < n; ++i) {
    Node &node = r.nodes[i];
    node.corner = i;
    node.next = (i + 1) % n;
    node.previous = (i + n - 1) % n;
    node.p = {positions[i][0], positions[i][1], positions[i][2]};
  }
  for (uint32_t i = 1; i + 1 < n; ++i) {
    const D3 c = vec::Cross(vec::Sub(r.nodes[i].p, r.nodes[0].p), vec::Sub(r.nodes[i + 1].p, r.nodes[0].p));
    r.normal = {r.normal.x + c.x, r.normal.y + c.y, r.normal.z + c.z};
  }
  bool reflex = false;
  for (uint32_t i = 0; i < n; ++i) {
    r.Describe(i);
    reflex = reflex || r.nodes[i].sign < 0;
  }
  // The ring's current position: its last appended node.
  uint32_t position = n - 1;
  if (n == 3 || !reflex) return Fan(r, position, n, out);

  uint32_t count = n, made = 0;
  uint32_t reflex_count = r.Reflex(position, count, reflex_corners);
  for (uint32_t a = 0; a < n; ++a)
    if (!(r.nodes[a].sign < 0)) r.Measure(a, reflex_corners, reflex_count);
  while (count > 3) {
    bool any_reflex = false;
    uint32_t a = r.nodes[position].next;
    for (uint32_t k = 0; k < count && !any_reflex; ++k, a = r.nodes[a].next) any_reflex = r.nodes[a].sign < 0;
    if (!any_reflex) break;
    // The node whose deepest reflex intruder is least inside its triangle,
    // the first found on ties.
    uint32_t best = r.nodes[position].next;
    double best_intrusion = DBL_MAX;
    a = r.nodes[position].next;
    for (uint32_t k = 0; k < count; ++k, a = r.nodes[a].next) {
      const Node &na = r.nodes[a];
      if (na.sign < 0) continue;
      if (na.intrusion < best_intrusion) {
        best_intrusion = na.intrusion;
        best = a;
      }
    }
    if (!(best_intrusion < 1.0)) best = r.nodes[position].next;
    Node &na = r.nodes[best];
    const uint32_t b = na.next, c = r.nodes[b].next, before = na.previous;
    out[3 * made] = r.nodes[c].corner;
    out[3 * made + 1] = r.nodes[b].corner;
    out[3 * made + 2] = na.corner;
    ++made;
    // The corners at best and c may change from reflex to convex or back;
    // the corner at b leaves the ring.
    const bool was_reflex[3] = {r.CornerReflex(best), r.CornerReflex(b), r.CornerReflex(c)};
    na.next = c;
    r.nodes[c].previous = best;
    --count;
    r.Describe(best);
    r.Describe(before);
    position = before;
    const uint32_t changed[2] = {best, c};
    const bool is_reflex[2] = {r.CornerReflex(best), r.CornerReflex(c)};
    // Reflex corners that are no longer: b, which left the ring, and best or
    // c where the cut made them convex.
    const auto left = [&](uint32_t w) {
      return w == b || (w == best && was_reflex[0] && !is_reflex[0]) ||
             (w == c && was_reflex[2] && !is_reflex[1]);
    };
    reflex_count = r.Reflex(position, count, reflex_corners);
    a = r.nodes[position].next;
    for (uint32_t k = 0; k < count; ++k, a = r.nodes[a].next) {
      Node &node = r.nodes[a];
      if (a == best || a == before) {
        r.Measure(a, reflex_corners, reflex_count);
        continue;
      }
      // A node whose corner at its next is reflex is no candidate, and its
      // sign changes only when a cut next to it measures it again.
      if (node.sign < 0) continue;
      if (left(node.intruder)) {
        r.Measure(a, reflex_corners, reflex_count);
        continue;
      }
      if (is_reflex[0] && !was_reflex[0]) r.Meet(a, changed[0]);
      if (is_reflex[1] && !was_reflex[2]) r.Meet(a, changed[1]);
    }
  }
  return made + Fan(r, position, count, out + 3 * made);
}

}  // namespace vo::d3d
