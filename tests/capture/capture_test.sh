#!/usr/bin/env bash
# The capture tool end to end, one behaviour per case:
#   capture_test.sh CASE CAPTURE CHECK [DEMO XMRENDER SONG]
# Pictures and sound are decoded with ffmpeg and measured by CHECK (capture_check).
set -u
case_name=$1
capture=$2
check=$3
demo=${4:-}
xmrender=${5:-}
song=${6:-}
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
    for f in "$work"/err "$work"/check; do [ -s "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }; done
    exit 1
}

# capture_to NAME ARGS...: a capture into $work/NAME.mp4 with its frame log in $work/NAME.log.
capture_to() {
    local name=$1
    shift
    "$capture" -o "$work/$name.mp4" --frame-log "$work/$name.log" "$@" >"$work/out" 2>"$work/err" ||
        fail "capture $name exited with $?"
    [ -s "$work/out" ] && fail "capture wrote to standard output"
    return 0
}

probe() { ffprobe -v error -select_streams "$2" -show_entries "stream=$3" -of csv=p=0 "$1"; }

# Index of the first frame in a frame log whose clock reaches $2.
first_frame_at() { awk -v clock="$2" '$3 >= clock { print $1; exit }' "$1"; }
clock_of_frame() { awk -v frame="$2" '$1 == frame { print $3; exit }' "$1"; }

picture_of_frame() {
    ffmpeg -v error -y -i "$1" -vf "select=eq(n\,$2)" -vsync 0 -frames:v 1 -pix_fmt rgb24 "$3" ||
        fail "cannot decode frame $2"
}

# Xvfb of its own: start_xvfb SCREEN [ARGS].
. "$(dirname "$0")/../lib/harness.sh"

# The demo with its clock held at $1, photographed into $2 once its first frame is up.
screenshot_demo() {
    DEMO_CLOCK_MS=$1 DEMO_DIAGNOSTICS=1 SDL_AUDIODRIVER=dummy "$demo" >/dev/null 2>"$work/err" &
    demo_pid=$!
    for _ in $(seq 200); do
        grep -q "first frame at" "$work/err" && break
        kill -0 "$demo_pid" 2>/dev/null || fail "the demo ended early"
        sleep 0.05
    done
    grep -q "first frame at" "$work/err" || fail "the demo showed no frame"
    # the held clock shows the same picture in every frame; give the server a moment to have it
    sleep 0.5
    import -window root -depth 8 "$2" || fail "no screenshot"
    kill "$demo_pid" 2>/dev/null
    wait "$demo_pid" 2>/dev/null
    demo_pid=""
}

# difference A B: the mean absolute difference of two pictures, 0..255 per channel value.
difference() {
    "$check" picture-difference "$1" "$2" >"$work/check" || fail "cannot compare $1 $2"
    awk '{ print $2 }' "$work/check"
}

below() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

expect() { # expect CODE PATTERN ARGS...: the exit code, the message, and no file left
    local code=$1 pattern=$2
    shift 2
    "$capture" "$@" >"$work/out" 2>"$work/err"
    local got=$?
    [ "$got" = "$code" ] || fail "exit $got, want $code for: $*"
    grep -q -- "$pattern" "$work/err" || fail "no '$pattern' for: $*"
}

case "$case_name" in
probe)
    # the first 6000 ms of clock: both streams, as long as each other, as many frames as the log
    capture_to probe --size 640x360 --end 6000
    file=$work/probe.mp4
    [ "$(probe "$file" v codec_name)" = h264 ] || fail "video is $(probe "$file" v codec_name)"
    [ "$(probe "$file" a codec_name)" = aac ] || fail "sound is $(probe "$file" a codec_name)"
    [ "$(probe "$file" v width,height)" = "640,360" ] || fail "size $(probe "$file" v width,height)"
    frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
        -of csv=p=0 "$file")
    logged=$(wc -l <"$work/probe.log")
    [ "$frames" = "$logged" ] || fail "$frames frames decoded, $logged drawn"
    # the last frame is the first whose clock reaches 6000 ms
    last_clock=$(tail -n1 "$work/probe.log" | awk '{ print $3 }')
    before_last=$(tail -n2 "$work/probe.log" | head -n1 | awk '{ print $3 }')
    [ "$last_clock" -ge 6000 ] && [ "$before_last" -lt 6000 ] ||
        fail "clocks $before_last, $last_clock at the end"
    video=$(probe "$file" v duration)
    audio=$(probe "$file" a duration)
    awk -v v="$video" -v a="$audio" -v n="$frames" 'BEGIN {
        d = v - a; if (d < 0) d = -d
        exit !(d <= 1 / 60 && (v - n / 60) < 1e-6 && (n / 60 - v) < 1e-6) }' ||
        fail "video $video s, sound $audio s, $frames frames"
    # the sound runs slower than the clock: 6000 ms of clock take more than 6.2 s
    awk -v v="$video" 'BEGIN { exit !(v > 6.2 && v < 6.4) }' || fail "video lasts $video s"
    echo "frames $frames, video $video s, sound $audio s"
    ;;
sync)
    # from beat 16 on, each kick in the decoded sound against the first flash frame of its beat
    capture_to sync --size 320x180 --end 8500
    ffmpeg -v error -y -i "$work/sync.mp4" -vf scale=160:90 -pix_fmt gray -f rawvideo \
        "$work/frames.gray" || fail "cannot decode the pictures"
    ffmpeg -v error -y -i "$work/sync.mp4" -vn -f s16le -ac 2 -ar 44100 "$work/sound.raw" ||
        fail "cannot decode the sound"
    "$check" sync "$work/frames.gray" 160 90 60 "$work/sound.raw" 25 >"$work/check" ||
        fail "a flash is off its kick"
    cat "$work/check"
    # beats 16 to 24 start within the capture (beat 24 at 8000 ms): nine flashes, nine kicks
    grep -q "^flashes 9 kicks 9$" "$work/check" || fail "$(head -n1 "$work/check")"
    # the measurement itself can fail: the same sound 40 ms late is out of sync
    { head -c $((40 * 441 * 4 / 10)) /dev/zero && cat "$work/sound.raw"; } >"$work/late.raw"
    "$check" sync "$work/frames.gray" 160 90 60 "$work/late.raw" 25 >"$work/check" &&
        fail "sound 40 ms late passes as in sync"
    ;;
reference)
    # frames against the demo itself with its clock held at the frame's clock, same screen size:
    # the first frame at 5400 ms (beat 16, partly inverted) and the first of beat 20 (inverted)
    [ -x "$demo" ] || fail "no demo"
    capture_to ref --size 640x360 --end 7000
    start_xvfb 640x360x24
    for clock in 5400 6667; do
        frame=$(first_frame_at "$work/ref.log" "$clock")
        shown=$(clock_of_frame "$work/ref.log" "$frame")
        picture_of_frame "$work/ref.mp4" "$frame" "$work/frame$clock.ppm"
        screenshot_demo "$shown" "$work/demo$clock.ppm"
        d=$(difference "$work/frame$clock.ppm" "$work/demo$clock.ppm")
        echo "frame $frame (clock $shown ms) against the demo: mean difference $d"
        below "$d" 6 || fail "frame $frame differs from the demo at $shown ms by $d"
    done
    # and the two are told apart: each frame is far from the other clock's screenshot
    d=$(difference "$work/frame5400.ppm" "$work/demo6667.ppm")
    below 40 "$d" || fail "frames of two clocks differ by only $d"
    ;;
conversion)
    # the capture's colour conversion on the demo's own frames at full size: the same bytes as
    # swscale, which the capture used before, for each of them
    [ -x "$demo" ] || fail "no demo"
    start_xvfb 1920x1080x24
    for clock in 1000 5400 6667 21000 33000 47000; do
        screenshot_demo "$clock" "$work/demo$clock.ppm"
    done
    "$check" conversion "$work"/demo*.ppm >"$work/check" || fail "the conversion differs"
    cat "$work/check"
    ;;
audio)
    # the sound track before encoding is xmrender's rendering of the same span, sample for
    # sample; after AAC it still correlates above 0.99 with it
    capture_to audio --size 64x36 --end 6000 --dump-audio "$work/track.raw"
    bytes=$(stat -c %s "$work/track.raw")
    "$xmrender" "$song" "$work/xmrender.wav" --seconds 7 --profile demo >/dev/null 2>&1 || fail "xmrender failed"
    cmp -s -n "$bytes" "$work/track.raw" <(tail -c +45 "$work/xmrender.wav") ||
        fail "the sound track is not xmrender's"
    echo "sound track: $((bytes / 4)) frames equal to xmrender's"
    ffmpeg -v error -y -i "$work/audio.mp4" -vn -f s16le -ac 2 -ar 44100 "$work/decoded.raw" ||
        fail "cannot decode the sound"
    "$check" correlate "$work/decoded.raw" "$work/track.raw" >"$work/check" || fail "no correlation"
    cat "$work/check"
    awk '{ exit !($5 > 0.99) }' "$work/check" || fail "correlation too low"
    # a sound track shifted by 10 ms does not pass, so the check is about alignment too
    tail -c +$((441 * 4 + 1)) "$work/track.raw" >"$work/shifted.raw"
    "$check" correlate "$work/decoded.raw" "$work/shifted.raw" >"$work/check"
    awk '{ exit !($5 < 0.99) }' "$work/check" || fail "a shifted sound correlates: $(cat "$work/check")"
    ;;
determinism)
    capture_to first --size 320x180 --start 5000 --end 7000
    capture_to second --size 320x180 --start 5000 --end 7000
    ffmpeg -v error -i "$work/first.mp4" -map 0:v -f framemd5 "$work/first.md5" || fail "decode"
    ffmpeg -v error -i "$work/second.mp4" -map 0:v -f framemd5 "$work/second.md5" || fail "decode"
    [ "$(grep -vc '^#' "$work/first.md5")" -gt 100 ] || fail "too few frames"
    cmp -s "$work/first.md5" "$work/second.md5" || fail "the decoded frames differ"
    cmp -s "$work/first.mp4" "$work/second.mp4" || fail "the files differ"
    echo "$(grep -vc '^#' "$work/first.md5") frames, identical files"
    # a faster preset reaches the encoder: another file, as many frames, the same pictures (a
    # frame of another slot or flash phase would be near 10 dB; coarser coding stays above 25)
    capture_to fast --size 320x180 --start 5000 --end 7000 --preset ultrafast
    cmp -s "$work/first.mp4" "$work/fast.mp4" && fail "--preset ultrafast made the same file"
    ffmpeg -v error -i "$work/fast.mp4" -map 0:v -f framemd5 "$work/fast.md5" || fail "decode"
    [ "$(grep -vc '^#' "$work/fast.md5")" = "$(grep -vc '^#' "$work/first.md5")" ] ||
        fail "--preset ultrafast changed the frame count"
    psnr=$(ffmpeg -nostdin -i "$work/fast.mp4" -i "$work/first.mp4" -lavfi psnr -f null - 2>&1 |
        sed -n 's/.*PSNR.* average:\([0-9.]*\) min:\([0-9.]*\).*/\2/p')
    echo "--preset ultrafast against medium: lowest PSNR $psnr dB"
    below 25 "$psnr" || fail "--preset ultrafast pictures differ: lowest PSNR '$psnr' dB"
    ;;
errors)
    expect 1 "cannot write $work/none/x.mp4" --size 64x36 --end 500 -o "$work/none/x.mp4"
    mkdir "$work/folder.mp4"
    expect 1 "cannot write .*folder.mp4" --size 64x36 --end 500 -o "$work/folder.mp4"
    expect 3 "no video encoder nosuch" --size 64x36 --end 500 -o "$work/a.mp4" --encoder nosuch
    [ -e "$work/a.mp4" ] && fail "a file was left for an unavailable encoder"
    expect 3 "cannot carry h264 video" --size 64x36 --end 500 -o "$work/a.webm"
    [ -e "$work/a.webm" ] && fail "a file was left for a container without H.264"
    expect 3 "cannot tell a video format" --size 64x36 --end 500 -o "$work/a.unknown"
    expect 3 "the preset ultrafast is x264's" --size 64x36 --end 500 -o "$work/a.mp4" \
        --encoder mpeg4 --preset ultrafast
    [ -e "$work/a.mp4" ] && fail "a file was left for a preset the encoder lacks"
    expect 2 "--preset wants" --preset fastest
    # a write that fails half way (a file size limit of 100 KiB) leaves nothing behind
    (ulimit -f 200 && expect 1 "writing .*big.mp4 failed" --size 320x180 --end 6000 -o "$work/big.mp4") ||
        exit 1
    [ -e "$work/big.mp4" ] && fail "the partial file was left"
    expect 2 "--size wants" --size 641x360
    expect 2 "--end wants" --end 48001
    expect 2 "is after" --start 2000 --end 1000
    "$capture" --help >"$work/out" || fail "--help exit $?"
    grep -q "Exit codes" "$work/out" || fail "--help lists no exit codes"
    "$capture" --version | grep -q "^capture [0-9]*[.][0-9]*[.][0-9]* " || fail "--version"
    ;;
outputs)
    # Outputs appear only once complete. A signal half way, or a disk that fills up, leaves the
    # earlier video and frame log of the names byte for byte and no temporary file.
    earlier() { head -c 3000 /dev/urandom >"$1" && cp "$1" "$1.before"; }
    intact() { cmp -s "$1" "$1.before" || fail "the earlier $1 changed"; }
    no_temporary_left() {
        [ -z "$(find "$1" -name '.*.??????*')" ] || fail "left behind: $(find "$1" -name '.*.??????*')"
    }
    for signal in INT:130 TERM:143; do
        name=${signal%%:*} code=${signal##*:}
        earlier "$work/cut.mp4"
        earlier "$work/cut.log"
        "$capture" --size 320x180 -o "$work/cut.mp4" --frame-log "$work/cut.log" \
            >"$work/out" 2>"$work/err" &
        capture_pid=$!
        # under way once its file is there (a temporary one, or in older versions the target)
        for _ in $(seq 200); do
            [ -n "$(find "$work" -name '.cut.mp4.*')" ] && break
            cmp -s "$work/cut.mp4" "$work/cut.mp4.before" || break
            sleep 0.05
        done
        sleep 1
        kill -"$name" "$capture_pid"
        wait "$capture_pid"
        got=$?
        [ "$got" = "$code" ] || fail "exit $got after SIG$name, want $code"
        grep -q "stopped by a signal" "$work/err" || fail "no word of SIG$name"
        intact "$work/cut.mp4"
        intact "$work/cut.log"
        no_temporary_left "$work"
        echo "SIG$name: exit $got, the earlier video and frame log intact"
    done
    mkdir "$work/small"
    if mount -t tmpfs -o size=1m tmpfs "$work/small" 2>"$work/err"; then
        earlier "$work/small/full.mp4"
        "$capture" --size 1280x720 --end 3000 -o "$work/small/full.mp4" >"$work/out" 2>"$work/err"
        got=$?
        [ "$got" = 1 ] || { umount "$work/small"; fail "exit $got on a full disk, want 1"; }
        grep -q "writing .*full.mp4 failed" "$work/err" || { umount "$work/small"; fail "no word"; }
        cmp -s "$work/small/full.mp4" "$work/small/full.mp4.before" ||
            { umount "$work/small"; fail "the earlier video changed on a full disk"; }
        left=$(find "$work/small" -name '.*.??????*')
        umount "$work/small"
        [ -z "$left" ] || fail "left on the full disk: $left"
        echo "full disk: exit 1, the earlier video intact"
    else
        echo "no 1 MiB tmpfs here ($(cat "$work/err")); the full disk is not tested"
    fi
    # a complete capture replaces the earlier files; without a terminal it tells its progress
    # in ten lines, and --quiet silences them
    "$capture" --size 64x36 --end 1000 -o "$work/cut.mp4" --frame-log "$work/cut.log" \
        >"$work/out" 2>"$work/err" || fail "capture exited with $?"
    [ "$(grep -c "^capture: [0-9]*0%, frame [0-9]* of [0-9]*, clock" "$work/err")" = 10 ] ||
        fail "progress: $(cat "$work/err")"
    cmp -s "$work/cut.mp4" "$work/cut.mp4.before" && fail "the video was not replaced"
    [ "$(probe "$work/cut.mp4" v codec_name)" = h264 ] || fail "the new video is no video"
    "$capture" --quiet --size 64x36 --end 500 -o "$work/quiet.mp4" >"$work/out" 2>"$work/err" ||
        fail "quiet capture exited with $?"
    [ -s "$work/err" ] && fail "--quiet still printed: $(cat "$work/err")"
    # two outputs into one file are refused before anything is written
    expect 2 "are one file" --size 64x36 --end 500 -o "$work/same.mp4" --frame-log "$work/same.mp4"
    [ -e "$work/same.mp4" ] && fail "a refused output was written"
    no_temporary_left "$work"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "PASS [$case_name]"
