// The NPR classes that compose other pieces: the "npr image" background
// (an NPR background sampled at the pixel), the "buffered image"
// background (a screen buffer's colour at the pixel) and the "two shaders"
// foreground (two foregrounds one after the other).
//
// Invariants a reader must know:
// - the pixel is floor(xp), floor(yp);
// - the buffered image leaves Cb as it is for a null buffer or a pixel
//   outside the buffer, without a diagnostic;
// - "two shaders" holds only live foregrounds that do not lead back to it
//   (2515, the argument kept otherwise), with a reference on each until it
//   lets go; past 16 nested composing shaders it does nothing (2516).

#include <vo/vo_screenbuf.h>

#include "render/vonpr/classes.h"

namespace vo::npr {

namespace {

using namespace shaderlib;

constexpr VtShaderWordArgs kWordDefault{};

VtStatus NprImageEvaluate(void *block) {
  const auto *b = static_cast<const VtShaderWordArgs *>(block);
  auto *background = static_cast<VtNPRBackground *>(b->word[0].p);
  if (background == nullptr) return 0;
  VtShaderGlobals *g = VoShaderGetGlobals();
  VtColour c{g->Cb[0], g->Cb[1], g->Cb[2]};
  (void)VoNPRBackgroundSample(background, PixelOf(g->xp), PixelOf(g->yp), &c);
  Set3(g->Cb, c.red, c.green, c.blue);
  return 0;
}

VtStatus WordInitialise(void *block) {
  auto *b = static_cast<VtShaderWordArgs *>(block);
  b->word[0].p = nullptr;
  b->word[1].p = nullptr;
  return 0;
}

VtStatus BufferedImageEvaluate(void *block) {
  const auto *b = static_cast<const VtShaderWordArgs *>(block);
  auto *buffer = static_cast<VtScreenBuffer *>(b->word[0].p);
  if (buffer == nullptr) return 0;
  VtShaderGlobals *g = VoShaderGetGlobals();
  const int32_t x = PixelOf(g->xp), y = PixelOf(g->yp);
  VtTypedValue w{}, h{};
  if (x < 0 || y < 0 || VoScreenBufferGetControl(buffer, 0x450001, &w) != 0 ||
      VoScreenBufferGetControl(buffer, 0x450002, &h) != 0 || static_cast<uint32_t>(x) >= w.value.u ||
      static_cast<uint32_t>(y) >= h.value.u)
    return 0;
  VtTypedValue c{};
  if (VoScreenBufferGetPixel(buffer, 1, static_cast<uint32_t>(x), static_cast<uint32_t>(y), &c) == 0)
    Copy3(g->Cb, c.value.v);
  return 0;
}

// ---- two shaders -------------------------------------------------------------

struct TwoShaders {
  int32_t prepared;
  int32_t pad;
  VtShader *shaders[2];
};
static_assert(offsetof(TwoShaders, shaders) == offsetof(VtShaderWordArgs, word));
constexpr TwoShaders kTwoShadersDefault{};
constexpr const char *kTwoShadersIdentifier = "vxs_two_shaders_foreground";
constexpr const char *kTwoShadersLabels[] = {"shader 1", "shader 2"};
constexpr const char *kTwoShadersMeanings[] = {"foreground shader run first",
                                               "foreground shader run second, on the first one's result"};

VtStatus TwoShadersSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr) return 0;
  auto *b = static_cast<TwoShaders *>(block);
  b->prepared = 0;
  if (value == nullptr || index > 1) return 0;
  return HeldShaderSet(&b->shaders[index], value, VO_SHADER_FOREGROUND, block, VO_MODULE_NPR,
                       kTwoShadersIdentifier, kTwoShadersLabels[index]);
}

VtStatus TwoShadersPrepare(void *block) {
  const auto *b = static_cast<const TwoShaders *>(block);
  for (VtShader *s : b->shaders)
    if (s != nullptr) (void)VoShaderReset(s);
  return 0;
}

VtStatus TwoShadersEvaluate(void *block) {
  const auto *b = static_cast<const TwoShaders *>(block);
  Nesting level;
  if (Nesting::Deep(VO_MODULE_NPR, kTwoShadersIdentifier)) return 0;
  for (VtShader *s : b->shaders)
    if (s != nullptr) (void)VoShaderExecute(s);
  return 0;
}

VtStatus TwoShadersDestroy(void *block) {
  if (block == nullptr) return 0;
  HeldShadersRelease(static_cast<TwoShaders *>(block)->shaders, 2);
  return exported::VoShaderInstanceFree(block);
}

constexpr Entries ImageEntries(VtShaderDataProc evaluate, bool initialised) {
  Entries e = DataEntries<kWordDefault>(evaluate, nullptr, &exported::VoShaderOneShaderArgumentGet,
                                        &exported::VoShaderOneArgumentSet);
  if (initialised) {
    e.initialise = &WordInitialise;
    e.release = &exported::VoProcedureNull;
  }
  return e;
}

constexpr Entries TwoShadersEntries() {
  Entries e = DataEntries<kTwoShadersDefault>(&TwoShadersEvaluate, &TwoShadersPrepare,
                                              &exported::VoShaderTwoShaderArgumentsGet, &TwoShadersSet);
  e.initialise = &WordInitialise;
  e.release = &exported::VoProcedureNull;
  e.destroy = &TwoShadersDestroy;
  return e;
}

constexpr const char *kNprImageLabels[] = {"background"};
constexpr const char *kNprImageMeanings[] = {
    "NPR background (paper or texture) sampled at each pixel; none leaves the background colour"};
constexpr const char *kBufferedImageLabels[] = {"buffer"};
constexpr const char *kBufferedImageMeanings[] = {
    "screen buffer whose colour at each pixel is the background"};
constexpr const char *kPixelGlobals[] = {"Cb", "xp", "yp"};

}  // namespace

const ClassDescription kBufferedImage{"vxs_buffered_image_background",
                                      "buffered image",
                                      VO_SHADER_BACKGROUND,
                                      kBufferedImageLabels,
                                      kBufferedImageMeanings,
                                      kPixelGlobals,
                                      ImageEntries(&BufferedImageEvaluate, false)};
const ClassDescription kNprImage{"vxs_npr_image_background",
                                 "npr image",
                                 VO_SHADER_BACKGROUND,
                                 kNprImageLabels,
                                 kNprImageMeanings,
                                 kPixelGlobals,
                                 ImageEntries(&NprImageEvaluate, true)};
const ClassDescription kTwoShaders{kTwoShadersIdentifier, "two shaders",       VO_SHADER_FOREGROUND,
                                   kTwoShadersLabels,     kTwoShadersMeanings, {},
                                   TwoShadersEntries()};

}  // namespace vo::npr
