#!/usr/bin/python3
"""The CPU a Python script's stream of 16 simulated sensors costs, against
bvhost record writing the same run to BDF+, in alternating runs.

    bench/python_stream_cpu.py BUILD_DIR [--seconds 60] [--runs 3]

BUILD_DIR holds bin/bvhost, bin/libkessra_plugin.so and python/kessra (the
release preset's build/release after make package, or any build). The
script takes every chunk of Session.stream() and does nothing else. Counts
each process's own user and system time, threads included: for Python the
whole process (interpreter, NumPy and kessra imported, connecting) and the
stream alone (from stream() to its last chunk); bvhost's whole process.
Prints each run and the ratios of the medians.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

STREAM = """
import json, resource, sys
import kessra

def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime

with kessra.Session(sys.argv[1]) as session:
    before = cpu()
    frames = 0
    for chunk in session.stream(float(sys.argv[2])):
        frames += chunk.frames
    print(json.dumps({"stream_cpu": cpu() - before, "frames": frames}))
"""


def run(command, env):
    process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, text=True)
    out = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        sys.exit(f"{command[0]} ended with status {status}:\n{out}")
    return usage.ru_utime + usage.ru_stime, out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    bvhost = os.path.join(args.build, "bin", "bvhost")
    plugin = os.path.join(args.build, "bin", "libkessra_plugin.so")
    env = dict(os.environ, ORVANE_SIM_SENSORS="16",
               PYTHONPATH=os.path.join(args.build, "python"))
    recorded, whole, streamed = [], [], []
    with tempfile.TemporaryDirectory() as folder:
        for number in range(args.runs):
            cpu, _ = run([bvhost, "record", plugin, "--seconds", str(args.seconds), "--out",
                          os.path.join(folder, "run.bdf")], env)
            recorded.append(cpu)
            cpu, out = run(["/usr/bin/python3", "-c", STREAM, plugin, str(args.seconds)], env)
            result = json.loads(out.strip().splitlines()[-1])
            whole.append(cpu)
            streamed.append(result["stream_cpu"])
            print(f"run {number + 1}: bvhost record {recorded[-1]:.3f} s CPU; Python "
                  f"{whole[-1]:.3f} s CPU in all, {streamed[-1]:.3f} s of it streaming "
                  f"{result['frames']} frames", flush=True)
            time.sleep(1)
    base = statistics.median(recorded)
    print(f"medians: bvhost record {base:.3f} s, Python in all {statistics.median(whole):.3f} s "
          f"({statistics.median(whole) / base:.2f}x), streaming {statistics.median(streamed):.3f} "
          f"s ({statistics.median(streamed) / base:.2f}x); {args.seconds:g} s of 16 sensors each")


main()
