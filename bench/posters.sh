#!/usr/bin/env bash
# Poster benchmark: the default render beside a 24 x 36 inch poster at
# 300 dpi (7200 x 10800, AA 2: 311 M samples), once in memory and once inside
# a memory cgroup of 2 GiB, where the planes go to scratch files. Side by side
# in one run, since the machine is shared and noisy. Prints wall, user and
# system time, peak memory, bytes and nanoseconds a sample, and whether the
# two posters are byte-identical.
#
#   bench/posters.sh [-n REPEATS] [-m warm|cold] [--limit-mib 2048] [--largest] [BUILD_DIR]
#
# What ran just before a render changes its time on this kind of virtual
# machine: memory freed in the last second is cheap to touch again, fresh
# memory after idle is dear. So each run in memory is measured either right
# after an identical one that is not counted (-m warm, the default), or after
# COLD_SECONDS (default 20) of idle (-m cold). Runs inside the cgroup are not
# primed: there the disk, not fresh memory, sets the pace.
#
# --largest adds the largest 16:9 picture the PNG writer accepts,
# 23170 x 13033 at AA 2 (1.2 G samples), which does not fit in 24 GiB and
# renders through scratch files on its own.
#
# The cgroup run needs root and a memory controller: cgroup v1 at
# /sys/fs/cgroup/memory, or v2 at /sys/fs/cgroup with the memory controller
# enabled for its children. Without them that row is skipped. Peak memory is
# the largest resident set (of the process), and in the cgroup also the
# cgroup's own high-water mark, which counts the page cache of the scratch
# files it holds.
set -euo pipefail
repeats=1
mode=warm
cold_seconds=${COLD_SECONDS:-20}
limit_mib=2048
largest=0
build=build
while [ $# -gt 0 ]; do
  case "$1" in
    -n) repeats=$2; shift 2 ;;
    -m) mode=$2; shift 2 ;;
    --limit-mib) limit_mib=$2; shift 2 ;;
    --largest) largest=1; shift ;;
    *) build=$1; shift ;;
  esac
done
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$(cd "$build" && pwd)/neonvale
work=$(mktemp -d "${TMPDIR:-/var/tmp}/neonvale-posters-XXXXXX")
group=""
cleanup() {
  [ -n "$group" ] && [ -d "$group" ] && rmdir "$group" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

# A fresh memory cgroup with the limit; its path in $group, or empty.
make_group() {
  local bytes=$((limit_mib << 20))
  if [ -d /sys/fs/cgroup/memory ] && [ -w /sys/fs/cgroup/memory ]; then
    group=/sys/fs/cgroup/memory/neonvale-posters-$$
    mkdir "$group" && echo "$bytes" >"$group/memory.limit_in_bytes"
  elif [ -f /sys/fs/cgroup/cgroup.controllers ] && [ -w /sys/fs/cgroup ] &&
    grep -qw memory /sys/fs/cgroup/cgroup.subtree_control 2>/dev/null; then
    group=/sys/fs/cgroup/neonvale-posters-$$
    mkdir "$group" && echo "$bytes" >"$group/memory.max"
  fi
}
group_peak_mib() {
  local file=$group/memory.max_usage_in_bytes
  [ -f "$file" ] || file=$group/memory.peak
  [ -f "$file" ] && echo $(($(cat "$file") >> 20)) || echo -
}

declare -A rows
order=()
# run NAME IN_GROUP WIDTH HEIGHT AA: one render, its figures appended to rows[NAME].
run() {
  local name=$1 in_group=$2 w=$3 h=$4 aa=$5
  local command=("$exe" -w "$w" -h "$h" -a "$aa" -d "$root/assets/01_neonvale" -o "$work/$name.png")
  [[ " ${order[*]} " == *" $name "* ]] || order+=("$name")
  if [ "$in_group" = 1 ]; then
    [ -n "$group" ] || { rows[$name]="skipped"; return; }
    [ "$mode" = cold ] && sleep "$cold_seconds"
    [ -f "$group/memory.max_usage_in_bytes" ] && echo 0 >"$group/memory.max_usage_in_bytes"
    sh -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$group" \
      /usr/bin/time -f '%e %U %S %M' -o "$work/time" "${command[@]}"
  else
    # The largest picture lives in scratch files: nothing to prime.
    if [ "$mode" = cold ]; then sleep "$cold_seconds"; elif [ "$name" != largest ]; then "${command[@]}"; fi
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" "${command[@]}"
  fi
  local wall user sys rss peak
  read -r wall user sys rss <"$work/time"
  peak=-
  [ "$in_group" = 1 ] && peak=$(group_peak_mib)
  rows[$name]+="$wall $user $sys $rss $peak $((w * h * aa * aa));"
}

make_group
for ((r = 1; r <= repeats; r++)); do
  run default 0 3840 2160 2
  run poster 0 7200 10800 2
  run poster_in_${limit_mib}MiB 1 7200 10800 2
  [ "$largest" = 1 ] && run largest 0 23170 13033 2
done

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
printf '%-22s %12s %8s %8s %8s %9s %9s %8s %9s\n' run samples wall_s user_s sys_s peak_MiB group_MiB B/sample ns/sample
for name in "${order[@]}"; do
  if [ "${rows[$name]}" = skipped ]; then
    printf '%-22s skipped: no writable memory cgroup (needs root)\n' "$name"
    continue
  fi
  col() { tr ';' '\n' <<<"${rows[$name]}" | awk -v c="$1" 'NF {print $c}' | median; }
  group_peak=$(tr ';' '\n' <<<"${rows[$name]}" | awk 'NF {print $5}' | tail -1)
  awk -v name="$name" -v samples="$(col 6)" -v wall="$(col 1)" -v user="$(col 2)" -v sys="$(col 3)" \
    -v rss="$(col 4)" -v group="$group_peak" 'BEGIN {
      printf "%-22s %12d %8.2f %8.2f %8.2f %9.0f %9s %8.1f %9.1f\n", name, samples, wall, user, sys, rss / 1024,
        group, rss * 1024 / samples, wall * 1e9 / samples }'
done
if [ -f "$work/poster.png" ] && [ -f "$work/poster_in_${limit_mib}MiB.png" ]; then
  if cmp -s "$work/poster.png" "$work/poster_in_${limit_mib}MiB.png"; then
    echo "the two posters are byte-identical"
  else
    echo "the two posters DIFFER" && exit 1
  fi
fi
echo "$repeats run(s) each, $mode, medians; $(nproc) threads"
