"""kessra's recordings against bvhost record's BDF+ of the same simulated run,
the file read by MNE-Python: the same samples at the same times, the same
notes, in MNE's units."""
import datetime

import mne
import numpy as np
import pytest

import kessra


def read_bdf(path, labels):
    # Channels of one rate only, so MNE reads them as they are instead of
    # resampling them to the file's highest rate.
    return mne.io.read_raw_bdf(str(path), include=list(labels), preload=True, verbose="error")


def resolution(path):
    """Per label, the file's step in the unit MNE reads it in: the BDF+
    header's physical range over its digital range."""
    with open(path, "rb") as file:
        head = file.read(256)
        count = int(head[252:256])
        fields = file.read(256 * count)

    def field(offset, width):
        start = offset * count
        return [fields[start + i * width:start + (i + 1) * width].decode().strip()
                for i in range(count)]

    labels = field(0, 16)
    units = field(96, 8)
    numbers = [list(map(float, field(offset, 8))) for offset in (104, 112, 120, 128)]
    steps = {}
    for i, label in enumerate(labels):
        physical = numbers[1][i] - numbers[0][i]
        digital = numbers[3][i] - numbers[2][i]
        steps[label] = physical / digital * (1e-3 if units[i] == "mV" else 1.0)
    return steps


def assert_same_samples(raw, from_file, steps, upto=None):
    assert raw.ch_names == from_file.ch_names
    assert raw.info["sfreq"] == pytest.approx(from_file.info["sfreq"], rel=1e-12)
    assert raw.n_times == from_file.n_times
    step = np.array([steps[name] for name in raw.ch_names])[:, None]
    ours, theirs = raw.get_data()[:, :upto], from_file.get_data()[:, :upto]
    worst = np.abs(ours - theirs) / step
    assert worst.max() <= 1.0, "%s differ by %.1f steps of the file, first at sample %d" % (
        raw.ch_names, worst.max(), np.argwhere(worst > 1.0)[0][1])


def notes(raw):
    return [(round(a["onset"], 6), round(a["duration"], 6), a["description"])
            for a in raw.annotations]


def test_a_recording_holds_what_the_file_of_the_same_run_holds(plugin, simulator, record_file):
    # Sensor 2 drops out from frame 74 (0.999 s) for 37 frames (0.4995 s).
    simulator(SEED=5, SENSORS=2, DROPOUT="2:74:37")
    path = record_file(2)
    before = datetime.datetime.now(datetime.timezone.utc)
    with kessra.Session(plugin) as session:
        raws = session.record(seconds=2)
    after = datetime.datetime.now(datetime.timezone.utc)

    emg, imu = raws
    assert emg.ch_names == ["S1 EMG", "S2 EMG"]
    assert emg.get_channel_types() == ["emg", "emg"]
    assert imu.ch_names[:6] == ["S1 ACC X", "S1 ACC Y", "S1 ACC Z", "S1 GYR X", "S1 GYR Y",
                                "S1 GYR Z"]
    assert set(imu.get_channel_types()) == {"misc"} and len(imu.ch_names) == 12
    assert emg.info["sfreq"] == pytest.approx(26 / kessra.FRAME_SECONDS)
    assert before <= emg.info["meas_date"] <= after
    assert imu.info["meas_date"] == emg.info["meas_date"]

    steps = resolution(path)
    for raw in raws:
        assert_same_samples(raw, read_bdf(path, raw.ch_names), steps)
    from_file = read_bdf(path, emg.ch_names)
    assert notes(emg) == notes(from_file) == [(0.999, 0.4995, "S2 no data")]
    assert notes(imu) == notes(emg)
    # The silence holds zeros, as the file does, and nothing around it.
    first, last = 74 * 26, (74 + 37) * 26
    s2 = emg.get_data(picks="S2 EMG")[0]
    assert not s2[first:last].any()
    assert s2[first - 26:first].any() and s2[last:last + 26].any()


def test_a_link_outage_is_a_gap_where_the_file_has_it(plugin, simulator, record_file):
    # Every sensor's link drops from frame 111 (1.4985 s) for 37 frames.
    simulator(SEED=8, SENSORS=1, OUTAGE="111:37")
    path = record_file(3)
    with kessra.Session(plugin) as session:
        emg = session.record(seconds=3)[0]
    from_file = read_bdf(path, emg.ch_names)

    def lost(raw):
        found = [a for a in raw.annotations if a["description"].startswith("frames lost")]
        assert len(found) == 1, raw.annotations
        return found[0]["onset"], found[0]["duration"]

    # Where the host's clock puts lost frames can move by a frame or two on
    # a loaded machine, in either run.
    frames = kessra.FRAME_SECONDS * 3
    (onset, duration), (file_onset, file_duration) = lost(emg), lost(from_file)
    assert onset == pytest.approx(file_onset, abs=frames)
    assert duration == pytest.approx(file_duration, abs=frames)
    assert onset == pytest.approx(1.4985, abs=frames)
    first = round(onset / kessra.FRAME_SECONDS) * 26
    count = round(duration / kessra.FRAME_SECONDS) * 26
    signal = emg.get_data()[0]
    assert count > 0 and not signal[first:first + count].any() and signal[first + count:].any()
    # Up to the earlier of the two gaps, both runs hold the same frames.
    upto = round(min(onset, file_onset) / kessra.FRAME_SECONDS) * 26
    assert_same_samples(emg, from_file, resolution(path), upto=upto)
