// Files the sweeps write and read (in a vo_test::TempDir): the size of a
// file (-1 when there is none) and its bytes.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace vo::test {

inline long FileSize(const std::string &path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? -1 : static_cast<long>(size);
}

// The file's bytes (empty when there is none).
inline std::string FileBytes(const std::string &path) {
  std::string bytes;
  if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

}  // namespace vo::test
