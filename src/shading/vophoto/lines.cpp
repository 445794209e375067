// Lines, tokens and numbers of luminaire files.
//
// A line ends at LF, CR, CR LF or LF CR and holds at most 255 characters
// in one piece; a longer one comes in pieces of 255, and a full piece peeks
// at the next character so that a line of exactly 255 characters and its
// line end is one line, not a line and an empty one. Tokens are runs of
// characters other than blanks; a token that meets a cut goes on in the
// next piece, so a number straddling the cut reads whole.

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "shading/vophoto/vophoto.h"
#include "kernel/vosystem/face.h"

namespace vo {

LuminaireSource &LuminaireSource::operator=(LuminaireSource &&other) noexcept {
  if (this != &other) {
    Close();
    file_ = other.file_;
    bytes_ = other.bytes_;
    size_ = other.size_;
    at_ = other.at_;
    name_ = other.name_;
    other.file_ = nullptr;
    other.bytes_ = nullptr;
  }
  return *this;
}

void LuminaireSource::Close() {
  if (file_ != nullptr) VoFileClose(file_);
  file_ = nullptr;
  bytes_ = nullptr;
  size_ = at_ = 0;
}

}  // namespace vo

namespace vo::photo {
namespace {

constexpr size_t kPieceMost = 255;

bool Blank(int c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool LineEnd(int c) { return c == '\n' || c == '\r'; }

// The text without the one plus sign atof takes; empty when a sign follows.
std::string_view Unsigned(std::string_view t) {
  if (!t.empty() && t.front() == '+') {
    t.remove_prefix(1);
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) return {};
  }
  return t;
}

// Whether a number from_chars finds out of range lies past the largest
// double rather than below the smallest: only the two far ends of the range
// are out of it, so the sign of the leading digit's decimal place, exponent
// included, tells them apart.
bool TooLarge(std::string_view t) {
  size_t i = t.empty() || t.front() != '-' ? 0 : 1;
  int64_t place = 0;  // digits before the point, or minus the zeros after it
  while (i < t.size() && t[i] == '0') ++i;
  for (; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i) ++place;
  if (place == 0 && i < t.size() && t[i] == '.')
    for (++i; i < t.size() && t[i] == '0'; ++i) --place;
  const size_t e = t.find_first_of("eE");
  int64_t exponent = 0;
  if (e != std::string_view::npos) {
    size_t j = e + 1;
    const bool negative = j < t.size() && t[j] == '-';
    if (j < t.size() && (t[j] == '-' || t[j] == '+')) ++j;
    for (; j < t.size() && std::isdigit(static_cast<unsigned char>(t[j])); ++j)
      if (exponent < int64_t{1} << 40) exponent = exponent * 10 + (t[j] - '0');  // no wrap
    if (negative) exponent = -exponent;
  }
  return place + exponent > 0;
}

}  // namespace

bool Finite(std::string_view text) {
  text = Unsigned(text);
  double v = 0.0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec == std::errc::result_out_of_range)
    return !TooLarge(text.substr(0, static_cast<size_t>(r.ptr - text.data())));
  return r.ec != std::errc{} || std::isfinite(v);
}

double NumberOf(std::string_view text) {
  text = Unsigned(text);
  double v = 0.0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  return r.ec == std::errc{} && std::isfinite(v) ? v : 0.0;
}

int32_t IntegerOf(std::string_view text) {
  text = Unsigned(text);
  int32_t v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  return r.ec == std::errc{} ? v : 0;
}

int LuminaireReader::Take() {
  if (pushed_ >= 0) {
    const int c = pushed_;
    pushed_ = -1;
    return c;
  }
  return source_->Next();
}

// After LF or CR: the pairs CR LF and LF CR are one line end; any other
// character is kept for the next piece.
void LuminaireReader::LineEndRead(int c) {
  const int d = source_->Next();
  if ((c == '\r' && d == '\n') || (c == '\n' && d == '\r')) return;
  pushed_ = d;
}

bool LuminaireReader::Piece() {
  const bool continues = cut_;
  length_ = at_ = 0;
  cut_ = false;
  int c = Take();
  if (c < 0) return false;
  for (;;) {
    if (c < 0) break;
    if (LineEnd(c)) {
      LineEndRead(c);
      break;
    }
    piece_[length_++] = static_cast<char>(c);
    if (length_ == kPieceMost) {
      const int d = source_->Next();
      if (LineEnd(d))
        LineEndRead(d);
      else if (d >= 0)
        pushed_ = d, cut_ = true;
      break;
    }
    c = source_->Next();
  }
  piece_[length_] = '\0';
  starts_line_ = !continues;
  if (!continues) ++line_;
  return true;
}

bool LuminaireReader::NextLine() {
  while (in_line_ && cut_)
    if (!Piece()) break;
  in_line_ = Piece();
  return in_line_;
}

int LuminaireReader::Char() {
  while (in_line_ && at_ == length_) {
    if (!cut_ || !Piece()) return -1;
  }
  if (!in_line_) return -1;
  return static_cast<unsigned char>(piece_[at_++]);
}

bool LuminaireReader::Token(std::string_view *token) {
  int c;
  do c = Char();
  while (Blank(c));
  if (c < 0) return false;
  // A token inside one piece is read in place; one that meets a cut is
  // gathered into token_.
  size_t n = 0;
  const size_t start = at_ - 1;
  while (at_ < length_ && !Blank(static_cast<unsigned char>(piece_[at_]))) ++at_;
  if (at_ < length_ || !cut_) {
    *token = std::string_view(piece_ + start, at_ - start);
    return true;
  }
  n = at_ - start;
  std::memcpy(token_, piece_ + start, n);
  while ((c = Char()) >= 0 && !Blank(c))
    if (n < sizeof token_) token_[n++] = static_cast<char>(c);
  if (c >= 0) --at_;  // the blank stays for the next token
  *token = std::string_view(token_, n);
  return true;
}

bool LuminaireReader::TokenAcross(std::string_view *token) {
  while (!Token(token))
    if (!NextLine()) return false;
  return true;
}

bool LuminaireReader::Numbers(double *out, size_t count, const char *ends, const char *named) {
  std::string_view t;
  for (size_t i = 0; i < count; ++i) {
    if (!TokenAcross(&t)) {
      Refuse(kRefused, ends);
      return false;
    }
    if (!Number(t, named, &out[i])) return false;
  }
  return true;
}

// A number past a float's range is refused too: the record keeps floats,
// where it would become infinite.
bool LuminaireReader::Number(std::string_view token, const char *named, double *out) const {
  if (!Finite(token)) {
    RefuseNotFinite(named);
    return false;
  }
  const double v = NumberOf(token);
  if (std::fabs(v) > kFloatMost) {
    RefuseLimit(named, v, kFloatMost);
    return false;
  }
  *out = v;
  return true;
}

bool LuminaireReader::SwitchTo(std::string_view name, LuminaireSource *next) {
  char text[sizeof token_ + 1];
  const size_t n = name.size() < sizeof token_ ? name.size() : sizeof token_;
  std::memcpy(text, name.data(), n);
  text[n] = '\0';
  if (resolve_ == nullptr || !resolve_(context_, text, next) || !next->Usable()) {
    Refuse(kRefused, "the file PHOT names cannot be opened");
    return false;
  }
  source_->Close();
  source_ = next;
  pushed_ = -1;
  length_ = at_ = 0;
  cut_ = in_line_ = false;
  line_ = 0;
  return true;
}

VtStatus LuminaireReader::Refuse(VtStatus status, const char *reason) const {
  Post(status, messages::kPhotometryFileRefused, VO_MODULE_PHOTOMETRY, FileName(), line_, reason);
  return status;
}

VtStatus LuminaireReader::RefuseLimit(const char *what, double value, double limit) const {
  Post(kRefused, messages::kPhotometryLimitRefused, VO_MODULE_PHOTOMETRY, FileName(), line_, what, value,
       limit);
  return kRefused;
}

VtStatus LuminaireReader::RefuseNotFinite(const char *named) const {
  Post(kRefused, messages::kPhotometryNotFinite, VO_MODULE_PHOTOMETRY, FileName(), line_, named);
  return kRefused;
}

VtStatus LuminaireReader::RefuseType(int32_t type) const {
  Post(kNotHandled, messages::kPhotometryTypeRefused, VO_MODULE_PHOTOMETRY, FileName(), type);
  return kNotHandled;
}

}  // namespace vo::photo
