"""What kessra's tests share: the plug-in and bvhost under test (ctest names
them in KESSRA_TEST_PLUGIN and KESSRA_TEST_BVHOST), the simulator's settings,
and the plug-in's state read through a handle of the test's own."""
import ctypes
import os
import pathlib
import subprocess

import pytest

import kessra


@pytest.fixture(scope="session")
def plugin():
    return os.environ.get("KESSRA_TEST_PLUGIN") or kessra.default_plugin()


@pytest.fixture(scope="session")
def bvhost(plugin):
    path = os.environ.get("KESSRA_TEST_BVHOST") or str(pathlib.Path(plugin).parent / "bvhost")
    return path


@pytest.fixture
def simulator(monkeypatch):
    """simulator(SEED=5, SENSORS=2, ...) sets ORVANE_SIM_*, read on connecting."""
    for name in list(os.environ):
        if name.startswith("ORVANE_SIM_"):
            monkeypatch.delenv(name)

    def settle(**settings):
        for name, value in settings.items():
            monkeypatch.setenv("ORVANE_SIM_" + name, str(value))

    return settle


@pytest.fixture
def record_file(bvhost, plugin, tmp_path):
    """record_file(seconds) -> the path of bvhost record's BDF+ of that run."""

    def record(seconds):
        path = tmp_path / "bvhost.bdf"
        run = subprocess.run([bvhost, "record", plugin, "--seconds", str(seconds), "--out",
                              str(path)], capture_output=True, text=True, timeout=60)
        # 7: frames were lost upstream, which the file marks; the run is complete.
        assert run.returncode in (0, 7), run.stdout + run.stderr
        return path

    return record


class PluginResult(ctypes.Structure):
    _fields_ = [("code", ctypes.c_int32), ("message", ctypes.c_char_p)]


@pytest.fixture
def plugin_state(plugin):
    """plugin_state() -> bv_get_state's answer (0 disconnected, 1 connected,
    2 streaming), through a handle of the test's own: the library stays
    loaded, with its state, whatever kessra lets go."""
    library = ctypes.CDLL(plugin)
    library.bv_get_state.restype = PluginResult
    library.bv_get_state.argtypes = [ctypes.POINTER(ctypes.c_int32)]

    def state():
        value = ctypes.c_int32(-1)
        result = library.bv_get_state(ctypes.byref(value))
        assert result.code == 0, result.message
        return value.value

    return state


@pytest.fixture
def simulator_query(plugin):
    """simulator_query("@simulator/triggers") -> the simulated station's answer,
    from the interop library the plug-in has loaded beside it."""
    interop = pathlib.Path(plugin).resolve().parent / "libOrvaneAPI_Interop.so"
    symbols = subprocess.run(["nm", "-D", "--defined-only", str(interop)], capture_output=True,
                             text=True, check=True).stdout
    name = next(line.split()[-1] for line in symbols.splitlines() if "orvane_infoRequest" in line)
    function = getattr(ctypes.CDLL(str(interop)), name)
    function.restype = ctypes.c_char_p
    function.argtypes = [ctypes.c_char_p, ctypes.c_int32]

    def query(identifier):
        return function(ctypes.create_string_buffer(identifier.encode()), 0).decode()

    return query
