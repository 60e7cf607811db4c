#!/usr/bin/env python3
"""xmplay on a pseudo-terminal with SDL's disk audio driver: what it plays against xmrender, the
status line and its width, the keys, and the terminal settings after q and after Ctrl-C.

Arguments: xmplay, xmrender, a module, a scratch folder."""
import fcntl
import os
import re
import select
import struct
import subprocess
import sys
import termios
import time

XMPLAY, XMRENDER, SONG, WORK = sys.argv[1:5]
STATUS = re.compile(rb"order (\d+)/(\d+) row (\d+)  (\d+):(\d+) / (\d+):(\d+) \[[#.]+\]( vol (\d+)%)?( paused)?")
VOLUME = 9
PAUSED = 10
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


class Session:
    """xmplay as the foreground program of its own terminal."""

    def __init__(self, args, disk_file, delay_ms=None, columns=80):
        self.master, self.slave = os.openpty()
        self.resize(columns)
        self.settings_before = termios.tcgetattr(self.slave)
        env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=disk_file)
        if delay_ms is not None:
            env["SDL_DISKAUDIODELAY"] = str(delay_ms)

        def own_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.proc = subprocess.Popen([XMPLAY] + args, stdin=self.slave, stdout=self.slave,
                                     stderr=self.slave, env=env, preexec_fn=own_terminal)
        self.output = b""

    def read_for(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if ready:
                try:
                    self.output += os.read(self.master, 65536)
                except OSError:
                    break
        return self.output

    def resize(self, columns):
        """The terminal's width; the kernel sends SIGWINCH to the program in it."""
        fcntl.ioctl(self.master, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))

    def status_widths(self, since=0):
        """The columns each drawn status line takes: the text between a carriage return and the
        erase-to-end-of-line that follows it."""
        return [len(m.group(1)) for m in re.finditer(rb"\r([^\r\n\x1b]*)\x1b\[K", self.output[since:])]

    def statuses(self, since=0):
        return [m for m in STATUS.finditer(self.output, since)]

    def send(self, keys):
        os.write(self.master, keys)

    def finish(self, timeout=30):
        end = time.monotonic() + timeout
        while self.proc.poll() is None and time.monotonic() < end:
            self.read_for(0.1)
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.read_for(0.2)
        settings_after = termios.tcgetattr(self.slave)
        os.close(self.master)
        os.close(self.slave)
        return self.proc.returncode, settings_after

    def echo_is_off(self):
        return termios.tcgetattr(self.slave)[3] & termios.ECHO == 0


def seconds_of(match):
    return int(match.group(4)) * 60 + int(match.group(5))


os.makedirs(WORK, exist_ok=True)

# 1. What it plays is what xmrender renders, for the same profile and rate; then the terminal is
#    as it was. The disk driver without delay runs as fast as the player renders.
for profile, rate in (("ft2", "44100"), ("demo", "48000")):
    disk = os.path.join(WORK, f"played_{profile}_{rate}.raw")
    wav = os.path.join(WORK, f"rendered_{profile}_{rate}.wav")
    subprocess.run([XMRENDER, SONG, wav, "--profile", profile, "--rate", rate], check=True)
    s = Session(["--profile", profile, "--rate", rate, SONG], disk, delay_ms=0)
    code, after = s.finish(timeout=60)
    check(code == 0, f"{profile} {rate}: plays to the end and exits 0 (got {code})")
    check(after == s.settings_before, f"{profile} {rate}: terminal settings restored")
    with open(disk, "rb") as f:
        played = f.read()
    with open(wav, "rb") as f:
        rendered = f.read()[44:]
    # SDL writes silence for as long as the device is paused, before playback starts: whole
    # device buffers of 1024 frames.
    lead = 0
    while played[lead:lead + 4096] == bytes(4096) and played[lead:lead + len(rendered)] != rendered:
        lead += 4096
    check(played[lead:lead + len(rendered)] == rendered,
          f"{profile} {rate}: the device got xmrender's {len(rendered)} bytes"
          f" (after {lead // 4} frames of silence)")
    check(played[lead + len(rendered):].count(0) == len(played) - lead - len(rendered),
          f"{profile} {rate}: only silence after the song")

# 2. In real time: the status line advances, the keys act, q quits and restores the terminal.
disk = os.path.join(WORK, "keys.raw")
s = Session([SONG, SONG], disk)
s.read_for(1.5)
check(s.echo_is_off(), "echo is off while playing")
seen = s.statuses()
check(len(seen) >= 5, f"status lines drawn ({len(seen)} in 1.5 s)")
if len(seen) >= 2:
    first, last = seen[0], seen[-1]
    check((int(last.group(1)), int(last.group(3))) > (int(first.group(1)), int(first.group(3))),
          "the status line's order/row advances")
    check(last.group(6) == b"1" and last.group(7) == b"40", "the total time is the song's 1:40")
mark = len(s.output)
s.send(b"\x1b[C")
s.read_for(0.6)
after_next = s.statuses(mark)
check(after_next and int(after_next[-1].group(1)) == 1, "right arrow goes to order 1")
check(after_next and seconds_of(after_next[-1]) >= 11,
      "the time jumps to order 1's start (0:11)")
mark = len(s.output)
s.send(b"\x1b[D")
s.read_for(0.6)
after_prev = s.statuses(mark)
check(after_prev and int(after_prev[-1].group(1)) == 0, "left arrow goes back to order 0")
mark = len(s.output)
s.send(b" ")
s.read_for(0.6)
paused = s.statuses(mark)
check(paused and paused[-1].group(PAUSED) == b" paused", "space pauses")
held = paused[-1].group(0) if paused else b""
s.read_for(0.6)
check(s.statuses(mark)[-1].group(0) == held, "nothing moves while paused")
mark = len(s.output)
s.send(b" ")
s.read_for(0.6)
resumed = s.statuses(mark)
check(resumed and resumed[-1].group(PAUSED) is None, "space again resumes")
mark = len(s.output)
s.send(b"+")
s.read_for(0.4)
louder = s.statuses(mark)
check(louder and louder[-1].group(VOLUME) == b"110", "+ turns the volume up to 110 %")
s.send(b"--")
s.read_for(0.4)
softer = s.statuses(mark)
check(softer and softer[-1].group(VOLUME) == b"90", "- twice turns it down to 90 %")
mark = len(s.output)
s.send(b"n")
s.read_for(1.0)
check(s.output.count(SONG.encode() + b": ") == 2, "n starts the next file")
s.send(b"p")
s.read_for(1.0)
check(s.output.count(SONG.encode() + b": ") == 3, "p starts the previous file again")
s.send(b"q")
code, after = s.finish()
check(code == 0, f"q quits with 0 (got {code})")
check(after == s.settings_before, "terminal settings restored after q")

# 3. The status line fits the terminal: 80 columns playing and paused, then 40 after the
#    terminal shrinks (SIGWINCH), then 24, never wrapping into a second line.
s = Session([SONG], os.path.join(WORK, "width.raw"), columns=80)
s.read_for(1.0)
s.send(b" ")
s.read_for(0.5)
widths = s.status_widths()
check(widths and max(widths) <= 79, f"80 columns, playing and paused: widest line {max(widths or [0])}")
check(s.statuses() and s.statuses()[-1].group(PAUSED) == b" paused", "80 columns: the pause shows")
for columns in (40, 24):
    s.resize(columns)
    s.read_for(0.3)  # lines drawn before the signal was seen
    mark = len(s.output)
    s.read_for(0.5)
    widths = s.status_widths(mark)
    check(widths and max(widths) <= columns - 1,
          f"{columns} columns after SIGWINCH: widest line {max(widths or [0])}")
s.send(b"q")
s.finish()

# 4. A background job of a shell with job control: it reads no keys, leaves the terminal's
#    settings alone (changing them would stop it, SIGTTOU) and plays on until SIGTERM.
master, slave = os.openpty()
before = termios.tcgetattr(slave)


def shell_terminal():
    os.setsid()
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


shell = subprocess.Popen(
    ["sh", "-c", 'set -m; "$0" "$1" & echo "$!" >"$2"; sleep 2; '
                 'ps -o stat= -p "$(cat "$2")" >"$2.state"; kill -TERM "$(cat "$2")"; wait "$!"; '
                 'echo "$?" >"$2.code"',
     XMPLAY, SONG, os.path.join(WORK, "background.pid")],
    stdin=slave, stdout=slave, stderr=slave, preexec_fn=shell_terminal,
    env=dict(os.environ, SDL_AUDIODRIVER="disk",
             SDL_DISKAUDIOFILE=os.path.join(WORK, "background.raw")))
end = time.monotonic() + 20
while shell.poll() is None and time.monotonic() < end:
    if select.select([master], [], [], 0.1)[0]:
        try:
            os.read(master, 65536)
        except OSError:
            break
if shell.poll() is None:
    shell.kill()
shell.wait()
state = open(os.path.join(WORK, "background.pid.state")).read().strip() if os.path.exists(
    os.path.join(WORK, "background.pid.state")) else "?"
code = open(os.path.join(WORK, "background.pid.code")).read().strip() if os.path.exists(
    os.path.join(WORK, "background.pid.code")) else "?"
check(not state.startswith("T"), f"in the background it is not stopped (state {state})")
check(code == "143", f"in the background SIGTERM ends it with 143 (got {code})")
check(termios.tcgetattr(slave) == before, "in the background the terminal settings stay")
os.close(master)
os.close(slave)

# 5. Ctrl-C: the terminal's interrupt character, exit code 130, terminal restored.
s = Session([SONG], os.path.join(WORK, "interrupt.raw"))
s.read_for(0.8)
check(s.echo_is_off(), "echo is off before Ctrl-C")
s.send(b"\x03")
code, after = s.finish()
check(code == 130, f"Ctrl-C ends with 130 (got {code})")
check(after == s.settings_before, "terminal settings restored after Ctrl-C")

# 6. A file that cannot be loaded: its line, the next file still plays, exit code 2.
s = Session([WORK, SONG], os.path.join(WORK, "bad.raw"), delay_ms=0)
code, _ = s.finish(timeout=60)
check(b"xmplay: cannot read " + WORK.encode() + b": Is a directory" in s.output,
      "a directory gets the shared failure line")
check(code == 2, f"exit code 2 after an unreadable file (got {code})")
check(s.output.count(SONG.encode() + b": ") == 1, "the file after it still plays")

# 7. No audio device.
proc = subprocess.run([XMPLAY, SONG], env=dict(os.environ, SDL_AUDIODRIVER="no-such-driver"),
                      stdin=subprocess.DEVNULL, capture_output=True)
check(proc.returncode == 1, f"no audio device: exit code 1 (got {proc.returncode})")
check(proc.stderr.startswith(b"xmplay: no audio device: "), "no audio device: one clear line")

sys.exit(1 if failures else 0)
