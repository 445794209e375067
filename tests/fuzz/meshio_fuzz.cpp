// libFuzzer target: the mesh-file reader over an input held in memory (seeds
// in corpus/meshio_fuzz: a binary and a text file of small meshes).
//
// The first byte chooses the road: bit 0 set puts a valid binary header and
// the descriptor of the positions (0x401) before the rest of the input, so
// the fuzzer spends its time on the meshes themselves; bit 1 does the same
// for text. Every list a load hands out is destroyed with its meshes, so the
// leak check sees any loss.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <vo/vo_meshio.h>

#include "support/mesh_memory.h"
#include "kernel/vosystem/kernel.h"

namespace vo {
namespace {

std::vector<uint8_t> g_bytes;

void Start() {
  if (VoSystemInitialise() != 0 || VoInstallModule(&VoEntryMemory) != 0 || VoSystemStart() != 0 ||
      VoInstallModule(&VoEntryGeometry) != 0 || VoInstallModule(&VoEntryPolygons) != 0 ||
      VoInstallModule(&VoEntryMeshIO) != 0 || VoSystemStart() != 0 ||
      VoCallBackSet(VO_CALLBACK_MESHIO_READ, reinterpret_cast<VtProc>(&test::MeshMemory::Read)) != 0)
    __builtin_trap();
}

void Word(uint32_t w) {
  const auto *b = reinterpret_cast<const uint8_t *>(&w);
  g_bytes.insert(g_bytes.end(), b, b + 4);
}

void BinaryHeader() {
  const char *magic = "VXMB";
  g_bytes.assign(magic, magic + 4);
  for (uint32_t w : {2u, 4u, 4u, 1u, 1u, 34u, 0u, 0x401u}) Word(w);
  const char *name = "vogeom:world:1025";
  g_bytes.insert(g_bytes.end(), name, name + std::strlen(name) + 1);
  for (uint32_t w : {3u, 3u, 12u}) Word(w);
}

void TextHeader() {
  const std::string head = "VXMA 2 4 4 1 1 34 0 1025 vogeom:world:1025 3 3 12\n";
  g_bytes.assign(head.begin(), head.end());
}

}  // namespace
}  // namespace vo

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool started = false;
  if (!started) {
    vo::Start();
    started = true;
  }
  if (size == 0) return 0;
  using namespace vo;
  g_bytes.clear();
  if ((data[0] & 1) != 0)
    BinaryHeader();
  else if ((data[0] & 2) != 0)
    TextHeader();
  g_bytes.insert(g_bytes.end(), data + 1, data + size);
  test::MeshMemory::Serve(g_bytes);
  VtReference *list = VoMeshLoad();
  (void)VoPrimitiveReferenceDestroy(list, 1);
  return 0;
}
