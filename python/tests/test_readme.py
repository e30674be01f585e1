"""The README's two kessra examples, run as printed there, so they cannot
drift from the module."""
import os
import pathlib
import re
import subprocess
import sys

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def snippet(name):
    text = README.read_text()
    found = re.search(r"<!-- readme-%s-snippet -->\n```python\n(.*?)```" % name, text, re.S)
    assert found, "README has no marked %s snippet" % name
    return found.group(1)


def run(name, tmp_path, plugin):
    (tmp_path / "build").mkdir(exist_ok=True)
    env = dict(os.environ, MPLBACKEND="Agg", KESSRA_PLUGIN=plugin, ORVANE_SIM_SENSORS="2")
    done = subprocess.run([sys.executable, "-c", snippet(name)], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=90)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def test_ten_seconds_into_mne_and_a_plot_of_the_envelope(tmp_path, plugin):
    out = run("kessra-record", tmp_path, plugin)
    assert "RawArray | 2 x 19266 (10.0 s)" in out
    assert "Sensor('S2'" in out
    assert (tmp_path / "build" / "emg_envelope.png").stat().st_size > 10000


def test_a_real_time_loop_prints_each_sensors_activation(tmp_path, plugin):
    lines = run("kessra-stream", tmp_path, plugin).splitlines()
    assert len(lines) >= 19, lines
    pattern = re.compile(r"^ *\d+\.\d\d s S1 (ACTIVE|rest  ) \d\.\d{3} mV S2 (ACTIVE|rest  ) ")
    assert all(pattern.match(line) for line in lines), lines
    # The simulated muscles contract every couple of seconds and rest between.
    assert any("S1 ACTIVE" in line for line in lines) and any("S1 rest" in line for line in lines)
