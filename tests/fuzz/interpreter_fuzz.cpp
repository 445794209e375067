// Fuzzes the command interpreter's reader: each input is read as a script
// file, text or binary (an input that begins with the binary signature).
// A script may make library objects it never destroys (an application's
// leak, not the reader's): allocations during the read are left out of the
// leak check, which the interpreter's unit tests make under LeakSanitizer.
// .ci/run runs it in a scratch directory, since a script may open files.
#include <cstdint>
#include <cstdio>

#include <vo/vo_api.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define VO_FUZZ_LSAN 1
#endif
#endif

namespace {

VtStatus Quiet(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

// The library, started again when an input stopped it.
bool Started() {
  if (VoModuleCheckStarted(1, 0) == 0) return true;
  if (VoInitialise() != 0) return false;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Quiet));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (!Started()) return 0;
  std::FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
  if (file == nullptr) return 0;
#ifdef VO_FUZZ_LSAN
  __lsan_disable();
#endif
  VoInterpreterReadInput("fuzz", file);
#ifdef VO_FUZZ_LSAN
  __lsan_enable();
#endif
  std::fclose(file);
  return 0;
}
