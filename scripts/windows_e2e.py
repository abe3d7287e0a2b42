#!/usr/bin/env python3
"""One end-to-end run of the Windows program under Wine, against the Linux
module simulator: COM1 is mapped to the simulator's pseudo-terminal, the
settings are in the [Dervix] section of the Wine prefix's WIN.INI, and
dervix-link.exe talks to dervix.exe over DDE. Checks the start-up CHECK and
split code, a START and a STOP, and the rotation count written to WIN.INI.

Run by scripts/windows.sh, with the environment of scripts/wine-env.sh.
  windows_e2e.py WINDOWS_BUILD_DIR LINUX_BIN_DIR
"""

import os
import re
import subprocess
import sys
import time

from dervix_testkit import Failure, Simulator, wait_until

WINE = "/usr/lib/wine/wine64"


def wine(args, timeout=60):
    return subprocess.run([WINE, *args], capture_output=True, timeout=timeout, text=True, errors="replace")


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


def main():
    build, linux_bin = sys.argv[1], sys.argv[2]
    prefix = os.environ["WINEPREFIX"]
    win_ini = os.path.join(prefix, "drive_c", "windows", "win.ini")

    def link(*args):
        done = wine([os.path.join(build, "dervix-link.exe"), *args], timeout=30)
        return done.returncode, done.stdout.strip()

    sim = Simulator(linux_bin)
    program = None
    try:
        # The port mapping is read when Wine starts.
        done = wine(["reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/d", sim.pty, "/f"])
        if done.returncode != 0:
            raise Failure("cannot map COM1: %s" % done.stderr)
        subprocess.run(["wineserver", "-k"], check=False)
        subprocess.run(["wineserver", "-w"], check=False)
        # A configured module on COM1, a run's count behind it, in the
        # operator's own WIN.INI; other sections stay as they are.
        text = open(win_ini, encoding="latin-1").read() if os.path.exists(win_ini) else ""
        kept, skipping = [], False
        for line in text.splitlines():
            if line.strip().startswith("["):
                skipping = line.strip().lower() == "[dervix]"
            if not skipping:
                kept.append(line)
        kept += ["[Dervix]", "CommPort=1", "ModuleID=1", "Settings=19200,N,8,1", "Splitcode=7",
                 "SplitMult=83.333", "Rotations=1000"]
        with open(win_ini, "w", encoding="latin-1", newline="\r\n") as f:
            f.write("\n".join(kept) + "\n")

        program = subprocess.Popen([WINE, os.path.join(build, "dervix.exe")],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        started = time.monotonic()
        # CHECK answered, then the saved split code sent: the module has it.
        wait_until(lambda: sim.status()["split-code"] == "7", 90, 0.2, "the module to take split code 7")
        bodies = [frame for _, frame in sim.frames]
        if b"G1%" not in bodies:
            raise Failure("no CHECK frame reached the module: %r" % bodies)
        print("windows e2e: started, checked and split code sent in %.1f s" % (time.monotonic() - started))

        code, _ = link("set", "txtDVXScmd", "START")
        if code != 0:
            raise Failure("START not accepted over DDE")
        wait_until(lambda: sim.status()["valve"] == "running", 10, 0.1, "the valve to run")
        wait_until(lambda: profile_section(open(win_ini, encoding="latin-1").read()).get("running"), 10, 0.1,
                   "Running in WIN.INI")
        time.sleep(2.5)
        link("set", "txtDVXScmd", "STOP")
        wait_until(lambda: sim.status()["valve"] == "stopped", 10, 0.1, "the valve to stop")
        # The count is written when the STOP reply has been handled.
        wait_until(lambda: float(profile_section(open(win_ini, encoding="latin-1").read()).get("rotations", "0"))
                   > 1000, 10, 0.1, "the rotation count in WIN.INI")
        keys = profile_section(open(win_ini, encoding="latin-1").read())
        print("windows e2e: after a run of about 2.5 s, WIN.INI has Rotations=%s Running=%r"
              % (keys["rotations"], keys.get("running", "")))
        if keys.get("running"):
            raise Failure("Running not emptied after STOP")
        link("set", "txtDVXScmd", "KILL")
        program.wait(timeout=20)
        program = None
        print("windows e2e: passed")
    finally:
        if program is not None:
            program.kill()
            print(program.communicate()[0].decode(errors="replace")[-2000:])
        sim.stop()


if __name__ == "__main__":
    try:
        main()
    except Failure as e:
        print("windows e2e FAILED: %s" % e)
        sys.exit(1)
