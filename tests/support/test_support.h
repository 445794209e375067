// Helpers shared by the kernel's tests: environment restoring, a recording
// error handler, temporary files and a kernel for the length of a test.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/registry.h"
#include "support/temp_dir.h"

namespace vo_test {

// Sets or clears an environment variable and restores it on destruction.
class EnvGuard {
 public:
  explicit EnvGuard(const char *name) : name_(name) {
    const char *v = std::getenv(name);
    had_ = v != nullptr;
    if (had_) old_ = v;
  }
  EnvGuard(const char *name, const char *value) : EnvGuard(name) { Set(value); }
  ~EnvGuard() { Set(had_ ? old_.c_str() : nullptr); }
  void Set(const char *value) { value ? setenv(name_.c_str(), value, 1) : unsetenv(name_.c_str()); }

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

struct Diagnostic {
  VtStatus status;
  uint32_t message;
  uint32_t module;
  std::vector<VtTypedValue> args;
  std::vector<std::string> strings;  // string arguments, copied, in order
};

// The diagnostics the recording handler has seen.
inline std::vector<Diagnostic> &Recorded() {
  static std::vector<Diagnostic> d;
  return d;
}

inline VtStatus RecordingHandler(VtStatus status, uint32_t message, uint32_t module, uint32_t count,
                                 VtTypedValue *args) {
  Diagnostic d{status, message, module, {}, {}};
  for (uint32_t i = 0; i < count; ++i) {
    d.args.push_back(args[i]);
    if (args[i].type == VtString) d.strings.emplace_back(args[i].value.s ? args[i].value.s : "");
  }
  Recorded().push_back(d);
  return 0;
}

// Installs the recording handler in the running kernel and clears the record.
inline VtStatus Record() {
  Recorded().clear();
  return vo::VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&RecordingHandler));
}

inline std::vector<Diagnostic> WithMessage(uint32_t message) {
  std::vector<Diagnostic> out;
  for (const Diagnostic &d : Recorded())
    if (d.message == message) out.push_back(d);
  return out;
}

// A kernel built through the lower road and started a second time, so that
// its pools exist; stopped at the end of the scope.
class Kernel {
 public:
  Kernel() {
    EXPECT_EQ(vo::VoSystemInitialise(), 0u);
    Record();
    EXPECT_EQ(vo::VoSystemStart(), 0u);
    Recorded().clear();
  }
  ~Kernel() {
    if (vo::Registry() != nullptr) vo::VoSystemTerminate();
  }
};

// Everything written to a stream so far.
inline std::string Contents(std::FILE *f) {
  std::fflush(f);
  long at = std::ftell(f);
  std::rewind(f);
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fseek(f, at, SEEK_SET);
  return s;
}

// A colour as a typed value, for a shader argument or a setter.
inline VtTypedValue TypedColour(float r, float g, float b) {
  VtTypedValue v{};
  v.type = VtColourType;
  v.value.v[0] = r, v.value.v[1] = g, v.value.v[2] = b;
  return v;
}

}  // namespace vo_test
