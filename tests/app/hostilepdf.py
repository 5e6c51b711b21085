#!/usr/bin/env python3
"""Small PDFs that cost a renderer far more than their size: the documents
the printer application must render within its time and memory budget.

Usage: hostilepdf.py KIND OUT.pdf
  tiling  a tiling pattern with a 0.001 pt step over the page (time)
  forms   forms nested 12 deep, each drawing the next four times (time)
  q       200,000 `q` operators in a compressed stream (memory)
"""
import sys
import zlib


def pdf(objects, out):
    """Writes OBJECTS (bodies of objects 1..n; object 1 the catalog) with
    a correct cross-reference table."""
    data = bytearray(b"%PDF-1.4\n")
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(data))
        data += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(data)
    data += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    data += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    data += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    with open(out, "wb") as f:
        f.write(data)


def stream(dictionary, content, compress=False):
    if compress:
        content = zlib.compress(content, 9)
        dictionary += b" /Filter /FlateDecode"
    return b"<< %s /Length %d >>\nstream\n" % (dictionary, len(content)) + content + b"\nendstream"


def page(resources, content, compress=False):
    """Catalog, pages, a 141.7 x 85 pt page (50 x 30 mm), its content."""
    return [b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 141.7 85] /Resources %s /Contents 4 0 R >>"
            % resources,
            stream(b"", content, compress)]


def tiling(out):
    objs = page(b"<< /Pattern << /P0 5 0 R >> >>", b"/Pattern cs /P0 scn 0 0 141.7 85 re f")
    objs.append(stream(b"/PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 0.001 0.001]"
                       b" /XStep 0.001 /YStep 0.001 /Resources << >>", b"0 g 0 0 0.0005 0.0005 re f"))
    pdf(objs, out)


def forms(out, depth=12):
    objs = page(b"<< /XObject << /X 5 0 R >> >>", b"/X Do")
    for level in range(depth):
        n = 5 + level
        if level + 1 < depth:
            draw = b"".join(b"q 1 0 0 1 %d 0 cm /X Do Q " % i for i in range(4))
            objs.append(stream(b"/Type /XObject /Subtype /Form /BBox [0 0 141.7 85]"
                               b" /Resources << /XObject << /X %d 0 R >> >>" % (n + 1), draw))
        else:
            objs.append(stream(b"/Type /XObject /Subtype /Form /BBox [0 0 141.7 85]",
                               b"0 g 0 0 10 10 re f"))
    pdf(objs, out)


def qbomb(out, count=200000):
    pdf(page(b"<< >>", b"q " * count, compress=True), out)


if __name__ == "__main__":
    kinds = {"tiling": tiling, "forms": forms, "q": qbomb}
    if len(sys.argv) != 3 or sys.argv[1] not in kinds:
        sys.exit(__doc__)
    kinds[sys.argv[1]](sys.argv[2])
