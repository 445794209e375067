// OpenGL without a window system: our own small layer over Mesa's EGL on
// the surfaceless platform, the only code that includes EGL. It gives the
// OpenGL targets their pixel formats, contexts that share display lists
// and textures, a framebuffer of any size to draw into while a context is
// current, and the read-back of that framebuffer.
//
// Invariants a reader must know:
// - one display per process, made on first use and never terminated (after
//   eglTerminate the unloaded driver's blocks stay behind);
// - a context is current on a 1 x 1 pbuffer (or on no surface) and draws
//   into its own framebuffer object of the target's size; modules above
//   call OpenGL 1.1 and GLU only;
// - every EGL call runs between fegetenv and fesetenv: EGL and the driver
//   raise floating-point flags of their own, which must not reach callers;
// - results are true or false; a false result leaves nothing made.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vo::platform::gl {

// ---------------------------------------------------------------------------
// Pixel formats: a fixed table of our own, numbers 1 to 16.
// ---------------------------------------------------------------------------
constexpr uint32_t kDrawToWindow = 0x4, kDrawToBitmap = 0x8, kSupportOpenGL = 0x20, kDoubleBuffer = 0x1;
constexpr uint32_t kGenericFormat = 0x40, kGenericAccelerated = 0x1000;
constexpr uint32_t kNeedPalette = 0x80, kNeedSystemPalette = 0x100;
constexpr uint8_t kTypeRgba = 0, kTypeColourIndex = 1;

struct PixelFormat {
  uint32_t flags;
  uint8_t pixel_type;
  uint8_t colour_bits, red_bits, red_shift, green_bits, green_shift, blue_bits, blue_shift;
  uint8_t depth_bits;
};

constexpr int32_t kFormatCount = 16;
// Describes format n (1..16) into *out when given; answers the count (0
// for a number outside the table: nothing written).
int32_t FormatDescribe(int32_t n, PixelFormat *out);

// The choice among formats 1..count of a table: acceleration criterion
// (1 ICD over generic accelerated over generic, 2 and 6 generic only,
// 3 no generic, 4 generic accelerated only, 5 ICD only), colour criterion
// (1 fewer, 2 exactly 8, 3 exactly 16, 4 exactly 24, 5 more), depth
// criterion (0 fewer, 2 fewer but at least 16, 3/4/5 exactly 16/24/32,
// 6 more), buffering (1 single only, 2 double only). Only RGBA formats
// that draw to a window take part; 0 when none qualifies.
int32_t FormatChoose(const PixelFormat *table, int32_t count, int32_t acceleration, int32_t colour,
                     int32_t depth, int32_t buffering);
// The choice among this layer's own formats.
int32_t FormatChooseOwn(int32_t acceleration, int32_t colour, int32_t depth, int32_t buffering);
// An image's format: drawing to a bitmap, single-buffered, at least the
// colour bits asked for, depth bits exactly as asked; 0 when none.
int32_t FormatForBitmap(int32_t colour_bits, int32_t depth_bits);

// One channel of entry i of a logical palette: ((i >> shift) & (2^bits - 1))
// x 255 / (2^bits - 1), truncated; a channel of 0 bits gives 0.
uint8_t PaletteChannel(uint32_t i, uint32_t shift, uint32_t bits);

// ---------------------------------------------------------------------------
// The display and contexts
// ---------------------------------------------------------------------------
// Makes the display on first use; false (with the EGL error in *error when
// given) when the platform cannot start.
bool DisplayStart(int32_t *error = nullptr);
// True when the EGL driver draws in software (always so on llvmpipe).
bool DriverIsSoftware();

struct Context;  // an EGL context with its framebuffer

// A new context of a format, sharing display lists and textures with
// `share` when given; null when refused (*refused_share set when only the
// sharing was refused: the caller may try again without).
// *no_memory (when given) tells a context EGL made but the layer had no
// memory to keep.
Context *ContextCreate(int32_t format, Context *share, bool *refused_share = nullptr,
                       bool *no_memory = nullptr);
void ContextDestroy(Context *context);
// Makes the context's framebuffer of width x height now (a detour: what was
// current stays current); false when it cannot be made.
bool FramebufferMake(Context *context, int32_t width, int32_t height);

// Makes the context current on the calling thread, drawing into its
// framebuffer of width x height (made or resized here; sides 0 mean no
// framebuffer: the context is current on no surface).
bool MakeCurrent(Context *context, int32_t width, int32_t height);
// Makes no context current on the calling thread.
bool Release();
// The context current on the calling thread (one of ours), or null.
Context *Current();

// Reads the framebuffer of the current context, bottom row first, rows
// padded to 4 bytes: 3 bytes a pixel in red, green, blue order (the
// image's own, so that rows copy whole), or 1 byte (the red channel) when
// bytes_per_pixel is 1.
bool ReadPixels(int32_t width, int32_t height, int32_t bytes_per_pixel, uint8_t *out);
// Bytes of one padded row.
inline size_t RowBytes(int32_t width, int32_t bytes_per_pixel) {
  return (static_cast<size_t>(width) * static_cast<size_t>(bytes_per_pixel) + 3) & ~size_t{3};
}

// ---------------------------------------------------------------------------
// Test switch: the n-th call (1-based, counted from the last reset) of a
// kind fails as EGL would. Live counts of contexts.
// ---------------------------------------------------------------------------
enum class Call : uint8_t { Create, Framebuffer, MakeCurrent, Release, Count };
void FailAt(Call kind, uint32_t n);  // 0: never
void FailReset();
int32_t LiveContexts();

}  // namespace vo::platform::gl
