// Classification and inversion of matrices, and the operands that Define,
// Translate and the rotations build in the module's static linear transform.
//
// The tolerances are relative to the matrix's own scale: a matrix and any
// multiple of it classify alike, so a uniform scale of 1e-7 is a scale and
// diag(1e-6, 2e-6, 1e-6) is not uniform. For matrices of unit scale the
// tests are the absolute ones (1e-20 for determinants, 1e-10 otherwise).

#include <algorithm>
#include <cmath>
#include <cstring>

#include "scene/voxform/transform.h"

namespace vo::xform {

namespace {

constexpr double kSingular = 1e-20;

double At3(const double *m, int r, int c) { return m[4 * r + c]; }

double RowLength(const double *m, int r, int n) {
  double s = 0;
  for (int c = 0; c < n; ++c) s += m[4 * r + c] * m[4 * r + c];
  return std::sqrt(s);
}

// |a| is not small next to the reference magnitude.
bool Significant(double a, double reference) { return a != 0 && std::fabs(a) >= kSmall * reference; }

// A determinant too small for the rows it comes from (Hadamard's bound: |det|
// never exceeds the product of the row lengths).
bool SingularDeterminant(double det, double row_product) {
  return !(std::fabs(det) > kSingular * row_product);
}

// The 3x3 inverse in the upper left of a 4x4 matrix with zero row and
// column 3 and the given corner.
void Embed(double *out, const double *inverse3, double corner) {
  std::memset(out, 0, 16 * sizeof(double));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out[4 * r + c] = inverse3[3 * r + c];
  out[15] = corner;
}

}  // namespace

LinearClass ClassifyLinearPart(const double *m) {
  LinearClass c{};
  const double det = At3(m, 0, 0) * (At3(m, 1, 1) * At3(m, 2, 2) - At3(m, 1, 2) * At3(m, 2, 1)) -
                     At3(m, 0, 1) * (At3(m, 1, 0) * At3(m, 2, 2) - At3(m, 1, 2) * At3(m, 2, 0)) +
                     At3(m, 0, 2) * (At3(m, 1, 0) * At3(m, 2, 1) - At3(m, 1, 1) * At3(m, 2, 0));
  c.determinant = det;
  const double rows = RowLength(m, 0, 3) * RowLength(m, 1, 3) * RowLength(m, 2, 3);
  if (SingularDeterminant(det, rows)) {
    c.result = kFlagSingular;
    return c;
  }
  double g[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      g[i][j] = At3(m, i, 0) * At3(m, j, 0) + At3(m, i, 1) * At3(m, j, 1) + At3(m, i, 2) * At3(m, j, 2);
  const double scale2 = std::max({g[0][0], g[1][1], g[2][2]});  // the squared scale of the matrix

  // Orthogonal rows: every cosine between two rows is small.
  const auto crossed = [&](int i, int j) {
    return !(std::fabs(g[i][j]) < kSmall * std::sqrt(g[i][i] * g[j][j]));
  };
  const bool orthogonal = !crossed(0, 1) && !crossed(0, 2) && !crossed(1, 2);
  if (!orthogonal) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        // inverse[i][j] = cofactor[j][i] / det
        const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
        c.inverse[3 * i + j] = (At3(m, r0, c0) * At3(m, r1, c1) - At3(m, r0, c1) * At3(m, r1, c0)) / det;
      }
    c.result = kFlagAffine;
    return c;
  }
  const auto differ = [&](double a, double b) {
    return !(std::fabs(a - b) < (std::fabs(a) + std::fabs(b) + scale2) * kSmall);
  };
  if (differ(g[0][0], g[1][1]) || differ(g[0][0], g[2][2])) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) c.inverse[3 * j + i] = At3(m, i, j) / g[i][i];
    c.result = kFlagAffine;
    return c;
  }
  c.uniform = true;
  double s = std::sqrt(g[0][0]);
  if (det < 0) s = -s;
  c.scale = s;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) c.inverse[3 * j + i] = At3(m, i, j) / g[0][0];
  if (NearOne(s)) {
    const bool off_small = std::fabs(At3(m, 0, 1)) < kSmall && std::fabs(At3(m, 0, 2)) < kSmall &&
                           std::fabs(At3(m, 1, 0)) < kSmall && std::fabs(At3(m, 1, 2)) < kSmall &&
                           std::fabs(At3(m, 2, 0)) < kSmall && std::fabs(At3(m, 2, 1)) < kSmall;
    c.result = off_small && NearOne(At3(m, 0, 0)) && NearOne(At3(m, 1, 1)) ? 0 : kFlagRigid;
    return c;
  }
  if (s < 0) {
    c.scale = 0;  // a scaled reflection counts as affine
    c.result = kFlagAffine;
    return c;
  }
  c.result = kFlagRigid;
  return c;
}

// ---- Operands ------------------------------------------------------------------

void TranslationMatrices(double *forward, double *inverse, const double *offset) {
  const double t[3] = {offset[0], offset[1], offset[2]};
  (void)VoMatrixIdentity(forward);
  (void)VoMatrixIdentity(inverse);
  for (int i = 0; i < 3; ++i) {
    forward[12 + i] = t[i];
    inverse[12 + i] = 0.0 - t[i];  // +0 for 0
  }
}

VtTransform *OperandDefine(const double *matrix) {
  TransformModuleState *s = State();
  if (s == nullptr) return nullptr;
  VtLinearTransformData *d = &s->operand_data;
  s->operand.flags = kFlagRecord;
  d->scale = 0;
  std::memmove(d->forward, matrix, sizeof d->forward);
  uint32_t reflection = 0;
  const uint32_t result = VoTransformClassify(d->forward, d->inverse, &d->scale, &reflection);
  if (result == 0) return &s->identity;
  s->operand.flags = kFlagRecord | result | (reflection ? kFlagReflection : 0);
  return &s->operand;
}

VtTransform *OperandTranslation(const double *offset) {
  TransformModuleState *s = State();
  if (s == nullptr) return nullptr;
  VtLinearTransformData *d = &s->operand_data;
  TranslationMatrices(d->forward, d->inverse, offset);
  d->scale = 1;
  s->operand.flags = kFlagRecord | kFlagRigid;
  return &s->operand;
}

VtTransform *OperandRotationAxis(const double *point, const double *axis, double radians) {
  TransformModuleState *s = State();
  if (s == nullptr) return nullptr;
  VtLinearTransformData *d = &s->operand_data;
  s->operand.flags = kFlagRecord;
  d->scale = 0;
  const double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  if (!(length >= kSmall)) return nullptr;
  const double x = axis[0] / length, y = axis[1] / length, z = axis[2] / length;
  const double c = std::cos(radians), sn = std::sin(radians), k = 1 - c;
  const double r[3][3] = {{x * x * k + c, x * y * k + z * sn, x * z * k - y * sn},
                          {x * y * k - z * sn, y * y * k + c, y * z * k + x * sn},
                          {x * z * k + y * sn, y * z * k - x * sn, z * z * k + c}};
  const double p[3] = {point[0], point[1], point[2]};
  (void)VoMatrixIdentity(d->forward);
  (void)VoMatrixIdentity(d->inverse);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      d->forward[4 * i + j] = r[i][j];
      d->inverse[4 * i + j] = r[j][i];
    }
  // Row 3 keeps the point fixed: p - p x R, and p - p x R-transposed.
  for (int j = 0; j < 3; ++j) {
    d->forward[12 + j] = p[j] - (p[0] * r[0][j] + p[1] * r[1][j] + p[2] * r[2][j]);
    d->inverse[12 + j] = p[j] - (p[0] * r[j][0] + p[1] * r[j][1] + p[2] * r[j][2]);
  }
  d->scale = 1;
  s->operand.flags = kFlagRecord | kFlagRigid;
  return &s->operand;
}

VtTransform *OperandRotationRows(const double *row0, const double *row1, const double *row2) {
  TransformModuleState *s = State();
  if (s == nullptr) return nullptr;
  VtLinearTransformData *d = &s->operand_data;
  s->operand.flags = kFlagRecord;
  double m[16];
  (void)VoMatrixIdentity(m);
  const double *rows[3] = {row0, row1, row2};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[4 * r + c] = rows[r][c];
  const LinearClass lc = ClassifyLinearPart(m);
  std::memcpy(d->forward, m, sizeof m);
  d->scale = lc.scale;
  uint32_t flags = lc.result;
  if (lc.result == 0) return &s->identity;
  if (lc.result == kFlagRigid) {
    if (!NearOne(lc.scale)) return nullptr;
  } else if (lc.result == kFlagAffine) {
    // Only a unit reflection: orthogonal rows of equal length and
    // determinant -1 (a shear whose determinant happens to be -1 is not a
    // rotation).
    const double det = lc.determinant;
    if (!lc.uniform || !(std::fabs(det + 1) < (std::fabs(det) + 2) * kSmall)) return nullptr;
    flags |= kFlagReflection;
  } else {
    return nullptr;
  }
  Embed(d->inverse, lc.inverse, 1.0);
  s->operand.flags = kFlagRecord | flags;
  return &s->operand;
}

}  // namespace vo::xform

namespace vo {

using namespace xform;

uint32_t VoTransformClassifyLinear(const double *matrix, double *inverse, double *determinant,
                                   double *scale) {
  if (matrix == nullptr) return kFlagSingular;
  const LinearClass c = ClassifyLinearPart(matrix);
  if (inverse != nullptr) std::memcpy(inverse, c.inverse, sizeof c.inverse);
  if (determinant != nullptr) *determinant = c.determinant;
  if (scale != nullptr) *scale = c.scale;
  return c.result;
}

uint32_t VoTransformClassify(const double *matrix, double *inverse, double *scale, uint32_t *reflection) {
  if (matrix == nullptr) return kFlagSingular;
  double a[16];
  std::memcpy(a, matrix, sizeof a);  // the outputs may be the input
  double inv[16];
  (void)VoMatrixIdentity(inv);  // what stays when an inversion below is refused
  double sc = 0;
  uint32_t refl = 0;
  uint32_t result = 0;

  const double m3 = std::max({RowLength(a, 0, 3), RowLength(a, 1, 3), RowLength(a, 2, 3)});
  const double homogeneous = std::max(m3, std::fabs(a[15]));
  if (Significant(a[3], homogeneous) || Significant(a[7], homogeneous) || Significant(a[11], homogeneous)) {
    const double d = VoMatrixDeterminant(a);
    const double rows = RowLength(a, 0, 4) * RowLength(a, 1, 4) * RowLength(a, 2, 4) * RowLength(a, 3, 4);
    if (SingularDeterminant(d, rows)) {
      (void)VoMatrixInverse(a, 1.0, inv);
      result = kFlagSingular;
    } else {
      refl = d < 0;
      (void)VoMatrixInverse(a, d, inv);
      result = kFlagProjective;
    }
  } else {
    const bool translated = Significant(a[12], m3) || Significant(a[13], m3) || Significant(a[14], m3);
    const LinearClass lc = ClassifyLinearPart(a);
    sc = lc.scale;
    const double det = lc.determinant;
    if (lc.result == kFlagSingular) {
      (void)VoMatrixInverse(a, 1.0, inv);
      result = kFlagSingular;
    } else if (NearOne(a[15])) {
      if (lc.result == 0) {
        (void)VoMatrixIdentity(inv);
        if (translated) {
          for (int i = 0; i < 3; ++i) inv[12 + i] = 0.0 - a[12 + i];
          result = kFlagRigid;
        }
      } else {
        refl = det < 0;
        if (translated) {
          sc = 0;
          (void)VoMatrixInverse(a, det, inv);
        } else {
          Embed(inv, lc.inverse, 1.0);
        }
        result = lc.result;
      }
    } else if (!Significant(a[15], m3)) {
      (void)VoMatrixInverse(a, 1.0, inv);
      result = kFlagSingular;
    } else {
      if (det * a[15] < 0) {
        sc = 0;
        refl = 1;
      } else {
        sc = lc.result == 0 ? 1.0 / a[15] : 1.0;
      }
      if (translated)
        (void)VoMatrixInverse(a, det * a[15], inv);
      else
        Embed(inv, lc.inverse, 1.0 / a[15]);
      result = kFlagProjective;
    }
  }
  if (inverse != nullptr) std::memcpy(inverse, inv, sizeof inv);
  if (scale != nullptr) *scale = sc;
  if (reflection != nullptr) *reflection = refl;
  return result;
}

}  // namespace vo
