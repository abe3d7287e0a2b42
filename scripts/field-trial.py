#!/usr/bin/env python3
"""Field trial: the real dervix program, on its real serial path to
dervantix-sim, driven as a lab drives it, for a few minutes.

    scripts/field-trial.py [--bin-dir DIR] [--poll-seconds S] [--replugs N]

Run under an X display (scripts/field-trial.sh starts Xvfb): the program
runs as an operator's window, and every message box it opens is a window
titled "Dervix" that this script counts; nobody answers them, so each one
that opens stays.

Phases, on one program whose port is a stable link (as /dev/serial/by-id
names are) that the simulator keeps pointed at its present terminal:
  1. pollers: one client asks for the module's status back to back (a 2 ms
     pause between answers), two at 20 Hz, and one sets the flow rate and
     reads it back; no line may be taken for lost, every answer must come
     and be right, and no box may open;
  2. replugs: the device is pulled and plugged in again, 100 to 300 ms
     apart, while a poller goes on; each loss is logged and reopened, the
     module answers at the end, and no more boxes open than there were
     outages (a short outage deserves none);
  3. leaving clients (scripts/field_link.py): clients that leave while their
     request sits in a box, floods that end, and memory that must come back;
  4. the log's folder removed and made again many times while lines are
     written: every outage on standard error, at most one box a minute.
Prints the figures of each phase; exit status 0 when everything held.
"""

import argparse
import os
import random
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dervix_testkit import (Failure, LinkClosed, Program, Sandbox, Simulator, bin_dir,  # noqa: E402
                            module_profile, wait_until)
import field_link  # noqa: E402


def boxes():
    """The message boxes on the screen now (their caption is "Dervix")."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Dervix$"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    return set(found.split())


class Poller(threading.Thread):
    """A client of the link asking in a loop until told to stop."""

    def __init__(self, program, pause, kind):
        super().__init__(daemon=True)
        self.client = program.connect()
        self.pause = pause
        self.kind = kind
        self.answers = 0
        self.problems = []
        self.stopping = threading.Event()

    def run(self):
        flows = ["12", "12.5", "20", "7.25"]
        try:
            while not self.stopping.is_set():
                if self.kind == "status":
                    self.client.poke("txtDVXScmd", "STATUS", timeout=10)
                else:
                    flow = flows[self.answers % len(flows)]
                    self.client.poke("txtFlowRate", flow, timeout=10)
                    got = self.client.request("txtFlowRate")
                    if got != flow:
                        self.problems.append("flow rate %r read back as %r" % (flow, got))
                self.answers += 1
                if self.pause:
                    time.sleep(self.pause)
        except Failure as e:
            self.problems.append("%s poller: %s" % (self.kind, e))

    def stop(self):
        self.stopping.set()
        self.join(15)
        self.client.close()
        if self.is_alive():
            self.problems.append("%s poller still waiting for an answer" % self.kind)
        return self.problems


class Trial:
    def __init__(self, args):
        self.args = args
        self.binaries = bin_dir(args.bin_dir)
        self.sandbox = Sandbox(self.binaries, prefix="dervix-field-")
        self.link = os.path.join(self.sandbox.root, "by-id", "usb-Corvane_Dervantix_FIELD-if00-port0")
        os.makedirs(os.path.dirname(self.link))
        self.sim = Simulator(self.binaries, ["--link", self.link])
        self.logs = os.path.join(self.sandbox.root, "logs")
        os.makedirs(self.logs)
        self.sandbox.log = os.path.join(self.logs, "Dervix.txt")
        self.sandbox.env.update({"QT_QPA_PLATFORM": "xcb", "DISPLAY": os.environ["DISPLAY"],
                                 "DERVIX_LOG": self.sandbox.log})
        self.sandbox.write_profile(module_profile(self.link, Logging="1"))
        self.program = None
        self.problems = []
        self.figures = []

    def log_count(self, text):
        return self.sandbox.log_text().count(text)

    def check(self, ok, problem):
        if not ok:
            self.problems.append(problem)

    def start(self):
        self.program = Program(self.sandbox)
        self.program.connect().close()
        wait_until(lambda: self.sim.counts()[0] >= 2, 10, what="CHECK and the split code at start-up")

    def pollers(self):
        seconds = self.args.poll_seconds
        frames0 = self.sim.counts()[0]
        pollers = [Poller(self.program, 0.002, "status"), Poller(self.program, 0.05, "status"),
                   Poller(self.program, 0.05, "status"), Poller(self.program, 0.05, "flow")]
        for p in pollers:
            p.start()
        time.sleep(seconds)
        for p in pollers:
            self.problems.extend(p.stop())
        frames = self.sim.counts()[0] - frames0
        answered = sum(p.answers for p in pollers)
        self.figures.append("pollers: %d answers in %d s (%.0f a second; the full-rate one %.0f a second), "
                            "%d frames to the module, %d false line losses"
                            % (answered, seconds, answered / seconds, pollers[0].answers / seconds, frames,
                               self.log_count("Port lost")))
        self.check(self.log_count("Port lost") == 0, "a healthy line was taken for lost")
        self.check(pollers[0].answers > 100 * seconds, "the full-rate poller got only %d answers" % pollers[0].answers)
        self.check(not boxes(), "boxes opened while polling: %d" % len(boxes()))

    def replugs(self):
        rng = random.Random(self.args.seed)
        poller = Poller(self.program, 0.05, "status")
        poller.start()
        for _ in range(self.args.replugs):
            self.sim.command("hangup")
            time.sleep(rng.uniform(0.1, 0.3))
            self.sim.command("replug")
            time.sleep(rng.uniform(0.1, 0.3))
        outages = self.args.replugs
        # A device pulled again before its reopening was through is one loss.
        try:
            wait_until(lambda: self.log_count("Port reopened") >= self.log_count("Port lost") and
                       self.sim.status()["device"] != "hung-up", 10, what="the last reopening")
        except Failure as e:
            self.problems.append(str(e))
        self.problems.extend(poller.stop())
        # The module answers the line as it is now.
        client = self.program.connect()
        before = self.sim.status()["answered"]
        client.poke("txtDVXScmd", "STATUS")
        try:
            wait_until(lambda: self.sim.status()["answered"] != before, 5, what="the module's answer after the replugs")
        except Failure as e:
            self.problems.append(str(e))
        client.close()
        shown = len(boxes())
        self.figures.append("replugs: %d outages, %d losses logged, %d reopened, %d boxes"
                            % (outages, self.log_count("Port lost"), self.log_count("Port reopened"), shown))
        self.check(1 <= self.log_count("Port lost") <= outages, "%d outages, %d losses logged"
                   % (outages, self.log_count("Port lost")))
        self.check(shown <= outages, "%d boxes for %d outages" % (shown, outages))

    def leaving_clients(self):
        before = boxes()
        for name, check in field_link.CHECKS.items():
            try:
                figures = check(self.program)
                self.figures.append("leaving clients, %s: %s" % (name, ", ".join(
                    "%s %s" % (k, round(v, 3) if isinstance(v, float) else v) for k, v in figures.items())))
            except Failure as e:
                self.problems.append("leaving clients, %s: %s" % (name, e))
        shown = len(boxes() - before)
        self.figures.append("leaving clients: %d boxes on the screen" % shown)
        self.check(shown <= 1, "%d boxes for clients that had left" % shown)

    def flapping_log(self):
        before = boxes()
        poller = Poller(self.program, 0.005, "status")
        poller.start()
        outages = 0
        for _ in range(self.args.log_outages):
            time.sleep(0.12)
            os.rename(self.logs, self.logs + ".away")
            outages += 1
            time.sleep(0.12)
            os.rename(self.logs + ".away", self.logs)
        time.sleep(0.3)
        self.problems.extend(poller.stop())
        told = self.program.output().count("cannot be written")
        shown = len(boxes() - before)
        self.figures.append("log folder: %d outages, %d told on standard error, %d boxes" % (outages, told, shown))
        self.check(1 <= told <= outages, "%d outages, %d told on standard error" % (outages, told))
        self.check(shown <= 1, "%d boxes for a log folder that came and went" % shown)

    def run(self):
        try:
            self.start()
            phases = {"pollers": self.pollers, "replugs": self.replugs, "clients": self.leaving_clients,
                      "log": self.flapping_log}
            for phase in (phases[name] for name in self.args.phases.split(",")):
                started = time.monotonic()
                phase()
                self.figures[-1] += " (%.0f s)" % (time.monotonic() - started)
                if not self.program.alive():
                    self.problems.append("dervix ended: %s" % self.program.output()[-2000:])
                    break
        finally:
            if self.program:
                self.program.close()
            self.sim.stop()
        for line in self.figures:
            print("field trial: " + line)
        if self.problems:
            for p in self.problems:
                print("field trial FAILED: " + p, file=sys.stderr)
            print("program's last log lines:\n" + "\n".join(self.sandbox.log_text().splitlines()[-30:]),
                  file=sys.stderr)
            self.sandbox.keep = True
        self.sandbox.cleanup()
        return 1 if self.problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin-dir")
    parser.add_argument("--poll-seconds", type=int, default=60)
    parser.add_argument("--replugs", type=int, default=40)
    parser.add_argument("--log-outages", type=int, default=39)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--phases", default="pollers,replugs,clients,log",
                        help="which phases, in order (default: all)")
    args = parser.parse_args()
    print("field trial: seed %d" % args.seed)
    if "DISPLAY" not in os.environ:
        print("field trial: needs an X display (scripts/field-trial.sh starts one)", file=sys.stderr)
        return 2
    return Trial(args).run()


if __name__ == "__main__":
    sys.exit(main())
