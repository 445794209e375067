// A mesh-file byte reader over bytes held in memory: it serves counted
// requests and, for a count of 0, one text token as the default reader does.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "io/vomeshio/meshio.h"

namespace vo::test {

struct MeshMemory {
  static inline std::vector<uint8_t> in;
  static inline size_t at = 0;

  static void Serve(std::vector<uint8_t> bytes) {
    in = std::move(bytes);
    at = 0;
  }
  static VtStatus Read(uint32_t *count, void *buffer) {
    if (*count == 0) {
      auto peek = []() -> int { return at < in.size() ? in[at] : -1; };
      auto skip = []() { ++at; };
      auto get = []() -> int { return at < in.size() ? in[at++] : -1; };
      return meshio::TokenRead(get, peek, skip, count, static_cast<char *>(buffer));
    }
    if (*count > in.size() - at) return 2;
    std::memcpy(buffer, in.data() + at, *count);
    at += *count;
    return 0;
  }
};

}  // namespace vo::test
