// A fresh temporary directory, removed with its files at the end; it needs
// nothing of the library, so helpers that must not see the kernel's own
// declarations can hold one.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vo_test {

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/vo_test_XXXXXX";
    const char *d = mkdtemp(templ);
    path_ = d ? d : "/tmp";
  }
  ~TempDir() {
    std::error_code ignored;
    if (path_ != "/tmp") std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace vo_test
