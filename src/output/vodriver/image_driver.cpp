// vodrvimg, the image driver: renders into an image in memory. Renderers
// draw through it once an application makes it current and names an image;
// file readers fill images through it (image_writer.h).
//
// Invariants a reader must know:
// - its state is a stack of records in the framework's state, the newest on
//   top; an open pushes one, a close pops one, and every operation works on
//   the top record (2 while the stack is empty); a worker's copy of the
//   state starts with an empty stack;
// - every operation that writes pixels first checks the target (a live
//   image with pixel data, a depth that fits its mode, rows wide enough and
//   a valid region inside the image) and never writes outside the valid
//   region;
// - an image destroyed while a record names it is cleared from every record
//   (the image list's destroy hook), so no record holds a freed image;
// - a row's first pixel belongs to the begun frame's first column, also
//   when that column lies left of the image and is clipped away.

#include <cmath>
#include <cstring>

#include "output/vodriver/driver.h"
#include "output/vodriver/image_shapes.h"
#include "output/vodriver/image_writer.h"
#include "output/vodriver/images.h"
#include "kernel/vosystem/face.h"

namespace vo::driver {

namespace {

constexpr uint32_t kPaletteUpdate = 0x1a0026;  // the palette-update flag control

struct ImageRecord {
  VtImage *image;
  int32_t ox, oy;         // frame origin
  int32_t saved_clip[4];  // the driver record's words while a newer record is on top
  ColourConversion *saved_conversion;
  uint8_t colour[3];
  uint32_t colour_device;
  uint8_t clear[3];
  uint32_t clear_device;
  int32_t width, height;
  uint32_t set_at_origin;
  int32_t begun_x0;  // image column of a row's first pixel
  VtImage *mapped;   // the colour-mapped image
  uint32_t mapped_owned;
  ImageRecord *below;
};

ImageRecord *Top(const DriverState *s) {
  return static_cast<ImageRecord *>(s->image_driver_state.stack_head);
}

uint32_t Packed(const uint8_t *rgb) { return uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2]; }

bool Converting(const DriverState *s) { return Active(s)->conversion != nullptr; }

// A live image with pixel data whose depth fits its mode and whose valid
// region lies inside it.
bool Usable(const VtImage *im) {
  if (im == nullptr || !ImageIsLive(im) || im->data == nullptr || im->width < 1 || im->height < 1)
    return false;
  if (im->bits != 8 && im->bits != 24) return false;
  if ((im->mode == VO_IMAGE_MODE_RGB && im->bits != 24) ||
      (im->mode == VO_IMAGE_MODE_INDEXED && im->bits != 8) || im->mode < 0 || im->mode > 2)
    return false;
  if (static_cast<int64_t>(im->bytes_per_row) < static_cast<int64_t>(im->width) * (im->bits / 8))
    return false;
  return im->x0 >= 0 && im->y0 >= 0 && im->x0 <= im->x1 && im->y0 <= im->y1 && im->x1 < im->width &&
         im->y1 < im->height;
}

// The target of a pixel operation, or null (the operation answers 2).
VtImage *Target(const DriverState *s) {
  const ImageRecord *r = Top(s);
  return r != nullptr && Usable(r->image) ? r->image : nullptr;
}

// The bytes a pixel of the image gets for a colour: a converted colour's
// device value where the image holds device values or one byte, else the
// colour's bytes (8-bit images: the red byte).
Pen PenOf(const VtImage *im, const uint8_t *rgb, uint32_t device, bool converted) {
  Pen pen{};
  if (converted && (im->bits == 8 || im->mode == VO_IMAGE_MODE_DEVICE)) {
    const uint8_t b[3] = {static_cast<uint8_t>(device >> 16), static_cast<uint8_t>(device >> 8),
                          static_cast<uint8_t>(device)};
    std::memcpy(pen.b, b, 3);
    if (im->bits == 8) pen.b[0] = b[2];
  } else {
    std::memcpy(pen.b, rgb, 3);
  }
  return pen;
}

Canvas CanvasOf(VtImage *im) {
  return Canvas{im->data, im->bytes_per_row, im->bits / 8, im->x0, im->x1, im->y0, im->y1};
}

// The device value of a colour: through the conversion when one is on,
// else its packed bytes.
uint32_t Device(const DriverState *s, const uint8_t *rgb) {
  return Converting(s) ? ConversionColour(rgb) : Packed(rgb);
}

// A mode-1 image takes the display driver's conversion, rebuilt for the
// frame's width; other images take none.
VtStatus FrameConversion(DriverState *s, const VtImage *im, uint32_t width) {
  VtStatus st = Converting(s) ? ConversionRemove() : 0;
  if (im->mode != VO_IMAGE_MODE_DEVICE || s->display_driver == nullptr || !s->conversion.valid) return st;
  st |= ConversionInstall(s->conversion.display_mode, s->display_driver);
  return st != 0 ? st : ConversionFrameStart(width);
}

// ---------------------------------------------------------------------------
// Open, close and frames
// ---------------------------------------------------------------------------

VtStatus Open() {
  DriverState *s = State();
  auto *r = static_cast<ImageRecord *>(VoAllocate(sizeof(ImageRecord)));
  if (r == nullptr) return kNoMemory;
  std::memset(static_cast<void *>(r), 0, sizeof *r);
  r->clear[0] = r->clear[1] = r->clear[2] = 255;
  r->clear_device = 0xffffff;
  ImageRecord *below = Top(s);
  VtDriverRecord *a = Active(s);
  if (below != nullptr) {
    std::memcpy(below->saved_clip, a->clip, sizeof a->clip);
    below->saved_conversion = ConversionSuspend();  // a nested frame has none of the outer one's
  } else if (Usable(s->image_driver_state.image)) {
    r->image = s->image_driver_state.image;
    r->width = r->image->width;
    r->height = r->image->height;
  }
  r->below = below;
  s->image_driver_state.stack_head = r;
  return 0;
}

void RecordFree(ImageRecord *r) {
  ConversionFree(r->saved_conversion);
  VtImage *owned = r->mapped_owned ? r->mapped : nullptr;
  VoDeallocate(r);
  if (owned != nullptr) (void)VoImageDestroy(owned);
}

VtStatus Close() {
  DriverState *s = State();
  ImageRecord *r = Top(s);
  if (r == nullptr) return kUnavailable;
  s->image_driver_state.stack_head = r->below;
  VtDriverRecord *a = Active(s);
  VtStatus st = a->conversion != nullptr ? ConversionRemove() : 0;
  if (ImageRecord *below = r->below) {
    std::memcpy(a->clip, below->saved_clip, sizeof a->clip);
    ConversionResume(below->saved_conversion);
    below->saved_conversion = nullptr;
  }
  RecordFree(r);
  return st;
}

VtStatus Clear() {
  DriverState *s = State();
  VtImage *im = Target(s);
  if (im == nullptr) return kUnavailable;
  if (s->image_driver_state.colour_map_begun) return kNotHandled;
  const ImageRecord *r = Top(s);
  const Pen pen = PenOf(im, r->clear, r->clear_device, Converting(s));
  const Canvas c = CanvasOf(im);
  for (int32_t y = c.y0; y <= c.y1; ++y) SpanFill(c, c.x0, c.x1, y, pen);
  return 0;
}

// A frame wholly outside the image answers 18 (589), an inverted one 18;
// a frame partly outside is clipped to the image (590), and rows still
// start at its first column.
VtStatus BeginFrame(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  DriverState *s = State();
  ImageRecord *r = Top(s);
  if (r == nullptr) return kUnavailable;
  r->set_at_origin = s->set_at_origin;
  VtImage *im = r->image;
  if (im == nullptr) {
    Post(VO_STATUS_ERROR_BAD_ARGUMENT, messages::kImageDriverNoImage, VO_MODULE_DRIVER);
    return kUnknown;
  }
  const int64_t ox = r->set_at_origin ? x0 : 0, oy = r->set_at_origin ? y0 : 0;
  const int64_t fx0 = x0 - ox, fx1 = x1 - ox, fy0 = y0 - oy, fy1 = y1 - oy;
  if (fx0 > fx1 || fy0 > fy1) {
    Post(VO_STATUS_ERROR_BAD_ARGUMENT, messages::kImageFrameInverted, VO_MODULE_DRIVER, x0, x1, y0, y1);
    return kUnknown;
  }
  if (fx0 >= im->width || fy0 >= im->height || fx1 < 0 || fy1 < 0) {
    Post(VO_STATUS_ERROR_BAD_ARGUMENT, messages::kImageFrameOutside, VO_MODULE_DRIVER, x0, x1, y0, y1);
    return kUnknown;
  }
  const int64_t cx0 = fx0 < 0 ? 0 : fx0, cy0 = fy0 < 0 ? 0 : fy0;
  const int64_t cx1 = fx1 >= im->width ? im->width - 1 : fx1, cy1 = fy1 >= im->height ? im->height - 1 : fy1;
  if (cx0 != fx0 || cx1 != fx1 || cy0 != fy0 || cy1 != fy1)
    Post(VO_CLASS_WARNING, messages::kImageFrameClipped, VO_MODULE_DRIVER);
  im->x0 = static_cast<int32_t>(cx0);
  im->x1 = static_cast<int32_t>(cx1);
  im->y0 = static_cast<int32_t>(cy0);
  im->y1 = static_cast<int32_t>(cy1);
  r->begun_x0 = static_cast<int32_t>(fx0);
  r->ox = static_cast<int32_t>(ox);
  r->oy = static_cast<int32_t>(oy);
  if (!Usable(im)) return kUnavailable;
  const VtStatus st = FrameConversion(s, im, static_cast<uint32_t>(cx1 - fx0 + 1));
  if (st != 0) return st;
  r->colour_device = Device(s, r->colour);
  r->clear_device = Device(s, r->clear);
  return s->clear ? Clear() : 0;
}

VtStatus EndFrame() { return Top(State()) != nullptr ? 0 : kUnavailable; }

// ---------------------------------------------------------------------------
// Colours, rows, points and lines
// ---------------------------------------------------------------------------

// The drawing colour (clear false) or the clear colour, with its device value.
template <bool ClearColour>
VtStatus ColourSet(const uint8_t *rgb) {
  DriverState *s = State();
  ImageRecord *r = Top(s);
  if (r == nullptr) return kUnavailable;
  if (rgb == nullptr) return kUnknown;
  std::memcpy(ClearColour ? r->clear : r->colour, rgb, 3);
  (ClearColour ? r->clear_device : r->colour_device) = Device(s, rgb);
  return 0;
}

// The image row and first pixel of a row; false for a row outside the image.
bool RowPlace(const ImageRecord *r, const VtImage *im, uint32_t y, int32_t *row, size_t *skip) {
  const int64_t iy = static_cast<int64_t>(y) - r->oy;
  if (iy < 0 || iy >= im->height) return false;
  *row = static_cast<int32_t>(iy);
  *skip = im->x0 > r->begun_x0 ? static_cast<size_t>(static_cast<int64_t>(im->x0) - r->begun_x0) : 0;
  return true;
}

VtStatus RowBytes(uint32_t y, void *pixels) {
  DriverState *s = State();
  VtImage *im = Target(s);
  if (im == nullptr) return kUnavailable;
  if (pixels == nullptr) return kUnknown;
  int32_t row = 0;
  size_t skip = 0;
  if (!RowPlace(Top(s), im, y, &row, &skip)) return 0;
  const auto *in = static_cast<const uint8_t *>(pixels) + skip * 3;
  const size_t n = static_cast<size_t>(im->x1 - im->x0 + 1);
  uint8_t *out = PixelAt(CanvasOf(im), im->x0, row);
  if (im->bits == 24) {
    std::memcpy(out, in, n * 3);
  } else {
    for (size_t i = 0; i < n; ++i) out[i] = in[i * 3];
  }
  return 0;
}

VtStatus RowDevice(uint32_t y, void *pixels) {
  DriverState *s = State();
  VtImage *im = Target(s);
  if (im == nullptr) return kUnavailable;
  if (!Converting(s)) return kNotHandled;
  if (pixels == nullptr) return kUnknown;
  int32_t row = 0;
  size_t skip = 0;
  if (!RowPlace(Top(s), im, y, &row, &skip)) return 0;
  const auto *in = static_cast<const uint32_t *>(pixels) + skip;
  const size_t n = static_cast<size_t>(im->x1 - im->x0 + 1);
  uint8_t *out = PixelAt(CanvasOf(im), im->x0, row);
  if (im->bits == 8) {
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(in[i]);
  } else {
    for (size_t i = 0; i < n; ++i, out += 3) {
      out[0] = static_cast<uint8_t>(in[i] >> 16);
      out[1] = static_cast<uint8_t>(in[i] >> 8);
      out[2] = static_cast<uint8_t>(in[i]);
    }
  }
  return 0;
}

Pen DrawingPen(const DriverState *s, const VtImage *im, bool converted) {
  const ImageRecord *r = Top(s);
  return PenOf(im, r->colour, converted ? Device(s, r->colour) : r->colour_device, converted);
}

VtStatus Point(const VtRasterPoint *p) {
  DriverState *s = State();
  VtImage *im = Target(s);
  if (im == nullptr) return kUnavailable;
  if (p == nullptr) return kUnknown;
  const ImageRecord *r = Top(s);
  const int64_t x = static_cast<int64_t>(p->x) - r->ox, y = static_cast<int64_t>(p->y) - r->oy;
  const Canvas c = CanvasOf(im);
  if (x < c.x0 || x > c.x1 || y < c.y0 || y > c.y1) return 0;
  PixelPut(c, static_cast<int32_t>(x), static_cast<int32_t>(y), DrawingPen(s, im, Converting(s)));
  return 0;
}

VtStatus Line(const VtRasterPoint *p0, const VtRasterPoint *p1) {
  DriverState *s = State();
  VtImage *im = Target(s);
  if (im == nullptr) return kUnavailable;
  if (p0 == nullptr || p1 == nullptr) return kUnknown;
  const ImageRecord *r = Top(s);
  const Canvas c = CanvasOf(im);
  int64_t e[4] = {static_cast<int64_t>(p0->x) - r->ox, static_cast<int64_t>(p0->y) - r->oy,
                  static_cast<int64_t>(p1->x) - r->ox, static_cast<int64_t>(p1->y) - r->oy};
  const ClipWindow w{c.x0, c.x1, c.y0, c.y1};
  if (!LineClip(w, e)) return 0;
  LineDraw(c, e, DrawingPen(s, im, Converting(s)));
  return 0;
}

// ---------------------------------------------------------------------------
// Shapes
// ---------------------------------------------------------------------------

VtStatus ShapeRefused(uint32_t type, const char *why, VtStatus status) {
  Post(VO_CLASS_WARNING, messages::kImageShapeRefused, VO_MODULE_DRIVER, type, why);
  return status;
}

// The i-th point of a drawing record as a raster point (projection points
// mapped to pixels); false when it is missing.
bool RasterPointOf(uint32_t type, const VtDrawRecord *record, uint32_t i, VtRasterPoint *out) {
  const bool projected = (type & VO_DRAW_POINTS_PROJECTED) != 0;
  void *list = projected ? record->projected : record->raster;
  if (list == nullptr) return false;
  const void *p = static_cast<void *const *>(list)[i];
  if (p == nullptr) return false;
  if (projected) {
    (void)ProjectedToRaster(static_cast<const float *>(p), out);  // a point outside the view is clipped later
    return true;
  }
  *out = *static_cast<const VtRasterPoint *>(p);
  return true;
}

VtStatus Polyline(uint32_t type, uint32_t count, const VtDrawRecord *record) {
  if (count < 2) return ShapeRefused(type, "a polyline of fewer than two points", kUnknown);
  VtRasterPoint a{}, b{};
  if (!RasterPointOf(type, record, 0, &a)) return ShapeRefused(type, "a missing point", kUnknown);
  VtStatus st = 0;
  for (uint32_t i = 1; i < count; ++i, a = b) {
    if (!RasterPointOf(type, record, i, &b)) return st | ShapeRefused(type, "a missing point", kUnknown);
    st |= Line(&a, &b);
  }
  return st;
}

VtStatus PolygonFill(uint32_t type, uint32_t count, const VtDrawRecord *record, const Canvas &c,
                     const Pen &pen) {
  DriverState *s = State();
  if (count < 3) return ShapeRefused(type, "a polygon of fewer than three points", kUnavailable);
  if (count > UINT32_MAX / sizeof(VtRasterPoint)) return ShapeRefused(type, "too many points", kUnknown);
  if (s->point_capacity < count) {
    auto *grown =
        static_cast<VtRasterPoint *>(VoAllocate(static_cast<uint32_t>(count * sizeof(VtRasterPoint))));
    if (grown == nullptr) return VO_STATUS_NO_MEMORY;
    VoDeallocate(s->points);
    s->points = grown;
    s->point_capacity = count;
  }
  for (uint32_t i = 0; i < count; ++i)
    if (!RasterPointOf(type, record, i, &s->points[i]))
      return ShapeRefused(type, "a missing point", kUnknown);
  switch (ConvexFill(c, s->points, count, pen)) {
    case FillResult::kMixedTurns: return ShapeRefused(type, "corners turning both ways", kUnavailable);
    case FillResult::kOneRow: return ShapeRefused(type, "every point on one row", kUnavailable);
    default: return 0;
  }
}

// A circle or arc of the hidden-line layout: pointer 0 of the projection
// points is the shape's block, centre, rim (or start and end) points and
// radius in projection coordinates. The centre and the rim or start point
// are mapped to pixels, whose distance is the radius; the arc's angles are
// those of its start and end points about the centre in raster coordinates.
VtStatus HiddenLineCurve(uint32_t shape, uint32_t type, const VtDrawRecord *record, const Canvas &c,
                         const Pen &pen) {
  auto *const *p = static_cast<void *const *>(record->projected);
  if (p == nullptr || p[0] == nullptr) return ShapeRefused(type, "a missing shape block", kUnknown);
  const auto *block = static_cast<const float *>(p[0]);
  VtRasterPoint centre{}, rim{}, end{};
  (void)ProjectedToRaster(block, &centre);
  (void)ProjectedToRaster(block + 4, &rim);
  const double dx = static_cast<double>(rim.x) - centre.x, dy = static_cast<double>(rim.y) - centre.y;
  const double r = std::hypot(dx, dy);
  if (!(r <= kRadiusMax)) return ShapeRefused(type, "a radius above 65535", kUnknown);
  const auto radius = static_cast<int32_t>(std::lround(r));
  if (shape == VO_DRAW_SHAPE_CIRCLE) {
    CircleDraw(c, centre, radius, false, pen);
    return 0;
  }
  (void)ProjectedToRaster(block + 8, &end);
  constexpr double kDegrees = 180.0 / 3.14159265358979323846;
  const double from = std::atan2(dy, dx) * kDegrees;
  const double to =
      std::atan2(static_cast<double>(end.y) - centre.y, static_cast<double>(end.x) - centre.x) * kDegrees;
  ArcDraw(c, centre, radius, radius, static_cast<float>(from), static_cast<float>(to), pen);
  return 0;
}

// Circles, ellipses and arcs: pointer 0 the centre, pointer 1 the radii
// (rx, ry), an arc's pointer 2 two floats (start and end degrees).
VtStatus Curve(uint32_t shape, uint32_t type, uint32_t count, const VtDrawRecord *record, const Canvas &c,
               const Pen &pen) {
  if ((type & VO_DRAW_POINTS_PROJECTED) != 0 && (shape == VO_DRAW_SHAPE_CIRCLE || shape == VO_DRAW_SHAPE_ARC))
    return HiddenLineCurve(shape, type, record, c, pen);
  if ((type & VO_DRAW_POINTS_RASTER) == 0 || record->raster == nullptr)
    return ShapeRefused(type, "curves take raster points or hidden-line blocks", kNotHandled);
  const uint32_t needed = shape == VO_DRAW_SHAPE_ARC ? 3 : 2;
  auto *const *p = static_cast<void *const *>(record->raster);
  if (count < needed || p[0] == nullptr || p[1] == nullptr || (needed == 3 && p[2] == nullptr))
    return ShapeRefused(type, "a missing centre, radius or angle", kUnknown);
  const auto centre = *static_cast<const VtRasterPoint *>(p[0]);
  const auto radii = *static_cast<const VtRasterPoint *>(p[1]);
  const bool circle = shape == VO_DRAW_SHAPE_CIRCLE || shape == VO_DRAW_SHAPE_DISC;
  const int32_t rx = radii.x, ry = circle ? radii.x : radii.y;
  if (rx < 0 || ry < 0 || rx > kRadiusMax || ry > kRadiusMax)
    return ShapeRefused(type, "a radius below 0 or above 65535", kUnknown);
  switch (shape) {
    case VO_DRAW_SHAPE_CIRCLE: CircleDraw(c, centre, rx, false, pen); break;
    case VO_DRAW_SHAPE_DISC: CircleDraw(c, centre, rx, true, pen); break;
    case VO_DRAW_SHAPE_ELLIPSE: EllipseDraw(c, centre, rx, ry, false, pen); break;
    case VO_DRAW_SHAPE_FILLED_ELLIPSE: EllipseDraw(c, centre, rx, ry, true, pen); break;
    default: {
      const auto *angles = static_cast<const float *>(p[2]);
      ArcDraw(c, centre, rx, ry, angles[0], angles[1], pen);
    }
  }
  return 0;
}

VtStatus Draw(uint32_t type, uint32_t count, VtDrawRecord *record) {
  DriverState *s = State();
  VtImage *im = Target(s);
  if (im == nullptr) return kUnavailable;
  const uint32_t shape = type & VO_DRAW_SHAPE_ALL;
  if ((type & VO_DRAW_POINTS_3D) != 0) return kNotHandled;
  if (record == nullptr) return ShapeRefused(type, "no drawing record", kUnknown);
  const Canvas c = CanvasOf(im);
  const Pen pen = PenOf(im, Top(s)->colour, 0, false);
  switch (shape) {
    case VO_DRAW_SHAPE_LINE: return Polyline(type, count, record);
    case VO_DRAW_SHAPE_POLYGON:
    case VO_DRAW_SHAPE_CONVEX: return PolygonFill(type, count, record, c, pen);
    case VO_DRAW_SHAPE_CIRCLE:
    case VO_DRAW_SHAPE_DISC:
    case VO_DRAW_SHAPE_ELLIPSE:
    case VO_DRAW_SHAPE_FILLED_ELLIPSE:
    case VO_DRAW_SHAPE_ARC: return Curve(shape, type, count, record, c, pen);
    default: return kNotHandled;
  }
}

// ---------------------------------------------------------------------------
// Colour map
// ---------------------------------------------------------------------------

VtStatus MapBegin(uintptr_t) {
  ImageDriverState &m = State()->image_driver_state;
  m.colour_map_begun = 1;
  m.palette_update = 0;
  return 0;
}

VtStatus MapEnd(uintptr_t) {
  DriverState *s = State();
  if (ImageRecord *r = Top(s)) {
    VtImage *owned = r->mapped_owned ? r->mapped : nullptr;
    r->mapped = nullptr;
    r->mapped_owned = 0;
    if (owned != nullptr) (void)VoImageDestroy(owned);
  }
  s->image_driver_state.colour_map_begun = 0;
  return 0;
}

// The entries live in the framework's state: a second request hands out
// the same array again, refilled.
VtStatus MapEntries(uint32_t **entries, uint32_t count) {
  ImageDriverState &m = State()->image_driver_state;
  if (entries == nullptr) return kUnknown;
  *entries = nullptr;
  if (count > 256) return kUnknown;
  if (!m.colour_map_begun) return kRefused;
  for (uint32_t i = 0; i < count; ++i) m.colour_map[i] = i;
  *entries = m.colour_map;
  return 0;
}

// The 8-bit image colour-mapped output goes to; made once per record.
VtStatus MapImage(VtImage **image) {
  DriverState *s = State();
  if (image == nullptr) return kUnknown;
  *image = nullptr;
  ImageRecord *r = Top(s);
  if (r == nullptr) return kUnavailable;
  if (!s->image_driver_state.colour_map_begun) return 0;
  if (r->image != nullptr && r->image->mode == VO_IMAGE_MODE_INDEXED) {
    *image = r->image;
    return 0;
  }
  if (r->mapped == nullptr) {
    VtImage *made = VoImageCreateIndexed();
    if (made == nullptr) return kUnavailable;
    made->width = r->width;
    made->height = r->height;
    if (VoImageAllocateData(made) != 0) {
      (void)VoImageDestroy(made);
      return kUnavailable;
    }
    r->mapped = made;
    r->mapped_owned = 1;
  }
  *image = r->mapped;
  return 0;
}

VtStatus MapBegun(uintptr_t) { return State()->image_driver_state.colour_map_begun ? 0 : kNotInList; }

VtStatus PaletteUpdate() { return State()->image_driver_state.palette_update ? 0 : kNotHandled; }

struct ImageTable {
  template <uint32_t Code>
  static VtProc Get() {
    auto p = [](auto f) { return reinterpret_cast<VtProc>(f); };
    if constexpr (Code == 0x1a0001)
      return p(&Open);
    else if constexpr (Code == 0x1a0002)
      return p(&Close);
    else if constexpr (Code == 0x1a0003)
      return p(&BeginFrame);
    else if constexpr (Code == 0x1a0004)
      return p(&EndFrame);
    else if constexpr (Code == 0x1a0020)
      return p(&Answer<VtDriverKindProc, 0>::Call);
    else if constexpr (Code == 0x1a0007)
      return p(&Clear);
    else if constexpr (Code == 0x1a000a)
      return p(&ColourSet<false>);
    else if constexpr (Code == 0x1a000b)
      return p(&ColourSet<true>);
    else if constexpr (Code == 0x1a000e)
      return p(&RowDevice);
    else if constexpr (Code == 0x1a000f)
      return p(&RowBytes);
    else if constexpr (Code == 0x1a0011)
      return p(&Point);
    else if constexpr (Code == 0x1a001c)
      return p(&Line);
    else if constexpr (Code == 0x1a0022)
      return p(&Draw);
    else if constexpr (Code == 0x1a002b)
      return p(&MapBegin);
    else if constexpr (Code == 0x1a002c)
      return p(&MapEnd);
    else if constexpr (Code == 0x1a002d)
      return p(&MapEntries);
    else if constexpr (Code == 0x1a002e)
      return p(&MapImage);
    else if constexpr (Code == 0x1a0031)
      return p(&MapBegun);
    else if constexpr (Code == 0x1a0023)
      return p(&PaletteUpdate);
    else
      return nullptr;
  }
};

VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set == 0 && slot != nullptr) *slot = ProcedureByCode<ImageTable>(code);
  return 0;
}

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------

bool IsHeld(uint32_t code) {
  return code == VO_CONTROL_DRIVER_GAMMA || code == VO_CONTROL_DRIVER_CONVERSION ||
         (code >= VO_CONTROL_DRIVER_RGB_BASE && code <= VO_CONTROL_DRIVER_DITHER_AMP) ||
         code == VO_CONTROL_DRIVER_PALETTE_CELLS || code == VO_CONTROL_DRIVER_CAPABILITY ||
         (code >= VO_CONTROL_DRIVER_RGB_R_MASK && code <= VO_CONTROL_DRIVER_RGB_B_MASK);
}

VtStatus SizeSet(ImageRecord *r, int32_t *field, int32_t image_size, const VtTypedValue *value) {
  if (r->image == nullptr) {
    *field = value->value.i;
    return 0;
  }
  return value->value.i == image_size ? 0 : kUnknown;
}

VtStatus ImageControlSet(uint32_t code, const VtTypedValue *value) {
  DriverState *s = State();
  if (value == nullptr) return kUnknown;
  if (IsHeld(code)) return kNotHandled;
  ImageRecord *r = Top(s);
  switch (code) {
    case VO_CONTROL_DRIVER_IMAGE: {
      auto *image = static_cast<VtImage *>(value->value.p);
      if (image != nullptr && !ImageIsLive(image)) return kUnknown;
      if (r == nullptr) {
        s->image_driver_state.image = image;
        return 0;
      }
      r->image = image;
      r->width = image != nullptr ? image->width : 0;
      r->height = image != nullptr ? image->height : 0;
      r->begun_x0 = image != nullptr ? image->x0 : 0;
      return 0;
    }
    case VO_CONTROL_DRIVER_WIDTH:
      return r == nullptr ? kUnavailable : SizeSet(r, &r->width, r->image ? r->image->width : 0, value);
    case VO_CONTROL_DRIVER_HEIGHT:
      return r == nullptr ? kUnavailable : SizeSet(r, &r->height, r->image ? r->image->height : 0, value);
    case kPaletteUpdate:
      if (!s->image_driver_state.colour_map_begun) return kNotHandled;
      s->image_driver_state.palette_update = value->value.u != 0;
      return 0;
    default: return kUnknown;
  }
}

VtStatus HeldGet(const DriverState *s, uint32_t code, VtTypedValue *value) {
  const ConversionSettings &h = s->conversion;
  const bool held = h.valid != 0;
  switch (code) {
    case VO_CONTROL_DRIVER_GAMMA: *value = TypedFloat(held ? h.gamma : 1.0f); return 0;
    case VO_CONTROL_DRIVER_CONVERSION:
      *value = TypedWord(VtEnum, held ? static_cast<uint32_t>(h.conversion) : 6);
      return 0;
    case VO_CONTROL_DRIVER_RGB_BASE: *value = TypedInt32(held ? h.base : 0); return 0;
    case VO_CONTROL_DRIVER_RGB_SIZE: *value = TypedInt32(held ? h.size : 256); return 0;
    case VO_CONTROL_DRIVER_RGB_R_MULT:
      *value = TypedNat32(held ? static_cast<uint32_t>(h.multiplier[0]) : 65536);
      return 0;
    case VO_CONTROL_DRIVER_RGB_G_MULT:
      *value = TypedNat32(held ? static_cast<uint32_t>(h.multiplier[1]) : 256);
      return 0;
    case VO_CONTROL_DRIVER_RGB_B_MULT:
      *value = TypedNat32(held ? static_cast<uint32_t>(h.multiplier[2]) : 1);
      return 0;
    case VO_CONTROL_DRIVER_DITHER_AMP: *value = TypedFloat(held ? h.dither_amplitude : 0.0f); return 0;
    case VO_CONTROL_DRIVER_PALETTE_CELLS:
      *value = TypedNat32(s->image_driver_state.colour_map_begun ? 256 : 0);
      return 0;
    case VO_CONTROL_DRIVER_CAPABILITY: *value = TypedWord(VtFlags, VO_DRIVER_CAPABILITY_IMAGE); return 0;
    default:
      if (!held) return kNotHandled;
      *value = TypedNat32(h.mask[code - VO_CONTROL_DRIVER_RGB_R_MASK]);
      return 0;
  }
}

VtStatus ImageControlGet(uint32_t code, VtTypedValue *value) {
  DriverState *s = State();
  if (value == nullptr) return kUnknown;
  if (IsHeld(code)) return HeldGet(s, code, value);
  const ImageRecord *r = Top(s);
  switch (code) {
    case VO_CONTROL_DRIVER_NAME: *value = TypedString("vodrvimg"); return 0;
    case VO_CONTROL_DRIVER_BUFFER: *value = TypedPointer(nullptr); return 0;
    case VO_CONTROL_DRIVER_WIDTH:
      *value = TypedNat32(r != nullptr ? static_cast<uint32_t>(r->width) : 0);
      return 0;
    case VO_CONTROL_DRIVER_HEIGHT:
      *value = TypedNat32(r != nullptr ? static_cast<uint32_t>(r->height) : 0);
      return 0;
    case VO_CONTROL_DRIVER_IMAGE:
      *value = TypedPointer(r != nullptr ? r->image : s->image_driver_state.image);
      return 0;
    case kPaletteUpdate:
      *value = TypedBoolean(s->image_driver_state.colour_map_begun && s->image_driver_state.palette_update);
      return 0;
    default: return kUnknown;
  }
}

// Clears a destroyed image from every record of one state's stack.
void ImageForget(DriverState *s, const VtImage *image) {
  if (s == nullptr) return;
  if (s->image_driver_state.image == image) s->image_driver_state.image = nullptr;
  for (ImageRecord *r = Top(s); r != nullptr; r = r->below) {
    if (r->image == image) r->image = nullptr;
    if (r->mapped == image) {
      r->mapped = nullptr;
      r->mapped_owned = 0;
    }
  }
}

void ImageGone(VtImage *image) {
  ImageForget(State(), image);
  if (Master() != State()) ImageForget(Master(), image);
}

}  // namespace

void ImageDriverStart() { ImageDestroyHookSet(&ImageGone); }

void ImageDriverStackFree(DriverState *s) {
  while (ImageRecord *r = Top(s)) {
    s->image_driver_state.stack_head = r->below;
    RecordFree(r);
  }
}

VtStatus EntryImageDriver(uint32_t query, VtTypedValue *answer) {
  static constexpr BuiltInDriver kDriver = {"vodrvimg", &ImageControlSet, &ImageControlGet, &Lookup};
  return BuiltInAnswer(kDriver, query, answer);
}

// ---------------------------------------------------------------------------
// The file readers' way in
// ---------------------------------------------------------------------------

VtStatus ImageWriterBegin(ImageWriter *w, VtImage *image, bool clear) {
  DriverState *s = State();
  *w = ImageWriter{};
  if (s == nullptr || s->image_driver == nullptr) return kUnavailable;
  if (!Usable(image)) return Refuse(kUnknown, "ImageWriterBegin", "not a live image with usable pixel data");
  VtStatus st = VoDriverOpen(s->image_driver);
  if (st != 0) return st;
  w->driver = s->image_driver;
  w->clear_before = s->clear;
  VtTypedValue v = TypedPointer(image);
  st = VoDriverSetControl(w->driver, VO_CONTROL_DRIVER_IMAGE, &v);
  s->clear = clear ? 1 : 0;
  if (st == 0) st = VoDriverBeginFrame(w->driver, 0, image->width - 1, 0, image->height - 1);
  s->clear = w->clear_before;
  return st;
}

VtStatus ImageWriterRow(ImageWriter *w, uint32_t y, const uint8_t *rgb) {
  if (w->driver == nullptr) return kUnavailable;
  return VoDriverWriteScan(w->driver, y, const_cast<uint8_t *>(rgb));
}

VtStatus ImageWriterEnd(ImageWriter *w) {
  if (w->driver == nullptr) return 0;
  const VtStatus st = VoDriverEndFrame(w->driver) | VoDriverClose(w->driver);
  w->driver = nullptr;
  return st;
}

}  // namespace vo::driver
