// A benchmark scene in POV-Ray's scene language, for timing POV-Ray beside
// the ray tracer on the same picture: the current view's camera (its eye,
// image-plane centre and edges, one ray per pixel), the benchmark point
// light (kLightAt), shadows cast or not (without them every mesh is
// no_shadow: a shadowless light would also lose its highlight and part of
// its diffuse light in POV-Ray 3.7), a plain blue background, and triangle meshes as
// mesh2 objects with their vertex normals, in the super-lite plastic's
// terms: no ambient, diffuse 0.75 of the plastic colour and a Blinn-Phong
// highlight of 0.5 white to the power 1 / roughness = 10. The view must be
// evaluated.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <vector>

#include <vo/vo_view.h>

#include "sphere_grid.h"

namespace vo::bench {

// Triangles to write: `copies` copies of one index list, the copy c's
// indices offset by c x vertices_each (the sphere grids), or one list.
struct PovMesh {
  const std::vector<float> &world, &normal;
  const std::vector<int32_t> &indices;
  int copies = 1, vertices_each = 0;
};

// The plain blue background the peer benchmark counts covered pixels
// against (peer_scenes.h).
constexpr float kPovBackground[3] = {0, 0, 1};

inline PovMesh PovMeshOf(const Spheres &g) {
  return {g.world, g.normal, g.indices, g.count, g.vertices_each};
}

inline const double *PovViewDoubles(uint32_t code) {
  VtTypedValue v{};
  return VoViewGetValue(code, &v) == 0 ? static_cast<const double *>(v.value.p) : nullptr;
}

// Writes the scene to path; false when the file cannot be written or the
// view answers no camera.
inline bool PovrayWrite(const char *path, std::initializer_list<PovMesh> meshes, bool shadows) {
  VtTypedValue v{};
  const float *eye =
      VoViewGetValue(VO_VIEW_VALUE_EYE, &v) == 0 ? static_cast<const float *>(v.value.p) : nullptr;
  const double *corner = PovViewDoubles(VO_VIEW_VALUE_CORNER_DOUBLE);
  const double *edges = PovViewDoubles(VO_VIEW_VALUE_EDGES_DOUBLE);
  if (eye == nullptr || corner == nullptr || edges == nullptr) return false;
  std::FILE *f = std::fopen(path, "w");
  if (f == nullptr) return false;
  double centre[3];
  for (int k = 0; k < 3; ++k) centre[k] = corner[k] + 0.5 * edges[k] + 0.5 * edges[3 + k] - eye[k];
  std::fprintf(f, "global_settings { assumed_gamma 1.0 ambient_light 0 }\nbackground { rgb <%g,%g,%g> }\n",
               kPovBackground[0], kPovBackground[1], kPovBackground[2]);
  std::fprintf(
      f,
      "camera { perspective location <%.9g,%.9g,%.9g> direction <%.9g,%.9g,%.9g> right <%.9g,%.9g,%.9g> "
      "up <%.9g,%.9g,%.9g> }\n",
      eye[0], eye[1], eye[2], centre[0], centre[1], centre[2], edges[0], edges[1], edges[2], -edges[3],
      -edges[4], -edges[5]);
  std::fprintf(f, "light_source { <%g,%g,%g> color rgb 1 }\n", kLightAt[0], kLightAt[1], kLightAt[2]);
  for (const PovMesh &m : meshes) {
    std::fprintf(f, "mesh2 {\n vertex_vectors { %zu", m.world.size() / 3);
    for (size_t i = 0; i < m.world.size(); i += 3)
      std::fprintf(f, ",\n<%.9g,%.9g,%.9g>", m.world[i], m.world[i + 1], m.world[i + 2]);
    std::fprintf(f, " }\n normal_vectors { %zu", m.normal.size() / 3);
    for (size_t i = 0; i < m.normal.size(); i += 3)
      std::fprintf(f, ",\n<%.9g,%.9g,%.9g>", m.normal[i], m.normal[i + 1], m.normal[i + 2]);
    std::fprintf(f, " }\n face_indices { %zu", m.indices.size() / 3 * static_cast<size_t>(m.copies));
    for (int c = 0; c < m.copies; ++c) {
      const int base = c * m.vertices_each;
      for (size_t i = 0; i < m.indices.size(); i += 3)
        std::fprintf(f, ",\n<%d,%d,%d>", base + m.indices[i], base + m.indices[i + 1],
                     base + m.indices[i + 2]);
    }
    std::fprintf(f,
                 " }\n texture { pigment { color rgb <0.85,0.25,0.2> } "
                 "finish { ambient 0 diffuse 0.75 specular 0.5 roughness 0.1 } }\n%s}\n",
                 shadows ? "" : " no_shadow\n");
  }
  return std::fclose(f) == 0;
}

}  // namespace vo::bench
