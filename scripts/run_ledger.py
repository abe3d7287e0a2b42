"""What the program should have counted as valve rotations, from the
module's side of the line: which replies started and ended runs, when the
simulator sent them, and the start second the program stored."""

import datetime
import math
import struct

from dervix_testkit import Failure

# The program's split settings: multiplier text, splitter code, valve frequency.
SPLITS = [
    ("25.000", 3, 2.22222), ("33.333", 10, 1.66667), ("38.889", 33, 1.42857), ("50.000", 2, 1.11111),
    ("66.667", 8, 0.83333), ("83.333", 7, 2.0), ("100.000", 1, 1.66667), ("133.333", 6, 1.25),
    ("166.667", 15, 1.0), ("200.000", 28, 0.83333), ("250.000", 5, 0.66667), ("266.667", 27, 0.625),
    ("333.333", 40, 0.5), ("378.788", 26, 2.0), ("530.303", 4, 1.42857), ("681.818", 24, 1.11111),
    ("984.848", 12, 0.76923), ("1287.879", 36, 0.58824), ("1363.636", 48, 0.55556),
    ("1666.667", 57, 0.45455), ("1969.697", 22, 0.38462), ("2500.000", 34, 0.30303),
    ("3333.333", 55, 0.22727),
]


def single(x):
    """x as the program holds it, a 32-bit float."""
    return struct.unpack("f", struct.pack("f", x))[0]


class RunLedger:
    """Runs as the program sees them: a START reply (the latest one, since a
    repeated reply stores the time again) up to the first STOP reply after
    it. Only the stored split's frequency counts: split codes sent through
    the link change the module's valve, not the program's split."""

    def __init__(self, frequency, start_rotations):
        self.frequency = single(frequency)
        self.start_rotations = start_rotations
        self.runs = []             # (START reply sent, STOP reply sent, stored start second)
        self._start = None
        self._stored = None

    def stored_start(self, running_text):
        """The "Running" mark just before STOP is asked for."""
        try:
            self._stored = datetime.datetime.fromisoformat(running_text).timestamp()
        except (TypeError, ValueError):
            raise Failure("\"Running\" holds %r, not a time" % running_text)

    def reply(self, awaited, sent_at):
        """A whole reply left the module while the program awaited this request."""
        if awaited == "START":
            self._start = sent_at
        elif awaited == "STOP" and self._start is not None:
            self.runs.append((self._start, sent_at, self._stored))
            self._start = None

    def check(self, rotations, early, late):
        """rotations: the stored total at the end. The program applies a
        reply between early seconds before and late seconds after this
        script saw it sent. Returns a summary line; raises Failure."""
        seconds = (rotations - self.start_rotations) / self.frequency
        whole = round(seconds)
        low = sum(max(0, math.floor(b - early) - int(s)) for a, b, s in self.runs)
        high = sum(math.floor(b + late) - int(s) for a, b, s in self.runs)
        measured = sum(b - a for a, b, s in self.runs)
        astray = [round(a - s, 3) for a, b, s in self.runs if not s - late <= a < s + 1 + early]
        summary = ("rotations: %r -> %r; %d runs; counted %.4f s at %r Hz; runs lasted %.3f s; "
                   "whole seconds expected between %d and %d"
                   % (self.start_rotations, rotations, len(self.runs), seconds, self.frequency, measured, low, high))
        if astray:
            raise Failure("%s\n%d runs were stored as starting in another second than the module's reply "
                          "(offsets %s)" % (summary, len(astray), astray[:5]))
        if abs(seconds - whole) > 1e-3:
            raise Failure("%s\nnot a whole number of seconds at the valve frequency" % summary)
        if not low <= whole <= high:
            raise Failure("%s\n%d s counted" % (summary, whole))
        if abs(whole - measured) > len(self.runs):
            raise Failure("%s\nmore than a second per run away from the runs' length" % summary)
        return summary
