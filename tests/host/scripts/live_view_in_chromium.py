#!/usr/bin/env python3
"""Opens bvhost's live view in headless Chromium and judges it from the page's
own state (window.liveView), the way a person at the bench would by eye:
traces for every sensor arriving, and a dropout shown at its time.

    live_view_in_chromium.py --bvhost B --plugin P [--sensors N]
        [--dropout SENSOR:FIRST:COUNT] [--seconds S] [--screenshot PNG]
        [--window WIDTHxHEIGHT] [--listen ADDRESS]

Runs `bvhost monitor` on the simulator, waits for the run to end with the
page open, and exits 0 only if every check holds; --screenshot keeps a PNG of
the page as it stood just before the end. With --listen off loopback, the
page is opened at the address printed, token included, which the page must
carry on to its stream. Chromium is driven through its
DevTools protocol over a pipe, so nothing but the standard library is needed.
"""
import argparse
import base64
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

FRAME_PERIOD = 0.0135


class Browser:
    """Headless Chromium, spoken to over --remote-debugging-pipe."""

    def __init__(self, width, height, extra_args=()):
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()
        self.profile = tempfile.mkdtemp(prefix="bvhost-chromium-")

        def wire_pipes():
            # The protocol expects our commands on fd 3 and answers on fd 4.
            high_in, high_out = os.dup(to_browser_read), os.dup(from_browser_write)
            os.dup2(high_in, 3)
            os.dup2(high_out, 4)

        self.process = subprocess.Popen(
            [shutil.which("chromium") or "chromium", "--headless", "--no-sandbox",
             "--disable-gpu", "--remote-debugging-pipe", "--no-first-run",
             "--user-data-dir=" + self.profile,
             f"--window-size={width},{height}", *extra_args, "about:blank"],
            preexec_fn=wire_pipes, close_fds=False,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.next_id = 0
        self.pending = b""
        self.session = None

    def call(self, method, params=None, in_page=True):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if in_page and self.session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                chunk = os.read(self.from_browser, 1 << 16)
                if not chunk:
                    raise RuntimeError("Chromium closed its DevTools pipe")
                self.pending += chunk
            raw, self.pending = self.pending.split(b"\0", 1)
            reply = json.loads(raw)
            if "method" in reply:
                self.on_event(reply)
            elif reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    def on_event(self, event):
        """Called with each event Chromium sends besides its replies."""

    def open(self, url):
        target = self.call("Target.createTarget", {"url": url}, in_page=False)
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": target["targetId"], "flatten": True},
                                 in_page=False)["sessionId"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate",
                           {"expression": expression, "returnByValue": True})
        return result["result"].get("value")

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))

    def close(self):
        self.process.kill()
        self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


STATE = """JSON.stringify({
  link: liveView.link, newestFrame: liveView.newestFrame,
  ended: !!(liveView.status && liveView.status.ended),
  sensors: liveView.sensors.map(s => ({name: s.name, framesWithData: s.framesWithData,
    newestFrame: s.newestFrame, silences: s.silences, silentSince: s.silentSince,
    drawn: s.plots.map(p => p.canvas.width > 0)}))})"""


def page_state(browser):
    text = browser.evaluate("window.liveView && liveView.info ? " + STATE + " : null")
    return json.loads(text) if text else None


def start_monitor(args):
    env = dict(os.environ, ORVANE_SIM_SENSORS=str(args.sensors), ORVANE_SIM_SEED="7")
    if args.dropout:
        env["ORVANE_SIM_DROPOUT"] = args.dropout
    command = [args.bvhost, "monitor", args.plugin, "--seconds", str(args.seconds), "--port", "0"]
    if args.listen:
        command += ["--listen", args.listen]
    monitor = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               text=True)
    first = monitor.stdout.readline()
    # Off loopback the address is this machine's name, which need not
    # resolve here; loopback reaches the same server.
    pattern = (r"http://[^/\s]+:(\d+)/(\?token=[0-9a-f]+)$" if args.listen
               else r"http://127\.0\.0\.1:(\d+)/()$")
    found = re.search(pattern, first.strip())
    if not found:
        monitor.kill()
        sys.exit(f"bvhost monitor printed no address of the expected form: {first!r} "
                 f"{monitor.stderr.read()!r}")
    return monitor, f"http://127.0.0.1:{found.group(1)}/{found.group(2)}"


def judge(state, args):
    """The failures, as texts; none means the page shows what it must."""
    failures = []
    if state is None:
        return ["the page never received the stream's description"]
    if len(state["sensors"]) != args.sensors:
        failures.append(f"{len(state['sensors'])} sensors shown, not {args.sensors}")
    for index, sensor in enumerate(state["sensors"]):
        if sensor["framesWithData"] < 2 / FRAME_PERIOD:
            failures.append(f"S{index + 1}: only {sensor['framesWithData']} frames of traces")
    if args.dropout:
        sensor, first, count = (int(part) for part in args.dropout.split(":"))
        onset, length = first * FRAME_PERIOD, count * FRAME_PERIOD
        silences = state["sensors"][sensor - 1]["silences"]
        near = [s for s in silences
                if abs(s[0] - onset) < 2 * FRAME_PERIOD and abs(s[1] - length) < 2 * FRAME_PERIOD]
        if not near:
            failures.append(f"S{sensor}: no gap at {onset:.3f} s for {length:.3f} s, "
                            f"the page has {silences}")
        for other, entry in enumerate(state["sensors"]):
            if other != sensor - 1 and entry["silences"]:
                failures.append(f"S{other + 1}: gaps {entry['silences']} it never had")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bvhost", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--sensors", type=int, default=4)
    parser.add_argument("--dropout")
    parser.add_argument("--seconds", type=float, default=8)
    parser.add_argument("--screenshot")
    parser.add_argument("--window", default="1400x900")
    parser.add_argument("--listen")
    args = parser.parse_args()
    width, height = (int(part) for part in args.window.split("x"))

    monitor, url = start_monitor(args)
    browser = Browser(width, height)
    state = None
    try:
        browser.open(url)
        # Until the run's last second, then a picture of the page still live.
        deadline = time.monotonic() + args.seconds + 10
        while time.monotonic() < deadline:
            time.sleep(0.25)
            state = page_state(browser) or state
            if state and state["newestFrame"] * FRAME_PERIOD >= args.seconds - 0.6:
                break
        if args.screenshot:
            browser.screenshot(args.screenshot)
        monitor.wait(timeout=30)
        # The run's end reaches the page as the last event of its stream.
        for _ in range(20):
            state = page_state(browser) or state
            if state and state["ended"]:
                break
            time.sleep(0.25)
    finally:
        browser.close()
        if monitor.poll() is None:
            monitor.kill()
    failures = judge(state, args)
    if monitor.returncode != 0:
        failures.append(f"bvhost monitor exited {monitor.returncode}: {monitor.stderr.read()}")
    if state and not state["ended"]:
        failures.append("the page never learned that the run ended")
    print(json.dumps(state, indent=1) if state else "no page state")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
