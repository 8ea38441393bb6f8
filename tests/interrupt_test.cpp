// Interrupting a run: SIGINT, SIGTERM or SIGHUP during the render or the save
// must end the process by that signal, print nothing, and leave neither a
// temporary file nor a partial picture; an older picture stays as it was.
//
// No test here waits on a clock to guess where a run is. A run whose output
// is a named pipe that the test holds open but does not read cannot finish:
// its save blocks once the pipe is full, and data in the pipe says the save
// has begun. The removal of a save's temporary is checked in a child process
// that stops, with its temporary written, until the test signals it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/signals.hpp"
#include "io/output_file.hpp"
#include "io/png_io.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kOlderPicture = "an older picture that an interrupted run must leave alone\n";

struct Workspace {
  test::TempDir dir;
  Workspace() {
    dir.install_assets();
    std::ofstream(output(), std::ios::binary) << kOlderPicture;
  }
  fs::path output() const { return dir.path() / "01_LumenDrift.png"; }
  std::string out() const { return test::read_file(dir.path() / ".out"); }
};

bool has_temporary(const fs::path& folder) { return !test::leftover_temporaries(folder).empty(); }

// Starts the executable in `folder` with the given arguments, standard output
// in <folder>/.out, every signal at its default action except `ignored`.
pid_t start(const fs::path& folder, const std::vector<std::string>& args, int ignored = 0) {
  std::vector<std::string> words = {NEONVALE_EXE};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const std::string out = (folder / ".out").string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = ::open("/dev/null", O_RDONLY);
    if (fd < 0 || null < 0) ::_exit(127);
    ::dup2(fd, 1);
    ::dup2(null, 0);
    for (int s = 1; s < NSIG; ++s) ::signal(s, s == ignored ? SIG_IGN : SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// True once the process catches `signal_number`, read from the kernel's
// record of it; false if the process ends first.
bool wait_until_catching(pid_t pid, int signal_number) {
  const std::string status_path = "/proc/" + std::to_string(pid) + "/status";
  // Only a guard against a run that never gets there.
  const auto deadline = Clock::now() + std::chrono::seconds(120);
  while (Clock::now() < deadline) {
    std::ifstream status(status_path);
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("SigCgt:", 0) == 0) {
        const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
        if (caught & (1ull << (signal_number - 1))) return true;
      }
    int ignored_status;
    if (::waitpid(pid, &ignored_status, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Where each thread of a live process is: its state, the kernel function it
// sleeps in and its system call, for a failure to show where a run stuck.
std::string thread_states(pid_t pid) {
  const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::string states;
  std::error_code error;
  for (const auto& task : fs::directory_iterator(tasks, error)) {
    std::string stat = test::read_file(task.path() / "stat");
    const std::size_t name_end = stat.rfind(')');
    const char state = name_end != std::string::npos && name_end + 2 < stat.size() ? stat[name_end + 2] : '?';
    std::string syscall = test::read_file(task.path() / "syscall");
    if (!syscall.empty() && syscall.back() == '\n') syscall.pop_back();
    states += "\n  thread " + task.path().filename().string() + ": " + state + " in " +
              test::read_file(task.path() / "wchan") + ", syscall " + syscall;
  }
  return states;
}

// Waits for the run to end; one still running after the guard's time is
// described, then killed.
int wait_for_end(pid_t pid, std::string* stuck) {
  const auto deadline = Clock::now() + std::chrono::seconds(240);
  int status = 0;
  while (Clock::now() < deadline) {
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid || (ended < 0 && errno != EINTR)) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  *stuck = thread_states(pid);
  ::kill(pid, SIGKILL);
  return wait_for(pid);
}

// The output's name made a named pipe, held open for reading (without
// reading) for the life of the object, so that a run saving into it blocks
// once the pipe is full.
class UnreadPipe {
 public:
  explicit UnreadPipe(const fs::path& path) {
    fs::remove(path);
    if (::mkfifo(path.c_str(), 0644) == 0) fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  }
  ~UnreadPipe() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  // Waits until the run `pid` has written into the pipe: its save has begun.
  // False if the run ends first (a pipe nobody opened for writing never
  // reports an end), the run then left for the caller to reap, or if it
  // does neither within the guard's time.
  bool wait_for_data(pid_t pid) const {
    struct pollfd p {fd_, POLLIN, 0};
    // Only a guard against a run that never gets there.
    const auto deadline = Clock::now() + std::chrono::seconds(240);
    while (Clock::now() < deadline) {
      if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) return true;
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
        return false;
    }
    return false;
  }

 private:
  int fd_ = -1;
};

// A child of this process that installs the program's signal handlers,
// opens `target` as the program opens its output, writes part of a picture
// and then waits to be signalled; returns once the bytes are written. A
// named temporary can then be seen beside the target.
pid_t child_stopped_while_saving(const fs::path& target, OutputFile::Temporary temporary) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (int s = 1; s < NSIG; ++s) ::signal(s, SIG_DFL);
    install_signal_handlers();
    OutputFile out(target, temporary);
    if (!out.is_open()) ::_exit(3);
    std::fputs("\x89PNG part of a picture", out.file());
    std::fflush(out.file());
    const ssize_t written = ::write(ready[1], "x", 1);
    (void)written;
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char byte;
  const ssize_t n = ::read(ready[0], &byte, 1);  // returns when the child is ready, or gone
  ::close(ready[0]);
  if (n != 1) {
    wait_for(pid);
    return -1;
  }
  return pid;
}

// The real program, signalled at any moment after its handlers are in place:
// its output is a pipe it cannot finish writing, so it is still running.
TEST(Interrupt, SignalDuringRenderEndsTheRunByThatSignal) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    Workspace w;
    const UnreadPipe output(w.output());
    ASSERT_TRUE(output.ok());
    const pid_t pid = start(w.dir.path(), {"-w", "1280", "-h", "720", "-a", "2"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(wait_until_catching(pid, sig)) << "the handlers were never installed";
    ASSERT_EQ(::kill(pid, sig), 0);
    std::string stuck;
    const int status = wait_for_end(pid, &stuck);
    ASSERT_TRUE(stuck.empty()) << "the run outlived its signal:" << stuck;
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run was not ended by the signal, status " << status;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_EQ(w.out(), "");
    EXPECT_FALSE(has_temporary(w.dir.path()));
  }
}

// The real program, signalled while it writes its picture.
TEST(Interrupt, SignalDuringSaveEndsTheRunByThatSignal) {
  Workspace w;
  const UnreadPipe output(w.output());
  ASSERT_TRUE(output.ok());
  const pid_t pid = start(w.dir.path(), {"-w", "1280", "-h", "720", "-a", "1"});
  ASSERT_GT(pid, 0);
  const bool saving = output.wait_for_data(pid);
  const std::string before_signal = saving ? "" : thread_states(pid);
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  std::string stuck;
  const int status = wait_for_end(pid, &stuck);
  ASSERT_TRUE(saving) << "the run did not start its save, status " << status << ", output: " << w.out()
                      << ", threads:" << before_signal;
  ASSERT_TRUE(stuck.empty()) << "the run outlived its signal:" << stuck;
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(w.out(), "");
}

// A signal while the picture is being written removes the temporary, named
// or not, and leaves the older picture as it was.
TEST(Interrupt, SignalDuringSaveLeavesNoTemporaryAndTheOlderPicture) {
  for (const auto temporary : {OutputFile::Temporary::named, OutputFile::Temporary::unnamed_where_possible}) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      SCOPED_TRACE(std::string(strsignal(sig)) +
                   (temporary == OutputFile::Temporary::named ? ", named temporary" : ", unnamed temporary"));
      Workspace w;
      const pid_t pid = child_stopped_while_saving(w.output(), temporary);
      ASSERT_GT(pid, 0);
      if (temporary == OutputFile::Temporary::named) {
        EXPECT_TRUE(has_temporary(w.dir.path()));
      }
      ASSERT_EQ(::kill(pid, sig), 0);
      const int status = wait_for(pid);
      ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
      EXPECT_EQ(WTERMSIG(status), sig);
      EXPECT_FALSE(has_temporary(w.dir.path()));
      EXPECT_EQ(test::read_file(w.output()), kOlderPicture);
    }
  }
}

// SIGKILL cannot be handled: a named temporary it leaves is removed by the
// next run that saves the same picture.
TEST(Interrupt, KillDuringSaveLeavesNothingBeyondTheNextRun) {
  Workspace w;
  const pid_t pid = child_stopped_while_saving(w.output(), OutputFile::Temporary::named);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  wait_for(pid);
  EXPECT_TRUE(has_temporary(w.dir.path()));
  EXPECT_EQ(test::read_file(w.output()), kOlderPicture);

  const pid_t next = start(w.dir.path(), {"-w", "64", "-h", "64", "-a", "1"});
  ASSERT_GT(next, 0);
  const int status = wait_for(next);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_FALSE(has_temporary(w.dir.path()));
  EXPECT_EQ(load_png(w.output()).width, 64);
}

TEST(Interrupt, ShellSeesTheSignalAsStatus128PlusN) {
  Workspace w;
  // A background job of a script ignores SIGINT, so SIGTERM is the one a
  // script would send. The script's opening of the named pipe for reading
  // returns once the run has opened it as its output, so the run is under
  // way, and it cannot finish while nothing reads the pipe.
  const test::RunResult r = test::run_in(
      w.dir.path(), "rm 01_LumenDrift.png && mkfifo 01_LumenDrift.png && sh -c '\"$0\" -w 1280 -h 720 -a 1 & "
                    "pid=$!; exec 3<01_LumenDrift.png; kill -TERM $pid; wait $pid; echo $?' '" +
                        std::string(NEONVALE_EXE) + "'");
  EXPECT_EQ(r.out, "143\n");
  EXPECT_FALSE(has_temporary(w.dir.path()));
}

// nohup and background jobs start the program with a signal ignored; it must
// stay ignored and the run finish normally.
TEST(Interrupt, SignalIgnoredAtStartStaysIgnored) {
  Workspace w;
  const pid_t pid = start(w.dir.path(), {"-w", "960", "-h", "540", "-a", "1"}, SIGHUP);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(wait_until_catching(pid, SIGINT));
  ::kill(pid, SIGHUP);
  const int status = wait_for(pid);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const Image image = load_png(w.output());
  EXPECT_EQ(image.width, 960);
  EXPECT_FALSE(has_temporary(w.dir.path()));
}

}  // namespace
}  // namespace neonvale
