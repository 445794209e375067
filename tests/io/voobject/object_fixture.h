// A started kernel with the object I/O module, the clock fixed at 1 s, and
// hooks that keep object files in memory: a stream id is the address of a
// MemoryFile.
#pragma once

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <vo/vo_object.h>

#include "platform/clock.h"
#include "support/kernel_fixture.h"

namespace vo::test {

struct MemoryFile {
  std::vector<uint8_t> bytes;
  size_t at = 0;
  size_t short_after = SIZE_MAX;  // a read reaching past this many bytes delivers less
};

inline VtStatus MemoryWrite(void *buffer, uint32_t n, void *id) {
  auto *f = static_cast<MemoryFile *>(id);
  const auto *b = static_cast<const uint8_t *>(buffer);
  f->bytes.insert(f->bytes.end(), b, b + n);
  return 0;
}

inline VtStatus MemoryRead(void *buffer, uint32_t n, void *id) {
  auto *f = static_cast<MemoryFile *>(id);
  const size_t end = f->bytes.size() < f->short_after ? f->bytes.size() : f->short_after;
  if (f->at > end || n > end - f->at) {
    if (buffer != nullptr && f->at < end) std::memcpy(buffer, f->bytes.data() + f->at, end - f->at);
    f->at = end;
    return 2;
  }
  if (buffer != nullptr) std::memcpy(buffer, f->bytes.data() + f->at, n);
  f->at += n;
  return 0;
}

inline uint32_t BigEndianWord(const std::vector<uint8_t> &b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

inline VtObjectValue ObjectValue(uint32_t type) {
  VtObjectValue v;
  std::memset(&v, 0, sizeof v);
  v.type = type;
  return v;
}

// Hands check every prefix of the file, then `flips` copies with seeded
// byte flips past the header (and, when anywhere is set, one in ten
// anywhere), a third of them with a byte overwritten as well.
inline void EveryCutAndFlip(const MemoryFile &valid, int flips, uint32_t seed, bool anywhere,
                            const std::function<void(MemoryFile *, const char *, size_t)> &check) {
  for (size_t cut = 0; cut < valid.bytes.size(); ++cut) {
    MemoryFile f;
    f.bytes.assign(valid.bytes.begin(), valid.bytes.begin() + static_cast<long>(cut));
    check(&f, "cut", cut);
  }
  std::mt19937 random(seed);
  for (int flip = 0; flip < flips; ++flip) {
    MemoryFile f = valid;
    const size_t from = anywhere && flip % 10 == 0 ? 0 : 1040;
    const size_t at = from + random() % (valid.bytes.size() - from);
    f.bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
    if (flip % 3 == 0)
      f.bytes[from + random() % (valid.bytes.size() - from)] = static_cast<uint8_t>(random());
    check(&f, "flip", at);
  }
}

class ObjectTest : public PooledKernelTest {
 public:
  static VtStatus WriteValue(MemoryFile *f, VtObjectValue v) { return VoObjectWrite(f, &v); }

 protected:
  void SetUp() override {
    PooledKernelTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryObject), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    const int64_t one = 1;
    platform::CalendarSecondsFix(&one);
    UseMemoryHooks();
  }
  void TearDown() override {
    platform::CalendarSecondsFix(nullptr);
    PooledKernelTest::TearDown();
  }
  static void UseMemoryHooks() {
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_OBJECT_WRITE, reinterpret_cast<VtProc>(&MemoryWrite)), 0u);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_OBJECT_READ, reinterpret_cast<VtProc>(&MemoryRead)), 0u);
  }
  // A file of the records the writer makes, closed; the status of the lot.
  static VtStatus Write(MemoryFile *f, const std::function<VtStatus(MemoryFile *)> &records) {
    VtStatus st = VoObjectOpen(f, 2);
    if (st != 0) return st;
    st |= records(f);
    st |= VoObjectClose(f);
    return st;
  }
  // Reads every record up to the end record; answers the OR of the statuses.
  static VtStatus ReadAll(MemoryFile *f, std::vector<VtObjectValue> *out) {
    f->at = 0;
    VtStatus st = VoObjectOpen(f, 1);
    if (st != 0) {
      (void)VoObjectClose(f);
      return st;
    }
    for (int guard = 0; guard < 100000; ++guard) {
      VtObjectValue v = ObjectValue(0);
      const VtStatus r = VoObjectRead(f, &v);
      st |= r;
      if ((r & 2) != 0 || v.type == VO_OBJECT_END) break;
      if (out != nullptr) out->push_back(v);
    }
    return st | VoObjectClose(f);
  }
};

}  // namespace vo::test
