"""Record and stream the Orvane Kessra EMG sensors from Python.

    import kessra

    with kessra.Session() as s:            # or kessra.Session("path/to/libkessra_plugin.so")
        print(s.sensors)                   # name, SID, battery and channels of each sensor
        raws = s.record(seconds=10)        # MNE Raw objects, one per sampling rate
        for chunk in s.stream(seconds=5):  # one chunk per read, as it arrives
            emg = chunk["S1 EMG"]          # that channel's new samples, in mV

The recording runs in bvhost's recording core, the C++ code that writes
bvhost's EDF+, BDF+ and CSV files, on a thread of its own: the time base,
the handling of a sensor's dropout and the detection of frames lost on the
way are that code's, so a recording holds here exactly what the same run's
BDF+ file holds. Time is counted in the device's frames of 13.5 ms from the
start of the stream; whatever is missing stays a gap at its true time,
zeros in the arrays (as in the files) with an annotation saying what it is:
"S2 no data" where a sensor delivered nothing, "frames lost" where frames
never arrived.

Exceptions: LoadError (the plug-in cannot be loaded), RefusedError (the
plug-in refused a call; the message carries its text), LagError (a stream
ended because the script fell too far behind), all subclasses of
kessra.Error; LagWarning when a script starts falling behind.
"""

import datetime
import os
import pathlib
import weakref

import numpy as np

from . import _core
from ._core import Error, LagError, LagWarning, LoadError, RefusedError

__version__ = _core.__version__
__all__ = [
    "Annotation", "Channel", "Chunk", "Error", "LagError", "LagWarning", "LoadError",
    "RefusedError", "Sensor", "Session", "Stream", "Triggers", "FRAME_SECONDS", "default_plugin",
]

#: The device's frame: a stream's time is counted in these from its start.
FRAME_SECONDS = _core.FRAME_SECONDS

_PLUGIN_NAME = "libkessra_plugin.so"


def default_plugin():
    """The plug-in a Session loads when given none.

    $KESSRA_PLUGIN if set; otherwise the plug-in installed beside this
    package (lib/kessra/ of its prefix, /usr/lib/kessra for the Debian
    packages), or, in a build tree, the one built beside it.
    """
    if os.environ.get("KESSRA_PLUGIN"):
        return os.environ["KESSRA_PLUGIN"]
    here = pathlib.Path(__file__).resolve().parent
    candidates = [
        here.parents[2] / "kessra" / _PLUGIN_NAME,  # <prefix>/lib/python3/dist-packages/kessra
        here.parents[1] / "bin" / _PLUGIN_NAME,  # <build>/python/kessra
    ]
    for candidate in candidates:
        if candidate.exists():
            return str(candidate)
    raise LoadError(
        "no plug-in given and none found at " + " or ".join(str(c) for c in candidates)
        + "; pass the path of " + _PLUGIN_NAME + " or set KESSRA_PLUGIN")


class Annotation(tuple):
    """A note on the stream's time line, as the files write it.

    onset and duration are seconds from the start of the stream;
    description is the files' text ("S2 no data", "frames lost"). duration
    is None while a sensor's silence is still going on: the same onset and
    description come again with the duration once it ends.
    """

    __slots__ = ()

    def __new__(cls, onset, duration, description):
        return tuple.__new__(cls, (onset, duration, description))

    onset = property(lambda self: self[0])
    duration = property(lambda self: self[1])
    description = property(lambda self: self[2])

    def __repr__(self):
        return "Annotation(onset=%r, duration=%r, description=%r)" % self


class Channel:
    """One channel of a sensor.

    label: the name in the files and in MNE, e.g. "S1 EMG"; name: the
    plug-in's name, e.g. "EMG"; unit: as the files write it ("mV", "g",
    "deg/s"); rate: samples per second, the channel's whole number of
    samples per frame over the 13.5 ms frame, as the recording places
    them; type: "emg" for a voltage (the EMG), "misc" for the rest (the
    IMU), the channel type in MNE.
    """

    __slots__ = ("label", "name", "unit", "rate", "type", "_scale")

    def __init__(self, entry, rate):
        self.label = entry["label"]
        self.name = entry["name"]
        self.unit = entry["unit"]
        self.rate = rate
        # MNE holds voltages in volts; anything else stays in its own unit.
        self._scale = {"V": 1.0, "mV": 1e-3}.get(self.unit)
        self.type = "emg" if self._scale is not None else "misc"

    def __repr__(self):
        return "Channel(%r, unit=%r, rate=%.2f, type=%r)" % (
            self.label, self.unit, self.rate, self.type)


class Sensor:
    """One sensor, as the plug-in described it when the session connected.

    name: the plug-in's name for it; label: "S1" for the first, the prefix
    of its channels' labels; sid: its serial (None if not reported);
    battery: its charge in whole percent (None if not reported);
    properties: every property the plug-in reports, as texts; channels:
    its Channel objects.
    """

    __slots__ = ("name", "label", "sid", "battery", "properties", "channels")

    def __init__(self, number, name, properties, channels):
        self.name = name
        self.label = "S%d" % number
        self.properties = dict(properties)
        self.sid = self.properties.get("SID")
        battery = self.properties.get("Battery Percentage", "").rstrip("%").strip()
        self.battery = int(battery) if battery.isdigit() else None
        self.channels = tuple(channels)

    def __repr__(self):
        return "Sensor(%r, name=%r, sid=%r, battery=%r, channels=%d)" % (
            self.label, self.name, self.sid, self.battery, len(self.channels))


class Triggers:
    """The plug-in's three trigger options, all on by default.

    start_input: a trigger on the input starts the recording; stop_input:
    one stops it; output_triggers: the base station signals start and stop
    on its output. They reach the plug-in when it connects: a stream after
    a change connects afresh to apply them, so set them before streaming.
    """

    __slots__ = ("start_input", "stop_input", "output_triggers")

    def __init__(self, start_input=True, stop_input=True, output_triggers=True):
        self.start_input = start_input
        self.stop_input = stop_input
        self.output_triggers = output_triggers

    def __setattr__(self, name, value):
        if not isinstance(value, bool):
            raise TypeError("%s must be True or False, not %r" % (name, value))
        object.__setattr__(self, name, value)

    def _values(self):
        return self.start_input, self.stop_input, self.output_triggers

    def __eq__(self, other):
        return isinstance(other, Triggers) and self._values() == other._values()

    def __repr__(self):
        return "Triggers(start_input=%r, stop_input=%r, output_triggers=%r)" % self._values()


class Chunk:
    """What one read of the stream brought: whole frames, in order.

    frame: the number of its first frame from the start of the stream;
    frames: how many it holds; time: the stream time of its first sample,
    in seconds; data: one 2-D float32 array per rate, in the order of
    Stream.rates, a row per channel (Stream.labels) and frames x samples
    per frame columns, in each channel's own unit (mV for the EMG);
    annotations: the notes that arose with it (Annotation).

    chunk["S1 EMG"] is that channel's row.
    """

    __slots__ = ("frame", "frames", "time", "data", "annotations", "_rows")

    def __init__(self, frame, frames, data, annotations, rows):
        self.frame = frame
        self.frames = frames
        self.time = frame * FRAME_SECONDS
        self.data = data
        self.annotations = annotations
        self._rows = rows

    def __getitem__(self, label):
        try:
            group, row = self._rows[label]
        except KeyError:
            raise KeyError("no channel %r; the labels are %s" % (label, list(self._rows))) from None
        return self.data[group][row]

    def __repr__(self):
        return "<Chunk frame %d, %d frame(s) from %.4f s, %s>" % (
            self.frame, self.frames, self.time, ", ".join(
                "%dx%d" % array.shape for array in self.data))


class Stream:
    """A running stream, as Session.stream() starts it; iterate over it.

    Every chunk the device delivers is kept for the script however slow it
    is, until the script is max_lag seconds behind: then the stream ends,
    and once the script has taken every chunk recorded until then, the
    next one raises LagError. Past warn_lag seconds behind, a LagWarning
    says so first. Ctrl-C while waiting for a chunk stops the stream
    cleanly and raises KeyboardInterrupt.

    Leaving a for loop over it early, close() or the end of a with block
    ends the stream and leaves the plug-in disconnected.
    """

    def __init__(self, run):
        self._run = run
        groups = run.groups
        channels = run.channels
        self.rates = tuple(rate for rate, _, _ in groups)
        self.labels = tuple(tuple(channels[i]["label"] for i in members) for _, _, members in groups)
        self.channels = tuple(
            tuple(Channel(channels[i], rate) for i in members) for rate, _, members in groups)
        self._rows = {label: (g, r) for g, labels in enumerate(self.labels)
                      for r, label in enumerate(labels)}
        self.start = datetime.datetime.fromtimestamp(run.start, tz=datetime.timezone.utc)

    def __iter__(self):
        return self

    def __next__(self):
        try:
            got = self._run.next()
            if got is None:
                raise StopIteration
            frame, frames, data, notes = got
            return Chunk(frame, frames, data, [Annotation(*note) for note in notes], self._rows)
        except (StopIteration, Error):
            raise
        except BaseException:
            # Ctrl-C or a warning made an error: the traceback keeps this
            # stream alive, so it is stopped here, not when it is dropped.
            self._run.stop()
            raise

    def mark(self, text):
        """Puts an event marker ("stimulus on", "trial 12") on the stream's
        time line at this moment, as bvhost record takes one: it comes back
        among the chunks' and the stream's annotations, with its onset on
        the frame clock. Returns the reply ("ok", or "ok" with what was
        changed, such as a text cut to 40 bytes); raises RefusedError with
        the reason for a marker refused: invalid UTF-8, empty, too many
        waiting, the device not yet streaming, or the stream ended.
        """
        return self._run.mark(text)

    def stop(self):
        """Ends the stream before its next read; the chunks recorded until
        then are still to be had, then iteration ends."""
        self._run.stop()

    def close(self):
        """Ends the stream and drops the chunks not yet taken."""
        self._run.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def annotations(self):
        """Every note with its duration known, as the files hold them; the
        whole time line once iteration has ended."""
        return [Annotation(*note) for note in self._run.annotations]

    @property
    def frames_lost(self):
        """Frames that never reached the host, once iteration has ended."""
        return self._run.frames_lost


class Session:
    """The plug-in, loaded and connected, for recordings and streams.

    Session(plugin=None, *, triggers=None): plugin is the path of
    libkessra_plugin.so (default_plugin() when None); triggers a Triggers
    (all on when None). The session connects at once, raising LoadError or
    RefusedError with the plug-in's own text, and reads the sensors.

    Use it in a with block, or call close(): the plug-in is then stopped
    and disconnected, as it is when the session is garbage collected.
    Each record() or stream() is a recording of its own: the plug-in is
    started for it (which takes about a second while the sensors settle)
    and disconnected at its end; the next one connects afresh.
    """

    def __init__(self, plugin=None, *, triggers=None):
        self._triggers = Triggers() if triggers is None else triggers
        if not isinstance(self._triggers, Triggers):
            raise TypeError("triggers must be a kessra.Triggers, not %r" % (triggers,))
        self.plugin = str(plugin) if plugin is not None else default_plugin()
        self._device = _core.Device(self.plugin, *self._triggers._values())

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Stops any stream of this session and disconnects the plug-in."""
        self._device.close()

    @property
    def closed(self):
        """True once close() was called or the with block ended."""
        return self._device.closed

    def _open_device(self):
        if self._device.closed:
            raise ValueError("the session is closed")
        return self._device

    @property
    def name(self):
        """The plug-in's name and version."""
        return "%s %s" % (self._device.plugin_name, self._device.plugin_version)

    @property
    def sensors(self):
        """The sensors (Sensor) as the latest connection found them."""
        device = self._device
        channels = device.channels
        rates = {}
        for rate, _, members in device.groups:
            for i in members:
                rates[i] = rate
        per_sensor = [[] for _ in device.sensors]
        for i, entry in enumerate(channels):
            if i in rates and entry["sensor"] < len(per_sensor):
                per_sensor[entry["sensor"]].append(Channel(entry, rates[i]))
        return [Sensor(n + 1, name, properties, per_sensor[n])
                for n, (name, properties) in enumerate(device.sensors)]

    @property
    def triggers(self):
        """The trigger options (Triggers) the next stream connects with;
        change them in place or assign a Triggers."""
        return self._triggers

    @triggers.setter
    def triggers(self, value):
        if not isinstance(value, Triggers):
            raise TypeError("triggers must be a kessra.Triggers, not %r" % (value,))
        self._triggers = value

    def stream(self, seconds=None, *, warn_lag=1.0, max_lag=60.0):
        """Starts streaming and returns the Stream, an iterator of Chunk.

        seconds: how long, in whole frames rounded up, as bvhost record
        counts it; None: until the stream is stopped, closed, left or
        interrupted. warn_lag and max_lag: how far behind the script may
        fall, in seconds the oldest chunk it has not taken has waited,
        before a LagWarning is given, and before the stream ends with
        LagError (None: no warning, no bound but memory). A stream of this
        session still running is stopped first.
        """
        device = self._open_device()
        seconds, warn_lag, max_lag = (_seconds(seconds), _bound(warn_lag, "warn_lag"),
                                      _bound(max_lag, "max_lag"))
        run = None
        try:
            run = device.stream(seconds, *self._triggers._values(), warn_lag=warn_lag,
                                max_lag=max_lag)
            stream = Stream(run)
            self._current = weakref.ref(stream)
            return stream
        except BaseException:
            # A Ctrl-C as the plug-in started: nothing holds the stream.
            if run is not None:
                run.close()
            raise

    def mark(self, text):
        """Puts an event marker on the time line of the record() or stream()
        running now (record() from another thread); see Stream.mark.
        Raises Error when none is running."""
        current = getattr(self, "_current", None)
        stream = current() if current is not None else None
        if stream is None:
            raise Error("no recording is running: mark() needs a record() or stream() of this "
                        "session")
        return stream.mark(text)

    def record(self, seconds):
        """Records `seconds` and returns a list of mne.io.RawArray, one per
        sampling rate (the EMG's first), as in the files: channel names
        "S1 EMG" and so on, EMG channels of type emg in volts (MNE's unit),
        the IMU's of type misc in their own units (g, deg/s), meas_date the
        start of the stream, and the time line as annotations ("S2 no
        data" for a sensor's dropout, "frames lost", ...), whose spans
        hold zeros. Ctrl-C stops the plug-in cleanly and raises
        KeyboardInterrupt.
        """
        if seconds is None or seconds <= 0:
            raise ValueError("record() needs a time above 0 seconds; stream() runs until stopped")
        import mne

        with self.stream(seconds, warn_lag=None, max_lag=None) as stream:
            parts = [[] for _ in stream.rates]
            for chunk in stream:
                for g, array in enumerate(chunk.data):
                    parts[g].append(array)
            annotations = stream.annotations
        raws = []
        for g, rate in enumerate(stream.rates):
            channels = stream.channels[g]
            data = np.concatenate(parts[g], axis=1).astype(np.float64)
            for row, channel in enumerate(channels):
                if channel._scale is not None and channel._scale != 1.0:
                    data[row] *= channel._scale
            info = mne.create_info([c.label for c in channels], sfreq=rate,
                                   ch_types=[c.type for c in channels], verbose=False)
            info["description"] = "%s, recorded with kessra %s" % (self.name, __version__)
            raw = mne.io.RawArray(data, info, verbose=False)
            raw.set_meas_date(stream.start)
            raw.set_annotations(mne.Annotations(
                [a.onset for a in annotations], [a.duration for a in annotations],
                [a.description for a in annotations], orig_time=stream.start))
            raws.append(raw)
        return raws

    def __repr__(self):
        state = "closed" if self._device.closed else "open"
        return "<kessra.Session %s, %s, %d sensor(s)>" % (
            self.plugin, state, len(self._device.sensors))


def _seconds(seconds):
    if seconds is None:
        return 0.0
    if seconds <= 0:
        raise ValueError("seconds must be above 0, or None to stream until stopped")
    return float(seconds)


def _bound(value, name):
    if value is None:
        return 0.0
    if value <= 0:
        raise ValueError("%s must be above 0 seconds, or None for no bound" % name)
    return float(value)


import atexit  # noqa: E402

atexit.register(_core.close_all)
