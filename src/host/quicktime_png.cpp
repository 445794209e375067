// The PNG graphics importer of our QuickTime layer, over libpng: palette,
// grey of 1 to 16 bits, transparency chunks, 16-bit samples (scaled to 8)
// and interlaced images all become 32-bit ARGB rows, colours not
// multiplied by alpha, handed on one row at a time.
//
// Files are untrusted: libpng refuses sides above 65535 and chunks above
// kChunkLimit bytes, and a file whose IDAT chunks hold too few bytes to
// inflate to its declared size is known before anything of that size is
// made; its errors return through this file's own jump buffer (each entry
// calls setjmp first and holds only trivially destructible locals; what
// changes after setjmp is volatile). libpng and its zlib allocate through
// VoAllocate, so the kernel's allocation-failure hook reaches them; a
// failed allocation makes the whole read answer kQtNoMemory, even where
// libpng would carry on without the chunk.

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "host/quicktime.h"
#include "kernel/vosystem/face.h"

namespace vo::platform {

namespace {

constexpr png_alloc_size_t kChunkLimit = 8u << 20;
constexpr uint32_t kSideLimit = 65535;
// Deflate expands its input at most 1032 times; the slack covers the few
// bytes of the tiniest images' streams.
constexpr uint64_t kMostInflation = 1032;
constexpr uint64_t kInflationSlack = 4096;

// What the allocation functions tell the read: whether one failed.
struct PngMemory {
  volatile bool failed;
};

png_voidp PngAllocate(png_structp png, png_alloc_size_t size) {
  void *block = size <= UINT32_MAX ? VoAllocate(static_cast<uint32_t>(size)) : nullptr;
  if (block == nullptr) static_cast<PngMemory *>(png_get_mem_ptr(png))->failed = true;
  return block;
}

void PngFree(png_structp, png_voidp block) { VoDeallocate(block); }

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// A read structure with its info, limits and error handlers; false when
// libpng cannot make one.
bool ReadMake(std::FILE *f, PngMemory *memory, png_structp *png, png_infop *info) {
  *png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, &PngError, &PngWarning, memory,
                                  &PngAllocate, &PngFree);
  if (*png == nullptr) return false;
  *info = png_create_info_struct(*png);
  if (*info == nullptr) {
    png_destroy_read_struct(png, nullptr, nullptr);
    return false;
  }
  png_set_user_limits(*png, kSideLimit, kSideLimit);
  png_set_chunk_malloc_max(*png, kChunkLimit);
  png_init_io(*png, f);
  return true;
}

// Transformations to 8-bit ARGB; answers the number of passes to read.
int ToArgb(png_structp png, png_infop info) {
  const int type = png_get_color_type(png, info);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  png_set_scale_16(png);
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  if ((type & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS))
    png_set_swap_alpha(png);
  else
    png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return passes;
}

// The bytes of the IDAT chunks present in the file, walking the chunk
// headers after the signature up to IEND or the end of the file; a length
// that runs past the end counts only the bytes there.
uint64_t ImageDataBytes(std::FILE *f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return 0;
  const long end = std::ftell(f);
  uint64_t total = 0;
  for (long at = 8; end >= 0 && at + 8 <= end;) {
    png_byte head[8];
    if (std::fseek(f, at, SEEK_SET) != 0 || std::fread(head, 1, sizeof head, f) != sizeof head) break;
    const uint64_t length = png_get_uint_32(head);
    const long left = end - (at + 8);
    if (std::memcmp(head + 4, "IDAT", 4) == 0)
      total += length < static_cast<uint64_t>(left) ? length : static_cast<uint64_t>(left);
    if (std::memcmp(head + 4, "IEND", 4) == 0 || length + 4 >= static_cast<uint64_t>(left)) break;
    at += 8 + static_cast<long>(length) + 4;
  }
  return total;
}

// Whether the file's image data can inflate to the bytes its header
// declares: width x height pixels of its stored depth, before filter bytes
// (a bound below the true need of plain and interlaced images alike).
bool Fillable(png_structp png, png_infop info) {
  const uint64_t bits = uint64_t{png_get_channels(png, info)} * png_get_bit_depth(png, info);
  const uint64_t needed =
      uint64_t{png_get_image_width(png, info)} * png_get_image_height(png, info) * bits / 8;
  const uint64_t data = ImageDataBytes(static_cast<std::FILE *>(png_get_io_ptr(png)));
  return needed <= kMostInflation * data + kInflationSlack;
}

// Opens the file, makes libpng's structures and runs body with them under
// this frame's jump buffer: a libpng error lands here and answers
// kQtDamagedData. The body holds only trivially destructible locals.
using PngBody = QtError (*)(png_structp png, png_infop info, void *context);
QtError PngRun(const char *file_name, PngBody body, void *context) {
  std::FILE *const f = std::fopen(file_name, "rb");
  if (f == nullptr) return kQtNoImporter;
  PngMemory memory{false};
  png_structp png = nullptr;
  png_infop info = nullptr;
  if (!ReadMake(f, &memory, &png, &info)) {
    std::fclose(f);
    return kQtNoMemory;
  }
  png_structp const held = png;
  png_infop const held_info = info;
  volatile QtError result = kQtDamagedData;
  if (setjmp(png_jmpbuf(held)) == 0) result = body(held, held_info, context);
  png_structp p = held;
  png_infop i = held_info;
  png_destroy_read_struct(&p, &i, nullptr);
  std::fclose(f);
  return memory.failed ? kQtNoMemory : result;
}

// Where decoded rows go: one ARGB row of width x 4 bytes, and the sink.
struct RowTarget {
  uint32_t width, height;
  QtRowSink sink;
  void *context;
  uint8_t *row;
};

// Reads every row of every pass into the one row, as png_read_image would
// into a whole image, and hands on the columns each pass filled: libpng
// writes only the current pass's pixels into the row.
void RowsRead(png_structp png, int passes, const RowTarget &t) {
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t y = 0; y < t.height; ++y) {
      png_read_row(png, t.row, nullptr);
      if (passes == 1)
        t.sink(t.context, y, 0, 1, t.row);
      else if (PNG_ROW_IN_INTERLACE_PASS(y, pass))
        t.sink(t.context, y, PNG_PASS_START_COL(pass), PNG_PASS_COL_OFFSET(pass), t.row);
    }
  }
}

}  // namespace

bool PngSignature(const char *file_name) {
  std::FILE *f = std::fopen(file_name, "rb");
  if (f == nullptr) return false;
  png_byte head[8];
  const bool png =
      std::fread(head, 1, sizeof head, f) == sizeof head && png_sig_cmp(head, 0, sizeof head) == 0;
  std::fclose(f);
  return png;
}

QtError PngSize(const char *file_name, uint32_t *width, uint32_t *height, bool *fillable) {
  struct Header {
    uint32_t width, height;
    bool fillable;
  } header = {0, 0, false};
  const QtError e = PngRun(
      file_name,
      [](png_structp png, png_infop info, void *context) {
        png_read_info(png, info);
        auto *h = static_cast<Header *>(context);
        h->width = png_get_image_width(png, info);
        h->height = png_get_image_height(png, info);
        h->fillable = Fillable(png, info);
        return kQtNoError;
      },
      &header);
  *width = header.width;
  *height = header.height;
  *fillable = header.fillable;
  return e;
}

QtError PngDecode(const char *file_name, uint32_t width, uint32_t height, QtRowSink sink, void *context) {
  RowTarget target = {width, height, sink, context, nullptr};
  if (uint64_t{width} * 4 > UINT32_MAX) return kQtBadArgument;
  target.row = static_cast<uint8_t *>(VoAllocate(width * 4));
  if (target.row == nullptr) return kQtNoMemory;
  const QtError e = PngRun(
      file_name,
      [](png_structp png, png_infop info, void *context) {
        const auto *t = static_cast<RowTarget *>(context);
        png_read_info(png, info);
        if (png_get_image_width(png, info) != t->width || png_get_image_height(png, info) != t->height)
          png_error(png, "the file changed under the importer");
        const int passes = ToArgb(png, info);
        if (png_get_rowbytes(png, info) != size_t{t->width} * 4) png_error(png, "not 32-bit rows");
        RowsRead(png, passes, *t);
        png_read_end(png, nullptr);
        return kQtNoError;
      },
      &target);
  VoDeallocate(target.row);
  return e;
}

}  // namespace vo::platform
