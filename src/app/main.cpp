// neonvale: renders "Lumen Drift" and writes it as a PNG file. Every failure
// ends here as one "E: " line on standard output and exit code 1.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>

#include "app/asset_location.hpp"
#include "app/catalogue.hpp"
#include "app/options.hpp"
#include "app/progress.hpp"
#include "app/signals.hpp"
#include "core/parallel.hpp"
#include "core/plane_buffer.hpp"
#include "core/system_memory.hpp"
#include "io/png_io.hpp"
#include "scene/render_limits.hpp"
#include "scene/scene.hpp"

namespace {

// glibc gives each thread that allocates an arena of its own, reserving
// 64 MiB of address space apiece (128 MiB while it is made). Under an
// address-space limit those reservations take the room the images need, and
// the loops allocate next to nothing per thread, so all threads share one
// arena. Set before any other thread exists; other C libraries ignore it.
//
// glibc also raises its threshold for mapping a block of its own each time
// such a block is freed, so that the next asset's decoded rows come from the
// heap and stay there once freed; a fixed threshold returns them at once,
// which the memory estimate counts on.
void configure_allocator() {
#ifdef M_ARENA_MAX
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  using namespace neonvale;
  configure_allocator();
  install_signal_handlers();  // before anything can create the output's temporary
  if (answer_help_or_version(argc, argv)) return 0;
  Config config;
  if (!parse_or_print_usage(argc, argv, config)) return 1;
  AssetLocation assets_at;
  try {
    check_settings(config);
    // What cannot be saved or cannot fit is refused before anything is loaded.
    check_output_size(config.width, config.height);
    const RenderSettings settings = render_settings(config);
    check_render_size(settings);
    // A render that does not fit in memory keeps its images in scratch files.
    const MemoryRoom room = memory_room(scratch_folder(std::getenv("TMPDIR")));
    // The assets' sizes come from their headers; a missing or bad file is
    // reported when it loads, after the refusals below.
    assets_at = locate_assets(config.asset_folder, running_executable());
    const AssetCosts asset_sizes = asset_costs(assets_at.folder, room.available().value_or(UINT64_MAX));
    const RenderNeeds needs = render_needs(settings, asset_sizes, 1);
    const StoragePlan plan = plan_storage(needs, room);
    if (plan.storage == PlaneStorage::scratch_files) {
      store_planes_in_scratch_files({room.scratch_folder.string()});
      report_scratch_faults(room.scratch_folder);
    }
    // No more threads than the memory left beside the render allows; more
    // threads also decode more assets at once.
    const int wanted_threads = config.threads > 0 ? config.threads : thread_count();
    const auto resident = [&](int threads) {
      const RenderNeeds n = render_needs(settings, asset_sizes, threads);
      return plan.storage == PlaneStorage::memory ? n.in_memory : n.with_scratch_files;
    };
    set_thread_count(affordable_threads(resident, plan.room, wanted_threads));
    const std::filesystem::path output = output_path(config);

    ProgressDisplay progress;  // on standard error, only when it is a terminal
    if (plan.storage == PlaneStorage::scratch_files)
      progress.note(scratch_files_line(room.scratch_folder, needs.in_memory, room.memory.value_or(0)));
    StepProgress loading;
    progress.step("loading assets", &loading);
    const SceneAssets assets = load_scene_assets(assets_at.folder, &loading);
    // Opened before the render, so that an output that cannot be written is
    // reported at once rather than after minutes of work.
    const std::unique_ptr<OutputFile> out = open_png_output(output);
    Image picture = render_scene(settings, assets, progress.observer());
    progress.step("saving");
    save_png(picture, *out, {{"Comment", provenance_text(config)}});
    progress.finish(output);
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    if (!assets_at.found && stderr_is_terminal()) {
      std::fflush(stdout);
      std::fputs(missing_assets_hint(assets_at).c_str(), stderr);
    }
    return 1;
  }
  return 0;
}
