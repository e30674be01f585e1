"""Sessions: the sensors and trigger options as the plug-in has them, its
refusals raised with its own text, and the plug-in disconnected however a
session ends."""
import gc

import pytest

import kessra


def test_the_sensors_and_their_channels_are_the_plugins(plugin, simulator):
    simulator(SENSORS=3)
    with kessra.Session(plugin) as session:
        sensors = session.sensors
    assert [s.label for s in sensors] == ["S1", "S2", "S3"]
    assert sensors[2].name.startswith("Orvane Kessra Sensor 3")
    assert len({s.sid for s in sensors}) == 3 and all(s.sid.startswith("KS-") for s in sensors)
    assert all(70 <= s.battery <= 100 for s in sensors)
    assert sensors[0].properties["SID"] == sensors[0].sid
    channels = sensors[1].channels
    assert [c.label for c in channels] == ["S2 EMG", "S2 ACC X", "S2 ACC Y", "S2 ACC Z",
                                           "S2 GYR X", "S2 GYR Y", "S2 GYR Z"]
    assert [c.unit for c in channels] == ["mV", "g", "g", "g", "deg/s", "deg/s", "deg/s"]
    assert [c.type for c in channels] == ["emg"] + ["misc"] * 6
    assert channels[0].rate == pytest.approx(26 / kessra.FRAME_SECONDS)
    assert channels[1].rate == pytest.approx(2 / kessra.FRAME_SECONDS)


def test_the_trigger_options_reach_the_plugin_when_it_connects(plugin, simulator_query):
    with kessra.Session(plugin, triggers=kessra.Triggers(stop_input=False)) as session:
        assert "start_input=true stop_input=false output_triggers=true" in simulator_query(
            "@simulator/triggers")
        session.triggers.output_triggers = False
        with pytest.raises(TypeError):
            session.triggers.start_input = "no"
        # The station forgets them once disconnected: asked while streaming.
        for _ in session.stream():
            applied = simulator_query("@simulator/triggers")
            break
        assert "start_input=true stop_input=false output_triggers=false" in applied


def test_a_refusal_raises_with_the_plugins_text(plugin, tmp_path):
    with kessra.Session(plugin):
        # The plug-in holds one connection at a time.
        with pytest.raises(kessra.RefusedError,
                           match='^bv_connect failed: code 1 "Device already connected"$'):
            kessra.Session(plugin)
    missing = tmp_path / "libkessra_plugin.so"
    with pytest.raises(kessra.LoadError, match=str(missing)) as raised:
        kessra.Session(missing)
    assert isinstance(raised.value, kessra.Error)


def test_every_way_a_session_ends_leaves_the_plugin_disconnected(plugin, simulator,
                                                                 plugin_state):
    simulator(SENSORS=1)
    # Dropped, connected, without close().
    session = kessra.Session(plugin)
    assert plugin_state() == 1
    del session
    gc.collect()
    assert plugin_state() == 0

    # Dropped while a stream it started is still running and held.
    session = kessra.Session(plugin)
    stream = session.stream()
    next(stream)
    assert plugin_state() == 2
    del session
    gc.collect()
    assert plugin_state() == 0
    del stream

    # An exception inside the with block, in the middle of a stream.
    with pytest.raises(ZeroDivisionError):
        with kessra.Session(plugin) as session:
            for chunk in session.stream():
                chunk.frames / 0
    assert plugin_state() == 0
    with pytest.raises(ValueError, match="closed"):
        session.stream()

    # A loop left early, the session still open; a stream dropped unread.
    with kessra.Session(plugin) as session:
        for _ in session.stream():
            break
        assert plugin_state() == 0
        session.stream()
        assert plugin_state() == 0
        # A new stream stops the one still held.
        held = session.stream()
        assert plugin_state() == 2
        # Long enough to be still streaming once held is read out, however
        # slowly a loaded machine reads it.
        again = session.stream(seconds=3)
        list(held)  # ends, with what it recorded before the stop
        assert plugin_state() == 2
        list(again)
    assert plugin_state() == 0
