#include "hbk2sac/pending_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "hbk2sac/directories.h"
#include "common/durable.h"
#include "common/temporary_name.h"

namespace hbk {

namespace {

// Temporaries of a killed process whose id comes round again; beyond this many
// something else is wrong with the directory.
constexpr unsigned kMaxAttempts = 100;

}  // namespace

// Plain strings: std::filesystem::path::replace_filename crashes when an allocation
// inside it fails.
std::string temporary_name(const std::string& final_path, long pid, unsigned attempt) {
  const auto slash = final_path.rfind('/');
  const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  return final_path.substr(0, name_at) +
         pk::temporary_name(final_path.substr(name_at), "hbk2sac-" + std::to_string(pid), attempt);
}

PendingOutput::PendingOutput(std::string final_path) : final_path_(std::move(final_path)) {
  for (unsigned attempt = 0; attempt < kMaxAttempts; ++attempt) {
    std::string name = temporary_name(final_path_, ::getpid(), attempt);
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      error_ = errno;
      return;
    }
    // Taken over without allocating, so that from here on the destructor removes it.
    temporary_path_ = std::move(name);
    file_ = ::fdopen(fd, "w+b");
    if (file_ == nullptr) {
      error_ = errno;
      ::close(fd);
    }
    return;
  }
  error_ = EEXIST;
}

PendingOutput::~PendingOutput() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temporary_path_.empty()) ::unlink(temporary_path_.c_str());
}

pk::Failure PendingOutput::commit(bool durable) {
  if (file_ == nullptr) return failed("cannot write", final_path_, error_);
  if (durable && ::fdatasync(::fileno(file_)) != 0) return failed("cannot write", final_path_, errno);
  if (std::fclose(std::exchange(file_, nullptr)) != 0) return failed("cannot write", final_path_, errno);
  if (std::rename(temporary_path_.c_str(), final_path_.c_str()) != 0)
    return failed("cannot create", final_path_, errno);
  temporary_path_.clear();
  const std::string directory = directory_of(final_path_);
  if (durable && (error_ = pk::sync_entries(directory).error) != 0)
    return failed("cannot sync directory", directory, error_);
  return {};
}

pk::Failure PendingOutput::failed(const char* what, const std::string& path, int error) {
  error_ = error;
  return {pk::ExitCode::files_failed, what, path, error};
}

}  // namespace hbk
