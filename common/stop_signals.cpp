#include "stop_signals.h"

namespace pk {

namespace {

volatile std::sig_atomic_t stop_signal_seen = 0;
// A closed pipe, a closed terminal and CTRL-\ end a run as CTRL-C does: cleanly.
constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGQUIT};
constexpr int signal_count = StopSignals::handled_signals;
static_assert(sizeof stop_signals / sizeof stop_signals[0] == signal_count);

extern "C" void on_stop_signal(int signal) {
  if (stop_signal_seen == 0) stop_signal_seen = signal;
}

}  // namespace

StopSignals::StopSignals() {
  stop_signal_seen = 0;
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read that waits on a pipe or a slow disk returns, so the
  // converter sees the signal at once.
  for (int i = 0; i < signal_count; ++i) {
    sigaction(stop_signals[i], &action, &previous_[i]);
    // Started under nohup: the hangup was meant to pass the run by.
    if (stop_signals[i] == SIGHUP && previous_[i].sa_handler == SIG_IGN)
      sigaction(SIGHUP, &previous_[i], nullptr);
  }
}

StopSignals::~StopSignals() {
  for (int i = 0; i < signal_count; ++i) sigaction(stop_signals[i], &previous_[i], nullptr);
}

bool StopSignals::requested() const { return stop_requested(); }

bool stop_requested() { return stop_signal_seen != 0; }

int stop_signal() { return stop_signal_seen; }

}  // namespace pk
