#!/usr/bin/python3
"""`make bench`, quality part: how well each black-and-white method keeps
barcodes, text and photos, on a corpus the script makes itself.

Corpus (made anew on every run, nothing stored):
- Code128, Code39 and EAN-13 (GNU barcode), QR (qrencode) and DataMatrix
  (dmtxwrite), each at three module sizes, as vector PDF through CUPS
  (cupsfilter: pdftopdf, gstoraster) for the 203 and the 300 dpi TSPL PPDs,
  and as PNG pictures of 203 and 300 dpi (drawn with anti-aliased module
  edges, as design tools export them) through cupsfilter (imagetoraster) for
  the 203 dpi PPD, which scales the 300 dpi ones;
- text at 6 to 10 pt, as vector PDF and as an anti-aliased 300 dpi picture;
- two photo-like pictures (a portrait-like and a landscape-like scene, with
  highlights near white and dark edges);
- scaled codes, as users print them: QR PNGs at 2 to 5 pixels per module
  (qrencode) and Code128 PNGs of 150 and 300 dpi (pure black and white, as
  generators hand them out), each fitted by CUPS (cupsfilter, imagetoraster,
  no options) to a 50 x 30 mm and a 4 x 6 in label of the 203 dpi TSPL PPD:
  interpolation turns every module edge into a grey ramp up to a dozen dots
  wide;
- flat grey patches of 5 to 95 % for artefacts.
Each page goes through the release filter with ImageFilter=0..11, and its
TSPL stream back into a bitmap with dotforge-preview (the printer's dots).

Figures, per method:
- codes decoded (zbarimg; dmtxread for DataMatrix) on the printer's dots at
  full resolution, and through a scanner model: a Gaussian blur of
  SCAN_BLUR_MM (sigma) and resampling to SCAN_DPI;
- photo tone error: mean absolute difference, in grey levels, between the
  1-bit output and the grey page the filter was given, both blurred by a
  Gaussian of TONE_BLUR_MM (sigma), as the eye averages the dots at reading
  distance;
- text legibility: tesseract's character accuracy (1 - edit distance / length
  against the printed text) on the dots and through the scanner model,
  enlarged to 600 dpi;
- flat-grey structure: the standard deviation, in grey levels, of a patch's
  dots blurred as for the tone (what is left is low-frequency structure:
  worms, seams, beats; an even dot pattern blurs to a flat grey); mean over
  the patches and the worst patch.

Usage: quality.py BUILD_DIR [--out FILE] [--work DIR] [--methods 0,3,11]
                  [--parts codes,text,photos,scaled,greys] [--check]
(prints the Markdown section; a subset of methods or parts for a quick look;
--check only checks that the programs the parts run are installed)
"""
import argparse
import hashlib
import io
import os
import shutil
import struct
import subprocess
import sys
import time

try:
    import numpy as np
    from PIL import Image
except ImportError as e:
    sys.exit("quality: %s: it needs Debian's python3-numpy and python3-pil (run it with /usr/bin/python3)" % e)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
METHODS = ["threshold", "Floyd-Steinberg", "ordered Bayer 4x4", "Burkes", "Stucki", "Jarvis-Judice-Ninke",
           "Sierra", "Stevenson-Arce", "ordered, generated 4x4", "ordered Bayer 8x8", "16x16 screen",
           "edge-keeping (default)"]
PAGE = "w283h142"                 # 100 x 50 mm
PAGE_MM = (283.46 / 72 * 25.4, 141.73 / 72 * 25.4)
PICTURE_MM = (95.0, 45.0)         # pictures stay inside the page (imagetoraster would split it)
SCAN_DPI = 150
SCAN_BLUR_MM = 0.1
TONE_BLUR_MM = 0.25
HDR = 4 + 1796
OFF_WIDTH, OFF_HEIGHT, OFF_BPL = 372, 376, 392

CODES = [
    # name, generator, data, text expected from the decoder, 1D
    ("Code128", "code128", "dotforge-22", "dotforge-22", True),
    ("Code39", "code39", "DF22", "DF22", True),
    ("EAN-13", "ean13", "590123412345", "5901234123457", True),
    ("QR", "qr", "https://example.com/dotforge/22", "https://example.com/dotforge/22", False),
    ("DataMatrix", "dm", "DOTFORGE 22 LABEL", "DOTFORGE 22 LABEL", False),
]
# Module sizes: vector pages in mm, pictures in the picture's pixels.
VECTOR_MM = {True: [0.25, 0.33, 0.5], False: [0.25, 0.375, 0.5]}
PICTURE_PX = {203: {True: [2.0, 2.5, 3.3], False: [2.0, 2.5, 3.5]},
              300: {True: [3.0, 3.7, 5.0], False: [3.0, 3.7, 5.0]}}
TEXT_LINES = [(6, "6 pt: Pack my box with five dozen liquor jugs 0123456789"),
              (7, "7 pt: Sphinx of black quartz, judge my vow. 42 x 17"),
              (8, "8 pt: The quick brown fox jumps over the lazy dog"),
              (9, "9 pt: Batch 2026-12 / Lot 5541 / Best before 04.2027"),
              (10, "10 pt: Thermal label printing with dotforge")]


# The programs each part runs, with the Debian package that has them.
TOOLS = {
    "all": [("cupsfilter", "cups"), ("gs", "ghostscript")],
    "codes": [("barcode", "barcode"), ("qrencode", "qrencode"), ("dmtxwrite", "dmtx-utils"),
              ("dmtxread", "dmtx-utils"), ("zbarimg", "zbar-tools")],
    "text": [("tesseract", "tesseract-ocr")],
    "photos": [],
    "scaled": [("barcode", "barcode"), ("qrencode", "qrencode"), ("zbarimg", "zbar-tools")],
    "greys": [],
}


def missing_tools(parts):
    """'program (package)' for every program the parts run that is not installed."""
    out = []
    for part in ["all"] + sorted(parts):
        for prog, pkg in TOOLS[part]:
            name = "%s (%s)" % (prog, pkg)
            if not shutil.which(prog) and name not in out:
                out.append(name)
    return out


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, **kw).stdout


# ---- the codes' modules -------------------------------------------------------------------

def modules(gen, data, work):
    """The code as rows of modules, 1 = dark."""
    if gen == "qr":
        im = Image.open(io.BytesIO(sh(["qrencode", "-s", "1", "-m", "0", "-o", "-", data]))).convert("RGBA")
        return (np.asarray(im.convert("L")) < 128).astype(np.uint8)
    if gen == "dm":
        png = os.path.join(work, "dm-modules.png")
        sh(["dmtxwrite", "-d", "1", "-m", "1", "-o", png], input=data.encode())
        a = (np.asarray(Image.open(png).convert("L")) < 128).astype(np.uint8)
        return a[1:-1, 1:-1]
    extra = ["-c"] if gen == "code39" else []
    eps = sh(["barcode", "-e", gen, "-b", data, "-n", "-E"] + extra).decode()
    widths = ""
    lines = eps.splitlines()
    for i, line in enumerate(lines):
        if "space/bar succession" in line:
            widths = lines[i + 1].lstrip("% ").strip()
            break
    row = []
    for k, ch in enumerate(widths):
        n = int(ch) if ch.isdigit() else ord(ch) - ord("a") + 1
        row += [k % 2] * n  # spaces first
    row = np.array(row, dtype=np.uint8)
    nz = np.nonzero(row)[0]
    return row[nz[0]:nz[-1] + 1][None, :]


def quiet(is1d):
    return 10 if is1d else 4


def vector_page(mods, is1d, module_mm, out):
    """A PDF page of PAGE with the code centred, one rectangle per dark run."""
    rows, cols = mods.shape
    bar_h = 12.0
    w = cols * module_mm
    h = bar_h if is1d else rows * module_mm
    x0 = (PAGE_MM[0] - w) / 2
    y0 = (PAGE_MM[1] - h) / 2
    ps = ["%!PS", "/mm { 72 mul 25.4 div } def", "<< /PageSize [283.46 141.73] >> setpagedevice", "0 setgray"]
    for r in range(rows):
        c = 0
        while c < cols:
            if mods[r, c]:
                e = c
                while e < cols and mods[r, e]:
                    e += 1
                rh = bar_h if is1d else module_mm
                top = y0 + (0 if is1d else r * module_mm)
                ps.append("%.4f mm %.4f mm %.4f mm %.4f mm rectfill" %
                          (x0 + c * module_mm, PAGE_MM[1] - top - rh, (e - c) * module_mm, rh))
                c = e
            else:
                c += 1
    ps.append("showpage")
    psf = out + ".ps"
    open(psf, "w").write("\n".join(ps) + "\n")
    sh(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite", "-sOutputFile=" + out, psf])


def picture_page(mods, is1d, module_px, dpi, out):
    """A grey PNG of PICTURE_MM at dpi with the code centred, its module edges
    anti-aliased (each pixel the share of it a module covers)."""
    ss = 8
    W = int(round(PICTURE_MM[0] / 25.4 * dpi))
    H = int(round(PICTURE_MM[1] / 25.4 * dpi))
    rows, cols = mods.shape
    bar_h = 12.0 / 25.4 * dpi
    w = cols * module_px
    h = bar_h if is1d else rows * module_px
    # A fractional start as well, so that even whole-pixel modules can land between pixels.
    x0 = (W - w) / 2 + 0.35
    y0 = (H - h) / 2 + 0.35
    big = np.zeros((H * ss, W * ss), dtype=np.uint8)
    xs = np.round((x0 + np.arange(cols + 1) * module_px) * ss).astype(int)
    ys = np.round((y0 + np.arange(rows + 1) * (module_px if not is1d else bar_h)) * ss).astype(int)
    for r in range(rows):
        for c in range(cols):
            if mods[r, c]:
                big[ys[r]:ys[r + 1], xs[c]:xs[c + 1]] = 1
    cover = big.reshape(H, ss, W, ss).mean(axis=(1, 3))
    grey = np.round(255 * (1 - cover)).astype(np.uint8)
    Image.fromarray(grey, "L").save(out, dpi=(dpi, dpi))


# ---- pages through CUPS and the filter -------------------------------------------------------

def raster_of(ppd, doc, extra, out):
    with open(out, "wb") as f:
        f.write(sh(["cupsfilter", "-p", ppd, "-m", "application/vnd.cups-raster", "-o", "PageSize=" + PAGE] +
                   extra + [doc]))


def raster_grey(path):
    """The first page of a cups raster (8-bit grey) as an array."""
    d = open(path, "rb").read()
    w = struct.unpack_from("<I", d, 4 + OFF_WIDTH)[0]
    h = struct.unpack_from("<I", d, 4 + OFF_HEIGHT)[0]
    bpl = struct.unpack_from("<I", d, 4 + OFF_BPL)[0]
    return np.frombuffer(d[HDR:HDR + bpl * h], dtype=np.uint8).reshape(h, bpl)[:, :w]


def filter_env(ppd):
    """The filter's environment: its PPD, and a sanitizer build's settings."""
    env = {k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")}
    env["PPD"] = ppd
    return env


def dots(build, ppd, ras, method, work, options=""):
    """The printer's dots for one method: 0 black, 255 white."""
    stream = os.path.join(work, "stream.tspl")
    with open(stream, "wb") as f:
        f.write(sh([os.path.join(build, "dotforge"), "1", "bench", "quality", "1",
                    ("ImageFilter=%d " % method) + options, ras],
                   env=filter_env(ppd)))
    prefix = os.path.join(work, "dots")
    sh([os.path.join(build, "tools", "dotforge-preview"), "-o", prefix, stream])
    return np.asarray(Image.open(prefix + "-1.png").convert("L"))


def gauss(a, sigma):
    """Gaussian blur (float), edges repeated."""
    r = max(1, int(3 * sigma + 0.5))
    k = np.exp(-0.5 * (np.arange(-r, r + 1) / sigma) ** 2)
    k /= k.sum()
    a = a.astype(np.float64)
    for axis in (0, 1):
        p = np.pad(a, [(r, r) if i == axis else (0, 0) for i in range(2)], mode="edge")
        n = a.shape[axis]
        a = sum(k[i] * (p[i:i + n] if axis == 0 else p[:, i:i + n]) for i in range(2 * r + 1))
    return a


def scanned(img, dpi):
    """The scanner model: blur, then resample to SCAN_DPI."""
    b = gauss(img, SCAN_BLUR_MM / 25.4 * dpi)
    im = Image.fromarray(np.clip(np.round(b), 0, 255).astype(np.uint8), "L")
    f = SCAN_DPI / dpi
    return np.asarray(im.resize((max(1, int(im.width * f)), max(1, int(im.height * f))), Image.BILINEAR))


_decoded = {}


def decodes(img, gen, expect, work):
    key = (hashlib.sha1(img.tobytes()).hexdigest(), img.shape, gen)
    if key in _decoded:
        return _decoded[key]
    png = os.path.join(work, "decode.png")
    Image.fromarray(img, "L").save(png)
    if gen == "dm":
        p = subprocess.run(["dmtxread", "-N", "1", "-m", "4000", png], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL)
        found = p.stdout.decode(errors="replace").strip().splitlines()
    else:
        p = subprocess.run(["zbarimg", "-q", "--raw", png], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        found = p.stdout.decode(errors="replace").strip().splitlines()
    ok = expect in found
    _decoded[key] = ok
    return ok


# ---- text ---------------------------------------------------------------------------------

def text_ps(out, w_mm, h_mm):
    ps = ["%!PS", "/mm { 72 mul 25.4 div } def",
          "<< /PageSize [%.2f %.2f] >> setpagedevice" % (w_mm / 25.4 * 72, h_mm / 25.4 * 72), "0 setgray"]
    y = h_mm - 6
    for pt, line in TEXT_LINES:
        ps.append("/Helvetica findfont %d scalefont setfont 4 mm %.2f mm moveto (%s) show" % (pt, y, line))
        y -= pt * 0.3528 * 1.6 + 1.5
    ps.append("showpage")
    open(out, "w").write("\n".join(ps) + "\n")


def levenshtein(a, b):
    prev = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        cur = [i]
        for j, cb in enumerate(b, 1):
            cur.append(min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (ca != cb)))
        prev = cur
    return prev[-1]


_ocr = {}


def ocr_accuracy(img, work, dpi=203):
    """Character accuracy of tesseract on img (of dpi), enlarged to about 600 dpi."""
    key = (hashlib.sha1(img.tobytes()).hexdigest(), img.shape)
    if key in _ocr:
        return _ocr[key]
    png = os.path.join(work, "ocr.png")
    im = Image.fromarray(img, "L")
    f = 600.0 / dpi
    im.resize((int(im.width * f), int(im.height * f)), Image.BILINEAR).save(png, dpi=(600, 600))
    got = subprocess.run(["tesseract", png, "-", "--psm", "6"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL).stdout.decode(errors="replace")
    got = " ".join(got.split())
    truth = " ".join(line for _, line in TEXT_LINES)
    acc = max(0.0, 1 - levenshtein(got, truth) / len(truth))
    _ocr[key] = acc
    return acc


# ---- photos -------------------------------------------------------------------------------

def photos(dpi):
    W = int(round(PICTURE_MM[0] / 25.4 * dpi))
    H = int(round(PICTURE_MM[1] / 25.4 * dpi))
    y, x = np.mgrid[0:H, 0:W].astype(np.float64)
    rng = np.random.default_rng(22)
    # A portrait: light background ramp into near white, a shaded face, dark
    # hair with a hard edge, a bright highlight.
    bg = 205 + 48 * x / W
    face = ((x - 0.45 * W) / (0.17 * W)) ** 2 + ((y - 0.55 * H) / (0.38 * H)) ** 2
    p1 = np.where(face < 1, 150 + 70 * (1 - face) - 30 * (x - 0.45 * W) / W, bg)
    hair = (((x - 0.45 * W) / (0.2 * W)) ** 2 + ((y - 0.35 * H) / (0.3 * H)) ** 2 < 1) & (y < 0.3 * H)
    p1 = np.where(hair, 25 + 15 * np.sin(x / 3.0), p1)
    p1 += 60 * np.exp(-(((x - 0.5 * W) / 12) ** 2 + ((y - 0.5 * H) / 8) ** 2))
    p1 += rng.normal(0, 4, p1.shape)
    # A landscape: sky ramp to near white, a sun, textured hills, a black tree.
    p2 = 170 + 80 * y / (0.5 * H)
    p2 = np.where(((x - 0.8 * W) ** 2 + (y - 0.2 * H) ** 2) < (0.06 * H) ** 2, 254, p2)
    ridge = 0.5 * H + 0.08 * H * np.sin(x / W * 7) + 0.04 * H * np.sin(x / W * 23)
    hills = 70 + 60 * (y - ridge) / H + 25 * np.sin(x / 5.0) * np.sin(y / 7.0)
    p2 = np.where(y > ridge, hills, p2)
    tree = (np.abs(x - 0.25 * W) < 0.012 * W) & (y > 0.3 * H)
    tree |= ((x - 0.25 * W) ** 2 + (y - 0.3 * H) ** 2) < (0.12 * H) ** 2
    p2 = np.where(tree, 8, p2)
    p2 += rng.normal(0, 5, p2.shape)
    return [("portrait", np.clip(p1, 0, 255).astype(np.uint8)), ("landscape", np.clip(p2, 0, 255).astype(np.uint8))]


# ---- scaled codes and flat greys ------------------------------------------------------------

SCALED_LABELS = [("50x30 mm", "w142h85"), ("4x6 in", "w288h432")]
QR_PX = [2, 3, 4, 5]
C128_DPI = {150: 2, 300: 4}   # module pixels: about 0.34 mm
GREYS = [5, 15, 25, 35, 50, 65, 75, 85, 95]


def fitted_raster(ppd, doc, page, out):
    with open(out, "wb") as f:
        f.write(sh(["cupsfilter", "-p", ppd, "-m", "application/vnd.cups-raster", "-o", "PageSize=" + page, doc]))


def scaled_pages(ppd, work):
    """(source, code, generator, expected text, ras): codes fitted to labels by CUPS."""
    w = lambda name: os.path.join(work, name)
    docs = []
    data = "https://example.com/dotforge/30"
    for px in QR_PX:
        png = w("scaled-qr-%dpx.png" % px)
        sh(["qrencode", "-s", str(px), "-m", "4", "-o", png, data])
        docs.append(("QR %d px" % px, "QR", "qr", data, png))
    mods = modules("code128", "DF30-2026-0042", work)[0]
    for dpi, px in C128_DPI.items():
        row = np.repeat(np.pad(mods, 10), px)
        a = np.tile(np.where(row == 1, 0, 255).astype(np.uint8), (int(0.5 * dpi), 1))
        a = np.pad(a, ((px * 10, px * 10), (0, 0)), constant_values=255)
        png = w("scaled-c128-%ddpi.png" % dpi)
        Image.fromarray(a, "L").save(png, dpi=(dpi, dpi))
        docs.append(("Code128 %d dpi" % dpi, "Code128", "code128", "DF30-2026-0042", png))
    pages = []
    for label, page in SCALED_LABELS:
        for src, name, gen, expect, png in docs:
            ras = "%s-%s.ras" % (png, page)
            fitted_raster(ppd, png, page, ras)
            pages.append(("%s on %s" % (src, label), name, gen, expect, ras))
    return pages


def grey_structure(build, ppd, work, methods):
    """Per method: mean and (worst, its % ink) structure of flat grey patches."""
    mm = 12.0
    side = int(round(mm / 25.4 * 203))
    gap = side // 3
    # Rows of at most five patches: nine in a row would run off the page.
    cols = 5
    rows = (len(GREYS) + cols - 1) // cols
    a = np.full((rows * (side + gap) + gap, cols * (side + gap) + gap), 255, dtype=np.uint8)
    for i, g in enumerate(GREYS):
        x, y = gap + (i % cols) * (side + gap), gap + (i // cols) * (side + gap)
        a[y:y + side, x:x + side] = int(round(255 * (1 - g / 100.0)))
    png = os.path.join(work, "greys.png")
    Image.fromarray(a, "L").save(png, dpi=(203, 203))
    ras = png + ".ras"
    raster_of(ppd, png, ["-o", "ppi=203"], ras)
    grey = raster_grey(ras)
    sigma = TONE_BLUR_MM / 25.4 * 203
    m0 = int(np.ceil(3 * sigma)) + 2  # patch margin the blur reaches across
    out = {}
    for m in methods:
        d = dots(build, ppd, ras, m, work, "zeMediaTracking=Continuous")[:grey.shape[0], :grey.shape[1]]
        b = gauss(d, sigma)
        excess = []
        for g in GREYS:
            lvl = int(round(255 * (1 - g / 100.0)))
            ys, xs = np.nonzero(grey == lvl)
            if len(ys) == 0:
                continue
            y0, y1, x0, x1 = ys.min() + m0, ys.max() - m0, xs.min() + m0, xs.max() - m0
            excess.append((float(b[y0:y1, x0:x1].std()), g))
        out[m] = (sum(e for e, _ in excess) / len(excess), max(excess))
    return out


# ---- the run ------------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--out", help="write the Markdown section here (else print it)")
    ap.add_argument("--methods", default=",".join(str(m) for m in range(12)))
    ap.add_argument("--parts", default="codes,text,photos,scaled,greys")
    ap.add_argument("--work", help="scratch directory (default BUILD_DIR/bench-quality)")
    ap.add_argument("--check", action="store_true", help="only check that the parts' programs are installed")
    args = ap.parse_args()
    methods = [int(m) for m in args.methods.split(",")]
    parts = set(args.parts.split(","))
    unknown = sorted(parts - set(TOOLS) - {"all"}) + [str(m) for m in methods if not 0 <= m < len(METHODS)]
    if unknown:
        sys.exit("quality: no such part or method: %s" % ", ".join(unknown))
    lacking = missing_tools(parts)
    if lacking:
        sys.exit("quality: not installed: %s (`make bench` installs them)" % ", ".join(lacking))
    if args.check:
        return
    build = os.path.abspath(args.build)
    work = os.path.abspath(args.work) if args.work else os.path.join(build, "bench-quality")
    os.makedirs(work, exist_ok=True)
    ppd203 = os.path.join(build, "ppd", "dotforge-tspl-203.ppd")
    ppd300 = os.path.join(build, "ppd", "dotforge-tspl-300.ppd")
    w = lambda name: os.path.join(work, name)
    t0 = time.time()

    # Code pages: (label, code name, generator, expected text, ppd, raster, printer dpi).
    pages = []
    for name, gen, data, expect, is1d in (CODES if "codes" in parts else []):
        mods = modules(gen, data, work)
        for mm in VECTOR_MM[is1d]:
            doc = w("%s-%.3fmm.pdf" % (gen, mm))
            vector_page(mods, is1d, mm, doc)
            for ppd, dpi in ((ppd203, 203), (ppd300, 300)):
                ras = doc + "-%d.ras" % dpi
                raster_of(ppd, doc, [], ras)
                pages.append(("PDF, %d dpi printer" % dpi, name, gen, expect, ppd, ras, dpi))
        for pdpi in (203, 300):
            for px in PICTURE_PX[pdpi][is1d]:
                doc = w("%s-%d-%.1fpx.png" % (gen, pdpi, px))
                picture_page(mods, is1d, px, pdpi, doc)
                ras = doc + ".ras"
                raster_of(ppd203, doc, ["-o", "ppi=%d" % pdpi], ras)
                pages.append(("PNG %d dpi" % pdpi, name, gen, expect, ppd203, ras, 203))
    if "scaled" in parts:
        for src, name, gen, expect, ras in scaled_pages(ppd203, work):
            pages.append((src, name, gen, expect, ppd203, ras, 203))
    sources = []
    for p in pages:
        if p[0] not in sources:
            sources.append(p[0])

    full = {m: {} for m in methods}
    scan = {m: {} for m in methods}
    for m in methods:
        for src, name, gen, expect, ppd, ras, dpi in pages:
            img = dots(build, ppd, ras, m, work)
            full[m][(src, name, ras)] = decodes(img, gen, expect, work)
            scan[m][(src, name, ras)] = decodes(scanned(img, dpi), gen, expect, work)
        print("codes, method %d: %d/%d full, %d/%d scanned" %
              (m, sum(full[m].values()), len(pages), sum(scan[m].values()), len(pages)), file=sys.stderr, flush=True)

    # Text.
    text = {m: {} for m in methods}
    if "text" in parts:
        text_ps(w("text.ps"), *PAGE_MM)
        sh(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite", "-sOutputFile=" + w("text.pdf"),
            w("text.ps")])
        raster_of(ppd203, w("text.pdf"), [], w("text-pdf.ras"))
        text_ps(w("text-pic.ps"), *PICTURE_MM)
        sh(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pnggray", "-r300", "-dTextAlphaBits=4",
            "-dGraphicsAlphaBits=4", "-sOutputFile=" + w("text.png"), w("text-pic.ps")])
        raster_of(ppd203, w("text.png"), ["-o", "ppi=300"], w("text-png.ras"))
        for m in methods:
            for src, ras in (("PDF", w("text-pdf.ras")), ("PNG 300 dpi", w("text-png.ras"))):
                d = dots(build, ppd203, ras, m, work)
                text[m][src] = (ocr_accuracy(d, work), ocr_accuracy(scanned(d, 203), work, SCAN_DPI))

    # Photos.
    tone = {m: {} for m in methods}
    for pname, arr in (photos(203) if "photos" in parts else []):
        png = w("photo-%s.png" % pname)
        Image.fromarray(arr, "L").save(png, dpi=(203, 203))
        raster_of(ppd203, png, ["-o", "ppi=203"], png + ".ras")
        grey = raster_grey(png + ".ras")
        gb = gauss(grey, TONE_BLUR_MM / 25.4 * 203)
        for m in methods:
            # On continuous media the label is the picture itself, dot for dot.
            d = dots(build, ppd203, png + ".ras", m, work, "zeMediaTracking=Continuous")
            d = d[:grey.shape[0], :grey.shape[1]]
            tone[m][pname] = float(np.mean(np.abs(gauss(d, TONE_BLUR_MM / 25.4 * 203) - gb)))

    greys = grey_structure(build, ppd203, work, methods) if "greys" in parts else {}

    elapsed = time.time() - t0
    section = report(methods, pages, sources, full, scan, text, tone, greys, elapsed)
    if args.out:
        open(args.out, "w").write(section)
    else:
        print(section)


def report(methods, pages, sources, full, scan, text, tone, greys, elapsed):
    out = []
    add = out.append
    n = len(pages)
    per_src = {s: sum(1 for p in pages if p[0] == s) for s in sources}
    add("## Quality\n")
    add("Made by `make bench` (bench/quality.py, %.0f s). Corpus, made anew on each run: Code128, Code39 and "
        "EAN-13 (GNU barcode), QR (qrencode) and DataMatrix (dmtxwrite) at three module sizes each (vector: "
        "0.25, 0.33 and 0.5 mm for bars, 0.25, 0.375 and 0.5 mm for matrix codes; pictures: 2, 2.5 and 3.3-3.5 "
        "pixels at 203 dpi, 3, 3.7 and 5 pixels at 300 dpi, module edges anti-aliased) on a 100 x 50 mm label, "
        "as vector PDF through cupsfilter for the 203 and the 300 dpi TSPL PPDs and as PNG pictures through "
        "cupsfilter (imagetoraster; the 300 dpi ones scaled to 203 dpi). Scaled codes, as users print them: QR "
        "PNGs at 2 to 5 pixels per module (qrencode) and Code128 PNGs of 150 and 300 dpi (pure black and white), "
        "fitted by cupsfilter with no options to a 50 x 30 mm and a 4 x 6 in label of the 203 dpi TSPL PPD, so "
        "that CUPS's interpolation makes every module edge a grey ramp up to a dozen dots wide. %d code pages in "
        "all. Every page goes through the filter with each method and back to the printer's dots with "
        "dotforge-preview. CUPS renders the vector pages without anti-aliasing, so their rasters are pure black "
        "and white and every method prints them alike; the pictures bring the grey edges.\n"
        % (elapsed, n))
    add("Codes: decoded by zbarimg (dmtxread for DataMatrix) on the dots at full resolution, and through a "
        "scanner model (Gaussian blur of sigma %.2f mm, then resampled to %d dpi). Photos: mean absolute "
        "difference in grey levels between the dots and the grey page the filter was given, both blurred by a "
        "Gaussian of sigma %.2f mm (the eye at reading distance); the two pictures are generated (a portrait-like "
        "and a landscape-like scene, with highlights near white and hard dark edges). Text: 6 to 10 pt Helvetica, "
        "as vector PDF and as an anti-aliased 300 dpi picture; legibility is tesseract's character accuracy "
        "(1 - edit distance / length of the printed text) on the dots, and on what the scanner model makes of "
        "them, enlarged to 600 dpi: what a reader (or a machine) gets back from the label. Flat greys: patches "
        "of %s %% ink, 12 mm square; structure is the standard deviation (grey levels) of a patch's dots after "
        "the tone blur: an even dot pattern blurs to a flat grey, what is left is low-frequency structure "
        "(worms, seams); mean over the patches and the worst one (threshold prints no dots there: 0).\n"
        % (SCAN_BLUR_MM, SCAN_DPI, TONE_BLUR_MM, ", ".join(str(g) for g in GREYS)))
    na = lambda d, k, f: f(d[k]) if k in d else "-"
    add("| method | codes, full resolution | codes, scanned | " +
        " | ".join("%s (full / scanned)" % s for s in sources) +
        " | photo tone error, portrait | landscape | text accuracy, PDF (full / scanned) | "
        "text, PNG 300 dpi (full / scanned) | flat-grey structure, mean | worst (at % ink) |")
    add("|---|---:|---:|" + "---:|" * len(sources) + "---:|---:|---:|---:|---:|---:|")
    for m in methods:
        cells = ["%d %s" % (m, METHODS[m]), "%d/%d" % (sum(full[m].values()), n),
                 "%d/%d" % (sum(scan[m].values()), n)]
        for s in sources:
            f = sum(v for k, v in full[m].items() if k[0] == s)
            c = sum(v for k, v in scan[m].items() if k[0] == s)
            cells.append("%d / %d of %d" % (f, c, per_src[s]))
        cells += [na(tone[m], "portrait", lambda v: "%.2f" % v), na(tone[m], "landscape", lambda v: "%.2f" % v),
                  na(text[m], "PDF", lambda a: "%.1f%% / %.1f%%" % tuple(100 * x for x in a)),
                  na(text[m], "PNG 300 dpi", lambda a: "%.1f%% / %.1f%%" % tuple(100 * x for x in a)),
                  na(greys, m, lambda g: "%.2f" % g[0]), na(greys, m, lambda g: "%.2f (%d %%)" % g[1])]
        add("| " + " | ".join(cells) + " |")
    # The default against threshold and Burkes.
    if 0 in methods and 11 in methods:
        missed = [k for k in full[0] if full[0][k] and not full[11][k]]
        missed += [k for k in scan[0] if scan[0][k] and not scan[11][k]]
        add("\nEdge-keeping against threshold: %s." %
            ("it decodes every code that threshold decodes, at full resolution and scanned" if not missed
             else "codes threshold decodes and it does not: " +
             ", ".join("%s %s" % (k[0], os.path.basename(k[2])) for k in missed)))
    if 3 in methods and 11 in methods and tone[3]:
        ratio = max(tone[11][p] / tone[3][p] for p in tone[3])
        add("Its photo tone error is at most %.2fx Burkes's (target: at most 1.10x)." % ratio)
    if 3 in methods and 11 in methods and greys:
        add("Its flat-grey structure: mean %.2f, worst %.2f, against Burkes's %.2f and %.2f (target: no more)."
            % (greys[11][0], greys[11][1][0], greys[3][0], greys[3][1][0]))
    return "\n".join(out) + "\n"


if __name__ == "__main__":
    main()
