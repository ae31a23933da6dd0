#!/usr/bin/env bash
# Export benchmarks: each line prints our time, the reference's time (the ffmpeg tools doing the
# same job with the same encoder settings, measured in this same run) and the ratio, for wall
# time and for CPU time (user + system; steadier when other jobs share the machine).
#   bench/export_bench.sh            720p and 1080p zoom exports (with where their time goes),
#                                    1080p stream copy, 1080p thumbnail
#   bench/export_bench.sh --memory   also the peak memory of a 2-minute 1080p export (slow)
#   SIZES=720 or SIZES=1080 runs one zoom case (1080 goes on to the rest); BENCH_RUNS_SHOWN=1
#   also prints every run's wall time.
# Each comparison runs both sides in turns, RUNS rounds (default 5), and compares their median
# times, so a burst of another job counts little and tends to fall on both sides.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/${TAVRIO_BUILD_DIR:-build}"
runs=${RUNS:-5}
work=$(mktemp -d /tmp/tavrio-export-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target export_bench -j2 >/dev/null
bench="$build/bench/export_bench"

if ! command -v ffmpegthumbnailer >/dev/null; then
    apt-get install -y ffmpegthumbnailer >/dev/null 2>&1 || echo "(ffmpegthumbnailer could not be installed)"
fi

# The export's encoder settings, read from the one place the engine keeps them.
hdr="$here/src/media/ExportPresets.h"
x264_preset=$(sed -n 's/.*x264Preset = "\(.*\)";/\1/p' "$hdr")
crf=$(sed -n 's/.*int crf = \([0-9]*\);/\1/p' "$hdr")
profile=$(sed -n 's/.*profile = "\(.*\)";/\1/p' "$hdr")
params=$(sed -n 's/.*x264Params = "\(.*\)";/\1/p' "$hdr")
x264=(-c:v libx264 -preset "$x264_preset" -crf "$crf" -profile:v "$profile" -x264-params "$params" -pix_fmt yuv420p)

# timed LABEL CMD...: one run of CMD, its wall and CPU time (user + system) added to LABEL's list;
# LABEL also keeps the peak RSS (KiB) and the engine's timings of its fastest run. Callers take
# turns between the commands they compare, round after round, so that a slow spell of the machine
# falls on both sides of a ratio alike.
declare -A walls cpus fastest rss
timed() {
    local label=$1 t user sys mem
    shift
    rm -f "$work"/out*.mov "$work"/thumb.* "$work/timings"
    TAVRIO_BENCH_TIMINGS="$work/timings" /usr/bin/time -f "%e %U %S %M" -o "$work/t" "$@" >/dev/null \
        2>"$work/err" || { cat "$work/err" >&2; return 1; }
    read -r t user sys mem <"$work/t"
    walls[$label]="${walls[$label]:-} $t"
    cpus[$label]="${cpus[$label]:-} $(awk "BEGIN{print $user + $sys}")"
    if [ -z "${fastest[$label]:-}" ] || awk "BEGIN{exit !($t < ${fastest[$label]})}"; then
        fastest[$label]=$t
        rss[$label]=$mem
        if [ -f "$work/timings" ]; then cp "$work/timings" "$work/timings.$label"; else rm -f "$work/timings.$label"; fi
    fi
}
# breakdown NAME FILE: where an export of ours spent its time (from the engine's own timings).
breakdown() {
    [ -f "$2" ] || return 0
    read -r dec decw ren rens renw enc encw <"$2"
    awk -v n="$1" -v d="$dec" -v dw="$decw" -v r="$ren" -v rs="$rens" -v rw="$renw" -v e="$enc" -v ew="$encw" 'BEGIN{
        printf "   %-6s reader: decode %5.2fs, waits %5.2fs | renderer: render %5.2fs, waits for pictures %5.2fs, for the encoder %5.2fs | encoder: encode %5.2fs, waits %5.2fs\n",
               n, d, dw, r, rs, rw, e, ew }'
}
# report NAME OURS REFERENCE TARGET: the median wall and CPU times of both labels and their ratios.
report() {
    awk -v n="$1" -v ow="${walls[$2]}" -v oc="${cpus[$2]}" -v rw="${walls[$3]}" -v rc="${cpus[$3]}" -v t="$4" '
        function median(s,    a, k, i, j, x) {
            k = split(s, a, " ")
            for (i = 2; i <= k; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
            return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
        }
        BEGIN {
            printf "%-46s wall %6.2fs / %6.2fs = %.2f   cpu %6.2fs / %6.2fs = %.2f   (target %s)\n",
                   n, median(ow), median(rw), median(ow) / median(rw), median(oc), median(rc), median(oc) / median(rc), t
        }'
    if [ -n "${BENCH_RUNS_SHOWN:-}" ]; then
        echo "      wall of each run: $2:${walls[$2]} | $3:${walls[$3]}"
    fi
}

echo "== export_bench (x264 $x264_preset crf $crf $params; medians of $runs rounds; ours / reference)"
# Real pictures when the shared movies are there (a zoom changes how hard a picture is to
# encode, and a test pattern exaggerates that), else the engine's own pattern.
bunny="$here/../shared/media/mediabunny__video-h265.mp4"
if [ -f "$bunny" ]; then
    ffmpeg -v error -y -i "$bunny" -t 10 -vf scale=1280:720 -r 30 -c:v libx264 -preset veryfast -crf 20 \
        -c:a copy "$work/src720.mov"
    echo "   source: 10 s of the shared HEVC movie as 1280x720 H.264 with AAC"
else
    "$bench" make "$work/src720.mov" 1280 720 10
    echo "   source: the engine's 1280x720 test pattern with AAC"
fi
zoom_expr="if(lt(it,5),1+2*it/5,3-1.5*(it-5)/5)"
# zoom_case W H SOURCE: our zoom exports against the floor (ffmpeg re-encoding our zoomed output
# with the same settings: no zoom export can beat it), zoompan and a plain transcode.
zoom_case() {
    local w=$1 h=$2 src=$3 p="${2}p" round
    # The very pictures the Good export encodes, for x264 to encode alone. Only at 720p: at 1080p
    # ffmpeg spends longer reading 0.9 GB of raw pictures than the export spends rendering them.
    if [ "$w" = 1280 ]; then "$bench" frames "$src" "$work/frames.y4m"; fi
    for round in $(seq "$runs"); do
        # Each export runs right before the references it is compared with.
        timed "good$p" "$bench" export "$src" "$work/out-good.mov" good
        if [ "$round" = 1 ]; then cp "$work/out-good.mov" "$work/zoomed-good.mov"; fi
        # What x264 alone costs on the zoomed pictures: ffmpeg decoding our output and encoding
        # it again with the same settings, no zoom work at all.
        timed "floorGood$p" ffmpeg -v error -y -i "$work/zoomed-good.mov" "${x264[@]}" -c:a copy "$work/out-reenc.mov"
        # Decoding the source, as any export must, while x264 encodes the Good export's own
        # pictures: a floor that leaves out only the rendering. The floor above gives x264
        # pictures that went through x264 once already, which encode a few percent faster.
        if [ "$w" = 1280 ]; then
            timed "exact$p" ffmpeg -v error -y -i "$src" -i "$work/frames.y4m" -map 0:v -f null - \
                -map 1:v -map 0:a "${x264[@]}" -c:a copy "$work/out-exact.mov"
        fi
        timed "best$p" "$bench" export "$src" "$work/out-best.mov" best
        if [ "$round" = 1 ]; then cp "$work/out-best.mov" "$work/zoomed-best.mov"; fi
        timed "floorBest$p" ffmpeg -v error -y -i "$work/zoomed-best.mov" "${x264[@]}" -c:a copy "$work/out-reenc.mov"
        timed "zp$p" ffmpeg -v error -y -i "$src" \
            -vf "zoompan=z='$zoom_expr':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':d=1:s=${w}x${h}:fps=30" \
            "${x264[@]}" -c:a copy "$work/out-zp.mov"
        timed "ref$p" ffmpeg -v error -y -i "$src" "${x264[@]}" -c:a copy "$work/out-ref.mov"
        if [ "$w" = 1280 ]; then
            timed "plain$p" "$bench" export "$src" "$work/out-plain.mov" plain
            timed "still$p" "$bench" export "$src" "$work/out-still.mov" still
        fi
    done
    report "$p zoom export Good vs the floor" "good$p" "floorGood$p" "<= 1.03"
    breakdown "Good" "$work/timings.good$p"
    if [ "$w" = 1280 ]; then report "$p zoom export Good vs x264 on its pictures" "good$p" "exact$p" "-"; fi
    report "$p zoom export Best vs the floor" "best$p" "floorBest$p" "<= 1.10"
    breakdown "Best" "$work/timings.best$p"
    report "$p zoom export Good vs zoompan" "good$p" "zp$p" "<= 1"
    report "$p zoom export Best vs zoompan" "best$p" "zp$p" "<= 1"
    report "$p zoom export Good vs transcode" "good$p" "ref$p" "-"
    report "$p zoom export Best vs transcode" "best$p" "ref$p" "-"
    report "(reference: floor vs transcode, $p)" "floorGood$p" "ref$p" "-"
    report "(reference: zoompan vs transcode, $p)" "zp$p" "ref$p" "-"
    if [ "$w" = 1280 ]; then
        report "(reference: floor vs x264 alone, $p)" "floorGood$p" "exact$p" "-"
        rm -f "$work/frames.y4m"
        report "$p export, no composition, vs transcode" "plain$p" "ref$p" "-"
        # The same pipeline under a composition that does not zoom: what the rendering itself
        # costs, apart from the zoomed pictures being harder to encode.
        report "$p export, unzoomed composition" "still$p" "ref$p" "-"
    fi
}
sizes=${SIZES:-720 1080}
if [[ " $sizes " == *" 720 "* ]]; then zoom_case 1280 720 "$work/src720.mov"; fi
[[ " $sizes " == *" 1080 "* ]] || exit 0
if [ -f "$bunny" ]; then
    ffmpeg -v error -y -i "$bunny" -t 10 -vf scale=1920:1080 -r 30 -c:v libx264 -preset veryfast -crf 20 \
        -c:a copy "$work/src1080z.mov"
else
    "$bench" make "$work/src1080z.mov" 1920 1080 10
fi
zoom_case 1920 1080 "$work/src1080z.mov"

"$bench" make "$work/src1080.mov" 1920 1080 60
for _ in $(seq "$runs"); do
    timed copyRef ffmpeg -v error -y -i "$work/src1080.mov" -map 0:v -map 0:a -c copy "$work/out-ref.mov"
    timed copy "$bench" export "$work/src1080.mov" "$work/out-copy.mov" portrait
done
report "60s 1080p passthrough vs ffmpeg -c copy" copy copyRef "<= 1.5"

if command -v ffmpegthumbnailer >/dev/null; then
    # Five calls in a row: one call is too short to time alone.
    cat >"$work/repeat5.sh" <<'SH'
for i in 1 2 3 4 5; do "$@" || exit 1; done
SH
    for _ in $(seq "$runs"); do
        timed thumbRef bash "$work/repeat5.sh" ffmpegthumbnailer -i "$work/src1080.mov" -o "$work/thumb.png" -s 256 -c png
        timed thumb bash "$work/repeat5.sh" "$bench" thumbnail "$work/src1080.mov" "$work/thumb.ppm" 256
    done
    report "1080p thumbnail x5 vs ffmpegthumbnailer" thumb thumbRef "<= 1.5"
else
    echo "1080p thumbnail: skipped (no ffmpegthumbnailer)"
fi

if [ "${1:-}" = "--memory" ]; then
    "$bench" make "$work/src2min.mov" 1920 1080 120
    timed mem "$bench" export "$work/src2min.mov" "$work/out-mem.mov" good
    printf "%-42s peak RSS %d MiB in %.0fs   (target <= 300 MiB)\n" "2-minute 1080p zoom export (Good)" \
        $((rss[mem] / 1024)) "${fastest[mem]}"
fi
