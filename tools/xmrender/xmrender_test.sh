#!/usr/bin/env bash
# xmrender end to end, one behaviour per case:
#   xmrender_test.sh CASE XMRENDER SONG [XMRENDER_SMALL_RIFF]
# XMRENDER_SMALL_RIFF is xmrender built with a RIFF size limit of 100000 bytes, so that the
# switch to RF64 is seen on a small file.
set -u
case_name=$1
xmrender=$2
song=$3
small_riff=${4:-}
work=$(mktemp -d)
mounted=""

cleanup() {
    [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL [$case_name]: $*" >&2
    [ -s "$work/err" ] && { echo "--- stderr" >&2; tail -5 "$work/err" >&2; }
    exit 1
}

# An earlier file with bytes of its own, and its copy to compare against.
earlier() {
    head -c 5000 /dev/urandom >"$1"
    cp "$1" "$work/earlier.copy"
}
untouched() { cmp -s "$1" "$work/earlier.copy" || fail "the earlier $1 changed"; }
no_temporary_left() {
    local left
    left=$(find "$1" -name '.*.??????*' | head -n1)
    [ -z "$left" ] || fail "a temporary file was left: $left"
}

# exits CODE ARGS...: xmrender's exit code must be CODE.
exits() {
    local want=$1
    shift
    "$xmrender" "$@" >"$work/out" 2>"$work/err"
    local got=$?
    [ "$got" = "$want" ] || fail "exit $got, want $want for: $*"
}

# correlation A.raw B.raw: Pearson's r of two files of 16-bit little-endian samples, over the
# shorter length.
correlation() {
    python3 - "$1" "$2" <<'EOF'
import array, math, sys
a, b = (array.array("h", open(p, "rb").read()) for p in sys.argv[1:3])
n = min(len(a), len(b))
ma, mb = sum(a[:n]) / n, sum(b[:n]) / n
sab = saa = sbb = 0.0
for x, y in zip(a[:n], b[:n]):
    x -= ma; y -= mb
    sab += x * y; saa += x * x; sbb += y * y
print(f"{sab / math.sqrt(saa * sbb):.6f}")
EOF
}

# wav_header FILE: the magic, the data size the header gives and the file's size.
wav_header() {
    python3 - "$1" <<'EOF'
import os, struct, sys
data = open(sys.argv[1], "rb").read(4096)
magic = data[:4].decode()
at, size = 12, None
ds64 = None
while at + 8 <= len(data):
    chunk, length = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
    if chunk == b"ds64":
        ds64 = struct.unpack("<QQQ", data[at + 8:at + 32])
    if chunk == b"data":
        size = ds64[1] if length == 0xFFFFFFFF and ds64 else length
        break
    at += 8 + length + (length & 1)
print(magic, size, os.path.getsize(sys.argv[1]) - (at + 8))
EOF
}

case "$case_name" in
same_file)
    # The output that is the input is refused and the module stays, whatever the name says.
    cp "$song" "$work/same.xm"
    ln -s same.xm "$work/link.wav"
    ln "$work/same.xm" "$work/hard.wav"
    exits 2 "$work/same.xm" "$work/same.xm"
    grep -q "is the input" "$work/err" || fail "no word of why: $(cat "$work/err")"
    exits 2 "$work/same.xm" "$work/link.wav"
    exits 2 "$work/same.xm" "$work/hard.wav"
    exits 2 - "$work/hard.wav" <"$work/same.xm"
    cmp -s "$song" "$work/same.xm" || fail "the module was overwritten"
    no_temporary_left "$work"
    # and a symbolic link to an earlier output is followed: the link stays a link
    "$xmrender" "$song" "$work/real.wav" --seconds 1 2>/dev/null || fail "render"
    ln -s real.wav "$work/alias.wav"
    "$xmrender" "$song" "$work/alias.wav" --seconds 2 2>/dev/null || fail "render through a link"
    [ -L "$work/alias.wav" ] || fail "the link was replaced by a file"
    [ "$(stat -c %s "$work/real.wav")" = $((44 + 2 * 44100 * 4)) ] || fail "the link's file"
    ;;
interrupt)
    # A signal half way: its own exit code, the earlier file byte for byte, no temporary file.
    # Ogg Vorbis encodes slowly enough (about 60 times real time) to be caught half way.
    for signal in INT:130 TERM:143 HUP:129; do
        name=${signal%%:*} code=${signal##*:}
        earlier "$work/song.ogg"
        "$xmrender" "$song" "$work/song.ogg" --seconds 3600 2>"$work/err" &
        pid=$!
        # under way once its file has grown (a temporary one, or in older versions the target)
        for _ in $(seq 100); do
            [ -n "$(find "$work" -name '*song.ogg*' -size +10k)" ] && break
            sleep 0.05
        done
        kill -"$name" "$pid"
        wait "$pid"
        got=$?
        [ "$got" = "$code" ] || fail "SIG$name: exit $got, want $code"
        grep -q "stopped by a signal" "$work/err" || fail "SIG$name: no word of it"
        untouched "$work/song.ogg"
        no_temporary_left "$work"
        echo "SIG$name: exit $got, the earlier file intact"
    done
    ;;
full_disk)
    # A 1 MiB file system fills up half way: exit 1 with the reason, the earlier file intact.
    mkdir "$work/small"
    if ! mount -t tmpfs -o size=1m tmpfs "$work/small" 2>"$work/err"; then
        echo "SKIP [$case_name]: cannot mount a 1 MiB tmpfs here: $(cat "$work/err")"
        exit 77
    fi
    mounted=$work/small
    for ext in wav flac ogg aiff; do
        earlier "$work/small/song.$ext"
        exits 1 "$song" "$work/small/song.$ext" --seconds 120
        grep -q "cannot write .*song.$ext: No space left on device" "$work/err" ||
            fail "$ext: $(cat "$work/err")"
        untouched "$work/small/song.$ext"
        no_temporary_left "$work/small"
        echo "$ext: the disk filled, exit 1, the earlier file intact"
    done
    # what fits is written there, over the earlier file
    exits 0 "$song" "$work/small/song.wav" --seconds 1 --rate 8000
    [ "$(stat -c %s "$work/small/song.wav")" = $((44 + 8000 * 4)) ] || fail "the small file"
    ;;
formats)
    # Each extension its format, decoded by sox: FLAC and AIFF hold the WAV's samples exactly,
    # Ogg Vorbis correlates above 0.99 with them; float WAV is the same mix unrounded.
    for ext in wav flac aiff ogg; do
        "$xmrender" "$song" "$work/song.$ext" --seconds 20 2>"$work/err" || fail "$ext"
    done
    "$xmrender" "$song" "$work/float.wav" --seconds 20 --float 2>"$work/err" || fail "float"
    tail -c +45 "$work/song.wav" >"$work/wav.raw"
    [ "$(soxi -t "$work/song.flac")" = flac ] || fail "song.flac is $(soxi -t "$work/song.flac")"
    [ "$(soxi -t "$work/song.ogg")" = vorbis ] || fail "song.ogg is $(soxi -t "$work/song.ogg")"
    [ "$(soxi -t "$work/song.aiff")" = aiff ] || fail "song.aiff is $(soxi -t "$work/song.aiff")"
    for ext in flac aiff; do
        sox "$work/song.$ext" -t s16 -e signed -L "$work/$ext.raw" || fail "sox $ext"
        cmp -s "$work/wav.raw" "$work/$ext.raw" || fail "$ext differs from the WAV"
        echo "$ext: $(($(stat -c %s "$work/$ext.raw") / 4)) frames equal to the WAV's"
    done
    sox "$work/song.ogg" -t s16 -e signed -L "$work/ogg.raw" || fail "sox ogg"
    r=$(correlation "$work/ogg.raw" "$work/wav.raw")
    echo "ogg: correlation $r with the WAV"
    awk -v r="$r" 'BEGIN { exit !(r > 0.99) }' || fail "ogg correlates only $r"
    [ "$(soxi -e "$work/float.wav" 2>/dev/null)" = "Floating Point PCM" ] || fail "float encoding"
    sox "$work/float.wav" -t s16 -e signed -L "$work/float.raw" 2>/dev/null || fail "sox float"
    r=$(correlation "$work/float.raw" "$work/wav.raw")
    awk -v r="$r" 'BEGIN { exit !(r > 0.9999) }' || fail "float correlates only $r"
    # options in getopt_long's forms: --opt=value, after the files, -- before an operand "-"
    bytes=$("$xmrender" --rate=8000 "$song" --seconds=1 -q -- - | wc -c)
    [ "$bytes" = $((44 + 8000 * 4)) ] || fail "--seconds=1 --rate=8000 gave $bytes bytes"
    # standard output streams WAV, and a name with no format is refused before any rendering
    "$xmrender" "$song" - --seconds 20 2>/dev/null | cmp -s - "$work/song.wav" ||
        fail "the stream differs from the file"
    exits 2 "$song" "$work/song.mp3"
    grep -q "no format for the name" "$work/err" || fail "mp3: $(cat "$work/err")"
    exits 2 "$song" "$work/song" --seconds 1
    exits 2 "$song" "$work/f.flac" --float
    [ -e "$work/song.mp3" ] || [ -e "$work/song" ] || [ -e "$work/f.flac" ] &&
        fail "a refused name was written"
    no_temporary_left "$work"
    # a length shorter than one frame is no length
    exits 2 "$song" "$work/empty.wav" --seconds 1e-9
    [ -e "$work/empty.wav" ] && fail "an empty WAV was written"
    ;;
rf64)
    # Past the RIFF size limit WAV becomes RF64 whose ds64 chunk has the right length; checked
    # with a build whose limit is 100000 bytes (2 s at 8000 Hz are 64000, 5 s 160000).
    [ -x "$small_riff" ] || fail "no xmrender built with a small RIFF limit"
    "$small_riff" "$song" "$work/short.wav" --seconds 2 --rate 8000 || fail "short"
    read -r magic size rest <<<"$(wav_header "$work/short.wav")"
    [ "$magic $size $rest" = "RIFF 64000 64000" ] || fail "short: $magic $size $rest"
    for how in file stream float-file float-stream song; do
        case $how in
        file) "$small_riff" "$song" "$work/$how.wav" --seconds 5 --rate 8000 ;;
        stream) "$small_riff" "$song" - --seconds 5 --rate 8000 >"$work/$how.wav" ;;
        float-file) "$small_riff" "$song" "$work/$how.wav" --seconds 5 --rate 8000 --float ;;
        float-stream) "$small_riff" "$song" - --seconds 5 --rate 8000 --float | cat >"$work/$how.wav" ;;
        song) "$small_riff" "$song" "$work/$how.wav" --rate 8000 ;;
        esac
        code=$?
        [ "$code" = 0 ] || fail "$how: exit $code"
        read -r magic size rest <<<"$(wav_header "$work/$how.wav")"
        frame_bytes=4
        want=160000
        case $how in
        float*) frame_bytes=8 want=320000 ;;
        song) want=$rest ;; # the song's length, more than the limit at 8000 Hz
        esac
        [ "$magic" = RF64 ] || fail "$how: $magic instead of RF64"
        [ "$size" = "$want" ] && [ "$rest" = "$want" ] && [ "$size" -gt 100000 ] ||
            fail "$how: header $size, data $rest"
        # sox reads the length from the ds64 chunk
        samples=$(soxi -s "$work/$how.wav" 2>/dev/null)
        [ "$samples" = $((want / frame_bytes)) ] || fail "$how: sox reads $samples frames"
        echo "$how: RF64, $size data bytes, sox reads $samples frames"
    done
    # the samples are the normal build's
    "$xmrender" "$song" "$work/normal.wav" --seconds 5 --rate 8000 || fail "normal"
    sox "$work/file.wav" -t s16 -e signed -L "$work/file.raw" || fail "sox"
    cmp -s <(tail -c +45 "$work/normal.wav") "$work/file.raw" || fail "RF64 samples differ"
    # AIFF has no such form: refused before rendering
    "$small_riff" "$song" "$work/long.aiff" --seconds 5 --rate 8000 2>"$work/err"
    [ $? = 2 ] || fail "AIFF past the limit was not refused"
    grep -q "AIFF cannot hold" "$work/err" || fail "AIFF: $(cat "$work/err")"
    ;;
past_4gib)
    # The real thing: 5600 s of 16-bit stereo at 192000 Hz is 4.3 GB, past 4 GiB.
    free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
    if [ "$free_kib" -lt $((10 * 1024 * 1024)) ]; then
        echo "SKIP [$case_name]: less than 10 GiB free in $work"
        exit 77
    fi
    "$xmrender" "$song" "$work/long.wav" --seconds 5600 --rate 192000 2>"$work/err" || fail "render"
    read -r magic size rest <<<"$(wav_header "$work/long.wav")"
    want=$((5600 * 192000 * 4))
    [ "$magic $size $rest" = "RF64 $want $want" ] || fail "header $magic $size, data $rest"
    [ "$(soxi -s "$work/long.wav")" = $((5600 * 192000)) ] || fail "sox reads $(soxi -s "$work/long.wav")"
    echo "RF64, $size data bytes ($((size >> 30)) GiB), sox reads $((5600 * 192000)) frames"
    ;;
controls)
    # --gain, --stereo-separation, --mute, --solo and --start against a plain render.
    "$xmrender" -q "$song" "$work/plain.wav" || fail "plain"
    "$xmrender" -q "$song" "$work/zero.wav" --gain 0 --stereo-separation 100 || fail "0 dB"
    cmp -s "$work/plain.wav" "$work/zero.wav" || fail "0 dB and 100 % changed the bytes"
    rms() { sox "$1" -n ${2:-} stat 2>&1 | awk '/RMS +amplitude/ { print $3 }'; }
    peak() { sox "$1" -n ${2:-} stat 2>&1 | awk '/Maximum amplitude/ { print $3 }'; }
    "$xmrender" -q "$song" "$work/quiet.wav" --gain -6 || fail "-6 dB"
    db=$(awk -v a="$(rms "$work/quiet.wav")" -v b="$(rms "$work/plain.wav")" \
        'BEGIN { printf "%.3f", 20 * log(a / b) / log(10) }')
    awk -v d="$db" 'BEGIN { exit !(d > -6.1 && d < -5.9) }' || fail "--gain -6 gave $db dB"
    "$xmrender" -q "$song" "$work/mono.wav" --stereo-separation 0 || fail "mono"
    [ "$(peak "$work/mono.wav" "remix 1,2v-1")" = 0.000000 ] || fail "0 % is not mono"
    "$xmrender" -q "$song" "$work/wide.wav" --stereo-separation 200 -f || fail "wide"
    side=$(awk -v a="$(rms "$work/wide.wav" "remix 1,2v-1")" \
        -v b="$(rms "$work/plain.wav" "remix 1,2v-1")" 'BEGIN { printf "%.4f", a / b }')
    awk -v r="$side" 'BEGIN { exit !(r > 1.99 && r < 2.01) }' || fail "200 % gave side x $side"
    "$xmrender" -q "$song" "$work/none.wav" --mute 1-6 || fail "mute all"
    [ "$(peak "$work/none.wav")" = 0.000000 ] || fail "every channel muted is not silent"
    "$xmrender" -q "$song" "$work/solo.wav" --solo 2 || fail "solo"
    "$xmrender" -q "$song" "$work/muted.wav" --mute 1,3-6 || fail "mute"
    cmp -s "$work/solo.wav" "$work/muted.wav" || fail "--solo 2 is not --mute 1,3-6"
    [ "$(peak "$work/solo.wav")" != 0.000000 ] || fail "--solo 2 is silent"
    cmp -s "$work/solo.wav" "$work/plain.wav" && fail "--solo 2 is the whole song"
    # From 1:20 to the end: the plain render's last part, to a unit of the last bit (ramps
    # under way may round apart when the chunks fall elsewhere).
    "$xmrender" -q "$song" "$work/late.wav" --start 1:20 || fail "start"
    want=$(($(soxi -s "$work/plain.wav") - 80 * 44100))
    [ "$(soxi -s "$work/late.wav")" = "$want" ] || fail "--start 1:20 gave $(soxi -s "$work/late.wav") frames, want $want"
    sox "$work/plain.wav" "$work/tail.wav" trim 80 || fail "trim"
    diff=$(sox -m -v 1 "$work/late.wav" -v -1 "$work/tail.wav" -n stat 2>&1 | awk '/Maximum amplitude/ { print $3 }')
    awk -v x="$diff" 'BEGIN { exit !(x <= 0.0001) }' || fail "--start 1:20 differs from the tail by $diff"
    "$xmrender" -q "$song" "$work/s.wav" --start 80.0s && cmp -s "$work/s.wav" "$work/late.wav" || fail "80.0s is not 1:20"
    "$xmrender" -q "$song" "$work/o.wav" --start order:8 || fail "order"
    frames=$(soxi -s "$work/o.wav")
    [ "$frames" -gt 0 ] && [ "$frames" -lt "$(soxi -s "$work/plain.wav")" ] || fail "order:8 gave $frames frames"
    "$xmrender" -q "$song" "$work/linear.wav" --interpolation linear || fail "linear"
    cmp -s "$work/plain.wav" "$work/linear.wav" || fail "--interpolation linear changed the bytes"
    "$xmrender" -q "$song" "$work/cubic.wav" --interpolation cubic || fail "cubic"
    "$xmrender" -q "$song" "$work/held.wav" --interpolation none || fail "none"
    cmp -s "$work/plain.wav" "$work/cubic.wav" && fail "--interpolation cubic is linear"
    cmp -s "$work/held.wav" "$work/cubic.wav" && fail "--interpolation none is cubic"
    # Refusals say why, before anything is written.
    for wrong in "--gain 25" "--gain -96.5" "--gain x" "--stereo-separation 201" "--start 1:60" \
        "--start order:9" "--start 9:00" "--mute 7" "--solo 0" "--mute 3-2" "--mute 1," \
        "--interpolation sinc"; do
        # shellcheck disable=SC2086
        exits 2 -q "$song" "$work/bad.wav" $wrong
        [ -s "$work/err" ] || fail "no reason for $wrong"
        [ -e "$work/bad.wav" ] && fail "$wrong wrote a file"
    done
    echo "-6 dB: $db dB; 200 %: side x $side; --start 1:20: $want frames, off by at most $diff"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "PASS [$case_name]"
