// The procedures of the photometry module (vophoto, module 66) that the pro
// shader library calls directly: photometric records, the colour of a lamp
// and the readers of luminaire files. None is exported.
//
// Nothing here is module-wide: every procedure works with module 66
// stopped, on any thread; a read keeps its state in one local reader. A
// record is written by its owner and only read while shading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <vo/vo_photometry.h>
#include <vo/vo_types.h>

namespace vo {

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// A new record with the defaults (lumens, aim (0, 0, 1), equator zero
// (1, 0, 1), white), or null when memory runs out.
VtPhotometricRecord *VoPhotometricRecordCreate();
// Frees the distribution, then the record. Answers 0.
VtStatus VoPhotometricRecordDestroy(VtPhotometricRecord *record);

// Reads the luminaire file into the record: aim from the two points, the
// colour from the colour temperature and the filter, the file through
// VoPhotometryRead. out_colour (may be null) gets the record's colour.
// 0x40000012 for a null record or file name; else the OR of the colour's
// status (0x40000006 when no colour results) and the read's.
VtStatus VoPhotometricRecordLoad(VtPhotometricRecord *record, const char *file_name, const float *from,
                                 const float *to, const float *filter, float *out_colour);

// Relative intensity toward the point from a luminaire at position: 1 in
// the brightest direction, 0 without a distribution, for a point within
// 1e-6 of the luminaire, or for non-finite angles.
double VoPhotometricRecordIntensity(const VtPhotometricRecord *record, const float *position, const float *point);

// Accessors: each answers 0 (a null record: 0x40000012), or the value.
float VoPhotometricRecordGetPower(const VtPhotometricRecord *record);
VtStatus VoPhotometricRecordSetPower(VtPhotometricRecord *record, double power);
int32_t VoPhotometricRecordGetPowerUnits(const VtPhotometricRecord *record);
VtStatus VoPhotometricRecordSetPowerUnits(VtPhotometricRecord *record, int32_t units);
float VoPhotometricRecordGetColourTemperature(const VtPhotometricRecord *record);
VtStatus VoPhotometricRecordSetColourTemperature(VtPhotometricRecord *record, double kelvin);
int32_t VoPhotometricRecordGetLampType(const VtPhotometricRecord *record);
// 0 clears the lamp type and keeps the temperature; 1-9 set the type and
// its temperature; any other code answers 18 and changes nothing.
VtStatus VoPhotometricRecordSetLampType(VtPhotometricRecord *record, int32_t lamp_type);
VtStatus VoPhotometricRecordGetEquatorZero(const VtPhotometricRecord *record, float *point);
VtStatus VoPhotometricRecordSetEquatorZero(VtPhotometricRecord *record, const float *point);
// Normalises the vector into the aim; a zero or non-finite vector keeps the
// old aim.
VtStatus VoPhotometricRecordSetAim(VtPhotometricRecord *record, const float *vector);

// ---------------------------------------------------------------------------
// Colour
// ---------------------------------------------------------------------------

// The colour of a black body at the temperature (kelvin), filtered; below
// 150 K the filter itself, or white. Answers 1 with the colour in out, or 0
// (out untouched) for a filter outside the unit cube.
int VoPhotometryColourFromTemperature(double kelvin, const float *filter, float *out);
// 47.1 r + 117.2 g + 14.7 b.
double VoPhotometryLuminance(const float *colour);
// The colour (white when null) scaled to the luminance. A luminance at or
// below 0 gives black and 0; a colour outside the unit cube, or too dark to
// be scaled, gives black and 18.
VtStatus VoPhotometryColourFromLuminance(double luminance, const float *colour, float *out);

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
VtStatus VoPhotometryReadSource(VtPhotometricRecord *record, LuminaireSource &source, PhotometryResolver resolve,
                                void *context, const float *from, const float *to);
// Opens the file through the kernel and reads it; a "PHOT" file is looked
// for beside it (absolute names as given). 0x40000002 when it cannot be
// opened, ends early, is malformed or out of bounds; 258 for a photometric
// type not handled; 0x40000006 without memory. On any failure the record
// keeps no distribution.
VtStatus VoPhotometryRead(VtPhotometricRecord *record, const char *file_name, const float *from, const float *to);
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
