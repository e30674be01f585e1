"""Reads a clean BDF+ recording and one of the same seed that lost frames
upstream with MNE-Python, an independent reader, and tells where each of the
second's frames truly belongs: every frame of EMG is noise no other frame
repeats, so it is found in the clean run by its samples alone.

Usage: compare_lost_frames.py CLEAN LOSSY
Prints one JSON object for the test to judge: per frame of the lossy file,
how many frames it sits from its true place (0 = in place), the frames that
hold no real data (gaps), and the annotations.
"""
import json
import sys

import mne
import numpy as np

FRAME_SECONDS = 0.0135


def frames_of(raw, channel):
    data = raw.get_data(picks=[channel])[0]
    per_frame = int(round(raw.info["sfreq"] * FRAME_SECONDS))
    count = len(data) // per_frame
    return [data[i * per_frame:(i + 1) * per_frame].tobytes() for i in range(count)]


def main():
    clean = mne.io.read_raw_bdf(sys.argv[1], preload=True, verbose="error")
    lossy = mne.io.read_raw_bdf(sys.argv[2], preload=True, verbose="error")
    channel = "S1 EMG"
    where = {frame: index for index, frame in enumerate(frames_of(clean, channel))}
    offsets, gaps = [], []
    for index, frame in enumerate(frames_of(lossy, channel)):
        if frame in where:
            offsets.append(where[frame] - index)
        else:
            offsets.append(None)
            gaps.append(index)
    placed = [o for o in offsets if o is not None]
    result = {
        "frames": len(offsets),
        "clean_frames": len(where),
        "gap_frames": len(gaps),
        "first_gap": gaps[0] if gaps else None,
        "last_gap": gaps[-1] if gaps else None,
        "largest_offset": max((abs(o) for o in placed), default=0),
        "offset_after_gap": offsets[gaps[-1] + 1] if gaps and gaps[-1] + 1 < len(offsets) else None,
        "annotations": [[round(float(o), 4), round(float(d), 4), str(t)]
                        for o, d, t in zip(lossy.annotations.onset, lossy.annotations.duration,
                                           lossy.annotations.description)],
    }
    print(json.dumps(result))


main()
