# Sourced by the test scripts that need an X server of their own. Expects $work (a scratch
# folder) and a fail function; sets DISPLAY and xvfb_pid, which the caller's cleanup kills.

# start_xvfb SCREEN [XVFB ARGUMENTS...]: Xvfb on a display number of its own. -noreset matters:
# by default the server resets whenever its last client leaves, and a client that connects
# during that reset (the program under test right after xdpyinfo, say) is refused, so SDL would
# find no x11.
start_xvfb() {
    local screen=$1
    shift
    for _ in $(seq 20); do
        local number=$((200 + RANDOM % 600))
        [ -e "/tmp/.X${number}-lock" ] && continue
        Xvfb ":$number" -screen 0 "$screen" -nolisten tcp -noreset "$@" 2>"$work/xvfb.log" &
        xvfb_pid=$!
        export DISPLAY=":$number"
        for _ in $(seq 100); do
            kill -0 "$xvfb_pid" 2>/dev/null || break
            if xdpyinfo >/dev/null 2>&1; then
                # With a display at hand SDL must not quietly fall back to its offscreen driver.
                export SDL_VIDEODRIVER=x11
                return 0
            fi
            sleep 0.05
        done
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=""
    done
    fail "Xvfb did not start"
}
