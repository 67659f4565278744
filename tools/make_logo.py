#!/usr/bin/env python3
"""Draws the program's logo, bitmap resource 131, and writes it three ways:

  res/logo_131.bmp  the BMP file (89 x 79 pixels, 8 bits per pixel,
                    256-entry colour table, rows bottom-up)
  res/logo_131.h    the same bytes as a C++ array, which the program embeds
  res/hhsync.ico    the program's icon: the same picture, square, at 16, 32
                    and 48 pixels, 32 bits per pixel
  res/hhsync-48.png, res/hhsync-128.png
                    the icon for the Linux desktop (hicolor theme), RGBA

The picture is a handheld with a screen of text lines, between two curved
arrows that go round it (the sync mark), on the grey of a dialog face. It is
drawn at 4 x 4 samples per pixel, averaged, and reduced to at most 256 colours
by median cut. Nothing here is random, so running the tool again gives the
same bytes.

Usage: tools/make_logo.py [--check] [REPO_ROOT]
  --check  compare with the files in the tree instead of writing them;
           exit status 1 when they differ.
"""

import math
import os
import struct
import sys
import zlib

WIDTH = 89
HEIGHT = 79
SAMPLES = 4  # per pixel along each axis

FACE = (192, 192, 192)
BODY_TOP = (52, 72, 104)
BODY_BOTTOM = (24, 36, 58)
BEZEL = (14, 20, 32)
SCREEN_TOP = (214, 238, 246)
SCREEN_BOTTOM = (168, 206, 224)
TEXT = (44, 70, 96)
TITLE = (200, 60, 40)
BUTTON = (150, 168, 190)
ARROW = (236, 128, 24)
ARROW_EDGE = (168, 76, 8)

# Geometry, in pixel units (floats; sample points are pixel centres).
CX, CY = 44.5, 39.5  # centre of the picture
BODY = (29.0, 7.0, 60.0, 72.0)  # left, top, right, bottom
BODY_RADIUS = 6.0
SCREEN = (33.0, 13.0, 56.0, 50.0)
ARC_RADIUS = 34.0
ARC_WIDTH = 6.0


def lerp(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def in_rounded_rect(x, y, rect, radius):
    left, top, right, bottom = rect
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_rect(x, y, rect):
    left, top, right, bottom = rect
    return left <= x <= right and top <= y <= bottom


def in_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    has_neg = d1 < 0 or d2 < 0 or d3 < 0
    has_pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (has_neg and has_pos)


def angle_of(x, y):
    """Angle of (x, y) round the centre in degrees, 0 to the right, counted
    clockwise on the screen (y grows downwards)."""
    return math.degrees(math.atan2(y - CY, x - CX)) % 360.0


def point_at(angle, radius):
    rad = math.radians(angle)
    return (CX + radius * math.cos(rad), CY + radius * math.sin(rad))


def arrow_head(angle, direction):
    """A triangle at the arc's end, pointing along the arc (direction +1 for
    clockwise)."""
    base_in = point_at(angle, ARC_RADIUS - 7.0)
    base_out = point_at(angle, ARC_RADIUS + 7.0)
    tip = point_at(angle + direction * 14.0, ARC_RADIUS)
    return base_in, base_out, tip


# The two arrows: the right one runs clockwise down the right side, the left
# one clockwise up the left side; each ends in a head.
ARCS = [(300.0, 20.0 + 360.0, +1), (120.0, 200.0, +1)]
HEADS = [arrow_head(20.0, +1), arrow_head(200.0, +1)]

TEXT_LINES = [(36.0, 21.0, 50.0, TITLE), (36.0, 27.0, 53.0, TEXT), (36.0, 32.0, 51.0, TEXT),
              (36.0, 37.0, 53.0, TEXT), (36.0, 42.0, 47.0, TEXT)]
BUTTONS = [(38.0, 61.0), (44.5, 62.5), (51.0, 61.0)]


def on_any_arc(x, y, width):
    for start, end, _ in ARCS:
        a = angle_of(x, y)
        if end > 360.0 and a < start:
            a += 360.0
        r = math.hypot(x - CX, y - CY)
        if abs(r - ARC_RADIUS) <= width / 2 and start <= a <= end:
            return True
    return False


def in_any_head(x, y, grow):
    for a, b, c in HEADS:
        if grow:
            # The outline: the same head, pushed out by about a pixel.
            mx, my = (a[0] + b[0] + c[0]) / 3, (a[1] + b[1] + c[1]) / 3
            a, b, c = [(p[0] + (p[0] - mx) * 0.12, p[1] + (p[1] - my) * 0.12) for p in (a, b, c)]
        if in_triangle(x, y, a, b, c):
            return True
    return False


def sample(x, y):
    """Colour at the point (x, y), painting the layers back to front."""
    colour = FACE
    if on_any_arc(x, y, ARC_WIDTH + 2.0) or in_any_head(x, y, True):
        colour = ARROW_EDGE
    if on_any_arc(x, y, ARC_WIDTH) or in_any_head(x, y, False):
        colour = ARROW
    # A soft shadow to the lower right of the handheld.
    shadow_rect = (BODY[0] + 2, BODY[1] + 2, BODY[2] + 2, BODY[3] + 2)
    if in_rounded_rect(x, y, shadow_rect, BODY_RADIUS) and not in_rounded_rect(
            x, y, BODY, BODY_RADIUS):
        colour = lerp(colour, (0, 0, 0), 0.35)
    if in_rounded_rect(x, y, BODY, BODY_RADIUS):
        inner = (BODY[0] + 1, BODY[1] + 1, BODY[2] - 1, BODY[3] - 1)
        if in_rounded_rect(x, y, inner, BODY_RADIUS - 1):
            t = (y - BODY[1]) / (BODY[3] - BODY[1])
            colour = lerp(BODY_TOP, BODY_BOTTOM, t)
        else:
            colour = BEZEL
    if in_rect(x, y, SCREEN):
        t = (y - SCREEN[1]) / (SCREEN[3] - SCREEN[1])
        colour = lerp(SCREEN_TOP, SCREEN_BOTTOM, t)
        for left, top, right, line_colour in TEXT_LINES:
            if in_rect(x, y, (left, top, right, top + 2.0)):
                colour = line_colour
    for bx, by in BUTTONS:
        d = math.hypot(x - bx, y - by)
        if d <= 2.6:
            colour = lerp(BUTTON, (255, 255, 255), 0.35) if y < by - 0.8 else BUTTON
    return colour


def render():
    """The picture as rows of (r, g, b), top row first."""
    rows = []
    step = 1.0 / SAMPLES
    for py in range(HEIGHT):
        row = []
        for px in range(WIDTH):
            total = [0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = sample(px + (sx + 0.5) * step, py + (sy + 0.5) * step)
                    for i in range(3):
                        total[i] += c[i]
            n = SAMPLES * SAMPLES
            row.append(tuple(int(round(t / n)) for t in total))
        rows.append(row)
    return rows


def median_cut(colours, limit):
    """Reduces a list of (colour, count) pairs to at most limit colours."""
    boxes = [colours]
    while len(boxes) < limit:
        # Split the box with the widest channel range, weighted by its count.
        best, best_score, best_channel = None, 0, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                values = [c[ch] for c, _ in box]
                score = (max(values) - min(values)) * sum(n for _, n in box)
                if score > best_score:
                    best, best_score, best_channel = i, score, ch
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda e: (e[0][best_channel], e[0]))
        total = sum(n for _, n in box)
        running, cut = 0, 1
        for j, (_, n) in enumerate(box):
            running += n
            if running * 2 >= total:
                cut = max(1, min(j + 1, len(box) - 1))
                break
        boxes.extend([box[:cut], box[cut:]])
    palette = []
    for box in boxes:
        total = sum(n for _, n in box)
        palette.append(tuple(int(round(sum(c[i] * n for c, n in box) / total)) for i in range(3)))
    return palette


def quantize(rows):
    counts = {}
    for row in rows:
        for c in row:
            counts[c] = counts.get(c, 0) + 1
    colours = sorted(counts.items())
    if len(colours) <= 256:
        palette = [c for c, _ in colours]
    else:
        palette = median_cut(colours, 256)
    palette = sorted(set(palette))
    nearest = {}
    for c in counts:
        nearest[c] = min(range(len(palette)),
                         key=lambda i: sum((palette[i][k] - c[k]) ** 2 for k in range(3)))
    indices = [[nearest[c] for c in row] for row in rows]
    palette += [(0, 0, 0)] * (256 - len(palette))
    return palette, indices


def bmp_bytes(palette, indices):
    stride = (WIDTH * 8 + 31) // 32 * 4
    pixels = bytearray()
    for row in reversed(indices):  # rows are stored bottom-up
        pixels += bytes(row) + bytes(stride - WIDTH)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + 40 + len(table)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(pixels), 2835, 2835,
                              0, 0)
    return file_header + info_header + table + bytes(pixels)


def render_square(size):
    """The picture centred in a square of size x size pixels, top row first,
    as (r, g, b, a); the dialog face around the handheld is transparent."""
    side = float(WIDTH)  # the scene's wider side
    top = (side - HEIGHT) / 2.0
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0.0, 0.0, 0.0]
            opaque = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * side / size
                    y = (py + (sy + 0.5) / SAMPLES) * side / size - top
                    c = sample(x, y)
                    if c != FACE:
                        opaque += 1
                        for i in range(3):
                            total[i] += c[i]
            n = SAMPLES * SAMPLES
            if opaque == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(t / opaque)) for t in total) +
                           (int(round(255 * opaque / n)),))
        rows.append(row)
    return rows


def ico_bytes(sizes):
    """An icon file holding the picture at each size."""
    images = []
    for size in sizes:
        rows = render_square(size)
        xor = b"".join(struct.pack("<BBBB", b, g, r, a) for row in reversed(rows)
                       for r, g, b, a in row)
        mask_stride = (size + 31) // 32 * 4
        mask = bytes(mask_stride * size)  # the alpha channel decides
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(xor) + len(mask), 0,
                             0, 0, 0)
        images.append((size, header + xor + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def png_bytes(size):
    """The picture as a PNG file of size x size pixels, 8-bit RGBA."""
    rows = render_square(size)
    raw = b"".join(b"\0" + b"".join(struct.pack("BBBB", *px) for px in row) for row in rows)

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def header_text(data):
    lines = [
        "#pragma once",
        "// The program's logo, bitmap resource 131: a BMP file image of %d x %d pixels," %
        (WIDTH, HEIGHT),
        "// 8 bits per pixel, with a 256-entry colour table (%d bytes)." % len(data),
        "//",
        "// Generated by tools/make_logo.py together with res/logo_131.bmp; do not",
        "// edit by hand, run the tool again.",
        "",
        "#include <cstdint>",
        "",
        "namespace hhsync::res {",
        "",
        "inline constexpr uint8_t kLogo131Bmp[%d] = {" % len(data),
    ]
    for i in range(0, len(data), 16):
        chunk = data[i:i + 16]
        lines.append("    " + ", ".join("0x%02x" % b for b in chunk) + ",")
    lines += ["};", "", "}  // namespace hhsync::res", ""]
    return "\n".join(lines).encode("ascii")


def main(argv):
    check = "--check" in argv
    args = [a for a in argv if a != "--check"]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    palette, indices = quantize(render())
    data = bmp_bytes(palette, indices)
    outputs = {
        os.path.join(root, "res", "logo_131.bmp"): data,
        os.path.join(root, "res", "logo_131.h"): header_text(data),
        os.path.join(root, "res", "hhsync.ico"): ico_bytes([16, 32, 48]),
        os.path.join(root, "res", "hhsync-48.png"): png_bytes(48),
        os.path.join(root, "res", "hhsync-128.png"): png_bytes(128),
    }
    differ = False
    for path, content in outputs.items():
        if check:
            try:
                with open(path, "rb") as f:
                    same = f.read() == content
            except OSError:
                same = False
            if not same:
                print("%s is out of date" % path, file=sys.stderr)
                differ = True
        else:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
