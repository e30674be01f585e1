#!/usr/bin/env python3
"""bvhost's CPU time for a 16-sensor recording, without the live view and
with it open in a headless Chromium page, in alternating runs.

    bench/live_view_cpu.py BVHOST PLUGIN [--seconds 20] [--runs 3]

Counts the user and system time of bvhost alone (its own rusage, threads
included), not the browser's. Prints each run and the ratio of the medians.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "host", "scripts"))
from live_view_in_chromium import Browser  # noqa: E402


def record(args, folder, live):
    command = [args.bvhost, "record", args.plugin, "--seconds", str(args.seconds),
               "--out", os.path.join(folder, "run.bdf")]
    if live:
        command += ["--live", "--port", "0"]
    env = dict(os.environ, ORVANE_SIM_SENSORS="16")
    process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    browser = None
    if live:
        url = re.search(r"http://\S+/", process.stdout.readline()).group(0)
        browser = Browser(1400, 900)
        browser.open(url)
    process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    if browser:
        browser.close()
    if status != 0:
        sys.exit(f"bvhost ended with status {status}")
    return usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bvhost")
    parser.add_argument("plugin")
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    plain, viewed = [], []
    with tempfile.TemporaryDirectory() as folder:
        for run in range(args.runs):
            plain.append(record(args, folder, False))
            viewed.append(record(args, folder, True))
            print(f"run {run + 1}: without the view {plain[-1]:.3f} s CPU, "
                  f"with a page open {viewed[-1]:.3f} s CPU", flush=True)
            time.sleep(1)
    ratio = statistics.median(viewed) / statistics.median(plain)
    print(f"medians: {statistics.median(plain):.3f} s and {statistics.median(viewed):.3f} s "
          f"for {args.seconds:g} s of 16 sensors; the view costs {ratio:.2f}x")


if __name__ == "__main__":
    main()
