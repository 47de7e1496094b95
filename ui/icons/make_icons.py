#!/usr/bin/env python3
"""Draws the program's icons and writes them as 16-colour .ico files.

    python3 ui/icons/make_icons.py [--preview DIR]

Each image is drawn on a small canvas in the standard 16-colour palette
from filled polygons, discs, rings and lines, then gets a dark outline.
The .ico files are written beside this script; with --preview, PNG
copies enlarged eight times go into DIR for a look at the pixels.

    program.ico      103  a sheet of paper with an eraser lying on it (32 and 16)
    recycle_bin.ico  110  a recycle bin with green arrows
    folder.ico       111  a closed yellow folder
    open.ico         116  an open folder with a curved arrow (Open button)
    help.ico         117  a red question mark (Help button)

The Open and Help buttons are only 20 pixels high inside, so those
two images are drawn in rows 8 to 23 and then moved up a row, into the
middle of the 20 rows that such a button shows (rows 5 to 24).
Only the Python standard library is used."""
import math
import os
import struct
import sys
import zlib

# The standard 16-colour palette, in its usual order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)
CLEAR = None


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[CLEAR] * size for _ in range(size)]

    def inside(self, x, y):
        return 0 <= x < self.size and 0 <= y < self.size

    def get(self, x, y):
        return self.pixels[y][x] if self.inside(x, y) else CLEAR

    def put(self, x, y, colour):
        if self.inside(x, y):
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def fill(self, test, colour):
        """Fills every pixel whose centre passes test(x, y)."""
        for y in range(self.size):
            for x in range(self.size):
                if test(x + 0.5, y + 0.5):
                    self.pixels[y][x] = colour

    def polygon(self, points, colour):
        self.fill(lambda x, y: in_polygon(points, x, y), colour)

    def disc(self, cx, cy, r, colour):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour)

    def ring(self, cx, cy, r0, r1, a0, a1, colour):
        """A thick arc between radii r0 and r1, from angle a0 to a1 in
        degrees, counted clockwise from the right (y grows downwards)."""
        def test(x, y):
            d = math.hypot(x - cx, y - cy)
            a = math.degrees(math.atan2(y - cy, x - cx)) % 360
            return r0 <= d <= r1 and angle_between(a, a0, a1)
        self.fill(test, colour)

    def paste(self, layer):
        """Draws every drawn pixel of another canvas of the same size over
        this one."""
        for y in range(self.size):
            for x in range(self.size):
                if layer.pixels[y][x] is not CLEAR:
                    self.pixels[y][x] = layer.pixels[y][x]

    def line(self, x0, y0, x1, y1, colour):
        """A one-pixel line from (x0, y0) to (x1, y1), both ends included."""
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.put(x0, y0, colour)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def outline(self, colour, diagonal=False):
        """Gives every clear pixel that touches a drawn one the colour."""
        steps = [(1, 0), (-1, 0), (0, 1), (0, -1)]
        if diagonal:
            steps += [(1, 1), (1, -1), (-1, 1), (-1, -1)]
        edge = []
        for y in range(self.size):
            for x in range(self.size):
                if self.pixels[y][x] is CLEAR and any(
                        self.get(x + dx, y + dy) not in (CLEAR, colour) for dx, dy in steps):
                    edge.append((x, y))
        for x, y in edge:
            self.pixels[y][x] = colour

    def edge_of(self, colour, border, within=None):
        """Pixels of `colour` that touch something else get `border`:
        draws an inner outline of one region."""
        marks = []
        for y in range(self.size):
            for x in range(self.size):
                if self.pixels[y][x] != colour:
                    continue
                around = [self.get(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))]
                if any(c != colour and (within is None or c in within) for c in around):
                    marks.append((x, y))
        for x, y in marks:
            self.pixels[y][x] = border


def in_polygon(points, x, y):
    inside = False
    n = len(points)
    for i in range(n):
        x0, y0 = points[i]
        x1, y1 = points[(i + 1) % n]
        if (y0 > y) != (y1 > y):
            if x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                inside = not inside
    return inside


def angle_between(a, a0, a1):
    return (a - a0) % 360 <= (a1 - a0) % 360


# ---------------------------------------------------------------- drawings

def sheet_with_eraser(size):
    """103: a sheet of paper with lines of text and a folded corner, and an
    eraser lying across it that has wiped the ends of the lower lines."""
    if size == 16:
        return small_sheet()
    c = Canvas(32)
    c.polygon([(3, 1), (18, 1), (25, 8), (25, 30), (3, 30)], WHITE)
    c.polygon([(18, 1), (18, 8), (25, 8)], SILVER)
    c.line(18, 1, 18, 8, GREY)
    c.line(18, 8, 25, 8, GREY)
    for y, x1 in ((5, 15), (8, 15), (11, 21), (14, 21), (17, 13), (20, 9), (23, 7)):
        c.rect(6, y, x1, y, NAVY if y < 16 else GREY)
    for x, y in ((15, 17), (11, 20), (17, 15), (9, 23)):
        c.put(x, y, SILVER)                  # crumbs of the wiped lines
    c.outline(BLACK)
    c.paste(eraser(32, (9.0, 23.0), 19.0, 5.0, 3.0))
    return c


def eraser(size, corner, length, depth, height):
    """An eraser block tipped up to the right, seen a little from above: a
    red top face with a blue end, darker front and end faces, a black edge.
    corner is the back left corner of the top face."""
    c = Canvas(size)
    ox, oy = corner
    ux, uy = math.cos(math.radians(-30)), math.sin(math.radians(-30))
    vx, vy = 0.45, 0.9                      # across the top face, towards us

    def at(a, b, down=0.0):
        return (ox + ux * a + vx * b, oy + uy * a + vy * b + down)
    band = length * 0.35
    c.polygon([at(0, depth), at(band, depth), at(band, depth, height), at(0, depth, height)], NAVY)
    c.polygon([at(band, depth), at(length, depth), at(length, depth, height), at(band, depth, height)], MAROON)
    c.polygon([at(length, 0), at(length, depth), at(length, depth, height), at(length, 0, height)], MAROON)
    c.polygon([at(0, 0), at(band, 0), at(band, depth), at(0, depth)], BLUE)
    c.polygon([at(band, 0), at(length, 0), at(length, depth), at(band, depth)], RED)
    if size == 32:
        x0, y0 = at(band + 2, 1.3)
        x1, y1 = at(length - 2, 1.3)
        c.line(round(x0), round(y0), round(x1), round(y1), WHITE)     # shine
    c.outline(BLACK)
    return c


def small_sheet():
    """103 at 16 by 16: the same picture with fewer pixels."""
    c = Canvas(16)
    c.polygon([(1.5, 0.5), (9.5, 0.5), (13, 4), (13, 15), (1.5, 15)], WHITE)
    c.polygon([(9.5, 0.5), (9.5, 4), (13, 4)], SILVER)
    c.put(9, 3, GREY)
    for y, x1 in ((3, 7), (5, 10), (7, 8), (9, 4)):
        c.rect(3, y, x1, y, NAVY if y < 8 else GREY)
    c.outline(BLACK)
    c.paste(eraser(16, (3.6, 13.4), 11.0, 2.4, 1.8))
    return c


def recycle_bin():
    """110: a grey bin with a lid, and two green arrows chasing each other
    round its front."""
    c = Canvas(32)
    c.polygon([(6, 8), (26, 8), (24, 30), (8, 30)], SILVER)
    c.polygon([(22.5, 8), (26, 8), (24, 30), (21, 30)], GREY)
    c.rect(4, 5, 27, 7, SILVER)
    c.rect(4, 7, 27, 7, GREY)
    c.rect(12, 2, 19, 3, GREY)
    c.outline(BLACK)
    arrows = Canvas(32)
    cx, cy = 15.5, 19.0
    for start in (200, 20):
        arrows.ring(cx, cy, 3.0, 5.6, start, start + 112, LIME)
        curved_arrow_head(arrows, cx, cy, 4.3, start + 112, 3.4, 4.4, LIME)
    arrows.edge_of(LIME, GREEN)
    arrows.outline(GREEN)
    c.paste(arrows)
    return c


def curved_arrow_head(c, cx, cy, r, angle, half_width, reach, colour):
    """A triangular head at the clockwise end of an arc of mid radius r."""
    a = math.radians(angle)
    bx, by = cx + r * math.cos(a), cy + r * math.sin(a)
    tx, ty = -math.sin(a), math.cos(a)          # clockwise tangent
    nx, ny = math.cos(a), math.sin(a)
    tip = (bx + tx * reach, by + ty * reach)
    c.polygon([tip, (bx + nx * half_width, by + ny * half_width),
               (bx - nx * half_width, by - ny * half_width)], colour)


def closed_folder():
    """111: a closed yellow folder with its tab at the back."""
    c = Canvas(32)
    c.polygon([(3, 7), (12, 7), (14, 10), (29, 10), (29, 27), (3, 27)], OLIVE)
    c.rect(3, 11, 29, 27, YELLOW)
    c.rect(4, 12, 28, 12, WHITE)
    c.rect(4, 12, 4, 26, WHITE)
    c.rect(4, 8, 11, 8, YELLOW)
    c.rect(28, 13, 28, 26, OLIVE)
    c.rect(5, 26, 28, 26, OLIVE)
    c.outline(BLACK)
    return c


def open_folder():
    """116: an open yellow folder with a blue arrow curving up out of it and
    over to the right; in the rows that the Open button shows."""
    c = Canvas(32)
    c.polygon([(3, 14), (8, 14), (10, 16), (19, 16), (19, 23.5), (3, 23.5)], OLIVE)
    c.rect(4, 15, 7, 15, YELLOW)
    c.polygon([(6.5, 18.5), (25, 18.5), (21, 23.5), (3, 23.5)], YELLOW)
    c.line(7, 19, 23, 19, WHITE)
    c.outline(BLACK)
    arrow = Canvas(32)
    cx, cy = 19.0, 18.0
    arrow.ring(cx, cy, 4.2, 7.0, 182, 270, BLUE)
    curved_arrow_head(arrow, cx, cy, 5.6, 270, 3.8, 5.5, BLUE)
    arrow.edge_of(BLUE, NAVY)
    arrow.outline(NAVY)
    for y in range(32):                     # the arrow rises from inside
        for x in range(32):
            if y >= 18 and arrow.pixels[y][x] is not CLEAR and c.pixels[y][x] is not CLEAR:
                arrow.pixels[y][x] = CLEAR
    c.paste(arrow)
    button_rows(c)
    return c


def question_mark():
    """117: a red question mark, in the rows that the Help button shows."""
    c = Canvas(32)
    cx, cy = 16.0, 12.6
    c.ring(cx, cy, 2.0, 5.1, 180, 90, RED)        # the hook, open to the lower left
    c.polygon([(14.2, 15.5), (17.9, 15.5), (17.9, 19.2), (14.2, 19.2)], RED)
    c.disc(16.0, 22.0, 1.9, RED)
    c.edge_of(RED, MAROON)
    c.outline(BLACK)
    button_rows(c)
    return c


def button_rows(c, top=8, bottom=23, lift=1):
    """Keeps rows top to bottom only, moved up by `lift` rows."""
    kept = [row if top <= y <= bottom else [CLEAR] * c.size for y, row in enumerate(c.pixels)]
    c.pixels = kept[lift:] + [[CLEAR] * c.size for _ in range(lift)]


# ---------------------------------------------------------------- files

def ico_image(canvas):
    """One icon image: header, palette, 4-bit colour rows, 1-bit mask rows,
    bottom row first as in every bitmap."""
    n = canvas.size
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_rows, mask_rows = b"", b""
    colour_stride = ((n * 4 + 31) // 32) * 4
    mask_stride = ((n + 31) // 32) * 4
    for y in reversed(range(n)):
        row = canvas.pixels[y]
        nibbles = [0 if p is CLEAR else p for p in row]
        packed = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, n, 2))
        colour_rows += packed.ljust(colour_stride, b"\0")
        bits = 0
        for x, p in enumerate(row):
            if p is CLEAR:
                bits |= 1 << (n - 1 - x)
        mask = bits.to_bytes((n + 7) // 8, "big")
        mask_rows += mask.ljust(mask_stride, b"\0")
    return header + palette + colour_rows + mask_rows


def write_ico(path, canvases):
    images = [ico_image(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.size % 256, c.size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def write_png(path, canvas, scale=8, backdrop=(212, 208, 200)):
    n = canvas.size * scale
    rows = b""
    for y in range(n):
        row = bytearray([0])
        for x in range(n):
            p = canvas.pixels[y // scale][x // scale]
            row += bytes(backdrop if p is CLEAR else PALETTE[p])
        rows += bytes(row)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


ICONS = {
    "program": lambda: [sheet_with_eraser(32), sheet_with_eraser(16)],
    "recycle_bin": lambda: [recycle_bin()],
    "folder": lambda: [closed_folder()],
    "open": lambda: [open_folder()],
    "help": lambda: [question_mark()],
}


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    preview = argv[argv.index("--preview") + 1] if "--preview" in argv else None
    for name, draw in ICONS.items():
        canvases = draw()
        write_ico(os.path.join(here, name + ".ico"), canvases)
        if preview:
            os.makedirs(preview, exist_ok=True)
            for c in canvases:
                write_png(os.path.join(preview, "%s-%d.png" % (name, c.size)), c)


if __name__ == "__main__":
    main(sys.argv[1:])
