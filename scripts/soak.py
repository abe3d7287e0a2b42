#!/usr/bin/env python3
"""Soak test: the real dervix program (headless) against dervantix-sim with
faults on the line, driven through its link with many thousands of requests.

    scripts/soak.py                    # long form, 20000 requests
    scripts/soak.py --requests 2000    # short form (CI)

Requests: START / STOP, STATUS, MODEL, ID, CHECK, LOAD, HOME, TEST, split
codes (" 12") placed in txtDVXScmd, flow-rate pokes, reads of the fields.
Faults, switched at random: reply delays, replies in pieces, stray bytes,
slow replies that force a repeat, short silences. Faults that would open a
message box are left out: a headless box waits for an answer for ever
(more than 15 repeats, a CHECK reply not beginning with "G", a pulled
adapter, a flow rate over 100).

Checks:
  * the program never ends by itself and never shows a message box; at the
    end it ends through the link's KILL request, with exit status 0;
  * resident memory after warm-up does not grow by more than a margin;
  * "Rotations" grows by exactly the valve frequency times the whole
    seconds of every run, each run timed from the moments the simulator sent
    the START and STOP replies (a small slack for the program's latency);
  * the profile still parses, with every key in place and the values last
    written ("FlowRate", "Running" empty, "ErrorStatus" empty, ...).
Exit status 0 when everything held, 1 otherwise.
"""

import argparse
import os
import random
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dervix_testkit import Failure, Program, Sandbox, Simulator, bin_dir, module_profile, wait_until  # noqa: E402
from profile_text import Profile, numeric_value  # noqa: E402
from line_faults import LineFaults  # noqa: E402
from run_ledger import SPLITS, RunLedger  # noqa: E402

FLOW_TEXTS = ["0", "100", "20", "7.5", "12", "99.99", "0.4", "5", "25.5", "1.2.3", ".", "", "3", "60"]


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.requests = 0
        self.kinds = {}
        self.episodes = {"fault changes": 0, "silences": 0, "repeated requests": 0, "repeated START/STOP": 0}
        self.silent = False
        self.running = False
        self.current = None         # the request the program now awaits
        self.replies_seen = 0       # reply ends already attributed
        self.flow = None            # text last placed in txtFlowRate
        self.log_offset = 0
        self.rss = []
        mult, code, freq = next(s for s in SPLITS if s[0] == args.split)
        self.split_mult, self.split_code = mult, code
        # Just below the yellow level: the badge changes colour on the way.
        self.ledger = RunLedger(freq, 999900.5)

    # ---- driving ----------------------------------------------------------

    def count(self, kind):
        self.requests += 1
        self.kinds[kind] = self.kinds.get(kind, 0) + 1

    def command(self, text, frames=1, wait=True, timeout=10.0):
        """Places a request in txtDVXScmd and, unless the module is silent,
        waits until every reply it caused has been sent."""
        before, _ = self.sim.counts()
        self.link.poke("txtDVXScmd", text)
        self.count(text.strip() if text.strip().isalpha() else "split code")
        self.current = text.strip().upper() if text.strip().isalpha() else text
        self.sim.wait_frames(before + frames, timeout=5.0)
        if wait:
            self.settle(timeout)

    def settle(self, timeout=10.0):
        self.sim.wait_replies_sent(timeout)
        time.sleep(0.003)  # the program reads the last piece
        self.attribute_replies()

    def attribute_replies(self):
        """Replies the module sent go to the request the program awaits."""
        times = self.sim.reply_times(self.replies_seen)
        self.replies_seen += len(times)
        for t in times:
            self.ledger.reply(self.current, t)

    def running_mark(self):
        return Profile(self.sandbox.read_profile()).check().get("Dervix", "Running")

    def toggle_run(self):
        slow = self.rng.random() < 0.15
        if slow:
            self.episodes["repeated START/STOP"] += 1
            self.faults.repeat_next()
        word = "STOP" if self.running else "START"
        if word == "STOP":
            # The program counts from the second it stored; only the end of
            # the run is left to this script's timing.
            self.ledger.stored_start(self.running_mark())
        self.command(word)
        # The reply is applied when "Running" changes; wait for that before
        # anything else is sent, or the next request would discard it.
        if word == "START":
            wait_until(lambda: self.running_mark(), 3.0, what="\"Running\" set after START")
        else:
            wait_until(lambda: self.running_mark() == "", 3.0, what="\"Running\" emptied after STOP")
            # "Rotations" is written just after "Running" is emptied, by the
            # same handler; the link answers only once that has returned.
            self.link.request("Label3")
        self.running = not self.running
        if slow:
            self.faults.restore()

    def poke_flow(self):
        text = self.rng.choice(FLOW_TEXTS + ["%.2f" % self.rng.uniform(0, 100)])
        self.link.poke("txtFlowRate", text)
        self.count("flow")
        self.flow = text

    def read_fields(self):
        self.count("read")
        shown = self.link.request("txtFlowRate")
        if shown != self.flow:
            raise Failure("txtFlowRate reads %r, last poked %r" % (shown, self.flow))
        for item, text in (("Label3", "Flow Rate"), ("Label5", "mL/min")):
            self.count("read")
            if self.link.request(item) != text:
                raise Failure("%s does not read %r" % (item, text))
        self.count("read")
        if not self.silent and self.link.request("DervixResp") != "":
            raise Failure("DervixResp holds text while the link is idle")

    def bad_request(self):
        self.count("refused")
        line = self.rng.choice(["REQUEST nosuch", "POKE Label3 x", "HELLO", "POKE txtFlowRate"])
        answer = self.link.call(line)
        if not answer.startswith("ERR "):
            raise Failure("%r answered %r, not an error" % (line, answer))

    def load(self):
        self.command("LOAD")
        self.flow = self.link.request("txtFlowRate")
        self.count("read")
        if not re.fullmatch(r"\d{0,3}", self.flow):
            raise Failure("after LOAD txtFlowRate reads %r" % self.flow)

    def ordinary(self):
        op = self.rng.choices(
            ["status", "split", "flow", "model", "id", "check", "load", "read", "refused", "home", "test"],
            [25, 20, 25, 3, 3, 2, 2, 3, 1, 0.15, 0.04])[0]
        if op == "status":
            self.command("STATUS")
        elif op == "split":
            self.command(" %d" % self.rng.randint(0, 255))
        elif op == "flow":
            self.poke_flow()
        elif op in ("model", "id"):
            self.command(op.upper())
        elif op == "check":
            if self.faults.replies_whole():
                self.command("CHECK", frames=2)  # a good reply sends the split code
            else:
                self.command("STATUS")
        elif op == "load":
            self.load()
        elif op == "read":
            self.read_fields()
        elif op == "refused":
            self.bad_request()
        elif op == "home":
            self.command("HOME")
        elif op == "test":
            self.command("TEST")

    def slow_episode(self):
        """One request whose reply comes after the program repeated it."""
        self.episodes["repeated requests"] += 1
        self.faults.repeat_next()
        self.command(self.rng.choice(["STATUS", "MODEL", "ID", " 19"]))
        self.faults.restore()

    def silence_episode(self):
        """A module that says nothing for a while: fewer than 15 repeats."""
        self.episodes["silences"] += 1
        self.sim.command("silence on")
        self.silent = True
        end = time.monotonic() + self.rng.uniform(0.3, 1.3)
        sent = False
        while time.monotonic() < end:
            op = self.rng.choice(["status", "split", "flow"])
            if op == "flow":
                self.poke_flow()
            else:
                self.command("STATUS" if op == "status" else " %d" % self.rng.randint(0, 255), wait=False)
                sent = True
            time.sleep(self.rng.uniform(0.02, 0.25))
        self.sim.command("silence off")
        self.silent = False
        if sent:
            # The program repeats the awaited request; the module answers it.
            _, ends = self.sim.counts()
            wait_until(lambda: self.sim.counts()[1] > ends, 2.0, what="a reply after the silence")
        self.settle()

    # ---- checks -----------------------------------------------------------

    def scan_log(self):
        text = self.sandbox.log_text(self.log_offset)
        self.log_offset += len(text.encode("latin-1"))
        for line in text.splitlines():
            if ": MSGBOX " in line:
                raise Failure("the program showed a message box: " + line.strip())

    def alive(self):
        if not self.program.alive():
            raise Failure("dervix ended by itself with status %s" % self.program.proc.returncode)

    def sample_rss(self):
        self.rss.append((self.requests, self.program.rss_kb()))

    def check_profile(self):
        text = self.sandbox.read_profile()
        profile = Profile(text).check()
        expected = {
            ("Dervix", "Settings"): "19200,N,8,1", ("Dervix", "CommPort"): "1", ("Dervix", "ModuleID"): "1",
            ("Dervix", "Logging"): "1", ("Dervix", "SplitMult"): self.split_mult,
            ("Dervix", "SplitCode"): str(self.split_code), ("Dervix", "FlowRate"): self.flow,
            ("Dervix", "Running"): "", ("Dervix", "ErrorStatus"): "",
            ("Dervix", "KelmRed"): "1500000", ("Dervix", "KelmYellow"): "1000000",
            ("Ports", "Com1"): self.sim.pty, ("Other program", "Colour"): "blue",
        }
        for (section, key), value in expected.items():
            found = profile.get(section, key)
            if found != value:
                raise Failure("profile [%s] %s is %r, expected %r" % (section, key, found, value))
        if "; kept by every write\n" not in text:
            raise Failure("the profile lost its comment line")
        print(self.ledger.check(numeric_value(profile.get("Dervix", "Rotations")), self.args.early, self.args.late))

    # ---- the run ----------------------------------------------------------

    def prepare(self):
        self.sandbox = Sandbox(bin_dir(self.args.bin_dir), prefix="dervix-soak-", keep=self.args.keep)
        self.sim = Simulator(self.sandbox.binaries)
        self.faults = LineFaults(self.sim, self.rng)
        self.sandbox.write_profile(
            "; kept by every write\n" + module_profile(
                self.sim.pty, Logging="1", SplitMult=self.split_mult, SplitCode=str(self.split_code),
                FlowRate="20", Rotations=" %r" % self.ledger.start_rotations)
            + "[Other program]\nColour=blue\n")
        self.program = Program(self.sandbox)
        self.link = self.program.connect()
        # Start-up asks CHECK; the good reply sends the stored split code.
        self.sim.wait_frames(2, timeout=5.0)
        self.settle()
        self.flow = self.link.request("txtFlowRate")

    def run(self):
        total = self.args.requests
        warm = max(200, total // 10)
        step = max(100, total // 20)
        next_faults = 0
        next_toggle = self.rng.randint(10, 200)
        next_sample = warm
        next_report = total // 10
        began = time.monotonic()
        while self.requests < total:
            if self.requests >= next_faults:
                self.faults.pick()
                self.episodes["fault changes"] += 1
                next_faults = self.requests + self.rng.randint(50, 400)
            if self.requests >= next_toggle:
                self.toggle_run()
                next_toggle = self.requests + self.rng.randint(10, 200)
            elif self.rng.random() < 1 / 800:
                self.silence_episode()
            elif self.rng.random() < 1 / 300:
                self.slow_episode()
            else:
                self.ordinary()
            self.alive()
            if self.requests >= next_sample:
                self.sample_rss()
                self.scan_log()
                next_sample = self.requests + step
            if self.requests >= next_report:
                print("%6d requests, %4.0f s, %d runs, RSS %d kB"
                      % (self.requests, time.monotonic() - began, len(self.ledger.runs), self.program.rss_kb()),
                      flush=True)
                next_report += total // 10
        if self.running:
            self.toggle_run()
        self.settle()
        self.alive()
        self.sample_rss()
        self.scan_log()
        elapsed = time.monotonic() - began
        print("requests: %d in %.0f s (%s)" % (self.requests, elapsed,
              ", ".join("%s %d" % kv for kv in sorted(self.kinds.items(), key=lambda kv: -kv[1]))))
        print("faults: " + ", ".join("%s %d" % kv for kv in self.episodes.items()))
        print("module: %s; %d frames, %d replies"
              % (" ".join("%s=%s" % kv for kv in self.sim.status().items() if kv[0] != "device"),
                 *self.sim.counts()))

        first, last = self.rss[0][1], self.rss[-1][1]
        print("RSS after warm-up (%d requests): %d kB; at the end: %d kB; highest %d kB; growth %+d kB "
              "(margin %d kB)" % (self.rss[0][0], first, last, max(r for _, r in self.rss), last - first,
                                  self.args.rss_margin_kb))
        if last - first > self.args.rss_margin_kb:
            raise Failure("resident memory grew by %d kB" % (last - first))

        self.check_profile()

        self.link.send_only("POKE txtDVXScmd KILL")
        status = self.program.wait(10)
        if status != 0:
            raise Failure("KILL ended the program with status %d" % status)
        print("log: %d bytes, no message box; ended by KILL with status 0" % os.path.getsize(self.sandbox.log))

    def close(self):
        if getattr(self, "program", None) is not None:
            self.program.close()
        if getattr(self, "sim", None) is not None:
            self.sim.stop()
        if getattr(self, "sandbox", None) is not None:
            self.sandbox.cleanup()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--requests", type=int, default=20000, help="requests over the link (default 20000)")
    parser.add_argument("--seed", type=int, default=None, help="random seed (default: from the clock)")
    parser.add_argument("--bin-dir", help="folder of dervix and dervantix-sim (default $DERVIX_BIN_DIR or build)")
    parser.add_argument("--split", default="50.000", choices=[s[0] for s in SPLITS],
                        help="stored split multiplier; its valve frequency counts the rotations")
    parser.add_argument("--rss-margin-kb", type=int, default=1024,
                        help="largest growth of resident memory after warm-up (default 1024 kB)")
    # The simulator reports a reply on its standard error after writing it
    # to the line; on a busy machine the report can lag the program's
    # reading of it by far more than the usual millisecond.
    parser.add_argument("--late", type=float, default=0.35,
                        help="seconds the program may take to apply a reply (default 0.35)")
    parser.add_argument("--early", type=float, default=0.25,
                        help="seconds a reply may be applied before this script sees it sent (default 0.25)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    if args.seed is None:
        args.seed = int(time.time())
    print("soak: %d requests, seed %d" % (args.requests, args.seed), flush=True)
    soak = Soak(args)
    try:
        soak.prepare()
        soak.run()
    except (Failure, OSError) as e:
        print("FAIL: %s" % e)
        if getattr(soak, "sandbox", None) is not None:
            tail = soak.sandbox.log_text()[-3000:]
            if tail:
                print("last lines of the program's log:\n" + tail)
            soak.sandbox.keep = True
        return 1
    finally:
        soak.close()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
