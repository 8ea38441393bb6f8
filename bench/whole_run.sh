#!/usr/bin/env bash
# Whole-run benchmark: wall time, user and system time and peak resident
# memory of complete renders, at one thread and at all threads, side by side
# in one run (the machine is shared and noisy, so only ratios measured
# together mean much). Runs are interleaved and repeated; medians are shown.
# Every run's picture must be byte-identical to the first one.
#
#   bench/whole_run.sh [-n REPEATS] [-t "1 2"] [BUILD_DIR ...] [-- neonvale flags]
#
# Each BUILD_DIR holds a built neonvale (default: build). Several build dirs
# compare builds (for example before and after a change). Flags after -- go
# to neonvale (default: none, the 3840 x 2160 default render).
set -euo pipefail
repeats=3
threads="1 $(nproc)"
builds=()
while [ $# -gt 0 ]; do
  case "$1" in
    -n) repeats=$2; shift 2 ;;
    -t) threads=$2; shift 2 ;;
    --) shift; break ;;
    *) builds+=("$1"); shift ;;
  esac
done
[ ${#builds[@]} -gt 0 ] || builds=(build)
flags=("$@")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/assets"
cp -r "$root/assets/01_neonvale" "$work/assets/"

declare -A samples
reference=""
for ((r = 1; r <= repeats; r++)); do
  for b in "${builds[@]}"; do
    exe=$(cd "$b" && pwd)/neonvale
    for t in $threads; do
      (cd "$work" && OMP_NUM_THREADS=$t /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$exe" "${flags[@]}")
      read -r wall user sys rss <"$work/time"
      samples["$b|$t"]+="$wall $user $sys $rss;"
      sum=$(sha256sum "$work/01_LumenDrift.png" | cut -d' ' -f1)
      if [ -z "$reference" ]; then reference=$sum; elif [ "$sum" != "$reference" ]; then
        echo "picture differs: build $b at $t threads" >&2; exit 1
      fi
    done
  done
done

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
printf '%-28s %8s %8s %8s %8s %10s\n' build threads wall_s user_s sys_s peak_MiB
for b in "${builds[@]}"; do
  for t in $threads; do
    runs=${samples["$b|$t"]}
    col() { tr ';' '\n' <<<"$runs" | awk -v c="$1" 'NF {print $c}' | median; }
    printf '%-28s %8s %8.2f %8.2f %8.2f %10.0f\n' "$b" "$t" "$(col 1)" "$(col 2)" "$(col 3)" "$(( $(col 4 | cut -d. -f1) / 1024 ))"
  done
done
echo "all pictures identical (sha256 $reference)"
