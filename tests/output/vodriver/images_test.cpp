// Images: their life cycle, reading a file by asking the drivers, copying
// to a driver; sub-regions; and a worker's copy of the framework's state.

#include <climits>
#include <cstdio>

#include "driver_fixture.h"
#include "output/vodriver/images.h"
#include "kernel/vosystem/context.h"

namespace vo::test {
namespace {

// Header and image readers of the test drivers: the header read logs the
// byte at the stream's position and answers from a list (last one repeats).
template <class D>
struct Reader {
  static inline std::vector<VtStatus> answers;
  static inline int32_t width = 2, height = 1;
  static VtStatus Header(VtImage *image) {
    const int c = std::fgetc(image->file);
    D::Log(std::string("header ") + static_cast<char>(c));
    const VtStatus st = answers.front();
    if (answers.size() > 1) answers.erase(answers.begin());
    image->width = width;
    image->height = height;
    image->bits = 24;
    return st;
  }
  static VtStatus Read(VtImage *image) {
    D::Log("read");
    for (int32_t i = 0; i < image->bytes_per_row * image->height; ++i)
      image->data[i] = static_cast<uint8_t>(i);
    return 0;
  }
  static void Give(std::vector<VtStatus> a, const char *suffix) {
    answers = std::move(a);
    D::Give(VO_DRIVER_READ_HEADER, &Header);
    D::Give(VO_DRIVER_READ_IMAGE, &Read);
    if (suffix != nullptr) D::controls[VO_CONTROL_DRIVER_FILE_SUFFIX] = TypedString(suffix);
  }
};

// An image of width x height with pixel (x, y) = (y, x, 7).
VtImage *Filled(int32_t width, int32_t height) {
  VtImage *image = DriverTest::ImageOf(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t *p = image->data + y * image->bytes_per_row + x * 3;
      p[0] = static_cast<uint8_t>(y);
      p[1] = static_cast<uint8_t>(x);
      p[2] = 7;
    }
  return image;
}

int g_hook_calls = 0;
void CountDestroyed(VtImage *) { ++g_hook_calls; }

TEST_F(DriverTest, ImagesKeepTheirDataAndNeverFreeACallersBlock) {
  driver::ImageDestroyHookSet(&CountDestroyed);
  VtImage *image = VoImageCreate();
  EXPECT_TRUE(driver::ImageIsLive(image));
  EXPECT_EQ(image->bits * 10 + image->mode, 240);
  EXPECT_EQ(VoImageAllocateData(image), driver::kUnknown);  // no size yet
  image->width = 4;
  image->height = 3;
  image->x0 = 1;
  image->x1 = 2;  // a smaller valid region; allocation makes it the whole image
  ASSERT_EQ(VoImageAllocateData(image), 0u);
  EXPECT_EQ(image->bytes_per_row, 12);  // 3 x 4
  EXPECT_EQ(image->x0 + image->x1 * 10 + image->y1 * 100, 0 + 30 + 200);
  for (int i = 0; i < 36; ++i) image->data[i] = static_cast<uint8_t>(i);
  VtImage *dup = nullptr;
  image->x1 = 2;
  char name[] = "named";
  image->name = TextCopy(name);
  ASSERT_EQ(VoImageDup(image, &dup), 0u);
  EXPECT_EQ(dup->x1 * 10 + dup->y1, 32);  // the whole image
  EXPECT_STREQ(dup->name, "named");
  EXPECT_NE(dup->name, image->name);
  EXPECT_EQ(std::vector<uint8_t>(dup->data, dup->data + 36),
            std::vector<uint8_t>(image->data, image->data + 36));
  EXPECT_NE(dup->data, image->data);
  // A caller's block: replaced but not freed (495), refused on release (494).
  uint8_t mine[36] = {};
  dup->data = mine;
  g_posted.clear();
  EXPECT_EQ(VoImageAllocateData(dup), 0u);
  EXPECT_NE(dup->data, mine);
  EXPECT_EQ(CountPosted(messages::kImageDataNotReplaced), 1);
  dup->data = mine;
  EXPECT_EQ(VoImageDeallocateData(dup), driver::kUnknown);
  EXPECT_EQ(VoImageDestroy(dup), 0u);  // the caller's block stays the caller's
  EXPECT_EQ(CountPosted(messages::kImageDataNotOwned), 2);
  EXPECT_FALSE(driver::ImageIsLive(dup));
  EXPECT_EQ(g_hook_calls, 1);  // the hook runs before the image is freed
  EXPECT_EQ(VoImageDestroy(dup), driver::kNotInList);
  EXPECT_EQ(g_hook_calls, 1);
  // Sizes that no image can have: 18, nothing allocated.
  for (auto [w, h, bits] : {std::tuple{70000, 70000, 24}, {-4, 3, 24}, {4, 3, 16}, {4, 0, 8}}) {
    image->width = w;
    image->height = h;
    image->bits = bits;
    EXPECT_EQ(VoImageAllocateData(image), driver::kUnknown);
  }
  EXPECT_EQ(CountPosted(messages::kImageSizeRefused), 4);
  VtImage foreign{};
  EXPECT_EQ(VoImageAllocateData(&foreign), driver::kUnknown);
  EXPECT_EQ(VoImageDup(&foreign, &dup), driver::kUnknown);
  EXPECT_EQ(dup, nullptr);
  EXPECT_EQ(VoImageDestroy(&foreign), driver::kNotInList);
}

TEST_F(DriverTest, ReadingAFileAsksTheDriversBySuffixThenAll) {
  vo_test::TempDir dir;
  const std::string upper = dir.File("X.BMP"), jpeg = dir.File("x.jpeg"), short_name = "a.b";
  for (const std::string &path : {upper, jpeg}) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    std::fputs("QZ", f);
    std::fclose(f);
  }
  ModeOne();
  Reader<DriverA>::Give({0}, ".bmp");
  Reader<DriverB>::Give({5}, "tga");
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  VoDriverCreate(&DriverB::Query);  // the head of the list: asked first in the walk
  // "X.BMP" matches ".bmp"; the header read sees the file's first byte.
  VtImage *image = VoImageRead(upper.c_str());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(Log(), (Lines{"a header Q", "a read"}));
  EXPECT_EQ(image->width * 10 + image->height, 21);
  EXPECT_EQ(image->data[5], 5);
  EXPECT_STREQ(image->name, upper.c_str());
  EXPECT_NE(image->name, upper.c_str());
  EXPECT_EQ(image->file, nullptr);
  // "x.jpeg" has no three-letter suffix: every driver in list order, each
  // from the start of the stream.
  Reader<DriverA>::answers = {0};
  ASSERT_NE(VoImageRead(jpeg.c_str()), nullptr);
  EXPECT_EQ(Log(), (Lines{"b header Q", "a header Q", "a read"}));
  // A matching driver whose header read fails is offered the file again.
  Reader<DriverA>::answers = {9, 0};
  ASSERT_NE(VoImageRead(upper.c_str()), nullptr);
  EXPECT_EQ(Log(), (Lines{"a header Q", "b header Q", "a header Q", "a read"}));
  // Nobody reads it: 518, no image left behind.
  Reader<DriverA>::answers = {9};
  g_posted.clear();
  EXPECT_EQ(VoImageRead(upper.c_str()), nullptr);
  EXPECT_EQ(CountPosted(messages::kImageFileNotRead), 1);
  // A hostile header size is refused before any allocation.
  Reader<DriverA>::answers = {0};
  Reader<DriverA>::width = -70000;
  EXPECT_EQ(VoImageRead(upper.c_str()), nullptr);
  Reader<DriverA>::width = 2;
  // Missing files (517) and names too short for a suffix.
  EXPECT_EQ(VoImageRead(dir.File("none.bmp").c_str()), nullptr);
  EXPECT_EQ(CountPosted(messages::kImageFileNotOpened), 1);
  Log();
  EXPECT_EQ(VoImageReadFromFile(nullptr, short_name.c_str()), nullptr);
  EXPECT_TRUE(Log().empty());
  (void)a;
}

TEST_F(DriverTest, CopyingAnImageSendsItsRowsAtItsOffsets) {
  ModeOne();
  DriverA::GiveRaster();
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  ASSERT_EQ(VoDriverSet(a), 0u);
  Log();
  VtImage *image = Filled(2, 8);
  image->yoffset = -5;
  // The frame starts at row 0; row y goes to y - 5, rows 0-4 are skipped.
  EXPECT_EQ(VoDriverCopyImage(nullptr, image), 0u);
  EXPECT_EQ(Log(), (Lines{"a accept 2", "a frame 0 1 0 2", "a row 0 5,0,7,5,1,7", "a row 1 6,0,7,6,1,7",
                          "a row 2 7,0,7,7,1,7", "a end"}));
  // x offset -1: the first pixel of each row is skipped; a valid region
  // reaching beyond the image is cut to it.
  image->yoffset = 0;
  image->xoffset = -1;
  image->x1 = 50;
  image->y1 = 1;
  EXPECT_EQ(VoDriverCopyImage(nullptr, image), 0u);
  EXPECT_EQ(Log(), (Lines{"a accept 2", "a frame 0 0 0 1", "a row 0 0,1,7", "a row 1 1,1,7", "a end"}));
  // Device pixels: 24 bits give r x 65536 + g x 256 + b: (1, 1, 7) = 65536 + 256 + 7 = 65799.
  image->xoffset = 0;
  image->mode = VO_IMAGE_MODE_DEVICE;
  EXPECT_EQ(VoDriverCopyImage(nullptr, image), 0u);
  // (0, 0, 7) = 7; (0, 1, 7) = 263; (1, 0, 7) = 65543.
  EXPECT_EQ(Log(),
            (Lines{"a accept 2", "a frame 0 1 0 1", "a words 0 7,263", "a words 1 65543,65799", "a end"}));
  VtImage *indexed = ImageOf(3, 1, true);
  indexed->data[0] = 9;
  indexed->data[1] = 200;
  indexed->data[2] = 255;
  indexed->mode = VO_IMAGE_MODE_DEVICE;
  EXPECT_EQ(VoDriverCopyImage(nullptr, indexed), 0u);
  EXPECT_EQ(Log(), (Lines{"a accept 2", "a frame 0 2 0 0", "a words 0 9,200,255", "a end"}));
  // Mode 2 is not sent (642); a refusal of raster output is 2 (641).
  indexed->mode = VO_IMAGE_MODE_INDEXED;
  g_posted.clear();
  EXPECT_EQ(VoDriverCopyImage(nullptr, indexed), driver::kNotHandled);
  EXPECT_EQ(CountPosted(messages::kImageModeNotHandled), 1);
  DriverA::answer = 3;
  EXPECT_EQ(VoDriverCopyImage(nullptr, image), driver::kUnavailable);
  EXPECT_EQ(CountPosted(messages::kDriverRefusedRaster), 1);
  EXPECT_EQ(VoDriverCopyImage(nullptr, nullptr), driver::kUnknown);
  EXPECT_EQ(CountPosted(messages::kImageCopyWithoutImage), 1);
  // A named driver is enabled first, and stays enabled: multi-output lasts.
  DriverA::answer = 0;
  DriverB::GiveRaster();
  VtDriverRecord *b = VoDriverCreate(&DriverB::Query);
  Log();
  image->mode = VO_IMAGE_MODE_RGB;
  EXPECT_EQ(VoDriverCopyImage(b, image), 0u);
  EXPECT_EQ(VoDriverGet(), State()->multi_driver);
  EXPECT_EQ(Log(), (Lines{"b open", "b accept 2", "b frame 0 1 0 1", "b row 0 0,0,7,0,1,7",
                          "b row 1 1,0,7,1,1,7", "b end"}));
}

TEST_F(DriverTest, SubRegionsAreTheDriversOwnOrCollected) {
  // A driver that renders sub-regions itself is sized under MODE 0.
  DriverC::GiveRaster();
  DriverC::capability = VO_DRIVER_CAPABILITY_SUB_REGION;
  DriverC::controls[VO_CONTROL_DRIVER_WIDTH] = TypedNat32(0);
  DriverC::controls[VO_CONTROL_DRIVER_HEIGHT] = TypedNat32(0);
  VtDriverRecord *c = VoDriverCreate(&DriverC::Query);
  ASSERT_EQ(VoDriverGet(), c);
  Log();
  VtSubRegion region{0, 9, 0, 4, 0, 0};
  EXPECT_EQ(VoDriverSubRegionBegin(nullptr, &region), 0u);
  ASSERT_EQ(DriverC::sets.size(), 2u);
  EXPECT_EQ(DriverC::sets[0].first * 100 + DriverC::sets[0].second.value.u,
            VO_CONTROL_DRIVER_WIDTH * 100 + 10);
  EXPECT_EQ(DriverC::sets[1].first * 100 + DriverC::sets[1].second.value.u,
            VO_CONTROL_DRIVER_HEIGHT * 100 + 5);
  EXPECT_EQ(c->sub_region_mode * 10 + Current()->sub_region_mode, 11u);
  uint8_t block[2 * 2 * 3] = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
  EXPECT_EQ(VoDriverWriteBlock(nullptr, 8, 3, 2, 2, block), 0u);
  // Clipped to the region: of the block at (9, 4) only its first pixel.
  EXPECT_EQ(VoDriverWriteBlock(nullptr, 9, 4, 2, 2, block), 0u);
  EXPECT_EQ(VoDriverSubRegionBegin(nullptr, &region), driver::kSubRegionState);  // begun twice
  EXPECT_EQ(VoDriverSubRegionEnd(nullptr), 0u);
  EXPECT_EQ(VoDriverSubRegionEnd(nullptr), driver::kSubRegionState);  // ended alone
  EXPECT_EQ(Log(), (Lines{"c frame 8 9 3 4", "c row 3 1,1,1,2,2,2", "c row 4 3,3,3,4,4,4", "c frame 9 9 4 4",
                          "c row 4 1,1,1"}));
  // Under a Floyd-Steinberg conversion rows must come in order: collected.
  static driver::ColourConversion diffusion{};
  diffusion.conversion = driver::kConversionFloydSteinberg;
  Current()->conversion = &diffusion;
  EXPECT_EQ(VoDriverSubRegionBegin(nullptr, &region), 0u);
  EXPECT_EQ(Current()->sub_region_mode, static_cast<uint32_t>(driver::kCollected));
  EXPECT_EQ(VoDriverSubRegionEnd(nullptr), 0u);
  EXPECT_EQ(Log().size(), 6u);  // accept, then rows 0 to 4 of the region
  Current()->conversion = nullptr;

  // Any other driver: blocks are collected and sent at the end.
  DriverA::GiveRaster();
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  ASSERT_EQ(VoDriverSet(a), 0u);
  Log();
  VtSubRegion small{0, 1, 0, 1, 0, 0};
  ASSERT_EQ(VoDriverSubRegionBegin(nullptr, &small), 0u);
  ASSERT_NE(State()->temporary, nullptr);
  EXPECT_EQ(VoDriverWriteBlock(nullptr, 0, 0, 1, 2, block), 0u);
  EXPECT_EQ(VoDriverWriteBlock(nullptr, 1, 0, 1, 2, block + 6), 0u);
  EXPECT_EQ(VoDriverWriteBlock(nullptr, 5, 5, 1, 1, block), VO_STATUS_BAD_ARGUMENT);  // wholly outside
  EXPECT_EQ(VoDriverWriteBlock(nullptr, 0, 0, 0, 1, block), driver::kUnknown);
  EXPECT_TRUE(Log().empty());
  DriverA::width = 2;
  EXPECT_EQ(VoDriverSubRegionEnd(nullptr), 0u);
  EXPECT_EQ(Log(), (Lines{"a accept 2", "a row 0 1,1,1,3,3,3", "a row 1 2,2,2,4,4,4"}));
  EXPECT_EQ(State()->temporary, nullptr);
  EXPECT_EQ(a->sub_region_mode + Current()->sub_region_mode, 0u);
  // Blocks of an ignored sub-region are dropped; outside one they are 18.
  VtSubRegion ignored{0, 1, 0, 1, 1, 0};
  ASSERT_EQ(VoDriverSubRegionBegin(nullptr, &ignored), 0u);
  EXPECT_EQ(VoDriverWriteBlock(nullptr, 0, 0, 1, 1, block), 0u);
  EXPECT_EQ(VoDriverSubRegionEnd(nullptr), 0u);
  EXPECT_EQ(VoDriverWriteBlock(nullptr, 0, 0, 1, 1, block), driver::kUnknown);
  // Inverted, negative and huge regions.
  for (VtSubRegion bad : {VtSubRegion{3, 1, 0, 1, 0, 0}, VtSubRegion{-1, 1, 0, 1, 0, 0},
                          VtSubRegion{0, INT32_MAX, 0, 1, 0, 0}}) {
    EXPECT_EQ(VoDriverSubRegionBegin(nullptr, &bad), VO_STATUS_BAD_ARGUMENT);
  }
  VtSubRegion huge{0, 60000, 0, 60000, 0, 0};  // 10^10 bytes: refused, nothing begun
  EXPECT_EQ(VoDriverSubRegionBegin(nullptr, &huge), driver::kUnknown);
  EXPECT_EQ(VoDriverSubRegionEnd(nullptr), driver::kSubRegionState);
  EXPECT_TRUE(Log().empty());
}

TEST_F(DriverTest, AWorkersCopyOwnsItsBuffersAndStartsOnTheNullDriver) {
  ModeOne();
  DriverA::GiveRaster();
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  ASSERT_EQ(VoDriverSet(a), 0u);
  float row[1000 * 3] = {};
  ASSERT_EQ(VoDriverBeginFrame(nullptr, 0, 1, 0, 0), 0u);
  ASSERT_EQ(VoDriverWriteScanRGBFloat(nullptr, 0, row), 0u);
  driver::DriverState *master = State();
  uint8_t *master_row = master->row_bytes;
  VtStatus st = 0;
  ContextCopyTable *table = ContextCopiesMake(&st);
  ASSERT_EQ(st, 0u);
  ContextCopiesInstall(table);
  driver::DriverState *copy = State();
  ASSERT_NE(copy, master);
  EXPECT_EQ(copy->current, Null());
  EXPECT_EQ(copy->row_bytes, nullptr);
  EXPECT_EQ(copy->depth, 1u);
  // The copy's fallback grows its own buffer.
  ASSERT_EQ(VoDriverBeginFrame(a, 0, 999, 0, 0), 0u);
  DriverA::width = 1;
  EXPECT_EQ(VoDriverWriteScanRGBFloat(a, 0, row), 0u);
  EXPECT_NE(copy->row_bytes, master_row);
  EXPECT_EQ(copy->row_size, 3000u);
  // Its current record holds the null driver's procedures: callable.
  EXPECT_EQ(VoDriverEndFrame(nullptr), driver::kNotHandled);
  ContextCopiesInstall(nullptr);
  EXPECT_EQ(ContextCopiesFree(table), 0u);
  // The master's buffer is untouched and still in use.
  EXPECT_EQ(master->row_bytes, master_row);
  EXPECT_EQ(VoDriverBeginFrame(nullptr, 0, 1, 0, 0), 0u);
  EXPECT_EQ(VoDriverWriteScanRGBFloat(nullptr, 0, row), 0u);
}

}  // namespace
}  // namespace vo::test
