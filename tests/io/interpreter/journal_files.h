// Journals and files for the tests that use only the C interface.
#pragma once

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <vo/vo_api.h>

namespace vo_test {

inline std::string Load(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The body of a journal: what follows its header.
inline std::string Body(const std::string &text) {
  const size_t at = text.find("ADV = VoDataCreate\n");
  return at == std::string::npos ? text : text.substr(at + 19);
}

inline VtTypedValue Typed(uint32_t type) {
  VtTypedValue v;
  std::memset(&v, 0, sizeof v);
  v.type = type;
  return v;
}

// Journals into the file from now on; null switches journaling off.
inline void Journal(std::FILE *file) {
  VtTypedValue v = Typed(VtGenericPtr);
  v.value.p = file;
  VoJournalControlSet(VO_CONTROL_JOURNAL_FILE, &v);
  v = Typed(VtFlags);
  v.value.u = file ? 1 : 0;
  VoJournalControlSet(VO_CONTROL_JOURNAL_FLAGS, &v);
}

}  // namespace vo_test
