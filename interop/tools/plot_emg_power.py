"""Draws the simulated EMG's spectrum for interop/README.md.

Run from the repository root after `cmake --build --preset default`:

    /usr/bin/python3 interop/tools/plot_emg_power.py

It records with build/default/bin/emg_dump, estimates the power spectral
density by Welch's method (Hann window, 256 samples, half overlap) over the
stretches at full effort, prints median and mean frequencies, and writes
interop/emg_power_density.png.
"""
import io
import subprocess
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
from scipy import signal

RATE = 26 / 0.0135
DUMP = sys.argv[1] if len(sys.argv) > 1 else "build/default/bin/emg_dump"
OUT = sys.argv[2] if len(sys.argv) > 2 else "interop/emg_power_density.png"


def record(pattern, seconds, slot):
    text = subprocess.run([DUMP, pattern, str(seconds), str(slot)], check=True,
                          capture_output=True, text=True).stdout
    data = np.loadtxt(io.StringIO(text), delimiter=",")
    return data[:, 0], data[:, 1]


def plateaus(envelope):
    """(start, end) of each stretch at full effort."""
    full = np.concatenate(([0], (envelope == 1.0).astype(int), [0]))
    edges = np.flatnonzero(np.diff(full))
    return list(zip(edges[::2], edges[1::2]))


def welch(emg, stretches):
    """Welch's estimate over the given stretches, weighted by their segments."""
    total, segments = None, 0
    for start, end in stretches:
        if end - start < 256:
            continue
        f, p = signal.welch(emg[start:end], fs=RATE, window="hann", nperseg=256,
                            noverlap=128, detrend=False)
        n = 1 + (end - start - 256) // 128
        total = p * n if total is None else total + p * n
        segments += n
    return f, total / segments


def median_mean(f, p):
    # Interpolated within bins: 7.5 Hz steps are coarser than fatigue's drift.
    edges = np.concatenate(([0.0], f + (f[1] - f[0]) / 2))
    cumulative = np.concatenate(([0.0], np.cumsum(p)))
    return np.interp(cumulative[-1] / 2, cumulative, edges), np.sum(f * p) / np.sum(p)


def main():
    curves = []
    for slot in range(4):
        emg, envelope = record("bursts", 60, slot)
        f, p = welch(emg, plateaus(envelope))
        median, mean = median_mean(f, p)
        share = p[(f >= 50) & (f <= 150)].sum() / p.sum()
        print(f"bursts, sensor {slot + 1}: median {median:.0f} Hz, mean {mean:.0f} Hz, "
              f"{100 * share:.0f} % of the power in 50-150 Hz")
        if slot == 0:
            curves.append((f, p, f"bursts (median {median:.0f} Hz, mean {mean:.0f} Hz)", "C0"))

    emg, envelope = record("sustained", 40, 0)
    start, end = plateaus(envelope)[0]
    five = int(5 * RATE)
    for label, stretch, colour in (("first 5 s", (start, start + five), "C2"),
                                   ("last 5 s", (end - five, end), "C3")):
        f, p = welch(emg, [stretch])
        median, mean = median_mean(f, p)
        print(f"sustained {(end - start) / RATE:.1f} s, {label}: median {median:.0f} Hz, "
              f"mean {mean:.0f} Hz")
        curves.append((f, p, f"sustained, {label} (median {median:.0f} Hz)", colour))

    fig, ax = plt.subplots(figsize=(8, 4.5), dpi=100)
    ax.axvspan(50, 150, color="0.88", label="50-150 Hz, dominant band in the literature")
    # Each curve scaled to unit area: contractions differ in strength, and the
    # shape is what a reader compares.
    for f, p, label, colour in curves:
        ax.plot(f, p / np.trapz(p, f), color=colour, label=label)
    model_f = np.linspace(0, 500, 1001)
    low, high = 50.0, 110.0  # the simulator's characteristic frequencies, unfatigued
    model = high**4 * model_f**2 / ((model_f**2 + low**2) * (model_f**2 + high**2) ** 2)
    ax.plot(model_f, model / np.trapz(model, model_f), "k--", linewidth=1,
            label="model, fl = 50 Hz, fh = 110 Hz (Farina and Merletti 2000)")
    ax.set_xlim(0, 500)
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel("power spectral density, unit area (1/Hz)")
    ax.set_title("Simulated surface EMG at full effort, Welch (Hann, 256 samples, 50 % overlap)")
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(OUT)


if __name__ == "__main__":
    main()
