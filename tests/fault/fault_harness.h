// The fault-injection harness: runs each program under fault_shim, failing the n-th call
// of one kind for every n, and checks what each run leaves behind.
#pragma once

#include <array>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fault {

// The kinds of call the shim fails, in the order of its count array.
inline constexpr std::array<const char*, 10> kCalls = {"open",  "write",  "pwrite", "fsync",          "fdatasync",
                                                       "close", "rename", "mkdir",  "pthread_create", "malloc"};
// Calls of each kind, then whether the failed call was the close of a descriptor that
// had written bytes.
using Counts = std::array<long, kCalls.size() + 1>;
int call_index(const std::string& call);

// Relative path below the output directory -> bytes.
using Files = std::map<std::string, std::string>;
Files snapshot(const std::filesystem::path& dir);
// Replaces `dir` by a copy of `files`.
void restore(const std::filesystem::path& dir, const Files& files);

struct Launch {
  std::string program;            // path of the program
  std::vector<std::string> args;  // its arguments
  std::filesystem::path cwd;      // where it runs; the output directory is cwd/out
};

// What the shim is told: the call to fail (empty: none), which one, and how.
struct Fault {
  std::string call;
  long n = 0;
  int error = 0;
};

struct Outcome {
  int status = -1;  // exit status, -1 when ended by a signal
  int signal = 0;
  bool hung = false;
  std::string err;  // standard error
  std::string out;  // standard output
  Files files;      // the output directory afterwards
  Counts counts{};  // calls of every kind, as the shim counted them
  std::string failed_on;  // the file of the failed call, when it had one
  bool lost_writes() const { return counts.back() != 0; }
};

// Runs `launch` under the shim at `shim` with `fault`, its output
// directory holding `before`.
Outcome run_once(const Launch& launch, const std::string& shim, const Fault& fault, const Files& before);

// Contents an archive file (a day file a run rewrites once per event) holds midway
// through a clean run: after the merges of its earlier events only.
using Midway = std::map<std::string, std::set<std::string>>;

// A clean run's outputs: into an empty directory, and again into the first run's files.
struct Reference {
  Files first, second;
  Counts counts{};  // the calls the second run made
  Midway midway;             // of a run into `first`
  Midway midway_from_empty;  // of a run into an empty directory
};

// Every way a run with `fault` injected fell short; empty when the fault held.
std::vector<std::string> problems(const Fault& fault, const Outcome& run, const Reference& ref);
// What a run without any fault got wrong.
std::vector<std::string> clean_run_problems(const Outcome& run, const Reference& ref);

}  // namespace fault
