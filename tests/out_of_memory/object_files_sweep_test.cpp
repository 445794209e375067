// The allocation-failure sweep over object files written and read through
// object streams with the default hooks (the stream id an open file). A
// stream answers 2 when memory runs out, with no diagnostic: those are the
// stream's own terms, so the sweep takes 2 (or the memory status) and checks
// that nothing was posted. The file is the caller's: a write that fails
// leaves it empty, or holding the records written before the failure and
// no end record (each record is encoded in memory first, so none is cut),
// so that reading it back fails at close.
#include <gtest/gtest.h>

#include <vo/vo_driver.h>
#include <vo/vo_object.h>

#include "platform/clock.h"
#include "support/allocation_sweep.h"
#include "support/object_file.h"
#include "sweep_files.h"

namespace vo::test {
namespace {

bool StreamFailure(VtStatus status) { return (status & 2u) != 0 || CarriesMemoryBit(status); }

class ObjectFilesSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    const int64_t one = 1;  // the header's seeds come from the clock
    platform::CalendarSecondsFix(&one);
    image_ = VoImageCreate();
    ASSERT_NE(image_, nullptr);
    image_->width = 4;
    image_->height = 3;
    ASSERT_EQ(VoImageAllocateData(image_), 0u);
    for (int i = 0; i < 4 * 3 * 3; ++i) image_->data[i] = static_cast<uint8_t>(20 * i);
  }
  void TearDown() override {
    EXPECT_EQ(VoImageDestroy(image_), 0u);
    platform::CalendarSecondsFix(nullptr);
    EXPECT_EQ(VoTerminate(), 0u);
  }

  // A string, a matrix (by value) and an image (by reference) into a new
  // file at path; the OR of the statuses.
  VtStatus FileWrite(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    VtStatus st = VoObjectOpen(f, 2);
    VtObjectValue v{};
    v.type = VO_OBJECT_STRING;
    v.value.s = const_cast<char *>("swept");
    if (st == 0) st = VoObjectWrite(f, &v);
    v = VtObjectValue{};
    v.type = VO_OBJECT_MATRIX;
    for (int i = 0; i < 16; ++i) v.value.doubles[i] = i / 4.0;
    if (st == 0) st = VoObjectWrite(f, &v);
    v = VtObjectValue{};
    v.type = VO_OBJECT_IMAGE;
    v.value.p = image_;
    if (st == 0) st = VoObjectWrite(f, &v);
    st |= VoObjectClose(f);
    std::fclose(f);
    return st;
  }

  // Every record of the file up to the end record, as text; read_ keeps
  // what the reads handed out.
  VtStatus FileRead(const std::string &path) { return vo::test::ObjectFileRead(path, &read_); }
  std::string ReadText() const {
    std::string text;
    for (const VtObjectValue &v : read_) {
      text += std::to_string(v.type) + ":";
      if (v.type == VO_OBJECT_STRING) text += v.value.s;
      if (v.type == VO_OBJECT_MATRIX) {
        for (double d : v.value.doubles) text += std::to_string(d) + " ";
      }
      if (const auto *image = static_cast<const VtImage *>(v.value.p); v.type == VO_OBJECT_IMAGE && image)
        text.append(reinterpret_cast<const char *>(image->data),
                    static_cast<size_t>(image->bytes_per_row) * image->height);
      text += ";";
    }
    return text;
  }
  void ReadFree() {
    for (const VtObjectValue &v : read_) {
      if (v.type == VO_OBJECT_STRING) VoDeallocate(v.value.s);
      if (v.type == VO_OBJECT_IMAGE) {
        EXPECT_EQ(VoImageDestroy(static_cast<VtImage *>(v.value.p)), 0u);
      }
    }
    read_.clear();
  }

  // Each call starts with no diagnostic recorded; a failure posts none.
  static SweptCall StreamCall(const std::string &name, std::function<VtStatus()> call) {
    SweptCall c;
    c.name = name;
    c.call = [call] {
      g_posted.clear();
      return call();
    };
    c.accepts = StreamFailure;
    c.exemption = "an object stream answers 2 on out of memory, posting nothing";
    return c;
  }

  VtImage *image_ = nullptr;
  std::vector<VtObjectValue> read_;
  vo_test::TempDir files_;
};

TEST_F(ObjectFilesSweep, AFailedWriteAnswersTwoAndLeavesOnlyWholeRecords) {
  const std::string path = files_.File("written.obj");
  ASSERT_EQ(FileWrite(path), 0u);
  ASSERT_EQ(FileRead(path), 0u);
  const std::string records = ReadText();
  ReadFree();
  SweptCall write = StreamCall("VoObjectOpen/Write/Close (writer)", [&] { return FileWrite(path); });
  write.outcome = [&] { return FileBytes(path); };
  write.after_failure = [&] {
    EXPECT_TRUE(g_posted.empty()) << "message " << g_posted.front().message;
    if (FileSize(path) <= 0) return;
    // Past its header the file holds whole records, the first of those a
    // clean write makes, and no end: it does not read back as valid.
    EXPECT_EQ(FileRead(path) & 2u, 2u) << "a failed write reads back whole";
    const std::string left = ReadText();
    ReadFree();
    EXPECT_EQ(records.compare(0, left.size(), left), 0) << "a failed write left " << left;
  };
  EXPECT_GT(SweepAllocationFailures(write).runs, 0u);
}

TEST_F(ObjectFilesSweep, AFailedReadAnswersTwoAndHandsNothingOutTwice) {
  const std::string path = files_.File("read.obj");
  ASSERT_EQ(FileWrite(path), 0u);
  SweptCall read = StreamCall("VoObjectOpen/Read/Close (reader)", [&] { return FileRead(path); });
  read.outcome = [&] { return ReadText(); };
  read.after_failure = [&] { EXPECT_TRUE(g_posted.empty()) << "message " << g_posted.front().message; };
  read.undo = [&] { ReadFree(); };
  EXPECT_GT(SweepAllocationFailures(read).runs, 0u);
}

}  // namespace
}  // namespace vo::test
