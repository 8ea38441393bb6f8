#pragma once
// A one-line progress display on standard error for a person at a terminal:
// the step running now, a bar for how far that step has come (as the step
// itself counts it), the elapsed time, and at the end the output path and the
// total time.
//
// It is drawn from a thread of its own that wakes about four times a second
// and only reads: the render threads never write to the terminal, and the
// picture does not depend on whether the display runs. When the system
// refuses that thread, there is simply no display. When standard error is
// not a terminal the display does nothing at all, so scripts see exactly what
// they saw without it.
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/step_progress.hpp"
#include "scene/scene.hpp"

namespace neonvale {

// What one redraw shows.
struct ProgressView {
  std::string step;      // the step running now, as the driver names it
  int step_number = 0;   // 1-based position among progress_steps(); 0 if not listed
  int step_count = 0;
  double fraction = -1;  // done share of the current step, 0..1; negative: not counted (yet)
  double seconds = 0;    // since the display started
  double remaining = -1; // seconds the run will still take; negative: not shown
};

// The steps of a run in order: "loading assets", the stage table's steps, "saving".
const std::vector<std::string>& progress_steps();
// Their parts of a run's time, in the same order, summing to 1.
const std::vector<double>& progress_shares();

// "0.4 s", "12.3 s" below a minute, then "2:05" and "1:02:05".
std::string format_duration(double seconds);
// "25 s left", "1:05 left": whole seconds, rounded up.
std::string format_time_left(double seconds);

// The time a run has left, from the shares of the run's time its steps take
// (in the order of progress_steps(), as the stage table gives them). The
// pace, seconds per share, is what the steps before the current one took;
// within a step the estimate counts down with the step's own progress, or
// with the time it is expected to take where it does not count its work, so
// it never grows while a step runs. It may grow when a step ends, if that
// step took longer than expected.
class RemainingTime {
 public:
  explicit RemainingTime(std::vector<double> shares);
  // Step `index` begins `seconds` into the run.
  void step_begins(int index, double seconds);
  // The seconds left at `seconds` into the run, with `fraction` of the
  // current step done (negative: not counted). Negative while too little of
  // the run is done to tell.
  double at(double seconds, double fraction) const;

 private:
  std::vector<double> shares_;
  int step_ = -1;
  double step_start_ = 0;
  double pace_ = -1;  // seconds per share, fixed when the step began
};

// The text of the line for `view`, at most columns - 1 characters so that it
// never wraps (a wrapped line could not be redrawn with a carriage return).
std::string progress_line(const ProgressView& view, int columns);

// The line written after a successful save.
std::string finished_line(const std::filesystem::path& output, double seconds);

// The note shown above the progress line when a render keeps its images in
// scratch files in `folder`, because it needs `needed` bytes and memory has
// `available`.
std::string scratch_files_line(const std::filesystem::path& folder, std::uint64_t needed, std::uint64_t available);

bool stderr_is_terminal();

class ProgressDisplay {
 public:
  // A disabled display draws nothing, starts no thread and hands out no
  // observer. It draws on the descriptor `fd`.
  explicit ProgressDisplay(bool enabled = stderr_is_terminal(), int fd = STDERR_FILENO);
  // Without finish() (an error is on its way to the caller), the last state
  // is drawn once more and the line ended, so the error starts on its own line.
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // Shows `text` once, on a line of its own above the progress line.
  void note(const std::string& text);
  // Starts a step; `progress`, when given, counts its work and must outlive
  // the step (until the next step() or finish()).
  void step(const char* name, const StepProgress* progress = nullptr);
  // The hooks that report the driver's stages; null when disabled.
  const RenderObserver* observer() const { return enabled_ ? &observer_ : nullptr; }
  // Replaces the progress line by the final one with the path and total time.
  void finish(const std::filesystem::path& output);

  // Waits until the drawing thread has drawn `count` times (or tried to, on a
  // line an interrupt ended), each time with a view taken after this call;
  // returns at once when there is no such thread. A test's way to know what
  // the display has shown without waiting on a clock.
  void wait_for_redraws(int count);

 private:
  static void* draw_until_stopped(void* display);
  void run();
  void stop();
  void write_text(const std::string& text) const;  // all of it, on fd_
  std::string take_note();  // the note's line and a line end, once; under mutex_
  ProgressView view();  // under mutex_
  double seconds_since_start() const;

  bool enabled_;
  int fd_;
  RenderObserver observer_;
  std::chrono::steady_clock::time_point start_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::string step_;
  std::string note_;  // not drawn yet
  int step_number_ = 0;
  const StepProgress* progress_ = nullptr;
  double ended_fraction_ = -1;  // how far the last step came, shown until the next begins
  RemainingTime remaining_{progress_shares()};
  long rounds_ = 0;             // times round the drawing loop
  bool in_round_ = false;       // the view of a round is taken, its draw not done
  std::condition_variable round_done_;

  pthread_t thread_{};
  bool running_ = false;  // the drawing thread was started and not yet joined
};

}  // namespace neonvale
