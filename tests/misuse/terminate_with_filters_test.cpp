// VoTerminate with "generic filter" shaders still set as global filters (in
// the colour, reflectance or displacement slot, the application's handle
// kept or given back, prepared by a render on the calling thread or on four
// workers, or never prepared) gives back every block the session made: the
// blocks live after it are those live before VoInitialise, as after a
// session without filters. Each row runs in a process of its own.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"
#include "kernel/vosystem/kernel_memory.h"

namespace misuse {
namespace {

struct Row {
  const char *name;
  std::vector<uint32_t> slots;  // the global filter slots given a generic filter
  bool handle_given_back;       // the application's VoShaderDestroy after the set
  bool rendered;                // a render prepares the filters before the stop
};

const Row kRows[] = {
    {"no filter", {}, false, true},
    {"a colour filter, rendered", {VO_SHADER_COLOUR}, false, true},
    {"a colour filter given back, rendered", {VO_SHADER_COLOUR}, true, true},
    {"a colour filter never prepared", {VO_SHADER_COLOUR}, false, false},
    {"filters in all three slots, rendered",
     {VO_SHADER_COLOUR, VO_SHADER_REFLECTANCE, VO_SHADER_DISPLACEMENT},
     true,
     true},
};

std::string RunRow(const Row &row, int32_t workers) {
  const vo::LiveAllocations before = vo::AllocationsLive();
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  std::string fault;
  {
    const Stage stage(Square());
    if (!stage.ok()) return "the stage was not made";
    for (uint32_t slot : row.slots) {
      VtShader *filter = VoShaderCreate(VO_SHADER_FILTER, "generic filter");
      if (filter == nullptr || VoShadingSetGlobalFilter(slot, filter) != 0)
        fault += "the filter was not set; ";
      if (row.handle_given_back && VoShaderDestroy(filter) != 0) fault += "the handle was not given back; ";
    }
    std::vector<float> picture;
    if (row.rendered && stage.Render(0x200001, workers, &picture) != 0) fault += "the render failed; ";
  }
  if (const VtStatus st = VoTerminate(); st != 0)
    fault += "VoTerminate answered " + std::to_string(st) + "; ";
  const vo::LiveAllocations after = vo::AllocationsLive();
  if (after.blocks != before.blocks || after.bytes != before.bytes)
    fault += std::to_string(after.blocks - before.blocks) + " blocks of " +
             std::to_string(after.bytes - before.bytes) + " bytes left after VoTerminate; ";
  return fault;
}

TEST(TerminateWithFilters, GlobalFiltersStillSetLeaveNoBlockBehind) {
  for (const Row &row : kRows)
    for (int32_t workers : {0, 4}) {
      SCOPED_TRACE(::testing::Message() << row.name << " on " << workers << " workers");
      EXPECT_EQ(ForkedFault([&] { return RunRow(row, workers); }), "");
    }
}

}  // namespace
}  // namespace misuse
