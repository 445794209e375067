// Files the sweeps write and read: temporary paths named for the process,
// removed when the holder goes, and the size of a file (-1 when there is
// none).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace vo::test {

class TempFiles {
 public:
  TempFiles() = default;
  TempFiles(const TempFiles &) = delete;
  TempFiles &operator=(const TempFiles &) = delete;
  ~TempFiles() {
    for (const std::string &p : paths_) std::remove(p.c_str());
  }
  // A path in the temporary directory ending in name, unique to the process.
  std::string Path(const std::string &name) {
    paths_.push_back(
        (std::filesystem::temp_directory_path() / ("sweep" + std::to_string(getpid()) + "_" + name))
            .string());
    return paths_.back();
  }

 private:
  std::vector<std::string> paths_;
};

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
