// The buffer as render target: attaching stands the module's five
// replacements in for the driver's begin frame, end frame and scan-line
// callbacks; each stores what it receives in the target and passes the call
// on to the procedure it displaced, so the driver still gets its frame.
// Also showing a buffer through the driver and the depth pass.
//
// Invariants a reader must know:
// - the replacements installed and answered are the exported entry points;
// - rows are image rows; a row outside the target is skipped, never written
//   out of bounds, and still forwarded;
// - the busy flag is a one-thread re-entry guard: while it is set (a row
//   being forwarded, a buffer being shown) arriving rows are forwarded but
//   not stored, and the begin-frame replacement neither resizes nor moves
//   the region; each user puts back the value it found;
// - detaching puts back only callbacks that are still ours, and never a
//   null: under the null driver it puts back that driver's own procedures;
// - an announcement of changed callbacks attaches again only when a slot
//   is no longer ours or another driver is current: setting the
//   begin-frame slot mid-frame would drop the region the frame recorded.

#include <algorithm>
#include <type_traits>

#include "render/voscrbuf/screenbuf.h"
#include "kernel/vosystem/face.h"

namespace vo::sb {
namespace {

constexpr uint32_t kOversampling = 0xc000e;  // the standard renderer's control
constexpr uint32_t kLineOutput = 0xc0001;    // the standard renderer's line-output callback
constexpr uint32_t kDepthRender = 0x200003;  // the advanced renderer's depth render

// The replacements and the depth row's procedure are of the framework's
// forms exactly, so that a saved procedure passes to the row delivery as is.
static_assert(std::is_same_v<decltype(&exported::VoScreenBufferBeginFrame), VtDriverFrameProc>);
static_assert(std::is_same_v<decltype(&exported::VoScreenBufferEndFrame), VtDriverNoArgProc>);
static_assert(std::is_same_v<decltype(&exported::VoScreenBufferWriteScan), VtDriverRowProc>);
static_assert(std::is_same_v<decltype(&exported::VoScreenBufferWriteScanRGBFloat), VtDriverRowProc>);
static_assert(std::is_same_v<decltype(&exported::VoScreenBufferWriteScanRGBAFloat), VtDriverRowProc>);
static_assert(std::is_same_v<decltype(&exported::VoScreenBufferStoreDepthRow), VtMultiThreadRowProc>);
static_assert(std::is_same_v<VtDriverRowProc, VtMultiThreadRowProc>);

VtProc Replacement(uint32_t slot) {
  switch (slot) {
    case kSlotBegin: return reinterpret_cast<VtProc>(&exported::VoScreenBufferBeginFrame);
    case kSlotEnd: return reinterpret_cast<VtProc>(&exported::VoScreenBufferEndFrame);
    case kSlotBytes: return reinterpret_cast<VtProc>(&exported::VoScreenBufferWriteScan);
    case kSlotRGB: return reinterpret_cast<VtProc>(&exported::VoScreenBufferWriteScanRGBFloat);
    default: return reinterpret_cast<VtProc>(&exported::VoScreenBufferWriteScanRGBAFloat);
  }
}

VtStatus NotStarted() {
  Post(kRefused, messages::kScreenBufferNotStarted, kModule);
  return kRefused;
}

// Puts back what attaching displaced, where the callback is still ours.
void Restore(Context *c) {
  if (c->attached == nullptr || VoDriverGet() != c->attached) return;
  for (uint32_t i = 0; i < kReplacements; ++i) {
    if (VoCallBackGet(kReplacedCodes[i]) != Replacement(i)) continue;
    VtProc back = c->saved[i] != nullptr ? c->saved[i] : VoDriverOperationGet(c->attached, kReplacedCodes[i]);
    if (back != nullptr) (void)VoCallBackSet(kReplacedCodes[i], back);
  }
}

// True while the target is attached to the current driver as attaching
// left it: every replacement still in its slot.
bool StillAttached(const Context *c) {
  if (c->attached == nullptr || VoDriverGet() != c->attached) return false;
  for (uint32_t i = 0; i < kReplacements; ++i)
    if (VoCallBackGet(kReplacedCodes[i]) != Replacement(i)) return false;
  return true;
}

uint32_t Oversampling() {
  if (VoModuleCheckStarted(VO_MODULE_STANDARD_RENDERER, 0) != 0) return 1;
  VtTypedValue n{};
  if (VoControlGet(kOversampling, &n) != 0 || n.value.u == 0) return 1;
  return n.value.u;
}

// The target sized to hold the frame and the view's image, its region the
// frame.
VtStatus TargetFit(VtScreenBuffer *t, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  uint32_t rx = 0, ry = 0;
  double aspect = 0;
  VtStatus st = VoViewGetResolution(nullptr, &rx, &ry, &aspect);
  const uint32_t n = Oversampling();
  rx /= n;
  ry /= n;
  const int64_t w = std::max<int64_t>(int64_t{x1} + 1, rx), h = std::max<int64_t>(int64_t{y1} + 1, ry);
  st |= SizesSet(t, static_cast<uint32_t>(w), static_cast<uint32_t>(h));
  const uint32_t region[4] = {static_cast<uint32_t>(x0), static_cast<uint32_t>(x1), static_cast<uint32_t>(y0),
                              static_cast<uint32_t>(y1)};
  return st | RegionSet(t, region);
}

// One scan-line replacement: store unless busy, then forward unless told
// not to.
template <class Pixel>
VtStatus ScanLine(uint32_t slot, uint32_t y, void *pixels,
                  VtStatus (*store)(Context *, VtScreenBuffer *, uint32_t, const Pixel *)) {
  Context *c = State();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus st = 0;
  if (!c->busy && c->target != nullptr) {
    if (y < c->target->height) {
      st = store(c, c->target, y, static_cast<const Pixel *>(pixels));
    } else {
      Post(kRefused, messages::kScreenBufferTargetRowOutside, kModule, y, c->target->height);
      st = kRefused;
    }
  }
  const auto saved = reinterpret_cast<VtMultiThreadRowProc>(c->saved[slot]);
  if (c->no_forward || saved == nullptr) return st;
  const uint32_t was = c->busy;
  c->busy = 1;
  st |= VoMultiThreadRowDeliver(y, pixels, saved);
  c->busy = was;
  return st;
}

// Stands the replacements in for the current driver's callbacks with
// buffer (null: none) as the target; the caller has checked it.
void Attach(Context *c, VtScreenBuffer *buffer) {
  c->switching = 1;
  Restore(c);
  for (VtProc &p : c->saved) p = nullptr;
  c->attached = nullptr;
  if (buffer != nullptr) {
    VtDriverRecord *current = VoDriverGet();
    c->attached = current;
    // The null driver has no output to keep: nothing is saved, nothing forwarded.
    if (current != VoDriverFindFromName("vodrvnul"))
      for (uint32_t i = 0; i < kReplacements; ++i) c->saved[i] = VoCallBackGet(kReplacedCodes[i]);
    for (uint32_t i = 0; i < kReplacements; ++i) (void)VoCallBackSet(kReplacedCodes[i], Replacement(i));
  }
  c->target = buffer;
  c->switching = 0;
}

}  // namespace

VtStatus TargetDetachAtEnd(Context *c) {
  if (c->target == nullptr || VoModuleCheckStarted(VO_MODULE_DRIVER, 0) != 0) return 0;
  return VoScreenBufferSet(nullptr);
}

// A render grows the target it holds to the image of the view it takes as
// it starts, as its frame will (which makes it at least that large): a row
// its callbacks write before its frame begins (a hidden-line or stroke
// render reports first) is kept at the length the frame gives it. A render
// whose rows go to a line output (a depth map, the depth pass) leaves the
// target alone.
void TargetViewSized(Context *c) {
  if (c->target == nullptr || c->busy || !StillAttached(c) || VoCallBackGet(kLineOutput) != nullptr) return;
  uint32_t rx = 0, ry = 0;
  double aspect = 0;
  const uint32_t n = Oversampling();
  if (VoViewGetResolution(nullptr, &rx, &ry, &aspect) != 0) return;
  VtScreenBuffer *t = c->target;
  if (rx / n > t->width || ry / n > t->height)
    (void)SizesSet(t, std::max(t->width, rx / n), std::max(t->height, ry / n));
}

}  // namespace vo::sb

namespace vo {

using namespace sb;

VtStatus VoScreenBufferSet(VtScreenBuffer *buffer) {
  Context *c = State();
  if (c == nullptr) return NotStarted();
  if (buffer != nullptr && Checked(buffer, messages::kScreenBufferSetBad) == nullptr) return kRefused;
  if (buffer != nullptr && (buffer->mask & VO_SB_COLOUR) == 0) {
    Post(kRefused, messages::kScreenBufferTargetNoColour, kModule);
    return kRefused;
  }
  Attach(c, buffer);
  return 0;
}

VtScreenBuffer *VoScreenBufferGet() {
  Context *c = State();
  if (c == nullptr) {
    (void)NotStarted();
    return nullptr;
  }
  return c->target;
}

VtStatus VoScreenBufferCallBacksChanged() {
  Context *c = State();
  if (c == nullptr || c->switching || c->target == nullptr || OnWorkerThread()) return 0;
  // Every callback set is announced (a threaded pass sets the progress
  // callback as its workers start and stop, inside the frame). Attaching
  // again would set the begin-frame slot anew, which makes the framework
  // forget the frame's region, and its float rows are then refused.
  if (StillAttached(c)) return 0;
  // The running render's target given back from its callbacks (a library's
  // inner render around them changes callbacks as it takes its state back)
  // is still the render's, its pixels kept until the outermost render ends
  // (BufferRelease): attached again as it stands, not refused as a
  // destroyed buffer the application names.
  if (c->target->tag == kReleasedTag) {
    Attach(c, c->target);
    return 0;
  }
  return VoScreenBufferSet(c->target);
}

VtStatus VoScreenBufferBeginFrame(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  Context *c = State();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  if (const VtStatus held = TargetFrameRefuse(c)) return held;
  // While a buffer is being shown, its frame must not resize (and clear) it.
  VtStatus st = c->target != nullptr && !c->busy ? TargetFit(c->target, x0, x1, y0, y1) : 0;
  const auto saved = reinterpret_cast<VtDriverFrameProc>(c->saved[kSlotBegin]);
  if (!c->no_forward && saved != nullptr) st |= saved(x0, x1, y0, y1);
  if (st == 0 && !c->busy) TargetFrameBegun(c);
  return st;
}

VtStatus VoScreenBufferEndFrame() {
  Context *c = State();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  const auto saved = reinterpret_cast<VtDriverNoArgProc>(c->saved[kSlotEnd]);
  return !c->no_forward && saved != nullptr ? saved() : 0;
}

VtStatus VoScreenBufferWriteScan(uint32_t y, void *pixels) {
  return ScanLine<uint8_t>(kSlotBytes, y, pixels, &WriteBytes);
}
VtStatus VoScreenBufferWriteScanRGBFloat(uint32_t y, void *pixels) {
  return ScanLine<float>(kSlotRGB, y, pixels, &WriteRGB);
}
VtStatus VoScreenBufferWriteScanRGBAFloat(uint32_t y, void *pixels) {
  return ScanLine<float>(kSlotRGBA, y, pixels, &WriteRGBA);
}

VtStatus VoScreenBufferShow(VtScreenBuffer *buffer) {
  Context *c = State();
  if (c == nullptr) return NotStarted();
  if (c->no_forward) return 0;
  VtScreenBuffer *b = Checked(buffer != nullptr ? buffer : c->target, messages::kScreenBufferShowBad);
  if (b == nullptr) return kRefused;
  if (b->width == 0 || b->height == 0 || (b->mask & VO_SB_COLOUR) == 0) {
    Post(kRefused, messages::kScreenBufferShowEmpty, kModule);
    return kRefused;
  }
  const uint32_t was = c->busy;
  c->busy = 1;
  VtTypedValue size = TypedNat32(b->width);
  (void)VoDriverSetControl(nullptr, VO_CONTROL_DRIVER_WIDTH, &size);
  size = TypedNat32(b->height);
  (void)VoDriverSetControl(nullptr, VO_CONTROL_DRIVER_HEIGHT, &size);
  c->busy = was;
  const uint32_t x0 = b->region[0], x1 = b->region[1], y0 = b->region[2], y1 = b->region[3];
  // Four floats per pixel of the region: at most 2^32 pixels x 16 bytes.
  const uint64_t bytes = (uint64_t{x1} - x0 + 1) * 16;
  auto *row = static_cast<float *>(bytes <= UINT32_MAX ? VoAllocate(static_cast<uint32_t>(bytes)) : nullptr);
  if (row == nullptr) {
    Post(kNoMemory, messages::kScreenBufferShowNoMemory, kModule);
    Post(kNoMemory, messages::kScreenBufferShowFailed, kModule, kNoMemory);
    return kNoMemory;
  }
  const bool alpha = (b->mask & VO_SB_ALPHA) != 0;
  c->busy = 1;
  VtStatus st = VoDriverBeginFrame(nullptr, static_cast<int32_t>(x0), static_cast<int32_t>(x1),
                                   static_cast<int32_t>(y0), static_cast<int32_t>(y1));
  if (st == 0) {
    for (uint32_t y = y0; y <= y1; ++y) {
      const VtStatus read = ReadRow(b, y, row, alpha ? kRGBA : kRGB);
      st |= read;
      if (read == 0)
        st |=
            alpha ? VoDriverWriteScanRGBAFloat(nullptr, y, row) : VoDriverWriteScanRGBFloat(nullptr, y, row);
    }
    st |= VoDriverEndFrame(nullptr);
  }
  VoDeallocate(row);
  c->busy = was;
  if (st != 0) Post(st, messages::kScreenBufferShowFailed, kModule, st);
  return st;
}

VtStatus VoScreenBufferRenderDepth() {
  Context *c = State();
  if (c == nullptr) return NotStarted();
  if (c->target == nullptr) {
    Post(kRefused, messages::kScreenBufferNoTarget, kModule);
    return kRefused;
  }
  uint32_t rx = 0, ry = 0;
  double aspect = 0;
  (void)VoViewGetResolution(nullptr, &rx, &ry, &aspect);
  if (rx != c->target->width || ry != c->target->height) {
    Post(kRefused, messages::kScreenBufferViewSize, kModule, rx, ry, c->target->width, c->target->height);
    return kRefused;
  }
  VtStatus st = VoCallBackSet(kLineOutput, reinterpret_cast<VtProc>(&exported::VoScreenBufferStoreDepthRow));
  st |= VoExecute(kDepthRender);
  st |= VoCallBackSet(kLineOutput, nullptr);
  return st;
}

VtStatus VoScreenBufferStoreDepthRow(uint32_t y, void *depths) {
  Context *c = State();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  VtScreenBuffer *t = c->target;
  if (t == nullptr || (t->mask & VO_SB_DEPTH) == 0 || depths == nullptr) return kRefused;
  // A depth row holds the viewport's columns from its first; what lies
  // outside the buffer is skipped.
  uint32_t viewport[4] = {0, t->width - 1, 0, t->height - 1};
  (void)VoViewGetViewport(nullptr, viewport);
  if (y >= t->height || viewport[0] >= t->width || viewport[1] < viewport[0]) {
    Post(kRefused, messages::kScreenBufferTargetRowOutside, kModule, y, t->height);
    return kRefused;
  }
  const uint32_t last = std::min(viewport[1], t->width - 1);
  ChannelPut(t->channels[2], 2, PixelIndex(t, viewport[0], y), last - viewport[0] + 1,
             static_cast<const float *>(depths), 1);
  return last == viewport[1] ? 0 : kRefused;
}

}  // namespace vo
