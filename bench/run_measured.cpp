// Runs one command and reports what it cost itself: wall time, the CPU
// time of the process (every thread, none of its children) and its peak
// resident memory. Prints "<wall s> <own cpu s> <maxrss KB> <exit status>".
//
// The command runs as a child of this small program rather than of the
// Python driver because the kernel starts a process's peak resident memory
// at the peak of the address space it was forked from: a child forked
// from Python would begin with Python's. The command's standard output and
// standard error go to /dev/null; standard input is inherited.
//
// wait4's ru_maxrss also covers the children the command waited for; the
// benchmarks give tolvo fakes with tiny resident sets, so the figure is
// tolvo's own. Its CPU is read from its CPU clock while it is a zombie
// (waitid with WNOWAIT), which counts the process alone.

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
  if (argc < 2) {
    std::fprintf(stderr, "usage: tolvo_run_measured COMMAND [ARG...]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) {
    std::perror("fork");
    return 1;
  }
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::execvp(argv[1], argv + 1);
    ::_exit(127);
  }
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
    std::perror("waitid");
    return 1;
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  clockid_t clock{};
  timespec cpu{};
  if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &cpu) != 0) {
    std::perror("clock_gettime");
    return 1;
  }
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    return 1;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %.6f %ld %d\n", wall.count(), static_cast<double>(cpu.tv_sec) + cpu.tv_nsec / 1e9, usage.ru_maxrss,
              code);
  return 0;
}
