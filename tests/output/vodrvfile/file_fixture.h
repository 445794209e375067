// The library started as an application starts it, with the file drivers
// installed; byte-vector files behind real streams; a stream that fails
// after a given number of bytes; and reading back through VoImageReadFromFile.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <vo/vo_driver.h>

#include "support/kernel_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

using Bytes = std::vector<uint8_t>;

// A file of at most 64 KiB must not make a reader ask for more than this in
// one allocation, unless its data really decodes to that many pixels (none of
// the malformed corpora's inputs does: their images are a few rows).
constexpr uint64_t kMostAllocatedForASmallFile = uint64_t{64} << 20;
constexpr size_t kSmallFile = size_t{64} << 10;

inline void Put16(Bytes &b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes &b, uint32_t v) {
  Put16(b, v);
  Put16(b, v >> 16);
}
inline uint32_t Get16(const Bytes &b, size_t at) { return b[at] | (uint32_t{b[at + 1]} << 8); }
inline uint32_t Get32(const Bytes &b, size_t at) { return Get16(b, at) | (Get16(b, at + 2) << 16); }

// A temporary stream holding the bytes, at its start.
inline std::FILE *StreamOf(const Bytes &bytes) {
  std::FILE *f = std::tmpfile();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

inline Bytes Contents(std::FILE *f) {
  std::fflush(f);
  std::rewind(f);
  Bytes b;
  for (int c; (c = std::fgetc(f)) != EOF;) b.push_back(static_cast<uint8_t>(c));
  return b;
}

// A write-only stream that takes limit bytes and then fails.
inline std::FILE *FailingStream(size_t limit) {
  static size_t taken;
  static size_t allowed;
  taken = 0;
  allowed = limit;
  cookie_io_functions_t io{};
  io.write = [](void *, const char *, size_t n) -> ssize_t {
    if (taken + n > allowed) return -1;
    taken += n;
    return static_cast<ssize_t>(n);
  };
  io.seek = [](void *, off64_t *at, int) -> int { return *at >= 0 ? 0 : -1; };
  std::FILE *f = fopencookie(nullptr, "w", io);
  setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

// The file with one seeded bit flipped in a byte of [from, min(to, size));
// seed advances, so that successive calls make a reproducible corpus.
inline Bytes Flipped(const Bytes &file, uint32_t &seed, size_t from = 0, size_t to = SIZE_MAX) {
  Bytes b = file;
  seed = seed * 1103515245 + 12345;
  b[from + (seed >> 8) % (std::min(to, b.size()) - from)] ^= static_cast<uint8_t>(1u << ((seed >> 4) % 8));
  return b;
}

class FileDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::internal::CaptureStderr();
    ASSERT_EQ(VoInitialise(), 0u);
    (void)testing::internal::GetCapturedStderr();
    ASSERT_EQ(vo_test::Record(), 0u);
    g_posted.clear();
  }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }

  static VtDriverRecord *Driver(const char *name) {
    VtDriverRecord *d = VoDriverFindFromName(name);
    EXPECT_NE(d, nullptr) << name;
    return d;
  }
  static VtStatus FileSet(VtDriverRecord *d, std::FILE *f) {
    const VtTypedValue v = TypedPointer(f);
    return VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &v);
  }
  // Renders rows (width x 3 bytes each, top row first) as one frame at
  // (0, 0) into a temporary stream; answers the file.
  static Bytes Render(VtDriverRecord *d, int32_t width, std::vector<Bytes> rows, VtStatus *status = nullptr) {
    std::FILE *f = std::tmpfile();
    EXPECT_EQ(FileSet(d, f), 0u);
    VtStatus st = VoDriverBeginFrame(d, 0, width - 1, 0, static_cast<int32_t>(rows.size()) - 1);
    for (size_t y = 0; y < rows.size() && st == 0; ++y)
      st = VoDriverWriteScan(d, static_cast<uint32_t>(y), rows[y].data());
    st |= VoDriverEndFrame(d);
    if (status != nullptr)
      *status = st;
    else
      EXPECT_EQ(st, 0u);
    Bytes b = Contents(f);
    EXPECT_EQ(FileSet(d, nullptr), 0u);  // the driver keeps no closed stream
    std::fclose(f);
    return b;
  }
  // The file read back as an image's bytes (empty when no image is read).
  static Bytes ReadBack(const Bytes &file, const char *name, int32_t *width = nullptr,
                        int32_t *height = nullptr) {
    std::FILE *f = StreamOf(file);
    VtImage *image = VoImageReadFromFile(f, name);
    std::fclose(f);
    if (image == nullptr) return {};
    if (width != nullptr) *width = image->width;
    if (height != nullptr) *height = image->height;
    Bytes b(image->data, image->data + static_cast<size_t>(image->bytes_per_row) * image->height);
    EXPECT_EQ(VoImageDestroy(image), 0u);
    return b;
  }
  // The file read back through VoImageReadFromFile under the image pixel
  // limit (the default again afterwards): whether an image was read.
  static bool ReadUnderLimit(const Bytes &file, const char *name, uint32_t limit) {
    VtTypedValue v = TypedNat32(limit);
    EXPECT_EQ(VoControlSet(VO_CONTROL_IMAGE_PIXEL_LIMIT, &v), 0u);
    const bool read = !ReadBack(file, name).empty();
    v = TypedNat32(VO_IMAGE_PIXEL_LIMIT_DEFAULT);
    EXPECT_EQ(VoControlSet(VO_CONTROL_IMAGE_PIXEL_LIMIT, &v), 0u);
    return read;
  }
  // The driver's own header read of the file: its status, and in
  // *allocations how many allocations it made.
  static VtStatus HeaderRead(VtDriverRecord *d, const Bytes &file, uint64_t *allocations) {
    auto header = reinterpret_cast<VtDriverImageProc>(VoDriverOperationGet(d, VO_DRIVER_READ_HEADER));
    std::FILE *f = StreamOf(file);
    VtImage *image = VoImageCreate();
    image->file = f;
    VtStatus st = 0;
    *allocations = AllocationsOf([&] { st = header(image); });
    image->file = nullptr;
    EXPECT_EQ(VoImageDestroy(image), 0u);
    std::fclose(f);
    return st;
  }
  // The driver's own header and image reads of the file; *status gets the
  // first failing status (0 when both pass); answers the image's bytes.
  static Bytes DriverRead(VtDriverRecord *d, const Bytes &file, VtStatus *status, int32_t *width = nullptr) {
    auto header = reinterpret_cast<VtDriverImageProc>(VoDriverOperationGet(d, VO_DRIVER_READ_HEADER));
    auto read = reinterpret_cast<VtDriverImageProc>(VoDriverOperationGet(d, VO_DRIVER_READ_IMAGE));
    std::FILE *f = StreamOf(file);
    VtImage *image = VoImageCreate();
    image->file = f;
    Bytes b;
    *status = header(image);
    if (*status == 0) *status = VoImageAllocateData(image);
    if (*status == 0) *status = read(image);
    if (*status == 0)
      b.assign(image->data, image->data + static_cast<size_t>(image->bytes_per_row) * image->height);
    if (width != nullptr) *width = image->width;
    image->file = nullptr;
    EXPECT_EQ(VoImageDestroy(image), 0u);
    std::fclose(f);
    return b;
  }
  // Every truncation of the file and flips seeded bit flips in its first
  // window bytes through the driver's own reads: each answers a status or an
  // image (the sanitizers and the leak check see anything else). Answers the
  // largest single allocation any of the reads made, image included.
  static uint64_t Malformed(VtDriverRecord *d, const Bytes &file, uint32_t &seed, int flips,
                            size_t window = SIZE_MAX) {
    VtStatus st = 0;
    uint64_t largest = 0;
    const auto read = [&](const Bytes &b) {
      largest = std::max(largest, LargestAllocationOf([&] { DriverRead(d, b, &st); }));
    };
    for (size_t n = 0; n < file.size(); ++n) read(Bytes(file.begin(), file.begin() + n));
    for (int i = 0; i < flips; ++i) read(Flipped(file, seed, 0, window));
    return largest;
  }
};

}  // namespace vo::test
