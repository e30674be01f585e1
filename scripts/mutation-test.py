#!/usr/bin/env python3
"""Measures what `bvhost validate` catches: plants each fault of
scripts/mutations.py, one at a time, in a copy of the plug-in's sources,
builds that copy, validates it with a fixed seed and counts the faults that
validate fails. Run through `make mutation`, which builds bvhost first.

Exit status: 0 when at least --require faults are caught, 1 when fewer, 2
when the unchanged copy fails validate or a fault no longer applies."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
from mutations import MUTATIONS  # noqa: E402


def run(command, cwd=None, timeout=None):
    return subprocess.run(command, cwd=cwd, timeout=timeout, capture_output=True, text=True)


def copy_sources(target):
    if os.path.isdir(target):
        shutil.rmtree(target)
    listed = run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=ROOT)
    for name in filter(None, listed.stdout.split("\0")):
        source = os.path.join(ROOT, name)
        if os.path.isfile(source):
            os.makedirs(os.path.join(target, os.path.dirname(name)), exist_ok=True)
            shutil.copy2(source, os.path.join(target, name))


def build(binary_dir):
    result = run(["cmake", "--build", binary_dir, "--target", "kessra_plugin", "OrvaneAPI_Interop"])
    return result.returncode == 0, result.stdout + result.stderr


def validate(bvhost, plugin, seed):
    started = time.monotonic()
    result = run([bvhost, "validate", plugin, "--seed", str(seed)], timeout=600)
    failed = re.findall(r"^FAIL  (\S+)", result.stdout, re.MULTILINE)
    return result.returncode, failed, time.monotonic() - started, result.stdout + result.stderr


def plant(source_dir, path, edits):
    full = os.path.join(source_dir, path)
    with open(full) as f:
        original = f.read()
    text = original
    for old, new in edits:
        if text.count(old) != 1:
            raise SystemExit(f"mutation-test: the fault's text occurs {text.count(old)} times "
                             f"in {path}, not once:\n{old}")
        text = text.replace(old, new)
    with open(full, "w") as f:
        f.write(text)
    return full, original


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bvhost", default=os.path.join(ROOT, "build/default/bin/bvhost"))
    parser.add_argument("--work", default=os.path.join(ROOT, "build/mutation"))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--require", type=int, default=18)
    parser.add_argument("--only", type=int, nargs="*", help="fault numbers to plant (1-based)")
    args = parser.parse_args()

    source_dir = os.path.join(args.work, "source")
    binary_dir = os.path.join(args.work, "build")
    plugin = os.path.join(binary_dir, "bin", "libkessra_plugin.so")
    copy_sources(source_dir)
    configure = run(["cmake", "-S", source_dir, "-B", binary_dir, "-G", "Ninja",
                     "-DCMAKE_BUILD_TYPE=Debug", "-DKESSRA_BUILD_TESTS=OFF"])
    if configure.returncode != 0:
        raise SystemExit("mutation-test: cannot configure the copy:\n" + configure.stderr)

    built, log = build(binary_dir)
    code, failed, seconds, output = validate(args.bvhost, plugin, args.seed) if built else (1, [], 0, log)
    if code != 0:
        print("the unchanged plug-in does not pass validate:\n" + output)
        return 2
    print(f"unchanged plug-in: validate passes in {seconds:.1f} s (seed {args.seed})")

    chosen = args.only or range(1, len(MUTATIONS) + 1)
    caught, survivors = 0, []
    for number in chosen:
        what, path, edits = MUTATIONS[number - 1]
        full, original = plant(source_dir, path, edits)
        try:
            built, log = build(binary_dir)
            if not built:
                print(f"{number:2}. {what}: does not compile\n{log}")
                return 2
            code, failed, seconds, _ = validate(args.bvhost, plugin, args.seed)
        finally:
            with open(full, "w") as f:
                f.write(original)
        if code != 0:
            caught += 1
            print(f"{number:2}. CAUGHT   {what} ({seconds:.1f} s): {', '.join(failed) or 'exit ' + str(code)}")
        else:
            survivors.append(what)
            print(f"{number:2}. SURVIVED {what} ({seconds:.1f} s)")
        sys.stdout.flush()
    build(binary_dir)
    print(f"validate caught {caught} of {len(chosen)} planted faults")
    for what in survivors:
        print(f"  survivor: {what}")
    return 0 if caught >= min(args.require, len(chosen)) else 1


if __name__ == "__main__":
    sys.exit(main())
