#!/usr/bin/env python3
"""Slow link reader: the real dervix program (headless, --simulate) against
a link client that asks ahead and reads more slowly than the program answers,
as a bulk poller doing work per answer does.

    scripts/link-slow-reader.py                        # 300 MB at 30 MB/s
    scripts/link-slow-reader.py --megabytes 1000 --rate 20 --ahead 0

The client places a 4000-character text in txtFlowRate, then keeps up to
--ahead "REQUEST txtFlowRate" unanswered (0: sends them all at once) and
reads the 4 kB answers at --rate. Meanwhile a second client asks for a
label every 50 ms.

Then two clients watch the response slot DervixResp (WATCH), as scripts
that follow the module's replies do, while a third places --watch-changes
new 4 kB texts in it (none ending in CR LF: the program waits for the rest
of such a reply): one watcher reads nothing until the last has been placed,
the other reads all along.

Checks:
  * every answer comes, in order, byte for byte;
  * the program's resident memory while the answers are read, and after
    the last one, stays within --rss-margin-mb of the figure before: the
    program answers at the pace the client reads instead of keeping what
    the client has not taken yet;
  * the second client is answered all along, each time within
    --other-limit seconds (generous: it only catches a client left waiting
    behind the slow one's backlog);
  * the program then still answers the slow client;
  * the watcher that reads has the latest text within --other-limit seconds
    of its placing, though the other reads nothing; the program's memory
    stays within --rss-margin-mb meanwhile (a watcher that does not read
    holds only the latest text of the item); the slow watcher then gets
    whole lines, the changes in order, the latest last;
  * the program ends on KILL.
Exit status 0 when everything held, 1 otherwise.
"""

import argparse
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dervix_testkit import Failure, Program, Sandbox, bin_dir, link_escape, wait_until  # noqa: E402

# A request line is at most 4096 bytes, "POKE txtFlowRate " included. The
# text begins with a number, so the field takes it as a flow rate and
# opens no box.
FLOW_TEXT = "20" + "".join(chr(ord("a") + i % 26) for i in range(3998))
REQUEST = b"REQUEST txtFlowRate\n"
BATCH = 256  # requests per write


class Asker(threading.Thread):
    """Writes the requests, never more than `ahead` unanswered (0: no limit)."""

    def __init__(self, sock, count, ahead):
        super().__init__(daemon=True)
        self.sock, self.count, self.ahead = sock, count, ahead
        self.answered = 0
        self.progress = threading.Condition()
        self.error = None

    def answers_read(self, total):
        with self.progress:
            self.answered = total
            self.progress.notify()

    def run(self):
        try:
            sent = 0
            while sent < self.count:
                n = min(BATCH, self.count - sent)
                with self.progress:
                    while self.ahead and sent + n - self.answered > self.ahead:
                        self.progress.wait()
                self.sock.sendall(REQUEST * n)
                sent += n
        except OSError as e:
            self.error = e


class Prober(threading.Thread):
    """The second client: asks for a label now and then, timing each answer."""

    def __init__(self, program, interval):
        super().__init__(daemon=True)
        self.link = program.connect()
        self.interval = interval
        self.done = threading.Event()
        self.times = []
        self.error = None

    def run(self):
        try:
            while not self.done.is_set():
                began = time.monotonic()
                if self.link.request("Label3") != "Flow Rate":
                    raise Failure("Label3 read wrong while the slow client was served")
                self.times.append(time.monotonic() - began)
                self.done.wait(self.interval)
        except Exception as e:  # reported by the main thread
            self.error = e


def mb(kb):
    return kb / 1024.0


def read_slowly(program, sock, answer, count, rate, on_read):
    """Reads `count` answers at `rate` bytes a second, each compared with
    `answer`, telling on_read how many have come; returns the seconds taken,
    the highest resident memory seen and samples of (seconds, bytes read,
    resident kB)."""
    pending = b""
    got = received = 0
    highest = 0
    samples = []
    began = time.monotonic()
    next_sample = began
    while got < count:
        now = time.monotonic()
        if now >= next_sample:
            rss = program.rss_kb()
            highest = max(highest, rss)
            samples.append((now - began, received, rss))
            next_sample = now + 0.1
        allowed = int(rate * (now - began)) - received
        if allowed < 4096:
            time.sleep(max(0.001, (4096 - allowed) / rate))
            continue
        chunk = sock.recv(min(allowed, 1 << 16))
        if not chunk:
            raise Failure("the program closed the link after %d of %d answers" % (got, count))
        received += len(chunk)
        pending += chunk
        whole = len(pending) // len(answer)
        if pending[:whole * len(answer)] != answer * whole:
            at = next(i for i in range(whole) if pending[i * len(answer):(i + 1) * len(answer)] != answer)
            raise Failure("answer %d is not the text placed in the field: %r..."
                          % (got + at + 1, pending[at * len(answer):at * len(answer) + 60]))
        got += whole
        pending = pending[whole * len(answer):]
        if whole:
            on_read(got)
    if pending:
        raise Failure("%d bytes came after the last answer" % len(pending))
    return time.monotonic() - began, highest, samples


class Follower(threading.Thread):
    """A watcher that reads all along: the latest text it has had, and when."""

    def __init__(self, link):
        super().__init__(daemon=True)
        self.link = link
        self.latest = None
        self.at = 0.0
        self.changes = 0
        self.error = None

    def run(self):
        pending = self.link.buffer
        try:
            while True:
                chunk = self.link.sock.recv(1 << 16)
                if not chunk:
                    return
                *lines, pending = (pending + chunk).split(b"\n")
                for line in lines:
                    if not line.startswith(b"CHANGED DervixResp "):
                        raise Failure("the watcher got %r" % line[:60])
                    self.changes += 1
                    self.latest, self.at = line[19:].decode(), time.monotonic()
        except Exception as e:  # reported by the main thread
            self.error = e


def watch_changes(args, program):
    """The watchers' part; returns a line of figures."""
    slow, fast, placer = program.connect(), program.connect(), program.connect()
    for watcher in (slow, fast):
        if not watcher.call("WATCH DervixResp").startswith("OK "):
            raise Failure("WATCH DervixResp refused")
    time.sleep(0.3)
    before = highest = program.rss_kb()
    follower = Follower(fast)
    follower.start()
    texts = ["G1%06d" % i + FLOW_TEXT[8:] for i in range(args.watch_changes)]
    for i, text in enumerate(texts):
        if i % 100 == 0:
            highest = max(highest, program.rss_kb())
        placed = time.monotonic()
        placer.poke("DervixResp", text)
    latest = link_escape(texts[-1])
    wait_until(lambda: follower.error or follower.latest == latest, args.other_limit, what="the latest text")
    if follower.error:
        raise Failure("the watcher that reads: %s" % follower.error)
    delivered = follower.at - placed
    after = program.rss_kb()
    slow.sock.settimeout(10)
    got, lines = slow.buffer, []
    while not got.endswith(b"CHANGED DervixResp " + latest.encode() + b"\n"):
        chunk = slow.sock.recv(1 << 16)
        if not chunk:
            raise Failure("the link closed before the slow watcher had the latest text")
        got += chunk
    last = -1
    for line in got.split(b"\n")[:-1]:
        number = int(line[21:27]) if line.startswith(b"CHANGED DervixResp G1") else -1
        if number <= last or line[19:].decode() != link_escape(texts[number]):
            raise Failure("the slow watcher got %r after change %d" % (line[:40], last))
        last = number
        lines.append(line)
    print("watchers: %d changes of %d bytes placed; the reading one had %d, the latest %.1f ms after it was sent;"
          " the slow one got %d, the latest last" % (len(texts), len(texts[0]), follower.changes, 1000 * delivered,
                                                     len(lines)))
    print("RSS before %.1f MB, highest while placing %.1f MB, after %.1f MB"
          % (mb(before), mb(highest), mb(after)))
    if max(highest, after) - before > args.rss_margin_mb * 1024:
        raise Failure("resident memory grew by %.1f MB while a watcher did not read"
                      % mb(max(highest, after) - before))
    for link in (slow, fast, placer):
        link.sock.shutdown(socket.SHUT_RDWR)  # also ends the follower's wait
        link.close()
    follower.join(5)


def run(args, sandbox):
    program = Program(sandbox, ["--simulate"])
    try:
        link = program.connect()
        link.sock.settimeout(60)
        link.poke("txtFlowRate", FLOW_TEXT)
        answer = ("OK " + link_escape(FLOW_TEXT) + "\n").encode()
        # One request at a time first: what the program allocates once for
        # answering is then in the figure before.
        for _ in range(200):
            if link.call("REQUEST txtFlowRate").encode() + b"\n" != answer:
                raise Failure("REQUEST txtFlowRate does not give back the text placed in the field")
        time.sleep(0.3)
        before = program.rss_kb()
        count = int(args.megabytes * 1e6 / len(answer))
        print("%d answers of %d bytes (%.0f MB), %s asked ahead, read at %.0f MB/s; RSS before %.1f MB"
              % (count, len(answer), count * len(answer) / 1e6, args.ahead or "all", args.rate, mb(before)),
              flush=True)

        prober = Prober(program, 0.05)
        prober.start()
        asker = Asker(link.sock, count, args.ahead)
        asker.start()
        took, highest, samples = read_slowly(program, link.sock, answer, count, args.rate * 1e6,
                                             asker.answers_read)
        asker.join(10)
        if asker.error:
            raise Failure("sending the requests failed: %s" % asker.error)
        time.sleep(0.5)
        after = program.rss_kb()
        prober.done.set()
        prober.join(5)
        if prober.error:
            raise Failure("the second client: %s" % prober.error)
        if link.call("REQUEST Label5") != "OK mL/min":
            raise Failure("REQUEST Label5 answered wrong after the slow reading")

        for at, total, rss in samples[::max(1, len(samples) // 10)]:
            print("  %5.1f s  %5.0f MB read  RSS %.1f MB" % (at, total / 1e6, mb(rss)))
        print("all %d answers exact and in order, in %.1f s (%.1f MB/s)"
              % (count, took, count * len(answer) / 1e6 / took))
        print("RSS before %.1f MB, highest while reading %.1f MB, after %.1f MB (margin %.0f MB)"
              % (mb(before), mb(highest), mb(after), args.rss_margin_mb))
        times = sorted(prober.times)
        if times:
            print("second client: %d answers meanwhile, median %.1f ms, slowest %.1f ms"
                  % (len(times), 1000 * times[len(times) // 2], 1000 * times[-1]))
        margin = args.rss_margin_mb * 1024
        if highest - before > margin:
            raise Failure("resident memory grew by %.1f MB while the answers were read" % mb(highest - before))
        if after - before > margin:
            raise Failure("resident memory was still %.1f MB higher after the answers were read"
                          % mb(after - before))
        if len(times) < 2:
            raise Failure("the second client was answered only %d times meanwhile" % len(times))
        if times[-1] > args.other_limit:
            raise Failure("the second client waited %.2f s for an answer" % times[-1])

        if args.watch_changes:
            watch_changes(args, program)

        link.send_only("POKE txtDVXScmd KILL")
        status = program.wait(10)
        if status != 0:
            raise Failure("KILL ended the program with status %d" % status)
    except Failure:
        if program.output():
            print("program output:\n" + program.output()[-2000:])
        raise
    finally:
        program.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--megabytes", type=float, default=300, help="answers to read, in MB (default 300)")
    parser.add_argument("--rate", type=float, default=30, help="reading rate in MB/s (default 30)")
    parser.add_argument("--ahead", type=int, default=512,
                        help="requests the client keeps unanswered, 0 for all at once (default 512)")
    parser.add_argument("--rss-margin-mb", type=float, default=8,
                        help="largest growth of resident memory over the figure before (default 8 MB)")
    parser.add_argument("--other-limit", type=float, default=2.0,
                        help="longest wait of the second client for an answer, in s (default 2)")
    parser.add_argument("--watch-changes", type=int, default=4000,
                        help="texts placed while two clients watch, 0 for none (default 4000)")
    parser.add_argument("--bin-dir", help="folder of dervix (default $DERVIX_BIN_DIR or build)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    try:
        sandbox = Sandbox(bin_dir(args.bin_dir), prefix="dervix-slowlink-", keep=args.keep)
    except Failure as e:
        print("FAIL: %s" % e)
        return 1
    try:
        run(args, sandbox)
    except (Failure, OSError) as e:
        print("FAIL: %s" % e)
        return 1
    finally:
        sandbox.cleanup()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
