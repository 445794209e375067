// The Targa reader: header, optional colour map, then pixels (raw or
// run-length packets that may run on into the next row) placed by the
// descriptor's orientation and delivered row by row through the image
// driver.
//
// Everything in a file is untrusted: offsets are 64-bit; a colour map holds
// its length entries from its start, and pixel value v stands for entry
// v - first index, as other readers take it; a value below the first index
// or past the map reads black; an image the file is too short to hold (raw
// data, or the most pixels its run-length packets can describe) is refused
// before anything is allocated. The header-read flag is cleared after every
// image read and failed header read.

#include <cstring>

#include "output/vodrvtga/tga.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::tga {

using driver::file::Get16;
using driver::file::ReadAll;

namespace {

constexpr VtStatus kReadFailed = 0x40000002;  // the Targa reader's read failure
constexpr char kSignature[] = "TRUEVISION-XFILE.";

const char *NameOf(const VtImage *image) { return image->name != nullptr ? image->name : ""; }

VtStatus ReadFailure() {
  Post(VO_CLASS_ERROR, messages::kTargaReadFailed, VO_MODULE_TARGA);
  return kReadFailed;
}

bool IsMapped(uint32_t type) { return type == 1 || type == 9; }
bool IsRunLength(uint32_t type) { return type == 9 || type == 10; }

// A file of version 2 whose image type is 0 holds no image.
bool NoImageVersion2(std::FILE *f, const TargaHeader &h) {
  uint8_t tail[18];
  return h.image_type == 0 && fseeko(f, -18, SEEK_END) == 0 && ReadAll(f, tail, sizeof tail) &&
         std::memcmp(tail, kSignature, sizeof kSignature) == 0;
}

VtStatus Decodable(const VtImage *image, const TargaHeader &h) {
  const bool mapped = IsMapped(h.image_type) && h.depth == 8;
  const bool direct = (h.image_type == 2 || h.image_type == 10) && (h.depth == 16 || h.depth == 24);
  const bool entries =
      !IsMapped(h.image_type) || h.map_entry_bits == 16 || h.map_entry_bits == 24 || h.map_entry_bits == 32;
  if ((mapped || direct) && entries) return 0;
  Post(VO_CLASS_DEBUG, messages::kTargaNotDecoded, VO_MODULE_TARGA, NameOf(image));
  return VO_DRIVER_NOT_HANDLED;
}

// Whether the file's bytes can describe the declared image. Raw data needs
// every pixel stored after the data offset. A run-length packet holds at
// most 128 pixels and takes a header byte and at least one pixel value, so
// the n bytes after the header and identifier describe at most
// 128 x n / (1 + bytes per pixel) pixels.
bool FitsTheFile(std::FILE *f, const TargaHeader &h) {
  const off_t size = driver::file::StreamSize(f);
  if (size < 0) return false;
  const uint64_t pixels = uint64_t{h.width} * h.height;
  const uint64_t bytes_per_pixel = (h.depth + 7) / 8;
  if (!IsRunLength(h.image_type))
    return h.data_offset + pixels * bytes_per_pixel <= static_cast<uint64_t>(size);
  const uint64_t start = kHeaderBytes + uint64_t{h.id_length};
  const uint64_t n = static_cast<uint64_t>(size) > start ? static_cast<uint64_t>(size) - start : 0;
  return pixels * (1 + bytes_per_pixel) <= 128 * n;
}

VtStatus HeaderParse(VtImage *image, TargaHeader *h) {
  std::FILE *f = image->file;
  uint8_t b[kHeaderBytes];
  if (f == nullptr || fseeko(f, 0, SEEK_SET) != 0 || !ReadAll(f, b, sizeof b)) return ReadFailure();
  *h = TargaHeader{b[0],  b[1],  b[2], Get16(b + 3), Get16(b + 5), b[7], Get16(b + 12), Get16(b + 14),
                   b[16], b[17], 0};
  if (NoImageVersion2(f, *h)) {
    Post(VO_CLASS_DEBUG, messages::kTargaNoImage, VO_MODULE_TARGA, NameOf(image));
    return VO_STATUS_UNAVAILABLE;
  }
  if (h->map_type > 1 || (h->map_type == 0 && (h->map_first | h->map_length | h->map_entry_bits) != 0) ||
      h->image_type > 11 || (h->image_type >= 4 && h->image_type <= 8))
    return VO_STATUS_UNAVAILABLE;
  if (const VtStatus st = Decodable(image, *h); st != 0) return st;
  if (h->width == 0 || h->height == 0) return VO_STATUS_UNAVAILABLE;
  h->data_offset = kHeaderBytes + h->id_length + uint64_t{(h->map_entry_bits + 7) / 8} * h->map_length;
  return FitsTheFile(f, *h) ? 0 : ReadFailure();
}

// Colour-map entries and pixels to red, green, blue.
void Convert(const uint8_t *p, uint32_t bits, uint8_t *rgb) {
  if (bits == 16) {
    const uint32_t v = Get16(p);
    rgb[0] = static_cast<uint8_t>((v >> 7) & 0xF8);
    rgb[1] = static_cast<uint8_t>((v >> 2) & 0xF8);
    rgb[2] = static_cast<uint8_t>((v & 0x1F) << 3);
  } else {
    rgb[0] = p[2];
    rgb[1] = p[1];
    rgb[2] = p[0];
  }
}

// Buffered bytes of the pixel data.
struct Source {
  std::FILE *f = nullptr;
  uint8_t bytes[8192];
  size_t at = 0, end = 0;
  bool Take(uint8_t *to, size_t n) {
    while (n > 0) {
      if (at == end) {
        end = std::fread(bytes, 1, sizeof bytes, f);
        at = 0;
        if (end == 0) return false;
      }
      const size_t part = std::min(n, end - at);
      std::memcpy(to, bytes + at, part);
      at += part;
      to += part;
      n -= part;
    }
    return true;
  }
};

struct PixelReader {
  const TargaHeader &h;
  Source &in;
  const uint8_t *map;  // entries x 3 bytes red, green, blue
  uint32_t entries;
  uint32_t first;     // the pixel value of entry 0
  uint32_t left = 0;  // pixels left in the current packet
  bool run = false;
  uint8_t value[4] = {};

  void Pixel(const uint8_t *p, uint8_t *rgb) const {
    if (h.depth != 8) return Convert(p, h.depth, rgb);
    if (p[0] >= first && p[0] - first < entries)
      std::memcpy(rgb, map + 3 * (p[0] - first), 3);
    else
      std::memset(rgb, 0, 3);
  }
  // A raw row of width pixels from the left, into rgb.
  bool Row(uint8_t *stored, uint8_t *rgb) {
    const size_t bytes = h.depth / 8;
    if (!in.Take(stored, bytes * h.width)) return false;
    if (h.depth == 24) {
      driver::file::PixelsSwap(stored, rgb, h.width);
    } else {
      for (uint32_t x = 0; x < h.width; ++x, rgb += 3, stored += bytes) Pixel(stored, rgb);
    }
    return true;
  }
  bool Next(uint8_t *rgb) {
    const size_t bytes = h.depth / 8;
    if (!IsRunLength(h.image_type)) {
      if (!in.Take(value, bytes)) return false;
    } else {
      if (left == 0) {
        uint8_t head;
        if (!in.Take(&head, 1)) return false;
        run = (head & 0x80) != 0;
        left = (head & 0x7F) + 1u;
        if (run && !in.Take(value, bytes)) return false;
      }
      if (!run && !in.Take(value, bytes)) return false;
      --left;
    }
    Pixel(value, rgb);
    return true;
  }
};

VtStatus MapRead(VtImage *image, const TargaHeader &h, driver::file::Block *map, uint32_t *entries) {
  *entries = h.map_length;
  if (h.map_type != 1 || *entries == 0) return VO_STATUS_UNAVAILABLE;
  const uint32_t entry = (h.map_entry_bits + 7) / 8;
  driver::file::Block stored;
  if (!map->Make(size_t{*entries} * 3) || !stored.Make(size_t{*entries} * entry)) return VO_STATUS_NO_MEMORY;
  if (fseeko(image->file, static_cast<off_t>(kHeaderBytes + h.id_length), SEEK_SET) != 0 ||
      !ReadAll(image->file, stored.Bytes(), size_t{*entries} * entry))
    return ReadFailure();
  for (uint32_t i = 0; i < *entries; ++i)
    Convert(stored.Bytes() + i * entry, h.map_entry_bits, map->Bytes() + 3 * i);
  return 0;
}

VtStatus PixelsRead(VtImage *image, const TargaHeader &h, const uint8_t *map, uint32_t entries) {
  driver::file::Block row, stored;
  if (!row.Make(3 * size_t{h.width}) || !stored.Make(3 * size_t{h.width})) return VO_STATUS_NO_MEMORY;
  const bool whole_rows = !IsRunLength(h.image_type) && (h.descriptor & 0x10) == 0;
  Source source;
  source.f = image->file;
  PixelReader reader{h, source, map, entries, h.map_first};
  const bool from_right = (h.descriptor & 0x10) != 0;
  const bool from_top = (h.descriptor & 0x20) != 0;
  driver::file::ImageDelivery out(image, false);
  VtStatus st = out.Begin();
  for (uint32_t i = 0; i < h.height && st == 0; ++i) {
    if (whole_rows && !reader.Row(stored.Bytes(), row.Bytes())) return ReadFailure() | out.End();
    for (uint32_t j = 0; j < h.width && !whole_rows; ++j) {
      const uint32_t x = from_right ? h.width - 1 - j : j;
      if (!reader.Next(row.Bytes() + 3 * size_t{x})) return ReadFailure() | out.End();
    }
    st = out.Row(static_cast<int32_t>(from_top ? i : h.height - 1 - i), row.Bytes());
  }
  return st | out.End();
}

}  // namespace

VtStatus HeaderRead(VtImage *image) {
  TgaState *s = State();
  if (s == nullptr || image == nullptr) return VO_STATUS_UNAVAILABLE;
  s->header_read = nullptr;
  const VtStatus st = HeaderParse(image, &s->header);
  if (st != 0) return st;
  s->header_read = image->file;
  s->header_image = image;
  image->width = static_cast<int32_t>(s->header.width);
  image->height = static_cast<int32_t>(s->header.height);
  return 0;
}

VtStatus ImageRead(VtImage *image) {
  TgaState *s = State();
  if (s == nullptr || image == nullptr) return VO_STATUS_UNAVAILABLE;
  const bool just_read =
      s->header_read != nullptr && s->header_read == image->file && s->header_image == image;
  VtStatus st = just_read ? 0 : HeaderRead(image);
  s->header_read = nullptr;
  if (st != 0) return st;
  const TargaHeader h = s->header;
  if (image->data == nullptr && (st = driver::ImageReaderAllocate(image)) != 0) return st;
  driver::file::Block map;
  uint32_t entries = 0;
  if (IsMapped(h.image_type) && (st = MapRead(image, h, &map, &entries)) != 0) return st;
  if (fseeko(image->file, static_cast<off_t>(h.data_offset), SEEK_SET) != 0) return VO_STATUS_UNAVAILABLE;
  return PixelsRead(image, h, map.Bytes(), entries);
}

}  // namespace vo::tga
