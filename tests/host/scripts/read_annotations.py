"""Reads the annotations of an EDF+/BDF+ recording with MNE-Python, an
independent reader, one per line: onset, duration and text, tab-separated,
onset and duration in seconds from the first sample with six decimals.

Usage: read_annotations.py FILE
"""
import sys

import mne


def main():
    path = sys.argv[1]
    read = mne.io.read_raw_bdf if path.endswith(".bdf") else mne.io.read_raw_edf
    raw = read(path, preload=False, verbose="error")
    for onset, duration, text in zip(raw.annotations.onset, raw.annotations.duration,
                                     raw.annotations.description):
        print("%.6f\t%.6f\t%s" % (onset, duration, text))


main()
