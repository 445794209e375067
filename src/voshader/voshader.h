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
#include <unordered_set>

#include <vo/vo_shader.h>

#include "vosystem/context.h"
#include "vosystem/kernel.h"

namespace vo::shader {

constexpr VtStatus kBad = VO_STATUS_BAD_ARGUMENT;  // 0x20000012
constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;

// Pool tags.
constexpr uint32_t kPoolShaders = 0x50001;
constexpr uint32_t kPoolPrototypes = 0x50003;
constexpr uint32_t kPoolGlobals = 0x50006;
constexpr uint32_t kPoolRays = 0x50007;
constexpr uint32_t kPoolHits = 0x50008;
constexpr uint32_t kPoolLights = 0x50009;

constexpr uint32_t kGlobalsMax = 100;
constexpr uint32_t kGlobalNamePool = 1000;
constexpr uint32_t kJitterCount = 512;
constexpr uint32_t kBufferBytes = 256;
constexpr uint32_t kPropertyOffsets = 17;

// A named table of strings: the name's and the strings' characters follow
// the record in the same block.
struct StringTable {
  StringTable *next;
  uint32_t count;
  const char *name;
  const char **strings;
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
  uint32_t use_s, use_t;
  float jitter[kJitterCount];
  std::atomic<uint64_t> changes;
  std::unordered_set<const VtShader *> live;  // under RegisterGuard
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
  uint32_t ray_depth;
  uint32_t jitter_index;
  uint32_t noise_family;
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
  VtTransform *transform;
  unsigned char *buffer;
  uint32_t buffer_size;
  uint32_t buffer_fill;
  VtShader *background;
  VtShader *foreground;
  VtShader *default_light;
  VtReference *default_light_list;
  VtMaterial *default_material;
  VtShader *default_texture_space;
  uint32_t property_word;
  int32_t property_offsets[kPropertyOffsets];  // -1: not looked up yet
  float temporary_dPds[3];                    // a background's dPds while it runs
  float temporary_dPdt[3];
};

extern ModuleState<ShadingContext> g_shading;

// This context's state; null while the module is not started.
inline ShadingContext *StateGet() { return g_shading.Get(); }
// The same, posting nothing; answers null and sets *status to the
// not-started answer when the module is not running.
ShadingContext *StateFor(VtStatus *status);

// Holds the kernel's lock around the register of live shaders while worker
// contexts exist (thread records); the application's single thread takes no
// lock.
class RegisterGuard {
 public:
  RegisterGuard() : held_(KernelThreading()) {
    if (held_) KernelLockEnter();
  }
  ~RegisterGuard() {
    if (held_) KernelLockLeave();
  }
  RegisterGuard(const RegisterGuard &) = delete;
  RegisterGuard &operator=(const RegisterGuard &) = delete;

 private:
  bool held_;
};

inline uint64_t ChangeCount(const ShadingContext *s) { return s->shared->changes.load(std::memory_order_relaxed); }
inline void ChangeCountRaise(ShadingContext *s) { s->shared->changes.fetch_add(1, std::memory_order_relaxed); }

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
void ShaderForgetAll(ShaderShared *shared);

// --- globals.cpp ------------------------------------------------------------
VtStatus GlobalsTableBuild(ShaderShared *shared);
const GlobalEntry *GlobalFind(const ShaderShared *shared, const char *name);
// A globals pool and record for a context, copied from *from when given.
VtStatus GlobalsMake(ShadingContext *s, const VtShaderGlobals *from);
VtStatus GlobalsFree(ShadingContext *s);
// Points the pointer globals at the record's own storage.
void GlobalsPointersReset(VtShaderGlobals *g);

// --- lights.cpp -------------------------------------------------------------
// Ends the point's light state after a reflectance ran.
void PointLightsEnd(VtShaderGlobals *g);
// Copies the source's light chain into the copy.
VtStatus LightChainCopy(const ShadingContext *from, ShadingContext *to);
VtStatus LightChainFree(ShadingContext *s);
VtStatus LightListSet(ShadingContext *s, VtReference *list);

// --- properties.cpp ---------------------------------------------------------
VtStatus PropertiesStart(ShadingContext *s);

// --- neighbours.cpp ---------------------------------------------------------
// The default material of the primitive properties; none until materials
// exist.
VtMaterial *DefaultMaterial(ShadingContext *s);
// Releases a light's shadow maps before its data goes.
void LightShadowRelease(VtShader *light);
// Re-reads the services the kernel caches when callbacks change.
void CallbackCacheRead(ShadingContext *s);
// True when a type-52 colour is accepted for a colour argument.
bool ShaderColourAccepted();

}  // namespace vo::shader
