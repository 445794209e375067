// libFuzzer target of the luminaire readers: the input is a first file;
// what follows a line "===PHOT===" is the file its CIE "PHOT" keyword names
// (whatever the name). Every input must answer success or a failure status;
// a success must leave a finite grid and peak scale, a failure no
// distribution. Built with VO_FUZZ under clang; the same entry point
// replays tests/fuzz/regress and the seed corpus in every build.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "shading/vophoto/photometry.h"
#include "kernel/vosystem/kernel.h"

namespace {

VtStatus Quiet(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

struct Second {
  const char *bytes;
  size_t size;
};

bool OpenSecond(void *context, const char *, vo::LuminaireSource *source) {
  const auto *s = static_cast<const Second *>(context);
  if (s->bytes == nullptr) return false;
  *source = vo::LuminaireSource(s->bytes, s->size, "second");
  return true;
}

// Stops the run at a broken promise, so that the fuzzer reports the input.
void Expect(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool started = [] {
    (void)vo::VoSystemInitialise();
    (void)vo::VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Quiet));
    return true;
  }();
  (void)started;
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  constexpr std::string_view kMarker = "\n===PHOT===\n";
  const size_t cut = input.find(kMarker);
  Second second{nullptr, 0};
  size_t first_size = size;
  if (cut != std::string_view::npos) {
    first_size = cut + 1;
    second = {input.data() + cut + kMarker.size(), size - cut - kMarker.size()};
  }
  VtPhotometricRecord *record = vo::VoPhotometricRecordCreate();
  if (record == nullptr) return 0;
  vo::LuminaireSource source(data, first_size, "first");
  const float from[] = {0, 0, 2}, to[] = {0, 0, 0};
  const VtStatus s =
      vo::VoPhotometricRecordLoadSource(record, source, &OpenSecond, &second, from, to, nullptr, nullptr);
  Expect(s == 0 || s == 0x40000002u || s == 258u);
  if (s == 0) {
    Expect(record->distribution != nullptr && std::isfinite(record->peakScale) && record->peakScale > 0);
    Expect(record->sampleCount == record->horizontalCount * record->verticalCount);
    for (uint32_t i = 0; i < record->sampleCount; ++i) Expect(std::isfinite(record->distribution[i]));
    const float point[] = {0.5f, -0.25f, 0};
    Expect(std::isfinite(vo::VoPhotometricRecordIntensity(record, from, point)));
  } else {
    Expect(record->distribution == nullptr);
  }
  vo::VoPhotometricRecordDestroy(record);
  return 0;
}
