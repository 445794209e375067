#include "platform/clock.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace vo::platform {

namespace {

double Seconds(const timespec &t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
double Seconds(const timeval &t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

double ClockSeconds(clockid_t id) {
  timespec t{};
  if (clock_gettime(id, &t) != 0) return 0.0;
  return Seconds(t);
}

bool Usage(int who, double *user, double *kernel) {
  rusage r{};
  if (getrusage(who, &r) != 0) {
    *user = *kernel = 0.0;
    return false;
  }
  *user = Seconds(r.ru_utime);
  *kernel = Seconds(r.ru_stime);
  return true;
}

}  // namespace

double WallSeconds() { return ClockSeconds(CLOCK_MONOTONIC); }
double CpuSeconds() { return ClockSeconds(CLOCK_PROCESS_CPUTIME_ID); }

bool ThreadTimes(const void *thread, double *user, double *kernel) {
  if (thread == nullptr) return Usage(RUSAGE_THREAD, user, kernel);
  *user = *kernel = 0.0;
  pthread_t id{};
  static_assert(sizeof id <= sizeof thread, "a thread identity must fit in a pointer");
  std::memcpy(&id, &thread, sizeof id);
  clockid_t clock{};
  if (pthread_getcpuclockid(id, &clock) != 0) return false;
  timespec t{};
  if (clock_gettime(clock, &t) != 0) return false;
  *user = Seconds(t);
  return true;
}

bool ProcessTimes(const void *process, double *user, double *kernel) {
  if (process != nullptr) {
    *user = *kernel = 0.0;
    return false;
  }
  return Usage(RUSAGE_SELF, user, kernel);
}

size_t CalendarText(char *text, size_t size) {
  if (text == nullptr || size == 0) return 0;
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  size_t n = 0;
  if (now != static_cast<std::time_t>(-1) && localtime_r(&now, &tm) != nullptr)
    n = std::strftime(text, size, "%a %b %e %H:%M:%S %Y\n", &tm);
  if (n == 0) n = static_cast<size_t>(std::snprintf(text, size, "???\n"));
  return n < size ? n : size - 1;
}

namespace {
// A time fixed by the tests; unset in the library's normal running.
constinit bool g_time_fixed = false;
constinit int g_fixed_time[6] = {};
constinit bool g_seconds_fixed = false;
constinit int64_t g_fixed_seconds = 0;
}  // namespace

void CalendarSecondsFix(const int64_t *seconds) {
  g_seconds_fixed = seconds != nullptr;
  if (seconds != nullptr) g_fixed_seconds = *seconds;
}

int64_t CalendarSeconds() {
  if (g_seconds_fixed) return g_fixed_seconds;
  const time_t now = std::time(nullptr);
  return now == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(now);
}

void LocalTimeFix(const int *fields) {
  g_time_fixed = fields != nullptr;
  if (fields != nullptr) std::memcpy(g_fixed_time, fields, sizeof g_fixed_time);
}

bool LocalTime(int fields[6]) {
  if (g_time_fixed) {
    std::memcpy(fields, g_fixed_time, sizeof g_fixed_time);
    return true;
  }
  std::memset(fields, 0, 6 * sizeof(int));
  const time_t now = std::time(nullptr);
  tm local{};
  if (now == static_cast<time_t>(-1) || localtime_r(&now, &local) == nullptr) return false;
  const int f[6] = {local.tm_mon + 1, local.tm_mday, local.tm_year + 1900,
                    local.tm_hour,    local.tm_min,  local.tm_sec};
  std::memcpy(fields, f, sizeof f);
  return true;
}

}  // namespace vo::platform
