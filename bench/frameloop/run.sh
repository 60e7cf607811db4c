#!/usr/bin/env bash
# What the running show costs: the probe build of the demo plays for SECONDS under its own Xvfb
# (with SDL's dummy audio, which plays in real time), and this prints the processor time of the
# demo and of the X server over that span, the frames presented and the clock reached.
# Usage: bench/frameloop/run.sh [BUILD_DIR] [SECONDS] [WxH] [RUNS]
set -euo pipefail
build=${1:-build}
seconds=${2:-20}
size=${3:-1920x1080}
runs=${4:-1}
demo="$build/driver/demo_probe"
[ -x "$demo" ] || { echo "run.sh: build $demo first (target demo_probe)" >&2; exit 1; }

work=$(mktemp -d)
Xvfb -displayfd 5 -screen 0 "${size}x24" -nolisten tcp -noreset 5>"$work/display" 2>/dev/null &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
export SDL_AUDIODRIVER=dummy DEMO_DIAGNOSTICS=1
unset DEMO_CLOCK_MS DEMO_FRAME_LOG

ticks=$(getconf CLK_TCK)
# utime + stime of a process, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

for i in $(seq "$runs"); do
    server_before=$(cpu_ticks "$xvfb_pid")
    start=$(date +%s.%N)
    # The demo's own times come from the shell's accounting of its child.
    /usr/bin/time -f "%U %S" -o "$work/time" timeout -s TERM "$seconds" "$demo" \
        >/dev/null 2>"$work/err" || true
    end=$(date +%s.%N)
    server_after=$(cpu_ticks "$xvfb_pid")
    read -r user sys < <(tail -n1 "$work/time")
    frames=$(sed -n 's/^diag: frames \([0-9]*\),.*/\1/p' "$work/err")
    clock=$(sed -n 's/^diag: frames .*, last clock \([0-9]*\) ms$/\1/p' "$work/err")
    awk -v u="$user" -v s="$sys" -v a="$start" -v b="$end" -v x0="$server_before" \
        -v x1="$server_after" -v t="$ticks" -v f="$frames" -v c="$clock" -v i="$i" -v sz="$size" \
        'BEGIN { w = b - a; printf "run %d %s: %.1f s wall, demo %.2f s cpu (%.3f cores), X server %.2f s cpu (%.3f cores), %d frames (%.1f per second), clock reached %d ms\n", i, sz, w, u + s, (u + s) / w, (x1 - x0) / t, (x1 - x0) / t / w, f, f / w, c }'
done
