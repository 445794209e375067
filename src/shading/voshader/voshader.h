// The shader kernel (voshader, module 5): its shared registry and its
// per-context shading state.
//
// What all contexts share, read-only once the libraries have started: the
// type table with its classes, the string tables, the globals table, the
// jitter table, the register of live shaders and the change counter (one
// atomic, never reset, so that a stamp taken in one context is never fresh in
// another by accident). What each context owns: its globals record and
// environment stack, image mode and evaluate selector, light chain, ray
// depth, jitter cursor, controls, its pools, scratch transform and buffer.
// A worker's copy is made by ContextCopy and freed by ContextFree.
#pragma once

#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <vo/vo_shader.h>

#include "kernel/vosystem/face.h"
#include "shading/voshader/face.h"
#include "shading/voshader/imaging.h"

// A material (private to the kernel; renderers read it through the
// material procedures).
struct VtMaterial {
  uint64_t stamp;  // the change counter when last reset
  uint32_t enable_transparency;
  uint32_t enable_displacement;
  uint32_t secondary;       // any secondary shader set
  uint32_t special_global;  // a class needs texture coordinates
  uint32_t raytrace;        // a class declared "raytrace"
  VtShader *colour;
  VtShader *transparency;
  VtShader *reflectance;
  VtShader *second_reflectance;
  VtShader *displacement;
  VtShader *secondary_colour;
  VtShader *secondary_displacement;
  VtShader *secondary_reflectance;
  VtColour average;
  void *pointer;
};

// A shade context: one sample point of a primitive. Values derived from the
// vertex are evaluated in four groups when a getter first needs them.
struct VtShadeContext {
  float Xo, Yo;
  VtPrimitive *Prim;
  void *Vert;
  float P[3], Pw[3], Co[3];
  float Ds, Dt;
  float dPds[3], dPdt[3], dPdu[3], dPdv[3];
  float Du, Dv;
  float I[3];
  float ModI;
  float N[3], Ng[3];
  float S, T;
  float U;
  float UnitI[3];
  float V;
  uint16_t texture_valid, incident_valid, parameter_valid, position_valid;
  uint32_t check;  // kShadeContextLive from creation to destroy
  uint32_t spare;
};

namespace vo::shader {

constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;  // 0x20000012: a bad argument or a handle not live
constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;

// Pool tags.
constexpr uint32_t kPoolShaders = 0x50001;
constexpr uint32_t kPoolPrototypes = 0x50003;
constexpr uint32_t kPoolGlobals = 0x50006;
constexpr uint32_t kPoolRays = 0x50007;
constexpr uint32_t kPoolHits = 0x50008;
constexpr uint32_t kPoolLights = 0x50009;
constexpr uint32_t kPoolMaterials = 0x50002;
constexpr uint32_t kPoolShadeContexts = 0x5000a;
constexpr uint32_t kPoolShadeContextNodes = 0x5000b;

// The check word of a live shade context; a destroy clears it, so a
// context destroyed, or a record of another kind, is refused by one compare.
constexpr uint32_t kShadeContextLive = 0x5c0e7e47;
// The check word of a live shader record (a light's worker copy too): the
// shader procedures called per sample compare it and nothing else.
constexpr uint32_t kShaderLive = 0x5ade7e47;

constexpr uint32_t kGlobalsMax = 100;
constexpr uint32_t kGlobalNamePool = 1000;
constexpr uint32_t kJitterCount = 512;
constexpr uint32_t kBufferBytes = 256;
constexpr uint32_t kPropertyOffsets = 17;
constexpr uint32_t kImpulsesMax = 1000;  // impulses per cell; the table holds one more

// A named table of strings: the name's and the strings' characters follow
// the record in the same block.
struct StringTable {
  StringTable *next;
  uint32_t count;
  const char *name;
  const char **strings;
  // A class's argument meanings, one for each string after the display
  // name; constants of the library that made the class, or null.
  const char *const *meanings;
  // Its buffer arguments (constants of the library), or null.
  const ArgumentBuffer *buffers;
  size_t buffer_count;
};

struct ShaderType {
  uint32_t code;
  VtShaderPrototype *first;
  uint32_t count;
  const char **names;  // display names in list order; null until asked for
};

struct GlobalEntry {
  uint32_t offset;
  uint32_t use;
  const char *name;
  uint32_t special;
};

// The noise tables, drawn once at start from the kernel generator seeded
// with 1 and read-only afterwards; every context reads the same ones.
struct NoiseTables {
  float *octave_amplitudes;  // 11: the first octave's amplitude by octave count
  float *impulses;           // 1001 x {x, y, z, weight}
  float *kernel;             // 101: the sparse kernel by squared distance
  uint8_t *sparse_perm;      // 256
  uint8_t *perlin_perm;      // 256
  float *perlin_gradients;   // 256 x 3
  float *classic_gradients;  // 512 groups of 4, read as one flat array
  int32_t *classic_perm;     // 512
};

struct ShadingContext;

// One noise family: noise and turbulence in one, two and three dimensions.
struct NoiseProcs {
  double (*noise1)(const ShadingContext *, double);
  double (*noise2)(const ShadingContext *, double, double);
  double (*noise3)(const ShadingContext *, const float *);
  float (*turbulence1)(const ShadingContext *, double, uint32_t);
  float (*turbulence2)(const ShadingContext *, double, double, uint32_t);
  float (*turbulence3)(const ShadingContext *, const float *, uint32_t);
};

// Keeps the floats the buffer argument (label, at index) of the shader needs
// now, as its value is set to an address; a value of none forgets them.
void BufferKeep(const VtShader *shader, const char *label, uint32_t index, const VtTypedValue &value);
// BuffersHold for every shader with a buffer kept, as an image begins.
void BuffersHoldAll();

struct ShaderShared {
  ShaderType types[VO_SHADER_TYPES];
  uint32_t extra_types;
  VtShaderPrototype *current_class;
  StringTable *tables;
  VtPool *prototype_pool;
  VtPool *shader_pool;
  GlobalEntry globals[kGlobalsMax];
  uint32_t global_count;
  char name_pool[kGlobalNamePool];
  uint32_t name_cursor;
  uint32_t use_s, use_t, use_Ci;
  float jitter[kJitterCount];
  NoiseTables noise;
  std::atomic<uint64_t> changes;
  std::unordered_set<const VtShader *> live;  // under RegisterGuard
  // Each live shader's instance data with its shader, under RegisterGuard:
  // a class entry given data asks whose it is.
  std::unordered_map<const void *, const VtShader *> instance_data;
  // The chain of the light list last set (through the shaders' links), on
  // each of whose lights the list holds one reference.
  VtShader *held_lights;
  std::vector<const VtShader *> held_sorted;  // its lights by address, or empty until asked
  VtPool *material_pool;
  std::unordered_set<const VtMaterial *> materials;  // live materials, under RegisterGuard
  // The floats each buffer argument set needed when it was set (a shader
  // destroyed leaves its entries, which a shader made at its address
  // replaces as it sets its own buffers).
  struct KeptBuffer {
    const VtShader *shader;
    uint32_t index;
    uint64_t floats;
  };
  std::vector<KeptBuffer> kept_buffers;
  ImagingShared imaging;
};

// The texture frame of one polygon.
struct TextureFrame {
  float dPds[3], dPdt[3];
  float ds, dt;
  uint32_t handedness;
};

// What the point being shaded leaves in the context besides its globals
// record: the ray depth and the shadow maps' jitter cursor, the polygon
// frame's unscaled steps and a point's own frame vectors, the texture frame
// of the polygon last set up, and a ray hit's vertex: a buffer sized for the
// vertex layout of the last primitive shaded for the ray tracer (grown,
// never shrunk), and that primitive with its layout (a primitive whose
// layout changed is sized again).
struct PointState {
  uint32_t ray_depth;
  uint32_t jitter_index;
  float polygon_ds, polygon_dt;
  float point_dPds[3], point_dPdt[3];
  const VtPrimitive *frame_primitive;
  const VtPolygon *frame_polygon;
  uint32_t frame_serial;
  VtStatus frame_status;
  TextureFrame frame;
  unsigned char *hit_vertex;
  uint32_t hit_vertex_size;
  const VtPrimitive *hit_primitive;
  const VtContents *hit_contents;
};

// What an image initialised inside another one saves of the outer image.
// Besides the image's own values, what the point the outer image was
// shading left in the context (a render started from a shader returns to
// that point): the globals record and the point's state, whose hit vertex
// the globals may point into (the inner image has one of its own, freed at
// its end).
struct ImageSaved {
  uint32_t mode, selector, perspective;
  float filter_scale;
  float E[3], I[3], unitI[3];
  VtShader *foreground;
  VtShaderCall foreground_call;
  const float *angle_tangent;
  VtShaderGlobals *globals;  // a copy from the globals pool
  PointState point;
};
constexpr uint32_t kImageNestingMost = 8;

// The vertex-property offsets of one contents layout, looked up once.
struct ContentsOffsets {
  const VtContents *contents;
  int32_t vertex[13];  // in the order of the globals' offset fields
  int32_t plane;       // polygon plane
  int32_t vrefs;       // polygon vertex references
  int32_t transform;   // primitive transform
};

using TransformTypeProc = uint32_t (*)(VtTransform *);
using TransformMapProc = VtStatus (*)(float *, const float *, VtTransform *);
using TransformNormalProc = VtStatus (*)(float *, const float *, const float *, VtTransform *);
// The ray tracer's services: shadow (1 blocked, 0 clear), the last hit.
using RayShadowProc = float (*)(const float *origin, const float *direction, double near, double far,
                                VtPolygon *ignored);
using RayHitProc = VtStatus (*)(VtPrimitive **primitive, VtPolygon **polygon, float *point);
// The filter module's services: the polygon being filtered (null when not
// filtering) and its sampling loop, which calls the per-sample procedure
// for each sample and leaves the filtered value in the shade context.
using FilterSampleProc = VtStatus (*)(VtShadeContext *, VtShaderGlobals *);
using FilterPolygonProc = VtPolygon *(*)();
using FilterLoopProc = VtStatus (*)(void *filter, void *map_func, VtShadeContextReference *ring,
                                    FilterSampleProc sample, VtShadeContext *context,
                                    VtShaderGlobals *globals);
// The work farm's lock services and run-once, typed as the farm's own
// procedures (they are called through these pointers).
using JobLockCreateProc = decltype(&exported::VoMultiThreadLockCreate);
using JobLockDestroyProc = decltype(&exported::VoMultiThreadLockDestroy);
using JobRunOnceProc = decltype(&exported::VoMultiThreadRunOnce);

// What wrapped evaluation keeps between points: the ring of shade contexts
// of the polygon filtered last, one sample context and one vertex block
// the samples are interpolated into (no element is made on the primitive).
struct FilterScratch {
  VtShadeContextReference *ring;
  const VtPrimitive *primitive;
  const VtPolygon *polygon;
  uint32_t serial;  // the image the ring was made in
  float xp, yp;     // the pixel its offsets are relative to
  VtShadeContext *context;
  void *vertex;
  size_t vertex_size;
  uint32_t busy;  // a wrapped evaluation is in progress
};

struct ShadingContext {
  ShaderShared *shared;
  uint32_t is_copy;
  VtShaderGlobals *globals;
  size_t globals_size;  // every whole-record copy copies this many bytes
  VtPool *globals_pool;
  // The last pushed copy, also kept here so that a shader that overwrote the
  // whole record still pops cleanly.
  VtShaderGlobals *stack_top;
  uint32_t image_mode;
  uint32_t selector;  // 1: evaluate through slot 3
  VtReference *light_list;
  VtShader *light_head;
  uint32_t light_count;
  PointState point;
  uint32_t noise_family;
  NoiseProcs noise_procs;  // the family's, copied into every context copy
  uint32_t impulses;
  // Controls 0x50005-0x50008, 0x5000b, 0x5000d, 0x5000e.
  uint32_t shadows;
  uint32_t ray_shadows;
  uint32_t shadow_transparency;
  uint32_t clamp;
  uint32_t second_pass;
  int32_t lighting_mode;
  double clamp_maximum;
  VtPool *ray_pool;
  VtPool *hit_pool;
  VtPool *light_pool;
  VtPool *node_pool;
  VtPool *context_pool;       // shade contexts
  VtPool *context_node_pool;  // their ring nodes
  VtTransform *transform;
  unsigned char *buffer;
  uint32_t buffer_size;
  uint32_t buffer_fill;
  VtShader *background;
  VtShader *foreground;
  VtShader *default_light;
  VtReference *default_light_list;
  VtMaterial *default_material;
  // The global filter shaders of colour, reflectance and displacement, each
  // holding one reference, and whether any was set since start.
  VtShader *global_filters[3];
  uint32_t global_filter_set;
  // The default vectors: dPds, dPdu, dPdt, dPdv.
  float default_dPds[3], default_dPdu[3], default_dPdt[3], default_dPdv[3];
  VtShader *default_texture_space;
  uint32_t property_word;
  int32_t property_offsets[kPropertyOffsets];  // -1: not looked up yet
  float temporary_dPds[3];                     // a background's dPds while it runs
  float temporary_dPdt[3];
  // Image set-up.
  uint32_t image_initialised;
  uint32_t image_depth;       // images initialised inside the outer one
  uint64_t lights_preparing;  // the VoExecute whose image prepares its lights (makes their maps), or 0
  ImageSaved image_saved[kImageNestingMost];
  uint32_t image_serial;    // raised by every outer image
  VtReference *image_list;  // the primitive list current when the outer image began
  uint32_t casters_render;  // a shadow map of the casters is being rendered
  uint32_t ray_preparation;
  uint32_t perspective;
  float filter_scale;
  float zero_colour[3];
  const double *view_inverse;  // the second matrix of the projection block
  // Services cached when callbacks change.
  TransformTypeProc transform_type;   // 0xf000a
  TransformMapProc transform_point;   // 0xf0008
  TransformMapProc transform_vector;  // 0xf0009
  VtStatus (*ray_prepare)();          // 0x70001
  VtStatus (*ray_end)();              // 0x70002
  // 0x70004 when the tracer is present, else a stand-in giving black and 0.
  VtStatus (*ray_shade)(float *colour, const float *origin, const float *direction, double weight);
  RayShadowProc ray_shadow;                      // 0x70005, else a stand-in answering 1e20
  RayHitProc ray_hit;                            // 0x70006
  VtPolygon *(*ray_hit_polygon)();               // 0x70007
  TransformNormalProc transform_normal;          // 0xf000b
  TransformNormalProc transform_normal_inverse;  // 0xf000c
  VtStatus (*interrupt_poll)();                  // the driver framework's 0x1a001a
  uint32_t *sticky;                              // the kernel's sticky status word
  FilterLoopProc filter_loop;                    // 0x620002 while the filter module runs
  FilterPolygonProc filter_polygon;              // 0x620003
  uint32_t (*work_farm_active)();                // 0x52000b while the work farm runs
  // The work farm's locks that pre-render the background (before the
  // lights' maps) and the foreground (after them) once per image, and the
  // procedure that gives them back at terminate.
  VtMultiThreadLock *job;
  VtMultiThreadLock *background_job;
  JobLockDestroyProc job_free;
  FilterScratch filter;
  // Polygon set-up memos: offsets per contents, the last polygon's frame.
  ContentsOffsets offsets;
  // The light loop: metres per length unit and square metres per area unit
  // (read once per image), and the transient records given back.
  float length_factor, area_factor;
  VtLightData *transient_free;  // linked through nextCurrent
  // The view's tangent of the angle per pixel (view value 26), kept at
  // image set-up; null outside an image.
  const float *angle_tangent;
  ImagingContext imaging;
};

extern ModuleState<ShadingContext> g_shading;

// This context's state; null while the module is not started.
inline ShadingContext *StateGet() { return g_shading.Get(); }
// The same, posting nothing; answers null and sets *status to the
// not-started answer when the module is not running.
ShadingContext *StateFor(VtStatus *status);

// The register of live shaders is held with the kernel's RegisterGuard
// (vosystem/kernel.h) while worker contexts exist.

inline uint64_t ChangeCount(const ShadingContext *s) {
  return s->shared->changes.load(std::memory_order_relaxed);
}
inline void ChangeCountRaise(ShadingContext *s) {
  s->shared->changes.fetch_add(1, std::memory_order_relaxed);
}

// Posts the refusal (module 5) and answers the status.
template <class... A>
VtStatus Refuse(VtStatus status, uint32_t message, A... args) {
  Post(status, message, VO_MODULE_SHADER, args...);
  return status;
}

// --- registry.cpp -----------------------------------------------------------
VtStatus TypesStart(ShaderShared *shared);
void TypesStop(ShaderShared *shared);
// Index of a type code in the type table, or -1 for an unknown code (0x50009
// answers its own index; ClassFind searches the reflectance classes for it).
int TypeIndex(const ShaderShared *shared, uint32_t code);
VtShaderPrototype *ClassFind(const ShaderShared *shared, uint32_t type, const char *name);

// --- instances.cpp ----------------------------------------------------------
bool ShaderLive(ShadingContext *s, const VtShader *shader);
// Null and live shaders pass; anything else is refused with message 2102.
bool ShaderKnownOrNull(ShadingContext *s, const VtShader *shader);
// A light of a worker context's chain that is no live shader: its copy of a
// prepared light, which the queries reading a light answer as the light.
bool ContextLightCopy(const ShadingContext *s, const VtShader *shader);
// Terminate: every shader still live (the application's too) with its data
// given back through its class, before the images its data may hold go.
void ShadersGiveBack(ShadingContext *s);
// Gives back one reference of a live shader, freeing it at the last.
void ShaderReferenceDrop(ShadingContext *s, VtShader *shader);
// --- waiting.cpp: what a call waiting for a render's end holds ----------------
// A change of what a running render holds waits through the kernel's one
// path (CallAfterRender); the shader module registers as it starts the
// keepers by which such a call holds a reference on the shader it sets and
// on every light of the list it sets until it is made, so that the destroys
// made meanwhile count it among the holders (CallAfterRenderNames).
void WaitingKeepersRegister();

// A holder (a material's slot, the background, the foreground) gives back
// the reference it took: VoShaderDestroy without the question whether a
// holder still holds the shader, which the holder itself answers.
VtStatus ShaderHolderRelease(VtShader *shader);

// --- materials.cpp: holders of shaders ---------------------------------------
// The references every holder holds to the shader: the slots of live
// materials, the current background, foreground and global filters, the
// light list last set (for a light it chains), and the calls waiting for a
// render's end that name it (the kernel's CallAfterRenderNames). *kind and
// *holder name one of them when there is any (the holders without a handle
// of their own by their kind alone: holder null; a waiting call by its
// procedure). A destroy that would leave the references at or below this
// count frees nothing the caller holds, and is refused.
struct ShaderHolder {
  const char *kind;
  const void *holder;
  const char *procedure;  // a waiting call's, else null
};
uint32_t ShaderHolderReferences(ShadingContext *s, const VtShader *shader, ShaderHolder *one);

// --- globals.cpp ------------------------------------------------------------
VtStatus GlobalsTableBuild(ShaderShared *shared);
const GlobalEntry *GlobalFind(const ShaderShared *shared, const char *name);
// A globals pool and record for a context, copied from *from when given.
VtStatus GlobalsMake(ShadingContext *s, const VtShaderGlobals *from);
VtStatus GlobalsFree(ShadingContext *s);
// Points the pointer globals at the record's own storage.
void GlobalsPointersReset(VtShaderGlobals *g);
// The per-point globals and the polygon's fields at the values a freshly
// started library holds when an image begins: zero and null, but for the
// view's E, I and unitI, To black and alpha 1 (ImageGlobals). The pointer
// globals point at the record's storage; lights, ambient colour, the
// image's foreground and the environment stack are left as they are.
void GlobalsFresh(VtShaderGlobals *g);

// --- setup.cpp --------------------------------------------------------------
// The globals an image's set-up takes from the current view (E, I, unitI),
// with To black and alpha 1.
void ImageGlobals(VtShaderGlobals *g);

// --- lights.cpp -------------------------------------------------------------
// Copies the source's light chain into the copy.
VtStatus LightChainCopy(const ShadingContext *from, ShadingContext *to);
VtStatus LightChainFree(ShadingContext *s);
// Makes the list's chain current; takes and gives no reference (what the
// shadow-map builder uses to clear and restore the list around its passes).
VtStatus LightListSet(ShadingContext *s, VtReference *list);
// LightListSet for the application's list (and the default one): a
// reference is taken on every light chained and those the replaced list
// held are given back.
VtStatus LightListHold(ShadingContext *s, VtReference *list);
// Whether the light is on the chain the current list holds.
bool LightHeld(const ShadingContext *s, const VtShader *light);

// --- properties.cpp ---------------------------------------------------------
VtStatus PropertiesStart(ShadingContext *s);

// --- fresnel.cpp ------------------------------------------------------------
// Scales v to unit length; a zero vector stays.
void Normalise(float *v);
// The dielectric reflectance F for incident I and normal N; R (mirror) and T
// (refracted) when not null. 0 with F = 1 on total internal reflection.
int32_t FresnelDielectric(float *F, float *R, float *T, double eta, const float *I, const float *N);
// The conductor reflectance per channel of the index n - ik.
void FresnelConductor(float *F, float *R, const float *n, const float *k, const float *I, const float *N);
int32_t FresnelCoefficients(VtShaderGlobals *g, float *F, float *R, float *T, double a, double b,
                            float *value, uint32_t *word);

// --- noise.cpp --------------------------------------------------------------
// Draws the tables in their fixed order; on failure frees what it made and
// answers 0x20000006.
VtStatus NoiseStart(ShaderShared *shared);
void NoiseStop(ShaderShared *shared);
// Selects a family (0, 1 or 2); false for any other value.
bool NoiseFamilySet(ShadingContext *s, uint32_t family);

// --- materials.cpp ----------------------------------------------------------
// The default material, made on first use (null when it cannot be made).
VtMaterial *DefaultMaterial(ShadingContext *s);
VtStatus MaterialsStart(ShadingContext *s);
// A live material passes; anything else is refused with message 2108.
bool MaterialKnown(ShadingContext *s, const VtMaterial *material);
// Gives back the default material, the global filters and the pool.
VtStatus MaterialsStop(ShadingContext *s);
// Controls 0x50001-0x50004 on the default material's classes.
bool MaterialControl(uint32_t code);
VtStatus MaterialControlSet(ShadingContext *s, uint32_t code, const VtTypedValue *v);
VtStatus MaterialControlGet(ShadingContext *s, uint32_t code, VtTypedValue *v);
// Callbacks 0x50001-0x50004: the exported secondary-shader and global-filter
// procedures; null for another code.
VtProc MaterialCallback(uint32_t code);

// --- lightloop.cpp ---------------------------------------------------------
// Ends the point's light state: the per-point flags, the transient lights
// (back to the free list) and the lit chain that may run through them.
void PointLightsEnd(ShadingContext *s, VtShaderGlobals *g);

// --- pointshade.cpp --------------------------------------------------------
VtStatus EvaluateMaterial(ShadingContext *s, VtShaderGlobals *g);
// Shades one vertex of the polygon set up last, seen from the eye.
VtStatus ShadePoint(ShadingContext *s, VtPrimitive *p, void *vertex, const float *eye, uint32_t perspective);

// --- pointinpoly.cpp -------------------------------------------------------
// True, with the diagnostic, when polygon (not null) is no live polygon: a
// destroyed one, or a record of another kind. Only the check word of its
// element header is read, so per-hit callers may ask.
bool PolygonRefused(const VtPolygon *polygon);

// --- shadecontext.cpp -------------------------------------------------------
// True, with a diagnostic naming the procedure, when ring (not null) is no
// ring of contexts: its first node carries its pool's free mark or, when
// the caller is to follow it, holds a context that is not live. One word
// each, for the per-point tests; the node's own layout is the
// application's, so only a node given back to its pool is told from it.
bool RingRefused(ShadingContext *s, const VtShadeContextReference *ring, bool followed,
                 const char *procedure);

// --- frames.cpp -------------------------------------------------------------
// The texture frame of three positions with their (s, t) about the normal;
// 0x2000000a for a degenerate configuration.
VtStatus TextureFrameSolve(const float positions[3][3], const float coordinates[3][2], const float normal[3],
                           TextureFrame *out);

// --- setup.cpp --------------------------------------------------------------
// Per-polygon material set-up: the entries that evaluate each part.
VtStatus MaterialSetup(ShadingContext *s, VtPrimitive *primitive, VtShaderGlobals *g);

// --- filterwrap.cpp ---------------------------------------------------------
// Wraps a part of the material in its filter shader: the part's call goes
// to the filter's evaluate, the shader's own slot-2 entry into *wrap.
void FilterWrap(VtShader *shader, VtShader *filter, VtShaderDataProc wrapper, VtShaderCall *call,
                VtShaderFilterWrap *wrap);
// Gives back the polygon ring, sample context and vertex block.
void FilterScratchFree(ShadingContext *s);
// Forgets the ring when polygon set-up moves to another polygon.
void FilterRingForget(ShadingContext *s, const VtPrimitive *primitive, const VtPolygon *polygon);

// --- neighbours.cpp ---------------------------------------------------------
// A light's shadow maps for this image (none until shadow maps exist).
VtStatus LightShadowCreate(VtShader *light);
// The projector's texture sampled over the area the globals describe (white
// until textures exist).
void ProjectorSample(VtTexture *texture, float colour[3]);
// Releases a light's shadow maps before its data goes.
void LightShadowRelease(VtShader *light);
// Re-reads the services the kernel caches when callbacks change; answers
// the OR of the view look-ups' statuses.
VtStatus CallbackCacheRead(ShadingContext *s);
// True when a type-52 colour is accepted for a colour argument.
bool ShaderColourAccepted();

}  // namespace vo::shader
