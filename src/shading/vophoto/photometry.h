// The luminaire file readers of the photometry module (vophoto, module 66):
// the sources a reader takes its bytes from, the reads into a record and the
// record's orientation and flux, shared by the module's files. None is
// exported; what the pro shader library calls is in face.h.
//
// Nothing here is module-wide: every procedure works with module 66
// stopped, on any thread; a read keeps its state in one local reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <vo/vo_photometry.h>
#include <vo/vo_types.h>

#include "shading/vophoto/face.h"

namespace vo {

// ---------------------------------------------------------------------------
// Luminaire files
// ---------------------------------------------------------------------------

enum LuminaireFormat : int { kFormatIES = 0, kFormatCIE = 1, kFormatCIBSE = 2, kFormatUnknown = 4 };

// Where a reader's bytes come from: a stream it owns (closed with the
// source) or a block of memory the caller keeps.
class LuminaireSource {
 public:
  LuminaireSource() = default;
  LuminaireSource(std::FILE *owned, const char *name) : file_(owned), name_(name) {}
  LuminaireSource(const void *bytes, size_t size, const char *name)
      : bytes_(static_cast<const unsigned char *>(bytes)), size_(size), name_(name) {}
  LuminaireSource(const LuminaireSource &) = delete;
  LuminaireSource &operator=(const LuminaireSource &) = delete;
  LuminaireSource &operator=(LuminaireSource &&other) noexcept;
  ~LuminaireSource() { Close(); }

  // The next byte, or -1 at the end.
  int Next() {
    if (file_ != nullptr) return std::getc(file_);
    return at_ < size_ ? bytes_[at_++] : -1;
  }
  bool Usable() const { return file_ != nullptr || bytes_ != nullptr; }
  const char *Name() const { return name_ != nullptr ? name_ : ""; }
  void Close();

 private:
  std::FILE *file_ = nullptr;
  const unsigned char *bytes_ = nullptr;
  size_t size_ = 0;
  size_t at_ = 0;
  const char *name_ = nullptr;
};

// Opens the file a CIE "PHOT" keyword names into *source; false when it
// cannot be had. name is the keyword's value as written.
using PhotometryResolver = bool (*)(void *context, const char *name, LuminaireSource *source);

// Reads a luminaire file from the source into the record (Read below).
VtStatus VoPhotometryReadSource(VtPhotometricRecord *record, LuminaireSource &source,
                                PhotometryResolver resolve, void *context, const float *from,
                                const float *to);
// Opens the file through the kernel and reads it; a "PHOT" file is looked
// for beside it (absolute names as given). 0x40000002 when it cannot be
// opened, ends early, is malformed or out of bounds; 258 for a photometric
// type not handled; 0x40000006 without memory. On any failure the record
// keeps no distribution.
VtStatus VoPhotometryRead(VtPhotometricRecord *record, const char *file_name, const float *from,
                          const float *to);
// The layout of the source from its first line that is not blank; the
// source is read past that line.
int VoPhotometryDetectFormat(LuminaireSource &source);

// The record load over a source: VoPhotometricRecordLoad without the file.
VtStatus VoPhotometricRecordLoadSource(VtPhotometricRecord *record, LuminaireSource &source,
                                       PhotometryResolver resolve, void *context, const float *from,
                                       const float *to, const float *filter, float *out_colour);

// Sets the record's azimuth planes for a luminaire at from aimed at to.
void VoPhotometricRecordOrient(VtPhotometricRecord *record, const float *from, const float *to);

// The flux of a grid whose steps are in radians (0 for under two vertical
// samples).
double VoPhotometryGridFlux(const float *grid, uint32_t horizontal_count, uint32_t vertical_count,
                            double vertical_step, double horizontal_step);

}  // namespace vo
