#!/usr/bin/env python3
"""The end-to-end run of the Windows program under Wine, against the Linux
module simulator behind COM1, as a lab PC has it: run by a user who is not
root, with the prefix's WIN.INI read-only (a user without administrator
rights may not write it on Windows). Two starts:

1. The zip on such a PC: no mapping of [Dervix], an earlier program's
   section in WIN.INI. The settings are taken over into the user's own
   file, %APPDATA%\\Dervix\\profile.ini, the operator is told once where
   they live, and WIN.INI stays as it was.
2. Installed: the installer's mapping of WIN.INI's [Dervix] to
   HKCU\\Software\\Dervix, and a VirtualStore copy of WIN.INI where Windows
   put the earlier 32-bit program's latest writes. The section is taken over
   from that copy; every write lands in the registry, where another program
   reads it through GetProfileStringA while Dervix runs; the session's end
   closes Dervix. WIN.INI and the copy stay as they were.

Each start must be exactly CHECK, its reply and the split code on the line;
then a flow rate poked and START and STOP through dervix-link.exe over DDE,
with the flow rate and the rotation count stored.

A failure shows what the program, its log and the simulator said. Pass or
fail, nothing of the run is left behind: no program, no Wine server of the
prefix, no simulator, no COM1 mapping.

It empties HKCU\\Software\\Dervix and %APPDATA%\\Dervix and makes WIN.INI
read-only in its Wine prefix, so it runs only in a prefix of its own: given
in WINEPREFIX as a missing or empty folder, it makes the prefix there and
marks it as its own (PREFIX_MARK), and reuses it on later runs; a prefix
without that mark it refuses and leaves as it is.

Run by scripts/windows.sh, with the environment of scripts/wine-env.sh
("as-is": the prefix is this script's to make).
  windows_e2e.py WINDOWS_BUILD_DIR LINUX_BIN_DIR
"""

import getpass
import os
import re
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
MAPPING = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\IniFileMapping\win.ini"
USER_KEY = r"HKCU\Software\Dervix"
# In the prefix's top folder, where Wine keeps nothing of its own.
PREFIX_MARK = ".dervix-e2e-prefix"
# A prefix takes about 12 s to make on a quiet 2-core machine and several
# times that beside two builds: 300 s is ample, yet a hung wineboot ends well
# inside CI's patience.
PREFIX_LIMIT = 300
EARLIER = ["CommPort=1", "ModuleID=1", "Settings=19200,N,8,1", "SplitMult=83.333", "Logging=1"]


def wine(args, timeout=60):
    return subprocess.run([WINE, *args], capture_output=True, timeout=timeout, text=True, errors="replace")


def wineserver(option):
    # WINEPREFIX names the server: only this run's prefix is touched.
    try:
        subprocess.run([WINESERVER, option], capture_output=True, check=False, timeout=30)
    except subprocess.TimeoutExpired:
        print("windows e2e: wineserver %s did not end within 30 s" % option)


def make_prefix(prefix):
    """Makes a Wine prefix in prefix (missing or empty) and marks it as this
    script's; on failure removes what it made and says why."""
    os.makedirs(prefix, exist_ok=True)
    env = dict(os.environ, WINEPREFIX=prefix)
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    env.setdefault("WINEDEBUG", "-all")
    # To a file, not a pipe: Wine's services inherit it and outlive wineboot.
    with tempfile.TemporaryFile() as said:
        boot = subprocess.Popen([WINE, "wineboot", "--init"], env=env, stdin=subprocess.DEVNULL, stdout=said,
                                stderr=subprocess.STDOUT, start_new_session=True)
        try:
            status = boot.wait(timeout=PREFIX_LIMIT)
            why = "wineboot --init failed with status %d" % status if status else ""
        except subprocess.TimeoutExpired:
            os.killpg(boot.pid, signal.SIGKILL)
            boot.wait()
            why = "wineboot --init did not end within %d s" % PREFIX_LIMIT
        if not why:
            try:
                subprocess.run([WINESERVER, "-w"], env=env, timeout=60, check=False)
            except subprocess.TimeoutExpired:
                why = "Wine's server did not end within 60 s after wineboot --init"
        if not why:
            with open(os.path.join(prefix, PREFIX_MARK), "w") as mark:
                mark.write("Made by scripts/windows_e2e.py, which may empty its Dervix settings.\n")
            return True
        said.seek(0)
        output = said.read().decode(errors="replace").strip().splitlines()[-5:]
    try:
        for option in ("-k", "-w"):
            subprocess.run([WINESERVER, option], env=env, timeout=30, check=False, capture_output=True)
    except subprocess.TimeoutExpired:
        pass
    # The folder was missing or empty: empty again, it is made anew next time.
    for name in os.listdir(prefix):
        path = os.path.join(prefix, name)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path, ignore_errors=True)
        else:
            os.remove(path)
    sys.stderr.write("windows e2e: cannot make a Wine prefix in %s: %s\n%s\n" % (prefix, why, "\n".join(output)))
    return False


def own_prefix():
    """True when WINEPREFIX is this script's prefix, made now if need be;
    else says on stderr why it will not run there."""
    prefix = os.environ.get("WINEPREFIX", "")
    if not prefix:
        sys.stderr.write("windows e2e: set WINEPREFIX to a missing or empty folder for a Wine prefix of its own\n")
        return False
    if os.path.isfile(os.path.join(prefix, PREFIX_MARK)):
        return True
    if os.path.lexists(prefix) and not (os.path.isdir(prefix) and not os.listdir(prefix)):
        sys.stderr.write("windows e2e: refuses the Wine prefix %s: it was not made by this script (it has no %s). "
                         "The run empties HKCU\\Software\\Dervix and %%APPDATA%%\\Dervix and makes WIN.INI "
                         "read-only in its prefix: give a missing or empty folder, and it makes a prefix of its "
                         "own there.\n" % (prefix, PREFIX_MARK))
        return False
    print("windows e2e: making a Wine prefix of its own in %s" % prefix)
    return make_prefix(prefix)


def section(text, name="dervix"):
    """The keys of a section of an INI text, names in lower case."""
    keys, inside = {}, False
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            inside = line.lower() == "[%s]" % name
        elif inside and "=" in line:
            key, _, value = line.partition("=")
            keys[key.strip().lower()] = value.strip()
    return keys


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except FileNotFoundError:
        return ""


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        os.chmod(path, 0o644)
    with open(path, "w", encoding="latin-1", newline="\r\n") as f:
        f.write(text)


def with_section(text, lines):
    """text with its [Dervix] section replaced by lines."""
    kept, skipping = [], False
    for line in text.splitlines():
        if line.strip().startswith("["):
            skipping = line.strip().lower() == "[dervix]"
        if not skipping:
            kept.append(line)
    return "\n".join(kept + ["[Dervix]"] + lines) + "\n"


def number(value):
    try:
        return float(value)
    except (TypeError, ValueError):
        return 0.0


class Run:
    def __init__(self, build, linux_bin):
        self.build, self.linux_bin = build, linux_bin
        prefix = os.environ["WINEPREFIX"]
        self.win_ini = os.path.join(prefix, "drive_c", "windows", "win.ini")
        home = os.path.join(prefix, "drive_c", "users", getpass.getuser(), "AppData")
        self.own_file = os.path.join(home, "Roaming", "Dervix", "profile.ini")
        self.virtual_store = os.path.join(home, "Local", "VirtualStore", "windows", "win.ini")
        self.scratch = tempfile.mkdtemp(prefix="dervix-win-e2e-")
        self.output = os.path.join(self.scratch, "dervix.out")
        self.log = os.path.join(self.scratch, "Dervix.txt")
        self.sim = None
        self.program = None
        self.mapped_port = False
        self.began = time.time()
        self.what = ""
        self.log_from = 0

    # -- what the program stored, and where
    def own(self):
        return section(read(self.own_file))

    def registry(self, *keys):
        """The values another program of the lab's reads through GetProfileStringA."""
        done = wine([os.path.join(self.build, "tests", "profile-get.exe"), *keys])
        if done.returncode != 0:
            raise Failure("profile-get.exe failed: %s" % done.stderr)
        found = {}
        for line in done.stdout.splitlines():
            key, equals, value = line.partition("=")
            if equals:
                found[key.strip().lower()] = value.strip()
        return found

    def log_text(self):
        """What the log says since this start."""
        return read(self.log)[self.log_from:]

    # -- the program and its link
    def link(self, *args):
        try:
            done = wine([os.path.join(self.build, "dervix-link.exe"), *args], timeout=30)
        except subprocess.TimeoutExpired:
            raise Failure("dervix-link.exe %s did not end within 30 s" % " ".join(args))
        return done.returncode, (done.stdout + done.stderr).strip()

    def poke(self, item, text):
        code, said = self.link("set", item, text)
        if code != 0:
            raise Failure("%s %s not accepted over DDE (status %d): %s" % (item, text, code, said))

    def start(self, what):
        self.sim = Simulator(self.linux_bin)
        # The port mapping is read when Wine starts: the prefix's server
        # (and anything an earlier start left in it) ends first.
        self.mapped_port = True
        done = wine(["reg", "add", PORTS, "/v", "COM1", "/d", self.sim.pty, "/f"])
        if done.returncode != 0:
            raise Failure("cannot map COM1: %s" % done.stderr)
        wineserver("-k")
        wineserver("-w")
        env = dict(os.environ)
        env.pop("DERVIX_PROFILE", None)
        # Qt sends its messages to the debugger on Windows; this channel
        # puts them in the program's output.
        env["WINEDEBUG"] = "-all,warn+debugstr"
        env["DERVIX_LOG"] = "Z:" + self.log.replace("/", "\\")
        self.began = time.time()
        self.what = what
        self.log_from = len(read(self.log))
        with open(self.output, "ab") as out:
            out.write(("\n--- %s\n" % what).encode())
            out.flush()
            self.program = subprocess.Popen([WINE, os.path.join(self.build, "dervix.exe")], env=env,
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)

    def frames(self):
        return [frame for _, frame in self.sim.frames]

    def startup_exchange(self, code):
        started = time.monotonic()
        wait_until(lambda: self.sim.status()["split-code"] == code, 30, 0.2,
                   "the module to take split code %s" % code)
        # A lost reply shows as a second CHECK, or a second split code a
        # time-out later.
        time.sleep(1.0)
        expected = [b"G1%", b"G1F" + code.encode()]
        if self.frames() != expected:
            raise Failure("the start-up exchange was %r, not exactly %r" % (self.frames(), expected))
        print("windows e2e: %s: CHECK, reply, split code %s in %.1f s" % (self.what, code, time.monotonic() - started))

    def run_valve(self, stored):
        """The flow rate poked, a run of about 2.5 s; stored() gives the keys."""
        before = number(stored().get("rotations"))
        self.poke("txtFlowRate", "12")
        wait_until(lambda: stored().get("flowrate") == "12", 10, 0.2, "FlowRate=12 to be stored")
        count = len(self.frames())
        self.poke("txtDVXScmd", "START")
        wait_until(lambda: self.sim.status()["valve"] == "running", 10, 0.1, "the valve to run")
        wait_until(lambda: stored().get("running"), 10, 0.2, "Running to be stored")
        time.sleep(2.5)
        self.poke("txtDVXScmd", "STOP")
        wait_until(lambda: self.sim.status()["valve"] == "stopped", 10, 0.1, "the valve to stop")
        # The count is written when the STOP reply has been handled.
        wait_until(lambda: number(stored().get("rotations")) > before, 10, 0.2,
                   "a rotation count above %g to be stored" % before)
        keys = stored()
        if keys.get("running"):
            raise Failure("Running not emptied after STOP")
        if len(self.frames()) != count + 2:
            raise Failure("START and STOP took %r" % self.frames()[count:])
        print("windows e2e: %s: FlowRate=%s, Rotations from %g to %s" % (self.what, keys["flowrate"], before,
                                                                          keys["rotations"]))

    def ended(self, how, timeout=20):
        try:
            status = self.program.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("dervix.exe still runs %d s after %s" % (timeout, how))
        if status != 0:
            raise Failure("%s ended dervix.exe with status %d" % (how, status))
        self.program = None

    # -- the two starts
    def zip_on_a_locked_pc(self):
        for view in ("/reg:64", "/reg:32"):
            wine(["reg", "delete", MAPPING, "/v", "Dervix", "/f", view])
        wine(["reg", "delete", USER_KEY, "/f"])
        shutil.rmtree(os.path.dirname(self.own_file), ignore_errors=True)
        if os.path.exists(self.virtual_store):
            os.remove(self.virtual_store)
        write(self.win_ini, with_section(read(self.win_ini), EARLIER + ["Splitcode=7", "Rotations=1000"]))
        os.chmod(self.win_ini, 0o444)
        win_ini = read(self.win_ini)

        self.start("the zip")
        self.startup_exchange("7")
        own_path = "C:\\users\\%s\\AppData\\Roaming\\Dervix\\profile.ini" % getpass.getuser()
        for said in ("%d settings taken over from C:\\windows\\win.ini" % (len(EARLIER) + 2),
                     "MSGBOX Dervix keeps your settings in %s" % own_path):
            if said.lower() not in self.log_text().lower():
                raise Failure("the log does not say %r" % said)
        if self.own().get("splitcode") != "7" or self.own().get("rotations") != "1000":
            raise Failure("the earlier settings are not in %s: %r" % (own_path, self.own()))
        print("windows e2e: the zip: WIN.INI's [Dervix] taken over into %s, the operator told" % own_path)
        self.run_valve(self.own)
        self.poke("txtDVXScmd", "KILL")
        self.ended("KILL")
        if read(self.win_ini) != win_ini:
            raise Failure("WIN.INI changed")

    def installed(self):
        # As the installer has it, in both registry views.
        for view in ("/reg:64", "/reg:32"):
            done = wine(["reg", "add", MAPPING, "/v", "Dervix", "/d", r"USR:Software\Dervix", "/f", view])
            if done.returncode != 0:
                raise Failure("cannot map [Dervix]: %s" % done.stderr)
        wine(["reg", "delete", USER_KEY, "/f"])
        # A PC where the zip never ran: the earlier program's copy is all there is.
        shutil.rmtree(os.path.dirname(self.own_file), ignore_errors=True)
        write(self.virtual_store, with_section("[windows]\n", EARLIER + ["Splitcode=9", "Rotations=2000"]))
        win_ini, copy = read(self.win_ini), read(self.virtual_store)

        self.start("installed")
        self.startup_exchange("9")
        if "settings taken over from C:\\users\\%s\\AppData\\Local\\VirtualStore" % getpass.getuser() not in \
                self.log_text():
            raise Failure("the log does not say the settings were taken over from the VirtualStore copy")
        if "MSGBOX" in self.log_text():
            raise Failure("a box was shown: %s" % self.log_text())
        keys = self.registry("Splitcode", "Rotations", "CommPort")
        if number(keys.get("rotations")) != 2000 or keys.get("splitcode") != "9":
            raise Failure("another program reads %r, not the VirtualStore copy's values" % keys)
        print("windows e2e: installed: the VirtualStore copy's [Dervix] taken over; another program reads %r" % keys)
        self.run_valve(lambda: self.registry("FlowRate", "Running", "Rotations"))
        count = len(self.frames())
        for _ in range(3):
            self.poke("txtDVXScmd", "STATUS")
        self.sim.wait_frames(count + 3, 10)
        time.sleep(0.5)
        if len(self.frames()) != count + 3:
            raise Failure("3 STATUS requests took %r" % self.frames()[count:])

        # The session ends: Dervix closes as its window would.
        done = wine(["wineboot", "--end-session"], timeout=60)
        self.ended("the end of the session (wineboot --end-session: %s)" % done.returncode)
        keys = self.registry("FormTop", "FormLeft")
        if "formtop" not in keys or "formleft" not in keys:
            raise Failure("the session's end did not store the window's place: %r" % keys)
        if read(self.win_ini) != win_ini or read(self.virtual_store) != copy:
            raise Failure("WIN.INI or its VirtualStore copy changed")
        print("windows e2e: installed: the session's end closed Dervix, its place stored; WIN.INI untouched")

    def check(self):
        for run in (self.zip_on_a_locked_pc, self.installed):
            try:
                run()
            finally:
                self.stop_program()

    def stop_program(self):
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        self.program = None
        if self.sim is not None:
            self.sim.stop()

    def report(self):
        # Without the dump of Wine's server that its end may leave there.
        said = [line for line in read(self.output).splitlines() if not re.match(r"0x[0-9a-f]+:", line)]
        print("--- dervix.exe's output (Wine, Qt's messages):\n%s" % "\n".join(said[-40:]))
        print("--- its log:\n%s" % "\n".join(self.log_text().splitlines()[-40:]))
        print("--- WIN.INI [Dervix]: %s" % section(read(self.win_ini)))
        print("--- %s: %s" % (self.own_file, self.own()))
        print("--- %s" % wine(["reg", "query", USER_KEY]).stdout.strip())
        sim = self.sim
        if sim is None:
            return
        print("--- the simulator, last frames: %r" % self.frames()[-10:])
        for when, text in list(sim.said)[-40:]:
            print("%7.2f s %s" % (when - self.began, text))

    def cleanup(self):
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        self.stop_program()
        if self.mapped_port:
            # A terminal's number goes to whoever opens one next.
            try:
                wine(["reg", "delete", PORTS, "/v", "COM1", "/f"], timeout=30)
            except subprocess.TimeoutExpired:
                print("windows e2e: could not remove the COM1 mapping")
        # Ends whatever else runs in the prefix (a dervix-link.exe waiting,
        # Wine's own services) and the server, which writes the registry.
        wineserver("-k")
        wineserver("-w")
        shutil.rmtree(self.scratch, ignore_errors=True)


def main():
    # A run stopped from outside still cleans up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    began = time.monotonic()
    if len(sys.argv) != 3:
        sys.stderr.write("usage: %s WINDOWS_BUILD_DIR LINUX_BIN_DIR\n" % sys.argv[0])
        return 2
    if os.geteuid() == 0:
        sys.stderr.write("windows e2e: refuses to run as root, for whom Wine lets every file be written: "
                         "run it as another user (scripts/windows.sh does)\n")
        return 2
    if not own_prefix():
        return 2
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
