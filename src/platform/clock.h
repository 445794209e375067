// Clocks and calendar text of the host system.
//
// Every clock answers seconds as a double; only differences of two samples
// carry meaning. A clock the host refuses to read answers 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vo::platform {

// A steady clock that never goes backwards (CLOCK_MONOTONIC).
double WallSeconds();
// Processor time of the whole process (CLOCK_PROCESS_CPUTIME_ID).
double CpuSeconds();

// User and kernel time of a thread. A null thread means the calling thread
// (both times available); any other value is a pthread_t cast to a pointer,
// for which the host gives only the total processor time: it is answered as
// user time, and the kernel time is 0. False when the host refuses.
bool ThreadTimes(const void *thread, double *user, double *kernel);

// User and kernel time of a process. Only the current process (a null
// argument) can be read; any other argument answers false with both 0.
bool ProcessTimes(const void *process, double *user, double *kernel);

// The current local date and time as one line of calendar text, newline
// included ("Sun Dec  6 17:38:00 2026\n"), written into text. Answers the
// length written; "???\n" when the host cannot tell the time.
size_t CalendarText(char *text, size_t size);

// The local date and time: month 1-12, day, full year, hour, minute,
// second. False (all 0) when the host cannot tell. Tests fix the answer with
// LocalTimeFix and give the host's back with a null argument.
bool LocalTime(int fields[6]);
void LocalTimeFix(const int *fields);

// The calendar time in seconds since 1970 (UTC); 0 when the host cannot
// tell. Tests fix the answer with CalendarSecondsFix and give the host's
// back with a null argument.
int64_t CalendarSeconds();
void CalendarSecondsFix(const int64_t *seconds);

}  // namespace vo::platform
