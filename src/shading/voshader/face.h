// The shader kernel's face: what renderers, shader libraries and the object
// files ask of it beyond its exported procedures. Each question is answered
// for the calling context; those that read the kernel's state answer "none"
// while it is not started, posting nothing (ShaderTypeKnown excepted).
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_shader.h>

#include "shading/voshader/jitter.h"

namespace vo::shader {

// True when the shader kernel knows the type code (a library asks before
// registering classes of a type another module brings).
bool ShaderTypeKnown(uint32_t type);
// The same question for a module that may run without the kernel: false,
// and nothing posted, while the kernel is not started.
bool ShaderTypeRegistered(uint32_t type);
// Whether a class of the type is installed under the display name (a second
// reflectance is looked for among the reflectances).
bool ClassInstalled(uint32_t type, const char *name);
// The entry in the slot of the installed class (null when the class or the
// entry is missing): what a renderer compares with, read without making an
// instance, so that it cannot fail for want of memory.
VtProc ClassEntry(uint32_t type, const char *name, uint32_t slot);
// Gives the string table of that name (a class's identifier) the meanings
// of its arguments: count - 1 texts of static storage, one for each string
// after the display name. False when there is no such table.
bool ArgumentMeaningsKeep(const char *table, const char *const *meanings);
// An argument the class reads or writes through as a raw buffer (its
// argument table declares it): it must hold `floats` floats for each pixel
// of the picture, or, where counts name integer arguments of the class,
// for each unit of their product.
struct ArgumentBuffer {
  const char *label;
  uint32_t floats;
  const char *counts[2];  // labels, or null; none at all: per pixel
};
// Gives the string table of that name (a class's identifier) its buffer
// arguments: count records of static storage. False when there is no table.
bool ArgumentBuffersKeep(const char *table, const ArgumentBuffer *buffers, size_t count);
// The floats the buffer argument `label` of the live shader must hold now,
// by the picture's resolution and the shader's count arguments; false when
// the argument is no buffer of its class.
bool ArgumentBufferFloats(const VtShader *shader, const char *label, uint64_t *floats);
// Before a render reads the shader (an image's start does it for every
// shader): each buffer argument whose class needs more floats now (a
// larger picture, a count raised) than it did when the buffer was set is
// let go (set to none, which the classes take as no buffer), with message
// 2970 and status 0x20000012, so that nothing is read or written past what
// was given. 0 when every buffer holds.
VtStatus BuffersHold(VtShader *shader);
// Whether the shader is one of the kernel's live shaders.
bool ShaderIsLive(const VtShader *shader);
// A hold of the library's own on a shader it runs later (the post-process
// shaders of a render-and-post run), as a reference list's copy and
// destructor procedures: a reference taken on a live shader, answered as
// itself (null for anything else), and given back; the application's
// destroy meanwhile leaves it live until then.
void *ShaderRunHold(void *shader);
VtStatus ShaderRunRelease(void *shader);
// Whether data is refused by a class entry (entry, an exported procedure):
// it is not the instance data of a live shader whose class has the entry in
// one of its slots. A refusal posts a diagnostic naming the procedure; while
// the kernel is not started nothing is refused.
bool ClassEntryDataRefused(const void *data, VtProc entry);
// Whether the material is one of the kernel's live materials.
bool MaterialIsLive(const VtMaterial *material);

// The kernel's default material, made on first use; null when it cannot be
// made.
VtMaterial *DefaultMaterialNow();

// Whether the colour shader's class reads the vertex colour (declares the
// global Ci): such a colour passes the vertex colour on, so a renderer that
// would draw the material's average colour draws the vertex colour instead.
bool ColourPassesVertexColour(const VtShader *colour);

// The count of outer images set up in this context: a value kept with a
// report or a memo is stale once it moves.
uint32_t ImageSerial();

// Whether a render started now, inside the image set up in this context
// (from its shader or callback), would shade with that image's shadows (a
// light casting them, by map or by ray, while shadows are on) or trace rays
// (a material of the current list that traces, while tracing is on), which
// were made for another primitive list than the current one. False outside
// an image and while a shadow map of the casters renders.
bool ImageTracesAnotherList();

// A shading render that an application callback of a light's map render
// starts while the outer image prepares its lights would share lights half
// prepared: it is refused (0x20000012, message 2909) as it starts, before
// its frame begins, so that it answers the same whatever its output would
// have said of that frame. 0 otherwise.
VtStatus ImageBeginRefuse();

// Whether the material calls set up in the globals read nothing of the point
// beyond its position, normal, colour globals, the view and the lights: the
// reflectance, and the colour too when asked. A renderer shares such a
// point's shading among the polygons of a vertex.
bool PointShadingAlone(const VtShaderGlobals *g, bool colourToo);

// Whether a spot or projector light's cone is wider than one depth map
// holds well: its maps are then the six cube faces a point light has (made
// about its location, looked up with CubeFaceProject), since one map's
// filter spans a fixed share of its view, which across a wide cone grows
// larger than the shadow offset and darkens lit surfaces.
constexpr float kOneMapConeMost = 92.0f;
inline bool ConeMapsCube(const VtLightData *light) {
  return (light->kind == VO_LIGHT_SPOT || light->kind == VO_LIGHT_PROJECTOR) &&
         light->coneAngle > kOneMapConeMost;
}

}  // namespace vo::shader
