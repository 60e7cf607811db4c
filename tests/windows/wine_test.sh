#!/usr/bin/env bash
# Runs the Windows demo under Wine on its own Xvfb and checks one behaviour:
#   wine_test.sh CASE STATE_DIR DEMO32 FIND32 DEMO64 FIND64 [LINUX_DEMO]
# STATE_DIR keeps the Wine prefix (made once, by the case "prefix"), the choice of executable and
# the screenshots. The 32-bit executable runs wherever 32-bit Wine works; on a machine that
# cannot run 32-bit code at all the 64-bit build of the same source stands in, and every case
# says which one ran.
set -u
case_name=$1
state=$2
demo32=$3
find32=$4
demo64=$5
find64=$6
linux_demo=${7:-}
work=$(mktemp -d)
xvfb_pid=""
demo_pid=""
declare -A rmse

export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
# Wine's own helpers must not wait for a desktop that nobody looks at.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

stop_wine() {
    [ -d "$WINEPREFIX" ] || return 0
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    return 0
}

cleanup() {
    [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null
    # Wine's desktop process holds on to this test's display: it goes before the display does.
    stop_wine
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL [$case_name]: $*" >&2
    for f in "$work"/out "$work"/err; do [ -s "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }; done
    exit 1
}

# Xvfb of its own (start_xvfb SCREEN [ARGS]) and wait_demo SECONDS.
. "$(dirname "$0")/../lib/harness.sh"

# A private home whose ALSA configuration the case chooses: "null" plays into ALSA's null
# device, "none" names a card that does not exist, so waveOutOpen fails on any machine.
make_home() {
    export HOME="$work/home"
    mkdir -p "$HOME"
    case "$1" in
    null) echo 'pcm.!default { type null }' >"$HOME/.asoundrc" ;;
    none) echo 'pcm.!default { type hw card 99 }' >"$HOME/.asoundrc" ;;
    esac
}

load_choice() {
    [ -s "$state/choice" ] || fail "no Wine prefix: the case prefix runs first"
    # shellcheck disable=SC1091
    . "$state/choice"
    launcher="$(dirname "$find")/launch_refused.exe"
    echo "[$case_name] running $demo under $wine ($bits-bit)"
}

start_demo() {
    (cd "$work" && exec "$wine" "$demo" >"$work/out" 2>"$work/err") &
    demo_pid=$!
    start_ms=$(date +%s%3N)
}

# Run by wait_demo after the demo ended: when it ended, and its output with Unix line ends
# (Wine's console ends lines with CR LF).
demo_ended() {
    end_ms=$(date +%s%3N)
    for f in "$work/out" "$work/err"; do
        [ -f "$f" ] && sed -i 's/\r$//' "$f"
    done
}

# The key ended the demo, not the end of the song.
ended_early() {
    local last
    last=$(sed -n 's/^diag: frames .*, last clock \([0-9]*\) ms$/\1/p' "$work/err")
    [ -n "$last" ] && [ "$last" -lt 48000 ] || fail "ended at clock ${last:-?} ms, not by the key"
    echo "[$case_name] ended by the key at clock $last ms"
}

# Waits up to $2 seconds for a line matching $1 on the demo's standard error.
wait_for_line() {
    for _ in $(seq $(($2 * 20))); do
        grep -q "$1" "$work/err" && return 0
        kill -0 "$demo_pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

# The root window as a PNG; fails on an empty screen.
screenshot() {
    import -window root "$1" || fail "no screenshot"
    local colours
    colours=$(identify -format '%k' "$1")
    mean=$(convert "$1" -colorspace Gray -format '%[fx:int(mean*255)]' info:)
    [ "$colours" -ge 64 ] || fail "screenshot $1 has $colours colours: nothing drawn"
    [ "$mean" -ge 8 ] || fail "screenshot $1 is black (mean grey $mean)"
    echo "[$case_name] $1: $colours colours, mean grey $mean"
}

# Waits up to $2 seconds for a top-level window titled exactly $1; prints its id.
wait_for_box() {
    local id=""
    for _ in $(seq $(($2 * 10))); do
        id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n1)
        [ -n "$id" ] && break
        kill -0 "$demo_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "$id"
}

# A fatal start-up path: the box titled $1 appears, Return dismisses it, and the exit status is
# $2 (default 1).
expect_box() {
    local title=$1
    local expected=${2:-1}
    local id
    id=$(wait_for_box "$title" 60)
    [ -n "$id" ] || fail "no box titled \"$title\""
    echo "[$case_name] box \"$title\" is window $id"
    kill -0 "$demo_pid" 2>/dev/null || fail "the demo ended before the box was dismissed"
    xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
    xdotool key --clearmodifiers Return
    wait_demo 30
    [ "$status" = "$expected" ] || fail "exit status $status after the box, expected $expected"
}

# The demo started by the launcher whose window system refuses it ($1: class or window).
start_refused_demo() {
    (cd "$work" && exec "$wine" "$launcher" "$1" "Z:$demo" >"$work/out" 2>"$work/err") &
    demo_pid=$!
}

export DEMO_DIAGNOSTICS=1

case "$case_name" in
prefix)
    # One prefix per run of the stage; every case reuses it.
    rm -rf "$state"
    mkdir -p "$state"
    start_xvfb 1280x720x24
    make_home null
    # Wine's console ends lines with CR LF. The 64-bit build comes first: a 32-bit Wine may run a
    # console program and still have no 32-bit GL driver to give the demo its window.
    wine64=/usr/lib/wine/wine64
    command -v wine64 >/dev/null && wine64=$(command -v wine64)
    out=""
    [ -x "$wine64" ] && out=$(timeout 300 "$wine64" "$find64" 0 2>/dev/null | tr -d '\r')
    if [ "$out" = "window none" ]; then
        printf 'wine=%q\nbits=64\ndemo=%q\nfind=%q\n' "$wine64" "$demo64" "$find64" >"$state/choice"
    else
        echo "[prefix] 64-bit Wine does not run here (${out:-no output}); using the 32-bit build" >&2
        stop_wine
        rm -rf "$WINEPREFIX"
        out=$(timeout 300 wine "$find32" 0 2>/dev/null | tr -d '\r')
        [ "$out" = "window none" ] || fail "32-bit Wine does not run the helper either: $out"
        printf 'wine=wine\nbits=32\ndemo=%q\nfind=%q\n' "$demo32" "$find32" >"$state/choice"
    fi
    cat "$state/choice"
    ;;

window_escape)
    load_choice
    start_xvfb 1280x720x24
    # No sound: the clock stays at 0, so only the key can end the demo however slow the machine.
    make_home none
    start_demo
    wait_for_line '^startup:' 60 || fail "no first frame"
    report=$("$wine" "$find" 10000 2>/dev/null | tr -d '\r')
    echo "[$case_name] $report"
    echo "$report" | grep -q '^window rect 0 0 1280 720 style 0x96000000 ' ||
        fail "window not at 0,0 to 1280,720 with WS_POPUP|WS_VISIBLE|WS_CLIPSIBLINGS|WS_CLIPCHILDREN"
    sleep 1
    screenshot "$state/running.png"
    xdotool key Escape
    wait_demo 5
    [ "$status" = 0 ] || fail "exit status $status after Escape"
    ended_early
    grep -q '^diag: gl context current' "$work/err" || fail "no GL context"
    grep -q '^diag: entry points fetched 20 of 32' "$work/err" || fail "entry points incomplete"
    ;;

alt_f4)
    # Alt+F4 goes to DefWindowProcA, which closes the window; its WM_DESTROY ends the demo.
    load_choice
    start_xvfb 1280x720x24
    make_home null
    start_demo
    wait_for_line '^startup:' 60 || fail "no first frame"
    xdotool key alt+F4
    wait_demo 5
    [ "$status" = 0 ] || fail "exit status $status after Alt+F4"
    ended_early
    ;;

clock_end)
    load_choice
    start_xvfb 1280x720x24
    make_home null
    start_demo
    wait_demo 180
    [ "$status" = 0 ] || fail "exit status $status, expected the end at 48 s with 0"
    last=$(sed -n 's/^diag: frames .*, last clock \([0-9]*\) ms$/\1/p' "$work/err")
    [ -n "$last" ] && [ "$last" -ge 48000 ] || fail "ended with the clock at ${last:-?} ms"
    first=$(sed -n 's/^startup: .*first frame at \([0-9.]*\) ms$/\1/p' "$work/err")
    wall=$((end_ms - start_ms))
    played=$(awk -v w="$wall" -v f="$first" 'BEGIN {printf "%d", w - f}')
    echo "[$case_name] clock $last ms in $played ms of wall time after the first frame" \
        "($wall ms from the start; clock / wall = $(awk -v c="$last" -v p="$played" 'BEGIN {printf "%.3f", c / p}'))"
    ;;

no_sound_device)
    load_choice
    start_xvfb 1280x720x24
    make_home none
    start_demo
    wait_for_line '^startup:' 60 || fail "no first frame"
    sleep 3
    xdotool key Escape
    wait_demo 30
    [ "$status" = 0 ] || fail "exit status $status after Escape"
    grep -q '^diag: frames [0-9]*, last clock 0 ms$' "$work/err" || fail "the clock moved without a device"
    ;;

fullscreen_refused)
    # At depth 16 the display has no 32-bit mode to change to.
    load_choice
    start_xvfb 1280x720x16
    make_home null
    start_demo
    expect_box "Could not initialize fullscreen window." 
    grep -qx 'Could not initialize fullscreen window.' "$work/err" ||
        fail "the caption did not reach standard error"
    ;;

missing_gl_function)
    # A context that claims GL 1.5: WGL has no glCreateProgram to give.
    load_choice
    start_xvfb 1280x720x24
    make_home null
    export MESA_GL_VERSION_OVERRIDE=1.5
    start_demo
    expect_box "Error"
    grep -q 'OpenGL function glCreateProgram is not available.' "$work/err" ||
        fail "no word of the missing function"
    ;;

no_gl)
    # A display without GLX: no pixel format, no context; the demo says so instead of drawing.
    load_choice
    start_xvfb 1280x720x24 -extension GLX
    make_home null
    start_demo
    expect_box "Error"
    grep -q 'No OpenGL context could be created.' "$work/err" || fail "no word of the context"
    ;;

class_refused)
    # The class name is taken before the demo registers it: RegisterClassExA fails.
    load_choice
    start_xvfb 1280x720x24
    make_home null
    start_refused_demo class
    # Windows reports 1001; a Unix exit status keeps its low 8 bits, 233.
    expect_box "Error" 233
    grep -qx 'exit 1001' "$work/out" || fail "the launcher saw no exit code 1001"
    grep -qx 'RegisterClassEx Failed!' "$work/err" || fail "no word of the class"
    ;;

window_refused)
    # A CBT hook refuses the demo's window: CreateWindowExA fails after the mode change.
    load_choice
    start_xvfb 1280x720x24
    make_home null
    start_refused_demo window
    expect_box "Error"
    grep -qx 'exit 1' "$work/out" || fail "the launcher saw no exit code 1"
    grep -qx 'cannot create window' "$work/err" || fail "no word of the window"
    ;;

flash_frame)
    # Just past the start of beat 17: slot 9 (image 9, two tori on a floor, nothing symmetric)
    # in inverted colours (phase 0.001). It must look like the inverted picture the right way
    # up, and the same frame from the Linux build must match it, so nothing is flipped,
    # mirrored or tinted on Windows.
    load_choice
    [ -n "$linux_demo" ] && [ -x "$linux_demo" ] || fail "no Linux demo at '$linux_demo'"
    start_xvfb 1280x720x24
    make_home null
    export DEMO_CLOCK_MS=5667
    start_demo
    wait_for_line '^startup:' 60 || fail "no first frame"
    sleep 1
    screenshot "$state/flash_wine.png"
    xdotool key Escape
    wait_demo 30
    [ "$status" = 0 ] || fail "exit status $status after Escape"
    picture="$(dirname "$0")/../../driver/assets/image09.png"
    convert "$picture" -negate -resize '1280x720!' "$work/upright.png"
    convert "$work/upright.png" -flip "$work/flipped.png"
    convert "$work/upright.png" -flop "$work/mirrored.png"
    for view in upright flipped mirrored; do
        rmse[$view]=$(compare -metric RMSE "$state/flash_wine.png" "$work/$view.png" null: 2>&1 |
            sed -n 's/.*(\([0-9.e-]*\)).*/\1/p')
    done
    echo "[$case_name] against the inverted picture: upright ${rmse[upright]}," \
        "flipped ${rmse[flipped]}, mirrored ${rmse[mirrored]}"
    awk -v u="${rmse[upright]}" -v f="${rmse[flipped]}" -v m="${rmse[mirrored]}" \
        'BEGIN {exit !(u != "" && u < 0.1 && u * 2 < f && u * 2 < m)}' ||
        fail "the frame is not the inverted picture the right way up"
    SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy "$linux_demo" >"$work/out" 2>"$work/err" &
    demo_pid=$!
    wait_for_line '^startup:' 60 || fail "no first frame from the Linux demo"
    sleep 1
    screenshot "$state/flash_linux.png"
    xdotool key Escape
    wait_demo 30
    [ "$status" = 0 ] || fail "Linux demo: exit status $status after Escape"
    # Normalised root-mean-square difference, 0 for identical pictures.
    difference=$(compare -metric RMSE "$state/flash_wine.png" "$state/flash_linux.png" null: 2>&1 |
        sed -n 's/.*(\([0-9.e-]*\)).*/\1/p')
    echo "[$case_name] Wine against Linux: RMSE $difference"
    awk -v d="$difference" 'BEGIN {exit !(d != "" && d < 0.02)}' ||
        fail "the Wine frame differs from the Linux frame (RMSE ${difference:-?})"
    ;;

*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "PASS [$case_name]"
