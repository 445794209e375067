// The shader kernel's image services: textures and bump maps (one record
// kind in one shared cache), environment cubes, shadow depth maps and the
// ray-traced shadow procedures.
//
// Invariants: the cache list, its register and every reference count change
// only under the texture-cache lock (recursive, shared by all contexts);
// sampling takes no lock and writes nothing. A record's reduced levels lie
// in one block; entry levelCount of the level table is the finest level.
// Environment faces are bordered textures outside the cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>

#include <vo/vo_driver.h>
#include <vo/vo_shader.h>

#include "scene/voview/face.h"

struct VtLock;
struct VtPool;

constexpr int kTextureLevelsMost = 13;  // sides 1 .. 4096

struct VtTexture {
  VtTexture *prev;
  VtTexture *next;
  int32_t width, height;  // of the source image (properties 0 and 1)
  float aspect;
  float lodBias;
  int32_t side;
  int32_t channels;  // 1 or 3
  float sideF;
  uint32_t check;   // kTextureLive from the build to the free (in what was padding)
  uint8_t *pixels;  // finest level, side x side texels
  uint8_t *levels[kTextureLevelsMost];
  int32_t levelCount;
  int32_t baseWidth, baseHeight;  // always 1
  size_t levelBytes;
  int32_t bordered;  // environment faces
  char *name;
  int32_t refCount;
  uint32_t kind;        // cache key with name and channels: 0 texture, 1 bump map
  uint32_t ownsPixels;  // the builder allocated pixels
};

struct VtEnvironment {
  uint8_t *pixelBlock;  // rendered cubes: the six faces
  double size, inverseSize;
  float texelAngle;
  float box[6];
  float centre[3];
  int32_t largestSide;
  int32_t rendered;
  int32_t fixed;
  VtTexture *faces[6];  // +x, -x, +y, -y, +z, -z
};

namespace vo::shader {

struct ShadingContext;
struct ShaderShared;

// What all contexts share: the texture cache and the pools and registers of
// textures and environments.
struct ImagingShared {
  VtLock *lock;
  VtTexture *head;
  VtPool *texture_pool;                                    // 0x50005
  VtPool *environment_pool;                                // 0x50004, the further pool
  std::unordered_set<const VtTexture *> textures;          // under lock
  std::unordered_set<const VtEnvironment *> environments;  // under lock
};

// Where a nested render's scanline receiver writes.
struct RowReceiver {
  uint8_t *cursor;
  size_t row_bytes;
  uint32_t rows_left;   // rows still expected in this block
  uint32_t overflowed;  // a render delivered more rows than asked for
};

// What a light's maps were made from (mapsource.cpp): the light, its map
// block then, and the digest of the casters and bounds.
struct MapSource {
  const VtShader *light;
  const float *block;
  uint64_t digest;
};

// What each context owns.
struct ImagingContext {
  VtEnvironment *global_environment;
  float shadow_bounds[6];
  uint32_t shadow_bounds_set;
  RowReceiver receiver;
  int32_t view_width, view_height;  // of the view at image set-up
  uint32_t transparent_depth;       // levels of the transparent shadow ray
  void *vertex_block;               // hit vertices are interpolated here
  size_t vertex_block_size;
  MapSource *map_sources;  // of the maps this context made
  uint32_t map_source_count, map_source_capacity;
};

// Holds the texture-cache lock (recursive) for a scope.
class CacheLock {
 public:
  explicit CacheLock(ShaderShared *shared);
  ~CacheLock();
  CacheLock(const CacheLock &) = delete;
  CacheLock &operator=(const CacheLock &) = delete;

 private:
  VtLock *lock_;
};

// --- textures.cpp ---------------------------------------------------------
VtStatus ImagingStart(ShadingContext *s);
VtStatus ImagingStop(ShadingContext *s);
// A context copy shares the cache and owns nothing of the source's.
void ImagingContextCopied(ImagingContext *copy);
void ImagingContextFree(ImagingContext *c);
// The current view's pixel size, read once per image for area sampling.
void ImagingImageStart(ShadingContext *s);

// Pixels for the builder: given as they stand, or read from image rows.
struct PixelSource {
  const uint8_t *given;  // taken as the finest level, side x side x channels
  const uint8_t *rows;   // else rows of an image
  int32_t bits;          // 24 or 8
  size_t row_bytes;
};
struct TextureShape {
  uint32_t bordered;
  int32_t channels, width, height;
  int32_t forced_side;  // 0: none
};
// The builder: null on refusal, nothing kept.
VtTexture *TextureBuild(ShaderShared *shared, const TextureShape &shape, const PixelSource &source);
// Gives a record and its blocks back.
void TextureFree(ShaderShared *shared, VtTexture *t);
// The finest side for a width and height (0 above 4096).
int32_t TextureSideFor(int32_t width, int32_t height);
// The rows of an image checked for the builder: null data, bad size, depth
// or row length refused (false).
bool ImageRows(const VtImage *image, PixelSource *source);
// Links a record at the head of the cache (lock held by the caller or not).
void TextureLink(ShaderShared *shared, VtTexture *t);
// A live cached or created record (under the lock).
bool TextureKnown(ShaderShared *shared, const VtTexture *t);

// The check word of a texture or bump map from its build to its free: the
// samples, called per point, compare it and nothing else.
constexpr uint32_t kTextureLive = 0x7e47e4ed;
// True, with a diagnostic naming the procedure, for a texture argument that
// is no live texture or bump map.
bool TextureRefusedSlow(const VtTexture *t, const char *procedure);
inline bool TextureRefused(const VtTexture *t, const char *procedure) {
  if (t->check == kTextureLive) [[likely]]
    return false;
  return TextureRefusedSlow(t, procedure);
}
// False for an image the driver framework, while it runs, does not hold as
// live (one destroyed, or a record of another kind).
bool ImageUsable(const VtImage *image);
// One reference dropped; unlinked at 1, freed at 0.
VtStatus TextureRelease(ShaderShared *shared, VtTexture *t);
// Reads a named record of a kind and channel count through the cache.
using TextureMaker = VtTexture *(*)(VtImage *image, int32_t channels);
struct CacheRead {
  uint32_t kind;
  int32_t channels;
  uint32_t reading, read, unreadable;  // messages
  TextureMaker make;
};
VtTexture *TextureCacheRead(const char *name, const CacheRead &how);
// Colour samples, 0..1 per channel; a coordinate beyond the texture's
// border wraps round (a tile) or stays on the border (a projector's slide).
enum class TextureEdges { kWrap, kBound };
void TexturePoint(const VtTexture *t, double s, double tt, int count, float *out, TextureEdges edges);
void TextureArea(const ShadingContext *s, const VtTexture *t, int count, float *out, TextureEdges edges);

// --- environments.cpp -----------------------------------------------------
VtStatus EnvironmentsStop(ShadingContext *s);

// --- shadowmaps.cpp ------------------------------------------------------
// The bytes of a light's map block and the side of its maps (0: no maps).
size_t MapBlockBytes(int32_t resolution, int32_t kind, int32_t *side);

// --- mapsource.cpp -------------------------------------------------------
// The digest of what a light's maps would be made from now.
uint64_t MapSourceDigest(const ShadingContext *s, const VtLightData *d);
// True when the light's maps were made here from another scene than the
// digest's; false for maps without a record (kept until invalidated).
bool MapSourceChanged(ShadingContext *s, const VtShader *light, uint64_t digest);
// Records the light's maps as made from the digest; forgets a record.
void MapSourceKeep(ShadingContext *s, const VtShader *light, uint64_t digest);
void MapSourceForget(ShadingContext *s, const VtShader *light);

// --- rayshadows.cpp ------------------------------------------------------
// One of the four ray-traced shadow procedures.
VtLightShadowProc RayTracedShadow(bool area, bool transparent);

// --- nested renders (shadowmaps.cpp) --------------------------------------
// What a nested render replaces: the sticky word, scene bounds, callback
// 0xc0001, module 12's pixel mode and control 0x1000b; restored by Leave.
// Between the two the callback, the mode and the control are the
// application's again while its callbacks run (CallerState).
struct NestedRender {
  CallerState state;  // first: the state's procedures find the record by it
  VtProc own_line_output;
  VtTypedValue own_pixel_mode, own_repeat;
  uint32_t sticky;
  uint32_t *sticky_word;
  VtProc line_output;
  VtTypedValue pixel_mode;
  uint32_t pixel_mode_held;
  VtTypedValue repeat;
  uint32_t repeat_held;
};
void NestedRenderEnter(NestedRender *n, uint32_t pixel_mode, VtProc receiver);
void NestedRenderLeave(NestedRender *n);
// The view a nested render pushed (VoViewPush), lent to the application's
// callbacks while it stays pushed: Enter after the push, Leave before the
// pop.
struct PushedView {
  CallerState state;  // first, as above
  view::PushLent lent;
};
void PushedViewEnter(PushedView *v);
void PushedViewLeave(PushedView *v);
// A nested render (execute code) whose rows go to the receiver's block:
// rows of row_bytes, exactly rows of them, else it is refused with message
// 2122. The receiver is the nested render's own for its time: a render
// around it (a cube face whose lights make their maps, a map whose progress
// call makes another light's maps) finds its own as it left it.
VtStatus ReceivedRender(ShadingContext *s, uint32_t code, uint8_t *block, size_t row_bytes, uint32_t rows);

}  // namespace vo::shader
