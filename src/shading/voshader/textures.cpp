// Textures: the builder shared by textures, bump maps and environment faces,
// the cache of named records, point and area sampling, properties and the
// copy of a level into an image.
//
// The builder reads image rows by their depth and row length (rows
// bytes-per-row apart); its read cursor is a local, so building is correct
// under any lock. A record is keyed in the cache by name, kind and channel
// count: a bump map and a texture of one file are two records. Sampling
// clamps every texel index into its level and writes nothing; a texture
// wraps round at its border, a projector's slide stops there.

#include <algorithm>
#include <cmath>
#include <cstring>

#include <vo/vo_view.h>

#include "kernel/vosystem/face.h"
#include "shading/voshader/imaging.h"
#include "shading/voshader/voshader.h"

namespace vo::shader {

namespace {

constexpr uint32_t kProgress = 0x08000000u;
constexpr uint32_t kWarning = 0x20000000u;
constexpr uint32_t kPoolTextures = 0x50005;
constexpr uint32_t kPoolEnvironments = 0x50004;
constexpr float kByte = 0.003921569f;  // 1/255
constexpr int32_t kSideMost = 4096;

// Wraps into [0, 1) as fmod(x, 1) plus 1 below 0 would, with 1.0 itself
// (and anything not finite) to 0.
double Wrap(double x) {
  const double w = x - std::floor(x);
  return w >= 1.0 || !(w >= 0) ? 0.0 : w;
}

// Into [0, 1], anything not finite to 0.
double Bounded(double x) { return !(x > 0) ? 0.0 : (x < 1 ? x : 1.0); }

double OnTexture(double x, TextureEdges edges) { return edges == TextureEdges::kWrap ? Wrap(x) : Bounded(x); }

int32_t Clamp(int32_t i, int32_t n) { return i < 0 ? 0 : (i >= n ? n - 1 : i); }

// The texel of a coordinate on an axis of `side` texels: the coordinate
// wrapped (or bounded) times side, truncated and clamped; a coordinate
// already in [0, 1) is its own wrap.
int32_t TexelIndex(double x, double side_f, int32_t side, TextureEdges edges) {
  const double w = x >= 0 && x < 1 ? x : OnTexture(x, edges);
  return Clamp(static_cast<int32_t>(w * side_f), side);
}

// The reduced levels' bytes: sides 1, 2, .. side/2 (each n + 2 square when
// bordered); overflow cannot occur below 4096.
size_t LevelBytes(int32_t side, int32_t channels, bool bordered) {
  size_t total = 0;
  for (int32_t n = 1; n < side; n <<= 1) {
    const size_t m = static_cast<size_t>(n) + (bordered ? 2 : 0);
    total += m * m * static_cast<size_t>(channels);
  }
  return total;
}

// Level k - 1 from level k by a 2 x 2 box (truncating): the finer level's
// interior starts at `offset` texels in rows of `pitch` texels.
void BoxReduce(const uint8_t *fine, size_t pitch, size_t offset, uint8_t *coarse, int32_t n, int32_t channels,
               bool bordered) {
  const size_t cpitch = static_cast<size_t>(n) + (bordered ? 2 : 0), cstart = bordered ? cpitch + 1 : 0;
  for (int32_t y = 0; y < n; ++y)
    for (int32_t x = 0; x < n; ++x) {
      const uint8_t *a = fine + ((offset + 2 * y * pitch + 2 * x) * channels);
      uint8_t *d = coarse + (cstart + y * cpitch + x) * channels;
      for (int32_t c = 0; c < channels; ++c) {
        const uint32_t sum = a[c] + a[channels + c] + a[pitch * channels + c] + a[(pitch + 1) * channels + c];
        d[c] = static_cast<uint8_t>(sum >> 2);
      }
    }
}

bool LevelsBuild(VtTexture *t) {
  const bool bordered = t->bordered != 0;
  const int32_t ch = t->channels;
  t->levelBytes = LevelBytes(t->side, ch, bordered);
  t->levels[t->levelCount] = t->pixels;
  if (t->levelCount == 0) return true;
  auto *block = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(t->levelBytes)));
  if (block == nullptr) return false;
  std::memset(block, 0, t->levelBytes);
  size_t at = 0;
  for (int32_t k = 0; k < t->levelCount; ++k) {
    t->levels[k] = block + at;
    const size_t m = (static_cast<size_t>(1) << k) + (bordered ? 2 : 0);
    at += m * m * ch;
  }
  for (int32_t k = t->levelCount - 1; k >= 0; --k) {
    const bool from_pixels = k == t->levelCount - 1;
    const size_t pitch = (static_cast<size_t>(2) << k) + (bordered && !from_pixels ? 2 : 0);
    const size_t offset = bordered && !from_pixels ? pitch + 1 : 0;
    BoxReduce(t->levels[k + 1], pitch, offset, t->levels[k], 1 << k, ch, bordered);
  }
  return true;
}

// One source pixel into `channels` bytes: 24-bit in order (grey takes the
// first byte), 8-bit the byte repeated.
void PixelRead(const uint8_t *p, int32_t bits, int32_t channels, uint8_t *out) {
  if (bits == 8) {
    for (int32_t c = 0; c < channels; ++c) out[c] = p[0];
  } else {
    for (int32_t c = 0; c < channels; ++c) out[c] = p[c];
  }
}

void RowsCopy(VtTexture *t, const PixelSource &src) {
  const int32_t ch = t->channels, step = src.bits / 8;
  const size_t pitch = static_cast<size_t>(t->side) * ch;
  for (int32_t y = 0; y < t->height; ++y) {
    const uint8_t *row = src.rows + static_cast<size_t>(y) * src.row_bytes;
    uint8_t *d = t->pixels + y * pitch;
    for (int32_t x = 0; x < t->width; ++x)
      PixelRead(row + static_cast<size_t>(x) * step, src.bits, ch, d + x * ch);
  }
}

// Stretches the width x height top-left texels over the square, bilinear in
// 10-bit fixed point, in place from the last row up; the two source rows in
// use are copied aside first.
bool Resample(VtTexture *t) {
  const int32_t side = t->side, w = t->width, h = t->height, ch = t->channels;
  const size_t pitch = static_cast<size_t>(side) * ch, row = static_cast<size_t>(w) * ch;
  auto *rows = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(2 * row)));
  if (rows == nullptr) return false;
  const int32_t xstep = (w - 1) * 1024 / (side - 1), ystep = (h - 1) * 1024 / (side - 1);
  for (int32_t y = side - 1; y >= 0; --y) {
    const int32_t sy = y * ystep, j = sy >> 10, fy = sy & 1023, j1 = std::min(j + 1, h - 1);
    std::memcpy(rows, t->pixels + j * pitch, row);
    std::memcpy(rows + row, t->pixels + j1 * pitch, row);
    uint8_t *d = t->pixels + y * pitch;
    for (int32_t x = 0; x < side; ++x) {
      const int32_t sx = x * xstep, i = sx >> 10, fx = sx & 1023, i1 = std::min(i + 1, w - 1);
      for (int32_t c = 0; c < ch; ++c) {
        const int32_t a = (rows[i * ch + c] * (1024 - fy) + rows[row + i * ch + c] * fy) >> 10;
        const int32_t b = (rows[i1 * ch + c] * (1024 - fy) + rows[row + i1 * ch + c] * fy) >> 10;
        d[x * ch + c] = static_cast<uint8_t>((a * (1024 - fx) + b * fx) >> 10);
      }
    }
  }
  VoDeallocate(rows);
  return true;
}

// Bilinear look-up on a w x w level at (s, t), the right and bottom
// neighbours wrapping round or staying on the last texel; `count` channels
// read from texels `stride` bytes apart.
void Bilinear(const uint8_t *level, int32_t w, int32_t stride, int count, double s, double t, float *out,
              TextureEdges edges) {
  const double px = w * s, py = w * t;
  const int32_t i = Clamp(static_cast<int32_t>(px), w), j = Clamp(static_cast<int32_t>(py), w);
  const bool wrap = edges == TextureEdges::kWrap;
  const int32_t i1 = wrap ? (i + 1) & (w - 1) : std::min(i + 1, w - 1);  // w is a power of two
  const int32_t j1 = wrap ? (j + 1) & (w - 1) : std::min(j + 1, w - 1);
  const double fx = px - i, fy = py - j;
  const uint8_t *a = level + (static_cast<size_t>(j) * w + i) * stride,
                *b = level + (static_cast<size_t>(j) * w + i1) * stride;
  const uint8_t *c = level + (static_cast<size_t>(j1) * w + i) * stride,
                *d = level + (static_cast<size_t>(j1) * w + i1) * stride;
  for (int k = 0; k < count; ++k)
    out[k] =
        static_cast<float>((a[k] * (1 - fx) + b[k] * fx) * (1 - fy) + (c[k] * (1 - fx) + d[k] * fx) * fy);
}

// Writes the texel bytes as count floats: one (the first channel) or three
// (a grey texel three times).
void TexelOut(const float *v, int32_t channels, int count, float *out) {
  if (count == 1) {
    out[0] = v[0] * kByte;
    return;
  }
  for (int k = 0; k < std::min(count, 3); ++k) out[k] = v[channels == 3 ? k : 0] * kByte;
}

void Zero(int count, float *out) {
  for (int k = 0; k < count; ++k) out[k] = 0;
}

// Footprints of the globals' ds and dt steps in pixels; a zero axis keeps
// its length alone.
void Footprint(const ShadingContext *s, const VtShaderGlobals *g, double *fs, double *ft) {
  double ab[2][2];
  const float *dirs[2] = {g->dPds, g->dPdt};
  const float steps[2] = {g->ds, g->dt};
  for (int k = 0; k < 2; ++k) {
    const float p[3] = {g->Pw[0] + steps[k] * dirs[k][0], g->Pw[1] + steps[k] * dirs[k][1],
                        g->Pw[2] + steps[k] * dirs[k][2]};
    float h[4] = {0, 0, 0, 0};
    (void)VoViewProjectPoint(p, h);
    if (h[3] == 0) {
      *fs = *ft = 1.0;
      return;
    }
    ab[k][0] = h[0] / h[3] * s->imaging.view_width - g->xs;
    ab[k][1] = h[1] / h[3] * s->imaging.view_height - g->ys;
  }
  const double la = std::hypot(ab[0][0], ab[0][1]), lb = std::hypot(ab[1][0], ab[1][1]);
  const double area = std::fabs(ab[0][0] * ab[1][1] - ab[1][0] * ab[0][1]);
  *fs = lb > 0 ? std::min(la, area / lb) : la;
  *ft = la > 0 ? std::min(lb, area / la) : lb;
}

}  // namespace

CacheLock::CacheLock(ShaderShared *shared) : lock_(shared->imaging.lock) {
  if (lock_ != nullptr) LockHold(lock_);
}
CacheLock::~CacheLock() {
  if (lock_ != nullptr) LockLetGo(lock_);
}

int32_t TextureSideFor(int32_t width, int32_t height) {
  const int32_t most = std::max(width, height);
  if (most > kSideMost) return 0;
  int32_t side = 1;
  while (side < most) side <<= 1;
  return side;
}

bool ImageRows(const VtImage *image, PixelSource *source) {
  if (image == nullptr) return false;
  if (!ImageUsable(image)) {
    Post(kRefused, messages::kObjectNotLive, VO_MODULE_SHADER, "a texture, bump map or environment",
         static_cast<const void *>(image), "image");
    return false;
  }
  if (image->data == nullptr || image->width < 1 || image->height < 1) return false;
  if (image->bits != 24 && image->bits != 8) return false;
  const size_t need = static_cast<size_t>(image->width) * static_cast<size_t>(image->bits / 8);
  if (image->bytes_per_row < 0 || static_cast<size_t>(image->bytes_per_row) < need) return false;
  *source = PixelSource{nullptr, image->data, image->bits, static_cast<size_t>(image->bytes_per_row)};
  return true;
}

VtTexture *TextureBuild(ShaderShared *shared, const TextureShape &shape, const PixelSource &source) {
  const int32_t ch = shape.channels;
  if (shape.width < 1 || shape.height < 1 || (ch != 1 && ch != 3)) return nullptr;
  if (source.given == nullptr && source.rows == nullptr) return nullptr;
  int32_t side = TextureSideFor(shape.width, shape.height);
  if (side == 0) return nullptr;
  if (shape.forced_side > 0) {
    if (shape.forced_side > kSideMost || (shape.forced_side & (shape.forced_side - 1)) != 0) return nullptr;
    side = std::max(side, shape.forced_side);
  }
  auto *t = static_cast<VtTexture *>(VoPoolAllocate(shared->imaging.texture_pool));
  if (t == nullptr) return nullptr;
  *t = VtTexture{};
  t->check = kTextureLive;
  t->bordered = static_cast<int32_t>(shape.bordered);
  t->refCount = 1;
  t->channels = ch;
  t->width = shape.width;
  t->height = shape.height;
  t->side = side;
  t->sideF = static_cast<float>(side);
  t->baseWidth = t->baseHeight = 1;
  while ((1 << t->levelCount) < side) ++t->levelCount;
  t->aspect = static_cast<float>(shape.width) / static_cast<float>(shape.height);
  t->lodBias = static_cast<float>(std::log2(std::max(t->aspect, 1.0f / t->aspect)));
  bool made = true;
  if (source.given != nullptr) {
    t->pixels = const_cast<uint8_t *>(source.given);
  } else {
    const size_t bytes = static_cast<size_t>(side) * side * ch;
    t->pixels = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes)));
    t->ownsPixels = 1;
    made = t->pixels != nullptr;
    if (made) {
      std::memset(t->pixels, 0, bytes);
      RowsCopy(t, source);
      if (shape.width != side || shape.height != side) made = Resample(t);
    }
  }
  if (made) made = LevelsBuild(t);
  if (!made) {
    if (t->ownsPixels) VoDeallocate(t->pixels);
    VoDeallocate(t->levels[0] != t->pixels ? t->levels[0] : nullptr);
    VoPoolFree(shared->imaging.texture_pool, t);
    return nullptr;
  }
  return t;
}

void TextureFree(ShaderShared *shared, VtTexture *t) {
  if (t->levelCount > 0) VoDeallocate(t->levels[0]);
  if (t->ownsPixels) VoDeallocate(t->pixels);
  VoDeallocate(t->name);
  t->check = 0;
  VoPoolFree(shared->imaging.texture_pool, t);
}

void TextureLink(ShaderShared *shared, VtTexture *t) {
  CacheLock hold(shared);
  ImagingShared &im = shared->imaging;
  t->prev = nullptr;
  t->next = im.head;
  if (im.head != nullptr) im.head->prev = t;
  im.head = t;
  im.textures.insert(t);
}

bool TextureRefusedSlow(const VtTexture *t, const char *procedure) {
  Post(kRefused, messages::kObjectNotLive, VO_MODULE_SHADER, procedure, static_cast<const void *>(t),
       "texture or bump map");
  return true;
}

bool TextureKnown(ShaderShared *shared, const VtTexture *t) {
  CacheLock hold(shared);
  return shared->imaging.textures.count(t) != 0;
}

namespace {

void TextureFreeAfterRender(void *object) {
  if (ShadingContext *s = StateGet()) TextureFree(s->shared, static_cast<VtTexture *>(object));
}

}  // namespace

// The last release takes the texture off the register at once; its memory
// goes now, or when the outermost render running on the application's
// thread ends, since the render may be sampling it.
VtStatus TextureRelease(ShaderShared *shared, VtTexture *t) {
  CacheLock hold(shared);
  ImagingShared &im = shared->imaging;
  if (im.textures.count(t) == 0)
    return Refuse(kRefused, messages::kImageHandleNotLive, static_cast<const void *>(t));
  if (t->refCount == 1) {
    (t->prev != nullptr ? t->prev->next : im.head) = t->next;
    if (t->next != nullptr) t->next->prev = t->prev;
    t->prev = t->next = nullptr;
  }
  if (--t->refCount == 0) {
    im.textures.erase(t);
    if (!RenderAfter(t, &TextureFreeAfterRender)) TextureFree(shared, t);
  }
  return 0;
}

VtTexture *TextureCacheRead(const char *name, const CacheRead &how) {
  ShadingContext *s = StateGet();
  if (s == nullptr || name == nullptr || name[0] == '\0') return nullptr;
  ShaderShared *shared = s->shared;
  CacheLock hold(shared);
  for (VtTexture *t = shared->imaging.head; t != nullptr; t = t->next)
    if (t->name != nullptr && t->kind == how.kind && t->channels == how.channels &&
        std::strcmp(t->name, name) == 0) {
      ++t->refCount;
      return t;
    }
  Post(kProgress, how.reading, VO_MODULE_SHADER, name);
  VtImage *image = VoImageRead(name);
  if (image == nullptr) {
    Post(kWarning, how.unreadable, VO_MODULE_SHADER, name);
    return nullptr;
  }
  Post(kProgress, how.read, VO_MODULE_SHADER, name);
  VtTexture *t = how.make(image, how.channels);
  (void)VoImageDestroy(image);
  if (t == nullptr) return nullptr;
  const size_t length = std::strlen(name) + 1;
  t->name = length < 0xFFFFFFFFu ? static_cast<char *>(VoAllocate(static_cast<uint32_t>(length))) : nullptr;
  if (t->name == nullptr) {
    (void)TextureRelease(shared, t);
    return nullptr;
  }
  std::memcpy(t->name, name, length);
  return t;
}

void TexturePoint(const VtTexture *t, double s, double tt, int count, float *out, TextureEdges edges) {
  const int32_t side = t->side;
  const double side_f = t->sideF;
  const int32_t i = TexelIndex(s, side_f, side, edges), j = TexelIndex(tt, side_f, side, edges);
  const uint8_t *p = t->pixels + (static_cast<size_t>(j) * side + i) * t->channels;
  if (t->channels == 3) {
    const float r = p[0], g = p[1], b = p[2];
    out[0] = r * kByte;
    if (count > 1) out[1] = g * kByte;
    if (count > 2) out[2] = b * kByte;
    return;
  }
  const float v = p[0] * kByte;
  for (int k = 0; k < std::min(count, 3); ++k) out[k] = v;
}

void TextureArea(const ShadingContext *s, const VtTexture *t, int count, float *out, TextureEdges edges) {
  const VtShaderGlobals *g = s->globals;
  double fs = 1, ft = 1;
  Footprint(s, g, &fs, &ft);
  const double f = std::min(fs, ft);
  const int32_t ch = t->channels;
  const int n = count == 1 ? 1 : (ch == 3 ? 3 : 1);
  float v[3] = {0, 0, 0};
  if (!(f > 1)) {
    for (int k = 0; k < n; ++k) v[k] = t->levels[0][k];
  } else {
    const double x = std::log2(f) + t->lodBias;
    const int32_t level = x >= t->levelCount ? t->levelCount : static_cast<int32_t>(x);
    const double ss = OnTexture(g->s - 0.5 / f, edges), st = OnTexture(g->t - 0.5 / f, edges);
    Bilinear(t->levels[level], 1 << level, ch, n, ss, st, v, edges);
    if (level < t->levelCount) {
      float b[3] = {0, 0, 0};
      Bilinear(t->levels[level + 1], 2 << level, ch, n, ss, st, b, edges);
      const double frac = x - std::trunc(x);  // fmod(x, 1) for the positive x here
      for (int k = 0; k < n; ++k) v[k] = static_cast<float>(v[k] + (b[k] - v[k]) * frac);
    }
  }
  if (n == 1 && count != 1) v[1] = v[2] = v[0];
  TexelOut(v, 3, count, out);
}

// A slide is not a tile: its look-ups stop at its border, where wrapping
// round would bring in the colours of its opposite edge.
void ProjectorSample(VtTexture *texture, float colour[3]) {
  ShadingContext *s = StateGet();
  if (s == nullptr) return;
  const VtShaderGlobals *g = s->globals;
  if (texture == nullptr || TextureRefused(texture, "VoTextureSampleArea")) {
    Zero(3, colour);
  } else if (g->xs < 0 || !(g->ds > 0)) {
    TexturePoint(texture, g->s, g->t, 3, colour, TextureEdges::kBound);
  } else {
    TextureArea(s, texture, 3, colour, TextureEdges::kBound);
  }
}

VtStatus ImagingStart(ShadingContext *s) {
  ImagingShared &im = s->shared->imaging;
  im.lock = VoLockCreate();
  im.texture_pool = VoPoolCreate(kPoolTextures, sizeof(VtTexture));
  im.environment_pool = VoPoolCreate(kPoolEnvironments, sizeof(VtEnvironment));
  im.head = nullptr;
  s->imaging = ImagingContext{};
  return im.lock != nullptr && im.texture_pool != nullptr && im.environment_pool != nullptr ? 0 : kNoMemory;
}

VtStatus ImagingStop(ShadingContext *s) {
  ImagingShared &im = s->shared->imaging;
  VtStatus st = EnvironmentsStop(s);
  while (im.head != nullptr) {
    VtTexture *t = im.head;
    im.head = t->next;
    TextureFree(s->shared, t);
  }
  im.textures.clear();
  ImagingContextFree(&s->imaging);
  st |= PoolDisposeClear(&im.texture_pool) | PoolDisposeClear(&im.environment_pool);
  if (im.lock != nullptr) st |= VoLockDestroy(im.lock);
  im.lock = nullptr;
  return st;
}

void ImagingContextCopied(ImagingContext *copy) {
  copy->vertex_block = nullptr;
  copy->vertex_block_size = 0;
  copy->transparent_depth = 0;
  copy->map_sources = nullptr;
  copy->map_source_count = copy->map_source_capacity = 0;
}

void ImagingContextFree(ImagingContext *c) {
  VoDeallocate(c->vertex_block);
  c->vertex_block = nullptr;
  c->vertex_block_size = 0;
  VoDeallocate(c->map_sources);
  c->map_sources = nullptr;
  c->map_source_count = c->map_source_capacity = 0;
}

void ImagingImageStart(ShadingContext *s) {
  uint32_t width = 0, height = 0;
  double aspect = 1;
  if (VoViewGetResolution(VoViewGet(), &width, &height, &aspect) != 0) width = height = 0;
  s->imaging.view_width = static_cast<int32_t>(width);
  s->imaging.view_height = static_cast<int32_t>(height);
}

namespace {

// The module's messages around one build.
VtTexture *TextureMake(VtImage *image, int32_t channels) {
  ShadingContext *s = StateGet();
  if (s == nullptr || image == nullptr) return nullptr;
  CacheLock hold(s->shared);
  Post(kProgress, 535, VO_MODULE_SHADER);
  PixelSource source{};
  VtTexture *t =
      ImageRows(image, &source)
          ? TextureBuild(s->shared, TextureShape{0, channels, image->width, image->height, 0}, source)
          : nullptr;
  Post(kProgress, 536, VO_MODULE_SHADER);
  if (t == nullptr) {
    Post(kNoMemory, 537, VO_MODULE_SHADER);
    return nullptr;
  }
  TextureLink(s->shared, t);
  return t;
}

const CacheRead kTextureRead{0, 3, 538, 539, 516, &TextureMake};

// A property of a live texture: index 0 or 1 with somewhere to put it.
VtStatus PropertyRefused(ShadingContext *s, const VtTexture *t, int32_t index, const void *value) {
  if (s == nullptr || !TextureKnown(s->shared, t))
    return Refuse(kRefused, messages::kImageHandleNotLive, static_cast<const void *>(t));
  if ((index != 0 && index != 1) || value == nullptr)
    return Refuse(kRefused, messages::kTexturePropertyRefused, index);
  return 0;
}

}  // namespace

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtTexture *VoTextureCreate(VtImage *image, int32_t channels) { return TextureMake(image, channels); }

VtTexture *VoTextureRead(const char *name, int32_t channels) {
  CacheRead how = kTextureRead;
  how.channels = channels;
  return TextureCacheRead(name, how);
}

VtStatus VoTextureDestroy(VtTexture *texture) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  ShadingContext *s = StateGet();
  if (texture == nullptr || s == nullptr) return 0;
  return TextureRelease(s->shared, texture);
}

VtStatus VoTextureSamplePoint(float *out, int32_t count, VtTexture *texture) {
  ShadingContext *s = StateGet();
  if (out == nullptr || count < 1) return 0;
  if (texture == nullptr || s == nullptr) {
    Zero(count, out);
    return 0;
  }
  if (TextureRefused(texture, "VoTextureSamplePoint")) {
    Zero(count, out);
    return kRefused;
  }
  TexturePoint(texture, s->globals->s, s->globals->t, count, out, TextureEdges::kWrap);
  return 0;
}

VtStatus VoTextureSampleArea(float *out, int32_t count, VtTexture *texture) {
  ShadingContext *s = StateGet();
  if (out == nullptr || count < 1 || s == nullptr) return 0;
  const VtShaderGlobals *g = s->globals;
  if (g->xs < 0 || !(g->ds > 0)) return VoTextureSamplePoint(out, count, texture);
  if (texture == nullptr) {
    Zero(count, out);
    return 0;
  }
  if (TextureRefused(texture, "VoTextureSampleArea")) {
    Zero(count, out);
    return kRefused;
  }
  TextureArea(s, texture, count, out, TextureEdges::kWrap);
  return 0;
}

VtStatus VoTexturePropertyGet(VtTexture *texture, int32_t index, VtTypedValue *value) {
  ShadingContext *s = StateGet();
  if (VtStatus st = PropertyRefused(s, texture, index, value)) return st;
  *value = VtTypedValue{};
  value->type = VtNat32;
  value->value.i = index == 0 ? texture->width : texture->height;
  return 0;
}

VtStatus VoTexturePropertySet(VtTexture *texture, int32_t index, const VtTypedValue *value) {
  ShadingContext *s = StateGet();
  if (VtStatus st = PropertyRefused(s, texture, index, value)) return st;
  (index == 0 ? texture->width : texture->height) = value->value.i;
  return 0;
}

VtImage *VoTextureToImage(VtTexture *texture, int32_t level) {
  ShadingContext *s = StateGet();
  if (s == nullptr || texture == nullptr || !TextureKnown(s->shared, texture) || level < 0 ||
      level > texture->levelCount)
    return nullptr;
  VtImage *image = VoImageCreate();
  if (image == nullptr) return nullptr;
  const int32_t n = texture->baseWidth << level, ch = texture->channels;
  image->width = image->height = n;
  if (VoImageAllocateData(image) != 0) {
    (void)VoImageDestroy(image);
    return nullptr;
  }
  const bool border = texture->bordered != 0 && level < texture->levelCount;
  const size_t pitch = static_cast<size_t>(n) + (border ? 2 : 0), start = border ? pitch + 1 : 0;
  for (int32_t y = 0; y < n; ++y)
    for (int32_t x = 0; x < n; ++x) {
      const uint8_t *p = texture->levels[level] + (start + y * pitch + x) * ch;
      uint8_t *d = image->data + static_cast<size_t>(y) * image->bytes_per_row + 3 * x;
      for (int c = 0; c < 3; ++c) d[c] = p[ch == 3 ? c : 0];
    }
  return image;
}

}  // namespace vo
