#pragma once
// StepProgress: how far one step of a render has come, counted by the code
// that knows the step's whole extent and read by whoever shows it. The total
// is set once, before any work is counted, and the count only grows, so a
// reader never sees a step go backwards.
#include <atomic>

namespace neonvale {

class StepProgress {
 public:
  // The step's units of work; ignored after the first call.
  void set_total(long long units) {
    long long unset = 0;
    total_.compare_exchange_strong(unset, units > 0 ? units : 0, std::memory_order_relaxed);
  }
  // Counts finished units; safe from any thread.
  void advance(long long units) { done_.fetch_add(units, std::memory_order_relaxed); }

  long long total() const { return total_.load(std::memory_order_relaxed); }
  long long done() const { return done_.load(std::memory_order_relaxed); }
  // Done share in [0, 1], or a negative number while the total is unknown.
  double fraction() const {
    const long long t = total();
    if (t <= 0) return -1.0;
    const long long d = done();
    return d >= t ? 1.0 : double(d) / double(t);
  }

 private:
  std::atomic<long long> total_{0};
  std::atomic<long long> done_{0};
};

// For passes that take an optional counter.
inline void advance(StepProgress* progress, long long units) {
  if (progress) progress->advance(units);
}

}  // namespace neonvale
