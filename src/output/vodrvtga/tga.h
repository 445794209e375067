// vodrvtga's private records: the module state, the header of a Targa file
// as read, and the writer's and reader's entries.
//
// Invariants a reader must know:
// - packets is non-null exactly while a frame is begun;
// - header_read names the stream (and header_image the image) whose header
//   was just read; it is cleared after every image read and every failed
//   header read, so that a stream reopened at the same address never skips
//   its header.
#pragma once

#include <cstdint>
#include <cstdio>

#include <vo/vo_driver.h>

namespace vo::tga {

constexpr size_t kHeaderBytes = 18;
constexpr size_t kExtensionBytes = 495;
constexpr size_t kFooterBytes = 26;

struct TargaHeader {
  uint32_t id_length;
  uint32_t map_type;
  uint32_t image_type;
  uint32_t map_first;
  uint32_t map_length;
  uint32_t map_entry_bits;
  uint32_t width;
  uint32_t height;
  uint32_t depth;
  uint32_t descriptor;
  uint64_t data_offset;
};

struct TgaState {
  std::FILE *out;        // the application's stream (VO_CONTROL_DRIVER_FILE)
  std::FILE *frame_out;  // the stream the begun frame writes to, set at its begin
  uint32_t compression;  // VO_CONTROL_DRIVER_COMPRESSION, 1 at start
  // The frame being written.
  uint8_t *packets;  // one encoded row, 4 x width bytes
  int32_t y0, y1;
  uint32_t width, height;
  uint32_t rows_written;
  // The file last read.
  std::FILE *header_read;       // the stream whose header was just read, or null
  const VtImage *header_image;  // the image it was read for
  TargaHeader header;
};

TgaState *State();

// Writer (writer.cpp).
VtStatus Open();
VtStatus FrameBegin(int32_t x0, int32_t x1, int32_t y0, int32_t y1);
VtStatus RowWrite(uint32_t y, void *pixels);
VtStatus FrameEnd();
void FrameRelease(TgaState *s);
// Encodes one row of byte-RGB pixels as run-length packets into out
// (room for 4 x width bytes); answers the bytes written.
size_t RowEncode(const uint8_t *rgb, uint32_t width, uint8_t *out);

// Reader (reader.cpp).
VtStatus HeaderRead(VtImage *image);
VtStatus ImageRead(VtImage *image);

}  // namespace vo::tga
