#!/usr/bin/env bash
# Start-up to the first painted window: tavrio (--quit-after-first-paint, a later launch, so no
# notice) against a bare Qt Widgets window started the same way, alternating, on one Xvfb.
# Prints each program's median wall time over the runs and the ratio (target: at most 1.5),
# and how much of tavrio's time goes to loading it (tavrio --version) before Qt even starts.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/${TAVRIO_BUILD_DIR:-build}"
runs=${RUNS:-15}
source "$here/tests/e2e/xdrive.sh"
under_xvfb 600 "$0" "$@"
unset QT_QPA_PLATFORM
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export TAVRIO_HOME=$home
tavrio=("$build/src/app/tavrio" --quit-after-first-paint)
bare=("$build/bench/bare_window")
# The first launch seeds the settings and shows the notice; measure later launches.
timeout 60 "${tavrio[@]}" >/dev/null 2>&1 || true
timeout 60 "${bare[@]}" >/dev/null 2>&1

ms() {
  local start end
  start=$(date +%s%N)
  timeout 60 "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

t_list=() b_list=() l_list=()
for _ in $(seq "$runs"); do
  t_list+=("$(ms "${tavrio[@]}")")
  b_list+=("$(ms "${bare[@]}")")
  l_list+=("$(ms "$build/src/app/tavrio" --version)")
done
l=$(printf '%s\n' "${l_list[@]}" | median)
t=$(printf '%s\n' "${t_list[@]}" | median)
b=$(printf '%s\n' "${b_list[@]}" | median)
echo "tavrio to first paint: ${t} ms (median of $runs)"
echo "bare Qt window:        ${b} ms (median of $runs)"
echo "tavrio --version:      ${l} ms (loading the program and its libraries, no window)"
awk -v t="$t" -v b="$b" 'BEGIN { printf "ratio: %.2f (target <= 1.5)\n", t / b }'
