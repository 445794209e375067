// What the file drivers (BMP, Targa, JPEG) share: little-endian fields read
// from and written to the application's stream, their refusal of a frame,
// the controls every file driver answers, and the scope that delivers
// decoded rows into an image through the image driver.
//
// Invariants a reader must know:
// - streams belong to the application: nothing here opens or closes one;
//   positions are 64-bit (fseeko/ftello);
// - an ImageDelivery leaves the image driver's stack, the framework's
//   VO_CONTROL_DRIVER_CLEAR and the stream's position as it found them, on
//   every path out of the scope that holds it (one scope guard).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <vo/vo_driver.h>

#include "output/vodriver/image_writer.h"
#include "output/vodriver/operations.h"
#include "kernel/vosystem/face.h"

namespace vo::driver::file {

constexpr VtStatus kReadFailed = 0x40000000;   // a file the reader cannot decode
constexpr VtStatus kWriteFailed = 0x40000002;  // a file the writer cannot write

// Little-endian fields in a byte buffer.
inline uint32_t Get16(const uint8_t *b) { return b[0] | (uint32_t{b[1]} << 8); }
inline uint32_t Get32(const uint8_t *b) { return Get16(b) | (Get16(b + 2) << 16); }
inline void Put16(uint8_t *b, uint32_t v) {
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t *b, uint32_t v) {
  Put16(b, v);
  Put16(b + 2, v >> 16);
}

// Reverses the byte order of n three-byte pixels (blue, green, red to red,
// green, blue and back); the two rows do not overlap.
inline void PixelsSwap(const uint8_t *__restrict from, uint8_t *__restrict to, size_t n) {
  for (size_t i = 0; i < 3 * n; i += 3) {
    to[i] = from[i + 2];
    to[i + 1] = from[i + 1];
    to[i + 2] = from[i];
  }
}

// True when all n bytes were read or written.
bool ReadAll(std::FILE *f, void *bytes, size_t n);
bool WriteAll(std::FILE *f, const void *bytes, size_t n);
// Size of the stream's file (its position is kept); -1 when it cannot be told.
off_t StreamSize(std::FILE *f);

// The reason a writer that must have a stream gives at begin frame when the
// driver's file control holds none (VoFileOpen failed, or none was set).
constexpr const char *kNoOutputFile = "no output file (its VO_CONTROL_DRIVER_FILE is null)";

// A file driver as its diagnostics name it.
struct FileDriverName {
  uint32_t module;
  const char *name;
};
// A file driver's refusal of a frame or a row: posts message 2162 with the
// driver's name and the reason under the driver's module, and answers status.
VtStatus FrameRefuse(const FileDriverName &driver, VtStatus status, const char *why);
// A file driver's refusal, at begin frame and before it writes anything, of
// a frame it cannot make at its size: posts message 2163 with the driver's
// name, the width, the height and the reason as a warning (whatever the
// status answered, so that the usual severity masks show it), marks the
// stream so that a file VoFileOpen created is removed when it is closed
// still empty, and answers status.
VtStatus FrameSizeRefuse(const FileDriverName &driver, std::FILE *out, VtStatus status, int64_t width,
                         int64_t height, const char *why);

// The controls every file driver answers: its name, its suffix and the
// output stream (a pointer).
struct FileControls {
  const char *name;
  const char *suffix;
};
// 0 with the answer for VO_CONTROL_DRIVER_NAME, _FILE_SUFFIX and _FILE;
// 18 for other codes.
VtStatus FileControlGet(const FileControls &c, std::FILE *out, uint32_t code, VtTypedValue *value);
// Stores a VO_CONTROL_DRIVER_FILE value; 18 for other codes or no value.
VtStatus FileControlSet(uint32_t code, const VtTypedValue *value, std::FILE **out);

// The title the framework holds (VO_CONTROL_DRIVER_TITLE), or null.
const char *FrameworkTitle();

// Rows of an image read from a file, delivered through the image driver
// (image_writer.h); the stream's position is put back when the scope ends.
class ImageDelivery {
 public:
  // clear: whether the frame is first filled with the clear colour.
  ImageDelivery(VtImage *image, bool clear);
  ~ImageDelivery();
  ImageDelivery(const ImageDelivery &) = delete;
  ImageDelivery &operator=(const ImageDelivery &) = delete;

  // Opens the image driver and begins the frame over the whole image.
  VtStatus Begin();
  // Sends width x 3 bytes red, green, blue as image row y.
  VtStatus Row(int32_t y, const uint8_t *rgb) {
    return ImageWriterRow(&writer_, static_cast<uint32_t>(y), rgb);
  }
  // Ends the frame and closes the driver (once); the destructor does it
  // when this was not called.
  VtStatus End();

 private:
  VtImage *image_;
  ImageWriter writer_{};
  bool clear_;
  bool begun_ = false;
  off_t position_ = -1;
};

// A block from VoAllocate freed when the scope ends.
class Block {
 public:
  Block() = default;
  ~Block();
  Block(const Block &) = delete;
  Block &operator=(const Block &) = delete;
  // Allocates n bytes (zeroed); false when n exceeds VoAllocate's size or
  // memory runs out.
  bool Make(size_t n);
  uint8_t *Bytes() const { return bytes_; }

 private:
  uint8_t *bytes_ = nullptr;
};

// A file driver module's start: its state from VoAllocate holding initial,
// then its driver (VoDriverCreate with the module's query function); on a
// failure everything made is given back and 2 answered.
template <class T>
VtStatus ModuleStart(ModuleState<T> &state, const T &initial, VtQueryFunction query) {
  auto *s = static_cast<T *>(VoAllocate(sizeof(T)));
  if (s == nullptr) return VO_STATUS_UNAVAILABLE;
  *s = initial;
  state.SetMaster(s);
  if (VoDriverCreate(query) != nullptr) return 0;
  state.SetMaster(nullptr);
  VoDeallocate(s);
  return VO_STATUS_UNAVAILABLE;
}

// Its terminate: destroys the driver of that name, lets release give back
// what the state holds, and frees the state.
template <class T>
VtStatus ModuleTerminate(ModuleState<T> &state, const char *name, void (*release)(T *)) {
  T *s = state.Get();
  if (s == nullptr) return 0;
  if (VtDriverRecord *d = VoDriverFindFromName(name)) (void)VoDriverDestroy(d);
  release(s);
  state.SetMaster(nullptr);
  VoDeallocate(s);
  return 0;
}

// The five operations every image file driver answers with procedures of
// its own (begin frame, write scan, end frame, read header, read image);
// null for every other code. A driver's table answers its further codes
// first and leaves the rest to this.
template <auto Begin, auto Row, auto End, auto Header, auto Image, uint32_t Code>
VtProc FileOperation() {
  if constexpr (Code == VO_DRIVER_BEGIN_FRAME)
    return reinterpret_cast<VtProc>(Begin);
  else if constexpr (Code == 0x1a000f)
    return reinterpret_cast<VtProc>(Row);
  else if constexpr (Code == VO_DRIVER_END_FRAME)
    return reinterpret_cast<VtProc>(End);
  else if constexpr (Code == VO_DRIVER_READ_HEADER)
    return reinterpret_cast<VtProc>(Header);
  else if constexpr (Code == VO_DRIVER_READ_IMAGE)
    return reinterpret_cast<VtProc>(Image);
  else
    return nullptr;
}

// An operation a file driver answers with 0 and nothing done.
template <uint32_t Code>
VtProc AnswersZero() {
  return reinterpret_cast<VtProc>(&Answer<typename Op<Code>::Proc, 0>::Call);
}

// Its look-up of driver operations by code (set 0 only), answered from the
// module's table of operations.
template <class Table>
VtStatus TableLookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set == 0 && slot != nullptr) *slot = ProcedureByCode<Table>(code);
  return 0;
}

}  // namespace vo::driver::file
