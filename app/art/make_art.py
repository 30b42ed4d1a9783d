#!/usr/bin/env python3
"""Draws the product's logo (logo.gif, 239 x 196, one frame, 256-colour
palette) and its icon from one description of the shapes: icons/ holds the
window and desktop icon in 16 to 256 px with a transparent background and as
SVG, krv520.ico the Windows icon (two 32 x 32 images, 16 and 256 colours).
Standard library only, so the artwork can be redrawn on any machine:
python3 app/art/make_art.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def clamp(v):
    return max(0, min(255, int(round(v))))


def mix(a, b, t):
    return tuple(clamp(a[i] + (b[i] - a[i]) * t) for i in range(3))


def rounded_box(x, y, left, top, right, bottom, radius):
    """Signed distance-ish test: True when (x, y) lies in the rounded box."""
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


# The artwork in scene units: the logo shows the whole 239 x 196 scene; the
# icons show the printer and its receipt without the sky, in a square.
LOGO_VIEW = (0.0, 0.0, 239.0, 196.0)
ICON_VIEW = (28.0, 6.0, 184.0, 184.0)
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

SKY_TOP, SKY_BOTTOM = (226, 238, 250), (160, 196, 232)
BODY, BODY_DARK, BODY_LIGHT = (58, 64, 76), (34, 38, 46), (96, 104, 120)
PAPER, INK, ACCENT, LAMP = (252, 252, 248), (70, 76, 90), (214, 40, 40), (70, 200, 110)
TILT = 0.08  # the receipt leans: x shifts by TILT per unit above y = 95


def tear(rx):
    return 14 + 3 * math.sin(rx * 0.9)


def ink_right(ry):
    return 88 + 62 * (0.55 + 0.45 * math.sin(ry * 1.7) ** 2)


def body_colour(y):
    colour = mix(BODY_LIGHT, BODY, min(1, (y - 92) / 86 * 1.6))
    if y > 150:
        colour = mix(BODY, BODY_DARK, (y - 150) / 28)
    return colour


def object_colour(x, y):
    """The printer and its receipt at scene point (x, y); None where the sky shows."""
    colour = None
    # the receipt, tilted slightly, with printed lines and a torn edge
    rx, ry = x - TILT * (95 - y), y
    if 78 <= rx <= 162 and tear(rx) <= ry <= 100:
        colour = PAPER
        if ry > 24 and (ry - 26) % 11 < 3 and 88 <= rx <= ink_right(ry):
            colour = INK
        if 28 <= ry <= 31 and 88 <= rx <= 140:
            colour = ACCENT
    # printer body
    if rounded_box(x, y, 36, 92, 204, 178, 16):
        colour = body_colour(y)
        if 66 <= x <= 174 and 96 <= y <= 104:  # paper slot
            colour = BODY_DARK
        if rounded_box(x, y, 160, 128, 188, 140, 5):  # status lamp
            colour = LAMP
        if rounded_box(x, y, 52, 128, 120, 136, 3):  # feed button strip
            colour = ACCENT
    return colour


def printer_scene(w, h):
    """A thermal receipt printer with a receipt coming out of its top, on a sky."""
    vx, vy, vw, vh = LOGO_VIEW
    s = min(w / vw, h / vh)
    ox, oy = (w - vw * s) / 2, (h - vh * s) / 2

    def pixel(px, py):
        x, y = (px + 0.5 - ox) / s + vx, (py + 0.5 - oy) / s + vy
        colour = mix(SKY_TOP, SKY_BOTTOM, py / max(1, h - 1))
        # soft shadow under the printer
        if ((x - 120) / 95) ** 2 + ((y - 184) / 9) ** 2 <= 1:
            colour = mix(colour, (90, 110, 140), 0.45)
        return object_colour(x, y) or colour

    return [[pixel(px, py) for px in range(w)] for py in range(h)]


def icon_image(size, grid=4):
    """The printer alone as RGBA rows: transparent around it, edges smoothed
    by sampling each pixel on a grid x grid raster."""
    vx, vy, vw, _ = ICON_VIEW
    s = size / vw
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total, hits = [0, 0, 0], 0
            for j in range(grid):
                for i in range(grid):
                    c = object_colour((px + (i + 0.5) / grid) / s + vx, (py + (j + 0.5) / grid) / s + vy)
                    if c:
                        hits += 1
                        total = [total[k] + c[k] for k in range(3)]
            if hits:
                row.append(tuple(clamp(t / hits) for t in total) + (clamp(255 * hits / grid ** 2),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def svg_points(points):
    return " ".join("%.2f,%.2f" % p for p in points)


def tilted(rx, ry):
    return rx + TILT * (95 - ry), ry


def write_svg(path):
    """The same shapes as object_colour, as a scalable icon with the icons' view."""
    receipt = [tilted(78 + i * 0.5, tear(78 + i * 0.5)) for i in range(169)]
    receipt += [tilted(162, 100), tilted(78, 100)]
    lines = []
    for k in range(7):
        top = 26 + 11 * k
        steps = [top + i * 0.25 for i in range(13)]
        edge = [tilted(ink_right(ry), ry) for ry in steps]
        edge += [tilted(88, ry) for ry in reversed(steps)]
        lines.append('<polygon fill="%s" points="%s"/>' % (hexcolour(INK), svg_points(edge)))
    accent = [tilted(88, 28), tilted(140, 28), tilted(140, 31), tilted(88, 31)]
    # body_colour as a gradient: light to body over the top 1/1.6, body, then dark below y = 150
    stops = [(0, BODY_LIGHT), (1 / 1.6, BODY), ((150 - 92) / 86, BODY), (1, BODY_DARK)]
    vx, vy, vw, vh = ICON_VIEW
    svg = [
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="%g %g %g %g">'
        % (vx, vy, vw, vh),
        '<defs><linearGradient id="body" gradientUnits="userSpaceOnUse" x1="0" y1="92" x2="0" y2="178">',
    ]
    svg += ['<stop offset="%.4f" stop-color="%s"/>' % (o, hexcolour(c)) for o, c in stops]
    svg += [
        '</linearGradient></defs>',
        '<polygon fill="%s" points="%s"/>' % (hexcolour(PAPER), svg_points(receipt)),
        *lines,
        '<polygon fill="%s" points="%s"/>' % (hexcolour(ACCENT), svg_points(accent)),
        '<rect x="36" y="92" width="168" height="86" rx="16" fill="url(#body)"/>',
        '<rect x="66" y="96" width="108" height="8" fill="%s"/>' % hexcolour(BODY_DARK),
        '<rect x="160" y="128" width="28" height="12" rx="5" fill="%s"/>' % hexcolour(LAMP),
        '<rect x="52" y="128" width="68" height="8" rx="3" fill="%s"/>' % hexcolour(ACCENT),
        '</svg>',
    ]
    with open(path, "w") as f:
        f.write("\n".join(svg) + "\n")


def hexcolour(c):
    return "#%02x%02x%02x" % c


def cube_palette(size):
    """An even colour cube padded with greys to exactly `size` entries."""
    if size == 16:
        return [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
                (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
                (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
    levels = [0, 51, 102, 153, 204, 255]
    palette = [(r, g, b) for r in levels for g in levels for b in levels]  # 216
    step = 255 / (size - len(palette) + 1)
    palette += [(clamp(i * step),) * 3 for i in range(1, size - len(palette) + 1)]
    return palette[:size]


def image_palette(image, size):
    """The image's most frequent colours, padded from the colour cube to `size`."""
    counts = {}
    for row in image:
        for c in row:
            counts[c] = counts.get(c, 0) + 1
    palette = sorted(counts, key=counts.get, reverse=True)[:size]
    for c in cube_palette(size):
        if len(palette) == size:
            break
        if c not in palette:
            palette.append(c)
    return palette


def quantise(image, palette):
    cache = {}

    def nearest(c):
        if c not in cache:
            cache[c] = min(range(len(palette)),
                           key=lambda i: sum((c[k] - palette[i][k]) ** 2 for k in range(3)))
        return cache[c]

    return [[nearest(c) for c in row] for row in image]


def gif_lzw(indices, min_code_size=8):
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    table = {bytes([i]): i for i in range(clear)}
    next_code, code_size = end + 1, min_code_size + 1
    out, bits, nbits = bytearray(), 0, 0

    def emit(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += code_size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    emit(clear)
    prefix = b""
    for i in indices:
        candidate = prefix + bytes([i])
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix])
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear)
            table = {bytes([k]): k for k in range(clear)}
            next_code, code_size = end + 1, min_code_size + 1
        prefix = bytes([i])
    emit(table[prefix])
    emit(end)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def write_gif(path, rows, palette):
    h, w = len(rows), len(rows[0])
    data = gif_lzw([i for row in rows for i in row])
    blocks = b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255))
    with open(path, "wb") as f:
        f.write(b"GIF89a" + struct.pack("<HHBBB", w, h, 0xF7, 0, 0))  # 256-entry global table
        f.write(b"".join(bytes(c) for c in palette))
        f.write(b"," + struct.pack("<HHHHB", 0, 0, w, h, 0) + bytes([8]) + blocks + b"\x00;")


def ico_image(rows, palette, bpp, opaque):
    h, w = len(rows), len(rows[0])
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bpp, 0, 0, 0, 0, len(palette), 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    xor = bytearray()
    for row in reversed(rows):  # bottom-up
        if bpp == 8:
            line = bytes(row)
        else:
            line = bytes((row[i] << 4) | row[i + 1] for i in range(0, w, 2))
        xor += line + b"\x00" * (-len(line) % 4)
    and_mask = bytearray()  # a set bit lets the desktop show through
    for mask_row in reversed(opaque):
        line = bytearray(((w + 31) // 32) * 4)
        for x, solid in enumerate(mask_row):
            if not solid:
                line[x // 8] |= 0x80 >> (x % 8)
        and_mask += line
    return header + pal + bytes(xor) + bytes(and_mask)


def write_ico(path, images):
    offset = 6 + 16 * len(images)
    directory, payload = b"", b""
    for rows, palette, bpp, opaque in images:
        data = ico_image(rows, palette, bpp, opaque)
        directory += struct.pack("<BBBBHHII", 32, 32, 16 if bpp == 4 else 0, 0, 1, bpp,
                                 len(data), offset + len(payload))
        payload += data
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + directory + payload)


def write_png(path, image):
    h, w = len(image), len(image[0])
    colour_type = 6 if len(image[0][0]) == 4 else 2
    raw = b"".join(b"\x00" + b"".join(bytes(c) for c in row) for row in image)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, colour_type, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    logo = printer_scene(239, 196)
    logo_palette = image_palette(logo, 256)
    write_gif(os.path.join(HERE, "logo.gif"), quantise(logo, logo_palette), logo_palette)

    icons = os.path.join(HERE, "icons")
    os.makedirs(icons, exist_ok=True)
    for size in ICON_SIZES:
        write_png(os.path.join(icons, "krv520-config-%d.png" % size), icon_image(size))
    write_svg(os.path.join(icons, "krv520-config.svg"))

    # The Windows icon: the 32 px image in 16 and 256 colours; half-covered
    # edge pixels count as solid.
    icon = icon_image(32)
    colours = [[p[:3] for p in row] for row in icon]
    opaque = [[p[3] >= 128 for p in row] for row in icon]
    palette16, palette256 = cube_palette(16), cube_palette(256)
    write_ico(os.path.join(HERE, "krv520.ico"),
              [(quantise(colours, palette16), palette16, 4, opaque),
               (quantise(colours, palette256), palette256, 8, opaque)])


if __name__ == "__main__":
    main()
