// Inside the photometry module: the reader of one luminaire file (lines,
// tokens, numbers and the refusals it reports) and the file's lists on
// their way to the record's grid.
//
// A reader is a local object of one read: it owns the source it reads
// (a "PHOT" file replaces the first) and nothing it holds outlives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "shading/vophoto/photometry.h"

namespace vo::photo {

constexpr VtStatus kRefused = VO_CLASS_ERROR | VO_COND_UNAVAILABLE;  // 0x40000002
constexpr VtStatus kNoMemory = VO_STATUS_ERROR_NO_MEMORY;            // 0x40000006
constexpr VtStatus kNotHandled = 258;                                // a photometric type not handled
constexpr uint32_t kMostCount = 10000;                               // angles of one list, tilt entries
constexpr size_t kMostValues = 4000000;                              // values of one file
constexpr double kMostSamples = 4194304.0;                           // 2^22 grid samples
constexpr double kFloatMost = std::numeric_limits<float>::max();     // magnitude of a number a file gives

// Numbers as the C library's atof and atoi read them, by prefix; text that
// is malformed, out of range or not finite reads 0.
double NumberOf(std::string_view text);
int32_t IntegerOf(std::string_view text);
// False when the text reads as a number that is not finite: "nan", "inf"
// or a magnitude past a double's range ("1e999"). Malformed text is finite
// (it reads 0).
bool Finite(std::string_view text);

// Lines of at most 255 characters and the tokens on them. A line longer
// than that comes in pieces: a piece returned without its line end goes on
// in the next, and tokens and lines join across the cut.
class LuminaireReader {
 public:
  LuminaireReader(LuminaireSource &source, PhotometryResolver resolve, void *context)
      : source_(&source), resolve_(resolve), context_(context) {}

  // Ends the current line (its remaining pieces are passed over) and reads
  // the first piece of the next; false at the end of the file.
  bool NextLine();
  // The current piece from the token cursor on, and whether the piece is
  // the start of its line.
  std::string_view Rest() const { return std::string_view(piece_ + at_, length_ - at_); }
  bool PieceStartsLine() const { return starts_line_; }
  // The next token of the current line; false at its end.
  bool Token(std::string_view *token);
  // The next token, going on over line ends; false at the end of the file.
  bool TokenAcross(std::string_view *token);
  // The next character of the current line; -1 at its end.
  int Char();
  // Reads count numbers (going on over lines) into out; false, with the
  // refusal posted, when the file ends first (ends says so) or a number is
  // not finite (named says which list).
  bool Numbers(double *out, size_t count, const char *ends, const char *named);
  // The number a token reads as; false, with message 2534 posted, when it
  // is not finite.
  bool Number(std::string_view token, const char *named, double *out) const;
  // Back to the start of the current piece.
  void Rewind() { at_ = 0; }

  // Closes the current file and reads on in the file the "PHOT" keyword
  // names; false (refusal posted) when it cannot be had.
  bool SwitchTo(std::string_view name, LuminaireSource *next);

  // Posts message 2530 (file, line, reason) and answers status.
  VtStatus Refuse(VtStatus status, const char *reason) const;
  VtStatus RefuseType(int32_t type) const;  // 258, message 2531
  // Posts message 2535 (file, line, what, the value met, the limit) and
  // answers 0x40000002: the file asks for more than a fixed limit allows.
  VtStatus RefuseLimit(const char *what, double value, double limit) const;
  // Posts message 2534 (file, line, what) and answers 0x40000002.
  VtStatus RefuseNotFinite(const char *named) const;
  const char *FileName() const { return source_->Name(); }
  uint32_t LineNumber() const { return line_; }

 private:
  bool Piece();  // the next piece; false at the end of the file
  void LineEndRead(int c);
  int Take();

  LuminaireSource *source_;
  PhotometryResolver resolve_;
  void *context_;
  int pushed_ = -1;
  char piece_[256] = {};
  size_t length_ = 0;
  size_t at_ = 0;
  bool cut_ = false;  // the piece has no line end: its line goes on
  bool starts_line_ = false;
  bool in_line_ = false;  // a line has been started and not ended
  uint32_t line_ = 0;     // number of the current line, from 1
  char token_[512] = {};  // a token joined across cuts (longer ones are cut short)
};

// The lists of a luminaire file: angles in degrees in the file's own
// system, values ordered by horizontal angle. Frees them at the end.
struct FileLists {
  uint32_t vertical_count = 0;
  uint32_t horizontal_count = 0;
  double *vertical = nullptr;
  double *horizontal = nullptr;
  double *values = nullptr;  // [horizontal index * vertical_count + vertical index]

  FileLists() = default;
  FileLists(const FileLists &) = delete;
  FileLists &operator=(const FileLists &) = delete;
  ~FileLists();
  // Checks the counts (1 to 10,000 each, at most 4,000,000 values) and
  // allocates the three lists; refusals and memory failures are posted, a
  // count past its limit with message 2535.
  VtStatus Make(const LuminaireReader &r, int64_t vertical_count, int64_t horizontal_count);
};

// Builds the record's grid from the lists in the coordinate system of the
// code (1 type A, 2 type B, 3 type C, 4 type C turned), works out its flux,
// normalises it and gives the record its power: file_power when that is 0
// or more, else the flux (only when the record's power is 0 or below). On
// failure the record is unchanged.
VtStatus Resample(const LuminaireReader &r, const FileLists &lists, int code, double file_power,
                  VtPhotometricRecord *record);

// The observer's 81 rows (x-bar, y-bar, z-bar from 380 nm in 5 nm steps).
const double (*Observer())[3];

// The file's value at a grid direction (degrees): exposed for the tests.
double FileValue(const FileLists &lists, int code, double horizontal, double vertical);

}  // namespace vo::photo
