# Sourced by the test scripts that run the demo or draw under an X server of their own. Expects
# $work (a scratch folder) and a fail function; sets DISPLAY and xvfb_pid, which the caller's
# cleanup kills, and reads demo_pid, which the caller's start function sets.

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

# wait_demo SECONDS: waits for the demo to end, at most that long; leaves its exit status in
# $status ("hung" when it had to be killed). A caller that defines demo_ended has it run after
# a normal end.
wait_demo() {
    local limit=$1
    for _ in $(seq $((limit * 20))); do
        kill -0 "$demo_pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$demo_pid" 2>/dev/null; then
        kill -9 "$demo_pid"
        wait "$demo_pid" 2>/dev/null
        demo_pid=""
        status=hung
        return
    fi
    wait "$demo_pid"
    status=$?
    demo_pid=""
    if declare -F demo_ended >/dev/null; then demo_ended; fi
}
