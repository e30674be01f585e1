#!/usr/bin/env python3
"""Uses the live view's marker box in headless Chromium, as the person at the
bench does, and tries to post markers from another site, as any web page the
same browser has open could.

    live_markers_in_chromium.py --program P [--screenshot PNG]

P is tests/host/live/live_marker_page.cpp built: a stand-in recording that
serves the page, places its own marker "stimulus on" at 1 s, prints
"posted: TEXT" for every marker its post is given and places it back on the
page. Checks, each judged from the page's DOM and what P printed:
  - the recording's own marker is listed on the page;
  - a marker typed into the box and sent with Enter reaches P, the page shows
    bvhost's reply, clears the box, and lists the marker once P placed it;
  - a refusal by the recording is shown as such;
  - the page's own origin with a wrong token is refused;
  - a page of another site (evil.example, resolved to this machine) posting
    with no token, through fetch and through a form, or with a made-up token
    after asking, gets nothing to P;
  - once P ends, the page says so and its box takes no more.
Exits 0 only if every check holds.
"""
import argparse
import http.server
import json
import os
import re
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from live_view_in_chromium import Browser  # noqa: E402

OTHER_SITE = """<!doctype html>
<title>another site</title>
<iframe name="sink"></iframe>
<form id="form" method="post" action="LIVE/marker" enctype="text/plain" target="sink">
<input name='{"text":"from a form on another site","x":"' value='"}'>
</form>
<script>
// What any page can do without the live page's token: a request a form
// could send, a form itself, and one that must ask first.
const live = "LIVE", results = {};
async function attempt() {
  try {
    const answer = await fetch(live + "/marker", { method: "POST", mode: "no-cors",
      headers: { "Content-Type": "text/plain" },
      body: JSON.stringify({ text: "from another site without asking" }) });
    results.noCors = answer.type;
  } catch (error) { results.noCors = "failed: " + error; }
  try {
    const answer = await fetch(live + "/marker", { method: "POST",
      headers: { "Content-Type": "application/json", "X-Marker-Token": "0".repeat(48) },
      body: JSON.stringify({ text: "from another site after asking" }) });
    results.asked = "answered " + answer.status;
  } catch (error) { results.asked = "failed: " + error; }
  await new Promise(resolve => {
    document.querySelector("iframe").onload = resolve;
    setTimeout(resolve, 3000);
    document.getElementById("form").submit();
  });
  results.form = "submitted";
  window.done = results;
}
attempt();
</script>
"""


class WatchingBrowser(Browser):
    """Browser that keeps the events Chromium sends besides its replies."""

    def __init__(self, *args):
        super().__init__(*args)
        self.events = []

    def on_event(self, event):
        self.events.append(event)

    def marker_answers(self, session):
        """The status of each answer to a marker request the page of
        `session` saw, its requests' answers being visible to DevTools
        whatever the page itself may read of them."""
        return [event["params"]["response"]["status"] for event in self.events
                if event.get("sessionId") == session
                and event["method"] == "Network.responseReceived"
                and event["params"]["response"]["url"].endswith("/marker")]


class Program:
    """P running, with what it printed gathered as it comes."""

    def __init__(self, path):
        self.process = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        first = self.process.stdout.readline()
        found = re.search(r"Live view: (http://127\.0\.0\.1:\d+)/$", first.strip())
        if not found:
            self.process.kill()
            sys.exit(f"no address printed: {first!r} {self.process.stderr.read()!r}")
        self.url = found.group(1)
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.rstrip("\n"))

    def posted(self):
        return [line[len("posted: "):] for line in list(self.lines) if line.startswith("posted: ")]

    def end(self):
        self.process.stdin.write("end\n")
        self.process.stdin.flush()
        return self.process.wait(timeout=30)


def serve_other_site(live_url):
    page = OTHER_SITE.replace("LIVE", live_url).encode()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def wait_for(browser, expression, seconds=10):
    """The expression's value once it is truthy, or None."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = browser.evaluate(expression)
        if value:
            return value
        time.sleep(0.1)
    return None


def evaluate_async(browser, expression):
    result = browser.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                               "awaitPromise": True})
    return result["result"].get("value")


def type_marker(browser, text):
    browser.evaluate("document.getElementById('marker-text').focus()")
    browser.call("Input.insertText", {"text": text})
    for kind in ("keyDown", "keyUp"):
        browser.call("Input.dispatchKeyEvent", {"type": kind, "key": "Enter", "code": "Enter",
                                                "windowsVirtualKeyCode": 13,
                                                **({"text": "\r"} if kind == "keyDown" else {})})


LISTED = "document.getElementById('marker-list').textContent"
REPLY = "document.getElementById('marker-reply')"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--screenshot")
    args = parser.parse_args()

    program = Program(args.program)
    other = serve_other_site(program.url)
    browser = WatchingBrowser(1400, 600, ["--host-resolver-rules=MAP evil.example 127.0.0.1"])
    failures = []

    def check(condition, failure):
        if not condition:
            failures.append(failure)

    try:
        browser.open(program.url + "/")
        page = browser.session
        ready = wait_for(browser, "window.liveView && liveView.markerBox && liveView.pageId && "
                                  "!document.getElementById('marker-form').hidden")
        check(ready, "the page never offered its marker box")
        check(wait_for(browser, LISTED + ".includes('stimulus on')"),
              "the recording's own marker never showed on the page")

        type_marker(browser, "trial 12")
        reply = wait_for(browser, REPLY + ".textContent")
        check(reply == "ok, marked", f"the page showed {reply!r} for an accepted marker")
        check(wait_for(browser, f"{REPLY}.className === 'ok'"), "the reply is not shown as ok")
        check(browser.evaluate("document.getElementById('marker-text').value") == "",
              "the box kept an accepted marker")
        check(wait_for(browser, LISTED + ".includes('trial 12')"),
              "the marker typed never came back onto the page")
        check(program.posted() == ["trial 12"], f"the recording got {program.posted()}")

        type_marker(browser, "refuse me")
        refused = wait_for(browser, f"{REPLY}.className === 'refused' && {REPLY}.textContent")
        check(refused == "refused: the test recording refuses this one",
              f"the page showed {refused!r} for a refused marker")

        wrong = evaluate_async(browser, """fetch("marker", { method: "POST",
            headers: { "Content-Type": "application/json", "X-Marker-Token": "f".repeat(48),
                       "X-Marker-Page": liveView.pageId },
            body: JSON.stringify({ text: "with a wrong token" }) })
          .then(async answer => answer.status + " " + await answer.text())""")
        check(wrong and wrong.startswith("403 refused: "),
              f"a wrong token from the page itself was answered {wrong!r}")

        browser.open("about:blank")
        browser.call("Network.enable")
        browser.call("Page.navigate", {"url": f"http://evil.example:{other.server_address[1]}/"})
        results = wait_for(browser, "window.done", 20)
        check(results is not None, "the other site's page never finished its attempts")
        if results:
            # Sent, so refused by bvhost and not by the browser alone.
            check(results.get("noCors") == "opaque",
                  f"the other site's plain request was not even sent: {results.get('noCors')!r}")
            # bvhost answered the question before it with no.
            check(results.get("asked", "").startswith("failed"),
                  f"the other site's request that must ask first got {results.get('asked')!r}")
        time.sleep(1)
        browser.call("Runtime.evaluate", {"expression": "0"})  # the events up to now
        answers = browser.marker_answers(browser.session)
        check(len(answers) >= 2 and all(status == 403 for status in answers),
              f"bvhost answered the other site's markers {answers}, not two or more 403s")
        check(program.posted() == ["trial 12"],
              f"a page of another site got markers in: {program.posted()}")

        browser.session = page
        if args.screenshot:
            browser.screenshot(args.screenshot)
        code = program.end()
        check(code == 0, f"the stand-in recording exited {code}")
        check(wait_for(browser, "liveView.link === 'ended'"), "the page never learned the run ended")
        check(browser.evaluate("document.getElementById('marker-text').disabled"),
              "the box still takes markers after the run ended")
        state = browser.evaluate("JSON.stringify({markers: liveView.markers, "
                                 "reply: liveView.markerReply})")
        print(state)
    finally:
        browser.close()
        other.shutdown()
        if program.process.poll() is None:
            program.process.kill()
    print("posted:", json.dumps(program.posted()))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
