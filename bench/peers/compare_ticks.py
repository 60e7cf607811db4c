#!/usr/bin/env python3
"""Holds the player against libxmp tick by tick, and checks self-checking test modules.

  compare_ticks.py ticks XMINFO XMP_TICKS FILE.xm...   per-tick table against libxmp
  compare_ticks.py data XMINFO FILE.xm=FILE.data...    against libxmp's recorded test data
  compare_ticks.py sides XMRENDER|ffmpeg FILE.xm...     silence / equal-sides check
  compare_ticks.py dump XMINFO FILE.xm=FILE.ticks...    against a reference's per-tick dump

ticks: runs `xminfo --ticks --profile P` (P from --profile, ft2 by default) and `xmp_ticks` on
each file, pairs the lines by tick number and counts, per file, the ticks on which every channel
agrees: pitch within 1 cent (channels sounding on both sides), volume within 2 (of 64) and
panning within 2 (of 255, channels sounding on both sides). With --diff it prints the first
disagreeing ticks of each file.

data: the same counts against the per-tick expectations libxmp's test suite keeps next to its
test modules (newer than Debian's libxmp 4.5, fixed against FastTracker 2): lines of time (ms
at the tick's end), row, frame, channel, period x 4096, note, instrument, volume (x 16), panning
(-128..127), position; a channel without a line is silent on that tick.

dump: the same counts against a dump in xminfo's --ticks columns made by another player (for
FastTracker 2's own rules, a dumper built on a port of its replayer), whose timeMs is the time at
the END of each tick. Per file it prints the ticks on each side, then the share of ticks whose
timeline agrees (order, row, tick in row, speed, BPM and the tick's end within 1 ms), whose pitch,
volume and panning agree, and whose everything agrees; a file agrees on every tick when both
sides have the same number of ticks and all of them agree. --diff N prints the first N
disagreeing ticks of each file. A dump whose hz column comes from the period in double precision
cannot match a 16.16 voice step to 1 cent below about 1 kHz: --step-hz HZ (for 44100 Hz,
44100 / 65536 = 0.673) lets pitches within one such step agree as well.

sides: renders each file with `xmrender --profile P` (or with ffmpeg's libopenmpt, for a
reference) and reports whether it is silent or plays the same on the left and right: the test
modules put the player's output on one side and a recording of FastTracker 2 (or an inverted
copy) on the other.
"""
import array
import math
import os
import subprocess
import sys
import tempfile
import wave

CENT = 1.0
VOLUME_TOLERANCE = 2.0
PANNING_TOLERANCE = 2.0


def run(cmd):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=600).stdout


def parse(text):
    ticks = {}
    for line in text.splitlines():
        head, _, rest = line.partition("|")
        fields = head.split()
        values = rest.split()
        if len(fields) != 7 or len(values) % 3 != 0:
            continue
        channels = [tuple(float(v) for v in values[i:i + 3]) for i in range(0, len(values), 3)]
        ticks[int(fields[0])] = ([int(f) for f in fields[1:6]], channels)
    return ticks


def channels_agree(ours, theirs, step_hz=0.0):
    """Which of pitch, volume and panning agree on every channel: ours a list of (hz, vol, pan),
    theirs a function from channel number to the same. With step_hz, pitches also agree when
    they lie within that many hertz (one unit of a 16.16 voice step)."""
    ok = {"pitch": True, "volume": True, "panning": True}
    for c, a in enumerate(ours):
        b = theirs(c, a)
        sounding = a[1] > 0 and b[1] > 0 and a[0] > 0 and b[0] > 0
        if (sounding and abs(1200.0 * math.log2(a[0] / b[0])) > CENT and
                abs(a[0] - b[0]) > step_hz):
            ok["pitch"] = False
        if abs(a[1] - b[1]) > VOLUME_TOLERANCE:
            ok["volume"] = False
        if sounding and abs(a[2] - b[2]) > PANNING_TOLERANCE:
            ok["panning"] = False
    return ok


def percent(count, n):
    return f"{100.0 * count / n:6.1f}%" if n else "    -  "


def compare_file(xminfo, xmp_ticks, path, profile, max_ticks, show_diff):
    ours = parse(run([xminfo, "--ticks", path, "--profile", profile, "--max-ticks", str(max_ticks)]))
    peer = parse(run([xmp_ticks, path, "--max-ticks", str(max_ticks)]))
    common = sorted(set(ours) & set(peer))
    counts = {"pitch": 0, "volume": 0, "panning": 0, "position": 0}
    shown = 0
    for t in common:
        (pos_a, ch_a), (pos_b, ch_b) = ours[t], peer[t]
        ok = channels_agree(ch_a, lambda c, a: ch_b[c] if c < len(ch_b) else (0.0, 0.0, a[2]))
        ok_position = pos_a[:4] == pos_b[:4]
        for k, v in ok.items():
            counts[k] += v
        counts["position"] += ok_position
        if show_diff and shown < show_diff and not (all(ok.values()) and ok_position):
            shown += 1
            bad = [k for k, v in ok.items() if not v] + ([] if ok_position else ["position"])
            print(f"  {os.path.basename(path)} tick {t} {','.join(bad)}")
            print(f"    ours: {pos_a} {ch_a}")
            print(f"    xmp:  {pos_b} {ch_b}")
    return len(ours), len(peer), len(common), counts


def ticks_main(args):
    profile, max_ticks, show_diff = "ft2", 20000, 0
    files = []
    it = iter(args[2:])
    for a in it:
        if a == "--profile":
            profile = next(it)
        elif a == "--max-ticks":
            max_ticks = int(next(it))
        elif a == "--diff":
            show_diff = int(next(it))
        else:
            files.append(a)
    xminfo, xmp_ticks = args[0], args[1]
    totals = {"pitch": 0, "volume": 0, "panning": 0, "position": 0, "ticks": 0}
    print(f"{'file':36} {'ours':>6} {'xmp':>6} {'compared':>8} {'pitch':>7} {'volume':>7} "
          f"{'panning':>7} {'position':>8}")
    for path in files:
        n_ours, n_peer, n, c = compare_file(xminfo, xmp_ticks, path, profile, max_ticks, show_diff)
        totals["ticks"] += n
        for k in ("pitch", "volume", "panning", "position"):
            totals[k] += c[k]
        print(f"{os.path.basename(path)[:36]:36} {n_ours:6d} {n_peer:6d} {n:8d} " +
              " ".join(percent(c[k], n) for k in ("pitch", "volume", "panning")) +
              f" {percent(c['position'], n):>8}")
    n = totals["ticks"]
    print(f"{'all':36} {'':6} {'':6} {n:8d} " +
          " ".join(percent(totals[k], n) for k in ("pitch", "volume", "panning")) +
          f" {percent(totals['position'], n):>8}")


def parse_data(path):
    """Groups libxmp's expectation lines into ticks: [(time, row, frame, {channel: (hz, vol, pan)})]."""
    ticks = []
    with open(path) as f:
        for line in f:
            v = line.split()
            if len(v) < 9:
                continue
            time, row, frame, chan, period = (int(x) for x in v[:5])
            vol, pan = int(v[7]), int(v[8])
            hz = PERIOD_CLOCK_HZ * 4096.0 / period if period > 0 else 0.0
            if not ticks or ticks[-1][:3] != (time, row, frame):
                ticks.append((time, row, frame, {}))
            ticks[-1][3][chan] = (hz, vol / 16.0, pan + 128.0)
    return ticks


PERIOD_CLOCK_HZ = 428.0 * 8363.0


def data_main(args):
    profile, show_diff = "ft2", 0
    pairs = []
    it = iter(args[1:])
    for a in it:
        if a == "--profile":
            profile = next(it)
        elif a == "--diff":
            show_diff = int(next(it))
        else:
            pairs.append(a.split("="))
    xminfo = args[0]
    totals = {"pitch": 0, "volume": 0, "panning": 0, "ticks": 0, "expected": 0}
    print(f"{'file':36} {'expected':>8} {'matched':>8} {'pitch':>7} {'volume':>7} {'panning':>7}")
    for module, data in pairs:
        expected = parse_data(data)
        ours_text = run([xminfo, "--ticks", module, "--profile", profile, "--max-ticks", "20000"])
        ours = [parse_line for parse_line in ours_text.splitlines()]
        parsed = parse(ours_text)
        order = sorted(parsed)
        # tick end times: the next tick's start
        starts = [float(ours[i].split()[6]) for i in range(len(ours)) if len(ours[i].split()) > 6]
        if not starts:
            print(f"{os.path.basename(module)[:36]:36} {len(expected):8d}        0   (not played)")
            totals["expected"] += len(expected)
            continue
        ends = starts[1:] + [starts[-1] + (starts[-1] - starts[-2] if len(starts) > 1 else 0)]
        counts = {"pitch": 0, "volume": 0, "panning": 0}
        n = 0
        k = 0
        shown = 0
        for time, row, frame, chans in expected:
            while k < len(order) and not (parsed[order[k]][0][1] == row and
                                          parsed[order[k]][0][2] == frame and
                                          abs(ends[k] - time) <= 2.0):
                if ends[k] > time + 2.0:
                    break
                k += 1
            if k >= len(order) or ends[k] > time + 2.0:
                continue
            n += 1
            channels = parsed[order[k]][1]
            ok = channels_agree(channels, lambda c, a: chans.get(c, (0.0, 0.0, a[2])))
            for key, value in ok.items():
                counts[key] += value
            if show_diff and shown < show_diff and not all(ok.values()):
                shown += 1
                print(f"  tick {order[k]} row {row} frame {frame}: ours {channels} libxmp {chans}")
            k += 1
        totals["ticks"] += n
        totals["expected"] += len(expected)
        for key in counts:
            totals[key] += counts[key]
        print(f"{os.path.basename(module)[:36]:36} {len(expected):8d} {n:8d} " +
              " ".join(percent(counts[k], n) for k in ("pitch", "volume", "panning")))
    n = totals["ticks"]
    print(f"{'all':36} {totals['expected']:8d} {n:8d} " +
          " ".join(percent(totals[k], n) for k in ("pitch", "volume", "panning")))


def dump_main(args):
    profile, show_diff, max_ticks, step_hz = "ft2", 0, 20000, 0.0
    pairs = []
    it = iter(args[1:])
    for a in it:
        if a == "--profile":
            profile = next(it)
        elif a == "--diff":
            show_diff = int(next(it))
        elif a == "--max-ticks":
            max_ticks = int(next(it))
        elif a == "--step-hz":
            step_hz = float(next(it))
        else:
            pairs.append(a.rsplit("=", 1))
    xminfo = args[0]
    keys = ("timeline", "pitch", "volume", "panning", "all")
    totals = dict.fromkeys(keys, 0)
    totals["ticks"] = 0
    agreeing_files = []
    print(f"{'file':30} {'ours':>6} {'ref':>6} " + " ".join(f"{k:>8}" for k in keys) + "  every")
    for module, dump in pairs:
        ours_text = run([xminfo, "--ticks", module, "--profile", profile, "--max-ticks",
                         str(max_ticks)])
        ours = parse(ours_text)
        with open(dump) as f:
            ref = parse(f.read())
        order = sorted(ours)
        # Our column is the tick's start; the tick's end is the next tick's start.
        starts = {}
        for line in ours_text.splitlines():
            v = line.split()
            if len(v) > 7 and v[7] == "|":
                starts[int(v[0])] = float(v[6])
        counts = dict.fromkeys(keys, 0)
        common = [t for t in order if t in ref]
        shown = 0
        for t in common:
            (pos_a, ch_a), (pos_b, ch_b) = ours[t], ref[t]
            end_a = starts.get(t + 1)
            same_time = end_a is None or abs(end_a - ref_time(dump, t, ref)) <= 1.0
            ok = channels_agree(ch_a, lambda c, a: ch_b[c] if c < len(ch_b) else (0.0, 0.0, a[2]),
                                step_hz)
            ok["timeline"] = pos_a == pos_b and same_time
            ok["all"] = all(ok.values())
            for k in keys:
                counts[k] += ok[k]
            if show_diff and shown < show_diff and not ok["all"]:
                shown += 1
                bad = [k for k in keys if not ok[k] and k != "all"]
                print(f"  {os.path.basename(module)} tick {t} {','.join(bad)}")
                print(f"    ours: {pos_a} {ch_a}")
                print(f"    ref:  {pos_b} {ch_b}")
        n = len(common)
        every = n == len(ours) == len(ref) and counts["all"] == n
        if every:
            agreeing_files.append(module)
        totals["ticks"] += n
        for k in keys:
            totals[k] += counts[k]
        print(f"{os.path.basename(module)[:30]:30} {len(ours):6d} {len(ref):6d} " +
              " ".join(f"{percent(counts[k], n):>8}" for k in keys) + f"  {'yes' if every else 'no'}")
    n = totals["ticks"]
    print(f"{'all':30} {'':6} {n:6d} " + " ".join(f"{percent(totals[k], n):>8}" for k in keys) +
          f"  {len(agreeing_files)} of {len(pairs)} files agree on every tick")


_ref_times = {}


def ref_time(dump, tick, ref):
    """The reference's timeMs column of a tick (parse() keeps only the first five fields)."""
    if dump not in _ref_times:
        times = {}
        with open(dump) as f:
            for line in f:
                v = line.split()
                if len(v) > 7 and v[7] == "|":
                    times[int(v[0])] = float(v[6])
        _ref_times[dump] = times
    return _ref_times[dump].get(tick, 0.0)


def read_wav(path):
    with wave.open(path, "rb") as w:
        frames = w.readframes(w.getnframes())
    samples = array.array("h")
    samples.frombytes(frames)
    return samples[0::2], samples[1::2]


def ac_rms(values):
    if not values:
        return 0.0
    mean = sum(values) / len(values)
    return math.sqrt(sum((v - mean) ** 2 for v in values) / len(values))


def rms(values):
    return math.sqrt(sum(v * v for v in values) / len(values)) if values else 0.0


WINDOW_FRAMES = 1024  # about 23 ms
LOUD_RMS = 32.8  # -60 dBFS
LEVEL_DB = 2.0
CROSSINGS_SHARE = 0.05


def crossings(values):
    return sum(1 for a, b in zip(values, values[1:]) if (a < 0) != (b < 0))


def window_match(left, right):
    """Share of loud windows in which both sides have the same level (within 2 dB) and the same
    zero-crossing count (within 5 %, at least 2): a recording cannot match sample by sample."""
    loud = matched = 0
    for start in range(0, len(left) - WINDOW_FRAMES + 1, WINDOW_FRAMES):
        l = left[start:start + WINDOW_FRAMES]
        r = right[start:start + WINDOW_FRAMES]
        rl, rr = rms(l), rms(r)
        if max(rl, rr) < LOUD_RMS:
            continue
        loud += 1
        if min(rl, rr) < LOUD_RMS / 4:
            continue
        if abs(20.0 * math.log10(rl / rr)) > LEVEL_DB:
            continue
        cl, cr = crossings(l), crossings(r)
        if abs(cl - cr) > max(2, CROSSINGS_SHARE * max(cl, cr)):
            continue
        matched += 1
    return loud, matched


def render(tool, path, out, profile):
    if tool == "ffmpeg":
        cmd = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", path, "-ar", "44100",
               "-ac", "2", "-c:a", "pcm_s16le", out]
    else:
        cmd = [tool, path, out, "--profile", profile]
    subprocess.run(cmd, capture_output=True, timeout=600)


def verdict_of(path_wav):
    try:
        left, right = read_wav(path_wav)
    except (OSError, EOFError, wave.Error):
        return "failed", 0, 0
    # A constant offset is inaudible (two samples that cancel but for their lowest bit leave one).
    l, r = ac_rms(left), ac_rms(right)
    diff = ac_rms([a - b for a, b in zip(left, right)])
    total = ac_rms([a + b for a, b in zip(left, right)])
    loud, matched = window_match(left, right)
    # Silent below -60 dBFS; equal when the sides cancel or coincide within 20 dB; similar when
    # 90 % of the loud windows agree in level and zero crossings.
    if max(l, r) < LOUD_RMS:
        return "silent", loud, matched
    if min(diff, total) < 0.1 * max(l, r):
        return "equal", loud, matched
    if loud and matched >= 0.9 * loud:
        return "similar", loud, matched
    return "differ", loud, matched


def sides_main(args):
    """Renders each file with xmrender and, as the reference for what the case wants, with
    ffmpeg's libopenmpt: a case libopenmpt plays silent, or one named with --silence (the test
    descriptions say so), is a silence case; cases named with --listen are to be heard, not
    judged; any other case wants equal or similar sides."""
    profile = "ft2"
    files = []
    silence_cases = set()
    listen_cases = set()
    it = iter(args[1:])
    for a in it:
        if a == "--profile":
            profile = next(it)
        elif a == "--silence":
            silence_cases.update(next(it).split(","))
        elif a == "--listen":
            listen_cases.update(next(it).split(","))
        else:
            files.append(a)
    tool = args[0]
    passed = reference_passed = judged = 0
    print(f"{'file':30} {'kind':8} {'ours':>8} {'windows':>8} {'matched':>8} {'openmpt':>8} "
          f"{'result':>6}")
    with tempfile.TemporaryDirectory() as tmp:
        for path in files:
            ours_wav = os.path.join(tmp, "ours.wav")
            ref_wav = os.path.join(tmp, "ref.wav")
            for f in (ours_wav, ref_wav):
                if os.path.exists(f):
                    os.remove(f)
            render(tool, path, ours_wav, profile)
            render("ffmpeg", path, ref_wav, profile)
            ours, loud, matched = verdict_of(ours_wav)
            ref, _, _ = verdict_of(ref_wav)
            name = os.path.basename(path)
            if name in listen_cases:
                print(f"{name[:30]:30} {'listen':8} {ours:>8} {loud:8d} {matched:8d} {ref:>8} "
                      f"{'-':>6}")
                continue
            kind = "silence" if ref == "silent" or name in silence_cases else "sides"
            ok = ours == "silent" if kind == "silence" else ours in ("equal", "similar")
            ref_ok = ref == "silent" if kind == "silence" else ref in ("equal", "similar")
            judged += 1
            passed += ok
            reference_passed += ref_ok
            print(f"{os.path.basename(path)[:30]:30} {kind:8} {ours:>8} {loud:8d} {matched:8d} "
                  f"{ref:>8} {'pass' if ok else 'FAIL':>6}")
    print(f"passed {passed} of {judged} (libopenmpt by the same measure: {reference_passed})")


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("ticks", "data", "sides", "dump"):
        print(__doc__)
        return 2
    if sys.argv[1] == "ticks":
        ticks_main(sys.argv[2:])
    elif sys.argv[1] == "dump":
        dump_main(sys.argv[2:])
    elif sys.argv[1] == "data":
        data_main(sys.argv[2:])
    else:
        sides_main(sys.argv[2:])
    return 0


if __name__ == "__main__":
    sys.exit(main())
