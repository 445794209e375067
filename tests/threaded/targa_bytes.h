// A Targa file's bytes for comparing two renders: the date and time of its
// extension area cleared, as two renders may fall in different seconds.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vo_test {

inline std::vector<char> TargaBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (b.size() < 26) return b;
  const size_t footer = b.size() - 26;
  size_t at = 0;
  for (int i = 3; i >= 0; --i) at = at * 256 + static_cast<uint8_t>(b[footer + i]);
  if (at != 0 && at + 367 + 12 <= footer) std::fill(b.begin() + at + 367, b.begin() + at + 367 + 12, 0);
  return b;
}

}  // namespace vo_test
