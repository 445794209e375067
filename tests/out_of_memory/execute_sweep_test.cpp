// The allocation-failure sweep over every execute code the library answers,
// enumerated at run time from the modules' own code lists: each code runs
// over a scene of one polygon and one mesh, two lights and a 16 x 16 view,
// drawn both into an image through the image driver and into a current
// screen buffer with depth; with each of its allocations failing in turn it
// must answer the memory status, and the next call without a failure the
// same picture. What a code needs besides (a post-process list, an edge
// list, a window, a started OpenGL back end) is made around its sweep.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_geometry.h>
#include <vo/vo_kernel.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>
#include <vo/vo_d3d.h>
#include <vo/vo_geops.h>
#include <vo/vo_hidden_line.h>
#include <vo/vo_multit.h>
#include <vo/vo_npr.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>

#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/module_entry.h"
#include "support/allocation_sweep.h"
#include "support/demo_scene.h"

namespace vo::test {
namespace {

constexpr uint32_t kSize = 16;
constexpr uint32_t kRenderCode = 0xc0002;  // the standard renderer's vertex-colour render
constexpr uint32_t kLineOutput = 0xc0001;  // the standard renderer's line-output callback

// Gives back the captured edge list.
void EdgesDrop() {
  VtTypedValue none = TypedPointer(nullptr);
  (void)VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &none);
}

VtStatus Quiet(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

VtStatus SetWord(uint32_t code, uint32_t type, uint32_t word) {
  VtTypedValue v = TypedWord(type, word);
  return VoControlSet(code, &v);
}

// The scene: a two-sided triangle standing through a box mesh (so the
// intersection has something to cut), a matte material on each, an ambient
// and a point light, and a perspective view of 16 x 16 pixels. Made afresh
// for every call that changes the geometry.
class Scene {
 public:
  Scene() {
    const float corners[3][3] = {{-1.5f, -0.5f, 0.2f}, {1.5f, -0.5f, 0.2f}, {0.0f, 1.6f, 0.2f}};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {TypedPointer(const_cast<float *>(&corners[0][0]))};
    primitives_[0] = VoPrimitiveCreatePolygon(3, 1, ids, data);
    primitives_[1] = Box();
    material_ = VoMaterialCreate();
    const VtTypedValue colour = DemoTriple(VtColourType, 0.8f, 0.5f, 0.3f);
    bool ok = primitives_[0] != nullptr && primitives_[1] != nullptr && material_ != nullptr &&
              VoMaterialSetShaderByPrototype(material_, VO_SHADER_COLOUR, "plain") == 0 &&
              VoShaderSetArg(VoMaterialGetShader(material_, VO_SHADER_COLOUR), "colour", &colour) == 0 &&
              VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "matte") == 0;
    for (int i = 0; ok && i < 2; ++i) ok = VoPrimitiveSetMaterial(primitives_[i], material_) == 0;
    ok = ok && VoPrimitiveSetFlags(primitives_[0],
                                   VoPrimitiveGetFlags(primitives_[0]) | VO_PRIMITIVE_TWO_SIDED) == 0;
    ok = ok && LightsMake();
    list_ = ok ? VoPrimitiveListCreate(2, primitives_) : nullptr;
    ok_ = list_ != nullptr && VoPrimitiveListSet(list_) == 0 && VoLightListSet(lights_) == 0;
  }
  ~Scene() {
    VoLightListSet(nullptr);
    if (lights_ != nullptr) VoShaderReferenceDestroy(lights_, 1);
    VoPrimitiveListSet(nullptr);
    if (list_ != nullptr) VoReferenceListDestroy(list_, nullptr);
    for (VtPrimitive *p : primitives_)
      if (p != nullptr) VoPrimitiveDestroy(p);
    if (material_ != nullptr) VoMaterialDestroy(material_);
  }
  Scene(const Scene &) = delete;
  Scene &operator=(const Scene &) = delete;
  bool ok() const { return ok_; }

  static VtStatus View() {
    const float eye[3] = {2.5f, 2.0f, 6.0f}, at[3] = {0, 0.3f, 0}, up[3] = {0, 1, 0};
    VtStatus st = VoViewSetResolution(nullptr, kSize, kSize, 1.0);
    st |= VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 40.0);
    return st | VoViewSetClipping(nullptr, 1.0, 20.0);
  }

 private:
  static VtPrimitive *Box() {
    static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
    static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    float corners[8][3];
    for (int i = 0; i < 8; ++i) {
      corners[i][0] = (i & 1) ? 0.8f : -0.8f;
      corners[i][1] = (i & 2) ? 0.8f : -0.8f;
      corners[i][2] = (i & 4) ? 0.6f : -0.6f;
    }
    VtTypedValue data[1] = {TypedPointer(corners)};
    return VoPrimitiveCreateMesh(6, nullptr, counts, faces, 1, ids, data);
  }

  bool LightsMake() {
    VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point"),
             *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    if (ambient != nullptr) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(ambient));
    if (point != nullptr) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(point));
    if (point == nullptr || ambient == nullptr) return false;
    const VtTypedValue location = DemoTriple(VtPoint, -3, 5, 4);
    VtTypedValue intensity = TypedFloat(0.25f);
    return VoShaderSetArg(point, "location", &location) == 0 &&
           VoShaderSetArg(ambient, "intensity", &intensity) == 0;
  }

  VtPrimitive *primitives_[2] = {};
  VtMaterial *material_ = nullptr;
  VtReference *list_ = nullptr;
  VtReference *lights_ = nullptr;
  bool ok_ = false;
};

// What a code needs around its calls: made before the sweep (prepare),
// remade between calls where a call consumes or changes it (renew), given
// back after (finish); and why its failures may answer otherwise.
struct Needs {
  std::function<VtStatus()> prepare;
  std::function<void()> renew;
  std::function<void()> finish;
  std::string exemption;
  std::function<bool(VtStatus)> accepts = CarriesMemoryBit;
  bool outcome = true;        // the pictures are the call's outcome
  bool ramp = false;          // the buffer holds a ramp before each call (else both pictures are cleared)
  bool render_after = false;  // the outcome is drawn after the call (the call changes only geometry)
};

// One case: a module's execute code, as its table lists it.
struct Code {
  uint32_t module;
  std::string name;
  uint32_t code;
};

void PrintTo(const Code &c, std::ostream *out) { *out << c.name << " 0x" << std::hex << c.code; }

std::vector<Code> ListedCodes() {
  std::vector<Code> codes;
  if (VoInitialise() != 0) return codes;
  for (const ModuleExecuteCodes &m : InstalledExecuteCodes())
    for (const uint32_t code : m.codes) codes.push_back({m.number, m.name, code});
  (void)VoTerminate();
  return codes;
}

std::string CaseName(const ::testing::TestParamInfo<Code> &info) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", info.param.code);
  return info.param.name + "_" + hex;
}

class ExecuteSweep : public ::testing::TestWithParam<Code> {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    (void)VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Quiet));
    ASSERT_EQ(Scene::View(), 0u);
    image_ = VoImageCreate();
    ASSERT_NE(image_, nullptr);
    image_->width = image_->height = kSize;
    ASSERT_EQ(VoImageAllocateData(image_), 0u);
    VtDriverRecord *images = VoDriverFindFromName("vodrvimg");
    ASSERT_NE(images, nullptr);
    VtTypedValue v = TypedPointer(image_);
    ASSERT_EQ(VoDriverSet(images), 0u);
    ASSERT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v), 0u);
    buffer_ = Buffer();
    ASSERT_NE(buffer_, nullptr);
    ASSERT_EQ(VoScreenBufferSet(buffer_), 0u);
    SceneRenew();
  }
  void TearDown() override {
    scene_.reset();
    VoScreenBufferSet(nullptr);
    if (buffer_ != nullptr) VoScreenBufferDestroy(buffer_);
    VoDriverSet(nullptr);
    if (image_ != nullptr) VoImageDestroy(image_);
    EXPECT_EQ(VoTerminate(), 0u);
  }

  static VtScreenBuffer *Buffer() {
    VtScreenBuffer *b = VoScreenBufferCreate();
    VtTypedValue v = TypedNat32(kSize);
    if (b != nullptr && VoScreenBufferSetControl(b, VO_SB_WIDTH, &v) == 0 &&
        VoScreenBufferSetControl(b, VO_SB_HEIGHT, &v) == 0 &&
        VoScreenBufferAllocateData(b, VO_SB_COLOUR | VO_SB_DEPTH) == 0)
      return b;
    if (b != nullptr) VoScreenBufferDestroy(b);
    return nullptr;
  }

  void SceneRenew() {
    scene_.reset();
    scene_ = std::make_unique<Scene>();
    ASSERT_TRUE(scene_->ok());
  }

  // The image's bytes, then the buffer's colours and depths.
  std::string Pictures() const {
    std::string s(reinterpret_cast<const char *>(image_->data),
                  static_cast<size_t>(image_->bytes_per_row) * kSize);
    std::vector<float> row(4 * kSize);
    for (uint32_t y = 0; y < kSize; ++y) {
      if (VoScreenBufferGetScanRGBZFloat(buffer_, y, row.data()) != 0) return s + "(buffer unreadable)";
      s.append(reinterpret_cast<const char *>(row.data()), row.size() * sizeof(float));
    }
    return s;
  }

  // Clears both pictures so that a call that draws nothing shows; or puts
  // a ramp in the buffer for a post-process pass to work on.
  void PicturesClear(bool ramp = false) const {
    std::memset(image_->data, 0, static_cast<size_t>(image_->bytes_per_row) * kSize);
    std::vector<float> row(4 * kSize, 0.0f);
    for (uint32_t y = 0; y < kSize; ++y) {
      for (uint32_t x = 0; ramp && x < kSize; ++x) {
        row[4 * x] = static_cast<float>(x) / kSize;
        row[4 * x + 1] = static_cast<float>(y) / kSize;
        row[4 * x + 2] = (x + y) % 3 == 0 ? 1.0f : 0.0f;
        row[4 * x + 3] = 10.0f;
      }
      (void)VoScreenBufferSetScanRGBZFloat(buffer_, y, row.data());
    }
  }

  Needs NeedsOf(uint32_t code);

  // The Direct3D back end's window on the desktop and its lists of the
  // scene; with `window`, its render window made too.
  VtStatus D3DReady(bool window) {
    VtStatus st = VoDesktopSetMode(320, 240, 32);
    desktop_window_ = st == 0 ? VoDesktopWindowCreate(0, 0, kSize, kSize) : nullptr;
    if (desktop_window_ == nullptr) return st | VO_STATUS_UNAVAILABLE;
    VtTypedValue v = TypedPointer(desktop_window_);
    st = VoControlSet(VO_CONTROL_D3D_WINDOW, &v);
    // The device report goes to the debug text, which has no status to
    // tell a line lost for want of memory: it is left out of the sweep.
    const VtTypedValue quiet = TypedBoolean(true);
    if (st == 0) st = VoControlSet(VO_CONTROL_D3D_QUIET, &quiet);
    if (st == 0) st = VoD3DLightListCreate(VoLightListGet());
    if (st == 0) st = VoD3DPrimListCreate(VoPrimitiveListGet());
    if (st == 0 && window) st = VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE);
    if (st == 0 && window) st = VoD3DViewSet(nullptr);
    return st;
  }
  void D3DRelease() {
    (void)VoD3DRenderWindowDestroy();
    (void)VoD3DPrimListDestroy();
    (void)VoD3DLightListDestroy();
    VtTypedValue none = TypedPointer(nullptr);
    (void)VoControlSet(VO_CONTROL_D3D_WINDOW, &none);
    if (desktop_window_ != nullptr) VoDesktopWindowDestroy(desktop_window_);
    desktop_window_ = nullptr;
  }

  // The desktop's pixels under the window, when there is one.
  std::string DesktopPixels() const {
    if (desktop_window_ == nullptr) return {};
    VtImage *shown = VoDesktopGetImage(0, 0, kSize, kSize);
    if (shown == nullptr) return "(desktop unreadable)";
    std::string s(reinterpret_cast<const char *>(shown->data),
                  static_cast<size_t>(shown->bytes_per_row) * kSize);
    VoImageDestroy(shown);
    return s;
  }

  VtWindow *desktop_window_ = nullptr;

  VtImage *image_ = nullptr;
  VtScreenBuffer *buffer_ = nullptr;
  std::unique_ptr<Scene> scene_;
  VtReference *post_list_ = nullptr;
};

Needs ExecuteSweep::NeedsOf(uint32_t code) {
  Needs n;
  const auto renderCode = [] { return SetWord(VO_CONTROL_PP_RENDER_CODE, VtEnum, kRenderCode); };
  switch (code) {
    case VO_EXECUTE_MODULES_REPORT: n.outcome = false; break;
    case VO_EXECUTE_GEOPS_TRIANGULATE:
    case VO_EXECUTE_GEOPS_INTERSECT:
    case VO_EXECUTE_GEOPS_DUPLICATE_TWO_SIDED:
      // Each changes the scene's primitives; the next call starts from a
      // fresh scene, and the picture of the changed one is the outcome.
      n.renew = [this] { SceneRenew(); };
      n.render_after = true;
      n.exemption = "the geometry operators answer out of memory in the error class, 0x40000006";
      n.accepts = [](VtStatus s) {
        return (s & VO_STATUS_ERROR_NO_MEMORY) == VO_STATUS_ERROR_NO_MEMORY || CarriesMemoryBit(s);
      };
      break;
    case VO_EXECUTE_PP_RUN:
    case VO_EXECUTE_PP_RUN_IMAGE:
      n.ramp = true;
      n.prepare = [this] {
        VtShader *blur = VoShaderCreate(VO_SHADER_POSTPROCESS, "blur");
        post_list_ = blur != nullptr ? VoShaderReferenceCreate(blur) : nullptr;
        return post_list_ != nullptr ? VoPostprocessListSet(post_list_) : VtStatus{VO_STATUS_NO_MEMORY};
      };
      n.finish = [this] {
        VoPostprocessListSet(nullptr);
        if (post_list_ != nullptr) VoShaderReferenceDestroy(post_list_, 1);
        post_list_ = nullptr;
      };
      break;
    case VO_EXECUTE_PP_RENDER_AND_POST:
    case VO_EXECUTE_PP_TWO_VIEW:
    case VO_EXECUTE_PP_ANTIALIAS: n.prepare = renderCode; break;
    case 0x200003:  // the advanced renderer's depth render, into the buffer's depths
      n.prepare = [] {
        return VoCallBackSet(kLineOutput, reinterpret_cast<VtProc>(&VoScreenBufferStoreDepthRow));
      };
      n.finish = [] { VoCallBackSet(kLineOutput, nullptr); };
      break;
    case VO_EXECUTE_NPR_PROCESS:
    case VO_EXECUTE_NPR_DRAW:
      // Both work on the captured edge list; processing changes it, so the
      // next call starts from a fresh capture.
      n.prepare = [] { return VoExecute(VO_EXECUTE_NPR_CAPTURE); };
      n.renew = [] { (void)VoExecute(VO_EXECUTE_NPR_CAPTURE); };
      n.finish = &EdgesDrop;
      break;
    case VO_EXECUTE_NPR_CAPTURE: n.finish = &EdgesDrop; break;
    case VO_EXECUTE_D3D_WINDOW_CREATE:
      n.prepare = [this] { return D3DReady(false); };
      n.renew = [] { (void)VoD3DRenderWindowDestroy(); };
      n.finish = [this] { D3DRelease(); };
      break;
    case VO_EXECUTE_D3D_RENDER:
      n.prepare = [this] { return D3DReady(true); };
      n.finish = [this] { D3DRelease(); };
      break;
    case VO_EXECUTE_D3D_WINDOW_DESTROY:
      n.prepare = [this] { return D3DReady(true); };
      n.renew = [] { (void)VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE); };
      n.finish = [this] { D3DRelease(); };
      break;
    case 0x6f0001:  // the OpenGL back end's render
      n.prepare = [] { return VoOpenGLInitialise(); };
      n.finish = [] { (void)VoOpenGLTerminate(); };
      break;
    default: break;
  }
  return n;
}

// Codes swept elsewhere or answering no call of their own, with the reason.
const std::map<uint32_t, std::string> &NotSwept() {
  static const std::map<uint32_t, std::string> why = {
      {VO_EXECUTE_MT,
       "the work farm answers its code as unavailable, always: it farms out no work of its own"},
  };
  return why;
}

TEST_P(ExecuteSweep, EveryFailedAllocationAnswersTheMemoryStatusAndTheNextCallTheSamePicture) {
  const Code c = GetParam();
  if (const auto it = NotSwept().find(c.code); it != NotSwept().end()) {
    EXPECT_NE(VoExecute(c.code), 0u);
    std::printf("not swept %s 0x%x: %s\n", c.name.c_str(), c.code, it->second.c_str());
    return;
  }
  const Needs needs = NeedsOf(c.code);
  if (needs.prepare) {
    ASSERT_EQ(needs.prepare(), 0u) << "the set-up of 0x" << std::hex << c.code;
  }
  SweptCall call;
  char name[64];
  std::snprintf(name, sizeof name, "VoExecute(0x%x) of %s", c.code, c.name.c_str());
  call.name = name;
  // The pictures are made ready outside the call, so that only the call's
  // own allocations fail.
  const auto ready = [&] {
    if (needs.renew) needs.renew();
    PicturesClear(needs.ramp);
  };
  PicturesClear(needs.ramp);
  call.call = [&] { return VoExecute(c.code); };
  if (needs.outcome)
    call.outcome = [&] {
      if (needs.render_after) {
        EXPECT_EQ(VoExecute(kRenderCode), 0u);
      }
      return Pictures() + DesktopPixels();
    };
  call.undo = ready;
  call.accepts = needs.accepts;
  call.exemption = needs.exemption;
  SweepAllocationFailures(call);
  if (needs.finish) needs.finish();
}

INSTANTIATE_TEST_SUITE_P(ListedCodes, ExecuteSweep, ::testing::ValuesIn(ListedCodes()), CaseName);

// The code lists themselves: with what it needs made, every listed code is
// answered by its module's execute, not refused as one it does not know
// (the answer it gives a code of its number it has never listed).
TEST_P(ExecuteSweep, TheListedCodeIsAnsweredNotRefusedAsUnknown) {
  const Code c = GetParam();
  const uint32_t unknown = (c.module << 16) | 0xFFFEu;
  const VtStatus refused = VoExecute(unknown);
  EXPECT_NE(refused, 0u);
  const Needs needs = NeedsOf(c.code);
  if (needs.prepare) {
    ASSERT_EQ(needs.prepare(), 0u);
  }
  EXPECT_NE(VoExecute(c.code), refused);
  if (needs.finish) needs.finish();
}

TEST(ExecuteCodes, EveryRenderingModuleListsItsCodes) {
  std::map<std::string, size_t> counts;
  for (const Code &c : ListedCodes()) ++counts[c.name];
  // Counted from each module's execute: three geometry operators, three
  // standard renders, three advanced ones, two ray-traced, two hidden-line,
  // one wireframe, five pen-and-ink actions, seven post-process codes, the
  // depth pass into a screen buffer, four Direct3D and one OpenGL code.
  const std::map<std::string, size_t> expected = {
      {"vosystem", 1}, {"vomultit", 1}, {"vogeops", 3},  {"vorenstd", 3}, {"vorenadv", 3},
      {"vorenray", 2}, {"vorenhid", 2}, {"vorenwir", 1}, {"vonpr", 5},    {"voshpost", 7},
      {"voscrbuf", 1}, {"vod3d", 4},    {"voopengl", 1}};
  EXPECT_EQ(counts, expected);
}

}  // namespace
}  // namespace vo::test
