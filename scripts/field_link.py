#!/usr/bin/env python3
"""Field checks of the link against the real program: crowds of clients
that send and leave without their answers, and clients that push many
requests in one write.

    scripts/field_link.py                      # all checks, one fresh --simulate program
    scripts/field_link.py --only flooders      # one check

Each check takes a running dervix_testkit.Program, returns its figures as a
dict and raises Failure when a limit is passed:

  leaving_clients_with_a_box(program)  40 clients each set an out-of-range
      flow rate (the program answers with a box) and close: the first once
      its box is open, the others at once. Their requests are dropped: only
      the first one's box opens, and a new client is answered at once while
      it is open. Counting the boxes needs "Logging=1" in the program's
      profile: every box has its "MSGBOX" line in the log.
  flooders_lock_out(program)  32 clients (as many as are served at once)
      each push some 230 kB of empty lines and close: a new client is
      answered at once after they have gone.
  one_write_memory(program)  31 clients each push 16 kB+ of empty lines in
      one write, stay a while without reading, then close: the program's
      resident memory while they are there and after they have gone stays
      within margins (8 and 2 MB) of the figure before.

Standard library only; a check leaves the program serving (a box the first
check opened stays open: offscreen, nobody closes it).
"""

import argparse
import os
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dervix_testkit import Failure, LinkClient, LinkClosed, Program, Sandbox, bin_dir, wait_until  # noqa: E402


def _connect(program):
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.connect(program.sandbox.socket)
    return sock


def first_answer(program, timeout=10.0):
    """Seconds until a new client has its answer, and how many new clients
    were closed unanswered meanwhile. Failure when none is answered within
    timeout."""
    began = time.monotonic()
    closed = 0
    while True:
        left = timeout - (time.monotonic() - began)
        if left <= 0:
            raise Failure("new clients were closed unanswered for %.1f s (%d tries)" % (timeout, closed))
        try:
            link = LinkClient(program.sandbox.socket, timeout=left)
            try:
                answer = link.call("REQUEST Label3")
            finally:
                link.close()
            if answer != "OK Flow Rate":
                raise Failure("REQUEST Label3 answered %r" % answer)
            return time.monotonic() - began, closed
        except (LinkClosed, ConnectionError):
            closed += 1
            time.sleep(0.005)


def _log_size(program):
    try:
        return os.path.getsize(program.sandbox.log)
    except FileNotFoundError:
        return 0


def _boxes_since(program, start):
    return [line for line in program.sandbox.log_text(start).splitlines() if ": MSGBOX " in line]


def _settled_boxes(program, start, quiet=0.5, timeout=15.0):
    """The log's box lines since start, once no new one has come for quiet s."""
    deadline = time.monotonic() + timeout
    boxes, since = _boxes_since(program, start), time.monotonic()
    while time.monotonic() - since < quiet and time.monotonic() < deadline:
        time.sleep(0.05)
        now = _boxes_since(program, start)
        if len(now) != len(boxes):
            boxes, since = now, time.monotonic()
    return boxes


def leaving_clients_with_a_box(program, clients=40, most_boxes=1, answer_limit=1.0):
    """Clients that set an out-of-range flow rate and leave, the first once
    its box is open; figures: boxes opened, seconds a new client waited for
    its answer meanwhile, new clients closed unanswered."""
    start = _log_size(program)
    first = _connect(program)
    first.sendall(b"POKE txtFlowRate 500\n")
    try:
        wait_until(lambda: _boxes_since(program, start), 10, 0.01, "the first client's box")
    except Failure:
        if _log_size(program) == start:
            raise Failure("the program logs nothing: counting boxes needs Logging=1 in its profile")
        raise
    first.close()
    for _ in range(clients - 1):
        sock = _connect(program)
        try:
            sock.sendall(b"POKE txtFlowRate 500\n")
        except OSError:
            pass  # closed by the program before the request was sent
        sock.close()
    boxes = _settled_boxes(program, start)
    figures = {"clients": clients, "boxes": len(boxes)}
    try:
        figures["answer_s"], figures["closed_unanswered"] = first_answer(program)
    except Failure as e:
        raise Failure("%s, with %d boxes open" % (e, len(boxes)))
    if len(boxes) > most_boxes:
        raise Failure("%d boxes opened for %d clients that had gone (at most %d): %s"
                      % (len(boxes), clients, most_boxes, boxes[0].split(": MSGBOX ", 1)[1][:80]))
    if figures["closed_unanswered"] or figures["answer_s"] > answer_limit:
        raise Failure("a new client waited %.2f s for its answer (%d closed unanswered) with %d boxes open"
                      % (figures["answer_s"], figures["closed_unanswered"], len(boxes)))
    return figures


def _push(sock, data):
    """As much of data as the socket takes without waiting; bytes sent."""
    sock.setblocking(False)
    sent = 0
    try:
        while sent < len(data):
            sent += sock.send(data[sent:sent + 65536])
    except (BlockingIOError, InterruptedError):
        pass
    except OSError:
        pass  # closed by the program
    return sent


def flooders_lock_out(program, clients=32, kbytes=230, limit=1.0):
    """Clients that push empty lines and close; figures: kB each pushed on
    average, seconds from the last one's close until a new client had its
    answer, new clients closed unanswered meanwhile."""
    payload = b"\n" * (kbytes * 1000)
    socks = [_connect(program) for _ in range(clients)]
    pushed = sum(_push(sock, payload) for sock in socks)
    for sock in socks:
        sock.close()
    waited, closed = first_answer(program, timeout=max(10.0, 4 * limit))
    figures = {"clients": clients, "pushed_kb": pushed / clients / 1000.0, "locked_out_s": waited,
               "closed_unanswered": closed}
    if waited > limit:
        raise Failure("new clients were locked out %.2f s after %d flooding clients had gone (%d closed "
                      "unanswered)" % (waited, clients, closed))
    return figures


def one_write_memory(program, clients=31, nbytes=17000, stay=1.0, during_margin_kb=8192, after_margin_kb=2048):
    """Clients that push nbytes of empty lines in one write each, stay
    without reading, then close; figures: resident kB before, highest while
    they were there, and after."""
    # What answering allocates once is in the figure before.
    link = program.connect()
    for _ in range(20):
        link.call("REQUEST Label3")
    link.close()
    time.sleep(0.3)
    before = program.rss_kb()
    socks = [_connect(program) for _ in range(clients)]
    for sock in socks:
        sock.sendall(b"\n" * nbytes)
    highest = before
    until = time.monotonic() + stay
    while time.monotonic() < until:
        highest = max(highest, program.rss_kb())
        time.sleep(0.02)
    for sock in socks:
        sock.close()
    first_answer(program)  # they have gone and the program serves again
    time.sleep(0.5)
    after = program.rss_kb()
    figures = {"clients": clients, "before_kb": before, "during_kb": highest, "after_kb": after}
    if highest - before > during_margin_kb or after - before > after_margin_kb:
        raise Failure("resident memory %d kB before, %d kB while %d clients had pushed %d bytes each, %d kB "
                      "after they had gone (margins %d and %d kB)"
                      % (before, highest, clients, nbytes, after, during_margin_kb, after_margin_kb))
    return figures


CHECKS = {
    "boxes": leaving_clients_with_a_box,
    "flooders": flooders_lock_out,
    "memory": one_write_memory,
}


def start_program(sandbox):
    """A --simulate program of the sandbox with logging on."""
    # --simulate uses the demonstration profile beside the real one.
    with open(os.path.join(sandbox.config, "demo-profile.ini"), "w", newline="") as f:
        f.write("[Dervix]\nLogging=1\n")
    program = Program(sandbox, ["--simulate"])
    program.connect().close()
    return program


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin-dir", help="where dervix was built (default: build/)")
    parser.add_argument("--only", choices=sorted(CHECKS), action="append", help="run only this check")
    parser.add_argument("--keep", action="store_true", help="keep the sandbox")
    args = parser.parse_args()
    sandbox = Sandbox(bin_dir(args.bin_dir), prefix="dervix-field-link-", keep=args.keep)
    program = None
    try:
        program = start_program(sandbox)
        for name in args.only or CHECKS:
            figures = CHECKS[name](program)
            print("%s: %s" % (name, ", ".join("%s %s" % (k, round(v, 3) if isinstance(v, float) else v)
                                              for k, v in figures.items())), flush=True)
        if not program.alive():
            raise Failure("dervix ended during the checks: %s" % program.output())
    except Failure as e:
        print("FAILED: %s" % e)
        return 1
    finally:
        if program is not None:
            program.close()
        sandbox.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
