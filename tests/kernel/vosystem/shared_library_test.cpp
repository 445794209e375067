// The shared library as an application loads it: its dynamic symbol table
// holds exactly the procedures of the interface description (the generated
// version script), and a library loaded with dlopen, used (also on worker
// threads) and closed leaves the process, so that loading it again starts
// afresh and renders the same.
//
// The symbol table is read from the file here (ELF, <elf.h>) rather than
// through nm: the test sees what the dynamic loader sees, including each
// symbol's binding (a unique symbol is what pins a library), and does not
// depend on which nm is on the path or how it prints.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "vo_impl.h"

namespace {

// ---- The dynamic symbol table --------------------------------------------

struct DynamicSymbol {
  std::string name;
  unsigned char binding;
  unsigned char type;
};

std::vector<char> FileBytes(const char *path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<char> bytes(in ? static_cast<size_t>(in.tellg()) : 0);
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!in) bytes.clear();
  return bytes;
}

// The bytes [offset, offset + size) of the file, or null when they are not
// all inside it.
const char *Within(const std::vector<char> &file, uint64_t offset, uint64_t size) {
  if (offset > file.size() || size > file.size() - offset) return nullptr;
  return file.data() + offset;
}

// The defined symbols of the file's dynamic symbol table (the ones
// nm -D --defined-only lists); false when the file is no 64-bit ELF file
// with such a table.
bool DefinedDynamicSymbols(const std::vector<char> &file, std::vector<DynamicSymbol> *out) {
  Elf64_Ehdr header;
  const char *at = Within(file, 0, sizeof header);
  if (at == nullptr) return false;
  std::memcpy(&header, at, sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_shentsize != sizeof(Elf64_Shdr))
    return false;
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  at = Within(file, header.e_shoff, sections.size() * sizeof(Elf64_Shdr));
  if (at == nullptr) return false;
  std::memcpy(sections.data(), at, sections.size() * sizeof(Elf64_Shdr));
  for (const Elf64_Shdr &s : sections) {
    if (s.sh_type != SHT_DYNSYM || s.sh_link >= sections.size()) continue;
    const Elf64_Shdr &strings = sections[s.sh_link];
    const char *names = Within(file, strings.sh_offset, strings.sh_size);
    const char *symbols = Within(file, s.sh_offset, s.sh_size);
    if (names == nullptr || symbols == nullptr || strings.sh_size == 0) return false;
    for (uint64_t i = 1; i < s.sh_size / sizeof(Elf64_Sym); ++i) {  // entry 0 is the null symbol
      Elf64_Sym sym;
      std::memcpy(&sym, symbols + i * sizeof sym, sizeof sym);
      if (sym.st_shndx == SHN_UNDEF || sym.st_name >= strings.sh_size) continue;
      out->push_back(
          {std::string(names + sym.st_name, strnlen(names + sym.st_name, strings.sh_size - sym.st_name)),
           static_cast<unsigned char>(ELF64_ST_BIND(sym.st_info)),
           static_cast<unsigned char>(ELF64_ST_TYPE(sym.st_info))});
    }
    return true;
  }
  return false;
}

// The names the version script makes global: the lines between "global:"
// and "local:", each "name;".
std::set<std::string> ScriptGlobals(const char *path) {
  std::ifstream in(path);
  std::set<std::string> names;
  bool global = false;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string word;
    if (!(words >> word)) continue;
    if (word == "global:" || word == "local:") {
      global = word == "global:";
    } else if (global && word.size() > 1 && word.back() == ';') {
      names.insert(word.substr(0, word.size() - 1));
    }
  }
  return names;
}

TEST(SharedLibrary, ExportsExactlyTheProceduresOfTheInterfaceDescription) {
  const std::set<std::string> declared = ScriptGlobals(VO_VERSION_SCRIPT);
  // 855 Vo procedures and eight lower-case entry points (byte order, object
  // stream hooks, the toolkit colour class, the filter's loop and method
  // enumerators); the C++ runtime's template instances are not among them.
  ASSERT_EQ(declared.size(), 863u) << VO_VERSION_SCRIPT;
  EXPECT_EQ(declared.count("vo_htons"), 1u);
  EXPECT_EQ(declared.count("VoInitialise"), 1u);
  std::vector<DynamicSymbol> symbols;
  ASSERT_TRUE(DefinedDynamicSymbols(FileBytes(VO_SHARED_LIBRARY), &symbols)) << VO_SHARED_LIBRARY;
  std::set<std::string> exported;
  for (const DynamicSymbol &s : symbols) {
    exported.insert(s.name);
    // Procedures only, bound globally: no data, no weak template instance,
    // no unique symbol that would keep the library loaded.
    EXPECT_EQ(s.binding, STB_GLOBAL) << s.name;
    EXPECT_EQ(s.type, STT_FUNC) << s.name;
  }
  EXPECT_EQ(exported.size(), symbols.size()) << "a name is exported twice";
  std::vector<std::string> missing, extra;
  std::set_difference(declared.begin(), declared.end(), exported.begin(), exported.end(),
                      std::back_inserter(missing));
  std::set_difference(exported.begin(), exported.end(), declared.begin(), declared.end(),
                      std::back_inserter(extra));
  EXPECT_TRUE(missing.empty()) << "declared, not exported: " << testing::PrintToString(missing);
  EXPECT_TRUE(extra.empty()) << "exported, not declared: " << testing::PrintToString(extra);
}

// ---- Loading, rendering, unloading ----------------------------------------

// The library's file as /proc/self/maps names it (the symbolic link resolved).
std::string LibraryFile() {
  char path[PATH_MAX];
  return realpath(VO_SHARED_LIBRARY, path) != nullptr ? path : VO_SHARED_LIBRARY;
}

bool Mapped(const std::string &file) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.size() >= file.size() && line.compare(line.size() - file.size(), file.size(), file) == 0)
      return true;
  return false;
}

// An exported procedure of the loaded library, of the exact type of its declaration.
template <class Proc>
Proc Symbol(void *lib, const char *name) {
  return reinterpret_cast<Proc>(dlsym(lib, name));
}
#define VO_PROC(name) const auto name = Symbol<decltype(&vo::exported::name)>(lib, #name)

constexpr uint32_t kWidth = 32, kHeight = 24;
constexpr uint32_t kZBufferColourRender = 0x200001;
constexpr uint32_t kRayTrace = 0x70001;
constexpr uint32_t kOpenGLRender = 0x6f0001;
constexpr uint32_t kWorkerCount = 0x520001;

// A square x, y in [-h, h] in the plane z = slope x, turning anticlockwise
// seen from the eye on the z axis.
VtPrimitive *Square(void *lib, float slope, float h) {
  VO_PROC(VoPrimitiveCreatePolygon);
  const float corners[4][3] = {
      {-h, -h, -slope * h}, {h, -h, slope * h}, {h, h, slope * h}, {-h, h, -slope * h}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {};
  data[0].type = VtGenericPtr;
  data[0].value.p = const_cast<float(*)[3]>(corners);
  return VoPrimitiveCreatePolygon(4, 1, ids, data);
}

// Renders the current scene with the execute code into the screen buffer
// and appends the buffer's rows to the picture; false when a step fails.
bool Render(void *lib, uint32_t code, VtScreenBuffer *buffer, std::vector<float> *picture) {
  VO_PROC(VoExecute);
  VO_PROC(VoScreenBufferGetScanRGBFloat);
  if (VoExecute(code) != 0) return false;
  const size_t at = picture->size();
  picture->resize(at + kWidth * kHeight * 3);
  for (uint32_t y = 0; y < kHeight; ++y)
    if (VoScreenBufferGetScanRGBFloat(buffer, y, &(*picture)[at + y * kWidth * 3]) != 0) return false;
  return true;
}

// The renders of one cycle: the advanced renderer's z-buffer and the ray
// tracer on two worker threads, or the OpenGL back end.
enum class Renders { kSoftware, kOpenGL };

// Renders the current scene as asked into the screen buffer; false when a
// step fails.
bool RenderAll(void *lib, Renders renders, VtScreenBuffer *buffer, std::vector<float> *picture) {
  if (renders == Renders::kSoftware) {
    VO_PROC(VoControlSet);
    VtTypedValue workers = {};
    workers.type = VtInt32;
    workers.value.i = 2;
    return VoControlSet(kWorkerCount, &workers) == 0 && Render(lib, kZBufferColourRender, buffer, picture) &&
           Render(lib, kRayTrace, buffer, picture);
  }
  VO_PROC(VoOpenGLInitialise);
  VO_PROC(VoOpenGLTerminate);
  if (VoOpenGLInitialise() != 0) return false;
  const bool rendered = Render(lib, kOpenGLRender, buffer, picture);
  return (VoOpenGLTerminate() == 0) && rendered;
}

// Starts the library, renders two crossing squares of the default material
// under the default light into a screen buffer as asked, destroys what it
// made and terminates; the pictures one after the other, or none when a
// step fails.
std::vector<float> RenderThroughTheLibrary(void *lib, Renders renders) {
  VO_PROC(VoInitialise);
  VO_PROC(VoTerminate);
  VO_PROC(VoScreenBufferCreate);
  VO_PROC(VoScreenBufferAllocateData);
  VO_PROC(VoScreenBufferSet);
  VO_PROC(VoScreenBufferDestroy);
  VO_PROC(VoPrimitiveListCreate);
  VO_PROC(VoPrimitiveListSet);
  VO_PROC(VoPrimitiveDestroy);
  VO_PROC(VoReferenceListDestroy);
  VO_PROC(VoViewSetResolution);
  VO_PROC(VoViewSetPinhole);
  const float eye[3] = {0, 0, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  if (VoInitialise() != 0) return {};
  VtScreenBuffer *buffer = VoScreenBufferCreate();
  VtPrimitive *squares[2] = {Square(lib, 0.5f, 1.0f), Square(lib, -1.5f, 0.6f)};
  VtReference *scene = VoPrimitiveListCreate(2, squares);
  bool failed = buffer == nullptr || squares[0] == nullptr || squares[1] == nullptr || scene == nullptr;
  failed = failed || VoScreenBufferAllocateData(buffer, VO_SB_COLOUR) != 0 || VoScreenBufferSet(buffer) != 0;
  failed =
      failed || VoPrimitiveListSet(scene) != 0 || VoViewSetResolution(nullptr, kWidth, kHeight, 1.0) != 0;
  failed = failed || VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  std::vector<float> picture;
  failed = failed || !RenderAll(lib, renders, buffer, &picture);
  if (buffer != nullptr) failed |= VoScreenBufferSet(nullptr) != 0 || VoScreenBufferDestroy(buffer) != 0;
  failed |= VoPrimitiveListSet(nullptr) != 0;
  if (scene != nullptr) failed |= VoReferenceListDestroy(scene, nullptr) != 0;
  for (VtPrimitive *p : squares)
    if (p != nullptr) failed |= VoPrimitiveDestroy(p) != 0;
  failed |= VoTerminate() != 0;
  return failed ? std::vector<float>{} : picture;
}

// Loads, renders, terminates and closes the library twice: each time the
// library leaves the process, and the second cycle's pictures are the
// first's; each picture has the squares at its centre and not at a corner.
void ExpectCyclesUnloadAndRenderTheSame(Renders renders, size_t picture_count) {
  const std::string file = LibraryFile();
  ASSERT_FALSE(Mapped(file)) << "another test of this process keeps " << file << " loaded";
  std::vector<float> pictures[2];
  for (std::vector<float> &picture : pictures) {
    void *lib = dlopen(VO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    EXPECT_TRUE(Mapped(file));
    picture = RenderThroughTheLibrary(lib, renders);
    ASSERT_EQ(dlclose(lib), 0) << dlerror();
    EXPECT_FALSE(Mapped(file)) << "still mapped after dlclose";
  }
  constexpr size_t kSize = kWidth * kHeight * 3;
  ASSERT_EQ(pictures[0].size(), picture_count * kSize) << "the first cycle's renders failed";
  const size_t centre = (kHeight / 2 * kWidth + kWidth / 2) * 3;
  for (size_t at = 0; at < pictures[0].size(); at += kSize)
    EXPECT_NE(std::memcmp(&pictures[0][at + centre], &pictures[0][at], 3 * sizeof(float)), 0) << at / kSize;
  EXPECT_EQ(pictures[0], pictures[1]);
}

TEST(SharedLibrary, ClosedAfterTerminateItIsUnmappedAndLoadsAgainToRenderTheSamePicture) {
  ExpectCyclesUnloadAndRenderTheSame(Renders::kSoftware, 2);
}

// Mesa stays loaded (the vendor-neutral EGL keeps the vendor library and
// its driver for the life of the process), but it holds nothing of ours.
TEST(SharedLibrary, AfterRenderingThroughOpenGLItIsUnmappedAndLoadsAgainToRenderTheSamePicture) {
  ExpectCyclesUnloadAndRenderTheSame(Renders::kOpenGL, 1);
}

}  // namespace
