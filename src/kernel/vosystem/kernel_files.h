// Kernel files, journal state, timers and clock kinds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include <vo/vo_types.h>

// A clock kind: how a clock of a timer is sampled and named. The sample
// procedure receives the timer's argument and answers seconds; only the
// difference of two samples is used.
struct VtClockKind {
  double (*sample)(const void *argument);
  const char *(*units)();
  const char *(*name)();
};

// One clock of a timer: a copy of its kind and the statistics of its runs.
struct VtTimerClock {
  VtClockKind kind;
  uint32_t count;  // runs started
  double start;
  double end;
  double last;   // elapsed time of the last run
  double total;  // sum of the elapsed times
  double sum_of_squares;
};

namespace vo {

constexpr uint32_t kTimerClocks = 5;

}  // namespace vo

// A named timer with up to five clocks, on the kernel's list of timers.
struct VtTimer {
  char *name;  // own copy; null for a timer without a name
  const void *argument;
  uint32_t clock_count;
  VtTimerClock *clocks[vo::kTimerClocks];  // slots stay filled after a reset
  uint32_t active;
  VtTimer *next;
};

namespace vo {

// The six clock kinds the system module makes at its start.
enum KernelClock : uint32_t {
  kClockCpu = 0,            // processor time of the process
  kClockWall = 1,           // steady wall clock
  kClockThreadUser = 2,     // argument: null (calling thread) or a pthread_t
  kClockThreadKernel = 3,   //
  kClockProcessUser = 4,    // argument: null (the current process)
  kClockProcessKernel = 5,  //
  kClockKinds = 6
};

struct JournalNames;  // addresses the journal has named (journal.cpp)
struct WrittenFile;   // a stream VoFileOpen created for writing, with its path (files.cpp)
struct FileHold;      // a stream a control holds (files.cpp)

struct KernelFiles {
  // File opening.
  uint32_t report_open_failures;  // set from system start to terminate
  WrittenFile *written;           // streams VoFileOpen created, until VoFileClose
  FileHold *holds;                // streams drivers' file controls hold, until set to another
  // Streams the modules' own file controls hold: a few controls, so a set
  // takes no memory (the list above takes any beyond them).
  struct {
    uint32_t code;
    std::FILE *file;
  } module_holds[8];

  // Journal.
  std::FILE *journal_file;   // control 0x10005
  uint32_t journal_flags;    // control 0x10006, bit 0 = journaling on
  char *journal_name;        // control 0x1000a; null reads as ""
  char *line;                // the line being built (grows as needed)
  size_t line_fill;          // characters in line
  size_t line_capacity;      // bytes allocated for line
  size_t line_column;        // characters since the last newline in line
  uint32_t in_call;          // a journalled call is open
  const void *open_call;     // its entry in the table of exported procedures
  JournalNames *names;       // variable names of handles and pointers
  VtTypedValue script_data;  // the value whose address VoDataCreate answers

  // Timers.
  VtClockKind clock_kinds[kClockKinds];
  uint32_t clock_kinds_made;
  VtTimer *timers;  // most recently created first
};

// Marks a stream whose output was refused before anything was written: if
// VoFileOpen created it, VoFileClose removes its file when it is still empty
// then. A stream the application opened itself is left as it is (empty).
void FileRemoveIfLeftEmpty(std::FILE *file);

// A file control (code, of holder: a driver's control procedure, or 0 for
// a module's own control) now holds file, or nothing when file is null: VoFileClose
// refuses a stream a control holds, which the holder would go on reading
// or writing. False, the hold unchanged, without memory for it.
bool FileHoldSet(uintptr_t holder, uint32_t code, const void *file);
// Whether a control's value is a file (the interface description's
// "streamcode" lines).
bool FileControl(uint32_t code);

// Whether VoFileOpen answered this stream and VoFileClose has not closed it
// (the command interpreter hands scripts' files to the library only then).
bool FileOpenedHere(const void *file);

// The streams VoFileOpen answered that VoFileClose has not closed, in no
// order. A terminate closes none of them (KernelFilesStop), so the script
// fuzz program closes what each input left open before it counts the
// descriptors the library keeps.
std::vector<std::FILE *> FilesLeftOpen();

// Fills the six clock kinds (part of the system module's start).
void ClockKindsMake(KernelFiles &f);
// The kernel's clock kinds; null before the system module has started.
const VtClockKind *ClockKindGet(KernelClock which);
// The kernel's own timing (VoExecute, thread records): the named timer with
// the given clocks added and started; null when it cannot be made.
VtTimer *KernelTimerStart(const char *name, std::initializer_list<KernelClock> clocks);
// Stops the timer, reports its clocks and resets it.
void KernelTimerFinish(VtTimer *timer);
// Frees every timer and its clocks and forgets the clock kinds; the last
// step of the system module's terminate.
VtStatus KernelTimersStop();

}  // namespace vo
