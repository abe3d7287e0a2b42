"""The field trial's actors around the real program: link clients that ask
in a loop, a client that watches the replies the program takes in, and an
operator who presses Start/Stop on the program's window and sees what came
of it.

Standard library and xdotool; the program runs under an X display.
"""

import datetime
import math
import os
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dervix_testkit import Failure, LinkClient, link_unescape, wait_until  # noqa: E402
from profile_text import Profile, numeric_value  # noqa: E402
from run_ledger import single  # noqa: E402

MAIN_WINDOW = "Corvane Dervantix"


def xdotool(*args, timeout=5.0):
    try:
        done = subprocess.run(["xdotool", *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                              timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure("xdotool %s did not return within %.0f s" % (" ".join(args), timeout))
    return done.stdout.split()


def windows(title):
    """The visible windows with exactly this caption."""
    return set(xdotool("search", "--onlyvisible", "--name", "^%s$" % title))


def boxes():
    """The message boxes on the screen now (their caption is "Dervix")."""
    return windows("Dervix")


class Poller(threading.Thread):
    """A client of the link asking in a loop until told to stop: the
    module's status ("status"), the same on a fresh connection for every
    request ("fresh"), or the flow rate set and read back ("flow")."""

    def __init__(self, program, pause, kind):
        super().__init__(daemon=True)
        self.socket = program.sandbox.socket
        self.client = None if kind == "fresh" else program.connect()
        self.pause = pause
        self.kind = kind
        self.answers = 0
        self.problems = []
        self.stopping = threading.Event()

    def ask(self):
        if self.kind == "fresh":
            client = LinkClient(self.socket)
            try:
                client.poke("txtDVXScmd", "STATUS", timeout=10)
            finally:
                client.close()
        elif self.kind == "status":
            self.client.poke("txtDVXScmd", "STATUS", timeout=10)
        else:
            flow = ["12", "12.5", "20", "7.25"][self.answers % 4]
            self.client.poke("txtFlowRate", flow, timeout=10)
            got = self.client.request("txtFlowRate")
            if got != flow:
                self.problems.append("flow rate %r read back as %r" % (flow, got))

    def run(self):
        try:
            while not self.stopping.is_set():
                self.ask()
                self.answers += 1
                if self.pause:
                    time.sleep(self.pause)
        except (Failure, OSError) as e:
            self.problems.append("%s poller: %s" % (self.kind, e))

    def stop(self):
        self.stopping.set()
        self.join(15)
        if self.client:
            self.client.close()
        if self.is_alive():
            self.problems.append("%s poller still waiting for an answer" % self.kind)
        return self.problems


def start_pollers(program, kinds):
    """Pollers of (pause, kind), started; stop them with stop_pollers."""
    pollers = [Poller(program, pause, kind) for pause, kind in kinds]
    for p in pollers:
        p.start()
    return pollers


def stop_pollers(pollers):
    """Problems of all the pollers, once each has stopped."""
    pollers = list(pollers)
    for p in pollers:
        p.stopping.set()
    return [problem for p in pollers for problem in p.stop()]


class ReplyWatcher(threading.Thread):
    """A link client that watches the response slot, DervixResp. Bytes from
    the module gather there until they end in CR LF: that text is a reply
    the program has taken in, and the slot is emptied after it. Counting
    those texts counts what the program heard, whatever the module sent."""

    def __init__(self, program):
        super().__init__(daemon=True)
        self.client = program.connect()
        answer = self.client.call("WATCH DervixResp")
        if not answer.startswith("OK"):
            raise Failure("WATCH DervixResp answered %r" % answer)
        self.replies = 0
        self.last = ""
        self.changes = threading.Condition()
        self.start()

    def run(self):
        sock, rest = self.client.sock, self.client.buffer
        sock.settimeout(None)
        while True:
            try:
                chunk = sock.recv(1 << 16)
            except OSError:
                break
            if not chunk:
                break
            lines = (rest + chunk).split(b"\n")
            rest = lines.pop()
            taken = [line for line in lines if line.endswith(b"\\r\\n") and line.startswith(b"CHANGED DervixResp ")]
            # Only a text that really ends in CR LF: an escaped backslash
            # before "r\n" would look the same in its written form.
            taken = [t for t in (link_unescape(line[19:].decode("utf-8", "replace")) for line in taken)
                     if t.endswith("\r\n")]
            if taken:
                with self.changes:
                    self.replies += len(taken)
                    self.last = taken[-1]
                    self.changes.notify_all()

    def wait_past(self, count, timeout):
        """True once more than count replies have been taken in."""
        with self.changes:
            return self.changes.wait_for(lambda: self.replies > count, timeout)

    def close(self):
        try:
            self.client.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.join(5)
        self.client.close()


class Operator:
    """Presses the Start/Stop button as an operator does, by its access key
    Alt+S ("&Start" and "&Stop") on the program's main window (a disabled
    button takes no press, as it takes no click), and sees what came of it:
    the module's valve, and "Running" and "Rotations" in the profile. The
    button's caption is "&Stop" exactly while "Running" is set."""

    def __init__(self, sim, sandbox, link, frequency):
        found = wait_until(lambda: windows(MAIN_WINDOW), 10, 0.1, what="the main window on the display")
        self.window = sorted(found)[0]
        self.sim, self.sandbox, self.link = sim, sandbox, link
        self.frequency = single(frequency)

    def profile_value(self, key):
        return Profile(self.sandbox.read_profile()).check().get("Dervix", key)

    def valve(self):
        return self.sim.status()["valve"]

    def press(self):
        """Presses Start/Stop and waits for its effect; returns 1 for a run
        counted."""
        started = self.profile_value("Running")
        word, valve = ("Stop", "stopped") if started else ("Start", "running")
        if self.valve() == valve:
            raise Failure("before %s the valve is %s and \"Running\" is %r" % (word, valve, started))
        rotations = numeric_value(self.profile_value("Rotations"))
        pressed = time.time()
        # Xvfb runs no window manager to hand the focus over; a modal box
        # that is open still keeps the key from the button.
        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "alt+s")
        try:
            wait_until(lambda: self.valve() == valve, 3, 0.01, "the valve")
        except Failure:
            raise Failure("%s did not reach the module within 3 s: the button takes no press" % word)
        try:
            wait_until(lambda: bool(self.profile_value("Running")) != bool(started), 3, 0.01, "\"Running\"")
        except Failure:
            raise Failure("the valve is %s, but \"Running\" was not %s within 3 s (%s's reply taken for another "
                          "request's?)" % (valve, "emptied" if started else "set", word.upper()))
        if not started:
            return 0
        seen = time.time()
        # The reply's handler writes "Rotations" after emptying "Running";
        # the link answers only once that handler has returned.
        self.link.request("Label3")
        grown = (numeric_value(self.profile_value("Rotations")) - rotations) / self.frequency
        # Counted from the second stored at START to the second of STOP's reply.
        start = datetime.datetime.fromisoformat(started).timestamp()
        low, high = math.floor(pressed - 0.05) - int(start), math.floor(seen + 0.05) - int(start)
        if abs(grown - round(grown)) > 1e-3 or not low <= round(grown) <= high:
            raise Failure("a run of %.2f s added %.4f s of rotations (whole seconds between %d and %d expected)"
                          % (seen - start, grown, low, high))
        return 1
