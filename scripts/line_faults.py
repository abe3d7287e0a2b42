"""The faults the soak puts on the line, through the simulator's commands."""

# Longest delay plus piece gaps of the ordinary faults: well inside the
# program's 190 ms, so they never make it repeat a request.
ORDINARY_FAULT_MS = 110
# A reply this late comes after the program has repeated the request once
# (at 190 ms) and before it would a second time (at 380 ms), with room for a
# busy machine on both sides.
REPEATED_REPLY_MS = (240, 340)


class LineFaults:
    def __init__(self, sim, rng):
        self.sim, self.rng = sim, rng
        self.now = {"delay": 0, "pieces": 1, "gap": 5, "stray": False}
        self._saved = None

    def set(self, delay, pieces, gap, stray):
        f = self.now
        if delay != f["delay"]:
            self.sim.command("delay %d" % delay)
            f["delay"] = delay
        if (pieces, gap) != (f["pieces"], f["gap"]):
            self.sim.command("split %d %d" % (pieces, gap))
            f["pieces"], f["gap"] = pieces, gap
        if stray != f["stray"]:
            self.sim.command("stray %s" % ("on" if stray else "off"))
            f["stray"] = stray

    def pick(self):
        """Ordinary faults at random: replies late, in pieces, with stray bytes."""
        kind = self.rng.choices(["clean", "delay", "pieces", "stray", "mixed"], [3, 2, 2, 2, 1])[0]
        delay, pieces, gap, stray = 0, 1, 5, False
        if kind == "delay":
            delay = self.rng.randint(5, ORDINARY_FAULT_MS)
        elif kind == "pieces":
            pieces = self.rng.randint(2, 8)
            gap = self.rng.randint(0, ORDINARY_FAULT_MS // (pieces - 1))
        elif kind == "stray":
            stray = True
        elif kind == "mixed":
            delay = self.rng.randint(0, 40)
            pieces = self.rng.randint(2, 5)
            gap = self.rng.randint(0, (ORDINARY_FAULT_MS - 40) // (pieces - 1))
            stray = True
        self.set(delay, pieces, gap, stray)

    def repeat_next(self):
        """Whole replies so late that the program repeats its request once."""
        self._saved = dict(self.now)
        self.set(self.rng.randint(*REPEATED_REPLY_MS), 1, 5, self.now["stray"])

    def restore(self):
        s = self._saved
        self.set(s["delay"], s["pieces"], s["gap"], s["stray"])

    def replies_whole(self):
        # A CHECK reply cut into pieces by a late repeat could leave a tail
        # that does not begin with "G": the program would then ask the
        # operator. Only whole replies for CHECK.
        return self.now["pieces"] == 1
