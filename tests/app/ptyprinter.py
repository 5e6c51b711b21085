#!/usr/bin/env python3
"""A serial printer on a pseudo-terminal, for the printer application's tests.

ptyprinter.py DIR: opens a pty, writes the slave's path to DIR/path, keeps
every byte written to the slave in DIR/data.bin and, after each chunk, the
line settings the writer gave the terminal to DIR/termios as
"ospeed=B115200 bits=8 parity=none stop=1 rtscts=0 ixon=0". A chunk that is
nothing but status queries (a sender waits for their answer, so they come
alone) goes to DIR/queries.bin instead and is never answered. Runs until killed.
A slave descriptor of its own stays open, so the writer may close and reopen.
With "stall" after DIR, it stops reading once a job's first chunk came (a
printer out of paper with flow control), and DIR/stalled marks that.
With "niimbot" after DIR, a Niimbot-like label printer answers on the pty
(pocketfake.py: replies, DIR/niimbot.log, DIR/niimbot-pageN.pbm, what it
reports from DIR/niimbot.state); every byte still goes to DIR/data.bin.
"""
import os
import select
import sys
import termios
import time
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cups"))
from dfstream import strip_queries  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pocketfake  # noqa: E402

SPEEDS = {getattr(termios, n): n for n in dir(termios) if n.startswith("B") and n[1:].isdigit()}
BITS = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}


def settings(fd):
    iflag, _, cflag, _, _, ospeed, _ = termios.tcgetattr(fd)[:7]
    parity = "none"
    if cflag & termios.PARENB:
        parity = "odd" if cflag & termios.PARODD else "even"
    return "ospeed=%s bits=%d parity=%s stop=%d rtscts=%d ixon=%d" % (
        SPEEDS.get(ospeed, str(ospeed)), BITS[cflag & termios.CSIZE], parity,
        2 if cflag & termios.CSTOPB else 1, 1 if cflag & termios.CRTSCTS else 0,
        1 if iflag & termios.IXON else 0)


def main():
    out = sys.argv[1]
    stall = sys.argv[2:] == ["stall"]
    niimbot = None
    if sys.argv[2:] == ["niimbot"]:
        open(os.path.join(out, "niimbot.state"), "a").close()
        niimbot = pocketfake.Niimbot(os.path.join(out, "niimbot"), lambda frame: os.write(master, frame),
                                     os.path.join(out, "niimbot.state"))
    master, slave = os.openpty()
    tty.setraw(master)
    path = os.ttyname(slave)
    with open(os.path.join(out, "path.tmp"), "w") as f:
        f.write(path + "\n")
    os.rename(os.path.join(out, "path.tmp"), os.path.join(out, "path"))
    data = open(os.path.join(out, "data.bin"), "ab")
    while True:
        ready, _, _ = select.select([master], [], [], 0.002 if niimbot else 1.0)
        if niimbot:
            niimbot.tick(time.monotonic())
        if not ready:
            continue
        try:
            chunk = os.read(master, 65536)
        except OSError:
            continue
        if niimbot:
            data.write(chunk)
            data.flush()
            niimbot.feed(chunk)
            with open(os.path.join(out, "termios.tmp"), "w") as f:
                f.write(settings(slave) + "\n")
            os.rename(os.path.join(out, "termios.tmp"), os.path.join(out, "termios"))
            continue
        queries, job = strip_queries(chunk)
        if queries and not job:
            with open(os.path.join(out, "queries.bin"), "ab") as q:
                q.write(queries)
            continue
        data.write(chunk)
        data.flush()
        if stall:
            open(os.path.join(out, "stalled"), "w").close()
            while True:
                time.sleep(60)
        with open(os.path.join(out, "termios.tmp"), "w") as f:
            f.write(settings(slave) + "\n")
        os.rename(os.path.join(out, "termios.tmp"), os.path.join(out, "termios"))


if __name__ == "__main__":
    main()
