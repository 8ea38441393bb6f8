// Interrupting a run: SIGINT, SIGTERM or SIGHUP during the render or the save
// must end the process by that signal, print nothing, and leave neither a
// temporary file nor a partial picture; an older picture stays as it was.
#include <fcntl.h>
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

// True once the process has begun writing its picture: a file it holds open
// in `folder` (the output's temporary, which may have no name, or the
// picture itself), other than its standard streams and its assets, has
// bytes in it.
bool writing_output(pid_t pid, const fs::path& folder) {
  const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fds, error)) {
    if (std::stoi(entry.path().filename().string()) <= 2) continue;
    const std::string file = fs::read_symlink(entry.path(), error).string();
    if (error || file.rfind(folder.string() + "/", 0) != 0 || file.rfind((folder / "assets").string(), 0) == 0)
      continue;
    struct stat st {};
    if (::stat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) return true;
  }
  return false;
}

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
// record of it; false if the process ends or ten seconds pass first.
bool wait_until_catching(pid_t pid, int signal_number) {
  const std::string status_path = "/proc/" + std::to_string(pid) + "/status";
  const auto deadline = Clock::now() + std::chrono::seconds(10);
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

// Starts a run of `args` and sends `sig` once it is writing its picture.
// False (and the process reaped) when the run ended before that was seen.
bool signal_while_saving(const Workspace& w, const std::vector<std::string>& args, int sig, int* status) {
  const pid_t pid = start(w.dir.path(), args);
  if (pid <= 0) return false;
  while (true) {
    if (writing_output(pid, w.dir.path())) {
      ::kill(pid, sig);
      *status = wait_for(pid);
      return true;
    }
    if (::waitpid(pid, status, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

// After an interrupted save, the picture in place is either the older one or
// the complete new one, never a truncated file.
void expect_older_or_complete_picture(const Workspace& w, int width, int height) {
  if (test::read_file(w.output()) == kOlderPicture) return;
  const Image image = load_png(w.output());  // throws on a partial file
  EXPECT_EQ(image.width, width);
  EXPECT_EQ(image.height, height);
}

TEST(Interrupt, SignalDuringRenderEndsTheRunByThatSignal) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    Workspace w;
    const pid_t pid = start(w.dir.path(), {"-w", "1280", "-h", "720", "-a", "2"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(wait_until_catching(pid, sig)) << "the handlers were never installed";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // well inside the render
    ASSERT_EQ(::kill(pid, sig), 0);
    const int status = wait_for(pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run was not ended by the signal, status " << status;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_EQ(w.out(), "");
    EXPECT_EQ(test::read_file(w.output()), kOlderPicture);
    EXPECT_FALSE(has_temporary(w.dir.path()));
  }
}

// The signal lands while the picture is being written. The picture in place
// is then either the older one or, if the signal came after the rename, the
// complete new one; never a truncated file, and no temporary is left.
TEST(Interrupt, SignalDuringSaveLeavesNoTemporaryAndNoPartialPicture) {
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(sig));
    bool caught_saving = false;
    for (int attempt = 0; attempt < 3 && !caught_saving; ++attempt) {
      Workspace w;
      int status = 0;
      caught_saving = signal_while_saving(w, {"-w", "1280", "-h", "720", "-a", "1"}, sig, &status);
      if (!caught_saving) continue;  // the save was too quick to see; try again
      ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
      EXPECT_EQ(WTERMSIG(status), sig);
      EXPECT_EQ(w.out(), "");
      EXPECT_FALSE(has_temporary(w.dir.path()));
      expect_older_or_complete_picture(w, 1280, 720);
    }
    EXPECT_TRUE(caught_saving) << "never saw the save in progress";
  }
}

// SIGKILL cannot be handled: whatever the killed run leaves (nothing where
// the file system has unnamed temporaries) must be gone after the next run.
TEST(Interrupt, KillDuringSaveLeavesNothingBeyondTheNextRun) {
  bool caught_saving = false;
  for (int attempt = 0; attempt < 3 && !caught_saving; ++attempt) {
    Workspace w;
    int status = 0;
    caught_saving = signal_while_saving(w, {"-w", "1280", "-h", "720", "-a", "1"}, SIGKILL, &status);
    if (!caught_saving) continue;
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    expect_older_or_complete_picture(w, 1280, 720);

    const pid_t next = start(w.dir.path(), {"-w", "64", "-h", "64", "-a", "1"});
    ASSERT_GT(next, 0);
    status = wait_for(next);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_FALSE(has_temporary(w.dir.path()));
    EXPECT_EQ(load_png(w.output()).width, 64);
  }
  EXPECT_TRUE(caught_saving) << "never saw the save in progress";
}

TEST(Interrupt, ShellSeesTheSignalAsStatus128PlusN) {
  Workspace w;
  // A background job of a script ignores SIGINT, so SIGTERM is the one a
  // script would send.
  const test::RunResult r = test::run_in(
      w.dir.path(), "sh -c '\"$0\" -w 1280 -h 720 -a 2 & pid=$!; sleep 0.05; kill -TERM $pid; wait $pid; echo $?' '" +
                        std::string(NEONVALE_EXE) + "'");
  EXPECT_EQ(r.out, "143\n");
  EXPECT_EQ(test::read_file(w.output()), kOlderPicture);
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
