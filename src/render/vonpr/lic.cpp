// "line integral convolution": every pixel becomes the length-weighted mean
// of the cells a streamline through its centre crosses, traced forward and
// backward through the application's vector field until the total length
// reaches "integral length" or "iterations" steps are made.
//
// A step goes from the trace's position to the next cell border along the
// field vector of the cell it is in (plus 1e-5, so it lands inside the next
// cell) and adds that cell's colour times the step length. The two-way step
// runs forward then backward; when one side cannot step or leaves the image
// the other goes on alone; a one-way trace that cannot step or leaves the
// image ends the integration.
//
// The field covers the whole buffer (width x height float pairs, row-major);
// only entries inside the active region are read. Pixels of alpha 0, and
// those whose integration gives no length, keep their input colour. The
// result goes out as scan rows.

#include <cmath>
#include <cstring>

#include "render/vonpr/post.h"

namespace vo::npr::post {
namespace {

constexpr const char *kName = "line integral convolution";
constexpr double kNoStep = 1e20;
constexpr double kMinStep = 1e-5;

enum class Way { kTwo, kForward, kBackward };

// One trace's position, colour sum and length.
struct Trace {
  double x, y;
  double sum[3];
  double length;
};

// The streamline of one pixel over the run's image and field.
struct Streamline {
  const float *colours;  // w x h RGB of the region
  const float *field;    // the whole buffer's field
  size_t fieldRow;       // floats per field row (2 x buffer width)
  uint32_t x0, y0;       // the region's origin in the buffer
  double w, h;
  uint32_t iw;
  Way way;
  Trace forward, backward;
  double total;

  bool Inside(const Trace &t) const { return t.x >= 0 && t.x < w && t.y >= 0 && t.y < h; }

  // Steps the trace along +v (sign 1) or -v (sign -1) of its cell; answers
  // the step length (0 when none is possible).
  double Step(Trace &t, double sign) {
    const auto cx = static_cast<uint32_t>(std::floor(t.x)), cy = static_cast<uint32_t>(std::floor(t.y));
    const float *v = field + (static_cast<size_t>(y0) + cy) * fieldRow + 2 * (static_cast<size_t>(x0) + cx);
    const double vx = sign * v[0], vy = sign * v[1];
    const double fx = t.x - std::floor(t.x), fy = t.y - std::floor(t.y);
    const double tx = vx > 1e-5 ? (1 - fx) / vx : vx < -1e-5 ? -fx / vx : kNoStep;
    const double ty = vy > 1e-5 ? (1 - fy) / vy : vy < -1e-5 ? -fy / vy : kNoStep;
    if (tx == kNoStep && ty == kNoStep) return 0;
    const double s = (tx < ty ? tx : ty) + 1e-5;
    const float *c = colours + 3 * (static_cast<size_t>(cy) * iw + cx);
    t.x += s * vx;
    t.y += s * vy;
    if (s >= kMinStep) {
      for (int k = 0; k < 3; ++k) t.sum[k] += c[k] * s;
      t.length += s;
      total += s;
    }
    return s;
  }

  // One trace alone: false when the integration ends.
  bool OneWay(Trace &t, double sign) {
    if (Step(t, sign) < kMinStep) return false;
    return Inside(t);
  }

  // One call of the step procedure: false when the integration ends.
  bool Call() {
    switch (way) {
      case Way::kForward: return OneWay(forward, 1);
      case Way::kBackward: return OneWay(backward, -1);
      case Way::kTwo: break;
    }
    if (Step(forward, 1) < kMinStep || !Inside(forward)) {
      way = Way::kBackward;
      return OneWay(backward, -1);
    }
    if (Step(backward, -1) < kMinStep || !Inside(backward)) way = Way::kForward;
    return true;
  }

  // The integration from (px, py): false when it gives no result.
  bool Integrate(double px, double py, double limit, int32_t iterations, float out[3]) {
    forward = backward = Trace{px, py, {0, 0, 0}, 0};
    total = 0;
    way = Way::kTwo;
    if (!(limit >= 0)) return false;
    for (int32_t calls = 1;; ++calls)
      if (!Call() || calls >= iterations || total >= limit) break;
    const double length = forward.length + backward.length;
    if (length < 0.001) return false;
    for (int k = 0; k < 3; ++k) out[k] = static_cast<float>((forward.sum[k] + backward.sum[k]) / length);
    return true;
  }
};

VtStatus Evaluate(void *data) {
  const auto *d = static_cast<const LicData *>(data);
  if (d->field == nullptr) {
    StatusSet(0);
    return 0;
  }
  Image image;
  VtStatus st = ImageOpen(&image);
  uint32_t bufferWidth = 0;
  if (st == 0) {
    VtTypedValue v{};
    st = VoScreenBufferGetControl(image.in, VO_SB_WIDTH, &v);
    bufferWidth = v.value.u;
  }
  const size_t pixels = static_cast<size_t>(image.w) * image.h;
  const bool alpha = (image.inMask & VO_SB_ALPHA) != 0;
  float *colours = st == 0 ? ArrayOf<float>(3 * pixels, kName) : nullptr;
  float *alphas = st == 0 && colours != nullptr && alpha ? ArrayOf<float>(pixels, kName) : nullptr;
  float *row = st == 0 && colours != nullptr && (!alpha || alphas != nullptr)
                   ? ArrayOf<float>(4 * static_cast<size_t>(image.w), kName)
                   : nullptr;
  if (st == 0 && row == nullptr) st = kNoMemory;
  // The input picture, copied whole.
  for (uint32_t y = 0; st == 0 && y < image.h; ++y) {
    float *c = colours + 3 * static_cast<size_t>(y) * image.w;
    if (alpha) {
      st = VoScreenBufferGetScanRGBAFloat(image.in, y, row);
      for (uint32_t x = 0; x < image.w; ++x) {
        std::memcpy(c + 3 * static_cast<size_t>(x), row + 4 * static_cast<size_t>(x), 3 * sizeof(float));
        alphas[static_cast<size_t>(y) * image.w + x] = row[4 * static_cast<size_t>(x) + 3];
      }
    } else {
      st = VoScreenBufferGetScanRGBFloat(image.in, y, c);
    }
  }
  Streamline s{colours,
               d->field,
               2 * static_cast<size_t>(bufferWidth),
               image.region[0],
               image.region[2],
               static_cast<double>(image.w),
               static_cast<double>(image.h),
               image.w,
               Way::kTwo,
               {},
               {},
               0};
  for (uint32_t y = 0; st == 0 && y < image.h; ++y) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    (void)VoPostprocessReportProgress(100.0 * y / image.h);
    for (uint32_t x = 0; x < image.w; ++x) {
      const size_t i = static_cast<size_t>(y) * image.w + x;
      float *out = row + 3 * static_cast<size_t>(x);
      const bool opaque = alphas == nullptr || alphas[i] != 0;
      if (!opaque || !s.Integrate(x + 0.5, y + 0.5, d->length, d->iterations, out))
        std::memcpy(out, colours + 3 * i, 3 * sizeof(float));
    }
    st = VoScreenBufferSetScanRGBFloat(image.out, y, row);
  }
  VoDeallocate(row);
  VoDeallocate(alphas);
  VoDeallocate(colours);
  st |= ImageClose(&image);
  StatusSet(st);
  return 0;
}

constexpr LicData kDefault{{0, VO_PP_MODE_DIRECT_SEPARATE}, nullptr, nullptr, 0.0f, 100};
constexpr shaderlib::Field kFields[] = {{VtGenericPtr, offsetof(LicData, field)},
                                        {VtGenericPtr, offsetof(LicData, objects)},
                                        {VtFloat, offsetof(LicData, length)},
                                        {VtInt32, offsetof(LicData, iterations)}};
constexpr const char *kLabels[] = {"vector field", "object array", "integral length", "iterations"};
constexpr shader::ArgumentBuffer kBuffers[] = {{"vector field", 2, {nullptr, nullptr}}};
constexpr const char *kMeanings[] = {
    ("width x height pairs of floats, one direction per pixel, that the image is smeared along; none leaves "
     "the image"),
    "stored and answered; not used", "length in pixels of each streamline the pixel is averaged over",
    "most steps of each streamline"};

}  // namespace

const shaderlib::ClassDescription kLicClass{"vxs_line_integral_convolution_p",
                                            kName,
                                            VO_SHADER_POSTPROCESS,
                                            kLabels,
                                            kMeanings,
                                            kDirectGlobals,
                                            DirectEntries<kDefault, kFields>(&Evaluate),
                                            false,
                                            kBuffers};

}  // namespace vo::npr::post
