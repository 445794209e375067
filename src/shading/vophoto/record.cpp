// Photometric records: their defaults and accessors, the load that gives a
// record its colour and distribution, the orientation of the azimuth, and
// the intensity toward a point.
//
// The intensity is read while shading, from any worker: it only reads the
// record, allocates nothing, and keeps every index inside the grid (angles
// past the last sample take the last; non-finite ones give 0).

#include <algorithm>
#include <cmath>
#include <numbers>

#include "shading/vophoto/vophoto.h"
#include "kernel/vosystem/face.h"

namespace vo {
namespace {

struct Vec {
  double x, y, z;
};
Vec Of(const float *p) { return {p[0], p[1], p[2]}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

// A coordinate axis away from d, for a reference direction that fails.
Vec AxisBeside(Vec d) {
  const double ax = std::fabs(d.x), ay = std::fabs(d.y), az = std::fabs(d.z);
  if (ax >= ay) return ay >= az ? Vec{0, 0, 1} : Vec{0, 1, 0};
  return ax >= az ? Vec{0, 0, 1} : Vec{1, 0, 0};
}

void PlaneSet(float *plane, Vec n, Vec at) {
  plane[0] = static_cast<float>(n.x);
  plane[1] = static_cast<float>(n.y);
  plane[2] = static_cast<float>(n.z);
  plane[3] = static_cast<float>(-vec::Dot(n, at));
}

double PlaneAt(const float *plane, const float *p) {
  return double{plane[0]} * p[0] + double{plane[1]} * p[1] + double{plane[2]} * p[2] + plane[3];
}

struct LampRow {
  int32_t code;
  float kelvin;
};
constexpr LampRow kLamps[] = {{1, 3020}, {2, 3450}, {3, 4250}, {4, 6250}, {5, 5710},
                              {6, 4430}, {7, 1740}, {8, 2100}, {9, 3190}};

VtStatus RecordRefuse(VtStatus status, const char *procedure, const char *reason) {
  Post(status, messages::kPhotometryRecordRefused, VO_MODULE_PHOTOMETRY, procedure, reason);
  return status;
}

// The record's colour from its temperature and the filter, and the colour
// scale that the reader later multiplies by the power.
VtStatus RecordColour(VtPhotometricRecord *r, const float *filter) {
  float colour[3];
  if (!VoPhotometryColourFromTemperature(r->colourTemperature, filter, colour)) return photo::kNoMemory;
  const bool watts = r->powerUnits == VO_PHOTOMETRY_WATTS && r->power > 0;
  const double luminance = watts ? double{colour[0]} + colour[1] + colour[2] : VoPhotometryLuminance(colour);
  if (luminance < 1e-6) {
    std::fill_n(r->colour, 3, 0.0f);
    r->colourScale = 0.0f;
  } else {
    std::copy_n(colour, 3, r->colour);
    r->colourScale = static_cast<float>(1.0 / luminance);
  }
  return 0;
}

void DistributionClear(VtPhotometricRecord *r) {
  VoDeallocate(r->distribution);
  r->distribution = nullptr;
  r->horizontalCount = r->verticalCount = r->sampleCount = 0;
}

// The part of a load before the file: the old distribution goes, the aim
// follows the two points, the colour is made. Answers the colour's status.
VtStatus LoadBegin(VtPhotometricRecord *record, const float *from, const float *to, const float *filter) {
  DistributionClear(record);
  if (from != nullptr && to != nullptr) {
    const Vec d = Of(from) - Of(to);
    const double n = vec::Length(d);
    // A light aimed at its own position shines down -z.
    const Vec aim = n > 0 && std::isfinite(n) ? vec::Scale(d, 1.0 / n) : Vec{0, 0, 1};
    record->aim[0] = static_cast<float>(aim.x);
    record->aim[1] = static_cast<float>(aim.y);
    record->aim[2] = static_cast<float>(aim.z);
  }
  return RecordColour(record, filter);
}

}  // namespace

VtPhotometricRecord *VoPhotometricRecordCreate() {
  auto *r = static_cast<VtPhotometricRecord *>(VoAllocate(sizeof(VtPhotometricRecord)));
  if (r == nullptr) return nullptr;
  *r = VtPhotometricRecord{};
  r->powerUnits = VO_PHOTOMETRY_LUMENS;
  r->azimuthPlane1[1] = 1.0f;
  r->azimuthPlane2[0] = 1.0f;
  r->aim[2] = 1.0f;
  r->equatorZero[0] = r->equatorZero[2] = 1.0f;
  std::fill_n(r->colour, 3, 1.0f);
  return r;
}

VtStatus VoPhotometricRecordDestroy(VtPhotometricRecord *record) {
  if (record == nullptr) return 0;
  VoDeallocate(record->distribution);
  VoDeallocate(record);
  return 0;
}

VtStatus VoPhotometricRecordLoadSource(VtPhotometricRecord *record, LuminaireSource &source,
                                       PhotometryResolver resolve, void *context, const float *from,
                                       const float *to, const float *filter, float *out_colour) {
  if (record == nullptr)
    return RecordRefuse(VO_STATUS_ERROR_BAD_ARGUMENT, "VoPhotometricRecordLoad", "no record");
  VtStatus s = LoadBegin(record, from, to, filter);
  s |= VoPhotometryReadSource(record, source, resolve, context, from, to);
  if (out_colour != nullptr) std::copy_n(record->colour, 3, out_colour);
  return s;
}

VtStatus VoPhotometricRecordLoad(VtPhotometricRecord *record, const char *file_name, const float *from,
                                 const float *to, const float *filter, float *out_colour) {
  if (record == nullptr || file_name == nullptr)
    return RecordRefuse(VO_STATUS_ERROR_BAD_ARGUMENT, "VoPhotometricRecordLoad", "no record or no file name");
  VtStatus s = LoadBegin(record, from, to, filter);
  s |= VoPhotometryRead(record, file_name, from, to);
  if (out_colour != nullptr) std::copy_n(record->colour, 3, out_colour);
  return s;
}

void VoPhotometricRecordOrient(VtPhotometricRecord *record, const float *from, const float *to) {
  const Vec a = Of(from);
  Vec d = Of(to) - a;
  double n = vec::Length(d);
  d = n >= 0.001 && std::isfinite(n) ? vec::Scale(d, 1.0 / n) : Vec{0, 0, -1};
  Vec u = Of(record->equatorZero) - a;
  n = vec::Length(u);
  u = n >= 0.001 && std::isfinite(n) ? vec::Scale(u, 1.0 / n) : AxisBeside(d);
  Vec c = vec::Cross(u, d);
  if (!(vec::Length(c) >= 0.001)) c = vec::Cross(AxisBeside(d), d);
  c = vec::Scale(c, 1.0 / vec::Length(c));
  PlaneSet(record->azimuthPlane1, c, a);
  PlaneSet(record->azimuthPlane2, vec::Cross(d, c), a);
}

double VoPhotometricRecordIntensity(const VtPhotometricRecord *record, const float *position,
                                    const float *point) {
  if (record == nullptr || record->distribution == nullptr || position == nullptr || point == nullptr)
    return 0.0;
  const Vec to_light = Of(position) - Of(point);
  const double distance = vec::Length(to_light);
  if (!(distance >= 1e-6) || !std::isfinite(distance)) return 0.0;
  const double v = std::acos(std::clamp(vec::Dot(to_light, Of(record->aim)) / distance, -1.0, 1.0));
  const uint32_t nv = record->verticalCount, nh = record->horizontalCount;
  const double vstep = record->verticalStep, hstep = record->horizontalStep;
  if (!std::isfinite(v) || nv < 2) return 0.0;
  const double vq = v / vstep;  // samples from the aim
  const double vi = std::clamp(std::trunc(vq), 0.0, static_cast<double>(nv - 2));
  const uint32_t i = static_cast<uint32_t>(vi);
  double t = std::clamp(vq - vi, 0.0, 1.0);
  if (t < 0.0001) t = 0.0;
  const float *g = record->distribution;
  if (nh < 2) return (g[i] + t * (double{g[i + 1]} - g[i])) * record->peakScale;
  double h = std::atan2(PlaneAt(record->azimuthPlane1, point), PlaneAt(record->azimuthPlane2, point));
  if (!std::isfinite(h)) return 0.0;
  if (h < 0) h += 2.0 * std::numbers::pi;
  const double hq = h / hstep;
  const double hj = std::clamp(std::trunc(hq), 0.0, static_cast<double>(nh - 2));
  const uint32_t j = static_cast<uint32_t>(hj);
  const double s = std::clamp(hq - hj, 0.0, 1.0);
  const float *c0 = g + size_t{j} * nv, *c1 = c0 + nv;
  const double a = c0[i] + t * (double{c0[i + 1]} - c0[i]), b = c1[i] + t * (double{c1[i + 1]} - c1[i]);
  return (a + s * (b - a)) * record->peakScale;
}

float VoPhotometricRecordGetPower(const VtPhotometricRecord *record) { return record ? record->power : 0.0f; }

VtStatus VoPhotometricRecordSetPower(VtPhotometricRecord *record, double power) {
  if (record == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  record->power = static_cast<float>(power);
  return 0;
}

int32_t VoPhotometricRecordGetPowerUnits(const VtPhotometricRecord *record) {
  return record ? record->powerUnits : 0;
}

VtStatus VoPhotometricRecordSetPowerUnits(VtPhotometricRecord *record, int32_t units) {
  if (record == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  record->powerUnits = units;
  return 0;
}

float VoPhotometricRecordGetColourTemperature(const VtPhotometricRecord *record) {
  return record ? record->colourTemperature : 0.0f;
}

VtStatus VoPhotometricRecordSetColourTemperature(VtPhotometricRecord *record, double kelvin) {
  if (record == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  record->colourTemperature = static_cast<float>(kelvin);
  return 0;
}

int32_t VoPhotometricRecordGetLampType(const VtPhotometricRecord *record) {
  return record ? record->lampType : 0;
}

VtStatus VoPhotometricRecordSetLampType(VtPhotometricRecord *record, int32_t lamp_type) {
  if (record == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  if (lamp_type == VO_LAMP_NONE) {
    record->lampType = VO_LAMP_NONE;
    return 0;
  }
  for (const LampRow &row : kLamps) {
    if (row.code != lamp_type) continue;
    record->lampType = lamp_type;
    record->colourTemperature = row.kelvin;
    return 0;
  }
  return RecordRefuse(VO_STATUS_UNKNOWN_CODE, "VoPhotometricRecordSetLampType", "a lamp type outside 0 to 9");
}

VtStatus VoPhotometricRecordGetEquatorZero(const VtPhotometricRecord *record, float *point) {
  if (record == nullptr || point == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  std::copy_n(record->equatorZero, 3, point);
  return 0;
}

VtStatus VoPhotometricRecordSetEquatorZero(VtPhotometricRecord *record, const float *point) {
  if (record == nullptr || point == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  std::copy_n(point, 3, record->equatorZero);
  return 0;
}

VtStatus VoPhotometricRecordSetAim(VtPhotometricRecord *record, const float *vector) {
  if (record == nullptr || vector == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  const Vec v = Of(vector);
  const double n = vec::Length(v);
  if (!(n > 0) || !std::isfinite(n)) return 0;
  record->aim[0] = static_cast<float>(v.x / n);
  record->aim[1] = static_cast<float>(v.y / n);
  record->aim[2] = static_cast<float>(v.z / n);
  return 0;
}

}  // namespace vo
