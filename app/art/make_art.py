#!/usr/bin/env python3
"""Draws the product's logo (logo.gif, 239 x 196, one frame, 256-colour
palette) and window icon (krv520.ico: two 32 x 32 images, 16 and 256
colours, plus krv520.png for the desktop). Standard library only, so the
artwork can be redrawn on any machine: python3 app/art/make_art.py
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


def printer_scene(w, h):
    """A thermal receipt printer with a receipt coming out of its top."""
    s = min(w / 239.0, h / 196.0)
    ox, oy = (w - 239 * s) / 2, (h - 196 * s) / 2
    sky_top, sky_bottom = (226, 238, 250), (160, 196, 232)
    body, body_dark, body_light = (58, 64, 76), (34, 38, 46), (96, 104, 120)
    paper, ink, accent = (252, 252, 248), (70, 76, 90), (214, 40, 40)

    def pixel(px, py):
        x, y = (px + 0.5 - ox) / s, (py + 0.5 - oy) / s
        colour = mix(sky_top, sky_bottom, py / max(1, h - 1))
        # soft shadow under the printer
        if ((x - 120) / 95) ** 2 + ((y - 184) / 9) ** 2 <= 1:
            colour = mix(colour, (90, 110, 140), 0.45)
        # the receipt, tilted slightly, with printed lines and a torn edge
        rx, ry = x - 0.08 * (95 - y), y
        tear = 14 + 3 * math.sin(rx * 0.9)
        if 78 <= rx <= 162 and tear <= ry <= 100:
            colour = paper
            line = (ry - 26) % 11
            if ry > 24 and line < 3 and 88 <= rx <= 88 + 62 * (0.55 + 0.45 * math.sin(ry * 1.7) ** 2):
                colour = ink
            if 28 <= ry <= 31 and 88 <= rx <= 140:
                colour = accent
        # printer body
        if rounded_box(x, y, 36, 92, 204, 178, 16):
            t = (y - 92) / 86
            colour = mix(body_light, body, min(1, t * 1.6))
            if y > 150:
                colour = mix(body, body_dark, (y - 150) / 28)
            if 66 <= x <= 174 and 96 <= y <= 104:  # paper slot
                colour = body_dark
            if rounded_box(x, y, 160, 128, 188, 140, 5):  # status lamp
                colour = (70, 200, 110)
            if rounded_box(x, y, 52, 128, 120, 136, 3):  # feed button strip
                colour = accent
        return colour

    return [[pixel(px, py) for px in range(w)] for py in range(h)]


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


def ico_image(rows, palette, bpp):
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
    and_mask = b"\x00" * (((w + 31) // 32) * 4 * h)  # fully opaque
    return header + pal + bytes(xor) + and_mask


def write_ico(path, images):
    offset = 6 + 16 * len(images)
    directory, payload = b"", b""
    for rows, palette, bpp in images:
        data = ico_image(rows, palette, bpp)
        directory += struct.pack("<BBBBHHII", 32, 32, 16 if bpp == 4 else 0, 0, 1, bpp,
                                 len(data), offset + len(payload))
        payload += data
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + directory + payload)


def write_png(path, image):
    h, w = len(image), len(image[0])
    raw = b"".join(b"\x00" + b"".join(bytes(c) for c in row) for row in image)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    logo = printer_scene(239, 196)
    logo_palette = image_palette(logo, 256)
    write_gif(os.path.join(HERE, "logo.gif"), quantise(logo, logo_palette), logo_palette)
    palette256 = cube_palette(256)
    icon = printer_scene(32, 32)
    palette16 = cube_palette(16)
    write_ico(os.path.join(HERE, "krv520.ico"),
              [(quantise(icon, palette16), palette16, 4), (quantise(icon, palette256), palette256, 8)])
    write_png(os.path.join(HERE, "krv520.png"), printer_scene(64, 64))


if __name__ == "__main__":
    main()
