// Driver records: building a record from a driver's query function, the
// framework's fallbacks for the operations a driver leaves empty, and the
// by-code access to a record's slots (VoDriverAccessOperation and the
// framework's callback procedure).
//
// Every fallback acts on the active driver, so that it calls the slots of
// the same driver it stands in for. Fallback buffers grow only when a
// larger row or shape comes; a row of the usual width allocates nothing.

#include <cmath>
#include <cstring>
#include <type_traits>

#include "output/vodriver/driver.h"
#include "scene/vocolour/face.h"
#include "kernel/vosystem/face.h"

namespace vo::driver {

// ---------------------------------------------------------------------------
// Fallbacks
// ---------------------------------------------------------------------------

namespace {

VtStatus FloatColour(const VtColour *colour) {
  DriverState *s = State();
  uint8_t b[3] = {0, 0, 0};
  if (colour != nullptr) colour::ColourToBytes(&colour->red, b);
  return Slot<0x1a000a>(Active(s))(b);
}

VtStatus FloatClearColour(const VtColour *colour) {
  DriverState *s = State();
  uint8_t b[3] = {0, 0, 0};
  if (colour != nullptr) colour::ColourToBytes(&colour->red, b);
  return Slot<0x1a000b>(Active(s))(b);
}

// Makes a fallback buffer of *room elements hold at least n; false when
// it cannot (the buffer is then as it was).
template <class T>
bool Reserve(T **buffer, size_t *room, size_t n) {
  if (n <= *room) return true;
  if (n > UINT32_MAX / sizeof(T)) return false;
  auto *grown = static_cast<T *>(VoAllocate(static_cast<uint32_t>(n * sizeof(T))));
  if (grown == nullptr) return false;
  VoDeallocate(*buffer);
  *buffer = grown;
  *room = n;
  return true;
}

// A float row of Components floats per pixel becomes a byte-RGB row of the
// recorded region's width; width_refusal is the answer for an empty width.
template <int Components, VtStatus WidthRefusal>
VtStatus RowFloat(uint32_t y, void *pixels) {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  if (!a->region_recorded) return kRefused;
  const int64_t width = static_cast<int64_t>(a->region[1]) - a->region[0] + 1;
  if (width < 1) return WidthRefusal;
  if (pixels == nullptr) return kNotHandled;
  const size_t n = static_cast<size_t>(width);
  if (!Reserve(&s->row_bytes, &s->row_size, n * 3)) return VO_STATUS_NO_MEMORY;
  const auto *in = static_cast<const float *>(pixels);
  uint8_t *out = s->row_bytes;
  if constexpr (Components == 3) {
    colour::BytesFromFloats(in, out, n * 3);
  } else {
    for (size_t i = 0; i < n; ++i, in += Components, out += 3) colour::ColourToBytes(in, out);
  }
  return Slot<0x1a000f>(a)(y, s->row_bytes);
}

VtStatus PolylineDraw(uint32_t type, uint32_t count, VtDrawRecord *record) {
  if ((type & VO_DRAW_SHAPE_MASK) != VO_DRAW_SHAPE_LINE) return kNotHandled;
  const bool raster = (type & VO_DRAW_POINTS_RASTER) != 0;
  const bool projected = !raster && (type & VO_DRAW_POINTS_PROJECTED) != 0;
  if (!raster && !projected) return kNotHandled;
  if (count < 2) return 0;
  void *points = record == nullptr ? nullptr : raster ? record->raster : record->projected;
  if (points == nullptr) return kNotHandled;
  DriverState *s = State();
  if (!Reserve(&s->points, &s->point_capacity, static_cast<size_t>(count) + 1)) return VO_STATUS_NO_MEMORY;
  for (uint32_t i = 0; i < count; ++i) {
    const void *p = static_cast<void *const *>(points)[i];
    if (p == nullptr) return kNotHandled;
    if (raster)
      s->points[i] = *static_cast<const VtRasterPoint *>(p);
    else
      (void)ProjectedToRaster(static_cast<const float *>(p), &s->points[i]);
  }
  VtDriverRasterLineProc line = Slot<0x1a001c>(Active(s));
  VtStatus st = 0;
  for (uint32_t i = 0; i + 1 < count; ++i) st |= line(&s->points[i], &s->points[i + 1]);
  return st;
}

VtStatus LineDraw(const VtRasterPoint *p0, const VtRasterPoint *p1) {
  const void *ends[2] = {p0, p1};
  VtDrawRecord record{const_cast<void **>(ends), nullptr, nullptr, nullptr};
  return Slot<0x1a0022>(Active(State()))(VO_DRAW_RASTER_LINE, 2, &record);
}

VtStatus PointPlot(const VtRasterPoint *p) {
  (void)Slot<0x1a001c>(Active(State()))(p, p);
  return 0;
}

VtStatus StrokeBegin(uintptr_t word) {
  VtDriverRecord *a = Active(State());
  a->point_drawn = 1;
  return a->saved_stroke_begin(word);
}

VtStatus ProjectedLine(const float *p0, const float *p1) {
  VtRasterPoint r0{}, r1{};
  if (p0 == nullptr || p1 == nullptr) return kNotHandled;
  (void)ProjectedToRaster(p0, &r0);
  (void)ProjectedToRaster(p1, &r1);
  return Slot<0x1a001c>(Active(State()))(&r0, &r1);
}

VtStatus WorldLine(const float *p0, const float *p1) {
  float q0[4], q1[4];
  if (p0 == nullptr || p1 == nullptr) return kNotHandled;
  const VtStatus st = WorldToProjected(p0, q0) | WorldToProjected(p1, q1);
  if (st != 0) return st;
  return ProjectedLine(q0, q1);
}

VtStatus ProjectedPoint(const float *p) {
  VtRasterPoint r{};
  if (p == nullptr) return kNotHandled;
  (void)ProjectedToRaster(p, &r);
  return Slot<0x1a0011>(Active(State()))(&r);
}

VtStatus WorldPoint(const float *p) {
  float q[4];
  if (p == nullptr) return kNotHandled;
  const VtStatus st = WorldToProjected(p, q);
  return st != 0 ? st : ProjectedPoint(q);
}

VtStatus DrawingStyle(uint32_t flags) {
  const uint8_t grey = (flags & 6u) != 0 ? 0 : 128;
  const uint8_t b[3] = {grey, grey, grey};
  return Slot<0x1a000a>(Active(State()))(b);
}

VtStatus Reopen() {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  if (!Push(s, a)) return kUnavailable;
  const VtStatus st = Slot<0x1a0002>(a)() | Slot<0x1a0001>(a)();
  Pop(s);
  return st;
}

// A file driver's frame refused while a render this one runs inside holds
// it open leaves the recorded region as the outer frame set it: the outer
// render's float rows are converted at its width.
VtStatus BeginFrame(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  if (const VtStatus held = FrameHeldRefuse(s, a)) return held;
  BeginFrameRecord(a, x0, x1, y0, y1);
  const VtStatus st = a->own_begin_frame(x0, x1, y0, y1);
  if (st == 0) FrameHeld(s, a);
  return st;
}

// A file driver's end frame: its frame is no render's any more.
VtStatus EndFrame() {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  FrameLetGo(s, a);
  return a->own_end_frame();
}

VtStatus SubRegionBeginSlot(const VtSubRegion *region) { return SubRegionBegin(region); }
VtStatus SubRegionEndSlot() { return SubRegionEnd(); }
VtStatus BlockSlot(int32_t x, int32_t y, int32_t width, int32_t rows, const uint8_t *rgb) {
  return BlockWrite(x, y, width, rows, rgb);
}

// The framework's procedure for a code, or null where the null driver's
// procedure is the default.
VtProc FrameworkProcedure(uint32_t code) {
  auto p = [](auto f) { return reinterpret_cast<VtProc>(f); };
  switch (code) {
    case 0x1a000c: return p(&FloatColour);
    case 0x1a000d: return p(&FloatClearColour);
    case 0x1a0010: return p(&RowFloat<3, kUnavailable>);
    case 0x1a0032: return p(&RowFloat<4, kNotHandled>);
    case 0x1a001d: return p(&WorldLine);
    case 0x1a001e: return p(&ProjectedLine);
    case 0x1a0011: return p(&PointPlot);
    case 0x1a0012: return p(&WorldPoint);
    case 0x1a0013: return p(&ProjectedPoint);
    case 0x1a0005: return p(&Answer<VtDriverWordProc, 0>::Call);
    case 0x1a0006: return p(&Answer<VtDriverNoArgProc, 0>::Call);
    case 0x1a001f: return p(&DrawingStyle);
    case 0x1a0026: return p(&Reopen);
    case 0x1a0003: return p(&BeginFrame);
    case 0x1a0036: return p(&SubRegionBeginSlot);
    case 0x1a0037: return p(&SubRegionEndSlot);
    case 0x1a0038: return p(&BlockSlot);
    default: return nullptr;
  }
}

// Defaults of the four procedures a record keeps besides its slots.
VtStatus ControlDefault(uint32_t, const VtTypedValue *) { return kUnavailable; }
VtStatus ControlGetDefault(uint32_t, VtTypedValue *) { return kUnavailable; }
VtStatus LookupDefault(uint32_t set, uint32_t, VtProc *slot) {
  if (set == 0 && slot != nullptr) *slot = nullptr;
  return kNotHandled;
}

// The procedure answered to a query when it is one (type 22), else null.
VtProc QueryProcedure(VtQueryFunction query, uint32_t code) {
  VtTypedValue a{};
  (void)query(code, &a);
  return a.type == VtFunc ? a.value.fn : nullptr;
}

bool CodeHasWord(uint32_t code) {
  return code >= kFirstCode && code <= kLastCode && code != 0x1a0014 && code != VO_DRIVER_IMAGE_READ;
}

}  // namespace

void BeginFrameRecord(VtDriverRecord *r, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  r->region_recorded = 1;
  r->region[0] = x0;
  r->region[1] = x1;
  r->region[2] = y0;
  r->region[3] = y1;
}

bool IsNullProcedure(const DriverState *s, uint32_t code, VtProc p) {
  const int slot = SlotOf(code);
  return s->null_driver != nullptr && slot >= 0 && s->null_driver->operations[slot] == p;
}

VtProc DefaultProcedure(const DriverState *s, uint32_t code) {
  if (VtProc f = FrameworkProcedure(code)) return f;
  switch (code) {
    case VO_DRIVER_CONTROL_GET: return reinterpret_cast<VtProc>(&ControlGetDefault);
    case VO_DRIVER_CONTROL_SET: return reinterpret_cast<VtProc>(&ControlDefault);
    case VO_DRIVER_LOOKUP: return reinterpret_cast<VtProc>(&LookupDefault);
    case VO_DRIVER_QUERY: return reinterpret_cast<VtProc>(&EntryNullDriver);
    case VO_DRIVER_IMAGE_READ: return reinterpret_cast<VtProc>(&ImageReadByName);
    default: break;
  }
  const int slot = SlotOf(code);
  return s->null_driver != nullptr && slot >= 0 ? s->null_driver->operations[slot] : nullptr;
}

// Reads (*word null) or writes the procedure word a code addresses in a
// record; false for a code without one.
bool ProcedureAccess(VtDriverRecord *r, uint32_t code, VtProc *read, const VtProc *write) {
  auto rw = [&](auto &field) {
    using F = std::remove_reference_t<decltype(field)>;
    if (read != nullptr) *read = reinterpret_cast<VtProc>(field);
    if (write != nullptr) field = reinterpret_cast<F>(*write);
    return true;
  };
  switch (code) {
    case VO_DRIVER_CONTROL_GET: return rw(r->control_get);
    case VO_DRIVER_CONTROL_SET: return rw(r->control_set);
    case VO_DRIVER_LOOKUP: return rw(r->lookup);
    case VO_DRIVER_QUERY: return rw(r->query);
    default: break;
  }
  const int slot = SlotOf(code);
  if (slot < 0) return false;
  return rw(r->operations[slot]);
}

VtDriverRecord *RecordBuild(DriverState *s, VtQueryFunction query) {
  auto *r = static_cast<VtDriverRecord *>(VoAllocate(sizeof(VtDriverRecord)));
  if (r == nullptr) return nullptr;
  std::memset(static_cast<void *>(r), 0, sizeof *r);
  r->query = query;
  r->control_get = reinterpret_cast<VtControlGetProc>(QueryProcedure(query, VO_QUERY_CONTROL_GET));
  r->control_set = reinterpret_cast<VtControlSetProc>(QueryProcedure(query, VO_QUERY_CONTROL_SET));
  r->lookup = reinterpret_cast<VtDriverLookupProc>(QueryProcedure(query, VO_QUERY_CALLBACK));
  if (r->control_get == nullptr) r->control_get = &ControlGetDefault;
  if (r->control_set == nullptr) r->control_set = &ControlDefault;
  if (r->lookup == nullptr) r->lookup = &LookupDefault;

  VtTypedValue capability{}, file{};
  if (Push(s, r)) {
    if (r->control_get(VO_CONTROL_DRIVER_CAPABILITY, &capability) == 0) r->capability = capability.value.u;
    r->writes_file = r->control_get(VO_CONTROL_DRIVER_FILE, &file) == 0 && file.type == VtGenericPtr;
    Pop(s);
  }

  for (size_t i = 0; i < kSlots; ++i) {
    VtProc p = nullptr;
    (void)r->lookup(0, kSlotCodes[i], &p);
    r->operations[i] = p;
  }
  r->own_begin_frame = Slot<0x1a0003>(r);
  const bool line = Slot<0x1a001c>(r) != nullptr, shape = Slot<0x1a0022>(r) != nullptr;
  const bool plot = Slot<0x1a0011>(r) != nullptr;
  if (line && !shape) SlotSet<0x1a0022>(r, &PolylineDraw);
  if (shape && !line) SlotSet<0x1a001c>(r, &LineDraw);
  if (r->own_begin_frame == nullptr && s->null_driver != nullptr)
    r->own_begin_frame = s->null_driver->own_begin_frame;
  SlotSet<0x1a0003>(r, &BeginFrame);
  for (size_t i = 0; i < kSlots; ++i)
    if (r->operations[i] == nullptr) r->operations[i] = DefaultProcedure(s, kSlotCodes[i]);
  // Only a file driver's frames are held (frames.cpp); every other driver's
  // end frame stays its own procedure.
  r->own_end_frame = Slot<0x1a0004>(r);
  if (r->writes_file) SlotSet<0x1a0004>(r, &EndFrame);
  if (!plot) {
    SlotSet<0x1a0011>(r, &PointPlot);
    r->saved_stroke_begin = Slot<0x1a0005>(r);
    SlotSet<0x1a0005>(r, &StrokeBegin);
  }

  VtTypedValue name{};
  (void)query(VO_QUERY_REGISTRY_NAME, &name);
  r->name = name.type == VtString && name.value.s != nullptr ? name.value.s : "";
  r->next = s->head;
  s->head = r;
  ++s->count;
  return r;
}

VtStatus CallbackProcedure(uint32_t set, uint32_t code, VtProc *slot) {
  DriverState *s = State();
  if (s == nullptr) return kUnavailable;
  if (slot == nullptr) return Refuse(kBadArgument, "VoCallBackGet", "no procedure word");
  if (code == VO_DRIVER_IMAGE_READ) {
    if (set == 0) {
      *slot = reinterpret_cast<VtProc>(s->image_read);
      return 0;
    }
    VtStatus st = 0;
    s->image_read = reinterpret_cast<VtImageReadProc>(*slot);
    if (s->image_read == nullptr) {
      s->image_read = reinterpret_cast<VtImageReadProc>(DefaultProcedure(s, VO_DRIVER_IMAGE_READ));
      st = Refuse(kBadArgument, "VoCallBackSet", "a null procedure: the default is kept");
    }
    CallbacksAnnounce();
    return st;
  }
  if (code == 0x1a0014 || code < kFirstCode || code > kLastCode)
    return Refuse(kBadArgument, "VoCallBackGet", "a driver callback code without a procedure");
  VtDriverRecord *r = s->current_pointer;
  if (set == 0) {
    (void)ProcedureAccess(r, code, slot, nullptr);
    return 0;
  }
  VtStatus st = 0;
  VtProc p = *slot;
  if (p == nullptr) {
    p = DefaultProcedure(s, code);
    st = Refuse(kBadArgument, "VoCallBackSet", "a null procedure: the default is put in the slot");
  }
  (void)ProcedureAccess(r, code, nullptr, &p);
  if (code == VO_DRIVER_BEGIN_FRAME && p != FrameworkProcedure(code)) r->region_recorded = 0;
  CallbacksAnnounce();
  return st;
}

}  // namespace vo::driver

namespace vo {

using namespace driver;

VtStatus VoDriverAccessOperation(VtDriverRecord *driver, uint32_t set, uint32_t code, VtProc *slot) {
  DriverState *s = State();
  if (s == nullptr) return kUnavailable;
  if (driver == nullptr || !DriverIsLive(s, driver))
    return Refuse(kBadArgument, "VoDriverAccessOperation", "not a driver of the framework");
  if (!CodeHasWord(code) || slot == nullptr)
    return Refuse(kBadArgument, "VoDriverAccessOperation",
                  "a code without a procedure, or no procedure word");
  if (set == 0) {
    (void)ProcedureAccess(driver, code, slot, nullptr);
    return 0;
  }
  VtProc p = *slot;
  VtStatus st = 0;
  if (p == nullptr) {
    p = DefaultProcedure(s, code);
    st = Refuse(kBadArgument, "VoDriverAccessOperation", "a null procedure: the default is put in the slot");
  }
  (void)ProcedureAccess(driver, code, nullptr, &p);
  if (code == VO_DRIVER_BEGIN_FRAME && p != FrameworkProcedure(code)) driver->region_recorded = 0;
  if (st != 0) return st;
  if (driver == s->current && driver != s->current_pointer) return CallbackProcedure(1, code, &p);
  CallbacksAnnounce();
  return 0;
}

VtStatus VoDriverSetOperation(VtDriverRecord *driver, uint32_t code, VtProc procedure) {
  DriverState *s = State();
  if (s == nullptr) return kUnavailable;
  if (driver == nullptr) driver = s->current != nullptr ? s->current : s->current_pointer;
  return VoDriverAccessOperation(driver, 1, code, &procedure);
}

VtProc VoDriverOperationGet(VtDriverRecord *driver, uint32_t code) {
  DriverState *s = State();
  if (s == nullptr) return nullptr;
  if (driver == nullptr) driver = s->current != nullptr ? s->current : s->current_pointer;
  VtProc p = nullptr;
  if (VoDriverAccessOperation(driver, 0, code, &p) != 0) return nullptr;
  if (p != nullptr && driver->open == 0)
    Post(VO_CLASS_WARNING, messages::kDriverNotOpen, VO_MODULE_DRIVER, driver->name);
  return p;
}

}  // namespace vo
