#pragma once
// PlaneBuffer: the storage of an image, a fixed-size run of floats that reads
// as zeros when made. It owns its block and can be moved or copied on purpose
// (copy_of); it cannot grow or shrink, so no stale values can reappear.
//
// Images are big (the default scene buffer is 1.6 GB), so zeros are never
// written: small blocks come from calloc, large ones from fresh anonymous
// mappings that the kernel hands out zeroed. Large blocks start on a 2 MiB
// boundary and ask for transparent huge pages, which cuts the cost of their
// first-touch page faults, and are faulted in when made, a slice of pages per
// thread: the clearing of fresh pages, over a third of a run on a virtual
// machine, then runs on every core at once instead of stalling the loop
// whose threads first write rows that share a huge page.
//
// Released large blocks are kept and handed out again (cleared), because
// memory the process has touched is much cheaper to clear than fresh pages
// are to fault in. A request takes the smallest kept block that holds it and
// returns the block's surplus to the system; a request that no kept block can
// serve returns every kept block first. So kept and live blocks together
// never exceed the most the live images have needed at once, and the
// high-water mark of live storage below is what the images of a run took.
//
// When a render does not fit in memory, large blocks can live in scratch
// files instead (store_planes_in_scratch_files): each block is a file of its
// own in the scratch folder, without a name, its disk blocks reserved when it
// is made and mapped shared, so that the kernel writes pages the render is not
// using to disk and reads them back when they are touched again. Such blocks
// are neither faulted in when made (that would write zeros through the page
// cache) nor kept for reuse: released, the file and its disk blocks are gone
// (soon: a thread of their own unmaps them, as freeing disk blocks can take a
// while).
#include <cstddef>
#include <cstdint>
#include <string>

namespace neonvale {

class PlaneBuffer {
 public:
  PlaneBuffer() = default;
  // `count` zeros. Throws std::bad_alloc.
  explicit PlaneBuffer(std::size_t count);
  // `count` zeros for a plane that will be written only here and there (the
  // knot's depths, the robot's coverage): fresh memory in small pages, of
  // which only what is written ever becomes resident. Never taken from, nor
  // given back to, the kept blocks: clearing one for reuse would make all of
  // it resident.
  static PlaneBuffer sparse(std::size_t count);
  // `count` zeros for a buffer a pass rewrites over and over (the rows of a
  // ring): in memory even while planes live in scratch files, where each
  // rewrite of a row would be written to disk again.
  static PlaneBuffer working(std::size_t count);
  ~PlaneBuffer();
  PlaneBuffer(PlaneBuffer&& other) noexcept;
  PlaneBuffer& operator=(PlaneBuffer&& other) noexcept;
  PlaneBuffer(const PlaneBuffer&) = delete;
  PlaneBuffer& operator=(const PlaneBuffer&) = delete;

  // A new buffer holding the same values, bit for bit.
  static PlaneBuffer copy_of(const PlaneBuffer& other);

  float* data() { return data_; }
  const float* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  float& operator[](std::size_t i) { return data_[i]; }
  float operator[](std::size_t i) const { return data_[i]; }
  float* begin() { return data_; }
  float* end() { return data_ + size_; }
  const float* begin() const { return data_; }
  const float* end() const { return data_ + size_; }

  // Same size and the same values, bit for bit (so NaNs compare by their bits).
  friend bool operator==(const PlaneBuffer& a, const PlaneBuffer& b);
  friend bool operator!=(const PlaneBuffer& a, const PlaneBuffer& b) { return !(a == b); }

 private:
  // Takes over a block made for `size` values.
  PlaneBuffer(float* data, std::size_t size) : data_(data), size_(size) {}

  float* data_ = nullptr;
  std::size_t size_ = 0;
};

// Blocks of at least this size are mapped directly and 2 MiB aligned.
constexpr std::size_t kMappedBlockThreshold = std::size_t(4) << 20;

// Bytes held by plane buffers: the values of the buffers in use, the blocks
// kept for reuse, and the most the buffers in use held at once since the
// last reset; and of the buffers in use, those whose values are in scratch
// files.
struct PlaneMemory {
  std::uint64_t live = 0;
  std::uint64_t kept = 0;
  std::uint64_t high_water = 0;
  std::uint64_t in_files = 0;
};
PlaneMemory plane_memory();
// Starts a new high-water mark at what is in use now.
void reset_plane_high_water();
// Returns every kept block to the system, and waits until released scratch
// files are gone.
void release_kept_planes();

// Where blocks made from now on live when they are large.
struct ScratchFiles {
  // How a scratch file is made. Unnamed files (O_TMPFILE) vanish with the
  // process however it ends; where the file system has none, a file is
  // created and unlinked at once, which leaves a name on disk for that
  // instant only. `named` forces the second way, for tests.
  enum class Names { unnamed_where_possible, named };

  std::string folder;
  Names names = Names::unnamed_where_possible;
  // Blocks of at least this many bytes go to files, smaller ones to memory.
  std::size_t smallest = kMappedBlockThreshold;
};
// Blocks made from now on of at least `files.smallest` bytes are scratch
// files in `files.folder` (blocks made before stay where they are); the kept
// blocks are returned to the system. A scratch file that cannot be made or
// whose disk blocks cannot be reserved (a full disk, a file-size limit)
// throws std::runtime_error naming the folder and the reason, so a full disk
// ends a render with a message, never with a fault halfway through it.
void store_planes_in_scratch_files(const ScratchFiles& files);
// Blocks made from now on live in memory, as they do when a process starts.
void store_planes_in_memory();

}  // namespace neonvale
