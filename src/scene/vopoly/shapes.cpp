// What the interface description cannot size of the polygon module's
// procedures, worked out from a call's arguments for the journal (after the
// call) and the command interpreter (before it): the counted arrays of a
// mesh and the vertex data behind its property records.

#include <cstring>

#include "scene/vopoly/polygons.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

template <class T>
T Arg(const void *const *argv, uint32_t i) {
  T v;
  std::memcpy(&v, argv[i], sizeof v);
  return v;
}

// The value type and the element count of one vertex property's data for
// this many vertices; false for a property without a description.
bool VertexData(uint32_t code, uint64_t vertices, api::VtApiShape *shape) {
  const char *name = nullptr;
  uint32_t type = 0, count = 0, bytes = 0;
  if (VoPropertyGetDescription(code, &name, &type, &count, &bytes) != 0 || count == 0) return false;
  shape->type = type;
  shape->count = vertices * count;
  // The registry's bytes per value, which the value-type table may not
  // give (a VtData property holds 32; types 33 to 36 and 40 are not in it).
  shape->unit = bytes / count;
  return true;
}

}  // namespace

// VoPrimitiveCreateMesh (faces, contours per face, vertices per contour,
// vertex indices, property count, property codes, property records). Each
// count is what the build reads of its array: the contours up to a negative
// count, after which it reads nothing more; indices only when every count
// is sound, and vertex data only when every index is. An array is read only
// up to the length an earlier parameter's count gives it, so a caller who
// checks the arrays in parameter order may ask before the call.
bool PolyMeshShape(const void *const *argv, uint32_t param, uint64_t element, api::VtApiShape *shape) {
  const auto faces = Arg<uint32_t>(argv, 0);
  const auto *contours = Arg<const int32_t *>(argv, 1);
  const auto *counts = Arg<const int32_t *>(argv, 2);
  const auto *indices = Arg<const int32_t *>(argv, 3);
  uint64_t contour_total = contours ? 0 : faces, index_total = 0;
  bool sound = true;
  for (uint32_t f = 0; contours != nullptr && f < faces && sound; ++f) {
    sound = contours[f] >= 0;
    if (sound) contour_total += static_cast<uint64_t>(contours[f]);
  }
  shape->type = VtInt32;
  if (param == 2) {
    shape->count = contour_total;
    return true;
  }
  if (counts == nullptr || !sound) return false;
  for (uint64_t c = 0; c < contour_total; ++c) {
    if (counts[c] < 0) return false;
    index_total += static_cast<uint64_t>(counts[c]);
  }
  if (param == 3) {
    shape->count = index_total;
    return true;
  }
  const auto *ids = Arg<const uint32_t *>(argv, 5);
  if (param != 6 || indices == nullptr || ids == nullptr || element >= Arg<uint32_t>(argv, 4)) return false;
  int64_t largest = -1;
  for (uint64_t i = 0; i < index_total; ++i) {
    if (indices[i] < 0 || static_cast<uint32_t>(indices[i]) >= poly::kVertexIndexLimit) return false;
    if (indices[i] > largest) largest = indices[i];
  }
  return VertexData(ids[element], static_cast<uint64_t>(largest + 1), shape);
}

// VoPrimitiveCreatePolygon (vertex count, property count, property codes,
// property records).
bool PolyPolygonShape(const void *const *argv, uint32_t param, uint64_t element, api::VtApiShape *shape) {
  const auto *ids = Arg<const uint32_t *>(argv, 2);
  if (param != 3 || ids == nullptr || element >= Arg<uint32_t>(argv, 1)) return false;
  return VertexData(ids[element], Arg<uint32_t>(argv, 0), shape);
}

// The set-property procedures: the typed value's data is one value of the
// property, at the parameter after the code.
bool PolyPropertyShape(const void *const *argv, uint32_t param, uint64_t element, api::VtApiShape *shape) {
  if (element != 0 || param == 0) return false;
  return VertexData(Arg<uint32_t>(argv, param - 1), 1, shape);
}

}  // namespace vo
