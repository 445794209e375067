// 4x4 matrices of doubles, row by row: element (r, c) at 4r + c.

#include <cmath>
#include <cstring>

#include "kernel/vosystem/kernel.h"

namespace vo {

namespace {

// Determinant of the 3x3 minor without row r and column c.
double Minor(const double *m, int r, int c) {
  int rows[3], cols[3];
  for (int i = 0, n = 0; i < 4; ++i)
    if (i != r) rows[n++] = i;
  for (int j = 0, n = 0; j < 4; ++j)
    if (j != c) cols[n++] = j;
  auto at = [&](int i, int j) { return m[rows[i] * 4 + cols[j]]; };
  return at(0, 0) * (at(1, 1) * at(2, 2) - at(1, 2) * at(2, 1)) -
         at(0, 1) * (at(1, 0) * at(2, 2) - at(1, 2) * at(2, 0)) +
         at(0, 2) * (at(1, 0) * at(2, 1) - at(1, 1) * at(2, 0));
}

}  // namespace

VtStatus VoMatrixIdentity(double *m) {
  if (m == nullptr) return VO_STATUS_BAD_ARGUMENT;
  for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0 : 0.0;
  return 0;
}

VtStatus VoMatrixCopy(double *destination, const double *source) {
  if (destination == nullptr || source == nullptr) return VO_STATUS_BAD_ARGUMENT;
  std::memmove(destination, source, 16 * sizeof(double));
  return 0;
}

VtStatus VoMatrixMultiply(double *result, const double *a, const double *b) {
  if (result == nullptr || a == nullptr || b == nullptr) return VO_STATUS_BAD_ARGUMENT;
  // Built aside, so the result may be one of the factors.
  double out[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0.0;
      for (int k = 0; k < 4; ++k) s += a[i * 4 + k] * b[k * 4 + j];
      out[i * 4 + j] = s;
    }
  std::memcpy(result, out, sizeof out);
  return 0;
}

double VoMatrixDeterminant(const double *m) {
  if (m == nullptr) return 0.0;
  double d = 0.0;
  for (int c = 0; c < 4; ++c) d += ((c & 1) ? -1.0 : 1.0) * m[c] * Minor(m, 0, c);
  return d;
}

VtStatus VoMatrixInverse(const double *m, double determinant, double *result) {
  if (m == nullptr || result == nullptr) return VO_STATUS_BAD_ARGUMENT;
  const double scale = 1.0 / determinant;
  if (determinant == 0.0 || !std::isfinite(determinant) || !std::isfinite(scale))
    return VO_STATUS_BAD_ARGUMENT;  // singular: the result is left as it was
  double out[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[i * 4 + j] = (((i + j) & 1) ? -1.0 : 1.0) * Minor(m, j, i) * scale;
  std::memcpy(result, out, sizeof out);
  return 0;
}

}  // namespace vo
