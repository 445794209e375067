// The device's camera and background kept in step with the scene, the
// orbit animation and copies of the render target into bitmaps.
//
// Before the render window exists the view's matrices and eye, and the
// background's colour, bitmap and draw procedure, are only stored; the
// window's set-up sets them on the device. A view that is not a finite
// perspective pinhole with depth between its planes is refused (-1) and the
// matrices stay as they were.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "backends/vod3d/d3d.h"
#include "output/vodriver/face.h"
#include "scene/voview/face.h"
#include "kernel/vosystem/face.h"
#include "shading/voshader/face.h"

namespace vo::d3d {

namespace {

using platform::Result;
constexpr double kPi = 3.14159265358979323846;

struct D3 {
  double x, y, z;
};
D3 FromFloats(const float *f) { return {f[0], f[1], f[2]}; }

VtStatus ViewRefused(const char *reason) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kD3DViewRefused, kModule, reason, int32_t{0});
  return static_cast<VtStatus>(-1);
}

// ---------------------------------------------------------------------------
// Background draw procedures
// ---------------------------------------------------------------------------

// The stretched and centred-fit backgrounds fill the viewport's area (the
// window's client area), not the whole target, which may be larger.
VtStatus Stretch(VtD3DContext *c, platform::Surface *image) {
  const platform::Rect area{0, 0, c->area_width, c->area_height};
  return c->frame.render_target->Blt(&area, image, nullptr, 0) == platform::kOk ? 0
                                                                                : static_cast<VtStatus>(-1);
}

VtStatus CentredFit(VtD3DContext *c, platform::Surface *image) {
  const int64_t W = c->area_width, H = c->area_height;
  const int64_t w = image->Width(), h = image->Height();
  platform::Rect to;
  if (w * H < h * W) {
    const int64_t width = w * H / h;
    to = {static_cast<int32_t>((W - width) / 2), 0, static_cast<int32_t>((W - width) / 2 + width),
          static_cast<int32_t>(H)};
  } else {
    const int64_t height = h * W / w;
    to = {0, static_cast<int32_t>((H - height) / 2), static_cast<int32_t>(W),
          static_cast<int32_t>((H - height) / 2 + height)};
  }
  return c->frame.render_target->Blt(&to, image, nullptr, 0) == platform::kOk ? 0 : static_cast<VtStatus>(-1);
}

VtStatus Tile(VtD3DContext *c, platform::Surface *image) {
  platform::Surface *t = c->frame.render_target;
  const int32_t W = t->Width(), H = t->Height();
  const int32_t w = std::min(image->Width(), W), h = std::min(image->Height(), H);
  const platform::Rect first{0, 0, w, h};
  if (t->BltFast(0, 0, image, &first, 0) != platform::kOk) return static_cast<VtStatus>(-1);
  int32_t covered = w;
  while (2 * covered <= W) {
    const platform::Rect part{0, 0, covered, h};
    if (t->BltFast(covered, 0, t, &part, 0) != platform::kOk) return static_cast<VtStatus>(-1);
    covered *= 2;
  }
  if (covered < W) {
    const platform::Rect rest{0, 0, W - covered, h};
    if (t->BltFast(covered, 0, t, &rest, 0) != platform::kOk) return static_cast<VtStatus>(-1);
  }
  covered = h;
  while (2 * covered <= H) {
    const platform::Rect strip{0, 0, W, covered};
    if (t->BltFast(0, covered, t, &strip, 0) != platform::kOk) return static_cast<VtStatus>(-1);
    covered *= 2;
  }
  if (covered < H) {
    const platform::Rect rest{0, 0, W, H - covered};
    if (t->BltFast(0, covered, t, &rest, 0) != platform::kOk) return static_cast<VtStatus>(-1);
  }
  return 0;
}

Result BackgroundFailed(const char *step, Result r) {
  Post(VO_STATUS_UNAVAILABLE, messages::kD3DBackgroundFailed, kModule, step, r);
  return r;
}

// The background surface: the bitmap drawn into a surface of its size.
void BackgroundSurfaceMake(VtD3DContext *c) {
  TextureSetRelease(&c->background_texture);
  int32_t w = 0, h = 0, bits = 0;
  platform::DirectDraw *dd = c->frame.ddraw2;
  if (dd == nullptr || c->background_bitmap == nullptr ||
      !platform::BitmapSize(c->background_bitmap, &w, &h, &bits))
    return;
  platform::SurfaceDesc d{};
  d.size = sizeof d;
  d.flags = platform::DDSD_CAPS | platform::DDSD_WIDTH | platform::DDSD_HEIGHT;
  d.width = static_cast<uint32_t>(w);
  d.height = static_cast<uint32_t>(h);
  d.caps = platform::DDSCAPS_OFFSCREENPLAIN | platform::DDSCAPS_VIDEOMEMORY;
  platform::Surface *s = nullptr;
  Result r = dd->CreateSurface(&d, &s, nullptr);
  if (r != platform::kOk) {
    d.caps = platform::DDSCAPS_OFFSCREENPLAIN | platform::DDSCAPS_SYSTEMMEMORY;
    r = dd->CreateSurface(&d, &s, nullptr);
  }
  if (r != platform::kOk) {
    BackgroundFailed("background surface", r);
    return;
  }
  (void)s->Restore();
  platform::HDC memory = platform::CreateCompatibleDC(nullptr);
  platform::HDC dc = nullptr;
  if (memory != nullptr && platform::SelectObject(memory, c->background_bitmap) == nullptr &&
      s->GetDC(&dc) == platform::kOk) {
    (void)platform::StretchBlt(dc, 0, 0, w, h, memory, 0, 0, w, h, platform::SRCCOPY);
    (void)s->ReleaseDC(dc);
  }
  if (memory != nullptr) (void)platform::DeleteDC(memory);  // undoes the selection
  c->background_texture.system = s;
}

// The background material of the stored colour on the viewport.
Result MaterialMake(VtD3DContext *c, const float *colour) {
  platform::Direct3D *d3d = c->frame.d3d2;
  if (d3d == nullptr || c->frame.device == nullptr || c->frame.viewport == nullptr) return platform::kOk;
  platform::Material *m = nullptr;
  Result r = d3d->CreateMaterial(&m, nullptr);
  if (r != platform::kOk) return BackgroundFailed("CreateMaterial", r);
  platform::MaterialData data{};
  data.size = sizeof data;
  const platform::ColourValue v{colour[0], colour[1], colour[2], 1.0f};
  data.diffuse = data.ambient = data.specular = data.emissive = v;
  data.power = c->power;
  data.ramp_size = 1;
  uint32_t handle = 0;
  r = m->SetMaterial(&data);
  if (r == platform::kOk) r = m->GetHandle(c->frame.device, &handle);
  if (r == platform::kOk) r = c->frame.viewport->SetBackground(handle);
  if (r != platform::kOk) {
    m->Release();
    return BackgroundFailed("background material", r);
  }
  c->background_material = m;
  return platform::kOk;
}

VtStatus BackgroundCreate(VtD3DContext *c, VtShader *shader) {
  if (BackgroundDestroy(c) != 0) return static_cast<VtStatus>(-1);
  BackgroundBitmapRelease(c);
  float colour[3];
  std::memcpy(colour, c->background_colour, sizeof colour);
  c->background_draw = nullptr;
  if (shader != nullptr) {
    const ShaderArgs a = ShaderArgs::Of(shader);
    bool image = true;
    if (a.Is("scaled image")) {
      VtTypedValue keep;
      c->background_draw = a.Get("keep aspect", &keep) && keep.value.u != 0 ? &CentredFit : &Stretch;
    } else if (a.Is("image")) {
      c->background_draw = &Tile;
    } else {
      image = false;
    }
    if (image) {
      VtTypedValue v;
      if (a.Get("file name", &v) && v.value.s != nullptr && v.value.s[0] != '\0')
        c->background_bitmap = VoD3DLoadHBitmap(v.value.s, 0, 0);
      else if (a.Get("image", &v) && v.value.p != nullptr)
        c->background_bitmap = VoD3DHBITMAPFromImage(static_cast<VtImage *>(v.value.p));
    }
    for (uint32_t i = 0; a.labels != nullptr && i < a.count; ++i) {
      if (a.labels[i] == nullptr) continue;
      VtTypedValue v{};
      v.type = VtColourType;
      if (VoShaderGetArg(shader, a.labels[i], &v) == 0 && v.type == VtColourType) {
        std::memcpy(colour, v.value.v, sizeof colour);
        break;
      }
    }
  }
  ColourLift(colour, c->colour_lift);
  BackgroundSurfaceMake(c);
  const Result made = MaterialMake(c, colour);
  DirtyWhole(c);
  return made == platform::kOk ? 0 : static_cast<VtStatus>(-1);
}

// The rotation of a point about the line through p along the unit axis n.
D3 Rotate(const D3 &point, const D3 &p, const D3 &n, double angle) {
  const D3 v = vec::Sub(point, p);
  const double cs = std::cos(angle), sn = std::sin(angle);
  const D3 cross = vec::Cross(n, v);
  const double along = vec::Dot(n, v) * (1 - cs);
  return {p.x + v.x * cs + cross.x * sn + n.x * along, p.y + v.y * cs + cross.y * sn + n.y * along,
          p.z + v.z * cs + cross.z * sn + n.z * along};
}

}  // namespace

VtStatus BackgroundDestroy(VtD3DContext *c) {
  TextureSetRelease(&c->background_texture);
  if (c->background_material != nullptr) c->background_material->Release();
  c->background_material = nullptr;
  return 0;
}

void BackgroundBitmapRelease(VtD3DContext *c) {
  if (c->background_bitmap != nullptr) (void)platform::DeleteObject(c->background_bitmap);
  c->background_bitmap = nullptr;
}

VtStatus BackgroundRemake(VtD3DContext *c) { return BackgroundCreate(c, VoBackgroundGet()); }

Result MatricesSet(VtD3DContext *c) {
  platform::Device *d = c->frame.device;
  if (d == nullptr) return platform::kOk;
  Result r = d->SetTransform(platform::D3DTRANSFORMSTATE_VIEW, &c->view);
  if (r == platform::kOk) r = d->SetTransform(platform::D3DTRANSFORMSTATE_PROJECTION, &c->projection);
  return r;
}

VtStatus ViewSet(VtD3DContext *c, VtView *view) {
  float eye[3], reference[3], up[3];
  int32_t kind = 0;
  double angle = 0;
  if (VoViewGetPinhole(view, eye, reference, up, &kind, &angle) != 0) return ViewRefused("no pinhole camera");
  if (kind != VO_PROJECTION_PERSPECTIVE) return ViewRefused("not a perspective view");
  uint32_t x = 0, y = 0;
  double aspect = 1, hither = 0, yon = 0;
  (void)VoViewGetResolution(view, &x, &y, &aspect);
  (void)VoViewGetClipping(view, &hither, &yon);
  const D3 e = FromFloats(eye), r = FromFloats(reference), u = FromFloats(up);
  const D3 along = vec::Sub(r, e);
  const double length = vec::Length(along);
  if (!std::isfinite(length) || !std::isfinite(vec::Length(u)) || !std::isfinite(angle) ||
      !std::isfinite(hither) || !std::isfinite(yon))
    return ViewRefused("a value that is not finite");
  if (!(length > 1e-12)) return ViewRefused("the eye on its reference point");
  const D3 d = vec::Scale(along, 1 / length);
  const D3 side = vec::Cross(d, u);
  if (!(vec::Length(side) > 1e-9 * vec::Length(u))) return ViewRefused("an up vector along the view");
  if (!view::PinholeClipping(true, hither, yon)) return ViewRefused("no depth between hither and yon");
  if (!(angle > 0 && angle < 180)) return ViewRefused("a view angle outside (0, 180)");
  const D3 w = vec::Scale(side, 1 / vec::Length(side));
  const D3 v0 = vec::Cross(w, d);
  const D3 v = vec::Scale(v0, 1 / vec::Length(v0));
  platform::Matrix vm{};
  const float rows[16] = {static_cast<float>(w.x),
                          static_cast<float>(v.x),
                          static_cast<float>(d.x),
                          0,
                          static_cast<float>(w.y),
                          static_cast<float>(v.y),
                          static_cast<float>(d.y),
                          0,
                          static_cast<float>(w.z),
                          static_cast<float>(v.z),
                          static_cast<float>(d.z),
                          0,
                          static_cast<float>(-vec::Dot(w, e)),
                          static_cast<float>(-vec::Dot(v, e)),
                          static_cast<float>(-vec::Dot(d, e)),
                          1};
  std::memcpy(vm.m, rows, sizeof rows);
  double half = angle * kPi / 360;
  if (x > y && y > 0) half = std::atan(std::tan(half) * x / y);
  const double cs = std::cos(half), sn = std::sin(half), q = sn * yon / (yon - hither);
  platform::Matrix pm{};
  pm.m[0] = static_cast<float>(cs);
  pm.m[5] = static_cast<float>(cs);
  pm.m[10] = static_cast<float>(q);
  pm.m[11] = static_cast<float>(sn);
  pm.m[14] = static_cast<float>(-q * hither);
  const platform::Matrix view_before = c->view, projection_before = c->projection;
  c->view = vm;
  c->projection = pm;
  if (MatricesSet(c) != platform::kOk) {
    c->view = view_before;
    c->projection = projection_before;
    (void)MatricesSet(c);
    Post(VO_STATUS_UNAVAILABLE, messages::kD3DViewRefused, kModule, "the device refused a matrix",
         int32_t{-1});
    return static_cast<VtStatus>(-1);
  }
  std::memcpy(c->eye, eye, sizeof eye);
  c->view_accepted = true;
  return 0;
}

}  // namespace vo::d3d

namespace vo {

using d3d::Context;
using d3d::VtD3DContext;

VtStatus VoD3DViewSet(VtView *view) {
  VtD3DContext *c = Context();
  return c != nullptr ? d3d::ViewSet(c, view) : static_cast<VtStatus>(-1);
}

VtStatus VoD3DBackgroundCreate(VtShader *shader) {
  VtD3DContext *c = Context();
  if (c == nullptr) return static_cast<VtStatus>(-1);
  if (shader != nullptr && !shader::ShaderIsLive(shader)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, d3d::kModule, "VoD3DBackgroundCreate",
         static_cast<const void *>(shader), "shader");
    return VO_STATUS_BAD_ARGUMENT;
  }
  return d3d::BackgroundCreate(c, shader);
}

VtStatus VoD3DBackgroundDestroy() {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  VtD3DContext *c = Context();
  return c != nullptr ? d3d::BackgroundDestroy(c) : 0;
}

VtStatus VoD3DOrbitPinhole(int32_t steps, const float *orbit, const float *centre, const float *axis,
                           int32_t projection, double angle) {
  VtD3DContext *c = Context();
  if (c == nullptr || orbit == nullptr || centre == nullptr || axis == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (VoViewPush() == nullptr) {
    Post(VO_STATUS_NO_MEMORY, messages::kD3DOrbitPushFailed, d3d::kModule, VO_STATUS_NO_MEMORY);
    return VO_STATUS_NO_MEMORY;
  }
  const d3d::D3 p{centre[0], centre[1], centre[2]}, from{orbit[0], orbit[1], orbit[2]};
  d3d::D3 n{axis[0], axis[1], axis[2]};
  const double length = vec::Length(n);
  const bool turns = length > 0 && std::isfinite(length);
  if (turns) n = vec::Scale(n, 1 / length);
  // Each frame of the orbit polls for an interrupt, which ends the orbit.
  driver::RenderStickyClear();
  VtStatus interrupted = 0;
  for (int32_t k = 0; k <= steps && interrupted == 0; ++k) {
    if ((interrupted = driver::RenderInterruptPoll()) != 0) break;
    const double turn = k * 2 * d3d::kPi / (static_cast<double>(steps) + 1);
    const d3d::D3 at = turns ? d3d::Rotate(from, p, n, turn) : from;
    const float eye[3] = {static_cast<float>(at.x), static_cast<float>(at.y), static_cast<float>(at.z)};
    (void)VoViewSetPinhole(nullptr, eye, centre, axis, projection, angle);
    (void)VoViewAutoClipping(nullptr);
    (void)d3d::ViewSet(c, nullptr);
    (void)d3d::Frame(c, &interrupted);
  }
  return VoViewPop() | interrupted;
}

VtStatus VoD3DCopyRenderToBitmap(VtBitmap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height) {
  VtD3DContext *c = Context();
  platform::Surface *target = c != nullptr ? c->frame.render_target : nullptr;
  int32_t bw = 0, bh = 0, bits = 0;
  if (target == nullptr || bitmap == nullptr || !platform::BitmapSize(bitmap, &bw, &bh, &bits)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kD3DCopyFailed, d3d::kModule, "no bitmap or no render target", -1);
    return static_cast<VtStatus>(-1);
  }
  (void)target->Restore();
  platform::HDC memory = platform::CreateCompatibleDC(nullptr);
  if (memory == nullptr) {
    Post(VO_STATUS_UNAVAILABLE, messages::kD3DCopyFailed, d3d::kModule, "memory device context", -1);
    return static_cast<VtStatus>(-1);
  }
  VtStatus result = static_cast<VtStatus>(-1);
  if (platform::SelectObject(memory, bitmap) != nullptr || bitmap->selected_in == memory) {
    if (width < 1) width = bw;
    if (height < 1) height = bh;
    platform::HDC dc = nullptr;
    if (target->GetDC(&dc) == platform::kOk) {
      // The window's client area, which a target raised to 64 x 64 exceeds.
      (void)platform::StretchBlt(memory, x, y, width, height, dc, 0, 0, c->area_width, c->area_height,
                                 platform::SRCCOPY);
      (void)target->ReleaseDC(dc);
      result = 0;
    } else {
      Post(VO_STATUS_UNAVAILABLE, messages::kD3DCopyFailed, d3d::kModule, "surface device context", -1);
    }
  } else {
    Post(VO_STATUS_UNAVAILABLE, messages::kD3DCopyFailed, d3d::kModule, "bitmap selection", -1);
  }
  (void)platform::DeleteDC(memory);  // undoes the selection
  return result;
}

}  // namespace vo
