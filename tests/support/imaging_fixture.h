// A started shader kernel with the driver framework's images, the nested
// renderer stand-ins (support/nested_render.h) and an in-memory image
// reader on callback 0x1a0035 that answers images by name.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <vo/vo_driver.h>

#include "support/nested_render.h"
#include "support/shader_fixture.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

// Pixels held by the test; image() points a VtImage at them.
struct Picture {
  int32_t width = 0, height = 0, bits = 24;
  std::vector<uint8_t> bytes;
  static Picture Solid(int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b) {
    Picture p{w, h, 24, {}};
    for (int32_t i = 0; i < w * h; ++i) p.bytes.insert(p.bytes.end(), {r, g, b});
    return p;
  }
  VtImage Image() {
    VtImage i{};
    i.width = width;
    i.height = height;
    i.bits = bits;
    i.data = bytes.data();
    i.bytes_per_row = width * bits / 8;
    return i;
  }
};

class ImagingTest : public ShaderTest {
 protected:
  static inline std::map<std::string, Picture> files;
  std::vector<VtImage *> live_;
  VtImage *faces_[6] = {};

  static VtImage *Read(const char *name) {
    auto found = files.find(name);
    if (found == files.end()) return nullptr;
    VtImage *image = VoImageCreate();
    image->width = found->second.width;
    image->height = found->second.height;
    if (VoImageAllocateData(image) != 0) return nullptr;
    std::copy(found->second.bytes.begin(), found->second.bytes.end(), image->data);
    return image;
  }
  void SetUp() override {
    ShaderTest::SetUp();
    files.clear();
    ASSERT_EQ(VoInstallModule(&VoEntryDriver), 0u);
    NestedRenderer::Install();
    ASSERT_EQ(VoCallBackSet(0x1a0035, reinterpret_cast<VtProc>(&Read)), 0u);
    g_posted.clear();
  }
  void TearDown() override {
    for (VtImage *image : live_) {
      image->data = nullptr;  // the picture's, not the framework's
      (void)VoImageDestroy(image);
    }
    live_.clear();
    ShaderTest::TearDown();
  }
  // A framework image showing the pixels the record points at: textures,
  // bump maps and environments are made only from images the driver
  // framework holds live. Given back when the test ends.
  VtImage *Live(const VtImage &from) {
    VtImage *image = VoImageCreate();
    if (image == nullptr) return nullptr;
    live_.push_back(image);
    image->width = from.width;
    image->height = from.height;
    image->data = from.data;
    image->bits = from.bits;
    image->bytes_per_row = from.bytes_per_row;
    image->mode = from.mode;
    return image;
  }
  VtImage **LiveFaces(const VtImage (&faces)[6]) {
    for (int f = 0; f < 6; ++f) faces_[f] = Live(faces[f]);
    return faces_;
  }
  static shader::ShadingContext *State() { return shader::StateGet(); }
  static VtShaderGlobals *Globals() { return VoShaderGetGlobals(); }
};

}  // namespace vo::test
