// The shader-class gallery (docs/gallery.md): a 128 x 128 picture of every
// class the libraries register, named on its line, with the renderer that
// drew it; a class that cannot be shown is listed with the reason.
#pragma once

#include <string>
#include <vector>

#include "catalogue.h"

namespace vo::classdoc {

// Writes the gallery's markdown to the path and its pictures as PNG files
// under images/gallery/ beside it (made when missing). False when a file
// cannot be written.
bool GalleryWrite(const std::vector<ShaderType> &types, const std::string &path);

}  // namespace vo::classdoc
