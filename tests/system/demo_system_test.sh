#!/usr/bin/env bash
# Runs the real demo under its own Xvfb and checks one behaviour: demo_system_test.sh CASE DEMO CLOSER
# DEMO is the probe build (DEMO_* hooks from the environment) except in the cases about the
# shipped program, which get `demo` itself.
set -u
case_name=$1
demo=$2
closer=$3
xmrender=${4:-}
comparer=${5:-}
song=${6:-}
checker=${4:-}
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
    for f in "$work"/out "$work"/err; do [ -s "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }; done
    exit 1
}

# Xvfb of its own (start_xvfb SCREEN [ARGS]) and wait_demo SECONDS.
. "$(dirname "$0")/../lib/harness.sh"

screen_size() { xdpyinfo | awk '/dimensions:/ {print $2; exit}'; }

start_demo() {
    "$demo" >"$work/out" 2>"$work/err" &
    demo_pid=$!
}

# Waits for the demo's window and prints its id.
wait_for_window() {
    local id=""
    for _ in $(seq 200); do
        id=$(xdotool search --name '^Beatdemo' 2>/dev/null | head -n1)
        [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable' && break
        id=""
        kill -0 "$demo_pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "$id"
}

wait_for_line() {
    for _ in $(seq 200); do
        grep -q "$1" "$work/err" && return 0
        sleep 0.05
    done
    return 1
}

export SDL_AUDIODRIVER=dummy
export DEMO_DIAGNOSTICS=1
unset SDL_VIDEODRIVER

case "$case_name" in
fullscreen_escape)
    start_xvfb 1280x720x24
    before=$(screen_size)
    start_demo
    id=$(wait_for_window)
    [ -n "$id" ] || fail "no window appeared"
    # The window manager-less server may map the window before SDL's fullscreen resize lands.
    for _ in $(seq 100); do
        geometry=$(xwininfo -id "$id" | awk '/Width:/ {w=$2} /Height:/ {h=$2} /Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} END {print w "x" h "+" x "+" y}')
        [ "$geometry" = "${before}+0+0" ] && break
        sleep 0.05
    done
    [ "$geometry" = "${before}+0+0" ] || fail "window $geometry, screen $before"
    wait_for_line "entry points fetched" || fail "no diagnostics"
    grep -q "diag: entry points fetched 20 of 32" "$work/err" || fail "entry points"
    grep -q "diag: gl context current" "$work/err" || fail "no current context"
    grep -q "diag: screen ${before/x/x} client ${before}" "$work/err" || fail "client size"
    grep -q "diag: multisample chooser" "$work/err" || fail "probe"
    xdotool key --window "$id" Escape
    wait_demo 10
    [ "$status" = 0 ] || fail "exit status $status after Escape"
    [ "$(screen_size)" = "$before" ] || fail "screen left at $(screen_size)"
    [ -z "$(xdotool search --name '^Beatdemo' 2>/dev/null)" ] || fail "window left behind"
    [ "$(grep -c ':shader:' "$work/out")" = 2 ] || fail "shader logs"
    [ "$(grep -c ':program:' "$work/out")" = 1 ] || fail "program log"
    ;;
window_close | alt_f4)
    start_xvfb 1024x768x24
    start_demo
    id=$(wait_for_window)
    [ -n "$id" ] || fail "no window appeared"
    wait_for_line "entry points fetched" || fail "no diagnostics"
    if [ "$case_name" = window_close ]; then
        "$closer" "$id" || fail "close request not sent"
    else
        xdotool key --window "$id" alt+F4
    fi
    wait_demo 10
    [ "$status" = 0 ] || fail "exit status $status after close"
    ;;
no_display)
    unset DISPLAY
    export SDL_VIDEODRIVER=x11
    start_demo
    wait_demo 10
    [ "$status" = 233 ] || fail "exit status $status, want 233 (1001)"
    grep -qx "RegisterClassEx Failed!" "$work/err" || fail "no RegisterClassEx text"
    ;;
no_32bit_mode)
    # A 16-bit screen has no mode with 4 bytes per pixel.
    start_xvfb 800x600x16
    export DEMO_NO_MESSAGE_BOX=1
    start_demo
    wait_demo 10
    [ "$status" = 1 ] || fail "exit status $status, want 1"
    grep -qx "Could not initialize fullscreen window." "$work/err" || fail "no caption on stderr"
    [ -z "$(xdotool search --name '^Beatdemo' 2>/dev/null)" ] || fail "a window was created"
    ;;
no_glx)
    start_xvfb 1024x768x24 -extension GLX
    export DEMO_NO_MESSAGE_BOX=1
    start_demo
    wait_demo 10
    [ "$status" = 1 ] || fail "exit status $status, want 1"
    grep -qx "cannot create window" "$work/err" || fail "no 'cannot create window'"
    ;;
missing_gl_function)
    start_xvfb 1024x768x24
    export DEMO_NO_MESSAGE_BOX=1
    MESA_GL_VERSION_OVERRIDE=1.5 "$demo" >"$work/out" 2>"$work/err" &
    demo_pid=$!
    wait_demo 10
    [ "$status" = 1 ] || fail "exit status $status, want 1"
    grep -q "OpenGL function glCreateProgram is not available" "$work/err" || fail "text"
    grep -q ":shader:" "$work/out" && fail "shader logs printed: the build ran"
    MESA_EXTENSION_OVERRIDE=-GL_ARB_shader_objects "$demo" >"$work/out" 2>"$work/err" &
    demo_pid=$!
    wait_demo 10
    [ "$status" = 1 ] || fail "exit status $status, want 1"
    grep -q "OpenGL function glGetObjectParameterivARB is not available" "$work/err" || fail "text"
    grep -q ":shader:" "$work/out" && fail "shader logs printed: the build ran"
    ;;
console_interrupt)
    # Ctrl-C and SIGTERM from the console end the show as Escape does: through teardown, exit 0.
    start_xvfb 800x600x24
    for signal in INT TERM; do
        start_demo
        id=$(wait_for_window)
        [ -n "$id" ] || fail "no window appeared"
        wait_for_line "entry points fetched" || fail "no diagnostics"
        kill -s "$signal" "$demo_pid"
        wait_demo 10
        [ "$status" = 0 ] || fail "exit status $status after SIG$signal"
        grep -q "^diag: torn down$" "$work/err" || fail "SIG$signal: no teardown"
    done
    ;;
display_lost | connection_killed | window_destroyed)
    # The X server stops, or another client kills the demo's connection (xkill) or destroys its
    # window: teardown runs as far as it can. A destroyed window is the window going away (0);
    # a lost connection has its own code, 3.
    start_xvfb 800x600x24
    start_demo
    id=$(wait_for_window)
    [ -n "$id" ] || fail "no window appeared"
    wait_for_line "^startup:" || fail "no first frame"
    want=3
    case "$case_name" in
    display_lost) kill "$xvfb_pid"; wait "$xvfb_pid" 2>/dev/null; xvfb_pid="" ;;
    connection_killed) "$closer" --kill "$id" || fail "cannot kill the connection" ;;
    window_destroyed) "$closer" --destroy "$id" || fail "cannot destroy the window"; want=0 ;;
    esac
    wait_demo 10
    [ "$status" = "$want" ] || fail "exit status $status, want $want"
    grep -q "^diag: torn down$" "$work/err" || fail "no teardown"
    grep -q "X Error of failed request" "$work/err" && fail "an X error ended it"
    ;;
no_audio_device)
    # With no audio device at all the clock stays at 0: one line says so, and the show holds
    # its first picture until Escape.
    start_xvfb 640x480x24
    export SDL_AUDIODRIVER=no_such_driver
    start_demo
    id=$(wait_for_window)
    [ -n "$id" ] || fail "no window appeared"
    wait_for_line "^startup:" || fail "no first frame"
    [ "$(grep -c 'no audio device' "$work/err")" = 1 ] || fail "no single line about the device"
    grep -q "until Escape" "$work/err" || fail "the line does not say how to end it"
    sleep 1
    xdotool key --window "$id" Escape
    wait_demo 10
    [ "$status" = 0 ] || fail "exit status $status after Escape"
    grep -q "diag: frames [0-9]*, last clock 0 ms" "$work/err" || fail "the clock moved"
    ;;
frame_sequence)
    # About twelve seconds of the show, the first seven beats of flashes among them: what the
    # demo presented against what a loop presenting at every clock read would have shown.
    start_xvfb 640x480x24
    DEMO_FRAME_LOG="$work/frames" "$demo" >"$work/out" 2>"$work/err" &
    demo_pid=$!
    wait_for_line "^startup:" || fail "no first frame"
    sleep 11
    kill -s TERM "$demo_pid"
    wait_demo 10
    [ "$status" = 0 ] || fail "exit status $status"
    "$checker" "$work/frames" >"$work/check" || { cat "$work/check" >&2; fail "frame sequence"; }
    cat "$work/check"
    ;;
no_window_system)
    # No X11, no Wayland: SDL would fall back to drawing off screen, and the demo would run unseen
    # (and, without sound, forever). Drivers that draw nowhere count as no window system either.
    unset DISPLAY WAYLAND_DISPLAY
    for driver in "" offscreen dummy; do
        if [ -n "$driver" ]; then export SDL_VIDEODRIVER=$driver; else unset SDL_VIDEODRIVER; fi
        start_demo
        wait_demo 5
        [ "$status" = 233 ] || fail "video driver '${driver}': exit status $status, want 233 (1001)"
        grep -qx "RegisterClassEx Failed!" "$work/err" || fail "video driver '${driver}': no text"
    done
    ;;
shipped_reads_nothing)
    # The shipped program reads no environment: it asks for no variable and names none.
    names=$(strings -a "$demo" | grep -c 'DEMO_')
    [ "$names" = 0 ] || fail "$names DEMO_ names in the shipped program"
    imports=$(nm -D --undefined-only "$demo" | grep -Ec ' (secure_)?getenv(@|$)')
    [ "$imports" = 0 ] || fail "the shipped program imports getenv"
    ;;
clock_end)
    start_xvfb 640x480x24
    DEMO_CLOCK_MS=48000 "$demo" >"$work/out" 2>"$work/err" &
    demo_pid=$!
    wait_demo 20
    [ "$status" = 0 ] || fail "exit status $status"
    grep -q "diag: frames 1, last clock 48000 ms" "$work/err" || fail "not exactly one frame"
    ;;
disk_audio)
    # The whole show with SDL's disk driver: it ends by itself at 48 s, and what the device was
    # given equals what the offline renderer makes of the same module.
    start_xvfb 640x480x24
    export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/device.raw"
    start_demo
    wait_demo 90
    [ "$status" = 0 ] || fail "exit status $status"
    grep -Eq "diag: frames [0-9]+, last clock (4[89][0-9]{3}) ms" "$work/err" || fail "did not end at 48 s"
    "$xmrender" "$song" "$work/render.wav" --seconds 52 --profile demo >/dev/null 2>&1 || fail "xmrender failed"
    "$comparer" "$work/device.raw" "$work/render.wav" 47.9 || fail "audio differs"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "PASS [$case_name]"
