#!/usr/bin/env python3
"""`make bench`: times the dotforge filter against its peers, whole process.

Inputs are made with the system's CUPS: the sample label (tools/samples/label.ps)
goes through cupsfilter as 8-bit grey for our TSPL PPD and as 1 bit for CUPS's
sample Zebra PPD (ppdc, sample.drv). A 50-label job is the one-page raster
stream with its page repeated. Each configuration runs alternately with its
peer; the table shows medians and their ratio, so a busy machine slows both
sides alike. Peak memory is /usr/bin/time's maximum resident set size.

Before anything runs it checks that every program it needs is installed and
stops with their Debian packages if not. --quick is the smoke test's mode (one
run each, a few labels, short receipts, a small quality subset, ImageMagick
skipped with a note when missing): it proves that the script works, not how
fast anything is.

Usage: bench.py BUILD_DIR [--runs N] [--out bench/RESULTS.md] [--work DIR] [--no-quality] [--quick]
"""
import argparse
import os
import platform
import shutil
import statistics
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LABELS = 50
RECEIPT_ROWS = (10000, 100000)
# --quick: what it changes (the smoke test's mode).
QUICK_LABELS = 3
QUICK_RECEIPT_ROWS = (1000, 4000)
QUICK_QUALITY = ["--methods", "0,3,11", "--parts", "scaled,greys"]
HDR = 4 + 1796          # sync word, then one page header (v3, uncompressed)
OFF_WIDTH, OFF_HEIGHT, OFF_BPL = 372, 376, 392  # in the page header

METHODS = ["threshold", "Floyd-Steinberg", "ordered Bayer 4x4", "Burkes", "Stucki",
           "Jarvis-Judice-Ninke", "Sierra", "Stevenson-Arce", "ordered, generated 4x4",
           "ordered Bayer 8x8", "16x16 screen", "edge-keeping (default)"]
ERROR_DIFFUSION = {1, 3, 4, 5, 6, 7}


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, **kw).stdout


# Programs every run needs, with their Debian packages; and those --quick
# skips (with a note) when they are missing.
TOOLS = [("gs", "ghostscript"), ("ppdc", "cups-ppdc"), ("cupsfilter", "cups"), ("cups-config", "libcups2-dev"),
         ("lscpu", "util-linux"), ("c++", "g++"), ("/usr/bin/time", "time"), ("pamditherbw", "netpbm"),
         ("/usr/bin/python3", "python3")]
OPTIONAL_IN_QUICK = [("convert", "imagemagick")]


def missing(tools):
    return ["%s (%s)" % t for t in tools if not shutil.which(t[0])]


def filter_env(ppd):
    """The filter's environment: its PPD, and a sanitizer build's settings."""
    env = {k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")}
    env["PPD"] = ppd
    return env


def run(argv, env, stdin=None, cpu=False):
    """One whole-process run: (wall seconds, peak resident KiB), with cpu also
    the CPU seconds (user + system, the process and what it waited for)."""
    t0 = time.perf_counter()
    p = subprocess.Popen(argv, env=env, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    t = time.perf_counter() - t0
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("bench: %s failed" % " ".join(argv))
    if cpu:
        return t, usage.ru_maxrss, usage.ru_utime + usage.ru_stime
    return t, usage.ru_maxrss


def run_peak(argv, env):
    """As run, with the peak resident size measured by /usr/bin/time: a child's
    ru_maxrss also counts the forked Python process it was before exec."""
    out = os.path.join(os.path.dirname(argv[-1]), "time.out")
    t, _, c = run(["/usr/bin/time", "-f", "%M", "-o", out] + argv, env, cpu=True)
    return t, int(open(out).read().split()[-1]), c


def median_pair(a, b, runs):
    """Runs a and b (argv, env) alternately; medians of both (seconds, KiB)."""
    ta, tb, ma, mb = [], [], [], []
    for _ in range(runs):
        t, m = run(*a)
        ta.append(t)
        ma.append(m)
        t, m = run(*b)
        tb.append(t)
        mb.append(m)
    return statistics.median(ta), statistics.median(tb), max(ma), max(mb)


def photo_pgm(path, w, h):
    """A grey-rich page (smooth shading, texture and a little noise, every
    level from black to white), as a PGM that CUPS's image filter reads."""
    import math
    import random
    rnd = random.Random(22)
    rows = []
    for y in range(h):
        row = bytearray(w)
        for x in range(w):
            v = (128 + 70 * math.sin(x / 37.0) * math.cos(y / 53.0) + 50 * math.sin((x + y) / 91.0) +
                 rnd.randint(-8, 8))
            row[x] = 0 if v < 0 else 255 if v > 255 else int(v)
        rows.append(bytes(row))
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (w, h))
        f.write(b"".join(rows))


def repeat_pages(src, dst, n):
    data = open(src, "rb").read()
    with open(dst, "wb") as f:
        f.write(data[:4])
        for _ in range(n):
            f.write(data[4:])


def long_page(src, dst, rows):
    """A page of `rows` rows made by repeating the rows of src's first page."""
    data = open(src, "rb").read()
    hdr = bytearray(data[:HDR])
    bpl = struct.unpack_from("<I", hdr, 4 + OFF_BPL)[0]
    h = struct.unpack_from("<I", hdr, 4 + OFF_HEIGHT)[0]
    body = data[HDR:HDR + bpl * h]
    struct.pack_into("<I", hdr, 4 + OFF_HEIGHT, rows)
    with open(dst, "wb") as f:
        f.write(hdr)
        full, rest = divmod(rows, h)
        for _ in range(full):
            f.write(body)
        f.write(body[:rest * bpl])
    return bpl * rows


def pgm_of(src, dst):
    data = open(src, "rb").read()
    w = struct.unpack_from("<I", data, 4 + OFF_WIDTH)[0]
    h = struct.unpack_from("<I", data, 4 + OFF_HEIGHT)[0]
    with open(dst, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (w, h))
        f.write(data[HDR:HDR + w * h])


def machine():
    model = cores = "?"
    for line in sh(["lscpu"]).decode().splitlines():
        if line.startswith("Model name:"):
            model = line.split(":", 1)[1].strip()
        if line.startswith("CPU(s):"):
            cores = line.split(":", 1)[1].strip()
    mem = "?"
    for line in open("/proc/meminfo"):
        if line.startswith("MemTotal:"):
            mem = "%.1f GiB" % (int(line.split()[1]) / 1048576)
    osname = platform.platform()
    if os.path.exists("/etc/os-release"):
        for line in open("/etc/os-release"):
            if line.startswith("PRETTY_NAME="):
                osname = line.split("=", 1)[1].strip().strip('"')
    cxx = sh(["c++", "--version"]).decode().splitlines()[0]
    return "%s, %s cores, %s memory; %s, kernel %s; %s" % (model, cores, mem, osname, platform.release(), cxx)


def load():
    return open("/proc/loadavg").read().split()[0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=9)
    ap.add_argument("--out", default=os.path.join(ROOT, "bench", "RESULTS.md"))
    ap.add_argument("--no-quality", action="store_true", help="speed only (skip bench/quality.py)")
    ap.add_argument("--work", help="scratch directory (default BUILD_DIR/bench-work)")
    ap.add_argument("--quick", action="store_true",
                    help="smoke test: one run each, %d labels, short receipts, quality subset %s"
                    % (QUICK_LABELS, " ".join(QUICK_QUALITY)))
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    filt = os.path.join(build, "dotforge")
    ppds = os.path.join(build, "ppd")
    preview = os.path.join(build, "tools", "dotforge-preview")
    work = os.path.abspath(args.work) if args.work else os.path.join(build, "bench-work")
    quality_args = QUICK_QUALITY if args.quick else []
    global LABELS
    if args.quick:
        LABELS = QUICK_LABELS
    receipt_rows = QUICK_RECEIPT_ROWS if args.quick else RECEIPT_ROWS

    # Everything it needs, before the first run: a missing program must not
    # end a long run half-way, nor leave a results file without its tables.
    needed = [filt, os.path.join(ppds, "dotforge-tspl-203.ppd")] + ([] if args.no_quality else [preview])
    unbuilt = [f for f in needed if not os.access(f, os.R_OK)]
    if unbuilt:
        sys.exit("bench: not built: %s" % ", ".join(unbuilt))
    lacking = missing(TOOLS + ([] if args.quick else OPTIONAL_IN_QUICK))
    if not lacking:
        sb = sh(["cups-config", "--serverbin"]).decode().strip()
        dd = sh(["cups-config", "--datadir"]).decode().strip()
        peer = os.path.join(sb, "filter", "rastertolabel")
        lacking += ["%s (cups)" % f for f in (peer, os.path.join(dd, "drv", "sample.drv")) if not os.path.exists(f)]
    if lacking:
        sys.exit("bench: not installed: %s (`make bench` installs them)" % ", ".join(lacking))
    skipped = [] if not args.quick else [t for t in OPTIONAL_IN_QUICK if not shutil.which(t[0])]
    for prog, pkg in skipped:
        print("bench: quick mode: %s is not installed (%s): its row is left out" % (prog, pkg), flush=True)
    if not args.no_quality:
        # quality.py checks its own programs (and Debian's numpy and PIL).
        if subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "bench", "quality.py"), build, "--check"] +
                          quality_args).returncode != 0:
            sys.exit(1)
    os.makedirs(work, exist_ok=True)
    w = lambda name: os.path.join(work, name)

    # Inputs.
    sh(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite", "-sOutputFile=" + w("label.pdf"),
        os.path.join(ROOT, "tools", "samples", "label.ps")])
    sh(["ppdc", "-d", w("sample-ppd"), os.path.join(dd, "drv", "sample.drv")])
    zebra = w("sample-ppd/zebra.ppd")
    tspl = os.path.join(ppds, "dotforge-tspl-203.ppd")
    size = ["-o", "PageSize=w288h432"]
    with open(w("grey.ras"), "wb") as f:
        f.write(sh(["cupsfilter", "-p", tspl, "-m", "application/vnd.cups-raster"] + size + [w("label.pdf")]))
    with open(w("mono.ras"), "wb") as f:
        f.write(sh(["cupsfilter", "-p", zebra, "-m", "application/vnd.cups-raster", "-o", "Resolution=203dpi"] +
                   size + [w("label.pdf")]))
    repeat_pages(w("grey.ras"), w("grey50.ras"), LABELS)
    repeat_pages(w("mono.ras"), w("mono50.ras"), LABELS)
    pgm_of(w("grey.ras"), w("label.pgm"))

    def ours(ras, options="", ppd=tspl):
        return ([filt, "1", "bench", "label", "1", options, ras], filter_env(ppd))

    peer50 = ([peer, "1", "bench", "label", "1", "", w("mono50.ras")], {"PPD": zebra})
    peer1 = ([peer, "1", "bench", "label", "1", "", w("mono.ras")], {"PPD": zebra})
    runs = 1 if args.quick else args.runs
    rows = []
    load0 = load()

    def row(name, a, b, n=LABELS, r=runs, target=""):
        ta, tb, _, _ = median_pair(a, b, r)
        rows.append((name, ta / n * 1e3, tb / n * 1e3, ta / tb, target))
        print("%-52s %8.2f ms %8.2f ms %6.2fx %s" % rows[-1], flush=True)

    print("%-52s %11s %11s %7s" % ("job (per label)", "dotforge", "peer", "ratio"))
    for m in range(12):
        target = "1.0x" if m == 0 else "3.0x" if m in ERROR_DIFFUSION else "1.5x"
        if m == 11:
            target = "2.0x"
        row("%d labels, ImageFilter=%d %s" % (LABELS, m, METHODS[m]), ours(w("grey50.ras"), "ImageFilter=%d" % m),
            peer50, target=target)
    row("%d labels, default, ImageCompress=1" % LABELS, ours(w("grey50.ras"), "ImageCompress=1"), peer50)
    row("%d labels, 1-bit input" % LABELS, ours(w("mono50.ras")), peer50)
    row("one label alone", ours(w("grey.ras")), peer1, n=1, r=1 if args.quick else max(runs * 3, 15),
        target="1.1x")
    # The default against Burkes (the default before it), alternately: on the
    # label, and on a grey-rich page where every dot is diffused.
    photo_pgm(w("photo.pgm"), *((406, 609) if args.quick else (812, 1218)))
    with open(w("photo.ras"), "wb") as f:
        f.write(sh(["cupsfilter", "-p", tspl, "-m", "application/vnd.cups-raster", "-o", "ppi=203"] + size +
                   [w("photo.pgm")]))
    repeat_pages(w("photo.ras"), w("photo50.ras"), LABELS)
    row("%d labels, edge-keeping (11) against Burkes (3)" % LABELS, ours(w("grey50.ras"), "ImageFilter=11"),
        ours(w("grey50.ras"), "ImageFilter=3"), target="1.0x")
    row("%d grey-rich pages, edge-keeping (11) against Burkes (3)" % LABELS,
        ours(w("photo50.ras"), "ImageFilter=11"), ours(w("photo50.ras"), "ImageFilter=3"), target="1.5x")

    # The other families, each on a page of its own default size.
    families = [("ESC/POS 80 mm", "dotforge-escpos-80.ppd"), ("CPCL 203 dpi", "dotforge-cpcl-203.ppd"),
                ("Paperang 57 mm", "dotforge-paperang-57.ppd"), ("PeriPage 57 mm", "dotforge-peripage-57.ppd")]
    fam_rows = []
    for name, ppdname in families:
        ppd = os.path.join(ppds, ppdname)
        ras = w(ppdname + ".ras")
        with open(ras, "wb") as f:
            f.write(sh(["cupsfilter", "-p", ppd, "-m", "application/vnd.cups-raster", w("label.pdf")]))
        repeat_pages(ras, ras + "50", LABELS)
        d = open(ras, "rb").read(HDR)
        pw, ph = struct.unpack_from("<II", d, 4 + OFF_WIDTH)
        ta, tb, _, _ = median_pair(ours(ras + "50", "", ppd), peer50, runs)
        fam_rows.append((name, "%dx%d" % (pw, ph), ta / LABELS * 1e3, ta / LABELS / (pw * ph) * 1e9,
                         tb / LABELS * 1e3))
        print("%-16s %10s %8.2f ms/page %6.2f ns/dot (peer %.2f ms)" % fam_rows[-1], flush=True)

    # Long receipts: time per row and peak memory above the floor of a tiny page.
    escpos = os.path.join(ppds, "dotforge-escpos-80.ppd")
    rec = w("dotforge-escpos-80.ppd.ras")
    receipts = []
    long_page(rec, w("receipt-10.ras"), 10)
    small = [run_peak(*ours(w("receipt-10.ras"), "", escpos)) for _ in range(runs if args.quick else 5)]
    floor = min(r[1] for r in small)
    t_floor = statistics.median(r[0] for r in small)
    c_floor = statistics.median(r[2] for r in small)
    for n in receipt_rows:
        raster = long_page(rec, w("receipt-%d.ras" % n), n)
        res = [run_peak(*ours(w("receipt-%d.ras" % n), "", escpos))
               for _ in range(runs if args.quick else 5 if n > 10000 else 9)]
        t = statistics.median(r[0] for r in res)
        c = statistics.median(r[2] for r in res)
        peak = max(r[1] for r in res)
        receipts.append((n, raster, t, t / n * 1e6, (t - t_floor) / n * 1e6, (c - c_floor) / n * 1e6, peak,
                         (peak - floor) * 1024 / raster))
        print("receipt 575 x %d: %.3f s, %.2f us/row (%.2f past start-up, CPU %.2f), peak %d KiB "
              "(%.2fx raster above floor)" % ((n, t) + receipts[-1][3:]), flush=True)
        os.unlink(w("receipt-%d.ras" % n))

    # Other dithering programs on one label, whole process.
    others = []
    for name, argv in [("dotforge, one label, ImageFilter=1 (Floyd-Steinberg)",
                        ours(w("grey.ras"), "ImageFilter=1")[0]),
                       ("netpbm pamditherbw -fs", ["pamditherbw", "-fs", w("label.pgm")]),
                       ("ImageMagick convert -dither FloydSteinberg -monochrome",
                        ["convert", w("label.pgm"), "-dither", "FloydSteinberg", "-monochrome", "pbm:-"])]:
        env = filter_env(tspl) if "dotforge" in name else dict(os.environ)
        if any(argv[0] == prog for prog, _ in skipped):
            continue
        ts = [run(argv, env)[0] for _ in range(runs if args.quick else max(runs, 5))]
        others.append((name, statistics.median(ts) * 1e3))
        print("%-56s %8.1f ms" % others[-1], flush=True)
    load1 = load()

    # How well each method keeps codes, text and photos (bench/quality.py,
    # which needs Debian's python3 with numpy and PIL).
    quality = ""
    if not args.no_quality:
        qpath = w("quality.md")
        if subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "bench", "quality.py"), build, "--out", qpath,
                           "--work", w("quality")] + quality_args).returncode != 0:
            sys.exit("bench: bench/quality.py failed")
        quality = open(qpath).read()

    write_results(args.out, rows, fam_rows, receipts, (floor, t_floor, c_floor), others, runs, load0, load1,
                  quality, args.quick)
    print("written to", args.out)


def write_results(path, rows, fam_rows, receipts, floor, others, runs, load0, load1, quality, quick):
    out = []
    add = out.append
    add("# Benchmark results\n")
    if quick:
        add("**bench.py --quick (the smoke test's mode): one run of each, %d labels, short receipts, a quality "
            "subset; no figure here is a measurement.**\n" % LABELS)
    add("Made by `make bench` (bench/bench.py). Machine: %s.\n" % machine())
    add("How: release build (-O2, no sanitizers) of the filter; every figure is a whole process, output to "
        "/dev/null, input from a file. Each dotforge configuration runs alternately with its peer, %d times, "
        "and the table shows the medians (per label: the %d-label job's time / %d) and their ratio, so load from "
        "other users of the machine falls on both sides. Load average %s at the start, %s at the end.\n"
        % (runs, LABELS, LABELS, load0, load1))
    add("Input: tools/samples/label.ps (text, bars, a grey gradient) on a 4 x 6 in label at 203 dpi (812 x 1218 "
        "dots) through cupsfilter: 8-bit grey for dotforge's TSPL PPD, 1 bit for CUPS's sample Zebra PPD "
        "(sample.drv). Peer: CUPS's rastertolabel with that Zebra PPD on the same labels at 1 bit (ZPL). "
        "The 1-bit row feeds dotforge the Zebra raster (1 = black there, so its picture is inverted; the work "
        "is the same). The last two rows time dotforge against itself, alternately: edge-keeping (the default) in "
        "the first column, Burkes (the default before it) in the second; the grey-rich page is a generated "
        "picture of smooth shading, texture and noise over the whole label (812 x 1218, every dot diffused).\n")
    add("| job | dotforge per label | rastertolabel per label | ratio | target |")
    add("|---|---:|---:|---:|---:|")
    for name, a, b, r, target in rows:
        add("| %s | %.2f ms | %.2f ms | %.2fx | %s |" % (name, a, b, r, target and "at most " + target))
    add("\nOther families, %d pages of the label at each PPD's default page size (peer: rastertolabel's 4 x 6 in "
        "label):\n" % LABELS)
    add("| family | page (dots) | per page | per dot | rastertolabel per label |")
    add("|---|---|---:|---:|---:|")
    for f in fam_rows:
        add("| %s | %s | %.2f ms | %.2f ns | %.2f ms |" % f)
    add("\nLong receipt (ESC/POS 80 mm PPD, 575 dots (72 mm) wide, 8-bit grey, rows of the label repeated), one page, median of "
        "several runs. Floor: the same filter on a 10-row page, %.1f ms (%.1f ms CPU) and %d KiB peak. Past start-up: "
        "the time less the floor's; CPU per row is user + system time less the floor's, which other users of the "
        "machine do not inflate.\n" % (floor[1] * 1e3, floor[2] * 1e3, floor[0]))
    add("Targets: time per row within 20% between the two; peak memory at most the floor plus 1.5 times the "
        "raster.\n")
    add("| rows | raster | time | per row | per row past start-up | CPU per row | peak memory | above floor / raster |")
    add("|---:|---:|---:|---:|---:|---:|---:|---:|")
    for n, raster, t, per, net, cpu, peak, ratio in receipts:
        add("| %d | %.1f MB | %.3f s | %.2f us | %.2f us | %.2f us | %d KiB | %.2fx |" % (n, raster / 1e6, t, per, net,
                                                                                      cpu, peak, ratio))
    add("\nOther programs dithering the same label (one 812 x 1218 grey image, whole process, median):\n")
    add("| program | time |")
    add("|---|---:|")
    for name, t in others:
        add("| %s | %.1f ms |" % (name, t))
    if quality:
        add("")
        add(quality)
    add("\nEarlier tables (before each change): `git log -p bench/RESULTS.md`.")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
