// stage_times: renders like neonvale (same five flags) and prints the wall
// time and the user and system CPU time of every step of the scene driver,
// then of the save (into a temporary file), for profiling. System time is
// mostly the kernel clearing fresh pages.
//
// Beside the times, the memory of each step: the plane buffers live when it
// ends and the most they held at once while it ran (plane_memory; a sparse
// plane counts whole), and the process's resident set at its largest while
// the step ran (the kernel's peak, restarted at every step), in MiB and in
// bytes a sample of the supersampled size. The resident set also holds the
// assets, the program and the pages of sparse planes actually written.
//
// With `--scratch FOLDER` first, the images live in scratch files there, and
// each line adds what the step made the process read from disk and write to
// it, and its major page faults.
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/catalogue.hpp"
#include "app/options.hpp"
#include "core/parallel.hpp"
#include "core/plane_buffer.hpp"
#include "io/png_io.hpp"
#include "scene/scene.hpp"

namespace {

using Clock = std::chrono::steady_clock;

bool show_io = false;

struct Times {
  Clock::time_point wall;
  double user, system;
  long major_faults;
  double read_mb, written_mb;  // storage traffic the process caused
};

double seconds(const timeval& t) { return double(t.tv_sec) + 1e-6 * double(t.tv_usec); }

// "read_bytes: N" and "write_bytes: N" of /proc/self/io, in MB.
void io_mb(double* read, double* written) {
  *read = *written = 0;
  std::ifstream in("/proc/self/io");
  std::string key;
  double value;
  while (in >> key >> value) {
    if (key == "read_bytes:") *read = value / 1e6;
    if (key == "write_bytes:") *written = value / 1e6;
  }
}

Times now() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  Times t{Clock::now(), seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_majflt, 0, 0};
  if (show_io) io_mb(&t.read_mb, &t.written_mb);
  return t;
}

// The resident set's peak since the last restart (VmHWM), in bytes; 0 when
// the kernel does not say.
std::uint64_t peak_resident_bytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmHWM:") == 0) return std::uint64_t(std::stoull(line.substr(6))) << 10;
  return 0;
}

// Restarts the resident set's peak at what is resident now.
void restart_resident_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Memory {
  double samples = 1;  // of the supersampled size

  void restart() {
    neonvale::reset_plane_high_water();
    restart_resident_peak();
  }
  void print() const {
    const neonvale::PlaneMemory planes = neonvale::plane_memory();
    const double mib = 1024.0 * 1024.0;
    const double resident = double(peak_resident_bytes());
    std::printf("  | live %7.1f MiB  high %7.1f MiB %5.1f B/s  rss %7.1f MiB %5.1f B/s", double(planes.live) / mib,
                double(planes.high_water) / mib, double(planes.high_water) / samples, resident / mib,
                resident / samples);
  }
};

void print(const char* name, const Times& from, const Times& to) {
  std::printf("%-12s %8.3f s  user %6.3f  sys %6.3f", name,
              std::chrono::duration<double>(to.wall - from.wall).count(), to.user - from.user,
              to.system - from.system);
  if (show_io)
    std::printf("  read %7.0f MB  written %7.0f MB  major faults %7ld", to.read_mb - from.read_mb,
                to.written_mb - from.written_mb, to.major_faults - from.major_faults);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace neonvale;
  try {
    if (argc >= 3 && std::strcmp(argv[1], "--scratch") == 0) {
      store_planes_in_scratch_files({argv[2]});
      show_io = true;
      argv[2] = argv[0];
      argv += 2;
      argc -= 2;
    }
    const Config config = parse_command_line(argc, argv);
    check_settings(config);
    const RenderSettings settings = render_settings(config);
    Memory memory;
    memory.samples = double(settings.width) * settings.aa_scale * double(settings.height) * settings.aa_scale;
    const Times start = now();
    const SceneAssets assets = load_scene_assets(asset_folder());
    Times last = now();
    print("assets", start, last);
    memory.print();
    std::printf("\n");
    RenderObserver observer;
    observer.stage_begin = [&](const char*, const StepProgress&) {
      memory.restart();
      last = now();
    };
    observer.stage_end = [&](const char* stage, const ImagePlanes&) {
      print(stage, last, now());
      memory.print();
      std::printf("\n");
    };
    const Image picture = render_scene(settings, assets, &observer);
    const std::filesystem::path out = std::filesystem::temp_directory_path() / "stage_times.png";
    memory.restart();
    last = now();
    save_png(picture, out);
    print("save", last, now());
    memory.print();
    std::printf("\n");
    std::filesystem::remove(out);
    const Times end = now();
    print("total", start, end);
    std::printf("\n(%d threads; a step's memory is its peak, the live planes its end)\n", thread_count());
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    return 1;
  }
  return 0;
}
