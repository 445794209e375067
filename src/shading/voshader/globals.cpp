// The shader globals: the table of the 48 standard globals (built once at
// start and shared by every context), each context's globals record and its
// environment stack.
//
// The offsets the table answers are those of VtShaderGlobals, so a library
// may keep them for the life of the library. A context's record comes from
// its own single-threaded pool (tag 0x50006); pushed copies come from the
// same pool, so push and pop take no lock.

#include <cstddef>
#include <cstring>

#include "shading/voshader/voshader.h"

namespace vo::shader {

namespace {

constexpr uint32_t kMsgNoAddGlobal = 101;

struct StandardGlobal {
  const char *name;
  uint32_t offset;
};

#define VO_GLOBAL(field) \
  { #field, static_cast < uint32_t>(offsetof(VtShaderGlobals, field)) }
// Registration order: it gives each global its use index.
constexpr StandardGlobal kStandard[VO_SHADER_GLOBALS_STANDARD] = {
    VO_GLOBAL(prim),   VO_GLOBAL(poly),        VO_GLOBAL(alpha),
    VO_GLOBAL(Cb),     VO_GLOBAL(Ci),          VO_GLOBAL(Co),
    VO_GLOBAL(dPds),   VO_GLOBAL(dPdt),        VO_GLOBAL(dPdu),
    VO_GLOBAL(dPdv),   VO_GLOBAL(ds),          VO_GLOBAL(dt),
    VO_GLOBAL(du),     VO_GLOBAL(dv),          VO_GLOBAL(E),
    VO_GLOBAL(I),      VO_GLOBAL(modI),        VO_GLOBAL(N),
    VO_GLOBAL(Ng),     VO_GLOBAL(P),           VO_GLOBAL(Pw),
    VO_GLOBAL(s),      VO_GLOBAL(t),           VO_GLOBAL(Ti),
    VO_GLOBAL(To),     VO_GLOBAL(u),           VO_GLOBAL(unitI),
    VO_GLOBAL(v),      VO_GLOBAL(xi),          VO_GLOBAL(yi),
    VO_GLOBAL(xs),     VO_GLOBAL(ys),          VO_GLOBAL(kgauss),
    VO_GLOBAL(kmean),  VO_GLOBAL(kabs),        VO_GLOBAL(kmin),
    VO_GLOBAL(kmax),   VO_GLOBAL(phong_power), VO_GLOBAL(specular_power),
    VO_GLOBAL(xp),     VO_GLOBAL(yp),          VO_GLOBAL(Bi),
    VO_GLOBAL(Bo),     VO_GLOBAL(xf),          VO_GLOBAL(yf),
    VO_GLOBAL(Fwidth), VO_GLOBAL(Fheight),     VO_GLOBAL(reverse),
};
#undef VO_GLOBAL

// The globals whose use means texture coordinates must be made.
constexpr const char *kSpecial[] = {"s", "t", "dPds", "dPdt", "ds", "dt"};

// 2 for a full table, 0x20000006 when the name pool is full.
VtStatus GlobalRegister(ShaderShared *shared, const char *name, uint32_t offset) {
  if (shared->global_count == kGlobalsMax) return 2;
  const size_t n = std::strlen(name) + 1;
  if (shared->name_cursor + n > kGlobalNamePool) return kNoMemory;
  char *kept = shared->name_pool + shared->name_cursor;
  std::memcpy(kept, name, n);
  shared->name_cursor += static_cast<uint32_t>(n);
  shared->globals[shared->global_count] = GlobalEntry{offset, shared->global_count, kept, 0};
  ++shared->global_count;
  return 0;
}

// Pointer globals that point into the record `from` are moved to the same
// place in `to`.
void PointersRebase(const VtShaderGlobals *from, VtShaderGlobals *to) {
  const auto *begin = reinterpret_cast<const char *>(from);
  for (float **field :
       {&to->Ci, &to->dPds, &to->dPdt, &to->dPdu, &to->dPdv, &to->N, &to->P, &to->Pw, &to->Ti}) {
    const auto *at = reinterpret_cast<const char *>(*field);
    if (at >= begin && at < begin + sizeof(VtShaderGlobals))
      *field = reinterpret_cast<float *>(reinterpret_cast<char *>(to) + (at - begin));
  }
}

}  // namespace

VtStatus GlobalsTableBuild(ShaderShared *shared) {
  shared->global_count = 0;
  shared->name_cursor = 0;
  VtStatus st = 0;
  for (const StandardGlobal &g : kStandard) st |= GlobalRegister(shared, g.name, g.offset);
  for (const char *name : kSpecial)
    for (uint32_t i = 0; i < shared->global_count; ++i)
      if (std::strcmp(shared->globals[i].name, name) == 0) shared->globals[i].special = 1;
  shared->use_s = GlobalFind(shared, "s")->use;
  shared->use_t = GlobalFind(shared, "t")->use;
  shared->use_Ci = GlobalFind(shared, "Ci")->use;
  return st;
}

const GlobalEntry *GlobalFind(const ShaderShared *shared, const char *name) {
  for (uint32_t i = 0; i < shared->global_count; ++i)
    if (std::strcmp(shared->globals[i].name, name) == 0) return &shared->globals[i];
  return nullptr;
}

void GlobalsPointersReset(VtShaderGlobals *g) {
  g->stackTop = nullptr;
  g->N = g->NStorage;
  g->P = g->PStorage;
  g->Pw = g->PStorage;
  g->Ci = g->CiStorage;
}

void GlobalsFresh(VtShaderGlobals *g) {
  // The standard globals, then the kernel's fields of the polygon and the
  // point up to the environment stack.
  auto *standard = reinterpret_cast<char *>(&g->prim);
  std::memset(standard, 0, offsetof(VtShaderGlobals, stackTop) - offsetof(VtShaderGlobals, prim));
  g->transform = nullptr;
  std::memset(g->lightVector, 0, sizeof g->lightVector);
  std::memset(g->lightColour, 0, sizeof g->lightColour);
  g->textureSpace = nullptr;
  g->textureSpaceCall = VtShaderCall{};
  g->N = g->NStorage;
  g->P = g->PStorage;
  g->Pw = g->PwStorage;
  g->Ci = g->CiStorage;
  ImageGlobals(g);
}

VtStatus GlobalsMake(ShadingContext *s, const VtShaderGlobals *from) {
  s->stack_top = nullptr;
  s->globals_size = sizeof(VtShaderGlobals);
  s->globals_pool = VoPoolCreate(kPoolGlobals, sizeof(VtShaderGlobals));
  if (s->globals_pool == nullptr) return kNoMemory;
  VoPoolSetSingleThreaded(s->globals_pool, 1);
  s->globals = static_cast<VtShaderGlobals *>(VoPoolAllocate(s->globals_pool));
  if (s->globals == nullptr) {
    (void)PoolDisposeClear(&s->globals_pool);
    return kNoMemory;
  }
  VtShaderGlobals *g = s->globals;
  if (from == nullptr) {
    std::memset(g, 0, sizeof *g);
    GlobalsPointersReset(g);
    return 0;
  }
  std::memcpy(g, from, sizeof *g);
  PointersRebase(from, g);
  GlobalsPointersReset(g);
  g->currentLights = nullptr;
  g->litLights = nullptr;
  g->Co[0] = 1.0f;
  g->Co[1] = 0.0f;
  g->Co[2] = 0.0f;
  return 0;
}

VtStatus GlobalsFree(ShadingContext *s) {
  s->globals = nullptr;  // the pool holds it and every pushed copy
  s->stack_top = nullptr;
  return PoolDisposeClear(&s->globals_pool);
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtShaderGlobals *VoShaderGetGlobals() {
  const ShadingContext *s = StateGet();
  return s != nullptr ? s->globals : nullptr;
}

uint32_t VoShaderFindGlobalOffset(const char *name) {
  const ShadingContext *s = StateGet();
  if (s == nullptr || name == nullptr) return 0;
  const ShaderShared *shared = s->shared;
  for (uint32_t i = shared->global_count; i-- > 0;)
    if (std::strcmp(shared->globals[i].name, name) == 0) return shared->globals[i].offset;
  return 0;
}

void *VoShaderFindGlobalAddress(const char *name) {
  const ShadingContext *s = StateGet();
  if (s == nullptr) return nullptr;
  return reinterpret_cast<char *>(s->globals) + VoShaderFindGlobalOffset(name);
}

uint32_t VoShaderAddGlobal(const char *) {
  Post(1, kMsgNoAddGlobal, VO_MODULE_SHADER);
  return 1;
}

}  // namespace vo
