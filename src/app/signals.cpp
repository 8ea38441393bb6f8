#include "app/signals.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "io/output_file.hpp"

namespace neonvale {

namespace {

constexpr int kInterrupts[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

std::atomic<bool> line_open{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read from a signal handler");

// Nothing but a line end is written: writing more from a handler could block
// on a full pipe and hang the exit, and the signal in the exit status already
// says what happened.
void on_interrupt(int signal_number) {
  // The pending output goes first, so a paused terminal that blocks the write
  // below cannot keep a temporary file behind.
  remove_pending_output();
  if (line_open.exchange(false)) {
    const ssize_t ignored = ::write(STDERR_FILENO, "\n", 1);
    (void)ignored;
  }
  // SA_RESETHAND restored the default action; the signal is blocked while
  // this handler runs, so it takes effect the moment the handler returns.
  ::raise(signal_number);
}

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kInterrupts) sigaddset(&set, s);
  return set;
}

}  // namespace

void install_signal_handlers() {
  for (int signal_number : kInterrupts) {
    struct sigaction previous {};
    if (::sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    action.sa_flags = SA_RESETHAND;
    // One handler at a time: a second interrupting signal waits until the
    // first has removed the temporary and ended the process.
    action.sa_mask = interrupt_set();
    ::sigaction(signal_number, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

bool set_progress_line_open(bool open) { return line_open.exchange(open); }

}  // namespace neonvale
