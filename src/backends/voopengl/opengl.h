// The OpenGL back end (voopengl, module 111): its context record, the
// material caches and GL material records, and what its files share.
//
// Invariants a reader must know:
// - one context per process (created at module start); a worker's copy
//   answers the same record, since only the calling thread draws;
// - every live VtOpenGLPrimitiveData is on the context's records list until
//   its last sharer dies; after module terminate the property handlers do
//   nothing;
// - a material cache's records and their textures form a chain the cache
//   owns; every texture of a chain was made in the cache's share group, and
//   textures are made only while one of the targets' contexts is current
//   (until then a record keeps its sources pending);
// - state goes to OpenGL only on change: the current record (field 29),
//   shininess, stipple, alpha test and 2-D texturing are remembered.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_driver.h>
#include <vo/vo_opengl.h>
#include <vo/vo_shader.h>

#include "vo_impl.h"

// Where a layer's colour or transparency comes from.
struct VtTextureSource {
  uint32_t
      kind;  // 1 nothing, 2 a plain colour, 3 an image, 4 a transparency image (red byte as alpha), 5 decal
  float colour[3];
  VtImage *image;  // owned while the source lives
};

// A texture whose making waits for a context.
struct VtTexturePending {
  VtTextureSource colour;
  VtTextureSource transparency;
  uint32_t decal;    // a zero border one texel wide, clamped
  uint32_t clamped;  // a clamped decal layer: scales and offsets from s0, t0
  float s0, t0;
};

// One layer of a translated material.
struct VtGLMaterialRecord {
  VtShader *texture_space;                     // the layer's own texture space, or null (the primitive's)
  float s_scale, t_scale, s_offset, t_offset;  // a clamped decal layer's; 0 means not set
  uint32_t texture;                            // OpenGL texture name, 0 when untextured
  float base[3];
  float ambient[4];
  float diffuse[4];  // [3] is the alpha used for transparency
  float unscaled_diffuse[4];
  float specular[4];
  float emission[4];
  float shininess;            // 1 to 128, 0 when not lit specularly
  float plain[4];             // sent with glColor in colour mode 1
  uint32_t kind;              // bit 0 textured, bit 1 transparent; 4 a layer of a layered material
  VtGLMaterialRecord *next;   // next layer
  VtTexturePending *pending;  // sources of a texture not yet made
  int32_t texture_width, texture_height;
};

// The material cache: one per material, shared by its primitives.
struct VtOpenGLMaterialCache {
  VtOpenGLMaterialCache *next;  // field 47's list
  VtOpenGLMaterialCache *prev;  // so that a cache leaves the list without a walk
  VtMaterial *material;
  uint32_t references;
  uint32_t valid;
  VtGLMaterialRecord *record;  // head of the chain
  int32_t group;               // share group of the chain's textures, -1 when none is made
};

// A texture made for an image shader (background images).
struct VtShaderTexture {
  VtShaderTexture *next;
  VtShader *shader;
  uint32_t texture;
  int32_t width, height;
  float aspect;
  int32_t group;
};

struct VtOpenGLHooks {
  VtRenderContextCreateProc create;
  VtRenderContextReleaseProc release;
  VtRenderContextSetProc set;
  VtRenderContextGetProc get;
  VtRenderContextParameterProc parameter;
  VtRenderContextSpareProc spare;
};

struct VtOpenGLDeferred;
namespace vo::opengl {
struct Frame;
struct ProceduralBlock;
}  // namespace vo::opengl

// One slot of the index of material caches by material.
struct VtOpenGLCacheIndex {
  VtMaterial *material;
  VtOpenGLMaterialCache *cache;
};

constexpr uint32_t kTransformStackDepth = 64;

// Field numbers of the table in comments.
struct VtOpenGLContext {
  int32_t draw_style;                    // 0
  int32_t display_list_mode;             // 1
  int32_t lighting_mode;                 // 2
  int32_t colour_mode;                   // 3
  int32_t render_context_choice;         // 4
  int32_t perspective_hint;              // 5
  int32_t background_drawing;            // 6
  int32_t transparency_mode;             // 7
  int32_t decal_mode;                    // 8
  float background[3];                   // 9-11
  float background_alpha;                // 12
  uint32_t started;                      // 13
  uint32_t frame_open;                   // 14
  uint32_t deferring;                    // 15
  uint32_t stipple_on;                   // 16
  uint32_t decal_textures;               // 17
  uint32_t textures;                     // 18
  float eye_direction[3];                // 19-21
  float eye_position[4];                 // 22-25
  int32_t projection;                    // 26
  VtPool *record_pool;                   // 27
  VtPool *cache_pool;                    // 28
  VtGLMaterialRecord *current_record;    // 29
  VtOpenGLMaterialCache *current_cache;  // 30
  uint32_t texturing_on;                 // 31
  uint32_t texture_size;                 // 32
  uint32_t list_threshold;               // 33
  void *frame_render_context;            // 34
  VtTypedValue saved_controls[2];        // 35-36
  uint32_t strips;                       // 37
  uint32_t hooks_present;                // 38
  VtOpenGLHooks hooks;                   // 39-44
  void *render_contexts[2];              // 45-46
  VtOpenGLMaterialCache *caches;         // 47
  VtShaderTexture *shader_textures;      // 48
  int32_t texgen_mode;                   // 49
  VtShader *vertex_space;                // 50
  float tex_offset[2];                   // 51-52
  float tex_scale[2];                    // 53-54
  float shininess;                       // 55
  uint32_t lighting_on;                  // 56
  VtPrimitive *current_primitive;        // 57
  uint32_t viewport[2];                  // 58-59
  int32_t normalise_count;               // 60
  VtTransform **transform_stack;         // 61
  int32_t transform_depth;               // 62
  uint32_t mirrored[2];                  // 63-64
  VtOpenGLDeferred *deferred;            // 65
  VtMaterial *default_material;          // 66
  VtOpenGLMaterialCache default_cache;   // 67-71
  uint32_t no_swap;                      // 72
  uint32_t clear_mask;                   // 73
  int32_t frame_group;                   // 74
  uint32_t alpha_test_on;                // 75
  // Beyond the table:
  VtOpenGLPrimitiveData *records;    // every live per-primitive record
  VtOpenGLMaterialCache *set_cache;  // VoOpenGLMaterialSet's, kept until the next set or terminate
  uint32_t stipple_pattern;          // the pattern sent while the stipple is on
  VtOpenGLCacheIndex *index;         // field 47's caches by material (null: the list is searched)
  uint32_t index_size, index_used;
  uint32_t index_off;                               // an index could not be had: the list alone serves
  vo::opengl::Frame *frame;                         // the open frame's own state, or null
  vo::opengl::ProceduralBlock *procedural_classes;  // the newest live procedural class
  // The light list whose lights past GL_MAX_LIGHTS were last warned of, and
  // how many it held: a list is warned of once, not in every frame.
  const VtReference *lights_warned;
  int32_t lights_warned_count;
};
static_assert(offsetof(VtOpenGLContext, draw_style) == 0 && offsetof(VtOpenGLContext, background) == 36);
static_assert(offsetof(VtOpenGLContext, started) == 52 && offsetof(VtOpenGLContext, record_pool) % 8 == 0);

namespace vo::opengl {

constexpr uint32_t kModule = VO_MODULE_OPENGL;
constexpr uint32_t kPoolRecords = 0x6f0001, kPoolCaches = 0x6f0002;

// The context, or null before start and after terminate.
VtOpenGLContext *Context();

// ---- Per-primitive records (records.cpp) -----------------------------------
// The record of property 322, or null; *status the property read's.
VtOpenGLPrimitiveData *RecordOf(VtPrimitive *p, VtStatus *status = nullptr);
VtStatus PropertyStart(VtOpenGLContext *c);
// Destroys every live record's copy and inverse (module terminate).
void RecordsStop(VtOpenGLContext *c);
// The records of the current list's primitives invalidated (the back end's
// own stop): a primitive destroyed while the list still names it is passed
// over without a diagnostic, as its record went with it.
VtStatus SceneRecordsInvalidate(uint32_t flags);
// Every procedural class the application made and did not destroy, freed.
void ProceduralClassesFree(VtOpenGLContext *c);
// A new record stored as the primitive's property 322 (null: *status why).
VtOpenGLPrimitiveData *RecordMake(VtOpenGLContext *c, VtPrimitive *p, VtStatus *status);

// ---- Materials (materials.cpp) ---------------------------------------------
// Builds the cache from the material: a new cache (fresh = true) gets its
// next and count cleared; a rebuild keeps them and frees the old chain.
VtStatus CacheBuild(VtOpenGLContext *c, VtMaterial *material, VtOpenGLMaterialCache *cache, bool fresh);
// Frees the cache's chain, deleting its textures in their share group.
void ChainFree(VtOpenGLContext *c, VtOpenGLMaterialCache *cache);
// Lowers the count of a cache of field 47's list; the last frees it.
void CacheRelease(VtOpenGLContext *c, VtOpenGLMaterialCache *cache);
// The primitive's cache, found or made (module-internal look-up).
VtStatus CacheLookup(VtOpenGLContext *c, VtPrimitive *p, VtOpenGLMaterialCache **out);
// Makes the chain's pending textures and remakes a chain of another group
// (needs a current context; nothing without one).
VtStatus CacheReady(VtOpenGLContext *c, VtOpenGLMaterialCache *cache);
// Frees every cache of the list and the set cache (module terminate).
void CachesStop(VtOpenGLContext *c);

// ---- Sending state (send.cpp) ----------------------------------------------
VtStatus RecordSend(VtOpenGLContext *c, VtGLMaterialRecord *r);
// The stipple pattern number for a diffuse alpha.
uint32_t StipplePattern(float alpha);
// Fills 128 bytes with pattern n (0..16).
void StippleBytes(uint32_t n, uint8_t out[128]);
VtStatus TextureSpaceSet(VtOpenGLContext *c, VtShader *space, const VtGLMaterialRecord *r,
                         VtTransform *inverse);

// ---- Textures (textures.cpp) -----------------------------------------------
// A texture side: the smallest power of two not below min(limit / 2, side),
// 1 below 2 (limit the smaller of field 32 and OpenGL's maximum).
int32_t TextureSide(int64_t side, uint32_t limit);
// Makes the texture (a context current); 0 when it cannot.
uint32_t TextureMake(VtOpenGLContext *c, VtTextureSource colour, VtTextureSource transparency, bool decal,
                     int32_t *width, int32_t *height);
void SourceFree(VtTextureSource *s);
// Deletes texture names or a display list in their share group; a group
// that died drops them (debug 2721).
void TexturesDelete(int32_t group, const uint32_t *names, uint32_t count);
void ListDelete(int32_t group, uint32_t list);
// The share group OpenGL calls reach now: inside a frame field 74 (-1 for
// the application's own context), else the group of the targets' context
// current, kNoContext when none is.
constexpr int32_t kNoContext = INT32_MIN;
int32_t CurrentGroup(const VtOpenGLContext *c);
VtStatus ShaderTextureRelease(VtOpenGLContext *c, VtShaderTexture *t);
// The texture of an image shader (a background's "image", else its "file
// name"), made on first use with a context current and made again for
// another share group; null (status 0) when there is no usable image.
VtShaderTexture *ShaderTextureGet(VtOpenGLContext *c, VtShader *shader, VtStatus *status);
void ShaderTexturesReleaseAll(VtOpenGLContext *c);

// ---- Shader arguments (materials.cpp) --------------------------------------
bool HasLabel(VtShader *s, const char *label);
const char *ClassName(VtShader *s);
float ArgFloat(VtShader *s, const char *label, float otherwise);
bool ArgTriple(VtShader *s, const char *label, float out[3]);
void *ArgPointer(VtShader *s, const char *label);
// The shader's "image" argument when it is usable (else null, 2720 posted),
// and the image read from its "file name" (the caller's to destroy). A file
// named but giving no usable image posts 2722 naming it and adds the warning
// bit to *status when given.
VtImage *ImageArgument(VtShader *s);
VtImage *ImageFromFile(VtShader *s, VtStatus *status = nullptr);

// ---- The frame (render.cpp) ------------------------------------------------
// Draws the current scene: execute code 0x6f0001.
VtStatus Render();

}  // namespace vo::opengl
