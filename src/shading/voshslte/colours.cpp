// The colours (plain, wrapped image, wrapped filtered image) and the
// backgrounds (none, plain, graduated, image).
//
// The image background takes only images it can read safely: a live image
// of the framework with pixels, a non-zero size, 8 or 24 bits and rows at
// least as long as their pixels; anything else is no image (black) and is
// reported when prepared. An image given is the application's, which may
// destroy it at any time: the background keeps the image's generation from
// when it was given, and takes the image only while the framework answers
// that generation for it (live, or destroyed during the running render and
// readable until the outermost one ends), so that a new image made at the
// same address is not taken for it. The prepare and each image's start
// (its prerender, which the shader kernel runs before the lights' maps are
// rendered, since a map render reads the background too) ask the same.
// Pixels are addressed by the image's own bytes per row; xp and yp are
// floored (non-finite: 0) and wrapped into the image; 8-bit pixels are grey.

#include <cmath>

#include "shading/voshslte/voshslte.h"
#include "kernel/vosystem/face.h"

namespace vo::shaderlib {

namespace {

struct WrappedFiltered {
  VtShaderFileNameArgs names;  // handle.texture: the texture read at prepare
  float filter[3];
  VtShader *filterShader;
};

struct Graduated {
  int32_t prepared;
  float top[3];
  float bottom[3];
  VtShader *topShader;
  VtShader *bottomShader;
};

struct ImageBackground {
  VtShaderFileNameArgs names;  // handle.image: the image argument
  VtImage *inUse;
  VtImage *read;   // read from the file, owned
  uint64_t given;  // the image argument's generation when it was set; 0: none
};

constexpr VtShaderColourArg kPlainColourDefault{0, {1, 1, 1}, nullptr};
constexpr VtShaderColourArg kPlainBackgroundDefault{0, {0, 0, 0}, nullptr};
constexpr VtShaderFileNameArgs kWrappedDefault{};
constexpr WrappedFiltered kWrappedFilteredDefault{{}, {1, 1, 1}, nullptr};
constexpr Graduated kGraduatedDefault{0, {0, 0, 0}, {1, 1, 1}, nullptr, nullptr};
constexpr ImageBackground kImageDefault{};

constexpr Field kWrappedFilteredFields[] = {
    {VtString, offsetof(WrappedFiltered, names.fileName)},
    {VtColourType, offsetof(WrappedFiltered, filter), kFieldShadeable,
     offsetof(WrappedFiltered, filterShader)},
};
constexpr Field kGraduatedFields[] = {
    {VtColourType, offsetof(Graduated, top), kFieldShadeable, offsetof(Graduated, topShader)},
    {VtColourType, offsetof(Graduated, bottom), kFieldShadeable, offsetof(Graduated, bottomShader)},
};
constexpr Field kImageFields[] = {
    {VtString, offsetof(ImageBackground, names.fileName)},
    {VtGenericPtr, offsetof(ImageBackground, names.handle)},
};

// The shadeable colours below are evaluated into locals: an instance is
// read-only while it shades (workers of a threaded pass share it).
VtStatus PlainColourEvaluate(void *block) {
  auto *b = static_cast<VtShaderColourArg *>(block);
  float colour[3];
  Copy3(colour, b->colour);
  ShadeableColour(colour, b->shader, &b->prepared, false);
  ShadedKeep(b->colour, colour, b->shader);
  Copy3(VoShaderGetGlobals()->Co, colour);
  return 0;
}

VtStatus WrappedImageEvaluate(void *block) {
  TextureSamplePoint(VoShaderGetGlobals()->Co, 3, static_cast<VtShaderFileNameArgs *>(block)->handle.texture);
  return 0;
}
VtStatus WrappedImageAreaEvaluate(void *block) {
  TextureSampleArea(VoShaderGetGlobals()->Co, 3, static_cast<VtShaderFileNameArgs *>(block)->handle.texture);
  return 0;
}

VtStatus WrappedFilteredPrepare(void *block) {
  auto *b = static_cast<WrappedFiltered *>(block);
  if (b->filterShader != nullptr) (void)VoShaderReset(b->filterShader);
  return VoShaderTextureReadPrepare(b);
}

template <void (*Sample)(float *, uint32_t, VtTexture *)>
VtStatus WrappedFilteredEvaluate(void *block) {
  auto *b = static_cast<WrappedFiltered *>(block);
  float filter[3];
  Copy3(filter, b->filter);
  ShadeableColour(filter, b->filterShader, &b->names.prepared, false);
  ShadedKeep(b->filter, filter, b->filterShader);
  if (b->names.prepared == 0) {
    (void)WrappedFilteredPrepare(b);
    b->names.prepared = 1;
  }
  float *co = VoShaderGetGlobals()->Co;
  Sample(co, 3, b->names.handle.texture);
  for (int i = 0; i < 3; ++i) co[i] *= filter[i];
  return 0;
}

VtStatus NoneBackgroundPrepare(void *) {
  Set3(VoShaderGetGlobals()->Cb, 0, 0, 0);
  return 0;
}

VtStatus PlainBackgroundPrepare(void *block) {
  auto *b = static_cast<VtShaderColourArg *>(block);
  if (b->shader != nullptr) (void)VoShaderReset(b->shader);
  Copy3(VoShaderGetGlobals()->Cb, b->colour);
  return 0;
}

VtStatus PlainBackgroundEvaluate(void *block) {
  auto *b = static_cast<VtShaderColourArg *>(block);
  float colour[3];
  Copy3(colour, b->colour);
  ShadeableColour(colour, b->shader, &b->prepared, false);
  ShadedKeep(b->colour, colour, b->shader);
  if (b->prepared == 0) {
    (void)PlainBackgroundPrepare(b);
    b->prepared = 1;
  }
  Copy3(VoShaderGetGlobals()->Cb, colour);
  return 0;
}

VtStatus GraduatedEvaluate(void *block) {
  auto *b = static_cast<Graduated *>(block);
  float top[3], bottom[3];
  Copy3(top, b->top);
  Copy3(bottom, b->bottom);
  ShadeableColour(top, b->topShader, &b->prepared, false);
  ShadeableColour(bottom, b->bottomShader, &b->prepared, false);
  ShadedKeep(b->top, top, b->topShader);
  ShadedKeep(b->bottom, bottom, b->bottomShader);
  VtShaderGlobals *g = VoShaderGetGlobals();
  for (int i = 0; i < 3; ++i) g->Cb[i] = top[i] + (bottom[i] - top[i]) * g->yi;
  return 0;
}

VtImage *UsableOrNull(VtImage *image) {
  if (image == nullptr) return nullptr;
  const char *why = ImageRefusal(image);
  if (why == nullptr) return image;
  Post(VO_CLASS_WARNING, messages::kImageUnusable, VO_MODULE_SUPER_LITE, why);
  return nullptr;
}

// The image argument while it is the image given and readable, else null
// with the warning.
VtImage *GivenOrNull(const ImageBackground *b) {
  VtImage *image = b->names.handle.image;
  const bool given = b->given != 0 && ImageGeneration(image) == b->given;
  const char *why = given ? ImagePixelsRefusal(image) : "not a live image";
  if (why == nullptr) return image;
  Post(VO_CLASS_WARNING, messages::kImageUnusable, VO_MODULE_SUPER_LITE, why);
  return nullptr;
}

VtStatus ImageArgumentSet(void *block, uint32_t index, VtTypedValue *value) {
  auto *b = static_cast<ImageBackground *>(block);
  const VtStatus st = ImageArgumentsStore(block, index, value);
  if (index == 1 && value != nullptr) b->given = ImageGeneration(b->names.handle.image);
  return st;
}

VtStatus ImageRelease(void *block) {
  auto *b = static_cast<ImageBackground *>(block);
  if (b->read != nullptr) (void)VoImageDestroy(b->read);
  if (b->inUse == b->read) b->inUse = nullptr;
  b->read = nullptr;
  return 0;
}

VtStatus ImagePrepare(void *block) {
  auto *b = static_cast<ImageBackground *>(block);
  if (b->names.handle.image != nullptr) {
    b->inUse = GivenOrNull(b);
    return 0;
  }
  (void)ImageRelease(b);
  b->inUse = nullptr;
  const char *name = b->names.fileName;
  if (name == nullptr || name[0] == '\0') return 0;
  b->read = VoImageRead(name);
  b->inUse = UsableOrNull(b->read);
  return 0;
}

// The image given may be destroyed between renders while the prepared flag
// stays, so each image looks at it again before any pixel is shaded (once
// per image, whatever holds the shader).
VtStatus ImagePrerender(void *block) {
  auto *b = static_cast<ImageBackground *>(block);
  if (b->inUse != nullptr && b->inUse != b->read) b->inUse = GivenOrNull(b);
  return 0;
}

VtStatus ImageInitialise(void *block) {
  auto *b = static_cast<ImageBackground *>(block);
  b->names.handle.image = nullptr;
  b->inUse = b->read = nullptr;
  b->given = 0;
  return 0;
}

// floor(x) wrapped into [0, n); non-finite x is 0.
std::size_t Wrapped(float x, int32_t n) {
  if (!std::isfinite(x)) return 0;
  const double m = std::fmod(std::floor(static_cast<double>(x)), static_cast<double>(n));
  return static_cast<std::size_t>(m < 0 ? m + n : m);
}

VtStatus ImageEvaluate(void *block) {
  const auto *b = static_cast<const ImageBackground *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const VtImage *im = b->inUse;
  if (im == nullptr) {
    Set3(g->Cb, 0, 0, 0);
    return 0;
  }
  const std::size_t x = Wrapped(g->xp, im->width), y = Wrapped(g->yp, im->height);
  const std::size_t bytes = static_cast<std::size_t>(im->bits / 8);
  const uint8_t *p = im->data + y * static_cast<std::size_t>(im->bytes_per_row) + x * bytes;
  constexpr float kByte = 0.003921569f;
  for (int i = 0; i < 3; ++i) g->Cb[i] = static_cast<float>(p[bytes == 3 ? i : 0]) * kByte;
  return 0;
}

constexpr Entries ImageEntries() {
  Entries e =
      DataEntries<kImageDefault>(&ImageEvaluate, &ImagePrepare, &TableGet<kImageFields>, &ImageArgumentSet);
  e.initialise = &ImageInitialise;
  e.release = &ImageRelease;
  e.prerender = &ImagePrerender;
  e.destroy = &exported::VoShaderFileNameInstanceFree;
  return e;
}

constexpr Entries WrappedEntries() {
  Entries e;
  e.evaluate = &WrappedImageEvaluate;
  e.evaluateImage = &WrappedImageAreaEvaluate;
  e.prepare = &exported::VoShaderTextureReadPrepare;
  e.initialise = &exported::VoShaderTextureClear;
  e.release = &exported::VoShaderTextureRelease;
  e.get = &exported::VoShaderFileNameArgumentGet;
  e.set = &exported::VoShaderFileNameArgumentSet;
  e.create = &InstanceCreate<kWrappedDefault>;
  e.destroy = &exported::VoShaderFileNameInstanceFree;
  return e;
}

constexpr Entries WrappedFilteredEntries() {
  Entries e = WrappedEntries();
  e.evaluate = &WrappedFilteredEvaluate<&TextureSamplePoint>;
  e.evaluateImage = &WrappedFilteredEvaluate<&TextureSampleArea>;
  e.prepare = &WrappedFilteredPrepare;
  e.get = &TableGet<kWrappedFilteredFields>;
  e.set = &TableSet<kWrappedFilteredFields>;
  e.create = &InstanceCreate<kWrappedFilteredDefault>;
  return e;
}

constexpr Entries NoneBackgroundEntries() {
  Entries e = DataEntries<kEmptyDefault>(&exported::VoProcedureNull, &NoneBackgroundPrepare, &ArgumentNone,
                                         &ArgumentNone);
  return e;
}

constexpr const char *kImageLabels[] = {"file name", "image"};
constexpr const char *kImageMeanings[] = {
    "image file laid pixel for pixel behind the scene and repeated; read when no image is given",
    "image to lay behind the scene instead of the file; null uses the file"};
constexpr const char *kGraduatedLabels[] = {"top colour", "bottom colour"};
constexpr const char *kGraduatedMeanings[] = {
    "background colour at the top row; may be a colour shader",
    "background colour at the bottom row, blended linearly from the top; may be a colour shader"};
constexpr const char *kColourLabel[] = {"colour"};
constexpr const char *kColourMeaning[] = {
    "colour of every pixel no primitive covers; may be a colour shader"};
constexpr const char *kPlainColourMeanings[] = {"the surface colour; may be a colour shader"};
constexpr const char *kFileNameLabel[] = {"file name"};
constexpr const char *kFileNameMeaning[] = {"image file wrapped over the surface by s and t (none: black)"};
constexpr const char *kFilteredLabels[] = {"file name", "filter colour"};
constexpr const char *kFilteredMeanings[] = {
    "image file wrapped over the surface by s and t (none: black)",
    "colour the image's colour is multiplied by; may be a colour shader"};
constexpr const char *kImageGlobals[] = {"Cb", "xp", "yp"};
constexpr const char *kGraduatedGlobals[] = {"Cb", "yi"};
constexpr const char *kCb[] = {"Cb"};
constexpr const char *kCo[] = {"Co"};
constexpr const char *kWrappedGlobals[] = {"Co", "s", "t"};

const ClassDescription kColours[] = {
    {"vxs_image_background", "image", VO_SHADER_BACKGROUND, kImageLabels, kImageMeanings, kImageGlobals,
     ImageEntries()},
    {"vxs_graduated_background", "graduated", VO_SHADER_BACKGROUND, kGraduatedLabels, kGraduatedMeanings,
     kGraduatedGlobals,
     DataEntries<kGraduatedDefault>(&GraduatedEvaluate, nullptr, &TableGet<kGraduatedFields>,
                                    &TableSet<kGraduatedFields>)},
    {"vxs_plain_background", "plain", VO_SHADER_BACKGROUND, kColourLabel, kColourMeaning, kCb,
     DataEntries<kPlainBackgroundDefault>(&PlainBackgroundEvaluate, &PlainBackgroundPrepare,
                                          &exported::VoShaderColourArgumentGet,
                                          &exported::VoShaderColourArgumentSet)},
    {"vxs_none_background", "none", VO_SHADER_BACKGROUND, {}, {}, kCb, NoneBackgroundEntries()},
    {"vxs_wrapped_image_colour", "wrapped image", VO_SHADER_COLOUR, kFileNameLabel, kFileNameMeaning,
     kWrappedGlobals, WrappedEntries()},
    {"vxs_wrapped_filtered_image_colo", "wrapped filtered image", VO_SHADER_COLOUR, kFilteredLabels,
     kFilteredMeanings, kWrappedGlobals, WrappedFilteredEntries()},
    {"vxs_plain_colour", "plain", VO_SHADER_COLOUR, kColourLabel, kPlainColourMeanings, kCo,
     DataEntries<kPlainColourDefault>(&PlainColourEvaluate, nullptr, &exported::VoShaderColourArgumentGet,
                                      &exported::VoShaderColourArgumentSet)},
};

}  // namespace

std::span<const ClassDescription> ColourClasses() { return kColours; }

bool ColourOfPointAlone(VtShaderDataProc evaluate, const void *data) {
  return evaluate == &PlainColourEvaluate && data != nullptr &&
         static_cast<const VtShaderColourArg *>(data)->shader == nullptr;
}

}  // namespace vo::shaderlib
