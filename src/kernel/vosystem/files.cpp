// Opening files, the kernel's part of the system module's start and
// terminate for files, journal and timers, the time value, the marshalling
// hook and the script data handle.
//
// The kernel remembers the path of every stream VoFileOpen creates for
// writing until VoFileClose, so that an output refused before anything was
// written leaves no empty file behind. Without memory for the record the
// open fails as a whole: the new file is closed and removed again.
//
// VoFileClose closes only what VoFileOpen opened: every stream VoFileOpen
// returns is in one process-wide set until VoFileClose takes it out. The set
// is made at the first VoFileOpen and lives to the process's exit, so a file
// opened before VoInitialise or closed after VoTerminate behaves as any
// other; a stream closed twice, or one the application opened with fopen,
// is refused and left alone. A stream the application closed with fclose
// whose address fopen hands out again cannot be told apart. Nor does it
// close a stream a file control still holds (the journal, the message and
// error streams, the mesh files', each driver's): the holder would go on
// with a closed stream. The holds are the kernel's, gone with it.

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "kernel/vosystem/api_table.h"
#include "kernel/vosystem/process_wide.h"
#include "kernel/vosystem/journal.h"
#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/registry.h"

namespace vo {

namespace {

// Accesses 1-3 (the low four bits of the flags): the fopen mode and the
// message of a failed open.
struct Access {
  const char *mode;
  uint32_t message;
};
constexpr Access kAccess[3] = {{"rb", 362}, {"wb", 363}, {"ab", 364}};
constexpr uint32_t kMessageBadMode = 365;

constexpr uint32_t kFileQuiet = 16;
constexpr uint32_t kFileUpdate = 32;
constexpr uint32_t kAccessWrite = 2;

}  // namespace

struct WrittenFile {
  std::FILE *file;
  char *path;            // own copy
  bool remove_if_empty;  // its output was refused
  WrittenFile *next;
};

struct FileHold {
  uintptr_t holder;  // a driver's control procedure, or 0
  uint32_t code;
  std::FILE *file;
  FileHold *next;
};

namespace {

void WrittenFree(WrittenFile *w) {
  VoDeallocate(w->path);
  VoDeallocate(w);
}

// Remembers a stream created for writing (see the file's comment); false
// without memory for the record.
bool WrittenAdd(VtKernelContext *k, std::FILE *file, const char *path) {
  const size_t length = std::strlen(path) + 1;
  auto *w = length <= UINT32_MAX ? static_cast<WrittenFile *>(VoAllocate(sizeof(WrittenFile))) : nullptr;
  char *copy = w != nullptr ? static_cast<char *>(VoAllocate(static_cast<uint32_t>(length))) : nullptr;
  if (copy == nullptr) {
    VoDeallocate(w);
    return false;
  }
  std::memcpy(copy, path, length);
  *w = {file, copy, false, k->files.written};
  k->files.written = w;
  return true;
}

// The record of a stream, unlinked from the list; null for another stream.
WrittenFile *WrittenTake(VtKernelContext *k, std::FILE *file) {
  for (WrittenFile **at = k != nullptr ? &k->files.written : nullptr; at != nullptr && *at != nullptr;
       at = &(*at)->next) {
    if ((*at)->file != file) continue;
    WrittenFile *w = *at;
    *at = w->next;
    return w;
  }
  return nullptr;
}

// True when the stream is still empty and still the file at the path (a
// record outlives a stream the application closed with fclose, and the
// address may come back for another stream).
bool EmptyAt(std::FILE *file, const char *path) {
  struct stat opened, named;
  return std::fflush(file) == 0 && fstat(fileno(file), &opened) == 0 && opened.st_size == 0 &&
         stat(path, &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// The streams VoFileOpen opened and VoFileClose has not closed. Worker
// threads may open files (shaders reading data as they are prepared), so
// the set has a lock of its own; it is taken once per open and close.
using OpenStreams = AddressRegister<std::FILE>;

__attribute__((destructor)) void OpenStreamsFree() { OpenStreams::Free(); }

}  // namespace

void FileRemoveIfLeftEmpty(std::FILE *file) {
  VtKernelContext *k = Kernel();
  for (WrittenFile *w = k != nullptr ? k->files.written : nullptr; w != nullptr; w = w->next)
    if (w->file == file) w->remove_if_empty = true;
}

namespace {

// A module control's hold kept in the fixed slots: its own slot, else a
// free one; false when every slot holds another control's stream.
bool ModuleHoldSet(KernelFiles &f, uint32_t code, const void *file) {
  auto *stream = static_cast<std::FILE *>(const_cast<void *>(file));
  for (auto &h : f.module_holds)
    if (h.file != nullptr && h.code == code) {
      h.file = stream;
      return true;
    }
  if (stream == nullptr) return false;  // perhaps in the list
  for (auto &h : f.module_holds)
    if (h.file == nullptr) {
      h = {code, stream};
      return true;
    }
  return false;
}

}  // namespace

bool FileHoldSet(uintptr_t holder, uint32_t code, const void *file) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return true;
  if (holder == 0 && ModuleHoldSet(k->files, code, file)) return true;
  FileHold **at = &k->files.holds;
  while (*at != nullptr && ((*at)->holder != holder || (*at)->code != code)) at = &(*at)->next;
  if (file == nullptr) {
    if (FileHold *h = *at) {
      *at = h->next;
      VoDeallocate(h);
    }
    return true;
  }
  if (*at == nullptr) {
    auto *h = static_cast<FileHold *>(VoAllocate(sizeof(FileHold)));
    if (h == nullptr) return false;
    *h = {holder, code, nullptr, nullptr};
    *at = h;
  }
  (*at)->file = static_cast<std::FILE *>(const_cast<void *>(file));
  return true;
}

bool FileControl(uint32_t code) {
  for (size_t i = 0; i < api::kStreamCodeCount; ++i)
    if (api::kStreamCodes[i].code == code) return true;
  return false;
}

namespace {

// The control holding the stream (file null when none holds it).
FileHold HoldOf(const std::FILE *file) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return {};
  for (const auto &h : k->files.module_holds)
    if (h.file == file) return {0, h.code, h.file, nullptr};
  for (const FileHold *h = k->files.holds; h != nullptr; h = h->next)
    if (h->file == file) return *h;
  return {};
}

// A control's name for the refusal, from the description's constants.
const char *ControlName(uint32_t code) {
  for (size_t i = 0; i < api::kConstantCount; ++i)
    if (api::kConstants[i].value == code && std::strncmp(api::kConstants[i].name, "VO_CONTROL_", 11) == 0)
      return api::kConstants[i].name;
  return "a file control";
}

}  // namespace

bool FileOpenedHere(const void *file) {
  return file != nullptr && OpenStreams::Get().Holds(static_cast<const std::FILE *>(file));
}

std::vector<std::FILE *> FilesLeftOpen() {
  std::vector<std::FILE *> open;
  for (const std::FILE *file : OpenStreams::Get().Held()) open.push_back(const_cast<std::FILE *>(file));
  return open;
}

VtStatus KernelFilesStart() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return VO_STATUS_NOT_INITIALISED;
  ClockKindsMake(k->files);
  k->files.report_open_failures = 1;
  return JournalStart(k);
}

VtStatus KernelFilesStop() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 0;
  JournalStop(k);
  k->files.report_open_failures = 0;
  while (WrittenFile *w = k->files.written) {  // streams left open stay open, forgotten
    k->files.written = w->next;
    WrittenFree(w);
  }
  for (auto &h : k->files.module_holds) h = {};
  while (FileHold *h = k->files.holds) {
    k->files.holds = h->next;
    VoDeallocate(h);
  }
  return 0;
}

void *VoFileOpen(const char *path, uint32_t flags) {
  VtKernelContext *k = Kernel();
  const bool report = k != nullptr && k->files.report_open_failures != 0;
  const uint32_t access = flags & 0xFu;
  if (access < 1 || access > 3) {
    if (report) Post(VO_STATUS_BAD_ARGUMENT, kMessageBadMode, VO_MODULE_SYSTEM, static_cast<int32_t>(flags));
    return nullptr;
  }
  const Access &a = kAccess[access - 1];
  char mode[8];
  std::snprintf(mode, sizeof mode, (flags & kFileUpdate) ? "%s+" : "%s", a.mode);
  std::FILE *file = path != nullptr ? std::fopen(path, mode) : nullptr;
  if (file == nullptr && (flags & kFileQuiet) == 0 && report)
    Post(VO_STATUS_BAD_ARGUMENT, a.message, VO_MODULE_SYSTEM, path != nullptr ? path : "<null path>");
  if (file == nullptr) return nullptr;
  const bool recorded = OpenStreams::Get().Add(file);
  if (!recorded || (report && access == kAccessWrite && !WrittenAdd(k, file, path))) {
    if (recorded) (void)OpenStreams::Get().Take(file);
    std::fclose(file);
    if (access == kAccessWrite) (void)std::remove(path);
    if (report) Post(VO_STATUS_NO_MEMORY, a.message, VO_MODULE_SYSTEM, path);
    return nullptr;
  }
  return file;
}

VtStatus VoFileClose(void *file) {
  if (file == nullptr) return 0;
  auto *stream = static_cast<std::FILE *>(file);
  if (const FileHold h = OpenStreams::Get().Holds(stream) ? HoldOf(stream) : FileHold{}; h.file != nullptr) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kFileHeld, VO_MODULE_SYSTEM, static_cast<const void *>(file),
         ControlName(h.code), h.holder != 0 ? " of a driver" : "");
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (!OpenStreams::Get().Take(stream)) {
    if (Kernel() != nullptr)
      Post(VO_STATUS_BAD_ARGUMENT, messages::kFileNotOpened, VO_MODULE_SYSTEM,
           static_cast<const void *>(file));
    return VO_STATUS_BAD_ARGUMENT;
  }
  WrittenFile *w = WrittenTake(Kernel(), stream);
  const bool remove = w != nullptr && w->remove_if_empty && EmptyAt(stream, w->path);
  std::fclose(stream);
  if (remove) (void)std::remove(w->path);
  if (w != nullptr) WrittenFree(w);
  return 0;
}

double VoTimeGet() {
  VtKernelContext *k = Kernel();
  return k != nullptr ? k->time_value : 0.0;
}

VtStatus VoMarshalValue(void *value, void **result) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || !k->memory.pools_made) return VO_STATUS_ERROR_BAD_ARGUMENT;
  if (result == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *result = value;  // marshalling is off: values pass unchanged
  return 0;
}

void *VoDataCreate() {
  VtKernelContext *k = Kernel();
  return k != nullptr ? &k->files.script_data : nullptr;
}

}  // namespace vo
