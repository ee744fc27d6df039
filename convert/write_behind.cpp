#include "write_behind.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <system_error>
#include <unistd.h>

#include "failure.h"

namespace pk {

namespace {

// Buffers waiting for the thread: enough to ride out a slow write, few enough that the
// run's memory stays small whatever the input's size.
constexpr std::size_t kMaxQueued = 4;
// Waking the thread costs more than a write on a virtual machine: it is woken for two
// buffers at a time, and for the last one only when the engine waits for it.
constexpr std::size_t kWakeAt = 2;

// 0 when all is written, else the errno of the failure.
int write_all(int fd, const uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return errno;
    if (w == 0) return EIO;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return 0;
}

}  // namespace

void WriteBehind::stop() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(m_);
    stopping_ = true;
  }
  queued_.notify_one();
  thread_.join();
  // Stopped clean: a later hand-over starts a thread of its own rather than queueing
  // behind writes that were dropped.
  for (const Job& dropped : queue_) buffers_.give_back(dropped.bytes);
  queue_.clear();
  stopping_ = false;
}

uint8_t* BufferPool::take() {
  const std::lock_guard<std::mutex> lock(m_);
  if (free_.empty()) {
    all_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kBufferBytes));
    // Room for every buffer to come back: giving one back, on the writing thread too,
    // never allocates.
    free_.reserve(all_.size());
    return all_.back().get();
  }
  uint8_t* b = free_.back();
  free_.pop_back();
  return b;
}

void BufferPool::give_back(uint8_t* buffer) {
  if (!buffer) return;
  const std::lock_guard<std::mutex> lock(m_);
  free_.push_back(buffer);
}

bool WriteBehind::start_thread() {
  if (no_thread_) return false;
  // The stop signals stay with the engine's thread, which looks for them.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  try {
    thread_ = std::thread(&WriteBehind::run, this);
  } catch (const std::system_error&) {
    no_thread_ = true;
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return !no_thread_;
}

void WriteBehind::append(int fd, uint8_t* bytes, std::size_t n, const std::string& path) {
  std::unique_lock<std::mutex> lock(m_);
  if (!thread_.joinable() && !start_thread()) {
    lock.unlock();
    const int error = write_all(fd, bytes, n);
    buffers_.give_back(bytes);
    if (error != 0) shut_down(ExitCode::write_error, path, error);
    return;
  }
  written_.wait(lock, [this] { return queue_.size() < kMaxQueued || !failed_path_.empty(); });
  end_if_failed(lock);
  queue_.push_back({fd, bytes, n, path});
  const bool wake = queue_.size() >= kWakeAt;
  lock.unlock();
  if (wake) queued_.notify_one();
}

std::size_t WriteBehind::first_fill() { return kBufferBytes / 4 * (1 + files_opened_++ % 4); }

void WriteBehind::wait() {
  std::unique_lock<std::mutex> lock(m_);
  draining_ = true;
  queued_.notify_one();
  written_.wait(lock, [this] { return (queue_.empty() && !writing_) || !failed_path_.empty(); });
  draining_ = false;
  end_if_failed(lock);
}

void WriteBehind::end_if_failed(std::unique_lock<std::mutex>& lock) {
  if (failed_path_.empty()) return;
  const std::string path = failed_path_;
  const int error = failed_error_;
  lock.unlock();
  shut_down(ExitCode::write_error, path, error);
}

void WriteBehind::run() {
  std::unique_lock<std::mutex> lock(m_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || queue_.size() >= kWakeAt || (draining_ && !queue_.empty()); });
    if (stopping_) return;
    // Moved, not copied: nothing in this thread may allocate, for a failure here could not
    // end the run.
    Job job = std::move(queue_.front());
    queue_.pop_front();
    writing_ = true;
    lock.unlock();
    // After a failure nothing more is written: the run is ending.
    const int error = write_all(job.fd, job.bytes, job.n);
    buffers_.give_back(job.bytes);
    lock.lock();
    writing_ = false;
    if (error != 0 && failed_path_.empty()) {
      failed_path_ = std::move(job.path);
      failed_error_ = error;
    }
    if (!failed_path_.empty()) {
      for (const Job& dropped : queue_) buffers_.give_back(dropped.bytes);
      queue_.clear();
    }
    written_.notify_all();
  }
}

AppendingFile::~AppendingFile() {
  if (fd_ >= 0) ::close(fd_);
  if (writes_) writes_->buffers().give_back(buffer_);
}

bool AppendingFile::open(const std::string& path, WriteBehind& writes) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) return false;
  path_ = path;
  writes_ = &writes;
  buffer_ = writes.buffers().take();
  used_ = 0;
  fill_ = writes.first_fill();
  return true;
}

void AppendingFile::hand_on() {
  fill_ = WriteBehind::kBufferBytes;
  if (used_ == 0) return;
  writes_->append(fd_, std::exchange(buffer_, nullptr), used_, path_);
  buffer_ = writes_->buffers().take();
  used_ = 0;
}

void AppendingFile::append(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t n = std::min(bytes.size(), WriteBehind::kBufferBytes);
    std::memcpy(room(n), bytes.data(), n);
    commit(n);
    bytes.remove_prefix(n);
  }
}

void AppendingFile::append_from(const RawFile& in, uint64_t offset, uint64_t length) {
  while (length > 0) {
    if (used_ >= fill_) hand_on();
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(length, fill_ - used_));
    const std::size_t got = in.read_at(offset, {buffer_ + used_, want});
    if (got == 0) shut_down(ExitCode::read_error, in.path(), "shorter than the samples written into it");
    commit(got);
    offset += got;
    length -= got;
  }
}

void AppendingFile::close() {
  if (fd_ < 0) return;
  uint8_t* rest = std::exchange(buffer_, nullptr);
  if (used_ > 0) writes_->append(fd_, rest, used_, path_);
  else writes_->buffers().give_back(rest);
  used_ = 0;
  writes_->wait();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) shut_down(ExitCode::write_error, path_, errno);
}

}  // namespace pk
