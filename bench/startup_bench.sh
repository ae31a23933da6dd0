#!/usr/bin/env bash
# Start-up to the first painted window: tavrio (--quit-after-first-paint, a later launch, so no
# notice) against a bare Qt Widgets window started the same way, alternating, on one Xvfb. Both
# report when they painted, so the time is from the launch to the window on the screen.
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

# run CMD...: "first-paint-ms exit-ms" from the launch; each program writes the wall-clock time
# of its first paint ("first paint at NS") to stderr. Work a program starts after its first
# paint (tavrio opens the camera then) shows in the exit time only.
run() {
  local start end paint
  start=$(date +%s%N)
  timeout 60 "$@" >/dev/null 2>"$home/err" || true
  end=$(date +%s%N)
  paint=$(sed -n 's/^first paint at \([0-9]*\)$/\1/p' "$home/err" | head -1)
  [ -n "$paint" ] || { echo "no first paint from $1:" >&2; cat "$home/err" >&2; exit 1; }
  echo "$(( (paint - start) / 1000000 )) $(( (end - start) / 1000000 ))"
}
ms() {
  local start end
  start=$(date +%s%N)
  timeout 60 "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

t_list=() b_list=() te_list=() be_list=() l_list=()
for _ in $(seq "$runs"); do
  read -r p e <<<"$(run "${tavrio[@]}")"
  t_list+=("$p") te_list+=("$e")
  read -r p e <<<"$(run "${bare[@]}")"
  b_list+=("$p") be_list+=("$e")
  l_list+=("$(ms "$build/src/app/tavrio" --version)")
done
l=$(printf '%s\n' "${l_list[@]}" | median)
t=$(printf '%s\n' "${t_list[@]}" | median)
b=$(printf '%s\n' "${b_list[@]}" | median)
te=$(printf '%s\n' "${te_list[@]}" | median)
be=$(printf '%s\n' "${be_list[@]}" | median)
echo "tavrio to first paint: ${t} ms (median of $runs; to its exit ${te} ms)"
echo "bare Qt window:        ${b} ms (median of $runs; to its exit ${be} ms)"
echo "tavrio --version:      ${l} ms (loading the program and its libraries, no window)"
awk -v t="$t" -v b="$b" 'BEGIN { printf "ratio: %.2f (target <= 1.5)\n", t / b }'
