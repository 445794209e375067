// The NPR module's post-process classes (shader type 0x440001): lowpass
// filter, line integral convolution, random stipple, painting, pen and
// random grid. Their instance data, the class descriptions the creator
// table registers, and the pieces their bodies share.
//
// Invariants a reader must know:
// - every block opens with the prepared flag and the mode word
//   (VtPostprocessHead); the lowpass opens with VtPostprocessWordArgs, its
//   cutoff and size in words 0 and 1, so the stage's shared set body serves
//   it;
// - the direct classes work on the input buffer's active region: class
//   pixel (x, y) is buffer pixel (x0 + x, y0 + y), scan rows are addressed
//   by region index; the output buffer gets the same region for the run and
//   its own back afterwards;
// - instance data is only read while a class runs (colours a shader stands
//   in for are evaluated into locals);
// - every W x H array is sized in size_t; a size VoAllocate cannot take is
//   out of memory like a failed allocation (2646, 0x20000006).
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_npr.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_shaderlib.h>

#include "shading/shaderlib/face.h"
#include "kernel/vosystem/face.h"

namespace vo::npr::post {

constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;
constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;

// ---- Instance data ----

struct LowpassData {
  VtPostprocessWordArgs args;  // word[0].f cutoff frequency, word[1].i filter size
  float *kernel;               // size x size weights, owned; null until prepared
  int32_t size;                // the size the kernel was built for
};

// The vector field is width x height pairs of floats (x, y) of the buffer
// the class runs on, row-major, one pair per pixel.
struct LicData {
  VtPostprocessHead head;
  const float *field;
  void *objects;  // stored and answered, not used
  float length;
  int32_t iterations;
};

struct StippleData {
  VtPostprocessHead head;
  int32_t count;
  float dot[3];
  int32_t seed;
  float threshold;
  float curve;
  float highlight[3];
  uint32_t objectColours;
  void *background;  // an NPR background, or null
  VtShader *dotShader, *highlightShader;
};

struct PaintingData {
  VtPostprocessHead head;
  float size;
  float variation;
  int32_t count;
  int32_t seed;
  float transparency;
  float background[3];
  uint32_t useZ;
  VtShader *backgroundShader;
};

struct PenData {
  VtPostprocessHead head;
  int32_t templates;
  float variance;
  float angleVariance;
  float length;
  float lengthVariance;
  float width;
  float angle;
  int32_t quality;
  int32_t subdivision;
  float contrast;
  float transparency;
  float stroke[3];
  uint32_t maskModelZ;
  int32_t count;
  float threshold;
  float curve;
  int32_t seed;
  float background[3];
  uint32_t maskIntensity;
  uint32_t objectColours;
  uint32_t constantColours;
  float constantIntensity;
  uint32_t ignoreAlpha;  // stored and answered, not read
  uint32_t ignoreZ;
  VtShader *strokeShader, *backgroundShader;
};

struct GridData {
  VtPostprocessHead head;
  float size;
  float amplitude;
  float scale;
  float edgeWidth;
  float smoothWidth;
  float edge[3];
  float edgeTransparency;
  uint32_t useAlpha;
  void *nprBackground;
  float background[3];
  uint32_t outputAlpha;
  VtShader *edgeShader, *backgroundShader;
};

// A pen stroke template: coverages in [0, 1] and the anchor cell placed on
// the chosen pixel.
struct PenTemplate {
  int32_t w = 0, h = 0;
  int32_t ax = 0, ay = 0;
  float *cells = nullptr;  // w x h, from VoAllocate
};
// One template from four draws of the kernel's generator: 0, kRefused (its
// angle or length refused) or kNoMemory.
VtStatus PenTemplateMake(const PenData *d, PenTemplate *t);

// ---- Class descriptions (one per file) ----
// The entries of a direct class: evaluate, get and set through its field
// table, create from its default, the shared free; it reads "Bi" and writes
// "Bo".
template <const auto &Default, const auto &Fields>
constexpr shaderlib::Entries DirectEntries(VtShaderDataProc evaluate) {
  return shaderlib::DataEntries<Default>(evaluate, nullptr, &shaderlib::TableGet<Fields>,
                                         &shaderlib::TableSet<Fields>);
}
inline constexpr const char *kDirectGlobals[] = {"Bi", "Bo"};

extern const shaderlib::ClassDescription kLowpassClass;
extern const shaderlib::ClassDescription kLicClass;
extern const shaderlib::ClassDescription kStippleClass;
extern const shaderlib::ClassDescription kPaintingClass;
extern const shaderlib::ClassDescription kPenClass;
extern const shaderlib::ClassDescription kGridClass;

// ---- Shared pieces (post.cpp) ----

// The buffers of a run: "Bi" and "Bo", the input's region (x0, x1, y0, y1)
// and its size w x h, and the planes of both.
struct Image {
  VtScreenBuffer *in = nullptr, *out = nullptr;
  uint32_t region[4] = {};
  uint32_t w = 0, h = 0;
  uint32_t inMask = 0, outMask = 0;
  uint32_t outRegion[4] = {};
  bool outKept = false;
};
// Reads the globals and the facts, and gives "Bo" the input's region;
// non-zero (the buffer operations' statuses) when they cannot be read.
VtStatus ImageOpen(Image *image);
// Gives "Bo" its own region back.
VtStatus ImageClose(Image *image);

// count elements of T from VoAllocate, or null with 2646 posted for the
// class (also for a size VoAllocate's 32-bit argument cannot hold).
void *Allocate(size_t count, size_t size, const char *cls);
template <class T>
T *ArrayOf(size_t count, const char *cls) {
  return static_cast<T *>(Allocate(count, sizeof(T), cls));
}

// 2645: the class refuses an argument (class, label, value); answers kRefused.
VtStatus Refuse(const char *cls, const char *label, double value);

// The class status the executor reads.
inline void StatusSet(VtStatus st) { (void)VoPostprocessStatusSet(st); }

// A random position below n: trunc(r x n) worked in double and held to
// n - 1 (a float product rounds up to n past 2^23).
uint32_t Pick(float r, uint32_t n);

// The rows of a midpoint-rule disc of radius r: half[b] is the half-width
// of the row at offset b (0 <= b <= r) from the centre. half holds r + 1.
void DiscRows(int32_t r, int32_t *half);

// Reads input row y of the region (region index) as RGBA floats: alpha 1
// when the buffer has no alpha plane. row holds 4 x w floats and scratch
// 3 x w (used only without an alpha plane).
VtStatus InputRowRGBA(const Image &image, uint32_t y, float *row, float *scratch);
// Writes RGBA floats as output row y: the alpha is dropped when the output
// has no alpha plane or alpha is false (scratch of 3 x w then used).
VtStatus OutputRowRGBA(const Image &image, uint32_t y, const float *row, float *scratch, bool alpha = true);

// The class's NPR background for a run: null without one, or when it is
// not a live background (refused once, the class then draws its own
// ground).
void *BackgroundLive(void *background);
// The background's colour at buffer pixel (x, y) into rgb (its fill colour
// outside its image); false, rgb untouched, without a background.
bool BackgroundSample(void *background, uint32_t x, uint32_t y, float rgb[3]);

}  // namespace vo::npr::post
