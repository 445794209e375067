// Compression of blobs inside object files, over zlib: one-call compression
// at the default level, and one inflate of the whole source.
//
// The output block is compressBound() of the length, worked out in size_t
// (a fixed margin of 2% plus 12 bytes would wrap for large lengths), and a
// block past 4 GiB is refused rather than truncated. Inflating answers 0
// only when the stream ended and filled the destination exactly: a short
// stream would leave part of it unset.
//
// zlib's state, window and buffers come from the library's allocator
// through its allocation hooks, so that memory running out inside zlib is
// answered (and tested) like any other allocation failure, nothing kept:
// compressing answers 2, inflating the memory status 0x20000006 (which
// holds the failure bit 2), so that a caller that keeps a short inflate
// still tells memory running out from bad data.

#include <zlib.h>

#include "io/voobject/object.h"

namespace vo {

using object::kFailed;

namespace {

voidpf ZlibAllocate(voidpf, uInt items, uInt size) {
  const uint64_t bytes = uint64_t{items} * size;
  return bytes > UINT32_MAX ? Z_NULL : VoAllocate(static_cast<uint32_t>(bytes));
}

void ZlibFree(voidpf, voidpf block) { VoDeallocate(block); }

z_stream ZlibStream() {
  z_stream z{};
  z.zalloc = &ZlibAllocate;
  z.zfree = &ZlibFree;
  return z;
}

// What compress2 does, with the library's allocator: one deflate of the
// whole source at the default level into a block of compressBound bytes.
int Deflated(const Bytef *from, uint32_t length, Bytef *out, uint32_t room, uLongf *produced) {
  z_stream z = ZlibStream();
  z.next_in = const_cast<Bytef *>(from);
  z.avail_in = length;
  z.next_out = out;
  z.avail_out = room;
  int result = deflateInit(&z, Z_DEFAULT_COMPRESSION);
  if (result != Z_OK) return result;
  do result = deflate(&z, Z_FINISH);
  while (result == Z_OK);
  *produced = z.total_out;
  deflateEnd(&z);
  return result == Z_STREAM_END ? Z_OK : result;
}

}  // namespace

VtStatus VoDataObjectCompress(void *source, uint32_t length, void **buffer, uint32_t *out_length) {
  if (buffer == nullptr || out_length == nullptr || (source == nullptr && length != 0)) return kFailed;
  const size_t bound = compressBound(length);
  if (bound > UINT32_MAX) return kFailed;
  auto *out = static_cast<Bytef *>(VoAllocate(static_cast<uint32_t>(bound)));
  if (out == nullptr) return kFailed;
  static const Bytef kNothing = 0;
  uLongf produced = 0;
  const auto *from = source != nullptr ? static_cast<const Bytef *>(source) : &kNothing;
  if (Deflated(from, length, out, static_cast<uint32_t>(bound), &produced) != Z_OK) {
    VoDeallocate(out);
    return kFailed;
  }
  *buffer = out;
  *out_length = static_cast<uint32_t>(produced);
  return 0;
}

VtStatus VoDataObjectDecompress(void *source, uint32_t source_length, void *destination,
                                uint32_t destination_length) {
  if ((source == nullptr && source_length != 0) || (destination == nullptr && destination_length != 0))
    return kFailed;
  Bytef spare = 0;
  z_stream z = ZlibStream();
  z.next_in = source != nullptr ? static_cast<Bytef *>(source) : &spare;
  z.avail_in = source_length;
  z.next_out = destination != nullptr ? static_cast<Bytef *>(destination) : &spare;
  z.avail_out = destination_length;
  int result = inflateInit(&z);
  if (result != Z_OK) return result == Z_MEM_ERROR ? VO_STATUS_NO_MEMORY : kFailed;
  result = inflate(&z, Z_FINISH);
  const bool whole = result == Z_STREAM_END && z.total_out == destination_length;
  inflateEnd(&z);
  if (result == Z_MEM_ERROR) return VO_STATUS_NO_MEMORY;
  return whole ? 0 : kFailed;
}

}  // namespace vo
