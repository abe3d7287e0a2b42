#!/usr/bin/env python3
"""One end-to-end run of the Windows program under Wine, against the Linux
module simulator: COM1 is mapped to the simulator's pseudo-terminal, the
settings are in the [Dervix] section of the Wine prefix's WIN.INI, and
dervix-link.exe talks to dervix.exe over DDE. Checks the start-up CHECK and
split code, a START and a STOP, the rotation count written to WIN.INI, and
that KILL ends the program.

A failure shows what the program, its log and the simulator said. Pass or
fail, nothing of the run is left behind: no program, no Wine server of the
prefix, no simulator, no COM1 mapping.

Run by scripts/windows.sh, with the environment of scripts/wine-env.sh.
  windows_e2e.py WINDOWS_BUILD_DIR LINUX_BIN_DIR
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

from dervix_testkit import Failure, Simulator, wait_until

WINE = "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
PORTS = r"HKLM\Software\Wine\Ports"


def wine(args, timeout=60):
    return subprocess.run([WINE, *args], capture_output=True, timeout=timeout, text=True, errors="replace")


def wineserver(option):
    # WINEPREFIX names the server: only this run's prefix is touched.
    try:
        subprocess.run([WINESERVER, option], capture_output=True, check=False, timeout=30)
    except subprocess.TimeoutExpired:
        print("windows e2e: wineserver %s did not end within 30 s" % option)


def profile_section(text):
    """The [Dervix] keys of a WIN.INI text, names in lower case."""
    keys, inside = {}, False
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            inside = line.lower() == "[dervix]"
        elif inside and "=" in line:
            key, _, value = line.partition("=")
            keys[key.strip().lower()] = value.strip()
    return keys


def tail(path, count=40):
    try:
        with open(path, "rb") as f:
            lines = f.read().decode("latin-1").splitlines()
    except FileNotFoundError:
        return "(no such file)"
    return "\n".join(lines[-count:]) if lines else "(empty)"


class Run:
    def __init__(self, build, linux_bin):
        self.build, self.linux_bin = build, linux_bin
        self.win_ini = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "win.ini")
        self.scratch = tempfile.mkdtemp(prefix="dervix-win-e2e-")
        self.output = os.path.join(self.scratch, "dervix.out")
        self.log = os.path.join(self.scratch, "Dervix.txt")
        self.sim = None
        self.program = None
        self.mapped = False
        self.began = time.time()

    def keys(self):
        with open(self.win_ini, encoding="latin-1") as f:
            return profile_section(f.read())

    def rotations(self):
        try:
            return float(self.keys().get("rotations", ""))
        except ValueError:
            return 0.0

    def link(self, *args):
        try:
            done = wine([os.path.join(self.build, "dervix-link.exe"), *args], timeout=30)
        except subprocess.TimeoutExpired:
            raise Failure("dervix-link.exe %s did not end within 30 s" % " ".join(args))
        return done.returncode, (done.stdout + done.stderr).strip()

    def command(self, text):
        code, said = self.link("set", "txtDVXScmd", text)
        if code != 0:
            raise Failure("%s not accepted over DDE (status %d): %s" % (text, code, said))

    def seed_profile(self):
        # A configured module on COM1, a run's count behind it, in the
        # operator's own WIN.INI; other sections stay as they are. Logging
        # on, so that a failure can show what the program did.
        text = ""
        if os.path.exists(self.win_ini):
            with open(self.win_ini, encoding="latin-1") as f:
                text = f.read()
        kept, skipping = [], False
        for line in text.splitlines():
            if line.strip().startswith("["):
                skipping = line.strip().lower() == "[dervix]"
            if not skipping:
                kept.append(line)
        kept += ["[Dervix]", "CommPort=1", "ModuleID=1", "Settings=19200,N,8,1", "Splitcode=7",
                 "SplitMult=83.333", "Rotations=1000", "Logging=1"]
        with open(self.win_ini, "w", encoding="latin-1", newline="\r\n") as f:
            f.write("\n".join(kept) + "\n")

    def start(self):
        self.sim = Simulator(self.linux_bin)
        # The port mapping is read when Wine starts: the prefix's server
        # (and anything an earlier run left in it) ends first.
        self.mapped = True
        done = wine(["reg", "add", PORTS, "/v", "COM1", "/d", self.sim.pty, "/f"])
        if done.returncode != 0:
            raise Failure("cannot map COM1: %s" % done.stderr)
        wineserver("-k")
        wineserver("-w")
        self.seed_profile()
        env = dict(os.environ)
        # Qt sends its messages to the debugger on Windows; this channel
        # puts them in the program's output.
        env["WINEDEBUG"] = "-all,warn+debugstr"
        env["DERVIX_LOG"] = "Z:" + self.log.replace("/", "\\")
        self.began = time.time()
        with open(self.output, "wb") as out:
            self.program = subprocess.Popen([WINE, os.path.join(self.build, "dervix.exe")], env=env,
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)

    def check(self):
        self.start()
        started = time.monotonic()
        # CHECK answered, then the saved split code sent: the module has it.
        wait_until(lambda: self.sim.status()["split-code"] == "7", 30, 0.2, "the module to take split code 7")
        bodies = [frame for _, frame in self.sim.frames]
        if b"G1%" not in bodies:
            raise Failure("no CHECK frame reached the module: %r" % bodies)
        split = next(i for i, frame in enumerate(bodies) if frame.startswith(b"G1F"))
        if split < bodies.index(b"G1%"):
            raise Failure("the split code went out before the CHECK: %r" % bodies)
        print("windows e2e: started, checked and split code sent in %.1f s" % (time.monotonic() - started))

        self.command("START")
        wait_until(lambda: self.sim.status()["valve"] == "running", 10, 0.1, "the valve to run")
        wait_until(lambda: self.keys().get("running"), 10, 0.1, "Running in WIN.INI")
        time.sleep(2.5)
        self.command("STOP")
        wait_until(lambda: self.sim.status()["valve"] == "stopped", 10, 0.1, "the valve to stop")
        # The count is written when the STOP reply has been handled.
        wait_until(lambda: self.rotations() > 1000, 10, 0.1, "a rotation count above 1000 in WIN.INI")
        keys = self.keys()
        print("windows e2e: after a run of about 2.5 s, WIN.INI has Rotations=%s Running=%r"
              % (keys["rotations"], keys.get("running", "")))
        if keys.get("running"):
            raise Failure("Running not emptied after STOP")

        self.command("KILL")
        try:
            status = self.program.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise Failure("dervix.exe still runs 20 s after KILL")
        if status != 0:
            raise Failure("KILL ended dervix.exe with status %d" % status)

    def report(self):
        if self.program is None:
            print("--- dervix.exe was not started")
        else:
            print("--- dervix.exe's output (Wine, Qt's messages):\n%s" % tail(self.output))
            print("--- its log:\n%s" % tail(self.log))
            try:
                print("--- WIN.INI [Dervix]: %s" % self.keys())
            except OSError as e:
                print("--- WIN.INI: %s" % e)
        if self.sim is None:
            return
        try:
            print("--- the simulator: %s" % self.sim.command("status"))
        except Failure as e:
            print("--- the simulator: %s" % e)
        for when, text in list(self.sim.said)[-40:]:
            print("%7.2f s %s" % (when - self.began, text))

    def cleanup(self):
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        if self.mapped:
            # A terminal's number goes to whoever opens one next.
            try:
                wine(["reg", "delete", PORTS, "/v", "COM1", "/f"], timeout=30)
            except subprocess.TimeoutExpired:
                print("windows e2e: could not remove the COM1 mapping")
        # Ends whatever else runs in the prefix (a dervix-link.exe waiting,
        # Wine's own services) and the server, which writes the registry.
        wineserver("-k")
        wineserver("-w")
        if self.sim is not None:
            self.sim.stop()
        shutil.rmtree(self.scratch, ignore_errors=True)


def main():
    # A run stopped from outside still cleans up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    began = time.monotonic()
    run = Run(sys.argv[1], sys.argv[2])
    try:
        run.check()
    except BaseException as e:
        if isinstance(e, Failure):
            print("windows e2e FAILED: %s" % e)
        else:
            print("windows e2e FAILED:")
            traceback.print_exc(file=sys.stdout)
        run.report()
        return 1
    finally:
        run.cleanup()
    print("windows e2e: passed in %.1f s" % (time.monotonic() - began))
    return 0


if __name__ == "__main__":
    sys.exit(main())
