// Diagnostics: posting, the default handler's formats, the message file and the output channel.

#include <gtest/gtest.h>

#include <string>

#include "support/fake_module.h"

namespace vo::test {
namespace {

// A kernel whose default handler writes to a temporary error stream.
class Diagnostics : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoSystemInitialise(), 0u);
    stream_ = std::tmpfile();
    ASSERT_EQ(ControlRoundTrip(VO_CONTROL_ERROR_STREAM, TypedPointer(stream_)).value.p, stream_);
  }
  void TearDown() override {
    if (vo::Registry() != nullptr) VoSystemTerminate();
    if (stream_) std::fclose(stream_);
    if (messages_) std::fclose(messages_);
  }
  std::string Output() {  // what was written since the last call
    std::string fresh = vo_test::Contents(stream_).substr(consumed_);
    consumed_ += fresh.size();
    return fresh;
  }
  void UseMessageFile(const std::string &text) {
    messages_ = std::tmpfile();
    std::fputs(text.c_str(), messages_);
    ASSERT_EQ(ControlRoundTrip(VO_CONTROL_MESSAGE_FILE, TypedPointer(messages_)).value.p, messages_);
  }
  std::FILE *stream_ = nullptr;
  std::FILE *messages_ = nullptr;
  size_t consumed_ = 0;
};

const char *kBasics = "0001 E\n0002 W\n0003 D\n0005 no text for\n";

TEST_F(Diagnostics, WithoutAMessageFileLinesNameModuleCodeAndArgumentsAndTheMaskFilters) {
  // No class bits: no prefix; integers each after one blank.
  Post(2, 208, 9, int32_t{65537}, int32_t{1}, int32_t{1});
  EXPECT_EQ(Output(), " Module 9, diagnostic code 208 [ 65537 1 1 ]\n");
  Post(VO_STATUS_BAD_ARGUMENT, 208, 9, static_cast<const void *>(nullptr));
  char ptr[32];
  std::snprintf(ptr, sizeof ptr, "%p", static_cast<void *>(nullptr));
  EXPECT_EQ(Output(), std::string("WARNING:  Module 9, diagnostic code 208 [ ") + ptr + " ]\n");
  Post(VO_CLASS_ERROR, 7, 3);
  EXPECT_EQ(Output(), "ERROR:  Module 3, diagnostic code 7\n");
  Post(VO_CLASS_DEBUG, 8, 3, uint32_t{4000000000u}, 2.5, "text");
  EXPECT_EQ(Output(), "DEBUG:  Module 3, diagnostic code 8 [ 4000000000 2.5 \"text\" ]\n");

  // Long strings are quoted in pieces of 508.
  std::string s(1200, 'a');
  s[0] = 'b';
  s[508] = 'c';
  s[1016] = 'd';
  Post(VO_CLASS_ERROR, 10, 1, s.c_str());
  std::string expected = "ERROR:  Module 1, diagnostic code 10 [ \"" + s.substr(0, 508) + "\" \"" +
                         s.substr(508, 508) + "\" \"" + s.substr(1016) + "\" ]\n";
  EXPECT_EQ(Output(), expected);
  Post(VO_CLASS_ERROR, 11, 1, "");
  EXPECT_EQ(Output(), "ERROR:  Module 1, diagnostic code 11 [ \"\" ]\n");
  // The severity mask passes only the classes it names.
  ASSERT_EQ(ControlRoundTrip(VO_CONTROL_SEVERITY_MASK, TypedNat32(VO_CLASS_ERROR)).value.u, VO_CLASS_ERROR);
  Post(VO_CLASS_WARNING, 1, 1);
  Post(VO_CLASS_DEBUG, 2, 1);
  Post(VO_CLASS_ERROR, 3, 1);
  EXPECT_EQ(Output(), "ERROR:  Module 1, diagnostic code 3\n");
}

TEST_F(Diagnostics, MessageFileTextsFormatTheArgumentsByTheirRecordedTypes) {
  UseMessageFile(std::string(kBasics) +
                 "12 twelve\n"
                 "0201 Module %d is installed\n"
                 "300 [%05d] [%5d] [%-3d] [%x]\n"
                 "301 [%6s] [%s] [%s] [%s]\n"
                 "302 tab\\there \\\"q\\\" back\\\\slash \\z gone\n"
                 "303 %d %f %g %u\n"
                 "304 %p %d\n"
                 "12345 big %d\n");
  Post(VO_STATUS_BAD_ARGUMENT, 201, 1, int32_t{17});
  EXPECT_EQ(Output(), "0201: Module 17 is installed\n");
  // Widths, zero padding; an unknown letter consumes its argument.
  Post(VO_CLASS_ERROR, 300, 1, int32_t{42}, int32_t{-7}, int32_t{5}, uint32_t{255});
  EXPECT_EQ(Output(), "0300: [00042] [   -7] [3d] [ff]\n");
  // Strings pad on the right; a non-string or missing argument prints "?".
  Post(VO_CLASS_ERROR, 301, 1, "ab", int32_t{3});
  EXPECT_EQ(Output(), "0301: [ab    ] [?] [?] [?]\n");
  Post(VO_CLASS_ERROR, 302, 1);
  EXPECT_EQ(Output(), "0302: tab\there \"q\" back\\slash  gone\n");
  // Conversion follows the argument's recorded type; the letter chooses the style.
  Post(VO_CLASS_ERROR, 303, 1, 2.75, int32_t{3}, int32_t{-2}, 9.0);
  EXPECT_EQ(Output(), "0303: 2 3 -2 9\n");
  Post(VO_CLASS_ERROR, 304, 1, 1.5, "x");
  EXPECT_EQ(Output(), "0304: ? ?\n");
  // Numbers of five digits print in full.
  Post(VO_CLASS_ERROR, 12345, 1, int32_t{1});
  EXPECT_EQ(Output(), "12345: big 1\n");
  // Not in the file: the fallback's class word, message 5's text, the
  // arguments as the fallback lists them, and the number last.
  Post(VO_CLASS_WARNING, 999, 1);
  EXPECT_EQ(Output(), "WARNING: no text for 999\n");
  Post(VO_CLASS_ERROR, 998, 5, "checker", uint32_t{327681}, int32_t{-2}, 0.5);
  EXPECT_EQ(Output(), "ERROR: no text for [ \"checker\" 327681 -2 0.5 ] 998\n");
  Post(2, 997, 5);
  EXPECT_EQ(Output(), "no text for 997\n");
  // Too long for the output buffer: the argument list is cut, the number kept.
  const std::string long_text(1200, 'a');
  Post(VO_CLASS_DEBUG, 996, 5, long_text.c_str());
  std::string cut = Output();
  EXPECT_EQ(cut.size(), 511u);
  EXPECT_EQ(cut.substr(0, 26), "DEBUG: no text for [ \"aaaa");
  EXPECT_EQ(cut.substr(cut.size() - 6), "a 996\n");
}

TEST_F(Diagnostics, MessageLinesMatchWholeNumbersAndWholeLines) {
  // Line 51 fills the line buffer; its tail "77 tail" is no message 77.
  std::string crafted = "0051 " + std::string(506, 'y') + "77 tail\n";
  std::string long50 = "0050 " + std::string(600, 'x') + "\n";
  UseMessageFile("12 twelve\n" + std::string(kBasics) + "0000120 hundred twenty\n" + crafted + long50 +
                 "0078 good\n");
  EXPECT_STREQ(VoMessageFileLookup(1), "E\n");
  EXPECT_STREQ(VoMessageFileLookup(120), "hundred twenty\n");
  EXPECT_EQ(VoMessageFileLookup(4), nullptr);
  EXPECT_EQ(VoMessageFileLookup(77), nullptr);
  EXPECT_STREQ(VoMessageFileLookup(78), "good\n");
  // A long message is cut to the output buffer and still ends its line.
  Post(VO_CLASS_ERROR, 50, 1);
  std::string out = Output();
  EXPECT_EQ(out.size(), 511u);
  EXPECT_EQ(out.substr(0, 7), "0050: x");
  EXPECT_EQ(out.back(), '\n');
}

// A handler that posts a diagnostic of its own before reading its arguments.
std::string g_nested_first;
VtStatus NestingHandler(VtStatus, uint32_t message, uint32_t, uint32_t, VtTypedValue *args) {
  if (message != 1) return 0;
  Post(VO_CLASS_DEBUG, 2, 1, "inner", int32_t{99});
  g_nested_first = std::string(args[0].value.s) + "/" + std::to_string(args[1].value.i);
  return 0;
}

TEST_F(Diagnostics, ArgumentsAreBoundedAndSafeFromNestedPosts) {
  vo_test::Record();
  VoDiagnosticBegin(VO_CLASS_ERROR, 5, 1);
  for (int i = 0; i < 25; ++i) VoDiagnosticArgInt(i);
  VoDiagnosticArgString(nullptr);  // appends nothing
  VoDiagnosticEnd();
  ASSERT_EQ(Seen().size(), 1u);
  ASSERT_EQ(Seen()[0].args.size(), 20u);
  EXPECT_EQ(Seen()[0].args[19].value.i, 19);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&NestingHandler)), 0u);
  Post(VO_CLASS_ERROR, 1, 1, "outer", int32_t{5});
  EXPECT_EQ(g_nested_first, "outer/5");
}

// Message channel of a fake driver framework.
std::string g_channel_text;
VtStatus ChannelWrite(const char *text) {
  g_channel_text += text;
  return 0;
}

TEST_F(Diagnostics, LostMessagesAreAnnouncedOnce) {
  // A driver framework without a message channel yet; no error stream.
  Fake<0>::Reset(VO_MODULE_DRIVER, "vodriver");
  Fake<0>::m.has_callback = true;
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  ASSERT_EQ(ControlRoundTrip(VO_CONTROL_ERROR_STREAM, TypedPointer(nullptr)).type, VtGenericPtr);
  Post(VO_CLASS_ERROR, 1, 1);  // no channel: lost
  // A channel found without a broadcast writes, then announces the loss (442) once.
  Fake<0>::m.slot = reinterpret_cast<VtProc>(&ChannelWrite);
  Post(VO_CLASS_ERROR, 2, 1);
  Post(VO_CLASS_ERROR, 3, 1);
  EXPECT_EQ(g_channel_text,
            "ERROR:  Module 1, diagnostic code 2\n"
            "WARNING:  Module 1, diagnostic code 442\n"
            "ERROR:  Module 1, diagnostic code 3\n");
  // A channel set through the callback is chosen at once: nothing to announce.
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_DRIVER_MESSAGE, nullptr), 0u);
  Post(VO_CLASS_ERROR, 4, 1);  // lost
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_DRIVER_MESSAGE, reinterpret_cast<VtProc>(&ChannelWrite)), 0u);
  g_channel_text.clear();
  Post(VO_CLASS_ERROR, 5, 1);
  EXPECT_EQ(g_channel_text, "ERROR:  Module 1, diagnostic code 5\n");
}

}  // namespace
}  // namespace vo::test
