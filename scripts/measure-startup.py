#!/usr/bin/env python3
"""Start-up time of dervix: from the moment the process is started to the
first byte of its CHECK frame on the serial line, side by side with a bare Qt
Widgets program (bench/bench_bare_startup: a menu bar and a 23 x 5 table).

    scripts/measure-startup.py [--runs 20] [--xvfb] [--logging]

The script plays the line itself: it opens a pseudo-terminal, points the
program's port at it through a private profile and waits on the other side
for the first byte, timing both ends on the same monotonic clock. Each run
starts the program afresh and ends it with SIGTERM once the whole frame
("G1%" CR LF) has arrived and its peak resident memory has been read. The two programs
take turns, so a busy machine weighs on both alike. By default they draw
offscreen; --xvfb starts a virtual X server and uses the ordinary X11 path
instead. Prints every run, then for each program the median and the maximum,
and the ratios of dervix's medians to the bare program's.
"""

import argparse
import os
import select
import shutil
import statistics
import subprocess
import sys
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dervix_testkit import Failure, Sandbox, bin_dir, module_profile  # noqa: E402

CHECK_FRAME = b"G1%\r\n"


def start_xvfb():
    if not shutil.which("Xvfb"):
        raise Failure("Xvfb is not installed (apt-get install xvfb)")
    for number in range(90, 140):
        if not os.path.exists("/tmp/.X11-unix/X%d" % number) and not os.path.exists("/tmp/.X%d-lock" % number):
            server = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while not os.path.exists("/tmp/.X11-unix/X%d" % number):
                if server.poll() is not None or time.monotonic() > deadline:
                    raise Failure("Xvfb :%d did not start" % number)
                time.sleep(0.05)
            return server, ":%d" % number
    raise Failure("no free X display number")


def drain(fd):
    while select.select([fd], [], [], 0)[0]:
        try:
            if not os.read(fd, 4096):
                return
        except OSError:
            return


def peak_rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise Failure("no VmHWM for process %d" % pid)


def one_run(command, env, master):
    """Milliseconds from start to the first byte, and the peak resident
    memory in kB once the window has had time to be drawn."""
    drain(master)
    began = time.monotonic_ns()
    program = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if not select.select([master], [], [], 20)[0]:
            raise Failure("%s: no byte on the line within 20 s" % os.path.basename(command[0]))
        first = time.monotonic_ns()
        frame = os.read(master, 64)
        deadline = time.monotonic() + 2
        while b"\n" not in frame and time.monotonic() < deadline:
            if select.select([master], [], [], 0.1)[0]:
                frame += os.read(master, 64)
        if frame != CHECK_FRAME:
            raise Failure("the first frame was %r, not the CHECK frame" % frame)
        time.sleep(0.3)
        return (first - began) / 1e6, peak_rss_kb(program.pid)
    finally:
        # Ended as a session ends it: a program killed outright would leave
        # the serial device's lock file, and every next start would measure
        # the removal of a stale lock instead of an ordinary start.
        program.terminate()
        try:
            program.wait(10)
        except subprocess.TimeoutExpired:
            program.kill()
            program.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=20, help="how many starts of each (default 20)")
    parser.add_argument("--bin-dir", help="folder of dervix (default $DERVIX_BIN_DIR or build)")
    parser.add_argument("--xvfb", action="store_true", help="draw on a virtual X server, not offscreen")
    parser.add_argument("--logging", action="store_true", help="with the log file on (Logging=1)")
    args = parser.parse_args()

    sandbox = Sandbox(bin_dir(args.bin_dir), prefix="dervix-startup-")
    xvfb = None
    master, slave = os.openpty()
    try:
        tty.setraw(slave)
        sandbox.write_profile(module_profile(os.ttyname(slave), Logging="1" if args.logging else "0"))
        if args.xvfb:
            xvfb, display = start_xvfb()
            sandbox.env["DISPLAY"] = display
            del sandbox.env["QT_QPA_PLATFORM"]  # the program picks xcb itself
        bare = os.path.join(bin_dir(args.bin_dir), "bench", "bench_bare_startup")
        if not os.path.exists(bare):
            raise Failure("%s is missing: build the target bench_bare_startup" % bare)
        programs = (("dervix", [sandbox.program]), ("bare Qt", [bare, os.ttyname(slave)]))
        figures = {name: ([], []) for name, _ in programs}
        for run in range(1, args.runs + 1):
            for name, command in programs:
                ms, kb = one_run(command, sandbox.env, master)
                figures[name][0].append(ms)
                figures[name][1].append(kb)
                print("run %2d %-8s %7.1f ms %7d kB" % (run, name, ms, kb), flush=True)
        mode = "Xvfb/xcb" if args.xvfb else "offscreen"
        print("start to first byte of CHECK, %d runs each (%s%s):" % (args.runs, mode, ", logging on" if args.logging else ""))
        for name, (times, peaks) in figures.items():
            print("  %-8s median %6.1f ms, max %6.1f ms; peak resident memory median %d kB"
                  % (name, statistics.median(times), max(times), statistics.median(peaks)))
        (own_t, own_m), (bare_t, bare_m) = ((statistics.median(t), statistics.median(m)) for t, m in figures.values())
        print("  ratio    time %.2f, memory %.2f" % (own_t / bare_t, own_m / bare_m))
    except Failure as e:
        print("FAIL: %s" % e)
        return 1
    finally:
        os.close(master)
        os.close(slave)
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait()
        sandbox.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
