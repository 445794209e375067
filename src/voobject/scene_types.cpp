// The scene objects' data-object types: transform (22) as its matrix, view
// (32) as its pinhole and resolution. Both are written by reference; a read
// fills the object the type's allocator made.
//
// A view's payload holds no clipping or viewport: a view read back has the
// defaults for them.

#include <utility>

#include "voobject/object.h"

namespace vo::object {

namespace {

void *TransformAllocate(uint32_t) { return VoTransformCreate(); }
void TransformFree(void *t) { (void)VoTransformDestroy(static_cast<VtTransform *>(t)); }
void *ViewAllocate(uint32_t) { return VoViewCreate(); }
void ViewFree(void *v) { (void)VoViewDestroy(static_cast<VtView *>(v)); }

VtStatus TransformEncode(const DataObjectType *, uint32_t type_id, void *value, VtObjectStream *s) {
  if (value == nullptr) return kBad;
  double m[16];
  if (VoTransformGetMatrix(static_cast<VtTransform *>(value), m) != 0) return kBad;
  return ItemWrite(s, type_id, VO_OBJECT_MATRIX, m);
}

// The matrix becomes a transform that is concatenated onto the identity the
// allocator made.
VtStatus TransformDecode(const DataObjectType *, uint32_t type_id, void *destination, uint32_t,
                         VtObjectStream *s) {
  if (destination == nullptr) return kBad;
  double m[16];
  const VtStatus st = ItemRead(s, type_id, VO_OBJECT_MATRIX, m);
  if (Failed(st)) return st;
  VtTransform *t = VoTransformDefine(m);
  if (t == nullptr) return kBad;
  const VtStatus c = VoTransformConcatenate(static_cast<VtTransform *>(destination), t);
  (void)VoTransformDestroy(t);
  return c == 0 ? st : kBad;
}

VtStatus ViewEncode(const DataObjectType *, uint32_t type_id, void *value, VtObjectStream *s) {
  auto *view = static_cast<VtView *>(value);
  if (view == nullptr) return kBad;
  float eye[3], reference[3], up[3];
  int32_t projection = 0;
  double angle = 0, aspect = 0;
  uint32_t x = 0, y = 0;
  if (VoViewGetPinhole(view, eye, reference, up, &projection, &angle) != 0 ||
      VoViewGetResolution(view, &x, &y, &aspect) != 0)
    return kBad;
  uint32_t kind = static_cast<uint32_t>(projection);
  VtStatus st = ItemWrite(s, type_id, VO_OBJECT_POINT, eye);
  if (st == 0) st = ItemWrite(s, type_id, VO_OBJECT_POINT, reference);
  if (st == 0) st = ItemWrite(s, type_id, VO_OBJECT_VECTOR, up);
  if (st == 0) st = ItemWrite(s, type_id, VO_OBJECT_NAT32, &kind);
  if (st == 0) st = ItemWrite(s, type_id, VO_OBJECT_DOUBLE, &angle);
  if (st == 0) st = ItemWrite(s, type_id, VO_OBJECT_NAT32, &x);
  if (st == 0) st = ItemWrite(s, type_id, VO_OBJECT_NAT32, &y);
  if (st == 0) st = ItemWrite(s, type_id, VO_OBJECT_DOUBLE, &aspect);
  return st;
}

VtStatus ViewDecode(const DataObjectType *, uint32_t type_id, void *destination, uint32_t,
                    VtObjectStream *s) {
  auto *view = static_cast<VtView *>(destination);
  if (view == nullptr) return kBad;
  float eye[3], reference[3], up[3];
  double angle = 0, aspect = 0;
  uint32_t kind = 0, x = 0, y = 0;
  VtStatus st = 0;
  for (auto [word, at] : {std::pair<uint32_t, void *>{VO_OBJECT_POINT, eye},
                          {VO_OBJECT_POINT, reference},
                          {VO_OBJECT_VECTOR, up},
                          {VO_OBJECT_NAT32, &kind},
                          {VO_OBJECT_DOUBLE, &angle},
                          {VO_OBJECT_NAT32, &x},
                          {VO_OBJECT_NAT32, &y},
                          {VO_OBJECT_DOUBLE, &aspect}}) {
    st |= ItemRead(s, type_id, word, at);
    if (Failed(st)) return st;
  }
  if (VoViewSetPinhole(view, eye, reference, up, static_cast<int32_t>(kind), angle) != 0 ||
      VoViewSetResolution(view, x, y, aspect) != 0)
    return kBad;
  return st;
}

VtStatus SceneType(uint32_t id, BuiltinEncoder encode, BuiltinDecoder decode, VtDataObjectAllocator allocate,
                   VtDataObjectDeallocator release) {
  DataObjectType *t = nullptr;
  const VtStatus st = BuiltinCreate(id, sizeof(void *), encode, decode, &t);
  if (st != 0) return st;
  t->allocator = allocate;
  t->deallocator = release;
  return 0;
}

}  // namespace

VtStatus SceneTypesRegister() {
  VtStatus st =
      SceneType(VO_OBJECT_TRANSFORM, &TransformEncode, &TransformDecode, &TransformAllocate, &TransformFree);
  if (st == 0) st = SceneType(VO_OBJECT_VIEW, &ViewEncode, &ViewDecode, &ViewAllocate, &ViewFree);
  return st;
}

}  // namespace vo::object
