// Runs a program and records what the benchmark compares: its wall time, peak resident
// set, the bytes it passed to write() (wchar, children it waited for included) and its
// CPU times, as one line "SECONDS PEAK_KIB WCHAR USER_SECONDS SYSTEM_SECONDS".
// Usage: measure_run RESULT_FILE PROGRAM [ARGUMENTS...]
// Exits with the program's status (128 + signal number when a signal ended it).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The kernel keeps a process's accounting until it is reaped, so it is read while
// the process waits as a zombie.
long long written_chars(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value)
    if (key == "wchar:") return value;
  return -1;
}

double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

int status_of(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  return WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure_run RESULT_FILE PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    ::execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    ::_exit(127);
  }
  siginfo_t info{};
  if (::waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0) return 2;
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  const long long wchar = written_chars(pid);
  int wait_status = 0;
  rusage usage{};
  if (::wait4(pid, &wait_status, 0, &usage) != pid) return 2;

  std::ostringstream line;
  line.setf(std::ios::fixed);
  line.precision(6);
  line << wall.count() << ' ' << usage.ru_maxrss << ' ' << wchar << ' ' << seconds(usage.ru_utime)
       << ' ' << seconds(usage.ru_stime) << '\n';
  std::ofstream result(argv[1]);
  result << line.str();
  result.close();
  if (!result) {
    std::fprintf(stderr, "measure_run: cannot write %s\n", argv[1]);
    return 2;
  }
  return status_of(wait_status);
}
