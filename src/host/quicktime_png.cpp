// The PNG graphics importer of our QuickTime layer, over libpng: palette,
// grey of 1 to 16 bits, transparency chunks, 16-bit samples (scaled to 8)
// and interlaced images all become 32-bit ARGB rows, colours not
// multiplied by alpha.
//
// Files are untrusted: libpng refuses sides above 65535 and chunks above
// kChunkLimit bytes; its errors return through this file's own jump buffer
// (each entry calls setjmp first and holds only trivially destructible
// locals; what changes after setjmp is volatile).

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "host/quicktime.h"

namespace vo::platform {

namespace {

constexpr png_alloc_size_t kChunkLimit = 8u << 20;
constexpr uint32_t kSideLimit = 65535;

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// A read structure with its info, limits and error handlers; false when
// libpng cannot make one.
bool ReadMake(std::FILE *f, png_structp *png, png_infop *info) {
  *png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, &PngError, &PngWarning);
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

// Transformations to 8-bit ARGB.
void ToArgb(png_structp png, png_infop info) {
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
  (void)png_set_interlace_handling(png);
  png_read_update_info(png, info);
}

// Opens the file, makes libpng's structures and runs body with them under
// this frame's jump buffer: a libpng error lands here and answers
// kQtDamagedData. The body holds only trivially destructible locals.
using PngBody = QtError (*)(png_structp png, png_infop info, void *context);
QtError PngRun(const char *file_name, PngBody body, void *context) {
  std::FILE *const f = std::fopen(file_name, "rb");
  if (f == nullptr) return kQtNoImporter;
  png_structp png = nullptr;
  png_infop info = nullptr;
  if (!ReadMake(f, &png, &info)) {
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
  return result;
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

QtError PngSize(const char *file_name, uint32_t *width, uint32_t *height) {
  uint32_t size[2] = {0, 0};
  const QtError e = PngRun(
      file_name,
      [](png_structp png, png_infop info, void *context) {
        png_read_info(png, info);
        auto *wh = static_cast<uint32_t *>(context);
        wh[0] = png_get_image_width(png, info);
        wh[1] = png_get_image_height(png, info);
        return kQtNoError;
      },
      size);
  *width = size[0];
  *height = size[1];
  return e;
}

QtError PngDecode(const char *file_name, uint8_t **rows, uint32_t width, uint32_t height) {
  struct Target {
    uint8_t **rows;
    uint32_t width, height;
  } target = {rows, width, height};
  return PngRun(
      file_name,
      [](png_structp png, png_infop info, void *context) {
        const auto *t = static_cast<Target *>(context);
        png_read_info(png, info);
        if (png_get_image_width(png, info) != t->width || png_get_image_height(png, info) != t->height)
          png_error(png, "the file changed under the importer");
        ToArgb(png, info);
        if (png_get_rowbytes(png, info) != size_t{t->width} * 4) png_error(png, "not 32-bit rows");
        png_read_image(png, t->rows);
        png_read_end(png, nullptr);
        return kQtNoError;
      },
      &target);
}

}  // namespace vo::platform
