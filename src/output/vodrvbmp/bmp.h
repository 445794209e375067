// vodrvbmp's private records: the module state, the header of a bitmap
// file as read, and the writer's and reader's entries.
//
// Invariants a reader must know:
// - rows is non-null exactly while a frame is begun (between a successful
//   begin frame and its end frame);
// - a header that BitmapHeaderRead accepted has sides 1..65535, a depth of
//   4, 8, 16 or 24 bits, and, uncompressed, data the file can hold but for
//   its last row.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>

#include <vo/vo_driver.h>

namespace vo::bmp {

constexpr size_t kHeaderBytes = 54;

struct BitmapHeader {
  uint32_t data_offset;
  uint32_t info_size;
  int32_t width;
  int32_t height;
  uint32_t bits;
  uint32_t compression;
  uint32_t palette_entry;  // 3 bytes with a core header, else 4
};

struct BmpState {
  std::FILE *out;        // the application's stream (VO_CONTROL_DRIVER_FILE)
  std::FILE *frame_out;  // the stream the begun frame writes to, set at its begin
  uint8_t *rows;         // the frame's rows, stride bytes each
  size_t stride;
  int32_t x0, x1, y0, y1;
};

BmpState *State();

// Writer (writer.cpp).
VtStatus FrameBegin(int32_t x0, int32_t x1, int32_t y0, int32_t y1);
VtStatus RowStore(uint32_t y, void *pixels);
VtStatus FrameEnd();
void FrameRelease(BmpState *s);

// Reader (reader.cpp).
VtStatus HeaderRead(VtImage *image);
VtStatus ImageRead(VtImage *image);

}  // namespace vo::bmp
