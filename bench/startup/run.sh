#!/usr/bin/env bash
# Times the demo from its start to the first presented frame under its own Xvfb, phase by phase
# (window, GL context, player, the wait for the pictures, upload, shader, audio pre-render, the
# first draw; and beside the window, on their own thread, decoding and resampling), runs it RUNS
# times (default 5) and prints every run and the median of each phase. Runs the probe build, the
# same program with hooks that report timings and can hold the clock.
# Usage: bench/startup/run.sh [BUILD_DIR] [RUNS] [WxH]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
size=${3:-1280x720}
demo="$build/driver/demo_probe"
[ -x "$demo" ] || { echo "run.sh: build $demo first (target demo_probe)" >&2; exit 1; }

work=$(mktemp -d)
Xvfb -displayfd 5 -screen 0 "${size}x24" -nolisten tcp -noreset 5>"$work/display" 2>/dev/null &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
export SDL_AUDIODRIVER=dummy DEMO_DIAGNOSTICS=1 DEMO_CLOCK_MS=48000

for i in $(seq "$runs"); do
    # With the clock held at the end, the demo presents one frame and ends by itself.
    "$demo" 2>&1 >/dev/null | grep '^startup' | sed "s/^/run $i: /" | tee -a "$work/runs"
done
# Median of every "NAME N ms" over the runs, in the order the phases are printed.
awk -F', |: ' '
    { for (i = 1; i <= NF; ++i) if (match($i, /[0-9.]+ ms$/)) {
          name = substr($i, 1, RSTART - 2); sub(/^startup( beside the window)?$/, "", name)
          if (name == "") continue
          if (!(name in count)) order[++names] = name
          value[name, ++count[name]] = substr($i, RSTART, RLENGTH - 3) + 0 } }
    END { printf "median of %d runs:", count[order[1]]
          for (k = 1; k <= names; ++k) {
              n = order[k]; m = count[n]
              for (a = 1; a <= m; ++a) v[a] = value[n, a]
              for (a = 2; a <= m; ++a) { x = v[a]; b = a - 1
                  while (b > 0 && v[b] > x) { v[b + 1] = v[b]; --b } v[b + 1] = x }
              med = m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
              printf "%s %s %.1f ms", (k > 1 ? "," : ""), n, med }
          print "" }' "$work/runs"
