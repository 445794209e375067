// The DirectX version check under the layer's settings, and VoD3DInfo's
// pairs of texts. After every check no interface is alive and no library is
// loaded.
#include <string>
#include <utility>
#include <vector>

#include "d3d_fixture.h"

namespace vo::test {
namespace {

using platform::LayerSettings;
using Pairs = std::vector<std::pair<std::string, std::string>>;

void Collect(void *user, const char *name, const char *value) {
  static_cast<Pairs *>(user)->emplace_back(name, value);
}

void ExpectNothingHeld() {
  for (platform::LiveKind k :
       {platform::LiveKind::Library, platform::LiveKind::DirectDraw, platform::LiveKind::Surface})
    EXPECT_EQ(platform::LiveCountGet(k), 0) << "live kind " << static_cast<int>(k);
}

TEST_F(D3DTest, TheVersionCheckStopsAtTheFirstMissingPieceAndHoldsNothingAfter) {
  struct Case {
    const char *what;
    void (*set)(LayerSettings &);
    uint32_t version;
  };
  const Case cases[] = {
      {"no DDRAW", [](LayerSettings &s) { s.ddraw_present = false; }, 0},
      {"no DirectDrawCreate", [](LayerSettings &s) { s.ddraw_create_present = false; }, 0},
      {"no DirectDraw2", [](LayerSettings &s) { s.offer_ddraw2 = false; }, 0x100},
      {"no DINPUT",
       [](LayerSettings &s) {
         s.dinput_present = false;
         s.offer_surface4 = true;
       },
       0x200},
      {"primary refused",
       [](LayerSettings &s) {
         s.fail_kind = platform::CallKind::CreateSurface;
         s.fail_at = 1;
       },
       0},
      {"no Surface3", [](LayerSettings &s) { s.offer_surface3 = false; }, 0x300},
      {"default", [](LayerSettings &) {}, 0x500},
      {"Surface4", [](LayerSettings &s) { s.offer_surface4 = true; }, 0x600},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    platform::SettingsReset();
    c.set(platform::Settings());
    VtD3DDeviceIdentifier id;
    std::memset(&id, 0xAB, sizeof id);
    uint32_t platform_id = 99;
    EXPECT_EQ(VoD3DGetDXVersion(&platform_id, &id), c.version);
    EXPECT_EQ(platform_id, platform::kPlatformOurs);
    ExpectNothingHeld();
    // Without DirectDraw4 a version of 0x600 leaves a zeroed identifier.
    if (c.version == 0x600) {
      EXPECT_EQ(id.driver[0] | id.description[100] | id.vendor_id | id.guid_data4[7], 0);
    }
    if (c.version < 0x600) {
      EXPECT_EQ(static_cast<uint8_t>(id.driver[0]), 0xAB);
    }
  }
  platform::SettingsReset();
  platform::Settings().version_fails = true;
  uint32_t platform_id = 99;
  VtD3DDeviceIdentifier id{};
  EXPECT_EQ(VoD3DGetDXVersion(&platform_id, &id), 0u);
  EXPECT_EQ(platform_id, 0u);
  ExpectNothingHeld();
}

TEST_F(D3DTest, DirectDraw4GivesTheIdentifierAndANullRecordIsLeftAlone) {
  platform::Settings().offer_surface4 = platform::Settings().offer_ddraw4 = true;
  VtD3DDeviceIdentifier id{};
  uint32_t platform_id = 0;
  EXPECT_EQ(VoD3DGetDXVersion(&platform_id, &id), 0x600u);
  EXPECT_STREQ(id.driver, "vodesktop");
  EXPECT_EQ(id.driver_version_high, 0x00020000u);
  EXPECT_EQ(VoD3DGetDXVersion(&platform_id, nullptr), 0x600u);
  ExpectNothingHeld();
}

TEST_F(D3DTest, InfoGivesTwoPairsOnDirectX5AndTheIdentifierFromVersion6) {
  Pairs pairs;
  EXPECT_EQ(VoD3DInfo(&pairs, &Collect), 0u);
  EXPECT_EQ(pairs, (Pairs{{"DXPlatform", "Unknown"}, {"DXVersion", "0500"}}));

  platform::Settings().offer_surface4 = platform::Settings().offer_ddraw4 = true;
  platform::Settings().platform_id = 2;
  pairs.clear();
  EXPECT_EQ(VoD3DInfo(&pairs, &Collect), 0u);
  const Pairs expected = {{"DXPlatform", "Windows NT"}, {"DXVersion", "0600"},
                          {"szDriver", "vodesktop"},    {"szDescription", "mrvx20 software desktop"},
                          {"wProduct", "0002"},         {"wVersion", "0000"},
                          {"wSubVersion", "0000"},      {"wBuild", "002f"},
                          {"dwVendorId", "00000000"},   {"dwDeviceId", "00000000"},
                          {"dwSubSysId", "00000000"},   {"dwRevision", "00000000"},
                          {"dwData1", "0000"},          {"wData2", "0000"},
                          {"wData3", "0000"},           {"lpbData3[8]", "00 00 00 00 00 00 00 00 "}};
  EXPECT_EQ(pairs, expected);

  // Identifier texts with no zero in their 512 bytes are cut at 511.
  platform::Settings().identifier_texts_full = true;
  platform::Settings().platform_id = 1;
  pairs.clear();
  EXPECT_EQ(VoD3DInfo(&pairs, &Collect), 0u);
  ASSERT_EQ(pairs.size(), 16u);
  EXPECT_EQ(pairs[0].second, "Windows 9X");
  EXPECT_EQ(pairs[2].second, std::string(511, 'd'));
  EXPECT_EQ(pairs[3].second, std::string(511, 'e'));

  platform::Settings().version_fails = true;
  pairs.clear();
  EXPECT_EQ(VoD3DInfo(&pairs, &Collect), 0u);
  EXPECT_EQ(pairs, (Pairs{{"DXPlatform", "Unknown"}, {"DXVersion", "0000"}}));
  EXPECT_EQ(VoD3DInfo(nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  ExpectNothingHeld();
}

TEST_F(D3DTest, ThePlatformCodeFollowsThePlatformIdentifier) {
  const uint32_t codes[][2] = {{0, 8}, {1, 2}, {2, 1}, {platform::kPlatformOurs, 0}};
  for (const auto &c : codes) {
    platform::Settings().platform_id = c[0];
    EXPECT_EQ(d3d::PlatformCode(), c[1]) << c[0];
  }
  platform::Settings().version_fails = true;
  EXPECT_EQ(d3d::PlatformCode(), 0u);
  EXPECT_EQ(c_->platform_code, 0u);  // started on the layer's own platform
}

}  // namespace
}  // namespace vo::test
