// A started kernel with the transform module, and helpers of the transform
// tests: transforms by construction, procedural classes, running out of
// pooled blocks.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/kernel_fixture.h"
#include "vomemman/pool.h"
#include "voxform/transform.h"

namespace vo::test {

class TransformTest : public PooledKernelTest {
 protected:
  void SetUp() override {
    PooledKernelTest::SetUp();
    InstallBefore();
    ASSERT_EQ(VoInstallModule(&VoEntryTransforms), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }
  void TearDown() override {
    for (VtTransform *t : made_) (void)VoTransformRelease(t);
    made_.clear();
    PooledKernelTest::TearDown();
  }
  // Modules installed ahead of the transform module (they start first).
  virtual void InstallBefore() {}
  // The module procedure the query answers (start, terminate, memory release).
  static VtModuleProc ModuleProcedure(uint32_t query) {
    VtTypedValue a{};
    VoEntryTransforms(query, &a);
    return reinterpret_cast<VtModuleProc>(a.value.fn);
  }
  // Keeps the transform until the end of the test.
  VtTransform *Keep(VtTransform *t) {
    EXPECT_NE(t, nullptr);
    if (t != nullptr) made_.push_back(t);
    return t;
  }
  VtTransform *Translation(double x, double y, double z) {
    VtTransform *t = Keep(VoTransformCreate());
    const double offset[3] = {x, y, z};
    EXPECT_EQ(VoTransformTranslate(t, offset), 0u);
    return t;
  }
  VtTransform *Defined(const std::vector<double> &m) { return Keep(VoTransformDefine(m.data())); }
  static std::vector<double> Diagonal(double a, double b, double c, double d) {
    return {a, 0, 0, 0, 0, b, 0, 0, 0, 0, c, 0, 0, 0, 0, d};
  }
  static std::vector<double> Matrix(VtTransform *t) {
    std::vector<double> m(16, -7.0);
    EXPECT_EQ(VoTransformGetMatrix(t, m.data()), 0u);
    return m;
  }
  // The kernel's time value, written through control 0x1000d.
  static void TimeSet(double t) {
    VtTypedValue v{};
    ASSERT_EQ(VoControlGet(VO_CONTROL_TIME_VALUE, &v), 0u);
    *static_cast<double *>(v.value.p) = t;
  }
  static size_t Members(VtTransform *list) {
    size_t n = 0;
    for (auto *node = static_cast<VtTransformListNode *>(list->data); node != nullptr; node = node->next) ++n;
    return n;
  }

 private:
  std::vector<VtTransform *> made_;
};

// A procedural transform of its own procedures: p -> (2x, y + x^2, z), with
// its inverse and the normal maps of that point map (the Jacobian's inverse
// transposed, and its transpose).
struct Bend {
  static VtStatus Point(double *out, const double *in, void *) {
    const double x = in[0], y = in[1], z = in[2];
    out[0] = 2 * x;
    out[1] = y + x * x;
    out[2] = z;
    return 0;
  }
  static VtStatus Back(double *out, const double *in, void *) {
    const double x = in[0] / 2, y = in[1] - x * x, z = in[2];
    out[0] = x;
    out[1] = y;
    out[2] = z;
    return 0;
  }
  // J = [[2, 2x, 0], [0, 1, 0], [0, 0, 1]] (row vectors: p' = p J locally);
  // normals map through J^-1 transposed.
  static VtStatus Normal(double *out, const double *p, const double *n, void *) {
    const double x = p[0];
    const double nx = n[0], ny = n[1], nz = n[2];
    double r[3] = {nx / 2 - x * ny, ny, nz};
    const double l = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    for (int k = 0; k < 3; ++k) out[k] = r[k] / l;
    return 0;
  }
  // p is the image point; the object point has x = p.x / 2.
  static VtStatus NormalBack(double *out, const double *p, const double *n, void *) {
    const double x = p[0] / 2;
    const double nx = n[0], ny = n[1], nz = n[2];
    double r[3] = {2 * nx + 2 * x * ny, ny, nz};
    const double l = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    for (int k = 0; k < 3; ++k) out[k] = r[k] / l;
    return 0;
  }
};

inline VtProceduralClassRecord *BendClass() {
  VtProceduralClassRecord *c = xform::ProceduralClassCreate();
  EXPECT_NE(c, nullptr);
  xform::ProceduralClassSetProcedure(c, 5, reinterpret_cast<VtProc>(&Bend::Point));
  xform::ProceduralClassSetProcedure(c, 6, reinterpret_cast<VtProc>(&Bend::Normal));
  xform::ProceduralClassSetProcedure(c, 7, reinterpret_cast<VtProc>(&Bend::Back));
  xform::ProceduralClassSetProcedure(c, 8, reinterpret_cast<VtProc>(&Bend::NormalBack));
  return c;
}

// A procedural transform answered through its matrices only.
struct MatrixOnly {
  double forward[16];
  double inverse[16];
  static VtStatus Get(void *data, const double **f, const double **i) {
    auto *m = static_cast<MatrixOnly *>(data);
    *f = m->forward;
    *i = m->inverse;
    return 0;
  }
};

// Blocks from every pool run out after the given number of allocations,
// until the end of the scope.
class BlocksRunOut {
 public:
  explicit BlocksRunOut(int allowed) {
    previous_ = reinterpret_cast<VtBlockAllocateProc>(VoCallBackGet(VO_CALLBACK_BLOCK_ALLOCATE));
    left_ = allowed;
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_BLOCK_ALLOCATE, reinterpret_cast<VtProc>(&Allocate)), 0u);
  }
  ~BlocksRunOut() { VoCallBackSet(VO_CALLBACK_BLOCK_ALLOCATE, reinterpret_cast<VtProc>(previous_)); }

 private:
  static void *Allocate(VtPool *pool) {
    if (left_ <= 0) return nullptr;
    --left_;
    return previous_(pool);
  }
  static inline VtBlockAllocateProc previous_ = nullptr;
  static inline int left_ = 0;
};

// The first components of a (floats or doubles) are near b.
template <class T>
void ExpectNear3(const T *a, std::initializer_list<double> b,
                 double tolerance = sizeof(T) == 4 ? 1e-6 : 1e-12) {
  int k = 0;
  for (double v : b) {
    EXPECT_NEAR(a[k], v, tolerance) << "component " << k;
    ++k;
  }
}

}  // namespace vo::test
