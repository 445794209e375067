// What a technical drawing needs of the library, end to end: a machined
// bracket (an extruded plate with a bevel and two drilled holes) built in
// code and written by hand as a text mesh file whose faces with holes are
// bridged rings, with and without its normal descriptor; its creases drawn
// after the crease-method normals, and the refusal of a mesh that keeps no
// normals; the two-pass hidden line's visible lines against a z-buffer
// picture lit by six coloured distant lights (each face orientation its own
// colour) over seeded views; what the pen byte and the pen callback tell a
// driver; an area light left out for want of the second light pass; view
// refusals under the demo's severity mask; a viewport render copied out of
// the image driver; the line picture's route through the image driver
// journalled and replayed; and what a progress answer of 64 does through
// each renderer that reports progress, as docs/kernel.md lists them.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <vo/vo_draw.h>
#include <vo/vo_driver.h>
#include <vo/vo_hidden_line.h>
#include <vo/vo_meshio.h>
#include <vo/vo_npr.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>

#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/message_numbers.h"
#include "support/recording_driver.h"
#include "support/test_support.h"

namespace vo::test {
namespace {

using P3 = std::array<float, 3>;
constexpr int32_t kWidth = 160, kHeight = 120;

// ---- The bracket ----------------------------------------------------------------

struct Face {
  std::vector<int32_t> outer;
  std::vector<std::vector<int32_t>> holes;
};

struct Bracket {
  std::vector<P3> points;
  std::vector<Face> faces;
};

P3 NewellNormal(const std::vector<P3> &points, const std::vector<int32_t> &ring) {
  P3 n{0, 0, 0};
  for (size_t i = 0; i < ring.size(); ++i) {
    const P3 &a = points[ring[i]], &b = points[ring[(i + 1) % ring.size()]];
    n[0] += (a[1] - b[1]) * (a[2] + b[2]);
    n[1] += (a[2] - b[2]) * (a[0] + b[0]);
    n[2] += (a[0] - b[0]) * (a[1] + b[1]);
  }
  return n;
}

// Turns a contour to wind anticlockwise seen from the side `n` points to
// (along), or clockwise (a hole).
void Orient(const Bracket &b, std::vector<int32_t> &ring, const P3 &n, bool along) {
  const P3 m = NewellNormal(b.points, ring);
  if ((m[0] * n[0] + m[1] * n[1] + m[2] * n[2] > 0) != along) std::reverse(ring.begin(), ring.end());
}

// The plate is the pentagon (y, z) = (0, 0), (2, 0), (2, 0.3), (1.8, 0.5),
// (0, 0.5) (the bevel between the back and the top) from x = 0 to x = 4;
// the holes, radius 0.3 in 12 sides, go down through it at (1, 0.9) and
// (3, 0.9). Points 0-4 are the profile at x = 0, 5-9 at x = 4, then each
// hole's ring at the top and at the bottom. 31 faces.
Bracket MakeBracket() {
  Bracket b;
  const float profile[5][2] = {{0, 0}, {2, 0}, {2, 0.3f}, {1.8f, 0.5f}, {0, 0.5f}};
  for (float x : {0.0f, 4.0f})
    for (const auto &p : profile) b.points.push_back({x, p[0], p[1]});
  constexpr int kSides = 12;
  const float centres[2] = {1, 3}, cy = 0.9f, radius = 0.3f;
  for (float cx : centres)
    for (float z : {0.5f, 0.0f})
      for (int k = 0; k < kSides; ++k) {
        const double a = 2 * M_PI * k / kSides;
        b.points.push_back({cx + radius * float(std::cos(a)), cy + radius * float(std::sin(a)), z});
      }
  auto top = [](int h, int k) { return 10 + h * 2 * kSides + k % kSides; };
  auto bottom = [](int h, int k) { return 10 + h * 2 * kSides + kSides + k % kSides; };
  auto add = [&](std::vector<int32_t> outer, P3 n, std::vector<std::vector<int32_t>> holes = {}) {
    Orient(b, outer, n, true);
    for (auto &hole : holes) Orient(b, hole, n, false);
    b.faces.push_back({outer, holes});
  };
  add({0, 1, 2, 3, 4}, {-1, 0, 0});
  add({5, 6, 7, 8, 9}, {1, 0, 0});
  for (int i : {1, 2, 4}) {  // back, bevel, front: outward from the profile's inside
    const int j = (i + 1) % 5;
    const float dy = profile[j][0] - profile[i][0], dz = profile[j][1] - profile[i][1];
    const float my = (profile[i][0] + profile[j][0]) / 2 - 1,
                mz = (profile[i][1] + profile[j][1]) / 2 - 0.25f;
    const bool out = dz * my - dy * mz > 0;
    add({i, j, 5 + j, 5 + i}, out ? P3{0, dz, -dy} : P3{0, -dz, dy});
  }
  std::vector<std::vector<int32_t>> tops(2), bottoms(2);
  for (int h = 0; h < 2; ++h)
    for (int k = 0; k < kSides; ++k) {
      tops[h].push_back(top(h, k));
      bottoms[h].push_back(bottom(h, k));
    }
  add({3, 4, 9, 8}, {0, 0, 1}, tops);
  add({0, 1, 6, 5}, {0, 0, -1}, bottoms);
  for (int h = 0; h < 2; ++h)
    for (int k = 0; k < kSides; ++k) {
      const P3 &p = b.points[top(h, k)], &q = b.points[top(h, k + 1)];
      add({top(h, k), top(h, k + 1), bottom(h, k + 1), bottom(h, k)},
          {centres[h] - (p[0] + q[0]) / 2, cy - (p[1] + q[1]) / 2, 0});  // the wall faces the hole's axis
    }
  return b;
}

// The bracket through VoPrimitiveCreateMesh, faces with holes as contours,
// with a normal property whose values the crease call makes.
VtPrimitive *CodeMesh(const Bracket &b) {
  std::vector<int32_t> contours, counts, indices;
  for (const Face &f : b.faces) {
    contours.push_back(static_cast<int32_t>(1 + f.holes.size()));
    counts.push_back(static_cast<int32_t>(f.outer.size()));
    indices.insert(indices.end(), f.outer.begin(), f.outer.end());
    for (const auto &hole : f.holes) {
      counts.push_back(static_cast<int32_t>(hole.size()));
      indices.insert(indices.end(), hole.begin(), hole.end());
    }
  }
  std::vector<P3> normals(b.points.size(), P3{0, 0, 1});
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtTypedValue data[2] = {TypedPointer(const_cast<P3 *>(b.points.data())), TypedPointer(normals.data())};
  return VoPrimitiveCreateMesh(static_cast<uint32_t>(b.faces.size()), contours.data(), counts.data(),
                               indices.data(), 2, ids, data);
}

// A face with holes as a file holds it: each hole joined to the outer
// corner nearest its centre by a bridge to the hole's vertex nearest that
// corner, the hole gone round (clockwise) and the bridge taken back.
std::vector<int32_t> Bridged(const Bracket &b, const Face &f) {
  auto distance = [&](const P3 &p, const P3 &q) { return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]); };
  std::vector<size_t> anchor(f.holes.size());
  for (size_t h = 0; h < f.holes.size(); ++h) {
    P3 centre{0, 0, 0};
    for (int32_t v : f.holes[h])
      for (int a = 0; a < 3; ++a) centre[a] += b.points[v][a] / float(f.holes[h].size());
    for (size_t i = 1; i < f.outer.size(); ++i)
      if (distance(b.points[f.outer[i]], centre) < distance(b.points[f.outer[anchor[h]]], centre))
        anchor[h] = i;
  }
  std::vector<int32_t> ring;
  for (size_t i = 0; i < f.outer.size(); ++i) {
    ring.push_back(f.outer[i]);
    for (size_t h = 0; h < f.holes.size(); ++h) {
      if (anchor[h] != i) continue;
      const auto &hole = f.holes[h];
      size_t start = 0;
      for (size_t k = 1; k < hole.size(); ++k)
        if (distance(b.points[hole[k]], b.points[f.outer[i]]) <
            distance(b.points[hole[start]], b.points[f.outer[i]]))
          start = k;
      for (size_t k = 0; k <= hole.size(); ++k) ring.push_back(hole[(start + k) % hole.size()]);
      ring.push_back(f.outer[i]);
    }
  }
  return ring;
}

std::string Hex(const float *values, int count) {
  std::string s;
  char byte[3];
  for (int i = 0; i < count; ++i) {
    unsigned char bytes[4];
    std::memcpy(bytes, &values[i], 4);
    for (unsigned char c : bytes) {
      std::snprintf(byte, sizeof byte, "%02x", c);
      s += byte;
    }
  }
  return s;
}

// The bracket written by hand as a text mesh file: positions, and normals
// (all (0, 0, 1)) when asked.
std::string MeshFile(const Bracket &b, bool normals) {
  const int n = normals ? 2 : 1;
  const int names = 16 * n + 18 + (normals ? 19 : 0);
  std::ostringstream s;
  s << "VXMA 2 4 4 " << n << " 1 " << names << " 0 1025 vogeom:world:1025 3 3 12\n";
  if (normals) s << "1030 vogeom:normal:1030 3 3 12\n";
  s << " 0 " << b.points.size() << " 0 " << b.faces.size() << " " << n << " 1025" << (normals ? " 1030" : "")
    << "\n";
  const float up[3] = {0, 0, 1};
  for (const P3 &p : b.points) s << Hex(p.data(), 3) << (normals ? " " + Hex(up, 3) : "") << "\n";
  for (const Face &f : b.faces) {
    for (int32_t v : Bridged(b, f)) s << " " << v;
    s << " -1\n";
  }
  return s.str();
}

VtPrimitive *LoadMesh(const std::string &text) {
  std::FILE *f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  VtTypedValue v = TypedPointer(f);
  EXPECT_EQ(VoControlSet(VO_CONTROL_MESHIO_FILE, &v), 0u);
  VtReference *list = VoMeshLoad();
  v = TypedPointer(nullptr);
  EXPECT_EQ(VoControlSet(VO_CONTROL_MESHIO_FILE, &v), 0u);
  std::fclose(f);
  if (list == nullptr) return nullptr;
  EXPECT_EQ(list->next, list);  // one mesh: the list's only node is its last
  auto *mesh = static_cast<VtPrimitive *>(list->next->data);
  EXPECT_EQ(VoPrimitiveReferenceDestroy(list, 0), 0u);
  return mesh;
}

VtStatus Creases(VtPrimitive *mesh) {
  VtTypedValue crease = TypedWord(VtFlags, 4), average = TypedWord(VtFlags, 1);
  EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_NORMAL_FLAGS, &crease), 0u);
  const VtStatus st = VoVertexResetProperty(mesh, nullptr, VO_VERT_NORMAL);
  EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_NORMAL_FLAGS, &average), 0u);
  return st;
}

// ---- Scenes, views and what renders hand out --------------------------------------

void Show(VtPrimitive *mesh) {
  VtReference *list = VoPrimitiveListCreate(1, &mesh);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(VoPrimitiveListSet(list), 0u);
}

void Look(const P3 &eye, int32_t width = kWidth, int32_t height = kHeight) {
  const float reference[3] = {2, 1, 0.25f}, up[3] = {0, 0, 1};
  ASSERT_EQ(VoViewSetResolution(nullptr, uint32_t(width), uint32_t(height), 1), 0u);
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye.data(), reference, up, VO_PROJECTION_PERSPECTIVE, 40), 0u);
}

// The six distant lights: from +x red, -x green, +y blue, -y yellow, +z
// magenta, -z cyan, so that every orientation of a face mixes its own
// colour; and a white matte material on the mesh.
void Lit(VtPrimitive *mesh) {
  const float directions[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  const float colours[6][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {1, 0, 1}, {0, 1, 1}};
  VtReference *lights = nullptr;
  for (int i = 0; i < 6; ++i) {
    VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "distant");
    ASSERT_NE(light, nullptr);
    VtTypedValue v = vo_test::TypedColour(directions[i][0], directions[i][1], directions[i][2]);
    v.type = VtPoint;
    ASSERT_EQ(VoShaderSetArg(light, "location", &v), 0u);
    v = vo_test::TypedColour(colours[i][0], colours[i][1], colours[i][2]);
    ASSERT_EQ(VoShaderSetArg(light, "colour", &v), 0u);
    v = TypedFloat(0.8f);
    ASSERT_EQ(VoShaderSetArg(light, "intensity", &v), 0u);
    lights = VoShaderReferenceAppend(lights, VoShaderReferenceCreate(light));
  }
  ASSERT_EQ(VoLightListSet(lights), 0u);
  VtMaterial *m = VoMaterialCreate();
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "matte"), 0u);
  ASSERT_EQ(VoPrimitiveSetMaterial(mesh, m), 0u);
}

using Picture = std::vector<uint8_t>;  // RGB rows, top first

// Renders the current scene with `code` into an image through the image
// driver, the route message 2930 gives for line pictures.
struct ImageRender {
  VtImage *image = nullptr;
  VtStatus status = 0;
  Picture pixels;
};

ImageRender IntoImage(uint32_t code, int32_t width = kWidth, int32_t height = kHeight) {
  ImageRender r;
  r.image = VoImageCreate();
  r.image->width = width;
  r.image->height = height;
  EXPECT_EQ(VoImageAllocateData(r.image), 0u);
  const VtTypedValue v = TypedPointer(r.image);
  EXPECT_EQ(VoDriverSet(VoDriverFindFromName("vodrvimg")), 0u);
  EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v), 0u);
  r.status = VoExecute(code);
  for (int32_t y = 0; y < height; ++y)
    r.pixels.insert(r.pixels.end(), r.image->data + y * r.image->bytes_per_row,
                    r.image->data + y * r.image->bytes_per_row + 3 * width);
  EXPECT_EQ(VoDriverSet(VoDriverFindFromName("vodrvnul")), 0u);
  return r;
}

// A two-point piece of a drawn polyline, in pixels, with the pen byte it
// was drawn with.
struct Piece {
  float x0, y0, x1, y1;
  uint32_t pen;
};

struct Drawing {
  VtStatus status = 0;
  std::vector<Piece> pieces;
  size_t polylines = 0;
};

// Draws the current scene's lines through a driver of the application's
// own (the recorder), which receives each drawing as a pen selection
// (0x1a001f, only when the pen changes) and a shape request (0x1a0022).
Drawing Lines(uint32_t code, uint32_t output_mask = VO_HL_CLASS_VISIBLE) {
  RecordingDriver::Reset();
  VtDriverRecord *d = VoDriverCreate(&RecordingDriver::DriverQuery);
  EXPECT_NE(d, nullptr);
  EXPECT_EQ(VoDriverSet(d), 0u);
  VtTypedValue mask = TypedWord(VtFlags, output_mask);
  EXPECT_EQ(VoControlSet(VO_CONTROL_HL_OUTPUT_MASK, &mask), 0u);
  Drawing out;
  out.status = VoExecute(code);
  uint32_t pen = 0;
  size_t drawn = 0;
  for (const auto &[operation, argument] : RecordingDriver::calls) {
    if (operation == VO_DRIVER_STYLE) pen = static_cast<uint32_t>(argument);
    if (operation != VO_DRIVER_DRAW || drawn >= RecordingDriver::polylines.size()) continue;
    const auto &line = RecordingDriver::polylines[drawn++];
    for (size_t i = 1; i < line.size(); ++i) {
      const auto &a = line[i - 1], &b = line[i];
      out.pieces.push_back(
          {a[0] / a[3] * kWidth, a[1] / a[3] * kHeight, b[0] / b[3] * kWidth, b[1] / b[3] * kHeight, pen});
    }
  }
  out.polylines = RecordingDriver::polylines.size();
  mask = TypedWord(VtFlags, VO_HL_CLASS_VISIBLE);
  EXPECT_EQ(VoControlSet(VO_CONTROL_HL_OUTPUT_MASK, &mask), 0u);
  EXPECT_EQ(VoDriverSet(VoDriverFindFromName("vodrvnul")), 0u);
  EXPECT_EQ(VoDriverDestroy(d), 0u);
  return out;
}

double DistanceToPiece(float x, float y, const Piece &p) {
  const double dx = p.x1 - p.x0, dy = p.y1 - p.y0, length2 = dx * dx + dy * dy;
  double t = length2 > 0 ? ((x - p.x0) * dx + (y - p.y0) * dy) / length2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(x - (p.x0 + t * dx), y - (p.y0 + t * dy));
}

// Calls f(x, y) at points a pixel apart along every piece.
template <class F>
void Samples(const std::vector<Piece> &pieces, F f) {
  for (const Piece &p : pieces) {
    const int n = std::max(1, int(std::ceil(std::hypot(p.x1 - p.x0, p.y1 - p.y0))));
    for (int i = 0; i <= n; ++i) f(p.x0 + (p.x1 - p.x0) * i / n, p.y0 + (p.y1 - p.y0) * i / n);
  }
}

// The samples of `a` farther than `tolerance` pixels from every piece of b.
int Uncovered(const std::vector<Piece> &a, const std::vector<Piece> &b, double tolerance) {
  int missed = 0;
  Samples(a, [&](float x, float y) {
    bool near = false;
    for (const Piece &p : b) near = near || DistanceToPiece(x, y, p) <= tolerance;
    missed += near ? 0 : 1;
  });
  return missed;
}

double Length(const std::vector<Piece> &pieces) {
  double sum = 0;
  for (const Piece &p : pieces) sum += std::hypot(p.x1 - p.x0, p.y1 - p.y0);
  return sum;
}

class TechnicalDrawing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
  }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }
};

// ---- Creases, the file mesh and the refusal ----------------------------------------

TEST_F(TechnicalDrawing, AfterTheCreaseCallTheCodeMeshAndTheFileMeshWithNormalsDrawTheSameLines) {
  const Bracket bracket = MakeBracket();
  VtPrimitive *code = CodeMesh(bracket);
  VtPrimitive *with_normals = LoadMesh(MeshFile(bracket, true));
  VtPrimitive *positions_only = LoadMesh(MeshFile(bracket, false));
  ASSERT_NE(code, nullptr);
  ASSERT_NE(with_normals, nullptr);
  ASSERT_NE(positions_only, nullptr);

  // A mesh whose layout keeps no normals is refused by name, and nothing
  // is drawn differently for the call.
  Show(positions_only);
  Look({-3, -5, 4});
  const Drawing before = Lines(VO_EXECUTE_HIDDEN_LINE_TWO_PASS);
  EXPECT_EQ(Creases(positions_only), VO_STATUS_BAD_ARGUMENT);
  const auto refused = vo_test::WithMessage(messages::kNormalsWithoutProperty);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].args[0].value.p, positions_only);
  EXPECT_EQ(refused[0].strings, std::vector<std::string>{"vogeom:normal"});
  EXPECT_EQ(refused[0].args[2].value.i, int32_t(VO_VERT_NORMAL));
  EXPECT_EQ(Lines(VO_EXECUTE_HIDDEN_LINE_TWO_PASS).pieces.size(), before.pieces.size());

  // With normals, the creases (the plate's edges, the bevel's, the holes'
  // rims) join the outline: the file mesh draws the code mesh's lines.
  EXPECT_EQ(Creases(code), 0u);
  EXPECT_EQ(Creases(with_normals), 0u);
  Show(code);
  const Drawing from_code = Lines(VO_EXECUTE_HIDDEN_LINE_TWO_PASS);
  Show(with_normals);
  const Drawing from_file = Lines(VO_EXECUTE_HIDDEN_LINE_TWO_PASS);
  EXPECT_EQ(from_code.status, 0u);
  EXPECT_EQ(from_file.status, 0u);
  EXPECT_GT(Length(from_code.pieces), 1.5 * Length(before.pieces));
  EXPECT_EQ(Uncovered(from_code.pieces, from_file.pieces, 0.75), 0);
  EXPECT_EQ(Uncovered(from_file.pieces, from_code.pieces, 0.75), 0);
}

// ---- Visible lines against a picture of the faces' orientations -------------------

// True when the pixels within `r` of (x, y) hold a colour edge: two of them
// differing by more than `step` in a channel.
bool EdgeNear(const Picture &p, float x, float y, int r, int step) {
  const int cx = int(std::floor(x)), cy = int(std::floor(y));
  for (int c = 0; c < 3; ++c) {
    int low = 255, high = 0;
    for (int j = cy - r; j <= cy + r; ++j)
      for (int i = cx - r; i <= cx + r; ++i) {
        if (i < 0 || j < 0 || i >= kWidth || j >= kHeight) continue;
        const int v = p[(size_t(j) * kWidth + size_t(i)) * 3 + size_t(c)];
        low = std::min(low, v);
        high = std::max(high, v);
      }
    if (high - low > step) return true;
  }
  return false;
}

TEST_F(TechnicalDrawing, EveryVisibleLineLiesOnAColourEdgeOfTheLitPictureOverSeededViews) {
  // Lit by six coloured lights, each orientation of a face has a colour of
  // its own and the background is black: a visible line is an outline or a
  // crease between faces of two orientations, so it lies within 2 pixels of
  // a colour edge. No two faces of the bracket that share an orientation
  // overlap in these views (the walls of the two holes, which do, cannot
  // be seen through each other), so no line is excused.
  const Bracket bracket = MakeBracket();
  VtPrimitive *mesh = CodeMesh(bracket);
  ASSERT_NE(mesh, nullptr);
  ASSERT_EQ(Creases(mesh), 0u);
  Show(mesh);
  Lit(mesh);
  const uint32_t seed = 103;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> turn(0, 2 * M_PI), lift(0.2, 1.2);
  for (int view = 0; view < 6; ++view) {
    const double azimuth = turn(rng), elevation = (view % 3 == 2 ? -1 : 1) * lift(rng);
    const P3 eye = {float(2 + 8 * std::cos(elevation) * std::cos(azimuth)),
                    float(1 + 8 * std::cos(elevation) * std::sin(azimuth)),
                    float(0.25 + 8 * std::sin(elevation))};
    Look(eye);
    const ImageRender picture = IntoImage(VO_EXECUTE_ADVANCED_ZBUFFER);
    ASSERT_EQ(picture.status, 0u);
    const Drawing lines = Lines(VO_EXECUTE_HIDDEN_LINE_TWO_PASS);
    ASSERT_EQ(lines.status, 0u);
    ASSERT_FALSE(lines.pieces.empty());
    int missed = 0, samples = 0;
    std::string where;
    Samples(lines.pieces, [&](float x, float y) {
      ++samples;
      if (EdgeNear(picture.pixels, x, y, 2, 12)) return;
      if (++missed <= 4) where += " (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    });
    EXPECT_EQ(missed, 0) << "seed " << seed << " view " << view << ": " << samples << " samples, missed at"
                         << where;
  }
}

// ---- What a driver is told of each line --------------------------------------------

uint32_t g_pen_calls = 0;
VtStatus PenCounted(VtHiddenLineEdgeInfo *) { return ++g_pen_calls, 0; }

TEST_F(TechnicalDrawing, ThePenByteTellsVisibleFromHiddenAndThePenCallbackComesOnlyWithIdentityInTwoPasses) {
  // The pen selection before each drawing is the segment's class: 8
  // visible or 1 hidden, with 2 for a border edge (a crease's, after the
  // crease call), 4 for a silhouette (the holes' walls) and 0x10 for an edge
  // two polygons share.
  VtPrimitive *mesh = CodeMesh(MakeBracket());
  ASSERT_EQ(Creases(mesh), 0u);
  Show(mesh);
  Look({-3, -5, 4});
  const Drawing both = Lines(VO_EXECUTE_HIDDEN_LINE, VO_HL_CLASS_VISIBLE | VO_HL_CLASS_HIDDEN);
  ASSERT_EQ(both.status, 0u);
  uint32_t seen = 0;
  for (const Piece &p : both.pieces) {
    EXPECT_NE((p.pen & VO_HL_CLASS_VISIBLE) != 0, (p.pen & VO_HL_CLASS_HIDDEN) != 0) << std::hex << p.pen;
    seen |= p.pen & 0xff;
  }
  for (uint32_t bit :
       {VO_HL_CLASS_HIDDEN, VO_HL_CLASS_KIND2, VO_HL_CLASS_SILHOUETTE, VO_HL_CLASS_VISIBLE, 0x10u})
    EXPECT_NE(seen & bit, 0u) << bit;

  // The pen callback is asked about each of the two-pass render's drawings
  // (its chains) in identity mode, and about none otherwise.
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_PEN, reinterpret_cast<VtProc>(&PenCounted)), 0u);
  g_pen_calls = 0;
  EXPECT_GT(Lines(VO_EXECUTE_HIDDEN_LINE_TWO_PASS).polylines, 0u);
  EXPECT_EQ(g_pen_calls, 0u);
  VtTypedValue on = TypedBoolean(true);
  ASSERT_EQ(VoControlSet(VO_CONTROL_HL_IDENTITY, &on), 0u);
  (void)Lines(VO_EXECUTE_HIDDEN_LINE);
  EXPECT_EQ(g_pen_calls, 0u);
  const Drawing chains = Lines(VO_EXECUTE_HIDDEN_LINE_TWO_PASS);
  EXPECT_GT(chains.polylines, 0u);
  EXPECT_EQ(g_pen_calls, chains.polylines);
}

// ---- An area light and the second light pass ---------------------------------------

TEST_F(TechnicalDrawing, AnAreaLightLeftOutForWantOfTheSecondPassWarnsOnceARender) {
  const float floor_points[4][3] = {{-4, -4, 0}, {4, -4, 0}, {4, 4, 0}, {-4, 4, 0}};
  const float panel_points[4][3] = {{-0.5f, -0.5f, 2}, {-0.5f, 0.5f, 2}, {0.5f, 0.5f, 2}, {0.5f, -0.5f, 2}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {TypedPointer(const_cast<float(*)[3]>(floor_points))};
  VtPrimitive *floor = VoPrimitiveCreatePolygon(4, 1, ids, data);
  data[0] = TypedPointer(const_cast<float(*)[3]>(panel_points));
  VtPrimitive *panel = VoPrimitiveCreatePolygon(4, 1, ids, data);  // faces down
  ASSERT_NE(floor, nullptr);
  ASSERT_NE(panel, nullptr);
  Show(floor);
  const float eye[3] = {0, -6, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 0, 1};
  ASSERT_EQ(VoViewSetResolution(nullptr, 32, 24, 1), 0u);
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40), 0u);
  VtShader *area = VoShaderCreate(VO_SHADER_LIGHT, "area");
  ASSERT_NE(area, nullptr);
  VtTypedValue v = TypedPointer(panel);
  ASSERT_EQ(VoShaderSetArg(area, "primitive", &v), 0u);
  v = vo_test::TypedColour(4, 4, 4);
  ASSERT_EQ(VoShaderSetArg(area, "unshot", &v), 0u);
  ASSERT_EQ(VoLightListSet(VoShaderReferenceCreate(area)), 0u);
  auto light = [](const Picture &p) {
    long sum = 0;
    for (uint8_t b : p) sum += b;
    return sum;
  };
  for (int render = 1; render <= 2; ++render) {
    const ImageRender off = IntoImage(VO_EXECUTE_ADVANCED_ZBUFFER, 32, 24);
    EXPECT_EQ(off.status, 0u);  // the render answers as without the light
    EXPECT_EQ(light(off.pixels), 0);
    const auto told = vo_test::WithMessage(messages::kAreaLightNeedsSecondPass);
    ASSERT_EQ(told.size(), size_t(render));
    EXPECT_EQ(told.back().status, VO_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(told.back().args[0].value.p, area);
  }
  v = TypedBoolean(true);
  ASSERT_EQ(VoControlSet(VO_CONTROL_SHADER_SECOND_LIGHT_PASS, &v), 0u);
  const ImageRender on = IntoImage(VO_EXECUTE_ADVANCED_ZBUFFER, 32, 24);
  EXPECT_EQ(on.status, 0u);
  EXPECT_GT(light(on.pixels), 0);
  EXPECT_EQ(vo_test::WithMessage(messages::kAreaLightNeedsSecondPass).size(), 2u);
}

// ---- View refusals under the demo's mask ---------------------------------------------

TEST_F(TechnicalDrawing, ViewRefusalsReachTheDefaultHandlerUnderTheDemosSeverityMask) {
  std::FILE *stream = std::tmpfile();
  VtTypedValue v = TypedPointer(stream);
  ASSERT_EQ(VoControlSet(VO_CONTROL_ERROR_STREAM, &v), 0u);
  v = TypedWord(VtNat32, 0x60000000);
  ASSERT_EQ(VoControlSet(VO_CONTROL_SEVERITY_MASK, &v), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoErrorHandlerDefault)), 0u);
  const float eye[3] = {0, 0, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0}, none[3] = {0, 0, 0};
  // The answers stay the bare 0x12; the diagnostics carry the error class.
  EXPECT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 0),
            VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(VoViewSetPinhole(nullptr, eye, reference, none, VO_PROJECTION_PERSPECTIVE, 40),
            VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(VoViewSetResolution(nullptr, 0, 0, 1), VO_COND_BAD_ARGUMENT);
  v = TypedPointer(nullptr);
  ASSERT_EQ(VoControlSet(VO_CONTROL_ERROR_STREAM, &v), 0u);
  std::rewind(stream);
  std::string printed;
  for (int c; (c = std::fgetc(stream)) != EOF;) printed += char(c);
  std::fclose(stream);
  for (const char *code : {"489", "496", "487"}) EXPECT_NE(printed.find(code), std::string::npos) << printed;
}

// ---- A viewport render copied out of the image driver ------------------------------

TEST_F(TechnicalDrawing, AViewportRenderLeavesTheImagesValidRegionAtTheViewportAndACopyWritesThatPart) {
  VtPrimitive *mesh = CodeMesh(MakeBracket());
  Show(mesh);
  Lit(mesh);
  Look({-3, -5, 4}, 64, 48);
  const uint32_t viewport[4] = {16, 47, 8, 39};
  ASSERT_EQ(VoViewSetViewport(nullptr, viewport), 0u);
  const ImageRender r = IntoImage(VO_EXECUTE_ADVANCED_ZBUFFER, 64, 48);
  ASSERT_EQ(r.status, 0u);
  EXPECT_EQ((std::array<int32_t, 4>{r.image->x0, r.image->x1, r.image->y0, r.image->y1}),
            (std::array<int32_t, 4>{16, 47, 8, 39}));
  // A BMP holds its width at byte 18 and its height at byte 22.
  auto copied = [&] {
    std::FILE *f = std::tmpfile();
    VtDriverRecord *bmp = VoDriverFindFromName("vodrvbmp");
    VtTypedValue v = TypedPointer(f);
    EXPECT_EQ(VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v), 0u);
    EXPECT_EQ(VoDriverCopyImage(bmp, r.image), 0u);
    v = TypedPointer(nullptr);
    EXPECT_EQ(VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v), 0u);
    uint8_t header[26] = {};
    std::rewind(f);
    EXPECT_EQ(std::fread(header, 1, sizeof header, f), sizeof header);
    std::fclose(f);
    int32_t size[2];
    std::memcpy(size, header + 18, 8);
    return std::array<int32_t, 2>{size[0], size[1]};
  };
  EXPECT_EQ(copied(), (std::array<int32_t, 2>{32, 32}));
  // The whole image: its valid region given back (x1 and y1 0 are the last
  // column and row).
  r.image->x0 = r.image->x1 = r.image->y0 = r.image->y1 = 0;
  EXPECT_EQ(copied(), (std::array<int32_t, 2>{64, 48}));
}

// ---- The progress callback's answer, renderer by renderer -------------------------

// A driver that takes rows and lines and answers its second interrupt poll
// with 64.
int g_polls = 0;
VtStatus PollingAnswer() { return ++g_polls >= 2 ? VO_COND_INTERRUPTED : 0; }
VtStatus PollingRow(uint32_t, void *) { return 0; }
VtStatus PollingFrame(int32_t, int32_t, int32_t, int32_t) { return 0; }
VtStatus PollingFrameEnd() { return 0; }
VtStatus PollingDraw(uint32_t, uint32_t, VtDrawRecord *) { return 0; }
VtStatus PollingLookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set != 0) return VO_STATUS_BAD_ARGUMENT;
  *slot = code == VO_DRIVER_POLL ? reinterpret_cast<VtProc>(&PollingAnswer)
          : code == VO_DRIVER_ROW_BYTES || code == VO_DRIVER_ROW_FLOAT ? reinterpret_cast<VtProc>(&PollingRow)
          : code == VO_DRIVER_BEGIN_FRAME ? reinterpret_cast<VtProc>(&PollingFrame)
          : code == VO_DRIVER_END_FRAME   ? reinterpret_cast<VtProc>(&PollingFrameEnd)
          : code == VO_DRIVER_DRAW        ? reinterpret_cast<VtProc>(&PollingDraw)
                                          : nullptr;
  return 0;
}
VtStatus PollingQuery(uint32_t query, VtTypedValue *answer) {
  *answer = VtTypedValue{};
  if (query == VO_QUERY_REGISTRY_NAME) *answer = TypedString("polling");
  if (query == VO_QUERY_CALLBACK) *answer = TypedFunc(&PollingLookup);
  return 0;
}

std::vector<double> g_reports;
VtStatus AnswerAtHalf(uint32_t, VtTypedValue *v) {
  const double percent = v != nullptr && v->type == VtDouble ? v->value.d : -1;
  g_reports.push_back(percent);
  return percent >= 50 ? 64 : 0;
}

TEST_F(TechnicalDrawing, AProgressAnswerOf64StopsTheRayTracerAloneAsTheKernelPageSays) {
  // docs/kernel.md: the ray tracer ends its picture at the line whose
  // report was answered, with the answer as its status; every other
  // renderer goes on to its end and answers as without the callback.
  struct Case {
    const char *name;
    uint32_t code;
    bool stops;
  };
  const Case cases[] = {{"standard 0xc0001", 0xc0001, false},
                        {"standard 0xc0002", 0xc0002, false},
                        {"standard 0xc0003", 0xc0003, false},
                        {"z-buffer", 0x200001, false},
                        {"A-buffer", 0x200002, false},
                        {"hidden line", 0x190001, false},
                        {"hidden line two-pass", 0x190002, false},
                        {"NPR strokes", VO_EXECUTE_NPR_STROKES, false},
                        {"ray preview", 0x70001, true},
                        {"ray full pass", 0x70002, true}};
  VtPrimitive *mesh = CodeMesh(MakeBracket());
  ASSERT_EQ(Creases(mesh), 0u);
  Show(mesh);
  Lit(mesh);
  Look({-3, -5, 4}, 80, 60);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
    const ImageRender quiet = IntoImage(c.code, 80, 60);
    g_reports.clear();
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&AnswerAtHalf)), 0u);
    const ImageRender answered = IntoImage(c.code, 80, 60);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
    const auto first = std::find_if(g_reports.begin(), g_reports.end(), [](double p) { return p >= 50; });
    ASSERT_NE(first, g_reports.end());
    if (c.stops) {
      EXPECT_EQ(answered.status, 0x40u);
      EXPECT_EQ(first + 1, g_reports.end());  // no report after the answered one
      EXPECT_NE(answered.pixels, quiet.pixels);
    } else {
      EXPECT_EQ(answered.status, quiet.status);
      EXPECT_GE(g_reports.back(), 100.0);
      EXPECT_EQ(answered.pixels, quiet.pixels);
    }
    // The driver's poll interrupts every one of them: its second poll
    // answers 64.
    g_polls = 0;
    VtDriverRecord *polled = VoDriverCreate(&PollingQuery);
    ASSERT_EQ(VoDriverSet(polled), 0u);
    EXPECT_EQ(VoExecute(c.code) & VO_COND_INTERRUPTED, VO_COND_INTERRUPTED);
    EXPECT_EQ(g_polls, 2);
    EXPECT_EQ(VoDriverSet(VoDriverFindFromName("vodrvnul")), 0u);
    EXPECT_EQ(VoDriverDestroy(polled), 0u);
  }
}

// ---- Documents checked against the library ------------------------------------------

TEST_F(TechnicalDrawing, TheDocumentedDefaultsAndUnitsHold) {
  // The strokes' default material: "z colour" with both colours white.
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_NPR_MATERIAL, &v), 0u);
  VtShader *colour = VoMaterialGetShader(static_cast<VtMaterial *>(v.value.p), VO_SHADER_COLOUR);
  ASSERT_NE(colour, nullptr);
  for (const char *label : {"near colour", "far colour"}) {
    VtTypedValue c{};
    c.type = VtColourType;
    ASSERT_EQ(VoShaderGetArg(colour, label, &c), 0u);
    EXPECT_EQ((std::array<float, 3>{c.value.v[0], c.value.v[1], c.value.v[2]}),
              (std::array<float, 3>{1, 1, 1}));
  }
  // VoViewOrbit turns in degrees: 90 takes the eye a quarter turn about
  // the up vector through the point looked at.
  const float eye[3] = {0, -5, 0}, reference[3] = {0, 0, 0}, up[3] = {0, 0, 1};
  ASSERT_EQ(VoViewSetResolution(nullptr, 100, 100, 1), 0u);
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40), 0u);
  ASSERT_EQ(VoViewOrbit(nullptr, 90, 0), 0u);
  float e[3], r[3], u[3];
  int32_t projection;
  double angle;
  ASSERT_EQ(VoViewGetPinhole(nullptr, e, r, u, &projection, &angle), 0u);
  EXPECT_NEAR(std::hypot(e[0], e[1]), 5, 1e-4);
  EXPECT_NEAR(e[0] * eye[0] + e[1] * eye[1], 0, 1e-3);  // at right angles to where it was
  // A parallel view's "angle" is the window's size in world units across
  // the picture's smaller side: with 4 on 200 x 100 pixels, a point 2 above
  // the point looked at is on the top edge and one 4 to its right on the
  // right edge.
  ASSERT_EQ(VoViewSetResolution(nullptr, 200, 100, 1), 0u);
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PARALLEL, 4), 0u);
  ASSERT_EQ(VoViewEvaluate(nullptr), 0u);
  const float above[3] = {0, 0, 2}, right[3] = {4, 0, 0};
  float projected[4];
  ASSERT_EQ(VoViewProjectPoint(above, projected), 0u);
  EXPECT_NEAR(projected[1] / projected[3], 0.0, 1e-4);
  ASSERT_EQ(VoViewProjectPoint(right, projected), 0u);
  EXPECT_NEAR(projected[0] / projected[3], 1.0, 1e-4);
}

}  // namespace
}  // namespace vo::test

// ---- The line picture's route, journalled and replayed ------------------------------

// Outside the library's namespace, so that every call is the exported one
// the journal writes. The exported procedures are declared here, after
// the code above (which calls the library's own), as <vo/vo_api.h> declares
// them: declared beside the library's own, a call whose arguments are the
// interface's types would find both.
extern "C" {
VtStatus VoInitialise(void);
VtStatus VoTerminate(void);
VtPrimitive *VoPrimitiveCreateMesh(uint32_t face_count, const int32_t *contours_per_face,
                                   const int32_t *vertices_per_contour, const int32_t *vertex_indices,
                                   uint32_t property_count, const uint32_t *property_ids,
                                   const VtTypedValue *property_data);
VtReference *VoPrimitiveListCreate(uint32_t count, VtPrimitive **primitives);
VtStatus VoPrimitiveListSet(VtReference *list);
VtStatus VoViewSetResolution(VtView *view, uint32_t x, uint32_t y, double aspect);
VtStatus VoViewSetPinhole(VtView *view, const float *eye, const float *reference, const float *up,
                          int32_t projection, double angle);
VtImage *VoImageCreate(void);
VtStatus VoImageAllocateData(VtImage *image);
VtStatus VoDriverSet(VtDriverRecord *driver);
VtDriverRecord *VoDriverFindFromName(const char *name);
VtStatus VoControlSet(uint32_t code, const VtTypedValue *value);
VtStatus VoExecute(uint32_t code);
void *VoFileOpen(const char *path, uint32_t mode);
VtStatus VoFileClose(void *file);
VtStatus VoDriverSetControl(VtDriverRecord *driver, uint32_t code, const VtTypedValue *value);
VtStatus VoDriverCopyImage(VtDriverRecord *driver, VtImage *image);
VtStatus VoJournalControlSet(uint32_t code, const VtTypedValue *value);
VtStatus VoInterpreterReadInput(const char *name, void *file);
}

namespace technical_drawing_journal {

std::string Load(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

VtTypedValue Pointer(void *p) {
  VtTypedValue v;
  std::memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = p;
  return v;
}

void Journal(std::FILE *file) {
  VtTypedValue v = Pointer(file);
  VoJournalControlSet(VO_CONTROL_JOURNAL_FILE, &v);
  v.type = VtFlags;
  v.value.u = file != nullptr ? 1 : 0;
  VoJournalControlSet(VO_CONTROL_JOURNAL_FLAGS, &v);
}

// The route message 2930 gives: a two-pass hidden-line render into an image
// the application sized by writing its width and height, copied to a BMP
// file through the BMP driver.
VtStatus LinePicture(const std::string &bmp_path) {
  static const float corners[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                      {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
  static const int32_t faces[24] = {0, 3, 2, 1, 4, 5, 6, 7, 0, 1, 5, 4, 2, 3, 7, 6, 0, 4, 7, 3, 1, 2, 6, 5};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {Pointer(const_cast<float(*)[3]>(corners))};
  VtPrimitive *box = VoPrimitiveCreateMesh(6, nullptr, counts, faces, 1, ids, data);
  VtReference *list = VoPrimitiveListCreate(1, &box);
  VtStatus st = VoPrimitiveListSet(list);
  const float eye[3] = {3, -4, 3}, reference[3] = {0.5f, 0.5f, 0.5f}, up[3] = {0, 0, 1};
  st |= VoViewSetResolution(nullptr, 96, 72, 1);
  st |= VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 30);
  VtImage *image = VoImageCreate();
  image->width = 96;  // as an application sizes an image
  image->height = 72;
  st |= VoImageAllocateData(image);
  VtTypedValue v = Pointer(image);
  st |= VoDriverSet(VoDriverFindFromName("vodrvimg"));
  st |= VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
  st |= VoExecute(VO_EXECUTE_HIDDEN_LINE_TWO_PASS);
  void *file = VoFileOpen(bmp_path.c_str(), 2);
  VtDriverRecord *bmp = VoDriverFindFromName("vodrvbmp");
  v = Pointer(file);
  st |= VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v);
  st |= VoDriverCopyImage(bmp, image);
  v = Pointer(nullptr);
  st |= VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v);
  st |= VoFileClose(file);
  return st;
}

TEST(TechnicalDrawingJournal, TheImageDriversLinePictureReplaysFromItsJournalByteForByte) {
  const std::string dir = ::testing::TempDir();
  const std::string journal = dir + "technical_drawing_journal.txt", bmp = dir + "technical_drawing.bmp";
  ASSERT_EQ(VoInitialise(), 0u);
  std::FILE *j = std::fopen(journal.c_str(), "wb");
  Journal(j);
  EXPECT_EQ(LinePicture(bmp), 0u);
  Journal(nullptr);
  std::fclose(j);
  EXPECT_EQ(VoTerminate(), 0u);
  const std::string drawn = Load(bmp), written = Load(journal);
  ASSERT_EQ(drawn.size(), 54u + 96 * 3 * 72);
  EXPECT_NE(written.find("VoImageSetSize"), std::string::npos) << written;
  std::remove(bmp.c_str());

  ASSERT_EQ(VoInitialise(), 0u);
  std::FILE *script = std::fopen(journal.c_str(), "rb");
  EXPECT_EQ(VoInterpreterReadInput(journal.c_str(), script), 0u);
  std::fclose(script);
  EXPECT_EQ(VoTerminate(), 0u);
  EXPECT_EQ(Load(bmp), drawn);
}

}  // namespace technical_drawing_journal
