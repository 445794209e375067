// The driver framework: the active-driver stack, the driver controls, the
// choice of current driver, multi-output and the interrupt signal.

#include <csignal>
#include <cstring>

#include "driver_fixture.h"
#include "support/fake_module.h"

namespace vo::test {
namespace {

TEST_F(DriverTest, TheStackGrowsFromFiveToTenEntriesAtDepthFour) {
  ModeOne();
  DriverA::Give(VO_DRIVER_BEGIN_FRAME, &DriverA::Frame);
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  driver::DriverState *s = State();
  ASSERT_EQ(s->depth, 1u);  // the current record is the base entry
  EXPECT_EQ(s->capacity, 5u);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(driver::Push(s, Null()));
  // Four entries: the wrapper's push grows the stack and still answers.
  EXPECT_EQ(VoDriverBeginFrame(a, 0, 1, 0, 1), 0u);
  EXPECT_EQ(s->capacity, 10u);
  EXPECT_EQ(s->depth, 4u);
  for (int i = 0; i < 3; ++i) driver::Pop(s);
  EXPECT_EQ(driver::Active(s), Current());
  EXPECT_EQ(Log(), Lines{"a frame 0 1 0 1"});
}

TEST_F(DriverTest, ControlsAreHeldOrForwardedAndFailedGetsAnswerASubstitute) {
  // RGB_R_MULT from the null driver: Int32 -1, status 0, warning 591 naming
  // the control and the driver.
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(VO_CONTROL_DRIVER_RGB_R_MULT, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtInt32));
  EXPECT_EQ(v.value.i, -1);
  ASSERT_EQ(CountPosted(messages::kDriverControlNotGot), 1);
  EXPECT_EQ(vo_test::WithMessage(messages::kDriverControlNotGot)[0].strings,
            (std::vector<std::string>{"VO_CONTROL_DRIVER_RGB_R_MULT", "vodrvnul"}));
  EXPECT_EQ(VoControlGet(VO_CONTROL_DRIVER_WIDTH, &v), 0u);
  EXPECT_EQ(v.type * 100 + v.value.u, static_cast<uint32_t>(VtNat32) * 100);
  g_posted.clear();
  EXPECT_EQ(VoControlGet(0x1a0022, &v), 0u);
  EXPECT_EQ(vo_test::WithMessage(messages::kDriverControlNotGot)[0].strings[0], "0x1a0022");
  // FILE on the null driver: its refusal (256) with warning 585.
  g_posted.clear();
  EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_FILE, &(v = TypedPointer(stdout))), driver::kRefused);
  EXPECT_EQ(CountPosted(messages::kDriverControlNotSet), 1);
  // Codes beyond the controls: 18.
  EXPECT_EQ(driver::ControlSet(0x1a0030, &v), driver::kUnknown);
  EXPECT_EQ(driver::ControlGet(0x1a0030, &v), driver::kUnknown);
  // Held controls: defaults, and the title is the framework's own copy.
  EXPECT_EQ(ControlValue(VO_CONTROL_DRIVER_CLEAR).value.u, 1u);
  EXPECT_EQ(ControlValue(VO_CONTROL_DRIVER_BUFFERING).value.u, 0u);
  EXPECT_EQ(ControlValue(VO_CONTROL_DRIVER_MODE).value.u, 0u);
  char title[] = "first";
  EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_TITLE, &(v = TypedString(title))), 0u);
  std::strcpy(title, "later");
  EXPECT_STREQ(ControlValue(VO_CONTROL_DRIVER_TITLE).value.s, "first");
}

TEST_F(DriverTest, TheImageControlAlwaysReachesTheImageDriver) {
  DriverA::GiveRaster();
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  ASSERT_EQ(VoDriverGet(), a);
  VtImage *image = VoImageCreate();
  VtTypedValue v = TypedPointer(image);
  EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v), 0u);
  EXPECT_EQ(ControlValue(VO_CONTROL_DRIVER_IMAGE).value.p, image);
  EXPECT_TRUE(DriverA::sets.empty());
  // An address that is not an image of the list: 18.
  VtImage foreign{};
  EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &(v = TypedPointer(&foreign))), driver::kUnknown);
  EXPECT_EQ(ControlValue(VO_CONTROL_DRIVER_IMAGE).value.p, image);
  // Destroying the image leaves the image driver without one.
  EXPECT_EQ(VoImageDestroy(image), 0u);
  EXPECT_EQ(ControlValue(VO_CONTROL_DRIVER_IMAGE).value.p, nullptr);
}

TEST_F(DriverTest, ModeZeroMakesOnlyTheFirstRealDriverCurrent) {
  DriverA::GiveRaster();
  DriverB::GiveRaster();
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  VtDriverRecord *b = VoDriverCreate(&DriverB::Query);
  EXPECT_EQ(VoDriverGet(), a);
  EXPECT_EQ(a->open * 10 + b->open, 10u);
  EXPECT_EQ(Log(), Lines{"a open"});
  // Setting the current driver again copies its record, nothing else.
  EXPECT_EQ(VoDriverSet(a), 0u);
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(VoDriverSet(b), 0u);
  EXPECT_EQ(Log(), (Lines{"a close", "b open"}));
  EXPECT_EQ(VoDriverFindFromName("b"), b);
  // A driver whose own open fails under MODE 0 is not kept (message 460).
  ASSERT_EQ(VoDriverSet(Null()), 0u);
  State()->real_chosen = 0;
  DriverC::GiveRaster();
  DriverC::answer = 5;
  EXPECT_EQ(VoDriverCreate(&DriverC::Query), nullptr);
  EXPECT_EQ(CountPosted(messages::kDriverNotMadeCurrent), 1);
  EXPECT_EQ(VoDriverFindFromName("c"), nullptr);
  EXPECT_EQ(VoDriverGet(), Null());
}

TEST_F(DriverTest, TwinDriversAreToldApartByTheirRecords) {
  ModeOne();
  DriverA::GiveRaster();
  VtDriverRecord *first = VoDriverCreate(&DriverA::Query);
  VtDriverRecord *second = VoDriverCreate(&DriverA::Query);  // same query function, same name
  ASSERT_EQ(VoDriverSet(first), 0u);
  ASSERT_EQ(VoDriverSet(second), 0u);
  EXPECT_EQ(Log(), (Lines{"a open", "a close", "a open"}));
  EXPECT_EQ(first->open * 10 + second->open, 1u);
  // Destroying the twin that is not current leaves the current one alone.
  EXPECT_EQ(VoDriverDestroy(first), 0u);
  EXPECT_EQ(VoDriverGet(), second);
  EXPECT_EQ(Log(), Lines{});
  // Destroying the current driver makes the null driver current.
  EXPECT_EQ(VoDriverDestroy(second), 0u);
  EXPECT_EQ(VoDriverGet(), Null());
  // The built-in drivers are not destroyed outside shut-down; a display
  // driver leaves no pointer behind.
  EXPECT_EQ(VoDriverDestroy(Null()), driver::kNotInList);
  DriverC::capability = VO_DRIVER_CAPABILITY_DEVICE;
  VtDriverRecord *c = VoDriverCreate(&DriverC::Query);
  EXPECT_EQ(State()->display_driver, c);
  EXPECT_EQ(VoDriverDestroy(c), 0u);
  EXPECT_EQ(State()->display_driver, nullptr);
}

TEST_F(DriverTest, TheMultiDriverFansOutToEveryEnabledDriver) {
  ModeOne();
  DriverA::GiveRaster();
  DriverB::GiveRaster();
  DriverC::GiveRaster();
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  VtDriverRecord *b = VoDriverCreate(&DriverB::Query);
  VtDriverRecord *c = VoDriverCreate(&DriverC::Query);
  EXPECT_EQ(VoDriverEnable(a), 0u);
  EXPECT_EQ(VoDriverEnable(b), 0u);
  EXPECT_EQ(VoDriverGet(), State()->multi_driver);
  EXPECT_EQ(VoDriverEnable(b), 0u);  // already enabled
  EXPECT_EQ(Log(), (Lines{"a open", "b open"}));
  // Both get every row; b's refusal shows in the OR.
  DriverB::answer = driver::kRefused;
  uint8_t row[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(VoDriverBeginFrame(nullptr, 0, 1, 0, 1), 0u);
  EXPECT_EQ(VoDriverWriteScan(nullptr, 0, row), driver::kRefused);
  EXPECT_EQ(VoDriverWriteScan(nullptr, 1, row), driver::kRefused);
  EXPECT_EQ(a->region_recorded * 10 + b->region_recorded, 11u);
  EXPECT_EQ(Log(), (Lines{"a frame 0 1 0 1", "b frame 0 1 0 1", "a row 0 1,2,3,4,5,6", "b row 0 1,2,3,4,5,6",
                          "a row 1 1,2,3,4,5,6", "b row 1 1,2,3,4,5,6"}));
  // A message reaches the first driver that takes it.
  EXPECT_EQ(VoDriverWriteMessage(nullptr, "hello"), 0u);
  EXPECT_EQ(Log(), Lines{"a message hello"});
  // A control set that one driver refuses still answers 0.
  DriverA::controls[VO_CONTROL_DRIVER_XOFFSET] = TypedNat32(0);
  VtTypedValue v = TypedNat32(7);
  EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_XOFFSET, &v), 0u);
  EXPECT_EQ(DriverA::sets.size() * 10 + DriverB::sets.size(), 11u);
  EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_FILE_SUFFIX, &(v = TypedString("x"))), driver::kUnknown);
  // Setting any driver ends multi-output: the enabled drivers are closed.
  EXPECT_EQ(VoDriverSet(c), 0u);
  EXPECT_EQ(Log(), (Lines{"a close", "b close", "c open"}));
  EXPECT_EQ(State()->enabled_head, nullptr);
  EXPECT_EQ(a->open + b->open + c->open, 1u);
}

TEST_F(DriverTest, TheKernelsMessagesGoToStandardErrorWhileTheDriverDeclinesThem) {
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoErrorHandlerDefault)), 0u);
  // The null driver declines message texts (258): nothing is lost.
  testing::internal::CaptureStderr();
  Post(VO_CLASS_ERROR, 5, VO_MODULE_SYSTEM);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("diagnostic code 5"), std::string::npos);
  // A driver that takes them gets them instead.
  DriverA::GiveRaster();
  ASSERT_EQ(VoDriverSet(VoDriverCreate(&DriverA::Query)), 0u);
  Log();
  testing::internal::CaptureStderr();
  Post(VO_CLASS_ERROR, 6, VO_MODULE_SYSTEM);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  std::string text;
  for (const std::string &line : Log()) text += line;
  EXPECT_NE(text.find("diagnostic code 6"), std::string::npos) << text;
  ASSERT_EQ(vo_test::Record(), 0u);
}

int g_application_signals = 0;
void ApplicationHandler(int) { ++g_application_signals; }

TEST_F(DriverTest, TheInterruptSignalBecomesOneInterruptAnswer) {
  ASSERT_EQ(raise(SIGINT), 0);
  EXPECT_EQ(VoDriverCheckInterrupt(nullptr), VO_COND_INTERRUPTED);
  EXPECT_EQ(VoDriverCheckInterrupt(nullptr), 0u);
  EXPECT_EQ(CountPosted(messages::kInterruptReceived), 1);
  // A driver without a poll of its own inherits the null driver's.
  ModeOne();
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  ASSERT_EQ(VoDriverSet(a), 0u);
  auto poll = reinterpret_cast<VtDriverNoArgProc>(VoCallBackGet(VO_DRIVER_POLL));
  ASSERT_EQ(raise(SIGINT), 0);
  EXPECT_EQ(poll(), VO_COND_INTERRUPTED);
  EXPECT_EQ(poll(), 0u);

  // The application's own handler is put back at shut-down.
  ASSERT_EQ(VoSystemTerminate(), 0u);
  struct sigaction mine {
  }, before{};
  mine.sa_handler = &ApplicationHandler;
  sigemptyset(&mine.sa_mask);
  ASSERT_EQ(sigaction(SIGINT, &mine, &before), 0);
  SetUp();
  ASSERT_EQ(raise(SIGINT), 0);
  EXPECT_EQ(g_application_signals, 0);
  ASSERT_EQ(VoSystemTerminate(), 0u);
  ASSERT_EQ(raise(SIGINT), 0);
  EXPECT_EQ(g_application_signals, 1);
  sigaction(SIGINT, &before, nullptr);
}

}  // namespace
}  // namespace vo::test
