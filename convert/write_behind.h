// Channel data files written by a second thread: while the engine decodes the next
// packets on one core, the kernel copies the full buffers into the page cache on the
// other. Every write is checked; the first failure ends the run with code 22 at the
// engine's next hand-over or wait, so a full disk still fails the run. Where no thread
// can be started, the engine writes each buffer itself as it hands it on: the same bytes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "raw_file.h"

namespace pk {

// The buffers of the open files and of the writes queued behind them, not zeroed: a
// buffer given back is handed out again.
class BufferPool {
 public:
  static constexpr std::size_t kBufferBytes = 256 * 1024;

  uint8_t* take();
  void give_back(uint8_t* buffer);

 private:
  std::mutex m_;
  std::vector<uint8_t*> free_;
  std::vector<std::unique_ptr<uint8_t[]>> all_;
};

class WriteBehind {
 public:
  static constexpr std::size_t kBufferBytes = BufferPool::kBufferBytes;

  WriteBehind() = default;
  ~WriteBehind() { stop(); }
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  BufferPool& buffers() { return buffers_; }
  // Queues the first `n` bytes of `bytes`, a buffer of the pool, to be appended to `fd`;
  // the buffer goes back to the pool once written. `path` names the file if the write
  // fails. Waits while the queue is full, so memory stays bounded.
  void append(int fd, uint8_t* bytes, std::size_t n, const std::string& path);
  // Returns once every queued write is done.
  void wait();
  // Where a newly opened file hands on its first buffer: a quarter, half, three quarters
  // or all of it in turn. Channels fill their buffers at the same pace, so without this
  // they would all hand them on together, more than the queue holds, and the thread would
  // idle between such bursts.
  std::size_t first_fill();
  // Stops the thread once its current write is done; writes still queued are dropped
  // (only a run that has failed stops without waiting).
  void stop();

 private:
  struct Job {
    int fd;
    uint8_t* bytes;
    std::size_t n;
    std::string path;
  };
  void run();
  // Starts the thread; false when the system has none to give (the caller holds the lock).
  bool start_thread();
  // Ends the run naming the file whose write failed; the caller holds the lock.
  void end_if_failed(std::unique_lock<std::mutex>& lock);

  BufferPool buffers_;
  std::mutex m_;
  std::condition_variable queued_;  // a job came, or the thread is to stop
  std::condition_variable written_;  // a job is done
  std::deque<Job> queue_;
  bool writing_ = false;
  bool draining_ = false;  // the engine waits for every queued write
  bool stopping_ = false;
  std::size_t files_opened_ = 0;
  std::string failed_path_;  // of the first write that failed; empty while none has
  int failed_error_ = 0;     // its errno
  bool no_thread_ = false;   // none could be started: the engine writes
  std::thread thread_;
};

// A file open for appending whose full buffers the write-behind thread writes: the
// channel data files, into which the engine lays samples out straight, and the SEISAN
// file being assembled.
class AppendingFile {
 public:
  AppendingFile() = default;
  // Closes unchecked: only a run that has failed leaves such a file open. Its buffer goes
  // back to the pool, which outlives it.
  ~AppendingFile();
  AppendingFile(const AppendingFile&) = delete;
  AppendingFile& operator=(const AppendingFile&) = delete;

  bool is_open() const { return fd_ >= 0; }
  // Opens `path` for appending, creating it; false when it cannot be opened.
  bool open(const std::string& path, WriteBehind& writes);
  // Room for `n` more bytes (at most a buffer's), after handing on a buffer too full.
  uint8_t* room(std::size_t n) {
    if (used_ + n > fill_) hand_on();
    return buffer_ + used_;
  }
  void commit(std::size_t n) { used_ += n; }
  void append(std::string_view bytes);
  // Appends `length` bytes of `in` from `offset` on; a source that ends early ends the run
  // with code 21.
  void append_from(const RawFile& in, uint64_t offset, uint64_t length);
  // Hands on what is left, waits until everything is written and closes the file: a
  // failed write or close ends the run with code 22.
  void close();

 private:
  void hand_on();

  int fd_ = -1;
  std::string path_;
  WriteBehind* writes_ = nullptr;
  uint8_t* buffer_ = nullptr;
  std::size_t used_ = 0;
  std::size_t fill_ = 0;  // bytes at which the buffer is handed on
};

}  // namespace pk
