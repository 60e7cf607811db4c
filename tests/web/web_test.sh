#!/usr/bin/env bash
# Runs the web pages in headless Chromium (tests/web/drive.mjs) and holds what they do against the
# Linux build:
#   web_test.sh CASE WEB_BUILD LINUX_BUILD
# frames: the probe demo held at two clocks, a plain and a flash frame of the same picture, each
#         against the Linux demo_probe's frame at that clock under Xvfb at the same size;
# show:   the probe demo with sound to its end: the first seconds its audio device handed over
#         are xmrender's --profile demo output, the clock runs to 48000 ms and the page says so;
# player: the player page opens the song and shows xminfo's duration; a cut file gets the
#         loader's reason.
# Screenshots stay in WEB_BUILD/test-shots for a look.
set -u
case_name=$1
web=$2
linux=$3
here=$(cd "$(dirname "$0")" && pwd)
assets="$here/../../driver/assets"
shots="$web/test-shots"
work=$(mktemp -d)
xvfb_pid=""
demo_pid=""

cleanup() {
    [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL [$case_name]: $*" >&2
    [ -s "$work/drive.json" ] && { echo "--- browser" >&2; cat "$work/drive.json" >&2; }
    [ -s "$work/err" ] && { echo "--- Linux demo" >&2; tail -20 "$work/err" >&2; }
    exit 1
}

. "$here/../lib/harness.sh"

# Node's own WebSocket client where this Node has one behind a flag; else drive.mjs takes the ws
# package from Debian's Node modules.
node_flags=()
node --experimental-websocket -e 0 2>/dev/null && node_flags=(--experimental-websocket)
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

# drive CASE ARGS...: the browser run, its report in $work/drive.json.
drive() {
    node "${node_flags[@]}" "$here/drive.mjs" "$@" >"$work/drive.json" 2>"$work/drive.err" ||
        fail "the browser run failed: $(cat "$work/drive.err")"
}

# field EXPRESSION: a value of the browser's report (a JavaScript expression over r).
field() {
    node -e "const r = JSON.parse(require('fs').readFileSync('$work/drive.json')); \
        const v = ($1); process.stdout.write(typeof v === 'string' ? v : JSON.stringify(v));"
}

no_console_errors() {
    local errors
    errors=$(field 'r.errors.length')
    [ "$errors" = 0 ] || fail "console errors: $(field 'r.errors.join(" | ")')"
}

# The Linux probe's frame at a held clock, 1280x720 like the browser's viewport.
linux_frame() {
    local clock=$1 out=$2
    [ -x "$linux/driver/demo_probe" ] || fail "no Linux demo_probe in $linux/driver"
    [ -n "$xvfb_pid" ] || start_xvfb 1280x720x24
    : >"$work/err"
    SDL_AUDIODRIVER=dummy DEMO_CLOCK_MS=$clock DEMO_DIAGNOSTICS=1 \
        "$linux/driver/demo_probe" >/dev/null 2>"$work/err" &
    demo_pid=$!
    for _ in $(seq 600); do
        grep -q '^startup:' "$work/err" && break
        sleep 0.05
    done
    grep -q '^startup:' "$work/err" || fail "no first frame from the Linux demo"
    sleep 1
    import -window root "$out" || fail "no screenshot of the Linux demo"
    kill "$demo_pid" 2>/dev/null
    wait "$demo_pid" 2>/dev/null
    demo_pid=""
}

# Mean absolute difference of two pictures, 0 to 1.
difference() {
    compare -metric MAE "$1" "$2" null: 2>&1 | sed -n 's/.*(\([0-9.e-]*\)).*/\1/p'
}

case "$case_name" in
frames)
    # Clock 5000: beat 15, slot 9 plain (no flash before beat 16). Clock 5667: beat 17 just
    # begun, the same slot inverted (phase 0.001). The first ends with Escape, the second by
    # leaving fullscreen, which is what Escape does while the browser shows the page fullscreen.
    mkdir -p "$shots"
    for clock in 5000 5667; do
        ending=escape
        [ "$clock" = 5667 ] && ending=unfullscreen
        drive frame "$web" "$shots/web_$clock.png" "$clock" "$ending"
        no_console_errors
        [ "$(field 'r.fullscreen')" = true ] || fail "clock $clock: the canvas did not go fullscreen"
        [ "$(field 'r.show.exitCode')" = 0 ] || fail "clock $clock: exit code $(field 'r.show.exitCode')"
        field 'r.show.lines.join("\n")' | grep -qx "diag: frames [0-9]*, last clock $clock ms" ||
            fail "clock $clock: the frame loop did not run at the held clock"
        echo "[$case_name] clock $clock: opened to ready $(field 'Math.round(r.show.ready)') ms," \
            "click to first frame $(field 'Math.round(r.show.firstFrame - r.show.started)') ms," \
            "$ending ended it: $(field 'r.status')"
        echo "[$case_name] clock $clock: $(field 'r.show.lines.find((l) => l.startsWith("startup:"))')"
        linux_frame "$clock" "$shots/linux_$clock.png"
    done
    plain=$(difference "$shots/web_5000.png" "$shots/linux_5000.png")
    flash=$(difference "$shots/web_5667.png" "$shots/linux_5667.png")
    apart=$(difference "$shots/web_5667.png" "$shots/linux_5000.png")
    echo "[$case_name] mean difference against Linux: plain $plain, flash $flash;" \
        "the web flash against the Linux plain frame: $apart"
    awk -v p="$plain" -v f="$flash" -v a="$apart" \
        'BEGIN {exit !(p != "" && f != "" && p < 0.03 && f < 0.03 && a > 0.2)}' ||
        fail "the browser's frames are not the Linux frames"
    ;;

show)
    # Long enough to span many refills of the 2 s device buffer.
    seconds=5
    [ -x "$linux/tools/xmrender/xmrender" ] || fail "no xmrender in $linux/tools/xmrender"
    expected=$("$linux/tools/xmrender/xmrender" "$assets/song.xm" - --seconds "$seconds" \
        --profile demo 2>/dev/null | tail -c +45 | sha256sum | cut -d' ' -f1)
    drive show "$web" "$seconds"
    no_console_errors
    heard=$(field 'r.show.tapSha256')
    echo "[$case_name] first $seconds s handed to Web Audio: $heard; xmrender: $expected"
    [ "$heard" = "$expected" ] || fail "the sound differs from xmrender --profile demo"
    last=$(field 'r.show.lines.join("\n")' | sed -n 's/^diag: frames \([0-9]*\), last clock \([0-9]*\) ms$/\2/p')
    frames=$(field 'r.show.lines.join("\n")' | sed -n 's/^diag: frames \([0-9]*\), .*/\1/p')
    wall=$(field 'Math.round(r.show.ended - r.show.firstFrame)')
    echo "[$case_name] ended at clock ${last:-?} ms after $frames frames, $wall ms after the" \
        "first frame; the page says: $(field 'r.status')"
    [ -n "$last" ] && [ "$last" -ge 48000 ] || fail "the show did not run to its end"
    # The clock follows the sound, about 4 % behind it: 48 s of clock take about 50 s.
    [ "$wall" -ge 45000 ] && [ "$wall" -le 70000 ] || fail "the clock did not follow the sound"
    [ "$(field 'r.show.exitCode')" = 0 ] || fail "exit code $(field 'r.show.exitCode')"
    field 'r.status' | grep -q '^The show has ended' || fail "the page did not say the show ended"
    ;;

player)
    [ -x "$linux/tools/xminfo/xminfo" ] || fail "no xminfo in $linux/tools/xminfo"
    cp "$assets/song.xm" "$work/song.xm"
    head -c 4000 "$assets/song.xm" >"$work/cut.xm"
    duration=$("$linux/tools/xminfo/xminfo" "$work/song.xm" | sed -n 's/^duration: //p')
    reason=$("$linux/tools/xminfo/xminfo" "$work/cut.xm" 2>&1 | sed -n 's/^xminfo: cannot load [^:]*: //p')
    mkdir -p "$shots"
    drive player "$web" "$work/song.xm" "$work/cut.xm" "$shots/player_playing.png"
    no_console_errors
    shown=$(field 'r.loaded.duration')
    refused=$(field 'r.refused.message')
    echo "[$case_name] song.xm: \"$(field 'r.loaded.title')\", $shown (xminfo: $duration)"
    echo "[$case_name] cut.xm: $refused (xminfo: $reason)"
    echo "[$case_name] playing: $(field 'r.playing.barsLit') channel bars lit; paused at" \
        "$(field 'r.playing.pausedAt'), a second later at $(field 'r.playing.stillAt')"
    [ -n "$duration" ] && [ "$shown" = "$duration" ] || fail "the duration is not xminfo's"
    [ "$(field 'r.playing.barsLit')" -gt 0 ] || fail "no channel bar shows a level while playing"
    field 'r.playing.pausedAt' | grep -q '^5 / ' || fail "the seek to order 5 did not hold"
    [ "$(field 'r.playing.pausedAt')" = "$(field 'r.playing.stillAt')" ] ||
        fail "the position moved while paused"
    [ -n "$reason" ] && [ "$refused" = "cannot load cut.xm: $reason" ] ||
        fail "the page does not give the loader's reason"
    ;;

*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "PASS [$case_name]"
