// The luminaire readers: one distribution in every layout gives one grid;
// lines of every ending and length; the statuses of refused files.

#include <cstdio>
#include <fstream>
#include <limits>
#include <thread>

#include "photo_fixture.h"

namespace vo::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Replaced(std::string s, const std::string &from, const std::string &to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
  return s;
}

TEST_F(PhotometryTest, EveryLayoutOfOneDistributionGivesTheSameGrid) {
  ASSERT_EQ(Read(IES1995()), 0u);
  const std::vector<float> expected = Grid();
  // Planes 0, 90, 180 by 90: a half circle folded into 0 to 360, five
  // columns of five samples.
  EXPECT_EQ(record_->horizontalCount, 5u);
  EXPECT_EQ(record_->verticalCount, 5u);
  EXPECT_FLOAT_EQ(record_->power, 1000.0f);
  for (const Luminaire &l : EveryLayout()) {
    SCOPED_TRACE(l.name);
    ASSERT_EQ(Read(l), 0u);
    EXPECT_EQ(Grid(), expected);
    EXPECT_FLOAT_EQ(record_->power, 1000.0f);
  }
  EXPECT_EQ(vo_test::Recorded().size(), 0u);
}

TEST_F(PhotometryTest, DetectionKnowsTheLayoutsByTheirFirstLineThatIsNotBlank) {
  const std::pair<std::string, int> cases[] = {
      {IES1995(), kFormatIES},       {"\n  \t\n" + IES1991(), kFormatIES},
      {IES2002(), kFormatUnknown},   {CIEIncluded(), kFormatCIE},
      {CIBSE(), kFormatCIBSE},       {"", kFormatUnknown},
      {"IESNA91x\n", kFormatUnknown}};
  for (const auto &[text, format] : cases) {
    LuminaireSource source(text.data(), text.size(), "detect");
    EXPECT_EQ(VoPhotometryDetectFormat(source), format) << text;
  }
}

TEST_F(PhotometryTest, ReadsOnSeveralThreadsShareNothing) {
  ASSERT_EQ(Read(CIEFirst(), CIESecond()), 0u);
  const std::vector<float> expected = Grid();
  std::vector<std::thread> threads;
  std::vector<int> differing(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      const Luminaire l = EveryLayout()[static_cast<size_t>(t) + 2];
      for (int i = 0; i < 40; ++i) {
        VtPhotometricRecord *r = VoPhotometricRecordCreate();
        LuminaireSource source(l.first.data(), l.first.size(), "thread");
        std::string second = l.second;
        const VtStatus s = VoPhotometryReadSource(r, source, &SecondText, &second, nullptr, nullptr);
        differing[static_cast<size_t>(t)] +=
            s != 0 || std::vector<float>(r->distribution, r->distribution + r->sampleCount) != expected;
        VoPhotometricRecordDestroy(r);
      }
    });
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(differing, std::vector<int>(4, 0));
}

TEST_F(PhotometryTest, IsotropicFilesOfTypesABAndTurnedCHaveTheirFluxEverywhere) {
  // 100 cd in every direction: flux 400 pi, the poles the file's value.
  // Types A, B and turned C reach the file through type A's angles: vertical
  // from -90 to 90.
  const std::string a = "IESNA91\nTILT=NONE\n1 -1 1 3 3 3 2 0 0 0\n1 1 0\n-90 0 90\n-90 0 90\n" +
                        std::string("100 100 100\n100 100 100\n100 100 100\n");
  const std::string b = Replaced(a, "3 3 3 2", "3 3 2 2");
  const std::string c = "CIBSE/1\n1\n2\n3\n4\n5\n6\n7\n1 2 0 0 0 0 -1 0 0 3 3\n-90 0 90\n0 90 180\n" +
                        std::string("100 100 100\n100 100 100\n100 100 100\n");
  for (const std::string &file : {a, b, c}) {
    ASSERT_EQ(Read(file), 0u) << file;
    EXPECT_NEAR(record_->power, 400 * kPi, 0.01);
    for (const float g : Grid()) ASSERT_FALSE(std::isnan(g));
    const float at[] = {0, 0, 0}, up[] = {0, 0, 1}, down[] = {0, 0, -1}, side[] = {1, 0, 0};
    EXPECT_NEAR(VoPhotometricRecordIntensity(record_, at, up), 1.0, 1e-6);
    EXPECT_NEAR(VoPhotometricRecordIntensity(record_, at, down), 1.0, 1e-6);
    EXPECT_NEAR(VoPhotometricRecordIntensity(record_, at, side), 1.0, 1e-6);
  }
}

TEST_F(PhotometryTest, LinesReadAlikeWhateverTheirEndsAndLengths) {
  ASSERT_EQ(Read(IES1995()), 0u);
  const std::vector<float> expected = Grid();
  for (const char *end : {"\r", "\r\n", "\n\r"}) {
    ASSERT_EQ(Read(Replaced(IES1995(), "\n", end)), 0u);
    EXPECT_EQ(Grid(), expected);
  }
  // Lines of 300 characters come as 255 and 45; 255 and a line end is one
  // line; a number across the cut reads whole.
  const std::string text =
      std::string(300, 'x') + "\n" + std::string(255, 'y') + "\nnext\n" + std::string(252, ' ') + "12345 6\n";
  LuminaireSource source(text.data(), text.size(), "lines");
  photo::LuminaireReader r(source, nullptr, nullptr);
  ASSERT_TRUE(r.NextLine());
  EXPECT_EQ(r.Rest().size(), 255u);
  EXPECT_TRUE(r.PieceStartsLine());
  for (int i = 0; i < 256; ++i) r.Char();
  EXPECT_EQ(r.Rest().size(), 44u);  // the 45 after the first taken
  EXPECT_FALSE(r.PieceStartsLine());
  ASSERT_TRUE(r.NextLine());
  EXPECT_EQ(r.Rest(), std::string(255, 'y'));
  EXPECT_EQ(r.LineNumber(), 2u);
  ASSERT_TRUE(r.NextLine());
  EXPECT_EQ(r.Rest(), "next");
  EXPECT_EQ(r.LineNumber(), 3u);
  ASSERT_TRUE(r.NextLine());
  std::string_view t;
  ASSERT_TRUE(r.Token(&t));
  EXPECT_EQ(t, "12345");
  ASSERT_TRUE(r.Token(&t));
  EXPECT_EQ(t, "6");
  EXPECT_FALSE(r.Token(&t));
  EXPECT_FALSE(r.NextLine());

  // A CIE plane line cut inside a number is still one line.
  const std::string cie = Replaced(CIEIncluded(), "\n90 100", "\n90" + std::string(248, ' ') + "100");
  ASSERT_EQ(Read(cie), 0u);
  EXPECT_EQ(Grid(), expected);
}

TEST_F(PhotometryTest, TiltDataSpanningLinesAndEqualPlanesReadAsTheirLayoutSays) {
  ASSERT_EQ(Read(IES1995()), 0u);
  const std::vector<float> expected = Grid();
  // Tilt angles and factors over three lines, then the header numbers.
  ASSERT_EQ(Read(Replaced(IES1995(), "TILT=NONE\n", "TILT=INCLUDE\n1\n3\n0 45\n90 1.0 0.9\n0.8\n")), 0u);
  EXPECT_EQ(Grid(), expected);
  // A tilt file's name is passed over.
  ASSERT_EQ(Read(Replaced(IES1995(), "TILT=NONE", "TILT=/some/tilt.dat")), 0u);
  EXPECT_EQ(Grid(), expected);
  // A header-less file that begins with its tilt line.
  ASSERT_EQ(Read(kIESBody), 0u);
  EXPECT_EQ(Grid(), expected);

  // Two equal horizontal angles: one plane, and nothing after it is read.
  ASSERT_EQ(Read("IESNA91\nTILT=NONE\n1 -1 1 3 2 1 2 0 0 0\n1 1 0\n0 90 180\n0 0\n100 100 100\nnot read\n"),
            0u);
  EXPECT_EQ(record_->horizontalCount, 1u);
  EXPECT_NEAR(record_->power, 400 * kPi, 1e-3);
}

TEST_F(PhotometryTest, RefusedFilesAnswerTheirStatusAndKeepNoDistribution) {
  struct Case {
    const char *what;
    std::string first, second;
    VtStatus status;
    uint32_t message = 0;  // when not the one the status goes with
  };
  const std::string ies = IES1995();
  const Case cases[] = {
      {"end inside the values", ies.substr(0, ies.size() - 6), "", 0x40000002},
      {"end inside the header numbers", ies.substr(0, ies.find("1.0 1.0")), "", 0x40000002},
      {"no TILT=", Replaced(ies, "TILT=", "TILT "), "", 0x40000002},
      {"empty", "", "", 0x40000002},
      {"IES type 4", Replaced(ies, "5 3 1 2", "5 3 4 2"), "", 258},
      {"CIBSE type 3", CIBSE(3), "", 258},
      {"no CIEA=CIE-A", CIEFirst(), kCIEData, 0x40000002},
      {"PTYP D", Replaced(CIEIncluded(), "PTYP=C", "PTYP=D"), "", 0x40000002},
      {"a keyword without value", Replaced(CIEIncluded(), "TOLU=1000", "TOLU="), "", 0x40000002},
      {"a short CONA", Replaced(CIEIncluded(), "CONA=0 45", "CONA=0"), "", 0x40000002},
      {"a short plane", Replaced(CIEIncluded(), "90 100 80 50 10 0", "90 100 80"), "", 0x40000002},
      {"an empty plane line", Replaced(CIEIncluded(), "\n90 100", "\n\n90 100"), "", 0x40000002},
      {"negative count", Replaced(ies, "5 3 1 2", "-5 3 1 2"), "", 0x40000002},
      {"a count above 10000", Replaced(ies, "5 3 1 2", "10001 3 1 2"), "", 0x40000002,
       messages::kPhotometryLimitRefused},
      {"too many values", Replaced(ies, "5 3 1 2", "9000 9000 1 2"), "", 0x40000002,
       messages::kPhotometryLimitRefused},
      {"decreasing angles", Replaced(ies, "0 45 90 135 180", "0 90 45 135 180"), "", 0x40000002},
      {"angles 1e-6 apart", Replaced(ies, "0 45 90 135 180", "0 0.000001 90 135 180"), "", 0x40000002,
       messages::kPhotometryLimitRefused},
      {"one vertical angle",
       Replaced(Replaced(ies, "5 3 1 2", "1 3 1 2"), "0 45 90 135 180\n0 90 180\n", "0\n0 90 180\n"), "",
       0x40000002},
      {"all zero",
       Replaced(Replaced(Replaced(ies, "100 90 60 20", "0 0 0 0"), "100 80 50 10", "0 0 0 0"), "100 70 40 5",
                "0 0 0 0"),
       "", 0x40000002},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Read(IES1995()), 0u);
    vo_test::Recorded().clear();
    EXPECT_EQ(Read(c.first, c.second), c.status);
    EXPECT_EQ(record_->distribution, nullptr);
    EXPECT_EQ(record_->sampleCount, 0u);
    const uint32_t message = c.message != 0    ? c.message
                             : c.status == 258 ? messages::kPhotometryTypeRefused
                                               : messages::kPhotometryFileRefused;
    ASSERT_EQ(Posted(message), 1);
    EXPECT_STREQ(vo_test::WithMessage(message)[0].strings[0].c_str(), c.second.empty() ? "first" : "second");
  }
}

// Each fixed limit of a luminaire file refuses with message 2535 naming
// what is counted, the value met and the limit, at the line it was met.
TEST_F(PhotometryTest, FilesPastAFixedLimitNameTheValueMetAndTheLimit) {
  struct Case {
    const char *what;
    std::string file;
    double value, limit;
    uint32_t line;
  };
  const std::string ies = IES1995();  // the thirteen header numbers on lines 5 and 6
  // Angle steps of 1/16 degree: 1 + 180 * 16 = 2881 vertical and
  // 1 + 360 * 16 = 5761 horizontal samples, 16597441 in all.
  const std::string fine = "IESNA91\nTILT=NONE\n1 -1 1 3 3 1 2 0 0 0\n1 1 0\n0 0.0625 180\n0 0.0625 360\n" +
                           std::string("1 1 1\n1 1 1\n1 1 1\n");
  const Case cases[] = {
      {"vertical angles", Replaced(ies, "5 3 1 2", "10001 3 1 2"), 10001, 10000, 6},
      {"horizontal angles", Replaced(ies, "5 3 1 2", "5 20000 1 2"), 20000, 10000, 6},
      {"values", Replaced(ies, "5 3 1 2", "2001 2000 1 2"), 2001.0 * 2000, 4000000, 6},  // 4002000
      {"tilt entries", Replaced(ies, "TILT=NONE\n", "TILT=INCLUDE\n1 10001\n"), 10001, 10000, 5},
      {"vertical angles", "CIEF=CIE\nPTYP=C\nNCON=10001\nNPLA=1\nCONA=0\n", 10001, 10000, 5},
      {"grid samples", fine, 2881.0 * 5761, 4194304, 9},
      // A number past a float's range, which the record would hold as infinite.
      {"a value", Replaced(ies, "100 80 50 10 0", "100 80 1e39 10 0"), 1e39,
       std::numeric_limits<float>::max(), 10},
      {"a vertical angle", Replaced(ies, "0 45 90 135 180", "0 45 -4e38 135 180"), -4e38,
       std::numeric_limits<float>::max(), 7},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    vo_test::Recorded().clear();
    EXPECT_EQ(Read(c.file), 0x40000002u);
    EXPECT_EQ(record_->distribution, nullptr);
    const std::vector<vo_test::Diagnostic> d = vo_test::WithMessage(messages::kPhotometryLimitRefused);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].status, 0x40000002u);
    EXPECT_EQ(d[0].strings, (std::vector<std::string>{"first", c.what}));
    ASSERT_EQ(d[0].args.size(), 5u);
    EXPECT_EQ(d[0].args[1].value.u, c.line);
    EXPECT_EQ(d[0].args[3].value.d, c.value);
    EXPECT_EQ(d[0].args[4].value.d, c.limit);
    EXPECT_EQ(Posted(messages::kPhotometryFileRefused), 0);
  }
}

// "nan", "inf" and numbers past a double's range are refused wherever they
// stand, in every layout, with message 2534 naming the file and what was not
// finite; read as 0 they would make a plausible light of a broken file. A
// number below a double's smallest only reads as 0.
TEST_F(PhotometryTest, NumbersThatAreNotFiniteAreRefusedWhereverTheyStand) {
  struct Place {
    const char *what;
    std::string first, second;
    const char *from, *to;  // the text X replaces, in the first file or else the second
    const char *file;
  };
  const std::string ies = IES1995(), cie = CIEIncluded(), cibse = CIBSE();
  const std::string tilted = Replaced(ies, "TILT=NONE\n", "TILT=INCLUDE\n1 2\n0 90\n1 1\n");
  const Place places[] = {
      {"a header number", ies, "", "1 1000 1 5", "1 X 1 5", "first"},
      {"the tilt data", tilted, "", "\n1 1\n", "\n1 X\n", "first"},
      {"a vertical angle", ies, "", "0 45 90 135 180", "0 45 X 135 180", "first"},
      {"a horizontal angle", ies, "", "\n0 90 180\n", "\n0 X 180\n", "first"},
      {"a value", ies, "", "100 80 50 10 0", "100 80 X 10 0", "first"},
      {"TOLU", cie, "", "TOLU=1000", "TOLU=X", "first"},
      {"NCON", cie, "", "NCON=5", "NCON=X", "first"},
      {"NPLA", cie, "", "NPLA=3", "NPLA=X", "first"},
      {"a cone angle", cie, "", "CONA=0 45", "CONA=X 45", "first"},
      {"a cone angle", cie, "", "CONA=0 45", "CONA=0 X", "first"},
      {"a plane angle", cie, "", "\n90 100 80", "\nX 100 80", "first"},
      {"a value", cie, "", "90 100 80 50", "90 100 80 X", "first"},
      {"a value", CIEFirst(), CIESecond(), "180 100 70", "180 X 70", "second"},
      {"a header number", cibse, "", " 1000 0 0", " X 0 0", "first"},
      {"a vertical angle", cibse, "", "0 45 90 135 180", "0 45 X 135 180", "first"},
      {"a value", cibse, "", "100 70 40 5 0", "100 70 X 5 0", "first"},
  };
  for (const Place &p : places) {
    for (const char *x : {"nan", "inf", "-inf", "+inf", "infinity", "1e999", "-1e999", "0.00001e400"}) {
      SCOPED_TRACE(std::string(p.what) + " " + p.to + " with " + x);
      const std::string with = Replaced(p.to, "X", x);
      const std::string first = p.second.empty() ? Replaced(p.first, p.from, with) : p.first;
      const std::string second = p.second.empty() ? p.second : Replaced(p.second, p.from, with);
      ASSERT_NE(first + second, p.first + p.second);
      vo_test::Recorded().clear();
      EXPECT_EQ(Read(first, second), 0x40000002u);
      EXPECT_EQ(record_->distribution, nullptr);
      ASSERT_EQ(Posted(messages::kPhotometryNotFinite), 1);
      EXPECT_EQ(Posted(messages::kPhotometryFileRefused), 0);
      const vo_test::Diagnostic d = vo_test::WithMessage(messages::kPhotometryNotFinite)[0];
      EXPECT_EQ(d.status, 0x40000002u);
      ASSERT_EQ(d.strings.size(), 2u);
      EXPECT_EQ(d.strings[0], p.file);
      EXPECT_EQ(d.strings[1], p.what);
    }
  }
  // Too small rather than too large: 1e-999 and 0.001e-330 read as 0, and
  // the file loads as with a 0 there.
  ASSERT_EQ(Read(Replaced(ies, "100 80 50 10 0", "100 80 50 0 0")), 0u);
  const std::vector<float> zero = Grid();
  for (const char *tiny : {"1e-999", "0.001e-330", "-1e-999"}) {
    SCOPED_TRACE(tiny);
    ASSERT_EQ(Read(Replaced(ies, "100 80 50 10 0", std::string("100 80 50 ") + tiny + " 0")), 0u);
    EXPECT_EQ(Grid(), zero);
  }
}

TEST_F(PhotometryTest, FilesOnDiskAndThePhotFileBesideThem) {
  vo_test::TempDir dir;
  std::ofstream(dir.File("first.cie")) << CIEFirst();
  std::ofstream(dir.File("data.cia")) << CIESecond();
  const float from[] = {0, 0, 3}, to[] = {0, 0, 0};
  float colour[3] = {0, 0, 0};
  EXPECT_EQ(VoPhotometricRecordLoad(record_, dir.File("first.cie").c_str(), from, to, nullptr, colour), 0u);
  EXPECT_EQ(record_->horizontalCount, 5u);
  EXPECT_EQ(colour[0], 1.0f);  // no temperature: white
  EXPECT_FLOAT_EQ(record_->colourScale, 1000.0f / 179.0f);
  // The PHOT file missing, the file missing, no name.
  std::remove(dir.File("data.cia").c_str());
  EXPECT_EQ(VoPhotometricRecordLoad(record_, dir.File("first.cie").c_str(), from, to, nullptr, nullptr),
            0x40000002u);
  EXPECT_EQ(record_->distribution, nullptr);
  vo_test::Recorded().clear();
  EXPECT_EQ(VoPhotometricRecordLoad(record_, dir.File("none.ies").c_str(), from, to, nullptr, nullptr),
            0x40000002u);
  ASSERT_EQ(Posted(messages::kPhotometryFileRefused), 1);
  EXPECT_EQ(vo_test::WithMessage(messages::kPhotometryFileRefused)[0].strings[0], dir.File("none.ies"));
  EXPECT_EQ(VoPhotometricRecordLoad(record_, nullptr, from, to, nullptr, nullptr), 0x40000012u);
  EXPECT_EQ(VoPhotometricRecordLoad(nullptr, "x", from, to, nullptr, nullptr), 0x40000012u);
}

}  // namespace
}  // namespace vo::test
