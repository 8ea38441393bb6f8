#include "app/progress.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "app/signals.hpp"
#include "core/parallel.hpp"
#include "core/system_memory.hpp"
#include "scene/stages.hpp"

namespace neonvale {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
constexpr int kBarWidth = 24;
constexpr const char* kClearLine = "\r\033[K";

int terminal_columns(int fd) {
  struct winsize size {};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// A job started in the background (`neonvale &`) keeps quiet rather than
// scribble over whatever the shell is showing.
bool in_foreground(int fd) {
  const pid_t group = ::tcgetpgrp(fd);
  return group < 0 || group == ::getpgrp();
}

std::string display_name(const std::string& step) {
  std::string name = step;
  std::replace(name.begin(), name.end(), '_', ' ');
  return name;
}

}  // namespace

// The loading's and the save's parts of a default render's time, measured
// as the stage table's shares are.
constexpr double kLoadingShare = 0.02;
constexpr double kSavingShare = 0.75;

// Only runs longer than this show the time left: shorter ones are over
// before an estimate would help.
constexpr double kShowTimeLeftAfter = 3.0;

const std::vector<double>& progress_shares() {
  static const std::vector<double> shares = [] {
    std::vector<double> parts = {kLoadingShare};
    for (const Stage& stage : render_stages()) parts.push_back(stage.share);
    parts.push_back(kSavingShare);
    double total = 0;
    for (double part : parts) total += part;
    for (double& part : parts) part /= total;
    return parts;
  }();
  return shares;
}

const std::vector<std::string>& progress_steps() {
  static const std::vector<std::string> steps = [] {
    std::vector<std::string> names = {"loading assets"};
    for (const Stage& stage : render_stages()) names.emplace_back(stage.name);
    names.emplace_back("saving");
    return names;
  }();
  return steps;
}

std::string format_duration(double seconds) {
  char text[32];
  if (seconds < 0) seconds = 0;
  if (seconds < 59.95) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else {
    const long long whole = static_cast<long long>(seconds + 0.5);
    const long long h = whole / 3600, m = whole / 60 % 60, s = whole % 60;
    if (h > 0)
      std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", h, m, s);
    else
      std::snprintf(text, sizeof text, "%lld:%02lld", m, s);
  }
  return text;
}

std::string format_time_left(double seconds) {
  const double whole = std::ceil(std::max(0.0, seconds));
  if (whole < 60) return std::to_string(static_cast<int>(whole)) + " s left";
  return format_duration(whole) + " left";
}

RemainingTime::RemainingTime(std::vector<double> shares) : shares_(std::move(shares)) {}

void RemainingTime::step_begins(int index, double seconds) {
  step_ = index;
  step_start_ = seconds;
  double done = 0;
  for (int i = 0; i < index && i < int(shares_.size()); ++i) done += shares_[std::size_t(i)];
  // Before a twentieth of the run is done, the pace says little.
  constexpr double kLeastShareDone = 0.05;
  pace_ = done >= kLeastShareDone ? seconds / done : -1;
}

double RemainingTime::at(double seconds, double fraction) const {
  if (pace_ < 0 || step_ < 0 || step_ >= int(shares_.size())) return -1;
  const double share = shares_[std::size_t(step_)];
  double after = 0;
  for (std::size_t i = std::size_t(step_) + 1; i < shares_.size(); ++i) after += shares_[i];
  double done = fraction;
  if (done < 0) done = share > 0 ? (seconds - step_start_) / (share * pace_) : 1;
  done = std::clamp(done, 0.0, 1.0);
  return pace_ * (share * (1 - done) + after);
}

std::string progress_line(const ProgressView& view, int columns) {
  std::string counter;
  if (view.step_number > 0) {
    char text[32];
    std::snprintf(text, sizeof text, "[%2d/%d] ", view.step_number, view.step_count);
    counter = text;
  }
  // Names are padded to the longest step so the bar stays in place.
  std::size_t name_width = 0;
  for (const auto& s : progress_steps()) name_width = std::max(name_width, s.size());
  std::string name = display_name(view.step);
  if (name.size() < name_width) name.resize(name_width, ' ');

  std::string bar;
  if (view.fraction >= 0) {
    const double f = std::min(1.0, view.fraction);
    const int filled = static_cast<int>(f * kBarWidth);
    bar = "[" + std::string(std::size_t(filled), '=') + (filled < kBarWidth ? ">" : "") +
          std::string(std::size_t(std::max(0, kBarWidth - filled - 1)), ' ') + "]";
    char percent[16];
    std::snprintf(percent, sizeof percent, " %3d%%", static_cast<int>(f * 100.0));
    bar += percent;
  }
  const std::string time = format_duration(view.seconds);
  const std::string left = view.remaining >= 0 ? ", " + format_time_left(view.remaining) : "";

  const std::size_t limit = std::size_t(std::max(1, columns - 1));
  std::string line =
      counter + name + "  " + (bar.empty() ? std::string(kBarWidth + 7, ' ') : bar) + "  " + time + left;
  if (line.size() <= limit) return line;
  // Too narrow: the bar goes first, then the time left, then the name is cut.
  line = counter + display_name(view.step) + "  " + time + left;
  if (line.size() <= limit) return line;
  line = counter + display_name(view.step) + "  " + time;
  if (line.size() > limit) line.resize(limit);
  return line;
}

std::string finished_line(const std::filesystem::path& output, double seconds) {
  return "Wrote " + output.string() + " in " + format_duration(seconds);
}

std::string scratch_files_line(const std::filesystem::path& folder, std::uint64_t needed, std::uint64_t available) {
  return "Memory is short (about " + format_gib(needed, true) + " GiB needed, " + format_gib(available, false) +
         " GiB available): the images go to scratch files in " + folder.string();
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

ProgressDisplay::ProgressDisplay(bool enabled, int fd)
    : enabled_(enabled), fd_(fd), start_(std::chrono::steady_clock::now()) {
  if (!enabled_) return;
  observer_.stage_begin = [this](const char* stage, const StepProgress& progress) { step(stage, &progress); };
  // The step's counter dies with the step; until the next one begins, the
  // line shows the step as it ended.
  observer_.stage_end = [this](const char*, const ImagePlanes&) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (progress_) ended_fraction_ = progress_->fraction();
    progress_ = nullptr;
  };
  // A thread the system refuses (a process or address-space limit) only
  // means no display: the render goes on without one.
  open_progress_line(fd_);
  running_ = start_helper_thread(&thread_, draw_until_stopped, this);
  if (!running_) {
    close_progress_line();
    enabled_ = false;
  }
}

void* ProgressDisplay::draw_until_stopped(void* display) {
  static_cast<ProgressDisplay*>(display)->run();
  return nullptr;
}

ProgressDisplay::~ProgressDisplay() {
  if (!running_) return;
  stop();
  std::string line;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    line = take_note() + kClearLine + progress_line(view(), terminal_columns(fd_));
  }
  if (close_progress_line() && in_foreground(fd_)) write_text(line + "\n");
}

void ProgressDisplay::note(const std::string& text) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  note_ = text;
}

std::string ProgressDisplay::take_note() {
  if (note_.empty()) return "";
  std::string line = kClearLine + note_ + "\n";
  note_.clear();
  return line;
}

void ProgressDisplay::step(const char* name, const StepProgress* progress) {
  if (!enabled_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    step_ = name;
    const auto& steps = progress_steps();
    const auto found = std::find(steps.begin(), steps.end(), step_);
    step_number_ = found == steps.end() ? 0 : int(found - steps.begin()) + 1;
    if (step_number_ > 0) remaining_.step_begins(step_number_ - 1, seconds_since_start());
    progress_ = progress;
    ended_fraction_ = -1;
  }
  wake_.notify_all();
}

void ProgressDisplay::finish(const std::filesystem::path& output) {
  if (!running_) return;
  stop();
  const double seconds = seconds_since_start();
  std::string note;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    note = take_note();
  }
  if (close_progress_line() && in_foreground(fd_)) write_text(note + kClearLine + finished_line(output, seconds) + "\n");
}

void ProgressDisplay::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  round_done_.notify_all();
  pthread_join(thread_, nullptr);
  running_ = false;
}

void ProgressDisplay::write_text(const std::string& text) const {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a failed write only loses display
    p += n;
    left -= std::size_t(n);
  }
}

void ProgressDisplay::wait_for_redraws(int count) {
  if (!running_) return;
  std::unique_lock<std::mutex> lock(mutex_);
  // A round under way took its view before this call: it does not count.
  const long target = rounds_ + count + (in_round_ ? 1 : 0);
  round_done_.wait(lock, [&] { return rounds_ >= target || stopping_; });
}

double ProgressDisplay::seconds_since_start() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

ProgressView ProgressDisplay::view() {
  ProgressView v;
  v.step = step_;
  v.step_number = step_number_;
  v.step_count = int(progress_steps().size());
  v.seconds = seconds_since_start();
  v.fraction = progress_ ? progress_->fraction() : ended_fraction_;
  if (v.seconds >= kShowTimeLeftAfter) v.remaining = remaining_.at(v.seconds, v.fraction);
  return v;
}

// Runs on a helper thread, which takes no signals: an interrupt never comes
// in the middle of a redraw here.
void ProgressDisplay::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  // Nothing to show before the first step: the line starts with one.
  wake_.wait(lock, [this] { return stopping_ || !step_.empty(); });
  while (!stopping_) {
    in_round_ = true;
    const std::string line = take_note() + kClearLine + progress_line(view(), terminal_columns(fd_));
    // The terminal may block (a paused terminal): never while holding the
    // lock that the driver's stage hook takes.
    lock.unlock();
    if (in_foreground(fd_)) draw_progress_line(line);
    lock.lock();
    ++rounds_;
    in_round_ = false;
    round_done_.notify_all();
    wake_.wait_for(lock, kRedrawInterval, [this] { return stopping_; });
  }
}

}  // namespace neonvale
