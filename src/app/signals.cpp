#include "app/signals.hpp"

#include <signal.h>

#include "image/output_file.hpp"

namespace neonvale {

namespace {

// Nothing is printed: writing from a handler could block on a full pipe and
// hang the exit, and the signal in the exit status already says what happened.
void on_interrupt(int signal_number) {
  remove_pending_output();
  // SA_RESETHAND restored the default action; the signal is blocked while
  // this handler runs, so it takes effect the moment the handler returns.
  ::raise(signal_number);
}

}  // namespace

void install_signal_handlers() {
  for (int signal_number : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) {
    struct sigaction previous {};
    if (::sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    action.sa_flags = SA_RESETHAND;
    // One handler at a time: a second interrupting signal waits until the
    // first has removed the temporary and ended the process.
    sigemptyset(&action.sa_mask);
    for (int other : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaddset(&action.sa_mask, other);
    ::sigaction(signal_number, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

}  // namespace neonvale
