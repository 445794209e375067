// Kernel-side helpers of the reference lists.
#pragma once

#include <cstdint>

#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo {

// Returns one node to the kernel's list-node pool.
void ReferenceNodeFree(VtReference *node);

// Removes the first entry of a ring the library made itself (no check):
// the body of VoShaderReferenceRemove and its siblings, for loops that
// drain their own lists.
VtReference *ReferenceRemoveFirst(VtReference *list, VtReference **entry);

// VoReferencePoolListDestroy and VoReferenceListCopy for the procedures
// built on them: the ring is checked and a refusal names the procedure.
VtStatus ReferenceListDestroy(VtPool *pool, VtReference *list, VtReferenceDestructor destructor,
                              const char *procedure);
VtReference *ReferenceListCopy(VtReference *list, VtReferenceCopyProc copy, const char *procedure);

// ---- Rings an application hands in ---------------------------------------
//
// An application may pass anything where a ring is expected: a node already
// destroyed, the address of a list pointer, a shader. Before a procedure
// walks such a ring it checks that the ring is one: following the links
// from the handle (and reading nothing else), every node is a non-null,
// aligned address and the walk comes back to the handle within as many
// steps as there are reference nodes alive. The count of live nodes is kept
// by the node procedures (made less given back), with no memory per node.
// A ring destroyed twice is caught while its nodes are still free in their
// pool: their links then lead along the pool's free list, which ends in
// null and never comes back. What the check cannot tell apart (nodes handed
// out again, memory given back to the system, blocks smaller than a node)
// is listed in docs/api.md.

// Reference nodes alive now (made by the node procedures, not yet given
// back); nodes of a sub-pool destroyed whole stay counted.
uint64_t ReferenceNodesLive();

// The number of nodes of the ring when it is one, 0 for a null ring, and
// kRingBroken otherwise.
constexpr uint64_t kRingBroken = UINT64_MAX;
uint64_t RingLength(const VtReference *ring);

// RingLength for a procedure's argument: a ring that is not one posts
// message 2890 naming the procedure (module 1) and answers false; else the
// node count goes to *length when given.
bool RingAccepted(const VtReference *ring, const char *procedure, uint64_t *length = nullptr);

// RingAccepted, then every element through ok(data); the first refused
// posts message 2891 (procedure, element, kind) with the module given and
// answers false. Nothing is changed either way.
template <class F>
bool RingAccepted(const VtReference *ring, const char *procedure, uint32_t module, const char *kind, F &&ok) {
  if (!RingAccepted(ring, procedure)) return false;
  if (ring == nullptr) return true;
  const VtReference *node = ring;
  do {
    node = node->next;
    if (!ok(node->data)) {
      Post(VO_STATUS_BAD_ARGUMENT, messages::kRingElementRefused, module, procedure,
           static_cast<const void *>(node->data), kind);
      return false;
    }
  } while (node != ring);
  return true;
}

// The kinds of ring the three append procedures join. A module whose live
// records can be told from any address without reading at it (a register
// of live addresses) gives that test for its kind once, at its start; an
// append of one kind refuses a handle whose element (the handle node's data
// or its next node's) is a live record of another kind given a test, with
// message 2891 (module 1) naming the kind due, and joins nothing: a light
// list joined to a primitive list would put shaders where a render reads
// primitives. Constant time, as an append is; a ring mixed past its first
// two nodes is the walking procedures' to refuse.
enum class RingKind : uint32_t { kShader, kPrimitive, kNPREdge, kCount };
using RingMemberTest = bool (*)(const void *data);
void RingKindTestSet(RingKind kind, RingMemberTest test);

// The nodes naming each record of a module that counts them: the kernel
// calls named(data) for every node made with a non-null datum and
// unnamed(data) for every node given back to its pool (a parked ring's at
// the outermost render's end), whatever the pool, so that the module keeps
// a record a list still names from being handed to another object (the
// geometry module parks a destroyed primitive's record until its last node
// goes). Both are asked of every node and must be cheap for data the module
// does not know. Null procedures (the module stopped) count nothing.
struct RingNameCount {
  void (*named)(const void *data);
  void (*unnamed)(const void *data);
};
void RingNameCountSet(RingNameCount count);

// Calls f(node) for every node of a reference ring, first node (the
// handle's next) to last (the handle); nothing for a null ring.
template <class F>
void ForEachNode(VtReference *ring, F &&f) {
  if (ring == nullptr) return;
  VtReference *node = ring;
  do {
    node = node->next;
    f(node);
  } while (node != ring);
}

// The same walk, stopped by the first node for which f answers a non-zero
// status; answers that status, or 0 when every node passed.
template <class F>
VtStatus ForEachNodeUntil(VtReference *ring, F &&f) {
  if (ring == nullptr) return 0;
  VtReference *node = ring;
  do {
    node = node->next;
    if (VtStatus s = f(node)) return s;
  } while (node != ring);
  return 0;
}

}  // namespace vo
