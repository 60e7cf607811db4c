#!/usr/bin/env python3
"""Holds renders of the same modules against a reference render by sound.

  compare_sound.py [--seconds S] REF_DIR NAME=DIR [NAME=DIR ...]

Every DIR holds one 16-bit or float WAV per module, named as in REF_DIR (for example the
reference's renders in REF_DIR and ours, libxmp's and libopenmpt's in the others). For each
module and player it compares the first S seconds (30 by default) with the reference's by their
log-power spectrograms, left and right side by side so that panning counts: each side is cut
into 2048-frame windows every 512 frames, values more than 80 dB below the reference's loudest
are raised to that floor (noise far below the music is not compared), and the player's
spectrogram is shifted by up to 0.5 s to where it best lines up with the reference's energy
over time (players may start or end a tick apart); the score is the Pearson correlation of the
two aligned spectrograms (1.0: the same sound, level aside). Where both are shorter than S
seconds the shorter length is compared.

It prints one line per module with every player's score and the closest player, then per
player the median, the lowest score and on how many modules it is the closest. Needs numpy.
"""
import os
import sys
import wave

import numpy as np

WINDOW = 2048
HOP = 512
MAX_SHIFT_SECONDS = 0.5


def read_sides(path, seconds):
    with wave.open(path, "rb") as w:
        rate, channels, width = w.getframerate(), w.getnchannels(), w.getsampwidth()
        frames = w.readframes(min(w.getnframes(), int(seconds * rate)))
    if width == 2:
        data = np.frombuffer(frames, dtype="<i2").astype(np.float64) / 32768.0
    elif width == 4:
        data = np.frombuffer(frames, dtype="<f4").astype(np.float64)
    else:
        raise ValueError(f"{path}: {8 * width}-bit samples")
    data = data.reshape(-1, channels)
    if channels == 1:
        data = np.concatenate([data, data], axis=1)
    return data[:, :2], rate


def log_spectrogram(signal):
    if len(signal) < WINDOW:
        signal = np.pad(signal, (0, WINDOW - len(signal)))
    count = 1 + (len(signal) - WINDOW) // HOP
    window = np.hanning(WINDOW)
    frames = np.stack([signal[i * HOP:i * HOP + WINDOW] * window for i in range(count)])
    return np.log10(np.abs(np.fft.rfft(frames, axis=1)) ** 2 + 1e-10)


def best_shift(a, b, limit):
    """The shift of b (in windows) whose energy envelope lines up best with a's."""
    ea, eb = a.mean(axis=1), b.mean(axis=1)
    best, best_score = 0, -np.inf
    for shift in range(-limit, limit + 1):
        x = ea[max(0, shift):]
        y = eb[max(0, -shift):]
        n = min(len(x), len(y))
        if n < 8:
            continue
        score = np.corrcoef(x[:n], y[:n])[0, 1]
        if np.isfinite(score) and score > best_score:
            best, best_score = shift, score
    return best


FLOOR_BELOW_LOUDEST = 8.0  # 80 dB in log10 units of power


def stereo_spectrogram(sides):
    return np.concatenate([log_spectrogram(sides[:, 0]), log_spectrogram(sides[:, 1])], axis=1)


def similarity(reference, other, rate):
    a, b = stereo_spectrogram(reference), stereo_spectrogram(other)
    floor = a.max() - FLOOR_BELOW_LOUDEST
    a, b = np.maximum(a, floor), np.maximum(b, floor)
    shift = best_shift(a, b, int(MAX_SHIFT_SECONDS * rate / HOP))
    a = a[max(0, shift):]
    b = b[max(0, -shift):]
    n = min(len(a), len(b))
    x, y = a[:n].ravel(), b[:n].ravel()
    if n == 0 or x.std() == 0 or y.std() == 0:
        return float("nan")
    return float(np.corrcoef(x, y)[0, 1])


def main():
    args = sys.argv[1:]
    seconds = 30.0
    if len(args) >= 2 and args[0] == "--seconds":
        seconds = float(args[1])
        args = args[2:]
    if len(args) < 2:
        print(__doc__)
        return 2
    reference_dir = args[0]
    players = [a.split("=", 1) for a in args[1:]]
    names = sorted(f for f in os.listdir(reference_dir) if f.endswith(".wav"))
    scores = {name: [] for name, _ in players}
    closest = {name: 0 for name, _ in players}
    print(f"{'module':32} " + " ".join(f"{n:>10}" for n, _ in players) + "  closest")
    for module in names:
        reference, rate = read_sides(os.path.join(reference_dir, module), seconds)
        row = {}
        for name, folder in players:
            path = os.path.join(folder, module)
            if not os.path.exists(path):
                row[name] = float("nan")
                continue
            other, other_rate = read_sides(path, seconds)
            row[name] = similarity(reference, other, rate) if other_rate == rate else float("nan")
        valid = {n: s for n, s in row.items() if np.isfinite(s)}
        best = max(valid, key=valid.get) if valid else "-"
        if best != "-":
            closest[best] += 1
        for n, s in row.items():
            if np.isfinite(s):
                scores[n].append(s)
        print(f"{module[:32]:32} " + " ".join(f"{row[n]:10.4f}" for n, _ in players) + f"  {best}")
    print()
    print(f"{'player':12} {'modules':>7} {'median':>8} {'lowest':>8} {'closest':>8}")
    for name, _ in players:
        s = scores[name]
        median = float(np.median(s)) if s else float("nan")
        lowest = float(np.min(s)) if s else float("nan")
        print(f"{name:12} {len(s):7d} {median:8.4f} {lowest:8.4f} {closest[name]:8d}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
