// A case run in a forked process, for faults that end a process (a
// sanitizer's report, a signal): the child's own answer, or how it died.
// The child inherits the parent's library state, so rows forked from one
// set-up start alike.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace vo_test {

// Everything a child writes into the pipe's reading end until it closes it;
// the end is closed after.
inline std::string ReadAll(int fd) {
  std::string bytes;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(n));
  close(fd);
  return bytes;
}

// Runs the case in a child: the fault it reports (empty when none), or how
// the process died.
inline std::string ForkedFault(const std::function<std::string()> &run) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    const std::string fault = run();
    if (!fault.empty()) (void)!write(out[1], fault.data(), fault.size());
    _exit(fault.empty() ? 0 : 1);
  }
  close(out[1]);
  std::string fault = ReadAll(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return fault + "died of signal " + std::to_string(WTERMSIG(status));
  if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && fault.empty()))
    return fault + "ended with status " + std::to_string(WEXITSTATUS(status));
  return fault;
}

}  // namespace vo_test
