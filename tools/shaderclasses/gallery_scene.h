// The gallery's pictures: one class of the catalogue placed where its type
// acts (on the sphere, behind it, over it, lighting it, or over the demo's
// picture) and rendered at 128 x 128 through the library's C interface.
//
// Each picture is made in a library session of its own, so that nothing
// one class leaves behind (a background, a light list, a global) reaches
// the next picture: the same class always gives the same pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue.h"

namespace vo::classdoc {

constexpr uint32_t kGallerySize = 128;

struct GalleryPicture {
  uint32_t status = 0;       // 0, or the status of the call that failed
  std::vector<uint8_t> rgb;  // kGallerySize squared pixels, rows top first
  bool after_depth = false;  // a post-process class run after "render depth"
  uint32_t code = 0;         // the execute code that drew it
  bool preview = false;      // a post-process class run over the ray tracer's preview
};

// The picture of the class: rendered by the ray tracer's full pass when the
// class casts rays, by the advanced renderer's A-buffer for a transparency
// class (which lays what lies behind through it), by its z-buffer
// otherwise. A
// post-process class that fails alone is tried again after "render depth",
// which gives the depth such a class reads.
GalleryPicture GalleryPictureMake(const ShaderType &type, const ShaderClass &c);

// The arguments the gallery sets on the class and the surroundings it adds
// (an environment cube, a lamp in view), in words; empty for defaults.
std::string GalleryDressingText(const ShaderType &type, const ShaderClass &c);

}  // namespace vo::classdoc
