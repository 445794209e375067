// VoInitialise and VoTerminate: the usual road into and out of the library.

#include "kernel/vosystem/startup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/registry.h"

namespace vo {

const char kDriverModeFailureText[] =
    "\nVoInitialiseG() : \n   Error - VoControlSet( VO_CONTROL_DRIVER_MODE, ... ) failed\n\n";

namespace {

// Modules join the library by replacing their null here with &VoEntry...;
// the order is the order of installation and of starting.
const StartupModule kDriver = {"vodriver", VO_MODULE_DRIVER, &VoEntryDriver};

const StartupModule kInstallList[] = {
    {"vomultit", VO_MODULE_MULTITHREAD, &VoEntryMultiThread},
    {"voview", VO_MODULE_VIEW, &VoEntryView},
    {"vogeom", VO_MODULE_GEOMETRY, &VoEntryGeometry},
    {"voxform", VO_MODULE_TRANSFORMS, &VoEntryTransforms},
    {"vopoly", VO_MODULE_POLYGONS, &VoEntryPolygons},
    {"voshader", VO_MODULE_SHADER, &VoEntryShader},
    {"vorenray", VO_MODULE_RAYTRACER, &VoEntryRayTracer},
    {"vorenwir", VO_MODULE_WIREFRAME, &VoEntryWireframe},
    {"voshslte", VO_MODULE_SUPER_LITE, &VoEntrySuperLiteShaders},
    {"voshlite", VO_MODULE_LITE, &VoEntryLiteShaders},
    {"voshclas", VO_MODULE_CLASSIC, &VoEntryClassicShaders},
    {"voshpro", VO_MODULE_PRO, &VoEntryProShaders},
    {"vorenstd", VO_MODULE_STANDARD_RENDERER, &VoEntryStandardRenderer},
    {"vorenadv", VO_MODULE_ADVANCED_RENDERER, &VoEntryAdvancedRenderer},
    {"vogeops", VO_MODULE_GEOMETRY_OPERATORS, &VoEntryGeometryOperators},
    {"vorenhid", VO_MODULE_HIDDEN_LINE, &VoEntryHiddenLine},
    {"voselect", VO_MODULE_SELECTION, &VoEntrySelection},
    {"vophoto", VO_MODULE_PHOTOMETRY, &VoEntryPhotometry},
    {"voscrbuf", VO_MODULE_SCREEN_BUFFER, &VoEntryScreenBuffer},
    {"voshpost", VO_MODULE_POSTPROCESS, &VoEntryPostprocess},
    {"vocolour", VO_MODULE_COLOUR_UTILITIES, &VoEntryColourUtilities},
    {"vomeshio", VO_MODULE_MESH_IO, &VoEntryMeshIO},
    {"vofilter", VO_MODULE_FILTER, &VoEntryFilter},
    {"vonpr", VO_MODULE_NPR, &VoEntryNPR},
    {"voobject", VO_MODULE_OBJECT_IO, &VoEntryObject},
    {"vodrvbmp", VO_MODULE_BMP, &VoEntryBMPDriver},
    {"vodrvjpg", VO_MODULE_JPEG, &VoEntryJPEGDriver},
    {"vodrvtga", VO_MODULE_TARGA, &VoEntryTGADriver},
    {"voogldrv", VO_MODULE_OPENGL_DRIVERS, &VoEntryOGLDrv},
    {"voopengl", VO_MODULE_OPENGL, &VoEntryOpenGL},
    {"vod3d", VO_MODULE_DIRECT3D, &VoEntryD3D},
    {"vodrvqt", VO_MODULE_QUICKTIME, &VoEntryQuickTimeDriver},
};

// The look-up tree: a binary search tree by module number.
struct TreeNode {
  uint32_t number;
  VtQueryFunction query;
  TreeNode *left;
  TreeNode *right;
};

TreeNode *g_tree = nullptr;

void TreeAdd(uint32_t number, VtQueryFunction query) {
  TreeNode **at = &g_tree;
  while (*at != nullptr) {
    if ((*at)->number == number) return;  // the first node stays
    at = number < (*at)->number ? &(*at)->left : &(*at)->right;
  }
  auto *node = static_cast<TreeNode *>(VoAllocate(sizeof(TreeNode)));
  if (node == nullptr) return;  // the tree only helps look-ups; nothing else depends on it
  *node = TreeNode{number, query, nullptr, nullptr};
  *at = node;
}

void TreeFree() {
  // Freed without recursion: each node's left subtree is rotated onto its
  // right until the node has none.
  TreeNode *n = g_tree;
  g_tree = nullptr;
  while (n != nullptr) {
    if (n->left != nullptr) {
      TreeNode *l = n->left;
      n->left = l->right;
      l->right = n;
      n = l;
      continue;
    }
    TreeNode *next = n->right;
    n->number = 0xBAADF00Du;
    n->query = reinterpret_cast<VtQueryFunction>(static_cast<uintptr_t>(0xBAADF00Du));
    VoDeallocate(n);
    n = next;
  }
}

VtStatus NothingHandler(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

// Reads an environment variable that must hold a decimal number from 0 to
// 4294967295 (blanks around it are allowed). *present is false when unset.
VtStatus EnvironmentNumber(const char *name, bool *present, uint32_t *value) {
  const char *text = std::getenv(name);
  *present = text != nullptr;
  if (text == nullptr) return 0;
  const char *p = text;
  while (*p == ' ' || *p == '\t') ++p;
  uint64_t v = 0;
  const char *digits = p;
  while (*p >= '0' && *p <= '9' && v <= 0xFFFFFFFFull) {
    v = v * 10 + static_cast<uint64_t>(*p - '0');
    ++p;
  }
  bool ok = p != digits && v <= 0xFFFFFFFFull;
  while (*p == ' ' || *p == '\t') ++p;
  if (!ok || *p != 0) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kBadEnvironmentNumber, VO_MODULE_SYSTEM, name, text);
    return VO_STATUS_BAD_ARGUMENT;
  }
  *value = static_cast<uint32_t>(v);
  return 0;
}

VtStatus EnvironmentControl(const char *name, uint32_t code) {
  bool present = false;
  uint32_t value = 0;
  VtStatus s = EnvironmentNumber(name, &present, &value);
  if (s != 0 || !present) return s;
  VtTypedValue v = TypedNat32(value);
  return VoControlSet(code, &v);
}

}  // namespace

const StartupModule *StartupInstallList(size_t *count) {
  if (count != nullptr) *count = sizeof kInstallList / sizeof kInstallList[0];
  return kInstallList;
}

const StartupModule &StartupDriverEntry() { return kDriver; }

VtStatus StartupInstall(VtQueryFunction query) {
  if (query == nullptr) return 0;
  VtStatus s = VoInstallModule(query);
  VtTypedValue number{};
  query(VO_QUERY_MODULE_NUMBER, &number);
  TreeAdd(number.value.u, query);
  return s;
}

VtQueryFunction StartupQueryFunction(uint32_t number) {
  for (TreeNode *n = g_tree; n != nullptr; n = number < n->number ? n->left : n->right)
    if (n->number == number) return n->query;
  return nullptr;
}

VtStatus VoInitialise() {
  setenv("VO_GAMMA", "1.0", 1);
  VtStatus s = VoSystemInitialise();
  if (s != 0) return s;
  s = StartupInstall(&VoEntryMemory);
  if (s != 0) return s;

  s = EnvironmentControl("VO_DEBUG", VO_CONTROL_DEBUG_LEVEL);
  if (s != 0) return s;
  s = EnvironmentControl("VO_FREE_LIST", VO_CONTROL_CHUNK_SIZE);
  if (s != 0) return s;
  (void)VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&NothingHandler));
  const VtStatus s4 = StartupInstall(kDriver.query);

  const VtStatus s5 = VoSystemStart();

  for (const StartupModule &m : kInstallList) (void)StartupInstall(m.query);
  VtTypedValue mode{};
  mode.type = VtFlags;
  mode.value.u = 1;
  const VtStatus s6 = VoControlSet(VO_CONTROL_DRIVER_MODE, &mode);
  if (s6 != 0) (void)DriverMessageWrite(kDriverModeFailureText);

  const VtStatus s7 = VoSystemStart();
  return s4 | s5 | s6 | s7;
}

VtStatus VoTerminate() {
  VtStatus s = VoSystemTerminate();
  TreeFree();
  return s;
}

void VoGetZRVersion(int32_t *major, int32_t *minor, int32_t *revision) {
  if (major != nullptr) *major = 2;
  if (minor != nullptr) *minor = 0;
  if (revision != nullptr) *revision = 47;
}

}  // namespace vo
