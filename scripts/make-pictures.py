#!/usr/bin/env python3
"""Draws the program's pictures and writes them to resources/pictures/.

    python3 scripts/make-pictures.py [OUTPUT_DIR]

Everything is drawn here with Python's standard library (zlib and struct for
the PNG and ICO files), supersampled for smooth edges. The only outside help
is ImageMagick's `convert`, which renders the word mark of the logo from the
DejaVu Sans Bold font (Debian's fonts-dejavu-core) into a grey-level mask.

Outputs (the file names the resource script uses):
  logo.png            1276 x 418, 8-bit RGBA: the dark "Nerova" word mark
  signal-excellent.png 48 x 48, palette: green Wi-Fi symbol
  signal-good.png      48 x 48, palette: blue Wi-Fi symbol
  signal-fair.png      48 x 48, palette: lower part yellow, outer arc grey
  signal-weak.png      48 x 48, palette: grey arcs, red dot
  signal-none.png      48 x 48, palette: grey symbol struck through in red
  help-arrow.png       201 x 113, palette: red arrow pointing left, grey outline
  app.ico              16, 24, 32, 48 (32-bit DIB) and 256 (PNG) pixels
The files come out byte for byte the same on every run.
"""
import math
import os
import struct
import subprocess
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

TRANSPARENT = (0, 0, 0, 0)


def hex_colour(text, alpha=255):
    text = text.lstrip("#")
    return (int(text[0:2], 16), int(text[2:4], 16), int(text[4:6], 16), alpha)


# ---------------------------------------------------------------- rendering

def render(width, height, shade, samples=6):
    """Averages `shade(x, y)` over samples x samples points of every pixel.

    shade returns the straight (not premultiplied) RGBA colour of the topmost
    shape at a point; the average is taken premultiplied, so edges against
    transparency keep their colour."""
    step = 1.0 / samples
    offsets = [(i + 0.5) * step for i in range(samples)]
    count = samples * samples
    pixels = []
    for py in range(height):
        row = []
        for px in range(width):
            r = g = b = a = 0.0
            for oy in offsets:
                y = py + oy
                for ox in offsets:
                    cr, cg, cb, ca = shade(px + ox, y)
                    if ca:
                        r += cr * ca
                        g += cg * ca
                        b += cb * ca
                        a += ca
            if a == 0.0:
                row.append(TRANSPARENT)
                continue
            row.append((round(r / a), round(g / a), round(b / a), round(a / count)))
        pixels.append(row)
    return pixels


def scale_shade(shade, factor):
    """The same drawing for a picture `factor` times as large."""
    return lambda x, y: shade(x / factor, y / factor)


# ---------------------------------------------------------------- shapes

def in_disc(x, y, cx, cy, radius):
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def distance_to_segment(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


def distance_to_arc(x, y, cx, cy, radius, half_angle):
    """Distance to an arc of `radius` around (cx, cy), opening upwards and
    spanning half_angle radians to each side of the vertical."""
    dx, dy = x - cx, cy - y
    angle = math.atan2(dx, dy)  # 0 straight up, positive to the right
    if abs(angle) <= half_angle:
        return abs(math.hypot(dx, dy) - radius)
    side = math.copysign(half_angle, angle)
    ex = cx + radius * math.sin(side)
    ey = cy - radius * math.cos(side)
    return math.hypot(x - ex, y - ey)


class WifiSymbol:
    """The Wi-Fi symbol of the signal pictures, on a 48 x 48 grid: a dot and
    three arcs with round ends. part() tells which piece lies at a point:
    0 the dot, 1..3 the arcs from inside out, None nothing."""

    CX, CY = 24.0, 39.5
    DOT = 4.6
    HALF_ANGLE = math.radians(45)
    ARCS = ((12.0, 2.6), (20.5, 2.6), (29.0, 2.6))  # centre radius, half thickness

    def part(self, x, y):
        if in_disc(x, y, self.CX, self.CY, self.DOT):
            return 0
        for index, (radius, half) in enumerate(self.ARCS, start=1):
            if distance_to_arc(x, y, self.CX, self.CY, radius, self.HALF_ANGLE) <= half:
                return index
        return None


WIFI = WifiSymbol()

GREEN = hex_colour("2DA84F")
BLUE = hex_colour("1F7AE0")
YELLOW = hex_colour("F2B200")
GREY = hex_colour("A3A9B0")
RED = hex_colour("E0312B")
WHITE = hex_colour("FFFFFF")


def signal_shade(colours):
    """colours[i] is the colour of piece i (0 dot, 1..3 arcs)."""
    def shade(x, y):
        piece = WIFI.part(x, y)
        return TRANSPARENT if piece is None else colours[piece]
    return shade


def struck_signal_shade(x, y):
    # A red stroke from top left to bottom right, with a transparent gap
    # around it so that it reads clearly against the grey arcs.
    d = distance_to_segment(x, y, 9.0, 7.0, 40.0, 42.0)
    if d <= 2.7:
        return RED
    if d <= 4.6:
        return TRANSPARENT
    return GREY if WIFI.part(x, y) is not None else TRANSPARENT


# ---------------------------------------------------------------- arrow

ARROW_POLYGON = [  # 201 x 113, tip on the left
    (6.0, 56.5), (84.0, 6.0), (84.0, 33.0), (195.0, 33.0),
    (195.0, 80.0), (84.0, 80.0), (84.0, 107.0),
]


def inside_polygon(x, y, polygon):
    inside = False
    n = len(polygon)
    for i in range(n):
        ax, ay = polygon[i]
        bx, by = polygon[(i + 1) % n]
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            inside = not inside
    return inside


def arrow_shade(x, y):
    if not inside_polygon(x, y, ARROW_POLYGON):
        return TRANSPARENT
    n = len(ARROW_POLYGON)
    edge = min(distance_to_segment(x, y, *ARROW_POLYGON[i], *ARROW_POLYGON[(i + 1) % n])
               for i in range(n))
    return hex_colour("8C8C8C") if edge <= 5.0 else hex_colour("E62222")


# ---------------------------------------------------------------- icon

def rounded_rect_contains(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def icon_shade(x, y):
    """On a 48 x 48 grid: a blue tile with a white Wi-Fi symbol."""
    if not rounded_rect_contains(x, y, 2.0, 2.0, 46.0, 46.0, 9.0):
        return TRANSPARENT
    # The symbol a little smaller than on the signal pictures, centred on the tile.
    sx = 24.0 + (x - 24.0) / 0.78
    sy = 39.5 + (y - 37.0) / 0.78
    if WIFI.part(sx, sy) is not None:
        return WHITE
    t = (y - 2.0) / 44.0  # top to bottom: lighter to darker blue
    top, bottom = (0x3B, 0x95, 0xF0), (0x14, 0x5C, 0xC4)
    return tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)) + (255,)


# ---------------------------------------------------------------- logo

LOGO_INK = hex_colour("1C2430")


def logo_pixels(width, height):
    """The word mark as RGBA rows: ImageMagick renders the text as a mask,
    which becomes the alpha of the dark ink."""
    command = [
        "convert", "-background", "black", "-fill", "white", "-font", FONT,
        "-kerning", "6", "-size", f"{width - 80}x{height - 90}", "-gravity", "center",
        "label:Nerova", "-extent", f"{width}x{height}", "-depth", "8", "gray:-",
    ]
    mask = subprocess.run(command, check=True, capture_output=True).stdout
    if len(mask) != width * height:
        raise SystemExit(f"logo mask has {len(mask)} bytes, expected {width * height}")
    r, g, b, _ = LOGO_INK
    return [[(r, g, b, mask[y * width + x]) if mask[y * width + x] else TRANSPARENT
             for x in range(width)] for y in range(height)]


# ---------------------------------------------------------------- file formats

def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png_file(width, height, colour_type, rows, extra_chunks=()):
    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
            + b"".join(png_chunk(kind, data) for kind, data in extra_chunks)
            + png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def rgba_png(pixels):
    rows = [bytes(c for p in row for c in p) for row in pixels]
    return png_file(len(pixels[0]), len(pixels), 6, rows)


def quantise(pixels, step):
    def q(value):
        return min(255, round(value / step) * step)
    return [[TRANSPARENT if p[3] == 0 else (q(p[0]), q(p[1]), q(p[2]), q(p[3])) for p in row]
            for row in pixels]


def palette_png(pixels):
    """A palette PNG (colour type 3) with a tRNS chunk for the alpha; colours
    are quantised only as far as needed to fit 256 entries."""
    for step in (1, 2, 4, 8, 12, 16, 24, 32):
        quantised = quantise(pixels, step) if step > 1 else pixels
        # Transparent first, then the colours by first appearance.
        palette = {TRANSPARENT: 0}
        for row in quantised:
            for p in row:
                if p not in palette:
                    palette[p] = len(palette)
        if len(palette) <= 256:
            break
    else:
        raise SystemExit("too many colours for a palette picture")
    entries = sorted(palette, key=palette.get)
    plte = b"".join(bytes(e[:3]) for e in entries)
    trns = bytes(e[3] for e in entries)
    while trns and trns[-1] == 255:
        trns = trns[:-1]
    rows = [bytes(palette[p] for p in row) for row in quantised]
    chunks = [(b"PLTE", plte)] + ([(b"tRNS", trns)] if trns else [])
    return png_file(len(pixels[0]), len(pixels), 3, rows, chunks)


def dib_image(pixels):
    """A 32-bit icon image: BITMAPINFOHEADER, bottom-up BGRA, AND mask."""
    height, width = len(pixels), len(pixels[0])
    xor = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(pixels) for p in row)
    mask_stride = ((width + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + bytes(mask)


def ico_file(images):
    """images: (size, bytes) pairs; the directory then the images."""
    offset = 6 + 16 * len(images)
    directory = b""
    for size, data in images:
        dim = 0 if size >= 256 else size
        directory += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return struct.pack("<HHH", 0, 1, len(images)) + directory + b"".join(d for _, d in images)


# ---------------------------------------------------------------- main

def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "resources", "pictures")
    os.makedirs(out, exist_ok=True)

    def write(name, data):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")

    write("logo.png", rgba_png(logo_pixels(1276, 418)))
    write("signal-excellent.png", palette_png(render(48, 48, signal_shade([GREEN] * 4))))
    write("signal-good.png", palette_png(render(48, 48, signal_shade([BLUE] * 4))))
    write("signal-fair.png", palette_png(render(48, 48, signal_shade([YELLOW, YELLOW, YELLOW, GREY]))))
    write("signal-weak.png", palette_png(render(48, 48, signal_shade([RED, GREY, GREY, GREY]))))
    write("signal-none.png", palette_png(render(48, 48, struck_signal_shade)))
    write("help-arrow.png", palette_png(render(201, 113, arrow_shade, samples=4)))

    icons = []
    for size in (16, 24, 32, 48, 256):
        samples = 8 if size <= 48 else 3
        pixels = render(size, size, scale_shade(icon_shade, size / 48.0), samples)
        icons.append((size, rgba_png(pixels) if size >= 256 else dib_image(pixels)))
    write("app.ico", ico_file(icons))


if __name__ == "__main__":
    main()
