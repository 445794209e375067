// The OpenGL back end's materials: texture making from 256^2 and 1024^2
// images with an image transparency weighing the colour ("wrapped image"),
// beside gluScaleImage alone on the same image (the peer); 10^5 sends of
// material records, alternating between two and repeating one; and the
// first-frame look-up of the caches of 10^4 primitives over 10^3
// materials. Run with LP_NUM_THREADS=0 and LIBGL_ALWAYS_SOFTWARE=1, as the
// tests do.
#include <benchmark/benchmark.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdlib>
#include <vector>

#include "software_gl.h"
#include "output/voogldrv/ogldrv.h"
#include "backends/voopengl/opengl.h"
#include "kernel/vosystem/kernel.h"

namespace {

struct Library {
  VtImage *target = nullptr;
  Library() {
    vo::bench::SoftwareGlEnvironment();
    vo::VoInitialise();
    vo::VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&vo::VoCallBackNull));
    VtDriverRecord *d = vo::VoDriverFindFromName("vodrvimg");
    vo::VoDriverSet(d);
    target = vo::VoImageCreate();
    target->width = target->height = 8;
    VtTypedValue v = vo::TypedPointer(target);
    vo::VoDriverSetControl(d, VO_CONTROL_DRIVER_IMAGE, &v);
    vo::VoViewSetResolution(nullptr, 8, 8, 1.0);
    vo::VoOpenGLInitialise();
    vo::VoOGLDrvImageBegin();  // a context current for the whole program
    vo::opengl::Context()->texture_size = 4096;
  }
};

Library &Lib() {
  static Library lib;
  return lib;
}

VtImage *Picture(int32_t side, uint8_t seed) {
  VtImage *i = vo::VoImageCreate();
  i->width = i->height = side;
  vo::VoImageAllocateData(i);
  const size_t n = static_cast<size_t>(i->bytes_per_row) * static_cast<size_t>(side);
  for (size_t k = 0; k < n; ++k) i->data[k] = static_cast<uint8_t>(k * 7 + seed);
  return i;
}

void TextureMaking(benchmark::State &state) {
  VtOpenGLContext *c = (Lib(), vo::opengl::Context());
  const auto side = static_cast<int32_t>(state.range(0));
  VtImage *colour = Picture(side, 1), *mask = Picture(side, 2);
  for (auto _ : state) {
    int32_t w = 0, h = 0;
    GLuint name = vo::opengl::TextureMake(c, VtTextureSource{3, {0, 0, 0}, colour},
                                          VtTextureSource{3, {0, 0, 0}, mask}, false, &w, &h);
    glDeleteTextures(1, &name);
  }
  vo::VoImageDestroy(colour);
  vo::VoImageDestroy(mask);
}
BENCHMARK(TextureMaking)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond);

// The peer: the same image scaled to the same size by GLU alone.
void ScaleImagePeer(benchmark::State &state) {
  Lib();
  const auto side = static_cast<int32_t>(state.range(0));
  VtImage *colour = Picture(side, 1);
  std::vector<uint8_t> out(static_cast<size_t>(side) * static_cast<size_t>(side) * 3);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  for (auto _ : state)
    benchmark::DoNotOptimize(gluScaleImage(GL_RGB, side, side, GL_UNSIGNED_BYTE, colour->data, side, side,
                                           GL_UNSIGNED_BYTE, out.data()));
  vo::VoImageDestroy(colour);
}
BENCHMARK(ScaleImagePeer)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond);

VtGLMaterialRecord Plain(float red) {
  VtGLMaterialRecord r{};
  r.diffuse[0] = red;
  r.diffuse[3] = r.ambient[3] = r.specular[3] = r.emission[3] = 1;
  r.shininess = red * 100 + 1;
  return r;
}

// 10^5 sends a round: alternating between two records, or one repeated.
void Sends(benchmark::State &state) {
  VtOpenGLContext *c = (Lib(), vo::opengl::Context());
  VtGLMaterialRecord a = Plain(0.25f), b = Plain(0.75f);
  const bool alternate = state.range(0) != 0;
  for (auto _ : state) {
    for (int i = 0; i < 100000; ++i) vo::opengl::RecordSend(c, alternate && (i & 1) ? &b : &a);
  }
  c->current_record = nullptr;
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(Sends)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The look-up of a first frame: every primitive finds (or makes) its
// material's cache.
void FirstFrameLookup(benchmark::State &state) {
  VtOpenGLContext *c = (Lib(), vo::opengl::Context());
  std::vector<VtMaterial *> materials;
  std::vector<VtShader *> shaders;
  for (int m = 0; m < 1000; ++m) {
    VtShader *s = vo::VoShaderCreate(VO_SHADER_COLOUR, "plain");
    VtTypedValue v{};
    v.type = VtColourType;
    v.value.v[0] = static_cast<float>(m) / 1000.0f;
    vo::VoShaderSetArg(s, "colour", &v);
    VtMaterial *material = vo::VoMaterialCreate();
    vo::VoMaterialSetShader(material, s);
    materials.push_back(material);
    shaders.push_back(s);
  }
  static const float xyz[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const uint32_t code = VO_VERT_WORLD;
  VtTypedValue data = vo::TypedPointer(const_cast<float(*)[3]>(xyz));
  std::vector<VtPrimitive *> primitives;
  for (int p = 0; p < 10000; ++p) {
    VtPrimitive *t = vo::VoPrimitiveCreatePolygon(3, 1, &code, &data);
    vo::VoPrimitiveSetMaterial(t, materials[static_cast<size_t>(p * 7919 % 1000)]);
    vo::VoOpenGLPrimitiveSetProceduralClass(t, nullptr, 0);
    primitives.push_back(t);
  }
  for (auto _ : state) {
    for (VtPrimitive *p : primitives) {
      VtOpenGLMaterialCache *k = nullptr;
      vo::opengl::CacheLookup(c, p, &k);
    }
    state.PauseTiming();
    for (VtPrimitive *p : primitives) vo::VoOpenGLPrimitiveInvalidate(p, VO_OPENGL_INVALID_MATERIAL);
    state.ResumeTiming();
  }
  for (VtPrimitive *p : primitives) vo::VoPrimitiveDestroy(p);
  for (VtMaterial *m : materials) vo::VoMaterialDestroy(m);
  for (VtShader *s : shaders) vo::VoShaderDestroy(s);
}
BENCHMARK(FirstFrameLookup)->Unit(benchmark::kMillisecond);

}  // namespace
