// Points, vectors, normals, planes, homogeneous points and bounds through a
// transform. Null and identity transforms copy their input; the linear class
// is computed here from its matrices, always in double; every other class
// answers through its slot. Every operation reads its whole input before it
// writes, so the output may be the input array.

#include <cfloat>
#include <cmath>
#include <cstring>

#include "scene/voxform/transform.h"

namespace vo::xform {

void WholeSpace(float *bounds) {
  for (int k = 0; k < 3; ++k) {
    bounds[2 * k] = -FLT_MAX;
    bounds[2 * k + 1] = FLT_MAX;
  }
}

namespace {

template <class T>
VtStatus LinearPoint(T *out, const T *in, const double *m, uint32_t flags) {
  const double x = in[0], y = in[1], z = in[2];
  double rx = x * m[0] + y * m[4] + z * m[8] + m[12];
  double ry = x * m[1] + y * m[5] + z * m[9] + m[13];
  double rz = x * m[2] + y * m[6] + z * m[10] + m[14];
  if (!(flags & kAffineMask)) {
    const double w = x * m[3] + y * m[7] + z * m[11] + m[15];
    if (std::fabs(w) < kSmall) return kErrorBadArgument;
    rx /= w;
    ry /= w;
    rz /= w;
  }
  out[0] = static_cast<T>(rx);
  out[1] = static_cast<T>(ry);
  out[2] = static_cast<T>(rz);
  return 0;
}

template <class T>
VtStatus LinearVector(T *out, const T *in, const double *m, uint32_t flags) {
  if (!(flags & kAffineMask)) return kErrorBadArgument;
  const double x = in[0], y = in[1], z = in[2];
  const double rx = x * m[0] + y * m[4] + z * m[8];
  const double ry = x * m[1] + y * m[5] + z * m[9];
  const double rz = x * m[2] + y * m[6] + z * m[10];
  out[0] = static_cast<T>(rx);
  out[1] = static_cast<T>(ry);
  out[2] = static_cast<T>(rz);
  return 0;
}

template <class T>
void LinearHPointDouble(double *r, const T *in, const double *m, uint32_t flags) {
  const double x = in[0], y = in[1], z = in[2], w = in[3];
  for (int c = 0; c < 3; ++c) r[c] = x * m[c] + y * m[4 + c] + z * m[8 + c] + w * m[12 + c];
  r[3] = (flags & kAffineMask) ? w : x * m[3] + y * m[7] + z * m[11] + w * m[15];
}

template <class T>
VtStatus LinearHPoint(T *out, const T *in, const double *m, uint32_t flags) {
  double r[4];
  LinearHPointDouble(r, in, m, flags);
  for (int c = 0; c < 4; ++c) out[c] = static_cast<T>(r[c]);
  return 0;
}

// A plane maps through the inverse transposed.
template <class T>
VtStatus LinearPlane(T *out, const T *in, const double *inv, uint32_t flags) {
  const double a = in[0], b = in[1], c = in[2], d = in[3];
  double r[4];
  if (flags & kAffineMask) {
    for (int k = 0; k < 3; ++k) r[k] = a * inv[4 * k] + b * inv[4 * k + 1] + c * inv[4 * k + 2];
    r[3] = a * inv[12] + b * inv[13] + c * inv[14] + d;
  } else {
    if (flags & kFlagSingular) return kErrorBadArgument;
    for (int k = 0; k < 4; ++k)
      r[k] = a * inv[4 * k] + b * inv[4 * k + 1] + c * inv[4 * k + 2] + d * inv[4 * k + 3];
  }
  for (int k = 0; k < 4; ++k) out[k] = static_cast<T>(r[k]);
  return 0;
}

// A normal at a point maps through M transposed (the inverse for the
// forward form, the forward matrix for the inverse form), then is
// normalised, except by rigid transforms of scale 1.
template <class T>
VtStatus LinearNormal(T *out, const T *point, const T *normal, const double *m, uint32_t flags, double scale,
                      double shortest) {
  const double nx = normal[0], ny = normal[1], nz = normal[2];
  double r[3];
  if (flags & kAffineMask) {
    for (int k = 0; k < 3; ++k) r[k] = nx * m[4 * k] + ny * m[4 * k + 1] + nz * m[4 * k + 2];
    if ((flags & kFlagRigid) && NearOne(scale)) {
      for (int k = 0; k < 3; ++k) out[k] = static_cast<T>(r[k]);
      return 0;
    }
  } else {
    if ((flags & kFlagSingular) || point == nullptr) return kErrorBadArgument;
    // The plane through the point: d = -(p . n), rounded like the inputs.
    const T d = static_cast<T>(-(point[0] * nx + point[1] * ny + point[2] * nz));
    for (int k = 0; k < 3; ++k)
      r[k] = nx * m[4 * k] + ny * m[4 * k + 1] + nz * m[4 * k + 2] + d * m[4 * k + 3];
  }
  const double length = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  for (int k = 0; k < 3; ++k) out[k] = length >= shortest ? static_cast<T>(r[k] / length) : T(0);
  return 0;
}

VtStatus LinearBounds(float *out, const float *in, const double *m, uint32_t flags) {
  const float b[6] = {in[0], in[1], in[2], in[3], in[4], in[5]};
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  bool first = true;
  for (int xi = 0; xi < 2; ++xi)
    for (int yi = 0; yi < 2; ++yi)
      for (int zi = 0; zi < 2; ++zi) {
        const float corner[4] = {b[xi], b[2 + yi], b[4 + zi], 1.0f};
        double h[4];
        LinearHPointDouble(h, corner, m, flags);
        // A corner at or behind the plane w = 0 has no image: nothing
        // smaller than the whole space contains the box.
        if (!(h[3] > kSmall)) {
          WholeSpace(out);
          return kErrorBadArgument;
        }
        for (int k = 0; k < 3; ++k) {
          const double v = h[k] / h[3];
          if (first) {
            lo[k] = hi[k] = v;
          } else {
            if (v < lo[k]) lo[k] = v;
            if (v > hi[k]) hi[k] = v;
          }
        }
        first = false;
      }
  for (int k = 0; k < 3; ++k) {
    out[2 * k] = static_cast<float>(lo[k]);
    out[2 * k + 1] = static_cast<float>(hi[k]);
  }
  return 0;
}

template <class T>
using Slot3 = VtStatus (*VtTransformClass::*)(T *, const T *, VtTransform *);
template <class T>
using Slot4 = VtStatus (*VtTransformClass::*)(T *, const T *, const T *, VtTransform *);
template <class T>
using LinearOp = VtStatus (*)(T *, const T *, const double *, uint32_t);

// Which of a linear transform's matrices an operation reads.
using MatrixOf = double (VtLinearTransformData::*)[16];
constexpr MatrixOf kForward = &VtLinearTransformData::forward;
constexpr MatrixOf kInverse = &VtLinearTransformData::inverse;

// The frame shared by the operations on one input array.
template <int N, class T>
inline VtStatus Apply(T *out, const T *in, VtTransform *t, Slot3<T> slot, MatrixOf matrix,
                      LinearOp<T> linear) {
  if (out == nullptr || in == nullptr || Refused(t)) [[unlikely]]
    return kErrorBadArgument;
  if (t == nullptr || t->cls->code == kClassIdentity) {
    std::memmove(out, in, N * sizeof(T));
    return 0;
  }
  if (t->cls->code != kClassLinear) return (t->cls->*slot)(out, in, t);
  return linear(out, in, Linear(t)->*matrix, t->flags);
}

// The frame of the normal operations: identity copies the normal.
template <class T>
inline VtStatus ApplyNormal(T *out, const T *point, const T *normal, VtTransform *t, Slot4<T> slot,
                            MatrixOf matrix, double shortest) {
  if (out == nullptr || normal == nullptr || Refused(t)) [[unlikely]]
    return kErrorBadArgument;
  if (t == nullptr || t->cls->code == kClassIdentity) {
    std::memmove(out, normal, 3 * sizeof(T));
    return 0;
  }
  if (t->cls->code != kClassLinear) return (t->cls->*slot)(out, point, normal, t);
  const VtLinearTransformData *d = Linear(t);
  return LinearNormal(out, point, normal, d->*matrix, t->flags, d->scale, shortest);
}

}  // namespace

}  // namespace vo::xform

namespace vo {

using namespace xform;

VtStatus VoTransformPoint(float *out, const float *in, VtTransform *t) {
  return Apply<3>(out, in, t, &VtTransformClass::point, kForward, &LinearPoint<float>);
}
VtStatus VoTransformVector(float *out, const float *in, VtTransform *t) {
  return Apply<3>(out, in, t, &VtTransformClass::vector, kForward, &LinearVector<float>);
}
VtStatus VoTransformNormal(float *out, const float *point, const float *normal, VtTransform *t) {
  return ApplyNormal(out, point, normal, t, &VtTransformClass::normal, kInverse, 1e-5);
}
VtStatus VoTransformPlane(float *out, const float *in, VtTransform *t) {
  return Apply<4>(out, in, t, &VtTransformClass::plane, kInverse, &LinearPlane<float>);
}
VtStatus VoTransformHPoint(float *out, const float *in, VtTransform *t) {
  return Apply<4>(out, in, t, &VtTransformClass::hpoint, kForward, &LinearHPoint<float>);
}
VtStatus VoTransformBounds(float *out, const float *in, VtTransform *t) {
  return Apply<6>(out, in, t, &VtTransformClass::bounds, kForward, &LinearBounds);
}
VtStatus VoTransformPointInverse(float *out, const float *in, VtTransform *t) {
  return Apply<3>(out, in, t, &VtTransformClass::point_inverse, kInverse, &LinearPoint<float>);
}
VtStatus VoTransformNormalInverse(float *out, const float *point, const float *normal, VtTransform *t) {
  return ApplyNormal(out, point, normal, t, &VtTransformClass::normal_inverse, kForward, 1e-5);
}
VtStatus VoTransformPointDouble(double *out, const double *in, VtTransform *t) {
  return Apply<3>(out, in, t, &VtTransformClass::point_double, kForward, &LinearPoint<double>);
}
VtStatus VoTransformVectorDouble(double *out, const double *in, VtTransform *t) {
  return Apply<3>(out, in, t, &VtTransformClass::vector_double, kForward, &LinearVector<double>);
}
VtStatus VoTransformNormalDouble(double *out, const double *point, const double *normal, VtTransform *t) {
  return ApplyNormal(out, point, normal, t, &VtTransformClass::normal_double, kInverse, 1e-10);
}
VtStatus VoTransformPlaneDouble(double *out, const double *in, VtTransform *t) {
  return Apply<4>(out, in, t, &VtTransformClass::plane_double, kInverse, &LinearPlane<double>);
}
VtStatus VoTransformHPointDouble(double *out, const double *in, VtTransform *t) {
  return Apply<4>(out, in, t, &VtTransformClass::hpoint_double, kForward, &LinearHPoint<double>);
}
VtStatus VoTransformPointInverseDouble(double *out, const double *in, VtTransform *t) {
  return Apply<3>(out, in, t, &VtTransformClass::point_inverse_double, kInverse, &LinearPoint<double>);
}
VtStatus VoTransformNormalInverseDouble(double *out, const double *point, const double *normal,
                                        VtTransform *t) {
  return ApplyNormal(out, point, normal, t, &VtTransformClass::normal_inverse_double, kForward, 1e-5);
}

}  // namespace vo
