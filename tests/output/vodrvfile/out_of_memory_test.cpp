// Every file driver writing a frame and reading it back with its n-th
// allocation failing, for n = 1, 2, ...: each run answers a failure or the
// whole image, and gives back what it made (the leak check sees the rest).

#include "file_fixture.h"
#include "kernel/vosystem/kernel_memory.h"

namespace vo::test {
namespace {

class OutOfMemory : public FileDriverTest {};

// Writes a 5 x 3 frame to the driver and reads it back through the
// driver's own header and image reads (the framework's read would try again
// after a failed header read); 0 only when the image read equals the rows
// written (JPEG: when it is read).
VtStatus RoundTrip(const char *driver) {
  VtDriverRecord *d = VoDriverFindFromName(driver);
  std::FILE *f = std::tmpfile();
  VtTypedValue v = TypedPointer(f);
  VtStatus st = VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &v);
  Bytes rows(5 * 3 * 3);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(16 * (i % 12));
  if (st == 0) st = VoDriverBeginFrame(d, 0, 4, 0, 2);
  for (uint32_t y = 0; y < 3 && st == 0; ++y) st = VoDriverWriteScan(d, y, rows.data() + 15 * y);
  if (st == 0) st = VoDriverEndFrame(d);
  VtImage *image = st == 0 ? VoImageCreate() : nullptr;
  if (st == 0 && image == nullptr) st = VO_STATUS_UNAVAILABLE;
  if (image != nullptr) {
    image->file = f;
    st = reinterpret_cast<VtDriverImageProc>(VoDriverOperationGet(d, VO_DRIVER_READ_HEADER))(image);
    if (st == 0) st = VoImageAllocateData(image);
    if (st == 0)
      st = reinterpret_cast<VtDriverImageProc>(VoDriverOperationGet(d, VO_DRIVER_READ_IMAGE))(image);
    image->file = nullptr;
  }
  if (st == 0 && std::string(driver) != "vodrvjpg" && !std::equal(rows.begin(), rows.end(), image->data))
    st = VO_STATUS_UNAVAILABLE;
  if (image != nullptr) (void)VoImageDestroy(image);
  v = TypedPointer(nullptr);
  (void)VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &v);
  (void)VoDriverEndFrame(d);  // gives back a frame a failed row left begun
  std::fclose(f);
  return st;
}

TEST_F(OutOfMemory, EveryDriverWritesAndReadsBackOrFailsWithoutLeaking) {
  for (const char *driver : {"vodrvbmp", "vodrvtga", "vodrvjpg"}) {
    SCOPED_TRACE(driver);
    EveryAllocationFails([&] { return RoundTrip(driver); });
  }
}

}  // namespace
}  // namespace vo::test
