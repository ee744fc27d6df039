#include "tests/e2e/e2e_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace e2e {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Between opening its input and reading from it a run only takes its start; this is
// ample for that on a loaded machine.
constexpr auto kSettle = 300ms;

// The writing end of a FIFO, once a reader has opened it; -1 when none came.
int open_when_read(const std::string& fifo) {
  const auto give_up = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < give_up) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::fcntl(fd, F_SETFL, 0);
      return fd;
    }
    std::this_thread::sleep_for(5ms);
  }
  return -1;
}

// A run that stops reading ends the writing early; its exit code tells why.
void write_all(int fd, const std::string& bytes) {
  for (std::size_t done = 0; fd >= 0 && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void make_fifo(const std::string& path) {
  std::signal(SIGPIPE, SIG_IGN);
  ::mkfifo(path.c_str(), 0600);
}

}  // namespace

std::vector<testkit::RunResult> run_together(const std::vector<Launch>& launches, const std::string& cwd,
                                             const std::function<void()>& before_input) {
  const std::string ctl = cwd + "/.launch";
  fs::create_directories(ctl);
  // Each run waits for the "go" file so that all of them start while the others run.
  std::string cmd = "cd '" + cwd + "' || exit 1; ";
  for (std::size_t i = 0; i < launches.size(); ++i) {
    const std::string n = ctl + "/" + std::to_string(i);
    cmd += "( while [ ! -e '" + ctl + "/go' ]; do sleep 0.01; done; '" + launches[i].program + "' " +
           launches[i].args + " > '" + n + ".out' 2>&1; echo $? > '" + n + ".rc' ) & ";
    if (!launches[i].fed_input.empty()) make_fifo(cwd + "/" + launches[i].fed_input);
  }
  cmd += "touch '" + ctl + "/go'; wait";
  std::thread runs([&cmd] { std::system(cmd.c_str()); });

  std::vector<int> inputs(launches.size(), -1);
  for (std::size_t i = 0; i < launches.size(); ++i)
    if (!launches[i].fed_input.empty()) inputs[i] = open_when_read(cwd + "/" + launches[i].fed_input);
  std::this_thread::sleep_for(kSettle);
  if (before_input) before_input();
  std::vector<std::thread> feeders;
  for (std::size_t i = 0; i < launches.size(); ++i) {
    if (inputs[i] < 0) continue;
    feeders.emplace_back([fd = inputs[i], &bytes = launches[i].input] {
      write_all(fd, bytes);
      ::close(fd);
    });
  }
  for (auto& f : feeders) f.join();
  runs.join();

  std::vector<testkit::RunResult> results;
  for (std::size_t i = 0; i < launches.size(); ++i) {
    const std::string n = ctl + "/" + std::to_string(i);
    const std::string rc = testkit::read_file(n + ".rc");
    results.push_back({rc.empty() ? -1 : std::atoi(rc.c_str()), testkit::read_file(n + ".out")});
  }
  fs::remove_all(ctl);
  return results;
}

testkit::RunResult run_interrupted(const Launch& launch, const std::string& cwd, int signal) {
  const std::string fifo = cwd + "/" + launch.fed_input;
  const std::string out = cwd + "/.interrupted.out";
  make_fifo(fifo);
  const std::string cmd = "cd '" + cwd + "' && exec '" + launch.program + "' " + launch.args + " > '" + out + "' 2>&1";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const int fd = open_when_read(fifo);
  write_all(fd, launch.input);
  // The run has read everything and waits for the rest of its input.
  std::this_thread::sleep_for(kSettle);
  ::kill(pid, signal);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (fd >= 0) ::close(fd);
  testkit::RunResult r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, testkit::read_file(out)};
  fs::remove(out);
  return r;
}

}  // namespace e2e
