// libFuzzer target for the command interpreter's reader: each input is read
// as a script file, text or binary (an input that begins with the binary
// signature). Built only with clang and -DVO_FUZZ=ON; run it in a scratch
// directory, since a script may open files by name.

#include <cstdint>
#include <cstdio>

#include <vo/vo_api.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (VoModuleCheckStarted(1, 0) != 0 && VoInitialise() != 0) return 0;
  std::FILE *f = std::tmpfile();
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::rewind(f);
  VoInterpreterReadInput("fuzz", f);
  std::fclose(f);
  return 0;
}
