// Ending the console on a signal, without losing the close of the bus.
#include "console/interpreter/end_signals.h"

#include <poll.h>
#include <signal.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>

namespace end_signals {
namespace {

constexpr std::array<int, 3> ending_signals = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t ending_signal = 0;

sigset_t end_set;      // the signals that end the console
sigset_t waiting_mask; // the mask while waiting for input: them let through

void on_end_signal(int number) { ending_signal = number; }

// A signal sent while commands ran is still pending; take it now, so that a
// stream of ready input cannot keep it waiting until the input runs out.
bool take_pending() {
  const timespec no_wait{0, 0};
  const int number = sigtimedwait(&end_set, nullptr, &no_wait);
  if (number > 0) ending_signal = number;
  return ending_signal != 0;
}

}  // namespace

void install() {
  sigemptyset(&end_set);
  struct sigaction action {};
  action.sa_handler = on_end_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the wait for input must return
  for (const int number : ending_signals) {
    struct sigaction inherited {};
    sigaction(number, nullptr, &inherited);
    // A signal the starting shell ignores (a background job, nohup) stays
    // ignored, as for any well-behaved program. It is not held back either:
    // held back, it would wait as pending instead of being dropped.
    if (inherited.sa_handler == SIG_IGN) continue;
    sigaction(number, &action, nullptr);
    sigaddset(&end_set, number);
  }

  // Output to a reader that went away must not kill the console while it
  // holds the bus; the writes fail and the session runs to its end.
  std::signal(SIGPIPE, SIG_IGN);

  sigset_t previous;
  sigprocmask(SIG_BLOCK, &end_set, &previous);
  waiting_mask = previous;
  for (const int number : ending_signals) {
    if (sigismember(&end_set, number) == 1) sigdelset(&waiting_mask, number);
  }
}

int received() {
  take_pending();
  return ending_signal;
}

bool wait_for_input(int fd) {
  for (;;) {
    if (ending_signal != 0 || take_pending()) return false;
    pollfd input{fd, POLLIN, 0};
    // The mask is swapped and the wait begun in one step, so a signal can
    // not slip in between the check above and the wait.
    const int ready = ppoll(&input, 1, nullptr, &waiting_mask);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // the read reports it
  }
}

}  // namespace end_signals
