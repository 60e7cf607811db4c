#!/usr/bin/env bash
# Times the demo from its start to the first presented frame under its own Xvfb, split into
# window, GL context, picture work and audio pre-render; runs it N times (default 5). Runs the
# probe build, the same program with hooks that report timings and can hold the clock.
# Usage: bench/startup/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
demo="$build/driver/demo_probe"
[ -x "$demo" ] || { echo "run.sh: build $demo first (target demo_probe)" >&2; exit 1; }

fd_file=$(mktemp)
Xvfb -displayfd 5 -screen 0 1280x720x24 -nolisten tcp -noreset 5>"$fd_file" 2>/dev/null &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; rm -f "$fd_file"' EXIT
for _ in $(seq 100); do [ -s "$fd_file" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$fd_file")"
export SDL_AUDIODRIVER=dummy DEMO_DIAGNOSTICS=1 DEMO_CLOCK_MS=48000

for i in $(seq "$runs"); do
    # With the clock held at the end, the demo presents one frame and ends by itself.
    "$demo" 2>&1 >/dev/null | grep '^startup:' | sed "s/^/run $i: /"
done
