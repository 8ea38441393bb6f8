#include "core/plane_buffer.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "core/parallel.hpp"

namespace neonvale {

namespace {

constexpr std::size_t kAlignment = std::size_t(2) << 20;

std::size_t mapped_size(std::size_t bytes) { return (bytes + kAlignment - 1) / kAlignment * kAlignment; }

enum class BlockKind {
  pooled,  // kept for reuse when released
  sparse,  // returned to the system on release
  file,    // a scratch file's mapping: unmapped on release, which deletes the file
};

struct LiveBlock {
  std::size_t size;  // mapped bytes
  BlockKind kind;
};

struct BlockPool {
  std::mutex mutex;
  std::vector<std::pair<void*, std::size_t>> kept;  // released blocks and their mapped sizes
  std::unordered_map<void*, LiveBlock> live;        // every mapped block in use
  PlaneMemory bytes;
  ScratchFiles scratch;  // used while `scratch_from` is below SIZE_MAX

  void add_live(std::size_t size) {
    bytes.live += size;
    bytes.high_water = std::max(bytes.high_water, bytes.live);
  }
};

// The smallest block that goes to a scratch file; SIZE_MAX while blocks live
// in memory. Read without the lock on every allocation, so that the memory
// path costs one load more than it did.
std::atomic<std::size_t> scratch_from{SIZE_MAX};
// Scratch blocks below kMappedBlockThreshold in use; while there are none, a
// small block is released without a look at the table of mapped blocks.
std::atomic<long> small_file_blocks{0};

BlockPool& pool() {
  static BlockPool* blocks = new BlockPool;  // never destroyed: images may outlive static destruction
  return *blocks;
}

// A fresh block of `size` bytes (a multiple of the alignment), 2 MiB aligned:
// mapped with one alignment unit to spare and trimmed at both ends.
void* map_block(std::size_t size, bool sparse) {
  const std::size_t reserve = size + kAlignment;
  void* raw = mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kAlignment - 1) / kAlignment * kAlignment;
  const std::size_t head = aligned - start;
  const std::size_t tail = reserve - head - size;
  if (head) munmap(raw, head);
  if (tail) munmap(reinterpret_cast<void*>(aligned + size), tail);
  void* block = reinterpret_cast<void*>(aligned);
  // A hint either way; without huge pages it still works.
  madvise(block, size, sparse ? MADV_NOHUGEPAGE : MADV_HUGEPAGE);
  return block;
}

// Clears a reused block in slices across the threads.
void clear_block(void* block, std::size_t bytes) {
  constexpr std::size_t kSlice = std::size_t(8) << 20;
  char* base = static_cast<char*>(block);
  const int slices = int((bytes + kSlice - 1) / kSlice);
  parallel_for(slices, [&](int begin, int end) {
    const std::size_t from = std::size_t(begin) * kSlice;
    std::memset(base + from, 0, std::min(std::size_t(end - begin) * kSlice, bytes - from));
  });
}

// Faults in the pages of a fresh block, a slice of whole huge pages per
// thread. The kernel clears every page it hands out; here the threads clear
// different pages at once, where a loop that writes rows or column strips
// would have them queue for the same huge page one after the other.
void touch_block(void* block, std::size_t bytes) {
  constexpr std::size_t kSlice = std::size_t(8) << 20;
  constexpr std::size_t kPage = 4096;
  volatile char* base = static_cast<char*>(block);
  const int slices = int((bytes + kSlice - 1) / kSlice);
  parallel_for(slices, [&](int begin, int end) {
    const std::size_t to = std::min(std::size_t(end) * kSlice, bytes);
    for (std::size_t at = std::size_t(begin) * kSlice; at < to; at += kPage) base[at] = 0;
  });
}

// Unmaps released scratch blocks on a thread of its own. Unmapping deletes
// the file, and freeing its disk blocks can take seconds while the render's
// own pages are being written out (a file system that discards freed blocks
// waits for the device); the render need not wait for it.
class FileReleaser {
 public:
  // Unmaps the block now or soon.
  void release(void* block, std::size_t size) noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_) {
      started_ = true;
      running_ = start_helper_thread(&thread_, run, this);
    }
    if (running_) {
      try {
        queue_.emplace_back(block, size);
        wake_.notify_one();
        return;
      } catch (...) {
      }
    }
    lock.unlock();
    munmap(block, size);
  }

  // Returns once every block released before the call is unmapped.
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return queue_.empty() && !busy_; });
  }

 private:
  static void* run(void* releaser) {
    static_cast<FileReleaser*>(releaser)->loop();
    return nullptr;
  }
  void loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return !queue_.empty(); });
      const auto [block, size] = queue_.front();
      queue_.pop_front();
      busy_ = true;
      lock.unlock();
      munmap(block, size);
      lock.lock();
      busy_ = false;
      if (queue_.empty()) done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::deque<std::pair<void*, std::size_t>> queue_;
  bool busy_ = false;
  bool started_ = false;
  bool running_ = false;
  pthread_t thread_{};
};

FileReleaser& file_releaser() {
  static FileReleaser* releaser = new FileReleaser;  // never destroyed: its thread runs until the process ends
  return *releaser;
}

[[noreturn]] void throw_scratch_error(const char* what, const std::string& folder, int error) {
  throw std::runtime_error(std::string(what) + " " + folder + ": " + std::strerror(error));
}

// Creates a file in `folder` whose name is gone at once (see ScratchFiles).
int open_scratch_file(const ScratchFiles& files) {
  if (files.names == ScratchFiles::Names::unnamed_where_possible) {
    const int fd = ::open(files.folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // EISDIR: a kernel without unnamed files; EOPNOTSUPP: a file system
    // without them. Anything else says the folder cannot be used at all.
    if (errno != EISDIR && errno != EOPNOTSUPP) throw_scratch_error("Cannot make scratch file in", files.folder, errno);
  }
  std::string name = files.folder + "/.neonvale-scratch-XXXXXX";
  // No signal is taken between the creation and the unlink, so an
  // interrupt cannot leave the name behind; only a SIGKILL in that instant can.
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  const int error = errno;
  if (fd >= 0) ::unlink(name.c_str());
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  if (fd < 0) throw_scratch_error("Cannot make scratch file in", files.folder, error);
  return fd;
}

// Gives the file `size` bytes of zeros with their disk blocks reserved, so
// that writing the mapping can never find the disk full. File systems that
// cannot reserve blocks only get the size.
void reserve_scratch_file(int fd, std::size_t size, const std::string& folder) {
  int result;
  do result = ::fallocate(fd, 0, 0, off_t(size));
  while (result != 0 && errno == EINTR);
  if (result != 0 && (errno == ENOSPC || errno == EDQUOT)) {
    // Released blocks may still hold their disk blocks: once more after them.
    file_releaser().wait();
    do result = ::fallocate(fd, 0, 0, off_t(size));
    while (result != 0 && errno == EINTR);
  }
  if (result == 0) return;
  if (errno == EOPNOTSUPP) {
    do result = ::ftruncate(fd, off_t(size));
    while (result != 0 && errno == EINTR);
    if (result == 0) return;
  }
  throw_scratch_error("Cannot reserve scratch space in", folder, errno);
}

// A fresh block of `size` bytes (a multiple of the page size) in a scratch
// file, mapped shared. The file needs no descriptor once mapped: the mapping
// holds it, and unmapping it deletes it.
void* map_scratch_block(std::size_t size, const ScratchFiles& files) {
  const int fd = open_scratch_file(files);
  void* block = MAP_FAILED;
  try {
    reserve_scratch_file(fd, size, files.folder);
    block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  if (block == MAP_FAILED) throw std::bad_alloc();
  return block;
}

std::size_t page_rounded(std::size_t bytes) {
  const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
}

// Records a block as live, or unmaps it and throws when that fails.
void add_live_block(void* block, std::size_t bytes, LiveBlock entry) {
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  try {
    blocks.live[block] = entry;
  } catch (...) {
    munmap(block, entry.size);
    throw;
  }
  blocks.add_live(bytes);
  if (entry.kind == BlockKind::file) blocks.bytes.in_files += bytes;
}

// Maps a fresh block for `bytes` in a scratch file and records it as live.
void* map_live_file_block(std::size_t bytes) {
  ScratchFiles files;
  {
    BlockPool& blocks = pool();
    std::lock_guard<std::mutex> lock(blocks.mutex);
    files = blocks.scratch;
  }
  const std::size_t size = page_rounded(bytes);
  void* block = map_scratch_block(size, files);
  add_live_block(block, bytes, LiveBlock{size, BlockKind::file});
  if (bytes < kMappedBlockThreshold) ++small_file_blocks;
  return block;
}

bool in_scratch_file(std::size_t bytes) { return bytes >= scratch_from.load(std::memory_order_relaxed); }

// Maps a fresh block for `bytes` in memory, whatever the planes' storage,
// and records it as live.
void* map_memory_block(std::size_t bytes, bool sparse) {
  const std::size_t size = mapped_size(bytes);
  void* block = map_block(size, sparse);
  if (!sparse) touch_block(block, bytes);
  add_live_block(block, bytes, LiveBlock{size, sparse ? BlockKind::sparse : BlockKind::pooled});
  return block;
}

// Maps a fresh block for `bytes` where the planes' storage says.
void* map_live_block(std::size_t bytes, bool sparse) {
  if (in_scratch_file(bytes)) return map_live_file_block(bytes);
  return map_memory_block(bytes, sparse);
}

// Releases a mapped block; false when `block` is not one.
bool release_mapped(void* block, std::size_t bytes) noexcept {
  BlockPool& blocks = pool();
  std::unique_lock<std::mutex> lock(blocks.mutex);
  const auto it = blocks.live.find(block);
  if (it == blocks.live.end()) return false;
  const LiveBlock released = it->second;
  const std::size_t size = released.size;
  blocks.live.erase(it);
  blocks.bytes.live -= bytes;
  if (released.kind == BlockKind::file) {
    blocks.bytes.in_files -= bytes;
    if (bytes < kMappedBlockThreshold) --small_file_blocks;
  }
  // Kept blocks would hold memory while the planes live in files.
  if (released.kind == BlockKind::pooled && scratch_from.load(std::memory_order_relaxed) == SIZE_MAX) {
    try {
      blocks.kept.emplace_back(block, size);
      blocks.bytes.kept += size;
      return true;
    } catch (...) {
    }
  }
  lock.unlock();
  if (released.kind == BlockKind::file)
    file_releaser().release(block, size);
  else
    munmap(block, size);
  return true;
}

void* allocate_large(std::size_t bytes) {
  // Leave room for rounding and alignment without wrapping around.
  if (bytes > SIZE_MAX - 2 * kAlignment) throw std::bad_alloc();
  if (in_scratch_file(bytes)) return map_live_file_block(bytes);
  const std::size_t size = mapped_size(bytes);
  BlockPool& blocks = pool();
  std::vector<std::pair<void*, std::size_t>> unfit;
  void* reused = nullptr;
  {
    std::lock_guard<std::mutex> lock(blocks.mutex);
    auto best = blocks.kept.end();
    for (auto it = blocks.kept.begin(); it != blocks.kept.end(); ++it)
      if (it->second >= size && (best == blocks.kept.end() || it->second < best->second)) best = it;
    if (best != blocks.kept.end()) {
      const auto [block, block_size] = *best;
      blocks.kept.erase(best);
      blocks.bytes.kept -= block_size;
      // The surplus goes back to the system, so a big block serving a small
      // request does not hold memory nobody uses.
      if (block_size > size) munmap(static_cast<char*>(block) + size, block_size - size);
      blocks.live[block] = LiveBlock{size, BlockKind::pooled};
      blocks.add_live(bytes);
      reused = block;
    } else {
      unfit.swap(blocks.kept);
      blocks.bytes.kept = 0;
    }
  }
  if (reused) {
    clear_block(reused, bytes);
    return reused;
  }
  for (const auto& [block, block_size] : unfit) munmap(block, block_size);
  return map_live_block(bytes, false);
}

float* allocate_zeroed(std::size_t count) {
  if (count > SIZE_MAX / sizeof(float)) throw std::bad_alloc();
  const std::size_t bytes = count * sizeof(float);
  if (bytes >= kMappedBlockThreshold || in_scratch_file(bytes)) return static_cast<float*>(allocate_large(bytes));
  void* p = std::calloc(count, sizeof(float));
  if (!p) throw std::bad_alloc();
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  blocks.add_live(bytes);
  return static_cast<float*>(p);
}

void release(float* data, std::size_t count) noexcept {
  const std::size_t bytes = count * sizeof(float);
  if (bytes >= kMappedBlockThreshold) {
    release_mapped(data, bytes);  // every large block is mapped
    return;
  }
  if (small_file_blocks.load(std::memory_order_relaxed) > 0 && release_mapped(data, bytes)) return;
  std::free(data);
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  blocks.bytes.live -= bytes;
}

}  // namespace

PlaneBuffer::PlaneBuffer(std::size_t count) : data_(count ? allocate_zeroed(count) : nullptr), size_(count) {}

PlaneBuffer PlaneBuffer::sparse(std::size_t count) {
  if (count > (SIZE_MAX - 2 * kAlignment) / sizeof(float)) throw std::bad_alloc();
  const std::size_t bytes = count * sizeof(float);
  if (bytes < kMappedBlockThreshold && !in_scratch_file(bytes)) return PlaneBuffer(count);
  return PlaneBuffer(static_cast<float*>(map_live_block(bytes, true)), count);
}

PlaneBuffer PlaneBuffer::working(std::size_t count) {
  if (count > (SIZE_MAX - 2 * kAlignment) / sizeof(float)) throw std::bad_alloc();
  const std::size_t bytes = count * sizeof(float);
  // Blocks below the mapped size are made as any other.
  if (bytes < kMappedBlockThreshold || !in_scratch_file(bytes)) return PlaneBuffer(count);
  return PlaneBuffer(static_cast<float*>(map_memory_block(bytes, false)), count);
}

PlaneBuffer::~PlaneBuffer() {
  if (data_) release(data_, size_);
}

PlaneBuffer::PlaneBuffer(PlaneBuffer&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

PlaneBuffer& PlaneBuffer::operator=(PlaneBuffer&& other) noexcept {
  if (this != &other) {
    if (data_) release(data_, size_);
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

PlaneBuffer PlaneBuffer::copy_of(const PlaneBuffer& other) {
  PlaneBuffer copy(other.size_);
  // The fresh storage holds zeros; one copy writes each value once.
  if (copy.size_) std::memcpy(copy.data_, other.data_, copy.size_ * sizeof(float));
  return copy;
}

bool operator==(const PlaneBuffer& a, const PlaneBuffer& b) {
  return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_ * sizeof(float)) == 0);
}

PlaneMemory plane_memory() {
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  return blocks.bytes;
}

void reset_plane_high_water() {
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  blocks.bytes.high_water = blocks.bytes.live;
}

void release_kept_planes() {
  BlockPool& blocks = pool();
  std::vector<std::pair<void*, std::size_t>> kept;
  {
    std::lock_guard<std::mutex> lock(blocks.mutex);
    kept.swap(blocks.kept);
    blocks.bytes.kept = 0;
  }
  for (const auto& [block, size] : kept) munmap(block, size);
  file_releaser().wait();
}

void store_planes_in_scratch_files(const ScratchFiles& files) {
  {
    BlockPool& blocks = pool();
    std::lock_guard<std::mutex> lock(blocks.mutex);
    blocks.scratch = files;
    scratch_from.store(std::max<std::size_t>(files.smallest, 1), std::memory_order_relaxed);
  }
  release_kept_planes();
}

void store_planes_in_memory() {
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  scratch_from.store(SIZE_MAX, std::memory_order_relaxed);
}

}  // namespace neonvale
