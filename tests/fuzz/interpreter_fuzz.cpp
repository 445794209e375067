// Fuzzes the command interpreter's reader: each input is read as a script
// file, text or binary (an input that begins with the binary signature).
// Each input runs as an application of its own: the library is started
// before it and terminated after it. A script may make library objects it
// never destroys; the terminate gives them back, so the leak check watches
// the whole run.
// .ci/run runs it in a scratch directory, since a script may open files.
// A file a script leaves open stays open after the terminate, as it would
// for any application; each input's are closed after it, and then the
// process must hold no more descriptors than before the input.
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <vo/vo_api.h>
#include <vo/vo_driver.h>

#include "kernel/vosystem/api_table.h"
#include "kernel/vosystem/kernel_files.h"

namespace {

VtStatus Quiet(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

// A driver whose message output swallows what print, help and echo write,
// and whose console has no lines.
VtStatus Swallow(const char *) { return 0; }
int32_t NoLine(char *, uint32_t) { return -1; }
VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set != 0) return VO_STATUS_BAD_ARGUMENT;
  *slot = code == 0x1a0017u   ? reinterpret_cast<VtProc>(&Swallow)
          : code == 0x1a0016u ? reinterpret_cast<VtProc>(&NoLine)
                              : nullptr;
  return 0;
}
VtStatus Query(uint32_t query, VtTypedValue *answer) {
  *answer = VtTypedValue{};
  if (query == VO_QUERY_CALLBACK) {
    answer->type = VtFunc;
    answer->value.fn = reinterpret_cast<VtProc>(&Lookup);
  }
  return 0;
}

// The library, started for each input.
bool Started() {
  if (VoInitialise() != 0) return false;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Quiet));
  VoDriverSet(VoDriverCreate(&Query));
  return true;
}

// Runs one input as an application of its own, and closes the files its
// script left open.
void Run(const uint8_t *data, size_t size) {
  if (!Started()) return;
  std::FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
  if (file != nullptr) {
    VoInterpreterReadInput("fuzz", file);
    std::fclose(file);
  }
  if (VoModuleCheckStarted(1, 0) == 0) VoTerminate();
  for (std::FILE *left : vo::FilesLeftOpen()) VoFileClose(left);
}

// The descriptors the process holds open (with the one that reads them).
size_t Descriptors() {
  size_t count = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++count;
    closedir(d);
  }
  return count;
}

}  // namespace

// Blocks the library hands its caller to own (every procedure the
// interface description names a block maker: VoAllocate's, a mutex, a ray
// record...) that a script never gives back are the script's leak, not the
// library's: the leak check passes over those made through the exported
// entries (whose wrappers' names carry "::"), and still sees the library's
// own calls of the same procedures.
extern "C" const char *__lsan_default_suppressions() {
  static const std::string list = [] {
    std::string made;
    for (size_t m = 0; m < vo::api::kBlockMakerCount; ++m)
      made += std::string("leak:") + vo::api::kFunctions[vo::api::kBlockMakers[m].function].name + "::\n";
    return made;
  }();
  return list.c_str();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const size_t before = Descriptors();
  Run(data, size);
  const size_t after = Descriptors();
  if (after <= before) return 0;
  // A descriptor the process opens once and keeps (a graphics driver's) is
  // no leak: the same input run again must leave no more.
  Run(data, size);
  const size_t again = Descriptors();
  if (again > after) {
    std::fprintf(stderr, "The input left %zu descriptors open, and %zu more when run again\n", after - before,
                 again - after);
    std::abort();
  }
  return 0;
}
