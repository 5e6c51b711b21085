#!/usr/bin/env python3
"""Helpers for the CUPS end-to-end tests: printer stream decoders and checks,
PPD checks, and a TCP listener that stands in for a network printer.

Every check prints what it found and exits 1 with a reason on a mismatch, so
a failing shell test shows why. Streams are decoded from scratch here rather
than by the filter's own code, so a fault in the filter cannot hide itself.
"""
import argparse
import random
import os
import re
import signal
import socket
import struct
import sys
import time
import zlib


class Fail(Exception):
    pass


def hexdump(data, limit=256):
    out = []
    for off in range(0, min(len(data), limit), 16):
        chunk = data[off:off + 16]
        hx = " ".join("%02X" % b for b in chunk)
        asc = "".join(chr(b) if 32 <= b < 127 else "." for b in chunk)
        out.append("%08X  %-47s  %s" % (off, hx, asc))
    if len(data) > limit:
        out.append("... (%d bytes in all)" % len(data))
    return "\n".join(out)


# ---------------------------------------------------------------------------
# Bitmaps: a list of rows, each an int of `width` bits, most significant bit
# = leftmost dot, 1 = black.

class Bitmap:
    def __init__(self, width, rows):
        self.width = width
        self.rows = rows

    @property
    def height(self):
        return len(self.rows)

    @staticmethod
    def from_bytes(data, bytes_per_row, height, width, one_is_black):
        if width > bytes_per_row * 8:
            raise Fail("bitmap is %d dots wide but rows hold only %d bytes" % (width, bytes_per_row))
        rows = []
        spare = bytes_per_row * 8 - width
        full = (1 << (bytes_per_row * 8)) - 1
        for y in range(height):
            r = int.from_bytes(data[y * bytes_per_row:(y + 1) * bytes_per_row], "big")
            if not one_is_black:
                r ^= full
            rows.append(r >> spare)
        return Bitmap(width, rows)

    def black(self):
        return sum(r.bit_count() for r in self.rows)

    def bbox(self):
        """(x0, y0, x1, y1) of the black dots, inclusive, or None."""
        ys = [y for y, r in enumerate(self.rows) if r]
        if not ys:
            return None
        acc = 0
        for y in ys:
            acc |= self.rows[y]
        x0 = self.width - acc.bit_length()
        x1 = self.width - 1 - ((acc & -acc).bit_length() - 1)
        return (x0, ys[0], x1, ys[-1])

    def count(self, x0, y0, x1, y1):
        """Black dots in columns x0..x1-1 of rows y0..y1-1 (clipped)."""
        x0, x1 = max(0, x0), min(self.width, x1)
        y0, y1 = max(0, y0), min(self.height, y1)
        if x0 >= x1 or y0 >= y1:
            return 0
        mask = ((1 << (x1 - x0)) - 1) << (self.width - x1)
        return sum((self.rows[y] & mask).bit_count() for y in range(y0, y1))


def check_ink(bm, area, what):
    """area 'fx0,fy0,fx1,fy1': the black area as fractions of the page.
    The dots there must be (nearly) all black, the rest (nearly) all white,
    and the black bounding box must sit where the document put it."""
    fx0, fy0, fx1, fy1 = (float(v) for v in area.split(","))
    W, H = bm.width, bm.height
    ex = (round(fx0 * W), round(fy0 * H), round(fx1 * W) - 1, round(fy1 * H) - 1)
    tol = max(3, round(0.015 * max(W, H)))
    total = bm.black()
    box = bm.bbox()
    print("%s: %dx%d dots, %d black, black box %s, expected about %s (tolerance %d)"
          % (what, W, H, total, box, ex, tol))
    if total == 0:
        raise Fail("%s: the page came out blank" % what)
    area = (ex[2] + 1 - ex[0]) * (ex[3] + 1 - ex[1])
    if total > 0.5 * W * H and area < 0.4 * W * H:
        raise Fail("%s: %d of %d dots are black, the document inked %d (inverted?)" % (what, total, W * H, area))
    for i, name in enumerate(("left", "top", "right", "bottom")):
        if abs(box[i] - ex[i]) > tol:
            raise Fail("%s: the ink's %s edge is at %d, expected %d (shifted, scaled or mirrored)"
                       % (what, name, box[i], ex[i]))
    ix0, iy0, ix1, iy1 = ex[0] + tol, ex[1] + tol, ex[2] + 1 - tol, ex[3] + 1 - tol
    inner = max(1, (ix1 - ix0) * (iy1 - iy0))
    inside = bm.count(ix0, iy0, ix1, iy1)
    if inside < 0.97 * inner:
        raise Fail("%s: only %d of %d dots inside the inked area are black" % (what, inside, inner))
    ox0, oy0, ox1, oy1 = ex[0] - tol, ex[1] - tol, ex[2] + 1 + tol, ex[3] + 1 + tol
    outside = total - bm.count(ox0, oy0, ox1, oy1)
    if outside > 0.005 * W * H:
        raise Fail("%s: %d black dots outside the inked area" % (what, outside))


def png_bitmap(path):
    """A 1-bit grey PNG (as dotforge-preview writes pages), black is 0."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise Fail("%s is not a PNG file" % path)
    pos, idat, w = 8, b"", 0
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            w, h, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if (depth, colour, interlace) != (1, 0, 0):
                raise Fail("%s: not a 1-bit grey PNG" % path)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    raw, stride = zlib.decompress(idat), (w + 7) // 8
    rows, prev = [], bytearray(stride)
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a, b, c = line[i - 1] if i else 0, prev[i], prev[i - 1] if i else 0
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            paeth = a if pa <= pb and pa <= pc else b if pb <= pc else c
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth)[f]) & 255
        rows.append(bytes(line))
        prev = line
    return Bitmap.from_bytes(b"".join(rows), stride, h, w, False)


def cmd_frame(a):
    """The framed test page (pwgmake's frame) fitted on one label: the frame
    is whole, centred, as large as the label allows (a whole-dot scaling may
    keep it up to 15% smaller) with the page's aspect, turned a quarter
    anticlockwise when that fits better, its block in the right corner."""
    bm = png_bitmap(a.png)
    pw, ph = (float(v) for v in a.page.split("x"))
    W, H = bm.width, bm.height
    box = bm.bbox()
    print("frame: %dx%d dots, black box %s, page %s mm" % (W, H, box, a.page))
    if box is None:
        raise Fail("the label came out blank")
    x0, y0, x1, y1 = box
    bw, bh = x1 + 1 - x0, y1 + 1 - y0
    if a.roll:
        turn = pw > ph
        scale = W / (ph if turn else pw)
    else:
        straight, turned = min(W / pw, H / ph), min(W / ph, H / pw)
        turn, scale = turned > straight * 1.0001, max(straight, turned)
    ew, eh = (ph, pw) if turn else (pw, ph)
    ew, eh = ew * scale, eh * scale
    tol = max(3, round(0.01 * max(W, H)))
    if not (0.84 * ew - tol <= bw <= ew + tol and 0.84 * eh - tol <= bh <= eh + tol):
        raise Fail("the frame is %dx%d dots, expected %.0fx%.0f (fitted, turned: %s)" % (bw, bh, ew, eh, turn))
    if abs(bw / bh - ew / eh) > 0.03 * ew / eh:
        raise Fail("the frame's aspect %.3f is not the page's %.3f" % (bw / bh, ew / eh))
    if abs((x0 + x1 + 1) - W) > tol or (not a.roll and abs((y0 + y1 + 1) - H) > tol):
        raise Fail("the frame is not centred: %s on %dx%d" % (box, W, H))
    # Each edge whole along one of its three outermost lines (a rendered
    # edge between two dots may come out dithered).
    lines = {"left": [(x0 + i, y0, x0 + i + 1, y1 + 1) for i in range(3)],
             "right": [(x1 - i, y0, x1 - i + 1, y1 + 1) for i in range(3)],
             "top": [(x0, y0 + i, x1 + 1, y0 + i + 1) for i in range(3)],
             "bottom": [(x0, y1 - i, x1 + 1, y1 - i + 1) for i in range(3)]}
    for name, candidates in lines.items():
        if not any(bm.count(*c) >= 0.95 * max(c[2] - c[0], c[3] - c[1]) for c in candidates):
            raise Fail("the frame's %s edge is not whole" % name)
    # The block lies in the page's top left quarter: bottom left once turned.
    quarters = {}
    for qx in (0, 1):
        for qy in (0, 1):
            qx0, qy0 = x0 + bw // 10 + qx * bw // 2, y0 + bh // 10 + qy * bh // 2
            quarters[(qx, qy)] = bm.count(qx0, qy0, qx0 + bw * 3 // 10, qy0 + bh * 3 // 10)
    want = (0, 1) if turn else (0, 0)
    if max(quarters, key=quarters.get) != want:
        raise Fail("the block is in quarter %s, expected %s" % (max(quarters, key=quarters.get), want))
    print("frame OK: %dx%d dots on %dx%d%s" % (bw, bh, W, H, ", turned" if turn else ""))


# ---------------------------------------------------------------------------
# TSPL

def parse_tspl(data):
    """Splits a TSPL stream into pages: dicts of command -> argument text,
    plus the bitmap header and its raw payload."""
    pages = []
    pos = 0
    cur = None
    while pos < len(data):
        if data.startswith(b"BITMAP ", pos):
            if cur is None:
                raise Fail("BITMAP before SIZE at byte %d" % pos)
            m = re.match(rb"BITMAP (-?\d+),(-?\d+),(\d+),(\d+),(\d+),", data[pos:pos + 80])
            if not m:
                raise Fail("bad BITMAP header at byte %d:\n%s" % (pos, hexdump(data[pos:pos + 64])))
            x, y, wb, h, mode = (int(v) for v in m.groups())
            pos += m.end()
            if mode == 1:
                n = wb * h
            elif mode == 3:
                m2 = re.match(rb"(\d+),", data[pos:pos + 16])
                if not m2:
                    raise Fail("bad compressed BITMAP length at byte %d" % pos)
                n = int(m2.group(1))
                pos += m2.end()
            else:
                raise Fail("unknown BITMAP mode %d" % mode)
            payload = data[pos:pos + n]
            if len(payload) != n:
                raise Fail("BITMAP announces %d bytes, only %d follow" % (n, len(payload)))
            pos += n
            if data[pos:pos + 2] != b"\r\n":
                raise Fail("BITMAP data not followed by CR LF at byte %d" % pos)
            pos += 2
            cur["BITMAP"] = (x, y, wb, h, mode, payload)
            cur["order"].append("BITMAP")
            continue
        end = data.find(b"\r\n", pos)
        if end < 0:
            raise Fail("unterminated line at byte %d:\n%s" % (pos, hexdump(data[pos:pos + 64])))
        line = data[pos:end].decode("latin-1")
        pos = end + 2
        cmd, _, arg = line.partition(" ")
        if cmd == "SET":
            sub, _, val = arg.partition(" ")
            cmd, arg = "SET " + sub, val
        if cmd == "SIZE":
            cur = {"order": []}
            pages.append(cur)
        elif cur is None:
            raise Fail("%r before the first SIZE" % line)
        cur[cmd] = arg
        cur["order"].append(cmd)
    return pages


def tspl_bitmap(page, dpi):
    x, y, wb, h, mode, payload = page["BITMAP"]
    if mode == 1:
        raw, one_is_black = payload, False
    else:
        try:
            raw = zlib.decompress(payload)
        except zlib.error as e:
            raise Fail("compressed BITMAP does not inflate: %s" % e)
        if len(raw) != wb * h:
            raise Fail("compressed BITMAP inflates to %d bytes, expected %d" % (len(raw), wb * h))
        one_is_black = True  # compressed rows travel inverted
    m = re.fullmatch(r"([\d.]+) mm,([\d.]+) mm", page["SIZE"])
    if not m:
        raise Fail("SIZE %r is not in millimetres" % page["SIZE"])
    width = round(float(m.group(1)) * dpi / 25.4)
    if not (wb * 8 - 32 < width <= wb * 8):
        raise Fail("SIZE width %s gives %d dots, which does not match %d bytes per row"
                   % (page["SIZE"], width, wb))
    if abs(float(m.group(2)) * dpi / 25.4 - h) > 0.6:
        raise Fail("SIZE height %s does not match %d rows at %d dpi" % (page["SIZE"], h, dpi))
    return Bitmap.from_bytes(raw, wb, h, width, one_is_black)


def cmd_tspl(a):
    data = open(a.file, "rb").read()
    if not data:
        raise Fail("empty TSPL stream")
    pages = parse_tspl(data)
    print("TSPL: %d bytes, %d page(s); page 1: %s" % (len(data), len(pages),
          ", ".join("%s %s" % (c, pages[0][c] if c != "BITMAP" else pages[0][c][:5]) for c in pages[0]["order"])
          if pages else "-"))
    if a.pages is not None and len(pages) != a.pages:
        raise Fail("%d pages, expected %d" % (len(pages), a.pages))
    for n, p in enumerate(pages, 1):
        what = "page %d" % n
        order = p["order"]
        if order[0] != "SIZE" or order[-2:] != ["BITMAP", "PRINT"] or order[-3] != "CLS":
            raise Fail("%s: commands out of order: %s" % (what, order))
        if p["PRINT"] != "1,1":
            raise Fail("%s: PRINT %s, expected 1,1" % (what, p["PRINT"]))
        if "BITMAP" not in p:
            raise Fail("%s: no BITMAP" % what)
        if a.size:
            want_w, want_h = (float(v) for v in a.size.split("x"))
            m = re.fullmatch(r"([\d.]+) mm,([\d.]+) mm", p["SIZE"])
            if not m or abs(float(m.group(1)) - want_w) > a.size_tol or abs(float(m.group(2)) - want_h) > a.size_tol:
                raise Fail("%s: SIZE %s, expected about %s mm" % (what, p["SIZE"], a.size))
        if a.size_exact and p["SIZE"] != a.size_exact:
            raise Fail("%s: SIZE %s, expected %s" % (what, p["SIZE"], a.size_exact))
        for key, want in (("GAP", a.gap), ("BLINE", a.bline), ("DENSITY", a.density),
                          ("SPEED", a.speed), ("SET RIBBON", a.ribbon), ("OFFSET", a.offset)):
            if want is None:
                continue
            have = p.get(key)
            if want == "none":
                if have is not None:
                    raise Fail("%s: unexpected %s %s" % (what, key, have))
            elif have != want:
                raise Fail("%s: %s %s, expected %s" % (what, key, have, want))
        if a.label_mode is not None:
            sets = [c for c in order if c.startswith("SET ") and c != "SET RIBBON"]
            have = ";".join("%s %s" % (c, p[c]) for c in sets) or "none"
            if have != a.label_mode:
                raise Fail("%s: label mode lines %s, expected %s" % (what, have, a.label_mode))
            if sets and order.index(sets[0]) != order.index("SET RIBBON") + 1:
                raise Fail("%s: label mode lines do not follow SET RIBBON: %s" % (what, order))
        x, y, wb, h, mode, payload = p["BITMAP"]
        if a.bitmap and "%d,%d" % (wb, h) != a.bitmap:
            raise Fail("%s: BITMAP %d bytes x %d rows, expected %s" % (what, wb, h, a.bitmap))
        if a.mode is not None and mode != a.mode:
            raise Fail("%s: BITMAP mode %d, expected %d" % (what, mode, a.mode))
        if (x, y) != (0, 0):
            raise Fail("%s: BITMAP at %d,%d, expected 0,0" % (what, x, y))
        bm = tspl_bitmap(p, a.dpi)
        if a.ink:
            check_ink(bm, a.ink, what)
    print("TSPL OK")


# ---------------------------------------------------------------------------
# ESC/POS and CPCL (bitmap framing only) and the other families' first bytes.

def cmd_tspldiff(a):
    """How far two TSPL streams' pages are apart: sizes and differing dots."""
    pa, pb = (parse_tspl(open(f, "rb").read()) for f in (a.a, a.b))
    if len(pa) != len(pb):
        raise Fail("%d pages against %d" % (len(pa), len(pb)))
    out = []
    for n, (x, y) in enumerate(zip(pa, pb), 1):
        bx, by = tspl_bitmap(x, a.dpi), tspl_bitmap(y, a.dpi)
        if (bx.width, bx.height) != (by.width, by.height):
            out.append("page %d: %dx%d dots against %dx%d" % (n, bx.width, bx.height, by.width, by.height))
            continue
        diff = sum((r ^ q).bit_count() for r, q in zip(bx.rows, by.rows))
        out.append("page %d: %d of %d dots differ (%d and %d black)" % (n, diff, bx.width * bx.height,
                                                                        bx.black(), by.black()))
    print("; ".join(out))


def cmd_tsplorder(a):
    """The order of a stream's distinct page images, as letters: A B A B."""
    seen = {}
    order = []
    for p in parse_tspl(open(a.file, "rb").read()):
        key = p["BITMAP"][5]
        order.append(seen.setdefault(key, chr(ord("A") + len(seen))))
    print(" ".join(order))


def cmd_escpos(a):
    data = open(a.file, "rb").read()
    pos = 0
    drawer = b"\x1b\x70\x00\x80\x80"
    if data.startswith(drawer):
        pos += len(drawer)
    if a.drawer:
        where = "before" if pos else "after" if data.endswith(drawer) else "none"
        if where != a.drawer:
            raise Fail("cash drawer pulse: %s the page, expected %s" % (where, a.drawer))
    if data[pos:pos + 6] != b"\x1b\x40\x00\x1b\x61\x01":
        raise Fail("ESC/POS page does not start with 1B 40 00 1B 61 01:\n%s" % hexdump(data[:64]))
    pos += 6
    if data[pos:pos + 3] != b"\x1d\x76\x30":
        raise Fail("no GS v 0 raster command at byte %d:\n%s" % (pos, hexdump(data[pos:pos + 32])))
    m, wb, h = data[pos + 3], int.from_bytes(data[pos + 4:pos + 6], "little"), int.from_bytes(data[pos + 6:pos + 8], "little")
    pos += 8
    print("ESC/POS: %d bytes, raster mode %d, %d bytes x %d rows" % (len(data), m, wb, h))
    if a.width_bytes and wb != a.width_bytes:
        raise Fail("raster is %d bytes wide, expected %d" % (wb, a.width_bytes))
    payload = data[pos:pos + wb * h]
    if len(payload) != wb * h:
        raise Fail("raster announces %d bytes, %d follow" % (wb * h, len(payload)))
    if a.ink:
        check_ink(Bitmap.from_bytes(payload, wb, h, wb * 8, True), a.ink, "ESC/POS page")
    if a.tail is not None and data[pos + wb * h:] != bytes.fromhex(a.tail):
        raise Fail("after the raster: %s, expected %s" % (data[pos + wb * h:].hex(), a.tail))
    print("ESC/POS OK")


def cmd_cpcl(a):
    data = open(a.file, "rb").read()
    m = re.match(rb"! (-?\d+) 200 200 (\d+) 1\r\nPAGE-WIDTH (\d+)\r\nCG (\d+) (\d+) 0 0\r\n", data)
    if not m:
        raise Fail("CPCL label header not found:\n%s" % hexdump(data[:96]))
    off, h, w, wb, h2 = (int(v) for v in m.groups())
    print("CPCL: %d bytes, offset %d, %d x %d dots, %d bytes per row" % (len(data), off, w, h, wb))
    if h != h2:
        raise Fail("label height %d but graphic height %d" % (h, h2))
    pos = m.end()
    payload = data[pos:pos + wb * h]
    rest = data[pos + wb * h:]
    if a.form and not rest.startswith(b"FORM\r\n"):
        raise Fail("no FORM after the graphic:\n%s" % hexdump(rest[:32]))
    if not rest.endswith(b"PRINT\r\n"):
        raise Fail("the label does not end with PRINT:\n%s" % hexdump(rest[-32:]))
    if a.width and w != a.width:
        raise Fail("PAGE-WIDTH %d, expected %d" % (w, a.width))
    if a.ink:
        check_ink(Bitmap.from_bytes(payload, wb, h, w, True), a.ink, "CPCL label")
    print("CPCL OK")


def cmd_prefix(a):
    data = open(a.file, "rb").read()
    want = bytes.fromhex(a.hex)
    if not data:
        raise Fail("the printer stream is empty")
    if not data.startswith(want):
        raise Fail("stream does not start with %s:\n%s" % (a.hex, hexdump(data[:64])))
    print("%d bytes, starts with %s" % (len(data), a.hex))


# ---------------------------------------------------------------------------
# PPD checks

FAMILY = {20: "tspl", 21: "escpos", 22: "cpcl", 23: "paperang", 24: "peripage", 25: "niimbot", 26: "cat"}

# Options each family must offer, with the choice the PPD must make the default.
COMMON = {"ImageFilter": "11", "Threshold": "175", "Brightness": "0", "Contrast": "0", "Rotate": "0",
          "AdjustHoriaontal": "0", "AdjustVertical": "0", "ColorModel": "Gray"}
# Receipts and mini printers start at their first line and end after their last.
TRIM = {"CropEdgeTop": "-1", "CropEdgeBottom": "-1"}
# The print head's width in dots, by PPD file.
HEAD_DOTS = {"tspl-203": 832, "tspl-300": 1248, "escpos-58": 384, "escpos-80": 576, "cpcl-203": 832,
             "paperang-57": 384, "peripage-57": 384, "niimbot-b1": 384, "niimbot-d11": 96, "cat-57": 384}
NEEDS = {
    "tspl": dict(COMMON, zeMediaTracking="Gap", MediaMethod="Direct", Darkness="Default",
                 zePrintRate="Default", FeedOffset="0", ImageCompress="0", LabelMode="PrinterDefault"),
    "escpos": dict(COMMON, FeedOffset="10", MoneyBox="None", CropEdgeLeft="0", CropEdgeRight="0",
                   CutMedia="None", CutType="Partial", **TRIM),
    "cpcl": dict(COMMON, zeMediaTracking="Gap"),
    "paperang": dict(COMMON, zeMediaTracking="Continuous", **TRIM),
    "peripage": dict(COMMON, zeMediaTracking="Continuous", Darkness="Default", zePrintRate="Default",
                     FeedOffset="10", ImageCompress="0", BeginPrintSound="None", EndPrintSound="None",
                     CropEdgeLeft="0", CropEdgeRight="0", **TRIM),
    "niimbot": dict(COMMON, zeMediaTracking="Gap", Darkness="Default"),
    "cat": dict(COMMON, Darkness="Default", FeedOffset="15", **TRIM),
}
# Options that would do nothing (or harm) in a family must not be offered there.
FORBIDDEN = {
    "tspl": {"MoneyBox", "BeginPrintSound", "EndPrintSound", "CropEdgeTop", "CropEdgeBottom", "CutMedia",
             "CutType"},
    "escpos": {"Darkness", "zePrintRate", "zeMediaTracking", "MediaMethod", "ImageCompress", "LabelMode"},
    "cpcl": {"Darkness", "zePrintRate", "MoneyBox", "FeedOffset", "CropEdgeBottom", "CutMedia", "CutType",
             "LabelMode"},
    "paperang": {"Darkness", "zePrintRate", "MoneyBox", "FeedOffset", "CropEdgeLeft", "CutMedia", "CutType",
                 "LabelMode"},
    "peripage": {"MoneyBox", "MediaMethod", "CutMedia", "CutType", "LabelMode"},
    "niimbot": {"zePrintRate", "MoneyBox", "FeedOffset", "CropEdgeTop", "CropEdgeBottom", "CutMedia", "CutType",
                "LabelMode", "ImageCompress"},
    "cat": {"zePrintRate", "zeMediaTracking", "MoneyBox", "CropEdgeLeft", "CutMedia", "CutType", "LabelMode",
            "ImageCompress"},
}
WORDS = {
    "zeMediaTracking": {"Continuous", "Gap", "BLine", "Perforated", "Recording", "Tattoo"},
    "MediaMethod": {"Direct", "Ribbon"},
    "MoneyBox": {"None", "BeforePrint", "AfterPrint"},
    "BeginPrintSound": {"None", "EveryPage", "EveryDoc"},
    "EndPrintSound": {"None", "EveryPage", "EveryDoc"},
    "CutMedia": {"None", "EveryPage", "EndOfJob"},
    "CutType": {"Partial", "Full"},
    "LabelMode": {"PrinterDefault", "TearOff", "PeelOff", "CutEveryLabel", "CutEndOfJob"},
}
RANGES = {"ImageFilter": (0, 11), "Threshold": (1, 254), "Brightness": (-100, 100), "Contrast": (-99, 100),
          "Rotate": (0, 3), "AdjustHoriaontal": (-10, 10), "AdjustVertical": (-10, 10), "FeedOffset": (0, 60),
          "ImageCompress": (0, 1), "CropEdgeTop": (-1, 50), "CropEdgeBottom": (-1, 50),
          "CropEdgeLeft": (-1, 50), "CropEdgeRight": (-1, 50)}
LABEL_SIZES = {"w113h85": (40, 30), "w142h85": (50, 30), "w162h91": (57, 32), "w283h283": (100, 100),
               "w283h425": (100, 150), "w288h432": (101.6, 152.4)}


def read_ppd(path):
    text = open(path, encoding="latin-1").read()
    attrs = {}
    options = {}
    for line in text.splitlines():
        m = re.match(r"\*(\w[\w-]*)(?: ([^/:]+)(?:/([^:]*))?)?: *(.*)", line)
        if not m:
            continue
        key, choice, _, value = m.groups()
        attrs.setdefault(key, []).append((choice, value))
    for line in text.splitlines():
        m = re.match(r"\*OpenUI \*(\w+)", line)
        if m:
            options[m.group(1)] = [c for c, _ in attrs.get(m.group(1), []) if c]
    return text, attrs, options


def first(attrs, key):
    v = attrs.get(key)
    return v[0][1].strip('"') if v else None


def cmd_ppd(a):
    for path in a.files:
        name = os.path.basename(path)
        text, attrs, options = read_ppd(path)
        model = int(first(attrs, "cupsModelNumber") or 0)
        fam = FAMILY.get(model)
        if not fam:
            raise Fail("%s: cupsModelNumber %d is not a dotforge family" % (name, model))
        if first(attrs, "cupsFilter") != "application/vnd.cups-raster 0 dotforge":
            raise Fail("%s: cupsFilter is %r" % (name, first(attrs, "cupsFilter")))
        f2 = first(attrs, "cupsFilter2") or ""
        if not (f2.startswith("application/vnd.cups-raster ") and f2.endswith(" dotforge")):
            raise Fail("%s: cupsFilter2 is %r" % (name, f2))
        if (first(attrs, "cupsSNMPSupplies") or "").lower() != "false":
            raise Fail("%s: cupsSNMPSupplies must be False" % name)
        for key in ("ModelName", "NickName", "Manufacturer", "PCFileName"):
            if not first(attrs, key):
                raise Fail("%s: no *%s" % (name, key))
        if "1284DeviceID" in attrs:
            raise Fail("%s: has a *1284DeviceID, but no real device id is known" % name)
        if (first(attrs, "HWMargins") or "").split() != ["0", "0", "0", "0"]:
            raise Fail("%s: HWMargins %r, expected 0 0 0 0" % (name, first(attrs, "HWMargins")))
        cm = [v for c, v in attrs.get("ColorModel", []) if c]
        if len(cm) != 1 or "/cupsColorSpace 0" not in cm[0]:
            raise Fail("%s: ColorModel must be one grey (W) choice: %r" % (name, cm))
        res = [(c, v) for c, v in attrs.get("Resolution", []) if c]
        if not res or any("/cupsBitsPerColor 8" not in v for c, v in res):
            raise Fail("%s: every resolution must ask for 8 bits per colour: %r" % (name, res))
        if "CustomPageSize" not in attrs:
            raise Fail("%s: no custom page size" % name)
        for opt, default in NEEDS[fam].items():
            if opt not in options:
                raise Fail("%s: option %s missing" % (name, opt))
            if first(attrs, "Default" + opt) != default:
                raise Fail("%s: *Default%s is %r, expected %r" % (name, opt, first(attrs, "Default" + opt), default))
            if default not in options[opt]:
                raise Fail("%s: default %s of %s is not one of its choices" % (name, default, opt))
        for opt in FORBIDDEN[fam]:
            if opt in options:
                raise Fail("%s: option %s has no effect on this family" % (name, opt))
        for opt, choices in options.items():
            if opt in WORDS:
                bad = set(choices) - WORDS[opt]
                if bad:
                    raise Fail("%s: %s choices %s are not words the filter knows" % (name, opt, sorted(bad)))
            if opt in RANGES:
                lo, hi = RANGES[opt]
                for c in choices:
                    if not re.fullmatch(r"-?\d+", c) or not lo <= int(c) <= hi:
                        raise Fail("%s: %s choice %r is not a number in %d..%d" % (name, opt, c, lo, hi))
            if opt in ("Darkness", "zePrintRate"):
                hi = {"tspl": 15 if opt == "Darkness" else 12, "peripage": 5 if opt == "Darkness" else 8,
                      "niimbot": 5, "cat": 5}[fam]
                for c in choices:
                    if c != "Default" and (not re.fullmatch(r"\d+", c) or int(c) > hi):
                        raise Fail("%s: %s choice %r is not Default or 0..%d" % (name, opt, c, hi))
        head = HEAD_DOTS.get(name[len("dotforge-"):-len(".ppd")])
        if first(attrs, "dotforgeHeadDots") != str(head):
            raise Fail("%s: *dotforgeHeadDots is %r, expected %r" % (name, first(attrs, "dotforgeHeadDots"), head))
        if fam == "peripage":
            if first(attrs, "DensityCommand") is None or first(attrs, "ImageMaxLength") is None:
                raise Fail("%s: PeriPage models need DensityCommand and ImageMaxLength" % name)
        elif "DensityCommand" in attrs or "ImageMaxLength" in attrs:
            raise Fail("%s: DensityCommand/ImageMaxLength only mean something to PeriPage" % name)
        sizes = {c: v for c, v in attrs.get("PaperDimension", []) if c}
        if fam == "niimbot":
            # Labels: the B1's across its 48 mm head (50 mm ones lose a mm
            # each side), the D11's sideways, so at most 15 mm high.
            for size, dim in sizes.items():
                pw, ph = (float(v) * 25.4 / 72 for v in dim.strip('"').split())
                if (pw > 50.05 if "b1" in name else ph > 15.05):
                    raise Fail("%s: %s (%.1fx%.1f mm) does not fit the head" % (name, size, pw, ph))
        elif fam in ("tspl", "cpcl"):
            for size, (w, h) in LABEL_SIZES.items():
                if size not in sizes:
                    raise Fail("%s: label size %s missing" % (name, size))
                pw, ph = (float(v) * 25.4 / 72 for v in sizes[size].strip('"').split())
                if abs(pw - w) > 0.05 or abs(ph - h) > 0.05:
                    raise Fail("%s: %s is %.2fx%.2f mm, expected %gx%g" % (name, size, pw, ph, w, h))
        else:
            want = 72 if "80" in name else 48
            for size, dim in sizes.items():
                pw = float(dim.strip('"').split()[0]) * 25.4 / 72
                if abs(pw - want) > 0.05:
                    raise Fail("%s: %s is %.2f mm wide, the head prints %d mm" % (name, size, pw, want))
            maxh = float(attrs["ParamCustomPageSize"][1][1].split()[3]) * 25.4 / 72
            if fam == "escpos" and maxh < 2000:
                raise Fail("%s: custom lengths stop at %.0f mm" % (name, maxh))
        print("%s: model %d (%s), %d options, %d sizes: OK" % (name, model, fam, len(options), len(sizes)))


# ---------------------------------------------------------------------------
# Network printer stand-in

def cmd_freeport(a):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    print(s.getsockname()[1])
    s.close()


# ---------------------------------------------------------------------------
# Raster streams written directly (no Ghostscript), for jobs that skip the
# conversion filters and for streams too large to keep in a file.

def raster_header(width, height, bpp, dpi=203):
    """A cups_page_header2_t (little-endian, libcups's field offsets) for a
    white-is-1 grey page (colour space sw) of bpp 1 or 8."""
    h = bytearray(1796)
    struct.pack_into("<2I", h, 276, dpi, dpi)                                # HWResolution
    struct.pack_into("<I", h, 340, 1)                                        # NumCopies
    struct.pack_into("<2I", h, 352, width * 72 // dpi, height * 72 // dpi)   # PageSize
    struct.pack_into("<7I", h, 372, width, height, 0, bpp, bpp, (width * bpp + 7) // 8, 0)
    struct.pack_into("<2I", h, 400, 18, 0)                                   # cupsColorSpace, cupsCompression
    struct.pack_into("<I", h, 420, 1)                                        # cupsNumColors
    return bytes(h)


def raster_page(width, height, bpp):
    """A page like make_doc's: black over the left half of the top quarter."""
    bpl = (width * bpp + 7) // 8
    half = width // 2
    if bpp == 8:
        ink = bytes(half) + b"\xff" * (width - half)
    else:
        ink = bytes(half // 8) + b"\xff" * (bpl - half // 8)
    white = b"\xff" * bpl
    top = height // 4
    return ink * top + white * (height - top)


def compress_lines(data, bpl, bpp):
    """CUPS raster version 2 compression: each run of up to 256 equal lines is
    a repeat count, then the line as runs of up to 128 equal pixels."""
    step = max(1, bpp // 8)
    out = bytearray()
    lines = [data[i:i + bpl] for i in range(0, len(data), bpl)]
    i = 0
    while i < len(lines):
        n = 1
        while i + n < len(lines) and n < 256 and lines[i + n] == lines[i]:
            n += 1
        out.append(n - 1)
        line, x = lines[i], 0
        while x < bpl:
            px = line[x:x + step]
            k = 1
            while k < 128 and x + (k + 1) * step <= bpl and line[x + k * step:x + (k + 1) * step] == px:
                k += 1
            out.append(k - 1)
            out += px
            x += k * step
        i += n
    return bytes(out)


def cmd_raster(a):
    """Writes a version 3 (uncompressed, sync word 3SaR) or, with --compress,
    a version 2 (compressed, 2SaR) raster stream."""
    bpl = (a.width * a.bpp + 7) // 8
    body = raster_page(a.width, a.height, a.bpp)
    if a.compress:
        body = compress_lines(body, bpl, a.bpp)
    page = raster_header(a.width, a.height, a.bpp) + body
    with open(a.file, "wb") as f:
        f.write(b"2SaR" if a.compress else b"3SaR")
        for _ in range(a.pages):
            f.write(page)


# The status queries of the five families, as the printer application and the
# filter ask them (a Paperang query is a framed command, see query_len).
STATUS_QUERIES = [bytes([0x10, 0x04, n]) for n in (1, 2, 3, 4)] + [
    bytes([0x1D, 0x49, n]) for n in (1, 2, 3, 65, 66, 67, 68)] + [
    b"\x1b!?", b"\x1b!S", b"\x1bh", b"\x1bi", b"\x10\xff\x40", b"\x10\xff\x50\xf1",
    b"\x10\xff\x20\xf0", b"\x10\xff\x20\xf1", b"\x10\xff\x20\xf2",
    # Niimbot: printer info (model, battery), heartbeat, RFID info.
    bytes.fromhex("5555400108 49aaaa"), bytes.fromhex("55554001 0a4baaaa"),
    bytes.fromhex("5555dc0101dcaaaa"), bytes.fromhex("55551a01011aaaaa")]
# A cat printer's state query is also the first frame of its jobs: a query
# only when nothing follows it.
ALONE_QUERIES = [bytes.fromhex("5178a300010000 00ff")]


def query_len(data):
    """Length of the status query at the start of data, 0 when there is none."""
    if len(data) >= 10 and data[0] == 0x02:
        n = data[3] | data[4] << 8
        if n <= 64 and len(data) >= 10 + n and data[9 + n] == 0x03:
            return 10 + n
    for q in STATUS_QUERIES:
        if data.startswith(q):
            return len(q)
    return 0


def strip_queries(data):
    """(queries, job): the status queries a sender wrote before its job."""
    pos = 0
    while True:
        n = query_len(data[pos:])
        if not n:
            if data[pos:] in ALONE_QUERIES:
                return data, b""
            return data[:pos], data[pos:]
        pos += n


def cmd_listen(a):
    """Accepts connections one after the other and stores each in
    DIR/conn-N.bin; status queries before a job's first byte are kept apart
    in DIR/queries.bin (never answered), and a connection that carried
    nothing else counts as none. With --rate, reads at most that many bytes per second
    (and keeps the receive window small), so a job stays in flight. With
    --drop-first N, the first connection is reset after N bytes and kept as
    DIR/conn-1.dropped."""
    try:  # end with the test script, even if it is killed outright
        import ctypes
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if a.rate:
        srv.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8192)
    srv.bind(("127.0.0.1", a.port))
    srv.listen(4)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    with open(os.path.join(a.dir, "ready"), "w"):
        pass
    if a.answer:
        return answer_queries(srv, a)
    held = []
    n = 0
    while True:
        conn, _ = srv.accept()
        n += 1
        if len(held) < a.stall:
            if stall_job(conn, a.dir, len(held) + 1):
                held.append(conn)  # kept open, never read again
            n -= 1
            continue
        path = os.path.join(a.dir, "conn-%d.bin" % n)
        got = 0
        dropped = False
        with open(path + ".part", "wb") as f:
            while True:
                chunk = conn.recv(4096 if a.rate or a.drop_first else 65536)
                if not chunk:
                    break
                f.write(chunk)
                f.flush()
                got += len(chunk)
                if n == 1 and a.drop_first and got >= a.drop_first:
                    # The printer goes away mid-job: reset the connection.
                    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
                    dropped = True
                    break
                if a.drop_after and got >= a.drop_after:
                    break  # a printer that goes away in the middle of every job
                if a.rate and not os.path.exists(os.path.join(a.dir, "fast")):
                    time.sleep(len(chunk) / a.rate)
        conn.close()
        with open(path + ".part", "rb") as f:
            queries, job = strip_queries(f.read())
        if queries:
            with open(os.path.join(a.dir, "queries.bin"), "ab") as f:
                f.write(queries)
            if not job and not dropped:
                os.unlink(path + ".part")
                n -= 1
                continue
            with open(path + ".part", "wb") as f:
                f.write(job)
        os.rename(path + ".part", path[:-4] + ".dropped" if dropped else path)


def stall_job(conn, dir, k):
    """A printer that accepts a job and then reads nothing: true when the
    connection carried more than status queries (it is then left unread and
    DIR/stalled-K marks it); false for a status connection, read to its end."""
    data = b""
    while len(data) <= 64:
        chunk = conn.recv(64)
        if not chunk:
            conn.close()
            return False
        data += chunk
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    with open(os.path.join(dir, "stalled-%d" % k), "w"):
        pass
    return True


def answer_queries(srv, a):
    """Answers whatever comes as a printer gone wrong does: 'slow' sends a
    byte every 50 ms (0x00, which makes no reply) for 4096 bytes, 'noise'
    sends 64 bytes of seeded noise at once."""
    rng = random.Random(27)
    while True:
        conn, _ = srv.accept()
        conn.settimeout(0.05)
        try:
            while True:
                try:
                    if not conn.recv(4096):
                        break
                except socket.timeout:
                    continue
                if a.answer == "noise":
                    conn.sendall(bytes(rng.randrange(256) for _ in range(64)))
                    continue
                for _ in range(4096):
                    conn.sendall(b"\x00")
                    time.sleep(0.05)
        except OSError:
            pass
        conn.close()


def cmd_blackhole(a):
    """A network printer that is switched off: the port is bound and
    listening, but nothing accepts and the accept queue is kept full, so the
    kernel drops every further SYN and a connect waits until it gives up.
    Writes DIR/ready once the queue is full; ends with the test script."""
    try:
        import ctypes
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", a.port))
    srv.listen(0)
    held = []
    for _ in range(4):
        c = socket.socket()
        c.setblocking(False)
        try:
            c.connect(("127.0.0.1", a.port))
        except BlockingIOError:
            pass
        held.append(c)
    time.sleep(0.2)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    with open(os.path.join(a.dir, "ready"), "w"):
        pass
    while True:
        time.sleep(60)


def ipp_print_job(printer_uri, doc_format, user="test"):
    """The IPP part of a Print-Job request (version 2.0), without the document."""
    def attr(tag, name, value):
        n, v = name.encode(), value.encode()
        return bytes([tag]) + struct.pack(">H", len(n)) + n + struct.pack(">H", len(v)) + v
    return (struct.pack(">BBHI", 2, 0, 0x0002, 1) + b"\x01" +
            attr(0x47, "attributes-charset", "utf-8") + attr(0x48, "attributes-natural-language", "en") +
            attr(0x45, "printer-uri", printer_uri) + attr(0x42, "requesting-user-name", user) +
            attr(0x49, "document-format", doc_format) + b"\x03")


def cmd_trickle(a):
    """A client that stalls: a Print-Job of FILE whose first --head bytes
    come at once, then one byte every --every seconds. Prints how it ended
    (the HTTP status line, that the server closed the connection, or that it
    gave up after --stop-after seconds)."""
    m = re.match(r"ipp://([^:/]+):(\d+)(/.*)", a.uri)
    host, port, path = m.group(1), int(m.group(2)), m.group(3)
    with open(a.file, "rb") as f:
        doc = f.read()
    body = ipp_print_job(a.uri, a.format) + doc
    s = socket.create_connection((host, port), timeout=60)
    s.sendall(("POST %s HTTP/1.1\r\nHost: %s:%d\r\nContent-Type: application/ipp\r\n"
               "Content-Length: %d\r\n\r\n" % (path, host, port, len(body))).encode())
    head = len(body) - len(doc) + a.head
    try:
        s.sendall(body[:head])
        end = time.time() + a.stop_after
        for i in range(head, len(body)):
            if time.time() > end:
                print("gave up")
                return
            time.sleep(a.every)
            s.sendall(body[i:i + 1])
        answer = s.recv(4096).split(b"\r\n")[0].decode(errors="replace")
        print(answer or "closed")
    except OSError as e:
        print("closed (%s)" % e.strerror)


def main():
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="cmd", required=True)

    p = sub.add_parser("tspl")
    p.add_argument("file")
    p.add_argument("--dpi", type=int, default=203)
    p.add_argument("--pages", type=int)
    p.add_argument("--size", help="WxH in mm, within --size-tol")
    p.add_argument("--size-tol", type=float, default=0.15)
    p.add_argument("--size-exact", help="the SIZE line's argument text")
    p.add_argument("--gap")
    p.add_argument("--bline")
    p.add_argument("--density")
    p.add_argument("--speed")
    p.add_argument("--ribbon")
    p.add_argument("--offset")
    p.add_argument("--label-mode", help="the SET lines after SET RIBBON, ';'-separated, or none")
    p.add_argument("--bitmap", help="bytes per row,rows")
    p.add_argument("--mode", type=int)
    p.add_argument("--ink", help="fx0,fy0,fx1,fy1: the black area as fractions of the page")
    p.set_defaults(fn=cmd_tspl)

    p = sub.add_parser("frame")
    p.add_argument("png", help="a page dotforge-preview wrote")
    p.add_argument("--page", required=True, help="WxH in mm: the page the client sent")
    p.add_argument("--roll", action="store_true", help="continuous paper: the length follows the page")
    p.set_defaults(fn=cmd_frame)

    p = sub.add_parser("tspldiff")
    p.add_argument("a")
    p.add_argument("b")
    p.add_argument("--dpi", type=int, default=203)
    p.set_defaults(fn=cmd_tspldiff)

    p = sub.add_parser("tsplorder")
    p.add_argument("file")
    p.set_defaults(fn=cmd_tsplorder)

    p = sub.add_parser("escpos")
    p.add_argument("file")
    p.add_argument("--width-bytes", type=int)
    p.add_argument("--drawer", choices=("before", "after", "none"))
    p.add_argument("--tail", help="hex of every byte after the raster data (feed, cut, drawer)")
    p.add_argument("--ink")
    p.set_defaults(fn=cmd_escpos)

    p = sub.add_parser("cpcl")
    p.add_argument("file")
    p.add_argument("--width", type=int)
    p.add_argument("--form", action="store_true")
    p.add_argument("--ink")
    p.set_defaults(fn=cmd_cpcl)

    p = sub.add_parser("prefix")
    p.add_argument("file")
    p.add_argument("hex")
    p.set_defaults(fn=cmd_prefix)

    p = sub.add_parser("ppd")
    p.add_argument("files", nargs="+")
    p.set_defaults(fn=cmd_ppd)

    p = sub.add_parser("freeport")
    p.set_defaults(fn=cmd_freeport)

    p = sub.add_parser("raster")
    p.add_argument("file")
    p.add_argument("--width", type=int, required=True)
    p.add_argument("--height", type=int, required=True)
    p.add_argument("--bpp", type=int, choices=(1, 8), default=8)
    p.add_argument("--pages", type=int, default=1)
    p.add_argument("--compress", action="store_true")
    p.set_defaults(fn=cmd_raster)

    p = sub.add_parser("listen")
    p.add_argument("port", type=int)
    p.add_argument("dir")
    p.add_argument("--rate", type=int, default=0)
    p.add_argument("--drop-first", type=int, default=0,
                   help="reset the first connection after this many bytes")
    p.add_argument("--drop-after", type=int, default=0,
                   help="close every connection after this many bytes")
    p.add_argument("--stall", type=int, default=0,
                   help="leave the first N job connections unread")
    p.add_argument("--answer", choices=("slow", "noise"),
                   help="answer status queries with a byte every 50 ms or with noise")
    p.set_defaults(fn=cmd_listen)

    p = sub.add_parser("blackhole")
    p.add_argument("port", type=int)
    p.add_argument("dir")
    p.set_defaults(fn=cmd_blackhole)

    p = sub.add_parser("trickle")
    p.add_argument("uri")
    p.add_argument("file")
    p.add_argument("format")
    p.add_argument("--head", type=int, default=0, help="document bytes sent at once")
    p.add_argument("--every", type=float, default=1.0)
    p.add_argument("--stop-after", type=float, default=600.0, help="seconds after which the client gives up")
    p.set_defaults(fn=cmd_trickle)

    a = ap.parse_args()
    try:
        a.fn(a)
    except Fail as e:
        print("FAIL: %s" % e)
        sys.exit(1)


if __name__ == "__main__":
    main()
