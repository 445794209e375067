// Buffers: creation with the defaults, channel storage, the size and
// region, the controls and the procedures they select, copies and
// destruction.
//
// New storage is always made before old storage is given up: a size change
// or a copy that runs out of memory leaves the buffer as it was. Sizes are
// products in size_t, checked for overflow before VoAllocate's 32-bit size.

#include <cstring>

#include "render/voscrbuf/screenbuf.h"
#include "kernel/vosystem/face.h"

namespace vo::sb {
namespace {

// ---- The procedures the compositing controls select ----

void WeightedAdd(float *d, const float *s, float w, uint32_t) {
  for (int i = 0; i < 3; ++i) d[i] += s[i] * w;
}
void RunningAverage(float *d, const float *s, float, uint32_t n) {
  const float count = static_cast<float>(n);
  for (int i = 0; i < 3; ++i) d[i] = (count * d[i] + s[i]) / (count + 1.0f);
}
void Add(float *d, const float *s, float, uint32_t) {
  for (int i = 0; i < 3; ++i) d[i] += s[i];
}
uint32_t Never(uint32_t, uint32_t) { return 0; }
uint32_t Equal(uint32_t s, uint32_t reference) { return s == reference; }
void Replace(uint8_t *s, uint32_t reference) { *s = static_cast<uint8_t>(reference); }
void Increment(uint8_t *s, uint32_t) { *s = static_cast<uint8_t>(*s + 1); }

template <class P>
P Pick(uint32_t code, std::initializer_list<std::pair<uint32_t, P>> list, VtStatus *st) {
  for (const auto &[c, p] : list)
    if (c == code) return p;
  *st = kUnlisted;
  return nullptr;
}

VtStatus ProceduresSelect(VtScreenBuffer *b) {
  VtStatus st = 0;
  using Combine = VtScreenBufferCombineProc;
  using Test = VtScreenBufferStencilTestProc;
  using Op = VtScreenBufferStencilOpProc;
  b->combine_proc = Pick<Combine>(b->combine,
                                  {{VO_SB_NONE, nullptr},
                                   {VO_SB_WEIGHTED_ADD, &WeightedAdd},
                                   {VO_SB_RUNNING_AVERAGE, &RunningAverage},
                                   {VO_SB_ADD, &Add}},
                                  &st);
  b->stencil_op_proc = Pick<Op>(
      b->stencil_op, {{VO_SB_NONE, nullptr}, {VO_SB_REPLACE, &Replace}, {VO_SB_INCREMENT, &Increment}}, &st);
  b->stencil_fail_proc = nullptr;  // no value of the fail control selects a procedure
  b->stencil_test_proc =
      Pick<Test>(b->stencil_test, {{VO_SB_NONE, nullptr}, {VO_SB_NEVER, &Never}, {VO_SB_EQUAL, &Equal}}, &st);
  return st;
}

constexpr uint32_t kBits[kChannels] = {VO_SB_COLOUR, VO_SB_ALPHA, VO_SB_DEPTH, VO_SB_STENCIL};

void ChannelsFill(VtScreenBuffer *b, uint32_t mask) {
  for (uint32_t i = 0; i < kChannels; ++i)
    if (mask & kBits[i]) ChannelFill(b, i, StartValue(i));
}

// Storage for the channels of the mask into fresh descriptors (copies of
// the buffer's own) at the given size; on failure nothing is kept.
VtStatus ChannelsMake(const VtScreenBuffer *b, uint32_t mask, uint32_t width, uint32_t height,
                      VtScreenBufferChannel *made) {
  for (uint32_t i = 0; i < kChannels; ++i) {
    made[i] = b->channels[i];
    made[i].data = nullptr;
    if ((mask & kBits[i]) == 0) continue;
    if (StorageMake(&made[i], width, height) != 0) {
      for (uint32_t j = 0; j < i; ++j) StorageFree(&made[j]);
      return kNoMemory;
    }
  }
  return 0;
}

// Puts made storage in place of the buffer's (freeing the old) for the mask.
void ChannelsInstall(VtScreenBuffer *b, uint32_t mask, VtScreenBufferChannel *made) {
  for (uint32_t i = 0; i < kChannels; ++i) {
    if ((mask & kBits[i]) == 0) continue;
    StorageFree(&b->channels[i]);
    b->channels[i] = made[i];
  }
}

VtStatus Allocate(VtScreenBuffer *b, uint32_t mask) {
  mask &= VO_SB_ALL;
  ChannelsFree(b, mask);
  RegionWhole(b);
  VtScreenBufferChannel made[kChannels];
  if (ChannelsMake(b, mask, b->width, b->height, made) != 0) return kNoMemory;
  ChannelsInstall(b, mask, made);
  b->mask |= mask;
  ChannelsFill(b, mask);
  return 0;
}

VtScreenBuffer *BufferMake(BufferRegistry *r) {
  auto *b = static_cast<VtScreenBuffer *>(VoPoolAllocate(r->pool));
  if (b == nullptr) return nullptr;
  VtStatus stored;
  {
    RegisterGuard hold;
    stored = VoHashTableStoreRecord(r->live, reinterpret_cast<uintptr_t>(b), 1);
  }
  if (stored != 0) {
    VoPoolFree(r->pool, b);
    return nullptr;
  }
  std::memset(static_cast<void *>(b), 0, sizeof *b);
  b->tag = VO_SCREEN_BUFFER_TAG;
  b->width = b->height = 20;
  b->stencil_test = VO_SB_NONE;
  b->stencil_reference = 1;
  b->stencil_mask = 255;
  b->stencil_op = VO_SB_REPLACE;
  b->stencil_fail_op = VO_SB_NONE;
  b->weight = 0.5f;
  b->combine = VO_SB_WEIGHTED_ADD;
  for (uint32_t i = 0; i < kChannels; ++i) {
    b->channels[i].elements = Components(i);
    b->channels[i].precision = i == 3 ? VO_SB_BYTE : VO_SB_FLOAT;
  }
  (void)ProceduresSelect(b);
  RegionWhole(b);
  RegisterGuard hold;
  b->next = r->head;
  r->head = b;
  return b;
}

void Unlink(BufferRegistry *r, VtScreenBuffer *b) {
  for (VtScreenBuffer **link = &r->head; *link != nullptr; link = &(*link)->next) {
    if (*link == b) {
      *link = b->next;
      return;
    }
  }
}

// A mode flag that needs a channel's storage.
VtStatus FlagSet(VtScreenBuffer *b, uint32_t *flag, uint32_t value, uint32_t bit, uint32_t message) {
  if (value != 0 && (b->mask & bit) == 0) {
    Post(kRefused, message, kModule);
    return kRefused;
  }
  *flag = value;
  return 0;
}

VtStatus Copy(VtScreenBuffer *destination, const VtScreenBuffer *source) {
  VtScreenBufferChannel made[kChannels];
  if (ChannelsMake(source, source->mask, source->width, source->height, made) != 0) {
    Post(kNoMemory, messages::kScreenBufferCopyContentsNoMemory, kModule);
    return kNoMemory;
  }
  for (uint32_t i = 0; i < kChannels; ++i)
    if (made[i].data != nullptr)
      std::memcpy(made[i].data, source->channels[i].data, made[i].count * PixelBytes(made[i]));
  ChannelsFree(destination, VO_SB_ALL);
  VtScreenBuffer *next = destination->next;
  std::memcpy(destination, source, sizeof *destination);
  destination->next = next;
  std::memcpy(destination->channels, made, sizeof made);
  return 0;
}

}  // namespace

void StorageFree(VtScreenBufferChannel *c) {
  VoDeallocate(c->data);
  c->data = nullptr;
  c->count = 0;
}

void ChannelsFree(VtScreenBuffer *b, uint32_t mask) {
  for (uint32_t i = 0; i < kChannels; ++i)
    if (mask & kBits[i]) StorageFree(&b->channels[i]);
  if (mask & VO_SB_ALPHA) b->alpha_blend = 0;
  if (mask & VO_SB_DEPTH) b->depth_test = 0;
  if (mask & VO_SB_STENCIL) b->stencil = 0;
  b->mask &= ~mask;
}

void RegionWhole(VtScreenBuffer *b) {
  b->region[0] = 0;
  b->region[1] = b->width - 1;
  b->region[2] = 0;
  b->region[3] = b->height - 1;
}

VtStatus SizeSet(VtScreenBuffer *b, uint32_t code, uint32_t value) {
  const bool width = code == VO_SB_WIDTH;
  if (value == 0) {
    Post(kRefused, width ? messages::kScreenBufferWidthZero : messages::kScreenBufferHeightZero, kModule);
    return kRefused;
  }
  return SizesSet(b, width ? value : b->width, width ? b->height : value);
}

VtStatus SizesSet(VtScreenBuffer *b, uint32_t w, uint32_t h) {
  if (w == 0 || h == 0) return SizeSet(b, w == 0 ? VO_SB_WIDTH : VO_SB_HEIGHT, 0);
  if (w == b->width && h == b->height) return 0;
  VtScreenBufferChannel made[kChannels];
  if (ChannelsMake(b, b->mask, w, h, made) != 0) {
    Post(kNoMemory, messages::kScreenBufferResizeNoMemory, kModule);
    return kNoMemory;
  }
  ChannelsInstall(b, b->mask, made);
  b->width = w;
  b->height = h;
  RegionWhole(b);
  ChannelsFill(b, b->mask);
  return 0;
}

VtStatus RegionSet(VtScreenBuffer *b, const uint32_t *r) {
  const uint32_t x0 = r[0], x1 = r[1], y0 = r[2], y1 = r[3];
  if (x1 == 0 || y1 == 0) {
    RegionWhole(b);
    return 0;
  }
  VtStatus st = 0;
  if (x1 > b->width - 1 || y1 > b->height - 1) {
    Post(kRefused, messages::kScreenBufferRegionOutside, kModule, x0, x1, y0, y1, b->width, b->height);
    st = kRefused;
  }
  if (x0 > x1) {
    Post(kRefused, messages::kScreenBufferRegionColumns, kModule, x0, x1);
    st = kRefused;
  }
  if (y0 > y1) {
    Post(kRefused, messages::kScreenBufferRegionRows, kModule, y0, y1);
    return kRefused;
  }
  if (st != 0) return st;
  // A threaded pass delivers single rows as regions: those are ignored.
  if (y0 == y1 && VoMultiThreadIsActive()) return 0;
  std::memcpy(b->region, r, sizeof b->region);
  return 0;
}

namespace {

void BufferFree(BufferRegistry *r, VtScreenBuffer *b) {
  ChannelsFree(b, VO_SB_ALL);
  b->tag = 0;
  (void)VoPoolFree(r->pool, b);
}

void BufferFreeAfterRender(void *object) {
  Context *c = State();
  if (c == nullptr) return;
  {
    RegisterGuard hold;
    (void)VoHashTableRemoveRecord(c->registry->live, reinterpret_cast<uintptr_t>(object), nullptr);
  }
  BufferFree(c->registry, static_cast<VtScreenBuffer *>(object));
}

}  // namespace

// Off the list at once; the buffer and its pixels go now, or, when a render
// runs on the application's thread, as the outermost render ends, its
// register entry kept until then with the buffer's tag turned to
// kReleasedTag, readable only (a "buffered image" background may be
// reading it).
void BufferRelease(BufferRegistry *r, VtScreenBuffer *b) {
  const auto key = reinterpret_cast<uintptr_t>(b);
  {
    RegisterGuard hold;
    Unlink(r, b);
    if (RenderAfter(b, &BufferFreeAfterRender)) {
      b->tag = kReleasedTag;
      return;
    }
    (void)VoHashTableRemoveRecord(r->live, key, nullptr);
  }
  BufferFree(r, b);
}

}  // namespace vo::sb

namespace vo {

using namespace sb;

VtScreenBuffer *VoScreenBufferCreate() {
  Context *c = State();
  if (c == nullptr) {
    Post(kRefused, messages::kScreenBufferNotStarted, kModule);
    return nullptr;
  }
  VtScreenBuffer *b = BufferMake(c->registry);
  if (b == nullptr) Post(kNoMemory, messages::kScreenBufferCreateNoMemory, kModule);
  return b;
}

VtStatus VoScreenBufferDestroy(VtScreenBuffer *buffer) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  VtScreenBuffer *b = Checked(buffer, messages::kScreenBufferDestroyBad);
  if (b == nullptr) return kRefused;
  Context *c = State();
  if (TargetRunHeld(c, b) && CallAfterRender()) return 0;
  // Rows must never reach freed storage: the target is detached first.
  if (c->target == b) (void)VoScreenBufferSet(nullptr);
  BufferRelease(c->registry, b);
  return 0;
}

VtStatus VoScreenBufferAllocateData(VtScreenBuffer *buffer, uint32_t mask) {
  VtScreenBuffer *b = Checked(buffer, messages::kScreenBufferAllocateBad);
  if (b == nullptr) return kRefused;
  if (TargetHeld(State(), b) && CallAfterRender()) return 0;
  if (Allocate(b, mask) == 0) return 0;
  Post(kNoMemory, messages::kScreenBufferAllocateNoMemory, kModule);
  return kNoMemory;
}

VtStatus VoScreenBufferDeallocateData(VtScreenBuffer *buffer, uint32_t mask) {
  VtScreenBuffer *b = Checked(buffer, messages::kScreenBufferMaskBad);
  if (b == nullptr) return kRefused;
  if (TargetHeld(State(), b) && CallAfterRender()) return 0;
  ChannelsFree(b, mask & VO_SB_ALL);
  return 0;
}

VtStatus VoScreenBufferGetDataMask(VtScreenBuffer *buffer, uint32_t *mask) {
  VtScreenBuffer *b = Checked(buffer, messages::kScreenBufferMaskBad);
  if (b == nullptr) return kRefused;
  if (mask == nullptr) return Refuse("VoScreenBufferGetDataMask", "no output");
  *mask = b->mask;
  return 0;
}

VtStatus VoScreenBufferSetControl(VtScreenBuffer *buffer, uint32_t code, const VtTypedValue *value) {
  VtScreenBuffer *b = Checked(buffer, messages::kScreenBufferSetControlBad);
  if (b == nullptr) return kRefused;
  if (value == nullptr) return Refuse("VoScreenBufferSetControl", "no value");
  // A zero side is refused at once, as always; every other control of a
  // held target waits.
  const bool zero_side = (code == VO_SB_WIDTH || code == VO_SB_HEIGHT) && value->value.u == 0;
  if (!zero_side && TargetHeld(State(), b) && CallAfterRender()) return 0;
  const uint32_t u = value->value.u;
  switch (code) {
    case VO_SB_WIDTH:
    case VO_SB_HEIGHT: return SizeSet(b, code, u);
    case VO_SB_ACCUMULATE: b->accumulate = u; return 0;
    case VO_SB_DEPTH_TEST: return FlagSet(b, &b->depth_test, u, VO_SB_DEPTH, messages::kScreenBufferNoDepth);
    case VO_SB_ALPHA_BLEND:
      return FlagSet(b, &b->alpha_blend, u, VO_SB_ALPHA, messages::kScreenBufferNoAlpha);
    case VO_SB_STENCIL_ON: return FlagSet(b, &b->stencil, u, VO_SB_STENCIL, messages::kScreenBufferNoStencil);
    case VO_SB_WEIGHT: b->weight = value->value.f; return 0;
    case VO_SB_STENCIL_REF: b->stencil_reference = static_cast<uint8_t>(u); return 0;
    case VO_SB_STENCIL_MASK: b->stencil_mask = static_cast<uint8_t>(u); return 0;
    case VO_SB_COMBINE: b->combine = u; return ProceduresSelect(b);
    case VO_SB_STENCIL_TEST: b->stencil_test = u; return ProceduresSelect(b);
    case VO_SB_STENCIL_OP: b->stencil_op = u; return ProceduresSelect(b);
    case VO_SB_STENCIL_FAIL_OP: b->stencil_fail_op = u; return ProceduresSelect(b);
    default: Post(kRefused, messages::kScreenBufferControlUnknown, kModule, code); return kRefused;
  }
}

VtStatus VoScreenBufferGetControl(VtScreenBuffer *buffer, uint32_t code, VtTypedValue *value) {
  VtScreenBuffer *b = Readable(buffer, messages::kScreenBufferGetControlBad);
  if (b == nullptr) return kRefused;
  if (value == nullptr) return Refuse("VoScreenBufferGetControl", "no output");
  switch (code) {
    case VO_SB_WIDTH: *value = TypedNat32(b->width); return 0;
    case VO_SB_HEIGHT: *value = TypedNat32(b->height); return 0;
    case VO_SB_ACCUMULATE: *value = TypedWord(VtBoolean, b->accumulate); return 0;
    case VO_SB_DEPTH_TEST: *value = TypedWord(VtBoolean, b->depth_test); return 0;
    case VO_SB_ALPHA_BLEND: *value = TypedWord(VtBoolean, b->alpha_blend); return 0;
    case VO_SB_STENCIL_ON: *value = TypedWord(VtBoolean, b->stencil); return 0;
    case VO_SB_WEIGHT: *value = TypedFloat(b->weight); return 0;
    case VO_SB_STENCIL_REF: *value = TypedWord(VtNat8, b->stencil_reference); return 0;
    case VO_SB_STENCIL_MASK: *value = TypedWord(VtNat8, b->stencil_mask); return 0;
    case VO_SB_COMBINE: *value = TypedWord(VtEnum, b->combine); return 0;
    case VO_SB_STENCIL_TEST: *value = TypedWord(VtEnum, b->stencil_test); return 0;
    case VO_SB_STENCIL_OP: *value = TypedWord(VtEnum, b->stencil_op); return 0;
    case VO_SB_STENCIL_FAIL_OP: *value = TypedWord(VtEnum, b->stencil_fail_op); return 0;
    default: Post(kRefused, messages::kScreenBufferControlUnknown, kModule, code); return kRefused;
  }
}

VtStatus VoScreenBufferSetRegion(VtScreenBuffer *buffer, const uint32_t *region) {
  VtScreenBuffer *b = Checked(buffer, messages::kScreenBufferSetRegionBad);
  if (b == nullptr) return kRefused;
  if (region == nullptr) return Refuse("VoScreenBufferSetRegion", "no region");
  if (TargetHeld(State(), b) && CallAfterRender()) return 0;
  return RegionSet(b, region);
}

VtStatus VoScreenBufferGetRegion(VtScreenBuffer *buffer, uint32_t *region) {
  VtScreenBuffer *b = Readable(buffer, messages::kScreenBufferGetRegionBad);
  if (b == nullptr) return kRefused;
  if (region == nullptr) return Refuse("VoScreenBufferGetRegion", "no output");
  std::memcpy(region, b->region, sizeof b->region);
  return 0;
}

VtStatus VoScreenBufferCopyContents(VtScreenBuffer *destination, VtScreenBuffer *source) {
  VtScreenBuffer *d = Checked(destination, messages::kScreenBufferCopyContentsBad);
  VtScreenBuffer *s = d != nullptr ? Checked(source, messages::kScreenBufferCopyContentsBad) : nullptr;
  if (s == nullptr) return kRefused;
  if (d == s) return 0;  // a buffer is already a copy of itself
  // The copy takes the source's size and region too: into the target a
  // running render holds, it waits for the outermost render's end.
  if (TargetHeld(State(), d) && CallAfterRender()) return 0;
  return Copy(d, s);
}

VtScreenBuffer *VoScreenBufferCopy(VtScreenBuffer *source) {
  VtScreenBuffer *s = Checked(source, messages::kScreenBufferCopyBad);
  if (s == nullptr) return nullptr;
  BufferRegistry *r = State()->registry;
  VtScreenBuffer *b = BufferMake(r);
  if (b != nullptr && Copy(b, s) == 0) return b;
  if (b != nullptr) BufferRelease(r, b);
  Post(kNoMemory, messages::kScreenBufferCopyNoMemory, kModule);
  return nullptr;
}

}  // namespace vo
