// Selective antialiasing on real worker threads: a flood that reaches up
// into bands already done is finished by the work farm running the job
// again, and the picture is the same for one band, bands of 4 rows and 0,
// 1 or 4 workers, banded or even; so is the whole antialiasing render's.

#include <gtest/gtest.h>

#include <vo/vo_multit.h>

#include "render/voshpost/ffaa_fixture.h"

namespace vo::test {
namespace {

class ThreadedFfaaTest : public FfaaTest {
 protected:
  static void Banding(uint32_t rows, uint32_t scheme) {
    VtTypedValue v = TypedNat32(rows);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_BAND_HEIGHT, &v), 0u);
    v = TypedWord(VtEnum, scheme);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_JOB_SCHEME, &v), 0u);
  }
  struct Picture {
    std::vector<float> colour;
    std::vector<uint32_t> stencil;
    bool operator==(const Picture &) const = default;
  };
};

TEST_F(ThreadedFfaaTest, AFloodReachingUpIntoBandsDoneIsFinishedAlikeForAnyWorkersAndBands) {
  Pattern::period = 0.07;
  const struct {
    int32_t workers;
    uint32_t rows, scheme;
  } runs[] = {{0, kHeight, VO_MT_SCHEME_BANDED}, {0, 4, VO_MT_SCHEME_BANDED}, {1, 4, VO_MT_SCHEME_BANDED},
              {4, 4, VO_MT_SCHEME_BANDED},       {4, 4, VO_MT_SCHEME_EVEN},   {4, 16, VO_MT_SCHEME_BANDED}};
  Picture first;
  for (const auto &r : runs) {
    Workers(0);
    Banding(kHeight, VO_MT_SCHEME_BANDED);
    VtScreenBuffer *b = Buffer(kWidth, kHeight);
    ASSERT_EQ(Trace(), 0u);
    // One seed low in the picture, on an edge of the checkerboard: the
    // edges it floods along run up through every band above.
    uint32_t seedX = 0;
    for (uint32_t x = 1; x < kWidth && seedX == 0; ++x)
      if (Colour(b, x, 44)[0] != Colour(b, x - 1, 44)[0]) seedX = x;
    ASSERT_NE(seedX, 0u);
    SetStencil(b, seedX, 44, 0xB0);
    Workers(r.workers);
    Banding(r.rows, r.scheme);
    ASSERT_EQ(Propagate(8, 1), 0u) << r.workers << " workers, bands of " << r.rows;
    // The request bits tell which bands asked: the rest is the picture.
    Picture p{Colours(b), Stencils(b)};
    for (uint32_t &s : p.stencil) s &= ~VO_PP_STENCIL_REQUEST;
    uint32_t highest = kHeight;
    for (uint32_t i = 0; i < p.stencil.size(); ++i)
      if (p.stencil[i] & VO_PP_STENCIL_DONE) highest = std::min(highest, i / kWidth);
    EXPECT_LT(highest, 8u) << "the flood reached the top bands";
    if (first.colour.empty())
      first = p;
    else
      EXPECT_TRUE(p == first) << r.workers << " workers, bands of " << r.rows << ", scheme " << r.scheme;
  }
}

TEST_F(ThreadedFfaaTest, TheAntialiasingRenderIsTheSameForAnyWorkerCount) {
  Square();
  std::vector<float> first;
  for (int32_t workers : {0, 4, 1}) {
    Workers(workers);
    VtScreenBuffer *b = Buffer(kWidth, kHeight, VO_SB_COLOUR);
    const uint64_t rays = Pattern::rays;
    ASSERT_EQ(VoExecute(VO_EXECUTE_PP_ANTIALIAS), 0u) << workers;
    // The propagator's rays on top of the render's (the same every time).
    EXPECT_GT(Pattern::rays - rays, 0u);
    const std::vector<float> picture = Colours(b);
    if (first.empty())
      first = picture;
    else
      EXPECT_EQ(picture, first) << workers << " workers";
  }
}

}  // namespace
}  // namespace vo::test
