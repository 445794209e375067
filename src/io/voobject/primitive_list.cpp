// The primitive list type (33): the list's meshes as a binary mesh file,
// compressed, then a transform and a material for each mesh saved.
//
// The mesh module writes and reads the file through its byte procedures,
// which are swapped for procedures over a memory stream of this module for
// the length of one save or load; those procedures, the mesh module's write
// mode and this module's stream are as they were after every save and load,
// also a failing one.
//
// Payload: a type-2 item with the compressed length, a type-2 item with the
// uncompressed length, the compressed bytes; then, for every mesh of the
// list in order (the meshes the file holds, in the file's order), a
// transform and a material item by reference (null for none and for the
// default material). Primitives other than meshes are not saved
// (0x20000000); a list without meshes is written with both lengths 0 and
// reads back as a null list with 0x20000000.
//
// A reader inflates at most 1,032 bytes per compressed byte (zlib's own
// ceiling) and less than 2 GiB, and makes room for the inflated bytes only
// once the compressed ones have arrived.

#include <new>
#include <vector>

#include <vo/vo_meshio.h>

#include "scene/vogeom/face.h"
#include "io/voobject/object.h"
#include "shading/voshader/face.h"
#include "kernel/vosystem/face.h"

namespace vo::object {

namespace {

constexpr uint32_t kLeftOut[8] = {0x10c, 0x211, 0x301, 0x307, 0x13d, 0x13e, 0x309, 0x212};
constexpr uint32_t kEdgesFlag = 0x100;
constexpr uint64_t kMostInflated = 0x7FFFFFFFu;

VtStatus Refused(VtStatus status, const char *reason) {
  Post(status, messages::kObjectRecordRefused, VO_MODULE_OBJECT_IO, uint32_t{VO_OBJECT_PRIMITIVE_LIST},
       reason);
  return status;
}

VtStatus BlobWrite(uint32_t count, const void *bytes) {
  ObjectState *st = State();
  if (st == nullptr || st->mesh_stream == nullptr) return kFailed;
  // A memory stream's write fails only when it cannot grow.
  return BytesWrite(st->mesh_stream, bytes, count) == 0 ? 0 : VO_STATUS_NO_MEMORY;
}

// Binary only: a text file is nothing this module writes.
VtStatus BlobRead(uint32_t *count, void *buffer) {
  ObjectState *st = State();
  if (st == nullptr || st->mesh_stream == nullptr || count == nullptr || *count == 0) return kFailed;
  return BytesRead(st->mesh_stream, buffer, *count);
}

// The mesh module's writer, reader and write mode swapped for ours over a
// memory stream, and all of them put back when the scope ends.
class MeshProcedures {
 public:
  MeshProcedures(ObjectState *st, VtObjectStream *stream) : st_(st), stream_(st->mesh_stream) {
    writer_ = VoCallBackGet(VO_CALLBACK_MESHIO_WRITE);
    reader_ = VoCallBackGet(VO_CALLBACK_MESHIO_READ);
    if (writer_ == nullptr || reader_ == nullptr || VoControlGet(VO_CONTROL_MESHIO_MODE, &mode_) != 0) return;
    st->mesh_stream = stream;
    VtTypedValue binary = mode_;
    binary.value.u = VO_MESH_MODE_BINARY;
    failure_ = VoCallBackSet(VO_CALLBACK_MESHIO_WRITE, reinterpret_cast<VtProc>(&BlobWrite));
    if (failure_ == 0) failure_ = VoCallBackSet(VO_CALLBACK_MESHIO_READ, reinterpret_cast<VtProc>(&BlobRead));
    if (failure_ == 0) failure_ = VoControlSet(VO_CONTROL_MESHIO_MODE, &binary);
  }
  ~MeshProcedures() {
    if (writer_ != nullptr && reader_ != nullptr) {
      (void)VoCallBackSet(VO_CALLBACK_MESHIO_WRITE, writer_);
      (void)VoCallBackSet(VO_CALLBACK_MESHIO_READ, reader_);
      if (mode_.type == VtEnum) (void)VoControlSet(VO_CONTROL_MESHIO_MODE, &mode_);
    }
    st_->mesh_stream = stream_;
  }
  MeshProcedures(const MeshProcedures &) = delete;
  MeshProcedures &operator=(const MeshProcedures &) = delete;
  bool Ok() const { return failure_ == 0; }
  // Why the swap failed (the mesh module missing: the stream's failure).
  VtStatus Failure() const { return failure_; }

 private:
  ObjectState *st_;
  VtObjectStream *stream_;
  VtProc writer_ = nullptr;
  VtProc reader_ = nullptr;
  VtTypedValue mode_{};
  VtStatus failure_ = kFailed;
};

// The primitives a save writes: a mesh with edge records is copied without
// them (or, when the saved primitives are to change themselves, changed);
// any other mesh is written as it is. The copies are freed with it.
struct Saved {
  std::vector<VtPrimitive *> meshes;       // the list's own, in order
  std::vector<VtPrimitive *> copies_made;  // copies among what is written
  VtReference *list = nullptr;             // what the mesh file is written from
  bool copies = true;
  ~Saved() {
    (void)VoPrimitiveReferenceDestroy(list, 0);
    for (VtPrimitive *c : copies_made) (void)VoPrimitiveDestroy(c);
  }
};

VtStatus MeshesTake(ObjectState *st, VtReference *list, Saved *saved) {
  VtStatus status = 0;
  saved->copies = st->in_place == 0;
  const VtStatus walked = ForEachNodeUntil(list, [&](VtReference *node) -> VtStatus {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (!PrimitiveLive(p)) return 0;
    if (PrimitiveType(p) != VO_PRIMITIVE_MESH) {
      status = kNotSaved;
      return 0;
    }
    // The codes of the list are written where the mesh holds them; a mesh
    // is not given properties it lacks (made-up vertex normals would change
    // how a flat mesh renders once loaded).
    VtPrimitive *written = p;
    VtContents *contents = nullptr;
    if ((p->flags & kEdgesFlag) == 0 && RingCount(p, VO_ELEMENT_EDGE) == 0) {
      // No edge records to leave out: the mesh is written as it is.
    } else if ((contents = VoContentsSubtract(VoPrimitiveGetContents(p), 8, kLeftOut)) == nullptr) {
      return kFailed;
    } else if (saved->copies) {
      written = VoPrimitiveCopy(p, contents);
      if (written == nullptr) return kFailed;
    } else if (VoPrimitiveSetContents(p, contents) != 0) {
      return kFailed;
    }
    written->flags &= ~kEdgesFlag;
    VtReference *entry = VoPrimitiveReferenceCreate(written);
    if (entry == nullptr) {
      if (written != p) (void)VoPrimitiveDestroy(written);
      return kFailed;
    }
    saved->list = VoPrimitiveReferenceAppend(saved->list, entry);
    if (written != p) saved->copies_made.push_back(written);
    saved->meshes.push_back(p);
    return 0;
  });
  return walked | status;
}

VtStatus ListWrite(VtObjectStream *s, uint32_t type_id, VtReference *list);

VtStatus ListEncode(const DataObjectType *, uint32_t type_id, void *value, VtObjectStream *s) {
  try {
    return ListWrite(s, type_id, static_cast<VtReference *>(value));
  } catch (const std::bad_alloc &) {
    return kFailed;
  }
}

VtStatus ListWrite(VtObjectStream *s, uint32_t type_id, VtReference *list) {
  ObjectState *st = State();
  if (list == nullptr || st == nullptr) return kFailed;
  Saved saved;
  VtStatus status = MeshesTake(st, list, &saved);
  if (Failed(status)) return kFailed;
  uint32_t lengths[2] = {0, 0};
  if (saved.meshes.empty()) {
    status |= ItemWrite(s, type_id, VO_OBJECT_NAT32, &lengths[0]);
    return Failed(status) ? status : status | ItemWrite(s, type_id, VO_OBJECT_NAT32, &lengths[1]) | kNotSaved;
  }
  VtObjectStream *blob = ChildCreate(s, nullptr, 0);
  if (blob == nullptr) return kFailed;
  blob->substitution = 0;
  VtStatus saving;
  {
    MeshProcedures swap(st, blob);
    saving = swap.Ok() ? VoMeshSave(saved.list, st->property_count, st->property_codes) : swap.Failure();
  }
  void *packed = nullptr;
  // Out of memory while saving or packing (compression fails for nothing
  // else) fails as a stream fails, posting nothing.
  if (saving == 0 && blob->used <= UINT32_MAX) {
    lengths[1] = static_cast<uint32_t>(blob->used);
    if (VoDataObjectCompress(blob->base, lengths[1], &packed, &lengths[0]) != 0) saving = VO_STATUS_NO_MEMORY;
  }
  StreamRelease(blob);
  if (saving == VO_STATUS_NO_MEMORY) return kFailed;
  if (saving != 0) return Refused(kFailed, "the meshes could not be written");
  status |= ItemWrite(s, type_id, VO_OBJECT_NAT32, &lengths[0]);
  if (!Failed(status)) status |= ItemWrite(s, type_id, VO_OBJECT_NAT32, &lengths[1]);
  if (!Failed(status)) status |= BytesWrite(s, packed, lengths[0]);
  VoDeallocate(packed);
  VtMaterial *fallback = shader::DefaultMaterialNow();
  for (VtPrimitive *p : saved.meshes) {
    if (Failed(status)) break;
    VtMaterial *material = VoPrimitiveGetMaterial(p);
    status |= ItemWrite(s, type_id, VO_OBJECT_TRANSFORM | VO_OBJECT_REFERENCE, VoPrimitiveGetTransform(p));
    if (!Failed(status))
      status |= ItemWrite(s, type_id, VO_OBJECT_MATERIAL | VO_OBJECT_REFERENCE,
                          material == fallback ? nullptr : material);
  }
  return status;
}

// Reads the compressed mesh file and loads it through a memory stream.
VtStatus MeshesLoad(VtObjectStream *s, uint32_t type_id, VtReference **list) {
  uint32_t packed = 0, length = 0;
  VtStatus st = ItemRead(s, type_id, VO_OBJECT_NAT32, &packed);
  if (!Failed(st)) st |= ItemRead(s, type_id, VO_OBJECT_NAT32, &length);
  if (Failed(st)) return st;
  if (packed == 0 && length == 0) return kNotSaved;  // a list without meshes
  const uint64_t room = s->limit == kNoLimit ? UINT64_MAX : s->limit - s->used;
  if (packed == 0 || packed > room || length == 0 || length > kMostInflation * packed ||
      length > kMostInflated)
    return Refused(kFailed, "compressed meshes of impossible lengths");
  // The compressed bytes arrive before the room they inflate into is made.
  uint8_t *compressed = nullptr;
  st = BlockRead(s, packed, &compressed);
  auto *inflated = st == 0 ? static_cast<uint8_t *>(VoAllocate(length)) : nullptr;
  if (st == 0 && inflated == nullptr) st = kFailed;
  if (st == 0) {
    // Out of memory while inflating fails as a stream fails, posting nothing.
    const VtStatus inflating = VoDataObjectDecompress(compressed, packed, inflated, length);
    if (inflating == VO_STATUS_NO_MEMORY)
      st = kFailed;
    else if (inflating != 0)
      st = Refused(kFailed, "compressed meshes that do not inflate to their length");
  }
  VoDeallocate(compressed);
  VtObjectStream *blob = st == 0 ? ChildCreate(s, inflated, length) : nullptr;
  if (blob == nullptr) {
    VoDeallocate(inflated);
    return kFailed;
  }
  blob->substitution = 0;
  blob->sums_on = 0;
  {
    MeshProcedures swap(State(), blob);
    if (swap.Ok()) *list = VoMeshLoad();
  }
  StreamRelease(blob);
  return *list != nullptr ? 0 : Refused(kFailed, "no mesh could be loaded");
}

// One transform and material pair for a loaded mesh. A transform read
// here for the first time is held by the mesh alone.
VtStatus PairRead(VtObjectStream *s, uint32_t type_id, VtPrimitive *p) {
  VtTransform *transform = nullptr;
  VtMaterial *material = nullptr;
  const uint32_t mark = MadeMark(s);
  VtStatus st = ItemRead(s, type_id, VO_OBJECT_TRANSFORM | VO_OBJECT_REFERENCE, &transform);
  if (!Failed(st)) st |= ItemRead(s, type_id, VO_OBJECT_MATERIAL | VO_OBJECT_REFERENCE, &material);
  if (Failed(st)) return st;
  if (transform != nullptr) {
    if (VoPrimitiveSetTransform(p, transform) != 0) return kFailed;
    if (MadeSince(s, mark, transform)) {
      MadeDisown(s, transform);
      (void)VoTransformDestroy(transform);
    }
  }
  if (material != nullptr && VoPrimitiveSetMaterial(p, material) != 0) return kFailed;
  return st;
}

// The list is made here and entered under the reference id just read once
// it is whole; on a failure its meshes go.
VtStatus ListDecode(const DataObjectType *t, uint32_t type_id, void *destination, uint32_t,
                    VtObjectStream *s) {
  auto **slot = static_cast<VtReference **>(destination);
  if (slot == nullptr) return kFailed;
  const uint32_t id = s->last_id_read;
  *slot = nullptr;
  VtReference *list = nullptr;
  VtStatus st = MeshesLoad(s, type_id, &list);
  if (list == nullptr) return st;
  // Pairs of meshes a failed load left out stay unread: the item's rest is
  // skipped with the warning bit.
  st |= ForEachNodeUntil(list, [&](VtReference *node) {
    const VtStatus pair = PairRead(s, type_id, static_cast<VtPrimitive *>(node->data));
    st |= pair & kNotSaved;
    return pair & kFailed;
  });
  if (Failed(st) || SharedEnter(s, id, list, t) != 0) {
    (void)VoPrimitiveReferenceDestroy(list, 1);
    return kFailed;
  }
  *slot = list;
  return st;
}

void ListFree(void *list) { (void)VoPrimitiveReferenceDestroy(static_cast<VtReference *>(list), 1); }

}  // namespace

VtStatus PrimitiveListRegister() {
  DataObjectType *t = nullptr;
  const VtStatus st = BuiltinCreate(VO_OBJECT_PRIMITIVE_LIST, sizeof(void *), &ListEncode, &ListDecode, &t);
  if (st != 0) return st;
  t->deallocator = &ListFree;
  t->flags = VO_OBJECT_FLAG_DECODER_CREATES;
  return 0;
}

}  // namespace vo::object
