// The progress display: its line layout, its redraws in this process, and
// the real executable with standard error on a pseudo-terminal.
#include "app/progress.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/options.hpp"
#include "app/signals.hpp"
#include "test_support.hpp"
#include "scene/scene.hpp"

namespace neonvale {
namespace {

using test::TempDir;
using Clock = std::chrono::steady_clock;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The frames of a progress stream: the texts between "\r\033[K" marks.
std::vector<std::string> frames(const std::string& stream) {
  std::vector<std::string> result;
  const std::string mark = "\r\033[K";
  std::size_t at = stream.find(mark);
  while (at != std::string::npos) {
    const std::size_t next = stream.find(mark, at + mark.size());
    result.push_back(stream.substr(at + mark.size(), next == std::string::npos ? next : next - at - mark.size()));
    at = next;
  }
  return result;
}

ProgressView view(const char* step, int number, double fraction, double seconds) {
  ProgressView v;
  v.step = step;
  v.step_number = number;
  v.step_count = 15;
  v.fraction = fraction;
  v.seconds = seconds;
  return v;
}

TEST(ProgressLine, ShowsCounterStepBarPercentAndTime) {
  const std::string line = progress_line(view("reflections", 7, 0.5, 3.31), 100);
  EXPECT_EQ(line, "[ 7/15] reflections     [============>           ]  50%  3.3 s");
  EXPECT_EQ(progress_line(view("tone_map", 12, 1.7, 0), 100),
            "[12/15] tone map        [========================] 100%  0.0 s");
}

TEST(ProgressLine, LeavesTheBarOutWhileTheStepHasNotCounted) {
  const std::string line = progress_line(view("loading assets", 1, -1, 0.2), 100);
  EXPECT_EQ(line.find('%'), std::string::npos);
  EXPECT_EQ(line.compare(0, 22, "[ 1/15] loading assets"), 0) << line;
  // The time stays where it is when a bar appears.
  EXPECT_EQ(line.size(), progress_line(view("loading assets", 1, 0.3, 0.2), 100).size());
}

TEST(ProgressLine, NeverFillsTheLastColumn) {
  for (int columns = 1; columns <= 90; ++columns) {
    const std::string line = progress_line(view("reflections", 7, 0.25, 125), columns);
    EXPECT_LE(line.size(), std::size_t(std::max(1, columns - 1))) << columns;
    EXPECT_FALSE(line.empty());
  }
  // A narrow terminal drops the bar but keeps the step and the time.
  EXPECT_EQ(progress_line(view("reflections", 7, 0.25, 125), 40), "[ 7/15] reflections  2:05");
}

TEST(ProgressLine, DurationsAndTheFinalLine) {
  EXPECT_EQ(format_duration(0.04), "0.0 s");
  EXPECT_EQ(format_duration(12.34), "12.3 s");
  EXPECT_EQ(format_duration(59.96), "1:00");
  EXPECT_EQ(format_duration(125), "2:05");
  EXPECT_EQ(format_duration(3725), "1:02:05");
  EXPECT_EQ(finished_line("./01_LumenDrift.png", 4.25), "Wrote ./01_LumenDrift.png in 4.2 s");
}

TEST(ProgressLine, ShowsTheTimeLeftAndDropsItBeforeTheName) {
  ProgressView v = view("reflections", 7, 0.5, 75.3);
  v.remaining = 24.2;
  EXPECT_EQ(progress_line(v, 100), "[ 7/15] reflections     [============>           ]  50%  1:15, 25 s left");
  v.remaining = 3725;
  EXPECT_EQ(progress_line(v, 40), "[ 7/15] reflections  1:15, 1:02:05 left");
  EXPECT_EQ(progress_line(v, 30), "[ 7/15] reflections  1:15");
  EXPECT_EQ(format_time_left(0.2), "1 s left");
  EXPECT_EQ(format_time_left(59.5), "1:00 left");
}

// Steps that take just their shares of the run give the exact time left,
// counted or not; steps that run slow never make it grow before they end.
TEST(RemainingTime, ExactForStepsThatKeepToTheirSharesAndNeverGrowWithinAStep) {
  const std::vector<double> shares = {0.02, 0.1, 0.28, 0.2, 0.4};
  const double total = 200;
  RemainingTime left(shares);
  left.step_begins(0, 0);
  EXPECT_LT(left.at(1, 0.5), 0) << "nothing done yet";
  double begin = shares[0] * total;
  for (int step = 1; step < int(shares.size()); ++step) {
    left.step_begins(step, begin);
    const double length = shares[std::size_t(step)] * total;
    if (step == 1) {
      EXPECT_LT(left.at(begin + length / 2, 0.5), 0) << "the loading alone says too little";
      begin += length;
      continue;
    }
    for (double f : {0.0, 0.25, 0.9, 1.0}) {
      const double t = begin + f * length;
      EXPECT_NEAR(left.at(t, f), total - t, 1e-9) << step << " counted " << f;
      EXPECT_NEAR(left.at(t, -1), total - t, 1e-9) << step << " uncounted " << f;
    }
    // Three times slower than expected: the estimate stops at the step's end
    // instead of growing with the time that passes.
    double before = left.at(begin, 0.0);
    for (double t = begin; t < begin + 3 * length; t += length / 7) {
      const double counted = left.at(t, (t - begin) / (3 * length));
      const double uncounted = left.at(t, -1);
      EXPECT_LE(counted, before + 1e-9);
      EXPECT_LE(uncounted, left.at(begin, -1) + 1e-9);
      EXPECT_GE(uncounted, total - (begin + length) - 1e-9);
      before = counted;
    }
    begin += length;
  }
}

// Every step that counts its work ends with all of it done, so the bar of a
// step ends full and the next step starts its own.
TEST(StepCounting, EveryCountedStepEndsComplete) {
  RenderSettings settings;
  settings.width = 96;
  settings.height = 64;
  const StepProgress* current = nullptr;
  std::vector<std::string> uncounted;
  RenderObserver observer;
  observer.stage_begin = [&](const char*, const StepProgress& progress) { current = &progress; };
  observer.stage_end = [&](const char* stage, const ImagePlanes&) {
    ASSERT_NE(current, nullptr);
    if (current->total() == 0)
      uncounted.push_back(stage);
    else
      EXPECT_EQ(current->done(), current->total()) << stage;
    current = nullptr;
  };
  render_scene(settings, test::shipped_assets(), &observer);
  // Plain copies and the halvings are over too soon to show a bar.
  EXPECT_EQ(uncounted, (std::vector<std::string>{"snapshot"}));
}

TEST(StepCounting, NeverGoesBackAndIgnoresASecondTotal) {
  StepProgress p;
  EXPECT_LT(p.fraction(), 0.0);
  p.set_total(4);
  p.set_total(100);
  EXPECT_EQ(p.total(), 4);
  p.advance(1);
  EXPECT_EQ(p.fraction(), 0.25);
  p.advance(5);
  EXPECT_EQ(p.fraction(), 1.0);  // counting past the total stays full
}

// A pipe the display draws into, read after the display is gone.
class Pipe {
 public:
  Pipe() {
    int fds[2];
    if (::pipe(fds) != 0) std::abort();
    read_end_ = fds[0];
    write_end_ = fds[1];
    ::fcntl(read_end_, F_SETFL, O_NONBLOCK);
  }
  ~Pipe() {
    ::close(read_end_);
    if (write_end_ >= 0) ::close(write_end_);
  }
  int write_end() const { return write_end_; }
  // Everything written so far.
  const std::string& text() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(read_end_, buffer, sizeof buffer)) > 0) text_.append(buffer, std::size_t(n));
    return text_;
  }

 private:
  int read_end_ = -1;
  int write_end_ = -1;
  std::string text_;
};

TEST(ProgressDisplay, RedrawsStepAndItsBarThenTheFinalLine) {
  Pipe pipe;
  {
    ProgressDisplay display(true, pipe.write_end());
    StepProgress loading;
    loading.set_total(4);
    loading.advance(4);
    display.step("loading assets", &loading);
    display.wait_for_redraws(1);
    EXPECT_EQ(frames(pipe.text()).back().compare(0, 22, "[ 1/12] loading assets"), 0) << pipe.text();
    ASSERT_NE(display.observer(), nullptr);
    StepProgress reflections;
    display.observer()->stage_begin("reflections", reflections);
    display.wait_for_redraws(1);
    // The finished step before shows no bar in this one until it counts.
    EXPECT_EQ(frames(pipe.text()).back().compare(0, 19, "[ 7/12] reflections"), 0) << pipe.text();
    EXPECT_FALSE(contains(frames(pipe.text()).back(), "%"));
    reflections.set_total(200);
    reflections.advance(100);
    display.wait_for_redraws(1);
    EXPECT_TRUE(contains(frames(pipe.text()).back(), " 50%")) << pipe.text();
    display.finish("./01_LumenDrift.png");
    const std::string before = pipe.text();
    display.wait_for_redraws(1);  // the drawing thread is gone: returns at once
    EXPECT_EQ(pipe.text(), before) << "drawn after finish";
  }
  const std::string text = pipe.text();
  EXPECT_EQ(text.compare(0, 4, "\r\033[K"), 0);
  const std::string last = frames(text).back();
  EXPECT_EQ(last.compare(0, 29, "Wrote ./01_LumenDrift.png in "), 0) << last;
  EXPECT_EQ(last.substr(last.size() - 3), " s\n");
  EXPECT_EQ(text.find('\n'), text.size() - 1) << "only the final line ends";
}

TEST(ProgressDisplay, AnUnfinishedDisplayEndsItsLine) {
  Pipe pipe;
  {
    ProgressDisplay display(true, pipe.write_end());
    display.step("robot");
    display.wait_for_redraws(1);
  }  // as when an error unwinds past it
  const std::string text = pipe.text();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(frames(text).back().compare(0, 13, "[ 6/12] robot"), 0);
}

// An interrupt ends the line with a newline, as its handler does; whatever the
// display's thread tries to draw after that stays off the terminal, so the
// shell's prompt starts on a clean line.
TEST(ProgressDisplay, NothingIsDrawnAfterAnInterruptEndsTheLine) {
  Pipe pipe;
  {
    ProgressDisplay display(true, pipe.write_end());
    display.step("reflections");
    display.wait_for_redraws(1);
    end_progress_line();
    display.step("rain");
    display.wait_for_redraws(2);
  }
  const std::string text = pipe.text();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  EXPECT_FALSE(contains(text, "rain")) << text;
}

// A render from scratch files says so once, on a line of its own above the
// progress line, which goes on redrawing below it.
TEST(ProgressDisplay, ANoteStandsOnceAboveTheLine) {
  const std::string note = scratch_files_line("/var/tmp", std::uint64_t(46) << 28, std::uint64_t(3) << 29);
  EXPECT_EQ(note, "Memory is short (about 11.5 GiB needed, 1.5 GiB available): the images go to scratch files in "
                  "/var/tmp");
  Pipe pipe;
  {
    ProgressDisplay display(true, pipe.write_end());
    display.note(note);
    display.step("loading assets");
    display.wait_for_redraws(1);
    display.step("sky");
    display.wait_for_redraws(1);
    display.finish("./01_LumenDrift.png");
  }
  const std::string text = pipe.text();
  EXPECT_EQ(text.compare(0, 4 + note.size() + 1, "\r\033[K" + note + "\n"), 0) << text;
  EXPECT_EQ(text.find(note), text.rfind(note)) << text;
  EXPECT_EQ(frames(text).back().compare(0, 6, "Wrote "), 0) << text;
}

TEST(ProgressDisplay, DisabledDrawsNothingAndObservesNothing) {
  Pipe pipe;
  {
    ProgressDisplay display(false, pipe.write_end());
    EXPECT_EQ(display.observer(), nullptr);
    display.note("a note");
    display.step("sky");
    display.wait_for_redraws(1);  // no drawing thread: returns at once
    display.finish("./01_LumenDrift.png");
  }
  EXPECT_EQ(pipe.text(), "");
}

// The executable run with standard error on a pseudo-terminal of `columns`
// columns, standard output into a file and standard input empty.
struct TerminalRun {
  int exit_code = -1;
  int signal = 0;
  std::string terminal;  // everything written to the terminal
  std::string out;
};

// `prefix` are the words of a command that runs the executable (setpriv,
// prlimit), found on the PATH.
TerminalRun run_on_terminal(const std::filesystem::path& folder, const std::vector<std::string>& args,
                            int columns, const std::function<bool(const std::string&)>& interrupt_when = {},
                            const std::vector<std::string>& prefix = {},
                            const std::string& program = NEONVALE_EXE) {
  TerminalRun run;
  struct winsize size {};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = 24;
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
    ADD_FAILURE() << "openpty failed";
    return run;
  }
  // Everything the child needs is made before fork, which leaves it only
  // async-signal-safe calls.
  const std::string out_path = (folder / ".terminal.out").string();
  const std::string folder_text = folder.string();
  std::vector<std::string> words = prefix;
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0 || ::chdir(folder_text.c_str()) != 0) ::_exit(126);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(slave, STDERR_FILENO);
    ::close(in);
    ::close(out);
    ::close(slave);
    ::close(master);
    // As at a terminal: a run started from a background job would ignore
    // SIGINT and SIGQUIT.
    for (int s : {SIGINT, SIGQUIT}) ::signal(s, SIG_DFL);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(slave);
  bool interrupted = false;
  const auto deadline = Clock::now() + std::chrono::seconds(300);  // a guard against a hang only
  for (;;) {
    struct pollfd p {master, POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) {
      char buffer[4096];
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n <= 0) break;  // EIO: the terminal's last writer has gone
      run.terminal.append(buffer, std::size_t(n));
    }
    if (interrupt_when && !interrupted && interrupt_when(run.terminal)) {
      ::kill(pid, SIGINT);
      interrupted = true;
    }
    if (Clock::now() > deadline) {
      ADD_FAILURE() << "the run did not end";
      ::kill(pid, SIGKILL);
      break;
    }
  }
  ::close(master);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.out = test::read_file(out_path);
  std::filesystem::remove(out_path);
  return run;
}

std::size_t entries(const std::filesystem::path& folder) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) n += entry.path().filename() != "assets";
  return n;
}

TEST(ProgressTerminal, ShowsProgressAndWritesTheSamePicture) {
  TempDir plain;
  plain.install_assets();
  const test::RunResult quiet =
      test::run_in(plain.path(), std::string("'") + NEONVALE_EXE + "' -w 320 -h 180 -a 2");
  ASSERT_EQ(quiet.exit_code, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");

  TempDir dir;
  dir.install_assets();
  const TerminalRun run = run_on_terminal(dir.path(), {"-w", "320", "-h", "180", "-a", "2"}, 60);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "") << "progress must never reach standard output";
  const std::vector<std::string> shown = frames(run.terminal);
  ASSERT_GE(shown.size(), 2u) << run.terminal;
  EXPECT_EQ(shown.front().compare(0, 22, "[ 1/12] loading assets"), 0) << shown.front();
  for (std::size_t i = 0; i + 1 < shown.size(); ++i) {
    EXPECT_LE(shown[i].size(), 59u) << shown[i];
    EXPECT_EQ(shown[i].find('\n'), std::string::npos) << shown[i];
  }
  // Within a step the bar only ever grows.
  std::string step;
  int percent = -1;
  for (const std::string& frame : shown) {
    const std::size_t mark = frame.find('%');
    if (frame.compare(0, 8, step) != 0) percent = -1;
    step = frame.substr(0, 8);
    if (mark == std::string::npos || mark < 3) continue;
    const int now = std::stoi(frame.substr(mark - 3, 3));
    EXPECT_GE(now, percent) << frame;
    percent = now;
  }
  // The terminal turns the final newline into CR LF.
  const std::string& last = shown.back();
  EXPECT_EQ(last.compare(0, 29, "Wrote ./01_LumenDrift.png in "), 0) << last;
  EXPECT_EQ(last.substr(last.size() - 4), " s\r\n") << last;

  EXPECT_EQ(test::read_file(dir.path() / "01_LumenDrift.png"), test::read_file(plain.path() / "01_LumenDrift.png"));
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(ProgressTerminal, AnErrorEndsTheLineBeforeTheErrorIsPrinted) {
  TempDir dir;
  dir.install_assets();
  std::filesystem::remove(dir.path() / "assets" / "01_neonvale" / "color_grader.png");
  const TerminalRun run = run_on_terminal(dir.path(), {"-w", "64", "-h", "64", "-a", "1"}, 80);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "E: Cannot open PNG: ./assets/01_neonvale/color_grader.png\n");
  ASSERT_FALSE(frames(run.terminal).empty()) << run.terminal;
  EXPECT_EQ(frames(run.terminal).back().compare(0, 22, "[ 1/12] loading assets"), 0);
  ASSERT_GE(run.terminal.size(), 2u);
  EXPECT_EQ(run.terminal.substr(run.terminal.size() - 2), "\r\n");
  EXPECT_EQ(entries(dir.path()), 0u);
}

// Without assets here or installed, a person at a terminal learns where the
// program looked; the error itself is the one scripts see.
TEST(ProgressTerminal, MissingAssetsGetAHintOnTheTerminal) {
  TempDir dir;
  const TerminalRun run = run_on_terminal(dir.path(), {"-w", "64", "-h", "64", "-a", "1"}, 200);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "E: Cannot open PNG: ./assets/01_neonvale/robo.png\n");
  const std::size_t hint = run.terminal.find("neonvale: no assets in ./assets/01_neonvale nor in /");
  ASSERT_NE(hint, std::string::npos) << run.terminal;
  EXPECT_NE(run.terminal.find("share/neonvale/assets/01_neonvale; -d names", hint), std::string::npos) << run.terminal;
  EXPECT_EQ(run.terminal.substr(run.terminal.size() - 2), "\r\n");
}

// The run's output is a named pipe held open but never read, so the run is
// still going (rendering, or blocked in its save) when the interrupt comes.
TEST(ProgressTerminal, AnInterruptEndsTheLineAndTheRun) {
  TempDir dir;
  dir.install_assets();
  const auto output = dir.path() / "01_LumenDrift.png";
  ASSERT_EQ(::mkfifo(output.c_str(), 0644), 0);
  const int reader = ::open(output.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const TerminalRun run = run_on_terminal(dir.path(), {"-w", "1280", "-h", "720", "-a", "1"}, 80,
                                          [](const std::string& shown) { return !frames(shown).empty(); });
  ::close(reader);
  EXPECT_EQ(run.signal, SIGINT);
  EXPECT_EQ(run.out, "");
  ASSERT_GE(run.terminal.size(), 2u);
  EXPECT_EQ(run.terminal.substr(run.terminal.size() - 2), "\r\n") << run.terminal;
  EXPECT_EQ(run.terminal.find('\n'), run.terminal.size() - 1) << run.terminal;
  EXPECT_EQ(entries(dir.path()), 1u);  // the pipe alone
}

// Nothing but progress frames reached the terminal: no message, no warning.
void expect_only_progress(const std::string& terminal) {
  EXPECT_EQ(terminal.find("\r\033[K"), 0u) << terminal;
  for (const std::string& frame : frames(terminal))
    EXPECT_TRUE(frame.compare(0, 1, "[") == 0 || frame.compare(0, 6, "Wrote ") == 0) << frame;
  EXPECT_FALSE(contains(terminal, "E:")) << terminal;
}

// The outputs that are not simply a new file, on a terminal: a success shows
// the progress and the final line, a failure only the progress up to the
// loading of the assets (so the render never began) while its message goes
// to standard output.
TEST(ProgressTerminal, OutputCasesShowNothingButTheProgress) {
  const std::vector<std::string> small = {"-w", "64", "-h", "64", "-a", "1"};
  const std::string cannot_open = "E: Cannot open output PNG: ./01_LumenDrift.png\n";
  std::string unprivileged;
  bool can_drop = false;
  {
    TempDir probe;
    can_drop = test::unprivileged_prefix(probe.path(), &unprivileged);
  }
  int held_reader = -1;
  struct Case {
    const char* what;
    bool needs_permissions;
    std::function<void(const std::filesystem::path&)> set_up;
    bool succeeds;
  };
  const auto output = [](const std::filesystem::path& folder) { return folder / "01_LumenDrift.png"; };
  const Case cases[] = {
      {"a link to an older picture", false,
       [&](const std::filesystem::path& f) {
         std::ofstream(f / "older.png") << "older";
         std::filesystem::create_symlink("older.png", output(f));
       },
       true},
      {"a named pipe with a reader", false,
       [&](const std::filesystem::path& f) {
         ASSERT_EQ(::mkfifo(output(f).c_str(), 0644), 0);
         // Held open for reading: the picture (smaller than the pipe's
         // buffer) goes in without waiting.
         held_reader = ::open(output(f).c_str(), O_RDONLY | O_NONBLOCK);
         ASSERT_GE(held_reader, 0);
       },
       true},
      {"a loop of links", false,
       [&](const std::filesystem::path& f) { std::filesystem::create_symlink("01_LumenDrift.png", output(f)); },
       false},
      {"a write-protected picture", true,
       [&](const std::filesystem::path& f) {
         std::ofstream(output(f)) << "protected";
         ::chmod(output(f).c_str(), 0444);
       },
       false},
      {"a folder that refuses new files", true,
       [&](const std::filesystem::path& f) {
         std::ofstream(output(f)) << "writable";
         ::chmod(f.c_str(), 0555);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_permissions && !can_drop) continue;
    TempDir dir;
    dir.install_assets();
    c.set_up(dir.path());
    std::vector<std::string> prefix;
    if (c.needs_permissions && !unprivileged.empty()) prefix = {"setpriv", "--inh-caps=-all", "--bounding-set=-all"};
    const TerminalRun run = run_on_terminal(dir.path(), small, 80, {}, prefix);
    ::chmod(dir.path().c_str(), 0755);
    if (held_reader >= 0) ::close(held_reader);
    held_reader = -1;
    expect_only_progress(run.terminal);
    const std::string last = frames(run.terminal).empty() ? "" : frames(run.terminal).back();
    if (c.succeeds) {
      EXPECT_EQ(run.exit_code, 0);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(last.compare(0, 29, "Wrote ./01_LumenDrift.png in "), 0) << last;
    } else {
      EXPECT_EQ(run.exit_code, 1);
      EXPECT_EQ(run.out, cannot_open);
      EXPECT_EQ(last.compare(0, 22, "[ 1/12] loading assets"), 0) << last;
    }
  }
}

// With no thread to spare for the display (a process limit of one, for a
// user other than root, whom the limit does not bind), the run goes on
// without one: nothing on the terminal, the same picture.
TEST(ProgressTerminal, NoThreadForTheDisplayMeansNoDisplay) {
  std::string why;
  const auto program = test::executable_for_other_user(&why);
  if (program.empty()) GTEST_SKIP() << why;
  std::vector<std::string> prefix = {"prlimit", "--nproc=1"};
  if (::geteuid() == 0) prefix.insert(prefix.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  // The leak checker of a sanitizer build needs a thread of its own at exit.
  if (test::built_with_address_sanitizer()) {
    const char* options = std::getenv("ASAN_OPTIONS");
    prefix.insert(prefix.begin(), {"env", std::string("ASAN_OPTIONS=") + (options ? options : "") + ":detect_leaks=0"});
  }
  TempDir plain;
  plain.install_assets();
  ASSERT_EQ(test::run_in(plain.path(), std::string("'") + NEONVALE_EXE + "' -w 320 -h 180 -a 1").exit_code, 0);

  TempDir dir;
  dir.install_assets();
  ::chmod(dir.path().c_str(), 0777);
  const TerminalRun run =
      run_on_terminal(dir.path(), {"-w", "320", "-h", "180", "-a", "1"}, 80, {}, prefix, program.string());
  if (run.exit_code == 127) GTEST_SKIP() << "cannot run as another user with a process limit";
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.terminal, "");
  EXPECT_TRUE(test::read_file(dir.path() / "01_LumenDrift.png") == test::read_file(plain.path() / "01_LumenDrift.png"));
}

TEST(ProgressQuiet, NothingOnEitherStreamWithoutATerminal) {
  TempDir dir;
  dir.install_assets();
  const test::RunResult r = test::run_in(dir.path(), std::string("'") + NEONVALE_EXE + "' -w 64 -h 64 -a 1");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "01_LumenDrift.png"));
}

TEST(ManPage, RendersWithoutWarnings) {
  if (std::system("command -v groff >/dev/null 2>&1") != 0) GTEST_SKIP() << "groff is not installed";
  TempDir dir;
  const test::RunResult r =
      test::run_in(dir.path(), "groff -man -ww -z '" + (test::source_dir() / "docs" / "neonvale.1").string() + "'");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
}

// Every option of the usage text is in the man page with the same default.
TEST(ManPage, ListsEveryOptionWithItsDefault) {
  const std::string page = test::read_file(test::source_dir() / "docs" / "neonvale.1");
  ASSERT_FALSE(page.empty());
  Config defaults;
  for (const Option& option : options) {
    const std::string heading = ".BI \\" + option.flag + " ";
    const std::size_t at = page.find(heading);
    ASSERT_NE(at, std::string::npos) << option.flag;
    const std::size_t next = page.find(".TP", at);
    const std::string entry = page.substr(at, next == std::string::npos ? next : next - at);
    const std::string value =
        "(default: " + (option.text ? option.text_default : std::to_string(option.accessor(defaults))) + ")";
    EXPECT_TRUE(contains(entry, value)) << option.flag << " lacks " << value;
  }
}

}  // namespace
}  // namespace neonvale
