// A long session that runs out of address space: in a child process whose
// address space is limited (setrlimit RLIMIT_AS), the heap is filled to the
// limit but for a little room, and every render class renders the scene.
// Each render either draws or answers the memory status with exactly one
// warning naming it, never crashes; an object file written then is either
// whole or does not read back as valid; once the room is back, the renders
// draw again. The child reports through its exit status. (The sanitizers
// reserve far more address space than any limit leaves: skipped there.)
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_multit.h>

#include "support/allocation_sweep.h"
#include "support/demo_scene.h"
#include "support/object_file.h"
#include "support/sanitized.h"

namespace vo::test {
namespace {

constexpr uint32_t kRenderNoMemory = 2880;
constexpr uint32_t kRenders[] = {0x70001,  0x70002,  0xa0001,  0xc0001,  0xc0002,  0xc0003,
                                 0x190001, 0x190002, 0x200001, 0x200002, 0x600004, 0x600005};
constexpr size_t kBlock = 64 * 1024;

// The process's address space now, in bytes (the first field of statm).
size_t AddressSpace() {
  std::FILE *f = std::fopen("/proc/self/statm", "r");
  unsigned long pages = 0;
  if (f != nullptr) {
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Blocks taken until the heap refuses one.
std::vector<void *> Ballast() {
  std::vector<void *> blocks;
  blocks.reserve(1 << 16);
  while (blocks.size() < blocks.capacity())
    if (void *b = std::malloc(kBlock))
      blocks.push_back(b);
    else
      break;
  return blocks;
}

void Release(std::vector<void *> &blocks, size_t count) {
  for (; count > 0 && !blocks.empty(); --count) {
    std::free(blocks.back());
    blocks.pop_back();
  }
}

int Fault(const std::string &what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  return 1;
}

int g_failed = 0;  // renders that answered the memory status

// One render: drawn, or the memory status with one warning naming it.
int RenderChecked(uint32_t code) {
  vo_test::Recorded().clear();
  const VtStatus st = VoExecute(code);
  const size_t warned = vo_test::WithMessage(kRenderNoMemory).size();
  if (st == 0) return warned == 0 ? 0 : Fault("render " + std::to_string(code) + " drew and warned");
  ++g_failed;
  if (!CarriesMemoryBit(st) || warned != 1)
    return Fault("render " + std::to_string(code) + " answered " + std::to_string(st) + " with " +
                 std::to_string(warned) + " warnings");
  return 0;
}

// The scene's primitive list into an object file: the write's status, with
// the close's.
VtStatus SceneWrite(std::FILE *f, VtReference *scene) {
  VtStatus st = VoObjectOpen(f, 2);
  VtObjectValue v{};
  v.type = VO_OBJECT_PRIMITIVE_LIST;
  v.value.p = scene;
  if (st == 0) st = VoObjectWrite(f, &v);
  return st | VoObjectClose(f);
}

// The child's session; its exit status is the number of faults.
int Session(const std::string &path) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return Fault("no start");
  vo_test::Recorded().reserve(4096);  // the record never allocates while memory is short
  VtImage *picture = VoImageCreate();
  picture->width = 64;
  picture->height = 48;
  const VtTypedValue target = TypedPointer(picture), none = TypedInt32(0);
  if (VoImageAllocateData(picture) != 0 || VoDriverSet(VoDriverFindFromName("vodrvimg")) != 0 ||
      VoControlSet(VO_CONTROL_DRIVER_IMAGE, &target) != 0 || VoControlSet(VO_CONTROL_MT_WORKERS, &none) != 0)
    return Fault("no picture");
  DemoOptions o;
  o.slices = 64;
  o.rings = 32;
  DemoScene scene(o);
  if (!scene.ok() || DemoScene::View(64, 48) != 0) return Fault("no scene");
  for (uint32_t code : kRenders) (void)VoExecute(code);  // the modules' lasting tables
  std::FILE *file = std::fopen(path.c_str(), "wb");
  int faults = 0;
  std::vector<void *> ballast = Ballast();
  // Room of 0, 4, 16, 64 and 256 blocks of 64 KB: the renders fail at
  // different places.
  VtStatus written = 0;
  for (size_t room : {0, 4, 12, 48, 192}) {
    Release(ballast, room);
    if (room == 0) written = SceneWrite(file, VoPrimitiveListGet());
    for (uint32_t code : kRenders) faults += RenderChecked(code);
  }
  Release(ballast, ballast.size());
  std::fclose(file);
  std::fprintf(stderr, "%d renders ran out of memory; the object write answered 0x%x\n", g_failed, written);
  if (g_failed == 0) faults += Fault("no render ran out of memory: the limit left too much room");
  if (written != 0 && ObjectFileRead(path) == 0) faults += Fault("a failed object write reads back as valid");
  for (uint32_t code : kRenders)
    if (VoExecute(code) != 0) faults += Fault("render " + std::to_string(code) + " fails with room again");
  VoDriverSet(nullptr);
  VoImageDestroy(picture);
  return faults;
}

TEST(LongSessionAddressSpace, RendersAndAnObjectWriteThatRunOutOfAddressSpaceFailVisibly) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
  const std::string path = ::testing::TempDir() + "address_space_" + std::to_string(getpid()) + ".vob";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{AddressSpace() + (512u << 20), RLIM_INFINITY};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(100);
    _exit(std::min(Session(path), 99));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  std::remove(path.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "faults in the child (its standard error names them)";
}

}  // namespace
}  // namespace vo::test
