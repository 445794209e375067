// Photometric records: flux against hand integration, power, intensity
// toward points around an oriented luminaire, lamp types, and the colour
// of a lamp.

#include <numbers>

#include "photo_fixture.h"

namespace vo::test {
namespace {

constexpr double kPi = std::numbers::pi;

// A type C IES file of one or more planes with lumens per lamp and lamps.
std::string TypeC(const char *vertical, const char *horizontal, const char *values, int lamps = 1,
                  double lumens = -1, int nv = 3, int nh = 1) {
  return "IESNA91\nTILT=NONE\n" + std::to_string(lamps) + " " + std::to_string(lumens) + " 1 " +
         std::to_string(nv) + " " + std::to_string(nh) + " 1 2 0 0 0\n1 1 0\n" + vertical + "\n" +
         horizontal + "\n" + values + "\n";
}

TEST_F(PhotometryTest, FluxAndPowerAgreeWithHandIntegration) {
  // One plane of 100 cd at 0, 90, 180: pi * (1 * 200 + 1 * 200) = 400 pi.
  ASSERT_EQ(Read(TypeC("0 90 180", "0", "100 100 100")), 0u);
  EXPECT_NEAR(record_->power, 400 * kPi, 1e-3);
  EXPECT_EQ(record_->horizontalCount, 1u);
  EXPECT_EQ(record_->verticalCount, 3u);
  const float at[] = {0, 0, 0};
  for (const float p : {-3.0f, -1.0f, 0.5f, 2.0f}) {
    const float q[] = {p, 1.0f - p, p * p};
    EXPECT_NEAR(VoPhotometricRecordIntensity(record_, at, q), 1.0, 1e-6);
  }

  // Lambertian 100, 70.7107, 0 at 0, 45, 90: five samples (0 to 180 by 45),
  // those past 90 zero; pi * ((1 - cos 45) 170.7107 + cos 45 * 70.7107) = 100 pi.
  ASSERT_EQ(Read(TypeC("0 45 90", "0", "100 70.7107 0")), 0u);
  ASSERT_EQ(record_->verticalCount, 5u);
  EXPECT_EQ(record_->distribution[3], 0.0f);
  EXPECT_EQ(record_->distribution[4], 0.0f);
  EXPECT_NEAR(record_->power / (100 * kPi), 1.0, 1e-5);
  EXPECT_NEAR(record_->verticalStep, kPi / 4, 1e-7);
  EXPECT_EQ(record_->horizontalStep, -1.0f);

  // Two lamps of 1000 lm: the file's power, not the flux.
  ASSERT_EQ(Read(TypeC("0 45 90", "0", "100 70.7107 0", 2, 1000)), 0u);
  EXPECT_FLOAT_EQ(record_->power, 2000.0f);
  // A record that has a power keeps it.
  ASSERT_EQ(ReadKeepingPower(TypeC("0 45 90", "0", "100 70.7107 0", 2, 5)), 0u);
  EXPECT_FLOAT_EQ(record_->power, 2000.0f);
}

TEST_F(PhotometryTest, IntensityFollowsAzimuthAndPolarAngleAroundTheAim) {
  // Planes 0 and 90 (a quadrant) at 0, 90, 180: corners of each 90 x 90
  // cell, 0.25 * pi / 2 * (4 * 350 + 4 * 150) = 250 pi.
  const float from[] = {0, 0, 2}, to[] = {0, 0, 0};
  ASSERT_EQ(Read(TypeC("0 90 180", "0 90", "100 100 0 100 50 0", 1, -1, 3, 2), "", from, to), 0u);
  EXPECT_NEAR(record_->power, 250 * kPi, 1e-3);
  EXPECT_EQ(record_->horizontalCount, 5u);
  const auto at = [&](float x, float y, float z) {
    const float p[] = {x, y, z};
    return VoPhotometricRecordIntensity(record_, from, p);
  };
  // The light is aimed down; (2, 0, 0) is 45 degrees off the aim in plane
  // 0: (100 + 100) / 2 / 100 = 1; in plane 90 (100 + 50) / 2 / 100 = 0.75;
  // half way between the planes 0.875.
  EXPECT_NEAR(at(2, 0, 0), 1.0, 1e-6);
  EXPECT_NEAR(at(-2, 0, 0), 1.0, 1e-6);
  EXPECT_NEAR(at(0, 2, 0), 0.75, 1e-6);
  EXPECT_NEAR(at(0, -2, 0), 0.75, 1e-6);
  EXPECT_NEAR(at(std::sqrt(2.0f), std::sqrt(2.0f), 0), 0.875, 1e-6);
  EXPECT_NEAR(at(0, 0, -5), 1.0, 1e-6);
  EXPECT_NEAR(at(0, 0, 7), 0.0, 1e-6);
  const double a30 = at(2 * std::cos(kPi / 6), 2 * std::sin(kPi / 6), 0);
  for (const double deg : {150.0, 210.0, 330.0}) {
    const double r = deg * kPi / 180;
    EXPECT_NEAR(at(2 * std::cos(r), 2 * std::sin(r), 0), a30, 1e-6) << deg;
  }
  // At the luminaire, or for a point of non-finite coordinates: nothing.
  EXPECT_EQ(at(0, 0, 2), 0.0);
  EXPECT_EQ(at(NAN, 0, 0), 0.0);
}

TEST_F(PhotometryTest, AimsFallBackAndLookUpsStayInsideTheGrid) {
  // from = to: the aim (0, 0, 1), so the light runs down -z.
  const float same[] = {1, 1, 1};
  ASSERT_EQ(Read(TypeC("0 45 90", "0", "100 70.7107 0"), "", same, same), 0u);
  EXPECT_EQ(record_->aim[0], 0.0f);
  EXPECT_EQ(record_->aim[2], 1.0f);
  const float below[] = {1, 1, -3}, above[] = {1, 1, 4};
  EXPECT_NEAR(VoPhotometricRecordIntensity(record_, same, below), 1.0, 1e-6);
  EXPECT_EQ(VoPhotometricRecordIntensity(record_, same, above), 0.0);
  // SetAim of a zero vector keeps the aim; another is normalised.
  const float zero[] = {0, 0, 0}, tilted[] = {3, 0, 4};
  EXPECT_EQ(VoPhotometricRecordSetAim(record_, zero), 0u);
  EXPECT_EQ(record_->aim[2], 1.0f);
  EXPECT_EQ(VoPhotometricRecordSetAim(record_, tilted), 0u);
  EXPECT_FLOAT_EQ(record_->aim[0], 0.6f);

  // Planes 0 to 350 by 35: the grid's last column is 350, and directions
  // past it hold the last value instead of running away (nor below 0).
  std::string planes, values;
  for (int i = 0; i <= 10; ++i) {
    planes += std::to_string(35 * i) + " ";
    values += std::to_string(10 + 10 * i) + " " + std::to_string(10 + 10 * i) + " ";
  }
  ASSERT_EQ(Read(TypeC("0 180", planes.c_str(), values.c_str(), 1, -1, 2, 11), "", nullptr, nullptr), 0u);
  EXPECT_EQ(record_->horizontalCount, 11u);  // 1 + trunc(360 / 35)
  const float from[] = {0, 0, 0};
  for (double deg = 340; deg < 360; deg += 2.5) {
    const float p[] = {static_cast<float>(std::cos(deg * kPi / 180)),
                       static_cast<float>(std::sin(deg * kPi / 180)), 0};
    const double i = VoPhotometricRecordIntensity(record_, from, p);
    EXPECT_GE(i, 0.0);
    EXPECT_LE(i, 1.0 + 1e-6) << deg;
  }
}

TEST_F(PhotometryTest, LampTypesSetTheirTemperatureAndRefuseUnknownCodes) {
  EXPECT_EQ(VoPhotometricRecordSetColourTemperature(record_, 5000), 0u);
  EXPECT_EQ(VoPhotometricRecordSetLampType(record_, 10), VO_STATUS_UNKNOWN_CODE);
  EXPECT_EQ(VoPhotometricRecordGetColourTemperature(record_), 5000.0f);
  EXPECT_EQ(VoPhotometricRecordGetLampType(record_), 0);
  EXPECT_EQ(Posted(messages::kPhotometryRecordRefused), 1);
  EXPECT_EQ(VoPhotometricRecordSetLampType(record_, VO_LAMP_IMPROVED_COLOUR_MERCURY), 0u);
  EXPECT_EQ(VoPhotometricRecordGetColourTemperature(record_), 4430.0f);
  EXPECT_EQ(VoPhotometricRecordSetLampType(record_, 0), 0u);
  EXPECT_EQ(VoPhotometricRecordGetLampType(record_), 0);
  EXPECT_EQ(VoPhotometricRecordGetColourTemperature(record_), 4430.0f);
  // The defaults.
  EXPECT_EQ(VoPhotometricRecordGetPowerUnits(record_), VO_PHOTOMETRY_LUMENS);
  float zero[3];
  EXPECT_EQ(VoPhotometricRecordGetEquatorZero(record_, zero), 0u);
  EXPECT_EQ(zero[0], 1.0f);
  EXPECT_EQ(zero[1], 0.0f);
  EXPECT_EQ(zero[2], 1.0f);
  EXPECT_EQ(record_->azimuthPlane1[1], 1.0f);
  EXPECT_EQ(record_->azimuthPlane2[0], 1.0f);
}

TEST(PhotometryColour, TheObserverTableIsTheCie1931TwoDegreeObserver) {
  // Equal-energy white has chromaticity (1/3, 1/3): the three columns sum
  // alike (21.371 each at 5 nm); y-bar peaks at 1 at 555 nm.
  double sum[3] = {0, 0, 0};
  for (int row = 0; row < 81; ++row)
    for (int k = 0; k < 3; ++k) sum[k] += photo::Observer()[row][k];
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(sum[k], 21.371, 0.006) << k;
  EXPECT_EQ(photo::Observer()[35][1], 1.0);
}

TEST(PhotometryColour, TemperaturesGiveBlackBodyColoursInsideTheCube) {
  vo_test::Kernel kernel;
  float c[3];
  ASSERT_EQ(VoPhotometryColourFromTemperature(6500, nullptr, c), 1);
  EXPECT_NEAR(c[0], 0.334, 0.002);
  EXPECT_NEAR(c[1], 0.318, 0.002);
  EXPECT_NEAR(c[2], 0.336, 0.002);
  // 1000 K is (1.393, -0.032, -0.022) before the pull into the cube, mean
  // 0.4463; the red reaches 0.9999 and the mean stays.
  ASSERT_EQ(VoPhotometryColourFromTemperature(1000, nullptr, c), 1);
  EXPECT_NEAR(std::max({c[0], c[1], c[2]}), 0.9999, 1e-5);
  EXPECT_NEAR((c[0] + c[1] + c[2]) / 3, (1.393 - 0.032 - 0.022) / 3, 0.002);
  EXPECT_GE(std::min({c[0], c[1], c[2]}), 0.0f);
  // Below 150 K: the filter, or white.
  const float filter[] = {0.2f, 0.4f, 0.6f};
  ASSERT_EQ(VoPhotometryColourFromTemperature(149, filter, c), 1);
  EXPECT_EQ(c[1], 0.4f);
  ASSERT_EQ(VoPhotometryColourFromTemperature(0, nullptr, c), 1);
  EXPECT_EQ(c[0] + c[1] + c[2], 3.0f);
  // Above 50000 K: warning 633 (60000, 50000), and the colour of 50000 K.
  float hot[3];
  ASSERT_EQ(VoPhotometryColourFromTemperature(50000, nullptr, hot), 1);
  vo_test::Recorded().clear();
  ASSERT_EQ(VoPhotometryColourFromTemperature(60000, nullptr, c), 1);
  const auto warned = vo_test::WithMessage(633);
  ASSERT_EQ(warned.size(), 1u);
  EXPECT_EQ(warned[0].status, VO_CLASS_WARNING);
  EXPECT_EQ(warned[0].module, 66u);
  ASSERT_EQ(warned[0].args.size(), 2u);
  EXPECT_EQ(warned[0].args[0].value.d, 60000.0);
  EXPECT_EQ(warned[0].args[1].value.d, 50000.0);
  EXPECT_EQ(c[0], hot[0]);
  EXPECT_EQ(c[2], hot[2]);
  // A filter outside the cube gives no colour, and a load then 0x40000006.
  const float bad[] = {1.2f, 0.5f, 0.5f};
  c[0] = -7;
  EXPECT_EQ(VoPhotometryColourFromTemperature(3000, bad, c), 0);
  EXPECT_EQ(c[0], -7.0f);
  VtPhotometricRecord *r = VoPhotometricRecordCreate();
  const std::string file = IES1995();
  LuminaireSource source(file.data(), file.size(), "x");
  EXPECT_EQ(VoPhotometricRecordLoadSource(r, source, nullptr, nullptr, nullptr, nullptr, bad, nullptr),
            VO_STATUS_ERROR_NO_MEMORY);
  VoPhotometricRecordDestroy(r);
}

TEST(PhotometryColour, LuminanceScalesColoursAndRefusesWhatCannotBeScaled) {
  vo_test::Kernel kernel;
  const float white[] = {1, 1, 1}, black[] = {0, 0, 0}, over[] = {1.5f, 0, 0};
  EXPECT_DOUBLE_EQ(VoPhotometryLuminance(white), 179.0);  // 47.1 + 117.2 + 14.7
  float c[3];
  EXPECT_EQ(VoPhotometryColourFromLuminance(179, nullptr, c), 0u);
  EXPECT_FLOAT_EQ(c[0], 1.0f);
  EXPECT_FLOAT_EQ(c[2], 1.0f);
  EXPECT_EQ(VoPhotometryColourFromLuminance(-1, white, c), 0u);
  EXPECT_EQ(c[1], 0.0f);
  EXPECT_EQ(VoPhotometryColourFromLuminance(100, black, c), VO_STATUS_UNKNOWN_CODE);
  EXPECT_EQ(c[0] + c[1] + c[2], 0.0f);
  EXPECT_EQ(VoPhotometryColourFromLuminance(100, over, c), VO_STATUS_UNKNOWN_CODE);
  EXPECT_EQ(vo_test::WithMessage(messages::kPhotometryColourRefused).size(), 2u);
}

TEST(PhotometryColour, ColoursNeedNoModuleStateNorKernel) {
  // The pro library may run with module 66 stopped, or before any start.
  float c[3];
  EXPECT_EQ(VoPhotometryColourFromTemperature(3000, nullptr, c), 1);
  EXPECT_GT(c[0], c[2]);
}

}  // namespace
}  // namespace vo::test
