"""Reads two EDF+/BDF+ recordings of one seed with MNE-Python, an independent
reader, and tells how they differ: every sample both runs delivered must sit
at the same time in both, and a silence must be flat.

Usage: compare_with_mne.py CLEAN DROPOUT SENSOR FIRST_FRAME FRAMES
Prints one JSON object for the test to judge.
"""
import json
import sys

import mne
import numpy as np

FRAME_SECONDS = 0.0135


def main():
    clean_path, dropout_path = sys.argv[1], sys.argv[2]
    sensor, first, frames = sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
    read = mne.io.read_raw_bdf if clean_path.endswith(".bdf") else mne.io.read_raw_edf
    clean = read(clean_path, preload=True, verbose="error")
    dropout = read(dropout_path, preload=True, verbose="error")
    # MNE resamples every signal to the highest rate; a frame is then a fixed
    # number of its samples on every channel.
    per_frame = int(round(clean.info["sfreq"] * FRAME_SECONDS))
    silent = slice(first * per_frame, (first + frames) * per_frame)
    result = {"channels": 0, "compared": 0, "moved": [], "silence_max_abs": 0.0}
    for name in clean.ch_names:
        a = clean.get_data(picks=[name])[0]
        b = dropout.get_data(picks=[name])[0]
        n = min(len(a), len(b))
        a, b = a[:n], b[:n]
        keep = np.ones(n, dtype=bool)
        if name.startswith(sensor + " "):
            keep[silent] = False
            result["silence_max_abs"] = max(result["silence_max_abs"],
                                            float(np.max(np.abs(b[silent]))))
        result["channels"] += 1
        result["compared"] += int(np.count_nonzero(keep))
        if not np.array_equal(a[keep], b[keep]):
            result["moved"].append(name)
    for key, raw in (("annotations", dropout), ("clean_annotations", clean)):
        result[key] = [[round(float(o), 6), round(float(d), 6), str(t)]
                       for o, d, t in zip(raw.annotations.onset, raw.annotations.duration,
                                          raw.annotations.description)]
    print(json.dumps(result))


main()
