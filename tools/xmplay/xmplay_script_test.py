#!/usr/bin/env python3
"""xmplay without a terminal, as scripts and services run it (SDL's disk audio driver): idle
while standard input gives no keys, an exit code of its own for each signal, options after the
file names, and keys from a pipe.

Arguments: xmplay, xmrender, a module, a scratch folder."""
import array
import os
import signal
import subprocess
import sys
import time

XMPLAY, XMRENDER, SONG, WORK = sys.argv[1:5]
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def start(args, disk, delay_ms=None, stdin=subprocess.DEVNULL):
    env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=disk)
    if delay_ms is not None:
        env["SDL_DISKAUDIODELAY"] = str(delay_ms)
    return subprocess.Popen([XMPLAY] + args, stdin=stdin, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=env)


def cpu_seconds(pid):
    """User and system time the process has used so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rendered_samples(name, *args):
    wav = os.path.join(WORK, name)
    subprocess.run([XMRENDER, SONG, wav, "--quiet", *args], check=True)
    with open(wav, "rb") as f:
        return f.read()[44:]


def played_after_lead(disk):
    """What the device got, without the silence SDL writes before playback starts."""
    with open(disk, "rb") as f:
        played = f.read()
    lead = 0
    while played[lead:lead + 4096] == bytes(4096):
        lead += 4096
    return played[lead:]


os.makedirs(WORK, exist_ok=True)

# 1. Standard input at its end from the start (</dev/null): the key loop waits instead of
#    spinning. Five seconds of real-time playback on the disk driver cost next to no CPU.
p = start([SONG], os.path.join(WORK, "idle.raw"))
time.sleep(5)
used = cpu_seconds(p.pid)
check(used < 0.5, f"</dev/null: {used:.2f} s of CPU in 5 s of playback (under 0.5)")
p.send_signal(signal.SIGTERM)
code = p.wait(timeout=10)
check(code == 143, f"SIGTERM ends with 143 (got {code})")

# 2. Each stopping signal its own code, 128 + its number.
for sig, want in ((signal.SIGHUP, 129), (signal.SIGINT, 130), (signal.SIGQUIT, 131)):
    p = start([SONG], os.path.join(WORK, "signal.raw"))
    time.sleep(0.5)
    p.send_signal(sig)
    code = p.wait(timeout=10)
    check(code == want, f"{sig.name} ends with {want} (got {code})")

# 3. Options after the file and in --opt=value form, as getopt_long takes them: two passes
#    through the song at 8000 Hz.
disk = os.path.join(WORK, "loop.raw")
p = start([SONG, "--loop", "2", "--rate=8000"], disk, delay_ms=0)
code = p.wait(timeout=120)
check(code == 0, f"'xmplay SONG --loop 2 --rate=8000' plays and exits 0 (got {code})")
once = rendered_samples("once.wav", "--rate", "8000")
played = played_after_lead(disk)
check(played[:len(once)] == once, "the first pass is xmrender's at 8000 Hz")
sounding = len(played.rstrip(b"\0"))
check(sounding > 1.9 * len(once), f"and a second pass follows ({sounding} bytes against {len(once)})")

# 4. Keys from a pipe: '-' turns the volume down to 90 %. From then on every sample is the
#    rendered one times 90 / 100, truncated toward zero; the song's last quarter is checked.
disk = os.path.join(WORK, "volume.raw")
p = start([SONG], disk, delay_ms=0, stdin=subprocess.PIPE)
p.stdin.write(b"-")
p.stdin.flush()
code = p.wait(timeout=120)
p.stdin.close()
check(code == 0, f"keys from a pipe: exit 0 (got {code})")
full = array.array("h", rendered_samples("full.wav"))
with open(disk, "rb") as f:
    device = f.read()
quarter = len(full) * 3 // 4
scaled = array.array("h", [int(v * 90 / 100) for v in full[quarter:]])
# SDL writes whole device buffers of 1024 frames of silence before playback starts; the song
# itself may begin with silence too, so each possible lead is tried.
leads = [k for k in range(64)
         if array.array("h", device[k * 4096 + quarter * 2:k * 4096 + len(full) * 2]) == scaled]
check(bool(leads), "after '-' the device gets the samples at 90 %"
      + (f" (after {leads[0] * 1024} frames of silence)" if leads else ""))
check(scaled != full[quarter:], "which differ from the samples at 100 %")

# 5. Standard input closed while playing: the keys stop, playback goes on without spinning.
p = start([SONG], os.path.join(WORK, "closed.raw"), stdin=subprocess.PIPE)
time.sleep(0.5)
p.stdin.close()
before = cpu_seconds(p.pid)
time.sleep(3)
used = cpu_seconds(p.pid) - before
check(p.poll() is None and used < 0.3, f"after its keys' pipe closed: {used:.2f} s of CPU in 3 s")
p.send_signal(signal.SIGTERM)
p.wait(timeout=10)

# 6. The listener options play what xmrender renders with them, to the byte.
disk = os.path.join(WORK, "controls.raw")
controls = ["--gain", "-4.5", "--stereo-separation", "150", "--mute", "2,5", "--start", "1:05",
            "--interpolation", "cubic"]
p = start([SONG, *controls], disk, delay_ms=0)
code = p.wait(timeout=120)
check(code == 0, f"{' '.join(controls)}: exit 0 (got {code})")
wanted = rendered_samples("controls.wav", *controls)
played = played_after_lead(disk)
check(played[:len(wanted)] == wanted and len(wanted) < len(full) * 2 * 2 // 3,
      f"the device gets xmrender's {len(wanted)} bytes for the same options")
check(played[len(wanted):].count(0) == len(played) - len(wanted),
      "and the song ends at its end, not going round to 1:05 again")
p = start([SONG, "--solo", "7"], os.path.join(WORK, "bad_channel.raw"))
code = p.wait(timeout=10)
err = p.stderr.read()
check(code == 2 and b"no channel 7" in err, f"--solo 7 of 6 channels: exit 2 and why ({err!r})")

# 7. Keys from a pipe: '.' skips 10 s ahead, so the song ends 10 s sooner; '1' to '6' mute
#    every channel, so the rest is silence.
def sounding_frames(samples):
    return len(samples.rstrip(b"\0")) // 4


disk = os.path.join(WORK, "forward.raw")
p = start([SONG], disk, delay_ms=0, stdin=subprocess.PIPE)
p.stdin.write(b".")
p.stdin.flush()
code = p.wait(timeout=120)
p.stdin.close()
whole = sounding_frames(full.tobytes())
shorter = sounding_frames(played_after_lead(disk))
check(code == 0 and abs(whole - shorter - 441000) < 441,
      f"'.' skips 10 s: {whole - shorter} frames fewer (441000 within 10 ms)")
disk = os.path.join(WORK, "muted.raw")
p = start([SONG], disk, delay_ms=0, stdin=subprocess.PIPE)
p.stdin.write(b"123456")
p.stdin.flush()
code = p.wait(timeout=120)
p.stdin.close()
played = played_after_lead(disk)
check(code == 0 and played[len(played) // 4:].count(0) == len(played) - len(played) // 4,
      "'1' to '6' mute every channel: silence from then on")

sys.exit(1 if failures else 0)
