// CTRL-C and SIGTERM during a conversion: the handler only records the signal,
// and the driver looks between blocks, so it can drop the unfinished SAC file
// and leave an earlier one of that name as it was.
#pragma once

#include <csignal>

namespace hbk {

// The exit status of a run that was stopped by CTRL-C or SIGTERM.
constexpr int status_interrupted = 130;

// While it lives, CTRL-C and SIGTERM are recorded instead of ending the process;
// the handlers the process had before come back when it goes.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  // Whether CTRL-C or SIGTERM came since this object was made.
  bool requested() const;

  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction previous_[2] {};
};

}  // namespace hbk
