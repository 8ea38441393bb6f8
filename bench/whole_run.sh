#!/usr/bin/env bash
# Whole-run benchmark: wall time, user and system time and peak resident
# memory of complete renders, side by side in one run (the machine is shared
# and noisy, so only ratios measured together mean much). Runs are
# interleaved and repeated; medians are shown. Every run's picture must be
# byte-identical to the first one.
#
#   bench/whole_run.sh [-n REPEATS] [-t "1 2"] [-m "warm cold"] [--baseline] [BUILD_DIR ...] [-- neonvale flags]
#
# Each BUILD_DIR holds a built neonvale (default: build). Flags after -- go to
# neonvale (default: none, the 3840 x 2160 default render).
#
# --baseline adds the fixed straightforward build of the same passes as the
# first column: the last commit before the parallel work (every pass serial,
# every image fresh and zero-filled, whole copies for the copy-then-write
# passes), built once into build-baseline/ from this repository's history.
# It is serial, so it runs at one thread only.
#
# Ratios: each round runs every build once per mode and thread count, close
# together in time, so the ratios are taken within a round (the baseline's
# wall time over each build's, and each build's one-thread wall time over its
# own at more threads), and their medians over the rounds are shown. A host
# that slows down for a while then moves both sides of a ratio together.
#
# Modes: "warm" measures each run right after an identical one (same build,
# same threads; that one is not counted), as when the same command runs
# again and again: on this kind of virtual machine memory freed in the last
# second is cheap to touch again, so what ran just before changes a run's
# system time, and the priming run makes that the same for every build.
# "cold" waits COLD_SECONDS (default 20) before each run, long enough for the
# machine to hand freed memory back to its host, so that first touches of
# fresh memory cost what they cost after the machine has been idle. It hands
# it back a few hundred MB a second: 10 s after a run that freed 3.3 GB (the
# baseline's footprint) most of that memory was still cheap to touch, 20 s
# after none was.
set -euo pipefail
repeats=3
threads="1 $(nproc)"
modes="warm"
baseline=0
builds=()
while [ $# -gt 0 ]; do
  case "$1" in
    -n) repeats=$2; shift 2 ;;
    -t) threads=$2; shift 2 ;;
    -m) modes=$2; shift 2 ;;
    --baseline) baseline=1; shift ;;
    --) shift; break ;;
    *) builds+=("$1"); shift ;;
  esac
done
[ ${#builds[@]} -gt 0 ] || builds=(build)
flags=("$@")
root=$(cd "$(dirname "$0")/.." && pwd)
cold_seconds=${COLD_SECONDS:-20}

if [ "$baseline" = 1 ]; then
  commit=c93e3b7  # the straightforward serial build
  base="$root/build-baseline"
  if [ ! -x "$base/build/neonvale" ]; then
    rm -rf "$base" && mkdir -p "$base/src"
    git -C "$root" archive "$commit" | tar -x -C "$base/src"
    cmake -S "$base/src" -B "$base/build" -DCMAKE_BUILD_TYPE=Release -DNEONVALE_TESTS=OFF -DNEONVALE_BENCH=OFF >/dev/null
    cmake --build "$base/build" -j"$(nproc)" --target neonvale >/dev/null
  fi
  builds=("$base/build" "${builds[@]}")
fi

hasher="$root/build/tools/picture_hash"
[ -x "$hasher" ] || cmake --build "$root/build" --target picture_hash >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/assets"
cp -r "$root/assets/01_neonvale" "$work/assets/"

is_baseline() { [ "$baseline" = 1 ] && [ "$1" = "$base/build" ]; }
# The baseline is serial: only its one-thread runs mean anything.
thread_counts() { if is_baseline "$1"; then echo 1; else echo "$threads"; fi; }

declare -A samples  # per build, threads and mode: each round's run, in order
reference=""
for ((r = 1; r <= repeats; r++)); do
  for mode in $modes; do
    for b in "${builds[@]}"; do
      exe=$(cd "$b" && pwd)/neonvale
      for t in $(thread_counts "$b"); do
        [ "$mode" = cold ] && sleep "$cold_seconds"
        [ "$mode" = warm ] && (cd "$work" && OMP_NUM_THREADS=$t "$exe" "${flags[@]}")
        (cd "$work" && OMP_NUM_THREADS=$t /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$exe" "${flags[@]}")
        read -r wall user sys rss <"$work/time"
        samples["$b|$t|$mode"]+="$wall $user $sys $rss;"
        sum=$("$hasher" "$work/01_LumenDrift.png" | cut -d' ' -f1)
        if [ -z "$reference" ]; then reference=$sum; elif [ "$sum" != "$reference" ]; then
          echo "picture differs: build $b at $t threads" >&2; exit 1
        fi
      done
    done
  done
done

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
printf '%-36s %5s %7s %8s %8s %8s %10s\n' build mode threads wall_s user_s sys_s peak_MiB
for mode in $modes; do
  for b in "${builds[@]}"; do
    for t in $(thread_counts "$b"); do
      runs=${samples["$b|$t|$mode"]}
      col() { tr ';' '\n' <<<"$runs" | awk -v c="$1" 'NF {print $c}' | median; }
      printf '%-36s %5s %7s %8.2f %8.2f %8.2f %10.0f\n' "$b" "$mode" "$t" "$(col 1)" "$(col 2)" "$(col 3)" \
        "$(( $(col 4 | cut -d. -f1) / 1024 ))"
    done
  done
done
# The wall times of one kind of run, a round a line.
walls() { tr ';' '\n' <<<"${samples["$1"]}" | awk 'NF {print $1}'; }
# The median over the rounds of the ratio a / b of two kinds of run's wall times.
round_ratio() { paste -d' ' <(walls "$1") <(walls "$2") | awk '$2 > 0 {print $1 / $2}' | median; }
echo
printf '%-36s %5s %7s %14s %14s\n' build mode threads vs_baseline vs_own_1_thread
for mode in $modes; do
  for b in "${builds[@]}"; do
    is_baseline "$b" && continue
    for t in $threads; do
      vs_base=-
      [ "$baseline" = 1 ] && vs_base=$(printf '%.2fx' "$(round_ratio "$base/build|1|$mode" "$b|$t|$mode")")
      scaling=-
      [ "$t" != 1 ] && [[ " $threads " == *" 1 "* ]] && scaling=$(printf '%.2fx' "$(round_ratio "$b|1|$mode" "$b|$t|$mode")")
      printf '%-36s %5s %7s %14s %14s\n' "$b" "$mode" "$t" "$vs_base" "$scaling"
    done
  done
done
echo "all pictures identical (pixel hash $reference), $repeats runs each, medians (ratios: medians of each round's ratio)"
