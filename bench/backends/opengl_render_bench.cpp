// Frames of the OpenGL back end (execute 0x6f0001): the sphere grids of
// sphere_grid.h (40 and 400 spheres, 10^5 and 10^6 triangles) at 1024 x 768,
// one distant light, the image target kept (target mode 1), the read-back
// into the image included, in display-list modes 0 (strips), 2 (triangles)
// and 1 (a display list per sphere). Beside them a plain OpenGL program on
// the same surfaceless EGL, framebuffer and lighting (mesa_peer.h) drawing
// the same triangles in immediate mode, from one display list and with
// glDrawElements, reading the picture back as well. Run with
// LP_NUM_THREADS=0 and with the default (LP_NUM_THREADS unset runs with 1
// here: give the core count to compare), LIBGL_ALWAYS_SOFTWARE=1.
#include <benchmark/benchmark.h>

#include "mesa_peer.h"
#include "software_gl.h"
#include "sphere_grid.h"
#include "output/voogldrv/ogldrv.h"

namespace {

using vo::bench::Spheres;

constexpr int kWidth = 1024, kHeight = 768;
constexpr GLfloat kDistant[4] = {0.3f, 0.5f, 1.0f, 0.0f};

// The library started into a 1024 x 768 image, the OpenGL back end ready,
// the target kept; one scene at a time.
struct Library {
  VtImage *image = nullptr;
  int spheres = 0;
  std::vector<VtPrimitive *> made;
  VtReference *scene = nullptr;
  VtMaterial *plastic = nullptr;

  Library() {
    vo::bench::SoftwareGlEnvironment();
    vo::VoInitialise();
    vo::VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&vo::VoCallBackNull));
    image = vo::VoImageCreate();
    image->width = kWidth;
    image->height = kHeight;
    vo::VoImageAllocateData(image);
    vo::VoDriverSet(vo::VoDriverFindFromName("vodrvimg"));
    VtTypedValue v = vo::TypedPointer(image);
    vo::VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
    VtShader *sun = vo::VoShaderCreate(VO_SHADER_LIGHT, "distant");
    VtTypedValue from{}, to{};
    from.type = to.type = VtPoint;
    for (int i = 0; i < 3; ++i) from.value.v[i] = kDistant[i];
    vo::VoShaderSetArg(sun, "location", &from);
    vo::VoShaderSetArg(sun, "to", &to);
    vo::VoLightListSet(vo::VoShaderReferenceCreate(sun));
    plastic = vo::bench::PlasticMake();
    VtTypedValue mode = vo::TypedWord(VtEnum, 1);
    vo::VoControlSet(vo::ogldrv::kControlMode, &mode);
    vo::VoOGLDrvImageInitialise(image, 0);
    vo::VoOpenGLInitialise();
  }
  void Scene(int n) {
    if (n == spheres) return;
    vo::VoPrimitiveListSet(nullptr);
    if (scene != nullptr) vo::VoReferenceListDestroy(scene, nullptr);
    for (VtPrimitive *p : made) vo::VoPrimitiveDestroy(p);
    made.clear();
    const Spheres g(n);
    scene = vo::bench::SceneMake(g, made);
    for (VtPrimitive *p : made) vo::VoPrimitiveSetMaterial(p, plastic);
    vo::VoPrimitiveListSet(scene);
    vo::bench::ViewFitted(kWidth, kHeight);
    spheres = n;
  }
};

Library &Lib() {
  static Library lib;
  return lib;
}

void Render(benchmark::State &state, uint32_t list_mode) {
  Library &lib = Lib();
  lib.Scene(static_cast<int>(state.range(0)));
  VtTypedValue mode = vo::TypedWord(VtEnum, list_mode);
  vo::VoControlSet(VO_CONTROL_OPENGL_DISPLAY_LIST, &mode);
  VtTypedValue threshold = vo::TypedWord(VtNat32, 20);
  vo::VoControlSet(VO_CONTROL_OPENGL_LIST_THRESHOLD, &threshold);
  if (vo::VoExecute(VO_EXECUTE_OPENGL_RENDER) != 0) {  // strips, copies and lists made before timing
    state.SkipWithError("the OpenGL render failed");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_OPENGL_RENDER));
  state.counters["triangles"] = Spheres(static_cast<int>(state.range(0))).Triangles();
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void LibraryStrips(benchmark::State &state) { Render(state, 0); }
void LibraryTriangles(benchmark::State &state) { Render(state, 2); }
void LibraryDisplayLists(benchmark::State &state) { Render(state, 1); }

// ---- The plain program ---------------------------------------------------------

enum class Way { kImmediate, kList, kArrays };

void Plain(benchmark::State &state, Way way) {
  Lib();  // the same process state as the library's runs
  static vo::bench::MesaPeer mesa(kWidth, kHeight);
  if (!mesa.Current()) {
    state.SkipWithError("no surfaceless EGL with desktop OpenGL");
    return;
  }
  const Spheres g(static_cast<int>(state.range(0)));
  std::vector<GLuint> indices;
  for (int s = 0; s < g.count; ++s)
    for (int32_t i : g.indices) indices.push_back(static_cast<GLuint>(s * g.vertices_each + i));
  glViewport(0, 0, kWidth, kHeight);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glShadeModel(GL_SMOOTH);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glLightfv(GL_LIGHT0, GL_POSITION, kDistant);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const int columns = static_cast<int>(std::ceil(std::sqrt(g.count * 4.0 / 3.0)));
  glOrtho(-1.5, 2.5 * columns, -1.5, 2.5 * ((g.count + columns - 1) / columns), -10, 10);
  glMatrixMode(GL_MODELVIEW);
  const auto immediate = [&] {
    glBegin(GL_TRIANGLES);
    for (GLuint i : indices) {
      glNormal3fv(&g.normal[3 * i]);
      glVertex3fv(&g.world[3 * i]);
    }
    glEnd();
  };
  GLuint list = 0;
  if (way == Way::kList) {
    list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    immediate();
    glEndList();
  }
  glVertexPointer(3, GL_FLOAT, 0, g.world.data());
  glNormalPointer(GL_FLOAT, 0, g.normal.data());
  std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    switch (way) {
      case Way::kImmediate: immediate(); break;
      case Way::kList: glCallList(list); break;
      case Way::kArrays:
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_INT, indices.data());
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_NORMAL_ARRAY);
        break;
    }
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  }
  if (list != 0) glDeleteLists(list, 1);
  state.counters["triangles"] = g.Triangles();
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void PlainImmediate(benchmark::State &state) { Plain(state, Way::kImmediate); }
void PlainList(benchmark::State &state) { Plain(state, Way::kList); }
void PlainArrays(benchmark::State &state) { Plain(state, Way::kArrays); }

}  // namespace

BENCHMARK(LibraryStrips)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LibraryTriangles)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LibraryDisplayLists)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainImmediate)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainList)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainArrays)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();
