// "random grid": a mosaic of irregular cells. Grid points "size" pixels
// apart, centred on the image, are jittered by noise; each pixel takes the
// colour of the image at its nearest point, and the borders between cells
// (where the nearest and second nearest points are about as far) are soft
// edges of "edge width" pixels. Empty cells (alpha below 0.001 with "use
// alpha") show the ground: the NPR background, or the background colour.
//
// Decisions: two coincident nearest points give the nearest cell's colour
// (s = 1); a size that is not finite, not positive, or makes more than 2^30
// cells across the image is refused. The input is copied once and the
// output goes out as scan rows (with alpha when "output alpha" counts).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "render/vonpr/post.h"

namespace vo::npr::post {
namespace {

constexpr const char *kName = "random grid";

struct Cell {
  double x, y;
  const float *colour;
  float alpha;
};

VtStatus Initialise(void *data) {
  if (auto *d = static_cast<GridData *>(data)) d->nprBackground = nullptr;
  return 0;
}

VtStatus Evaluate(void *data) {
  const auto *d = static_cast<const GridData *>(data);
  float edge[3], background[3];
  std::memcpy(edge, d->edge, sizeof edge);
  std::memcpy(background, d->background, sizeof background);
  int32_t flag = 1;
  shaderlib::ShadeableColour(edge, d->edgeShader, &flag, false);
  shaderlib::ShadeableColour(background, d->backgroundShader, &flag, false);
  Image image;
  VtStatus st = ImageOpen(&image);
  const double size = d->size;
  if (st == 0 &&
      (!std::isfinite(size) || !(size > 0) || image.w / size > 0x40000000 || image.h / size > 0x40000000)) {
    (void)ImageClose(&image);
    StatusSet(Refuse(kName, "size", size));
    return 0;
  }
  const bool useAlpha = d->useAlpha != 0 && (image.inMask & VO_SB_ALPHA) != 0;
  const bool outAlpha = d->outputAlpha != 0;
  const size_t n = static_cast<size_t>(image.w) * image.h;
  float *input = st == 0 ? ArrayOf<float>(4 * n, kName) : nullptr;
  float *row = input != nullptr ? ArrayOf<float>(4 * static_cast<size_t>(image.w), kName) : nullptr;
  float *scratch = row != nullptr ? ArrayOf<float>(3 * static_cast<size_t>(image.w), kName) : nullptr;
  if (st == 0 && scratch == nullptr) st = kNoMemory;
  for (uint32_t y = 0; st == 0 && y < image.h; ++y)
    st = InputRowRGBA(image, y, input + 4 * static_cast<size_t>(y) * image.w, scratch);
  void *nprBackground = st == 0 ? BackgroundLive(d->nprBackground) : nullptr;
  const double W = image.w, H = image.h;
  const double ew = d->edgeWidth / size, sw = d->smoothWidth / size, step = 1 / size;
  const double t = d->edgeTransparency, amplitude = d->amplitude, scale = d->scale;
  // The pixel of the image at a grid point, held inside the image.
  auto pixelOf = [](double v, uint32_t n) -> uint32_t {
    const double p = std::trunc(v);
    return !(p >= 0) ? 0 : p >= n - 1.0 ? n - 1 : static_cast<uint32_t>(p);
  };
  // The jittered points of the three cell rows about the current one, for
  // every cell column the image reaches (and one more on each side).
  const double cxFirst = std::floor(-W / (2 * size) + 0.5);
  const double cxLast = std::floor(-W / (2 * size) + (image.w - 1) * step + 0.5);
  const double columns = st == 0 ? cxLast - cxFirst + 3 : 0;
  Cell *band = st == 0 ? ArrayOf<Cell>(3 * static_cast<size_t>(columns), kName) : nullptr;
  if (st == 0 && band == nullptr) st = kNoMemory;
  double bandRow = std::nan("");
  for (uint32_t y = 0; st == 0 && y < image.h; ++y) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    (void)VoPostprocessReportProgress(100.0 * y / image.h);
    const double gy = -H / (2 * size) + y * step;
    const double cy = std::floor(gy + 0.5);
    if (!(cy == bandRow)) {
      bandRow = cy;
      for (size_t c = 0; c < static_cast<size_t>(columns); ++c)
        for (int r = 0; r < 3; ++r) {
          const double i = cxFirst - 1 + static_cast<double>(c), j = cy - 1 + r;
          const double a = 2 * std::numbers::pi * VoNoise2(i * scale, j * scale);
          const uint32_t px = pixelOf(i * size + W / 2, image.w), py = pixelOf(j * size + H / 2, image.h);
          const float *in = input + 4 * (static_cast<size_t>(py) * image.w + px);
          band[r * static_cast<size_t>(columns) + c] = {
              i + std::cos(a) * amplitude, j + std::sin(a) * amplitude, in, useAlpha ? in[3] : 1.0f};
        }
    }
    double previous = std::nan("");
    Cell cells[9];
    for (uint32_t x = 0; x < image.w; ++x) {
      const double gx = -W / (2 * size) + x * step;
      const double cx = std::floor(gx + 0.5);
      if (!(cx == previous)) {
        previous = cx;
        const double at = std::clamp(cx - cxFirst, 0.0, columns - 3);
        for (int k = 0; k < 9; ++k)
          cells[k] = band[(k / 3) * static_cast<size_t>(columns) + static_cast<size_t>(at) + k % 3];
      }
      float ground[3];
      if (!BackgroundSample(nprBackground, image.region[0] + x, image.region[2] + y, ground))
        std::memcpy(ground, background, sizeof ground);
      int first = 0, second = -1;
      double d1 = 1e300, d2 = 1e300;
      for (int k = 0; k < 9; ++k) {
        const double dx = cells[k].x - gx, dy = cells[k].y - gy, dd = dx * dx + dy * dy;
        if (dd < d1) {
          second = first, d2 = d1;
          first = k, d1 = dd;
        } else if (dd < d2) {
          second = k, d2 = dd;
        }
      }
      if (second < 0) second = first == 0 ? 1 : 0;
      const double D = std::hypot(cells[first].x - cells[second].x, cells[first].y - cells[second].y);
      const double s = D > 0 ? VoSmoothStep(ew - sw, ew + sw, (d2 - d1) / D) : 1.0;
      float *out = row + 4 * static_cast<size_t>(x);
      double seen[3];
      for (int k = 0; k < 3; ++k) seen[k] = t * ground[k] + (1 - t) * edge[k];
      if (cells[first].alpha >= 0.001f) {
        for (int k = 0; k < 3; ++k)
          out[k] = static_cast<float>((1 - s) * seen[k] + s * cells[first].colour[k]);
        out[3] = static_cast<float>(1 - t * (1 - s));
      } else if (cells[second].alpha >= 0.001f) {
        for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(s * ground[k] + (1 - s) * seen[k]);
        out[3] = static_cast<float>((1 - s) * (1 - t));
      } else {
        std::memcpy(out, ground, sizeof ground);
        out[3] = 0;
      }
    }
    st = OutputRowRGBA(image, y, row, scratch, outAlpha);
  }
  VoDeallocate(band);
  VoDeallocate(scratch);
  VoDeallocate(row);
  VoDeallocate(input);
  st |= ImageClose(&image);
  StatusSet(st);
  return 0;
}

constexpr GridData kDefault{{0, VO_PP_MODE_DIRECT_SEPARATE},
                            10.0f,
                            0.4f,
                            0.1f,
                            4.0f,
                            1.0f,
                            {0, 0, 0},
                            0.0f,
                            0,
                            nullptr,
                            {1, 1, 1},
                            0,
                            nullptr,
                            nullptr};

#define VO_AT(member) static_cast<uint32_t>(offsetof(GridData, member))
constexpr shaderlib::Field kFields[] = {
    {VtFloat, VO_AT(size)},
    {VtFloat, VO_AT(amplitude)},
    {VtFloat, VO_AT(scale)},
    {VtFloat, VO_AT(edgeWidth)},
    {VtFloat, VO_AT(smoothWidth)},
    {VtColourType, VO_AT(edge), shaderlib::kFieldShadeable, VO_AT(edgeShader)},
    {VtFloat, VO_AT(edgeTransparency)},
    {VtBoolean, VO_AT(useAlpha)},
    {VtGenericPtr, VO_AT(nprBackground)},
    {VtColourType, VO_AT(background), shaderlib::kFieldShadeable, VO_AT(backgroundShader)},
    {VtBoolean, VO_AT(outputAlpha)},
};
#undef VO_AT
constexpr const char *kLabels[] = {"size",           "random amplitude", "random scale",      "edge width",
                                   "smooth width",   "edge colour",      "edge transparency", "use alpha",
                                   "npr background", "background",       "output alpha"};
constexpr const char *kMeanings[] = {"side of a grid cell in pixels",
                                     "how far noise moves each grid point, in cells",
                                     "size of that noise in cells",
                                     "width of the borders between cells in pixels",
                                     "width of the borders' soft edges in pixels",
                                     "colour of the borders; may be a colour shader",
                                     "how much of the ground shows through the borders, 0 to 1",
                                     "cells where the image's alpha is 0 show the ground",
                                     "NPR background shown as the ground; none uses the background colour",
                                     "colour of the ground; may be a colour shader",
                                     "write the cells' coverage into the output's alpha plane"};

constexpr shaderlib::Entries Entries() {
  shaderlib::Entries e = DirectEntries<kDefault, kFields>(&Evaluate);
  e.initialise = &Initialise;
  e.release = &exported::VoProcedureNull;
  return e;
}

}  // namespace

const shaderlib::ClassDescription kGridClass{"vxs_random_grid_postprocess",
                                             kName,
                                             VO_SHADER_POSTPROCESS,
                                             kLabels,
                                             kMeanings,
                                             kDirectGlobals,
                                             Entries()};

}  // namespace vo::npr::post
