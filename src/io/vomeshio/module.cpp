// The mesh I/O module (vomeshio, 70) as a module: query function, start and
// terminate, the record as context variables, the two controls, the two
// byte procedures and their defaults over a buffered file.

#include <algorithm>
#include <cstring>

#include "io/vomeshio/meshio.h"
#include "kernel/vosystem/face.h"

namespace vo::meshio {

namespace {

constexpr uint32_t kBuildTime = 904643049;

ModuleState<VtMeshIOContext> g_state(VO_MODULE_MESH_IO);

VtStatus StateCopy(void *state, void **copy) {
  *copy = nullptr;
  auto *c = static_cast<VtMeshIOContext *>(VoAllocate(sizeof(VtMeshIOContext)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(c, state, sizeof(VtMeshIOContext));
  c->is_copy = 1;
  *copy = c;
  return 0;
}

VtStatus StateCopyFree(void *copy) {
  auto *c = static_cast<VtMeshIOContext *>(copy);
  if (c == nullptr || c->is_copy == 0) return kFailed;
  VoDeallocate(c);
  return 0;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<VtMeshIOContext *>(VoAllocate(sizeof(VtMeshIOContext)));
  if (s == nullptr) return kFailed;
  std::memset(s, 0, sizeof *s);
  s->writer = &DefaultWrite;
  s->reader = &DefaultRead;
  s->write_mode = VO_MESH_MODE_BINARY;
  if (g_state.Register(s, &StateCopy, &StateCopyFree) != 0) {
    VoDeallocate(s);
    return kFailed;
  }
  return 0;
}

VtStatus Terminate() {
  VtMeshIOContext *s = g_state.Master();
  if (s == nullptr) return 0;
  const VtStatus st = g_state.Unregister();
  if (s->buffer != nullptr) VoDeallocate(s->buffer);
  VoDeallocate(s);
  return st;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
  VtMeshIOContext *s = g_state.Get();
  if (s == nullptr || v == nullptr) return kFailed;
  switch (code) {
    case VO_CONTROL_MESHIO_FILE:
      if (v->type != VtGenericPtr) return kFailed;
      if (s->file != v->value.p) s->left = s->cursor = 0;  // nothing buffered belongs to another file
      s->file = static_cast<std::FILE *>(v->value.p);
      return 0;
    case VO_CONTROL_MESHIO_MODE:
      if (v->type != VtEnum || (v->value.u != VO_MESH_MODE_BINARY && v->value.u != VO_MESH_MODE_TEXT))
        return kFailed;
      s->write_mode = v->value.u;
      return 0;
    default: return kFailed;
  }
}

VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
  const VtMeshIOContext *s = g_state.Get();
  if (s == nullptr || v == nullptr) return kFailed;
  switch (code) {
    case VO_CONTROL_MESHIO_FILE: *v = TypedPointer(s->file); return 0;
    case VO_CONTROL_MESHIO_MODE: *v = TypedWord(VtEnum, s->write_mode); return 0;
    default: return kFailed;
  }
}

// Get answers the procedure in place; set replaces it (a null procedure
// brings the default back).
VtStatus Callback(uint32_t direction, uint32_t code, VtProc *slot) {
  VtMeshIOContext *s = g_state.Get();
  if (slot == nullptr) return kRefused;
  if (s == nullptr || (code != VO_CALLBACK_MESHIO_WRITE && code != VO_CALLBACK_MESHIO_READ)) {
    if (direction == 0) *slot = nullptr;
    return kRefused;
  }
  if (code == VO_CALLBACK_MESHIO_WRITE) {
    if (direction == 0)
      *slot = reinterpret_cast<VtProc>(s->writer);
    else
      s->writer = *slot ? reinterpret_cast<VtMeshWriter>(*slot) : &DefaultWrite;
  } else {
    if (direction == 0)
      *slot = reinterpret_cast<VtProc>(s->reader);
    else
      s->reader = *slot ? reinterpret_cast<VtMeshReader>(*slot) : &DefaultRead;
  }
  return 0;
}

}  // namespace

VtMeshIOContext *State() { return g_state.Get(); }

VtStatus DefaultWrite(uint32_t count, const void *bytes) {
  VtMeshIOContext *s = State();
  if (s == nullptr || s->file == nullptr) return kRefused;
  if (s->mode == VO_MESH_MODE_NONE || count == 0) return 0;
  if (bytes == nullptr) return kFailed;
  return std::fwrite(bytes, 1, count, s->file) == count ? 0 : kFailed;
}

// The buffered file: the unread rest moves to the front, the buffer is
// filled up again; a request larger than the buffer takes what is buffered
// and the rest straight from the file.
VtStatus DefaultRead(uint32_t *count, void *buffer) {
  VtMeshIOContext *s = State();
  if (s == nullptr || s->file == nullptr) return kRefused;
  if (s->mode == VO_MESH_MODE_NONE) return 0;
  if (count == nullptr || buffer == nullptr) return kFailed;
  if (s->buffer == nullptr) {
    s->buffer = static_cast<unsigned char *>(VoAllocate(kReadBufferSize));
    if (s->buffer == nullptr) return VO_STATUS_NO_MEMORY;
    s->buffer_size = kReadBufferSize;
    s->cursor = s->left = 0;
  }
  // Line ends are counted as bytes leave the buffer, for a refusal to name
  // the line of a text file.
  auto count_lines = [s](const unsigned char *from, uint32_t n) {
    s->lines += static_cast<uint32_t>(std::count(from, from + n, '\n'));
  };
  auto fill = [s]() {
    if (s->left > 0 && s->cursor > 0) std::memmove(s->buffer, s->buffer + s->cursor, s->left);
    s->cursor = 0;
    s->left += static_cast<uint32_t>(std::fread(s->buffer + s->left, 1, s->buffer_size - s->left, s->file));
  };
  if (*count == 0) {
    if (s->mode != VO_MESH_MODE_TEXT) return 0;
    auto peek = [&]() -> int {
      if (s->left == 0) fill();
      return s->left == 0 ? -1 : s->buffer[s->cursor];
    };
    auto skip = [&]() {
      count_lines(s->buffer + s->cursor, 1);
      ++s->cursor;
      --s->left;
    };
    auto get = [&]() -> int {
      const int c = peek();
      skip();
      return c;
    };
    // The blanks before the token go first, so that its line is known.
    for (int c; (c = peek()) == ' ' || c == '\n' || c == '\r' || c == '\t';) skip();
    s->token_line = s->lines + 1;
    return TokenRead(get, peek, skip, count, static_cast<char *>(buffer));
  }
  const uint32_t n = *count;
  auto *out = static_cast<unsigned char *>(buffer);
  if (n > s->left) {
    if (n <= s->buffer_size) {
      fill();
    } else {
      std::memcpy(out, s->buffer + s->cursor, s->left);
      const uint32_t rest = n - s->left;
      s->cursor = s->left = 0;
      const size_t got = std::fread(out + (n - rest), 1, rest, s->file);
      count_lines(out, static_cast<uint32_t>(n - rest + got));
      return got == rest ? 0 : kFailed;
    }
  }
  if (n > s->left) return kFailed;
  std::memcpy(out, s->buffer + s->cursor, n);
  count_lines(out, n);
  s->cursor += n;
  s->left -= n;
  return 0;
}

}  // namespace vo::meshio

namespace vo {

VtStatus VoEntryMeshIO(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kMeshIO = {
      .number = VO_MODULE_MESH_IO,
      .name = "vomeshio",
      .banner = "mrvx20 mesh files",
      .build_time = meshio::kBuildTime,
      .control_set = &meshio::ControlSet,
      .control_get = &meshio::ControlGet,
      .start = &meshio::Start,
      .terminate = &meshio::Terminate,
      .callback = &meshio::Callback,
  };
  return ModuleQueryAnswer(kMeshIO, query, answer);
}

}  // namespace vo
