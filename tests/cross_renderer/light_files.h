// The files light classes read, written by the test's own process into one
// folder kept until it ends (each test names them before its sessions fork,
// so every session reads the same ones): a goniometric light's luminaire of
// 100 candela in every direction at three vertical angles, and a
// projector's 2 x 2 white slide. Files of one name are written again on
// each call: tests that want other contents use other names.
#pragma once

#include <cstdio>
#include <string>

#include "support/temp_dir.h"

namespace vo::test {

inline std::string LightFileWritten(const char *name, const std::string &text) {
  static vo_test::TempDir dir;
  const std::string path = dir.File(name);
  if (std::FILE *f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  return path;
}

// `angles`: the three vertical angles, as the file writes them ("0 90 180").
inline std::string DownlightFile(const char *name, const char *angles) {
  return LightFileWritten(name, std::string("IESNA91\nTILT=NONE\n1 1000 1 3 1 1 2 0 0 0\n1 1 0\n") + angles +
                                    "\n0\n100 100 100\n");
}

inline std::string WhiteSlideFile() {
  const char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0};  // 2 x 2 RGB Targa
  return LightFileWritten("slide.tga", std::string(header, sizeof header) + std::string(12, '\xff'));
}

}  // namespace vo::test
