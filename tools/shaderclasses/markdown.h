// The shader-class reference as markdown (docs/shader-classes.md).
#pragma once

#include <ostream>
#include <vector>

#include "catalogue.h"

namespace vo::classdoc {

// Writes the reference: per type its classes, per class its identifier
// and a table of its arguments. False when the stream fails.
bool MarkdownWrite(const std::vector<ShaderType> &types, std::ostream &out);

}  // namespace vo::classdoc
