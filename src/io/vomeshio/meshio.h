// The mesh I/O module (vomeshio, number 70): its per-context record and what
// its files share.
#pragma once

#include <cstdint>
#include <cstdio>

#include <vo/vo_meshio.h>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"

// The module's record (one per context; a worker's copy shares the file and
// the read buffer of the record it was copied from and never frees them).
struct VtMeshIOContext {
  std::FILE *file;           // control 0x460001: the default procedures' file
  VtMeshWriter writer;       // callback 0x460001
  VtMeshReader reader;       // callback 0x460002
  uint32_t mode;             // the mode being written or read: 0 none, 1 binary, 2 text
  uint32_t write_mode;       // control 0x460002 (1 binary, 2 text)
  uint32_t swap;             // the binary file being read has the other byte order
  uint32_t save_state_code;  // the file's code of "voradios:save_state" (0: none)
  VtContents *base;          // the contents every loaded mesh starts from
  // The default reader's buffer: requests larger than it are served
  // straight from the file.
  unsigned char *buffer;
  uint32_t buffer_size, cursor, left;
  uint32_t is_copy;
  // Where the default reader is in a text file, for a refusal to name the
  // line: the line ends it consumed since the load began, and the line its
  // last token began on.
  uint32_t lines, token_line;
};

namespace vo::meshio {

constexpr VtStatus kFailed = 2;                        // the bare failure: a bad argument, stream or file
constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;  // 0x20000012
constexpr uint32_t kReadBufferSize = 1024;
constexpr uint32_t kTokenRoom = 128;        // characters of a string token
constexpr uint32_t kNumberRoom = 11;        // characters of a number token
constexpr uint32_t kCountLimit = 1u << 28;  // vertices, edges or polygons of one mesh
constexpr uint32_t kFlagsCode = VO_MESHIO_FLAGS_CODE;
constexpr uint32_t kSaveStateCode = 0x13b;
// The descriptive bits of a type-and-flags word that a load takes from a
// file: triangles, the vertex-colour and appearance bits. Bits that claim
// records (edges, transform, expansions, protection) never come from a file.
constexpr uint32_t kDescriptiveFlags =
    0x20u | 0x40u | 0x80u | 0x4000u | 0x8000u | 0x10000u | 0x80000u | 0x100000u | 0x200000u;

using messages::kMeshFileRefused;
using messages::kMeshLimitRefused;
using messages::kMeshLoadCut;
using messages::kMeshLoadLimit;
using messages::kMeshLoadRefused;
using messages::kMeshSaveNoCodes;

VtMeshIOContext *State();

// True for the value types whose values hold pointers: such values go out
// as zero words, four bytes per element, and are never read back.
inline bool PointerType(uint32_t type) {
  return (type >= 11 && type <= 20) || type == 22 || type == 29 || type == 35 || type == 36 || type == 40 ||
         type == 46 || type == 50 || type == 51 || type == 52;
}

// The default byte procedures over the record's file.
VtStatus DefaultWrite(uint32_t count, const void *bytes);
VtStatus DefaultRead(uint32_t *count, void *buffer);

// A text token from a source of characters: get() answers the next one or
// -1 at the end. Blanks are skipped before and after; the token (at most
// kTokenRoom characters, zero-ended) goes to out and its length to *count.
// 2 when the source ends before a token or the token is longer; a longer
// token leaves kTokenRoom + 1 in *count, so that the refusal can say so.
template <class Get, class Peek, class Skip>
VtStatus TokenRead(Get &&get, Peek &&peek, Skip &&skip, uint32_t *count, char *out) {
  auto blank = [](int c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; };
  int c;
  while ((c = peek()) >= 0 && blank(c)) skip();
  if (c < 0) return kFailed;
  uint32_t n = 0;
  while ((c = peek()) >= 0 && !blank(c)) {
    if (n == kTokenRoom) {
      *count = kTokenRoom + 1;
      return kFailed;
    }
    out[n++] = static_cast<char>(get());
  }
  out[n] = 0;
  while ((c = peek()) >= 0 && blank(c)) skip();
  *count = n;
  return 0;
}

}  // namespace vo::meshio
