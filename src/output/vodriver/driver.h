// The driver framework's private records: the driver record, the
// framework's state, the code-to-slot table and the typed slot callers
// (the slot list and the forms of the operations are in operations.h).
//
// Invariants a reader must know:
// - every operation slot of a built record holds a procedure of its code's
//   form (vo_driver.h); nothing calls a slot through another form, and no
//   slot is ever null (a null set puts the code's default back);
// - the active driver is the top of the active-driver stack; its bottom
//   entry is the state's current record, a copy of the current driver's
//   record, which the callbacks 0x1a0001-0x1a0038 read and write;
// - a worker's copy of the state owns its stack and buffers only; images
//   and drivers belong to the master state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <vo/vo_driver.h>

#include "output/vodriver/colour_conversion.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::driver {

constexpr uint32_t kFirstCode = 0x1a0001;
constexpr uint32_t kLastCode = 0x1a0038;
constexpr uint32_t kLastControl = 0x1a0026;
constexpr size_t kSlots = 50;

// Bare answers of the framework and its drivers.
constexpr VtStatus kRefused = VO_DRIVER_REFUSED;          // 256
constexpr VtStatus kNotHandled = VO_DRIVER_NOT_HANDLED;   // 258
constexpr VtStatus kUnknown = VO_STATUS_UNKNOWN_CODE;     // 18
constexpr VtStatus kUnavailable = VO_STATUS_UNAVAILABLE;  // 2
constexpr VtStatus kNoStack = 34;                         // the active-driver stack cannot grow
constexpr VtStatus kNotInList = 16;
constexpr VtStatus kBadArgument = VO_STATUS_BAD_ARGUMENT;
constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;
constexpr VtStatus kSubRegionState = 0x20000010;  // a sub-region begun twice or ended unbegun
constexpr VtStatus kInterrupted = VO_COND_INTERRUPTED;

// The codes in slot order (also the order in which a new driver is asked
// for its procedures).
#define VO_DRIVER_CODE_ENTRY(code, form) code,
constexpr std::array<uint32_t, kSlots> kSlotCodes = {VO_DRIVER_SLOTS(VO_DRIVER_CODE_ENTRY)};
#undef VO_DRIVER_CODE_ENTRY

// The code-to-slot table behind every by-code access: slot index by
// code - 0x1a0001, -1 for a code without a slot.
constexpr std::array<int8_t, kLastCode - kFirstCode + 1> kCodeSlot = [] {
  std::array<int8_t, kLastCode - kFirstCode + 1> t{};
  for (int8_t &e : t) e = -1;
  for (size_t i = 0; i < kSlots; ++i) t[kSlotCodes[i] - kFirstCode] = static_cast<int8_t>(i);
  return t;
}();

// Slot index of a code with a slot, else -1.
constexpr int SlotOf(uint32_t code) {
  return code >= kFirstCode && code <= kLastCode ? kCodeSlot[code - kFirstCode] : -1;
}
// The slot of a code of the slot list, fixed when compiled.
template <uint32_t Code>
constexpr int kSlotOf = SlotOf(Code);

}  // namespace vo::driver

// One per created driver; owned by the framework's driver list.
struct VtDriverRecord {
  VtDriverRecord *next;
  const char *name;
  VtQueryFunction query;
  VtControlSetProc control_set;
  VtControlGetProc control_get;
  VtDriverLookupProc lookup;
  uint32_t open;
  VtDriverRowProc saved_byte_row;  // displaced by a colour conversion
  vo::driver::ColourConversion *conversion;
  int32_t clip[4];  // x1, x0, y1, y0
  VtDriverFrameProc own_begin_frame;
  int32_t region[4];  // x0, x1, y0, y1 of the last begin frame through the wrapper
  uint32_t region_recorded;
  uint32_t sub_region_mode;  // 0 none, 1 the driver's own, 2 ignored, 3 collected
  uint32_t temporary_image;  // this sub-region opened the temporary image
  int32_t sub_region[4];     // x0, x1, y0, y1 of the begun sub-region
  uint32_t capability;
  VtProc operations[vo::driver::kSlots];  // in slot order, never null once built
  VtDriverWordProc saved_stroke_begin;
  uint32_t point_drawn;
  VtDriverNoArgProc own_end_frame;  // the driver's (or the null driver's) end frame
  uint32_t writes_file;             // it answers VO_CONTROL_DRIVER_FILE: its frames go to one stream
};

namespace vo::driver {

template <uint32_t Code>
inline typename Op<Code>::Proc Slot(const VtDriverRecord *r) {
  return reinterpret_cast<typename Op<Code>::Proc>(r->operations[kSlotOf<Code>]);
}
template <uint32_t Code>
inline void SlotSet(VtDriverRecord *r, typename Op<Code>::Proc p) {
  r->operations[kSlotOf<Code>] = reinterpret_cast<VtProc>(p);
}

enum SubRegionMode : uint32_t { kNoSubRegion = 0, kOwnSubRegion = 1, kIgnored = 2, kCollected = 3 };

struct EnabledNode {
  VtDriverRecord *driver;
  EnabledNode *next;
};

struct ImageNode {
  ImageNode *previous;
  ImageNode *next;
  VtImage image;
  uint8_t *owned;  // the block the framework allocated, or null
};

struct LiveImages;

// A file driver's frame that a render began and has not ended: the driver
// (by its query function, which every copy of its record shares, and behind
// which one stream and one frame's rows sit), the render's VoExecute serial
// and its code. An entry whose render no longer runs is free.
struct FrameHolder {
  VtQueryFunction driver;
  uint64_t render;
  uint32_t code;
  uint32_t promised;  // the render has not begun its frame yet
};
constexpr size_t kFrameHolders = 4;

// What the image driver keeps in the framework's state.
struct ImageDriverState {
  VtImage *image;    // the image named by VO_CONTROL_DRIVER_IMAGE
  void *stack_head;  // the newest record of its stack, null while none
  uint32_t colour_map_begun;
  uint32_t colour_map[256];
  uint32_t palette_update;
};

struct DriverState {
  uint32_t count;
  VtDriverRecord *head;  // most recently created first
  VtDriverRecord current_record;
  VtDriverRecord *current_pointer;  // &current_record
  VtDriverRecord *current;          // the driver last made current
  EnabledNode *enabled_head;
  EnabledNode *enabled_tail;
  VtDriverRecord *null_driver;
  VtDriverRecord *image_driver;
  VtDriverRecord *multi_driver;
  VtDriverRecord *display_driver;
  uint32_t real_chosen;
  VtDriverRecord **stack;  // stack[0] is the current record
  uint32_t capacity;
  uint32_t depth;
  ImageNode *images_head;
  ImageNode *images_tail;
  LiveImages *live_images;
  uint32_t buffering;
  uint32_t clear;
  uint32_t set_at_origin;
  char *title;  // owned copy, or null
  uint32_t mode;
  ImageDriverState image_driver_state;
  ConversionSettings conversion;
  VtRasterPoint *points;  // polyline fallback
  size_t point_capacity;
  uint8_t *row_bytes;  // float-row fallbacks
  size_t row_size;
  VtImage *temporary;  // the shared image of collected sub-regions
  uint32_t temporary_uses;
  uint32_t shutting_down;
  VtImageReadProc image_read;
  VtStatus image_read_status;  // the last VoImageRead's failure (ImageReadStatus)
  uint32_t pixel_limit;        // VO_CONTROL_IMAGE_PIXEL_LIMIT, read from the master state
  void (*image_destroy_hook)(VtImage *image);
  void (*image_destroy_listeners[4])(VtImage *image);  // other modules' hooks, run after it
  uint32_t is_copy;
  FrameHolder frame_holders[kFrameHolders];
};

// This context's state (a worker's copy inside a threaded pass), or null
// before start; the master's state for images and the driver list.
DriverState *State();
DriverState *Master();

// Active-driver stack.
inline VtDriverRecord *Active(const DriverState *s) { return s->stack[s->depth - 1]; }
bool Push(DriverState *s, VtDriverRecord *driver);
void Pop(DriverState *s);
VtStatus StackCreate(DriverState *s);

// True for a driver of the list or the state's current record.
bool DriverIsLive(const DriverState *s, const VtDriverRecord *driver);
// The driver a caller named: 0 is the current record; a foreign handle is
// reported (message 2200, naming the procedure) and answers null.
VtDriverRecord *DriverResolve(DriverState *s, VtDriverRecord *driver, const char *procedure);
// Calls one slot of a driver with it pushed as the active driver.
template <uint32_t Code, class... A>
inline VtStatus CallPushed(DriverState *s, VtDriverRecord *d, VtStatus push_failure, A... args) {
  if (!Push(s, d)) return push_failure;
  const VtStatus st = static_cast<VtStatus>(Slot<Code>(d)(args...));
  Pop(s);
  return st;
}

// Records: building, defaults and by-code access (records.cpp).
VtDriverRecord *RecordBuild(DriverState *s, VtQueryFunction query);
VtProc DefaultProcedure(const DriverState *s, uint32_t code);
VtStatus CallbackProcedure(uint32_t set, uint32_t code, VtProc *slot);
void BeginFrameRecord(VtDriverRecord *r, int32_t x0, int32_t x1, int32_t y0, int32_t y1);
// Two frames cannot share a file driver's one stream: a frame begun for a
// render started inside the one whose frame that driver holds open is
// refused with 0x20000012 and message 2915 naming both renders, before the
// driver or its record is touched; 0 otherwise (frames.cpp). FrameHeld marks
// the driver's frame held by the calling render once its own begin frame
// succeeded; FrameLetGo frees it at its end frame.
VtStatus FrameHeldRefuse(DriverState *s, const VtDriverRecord *driver);
void FrameHeld(DriverState *s, const VtDriverRecord *driver);
void FrameLetGo(DriverState *s, const VtDriverRecord *driver);
// A render that starts with a file driver current holds that driver's
// frame from its start (promised): a render started from its application
// callbacks before its frame begins (a hidden-line render's preparation, a
// light's depth maps) is refused as inside an open frame. Renders the
// library runs inside it and renders started from its shaders are not.
void FramePromise();
// Every render holds the current driver's record and a file driver's
// stream from its start to its end (held.cpp); added at the framework's
// start, removed at its end.
void RenderHoldStart();
void RenderHoldStop();
bool IsNullProcedure(const DriverState *s, uint32_t code, VtProc p);

// Framework (framework.cpp).
VtStatus FrameworkStart();
VtStatus FrameworkTerminate();
VtStatus ControlSet(uint32_t code, const VtTypedValue *value);
VtStatus ControlGet(uint32_t code, VtTypedValue *value);
void CallbacksAnnounce();
const char *ControlName(uint32_t code, char *buffer, size_t size);
VtStatus StateCopy(void *state, void **copy);
VtStatus StateCopyFree(void *copy);

// The built-in drivers' query functions (each through BuiltInAnswer).
VtStatus EntryNullDriver(uint32_t query, VtTypedValue *answer);
VtStatus EntryMultiDriver(uint32_t query, VtTypedValue *answer);
VtStatus EntryImageDriver(uint32_t query, VtTypedValue *answer);
// The image driver's hook on the image list, set at the framework's start.
void ImageDriverStart();
// Frees every record of a state's image-driver stack.
void ImageDriverStackFree(DriverState *s);

// Sub-regions (sub_region.cpp).
VtStatus SubRegionBegin(const VtSubRegion *region);
VtStatus SubRegionEnd();
VtStatus BlockWrite(int32_t x, int32_t y, int32_t width, int32_t rows, const uint8_t *rgb);

// Images (images.cpp).
// The default image-read callback: the file by name, with no open stream.
VtImage *ImageReadByName(const char *name);
VtStatus ImagesCreate(DriverState *s);
void ImagesDestroyAll(DriverState *s);
// Sends rows y0..y1 of an image to the active driver (no frame begun or
// ended); the shared steps of image copies and collected sub-regions.
VtStatus ImageRowsSend(VtDriverRecord *d, const VtImage *image);
VtStatus ImageSizeCheck(int32_t width, int32_t height, int32_t bits, size_t *bytes);

// What the framework asks of the view module (neighbours.cpp).
VtStatus ProjectedToRaster(const float *projected, VtRasterPoint *raster);
// What the framework asks of the work farm (neighbours.cpp): a worker's
// image reads and releases go to the main thread, which owns the images.
bool OnFarmWorker();
VtImage *FarmImageRead(const char *name);
VtStatus FarmImageRelease(VtImage *image);
VtStatus WorldToProjected(const float *world, float projected[4]);

// Posts a refusal of module 26 (message 2201: procedure, reason) and
// answers the status.
VtStatus Refuse(VtStatus status, const char *procedure, const char *why);

}  // namespace vo::driver
