// Opening files, the time value, the marshalling hook and the script data
// handle.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/test_support.h"

namespace {

using vo_test::Recorded;
using vo_test::WithMessage;

void WriteFile(const std::string &path, const char *text) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(text, f);
  std::fclose(f);
}

TEST(Files, ModesOpenAsTheirFlagsSay) {
  vo_test::Kernel kernel;
  vo_test::TempDir dir;
  const std::string path = dir.File("data.txt");
  WriteFile(path, "abcdef");

  // 0x21: read with update, so the stream can also write.
  auto *f = static_cast<std::FILE *>(vo::VoFileOpen(path.c_str(), 0x21));
  ASSERT_NE(f, nullptr);
  char head[4] = {};
  ASSERT_EQ(std::fread(head, 1, 3, f), 3u);
  EXPECT_STREQ(head, "abc");
  std::fseek(f, 0, SEEK_CUR);
  EXPECT_GE(std::fputs("XY", f), 0);
  EXPECT_EQ(vo::VoFileClose(f), 0u);

  // 1: read only; writing through it fails.
  f = static_cast<std::FILE *>(vo::VoFileOpen(path.c_str(), 1));
  ASSERT_NE(f, nullptr);
  char all[16] = {};
  std::fread(all, 1, sizeof all - 1, f);
  EXPECT_STREQ(all, "abcXYf");
  EXPECT_EQ(std::fputc('z', f), EOF);
  vo::VoFileClose(f);

  // 3: append; 2: write, which empties the file.
  f = static_cast<std::FILE *>(vo::VoFileOpen(path.c_str(), 3));
  ASSERT_NE(f, nullptr);
  std::fputs("!", f);
  vo::VoFileClose(f);
  f = static_cast<std::FILE *>(vo::VoFileOpen(path.c_str(), 1));
  std::memset(all, 0, sizeof all);
  std::fread(all, 1, sizeof all - 1, f);
  EXPECT_STREQ(all, "abcXYf!");
  vo::VoFileClose(f);
  f = static_cast<std::FILE *>(vo::VoFileOpen(path.c_str(), 2));
  ASSERT_NE(f, nullptr);
  vo::VoFileClose(f);
  f = static_cast<std::FILE *>(vo::VoFileOpen(path.c_str(), 1));
  EXPECT_EQ(std::fgetc(f), EOF);
  vo::VoFileClose(f);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ(vo::VoFileClose(nullptr), 0u);
}

TEST(Files, FailuresAreReportedUnlessQuiet) {
  vo_test::Kernel kernel;
  const std::string missing = "/nonexistent-vo-directory/file.txt";

  EXPECT_EQ(vo::VoFileOpen(missing.c_str(), 4), nullptr);
  EXPECT_EQ(vo::VoFileOpen(missing.c_str(), 0), nullptr);
  auto bad = WithMessage(365);
  ASSERT_EQ(bad.size(), 2u);
  EXPECT_EQ(bad[0].status, VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(bad[0].args.size(), 1u);
  EXPECT_EQ(bad[0].args[0].type, static_cast<uint32_t>(VtInt32));
  EXPECT_EQ(bad[0].args[0].value.i, 4);

  Recorded().clear();
  EXPECT_EQ(vo::VoFileOpen(missing.c_str(), 1), nullptr);
  EXPECT_EQ(vo::VoFileOpen(missing.c_str(), 2), nullptr);
  EXPECT_EQ(vo::VoFileOpen(missing.c_str(), 0x23), nullptr);
  ASSERT_EQ(Recorded().size(), 3u);
  const uint32_t messages[] = {362, 363, 364};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Recorded()[i].message, messages[i]);
    EXPECT_EQ(Recorded()[i].status, VO_STATUS_BAD_ARGUMENT);
    ASSERT_EQ(Recorded()[i].strings.size(), 1u);
    EXPECT_EQ(Recorded()[i].strings[0], missing);
  }

  Recorded().clear();
  EXPECT_EQ(vo::VoFileOpen(missing.c_str(), 0x12), nullptr);
  EXPECT_EQ(vo::VoFileOpen(missing.c_str(), 0x31), nullptr);
  EXPECT_EQ(vo::VoFileOpen(nullptr, 0x11), nullptr);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ(vo::VoFileOpen(nullptr, 1), nullptr);
  EXPECT_EQ(WithMessage(362).size(), 1u);
}

TEST(Files, NothingIsReportedWithoutARunningSystemModule) {
  EXPECT_EQ(vo::Kernel(), nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(vo::VoFileOpen("/nonexistent-vo-directory/x", 2), nullptr);
  EXPECT_EQ(vo::VoFileOpen("/nonexistent-vo-directory/x", 9), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Files, TimeValueIsWrittenThroughItsControl) {
  EXPECT_EQ(vo::VoTimeGet(), 0.0);
  vo_test::Kernel kernel;
  EXPECT_EQ(vo::VoTimeGet(), 0.0);
  VtTypedValue v{};
  ASSERT_EQ(vo::VoControlGet(VO_CONTROL_TIME_VALUE, &v), 0u);
  ASSERT_EQ(v.type, static_cast<uint32_t>(VtGenericPtr));
  *static_cast<double *>(v.value.p) = 12.25;
  EXPECT_EQ(vo::VoTimeGet(), 12.25);
}

TEST(Files, MarshallingPassesValuesOnceThePoolsExist) {
  int x = 0;
  void *out = &out;
  EXPECT_EQ(vo::VoMarshalValue(&x, &out), VO_STATUS_ERROR_BAD_ARGUMENT);
  ASSERT_EQ(vo::VoSystemInitialise(), 0u);
  // The first start makes no pools.
  EXPECT_EQ(vo::VoMarshalValue(&x, &out), VO_STATUS_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(out, static_cast<void *>(&out));
  vo::VoSystemStart();
  EXPECT_EQ(vo::VoMarshalValue(&x, &out), 0u);
  EXPECT_EQ(out, static_cast<void *>(&x));
  EXPECT_EQ(vo::VoMarshalValue(&x, nullptr), VO_STATUS_BAD_ARGUMENT);
  vo::VoSystemTerminate();
}

}  // namespace
