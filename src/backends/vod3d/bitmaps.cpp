// Images and bitmaps: compressed pixmaps expanded into images, images made
// into desktop bitmaps, bitmaps loaded from files, and images written as
// 24-bit BMP files.
//
// Sizes are worked out in size_t and refused before any 32-bit narrowing.
// An 8-bit image is grey to this library (as textures and bump maps read
// it), so its pixel v is written as (v, v, v). A pixmap's image is cleared
// before inflating, so bytes a short stream does not reach are zero; when
// memory runs out inside the inflating there is no image. The
// BMP writer checks every write and the close, and refuses a dead image
// before the file is opened.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "backends/vod3d/d3d.h"
#include "backends/vod3d/images.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::d3d {

namespace {

constexpr size_t kBmpHeaderBytes = 54;

// Bytes of a 24-bit bottom-up row: three per pixel, padded to four.
size_t RowBytes(int32_t width) { return ((static_cast<size_t>(width) * 24 + 31) / 32) * 4; }

// One image row as blue, green, red bytes, then the zero pad.
void RowToBgr(const VtImage *image, int32_t y, uint8_t *out, size_t row_bytes) {
  const uint8_t *in = image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_row);
  const size_t w = static_cast<size_t>(image->width);
  if (image->bits == 8) {
    for (size_t x = 0; x < w; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
  } else {
    driver::file::PixelsSwap(in, out, w);
  }
  std::memset(out + 3 * w, 0, row_bytes - 3 * w);
}

// A row stored as its difference from the row above (already restored):
// the two rows are adjacent and never overlap, so eight bytes go at once.
void RowRestore(uint8_t *row, size_t bytes) {
  const uint8_t *above = row - bytes;
  size_t i = 0;
  for (; i + 8 <= bytes; i += 8) {
    uint64_t a, b;
    std::memcpy(&a, above + i, 8);
    std::memcpy(&b, row + i, 8);
    b ^= a;
    std::memcpy(row + i, &b, 8);
  }
  for (; i < bytes; ++i) row[i] ^= above[i];
}

bool ImageShapeFits(const VtImage *image) {
  return image->width >= 1 && image->height >= 1 && (image->bits == 8 || image->bits == 24) &&
         image->bytes_per_row >= image->width * (image->bits / 8);
}

void BmpHeader(uint8_t *h, const VtImage *image, size_t file_bytes) {
  std::memset(h, 0, kBmpHeaderBytes);
  h[0] = 'B';
  h[1] = 'M';
  driver::file::Put32(h + 2, static_cast<uint32_t>(file_bytes));
  driver::file::Put32(h + 10, kBmpHeaderBytes);
  driver::file::Put32(h + 14, 40);
  driver::file::Put32(h + 18, static_cast<uint32_t>(image->width));
  driver::file::Put32(h + 22, static_cast<uint32_t>(image->height));
  driver::file::Put16(h + 26, 1);
  driver::file::Put16(h + 28, 24);
}

// A bitmap's or a BMP file's bytes past what 32-bit sizes hold: message
// 2769 names the bytes met and the limit. False when the size fits.
bool TooLarge(const char *procedure, size_t bytes) {
  if (bytes <= UINT32_MAX) return false;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kD3DBitmapTooLarge, kModule, procedure, static_cast<double>(bytes),
       static_cast<double>(UINT32_MAX));
  return true;
}

int32_t BmpRefused(const char *path, const char *reason) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kD3DBmpNotWritten, kModule, path != nullptr ? path : "", reason);
  return -1;
}

// Writes the header and the rows bottom-up; false at the first short write.
bool BmpRowsWrite(std::FILE *f, const VtImage *image, size_t row_bytes, size_t file_bytes, uint8_t *row) {
  uint8_t header[kBmpHeaderBytes];
  BmpHeader(header, image, file_bytes);
  if (std::fwrite(header, 1, sizeof header, f) != sizeof header) return false;
  for (int32_t y = image->height; y-- > 0;) {
    RowToBgr(image, y, row, row_bytes);
    if (std::fwrite(row, 1, row_bytes, f) != row_bytes) return false;
  }
  return true;
}

}  // namespace

}  // namespace vo::d3d

namespace vo {

VtImage *VoD3DPixmapExpand(int32_t width, int32_t height, void *data, uint32_t length) {
  VtImage *image = d3d::ImageMake(width, height);
  if (image == nullptr) return nullptr;
  const size_t row = static_cast<size_t>(width) * 3, bytes = row * static_cast<size_t>(height);
  std::memset(image->data, 0, bytes);
  // ImageMake bounds the image below 2^31 bytes.
  const VtStatus status = VoDataObjectDecompress(data, length, image->data, static_cast<uint32_t>(bytes));
  if (status == VO_STATUS_NO_MEMORY) {
    // Memory ran out inside zlib: no image could be made, unlike a short
    // stream, whose image is kept with what was inflated.
    (void)VoImageDestroy(image);
    return nullptr;
  }
  if (status != 0) Post(VO_CLASS_WARNING, messages::kD3DPixmapShort, d3d::kModule, width, height, status);
  for (int32_t y = 1; y < height; ++y) d3d::RowRestore(image->data + static_cast<size_t>(y) * row, row);
  return image;
}

VtBitmap *VoD3DHBITMAPFromImage(VtImage *image) {
  if (!d3d::ImageAccepted(image, "VoD3DHBITMAPFromImage") || !d3d::ImageShapeFits(image)) return nullptr;
  const size_t row_bytes = d3d::RowBytes(image->width);
  const size_t bytes = row_bytes * static_cast<size_t>(image->height);
  if (d3d::TooLarge("VoD3DHBITMAPFromImage", bytes)) return nullptr;
  auto *pixels = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (pixels == nullptr) return nullptr;
  for (int32_t y = 0; y < image->height; ++y)
    d3d::RowToBgr(image, image->height - 1 - y, pixels + static_cast<size_t>(y) * row_bytes, row_bytes);
  static constexpr platform::BitmapInfoHeader kHeader{40, 0, 0, 1, 24, 0, 0, 0, 0, 0, 0};
  platform::BitmapInfo info{};
  info.header = kHeader;
  info.header.width = image->width;
  info.header.height = image->height;
  // The screen's context is the desktop window's.
  platform::HDC dc = platform::GetDC(nullptr);
  VtBitmap *bitmap = dc != nullptr ? platform::CreateDIBitmap(dc, &info.header, platform::CBM_INIT, pixels,
                                                              &info, platform::DIB_RGB_COLORS)
                                   : nullptr;
  if (dc != nullptr) (void)platform::ReleaseDC(nullptr, dc);
  VoDeallocate(pixels);
  return bitmap;
}

// The platform's list of live bitmaps is searched by address before the
// bitmap is read, so a destroyed one, or an image or a view, is refused.
VtStatus VoD3DDestroyHBitmap(VtBitmap *bitmap) {
  if (bitmap == nullptr) return 0;
  if (!platform::IsBitmap(bitmap)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, d3d::kModule, "VoD3DDestroyHBitmap",
         static_cast<const void *>(bitmap), "bitmap");
    return VO_STATUS_BAD_ARGUMENT;
  }
  (void)platform::DeleteObject(bitmap);
  return 0;
}

VtBitmap *VoD3DLoadHBitmap(const char *name, int32_t width, int32_t height) {
  if (name == nullptr) return nullptr;
  void *module = platform::GetModuleHandleA(nullptr);
  constexpr uint32_t kSection = platform::LR_CREATEDIBSECTION;
  VtBitmap *b = platform::LoadImageA(module, name, platform::IMAGE_BITMAP, width, height, kSection);
  if (b == nullptr)
    b = platform::LoadImageA(module, name, platform::IMAGE_BITMAP, width, height,
                             kSection | platform::LR_LOADFROMFILE);
  return b;
}

int32_t VoD3DBMPFromImage(const char *path, VtImage *image) {
  if (!d3d::ImageAccepted(image, "VoD3DBMPFromImage")) return -1;
  if (!d3d::ImageShapeFits(image)) return d3d::BmpRefused(path, "an image of no writable shape");
  if (path == nullptr) return d3d::BmpRefused(path, "no path");
  const size_t row_bytes = d3d::RowBytes(image->width);
  const size_t file_bytes = d3d::kBmpHeaderBytes + row_bytes * static_cast<size_t>(image->height);
  if (d3d::TooLarge("VoD3DBMPFromImage", file_bytes)) return -1;
  auto *row = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(row_bytes)));
  if (row == nullptr) return d3d::BmpRefused(path, "out of memory");
  std::FILE *f = std::fopen(path, "wb");
  if (f == nullptr) {
    VoDeallocate(row);
    return d3d::BmpRefused(path, std::strerror(errno));
  }
  const bool written = d3d::BmpRowsWrite(f, image, row_bytes, file_bytes, row);
  const int write_error = written ? 0 : errno;
  VoDeallocate(row);
  const bool closed = std::fclose(f) == 0;
  if (!written) return d3d::BmpRefused(path, write_error != 0 ? std::strerror(write_error) : "short write");
  if (!closed) return d3d::BmpRefused(path, std::strerror(errno));
  return 0;
}

}  // namespace vo
