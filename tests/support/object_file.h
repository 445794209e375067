// Reading an object file back through the public interface.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <vo/vo_object.h>

namespace vo::test {

// Reads the file's records up to its end record (16 at most), keeping them
// in *values when given, and closes it; the first failing status, or that
// of the close.
inline VtStatus ObjectFileRead(const std::string &path, std::vector<VtObjectValue> *values = nullptr) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  VtStatus st = VoObjectOpen(f, 1);
  for (int guard = 0; st == 0 && guard < 16; ++guard) {
    VtObjectValue v{};
    st = VoObjectRead(f, &v);
    if (st != 0 || v.type == VO_OBJECT_END) break;
    if (values != nullptr) values->push_back(v);
  }
  st |= VoObjectClose(f);
  std::fclose(f);
  return st;
}

}  // namespace vo::test
