#!/usr/bin/env python3
"""Crash test: the real dervix program is killed with SIGKILL at random
moments while it writes its settings, a hundred times over, and restarted.

    scripts/crash-test.py [--kills 100] [--seed N]

While the program runs, a client keeps it writing: flow-rate pokes through
the link (each one writes "FlowRate"), START and STOP requests (whose
replies write "Running" and "Rotations") and split codes. Now and then the
kill lands during start-up instead. After every kill:
  * the profile parses (every line a section, key, comment or blank line,
    no key twice, the last line complete);
  * every key that was there before is still there; the ones nobody changes
    keep their values; "FlowRate" holds the last value the link
    acknowledged or the one being written; "Running" is empty or a time;
    "Rotations" is a number and never went down;
  * at most the one temporary file of the write that was cut short is left,
    and the next write clears it;
  * the next start is not refused as a second instance.
Exit status 0 when every kill left the settings whole, 1 otherwise.
"""

import argparse
import os
import random
import re
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dervix_testkit import Failure, Program, Sandbox, Simulator, bin_dir, module_profile  # noqa: E402
from profile_text import Profile, numeric_value  # noqa: E402

FIXED = {
    ("Dervix", "Settings"): "19200,N,8,1", ("Dervix", "CommPort"): "1", ("Dervix", "ModuleID"): "1",
    ("Dervix", "Logging"): "1", ("Dervix", "SplitMult"): "50.000", ("Dervix", "SplitCode"): "2",
    ("Other program", "Colour"): "blue",
}
RUNNING = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d")
NUMBER = re.compile(r"-?\d+(\.\d+)?(e[+-]?\d+)?")


class Writer(threading.Thread):
    """Keeps the program writing settings until its link goes away."""

    def __init__(self, link, rng, flow):
        super().__init__(daemon=True)
        self.link, self.rng = link, rng
        self.acked = flow       # last "FlowRate" the link confirmed
        self.in_flight = None   # the one sent and not yet confirmed
        self.pokes = 0
        self.running = False
        self.error = None

    def run(self):
        try:
            while True:
                r = self.rng.random()
                if r < 0.75:
                    value = str(self.rng.randint(1, 100))
                    self.in_flight = value
                    self.link.poke("txtFlowRate", value)
                    self.acked, self.in_flight = value, None
                    self.pokes += 1
                elif r < 0.9:
                    self.link.poke("txtDVXScmd", "STOP" if self.running else "START")
                    self.running = not self.running
                else:
                    self.link.poke("txtDVXScmd", " %d" % self.rng.randint(1, 60))
        except Failure:
            pass  # the link went with the program
        except OSError as e:
            self.error = e


class CrashTest:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.stats = {"during start-up": 0, "while writing": 0, "value being written": 0,
                      "temporary file left": 0, "runs in progress": 0}

    def temporaries(self):
        return [n for n in os.listdir(self.sandbox.config) if n.startswith(".profile.ini.tmp-")]

    def check(self, before, flow_acked, flow_in_flight, context):
        text = self.sandbox.read_profile()
        profile = Profile(text)
        if profile.problems:
            raise Failure("%s: the profile does not parse: %s\n%s" % (context, "; ".join(profile.problems), text))
        keys = {(s.lower(), k.lower()) for s, entries in profile.sections for k, _ in entries}
        lost = [k for k in before if k not in keys]
        if lost:
            raise Failure("%s: keys lost: %s\n%s" % (context, lost, text))
        for (section, key), value in FIXED.items():
            if profile.get(section, key) != value:
                raise Failure("%s: [%s] %s became %r" % (context, section, key, profile.get(section, key)))
        if profile.get("Ports", "Com1") != self.sim.pty:
            raise Failure("%s: [Ports] Com1 changed" % context)
        if "; written by hand\n" not in text:
            raise Failure("%s: the comment line is gone" % context)
        flow = profile.get("Dervix", "FlowRate")
        if flow not in (flow_acked, flow_in_flight):
            raise Failure("%s: FlowRate is %r; acknowledged %r, being written %r"
                          % (context, flow, flow_acked, flow_in_flight))
        if flow_in_flight is not None and flow == flow_in_flight != flow_acked:
            self.stats["value being written"] += 1
        running = profile.get("Dervix", "Running")
        if running not in ("", None) and not RUNNING.fullmatch(running):
            raise Failure("%s: Running is %r" % (context, running))
        if running:
            self.stats["runs in progress"] += 1
        rotations = profile.get("Dervix", "Rotations")
        if rotations is None or not NUMBER.fullmatch(rotations):
            raise Failure("%s: Rotations is %r" % (context, rotations))
        if numeric_value(rotations) < self.rotations:
            raise Failure("%s: Rotations went down from %r to %r" % (context, self.rotations, rotations))
        self.rotations = numeric_value(rotations)
        left = self.temporaries()
        if len(left) > 1:
            raise Failure("%s: temporary files pile up: %s" % (context, left))
        self.stats["temporary file left"] += len(left)
        return keys, flow

    def one_kill(self, number, keys, flow):
        program = Program(self.sandbox)
        context = "kill %d" % number
        if self.rng.random() < 0.1:
            # During start-up: it empties "Running" and checks the settings.
            time.sleep(self.rng.uniform(0.0, 0.15))
            program.kill()
            self.stats["during start-up"] += 1
            keys, flow = self.check(keys, flow, None, context + " (start-up)")
            program.close()
            return keys, flow
        link = program.connect()
        writer = Writer(link, self.rng, flow)
        writer.start()
        time.sleep(self.rng.uniform(0.02, 0.4))
        program.kill()
        writer.join(10)
        link.close()
        program.close()
        if writer.is_alive():
            raise Failure("%s: the link client did not notice the program had gone" % context)
        if writer.error:
            raise Failure("%s: link: %s" % (context, writer.error))
        self.stats["while writing"] += 1
        self.pokes += writer.pokes
        return self.check(keys, writer.acked, writer.in_flight, context)

    def run(self):
        self.sandbox = Sandbox(bin_dir(self.args.bin_dir), prefix="dervix-crash-", keep=self.args.keep)
        self.sim = Simulator(self.sandbox.binaries)
        self.sandbox.write_profile(
            "; written by hand\n" + module_profile(self.sim.pty, Logging="1", SplitMult="50.000", SplitCode="2",
                                                   FlowRate="20", Rotations=" 100")
            + "[Other program]\nColour=blue\n")
        self.rotations = 100.0
        self.pokes = 0
        keys = {(s.lower(), k.lower()) for s, e in Profile(self.sandbox.read_profile()).check().sections for k, _ in e}
        flow = "20"
        for number in range(1, self.args.kills + 1):
            keys, flow = self.one_kill(number, keys, flow)
        # The kills left the program's own keys behind as well.
        for key in ("flowrate", "errorstatus", "kelmred", "kelmyellow", "running", "rotations"):
            if ("dervix", key) not in keys:
                raise Failure("the program never wrote %s" % key)

        # A last start: one write clears what a cut write left, and KILL over
        # the link still ends the program cleanly.
        program = Program(self.sandbox)
        link = program.connect()
        link.poke("txtFlowRate", "42")
        left = self.temporaries()
        if left:
            raise Failure("temporary files remain after a complete write: %s" % left)
        self.check(keys, "42", None, "after the last start")
        link.send_only("POKE txtDVXScmd KILL")
        status = program.wait(10)
        program.close()
        if status != 0:
            raise Failure("KILL ended the program with status %d" % status)
        print("%d kills (%s); %d flow pokes acknowledged; Rotations ended at %r; profile whole after every one"
              % (self.args.kills, ", ".join("%s %d" % kv for kv in self.stats.items()), self.pokes, self.rotations))

    def close(self):
        if getattr(self, "sim", None) is not None:
            self.sim.stop()
        if getattr(self, "sandbox", None) is not None:
            self.sandbox.cleanup()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--kills", type=int, default=100, help="how many times to kill (default 100)")
    parser.add_argument("--seed", type=int, default=None, help="random seed (default: from the clock)")
    parser.add_argument("--bin-dir", help="folder of dervix and dervantix-sim (default $DERVIX_BIN_DIR or build)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    if args.seed is None:
        args.seed = int(time.time())
    print("crash test: %d kills, seed %d" % (args.kills, args.seed), flush=True)
    test = CrashTest(args)
    try:
        test.run()
    except (Failure, OSError) as e:
        print("FAIL: %s" % e)
        if getattr(test, "sandbox", None) is not None:
            test.sandbox.keep = True
        return 1
    finally:
        test.close()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
