// libFuzzer target: the object-file reader over an input held in memory
// (seeds in corpus/object_file_fuzz: hand-made records on each road).
//
// The first byte chooses the road: bit 0 set puts a valid header (with the
// substitution flag from bit 1 and seeds 0) before the rest of the input, so
// the fuzzer spends its time on type tables and records; bit 2 reads through
// VoObjectReadSpecific with type words taken from the input instead of
// VoObjectRead. Everything a read hands out is freed, so the leak check
// sees any loss. The scene modules are started, so that lists, images,
// shaders and materials are read as well (the mesh module's procedures and
// mode must be as they were after every input).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <vo/vo_meshio.h>

#include "io/voobject/sample_types.h"
#include "kernel/vosystem/reference.h"

namespace vo {
namespace {

struct Input {
  std::vector<uint8_t> bytes;
  size_t at = 0;
};

VtStatus Read(void *buffer, uint32_t n, void *id) {
  auto *in = static_cast<Input *>(id);
  if (n > in->bytes.size() - in->at) return 2;
  if (buffer != nullptr) std::memcpy(buffer, in->bytes.data() + in->at, n);
  in->at += n;
  return 0;
}

VtStatus Write(void *, uint32_t, void *) { return 2; }

void Start() {
  if (VoSystemInitialise() != 0 || VoInstallModule(&VoEntryMemory) != 0 || VoSystemStart() != 0 ||
      VoInstallModule(&VoEntryObject) != 0 || VoInstallModule(&VoEntryGeometry) != 0 ||
      VoInstallModule(&VoEntryPolygons) != 0 || VoInstallModule(&VoEntryTransforms) != 0 ||
      VoInstallModule(&VoEntryView) != 0 || VoInstallModule(&VoEntryDriver) != 0 ||
      VoInstallModule(&VoEntryShader) != 0 || VoInstallModule(&VoEntrySuperLiteShaders) != 0 ||
      VoInstallModule(&VoEntryMeshIO) != 0 || VoSystemStart() != 0 ||
      VoCallBackSet(VO_CALLBACK_OBJECT_READ, reinterpret_cast<VtProc>(&Read)) != 0 ||
      VoCallBackSet(VO_CALLBACK_OBJECT_WRITE, reinterpret_cast<VtProc>(&Write)) != 0 ||
      test::RegisterNodes() != 0)
    __builtin_trap();
}

void Header(Input *in, bool substitution) {
  const uint8_t head[16] = {'V', 'o', 'O', 'b', 0, 0, 0, 3,
                            0,   0,   0,   1,   0, 0, 0, static_cast<uint8_t>(substitution)};
  in->bytes.assign(head, head + 16);
  in->bytes.resize(1040, 0);
}

void Records(Input *in) {
  std::vector<VtObjectValue> read;
  for (int n = 0; n < 1000; ++n) {
    VtObjectValue v;
    std::memset(&v, 0, sizeof v);
    const VtStatus st = VoObjectRead(in, &v);
    if ((st & 2) != 0) break;
    read.push_back(v);
    if (v.type == VO_OBJECT_END) break;
  }
  // Scene objects go by their types' deallocators (a shader list's shaders
  // with it, a list's meshes with it); the rest as the sample types do.
  std::vector<VtObjectValue> rest;
  std::vector<void *> freed;
  for (const VtObjectValue &v : read) {
    const bool scene =
        v.type >= VO_OBJECT_TRANSFORM && v.type <= VO_OBJECT_IMAGE && v.type != VO_OBJECT_TYPED_VALUE;
    if (!scene) {
      rest.push_back(v);
      continue;
    }
    if (v.value.p == nullptr || std::find(freed.begin(), freed.end(), v.value.p) != freed.end()) continue;
    freed.push_back(v.value.p);
    if (v.type == VO_OBJECT_SHADER_LIST) {
      VtReference *list = nullptr;
      std::memcpy(&list, v.value.p, sizeof list);
      (void)VoShaderReferenceDestroy(list, 1);
    }
    if (VtDataObjectDeallocator release = VoDataObjectGetDeallocator(v.type)) release(v.value.p);
  }
  test::ReadFree(rest);
}

// Reads values of the types the input names (one byte each, from a short
// list) into blocks of their own. A node read by reference is the same
// node whenever its id comes again, so everything handed out is freed once,
// after the last read.
void Specific(Input *in, const uint8_t *types, size_t count) {
  static const uint32_t kWords[8] = {VO_OBJECT_INT32,       VO_OBJECT_DOUBLE,
                                     VO_OBJECT_STRING,      VO_OBJECT_MATRIX,
                                     VO_OBJECT_TYPED_VALUE, test::kNode | VO_OBJECT_REFERENCE,
                                     test::kPair,           VO_OBJECT_WIDE_STRING};
  std::vector<VtObjectValue> read;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t word = kWords[types[i] & 7];
    alignas(8) uint8_t value[128] = {};
    VtObjectValue v;
    std::memset(&v, 0, sizeof v);
    const VtStatus st = VoObjectReadSpecific(in, word, value);
    if ((st & 2) != 0) break;
    v.type = word & VO_OBJECT_TYPE_MASK;
    v.by_reference = (word & VO_OBJECT_REFERENCE) != 0 ? 1 : 0;
    if (word == test::kPair) {
      // The pair itself was read into place: only the nodes it holds.
      auto *pair = reinterpret_cast<test::Pair *>(value);
      v.type = test::kNode;
      v.by_reference = 1;
      for (test::Node *node : {pair->a, pair->b}) {
        v.value.p = node;
        read.push_back(v);
      }
      continue;
    }
    std::memcpy(&v.value, value, sizeof v.value);
    if (word == VO_OBJECT_TYPED_VALUE) {
      auto *t = reinterpret_cast<VtTypedValue *>(value);
      if (t->type == VtString) VoDeallocate(const_cast<char *>(t->value.s));
      continue;
    }
    read.push_back(v);
  }
  test::ReadFree(read);
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
  const uint8_t road = data[0];
  using namespace vo;
  Input in;
  if ((road & 1) != 0) Header(&in, (road & 2) != 0);
  const size_t types = (road & 4) != 0 ? (size > 9 ? 8 : size - 1) : 0;
  in.bytes.insert(in.bytes.end(), data + 1 + types, data + size);
  const uint32_t mode = (road & 4) != 0 ? 3 : 1;  // 3: the header is read by the first specific read
  if (VoObjectOpen(&in, mode) == 0) {
    if ((road & 4) != 0)
      Specific(&in, data + 1, types);
    else
      Records(&in);
  }
  (void)VoObjectClose(&in);
  static const VtProc writer = VoCallBackGet(VO_CALLBACK_MESHIO_WRITE);
  if (VoCallBackGet(VO_CALLBACK_MESHIO_WRITE) != writer) __builtin_trap();
  return 0;
}
