// The screen buffer module's private records and the procedures its files
// share: the module record (one per context), the registry of live buffers,
// channel conversions, scratch rows and the unguarded row writers.
//
// Invariants a reader must know:
// - a buffer handle is used only when it is in the registry's live set (or
//   is this context's private copy of the target) and holds tag 69;
// - a channel has storage exactly when its mask bit is set; then it holds
//   width x height pixels and its stride is elements x width;
// - the region always lies inside the buffer (x1 < width, y1 < height);
// - rows handed to the unguarded writers are image rows; a row outside the
//   buffer is never written;
// - the record is registered as context variables: a worker of a threaded
//   pass has its own copy, with its own scratch rows and its own record of
//   the target (sharing the target's pixel storage). The registry is shared.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_driver.h>
#include <vo/vo_screenbuf.h>

#include "kernel/vosystem/face.h"
#include "render/voscrbuf/face.h"

namespace vo::sb {

constexpr uint32_t kModule = VO_MODULE_SCREEN_BUFFER;
constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;
constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;
constexpr VtStatus kUnlisted = 0x20000102;  // an enumerated value outside its list
constexpr float kNoDepth = 1e20f;           // a depth never written
constexpr float kByteScale = 1.0f / 255.0f;
constexpr uint32_t kChannels = 4;
constexpr uint32_t kScratchRows = 4;
constexpr uint32_t kReplacements = 5;

// The driver callbacks the target stands in for, in attach order.
constexpr uint32_t kReplacedCodes[kReplacements] = {VO_DRIVER_BEGIN_FRAME, VO_DRIVER_END_FRAME,
                                                    VO_DRIVER_ROW_BYTES, VO_DRIVER_ROW_FLOAT,
                                                    VO_DRIVER_ROW_FLOAT_RGBA};
enum Replaced : uint32_t { kSlotBegin, kSlotEnd, kSlotBytes, kSlotRGB, kSlotRGBA };

struct ScratchRow {
  float *data;
  size_t size;  // bytes
  uint32_t in_use;
};

// Shared by the master record and every worker copy.
struct BufferRegistry {
  VtPool *pool;
  VtHashTable *live;  // buffer address -> 1
  VtScreenBuffer *head;
};

struct Context {
  VtDriverRecord *attached;
  VtProc saved[kReplacements];
  uint32_t busy;
  uint32_t switching;
  ScratchRow scratch[kScratchRows];
  VtScreenBuffer *target;
  uint32_t no_forward;
  BufferRegistry *registry;
  VtScreenBuffer *private_target;    // a worker copy's own record of the target
  void *holds;                       // the running renders' holds, innermost first (held.cpp)
  const VtScreenBuffer *run_target;  // the buffer a render-and-post run holds to its end (held.cpp)
};

Context *State();

// Whether the buffer is live for this context (false when the module is not
// started), without a diagnostic.
bool Live(const VtScreenBuffer *buffer);
// The buffer when it is live for this context, else null after posting the
// message with 0x20000012 (the module not started counts as not live).
VtScreenBuffer *Checked(VtScreenBuffer *buffer, uint32_t message);
// As Checked, and also a buffer destroyed while a render runs, whose pixels
// stay readable (its size, region and pixels) until the outermost render
// ends: it stays registered, its tag kReleasedTag instead of 69.
constexpr uint32_t kReleasedTag = 0x80000045u;
VtScreenBuffer *Readable(VtScreenBuffer *buffer, uint32_t message);
// Posts the module's argument refusal (procedure, reason); answers 0x20000012.
VtStatus Refuse(const char *procedure, const char *reason);

// ---- Channels (pixels.cpp) ----

// Floats per pixel of a channel's rows: 3 for colour, 1 otherwise.
inline uint32_t Components(uint32_t channel) { return channel == 0 ? 3u : 1u; }
inline size_t PixelIndex(const VtScreenBuffer *b, uint32_t x, uint32_t y) {
  return static_cast<size_t>(y) * b->width + x;
}
// Bytes per pixel of a channel descriptor.
size_t PixelBytes(const VtScreenBufferChannel &c);
// Reads n pixels from pixel index p into out, pixel i at out + i x step.
void ChannelGet(const VtScreenBufferChannel &c, uint32_t channel, size_t p, uint32_t n, float *out,
                size_t step);
// Writes n pixels from in, pixel i at in + i x step, at pixel index p.
void ChannelPut(VtScreenBufferChannel &c, uint32_t channel, size_t p, uint32_t n, const float *in,
                size_t step);
// Writes one value (Components floats) into every pixel of the region.
void ChannelFill(VtScreenBuffer *b, uint32_t channel, const float *value);
// The start value of a channel: colour black, alpha 1, depth 1e20, stencil 0.
const float *StartValue(uint32_t channel);
// New storage for a descriptor at a size (count, stride and data set);
// 0x20000006 when the size overflows or memory runs out.
VtStatus StorageMake(VtScreenBufferChannel *c, uint32_t width, uint32_t height);
void StorageFree(VtScreenBufferChannel *c);

// Scratch rows of the context, released at terminate and with a copy.
void ScratchFree(Context *c);

// ---- Unguarded row access at image row y over the region's columns ----
VtStatus WriteRGB(Context *c, VtScreenBuffer *b, uint32_t y, const float *src);
VtStatus WriteRGBA(Context *c, VtScreenBuffer *b, uint32_t y, const float *src);
VtStatus WriteBytes(Context *c, VtScreenBuffer *b, uint32_t y, const uint8_t *src);
VtStatus WriteRGBZ(Context *c, VtScreenBuffer *b, uint32_t y, const float *src);
// Reads the region row at image row y in a row format (face.h).
VtStatus ReadRow(const VtScreenBuffer *b, uint32_t y, float *out, const RowFormat &format);

// ---- Buffers (buffer.cpp) ----
void ChannelsFree(VtScreenBuffer *b, uint32_t mask);
void RegionWhole(VtScreenBuffer *b);
// Sets the width (code 0x450001) or height (0x450002) as the control does.
VtStatus SizeSet(VtScreenBuffer *b, uint32_t code, uint32_t value);
// Both sizes at once: the channels are made for the new size before the old
// ones go, so a failure leaves the buffer (size and pixels) as it was.
VtStatus SizesSet(VtScreenBuffer *b, uint32_t width, uint32_t height);
VtStatus RegionSet(VtScreenBuffer *b, const uint32_t *region);
// Unlinks and forgets the buffer and frees it with every channel, after the
// outermost render when one runs on the application's thread (no detaching).
void BufferRelease(BufferRegistry *r, VtScreenBuffer *b);

// ---- What a render holds of the target (held.cpp) ----

// Added at the module's start and removed at its end.
void TargetHoldStart();
void TargetHoldStop();
// A frame begun into the target a render around the calling one holds is
// refused with 0x20000012 and message 2915 (0 otherwise); TargetFrameBegun
// marks the calling render's frame begun in the target it holds.
VtStatus TargetFrameRefuse(const Context *c);
void TargetFrameBegun(const Context *c);

// ---- Target (target.cpp) ----
VtStatus TargetDetachAtEnd(Context *c);
// The target sized to the view's image as the outermost render takes it.
void TargetViewSized(Context *c);

}  // namespace vo::sb
