#include "output_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "failure.h"
#include "pkfile.h"

namespace pk {

namespace {

// Enough for every run a shared directory could see with one process id.
constexpr unsigned kMaxTemporaryCounter = 1000;
// File systems with coarse times (one or two seconds) need this long for the clock to move.
constexpr auto kClockWait = std::chrono::seconds(3);

bool earlier(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool change_time(const std::string& path, timespec& t) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  t = st.st_ctim;
  return true;
}

// Holds an exclusive lock on a directory while it lives, so that cooperating runs decide
// and rename one after another. Where the file system offers no such lock, publishing
// goes on without it.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& dir) : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~DirectoryLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  int fd_;
};

// The first candidate of `name` in `dir` that this run may take, passing over those
// already chosen for other files of the same batch.
std::string choose_final(const Outputs& out, const std::string& dir, const std::string& name,
                         const std::vector<std::string>& chosen) {
  for (int k = 0; k < kNameCandidates; ++k) {
    std::string path = dir + name_candidate(name, k);
    if (std::find(chosen.begin(), chosen.end(), path) != chosen.end()) continue;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) return path;
      shut_down(ExitCode::open_error, path);
    }
    if (S_ISREG(st.st_mode) && earlier(st.st_ctim, out.Run_start)) return path;
  }
  shut_down_saying(ExitCode::no_unique_name, "\n\nERROR!!!!!\n   Unable to create an unique filename.");
}

}  // namespace

std::string name_candidate(const std::string& name, int k) {
  std::string c = name;
  if (k > 0 && c.size() > 7) c[7] = static_cast<char>('A' + k - 1);
  return c;
}

Temporaries::Created Temporaries::claim(const std::string& dir, const std::string& described,
                                        const std::function<bool(const std::string&)>& take) {
  const std::string owner = program_ + "-" + std::to_string(::getpid());
  std::string path;
  for (unsigned n = 0; n < kMaxTemporaryCounter; ++n) {
    path = dir + temporary_name(described, owner, n);
    if (take(path)) {
      paths_.insert(path);
      return {true, path};
    }
    // Taken before anything else can touch errno, copying the path included.
    const int error = errno;
    if (error != EEXIST) return {false, path, error};
  }
  return {false, path, EEXIST};
}

Temporaries::Created Temporaries::create(const std::string& dir, const std::string& described) {
  return claim(dir, described, [](const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    return fd >= 0 && ::close(fd) == 0;
  });
}

// Renamed without replacing anything: a rename over an existing file, even an empty one,
// makes some file systems (ext4) write the moved file's data out at once.
Temporaries::Created Temporaries::move(const std::string& from, const std::string& dir,
                                       const std::string& described) {
  const Created moved = claim(dir, described, [&from](const std::string& path) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
  });
  if (moved.ok) paths_.erase(from);
  return moved;
}

void Temporaries::remove(const std::string& path) {
  std::remove(path.c_str());
  paths_.erase(path);
}

void Temporaries::remove_all() {
  for (const std::string& p : paths_) std::remove(p.c_str());
  paths_.clear();
}

std::string create_temporary(Outputs& out, const std::string& dir, const std::string& described) {
  const Temporaries::Created c = out.temps.create(dir, described);
  if (!c.ok) shut_down(ExitCode::open_error, c.path);
  return c.path;
}

std::string move_temporary(Outputs& out, const std::string& from, const std::string& dir,
                           const std::string& described) {
  const Temporaries::Created moved = out.temps.move(from, dir, described);
  if (moved.ok) return moved.path;
  if (moved.error == EEXIST) shut_down(ExitCode::open_error, moved.path);
  // A file system without exclusive renames: the name is taken by creating the file.
  const std::string to = create_temporary(out, dir, described);
  if (::rename(from.c_str(), to.c_str()) != 0) shut_down(ExitCode::write_error, to);
  out.temps.forget(from);
  return to;
}

// The probe's change time is moved on until the clock has ticked past its creation: a
// file of an earlier run written within the same tick as the probe then still counts as
// older than this run.
void take_run_start(Outputs& out) {
  const std::string probe = create_temporary(out, out.Dir, "run-start");
  timespec created{}, now{};
  if (change_time(probe, created)) {
    now = created;
    const auto give_up = std::chrono::steady_clock::now() + kClockWait;
    while (!earlier(created, now) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (::utimensat(AT_FDCWD, probe.c_str(), nullptr, 0) != 0 || !change_time(probe, now)) break;
    }
  }
  out.temps.remove(probe);
  out.Run_start = now;
}

std::vector<std::string> publish(Outputs& out, const std::string& dir, const std::vector<Pending>& files) {
  const DirectoryLock lock(dir);
  std::vector<std::string> finals;
  for (const Pending& p : files) finals.push_back(choose_final(out, dir, p.name, finals));
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (::rename(files[i].temporary.c_str(), finals[i].c_str()) != 0) shut_down(ExitCode::write_error, finals[i]);
    out.temps.forget(files[i].temporary);
  }
  return finals;
}

namespace {
std::vector<std::string> level_names(uint16_t path_option, const std::string& time) {
  std::string t = time;
  t.resize(std::max<std::size_t>(t.size(), 16), ' ');
  std::vector<std::string> levels;
  if (path_option == 0) return levels;
  levels.push_back(t.substr(0, 4) + "_" + t.substr(4, 3));
  if (path_option == 2) levels.push_back(t.substr(7, 2));
  if (path_option == 3) levels.push_back(t.substr(7, 2) + "_" + t.substr(9, 2));
  if (path_option >= 4) levels.push_back(t.substr(7, 2) + "_" + t.substr(9, 2) + "_" + t.substr(11, 2));
  return levels;
}
}  // namespace

std::string level_dir(uint16_t path_option, const std::string& time) {
  std::string dir;
  for (const auto& l : level_names(path_option, time)) dir += l + "/";
  return dir;
}

std::string make_output_dir(const Outputs& out, const std::string& time) {
  std::string dir = out.Dir;
  for (const auto& l : level_names(out.Path_option, time)) {
    dir += l + "/";
    if (!fexist(dir)) ::mkdir(dir.c_str(), 0777);
  }
  return dir;
}

}  // namespace pk
