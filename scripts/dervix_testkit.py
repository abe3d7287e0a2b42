"""Shared pieces of the end-to-end scripts: a private sandbox for one run of
the program, the standalone module simulator and a client of the program's
link. (The profile reader is profile_text.py.)

Standard library only. Everything a script starts lives in a temporary
folder (profile, runtime folder, a copy of the program so that its log file
Dervix.txt lands there too), so the user's own files are never touched.
"""

import collections
import os
import queue
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import urllib.parse

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Failure(Exception):
    """A check failed; the message says which and why."""


def bin_dir(explicit=None):
    """Where dervix, dervantix-sim and dervix-link were built."""
    folder = explicit or os.environ.get("DERVIX_BIN_DIR") or os.path.join(REPO, "build")
    for name in ("dervix", "dervantix-sim"):
        if not os.access(os.path.join(folder, name), os.X_OK):
            raise Failure("%s not found in %s (build first, or give --bin-dir)" % (name, folder))
    return folder


def wait_until(predicate, timeout, interval=0.002, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


class Sandbox:
    """A temporary home for one test: config, runtime folder, program copy."""

    def __init__(self, binaries, prefix="dervix-test-", keep=False):
        self.binaries = binaries
        self.keep = keep
        self.root = tempfile.mkdtemp(prefix=prefix)
        self.config = os.path.join(self.root, "config")
        self.runtime = os.path.join(self.root, "run")
        self.program_dir = os.path.join(self.root, "program")
        for folder in (self.config, self.program_dir):
            os.makedirs(folder)
        os.makedirs(self.runtime, mode=0o700)
        # The log is written beside the executable: a copy keeps it here
        # (a copy, not a link, so a rebuild meanwhile cannot touch it).
        self.program = os.path.join(self.program_dir, "dervix")
        shutil.copy2(os.path.join(binaries, "dervix"), self.program)
        self.profile = os.path.join(self.config, "profile.ini")
        self.log = os.path.join(self.program_dir, "Dervix.txt")
        self.socket = os.path.join(self.runtime, "Server")
        self.env = dict(os.environ)
        self.env.update({
            "XDG_CONFIG_HOME": self.config,
            "DERVIX_RUNTIME_DIR": self.runtime,
            "DERVIX_PROFILE": self.profile,
            "QT_QPA_PLATFORM": "offscreen",
        })
        self.env.pop("DISPLAY", None)
        # Set by the user, it would take the log away from the sandbox.
        self.env.pop("DERVIX_LOG", None)
        self.env.pop("WAYLAND_DISPLAY", None)

    def write_profile(self, text):
        with open(self.profile, "w", encoding="latin-1", newline="") as f:
            f.write(text)

    def read_profile(self):
        with open(self.profile, "rb") as f:
            return f.read().decode("latin-1")

    def log_text(self, start=0):
        try:
            with open(self.log, "rb") as f:
                f.seek(start)
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def cleanup(self):
        if self.keep:
            print("sandbox kept: %s" % self.root)
        else:
            shutil.rmtree(self.root, ignore_errors=True)


def module_profile(pty, **dervix_keys):
    """Profile text for the program talking to the simulator on pty."""
    keys = {"Settings": "19200,N,8,1", "CommPort": "1", "ModuleID": "1"}
    keys.update(dervix_keys)
    lines = ["[Dervix]"] + ["%s=%s" % (k, v) for k, v in keys.items()]
    lines += ["", "[Ports]", "Com1=%s" % pty, ""]
    return "\n".join(lines)


class Simulator:
    """dervantix-sim on its own pseudo-terminal, driven through stdin.

    With -v the simulator shows every frame ("<- ") and every piece of a
    reply ("-> ") on stderr; a reader thread counts them with their times.
    verbose=False leaves -v out, for loads of thousands of frames a second
    that the reader would slow down: then only status() counts frames.
    """

    def __init__(self, binaries, extra_args=(), verbose=True):
        self.proc = subprocess.Popen(
            [os.path.join(binaries, "dervantix-sim"), *(["-v"] if verbose else []), *extra_args],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = self.proc.stdout.readline().decode().strip()
        if not first.startswith("/"):
            self.proc.kill()
            said = self.proc.communicate()[1].decode(errors="replace").strip()
            raise Failure("simulator did not print its terminal: %r %s" % (first, said))
        self.pty = first
        self._answers = queue.Queue()
        self._lock = threading.Condition()
        self.frames = []        # (wall time, frame bytes)
        self.reply_ends = []    # wall time of each reply's last byte
        self.sent_bytes = 0
        # The latest lines it wrote on stderr, to show when a run fails;
        # bounded, as a soak runs for hours.
        self.said = collections.deque(maxlen=200)
        threading.Thread(target=self._read_answers, daemon=True).start()
        threading.Thread(target=self._read_traffic, daemon=True).start()

    def _read_answers(self):
        for line in self.proc.stdout:
            self._answers.put(line.decode(errors="replace").rstrip("\n"))
        self._answers.put(None)

    def _read_traffic(self):
        for line in self.proc.stderr:
            now = time.time()
            text = line.decode(errors="replace").rstrip("\n")
            data = urllib.parse.unquote_to_bytes(text[3:])
            with self._lock:
                self.said.append((now, text))
                if text.startswith("<- "):
                    self.frames.append((now, data))
                elif text.startswith("-> "):
                    self.sent_bytes += len(data)
                    # A reply ends in LF, or in 254 when stray bytes are on.
                    if data.endswith(b"\n") or data.endswith(b"\xfe"):
                        self.reply_ends.append(now)
                self._lock.notify_all()

    def command(self, line, timeout=5.0):
        """One command line; returns the answer after "ok"."""
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()
        try:
            answer = self._answers.get(timeout=timeout)
        except queue.Empty:
            raise Failure("simulator did not answer %r" % line)
        if answer is None:
            raise Failure("simulator ended (answering %r)" % line)
        if not answer.startswith("ok"):
            raise Failure("simulator refused %r: %s" % (line, answer))
        return answer[2:].strip()

    def status(self):
        fields = {}
        for word in self.command("status").split():
            key, _, value = word.partition("=")
            fields[key] = value
        return fields

    def counts(self):
        with self._lock:
            return len(self.frames), len(self.reply_ends)

    def wait_frames(self, count, timeout):
        with self._lock:
            if not self._lock.wait_for(lambda: len(self.frames) >= count, timeout):
                raise Failure("the module saw %d frames, expected %d" % (len(self.frames), count))

    def wait_replies_sent(self, timeout):
        """Until every frame the module chose to answer has its whole reply out."""
        deadline = time.monotonic() + timeout
        while True:
            answered = int(self.status()["answered"])
            with self._lock:
                ends = len(self.reply_ends)
                if ends >= answered:
                    return
                left = deadline - time.monotonic()
                if left <= 0:
                    raise Failure("the module owes %d replies after %.1f s" % (answered - ends, timeout))
                self._lock.wait(min(left, 0.05))

    def reply_times(self, start):
        with self._lock:
            return list(self.reply_ends[start:])

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.command("quit", timeout=2)
            except Failure:
                pass
            try:
                self.proc.wait(timeout=3)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def link_escape(text):
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")


def link_unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append({"\\": "\\", "r": "\r", "n": "\n"}.get(text[i + 1], "?"))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


class LinkClosed(Failure):
    pass


class LinkClient:
    """The program's link: one request line in, one answer line out."""

    def __init__(self, path, timeout=10.0):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(timeout)
        self.sock.connect(path)
        self.buffer = b""

    def call(self, line, timeout=None):
        if timeout is not None:
            self.sock.settimeout(timeout)
        try:
            self.sock.sendall(line.encode("utf-8") + b"\n")
            while b"\n" not in self.buffer:
                chunk = self.sock.recv(65536)
                if not chunk:
                    raise LinkClosed("link closed while waiting for the answer to %r" % line)
                self.buffer += chunk
        except socket.timeout:
            raise Failure("no answer to %r on the link" % line)
        except (BrokenPipeError, ConnectionResetError):
            raise LinkClosed("link closed sending %r" % line)
        answer, _, self.buffer = self.buffer.partition(b"\n")
        return answer.decode("utf-8")

    def poke(self, item, text, timeout=None):
        answer = self.call("POKE %s %s" % (item, link_escape(text)), timeout)
        if answer != "OK":
            raise Failure("POKE %s %r answered %r" % (item, text, answer))

    def request(self, item):
        answer = self.call("REQUEST " + item)
        if not answer.startswith("OK "):
            raise Failure("REQUEST %s answered %r" % (item, answer))
        return link_unescape(answer[3:])

    def send_only(self, line):
        """Sends without waiting for the answer ("KILL" has none). The
        client must stay connected until the answer comes or the program
        closes the link: requests of a client that has gone are dropped."""
        self.sock.sendall(line.encode("utf-8") + b"\n")

    def close(self):
        self.sock.close()


class Program:
    """The real dervix program of a sandbox, headless."""

    def __init__(self, sandbox, args=()):
        self.sandbox = sandbox
        self.out = open(os.path.join(sandbox.root, "program.out"), "ab")
        self.started = time.monotonic()
        self.proc = subprocess.Popen([sandbox.program, *args], env=sandbox.env,
                                     stdout=self.out, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)

    @property
    def pid(self):
        return self.proc.pid

    def alive(self):
        return self.proc.poll() is None

    def connect(self, timeout=15.0):
        """A link client, once the program listens (start-up is then done)."""
        deadline = time.monotonic() + timeout
        while True:
            if not self.alive():
                raise Failure("dervix ended during start-up with %s; output: %s"
                              % (self.proc.returncode, self.output()))
            try:
                return LinkClient(self.sandbox.socket)
            except (FileNotFoundError, ConnectionRefusedError):
                if time.monotonic() >= deadline:
                    raise Failure("dervix did not open its link within %.0f s" % timeout)
                time.sleep(0.005)

    def rss_kb(self):
        with open("/proc/%d/status" % self.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise Failure("no VmRSS for %d" % self.pid)

    def output(self):
        self.out.flush()
        with open(self.out.name, "rb") as f:
            return f.read().decode(errors="replace").strip()

    def kill(self):
        if self.alive():
            self.proc.send_signal(signal.SIGKILL)
        return self.proc.wait()

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("dervix did not end within %.0f s" % timeout)

    def close(self):
        if self.alive():
            self.kill()
        self.out.close()
