// The BMP reader: the header field by field, the palette, then the pixel
// rows (uncompressed, or run-length coded in 8 or 4 bits) from the bottom
// image row upwards, each delivered through the image driver.
//
// Everything in a file is untrusted. The header refuses, before anything is
// allocated, sides outside 1..65535, info headers of 13-39 bytes, depths
// other than 4, 8, 16 and 24 bits, compressions the depth cannot have, and
// uncompressed data the file is too short to hold but for its last row (a
// cut last row reads as 0xAA bytes).
// Run-length rows start zeroed; decoding ends once every row is used, and
// the rows after an early end of bitmap go out zero.

#include <cstring>

#include "output/vodrvbmp/bmp.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::bmp {

using driver::file::Get16;
using driver::file::Get32;
using driver::file::kReadFailed;

namespace {

constexpr int32_t kSideLimit = 65535;

VtStatus Failure(uint32_t message, const VtImage *image) {
  Post(VO_CLASS_ERROR, message, VO_MODULE_BMP, image->name != nullptr ? image->name : "");
  return kReadFailed;
}

VtStatus FieldRefused(const VtImage *image, const char *field) {
  Post(VO_CLASS_ERROR, messages::kFileHeaderRefused, VO_MODULE_BMP, image->name != nullptr ? image->name : "",
       field);
  return kReadFailed;
}

size_t RowBytes(uint32_t bits, int32_t width) {
  return ((static_cast<size_t>(bits) * static_cast<size_t>(width) + 7) / 8 + 3) & ~size_t{3};
}

// Reads the header fields; h describes the file on success.
VtStatus HeaderParse(VtImage *image, BitmapHeader *h) {
  std::FILE *f = image->file;
  uint8_t b[40];
  if (f == nullptr || fseeko(f, 0, SEEK_SET) != 0) return Failure(messages::kFileReadFailed, image);
  if (!driver::file::ReadAll(f, b, 18)) return Failure(messages::kFileReadFailed, image);
  if (Get16(b) != 0x4D42) return kReadFailed;
  *h = BitmapHeader{};
  h->data_offset = Get32(b + 10);
  h->info_size = Get32(b + 14);
  if (h->info_size != 12 && h->info_size < 40) return FieldRefused(image, "info header size");
  const size_t rest = h->info_size == 12 ? 8 : 36;
  if (!driver::file::ReadAll(f, b + 4, rest)) return Failure(messages::kFileReadFailed, image);
  int64_t width = 0, height = 0;
  if (h->info_size == 12) {
    width = Get16(b + 4);
    height = Get16(b + 6);
    h->bits = Get16(b + 10);
    h->palette_entry = 3;
  } else {
    width = static_cast<int32_t>(Get32(b + 4));
    height = static_cast<int32_t>(Get32(b + 8));
    h->bits = Get16(b + 14);
    h->compression = Get32(b + 16);
    h->palette_entry = 4;
    if (h->info_size > 40 && fseeko(f, h->info_size - 40, SEEK_CUR) != 0)
      return Failure(messages::kFileReadFailed, image);
  }
  if (width < 1 || width > kSideLimit) return FieldRefused(image, "width");
  if (height < 1 || height > kSideLimit) return FieldRefused(image, "height");
  h->width = static_cast<int32_t>(width);
  h->height = static_cast<int32_t>(height);
  if (h->bits == 1) return Failure(messages::kBitmapOneBit, image);
  if (h->bits != 4 && h->bits != 8 && h->bits != 16 && h->bits != 24)
    return FieldRefused(image, "bits per pixel");
  return 0;
}

// Uncompressed data must hold every row but the last of the file.
VtStatus LengthCheck(VtImage *image, const BitmapHeader &h) {
  if (h.compression != 0) return 0;
  const off_t size = driver::file::StreamSize(image->file);
  const uint64_t needed =
      uint64_t{h.data_offset} + RowBytes(h.bits, h.width) * (static_cast<uint64_t>(h.height) - 1);
  if (size < 0 || needed > static_cast<uint64_t>(size)) return Failure(messages::kFileReadFailed, image);
  return 0;
}

struct Decoder {
  VtImage *image;
  const BitmapHeader &h;
  driver::file::ImageDelivery &out;
  uint8_t palette[256][3];
  uint8_t *rgb;  // one image row, width x 3 bytes
  VtStatus status = 0;

  void Index(int32_t x, uint32_t index) {
    if (x < h.width) std::memcpy(rgb + 3 * static_cast<size_t>(x), palette[index & 0xFF], 3);
  }
  VtStatus Send(int32_t y) { return out.Row(y, rgb); }
};

VtStatus PaletteRead(VtImage *image, const BitmapHeader &h, uint8_t (*palette)[3]) {
  std::memset(palette, 0, 256 * 3);
  if (h.bits >= 24) return 0;
  const uint32_t entries = 1u << h.bits;
  for (uint32_t i = 0; i < entries; ++i) {
    uint8_t e[4];
    if (!driver::file::ReadAll(image->file, e, h.palette_entry))
      return Failure(messages::kFileReadFailed, image);
    palette[i][0] = e[2];
    palette[i][1] = e[1];
    palette[i][2] = e[0];
  }
  return 0;
}

VtStatus Uncompressed(Decoder &d, uint8_t *row) {
  const size_t bytes = RowBytes(d.h.bits, d.h.width);
  for (int32_t y = d.h.height - 1; y >= 0; --y) {
    if (!driver::file::ReadAll(d.image->file, row, bytes)) {
      if (y != 0) return Failure(messages::kFileReadFailed, d.image);
      std::memset(row, 0xAA, bytes);
    }
    if (d.h.bits == 24) driver::file::PixelsSwap(row, d.rgb, static_cast<size_t>(d.h.width));
    for (int32_t x = 0; x < d.h.width && d.h.bits != 24; ++x) {
      if (d.h.bits == 8) {
        d.Index(x, row[x]);
      } else {
        d.Index(x, x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0F);
      }
    }
    if (const VtStatus st = d.Send(y); st != 0) return st;
  }
  return 0;
}

VtStatus RunLength(Decoder &d) {
  std::FILE *f = d.image->file;
  const bool four = d.h.bits == 4;
  const size_t row_bytes = 3 * static_cast<size_t>(d.h.width);
  int32_t y = d.h.height - 1;
  int32_t x = 0;
  auto next_row = [&]() {
    const VtStatus st = d.Send(y);
    std::memset(d.rgb, 0, row_bytes);
    --y;
    x = 0;
    return st;
  };
  while (y >= 0) {
    uint8_t rec[2];
    if (!driver::file::ReadAll(f, rec, 2)) return Failure(messages::kFileReadFailed, d.image);
    if (rec[0] > 0) {
      for (uint32_t k = 0; k < rec[0]; ++k, ++x)
        d.Index(x, four ? (k % 2 == 0 ? rec[1] >> 4 : rec[1] & 0x0F) : rec[1]);
    } else if (rec[1] == 0) {
      if (const VtStatus st = next_row(); st != 0) return st;
    } else if (rec[1] == 1) {
      while (y >= 0)
        if (const VtStatus st = next_row(); st != 0) return st;
    } else if (rec[1] == 2) {
      return Failure(messages::kBitmapDelta, d.image);
    } else {
      const uint32_t n = rec[1];
      const uint32_t bytes = four ? (n + 1) / 2 : n;
      uint8_t literal[256];
      const uint32_t padded = bytes + (bytes % 2);
      if (!driver::file::ReadAll(f, literal, padded)) return Failure(messages::kFileReadFailed, d.image);
      for (uint32_t k = 0; k < n; ++k, ++x)
        d.Index(x, four ? (k % 2 == 0 ? literal[k / 2] >> 4 : literal[k / 2] & 0x0F) : literal[k]);
    }
  }
  return 0;
}

VtStatus PixelsDecode(VtImage *image, const BitmapHeader &h, driver::file::ImageDelivery &out) {
  Decoder d{image, h, out, {}, nullptr};
  if (const VtStatus st = PaletteRead(image, h, d.palette); st != 0) return st;
  if (fseeko(image->file, h.data_offset, SEEK_SET) != 0) return Failure(messages::kFileSeekFailed, image);
  driver::file::Block rgb, row;
  if (!rgb.Make(3 * static_cast<size_t>(h.width)) || !row.Make(RowBytes(h.bits, h.width) + 4))
    return VO_STATUS_NO_MEMORY;
  d.rgb = rgb.Bytes();
  if (const VtStatus st = out.Begin(); st != 0) return st;
  if (h.compression == 0) return Uncompressed(d, row.Bytes());
  return RunLength(d);
}

// Compression 1 needs 8 bits, 2 needs 4; 16-bit files are not decoded.
// Both refusals come before the framework allocates the image.
VtStatus CompressionCheck(VtImage *image, const BitmapHeader &h) {
  if (h.compression == 0) return 0;
  if (h.bits == 16) return kReadFailed;
  const bool run_length = (h.compression == 1 && h.bits == 8) || (h.compression == 2 && h.bits == 4);
  return run_length ? 0 : Failure(messages::kBitmapCompression, image);
}

// The header of the image's file, refused unless its pixels can be decoded
// and its data fits the file.
VtStatus HeaderAccept(VtImage *image, BitmapHeader *h) {
  if (image == nullptr) return VO_STATUS_UNKNOWN_CODE;
  VtStatus st = HeaderParse(image, h);
  if (st == 0) st = CompressionCheck(image, *h);
  return st != 0 ? st : LengthCheck(image, *h);
}

}  // namespace

VtStatus HeaderRead(VtImage *image) {
  BitmapHeader h{};
  if (const VtStatus st = HeaderAccept(image, &h); st != 0) return st;
  image->width = h.width;
  image->height = h.height;
  return 0;
}

VtStatus ImageRead(VtImage *image) {
  BitmapHeader h{};
  VtStatus st = HeaderAccept(image, &h);
  if (st != 0) return st;
  if (h.bits == 16) return kReadFailed;
  if (image->width != h.width || image->height != h.height || image->data == nullptr) {
    image->width = h.width;
    image->height = h.height;
    if ((st = driver::ImageReaderAllocate(image)) != 0) return st;
  }
  driver::file::ImageDelivery out(image, false);
  st = PixelsDecode(image, h, out);
  return st | out.End();
}

}  // namespace vo::bmp
