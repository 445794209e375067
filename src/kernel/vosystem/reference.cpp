// Reference lists: rings of {next, data} nodes from the kernel's list-node
// pool, named by their last node.

#include "kernel/vosystem/reference.h"

namespace vo {

static_assert(offsetof(VtReference, next) == 0 && offsetof(VtReference, data) == 8 &&
                  sizeof(VtReference) == 16,
              "reference nodes are read by layout");

namespace {

VtReference *NodeCreate(VtPool *pool, void *data) {
  if (pool == nullptr) return nullptr;
  auto *node = static_cast<VtReference *>(VoPoolAllocate(pool));
  if (node == nullptr) return nullptr;
  node->next = node;
  node->data = data;
  return node;
}

VtReference *Append(VtReference *a, VtReference *b) {
  if (b == nullptr) return a;
  if (a == nullptr) return b;
  VtReference *first_of_a = a->next;
  a->next = b->next;
  b->next = first_of_a;
  return b;
}

VtReference *RemoveFirst(VtReference *list, VtReference **entry) {
  if (entry == nullptr) return list;  // nowhere to hand the node out
  if (list == nullptr) {
    *entry = nullptr;
    return nullptr;
  }
  VtReference *first = list->next;
  if (first != list) {
    list->next = first->next;
    first->next = first;
    *entry = first;
    return list;
  }
  *entry = list;
  return nullptr;
}

VtStatus ListDestroy(VtPool *pool, VtReference *list, VtReferenceDestructor destructor) {
  if (list == nullptr) return 0;
  // From the handle node round the ring; each next is read before its node
  // goes back to the pool, and the end is found by address alone.
  const uintptr_t stop = reinterpret_cast<uintptr_t>(list);
  VtReference *node = list;
  do {
    VtReference *next = node->next;
    if (destructor != nullptr && node->data != nullptr) destructor(node->data);
    VoPoolFree(pool, node);
    node = next;
  } while (reinterpret_cast<uintptr_t>(node) != stop);
  return 0;
}

}  // namespace

// A node goes back to the kernel's list-node pool.
void ReferenceNodeFree(VtReference *node) {
  if (node != nullptr) VoPoolFree(VoReferencePoolGet(), node);
}

VtReference *VoReferenceNodeCreate(void *data) { return NodeCreate(VoReferencePoolGet(), data); }
VtReference *VoShaderReferenceCreate(void *data) { return VoReferenceNodeCreate(data); }
VtReference *VoPrimitiveReferenceCreate(void *data) { return VoReferenceNodeCreate(data); }
VtReference *VoNPREdgeReferenceCreate(void *data) { return VoReferenceNodeCreate(data); }
VtReference *VoReferencePoolNodeCreate(VtPool *pool, void *data) { return NodeCreate(pool, data); }

VtReference *VoShaderReferenceAppend(VtReference *a, VtReference *b) { return Append(a, b); }
VtReference *VoPrimitiveReferenceAppend(VtReference *a, VtReference *b) { return Append(a, b); }
VtReference *VoNPREdgeReferenceAppend(VtReference *a, VtReference *b) { return Append(a, b); }

VtReference *VoShaderReferenceRemove(VtReference *list, VtReference **entry) {
  return RemoveFirst(list, entry);
}
VtReference *VoPrimitiveReferenceRemove(VtReference *list, VtReference **entry) {
  return RemoveFirst(list, entry);
}
VtReference *VoNPREdgeReferenceRemove(VtReference *list, VtReference **entry) {
  return RemoveFirst(list, entry);
}

VtReference *VoReferenceListRemoveData(VtReference *list, void *data) {
  if (list == nullptr) return nullptr;
  VtReference *previous = list;
  VtReference *node = list->next;
  for (;;) {
    if (node->data == data) {
      if (node == previous) {  // the only node
        ReferenceNodeFree(node);
        return nullptr;
      }
      previous->next = node->next;
      VtReference *handle = (node == list) ? previous : list;
      ReferenceNodeFree(node);
      return handle;
    }
    if (node == list) return list;  // every node looked at
    previous = node;
    node = node->next;
  }
}

VtStatus VoReferenceListDestroy(VtReference *list, VtReferenceDestructor destructor) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  return ListDestroy(VoReferencePoolGet(), list, destructor);
}

VtStatus VoReferencePoolListDestroy(VtPool *pool, VtReference *list, VtReferenceDestructor destructor) {
  return ListDestroy(pool, list, destructor);
}

VtReference *VoReferenceListCopy(VtReference *list, VtReferenceCopyProc copy) {
  if (list == nullptr) return nullptr;
  VtPool *pool = VoReferencePoolGet();
  VtReference *head = nullptr, *last = nullptr;
  VtReference *node = list;
  do {
    VtReference *made = NodeCreate(pool, copy ? copy(node->data) : node->data);
    if (made == nullptr) {
      if (head != nullptr) {
        last->next = head;
        ListDestroy(pool, head, nullptr);
      }
      return nullptr;
    }
    if (head == nullptr)
      head = made;
    else
      last->next = made;
    last = made;
    node = node->next;
  } while (node != list);
  last->next = head;  // the copy of the handle node is the handle
  return head;
}

VtReference *VoReferenceListCreateFromArray(uint32_t count, void **array) {
  if (count == 0 || array == nullptr) return nullptr;
  VtReference *list = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    if (array[i] == nullptr) continue;
    VtReference *node = VoReferenceNodeCreate(array[i]);
    if (node == nullptr) {
      VoReferenceListDestroy(list, nullptr);
      return nullptr;
    }
    list = Append(list, node);
  }
  return list;
}

}  // namespace vo
