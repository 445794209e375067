// libjpeg behind the JPEG driver. Each entry calls setjmp first and holds
// only trivially destructible locals, so that the error exit's longjmp
// skips no destructor; locals changed after setjmp are volatile. The
// library's objects live in sessions from VoAllocate, whose addresses are
// fixed before setjmp.

#include "output/vodrvjpg/jpeg_glue.h"

#include <csetjmp>
#include <cstring>

// libjpeg's header needs size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

#include "kernel/vosystem/face.h"

namespace vo::jpg {

namespace {

constexpr size_t kCommentLimit = 65533;  // a segment's length field counts itself

struct ErrorManager {
  jpeg_error_mgr library;
  std::jmp_buf jump;
  const char *name;  // the file being read, for messages (null when writing)
};

// Jumps back to the entry that armed the jump buffer; that entry destroys
// the library object and fails.
[[noreturn]] void Abandon(j_common_ptr c) { std::longjmp(reinterpret_cast<ErrorManager *>(c->err)->jump, 1); }

[[noreturn]] void ErrorExit(j_common_ptr c) {
  char text[JMSG_LENGTH_MAX];
  c->err->format_message(c, text);
  Post(VO_CLASS_ERROR, messages::kJpegLibrary, VO_MODULE_JPEG, text);
  Abandon(c);
}

// True when a warning says that the decoder lacks scan data: a marker
// stands where data should be, or the file ended with more than the scan's
// current iMCU row still to read. (Within the last row the bit reader's
// look-ahead meets the end of a file that only lacks its end marker; a real
// shortage there shows as a marker where data should be. Between the scans
// of a progressive file no scan is cut.)
bool ScanDataMissing(j_common_ptr c) {
  if (!c->is_decompressor) return false;
  if (c->err->msg_code == JWRN_HIT_MARKER) return true;
  const auto *d = reinterpret_cast<j_decompress_ptr>(c);
  return c->err->msg_code == JWRN_JPEG_EOF && d->input_iMCU_row + 1 < d->total_iMCU_rows;
}

void Message(j_common_ptr c, int level) {
  jpeg_error_mgr *e = c->err;
  char text[JMSG_LENGTH_MAX];
  // The library would pad every row left, however many the header declares:
  // the read stops instead.
  if (level < 0 && ScanDataMissing(c)) {
    e->format_message(c, text);
    const char *name = reinterpret_cast<ErrorManager *>(e)->name;
    Post(VO_CLASS_ERROR, messages::kJpegDataMissing, VO_MODULE_JPEG, name != nullptr ? name : "", text);
    Abandon(c);
  }
  if (level < 0) {
    if (e->num_warnings == 0 || e->trace_level >= 3) {
      e->format_message(c, text);
      Post(VO_CLASS_WARNING, messages::kJpegLibrary, VO_MODULE_JPEG, text);
    }
    ++e->num_warnings;
  } else if (e->trace_level >= level) {
    e->format_message(c, text);
    Post(VO_CLASS_PROGRESS, messages::kJpegLibrary, VO_MODULE_JPEG, text);
  }
}

void ErrorsBind(ErrorManager *m) {
  jpeg_std_error(&m->library);
  m->library.error_exit = &ErrorExit;
  m->library.emit_message = &Message;
}

template <class T>
T *SessionMake() {
  auto *s = static_cast<T *>(VoAllocate(sizeof(T)));
  if (s != nullptr) std::memset(static_cast<void *>(s), 0, sizeof(T));
  return s;
}

}  // namespace

struct JpegWriter {
  jpeg_compress_struct library;
  ErrorManager errors;
  bool live;  // the library object exists and has not failed
};

struct JpegReader {
  jpeg_decompress_struct library;
  ErrorManager errors;
  bool live;
  JSAMPLE *row;  // one output row of the library, output_components bytes a pixel
};

JpegWriter *JpegWriterBegin(std::FILE *out, const CompressSettings &settings, VtStatus *status) {
  *status = VO_STATUS_NO_MEMORY;
  JpegWriter *const w = SessionMake<JpegWriter>();
  if (w == nullptr) return nullptr;
  *status = VO_CLASS_ERROR | VO_COND_UNAVAILABLE;
  ErrorsBind(&w->errors);
  w->library.err = &w->errors.library;
  if (setjmp(w->errors.jump) != 0) {
    JpegWriterFree(w);
    return nullptr;
  }
  jpeg_create_compress(&w->library);
  w->live = true;
  jpeg_stdio_dest(&w->library, out);
  w->library.image_width = settings.width;
  w->library.image_height = settings.height;
  w->library.input_components = 3;
  w->library.in_color_space = JCS_RGB;
  jpeg_set_defaults(&w->library);
  jpeg_set_quality(&w->library, static_cast<int>(settings.quality), TRUE);
  w->library.smoothing_factor = static_cast<int>(settings.smoothing);
  jpeg_start_compress(&w->library, TRUE);
  if (settings.comment != nullptr && settings.comment[0] != '\0') {
    const size_t n = std::min(std::strlen(settings.comment), kCommentLimit);
    jpeg_write_marker(&w->library, JPEG_COM, reinterpret_cast<const JOCTET *>(settings.comment),
                      static_cast<unsigned>(n));
  }
  *status = 0;
  return w;
}

bool JpegWriterRow(JpegWriter *w, const uint8_t *rgb) {
  if (!w->live) return false;
  if (setjmp(w->errors.jump) != 0) {
    jpeg_destroy_compress(&w->library);
    w->live = false;
    return false;
  }
  JSAMPROW row = const_cast<JSAMPLE *>(rgb);
  return jpeg_write_scanlines(&w->library, &row, 1) == 1;
}

bool JpegWriterFinish(JpegWriter *w) {
  if (!w->live) return false;
  if (setjmp(w->errors.jump) != 0) {
    jpeg_destroy_compress(&w->library);
    w->live = false;
    return false;
  }
  jpeg_finish_compress(&w->library);
  return true;
}

void JpegWriterFree(JpegWriter *w) {
  if (w == nullptr) return;
  if (w->live) jpeg_destroy_compress(&w->library);
  VoDeallocate(w);
}

JpegReader *JpegReaderOpen(std::FILE *in, const char *name, uint32_t *width, uint32_t *height,
                           VtStatus *status) {
  *status = VO_STATUS_NO_MEMORY;
  JpegReader *const r = SessionMake<JpegReader>();
  if (r == nullptr) return nullptr;
  *status = VO_STATUS_UNAVAILABLE;
  ErrorsBind(&r->errors);
  r->errors.name = name;
  r->library.err = &r->errors.library;
  if (setjmp(r->errors.jump) != 0) {
    JpegReaderFree(r);
    return nullptr;
  }
  jpeg_create_decompress(&r->library);
  r->live = true;
  jpeg_stdio_src(&r->library, in);
  if (jpeg_read_header(&r->library, TRUE) != JPEG_HEADER_OK || r->library.num_components == 4) {
    JpegReaderFree(r);
    return nullptr;
  }
  r->library.out_color_space = r->library.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_calc_output_dimensions(&r->library);
  *width = r->library.output_width;
  *height = r->library.output_height;
  *status = 0;
  return r;
}

VtStatus JpegReaderStart(JpegReader *r) {
  if (!r->live) return VO_STATUS_UNAVAILABLE;
  if (setjmp(r->errors.jump) != 0) {
    jpeg_destroy_decompress(&r->library);
    r->live = false;
    return VO_STATUS_UNAVAILABLE;
  }
  jpeg_start_decompress(&r->library);
  const uint64_t bytes =
      uint64_t{r->library.output_width} * static_cast<uint64_t>(r->library.output_components);
  if (bytes > UINT32_MAX) return VO_STATUS_UNAVAILABLE;
  r->row = static_cast<JSAMPLE *>(VoAllocate(static_cast<uint32_t>(bytes)));
  return r->row != nullptr ? 0 : VO_STATUS_NO_MEMORY;
}

bool JpegReaderRow(JpegReader *r, uint8_t *rgb) {
  if (!r->live || r->row == nullptr) return false;
  if (setjmp(r->errors.jump) != 0) {
    jpeg_destroy_decompress(&r->library);
    r->live = false;
    return false;
  }
  JSAMPROW row = r->row;
  if (jpeg_read_scanlines(&r->library, &row, 1) != 1) return false;
  const uint32_t width = r->library.output_width;
  if (r->library.output_components == 3) {
    std::memcpy(rgb, r->row, size_t{width} * 3);
  } else {
    for (uint32_t x = 0; x < width; ++x) rgb[3 * x] = rgb[3 * x + 1] = rgb[3 * x + 2] = r->row[x];
  }
  return true;
}

bool JpegReaderFinish(JpegReader *r) {
  if (!r->live) return false;
  if (setjmp(r->errors.jump) != 0) {
    jpeg_destroy_decompress(&r->library);
    r->live = false;
    return false;
  }
  jpeg_finish_decompress(&r->library);
  return true;
}

void JpegReaderFree(JpegReader *r) {
  if (r == nullptr) return;
  if (r->live) jpeg_destroy_decompress(&r->library);
  VoDeallocate(r->row);
  VoDeallocate(r);
}

}  // namespace vo::jpg
