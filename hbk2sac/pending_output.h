// A SAC file is written under a hidden temporary name beside its final name and
// renamed only when whole: no reader ever sees a partial file under the final
// name, and an earlier file of that name stays as it was until it is replaced.
#pragma once

#include <cstdio>
#include <string>

#include "common/failure.h"

namespace hbk {

// ".a.sac.hbk2sac-4711.part" beside "a.sac" for process 4711; a later attempt
// adds its number before ".part" (".a.sac.hbk2sac-4711.1.part").
std::string temporary_name(const std::string& final_path, long pid, unsigned attempt);

class PendingOutput {
 public:
  // file() is null when no temporary could be created; error() says why.
  explicit PendingOutput(std::string final_path);
  // Removes the temporary unless it was committed.
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  std::FILE* file() const { return file_; }
  const std::string& temporary_path() const { return temporary_path_; }
  const std::string& final_path() const { return final_path_; }

  // Closes the temporary and renames it to the final name. A durable commit first
  // flushes the data to the device, and afterwards the directory entry: without it a
  // power cut soon after may leave the final name on an empty or short file.
  // A failure naming the directory comes after the rename: the file has its final name,
  // but a power cut may yet undo that.
  pk::Failure commit(bool durable);
  // errno of the failed creation or commit step.
  int error() const { return error_; }

 private:
  pk::Failure failed(const char* what, const std::string& path, int error);

  std::string final_path_;
  std::string temporary_path_;  // empty once renamed, or when none was created
  std::FILE* file_ = nullptr;
  int error_ = 0;
};

}  // namespace hbk
