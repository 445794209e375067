// Images in memory for the driver framework: MemoryImage makes a live image
// of the framework from the test's pixels, and ImagesByName answers the
// image-read callback (0x1a0035) from a table of such images by name, so
// that classes reading image files read these instead.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <vo/vo_driver.h>

#include "kernel/vosystem/kernel.h"

namespace vo::test {

// A live image of w x h pixels of `bits` (24: red, green, blue bytes; 8:
// grey), rows top to bottom; null when the framework refuses it.
inline VtImage *MemoryImage(int32_t w, int32_t h, int32_t bits, const std::vector<uint8_t> &pixels) {
  VtImage *image = bits == 8 ? VoImageCreateIndexed() : VoImageCreate();
  if (image == nullptr) return nullptr;
  image->width = w;
  image->height = h;
  if (VoImageAllocateData(image) != 0) {
    (void)VoImageDestroy(image);
    return nullptr;
  }
  std::memcpy(image->data, pixels.data(), std::min(pixels.size(), static_cast<size_t>(w) * h * (bits / 8)));
  return image;
}

struct ImagesByName {
  struct Entry {
    std::string name;
    int32_t width, height, bits;
    std::vector<uint8_t> pixels;
  };
  static inline std::vector<Entry> table;

  static VtImage *Read(const char *name) {
    for (const Entry &e : table)
      if (name != nullptr && e.name == name) return MemoryImage(e.width, e.height, e.bits, e.pixels);
    return nullptr;
  }
  // Answers the framework's image reads from the table.
  static void Install(std::vector<Entry> entries) {
    table = std::move(entries);
    ASSERT_EQ(VoCallBackSet(VO_DRIVER_IMAGE_READ, reinterpret_cast<VtProc>(&Read)), 0u);
  }
};

}  // namespace vo::test
