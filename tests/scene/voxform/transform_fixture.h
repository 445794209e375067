// A started kernel with the transform module, and helpers of its tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/kernel_fixture.h"
#include "kernel/vomemman/pool.h"
#include "scene/voxform/transform.h"

namespace vo::test {

// p -> (2x, y + x^2, z) and its inverse.
struct Bend {
  static VtStatus Point(double *out, const double *in, void *) {
    const double x = in[0], y = in[1] + x * x, z = in[2];
    return out[0] = 2 * x, out[1] = y, out[2] = z, 0;
  }
  static VtStatus Back(double *out, const double *in, void *) {
    const double x = in[0] / 2, y = in[1] - x * x, z = in[2];
    return out[0] = x, out[1] = y, out[2] = z, 0;
  }
};

// Transforms made by a test live until the module's pools go with the kernel.
class TransformTest : public PooledKernelTest {
 protected:
  void SetUp() override {
    PooledKernelTest::SetUp();
    InstallBefore();
    ASSERT_EQ(VoInstallModule(&VoEntryTransforms), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }
  virtual void InstallBefore() {}  // modules installed ahead of the transform module
  // The module procedure the query answers (start, terminate, memory release).
  static VtModuleProc ModuleProcedure(uint32_t query) {
    VtTypedValue a{};
    VoEntryTransforms(query, &a);
    return reinterpret_cast<VtModuleProc>(a.value.fn);
  }
  VtTransform *Translation(double x, double y, double z) {
    VtTransform *t = VoTransformCreate();
    const double offset[3] = {x, y, z};
    EXPECT_EQ(VoTransformTranslate(t, offset), 0u);
    return t;
  }
  VtTransform *Defined(const std::vector<double> &m) { return VoTransformDefine(m.data()); }
  VtTransform *Bent() {
    VtProceduralClassRecord *c = xform::ProceduralClassCreate();
    EXPECT_EQ(xform::ProceduralClassSetProcedure(c, 5, reinterpret_cast<VtProc>(&Bend::Point)), 0u);
    EXPECT_EQ(xform::ProceduralClassSetProcedure(c, 7, reinterpret_cast<VtProc>(&Bend::Back)), 0u);
    return xform::ProceduralTransformCreate(c, nullptr);
  }
  static std::vector<double> Diagonal(double a, double b, double c, double d) {
    return {a, 0, 0, 0, 0, b, 0, 0, 0, 0, c, 0, 0, 0, 0, d};
  }
  static std::vector<double> Matrix(VtTransform *t) {
    std::vector<double> m(16, -7.0);
    EXPECT_EQ(VoTransformGetMatrix(t, m.data()), 0u);
    return m;
  }
};

using Values = std::initializer_list<double>;

// The first components of a (floats or doubles) are near b.
template <class T>
void ExpectNear3(const T *a, Values b, double near = sizeof(T) == 4 ? 1e-6 : 1e-12) {
  int k = 0;
  for (double v : b) EXPECT_NEAR(a[k++], v, near) << "component " << k - 1;
}

// p goes to q through t and back through the inverse.
inline void ExpectThereAndBack(VtTransform *t, Values p, Values q) {
  float v[3];
  std::copy(p.begin(), p.end(), v);
  ASSERT_EQ(VoTransformPoint(v, v, t), 0u);
  ExpectNear3(v, q);
  ASSERT_EQ(VoTransformPointInverse(v, v, t), 0u);
  ExpectNear3(v, p);
}

// Every float operation answers the same in place as into another array (the
// normal forms take in as the normal at a fixed point).
inline void ExpectSameInPlace(VtTransform *t, const float (&in)[6]) {
  static const float p[3] = {0.25f, 0.5f, 0.75f};
  const auto same = [&](auto op) {
    std::vector<float> x(in, in + 6), y = x;
    EXPECT_EQ(op(y.data(), y.data(), t), op(x.data(), in, t));
    EXPECT_EQ(x, y);
  };
  for (auto op : {VoTransformPoint, VoTransformVector, VoTransformPlane, VoTransformHPoint, VoTransformBounds,
                  VoTransformPointInverse})
    same(op);
  for (auto op : {VoTransformNormal, VoTransformNormalInverse})
    same([op](float *o, const float *i, VtTransform *t) { return op(o, p, i, t); });
}

}  // namespace vo::test
