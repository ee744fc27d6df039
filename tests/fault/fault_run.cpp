// Starting one run under the shim and collecting what it left.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/fault/fault_harness.h"

extern char** environ;

namespace fault {

namespace fs = std::filesystem;

namespace {

// Long enough for any of these small runs; a run that takes longer hangs.
constexpr auto kRunLimit = std::chrono::seconds(20);
// What the shim maps: the counts, then the name of the file whose call it failed.
constexpr std::size_t kWhereSize = 512;
// Any fixed time: the logs of two runs then carry the same "System time".
constexpr const char* kFixedTime = "1234567890";

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The environment of the run: the caller's, without settings that would change it.
std::vector<std::string> environment(const Launch& launch, const std::string& shim, const Fault& fault,
                                     const fs::path& counts) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string_view v(*e);
    if (!v.starts_with("LD_PRELOAD=") && !v.starts_with("FAULT_") && !v.starts_with("PKU=")) env.emplace_back(v);
  }
  env.push_back("LD_PRELOAD=" + shim);
  env.push_back("FAULT_DIR=" + (launch.cwd / "out").string());
  env.push_back("FAULT_COUNTS=" + counts.string());
  env.push_back(std::string("FAULT_TIME=") + kFixedTime);
  if (!fault.call.empty()) {
    env.push_back("FAULT_CALL=" + fault.call);
    env.push_back("FAULT_N=" + std::to_string(fault.n));
    env.push_back("FAULT_ERRNO=" + std::to_string(fault.error));
  }
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (auto& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

pid_t spawn(const Launch& launch, std::vector<std::string> env, const fs::path& out, const fs::path& err) {
  std::vector<std::string> argv{launch.program};
  argv.insert(argv.end(), launch.args.begin(), launch.args.end());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, launch.cwd.c_str());
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, launch.program.c_str(), &actions, nullptr, pointers(argv).data(),
                             pointers(env).data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + launch.program + ": " + std::strerror(rc));
  return pid;
}

// Waits for the run, killing it once it is over its time.
void wait_for(pid_t pid, Outcome& out) {
  const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      out.hung = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  if (WIFEXITED(status)) out.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) out.signal = WTERMSIG(status);
}

}  // namespace

int call_index(const std::string& call) {
  for (std::size_t i = 0; i < kCalls.size(); ++i)
    if (call == kCalls[i]) return static_cast<int>(i);
  throw std::invalid_argument("no such call: " + call);
}

Files snapshot(const fs::path& dir) {
  Files files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files[fs::relative(e.path(), dir).string()] = read_all(e.path());
  return files;
}

void restore(const fs::path& dir, const Files& files) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const auto& [name, bytes] : files) {
    fs::create_directories((dir / name).parent_path());
    std::ofstream(dir / name, std::ios::binary) << bytes;
  }
}

Outcome run_once(const Launch& launch, const std::string& shim, const Fault& fault, const Files& before) {
  const fs::path out_dir = launch.cwd / "out", counts = launch.cwd / "counts";
  const fs::path out_text = launch.cwd / "stdout", err = launch.cwd / "stderr";
  restore(out_dir, before);
  std::ofstream(counts, std::ios::trunc) << std::string(sizeof(Counts) + kWhereSize, '\0');
  Outcome out;
  wait_for(spawn(launch, environment(launch, shim, fault, counts), out_text, err), out);
  out.err = read_all(err);
  out.out = read_all(out_text);
  out.files = snapshot(out_dir);
  const std::string c = read_all(counts);
  if (c.size() >= sizeof(Counts) + kWhereSize) {
    std::memcpy(out.counts.data(), c.data(), sizeof(Counts));
    out.failed_on = c.substr(sizeof(Counts), kWhereSize).c_str();
    const std::string dir = launch.cwd.string() + "/";
    if (out.failed_on.starts_with(dir)) out.failed_on.erase(0, dir.size());
  }
  return out;
}

}  // namespace fault
