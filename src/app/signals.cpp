#include "app/signals.hpp"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

#include "io/output_file.hpp"

namespace neonvale {

namespace {

constexpr int kInterrupts[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// The progress line: whether it is open, on which descriptor, and whether the
// display is drawing on it right now. The display raises `drawing` before it
// looks at `line_open`, and an interrupt lowers `line_open` before it looks at
// `drawing` (both in the one order all threads agree on), so either the draw
// sees the line closed and writes nothing, or the interrupt sees the draw and
// waits for it.
std::atomic<bool> line_open{false};
std::atomic<bool> drawing{false};
std::atomic<int> line_fd{STDERR_FILENO};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "read from a signal handler");

// Writes all of `size` bytes; a failed write only loses display. Async-signal-safe.
void write_all(int fd, const char* data, std::size_t size) noexcept {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= std::size_t(n);
  }
}

// Nothing but a line end is written: writing more from a handler could block
// on a full pipe and hang the exit, and the signal in the exit status already
// says what happened.
void on_interrupt(int signal_number) {
  // The pending output goes first, so a paused terminal that blocks the write
  // below cannot keep a temporary file behind.
  remove_pending_output();
  end_progress_line();
  // SA_RESETHAND restored the default action; the signal is blocked while
  // this handler runs, so it takes effect the moment the handler returns.
  ::raise(signal_number);
}

// The line a scratch file's fault prints, made before the handler is set.
const std::string* scratch_fault_line = nullptr;

void on_scratch_fault(int, siginfo_t* info, void*) {
  if (info->si_code == BUS_ADRERR && scratch_fault_line) {
    remove_pending_output();
    end_progress_line();
    write_all(STDOUT_FILENO, scratch_fault_line->data(), scratch_fault_line->size());
    ::_exit(1);
  }
  // Any other fault: the instruction runs again and takes the default action.
  ::signal(SIGBUS, SIG_DFL);
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

void report_scratch_faults(const std::filesystem::path& folder) {
  if (!scratch_fault_line)
    scratch_fault_line =
        new std::string("E: Cannot write scratch file in " + folder.string() + ": the disk is full or failing\n");
  struct sigaction action {};
  action.sa_sigaction = on_scratch_fault;
  action.sa_flags = SA_SIGINFO;
  action.sa_mask = interrupt_set();  // no interrupt handler in the middle of this one
  ::sigaction(SIGBUS, &action, nullptr);
}

void open_progress_line(int fd) {
  line_fd = fd;
  line_open = true;
}

bool close_progress_line() { return line_open.exchange(false); }

void draw_progress_line(const std::string& text) {
  drawing = true;
  if (line_open) write_all(line_fd, text.data(), text.size());
  drawing = false;
}

void end_progress_line() noexcept {
  if (!line_open.exchange(false)) return;
  const int fd = line_fd;
  const int saved_errno = errno;
  while (drawing) {
    struct timespec pause {0, 100000};
    ::nanosleep(&pause, nullptr);
  }
  write_all(fd, "\n", 1);
  errno = saved_errno;
}

}  // namespace neonvale
