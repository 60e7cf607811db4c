#!/usr/bin/env bash
# What capturing the show costs: runs the capture tool RUNS times over a clock span (default the
# whole show) at 1920x1080 and 60 frames per second, and prints per run the wall and processor
# time, both as a multiple of real time (the span's length of video; above 1 is faster), the
# peak memory and the file's checksum. Options after END_MS go to the timed runs (for instance
# --preset ultrafast). With REFERENCE_BUILD set, the same span is also captured by that build
# once with its default options and the files are compared: the same bytes, or the PSNR.
# Usage: bench/capture/run.sh [BUILD_DIR] [RUNS] [START_MS] [END_MS] [CAPTURE_OPTIONS...]
set -euo pipefail
build=${1:-build}
runs=${2:-2}
start=${3:-0}
end=${4:-48000}
shift $(($# < 4 ? $# : 4))
capture="$build/tools/capture/capture"
[ -x "$capture" ] || { echo "run.sh: build $capture first (target capture)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One capture: prints "WALL CPU PEAK_KB FRAMES".
measure() {
    local tool=$1 out=$2
    shift 2
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$tool" -o "$out" --start "$start" \
        --end "$end" --frame-log "$work/frames" "$@" >/dev/null 2>&1
    read -r wall user sys peak < <(tail -n1 "$work/time")
    echo "$wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $peak $(wc -l <"$work/frames")"
}

for i in $(seq "$runs"); do
    read -r wall cpu peak frames < <(measure "$capture" "$work/run$i.mp4" "$@")
    awk -v i="$i" -v w="$wall" -v c="$cpu" -v p="$peak" -v f="$frames" \
        -v sum="$(md5sum <"$work/run$i.mp4" | cut -c1-32)" \
        'BEGIN { v = f / 60; printf "run %d: %d frames (%.1f s of video) in %.1f s wall (%.2fx real time), %.1f s cpu (%.2fx), peak %.0f MB, md5 %s\n", i, f, v, w, v / w, c, v / c, p / 1024, sum }'
done
if [ "$runs" -ge 2 ]; then
    cmp -s "$work/run1.mp4" "$work/run2.mp4" && echo "runs 1 and 2: the same bytes" ||
        echo "runs 1 and 2 differ"
fi
if [ -n "${REFERENCE_BUILD:-}" ]; then
    read -r wall cpu peak frames < <(measure "$REFERENCE_BUILD/tools/capture/capture" "$work/ref.mp4")
    awk -v w="$wall" -v c="$cpu" -v p="$peak" -v f="$frames" \
        'BEGIN { v = f / 60; printf "reference: %d frames in %.1f s wall (%.2fx real time), %.1f s cpu (%.2fx), peak %.0f MB\n", f, w, v / w, c, v / c, p / 1024 }'
    if cmp -s "$work/run1.mp4" "$work/ref.mp4"; then
        echo "against the reference: the same bytes"
    else
        ffmpeg -nostdin -i "$work/run1.mp4" -i "$work/ref.mp4" -lavfi psnr -f null - 2>&1 |
            grep -o 'PSNR.*' | sed 's/^/against the reference: /'
    fi
fi
