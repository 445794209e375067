// The allocation-failure sweep over luminaire files read into a photometric
// record, one file of each layout (a CIE file with the file its "PHOT"
// keyword names beside it). The photometry readers answer their own error
// status with the memory condition, 0x40000006, when memory runs out; a
// failed read leaves the record without a distribution.
#include <gtest/gtest.h>

#include <fstream>

#include "support/allocation_sweep.h"
#include "sweep_files.h"
#include "shading/vophoto/face.h"

namespace vo::test {
namespace {

constexpr const char *kIES =
    "IESNA:LM-63-1995\n[TEST] one\nTILT=NONE\n"
    "1 1000 1 5 3 1 2 0.5 0.5 0.2\n1.0 1.0 100\n0 45 90 135 180\n0 90 180\n"
    "100 90 60 20 0\n100 80 50 10 0\n100 70 40 5 0\n";
constexpr const char *kCIEFirst = "CIEF=CIE\nTOLU=1000\nPTYP=C\nNCON=5\nNPLA=3\nPHOT=data.cia\n";
constexpr const char *kCIESecond =
    "CIEA=CIE-A\nCONA=0 45 90 135 180\n0 100 90 60 20 0\n90 100 80 50 10 0\n180 100 70 40 5 0\n";
constexpr const char *kCIBSE =
    "CIBSE/1\nline 1\nline 2\nline 3\nline 4\nline 5\nline 6\nline 7\n1 1 0 0 0 0 1000 0 0\n5 3\n"
    "0 45 90 135 180\n0 90 180\n100 90 60 20 0\n100 80 50 10 0\n100 70 40 5 0\n";

bool PhotometryFailure(VtStatus status) { return status == 0x40000006u || CarriesMemoryBit(status); }

std::string Write(const vo_test::TempDir &files, const std::string &name, const char *text) {
  const std::string path = files.File(name);
  std::ofstream(path) << text;
  return path;
}

TEST(LuminaireFilesSweep, AFailedReadAnswersTheMemoryConditionAndLeavesNoDistribution) {
  ASSERT_EQ(VoInitialise(), 0u);
  vo_test::TempDir files;
  // The CIE file names its data file by a plain name, looked for beside it.
  const std::string cie = Write(files, "first.cie", kCIEFirst);
  const std::string data = std::filesystem::path(cie).parent_path() / "data.cia";
  std::ofstream(data) << kCIESecond;
  VtPhotometricRecord *record = VoPhotometricRecordCreate();
  ASSERT_NE(record, nullptr);
  const float from[3] = {0, 0, 2}, to[3] = {0, 0, 0};
  for (const auto &file : {std::pair<std::string, std::string>{"IES", Write(files, "l.ies", kIES)},
                           {"CIE", cie},
                           {"CIBSE", Write(files, "l.cib", kCIBSE)}}) {
    const std::string &layout = file.first, &path = file.second;
    float colour[3] = {};
    SweptCall read;
    read.name = "VoPhotometricRecordLoad (" + layout + ")";
    read.call = [&] { return VoPhotometricRecordLoad(record, path.c_str(), from, to, nullptr, colour); };
    read.outcome = [&] {
      std::string text = std::to_string(record->sampleCount) + ":";
      for (uint32_t i = 0; record->distribution != nullptr && i < record->sampleCount; ++i)
        text += std::to_string(record->distribution[i]) + " ";
      for (float c : colour) text += std::to_string(c) + " ";
      return text;
    };
    read.after_failure = [&] { EXPECT_EQ(record->distribution, nullptr) << layout; };
    read.accepts = PhotometryFailure;
    read.exemption = "the photometry readers answer 0x40000006 when memory runs out";
    EXPECT_GT(SweepAllocationFailures(read).runs, 0u) << layout;
  }
  EXPECT_EQ(VoPhotometricRecordDestroy(record), 0u);
  std::remove(data.c_str());
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
}  // namespace vo::test
