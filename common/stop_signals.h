// CTRL-C, SIGTERM, SIGPIPE, SIGHUP and SIGQUIT during a conversion: the handler only
// records the signal, and the converter looks for it between packets or blocks, so it
// can drop what it had not finished and leave the files of earlier runs as they were.
#pragma once

#include <csignal>

namespace pk {

// While it lives, these signals are recorded instead of ending the process;
// the handlers the process had before come back when it goes.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  // Whether one of them came since this object was made.
  bool requested() const;

  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  static constexpr int handled_signals = 5;

 private:
  struct sigaction previous_[handled_signals] {};
};

// Whether one of them came while a StopSignals lived (for code far from it).
bool stop_requested();
// The first signal that came; 0 when none did.
int stop_signal();

}  // namespace pk
