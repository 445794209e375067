// The journal-replay group: a seeded generator of sessions through the C
// interface, journalled as an application journals them, and their replay
// by vo_run in a clean folder after a restart, compared file by file.
//
// A session builds a small scene (a tessellated sphere over a floor, two
// materials, a light, a view), renders two or three frames with render
// classes drawn from the twelve, each into a BMP, Targa or JPEG file opened
// with VoFileOpen, changes the worker count between frames, and writes
// records to an object file and reads them back, putting the material it
// read on the sphere. A second session may append to the same journal, and
// the first may move its journal to a second file before it stops. The
// replay must write every output byte for byte (a Targa's time of writing
// masked), leave the second journal as it was, and exit as the sessions
// answered.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_hidden_line.h>
#include <vo/vo_multit.h>
#include <vo/vo_npr.h>
#include <vo/vo_object.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_render.h>

namespace vo_replay {

namespace fs = std::filesystem;

const uint32_t kClasses[] = {
    VO_EXECUTE_WIREFRAME_RENDER,   VO_EXECUTE_STANDARD_FLAT,        VO_EXECUTE_STANDARD_VERTEX_COLOUR,
    VO_EXECUTE_STANDARD_PER_PIXEL, VO_EXECUTE_ADVANCED_ZBUFFER,     VO_EXECUTE_ADVANCED_ABUFFER,
    VO_EXECUTE_HIDDEN_LINE,        VO_EXECUTE_HIDDEN_LINE_TWO_PASS, VO_EXECUTE_RAY_PREVIEW,
    VO_EXECUTE_RAY_FULL,           VO_EXECUTE_NPR_STROKES,          VO_EXECUTE_NPR_STROKES_ZBUF};

struct Output {
  const char *driver, *suffix;
};
const Output kOutputs[] = {{"vodrvbmp", "bmp"}, {"vodrvtga", "tga"}, {"vodrvjpg", "jpg"}};

inline std::string Load(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline VtTypedValue Typed(uint32_t type) {
  VtTypedValue v;
  std::memset(&v, 0, sizeof v);
  v.type = type;
  return v;
}

class Session {
 public:
  Session(uint32_t seed, int number)
      : rng_(seed * 2654435761u + static_cast<uint32_t>(number)), number_(number) {}

  // Runs the session in the current folder; the OR of what its calls in the
  // first journal answered.
  VtStatus Run(bool move_journal) {
    st_ = VoInitialise();
    std::FILE *journal = static_cast<std::FILE *>(VoFileOpen("journal.txt", number_ == 0 ? 2 : 3));
    JournalSet(journal);
    Scene();
    const int frames = 2 + Pick(2);
    for (int frame = 0; frame < frames; ++frame) {
      if (Pick(2) == 0) Workers();
      if (Pick(3) == 0) ObjectFile(frame);
      Render(frame, "frame");
    }
    std::FILE *moved = nullptr;
    const VtStatus journalled = st_;  // what the first journal's calls answered
    if (move_journal) {
      moved = static_cast<std::FILE *>(VoFileOpen("journal2.txt", 2));
      VtTypedValue v = Typed(VtGenericPtr);
      v.value.p = moved;
      VoJournalControlSet(VO_CONTROL_JOURNAL_FILE, &v);
      Render(frames, "late");  // journalled into the second journal only
    }
    st_ |= VoTerminate();
    std::fclose(journal);
    if (moved) std::fclose(moved);
    return moved ? journalled : st_;
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  float Unit() { return static_cast<float>(rng_() % 1000) / 999.0f; }

  void JournalSet(std::FILE *file) {
    VtTypedValue v = Typed(VtGenericPtr);
    v.value.p = file;
    VoJournalControlSet(VO_CONTROL_JOURNAL_FILE, &v);
    v = Typed(VtFlags);
    v.value.u = 1;
    VoJournalControlSet(VO_CONTROL_JOURNAL_FLAGS, &v);
  }

  VtMaterial *Material(const char *reflectance) {
    VtMaterial *m = VoMaterialCreate();
    VtTypedValue colour = Typed(VtColourType);
    // Awkward floats on purpose: negative zero, thirds, tiny values.
    const float odd[4] = {-0.0f, 1.0f / 3.0f, 1e-7f, 0.999999f};
    for (int i = 0; i < 3; ++i) colour.value.v[i] = Pick(4) == 0 ? odd[Pick(4)] : Unit();
    st_ |= VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain");
    st_ |= VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", &colour);
    st_ |= VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, reflectance);
    return m;
  }

  VtPrimitive *Sphere(int slices, int rings) {
    std::vector<float> xyz;
    std::vector<int32_t> counts, indices;
    for (int r = 0; r <= rings; ++r)
      for (int s = 0; s < slices; ++s) {
        const double t = M_PI * r / rings, p = 2 * M_PI * s / slices;
        xyz.insert(xyz.end(),
                   {static_cast<float>(std::sin(t) * std::cos(p)), static_cast<float>(std::cos(t)) + 1.2f,
                    static_cast<float>(std::sin(t) * std::sin(p))});
      }
    for (int r = 0; r < rings; ++r)
      for (int s = 0; s < slices; ++s) {
        const int a = r * slices + s, b = r * slices + (s + 1) % slices;
        counts.push_back(4);
        indices.insert(indices.end(), {a, a + slices, b + slices, b});
      }
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data = Typed(VtGenericPtr);
    data.value.p = xyz.data();
    return VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), indices.data(),
                                 1, ids, &data);
  }

  VtPrimitive *Floor() {
    const float xyz[4][3] = {{-4, 0, -4}, {4, 0, -4}, {4, 0, 4}, {-4, 0, 4}};
    const int32_t counts[1] = {4}, indices[4] = {0, 3, 2, 1};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data = Typed(VtGenericPtr);
    data.value.p = const_cast<float *>(&xyz[0][0]);
    return VoPrimitiveCreateMesh(1, nullptr, counts, indices, 1, ids, &data);
  }

  void Scene() {
    sphere_ = Sphere(6 + Pick(30), 3 + Pick(15));
    VtPrimitive *floor = Floor();
    const char *reflectances[3] = {"matte", "plastic", "metal"};
    sphere_material_ = Material(reflectances[Pick(3)]);
    st_ |= VoPrimitiveSetMaterial(sphere_, sphere_material_);
    st_ |= VoPrimitiveSetMaterial(floor, Material("matte"));
    VtPrimitive *both[2] = {sphere_, floor};
    st_ |= VoPrimitiveListSet(VoPrimitiveListCreate(2, both));
    const char *lights[3] = {"eye", "distant", "ambient"};
    st_ |= VoLightListSet(VoShaderReferenceCreate(VoShaderCreate(VO_SHADER_LIGHT, lights[Pick(3)])));
    const float eye[3] = {3 + 2 * Unit(), 2 + 2 * Unit(), 5}, centre[3] = {0, 1, 0}, up[3] = {0, 1, 0};
    st_ |= VoViewSetResolution(nullptr, 32 + 8 * static_cast<uint32_t>(Pick(6)),
                               24 + 8 * static_cast<uint32_t>(Pick(5)), 1.0);
    st_ |= VoViewSetPinhole(nullptr, eye, centre, up, VO_PROJECTION_PERSPECTIVE, 30.0 + 20 * Unit());
    st_ |= VoViewAutoClipping(nullptr);
  }

  void Workers() {
    VtTypedValue v = Typed(VtInt32);
    v.value.i = Pick(4);
    st_ |= VoControlSet(VO_CONTROL_MT_WORKERS, &v);
  }

  // Records written to an object file and read back; the material read
  // goes on the sphere, the string and the typed value's block are freed.
  void ObjectFile(int frame) {
    const std::string name = "objects" + std::to_string(number_) + "_" + std::to_string(frame) + ".vob";
    void *out = VoFileOpen(name.c_str(), 2);
    st_ |= VoObjectOpen(out, 2);
    VtObjectValue v;
    std::memset(&v, 0, sizeof v);
    v.type = VO_OBJECT_MATERIAL;
    v.value.p = Material(Pick(2) ? "matte" : "plastic");
    st_ |= VoObjectWrite(out, &v);
    std::memset(&v, 0, sizeof v);
    v.type = VO_OBJECT_STRING;
    v.value.s = const_cast<char *>("a \"name\"\twith\\escapes");
    st_ |= VoObjectWrite(out, &v);
    VtTypedValue typed = Typed(VtDouble);
    typed.value.d = Pick(2) ? -0.0 : 1.0 / 3.0;
    std::memset(&v, 0, sizeof v);
    v.type = VO_OBJECT_TYPED_VALUE;
    v.value.p = &typed;
    st_ |= VoObjectWrite(out, &v);
    st_ |= VoObjectClose(out);
    st_ |= VoFileClose(out);
    void *in = VoFileOpen(name.c_str(), 1);
    st_ |= VoObjectOpen(in, 1);
    VtObjectValue read[3];
    for (VtObjectValue &r : read) st_ |= VoObjectRead(in, &r);
    st_ |= VoObjectClose(in);
    st_ |= VoFileClose(in);
    st_ |= VoPrimitiveSetMaterial(sphere_, static_cast<VtMaterial *>(read[0].value.p));
    VoDeallocate(read[1].value.s);
    VoDeallocate(read[2].value.p);
  }

  void Render(int frame, const char *prefix) {
    const Output &o = kOutputs[Pick(3)];
    const std::string name =
        prefix + std::to_string(number_) + "_" + std::to_string(frame) + "." + std::string(o.suffix);
    void *file = VoFileOpen(name.c_str(), 2);
    VtTypedValue v = Typed(VtGenericPtr);
    v.value.p = file;
    st_ |= VoDriverSet(VoDriverFindFromName(o.driver));
    st_ |= VoControlSet(VO_CONTROL_DRIVER_FILE, &v);
    st_ |= VoExecute(kClasses[Pick(12)]);
    v.value.p = nullptr;
    st_ |= VoControlSet(VO_CONTROL_DRIVER_FILE, &v);
    st_ |= VoFileClose(file);
  }

  std::mt19937 rng_;
  int number_;
  VtStatus st_ = 0;
  VtPrimitive *sphere_ = nullptr;
  VtMaterial *sphere_material_ = nullptr;
};

// A Targa's extension area holds the time of writing: those 12 bytes are
// masked.
inline std::string Masked(const fs::path &path) {
  std::string bytes = Load(path);
  if (path.extension() != ".tga" || bytes.size() < 26) return bytes;
  const auto *footer = reinterpret_cast<const unsigned char *>(bytes.data() + bytes.size() - 26);
  const size_t at = footer[0] | footer[1] << 8 | footer[2] << 16 | static_cast<size_t>(footer[3]) << 24;
  if (at != 0 && at + 379 <= bytes.size()) std::memset(&bytes[at + 367], 0, 12);
  return bytes;
}

// Runs one seed's sessions in <root>/session, replays the journal with
// vo_run in <root>/replay, and answers what differed ("" when nothing).
inline std::string Check(uint32_t seed, const fs::path &root, const std::string &runner) {
  std::mt19937 plan(seed);
  const bool second = plan() % 2 == 0, moved = plan() % 2 == 0;
  const fs::path session = root / "session", replay = root / "replay";
  fs::remove_all(root);
  fs::create_directories(session);
  fs::create_directories(replay);
  const fs::path here = fs::current_path();
  fs::current_path(session);
  VtStatus status = Session(seed, 0).Run(moved);
  if (second) status |= Session(seed, 1).Run(false);
  fs::current_path(here);
  const std::string journal2 = moved ? Load(session / "journal2.txt") : "";
  if (moved) fs::copy_file(session / "journal2.txt", replay / "journal2.txt");
  const std::string command = "cd '" + replay.string() + "' && '" + runner + "' -q '" +
                              (session / "journal.txt").string() + "' >/dev/null 2>'" +
                              (root / "stderr.txt").string() + "'";
  const int code = std::system(command.c_str());
  const int exit_code = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
  std::string faults;
  if (exit_code != (status != 0 ? 1 : 0))
    faults += "vo_run exited " + std::to_string(exit_code) + " where the sessions answered " +
              std::to_string(status) + ": " + Load(root / "stderr.txt") + "\n";
  if (moved && Load(replay / "journal2.txt") != journal2) faults += "the replay changed journal2.txt\n";
  for (const auto &entry : fs::directory_iterator(session)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("frame", 0) != 0) continue;  // "late": rendered after the journal moved
    if (!fs::exists(replay / name))
      faults += name + " was not written\n";
    else if (Masked(entry.path()) != Masked(replay / name))
      faults += name + " differs\n";
  }
  return faults;
}

}  // namespace vo_replay
