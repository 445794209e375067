// The readers of luminaire files: IESNA LM-63-1991 and -1995, IES without
// the IESNA line (LM-63-2002 among them), CIE and CIBSE. Each reads the
// file's counts and lists and hands them to the resampler.
//
// Every count and list is checked before it sizes anything; a reader stops
// at its first refusal, and the lists it read are freed with it. A number
// that is not finite ("nan", "inf", "1e999") is refused wherever it stands:
// read as 0 it would make a plausible light of a broken file. Format
// detection hands its line on: the header-less reader's "TILT=" search and
// the CIE reader's "=" line begin with it.

#include <cstring>
#include <string>

#include "shading/vophoto/vophoto.h"
#include "kernel/vosystem/face.h"

namespace vo::photo {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// An integer field of a header: truncated, and 0 outside 32 bits.
int64_t Whole(double v) { return v >= -2147483648.0 && v < 2147483648.0 ? static_cast<int64_t>(v) : 0; }

// The text of the first token of the current line; empty when there is none.
std::string_view FirstToken(LuminaireReader &r) {
  std::string_view t;
  return r.Token(&t) ? t : std::string_view{};
}

// The three lists, each starting on a new line. For IES, two equal
// horizontal angles are one plane, and only its values are read.
VtStatus ListsRead(LuminaireReader &r, FileLists &lists, bool equal_planes_are_one) {
  if (!r.NextLine() || !r.Numbers(lists.vertical, lists.vertical_count,
                                  "the file ends inside the vertical angles", "a vertical angle"))
    return kRefused;
  if (!r.NextLine() || !r.Numbers(lists.horizontal, lists.horizontal_count,
                                  "the file ends inside the horizontal angles", "a horizontal angle"))
    return kRefused;
  if (equal_planes_are_one && lists.horizontal_count == 2 && lists.horizontal[0] == lists.horizontal[1])
    lists.horizontal_count = 1;
  const size_t values = size_t{lists.vertical_count} * lists.horizontal_count;
  if (!r.NextLine() || !r.Numbers(lists.values, values, "the file ends inside the values", "a value"))
    return kRefused;
  return 0;
}

// ---------------------------------------------------------------------------
// IES
// ---------------------------------------------------------------------------

// The tilt section after "TILT=": INCLUDE brings the lamp-to-luminaire
// geometry, a count, the tilt angles and their factors, read as tokens
// because they may span lines.
VtStatus TiltRead(LuminaireReader &r, std::string_view tilt) {
  if (tilt.empty() && !r.Token(&tilt)) tilt = {};
  if (tilt != "INCLUDE") return 0;  // NONE, or a tilt file's name, which is not read
  double head[2];
  if (!r.NextLine() || !r.Numbers(head, 2, "the file ends inside the tilt data", "the tilt data"))
    return kRefused;
  if (head[1] < 0) return r.Refuse(kRefused, "a negative tilt count");
  if (head[1] > kMostCount) return r.RefuseLimit("tilt entries", head[1], kMostCount);
  for (int i = 0, n = 2 * static_cast<int>(head[1]); i < n; ++i) {
    double ignored;
    if (!r.Numbers(&ignored, 1, "the file ends inside the tilt data", "the tilt data")) return kRefused;
  }
  return 0;
}

VtStatus IESRead(LuminaireReader &r, VtPhotometricRecord *record, bool header) {
  // The tilt line: after the keyword lines of an IESNA file; the first line
  // that begins with "TILT=" in one without the header, the detection line
  // included.
  if (header) {
    do {
      if (!r.NextLine()) return r.Refuse(kRefused, "no TILT= line");
    } while (r.PieceStartsLine() && StartsWith(r.Rest(), "["));
  } else {
    while (!(r.PieceStartsLine() && StartsWith(r.Rest(), "TILT=")))
      if (!r.NextLine()) return r.Refuse(kRefused, "no TILT= line");
  }
  const std::string_view tilt = FirstToken(r);
  if (!StartsWith(tilt, "TILT=")) return r.Refuse(kRefused, "no TILT= line");
  VtStatus s = TiltRead(r, tilt.substr(5));
  if (s != 0) return s;

  double n[13];
  if (!r.NextLine() ||
      !r.Numbers(n, 13, "the file ends inside the thirteen header numbers", "a header number"))
    return kRefused;
  const int64_t lamps = Whole(n[0]), vertical = Whole(n[3]), horizontal = Whole(n[4]);
  const int64_t type = Whole(n[5]);
  const double lumens = n[1];
  FileLists lists;
  s = lists.Make(r, vertical, horizontal);
  if (s != 0) return s;
  s = ListsRead(r, lists, true);
  if (s != 0) return s;
  int code;
  switch (type) {
    case 1: code = VO_PHOTOMETRY_TYPE_C; break;
    case 2: code = VO_PHOTOMETRY_TYPE_B; break;
    case 3: code = VO_PHOTOMETRY_TYPE_A; break;
    default: return r.RefuseType(static_cast<int32_t>(type));
  }
  // Absolute photometry (lumens per lamp -1) takes the grid's flux.
  const double power = lumens >= 0 ? static_cast<double>(lamps) * lumens : -1.0;
  return Resample(r, lists, code, power, record);
}

// ---------------------------------------------------------------------------
// CIE
// ---------------------------------------------------------------------------

struct CIEHeader {
  double total_flux = 0;
  int code = 0;
  int64_t cones = 0;
  int64_t planes = 0;
  bool followed = false;  // a PHOT file has been opened: another is not followed
};

// The keyword of the current line: the letters A to Z before its first
// "="; false when the line has no "=" or begins with one. The cursor is
// left after the "=".
bool Keyword(LuminaireReader &r, char (&word)[8], bool *has_equals) {
  size_t n = 0;
  bool first = true, overlong = false;
  *has_equals = false;
  for (int c; (c = r.Char()) >= 0; first = false) {
    if (c == '=') {
      *has_equals = true;
      word[n] = '\0';
      return !first && !overlong;
    }
    if (c >= 'A' && c <= 'Z') {
      if (n + 1 < sizeof word)
        word[n++] = static_cast<char>(c);
      else
        overlong = true;
    }
  }
  return false;
}

VtStatus CIEKeywordsRead(LuminaireReader &r, CIEHeader &h, FileLists &lists, LuminaireSource &second) {
  for (;;) {
    if (!r.NextLine()) return r.Refuse(kRefused, "the file ends before CONA");
    char word[8];
    bool has_equals;
    const bool named = Keyword(r, word, &has_equals);
    if (!has_equals) continue;
    std::string_view value;
    if (!r.Token(&value)) return r.Refuse(kRefused, "a keyword line without a value");
    if (!named) continue;
    const std::string_view k(word);
    if ((k == "TOLU" || k == "NCON" || k == "NPLA") && !Finite(value)) return r.RefuseNotFinite(word);
    if (k == "TOLU") {
      h.total_flux = NumberOf(value);
    } else if (k == "PTYP") {
      const char c = static_cast<char>(value.front() | 0x20);
      h.code = c == 'a'   ? VO_PHOTOMETRY_TYPE_A
               : c == 'b' ? VO_PHOTOMETRY_TYPE_B
               : c == 'c' ? VO_PHOTOMETRY_TYPE_C
                          : 0;
      if (h.code == 0) return r.Refuse(kRefused, "a PTYP other than A, B or C");
    } else if (k == "NCON") {
      h.cones = IntegerOf(value);
    } else if (k == "NPLA") {
      h.planes = IntegerOf(value);
    } else if (k == "PHOT") {
      if (value == "INCLUDE" || h.followed) continue;
      h.followed = true;
      if (!r.SwitchTo(value, &second)) return kRefused;
      if (!r.NextLine() || FirstToken(r) != "CIEA=CIE-A")
        return r.Refuse(kRefused, "the PHOT file does not begin with CIEA=CIE-A");
    } else if (k == "CONA") {
      if (h.code == 0) return r.Refuse(kRefused, "no PTYP before CONA");
      VtStatus s = lists.Make(r, h.cones, h.planes);
      if (s != 0) return s;
      // The cone angles sit on this line, the first being the value.
      if (!r.Number(value, "a cone angle", &lists.vertical[0])) return kRefused;
      for (uint32_t i = 1; i < lists.vertical_count; ++i) {
        if (!r.Token(&value)) return r.Refuse(kRefused, "fewer cone angles than NCON on the CONA line");
        if (!r.Number(value, "a cone angle", &lists.vertical[i])) return kRefused;
      }
      return 0;
    }
  }
}

VtStatus CIERead(LuminaireReader &r, VtPhotometricRecord *record) {
  // The line with the first "=" (the detection line) is passed over.
  bool found = false;
  do {
    for (int c; !found && (c = r.Char()) >= 0;) found = c == '=';
  } while (!found && r.NextLine());
  if (!found) return r.Refuse(kRefused, "the file ends before CONA");
  CIEHeader h;
  FileLists lists;
  LuminaireSource second;
  VtStatus s = CIEKeywordsRead(r, h, lists, second);
  if (s != 0) return s;
  // One line per plane: its angle, then the plane's values.
  for (uint32_t p = 0; p < lists.horizontal_count; ++p) {
    std::string_view t;
    if (!r.NextLine() || !r.Token(&t))
      return r.Refuse(kRefused, "the file ends or a line is empty before NPLA planes");
    if (!r.Number(t, "a plane angle", &lists.horizontal[p])) return kRefused;
    double *plane = lists.values + size_t{p} * lists.vertical_count;
    for (uint32_t i = 0; i < lists.vertical_count; ++i) {
      if (!r.Token(&t)) return r.Refuse(kRefused, "a plane line with fewer values than NCON");
      if (!r.Number(t, "a value", &plane[i])) return kRefused;
    }
  }
  return Resample(r, lists, h.code, h.total_flux > 0 ? h.total_flux : -1.0, record);
}

// ---------------------------------------------------------------------------
// CIBSE
// ---------------------------------------------------------------------------

VtStatus CIBSERead(LuminaireReader &r, VtPhotometricRecord *record) {
  for (int i = 0; i < 7; ++i)
    if (!r.NextLine()) return r.Refuse(kRefused, "the file ends inside the description lines");
  double n[11];
  if (!r.NextLine() || !r.Numbers(n, 11, "the file ends inside the eleven header numbers", "a header number"))
    return kRefused;
  FileLists lists;
  VtStatus s = lists.Make(r, Whole(n[9]), Whole(n[10]));
  if (s != 0) return s;
  s = ListsRead(r, lists, false);
  if (s != 0) return s;
  const int64_t type = Whole(n[1]);
  if (type != 1 && type != 2) return r.RefuseType(static_cast<int32_t>(type));
  return Resample(r, lists, type == 1 ? VO_PHOTOMETRY_TYPE_C : VO_PHOTOMETRY_TYPE_C_TURNED,
                  n[6] > 0 ? n[6] : -1.0, record);
}

// The layout by the first token of the first line that is not blank; the
// reader is left at the start of that line.
int Detect(LuminaireReader &r) {
  std::string_view t;
  do {
    if (!r.NextLine()) return kFormatUnknown;
  } while (!r.Token(&t));
  int format = kFormatUnknown;
  if (t == "IESNA91" || t == "IESNA:LM-63-1995")
    format = kFormatIES;
  else if (t == "CIBSE/1")
    format = kFormatCIBSE;
  else if (t == "CIEF=CIE")
    format = kFormatCIE;
  r.Rewind();
  return format;
}

}  // namespace
}  // namespace vo::photo

namespace vo {

int VoPhotometryDetectFormat(LuminaireSource &source) {
  photo::LuminaireReader r(source, nullptr, nullptr);
  return photo::Detect(r);
}

VtStatus VoPhotometryReadSource(VtPhotometricRecord *record, LuminaireSource &source,
                                PhotometryResolver resolve, void *context, const float *from,
                                const float *to) {
  if (record == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  photo::LuminaireReader r(source, resolve, context);
  VtStatus s;
  switch (photo::Detect(r)) {
    case kFormatIES: s = photo::IESRead(r, record, true); break;
    case kFormatCIE: s = photo::CIERead(r, record); break;
    case kFormatCIBSE: s = photo::CIBSERead(r, record); break;
    default: s = photo::IESRead(r, record, false); break;
  }
  if (s == 0 && from != nullptr && to != nullptr) VoPhotometricRecordOrient(record, from, to);
  return s;
}

namespace {

// A "PHOT" name beside the first file, or as given when absolute.
struct Beside {
  std::string directory;
  std::string path;
};

bool OpenBeside(void *context, const char *name, LuminaireSource *source) {
  auto *b = static_cast<Beside *>(context);
  try {
    b->path = name[0] == '/' ? std::string(name) : b->directory + name;
  } catch (...) {
    return false;
  }
  auto *file = static_cast<std::FILE *>(VoFileOpen(b->path.c_str(), 1));
  if (file == nullptr) return false;
  *source = LuminaireSource(file, b->path.c_str());
  return true;
}

}  // namespace

VtStatus VoPhotometryRead(VtPhotometricRecord *record, const char *file_name, const float *from,
                          const float *to) {
  if (record == nullptr || file_name == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  auto *file = static_cast<std::FILE *>(VoFileOpen(file_name, 1));
  LuminaireSource source(file, file_name);
  if (file == nullptr) {
    Post(photo::kRefused, messages::kPhotometryFileRefused, VO_MODULE_PHOTOMETRY, file_name, 0u,
         "the file cannot be opened");
    return photo::kRefused;
  }
  Beside beside;
  try {
    const char *slash = std::strrchr(file_name, '/');
    if (slash != nullptr) beside.directory.assign(file_name, static_cast<size_t>(slash - file_name) + 1);
  } catch (...) {
    return photo::kNoMemory;
  }
  return VoPhotometryReadSource(record, source, &OpenBeside, &beside, from, to);
}

}  // namespace vo
