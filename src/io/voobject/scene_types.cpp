// The scene objects' data-object types: transform (22) as its matrix, shader
// (30) by class name and arguments, material (31) as its four shaders, view
// (32) as its pinhole and resolution, shader list (34) as its shaders in
// order, image (37) as its numbers and compressed pixels. All but the shader
// list are written by reference; the transform, material, view and image
// are filled after the type's allocator made them, the shader is made by its
// decoder.
//
// A view's payload holds no clipping or viewport: a view read back has the
// defaults for them. An image's two reserved words are its x and y offsets;
// its region goes out as x0, y0, x1, y1 and its mode is not saved.
//
// A goniometric light's "power" and "colour" are saved as they were set
// (the power as given, 0 while the file's is used; the colour as the
// filter), not as get answers them; files written before hold get's values
// and load as they always did.
//
// Arguments that hold addresses travel only where the address is an object
// the file can hold: a decal's shader and an "image" argument's image follow
// their typed value as items of their own. Any other address is a typed
// value that reads back as null when it was null and is skipped
// (0x20000000) otherwise.

#include <cstring>
#include <utility>

#include "output/vodriver/face.h"
#include "io/voobject/object.h"
#include "shading/voshader/face.h"
#include "shading/voshpro/face.h"
#include "kernel/vosystem/face.h"

namespace vo::object {

namespace {

void *TransformAllocate(uint32_t) { return VoTransformCreate(); }
void TransformFree(void *t) { (void)VoTransformDestroy(static_cast<VtTransform *>(t)); }
void *ViewAllocate(uint32_t) { return VoViewCreate(); }
void ViewFree(void *v) { (void)VoViewDestroy(static_cast<VtView *>(v)); }

VtStatus TransformEncode(const DataObjectType *, uint32_t type_id, void *value, VtObjectStream *s) {
  if (value == nullptr) return kFailed;
  double m[16];
  if (VoTransformGetMatrix(static_cast<VtTransform *>(value), m) != 0) return kFailed;
  return ItemWrite(s, type_id, VO_OBJECT_MATRIX, m);
}

// The matrix becomes a transform that is concatenated onto the identity the
// allocator made.
VtStatus TransformDecode(const DataObjectType *, uint32_t type_id, void *destination, uint32_t,
                         VtObjectStream *s) {
  if (destination == nullptr) return kFailed;
  double m[16];
  const VtStatus st = ItemRead(s, type_id, VO_OBJECT_MATRIX, m);
  if (Failed(st)) return st;
  VtTransform *t = VoTransformDefine(m);
  if (t == nullptr) return kFailed;
  const VtStatus c = VoTransformConcatenate(static_cast<VtTransform *>(destination), t);
  (void)VoTransformDestroy(t);
  return c == 0 ? st : kFailed;
}

VtStatus ViewEncode(const DataObjectType *, uint32_t type_id, void *value, VtObjectStream *s) {
  auto *view = static_cast<VtView *>(value);
  if (view == nullptr) return kFailed;
  float eye[3], reference[3], up[3];
  int32_t projection = 0;
  double angle = 0, aspect = 0;
  uint32_t x = 0, y = 0;
  if (VoViewGetPinhole(view, eye, reference, up, &projection, &angle) != 0 ||
      VoViewGetResolution(view, &x, &y, &aspect) != 0)
    return kFailed;
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
  if (view == nullptr) return kFailed;
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
    return kFailed;
  return st;
}

// ---- Shaders ----------------------------------------------------------------

void ShaderFree(void *shader) { (void)VoShaderDestroy(static_cast<VtShader *>(shader)); }

bool Named(const char *text, const char *name) { return text != nullptr && std::strcmp(text, name) == 0; }

// The item type of the object an address argument holds: a decal's
// shader, an "image" argument's image; 0 for an address that is not saved.
uint32_t AddressItem(const char *class_name, const char *label) {
  if (Named(class_name, "decal")) return VO_OBJECT_SHADER | VO_OBJECT_REFERENCE;
  if (Named(label, "image")) return VO_OBJECT_IMAGE | VO_OBJECT_REFERENCE;
  return 0;
}

VtStatus ArgumentWrite(VtObjectStream *s, uint32_t type_id, VtShader *shader, const char *class_name,
                       const char *label) {
  VtTypedValue v{};
  if (VoShaderGetArg(shader, label, &v) != 0) return kFailed;
  // A goniometric light's "power" and "colour" go out as set: get answers
  // them times the intensity and filtered, which a load would apply again.
  if (Named(class_name, "goniometric")) (void)pro::GoniometricSavedArgument(shader, label, &v);
  if (v.type == VtColourType) {
    // A colour driven by a shader goes out as that shader.
    VtTypedValue driven{};
    driven.type = VtShaderColour;
    if (VoShaderGetArg(shader, label, &driven) == 0 && driven.type == VtShaderColour &&
        driven.value.p != nullptr)
      v = driven;
  }
  VtStatus st = ItemWrite(s, type_id, VO_OBJECT_TYPED_VALUE, &v);
  if (Failed(st) || v.type != VtGenericPtr) return st;
  const uint32_t item = AddressItem(class_name, label);
  if (item == 0) return st;
  if (item == (VO_OBJECT_IMAGE | VO_OBJECT_REFERENCE) && v.value.p != nullptr &&
      !driver::ImageIsLive(static_cast<VtImage *>(v.value.p)))
    return kFailed;
  // The object follows: the address itself is restored from it.
  return (st & ~kNotSaved) | ItemWrite(s, type_id, item, v.value.p);
}

VtStatus ShaderEncode(const DataObjectType *, uint32_t type_id, void *value, VtObjectStream *s) {
  auto *shader = static_cast<VtShader *>(value);
  uint32_t code = 0, count = 0;
  if (shader == nullptr) return ItemWrite(s, type_id, VO_OBJECT_NAT32, &code);
  const char *name = nullptr;
  void *labels = nullptr;
  if (VoShaderEnquire(shader, &code, &name, &count, &labels) != 0 || name == nullptr ||
      (count != 0 && labels == nullptr))
    return kFailed;
  VtStatus st = ItemWrite(s, type_id, VO_OBJECT_NAT32, &code);
  if (st == 0) st = ItemWrite(s, type_id, VO_OBJECT_STRING, &name);
  if (st == 0) st = ItemWrite(s, type_id, VO_OBJECT_NAT32, &count);
  for (uint32_t i = 0; i < count && !Failed(st); ++i) {
    const char *label = static_cast<const char **>(labels)[i];
    st |= ItemWrite(s, type_id, VO_OBJECT_STRING, &label);
    if (!Failed(st)) st |= ArgumentWrite(s, type_id, shader, name, label);
  }
  return st;
}

// The strings and typed values a shader read takes apart.
struct ShaderParts {
  char *name = nullptr;
  char *label = nullptr;
  VtTypedValue value{};
  void Clear() {
    const DataObjectType *string = TypeFind(VO_OBJECT_STRING);
    ValueContentsRelease(string, &label);
    ValueContentsRelease(TypeFind(VO_OBJECT_TYPED_VALUE), &value);
    value = VtTypedValue{};
  }
  ~ShaderParts() {
    Clear();
    ValueContentsRelease(TypeFind(VO_OBJECT_STRING), &name);
  }
};

// One argument: its label, its typed value and the object that stands for
// an address; applied when whole. 0x20000000 for an argument skipped.
VtStatus ArgumentRead(VtObjectStream *s, uint32_t type_id, VtShader *shader, ShaderParts &parts) {
  parts.Clear();
  VtStatus st = ItemRead(s, type_id, VO_OBJECT_STRING, &parts.label);
  if (Failed(st)) return st;
  st = ItemRead(s, type_id, VO_OBJECT_TYPED_VALUE, &parts.value);
  if (Failed(st)) return st;
  if (parts.value.type == VtGenericPtr) {
    if (const uint32_t item = AddressItem(parts.name, parts.label)) {
      void *object = nullptr;
      st = ItemRead(s, type_id, item, &object);
      if (Failed(st)) return st;
      parts.value.value.p = object;
    }
  }
  if ((st & kNotSaved) != 0 || parts.value.type == VtFunc || shader == nullptr) return st;
  // A value the shader refuses is skipped like one that was not saved.
  return VoShaderSetArg(shader, parts.label, &parts.value) == 0 ? st : kNotSaved;
}

// The shader is made here and entered under the reference id just read.
// A class that is not installed: every item is read, the shader is null and
// the read gives 0x20000000.
VtStatus ShaderDecode(const DataObjectType *t, uint32_t type_id, void *destination, uint32_t,
                      VtObjectStream *s) {
  auto *slot = static_cast<VtShader **>(destination);
  if (slot == nullptr) return kFailed;
  const uint32_t id = s->last_id_read;
  *slot = nullptr;
  uint32_t code = 0, count = 0;
  VtStatus st = ItemRead(s, type_id, VO_OBJECT_NAT32, &code);
  if (Failed(st) || code == 0) return st;
  ShaderParts parts;
  st |= ItemRead(s, type_id, VO_OBJECT_STRING, &parts.name);
  if (!Failed(st)) st |= ItemRead(s, type_id, VO_OBJECT_NAT32, &count);
  if (Failed(st)) return st;
  VtShader *shader = nullptr;
  if (shader::ClassInstalled(code, parts.name)) {
    shader = VoShaderCreate(code, parts.name);
    if (shader == nullptr) return kFailed;
  } else {
    st |= kNotSaved;
  }
  for (uint32_t i = 0; i < count && !Failed(st); ++i) st |= ArgumentRead(s, type_id, shader, parts);
  if (Failed(st) || shader == nullptr) {
    if (shader != nullptr) (void)VoShaderDestroy(shader);
    return st;
  }
  if (SharedEnter(s, id, shader, t) != 0) {
    (void)VoShaderDestroy(shader);
    return kFailed;
  }
  *slot = shader;
  return st;
}

// ---- Materials -------------------------------------------------------------

constexpr uint32_t kMaterialSlots[4] = {VO_SHADER_COLOUR, VO_SHADER_REFLECTANCE, VO_SHADER_TRANSPARENCY,
                                        VO_SHADER_DISPLACEMENT};

void *MaterialAllocate(uint32_t) { return VoMaterialCreate(); }
void MaterialFree(void *m) { (void)VoMaterialDestroy(static_cast<VtMaterial *>(m)); }

VtStatus MaterialEncode(const DataObjectType *, uint32_t type_id, void *value, VtObjectStream *s) {
  auto *m = static_cast<VtMaterial *>(value);
  if (m == nullptr) return kFailed;
  VtStatus st = 0;
  for (uint32_t type : kMaterialSlots) {
    st |= ItemWrite(s, type_id, VO_OBJECT_SHADER | VO_OBJECT_REFERENCE, VoMaterialGetShader(m, type));
    if (Failed(st)) break;
  }
  return st;
}

// A shader read here for the first time belongs to the material alone: the
// reader's own hold goes.
VtStatus MaterialDecode(const DataObjectType *, uint32_t type_id, void *destination, uint32_t,
                        VtObjectStream *s) {
  auto *m = static_cast<VtMaterial *>(destination);
  if (m == nullptr) return kFailed;
  VtStatus st = 0;
  for (uint32_t n = 0; n < 4; ++n) {
    VtShader *shader = nullptr;
    const uint32_t mark = MadeMark(s);
    st |= ItemRead(s, type_id, VO_OBJECT_SHADER | VO_OBJECT_REFERENCE, &shader);
    if (Failed(st)) return st;
    if (shader == nullptr) continue;
    if (VoMaterialSetShader(m, shader) != 0) return kFailed;
    if (MadeSince(s, mark, shader)) {
      MadeDisown(s, shader);
      (void)VoShaderDestroy(shader);
    }
  }
  return st;
}

// ---- Shader lists ------------------------------------------------------------

// The value is the list's address; only members that hold a shader go out.
VtStatus ShaderListEncode(const DataObjectType *, uint32_t type_id, void *value, VtObjectStream *s) {
  if (value == nullptr) return kFailed;
  VtReference *list = nullptr;
  std::memcpy(&list, value, sizeof list);
  uint32_t count = 0;
  ForEachNode(list, [&](VtReference *node) { count += node->data != nullptr ? 1 : 0; });
  VtStatus st = ItemWrite(s, type_id, VO_OBJECT_NAT32, &count);
  ForEachNodeUntil(list, [&](VtReference *node) -> VtStatus {
    if (Failed(st) || node->data == nullptr) return Failed(st) ? st : 0;
    st |= ItemWrite(s, type_id, VO_OBJECT_SHADER, node->data);
    return Failed(st) ? st : 0;
  });
  return st;
}

// A new list in file order; a shader that could not be made is left out
// (0x20000000). On a failure only the list's nodes go here: the shaders are
// the record's, which gives them back.
VtStatus ShaderListDecode(const DataObjectType *, uint32_t type_id, void *destination, uint32_t,
                          VtObjectStream *s) {
  if (destination == nullptr) return kFailed;
  uint32_t count = 0;
  VtStatus st = ItemRead(s, type_id, VO_OBJECT_NAT32, &count);
  VtReference *list = nullptr;
  for (uint32_t i = 0; i < count && !Failed(st); ++i) {
    VtShader *shader = nullptr;
    st |= ItemRead(s, type_id, VO_OBJECT_SHADER, &shader);
    if (Failed(st) || shader == nullptr) continue;
    VtReference *node = VoShaderReferenceCreate(shader);
    if (node == nullptr) {
      st |= kFailed;
      break;
    }
    list = VoShaderReferenceAppend(list, node);
  }
  // Until the record is whole the nodes are the record's too: a record that
  // fails after this item gives them back.
  static const DataObjectType kNodes = [] {
    DataObjectType t{};
    t.deallocator = [](void *nodes) {
      (void)VoReferenceListDestroy(static_cast<VtReference *>(nodes), nullptr);
    };
    return t;
  }();
  if (!Failed(st) && list != nullptr && MadeAppend(s, 0, list, &kNodes) != 0) st |= kFailed;
  if (Failed(st)) {
    (void)VoReferenceListDestroy(list, nullptr);
    return st;
  }
  std::memcpy(destination, &list, sizeof list);
  return st;
}

// ---- Images ----------------------------------------------------------------

constexpr uint32_t kImageVersion = 2;

void *ImageAllocate(uint32_t) { return VoImageCreate(); }
void ImageFree(void *image) { (void)VoImageDestroy(static_cast<VtImage *>(image)); }

VtStatus Refused(VtStatus status, uint32_t type, const char *reason) {
  Post(status, messages::kObjectRecordRefused, VO_MODULE_OBJECT_IO, type, reason);
  return status;
}

// Bytes of one row without padding, or 0 for a depth or width no image has.
uint64_t RowBytes(int64_t width, int64_t bits) {
  if ((bits != 8 && bits != 24) || width <= 0) return 0;
  return static_cast<uint64_t>((bits + 7) / 8) * static_cast<uint64_t>(width);
}

VtStatus NumberWrite(VtObjectStream *s, int32_t n) {
  auto w = static_cast<uint32_t>(n);
  return VoDataObjectWrite(VO_OBJECT_NAT32, &w, s);
}

VtStatus NumberRead(VtObjectStream *s, int32_t *n) {
  uint32_t w = 0;
  const VtStatus st = VoDataObjectRead(VO_OBJECT_NAT32, &w, s);
  *n = static_cast<int32_t>(w);
  return st;
}

// Rows go out without padding, whatever the image's own stride.
VtStatus ImageEncode(const DataObjectType *, uint32_t, void *value, VtObjectStream *s) {
  auto *image = static_cast<VtImage *>(value);
  if (image == nullptr || !driver::ImageIsLive(image)) return kFailed;
  if (image->width == 0 || image->height == 0 || image->data == nullptr) {
    VtStatus st = NumberWrite(s, 0);
    return st | NumberWrite(s, 0);
  }
  const uint64_t row = RowBytes(image->width, image->bits);
  if (row == 0 || image->height < 0 || image->bytes_per_row < 0 ||
      static_cast<uint64_t>(image->bytes_per_row) < row)
    return Refused(kFailed, VO_OBJECT_IMAGE, "an image of a depth or size no file holds");
  const uint64_t bytes = row * static_cast<uint64_t>(image->height);
  if (bytes > UINT32_MAX || row > INT32_MAX) return Refused(kFailed, VO_OBJECT_IMAGE, "an image over 4 GiB");
  uint8_t *packed = image->data;
  if (static_cast<uint64_t>(image->bytes_per_row) != row) {
    packed = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes)));
    if (packed == nullptr) return kFailed;
    for (int32_t y = 0; y < image->height; ++y)
      std::memcpy(packed + y * row,
                  image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_row), row);
  }
  void *compressed = nullptr;
  uint32_t length = 0;
  VtStatus st = VoDataObjectCompress(packed, static_cast<uint32_t>(bytes), &compressed, &length);
  if (packed != image->data) VoDeallocate(packed);
  if (st != 0) return kFailed;
  for (int32_t n :
       {image->width, image->height, image->bits, image->xoffset, image->yoffset, static_cast<int32_t>(row),
        image->x0, image->y0, image->x1, image->y1, static_cast<int32_t>(length)}) {
    st |= NumberWrite(s, n);
    if (Failed(st)) break;
  }
  if (!Failed(st)) st |= BytesWrite(s, compressed, length);
  VoDeallocate(compressed);
  return st;
}

// The compressed pixels inflated into the image's data. Inflating may run
// out of memory: that fails as a stream fails, posting nothing; pixels
// that do not inflate are the file's fault and are refused.
VtStatus PixelsInflate(const uint8_t *compressed, uint64_t stored, uint8_t *pixels, uint64_t bytes) {
  const VtStatus st = VoDataObjectDecompress(const_cast<uint8_t *>(compressed), static_cast<uint32_t>(stored),
                                             pixels, static_cast<uint32_t>(bytes));
  if (st == 0 || st == VO_STATUS_NO_MEMORY) return st == 0 ? 0 : kFailed;
  return Refused(kFailed, VO_OBJECT_IMAGE, "an image whose pixels do not inflate to its size");
}

// Every size is checked in 64 bits against what the record can hold before
// a block is allocated, and rows are read with the stride they were written
// with: 8 or 24 bits, bytes per row = bytes per pixel x width, a
// compressed length inside the record that can inflate to the pixels (a
// few hostile bytes do not make a block of gigabytes). The stored bytes
// arrive before the image's pixels are allocated. A version-1 file holds
// the pixels raw.
VtStatus ImageDecode(const DataObjectType *, uint32_t, void *destination, uint32_t version,
                     VtObjectStream *s) {
  auto *image = static_cast<VtImage *>(destination);
  if (image == nullptr) return kFailed;
  int32_t width = 0, height = 0;
  VtStatus st = NumberRead(s, &width);
  if (st == 0) st = NumberRead(s, &height);
  if (st != 0) return st;
  if (width == 0 && height == 0) return 0;
  int32_t n[8] = {};
  for (int32_t &w : n)
    if ((st = NumberRead(s, &w)) != 0) return st;
  const int32_t bits = n[0], row = n[3];
  const uint64_t packed = RowBytes(width, bits);
  if (packed == 0 || height <= 0 || static_cast<uint64_t>(row) != packed || row <= 0)
    return Refused(kFailed, VO_OBJECT_IMAGE, "an image of a depth, size or bytes per row no image has");
  const uint64_t bytes = packed * static_cast<uint64_t>(height);
  const uint64_t room = s->limit == kNoLimit ? UINT64_MAX : s->limit - s->used;
  int32_t length = 0;
  if (version >= kImageVersion && (st = NumberRead(s, &length)) != 0) return st;
  const uint64_t stored = version >= kImageVersion ? static_cast<uint32_t>(length) : bytes;
  if (bytes > UINT32_MAX || stored > room)
    return Refused(kFailed, VO_OBJECT_IMAGE, "an image larger than its record");
  if (version >= kImageVersion && bytes > kMostInflation * stored)
    return Refused(kFailed, VO_OBJECT_IMAGE, "an image whose compressed pixels cannot inflate to its size");
  uint8_t *read = nullptr;
  if (BlockRead(s, static_cast<size_t>(stored), &read) != 0) return kFailed;
  image->width = width;
  image->height = height;
  image->bits = bits;
  if (driver::ImageReaderAllocate(image) != 0 || static_cast<uint64_t>(image->bytes_per_row) != packed) {
    VoDeallocate(read);
    return kFailed;
  }
  if (version < kImageVersion)
    std::memcpy(image->data, read, static_cast<size_t>(bytes));
  else
    st = PixelsInflate(read, stored, image->data, bytes);
  VoDeallocate(read);
  if (st != 0) return kFailed;
  image->xoffset = n[1];
  image->yoffset = n[2];
  image->x0 = n[4];
  image->y0 = n[5];
  image->x1 = n[6];
  image->y1 = n[7];
  image->mode = 0;
  return 0;
}

VtStatus SceneType(uint32_t id, BuiltinEncoder encode, BuiltinDecoder decode, VtDataObjectAllocator allocate,
                   VtDataObjectDeallocator release, uint32_t flags = 0, uint32_t version = 1) {
  DataObjectType *t = nullptr;
  const VtStatus st = BuiltinCreate(id, sizeof(void *), encode, decode, &t);
  if (st != 0) return st;
  if (allocate != nullptr) t->allocator = allocate;
  if (release != nullptr) t->deallocator = release;
  t->flags = flags;
  t->version = version;
  return 0;
}

}  // namespace

VtStatus SceneTypesRegister() {
  VtStatus st =
      SceneType(VO_OBJECT_TRANSFORM, &TransformEncode, &TransformDecode, &TransformAllocate, &TransformFree);
  if (st == 0)
    st = SceneType(VO_OBJECT_SHADER, &ShaderEncode, &ShaderDecode, nullptr, &ShaderFree,
                   VO_OBJECT_FLAG_DECODER_CREATES);
  if (st == 0)
    st = SceneType(VO_OBJECT_MATERIAL, &MaterialEncode, &MaterialDecode, &MaterialAllocate, &MaterialFree);
  if (st == 0) st = SceneType(VO_OBJECT_VIEW, &ViewEncode, &ViewDecode, &ViewAllocate, &ViewFree);
  if (st == 0) st = PrimitiveListRegister();
  if (st == 0) st = SceneType(VO_OBJECT_SHADER_LIST, &ShaderListEncode, &ShaderListDecode, nullptr, nullptr);
  if (st == 0)
    st = SceneType(VO_OBJECT_IMAGE, &ImageEncode, &ImageDecode, &ImageAllocate, &ImageFree, 0, kImageVersion);
  return st;
}

}  // namespace vo::object
