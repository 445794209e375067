// The JPEG driver's only contact with libjpeg: a compression session that
// takes rows and a decompression session that gives them.
//
// Invariants a reader must know:
// - every entry arms the library's error exit before it calls the library;
//   a library error posts message 793 with the library's text, destroys
//   the library object and makes that entry, and every later one, fail;
//   so does, with message 2852, a read that runs out of scan data (other
//   warnings are posted as 793 and the read goes on);
// - sessions live in memory from VoAllocate and are freed only by
//   JpegWriterFree and JpegReaderFree;
// - libjpeg keeps its own memory manager (malloc, no backing store, JPEGMEM
//   read by the library).
#pragma once

#include <cstdint>
#include <cstdio>

#include <vo/vo_types.h>

namespace vo::jpg {

struct JpegWriter;
struct JpegReader;

struct CompressSettings {
  uint32_t width;
  uint32_t height;
  uint32_t quality;     // 0..100, baseline tables forced
  uint32_t smoothing;   // 0..100
  const char *comment;  // written as a comment segment when not null or empty
};

// A started compression into out; null with *status 0x20000006 when memory
// runs out, 0x40000002 when the library fails (posted).
JpegWriter *JpegWriterBegin(std::FILE *out, const CompressSettings &settings, VtStatus *status);
// Compresses one row of width x 3 bytes red, green, blue.
bool JpegWriterRow(JpegWriter *w, const uint8_t *rgb);
// Finishes the file; false when the library fails.
bool JpegWriterFinish(JpegWriter *w);
// Destroys the library object (unfinished or not) and frees the session.
void JpegWriterFree(JpegWriter *w);

// Reads the header of the stream at its position; null with *status 2 when
// the header is incomplete or damaged, or the file has four components,
// 0x20000006 when memory runs out. Output is red, green, blue or grey. name (kept,
// not copied) names the file in messages.
JpegReader *JpegReaderOpen(std::FILE *in, const char *name, uint32_t *width, uint32_t *height,
                           VtStatus *status);
// Starts decompressing: 0, the memory status when the row cannot be made,
// else VO_STATUS_UNAVAILABLE.
VtStatus JpegReaderStart(JpegReader *r);
// Decompresses the next row into rgb (width x 3 bytes; grey repeated);
// false, with message 2852, when the scan data it needs is missing from
// the file.
bool JpegReaderRow(JpegReader *r, uint8_t *rgb);
bool JpegReaderFinish(JpegReader *r);
void JpegReaderFree(JpegReader *r);

}  // namespace vo::jpg
