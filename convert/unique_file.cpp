#include "unique_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace pk {

std::string name_candidate(const std::string& name, int k) {
  std::string c = name;
  if (k > 0 && c.size() > 7) c[7] = static_cast<char>('A' + k - 1);
  return c;
}

Claim claim_unique(const std::string& dir, const std::string& name) {
  for (int k = 0; k < kNameCandidates; ++k) {
    std::string path = dir + name_candidate(name, k);
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return {ClaimResult::claimed, std::move(path)};
    }
    if (errno != EEXIST) return {ClaimResult::failed, std::move(path)};
  }
  return {ClaimResult::all_taken, dir + name};
}

std::string claim_unique_or_exit(Run& run, const std::string& dir, const std::string& name) {
  Claim c = claim_unique(dir, name);
  if (c.result == ClaimResult::all_taken) {
    std::fputs("\n\nERROR!!!!!\n   Unable to create an unique filename.", stdout);
    exit_run(run, 23);
  }
  if (c.result == ClaimResult::failed) shut_down(run, 20, c.path);
  return std::move(c.path);
}

}  // namespace pk
