#include "core/parallel.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace neonvale {

namespace {

// Workers run loop bodies only, which keep their data on the heap; a small
// stack lets many threads start under an address-space limit. Sanitizers
// need more room per frame.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kWorkerStack = std::size_t(8) << 20;
#else
constexpr std::size_t kWorkerStack = std::size_t(1) << 20;
#endif

thread_local bool in_loop = false;

int default_thread_count() {
  if (const char* text = std::getenv("OMP_NUM_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end != text && n > 0) return int(std::min(n, 1024L));
  }
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return int(std::max(1u, std::thread::hardware_concurrency()));
}

class Pool {
 public:
  int threads() const { return threads_.load(std::memory_order_relaxed); }

  void set_threads(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.store(std::max(1, n), std::memory_order_relaxed);
  }

  void run(int count, int min_chunk, detail::RangeFunction function, void* body) {
    // One loop at a time; a second thread that starts one waits its turn.
    std::lock_guard<std::mutex> turn(run_mutex_);
    const int wanted_workers = threads() - 1;
    start_workers(wanted_workers);
    std::unique_lock<std::mutex> lock(mutex_);
    const int workers = std::min<int>(wanted_workers, int(workers_.size()));
    if (workers == 0) {
      lock.unlock();
      serial(count, function, body);
      return;
    }
    // Several chunks per thread, so that uneven rows (sky above, ground
    // below) balance out.
    const int chunk = std::max(min_chunk, count / ((workers + 1) * 16));
    job_ = Job{function, body, count, chunk, (count + chunk - 1) / chunk, workers};
    next_.store(0, std::memory_order_relaxed);
    finished_ = 0;
    error_ = nullptr;
    active_ = true;
    ++generation_;
    lock.unlock();
    wake_.notify_all();

    in_loop = true;
    work(job_);
    in_loop = false;

    lock.lock();
    done_.wait(lock, [this] { return finished_ == job_.chunks && busy_ == 0; });
    active_ = false;
    const std::exception_ptr error = error_;
    error_ = nullptr;
    lock.unlock();
    if (error) std::rethrow_exception(error);
  }

 private:
  struct Job {
    detail::RangeFunction function = nullptr;
    void* body = nullptr;
    int count = 0;
    int chunk = 1;
    int chunks = 0;
    int workers = 0;  // workers with a smaller index take part
  };

  static void serial(int count, detail::RangeFunction function, void* body) {
    in_loop = true;
    try {
      function(body, 0, count);
    } catch (...) {
      in_loop = false;
      throw;
    }
    in_loop = false;
  }

  // Takes chunks until none is left; called by the caller and the workers.
  void work(const Job& job) {
    int done = 0;
    for (int i = next_.fetch_add(1, std::memory_order_relaxed); i < job.chunks;
         i = next_.fetch_add(1, std::memory_order_relaxed)) {
      const int begin = i * job.chunk;
      const int end = std::min(job.count, begin + job.chunk);
      try {
        job.function(job.body, begin, end);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!error_) error_ = std::current_exception();
      }
      ++done;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ += done;
    if (finished_ == job.chunks && busy_ == 0) done_.notify_all();
  }

  // `seen` is the loop generation when the worker was asked for: a loop that
  // begins before the new thread first takes the lock is still its to join.
  void worker(int index, unsigned long long seen) {
    in_loop = true;
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      wake_.wait(lock, [&] { return generation_ != seen; });
      seen = generation_;
      if (!active_ || index >= job_.workers) continue;
      const Job job = job_;
      ++busy_;
      lock.unlock();
      work(job);
      lock.lock();
      --busy_;
      if (finished_ == job.chunks && busy_ == 0) done_.notify_all();
    }
  }

  struct WorkerStart {
    Pool* pool;
    int index;
    unsigned long long generation;
  };

  static void* worker_entry(void* argument) {
    const WorkerStart start = *static_cast<WorkerStart*>(argument);
    delete static_cast<WorkerStart*>(argument);
    start.pool->worker(start.index, start.generation);
    return nullptr;
  }

  // Starts workers up to `wanted`; stops at the first the system refuses and
  // never asks again, so a limited process runs on what it has.
  void start_workers(int wanted) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (int(workers_.size()) < wanted && !refused_) {
      pthread_attr_t attr;
      pthread_attr_init(&attr);
      pthread_attr_setstacksize(&attr, kWorkerStack);
      pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
      auto* start = new WorkerStart{this, int(workers_.size()), generation_};
      pthread_t thread;
      const int failed = pthread_create(&thread, &attr, worker_entry, start);
      pthread_attr_destroy(&attr);
      if (failed) {
        delete start;
        refused_ = true;
        break;
      }
      workers_.push_back(thread);
    }
  }

  std::atomic<int> threads_{default_thread_count()};
  std::mutex run_mutex_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::vector<pthread_t> workers_;
  bool refused_ = false;
  unsigned long long generation_ = 0;
  bool active_ = false;
  Job job_;
  std::atomic<int> next_{0};
  int finished_ = 0;
  int busy_ = 0;
  std::exception_ptr error_;
};

Pool& pool() {
  // Never destroyed: workers wait on it until the process ends.
  static Pool* instance = new Pool;
  return *instance;
}

}  // namespace

int thread_count() { return pool().threads(); }

void set_thread_count(int threads) { pool().set_threads(threads); }

namespace detail {

void run_parallel(int count, int chunk, RangeFunction function, void* body) {
  pool().run(count, chunk, function, body);
}

bool inside_parallel_loop() { return in_loop; }

}  // namespace detail

}  // namespace neonvale
