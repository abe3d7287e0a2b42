#!/usr/bin/env python3
"""Field trial: the real dervix program, on its real serial path to
dervantix-sim, driven as a lab drives it, for a few minutes.

    scripts/field-trial.py [--bin-dir DIR] [--poll-seconds S] [--presses N] [--replugs N]

Run under an X display (scripts/field-trial.sh starts Xvfb): the program
runs as an operator's window, and every message box it opens is a window
titled "Dervix" that this script counts; nobody answers them, so each one
that opens stays. Its log (Logging=1) tells which box was which.

Phases, on one program whose port is a stable link (as /dev/serial/by-id
names are) that the simulator keeps pointed at its present terminal; a
phase after one that failed, or that left a box open, gets a fresh program:
  1. pollers: two clients ask for the module's status as fast as they can,
     one on a fresh connection for every request and one on a connection
     of its own; two more at 20 Hz, and one sets the flow rate and reads it
     back. A watcher of DervixResp counts the replies the program takes in
     against the frames the module answered; then a hearing check: STATUS
     requests half a second apart, each reply must be heard. No line may be
     taken for lost, no time-out box may open while the module answers,
     every answer must come and be right, and no box may open;
  2. start/stop: an operator presses Start and Stop (Alt+S on the window)
     beside a 20 Hz poller: each press reaches the module, "Running" follows
     the valve, each run adds the valve frequency times its whole seconds
     to "Rotations", and the button takes the next press;
  3. replugs: the device is pulled and plugged in again, 100 to 300 ms
     apart, while 7 pollers go on; each loss is logged and reopened, the
     module answers at the end, no box tells of a failed send, and no more
     boxes open than there were outages (a short outage deserves none);
  4. leaving clients (scripts/field_link.py): clients that leave while their
     request sits in a box, floods that end, and memory that must come back;
  5. the log's folder removed and made again many times while lines are
     written: every outage on standard error, at most one box a minute.
Prints the figures of each phase; exit status 0 when everything held.
"""

import argparse
import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dervix_testkit import Failure, Program, Sandbox, Simulator, bin_dir, module_profile, wait_until  # noqa: E402
from field_clients import Operator, ReplyWatcher, boxes, start_pollers, stop_pollers  # noqa: E402
from profile_text import Profile  # noqa: E402
import field_link  # noqa: E402

# The stored split: multiplier 50, splitter code 2, valve frequency 1.11111 Hz.
SPLIT_MULT, SPLIT_CODE, VALVE_FREQUENCY = "50", "2", 1.11111
SEND_FAILURE = "Error occurred while sending a command"
TIME_OUT = " Timeout after "


class Trial:
    def __init__(self, args):
        self.args = args
        self.binaries = bin_dir(args.bin_dir)
        self.sandbox = Sandbox(self.binaries, prefix="dervix-field-")
        self.link = os.path.join(self.sandbox.root, "by-id", "usb-Corvane_Dervantix_FIELD-if00-port0")
        os.makedirs(os.path.dirname(self.link))
        # Without -v: a module that reports every frame on a pipe answers a
        # full-rate poller more slowly than a lab's does.
        self.sim = Simulator(self.binaries, ["--link", self.link], verbose=False)
        self.logs = os.path.join(self.sandbox.root, "logs")
        os.makedirs(self.logs)
        self.sandbox.log = os.path.join(self.logs, "Dervix.txt")
        self.sandbox.env.update({"QT_QPA_PLATFORM": "xcb", "DISPLAY": os.environ["DISPLAY"],
                                 "DERVIX_LOG": self.sandbox.log})
        self.sandbox.write_profile(module_profile(self.link, Logging="1", SplitMult=SPLIT_MULT,
                                                  Splitcode=SPLIT_CODE))
        self.program = None
        self.problems = []
        self.figures = []

    # ---- what can be seen from outside --------------------------------

    def answered(self):
        """Frames the module has answered since it started."""
        return int(self.sim.status()["answered"])

    def log_mark(self):
        try:
            return os.path.getsize(self.sandbox.log)
        except FileNotFoundError:
            return 0

    def log_count(self, text, mark=0):
        return self.sandbox.log_text(mark).count(text)

    def boxes_logged(self, mark):
        """The texts of the boxes opened since mark, from their log lines."""
        return [line.split("MSGBOX ", 1)[1] for line in self.sandbox.log_text(mark).split("\n") if "MSGBOX " in line]

    def profile_value(self, key):
        return Profile(self.sandbox.read_profile()).check().get("Dervix", key)

    def check(self, ok, problem):
        if not ok:
            self.problems.append(problem)

    # ---- the program ------------------------------------------------------

    def start(self):
        before = self.answered()
        self.program = Program(self.sandbox)
        self.program.connect().close()
        wait_until(lambda: self.answered() >= before + 2, 10, 0.01, what="CHECK and the split code at start-up")

    def restart(self, why):
        print("field trial: a fresh program (%s)" % why, flush=True)
        self.program.close()
        self.start()

    # ---- phases -----------------------------------------------------------

    def pollers(self):
        seconds = self.args.poll_seconds
        mark = self.log_mark()
        watcher = ReplyWatcher(self.program)
        try:
            frames0 = self.answered()
            pollers = start_pollers(self.program, [(0, "fresh"), (0, "status"), (0.05, "status"),
                                                   (0.05, "status"), (0.05, "flow")])
            # Replies taken in and frames answered by the end of each quarter.
            # Under this load most replies are rightly dropped by the next
            # request's discard: a program that hears takes in some 8 in 100
            # (on a 2-core machine), one that has gone deaf none.
            quarters = []
            for _ in range(4):
                time.sleep(seconds / 4)
                quarters.append((watcher.replies, self.answered() - frames0))
            self.problems.extend(stop_pollers(pollers))
            # The replies to the last requests, on the line or in the program.
            time.sleep(0.3)
            requests, frames, taken = sum(p.answers for p in pollers), self.answered() - frames0, watcher.replies
            hearing = self.hearing_check(watcher)
        finally:
            watcher.close()
        lost = self.log_count("Port lost", mark)
        logged = self.boxes_logged(mark)
        timeouts = [b for b in logged if TIME_OUT in b]
        shown = len(boxes())
        each = [(r - r0, f - f0) for (r0, f0), (r, f) in zip([(0, 0)] + quarters, quarters)]
        by_quarter = ", ".join("%d of %d" % quarter for quarter in each)
        deaf = [i + 1 for i, (r, f) in enumerate(each) if r * 1000 < f]
        self.figures.append(
            "pollers: %d requests in %d s (fresh connections %.0f a second, one connection %.0f a second), "
            "%d frames answered, %d replies taken in (by quarter %s); hearing check: %d STATUS requests, "
            "%d frames answered, %d replies taken in, %d heard; %d time-out boxes, %d boxes on the screen, "
            "%d false line losses"
            % ((requests, seconds, pollers[0].answers / seconds, pollers[1].answers / seconds, frames, taken,
                by_quarter) + hearing + (len(timeouts), shown, lost)))
        asked, answered, heard_taken, heard = hearing
        self.check(lost == 0, "a healthy line was taken for lost")
        self.check(pollers[0].answers > 50 * seconds,
                   "the poller on fresh connections got only %d answers" % pollers[0].answers)
        self.check(pollers[1].answers > 100 * seconds, "the full-rate poller got only %d answers" % pollers[1].answers)
        self.check(not deaf, "deaf under load: fewer than 1 in 1000 of the frames answered taken in, in quarter %s"
                   % ", ".join(map(str, deaf)))
        self.check(heard == asked and 2 * heard_taken >= answered,
                   "deaf after the load: %d of %d STATUS requests heard, %d replies taken in of %d frames the "
                   "module answered" % (heard, asked, heard_taken, answered))
        self.check(not timeouts, "a time-out box while the module answered every frame: %r" % timeouts[:1])
        self.check(not shown, "boxes opened while polling: %d" % shown)

    def hearing_check(self, watcher, asked=8, spacing=0.5, wait=2.0):
        """STATUS requests one at a time, each given wait s to be heard.
        Returns the requests, the frames the module answered meanwhile (a
        program that hears nothing sends each again), the replies taken in
        and the requests heard."""
        client = self.program.connect()
        frames0, taken0 = self.answered(), watcher.replies
        heard = 0
        try:
            for _ in range(asked):
                began = time.monotonic()
                before = watcher.replies
                client.poke("txtDVXScmd", "STATUS")
                heard += watcher.wait_past(before, wait)
                time.sleep(max(0.0, spacing - (time.monotonic() - began)))
        finally:
            client.close()
        return asked, self.answered() - frames0, watcher.replies - taken0, heard

    def start_stop(self):
        mark = self.log_mark()
        if self.sim.status()["valve"] == "running" and not self.profile_value("Running"):
            # Left running by an earlier program, which this one knows nothing of.
            client = self.program.connect()
            client.poke("txtDVXScmd", "STOP")
            client.close()
        link = self.program.connect()
        operator = Operator(self.sim, self.sandbox, link, VALVE_FREQUENCY)
        watcher = ReplyWatcher(self.program)
        rng = random.Random(self.args.seed)
        # A module on a real line takes milliseconds to answer (a byte at
        # 19200 baud takes half of one, the valve its own time): the
        # simulator's 3 ms would leave a request so little time to overtake
        # START or STOP that a 20 Hz poller meets it once in some fifteen
        # presses; with 20 ms, within the first few, as in a lab.
        self.sim.command("delay %d" % self.args.module_delay)
        rotations0 = self.profile_value("Rotations")
        frames0 = self.answered()
        pollers = start_pollers(self.program, [(0.05, "status")])
        presses = runs = 0
        try:
            for _ in range(self.args.presses):
                runs += operator.press()
                presses += 1
                time.sleep(rng.uniform(0.3, 1.3) if self.profile_value("Running") else rng.uniform(0.1, 0.4))
        except Failure as e:
            self.problems.append("start/stop, press %d: %s" % (presses + 1, e))
        self.problems.extend(stop_pollers(pollers))
        if presses == self.args.presses:
            try:
                # The button takes the next press once the poller has gone
                # too; a run of over a second must add to "Rotations".
                runs += operator.press()
                presses += 1
                time.sleep(1.1)
                runs += operator.press()
                presses += 1
            except Failure as e:
                self.problems.append("start/stop, press %d (the poller gone): %s" % (presses + 1, e))
        requests, frames, taken = sum(p.answers for p in pollers), self.answered() - frames0, watcher.replies
        watcher.close()
        link.close()
        self.sim.command("delay 0")
        logged, shown = self.boxes_logged(mark), len(boxes())
        self.figures.append("start/stop: %d presses (%d runs counted) beside a 20 Hz poller, %d requests, "
                            "%d frames answered, %d replies taken in, %d boxes (%d on the screen); Rotations %s -> %s"
                            % (presses, runs, requests, frames, taken, len(logged), shown, rotations0 or "empty",
                               self.profile_value("Rotations") or "empty"))
        self.check(not logged and not shown, "boxes during Start/Stop: %r" % logged[:1])

    def replugs(self):
        rng = random.Random(self.args.seed)
        mark = self.log_mark()
        watcher = ReplyWatcher(self.program)
        frames0 = self.answered()
        pollers = start_pollers(self.program, [(0.05, "status")] * 7)
        for _ in range(self.args.replugs):
            self.sim.command("hangup")
            time.sleep(rng.uniform(0.1, 0.3))
            self.sim.command("replug")
            time.sleep(rng.uniform(0.1, 0.3))
        outages = self.args.replugs
        # A device pulled again before its reopening was through is one loss.
        try:
            wait_until(lambda: self.log_count("Port reopened", mark) >= self.log_count("Port lost", mark) and
                       self.sim.status()["device"] != "hung-up", 10, 0.05, what="the last reopening")
        except Failure as e:
            self.problems.append(str(e))
        self.problems.extend(stop_pollers(pollers))
        # The module answers the line as it is now, and the program hears it.
        client = self.program.connect()
        before, heard = self.answered(), watcher.replies
        client.poke("txtDVXScmd", "STATUS")
        try:
            wait_until(lambda: self.answered() != before, 5, what="the module's answer after the replugs")
        except Failure as e:
            self.problems.append(str(e))
        self.check(watcher.wait_past(heard, 2.0), "the module's STATUS reply after the replugs was not heard")
        client.close()
        requests, frames, taken = sum(p.answers for p in pollers), self.answered() - frames0, watcher.replies
        watcher.close()
        lost, reopened = self.log_count("Port lost", mark), self.log_count("Port reopened", mark)
        logged, shown = self.boxes_logged(mark), len(boxes())
        failures = [b for b in logged if b.startswith(SEND_FAILURE)]
        self.figures.append("replugs: %d outages under 7 pollers, %d losses logged, %d reopened; %d requests, "
                            "%d frames answered, %d replies taken in; %d send-failure boxes, %d other boxes, "
                            "%d on the screen" % (outages, lost, reopened, requests, frames, taken, len(failures),
                                                  len(logged) - len(failures), shown))
        self.check(1 <= lost <= outages, "%d outages, %d losses logged" % (outages, lost))
        self.check(not failures, "%d boxes told of a failed send: %r" % (len(failures), failures[:1]))
        self.check(len(logged) <= outages and shown <= outages, "%d boxes (%d on the screen) for %d outages"
                   % (len(logged), shown, outages))

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
        said = len(self.program.output())
        pollers = start_pollers(self.program, [(0.005, "status")])
        outages = 0
        for _ in range(self.args.log_outages):
            time.sleep(0.12)
            os.rename(self.logs, self.logs + ".away")
            outages += 1
            time.sleep(0.12)
            os.rename(self.logs + ".away", self.logs)
        time.sleep(0.3)
        self.problems.extend(stop_pollers(pollers))
        told = self.program.output()[said:].count("cannot be written")
        shown = len(boxes() - before)
        self.figures.append("log folder: %d outages, %d told on standard error, %d boxes" % (outages, told, shown))
        self.check(1 <= told <= outages, "%d outages, %d told on standard error" % (outages, told))
        self.check(shown <= 1, "%d boxes for a log folder that came and went" % shown)

    def run(self):
        phases = {"pollers": self.pollers, "startstop": self.start_stop, "replugs": self.replugs,
                  "clients": self.leaving_clients, "log": self.flapping_log}
        began = time.monotonic()
        try:
            self.start()
            unwell = False
            for name in self.args.phases.split(","):
                if unwell or boxes():
                    self.restart("the phase before failed or left a box open")
                failed_before = len(self.problems)
                started = time.monotonic()
                phases[name]()
                unwell = len(self.problems) > failed_before
                self.figures[-1] += " (%.0f s)" % (time.monotonic() - started)
                print("field trial: " + self.figures[-1], flush=True)
                if not self.program.alive():
                    self.problems.append("dervix ended: %s" % self.program.output()[-2000:])
                    break
        finally:
            if self.program:
                self.program.close()
            self.sim.stop()
        print("field trial: %.0f s in all" % (time.monotonic() - began))
        if self.problems:
            for p in self.problems:
                print("field trial FAILED: " + p, file=sys.stderr)
            print("program's last log lines:\n" + "\n".join(self.sandbox.log_text(max(0, self.log_mark() - 4000))
                                                             .splitlines()[-30:]), file=sys.stderr)
            self.sandbox.keep = True
        self.sandbox.cleanup()
        return 1 if self.problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin-dir")
    parser.add_argument("--poll-seconds", type=int, default=40)
    parser.add_argument("--presses", type=int, default=20, help="Start/Stop presses beside the poller (even)")
    parser.add_argument("--module-delay", type=int, default=20,
                        help="ms the module takes for a reply during Start/Stop")
    parser.add_argument("--replugs", type=int, default=40)
    parser.add_argument("--log-outages", type=int, default=39)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--phases", default="pollers,startstop,replugs,clients,log",
                        help="which phases, in order (default: all)")
    args = parser.parse_args()
    if args.presses % 2:
        parser.error("--presses must be even: the valve ends stopped")
    print("field trial: seed %d" % args.seed)
    if "DISPLAY" not in os.environ:
        print("field trial: needs an X display (scripts/field-trial.sh starts one)", file=sys.stderr)
        return 2
    return Trial(args).run()


if __name__ == "__main__":
    sys.exit(main())
