#!/usr/bin/python3
"""Printers that answer back, for the stand-in BlueZ and the pty printer.

Written from the published protocol facts alone (not from the C++), so that
it checks the app: a Niimbot-like label printer (frames 55 55 CMD LEN DATA
XOR AA AA, a reply per request, one-way image rows) and a classic "cat"
printer (frames 51 78 CMD DIR LEN_lo LEN_hi DATA CRC8 FF, a state reply,
pause/resume flow control). Each takes the bytes written to it in any
pieces (feed), answers with frames to notify, keeps each page as a PBM
(PREFIX-pageN.pbm) and notes faults in its log: a request sent before the
previous one's reply left, data while paused, a bad checksum.

What the printer reports comes from a state file read on each request, a
line of words: lid-open, no-paper, rfid (a label roll tag: 80 labels, 12
used, gap labels), low-battery, overheat, mute-after-rows=N (no answer to
anything once N row packets came after a connect, as a printer that hangs
mid-page).

  pocketfake.py decode niimbot|cat FILE PREFIX   pages of a written stream
  pocketfake.py listen PORT DIR                  a Niimbot-like printer on a
      loopback port: DIR/conn-N.bin holds the bytes of the N-th connection that
      carried a job once it ended (status-only connections go to
      DIR/queries.bin), DIR/ready appears when it listens; runs until killed
  pocketfake.py frames FILE                      the Niimbot frames of FILE, one
      a line, without what only a two-way sender adds (status queries, the model
      id asked after connecting, print status polls, a repeated connect): the
      frames the one-way stream of the same job has
  pocketfake.py check PBM COLS ROWS QUARTER      "ink F QUARTER G": the share of
      black dots in the page and in one quarter of it (top-left, top-right, ...)
"""
import os
import sys
import time

CRC8 = []
for _i in range(256):
    _c = _i
    for _ in range(8):
        _c = ((_c << 1) ^ 0x07) & 0xFF if _c & 0x80 else (_c << 1) & 0xFF
    CRC8.append(_c)


def crc8(data):
    c = 0
    for b in data:
        c = CRC8[c ^ b]
    return c


def niim_frame(cmd, data):
    x = cmd ^ len(data)
    for b in data:
        x ^= b
    return bytes([0x55, 0x55, cmd, len(data)]) + bytes(data) + bytes([x, 0xAA, 0xAA])


def cat_frame(cmd, data, direction=1):
    n = len(data)
    return bytes([0x51, 0x78, cmd, direction, n & 0xFF, n >> 8]) + bytes(data) + bytes([crc8(data), 0xFF])


def write_pbm(path, cols, rows):
    """rows: list of MSB-first row bytes, each ceil(cols/8) long."""
    width = (cols + 7) // 8
    with open(path, "wb") as f:
        f.write(b"P4\n%d %d\n" % (cols, len(rows)))
        for r in rows:
            f.write(bytes(r[:width]).ljust(width, b"\0"))


class Fake:
    def __init__(self, prefix, notify, state_file=None):
        self.prefix, self.notify, self.state_file = prefix, notify, state_file
        self.buf = bytearray()
        self.pages = 0
        self.rows_seen = 0
        self.log = open(prefix + ".log", "a") if prefix else None
        self.outbox = []  # [when, frame, request]: replies leave a little later

    def reply(self, frame, request=None, delay=0.005):
        self.outbox.append([time.monotonic() + delay, frame, request])

    def note(self, text):
        if self.log:
            self.log.write(text + "\n")
            self.log.flush()

    def state(self):
        words = {}
        if self.state_file and os.path.exists(self.state_file):
            for w in open(self.state_file).read().split():
                k, _, v = w.partition("=")
                words[k] = v
        return words

    def muted(self):
        n = self.state().get("mute-after-rows")
        return n is not None and self.rows_seen >= int(n)

    def tick(self, now):
        """Sends what is due; the transport calls it every few ms."""
        while self.outbox and self.outbox[0][0] <= now:
            self.notify(self.outbox.pop(0)[1])


class Niimbot(Fake):
    """A B1-like printer (model id 4096, 13-byte heartbeat) or, with
    d11=True, a D11-like one (model id 512, 10-byte heartbeat, lid byte
    inverted)."""

    def __init__(self, prefix, notify, state_file=None, d11=False):
        super().__init__(prefix, notify, state_file)
        self.d11 = d11
        self.rows = {}
        self.cols = self.height = 0
        self.printed = 0  # pages the printer finished (PrintStatus's count)
        self.finish_at = []

    def feed(self, data):
        self.buf += data
        while True:
            start = self.buf.find(b"\x55\x55")
            if start < 0:
                del self.buf[:max(0, len(self.buf) - 1)]
                return
            del self.buf[:start]
            if len(self.buf) < 4 or len(self.buf) < 7 + self.buf[3]:
                return
            cmd, n = self.buf[2], self.buf[3]
            data, chk, tail = bytes(self.buf[4:4 + n]), self.buf[4 + n], bytes(self.buf[5 + n:7 + n])
            x = cmd ^ n
            for b in data:
                x ^= b
            if x != chk or tail != b"\xaa\xaa":
                self.note("bad frame %02x" % cmd)
                del self.buf[:2]
                continue
            del self.buf[:7 + n]
            self.packet(cmd, data)

    def packet(self, cmd, d):
        if cmd in (0x83, 0x84, 0x85):
            self.row(cmd, d)
            return
        if cmd == 0xC1:
            self.rows_seen = 0  # mute-after-rows counts the rows of this connection
        waiting = [o[2] for o in self.outbox if o[2] is not None]
        if waiting:
            self.note("request %02x before the reply to %02x" % (cmd, waiting[0]))
        if self.muted():
            self.note("mute: %02x unanswered" % cmd)
            return
        st = self.state()
        lid, paper = "lid-open" in st, "no-paper" not in st
        r = None
        if cmd == 0xC1:
            r = (0xC2, [1])
        elif cmd == 0xA5:
            r = (0xB5, [0] * 16)
        elif cmd == 0x40 and d:
            key = d[0]
            if key == 8:
                r = (0x48, [0x02, 0x00] if self.d11 else [0x10, 0x00])
            elif key == 10:
                r = (0x4A, [4 if "low-battery" not in st else 1])
            else:
                r = (0x40 + key, [0])
        elif cmd == 0x1A:
            if "rfid" in st:
                r = (0x1B, [1, 2, 3, 4, 5, 6, 7, 8] + [8] + list(b"10262260") + [4] + list(b"PZ1G") +
                     [0, 80, 0, 12, 1])
            else:
                r = (0x1B, [0])
        elif cmd == 0xDC:
            lid_byte = (0 if lid else 1) if self.d11 else (1 if lid else 0)
            if self.d11:
                r = (0xDD, [0] * 8 + [lid_byte, 4])
            else:
                r = (0xDD, [0] * 9 + [lid_byte, 4, 0 if paper else 1, 1 if "rfid" in st else 0])
        elif cmd in (0x21, 0x23, 0x15, 0x20, 0xDA, 0xF3):
            r = ({0x21: 0x31, 0x23: 0x33, 0x15: 0x16, 0x20: 0x30, 0xDA: 0xD0, 0xF3: 0xF4}[cmd], [1])
        elif cmd == 0x01:
            self.printed, self.finish_at = 0, []  # PrintStatus counts the task's pages
            r = (0xDB, [1]) if lid else (0xDB, [2]) if not paper else (0x02, [1])
        elif cmd == 0x03:
            self.rows = {}
            r = (0x04, [1])
        elif cmd == 0x13:
            self.height = d[0] << 8 | d[1] if len(d) >= 2 else 0
            self.cols = d[2] << 8 | d[3] if len(d) >= 4 else (96 if self.d11 else 384)
            r = (0x14, [1, 0])
        elif cmd == 0xE3:
            self.end_page()
            r = (0xE4, [1])
        elif cmd == 0xA3:
            self.tick(time.monotonic())
            r = (0xB3, [self.printed >> 8, self.printed & 0xFF, 100, 100])
        else:
            r = (0x00, [cmd])
        self.reply(niim_frame(r[0], r[1]), cmd)

    def row(self, cmd, d):
        if len(d) < 3:
            self.note("short row packet %02x" % cmd)
            return
        first = d[0] << 8 | d[1]
        width = (self.cols + 7) // 8 if self.cols else 48
        if cmd == 0x84:
            repeat, bits = d[2], bytes(width)
        elif cmd == 0x85:
            repeat, bits = d[5], bytes(d[6:]).ljust(width, b"\0")
        else:
            repeat, line = d[5], bytearray(width)
            for i in range(6, len(d) - 1, 2):
                dot = d[i] << 8 | d[i + 1]
                if dot // 8 < width:
                    line[dot // 8] |= 0x80 >> (dot % 8)
            bits = bytes(line)
        for k in range(max(repeat, 1)):
            self.rows[first + k] = bits
        self.rows_seen += 1

    def end_page(self):
        self.pages += 1
        rows = [self.rows.get(y, bytes((self.cols + 7) // 8)) for y in range(self.height)]
        if self.prefix:
            write_pbm("%s-page%d.pbm" % (self.prefix, self.pages), self.cols, rows)
        self.note("page %d: %d x %d, %d rows sent" % (self.pages, self.cols, self.height, len(self.rows)))
        # Printing takes a while: PrintStatus tells the page once it is out.
        self.finish_at.append(time.monotonic() + 0.3)

    def tick(self, now):
        while self.finish_at and self.finish_at[0] <= now:
            self.finish_at.pop(0)
            self.printed += 1
        Fake.tick(self, now)


class Cat(Fake):
    """A classic cat printer: 384-dot rows (LSB-first) between the lattice
    frames, a state reply to A3, and a pause after every PAUSE_EVERY row
    bytes, resumed RESUME_MS later."""

    def __init__(self, prefix, notify, state_file=None, pause_every=6000, resume_ms=300):
        super().__init__(prefix, notify, state_file)
        self.pause_every, self.resume_ms = pause_every, resume_ms
        self.rows = []
        self.since_pause = 0
        self.paused_at = None
        self.pauses = 0

    def feed(self, data):
        now = time.monotonic()
        if self.paused_at is not None and now - self.paused_at > 0.1:
            self.note("%d bytes while paused" % len(data))
        self.buf += data
        while True:
            start = self.buf.find(b"\x51\x78")
            if start < 0:
                del self.buf[:max(0, len(self.buf) - 1)]
                return
            del self.buf[:start]
            if len(self.buf) < 8:
                return
            n = self.buf[4] | self.buf[5] << 8
            if len(self.buf) < 8 + n:
                return
            cmd, data = self.buf[2], bytes(self.buf[6:6 + n])
            if self.buf[7 + n] != 0xFF or self.buf[6 + n] != crc8(data):
                self.note("bad frame %02x" % cmd)
                del self.buf[:2]
                continue
            del self.buf[:8 + n]
            self.packet(cmd, data)

    def packet(self, cmd, d):
        if cmd in (0xA2, 0xBF):
            self.rows_seen += 1
            if cmd == 0xA2:
                line = bytes(int("{:08b}".format(b)[::-1], 2) for b in d[:48]).ljust(48, b"\0")
            else:
                bits = []
                for b in d:
                    bits += [b >> 7] * (b & 0x7F)
                bits = (bits + [0] * 384)[:384]
                line = bytes(sum(bits[i + k] << (7 - k) for k in range(8)) for i in range(0, 384, 8))
            self.rows.append(line)
            self.since_pause += len(d)
            if self.pause_every and self.since_pause >= self.pause_every and self.paused_at is None:
                self.since_pause = 0
                self.paused_at = time.monotonic()
                self.pauses += 1
                self.note("pause %d" % self.pauses)
                self.reply(cat_frame(0xAE, [0x10]), delay=0)
            return
        if cmd == 0xA6 and len(d) >= 4 and d[3] != 0:  # lattice start
            self.rows = []
            return
        if cmd == 0xA6 and len(d) >= 4:  # lattice end
            self.pages += 1
            if self.prefix:
                write_pbm("%s-page%d.pbm" % (self.prefix, self.pages), 384, self.rows)
            self.note("page %d: 384 x %d" % (self.pages, len(self.rows)))
            self.rows = []
            return
        if cmd == 0xA3:
            if self.muted():
                return
            st = self.state()
            bits = ((0x01 if "no-paper" in st else 0) | (0x02 if "lid-open" in st else 0) |
                    (0x04 if "overheat" in st else 0) | (0x08 if "low-battery" in st else 0))
            self.reply(cat_frame(0xA3, [bits]))

    def tick(self, now):
        if self.paused_at is not None and now - self.paused_at >= self.resume_ms / 1000.0:
            self.paused_at = None
            self.note("resume")
            self.reply(cat_frame(0xAE, [0x00]), delay=0)
        Fake.tick(self, now)


def check(path, cols, rows, quarter):
    with open(path, "rb") as f:
        head = f.readline()
        size = f.readline().split()
        raw = f.read()
    w, h = int(size[0]), int(size[1])
    if head.strip() != b"P4" or (w, h) != (cols, rows):
        return "size %dx%d, expected %dx%d" % (w, h, cols, rows)
    width = (w + 7) // 8
    top, left = quarter.startswith("top"), quarter.endswith("left")
    ink = inside = 0
    for y in range(h):
        line = raw[y * width:(y + 1) * width]
        for x in range(w):
            if line[x // 8] & (0x80 >> (x % 8)):
                ink += 1
                inside += (x < w // 2) == left and (y < h // 2) == top
    return "ink %.3f %s %.3f" % (ink / float(w * h), quarter, inside / float(w * h))


QUERIES = (0x40, 0xA3, 0xDC, 0x1A, 0xA5)


def frames(data):
    out, i = [], 0
    while True:
        j = data.find(b"\x55\x55", i)
        if j < 0 or j + 4 > len(data):
            return out
        end = j + 7 + data[j + 3]
        cmd = data[j + 2]
        if cmd not in QUERIES and not (cmd == 0xC1 and out and out[-1][2] == 0xC1):
            out.append(data[j:end])
        i = end


def listen(port, out):
    import select
    import socket
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", port))
    srv.listen(4)
    open(os.path.join(out, "ready"), "w").close()
    jobs = 0
    while True:
        conn, _ = srv.accept()
        got = bytearray()
        printer = Niimbot(None, conn.sendall, os.path.join(out, "state"))
        while True:
            ready, _, _ = select.select([conn], [], [], 0.002)
            printer.tick(time.monotonic())
            if not ready:
                continue
            chunk = conn.recv(65536)
            if not chunk:
                break
            got += chunk
            printer.feed(chunk)
        conn.close()
        if any(f[2] not in QUERIES + (0xC1,) for f in frames(bytes(got))):
            jobs += 1
            with open(os.path.join(out, "conn-%d.tmp" % jobs), "wb") as f:
                f.write(got)
            os.rename(os.path.join(out, "conn-%d.tmp" % jobs), os.path.join(out, "conn-%d.bin" % jobs))
        else:
            with open(os.path.join(out, "queries.bin"), "ab") as f:
                f.write(got)


def main():
    if sys.argv[1:2] == ["decode"]:
        kind, path, prefix = sys.argv[2:5]
        p = (Niimbot if kind == "niimbot" else Cat)(prefix, lambda frame: None)
        p.pause_every = 0
        p.feed(open(path, "rb").read())
        p.tick(time.monotonic() + 10)
    elif sys.argv[1:2] == ["listen"]:
        listen(int(sys.argv[2]), sys.argv[3])
    elif sys.argv[1:2] == ["frames"]:
        for f in frames(open(sys.argv[2], "rb").read()):
            print(f.hex())
    elif sys.argv[1:2] == ["check"]:
        print(check(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
