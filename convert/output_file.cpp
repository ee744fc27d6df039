#include "convert/output_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "convert/failure.h"
#include "common/durable.h"
#include "common/pkfile.h"

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
      shut_down(ExitCode::open_error, path, errno);
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
    // Registered first: running out of memory must not leave a file made but unknown.
    const bool registered = paths_.insert(path).second;
    if (take(path)) return {true, path};
    // Taken before anything else can touch errno.
    const int error = errno;
    if (registered) paths_.erase(path);
    if (error != EEXIST) return {false, path, error};
  }
  return {false, path, EEXIST};
}

Temporaries::Created Temporaries::create(const std::string& dir, const std::string& described) {
  bool unclosed = false;
  Created made = claim(dir, described, [&unclosed](const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    if (::close(fd) == 0) return true;
    const int error = errno;
    ::unlink(path.c_str());
    errno = error;
    unclosed = true;
    return false;
  });
  made.unclosed = !made.ok && unclosed;
  return made;
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

std::FILE* AppendedFiles::open(const std::string& path) {
  if (!before_.contains(path)) {
    struct stat st {};
    before_[path] = ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  }
  std::FILE* f = std::fopen(path.c_str(), "a+b");
  if (!f) shut_down(ExitCode::open_error, path, errno);
  return f;
}

void AppendedFiles::cut_back(const std::string& path) {
  const auto it = before_.find(path);
  if (it == before_.end()) return;
  if (it->second < 0) std::remove(path.c_str());
  else if (::truncate(path.c_str(), static_cast<off_t>(it->second)) != 0)
    std::fprintf(stderr, "ERROR: cannot cut %s back to its length before the run: %s\n", path.c_str(),
                 std::strerror(errno));
}

namespace {
// 0 when the stream's data reached the device, else the errno of the failure.
int data_synced(std::FILE* file) {
  if (std::fflush(file) != 0) return errno;
  return ::fdatasync(::fileno(file)) != 0 ? errno : 0;
}
}  // namespace

void AppendedFiles::close(std::FILE*& file, const std::string& path) {
  if (!file) return;
  int error = durable ? data_synced(file) : 0;
  if (const int closed = close_stream_checked(file); error == 0) error = closed;
  if (error != 0) {
    cut_back(path);
    shut_down(ExitCode::write_error, path, error);
  }
  if (durable && before_[path] < 0) sync_directory(path.substr(0, path.find_last_of('/') + 1));
}

void AppendedFiles::close_quietly(std::FILE*& file) {
  if (file) std::fclose(file);
  file = nullptr;
}

void AppendedFiles::cut_back_all() {
  for (const auto& [path, length] : before_) cut_back(path);
}

Failure creation_failure(const Temporaries::Created& made, const std::string& name) {
  Failure failure = fatal_failure(ExitCode::open_error, name, made.error);
  if (made.unclosed) failure.what = "cannot write";
  return failure;
}

std::string create_temporary(Outputs& out, const std::string& dir, const std::string& described) {
  const Temporaries::Created c = out.temps.create(dir, described);
  if (!c.ok) throw creation_failure(c, c.path);
  return c.path;
}

std::string move_temporary(Outputs& out, const std::string& from, const std::string& dir,
                           const std::string& described) {
  const Temporaries::Created moved = out.temps.move(from, dir, described);
  if (moved.ok) return moved.path;
  if (moved.error == EEXIST) shut_down(ExitCode::open_error, moved.path, moved.error);
  // A file system without exclusive renames: the name is taken by creating the file.
  const std::string to = create_temporary(out, dir, described);
  if (::rename(from.c_str(), to.c_str()) != 0) shut_down(ExitCode::write_error, to, errno);
  out.temps.forget(from);
  return to;
}

// The probe's change time is moved on until the clock has ticked past its creation: a
// file of an earlier run written within the same tick as the probe then still counts as
// older than this run.
void take_run_start(Outputs& out) {
  // The first file the run makes: one that cannot be made names the output directory.
  const Temporaries::Created made = out.temps.create(out.Dir, "run-start");
  if (!made.ok) throw creation_failure(made, out.Dir);
  const std::string& probe = made.path;
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

void sync_file(const std::string& path, const std::string& shown) {
  if (const Synced s = sync_data(path); s.error != 0)
    shut_down(s.opened ? ExitCode::write_error : ExitCode::open_error, shown, s.error);
}

void sync_directory(const std::string& dir) {
  if (const Synced s = sync_entries(dir); s.error != 0)
    shut_down(s.opened ? ExitCode::write_error : ExitCode::open_error, dir, s.error);
}

void rename_into_place(Outputs& out, const std::string& temporary, const std::string& final_path) {
  if (out.durable) sync_file(temporary, final_path);
  if (::rename(temporary.c_str(), final_path.c_str()) != 0) shut_down(ExitCode::write_error, final_path, errno);
  out.temps.forget(temporary);
}

std::vector<std::string> publish(Outputs& out, const std::string& dir, const std::vector<Pending>& files) {
  const DirectoryLock lock(dir);
  std::vector<std::string> finals;
  for (const Pending& p : files) finals.push_back(choose_final(out, dir, p.name, finals));
  for (std::size_t i = 0; i < files.size(); ++i) rename_into_place(out, files[i].temporary, finals[i]);
  if (out.durable && !files.empty()) sync_directory(dir);
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
    const std::string parent = dir;
    dir += l + "/";
    if (::mkdir(dir.c_str(), 0777) == 0) {
      if (out.durable) sync_directory(parent);
    } else if (errno != EEXIST) {
      shut_down(ExitCode::no_directory, dir, errno);
    }
  }
  return dir;
}

}  // namespace pk
