// A started kernel recording diagnostics, luminaire files held in memory
// (a first file and the file its CIE "PHOT" keyword names), and one
// distribution written in each of the layouts the readers know.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "shading/vophoto/photometry.h"
#include "shading/vophoto/vophoto.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

// One type C distribution: cone angles 0, 45, 90, 135, 180 in planes 0, 90
// and 180, 1000 lumens.
constexpr const char *kIESBody =
    "TILT=NONE\n"
    "1 1000 1 5 3 1 2 0.5 0.5 0.2\n"
    "1.0 1.0 100\n"
    "0 45 90 135 180\n"
    "0 90 180\n"
    "100 90 60 20 0\n"
    "100 80 50 10 0\n"
    "100 70 40 5 0\n";

inline std::string IES1995() {
  return std::string("IESNA:LM-63-1995\n[TEST] one\n[MANUFAC] none\n") + kIESBody;
}
inline std::string IES1991() { return std::string("IESNA91\n[TEST] one\n") + kIESBody; }
inline std::string IESHeaderless() { return std::string("A luminaire\nwithout a header line\n") + kIESBody; }
inline std::string IES2002() {
  return std::string("IESNA:LM-63-2002\n[TEST] one\n[ISSUEDATE] 2002\n") + kIESBody;
}

constexpr const char *kCIEData =
    "CONA=0 45 90 135 180\n"
    "0 100 90 60 20 0\n"
    "90 100 80 50 10 0\n"
    "180 100 70 40 5 0\n";
constexpr const char *kCIEHead = "CIEF=CIE\nTOLU=1000\nPTYP=C\nNCON=5\nNPLA=3\n";
inline std::string CIEIncluded() { return std::string(kCIEHead) + "PHOT=INCLUDE\n" + kCIEData; }
inline std::string CIEFirst() { return std::string(kCIEHead) + "PHOT=data.cia\n"; }
inline std::string CIESecond() { return std::string("CIEA=CIE-A\n") + kCIEData; }

inline std::string CIBSE(int type = 1) {
  return "CIBSE/1\nline 1\nline 2\nline 3\nline 4\nline 5\nline 6\nline 7\n1 " + std::to_string(type) +
         " 0 0 0 0 1000 0 0\n5 3\n0 45 90 135 180\n0 90 180\n100 90 60 20 0\n100 80 50 10 0\n100 70 40 5 0\n";
}

// A file and, for CIE, the file "PHOT" names.
struct Luminaire {
  std::string name;
  std::string first;
  std::string second;
};

inline std::vector<Luminaire> EveryLayout() {
  return {{"IESNA:LM-63-1995", IES1995(), ""},
          {"IESNA91", IES1991(), ""},
          {"header-less", IESHeaderless(), ""},
          {"LM-63-2002", IES2002(), ""},
          {"CIE included", CIEIncluded(), ""},
          {"CIE second file", CIEFirst(), CIESecond()},
          {"CIBSE", CIBSE(), ""}};
}

// Opens the second text for any name.
inline bool SecondText(void *context, const char *, LuminaireSource *source) {
  const auto *text = static_cast<const std::string *>(context);
  *source = LuminaireSource(text->data(), text->size(), "second");
  return true;
}

class PhotometryTest : public ::testing::Test {
 protected:
  void SetUp() override { record_ = VoPhotometricRecordCreate(); }
  void TearDown() override { VoPhotometricRecordDestroy(record_); }

  // Reads the text into the record as a fresh light would (no power of
  // its own: the file's is taken).
  VtStatus Read(const std::string &first, const std::string &second = "", const float *from = nullptr,
                const float *to = nullptr) {
    VoPhotometricRecordSetPower(record_, 0);
    return ReadKeepingPower(first, second, from, to);
  }
  VtStatus ReadKeepingPower(const std::string &first, const std::string &second = "",
                            const float *from = nullptr, const float *to = nullptr) {
    LuminaireSource source(first.data(), first.size(), "first");
    second_ = second;
    return VoPhotometricRecordLoadSource(record_, source, &SecondText, &second_, from, to, nullptr, nullptr);
  }
  VtStatus Read(const Luminaire &l) { return Read(l.first, l.second); }

  std::vector<float> Grid() const {
    if (record_->distribution == nullptr) return {};
    return std::vector<float>(record_->distribution, record_->distribution + record_->sampleCount);
  }
  static int Posted(uint32_t message) { return static_cast<int>(vo_test::WithMessage(message).size()); }

  vo_test::Kernel kernel_;
  VtPhotometricRecord *record_ = nullptr;
  std::string second_;
};

}  // namespace vo::test
