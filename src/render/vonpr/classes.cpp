// The NPR shader classes: the ordered table of the module's 21 creators and
// "z colour", a colour blended between two by the distance from the eye
// (the other classes have files of their own).
//
// Invariants a reader must know:
// - the creators run in table order; a row still empty registers nothing;
// - the post-process rows (type 0x440001) are skipped, with one debug
//   diagnostic, while the post-process stage has not brought that type;
// - "z colour" reads the current view's eye at every evaluation: material
//   shaders are prepared only after a set argument, so an eye read at
//   prepare would go stale when the view moves; its evaluation writes
//   nothing into the instance.

#include <cmath>
#include <cstring>
#include <iterator>

#include <vo/vo_view.h>

#include "render/vonpr/classes.h"
#include "render/vonpr/post.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

namespace {

using namespace shaderlib;

struct ZColour {
  int32_t prepared;
  float near_colour[3];
  float near_z;
  float far_colour[3];
  float far_z;
  VtShader *near_shader;
  VtShader *far_shader;
};

constexpr ZColour kZColourDefault{0, {0, 0, 0}, 0, {0, 0, 0}, 1000, nullptr, nullptr};

constexpr Field kZColourFields[] = {
    {VtColourType, offsetof(ZColour, near_colour), kFieldShadeable, offsetof(ZColour, near_shader)},
    {VtFloat, offsetof(ZColour, near_z)},
    {VtColourType, offsetof(ZColour, far_colour), kFieldShadeable, offsetof(ZColour, far_shader)},
    {VtFloat, offsetof(ZColour, far_z)},
};

VtStatus ZColourPrepare(void *block) {
  auto *b = static_cast<ZColour *>(block);
  if (b->near_shader != nullptr) (void)VoShaderReset(b->near_shader);
  if (b->far_shader != nullptr) (void)VoShaderReset(b->far_shader);
  return 0;
}

// Reads the instance without writing it: the colours a shader stands in for
// and the blend are worked out in locals, so one instance serves every
// worker of a threaded render.
VtStatus ZColourEvaluate(void *block) {
  const auto *b = static_cast<const ZColour *>(block);
  float near_colour[3], far_colour[3];
  Copy3(near_colour, b->near_colour);
  Copy3(far_colour, b->far_colour);
  int32_t flag = 1;
  ShadeableColour(near_colour, b->near_shader, &flag, false);
  ShadeableColour(far_colour, b->far_shader, &flag, false);
  VtShaderGlobals *g = VoShaderGetGlobals();
  VtTypedValue eye_value{};
  float eye[3] = {0, 0, 0};
  if (VoViewGetValue(VO_VIEW_VALUE_EYE, &eye_value) == 0 && eye_value.value.p != nullptr)
    Copy3(eye, static_cast<const float *>(eye_value.value.p));
  float d = 0;
  if (g->Pw != nullptr) {
    const float v[3] = {g->Pw[0] - eye[0], g->Pw[1] - eye[1], g->Pw[2] - eye[2]};
    d = Length(v);
  }
  const float range = b->far_z - b->near_z;
  if (d <= b->near_z) {
    Copy3(g->Co, near_colour);
  } else if (d >= b->far_z || !(range != 0)) {
    Copy3(g->Co, far_colour);
  } else {
    const float f = (d - b->near_z) / range;
    for (int i = 0; i < 3; ++i) g->Co[i] = near_colour[i] + (far_colour[i] - near_colour[i]) * f;
  }
  return 0;
}

constexpr const char *kZColourLabels[] = {"near colour", "near z", "far colour", "far z"};
constexpr const char *kZColourMeanings[] = {
    "colour at and nearer than the near distance; may be a colour shader",
    "distance from the eye where the blend begins",
    "colour at and beyond the far distance; may be a colour shader",
    "distance from the eye where the blend ends"};
constexpr const char *kColourGlobals[] = {"Co", "Pw"};

constexpr ClassDescription kZColour{
    "vxs_z_colour_colour",
    "z colour",
    VO_SHADER_COLOUR,
    kZColourLabels,
    kZColourMeanings,
    kColourGlobals,
    DataEntries<kZColourDefault>(&ZColourEvaluate, &ZColourPrepare, &TableGet<kZColourFields>,
                                 &TableSet<kZColourFields>)};

struct Creator {
  uint32_t type;
  const ClassDescription *description;  // null: not filled yet
};

// The module's classes in their order of registration.
constexpr Creator kCreators[21] = {
    {VO_SHADER_BACKGROUND, &kBufferedImage},
    {VO_SHADER_COLOUR, &kZColour},  // z colour
    {VO_SHADER_REFLECTANCE, &kPhongCartoon},
    {VO_SHADER_REFLECTANCE, &kPhongCartoon3},
    {VO_SHADER_TRANSPARENCY, &kEdgeTransparency},
    {VO_SHADER_REFLECTANCE, &kThreeBand},
    {VO_SHADER_REFLECTANCE, &kTechnical},
    {0x440001, &post::kPaintingClass},  // painting
    {0x440001, &post::kStippleClass},   // random stipple
    {0x440001, &post::kLicClass},       // line integral convolution
    {0x440001, &post::kLowpassClass},   // lowpass filter
    {VO_SHADER_COLOUR, &kPencilSeed},
    {0x440001, &post::kGridClass},  // random grid
    {VO_SHADER_TRANSPARENCY, &kShadowTransparency},
    {VO_SHADER_REFLECTANCE, &kShadowReflectance},
    {0x440001, &post::kPenClass},  // pen
    {VO_SHADER_COLOUR, &kNprSimpleWood},
    {VO_SHADER_COLOUR, &kNprBlueMarble},
    {VO_SHADER_BACKGROUND, &kNprImage},
    {VO_SHADER_FOREGROUND, &kTwoShaders},
    {VO_SHADER_FOREGROUND, &kAtmospheric},
};

}  // namespace

bool ArgumentRead(VtShader *shader, const char *label, VtTypedValue *value) {
  uint32_t count = 0;
  void *labels = nullptr;
  if (shader == nullptr || VoShaderEnquire(shader, nullptr, nullptr, &count, &labels) != 0 ||
      labels == nullptr)
    return false;
  for (uint32_t i = 0; i < count; ++i) {
    const char *l = static_cast<const char **>(labels)[i];
    if (l == nullptr || std::strcmp(l, label) != 0) continue;
    *value = VtTypedValue{};
    return VoShaderGetArg(shader, label, value) == 0;
  }
  return false;
}

void ClassesCreate() {
  const bool postprocess = PostprocessTypeKnown();
  if (!postprocess) Post(VO_CLASS_DEBUG, messages::kNprPostprocessUnknown, VO_MODULE_NPR);
  for (const Creator &c : kCreators) {
    if (c.description == nullptr || (c.type == 0x440001 && !postprocess)) continue;
    (void)ClassCreate(*c.description);
  }
}

}  // namespace vo::npr
