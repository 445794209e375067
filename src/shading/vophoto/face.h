// The photometry module's face (vophoto, module 66): the procedures the pro
// shader library calls directly, photometric records and the colour of a
// lamp, as the goniometric light, the area lights, the sky and radiosity
// read them. None is exported.
//
// Nothing here is module-wide: every procedure works with module 66
// stopped, on any thread. A record is written by its owner and only read
// while shading.
#pragma once

#include <cstdint>

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
double VoPhotometricRecordIntensity(const VtPhotometricRecord *record, const float *position,
                                    const float *point);

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

}  // namespace vo
