// The toolkit's wrapped image colour, "marlo wrapped image": an image
// wrapped over a surface by the current s and t, taken from an image in
// memory when one is given, else read from the file name. It is no module:
// an application registers the class by calling its creator. Evaluate does
// not look at the prepared flag: the texture is the one made at the last
// reset.

#include "shading/shaderlib/face.h"

namespace vo::shaderlib {

namespace {

constexpr ImageRegionArgs kMarloDefault{};

VtStatus MarloPrepare(void *block) {
  auto *b = static_cast<ImageRegionArgs *>(block);
  if (b->texture != nullptr) TextureDestroy(b->texture);
  b->texture = b->names.handle.image != nullptr ? TextureCreate(b->names.handle.image, 3)
                                                : TextureRead(b->names.fileName, 3);
  return 0;
}

VtStatus MarloInitialise(void *block) {
  auto *b = static_cast<ImageRegionArgs *>(block);
  b->names.handle.image = nullptr;
  b->imageRegion = 0;
  b->texture = nullptr;
  return 0;
}

VtStatus MarloRelease(void *block) {
  auto *b = static_cast<ImageRegionArgs *>(block);
  if (b->texture != nullptr) TextureDestroy(b->texture);
  b->texture = nullptr;
  return 0;
}

VtStatus MarloEvaluate(void *block) {
  TextureSamplePoint(VoShaderGetGlobals()->Co, 3, static_cast<ImageRegionArgs *>(block)->texture);
  return 0;
}
VtStatus MarloAreaEvaluate(void *block) {
  TextureSampleArea(VoShaderGetGlobals()->Co, 3, static_cast<ImageRegionArgs *>(block)->texture);
  return 0;
}

constexpr Field kMarloFields[] = {
    {VtString, offsetof(ImageRegionArgs, names.fileName)},
    {VtGenericPtr, offsetof(ImageRegionArgs, names.handle)},
    {VtBoolean, offsetof(ImageRegionArgs, imageRegion)},
};

constexpr Entries MarloEntries() {
  Entries e;
  e.evaluate = &MarloEvaluate;
  e.evaluateImage = &MarloAreaEvaluate;
  e.prepare = &MarloPrepare;
  e.initialise = &MarloInitialise;
  e.release = &MarloRelease;
  e.get = &TableGet<kMarloFields>;
  e.set = &ImageRegionArgumentsSet;
  e.create = &InstanceCreate<kMarloDefault>;
  e.destroy = &exported::VoShaderFileNameInstanceFree;
  return e;
}

constexpr const char *kMarloLabels[] = {"file name", "image", "image region"};
constexpr const char *kMarloMeanings[] = {
    "image file wrapped over the surface by s and t, read when no image is given",
    "image wrapped instead of the file; null uses the file", "stored and answered; not read"};
constexpr const char *kMarloGlobals[] = {"Co", "s", "t"};

const ClassDescription kMarlo{"vxs_marlo_wrapped_image_colour",
                              "marlo wrapped image",
                              VO_SHADER_COLOUR,
                              kMarloLabels,
                              kMarloMeanings,
                              kMarloGlobals,
                              MarloEntries()};

}  // namespace

}  // namespace vo::shaderlib

namespace vo {

VtStatus vxs_marlo_wrapped_image_colour() { return shaderlib::ClassCreate(shaderlib::kMarlo); }

}  // namespace vo
