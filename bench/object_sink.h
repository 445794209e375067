// An object file kept in memory for the object-file benchmarks: the write
// and read hooks (callbacks 0x700001 and 0x700002) over a byte vector, the
// stream id being the address of the Sink.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <vo/vo_object.h>

namespace vo::bench {

struct Sink {
  std::vector<uint8_t> bytes;
  size_t at = 0;
};

inline VtStatus SinkWrite(void *buffer, uint32_t n, void *id) {
  auto *s = static_cast<Sink *>(id);
  if (s->at + n > s->bytes.size()) s->bytes.resize(s->at + n);
  std::memcpy(s->bytes.data() + s->at, buffer, n);
  s->at += n;
  return 0;
}

inline VtStatus SinkRead(void *buffer, uint32_t n, void *id) {
  auto *s = static_cast<Sink *>(id);
  if (n > s->bytes.size() - s->at) return 2;
  if (buffer != nullptr) std::memcpy(buffer, s->bytes.data() + s->at, n);
  s->at += n;
  return 0;
}

}  // namespace vo::bench
