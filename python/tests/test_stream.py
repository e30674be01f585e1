"""Streams: the chunks of a run are the recording of it, a script too slow
for the device is told and never loses a frame quietly, and Ctrl-C stops
the plug-in cleanly."""
import os
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import kessra


def test_the_chunks_of_a_stream_are_the_recording_of_the_same_run(plugin, simulator):
    # Sensor 1 drops out from frame 40 for 20 frames.
    simulator(SEED=9, SENSORS=2, DROPOUT="1:40:20")
    with kessra.Session(plugin) as session:
        stream = session.stream(seconds=2)
        chunks = list(stream)
        raws = session.record(seconds=2)

    assert [c.frame for c in chunks] == list(np.cumsum([0] + [c.frames for c in chunks])[:-1])
    assert sum(c.frames for c in chunks) == 149  # 2 s in whole 13.5 ms frames, rounded up
    assert all(c.time == c.frame * kessra.FRAME_SECONDS for c in chunks)
    assert stream.rates == tuple(raw.info["sfreq"] for raw in raws)
    assert stream.labels == tuple(tuple(raw.ch_names) for raw in raws)
    for g, raw in enumerate(raws):
        joined = np.concatenate([c.data[g] for c in chunks], axis=1).astype(np.float64)
        joined[[c.type == "emg" for c in stream.channels[g]]] *= 1e-3  # mV in chunks, V in MNE
        np.testing.assert_array_equal(joined, raw.get_data())
    middle = chunks[len(chunks) // 2]
    np.testing.assert_array_equal(middle["S2 GYR Y"], middle.data[1][10])

    # The silence is told as it begins, with the frame after its first (a
    # frame is judged once the next begins), and again with its length with
    # the frame after its end; the stream's time line and the Raw's hold the
    # ended one.
    told = [(range(c.frame, c.frame + c.frames), a) for c in chunks for a in c.annotations]
    assert [note for _, note in told] == [
        kessra.Annotation(0.54, None, "S1 no data"),
        kessra.Annotation(0.54, pytest.approx(0.27), "S1 no data")]
    assert 41 in told[0][0] and 61 in told[1][0]
    assert stream.annotations == [told[1][1]] and stream.frames_lost == 0
    assert [(a["onset"], a["duration"], a["description"]) for a in raws[0].annotations] == [
        (pytest.approx(0.54), pytest.approx(0.27), "S1 no data")]


def test_a_script_slower_than_the_device_is_warned_then_stopped_with_every_frame_kept(
        plugin, simulator, plugin_state):
    simulator(SENSORS=1)
    with kessra.Session(plugin) as session:
        stream = session.stream(warn_lag=0.2, max_lag=0.5)
        time.sleep(1.5)  # busy elsewhere while the device goes on
        taken = []
        with pytest.warns(kessra.LagWarning, match="s behind the device"):
            with pytest.raises(kessra.LagError, match=r"0\.5 s behind the device \(max_lag\)"):
                for chunk in stream:
                    taken.append(chunk)
        assert plugin_state() == 0
    frames = [c.frame for c in taken]
    assert frames == list(np.cumsum([0] + [c.frames for c in taken])[:-1])
    assert sum(c.frames for c in taken) * kessra.FRAME_SECONDS > 0.5


INTERRUPTED = textwrap.dedent("""
    import ctypes, sys
    import kessra

    class Result(ctypes.Structure):
        _fields_ = [("code", ctypes.c_int32), ("message", ctypes.c_char_p)]

    library = ctypes.CDLL(sys.argv[1])
    library.bv_get_state.restype = Result
    state = ctypes.c_int32(-1)
    with kessra.Session(sys.argv[1]) as session:
        frames = 0
        try:
            for chunk in session.stream():
                frames += chunk.frames
                if frames >= 20 and frames - chunk.frames < 20:
                    print("streaming", flush=True)
        except KeyboardInterrupt:
            library.bv_get_state(ctypes.byref(state))
            print("interrupted after", frames, "frames, plug-in state", state.value, flush=True)
""")


def test_ctrl_c_stops_a_stream_cleanly(plugin):
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED, plugin], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=os.environ)
    try:
        assert child.stdout.readline() == "streaming\n", child.stderr.read()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
    finally:
        child.kill()
    assert child.returncode == 0, err
    assert "plug-in state 0" in out and "interrupted after" in out, out + err


def test_a_marker_lands_on_the_frame_it_was_sent_with_and_none_after_the_end(plugin, simulator):
    simulator(SENSORS=1)
    with kessra.Session(plugin) as session:
        with pytest.raises(kessra.Error, match="no recording is running"):
            session.mark("too early")
        stream = session.stream(seconds=2)
        sent = None
        for chunk in stream:
            # Once the device has been streaming a while, as one frame ends.
            if sent is None and chunk.frame >= 60:
                assert session.mark("lift") == "ok"
                sent = chunk.time + chunk.frames * kessra.FRAME_SECONDS
        with pytest.raises(kessra.RefusedError, match="stopped"):
            stream.mark("too late")
    lift = [a for a in stream.annotations if a.description == "lift"]
    assert len(lift) == 1
    # Sent once the chunk's last frame had arrived: never before that
    # frame's end, less the frame the clock allows, and late only by the
    # script's own delay in taking the chunk.
    assert sent - kessra.FRAME_SECONDS <= lift[0].onset <= sent + 0.25
