"""Types markers into bvhost record's terminal, a pseudo-terminal here, as a
person would: the status line says markers may be typed and is drawn above
the typing, each line entered lands in the BDF+ file (read with MNE-Python)
where it was entered, one that is no UTF-8 is answered on the terminal, and
text typed but never entered is neither recorded nor left for the shell.

Usage: markers_in_terminal.py --bvhost BVHOST --plugin PLUGIN --workdir DIR
Exits 0 when all holds, else prints what did not and exits 1; 77 (skipped)
without MNE-Python.
"""
import argparse
import fcntl
import os
import pty
import select
import shutil
import struct
import sys
import termios
import threading
import time

try:
    import mne
except ImportError:
    print("MNE-Python (Debian python3-mne) is not installed")
    sys.exit(77)

FRAME_SECONDS = 0.0135
# The status line's row is redrawn above the cursor, never on it.
SAVE_UP = b"\x1b7\x1b[1A"
# An entered line: up two rows to the status line, which is deleted.
ENTERED = b"\x1b[2A\x1b[M"


class Terminal:
    """The pseudo-terminal's far end: what bvhost wrote, with the time each
    piece came."""

    def __init__(self, fd):
        self.fd = fd
        self.chunks = []
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while True:
            try:
                ready, _, _ = select.select([self.fd], [], [], 0.5)
                if not ready:
                    continue
                data = os.read(self.fd, 65536)
            except OSError:
                return
            if not data:
                return
            with self.lock:
                self.chunks.append((time.monotonic(), data))

    def text(self, since=0.0):
        with self.lock:
            return b"".join(data for at, data in self.chunks if at >= since)

    def wait_for(self, needle, since=0.0, timeout=20.0):
        """When `needle` first came after `since`, or None."""
        until = time.monotonic() + timeout
        while time.monotonic() < until:
            with self.lock:
                seen = b""
                for at, data in self.chunks:
                    if at < since:
                        continue
                    seen += data
                    if needle in seen:
                        return at
            time.sleep(0.001)
        return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bvhost", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--workdir", required=True)
    args = parser.parse_args()
    shutil.rmtree(args.workdir, ignore_errors=True)
    runtime = os.path.join(args.workdir, "runtime")
    os.makedirs(runtime, mode=0o700)
    log = os.path.join(args.workdir, "start.log")
    out = os.path.join(args.workdir, "typed.bdf")
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, ORVANE_SIM_SENSORS="2",
               ORVANE_SIM_SEED="34", ORVANE_SIM_START_LOG=log)

    # The terminal's own end stays open here too, so what is left in its
    # input once bvhost is gone can be looked at.
    fd, slave = pty.openpty()
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    pid = os.fork()
    if pid == 0:
        os.setsid()
        fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
        for target in (0, 1, 2):
            os.dup2(slave, target)
        os.execve(args.bvhost, [args.bvhost, "record", args.plugin, "--seconds", "5",
                                "--out", out], env)
    terminal = Terminal(fd)
    problems = []

    drawn = terminal.wait_for(b"type a marker and Enter")
    if drawn is None:
        problems.append("the status line never said markers may be typed")
    # Once the line is drawn above the typing, each redraw leaves the
    # cursor's row alone.
    if terminal.wait_for(SAVE_UP, since=drawn or 0.0, timeout=5.0) is None:
        problems.append("the status line is not drawn above the typing")

    typed = []
    for i in range(1, 5):
        time.sleep(0.37)
        text = "lift %d" % i
        sent = time.monotonic()
        os.write(fd, text.encode() + b"\r")
        entered = terminal.wait_for(ENTERED, since=sent)
        if entered is None:
            problems.append("%r was never taken as entered" % text)
            entered = sent
        typed.append((text, sent, entered))
    sent = time.monotonic()
    os.write(fd, b"\xff oops\r")
    if terminal.wait_for(b"bvhost: marker refused: invalid UTF-8 at byte offset 0 (0xff)",
                         since=sent) is None:
        problems.append("a line that is no UTF-8 got no answer on the terminal")
    os.write(fd, b"never entered")

    _, status = os.waitpid(pid, 0)
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        problems.append("bvhost ended with status %r: %r" % (status, terminal.text()[-2000:]))
    # What was typed and never entered is gone from the terminal's input,
    # not left for whatever reads it next: out of line mode, anything still
    # there could be read.
    attributes = termios.tcgetattr(slave)
    attributes[3] &= ~termios.ICANON
    attributes[6][termios.VMIN] = 0
    attributes[6][termios.VTIME] = 0
    termios.tcsetattr(slave, termios.TCSANOW, attributes)
    left = os.read(slave, 4096) if select.select([slave], [], [], 0.2)[0] else b""
    if left:
        problems.append("%r, typed and never entered, was left for the shell" % left)

    start = int(open(log).read().split()[1]) / 1e9
    raw = mne.io.read_raw_bdf(out, verbose="error")
    onsets = dict(zip(raw.annotations.description, raw.annotations.onset))
    if sorted(onsets) != sorted(text for text, _, _ in typed):
        problems.append("the file holds %r" % sorted(onsets))
    errors = []
    for text, sent, entered in typed:
        if text not in onsets:
            continue
        error = onsets[text] - (sent - start)
        errors.append(error)
        if not -FRAME_SECONDS <= error <= FRAME_SECONDS + (entered - sent):
            problems.append("%r lies %.2f ms from where it was entered (%.2f ms to take)"
                            % (text, error * 1000, (entered - sent) * 1000))
    if errors:
        print("typed markers lie %.2f to %.2f ms from where they were entered"
              % (min(errors) * 1000, max(errors) * 1000))
    for problem in problems:
        print("FAIL: " + problem)
    sys.exit(1 if problems else 0)


main()
